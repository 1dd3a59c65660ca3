// The protocol bus engine's work thread: the loop (socket pass, the three queue drains, the
// timer step), order routing to the modules and to the engine's own server orders, the module
// event callback and dispatch, the once-a-second step and the quit states.
//
// Threads. Only the work thread runs the loop, the modules, the socket event engine and the
// upper and second callbacks. Other threads post into the queues and then wake the socket
// wait, so their work is handled at once; the work thread never waits for room in its own
// queues (it would wait for itself) and never wakes itself: it looks at the queues before it
// waits.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "bus/nxtp_mc_data.h"
#include "bus/pvm_msg.h"
#include "runtime/clock.h"
#include "runtime/log.h"
#include "runtime/queue.h"
#include "runtime/thread.h"

namespace {

// The engine whose loop runs on this thread (null on every other thread).
thread_local NPC_H_NXTP_MC t_pWorkBus = nullptr;

// A module event is the event kind and the vendor id, then the message.
constexpr int kProEventHeadLen = 8;
// The drains' buffer is kept between passes up to this size and freed when a pass needed more.
constexpr int kDrainBufKeepCap = 256 * 1024;
// How long the stop waits for the work thread to end.
constexpr int kThreadExitWaitMs = 5000;
// A module's own thread keeps its scratch buffer for the event copy up to this size.
constexpr size_t kScratchKeepCap = 1024 * 1024;

// The wait of the next socket pass: none when work is queued, otherwise until the
// once-a-second step is due, at most the loop's ceiling.
int computeNetWait(NPC_H_NXTP_MC bus) {
  if (NPC_F_TOOLS_QUEUE_GetCount(bus->pNetDataQueue) > 0 || NPC_F_TOOLS_QUEUE_GetCount(bus->pMsgQueue) > 0 ||
      NPC_F_TOOLS_QUEUE_GetCount(bus->pProEventQueue) > 0)
    return 0;
  // The previous pass read the tick in its timer step, just before this.
  const int64_t untilSecond = bus->qwNextSecondTick - bus->qwPassTick;
  if (untilSecond <= 0) return 0;
  return static_cast<int>(std::min<int64_t>(untilSecond, NPC_D_NXTP_MC_NET_WAIT_MS));
}

// Drains one queue without waiting into the engine's one growing buffer: at most the items
// present when the drain starts, so events that handling them posts wait for the next pass
// and the socket pass is never starved. A stop ends the drain; what is left is freed with the
// queue.
template <typename Handle>
void drainQueue(NPC_H_NXTP_MC bus, void* queue, Handle handle) {
  const int n = NPC_F_TOOLS_QUEUE_GetCount(queue);
  for (int i = 0; i < n && bus->iRunFlag.load(std::memory_order_relaxed); ++i) {
    int len = 0;
    if (!NPC_F_TOOLS_QUEUE_GetDataEx(queue, &bus->pDrainBuf, &len, &bus->iDrainBufCap, 0)) break;
    handle(reinterpret_cast<unsigned char*>(bus->pDrainBuf), len);
  }
}

// One socket event for the connection tables (work thread).
void dispatchNetEvent(NPC_H_NXTP_MC bus, const char* event, int len) {
  const NPC_S_NXTP_CONN_CONTEXT ctx = NPC_F_NXTP_MC_ConnContext(bus, NPC_F_NXTP_MC_PassTick(bus));
  NPC_F_NXTP_CONN_DoNetEvent(bus->pConnTables, &ctx, event, len);
}

// Delivery of a network message to a module, for the connection tables.
int sendNetDataToProtocol(void* user, uint32_t vendorId, unsigned char* msg, int len) {
  return NPC_F_NXTP_MC_SendNetDataToProtocol(static_cast<NPC_H_NXTP_MC>(user), vendorId, msg, len);
}

// Answers a server order in place with iResult and hands it up.
void answerServerOrder(NPC_H_NXTP_MC bus, unsigned char* msg, int len, int32_t iResult) {
  if (NPC_F_PVM_MSG_SetOrderResp(msg, len, iResult)) NPC_F_NXTP_MC_SendDataToUpApp(bus, msg, len);
}

// Checks the parameters of a server order: 1 when they lie in range.
bool serverOrderParamsOk(const NPC_S_PVM_ORDER_MSG_VIEW& v) {
  if (v.tHead.iMsgId == ORDER_SRV_QUERY_DEV_STATE) {
    NPC_S_PVM_ORDER_BODY_SRV_QUERY_DEV_STATE fixed;
    if (!NPC_F_PVM_MSG_ReadOrderBody(v, &fixed)) return false;
    if (fixed.iDevNum < 1 || fixed.iDevNum > NPC_D_PVM_SRV_QUERY_DEV_MAX_NUM) return false;
    const int64_t need = static_cast<int64_t>(sizeof(fixed)) +
                         static_cast<int64_t>(fixed.iDevNum) * static_cast<int64_t>(sizeof(NPC_S_PVM_DEV_STATE_ENTRY));
    return v.tHead.iBodyLen >= need;
  }
  NPC_S_PVM_ORDER_BODY_SRV_TRANS_DATA_TO_DEV fixed;
  if (!NPC_F_PVM_MSG_ReadOrderBody(v, &fixed)) return false;
  if (fixed.sDevId[0] == '\0') return false;
  if (fixed.iDataLen < 1 || fixed.iDataLen > NPC_D_PVM_SRV_TRANS_DATA_MAX_LEN) return false;
  return static_cast<int64_t>(v.tHead.iBodyLen) >= static_cast<int64_t>(sizeof(fixed)) + fixed.iDataLen;
}

// The server orders 257 and 258: checked, then forwarded over the server order link; without a
// link (or when it cannot send) they are answered with "not sent".
int doServerOrder(NPC_H_NXTP_MC bus, unsigned char* msg, int len, const NPC_S_PVM_ORDER_MSG_VIEW& v) {
  if (!serverOrderParamsOk(v)) {
    answerServerOrder(bus, msg, len, NPC_D_NXTP_SRV_ORDER_RESULT_PARAM_ERROR);
    return 1;
  }
  const NPC_S_NXTP_SRV_ORDER_LINK& link = bus->tSrvOrderLink;
  if (link.pfnSendOrder && link.pfnSendOrder(link.pUser, bus, msg, len)) return 1;
  answerServerOrder(bus, msg, len, NPC_D_NXTP_SRV_ORDER_RESULT_NOT_SENT);
  return 1;
}

}  // namespace

