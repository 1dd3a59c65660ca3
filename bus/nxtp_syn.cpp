// The synchronous call layer: transaction table and blocking calls, no-wait sends, the camera
// table with its notice dispatch and timer pass, the server orders, the pass-through operations
// and the layer's life cycle.
//
// One mutex guards the transaction table, the id counter, the camera table and the count of
// calls in progress. A waiting caller holds no lock; it sleeps on its entry's wake event, which
// the engine thread sets after it has stored the answer under the mutex. The engine thread runs
// answer matching, notice dispatch and the timer pass with the mutex held, so a camera deleted
// under the mutex gets no callback afterwards.
#include "bus/nxtp_syn.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "runtime/log.h"
#include "runtime/mem_mg.h"
#include "runtime/random.h"
#include "runtime/text.h"
#include "runtime/thread.h"

namespace {

// Bits of the ids issued for calls and no-wait sends.
constexpr uint32_t kTransIdWaitBit = 0x80000000u;
constexpr uint32_t kTransIdRandomMask = 0x7Fu;  // seven random bits at 24..30
constexpr uint32_t kTransIdCounterMask = 0x00FFFFFFu;
constexpr uint32_t kCameraTagMask = 0xFFFFu;
// How often the login wait asks, and its ceiling between two asks.
constexpr int kLoginAskIntervalMs = 100;
// A caller's thread keeps its scratch buffer for building orders up to this size.
constexpr size_t kScratchKeepCap = 256 * 1024;

struct TransEntry {
  int iUsed;
  void* hWakeEvent;  // manual reset, created on first use and kept
  uint32_t dwTransId;
  int iResult;
  int bAnswered;  // the answer is stored; later answers with the same id find no entry
  char* pAnsBuf;
  int iAnsCap;
  int iAnsLen;
};

struct CameraEntry {
  int iSlot;
  uint32_t dwCameraConnId;
  NPC_F_NXTP_SYN_MEDIA_DATA_CALLBACK fnMedia;
  void* pMediaUser;
  NPC_F_NXTP_SYN_ALARM_DATA_CALLBACK fnAlarm;
  void* pAlarmUser;
  NPC_F_NXTP_SYN_TIMER_CALLBACK fnTimer;
  void* pTimerUser;
  NPC_F_NXTP_SYN_STATE_NOTIFY_CALLBACK fnState;
  void* pStateUser;
  NPC_F_NXTP_SYN_PASS_THROUGH_CALLBACK fnPassThrough;
  void* pPassThroughUser;
};

// Holds a runtime mutex for a scope.
class Lock {
 public:
  explicit Lock(void* mutex) : m_(mutex) { NPC_F_THREAD_Mutex_Lock(m_); }
  ~Lock() { NPC_F_THREAD_Mutex_Unlock(m_); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  void* m_;
};

}  // namespace

struct NPC_S_NXTP_SYN_MODULE_DATA {
  NPC_H_NXTP_MC hBus;
  void* hMutex;
  TransEntry tTrans[NPC_D_NXTP_SYN_TRANS_NUM];
  uint32_t dwIdCounter;
  NPC_F_NXTP_UPPER_CALLBACK fnUpperCallback;
  void* pUpperUser;
  CameraEntry* pCameras[NPC_D_NXTP_SYN_CAMERA_NUM];
  uint32_t dwLastCameraTag[NPC_D_NXTP_SYN_CAMERA_NUM];  // kept after deletion: a slot's next tag differs
  // Calls and sends in progress (they use the engine); the destruction waits for them.
  int iCallsInProgress;
  int bClosing;
  void* hIdleEvent;  // manual reset; set while no call is in progress
};

namespace {

// --- Calls in progress -----------------------------------------------------------------------------

// Counts an operation that uses the engine; false once the layer is being destroyed.
bool enterCall(NPC_H_NXTP_SYN syn) {
  Lock lk(syn->hMutex);
  if (syn->bClosing) return false;
  if (syn->iCallsInProgress++ == 0) NPC_F_THREAD_Event_ResetEvent(syn->hIdleEvent);
  return true;
}

void leaveCall(NPC_H_NXTP_SYN syn) {
  Lock lk(syn->hMutex);
  if (--syn->iCallsInProgress == 0) NPC_F_THREAD_Event_SetEvent(syn->hIdleEvent);
}

// RAII form of enterCall/leaveCall.
class CallScope {
 public:
  explicit CallScope(NPC_H_NXTP_SYN syn) : syn_(syn), in_(enterCall(syn)) {}
  ~CallScope() {
    if (in_) leaveCall(syn_);
  }
  bool in() const { return in_; }
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;

