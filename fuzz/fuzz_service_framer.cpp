// Fuzz target: the service packet framing parser. The input is cut into reads whose lengths
// come from its first byte, fed to a framer, and every packet it hands out is read back; a
// framing error ends the stream as it ends the connection.
#include <cstddef>
#include <cstdint>

#include "net/service_packet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t piece = 1 + data[0] % 64;
  ++data;
  --size;
  NPC_S_SMP_COM_FRAMER f;
  for (size_t off = 0; off < size; off += piece) {
    size_t n = size - off < piece ? size - off : piece;
    NPC_F_SMP_COM_FRAMER_Append(&f, data + off, n);
    uint8_t* p = nullptr;
    uint32_t len = 0;
    int rc;
    while ((rc = NPC_F_SMP_COM_FRAMER_Next(&f, &p, &len)) == NPC_D_SMP_COM_FRAME_OK) {
      NPC_S_SMP_COM_PACKET_HEAD h;
      if (!NPC_F_SMP_COM_ReadPacketHead(p + NPC_D_SMP_COM_NET_HEAD_LEN, len - NPC_D_SMP_COM_NET_HEAD_LEN, &h)) __builtin_trap();
      if (static_cast<uint64_t>(h.dwBodyLen) + NPC_D_SMP_COM_HEAD_LEN > len) __builtin_trap();
      volatile uint8_t last = p[len - 1];
      (void)last;
    }
    if (rc != NPC_D_SMP_COM_FRAME_NEED_MORE) break;
  }
  return 0;
}
