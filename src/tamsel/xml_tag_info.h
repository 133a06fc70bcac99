/* One element of a parsed table-definition file, as the data-dictionary loader
 * builds it: the tree that LoadTableDefn reads. */
#pragma once

struct XmlTagInfo {
    char *tagName;       /* owned copy of the element name */
    char **attrNames;    /* owned copies of the known attributes, attrCount of them */
    char **attrValues;
    int attrCount;
    char **values;       /* owned copies of the element's text values */
    int valueCount;
    XmlTagInfo *child;   /* first child */
    XmlTagInfo *sibling; /* next sibling */
};
