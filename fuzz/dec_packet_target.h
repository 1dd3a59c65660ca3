// The body shared by the packet-decryptor fuzz targets: the decoder runs on an exact-size copy of
// the input, so that any read past the packet is caught, and a success must hand out a packet of
// type 2 whose last byte can be read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "net/packet_ed.h"
#include "runtime/log.h"

using KorvenPacketDecoder = int (*)(const unsigned char*, int, unsigned char**, int*, int*);

inline int KorvenFuzzPacketDecoder(KorvenPacketDecoder decode, const uint8_t* data, size_t size) {
  static const bool quiet = (NPC_F_LOG_SR_SetIfShowLog(0), NPC_F_LOG_SR_SetIfWriteLogToFile(0), true);
  (void)quiet;
  if (size > 1 << 16) return 0;
  unsigned char* copy = static_cast<unsigned char*>(malloc(size ? size : 1));
  if (size) memcpy(copy, data, size);
  unsigned char* out = nullptr;
  int outLen = 0, type = 0;
  if (decode(copy, static_cast<int>(size), &out, &outLen, &type) && out) {
    if (type != 2 || outLen < 0) __builtin_trap();
    if (outLen > 0) {
      volatile unsigned char last = out[outLen - 1];
      (void)last;
    }
    NPC_F_ED_ReleasePacket(out);
  }
  free(copy);
  return 0;
}
