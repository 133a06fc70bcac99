/* Fault injection and buffer counters of the WinHTTP stand-in (wa_winhttp_hooks.h). */
#include "winapi/wa_winhttp_hooks.h"
#include "winapi/winhttp_internal.h"

#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <string>

namespace {

struct Fault {
    DWORD code;
    int remaining;  /* calls still to fail (count rules) */
    int atCall;     /* 0, or the call number that fails (position rules) */
};

struct FaultTable {
    std::mutex lock;
    std::map<std::string, std::deque<Fault>> faults;
    std::map<std::string, int> calls;
};

FaultTable &Table() {
    static FaultTable *table = new FaultTable;  // lives for the process
    return *table;
}

std::atomic<long long> gv_buffered{0};
std::atomic<long long> gv_bufferPeak{0};

}  // namespace

namespace wa {

DWORD TakeWinHttpFault(const char *function) {
    FaultTable &t = Table();
    std::lock_guard<std::mutex> guard(t.lock);
    const int call = ++t.calls[function];
    auto it = t.faults.find(function);
    if (it == t.faults.end()) return 0;
    std::deque<Fault> &rules = it->second;
    for (auto r = rules.begin(); r != rules.end(); ++r) {
        if (r->atCall != 0 && r->atCall == call) {
            const DWORD code = r->code;
            rules.erase(r);
            return code;
        }
    }
    for (auto r = rules.begin(); r != rules.end(); ++r) {
        if (r->atCall == 0 && r->remaining > 0) {
            const DWORD code = r->code;
            if (--r->remaining == 0) rules.erase(r);
            return code;
        }
    }
    return 0;
}

void NoteWinHttpBuffered(long long delta) {
    const long long now = gv_buffered.fetch_add(delta) + delta;
    long long peak = gv_bufferPeak.load();
    while (now > peak && !gv_bufferPeak.compare_exchange_weak(peak, now)) {
    }
}

}  // namespace wa

namespace wa_test {

void FailWinHttpCall(const char *function, DWORD code, int times) {
    if (!function || times <= 0) return;
    FaultTable &t = Table();
    std::lock_guard<std::mutex> guard(t.lock);
    t.faults[function].push_back(Fault{code, times, 0});
}

void FailWinHttpCallAt(const char *function, DWORD code, int n) {
    if (!function || n <= 0) return;
    FaultTable &t = Table();
    std::lock_guard<std::mutex> guard(t.lock);
    t.faults[function].push_back(Fault{code, 1, t.calls[function] + n});
}

void ResetWinHttpFaults() {
    FaultTable &t = Table();
    std::lock_guard<std::mutex> guard(t.lock);
    t.faults.clear();
    t.calls.clear();
}

int WinHttpCallCount(const char *function) {
    FaultTable &t = Table();
    std::lock_guard<std::mutex> guard(t.lock);
    auto it = t.calls.find(function ? function : "");
    return it == t.calls.end() ? 0 : it->second;
}

size_t WinHttpBufferedBytes() { return static_cast<size_t>(gv_buffered.load()); }
size_t WinHttpBufferPeak() { return static_cast<size_t>(gv_bufferPeak.load()); }
void ResetWinHttpBufferPeak() { gv_bufferPeak.store(gv_buffered.load()); }

}  // namespace wa_test
