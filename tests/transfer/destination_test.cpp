/* What may stand under a download's destination name: the old file or the whole
 * new one, never part of one, never bytes a server put in the wrong place, never
 * a file reached through a planted link; and servers too slow to finish. */
#include "transfer/download.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>

#include "agent/settings.h"
#include "support/http_server.h"
#include "transfer/internal.h"
#include "transfer/routing.h"
#include "transfer_fixture.h"

namespace {

using transfer_test::Wide;
using vt_test::CannedResponse;
using vt_test::RecordedRequest;

const char kDestination[] = "C:\\dl\\x.msi";

bool IsLink(const std::string &path)
{
#ifdef _WIN32
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
#else
    return std::filesystem::is_symlink(path);
#endif
}

/* Plants a symbolic link at `link` to `target`: "" or why the host could not. */
std::string PlantLink(const std::string &target, const std::string &link)
{
#ifdef _WIN32
    /* A developer-mode Windows makes links without the privilege when asked to; older ones refuse the flag. */
    if (CreateSymbolicLinkA(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) ||
        CreateSymbolicLinkA(link.c_str(), target.c_str(), 0))
        return IsLink(link) ? "" : "CreateSymbolicLinkA answers success and makes no link (Wine's stub)";
    return "CreateSymbolicLinkA fails with " + std::to_string(GetLastError());
#else
    std::error_code linked;
    std::filesystem::create_symlink(target, link, linked);
    return linked ? linked.message() : "";
#endif
}

class DestinationTest : public transfer_test::TransferTest {
protected:
    void SetUp() override
    {
        TransferTest::SetUp();
        vt_test::MakeDirs(Host("C:\\dl"));
        savedTimeout_ = gv_httpRequestTimeout;
    }
    void TearDown() override
    {
        gv_httpRequestTimeout = savedTimeout_;
        TransferTest::TearDown();
    }
    DWORD Get(bool throttled, int port, const char *path = "/x.msi")
    {
        std::wstring wpath = Wide(path), wdest = Wide(kDestination);
        SetInt(&gv_dataTransferRateKBps, throttled ? 2 : 0);
        if (throttled)
            return InternetGetRequestByBitrate(false, "http", L"127.0.0.1", port, nullptr, nullptr, nullptr, nullptr,
                                               wpath.c_str(), wdest.c_str(), nullptr, DOWNLOAD_FILE, false);
        return InternetGetRequestEx(false, "http", L"127.0.0.1", port, nullptr, nullptr, nullptr, nullptr,
                                    wpath.c_str(), wdest.c_str(), nullptr, DOWNLOAD_FILE, false);
    }
    std::string TempName() const
    {
        return std::string(kDestination) + std::to_string(static_cast<int>(GetCurrentThreadId())) + ".tmp";
    }
    bool NoTempFiles() const
    {
        std::error_code ec;
        for (const auto &entry : std::filesystem::directory_iterator(Host("C:\\dl"), ec))
            if (entry.path().extension() == ".tmp")
                return false;
        return true;
    }

