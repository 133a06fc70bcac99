/* Change notifications: who is called for which relvar and row state, and what
 * the callback sees. */
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "store_files.h"
#include "tamsel/notifications.h"
#include "tamsel/relvar.h"
#include "tamsel_support.h"

namespace tamsel_test {
namespace {

struct Call {
    std::string listener;
    std::string relvar;
    int state;
    std::string firstValue;
};
std::vector<Call> gv_calls;

void Record(IMDSNotification *notification, const char *listenerName)
{
    RowObject *row = notification->row;
    std::string first = row->values[0] != nullptr ? std::string(static_cast<char *>(row->values[0]), row->lengths[0]) : "";
    gv_calls.push_back({listenerName, notification->tableName, row->state, first});
    /* The copy is the listener's to read, not the row itself. */
    EXPECT_NE(nullptr, notification->timestamp);
}

class NotificationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gv_calls.clear();
        ASSERT_TRUE(files_.Start());
    }
    std::vector<std::string> Listeners() const
    {
        std::vector<std::string> names;
        for (const Call &call : gv_calls)
            names.push_back(call.listener);
        return names;
    }

    StoreFiles files_;
    LogCapture log_{3};
    char *agentparams_[2] = {const_cast<char *>("Agentparams"), nullptr};
    char *both_[3] = {const_cast<char *>("Parent"), const_cast<char *>("agentPARAMS"), nullptr};
};

TEST_F(NotificationTest, ListenersSeeTheirRelvarsRowsInRegistrationOrder)
{
    ASSERT_TRUE(AddNotificationListener(strdup("params"), 0, Record, 1, agentparams_));
    ASSERT_TRUE(AddNotificationListener(strdup("muted"), 0, Record, 1, both_));
    ASSERT_TRUE(AddNotificationListener(strdup("both"), 0, Record, 1, both_));
    /* Same name in another letter case: kept once, still true. */
    EXPECT_TRUE(AddNotificationListener(strdup("PARAMS"), 0, Record, 1, both_));
    EXPECT_EQ("Listener with same name exists PARAMS\n", log_.Messages("ERROR"));
    EXPECT_STREQ("agentPARAMS", both_[0]); /* sorted in place, any letter case */
    EXPECT_STREQ("Parent", both_[1]);
    ASSERT_TRUE(DisableNotification("MUTED"));

    ASSERT_TRUE(CreateTable("Agentparams") && CreateTable("Parent"));
    AddRow("Agentparams", {"RESOURCE_ID", "R-1"});
    AddRow("Parent", {"5", "p", nullptr, nullptr});
    ASSERT_EQ((std::vector<std::string>{"params", "both", "both"}), Listeners());
    EXPECT_EQ("Agentparams", gv_calls[0].relvar);
    EXPECT_EQ("RESOURCE_ID", gv_calls[0].firstValue);
    EXPECT_EQ(ROW_STATE_NEW, gv_calls[0].state);
    EXPECT_EQ("Parent", gv_calls[2].relvar);
    std::string debug = log_.Messages("DEBUG");
    EXPECT_NE(std::string::npos, debug.find("Listener muted  disabled\n"));
    EXPECT_NE(std::string::npos, debug.find("Listener not registered for Parent table\n"));

    EXPECT_TRUE(RemoveNotification("Params"));
    EXPECT_FALSE(RemoveNotification("params"));
    EXPECT_NE(std::string::npos, log_.Messages("ERROR").find("Listener with name params doesn't exists\n"));
    gv_calls.clear();
    ResultData *rows = SelectRows("Agentparams", "PARAM_NAME='RESOURCE_ID'");
    RowObject *row = GotoNextRowObject(rows);
    ASSERT_NE(nullptr, row);
    ASSERT_TRUE(UpdateRowObject("Agentparams", row, "param_Value", "R-2", 4));
    ASSERT_TRUE(DeleteRowObject("Agentparams", row));
    FreeResultData(rows);
    ASSERT_EQ(2u, gv_calls.size());
    EXPECT_EQ(ROW_STATE_NEW | ROW_STATE_UPDATED, gv_calls[0].state);
    EXPECT_EQ(ROW_STATE_NEW | ROW_STATE_UPDATED, gv_calls[1].state);
}

TEST_F(NotificationTest, EventTypesMatchTheRowStateWithTheOtherBits)
{
    ASSERT_TRUE(AddNotificationListener(strdup("new"), ROW_STATE_NEW, Record, 1, agentparams_));
    ASSERT_TRUE(AddNotificationListener(strdup("updated"), ROW_STATE_UPDATED, Record, 1, agentparams_));
    ASSERT_TRUE(CreateTable("Agentparams"));
    void *values[2] = {const_cast<char *>("x"), nullptr};
    int32_t lengths[2] = {1, 0};
    RowObject row = {values, lengths, 0, nullptr};
    std::vector<std::string> expected;
    for (int state : {2, 3, 6, 10, 4, 5, 12, 1, 8}) {
        row.state = static_cast<uint8_t>(state);
        SendNotification(&row, "Agentparams");
        bool isNew = state == 2 || state == 3 || state == 6 || state == 10;
        bool isUpdated = state == 4 || state == 5 || state == 12;
        if (isNew)
            expected.push_back("new " + std::to_string(state));
        if (isUpdated)
            expected.push_back("updated " + std::to_string(state));
    }
    std::vector<std::string> seen;
    for (const Call &call : gv_calls)
        seen.push_back(call.listener + " " + std::to_string(call.state));
    EXPECT_EQ(expected, seen);
    EXPECT_NE(std::string::npos, log_.Messages("DEBUG").find("Listener not registered for Eventype 6\n"));
}

}  // namespace
}  // namespace tamsel_test
