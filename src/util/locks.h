/* Object locks: a process-wide set of locks keyed by the address they protect. */
#pragma once

#define VT_LOCK_ACQUIRED 1
#define VT_LOCK_BUSY 2
#define VT_LOCK_RELEASED 4

void InitMutex(void);
unsigned char LockObject(const void *object);
unsigned char UnlockObject(const void *object);
