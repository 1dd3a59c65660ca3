// The connection tables (network ports, device connections, logical connections) with their
// ids and stale-id refusal, the handling of the modules' network messages, the dispatch of the
// socket events of the engine's ports, the messages that go up to the modules, and the timers.
//
// Ids. A network port is found by the low 16 bits of its socket port id, which must lie below
// 256, and must hold exactly that id. A device connection id is a 16-bit tag above the slot
// index. A logical connection id holds its slot (bits 20..30), its device connection's slot
// (bits 10..19) and 8 random bits (0..7); bit 31 is never set and a negative id is refused. Each
// tag differs from the slot's previous one, so a stale id of a reused slot never matches.
//
// Deletion. A logical connection and its network port point at each other; each deletion first
// unlinks the other side, so neither runs twice and a module hears exactly once.
#include <cstring>
#include <new>

#include "bus/pvm_msg.h"
#include "conn/nxtp_conn_pr.h"
#include "runtime/log.h"
#include "runtime/random.h"
#include "runtime/text.h"

namespace {

constexpr uint32_t kLogicSlotShift = 20;
constexpr uint32_t kLogicDevShift = 10;
constexpr uint32_t kLogicSlotMask = 0x7FF;
constexpr uint32_t kLogicDevMask = 0x3FF;
constexpr uint32_t kLogicTagMask = 0xFF;

void deliver(const NPC_S_NXTP_CONN_CONTEXT* ctx, uint32_t vendorId, uint8_t* msg, int len) {
  if (ctx->pfnSendNetDataToProtocol) ctx->pfnSendNetDataToProtocol(ctx->pUser, vendorId, msg, len);
}

// The logical connection a module message names: exactly this id and the sender's own.
NPC_S_NXTP_LOGIC_TCP_CONN_DATA* findModuleLogic(NPC_S_NXTP_CONN_TABLES* t, uint32_t vendorId, uint32_t id,
                                                const char* handler) {
  NPC_S_NXTP_LOGIC_TCP_CONN_DATA* logic = NPC_F_NXTP_MC_LOGIC_QueryLogicTcpConnDataByLogicTcpConnId(t, id);
  if (!logic || logic->dwVendorId != vendorId) {
    NPC_F_LOG_SR_WriteLogF("%s NPC_F_NXTP_MC_LOGIC_QueryLogicTcpConnDataByLogicTcpConnId fail.", handler);
    return nullptr;
  }
  return logic;
}

void putU32(uint8_t* msg, size_t off, uint32_t v) { memcpy(msg + off, &v, 4); }
void putI32(uint8_t* msg, size_t off, int32_t v) { memcpy(msg + off, &v, 4); }

// Turns a NET_TCP_CONNECT request in place into a response with a result and an answer stage.
void setConnectResp(uint8_t* msg, int32_t result, int32_t stage, uint32_t logicId) {
  putI32(msg, offsetof(NPC_S_PVM_NET_MSG_HEAD, iMsgType), NPC_D_PVM_NET_MSG_TYPE_RESPONSE);
  putI32(msg, offsetof(NPC_S_PVM_NET_MSG_HEAD, iResult), result);
  putI32(msg, offsetof(NPC_S_PVM_NET_MSG_TCP_CONNECT, iAnswerStage), stage);
  putU32(msg, offsetof(NPC_S_PVM_NET_MSG_TCP_CONNECT, dwLogicTcpConnId), logicId);
}

// --- The modules' network messages ---------------------------------------------------------------

// NET_TCP_CONNECT: choose the transport, set the connection up, keep the request and answer
// "in progress"; a set-up that fails is answered once, finally, with result 8.
void doNetTcpConnect(NPC_S_NXTP_CONN_TABLES* t, const NPC_S_NXTP_CONN_CONTEXT* ctx, uint32_t vendorId, uint8_t* msg,
                     int len, const NPC_S_PVM_NET_MSG_VIEW& v) {
  NPC_S_PVM_NET_MSG_TCP_CONNECT req;
  if (!NPC_F_PVM_MSG_ReadNetFixed(v, &req)) {
    NPC_F_LOG_SR_WriteLogF("NPC_F_NXTP_MC_WPVM_DoProtEvent_NET_TCP_CONNECT iMsgLen %d < %d.", len,
                           static_cast<int>(sizeof req));
    return;
  }
  if (req.tHead.iMsgType != NPC_D_PVM_NET_MSG_TYPE_REQUEST) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_MC_WPVM_DoProtEvent_NET_TCP_CONNECT iMsgType != NPC_D_PVM_NET_MSG_TYPE_REQUEST.", 2);
    return;
  }
  char devId[sizeof req.sDevId + 1];
  char devIpaddr[sizeof req.sDevIpaddr + 1];
  NPC_F_TEXT_CopyRaw(devId, sizeof devId, req.sDevId, sizeof req.sDevId);
  NPC_F_TEXT_CopyRaw(devIpaddr, sizeof devIpaddr, req.sDevIpaddr, sizeof req.sDevIpaddr);

