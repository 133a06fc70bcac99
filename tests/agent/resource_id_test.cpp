/* The resource identifier's registry steps and the install language tag. */
#include "agent_fixture.h"

#include <algorithm>
#include <filesystem>
#include <stdlib.h>
#include <string.h>

#include "agent/settings.h"
#include "support/http_server.h"
#include "support/scratch_root.h"
#include "tamsel/relvar.h"
#include "tamsel/tamsel_init.h"
#include "log/log.h"

namespace agent_test {
namespace {

class ResourceIdTest : public AgentTest {};

TEST_F(ResourceIdTest, RegistryValueIsUsedEvenWhenEmpty) {
    for (const char *stored : {"4711", ""}) {
        SCOPED_TRACE(stored);
        WriteHive(Hive().SetText(SYSTEMDETAILS_KEY, "DAZeredResourceID", stored));
        char *id = nullptr;
        EXPECT_EQ(0, GetResourceID(&id));
        ASSERT_NE(nullptr, id);
        EXPECT_STREQ(stored, id);
        free(id);
    }
    EXPECT_TRUE(log_.Messages("ERROR").empty());
}

TEST_F(ResourceIdTest, LogoffCallerGetsTheRegistryStatusWithoutAskingTheServer) {
    for (const char *context : {"logoff", "LOGOFF"}) {
        SCOPED_TRACE(context);
        WriteHive(Hive().SetText(AGENT_KEY, "CustomerId", "ABC"));
        const size_t before = log_.Messages("ERROR").size();
        gv_callerContext = strdup(context);
        char *id = strdup("stale");
        EXPECT_EQ(2, GetResourceID(&id));
        EXPECT_EQ(nullptr, id);
        std::vector<std::string> errors = log_.Messages("ERROR");
        ASSERT_EQ(before + 1, errors.size());
        EXPECT_EQ("GetResourceID : Unable to get the VT Agent Resource ID from Registry , So trying to get the same "
                  "from server .\n",
                  errors.back());
        free(gv_callerContext);
        gv_callerContext = nullptr;
    }
}

TEST_F(ResourceIdTest, WrittenIdentifierIsFoundByTheNextLookup) {
    WriteHive(Hive().SetText(AGENT_KEY, "CustomerId", "ABC"));
    EXPECT_EQ(13, SetAgentResourceId(nullptr));
    ASSERT_EQ(0, SetAgentResourceId("R-0815"));
    EXPECT_EQ(std::optional<std::string>("R-0815"), StoredText(SYSTEMDETAILS_KEY, "DAZeredResourceID"));
    char *id = nullptr;
    EXPECT_EQ(0, GetResourceID(&id));
    EXPECT_STREQ("R-0815", id);
    free(id);
}

TEST_F(ResourceIdTest, MissingIdentifierLeavesTheSummaryNull) {
    WriteHive(CompleteAgentHive().Remove(SYSTEMDETAILS_KEY, "DAZeredResourceID"));
    ASSERT_EQ(0, InitializeAgentParameters());
    EXPECT_EQ(nullptr, gv_agentResourceId);
    std::vector<std::string> info = log_.Messages("INFO");
    EXPECT_NE(info.end(),
              std::find(info.begin(), info.end(), "The Agent Machine Resource Id is given by -> (null) \n"));
}

TEST_F(ResourceIdTest, InstallLanguageTags) {
    struct Case {
        const char *installLanguage;  /* null: value absent */
        const char *expect;
    };
    const Case cases[] = {
        {"0409", "en"}, {"0407", "de"}, {"0804", "zh-cn"}, {"0416", "pt-br"},
        {"0414", "no"}, {"zz", "en"},   {nullptr, "en"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.installLanguage ? c.installLanguage : "(absent)");
        Hive hive;
        if (c.installLanguage) {
            hive.SetText("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Nls\\Language", "InstallLanguage",
                         c.installLanguage);
        }
        WriteHive(hive);
        char *tag = GetInstallLanguageTag();
        ASSERT_NE(nullptr, tag);
        EXPECT_STREQ(c.expect, tag);
        free(tag);
    }
    std::vector<std::string> info = log_.Messages("INFO");
    EXPECT_NE(info.end(), std::find(info.begin(), info.end(),
                                    "String from Registry : 0804 and Integer after Conversion : 2052\n"));
}

const char kResourceDocument[] =
    "<?xml version=\"1.0\"?>\n<ResourceData>\n"
    "  <Agentparams PARAM_NAME=\"SITE\" param_Value=\"north\"/>\n"
    "  <Agentparams PARAM_NAME=\"RESOURCE_ID\" param_Value=\"R-90210\"/>\n"
    "</ResourceData>\n";

/* The resource file of this machine on the management server. */
std::string ResourcePath() {
    return "/" + ThisMachineDataPath() + "/resources/" + Lower(ThisMachine().hostName) + ".xml";
}

/* Both servers on this machine: the management server answers the resource
 * file, the distribution server must never be asked for it. */
class ResourceServerTest : public ResourceIdTest {
protected:
    ResourceServerTest() {
#ifdef WINAPI_STANDIN
        EXPECT_EQ("/client-data/abc/domains/corp.local/resources/pc01.xml", ResourcePath());
#endif
        management_.Serve("GET", ResourcePath(), vt_test::CannedResponse::Text(200, kResourceDocument));
    }
    Hive ServerHive() {
        return CompleteAgentHive()
            .Remove(SYSTEMDETAILS_KEY, "DAZeredResourceID")
            .SetText(SERVERINFO_KEY, "VTServerName", "127.0.0.1")
            .SetText(SERVERINFO_KEY, "VTServerIPAddress", "127.0.0.1")
            .SetText(SERVERINFO_KEY, "VTLastAccessName", "127.0.0.1")
            .SetText(SERVERINFO_KEY, "VTServerPort", std::to_string(management_.port()))
            .SetText(AGENT_KEY, "EnableDistributionServer", "yes")
            .SetText(AGENT_KEY, "EnableDSRoute", "yes")
            .SetText(SERVERINFO_KEY, "DistributionServerName", "127.0.0.1")
            .SetText(SERVERINFO_KEY, "DistributionServerFlatName", "DSFLAT")
            .SetText(SERVERINFO_KEY, "DistributionLastAccessName", "127.0.0.1")
            .SetText(SERVERINFO_KEY, "DistributionServerPort", std::to_string(distribution_.port()))
            .SetText(SERVERINFO_KEY, "DistributionServerIPAddress", "127.0.0.1")
            .SetText(SERVERINFO_KEY, "DistributionServerProtocol", "http");
    }
    std::vector<std::string> ManagementPaths() const {
        std::vector<std::string> paths;
        for (const vt_test::RecordedRequest &request : management_.Requests()) {
            paths.push_back(request.method + " " + request.path);
        }
        return paths;
    }

