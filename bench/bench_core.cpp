// links: vt_platform winapi
// Hot paths of the stand-in core: path translation (each log line and file
// operation goes through it), code-page conversion, error texts, log-line
// ingredients (time and thread id) and the mutex round trip.
#include "platform/errors.h"
#include "winapi/wa_private.h"

#include <benchmark/benchmark.h>

#include <stdlib.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

/* A scratch machine root with a few folders whose names differ in case. */
const char *const kFolders[] = {"/drive_c", "/drive_c/Program Files", "/drive_c/Program Files/Vendor",
                                 "/drive_c/Program Files/Vendor/Agent", "/drive_c/Program Files/Vendor/Agent/logs"};
std::string gRoot;

void RemoveBenchRoot() {
    for (int i = static_cast<int>(sizeof kFolders / sizeof kFolders[0]) - 1; i >= 0; --i)
        rmdir((gRoot + kFolders[i]).c_str());
    rmdir(gRoot.c_str());
}

const std::string &BenchRoot() {
    if (gRoot.empty()) {
        char templ[] = "/tmp/bench-core.XXXXXX";
        if (mkdtemp(templ) == nullptr) abort();
        gRoot = templ;
        setenv("WINAPI_ROOT", gRoot.c_str(), 1);
        for (const char *sub : kFolders) mkdir((gRoot + sub).c_str(), 0777);
        atexit(RemoveBenchRoot);
    }
    return gRoot;
}

void BM_ToHostPathExact(benchmark::State &state) {
    BenchRoot();
    for (auto _ : state) benchmark::DoNotOptimize(wa::ToHostPath("C:\\Program Files\\Vendor\\Agent\\logs\\a.log"));
}
BENCHMARK(BM_ToHostPathExact);

void BM_ToHostPathOtherCase(benchmark::State &state) {
    BenchRoot();
    for (auto _ : state) benchmark::DoNotOptimize(wa::ToHostPath("c:\\PROGRAM FILES\\vendor\\AGENT\\Logs\\a.log"));
}
BENCHMARK(BM_ToHostPathOtherCase);

void BM_AnsiToWide1K(benchmark::State &state) {
    std::string text(1024, 'a');
    for (size_t i = 0; i < text.size(); i += 7) text[i] = '\xe9';
    for (auto _ : state) {
        WCHAR *wide = nullptr;
        benchmark::DoNotOptimize(AnsiToWide(text.c_str(), &wide));
        free(wide);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 1024);
}
BENCHMARK(BM_AnsiToWide1K);

void BM_GetErrorText(benchmark::State &state) {
    const DWORD code = static_cast<DWORD>(state.range(0));
    for (auto _ : state) free(GetErrorText(code));
}
BENCHMARK(BM_GetErrorText)->Arg(3010)->Arg(17025);

void BM_LogLineIngredients(benchmark::State &state) {
    for (auto _ : state) {
        SYSTEMTIME st;
        GetLocalTime(&st);
        benchmark::DoNotOptimize(st);
        benchmark::DoNotOptimize(GetCurrentThreadId());
    }
}
BENCHMARK(BM_LogLineIngredients);

void BM_MutexWaitRelease(benchmark::State &state) {
    HANDLE m = CreateMutexA(nullptr, FALSE, nullptr);
    for (auto _ : state) {
        WaitForSingleObject(m, INFINITE);
        ReleaseMutex(m);
    }
    CloseHandle(m);
}
BENCHMARK(BM_MutexWaitRelease);

}  // namespace

BENCHMARK_MAIN();
