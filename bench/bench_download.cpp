// links: vt_transfer vt_testsupport
/* Plain DOWNLOAD_FILE of a large file from a loopback server, against curl
 * fetching the same URL in the same run. Reports the wall time per download and
 * the peak resident memory while the agent's download ran.
 *
 * BM_ProgramVsCurl runs the whole program (check, repair with its download,
 * Installer values, a do-nothing msiexec) and curl in pairs from the same server
 * (a sendfile(2) server on a 256 MiB package file) and reports the medians, their ratio and the program's peak resident memory. */
#include <benchmark/benchmark.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

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

/* ---- The whole program ------------------------------------------------------- */

const char kPackage[] = "300297-AdbeRdr1010_en_US.msi";

std::string RegValue(const std::string &name, const std::string &text)
{
    std::string escaped;
    for (char c : text)
        escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return "\"" + name + "\"=\"" + escaped + "\"\n";
}

/* A machine whose Reader source is missing, so that every run repairs it. */
void PrepareMachine(const vt_test::ScratchRoot &root, int port)
{
    const std::string agent = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Vantrel\\DAZered";
    std::string hive = agent + "]\n" + RegValue("DAZeredInstallDir", "C:\\Agent") + RegValue("DAZeredVersion", "7.2.0") +
                       RegValue("MSPName", "MSP") + RegValue("CustomerName", "Customer") + RegValue("CustomerId", "C1") +
                       RegValue("EnableDSRoute", "no") +
                       RegValue("VTProductCode", "RERI") + RegValue("EnableDistributionServer", "no") +
                       RegValue("ProxyEnabled", "no") + RegValue("DataTransferRate_KBps", "0") +
                       "\"DAZeredLogLevel\"=dword:00000002\n\n" + agent + "\\ServerInfo]\n" +
                       RegValue("VTServerName", "localhost") + RegValue("VTServerFlatName", "localhost") +
                       RegValue("VTServerIPAddress", "127.0.0.1") + RegValue("VTServerSecIPAddress", "127.0.0.1") + RegValue("VTLastAccessName", "127.0.0.1") +
                       RegValue("VTServerPort", std::to_string(port)) + RegValue("VTServerProtocol", "http") + "\n" +
                       agent + "\\SystemDetails]\n" + RegValue("DAZeredResourceID", "R-1") + "\n" +
                       "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Nls\\Language]\n" +
                       RegValue("InstallLanguage", "0409") + "\n";
    root.WriteHive(hive);
    vt_test::MakeDirs(root.Host("C:\\Agent\\patches"));
    const std::string msiexec = root.Host("C:\\Windows\\system32\\msiexec.exe");
    vt_test::MakeDirs(msiexec.substr(0, msiexec.rfind('/')));
    vt_test::WriteWholeFile(msiexec, "#!/bin/sh\nexit 0\n");
    chmod(msiexec.c_str(), 0755);
}

/* Runs a program to its end; wall milliseconds, its peak resident KiB in *peak and
 * its processor time (user + system) in *cpuMs. */
