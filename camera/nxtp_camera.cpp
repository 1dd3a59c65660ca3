// The protocol-bus camera: construction and destruction, connect and disconnect, live play and
// stop, the connect-mode query, the five call-layer callbacks, the media time-out, the download
// work slots, the last error, and the operations of the catalogue that are not built yet.
//
// Every operation that talks to the device goes through NPC_F_MPI_MON_Camera_PR_CallOrder: one
// order to the module under the camera's vendor id, the answer copied out, a call failure stored
// as error 6 with the call-failure text, a module error mapped to the camera's code with the
// "%s: %s." text, the answer buffer always released.
#include "camera/nxtp_camera.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "bus/pvm_msg.h"
#include "bus/pvm_result.h"
#include "bus/vcp.h"
#include "runtime/clock.h"
#include "runtime/log.h"
#include "runtime/random.h"
#include "runtime/text.h"
#include "runtime/thread.h"

namespace {

// The texts of one operation outcome in both languages.
struct Texts {
  const char* en;
  const char* cn;
};

constexpr Texts kConnecting = {"Connecting.", "正在连接."};
constexpr Texts kConnected = {"Connected.", "连接成功."};
constexpr Texts kCreateCameraFail = {"Create camera fail.", "创建摄像机数据失败."};
constexpr Texts kCreateFrameListFail = {"Create frame list fail.", "创建帧列表失败."};
constexpr Texts kCreateAlarmListFail = {"Create alarm list fail.", "创建报警列表失败."};
constexpr Texts kCreateP2pListFail = {"Create p2p port list fail.", "创建透传数据列表失败."};
constexpr Texts kConnectName = {"Connect camera", "连接设备"};
constexpr Texts kConnectSuccess = {"Connect camera success!", "连接设备成功!"};
constexpr Texts kDisconnectName = {"Disconnect camera", "断开连接设备"};
constexpr Texts kDisconnectFail = {"Disconnect camera fail, ret is %ld.", "断开连接设备失败，原因：%ld."};
constexpr Texts kDisconnectSuccess = {"Disconnect camera success!", "断开连接设备成功!"};
constexpr Texts kDisconnected = {"The camera is disconnected!", "摄像机断开连接!"};
constexpr Texts kMediaTimeout = {"Long time did not receive the media data! [%s]-[%d]",
                                 "超时未接收到媒体数据! [%s]-[%d]"};

constexpr Texts kModeNoConnect = {"Get dev connect mode no connect camera.",
                                  "获取与设备的连接模式失败，原因：未连接设备."};
constexpr Texts kModeParam = {"Get dev connect mode param error.", "获取与设备的连接模式失败，原因：参数错误."};
constexpr Texts kModeName = {"Get dev connect mode", "获取与设备的连接模式"};
constexpr Texts kAnswerError = {"应答消息错误.", "应答消息错误."};

constexpr Texts kPlayParam = {"Start real-time preview failed, reason: incoming parameters error.",
                              "开始实时预览失败，原因：传入参数错误."};
constexpr Texts kPlayNoConnect = {"Realplay no connect camera.", "开始实时预览失败，原因：未连接设备."};
constexpr Texts kPlayPlaying = {"Realplay fail, playing.", "开始实时预览失败，原因：正在播放."};
constexpr Texts kPlayName = {"Open real-time preview", "打开实时预览"};
constexpr Texts kPlaySuccess = {"Realplay success!", "开始实时预览成功!"};

constexpr Texts kStopNoConnect = {"Stop play no connect camera.", "停止播放失败，原因：未连接设备."};
constexpr Texts kStopNoPlay = {"Stop play fail, no play.", "停止播放失败，原因：未播放."};
constexpr Texts kStopLiveName = {"Close real-time preview", "停止实时预览"};
constexpr Texts kStopRecordName = {"Stop play", "停止播放"};
constexpr Texts kStopSuccess = {"Stop play success!", "停止播放成功!"};

// Size of a text built from a format and a name (the last error keeps at most 511 bytes).
constexpr size_t kTextSize = 1024;

}  // namespace

// --- Construction and destruction ----------------------------------------------------------------

NPC_C_VPI_NXTP_Camera::NPC_C_VPI_NXTP_Camera(NPC_H_NXTP_SYN callLayer, const char* deviceId, uint32_t vendorId,
                                             const char* customisationId, const char* secondCustomisationText,
                                             const char* customFlagText, int customFlagValue,
                                             const char* connectParameterText, int languageFlag, int callTimeoutMs,
                                             int /*waitMediaStreamTimeout*/)
    : m_hCallLayer(callLayer),
      m_dwVendorId(vendorId),
      m_iCustomFlagValue(customFlagValue),
      m_iLanguage(languageFlag),
      m_iCallTimeoutMs(callTimeoutMs < 1 ? NPC_D_VPI_NXTP_DEF_CALL_TIMEOUT_MS : callTimeoutMs),
      m_iLiveMediaTimeoutS(NPC_D_VPI_NXTP_LIVE_MEDIA_TIMEOUT_S) {
  NPC_F_TEXT_CopyRaw(m_sDeviceId, sizeof m_sDeviceId, deviceId ? deviceId : "", sizeof m_sDeviceId);
  NPC_F_TEXT_Copy(m_sCustomId, sizeof m_sCustomId, customisationId);
  NPC_F_TEXT_Copy(m_sCustomText, sizeof m_sCustomText, secondCustomisationText);
  NPC_F_TEXT_Copy(m_sCustomFlagText, sizeof m_sCustomFlagText, customFlagText);
  NPC_F_TEXT_Copy(m_sConnParam, sizeof m_sConnParam, connectParameterText);
  // The base fields start from what the constructor knows; the creator may overwrite them.
  dwVendorId = vendorId;
  NPC_F_TEXT_Copy(sConnParam, sizeof sConnParam, m_sConnParam);
}

NPC_C_VPI_NXTP_Camera::~NPC_C_VPI_NXTP_Camera() {
  NPC_F_MPI_MON_Camera_Disconnect();
  // Disconnect deleted the registration, so no callback reaches the lists any more.
  const uint32_t id = m_dwCameraConnId.exchange(0);
  if (id) NPC_F_NXTP_SYN_DeleteCameraData(m_hCallLayer, id);
  NPC_F_LOG_SR_ShowInfoF("ReleaseFrameList m_dwCameraConnId= %d", static_cast<int>(id));
  NPC_F_VPI_TOOLS_MFL_ReleaseFrameList(m_hFrameList);
  NPC_F_VPI_TOOLS_AL_ReleaseAlarmList(m_hAlarmList);
  NPC_F_VPI_TOOLS_AL_ReleaseP2pPortList(m_hP2pList);
  m_hFrameList = nullptr;
  m_hAlarmList = nullptr;
  m_hP2pList = nullptr;
  std::lock_guard<std::mutex> lk(m_downMutex);
  for (auto& w : m_pDownWork) w.reset();
}

// --- Shared steps ----------------------------------------------------------------------------------

void NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_PR_SetLastErrorInfo(int code, const char* text) {
  {
    std::lock_guard<std::mutex> lk(m_errMutex);
    m_iLastErrorCode = code;
    NPC_F_TEXT_Copy(m_sLastErrorText, sizeof m_sLastErrorText, text);
  }
  NPC_F_LOG_SR_WriteLogF("[%d]%s", code, text ? text : "");
}

void NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_PR_SetLastErrorLang(int code, const char* english,
                                                                    const char* chinese) {
  NPC_F_MPI_MON_Camera_PR_SetLastErrorInfo(code, m_iLanguage ? english : chinese);
}

bool NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_PR_IsConnected() const {
  const int s = m_iState.load();
  return s == NPC_D_MPI_MON_CAMERA_STATE_CONNECTING || s == NPC_D_MPI_MON_CAMERA_STATE_CONNECTED;
}

int64_t NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_PR_NowSeconds() { return NPC_F_SYS_GetTickCount64() / 1000; }

void NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_PR_ResetSession() {
  std::lock_guard<std::mutex> lk(m_stateMutex);
  m_iPlayType = NPC_D_MPI_MON_CAMERA_PLAY_TYPE_LIVE;
  m_iPlayState = NPC_D_MPI_MON_CAMERA_PLAY_STATE_STOP;
  m_iTalkFlag = 0;
  m_iAlarmFlag = 0;
  m_qwLastFrameTime = 0;
  m_bGotFirstFrame = 0;
  m_qwPlayStartTime = 0;
  m_iTimedOutPlay = 0;
}

int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_PR_CallOrder(int iMsgId, const void* body, int bodyLen,
                                                            int timeoutMs, const char* callNameEn,
                                                            const char* callNameCn, const char* errorNameEn,
                                                            const char* errorNameCn, CallAnswer* answer) {
  char* buf = nullptr;
  int cap = 0, len = 0, result = 0;
  answer->iRet = NPC_F_NXTP_SYN_CallRemoteProcess(m_hCallLayer, iMsgId, m_dwVendorId, body, bodyLen, &result, &buf,
                                                  &cap, &len, timeoutMs);
  answer->iResult = result;
  answer->body.clear();
  if (answer->iRet == 0 && buf && len > 0) answer->body.assign(buf, buf + len);
  NPC_F_NXTP_SYN_ReleaseDataBuf(buf);

  char text[kTextSize];
  if (answer->iRet != 0) {
    NPC_F_MPI_MON_CLT_PR_GetCallFailInfo(m_iLanguage, m_iLanguage ? callNameEn : callNameCn, answer->iRet, text,
                                         sizeof text);
    NPC_F_MPI_MON_Camera_PR_SetLastErrorInfo(NPC_D_MPI_MON_ERROR_CALL_FAIL, text);
    return NPC_D_MPI_MON_ERROR_CALL_FAIL;
  }
  if (result != 0) {
    char reason[256];
    const int code = NPC_F_PVM_TransErrorCode(result, m_iLanguage, reason, sizeof reason);
    snprintf(text, sizeof text, "%s: %s.", m_iLanguage ? errorNameEn : errorNameCn, reason);
    NPC_F_MPI_MON_Camera_PR_SetLastErrorInfo(code, text);
    // A module code that maps to "success" still failed the operation.
    return code != 0 ? code : NPC_D_MPI_MON_ERROR_CALL_FAIL;
  }
  return 0;
}

int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_PR_NotSupport(const char* operation) {
  char reason[128];
  NPC_F_PVM_TransErrorCode(NPC_D_PVM_ERRORCODE_NOT_SUPPORT_OPERATE, m_iLanguage, reason, sizeof reason);
  char text[kTextSize];
  snprintf(text, sizeof text, "%s: %s.", operation, reason);
  NPC_F_MPI_MON_Camera_PR_SetLastErrorInfo(NPC_D_MPI_MON_ERROR_NOT_SUPPORT, text);
  return NPC_D_MPI_MON_ERROR_NOT_SUPPORT;
}

// --- Connection ------------------------------------------------------------------------------------

