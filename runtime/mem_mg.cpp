// Growable byte buffers held in three caller-owned variables (data pointer, capacity, fill
// length). Every block this file allocates has one spare zero byte behind its capacity, so a
// text kept in it stays NUL-terminated even when it fills the capacity exactly. A block is
// replaced only after its successor has been allocated: when memory runs out the caller's
// variables and content stay as they were and the function returns 0.
#include "runtime/mem_mg.h"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

// A zeroed block of n bytes plus the spare NUL byte; null when memory runs out.
char* newBlock(int n) { return static_cast<char*>(calloc(static_cast<size_t>(n) + 1, 1)); }

// True when the three variables describe a usable buffer: a capacity of at least 0, no block
// with a positive capacity missing, and a fill length inside the capacity.
bool validState(char* const* buf, const int* cap, const int* len) {
  if (*cap < 0 || (*buf == nullptr && *cap > 0)) return false;
  return len == nullptr || (*len >= 0 && *len <= *cap);
}

}  // namespace

// Replaces the content with n >= 1 bytes of data. A buffer smaller than n is replaced by a
// zeroed block of n + 1 bytes whose capacity counts n. The byte after the content is set to
// NUL when the block has room for it.
int NPC_F_MEM_MG_SetDataToBuf(char** buf, int* cap, int* len, const void* data, int n) {
  if (!buf || !cap || !len || !data || n < 1 || !validState(buf, cap, nullptr)) return 0;
  if (*buf == nullptr || *cap < n) {
    char* block = newBlock(n);
    if (!block) return 0;
    free(*buf);
    *buf = block;
    *cap = n;
  }
  memcpy(*buf, data, static_cast<size_t>(n));
  if (n < *cap) (*buf)[n] = '\0';
  *len = n;
  return 1;
}

// Appends n >= 1 bytes. A buffer too small for len + n bytes is replaced by one of exactly
// len + n bytes (plus the spare NUL) holding the old content. Fails when the total would not
// fit an int.
int NPC_F_MEM_MG_AddDataToBuf(char** buf, int* cap, int* len, const void* data, int n) {
  if (!buf || !cap || !len || !data || n < 1 || !validState(buf, cap, len)) return 0;
  long long total = static_cast<long long>(*len) + n;
  if (total > INT_MAX - 1) return 0;
  if (*buf == nullptr || *cap < total) {
    char* block = newBlock(static_cast<int>(total));
    if (!block) return 0;
    if (*len > 0) memcpy(block, *buf, static_cast<size_t>(*len));
    free(*buf);
    *buf = block;
    *cap = static_cast<int>(total);
  }
  memcpy(*buf + *len, data, static_cast<size_t>(n));
  *len = static_cast<int>(total);
  if (*len < *cap) (*buf)[*len] = '\0';
  return 1;
}

// Makes sure the buffer holds at least n bytes and zero-fills the first n. A too small
// buffer is replaced (its content is not kept).
int NPC_F_MEM_MG_AllocDataBuf(char** buf, int* cap, int n) {
  if (!buf || !cap || n < 0 || n > INT_MAX - 1 || !validState(buf, cap, nullptr)) return 0;
  if (*buf == nullptr || *cap < n) {
    char* block = newBlock(n);
    if (!block) return 0;
    free(*buf);
    *buf = block;
    *cap = n;
    return 1;
  }
  memset(*buf, 0, static_cast<size_t>(n));
  return 1;
}

// Makes sure the buffer holds at least n bytes while keeping its first keepLen bytes, and
// zero-fills the bytes from keepLen up to n. keepLen must lie within both the capacity and n.
int NPC_F_MEM_MG_ExpandDataBuf(char** buf, int* cap, int keepLen, int n) {
  if (!buf || !cap || n < 0 || n > INT_MAX - 1 || keepLen < 0 || keepLen > n ||
      !validState(buf, cap, nullptr) || keepLen > *cap)
    return 0;
  if (*buf == nullptr || *cap < n) {
    char* block = newBlock(n);
    if (!block) return 0;
    if (keepLen > 0) memcpy(block, *buf, static_cast<size_t>(keepLen));
    free(*buf);
    *buf = block;
    *cap = n;
    return 1;
  }
  memset(*buf + keepLen, 0, static_cast<size_t>(n - keepLen));
  return 1;
}

// Drops the first n bytes of the content by moving the rest to the front and writes a NUL
// after the remainder; that byte lies inside the old content because n is at least 1.
int NPC_F_MEM_MG_BufInsideCopy(char* buf, int* len, int n) {
  if (!buf || !len || n < 1 || n > *len) return 0;
  int rest = *len - n;
  memmove(buf, buf + n, static_cast<size_t>(rest));
  buf[rest] = '\0';
  *len = rest;
  return 1;
}

void NPC_F_MEM_MG_FreeDataBuf(char** buf, int* cap, int* len) {
  if (buf) {
    free(*buf);
    *buf = nullptr;
  }
  if (cap) *cap = 0;
  if (len) *len = 0;
}
