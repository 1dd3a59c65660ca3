// The protocol bus engine: one object per monitor client with one work thread. On that thread
// it drives the socket event engine (thread-less mode), the device connections and every
// device protocol module; other threads reach it only through its three bounded queues
// (network data, orders, module events) and through the setters and getters below, and
// everything it hands upward leaves through the upper callback on the work thread.
//
// Whatever queues work for the work thread also wakes its socket wait, so orders and module
// events are handled at once; the 100 ms socket wait is only a ceiling.
#ifndef KORVEN_BUS_NXTP_MC_H
#define KORVEN_BUS_NXTP_MC_H

#include <cstdint>

#include "bus/nxtp_modules.h"

struct NPC_S_NXTP_MCSERVER_DATA;
// An engine handle; null makes every operation fail without effect.
typedef NPC_S_NXTP_MCSERVER_DATA* NPC_H_NXTP_MC;

// Capacity of each of the three queues, and the size of the vendor table.
constexpr int NPC_D_NXTP_MC_QUEUE_SIZE = 10000;
constexpr int NPC_D_NXTP_MC_MAX_VENDOR_NUM = 256;
// Ceiling of one socket wait of the work loop (work that arrives ends it at once).
constexpr int NPC_D_NXTP_MC_NET_WAIT_MS = 100;
// How long a module or socket event waits for room in its queue when posted from a thread
// other than the work thread (the work thread itself never waits on its own queues).
constexpr int NPC_D_NXTP_MC_EVENT_POST_WAIT_MS = 2000;
// Range of the random local UDP port chosen when the creator asks for port 0.
constexpr unsigned short NPC_D_NXTP_MC_RANDOM_UDP_PORT_BASE = 20032;
constexpr unsigned short NPC_D_NXTP_MC_RANDOM_UDP_PORT_NUM = 10000;
// The P2P server address that means "no server in use"; nothing is ever sent to it.
#define NPC_D_NXTP_NO_SERVER_IPADDR "1.1.1.1"

// Order results the engine gives the server orders 257 and 258 itself.
constexpr int32_t NPC_D_NXTP_SRV_ORDER_RESULT_PARAM_ERROR = 1;  // count, device id or length out of range
constexpr int32_t NPC_D_NXTP_SRV_ORDER_RESULT_NO_MEMORY = 2;
constexpr int32_t NPC_D_NXTP_SRV_ORDER_RESULT_NOT_SENT = 3;

// Failure value of SetPrivateTrans and SetEncryptType (no engine, or no module that takes the
// encryption type).
constexpr int NPC_D_NXTP_SET_FAIL = 9;

// Quit states of the work loop.
constexpr int NPC_D_NXTP_MC_QUIT_STATE_RUN = 0;
constexpr int NPC_D_NXTP_MC_QUIT_STATE_REQUESTED = 1;
constexpr int NPC_D_NXTP_MC_QUIT_STATE_SRV_DISCONNECTED = 2;

// Receives every order message that comes up (module answers and notices, server answers,
// engine notices): (user, message, length), on the work thread. The buffer belongs to the
// engine and is valid during the call only.
typedef void (*NPC_F_NXTP_UPPER_CALLBACK)(void* user, unsigned char* msg, int len);
// Called once a second on the work thread.
typedef void (*NPC_F_NXTP_SECOND_CALLBACK)(void* user);

// The link that carries the server orders 257 and 258 to the authentication server. The
// server login installs it; until then (and whenever pfnSendOrder returns 0) the engine
// answers those orders itself with "not sent" (iResult 3). pfnSendOrder runs on the work
// thread with a well-formed order whose parameters the engine has checked; the server's
// answer comes back up through NPC_F_NXTP_MC_SendDataToUpApp.
struct NPC_S_NXTP_SRV_ORDER_LINK {
  int (*pfnSendOrder)(void* user, NPC_H_NXTP_MC bus, const unsigned char* msg, int len);
  void* pUser;
};

