// Fuzz target: NPC_F_ED_DecQxspPacket on an exact-size copy of the input, so that any read
// past the packet is caught. A success must hand out a packet whose lengths agree with its size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "net/packet_ed.h"
#include "runtime/log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = (NPC_F_LOG_SR_SetIfShowLog(0), NPC_F_LOG_SR_SetIfWriteLogToFile(0), true);
  (void)quiet;
  if (size > 1 << 16) return 0;
  unsigned char* copy = static_cast<unsigned char*>(malloc(size ? size : 1));
  if (size) memcpy(copy, data, size);
  unsigned char* out = nullptr;
  int outLen = 0, type = 0;
  if (NPC_F_ED_DecQxspPacket(copy, static_cast<int>(size), &out, &outLen, &type) && out) {
    if (type != 2 || outLen < 0) __builtin_trap();
    volatile unsigned char last = out[outLen - 1];
    (void)last;
    NPC_F_ED_ReleasePacket(out);
  }
  free(copy);
  return 0;
}