 private:
  NPC_H_NXTP_SYN syn_;
  bool in_;
};

// --- Ids -------------------------------------------------------------------------------------------

// A transaction id (wait bit set) or a no-wait id: seven random bits at 24..30 and the low 24
// bits of the counter. A no-wait id is never 0 either. Mutex held.
uint32_t issueTransIdLocked(NPC_H_NXTP_SYN syn, bool wait) {
  for (;;) {
    const uint32_t rnd = NPC_F_SYS_RANDOM_Next32() & kTransIdRandomMask;
    uint32_t id = (rnd << 24) | (syn->dwIdCounter & kTransIdCounterMask);
    ++syn->dwIdCounter;
    if (wait) id |= kTransIdWaitBit;
    if (id != 0) return id;
  }
}

// --- Transaction entries ---------------------------------------------------------------------------

// Takes the lowest free entry, readies its wake event and issues its id. The index, or -1 after
// logging.
int createTrans(NPC_H_NXTP_SYN syn) {
  Lock lk(syn->hMutex);
  for (int i = 0; i < NPC_D_NXTP_SYN_TRANS_NUM; ++i) {
    TransEntry& e = syn->tTrans[i];
    if (e.iUsed) continue;
    if (!e.hWakeEvent) {
      e.hWakeEvent = NPC_F_THREAD_Event_Create(1, 0);
      if (!e.hWakeEvent) {
        NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_SYN_TRANS_PR_CreateTrans NPC_F_THREAD_Event_Create fail.", 2);
        return -1;
      }
    } else {
      NPC_F_THREAD_Event_ResetEvent(e.hWakeEvent);
    }
    e.dwTransId = issueTransIdLocked(syn, true);
    e.iResult = 0;
    e.bAnswered = 0;
    e.iUsed = 1;
    return i;
  }
  NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_SYN_TRANS_PR_CreateTrans no free pos.", 2);
  return -1;
}

// Frees an entry for the next call; its event stays. Mutex held.
void releaseTransLocked(TransEntry& e) {
  e.iUsed = 0;
  e.dwTransId = 0;
  e.bAnswered = 0;
  NPC_F_MEM_MG_FreeDataBuf(&e.pAnsBuf, &e.iAnsCap, &e.iAnsLen);
}

// Builds the order (head and a copy of the body) in the caller's scratch buffer and posts it,
// waiting up to timeoutMs for room. 1, or 0 after logging.
int postRequest(NPC_H_NXTP_SYN syn, int iMsgId, uint32_t transId, uint32_t vendorId, const void* body, int bodyLen,
                int timeoutMs) {
  thread_local std::vector<uint8_t> scratch;
  const size_t n = (!body || bodyLen < 0) ? 0 : static_cast<size_t>(bodyLen);
  int built = 0;
  try {
    built = NPC_F_PVM_MSG_BuildRequest(&scratch, iMsgId, transId, vendorId, n ? body : nullptr, n);
  } catch (const std::bad_alloc&) {
    built = 0;
  }
  if (!built) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_SYN_TRANS_PR_SendRequData malloc fail.", 2);
    return 0;
  }
  const int ok = NPC_F_NXTP_SendMsgData(syn->hBus, scratch.data(), static_cast<int>(scratch.size()), timeoutMs);
  if (scratch.capacity() > kScratchKeepCap) std::vector<uint8_t>().swap(scratch);
  if (!ok) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_SYN_TRANS_PR_SendRequData NPC_F_NXTP_SendMsgData fail.", 2);
    return 0;
  }
  return 1;
}

// --- Answers and notices (engine thread) -----------------------------------------------------------

// Stores an answer in the entry waiting for its id and wakes the caller. An answer without a
// body (or without memory for it) is logged and wakes nobody; an answer without a waiting call
// is shown as "no find" and dropped.
void doRecvTrans(NPC_H_NXTP_SYN syn, const NPC_S_PVM_ORDER_MSG_VIEW& v) {
  bool found = false;
  bool stored = false;
  {
    Lock lk(syn->hMutex);
    for (int i = 0; i < NPC_D_NXTP_SYN_TRANS_NUM; ++i) {
      TransEntry& e = syn->tTrans[i];
      if (!e.iUsed || e.bAnswered || e.dwTransId != v.tHead.dwTransId) continue;
      found = true;
      if (NPC_F_MEM_MG_SetDataToBuf(&e.pAnsBuf, &e.iAnsCap, &e.iAnsLen, v.pBody, v.tHead.iBodyLen)) {
        e.iResult = v.tHead.iResult;
        e.bAnswered = 1;
        NPC_F_THREAD_Event_SetEvent(e.hWakeEvent);
        stored = true;
      }
      break;
    }
  }
  if (!found) {
    NPC_F_LOG_SR_ShowInfoF(
        "NPC_F_NXTP_SYN_TRANS_PR_DoRecvTrans no find, iMsgId: 0x%4.4X, dwTransId: 0x%8.8X, iResult: %d.",
        static_cast<unsigned>(v.tHead.iMsgId), v.tHead.dwTransId, v.tHead.iResult);
  } else if (!stored) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_SYN_TRANS_PR_DoRecvTrans NPC_F_MEM_MG_SetDataToBuf fail.", 2);
  }
}

// The camera named by the first body field, when its slot holds exactly that id. Mutex held.
CameraEntry* findCameraLocked(NPC_H_NXTP_SYN syn, const NPC_S_PVM_ORDER_MSG_VIEW& v) {
  if (v.tHead.iBodyLen < 4) return nullptr;
  uint32_t id;
  memcpy(&id, v.pBody, 4);
  const uint32_t slot = id & 0xFFFFu;
  if (slot >= static_cast<uint32_t>(NPC_D_NXTP_SYN_CAMERA_NUM)) return nullptr;
  CameraEntry* cam = syn->pCameras[slot];
  return cam && cam->dwCameraConnId == id ? cam : nullptr;
}