  NPC_S_NXTP_LOGIC_TCP_CONN_DATA* logic = nullptr;
  switch (NPC_F_NXTP_CONN_ChooseTransport(devId, devIpaddr)) {
    case NPC_D_NXTP_TRANSPORT_DIRECT:
      NPC_F_LOG_SR_ShowInfoF("Request Establish Direct Logic TCP Connect.[%s:%d]", devIpaddr, req.usDevPort);
      logic = NPC_F_NXTP_MC_SDDC_SetupDirectDevConnect(t, ctx, vendorId, req.dwProtConnId, devIpaddr, req.usDevPort);
      break;
    case NPC_D_NXTP_TRANSPORT_BROADCAST:
      // The LAN broadcast transport sets its connection up here once it exists.
      NPC_F_LOG_SR_ShowInfo("Request Establish BroadCast Dev Connect.");
      break;
    default:
      // The peer-to-peer and relay transport sets its connection up here once it exists.
      NPC_F_LOG_SR_ShowInfoF("Request Establish P2P Dev Connect.[%s]", devId);
      break;
  }
  if (logic) {
    try {
      logic->tConnRequ.assign(msg, msg + len);
    } catch (const std::bad_alloc&) {
      NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_MC_WPVM_DoProtEvent_NET_TCP_CONNECT malloc fail.", 2);
      NPC_F_NXTP_MC_LOGIC_DeleteLogicTcpConnData(t, ctx, logic, false);
      logic = nullptr;
    }
  }
  if (!logic) {
    setConnectResp(msg, NPC_D_NXTP_CONN_RESULT_SETUP_FAIL, NPC_D_PVM_NET_CONN_STAGE_FINAL, 0);
    deliver(ctx, vendorId, msg, len);
    return;
  }
  setConnectResp(msg, 0, NPC_D_PVM_NET_CONN_STAGE_PROGRESS, logic->dwLogicTcpConnId);
  deliver(ctx, vendorId, msg, len);
}

// NET_TCP_DISCONNECT: the module closes a connection; it hears back once (a disconnect notice
// for a connected one, the final connect response for one still being set up).
void doNetTcpDisconnect(NPC_S_NXTP_CONN_TABLES* t, const NPC_S_NXTP_CONN_CONTEXT* ctx, uint32_t vendorId,
                        const NPC_S_PVM_NET_MSG_VIEW& v) {
  NPC_S_PVM_NET_MSG_CONN_IDS ids;
  if (!NPC_F_PVM_MSG_ReadNetFixed(v, &ids)) {
    NPC_F_LOG_SR_WriteLogF("NPC_F_NXTP_MC_WPVM_DoProtEvent_NET_TCP_DISCONNECT iMsgLen %d < %d.", v.iMsgLen,
                           static_cast<int>(sizeof ids));
    return;
  }
  NPC_S_NXTP_LOGIC_TCP_CONN_DATA* logic =
      findModuleLogic(t, vendorId, ids.dwLogicTcpConnId, "NPC_F_NXTP_MC_WPVM_DoProtEvent_NET_TCP_DISCONNECT");
  if (!logic) return;
  if (logic->iTransport != NPC_D_NXTP_TRANSPORT_BROADCAST && logic->dwSocketPortId) {
    NPC_S_NXTP_NET_PORT_DATA* port = NPC_F_NXTP_MC_QueryNetPortDataByPortId(t, logic->dwSocketPortId);
    if (port && port->dwLogicTcpConnId == logic->dwLogicTcpConnId) {
      NPC_F_NXTP_MC_DeleteNetPortData(t, ctx, port);  // closes the socket and deletes the logical connection
      return;
    }
  }
  // Without a socket of its own: the device is told over the server link (peer-to-peer) or by
  // broadcast, once those transports exist; then the connection goes.
  NPC_F_NXTP_MC_LOGIC_DeleteLogicTcpConnData(t, ctx, logic, true);
}

// NET_SEND_DATA: bytes for the device. The data is every byte behind the fixed part; a
// declared length that passes the message's end is refused, never read.
void doNetSendData(NPC_S_NXTP_CONN_TABLES* t, const NPC_S_NXTP_CONN_CONTEXT* ctx, uint32_t vendorId,
                   const NPC_S_PVM_NET_MSG_VIEW& v) {
  NPC_S_PVM_NET_DATA_VIEW d;
  if (!NPC_F_PVM_MSG_ReadNetSendData(v, &d)) {
    NPC_F_LOG_SR_WriteLogF("NPC_F_NXTP_MC_WPVM_DoProtEvent_NET_SEND_DATA iMsgLen %d < %d.", v.iMsgLen,
                           static_cast<int>(sizeof(NPC_S_PVM_NET_MSG_SEND_DATA)));
    return;
  }
  if (v.tHead.iMsgType != NPC_D_PVM_NET_MSG_TYPE_REQUEST) {
    NPC_F_LOG_SR_WriteLog("提示：NPC_F_NXTP_MC_WPVM_DoProtEvent_NET_SEND_DATA iMsgType != NPC_D_PVM_NET_MSG_TYPE_REQUEST.", 2);
    return;
  }
  if (d.iDataLen <= 0) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_MC_WPVM_DoProtEvent_NET_SEND_DATA iSjDataLen <= 0.", 2);
    return;
  }
  if (d.iDataLenField > d.iDataLen) {
    NPC_F_LOG_SR_WriteLogF("NPC_F_NXTP_MC_WPVM_DoProtEvent_NET_SEND_DATA iDataLen %d > iSjDataLen %d.", d.iDataLenField,
                           d.iDataLen);
    return;
  }
  NPC_S_NXTP_LOGIC_TCP_CONN_DATA* logic =
      findModuleLogic(t, vendorId, d.dwLogicTcpConnId, "NPC_F_NXTP_MC_WPVM_DoProtEvent_NET_SEND_DATA");
  if (!logic) return;
  switch (logic->iTransport) {
    case NPC_D_NXTP_TRANSPORT_DIRECT:
      if (!NPC_F_NETCOM_SendTcpDataEx(ctx->hNetcom, logic->dwSocketPortId, reinterpret_cast<const char*>(d.pData),
                                      d.iDataLen, d.iDataType, 0, 0, 0)) {
        NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_MC_WPVM_DoProtEvent_NET_SEND_DATA NPC_F_NETCOM_SendTcpDataEx fail.", 2);
        NPC_F_NXTP_MC_LOGIC_DeleteLogicTcpConnData(t, ctx, logic, true);
      }
      return;
    default:
      // The peer-to-peer and broadcast transports carry data here once they exist.
      return;
  }
}

