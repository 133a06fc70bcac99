/* The linked vector of the table store: element pointers in insertion order, or
 * kept sorted by an ordering function. Each changing or indexing operation holds
 * the object lock keyed by the vector's address. */
#include "tamsel/containers.h"

#include <stdlib.h>

#include "log/log.h"
#include "tamsel/tamsel_private.h"
#include "util/strings.h"

using tamsel_private::ObjectLock;

namespace {

/* Sorted insert by binary search over the list; the caller holds the lock. */
bool InsertSorted(Vector *vector, VectorNode *node)
{
    int lower = 0;
    int upper = vector->count;
    VectorNode *lowerNode = vector->head;
    VectorNode *upperNode = nullptr;

    while (upper - lower != 1) {
        int middle = lower + (upper - lower + 1) / 2;
        VectorNode *middleNode = GetNthElement(vector, middle - lower, lowerNode);
        if (middleNode == nullptr)
            break; /* cannot happen while count matches the chain */
        signed char order = vector->compare(node, middleNode);
        if (order == 0)
            return false;
        if (order > 0) {
            lower = middle;
            lowerNode = middleNode;
        } else {
            upper = middle;
            upperNode = middleNode;
        }
    }

    signed char order = vector->compare(node, lowerNode);
    if (order == 0)
        return false;
    if (order < 0) {
        node->next = lowerNode;
        vector->head = node;
    } else {
        if (upperNode == nullptr)
            upperNode = lowerNode->next;
        if (upperNode == nullptr) {
            lowerNode->next = node;
            vector->tail = node;
        } else if (vector->compare(node, upperNode) < 0) {
            node->next = upperNode;
            lowerNode->next = node;
        } else {
            node->next = upperNode->next;
            upperNode->next = node;
            if (node->next == nullptr)
                vector->tail = node;
        }
    }
    vector->count++;
    return true;
}

/* Unlinks and frees the node at a valid index; the caller holds the lock. */
void RemoveAt(Vector *vector, int index)
{
    VectorNode *node;
    if (index == 0) {
        node = vector->head;
        vector->head = node->next;
        if (vector->head == nullptr)
            vector->tail = nullptr;
    } else {
        VectorNode *previous = vector->head;
        for (int i = 1; i < index; i++)
            previous = previous->next;
        node = previous->next;
        previous->next = node->next;
        if (node->next == nullptr)
            vector->tail = previous;
    }
    free(node);
    vector->count--;
}

} // namespace

void InitVector(Vector *vector, VectorCompare compare)
{
    LogTrace("\n\t@@@@@ Inside InitVector() @@@@@ \n");
    if (vector == nullptr)
        return;
    vector->head = nullptr;
    vector->count = 0;
    vector->tail = nullptr;
    vector->compare = compare;
}

Vector *NewVector(void)
{
    Vector *vector = static_cast<Vector *>(calloc(1, sizeof(Vector)));
    if (vector == nullptr) {
        LogError("MEMORY_ALLOCATION_FAILURE\n");
        return nullptr;
    }
    InitVector(vector, nullptr);
    return vector;
}

bool AddElement(Vector *vector, VectorNode *node)
{
    LogTrace("\n\t@@@@@ Inside AddElement() @@@@@ \n");
    if (vector == nullptr || node == nullptr)
        return false;
    ObjectLock lock(vector);
    node->next = nullptr;
    if (vector->head == nullptr) {
        vector->head = node;
        vector->tail = node;
        vector->count = 1;
        return true;
    }
    if (vector->compare == nullptr) {
        vector->tail->next = node;
        vector->tail = node;
        vector->count++;
        return true;
    }
    return InsertSorted(vector, node);
}

bool AppendData(Vector *vector, void *element)
{
    VectorNode *node = static_cast<VectorNode *>(calloc(1, sizeof(VectorNode)));
    if (node == nullptr)
        return false;
    node->data = element;
    if (!AddElement(vector, node)) {
        free(node);
        return false;
    }
    return true;
}

bool InsertElementAt(Vector *vector, VectorNode *node, int index)
{
    LogTrace("\n\t@@@@@ Inside InsertElementAt() @@@@@ \n");
    if (vector == nullptr || node == nullptr)
        return false;
    ObjectLock lock(vector);
    if (index < 0 || index > vector->count)
        return false;
    if (index == 0) {
        node->next = vector->head;
        vector->head = node;
        if (node->next == nullptr)
            vector->tail = node;
    } else if (index == vector->count) {
        node->next = nullptr;
        vector->tail->next = node;
        vector->tail = node;
    } else {
        VectorNode *previous = vector->head;
        for (int i = 1; i < index; i++)
            previous = previous->next;
        node->next = previous->next;
        previous->next = node;
    }
    vector->count++;
    return true;
}