double RunTimed(const std::vector<std::string> &args, const std::string &rootEnv, long *peak, double *cpuMs)
{
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        putenv(const_cast<char *>(rootEnv.c_str()));
        freopen("/dev/null", "w", stdout);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    memset(&usage, 0, sizeof usage);
    wait4(pid, &status, 0, &usage);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    *peak = usage.ru_maxrss;
    *cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
             (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ms : -1;
}

/* Complete downloads the program's log reports. The bytes are no Installer
 * package, so the run's package check removes them again afterwards: the pair
 * times the download and the program around it, without an install. */
size_t Downloads(const std::string &log)
{
    const std::string text = vt_test::ReadWholeFile(log);
    size_t n = 0;
    for (size_t at = text.find("Successfully downloaded the file"); at != std::string::npos;
         at = text.find("Successfully downloaded the file", at + 1))
        ++n;
    return n;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

/* A file server that does nothing but answer every request with the whole file
 * through sendfile(2): fast enough that the clients, not the server, set the
 * pace. Runs until the listening socket is shut down. */
void ServeFile(int listener, const std::string &path)
{
    for (;;) {
        const int fd = accept(listener, nullptr, nullptr);
        if (fd < 0)
            return;
        std::string head;
        char buf[4096];
        while (head.find("\r\n\r\n") == std::string::npos) {
            const ssize_t n = read(fd, buf, sizeof buf);
            if (n <= 0)
                break;
            head.append(buf, static_cast<size_t>(n));
        }
        const int file = open(path.c_str(), O_RDONLY);
        struct stat st;
        fstat(file, &st);
        const std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                                   std::to_string(st.st_size) + "\r\nConnection: close\r\n\r\n";
        if (write(fd, answer.data(), answer.size()) == static_cast<ssize_t>(answer.size())) {
            off_t offset = 0;
            while (offset < st.st_size && sendfile(fd, file, &offset, static_cast<size_t>(st.st_size - offset)) > 0) {
            }
        }
        close(file);
        close(fd);
    }
}

void BM_ProgramVsCurl(benchmark::State &state)
{
    vt_test::ScratchRoot root;
    const std::string store = root.path() + "/store";
    vt_test::MakeDirs(store);
    {
        std::ofstream out(store + "/" + kPackage, std::ios::binary);
        for (uint64_t at = 0; at < kFileBytes; at += 1 << 20)
            out << vt_test::GeneratedBytes(at, 1 << 20);
    }
    int port = 0;
    const int listener = vt_test::ListenLoopback(&port);
    if (listener < 0) {
        state.SkipWithError("no loopback socket");
        return;
    }
    std::thread server(ServeFile, listener, store + "/" + kPackage);
    PrepareMachine(root, port);
    const std::string curlTarget = root.path() + "/curl.bin";
    const std::string rootEnv = "WINAPI_ROOT=" + root.path();
    const std::string package = root.Host(std::string("C:\\Agent\\patches\\") + kPackage);
    const std::string log = root.Host("C:\\Agent\\logs\\rozedidavevazez.log");
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/store/" + kPackage;
    std::vector<double> program, curl, ratios, programCpu, curlCpu;
    long programPeak = 0;
    for (auto _ : state) {
        long peak = 0;
        /* Each pair starts from the same state: no package under the final name. */
        std::remove(package.c_str());
        const size_t before = Downloads(log);
        double pCpu = 0, cCpu = 0;
        const double p = RunTimed({VT_PREREQ_EXE, "-p", "PATCH-1"}, rootEnv, &peak, &pCpu);
        if (p < 0 || Downloads(log) != before + 1) {
            state.SkipWithError("the program did not download the package");
            break;
        }
        programPeak = std::max(programPeak, peak);
        std::remove(curlTarget.c_str());
        long curlPeak = 0;
        const double c = RunTimed({"curl", "-s", "-o", curlTarget, url}, rootEnv, &curlPeak, &cCpu);
        if (c < 0) {
            state.SkipWithError("curl failed");
            break;
        }
        program.push_back(p);
        curl.push_back(c);
        ratios.push_back(p / c);
        programCpu.push_back(pCpu);
        curlCpu.push_back(cCpu);
    }
    if (!program.empty()) {
        state.counters["program_median_ms"] = Median(program);
        state.counters["curl_median_ms"] = Median(curl);
        state.counters["ratio_of_medians"] = Median(program) / Median(curl);
        state.counters["median_pair_ratio"] = Median(ratios);
        state.counters["program_peak_rss_MiB"] = programPeak / 1024.0;
        /* Processor time suffers less than wall time from a loaded machine. */
        state.counters["program_cpu_median_ms"] = Median(programCpu);
        state.counters["curl_cpu_median_ms"] = Median(curlCpu);
    }
    shutdown(listener, SHUT_RDWR);
    close(listener);
    server.join();
}

BENCHMARK(BM_ProgramVsCurl)->Iterations(7)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CurlDownload)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AgentDownloadFile)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CurlDownload)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