// NET_REQU_CLEAR_CACHE: honoured for relayed connections only, once until the device answers.
void doNetRequClearCache(NPC_S_NXTP_CONN_TABLES* t, const NPC_S_NXTP_CONN_CONTEXT*, uint32_t vendorId,
                         const NPC_S_PVM_NET_MSG_VIEW& v) {
  NPC_S_PVM_NET_MSG_CONN_IDS ids;
  if (!NPC_F_PVM_MSG_ReadNetFixed(v, &ids)) {
    NPC_F_LOG_SR_WriteLogF("NPC_F_NXTP_MC_WPVM_DoProtEvent_NET_REQU_CLEAR_CACHE iMsgLen %d < %d.", v.iMsgLen,
                           static_cast<int>(sizeof ids));
    return;
  }
  NPC_S_NXTP_LOGIC_TCP_CONN_DATA* logic =
      findModuleLogic(t, vendorId, ids.dwLogicTcpConnId, "NPC_F_NXTP_MC_WPVM_DoProtEvent_NET_REQU_CLEAR_CACHE");
  if (!logic || logic->iTransport != NPC_D_NXTP_TRANSPORT_P2P || logic->bClearCachePending) return;
  NPC_F_LOG_SR_ShowInfo("Request Clear Cache Data(Request)");
  logic->bClearCachePending = 1;
  // The request to the device goes over the device's server link once that transport exists.
}

// NET_SWITCH_MEDIA_TRANS_MODE: recorded for connections over a reliable UDP link only.
void doNetSwitchMediaTransMode(NPC_S_NXTP_CONN_TABLES* t, const NPC_S_NXTP_CONN_CONTEXT* ctx, uint32_t vendorId,
                               const NPC_S_PVM_NET_MSG_VIEW& v) {
  NPC_S_PVM_NET_MSG_SWITCH_MEDIA_TRANS_MODE m;
  if (!NPC_F_PVM_MSG_ReadNetFixed(v, &m)) {
    NPC_F_LOG_SR_WriteLogF("NPC_F_NXTP_MC_WPVM_DoProtEvent_NET_SWITCH_MEDIA_TRANS_MODE iMsgLen %d < %d.", v.iMsgLen,
                           static_cast<int>(sizeof m));
    return;
  }
  NPC_S_NXTP_LOGIC_TCP_CONN_DATA* logic =
      findModuleLogic(t, vendorId, m.dwLogicTcpConnId, "NPC_F_NXTP_MC_WPVM_DoProtEvent_NET_SWITCH_MEDIA_TRANS_MODE");
  if (!logic || logic->iTransport != NPC_D_NXTP_TRANSPORT_P2P) return;
  logic->bMediaSwitchPending = 1;
  logic->iMediaSwitchMode = m.iMediaTransMode;
  logic->qwMediaSwitchTick = ctx->qwNowTick;
  // The out-of-band message goes over the reliable UDP link once it exists.
}

}  // namespace

// --- Tables --------------------------------------------------------------------------------------

NPC_S_NXTP_CONN_TABLES* NPC_F_NXTP_CONN_CreateTables() { return new (std::nothrow) NPC_S_NXTP_CONN_TABLES(); }

void NPC_F_NXTP_CONN_DestroyTables(NPC_S_NXTP_CONN_TABLES* t) {
  if (!t) return;
  for (NPC_S_NXTP_NET_PORT_DATA*& port : t->pPorts) {
    delete port;
    port = nullptr;
  }
  for (NPC_S_NXTP_NET_DEV_CONN_DATA*& dev : t->pDevConns) {
    if (!dev) continue;
    if (dev->ppLogicConn) {
      for (int i = 0; i < NPC_D_NXTP_LOGIC_CONN_NUM; ++i) delete dev->ppLogicConn[i];
      delete[] dev->ppLogicConn;
    }
    delete dev;
    dev = nullptr;
  }
  for (uint8_t*& tags : t->pLogicTags) {
    delete[] tags;
    tags = nullptr;
  }
  std::free(t->pMsgBuf);
  delete t;
}

