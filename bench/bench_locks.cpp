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

/* Rounds of a contended workload: four threads each take one shared address 300
 * times and hold it for about 20 microseconds of work. Every round is reported
 * on its own (repetitions in one process), so a delay that carries over from
 * earlier waits shows as rounds that grow slower. */
void BM_FourThreadRounds(benchmark::State &state) {
    InitMutex();
    static int shared = 0;
    for (auto _ : state) {
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([] {
                for (int i = 0; i < 300; ++i) {
                    LockObject(&shared);
                    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(20);
                    while (std::chrono::steady_clock::now() < until) {
                    }
                    UnlockObject(&shared);
                }
            });
        }
        for (auto &t : threads) t.join();
    }
}
BENCHMARK(BM_FourThreadRounds)->Iterations(1)->Repetitions(8)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
