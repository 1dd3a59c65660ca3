// The three packet encryptors and decryptors, the QXSP command list and the scrambler. One
// generic encryptor and one generic decryptor do the work for every layout; a small layout
// record says where the type byte, the lengths and the body sit, and which log texts apply.
#include "net/packet_ed.h"

#include <cstdlib>
#include <cstring>

#include "net/enc.h"
#include "net/packet_keys_gen.h"
#include "runtime/log.h"
#include "runtime/reader.h"

namespace {

static_assert(sizeof(kNpcPacketKeyBytes) == 128, "the packet key has 128 characters");
static_assert(sizeof(kNpcScrambleKeyBytes) == 16, "the scramble table has 16 bytes");

const char* packetKey() { return reinterpret_cast<const char*>(kNpcPacketKeyBytes); }
constexpr int kPacketKeyLen = static_cast<int>(sizeof(kNpcPacketKeyBytes));

// Where a layout keeps its fields, and the texts its calls log.
struct Layout {
  int headLen;
  int typeOffset;
  int sizeOffset;      // the packet (or inner packet) length that is rewritten
  int sizeBase;        // added to the body length to give that length
  int bodyLenOffset;   // -1: the body length is the packet length minus the head
  int funcIdOffset;    // -1: no function id (QXSP)
  const char* encTypeError;
  const char* encError;
  const char* encMallocError;
  const char* decTypeError;
  const char* decError;
  const char* decMallocError;
  const char* decLenError;
  const char* encLenError;
};

const Layout kNet = {40, 14, 4, 40, 36, 20,
                     "NPC_F_ED_DecNetPacket Decrypt type error.", "NPC_F_ED_EncNetPacket Encryption error.",
                     "NPC_F_ED_EncNetPacket malloc error.", "NPC_F_ED_DecNetPacket Decrypt type error.",
                     "NPC_F_ED_DecNetPacket Decrypt error.", "NPC_F_ED_DecNetPacket malloc error.",
                     "NPC_F_ED_DecNetPacket packet length error.", "NPC_F_ED_EncNetPacket packet length error."};
// The UDP variants log the same texts as the server packet ones.
const Layout kUdp = {68, 42, 32, 40, 64, 48,
                     kNet.encTypeError, kNet.encError, kNet.encMallocError, kNet.decTypeError,
                     kNet.decError, kNet.decMallocError, kNet.decLenError, kNet.encLenError};
const Layout kQxsp = {20, 16, 4, 20, -1, -1,
                      "NPC_F_ED_EncQxspPacket Decrypt type error.", "NPC_F_ED_EncQxspPacket Encryption error.",
                      "NPC_F_ED_EncQxspPacket malloc error.", "NPC_F_ED_DecQxspPacket Decrypt type error.",
                      "NPC_F_ED_DecQxspPacket Decrypt error.", "NPC_F_ED_DecQxspPacket malloc error.",
                      "NPC_F_ED_DecQxspPacket packet length error.", "NPC_F_ED_EncQxspPacket packet length error."};

void put32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

uint32_t read32(const unsigned char* packet, int len, int offset) {
  NPC_S_READER r(packet, static_cast<uint64_t>(len));
  r.seek(static_cast<uint64_t>(offset));
  return r.u32();
}

// Finds the body of a packet: for layouts with a body length field it must lie inside the
// packet; for QXSP the length at offset 4 must cover the head and lie inside the packet.
// Returns false when the lengths do not fit what was given.
bool locateBody(const Layout& l, const unsigned char* packet, int len, uint64_t* bodyLen) {
  uint64_t avail = static_cast<uint64_t>(len) - static_cast<uint64_t>(l.headLen);
  if (l.bodyLenOffset >= 0) {
    *bodyLen = read32(packet, len, l.bodyLenOffset);
    return *bodyLen <= avail;
  }
  uint64_t total = read32(packet, len, l.sizeOffset);
  if (total < static_cast<uint64_t>(l.headLen) || total > static_cast<uint64_t>(len)) return false;
  *bodyLen = total - static_cast<uint64_t>(l.headLen);
  return true;
}

// Head copied, body replaced, lengths and type byte rewritten; one spare byte behind the body.
unsigned char* buildPacket(const Layout& l, const unsigned char* head, const void* body, size_t bodyLen, int type) {
  size_t total = static_cast<size_t>(l.headLen) + bodyLen;
  unsigned char* out = static_cast<unsigned char*>(malloc(total + 1));
  if (!out) return nullptr;
  memcpy(out, head, static_cast<size_t>(l.headLen));
  if (bodyLen) memcpy(out + l.headLen, body, bodyLen);
  out[total] = 0;
  put32(out + l.sizeOffset, static_cast<uint32_t>(static_cast<size_t>(l.sizeBase) + bodyLen));
  if (l.bodyLenOffset >= 0) put32(out + l.bodyLenOffset, static_cast<uint32_t>(bodyLen));
  out[l.typeOffset] = static_cast<unsigned char>(type);
  return out;
}

// The shared encryptor. passPlain tells that this packet is never encrypted (function id or
// command not on the list): its type byte becomes 0 and nothing else happens.
int encryptPacket(const Layout& l, unsigned char* packet, int len, int encType, unsigned char** out, int* outLen,
                  bool passPlain) {
  if (encType == NPC_D_ED_ENC_TYPE_NONE || passPlain) {
    packet[l.typeOffset] = NPC_D_ED_ENC_TYPE_NONE;
    return 1;
  }
  if (encType != NPC_D_ED_ENC_TYPE_RC4) {
    NPC_F_LOG_SR_WriteLog(l.encTypeError, 2);
    return 0;
  }
  uint64_t bodyLen = 0;
  if (!locateBody(l, packet, len, &bodyLen)) {
    NPC_F_LOG_SR_WriteLog(l.encLenError, 2);
    return 0;
  }
  char scratch[NPC_D_ED_SCRATCH_LEN];
  int encLen = 0;
  if (bodyLen > static_cast<uint64_t>(NPC_D_ED_MAX_PLAIN_BODY) ||
      !NPC_F_ENC_EncryptEx(packetKey(), kPacketKeyLen, packet + l.headLen, static_cast<int>(bodyLen), scratch,
                           sizeof scratch, &encLen)) {
    NPC_F_LOG_SR_WriteLog(l.encError, 2);
    return 0;
  }
  unsigned char* built = buildPacket(l, packet, scratch, static_cast<size_t>(encLen), NPC_D_ED_ENC_TYPE_RC4);
  if (!built) {
    NPC_F_LOG_SR_WriteLog(l.encMallocError, 2);
    return 0;
  }
  *out = built;
  if (outLen) *outLen = l.headLen + encLen;
  return 1;
}

// The shared decryptor; passPlain marks packets that are plain whatever their type byte says.
int decryptPacket(const Layout& l, const unsigned char* packet, int len, unsigned char** out, int* outLen,
                  int* outType, bool passPlain) {
  int type = packet[l.typeOffset];
  if (type == NPC_D_ED_ENC_TYPE_NONE || passPlain) return 1;
  if (type != NPC_D_ED_ENC_TYPE_RC4) {
    NPC_F_LOG_SR_WriteLog(l.decTypeError, 2);
    return 0;
  }
  uint64_t bodyLen = 0;
  if (!locateBody(l, packet, len, &bodyLen)) {
    NPC_F_LOG_SR_WriteLog(l.decLenError, 2);
    return 0;
  }
  // The text ends at its NUL, which must lie inside the body.
  const unsigned char* body = packet + l.headLen;
  const void* nul = bodyLen ? memchr(body, 0, static_cast<size_t>(bodyLen)) : nullptr;
  unsigned char scratch[NPC_D_ED_SCRATCH_LEN + 1];  // the decoded bytes and the NUL behind them
  int plainLen = 0;
  if (!nul || !NPC_F_ENC_DecryptionEx(packetKey(), kPacketKeyLen, reinterpret_cast<const char*>(body),
                                      static_cast<int>(static_cast<const unsigned char*>(nul) - body), scratch,
                                      sizeof scratch, &plainLen)) {
    NPC_F_LOG_SR_WriteLog(l.decError, 2);
    return 0;
  }
  unsigned char* built = buildPacket(l, packet, scratch, static_cast<size_t>(plainLen), NPC_D_ED_ENC_TYPE_NONE);
  if (!built) {
    NPC_F_LOG_SR_WriteLog(l.decMallocError, 2);
    return 0;
  }
  *out = built;
  if (outLen) *outLen = l.headLen + plainLen;
  if (outType) *outType = NPC_D_ED_ENC_TYPE_RC4;
  return 1;
}

int encryptEntry(const Layout& l, unsigned char* packet, int len, int encType, unsigned char** out, int* outLen) {
  if (!packet || !out || len < l.headLen) {
    NPC_F_LOG_SR_WriteLog(l.encLenError, 2);
    return 0;
  }
  bool plain = false;
  if (l.funcIdOffset >= 0) {
    plain = read32(packet, len, l.funcIdOffset) == NPC_D_ED_NEVER_ENCRYPTED_FUNC_ID;
  } else {
    plain = !NPC_F_ED_QxspCmdIfEncrypt(static_cast<uint16_t>(packet[8] | packet[9] << 8));
  }
  return encryptPacket(l, packet, len, encType, out, outLen, plain);
}

int decryptEntry(const Layout& l, const unsigned char* packet, int len, unsigned char** out, int* outLen,
                 int* outType) {
  if (out) *out = nullptr;
  if (outType) *outType = NPC_D_ED_ENC_TYPE_NONE;
  if (!packet || !out || len < l.headLen) {
    NPC_F_LOG_SR_WriteLog(l.decLenError, 2);
    return 0;
  }
  // QXSP custom packets (PA_CUSTOM) always travel plain.
  bool plain = l.funcIdOffset < 0 && (packet[8] | packet[9] << 8) == 0x0A01;
  return decryptPacket(l, packet, len, out, outLen, outType, plain);
}

}  // namespace

