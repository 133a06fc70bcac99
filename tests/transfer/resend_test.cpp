/* Resend and reopen policies of the GET path (request handles) and of the POST
 * path (uploads) under injected WinHTTP failures, and the options each request
 * type sets. */
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>

#include "support/http_server.h"
#include "transfer/download.h"
#include "transfer/routing.h"
#include "transfer/session.h"
#include "transfer/upload.h"
#include "transfer_fixture.h"
#include "winapi/wa_testhooks.h"
#include "winapi/wa_winhttp_hooks.h"

namespace {

using transfer_test::Wide;
using vt_test::CannedResponse;

struct Fault {
    const char *function;
    DWORD code;
    int times;
};

struct Expected {
    bool success;
    DWORD result; /* checked when not 0 and not successful */
    int opens, openRequests, sends, receives;
    std::vector<DWORD> pauses;
};

struct PolicyCase {
    const char *name;
    Fault fault;
    Expected get;
    Expected post;
};

const std::vector<DWORD> kNone;
const std::vector<DWORD> kTwoPauses = {5000, 5000};
const std::vector<DWORD> kFivePauses = {5000, 5000, 5000, 5000, 5000};

/* GET reopens session, connection and request; POST reopens the request alone. */
const PolicyCase kPolicies[] = {
    {"two 12032 on receive", {"WinHttpReceiveResponse", 12032, 2},
     {true, 0, 1, 1, 3, 3, kTwoPauses}, {true, 0, 1, 1, 3, 3, kTwoPauses}},
    {"five 12032 on receive", {"WinHttpReceiveResponse", 12032, 5},
     {false, 0, 1, 1, 5, 5, kFivePauses}, {false, 0, 1, 1, 5, 5, kFivePauses}},
    {"12015 once on receive", {"WinHttpReceiveResponse", 12015, 1},
     {true, 0, 2, 2, 2, 2, kNone}, {true, 0, 1, 2, 2, 2, kNone}},
    {"12152 once on receive", {"WinHttpReceiveResponse", 12152, 1},
     {true, 0, 2, 2, 2, 2, kNone}, {true, 0, 1, 2, 2, 2, kNone}},
    {"12015 on every receive", {"WinHttpReceiveResponse", 12015, 100},
     {false, 0, 2, 2, 6, 6, kNone}, {false, 0, 1, 2, 6, 6, kNone}},
    {"12017 once on send", {"WinHttpSendRequest", 12017, 1},
     {true, 0, 2, 2, 2, 1, kNone}, {true, 0, 1, 2, 2, 1, kNone}},
    {"12017 twice on send", {"WinHttpSendRequest", 12017, 2},
     {false, 12017, 2, 2, 2, 0, kNone}, {false, 12017, 1, 2, 2, 0, kNone}},
    {"12029 on send", {"WinHttpSendRequest", 12029, 1},
     {false, 12029, 1, 1, 1, 0, kNone}, {false, 12029, 1, 1, 1, 0, kNone}},
    {"12002 on receive", {"WinHttpReceiveResponse", 12002, 1},
     {false, 12002, 1, 1, 1, 1, kNone}, {false, 12002, 1, 1, 1, 1, kNone}},
};

class ResendPolicy : public transfer_test::TransferTest {
protected:
    void Check(const Expected &e, DWORD result)
    {
        if (e.success) {
            EXPECT_EQ(0u, result);
        } else {
            EXPECT_NE(0u, result);
            if (e.result != 0) {
                EXPECT_EQ(e.result, result);
            }
        }
        EXPECT_EQ(e.opens, wa_test::WinHttpCallCount("WinHttpOpen"));
        EXPECT_EQ(e.openRequests, wa_test::WinHttpCallCount("WinHttpOpenRequest"));
        EXPECT_EQ(e.sends, wa_test::WinHttpCallCount("WinHttpSendRequest"));
        EXPECT_EQ(e.receives, wa_test::WinHttpCallCount("WinHttpReceiveResponse"));
        EXPECT_EQ(e.pauses, wa_test::RecordedSleeps());
    }
    void Reset()
    {
        wa_test::ResetWinHttpFaults();
        wa_test::ClearRecordedSleeps();
    }
};

TEST_F(ResendPolicy, GetPath)
{
    vt_test::TestHttpServer server;
    ASSERT_TRUE(server.ok());
    server.Serve("GET", "/data", CannedResponse::Text(200, "answer"));
    for (const PolicyCase &c : kPolicies) {
        SCOPED_TRACE(c.name);
        Reset();
        wa_test::FailWinHttpCall(c.fault.function, c.fault.code, c.fault.times);
        char *data = nullptr;
        DWORD result = InternetGetRequestEx(false, "http", L"127.0.0.1", server.port(), nullptr, nullptr, nullptr,
                                            nullptr, L"/data", nullptr, &data, GET_DATA, true);
        Check(c.get, result);
        if (c.get.success) {
            ASSERT_NE(nullptr, data);
            EXPECT_STREQ("answer", data);
        }
        free(data);
    }
    /* After the five attempts there is no response: the header query says so. */
    EXPECT_EQ(7, log_->Count("INFO", "GetInternetRequestHandle : Resending the data to the server 127.0.0.1 \n"));
    EXPECT_TRUE(log_->Contains("ERROR", "GetInternetRequestHandle :  Error in WinHttpQueryHeaders --> "));
    EXPECT_EQ(1, log_->Count("ERROR", "GetInternetRequestHandle :  Error in WinHttpSendRequest -> 12029 \n"));
    EXPECT_EQ(1, log_->Count("INFO", "GetInternetRequestHandle :  Error - WinHttpReceiveResponse --> 12002 \n"));
    EXPECT_EQ(1, log_->Count("INFO", "GetInternetRequestHandle : Going to close the request handle and going to "
                                     "resending the data to the server 127.0.0.1,as the error code received is "
                                     "12152 \n"));
}

TEST_F(ResendPolicy, PostPathSendsTheWholeBodyAgain)
{
    vt_test::TestHttpServer server;
    ASSERT_TRUE(server.ok());
    server.Serve("POST", "/post", CannedResponse::Text(200, "ok"));
    for (const PolicyCase &c : kPolicies) {
        SCOPED_TRACE(c.name);
        Reset();
        server.ClearRequests();
        wa_test::FailWinHttpCall(c.fault.function, c.fault.code, c.fault.times);
        DWORD result = InternetSendRequestEx(false, "http", L"127.0.0.1", server.port(), nullptr, nullptr, nullptr,
                                             nullptr, L"/post", "name=value", nullptr, POST_DATA_PLAIN, false, 0);
        Check(c.post, result);
        for (const vt_test::RecordedRequest &r : server.Requests())
            EXPECT_EQ("name=value", r.body);
        if (c.post.success) {
            EXPECT_GE(server.RequestCount(), 1u);
        }
    }
    EXPECT_EQ(1, log_->Count("ERROR", "InternetSendRequestEx :  Error in WinHttpSendRequest -> 12017 \n"));
    EXPECT_EQ(1, log_->Count("INFO", "InternetSendRequestEx :  Error - WinHttpReceiveResponse --> 12002 \n"));
}

TEST_F(ResendPolicy, TimeoutsAreSetOnlyForTheTypesThatUseTheSettings)
{
    vt_test::TestHttpServer server;
    ASSERT_TRUE(server.ok());
    server.Serve("GET", "/data", CannedResponse::Text(200, "x"));
    server.Serve("POST", "/post", CannedResponse::Text(200, "ok"));
    struct Case {
        const char *name;
        int requestType;
        int resends; /* 12032 on the first receives */
        int setOptions;
    } cases[] = {
        {"GET_DATA: connect and receive", GET_DATA, 0, 2},
        {"GET_DATA: receive again before each resend", GET_DATA, 2, 4},
        {"DOWNLOAD_FILE: defaults", DOWNLOAD_FILE, 0, 0},
        {"POST_DATA: connect and receive", POST_DATA, 0, 2},
        {"POST_DATA: receive again before each resend", POST_DATA, 1, 3},
        {"POST_DATA_PLAIN: defaults", POST_DATA_PLAIN, 0, 0},
    };
    vt_test::MakeDirs(Host("C:\\dl"));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        if (c.resends > 0)
            wa_test::FailWinHttpCall("WinHttpReceiveResponse", 12032, c.resends);
        DWORD result;
        char *data = nullptr;
        if (c.requestType == GET_DATA || c.requestType == DOWNLOAD_FILE)
            result = InternetGetRequestEx(false, "http", L"127.0.0.1", server.port(), nullptr, nullptr, nullptr,
                                          nullptr, L"/data", L"C:\\dl\\d.bin", &data, c.requestType, false);
        else
            result = InternetSendRequestEx(false, "http", L"127.0.0.1", server.port(), nullptr, nullptr, nullptr,
                                           nullptr, L"/post", "body", nullptr, c.requestType, false, 0);
        free(data);
        EXPECT_EQ(0u, result);
        EXPECT_EQ(c.setOptions, wa_test::WinHttpCallCount("WinHttpSetOption"));
        EXPECT_EQ(0, wa_test::WinHttpCallCount("WinHttpQueryOption"));
    }
}

