/* The throttled download: HEAD for the size, byte ranges of rate x 500 bytes,
 * a recorded pause after each range, and what a server's odd answers do. */
#include "transfer/download.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "agent/settings.h"
#include "support/http_server.h"
#include "transfer/routing.h"
#include "transfer/session.h"
#include "transfer_fixture.h"
#include "winapi/wa_testhooks.h"

namespace {

using transfer_test::Wide;
using vt_test::CannedResponse;

class ThrottledDownload : public transfer_test::TransferTest {
protected:
    /* The throttled download makes no folder: the destination's exists. */
    void SetUp() override
    {
        TransferTest::SetUp();
        vt_test::MakeDirs(Host("C:\\dl"));
    }
    DWORD GetFile(int port, const char *path, const std::string &destination)
    {
        std::wstring wpath = Wide(path), wdest = Wide(destination);
        return InternetGetRequestByBitrate(false, "http", L"127.0.0.1", port, nullptr, nullptr, nullptr, nullptr,
                                           wpath.c_str(), wdest.c_str(), nullptr, DOWNLOAD_FILE, false);
    }
    static std::vector<std::string> Ranges(const vt_test::TestHttpServer &server)
    {
        std::vector<std::string> ranges;
        for (const vt_test::RecordedRequest &r : server.Requests())
            ranges.push_back(r.method + " " + r.Header("Range"));
        return ranges;
    }
    static bool TempFilesIn(const std::string &hostFolder)
    {
        std::error_code ec;
        for (const auto &entry : std::filesystem::directory_iterator(hostFolder, ec))
            if (entry.path().extension() == ".tmp")
                return true;
        return false;
    }
};

TEST_F(ThrottledDownload, RangesFollowTheBlockSizeWithAPauseAfterEach)
{
    struct Case {
        int rate;
        uint64_t size;
        std::vector<std::string> requests;
    } cases[] = {
        {1, 1200, {"HEAD ", "GET bytes=0-500", "GET bytes=501-1000", "GET bytes=1001-1200"}},
        /* The second range already ends on the last byte: no range past the end. */
        {1, 1001, {"HEAD ", "GET bytes=0-500", "GET bytes=501-1000"}},
        {2, 1000, {"HEAD ", "GET bytes=0-1000"}},
        {1, 1, {"HEAD ", "GET bytes=0-1"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + "/" + std::to_string(c.size));
        vt_test::TestHttpServer server;
        ASSERT_TRUE(server.ok());
        server.Serve("GET", "/pkg.msi", CannedResponse::Generated(c.size, true));
        SetInt(&gv_dataTransferRateKBps, c.rate);
        wa_test::ClearRecordedSleeps();

        EXPECT_EQ(0u, GetFile(server.port(), "/pkg.msi", "C:\\dl\\pkg.msi"));
        EXPECT_EQ(c.requests, Ranges(server));
        EXPECT_TRUE(ReadHostFile("C:\\dl\\pkg.msi") == vt_test::GeneratedBytes(0, c.size));
        EXPECT_FALSE(TempFilesIn(Host("C:\\dl")));
        std::vector<DWORD> pauses = wa_test::RecordedSleeps();
        ASSERT_EQ(c.requests.size() - 1, pauses.size());
        for (DWORD pause : pauses) {
            EXPECT_GE(pause, 100u);
            EXPECT_LE(pause, 600u);
        }
        for (const vt_test::RecordedRequest &r : server.Requests())
            EXPECT_EQ("Keep-Alive", r.Header("Connection"));
    }
    EXPECT_EQ(1, log_->Count("DEBUG", "InternetGetRequestByBitrate: Content-Range Header message: Range: "
                                      "bytes=1001-1200\n"));
    EXPECT_EQ(3, log_->Count("DEBUG", "InternetGetRequestByBitrate: Block of bytes to read: 500\n"));
}

TEST_F(ThrottledDownload, EmptyResourceNeedsOnlyTheHeadRequest)
{
    vt_test::TestHttpServer server;
    ASSERT_TRUE(server.ok());
    server.Serve("GET", "/empty", CannedResponse::Text(200, ""));
    SetInt(&gv_dataTransferRateKBps, 1);
    EXPECT_EQ(0u, GetFile(server.port(), "/empty", "C:\\dl\\empty.bin"));
    EXPECT_EQ(std::vector<std::string>{"HEAD "}, Ranges(server));
    EXPECT_TRUE(Exists("C:\\dl\\empty.bin"));
    EXPECT_EQ("", ReadHostFile("C:\\dl\\empty.bin"));
    EXPECT_TRUE(wa_test::RecordedSleeps().empty());
}

TEST_F(ThrottledDownload, ServerIgnoringTheRangeGivesTheBodyOnce)
{
    vt_test::TestHttpServer server;
    ASSERT_TRUE(server.ok());
    server.Serve("GET", "/pkg.msi", CannedResponse::Generated(1200, false));
    SetInt(&gv_dataTransferRateKBps, 1);
    EXPECT_EQ(0u, GetFile(server.port(), "/pkg.msi", "C:\\dl\\pkg.msi"));
    std::string body = ReadHostFile("C:\\dl\\pkg.msi");
    EXPECT_EQ(1200u, body.size());
    EXPECT_TRUE(body == vt_test::GeneratedBytes(0, 1200));
    EXPECT_EQ((std::vector<std::string>{"HEAD ", "GET bytes=0-500"}), Ranges(server));
}

TEST_F(ThrottledDownload, FailuresLeaveTheOldFileAndNoTemporaryFile)
{
    struct Case {
        const char *name;
        std::function<CannedResponse(const vt_test::RecordedRequest &)> handler;
        DWORD result;
        size_t requests;
    } cases[] = {
        {"416 on a range",
         [](const vt_test::RecordedRequest &r) {
             return r.method == "HEAD" ? CannedResponse::Text(200, std::string(1200, 'x'))
                                       : CannedResponse::Text(416, "");
         },
         416, 2},
        {"404 on the size request", [](const vt_test::RecordedRequest &) { return CannedResponse::Text(404, ""); },
         404, 1},
        {"304 on the size request", [](const vt_test::RecordedRequest &) { return CannedResponse::Text(304, ""); },
         RESULT_NOT_MODIFIED, 1},
        {"500 on the second range",
         [](const vt_test::RecordedRequest &r) {
             if (r.Header("Range") == "bytes=501-1000")
                 return CannedResponse::Text(500, "");
             return CannedResponse::Generated(1200, true);
         },
         500, 3},
        /* The size request announces more than the ranges deliver: the first
         * range names another length and ends the download. */
        {"fewer bytes than announced",
         [](const vt_test::RecordedRequest &r) {
             return r.method == "HEAD" ? CannedResponse::Text(200, std::string(1500, 'x'))
                                       : CannedResponse::Generated(1200, true);
         },
         RESULT_TRANSFER_INCOMPLETE, 2},
    };
    SetInt(&gv_dataTransferRateKBps, 1);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        vt_test::TestHttpServer server;
        ASSERT_TRUE(server.ok());
        server.Serve("GET", "/pkg.msi", c.handler);
        vt_test::MakeDirs(Host("C:\\dl"));
        vt_test::WriteWholeFile(Host("C:\\dl\\pkg.msi"), "old");
        EXPECT_EQ(c.result, GetFile(server.port(), "/pkg.msi", "C:\\dl\\pkg.msi"));
        EXPECT_EQ(c.requests, server.RequestCount());
        EXPECT_EQ("old", ReadHostFile("C:\\dl\\pkg.msi"));
        EXPECT_FALSE(TempFilesIn(Host("C:\\dl")));
    }
    EXPECT_EQ(1, log_->Count("ERROR", "InternetGetRequestByBitrate : Failed with the http status code 416 \n"));
    EXPECT_EQ(1, log_->Count("ERROR", "InternetGetRequestByBitrate : Failed with the http status code: 404 \n"));
    EXPECT_EQ(1, log_->Count("ERROR", "InternetGetRequestByBitrate : The answer holds other bytes than bytes=0-500 "
                                      "of 1500 (Content-Range: bytes 0-500/1200) --> 12030 \n"));
    EXPECT_EQ(1, log_->Count("INFO", "InternetGetRequestByBitrate : File not modified since the time: (null)\n"));
    EXPECT_EQ(2, log_->Count("INFO", "InternetGetRequestByBitrate : Content Length of the request file: 1200 Bytes\n"));
}

TEST_F(ThrottledDownload, SizeRequestIsConditionalAndTheRangesAreNot)
{
    const std::string stamp = "Thu, 03 Dec 2026 12:00:00 GMT";
    vt_test::TestHttpServer server;
    ASSERT_TRUE(server.ok());
    server.Serve("GET", "/pkg.msi", [&](const vt_test::RecordedRequest &r) {
        if (r.Header("If-Modified-Since") == stamp)
            return CannedResponse::Text(304, "");
        CannedResponse answer = CannedResponse::Generated(1200, true);
        answer.headers.push_back({"Last-Modified", stamp});
        return answer;
    });
    SetInt(&gv_dataTransferRateKBps, 1);
    SetIfModifiedSinceEnabled(1);

    /* The HEAD's Last-Modified is recorded; the ranges carry only their Range line. */
    EXPECT_EQ(0u, GetFile(server.port(), "/pkg.msi", "C:\\dl\\pkg.msi"));
    ASSERT_NE(nullptr, gv_lastModifiedTime);
    EXPECT_EQ(Wide(stamp), std::wstring(gv_lastModifiedTime));
    std::vector<vt_test::RecordedRequest> requests = server.Requests();
    ASSERT_EQ(4u, requests.size());
    for (const vt_test::RecordedRequest &r : requests)
        EXPECT_FALSE(r.HasHeader("If-Modified-Since")) << r.method << " " << r.Header("Range");

    /* Next time the size request is conditional: 304 ends the download at once. */
    server.ClearRequests();
    wa_test::ClearRecordedSleeps();
    EXPECT_EQ(static_cast<DWORD>(RESULT_NOT_MODIFIED), GetFile(server.port(), "/pkg.msi", "C:\\dl\\pkg.msi"));
    EXPECT_EQ((std::vector<std::string>{"HEAD "}), Ranges(server));
    EXPECT_EQ(stamp, server.Requests().at(0).Header("If-Modified-Since"));
    EXPECT_TRUE(ReadHostFile("C:\\dl\\pkg.msi") == vt_test::GeneratedBytes(0, 1200));
    EXPECT_FALSE(TempFilesIn(Host("C:\\dl")));
    EXPECT_TRUE(wa_test::RecordedSleeps().empty());
    EXPECT_EQ(1, log_->Count("INFO", "InternetGetRequestByBitrate : File not modified since the time: " + stamp + "\n"));
}

TEST_F(ThrottledDownload, NoFolderIsMadeForTheDestination)
{
    vt_test::TestHttpServer server;
    ASSERT_TRUE(server.ok());
    server.Serve("GET", "/pkg.msi", CannedResponse::Generated(100, true));
    SetInt(&gv_dataTransferRateKBps, 1);
    DWORD result = GetFile(server.port(), "/pkg.msi", "C:\\missing\\pkg.msi");
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), result);
    EXPECT_FALSE(Exists("C:\\missing"));
    EXPECT_EQ(1, log_->Count("ERROR", "InternetGetRequestByBitrate: Error occured while creating the file --> 3 \n"));
    EXPECT_EQ(1u, server.RequestCount());
}

