// The module skeleton's shared code: the receive buffer, kept orders, and the module core
// (callback, messages to the engine and upward, transactions, scratch buffer).
#include "protocols/common/module_base.h"

#include <cstdlib>
#include <cstring>

#include "runtime/log.h"
#include "runtime/mem_mg.h"
#include "runtime/text.h"

namespace {

// A receive buffer that grew beyond this is given back when it is emptied.
constexpr size_t kRecvBufKeepCap = 256 * 1024;

}  // namespace

// ---------------------------------------------------------------------------------------------
// Receive buffer.

// Appends n bytes. Room is made by moving the unread rest to the front when that is enough,
// otherwise by growing the block (at least doubling, so appends stay amortised constant).
int NPC_C_PVM_DP_RecvBuf::Append(const uint8_t* data, size_t n) {
  if (n == 0) return 1;
  if (!data) return 0;
  size_t unread = m_qwWrite - m_qwRead;
  if (n > SIZE_MAX / 2 - unread) return 0;
  if (m_qwCap - m_qwWrite < n) {
    if (m_qwCap - unread >= n && m_qwRead > 0) {
      memmove(m_pBuf, m_pBuf + m_qwRead, unread);
    } else {
      size_t want = unread + n;
      size_t cap = m_qwCap < 4096 ? 4096 : m_qwCap;
      while (cap < want) cap *= 2;
      auto* p = static_cast<uint8_t*>(malloc(cap));
      if (!p) return 0;
      if (unread) memcpy(p, m_pBuf + m_qwRead, unread);
      free(m_pBuf);
      m_pBuf = p;
      m_qwCap = cap;
    }
    m_qwRead = 0;
    m_qwWrite = unread;
  }
  memcpy(m_pBuf + m_qwWrite, data, n);
  m_qwWrite += n;
  return 1;
}

void NPC_C_PVM_DP_RecvBuf::Consume(size_t n) {
  size_t unread = m_qwWrite - m_qwRead;
  if (n >= unread) {
    m_qwRead = m_qwWrite = 0;
    return;
  }
  m_qwRead += n;
}

void NPC_C_PVM_DP_RecvBuf::Clear() {
  m_qwRead = m_qwWrite = 0;
  if (m_qwCap > kRecvBufKeepCap) Free();
}

void NPC_C_PVM_DP_RecvBuf::Free() {
  free(m_pBuf);
  m_pBuf = nullptr;
  m_qwCap = m_qwRead = m_qwWrite = 0;
}

// ---------------------------------------------------------------------------------------------
// Kept orders.

NPC_S_PVM_DP_PENDING_ORDER::~NPC_S_PVM_DP_PENDING_ORDER() { Free(); }

int NPC_S_PVM_DP_PENDING_ORDER::Keep(const uint8_t* msg, int len) {
  if (!msg || len <= 0) return 0;
  iRequDataLen = 0;
  return NPC_F_MEM_MG_SetDataToBuf(&pRequDataBuf, &iRequDataBufSize, &iRequDataLen, msg, len);
}

void NPC_S_PVM_DP_PENDING_ORDER::Free() { NPC_F_MEM_MG_FreeDataBuf(&pRequDataBuf, &iRequDataBufSize, &iRequDataLen); }

// ---------------------------------------------------------------------------------------------
// Module core.

NPC_C_PVM_DP_ModuleCore::~NPC_C_PVM_DP_ModuleCore() {
  m_pCallback = nullptr;
  m_tTransTable.Clear();
  m_tRetired.clear();
  free(m_pScratch);
  m_pScratch = nullptr;
}

int NPC_C_PVM_DP_ModuleCore::CoreInit(int vendorId, NPC_F_PVM_EVENT_CALLBACK callback, void* user) {
  if (m_tDesc.iScratchLen > 0) {
    free(m_pScratch);
    m_pScratch = static_cast<uint8_t*>(calloc(1, static_cast<size_t>(m_tDesc.iScratchLen)));
    if (!m_pScratch) return 0;
  }
  if (m_tDesc.iTransNum > 0 && !m_tTransTable.Init(m_tDesc.iTransNum)) {
    free(m_pScratch);
    m_pScratch = nullptr;
    return 0;
  }
  m_iVendorId = vendorId;
  m_pCallback = callback;
  m_pUser = user;
  m_tLastSweep = 0;
  m_bReady = true;
  return 1;
}

