/* The data-dictionary loader: the list file, and each table-definition file read
 * with libxml2's text reader into XmlTagInfo trees. */
#include "tamsel/data_dictionary.h"

#include <libxml/xmlreader.h>
#include <stdlib.h>
#include <string.h>

#include <fstream>
#include <string>
#include <vector>

#include "log/log.h"
#include "tamsel/table_defn.h"
#include "tamsel/xml_data.h"
#include "util/strings.h"

XmlTagInfo *gv_currentTableTag = nullptr;

namespace {

#ifdef _WIN32
const char kSeparator[] = "\\";
#else
const char kSeparator[] = "/";
#endif

const char *const kKnownAttributes[] = {"name", "system", "reference-table-name", "isbidirectional"};

/* The reader with one node of look-ahead: a parse that stops at a node it does
 * not own leaves it pending for its caller. */
class DictReader {
public:
    explicit DictReader(xmlTextReaderPtr reader) : reader_(reader) {}

    /* The next node; false at the end of the input or on a read error. */
    bool Next()
    {
        if (pending_) {
            pending_ = false;
            return status_ == 1;
        }
        if (status_ != 1)
            return false; /* the end or an error stays what it was */
        status_ = xmlTextReaderRead(reader_);
        return status_ == 1;
    }
    /* The next element start or end; text, comments and whitespace are passed over. */
    bool NextTag()
    {
        while (Next()) {
            if (IsStart() || IsEnd())
                return true;
        }
        return false;
    }
    void KeepCurrent() { pending_ = true; }
    bool Failed() const { return status_ < 0; }
    bool IsStart() const { return xmlTextReaderNodeType(reader_) == XML_READER_TYPE_ELEMENT; }
    bool IsEnd() const { return xmlTextReaderNodeType(reader_) == XML_READER_TYPE_END_ELEMENT; }
    bool IsEmptyElement() const { return xmlTextReaderIsEmptyElement(reader_) == 1; }
    std::string Name() const
    {
        const xmlChar *name = xmlTextReaderConstName(reader_);
        return name != nullptr ? reinterpret_cast<const char *>(name) : "";
    }
    bool IsStart(const char *name) const { return IsStart() && CompareStringsNoCase(Name().c_str(), name) == 0; }
    bool IsEnd(const char *name) const { return IsEnd() && CompareStringsNoCase(Name().c_str(), name) == 0; }
    /* On an element start: its text up to its end; false when another element
     * starts first (it is left pending) or the input ends. */
    bool ReadText(std::string *text)
    {
        text->clear();
        if (IsEmptyElement())
            return true;
        while (Next()) {
            int type = xmlTextReaderNodeType(reader_);
            if (type == XML_READER_TYPE_END_ELEMENT)
                return true;
            if (type == XML_READER_TYPE_ELEMENT) {
                KeepCurrent();
                return false;
            }
            if (type == XML_READER_TYPE_TEXT || type == XML_READER_TYPE_CDATA ||
                type == XML_READER_TYPE_SIGNIFICANT_WHITESPACE || type == XML_READER_TYPE_WHITESPACE) {
                const xmlChar *value = xmlTextReaderConstValue(reader_);
                if (value != nullptr)
                    text->append(reinterpret_cast<const char *>(value));
            }
        }
        return false;
    }
    xmlTextReaderPtr get() const { return reader_; }

private:
    xmlTextReaderPtr reader_;
    int status_ = 1;
    bool pending_ = false;
};

char *Copy(const std::string &text)
{
    return strdup(text.c_str());
}

XmlTagInfo *NewTag(const std::string &name)
{
    XmlTagInfo *tag = CreateandInitXmlTagInfo();
    if (tag != nullptr && (tag->tagName = Copy(name)) == nullptr) {
        free(tag);
        return nullptr;
    }
    if (tag == nullptr)
        LogError("MEMORY_ALLOCATION_FAILURE\n");
    return tag;
}

bool AddValue(XmlTagInfo *tag, const std::string &text)
{
    char **values = static_cast<char **>(realloc(tag->values, sizeof(char *) * static_cast<size_t>(tag->valueCount + 1)));
    if (values == nullptr)
        return false;
    tag->values = values;
    if ((values[tag->valueCount] = Copy(text)) == nullptr)
        return false;
    tag->valueCount++;
    return true;
}

void AppendChild(XmlTagInfo *parent, XmlTagInfo *child)
{
    XmlTagInfo **slot = &parent->child;
    while (*slot != nullptr)
        slot = &(*slot)->sibling;
    *slot = child;
}

/* A child node named as the current element, holding its text; null when the
 * element's end is missing. */
XmlTagInfo *TextChild(DictReader &reader, XmlTagInfo *parent)
{
    std::string name = reader.Name();
    std::string text;
    if (!reader.ReadText(&text))
        return nullptr;
    XmlTagInfo *child = NewTag(name);
    if (child == nullptr)
        return nullptr;
    if (!text.empty())
        AddValue(child, text);
    AppendChild(parent, child);
    return child;
}

/* The element start of the current node with its known attributes. */
XmlTagInfo *ElementTag(DictReader &reader, XmlTagInfo *parent)
{
    XmlTagInfo *tag = NewTag(reader.Name());
    if (tag == nullptr)
        return nullptr;
    AllocateAndStrcpyAttrib(reader.get(), tag);
    if (parent != nullptr)
        AppendChild(parent, tag);
    return tag;
}

bool IsColumnChild(DictReader &reader)
{
    for (const char *name : {"description", "data-type", "nullable", "max-size", "default-value", "unique"}) {
        if (reader.IsStart(name))
            return true;
    }
    return false;
}

bool ParseAllowedValues(DictReader &reader, XmlTagInfo *column)
{
    if (reader.IsEmptyElement() || !reader.NextTag())
        return true;
    if (reader.IsStart("value")) {
        XmlTagInfo *values = NewTag("value");
        if (values == nullptr)
            return false;
        AppendChild(column, values);
        do {
            std::string text;
            if (!reader.IsStart("value") || !reader.ReadText(&text)) {
                LogError("\n No ending Value tag\n");
                return false;
            }
            if (!AddValue(values, text)) {
                LogError("MEMORY_ALLOCATION_FAILURE\n");
                return false;
            }
        } while (reader.NextTag() && !reader.IsEnd("allowed-values"));
        return true;
    }
    if (reader.IsStart("from")) {
        if (TextChild(reader, column) == nullptr) {
            LogError("\nNo Ending FROM tag \n");
            return false;
        }
        if (!reader.NextTag() || !reader.IsStart("to") || TextChild(reader, column) == nullptr) {
            LogError("\nNo ending TO tag \n");
            return false;
        }
        while (reader.NextTag() && !reader.IsEnd("allowed-values")) {
        }
        return true;
    }
    reader.KeepCurrent();
    return true;
}

bool ParseColumns(DictReader &reader, XmlTagInfo *columns)
{
    if (reader.IsEmptyElement())
        return true;
    XmlTagInfo *column = nullptr;
    while (reader.NextTag()) {
        if (reader.IsEnd("columns"))
            return true;
        if (reader.IsStart("column")) {
            column = ElementTag(reader, columns);
            if (column == nullptr)
                return false;
            if (reader.IsEmptyElement())
                column = nullptr;
        } else if (reader.IsEnd("column")) {
            column = nullptr;
        } else if (column != nullptr && IsColumnChild(reader)) {
            if (TextChild(reader, column) == nullptr)
                return false;
        } else if (column != nullptr && reader.IsStart("uniquevalue-generation")) {
            while (reader.NextTag() && !reader.IsEnd("uniquevalue-generation")) {
                if (reader.IsStart("generator-name") && TextChild(reader, column) == nullptr)
                    return false;
            }
        } else if (column != nullptr && reader.IsStart("allowed-values")) {
            if (!ParseAllowedValues(reader, column))
                return false;
        } else if (reader.IsStart() || reader.IsEnd("table") || reader.IsEnd("data-dictionary")) {
            reader.KeepCurrent(); /* not a column's element: the columns end here */
            return true;
        }
    }
    return !reader.Failed();
}

bool ParsePrimaryKey(DictReader &reader, XmlTagInfo *key)
{
    if (reader.IsEmptyElement())
        return true;
    while (reader.NextTag()) {
        if (reader.IsEnd("primary-key"))
            return true;
        if (reader.IsStart("primary-key-column")) {
            if (TextChild(reader, key) == nullptr) {
                LogError("\nMissing primary-key-column end tag\n");
                return false;
            }
        } else if (reader.IsStart() || reader.IsEnd("table")) {
            reader.KeepCurrent();
            return true;
        }
    }
    return !reader.Failed();
}

bool ParseForeignKeyColumns(DictReader &reader, XmlTagInfo *columns)
{
    if (reader.IsEmptyElement())
        return true;
    while (reader.NextTag()) {
        if (reader.IsEnd("fk-columns"))
            return true;
        if (!reader.IsStart("fk-column")) {
            LogError("\nMissing end FK-COLUMNS\n");
            return false;
        }
        XmlTagInfo *pair = ElementTag(reader, columns);
        if (pair == nullptr)
            return false;
        if (!reader.NextTag() || !reader.IsStart("fk-local-column") || TextChild(reader, pair) == nullptr) {
            LogError("\n Missing endof FK-LOCAL-COLUMN tag\n");
            return false;
        }
        if (!reader.NextTag() || !reader.IsStart("fk-reference-column") || TextChild(reader, pair) == nullptr) {
            LogError("\nMissing endof FK-REFERENCE-COLUMN\n");
            return false;
        }
        if (!reader.NextTag() || !reader.IsEnd("fk-column")) {
            LogError("\nMissing end FK-COLUMNS\n");
            return false;
        }
    }
    return !reader.Failed();
}

bool ParseForeignKeys(DictReader &reader, XmlTagInfo *keys)
{
    if (reader.IsEmptyElement())
        return true;
    XmlTagInfo *key = nullptr;
    while (reader.NextTag()) {
        if (reader.IsEnd("foreign-keys"))
            return true;
        if (reader.IsStart("foreign-key")) {
            key = ElementTag(reader, keys);
            if (key == nullptr)
                return false;
            if (reader.IsEmptyElement())
                key = nullptr;
        } else if (reader.IsEnd("foreign-key")) {
            key = nullptr;
        } else if (key != nullptr && reader.IsStart("fk-columns")) {
            XmlTagInfo *columns = ElementTag(reader, key);
            if (columns == nullptr || !ParseForeignKeyColumns(reader, columns))
                return false;
        } else if (key != nullptr && reader.IsStart("fk-constraints")) {
            if (TextChild(reader, key) == nullptr) {
                LogError("\nMissing endof FK-CONSTRAINTS tag\n");
                return false;
            }
        } else if (reader.IsStart() || reader.IsEnd("table")) {
            reader.KeepCurrent();
            return true;
        }
    }
    return !reader.Failed();
}

enum TableEnd { kTableEnded, kDictionaryEnded };

/* Builds the tree of the table element the reader is on; null when the table is
 * broken (its remaining nodes are then passed over). */
XmlTagInfo *ParseTable(DictReader &reader, TableEnd *end)
{
    *end = kTableEnded;
    if (!reader.IsStart("table")) {
        LogError("\nTABLE tag missing\n");
        return nullptr;
    }
    XmlTagInfo *table = ElementTag(reader, nullptr);
    if (table == nullptr)
        return nullptr;
    if (table->attrCount > 0 && table->attrValues[0] != nullptr)
        LogTrace("@@@@Parsing Table Info : %s @@@@\n", table->attrValues[0]);
    if (reader.IsEmptyElement())
        return table;

    bool ok = true;
    XmlTagInfo *last = table;
    while (ok && reader.NextTag()) {
        if (reader.IsEnd("table"))
            return table;
        if (reader.IsEnd("data-dictionary")) {
            *end = kDictionaryEnded;
            return table;
        }
        if (reader.IsStart("table")) {
            reader.KeepCurrent();
            return table;
        }
        if (!reader.IsStart())
            continue;
        if (reader.IsStart("description")) {
            if (last != table)
                LogError("\nDescription tag ambiguity \n");
            XmlTagInfo *description = TextChild(reader, table);
            ok = description != nullptr;
            last = description;
        } else if (reader.IsStart("columns")) {
            last = ElementTag(reader, table);
            ok = last != nullptr && ParseColumns(reader, last);
        } else if (reader.IsStart("primary-key")) {
            last = ElementTag(reader, table);
            ok = last != nullptr && ParsePrimaryKey(reader, last);
        } else if (reader.IsStart("foreign-keys")) {
            last = ElementTag(reader, table);
            ok = last != nullptr && ParseForeignKeys(reader, last);
        }
    }
    if (reader.Failed())
        LogError("\nxmlTextReaderRead returned error \n");
    FreeXmlTagInfoList(table);
    /* Recovery: the rest of the broken table is passed over. */
    while (!reader.Failed() && reader.NextTag()) {
        if (reader.IsEnd("table"))
            break;
        if (reader.IsEnd("data-dictionary")) {
            *end = kDictionaryEnded;
            break;
        }
        if (reader.IsStart("table")) {
            reader.KeepCurrent();
            break;
        }
    }
    return nullptr;
}

std::string JoinPath(const std::string &folder, const char *separator, const std::string &name)
{
    return folder + separator + name;
}

/* Loads every file the list names; `folder` and `separator` form their paths. */
void LoadListedFiles(std::ifstream &list, const std::string &folder, const char *separator)
{
    std::string word;
    while (list >> word) {
        std::string path = JoinPath(folder, separator, word);
        LogDebug("Opening %s\n", path.c_str());
        LoadDataDictFromXMLFile(path.c_str());
    }
}

} // namespace

