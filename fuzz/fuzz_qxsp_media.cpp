// Fuzz target for the QXSP media path: the input is what a device sends on a realplay connection
// (and, mixed in, frames the engine collected from UDP). It goes through the pure live-view
// readers (boundary scan, media packet readers, answer readers, audio conversion) and then, cut
// into chunks, through a real QXSP module whose camera has been brought to the playing state
// over a fake engine: framing, resynchronisation, the backlog check, video and audio conversion
// and the open, close and switch answers all see it. Whatever the module hands to its callback
// must be a well-formed message, every media notice's length field must match its data, and
// nothing may read out of bounds, hang or grow without bound.
//
// Input: byte 0 picks the scenario (bit 0 a device of version 0x0202 instead of 0x0214, bit 1 a
// cache clear and redirect before the data so that it starts resynchronising, bit 2 every third
// chunk goes up as a UDP frame instead, bit 3 a channel switch after the first chunk, bit 4 the
// timer after each chunk, bit 5 a close order half-way), byte 1 the chunk size (1..256), bytes 2-5
// the backlog value the engine reports with the data; the rest is the byte stream.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bus/pvm_msg.h"
#include "protocols/qxsp/qxsp_live_packet.h"
#include "protocols/qxsp/qxsp_packet.h"
#include "protocols/qxsp/qxsp_protocol.h"
#include "runtime/log.h"

