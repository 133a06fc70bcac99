/* Start-up and shut-down of the table store. */
#pragma once

/* Sets the root (null keeps the current one), loads the data dictionary, starts
 * the sequences and the listener list and connects them to the relvars. False
 * when no dictionary list was found; nothing is started then. */
bool InitTamsel(const char *root);
/* The same with the dictionary list taken only from "<root>/data". */
bool InitTamselAtRoot(const char *root);
/* Undoes InitTamsel in reverse and frees every relvar, definition, sequence and
 * listener. Safe to call when the store was never started. */
void DeInitTamsel(void);