int NPC_F_NXTP_CONN_GetStats(const NPC_S_NXTP_CONN_TABLES* t, NPC_S_NXTP_CONN_STATS* out) {
  if (!t || !out) return 0;
  *out = NPC_S_NXTP_CONN_STATS{};
  out->iNetPortNum = t->iPortNum;
  out->iDevConnNum = t->iDevConnNum;
  out->iLogicConnNum = t->iLogicConnNum;
  for (const NPC_S_NXTP_NET_DEV_CONN_DATA* dev : t->pDevConns)
    if (dev && dev->iRecordKind == NPC_D_NXTP_DEV_KIND_DIRECT) {
      out->iDirectConnFailNum = dev->iDirectConnFailNum;
      break;
    }
  return 1;
}

uint8_t* NPC_F_NXTP_CONN_PR_MsgBuf(NPC_S_NXTP_CONN_TABLES* t, size_t n) {
  if (n > t->dwMsgBufCap) {
    void* p = std::realloc(t->pMsgBuf, n);
    if (!p) return nullptr;
    t->pMsgBuf = static_cast<uint8_t*>(p);
    t->dwMsgBufCap = n;
  }
  return t->pMsgBuf;
}

int NPC_F_NXTP_CONN_ChooseTransport(const char* devId, const char* devIpaddr) {
  if (!devId || devId[0] == '\0') return NPC_D_NXTP_TRANSPORT_DIRECT;
  if (devIpaddr && strcmp(devIpaddr, NPC_D_PVM_NET_BROADCAST_IPADDR) == 0) return NPC_D_NXTP_TRANSPORT_BROADCAST;
  return NPC_D_NXTP_TRANSPORT_P2P;
}

// --- Network ports -------------------------------------------------------------------------------

NPC_S_NXTP_NET_PORT_DATA* NPC_F_NXTP_MC_QueryNetPortDataByPortId(NPC_S_NXTP_CONN_TABLES* t, uint32_t portId) {
  const uint32_t slot = portId & 0xFFFFu;
  if (!t || slot >= static_cast<uint32_t>(NPC_D_NXTP_NET_PORT_NUM)) return nullptr;
  NPC_S_NXTP_NET_PORT_DATA* port = t->pPorts[slot];
  return port && port->dwPortId == portId ? port : nullptr;
}

NPC_S_NXTP_NET_PORT_DATA* NPC_F_NXTP_MC_CreateNetPortData(NPC_S_NXTP_CONN_TABLES* t, const NPC_S_NXTP_CONN_CONTEXT* ctx,
                                                          uint32_t portId, int bUdp, int portKind, int portState) {
  const uint32_t slot = portId & 0xFFFFu;
  if (!t || portId == 0 || slot >= static_cast<uint32_t>(NPC_D_NXTP_NET_PORT_NUM)) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_MC_CreateNetPortData dwPortId error.", 2);
    return nullptr;
  }
  if (t->pPorts[slot]) NPC_F_NXTP_MC_DeleteNetPortData(t, ctx, t->pPorts[slot]);  // a stale record
  auto* port = new (std::nothrow) NPC_S_NXTP_NET_PORT_DATA();
  if (!port) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_MC_CreateNetPortData malloc fail.", 2);
    return nullptr;
  }
  port->dwPortId = portId;
  port->bUdp = bUdp;
  port->iPortKind = portKind;
  port->iPortState = portState;
  port->qwStateTick = ctx ? ctx->qwNowTick : 0;
  t->pPorts[slot] = port;
  ++t->iPortNum;
  return port;
}

void NPC_F_NXTP_MC_DeleteNetPortData(NPC_S_NXTP_CONN_TABLES* t, const NPC_S_NXTP_CONN_CONTEXT* ctx,
                                     NPC_S_NXTP_NET_PORT_DATA* port) {
  if (!t || !port) return;
  const uint32_t slot = port->dwPortId & 0xFFFFu;
  if (slot < static_cast<uint32_t>(NPC_D_NXTP_NET_PORT_NUM) && t->pPorts[slot] == port) {
    t->pPorts[slot] = nullptr;
    --t->iPortNum;
  }
  if (ctx && ctx->hNetcom) {
    if (port->bUdp)
      NPC_F_NETCOM_CloseUdpListenByPortId(ctx->hNetcom, port->dwPortId);
    else
      NPC_F_NETCOM_CloseTcpConnect(ctx->hNetcom, port->dwPortId);
  }
  if (port->iPortKind == NPC_D_NXTP_PORT_KIND_DIRECT_TCP && port->dwLogicTcpConnId) {
    NPC_S_NXTP_LOGIC_TCP_CONN_DATA* logic =
        NPC_F_NXTP_MC_LOGIC_QueryLogicTcpConnDataByLogicTcpConnId(t, port->dwLogicTcpConnId);
    if (logic && logic->dwSocketPortId == port->dwPortId) {
      logic->dwSocketPortId = 0;  // unlinked: the connection's deletion leaves this port alone
      NPC_F_NXTP_MC_LOGIC_DeleteLogicTcpConnData(t, ctx, logic, true);
    }
  }
  delete port;
}

// --- Device connections --------------------------------------------------------------------------

