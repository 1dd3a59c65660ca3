// The protocol bus engine's life cycle and its settings: creation with its parameters, the
// start sequence (queues, network side, modules, work thread), the ordered stop, the setters
// and getters that other threads call, and the server state queries.
//
// The start sequence lives in NPC_F_NXTP_MC_StartProtocolBusServer alone, step by step; steps
// that belong to mechanisms not present in this engine (reliable UDP, the network check, the
// inner-network search, the server login) have their places marked there and in the stop.
#include "bus/nxtp_mc.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "bus/nxtp_mc_data.h"
#include "bus/pvm_msg.h"
#include "runtime/clock.h"
#include "runtime/log.h"
#include "runtime/queue.h"
#include "runtime/random.h"
#include "runtime/text.h"
#include "runtime/thread.h"

namespace {

constexpr int kLogBufSize = 4096;
// How long the stop gives the loop to log off from the server before it ends the thread.
constexpr int kQuitLogoffWaitMs = 200;
// Random picks of the local UDP port tried before giving up (a picked port may be taken).
constexpr int kRandomUdpPortTries = 8;

const char* textOrEmpty(const char* s) { return s ? s : ""; }

// Wakes the work thread when a test moves the fake clock, so that time rules run at once.
void clockAdvanceHook(void* user) { NPC_F_NXTP_MC_WakeUp(static_cast<NPC_H_NXTP_MC>(user)); }

// Step 2 of the start: the socket event engine without a thread of its own and the engine's
// main UDP port (a random port from 20032 to 30031 when 0 was asked for). 1, or 0 after
// logging the failing step.
int startNetServer(NPC_H_NXTP_MC bus) {
  NPC_H_NETCOM net = NPC_F_NETCOM_StartNetServerByNoThread(&NPC_F_NXTP_MC_NETCOM_EventCallback, bus,
                                                           bus->iLocalUdpMode.load() != 0 ? 1 : 0);
  if (!net) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_MC_StartNetServer StartNetServerByNoThread fail.", 2);
    return 0;
  }
  {
    std::lock_guard<std::mutex> lk(bus->tWakeMutex);
    bus->hNetcom = net;
  }
  bus->iClockHookId = NPC_F_SYS_CLOCK_AddHook(&clockAdvanceHook, bus);

  const bool randomPort = bus->usLocalUdpPort == 0;
  int ok = 0;
  for (int i = 0; i < (randomPort ? kRandomUdpPortTries : 1) && !ok; ++i) {
    unsigned short port = bus->usLocalUdpPort;
    if (randomPort)
      port = static_cast<unsigned short>(NPC_D_NXTP_MC_RANDOM_UDP_PORT_BASE +
                                         NPC_F_SYS_RANDOM_Below(NPC_D_NXTP_MC_RANDOM_UDP_PORT_NUM));
    uint32_t portId = 0;
    ok = NPC_F_NETCOM_StartUdpListen(bus->hNetcom, &port, &portId);
    if (ok) {
      bus->usLocalUdpPort = port;
      bus->dwUdpPortId = portId;
    }
  }
  if (!ok) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_MC_StartNetServer NPC_F_NETCOM_StartUdpListen fail.", 2);
    return 0;
  }
  bus->pConnTables = NPC_F_NXTP_CONN_CreateTables();
  const NPC_S_NXTP_CONN_CONTEXT ctx = NPC_F_NXTP_MC_ConnContext(bus, NPC_F_SYS_GetTickCount64());
  if (!bus->pConnTables || !NPC_F_NXTP_MC_CreateNetPortData(bus->pConnTables, &ctx, bus->dwUdpPortId, 1,
                                                             NPC_D_NXTP_PORT_KIND_MAIN_UDP,
                                                             NPC_D_NXTP_PORT_STATE_CONNECTED)) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_MC_StartNetServer NPC_F_NXTP_MC_CreateNetPortData fail.", 2);
    return 0;
  }
  // The reliable UDP module joins here with the reliable UDP layer.
  return 1;
}

}  // namespace

// --- Initialisation of the record ----------------------------------------------------------------

