/* Table data read from XML: each element below the root is a row of the relvar
 * named like it, its attributes are the column values, nested elements inherit
 * key values from their ancestors, and labels T:C:L stand for generated
 * identifiers. */
#pragma once
#include <stdint.h>

#include "tamsel/containers.h"

struct _xmlDoc;
struct _xmlNode;

/* One inherited key value of a row: a foreign key, or a primary-key column
 * taken from an ancestor. */
struct InheritedKey {
    char *referenceTable;  /* null for a primary-key column */
    char *referenceColumn;
    char *localColumn;
    char *value;           /* null until resolved */
};

bool ConstructTableDataFromXMLFile(const char *path);
bool ConstructTableDataFromXMLBuffer(const char *buffer, int length);
/* Processes the children of `node`; the label cache (free it with
 * FreeLabelCache), or null on failure. */
HashTable *ConstructTableDataFromNode(_xmlDoc *document, _xmlNode *node);
void FreeLabelCache(HashTable *cache);
/* The stored form of a text for a column type; false when nothing is stored. */
bool AllocateAndCopyColumnValue(void **value, int32_t *length, uint8_t type, const char *text);
void PrintForeignKeyValues(Vector *keys);

/* Parser options every table-store parse uses: no network, entities substituted
 * by the parser under its own limits, no external entity or DTD ever loaded. */
int TamselXmlParseOptions(void);
/* Installs the refusal of external entities once; every parse calls it first. */
void PrepareTamselXmlParser(void);
