/* Body-buffer counters of the WinHTTP stand-in (wa_winhttp_hooks.h); its fault
 * injection lives with the other hooks' state (hook_state.cpp). */
#include "winapi/wa_winhttp_hooks.h"
#include "winapi/winhttp_internal.h"

#include <atomic>

namespace {

std::atomic<long long> gv_buffered{0};
std::atomic<long long> gv_bufferPeak{0};

}  // namespace

namespace wa {

void NoteWinHttpBuffered(long long delta) {
    const long long now = gv_buffered.fetch_add(delta) + delta;
    long long peak = gv_bufferPeak.load();
    while (now > peak && !gv_bufferPeak.compare_exchange_weak(peak, now)) {
    }
}

}  // namespace wa

namespace wa_test {

size_t WinHttpBufferedBytes() { return static_cast<size_t>(gv_buffered.load()); }
size_t WinHttpBufferPeak() { return static_cast<size_t>(gv_bufferPeak.load()); }
void ResetWinHttpBufferPeak() { gv_bufferPeak.store(gv_buffered.load()); }

}  // namespace wa_test
