/* The Windows Installer as the repair's tests see it on Windows: copied over the
 * machine's msiexec.exe for one test, it does what scripts/demo/msiexec.sh does
 * for the stand-in. It records how it was run in %WINAPI_ROOT%\msiexec-runs.log,
 * reports the exit code MSIEXEC_EXIT_CODE asks for ("1618 1618 0": the n-th run the
 * n-th code, the last one repeating) and leaves behind what an install of the
 * Reader base package leaves: the cached package AcroRead.msi in Reader's setup
 * folder for the machine's install language. A run that reports 1618 (another
 * installation in progress) installs nothing. */
#include <windows.h>

#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string gv_runs;

void Record(const std::string &text) { std::ofstream(gv_runs, std::ios::binary | std::ios::app) << text; }

int Result(int code, const std::string &what) {
    Record("result:       " + std::to_string(code) + " (" + what + ")\n");
    return code;
}

/* This run's number, counted in a file next to the record. */
int NextRun(const std::string &root) {
    const std::string file = root + "\\msiexec-count";
    int run = 0;
    std::ifstream(file) >> run;
    std::ofstream(file, std::ios::trunc) << run + 1 << "\n";
    return run + 1;
}

int CodeOfRun(int run) {
    const char *list = getenv("MSIEXEC_EXIT_CODE");
    std::istringstream in(list != nullptr ? list : "");
    int code = 0;
    for (int n = 1, c; n <= run && in >> c; ++n) code = c;
    return code;
}

/* The install language in decimal ("0409" -> "1033"). */
std::string LanguageGroup() {
    char text[16] = {};
    DWORD size = sizeof text - 1;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Nls\\Language", "InstallLanguage",
                     RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS)
        return "1033";
    return std::to_string(strtoul(text, nullptr, 16));
}

}  // namespace

int main(int argc, char **argv) {
    const char *root = getenv("WINAPI_ROOT");
    if (root == nullptr) return 1603;
    gv_runs = std::string(root) + "\\msiexec-runs.log";
    const int code = CodeOfRun(NextRun(root));

    /* The folder in UTF-8, as the tests name folders. */
    WCHAR wide[MAX_PATH + 1] = {};
    GetCurrentDirectoryW(MAX_PATH + 1, wide);
    char directory[4 * MAX_PATH + 1] = {};
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, directory, sizeof directory, nullptr, nullptr);
    Record(std::string("command line: ") + GetCommandLineA() + "\ndirectory:    " + directory +
           "\nhost folder:  " + directory + "\n");

    std::string package;
    bool quiet = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((_stricmp(arg.c_str(), "/i") == 0 || arg == "-i") && i + 1 < argc)
            package = argv[++i];
        else if (_stricmp(arg.c_str(), "/qn") == 0 || arg == "-qn")
            quiet = true;
    }
    if (package.empty()) return Result(1639, "invalid command line");
    if (!quiet) return Result(1639, "only silent installs are supported here");
    if (GetFileAttributesA(package.c_str()) == INVALID_FILE_ATTRIBUTES)
        return Result(1619, "package cannot be opened: " + package);
    if (code == 1618) return Result(1618, "another installation is in progress");

    std::string setup = "C:\\ProgramData\\Adobe";
    CreateDirectoryA(setup.c_str(), nullptr);
    setup += "\\Setup";
    CreateDirectoryA(setup.c_str(), nullptr);
    setup += "\\{AC76BA86-7AD7-" + LanguageGroup() + "-7B44-AA1000000001}";
    CreateDirectoryA(setup.c_str(), nullptr);
    if (!CopyFileA(package.c_str(), (setup + "\\AcroRead.msi").c_str(), FALSE))
        return Result(1603, "cannot cache the package");
    Record("cached:       " + setup + "\\AcroRead.msi\n");
    return Result(code, "installed");
}
