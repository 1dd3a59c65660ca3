// Bounded text handling shared by every layer: cutting at a UTF-8 character boundary and
// copying into fixed text fields with a terminating NUL. Texts from devices, servers and
// callers go through these helpers; nothing in the library uses strcpy or sprintf.
#ifndef KORVEN_RUNTIME_TEXT_H
#define KORVEN_RUNTIME_TEXT_H

#include <cstddef>

// Length of the longest prefix of text[0..len) that is at most maxBytes long and does not end
// inside a UTF-8 multi-byte sequence. Bytes that are not valid UTF-8 count as single
// characters, so GB2312 or binary text is cut at maxBytes or one byte earlier at worst.
size_t NPC_F_TEXT_Utf8CutLen(const char* text, size_t len, size_t maxBytes);

// Copies the NUL-terminated src into dst of dstSize bytes (dstSize >= 1): at most
// dstSize - 1 bytes, cut at a character boundary, always NUL-terminated. A null src gives an
// empty text. Returns the number of bytes copied.
size_t NPC_F_TEXT_Copy(char* dst, size_t dstSize, const char* src);

// As NPC_F_TEXT_Copy for a source that need not be NUL-terminated: reads at most srcMax bytes
// of src (stopping at a NUL), as for a fixed text field of a received record.
size_t NPC_F_TEXT_CopyN(char* dst, size_t dstSize, const char* src, size_t srcMax);

// Copies a fixed text field byte for byte, bounded: at most dstSize - 1 bytes of src up to its
// first NUL or srcMax, NUL-terminated, without the UTF-8 rule (for ids, addresses and other
// texts that are not language text).
size_t NPC_F_TEXT_CopyRaw(char* dst, size_t dstSize, const char* src, size_t srcMax);

#endif