TEST_F(ResendPolicy, ProxyCredentialsNeedTwoCharacters)
{
    struct Case {
        const char *name;
        bool useProxy;
        const WCHAR *user;
        const WCHAR *password;
        int setOptions;
    } cases[] = {
        {"one-character name", true, L"u", L"secret", 0},
        {"name, empty password", true, L"us", L"", 1},
        {"name, one-character password", true, L"us", L"p", 1},
        {"name and password", true, L"us", L"pw", 2},
        {"no proxy", false, L"user", L"secret", 0},
    };
    int refused = vt_test::RefusedPort();
    std::wstring proxy = L"127.0.0.1:" + std::to_wstring(refused);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        /* Nobody listens behind the proxy address: the send fails after the options. */
        DWORD getResult = InternetGetRequestEx(c.useProxy, "http", L"127.0.0.1", refused, proxy.c_str(), L"<local>",
                                               c.user, c.password, L"/x", L"C:\\dl\\x", nullptr, DOWNLOAD_FILE, false);
        EXPECT_EQ(static_cast<DWORD>(ERROR_WINHTTP_CANNOT_CONNECT), getResult);
        EXPECT_EQ(c.setOptions, wa_test::WinHttpCallCount("WinHttpSetOption"));
        Reset();
        DWORD postResult = InternetSendRequestEx(c.useProxy, "http", L"127.0.0.1", refused, proxy.c_str(), L"<local>",
                                                 c.user, c.password, L"/x", "b", nullptr, POST_DATA_PLAIN, false, 0);
        EXPECT_EQ(static_cast<DWORD>(ERROR_WINHTTP_CANNOT_CONNECT), postResult);
        EXPECT_EQ(c.setOptions, wa_test::WinHttpCallCount("WinHttpSetOption"));
    }
}