// --- Thread ------------------------------------------------------------------------------------

NPC_S_NXTP_CONN_CONTEXT NPC_F_NXTP_MC_ConnContext(NPC_H_NXTP_MC bus, int64_t nowTick) {
  NPC_S_NXTP_CONN_CONTEXT ctx{};
  ctx.hNetcom = bus->hNetcom;
  ctx.pfnSendNetDataToProtocol = &sendNetDataToProtocol;
  ctx.pUser = bus;
  ctx.qwNowTick = nowTick;
  return ctx;
}

bool NPC_F_NXTP_MC_IsWorkThread(NPC_H_NXTP_MC bus) { return bus && t_pWorkBus == bus; }

int64_t NPC_F_NXTP_MC_PassTick(NPC_H_NXTP_MC bus) {
  if (!bus->bPassTickRead) {
    bus->qwPassTick = NPC_F_SYS_GetTickCount64();
    bus->bPassTickRead = true;
  }
  return bus->qwPassTick;
}

void NPC_F_NXTP_MC_WakeUp(NPC_H_NXTP_MC bus) {
  if (!bus) return;
  std::lock_guard<std::mutex> lk(bus->tWakeMutex);
  if (bus->hNetcom) NPC_F_NETCOM_WakeUp(bus->hNetcom);
}

// A busy loop finds the new item on its own before it waits again; only a loop that is waiting
// (or about to) needs the wake-up, which saves a system call per order under load.
void NPC_F_NXTP_MC_WakeUpForQueue(NPC_H_NXTP_MC bus) {
  if (bus && bus->bInNetWait.load()) NPC_F_NXTP_MC_WakeUp(bus);
}

