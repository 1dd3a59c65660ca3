// Growable byte buffers held in three caller-owned variables: data pointer, capacity and
// fill length. Blocks come from malloc and are released with NPC_F_MEM_MG_FreeDataBuf; each
// block made here has a spare zero byte behind its capacity. When memory runs out a function
// returns 0 and the caller's variables and content stay as they were.
#ifndef KORVEN_RUNTIME_MEM_MG_H
#define KORVEN_RUNTIME_MEM_MG_H

// Replaces the content with n >= 1 bytes; a too small buffer is replaced by a zeroed block of
// n + 1 bytes (capacity n). 0 for empty data or when memory runs out.
int NPC_F_MEM_MG_SetDataToBuf(char** buf, int* cap, int* len, const void* data, int n);
// Appends n >= 1 bytes; a too small buffer is replaced by one of exactly len + n bytes.
int NPC_F_MEM_MG_AddDataToBuf(char** buf, int* cap, int* len, const void* data, int n);
// Ensures capacity n and zero-fills n bytes.
int NPC_F_MEM_MG_AllocDataBuf(char** buf, int* cap, int n);
// Ensures capacity n keeping the first keepLen bytes; zero-fills from keepLen to n.
int NPC_F_MEM_MG_ExpandDataBuf(char** buf, int* cap, int keepLen, int n);
// Drops the first n bytes (0 < n <= *len) by moving the rest to the front and writes a NUL
// after the remainder, which lies inside the old content.
int NPC_F_MEM_MG_BufInsideCopy(char* buf, int* len, int n);
// Frees the block and zeroes the three variables (cap and len may be null).
void NPC_F_MEM_MG_FreeDataBuf(char** buf, int* cap, int* len);

#endif
