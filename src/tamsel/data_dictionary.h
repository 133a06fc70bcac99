/* The data dictionary: "datadictionary.txt" names the XML files that hold the
 * table definitions; each table element becomes an XmlTagInfo tree that
 * LoadTableDefn turns into a definition. */
#pragma once
#include "tamsel/xml_tag_info.h"

/* The tree of the table being parsed; null between tables. */
extern XmlTagInfo *gv_currentTableTag;

/* "..\data\datadictionary.txt", else "<root>/data/datadictionary.txt"; true when
 * a list was found, whatever became of the files it names. */
bool LoadAllDataDictFiles(void);
/* The same for the list in `directory`; false without a message when it is missing. */
bool LoadDataDictFiles(const char *directory);
bool LoadDataDictFromXMLFile(const char *path);
bool XmlDataParser(const char *path);
struct _xmlTextReader;
/* Copies the known attributes (name, system, reference-table-name,
 * isbidirectional) of the reader's current element into the node. */
bool AllocateAndStrcpyAttrib(_xmlTextReader *reader, XmlTagInfo *tag);
XmlTagInfo *CreateandInitXmlTagInfo(void);
/* Frees the node, its children and its following siblings. */
void FreeXmlTagInfoList(XmlTagInfo *tag);
