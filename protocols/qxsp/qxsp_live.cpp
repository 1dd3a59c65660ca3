// Live view of the QXSP module: the realplay flow (open over a new media connection or a spare
// connection taken over, switch, close), the device's video and audio packets turned into
// ORDER_MEDIA_DATA notices, frames that arrived over UDP, the live-view control orders (forced
// I-frame, I-frame-only, stream control, video quality, channel and stream query) and the
// defence against a backlog on a realplay connection (cache clear, reopen marker, search for a
// packet boundary, next I-frame).
//
// Everything runs on the engine's work thread, inside the module's five operations.
#include <cstring>

#include "bus/pvm_result.h"
#include "protocols/qxsp/qxsp_protocol.h"
#include "runtime/clock.h"
#include "runtime/log.h"

namespace {

// The module's media notice buffer is given back after a frame larger than this.
constexpr size_t kMediaMsgKeepCap = 4u << 20;

constexpr int kVideoQualityCapOrderLen = NPC_D_PVM_ORDER_MSG_HEAD_LEN + 232;  // 256
constexpr int kVideoQualityLevelOrderLen = NPC_D_PVM_ORDER_MSG_HEAD_LEN + 8;  // 32

void putOrderU16(uint8_t* msg, int offset, uint16_t v) {
  msg[offset] = static_cast<uint8_t>(v);
  msg[offset + 1] = static_cast<uint8_t>(v >> 8);
}
void putOrderI32(uint8_t* msg, int offset, int32_t v) { memcpy(msg + offset, &v, sizeof v); }

// The order code of a kept order (0 when none is kept).
int32_t keptOrderCode(const NPC_S_PVM_DP_PENDING_ORDER& requ) {
  if (!requ.Has() || requ.iRequDataLen < NPC_D_PVM_ORDER_MSG_HEAD_LEN) return 0;
  int32_t code = 0;
  memcpy(&code, requ.pRequDataBuf, sizeof code);
  return code;
}

bool isMediaType(int t) {
  return t == NPC_D_PVM_DP_QXSP_LOGIN_CONN_TYPE_REALPLAY || t == NPC_D_PVM_DP_QXSP_LOGIN_CONN_TYPE_FILE_DOWN ||
         t == NPC_D_PVM_DP_QXSP_LOGIN_CONN_TYPE_TALK;
}

}  // namespace

using Self = NPC_C_PVM_DP_QXSP_Protocol;

// ---------------------------------------------------------------------------------------------
// Records and flows.

NPC_S_PVM_DP_QXSP_CAMERA_DATA* Self::NPC_F_PVM_QXSP_RealplayCamera(const Conn* conn, Dev** outDev) const {
  if (!conn || conn->dwLogicConnId == 0 || conn->iLogicConnType != NPC_D_PVM_DP_QXSP_LOGIN_CONN_TYPE_REALPLAY) {
    return nullptr;
  }
  Dev* dev = DevAt(conn->iDevIndex);
  if (!dev) return nullptr;
  Cam* cam = dev->tCameraTable.At(conn->iCameraIndex);
  if (!cam || cam->dwMediaProTcpConnId != conn->dwLogicConnId) return nullptr;
  if (outDev) *outDev = dev;
  return cam;
}

void Self::NPC_F_PVM_QXSP_SetRealplayState(Cam* cam, int iState, int64_t now) {
  cam->iRealplayFlowState = iState;
  cam->tConnStateTime = now;
}

// A spare connection of the device that is established is taken over as the camera's media
// connection and the open request goes out on it at once; otherwise a new media connection is
// requested and the open waits for it. Either way the camera works in realplay mode from here.
int Self::NPC_F_PVM_QXSP_StartCameraRealplayFlow(Dev* dev, Cam* cam, int64_t now) {
  cam->bGotIFrame = 0;
  cam->bResync = 0;
  cam->bCacheCleared = 0;
  cam->dwMediaSessionId = 0;
  cam->dwCloseTransId = 0;
  cam->iFrameRate = 0;
  cam->iGop = 0;
  cam->iAvgFrameSize = 0;
  cam->iFramesSinceI = 0;
  cam->iBytesSinceI = 0;
  Conn* spare = nullptr;
  ForEachConn([&](Conn* c) {
    if (!spare && c->iDevIndex == dev->iDevIndex && c->iLogicConnType == NPC_D_PVM_DP_QXSP_LOGIN_CONN_TYPE_SPARE &&
        c->bSpareReady && c->bProTcpConnIdKnown) {
      spare = c;
    }
  });
  if (spare) {
    spare->iLogicConnType = NPC_D_PVM_DP_QXSP_LOGIN_CONN_TYPE_REALPLAY;
    spare->iCameraIndex = cam->iCameraIndex;
    spare->bSpareReady = 0;
    cam->dwMediaProTcpConnId = spare->dwLogicConnId;
    cam->iCameraWorkMode = NPC_D_PVM_DP_QXSP_CAMERA_WORK_MODE_REALPLAY;
    NPC_F_LOG_SR_ShowInfoF("Switch QXSP Dev Spare to Media CHannel Success [0]   %.8x ", spare->dwLogicConnId);
    if (!NPC_F_PVM_QXSP_PRO_SendProData_P2_REALPLAY_OPEN(dev, cam, spare)) {
      NPC_F_PVM_QXSP_StopCameraRealplayFlow(dev, cam, true);
      return 0;
    }
    NPC_F_PVM_QXSP_SetRealplayState(cam, NPC_D_PVM_DP_QXSP_REALPLAY_FLOW_STATE_WAIT_OPEN_RESP, now);
    return 1;
  }
  if (!NPC_F_PVM_QXSP_StartMediaConn(dev, cam, NPC_D_PVM_DP_QXSP_LOGIN_CONN_TYPE_REALPLAY)) return 0;
  cam->iCameraWorkMode = NPC_D_PVM_DP_QXSP_CAMERA_WORK_MODE_REALPLAY;
  NPC_F_PVM_QXSP_SetRealplayState(cam, NPC_D_PVM_DP_QXSP_REALPLAY_FLOW_STATE_MEDIA_CONNECTING, now);
  return 1;
}

// Ends the realplay flow: the media connection goes (with a disconnect to the engine when asked;
// not when the engine has already let it go), the states return to 0, and a close order that
// still waits for the device is answered 0, since the stream is closed now.
void Self::NPC_F_PVM_QXSP_StopCameraRealplayFlow(Dev* /*dev*/, Cam* cam, bool bTellEngine) {
  if (cam->dwMediaProTcpConnId) {
    Conn* media = QueryConn(cam->dwMediaProTcpConnId);
    if (media && media->iLogicConnType == NPC_D_PVM_DP_QXSP_LOGIN_CONN_TYPE_REALPLAY) FreeConn(media, bTellEngine);
  }
  cam->dwMediaProTcpConnId = 0;
  const uint32_t closeTrans = cam->dwCloseTransId;
  cam->dwCloseTransId = 0;
  cam->iCameraWorkMode = NPC_D_PVM_DP_QXSP_CAMERA_WORK_MODE_IDLE;
  NPC_F_PVM_QXSP_SetRealplayState(cam, NPC_D_PVM_DP_QXSP_REALPLAY_FLOW_STATE_IDLE, NPC_F_SYS_GetWallTime());
  cam->bResync = 0;
  cam->bCacheCleared = 0;
  cam->bGotIFrame = 0;
  if (closeTrans) {
    if (NPC_S_PVM_DP_TRANS_DATA* t = QueryTrans(closeTrans)) {
      AnswerPending(&t->tRequ, 0);
      DeleteTrans(closeTrans);
    }
  }
}