NPC_S_NXTP_NET_DEV_CONN_DATA* NPC_F_NXTP_MC_NETDEV_CreateNetDevConnData(NPC_S_NXTP_CONN_TABLES* t, int kind,
                                                                        const char* devId) {
  for (int slot = 0; slot < NPC_D_NXTP_DEV_CONN_NUM; ++slot) {
    if (t->pDevConns[slot]) continue;
    auto* dev = new (std::nothrow) NPC_S_NXTP_NET_DEV_CONN_DATA();
    if (!dev) {
      NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_MC_NETDEV_CreateNetDevConnData malloc fail.", 2);
      return nullptr;
    }
    const uint32_t tag = NPC_F_SYS_RANDOM_NewTag(t->usLastDevTag[slot], 0xFFFF);
    t->usLastDevTag[slot] = static_cast<uint16_t>(tag);
    dev->dwNxtpNetDevPosId = (tag << 16) | static_cast<uint32_t>(slot);
    dev->iSlotIndex = slot;
    dev->iRecordKind = kind;
    NPC_F_TEXT_CopyRaw(dev->sDevId, sizeof dev->sDevId, devId ? devId : "", sizeof dev->sDevId);
    t->pDevConns[slot] = dev;
    ++t->iDevConnNum;
    return dev;
  }
  NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_MC_NETDEV_CreateNetDevConnData no idle pos.", 2);
  return nullptr;
}

void NPC_F_NXTP_MC_NETDEV_DeleteNetDevConnData(NPC_S_NXTP_CONN_TABLES* t, const NPC_S_NXTP_CONN_CONTEXT* ctx,
                                               NPC_S_NXTP_NET_DEV_CONN_DATA* dev) {
  if (!t || !dev) return;
  if (t->pDevConns[dev->iSlotIndex] == dev) {
    t->pDevConns[dev->iSlotIndex] = nullptr;
    --t->iDevConnNum;
  }
  if (dev->ppLogicConn) {
    for (int i = 0; i < NPC_D_NXTP_LOGIC_CONN_NUM; ++i) {
      NPC_S_NXTP_LOGIC_TCP_CONN_DATA* logic = dev->ppLogicConn[i];
      if (!logic) continue;
      if (logic->iLogicConnFailCode == 0) logic->iLogicConnFailCode = dev->iFailCode;
      NPC_F_NXTP_MC_LOGIC_DeleteLogicTcpConnData(t, ctx, logic, true);
    }
    delete[] dev->ppLogicConn;
  }
  delete dev;
}

NPC_S_NXTP_NET_DEV_CONN_DATA* NPC_F_NXTP_CONN_PR_FindDirectDevConn(NPC_S_NXTP_CONN_TABLES* t) {
  for (NPC_S_NXTP_NET_DEV_CONN_DATA* dev : t->pDevConns)
    if (dev && dev->iRecordKind == NPC_D_NXTP_DEV_KIND_DIRECT) return dev;
  return nullptr;
}

// --- Logical connections -------------------------------------------------------------------------

NPC_S_NXTP_LOGIC_TCP_CONN_DATA* NPC_F_NXTP_MC_LOGIC_QueryLogicTcpConnDataByLogicTcpConnId(
    NPC_S_NXTP_CONN_TABLES* t, uint32_t id) {
  if (!t || (id & 0x80000000u)) return nullptr;
  const uint32_t devSlot = (id >> kLogicDevShift) & kLogicDevMask;
  const uint32_t slot = (id >> kLogicSlotShift) & kLogicSlotMask;
  NPC_S_NXTP_NET_DEV_CONN_DATA* dev = t->pDevConns[devSlot];
  if (!dev || !dev->ppLogicConn) return nullptr;
  NPC_S_NXTP_LOGIC_TCP_CONN_DATA* logic = dev->ppLogicConn[slot];
  return logic && logic->dwLogicTcpConnId == id ? logic : nullptr;
}

NPC_S_NXTP_LOGIC_TCP_CONN_DATA* NPC_F_NXTP_MC_LOGIC_CreateLogicTcpConnData(NPC_S_NXTP_CONN_TABLES* t,
                                                                           NPC_S_NXTP_NET_DEV_CONN_DATA* dev,
                                                                           uint32_t vendorId, const char* ipaddr,
                                                                           unsigned short port, uint32_t protConnId) {
  const int devSlot = dev->iSlotIndex;
  if (!dev->ppLogicConn) dev->ppLogicConn = new (std::nothrow) NPC_S_NXTP_LOGIC_TCP_CONN_DATA* [NPC_D_NXTP_LOGIC_CONN_NUM]();
  if (!t->pLogicTags[devSlot]) t->pLogicTags[devSlot] = new (std::nothrow) uint8_t[NPC_D_NXTP_LOGIC_CONN_NUM]();
  if (!dev->ppLogicConn || !t->pLogicTags[devSlot]) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_MC_LOGIC_CreateLogicTcpConnData malloc fail.", 2);
    return nullptr;
  }
  for (int slot = 0; slot < NPC_D_NXTP_LOGIC_CONN_NUM; ++slot) {
    if (dev->ppLogicConn[slot]) continue;
    auto* logic = new (std::nothrow) NPC_S_NXTP_LOGIC_TCP_CONN_DATA();
    if (!logic) {
      NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_MC_LOGIC_CreateLogicTcpConnData malloc fail.", 2);
      return nullptr;
    }
    const uint32_t tag = NPC_F_SYS_RANDOM_NewTag(t->pLogicTags[devSlot][slot], kLogicTagMask);
    t->pLogicTags[devSlot][slot] = static_cast<uint8_t>(tag);
    logic->iSlotIndex = slot;
    logic->pDevConn = dev;
    NPC_F_TEXT_CopyRaw(logic->sPeerIpaddr, sizeof logic->sPeerIpaddr, ipaddr ? ipaddr : "", 15);
    logic->usPeerPort = port;
    logic->dwVendorId = vendorId;
    logic->dwProtConnId = protConnId;
    logic->dwLogicTcpConnId = (static_cast<uint32_t>(slot) << kLogicSlotShift) |
                              (static_cast<uint32_t>(devSlot) << kLogicDevShift) | tag;
    dev->ppLogicConn[slot] = logic;
    ++dev->iLogicConnNum;
    ++t->iLogicConnNum;
    return logic;
  }
  NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_MC_LOGIC_CreateLogicTcpConnData no idle pos.", 2);
  return nullptr;
}

