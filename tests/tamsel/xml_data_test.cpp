/* Table data loaded from XML documents into a started store. */
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <string>

#include "store_files.h"
#include "tamsel/kel_datetime.h"
#include "tamsel/relvar.h"
#include "tamsel/xml_data.h"
#include "tamsel_support.h"

namespace tamsel_test {
namespace {

class XmlDataTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(files_.Start()); }

    bool Load(const std::string &document)
    {
        return ConstructTableDataFromXMLBuffer(document.data(), static_cast<int>(document.size()));
    }
    /* Every row of a relvar, one column as text. */
    std::vector<std::string> Column(const char *relvar, const char *column, const char *criteria = nullptr)
    {
        ResultData *result = SelectRows(relvar, criteria);
        std::vector<std::string> texts = result != nullptr ? ColumnTexts(result, column) : std::vector<std::string>{};
        FreeResultData(result);
        return texts;
    }
    int32_t Integer(const char *relvar, const char *column, const char *criteria)
    {
        ResultData *result = SelectRows(relvar, criteria);
        int32_t value = INT32_MIN;
        if (result != nullptr && GotoNextRowObject(result) != nullptr) {
            int length = 0;
            void *stored = GetColumnValueByName(column, &length, result);
            if (stored != nullptr && length == 4)
                memcpy(&value, stored, 4);
        }
        FreeResultData(result);
        return value;
    }

    StoreFiles files_;
    LogCapture log_{3};
};

TEST_F(XmlDataTest, ResourceDocumentRowsAreFoundByCriteriaAndListsAreOnlyContainers)
{
    ASSERT_TRUE(Load("<?xml version=\"1.0\"?><ResourceData>\n"
                     "  <Agentparams PARAM_NAME=\"RESOURCE_ID\" param_value=\"R-4711\" extra=\"ignored\"/>\n"
                     "  <AgentparamsList><Agentparams param_name=\"SITE\" PARAM_VALUE=\"north\"/></AgentparamsList>\n"
                     "</ResourceData>"));
    EXPECT_EQ(std::vector<std::string>{"R-4711"}, Column("Agentparams", "param_Value", "PARAM_NAME='RESOURCE_ID'"));
    EXPECT_EQ((std::vector<std::string>{"RESOURCE_ID", "SITE"}), Column("Agentparams", "PARAM_NAME"));
    EXPECT_EQ(nullptr, GetTableDataByName("AgentparamsList"));
    EXPECT_EQ("", log_.Messages("ERROR"));
}

TEST_F(XmlDataTest, LabelsGiveOneIdentifierPerReferenceAndChildrenFollowThem)
{
    ASSERT_TRUE(Load("<r>"
                     "<Parent PARENT_ID=\"Parent:PARENT_ID:a\" NAME=\"first\"/>"
                     "<Parent PARENT_ID=\"Parent:PARENT_ID:b\" NAME=\"second\"/>"
                     "<Child PARENT_ID=\"Parent:PARENT_ID:a\" LABEL=\"by reference\"/>"
                     "<Child PARENT_ID=\"Other:Thing:b\" LABEL=\"unknown table\"/>"
                     "<Child PARENT_ID=\"Child:PARENT_ID:77\" LABEL=\"no generator\"/>"
                     "<Child PARENT_ID=\"::x\" LABEL=\"no table\"/>"
                     "</r>"));
    int32_t first = Integer("Parent", "PARENT_ID", "NAME='first'");
    int32_t second = Integer("Parent", "PARENT_ID", "NAME='second'");
    EXPECT_GT(first, 0);
    EXPECT_GT(second, 0);
    EXPECT_NE(first, second);
    EXPECT_EQ(first, Integer("Child", "PARENT_ID", "LABEL='by reference'"));
    /* Other.Thing has no generator and no foreign key: the label's number, here none. */
    EXPECT_EQ(0, Integer("Child", "PARENT_ID", "LABEL='unknown table'"));
    /* Child.PARENT_ID leads through its foreign key to Parent's generator. */
    int32_t followed = Integer("Child", "PARENT_ID", "LABEL='no generator'");
    EXPECT_GT(followed, second);
    EXPECT_EQ(INT32_MIN, Integer("Child", "PARENT_ID", "LABEL='no table'"));
    EXPECT_NE(std::string::npos, log_.Messages("ERROR").find("Unable to get Column details for AutoID generation \n"));
    /* Each child got its own generated identifier. */
    std::vector<std::string> children = Column("Child", "LABEL");
    EXPECT_EQ(4u, children.size());
}

