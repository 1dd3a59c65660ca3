// The per-thread last error: the code and text of the most recent failure of an
// application-level operation on the calling thread. Each thread sees only its own; the
// record ends with its thread, so a new thread (even one that reuses an old thread id) starts
// with code 0 and an empty text.
#ifndef KORVEN_RUNTIME_LAST_ERROR_H
#define KORVEN_RUNTIME_LAST_ERROR_H

// Stores the code and a copy of the text (null is an empty text) for the calling thread.
void NPC_F_ERROR_LEI_SetLastErrorInfo(int code, const char* text);
// Gives the calling thread's code (0 if never set) and copies at most len - 1 bytes of its
// text into buf, cut at a character boundary and NUL-terminated. Either output may be null.
// Returns 1, or 0 when the record could not be made.
int NPC_F_ERROR_LEI_GetLastErrorInfo(int* code, char* buf, int len);

#endif
