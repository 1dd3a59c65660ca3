// Fuzz target: NPC_F_ED_DecQxspPacket on an exact-size copy of the input.
#include "dec_packet_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return KorvenFuzzPacketDecoder(&NPC_F_ED_DecQxspPacket, data, size);
}
