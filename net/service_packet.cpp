// Service packet heads, the function id names, packet building and the shared framing parser.
#include "net/service_packet.h"

#include <cstring>

#include "net/packet_ed.h"
#include "runtime/reader.h"

namespace {

void put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// Bytes handed out are dropped from the front of the buffer once they are this many, so the
// buffer neither grows without bound nor moves bytes after every packet.
constexpr size_t kCompactAt = 65536;

}  // namespace

const char* NPC_F_SMP_COM_GetFuncIdName(uint32_t funcId) {
  switch (funcId) {
#define NPC_D_SMP_COM_FUNC_ID_CASE(name, id) \
  case id:                                   \
    return #name;
    NPC_D_SMP_COM_FUNC_ID_LIST(NPC_D_SMP_COM_FUNC_ID_CASE)
#undef NPC_D_SMP_COM_FUNC_ID_CASE
    default:
      return nullptr;
  }
}

bool NPC_F_SMP_COM_ReadNetHead(const void* data, uint64_t len, NPC_S_SMP_COM_NET_HEAD* out) {
  NPC_S_READER r(data, len);
  NPC_S_SMP_COM_NET_HEAD h;
  h.dwNetHeadFlag = r.u32();
  h.dwPacketSize = r.u32();
  h.dwReserved = r.u32();
  h.usScrambleFlag = r.u16();
  h.ucEncType = r.u8();
  h.ucReserved = r.u8();
  if (!r.ok() || !out) return false;
  *out = h;
  return true;
}

bool NPC_F_SMP_COM_ReadPacketHead(const void* data, uint64_t len, NPC_S_SMP_COM_PACKET_HEAD* out) {
  NPC_S_READER r(data, len);
  NPC_S_SMP_COM_PACKET_HEAD h;
  h.usVersion = r.u16();
  h.usPacketType = r.u16();
  h.dwFuncId = r.u32();
  h.dwTransId = r.u32();
  h.dwSeqNo = r.u32();
  h.iResult = r.i32();
  h.dwBodyLen = r.u32();
  if (!r.ok() || !out) return false;
  *out = h;
  return true;
}

void NPC_F_SMP_COM_WritePacketHead(void* out, const NPC_S_SMP_COM_PACKET_HEAD& h) {
  uint8_t* p = static_cast<uint8_t*>(out);
  put16(p, h.usVersion);
  put16(p + 2, h.usPacketType);
  put32(p + 4, h.dwFuncId);
  put32(p + 8, h.dwTransId);
  put32(p + 12, h.dwSeqNo);
  put32(p + 16, static_cast<uint32_t>(h.iResult));
  put32(p + 20, h.dwBodyLen);
}

bool NPC_F_SMP_COM_BuildPacket(std::vector<uint8_t>* out, NPC_S_SMP_COM_PACKET_HEAD head, const void* body,
                               uint32_t bodyLen, bool scramble) {
  if (!out || (bodyLen && !body)) return false;
  uint64_t size = static_cast<uint64_t>(NPC_D_SMP_COM_HEAD_LEN) + bodyLen;
  if (size > NPC_D_SMP_COM_MAX_PACKET_SIZE) return false;
  out->resize(static_cast<size_t>(size));
  uint8_t* p = out->data();
  put32(p, NPC_D_SMP_COM_NET_HEAD_FLAG);
  put32(p + 4, static_cast<uint32_t>(size));
  put32(p + 8, 0);
  put16(p + 12, scramble ? NPC_D_SMP_COM_SCRAMBLE_FLAG : 0);
  p[14] = 0;
  p[15] = 0;
  head.dwBodyLen = bodyLen;
  NPC_F_SMP_COM_WritePacketHead(p + NPC_D_SMP_COM_NET_HEAD_LEN, head);
  if (bodyLen) memcpy(p + NPC_D_SMP_COM_HEAD_LEN, body, bodyLen);
  if (scramble) NPC_F_COM_PACKET_Encode(p + NPC_D_SMP_COM_NET_HEAD_LEN, static_cast<int>(size - NPC_D_SMP_COM_NET_HEAD_LEN));
  return true;
}