// Creates the three queues and the two log work buffers and sets the defaults of the settings.
// 1, or 0 after logging; what was made is freed by NPC_F_NXTP_MC_UninitData.
int NPC_F_NXTP_MC_InitData(NPC_H_NXTP_MC bus) {
  if (!NPC_F_TOOLS_QUEUE_InitQueue(&bus->pNetDataQueue, NPC_D_NXTP_MC_QUEUE_SIZE) ||
      !NPC_F_TOOLS_QUEUE_InitQueue(&bus->pMsgQueue, NPC_D_NXTP_MC_QUEUE_SIZE) ||
      !NPC_F_TOOLS_QUEUE_InitQueue(&bus->pProEventQueue, NPC_D_NXTP_MC_QUEUE_SIZE)) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_MC_InitData NPC_F_TOOLS_QUEUE_InitQueue fail.", 2);
    return 0;
  }
  bus->pLogBuf1 = static_cast<char*>(std::calloc(1, kLogBufSize));
  bus->pLogBuf2 = static_cast<char*>(std::calloc(1, kLogBufSize));
  bus->hQuitDoneEvent = NPC_F_THREAD_Event_Create(1, 0);
  bus->hLoginOverEvent = NPC_F_THREAD_Event_Create(1, 0);
  if (!bus->pLogBuf1 || !bus->pLogBuf2 || !bus->hQuitDoneEvent || !bus->hLoginOverEvent) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_MC_InitData malloc fail.", 2);
    return 0;
  }
  bus->iIdleDevP2pConnTimeout = 600;
  bus->iNetActionMsgTime = 10;
  bus->qwNetActionMsgSetTick = 0;
  bus->iNicState = 1;
  bus->qwNicStateChangeTick = 0;
  bus->iUdpTransConn = 0;
  bus->iLocalUdpTimeout = 5;
  bus->iPrivateTrans1 = 0;
  bus->iPrivateTrans2 = 0;
  // No server login runs in this engine: the attempt counts as ended from the start.
  NPC_F_NXTP_MC_SetLoginServerOver(bus, 1);
  return 1;
}

// Frees the queues with whatever they still hold, the buffers and the events.
void NPC_F_NXTP_MC_UninitData(NPC_H_NXTP_MC bus) {
  NPC_F_TOOLS_QUEUE_FreeQueue(&bus->pNetDataQueue);
  NPC_F_TOOLS_QUEUE_FreeQueue(&bus->pMsgQueue);
  NPC_F_TOOLS_QUEUE_FreeQueue(&bus->pProEventQueue);
  std::free(bus->pLogBuf1);
  std::free(bus->pLogBuf2);
  std::free(bus->pDrainBuf);
  bus->pLogBuf1 = bus->pLogBuf2 = bus->pDrainBuf = nullptr;
  bus->iDrainBufCap = 0;
  NPC_F_THREAD_Event_Destroy(bus->hQuitDoneEvent);
  NPC_F_THREAD_Event_Destroy(bus->hLoginOverEvent);
  bus->hQuitDoneEvent = bus->hLoginOverEvent = nullptr;
}

// --- Start and stop ------------------------------------------------------------------------------

// The start sequence, in its fixed order. Each step logs its own failure; the caller stops
// whatever was started.
int NPC_F_NXTP_MC_StartProtocolBusServer(NPC_H_NXTP_MC bus) {
  // 1. Queues, work buffers, default settings.
  if (!NPC_F_NXTP_MC_InitData(bus)) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_MC_StartProtocolBusServer NPC_F_NXTP_MC_InitData fail.", 2);
    return 0;
  }
  // 2. The network side: socket event engine and main UDP port (then the reliable UDP module).
  if (!startNetServer(bus)) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_MC_StartProtocolBusServer NPC_F_NXTP_MC_StartNetServer fail.", 2);
    return 0;
  }
  // 3. The network check (unless the creator asked to skip it) starts here once it exists.
  // 4. The device protocol modules, in the fixed order.
  if (!NPC_F_NXTP_MC_InitVendorModule(bus)) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_MC_StartProtocolBusServer NPC_F_NXTP_MC_InitVendorModule fail.", 2);
    return 0;
  }
  // 5. The inner-network device search starts here once it exists.
  // 6. The work thread.
  if (!NPC_F_NXTP_MC_StartThread(bus)) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_MC_StartProtocolBusServer NPC_F_NXTP_MC_StartThread fail.", 2);
    return 0;
  }
  return 1;
}