XmlTagInfo *CreateandInitXmlTagInfo(void)
{
    LogTrace("\n Inside CreateandInitXmlTagInfo \n");
    return static_cast<XmlTagInfo *>(calloc(1, sizeof(XmlTagInfo)));
}

void FreeXmlTagInfoList(XmlTagInfo *tag)
{
    LogTrace("\n Inside FreeXmlTagInfoList\n");
    /* Children are released through an explicit stack, so any depth is fine. */
    std::vector<XmlTagInfo *> pending;
    if (tag != nullptr)
        pending.push_back(tag);
    while (!pending.empty()) {
        XmlTagInfo *node = pending.back();
        pending.pop_back();
        if (node->child != nullptr)
            pending.push_back(node->child);
        if (node->sibling != nullptr)
            pending.push_back(node->sibling);
        free(node->tagName);
        for (int i = 0; i < node->attrCount; i++) {
            free(node->attrNames[i]);
            free(node->attrValues[i]);
        }
        free(node->attrNames);
        free(node->attrValues);
        for (int i = 0; i < node->valueCount; i++)
            free(node->values[i]);
        free(node->values);
        free(node);
    }
}

bool AllocateAndStrcpyAttrib(xmlTextReaderPtr reader, XmlTagInfo *tag)
{
    LogTrace("\nInside AllocateAndStrcpyAttrib\n\n");
    if (reader == nullptr || tag == nullptr)
        return false;
    int total = xmlTextReaderAttributeCount(reader);
    const size_t known = sizeof kKnownAttributes / sizeof kKnownAttributes[0];
    tag->attrNames = static_cast<char **>(calloc(known, sizeof(char *)));
    tag->attrValues = static_cast<char **>(calloc(known, sizeof(char *)));
    if (tag->attrNames == nullptr || tag->attrValues == nullptr) {
        LogError("MEMORY_ALLOCATION_FAILURE\n");
        return false;
    }
    for (const char *name : kKnownAttributes) {
        xmlChar *value = xmlTextReaderGetAttribute(reader, reinterpret_cast<const xmlChar *>(name));
        if (value == nullptr)
            continue;
        tag->attrNames[tag->attrCount] = strdup(name);
        tag->attrValues[tag->attrCount] = strdup(reinterpret_cast<const char *>(value));
        xmlFree(value);
        if (tag->attrNames[tag->attrCount] == nullptr || tag->attrValues[tag->attrCount] == nullptr) {
            free(tag->attrNames[tag->attrCount]);
            free(tag->attrValues[tag->attrCount]);
            LogError("MEMORY_ALLOCATION_FAILURE\n");
            return false;
        }
        tag->attrCount++;
    }
    if (total > tag->attrCount)
        LogError("\n Not all Attributes were read\n");
    return true;
}