// Refuses a camera that is connecting (104) or connected (105); closes a play that a media
// time-out left running at the module (see Stop); makes or clears the lists and
// registers with the call layer (4 on failure); resets the session fields; enters state 1 and
// sends the connect order with the caller's time-out. On success the state becomes 2 (unless a
// disconnect notice or a Disconnect changed it meanwhile); on failure it stays 1, and the caller
// disconnects before connecting again.
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_Connect(int timeoutMs, const char* customFlagText,
                                                        uint32_t spareFlag, int connectMode) {
  NPC_S_PVM_ORDER_BODY_CAMERA_CONNECT body;
  memset(&body, 0, sizeof body);
  {
    std::lock_guard<std::mutex> lk(m_connMutex);
    const int state = m_iState.load();
    if (state == NPC_D_MPI_MON_CAMERA_STATE_CONNECTING) {
      NPC_F_MPI_MON_Camera_PR_SetLastErrorLang(NPC_D_MPI_MON_ERROR_CONNECTING, kConnecting.en, kConnecting.cn);
      return NPC_D_MPI_MON_ERROR_CONNECTING;
    }
    if (state == NPC_D_MPI_MON_CAMERA_STATE_CONNECTED) {
      NPC_F_MPI_MON_Camera_PR_SetLastErrorLang(NPC_D_MPI_MON_ERROR_CONNECTED, kConnected.en, kConnected.cn);
      return NPC_D_MPI_MON_ERROR_CONNECTED;
    }
    // A reconnect after a media time-out: the module still runs the stream that went quiet and
    // would refuse the next Play, so it is closed first (the module keeps its camera connected).
    NPC_F_MPI_MON_Camera_PR_CloseTimedOutPlay(timeoutMs);
    // The lists exist before the camera is registered, so that no callback finds one missing.
    if (m_hFrameList)
      NPC_F_VPI_TOOLS_MFL_ClearListData(m_hFrameList);
    else if (!(m_hFrameList = NPC_F_VPI_TOOLS_MFL_CreateFrameList(NPC_D_VPI_TOOLS_MFL_CAMERA_CAPACITY))) {
      NPC_F_MPI_MON_Camera_PR_SetLastErrorLang(NPC_D_MPI_MON_ERROR_CREATE_FAIL, kCreateFrameListFail.en,
                                               kCreateFrameListFail.cn);
      return NPC_D_MPI_MON_ERROR_CREATE_FAIL;
    }
    if (m_hAlarmList)
      NPC_F_VPI_TOOLS_AL_ClearListData(m_hAlarmList);
    else if (!(m_hAlarmList = NPC_F_VPI_TOOLS_AL_CreateAlarmList(NPC_D_VPI_TOOLS_AL_CAPACITY))) {
      NPC_F_MPI_MON_Camera_PR_SetLastErrorLang(NPC_D_MPI_MON_ERROR_CREATE_FAIL, kCreateAlarmListFail.en,
                                               kCreateAlarmListFail.cn);
      return NPC_D_MPI_MON_ERROR_CREATE_FAIL;
    }
    if (m_hP2pList)
      NPC_F_VPI_TOOLS_AL_ClearP2pPortListData(m_hP2pList);
    else if (!(m_hP2pList = NPC_F_VPI_TOOLS_AL_CreateP2pPortList(NPC_D_VPI_TOOLS_AL_CAPACITY))) {
      NPC_F_MPI_MON_Camera_PR_SetLastErrorLang(NPC_D_MPI_MON_ERROR_CREATE_FAIL, kCreateP2pListFail.en,
                                               kCreateP2pListFail.cn);
      return NPC_D_MPI_MON_ERROR_CREATE_FAIL;
    }
    if (m_dwCameraConnId.load() == 0) {
      const uint32_t id = NPC_F_NXTP_SYN_CreateCameraData(
          m_hCallLayer, &NPC_F_VPI_NXTP_SYN_CameraMediaDataCallback, this, &NPC_F_VPI_NXTP_SYN_CameraAlarmDataCallback,
          this, &NPC_F_VPI_NXTP_SYN_CameraTimerCallback, this, &NPC_F_VPI_NXTP_SYN_CameraStateNotifyCallback, this,
          &NPC_F_VPI_NXTP_SYN_CameraP2pPortDataCallback, this);
      if (id == 0) {
        NPC_F_MPI_MON_Camera_PR_SetLastErrorLang(NPC_D_MPI_MON_ERROR_CREATE_FAIL, kCreateCameraFail.en,
                                                 kCreateCameraFail.cn);
        return NPC_D_MPI_MON_ERROR_CREATE_FAIL;
      }
      m_dwCameraConnId = id;
    }
    // A reconnect starts a fresh session: nothing of the old one may block a later Play.
    NPC_F_MPI_MON_Camera_PR_ResetSession();
    {
      std::lock_guard<std::mutex> sk(m_stateMutex);
      m_iDisconnectCause = 0;
      m_iState = NPC_D_MPI_MON_CAMERA_STATE_CONNECTING;
    }

    body.dwCameraConnId = m_dwCameraConnId.load();
    NPC_F_TEXT_CopyN(body.sConnParam, sizeof body.sConnParam, m_sConnParam, sizeof m_sConnParam);
    NPC_F_TEXT_CopyRaw(body.szCustomId, sizeof body.szCustomId, m_sCustomId, sizeof m_sCustomId);
    NPC_F_TEXT_CopyRaw(body.szCustomText, sizeof body.szCustomText, m_sCustomText, sizeof m_sCustomText);
    body.iClientFlag = iClientFlag;
    body.iMediaTransMode = m_iMediaTransMode.load();
    body.dwSpareConnFlag = spareFlag;
    body.iConnectMode = connectMode;
  }
  if (m_sCustomFlagText[0]) {
    NPC_F_TEXT_Copy(body.szCustomData, sizeof body.szCustomData, m_sCustomFlagText);
    body.iCustomNum = m_iCustomFlagValue;
    NPC_F_LOG_SR_ShowInfoF("[All]Device custom flag：[%s][%d].", body.szCustomData, body.iCustomNum);
  } else if (customFlagText) {
    NPC_F_TEXT_Copy(body.szCustomData, sizeof body.szCustomData, customFlagText);
    body.iCustomNum = body.szCustomData[0] ? 1 : 0;
    NPC_F_LOG_SR_ShowInfoF("Device custom flag：[%s][%d].", body.szCustomData, body.iCustomNum);
  }

  NPC_F_LOG_SR_ShowInfoF("start conn device, timeout %d ms.", timeoutMs);
  CallAnswer ans;
  const int ret = NPC_F_MPI_MON_Camera_PR_CallOrder(ORDER_CAMERA_CONNECT, &body, sizeof body, timeoutMs,
                                                    kConnectName.en, kConnectName.cn, kConnectName.en,
                                                    kConnectName.cn, &ans);
  if (ret != 0) return ret;
  {
    std::lock_guard<std::mutex> sk(m_stateMutex);
    if (m_iState.load() == NPC_D_MPI_MON_CAMERA_STATE_CONNECTING) m_iState = NPC_D_MPI_MON_CAMERA_STATE_CONNECTED;
  }
  NPC_F_LOG_SR_ShowInfo(m_iLanguage ? kConnectSuccess.en : kConnectSuccess.cn);
  return 0;
}

// A registered camera goes to state 0 with a fresh session, sends the disconnect order (32 s),
// stores 6 for a call failure or 7 for an error answer, and in every case leaves the call layer's
// camera table. An unregistered camera does nothing.
void NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_Disconnect() {
  std::lock_guard<std::mutex> lk(m_connMutex);
  const uint32_t id = m_dwCameraConnId.load();
  if (id == 0) return;
  {
    std::lock_guard<std::mutex> sk(m_stateMutex);
    m_iState = NPC_D_MPI_MON_CAMERA_STATE_IDLE;
  }
  NPC_F_MPI_MON_Camera_PR_ResetSession();

  NPC_S_PVM_ORDER_BODY_CAMERA_ID body{id};
  char* buf = nullptr;
  int cap = 0, len = 0, result = 0;
  const int ret = NPC_F_NXTP_SYN_CallRemoteProcess(m_hCallLayer, ORDER_CAMERA_DISCONNECT, m_dwVendorId, &body,
                                                   sizeof body, &result, &buf, &cap, &len,
                                                   NPC_D_VPI_NXTP_DISCONNECT_TIMEOUT_MS);
  NPC_F_NXTP_SYN_ReleaseDataBuf(buf);
  char text[kTextSize];
  if (ret != 0) {
    NPC_F_MPI_MON_CLT_PR_GetCallFailInfo(m_iLanguage, m_iLanguage ? kDisconnectName.en : kDisconnectName.cn, ret,
                                         text, sizeof text);
    NPC_F_MPI_MON_Camera_PR_SetLastErrorInfo(NPC_D_MPI_MON_ERROR_CALL_FAIL, text);
  } else if (result != 0) {
    snprintf(text, sizeof text, m_iLanguage ? kDisconnectFail.en : kDisconnectFail.cn, static_cast<long>(result));
    NPC_F_MPI_MON_Camera_PR_SetLastErrorInfo(NPC_D_MPI_MON_ERROR_DISCONNECT_FAIL, text);
  } else {
    NPC_F_LOG_SR_ShowInfo(m_iLanguage ? kDisconnectSuccess.en : kDisconnectSuccess.cn);
  }
  NPC_F_NXTP_SYN_DeleteCameraData(m_hCallLayer, id);
  m_dwCameraConnId = 0;
}

int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_GetState() { return m_iState.load(); }

int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_GetDisconnectCause() {
  std::lock_guard<std::mutex> lk(m_stateMutex);
  return m_iState.load() == NPC_D_MPI_MON_CAMERA_STATE_DISCONNECTED ? m_iDisconnectCause.load() : -1;
}

int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_GetPlayType() { return m_iPlayType.load(); }
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_GetPlayState() { return m_iPlayState.load(); }

