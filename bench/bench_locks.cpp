// links: vt_util vt_log vt_platform winapi
/* Object locks: an uncontended LockObject+UnlockObject pair, and two threads
 * locking different addresses (they share only the registry mutex). */
#include <benchmark/benchmark.h>

#include "util/locks.h"

namespace {

void BM_LockUnlockPair(benchmark::State &state) {
    InitMutex();
    int object = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(LockObject(&object));
        benchmark::DoNotOptimize(UnlockObject(&object));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LockUnlockPair);

void BM_LockUnlockOwnAddress(benchmark::State &state) {
    InitMutex();
    int object = 0;  // one per thread
    for (auto _ : state) {
        benchmark::DoNotOptimize(LockObject(&object));
        benchmark::DoNotOptimize(UnlockObject(&object));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LockUnlockOwnAddress)->Threads(2)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