TEST_F(ResendPolicy, SelfSignedCertificateIsAcceptedOnlyWithTheIgnoreFlags)
{
    if (!vt_test::TlsServerAvailable()) GTEST_SKIP() << "no HTTPS test server (the Linux loopback helper)";
    vt_test::TestHttpServer server(true);
    ASSERT_TRUE(server.ok());
    server.Serve("GET", "/data", CannedResponse::Text(200, "secret data"));
    server.Serve("POST", "/post", CannedResponse::Text(200, "posted"));

    /* Without the ignore flags the certificate is refused. */
    HINTERNET session = WinHttpOpen(L"test", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
    HINTERNET connect = WinHttpConnect(session, L"127.0.0.1", static_cast<INTERNET_PORT>(server.port()), 0);
    HINTERNET request = WinHttpOpenRequest(connect, L"GET", L"/data", nullptr, nullptr, nullptr, WINHTTP_FLAG_SECURE);
    ASSERT_NE(nullptr, request);
    BOOL sent = WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0) && WinHttpReceiveResponse(request, nullptr);
    EXPECT_FALSE(sent);
    WinHttpCloseHandle(request);
    WinHttpCloseHandle(connect);
    WinHttpCloseHandle(session);

    const char *protocols[] = {"https", "HTTPS", "HttpS"};
    for (const char *protocol : protocols) {
        SCOPED_TRACE(protocol);
        wa_test::ResetWinHttpFaults();
        char *data = nullptr;
        EXPECT_EQ(0u, InternetGetRequestEx(false, protocol, L"127.0.0.1", server.port(), nullptr, nullptr, nullptr,
                                           nullptr, L"/data", nullptr, &data, GET_DATA, true));
        ASSERT_NE(nullptr, data);
        EXPECT_STREQ("secret data", data);
        free(data);
        EXPECT_EQ(1, wa_test::WinHttpCallCount("WinHttpQueryOption"));

        char *answer = nullptr;
        EXPECT_EQ(0u, InternetSendRequestEx(false, protocol, L"127.0.0.1", server.port(), nullptr, nullptr, nullptr,
                                            nullptr, L"/post", "x", &answer, POST_DATA_PLAIN, true, 0));
        ASSERT_NE(nullptr, answer);
        EXPECT_STREQ("posted", answer);
        free(answer);
    }
    /* Plain http to the TLS port gets no answer it can read. */
    char *data = nullptr;
    EXPECT_NE(0u, InternetGetRequestEx(false, "http", L"127.0.0.1", server.port(), nullptr, nullptr, nullptr, nullptr,
                                       L"/data", nullptr, &data, GET_DATA, true));
    EXPECT_EQ(nullptr, data);
    EXPECT_EQ(3, log_->Count("DEBUG", "GetInternetRequestHandle :  The request is updated with the internet option "
                                      "security flags. \n"));
}

}  // namespace
