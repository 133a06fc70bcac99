/* Narrow-string routines shared by the agent code and the table store.
 * Every returned string is a new zero-filled heap allocation (free() it). */
#pragma once

#define VT_ALLOC_FAILED 99

int DuplicateString(char **target, const char *source);
int CopyBytes(char **target, const char *source, int count);
int ReallocateAndSetString(char **target, const char *source, int count);
char *CopyString(char *destination, const char *source);
char *CopyCount(char *destination, const char *source, int count);
void ReverseLeadingChars(char *text, int count);

int StringLength(const char *text);
int CompareStrings(const char *left, const char *right);
int CompareStringsNoCase(const char *left, const char *right);
int TextToInteger(const char *text);

char *SubString(const char *text, const char *pattern);
bool FindSubString(const char *text, const char *pattern);
int FindSubstringIndex(const char *text, const char *pattern);
int CountOccurrences(const char *text, const char *separator);
char *TextBefore(const char *text, const char *separator);
char *TextAfter(const char *text, const char *separator);
/* Array of new strings ending with a null reference; free each, then the array. */
char **SplitString(const char *text, const char *separator);
