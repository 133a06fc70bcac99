#include "support/scratch_root.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#ifdef _WIN32
#include "winapi/winapi.h"
#include "support/emulated_machine.h"
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace vt_test {

namespace {

void RemoveTree(const std::string &path) {
    std::error_code ignored;
    fs::remove_all(fs::u8path(path), ignored);  // leaving a scratch folder behind is harmless
}

void SetEnv(const char *name, const char *value) {
#ifdef _WIN32
    _putenv_s(name, value ? value : "");
#else
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
#endif
}

std::string TempBase() {
#ifdef _WIN32
    /* The machine's own temporary folder: a host path means nothing to a Windows program. */
    char buf[MAX_PATH + 1] = {};
    DWORD n = GetTempPathA(sizeof buf, buf);
    std::string dir = n > 0 && n < sizeof buf ? std::string(buf, n) : std::string("C:\\Windows\\Temp\\");
    if (!dir.empty() && (dir.back() == '\\' || dir.back() == '/')) dir.pop_back();
    return dir + "\\vt-tests";
#else
    const char *base = std::getenv("VT_TEST_TMP");
    return base && *base ? base : "/tmp";
#endif
}

#ifdef _WIN32
/* Keys a test wrote through WriteHive or made below these parents are removed again
 * when its ScratchRoot ends, so each test starts from the machine the suite began with. */
const char *const kWatchedParents[] = {"SOFTWARE", "SOFTWARE\\Wow6432Node", "SOFTWARE\\Classes\\Installer\\Products",
                                       "SYSTEM\\CurrentControlSet\\Control"};

std::vector<std::string> Subkeys(HKEY root, const std::string &path, REGSAM view) {
    std::vector<std::string> names;
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return names;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD len = sizeof name;
        if (RegEnumKeyExA(key, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.push_back(path + "\\" + name);
    }
    RegCloseKey(key);
    return names;
}

std::vector<std::string> WatchedKeys() {
    std::vector<std::string> all;
    for (const char *parent : kWatchedParents) {
        for (const std::string &k : Subkeys(HKEY_LOCAL_MACHINE, parent, KEY_WOW64_64KEY)) all.push_back("64:" + k);
        for (const std::string &k : Subkeys(HKEY_LOCAL_MACHINE, parent, KEY_WOW64_32KEY)) all.push_back("32:" + k);
    }
    return all;
}

void DeleteKey(const std::string &viewAndPath) {
    const REGSAM view = viewAndPath.compare(0, 3, "64:") == 0 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
    const std::string path = viewAndPath.substr(3);
    const size_t slash = path.rfind('\\');
    HKEY parent;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.substr(0, slash).c_str(), 0, KEY_ALL_ACCESS | view, &parent) !=
        ERROR_SUCCESS)
        return;
    HKEY key;
    if (RegOpenKeyExA(parent, path.substr(slash + 1).c_str(), 0, KEY_ALL_ACCESS | view, &key) == ERROR_SUCCESS) {
        SHDeleteKeyA(key, "");
        RegCloseKey(key);
    }
    RegDeleteKeyExA(parent, path.substr(slash + 1).c_str(), view, 0);
    RegCloseKey(parent);
}

bool KeyExists(const std::string &path) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

void DeleteValue(const std::string &path, const char *name) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    RegDeleteValueA(key, name);
    RegCloseKey(key);
}

/* The "[HKEY_LOCAL_MACHINE\...]" sections of a .reg text. */
std::vector<std::string> Sections(const std::string &text) {
    std::vector<std::string> keys;
    std::istringstream in(text);
    std::string line;
    const std::string prefix = "[HKEY_LOCAL_MACHINE\\";
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.compare(0, prefix.size(), prefix) == 0 && line.back() == ']')
            keys.push_back(line.substr(prefix.size(), line.size() - prefix.size() - 1));
    }
    return keys;
}
#endif

}  // namespace

std::string MakeTempDir(const std::string &prefix) {
    static std::mt19937_64 random{std::random_device{}() ^
                                  static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count())};
    const std::string base = TempBase();
    MakeDirs(base);
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%06llx", static_cast<unsigned long long>(random() & 0xFFFFFF));
#ifdef _WIN32
        const std::string dir = base + "\\" + prefix + suffix;
#else
        const std::string dir = base + "/" + prefix + suffix;
#endif
        std::error_code error;
        if (fs::create_directory(fs::u8path(dir), error) && !error) return dir;
    }
    ADD_FAILURE() << "could not make a temporary folder under " << base;
    return base;
}