TEST_F(ThrottledDownload, InMemoryDataThroughRanges)
{
    /* The handler reads `text` on a server thread: it must outlive the server. */
    std::string text;
    for (int i = 0; i < 150; ++i)
        text += "line " + std::to_string(i) + "\r\n";
    vt_test::TestHttpServer server;
    ASSERT_TRUE(server.ok());
    server.Serve("GET", "/data", [&](const vt_test::RecordedRequest &r) {
        std::string range = r.Header("Range");
        if (range.empty())
            return CannedResponse::Text(200, text);
        size_t from = std::stoul(range.substr(6));
        size_t to = std::stoul(range.substr(range.find('-') + 1));
        to = std::min(to, text.size() - 1);
        return CannedResponse::Text(206, text.substr(from, to - from + 1),
                                    {{"Content-Range", "bytes " + std::to_string(from) + "-" + std::to_string(to) +
                                                           "/" + std::to_string(text.size())}});
    });
    SetInt(&gv_dataTransferRateKBps, 1);
    char *data = nullptr;
    std::wstring path = L"/data";
    EXPECT_EQ(0u, InternetGetRequestByBitrate(false, "http", L"127.0.0.1", server.port(), nullptr, nullptr, nullptr,
                                              nullptr, path.c_str(), nullptr, &data, GET_DATA, false));
    ASSERT_NE(nullptr, data);
    std::string expected;
    for (int i = 0; i < 150; ++i)
        expected += "line " + std::to_string(i) + "\n";
    EXPECT_EQ(expected, std::string(data));
    free(data);
    EXPECT_FALSE(TempFilesIn(Host("C:\\Temp")));
}

