/* Shared fixtures of the table-store tests: a clean store, log capture, table
 * definitions and data-dictionary trees built in memory. */
#pragma once
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "tamsel/relvar.h"
#include "tamsel/table_defn.h"
#include "support/log_capture.h"
#include "tamsel/xml_tag_info.h"

namespace tamsel_test {

/* Empties the table list and the definition list. */
void ResetStore();

/* The log captured at a level for the life of the object (the shared capture). */
class LogCapture {
public:
    explicit LogCapture(int level) : capture_(level) {}
    /* Every message written with `tag` ("ERROR", "DEBUG", ...), prefixes removed,
     * concatenated in order. */
    std::string Messages(const std::string &tag) const;
    /* The same messages, one element per log write. */
    std::vector<std::string> Writes(const std::string &tag) const { return capture_.Messages(tag); }
    /* The raw log text. */
    std::string Raw() const { return capture_.Text(); }

private:
    vt_test::LogCapture capture_;
};

/* A test fixture with the object locks ready and a clean store before and after. */
class StoreTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};

struct ColumnShape {
    const char *name;
    uint8_t type;
    const char *defaultText = nullptr;
    const char *generator = nullptr;
};

/* Adds a definition with these columns and primary-key columns; true on success. */
bool DefineTable(const char *name, std::initializer_list<ColumnShape> columns,
                 std::initializer_list<const char *> primaryKey = {});

/* A row of texts converted per column type (nullptr gives NULL); added with AddNewRow. */
RowObject *AddRow(const char *relvar, std::initializer_list<const char *> texts);

/* The rows of a result set in cursor order, each as the text of one column. */
std::vector<std::string> ColumnTexts(ResultData *result, const char *column);

/* Data-dictionary tree nodes; the root owns everything below it. */
XmlTagInfo *Tag(const char *name, std::initializer_list<const char *> values = {},
                std::initializer_list<std::pair<const char *, const char *>> attributes = {});
/* Appends children in order and returns the parent. */
XmlTagInfo *With(XmlTagInfo *parent, std::initializer_list<XmlTagInfo *> children);
void FreeTags(XmlTagInfo *tag);

} // namespace tamsel_test