// The engine's outcome for a realplay connection, taken in state 1 only: success sends the open
// request (state 2), failure answers the open 1003 and ends the flow.
void Self::NPC_F_PVM_QXSP_DoMediaConnResult(Conn* conn, int32_t iResult) {
  Dev* dev = nullptr;
  Cam* cam = NPC_F_PVM_QXSP_RealplayCamera(conn, &dev);
  if (!cam) {
    // Nobody owns it any more: let the engine close what it has set up.
    FreeConn(conn, iResult == 0);
    return;
  }
  if (cam->iRealplayFlowState != NPC_D_PVM_DP_QXSP_REALPLAY_FLOW_STATE_MEDIA_CONNECTING) return;
  if (iResult != 0) {
    NPC_F_LOG_SR_WriteLogF("NPC_F_PVM_QXSP_DoNetData_NET_TCP_CONNECT Connect media ch fail, result: %d.", iResult);
    AnswerPending(&cam->tRequ, NPC_D_PVM_ERRORCODE_NET_CONN_FAIL);
    NPC_F_PVM_QXSP_StopCameraRealplayFlow(dev, cam, false);
    return;
  }
  if (!NPC_F_PVM_QXSP_PRO_SendProData_P2_REALPLAY_OPEN(dev, cam, conn)) {
    NPC_F_LOG_SR_WriteLog("NPC_F_PVM_QXSP_DoNetData_NET_TCP_CONNECT NPC_F_PVM_QXSP_PRO_SendProData_P2_REALPLAY_OPEN fail.", 2);
    AnswerPending(&cam->tRequ, NPC_D_PVM_ERRORCODE_SYSTEM_ERROR);
    NPC_F_PVM_QXSP_StopCameraRealplayFlow(dev, cam, true);
    return;
  }
  NPC_F_PVM_QXSP_SetRealplayState(cam, NPC_D_PVM_DP_QXSP_REALPLAY_FLOW_STATE_WAIT_OPEN_RESP, NPC_F_SYS_GetWallTime());
}

// ---------------------------------------------------------------------------------------------
// Requests to the device.

int Self::NPC_F_PVM_QXSP_PRO_SendProData_P2_REALPLAY_OPEN(Dev* dev, Cam* cam, Conn* media) {
  const uint16_t ch = static_cast<uint16_t>(cam->iChNo);
  const uint16_t stream = static_cast<uint16_t>(cam->iStreamNo);
  if (dev->usProVersion > NPC_D_PVM_DP_QXSP_VER_0202) {
    uint8_t* p = BeginNetSendData(NPC_D_PVM_DP_QXSP_EX_REALPLAY_OPEN_LEN);
    if (!p) return 0;
    NPC_F_PVM_QXSP_PutExRealplayOpen(p, dev->dwLoginId, ch, stream, media->dwLogicConnId);
    return NPC_F_PVM_QXSP_SendProDataAtTypeToUp(media, p, NPC_D_PVM_DP_QXSP_EX_REALPLAY_OPEN_LEN, 0);
  }
  uint8_t* p = BeginNetSendData(NPC_D_PVM_DP_QXSP_REALPLAY_OPEN_LEN);
  if (!p) return 0;
  NPC_F_PVM_QXSP_PutRealplayOpen(p, NPC_D_PVM_DP_QXSP_P2_REALPLAY_OPEN, 0, dev->dwLoginId, ch, stream);
  return NPC_F_PVM_QXSP_SendProDataAtTypeToUp(media, p, NPC_D_PVM_DP_QXSP_REALPLAY_OPEN_LEN, 0);
}

int Self::NPC_F_PVM_QXSP_PRO_SendProData_P2_REALPLAY_CLOSE(Dev* dev, Conn* media, uint32_t dwTransId, int iChNo,
                                                           int iStreamNo) {
  uint8_t* p = BeginNetSendData(NPC_D_PVM_DP_QXSP_REALPLAY_CLOSE_LEN);
  if (!p) return 0;
  NPC_F_PVM_QXSP_PutRealplayOpen(p, NPC_D_PVM_DP_QXSP_P2_REALPLAY_CLOSE, dwTransId, dev->dwLoginId,
                                 static_cast<uint16_t>(iChNo), static_cast<uint16_t>(iStreamNo));
  return NPC_F_PVM_QXSP_SendProDataAtTypeToUp(media, p, NPC_D_PVM_DP_QXSP_REALPLAY_CLOSE_LEN, 0);
}

// ---------------------------------------------------------------------------------------------
// Orders.

// Open realplay: every refusal is decided before the order is kept, so an order that is refused
// never replaces the copy of one that waits for the device.
void Self::NPC_F_PVM_QXSP_DoOrderData_ORDER_OPEN_REALPLAY(uint8_t* msg, int len, const NPC_S_PVM_ORDER_MSG_VIEW& v) {
  NPC_S_PVM_ORDER_BODY_OPEN_REALPLAY body;
  Dev* dev = nullptr;
  Cam* cam = NPC_F_PVM_MSG_ReadOrderBody(v, &body) ? FindCamera(body.dwCameraConnId, &dev) : nullptr;
  if (!cam) {
    NPC_F_LOG_SR_WriteLog("NPC_F_PVM_QXSP_DoOrderData_ORDER_OPEN_REALPLAY NPC_F_PVM_QXSP_QueryCameraData fail.", 2);
    AnswerOrder(msg, len, NPC_D_PVM_ERRORCODE_SYSTEM_ERROR);
    return;
  }
  if (cam->iConnState != NPC_D_PVM_DP_CAMERA_CONN_STATE_CONNECTED) {
    NPC_F_LOG_SR_WriteLog("NPC_F_PVM_QXSP_DoOrderData_ORDER_OPEN_REALPLAY iConnState error.", 2);
    AnswerOrder(msg, len, NPC_D_PVM_ERRORCODE_SYSTEM_ERROR);
    return;
  }
  if (cam->iCameraWorkMode != NPC_D_PVM_DP_QXSP_CAMERA_WORK_MODE_IDLE) {
    NPC_F_LOG_SR_WriteLog("NPC_F_PVM_QXSP_DoOrderData_ORDER_OPEN_REALPLAY iCameraWorkMode error.", 2);
    AnswerOrder(msg, len, NPC_D_PVM_ERRORCODE_SYSTEM_ERROR);
    return;
  }
  if (cam->iRealplayFlowState != NPC_D_PVM_DP_QXSP_REALPLAY_FLOW_STATE_IDLE || cam->tRequ.Has()) {
    NPC_F_LOG_SR_WriteLogF("NPC_F_PVM_QXSP_DoOrderData_ORDER_OPEN_REALPLAY iRealplayFlowState error: %d.",
                           cam->iRealplayFlowState);
    AnswerOrder(msg, len, NPC_D_PVM_ERRORCODE_SYSTEM_ERROR);
    return;
  }
  const int stream = body.iStreamNo >= 0 ? body.iStreamNo : cam->iStreamNo;
  if (dev->usProVersion <= NPC_D_PVM_DP_QXSP_VER_0205 && stream >= 2) {
    NPC_F_LOG_SR_WriteLogF("NPC_F_PVM_QXSP_DoOrderData_ORDER_OPEN_REALPLAY iStreamNo error: %d.", stream);
    AnswerOrder(msg, len, NPC_D_PVM_ERRORCODE_SUB_STREAM_NO_ERROR);
    return;
  }
  if (!cam->tRequ.Keep(msg, len)) {
    NPC_F_LOG_SR_WriteLog("NPC_F_PVM_QXSP_DoOrderData_ORDER_OPEN_REALPLAY NPC_F_MEM_MG_SetDataToBuf fail.", 2);
    AnswerOrder(msg, len, NPC_D_PVM_ERRORCODE_SYSTEM_ERROR);
    return;
  }
  cam->iStreamNo = stream;
  if (!NPC_F_PVM_QXSP_StartCameraRealplayFlow(dev, cam, NPC_F_SYS_GetWallTime())) {
    NPC_F_LOG_SR_WriteLog("NPC_F_PVM_QXSP_DoOrderData_ORDER_OPEN_REALPLAY NPC_F_PVM_QXSP_StartCameraRealplayFlow fail.", 2);
    AnswerPending(&cam->tRequ, NPC_D_PVM_ERRORCODE_SYSTEM_ERROR);
  }
}