bool XmlDataParser(const char *path)
{
    LogTrace("\n Inside XmlDataParser\n");
    PrepareTamselXmlParser();
    xmlTextReaderPtr handle = xmlReaderForFile(path, nullptr, TamselXmlParseOptions());
    if (handle == nullptr) {
        LogError("Unable to open %s\n", path);
        return true;
    }
    DictReader reader(handle);
    bool ended = false;
    if (reader.Next()) { /* the root element */
        while (!ended && reader.Next()) {
            if (reader.IsStart() && reader.Name() == "table") {
                TableEnd end = kTableEnded;
                gv_currentTableTag = ParseTable(reader, &end);
                if (gv_currentTableTag != nullptr) {
                    LoadTableDefn(gv_currentTableTag);
                    FreeXmlTagInfoList(gv_currentTableTag);
                    gv_currentTableTag = nullptr;
                }
                ended = end == kDictionaryEnded;
            } else if (reader.IsStart() && reader.Name() == "description") {
                std::string text;
                if (!reader.ReadText(&text)) {
                    LogError("\nNo Description end tag\n");
                    break;
                }
            } else if (reader.IsEnd() && reader.Name() == "data-dictionary") {
                ended = true;
            }
        }
    }
    if (reader.Failed())
        LogError("%s : failed to parse\n", path);
    xmlFreeTextReader(handle);
    return true;
}

