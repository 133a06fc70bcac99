#include "support/scratch_root.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vt_test {

namespace {

void RemoveTree(const std::string &path) {
    std::string cmd = "rm -rf '" + path + "'";
    if (std::system(cmd.c_str()) != 0) {
        // Leaving a scratch folder behind is harmless.
    }
}

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

std::string MakeTempDir(const std::string &prefix) {
    const char *base = std::getenv("VT_TEST_TMP");
    std::string dir = base && *base ? base : "/tmp";
    MakeDirs(dir);
    std::string templ = dir + "/" + prefix + "XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) {
        ADD_FAILURE() << "mkdtemp failed for " << templ << ": " << std::strerror(errno);
        return templ;
    }
    return buf.data();
}

ScratchRoot::ScratchRoot() {
    path_ = MakeTempDir("root.");
    if (const char *old = std::getenv("WINAPI_ROOT")) {
        saved_ = old;
        hadSaved_ = true;
    }
    setenv("WINAPI_ROOT", path_.c_str(), 1);
}

ScratchRoot::~ScratchRoot() {
    if (hadSaved_)
        setenv("WINAPI_ROOT", saved_.c_str(), 1);
    else
        unsetenv("WINAPI_ROOT");
    if (!std::getenv("VT_KEEP_ROOTS")) RemoveTree(path_);
}

void ScratchRoot::WriteHive(const std::string &body) const {
    MakeDirs(path_ + "/registry");
    WriteWholeFile(path_ + "/registry/HKLM.reg", "Windows Registry Editor Version 5.00\n\n" + body);
}

std::string ScratchRoot::ReadHive() const { return ReadWholeFile(path_ + "/registry/HKLM.reg"); }

std::string ScratchRoot::Host(const std::string &windowsPath) const {
    // Only the plain "X:\a\b" form; tests use exact letter case.
    if (windowsPath.size() < 2 || windowsPath[1] != ':') return windowsPath;
    std::string out = path_ + "/drive_";
    out += static_cast<char>(std::tolower(static_cast<unsigned char>(windowsPath[0])));
    for (size_t i = 2; i < windowsPath.size(); ++i) out += windowsPath[i] == '\\' ? '/' : windowsPath[i];
    return out;
}

std::string ReadWholeFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteWholeFile(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

bool PathExists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

void MakeDirs(const std::string &path) {
    std::string cur;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || (path[i] == '/' && i > 0)) {
            cur = path.substr(0, i);
            mkdir(cur.c_str(), 0777);
        }
    }
}

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

}  // namespace vt_test