int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_GetLastError(int len, char* text) {
  std::lock_guard<std::mutex> lk(m_errMutex);
  if (text && len > 0) NPC_F_TEXT_Copy(text, static_cast<size_t>(len), m_sLastErrorText);
  return m_iLastErrorCode;
}

// Order 516: the mode the engine reported when the device's connection was set up (2 means the
// device is reached through a transfer). The answer must carry the mode slot.
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_GetDevConnectMode(int* mode) {
  if (!mode) {
    NPC_F_MPI_MON_Camera_PR_SetLastErrorLang(NPC_D_MPI_MON_ERROR_PARAM, kModeParam.en, kModeParam.cn);
    return NPC_D_MPI_MON_ERROR_PARAM;
  }
  if (!NPC_F_MPI_MON_Camera_PR_IsConnected()) {
    NPC_F_MPI_MON_Camera_PR_SetLastErrorLang(NPC_D_MPI_MON_ERROR_NO_CONNECT, kModeNoConnect.en, kModeNoConnect.cn);
    return NPC_D_MPI_MON_ERROR_NO_CONNECT;
  }
  NPC_S_PVM_ORDER_BODY_CAMERA_QUERY_CONN_MODE body{m_dwCameraConnId.load(), 0};
  CallAnswer ans;
  const int ret = NPC_F_MPI_MON_Camera_PR_CallOrder(ORDER_CAMERA_QUERY_CONN_MODE, &body, sizeof body,
                                                    m_iCallTimeoutMs, kModeName.en, kModeName.cn, kModeName.en,
                                                    kModeName.cn, &ans);
  if (ret != 0) return ret;
  if (ans.body.size() < sizeof body) {
    NPC_F_MPI_MON_Camera_PR_SetLastErrorLang(NPC_D_MPI_MON_ERROR_CALL_FAIL, kAnswerError.en, kAnswerError.cn);
    return NPC_D_MPI_MON_ERROR_CALL_FAIL;
  }
  memcpy(&body, ans.body.data(), sizeof body);
  *mode = body.iConnMode;
  return 0;
}

// --- Callback setters ----------------------------------------------------------------------------

void NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_SetMediaStreamCallback(NPC_F_MPI_MON_MEDIA_STREAM_CALLBACK cb,
                                                                       void* user) {
  std::lock_guard<std::mutex> lk(m_cbMutex);
  m_fnMediaStream = cb;
  m_pMediaStreamUser = user;
}

void NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_SetFileThumbCallback(NPC_F_MPI_MON_FILE_THUMB_CALLBACK cb,
                                                                     void* user) {
  std::lock_guard<std::mutex> lk(m_cbMutex);
  m_fnFileThumb = cb;
  m_pFileThumbUser = user;
}

int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_SetP2pPortDataCallback(NPC_F_MPI_MON_P2P_PORT_DATA_CALLBACK cb,
                                                                      void* user, void* extra) {
  std::lock_guard<std::mutex> lk(m_cbMutex);
  m_fnP2pPortData = cb;
  m_pP2pPortDataUser = user;
  m_pP2pPortDataExtra = extra;
  return 1;
}

int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_SetAlarmCallback(NPC_F_MPI_MON_ALARM_CALLBACK cb, void* user) {
  std::lock_guard<std::mutex> lk(m_cbMutex);
  m_fnAlarm = cb;
  m_pAlarmUser = user;
  return 1;
}

void NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_SetRealMediaTransMode(int mode) { m_iMediaTransMode = mode; }

// --- Live view -----------------------------------------------------------------------------------

// Checks the index (0..2: an index outside returns 12 while the stored code is 107), the
// connection and the play state; asks the connect mode first, and with autoSub 1 on a device
// reached through a transfer asks for the sub stream. On success: live view, playing, the play
// start time now, no frame yet, frames to the frame list.
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_Play(int streamNo, int index, int autoSub) {
  if (index < 0 || index > 2) {
    NPC_F_MPI_MON_Camera_PR_SetLastErrorLang(NPC_D_MPI_MON_ERROR_NO_CONNECT, kPlayParam.en, kPlayParam.cn);
    return NPC_D_MPI_MON_ERROR_PARAM;
  }
  if (!NPC_F_MPI_MON_Camera_PR_IsConnected()) {
    NPC_F_MPI_MON_Camera_PR_SetLastErrorLang(NPC_D_MPI_MON_ERROR_NO_CONNECT, kPlayNoConnect.en, kPlayNoConnect.cn);
    return NPC_D_MPI_MON_ERROR_NO_CONNECT;
  }
  if (m_iPlayState.load() != NPC_D_MPI_MON_CAMERA_PLAY_STATE_STOP) {
    NPC_F_MPI_MON_Camera_PR_SetLastErrorLang(NPC_D_MPI_MON_ERROR_PLAYING, kPlayPlaying.en, kPlayPlaying.cn);
    return NPC_D_MPI_MON_ERROR_PLAYING;
  }
  int mode = 0;
  if (NPC_F_MPI_MON_Camera_GetDevConnectMode(&mode) == 0 && autoSub == 1 && mode == NPC_D_PVM_CONN_MODE_TRANSFER) {
    streamNo = 1;
    NPC_F_LOG_SR_ShowInfo("NPC_F_MPI_MON_Camera_Play trans mode, auto change sub stream.");
  }
  NPC_S_PVM_ORDER_BODY_OPEN_REALPLAY body{m_dwCameraConnId.load(), streamNo, 0};
  CallAnswer ans;
  const int ret = NPC_F_MPI_MON_Camera_PR_CallOrder(ORDER_OPEN_REALPLAY, &body, sizeof body, m_iCallTimeoutMs,
                                                    kPlayName.en, kPlayName.cn, kPlayName.en, kPlayName.cn, &ans);
  if (ret != 0) return ret;
  NPC_F_LOG_SR_ShowInfo(m_iLanguage ? kPlaySuccess.en : kPlaySuccess.cn);
  {
    std::lock_guard<std::mutex> lk(m_cbMutex);
    m_fnMediaStream = nullptr;
    m_pMediaStreamUser = nullptr;
  }
  std::lock_guard<std::mutex> sk(m_stateMutex);
  // A disconnect notice that came meanwhile has ended the session: nothing is playing.
  if (!NPC_F_MPI_MON_Camera_PR_IsConnected()) return 0;
  m_iPlayType = NPC_D_MPI_MON_CAMERA_PLAY_TYPE_LIVE;
  m_qwPlayStartTime = NPC_F_MPI_MON_Camera_PR_NowSeconds();
  m_bGotFirstFrame = 0;
  m_qwLastFrameTime = 0;
  m_iPlayState = NPC_D_MPI_MON_CAMERA_PLAY_STATE_PLAYING;
  return 0;
}

int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_Play(int streamNo, int index, NPC_F_MPI_MON_MEDIA_STREAM_CALLBACK cb,
                                                     void* user) {
  const int ret = NPC_F_MPI_MON_Camera_Play(streamNo, index, 1);
  if (ret == 0) NPC_F_MPI_MON_Camera_SetMediaStreamCallback(cb, user);
  return ret;
}