TEST_F(XmlDataTest, KeysAreInheritedFromAncestorsAndDescendants)
{
    ASSERT_TRUE(Load("<r>\n"
                     " <Parent PARENT_ID=\"7\" NAME=\"p7\">\n"
                     "  <Child LABEL=\"under seven\"/>\n"
                     "  <Child LABEL=\"own value\" PARENT_ID=\"8\"/>\n"
                     " </Parent>\n"
                     " <Child LABEL=\"above nine\"><Parent PARENT_ID=\"9\" NAME=\"p9\"/></Child>\n"
                     "</r>"));
    EXPECT_EQ(7, Integer("Child", "PARENT_ID", "LABEL='under seven'"));
    EXPECT_EQ(8, Integer("Child", "PARENT_ID", "LABEL='own value'"));
    EXPECT_EQ(9, Integer("Child", "PARENT_ID", "LABEL='above nine'"));
    EXPECT_EQ(9, Integer("Parent", "PARENT_ID", "NAME='p9'"));
}

TEST_F(XmlDataTest, ValueFormsOfTheColumnTypes)
{
    ASSERT_TRUE(Load("<r><Parent PARENT_ID=\"1\" NAME=\"off\" ACTIVE=\"FALSE\" NOTE=\"A:B:some:text\"/>"
                     "<Parent PARENT_ID=\"2\" NAME=\"on\" ACTIVE=\"no\"/>"
                     "<Parent PARENT_ID=\"12x\" NAME=\"bad number\"/>"
                     "<Stamp ID=\"1\" D=\"2024-02-29\" T=\"23:59:58\" DT=\"2024-02-29 23:59:58\"/>"
                     "<Stamp ID=\"2\" D=\"garbage\" T=\"7\" DT=\"2024-05-06\"/></r>"));
    auto flag = [](const char *criteria) {
        ResultData *result = SelectRows("Parent", criteria);
        int value = -1;
        if (result != nullptr && GotoNextRowObject(result) != nullptr) {
            int length = 0;
            void *stored = GetColumnValueByName("ACTIVE", &length, result);
            if (stored != nullptr && length == 1)
                value = *static_cast<unsigned char *>(stored);
        }
        FreeResultData(result);
        return value;
    };
    EXPECT_EQ(0, flag("NAME='off'"));
    EXPECT_EQ(1, flag("NAME='on'"));
    EXPECT_EQ(std::vector<std::string>{"some:text"}, Column("Parent", "NOTE", "NAME='off'"));
    EXPECT_EQ(0, Integer("Parent", "PARENT_ID", "NAME='bad number'"));

    auto stamp = [](int id) {
        ResultData *result = SelectRows("Stamp", id == 1 ? "ID=1" : "ID=2");
        std::string text;
        if (result != nullptr && GotoNextRowObject(result) != nullptr) {
            int length = 0;
            KelDate *date = static_cast<KelDate *>(GetColumnValueByName("D", &length, result));
            KelTime *time = static_cast<KelTime *>(GetColumnValueByName("T", &length, result));
            KelDateTime *both = static_cast<KelDateTime *>(GetColumnValueByName("DT", &length, result));
            char *parts[] = {KelDateToString(date), KelTimeToString(time), KelDateTimeToString(both)};
            for (char *part : parts) {
                text += std::string(part != nullptr ? part : "(null)") + "|";
                free(part);
            }
        }
        FreeResultData(result);
        return text;
    };
    char *expectOne[] = {nullptr, nullptr, nullptr};
    KelDate date = {2024, 2, 29};
    KelTime time = {23, 59, 58};
    KelDateTime *both = CreateKelDateTime(2024, 2, 29, 23, 59, 58);
    expectOne[0] = KelDateToString(&date);
    expectOne[1] = KelTimeToString(&time);
    expectOne[2] = KelDateTimeToString(both);
    EXPECT_EQ(std::string(expectOne[0]) + "|" + expectOne[1] + "|" + expectOne[2] + "|", stamp(1));
    for (char *text : expectOne)
        free(text);
    free(both);
    /* Texts that do not match their pattern leave zero fields, never stale memory. */
    KelDate zeroDate = {0, 0, 0};
    KelTime seven = {7, 0, 0};
    KelDateTime *dateOnly = CreateKelDateTime(2024, 5, 6, 0, 0, 0);
    char *expectTwo[] = {KelDateToString(&zeroDate), KelTimeToString(&seven), KelDateTimeToString(dateOnly)};
    EXPECT_EQ(std::string(expectTwo[0] ? expectTwo[0] : "(null)") + "|" + expectTwo[1] + "|" + expectTwo[2] + "|",
              stamp(2));
    for (char *text : expectTwo)
        free(text);
    free(dateOnly);
}

