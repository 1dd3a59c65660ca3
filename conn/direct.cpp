// The direct transport: a plain TCP connection from this host to the device's address and port.
// Set-up of a logical connection on the one direct device record, the connect result (success,
// the socket engine's failure, or the engine's own 15-second time-out), the direct-connect
// failure counter that tears the direct record down on its fourth failure, device data and the
// device closing the connection.
#include <cstring>

#include "bus/pvm_msg.h"
#include "conn/nxtp_conn_pr.h"
#include "net/sys_socket.h"
#include "runtime/log.h"
#include "runtime/text.h"

namespace {

// The logical connection a kind-2 port carries, or null.
NPC_S_NXTP_LOGIC_TCP_CONN_DATA* portLogic(NPC_S_NXTP_CONN_TABLES* t, NPC_S_NXTP_NET_PORT_DATA* port) {
  if (port->iPortKind != NPC_D_NXTP_PORT_KIND_DIRECT_TCP || !port->dwLogicTcpConnId) return nullptr;
  NPC_S_NXTP_LOGIC_TCP_CONN_DATA* logic =
      NPC_F_NXTP_MC_LOGIC_QueryLogicTcpConnDataByLogicTcpConnId(t, port->dwLogicTcpConnId);
  return logic && logic->dwSocketPortId == port->dwPortId ? logic : nullptr;
}

}  // namespace

// Sets a direct logical connection up: address and port checked, the address resolved, the
// direct record found or made, the logical connection made (waiting for its result), the TCP
// connect started and its network port registered. Any failure after the logical connection
// exists closes what was opened and deletes the connection silently: the caller sends the one
// answer. Returns the logical connection or null.
NPC_S_NXTP_LOGIC_TCP_CONN_DATA* NPC_F_NXTP_MC_SDDC_SetupDirectDevConnect(NPC_S_NXTP_CONN_TABLES* t,
                                                                         const NPC_S_NXTP_CONN_CONTEXT* ctx,
                                                                         uint32_t vendorId, uint32_t protConnId,
                                                                         const char* ipaddr, unsigned short port) {
  if (!ipaddr || ipaddr[0] == '\0' || port == 0) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_MC_SDDC_SetupDirectDevConnect i_sMonDevIpaddr or i_usMonDevPort error.", 2);
    return nullptr;
  }
  char resolved[NPC_D_SYS_SOCKET_ADDR_TEXT_LEN];
  if (!NPC_F_SYS_SOCKET_GetNetIpAddr(ipaddr, resolved, sizeof resolved)) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_MC_SDDC_SetupDirectDevConnect NPC_F_SYS_SOCKET_GetNetIpAddr fail.", 2);
    return nullptr;
  }
  NPC_S_NXTP_NET_DEV_CONN_DATA* dev = NPC_F_NXTP_CONN_PR_FindDirectDevConn(t);
  if (!dev) dev = NPC_F_NXTP_MC_NETDEV_CreateNetDevConnData(t, NPC_D_NXTP_DEV_KIND_DIRECT, "");
  if (!dev) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_MC_SDDC_SetupDirectDevConnect NPC_F_NXTP_MC_NETDEV_CreateNetDevConnData fail.", 2);
    return nullptr;
  }
  NPC_S_NXTP_LOGIC_TCP_CONN_DATA* logic =
      NPC_F_NXTP_MC_LOGIC_CreateLogicTcpConnData(t, dev, vendorId, resolved, port, protConnId);
  if (!logic) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_MC_SDDC_SetupDirectDevConnect NPC_F_NXTP_MC_LOGIC_CreateLogicTcpConnData fail.", 2);
    return nullptr;
  }
  logic->iTransport = NPC_D_NXTP_TRANSPORT_DIRECT;
  NPC_F_NXTP_CONN_PR_SetLogicState(t, logic, NPC_D_NXTP_LOGIC_CONN_STATE_WAIT_LOGIC_CONN_RESULT, ctx->qwNowTick);

  uint32_t portId = 0;
  if (!NPC_F_NETCOM_AddTcpConnect(ctx->hNetcom, resolved, port, &portId)) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_MC_SDDC_SetupDirectDevConnect NPC_F_NETCOM_AddTcpConnect fail.", 2);
    NPC_F_NXTP_MC_LOGIC_DeleteLogicTcpConnData(t, ctx, logic, false);
    return nullptr;
  }
  NPC_S_NXTP_NET_PORT_DATA* netPort = NPC_F_NXTP_MC_CreateNetPortData(
      t, ctx, portId, 0, NPC_D_NXTP_PORT_KIND_DIRECT_TCP, NPC_D_NXTP_PORT_STATE_CONNECTING);
  if (!netPort) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_MC_SDDC_SetupDirectDevConnect NPC_F_NXTP_MC_CreateNetPortData fail.", 2);
    NPC_F_NETCOM_CloseTcpConnect(ctx->hNetcom, portId);
    NPC_F_NXTP_MC_LOGIC_DeleteLogicTcpConnData(t, ctx, logic, false);
    return nullptr;
  }
  netPort->dwLogicTcpConnId = logic->dwLogicTcpConnId;
  NPC_F_TEXT_CopyRaw(netPort->sPeerIpaddr, sizeof netPort->sPeerIpaddr, resolved, sizeof resolved);
  netPort->usPeerPort = port;
  logic->dwSocketPortId = portId;
  return logic;
}

