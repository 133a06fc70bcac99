/* Request routing: which server and address a request goes to, how the URL is
 * rewritten for the product edition, the address that answered stored as the
 * last access address, and which requests go through the proxy. */
#include "transfer/routing.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <string>

#include "agent/settings.h"
#include "support/http_server.h"
#include "support/proxy.h"
#include "transfer_fixture.h"
#include "winapi/wa_winhttp_hooks.h"

namespace {

using vt_test::CannedResponse;

const char *kAnswers = "127.0.0.1";   /* the test server */
const char *kRefused1 = "127.0.0.2";  /* nobody listens there */
const char *kRefused2 = "127.0.0.3";
const char *kRefused3 = "127.0.0.4";
const char *kRefused4 = "127.0.0.5";

class Routing : public transfer_test::TransferTest {
protected:
    void Addresses(const char *last, const char *ip, const char *sec, const char *host, const char *flat)
    {
        SetText(&gv_lastAccessName, last);
        SetText(&gv_serverIPAddress, ip);
        SetText(&gv_serverSecIPAddress, sec);
        SetText(&gv_serverName, host);
        SetText(&gv_serverFlatName, flat);
    }
    DWORD Get(char **data) { return AgentSendRequest("/data", nullptr, data, GET_DATA, true, 1, 0, 0); }
};

TEST_F(Routing, FallbackWalkStoresTheAddressThatAnswered)
{
    vt_test::TestHttpServer server;
    ASSERT_TRUE(server.ok());
    /* "localhost" reaches the same server under another Host header. */
    server.Serve("GET", "/data", [](const vt_test::RecordedRequest &r) {
        std::string host = r.Header("Host");
        if (host.rfind("localhost", 0) == 0)
            return CannedResponse::Text(r.query == "nm" ? 304 : 400, "");
        return CannedResponse::Text(200, "data");
    });
    struct Case {
        const char *name;
        const char *last, *ip, *sec, *host, *flat;
        DWORD result;
        const char *stored; /* "" when nothing is stored */
        int attempts;
    } cases[] = {
        {"last access answers", kAnswers, kRefused1, kRefused2, kRefused3, kRefused4, 0, kAnswers, 1},
        {"IP answers", kRefused1, kAnswers, kRefused2, kRefused3, kRefused4, 0, kAnswers, 2},
        {"secondary IP answers", kRefused1, kRefused2, kAnswers, kRefused3, kRefused4, 0, kAnswers, 3},
        {"host name answers", kRefused1, kRefused2, kRefused3, kAnswers, kRefused4, 0, kAnswers, 4},
        {"flat name answers", kRefused1, kRefused2, kRefused3, kRefused4, kAnswers, 0, kAnswers, 5},
        {"nobody answers", kRefused1, kRefused2, kRefused3, kRefused4, kRefused1, 12029, "", 5},
        {"two-character last access is skipped", "ab", kAnswers, kRefused1, kRefused2, kRefused3, 0, kAnswers, 1},
        {"unusable addresses are skipped", kRefused1, nullptr, "", "xy", kAnswers, 0, kAnswers, 2},
        {"no usable address", nullptr, "", "ab", nullptr, "12", 12007, "", 0},
        /* 400 is a reason to try the next address. */
        {"400 walks on", "localhost", kAnswers, kRefused1, kRefused2, kRefused3, 0, kAnswers, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ForgetLastAccessNames();
        wa_test::ResetWinHttpFaults();
        Addresses(c.last, c.ip, c.sec, c.host, c.flat);
        SetInt(&gv_serverPort, server.port());
        char *data = nullptr;
        EXPECT_EQ(c.result, Get(&data));
        free(data);
        EXPECT_EQ(c.attempts, wa_test::WinHttpCallCount("WinHttpSendRequest"));
        EXPECT_EQ(c.stored, ServerInfoValue("VTLastAccessName"));
        if (*c.stored) {
            ASSERT_NE(nullptr, gv_lastAccessName);
            EXPECT_STREQ(c.stored, gv_lastAccessName);
        } else {
            EXPECT_EQ(0, wa_test::WinHttpCallCount("WinHttpReadData"));
        }
        /* The next request starts where the last one succeeded. */
        if (c.result == 0) {
            wa_test::ResetWinHttpFaults();
            char *again = nullptr;
            EXPECT_EQ(0u, Get(&again));
            free(again);
            EXPECT_EQ(1, wa_test::WinHttpCallCount("WinHttpSendRequest"));
        }
    }
    EXPECT_TRUE(log_->Contains("INFO", "AgentSendRequest : Last Access Address is 127.0.0.1 \n"));
}

TEST_F(Routing, HttpErrorsAndNotModifiedEndTheWalk)
{
    vt_test::TestHttpServer server;
    ASSERT_TRUE(server.ok());
    server.Serve("GET", "/data", [](const vt_test::RecordedRequest &r) {
        if (r.Header("Host").rfind("localhost", 0) == 0)
            return CannedResponse::Text(304, "");
        return CannedResponse::Text(404, "");
    });
    SetInt(&gv_serverPort, server.port());

    /* 404 from the last access address: no other address is tried. */
    Addresses(kAnswers, "localhost", "localhost", "localhost", "localhost");
    char *data = nullptr;
    EXPECT_EQ(404u, Get(&data));
    EXPECT_EQ(1, wa_test::WinHttpCallCount("WinHttpSendRequest"));
    EXPECT_EQ("", ServerInfoValue("VTLastAccessName"));

    /* 304 from the IP address is not the 0 that ends the walk there: the secondary
     * address is tried next, and its 404 ends it. */
    wa_test::ResetWinHttpFaults();
    Addresses(kRefused1, "localhost", kAnswers, "localhost", "localhost");
    EXPECT_EQ(404u, Get(&data));
    EXPECT_EQ(3, wa_test::WinHttpCallCount("WinHttpSendRequest"));
    EXPECT_STREQ(kRefused1, gv_lastAccessName);

    /* 304 from the IP address with no secondary address: the walk ends with the
     * success code and the unchanged last access address is stored. */
    wa_test::ResetWinHttpFaults();
    Addresses(kRefused1, "localhost", nullptr, kAnswers, kAnswers);
    EXPECT_EQ(static_cast<DWORD>(RESULT_NOT_MODIFIED), Get(&data));
    EXPECT_EQ(2, wa_test::WinHttpCallCount("WinHttpSendRequest"));
    EXPECT_STREQ(kRefused1, gv_lastAccessName);
    EXPECT_EQ(kRefused1, ServerInfoValue("VTLastAccessName"));
    EXPECT_EQ(nullptr, data);
}

TEST_F(Routing, EditionRewritesTheUrl)
{
    vt_test::TestHttpServer management, distribution;
    ASSERT_TRUE(management.ok());
    ASSERT_TRUE(distribution.ok());
    UseManagementServer(management.port());
    SetText(&gv_dsEnabled, "YES");
    SetText(&gv_dsProtocol, "http");
    SetInt(&gv_dsPort, distribution.port());
    SetText(&gv_dsLastAccessName, kAnswers);
    SetText(&gv_dsIPAddress, nullptr);
    SetText(&gv_dsSecIPAddress, nullptr);
    SetText(&gv_dsServerName, nullptr);
    SetText(&gv_dsServerFlatName, nullptr);
    vt_test::MakeDirs(Host("C:\\dl"));

    struct Case {
        const char *code;
        int type;
        BYTE toVTServer;
        const char *url;
        bool toManagement;
        std::string requested; /* path?query as the server saw it */
    } cases[] = {
        {"RODO", DOWNLOAD_FILE, 1, "store\\x.msi", true, "/clientdatarequest?fileName=store/x.msi"},
        {"rodo", GET_DATA, 1, "/files/a.xml", true, "/clientdatarequest?fileName=/files/a.xml"},
        {"RODO", DOWNLOAD_FILE, 0, "store\\x.msi", false, "/store/x.msi"},
        {"RODO", GET_DATA, 1, "agentinfo?x=1", true, "/agentinfo?x=1"},
        {"RODO", GET_DATA, 1, "/agentSlot?id=2", true, "/agentSlot?id=2"},
        {"RODO", GET_DATA, 1, "/servlet/AGENTREQUEST?op=3", true, "/servlet/AGENTREQUEST?op=3"},
        {"RODO", POST_DATA_PLAIN, 1, "/post", true, "/post"},
        {"ZORIR", DOWNLOAD_FILE, 1, "store\\x.msi", true, "/vt/store/x.msi"},
        {"ZORIR", POST_DATA_PLAIN, 0, "post", false, "/vt/post"},
        {"ZORIR", GET_DATA, 1, "agentinfo?x=1", true, "/vt/agentinfo?x=1"},
        {"RERI", DOWNLOAD_FILE, 1, "store\\x.msi", true, "/store/x.msi"},
        {nullptr, GET_DATA, 0, "/a/b", false, "/a/b"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.code ? c.code : "(null)") + " " + c.url);
        management.ClearRequests();
        distribution.ClearRequests();
        SetText(&gv_vtProductCode, c.code);
        char *out = nullptr;
        AgentSendRequest(c.url, c.type == DOWNLOAD_FILE ? "C:\\dl\\x.msi" : c.type == GET_DATA ? nullptr : "body",
                         &out, c.type, false, c.toVTServer, 0, DOWNLOAD_MODE_PLAIN);
        free(out);
        vt_test::TestHttpServer &target = c.toManagement ? management : distribution;
        vt_test::TestHttpServer &other = c.toManagement ? distribution : management;
        ASSERT_EQ(1u, target.RequestCount());
        EXPECT_EQ(0u, other.RequestCount());
        vt_test::RecordedRequest r = target.Requests()[0];
        EXPECT_EQ(c.requested, r.path + (r.query.empty() ? "" : "?" + r.query));
    }
    EXPECT_EQ(1, log_->Count("INFO", "AgentSendRequest - gv_vtProductCode is [RODO], toVTServer is set to [0]. "
                                     "Request Type is NOT GET_DATA / DOWNLOAD_FILE and is [11003]\n"));
    EXPECT_EQ(3, log_->Count("INFO", "AgentSendRequest - gv_vtProductCode is [RODO], requestType is GET_DATA / "
                                     "DOWNLOAD_FILE [11001] and is servlet request \n"));
    EXPECT_EQ(1, log_->Count("INFO", "AgentSendRequest - gv_vtProductCode is [ZORIR], requestType is GET_DATA / "
                                     "DOWNLOAD_FILE [11004] \n"));
    EXPECT_EQ(1, log_->Count("DEBUG", "AgentSendRequest - Stand Alone / MSP build : gv_vtProductCode is [RERI] \n"));
    EXPECT_EQ(1, log_->Count("INFO", "AgentSendRequest : The url to get / send in UTF8 format is given by "
                                     "clientdatarequest?fileName=store/x.msi \n"));
}

TEST_F(Routing, ProxyServesOnlyTheManagementServer)
{
    if (!vt_test::TinyProxy::Available())
        GTEST_SKIP() << "tinyproxy or the Linux loopback helper is missing";
    vt_test::TestHttpServer management, distribution;
    ASSERT_TRUE(management.ok());
    ASSERT_TRUE(distribution.ok());
    management.Serve("GET", "/data", CannedResponse::Text(200, "from management"));
    management.Serve("POST", "/post", CannedResponse::Text(200, "ok"));
    distribution.Serve("GET", "/data", CannedResponse::Text(200, "from distribution"));
    vt_test::TinyProxy proxy({"agent", "s3cret", {}});
    ASSERT_TRUE(proxy.ok()) << proxy.log();
    const std::string viaProxy = "GET http://127.0.0.1:" + std::to_string(management.port()) + "/data";
    const std::string postViaProxy = "POST http://127.0.0.1:" + std::to_string(management.port()) + "/post";
    const std::string distributionPort = "127.0.0.1:" + std::to_string(distribution.port());

    UseManagementServer(management.port());
    SetText(&gv_dsEnabled, "yes");
    SetText(&gv_dsProtocol, "http");
    SetInt(&gv_dsPort, distribution.port());
    SetText(&gv_dsLastAccessName, kRefused1);
    SetText(&gv_dsIPAddress, kAnswers);
    SetText(&gv_proxyEnabled, "Yes");
    SetText(&gv_proxyServerName, proxy.name().c_str());
    SetText(&gv_proxyByPass, "");
    SetText(&gv_proxyUserName, "agent");
    SetText(&gv_proxyPassword, "s3cret");

    /* toVTServer 1: the management server, through the proxy. */
    char *data = nullptr;
    EXPECT_EQ(0u, AgentSendRequest("/data", nullptr, &data, GET_DATA, true, 1, 0, DOWNLOAD_MODE_PLAIN));
    ASSERT_NE(nullptr, data);
    EXPECT_STREQ("from management", data);
    free(data);
    EXPECT_EQ(1u, management.RequestCount());
    EXPECT_NE(std::string::npos, proxy.log().find(viaProxy)) << proxy.log();

    /* toVTServer 0: the distribution server, directly; its answering address is
     * stored under its own name. */
    data = nullptr;
    EXPECT_EQ(0u, AgentSendRequest("/data", nullptr, &data, GET_DATA, true, 0, 0, DOWNLOAD_MODE_PLAIN));
    ASSERT_NE(nullptr, data);
    EXPECT_STREQ("from distribution", data);
    free(data);
    EXPECT_EQ(1u, distribution.RequestCount());
    EXPECT_EQ(std::string::npos, proxy.log().find(distributionPort));
    EXPECT_EQ(kAnswers, ServerInfoValue("DistributionLastAccessName"));
    EXPECT_STREQ(kAnswers, gv_dsLastAccessName);
    EXPECT_EQ(kAnswers, ServerInfoValue("VTLastAccessName"));

    /* Uploads to the management server take the same way. */
    char *answer = nullptr;
    EXPECT_EQ(0u, AgentSendRequest("/post", "x=1", &answer, POST_DATA, true, 1, 0, DOWNLOAD_MODE_PLAIN));
    free(answer);
    EXPECT_NE(std::string::npos, proxy.log().find(postViaProxy)) << proxy.log();

    /* Refused credentials: the proxy's refusal ends the call, no other address
     * is tried and the server sees nothing. */
    SetText(&gv_proxyPassword, "wrong");
    SetText(&gv_serverIPAddress, kAnswers);
    wa_test::ResetWinHttpFaults();
    data = nullptr;
    DWORD refused = AgentSendRequest("/data", nullptr, &data, GET_DATA, true, 1, 0, DOWNLOAD_MODE_PLAIN);
    EXPECT_TRUE(refused == 401 || refused == 407) << refused;
    EXPECT_EQ(nullptr, data);
    EXPECT_EQ(1, wa_test::WinHttpCallCount("WinHttpSendRequest"));
    EXPECT_EQ(2u, management.RequestCount());
}

TEST_F(Routing, ProxyAuthenticationRequiredEndsTheCall)
{
    /* A proxy that demands credentials it never accepts. */
    vt_test::RawSocketServer proxy(
        "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"p\"\r\n"
        "Content-Length: 0\r\nConnection: close\r\n\r\n");
    ASSERT_TRUE(proxy.ok());
    vt_test::TestHttpServer server;
    ASSERT_TRUE(server.ok());
    UseManagementServer(server.port());
    SetText(&gv_serverIPAddress, kAnswers);
    SetText(&gv_proxyEnabled, "YES");
    SetText(&gv_proxyServerName, ("127.0.0.1:" + std::to_string(proxy.port())).c_str());
    SetText(&gv_proxyUserName, "agent");
    SetText(&gv_proxyPassword, "pw");
    vt_test::MakeDirs(Host("C:\\dl"));

    char *data = nullptr;
    EXPECT_EQ(407u, AgentSendRequest("/data", nullptr, &data, GET_DATA, true, 1, 0, DOWNLOAD_MODE_PLAIN));
    EXPECT_EQ(nullptr, data);
    EXPECT_EQ(407u, AgentDownloadFile("/x.msi", "C:\\dl\\x.msi", false));
    EXPECT_EQ(407u, AgentSendRequest("/post", "x=1", &data, POST_DATA, true, 1, 0, DOWNLOAD_MODE_PLAIN));
    EXPECT_EQ(nullptr, data);
    EXPECT_FALSE(Exists("C:\\dl\\x.msi"));
#ifdef WINAPI_STANDIN
    EXPECT_EQ(3, proxy.connections());
#else
    /* WinHTTP answers the challenge once by itself with the credentials set: each
     * call costs a second request, the one that carries them. */
    int withCredentials = 0;
    for (const std::string &head : proxy.Requests())
        withCredentials += head.find("\r\nProxy-Authorization: Basic YWdlbnQ6cHc=\r\n") != std::string::npos ? 1 : 0;
    EXPECT_EQ(6, proxy.connections());
    EXPECT_EQ(3, withCredentials);
#endif
    EXPECT_EQ(0u, server.RequestCount());
    EXPECT_EQ("", ServerInfoValue("VTLastAccessName"));
    EXPECT_EQ(2, log_->Count("ERROR", "GetInternetRequestHandle : Proxy Credentials are failed to authenticate 407 \n"));
    EXPECT_EQ(1, log_->Count("ERROR", "InternetSendRequestEx : Proxy Credentials are failed to authenticate 407 \n"));
}

TEST_F(Routing, TransferRateChoosesThePlainOrTheThrottledDownload)
{
    vt_test::TestHttpServer server;
    ASSERT_TRUE(server.ok());
    server.Serve("GET", "/store/p.msi", CannedResponse::Generated(2000, true));
    UseManagementServer(server.port());
    vt_test::MakeDirs(Host("C:\\dl"));
    struct Case {
        int rate;
        std::vector<std::string> requests;
    } cases[] = {
        {0, {"GET "}},
        {512, {"HEAD ", "GET bytes=0-2000"}},
        {1, {"HEAD ", "GET bytes=0-500", "GET bytes=501-1000", "GET bytes=1001-1500", "GET bytes=1501-2000"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.rate);
        server.ClearRequests();
        SetInt(&gv_dataTransferRateKBps, c.rate);
        EXPECT_EQ(0u, AgentDownloadFile("store\\p.msi", "C:\\dl\\p.msi", false));
        std::vector<std::string> seen;
        for (const vt_test::RecordedRequest &r : server.Requests())
            seen.push_back(r.method + " " + r.Header("Range"));
        EXPECT_EQ(c.requests, seen);
        EXPECT_TRUE(ReadHostFile("C:\\dl\\p.msi") == vt_test::GeneratedBytes(0, 2000));
    }
}

TEST_F(Routing, GetDataAlwaysGoesToTheManagementServer)
{
    vt_test::TestHttpServer management;
    ASSERT_TRUE(management.ok());
    management.Serve("GET", "/rid.xml", CannedResponse::Text(200, "<a/>\r\n"));
    UseManagementServer(management.port());
    SetText(&gv_dsEnabled, "yes");
    SetInt(&gv_dsPort, vt_test::RefusedPort());
    SetText(&gv_dsLastAccessName, kAnswers);
    char *data = nullptr;
    EXPECT_EQ(0u, AgentGetData("/rid.xml", &data, true));
    ASSERT_NE(nullptr, data);
    EXPECT_STREQ("<a/>\n", data);
    free(data);
    EXPECT_EQ("Keep-Alive", management.Requests().at(0).Header("Connection"));
}

TEST_F(Routing, DownloadWithoutDistributionServerStoresTheManagementAddress)
{
    /* A file download (not forced to the management server) while no distribution
     * server is enabled goes to the management server, and so does the address
     * that answered: "VTLastAccessName" changes, the distribution value does not. */
    vt_test::TestHttpServer server;
    ASSERT_TRUE(server.ok());
    server.Serve("GET", "/store/p.msi", CannedResponse::Generated(300, true));
    SetInt(&gv_serverPort, server.port());
    SetText(&gv_dsEnabled, "no");
    SetText(&gv_dsLastAccessName, kRefused3);
    Addresses(kRefused1, kAnswers, kRefused2, kRefused2, kRefused2);
    vt_test::MakeDirs(Host("C:\\dl"));
    for (int rate : {0, 1}) {
        SCOPED_TRACE(rate);
        ForgetLastAccessNames();
        SetInt(&gv_dataTransferRateKBps, rate);
        SetText(&gv_lastAccessName, kRefused1);
        EXPECT_EQ(0u, AgentDownloadFile("store\\p.msi", "C:\\dl\\p.msi", false));
        EXPECT_EQ(kAnswers, ServerInfoValue("VTLastAccessName"));
        EXPECT_STREQ(kAnswers, gv_lastAccessName);
        EXPECT_EQ("", ServerInfoValue("DistributionLastAccessName"));
        EXPECT_STREQ(kRefused3, gv_dsLastAccessName);
    }
}

TEST_F(Routing, FallbackAddressAnsweringNotModifiedBecomesTheLastAccess)
{
    /* After the IP address, a success code is 0 or 304 alike: the address that
     * answered "not modified" is adopted and stored. */
    vt_test::TestHttpServer server;
    ASSERT_TRUE(server.ok());
    server.Serve("GET", "/data", [](const vt_test::RecordedRequest &) { return CannedResponse::Text(304, ""); });
    SetInt(&gv_serverPort, server.port());
    struct Case {
        const char *name;
        const char *sec, *host, *flat;
        int attempts;
    } cases[] = {
        {"secondary IP", "localhost", kRefused3, kRefused4, 3},
        {"host name", kRefused3, "localhost", kRefused4, 4},
        {"flat name", kRefused3, kRefused4, "localhost", 5},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ForgetLastAccessNames();
        wa_test::ResetWinHttpFaults();
        Addresses(kRefused1, kRefused2, c.sec, c.host, c.flat);
        char *data = nullptr;
        EXPECT_EQ(static_cast<DWORD>(RESULT_NOT_MODIFIED), Get(&data));
        EXPECT_EQ(nullptr, data);
        EXPECT_EQ(c.attempts, wa_test::WinHttpCallCount("WinHttpSendRequest"));
        ASSERT_NE(nullptr, gv_lastAccessName);
        EXPECT_STREQ("localhost", gv_lastAccessName);
        EXPECT_EQ("localhost", ServerInfoValue("VTLastAccessName"));
    }
}

}  // namespace
