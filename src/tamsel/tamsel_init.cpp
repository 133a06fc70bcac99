/* Start-up and shut-down of the table store. */
#include "tamsel/tamsel_init.h"

#include <stdlib.h>

#include <string>

#include "log/log.h"
#include "tamsel/data_dictionary.h"
#include "tamsel/notifications.h"
#include "tamsel/relvar.h"
#include "tamsel/sequence.h"
#include "tamsel/table_defn.h"
#ifdef VT_HAVE_LIBXML2
#include <libxml/parser.h>
#endif

namespace {

bool StartStore(bool dictionaryLoaded)
{
    if (!dictionaryLoaded) {
        FreeAllTableDefns();
        return false;
    }
    InitSequenceState();
    SequenceGenerator();
    InitNotification();
    SetTamselIdGenerator(GenerateID);
    SetTamselChangeSink(SendNotification);
    return true;
}

} // namespace

bool InitTamsel(const char *root)
{
    if (root != nullptr)
        SetTamselRoot(root);
    return StartStore(LoadAllDataDictFiles());
}

bool InitTamselAtRoot(const char *root)
{
    if (root == nullptr)
        return false;
    SetTamselRoot(root);
    std::string data = std::string(root) + "/data";
    return StartStore(LoadDataDictFiles(data.c_str()));
}

void DeInitTamsel(void)
{
    SetTamselChangeSink(nullptr);
    SetTamselIdGenerator(nullptr);
    DeInitNotification();
    FreeSequenceState();
    while (gv_tableDataVect.count > 0) {
        VectorNode *node = ElementAt(&gv_tableDataVect, 0);
        TableData *relvar = node != nullptr ? static_cast<TableData *>(node->data) : nullptr;
        if (relvar == nullptr || !RemoveTableData(relvar->name)) {
            DeleteElementAt(&gv_tableDataVect, 0);
            if (relvar != nullptr) {
                FreeTableData(relvar);
                free(relvar);
            }
        }
    }
    FreeAllTableDefns();
#ifdef VT_HAVE_LIBXML2
    xmlCleanupParser();
#endif
}