bool LoadDataDictFromXMLFile(const char *path)
{
    gv_currentTableTag = nullptr;
    LogTrace("\nInside LoadDataDictFromXMLFile() \n\n");
    if (path == nullptr)
        return false;
    return XmlDataParser(path);
}

bool LoadAllDataDictFiles(void)
{
    LogTrace("\t@@@@@ Inside LoadAllDataDictFiles() @@@@@\n");
    std::string relative = std::string("..") + kSeparator + "data" + kSeparator;
    std::ifstream list(relative + "datadictionary.txt");
    if (list.is_open()) {
        LoadListedFiles(list, relative.substr(0, relative.size() - 1), kSeparator);
        return true;
    }
    const char *root = GetTamselRoot();
    std::string folder = std::string(root != nullptr ? root : "") + "/data";
    std::string path = folder + "/datadictionary.txt";
    LogDebug("Opening %s\n", path.c_str());
    list.clear();
    list.open(path);
    if (!list.is_open()) {
        LogError("Cannot open DataDictionary File.\n");
        return false;
    }
    LoadListedFiles(list, folder, "/");
    return true;
}

bool LoadDataDictFiles(const char *directory)
{
    LogTrace("\t@@@@@ Inside LoadDataDictFiles() @@@@@\n");
    if (directory == nullptr)
        return false;
    std::ifstream list(JoinPath(directory, kSeparator, "datadictionary.txt"));
    if (!list.is_open())
        return false;
    LoadListedFiles(list, directory, kSeparator);
    return true;
}