// Sets the run flag and starts the work thread; the first pass runs the once-a-second step.
int NPC_F_NXTP_MC_StartThread(NPC_H_NXTP_MC bus) {
  bus->iRunFlag = 1;
  bus->qwNextSecondTick = NPC_F_SYS_GetTickCount64();
  bus->qwPassTick = bus->qwNextSecondTick;
  bus->hThread = NPC_F_THREAD_CreateThread(&NPC_F_NXTP_MC_ThreadWork, bus);
  if (!bus->hThread) {
    bus->iRunFlag = 0;
    return 0;
  }
  return 1;
}

// Clears the run flag, wakes the loop and waits up to 5000 ms for the thread to end.
void NPC_F_NXTP_MC_QuitThread(NPC_H_NXTP_MC bus) {
  if (!bus->hThread) return;
  bus->iRunFlag = 0;
  NPC_F_NXTP_MC_WakeUp(bus);
  NPC_F_THREAD_WaitExitThread(bus->hThread, kThreadExitWaitMs);
  bus->hThread = nullptr;
}

// The work loop: socket pass, the three drains, the timer step, until the run flag clears.
void NPC_F_NXTP_MC_ThreadWork(void* arg) {
  auto* bus = static_cast<NPC_H_NXTP_MC>(arg);
  t_pWorkBus = bus;
  while (bus->iRunFlag.load()) {
    bus->bInNetWait.store(true);
    const int waitMs = computeNetWait(bus);
    bus->bPassTickRead = false;
    NPC_F_NETCOM_DoNetEvent(bus->hNetcom, waitMs);
    bus->bInNetWait.store(false);
    NPC_F_NXTP_MC_DoNetDataQueue(bus);
    NPC_F_NXTP_MC_DoMsgQueue(bus);
    NPC_F_NXTP_MC_DoProEventQueue(bus);
    NPC_F_NXTP_MC_DoTimer(bus);
    if (bus->iDrainBufCap > kDrainBufKeepCap) {
      NPC_F_TOOLS_QUEUE_FreeMemory(&bus->pDrainBuf);
      bus->iDrainBufCap = 0;
    }
  }
  t_pWorkBus = nullptr;
}

// --- Drains --------------------------------------------------------------------------------------

void NPC_F_NXTP_MC_DoNetDataQueue(NPC_H_NXTP_MC bus) {
  drainQueue(bus, bus->pNetDataQueue,
             [bus](unsigned char* ev, int len) { dispatchNetEvent(bus, reinterpret_cast<const char*>(ev), len); });
}

void NPC_F_NXTP_MC_DoMsgQueue(NPC_H_NXTP_MC bus) {
  drainQueue(bus, bus->pMsgQueue, [bus](unsigned char* msg, int len) {
    uint32_t vendorId = 0;
    if (len >= NPC_D_PVM_ORDER_MSG_HEAD_LEN) memcpy(&vendorId, msg + offsetof(NPC_S_PVM_ORDER_MSG_HEAD, dwVendorId), 4);
    if (!NPC_F_NXTP_MC_SendOrderDataToProtocol(bus, vendorId, msg, len))
      NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_MC_DoMsgQueue NPC_F_NXTP_MC_SendOrderDataToProtocol fail.", 2);
  });
}

void NPC_F_NXTP_MC_DoProEventQueue(NPC_H_NXTP_MC bus) {
  drainQueue(bus, bus->pProEventQueue, [bus](unsigned char* item, int len) {
    if (len <= kProEventHeadLen) return;
    int32_t eventKind;
    uint32_t vendorId;
    memcpy(&eventKind, item, 4);
    memcpy(&vendorId, item + 4, 4);
    NPC_F_NXTP_MC_WPVM_DoVendorProtEvent(bus, eventKind, vendorId, item + kProEventHeadLen, len - kProEventHeadLen);
  });
}

