/* Criteria trees: building, binding to a table's columns, evaluation against rows,
 * release; and the conversion of literal texts into typed values. The scanner and
 * parser that build the trees are generated from criteria_scanner.l and
 * criteria_parser.y. */
#include "tamsel/criteria.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "log/log.h"
#include "tamsel/kel_datetime.h"
#include "tamsel/relvar.h"
#include "tamsel/table_defn.h"
#include "util/strings.h"

namespace {

/* Trees nested deeper than this are evaluated with an explicit stack. */
constexpr int kRecursionLimit = 512;

/* Optional sign then digits; anything else makes the whole text 0. Overlong
 * numbers wrap around. */
unsigned long long ParseInteger(const char *text, int length)
{
    int i = 0;
    bool negative = false;
    if (i < length && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    unsigned long long value = 0;
    for (; i < length; i++) {
        if (text[i] < '0' || text[i] > '9')
            return 0;
        value = value * 10u + static_cast<unsigned long long>(text[i] - '0');
    }
    return negative ? 0ull - value : value;
}

/* Optional sign, digits, optionally "." and more digits; anything else gives 0. */
double ParseDecimal(const char *text, int length)
{
    int i = 0;
    bool negative = false;
    if (i < length && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    double value = 0.0;
    for (; i < length && text[i] >= '0' && text[i] <= '9'; i++)
        value = value * 10.0 + (text[i] - '0');
    if (i < length && text[i] == '.') {
        double scale = 1.0;
        for (i++; i < length && text[i] >= '0' && text[i] <= '9'; i++) {
            scale *= 10.0;
            value += (text[i] - '0') / scale;
        }
    }
    if (i < length)
        return 0.0;
    return negative ? -value : value;
}

void *CopyOf(const void *bytes, size_t length)
{
    char *copy = static_cast<char *>(calloc(length + 1, 1));
    if (copy != nullptr && length > 0)
        memcpy(copy, bytes, length);
    return copy;
}

bool IsCharacterType(uint8_t type)
{
    return type == KEL_SQL_CHAR || type == KEL_SQL_SHORT_CHAR;
}

/* The literal of a comparison with a character column: the text between the
 * first and the last character (the quotes). */
char *StripQuotes(const char *literal)
{
    size_t length = strlen(literal);
    if (length < 2)
        return static_cast<char *>(CopyOf("", 0));
    return static_cast<char *>(CopyOf(literal + 1, length - 2));
}

/* Reads a stored integer of `width` bytes, signed or not; never reads past the
 * stored length (missing bytes count as zero). */
long long ReadStored(const void *value, int32_t length, int width, bool isSigned)
{
    unsigned char bytes[4] = {0, 0, 0, 0};
    size_t count = length < width ? static_cast<size_t>(length < 0 ? 0 : length) : static_cast<size_t>(width);
    memcpy(bytes, value, count);
    if (width == 1)
        return isSigned ? static_cast<int8_t>(bytes[0]) : bytes[0];
    if (width == 2) {
        uint16_t v;
        memcpy(&v, bytes, 2);
        return isSigned ? static_cast<int16_t>(v) : v;
    }
    uint32_t v;
    memcpy(&v, bytes, 4);
    return isSigned ? static_cast<long long>(static_cast<int32_t>(v)) : v;
}

int IntegerWidth(uint8_t type)
{
    switch (type) {
    case KEL_SQL_TINYINT:
    case KEL_SQL_UNSIGNED_TINYINT:
        return 1;
    case KEL_SQL_SMALLINT:
    case KEL_SQL_UNSIGNED_SMALLINT:
        return 2;
    default:
        return 4;
    }
}

bool Outcome(uint8_t op, int order)
{
    switch (op) {
    case CRITERIA_LT: return order < 0;
    case CRITERIA_GT: return order > 0;
    case CRITERIA_LE: return order <= 0;
    case CRITERIA_GE: return order >= 0;
    case CRITERIA_EQ: return order == 0;
    case CRITERIA_NE: return order != 0;
    default: return false;
    }
}

template <typename T> int Order(T left, T right)
{
    return left < right ? -1 : (right < left ? 1 : 0);
}

/* Byte-wise comparison of two texts as signed characters. */
int CompareSignedText(const char *left, const char *right)
{
    const signed char *l = reinterpret_cast<const signed char *>(left);
    const signed char *r = reinterpret_cast<const signed char *>(right);
    while (*l != 0 && *l == *r) {
        l++;
        r++;
    }
    return *l - *r;
}

/* Whether an integer literal (optional sign, digits) lies outside the range of an
 * integer column type. Texts of another form convert to 0 and always fit. */
bool IsIntegerOutOfRange(const char *text, uint8_t type)
{
    long long low;
    unsigned long long high;
    switch (type) {
    case KEL_SQL_TINYINT: low = INT8_MIN; high = INT8_MAX; break;
    case KEL_SQL_UNSIGNED_TINYINT: low = 0; high = UINT8_MAX; break;
    case KEL_SQL_SMALLINT: low = INT16_MIN; high = INT16_MAX; break;
    case KEL_SQL_UNSIGNED_SMALLINT: low = 0; high = UINT16_MAX; break;
    case KEL_SQL_INT: low = INT32_MIN; high = INT32_MAX; break;
    case KEL_SQL_UNSIGNED_INT: low = 0; high = UINT32_MAX; break;
    case KEL_SQL_LONG_INT: low = INT64_MIN; high = INT64_MAX; break;
    case KEL_SQL_UNSIGNED_LONG_INT: low = 0; high = UINT64_MAX; break;
    default: return false;
    }
    const char *p = text;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    if (*p == 0)
        return false;
    /* The magnitude; beyond 64 bits it is out of range for every type. */
    unsigned long long magnitude = 0;
    bool overflow = false;
    for (; *p != 0; p++) {
        if (*p < '0' || *p > '9')
            return false;
        unsigned digit = static_cast<unsigned>(*p - '0');
        if (magnitude > (UINT64_MAX - digit) / 10u)
            overflow = true;
        else
            magnitude = magnitude * 10u + digit;
    }
    if (overflow)
        return true;
    if (negative) /* -low as unsigned, without overflowing for INT64_MIN */
        return magnitude > 0u - static_cast<unsigned long long>(low);
    return magnitude > high;
}

/* The literal in the form compared against values of the node's column type; null
 * (so that no row matches) when an integer literal does not fit the type. */
void *PrepareLiteral(const CriteriaNode *node, int32_t *length)
{
    if (IsIntegerOutOfRange(node->literal, node->columnType)) {
        LogDebug("Criteria literal %s does not fit the type of column %s: no row matches\n", node->literal,
                 node->columnName);
        *length = 0;
        return nullptr;
    }
    if (IsCharacterType(node->columnType)) {
        char *text = StripQuotes(node->literal);
        *length = text != nullptr ? static_cast<int32_t>(strlen(text)) : 0;
        return text;
    }
    int converted = StringLength(node->literal);
    void *value = ConvertLiteral(node->literal, &converted, node->columnType);
    *length = converted;
    return value;
}

bool CompareWith(const RowObject *row, const CriteriaNode *node, const void *literal)
{
    uint8_t type = node->columnType;
    const void *value = row->values[node->columnIndex];
    int32_t length = row->lengths[node->columnIndex];

    if (IsCharacterType(type)) {
        if (literal == nullptr)
            return false;
        if (value == nullptr) /* NULL sorts before every text */
            return Outcome(node->op, -1);
        return Outcome(node->op, CompareSignedText(static_cast<const char *>(value),
                                                   static_cast<const char *>(literal)));
    }
    if (value == nullptr || literal == nullptr)
        return false;
    switch (type) {
    case KEL_SQL_TINYINT:
    case KEL_SQL_SMALLINT:
    case KEL_SQL_INT:
    case KEL_SQL_UNSIGNED_TINYINT:
    case KEL_SQL_UNSIGNED_SMALLINT:
    case KEL_SQL_UNSIGNED_INT: {
        int width = IntegerWidth(type);
        bool isSigned = type == KEL_SQL_TINYINT || type == KEL_SQL_SMALLINT || type == KEL_SQL_INT;
        return Outcome(node->op, Order(ReadStored(value, length, width, isSigned),
                                       ReadStored(literal, width, width, isSigned)));
    }
    case KEL_SQL_FLOAT: {
        float stored = 0.0f;
        float given;
        if (length >= static_cast<int32_t>(sizeof(float)))
            memcpy(&stored, value, sizeof(float));
        memcpy(&given, literal, sizeof(float));
        if (stored != stored || given != given)
            return node->op == CRITERIA_NE;
        return Outcome(node->op, Order(stored, given));
    }
    default:
        return false; /* other types are never matched */
    }
}

bool EvaluateComparison(const RowObject *row, const CriteriaNode *node)
{
    if (node->columnType == 0 || row == nullptr || row->values == nullptr || row->lengths == nullptr)
        return false;
    if (node->bound)
        return CompareWith(row, node, node->boundValue);
    int32_t length = 0;
    void *literal = PrepareLiteral(node, &length);
    bool outcome = CompareWith(row, node, literal);
    free(literal);
    return outcome;
}

bool IsJoin(const CriteriaNode *node)
{
    return node->columnName == nullptr || node->literal == nullptr;
}

bool Combine(uint8_t op, bool left, bool right)
{
    if (op == CRITERIA_AND)
        return left && right;
    if (op == CRITERIA_OR)
        return left || right;
    return false;
}

/* Post-order evaluation with explicit stacks, for trees of any depth. */
bool EvaluateDeep(const RowObject *row, const CriteriaNode *root)
{
    std::vector<const CriteriaNode *> pending{root};
    std::vector<const CriteriaNode *> order;
    while (!pending.empty()) {
        const CriteriaNode *node = pending.back();
        pending.pop_back();
        order.push_back(node);
        if (node != nullptr && IsJoin(node)) {
            pending.push_back(node->left);
            pending.push_back(node->right);
        }
    }
    std::vector<bool> values;
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        const CriteriaNode *node = *it;
        if (node == nullptr) {
            values.push_back(true);
        } else if (IsJoin(node)) {
            bool left = values.back();
            values.pop_back();
            bool right = values.back();
            values.pop_back();
            values.push_back(Combine(node->op, left, right));
        } else {
            values.push_back(EvaluateComparison(row, node));
        }
    }
    return values.back();
}

bool Evaluate(const RowObject *row, const CriteriaNode *node, int depth)
{
    if (node == nullptr)
        return true;
    if (!IsJoin(node))
        return EvaluateComparison(row, node);
    if (depth > kRecursionLimit)
        return EvaluateDeep(row, node);
    bool left = Evaluate(row, node->left, depth + 1);
    bool right = Evaluate(row, node->right, depth + 1);
    return Combine(node->op, left, right);
}

void FreeNodeOnly(CriteriaNode *node)
{
    free(node->columnName);
    free(node->literal);
    free(node->boundValue);
    free(node);
}

} // namespace

CriteriaNode *CreateComparisonNode(char *columnName, uint8_t op, char *literal)
{
    CriteriaNode *node = static_cast<CriteriaNode *>(calloc(1, sizeof(CriteriaNode)));
    if (node == nullptr) {
        free(columnName);
        free(literal);
        return nullptr;
    }
    node->columnName = columnName;
    node->literal = literal;
    node->op = op;
    return node;
}

CriteriaNode *CreateJoinNode(CriteriaNode *left, CriteriaNode *right, uint8_t op)
{
    CriteriaNode *node = static_cast<CriteriaNode *>(calloc(1, sizeof(CriteriaNode)));
    if (node == nullptr) {
        FreeCriteria(left);
        FreeCriteria(right);
        return nullptr;
    }
    node->op = op;
    node->left = left;
    node->right = right;
    if (left != nullptr)
        left->parent = node;
    if (right != nullptr)
        right->parent = node;
    return node;
}

void FreeCriteria(CriteriaNode *tree)
{
    /* Rotates left subtrees to the right while freeing: no recursion, no stack. */
    CriteriaNode *node = tree;
    while (node != nullptr) {
        if (node->left != nullptr) {
            CriteriaNode *left = node->left;
            node->left = left->right;
            left->right = node;
            node = left;
        } else {
            CriteriaNode *right = node->right;
            FreeNodeOnly(node);
            node = right;
        }
    }
}

bool ResolveCriteriaColumns(Vector *columns, CriteriaNode *tree)
{
    std::vector<CriteriaNode *> pending;
    if (tree != nullptr)
        pending.push_back(tree);
    VectorNode *first = columns != nullptr ? ElementAt(columns, 0) : nullptr;
    while (!pending.empty()) {
        CriteriaNode *node = pending.back();
        pending.pop_back();
        if (IsJoin(node)) {
            if (node->right != nullptr)
                pending.push_back(node->right);
            if (node->left != nullptr)
                pending.push_back(node->left);
            continue;
        }
        node->columnIndex = 0;
        node->columnType = 0;
        free(node->boundValue);
        node->boundValue = nullptr;
        node->boundLength = 0;
        node->bound = 0;
        int position = 0;
        for (VectorNode *walk = first; walk != nullptr; walk = walk->next, position++) {
            ColumnDefn *column = static_cast<ColumnDefn *>(walk->data);
            if (column != nullptr && CompareStringsNoCase(column->name, node->columnName) == 0) {
                /* Column positions are 8-bit; a column further on cannot be bound. */
                if (position <= 255) {
                    node->columnIndex = static_cast<uint8_t>(position);
                    node->columnType = column->type;
                }
                break;
            }
        }
        if (node->columnType != 0) {
            node->boundValue = PrepareLiteral(node, &node->boundLength);
            node->bound = 1;
        }
    }
    return true;
}

bool EvaluateCriteria(RowObject *row, CriteriaNode *tree)
{
    return Evaluate(row, tree, 0);
}

void *ConvertLiteral(const char *text, int *length, uint8_t type)
{
    if (text == nullptr)
        return nullptr;
    int given = length != nullptr ? *length : StringLength(text);
    if (given < 0)
        given = 0;
    switch (type) {
    case KEL_SQL_NOT_SUPPORTED_TYPE:
    case KEL_SQL_DECIMAL:
    case KEL_SQL_NUMERIC:
    case KEL_SQL_BLOB:
    case KEL_SQL_CLOB:
        return CopyOf(text, static_cast<size_t>(given));
    case KEL_SQL_TINYINT:
    case KEL_SQL_UNSIGNED_TINYINT:
    case KEL_SQL_SMALLINT:
    case KEL_SQL_UNSIGNED_SMALLINT:
    case KEL_SQL_INT:
    case KEL_SQL_UNSIGNED_INT: {
        uint32_t value = static_cast<uint32_t>(ParseInteger(text, given));
        int width = IntegerWidth(type);
        unsigned char bytes[4];
        memcpy(bytes, &value, 4); /* the low bytes of a little-endian integer */
        void *stored = CopyOf(bytes, static_cast<size_t>(width));
        if (stored != nullptr && length != nullptr)
            *length = width;
        return stored;
    }
    case KEL_SQL_LONG_INT:
    case KEL_SQL_UNSIGNED_LONG_INT: {
        unsigned long long value = ParseInteger(text, given);
        void *stored = CopyOf(&value, sizeof value);
        if (stored != nullptr && length != nullptr)
            *length = 8;
        return stored;
    }
    case KEL_SQL_FLOAT:
    case KEL_SQL_REAL: {
        float value = static_cast<float>(ParseDecimal(text, given));
        void *stored = CopyOf(&value, sizeof value);
        if (stored != nullptr && length != nullptr)
            *length = 4;
        return stored;
    }
    case KEL_SQL_DOUBLE: {
        double value = ParseDecimal(text, given);
        void *stored = CopyOf(&value, sizeof value);
        if (stored != nullptr && length != nullptr)
            *length = 8;
        return stored;
    }
    case KEL_SQL_CHAR:
    case KEL_SQL_SHORT_CHAR:
    case KEL_SQL_TEXT: {
        size_t textLength = strlen(text);
        void *stored = CopyOf(text, textLength);
        if (stored != nullptr && length != nullptr)
            *length = static_cast<int>(textLength);
        return stored;
    }
    case KEL_SQL_DATE:
    case KEL_SQL_TIME:
    case KEL_SQL_DATETIME: {
        /* Each type in the form rows hold it: a date, a time, or a date-time. */
        KelDateTime *dateTime = ConvertStringToKelDateTime(text);
        if (dateTime == nullptr)
            return nullptr;
        void *stored = dateTime;
        int storedLength = KEL_DATETIME_LENGTH;
        if (type == KEL_SQL_DATE) {
            stored = CopyOf(&dateTime->date, sizeof(KelDate));
            storedLength = KEL_DATE_LENGTH;
            free(dateTime);
        } else if (type == KEL_SQL_TIME) {
            stored = CopyOf(&dateTime->time, sizeof(KelTime));
            storedLength = KEL_TIME_LENGTH;
            free(dateTime);
        }
        if (stored != nullptr && length != nullptr)
            *length = storedLength;
        return stored;
    }
    case KEL_SQL_BOOLEAN: {
        unsigned char flag;
        if (CompareStringsNoCase(text, "TRUE") == 0)
            flag = 1;
        else if (CompareStringsNoCase(text, "FALSE") == 0)
            flag = 0;
        else
            return nullptr;
        void *stored = CopyOf(&flag, 1);
        if (stored != nullptr && length != nullptr)
            *length = 1;
        return stored;
    }
    default:
        return nullptr;
    }
}
