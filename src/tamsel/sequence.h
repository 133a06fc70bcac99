/* Named sequences: columns with a generator name get consecutive identifiers
 * from batches of 300 reserved in SeqGenState, so identifiers stay unique across
 * restarts without a database round trip per value. */
#pragma once
#include <stdint.h>

#include "tamsel/table_defn.h"

#define SEQ_BATCH_SIZE 300

struct SeqBatch {
    int32_t nextValue; /* next value to hand out */
    int32_t batchEnd;  /* last value of the reserved batch; exhausted when below nextValue */
};

bool InitSequenceState(void);
void FreeSequenceState(void);
/* Reserves one batch for every generator named by a loaded table definition. */
bool SequenceGenerator(void);
/* Reserves the next batch of a sequence in SeqGenState and makes it the current one. */
bool UpdateSeqGen(const char *relvarName, const char *sequenceName);
/* The next identifier of the column's sequence, or -1 (no generator, no batch,
 * or the next batch could not be reserved). */
int32_t GenerateID(const char *relvarName, ColumnDefn *column);
/* The next identifier of the "INSTANCE_ID" sequence, or -1. */
int32_t GenerateInstanceID(void);
