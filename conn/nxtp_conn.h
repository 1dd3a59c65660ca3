// The protocol bus engine's connection tables and the direct transport: network ports (the
// engine's sockets, by socket port id), device connections and their logical connections, the
// handling of the modules' network messages (connect, disconnect, send, clear cache, media mode
// switch), the socket events of those ports, and the time rules (connect time-out, delayed
// close).
//
// Everything here runs on the engine's work thread; the tables have no locks. The engine hands
// every call a narrow context (NPC_S_NXTP_CONN_CONTEXT): its socket event engine, the function
// that delivers a network message to a module by vendor id, and the pass's clock reading. This
// layer never reaches into the engine itself.
//
// Transports: 1 direct TCP (here), 2 peer-to-peer or relay and 3 LAN broadcast reuse the same
// records; the choice of transport for a connect request is made in one place
// (NPC_F_NXTP_CONN_ChooseTransport) and each transport's set-up slots in beside the direct one.
#ifndef KORVEN_CONN_NXTP_CONN_H
#define KORVEN_CONN_NXTP_CONN_H

#include <cstdint>
#include <vector>

#include "net/netcom.h"

// Table sizes.
constexpr int NPC_D_NXTP_NET_PORT_NUM = 256;
constexpr int NPC_D_NXTP_DEV_CONN_NUM = 1024;
constexpr int NPC_D_NXTP_LOGIC_CONN_NUM = 2048;  // per device connection

// Network port kinds and states.
constexpr int NPC_D_NXTP_PORT_KIND_MAIN_UDP = 1;
constexpr int NPC_D_NXTP_PORT_KIND_DIRECT_TCP = 2;
constexpr int NPC_D_NXTP_PORT_KIND_BROADCAST_UDP = 3;
constexpr int NPC_D_NXTP_PORT_KIND_TRANSFER_TCP = 4;
constexpr int NPC_D_NXTP_PORT_STATE_CONNECTING = 1;
constexpr int NPC_D_NXTP_PORT_STATE_CONNECTED = 2;

// Device connection record kinds.
constexpr int NPC_D_NXTP_DEV_KIND_DIRECT = 1;
constexpr int NPC_D_NXTP_DEV_KIND_SERVER = 2;

// Transports of a logical connection.
constexpr int NPC_D_NXTP_TRANSPORT_DIRECT = 1;
constexpr int NPC_D_NXTP_TRANSPORT_P2P = 2;
constexpr int NPC_D_NXTP_TRANSPORT_BROADCAST = 3;

// Logical connection states.
constexpr int NPC_D_NXTP_LOGIC_CONN_STATE_WAIT_DEV_CONN = 1;
constexpr int NPC_D_NXTP_LOGIC_CONN_STATE_RBUDP_CONNECTING = 2;
constexpr int NPC_D_NXTP_LOGIC_CONN_STATE_WAIT_LOGIC_CONN_RESULT = 3;
constexpr int NPC_D_NXTP_LOGIC_CONN_STATE_CONNECTED = 4;
constexpr int NPC_D_NXTP_LOGIC_CONN_STATE_CLOSING = 5;

// A pending TCP connect fails after this long (checked once a second).
constexpr int64_t NPC_D_NXTP_TCP_CONN_TIMEOUT_MS = 15000;
// The direct record is torn down on this failure of its life.
constexpr int NPC_D_NXTP_DIRECT_FAIL_MAX = 3;
// Result codes the engine puts into connect responses.
constexpr int32_t NPC_D_NXTP_CONN_RESULT_SETUP_FAIL = 8;
constexpr int32_t NPC_D_NXTP_CONN_RESULT_NET_FAIL = 1003;
constexpr int32_t NPC_D_NXTP_CONN_RESULT_OTHER_FAIL = 1009;
// The connect result the connect time-out reports (any non-zero result is a failure).
constexpr int NPC_D_NXTP_CONNECT_RESULT_TIMEOUT = 5;

// What the engine hands every call.
struct NPC_S_NXTP_CONN_CONTEXT {
  NPC_H_NETCOM hNetcom;
  // Delivers a network message to the InputNetData of the module registered under vendorId
  // (synchronously; the message may be changed by the module). 0 when there is no such module.
  int (*pfnSendNetDataToProtocol)(void* user, uint32_t vendorId, unsigned char* msg, int len);
  void* pUser;
  int64_t qwNowTick;  // the pass's reading of the monotonic millisecond tick
};

struct NPC_S_NXTP_NET_DEV_CONN_DATA;

// A network port: one socket of the engine.
struct NPC_S_NXTP_NET_PORT_DATA {
  uint32_t dwPortId;
  int bUdp;
  int iPortKind;
  int iPortState;
  int64_t qwStateTick;
  uint32_t dwLinkId;  // kind 4: the device connection it serves
  unsigned short usLocalPort;
  char sPeerIpaddr[16];
  unsigned short usPeerPort;
  std::vector<uint8_t> tRecvBuf;  // kind 4
  uint32_t dwLogicTcpConnId;      // kind 2: the logical connection it carries
};