ScratchRoot::ScratchRoot() {
    path_ = MakeTempDir("root.");
    if (const char *old = std::getenv("WINAPI_ROOT")) {
        saved_ = old;
        hadSaved_ = true;
    }
    SetEnv("WINAPI_ROOT", path_.c_str());
#ifdef _WIN32
    keysBefore_ = WatchedKeys();
    machine_.reset(new EmulatedMachine);
    ClearMachineValues();
#endif
}

ScratchRoot::~ScratchRoot() {
    SetEnv("WINAPI_ROOT", hadSaved_ ? saved_.c_str() : nullptr);
#ifdef _WIN32
    machine_.reset();
    for (const std::string &k : WatchedKeys()) {
        bool old = false;
        for (const std::string &b : keysBefore_) old = old || _stricmp(b.c_str(), k.c_str()) == 0;
        if (!old) DeleteKey(k);
    }
    for (const std::string &section : written_) {
        if (Saved(section)) continue;
        DeleteKey("64:" + section);
        DeleteKey("32:" + section);
    }
    RestoreSaved();
    for (const std::string &p : created_) RemoveTree(p);
#endif
    if (!std::getenv("VT_KEEP_ROOTS")) RemoveTree(path_);
}

void ScratchRoot::WriteHive(const std::string &body) const {
#ifdef _WIN32
    /* The machine's registry: what an earlier WriteHive of this root wrote goes first, as
     * the stand-in's hive file is replaced whole, and so do the values that describe the
     * emulated machine; the text is then imported with reg.exe. Keys the machine had
     * already are saved first and only ever get their values back. */
    RestoreSaved();
    for (const std::string &section : written_) {
        if (Saved(section)) continue;
        DeleteKey("64:" + section);
        DeleteKey("32:" + section);
    }
    const std::vector<std::string> sections = Sections(body);
    written_.insert(written_.end(), sections.begin(), sections.end());
    for (const std::string &section : sections) {
        if (!Saved(section) && KeyExists(section)) Save(section);
    }
    ClearMachineValues();
    const std::string file = path_ + "\\import.reg";
    /* reg.exe reads UTF-16 (with its mark); the fixtures are UTF-8 with "\n" line ends. */
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
    for (char c : body) text += c == '\n' ? std::string("\r\n") : std::string(1, c);
    std::wstring wide(text.size(), L'\0');
    wide.resize(static_cast<size_t>(
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], static_cast<int>(wide.size()))));
    std::string utf16 = "\xff\xfe";
    for (wchar_t w : wide) {
        utf16 += static_cast<char>(w & 0xff);
        utf16 += static_cast<char>((w >> 8) & 0xff);
    }
    WriteWholeFile(file, utf16);
    ProcessResult r = RunProgram("C:\\windows\\system32\\reg.exe", {"import", file});
    if (r.exitCode != 0) ADD_FAILURE() << "reg import failed (" << r.exitCode << "): " << r.err << r.out;
#else
    MakeDirs(path_ + "/registry");
    WriteWholeFile(path_ + "/registry/HKLM.reg", "Windows Registry Editor Version 5.00\n\n" + body);
#endif
}

#ifdef _WIN32
bool ScratchRoot::Saved(const std::string &path) const {
    for (const SavedKey &k : savedKeys_) {
        if (_stricmp(k.path.c_str(), path.c_str()) == 0) return true;
    }
    return false;
}

void ScratchRoot::Save(const std::string &path) const {
    SavedKey saved{path, {}};
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    for (DWORD i = 0;; ++i) {
        char name[16384];
        DWORD nameLength = sizeof name;
        DWORD type = 0;
        DWORD size = 0;
        if (RegEnumValueA(key, i, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        std::string data(size, '\0');
        nameLength = sizeof name;
        if (RegEnumValueA(key, i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE *>(&data[0]), &size) !=
            ERROR_SUCCESS)
            break;
        data.resize(size);
        saved.values.push_back({std::string(name, nameLength), type, data});
    }
    RegCloseKey(key);
    savedKeys_.push_back(saved);
}

void ScratchRoot::ClearMachineValues() const {
    for (size_t i = 0; i < kEmulatedMachineValueCount; ++i) {
        const std::string key = kEmulatedMachineValues[i].key;
        if (!Saved(key) && KeyExists(key)) Save(key);
        DeleteValue(key, kEmulatedMachineValues[i].name);
    }
}

void ScratchRoot::RestoreSaved() const {
    for (const SavedKey &saved : savedKeys_) {
        HKEY key;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, saved.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr) != ERROR_SUCCESS) {
            ADD_FAILURE() << "could not put back HKLM\\" << saved.path;
            continue;
        }
        std::vector<std::string> names;
        char name[16384];
        for (DWORD nameLength = sizeof name;
             RegEnumValueA(key, static_cast<DWORD>(names.size()), name, &nameLength, nullptr, nullptr, nullptr,
                           nullptr) == ERROR_SUCCESS;
             nameLength = sizeof name)
            names.push_back(std::string(name, nameLength));
        for (const std::string &n : names) RegDeleteValueA(key, n.c_str());
        for (const SavedValue &v : saved.values) {
            RegSetValueExA(key, v.name.c_str(), 0, v.type, reinterpret_cast<const BYTE *>(v.data.data()),
                           static_cast<DWORD>(v.data.size()));
        }
        RegCloseKey(key);
    }
}
#endif