// Length of the fixed part that a camera notice must carry; 0 for codes that are not camera
// notices.
int64_t cameraNoticeFixedLen(int32_t iMsgId) {
  switch (iMsgId) {
    case ORDER_MEDIA_DATA:
      return sizeof(NPC_S_PVM_ORDER_BODY_MEDIA_DATA);
    case ORDER_ALARM_DATA:
      return sizeof(NPC_S_PVM_ORDER_BODY_ALARM_DATA);
    case ORDER_NOTIFY_DISCONNECT:
      return sizeof(NPC_S_PVM_ORDER_BODY_NOTIFY_DISCONNECT);
    case ORDER_RAW_DATA:
      return sizeof(NPC_S_PVM_ORDER_BODY_RAW_DATA);
    case ORDER_THUMB_DATA:
      return sizeof(NPC_S_PVM_ORDER_BODY_THUMB_DATA);
    case EVENT_REC_DOWNLOAD_DATA:
      return sizeof(NPC_S_PVM_ORDER_BODY_REC_DOWNLOAD_DATA);
    case EVENT_REC_DOWNLOAD_STATE:
      return sizeof(NPC_S_PVM_ORDER_BODY_REC_DOWNLOAD_STATE);
    default:
      return 0;
  }
}

int32_t readI32(const uint8_t* p) {
  int32_t v;
  memcpy(&v, p, 4);
  return v;
}

// Hands a camera notice, whose body holds at least its fixed part, to the camera's callback.
// Frame data is passed as a pointer into the message; its length is what the message carries.
// The frame head is copied out (68 bytes), since the message need not be aligned for it.
void deliverCameraNotice(const CameraEntry& cam, const NPC_S_PVM_ORDER_MSG_VIEW& v) {
  const uint8_t* body = v.pBody;
  const int32_t bodyLen = v.tHead.iBodyLen;
  const uint32_t id = cam.dwCameraConnId;
  NPC_S_MON_MEDIA_FRAME_HEAD head;
  switch (v.tHead.iMsgId) {
    case ORDER_MEDIA_DATA:
      if (!cam.fnMedia) return;
      memcpy(&head, body + offsetof(NPC_S_PVM_ORDER_BODY_MEDIA_DATA, tFrameHead), sizeof head);
      cam.fnMedia(cam.pMediaUser, id, NPC_D_NXTP_SYN_MEDIA_KIND_MEDIA, 0, &head,
                  body + sizeof(NPC_S_PVM_ORDER_BODY_MEDIA_DATA),
                  bodyLen - static_cast<int32_t>(sizeof(NPC_S_PVM_ORDER_BODY_MEDIA_DATA)));
      return;
    case ORDER_ALARM_DATA: {
      if (!cam.fnAlarm) return;
      NPC_S_PVM_ORDER_BODY_ALARM_DATA a;
      memcpy(&a, body, sizeof a);
      NPC_S_NXTP_SYN_ALARM_RECORD rec{};
      rec.dwCameraConnId = id;
      rec.iAlarmType = a.iAlarmType;
      rec.tAlarmTime = a.tAlarmTime;
      rec.iAlarmParam = a.iAlarmParam;
      NPC_F_TEXT_CopyRaw(rec.sAlarmText, sizeof rec.sAlarmText, a.sAlarmText, sizeof a.sAlarmText);
      rec.iValue1 = a.iValue1;
      rec.iValue2 = a.iValue2;
      cam.fnAlarm(cam.pAlarmUser, id, &rec, static_cast<int>(sizeof rec));
      return;
    }
    case ORDER_NOTIFY_DISCONNECT: {
      if (!cam.fnState) return;
      char text[sizeof(NPC_S_PVM_ORDER_BODY_NOTIFY_DISCONNECT::sCauseText)];
      NPC_F_TEXT_CopyRaw(text, sizeof text,
                         reinterpret_cast<const char*>(body + offsetof(NPC_S_PVM_ORDER_BODY_NOTIFY_DISCONNECT, sCauseText)),
                         sizeof text);
      cam.fnState(cam.pStateUser, id, NPC_D_NXTP_SYN_STATE_KIND_DISCONNECT, 0,
                  readI32(body + offsetof(NPC_S_PVM_ORDER_BODY_NOTIFY_DISCONNECT, iCause)), text);
      return;
    }
    case ORDER_RAW_DATA:
      if (!cam.fnPassThrough) return;
      cam.fnPassThrough(cam.pPassThroughUser, id, body + sizeof(NPC_S_PVM_ORDER_BODY_RAW_DATA),
                        bodyLen - static_cast<int32_t>(sizeof(NPC_S_PVM_ORDER_BODY_RAW_DATA)));
      return;
    case ORDER_THUMB_DATA: {
      if (!cam.fnMedia) return;
      const int32_t room = bodyLen - static_cast<int32_t>(sizeof(NPC_S_PVM_ORDER_BODY_THUMB_DATA));
      int32_t len = readI32(body + offsetof(NPC_S_PVM_ORDER_BODY_THUMB_DATA, iDataLen));
      if (len < 0) len = 0;
      if (len > room) len = room;  // the notice's own length field is not trusted past the message
      memset(&head, 0, sizeof head);
      head.iMediaType = NPC_D_NXTP_SYN_MEDIA_TYPE_THUMB;
      head.iTimestamp = readI32(body + offsetof(NPC_S_PVM_ORDER_BODY_THUMB_DATA, dwThumbId));
      cam.fnMedia(cam.pMediaUser, id, NPC_D_NXTP_SYN_MEDIA_KIND_THUMB, 0, &head,
                  body + sizeof(NPC_S_PVM_ORDER_BODY_THUMB_DATA), len);
      return;
    }
    case EVENT_REC_DOWNLOAD_DATA: {
      if (!cam.fnMedia) return;
      const uint32_t downloadId =
          static_cast<uint32_t>(readI32(body + offsetof(NPC_S_PVM_ORDER_BODY_REC_DOWNLOAD_DATA, dwDownloadId)));
      memcpy(&head, body + offsetof(NPC_S_PVM_ORDER_BODY_REC_DOWNLOAD_DATA, tFrameHead), sizeof head);
      cam.fnMedia(cam.pMediaUser, id, NPC_D_NXTP_SYN_MEDIA_KIND_DOWNLOAD, downloadId, &head,
                  body + sizeof(NPC_S_PVM_ORDER_BODY_REC_DOWNLOAD_DATA),
                  bodyLen - static_cast<int32_t>(sizeof(NPC_S_PVM_ORDER_BODY_REC_DOWNLOAD_DATA)));
      return;
    }
    case EVENT_REC_DOWNLOAD_STATE: {
      if (!cam.fnState) return;
      NPC_S_PVM_ORDER_BODY_REC_DOWNLOAD_STATE s;
      memcpy(&s, body, sizeof s);
      cam.fnState(cam.pStateUser, id, NPC_D_NXTP_SYN_STATE_KIND_DOWNLOAD_STATE, s.dwDownloadId, s.iDownloadState,
                  nullptr);
      cam.fnState(cam.pStateUser, id, NPC_D_NXTP_SYN_STATE_KIND_DOWNLOAD_PERCENT, s.dwDownloadId, s.iDownloadPercent,
                  nullptr);
      return;
    }
    default:
      return;
  }
}