int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_PR_ClosePlay(int playType, int timeoutMs) {
  NPC_S_PVM_ORDER_BODY_CAMERA_ID body{m_dwCameraConnId.load()};
  CallAnswer ans;
  if (playType == NPC_D_MPI_MON_CAMERA_PLAY_TYPE_LIVE)
    return NPC_F_MPI_MON_Camera_PR_CallOrder(ORDER_CLOSE_REALPLAY, &body, sizeof body, timeoutMs, kStopLiveName.en,
                                             kStopLiveName.cn, kStopLiveName.en, kStopLiveName.cn, &ans);
  return NPC_F_MPI_MON_Camera_PR_CallOrder(ORDER_STOP_PLAY_RECFILE, &body, sizeof body, m_iCallTimeoutMs,
                                           kStopRecordName.en, kStopRecordName.cn, kStopRecordName.en,
                                           kStopRecordName.cn, &ans);
}

void NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_PR_CloseTimedOutPlay(int timeoutMs) {
  const int timedOut = m_iTimedOutPlay.exchange(0);
  if (timedOut != 0 && NPC_F_MPI_MON_Camera_PR_ClosePlay(timedOut - 1, timeoutMs) == 0)
    NPC_F_LOG_SR_ShowInfo(m_iLanguage ? kStopSuccess.en : kStopSuccess.cn);
}

// Needs a connected (107) and playing (109) camera; live view sends order 529 with the caller's
// time-out, a playback order 548 with the call time-out. Whatever the outcome the play type
// returns to live view, and a camera in state 3 (after a media time-out or a device close)
// returns to state 2; states 0 and 1 stay, so that Connect keeps working after a Stop on a
// camera that never connected.
//
// After a media time-out the camera is in state 3 and not playing, yet the device link is up
// and the module still runs the stream that went quiet; returning to state 2 without closing it
// would leave a camera that looks connected and idle while every Play is refused by the module
// (and late frames of the old stream still fill the frame list). So Stop closes that stream
// first, then reports 107 as for any camera in state 3. Connect does the same.
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_Stop(int timeoutMs) {
  int ret;
  if (!NPC_F_MPI_MON_Camera_PR_IsConnected()) {
    NPC_F_MPI_MON_Camera_PR_CloseTimedOutPlay(timeoutMs);
    NPC_F_MPI_MON_Camera_PR_SetLastErrorLang(NPC_D_MPI_MON_ERROR_NO_CONNECT, kStopNoConnect.en, kStopNoConnect.cn);
    ret = NPC_D_MPI_MON_ERROR_NO_CONNECT;
  } else if (m_iPlayState.load() == NPC_D_MPI_MON_CAMERA_PLAY_STATE_STOP) {
    NPC_F_MPI_MON_Camera_PR_SetLastErrorLang(NPC_D_MPI_MON_ERROR_NO_PLAY, kStopNoPlay.en, kStopNoPlay.cn);
    ret = NPC_D_MPI_MON_ERROR_NO_PLAY;
  } else {
    ret = NPC_F_MPI_MON_Camera_PR_ClosePlay(m_iPlayType.load(), timeoutMs);
    if (ret == 0) {
      NPC_F_LOG_SR_ShowInfo(m_iLanguage ? kStopSuccess.en : kStopSuccess.cn);
      m_iPlayState = NPC_D_MPI_MON_CAMERA_PLAY_STATE_STOP;
    }
  }
  std::lock_guard<std::mutex> sk(m_stateMutex);
  m_iPlayType = NPC_D_MPI_MON_CAMERA_PLAY_TYPE_LIVE;
  if (m_iState.load() == NPC_D_MPI_MON_CAMERA_STATE_DISCONNECTED) m_iState = NPC_D_MPI_MON_CAMERA_STATE_CONNECTED;
  return ret;
}

// --- Frames, alarms, pass-through data ----------------------------------------------------------

NPC_S_MPI_MON_MEDIA_FRAME* NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_GetMediaFrame(int type) {
  return NPC_F_VPI_TOOLS_MFL_GetSpecTypeFrameData(m_hFrameList, type);
}

NPC_S_MPI_MON_MEDIA_FRAME* NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_GetMediaFrameFromQueue(int waitMs) {
  return NPC_F_VPI_TOOLS_MFL_GetFrameData(m_hFrameList, waitMs);
}

void NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_ReleaseFrameData(NPC_S_MPI_MON_MEDIA_FRAME* frame) {
  NPC_F_VPI_TOOLS_MFL_ReleaseFrame(frame);
}

int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_GetResidualFrameNum(int type) {
  return NPC_F_VPI_TOOLS_MFL_GetFrameNum(m_hFrameList, type);
}

int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_GetResidualFrameTimestamp(int type) {
  return NPC_F_VPI_TOOLS_MFL_GetFrameTimestamp(m_hFrameList, type);
}

NPC_S_MPI_MON_ALARM_DATA* NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_GetAlarmInfo(int waitMs) {
  return NPC_F_VPI_TOOLS_AL_GetAlarmData(m_hAlarmList, waitMs);
}

void NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_ReleaseAlarmBuf(NPC_S_MPI_MON_ALARM_DATA* alarm) {
  NPC_F_VPI_TOOLS_AL_ReleaseAlarmData(alarm);
}

NPC_S_MPI_MON_P2PPORT_DATA* NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_GetP2pPortData(int waitMs) {
  return NPC_F_VPI_TOOLS_AL_GetP2pPortData(m_hP2pList, waitMs);
}

void NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_ReleaseP2pPortBuf(NPC_S_MPI_MON_P2PPORT_DATA* record) {
  NPC_F_VPI_TOOLS_AL_ReleaseP2pPortData(record);
}

int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_CheckAlarmState() { return m_iAlarmFlag.load(); }
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_StartRecord() { return 0; }
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_StopRecord() { return 0; }
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_CheckRecordState() { return 1; }
void NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_ReleaseBuf(char* buf) { free(buf); }

// --- Download work slots -------------------------------------------------------------------------

std::shared_ptr<NPC_S_VPI_NXTP_DOWN_WORK_DATA> NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_PR_FindDownWork(
    uint32_t downloadId) {
  for (auto& w : m_pDownWork)
    if (w && w->dwDownloadId == downloadId) return w;
  return nullptr;
}