    vt_test::TestHttpServer management_;
    vt_test::TestHttpServer distribution_;
};

TEST_F(ResourceServerTest, WithoutTableDefinitionsTheLoadFailsAndNothingIsStored) {
    ASSERT_TRUE(management_.ok() && distribution_.ok());
    WriteHive(ServerHive());
    ASSERT_EQ(0, InitializeAgentParameters());
    EXPECT_EQ(std::vector<std::string>{"GET " + ResourcePath()}, ManagementPaths());
    EXPECT_EQ(0u, distribution_.RequestCount());
    EXPECT_EQ(nullptr, gv_agentResourceId);
    std::vector<std::string> errors = log_.Messages("ERROR");
    ASSERT_GE(errors.size(), 2u);
    EXPECT_EQ("Cannot construct table data from XML buffer.\n", errors[errors.size() - 2]);
    EXPECT_EQ(0u, errors.back().find("GetResourceIDFromServer : Error occured ("));
    EXPECT_NE(std::string::npos, errors.back().find(") while loading resource id buffer to the memory : \n " +
                                                    std::string(kResourceDocument) + " \n"));
    EXPECT_EQ(std::nullopt, StoredText(SYSTEMDETAILS_KEY, "DAZeredResourceID"));
}

TEST_F(ResourceServerTest, WithTheStoreStartedTheIdentifierIsReadAndKept) {
    ASSERT_TRUE(management_.ok() && distribution_.ok());
    const std::string store = vt_test::MakeTempDir("resource_store");
    vt_test::MakeDirs(store + "/data");
    vt_test::WriteWholeFile(store + "/data/datadictionary.txt", "agent.xml\n");
    vt_test::WriteWholeFile(store + "/data/agent.xml",
                            "<data-dictionary><table name=\"Agentparams\"><columns>"
                            "<column name=\"PARAM_NAME\"><data-type>CHAR</data-type><max-size>64</max-size></column>"
                            "<column name=\"param_Value\"><data-type>CHAR</data-type><max-size>64</max-size></column>"
                            "</columns></table></data-dictionary>");
    ASSERT_TRUE(InitTamsel(store.c_str()));
    WriteHive(ServerHive());
    ASSERT_EQ(0, InitializeAgentParameters());
    EXPECT_STREQ("R-90210", gv_agentResourceId);
    std::vector<std::string> info = log_.Messages("INFO");
    EXPECT_NE(info.end(), std::find(info.begin(), info.end(),
                                    "GetResourceIDFromServer : The Resource ID from the server is given  by R-90210 \n"));
    EXPECT_EQ(std::optional<std::string>("R-90210"), StoredText(SYSTEMDETAILS_KEY, "DAZeredResourceID"));
    EXPECT_EQ(1u, management_.RequestCount());

    /* The next run finds it in the registry and asks nobody. */
    ResetAgentSettings();
    ASSERT_EQ(0, InitializeAgentParameters());
    EXPECT_STREQ("R-90210", gv_agentResourceId);
    EXPECT_EQ(1u, management_.RequestCount());
    EXPECT_EQ(0u, distribution_.RequestCount());
    DeInitTamsel();
    SetTamselRoot(nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(store, ignored);
}

TEST_F(ResourceServerTest, FailedTransferReturnsItsCode) {
    management_.Serve("GET", ResourcePath(), vt_test::CannedResponse::Text(404, "gone"));
    WriteHive(ServerHive());
    ASSERT_EQ(0, InitializeAgentParameters());
    char *id = nullptr;
    const int result = GetResourceID(&id);
    EXPECT_NE(0, result);
    EXPECT_EQ(nullptr, id);
    EXPECT_NE(std::string::npos,
              log_.Messages("ERROR").back().find("GetResourceIDFromServer : Unable to get the reource id xml from " +
                                                 ResourcePath() + " path and the error code is " +
                                                 std::to_string(result) + " \n"));
}

}  // namespace
}  // namespace agent_test