VectorNode *ElementAt(Vector *vector, int index)
{
    LogTrace("\n\t@@@@@ Inside ElementAt() @@@@@ \n");
    if (vector == nullptr)
        return nullptr;
    ObjectLock lock(vector);
    if (index < 0 || index >= vector->count || vector->head == nullptr)
        return nullptr;
    if (index == vector->count - 1)
        return vector->tail;
    VectorNode *node = vector->head;
    for (int i = 0; i < index && node != nullptr; i++)
        node = node->next;
    return node;
}

VectorNode *GetNthElement(Vector *vector, int offset, VectorNode *start)
{
    LogTrace("\n\t@@@@@ Inside GetNthElement() @@@@@ \n");
    if (vector == nullptr || offset < 0 || offset >= vector->count || vector->head == nullptr)
        return nullptr;
    VectorNode *node = start;
    for (int i = 0; i < offset && node != nullptr; i++)
        node = node->next;
    return node;
}

bool DeleteElementAt(Vector *vector, int index)
{
    LogTrace("\n\t@@@@@ Inside DeleteElementAt() @@@@@ \n");
    if (vector == nullptr)
        return false;
    ObjectLock lock(vector);
    if (vector->head == nullptr || index < 0 || index >= vector->count)
        return false;
    RemoveAt(vector, index);
    return true;
}

bool DeleteElement(Vector *vector, VectorNode *node)
{
    LogTrace("\n\t@@@@@ Inside DeleteElement() @@@@@ \n");
    if (vector == nullptr)
        return false;
    ObjectLock lock(vector);
    if (vector->head == nullptr)
        return false;
    int index = 0;
    for (VectorNode *walk = vector->head; walk != nullptr; walk = walk->next, index++) {
        if (walk == node) {
            RemoveAt(vector, index);
            break;
        }
    }
    /* A node that is not in the vector stays with its owner. */
    return true;
}

bool DeleteLCDVector(Vector *vector, void *element)
{
    LogTrace("\n\t@@@@@ Inside DeleteLCDVector() @@@@@ \n");
    if (vector == nullptr)
        return false;
    int index = 0;
    for (VectorNode *node = ElementAt(vector, 0); node != nullptr; node = node->next, index++) {
        if (node->data == element)
            return DeleteElementAt(vector, index);
    }
    return false;
}

void FreeVector(Vector *vector)
{
    LogTrace("\n\t@@@@@ Inside FreeVector() @@@@@ \n");
    if (vector == nullptr)
        return;
    ObjectLock lock(vector);
    VectorNode *node = vector->head;
    while (node != nullptr) {
        VectorNode *next = node->next;
        free(node);
        node = next;
    }
    vector->head = nullptr;
    vector->tail = nullptr;
    vector->count = 0;
}

int MergeVector(Vector *target, Vector *source)
{
    LogTrace("\n\t@@@@@ Inside MergeVector() @@@@@ \n");
    if (target == nullptr || source == nullptr)
        return 1;
    for (VectorNode *node = ElementAt(source, 0); node != nullptr; node = node->next) {
        VectorNode *copy = static_cast<VectorNode *>(calloc(1, sizeof(VectorNode)));
        if (copy == nullptr)
            return VT_ALLOC_FAILED;
        copy->data = node->data;
        if (!AddElement(target, copy))
            free(copy); /* refused duplicate: the node is still ours */
    }
    FreeVector(source);
    return 1;
}

Vector *CloneVector(Vector *source)
{
    LogTrace("@@@@ Inside CloneVector @@@@\n");
    if (source == nullptr) {
        LogError("Cannot clone vector.  Vector is NULL.\n");
        return nullptr;
    }
    Vector *clone = NewVector();
    if (clone == nullptr) {
        LogError("MEMORY_ALLOCATION_FAILURE\n");
        return nullptr;
    }
    for (VectorNode *node = ElementAt(source, 0); node != nullptr; node = node->next) {
        const char *text = static_cast<const char *>(node->data);
        char *copy = nullptr;
        bool added = CopyBytes(&copy, text, StringLength(text)) == 1 && AppendData(clone, copy);
        if (!added) {
            free(copy);
            for (VectorNode *done = clone->head; done != nullptr; done = done->next)
                free(done->data);
            FreeVector(clone);
            free(clone);
            return nullptr;
        }
    }
    return clone;
}
