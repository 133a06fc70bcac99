/* Change notifications: listeners named for the relvars they watch are told of
 * every row added, updated or deleted, with a private copy of the row. */
#pragma once
#include <stdint.h>

#include "tamsel/containers.h"
#include "tamsel/kel_datetime.h"
#include "tamsel/relvar.h"

struct IMDSNotification {
    char *tableName;        /* copy of the relvar name */
    RowObject *row;         /* copy of the row: values, lengths and state */
    KelDateTime *timestamp; /* local time when the notification was made */
    int32_t columnCount;    /* number of values in the row copy */
};

typedef void (*NotificationCallback)(IMDSNotification *notification, const char *listenerName);

struct Listener {
    char *name;         /* owned by the list */
    char **tableNames;  /* null-terminated, the caller's; sorted at registration */
    uint8_t enabled;
    uint8_t eventType;  /* 0: every change; else a row state to match */
    NotificationCallback callback;
};

void InitNotification(void);
/* Takes over `name` in every case (it is freed when not kept). Registering a
 * name that exists (any letter case) keeps the existing listener and is true. */
bool AddNotificationListener(char *name, uint8_t eventType, NotificationCallback callback, uint8_t enabled,
                             char **tableNames);
bool DisableNotification(const char *name);
bool RemoveNotification(const char *name);
void DeInitNotification(void);
void SendNotification(RowObject *row, const char *relvarName);
IMDSNotification *CreateIMDSNotification(RowObject *row, const char *relvarName);
void FreeIMDSNotification(IMDSNotification *notification);