// Close realplay. A stream still being set up (state 1) or waiting for its open answer (state 2)
// will never answer the order that opened it: that order gets 1005 here. Without an order
// connection, a media connection or a way to send, the stream is closed on this side alone
// (the media connection goes) and the close is answered 0; otherwise the device is asked and
// its answer ends the flow.
void Self::NPC_F_PVM_QXSP_DoOrderData_ORDER_CLOSE_REALPLAY(uint8_t* msg, int len, const NPC_S_PVM_ORDER_MSG_VIEW& v) {
  NPC_S_PVM_ORDER_BODY_CAMERA_ID body;
  Dev* dev = nullptr;
  Cam* cam = NPC_F_PVM_MSG_ReadOrderBody(v, &body) ? FindCamera(body.dwCameraConnId, &dev) : nullptr;
  if (!cam) {
    AnswerOrder(msg, len, NPC_D_PVM_ERRORCODE_PEER_CONN_CLOSED);
    return;
  }
  const int st = cam->iRealplayFlowState;
  if (st == NPC_D_PVM_DP_QXSP_REALPLAY_FLOW_STATE_MEDIA_CONNECTING) {
    NPC_F_LOG_SR_ShowInfoF("NPC_F_PVM_QXSP_DoOrderData_ORDER_CLOSE_REALPLAY play state is %d", st);
    AnswerPending(&cam->tRequ, NPC_D_PVM_ERRORCODE_PEER_CONN_CLOSED);
    NPC_F_PVM_QXSP_StopCameraRealplayFlow(dev, cam, true);
    AnswerOrder(msg, len, 0);
    return;
  }
  if (st != NPC_D_PVM_DP_QXSP_REALPLAY_FLOW_STATE_WAIT_OPEN_RESP && st != NPC_D_PVM_DP_QXSP_REALPLAY_FLOW_STATE_PLAYING) {
    NPC_F_LOG_SR_ShowInfoF("NPC_F_PVM_QXSP_DoOrderData_ORDER_CLOSE_REALPLAY play state is %d", st);
    AnswerOrder(msg, len, 0);
    return;
  }
  Conn* order = NPC_F_PVM_QXSP_OrderConn(dev);
  Conn* media = cam->dwMediaProTcpConnId ? QueryConn(cam->dwMediaProTcpConnId) : nullptr;
  if (!order || !media) {
    NPC_F_LOG_SR_WriteLog("NPC_F_PVM_QXSP_DoOrderData_ORDER_CLOSE_REALPLAY no order channel, closed here.", 2);
    AnswerPending(&cam->tRequ, NPC_D_PVM_ERRORCODE_PEER_CONN_CLOSED);
    NPC_F_PVM_QXSP_StopCameraRealplayFlow(dev, cam, true);
    AnswerOrder(msg, len, 0);
    return;
  }
  const int64_t now = NPC_F_SYS_GetWallTime();
  NPC_S_PVM_DP_TRANS_DATA* t = CreateTrans(cam->dwCameraConnId, msg, len, now);
  if (!t) {
    NPC_F_LOG_SR_WriteLog("NPC_F_PVM_QXSP_DoOrderData_ORDER_CLOSE_REALPLAY NPC_F_PVM_QXSP_CreateTransData fail.", 2);
    AnswerOrder(msg, len, NPC_D_PVM_ERRORCODE_SYSTEM_ERROR);
    return;
  }
  AnswerPending(&cam->tRequ, NPC_D_PVM_ERRORCODE_PEER_CONN_CLOSED);
  if (!NPC_F_PVM_QXSP_PRO_SendProData_P2_REALPLAY_CLOSE(dev, media, t->dwTransId, cam->iChNo, cam->iStreamNo)) {
    NPC_F_LOG_SR_WriteLog("NPC_F_PVM_QXSP_DoOrderData_ORDER_CLOSE_REALPLAY NPC_F_PVM_QXSP_PRO_SendProData_P2_REALPLAY_CLOSE fail.", 2);
    DeleteTrans(t->dwTransId);
    NPC_F_PVM_QXSP_StopCameraRealplayFlow(dev, cam, true);
    AnswerOrder(msg, len, 0);
    return;
  }
  cam->dwCloseTransId = t->dwTransId;
  NPC_F_PVM_QXSP_SetRealplayState(cam, NPC_D_PVM_DP_QXSP_REALPLAY_FLOW_STATE_WAIT_CLOSE_RESP, now);
}

void Self::NPC_F_PVM_QXSP_DoOrderData_ORDER_FORCE_I_FRAME(const NPC_S_PVM_ORDER_MSG_VIEW& v) {
  NPC_S_PVM_ORDER_BODY_CAMERA_ID body;
  Dev* dev = nullptr;
  Cam* cam = NPC_F_PVM_MSG_ReadOrderBody(v, &body) ? FindCamera(body.dwCameraConnId, &dev) : nullptr;
  if (!cam) return;
  Conn* order = NPC_F_PVM_QXSP_OrderConn(dev);
  if (!order) return;
  uint8_t* p = BeginNetSendData(NPC_D_PVM_DP_QXSP_FORCE_I_FRAME_LEN);
  if (!p) return;
  NPC_F_PVM_QXSP_PutForceIFrame(p, dev->dwLoginId, static_cast<uint32_t>(cam->iChNo),
                                static_cast<uint32_t>(cam->iStreamNo));
  NPC_F_PVM_QXSP_SendProDataAtTypeToUp(order, p, NPC_D_PVM_DP_QXSP_FORCE_I_FRAME_LEN, 0);
}

