// links: winapi
/*
 * Registry stand-in costs: a value read from a settled (cached) hive, a read from a
 * hive rewritten moments ago (bytes compared), a first parse, and a value write
 * (lock, re-read, rewrite, rename). Hives of `range` keys with 5 values each.
 * Then whole runs of the built program with nothing to do (the Reader's cached
 * package is in place, after a first run that recorded what it found) on a hive
 * written just before: a small one (the anchor), one of 20,000 keys, and one
 * holding an 8 MiB value.
 */
#include "winapi/winapi.h"
#include "winapi/registry_hive.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

/* ---- Whole runs of the program ------------------------------------------------- */

const char kSetup[] = "C:\\\\ProgramData\\\\Adobe\\\\Setup\\\\{AC76BA86-7AD7-1033-7B44-AA1000000001}\\\\";
const char kSourceList[] =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\Products\\68AB67CA7DA73301B744AA0100000010\\SourceList";

/* The agent's settings and a Reader registration whose setup folder holds the
 * cached package, so a run finds nothing to repair. */
std::string AgentHive() {
    const std::string agent = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Vantrel\\DAZered";
    return agent + "]\n\"DAZeredInstallDir\"=\"C:\\\\Vantrel Agent\"\n\"VTProductCode\"=\"RERI\"\n"
                   "\"EnableDistributionServer\"=\"no\"\n\"ProxyEnabled\"=\"no\"\n\"DataTransferRate_KBps\"=\"0\"\n"
                   "\"DAZeredLogLevel\"=dword:00000002\n\n" +
           agent + "\\ServerInfo]\n\"VTServerName\"=\"localhost\"\n\"VTServerIPAddress\"=\"127.0.0.1\"\n"
                   "\"VTServerPort\"=\"9\"\n\"VTServerProtocol\"=\"http\"\n\n" +
           agent + "\\SystemDetails]\n\"DAZeredResourceID\"=\"R-1\"\n\n"
                   "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Nls\\Language]\n"
                   "\"InstallLanguage\"=\"0409\"\n\n" +
           kSourceList + "]\n\"LastUsedSource\"=\"n;1;" + kSetup + "\"\n\n" + kSourceList + "\\Net]\n\"1\"=\"" +
           kSetup + "\"\n\n";
}

void MakeFile(const std::string &path) {
    const std::string cmd = "mkdir -p \"$(dirname '" + path + "')\" && : > '" + path + "'";
    if (system(cmd.c_str()) != 0) abort();
}

std::string PrereqProgram() {
    char self[PATH_MAX] = {0};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) abort();
    const std::string dir(self);
    return dir.substr(0, dir.rfind('/')) + "/prereq";
}

/* Runs the program once; adds its processor time (user + system) to *cpuSeconds. */
int RunPrereq(const std::string &program, double *cpuSeconds) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execl(program.c_str(), program.c_str(), "-p", "PATCH-1", static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    *cpuSeconds += static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

/* CPU per run of the anchor (the small hive, run first) in this process. */
double gAnchorCpuMs = 0;

/* range(0): filler keys of HiveText; range(1): characters of one extra text value. */
void BM_PrereqRunNothingToDo(benchmark::State &state) {
    const std::string root = MakeRoot();
    std::string text = HiveText(static_cast<int>(state.range(0))) + AgentHive();
    if (state.range(1) > 0) {
        text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bench\\Big]\n\"Blob\"=\"" +
                std::string(static_cast<size_t>(state.range(1)), 'x') + "\"\n\n";
    }
    WriteHive(root, text, true);
    MakeFile(root + "/drive_c/ProgramData/Adobe/Setup/{AC76BA86-7AD7-1033-7B44-AA1000000001}/AcroRead.msi");
    MakeFile(root + "/drive_c/Vantrel Agent/logs/.keep");
    const std::string program = PrereqProgram();
    const std::string hive = root + "/registry/HKLM.reg";
    /* The first run records the package name it found (a real write); the runs
     * after it have nothing to do. */
    double firstRunSeconds = 0;
    if (RunPrereq(program, &firstRunSeconds) != 0) state.SkipWithError("the first run failed");
    double cpuSeconds = 0;
    for (auto _ : state) {
        /* As when the hive was written just before the run (an installer, a
         * fixture): its times are now. */
        state.PauseTiming();
        utimensat(AT_FDCWD, hive.c_str(), nullptr, 0);
        state.ResumeTiming();
        if (RunPrereq(program, &cpuSeconds) != 0) state.SkipWithError("the program failed");
    }
    state.counters["hive_bytes"] = static_cast<double>(text.size());
    /* Processor time per run, which the load of a shared machine does not stretch. */
    state.counters["cpu_ms"] = benchmark::Counter(cpuSeconds * 1000, benchmark::Counter::kAvgIterations);
    const double cpuMs = state.iterations() ? cpuSeconds * 1000 / static_cast<double>(state.iterations()) : 0;
    if (state.range(0) == 10 && state.range(1) == 0)
        gAnchorCpuMs = cpuMs;
    else if (gAnchorCpuMs > 0)
        state.counters["cpu_vs_anchor"] = cpuMs / gAnchorCpuMs;
    state.counters["first_run_cpu_ms"] = firstRunSeconds * 1000;
    RemoveRoot(root);
}
BENCHMARK(BM_PrereqRunNothingToDo)
    ->Args({10, 0})
    ->Args({20000, 0})
    ->Args({10, 8 << 20})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
