// links: vt_util vt_log vt_platform winapi
/* Object locks: an uncontended LockObject+UnlockObject pair, two threads
 * locking different addresses (they share only the registry mutex), and rounds
 * of four threads contending for one address. */
#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>
#include <vector>

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

/* Rounds of a contended workload: four threads each take one shared address
 * 500 times, hold it for about 50 microseconds and then wait 50 microseconds
 * without it (both as waits for something else, such as a disk, so that the
 * shared processors of the machine are not what the round measures). Every
 * round is reported on its own (repetitions in one process), so a delay that
 * carries over from earlier waits shows as rounds that grow slower. */

void BM_FourThreadRounds(benchmark::State &state) {
    InitMutex();
    static int shared = 0;
    for (auto _ : state) {
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([] {
                for (int i = 0; i < 500; ++i) {
                    LockObject(&shared);
                    std::this_thread::sleep_for(std::chrono::microseconds(50));
                    UnlockObject(&shared);
                    std::this_thread::sleep_for(std::chrono::microseconds(50));
                }
            });
        }
        for (auto &t : threads) t.join();
    }
}
BENCHMARK(BM_FourThreadRounds)->Iterations(1)->Repetitions(12)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
