// The QXSP module's session: dispatch of network messages and orders, framing of received bytes,
// the version consult and login, keep-alive, time-outs, connection loss and recovery.
#include "protocols/qxsp/qxsp_protocol.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "bus/pvm_result.h"
#include "bus/vcp.h"
#include "net/packet_ed.h"
#include "runtime/clock.h"
#include "runtime/log.h"
#include "runtime/text.h"

const NPC_S_PVM_DP_MODULE_DESC NPC_D_PVM_DP_QXSP_MODULE_DESC = {
    NPC_D_PVM_VENDOR_ID_QXSP,
    "QXSP",
    NPC_D_PVM_CAP_PAGED_REC_QUERY | NPC_D_PVM_CAP_ENCRYPT_TYPE,
    256,   // logical connections
    256,   // devices
    256,   // cameras per device
    1024,  // transactions
    NPC_D_PVM_DP_QXSP_TRANS_EXPIRE_SECS,
    4096,  // scratch buffer
};

namespace {

// Overwrites secrets so that they do not linger in freed memory.
void wipe(void* p, size_t n) {
  volatile uint8_t* v = static_cast<volatile uint8_t*>(p);
  for (size_t i = 0; i < n; ++i) v[i] = 0;
}

struct FreeDeleter {
  void operator()(unsigned char* p) const { NPC_F_ED_ReleasePacket(p); }
};

bool isMediaConnType(int t) {
  return t == NPC_D_PVM_DP_QXSP_LOGIN_CONN_TYPE_REALPLAY || t == NPC_D_PVM_DP_QXSP_LOGIN_CONN_TYPE_FILE_DOWN ||
         t == NPC_D_PVM_DP_QXSP_LOGIN_CONN_TYPE_TALK;
}

}  // namespace

NPC_S_PVM_DP_QXSP_DEV_DATA::~NPC_S_PVM_DP_QXSP_DEV_DATA() {
  wipe(sUserPwd, sizeof sUserPwd);
  wipe(szCustomData, sizeof szCustomData);
}

NPC_I_PVM_DevProtocol* NPC_F_PVM_DP_QXSP_Create() { return new (std::nothrow) NPC_C_PVM_DP_QXSP_Protocol(); }

void NPC_F_PVM_DP_QXSP_Destroy(NPC_I_PVM_DevProtocol* module) {
  delete static_cast<NPC_C_PVM_DP_QXSP_Protocol*>(module);
}

void NPC_F_PVM_DP_QXSP_SetEncryptType(NPC_I_PVM_DevProtocol* module, int iEncType) {
  if (module) static_cast<NPC_C_PVM_DP_QXSP_Protocol*>(module)->NPC_F_PVM_QXSP_SetEncryptType(iEncType);
}

NPC_C_PVM_DP_QXSP_Protocol::NPC_C_PVM_DP_QXSP_Protocol() : NPC_C_PVM_DP_ModuleBase(NPC_D_PVM_DP_QXSP_MODULE_DESC) {}

NPC_C_PVM_DP_QXSP_Protocol::~NPC_C_PVM_DP_QXSP_Protocol() {
  if (Ready()) NPC_F_PVM_UninitDevProtocolModule();
}

// ---------------------------------------------------------------------------------------------
// Interface.

int NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_InitDevProtocolModule(int vendorId, NPC_F_PVM_EVENT_CALLBACK callback,
                                                                 void* user) {
  if (Ready()) NPC_F_PVM_UninitDevProtocolModule();
  if (!BaseInit(vendorId, callback, user)) {
    NPC_F_LOG_SR_WriteLog("NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_InitDevProtocolModule malloc fail.", 2);
    return 0;
  }
  return 1;
}

// Deletes every device (closing its connections), then whatever connection is left, and the
// buffers and transactions. No callback follows.
void NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_UninitDevProtocolModule() {
  if (!Ready()) return;
  {
    NPC_C_PVM_DP_OpScope scope(this);
    ForEachDev([this](Dev* d) { NPC_F_PVM_QXSP_DeleteDev(d); });
    ForEachConn([this](Conn* c) { FreeConn(c, true); });
  }
  BaseUninit();
}

int NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_InputNetData(unsigned char* msg, int len) {
  if (!Ready()) return 0;
  NPC_C_PVM_DP_OpScope scope(this);
  NPC_S_PVM_NET_MSG_VIEW v;
  if (!NPC_F_PVM_MSG_ReadNetMsg(msg, len, &v)) {
    NPC_F_LOG_SR_WriteLog("NPC_F_PVM_InputNetData NPC_F_PVM_MSG_ReadNetMsg fail.", 2);
    return 0;
  }
  switch (v.tHead.iMsgId) {
    case NET_TCP_CONNECT:
      NPC_F_PVM_QXSP_DoNetData_NET_TCP_CONNECT(v);
      break;
    case NET_TCP_DISCONNECT:
      NPC_F_PVM_QXSP_DoNetData_NET_TCP_DISCONNECT(v);
      break;
    case NET_SEND_DATA:
      NPC_F_PVM_QXSP_DoNetData_NET_SEND_DATA(v);
      break;
    case NET_REDIRECT_DATA:
      NPC_F_PVM_QXSP_DoNetData_NET_REDIRECT_DATA(v);
      break;
    default:
      break;  // NET_OOB_RECV and codes this module does not take
  }
  return 1;
}

int NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_InputUpOrderData(unsigned char* msg, int len) {
  if (!Ready()) return 0;
  NPC_C_PVM_DP_OpScope scope(this);
  NPC_S_PVM_ORDER_MSG_VIEW v;
  if (!NPC_F_PVM_MSG_ReadOrderMsg(msg, len, &v)) {
    NPC_F_LOG_SR_WriteLog("NPC_F_PVM_InputUpOrderData NPC_F_PVM_MSG_ReadOrderMsg fail.", 2);
    return 0;
  }
  switch (v.tHead.iMsgId) {
    case ORDER_CAMERA_CONNECT:
      NPC_F_PVM_QXSP_DoOrderData_ORDER_CAMERA_CONNECT(msg, len, v);
      break;
    case ORDER_CAMERA_DISCONNECT:
      NPC_F_PVM_QXSP_DoOrderData_ORDER_CAMERA_DISCONNECT(msg, len, v);
      break;
    case ORDER_CAMERA_SWITCH_TRANS_MODE:
      NPC_F_PVM_QXSP_DoOrderData_ORDER_CAMERA_SWITCH_TRANS_MODE(msg, len, v);
      break;
    case ORDER_CAMERA_QUERY_CONN_MODE:
      NPC_F_PVM_QXSP_DoOrderData_ORDER_CAMERA_QUERY_CONN_MODE(msg, len, v);
      break;
    default:
      break;  // unknown here: dropped, the caller's wait ends by its time-out
  }
  return 1;
}

// One pass: the clock is read once; each device's timer, then its cameras' timers; then the
// transaction sweep (which runs at most once per second by itself).
int NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_Timer() {
  if (!Ready()) return 0;
  NPC_C_PVM_DP_OpScope scope(this);
  int64_t now = NPC_F_SYS_GetWallTime();
  ForEachDev([&](Dev* d) {
    NPC_F_PVM_QXSP_DoDevTimer(d, now);
    if (!DevAlive(d)) return;
    ForEachCamera(d, [&](Cam* c) { NPC_F_PVM_QXSP_DoCameraTimer(d, c, now); });
  });
  SweepTrans(now);
  return 1;
}

void NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_QXSP_SetEncryptType(int iEncType) {
  m_ucConsultOption.store(static_cast<uint8_t>(iEncType));
}

const NPC_S_PVM_DP_QXSP_DEV_DATA* NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_QXSP_QueryDevByCamera(
    uint32_t dwCameraConnId) const {
  Dev* d = nullptr;
  return FindCamera(dwCameraConnId, &d) ? d : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Network messages.

// The engine's answer to a NET_TCP_CONNECT request: stage 1 brings the engine's id, stage 2 the
// outcome. An answer for a connection the module has already let go is closed at once, so the
// engine does not keep a connection nobody reads.
void NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_QXSP_DoNetData_NET_TCP_CONNECT(const NPC_S_PVM_NET_MSG_VIEW& v) {
  NPC_S_PVM_NET_MSG_TCP_CONNECT m;
  if (!NPC_F_PVM_MSG_ReadNetFixed(v, &m)) {
    NPC_F_LOG_SR_WriteLog("NPC_F_PVM_QXSP_DoNetData_NET_TCP_CONNECT iMsgLen error.", 2);
    return;
  }
  if (m.tHead.iMsgType != NPC_D_PVM_NET_MSG_TYPE_RESPONSE) return;
  Conn* conn = QueryConn(m.dwProtConnId);
  if (!conn) {
    bool live = m.iAnswerStage == NPC_D_PVM_NET_CONN_STAGE_PROGRESS ||
                (m.iAnswerStage == NPC_D_PVM_NET_CONN_STAGE_FINAL && m.tHead.iResult == 0);
    if (live) SendNetTcpDisconnect(m.dwProtConnId, m.dwLogicTcpConnId);
    return;
  }
  switch (m.iAnswerStage) {
    case 0:
      NPC_F_LOG_SR_ShowInfo("NPC_F_PVM_QXSP_DoNetData_NET_TCP_CONNECT conn initialising.");
      return;
    case NPC_D_PVM_NET_CONN_STAGE_PROGRESS:
      conn->dwProTcpConnId = m.dwLogicTcpConnId;
      conn->bProTcpConnIdKnown = true;
      return;
    case NPC_D_PVM_NET_CONN_STAGE_FINAL:
      break;
    default:
      return;
  }
  if (m.tHead.iResult == 0 || !conn->bProTcpConnIdKnown) {
    conn->dwProTcpConnId = m.dwLogicTcpConnId;
    conn->bProTcpConnIdKnown = m.tHead.iResult == 0 || conn->bProTcpConnIdKnown;
  }
  switch (conn->iLogicConnType) {
    case NPC_D_PVM_DP_QXSP_LOGIN_CONN_TYPE_ORDER:
      NPC_F_PVM_QXSP_DoOrderConnResult(conn, m, m.tHead.iResult);
      break;
    case NPC_D_PVM_DP_QXSP_LOGIN_CONN_TYPE_SPARE:
      NPC_F_PVM_QXSP_DoSpareConnResult(conn, m.tHead.iResult);
      break;
    default:
      break;  // media connections belong to live view, playback and talk
  }
}

void NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_QXSP_DoOrderConnResult(Conn* conn, const NPC_S_PVM_NET_MSG_TCP_CONNECT& m,
                                                                 int32_t iResult) {
  Dev* dev = DevAt(conn->iDevIndex);
  if (!dev || dev->dwOrderProTcpConnId != conn->dwLogicConnId) return;
  if (dev->iDevLoginState != NPC_D_PVM_DP_QXSP_DEV_LOGIN_STATE_CONNECTING) return;
  int64_t now = NPC_F_SYS_GetWallTime();
  if (iResult != 0) {
    NPC_F_LOG_SR_WriteLog("Connect QXSP Order Channel Fail, Reason: Net Connect Fail.", 2);
    NPC_F_PVM_QXSP_AnswerConnectingCameras(dev, iResult, now);
    // The engine has finished this connection: free it without a disconnect.
    FreeConn(conn, false);
    dev->dwOrderProTcpConnId = 0;
    NPC_F_PVM_QXSP_DeleteDev(dev);
    return;
  }
  NPC_F_TEXT_CopyRaw(dev->sConnAddr, sizeof dev->sConnAddr, m.sConnIpaddr, sizeof m.sConnIpaddr);
  dev->usConnPort = m.usConnPort;
  dev->iConnMode = m.iConnMode;
  if (!NPC_F_PVM_QXSP_PRO_SendProData_P1_VER_CONSULT_GET_TOKEN(conn)) {
    NPC_F_LOG_SR_WriteLog("NPC_F_PVM_QXSP_DoNetData_NET_TCP_CONNECT NPC_F_PVM_QXSP_PRO_SendProData_P1_VER_CONSULT_GET_TOKEN fail.", 2);
    NPC_F_PVM_QXSP_AnswerConnectingCameras(dev, NPC_D_PVM_ERRORCODE_SYSTEM_ERROR, now);
    NPC_F_PVM_QXSP_DeleteDev(dev);
    return;
  }
  NPC_F_PVM_QXSP_SetLoginState(dev, NPC_D_PVM_DP_QXSP_DEV_LOGIN_STATE_WAIT_TOKEN_RESP, now);
}

void NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_QXSP_DoSpareConnResult(Conn* conn, int32_t iResult) {
  if (iResult != 0) {
    NPC_F_LOG_SR_WriteLog("[6]Connect QXSP Dev Spare Channel Fail.", 2);
    FreeConn(conn, false);
    return;
  }
  conn->bSpareReady = 1;
}

// The engine lost a connection. A media connection tells its camera (a notice, or 1005 for the
// order it waits on); the order connection tells every camera of the device; a spare connection
// has no camera and is only freed. The record goes without a disconnect back to the engine.
void NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_QXSP_DoNetData_NET_TCP_DISCONNECT(const NPC_S_PVM_NET_MSG_VIEW& v) {
  NPC_S_PVM_NET_MSG_CONN_IDS m;
  if (!NPC_F_PVM_MSG_ReadNetFixed(v, &m) || m.tHead.iMsgType != NPC_D_PVM_NET_MSG_TYPE_REQUEST) return;
  Conn* conn = QueryConn(m.dwProtConnId);
  if (!conn) return;
  Dev* dev = DevAt(conn->iDevIndex);
  int64_t now = NPC_F_SYS_GetWallTime();
  if (dev && conn->iLogicConnType == NPC_D_PVM_DP_QXSP_LOGIN_CONN_TYPE_ORDER &&
      dev->dwOrderProTcpConnId == conn->dwLogicConnId) {
    NPC_F_PVM_QXSP_NotifyOrderConnLost(dev, now);
    dev->dwOrderProTcpConnId = 0;
  } else if (dev && isMediaConnType(conn->iLogicConnType)) {
    Cam* cam = dev->tCameraTable.At(conn->iCameraIndex);
    if (cam && cam->dwMediaProTcpConnId == conn->dwLogicConnId) {
      if (!cam->tRequ.Has()) {
        SendNotifyDisconnect(cam->dwCameraConnId, NPC_D_PVM_DP_QXSP_DISCONN_CAUSE_MEDIA,
                             NPC_D_PVM_DP_QXSP_DISCONN_TEXT_MEDIA);
      } else {
        AnswerPending(&cam->tRequ, NPC_D_PVM_ERRORCODE_PEER_CONN_CLOSED);
      }
      cam->dwMediaProTcpConnId = 0;
    }
  }
  FreeConn(conn, false);
}

void NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_QXSP_DoNetData_NET_SEND_DATA(const NPC_S_PVM_NET_MSG_VIEW& v) {
  if (v.tHead.iMsgType != NPC_D_PVM_NET_MSG_TYPE_REQUEST ||
      v.iMsgLen <= static_cast<int32_t>(sizeof(NPC_S_PVM_NET_MSG_SEND_DATA))) {
    return;
  }
  NPC_S_PVM_NET_DATA_VIEW d;
  if (!NPC_F_PVM_MSG_ReadNetSendData(v, &d) || d.iDataLen <= 0) return;
  Conn* conn = QueryConn(d.dwProtConnId);
  if (!conn) return;
  if (!conn->tRecvBuf.Append(d.pData, static_cast<size_t>(d.iDataLen))) {
    // The stream has lost bytes: what is buffered can no longer be framed.
    NPC_F_LOG_SR_WriteLog("NPC_F_PVM_QXSP_DoRecvProData NPC_F_MEM_MG_AddDataToBuf fail.", 2);
    conn->tRecvBuf.Clear();
    return;
  }
  NPC_F_PVM_QXSP_DoRecvProData(conn);
}

void NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_QXSP_DoNetData_NET_REDIRECT_DATA(const NPC_S_PVM_NET_MSG_VIEW& v) {
  NPC_S_PVM_NET_MSG_CONN_IDS m;
  if (!NPC_F_PVM_MSG_ReadNetFixed(v, &m)) return;
  Conn* conn = QueryConn(m.dwProtConnId);
  if (conn) conn->tRecvBuf.Clear();
}

// ---------------------------------------------------------------------------------------------
// Received bytes.

// Cuts whole packets from the front of the connection's buffer and handles them in order. The
// start of the buffer must be the magic with a declared length of at least 20; anything else
// (garbage, a length of 0, a negative length) empties the whole buffer, as does a packet still
// incomplete when 10 MiB are buffered. A handler may free the connection (a failed login deletes
// the device): its record then stays readable until this operation ends, and framing stops.
void NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_QXSP_DoRecvProData(Conn* conn) {
  const uint32_t id = conn->dwLogicConnId;
  for (;;) {
    const uint8_t* data = conn->tRecvBuf.Data();
    size_t len = conn->tRecvBuf.Len();
    int32_t packetLen = 0;
    switch (NPC_F_PVM_QXSP_FrameNext(data, len, &packetLen)) {
      case NPC_D_PVM_DP_QXSP_FRAME_NEED_MORE:
        return;
      case NPC_D_PVM_DP_QXSP_FRAME_BAD_FLAG:
        NPC_F_LOG_SR_WriteLog("NPC_F_PVM_QXSP_DoRecvProData dwPacketFlag error.", 2);
        conn->tRecvBuf.Clear();
        return;
      case NPC_D_PVM_DP_QXSP_FRAME_BAD_LEN:
        NPC_F_LOG_SR_WriteLog("NPC_F_PVM_QXSP_DoRecvProData iPacketLen error.", 2);
        conn->tRecvBuf.Clear();
        return;
      case NPC_D_PVM_DP_QXSP_FRAME_TOO_LONG:
        NPC_F_LOG_SR_WriteLog("NPC_F_PVM_QXSP_DoRecvProData iProRecvDataLen error.", 2);
        conn->tRecvBuf.Clear();
        return;
      default:
        break;
    }
    NPC_F_PVM_QXSP_DoSingleProPacket(conn, data, packetLen);
    if (!ConnAlive(conn) || conn->dwLogicConnId != id) return;
    conn->tRecvBuf.Consume(static_cast<size_t>(packetLen));
  }
}

// One whole packet: decrypted when its type byte says so, then dispatched on its number.
void NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_QXSP_DoSingleProPacket(Conn* conn, const uint8_t* pkt, int len) {
  NPC_S_PVM_DP_QXSP_MSG_HEAD h;
  if (!NPC_F_PVM_QXSP_ReadHead(pkt, static_cast<size_t>(len), &h)) return;
  std::unique_ptr<unsigned char, FreeDeleter> plain;
  if (h.ucEncType != 0) {
    unsigned char* out = nullptr;
    int outLen = 0;
    int outType = 0;
    if (!NPC_F_ED_DecQxspPacket(pkt, len, &out, &outLen, &outType)) {
      NPC_F_LOG_SR_WriteLog("NPC_F_PVM_QXSP_DoSingleProPacket NPC_F_ED_DecQxspPacket fail.", 2);
      return;
    }
    if (out) {
      plain.reset(out);
      pkt = out;
      len = outLen;
      NPC_F_PVM_QXSP_ReadHead(pkt, static_cast<size_t>(len), &h);
    }
  }
  switch (h.usMsgFuncId) {
    case NPC_D_PVM_DP_QXSP_P0_HEARTBEAT:
      NPC_F_PVM_QXSP_DoProPacket_P0_HEARTBEAT(conn, pkt, len);
      return;
    case NPC_D_PVM_DP_QXSP_P1_VER_CONSULT_GET_TOKEN:
      NPC_F_PVM_QXSP_DoProPacket_P1_VER_CONSULT_GET_TOKEN(conn, pkt, len);
      return;
    case NPC_D_PVM_DP_QXSP_P1_LOGIN:
      NPC_F_PVM_QXSP_DoProPacket_P1_LOGIN(conn, pkt, len, false);
      return;
    case NPC_D_PVM_DP_QXSP_P1_LOGIN_CUSTOM:
      NPC_F_PVM_QXSP_DoProPacket_P1_LOGIN(conn, pkt, len, true);
      return;
    case NPC_D_PVM_DP_QXSP_P1_LOGOUT:
      return;
    case NPC_D_PVM_DP_QXSP_P1_CLAIM_CHANNEL:
      NPC_F_LOG_SR_ShowInfo("Recv QXSP Dev Message: Claim Channel Response Message.");
      return;
    default:
      break;
  }
  if (const char* op = NPC_F_PVM_QXSP_GetResultOnlyOpName(h.usMsgFuncId)) {
    NPC_F_PVM_QXSP_SendRespMsgToUp(h.dwTransId, h.ucResult, op);
    return;
  }
  if (!NPC_F_PVM_QXSP_GetMsgName(h.usMsgFuncId)) {
    NPC_F_LOG_SR_WriteLogF("NPC_F_PVM_QXSP_DoSingleProPacket usMsgFuncId error: %8.8x.", h.usMsgFuncId);
  }
  // Known numbers whose handlers belong to live view, playback, talk and configuration end here
  // until those handlers exist.
}

// A beat from the device, request or answer, renews the device's receive time; a request is
// echoed back as its answer.
void NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_QXSP_DoProPacket_P0_HEARTBEAT(Conn* conn, const uint8_t* pkt, int len) {
  Dev* dev = DevAt(conn->iDevIndex);
  if (!dev) return;
  dev->tLastBeatRecv = NPC_F_SYS_GetWallTime();
  if ((pkt[10] & NPC_D_PVM_DP_QXSP_FLAG_KIND_MASK) != NPC_D_PVM_DP_QXSP_FLAG_REQUEST) return;
  uint8_t* p = BeginNetSendData(static_cast<size_t>(len));
  if (!p) return;
  memcpy(p, pkt, static_cast<size_t>(len));
  p[10] = static_cast<uint8_t>((p[10] & ~NPC_D_PVM_DP_QXSP_FLAG_KIND_MASK) | NPC_D_PVM_DP_QXSP_FLAG_RESPONSE);
  p[16] = 0;
  NPC_F_PVM_QXSP_SendProDataAtTypeToUp(conn, p, len, 0);
}

// The version consult answer, on the order connection in state 2: a refusal answers the waiting
// cameras with 1001 and keeps the device; an answer too short to hold its fields is treated as a
// refusal with 2001. Otherwise the agreed version, login mode and encryption are stored and the
// login goes out.
void NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_QXSP_DoProPacket_P1_VER_CONSULT_GET_TOKEN(Conn* conn, const uint8_t* pkt,
                                                                                    int len) {
  Dev* dev = DevAt(conn->iDevIndex);
  if (!dev || conn->iLogicConnType != NPC_D_PVM_DP_QXSP_LOGIN_CONN_TYPE_ORDER ||
      dev->dwOrderProTcpConnId != conn->dwLogicConnId ||
      dev->iDevLoginState != NPC_D_PVM_DP_QXSP_DEV_LOGIN_STATE_WAIT_TOKEN_RESP) {
    return;
  }
  int64_t now = NPC_F_SYS_GetWallTime();
  NPC_S_PVM_DP_QXSP_VER_CONSULT_RESP r;
  NPC_F_PVM_QXSP_ReadVerConsultResp(pkt, static_cast<size_t>(len), &r);
  if (r.ucResult != 0) {
    NPC_F_LOG_SR_WriteLogF("Version Consult And Get Token Fail, Failure Code: %d.", r.ucResult);
    NPC_F_PVM_QXSP_AnswerConnectingCameras(dev, NPC_D_PVM_ERRORCODE_SYSTEM_ERROR, now);
    return;
  }
  if (!r.bComplete) {
    NPC_F_LOG_SR_WriteLog("NPC_F_PVM_QXSP_DoProPacket_P1_VER_CONSULT_GET_TOKEN iPacketLen error.", 2);
    NPC_F_PVM_QXSP_AnswerConnectingCameras(dev, NPC_D_PVM_ERRORCODE_PRO_PACKET_FORMAT_ERROR, now);
    return;
  }
  dev->usProVersion = r.usProVersion;
  dev->ucLoginMode = r.ucLoginMode;
  conn->iEncType = r.ucEncType;
  int ok = NPC_F_PVM_QXSP_PRO_SendProData_LOGIN(dev, conn, r.sToken);
  wipe(r.sToken, sizeof r.sToken);
  if (!ok) {
    NPC_F_LOG_SR_WriteLog("NPC_F_PVM_QXSP_DoProPacket_P1_VER_CONSULT_GET_TOKEN NPC_F_PVM_QXSP_PRO_SendProData_LOGIN fail.", 2);
    NPC_F_PVM_QXSP_AnswerConnectingCameras(dev, NPC_D_PVM_ERRORCODE_SYSTEM_ERROR, now);
    NPC_F_PVM_QXSP_DeleteDev(dev);
    return;
  }
  NPC_F_PVM_QXSP_SetLoginState(dev, NPC_D_PVM_DP_QXSP_DEV_LOGIN_STATE_WAIT_LOGIN_RESP, now);
}

// The login answer, on the order connection in state 3: the waiting cameras get the translated
// result; a failure (or a success too short to carry the session id: 2001) deletes the device.
void NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_QXSP_DoProPacket_P1_LOGIN(Conn* conn, const uint8_t* pkt, int len,
                                                                    bool bCustom) {
  Dev* dev = DevAt(conn->iDevIndex);
  if (!dev || conn->iLogicConnType != NPC_D_PVM_DP_QXSP_LOGIN_CONN_TYPE_ORDER ||
      dev->dwOrderProTcpConnId != conn->dwLogicConnId ||
      dev->iDevLoginState != NPC_D_PVM_DP_QXSP_DEV_LOGIN_STATE_WAIT_LOGIN_RESP) {
    return;
  }
  int64_t now = NPC_F_SYS_GetWallTime();
  NPC_S_PVM_DP_QXSP_LOGIN_RESP r;
  NPC_F_PVM_QXSP_ReadLoginResp(pkt, static_cast<size_t>(len), bCustom, &r);
  char text[128];
  int32_t code = NPC_F_PVM_QXSP_TransLoginResult(dev->usProVersion, r.ucResult, text, sizeof text);
  if (code == 0 && !r.bComplete) {
    code = NPC_D_PVM_ERRORCODE_PRO_PACKET_FORMAT_ERROR;
    NPC_F_TEXT_Copy(text, sizeof text, "Login Fail, Reason: Response Length Error.");
  }
  if (code != 0) {
    NPC_F_LOG_SR_WriteLog(text, 2);
    NPC_F_PVM_QXSP_AnswerConnectingCameras(dev, code, now);
    NPC_F_PVM_QXSP_DeleteDev(dev);
    return;
  }
  dev->dwLoginId = r.dwLoginId;
  NPC_F_TEXT_Copy(dev->sLoginText1, sizeof dev->sLoginText1, r.sText1);
  NPC_F_TEXT_Copy(dev->sLoginText2, sizeof dev->sLoginText2, r.sText2);
  NPC_F_TEXT_Copy(dev->sLoginText3, sizeof dev->sLoginText3, r.sText3);
  NPC_F_TEXT_Copy(dev->sLoginText4, sizeof dev->sLoginText4, r.sText4);
  NPC_F_TEXT_Copy(dev->sLoginText5, sizeof dev->sLoginText5, r.sText5);
  NPC_F_TEXT_Copy(dev->sLoginText6, sizeof dev->sLoginText6, r.sText6);
  NPC_F_TEXT_Copy(dev->sLoginText7, sizeof dev->sLoginText7, r.sText7);
  for (int i = 0; i < 8; ++i) dev->iAbility[i] = r.ucAbility[i];
  memcpy(dev->ucChannelInfo, r.ucChannelInfo, sizeof dev->ucChannelInfo);
  memcpy(dev->dwLoginValue, r.dwValue, sizeof dev->dwLoginValue);
  if (dev->usProVersion >= NPC_D_PVM_DP_QXSP_VER_0214 && strcmp(dev->szCustomId, "rqvl") == 0) {
    dev->iAbility[3] = 1;
    NPC_F_LOG_SR_ShowInfo("[RQVL]Force Open Speed Control Enable.");
  }
  NPC_F_PVM_QXSP_SetLoginState(dev, NPC_D_PVM_DP_QXSP_DEV_LOGIN_STATE_LOGINED, now);
  NPC_F_PVM_QXSP_AnswerConnectingCameras(dev, 0, now);
}

// ---------------------------------------------------------------------------------------------
// Orders.

// Camera connect: find the device record of the same login (unless it already serves this
// channel and stream) or make one, add the camera, and answer at once (logged in), wait for the
// login in progress, or start the login. A device whose order connection is gone logs in anew,
// since a login without its connection can neither finish nor serve the camera.
void NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_QXSP_DoOrderData_ORDER_CAMERA_CONNECT(uint8_t* msg, int len,
                                                                                const NPC_S_PVM_ORDER_MSG_VIEW& v) {
  NPC_S_PVM_ORDER_BODY_CAMERA_CONNECT body;
  if (!NPC_F_PVM_MSG_ReadOrderBody(v, &body)) {
    NPC_F_LOG_SR_WriteLog("NPC_F_PVM_QXSP_DoOrderData_ORDER_CAMERA_CONNECT iBodyLen error.", 2);
    AnswerOrder(msg, len, NPC_D_PVM_ERRORCODE_SYSTEM_ERROR);
    return;
  }
  struct Params {
    char sConnParam[sizeof(NPC_S_PVM_ORDER_BODY_CAMERA_CONNECT::sConnParam) + 1];
    char sDevId[64];
    char sHost[128];
    char sUser[64];
    char sPwd[64];
    int iVendorId, iPort, iChNo, iStreamNo;
  };
  auto* prm = reinterpret_cast<Params*>(Scratch());
  static_assert(sizeof(Params) <= 4096, "connect parameters fit the scratch buffer");
  memset(prm, 0, sizeof *prm);
  NPC_F_TEXT_CopyRaw(prm->sConnParam, sizeof prm->sConnParam, body.sConnParam, sizeof body.sConnParam);
  int parsed = NPC_F_MPI_MON_VCP_P2PGeneral_GetConnParam(
      prm->sConnParam, &prm->iVendorId, prm->sDevId, sizeof prm->sDevId, prm->sHost, sizeof prm->sHost,
      &prm->iPort, prm->sUser, sizeof prm->sUser, prm->sPwd, sizeof prm->sPwd, &prm->iChNo, &prm->iStreamNo);
  if (!parsed || prm->iPort < 0 || prm->iPort > 0xFFFF) {
    NPC_F_LOG_SR_WriteLog("NPC_F_PVM_QXSP_DoOrderData_ORDER_CAMERA_CONNECT NPC_F_MPI_MON_VCP_P2PGeneral_GetConnParam fail.", 2);
    wipe(prm, sizeof *prm);
    wipe(body.szCustomData, sizeof body.szCustomData);
    AnswerOrder(msg, len, NPC_D_PVM_ERRORCODE_SYSTEM_ERROR);
    return;
  }
  // The record's fields bound what identifies a login; compare what they can hold.
  Dev probe;
  NPC_F_TEXT_CopyRaw(probe.sDevId, sizeof probe.sDevId, prm->sDevId, sizeof prm->sDevId);
  NPC_F_TEXT_CopyRaw(probe.sDevAddr, sizeof probe.sDevAddr, prm->sHost, sizeof prm->sHost);
  NPC_F_TEXT_CopyRaw(probe.sUserName, sizeof probe.sUserName, prm->sUser, sizeof prm->sUser);
  NPC_F_TEXT_CopyRaw(probe.sUserPwd, sizeof probe.sUserPwd, prm->sPwd, sizeof prm->sPwd);
  probe.usDevPort = static_cast<uint16_t>(prm->iPort);
  const int iChNo = prm->iChNo;
  const int iStreamNo = prm->iStreamNo;
  wipe(prm, sizeof *prm);

  Dev* dev = nullptr;
  ForEachDev([&](Dev* d) {
    if (dev || strcmp(d->sDevId, probe.sDevId) != 0 || strcmp(d->sDevAddr, probe.sDevAddr) != 0 ||
        d->usDevPort != probe.usDevPort || strcmp(d->sUserName, probe.sUserName) != 0 ||
        strcmp(d->sUserPwd, probe.sUserPwd) != 0) {
      return;
    }
    bool busy = false;
    ForEachCamera(d, [&](Cam* c) { busy = busy || (c->iChNo == iChNo && c->iStreamNo == iStreamNo); });
    if (!busy) dev = d;
  });
  bool bNewDev = false;
  if (!dev) {
    dev = CreateDev();
    if (!dev) {
      NPC_F_LOG_SR_WriteLog("NPC_F_PVM_QXSP_DoOrderData_ORDER_CAMERA_CONNECT NPC_F_PVM_QXSP_CreateDevData fail.", 2);
      wipe(body.szCustomData, sizeof body.szCustomData);
      AnswerOrder(msg, len, NPC_D_PVM_ERRORCODE_SYSTEM_ERROR);
      return;
    }
    bNewDev = true;
    memcpy(dev->sDevId, probe.sDevId, sizeof dev->sDevId);
    memcpy(dev->sDevAddr, probe.sDevAddr, sizeof dev->sDevAddr);
    memcpy(dev->sUserName, probe.sUserName, sizeof dev->sUserName);
    memcpy(dev->sUserPwd, probe.sUserPwd, sizeof dev->sUserPwd);
    dev->usDevPort = probe.usDevPort;
  }
  NPC_F_TEXT_CopyRaw(dev->szCustomId, sizeof dev->szCustomId, body.szCustomId, sizeof body.szCustomId);
  NPC_F_TEXT_CopyRaw(dev->szCustomText, sizeof dev->szCustomText, body.szCustomText, sizeof body.szCustomText);
  NPC_F_TEXT_CopyRaw(dev->szCustomData, sizeof dev->szCustomData, body.szCustomData, sizeof body.szCustomData);
  wipe(body.szCustomData, sizeof body.szCustomData);
  dev->iClientFlag = body.iClientFlag;
  dev->iCustomNum = body.iCustomNum;
  dev->iConnectMode = body.iConnectMode;

  int64_t now = NPC_F_SYS_GetWallTime();
  Cam* cam = CreateCamera(dev);
  if (!cam || !cam->tRequ.Keep(msg, len)) {
    NPC_F_LOG_SR_WriteLog("NPC_F_PVM_QXSP_DoOrderData_ORDER_CAMERA_CONNECT NPC_F_PVM_QXSP_CreateCameraData fail.", 2);
    if (cam) ReleaseCamera(dev, cam);
    if (bNewDev) NPC_F_PVM_QXSP_DeleteDev(dev);
    AnswerOrder(msg, len, NPC_D_PVM_ERRORCODE_SYSTEM_ERROR);
    return;
  }
  cam->iChNo = iChNo;
  cam->iStreamNo = iStreamNo;
  cam->dwCameraConnId = body.dwCameraConnId;
  cam->iTransMode = body.iMediaTransMode;
  cam->iConnState = NPC_D_PVM_DP_CAMERA_CONN_STATE_CONNECTING;
  cam->tConnStateTime = now;
  const bool bSpare = body.dwSpareConnFlag != 0;

  Conn* order = NPC_F_PVM_QXSP_OrderConn(dev);
  if (dev->iDevLoginState != NPC_D_PVM_DP_QXSP_DEV_LOGIN_STATE_IDLE && !order) {
    NPC_F_LOG_SR_ShowInfo("NPC_F_PVM_QXSP_DoOrderData_ORDER_CAMERA_CONNECT order channel lost, login again.");
    NPC_F_PVM_QXSP_SetLoginState(dev, NPC_D_PVM_DP_QXSP_DEV_LOGIN_STATE_IDLE, now);
  }
  switch (dev->iDevLoginState) {
    case NPC_D_PVM_DP_QXSP_DEV_LOGIN_STATE_LOGINED:
      cam->iConnState = NPC_D_PVM_DP_CAMERA_CONN_STATE_CONNECTED;
      AnswerPending(&cam->tRequ, 0);
      if (bSpare) NPC_F_PVM_QXSP_StartSpareConn(dev);
      return;
    case NPC_D_PVM_DP_QXSP_DEV_LOGIN_STATE_IDLE:
      if (!NPC_F_PVM_QXSP_StartDevLoginFlow(dev)) {
        NPC_F_LOG_SR_WriteLog("NPC_F_PVM_QXSP_DoOrderData_ORDER_CAMERA_CONNECT NPC_F_PVM_QXSP_StartDevLoginFlow fail.", 2);
        AnswerPending(&cam->tRequ, NPC_D_PVM_ERRORCODE_SYSTEM_ERROR);
        NPC_F_PVM_QXSP_DeleteCamera(dev, cam, true);
        return;
      }
      if (bSpare) NPC_F_PVM_QXSP_StartSpareConn(dev);
      return;
    default:
      return;  // the login in progress answers the camera
  }
}

void NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_QXSP_DoOrderData_ORDER_CAMERA_DISCONNECT(uint8_t* msg, int len,
                                                                                   const NPC_S_PVM_ORDER_MSG_VIEW& v) {
  NPC_S_PVM_ORDER_BODY_CAMERA_ID body;
  if (NPC_F_PVM_MSG_ReadOrderBody(v, &body)) {
    Dev* dev = nullptr;
    if (Cam* cam = FindCamera(body.dwCameraConnId, &dev)) NPC_F_PVM_QXSP_DeleteCamera(dev, cam, true);
  }
  AnswerOrder(msg, len, 0);
}

void NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_QXSP_DoOrderData_ORDER_CAMERA_SWITCH_TRANS_MODE(
    uint8_t* msg, int len, const NPC_S_PVM_ORDER_MSG_VIEW& v) {
  NPC_S_PVM_ORDER_BODY_CAMERA_SWITCH_TRANS_MODE body;
  Dev* dev = nullptr;
  Cam* cam = NPC_F_PVM_MSG_ReadOrderBody(v, &body) ? FindCamera(body.dwCameraConnId, &dev) : nullptr;
  if (!cam) {
    AnswerOrder(msg, len, NPC_D_PVM_ERRORCODE_SYSTEM_ERROR);
    return;
  }
  cam->iTransMode = body.iMediaTransMode;
  Conn* media = cam->dwMediaProTcpConnId ? QueryConn(cam->dwMediaProTcpConnId) : nullptr;
  if (media && media->bProTcpConnIdKnown) {
    SendNetSwitchMediaTransMode(media->dwLogicConnId, media->dwProTcpConnId, body.iMediaTransMode);
  }
  AnswerOrder(msg, len, 0);
}

void NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_QXSP_DoOrderData_ORDER_CAMERA_QUERY_CONN_MODE(
    uint8_t* msg, int len, const NPC_S_PVM_ORDER_MSG_VIEW& v) {
  // An unknown camera, or a body too short for the answer field, gets its order back unchanged.
  NPC_S_PVM_ORDER_BODY_CAMERA_QUERY_CONN_MODE body;
  Dev* dev = nullptr;
  if (NPC_F_PVM_MSG_ReadOrderBody(v, &body) && FindCamera(body.dwCameraConnId, &dev)) {
    int32_t mode = dev->iConnMode;
    memcpy(msg + NPC_D_PVM_ORDER_MSG_HEAD_LEN + offsetof(NPC_S_PVM_ORDER_BODY_CAMERA_QUERY_CONN_MODE, iConnMode), &mode,
           sizeof mode);
  }
  AnswerOrder(msg, len, 0);
}

// ---------------------------------------------------------------------------------------------
// Sending.

int NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_QXSP_PRO_SendProDataToDev(Conn* conn, uint16_t usMsgFuncId,
                                                                    uint32_t dwTransId, const void* part1, int len1,
                                                                    const void* part2, int len2) {
  if (len1 < 0 || len2 < 0 || (len1 && !part1) || (len2 && !part2)) return 0;
  int64_t total = int64_t{NPC_D_PVM_DP_QXSP_HEAD_LEN} + len1 + len2;
  if (total > INT32_MAX / 2) return 0;
  uint8_t* p = BeginNetSendData(static_cast<size_t>(total));
  if (!p) return 0;
  NPC_F_PVM_QXSP_PutHead(p, usMsgFuncId, static_cast<int32_t>(total), dwTransId);
  if (len1) memcpy(p + NPC_D_PVM_DP_QXSP_HEAD_LEN, part1, static_cast<size_t>(len1));
  if (len2) memcpy(p + NPC_D_PVM_DP_QXSP_HEAD_LEN + len1, part2, static_cast<size_t>(len2));
  return NPC_F_PVM_QXSP_SendProDataAtTypeToUp(conn, p, static_cast<int>(total), 0);
}

// The packet lies in the send area; a connection that encrypts runs it through the QXSP packet
// encryptor (which leaves the commands off its list plain) and the result replaces it there.
int NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_QXSP_SendProDataAtTypeToUp(Conn* conn, uint8_t* packet, int len,
                                                                     int32_t iDataType) {
  if (!conn || !ConnAlive(conn) || !conn->bProTcpConnIdKnown) return 0;
  if (conn->iEncType != 0) {
    unsigned char* out = nullptr;
    int outLen = 0;
    if (!NPC_F_ED_EncQxspPacket(packet, len, conn->iEncType, &out, &outLen)) {
      NPC_F_LOG_SR_WriteLog("NPC_F_PVM_QXSP_SendProDataAtTypeToUp NPC_F_ED_EncQxspPacket fail.", 2);
      return 0;
    }
    if (out) {
      std::unique_ptr<unsigned char, FreeDeleter> hold(out);
      return SendNetSendData(conn->dwLogicConnId, conn->dwProTcpConnId, iDataType, out, static_cast<size_t>(outLen));
    }
  }
  return EndNetSendData(conn->dwLogicConnId, conn->dwProTcpConnId, iDataType, static_cast<size_t>(len));
}

int NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_QXSP_PRO_SendProData_P0_HEARTBEAT(Conn* conn) {
  uint8_t* p = BeginNetSendData(NPC_D_PVM_DP_QXSP_HEARTBEAT_LEN);
  if (!p) return 0;
  NPC_F_PVM_QXSP_PutHeartbeat(p);
  return NPC_F_PVM_QXSP_SendProDataAtTypeToUp(conn, p, NPC_D_PVM_DP_QXSP_HEARTBEAT_LEN, 0);
}

int NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_QXSP_PRO_SendProData_P1_VER_CONSULT_GET_TOKEN(Conn* conn) {
  uint8_t* p = BeginNetSendData(NPC_D_PVM_DP_QXSP_VER_CONSULT_LEN);
  if (!p) return 0;
  NPC_F_PVM_QXSP_PutVerConsult(p, NPC_D_PVM_DP_QXSP_OFFER_VERSIONS, NPC_D_PVM_DP_QXSP_OFFER_VERSION_NUM,
                               m_ucConsultOption.load());
  return NPC_F_PVM_QXSP_SendProDataAtTypeToUp(conn, p, NPC_D_PVM_DP_QXSP_VER_CONSULT_LEN, 0);
}

// The login message the device's version and custom id call for, with its digest.
int NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_QXSP_PRO_SendProData_LOGIN(Dev* dev, Conn* conn, const char* sToken) {
  int kind = NPC_F_PVM_QXSP_ChooseLoginKind(dev->usProVersion, dev->szCustomId, dev->iCustomNum);
  char digest[33];
  if (kind == NPC_D_PVM_DP_QXSP_LOGIN_KIND_EMPTY_PWD) {
    // Login mode 0 and an empty password: the digest is over the token and ":" alone.
    NPC_F_PVM_QXSP_MakeLoginDigest(sToken, "", 0, 0, digest);
  } else {
    NPC_F_PVM_QXSP_MakeLoginDigest(sToken, dev->sUserPwd, dev->iClientFlag, dev->ucLoginMode, digest);
  }
  int ok = 0;
  if (kind == NPC_D_PVM_DP_QXSP_LOGIN_KIND_CUSTOM) {
    size_t n = strnlen(dev->szCustomData, sizeof dev->szCustomData);
    uint8_t* p = BeginNetSendData(NPC_D_PVM_DP_QXSP_LOGIN_CUSTOM_FIXED_LEN + n);
    if (p) {
      NPC_F_PVM_QXSP_PutLoginCustom(p, dev->sUserName, digest, dev->iCustomNum, dev->szCustomData,
                                    static_cast<uint32_t>(n));
      ok = NPC_F_PVM_QXSP_SendProDataAtTypeToUp(conn, p, static_cast<int>(NPC_D_PVM_DP_QXSP_LOGIN_CUSTOM_FIXED_LEN + n), 0);
    }
  } else {
    uint8_t* p = BeginNetSendData(NPC_D_PVM_DP_QXSP_LOGIN_LEN);
    if (p) {
      NPC_F_PVM_QXSP_PutLogin(p, dev->sUserName, digest);
      ok = NPC_F_PVM_QXSP_SendProDataAtTypeToUp(conn, p, NPC_D_PVM_DP_QXSP_LOGIN_LEN, 0);
    }
  }
  wipe(digest, sizeof digest);
  return ok;
}

// Translates a result-only answer and hands the order of its transaction up with that result.
void NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_QXSP_SendRespMsgToUp(uint32_t dwTransId, uint8_t ucResult,
                                                                const char* sOpName) {
  char text[64];
  int32_t code = NPC_F_PVM_QXSP_TransProErrorCode(ucResult, sizeof text, text);
  NPC_F_LOG_SR_ShowInfoF("QXSP Pro Response: %s，Result: %s.", sOpName ? sOpName : "", text);
  NPC_S_PVM_DP_TRANS_DATA* t = QueryTrans(dwTransId);
  if (!t) {
    NPC_F_LOG_SR_WriteLog("NPC_F_PVM_QXSP_SendRespMsgToUp NPC_F_PVM_QXSP_QueryTransDataByTransId fail.", 2);
    return;
  }
  if (t->tRequ.Has()) AnswerPending(&t->tRequ, code);
  DeleteTrans(dwTransId);
}

// ---------------------------------------------------------------------------------------------
// Flows and records.

// Requests the order connection with the connect mode of the connect order and enters state 1.
int NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_QXSP_StartDevLoginFlow(Dev* dev) {
  Conn* conn = CreateConn(NPC_D_PVM_DP_QXSP_LOGIN_CONN_TYPE_ORDER, dev->iDevIndex, 0);
  if (!conn) return 0;
  NPC_S_PVM_DP_CONN_TARGET t;
  t.sDevId = dev->sDevId;
  t.sDevAddr = dev->sDevAddr;
  t.usDevPort = dev->usDevPort;
  t.ucConnFlags = NPC_F_PVM_MSG_MakeConnFlags(dev->iConnectMode, false, 0);
  dev->dwOrderProTcpConnId = conn->dwLogicConnId;
  dev->tLastBeatRecv = 0;
  dev->tLastBeatSend = 0;
  NPC_F_PVM_QXSP_SetLoginState(dev, NPC_D_PVM_DP_QXSP_DEV_LOGIN_STATE_CONNECTING, NPC_F_SYS_GetWallTime());
  if (!SendNetTcpConnect(t, conn->dwLogicConnId)) {
    FreeConn(conn, false);
    dev->dwOrderProTcpConnId = 0;
    NPC_F_PVM_QXSP_SetLoginState(dev, NPC_D_PVM_DP_QXSP_DEV_LOGIN_STATE_IDLE, NPC_F_SYS_GetWallTime());
    return 0;
  }
  return 1;
}

int NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_QXSP_StartSpareConn(Dev* dev) {
  Conn* conn = CreateConn(NPC_D_PVM_DP_QXSP_LOGIN_CONN_TYPE_SPARE, dev->iDevIndex, 0);
  if (!conn) {
    NPC_F_LOG_SR_WriteLog("NPC_F_PVM_QXSP_StartSpareConn NPC_F_PVM_QXSP_CreateLogicTcpConnData fail.", 2);
    return 0;
  }
  NPC_S_PVM_DP_CONN_TARGET t;
  t.sDevId = dev->sDevId;
  t.sDevAddr = dev->sDevAddr;
  t.usDevPort = dev->usDevPort;
  t.ucConnFlags = NPC_F_PVM_MSG_MakeConnFlags(dev->iConnectMode, false, 0);
  if (!SendNetTcpConnect(t, conn->dwLogicConnId)) {
    FreeConn(conn, false);
    return 0;
  }
  return 1;
}

NPC_S_PVM_DP_QXSP_LOGIC_TCP_CONN_DATA* NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_QXSP_StartMediaConn(Dev* dev, Cam* cam,
                                                                                            int iType) {
  Conn* conn = CreateConn(iType, dev->iDevIndex, cam->iCameraIndex);
  if (!conn) {
    NPC_F_LOG_SR_WriteLog("NPC_F_PVM_QXSP_StartMediaConn NPC_F_PVM_QXSP_CreateLogicTcpConnData fail.", 2);
    return nullptr;
  }
  NPC_S_PVM_DP_CONN_TARGET t;
  t.sDevId = dev->sDevId;
  t.sDevAddr = dev->sDevAddr;
  t.usDevPort = dev->usDevPort;
  t.ucConnFlags = NPC_F_PVM_MSG_MakeConnFlags(cam->iTransMode, false, 0);
  if (!SendNetTcpConnect(t, conn->dwLogicConnId)) {
    FreeConn(conn, false);
    return nullptr;
  }
  cam->dwMediaProTcpConnId = conn->dwLogicConnId;
  return conn;
}

void NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_QXSP_SetLoginState(Dev* dev, int iState, int64_t now) {
  dev->iDevLoginState = iState;
  dev->tLoginStateTime = now;
}

void NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_QXSP_AnswerConnectingCameras(Dev* dev, int32_t iResult, int64_t now) {
  ForEachCamera(dev, [&](Cam* c) {
    if (c->iConnState != NPC_D_PVM_DP_CAMERA_CONN_STATE_CONNECTING) return;
    c->iConnState = iResult == 0 ? NPC_D_PVM_DP_CAMERA_CONN_STATE_CONNECTED : NPC_D_PVM_DP_CAMERA_CONN_STATE_IDLE;
    c->tConnStateTime = now;
    AnswerPending(&c->tRequ, iResult);
  });
}

void NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_QXSP_NotifyOrderConnLost(Dev* dev, int64_t now) {
  ForEachCamera(dev, [&](Cam* c) {
    if (c->iConnState == NPC_D_PVM_DP_CAMERA_CONN_STATE_CONNECTING) {
      c->iConnState = NPC_D_PVM_DP_CAMERA_CONN_STATE_IDLE;
      c->tConnStateTime = now;
      AnswerPending(&c->tRequ, NPC_D_PVM_ERRORCODE_PEER_CONN_CLOSED);
    } else if (c->iConnState == NPC_D_PVM_DP_CAMERA_CONN_STATE_CONNECTED) {
      SendNotifyDisconnect(c->dwCameraConnId, NPC_D_PVM_DP_QXSP_DISCONN_CAUSE_ORDER,
                           NPC_D_PVM_DP_QXSP_DISCONN_TEXT_ORDER);
    }
  });
}

// Deleting a camera closes its own media connections (never the device's order or spare
// connections, which carry camera index 0 as well) and, when it was the device's last camera
// and bDeleteEmptyDev is set, the device.
void NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_QXSP_DeleteCamera(Dev* dev, Cam* cam, bool bDeleteEmptyDev) {
  ForEachConn([&](Conn* c) {
    if (c->iDevIndex == dev->iDevIndex && c->iCameraIndex == cam->iCameraIndex && isMediaConnType(c->iLogicConnType)) {
      FreeConn(c, true);
    }
  });
  cam->dwMediaProTcpConnId = 0;
  ReleaseCamera(dev, cam);
  if (bDeleteEmptyDev && dev->tCameraTable.Count() == 0) NPC_F_PVM_QXSP_DeleteDev(dev);
}

// Deleting a device closes every connection it owns (order, spare and media), deletes its
// cameras and frees the record.
void NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_QXSP_DeleteDev(Dev* dev) {
  if (!DevAlive(dev)) return;
  ForEachConn([&](Conn* c) {
    if (c->iDevIndex == dev->iDevIndex) FreeConn(c, true);
  });
  dev->dwOrderProTcpConnId = 0;
  ForEachCamera(dev, [&](Cam* c) { NPC_F_PVM_QXSP_DeleteCamera(dev, c, false); });
  ReleaseDev(dev);
}

NPC_S_PVM_DP_QXSP_LOGIC_TCP_CONN_DATA* NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_QXSP_OrderConn(Dev* dev) const {
  if (!dev->dwOrderProTcpConnId) return nullptr;
  Conn* c = QueryConn(dev->dwOrderProTcpConnId);
  return c && c->iDevIndex == dev->iDevIndex && c->iLogicConnType == NPC_D_PVM_DP_QXSP_LOGIN_CONN_TYPE_ORDER ? c
                                                                                                            : nullptr;
}

// The device's time rules: heartbeats and their time-out while logged in, and the time-outs of
// the connect (state 1) and the login answer (state 3). The version consult (state 2) has no
// limit of its own; the cameras' connect time-out covers it.
void NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_QXSP_DoDevTimer(Dev* dev, int64_t now) {
  switch (dev->iDevLoginState) {
    case NPC_D_PVM_DP_QXSP_DEV_LOGIN_STATE_LOGINED:
      if (dev->tLastBeatRecv > 0 && now - dev->tLastBeatRecv >= NPC_D_PVM_DP_QXSP_HEARTBEAT_TIMEOUT_SECS) {
        NPC_F_LOG_SR_WriteLog("QXSP Dev HearBeat TimeOut.", 2);
        NPC_F_PVM_QXSP_NotifyOrderConnLost(dev, now);
        NPC_F_PVM_QXSP_DeleteDev(dev);
        return;
      }
      if (now - dev->tLastBeatSend >= NPC_D_PVM_DP_QXSP_HEARTBEAT_INTERVAL_SECS) {
        dev->tLastBeatSend = now;
        if (Conn* order = NPC_F_PVM_QXSP_OrderConn(dev)) NPC_F_PVM_QXSP_PRO_SendProData_P0_HEARTBEAT(order);
        ForEachCamera(dev, [&](Cam* c) {
          Conn* media = c->dwMediaProTcpConnId ? QueryConn(c->dwMediaProTcpConnId) : nullptr;
          if (media) NPC_F_PVM_QXSP_PRO_SendProData_P0_HEARTBEAT(media);
        });
      }
      return;
    case NPC_D_PVM_DP_QXSP_DEV_LOGIN_STATE_WAIT_LOGIN_RESP:
      if (now - dev->tLoginStateTime >= NPC_D_PVM_DP_QXSP_LOGIN_TIMEOUT_SECS) {
        NPC_F_LOG_SR_WriteLog("QXSP Dev Login Response TimeOut.", 2);
        NPC_F_PVM_QXSP_AnswerConnectingCameras(dev, NPC_D_PVM_ERRORCODE_LOGIN_DEV_TIMEOUT, now);
        NPC_F_PVM_QXSP_DeleteDev(dev);
      }
      return;
    case NPC_D_PVM_DP_QXSP_DEV_LOGIN_STATE_CONNECTING:
      if (now - dev->tLoginStateTime >= NPC_D_PVM_DP_QXSP_LOGIN_TIMEOUT_SECS) {
        NPC_F_LOG_SR_WriteLog("QXSP Dev Connect TimeOut.", 2);
        NPC_F_PVM_QXSP_AnswerConnectingCameras(dev, NPC_D_PVM_ERRORCODE_NET_CONN_TIMEOUT, now);
        NPC_F_PVM_QXSP_DeleteDev(dev);
      }
      return;
    default:
      return;
  }
}

void NPC_C_PVM_DP_QXSP_Protocol::NPC_F_PVM_QXSP_DoCameraTimer(Dev* /*dev*/, Cam* cam, int64_t now) {
  if (cam->iConnState == NPC_D_PVM_DP_CAMERA_CONN_STATE_CONNECTING &&
      now - cam->tConnStateTime > NPC_D_PVM_DP_QXSP_CAMERA_CONN_TIMEOUT_SECS) {
    cam->iConnState = NPC_D_PVM_DP_CAMERA_CONN_STATE_IDLE;
    cam->tConnStateTime = now;
    AnswerPending(&cam->tRequ, NPC_D_PVM_ERRORCODE_NET_CONN_TIMEOUT);
  }
}
