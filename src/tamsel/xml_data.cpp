/* Table data from XML documents, files and buffers, through libxml2's tree
 * interface. Documents are untrusted: they are parsed without network access,
 * with the parser's limits on nesting and entity expansion, and no external
 * entity or DTD is ever read. */
#include "tamsel/xml_data.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <mutex>
#include <string>
#include <vector>

#include "log/log.h"
#include "tamsel/criteria.h"
#include "tamsel/kel_datetime.h"
#include "tamsel/relvar.h"
#include "tamsel/sequence.h"
#include "tamsel/table_defn.h"
#include "util/strings.h"

namespace {

/* Foreign-key chains are followed this far at most (a cycle ends there). */
const int kMaxReferenceHops = 32;

xmlExternalEntityLoader gv_defaultEntityLoader = nullptr;

/* The main document of a file parse is the only input the loader lets through. */
xmlParserInputPtr RefuseExternalEntities(const char *url, const char *id, xmlParserCtxtPtr context)
{
    if (context != nullptr && context->inputNr == 0 && gv_defaultEntityLoader != nullptr)
        return gv_defaultEntityLoader(url, id, context);
    return nullptr;
}

void IgnoreLibraryMessage(void *, const char *, ...) {}

bool SameName(const char *left, const char *right)
{
    return left != nullptr && right != nullptr && CompareStringsNoCase(left, right) == 0;
}

const char *NameOf(const xmlNode *node)
{
    return reinterpret_cast<const char *>(node->name);
}

/* The text of an attribute: its single text node as it stands, or the joined
 * text of its nodes (kept in `joined`). */
const char *AttributeText(xmlDoc *document, const xmlAttr *attribute, std::string *joined)
{
    const xmlNode *text = attribute->children;
    if (text == nullptr)
        return "";
    if (text->next == nullptr && text->type == XML_TEXT_NODE && text->content != nullptr)
        return reinterpret_cast<const char *>(text->content);
    xmlChar *value = xmlNodeListGetString(document, attribute->children, 1);
    joined->assign(value != nullptr ? reinterpret_cast<const char *>(value) : "");
    xmlFree(value);
    return joined->c_str();
}

/* The first attribute of that name (any letter case), or null. */
const xmlAttr *AttributeNamed(const xmlNode *element, const char *name)
{
    for (const xmlAttr *attribute = element->properties; attribute != nullptr; attribute = attribute->next) {
        if (SameName(reinterpret_cast<const char *>(attribute->name), name))
            return attribute;
    }
    return nullptr;
}

bool FindAttribute(xmlDoc *document, const xmlNode *element, const char *name, std::string *value)
{
    const xmlAttr *attribute = AttributeNamed(element, name);
    if (attribute == nullptr)
        return false;
    std::string joined;
    const char *text = AttributeText(document, attribute, &joined);
    value->assign(text);
    return true;
}

/* ---- inherited keys ------------------------------------------------------ */

struct KeyRecord {
    std::string referenceTable; /* empty for a primary-key column */
    std::string referenceColumn;
    std::string localColumn;
    bool resolved = false;
    std::string value;
};

void ResolveUpwards(xmlDoc *document, const xmlNode *element, std::vector<KeyRecord> &records, int depth);

/* The foreign-key records of a table definition, resolved over the ancestors. */
std::vector<KeyRecord> ForeignKeyRecords(xmlDoc *document, const xmlNode *element, TableDefn *defn, bool trace,
                                         int depth)
{
    std::vector<KeyRecord> records;
    Vector *keys = defn != nullptr && defn->constraints != nullptr ? defn->constraints->foreignKeys : nullptr;
    for (VectorNode *node = keys != nullptr ? ElementAt(keys, 0) : nullptr; node != nullptr; node = node->next) {
        ForeignKeyDefn *key = static_cast<ForeignKeyDefn *>(node->data);
        if (key == nullptr || key->fkLocalColumn == nullptr || key->fkReferenceColumn == nullptr ||
            key->referenceTableName == nullptr)
            continue;
        if (trace) {
            LogTrace("Column Name : %s\n", key->fkLocalColumn);
            LogTrace("Ref Column  : %s\n", key->fkReferenceColumn);
            LogTrace("Tablename : %s\n", key->referenceTableName);
        }
        KeyRecord record;
        record.referenceTable = key->referenceTableName;
        record.referenceColumn = key->fkReferenceColumn;
        record.localColumn = key->fkLocalColumn;
        records.push_back(record);
    }
    ResolveUpwards(document, element, records, depth);
    return records;
}

/* The value of the first resolved record whose local column is `column`. */
const KeyRecord *ResolvedFor(const std::vector<KeyRecord> &records, const std::string &column)
{
    for (const KeyRecord &record : records) {
        if (record.resolved && SameName(record.localColumn.c_str(), column.c_str()))
            return &record;
    }
    return nullptr;
}

void ResolveUpwards(xmlDoc *document, const xmlNode *element, std::vector<KeyRecord> &records, int depth)
{
    for (const xmlNode *ancestor = element->parent; ancestor != nullptr && ancestor->type == XML_ELEMENT_NODE;
         ancestor = ancestor->parent) {
        for (KeyRecord &record : records) {
            if (record.resolved)
                continue;
            if (FindAttribute(document, ancestor, record.referenceColumn.c_str(), &record.value)) {
                record.resolved = true;
            } else if (!record.referenceTable.empty() && depth < kMaxReferenceHops &&
                       SameName(NameOf(ancestor), record.referenceTable.c_str())) {
                std::vector<KeyRecord> inherited =
                    ForeignKeyRecords(document, ancestor, GetTableDefn(record.referenceTable.c_str()), false, depth + 1);
                if (const KeyRecord *found = ResolvedFor(inherited, record.referenceColumn)) {
                    record.value = found->value;
                    record.resolved = true;
                }
            }
        }
    }
}

/* Foreign keys still open are looked for below the element: its first child
 * element, then that one's first child element, and so on. */
void ResolveDownwards(xmlDoc *document, const xmlNode *element, std::vector<KeyRecord> &records)
{
    for (KeyRecord &record : records) {
        if (record.resolved || record.referenceTable.empty())
            continue;
        const xmlNode *walk = xmlFirstElementChild(const_cast<xmlNode *>(element));
        for (; walk != nullptr; walk = xmlFirstElementChild(const_cast<xmlNode *>(walk))) {
            if (!SameName(NameOf(walk), record.referenceTable.c_str()))
                continue;
            if (FindAttribute(document, walk, record.referenceColumn.c_str(), &record.value)) {
                record.resolved = true;
            } else {
                std::vector<KeyRecord> own =
                    ForeignKeyRecords(document, walk, GetTableDefn(record.referenceTable.c_str()), false, 1);
                if (const KeyRecord *found = ResolvedFor(own, record.referenceColumn)) {
                    record.value = found->value;
                    record.resolved = true;
                }
            }
            break;
        }
    }
}

/* ---- label cache --------------------------------------------------------- */

bool CacheGet(HashTable *cache, const std::string &key, int32_t *identifier)
{
    const int32_t *stored = static_cast<const int32_t *>(HashGet(cache, key.c_str()));
    if (stored == nullptr)
        return false;
    *identifier = *stored;
    return true;
}

void CachePut(HashTable *cache, const std::string &key, int32_t identifier)
{
    int32_t *stored = static_cast<int32_t *>(HashGet(cache, key.c_str()));
    if (stored != nullptr) {
        *stored = identifier;
        return;
    }
    stored = static_cast<int32_t *>(malloc(sizeof(int32_t)));
    if (stored == nullptr)
        return;
    *stored = identifier;
    if (!HashPut(cache, key.c_str(), stored))
        free(stored);
}

std::string LabelKey(const char *table, const char *column, const std::string &label)
{
    return std::string(table) + ":" + column + ":" + label;
}

int32_t IntegerOf(const std::string &text)
{
    int length = static_cast<int>(text.size());
    void *value = ConvertLiteral(text.c_str(), &length, KEL_SQL_INT);
    int32_t number = 0;
    if (value != nullptr && length == 4)
        memcpy(&number, value, 4);
    free(value);
    return number;
}

/* The identifier that the reference T:C:L stands for in column `column` of
 * relvar `relvar`; false when it gives none. */
bool ResolveReference(HashTable *cache, const char *relvar, ColumnDefn *column, const std::string &reference,
                      int32_t *identifier)
{
    size_t first = reference.find(':');
    size_t second = reference.find(':', first + 1);
    std::string table = reference.substr(0, first);
    std::string referenced = reference.substr(first + 1, second - first - 1);
    std::string label = reference.substr(second + 1);

    if (CacheGet(cache, reference, identifier)) {
        if (!label.empty())
            CachePut(cache, LabelKey(relvar, column->name, label), *identifier);
        return true;
    }
    if (column->generatorName != nullptr) {
        int32_t generated = GenerateID(relvar, column);
        if (generated == -1)
            return false;
        *identifier = generated;
        CachePut(cache, reference, generated);
        return true;
    }
    if (table.empty() || referenced.empty()) {
        LogError("Unable to get Column details for AutoID generation \n");
        return false;
    }

    /* Follow the foreign keys from T.C until a column with a generator answers. */
    std::string hopTable = table;
    std::string hopColumn = referenced;
    int hops = 0;
    int32_t generated = GenerateID(hopTable.c_str(), GetColumnDefnEntry(hopTable.c_str(), hopColumn.c_str()));
    while (generated == -1 && hops < kMaxReferenceHops) {
        ForeignKeyDefn *key = GetForeignKeyDefn(GetTableDefn(hopTable.c_str()), hopColumn.c_str());
        if (key == nullptr || key->referenceTableName == nullptr || key->fkReferenceColumn == nullptr)
            break;
        hopTable = key->referenceTableName;
        hopColumn = key->fkReferenceColumn;
        hops++;
        generated = GenerateID(hopTable.c_str(), GetColumnDefnEntry(hopTable.c_str(), hopColumn.c_str()));
    }
    if (generated != -1) {
        /* The same hops again: a label already known on the way wins. */
        hopTable = table;
        hopColumn = referenced;
        for (int i = 0; i < hops; i++) {
            ForeignKeyDefn *key = GetForeignKeyDefn(GetTableDefn(hopTable.c_str()), hopColumn.c_str());
            if (key == nullptr)
                break;
            hopTable = key->referenceTableName;
            hopColumn = key->fkReferenceColumn;
            std::string hopKey = LabelKey(hopTable.c_str(), hopColumn.c_str(), label);
            int32_t known = 0;
            if (CacheGet(cache, hopKey, &known)) {
                generated = known;
                break;
            }
            CachePut(cache, hopKey, generated);
        }
    } else {
        generated = IntegerOf(label);
    }
    *identifier = generated;
    if (!label.empty())
        CachePut(cache, LabelKey(relvar, column->name, label), generated);
    CachePut(cache, reference, generated);
    return true;
}

/* ---- rows ---------------------------------------------------------------- */

bool IsTextType(uint8_t type)
{
    return type == KEL_SQL_TEXT || type == KEL_SQL_SHORT_CHAR || type == KEL_SQL_CHAR || type == KEL_SQL_BLOB;
}

bool IsDateType(uint8_t type)
{
    return type == KEL_SQL_DATE || type == KEL_SQL_TIME || type == KEL_SQL_DATETIME;
}

/* Part `index` (0-based) of a text split at ':'. */
std::string ColonPart(const std::string &text, int index)
{
    size_t start = 0;
    for (int i = 0; i < index; i++) {
        start = text.find(':', start);
        if (start == std::string::npos)
            return std::string();
        start++;
    }
    return text.substr(start, text.find(':', start) - start);
}

/* The value of a column given by an attribute text. */
void ConvertAttribute(HashTable *cache, const char *relvar, ColumnDefn *column, const char *given,
                      void **value, int32_t *length)
{
    const char *firstColon = strchr(given, ':');
    if (firstColon == nullptr || strchr(firstColon + 1, ':') == nullptr) {
        AllocateAndCopyColumnValue(value, length, column->type, given); /* fewer than two colons */
        return;
    }
    const std::string text(given);
    if (SameName(relvar, "Workflow_Statements") && SameName(column->name, "NEXT_STATEMENT_ID") &&
               ColonPart(text, 2) == "0") {
        int32_t zero = 0;
        *value = CopyColumnValue(KEL_SQL_INT, &zero, 4);
        *length = *value != nullptr ? 4 : 0;
    } else if (IsTextType(column->type)) {
        size_t second = text.find(':', text.find(':') + 1);
        AllocateAndCopyColumnValue(value, length, column->type, text.c_str() + second + 1);
    } else if (IsDateType(column->type)) {
        AllocateAndCopyColumnValue(value, length, column->type, text.c_str());
    } else {
        int32_t identifier = 0;
        if (ResolveReference(cache, relvar, column, text, &identifier)) {
            *value = CopyColumnValue(KEL_SQL_INT, &identifier, 4);
            *length = *value != nullptr ? 4 : 0;
        } else if (column->defaultValue != nullptr) {
            *value = CopyColumnValue(column->type, column->defaultValue, column->defaultLength);
            *length = *value != nullptr ? column->defaultLength : 0;
        }
    }
}

/* Replaces a slot with an inherited key value converted for the column. */
void TakeInherited(const KeyRecord *record, ColumnDefn *column, void **value, int32_t *length)
{
    if (record == nullptr) {
        LogTrace("value parameter in AllocateAndCopyColumnValue is NULL \n");
        return;
    }
    void *converted = nullptr;
    int32_t convertedLength = 0;
    if (AllocateAndCopyColumnValue(&converted, &convertedLength, column->type, record->value.c_str()) &&
        converted != nullptr) {
        free(*value);
        *value = converted;
        *length = convertedLength;
    }
}

const KeyRecord *RecordFor(const std::vector<KeyRecord> &records, const char *column)
{
    for (const KeyRecord &record : records) {
        if (SameName(record.localColumn.c_str(), column))
            return record.resolved ? &record : nullptr;
    }
    return nullptr;
}

bool HasRecordFor(const std::vector<KeyRecord> &records, const char *column)
{
    for (const KeyRecord &record : records) {
        if (SameName(record.localColumn.c_str(), column))
            return true;
    }
    return false;
}

bool AddElementRow(xmlDoc *document, const xmlNode *element, HashTable *cache)
{
    const char *name = NameOf(element);
    TableData *relvar = GetTableDataByName(name);
    if (relvar == nullptr) {
        CreateTable(name);
        relvar = GetTableDataByName(name);
    }
    if (relvar == nullptr)
        return strstr(name, "List") != nullptr;
    TableDefn *defn = relvar->tableDefn;
    if (relvar->kind != RELVAR_TABLE || defn == nullptr || defn->columns == nullptr)
        return false;

    std::vector<KeyRecord> foreignKeys = ForeignKeyRecords(document, element, defn, true, 0);
    ResolveDownwards(document, element, foreignKeys);
    std::vector<KeyRecord> primaryKeys;
    ConstraintDefn *constraints = defn->constraints;
    for (int i = 0; constraints != nullptr && i < constraints->primaryKeyCount; i++) {
        const char *keyColumn = constraints->primaryKeyColumns[i];
        LogTrace("Primary key : %s\n\n", keyColumn);
        if (!foreignKeys.empty()) {
            LogTrace("Foreign key Constraints\n");
            LogTrace("********************************\n");
            for (const KeyRecord &key : foreignKeys)
                LogTrace("Column Name : %s\n", key.localColumn.c_str());
        }
        if (HasRecordFor(foreignKeys, keyColumn))
            continue;
        KeyRecord key;
        key.referenceColumn = keyColumn;
        key.localColumn = keyColumn;
        primaryKeys.push_back(key);
    }
    ResolveUpwards(document, element, primaryKeys, kMaxReferenceHops);

    int count = relvar->columnCount;
    void **values = static_cast<void **>(calloc(static_cast<size_t>(count) + 1, sizeof(void *)));
    int32_t *lengths = static_cast<int32_t *>(calloc(static_cast<size_t>(count) + 1, sizeof(int32_t)));
    if (values == nullptr || lengths == nullptr) {
        free(values);
        free(lengths);
        return false;
    }
    int index = 0;
    for (VectorNode *node = ElementAt(defn->columns, 0); node != nullptr && index < count;
         node = node->next, index++) {
        ColumnDefn *column = static_cast<ColumnDefn *>(node->data);
        if (column == nullptr)
            continue;
        if (const xmlAttr *attribute = AttributeNamed(element, column->name)) {
            std::string joined;
            ConvertAttribute(cache, relvar->name, column, AttributeText(document, attribute, &joined), &values[index],
                             &lengths[index]);
            continue;
        }
        if (column->defaultValue != nullptr) {
            values[index] = CopyColumnValue(column->type, column->defaultValue, column->defaultLength);
            lengths[index] = values[index] != nullptr ? column->defaultLength : 0;
        }
        if (HasRecordFor(foreignKeys, column->name))
            TakeInherited(RecordFor(foreignKeys, column->name), column, &values[index], &lengths[index]);
        else if (HasRecordFor(primaryKeys, column->name))
            TakeInherited(RecordFor(primaryKeys, column->name), column, &values[index], &lengths[index]);
    }
    RowObject *row = CreateNewRowObject(values, lengths);
    if (row == nullptr || !AddNewRow(relvar->name, row)) {
        if (row != nullptr) {
            FreeRowObject(row, count);
        } else {
            for (int i = 0; i < count; i++)
                free(values[i]);
            free(values);
            free(lengths);
        }
        return false;
    }
    return true;
}

/* A run of siblings in document order, each element's descendants after it.
 * A failing element ends its run; a failure in a deeper run is only logged. */
bool ProcessSiblings(xmlDoc *document, xmlNode *first, HashTable *cache)
{
    for (xmlNode *node = first; node != nullptr; node = node->next) {
        if (node->type != XML_ELEMENT_NODE)
            continue;
        if (!AddElementRow(document, node, cache)) {
            LogError("Cannot create and add a new row while constructing tabledata from XML file.\n");
            return false;
        }
        ProcessSiblings(document, node->children, cache);
    }
    return true;
}

HashTable *NewLabelCache()
{
    HashTable *cache = static_cast<HashTable *>(calloc(1, sizeof(HashTable)));
    if (cache != nullptr && !HashInit(cache, 50)) {
        free(cache);
        return nullptr;
    }
    return cache;
}

/* Loads a parsed document (null: it did not parse) and frees it. */
bool LoadDocument(xmlDoc *document, const char *failure)
{
    if (document == nullptr) {
        LogError("error: could not parse file file.xml\n");
        return false;
    }
    HashTable *cache = NewLabelCache();
    xmlNode *root = xmlDocGetRootElement(document);
    bool loaded = cache != nullptr && root != nullptr && ProcessSiblings(document, root->children, cache);
    FreeLabelCache(cache);
    xmlFreeDoc(document);
    if (!loaded)
        LogError("%s", failure);
    return loaded;
}

} // namespace