// A notice (dwTransId 0), dispatched under the mutex: camera notices to their camera (dropped
// when the id matches no camera or the body is shorter than the notice's fixed part), every
// other code unchanged to the upper callback.
void doNotTransEvent(NPC_H_NXTP_SYN syn, unsigned char* msg, int len, const NPC_S_PVM_ORDER_MSG_VIEW& v) {
  const int64_t fixedLen = cameraNoticeFixedLen(v.tHead.iMsgId);
  Lock lk(syn->hMutex);
  if (fixedLen == 0) {
    if (syn->fnUpperCallback) syn->fnUpperCallback(syn->pUpperUser, msg, len);
    return;
  }
  const CameraEntry* cam = findCameraLocked(syn, v);
  if (!cam) {
    if (v.tHead.iMsgId == ORDER_RAW_DATA)
      NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_SYN_TRANS_PR_DoNotTransEvent_ORDER_RAW_DATA pCameraData NULL.", 2);
    return;
  }
  if (static_cast<int64_t>(v.tHead.iBodyLen) < fixedLen) {
    NPC_F_LOG_SR_WriteLogF("NPC_F_NXTP_SYN_TRANS_PR_DoNotTransEvent iMsgId: %d, iBodyLen: %d too short.",
                           v.tHead.iMsgId, v.tHead.iBodyLen);
    return;
  }
  deliverCameraNotice(*cam, v);
}

// Frees the record and what it holds (the engine is gone, no call is in progress).
void freeLayer(NPC_H_NXTP_SYN syn) {
  for (TransEntry& e : syn->tTrans) {
    NPC_F_THREAD_Event_Destroy(e.hWakeEvent);
    NPC_F_MEM_MG_FreeDataBuf(&e.pAnsBuf, &e.iAnsCap, &e.iAnsLen);
  }
  for (CameraEntry*& cam : syn->pCameras) {
    delete cam;
    cam = nullptr;
  }
  NPC_F_THREAD_Event_Destroy(syn->hIdleEvent);
  NPC_F_THREAD_Mutex_Destroy(syn->hMutex);
  delete syn;
}

}  // namespace

// --- Call-failure texts ----------------------------------------------------------------------------

int NPC_F_MPI_MON_CLT_PR_GetCallFailInfo(int language, const char* operation, int code, char* text, int textSize) {
  if (!text || textSize <= 0) return 0;
  const char* en = NPC_D_NXTP_SYN_CALL_OTHER_EN;
  const char* zh = NPC_D_NXTP_SYN_CALL_OTHER_CN;
  switch (code) {
#define KORVEN_SYN_X(c, name, e, z) \
  case c:                           \
    if (c != 0) {                   \
      en = e;                       \
      zh = z;                       \
    }                               \
    break;
    NPC_NXTP_SYN_CALL_RESULT_LIST(KORVEN_SYN_X)
#undef KORVEN_SYN_X
    default:
      break;
  }
  // Formatted into a wide scratch buffer, then copied with the character-boundary cut.
  char scratch[1024];
  const char* op = operation ? operation : "";
  if (language)
    snprintf(scratch, sizeof scratch, "%s call fail, [%d]%s", op, code, en);
  else
    snprintf(scratch, sizeof scratch, "%s调用失败, [%d]%s", op, code, zh);
  NPC_F_TEXT_Copy(text, static_cast<size_t>(textSize), scratch);
  return 1;
}

// --- Creation and destruction ----------------------------------------------------------------------

NPC_H_NXTP_SYN NPC_F_NXTP_SYN_CreateProtocolBusServer(unsigned short localUdpPort, const char* serverIpaddr,
                                                      unsigned short serverPort, const char* p2pSrvIpaddr,
                                                      unsigned short p2pSrvPort, const char* clientIdent,
                                                      int busValue1, int busValue2, const char* userId,
                                                      int userValue, const char* userText, int connectSpecServer,
                                                      int skipNetCheck, int localUdpMode,
                                                      NPC_F_NXTP_UPPER_CALLBACK upperCallback, void* upperUser,
                                                      int transVersion, int encryptType) {
  NPC_S_NXTP_CREATE_PARAM p = NPC_F_NXTP_MakeCreateParam(
      localUdpPort, serverIpaddr, serverPort, p2pSrvIpaddr, p2pSrvPort, clientIdent, busValue1, busValue2, userId,
      userValue, userText, connectSpecServer, skipNetCheck, localUdpMode, transVersion, encryptType);
  p.fnUpperCallback = upperCallback;
  p.pUpperUser = upperUser;
  return NPC_F_NXTP_SYN_CreateProtocolBusServerEx(&p);
}

