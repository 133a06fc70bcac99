// links: vt_transfer vt_testsupport
/* Plain DOWNLOAD_FILE of a large file from a loopback server, against curl
 * fetching the same URL in the same run. Reports the wall time per download and
 * the peak resident memory while the agent's download ran. */
#include <benchmark/benchmark.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>

#include "support/http_server.h"
#include "support/scratch_root.h"
#include "transfer/download.h"
#include "transfer/routing.h"

namespace {

constexpr uint64_t kFileBytes = 256ull * 1024 * 1024;

struct Fixture {
    vt_test::ScratchRoot root;
    vt_test::TestHttpServer server;
    std::string curlTarget;
    Fixture()
    {
        server.Serve("GET", "/big.bin", vt_test::CannedResponse::Generated(kFileBytes, false));
        vt_test::MakeDirs(root.Host("C:\\dl"));
        curlTarget = root.path() + "/curl.bin";
    }
};

Fixture &Shared()
{
    static Fixture *fixture = new Fixture;
    return *fixture;
}

/* Peak resident set size in KiB since the last reset. */
long PeakRssKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}
long CurrentRssKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}
void ResetPeakRss()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
}

void BM_AgentDownloadFile(benchmark::State &state)
{
    Fixture &f = Shared();
    long peakGrowth = 0;
    for (auto _ : state) {
        long before = CurrentRssKiB();
        ResetPeakRss();
        DWORD result = InternetGetRequestEx(false, "http", L"127.0.0.1", f.server.port(), nullptr, nullptr, nullptr,
                                            nullptr, L"/big.bin", L"C:\\dl\\big.bin", nullptr, DOWNLOAD_FILE, false);
        long peak = PeakRssKiB();
        if (result != 0) {
            state.SkipWithError("download failed");
            break;
        }
        if (peak - before > peakGrowth)
            peakGrowth = peak - before;
        state.counters["peak_rss_MiB"] = peak / 1024.0;
    }
    state.counters["peak_growth_MiB"] = peakGrowth / 1024.0;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileBytes));
}

void BM_CurlDownload(benchmark::State &state)
{
    Fixture &f = Shared();
    std::string command = "curl -s -f -o '" + f.curlTarget + "' http://127.0.0.1:" + std::to_string(f.server.port()) +
                          "/big.bin";
    for (auto _ : state) {
        if (system(command.c_str()) != 0) {
            state.SkipWithError("curl failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileBytes));
}

BENCHMARK(BM_CurlDownload)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AgentDownloadFile)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CurlDownload)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