#ifndef _WIN32
void ScratchRoot::Script(const std::string &windowsPath, const std::string &body) const {
    const std::string host = Host(windowsPath);
    MakeDirs(host.substr(0, host.rfind('/')));
    WriteWholeFile(host, "#!/bin/sh\n" + body);
    chmod(host.c_str(), 0755);
}
#endif

std::string ScratchRoot::Child(const std::string &name, const std::string &shell, const std::string &batch) const {
#ifndef _WIN32
    (void)batch;
    Script("C:\\t\\" + name + ".exe", shell);
    return "C:\\t\\" + name + ".exe";
#else
    (void)shell;
    MakeDirs(Host("C:\\t"));
    WriteWholeFile(Host("C:\\t\\" + name + ".cmd"), batch);
    return "C:\\t\\" + name + ".cmd";
#endif
}

std::string ScratchRoot::ReadHive() const { return ReadWholeFile(path_ + "/registry/HKLM.reg"); }

std::string ScratchRoot::Host(const std::string &windowsPath) const {
#ifdef _WIN32
    /* The machine's own path; what the test makes there is removed with the root. */
    if (!PathExists(windowsPath)) created_.push_back(windowsPath);
    return windowsPath;
#else
    // Only the plain "X:\a\b" form; tests use exact letter case.
    if (windowsPath.size() < 2 || windowsPath[1] != ':') return windowsPath;
    std::string out = path_ + "/drive_";
    out += static_cast<char>(std::tolower(static_cast<unsigned char>(windowsPath[0])));
    for (size_t i = 2; i < windowsPath.size(); ++i) out += windowsPath[i] == '\\' ? '/' : windowsPath[i];
    return out;
#endif
}