// Allocates the record, creates the mutex, then the engine with the layer's own callbacks.
NPC_H_NXTP_SYN NPC_F_NXTP_SYN_CreateProtocolBusServerEx(const NPC_S_NXTP_CREATE_PARAM* param) {
  if (!param) return nullptr;
  auto* syn = new (std::nothrow) NPC_S_NXTP_SYN_MODULE_DATA();
  if (!syn) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_SYN_CreateProtocolBusServer malloc fail.", 2);
    return nullptr;
  }
  syn->fnUpperCallback = param->fnUpperCallback;
  syn->pUpperUser = param->pUpperUser;
  syn->hMutex = NPC_F_THREAD_Mutex_Create();
  syn->hIdleEvent = syn->hMutex ? NPC_F_THREAD_Event_Create(1, 1) : nullptr;
  if (!syn->hMutex || !syn->hIdleEvent) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_SYN_TRANS_PR_InitData NPC_F_THREAD_Mutex_Create fail.", 2);
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_SYN_CreateProtocolBusServer NPC_F_NXTP_SYN_TRANS_PR_InitData fail.", 2);
    freeLayer(syn);
    return nullptr;
  }
  NPC_F_LOG_SR_ShowInfoF("Create Protocol Bus Server.[%d,%d]", param->iTransVersion, param->iEncryptType);
  NPC_S_NXTP_CREATE_PARAM p = *param;
  p.fnUpperCallback = &NPC_F_NXTP_SYN_EventDataCallback;
  p.pUpperUser = syn;
  p.fnSecondCallback = &NPC_F_NXTP_SYN_TimerCallback;
  p.pSecondUser = syn;
  syn->hBus = NPC_F_NXTP_CreateProtocolBusServerEx(&p);
  if (!syn->hBus) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_SYN_CreateProtocolBusServer NPC_F_NXTP_CreateProtocolBusServer fail.", 2);
    freeLayer(syn);
    return nullptr;
  }
  return syn;
}

// Refuses new calls, wakes the calls still waiting, waits until every call has left the layer,
// then destroys the engine (its thread ends, so no callback of this layer runs afterwards) and
// frees the rest. Answers that were still travelling die with the engine.
void NPC_F_NXTP_SYN_DestroyProtocolBusServer(NPC_H_NXTP_SYN syn) {
  if (!syn) return;
  {
    Lock lk(syn->hMutex);
    syn->bClosing = 1;
    for (TransEntry& e : syn->tTrans)
      if (e.iUsed) NPC_F_THREAD_Event_SetEvent(e.hWakeEvent);
  }
  // A caller still posting waits at most its own time-out for queue room, which the running
  // engine frees; every waiting caller has just been woken. The count is read under the mutex,
  // so the last caller has also finished with the mutex before it is destroyed.
  for (;;) {
    NPC_F_THREAD_Event_Wait(syn->hIdleEvent, 1000);
    Lock lk(syn->hMutex);
    if (syn->iCallsInProgress == 0) break;
  }
  NPC_F_NXTP_DestroyProtocolBusServer(syn->hBus);
  syn->hBus = nullptr;
  freeLayer(syn);
}

NPC_H_NXTP_MC NPC_F_NXTP_SYN_GetBusHandle(NPC_H_NXTP_SYN syn) { return syn ? syn->hBus : nullptr; }

// --- Calls -----------------------------------------------------------------------------------------

int NPC_F_NXTP_SYN_CallRemoteProcess(NPC_H_NXTP_SYN syn, int iMsgId, uint32_t vendorId, const void* body,
                                     int bodyLen, int* iResult, char** ansBuf, int* ansCap, int* ansLen,
                                     int timeoutMs) {
  if (!syn) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_SYN_CallRemoteProcess in_hNxtpSrv is NULL.", 2);
    return NPC_D_NXTP_SYN_CALL_NO_HANDLE;
  }
  CallScope scope(syn);
  if (!scope.in()) {
    // The layer is being destroyed: the engine takes no more orders.
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_SYN_TRANS_PR_SendRequData NPC_F_NXTP_SendMsgData fail.", 2);
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_SYN_TRANS_CallRemoteProcess NPC_F_NXTP_SYN_TRANS_PR_SendRequData fail.", 2);
    return NPC_D_NXTP_SYN_CALL_SEND_FAIL;
  }
  const int idx = createTrans(syn);
  if (idx < 0) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_SYN_TRANS_CallRemoteProcess NPC_F_NXTP_SYN_TRANS_PR_CreateTrans fail.", 2);
    return NPC_D_NXTP_SYN_CALL_CREATE_TRANS_FAIL;
  }
  TransEntry& e = syn->tTrans[idx];
  uint32_t transId;
  void* wake;
  {
    Lock lk(syn->hMutex);
    transId = e.dwTransId;
    wake = e.hWakeEvent;
  }
  if (!postRequest(syn, iMsgId, transId, vendorId, body, bodyLen, timeoutMs)) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_SYN_TRANS_CallRemoteProcess NPC_F_NXTP_SYN_TRANS_PR_SendRequData fail.", 2);
    Lock lk(syn->hMutex);
    releaseTransLocked(e);
    return NPC_D_NXTP_SYN_CALL_SEND_FAIL;
  }
  NPC_F_THREAD_Event_Wait(wake, timeoutMs);

  // Take the answer out of the entry under the mutex and release the entry; copy it into the
  // caller's buffer afterwards, without the lock.
  char* ans = nullptr;
  int ansLenTaken = 0;
  {
    Lock lk(syn->hMutex);
    if (!e.bAnswered) {
      releaseTransLocked(e);
      return NPC_D_NXTP_SYN_CALL_WAIT_TIMEOUT;
    }
    if (iResult) *iResult = e.iResult;
    ans = e.pAnsBuf;
    ansLenTaken = e.iAnsLen;
    e.pAnsBuf = nullptr;
    e.iAnsCap = e.iAnsLen = 0;
    releaseTransLocked(e);
  }
  int ret = NPC_D_NXTP_SYN_CALL_OK;
  if (!ansBuf || !ansCap || !ansLen || !NPC_F_MEM_MG_SetDataToBuf(ansBuf, ansCap, ansLen, ans, ansLenTaken)) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_SYN_TRANS_CallRemoteProcess NPC_F_MEM_MG_SetDataToBuf fail.", 2);
    ret = NPC_D_NXTP_SYN_CALL_ALLOC_FAIL;
  }
  std::free(ans);
  return ret;
}

