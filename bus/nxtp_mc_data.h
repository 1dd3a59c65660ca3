// The protocol bus engine's own record and the operations its source files share (private to
// bus/nxtp_mc*.cpp): creation parameters and settings, the three queues, the vendor table, the
// work thread's state and the socket event engine it drives.
#ifndef KORVEN_BUS_NXTP_MC_DATA_H
#define KORVEN_BUS_NXTP_MC_DATA_H

#include <atomic>
#include <cstdint>
#include <mutex>

#include "bus/nxtp_mc.h"
#include "conn/nxtp_conn.h"
#include "net/netcom.h"

// One registered module.
struct NPC_S_NXTP_VENDOR_DATA {
  uint32_t dwVendorId;
  NPC_I_PVM_DevProtocol* pVendorProtObj;
  const NPC_S_NXTP_MODULE_ENTRY* pEntry;  // how to destroy it and hand it the encryption type
};

struct NPC_S_NXTP_MCSERVER_DATA {
  // Creation parameters (texts copied, bounded).
  unsigned short usLocalUdpPort;  // the port actually bound
  char sServerIpaddr[128];
  unsigned short usServerPort;
  char sP2pSrvIpaddr[16];
  unsigned short usP2pSrvPort;
  char sClientIdent[32];
  int iBusValue1;
  int iBusValue2;
  int iSkipNetCheck;
  int iTransVersion;
  NPC_F_NXTP_UPPER_CALLBACK fnUpperCallback;
  void* pUpperUser;
  NPC_F_NXTP_SECOND_CALLBACK fnSecondCallback;
  void* pSecondUser;
  NPC_S_NXTP_SRV_ORDER_LINK tSrvOrderLink;
  const NPC_S_NXTP_MODULE_TABLE* pModuleTable;

  // Settings: single values that other threads write and read without a lock.
  std::atomic<int> iIdleDevP2pConnTimeout;
  std::atomic<int> iNetActionMsgTime;
  std::atomic<int64_t> qwNetActionMsgSetTick;
  std::atomic<int> iNicState;
  std::atomic<int64_t> qwNicStateChangeTick;
  std::atomic<int> iConnectSpecServer;
  std::atomic<int> iUdpTransConn;
  std::atomic<int> iLocalUdpMode;
  std::atomic<int> iLocalUdpTimeout;
  std::atomic<int> iPrivateTrans1;
  std::atomic<int> iPrivateTrans2;
  std::atomic<int> iEncryptType;
  // The user client information is three fields set together.
  std::mutex tUserInfoMutex;
  int bUserClientInfoSet;
  char sUserId[32];
  int iUserValue;
  char sUserText[128];

  // The three queues.
  void* pNetDataQueue;
  void* pMsgQueue;
  void* pProEventQueue;
  // Work buffers for log texts (work thread only).
  char* pLogBuf1;
  char* pLogBuf2;
  // The drains' one growing buffer (work thread only).
  char* pDrainBuf;
  int iDrainBufCap;

  // Vendor table, in registration order.
  NPC_S_NXTP_VENDOR_DATA* pVendorTable[NPC_D_NXTP_MC_MAX_VENDOR_NUM];
  int iVendorNum;

  // Network side. hNetcom is set and cleared under tWakeMutex, which wake-ups from other threads
  // hold, so no wake-up reaches a closed socket engine; the work thread reads it freely.
  std::mutex tWakeMutex;
  NPC_H_NETCOM hNetcom;
  uint32_t dwUdpPortId;
  int iClockHookId;
  // The connection tables (network ports, device and logical connections): work thread only.
  NPC_S_NXTP_CONN_TABLES* pConnTables;

