/* The listener list and the notifications sent to it for every row change. */
#include "tamsel/notifications.h"

#include <stdlib.h>
#include <string.h>

#include "log/log.h"
#include "tamsel/tamsel_private.h"
#include "util/strings.h"

using tamsel_private::ColumnAt;
using tamsel_private::ColumnsOf;

namespace {

Vector gv_listenerVect = {nullptr, 0, nullptr, nullptr};

/* The first listener of that name (any letter case) and its node, or null. */
Listener *FindListener(const char *name, VectorNode **found)
{
    for (VectorNode *node = ElementAt(&gv_listenerVect, 0); node != nullptr; node = node->next) {
        Listener *listener = static_cast<Listener *>(node->data);
        if (listener != nullptr && CompareStringsNoCase(listener->name, name) == 0) {
            if (found != nullptr)
                *found = node;
            return listener;
        }
    }
    return nullptr;
}

void SortNames(char **names)
{
    for (int j = 0; names != nullptr && names[j] != nullptr; j++) {
        for (int k = j; names[k] != nullptr; k++) {
            if (CompareStringsNoCase(names[j], names[k]) > 0) {
                char *swap = names[j];
                names[j] = names[k];
                names[k] = swap;
            }
        }
    }
}

bool WantsState(uint8_t eventType, uint8_t state)
{
    if (eventType == 0)
        return true;
    return state == eventType || state == (eventType | ROW_STATE_DELETED) || state == (eventType | ROW_STATE_UPDATED) ||
           state == (eventType | ROW_STATE_STORED);
}

} // namespace

void InitNotification(void)
{
    InitVector(&gv_listenerVect, nullptr);
}

bool AddNotificationListener(char *name, uint8_t eventType, NotificationCallback callback, uint8_t enabled,
                             char **tableNames)
{
    LogTrace("In Add notification Listener\n");
    if (gv_listenerVect.count > 0 && FindListener(name, nullptr) != nullptr) {
        LogError("Listener with same name exists %s\n", name);
        free(name);
        return true;
    }
    Listener *listener = static_cast<Listener *>(calloc(1, sizeof(Listener)));
    if (listener == nullptr) {
        LogError("Buffer Allocation is failed for listener!!!\n");
        free(name);
        return false;
    }
    VectorNode *node = static_cast<VectorNode *>(calloc(1, sizeof(VectorNode)));
    if (node == nullptr) {
        LogError("Buffer allocation is failed for nodePtr !!!\n");
        free(listener);
        free(name);
        return false;
    }
    SortNames(tableNames);
    listener->name = name;
    listener->tableNames = tableNames;
    listener->enabled = enabled;
    listener->eventType = eventType;
    listener->callback = callback;
    node->data = listener;
    if (!AddElement(&gv_listenerVect, node)) {
        free(node);
        free(listener);
        free(name);
        return false;
    }
    LogDebug("Listener with name %s added\n", listener->name);
    return true;
}

bool DisableNotification(const char *name)
{
    LogTrace("In Disable notification\n");
    if (gv_listenerVect.count == 0)
        return false;
    Listener *listener = FindListener(name, nullptr);
    if (listener == nullptr) {
        LogError("Listener with name %s doesn't exists\n", name);
        return false;
    }
    listener->enabled = 0;
    LogDebug("Listener with name %s disabled\n", listener->name);
    return true;
}

bool RemoveNotification(const char *name)
{
    LogTrace("In Remove notification\n");
    if (gv_listenerVect.count == 0)
        return false;
    VectorNode *node = nullptr;
    Listener *listener = FindListener(name, &node);
    if (listener == nullptr) {
        LogError("Listener with name %s doesn't exists\n", name);
        return false;
    }
    LogDebug("Listener with name %s removed\n", listener->name);
    DeleteElement(&gv_listenerVect, node);
    free(listener->name);
    free(listener);
    return true;
}

void DeInitNotification(void)
{
    LogTrace("In DeInit notification\n");
    while (gv_listenerVect.count > 0) {
        VectorNode *node = ElementAt(&gv_listenerVect, 0);
        if (node == nullptr)
            break;
        Listener *listener = static_cast<Listener *>(node->data);
        LogTrace("Listener with name %s removed\n", listener != nullptr ? listener->name : "");
        DeleteElementAt(&gv_listenerVect, 0);
        if (listener != nullptr)
            free(listener->name);
        free(listener);
    }
}

IMDSNotification *CreateIMDSNotification(RowObject *row, const char *relvarName)
{
    LogTrace("In CreateIMDSNotification \n");
    TableData *relvar = GetTableDataByName(relvarName);
    if (row == nullptr || relvar == nullptr)
        return nullptr;
    IMDSNotification *notification = static_cast<IMDSNotification *>(calloc(1, sizeof(IMDSNotification)));
    if (notification == nullptr)
        return nullptr;
    int count = relvar->columnCount > 0 ? relvar->columnCount : 0;
    void **values = static_cast<void **>(calloc(static_cast<size_t>(count) + 1, sizeof(void *)));
    int32_t *lengths = static_cast<int32_t *>(calloc(static_cast<size_t>(count) + 1, sizeof(int32_t)));
    notification->row = values != nullptr && lengths != nullptr ? CreateNewRowObject(values, lengths) : nullptr;
    if (notification->row == nullptr) {
        free(values);
        free(lengths);
        free(notification);
        return nullptr;
    }
    bool copied = true;
    VectorNode *columnNode = ElementAt(ColumnsOf(relvar->kind, relvar->tableDefn, relvar->viewDefn), 0);
    for (int i = 0; i < count; i++) {
        ColumnDefn *column = ColumnAt(columnNode, relvar->kind);
        if (row->values[i] != nullptr) {
            values[i] = CopyColumnValue(column != nullptr ? column->type : 0, row->values[i], row->lengths[i]);
            copied = copied && values[i] != nullptr;
        }
        lengths[i] = row->lengths[i];
        if (columnNode != nullptr)
            columnNode = columnNode->next;
    }
    notification->row->state = row->state;
    notification->columnCount = count;
    notification->tableName = strdup(relvar->name);
    notification->timestamp = GetCurrentKelDateTime();
    if (!copied || notification->tableName == nullptr || notification->timestamp == nullptr) {
        FreeRowObject(notification->row, count);
        free(notification->tableName);
        free(notification->timestamp);
        free(notification);
        return nullptr;
    }
    return notification;
}

void FreeIMDSNotification(IMDSNotification *notification)
{
    if (notification == nullptr)
        return;
    FreeRowObject(notification->row, notification->columnCount);
    free(notification->tableName);
    free(notification->timestamp);
    free(notification);
}

void SendNotification(RowObject *row, const char *relvarName)
{
    LogTrace("In send notification\n");
    if (gv_listenerVect.count == 0)
        return;
    IMDSNotification *notification = CreateIMDSNotification(row, relvarName);
    if (notification == nullptr)
        return;
    for (VectorNode *node = ElementAt(&gv_listenerVect, 0); node != nullptr; node = node->next) {
        Listener *listener = static_cast<Listener *>(node->data);
        if (listener == nullptr)
            continue;
        if (!listener->enabled) {
            LogDebug("Listener %s  disabled\n", listener->name);
        } else if (!IsListContains(listener->tableNames, relvarName)) {
            LogDebug("Listener not registered for %s table\n", relvarName);
        } else if (!WantsState(listener->eventType, notification->row->state)) {
            LogDebug("Listener not registered for Eventype %d\n", notification->row->state);
        } else if (listener->callback != nullptr) {
            listener->callback(notification, listener->name);
        }
    }
    FreeIMDSNotification(notification);
}