void NPC_C_PVM_DP_ModuleCore::CoreUninit() {
  m_bReady = false;
  m_pCallback = nullptr;
  m_pUser = nullptr;
  m_tTransTable.Clear();
  if (m_iDepth == 0) m_tRetired.clear();
  free(m_pScratch);
  m_pScratch = nullptr;
  std::vector<uint8_t>().swap(m_tSendBuf);
  std::vector<uint8_t>().swap(m_tMsgBuf);
}

void NPC_C_PVM_DP_ModuleCore::Retire(std::unique_ptr<NPC_S_PVM_DP_RECORD> rec) {
  if (!rec) return;
  if (m_iDepth == 0) return;  // outside any operation nothing can still point at it
  try {
    m_tRetired.push_back(std::move(rec));
  } catch (const std::bad_alloc&) {
    // Without room to keep it the record must go now; the callers re-check records by id after
    // every call that may free, so this only costs the guarantee for this one record.
    NPC_F_LOG_SR_WriteLog("NPC_C_PVM_DP_ModuleCore::Retire push_back fail.", 2);
  }
}

int NPC_C_PVM_DP_ModuleCore::SendEvent(int eventKind, uint8_t* msg, int len) {
  if (!m_pCallback || !msg || len <= 0) return 0;
  m_pCallback(m_pUser, eventKind, static_cast<unsigned int>(m_iVendorId), msg, len);
  return 1;
}

int NPC_C_PVM_DP_ModuleCore::AnswerOrder(uint8_t* msg, int len, int32_t iResult) {
  if (!NPC_F_PVM_MSG_SetOrderResp(msg, len, iResult)) return 0;
  return SendOrderUp(msg, len);
}

int NPC_C_PVM_DP_ModuleCore::AnswerPending(NPC_S_PVM_DP_PENDING_ORDER* requ, int32_t iResult) {
  if (!requ || !requ->Has()) return 0;
  int len = requ->iRequDataLen;
  requ->Clear();
  return AnswerOrder(reinterpret_cast<uint8_t*>(requ->pRequDataBuf), len, iResult);
}

int NPC_C_PVM_DP_ModuleCore::SendNotifyDisconnect(uint32_t dwCameraConnId, int32_t iCause, const char* sCauseText) {
  if (!NPC_F_PVM_MSG_BuildNotifyDisconnect(&m_tMsgBuf, static_cast<uint32_t>(m_iVendorId), dwCameraConnId, iCause,
                                           sCauseText)) {
    NPC_F_LOG_SR_WriteLog("NPC_C_PVM_DP_ModuleCore::SendNotifyDisconnect NPC_F_PVM_MSG_BuildNotifyDisconnect fail.", 2);
    return 0;
  }
  return SendOrderUp(m_tMsgBuf.data(), static_cast<int>(m_tMsgBuf.size()));
}

int NPC_C_PVM_DP_ModuleCore::SendNetTcpConnect(const NPC_S_PVM_DP_CONN_TARGET& target, uint32_t dwLogicConnId) {
  NPC_S_PVM_NET_MSG_TCP_CONNECT m;
  NPC_F_PVM_MSG_InitNetTcpConnect(&m);
  NPC_F_TEXT_CopyRaw(m.sDevId, sizeof m.sDevId, target.sDevId, sizeof m.sDevId);
  NPC_F_TEXT_CopyRaw(m.sDevIpaddr, sizeof m.sDevIpaddr, target.sDevAddr, sizeof m.sDevIpaddr);
  m.usDevPort = target.usDevPort;
  m.usConnParam = target.usConnParam;
  m.dwProtConnId = dwLogicConnId;
  m.ucConnFlags = target.ucConnFlags;
  m.ucEfsWish = target.ucEfsWish;
  m.usConnOption = target.usConnOption;
  m.dwLanFallback = target.dwLanFallback;
  return SendNetMsg(reinterpret_cast<uint8_t*>(&m), static_cast<int>(sizeof m));
}

int NPC_C_PVM_DP_ModuleCore::SendNetTcpDisconnect(uint32_t dwLogicConnId, uint32_t dwProTcpConnId) {
  NPC_S_PVM_NET_MSG_CONN_IDS m;
  NPC_F_PVM_MSG_InitNetConnIds(&m, NET_TCP_DISCONNECT, dwLogicConnId, dwProTcpConnId);
  return SendNetMsg(reinterpret_cast<uint8_t*>(&m), static_cast<int>(sizeof m));
}

