/* Helpers shared by the table store's own sources; not for other modules. */
#pragma once
#include "tamsel/relvar.h"
#include "util/locks.h"

namespace tamsel_private {

/* Holds the object lock keyed by an address for one scope. */
class ObjectLock {
public:
    explicit ObjectLock(const void *object) : object_(object) { LockObject(object_); }
    ~ObjectLock() { UnlockObject(object_); }
    ObjectLock(const ObjectLock &) = delete;
    ObjectLock &operator=(const ObjectLock &) = delete;

private:
    const void *object_;
};

/* The column vector of a table (ColumnDefn) or a view (ViewColumnDefn), or null. */
inline Vector *ColumnsOf(uint8_t kind, TableDefn *tableDefn, CustomViewDefn *viewDefn)
{
    if (kind == RELVAR_TABLE && tableDefn != nullptr)
        return tableDefn->columns;
    if (kind == RELVAR_VIEW && viewDefn != nullptr)
        return viewDefn->columns;
    return nullptr;
}

/* The column definition behind a column node of a relvar (the base column for views). */
inline ColumnDefn *ColumnAt(VectorNode *node, uint8_t kind)
{
    if (node == nullptr || node->data == nullptr)
        return nullptr;
    if (kind == RELVAR_VIEW)
        return static_cast<ViewColumnDefn *>(node->data)->columnDefn;
    return static_cast<ColumnDefn *>(node->data);
}

inline const char *ColumnNameAt(VectorNode *node, uint8_t kind)
{
    if (node == nullptr || node->data == nullptr)
        return nullptr;
    if (kind == RELVAR_VIEW)
        return static_cast<ViewColumnDefn *>(node->data)->name;
    return static_cast<ColumnDefn *>(node->data)->name;
}

} // namespace tamsel_private
