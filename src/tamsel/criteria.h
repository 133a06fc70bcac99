/* The criteria language: comparisons of a column with a literal joined with `and`
 * and `or`, parsed into a tree, bound to a table's columns and evaluated per row. */
#pragma once
#include <stdint.h>

#include "tamsel/containers.h"

struct RowObject;

/* Operator codes (row value on the left, literal on the right). */
#define CRITERIA_LT 1
#define CRITERIA_GT 2
#define CRITERIA_LE 3
#define CRITERIA_GE 4
#define CRITERIA_EQ 5
#define CRITERIA_NE 6
#define CRITERIA_AND 7
#define CRITERIA_OR 8

struct CriteriaNode {
    char *columnName;     /* comparison: owned; null in and/or nodes */
    char *literal;        /* comparison: owned, as scanned (quotes kept); null in and/or */
    uint8_t op;
    uint8_t columnIndex;  /* set by binding */
    uint8_t columnType;   /* set by binding; 0 = unbound */
    CriteriaNode *left;
    CriteriaNode *right;
    CriteriaNode *parent;
    /* The literal converted for the bound column type, made once by binding. */
    void *boundValue;
    int32_t boundLength;
    uint8_t bound;
};

/* Parses a criteria text; null on any syntax error. The caller frees the tree. */
CriteriaNode *ParseCriteria(const char *criteria);
/* Binds every comparison to the first column of that name (any letter case). */
bool ResolveCriteriaColumns(Vector *columns, CriteriaNode *tree);
/* True when the row satisfies the tree; a null tree is true. */
bool EvaluateCriteria(RowObject *row, CriteriaNode *tree);
/* Converts a literal text to the in-memory form of a column type. On entry
 * *length is the text's byte length, on exit the value's. */
void *ConvertLiteral(const char *text, int *length, uint8_t type);
void FreeCriteria(CriteriaNode *tree);

/* Building blocks of the generated parser. */
CriteriaNode *CreateComparisonNode(char *columnName, uint8_t op, char *literal);
CriteriaNode *CreateJoinNode(CriteriaNode *left, CriteriaNode *right, uint8_t op);