int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_PR_CreateDownWork(uint32_t downloadId) {
  std::lock_guard<std::mutex> lk(m_downMutex);
  for (int i = 0; i < NPC_D_VPI_NXTP_DOWN_WORK_NUM; ++i) {
    if (m_pDownWork[i]) continue;
    NPC_H_VPI_TOOLS_MFL list = NPC_F_VPI_TOOLS_MFL_CreateFrameList(NPC_D_VPI_TOOLS_MFL_DOWNLOAD_CAPACITY);
    if (!list) return 0;
    auto* work = new (std::nothrow) NPC_S_VPI_NXTP_DOWN_WORK_DATA{};
    if (!work) {
      NPC_F_VPI_TOOLS_MFL_ReleaseFrameList(list);
      return 0;
    }
    work->dwWorkId = (NPC_F_SYS_RANDOM_Next32() << 16) | static_cast<uint32_t>(i);
    work->dwDownloadId = downloadId;
    work->hFrameList = list;
    m_pDownWork[i] = std::shared_ptr<NPC_S_VPI_NXTP_DOWN_WORK_DATA>(work, [](NPC_S_VPI_NXTP_DOWN_WORK_DATA* w) {
      NPC_F_VPI_TOOLS_MFL_ReleaseFrameList(w->hFrameList);
      delete w;
    });
    return 1;
  }
  return 0;
}

int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_PR_DeleteDownWork(uint32_t downloadId) {
  std::lock_guard<std::mutex> lk(m_downMutex);
  for (auto& w : m_pDownWork) {
    if (w && w->dwDownloadId == downloadId) {
      w.reset();
      return 1;
    }
  }
  return 0;
}

int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_RecFile_QueryDownState(uint32_t downloadId) {
  std::lock_guard<std::mutex> lk(m_downMutex);
  auto w = NPC_F_MPI_MON_Camera_PR_FindDownWork(downloadId);
  return w ? w->iDownloadState : 0;
}

int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_RecFile_GetDownPercent(uint32_t downloadId) {
  std::lock_guard<std::mutex> lk(m_downMutex);
  auto w = NPC_F_MPI_MON_Camera_PR_FindDownWork(downloadId);
  return w ? w->iDownloadPercent : 0;
}

// The wait happens outside the slot mutex (the engine thread takes it for every download
// frame); the reference taken under it keeps the list alive while a stop runs meanwhile.
NPC_S_MPI_MON_MEDIA_FRAME* NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_RecFile_GetDownFrameData(uint32_t downloadId,
                                                                                             int waitMs) {
  std::shared_ptr<NPC_S_VPI_NXTP_DOWN_WORK_DATA> w;
  {
    std::lock_guard<std::mutex> lk(m_downMutex);
    w = NPC_F_MPI_MON_Camera_PR_FindDownWork(downloadId);
  }
  return w ? NPC_F_VPI_TOOLS_MFL_OTH_GetFrameData(w->hFrameList, waitMs) : nullptr;
}

// --- Callbacks (engine thread, the call layer's mutex held) --------------------------------------

// Kind 0 (a live or playback frame) stamps the media timing and goes to the media stream
// callback or the frame list; kind 2 (download data) to the frame list of its download; kind 4
// (a thumbnail) to the thumbnail callback.
void NPC_C_VPI_NXTP_Camera::NPC_F_VPI_NXTP_SYN_CameraMediaDataCallback(void* user, uint32_t /*cameraId*/, int kind,
                                                                     uint32_t subId,
                                                                     const NPC_S_MON_MEDIA_FRAME_HEAD* head,
                                                                     const unsigned char* data, int length) {
  auto* self = static_cast<NPC_C_VPI_NXTP_Camera*>(user);
  if (!self || !head) return;
  if (length < 0) length = 0;
  switch (kind) {
    case NPC_D_NXTP_SYN_MEDIA_KIND_MEDIA: {
      self->m_qwLastFrameTime = NPC_F_MPI_MON_Camera_PR_NowSeconds();
      self->m_bGotFirstFrame = 1;
      {
        std::lock_guard<std::mutex> lk(self->m_cbMutex);
        if (self->m_fnMediaStream) {
          self->m_fnMediaStream(self->m_pMediaStreamUser, head, data, length);
          return;
        }
      }
      NPC_F_VPI_TOOLS_MFL_AddFrameData(self->m_hFrameList, head, data, length);
      break;
    }
    case NPC_D_NXTP_SYN_MEDIA_KIND_DOWNLOAD: {
      std::lock_guard<std::mutex> lk(self->m_downMutex);
      auto w = self->NPC_F_MPI_MON_Camera_PR_FindDownWork(subId);
      if (w) NPC_F_VPI_TOOLS_MFL_OTH_AddFrameData(w->hFrameList, head, data, length);
      break;
    }
    case NPC_D_NXTP_SYN_MEDIA_KIND_THUMB: {
      std::lock_guard<std::mutex> lk(self->m_cbMutex);
      if (self->m_fnFileThumb)
        self->m_fnFileThumb(self->m_pFileThumbUser, static_cast<uint32_t>(head->iTimestamp), data, length);
      break;
    }
    default:
      break;
  }
}

// Builds the caller's alarm head from the call layer's alarm record: the camera's device id,
// type, time and parameter; the text is the record's (at most 63 characters), its length counts
// the NUL.
void NPC_C_VPI_NXTP_Camera::NPC_F_VPI_NXTP_SYN_CameraAlarmDataCallback(void* user, uint32_t /*cameraId*/,
                                                                     const NPC_S_NXTP_SYN_ALARM_RECORD* record,
                                                                     int length) {
  auto* self = static_cast<NPC_C_VPI_NXTP_Camera*>(user);
  if (!self || !record || length < static_cast<int>(sizeof(NPC_S_NXTP_SYN_ALARM_RECORD))) return;
  NPC_S_MPI_MON_ALARM_HEAD head;
  memset(&head, 0, sizeof head);
  memcpy(head.DeviceID, self->m_sDeviceId, sizeof head.DeviceID);
  head.nAlarmType = record->iAlarmType;
  head.tAlarmTime = record->tAlarmTime;
  head.iAlarmParam = record->iAlarmParam;
  char text[sizeof record->sAlarmText];
  NPC_F_TEXT_CopyRaw(text, sizeof text, record->sAlarmText, sizeof record->sAlarmText);
  const int textLen = static_cast<int>(strlen(text)) + 1;
  {
    std::lock_guard<std::mutex> lk(self->m_cbMutex);
    if (self->m_fnAlarm) {
      self->m_fnAlarm(self->m_pAlarmUser, &head, text, textLen);
      return;
    }
  }
  NPC_F_VPI_TOOLS_AL_AddAlarmData(self->m_hAlarmList, &head, text, textLen);
}

void NPC_C_VPI_NXTP_Camera::NPC_F_VPI_NXTP_SYN_CameraTimerCallback(void* user, uint32_t /*cameraId*/) {
  auto* self = static_cast<NPC_C_VPI_NXTP_Camera*>(user);
  if (self) self->NPC_F_MPI_MON_Camera_PR_DoTimer();
}

