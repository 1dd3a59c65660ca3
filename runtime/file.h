// A stdio file with its path. Modes: 1 "w", 2 "w+", 3 "rb", 4 "wb", 5 "w+b", any other "r".
#ifndef KORVEN_RUNTIME_FILE_H
#define KORVEN_RUNTIME_FILE_H

#include <cstdint>

void* NPC_F_OpenFile(const char* path, int mode);
void NPC_F_CloseFile(void* file);
// Reads up to len bytes; returns the count read (0 at end of file or on failure).
int NPC_F_ReadData(void* file, void* buf, int len);
// Reads one line into *line (grown from 4096 bytes in steps of 4096, freed with
// NPC_F_FreeReadBuf), strips a trailing CR/LF and returns its length; -1 at end of file (and
// for a null file), -2 when the buffer cannot grow.
int NPC_F_ReadLine(void* file, char** line, int* cap);
// Reads one line into a fixed 40960-byte buffer held by the file record (*line points into
// it), strips a trailing CR/LF and returns its length; -9 at end of file (and for a null
// file), -2 when the buffer cannot be made. A longer line is returned in pieces.
int NPC_F_ReadLineEx(void* file, char** line);
int NPC_F_WriteString(void* file, const char* text);
int NPC_F_WriteChar(void* file, char c);
// Size in bytes; -1 on failure.
int64_t NPC_F_GetFileSize(void* file);
int NPC_F_SetFileBeginPos(void* file);
void NPC_F_FreeReadBuf(char** line);

#endif