// Everything the engine is created with, in the order of NPC_F_NXTP_CreateProtocolBusServer.
// Texts are copied (bounded: server address 128 bytes, P2P address 16, client identifier 32,
// user id 32, user text 128, each with its NUL).
struct NPC_S_NXTP_CREATE_PARAM {
  unsigned short usLocalUdpPort;  // 0: a random port from 20032 to 30031
  const char* sServerIpaddr;
  unsigned short usServerPort;
  const char* sP2pSrvIpaddr;
  unsigned short usP2pSrvPort;
  const char* sClientIdent;
  int iBusValue1;
  int iBusValue2;
  const char* sUserId;
  int iUserValue;
  const char* sUserText;
  int iConnectSpecServer;
  int iSkipNetCheck;
  int iLocalUdpMode;
  NPC_F_NXTP_UPPER_CALLBACK fnUpperCallback;
  void* pUpperUser;
  NPC_F_NXTP_SECOND_CALLBACK fnSecondCallback;
  void* pSecondUser;
  int iTransVersion;
  int iEncryptType;
  // The modules to register; null takes the production table (NPC_F_NXTP_GetModuleTable).
  const NPC_S_NXTP_MODULE_TABLE* pModuleTable;
  // The server order link, when one exists at creation (all null otherwise).
  NPC_S_NXTP_SRV_ORDER_LINK tSrvOrderLink;
};

// The settings, as NPC_F_NXTP_MC_GetSettings reports them.
struct NPC_S_NXTP_SETTINGS {
  int iIdleDevP2pConnTimeout;  // seconds; 600 by default, below 4 stored as 3
  int iNetActionMsgTime;       // seconds; 10 by default, 0 or less stored as 10
  int64_t qwNetActionMsgSetTick;
  int iNicState;               // 1 by default
  int64_t qwNicStateChangeTick;
  int iConnectSpecServer;
  int iUdpTransConn;           // 0 by default
  int iLocalUdpMode;
  int iLocalUdpTimeout;        // 5 by default
  int iPrivateTrans1;
  int iPrivateTrans2;
  int iEncryptType;
  int bUserClientInfoSet;
  char sUserId[32];
  int iUserValue;
  char sUserText[128];
};

// --- Creation and destruction ------------------------------------------------------------------

// Creates and starts an engine. Returns the handle, or null after logging the failing step and
// stopping what was started.
NPC_H_NXTP_MC NPC_F_NXTP_CreateProtocolBusServer(unsigned short localUdpPort, const char* serverIpaddr,
                                                 unsigned short serverPort, const char* p2pSrvIpaddr,
                                                 unsigned short p2pSrvPort, const char* clientIdent, int busValue1,
                                                 int busValue2, const char* userId, int userValue,
                                                 const char* userText, int connectSpecServer, int skipNetCheck,
                                                 int localUdpMode, NPC_F_NXTP_UPPER_CALLBACK upperCallback,
                                                 void* upperUser, NPC_F_NXTP_SECOND_CALLBACK secondCallback,
                                                 void* secondUser, int transVersion, int encryptType);
// The same from a parameter record (which also names the module table and the server order link).
NPC_H_NXTP_MC NPC_F_NXTP_CreateProtocolBusServerEx(const NPC_S_NXTP_CREATE_PARAM* param);
// Fills the creation record from the positional parameters that the engine and the call layer
// both take (callbacks, module table and server link are left zero for the caller to set).
NPC_S_NXTP_CREATE_PARAM NPC_F_NXTP_MakeCreateParam(unsigned short localUdpPort, const char* serverIpaddr,
                                                   unsigned short serverPort, const char* p2pSrvIpaddr,
                                                   unsigned short p2pSrvPort, const char* clientIdent, int busValue1,
                                                   int busValue2, const char* userId, int userValue,
                                                   const char* userText, int connectSpecServer, int skipNetCheck,
                                                   int localUdpMode, int transVersion, int encryptType);
// The creation record of a bus without a server (local mode: devices are reached directly and
// the network check is skipped) that registers the given modules (null: the production table).
NPC_S_NXTP_CREATE_PARAM NPC_F_NXTP_MakeLocalCreateParam(const NPC_S_NXTP_MODULE_TABLE* modules);
// Stops the engine (log-off, work thread, sockets, modules, queues) and frees it.
void NPC_F_NXTP_DestroyProtocolBusServer(NPC_H_NXTP_MC bus);

// --- Orders ------------------------------------------------------------------------------------

// Appends a copy of an order message to the message queue, waiting up to timeoutMs for room,
// and wakes the work thread. 1 on success. On the work thread itself it never waits.
int NPC_F_NXTP_SendMsgData(NPC_H_NXTP_MC bus, const unsigned char* msg, int len, int timeoutMs);

// --- Server state ------------------------------------------------------------------------------