// Switch channel and stream. 0xFFFF keeps a value. While the stream plays, the old stream is
// closed and the new one opened on the same media connection, and the order waits for the open
// answer. A stream in any other state with a flow (being set up, waiting for an answer, closing)
// is busy: switching it would replace the order that waits there.
void Self::NPC_F_PVM_QXSP_DoOrderData_ORDER_SWITCH_CHANNEL(uint8_t* msg, int len, const NPC_S_PVM_ORDER_MSG_VIEW& v) {
  NPC_S_PVM_ORDER_BODY_SWITCH_CHANNEL body;
  Dev* dev = nullptr;
  Cam* cam = NPC_F_PVM_MSG_ReadOrderBody(v, &body) ? FindCamera(body.dwCameraConnId, &dev) : nullptr;
  if (!cam) {
    AnswerOrder(msg, len, NPC_D_PVM_ERRORCODE_PEER_CONN_CLOSED);
    return;
  }
  if (strcmp(dev->szCustomId, "rqvl") == 0 && dev->usProVersion <= NPC_D_PVM_DP_QXSP_VER_0210) {
    NPC_F_LOG_SR_WriteLog("[rqvl]version < 2.11, not support.", 2);
    AnswerOrder(msg, len, NPC_D_PVM_ERRORCODE_NOT_SUPPORT_OPERATE);
    return;
  }
  const int ch = body.iChNo == 0xFFFF ? cam->iChNo : body.iChNo;
  const int stream = body.iStreamNo == 0xFFFF ? cam->iStreamNo : body.iStreamNo;
  if (ch == cam->iChNo && stream == cam->iStreamNo) {
    NPC_F_LOG_SR_ShowInfo("Switch ChNo: ChNo And StreamNo Same.");
    AnswerOrder(msg, len, 0);
    return;
  }
  const int st = cam->iRealplayFlowState;
  if (st == NPC_D_PVM_DP_QXSP_REALPLAY_FLOW_STATE_IDLE) {
    cam->iChNo = ch;
    cam->iStreamNo = stream;
    cam->bGotIFrame = 0;
    AnswerOrder(msg, len, 0);
    return;
  }
  if (st != NPC_D_PVM_DP_QXSP_REALPLAY_FLOW_STATE_PLAYING || cam->tRequ.Has()) {
    NPC_F_LOG_SR_WriteLogF("NPC_F_PVM_QXSP_DoOrderData_ORDER_SWITCH_CHANNEL iRealplayFlowState error: %d.", st);
    AnswerOrder(msg, len, NPC_D_PVM_ERRORCODE_SYSTEM_ERROR);
    return;
  }
  Conn* media = cam->dwMediaProTcpConnId ? QueryConn(cam->dwMediaProTcpConnId) : nullptr;
  if (!media) {
    AnswerOrder(msg, len, NPC_D_PVM_ERRORCODE_PEER_CONN_CLOSED);
    return;
  }
  if (!cam->tRequ.Keep(msg, len)) {
    AnswerOrder(msg, len, NPC_D_PVM_ERRORCODE_SYSTEM_ERROR);
    return;
  }
  uint8_t* p = nullptr;
  bool ok = NPC_F_PVM_QXSP_PRO_SendProData_P2_REALPLAY_CLOSE(dev, media, 0, cam->iChNo, cam->iStreamNo) != 0;
  if (ok) {
    p = BeginNetSendData(NPC_D_PVM_DP_QXSP_REALPLAY_OPEN_LEN);
    ok = p != nullptr;
  }
  if (ok) {
    NPC_F_PVM_QXSP_PutRealplayOpen(p, NPC_D_PVM_DP_QXSP_P2_REALPLAY_OPEN, 0, dev->dwLoginId, static_cast<uint16_t>(ch),
                                   static_cast<uint16_t>(stream));
    ok = NPC_F_PVM_QXSP_SendProDataAtTypeToUp(media, p, NPC_D_PVM_DP_QXSP_REALPLAY_OPEN_LEN, 0) != 0;
  }
  if (!ok) {
    NPC_F_LOG_SR_WriteLog("NPC_F_PVM_QXSP_DoOrderData_ORDER_SWITCH_CHANNEL NPC_F_PVM_QXSP_SendProDataToDev fail.", 2);
    AnswerPending(&cam->tRequ, NPC_D_PVM_ERRORCODE_SYSTEM_ERROR);
    return;
  }
  cam->iChNo = ch;
  cam->iStreamNo = stream;
  NPC_F_PVM_QXSP_SetRealplayState(cam, NPC_D_PVM_DP_QXSP_REALPLAY_FLOW_STATE_WAIT_OPEN_RESP, NPC_F_SYS_GetWallTime());
  cam->bGotIFrame = 0;
  NPC_F_PVM_QXSP_SendEndFrameToUpApp(cam);
}

void Self::NPC_F_PVM_QXSP_DoOrderData_ORDER_QUERY_CUR_CHSTREAMNO(uint8_t* msg, int len,
                                                                 const NPC_S_PVM_ORDER_MSG_VIEW& v) {
  NPC_S_PVM_ORDER_BODY_QUERY_CUR_CHSTREAMNO body;
  if (NPC_F_PVM_MSG_ReadOrderBody(v, &body)) {
    if (Cam* cam = FindCamera(body.dwCameraConnId)) {
      putOrderU16(msg, NPC_D_PVM_ORDER_MSG_HEAD_LEN + 4, static_cast<uint16_t>(cam->iChNo));
      putOrderU16(msg, NPC_D_PVM_ORDER_MSG_HEAD_LEN + 6, static_cast<uint16_t>(cam->iStreamNo));
    }
  }
  AnswerOrder(msg, len, 0);
}