int NPC_C_PVM_DP_ModuleCore::SendNetReqClearCache(uint32_t dwLogicConnId, uint32_t dwProTcpConnId) {
  NPC_S_PVM_NET_MSG_CONN_IDS m;
  NPC_F_PVM_MSG_InitNetConnIds(&m, NET_REQU_CLEAR_CACHE, dwLogicConnId, dwProTcpConnId);
  return SendNetMsg(reinterpret_cast<uint8_t*>(&m), static_cast<int>(sizeof m));
}

int NPC_C_PVM_DP_ModuleCore::SendNetSwitchMediaTransMode(uint32_t dwLogicConnId, uint32_t dwProTcpConnId,
                                                         int32_t iMode) {
  NPC_S_PVM_NET_MSG_SWITCH_MEDIA_TRANS_MODE m;
  NPC_F_PVM_MSG_InitNetSwitchMediaTransMode(&m, dwLogicConnId, dwProTcpConnId, iMode);
  return SendNetMsg(reinterpret_cast<uint8_t*>(&m), static_cast<int>(sizeof m));
}

uint8_t* NPC_C_PVM_DP_ModuleCore::BeginNetSendData(size_t n) {
  constexpr size_t head = sizeof(NPC_S_PVM_NET_MSG_SEND_DATA);
  if (n == 0 || n > static_cast<size_t>(NPC_D_PVM_MSG_MAX_LEN) - head) return nullptr;
  try {
    if (m_tSendBuf.size() < head + n) m_tSendBuf.resize(head + n);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return m_tSendBuf.data() + head;
}

int NPC_C_PVM_DP_ModuleCore::EndNetSendData(uint32_t dwLogicConnId, uint32_t dwProTcpConnId, int32_t iDataType,
                                            size_t n) {
  constexpr size_t head = sizeof(NPC_S_PVM_NET_MSG_SEND_DATA);
  if (n == 0 || m_tSendBuf.size() < head + n) return 0;
  NPC_S_PVM_NET_MSG_SEND_DATA h;
  memset(&h, 0, sizeof h);
  h.tHead = NPC_F_PVM_MSG_NetHead(NET_SEND_DATA, NPC_D_PVM_NET_MSG_TYPE_REQUEST, 0);
  h.tHead.iBodyLen = static_cast<int32_t>(head + n - NPC_D_PVM_NET_MSG_HEAD_LEN);
  h.dwProtConnId = dwLogicConnId;
  h.dwLogicTcpConnId = dwProTcpConnId;
  h.iDataLen = static_cast<int32_t>(n);
  h.iDataType = iDataType;
  memcpy(m_tSendBuf.data(), &h, head);
  return SendNetMsg(m_tSendBuf.data(), static_cast<int>(head + n));
}

int NPC_C_PVM_DP_ModuleCore::SendNetSendData(uint32_t dwLogicConnId, uint32_t dwProTcpConnId, int32_t iDataType,
                                             const void* data, size_t n) {
  if (!data) return 0;
  uint8_t* p = BeginNetSendData(n);
  if (!p) return 0;
  memcpy(p, data, n);
  return EndNetSendData(dwLogicConnId, dwProTcpConnId, iDataType, n);
}

NPC_S_PVM_DP_TRANS_DATA* NPC_C_PVM_DP_ModuleCore::CreateTrans(uint32_t dwLinkId, const uint8_t* msg, int len,
                                                              int64_t now) {
  if (m_tTransTable.Size() == 0) return nullptr;
  uint32_t id = 0;
  int slot = -1;
  NPC_S_PVM_DP_TRANS_DATA* t = m_tTransTable.Create(&id, &slot);
  if (!t) return nullptr;
  t->dwTransId = id;
  t->dwLinkId = dwLinkId;
  t->tCreateTime = now;
  if (msg && len > 0 && !t->tRequ.Keep(msg, len)) {
    Retire(m_tTransTable.Take(slot));
    return nullptr;
  }
  return t;
}

void NPC_C_PVM_DP_ModuleCore::DeleteTrans(uint32_t dwTransId) {
  if (m_tTransTable.Query(dwTransId)) Retire(m_tTransTable.Take(NPC_F_PVM_DP_IdSlot(dwTransId)));
}

int NPC_C_PVM_DP_ModuleCore::SweepTrans(int64_t now) {
  if (now == m_tLastSweep) return 0;
  m_tLastSweep = now;
  int freed = 0;
  for (int i = 0; i < m_tTransTable.Bound(); ++i) {
    NPC_S_PVM_DP_TRANS_DATA* t = m_tTransTable.At(i);
    if (t && now - t->tCreateTime > m_tDesc.iTransExpireSecs) {
      Retire(m_tTransTable.Take(i));
      ++freed;
    }
  }
  return freed;
}
