// Fuzz target for the QXSP packet reader: the input is what a device sends. It goes through the
// pure readers (framer, head, consult and login answers) and then, cut into chunks, through a real
// QXSP module that has been brought to a chosen login state over a fake engine, so framing,
// decryption and every session handler see it. Whatever the module hands to its callback must be
// a well-formed message, and nothing may read out of bounds, hang or grow without bound.
//
// Input: byte 0 picks the scenario (bits 0-1 the login state reached before the data: waiting for
// the consult, for the login answer, or logged in; bit 2 encryption agreed; bit 3 run the timer
// after each chunk), byte 1 the chunk size (1..256); the rest is the device's byte stream.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bus/pvm_msg.h"
#include "protocols/qxsp/qxsp_packet.h"
#include "protocols/qxsp/qxsp_protocol.h"
#include "runtime/log.h"

namespace {

void check(bool ok) {
  if (!ok) abort();
}

struct Engine {
  uint32_t dwOrderConnId = 0;
  bool bHaveConn = false;
};

void callback(void* user, int kind, unsigned int vendor, unsigned char* msg, int len) {
  auto* e = static_cast<Engine*>(user);
  check(vendor == 1009 && msg && len > 0);
  if (kind == 0) {
    NPC_S_PVM_NET_MSG_VIEW v;
    check(NPC_F_PVM_MSG_ReadNetMsg(msg, len, &v) == 1);
    if (v.tHead.iMsgId == NET_TCP_CONNECT && !e->bHaveConn) {
      NPC_S_PVM_NET_MSG_TCP_CONNECT m;
      check(NPC_F_PVM_MSG_ReadNetFixed(v, &m) == 1);
      e->dwOrderConnId = m.dwProtConnId;
      e->bHaveConn = true;
    }
    if (v.tHead.iMsgId == NET_SEND_DATA) {
      NPC_S_PVM_NET_DATA_VIEW d;
      check(NPC_F_PVM_MSG_ReadNetSendData(v, &d) == 1);
      int32_t plen = 0;
      // Every packet the module sends frames as exactly one packet.
      check(NPC_F_PVM_QXSP_FrameNext(d.pData, static_cast<size_t>(d.iDataLen), &plen) ==
            NPC_D_PVM_DP_QXSP_FRAME_PACKET);
      check(plen == d.iDataLen);
    }
  } else {
    NPC_S_PVM_ORDER_MSG_VIEW v;
    check(NPC_F_PVM_MSG_ReadOrderMsg(msg, len, &v) == 1);
  }
}

std::vector<uint8_t> devPacket(uint16_t num, size_t len) {
  std::vector<uint8_t> b(len, 0);
  const uint8_t head[] = {0xEE, 0xEE, 0xFF, 0xFF};
  memcpy(b.data(), head, 4);
  uint32_t l = static_cast<uint32_t>(len);
  memcpy(b.data() + 4, &l, 4);
  b[8] = static_cast<uint8_t>(num);
  b[9] = static_cast<uint8_t>(num >> 8);
  b[10] = 1;
  return b;
}

void feed(NPC_C_PVM_DP_QXSP_Protocol& m, uint32_t connId, const uint8_t* data, size_t n) {
  std::vector<uint8_t> msg;
  if (!NPC_F_PVM_MSG_BuildNetSendData(&msg, connId, 77, 0, 0, data, n)) return;
  m.NPC_F_PVM_InputNetData(msg.data(), static_cast<int>(msg.size()));
}

void fuzzReaders(const uint8_t* data, size_t size) {
  size_t off = 0;
  while (off < size) {
    int32_t plen = 0;
    int r = NPC_F_PVM_QXSP_FrameNext(data + off, size - off, &plen);
    if (r != NPC_D_PVM_DP_QXSP_FRAME_PACKET) break;
    check(plen >= NPC_D_PVM_DP_QXSP_HEAD_LEN && static_cast<size_t>(plen) <= size - off);
    NPC_S_PVM_DP_QXSP_MSG_HEAD h;
    check(NPC_F_PVM_QXSP_ReadHead(data + off, static_cast<size_t>(plen), &h) == 1);
    NPC_S_PVM_DP_QXSP_VER_CONSULT_RESP vc;
    NPC_F_PVM_QXSP_ReadVerConsultResp(data + off, static_cast<size_t>(plen), &vc);
    check(strlen(vc.sToken) < sizeof vc.sToken);
    NPC_S_PVM_DP_QXSP_LOGIN_RESP lr;
    NPC_F_PVM_QXSP_ReadLoginResp(data + off, static_cast<size_t>(plen), (h.usMsgFuncId & 1) != 0, &lr);
    check(strlen(lr.sText7) < sizeof lr.sText7);
    char text[64];
    NPC_F_PVM_QXSP_TransProErrorCode(h.ucResult, sizeof text, text);
    off += static_cast<size_t>(plen);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = (NPC_F_LOG_SR_SetIfShowLog(0), NPC_F_LOG_SR_SetIfWriteLogToFile(0), true);
  (void)quiet;
  if (size > 1 << 20) return 0;
  fuzzReaders(data, size);
  if (size < 2) return 0;
  const uint8_t mode = data[0];
  const size_t chunk = static_cast<size_t>(data[1]) + 1;
  data += 2;
  size -= 2;

  Engine e;
  NPC_C_PVM_DP_QXSP_Protocol m;
  check(m.NPC_F_PVM_InitDevProtocolModule(1009, &callback, &e) == 1);
  m.NPC_F_PVM_QXSP_SetEncryptType((mode & 4) ? 2 : 0);

  NPC_S_PVM_ORDER_BODY_CAMERA_CONNECT body;
  memset(&body, 0, sizeof body);
  body.dwCameraConnId = 0x10001;
  const char param[] = "VendorId=1009,DevIp=127.0.0.1,DevPort=8000,DevUserName=admin,DevUserPwd=pw,DevChNo=0";
  memcpy(body.sConnParam, param, sizeof param);
  body.iCustomNum = (mode & 16) ? 1 : 0;
  memcpy(body.szCustomData, "cd", 2);
  std::vector<uint8_t> order;
  NPC_F_PVM_MSG_BuildRequest(&order, ORDER_CAMERA_CONNECT, 1, 1009, &body, sizeof body);
  m.NPC_F_PVM_InputUpOrderData(order.data(), static_cast<int>(order.size()));
  check(e.bHaveConn);

  NPC_S_PVM_NET_MSG_TCP_CONNECT answer;
  NPC_F_PVM_MSG_InitNetTcpConnect(&answer);
  answer.tHead.iMsgType = NPC_D_PVM_NET_MSG_TYPE_RESPONSE;
  answer.dwProtConnId = e.dwOrderConnId;
  answer.dwLogicTcpConnId = 77;
  answer.iAnswerStage = NPC_D_PVM_NET_CONN_STAGE_FINAL;
  answer.iConnMode = 3;
  m.NPC_F_PVM_InputNetData(reinterpret_cast<uint8_t*>(&answer), sizeof answer);

  int reach = mode & 3;  // 0 and 1: waiting for the consult; 2: for the login; 3: logged in
  if (reach >= 2) {
    std::vector<uint8_t> vc = devPacket(0x0101, 112);
    vc[46] = 0x14;
    vc[47] = 0x02;
    memcpy(vc.data() + 48, "token", 5);
    vc[110] = (mode & 4) ? 2 : 0;
    feed(m, e.dwOrderConnId, vc.data(), vc.size());
  }
  if (reach >= 3) {
    std::vector<uint8_t> la = devPacket((mode & 16) ? 0x0105 : 0x0102, (mode & 16) ? 556 : 548);
    feed(m, e.dwOrderConnId, la.data(), la.size());
  }
  for (size_t off = 0; off < size; off += chunk) {
    size_t n = size - off < chunk ? size - off : chunk;
    feed(m, e.dwOrderConnId, data + off, n);
    if (mode & 8) m.NPC_F_PVM_Timer();
  }
  m.NPC_F_PVM_UninitDevProtocolModule();
  return 0;
}