// --- Routing -------------------------------------------------------------------------------------

// Orders 257 and 258 are the engine's own; every other order goes whole to the module of the
// head's vendor id. A malformed order, or one without a module, is dropped (0) and produces no
// answer.
int NPC_F_NXTP_MC_SendOrderDataToProtocol(NPC_H_NXTP_MC bus, uint32_t vendorId, unsigned char* msg, int len) {
  NPC_S_PVM_ORDER_MSG_VIEW v;
  if (!NPC_F_PVM_MSG_ReadOrderMsg(msg, len, &v)) return 0;
  if (v.tHead.iMsgId == ORDER_SRV_QUERY_DEV_STATE || v.tHead.iMsgId == ORDER_SRV_TRANS_DATA_TO_DEV)
    return doServerOrder(bus, msg, len, v);
  NPC_S_NXTP_VENDOR_DATA* vendor = NPC_F_NXTP_MC_QueryVendorDataByVendorId(bus, vendorId);
  if (!vendor) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_MC_SendOrderDataToProtocol NPC_F_NXTP_MC_QueryVendorDataByVendorId fail.", 2);
    return 0;
  }
  if (!vendor->pVendorProtObj) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_MC_SendOrderDataToProtocol pVendorProtObj is NULL.", 2);
    return 0;
  }
  vendor->pVendorProtObj->NPC_F_PVM_InputUpOrderData(msg, len);
  return 1;
}

int NPC_F_NXTP_MC_SendNetDataToProtocol(NPC_H_NXTP_MC bus, uint32_t vendorId, unsigned char* msg, int len) {
  if (!bus || !msg || len <= 0) return 0;
  NPC_S_NXTP_VENDOR_DATA* vendor = NPC_F_NXTP_MC_QueryVendorDataByVendorId(bus, vendorId);
  if (!vendor || !vendor->pVendorProtObj) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_MC_SendNetDataToProtocol NPC_F_NXTP_MC_QueryVendorDataByVendorId fail.", 2);
    return 0;
  }
  vendor->pVendorProtObj->NPC_F_PVM_InputNetData(msg, len);
  return 1;
}

void NPC_F_NXTP_MC_SendDataToUpApp(NPC_H_NXTP_MC bus, unsigned char* msg, int len) {
  if (!bus || !msg || len <= 0 || !bus->fnUpperCallback) return;
  bus->fnUpperCallback(bus->pUpperUser, msg, len);
}

// Order messages (event kind other than 0) go up unchanged; network messages go to their
// handlers by code.
void NPC_F_NXTP_MC_WPVM_DoVendorProtEvent(NPC_H_NXTP_MC bus, int eventKind, uint32_t vendorId, unsigned char* msg,
                                          int len) {
  if (eventKind != NPC_D_PVM_EVENT_TYPE_NET_DATA) {
    NPC_F_NXTP_MC_SendDataToUpApp(bus, msg, len);
    return;
  }
  const NPC_S_NXTP_CONN_CONTEXT ctx = NPC_F_NXTP_MC_ConnContext(bus, NPC_F_NXTP_MC_PassTick(bus));
  NPC_F_NXTP_CONN_DoProtNetMsg(bus->pConnTables, &ctx, vendorId, msg, len);
}

// --- Callbacks into the engine -------------------------------------------------------------------