// The ordered stop; also undoes a start that failed part-way (every step checks what exists).
// Quit state 1 lets the loop log off from the server (it sets state 2, which ends the wait at
// once); then the thread ends, the sockets close, every module is uninitialised and destroyed
// and the queues are freed with what they still hold.
void NPC_F_NXTP_MC_StopProtocolBusServer(NPC_H_NXTP_MC bus) {
  if (bus->hThread) {
    bus->iQuitState = NPC_D_NXTP_MC_QUIT_STATE_REQUESTED;
    NPC_F_NXTP_MC_WakeUp(bus);
    NPC_F_THREAD_Event_Wait(bus->hQuitDoneEvent, kQuitLogoffWaitMs);
  }
  NPC_F_NXTP_MC_QuitThread(bus);
  if (bus->iClockHookId) {
    NPC_F_SYS_CLOCK_RemoveHook(bus->iClockHookId);
    bus->iClockHookId = 0;
  }
  NPC_H_NETCOM net;
  {
    std::lock_guard<std::mutex> lk(bus->tWakeMutex);
    net = bus->hNetcom;
    bus->hNetcom = nullptr;
  }
  if (net) {
    NPC_F_NETCOM_CloseNetServer(net);
    bus->dwUdpPortId = 0;
  }
  // The socket engine has closed every socket; the records go without a word to the modules.
  NPC_F_NXTP_CONN_DestroyTables(bus->pConnTables);
  bus->pConnTables = nullptr;
  // The reliable UDP module, the inner-network search and the network check server stop here
  // once they exist.
  NPC_F_NXTP_MC_UninitVendorModule(bus);
  NPC_F_NXTP_MC_UninitData(bus);
}

// --- Creation ------------------------------------------------------------------------------------

NPC_H_NXTP_MC NPC_F_NXTP_CreateProtocolBusServer(unsigned short localUdpPort, const char* serverIpaddr,
                                                 unsigned short serverPort, const char* p2pSrvIpaddr,
                                                 unsigned short p2pSrvPort, const char* clientIdent, int busValue1,
                                                 int busValue2, const char* userId, int userValue,
                                                 const char* userText, int connectSpecServer, int skipNetCheck,
                                                 int localUdpMode, NPC_F_NXTP_UPPER_CALLBACK upperCallback,
                                                 void* upperUser, NPC_F_NXTP_SECOND_CALLBACK secondCallback,
                                                 void* secondUser, int transVersion, int encryptType) {
  NPC_S_NXTP_CREATE_PARAM p = NPC_F_NXTP_MakeCreateParam(
      localUdpPort, serverIpaddr, serverPort, p2pSrvIpaddr, p2pSrvPort, clientIdent, busValue1, busValue2, userId,
      userValue, userText, connectSpecServer, skipNetCheck, localUdpMode, transVersion, encryptType);
  p.fnUpperCallback = upperCallback;
  p.pUpperUser = upperUser;
  p.fnSecondCallback = secondCallback;
  p.pSecondUser = secondUser;
  return NPC_F_NXTP_CreateProtocolBusServerEx(&p);
}

NPC_S_NXTP_CREATE_PARAM NPC_F_NXTP_MakeCreateParam(unsigned short localUdpPort, const char* serverIpaddr,
                                                   unsigned short serverPort, const char* p2pSrvIpaddr,
                                                   unsigned short p2pSrvPort, const char* clientIdent, int busValue1,
                                                   int busValue2, const char* userId, int userValue,
                                                   const char* userText, int connectSpecServer, int skipNetCheck,
                                                   int localUdpMode, int transVersion, int encryptType) {
  NPC_S_NXTP_CREATE_PARAM p{};
  p.usLocalUdpPort = localUdpPort;
  p.sServerIpaddr = serverIpaddr;
  p.usServerPort = serverPort;
  p.sP2pSrvIpaddr = p2pSrvIpaddr;
  p.usP2pSrvPort = p2pSrvPort;
  p.sClientIdent = clientIdent;
  p.iBusValue1 = busValue1;
  p.iBusValue2 = busValue2;
  p.sUserId = userId;
  p.iUserValue = userValue;
  p.sUserText = userText;
  p.iConnectSpecServer = connectSpecServer;
  p.iSkipNetCheck = skipNetCheck;
  p.iLocalUdpMode = localUdpMode;
  p.iTransVersion = transVersion;
  p.iEncryptType = encryptType;
  return p;
}

