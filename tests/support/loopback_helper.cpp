/* Starting the Linux helper from a Windows test program under Wine. */
#ifdef _WIN32
#include "support/loopback_helper.h"
#include "support/http_server.h"
#include "support/sockets.h"

#include <windows.h>

#include <cstdlib>

namespace vt_test {

/* Wine's own export: the Windows name of a Linux path (heap memory), or null. */
typedef WCHAR *(CDECL *DosFileNameFn)(const char *);

static std::string DosPath(const std::string &unixPath) {
    static const auto convert = reinterpret_cast<DosFileNameFn>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_dos_file_name")));
    if (!convert) return "";
    WCHAR *wide = convert(unixPath.c_str());
    if (!wide) return "";
    char narrow[MAX_PATH * 2];
    const int n = WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, sizeof(narrow), nullptr, nullptr);
    HeapFree(GetProcessHeap(), 0, wide);
    return n > 0 ? std::string(narrow) : std::string();
}

bool LoopbackHelper::Available() {
    const std::string path = DosPath(VT_LOOPBACK_HELPER);
    return !path.empty() && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

/* Text from `fd` up to the first newline, waiting at most `timeoutMs` in all. */
static bool ReadLine(int fd, int timeoutMs, std::string *line) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(timeoutMs);
    char c = 0;
    while (line->size() < 4096) {
        const int left = static_cast<int>(end - GetTickCount());
        pollfd p = {static_cast<SOCKET>(fd), POLLIN, 0};
        if (left <= 0 || PollSockets(&p, 1, left) <= 0) return false;
        if (ReadSocket(fd, &c, 1) != 1) return false;
        if (c == '\n') return true;
        line->push_back(c);
    }
    return false;
}

LoopbackHelper::LoopbackHelper(const std::vector<std::string> &args) {
    if (!Available()) {
        error_ = "no helper program at " VT_LOOPBACK_HELPER;
        return;
    }
    int controlPort = 0;
    const int listener = ListenLoopback(&controlPort);
    if (listener < 0) {
        error_ = "no loopback socket";
        return;
    }
    std::string command = std::string(VT_LOOPBACK_HELPER) + " " + std::to_string(controlPort);
    for (const std::string &a : args) command += " " + a;
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        error_ = "CreateProcess failed with " + std::to_string(GetLastError());
        CloseSocket(listener);
        return;
    }
    /* Wine gives no handles for a Linux program; Windows would. */
    if (info.hThread) CloseHandle(info.hThread);
    if (info.hProcess) CloseHandle(info.hProcess);
    pollfd p = {static_cast<SOCKET>(listener), POLLIN, 0};
    if (PollSockets(&p, 1, 20000) == 1) control_ = AcceptSocket(listener);
    CloseSocket(listener);
    std::string line;
    if (control_ < 0 || !ReadLine(control_, 20000, &line)) {
        error_ = "the helper did not answer";
        return;
    }
    /* "<address>:<port> <folder>", or "0 <reason>". */
    const size_t space = line.find(' ');
    const size_t colon = line.find(':');
    const int port = colon < space ? atoi(line.c_str() + colon + 1) : 0;
    if (port <= 0 || space == std::string::npos) {
        error_ = "the helper failed: " + line;
        return;
    }
    address_ = line.substr(0, colon);
    dir_ = DosPath(line.substr(space + 1));
    port_ = port;
}

LoopbackHelper::~LoopbackHelper() {
    if (control_ < 0) return;
    ShutdownSend(control_);
    /* The helper closes its side once its server has stopped. */
    std::string ignored;
    ReadLine(control_, 10000, &ignored);
    CloseSocket(control_);
}

}  // namespace vt_test
#endif
