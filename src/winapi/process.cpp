/*
 * Processes of the stand-in: a Windows command line becomes a host program run with
 * posix_spawn in a process group of its own. See wa_process.h for the conventions.
 */
#include "winapi/wa_private.h"
#include "winapi/wa_process_hooks.h"

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

/* The program token of a command line: a quoted token ends at the next quote, an
 * unquoted one at the first blank. Returns the position after the token. */
size_t ProgramToken(const std::string &line, std::string *token, bool *quoted) {
    *quoted = !line.empty() && line[0] == '"';
    if (*quoted) {
        size_t end = line.find('"', 1);
        if (end == std::string::npos) {
            *token = line.substr(1);
            return line.size();
        }
        *token = line.substr(1, end - 1);
        return end + 1;
    }
    size_t i = 0;
    while (i < line.size() && !IsBlank(line[i])) ++i;
    *token = line.substr(0, i);
    return i;
}

/* The arguments after the program token, by the Windows rules: 2n backslashes and a
 * quote give n backslashes and toggle quoting, 2n+1 backslashes and a quote give n
 * backslashes and a literal quote, other backslashes are literal, and inside quotes
 * a doubled quote is a literal quote. */
std::vector<std::string> SplitArguments(const std::string &s) {
    std::vector<std::string> args;
    std::string cur;
    bool inArg = false;
    size_t bcount = 0;
    int qcount = 0;
    size_t i = 0;
    while (i < s.size()) {
        const char c = s[i];
        if (IsBlank(c) && qcount == 0) {
            if (inArg) {
                args.push_back(cur);
                cur.clear();
                inArg = false;
            }
            bcount = 0;
            ++i;
            continue;
        }
        inArg = true;
        if (c == '\\') {
            cur += c;
            ++bcount;
            ++i;
            continue;
        }
        if (c == '"') {
            if (bcount % 2 == 0) {
                cur.erase(cur.size() - bcount / 2);
                ++qcount;
            } else {
                cur.erase(cur.size() - bcount / 2 - 1);
                cur += '"';
            }
            ++i;
            bcount = 0;
            while (i < s.size() && s[i] == '"') {
                if (++qcount == 3) {
                    cur += '"';
                    qcount = 0;
                }
                ++i;
            }
            if (qcount == 2) qcount = 0;
            continue;
        }
        cur += c;
        bcount = 0;
        ++i;
    }
    if (inArg) args.push_back(cur);
    return args;
}

/* The current directory in Windows form, whatever its length; false (last error
 * set) when it cannot be read. */
bool CurrentWindowsDirectory(std::string *out) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD needed = GetCurrentDirectoryA(0, nullptr);
        if (needed == 0) return false;
        std::vector<char> buffer(needed + 1, '\0');
        const DWORD n = GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
        if (n == 0) return false;
        if (n < buffer.size()) {
            /* The A function answers in the ANSI code page; host names are UTF-8. */
            *out = wa::AnsiToUtf8Text(std::string(buffer.data(), n).c_str());
            return true;
        }
        /* Changed meanwhile: ask again. */
    }
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
}

bool HasPathSeparator(const std::string &name) {
    return name.find_first_of("\\/:") != std::string::npos;
}

bool HasExtension(const std::string &name) {
    const size_t sep = name.find_last_of("\\/");
    const size_t dot = name.rfind('.');
    return dot != std::string::npos && (sep == std::string::npos || dot > sep);
}

/* Checks one candidate host path: 0 when it can be run, else the Win32 error. */
DWORD CheckProgram(const std::string &host) {
    struct stat st;
    if (stat(host.c_str(), &st) != 0) {
        const size_t slash = host.rfind('/');
        if (errno == ENOTDIR) return ERROR_PATH_NOT_FOUND;
        if (slash != std::string::npos && slash > 0) {
            struct stat dst;
            const std::string dir = host.substr(0, slash);
            if (stat(dir.c_str(), &dst) != 0 || !S_ISDIR(dst.st_mode)) return ERROR_PATH_NOT_FOUND;
        }
        return ERROR_FILE_NOT_FOUND;
    }
    if (S_ISDIR(st.st_mode)) return ERROR_ACCESS_DENIED;
    if (access(host.c_str(), X_OK) != 0) return ERROR_ACCESS_DENIED;
    return 0;
}

/* One name as the program: with ".exe" when it has no extension and is not found as
 * given. */