  // Work thread. bInNetWait is set while the loop looks at its queues and waits on its sockets,
  // so a producer wakes it only then: the producer posts under the queue's mutex and reads the
  // flag afterwards; the loop sets the flag before it counts the queued items under the same
  // mutex. Either the loop sees the item or the producer sees the flag.
  std::atomic<bool> bInNetWait;
  void* hThread;
  std::atomic<int> iRunFlag;
  std::atomic<int> iQuitState;
  void* hQuitDoneEvent;   // set when the loop has done the server disconnect (quit state 2)
  int64_t qwNextSecondTick;  // monotonic tick at which the next once-a-second step is due
  // The pass's one reading of the tick, taken when the pass first needs it (after its socket
  // wait) and shared by its socket events, module messages and timer step.
  int64_t qwPassTick;
  bool bPassTickRead;

  // Server login.
  std::atomic<int> iLoginServerOver;
  void* hLoginOverEvent;  // manual reset; set while the login attempt has ended
};

// Start and stop (nxtp_mc.cpp).
int NPC_F_NXTP_MC_StartProtocolBusServer(NPC_H_NXTP_MC bus);
void NPC_F_NXTP_MC_StopProtocolBusServer(NPC_H_NXTP_MC bus);
int NPC_F_NXTP_MC_InitData(NPC_H_NXTP_MC bus);
void NPC_F_NXTP_MC_UninitData(NPC_H_NXTP_MC bus);

// Module registration (nxtp_mc_vendor.cpp).
int NPC_F_NXTP_MC_InitVendorModule(NPC_H_NXTP_MC bus);
void NPC_F_NXTP_MC_UninitVendorModule(NPC_H_NXTP_MC bus);
int NPC_F_NXTP_MC_AddVendorAndInit(NPC_H_NXTP_MC bus, const NPC_S_NXTP_MODULE_ENTRY* entry,
                                   NPC_I_PVM_DevProtocol* module);
void NPC_F_NXTP_MC_DeleteVendorData(NPC_H_NXTP_MC bus, NPC_S_NXTP_VENDOR_DATA* vendor);
NPC_S_NXTP_VENDOR_DATA* NPC_F_NXTP_MC_QueryVendorDataByVendorId(NPC_H_NXTP_MC bus, uint32_t vendorId);

// Work thread (nxtp_mc_loop.cpp).
int NPC_F_NXTP_MC_StartThread(NPC_H_NXTP_MC bus);
void NPC_F_NXTP_MC_QuitThread(NPC_H_NXTP_MC bus);
void NPC_F_NXTP_MC_ThreadWork(void* arg);
void NPC_F_NXTP_MC_DoTimer(NPC_H_NXTP_MC bus);
void NPC_F_NXTP_MC_DoNetDataQueue(NPC_H_NXTP_MC bus);
void NPC_F_NXTP_MC_DoMsgQueue(NPC_H_NXTP_MC bus);
void NPC_F_NXTP_MC_DoProEventQueue(NPC_H_NXTP_MC bus);
int NPC_F_NXTP_MC_SendOrderDataToProtocol(NPC_H_NXTP_MC bus, uint32_t vendorId, unsigned char* msg, int len);
void NPC_F_NXTP_MC_WPVM_DoVendorProtEvent(NPC_H_NXTP_MC bus, int eventKind, uint32_t vendorId, unsigned char* msg,
                                          int len);
// The socket event engine's callback (work thread, inside the socket pass).
void NPC_F_NXTP_MC_NETCOM_EventCallback(void* user, const char* event, int eventLen);
// The context the connection tables get: the socket engine, delivery to the modules, the tick.
NPC_S_NXTP_CONN_CONTEXT NPC_F_NXTP_MC_ConnContext(NPC_H_NXTP_MC bus, int64_t nowTick);
// The current pass's tick (read once per pass; work thread).
int64_t NPC_F_NXTP_MC_PassTick(NPC_H_NXTP_MC bus);
// True on the work thread of this engine.
bool NPC_F_NXTP_MC_IsWorkThread(NPC_H_NXTP_MC bus);
// Wakes the work thread's socket wait (any thread).
void NPC_F_NXTP_MC_WakeUp(NPC_H_NXTP_MC bus);
// After posting into a queue: wakes the work thread only when it is about to wait or waiting.
void NPC_F_NXTP_MC_WakeUpForQueue(NPC_H_NXTP_MC bus);

#endif
