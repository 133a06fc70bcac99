/* Helpers of the Reader check and repair tests: the log on a temporary file, .reg
 * text for hive fixtures, registry reads in a chosen view, and the machine's
 * msiexec.exe replaced for a test. */
#pragma once
#include "log/log.h"
#include "support/lines.h"
#include "support/scratch_root.h"
#include "winapi/winapi.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <sys/stat.h>

#include <regex>
#include <string>

namespace reader_test {

/* Log text without time stamps and thread ids ("[INFO] text"). */
inline std::string WithoutStamps(const std::string &log) {
    static const std::regex prefix(R"(\[ [^\]]* \] \[ \d+ \] )");
    return std::regex_replace(log, prefix, "");
}

/* The process's log on a temporary file at the highest level, for one test. */
class LogCapture {
public:
    LogCapture() {
        stream_ = tmpfile();
        SetLogFilePtr(stream_);
        InitLogDefaults();
        SetLogLevel(4);
    }
    ~LogCapture() {
        gv_logFilePtr = nullptr;
        if (stream_ != nullptr) fclose(stream_);
        ReleaseLogSettings();
    }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    std::string Text() const {
        fflush(stream_);
        std::string all;
        rewind(stream_);
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, stream_)) > 0) all.append(buf, n);
        return WithoutStamps(vt_test::UnixLineEnds(all));
    }
    /* Only the [INFO] and [ERROR] lines. */
    std::string InfoAndErrors() const {
        std::string out;
        const std::string all = Text();
        size_t start = 0;
        while (start < all.size()) {
            size_t end = all.find('\n', start);
            if (end == std::string::npos) end = all.size() - 1;
            const std::string line = all.substr(start, end - start + 1);
            if (line.compare(0, 6, "[INFO]") == 0 || line.compare(0, 7, "[ERROR]") == 0) out += line;
            start = end + 1;
        }
        return out;
    }

private:
    FILE *stream_ = nullptr;
};

/* .reg text: a key line and a string value (backslashes and quotes escaped). */
inline std::string Key(const std::string &path) { return "[HKEY_LOCAL_MACHINE\\" + path + "]\n"; }
inline std::string Value(const std::string &name, const std::string &text) {
    std::string escaped;
    for (char c : text) {
        if (c == '\\' || c == '"') escaped += '\\';
        escaped += c;
    }
    return "\"" + name + "\"=\"" + escaped + "\"\n";
}

/* A string value of HKLM through the given view; "<no key>" or "<no value>". */
inline std::string ReadValue(const std::string &key, const char *name, REGSAM view = 0) {
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE | view, &h) != ERROR_SUCCESS)
        return "<no key>";
    char buf[1024] = {0};
    DWORD size = sizeof buf - 1;
    const LONG rc = RegQueryValueExA(h, name, nullptr, nullptr, reinterpret_cast<BYTE *>(buf), &size);
    RegCloseKey(h);
    return rc == ERROR_SUCCESS ? std::string(buf) : "<no value>";
}

/* The Reader product's keys and setup folder for a language group ("1033") and its
 * packed form ("3301"). */
inline std::string ProductIdKey(const std::string &group) {
    return "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{AC76BA86-7AD7-" + group +
           "-7B44-AA1000000001}";
}
inline std::string SourceListKey(const std::string &packed) {
    return "SOFTWARE\\Classes\\Installer\\Products\\68AB67CA7DA7" + packed + "B744AA0100000010\\SourceList";
}
inline std::string SetupFolder(const std::string &group) {
    return "C:\\ProgramData\\Adobe\\Setup\\{AC76BA86-7AD7-" + group + "-7B44-AA1000000001}";
}

/* The machine's msiexec.exe (C:\Windows\system32\msiexec.exe) is `program` while
 * the object lives; on Windows the machine's own comes back when it goes. */
class MsiexecStandIn {
public:
    explicit MsiexecStandIn(const vt_test::ScratchRoot &root) : root_(root) {}
    ~MsiexecStandIn() {
#ifndef WINAPI_STANDIN
        if (!machineMsiexec_.empty()) {
            vt_test::WriteWholeFile(root_.Host(kPath), machineMsiexec_);
            WineMsiexecSetting(false);
        }
#endif
    }
    MsiexecStandIn(const MsiexecStandIn &) = delete;
    MsiexecStandIn &operator=(const MsiexecStandIn &) = delete;

    void Install(const std::string &program) {
        const std::string msiexec = root_.Host(kPath);
#ifdef WINAPI_STANDIN
        vt_test::MakeDirs(msiexec.substr(0, msiexec.rfind('/')));
        vt_test::WriteWholeFile(msiexec, program);
        chmod(msiexec.c_str(), 0755);
#else
        if (machineMsiexec_.empty()) {
            machineMsiexec_ = vt_test::ReadWholeFile(msiexec);
            ASSERT_EQ(WineMsiexecSetting(true), ERROR_SUCCESS);
        }
        vt_test::WriteWholeFile(msiexec, program);
#endif
    }
    /* An msiexec that records its runs in msiexec-runs.log in the root and answers
     * the exit codes MSIEXEC_EXIT_CODE lists: the demo's script on the stand-in,
     * the tests' recorder on Windows. */
    void InstallRecorder() {
#ifdef WINAPI_STANDIN
        Install(vt_test::ReadWholeFile(std::string(VT_SOURCE_DIR) + "/scripts/demo/msiexec.sh"));
#else
        Install(vt_test::ReadWholeFile(VT_MSIEXEC_RECORDER));
#endif
    }

private:
    static constexpr const char *kPath = "C:\\Windows\\system32\\msiexec.exe";
#ifndef WINAPI_STANDIN
    /* Wine starts its own msiexec whatever file stands in its place unless its
     * setting for the program says "native" (Windows has no such setting). */
    static LONG WineMsiexecSetting(bool native) {
        HKEY key = nullptr;
        LONG rc = RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\DllOverrides", 0, nullptr, 0, KEY_SET_VALUE,
                                  nullptr, &key, nullptr);
        if (rc != ERROR_SUCCESS) return rc;
        rc = native ? RegSetValueExA(key, "msiexec.exe", 0, REG_SZ, reinterpret_cast<const BYTE *>("native"), 7)
                    : RegDeleteValueA(key, "msiexec.exe");
        RegCloseKey(key);
        return rc;
    }
    std::string machineMsiexec_;
#endif
    const vt_test::ScratchRoot &root_;
};

}  // namespace reader_test
