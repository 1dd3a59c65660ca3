// The checked byte reader for untrusted input (device, server, LAN, file and caller data).
//
// Every read checks the remaining length in 64-bit arithmetic before it touches a byte; a
// read that does not fit marks the reader failed, returns zeros and leaves the position
// unchanged, so a parser can read a whole record and test ok() once. Integers are
// little-endian unless the name says Be.
#ifndef KORVEN_RUNTIME_READER_H
#define KORVEN_RUNTIME_READER_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "runtime/text.h"

struct NPC_S_READER {
  const uint8_t* pData = nullptr;
  uint64_t qwLen = 0;
  uint64_t qwPos = 0;
  bool bOk = true;

  NPC_S_READER() = default;
  NPC_S_READER(const void* data, uint64_t len) : pData(static_cast<const uint8_t*>(data)), qwLen(data ? len : 0) {}

  bool ok() const { return bOk; }
  uint64_t pos() const { return qwPos; }
  uint64_t size() const { return qwLen; }
  uint64_t remaining() const { return qwLen - qwPos; }
  // True when n more bytes can be read; marks the reader failed otherwise.
  bool need(uint64_t n) {
    if (!bOk || n > qwLen - qwPos) {
      bOk = false;
      return false;
    }
    return true;
  }
  // A pointer to the next n bytes (advancing past them), or null when they are not there.
  const uint8_t* take(uint64_t n) {
    if (!need(n)) return nullptr;
    const uint8_t* p = pData + qwPos;
    qwPos += n;
    return p;
  }
  bool skip(uint64_t n) { return take(n) != nullptr; }
  // Moves to an absolute offset (at most the end).
  bool seek(uint64_t offset) {
    if (!bOk || offset > qwLen) {
      bOk = false;
      return false;
    }
    qwPos = offset;
    return true;
  }
  uint8_t u8() {
    const uint8_t* p = take(1);
    return p ? p[0] : 0;
  }
  uint16_t u16() {
    const uint8_t* p = take(2);
    return p ? static_cast<uint16_t>(p[0] | (p[1] << 8)) : 0;
  }
  uint32_t u32() {
    const uint8_t* p = take(4);
    return p ? (static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
                static_cast<uint32_t>(p[3]) << 24)
             : 0;
  }
  uint64_t u64() {
    uint64_t lo = u32();
    uint64_t hi = u32();
    return lo | hi << 32;
  }
  int16_t i16() { return static_cast<int16_t>(u16()); }
  int32_t i32() { return static_cast<int32_t>(u32()); }
  uint16_t u16Be() {
    const uint8_t* p = take(2);
    return p ? static_cast<uint16_t>(p[0] << 8 | p[1]) : 0;
  }
  uint32_t u32Be() {
    const uint8_t* p = take(4);
    return p ? (static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
                static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3]))
             : 0;
  }
  // Copies n bytes into dst; zero-fills dst on failure.
  bool bytes(void* dst, uint64_t n) {
    const uint8_t* p = take(n);
    if (!p) {
      if (dst && n) memset(dst, 0, static_cast<size_t>(n));
      return false;
    }
    if (n) memcpy(dst, p, static_cast<size_t>(n));
    return true;
  }
  // Reads a fixed text field of fieldLen bytes into dst (dstSize bytes, NUL-terminated, cut
  // at its first NUL and at dstSize - 1 bytes).
  bool text(char* dst, size_t dstSize, uint64_t fieldLen) {
    const uint8_t* p = take(fieldLen);
    if (!p) {
      if (dst && dstSize) dst[0] = '\0';
      return false;
    }
    NPC_F_TEXT_CopyRaw(dst, dstSize, reinterpret_cast<const char*>(p), static_cast<size_t>(fieldLen));
    return true;
  }
  // Reads a fixed-layout record by copying its bytes (the record must be a trivially
  // copyable POD whose layout matches the wire, as pinned by static_assert).
  template <typename T>
  bool record(T* out) {
    return bytes(out, sizeof(T));
  }
};

#endif