// The outcome of a pending connect on one of the engine's TCP ports. Success answers the module
// (result 0, direct mode) and marks connection and port connected. A failure (socket engine
// result or the engine's time-out) answers 1003, deletes the connection and counts against the
// direct record, which goes, with every connection it holds, on its fourth failure.
void NPC_F_NXTP_MC_DoNetEvent_CONNECT_RESULT(NPC_S_NXTP_CONN_TABLES* t, const NPC_S_NXTP_CONN_CONTEXT* ctx,
                                             uint32_t portId, int result) {
  NPC_S_NXTP_NET_PORT_DATA* port = NPC_F_NXTP_MC_QueryNetPortDataByPortId(t, portId);
  if (!port || port->iPortKind != NPC_D_NXTP_PORT_KIND_DIRECT_TCP) return;  // transfer ports join with their transport
  NPC_S_NXTP_LOGIC_TCP_CONN_DATA* logic = portLogic(t, port);
  if (!logic) {
    NPC_F_NXTP_MC_DeleteNetPortData(t, ctx, port);
    return;
  }
  if (logic->iLogicConnState != NPC_D_NXTP_LOGIC_CONN_STATE_WAIT_LOGIC_CONN_RESULT) return;
  if (result == 0) {
    NPC_F_NXTP_CONN_PR_SetLogicState(t, logic, NPC_D_NXTP_LOGIC_CONN_STATE_CONNECTED, ctx->qwNowTick);
    port->iPortState = NPC_D_NXTP_PORT_STATE_CONNECTED;
    port->qwStateTick = ctx->qwNowTick;
    NPC_S_NXTP_NET_DEV_CONN_DATA* dev = logic->pDevConn;
    if (dev) {
      NPC_F_TEXT_CopyRaw(dev->sConnIpaddr, sizeof dev->sConnIpaddr, logic->sPeerIpaddr, sizeof logic->sPeerIpaddr);
      dev->usConnPort = logic->usPeerPort;
    }
    NPC_F_NXTP_MC_SendNetRespDataToProtocol_NET_TCP_CONNECT(t, ctx, logic, 0, NPC_D_PVM_NET_CONN_MODE_DIRECT_TCP);
    return;
  }
  NPC_F_NXTP_MC_SendNetRespDataToProtocol_NET_TCP_CONNECT(t, ctx, logic, NPC_D_NXTP_CONN_RESULT_NET_FAIL,
                                                          NPC_D_PVM_NET_CONN_MODE_DIRECT_TCP);
  NPC_F_LOG_SR_WriteLog("Direct Conn Dev Fail.", 2);
  NPC_S_NXTP_NET_DEV_CONN_DATA* dev = logic->pDevConn;
  NPC_F_NXTP_MC_LOGIC_DeleteLogicTcpConnData(t, ctx, logic, true);  // answered already: nothing more is sent
  if (!dev || dev->iRecordKind != NPC_D_NXTP_DEV_KIND_DIRECT) return;
  if (++dev->iDirectConnFailNum > NPC_D_NXTP_DIRECT_FAIL_MAX) {
    NPC_F_LOG_SR_WriteLog("Direct Conn Dev Fail Num > 3, Reconnect Dev.", 2);
    // The connections still on the record report a network failure.
    dev->iFailCode = NPC_D_NXTP_CONN_RESULT_NET_FAIL;
    NPC_F_NXTP_MC_NETDEV_DeleteNetDevConnData(t, ctx, dev);
  }
}

// The device closed (or reset) the connection: the logical connection goes (its module hears
// once); a port without one goes by itself.
void NPC_F_NXTP_MC_DoNetEvent_DISCONNECT(NPC_S_NXTP_CONN_TABLES* t, const NPC_S_NXTP_CONN_CONTEXT* ctx,
                                         uint32_t portId) {
  NPC_S_NXTP_NET_PORT_DATA* port = NPC_F_NXTP_MC_QueryNetPortDataByPortId(t, portId);
  if (!port || port->iPortKind != NPC_D_NXTP_PORT_KIND_DIRECT_TCP) return;
  NPC_S_NXTP_LOGIC_TCP_CONN_DATA* logic = portLogic(t, port);
  if (logic)
    NPC_F_NXTP_MC_LOGIC_DeleteLogicTcpConnData(t, ctx, logic, true);
  else
    NPC_F_NXTP_MC_DeleteNetPortData(t, ctx, port);
}

// Device data: to the module as NET_SEND_DATA (channel 0) once the connection is reported
// connected; dropped before that.
void NPC_F_NXTP_MC_DoNetEvent_DATA_TcpRecv(NPC_S_NXTP_CONN_TABLES* t, const NPC_S_NXTP_CONN_CONTEXT* ctx,
                                           uint32_t portId, const uint8_t* data, int len) {
  NPC_S_NXTP_NET_PORT_DATA* port = NPC_F_NXTP_MC_QueryNetPortDataByPortId(t, portId);
  if (!port) return;
  NPC_S_NXTP_LOGIC_TCP_CONN_DATA* logic = portLogic(t, port);
  if (!logic || logic->iLogicConnState != NPC_D_NXTP_LOGIC_CONN_STATE_CONNECTED) return;
  NPC_F_NXTP_MC_SendLogicConnRecvDataToProtocol(t, ctx, logic, 0, data, len);
}
