/* The emulated machine on Windows: while the object lives, the test program's
 * calls that tell the machine's version, product, processors, adapters, host name,
 * domain and language (GetVersionExA, GetProductInfo, GetSystemInfo,
 * GetNativeSystemInfo, IsWow64Process, GetProcAddress of the optional ones,
 * GetAdaptersInfo, gethostname, NetGetJoinInformation, DsGetDcNameA, GetLocaleInfoA)
 * answer from the machine the registry describes, by the same
 * rules as the stand-in, instead of from the machine the program runs on.
 * ScratchRoot makes one for as long as it lives. Windows test programs only. */
#pragma once
#ifdef _WIN32
#include <memory>
#include <vector>

#include "support/import_patch.h"

namespace vt_test {

class EmulatedMachine {
public:
    EmulatedMachine();
    ~EmulatedMachine();
    EmulatedMachine(const EmulatedMachine &) = delete;
    EmulatedMachine &operator=(const EmulatedMachine &) = delete;

private:
    std::vector<std::unique_ptr<ImportPatch>> patches_;
};

/* The registry values the emulated machine reads that a machine may already hold,
 * as {key under HKEY_LOCAL_MACHINE, value}: a test's hive replaces them all. */
struct MachineValueName {
    const char *key;
    const char *name;
};
extern const MachineValueName kEmulatedMachineValues[];
extern const size_t kEmulatedMachineValueCount;

}  // namespace vt_test
#endif