void NPC_F_NXTP_CONN_PR_SetLogicState(NPC_S_NXTP_CONN_TABLES* t, NPC_S_NXTP_LOGIC_TCP_CONN_DATA* logic, int state,
                                      int64_t tick) {
  NPC_S_NXTP_NET_DEV_CONN_DATA* dev = logic->pDevConn;
  if (dev && logic->iLogicConnState != state) {
    if (logic->iLogicConnState == NPC_D_NXTP_LOGIC_CONN_STATE_CLOSING) {
      --dev->iClosingNum;
      --t->iClosingNum;
    }
    if (state == NPC_D_NXTP_LOGIC_CONN_STATE_CLOSING) {
      ++dev->iClosingNum;
      ++t->iClosingNum;
    }
  }
  logic->iLogicConnState = state;
  logic->qwStateTick = tick;
}

void NPC_F_NXTP_MC_LOGIC_DeleteLogicTcpConnData(NPC_S_NXTP_CONN_TABLES* t, const NPC_S_NXTP_CONN_CONTEXT* ctx,
                                                NPC_S_NXTP_LOGIC_TCP_CONN_DATA* logic, bool notify) {
  if (!t || !logic) return;
  // 1. Out of its device connection's slot.
  NPC_S_NXTP_NET_DEV_CONN_DATA* dev = logic->pDevConn;
  if (dev && dev->ppLogicConn && dev->ppLogicConn[logic->iSlotIndex] == logic) {
    dev->ppLogicConn[logic->iSlotIndex] = nullptr;
    --dev->iLogicConnNum;
    --t->iLogicConnNum;
    if (logic->iLogicConnState == NPC_D_NXTP_LOGIC_CONN_STATE_CLOSING) {
      --dev->iClosingNum;
      --t->iClosingNum;
    }
  }
  // 2. Its socket: the port is unlinked first, so the port's deletion does not come back here.
  if (logic->dwSocketPortId) {
    NPC_S_NXTP_NET_PORT_DATA* port = NPC_F_NXTP_MC_QueryNetPortDataByPortId(t, logic->dwSocketPortId);
    if (port && port->dwLogicTcpConnId == logic->dwLogicTcpConnId) {
      port->dwLogicTcpConnId = 0;
      NPC_F_NXTP_MC_DeleteNetPortData(t, ctx, port);
    } else if (!port && ctx && ctx->hNetcom) {
      NPC_F_NETCOM_CloseTcpConnect(ctx->hNetcom, logic->dwSocketPortId);  // a socket without a port record
    }
    logic->dwSocketPortId = 0;
  }
  // The reliable UDP connection (peer-to-peer) and the broadcast UDP port go here with their
  // transports.
  // 3. The module hears of it once.
  if (notify) {
    if (logic->iLogicConnState == NPC_D_NXTP_LOGIC_CONN_STATE_CONNECTED ||
        logic->iLogicConnState == NPC_D_NXTP_LOGIC_CONN_STATE_CLOSING) {
      NPC_F_NXTP_MC_SendNetRequDataToProtocol_NET_TCP_DISCONNECT(t, ctx, logic);
    } else if (!logic->bFinalRespSent) {
      int32_t code = logic->iLogicConnFailCode;
      if (code == 0) {
        NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_MC_LOGIC_DeleteLogicTcpConnData iLogicConnFailCode == 0.", 2);
        code = NPC_D_NXTP_CONN_RESULT_OTHER_FAIL;
      }
      NPC_F_NXTP_MC_SendNetRespDataToProtocol_NET_TCP_CONNECT(t, ctx, logic, code, NPC_D_PVM_NET_CONN_MODE_DIRECT_TCP);
    }
  }
  // 4. The record (its saved request goes with it).
  delete logic;
}

// --- Messages to the modules ---------------------------------------------------------------------