int TamselXmlParseOptions(void)
{
    return XML_PARSE_NONET | XML_PARSE_NOENT | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_COMPACT;
}

void PrepareTamselXmlParser(void)
{
    /* The library's own messages (per thread) would go to standard error; every
     * failure is reported through the log instead. */
    xmlSetGenericErrorFunc(nullptr, IgnoreLibraryMessage);
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        gv_defaultEntityLoader = xmlGetExternalEntityLoader();
        xmlSetExternalEntityLoader(RefuseExternalEntities);
    });
}

bool AllocateAndCopyColumnValue(void **value, int32_t *length, uint8_t type, const char *text)
{
    if (text == nullptr) {
        LogTrace("value parameter in AllocateAndCopyColumnValue is NULL \n");
        return false;
    }
    void *stored = nullptr;
    int storedLength = StringLength(text);
    switch (type) {
    case KEL_SQL_TINYINT:
    case KEL_SQL_UNSIGNED_TINYINT:
    case KEL_SQL_SMALLINT:
    case KEL_SQL_INT:
    case KEL_SQL_UNSIGNED_INT:
        stored = ConvertLiteral(text, &storedLength, KEL_SQL_INT);
        break;
    case KEL_SQL_LONG_INT:
    case KEL_SQL_UNSIGNED_LONG_INT:
    case KEL_SQL_FLOAT:
    case KEL_SQL_DOUBLE:
    case KEL_SQL_CHAR:
    case KEL_SQL_SHORT_CHAR:
    case KEL_SQL_TEXT:
        stored = ConvertLiteral(text, &storedLength, type);
        break;
    case KEL_SQL_DATE: {
        int year = 0, month = 0, day = 0; /* fields the text does not give stay zero */
        sscanf(text, "%d-%d-%d", &year, &month, &day);
        stored = CreateKelDate(year, month, day);
        storedLength = KEL_DATE_LENGTH;
        break;
    }
    case KEL_SQL_TIME: {
        int hour = 0, minute = 0, second = 0;
        sscanf(text, "%d:%d:%d", &hour, &minute, &second);
        stored = CreateKelTime(hour, minute, second);
        storedLength = KEL_TIME_LENGTH;
        break;
    }
    case KEL_SQL_DATETIME: {
        int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
        sscanf(text, "%d-%d-%d %d:%d:%d", &year, &month, &day, &hour, &minute, &second);
        stored = CreateKelDateTime(year, month, day, hour, minute, second);
        storedLength = KEL_DATETIME_LENGTH;
        break;
    }
    case KEL_SQL_BOOLEAN: {
        unsigned char flag = CompareStringsNoCase(text, "false") == 0 ? 0 : 1;
        stored = CopyColumnValue(KEL_SQL_BOOLEAN, &flag, 1);
        storedLength = 1;
        break;
    }
    default:
        return true; /* this type keeps no value from a text */
    }
    if (stored == nullptr)
        return false;
    *value = stored;
    *length = storedLength;
    return true;
}

