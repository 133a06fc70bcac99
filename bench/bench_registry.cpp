// links: winapi
/*
 * Registry stand-in costs: a value read from a settled (cached) hive, a read from a
 * hive rewritten moments ago (bytes compared), a first parse, and a value write
 * (lock, re-read, rewrite, rename). Hives of `range` keys with 5 values each.
 */
#include "winapi/winapi.h"
#include "winapi/registry_hive.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace {

std::string MakeRoot() {
    char templ[] = "/tmp/bench_registry.XXXXXX";
    const char *dir = mkdtemp(templ);
    std::string root = dir ? dir : "/tmp";
    setenv("WINAPI_ROOT", root.c_str(), 1);
    mkdir((root + "/registry").c_str(), 0777);
    return root;
}

void RemoveRoot(const std::string &root) {
    const std::string cmd = "rm -rf '" + root + "'";
    if (system(cmd.c_str()) != 0) {
        // a leftover temporary folder is harmless
    }
}

std::string HiveText(int keys) {
    std::string text = "Windows Registry Editor Version 5.00\n\n";
    for (int k = 0; k < keys; ++k) {
        text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bench\\Key" + std::to_string(k) + "]\n";
        for (int v = 0; v < 5; ++v)
            text += "\"Value" + std::to_string(v) + "\"=\"some text of a typical length " + std::to_string(v) + "\"\n";
        text += "\"Count\"=dword:0000000c\n\n";
    }
    return text;
}

void WriteHive(const std::string &root, const std::string &text, bool settled) {
    const std::string path = root + "/registry/HKLM.reg";
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) abort();
    close(fd);
    if (settled) {
        struct timespec times[2];
        clock_gettime(CLOCK_REALTIME, &times[0]);
        times[0].tv_sec -= 60;
        times[1] = times[0];
        utimensat(AT_FDCWD, path.c_str(), times, 0);
    }
}

void QueryOnce(benchmark::State &state, int key) {
    const std::string sub = "SOFTWARE\\Bench\\Key" + std::to_string(key);
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, sub.c_str(), 0, KEY_QUERY_VALUE, &k) != ERROR_SUCCESS) {
        state.SkipWithError("open failed");
        return;
    }
    char buf[128];
    DWORD size = sizeof buf;
    if (RegQueryValueExA(k, "Value3", nullptr, nullptr, reinterpret_cast<LPBYTE>(buf), &size) != ERROR_SUCCESS)
        state.SkipWithError("query failed");
    RegCloseKey(k);
    benchmark::DoNotOptimize(buf);
}

void BM_ReadSettledHive(benchmark::State &state) {
    const std::string root = MakeRoot();
    WriteHive(root, HiveText(static_cast<int>(state.range(0))), true);
    for (auto _ : state) QueryOnce(state, static_cast<int>(state.range(0)) / 2);
    RemoveRoot(root);
}
BENCHMARK(BM_ReadSettledHive)->Arg(10)->Arg(200)->Arg(2000);

void BM_ReadFreshHive(benchmark::State &state) {
    const std::string root = MakeRoot();
    WriteHive(root, HiveText(static_cast<int>(state.range(0))), false);
    for (auto _ : state) QueryOnce(state, static_cast<int>(state.range(0)) / 2);
    RemoveRoot(root);
}
BENCHMARK(BM_ReadFreshHive)->Arg(10)->Arg(200)->Arg(2000);

void BM_ParseHive(benchmark::State &state) {
    const std::string text = HiveText(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        auto parsed = wa::reg::ParseHive(text, "HKEY_LOCAL_MACHINE");
        benchmark::DoNotOptimize(parsed.root.get());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ParseHive)->Arg(10)->Arg(200)->Arg(2000);

void BM_WriteValue(benchmark::State &state) {
    const std::string root = MakeRoot();
    WriteHive(root, HiveText(static_cast<int>(state.range(0))), true);
    HKEY k = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Bench\\Key0", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                        nullptr) != ERROR_SUCCESS) {
        state.SkipWithError("create failed");
        RemoveRoot(root);
        return;
    }
    DWORD n = 0;
    for (auto _ : state) {
        ++n;
        if (RegSetValueExA(k, "Counter", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&n), 4) != ERROR_SUCCESS)
            state.SkipWithError("set failed");
    }
    RegCloseKey(k);
    RemoveRoot(root);
}
BENCHMARK(BM_WriteValue)->Arg(10)->Arg(200)->Arg(2000);

}  // namespace

BENCHMARK_MAIN();
