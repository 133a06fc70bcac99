/* Request handles as the downloads receive them: the verb and header lines each
 * request mode sends, the status left in the record with all three handles open
 * for the caller, and the recording of Last-Modified. */
#include "transfer/session.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <wchar.h>

#include <string>

#include "support/http_server.h"
#include "transfer/routing.h"
#include "transfer_fixture.h"

namespace {

using transfer_test::Wide;
using vt_test::CannedResponse;

const char kStamp[] = "Wed, 02 Dec 2026 08:30:00 GMT";

class RequestHandle : public transfer_test::TransferTest {
protected:
    DWORD Open(int port, int mode, const WCHAR *extraHeader, InternetRequestHandle *handle)
    {
        handle->requestMode = mode;
        handle->extraHeader = extraHeader;
        return GetInternetRequestHandle(false, "http", L"127.0.0.1", port, nullptr, nullptr, nullptr, nullptr,
                                        L"/res", nullptr, nullptr, DOWNLOAD_FILE, true, handle);
    }
    /* Stores `text` as the recorded Last-Modified time (null forgets it). */
    void Record(const char *text)
    {
        ClearLastModifiedTime();
        if (text != nullptr) {
            std::wstring wide = Wide(text);
            gv_lastModifiedTime = static_cast<WCHAR *>(calloc(wide.size() + 1, sizeof(WCHAR)));
            wmemcpy(gv_lastModifiedTime, wide.c_str(), wide.size());
        }
    }
};

TEST_F(RequestHandle, ModeChoosesVerbAndSecondHeaderAndTheStatusIsLeftForTheCaller)
{
    struct Case {
        const char *name;
        int mode;
        const WCHAR *extraHeader;
        int enabled;
        const char *recorded;
        int status;
        const char *verb;
        const char *range;             /* "" when none is sent */
        const char *ifModifiedSince;   /* "" when none is sent */
    } cases[] = {
        {"GET, 404", REQUEST_MODE_GET, nullptr, 0, kStamp, 404, "GET", "", ""},
        {"HEAD, 500", REQUEST_MODE_HEAD, nullptr, 0, nullptr, 500, "HEAD", "", ""},
        {"GET, conditional", REQUEST_MODE_GET, nullptr, 1, kStamp, 200, "GET", "", kStamp},
        {"HEAD, conditional", REQUEST_MODE_HEAD, nullptr, 1, kStamp, 304, "HEAD", "", kStamp},
        {"GET, switched on without a recorded time", REQUEST_MODE_GET, nullptr, 1, nullptr, 200, "GET", "", ""},
        {"range, never conditional", REQUEST_MODE_RANGE, L"Range: bytes=0-9", 1, kStamp, 206, "GET", "bytes=0-9",
         ""},
    };
    vt_test::TestHttpServer server;
    ASSERT_TRUE(server.ok());
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        server.ClearRequests();
        server.Serve("GET", "/res", CannedResponse::Text(c.status, c.status == 304 ? "" : "body"));
        SetIfModifiedSinceEnabled(c.enabled);
        Record(c.recorded);

        InternetRequestHandle handle = {};
        EXPECT_EQ(0u, Open(server.port(), c.mode, c.extraHeader, &handle));
        EXPECT_EQ(static_cast<DWORD>(c.status), handle.statusCode);
        /* Whatever the status, the caller gets all three handles to close. */
        EXPECT_NE(nullptr, handle.hSession);
        EXPECT_NE(nullptr, handle.hConnect);
        EXPECT_NE(nullptr, handle.hRequest);
        CloseRequestHandles(&handle, "Test");
        EXPECT_EQ(nullptr, handle.hRequest);
        EXPECT_EQ(nullptr, handle.hConnect);
        EXPECT_EQ(nullptr, handle.hSession);

        ASSERT_EQ(1u, server.RequestCount());
        vt_test::RecordedRequest r = server.Requests()[0];
        EXPECT_EQ(c.verb, r.method);
        EXPECT_EQ(c.range, r.Header("Range"));
        EXPECT_EQ(c.ifModifiedSince, r.Header("If-Modified-Since"));
        EXPECT_EQ("*/*", r.Header("Accept"));
        EXPECT_EQ("Keep-Alive", r.Header("Connection"));
    }
    EXPECT_EQ(2, log_->Count("DEBUG", std::string("GetInternetRequestHandle : If-Modified-Since: ") + kStamp + "\n"));
}

TEST_F(RequestHandle, LastModifiedIsRecordedWhenSentAndKeptWhenNot)
{
    vt_test::TestHttpServer server;
    ASSERT_TRUE(server.ok());
    server.Serve("GET", "/stamped", CannedResponse::Text(200, "x", {{"Last-Modified", kStamp}}));
    server.Serve("GET", "/plain", CannedResponse::Text(200, "x"));

    /* Present: a copy replaces the stored text. */
    Record("older text");
    InternetRequestHandle handle = {};
    ASSERT_EQ(0u, GetInternetRequestHandle(false, "http", L"127.0.0.1", server.port(), nullptr, nullptr, nullptr,
                                           nullptr, L"/stamped", nullptr, nullptr, DOWNLOAD_FILE, false, &handle));
    EXPECT_EQ(0u, GetFilelastmodifiedTime(&handle, &gv_lastModifiedTime));
    CloseRequestHandles(&handle, "Test");
    ASSERT_NE(nullptr, gv_lastModifiedTime);
    EXPECT_EQ(Wide(kStamp), std::wstring(gv_lastModifiedTime));
    EXPECT_EQ(1, log_->Count("DEBUG", std::string("GetFilelastmodifiedTime : File last modified time: ") + kStamp +
                                          "\n"));

    /* Absent: the header error is the result and the stored text stays. */
    handle = {};
    ASSERT_EQ(0u, GetInternetRequestHandle(false, "http", L"127.0.0.1", server.port(), nullptr, nullptr, nullptr,
                                           nullptr, L"/plain", nullptr, nullptr, DOWNLOAD_FILE, false, &handle));
    EXPECT_EQ(static_cast<DWORD>(ERROR_WINHTTP_HEADER_NOT_FOUND),
              GetFilelastmodifiedTime(&handle, &gv_lastModifiedTime));
    CloseRequestHandles(&handle, "Test");
    ASSERT_NE(nullptr, gv_lastModifiedTime);
    EXPECT_EQ(Wide(kStamp), std::wstring(gv_lastModifiedTime));
    EXPECT_EQ(1, log_->Count("ERROR", "GetFilelastmodifiedTime: Could n't query HEADER for last modified time\n"));
    EXPECT_EQ(2, log_->Count("DEBUG", "@@@@@@@@@@@ End of GetFilelastmodifiedTime Method   @@@@@@@@@@@@@\n"));
}

}  // namespace