DWORD ResolveExact(const std::string &windowsName, std::string *host) {
    const std::string first = wa::ToHostPath(windowsName);
    DWORD err = CheckProgram(first);
    if (err == 0) {
        *host = first;
        return 0;
    }
    if (!HasExtension(windowsName)) {
        const std::string withExe = wa::ToHostPath(windowsName + ".exe");
        if (CheckProgram(withExe) == 0) {
            *host = withExe;
            return 0;
        }
    }
    return err;
}

/* A name from a command line: a bare name is searched for in the current directory,
 * the system folder, the Windows folder and then the host's PATH. */
DWORD ResolveProgram(const std::string &name, std::string *host) {
    if (name.empty()) return ERROR_FILE_NOT_FOUND;
    if (HasPathSeparator(name)) return ResolveExact(name, host);
    std::vector<std::string> dirs;
    std::string cwd;
    if (CurrentWindowsDirectory(&cwd)) dirs.push_back(cwd);
    const std::string windir = wa::WindowsDirectory();
    dirs.push_back(windir + "\\system32");
    dirs.push_back(windir);
    if (const char *path = getenv("PATH")) {
        std::string all = path;
        size_t start = 0;
        while (start <= all.size()) {
            size_t end = all.find(':', start);
            if (end == std::string::npos) end = all.size();
            const std::string dir = all.substr(start, end - start);
            if (!dir.empty() && dir[0] == '/') dirs.push_back(dir);
            start = end + 1;
        }
    }
    for (const std::string &dir : dirs) {
        std::string joined = dir;
        if (!joined.empty() && joined.back() != '\\' && joined.back() != '/')
            joined += (joined[0] == '/') ? '/' : '\\';
        joined += name;
        if (ResolveExact(joined, host) == 0) return 0;
    }
    return ERROR_FILE_NOT_FOUND;
}

/* A file the host cannot run is not an executable to Windows either. */
DWORD SpawnErrorToWin32(int err) { return err == ENOEXEC ? ERROR_BAD_EXE_FORMAT : wa::ErrnoToWin32(err); }

bool ReadExitCodeFile(const std::string &path, DWORD *code) {
    if (path.empty()) return false;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buf[32] = {0};
    ssize_t n = read(fd, buf, sizeof buf - 1);
    close(fd);
    if (n <= 0) return false;
    const char *p = buf;
    while (*p == ' ' || *p == '\t' || *p == '\n') ++p;
    bool negative = false;
    if (*p == '-') {
        negative = true;
        ++p;
    }
    if (*p < '0' || *p > '9') return false;
    unsigned long long value = 0;
    while (*p >= '0' && *p <= '9') {
        value = value * 10 + static_cast<unsigned>(*p - '0');
        if (value > 0xFFFFFFFFull) return false;
        ++p;
    }
    *code = negative ? static_cast<DWORD>(0u - static_cast<DWORD>(value)) : static_cast<DWORD>(value);
    return true;
}

/* A started program. Shared by its process and thread handles; reaped at the latest
 * when both are closed. */
struct ProcessState {
    pid_t pid = -1;
    int pidfd = -1;
    std::string exitFile;
    std::mutex mutex;
    bool reaped = false;
    bool terminated = false;
    DWORD terminateCode = 0;
    DWORD exitCode = STILL_ACTIVE;

    ~ProcessState() {
        if (!Reap(false)) {
            /* Still running: nobody waits for it any more, but it must not stay a
             * zombie once it ends. */
            const pid_t p = pid;
            const std::string file = exitFile;
            std::thread([p, file] {
                int st = 0;
                while (waitpid(p, &st, 0) < 0 && errno == EINTR) {
                }
                if (!file.empty()) unlink(file.c_str());
            }).detach();
        }
        if (pidfd >= 0) close(pidfd);
    }

    /* True once the process has ended (its exit code is then set). */
    bool Reap(bool block) {
        std::lock_guard<std::mutex> lock(mutex);
        if (reaped) return true;
        int st = 0;
        pid_t r;
        do {
            r = waitpid(pid, &st, block ? 0 : WNOHANG);
        } while (r < 0 && errno == EINTR);
        if (r == 0) return false;
        DWORD fromFile = 0;
        const bool haveFile = ReadExitCodeFile(exitFile, &fromFile);
        if (r < 0) {
            exitCode = haveFile ? fromFile : 0;  // reaped by someone else
        } else if (WIFSIGNALED(st)) {
            exitCode = (terminated && WTERMSIG(st) == SIGKILL) ? terminateCode
                                                               : static_cast<DWORD>(128 + WTERMSIG(st));
        } else if (haveFile) {
            exitCode = fromFile;
        } else {
            exitCode = static_cast<DWORD>(WEXITSTATUS(st));
        }
        if (!exitFile.empty()) unlink(exitFile.c_str());
        reaped = true;
        return true;
    }

