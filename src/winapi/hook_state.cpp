/* The state behind the test hooks: the Sleep record, the process wait scale and
 * the injected WinHTTP faults (wa_hook_state.h). Built into the stand-in, and into
 * the Windows test programs for their replacements of the real calls. */
#include "winapi/wa_hook_state.h"
#include "winapi/wa_process_hooks.h"
#include "winapi/wa_testhooks.h"
#include "winapi/wa_winhttp_hooks.h"

#include <stdlib.h>

#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

/* ---- The Sleep recorder ------------------------------------------------------------------- */

std::atomic<bool> gv_recording{false};

struct SleepRecord {
    std::mutex lock;
    std::vector<DWORD> sleeps;
};

SleepRecord &Record() {
    static auto *record = new SleepRecord;  // lives for the process
    return *record;
}

/* ---- The process wait scale --------------------------------------------------------------- */

std::atomic<DWORD> gv_waitScale{0};

/* ---- Injected WinHTTP faults -------------------------------------------------------------- */

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

}  // namespace

namespace wa {

bool RecordSleep(DWORD milliseconds) {
    if (!gv_recording.load()) return false;
    SleepRecord &r = Record();
    std::lock_guard<std::mutex> lock(r.lock);
    r.sleeps.push_back(milliseconds);
    return true;
}

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

}  // namespace wa

namespace wa_test {

void RecordSleeps(bool on) { gv_recording.store(on); }

std::vector<DWORD> RecordedSleeps() {
    SleepRecord &r = Record();
    std::lock_guard<std::mutex> lock(r.lock);
    return r.sleeps;
}

void ClearRecordedSleeps() {
    SleepRecord &r = Record();
    std::lock_guard<std::mutex> lock(r.lock);
    r.sleeps.clear();
}

void SetProcessWaitScale(DWORD scale) { gv_waitScale.store(scale); }

DWORD ProcessWaitScale() {
    const DWORD hook = gv_waitScale.load();
    if (hook != 0) return hook;
    const char *env = getenv("WINAPI_WAIT_SCALE");
    if (env == nullptr || *env == '\0') return 1;
    char *end = nullptr;
    const unsigned long v = strtoul(env, &end, 10);
    if (end == env || *end != '\0' || v == 0 || v > 0xFFFFFFFFul) return 1;
    return static_cast<DWORD>(v);
}

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

}  // namespace wa_test