// 2 when the P2P server address is "1.1.1.1"; otherwise the server login stage mapped to 0, 1
// or 2 while a server session exists; else 0.
int NPC_F_NXTP_QueryServerConnState(NPC_H_NXTP_MC bus);
// Non-zero once the server login attempt has ended (an engine without a server login reports
// it ended from the start).
int NPC_F_NXTP_CheckIfLoginServerOver(NPC_H_NXTP_MC bus);
// The server address in use once the login has one (into buf of bufLen bytes); 0 before.
int NPC_F_NXTP_GetServerIpaddr(NPC_H_NXTP_MC bus, char* buf, int bufLen);
// The client identifier text (into buf of bufLen bytes). 1, or 0 for bad arguments.
int NPC_F_NXTP_GetServerFlag(NPC_H_NXTP_MC bus, char* buf, int bufLen);
// The authentication server's address (16 bytes) and port once known; 0 before.
int NPC_F_NXTP_GetAuthSrvAddr(NPC_H_NXTP_MC bus, char* buf, int bufLen, unsigned short* port);
// The 644-byte storage server record once the login has delivered it; 0 before.
constexpr int NPC_D_NXTP_STORAGE_SRV_INFO_LEN = 644;
int NPC_F_NXTP_GetStorageSrvAddr(NPC_H_NXTP_MC bus, unsigned char* buf, int bufLen);

// --- Setters (any thread; each stores one setting) ---------------------------------------------

int NPC_F_NXTP_SetIdleDevP2pConnTimeout(NPC_H_NXTP_MC bus, int seconds);
int NPC_F_NXTP_SetNetActionMsgTime(NPC_H_NXTP_MC bus, int seconds);
int NPC_F_NXTP_SetNicState(NPC_H_NXTP_MC bus, int state);
int NPC_F_NXTP_SetConnectSpecServer(NPC_H_NXTP_MC bus, int flag);
int NPC_F_NXTP_SetUdpTransConn(NPC_H_NXTP_MC bus, int flag);
int NPC_F_NXTP_SetLocalUDP(NPC_H_NXTP_MC bus, int mode, int timeout);
// 0 on success, 9 without an engine.
int NPC_F_NXTP_SetPrivateTrans(NPC_H_NXTP_MC bus, int value1, int value2);
// Hands the encryption type to the module that takes it, stores it and logs
// "Set Protocol Bus Encrypt Type [%d]": 0; 9 without an engine or without such a module.
int NPC_F_NXTP_SetEncryptType(NPC_H_NXTP_MC bus, int encryptType);
// Stores the user client information (user id text, a value, a text) and marks it set.
int NPC_F_NXTP_SetUserClientInfo(NPC_H_NXTP_MC bus, const char* userId, int userValue, const char* userText);

// --- Inside the engine and for the layers it drives ---------------------------------------------

// A snapshot of the settings. 1, or 0 for bad arguments.
int NPC_F_NXTP_MC_GetSettings(NPC_H_NXTP_MC bus, NPC_S_NXTP_SETTINGS* out);
// The local port of the engine's main UDP socket (0 without one).
unsigned short NPC_F_NXTP_MC_GetLocalUdpPort(NPC_H_NXTP_MC bus);
// The quit state (NPC_D_NXTP_MC_QUIT_STATE_*).
int NPC_F_NXTP_MC_GetQuitState(NPC_H_NXTP_MC bus);
// Records whether the server login attempt has ended; the login flow calls it when it starts
// (0) and when it ends (1). Waiters in NPC_F_NXTP_MC_WaitLoginServerOver wake at once.
void NPC_F_NXTP_MC_SetLoginServerOver(NPC_H_NXTP_MC bus, int over);
// Waits up to waitMs for the server login attempt to end; 1 when it has ended.
int NPC_F_NXTP_MC_WaitLoginServerOver(NPC_H_NXTP_MC bus, int waitMs);
// Hands an order message to the upper callback (work thread).
void NPC_F_NXTP_MC_SendDataToUpApp(NPC_H_NXTP_MC bus, unsigned char* msg, int len);
// Hands a network message to the InputNetData of the module registered under vendorId (work
// thread). 0, with "NPC_F_NXTP_MC_SendNetDataToProtocol NPC_F_NXTP_MC_QueryVendorDataByVendorId
// fail." logged, when there is no such module.
int NPC_F_NXTP_MC_SendNetDataToProtocol(NPC_H_NXTP_MC bus, uint32_t vendorId, unsigned char* msg, int len);
// The callback every module is given: copies (event kind, vendor id, message) into the module
// event queue. On the work thread it never waits; from a module's own thread it waits up to
// 2000 ms for room and wakes the work thread. A message that cannot be queued is lost and
// logged as "NPC_F_NXTP_MC_PVM_EventCallback NPC_F_TOOLS_QUEUE_SetData fail.".
void NPC_F_NXTP_MC_PVM_EventCallback(void* user, int eventKind, unsigned int vendorId, unsigned char* msg, int len);

#endif