// Kind 0 (the module reports the device disconnected) ends a connecting or connected session:
// state 3, cause 7, nothing playing. Kinds 2 and 3 carry a download's state and percentage.
void NPC_C_VPI_NXTP_Camera::NPC_F_VPI_NXTP_SYN_CameraStateNotifyCallback(void* user, uint32_t /*cameraId*/,
                                                                       int kind, uint32_t subId, int value,
                                                                       const char* /*text*/) {
  auto* self = static_cast<NPC_C_VPI_NXTP_Camera*>(user);
  if (!self) return;
  switch (kind) {
    case NPC_D_NXTP_SYN_STATE_KIND_DISCONNECT: {
      {
        std::lock_guard<std::mutex> sk(self->m_stateMutex);
        if (!self->NPC_F_MPI_MON_Camera_PR_IsConnected()) return;
        self->m_iDisconnectCause = NPC_D_MPI_MON_CAMERA_DISCAUSE_DEV_DISCONNECT;
        self->m_iPlayType = NPC_D_MPI_MON_CAMERA_PLAY_TYPE_LIVE;
        self->m_iPlayState = NPC_D_MPI_MON_CAMERA_PLAY_STATE_STOP;
        self->m_qwLastFrameTime = 0;
        self->m_iState = NPC_D_MPI_MON_CAMERA_STATE_DISCONNECTED;
      }
      NPC_F_LOG_SR_WriteLog(self->m_iLanguage ? kDisconnected.en : kDisconnected.cn, 2);
      break;
    }
    case NPC_D_NXTP_SYN_STATE_KIND_DOWNLOAD_STATE:
    case NPC_D_NXTP_SYN_STATE_KIND_DOWNLOAD_PERCENT: {
      std::lock_guard<std::mutex> lk(self->m_downMutex);
      auto w = self->NPC_F_MPI_MON_Camera_PR_FindDownWork(subId);
      if (!w) break;
      if (kind == NPC_D_NXTP_SYN_STATE_KIND_DOWNLOAD_STATE)
        w->iDownloadState = value;
      else
        w->iDownloadPercent = value;
      break;
    }
    default:
      break;
  }
}

// With a pass-through callback the data goes there; otherwise the list gets a copy followed by
// one zero byte, with a length that counts it.
void NPC_C_VPI_NXTP_Camera::NPC_F_VPI_NXTP_SYN_CameraP2pPortDataCallback(void* user, uint32_t /*cameraId*/,
                                                                       const unsigned char* data, int length) {
  auto* self = static_cast<NPC_C_VPI_NXTP_Camera*>(user);
  if (!self || length < 0 || (!data && length > 0)) return;
  {
    std::lock_guard<std::mutex> lk(self->m_cbMutex);
    if (self->m_fnP2pPortData) {
      self->m_fnP2pPortData(self->m_pP2pPortDataUser, self->m_pP2pPortDataExtra, data, length);
      return;
    }
  }
  std::vector<unsigned char> copy(static_cast<size_t>(length) + 1, 0);
  if (length > 0) memcpy(copy.data(), data, static_cast<size_t>(length));
  NPC_F_VPI_TOOLS_AL_AddP2pPortData(self->m_hP2pList, copy.data(), length + 1);
}

// The media time-out, about once a second. Only a playing camera is watched (a paused playback
// never times out). Before the first frame the play may take more than 29 s to start; after it a
// live view times out after 15 s without a frame, a playback after 120 s. Then the session ends
// in state 3 with cause 6.
void NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_PR_DoTimer() {
  if (m_iPlayState.load() != NPC_D_MPI_MON_CAMERA_PLAY_STATE_PLAYING) {
    m_qwLastFrameTime = 0;
    m_bGotFirstFrame = 0;
    return;
  }
  const int64_t now = NPC_F_MPI_MON_Camera_PR_NowSeconds();
  bool timedOut;
  if (!m_bGotFirstFrame.load()) {
    timedOut = now - m_qwPlayStartTime.load() > NPC_D_VPI_NXTP_FIRST_FRAME_TIMEOUT_S;
  } else {
    const int limit = m_iPlayType.load() == NPC_D_MPI_MON_CAMERA_PLAY_TYPE_RECORD ? NPC_D_VPI_NXTP_RECORD_MEDIA_TIMEOUT_S
                                                                                  : m_iLiveMediaTimeoutS;
    timedOut = now - m_qwLastFrameTime.load() >= limit;
  }
  if (!timedOut) return;
  {
    std::lock_guard<std::mutex> sk(m_stateMutex);
    // A Stop or a disconnect that came meanwhile has already ended the play.
    if (m_iPlayState.load() != NPC_D_MPI_MON_CAMERA_PLAY_STATE_PLAYING || !NPC_F_MPI_MON_Camera_PR_IsConnected())
      return;
    m_iDisconnectCause = NPC_D_MPI_MON_CAMERA_DISCAUSE_MEDIA_TIMEOUT;
    m_iTimedOutPlay = m_iPlayType.load() + 1;
    m_iPlayType = NPC_D_MPI_MON_CAMERA_PLAY_TYPE_LIVE;
    m_iPlayState = NPC_D_MPI_MON_CAMERA_PLAY_STATE_STOP;
    m_qwLastFrameTime = 0;
    m_iState = NPC_D_MPI_MON_CAMERA_STATE_DISCONNECTED;
  }
  NPC_F_LOG_SR_ShowInfo("NPC_F_MPI_MON_Camera_PR_DoTimer media data time out.");
  // The device's address and port for the log line, read without the password.
  char addr[128] = "";
  int port = 0;
  if (iConnectMode == NPC_D_MPI_MON_CONNECT_MODE_P2P) {
    if (!NPC_F_MPI_MON_VCP_P2PGeneral_GetConnParam(m_sConnParam, nullptr, nullptr, 0, addr, sizeof addr, &port,
                                                   nullptr, 0, nullptr, 0, nullptr, nullptr)) {
      addr[0] = 0;
      port = 0;
    }
  }
  NPC_F_LOG_SR_WriteLogF(m_iLanguage ? kMediaTimeout.en : kMediaTimeout.cn, addr, port);
}

// --- Operations of the catalogue that are not built yet -------------------------------------------