namespace {

void check(bool ok) {
  if (!ok) abort();
}

constexpr uint32_t kCam = 0x10001;
constexpr uint32_t kOrderEngine = 77;
constexpr uint32_t kMediaEngine = 78;

struct Engine {
  std::vector<uint32_t> connIds;  // module ids of the NET_TCP_CONNECT requests, in order
};

void callback(void* user, int kind, unsigned int vendor, unsigned char* msg, int len) {
  auto* e = static_cast<Engine*>(user);
  check(vendor == 1009 && msg && len > 0);
  if (kind == 0) {
    NPC_S_PVM_NET_MSG_VIEW v;
    check(NPC_F_PVM_MSG_ReadNetMsg(msg, len, &v) == 1);
    if (v.tHead.iMsgId == NET_TCP_CONNECT) {
      NPC_S_PVM_NET_MSG_TCP_CONNECT m;
      check(NPC_F_PVM_MSG_ReadNetFixed(v, &m) == 1);
      e->connIds.push_back(m.dwProtConnId);
    }
    if (v.tHead.iMsgId == NET_SEND_DATA) {
      NPC_S_PVM_NET_DATA_VIEW d;
      check(NPC_F_PVM_MSG_ReadNetSendData(v, &d) == 1);
      int32_t plen = 0;
      check(NPC_F_PVM_QXSP_FrameNext(d.pData, static_cast<size_t>(d.iDataLen), &plen) ==
            NPC_D_PVM_DP_QXSP_FRAME_PACKET);
      check(plen == d.iDataLen);
    }
    return;
  }
  NPC_S_PVM_ORDER_MSG_VIEW v;
  check(NPC_F_PVM_MSG_ReadOrderMsg(msg, len, &v) == 1);
  if (v.tHead.iMsgId == ORDER_MEDIA_DATA) {
    NPC_S_PVM_FRAME_DATA_VIEW f;
    check(NPC_F_PVM_MSG_ReadMediaData(v, &f) == 1);
    check(f.dwCameraConnId == kCam && f.iFrameDataLenField == f.iDataLen);
    check(v.tHead.dwTransId == 0 && v.tHead.iMsgType == 0);
  }
}

std::vector<uint8_t> devPacket(uint16_t num, size_t len, uint8_t result = 0) {
  std::vector<uint8_t> b(len, 0);
  const uint8_t head[] = {0xEE, 0xEE, 0xFF, 0xFF};
  memcpy(b.data(), head, 4);
  uint32_t l = static_cast<uint32_t>(len);
  memcpy(b.data() + 4, &l, 4);
  b[8] = static_cast<uint8_t>(num);
  b[9] = static_cast<uint8_t>(num >> 8);
  b[10] = 1;
  b[11] = result;
  return b;
}

void net(NPC_C_PVM_DP_QXSP_Protocol& m, std::vector<uint8_t> msg) {
  m.NPC_F_PVM_InputNetData(msg.data(), static_cast<int>(msg.size()));
}

void feed(NPC_C_PVM_DP_QXSP_Protocol& m, uint32_t connId, uint32_t engineId, const uint8_t* data, size_t n,
          uint32_t backlog = 0) {
  std::vector<uint8_t> msg;
  if (NPC_F_PVM_MSG_BuildNetSendData(&msg, connId, engineId, backlog, 0, data, n)) net(m, msg);
}

void accept(NPC_C_PVM_DP_QXSP_Protocol& m, uint32_t connId, uint32_t engineId) {
  for (int stage : {1, 2}) {
    NPC_S_PVM_NET_MSG_TCP_CONNECT a;
    NPC_F_PVM_MSG_InitNetTcpConnect(&a);
    a.tHead.iMsgType = NPC_D_PVM_NET_MSG_TYPE_RESPONSE;
    a.dwProtConnId = connId;
    a.dwLogicTcpConnId = engineId;
    a.iAnswerStage = stage;
    a.iConnMode = 3;
    std::vector<uint8_t> msg(reinterpret_cast<uint8_t*>(&a), reinterpret_cast<uint8_t*>(&a) + sizeof a);
    net(m, msg);
  }
}

void order(NPC_C_PVM_DP_QXSP_Protocol& m, int32_t code, const void* body, size_t len) {
  static uint32_t trans = 1;
  std::vector<uint8_t> msg;
  NPC_F_PVM_MSG_BuildRequest(&msg, code, ++trans, 1009, body, len);
  m.NPC_F_PVM_InputUpOrderData(msg.data(), static_cast<int>(msg.size()));
}

void fuzzReaders(const uint8_t* data, size_t size) {
  NPC_S_PVM_DP_QXSP_RESYNC_RESULT r = NPC_F_PVM_QXSP_ScanPacketStart(data, size);
  check(r.qwDrop <= size);
  if (r.iResult == NPC_D_PVM_DP_QXSP_RESYNC_FOUND) {
    int32_t plen = 0;
    check(NPC_F_PVM_QXSP_FrameNext(data + r.qwDrop, size - r.qwDrop, &plen) == NPC_D_PVM_DP_QXSP_FRAME_PACKET);
  }
  NPC_S_PVM_DP_QXSP_VIDEO_FRAME v;
  if (NPC_F_PVM_QXSP_ReadVideoFrame(data, size, &v)) check(v.iDataLen >= 0 && static_cast<size_t>(v.iDataLen) + 32 == size);
  NPC_S_PVM_DP_QXSP_AUDIO_FRAME a;
  if (NPC_F_PVM_QXSP_ReadAudioFrame(data, size, &a) && a.iDataLen > 0) {
    int32_t up = 0;
    const int conv = NPC_F_PVM_QXSP_AudioConvOfDevCodec(a.uiCodec, &up);
    const int64_t n = NPC_F_PVM_QXSP_AudioConvOutLen(conv, a.iDataLen);
    std::vector<int16_t> out(static_cast<size_t>(n / 2 + 1));
    check(NPC_F_PVM_QXSP_AudioConvert(conv, a.pData, a.iDataLen, reinterpret_cast<uint8_t*>(out.data())) == n);
  }
  NPC_S_PVM_DP_QXSP_QUALITY_CAP_RESP q;
  if (NPC_F_PVM_QXSP_ReadQualityCapResp(data, size, &q) && q.bComplete) {
    check(q.iLevelNum >= 0 && q.iLevelNum <= 8 && static_cast<size_t>(32 + 28 * q.iLevelNum) <= size);
  }
  NPC_S_PVM_DP_QXSP_REALPLAY_OPEN_RESP o;
  NPC_F_PVM_QXSP_ReadRealplayOpenResp(data, size, true, &o);
  NPC_S_PVM_DP_QXSP_QUALITY_LEVEL_RESP l;
  NPC_F_PVM_QXSP_ReadQualityLevelResp(data, size, &l);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = (NPC_F_LOG_SR_SetIfShowLog(0), NPC_F_LOG_SR_SetIfWriteLogToFile(0), true);
  (void)quiet;
  if (size > 1 << 20) return 0;
  fuzzReaders(data, size);
  if (size < 6) return 0;
  const uint8_t mode = data[0];
  const size_t chunk = static_cast<size_t>(data[1]) + 1;
  uint32_t backlog = 0;
  memcpy(&backlog, data + 2, 4);
  data += 6;
  size -= 6;

  Engine e;
  NPC_C_PVM_DP_QXSP_Protocol m;
  check(m.NPC_F_PVM_InitDevProtocolModule(1009, &callback, &e) == 1);

  // Log in.
  NPC_S_PVM_ORDER_BODY_CAMERA_CONNECT body;
  memset(&body, 0, sizeof body);
  body.dwCameraConnId = kCam;
  const char param[] = "VendorId=1009,DevIp=127.0.0.1,DevPort=8000,DevUserName=admin,DevUserPwd=pw,DevChNo=1";
  memcpy(body.sConnParam, param, sizeof param);
  order(m, ORDER_CAMERA_CONNECT, &body, sizeof body);
  check(e.connIds.size() == 1);
  const uint32_t orderConn = e.connIds[0];
  accept(m, orderConn, kOrderEngine);
  std::vector<uint8_t> vc = devPacket(0x0101, 112);
  vc[46] = (mode & 1) ? 0x02 : 0x14;
  vc[47] = 0x02;
  memcpy(vc.data() + 48, "token", 5);
  feed(m, orderConn, kOrderEngine, vc.data(), vc.size());
  std::vector<uint8_t> la = devPacket(0x0102, 548);
  feed(m, orderConn, kOrderEngine, la.data(), la.size());

  // Open realplay and play.
  NPC_S_PVM_ORDER_BODY_OPEN_REALPLAY open{kCam, -1, 0};
  order(m, ORDER_OPEN_REALPLAY, &open, sizeof open);
  check(e.connIds.size() == 2);
  const uint32_t media = e.connIds[1];
  accept(m, media, kMediaEngine);
  std::vector<uint8_t> oa = (mode & 1) ? devPacket(0x0201, 20) : devPacket(0x0221, 36);
  feed(m, media, kMediaEngine, oa.data(), oa.size());
  if (mode & 2) {
    NPC_S_PVM_NET_MSG_CONN_IDS r;
    NPC_F_PVM_MSG_InitNetConnIds(&r, NET_REDIRECT_DATA, media, kMediaEngine);
    net(m, std::vector<uint8_t>(reinterpret_cast<uint8_t*>(&r), reinterpret_cast<uint8_t*>(&r) + sizeof r));
  }

  size_t index = 0;
  for (size_t off = 0; off < size; off += chunk, ++index) {
    const size_t n = size - off < chunk ? size - off : chunk;
    if ((mode & 4) && index % 3 == 2) {
      std::vector<uint8_t> msg;
      if (NPC_F_PVM_MSG_BuildNetFrameData(&msg, NET_RECV_MEDIA_FRAME, media, kMediaEngine, data + off, n)) net(m, msg);
    } else {
      feed(m, media, kMediaEngine, data + off, n, backlog);
    }
    if ((mode & 8) && index == 0) {
      NPC_S_PVM_ORDER_BODY_SWITCH_CHANNEL sw{kCam, 2, 0xFFFF};
      order(m, ORDER_SWITCH_CHANNEL, &sw, sizeof sw);
    }
    if ((mode & 32) && off <= size / 2 && off + n > size / 2) {
      NPC_S_PVM_ORDER_BODY_CAMERA_ID c{kCam};
      order(m, ORDER_CLOSE_REALPLAY, &c, sizeof c);
    }
    if (mode & 16) m.NPC_F_PVM_Timer();
  }
  // The receive buffer never holds more than the resynchronisation bound allows.
  if (const auto* conn = m.NPC_F_PVM_QXSP_QueryConn(media)) check(conn->tRecvBuf.Len() <= size);
  m.NPC_F_PVM_UninitDevProtocolModule();
  return 0;
}
