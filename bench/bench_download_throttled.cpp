// links: vt_transfer vt_testsupport
/* Throttled download at rate 100 of a 1 MiB file from a loopback server, with
 * real pauses (about 13 s). The ceiling is rate x 500 bytes per 600 ms. */
#include <benchmark/benchmark.h>

#include <string>

#include "agent/settings.h"
#include "support/http_server.h"
#include "support/scratch_root.h"
#include "transfer/download.h"
#include "transfer/routing.h"

namespace {

constexpr uint64_t kFileBytes = 1024 * 1024;
constexpr int kRate = 100;

void BM_ThrottledDownload(benchmark::State &state)
{
    vt_test::ScratchRoot root;
    vt_test::TestHttpServer server;
    server.Serve("GET", "/pkg.bin", vt_test::CannedResponse::Generated(kFileBytes, true));
    vt_test::MakeDirs(root.Host("C:\\dl"));
    const int savedRate = gv_dataTransferRateKBps;
    gv_dataTransferRateKBps = kRate;
    for (auto _ : state) {
        DWORD result = InternetGetRequestByBitrate(false, "http", L"127.0.0.1", server.port(), nullptr, nullptr,
                                                   nullptr, nullptr, L"/pkg.bin", L"C:\\dl\\pkg.bin", nullptr,
                                                   DOWNLOAD_FILE, false);
        if (result != 0) {
            state.SkipWithError("download failed");
            break;
        }
    }
    gv_dataTransferRateKBps = savedRate;
    const double ceiling = kRate * 500.0 / 0.6;
    state.counters["ceiling_Bps"] = ceiling;
    state.counters["measured_Bps"] =
        benchmark::Counter(static_cast<double>(kFileBytes) * state.iterations(), benchmark::Counter::kIsRate);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileBytes));
}

BENCHMARK(BM_ThrottledDownload)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