NPC_S_NXTP_CREATE_PARAM NPC_F_NXTP_MakeLocalCreateParam(const NPC_S_NXTP_MODULE_TABLE* modules) {
  NPC_S_NXTP_CREATE_PARAM p = NPC_F_NXTP_MakeCreateParam(0, "", 0, NPC_D_NXTP_NO_SERVER_IPADDR, 0, "", 0, 0, "", 0, "",
                                                         0, 1, 0, 1, 0);
  p.pModuleTable = modules;
  return p;
}

// Allocates and zeroes the record, copies the parameters, starts the engine. On a failed start
// everything started is stopped and null returned.
NPC_H_NXTP_MC NPC_F_NXTP_CreateProtocolBusServerEx(const NPC_S_NXTP_CREATE_PARAM* param) {
  if (!param) return nullptr;
  auto* bus = new (std::nothrow) NPC_S_NXTP_MCSERVER_DATA();
  if (!bus) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_CreateProtocolBusServer malloc fail.", 2);
    return nullptr;
  }
  bus->usLocalUdpPort = param->usLocalUdpPort;
  NPC_F_TEXT_CopyRaw(bus->sServerIpaddr, sizeof(bus->sServerIpaddr), textOrEmpty(param->sServerIpaddr), 128);
  bus->usServerPort = param->usServerPort;
  NPC_F_TEXT_CopyRaw(bus->sP2pSrvIpaddr, sizeof(bus->sP2pSrvIpaddr), textOrEmpty(param->sP2pSrvIpaddr), 16);
  bus->usP2pSrvPort = param->usP2pSrvPort;
  NPC_F_TEXT_CopyRaw(bus->sClientIdent, sizeof(bus->sClientIdent), textOrEmpty(param->sClientIdent), 32);
  bus->iBusValue1 = param->iBusValue1;
  bus->iBusValue2 = param->iBusValue2;
  NPC_F_TEXT_CopyRaw(bus->sUserId, sizeof(bus->sUserId), textOrEmpty(param->sUserId), 32);
  bus->iUserValue = param->iUserValue;
  NPC_F_TEXT_Copy(bus->sUserText, sizeof(bus->sUserText), textOrEmpty(param->sUserText));
  bus->iConnectSpecServer = param->iConnectSpecServer;
  bus->iSkipNetCheck = param->iSkipNetCheck;
  bus->iLocalUdpMode = param->iLocalUdpMode;
  bus->fnUpperCallback = param->fnUpperCallback;
  bus->pUpperUser = param->pUpperUser;
  bus->fnSecondCallback = param->fnSecondCallback;
  bus->pSecondUser = param->pSecondUser;
  bus->iTransVersion = param->iTransVersion;
  bus->iEncryptType = param->iEncryptType;
  bus->tSrvOrderLink = param->tSrvOrderLink;
  bus->pModuleTable = param->pModuleTable ? param->pModuleTable : NPC_F_NXTP_GetModuleTable();

  if (!NPC_F_NXTP_MC_StartProtocolBusServer(bus)) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_CreateProtocolBusServer NPC_F_NXTP_MC_StartProtocolBusServer fail.", 2);
    NPC_F_NXTP_MC_StopProtocolBusServer(bus);
    delete bus;
    return nullptr;
  }
  return bus;
}

void NPC_F_NXTP_DestroyProtocolBusServer(NPC_H_NXTP_MC bus) {
  if (!bus) return;
  NPC_F_NXTP_MC_StopProtocolBusServer(bus);
  delete bus;
}

// --- Orders --------------------------------------------------------------------------------------

// Queues a copy and wakes the work thread. The work thread itself never waits for room in its
// own queue: it would wait for itself.
int NPC_F_NXTP_SendMsgData(NPC_H_NXTP_MC bus, const unsigned char* msg, int len, int timeoutMs) {
  if (!bus || !msg || len <= 0 || !bus->pMsgQueue) return 0;
  const bool self = NPC_F_NXTP_MC_IsWorkThread(bus);
  if (!NPC_F_TOOLS_QUEUE_SetData(bus->pMsgQueue, msg, len, self ? 0 : timeoutMs)) return 0;
  if (!self) NPC_F_NXTP_MC_WakeUpForQueue(bus);
  return 1;
}