void PrintForeignKeyValues(Vector *keys)
{
    for (VectorNode *node = keys != nullptr ? ElementAt(keys, 0) : nullptr; node != nullptr; node = node->next) {
        InheritedKey *key = static_cast<InheritedKey *>(node->data);
        if (key == nullptr)
            continue;
        LogDebug("FK  Table: %s\n", key->referenceTable != nullptr ? key->referenceTable : "(null)");
        LogDebug("FK  Column: %s\n", key->referenceColumn != nullptr ? key->referenceColumn : "(null)");
        LogDebug("FK colName: %s\n", key->value != nullptr ? key->value : "(null)");
    }
}

HashTable *ConstructTableDataFromNode(xmlDoc *document, xmlNode *node)
{
    HashTable *cache = NewLabelCache();
    if (cache == nullptr || node == nullptr || !ProcessSiblings(document, node->children, cache)) {
        FreeLabelCache(cache);
        LogError("Cannot construct table data from buffer node.\n");
        return nullptr;
    }
    return cache;
}

void FreeLabelCache(HashTable *cache)
{
    if (cache == nullptr)
        return;
    char **keys = HashKeys(cache);
    for (int i = 0; keys != nullptr && keys[i] != nullptr; i++)
        free(HashGet(cache, keys[i]));
    free(keys);
    HashFree(cache);
    free(cache);
}

bool ConstructTableDataFromXMLFile(const char *path)
{
    if (path == nullptr) {
        LogError("error: could not parse file file.xml\n");
        return false;
    }
    PrepareTamselXmlParser();
    return LoadDocument(xmlReadFile(path, nullptr, TamselXmlParseOptions()),
                        "Cannot construct table data from XML file.\n");
}

bool ConstructTableDataFromXMLBuffer(const char *buffer, int length)
{
    if (buffer == nullptr || length < 0) {
        LogError("error: could not parse file file.xml\n");
        return false;
    }
    PrepareTamselXmlParser();
    return LoadDocument(xmlReadMemory(buffer, length, "file.xml", nullptr, TamselXmlParseOptions()),
                        "Cannot construct table data from XML buffer.\n");
}