// The final response is the saved request answered: kind 1, result, stage 2, the mode reached,
// the logical connection id, and the connection's own peer as the address and port reached.
void NPC_F_NXTP_MC_SendNetRespDataToProtocol_NET_TCP_CONNECT(NPC_S_NXTP_CONN_TABLES* t,
                                                             const NPC_S_NXTP_CONN_CONTEXT* ctx,
                                                             NPC_S_NXTP_LOGIC_TCP_CONN_DATA* logic, int32_t result,
                                                             int32_t connMode) {
  if (logic->bFinalRespSent) return;
  logic->bFinalRespSent = 1;
  const size_t len = logic->tConnRequ.size();
  if (len < sizeof(NPC_S_PVM_NET_MSG_TCP_CONNECT)) return;  // no request kept: nothing to answer
  uint8_t* msg = NPC_F_NXTP_CONN_PR_MsgBuf(t, len);
  if (!msg) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_MC_SendNetRespDataToProtocol_NET_TCP_CONNECT malloc fail.", 2);
    return;
  }
  memcpy(msg, logic->tConnRequ.data(), len);
  setConnectResp(msg, result, NPC_D_PVM_NET_CONN_STAGE_FINAL, logic->dwLogicTcpConnId);
  putI32(msg, offsetof(NPC_S_PVM_NET_MSG_TCP_CONNECT, iConnMode), connMode);
  char* reached = reinterpret_cast<char*>(msg + offsetof(NPC_S_PVM_NET_MSG_TCP_CONNECT, sConnIpaddr));
  memset(reached, 0, sizeof(NPC_S_PVM_NET_MSG_TCP_CONNECT::sConnIpaddr));
  NPC_F_TEXT_CopyRaw(reached, 16, logic->sPeerIpaddr, sizeof logic->sPeerIpaddr);
  memcpy(msg + offsetof(NPC_S_PVM_NET_MSG_TCP_CONNECT, usConnPort), &logic->usPeerPort, 2);
  deliver(ctx, logic->dwVendorId, msg, static_cast<int>(len));
}

namespace {

void sendConnIds(NPC_S_NXTP_CONN_TABLES* t, const NPC_S_NXTP_CONN_CONTEXT* ctx, NPC_S_NXTP_LOGIC_TCP_CONN_DATA* logic,
                 int32_t iMsgId) {
  NPC_S_PVM_NET_MSG_CONN_IDS m;
  NPC_F_PVM_MSG_InitNetConnIds(&m, iMsgId, logic->dwProtConnId, logic->dwLogicTcpConnId);
  uint8_t* msg = NPC_F_NXTP_CONN_PR_MsgBuf(t, sizeof m);
  if (!msg) return;
  memcpy(msg, &m, sizeof m);
  deliver(ctx, logic->dwVendorId, msg, static_cast<int>(sizeof m));
}

}  // namespace

void NPC_F_NXTP_MC_SendNetRequDataToProtocol_NET_TCP_DISCONNECT(NPC_S_NXTP_CONN_TABLES* t,
                                                                const NPC_S_NXTP_CONN_CONTEXT* ctx,
                                                                NPC_S_NXTP_LOGIC_TCP_CONN_DATA* logic) {
  sendConnIds(t, ctx, logic, NET_TCP_DISCONNECT);
}

void NPC_F_NXTP_MC_SendNetRequDataToProtocol_NET_REDIRECT_DATA(NPC_S_NXTP_CONN_TABLES* t,
                                                               const NPC_S_NXTP_CONN_CONTEXT* ctx,
                                                               NPC_S_NXTP_LOGIC_TCP_CONN_DATA* logic) {
  sendConnIds(t, ctx, logic, NET_REDIRECT_DATA);
}

// The received bytes are copied once, behind the 40-byte fixed part, into the tables' message
// buffer, which the next message reuses.
void NPC_F_NXTP_MC_SendLogicConnRecvDataToProtocol(NPC_S_NXTP_CONN_TABLES* t, const NPC_S_NXTP_CONN_CONTEXT* ctx,
                                                   NPC_S_NXTP_LOGIC_TCP_CONN_DATA* logic, uint32_t channel,
                                                   const uint8_t* data, int len) {
  if (!data || len <= 0) return;
  const size_t total = sizeof(NPC_S_PVM_NET_MSG_SEND_DATA) + static_cast<size_t>(len);
  if (total > static_cast<size_t>(NPC_D_PVM_MSG_MAX_LEN)) return;
  uint8_t* msg = NPC_F_NXTP_CONN_PR_MsgBuf(t, total);
  if (!msg) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_MC_SendLogicConnRecvDataToProtocol malloc fail.", 2);
    return;
  }
  NPC_S_PVM_NET_MSG_SEND_DATA head{};
  head.tHead = NPC_F_PVM_MSG_NetHead(NET_SEND_DATA, NPC_D_PVM_NET_MSG_TYPE_REQUEST, 0);
  head.tHead.iBodyLen = static_cast<int32_t>(total - sizeof(NPC_S_PVM_NET_MSG_HEAD));
  head.dwProtConnId = logic->dwProtConnId;
  head.dwLogicTcpConnId = logic->dwLogicTcpConnId;
  head.iDataLen = len;
  head.dwChannel = channel;
  memcpy(msg, &head, sizeof head);
  memcpy(msg + sizeof head, data, static_cast<size_t>(len));
  logic->qwRecvBytes += static_cast<uint64_t>(len);
  deliver(ctx, logic->dwVendorId, msg, static_cast<int>(total));
}

// --- Dispatch ------------------------------------------------------------------------------------

