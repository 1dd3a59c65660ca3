// Bounded text copies and the UTF-8-aware cut shared by every layer.
#include "runtime/text.h"

#include <cstring>

size_t NPC_F_TEXT_Utf8CutLen(const char* text, size_t len, size_t maxBytes) {
  if (!text) return 0;
  if (len <= maxBytes) return len;
  const auto* u = reinterpret_cast<const unsigned char*>(text);
  size_t n = maxBytes;  // the cut falls before u[n]
  if ((u[n] & 0xC0) != 0x80) return n;  // u[n] begins a character: the cut is clean
  // u[n] continues a character: find its lead byte among the three bytes before it.
  size_t s = n;
  for (int back = 0; s > 0 && back < 3; ++back) {
    --s;
    if ((u[s] & 0xC0) != 0x80) break;
  }
  unsigned char lead = u[s];
  size_t seqLen = 0;
  if (lead >= 0xC2 && lead <= 0xDF)
    seqLen = 2;
  else if (lead >= 0xE0 && lead <= 0xEF)
    seqLen = 3;
  else if (lead >= 0xF0 && lead <= 0xF4)
    seqLen = 4;
  if ((lead & 0xC0) == 0x80 || seqLen == 0) return n;  // not UTF-8 here: a plain byte cut
  return s + seqLen > n ? s : n;
}

size_t NPC_F_TEXT_Copy(char* dst, size_t dstSize, const char* src) {
  if (!dst || dstSize == 0) return 0;
  if (!src) {
    dst[0] = '\0';
    return 0;
  }
  size_t n = NPC_F_TEXT_Utf8CutLen(src, strlen(src), dstSize - 1);
  memmove(dst, src, n);
  dst[n] = '\0';
  return n;
}

size_t NPC_F_TEXT_CopyN(char* dst, size_t dstSize, const char* src, size_t srcMax) {
  if (!dst || dstSize == 0) return 0;
  if (!src) {
    dst[0] = '\0';
    return 0;
  }
  size_t n = NPC_F_TEXT_Utf8CutLen(src, strnlen(src, srcMax), dstSize - 1);
  memmove(dst, src, n);
  dst[n] = '\0';
  return n;
}

size_t NPC_F_TEXT_CopyRaw(char* dst, size_t dstSize, const char* src, size_t srcMax) {
  if (!dst || dstSize == 0) return 0;
  if (!src) {
    dst[0] = '\0';
    return 0;
  }
  size_t n = strnlen(src, srcMax);
  if (n > dstSize - 1) n = dstSize - 1;
  memmove(dst, src, n);
  dst[n] = '\0';
  return n;
}
