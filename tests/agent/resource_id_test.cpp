/* The resource identifier's registry steps and the install language tag. */
#include "agent_fixture.h"

#include <algorithm>
#include <stdlib.h>
#include <string.h>

#include "agent/settings.h"

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

TEST_F(ResourceIdTest, MissingValueLogsAndReturnsTheRegistryStatus) {
    for (const char *context : {static_cast<const char *>(nullptr), "logoff"}) {
        SCOPED_TRACE(context ? context : "(no caller context)");
        WriteHive(Hive().SetText(AGENT_KEY, "CustomerId", "ABC"));
        const size_t before = log_.Messages("ERROR").size();
        gv_callerContext = context ? strdup(context) : nullptr;
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
    EXPECT_NE(std::string::npos, HiveText().find("\"DAZeredResourceID\"=\"R-0815\"")) << HiveText();
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

}  // namespace
}  // namespace agent_test