// Video quality (534, 535, 536), stream control (592) and I-frame-only (593): a transaction on
// the device's order connection, answered by the device's answer. Devices of version 0x0202 or
// lower know none of them.
void Self::NPC_F_PVM_QXSP_DoOrderData_LiveCtrl(uint8_t* msg, int len, const NPC_S_PVM_ORDER_MSG_VIEW& v) {
  const int32_t code = v.tHead.iMsgId;
  NPC_S_PVM_ORDER_BODY_CAMERA_ID id;
  Dev* dev = nullptr;
  Cam* cam = NPC_F_PVM_MSG_ReadOrderBody(v, &id) ? FindCamera(id.dwCameraConnId, &dev) : nullptr;
  if (!cam) {
    AnswerOrder(msg, len, NPC_D_PVM_ERRORCODE_PEER_CONN_CLOSED);
    return;
  }
  if (dev->usProVersion <= NPC_D_PVM_DP_QXSP_VER_0202) {
    if (code == ORDER_CTRL_MEDIA_STREAM) {
      AnswerOrder(msg, len, 0);
    } else if (code == ORDER_ONLY_I_FRAME) {
      NPC_F_LOG_SR_WriteLog("Only I Frame Fail, Reason: Dev Not Support This Op.", 2);
      AnswerOrder(msg, len, NPC_D_PVM_DP_QXSP_ERRORCODE_ONLY_I_NOT_SUPPORT);
    } else {
      NPC_F_LOG_SR_WriteLog("Get Video Quality Level List Fail, Reason: Dev Not Support.", 2);
      AnswerOrder(msg, len, NPC_D_PVM_DP_QXSP_ERRORCODE_QUALITY_NOT_SUPPORT);
    }
    return;
  }
  // The answers are written into the kept order at fixed offsets: its length is checked now.
  int32_t value1 = 0, value2 = 0;
  bool shapeOk = true;
  switch (code) {
    case ORDER_GET_VIDEO_QUALITY_CAP:
      shapeOk = len == kVideoQualityCapOrderLen;
      break;
    case ORDER_GET_VIDEO_QUALITY_LEVEL:
      shapeOk = len == kVideoQualityLevelOrderLen;
      break;
    case ORDER_SET_VIDEO_QUALITY_LEVEL: {
      NPC_S_PVM_ORDER_BODY_VIDEO_QUALITY_LEVEL b;
      shapeOk = NPC_F_PVM_MSG_ReadOrderBody(v, &b) != 0;
      value1 = b.iLevel;
      break;
    }
    case ORDER_CTRL_MEDIA_STREAM: {
      NPC_S_PVM_ORDER_BODY_CTRL_MEDIA_STREAM b;
      shapeOk = NPC_F_PVM_MSG_ReadOrderBody(v, &b) != 0;
      value1 = b.iStreamSel;
      value2 = b.iCtrlValue;
      break;
    }
    default: {
      NPC_S_PVM_ORDER_BODY_ONLY_I_FRAME b;
      shapeOk = NPC_F_PVM_MSG_ReadOrderBody(v, &b) != 0;
      value1 = b.iOnlyIFrame;
      break;
    }
  }
  if (!shapeOk) {
    NPC_F_LOG_SR_WriteLogF("NPC_F_PVM_QXSP_DoOrderData %d iMsgLen error: %d.", code, len);
    AnswerOrder(msg, len, NPC_D_PVM_ERRORCODE_SYSTEM_ERROR);
    return;
  }
  Conn* order = NPC_F_PVM_QXSP_OrderConn(dev);
  if (!order) {
    AnswerOrder(msg, len, NPC_D_PVM_ERRORCODE_PEER_CONN_CLOSED);
    return;
  }
  NPC_S_PVM_DP_TRANS_DATA* t = CreateTrans(cam->dwCameraConnId, msg, len, NPC_F_SYS_GetWallTime());
  if (!t) {
    NPC_F_LOG_SR_WriteLogF("NPC_F_PVM_QXSP_DoOrderData %d NPC_F_PVM_QXSP_CreateTransData fail.", code);
    AnswerOrder(msg, len, NPC_D_PVM_ERRORCODE_SYSTEM_ERROR);
    return;
  }
  const uint16_t ch = static_cast<uint16_t>(cam->iChNo);
  const uint16_t stream = static_cast<uint16_t>(cam->iStreamNo);
  int n = 0;
  uint8_t* p = nullptr;
  switch (code) {
    case ORDER_GET_VIDEO_QUALITY_CAP:
      n = NPC_D_PVM_DP_QXSP_GET_VIDEO_QUALITY_CAP_LEN;
      if ((p = BeginNetSendData(static_cast<size_t>(n)))) {
        NPC_F_PVM_QXSP_PutGetVideoQualityCap(p, t->dwTransId, dev->dwLoginId, ch, stream);
      }
      break;
    case ORDER_GET_VIDEO_QUALITY_LEVEL:
    case ORDER_SET_VIDEO_QUALITY_LEVEL:
      n = NPC_D_PVM_DP_QXSP_VIDEO_QUALITY_LEVEL_LEN;
      if ((p = BeginNetSendData(static_cast<size_t>(n)))) {
        NPC_F_PVM_QXSP_PutVideoQualityLevel(p,
                                            code == ORDER_GET_VIDEO_QUALITY_LEVEL
                                                ? NPC_D_PVM_DP_QXSP_P2_GET_VIDEO_QUALITY_LEVEL
                                                : NPC_D_PVM_DP_QXSP_P2_SET_VIDEO_QUALITY_LEVEL,
                                            t->dwTransId, dev->dwLoginId, ch, stream, static_cast<uint32_t>(value1));
      }
      break;
    case ORDER_CTRL_MEDIA_STREAM:
      n = NPC_D_PVM_DP_QXSP_CTRL_STREAM_LEN;
      if ((p = BeginNetSendData(static_cast<size_t>(n)))) {
        NPC_F_PVM_QXSP_PutCtrlStream(p, t->dwTransId, dev->dwLoginId, cam->dwMediaSessionId,
                                     static_cast<uint32_t>(value1), static_cast<uint32_t>(value2));
      }
      break;
    default:
      n = NPC_D_PVM_DP_QXSP_ONLY_I_FRAME_LEN;
      if ((p = BeginNetSendData(static_cast<size_t>(n)))) {
        NPC_F_PVM_QXSP_PutOnlyIFrame(p, t->dwTransId, dev->dwLoginId, cam->dwMediaSessionId,
                                     static_cast<uint32_t>(value1));
      }
      break;
  }
  if (!p || !NPC_F_PVM_QXSP_SendProDataAtTypeToUp(order, p, n, 0)) {
    NPC_F_LOG_SR_WriteLogF("NPC_F_PVM_QXSP_DoOrderData %d NPC_F_PVM_QXSP_SendProDataToDev fail.", code);
    DeleteTrans(t->dwTransId);
    AnswerOrder(msg, len, NPC_D_PVM_ERRORCODE_SYSTEM_ERROR);
  }
}

// ---------------------------------------------------------------------------------------------
// Answers from the device.

// The open answer, taken in state 2 on the camera's media connection. Success plays (state 3);
// a failure ends the flow, so that the camera can open again, and "not logged in" (6) makes the
// next camera connect log the device in again. A successful extended answer too short to carry
// the media session id is a format error (2001).
void Self::NPC_F_PVM_QXSP_DoProPacket_P2_REALPLAY_OPEN(Conn* conn, const uint8_t* pkt, int len, bool bExtended) {
  NPC_S_PVM_DP_QXSP_REALPLAY_OPEN_RESP r;
  if (!NPC_F_PVM_QXSP_ReadRealplayOpenResp(pkt, static_cast<size_t>(len), bExtended, &r)) return;
  char text[64];
  int32_t code = NPC_F_PVM_QXSP_TransProErrorCode(r.ucResult, sizeof text, text);
  NPC_F_LOG_SR_ShowInfoF("QXSP Pro Response: %s，Result: %s.", "REALPLAY_OPEN", text);
  Dev* dev = nullptr;
  Cam* cam = NPC_F_PVM_QXSP_RealplayCamera(conn, &dev);
  if (!cam || cam->iRealplayFlowState != NPC_D_PVM_DP_QXSP_REALPLAY_FLOW_STATE_WAIT_OPEN_RESP) return;
  if (code == 0 && !r.bComplete) {
    NPC_F_LOG_SR_WriteLog("NPC_F_PVM_QXSP_DoProPacket_P2_EX_REALPLAY_OPEN iPacketLen error.", 2);
    code = NPC_D_PVM_ERRORCODE_PRO_PACKET_FORMAT_ERROR;
  }
  const int64_t now = NPC_F_SYS_GetWallTime();
  if (code != 0) {
    if (r.ucResult == 6) NPC_F_PVM_QXSP_SetLoginState(dev, NPC_D_PVM_DP_QXSP_DEV_LOGIN_STATE_IDLE, now);
    AnswerPending(&cam->tRequ, code);
    NPC_F_PVM_QXSP_StopCameraRealplayFlow(dev, cam, true);
    return;
  }
  if (bExtended) cam->dwMediaSessionId = r.dwMediaSessionId;
  NPC_F_PVM_QXSP_SetRealplayState(cam, NPC_D_PVM_DP_QXSP_REALPLAY_FLOW_STATE_PLAYING, now);
  AnswerPending(&cam->tRequ, 0);
}