int NPC_F_NXTP_SYN_SendRequData(NPC_H_NXTP_SYN syn, int iMsgId, uint32_t vendorId, const void* body, int bodyLen,
                                uint32_t* transId, int timeoutMs) {
  if (!syn) return 0;
  CallScope scope(syn);
  uint32_t id = 0;
  if (scope.in()) {
    Lock lk(syn->hMutex);
    id = issueTransIdLocked(syn, false);
  }
  if (!scope.in() || !postRequest(syn, iMsgId, id, vendorId, body, bodyLen, timeoutMs)) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_SYN_TRANS_SendRequData NPC_F_NXTP_SYN_TRANS_PR_SendRequData fail.", 2);
    return 0;
  }
  if (transId) *transId = id;
  return 1;
}

int NPC_F_NXTP_SYN_SendNoTransRequData(NPC_H_NXTP_SYN syn, const unsigned char* msg, int len) {
  if (!syn) return 0;
  CallScope scope(syn);
  if (!scope.in() || !NPC_F_NXTP_SendMsgData(syn->hBus, msg, len, 0)) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_SYN_SendNoTransRequData NPC_F_NXTP_SendMsgData fail.", 2);
    return 0;
  }
  return 1;
}

void NPC_F_NXTP_SYN_ReleaseDataBuf(char* buf) { std::free(buf); }

// --- Camera table ----------------------------------------------------------------------------------

uint32_t NPC_F_NXTP_SYN_CreateCameraData(NPC_H_NXTP_SYN syn, NPC_F_NXTP_SYN_MEDIA_DATA_CALLBACK mediaCb,
                                         void* mediaUser, NPC_F_NXTP_SYN_ALARM_DATA_CALLBACK alarmCb,
                                         void* alarmUser, NPC_F_NXTP_SYN_TIMER_CALLBACK timerCb, void* timerUser,
                                         NPC_F_NXTP_SYN_STATE_NOTIFY_CALLBACK stateCb, void* stateUser,
                                         NPC_F_NXTP_SYN_PASS_THROUGH_CALLBACK passThroughCb, void* passThroughUser) {
  if (!syn) return 0;
  Lock lk(syn->hMutex);
  for (int slot = 0; slot < NPC_D_NXTP_SYN_CAMERA_NUM; ++slot) {
    if (syn->pCameras[slot]) continue;
    auto* cam = new (std::nothrow) CameraEntry{};
    if (!cam) return 0;
    // The tag differs from the slot's previous one, so notices still travelling for a deleted
    // camera never match the camera that takes its slot, however soon.
    const uint32_t tag = NPC_F_SYS_RANDOM_NewTag(syn->dwLastCameraTag[slot], kCameraTagMask);
    syn->dwLastCameraTag[slot] = tag;
    cam->iSlot = slot;
    cam->dwCameraConnId = (tag << 16) | static_cast<uint32_t>(slot);
    cam->fnMedia = mediaCb;
    cam->pMediaUser = mediaUser;
    cam->fnAlarm = alarmCb;
    cam->pAlarmUser = alarmUser;
    cam->fnTimer = timerCb;
    cam->pTimerUser = timerUser;
    cam->fnState = stateCb;
    cam->pStateUser = stateUser;
    cam->fnPassThrough = passThroughCb;
    cam->pPassThroughUser = passThroughUser;
    syn->pCameras[slot] = cam;
    return cam->dwCameraConnId;
  }
  return 0;
}

void NPC_F_NXTP_SYN_DeleteCameraData(NPC_H_NXTP_SYN syn, uint32_t dwCameraConnId) {
  if (!syn) return;
  const uint32_t slot = dwCameraConnId & 0xFFFFu;
  if (slot >= static_cast<uint32_t>(NPC_D_NXTP_SYN_CAMERA_NUM)) return;
  Lock lk(syn->hMutex);
  CameraEntry* cam = syn->pCameras[slot];
  if (!cam || cam->dwCameraConnId != dwCameraConnId) return;
  syn->pCameras[slot] = nullptr;
  delete cam;
}

// --- Callbacks from the engine ---------------------------------------------------------------------