// A logical connection, owned by its device connection.
struct NPC_S_NXTP_LOGIC_TCP_CONN_DATA {
  int iSlotIndex;
  NPC_S_NXTP_NET_DEV_CONN_DATA* pDevConn;
  char sPeerIpaddr[16];
  unsigned short usPeerPort;
  uint32_t dwVendorId;
  int iTransport;
  uint32_t dwRbUdpConnId;
  uint32_t dwLogicTcpConnId;
  uint32_t dwPeerConnId;
  uint32_t dwProtConnId;
  int iLogicConnFailCode;
  uint32_t dwSocketPortId;
  uint32_t dwUdpPortId;
  int iLogicConnState;
  int64_t qwStateTick;
  int64_t qwCloseDeadlineTick;  // state 5
  int bClearCachePending;
  std::vector<uint8_t> tConnRequ;  // the module's NET_TCP_CONNECT request
  int bFinalRespSent;
  int bMediaSwitchPending;
  int iMediaSwitchMode;
  int64_t qwMediaSwitchTick;
  uint64_t qwRecvBytes;
};

// A device connection: the one direct record (kind 1) or a device reached over the servers.
struct NPC_S_NXTP_NET_DEV_CONN_DATA {
  uint32_t dwNxtpNetDevPosId;
  int iSlotIndex;
  char sDevId[32];
  int iRecordKind;
  int iDevConnFlowState;
  int iNetDevConnMode;
  int iFailCode;
  int iDirectConnFailNum;
  char sConnIpaddr[16];
  unsigned short usConnPort;
  // The 2048 logical connection slots, allocated with the first logical connection.
  NPC_S_NXTP_LOGIC_TCP_CONN_DATA** ppLogicConn;
  int iLogicConnNum;
  int iClosingNum;  // logical connections in state 5
};

struct NPC_S_NXTP_CONN_TABLES;

// Counts for tests and reports.
struct NPC_S_NXTP_CONN_STATS {
  int iNetPortNum;
  int iDevConnNum;
  int iLogicConnNum;
  int iDirectConnFailNum;  // of the direct record, 0 without one
};

// --- Tables ------------------------------------------------------------------------------------

// Empty tables: the fixed port and device tables hold pointers only; records and the logical
// connection slots are allocated when first needed.
NPC_S_NXTP_CONN_TABLES* NPC_F_NXTP_CONN_CreateTables();
// Frees every record without a message to any module (the engine has stopped and its socket
// engine closes the sockets).
void NPC_F_NXTP_CONN_DestroyTables(NPC_S_NXTP_CONN_TABLES* tables);
int NPC_F_NXTP_CONN_GetStats(const NPC_S_NXTP_CONN_TABLES* tables, NPC_S_NXTP_CONN_STATS* out);

// --- Dispatch from the engine ------------------------------------------------------------------

// One network message from a module (event kind 0): checked, then handled by its code.
void NPC_F_NXTP_CONN_DoProtNetMsg(NPC_S_NXTP_CONN_TABLES* tables, const NPC_S_NXTP_CONN_CONTEXT* ctx,
                                  uint32_t vendorId, unsigned char* msg, int len);
// One socket event of the engine's socket event engine.
void NPC_F_NXTP_CONN_DoNetEvent(NPC_S_NXTP_CONN_TABLES* tables, const NPC_S_NXTP_CONN_CONTEXT* ctx,
                                const char* event, int len);
// Every pass: device connection timers and the delayed close of logical connections.
void NPC_F_NXTP_CONN_DoTimer(NPC_S_NXTP_CONN_TABLES* tables, const NPC_S_NXTP_CONN_CONTEXT* ctx);
// Once a second: the connect time-out of pending TCP connects.
void NPC_F_NXTP_CONN_DoSecondTimer(NPC_S_NXTP_CONN_TABLES* tables, const NPC_S_NXTP_CONN_CONTEXT* ctx);

// --- Records -----------------------------------------------------------------------------------

// Registers a network port for a socket whose port id has its slot below 256 (a stale record in
// that slot is deleted first). The record, or null.
NPC_S_NXTP_NET_PORT_DATA* NPC_F_NXTP_MC_CreateNetPortData(NPC_S_NXTP_CONN_TABLES* tables,
                                                          const NPC_S_NXTP_CONN_CONTEXT* ctx, uint32_t portId,
                                                          int bUdp, int portKind, int portState);
// Closes the port's socket by kind, deletes the logical connection a kind-2 port carries (with
// its message to the module) and frees the record.
void NPC_F_NXTP_MC_DeleteNetPortData(NPC_S_NXTP_CONN_TABLES* tables, const NPC_S_NXTP_CONN_CONTEXT* ctx,
                                     NPC_S_NXTP_NET_PORT_DATA* port);
NPC_S_NXTP_NET_PORT_DATA* NPC_F_NXTP_MC_QueryNetPortDataByPortId(NPC_S_NXTP_CONN_TABLES* tables, uint32_t portId);
// The logical connection with exactly this id, or null (negative ids are refused).
NPC_S_NXTP_LOGIC_TCP_CONN_DATA* NPC_F_NXTP_MC_LOGIC_QueryLogicTcpConnDataByLogicTcpConnId(
    NPC_S_NXTP_CONN_TABLES* tables, uint32_t logicTcpConnId);

// The transport a NET_TCP_CONNECT request asks for: broadcast for a device id with the address
// "255.255.255.255", peer-to-peer or relay for a device id with any other address, direct for
// an empty device id.
int NPC_F_NXTP_CONN_ChooseTransport(const char* devId, const char* devIpaddr);

#endif