TEST_F(ThrottledDownload, WholeBodyOnALaterRangeReplacesWhatCameBefore)
{
    /* The first range is honoured, the second answered with 200 and the whole
     * body: the file is that body once and the byte count starts again. */
    vt_test::TestHttpServer server;
    ASSERT_TRUE(server.ok());
    server.Serve("GET", "/pkg.msi", [](const vt_test::RecordedRequest &r) {
        if (r.method == "GET" && r.Header("Range") != "bytes=0-500")
            return CannedResponse::Generated(1200, false);
        return CannedResponse::Generated(1200, true);
    });
    SetInt(&gv_dataTransferRateKBps, 1);
    EXPECT_EQ(0u, GetFile(server.port(), "/pkg.msi", "C:\\dl\\pkg.msi"));
    EXPECT_TRUE(ReadHostFile("C:\\dl\\pkg.msi") == vt_test::GeneratedBytes(0, 1200));
    EXPECT_EQ((std::vector<std::string>{"HEAD ", "GET bytes=0-500", "GET bytes=501-1000"}), Ranges(server));
    EXPECT_EQ(1, log_->Count("INFO", "InternetGetRequestByBitrate: Total bytes readed = 1200\n"));
    EXPECT_FALSE(TempFilesIn(Host("C:\\dl")));
}

}  // namespace