// --- Server state --------------------------------------------------------------------------------

int NPC_F_NXTP_QueryServerConnState(NPC_H_NXTP_MC bus) {
  if (!bus) return 0;
  if (strcmp(bus->sP2pSrvIpaddr, NPC_D_NXTP_NO_SERVER_IPADDR) == 0) return 2;
  // The server login's stages map here once a server session exists.
  return 0;
}

int NPC_F_NXTP_CheckIfLoginServerOver(NPC_H_NXTP_MC bus) {
  if (!bus) return 0;
  return bus->iLoginServerOver.load() != 0 ? 1 : 0;
}

void NPC_F_NXTP_MC_SetLoginServerOver(NPC_H_NXTP_MC bus, int over) {
  if (!bus) return;
  bus->iLoginServerOver = over != 0 ? 1 : 0;
  if (over)
    NPC_F_THREAD_Event_SetEvent(bus->hLoginOverEvent);
  else
    NPC_F_THREAD_Event_ResetEvent(bus->hLoginOverEvent);
}

int NPC_F_NXTP_MC_WaitLoginServerOver(NPC_H_NXTP_MC bus, int waitMs) {
  if (!bus) return 0;
  if (bus->iLoginServerOver.load()) return 1;
  NPC_F_THREAD_Event_Wait(bus->hLoginOverEvent, waitMs);
  return bus->iLoginServerOver.load() != 0 ? 1 : 0;
}

int NPC_F_NXTP_GetServerIpaddr(NPC_H_NXTP_MC bus, char* buf, int bufLen) {
  if (!bus || !buf || bufLen <= 0) return 0;
  // Known only once the server login has chosen a server.
  buf[0] = '\0';
  return 0;
}

int NPC_F_NXTP_GetServerFlag(NPC_H_NXTP_MC bus, char* buf, int bufLen) {
  if (!bus || !buf || bufLen <= 0) return 0;
  NPC_F_TEXT_CopyRaw(buf, static_cast<size_t>(bufLen), bus->sClientIdent, sizeof(bus->sClientIdent));
  return 1;
}

int NPC_F_NXTP_GetAuthSrvAddr(NPC_H_NXTP_MC bus, char* buf, int bufLen, unsigned short* port) {
  if (!bus || !buf || bufLen <= 0) return 0;
  // Known only once the server login has learned it.
  buf[0] = '\0';
  if (port) *port = 0;
  return 0;
}

int NPC_F_NXTP_GetStorageSrvAddr(NPC_H_NXTP_MC bus, unsigned char* buf, int bufLen) {
  if (!bus || !buf || bufLen < NPC_D_NXTP_STORAGE_SRV_INFO_LEN) return 0;
  // Delivered only by the server login.
  return 0;
}

// --- Setters -------------------------------------------------------------------------------------

int NPC_F_NXTP_SetIdleDevP2pConnTimeout(NPC_H_NXTP_MC bus, int seconds) {
  if (!bus) return 0;
  bus->iIdleDevP2pConnTimeout = seconds < 4 ? 3 : seconds;
  return 1;
}

int NPC_F_NXTP_SetNetActionMsgTime(NPC_H_NXTP_MC bus, int seconds) {
  if (!bus) return 0;
  bus->iNetActionMsgTime = seconds <= 0 ? 10 : seconds;
  bus->qwNetActionMsgSetTick = NPC_F_SYS_GetTickCount64();
  return 1;
}

int NPC_F_NXTP_SetNicState(NPC_H_NXTP_MC bus, int state) {
  if (!bus) return 0;
  if (bus->iNicState.exchange(state) != state) bus->qwNicStateChangeTick = NPC_F_SYS_GetTickCount64();
  return 1;
}

int NPC_F_NXTP_SetConnectSpecServer(NPC_H_NXTP_MC bus, int flag) {
  if (!bus) return 0;
  bus->iConnectSpecServer = flag;
  return 1;
}