int NPC_F_ED_EncNetPacket(unsigned char* packet, int len, int encType, unsigned char** out, int* outLen) {
  return encryptEntry(kNet, packet, len, encType, out, outLen);
}

int NPC_F_ED_DecNetPacket(const unsigned char* packet, int len, unsigned char** out, int* outLen, int* outType) {
  return decryptEntry(kNet, packet, len, out, outLen, outType);
}

int NPC_F_ED_EncUdpNetPacket(unsigned char* packet, int len, int encType, unsigned char** out, int* outLen) {
  return encryptEntry(kUdp, packet, len, encType, out, outLen);
}

int NPC_F_ED_DecUdpNetPacket(const unsigned char* packet, int len, unsigned char** out, int* outLen, int* outType) {
  return decryptEntry(kUdp, packet, len, out, outLen, outType);
}

int NPC_F_ED_QxspCmdIfEncrypt(uint16_t cmd) {
  switch (cmd) {
    case 0x0102:  // login
    case 0x0103:
    case 0x0105:
    case 0x0201:
    case 0x0202:
    case 0x0203:
    case 0x0221:
    case 0x0222:
    case 0x0301:
    case 0x0302:
    case 0x0311:
    case 0x0313:
    case 0x0318:
      return 1;
    default:
      return 0;
  }
}

int NPC_F_ED_EncQxspPacket(unsigned char* packet, int len, int encType, unsigned char** out, int* outLen) {
  return encryptEntry(kQxsp, packet, len, encType, out, outLen);
}

int NPC_F_ED_DecQxspPacket(const unsigned char* packet, int len, unsigned char** out, int* outLen, int* outType) {
  return decryptEntry(kQxsp, packet, len, out, outLen, outType);
}

void NPC_F_ED_ReleasePacket(unsigned char* packet) { free(packet); }

const char* NPC_F_ED_GetPacketKey(int* keyLen) {
  if (keyLen) *keyLen = kPacketKeyLen;
  return packetKey();
}

void NPC_F_COM_PACKET_Encode(unsigned char* buf, int len) {
  if (!buf) return;
  for (int i = 0; i < len; ++i) buf[i] ^= kNpcScrambleKeyBytes[i & 15];
}

void NPC_F_COM_PACKET_Decode(unsigned char* buf, int len) { NPC_F_COM_PACKET_Encode(buf, len); }
