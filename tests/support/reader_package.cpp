#include "support/reader_package.h"

#include "support/scratch_root.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <map>
#include <mutex>
#include <utility>

namespace vt_test {

std::string ReaderPackage(const std::string &group, const std::string &version) {
    static std::mutex lock;
    static std::map<std::pair<std::string, std::string>, std::string> built;
    std::lock_guard<std::mutex> guard(lock);
    const auto key = std::make_pair(group, version);
    auto it = built.find(key);
    if (it != built.end()) return it->second;

#ifdef VT_READER_PACKAGES
    /* wixl is a Linux program: on Windows the packages are made with the build. */
    const std::string bytes = ReadWholeFile(std::string(VT_READER_PACKAGES) + "/" + group + "-" + version + ".msi");
    EXPECT_FALSE(bytes.empty()) << "no package " << group << "-" << version << " was built (tests/CMakeLists.txt)";
#else
    /* wixl reads payload.dat from the folder it runs in. */
    const std::string dir = MakeTempDir("package.");
    WriteWholeFile(dir + "/payload.dat", std::string(4096, 'p'));
    const std::string output = dir + "/reader.msi";
    const ProcessResult r = RunProgram("/bin/sh", {"-c", "cd \"$1\" && exec wixl -D LanguageGroup=\"$2\" -D "
                                                         "ProductVersion=\"$3\" -o \"$4\" \"$5\"",
                                                   "sh", dir, group, version, output,
                                                   std::string(VT_SOURCE_DIR) + "/scripts/demo/reader_base.wxs"});
    std::string bytes = r.exitCode == 0 ? ReadWholeFile(output) : std::string();
    EXPECT_FALSE(bytes.empty()) << "wixl failed (" << r.exitCode << "): " << r.err;
    std::remove(output.c_str());
    std::remove((dir + "/payload.dat").c_str());
    rmdir(dir.c_str());
#endif
    if (!bytes.empty()) built[key] = bytes;
    return bytes;
}

}  // namespace vt_test