// The close answer names the close order's transaction (the closes of a channel switch carry
// none and end here). The order is answered with the device's result and the flow ends either
// way: a refused close would otherwise leave the camera closing for ever, refusing every open.
void Self::NPC_F_PVM_QXSP_DoProPacket_P2_REALPLAY_CLOSE(Conn* /*conn*/, const uint8_t* pkt, int len) {
  NPC_S_PVM_DP_QXSP_MSG_HEAD h;
  if (!NPC_F_PVM_QXSP_ReadHead(pkt, static_cast<size_t>(len), &h) || h.dwTransId == 0) return;
  NPC_S_PVM_DP_TRANS_DATA* t = QueryTrans(h.dwTransId);
  if (!t || keptOrderCode(t->tRequ) != ORDER_CLOSE_REALPLAY) return;
  char text[64];
  const int32_t code = NPC_F_PVM_QXSP_TransProErrorCode(h.ucResult, sizeof text, text);
  NPC_F_LOG_SR_ShowInfoF("QXSP Pro Response: %s，Result: %s.", "REALPLAY_CLOSE", text);
  Dev* dev = nullptr;
  Cam* cam = FindCamera(t->dwLinkId, &dev);
  const bool ours = cam && cam->dwCloseTransId == h.dwTransId;
  if (ours) cam->dwCloseTransId = 0;
  AnswerPending(&t->tRequ, code);
  DeleteTrans(h.dwTransId);
  if (ours && cam->iRealplayFlowState == NPC_D_PVM_DP_QXSP_REALPLAY_FLOW_STATE_WAIT_CLOSE_RESP) {
    NPC_F_PVM_QXSP_StopCameraRealplayFlow(dev, cam, true);
  }
}

// The capability answer fills the kept 256-byte order: the level count (cut to 0..8) at 28 and
// the entries byte for byte from 32. A success too short for the entries it claims is 2001.
void Self::NPC_F_PVM_QXSP_DoProPacket_P2_GET_VIDEO_QUALITY_CAP(const uint8_t* pkt, int len) {
  NPC_S_PVM_DP_QXSP_MSG_HEAD h;
  NPC_S_PVM_DP_QXSP_QUALITY_CAP_RESP r;
  if (!NPC_F_PVM_QXSP_ReadHead(pkt, static_cast<size_t>(len), &h) ||
      !NPC_F_PVM_QXSP_ReadQualityCapResp(pkt, static_cast<size_t>(len), &r)) {
    return;
  }
  char text[64];
  int32_t code = NPC_F_PVM_QXSP_TransProErrorCode(r.ucResult, sizeof text, text);
  NPC_F_LOG_SR_ShowInfoF("QXSP Pro Response: %s，Result: %s.", "Get Video Quality Cap", text);
  NPC_S_PVM_DP_TRANS_DATA* t = QueryTrans(h.dwTransId);
  if (!t || keptOrderCode(t->tRequ) != ORDER_GET_VIDEO_QUALITY_CAP || t->tRequ.iRequDataLen != kVideoQualityCapOrderLen) {
    NPC_F_LOG_SR_WriteLog("NPC_F_PVM_QXSP_DoProPacket_P2_GET_VIDEO_QUALITY_CAP NPC_F_PVM_QXSP_QueryTransDataByTransId fail.", 2);
    return;
  }
  if (code == 0 && !r.bComplete) code = NPC_D_PVM_ERRORCODE_PRO_PACKET_FORMAT_ERROR;
  if (code == 0) {
    auto* order = reinterpret_cast<uint8_t*>(t->tRequ.pRequDataBuf);
    putOrderI32(order, NPC_D_PVM_ORDER_MSG_HEAD_LEN + 4, r.iLevelNum);
    if (r.iLevelNum > 0) {
      memcpy(order + NPC_D_PVM_ORDER_MSG_HEAD_LEN + 8, r.pEntries,
             static_cast<size_t>(r.iLevelNum) * NPC_D_PVM_DP_QXSP_QUALITY_LEVEL_ENTRY_LEN);
    }
  }
  AnswerPending(&t->tRequ, code);
  DeleteTrans(h.dwTransId);
}

void Self::NPC_F_PVM_QXSP_DoProPacket_P2_GET_VIDEO_QUALITY_LEVEL(const uint8_t* pkt, int len) {
  NPC_S_PVM_DP_QXSP_MSG_HEAD h;
  NPC_S_PVM_DP_QXSP_QUALITY_LEVEL_RESP r;
  if (!NPC_F_PVM_QXSP_ReadHead(pkt, static_cast<size_t>(len), &h) ||
      !NPC_F_PVM_QXSP_ReadQualityLevelResp(pkt, static_cast<size_t>(len), &r)) {
    return;
  }
  char text[64];
  int32_t code = NPC_F_PVM_QXSP_TransProErrorCode(r.ucResult, sizeof text, text);
  NPC_F_LOG_SR_ShowInfoF("QXSP Pro Response: %s，Result: %s.", "Get Video Quality Level", text);
  NPC_S_PVM_DP_TRANS_DATA* t = QueryTrans(h.dwTransId);
  if (!t || keptOrderCode(t->tRequ) != ORDER_GET_VIDEO_QUALITY_LEVEL ||
      t->tRequ.iRequDataLen != kVideoQualityLevelOrderLen) {
    NPC_F_LOG_SR_WriteLog("NPC_F_PVM_QXSP_DoProPacket_P2_GET_VIDEO_QUALITY_LEVEL NPC_F_PVM_QXSP_QueryTransDataByTransId fail.", 2);
    return;
  }
  if (code == 0 && !r.bComplete) code = NPC_D_PVM_ERRORCODE_PRO_PACKET_FORMAT_ERROR;
  if (code == 0) {
    putOrderI32(reinterpret_cast<uint8_t*>(t->tRequ.pRequDataBuf), NPC_D_PVM_ORDER_MSG_HEAD_LEN + 4, r.iLevel);
  }
  AnswerPending(&t->tRequ, code);
  DeleteTrans(h.dwTransId);
}

// ---------------------------------------------------------------------------------------------
// Media.

