/* Test fixtures shared by every test program: a scratch emulated machine root,
 * hive fixtures in .reg text, running the built program as a process. */
#pragma once
#include <memory>
#include <string>
#include <vector>

namespace vt_test {

#ifdef _WIN32
class EmulatedMachine;
#endif

/* A fresh WINAPI_ROOT folder for one test; WINAPI_ROOT points at it while the
 * object lives, and the folder is removed afterwards (unless VT_KEEP_ROOTS is set). */
class ScratchRoot {
public:
    ScratchRoot();
    ~ScratchRoot();
    ScratchRoot(const ScratchRoot &) = delete;
    ScratchRoot &operator=(const ScratchRoot &) = delete;

    const std::string &path() const { return path_; }
    /* Writes <root>/registry/HKLM.reg: the header line is added in front of `body`.
     * On Windows the text is imported into the machine's registry instead, in place
     * of what the root's earlier WriteHive put there. */
    void WriteHive(const std::string &body) const;
    /* The hive file's text ("" when absent). */
    std::string ReadHive() const;
    /* Host path of a Windows path "C:\..." under this root (on Windows the path itself). */
    std::string Host(const std::string &windowsPath) const;

#ifndef _WIN32
    /* Writes an executable shell script at a Windows path of the root: the stand-in
     * starts it as a program. */
    void Script(const std::string &windowsPath, const std::string &body) const;
#endif
    /* A child program "C:\t\<name>.exe" running `shell` on the stand-in, or the batch
     * file "C:\t\<name>.cmd" running `batch` on Windows; returns its Windows path. */
    std::string Child(const std::string &name, const std::string &shell, const std::string &batch) const;

private:
    std::string path_;
    std::string saved_;
    bool hadSaved_ = false;
#ifdef _WIN32
    /* On Windows the root stands for the machine itself: what a test adds to its
     * registry and folders is taken away again when the root ends, and while it lives
     * the test program's calls see the emulated machine its registry describes
     * (emulated_machine.h), from the stand-in's defaults on. */
    std::vector<std::string> keysBefore_;
    mutable std::vector<std::string> written_;
    mutable std::vector<std::string> created_;
    /* Keys the machine had before this root wrote to them, with their values as they
     * were: they are put back, never removed. */
    struct SavedValue {
        std::string name;
        unsigned long type;
        std::string data;
    };
    struct SavedKey {
        std::string path;
        std::vector<SavedValue> values;
    };
    mutable std::vector<SavedKey> savedKeys_;
    mutable std::unique_ptr<EmulatedMachine> machine_;
    bool Saved(const std::string &path) const;
    void Save(const std::string &path) const;
    void RestoreSaved() const;
    /* Takes away the values the emulated machine reads (saving their keys first). */
    void ClearMachineValues() const;
#endif
};

std::string ReadWholeFile(const std::string &path);
void WriteWholeFile(const std::string &path, const std::string &text);
bool PathExists(const std::string &path);
/* mkdir -p */
void MakeDirs(const std::string &path);
/* A fresh empty temporary folder under VT_TEST_TMP (or /tmp). */
std::string MakeTempDir(const std::string &prefix);

struct ProcessResult {
    int exitCode = -1;
    std::string out;  /* standard output */
    std::string err;  /* standard error */
};
/* Runs a program with arguments (no shell), with extra "NAME=value" environment
 * entries, and collects its output and exit code. */
ProcessResult RunProgram(const std::string &program, const std::vector<std::string> &args,
                         const std::vector<std::string> &extraEnv = {});
/* Starts a program the same way without waiting for it (its output is dropped);
 * its process id, or -1. WaitProgram gives its exit code as RunProgram does
 * (128 + the signal for a program killed by one). */
int StartProgram(const std::string &program, const std::vector<std::string> &args,
                 const std::vector<std::string> &extraEnv = {});
int WaitProgram(int pid);
/* Ends a program StartProgram started at once, as a kill would; WaitProgram still reaps it. */
void KillProgram(int pid);

}  // namespace vt_test