    DWORD Wait(DWORD milliseconds) {
        using Clock = std::chrono::steady_clock;
        const bool forever = milliseconds == INFINITE;
        if (!forever) {
            const DWORD scale = wa_test::ProcessWaitScale();
            if (scale > 1) milliseconds /= scale;
        }
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : milliseconds);
        for (;;) {
            if (Reap(false)) return WAIT_OBJECT_0;
            long long remaining = INT_MAX;
            if (!forever) {
                remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
                if (remaining <= 0) return WAIT_TIMEOUT;
            }
            if (pidfd >= 0) {
                struct pollfd pfd = {pidfd, POLLIN, 0};
                const int slice = static_cast<int>(remaining > INT_MAX ? INT_MAX : remaining);
                if (poll(&pfd, 1, slice) < 0 && errno != EINTR) {
                    SetLastError(wa::ErrnoToWin32(errno));
                    return WAIT_FAILED;
                }
            } else {
                usleep(static_cast<useconds_t>((remaining < 5 ? remaining : 5) * 1000));
            }
        }
    }

    /* Kills the process group; FALSE with ERROR_ACCESS_DENIED when already ended. */
    BOOL Terminate(UINT code) {
        if (Reap(false)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            terminated = true;
            terminateCode = code;
            if (kill(-pid, SIGKILL) != 0) kill(pid, SIGKILL);
        }
        Reap(true);
        return TRUE;
    }
};

struct ProcessObject : wa::HandleObject {
    explicit ProcessObject(std::shared_ptr<ProcessState> s, wa::HandleKind k) : HandleObject(k), state(std::move(s)) {}
    DWORD Wait(DWORD milliseconds) override { return state->Wait(milliseconds); }
    std::shared_ptr<ProcessState> state;
};

std::shared_ptr<ProcessState> LookupProcess(HANDLE h) {
    std::shared_ptr<wa::HandleObject> obj = wa::LookupHandle(h, wa::HandleKind::Process);
    if (!obj) return nullptr;
    return static_cast<ProcessObject *>(obj.get())->state;
}

/* The child's environment: the caller's (or the given ANSI block), the machine root,
 * and the three variables of the process conventions. */
std::vector<std::string> ChildEnvironment(const char *block, const std::string &exitFile,
                                          const std::string &commandLine, const std::string &windowsCwd) {
    static const char *const ours[] = {"WINAPI_EXIT_CODE_FILE=", "WINAPI_COMMAND_LINE=", "WINAPI_CURRENT_DIRECTORY="};
    std::vector<std::string> env;
    bool haveRoot = false;
    auto keep = [&](const char *entry) {
        for (const char *prefix : ours)
            if (strncmp(entry, prefix, strlen(prefix)) == 0) return;
        if (strncmp(entry, "WINAPI_ROOT=", 12) == 0) haveRoot = true;
        env.emplace_back(entry);
    };
    if (block != nullptr) {
        for (const char *p = block; *p != '\0'; p += strlen(p) + 1) keep(p);
    } else {
        for (char **e = environ; e != nullptr && *e != nullptr; ++e) keep(*e);
    }
    if (!haveRoot) env.push_back("WINAPI_ROOT=" + wa::RootDir());
    env.push_back("WINAPI_EXIT_CODE_FILE=" + exitFile);
    env.push_back("WINAPI_COMMAND_LINE=" + commandLine);
    env.push_back("WINAPI_CURRENT_DIRECTORY=" + windowsCwd);
    return env;
}

std::string MakeExitCodeFile() {
    const char *tmp = getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/winapi-exit.XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    const int fd = mkstemp(buf.data());
    if (fd < 0) return std::string();
    close(fd);
    return buf.data();
}

std::vector<char *> CStrings(std::vector<std::string> &strings) {
    std::vector<char *> out;
    for (std::string &s : strings) out.push_back(&s[0]);
    out.push_back(nullptr);
    return out;
}

BOOL Fail(DWORD err) {
    SetLastError(err);
    return FALSE;
}

}  // namespace

namespace wa_test {

std::vector<std::string> SplitCommandLine(const char *commandLine) {
    const std::string line = commandLine ? commandLine : "";
    std::string token;
    bool quoted = false;
    const size_t after = ProgramToken(line, &token, &quoted);
    std::vector<std::string> out{token};
    for (std::string &a : SplitArguments(line.substr(after))) out.push_back(std::move(a));
    return out;
}

}  // namespace wa_test

