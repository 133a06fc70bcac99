/* Fixed-size chained hash table of string keys, and the sorted name-list lookup. */
#include <stdlib.h>
#include <string.h>

#include "log/log.h"
#include "tamsel/containers.h"
#include "util/strings.h"

namespace {

/* Key bytes are taken unsigned, so every key lands inside the table. */
int BucketIndex(const HashTable *table, const char *key)
{
    long long h = 0;
    for (const unsigned char *c = reinterpret_cast<const unsigned char *>(key); *c != 0; c++)
        h = (h * 26 + *c) % table->size;
    return static_cast<int>(h);
}

bool Usable(const HashTable *table, const char *key)
{
    return table != nullptr && table->buckets != nullptr && table->size > 0 && key != nullptr;
}

} // namespace

bool HashInit(HashTable *table, int size)
{
    if (table == nullptr || size < 0)
        return false;
    if (size == 0)
        size = 10;
    table->buckets = nullptr;
    table->size = 0;
    HashEntry **buckets = static_cast<HashEntry **>(calloc(static_cast<size_t>(size), sizeof(HashEntry *)));
    if (buckets == nullptr)
        return false;
    for (int i = 0; i < size; i++) {
        buckets[i] = static_cast<HashEntry *>(calloc(1, sizeof(HashEntry)));
        if (buckets[i] == nullptr) {
            for (int j = 0; j < i; j++)
                free(buckets[j]);
            free(buckets);
            return false;
        }
    }
    table->buckets = buckets;
    table->size = size;
    return true;
}

HashEntry *HashGetEntry(HashTable *table, const char *key)
{
    if (!Usable(table, key))
        return nullptr;
    for (HashEntry *entry = table->buckets[BucketIndex(table, key)]; entry != nullptr; entry = entry->next) {
        if (entry->key != nullptr && strcmp(entry->key, key) == 0)
            return entry;
    }
    return nullptr;
}

bool HashPut(HashTable *table, const char *key, void *value)
{
    if (!Usable(table, key))
        return false;
    HashEntry *head = table->buckets[BucketIndex(table, key)];
    if (head->key == nullptr) {
        if (DuplicateString(&head->key, key) != 1)
            return false;
        head->value = value;
        return true;
    }
    HashEntry *last = head;
    for (HashEntry *entry = head; entry != nullptr; entry = entry->next) {
        if (strcmp(entry->key, key) == 0) {
            entry->value = value;
            return true;
        }
        last = entry;
    }
    HashEntry *entry = static_cast<HashEntry *>(calloc(1, sizeof(HashEntry)));
    if (entry == nullptr || DuplicateString(&entry->key, key) != 1) {
        free(entry);
        return false;
    }
    entry->value = value;
    last->next = entry;
    return true;
}

bool HashContains(HashTable *table, const char *key)
{
    return HashGetEntry(table, key) != nullptr;
}

void *HashGet(HashTable *table, const char *key)
{
    HashEntry *entry = HashGetEntry(table, key);
    return entry != nullptr ? entry->value : nullptr;
}

bool HashRemove(HashTable *table, const char *key)
{
    if (!Usable(table, key))
        return false;
    HashEntry **slot = &table->buckets[BucketIndex(table, key)];
    HashEntry *head = *slot;
    if (head->key != nullptr && strcmp(head->key, key) == 0) {
        free(head->key);
        if (head->next != nullptr) {
            *slot = head->next;
            free(head);
        } else {
            head->key = nullptr;
            head->value = nullptr;
        }
        return true;
    }
    for (HashEntry *previous = head; previous->next != nullptr; previous = previous->next) {
        HashEntry *entry = previous->next;
        if (strcmp(entry->key, key) == 0) {
            previous->next = entry->next;
            free(entry->key);
            free(entry);
            return true;
        }
    }
    return false;
}

int HashCount(HashTable *table)
{
    if (table == nullptr || table->buckets == nullptr)
        return 0;
    int count = 0;
    for (int i = 0; i < table->size; i++) {
        for (HashEntry *entry = table->buckets[i]; entry != nullptr; entry = entry->next) {
            if (entry->key != nullptr)
                count++;
        }
    }
    return count;
}

char **HashKeys(HashTable *table)
{
    int count = HashCount(table);
    char **keys = static_cast<char **>(calloc(static_cast<size_t>(count) + 1, sizeof(char *)));
    if (keys == nullptr || count == 0)
        return keys;
    int next = 0;
    for (int i = 0; i < table->size; i++) {
        for (HashEntry *entry = table->buckets[i]; entry != nullptr; entry = entry->next) {
            if (entry->key != nullptr)
                keys[next++] = entry->key;
        }
    }
    return keys;
}

void HashFree(HashTable *table)
{
    if (table == nullptr || table->buckets == nullptr)
        return;
    for (int i = 0; i < table->size; i++) {
        HashEntry *entry = table->buckets[i];
        while (entry != nullptr) {
            HashEntry *next = entry->next;
            free(entry->key);
            free(entry);
            entry = next;
        }
    }
    free(table->buckets);
    table->buckets = nullptr;
    table->size = 0;
}

bool HashMerge(HashTable *source, HashTable *target)
{
    if (source == nullptr || target == nullptr || source->buckets == nullptr || target->buckets == nullptr)
        return false;
    for (int i = 0; i < source->size; i++) {
        for (HashEntry *entry = source->buckets[i]; entry != nullptr; entry = entry->next) {
            if (entry->key != nullptr && !HashContains(target, entry->key)) {
                if (!HashPut(target, entry->key, entry->value))
                    return false;
            }
        }
    }
    return true;
}

bool IsListContains(char **sortedList, const char *key)
{
    LogTrace("@@@ Inside IsListContains @@@\n");
    int count = 0;
    if (sortedList != nullptr) {
        while (sortedList[count] != nullptr)
            count++;
    }
    int low = 1;
    int high = count;
    while (high >= low) {
        int middle = (low + high) / 2;
        int order = CompareStringsNoCase(sortedList[middle - 1], key);
        if (order == 0)
            return true;
        if (order > 0)
            high = middle - 1;
        else
            low = middle + 1;
    }
    LogDebug("List doesn't contains key \n");
    return false;
}