    DWORD savedTimeout_ = 0;
};

/* A server that answers each range with a 206 of its own making. */
void ServeRanges(vt_test::TestHttpServer *server, uint64_t size,
                 std::function<CannedResponse(uint64_t first, uint64_t last)> answer)
{
    server->Serve("GET", "/x.msi", [size, answer](const RecordedRequest &request) {
        if (request.method == "HEAD")
            return CannedResponse::Text(200, vt_test::GeneratedBytes(0, size));
        unsigned long long first = 0, last = 0;
        sscanf(request.Header("Range").c_str(), "bytes=%llu-%llu", &first, &last);
        if (last >= size)
            last = size - 1;
        return answer(first, last);
    });
}

TEST_F(DestinationTest, RangesThatAreNotTheOnesAskedForFailAndLeaveTheOldFile)
{
    const uint64_t size = 2500;  // rate 2: ranges of 1000 bytes
    const std::string total = "/" + std::to_string(size);
    struct Case {
        const char *name;
        std::function<CannedResponse(uint64_t, uint64_t)> answer;
    } cases[] = {
        {"every range from byte 0",
         [&](uint64_t first, uint64_t last) {
             const uint64_t n = last - first + 1;
             return CannedResponse::Text(206, vt_test::GeneratedBytes(0, n),
                                         {{"Content-Range", "bytes 0-" + std::to_string(n - 1) + total}});
         }},
        {"no Content-Range",
         [&](uint64_t first, uint64_t last) {
             return CannedResponse::Text(206, vt_test::GeneratedBytes(first, last - first + 1));
         }},
        {"another total",
         [&](uint64_t first, uint64_t last) {
             return CannedResponse::Text(206, vt_test::GeneratedBytes(first, last - first + 1),
                                         {{"Content-Range", "bytes " + std::to_string(first) + "-" +
                                                                std::to_string(last) + "/9999"}});
         }},
        {"fewer bytes than the header names",
         [&](uint64_t first, uint64_t last) {
             return CannedResponse::Text(206, vt_test::GeneratedBytes(first, last - first),
                                         {{"Content-Range", "bytes " + std::to_string(first) + "-" +
                                                                std::to_string(last) + total}});
         }},
        {"unreadable Content-Range",
         [&](uint64_t first, uint64_t last) {
             return CannedResponse::Text(206, vt_test::GeneratedBytes(first, last - first + 1),
                                         {{"Content-Range", "bytes " + std::to_string(first) + "-*" + total}});
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        vt_test::TestHttpServer server;
        ASSERT_TRUE(server.ok());
        ServeRanges(&server, size, c.answer);
        vt_test::WriteWholeFile(Host(kDestination), "old package");
        EXPECT_EQ(static_cast<DWORD>(RESULT_TRANSFER_INCOMPLETE), Get(true, server.port()));
        EXPECT_EQ("old package", ReadHostFile(kDestination));
        EXPECT_TRUE(NoTempFiles());
    }

    /* The same server telling the truth: the whole file. */
    vt_test::TestHttpServer server;
    ASSERT_TRUE(server.ok());
    ServeRanges(&server, size, [&](uint64_t first, uint64_t last) {
        return CannedResponse::Text(206, vt_test::GeneratedBytes(first, last - first + 1),
                                    {{"Content-Range", "bytes " + std::to_string(first) + "-" + std::to_string(last) +
                                                           total}});
    });
    EXPECT_EQ(0u, Get(true, server.port()));
    EXPECT_EQ(vt_test::GeneratedBytes(0, size), ReadHostFile(kDestination));
}

TEST_F(DestinationTest, LinksPlantedAtTheNamesAreReplacedNeverWrittenThrough)
{
    vt_test::TestHttpServer server;
    ASSERT_TRUE(server.ok());
    server.Serve("GET", "/x.msi", CannedResponse::Generated(3000));
    const std::string victim = Host("C:\\victim.txt");
    for (const bool throttled : {false, true}) {
        for (const bool atTemp : {false, true}) {
            SCOPED_TRACE(std::string(throttled ? "throttled" : "plain") + (atTemp ? ", temporary name" : ", final name"));
            vt_test::WriteWholeFile(victim, "not yours");
            std::remove(Host(kDestination).c_str());
            const std::string linkAt = Host(atTemp ? TempName() : kDestination);
            const std::string failure = PlantLink(victim, linkAt);
#ifdef _WIN32
            if (!failure.empty()) GTEST_SKIP() << "this Windows cannot make symbolic links: " << failure;
#endif
            ASSERT_EQ(failure, "");
            ASSERT_TRUE(IsLink(linkAt));

            EXPECT_EQ(0u, Get(throttled, server.port()));
            EXPECT_EQ("not yours", vt_test::ReadWholeFile(victim));
            EXPECT_FALSE(IsLink(Host(kDestination)));
            EXPECT_EQ(vt_test::GeneratedBytes(0, 3000), ReadHostFile(kDestination));
            EXPECT_TRUE(NoTempFiles());
        }
    }
}

TEST_F(DestinationTest, AFailedDownloadLeavesTheOldFileAndASuccessReplacesIt)
{
    vt_test::TestHttpServer server;
    ASSERT_TRUE(server.ok());
    server.Serve("GET", "/x.msi", CannedResponse::Generated(5000));
    /* A body cut short (plain) and a missing file (throttled). */
    vt_test::RawSocketServer cut("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\nshort");
    ASSERT_TRUE(cut.ok());
    for (const bool throttled : {false, true}) {
        SCOPED_TRACE(throttled ? "throttled" : "plain");
        vt_test::WriteWholeFile(Host(kDestination), "old package");
        EXPECT_NE(0u, throttled ? Get(true, server.port(), "/missing.msi") : Get(false, cut.port()));
        EXPECT_EQ("old package", ReadHostFile(kDestination));
        EXPECT_EQ(0u, Get(throttled, server.port()));
        EXPECT_EQ(vt_test::GeneratedBytes(0, 5000), ReadHostFile(kDestination));
        EXPECT_TRUE(NoTempFiles());
    }
    EXPECT_EQ(1, log_->Count("INFO", "InternetGetRequestEx : Successfully downloaded the file /x.msi from the server "
                                     "127.0.0.1 to the destination file C:\\dl\\x.msi \n"));
    EXPECT_EQ(1, log_->Count("INFO", "InternetGetRequestByBitrate : Successfully downloaded the file /x.msi from "
                                     "the server 127.0.0.1\n"));
}

TEST_F(DestinationTest, AServerThatTricklesIsGivenUp)
{
    /* One byte every 300 ms against a receive time-out of 100 ms. */
    gv_httpRequestTimeout = 100;
    vt_test::TestHttpServer server;
    ASSERT_TRUE(server.ok());
    server.Serve("GET", "/x.msi", CannedResponse::Paced(50, 1, 300));
    for (const bool throttled : {false, true}) {
        SCOPED_TRACE(throttled ? "throttled" : "plain");
        vt_test::WriteWholeFile(Host(kDestination), "old package");
        EXPECT_EQ(static_cast<DWORD>(ERROR_WINHTTP_TIMEOUT), Get(throttled, server.port()));
        EXPECT_EQ("old package", ReadHostFile(kDestination));
        EXPECT_TRUE(NoTempFiles());
    }
    EXPECT_EQ(1, log_->Count("ERROR", "InternetGetRequestEx : The server sends too slowly, the transfer is given up "
                                      "--> 12002 \n"));
    EXPECT_EQ(1, log_->Count("ERROR", "InternetGetRequestByBitrate : The server sends too slowly, the transfer is "
                                      "given up --> 12002 \n"));
}

TEST(ProgressGuard, IdleLimitAndRateFloorOverAWindow)
{
    using namespace transfer_detail;
    ProgressGuard guard;
    /* Idle: more than the limit since the last byte; the clock may wrap. */
    const DWORD start = 0xFFFFFF00u;
    StartProgressGuard(&guard, 1000, 0, start);
    EXPECT_FALSE(ProgressStalled(&guard, start + 1000));
    NoteProgress(&guard, 0, start + 900);  // nothing arrived: no progress
    EXPECT_TRUE(ProgressStalled(&guard, start + 1001));
    NoteProgress(&guard, 1, start + 1001);
    EXPECT_FALSE(ProgressStalled(&guard, start + 2000));
    RestartIdleClock(&guard, start + 5000);
    EXPECT_FALSE(ProgressStalled(&guard, start + 5900));

    /* Floor 1024 B/s over the window: a window just below fails, one at the
     * floor starts the next window, whose bytes are counted afresh. */
    StartProgressGuard(&guard, 0, 1024, 0);
    const unsigned long long atFloor = 1024ULL * kProgressWindowMs / 1000;
    NoteProgress(&guard, static_cast<DWORD>(atFloor), 1000);
    EXPECT_FALSE(ProgressStalled(&guard, kProgressWindowMs - 1));
    EXPECT_FALSE(ProgressStalled(&guard, kProgressWindowMs));
    NoteProgress(&guard, static_cast<DWORD>(atFloor - 1), kProgressWindowMs + 10);
    EXPECT_FALSE(ProgressStalled(&guard, 2 * kProgressWindowMs - 1));
    EXPECT_TRUE(ProgressStalled(&guard, 2 * kProgressWindowMs));
}

}  // namespace
