#include "store_files.h"

#include <filesystem>

#include "support/scratch_root.h"
#include "tamsel/tamsel_init.h"
#include "tamsel_support.h"
#include "log/log.h"
#include "util/locks.h"

namespace tamsel_test {

const char kTestDictionary[] = R"(<?xml version="1.0"?>
<data-dictionary>
  <description>store test tables</description>
  <table name="Agentparams">
    <columns>
      <column name="PARAM_NAME"><data-type>CHAR</data-type><max-size>64</max-size></column>
      <column name="param_Value"><data-type>CHAR</data-type><max-size>200</max-size></column>
    </columns>
    <primary-key><primary-key-column>PARAM_NAME</primary-key-column></primary-key>
  </table>
  <table name="Parent">
    <columns>
      <column name="PARENT_ID"><data-type>INTEGER</data-type>
        <uniquevalue-generation><generator-name>PARENT_SEQ</generator-name></uniquevalue-generation></column>
      <column name="NAME"><data-type>CHAR</data-type><max-size>32</max-size></column>
      <column name="ACTIVE"><data-type>BOOLEAN</data-type></column>
      <column name="NOTE"><data-type>CHAR</data-type><max-size>64</max-size></column>
    </columns>
    <primary-key><primary-key-column>PARENT_ID</primary-key-column></primary-key>
  </table>
  <table name="Child">
    <columns>
      <column name="CHILD_ID"><data-type>INTEGER</data-type>
        <uniquevalue-generation><generator-name>CHILD_SEQ</generator-name></uniquevalue-generation></column>
      <column name="PARENT_ID"><data-type>INTEGER</data-type></column>
      <column name="LABEL"><data-type>CHAR</data-type><max-size>32</max-size></column>
    </columns>
    <primary-key><primary-key-column>CHILD_ID</primary-key-column></primary-key>
    <foreign-keys>
      <foreign-key reference-table-name="Parent">
        <fk-columns><fk-column><fk-local-column>PARENT_ID</fk-local-column>
          <fk-reference-column>PARENT_ID</fk-reference-column></fk-column></fk-columns>
      </foreign-key>
    </foreign-keys>
  </table>
  <table name="Stamp">
    <columns>
      <column name="ID"><data-type>INTEGER</data-type></column>
      <column name="D"><data-type>DATE</data-type></column>
      <column name="T"><data-type>TIME</data-type></column>
      <column name="DT"><data-type>DATETIME</data-type></column>
    </columns>
  </table>
</data-dictionary>
)";

StoreFiles::StoreFiles() : root_(vt_test::MakeTempDir("store"))
{
    InitMutex();
    ResetStore();
    vt_test::MakeDirs(root_ + "/data");
}

StoreFiles::~StoreFiles()
{
    DeInitTamsel();
    ResetStore();
    SetTamselRoot(nullptr);
    if (getenv("VT_KEEP_ROOTS") == nullptr) {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
}

void StoreFiles::WriteData(const std::string &name, const std::string &text) const
{
    vt_test::WriteWholeFile(DataPath(name), text);
}

void StoreFiles::WriteDictionary(const std::vector<std::pair<std::string, std::string>> &files) const
{
    std::string list;
    for (const auto &file : files) {
        list += file.first + " ";
        WriteData(file.first, file.second);
    }
    WriteData("datadictionary.txt", list + "\n");
}

bool StoreFiles::Start(const char *dictionary)
{
    if (dictionary != nullptr)
        WriteDictionary({{"tables.xml", dictionary}});
    started_ = InitTamsel(root_.c_str());
    return started_;
}

}  // namespace tamsel_test
