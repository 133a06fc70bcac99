/* Built instead of the XML readers where libxml2 is not available: every load
 * fails with the readers' own failure lines, so callers see a failed load. */
#include "log/log.h"
#include "tamsel/data_dictionary.h"
#include "tamsel/xml_data.h"

bool ConstructTableDataFromXMLBuffer(const char *, int)
{
    LogError("error: could not parse file file.xml\n");
    LogError("Cannot construct table data from XML buffer.\n");
    return false;
}

bool ConstructTableDataFromXMLFile(const char *)
{
    LogError("error: could not parse file file.xml\n");
    LogError("Cannot construct table data from XML file.\n");
    return false;
}

bool LoadAllDataDictFiles(void)
{
    LogError("Cannot open DataDictionary File.\n");
    return false;
}

bool LoadDataDictFiles(const char *)
{
    return false;
}
