// links: vt_log vt_util vt_platform winapi
/* Log lines per second at the agent's level 2, written to a file in a temporary
 * folder, from one and from two threads (each line is one locked unit). */
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "log/log.h"
#include "util/locks.h"
#include "winapi/winapi.h"

namespace {

void BM_LogInfoLine(benchmark::State &state) {
    int n = 0;
    for (auto _ : state) LogInfo("patchName : %s (line %d)\n", "KB2506143", ++n);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogInfoLine)->Threads(1)->Threads(2)->UseRealTime();

/* A line above the configured level: the cost of a suppressed debug line. */
void BM_SuppressedDebugLine(benchmark::State &state) {
    for (auto _ : state) LogDebug("@@@@@@@@ Inside execute Method @@@@@@@@ \n");
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SuppressedDebugLine);

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    std::error_code ec;
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("vt_bench_log." + std::to_string(GetCurrentProcessId()));
    std::filesystem::create_directories(dir, ec);
    InitMutex();
    InitLogDefaults();
    SetLogParameters("bench.log", dir.string().c_str(), 2);
    if (!OpenLogFile()) return 2;
    benchmark::RunSpecifiedBenchmarks();
    CloseLogFile();
    ReleaseLogSettings();
    std::filesystem::remove_all(dir, ec);
    return 0;
}