int NPC_F_NXTP_SetUdpTransConn(NPC_H_NXTP_MC bus, int flag) {
  if (!bus) return 0;
  bus->iUdpTransConn = flag;
  return 1;
}

int NPC_F_NXTP_SetLocalUDP(NPC_H_NXTP_MC bus, int mode, int timeout) {
  if (!bus) return 0;
  bus->iLocalUdpMode = mode;
  bus->iLocalUdpTimeout = timeout;
  return 1;
}

int NPC_F_NXTP_SetPrivateTrans(NPC_H_NXTP_MC bus, int value1, int value2) {
  if (!bus) return NPC_D_NXTP_SET_FAIL;
  bus->iPrivateTrans1 = value1;
  bus->iPrivateTrans2 = value2;
  return 0;
}

// The module that takes the encryption type is found by its entry (the descriptor flag
// NPC_D_PVM_CAP_ENCRYPT_TYPE), not by its vendor id.
int NPC_F_NXTP_SetEncryptType(NPC_H_NXTP_MC bus, int encryptType) {
  if (!bus) return NPC_D_NXTP_SET_FAIL;
  NPC_S_NXTP_VENDOR_DATA* target = nullptr;
  for (int i = 0; i < bus->iVendorNum && !target; ++i) {
    NPC_S_NXTP_VENDOR_DATA* v = bus->pVendorTable[i];
    if (v && v->pVendorProtObj && v->pEntry && v->pEntry->pfnSetEncryptType) target = v;
  }
  if (!target) return NPC_D_NXTP_SET_FAIL;
  target->pEntry->pfnSetEncryptType(target->pVendorProtObj, encryptType);
  bus->iEncryptType = encryptType;
  NPC_F_LOG_SR_WriteLogF("Set Protocol Bus Encrypt Type [%d]", encryptType);
  return 0;
}

int NPC_F_NXTP_SetUserClientInfo(NPC_H_NXTP_MC bus, const char* userId, int userValue, const char* userText) {
  if (!bus) return 0;
  std::lock_guard<std::mutex> lk(bus->tUserInfoMutex);
  NPC_F_TEXT_CopyRaw(bus->sUserId, sizeof(bus->sUserId), textOrEmpty(userId), 32);
  bus->iUserValue = userValue;
  NPC_F_TEXT_Copy(bus->sUserText, sizeof(bus->sUserText), textOrEmpty(userText));
  bus->bUserClientInfoSet = 1;
  return 1;
}

// --- Getters for the layers the engine drives ----------------------------------------------------

int NPC_F_NXTP_MC_GetSettings(NPC_H_NXTP_MC bus, NPC_S_NXTP_SETTINGS* out) {
  if (!bus || !out) return 0;
  *out = NPC_S_NXTP_SETTINGS{};
  out->iIdleDevP2pConnTimeout = bus->iIdleDevP2pConnTimeout;
  out->iNetActionMsgTime = bus->iNetActionMsgTime;
  out->qwNetActionMsgSetTick = bus->qwNetActionMsgSetTick;
  out->iNicState = bus->iNicState;
  out->qwNicStateChangeTick = bus->qwNicStateChangeTick;
  out->iConnectSpecServer = bus->iConnectSpecServer;
  out->iUdpTransConn = bus->iUdpTransConn;
  out->iLocalUdpMode = bus->iLocalUdpMode;
  out->iLocalUdpTimeout = bus->iLocalUdpTimeout;
  out->iPrivateTrans1 = bus->iPrivateTrans1;
  out->iPrivateTrans2 = bus->iPrivateTrans2;
  out->iEncryptType = bus->iEncryptType;
  std::lock_guard<std::mutex> lk(bus->tUserInfoMutex);
  out->bUserClientInfoSet = bus->bUserClientInfoSet;
  memcpy(out->sUserId, bus->sUserId, sizeof(out->sUserId));
  out->iUserValue = bus->iUserValue;
  memcpy(out->sUserText, bus->sUserText, sizeof(out->sUserText));
  return 1;
}

unsigned short NPC_F_NXTP_MC_GetLocalUdpPort(NPC_H_NXTP_MC bus) { return bus ? bus->usLocalUdpPort : 0; }

int NPC_F_NXTP_MC_GetQuitState(NPC_H_NXTP_MC bus) { return bus ? bus->iQuitState.load() : 0; }