void NPC_F_NXTP_SYN_EventDataCallback(void* user, unsigned char* msg, int len) {
  auto* syn = static_cast<NPC_H_NXTP_SYN>(user);
  if (!syn || !msg) return;
  NPC_S_PVM_ORDER_MSG_VIEW v;
  if (!NPC_F_PVM_MSG_ReadOrderMsg(msg, len, &v)) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_SYN_EventDataCallback NPC_F_PVM_MSG_ReadOrderMsg fail.", 2);
    return;
  }
  if (v.tHead.dwTransId != 0)
    doRecvTrans(syn, v);
  else
    doNotTransEvent(syn, msg, len, v);
}

// The timer pass runs under the mutex: a camera deleted meanwhile is either called before its
// deletion or not at all.
void NPC_F_NXTP_SYN_TimerCallback(void* user) {
  auto* syn = static_cast<NPC_H_NXTP_SYN>(user);
  if (!syn) return;
  Lock lk(syn->hMutex);
  for (const CameraEntry* cam : syn->pCameras)
    if (cam && cam->fnTimer) cam->fnTimer(cam->pTimerUser, cam->dwCameraConnId);
}

// --- Server orders ---------------------------------------------------------------------------------

namespace {

// The answer of a server order; its buffer goes back to the call layer with the holder.
struct ServerAnswer {
  char* data = nullptr;
  int cap = 0;
  int len = 0;
  ServerAnswer() = default;
  ServerAnswer(const ServerAnswer&) = delete;
  ServerAnswer& operator=(const ServerAnswer&) = delete;
  ~ServerAnswer() { NPC_F_NXTP_SYN_ReleaseDataBuf(data); }
};

// Builds the order's body with build(&body) and calls the server with it; true when the body
// could be built, the call came back and the server answered success.
template <typename Build>
bool callServerOrder(NPC_H_NXTP_SYN syn, int order, Build build, ServerAnswer* ans, size_t* bodyLen, int timeoutMs) {
  std::vector<uint8_t> body;
  try {
    if (!build(&body)) return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (bodyLen) *bodyLen = body.size();
  int result = 0;
  const int ret = NPC_F_NXTP_SYN_CallRemoteProcess(syn, order, 0, body.data(), static_cast<int>(body.size()), &result,
                                                   &ans->data, &ans->cap, &ans->len, timeoutMs);
  return ret == 0 && result == 0;
}

}  // namespace

int NPC_F_NXTP_SYN_QueryDevState(NPC_H_NXTP_SYN syn, NPC_S_PVM_DEV_STATE_ENTRY* entries, int count, int* value,
                                 int timeoutMs) {
  if (!syn || !entries || count < 1) return 0;
  ServerAnswer ans;
  size_t bodyLen = 0;
  auto build = [&](std::vector<uint8_t>* body) { return NPC_F_PVM_MSG_BuildSrvQueryDevStateBody(body, entries, count, 0); };
  if (!callServerOrder(syn, ORDER_SRV_QUERY_DEV_STATE, build, &ans, &bodyLen, timeoutMs) ||
      static_cast<size_t>(ans.len) != bodyLen)
    return 0;
  NPC_S_PVM_ORDER_BODY_SRV_QUERY_DEV_STATE fixed;
  memcpy(&fixed, ans.data, sizeof fixed);
  if (fixed.iDevNum != count) return 0;
  memcpy(entries, ans.data + sizeof fixed, static_cast<size_t>(count) * sizeof(NPC_S_PVM_DEV_STATE_ENTRY));
  if (value) *value = fixed.iAnswerValue;
  return 1;
}

int NPC_F_NXTP_SYN_TransDataToDev(NPC_H_NXTP_SYN syn, const char* devId, int value, const unsigned char* data,
                                  int len, char** outBuf, int* outLen, int timeoutMs) {
  if (!syn || !devId || devId[0] == '\0' || !data || data[0] == 0 || !outBuf || !outLen) return 0;
  if (len < 1 || len > NPC_D_NXTP_SYN_TRANS_DATA_MAX_LEN) return 0;
  ServerAnswer ans;
  auto build = [&](std::vector<uint8_t>* body) {
    return NPC_F_PVM_MSG_BuildSrvTransDataBody(body, devId, value, data, static_cast<size_t>(len));
  };
  constexpr int64_t fixedLen = sizeof(NPC_S_PVM_ORDER_BODY_SRV_TRANS_DATA_TO_DEV);
  if (!callServerOrder(syn, ORDER_SRV_TRANS_DATA_TO_DEV, build, &ans, nullptr, timeoutMs) || ans.len < fixedLen)
    return 0;
  NPC_S_PVM_ORDER_BODY_SRV_TRANS_DATA_TO_DEV fixed;
  memcpy(&fixed, ans.data, sizeof fixed);
  if (fixed.iDataLen < 0 || static_cast<int64_t>(ans.len) != fixedLen + fixed.iDataLen) return 0;
  char* out = static_cast<char*>(std::malloc(static_cast<size_t>(fixed.iDataLen) + 1));
  if (!out) return 0;
  if (fixed.iDataLen > 0) memcpy(out, ans.data + fixedLen, static_cast<size_t>(fixed.iDataLen));
  out[fixed.iDataLen] = '\0';
  *outBuf = out;
  *outLen = fixed.iDataLen;
  return 1;
}

// --- Pass-through operations -----------------------------------------------------------------------

// Runs op on the engine unless the layer is absent or being destroyed; failValue otherwise.
template <typename Op>
static int passThrough(NPC_H_NXTP_SYN syn, int failValue, Op op) {
  if (!syn) return failValue;
  CallScope scope(syn);
  if (!scope.in()) return failValue;
  return op(syn->hBus);
}

int NPC_F_NXTP_SYN_SetUserClientInfo(NPC_H_NXTP_SYN syn, const char* userId, int userValue, const char* userText) {
  return passThrough(syn, 0, [&](NPC_H_NXTP_MC b) { return NPC_F_NXTP_SetUserClientInfo(b, userId, userValue, userText); });
}
int NPC_F_NXTP_SYN_QueryServerConnState(NPC_H_NXTP_SYN syn) {
  return passThrough(syn, 0, [](NPC_H_NXTP_MC b) { return NPC_F_NXTP_QueryServerConnState(b); });
}
int NPC_F_NXTP_SYN_SetPrivateTrans(NPC_H_NXTP_SYN syn, int value1, int value2) {
  return passThrough(syn, NPC_D_NXTP_SET_FAIL, [&](NPC_H_NXTP_MC b) { return NPC_F_NXTP_SetPrivateTrans(b, value1, value2); });
}
int NPC_F_NXTP_SYN_SetEncryptType(NPC_H_NXTP_SYN syn, int encryptType) {
  return passThrough(syn, NPC_D_NXTP_SET_FAIL, [&](NPC_H_NXTP_MC b) { return NPC_F_NXTP_SetEncryptType(b, encryptType); });
}
int NPC_F_NXTP_SYN_GetServerIpaddr(NPC_H_NXTP_SYN syn, char* buf, int bufLen) {
  return passThrough(syn, 0, [&](NPC_H_NXTP_MC b) { return NPC_F_NXTP_GetServerIpaddr(b, buf, bufLen); });
}
int NPC_F_NXTP_SYN_GetServerFlag(NPC_H_NXTP_SYN syn, char* buf, int bufLen) {
  return passThrough(syn, 0, [&](NPC_H_NXTP_MC b) { return NPC_F_NXTP_GetServerFlag(b, buf, bufLen); });
}
int NPC_F_NXTP_SYN_GetAuthSrvAddr(NPC_H_NXTP_SYN syn, char* buf, int bufLen, unsigned short* port) {
  return passThrough(syn, 0, [&](NPC_H_NXTP_MC b) { return NPC_F_NXTP_GetAuthSrvAddr(b, buf, bufLen, port); });
}
int NPC_F_NXTP_SYN_GetStorageSrvAddr(NPC_H_NXTP_SYN syn, unsigned char* buf, int bufLen) {
  return passThrough(syn, 0, [&](NPC_H_NXTP_MC b) { return NPC_F_NXTP_GetStorageSrvAddr(b, buf, bufLen); });
}
int NPC_F_NXTP_SYN_CheckIfLoginServerOver(NPC_H_NXTP_SYN syn) {
  return passThrough(syn, 0, [](NPC_H_NXTP_MC b) { return NPC_F_NXTP_CheckIfLoginServerOver(b); });
}
int NPC_F_NXTP_SYN_SetIdleDevP2pConnTimeout(NPC_H_NXTP_SYN syn, int seconds) {
  return passThrough(syn, 0, [&](NPC_H_NXTP_MC b) { return NPC_F_NXTP_SetIdleDevP2pConnTimeout(b, seconds); });
}
int NPC_F_NXTP_SYN_SetNetActionMsgTime(NPC_H_NXTP_SYN syn, int seconds) {
  return passThrough(syn, 0, [&](NPC_H_NXTP_MC b) { return NPC_F_NXTP_SetNetActionMsgTime(b, seconds); });
}
int NPC_F_NXTP_SYN_SetConnectSpecServer(NPC_H_NXTP_SYN syn, int flag) {
  return passThrough(syn, 0, [&](NPC_H_NXTP_MC b) { return NPC_F_NXTP_SetConnectSpecServer(b, flag); });
}
int NPC_F_NXTP_SYN_SetUdpTransConn(NPC_H_NXTP_SYN syn, int flag) {
  return passThrough(syn, 0, [&](NPC_H_NXTP_MC b) { return NPC_F_NXTP_SetUdpTransConn(b, flag); });
}
int NPC_F_NXTP_SYN_SetNicState(NPC_H_NXTP_SYN syn, int state) {
  return passThrough(syn, 0, [&](NPC_H_NXTP_MC b) { return NPC_F_NXTP_SetNicState(b, state); });
}

int NPC_F_NXTP_SYN_SetLocalUDP(NPC_H_NXTP_SYN syn, int mode, int timeout) {
  NPC_F_LOG_SR_WriteLogF("set local udp mode is %d,timout is %d", mode, timeout);
  if (!syn) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_SYN_SetLocalUDP fail,pNxtpSynModuleData is nil", 2);
    return 0;
  }
  return passThrough(syn, 0, [&](NPC_H_NXTP_MC b) { return NPC_F_NXTP_SetLocalUDP(b, mode, timeout); });
}

// Asks up to timeoutMs / 100 times; between two asks it waits for the end of the login at most
// 100 ms, so the answer comes as soon as the login ends.
int NPC_F_NXTP_SYN_WaitLoginServerState(NPC_H_NXTP_SYN syn, int timeoutMs) {
  if (!syn || timeoutMs < kLoginAskIntervalMs) return 0;
  CallScope scope(syn);
  if (!scope.in()) return 0;
  const int tries = timeoutMs / kLoginAskIntervalMs;
  for (int i = 0; i < tries; ++i) {
    if (NPC_F_NXTP_CheckIfLoginServerOver(syn->hBus)) return 1;
    NPC_F_NXTP_MC_WaitLoginServerOver(syn->hBus, kLoginAskIntervalMs);
    Lock lk(syn->hMutex);
    if (syn->bClosing) return 0;  // the layer is being destroyed: stop asking
  }
  return 0;
}
