// Shared inside conn/: the tables record, the record operations and the messages to the
// modules, which the direct transport (conn/direct.cpp) and the table code
// (conn/nxtp_conn.cpp) both use.
#ifndef KORVEN_CONN_NXTP_CONN_PR_H
#define KORVEN_CONN_NXTP_CONN_PR_H

#include <cstdint>
#include <cstdlib>

#include "conn/nxtp_conn.h"

struct NPC_S_NXTP_CONN_TABLES {
  NPC_S_NXTP_NET_PORT_DATA* pPorts[NPC_D_NXTP_NET_PORT_NUM];
  NPC_S_NXTP_NET_DEV_CONN_DATA* pDevConns[NPC_D_NXTP_DEV_CONN_NUM];
  uint16_t usLastDevTag[NPC_D_NXTP_DEV_CONN_NUM];
  // The last tag of every logical slot of a device slot (2048 bytes each), made with the first
  // logical connection in that device slot and kept when the device record goes, so a stale id
  // never matches a logical connection of a later record in the same slot.
  uint8_t* pLogicTags[NPC_D_NXTP_DEV_CONN_NUM];
  int iPortNum;
  int iDevConnNum;
  int iLogicConnNum;
  int iClosingNum;  // logical connections in the delayed-close state, over all device connections
  // Messages to modules are built here (work thread only; deliveries never re-enter).
  uint8_t* pMsgBuf;
  size_t dwMsgBufCap;
};

// A buffer of at least n bytes in the tables' message buffer, or null when memory runs out.
uint8_t* NPC_F_NXTP_CONN_PR_MsgBuf(NPC_S_NXTP_CONN_TABLES* t, size_t n);

// Device connections.
NPC_S_NXTP_NET_DEV_CONN_DATA* NPC_F_NXTP_MC_NETDEV_CreateNetDevConnData(NPC_S_NXTP_CONN_TABLES* t, int kind,
                                                                        const char* devId);
// Removes the record from the table, deletes each of its logical connections with the record's
// failure code (each reported to its module) and frees it.
void NPC_F_NXTP_MC_NETDEV_DeleteNetDevConnData(NPC_S_NXTP_CONN_TABLES* t, const NPC_S_NXTP_CONN_CONTEXT* ctx,
                                               NPC_S_NXTP_NET_DEV_CONN_DATA* dev);
// The direct record (the first kind-1 record in slot order), or null.
NPC_S_NXTP_NET_DEV_CONN_DATA* NPC_F_NXTP_CONN_PR_FindDirectDevConn(NPC_S_NXTP_CONN_TABLES* t);

// Logical connections.
NPC_S_NXTP_LOGIC_TCP_CONN_DATA* NPC_F_NXTP_MC_LOGIC_CreateLogicTcpConnData(NPC_S_NXTP_CONN_TABLES* t,
                                                                           NPC_S_NXTP_NET_DEV_CONN_DATA* dev,
                                                                           uint32_t vendorId, const char* ipaddr,
                                                                           unsigned short port, uint32_t protConnId);
// Unlinks the logical connection from its device connection, deletes its network port
// (closing the socket; the port no longer points back, so it does not delete the logical
// connection again) and frees it. With notify, the module hears of it first: a connection that
// was connected or closing gets NET_TCP_DISCONNECT; one that never had its final connect
// response gets it now, with its failure code or 1009. Without notify (a set-up that failed and
// answers on its own) nothing is sent.
void NPC_F_NXTP_MC_LOGIC_DeleteLogicTcpConnData(NPC_S_NXTP_CONN_TABLES* t, const NPC_S_NXTP_CONN_CONTEXT* ctx,
                                                NPC_S_NXTP_LOGIC_TCP_CONN_DATA* logic, bool notify);
void NPC_F_NXTP_CONN_PR_SetLogicState(NPC_S_NXTP_CONN_TABLES* t, NPC_S_NXTP_LOGIC_TCP_CONN_DATA* logic, int state,
                                      int64_t tick);

// Messages to the module of a logical connection.
// The final NET_TCP_CONNECT response, built from the saved request, at most once.
void NPC_F_NXTP_MC_SendNetRespDataToProtocol_NET_TCP_CONNECT(NPC_S_NXTP_CONN_TABLES* t,
                                                             const NPC_S_NXTP_CONN_CONTEXT* ctx,
                                                             NPC_S_NXTP_LOGIC_TCP_CONN_DATA* logic, int32_t result,
                                                             int32_t connMode);
void NPC_F_NXTP_MC_SendNetRequDataToProtocol_NET_TCP_DISCONNECT(NPC_S_NXTP_CONN_TABLES* t,
                                                                const NPC_S_NXTP_CONN_CONTEXT* ctx,
                                                                NPC_S_NXTP_LOGIC_TCP_CONN_DATA* logic);
void NPC_F_NXTP_MC_SendNetRequDataToProtocol_NET_REDIRECT_DATA(NPC_S_NXTP_CONN_TABLES* t,
                                                               const NPC_S_NXTP_CONN_CONTEXT* ctx,
                                                               NPC_S_NXTP_LOGIC_TCP_CONN_DATA* logic);
void NPC_F_NXTP_MC_SendLogicConnRecvDataToProtocol(NPC_S_NXTP_CONN_TABLES* t, const NPC_S_NXTP_CONN_CONTEXT* ctx,
                                                   NPC_S_NXTP_LOGIC_TCP_CONN_DATA* logic, uint32_t channel,
                                                   const uint8_t* data, int len);

// The direct transport (conn/direct.cpp).
NPC_S_NXTP_LOGIC_TCP_CONN_DATA* NPC_F_NXTP_MC_SDDC_SetupDirectDevConnect(NPC_S_NXTP_CONN_TABLES* t,
                                                                         const NPC_S_NXTP_CONN_CONTEXT* ctx,
                                                                         uint32_t vendorId, uint32_t protConnId,
                                                                         const char* ipaddr, unsigned short port);
void NPC_F_NXTP_MC_DoNetEvent_CONNECT_RESULT(NPC_S_NXTP_CONN_TABLES* t, const NPC_S_NXTP_CONN_CONTEXT* ctx,
                                             uint32_t portId, int result);
void NPC_F_NXTP_MC_DoNetEvent_DISCONNECT(NPC_S_NXTP_CONN_TABLES* t, const NPC_S_NXTP_CONN_CONTEXT* ctx,
                                         uint32_t portId);
void NPC_F_NXTP_MC_DoNetEvent_DATA_TcpRecv(NPC_S_NXTP_CONN_TABLES* t, const NPC_S_NXTP_CONN_CONTEXT* ctx,
                                           uint32_t portId, const uint8_t* data, int len);

#endif