int NPC_F_SMP_COM_CheckFrame(const uint8_t* data, uint64_t len, uint32_t* packetSize) {
  NPC_S_SMP_COM_NET_HEAD h;
  if (!data || !NPC_F_SMP_COM_ReadNetHead(data, len, &h)) return NPC_D_SMP_COM_FRAME_NEED_MORE;
  if (h.dwNetHeadFlag != NPC_D_SMP_COM_NET_HEAD_FLAG) return NPC_D_SMP_COM_FRAME_BAD_FLAG;
  if (h.dwPacketSize < static_cast<uint32_t>(NPC_D_SMP_COM_HEAD_LEN)) return NPC_D_SMP_COM_FRAME_BAD_SIZE;
  if (h.dwPacketSize > NPC_D_SMP_COM_MAX_PACKET_SIZE) return NPC_D_SMP_COM_FRAME_TOO_LARGE;
  if (len < h.dwPacketSize) return NPC_D_SMP_COM_FRAME_NEED_MORE;
  if (packetSize) *packetSize = h.dwPacketSize;
  return NPC_D_SMP_COM_FRAME_OK;
}

int NPC_F_SMP_COM_OpenPacket(uint8_t* packet, uint32_t packetSize) {
  NPC_S_SMP_COM_NET_HEAD h;
  if (!packet || packetSize < static_cast<uint32_t>(NPC_D_SMP_COM_HEAD_LEN) || !NPC_F_SMP_COM_ReadNetHead(packet, packetSize, &h))
    return NPC_D_SMP_COM_FRAME_BAD_SIZE;
  if (NPC_F_SMP_COM_IfScrambled(h.usScrambleFlag)) {
    NPC_F_COM_PACKET_Decode(packet + NPC_D_SMP_COM_NET_HEAD_LEN, static_cast<int>(packetSize - NPC_D_SMP_COM_NET_HEAD_LEN));
    put16(packet + 12, static_cast<uint16_t>(h.usScrambleFlag & ~6u));
  }
  NPC_S_SMP_COM_PACKET_HEAD ph;
  NPC_F_SMP_COM_ReadPacketHead(packet + NPC_D_SMP_COM_NET_HEAD_LEN, packetSize - NPC_D_SMP_COM_NET_HEAD_LEN, &ph);
  if (static_cast<uint64_t>(ph.dwBodyLen) + NPC_D_SMP_COM_HEAD_LEN > packetSize) return NPC_D_SMP_COM_FRAME_BAD_BODY;
  return NPC_D_SMP_COM_FRAME_OK;
}

void NPC_F_SMP_COM_FRAMER_Append(NPC_S_SMP_COM_FRAMER* f, const void* data, size_t len) {
  if (!f || !data || !len) return;
  if (f->start >= kCompactAt || f->start == f->buf.size()) {
    f->buf.erase(f->buf.begin(), f->buf.begin() + static_cast<long>(f->start));
    f->start = 0;
  }
  const uint8_t* p = static_cast<const uint8_t*>(data);
  f->buf.insert(f->buf.end(), p, p + len);
}

int NPC_F_SMP_COM_FRAMER_Next(NPC_S_SMP_COM_FRAMER* f, uint8_t** packet, uint32_t* packetSize) {
  if (!f || !packet || !packetSize) return NPC_D_SMP_COM_FRAME_NEED_MORE;
  uint8_t* at = f->buf.data() + f->start;
  uint64_t avail = f->buf.size() - f->start;
  uint32_t size = 0;
  int rc = NPC_F_SMP_COM_CheckFrame(at, avail, &size);
  if (rc == NPC_D_SMP_COM_FRAME_NEED_MORE) {
    // A packet never exceeds the maximum, so more than that waiting means a broken stream.
    return avail > NPC_D_SMP_COM_MAX_PACKET_SIZE ? NPC_D_SMP_COM_FRAME_TOO_LARGE : rc;
  }
  if (rc != NPC_D_SMP_COM_FRAME_OK) return rc;
  rc = NPC_F_SMP_COM_OpenPacket(at, size);
  if (rc != NPC_D_SMP_COM_FRAME_OK) return rc;
  f->start += size;
  *packet = at;
  *packetSize = size;
  return NPC_D_SMP_COM_FRAME_OK;
}

size_t NPC_F_SMP_COM_FRAMER_Buffered(const NPC_S_SMP_COM_FRAMER* f) { return f ? f->buf.size() - f->start : 0; }

void NPC_F_SMP_COM_FRAMER_Reset(NPC_S_SMP_COM_FRAMER* f) {
  if (!f) return;
  f->buf.clear();
  f->start = 0;
}