// A video packet, in state 3 only. The group statistics that the backlog check needs count every
// frame; video goes up from the first I-frame after an open, a switch or a resynchronisation.
void Self::NPC_F_PVM_QXSP_DoMediaPacket_PE_VIDEO_FRAME(Conn* conn, const uint8_t* pkt, int len) {
  Cam* cam = NPC_F_PVM_QXSP_RealplayCamera(conn);
  if (!cam || cam->iRealplayFlowState != NPC_D_PVM_DP_QXSP_REALPLAY_FLOW_STATE_PLAYING) return;
  NPC_S_PVM_DP_QXSP_VIDEO_FRAME f;
  if (!NPC_F_PVM_QXSP_ReadVideoFrame(pkt, static_cast<size_t>(len), &f)) {
    NPC_F_LOG_SR_WriteLog("NPC_F_PVM_QXSP_DoMediaPacket_PE_VIDEO_FRAME iPacketLen error.", 2);
    return;
  }
  NPC_S_MON_MEDIA_FRAME_HEAD& head = cam->tMediaFrameHead;
  NPC_F_PVM_QXSP_FillVideoFrameHead(f, &head);
  if (f.uiFrameRate) cam->iFrameRate = static_cast<int>(f.uiFrameRate);
  const bool key = head.iVideoFrameType == NPC_D_MON_VIDEO_FRAME_TYPE_I;
  if (key) {
    if (cam->iFramesSinceI > 0) {
      cam->iGop = cam->iFramesSinceI > INT32_MAX ? INT32_MAX : static_cast<int>(cam->iFramesSinceI);
      if (cam->iBytesSinceI > 0) cam->iAvgFrameSize = cam->iBytesSinceI / cam->iFramesSinceI;
    }
    cam->iFramesSinceI = 1;
    cam->iBytesSinceI = f.iDataLen;
  } else {
    ++cam->iFramesSinceI;
    cam->iBytesSinceI += f.iDataLen;
  }
  if (!cam->bGotIFrame) {
    if (!key) return;
    cam->bGotIFrame = 1;
  }
  if (f.iDataLen > 0) NPC_F_PVM_QXSP_SendMediaDataToUp(cam, head, f.pData, f.iDataLen);
}

// An audio packet with data, in state 3 only; not held back by the I-frame gate.
void Self::NPC_F_PVM_QXSP_DoMediaPacket_PE_AUDIO_FRAME(Conn* conn, const uint8_t* pkt, int len) {
  Cam* cam = NPC_F_PVM_QXSP_RealplayCamera(conn);
  if (!cam || cam->iRealplayFlowState != NPC_D_PVM_DP_QXSP_REALPLAY_FLOW_STATE_PLAYING) return;
  NPC_S_PVM_DP_QXSP_AUDIO_FRAME f;
  if (!NPC_F_PVM_QXSP_ReadAudioFrame(pkt, static_cast<size_t>(len), &f)) {
    NPC_F_LOG_SR_WriteLog("NPC_F_PVM_QXSP_DoMediaPacket_PE_AUDIO_FRAME iPacketLen error.", 2);
    return;
  }
  if (f.iDataLen <= 0) return;
  int32_t codecUp = 0;
  const int conv = NPC_F_PVM_QXSP_AudioConvOfDevCodec(f.uiCodec, &codecUp);
  if (conv == NPC_D_PVM_DP_QXSP_AUDIO_CONV_DROP) {
    NPC_F_LOG_SR_WriteLogF("NPC_F_PVM_QXSP_DoMediaPacket_PE_AUDIO_FRAME i_uiCodec error, i_uiCodec: %d.",
                           static_cast<int>(f.uiCodec));
    return;
  }
  NPC_S_MON_MEDIA_FRAME_HEAD head;
  memset(&head, 0, sizeof head);
  head.iMediaType = NPC_D_MON_MEDIA_TYPE_AUDIO;
  head.iTimestamp = static_cast<int32_t>(f.dwTimestamp);
  head.iAudioCodecId = codecUp;
  head.iAudioBitRate = static_cast<int32_t>(f.uiBitRate);
  head.iAudioSampleRate = static_cast<int32_t>(f.uiSampleRate);
  head.iAudioChNum = static_cast<int32_t>(f.uiChNum);
  NPC_F_PVM_QXSP_SendAudioToUp(cam, &head, conv, f.pData, f.iDataLen);
}

// Converts straight into the notice: the decoded samples are written where they go up from.
void Self::NPC_F_PVM_QXSP_SendAudioToUp(Cam* cam, NPC_S_MON_MEDIA_FRAME_HEAD* head, int conv, const uint8_t* data,
                                        int64_t len) {
  if (conv == NPC_D_PVM_DP_QXSP_AUDIO_CONV_ADPCM && len % NPC_D_PVM_DP_QXSP_ADPCM_BLOCK_LEN != 0) {
    NPC_F_LOG_SR_WriteLogF("NPC_F_PVM_QXSP_SendAudioToUp ADPCM length %lld is not a multiple of 256, tail ignored.",
                           static_cast<long long>(len));
  }
  const int64_t n = NPC_F_PVM_QXSP_AudioConvOutLen(conv, len);
  uint8_t* out = NPC_F_PVM_QXSP_BeginMediaData(n);
  if (!out) {
    NPC_F_LOG_SR_WriteLog("NPC_F_PVM_QXSP_SendAudioToUp malloc fail.", 2);
    return;
  }
  NPC_F_PVM_QXSP_AudioConvert(conv, data, len, out);
  cam->tMediaFrameHead = *head;
  NPC_F_PVM_QXSP_EndMediaData(cam, *head, n);
}