TEST_F(XmlDataTest, ElementsWithoutDefinitionFailOnlyAtTheTopLevel)
{
    const std::string rowError = "Cannot create and add a new row while constructing tabledata from XML file.\n";
    ASSERT_TRUE(Load("<r><Parent PARENT_ID=\"1\" NAME=\"kept\"><Unknown/></Parent>"
                     "<Parent PARENT_ID=\"2\" NAME=\"after\"/></r>"));
    EXPECT_EQ(rowError, log_.Messages("ERROR"));
    EXPECT_EQ((std::vector<std::string>{"kept", "after"}), Column("Parent", "NAME"));

    EXPECT_FALSE(Load("<r><Parent PARENT_ID=\"3\" NAME=\"before\"/><Unknown/><Parent PARENT_ID=\"4\" NAME=\"never\"/></r>"));
    EXPECT_EQ(rowError + rowError + "Cannot construct table data from XML buffer.\n", log_.Messages("ERROR"));
    /* Rows added before the failure stay. */
    EXPECT_EQ((std::vector<std::string>{"kept", "after", "before"}), Column("Parent", "NAME"));

    files_.WriteData("broken.xml", "<r><Parent NAME=");
    EXPECT_FALSE(ConstructTableDataFromXMLFile(files_.DataPath("broken.xml").c_str()));
    EXPECT_FALSE(Load("not xml at all"));
    std::string errors = log_.Messages("ERROR");
    EXPECT_NE(std::string::npos, errors.find("error: could not parse file file.xml\nerror: could not parse file file.xml\n"));

    files_.WriteData("good.xml", "<r><Parent PARENT_ID=\"5\" NAME=\"from file\"/></r>");
    EXPECT_TRUE(ConstructTableDataFromXMLFile(files_.DataPath("good.xml").c_str()));
    EXPECT_EQ(std::vector<std::string>{"from file"}, Column("Parent", "NAME", "PARENT_ID=5"));
}

TEST_F(XmlDataTest, HostileDocumentsReadNoFileAndStayBounded)
{
    /* Exponential entity expansion: the parser's amplification limit stops it. */
    std::string bomb = "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY a0 \"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\">";
    for (int i = 1; i <= 30; i++)
        bomb += "<!ENTITY a" + std::to_string(i) + " \"&a" + std::to_string(i - 1) + ";&a" + std::to_string(i - 1) + ";\">";
    bomb += "]><r><Agentparams PARAM_NAME=\"bomb\" param_Value=\"&a30;\"/></r>";
    EXPECT_FALSE(Load(bomb));

    /* An external entity naming a local file: never read. */
    files_.WriteData("secret.txt", "TOP-SECRET");
    const std::string secretUrl = "file://" + files_.DataPath("secret.txt");
    for (const std::string &document :
         {"<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY s SYSTEM \"" + secretUrl +
              "\">]><r><Agentparams PARAM_NAME=\"in attribute\" param_Value=\"&s;\"/></r>",
          "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY s SYSTEM \"" + secretUrl +
              "\">]><r><Agentparams PARAM_NAME=\"in content\" param_Value=\"x\">&s;</Agentparams></r>",
          "<?xml version=\"1.0\"?><!DOCTYPE r SYSTEM \"" + secretUrl + "\"><r/>"}) {
        Load(document);
        files_.WriteData("external.xml", document);
        ConstructTableDataFromXMLFile(files_.DataPath("external.xml").c_str());
    }
    for (const std::string &value : Column("Agentparams", "param_Value"))
        EXPECT_EQ(std::string::npos, value.find("SECRET")) << value;

    /* 50 MB: one attribute beyond the parser's text limit fails cleanly. */
    std::string large = "<r><Agentparams PARAM_NAME=\"large\" param_Value=\"";
    large.append(50u << 20, 'v');
    large += "\"/></r>";
    EXPECT_FALSE(Load(large));
    EXPECT_TRUE(Column("Agentparams", "PARAM_NAME", "PARAM_NAME='large'").empty());

    /* Deep nesting ends at the parser's depth limit instead of exhausting the stack. */
    std::string deep = "<r>";
    for (int i = 0; i < 100000; i++)
        deep += "<AList>";
    EXPECT_FALSE(Load(deep));
}

}  // namespace
}  // namespace tamsel_test
