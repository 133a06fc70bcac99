/* Fuzz target of the data-dictionary reader: any bytes are written as one
 * definition file and parsed; the definitions it yields are freed again. */
// links: vt_tamsel
// sources: src/tamsel/data_dictionary.cpp
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "tamsel/data_dictionary.h"
#include "tamsel/table_defn.h"
#include "util/locks.h"

int FuzzDataDictionaryOne(const uint8_t *data, size_t size)
{
    static const std::string path = [] {
        InitMutex();
        const char *folder = getenv("TMPDIR");
        return std::string(folder != nullptr ? folder : "/tmp") + "/fuzz_dictionary_" + std::to_string(getpid()) + ".xml";
    }();
    FILE *file = fopen(path.c_str(), "wb");
    if (file == nullptr)
        return 0;
    fwrite(data, 1, size, file);
    fclose(file);
    LoadDataDictFromXMLFile(path.c_str());
    FreeAllTableDefns();
    remove(path.c_str());
    return 0;
}

#ifndef VT_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return FuzzDataDictionaryOne(data, size);
}
#endif