extern "C" {

BOOL CreateProcessA(LPCSTR applicationName, LPSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                    BOOL inheritHandles, DWORD, LPVOID environment, LPCSTR currentDirectory, LPSTARTUPINFOA startupInfo,
                    LPPROCESS_INFORMATION processInformation) {
    if (processInformation == nullptr || startupInfo == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (applicationName == nullptr && commandLine == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    /* The command line, program and folder come in the ANSI code page; the host
     * program gets its arguments in the host's UTF-8. */
    const std::string line = wa::AnsiToUtf8Text(commandLine);
    const std::string application = wa::AnsiToUtf8Text(applicationName);

    /* Program and arguments. */
    std::string host;
    std::vector<std::string> argv;
    std::string token;
    bool quoted = false;
    size_t after = ProgramToken(line, &token, &quoted);
    if (applicationName != nullptr) {
        const DWORD err = ResolveExact(application, &host);
        if (err != 0) return Fail(err);
        argv.push_back(commandLine ? token : application);
    } else {
        if (token.empty()) return Fail(quoted ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_PARAMETER);
        DWORD err = ResolveProgram(token, &host);
        if (err != 0 && !quoted) {
            /* An unquoted program path with blanks: try ever longer prefixes that end
             * before a blank, as "C:\Program Files\x.exe" would be found. */
            size_t end = after;
            while (err != 0 && end < line.size()) {
                while (end < line.size() && IsBlank(line[end])) ++end;
                while (end < line.size() && !IsBlank(line[end])) ++end;
                std::string candidate = line.substr(0, end);
                std::string candidateHost;
                if (ResolveProgram(candidate, &candidateHost) == 0) {
                    err = 0;
                    host = candidateHost;
                    token = candidate;
                    after = end;
                }
            }
        }
        if (err != 0) return Fail(err);
        argv.push_back(token);
    }
    for (std::string &a : SplitArguments(line.substr(after))) argv.push_back(std::move(a));

    /* Current directory. */
    std::string windowsCwd;
    if (currentDirectory != nullptr && currentDirectory[0] != '\0') {
        windowsCwd = wa::AnsiToUtf8Text(currentDirectory);
    } else if (!CurrentWindowsDirectory(&windowsCwd)) {
        return FALSE;  // the last error is set
    }
    const std::string hostCwd = wa::ToHostPath(windowsCwd);
    struct stat st;
    if (stat(hostCwd.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return Fail(ERROR_DIRECTORY);
    windowsCwd = wa::ToWindowsPath(hostCwd);

    const std::string exitFile = MakeExitCodeFile();
    std::vector<std::string> env =
        ChildEnvironment(static_cast<const char *>(environment), exitFile, line, windowsCwd);
    std::vector<char *> envp = CStrings(env);
    std::vector<char *> args = CStrings(argv);

    posix_spawnattr_t attr;
    posix_spawn_file_actions_t actions;
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_init(&actions);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawn_file_actions_addchdir_np(&actions, hostCwd.c_str());
    if (!inheritHandles) {
        /* Handles are not inherited: the program keeps only its standard streams, not
         * the caller's log file, sockets or registry lock. */
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
        posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
    }

    pid_t pid = -1;
    const int rc = posix_spawn(&pid, host.c_str(), &actions, &attr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        if (!exitFile.empty()) unlink(exitFile.c_str());
        return Fail(SpawnErrorToWin32(rc));
    }

    auto state = std::make_shared<ProcessState>();
    state->pid = pid;
    state->exitFile = exitFile;
#ifdef SYS_pidfd_open
    state->pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#endif
    processInformation->hProcess = wa::InsertHandle(std::make_shared<ProcessObject>(state, wa::HandleKind::Process));
    processInformation->hThread = wa::InsertHandle(std::make_shared<ProcessObject>(state, wa::HandleKind::Thread));
    processInformation->dwProcessId = static_cast<DWORD>(pid);
    processInformation->dwThreadId = static_cast<DWORD>(pid);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode) {
    if (exitCode == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (process == GetCurrentProcess()) {
        *exitCode = STILL_ACTIVE;
        return TRUE;
    }
    std::shared_ptr<ProcessState> state = LookupProcess(process);
    if (!state) return FALSE;
    if (!state->Reap(false)) {
        *exitCode = STILL_ACTIVE;
        return TRUE;
    }
    std::lock_guard<std::mutex> lock(state->mutex);
    *exitCode = state->exitCode;
    return TRUE;
}

BOOL TerminateProcess(HANDLE process, UINT exitCode) {
    std::shared_ptr<ProcessState> state = LookupProcess(process);
    if (!state) return FALSE;
    return state->Terminate(exitCode);
}

}  // extern "C"