uint8_t* Self::NPC_F_PVM_QXSP_BeginMediaData(int64_t n) {
  constexpr int64_t fixed = NPC_D_PVM_MEDIA_DATA_MSG_FIXED_LEN;
  if (n < 0 || n > NPC_D_PVM_MSG_MAX_LEN - fixed) return nullptr;
  const size_t total = static_cast<size_t>(fixed + n);
  try {
    if (m_tMediaMsg.size() < total) m_tMediaMsg.resize(total);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return m_tMediaMsg.data() + fixed;
}

int Self::NPC_F_PVM_QXSP_EndMediaData(Cam* cam, const NPC_S_MON_MEDIA_FRAME_HEAD& head, int64_t n) {
  constexpr int64_t fixed = NPC_D_PVM_MEDIA_DATA_MSG_FIXED_LEN;
  if (n < 0 || m_tMediaMsg.size() < static_cast<size_t>(fixed + n)) return 0;
  NPC_S_PVM_ORDER_MSG_HEAD h;
  h.iMsgId = ORDER_MEDIA_DATA;
  h.iMsgType = NPC_D_PVM_ORDER_MSG_TYPE_REQUEST;
  h.dwTransId = 0;
  h.dwVendorId = static_cast<uint32_t>(VendorId());
  h.iResult = 0;
  h.iBodyLen = static_cast<int32_t>(n + fixed - NPC_D_PVM_ORDER_MSG_HEAD_LEN);
  NPC_S_PVM_ORDER_BODY_MEDIA_DATA b;
  b.dwCameraConnId = cam->dwCameraConnId;
  b.tFrameHead = head;
  b.iFrameDataLen = static_cast<int32_t>(n);
  uint8_t* m = m_tMediaMsg.data();
  memcpy(m, &h, sizeof h);
  memcpy(m + sizeof h, &b, sizeof b);
  const int ok = SendOrderUp(m, static_cast<int>(fixed + n));
  if (m_tMediaMsg.capacity() > kMediaMsgKeepCap) std::vector<uint8_t>().swap(m_tMediaMsg);
  return ok;
}

int Self::NPC_F_PVM_QXSP_SendMediaDataToUp(Cam* cam, const NPC_S_MON_MEDIA_FRAME_HEAD& head, const uint8_t* data,
                                           int64_t len) {
  uint8_t* out = NPC_F_PVM_QXSP_BeginMediaData(len);
  if (!out) {
    NPC_F_LOG_SR_WriteLog("NPC_F_PVM_QXSP_SendMediaDataToUp malloc fail.", 2);
    return 0;
  }
  if (len > 0) memcpy(out, data, static_cast<size_t>(len));
  return NPC_F_PVM_QXSP_EndMediaData(cam, head, len);
}

int Self::NPC_F_PVM_QXSP_SendEndFrameToUpApp(Cam* cam) {
  NPC_S_MON_MEDIA_FRAME_HEAD head;
  memset(&head, 0, sizeof head);
  head.iFrameFlag = NPC_D_MON_FRAME_FLAG_END;
  return NPC_F_PVM_QXSP_SendMediaDataToUp(cam, head, nullptr, 0);
}

// A whole frame the engine collected from UDP pieces: the frame head at the start, the data
// behind it. Video goes up unchanged (from an I-frame on, like the video of the stream);
// audio is converted by its codec id.
void Self::NPC_F_PVM_QXSP_DoNetData_NET_RECV_MEDIA_FRAME(const NPC_S_PVM_NET_MSG_VIEW& v) {
  NPC_S_PVM_NET_DATA_VIEW d;
  if (!NPC_F_PVM_MSG_ReadNetFrameData(v, &d)) return;
  Cam* cam = NPC_F_PVM_QXSP_RealplayCamera(QueryConn(d.dwProtConnId));
  if (!cam || cam->iRealplayFlowState != NPC_D_PVM_DP_QXSP_REALPLAY_FLOW_STATE_PLAYING) return;
  constexpr int64_t headLen = sizeof(NPC_S_MON_MEDIA_FRAME_HEAD);
  if (int64_t{d.iDataLen} < headLen) {
    NPC_F_LOG_SR_WriteLog("NPC_F_PVM_QXSP_DoNetData_NET_RECV_MEDIA_FRAME iFrameLen error.", 2);
    return;
  }
  NPC_S_MON_MEDIA_FRAME_HEAD head;
  memcpy(&head, d.pData, sizeof head);
  const uint8_t* data = d.pData + headLen;
  const int64_t n = int64_t{d.iDataLen} - headLen;
  if (head.iMediaType == NPC_D_MON_MEDIA_TYPE_VIDEO) {
    if (!cam->bGotIFrame) {
      if (head.iVideoFrameType != NPC_D_MON_VIDEO_FRAME_TYPE_I) return;
      cam->bGotIFrame = 1;
    }
    if (n <= 0) return;
    cam->tMediaFrameHead = head;
    NPC_F_PVM_QXSP_SendMediaDataToUp(cam, head, data, n);
    return;
  }
  if (head.iMediaType != NPC_D_MON_MEDIA_TYPE_AUDIO || n <= 0) return;
  int32_t codecUp = 0;
  const int conv = NPC_F_PVM_QXSP_AudioConvOfUdpCodec(head.iAudioCodecId, &codecUp);
  if (conv == NPC_D_PVM_DP_QXSP_AUDIO_CONV_DROP) {
    NPC_F_LOG_SR_WriteLogF("NPC_F_PVM_QXSP_DoNetData_NET_RECV_MEDIA_FRAME iAudioCodecId error, iAudioCodecId: %d.",
                           head.iAudioCodecId);
    return;
  }
  head.iAudioCodecId = codecUp;
  NPC_F_PVM_QXSP_SendAudioToUp(cam, &head, conv, data, n);
}

// ---------------------------------------------------------------------------------------------
// Backlog.

// b is what the engine reports waiting for this connection; about twenty seconds of video (the
// average frame of the last group times the frame rate times the cache factor, in 64 bits) asks
// the engine, once, to have the relay drop it.
void Self::NPC_F_PVM_QXSP_CheckBacklog(Conn* conn, Cam* cam, uint32_t dwBacklog) {
  if (cam->bCacheCleared || cam->iAvgFrameSize <= 0 || cam->iFrameRate <= 0) return;
  const int64_t limit = cam->iAvgFrameSize * cam->iFrameRate * NPC_D_PVM_DP_QXSP_CACHE_FACTOR;
  if (int64_t{dwBacklog} < limit) return;
  cam->bCacheCleared = 1;
  if (conn->bProTcpConnIdKnown) SendNetReqClearCache(conn->dwLogicConnId, conn->dwProTcpConnId);
  NPC_F_LOG_SR_ShowInfo("NPC_F_PVM_QXSP_DoRecvProData NPC_F_PVM_QXSP_SendNetRequMsg_NET_REQU_CLEAR_CACHE.");
}

// Drops what lies before the next packet boundary. True when framing can go on.
bool Self::NPC_F_PVM_QXSP_DoResync(Conn* conn, Cam* cam) {
  if (conn->tRecvBuf.Len() < static_cast<size_t>(NPC_D_PVM_DP_QXSP_HEAD_LEN)) return false;
  const NPC_S_PVM_DP_QXSP_RESYNC_RESULT r = NPC_F_PVM_QXSP_ScanPacketStart(conn->tRecvBuf.Data(), conn->tRecvBuf.Len());
  switch (r.iResult) {
    case NPC_D_PVM_DP_QXSP_RESYNC_FOUND:
      conn->tRecvBuf.Consume(static_cast<size_t>(r.qwDrop));
      cam->bResync = 0;
      cam->bGotIFrame = 0;
      NPC_F_LOG_SR_ShowInfo("NPC_F_PVM_QXSP_DoRecvProData find frame head.");
      return true;
    case NPC_D_PVM_DP_QXSP_RESYNC_EMPTY:
      conn->tRecvBuf.Clear();
      return false;
    default:
      conn->tRecvBuf.Consume(static_cast<size_t>(r.qwDrop));
      return false;
  }
}

// The engine has cleared its cache (or re-established the stream) for a connection: what is
// buffered belongs to the old stream. A media connection sends the reopen marker up, and a
// realplay connection then looks for the next packet boundary before it frames again.
void Self::NPC_F_PVM_QXSP_DoNetData_NET_REDIRECT_DATA(const NPC_S_PVM_NET_MSG_VIEW& v) {
  NPC_S_PVM_NET_MSG_CONN_IDS m;
  if (!NPC_F_PVM_MSG_ReadNetFixed(v, &m)) return;
  Conn* conn = QueryConn(m.dwProtConnId);
  if (!conn) return;
  conn->tRecvBuf.Clear();
  if (!isMediaType(conn->iLogicConnType)) return;
  Dev* dev = DevAt(conn->iDevIndex);
  Cam* cam = dev ? dev->tCameraTable.At(conn->iCameraIndex) : nullptr;
  if (!cam || cam->dwMediaProTcpConnId != conn->dwLogicConnId) return;
  const bool realplay = conn->iLogicConnType == NPC_D_PVM_DP_QXSP_LOGIN_CONN_TYPE_REALPLAY;
  if (realplay) cam->bCacheCleared = 0;
  NPC_S_MON_MEDIA_FRAME_HEAD head;
  memset(&head, 0, sizeof head);
  head.iMediaType = NPC_D_MON_MEDIA_TYPE_STREAM_RESET;
  const uint8_t zeros[NPC_D_PVM_DP_QXSP_REOPEN_MARKER_LEN] = {};
  NPC_F_LOG_SR_ShowInfo("Send Media Data of Reopen Recoder To Up.");
  NPC_F_PVM_QXSP_SendMediaDataToUp(cam, head, zeros, sizeof zeros);
  if (realplay) cam->bResync = 1;
}