NPC_H_MPI_MON_RESULT_LIST NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_SearchRecFileFromDev(
    const NPC_S_TD_DATE_TIME*, const NPC_S_TD_DATE_TIME*, uint32_t) {
  NPC_F_MPI_MON_Camera_PR_NotSupport("SearchRecFileFromDev");
  return nullptr;
}
// No result list can exist yet, so the list operations have nothing to work on.
void NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_SearchColl_Release(NPC_H_MPI_MON_RESULT_LIST) {}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_SearchColl_MoveFirst(NPC_H_MPI_MON_RESULT_LIST) { return 0; }
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_SearchColl_GetNextRecFile(NPC_H_MPI_MON_RESULT_LIST,
                                                                         NPC_S_MPI_MON_REC_FILE*) {
  return 0;
}
NPC_H_MPI_MON_RESULT_LIST NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_QueryFile(int, int, uint32_t, int,
                                                                               const unsigned char*, int,
                                                                               const NPC_S_TD_DATE_TIME*,
                                                                               const NPC_S_TD_DATE_TIME*) {
  NPC_F_MPI_MON_Camera_PR_NotSupport("QueryFile");
  return nullptr;
}
NPC_H_MPI_MON_RESULT_LIST NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_QueryFileTimeRange(int, int, uint32_t, int,
                                                                                        const unsigned char*, int,
                                                                                        const NPC_S_TD_DATE_TIME*,
                                                                                        const NPC_S_TD_DATE_TIME*) {
  NPC_F_MPI_MON_Camera_PR_NotSupport("QueryFileTimeRange");
  return nullptr;
}
NPC_H_MPI_MON_RESULT_LIST NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_QueryFileDateRange(int, int, uint32_t, int,
                                                                                        const unsigned char*, int,
                                                                                        const NPC_S_TD_DATE*,
                                                                                        const NPC_S_TD_DATE*) {
  NPC_F_MPI_MON_Camera_PR_NotSupport("QueryFileDateRange");
  return nullptr;
}
void NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_FileList_Release(NPC_H_MPI_MON_RESULT_LIST) {}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_FileList_MoveFirst(NPC_H_MPI_MON_RESULT_LIST) { return 0; }
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_FileList_GetNextFile(NPC_H_MPI_MON_RESULT_LIST,
                                                                    NPC_S_MON_FILE_HEAD_INFO*) {
  return 0;
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_FileList_GetNextFileRange(NPC_H_MPI_MON_RESULT_LIST,
                                                                         NPC_S_MON_FILE_RANGE_INFO*) {
  return 0;
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_FileList_GetNextFileDate(NPC_H_MPI_MON_RESULT_LIST,
                                                                        NPC_S_MON_FILE_RECORD_DATE*) {
  return 0;
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_StartPlayFile(const NPC_S_MPI_MON_REC_FILE*, int) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("StartPlayFile");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_StartPlayFile(const NPC_S_MPI_MON_REC_FILE*, int,
                                                              NPC_F_MPI_MON_MEDIA_STREAM_CALLBACK, void*) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("StartPlayFile");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_StartPlayFile(const NPC_S_MPI_MON_REC_FILE*, int,
                                                              const NPC_S_TD_DATE_TIME*, const NPC_S_TD_DATE_TIME*,
                                                              int) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("StartPlayFile");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_StartPlaybackByTimeSect(const NPC_S_TD_DATE_TIME*,
                                                                        const NPC_S_TD_DATE_TIME*,
                                                                        const NPC_S_TD_DATE_TIME*, int, int, int,
                                                                        const unsigned char*, int) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("StartPlaybackByTimeSect");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_PlayControl(int, uint32_t) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("PlayControl");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_PlayBackSpeedControl(int, int) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("PlayBackSpeedControl");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_StartTalk(int, int, int, int) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("StartTalk");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_StartTalkV2(int, int, const unsigned char*, int, int, int, int) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("StartTalkV2");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_StartTalkEx(NPC_S_MON_MEDIA_TALK_INFO*, int) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("StartTalkEx");
}
void NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_StopTalk() { NPC_F_MPI_MON_Camera_PR_NotSupport("StopTalk"); }
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_CtrlTalkEx(int, int) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("CtrlTalkEx");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_SendVocData(int, const unsigned char*, int, int) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("SendVocData");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_SendMediaData(int, int, int, const unsigned char*, int, int) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("SendMediaData");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_SendP2PPortData(const unsigned char*, int, int) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("SendP2PPortData");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_CtrlMediaStream(int, int) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("CtrlMediaStream");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_OnlyIFrame(int) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("OnlyIFrame");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_RequForceIFrame() {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("RequForceIFrame");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_SwitchChannel(int, int) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("SwitchChannel");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_QueryChannelStreamNo(int*, int*) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("QueryChannelStreamNo");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_GetVideoQualityCapList(NPC_S_MPI_MON_VIDEO_CODEC_LEVEL_LIST*) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("GetVideoQualityCapList");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_GetCurVideoQualityLevel(int*) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("GetCurVideoQualityLevel");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_SetVideoQualityLevel(int) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("SetVideoQualityLevel");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_PtzControl(int, uint32_t, uint32_t, uint32_t, int) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("PtzControl");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_StartGetAlarmInfo() {
  NPC_F_MPI_MON_Camera_PR_NotSupport("StartGetAlarmInfo");
  return 0;
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_StopGetAlarmInfo() {
  NPC_F_MPI_MON_Camera_PR_NotSupport("StopGetAlarmInfo");
  return 0;
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_RecFile_StartDown(const char*, int, const NPC_S_TD_DATE_TIME*,
                                                                  const NPC_S_TD_DATE_TIME*, uint32_t*) {
  NPC_F_MPI_MON_Camera_PR_NotSupport("RecFile_StartDown");
  return 0;
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_RecFile_StartDownByTime(const NPC_S_TD_DATE_TIME*,
                                                                        const NPC_S_TD_DATE_TIME*, int, int,
                                                                        uint32_t*) {
  NPC_F_MPI_MON_Camera_PR_NotSupport("RecFile_StartDownByTime");
  return 0;
}
void NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_RecFile_StopDown(uint32_t) {
  NPC_F_MPI_MON_Camera_PR_NotSupport("RecFile_StopDown");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_ModifyDevPwd(const char*, const char*, const char*) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("ModifyDevPwd");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_GetConfig(int, char**, int*) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("GetConfig");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_GetConfig(int, const void*, int, char**, int*) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("GetConfig");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_SetConfig(int, const void*, int) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("SetConfig");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_GetDefConfig(int, int, char**, int*) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("GetDefConfig");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_ImportConfig(const void*, int) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("ImportConfig");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_ExportConfig(char**, int*) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("ExportConfig");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_ComOpen(int, int, int, int, int, int) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("ComOpen");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_ComClose(int, int) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("ComClose");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_ComSendData(int, int, const unsigned char*, int) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("ComSendData");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_AddUser(const char*, const char*, uint32_t, int, const uint32_t*) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("AddUser");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_DeleteUser(const char*) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("DeleteUser");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_GetUserPop(const char*, uint32_t*, int*, uint32_t*) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("GetUserPop");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_SetUserPop(const char*, uint32_t, int, const uint32_t*) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("SetUserPop");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_CallCustomFunc(int, const void*, int, char**, int*) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("CallCustomFunc");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_QueryAbility(int, char**, int*) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("QueryAbility");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_TimerSnapshot(int, char**, int*) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("TimerSnapshot");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_DevReboot() { return NPC_F_MPI_MON_Camera_PR_NotSupport("DevReboot"); }
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_DevClose() { return NPC_F_MPI_MON_Camera_PR_NotSupport("DevClose"); }
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_QueryDevVerInfo(uint16_t*, unsigned char*) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("QueryDevVerInfo");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_RequestUpgrade(int, int, int, uint32_t*) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("RequestUpgrade");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_QueryUpgradeProgress(uint32_t, int*) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("QueryUpgradeProgress");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_SendUpgradeFileData(uint32_t, const unsigned char*, int) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("SendUpgradeFileData");
}
int NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_Dev_PublicIpAddr(char**, int*) {
  return NPC_F_MPI_MON_Camera_PR_NotSupport("Dev_PublicIpAddr");
}