// Copies (event kind, vendor id, message) into the module event queue in one item. The copy is
// built in a per-thread scratch buffer, so a module's thread allocates only when a message
// outgrows it.
void NPC_F_NXTP_MC_PVM_EventCallback(void* user, int eventKind, unsigned int vendorId, unsigned char* msg, int len) {
  auto* bus = static_cast<NPC_H_NXTP_MC>(user);
  if (!bus || !msg || len <= 0) return;
  thread_local std::vector<unsigned char> scratch;
  const size_t total = static_cast<size_t>(len) + kProEventHeadLen;
  bool ok = false;
  const bool self = NPC_F_NXTP_MC_IsWorkThread(bus);
  if (total <= static_cast<size_t>(INT32_MAX)) {
    try {
      if (scratch.size() < total) scratch.resize(total);
      const int32_t kind = eventKind;
      const uint32_t vendor = vendorId;
      memcpy(scratch.data(), &kind, 4);
      memcpy(scratch.data() + 4, &vendor, 4);
      memcpy(scratch.data() + kProEventHeadLen, msg, static_cast<size_t>(len));
      ok = NPC_F_TOOLS_QUEUE_SetData(bus->pProEventQueue, scratch.data(), static_cast<int>(total),
                                     self ? 0 : NPC_D_NXTP_MC_EVENT_POST_WAIT_MS) != 0;
    } catch (const std::bad_alloc&) {
      ok = false;
    }
  }
  if (scratch.capacity() > kScratchKeepCap) std::vector<unsigned char>().swap(scratch);
  if (!ok) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_MC_PVM_EventCallback NPC_F_TOOLS_QUEUE_SetData fail.", 2);
    return;
  }
  if (!self) NPC_F_NXTP_MC_WakeUpForQueue(bus);
}

// Socket events come from the socket pass on the work thread and are dispatched there at once,
// straight from the socket engine's buffer (no queue copy). An event from any other thread goes
// through the network data queue.
void NPC_F_NXTP_MC_NETCOM_EventCallback(void* user, const char* event, int eventLen) {
  auto* bus = static_cast<NPC_H_NXTP_MC>(user);
  if (!bus || !event || eventLen <= 0) return;
  if (NPC_F_NXTP_MC_IsWorkThread(bus)) {
    dispatchNetEvent(bus, event, eventLen);
    return;
  }
  if (!NPC_F_TOOLS_QUEUE_SetData(bus->pNetDataQueue, event, eventLen, NPC_D_NXTP_MC_EVENT_POST_WAIT_MS)) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_MC_NETCOM_EventCallback NPC_F_TOOLS_QUEUE_SetData fail.", 2);
    return;
  }
  NPC_F_NXTP_MC_WakeUpForQueue(bus);
}

// --- Timer step ----------------------------------------------------------------------------------

// Runs on every pass. The clock is read once; the once-a-second step follows the monotonic
// tick, so a wall-clock step backwards never stops it.
void NPC_F_NXTP_MC_DoTimer(NPC_H_NXTP_MC bus) {
  const int64_t now = NPC_F_NXTP_MC_PassTick(bus);
  const NPC_S_NXTP_CONN_CONTEXT ctx = NPC_F_NXTP_MC_ConnContext(bus, now);
  // 1. The reliable UDP timer and 2. the server connection timer run here once they exist.
  // 3. The device connections: their timers and the delayed close of logical connections.
  NPC_F_NXTP_CONN_DoTimer(bus->pConnTables, &ctx);
  // 4. Every module's timer, in table order.
  for (int i = 0; i < bus->iVendorNum; ++i) {
    NPC_S_NXTP_VENDOR_DATA* v = bus->pVendorTable[i];
    if (v && v->pVendorProtObj) v->pVendorProtObj->NPC_F_PVM_Timer();
  }
  // 5. Once a second: the second-tick callback, then the connect time-outs.
  if (now >= bus->qwNextSecondTick) {
    bus->qwNextSecondTick += 1000;
    if (bus->qwNextSecondTick <= now) bus->qwNextSecondTick = now + 1000;
    if (bus->fnSecondCallback) bus->fnSecondCallback(bus->pSecondUser);
    NPC_F_NXTP_CONN_DoSecondTimer(bus->pConnTables, &ctx);
  }
  // 6. A requested quit: log off from the server (once the server login exists), then state 2.
  if (bus->iQuitState.load() == NPC_D_NXTP_MC_QUIT_STATE_REQUESTED) {
    NPC_F_LOG_SR_WriteLog("iQuitState is 1.", 2);
    bus->iQuitState = NPC_D_NXTP_MC_QUIT_STATE_SRV_DISCONNECTED;
    NPC_F_THREAD_Event_SetEvent(bus->hQuitDoneEvent);
  }
}