std::string ReadWholeFile(const std::string &path) {
    std::ifstream in(fs::u8path(path), std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteWholeFile(const std::string &path, const std::string &text) {
    std::ofstream out(fs::u8path(path), std::ios::binary | std::ios::trunc);
    out << text;
}

bool PathExists(const std::string &path) {
    std::error_code error;
    return fs::exists(fs::u8path(path), error);
}

void MakeDirs(const std::string &path) {
    std::error_code ignored;
    fs::create_directories(fs::u8path(path), ignored);
}

#ifdef _WIN32

namespace {

/* One argument quoted by the rules CommandLineToArgvW and the C runtime read back. */
std::string QuoteArgument(const std::string &arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    return out + "\"";
}

std::string ReadPipe(HANDLE pipe) {
    std::string out;
    char buf[4096];
    DWORD n = 0;
    while (ReadFile(pipe, buf, sizeof buf, &n, nullptr) && n > 0) out.append(buf, n);
    return out;
}

/* Starts `program` with `args` and our environment plus `extraEnv` (same-named entries
 * replaced), standard output and error to the handles given; false when it did not start. */
bool Launch(const std::string &program, const std::vector<std::string> &args, const std::vector<std::string> &extraEnv,
            HANDLE out, HANDLE err, PROCESS_INFORMATION *pi) {
    std::string commandLine = QuoteArgument(program);
    for (const auto &a : args) commandLine += " " + QuoteArgument(a);

    std::vector<std::string> entries = extraEnv;
    if (LPCH block = GetEnvironmentStringsA()) {
        for (const char *p = block; *p; p += std::strlen(p) + 1) {
            const std::string entry = p;
            const std::string name = entry.substr(0, entry.find('=', 1) + 1);
            bool replaced = false;
            for (const auto &e : extraEnv) replaced = replaced || _strnicmp(e.c_str(), name.c_str(), name.size()) == 0;
            if (!replaced) entries.push_back(entry);
        }
        FreeEnvironmentStringsA(block);
    }
    std::string environment;
    for (const auto &e : entries) environment += e + '\0';
    environment += '\0';

    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = out;
    si.hStdError = err;
    std::vector<char> cmd(commandLine.begin(), commandLine.end());
    cmd.push_back('\0');
    if (CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, environment.data(), nullptr, &si, pi)) return true;
    ADD_FAILURE() << "CreateProcessA failed for " << commandLine << ": " << GetLastError();
    return false;
}

int ExitCodeOf(HANDLE process) {
    WaitForSingleObject(process, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    return static_cast<int>(code);
}

/* The processes StartProgram started and nobody has waited for yet, by id. */
std::mutex gv_startedLock;
std::map<int, HANDLE> gv_started;

}  // namespace

ProcessResult RunProgram(const std::string &program, const std::vector<std::string> &args,
                         const std::vector<std::string> &extraEnv) {
    ProcessResult result;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE outRead, outWrite, errRead, errWrite;
    if (!CreatePipe(&outRead, &outWrite, &inherit, 0) || !CreatePipe(&errRead, &errWrite, &inherit, 0)) {
        ADD_FAILURE() << "CreatePipe failed";
        return result;
    }
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    PROCESS_INFORMATION pi = {};
    const bool started = Launch(program, args, extraEnv, outWrite, errWrite, &pi);
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    if (started) {
        std::thread errReader([&] { result.err = ReadPipe(errRead); });
        result.out = ReadPipe(outRead);
        errReader.join();
        result.exitCode = ExitCodeOf(pi.hProcess);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    CloseHandle(outRead);
    CloseHandle(errRead);
    return result;
}

int StartProgram(const std::string &program, const std::vector<std::string> &args,
                 const std::vector<std::string> &extraEnv) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE nul = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                             nullptr);
    PROCESS_INFORMATION pi = {};
    const bool started = Launch(program, args, extraEnv, nul, nul, &pi);
    if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
    if (!started) return -1;
    CloseHandle(pi.hThread);
    std::lock_guard<std::mutex> hold(gv_startedLock);
    gv_started[static_cast<int>(pi.dwProcessId)] = pi.hProcess;
    return static_cast<int>(pi.dwProcessId);
}

namespace {

HANDLE TakeStarted(int pid) {
    std::lock_guard<std::mutex> hold(gv_startedLock);
    auto it = gv_started.find(pid);
    if (it == gv_started.end()) return nullptr;
    HANDLE process = it->second;
    gv_started.erase(it);
    return process;
}

}  // namespace

int WaitProgram(int pid) {
    HANDLE process = TakeStarted(pid);
    if (process == nullptr) return -1;
    const int code = ExitCodeOf(process);
    CloseHandle(process);
    return code;
}

void KillProgram(int pid) {
    std::lock_guard<std::mutex> hold(gv_startedLock);
    auto it = gv_started.find(pid);
    if (it != gv_started.end()) TerminateProcess(it->second, 128 + 9);
}

#else

namespace {

std::string ReadFd(int fd) {
    std::string out;
    char buf[4096];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

}  // namespace

ProcessResult RunProgram(const std::string &program, const std::vector<std::string> &args,
                         const std::vector<std::string> &extraEnv) {
    ProcessResult result;
    int outPipe[2], errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0) {
        ADD_FAILURE() << "pipe failed";
        return result;
    }
    pid_t pid = fork();
    if (pid == 0) {
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        close(outPipe[0]);
        close(errPipe[0]);
        for (const auto &e : extraEnv) putenv(strdup(e.c_str()));
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(program.c_str()));
        for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    // Standard error is small in practice; read stdout first, then stderr.
    result.out = ReadFd(outPipe[0]);
    result.err = ReadFd(errPipe[0]);
    close(outPipe[0]);
    close(errPipe[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

int StartProgram(const std::string &program, const std::vector<std::string> &args,
                 const std::vector<std::string> &extraEnv) {
    /* Everything is prepared before fork: the child only calls exec. */
    std::vector<std::string> env;
    for (char **e = environ; *e != nullptr; ++e) env.push_back(*e);
    for (const auto &e : extraEnv) env.push_back(e);
    std::vector<char *> envp;
    for (auto &e : env) envp.push_back(&e[0]);
    envp.push_back(nullptr);
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    const pid_t pid = fork();
    if (pid == 0) {
        if (devNull >= 0) {
            dup2(devNull, 1);
            dup2(devNull, 2);
        }
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    if (devNull >= 0) close(devNull);
    return pid > 0 ? static_cast<int>(pid) : -1;
}

int WaitProgram(int pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void KillProgram(int pid) { kill(pid, SIGKILL); }

#endif

}  // namespace vt_test