void NPC_F_NXTP_CONN_DoProtNetMsg(NPC_S_NXTP_CONN_TABLES* t, const NPC_S_NXTP_CONN_CONTEXT* ctx, uint32_t vendorId,
                                  unsigned char* msg, int len) {
  if (!t || !ctx || !msg) return;
  NPC_S_PVM_NET_MSG_VIEW v;
  if (!NPC_F_PVM_MSG_ReadNetMsg(msg, len, &v)) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_MC_WPVM_DoVendorProtEvent NPC_F_PVM_MSG_ReadNetMsg fail.", 2);
    return;
  }
  switch (v.tHead.iMsgId) {
    case NET_TCP_CONNECT:
      doNetTcpConnect(t, ctx, vendorId, msg, len, v);
      return;
    case NET_TCP_DISCONNECT:
      doNetTcpDisconnect(t, ctx, vendorId, v);
      return;
    case NET_SEND_DATA:
      doNetSendData(t, ctx, vendorId, v);
      return;
    case NET_REQU_CLEAR_CACHE:
      doNetRequClearCache(t, ctx, vendorId, v);
      return;
    case NET_SWITCH_MEDIA_TRANS_MODE:
      doNetSwitchMediaTransMode(t, ctx, vendorId, v);
      return;
    default:
      return;
  }
}

void NPC_F_NXTP_CONN_DoNetEvent(NPC_S_NXTP_CONN_TABLES* t, const NPC_S_NXTP_CONN_CONTEXT* ctx, const char* event,
                                int len) {
  if (!t || !ctx || !event || len < static_cast<int>(sizeof(NPC_S_NETCOM_DATA_HEAD))) return;
  NPC_S_NETCOM_DATA_HEAD h;
  memcpy(&h, event, sizeof h);
  if (h.iDataLen < 0 || static_cast<int64_t>(sizeof h) + h.iDataLen != len) return;
  const uint8_t* data = reinterpret_cast<const uint8_t*>(event) + sizeof h;
  switch (h.iEventType) {
    case NPC_D_NETCOM_EVENT_CONNECT_RESULT: {
      int32_t result = 1;
      if (h.iDataLen >= 4) memcpy(&result, data, 4);
      NPC_F_NXTP_MC_DoNetEvent_CONNECT_RESULT(t, ctx, h.dwPortId, result);
      return;
    }
    case NPC_D_NETCOM_EVENT_DISCONNECT:
      NPC_F_NXTP_MC_DoNetEvent_DISCONNECT(t, ctx, h.dwPortId);
      return;
    case NPC_D_NETCOM_EVENT_DATA:
      if (h.usTransType == NPC_D_NETCOM_TRANS_TYPE_TCP) NPC_F_NXTP_MC_DoNetEvent_DATA_TcpRecv(t, ctx, h.dwPortId, data, h.iDataLen);
      // Datagrams on the main UDP port (reliable UDP, server datagrams) are handled here with
      // the reliable UDP layer and the server login.
      return;
    default:
      return;  // CONNECT and SEND_COMPLETE are not used
  }
}

// --- Timers --------------------------------------------------------------------------------------

// Device connections with logical connections in the delayed-close state: those whose close
// deadline has passed are deleted. (The device connections' own timers join here with the
// peer-to-peer transport.)
void NPC_F_NXTP_CONN_DoTimer(NPC_S_NXTP_CONN_TABLES* t, const NPC_S_NXTP_CONN_CONTEXT* ctx) {
  if (!t || !ctx || t->iClosingNum <= 0) return;
  for (int d = 0; d < NPC_D_NXTP_DEV_CONN_NUM; ++d) {
    NPC_S_NXTP_NET_DEV_CONN_DATA* dev = t->pDevConns[d];
    if (!dev || dev->iClosingNum <= 0 || !dev->ppLogicConn) continue;
    for (int i = 0; i < NPC_D_NXTP_LOGIC_CONN_NUM && t->pDevConns[d] == dev; ++i) {
      NPC_S_NXTP_LOGIC_TCP_CONN_DATA* logic = dev->ppLogicConn[i];
      if (logic && logic->iLogicConnState == NPC_D_NXTP_LOGIC_CONN_STATE_CLOSING &&
          ctx->qwNowTick >= logic->qwCloseDeadlineTick)
        NPC_F_NXTP_MC_LOGIC_DeleteLogicTcpConnData(t, ctx, logic, true);
    }
  }
}

// Every port still connecting after the time-out is treated as a failed connect.
void NPC_F_NXTP_CONN_DoSecondTimer(NPC_S_NXTP_CONN_TABLES* t, const NPC_S_NXTP_CONN_CONTEXT* ctx) {
  if (!t || !ctx) return;
  for (int i = 0; i < NPC_D_NXTP_NET_PORT_NUM; ++i) {
    NPC_S_NXTP_NET_PORT_DATA* port = t->pPorts[i];
    if (!port || port->iPortState != NPC_D_NXTP_PORT_STATE_CONNECTING ||
        ctx->qwNowTick - port->qwStateTick < NPC_D_NXTP_TCP_CONN_TIMEOUT_MS)
      continue;
    NPC_F_LOG_SR_WriteLog("TCP Conn TimeOut.", 2);
    NPC_F_NXTP_MC_DoNetEvent_CONNECT_RESULT(t, ctx, port->dwPortId, NPC_D_NXTP_CONNECT_RESULT_TIMEOUT);
  }
}
