// The bus vocabulary's tables (names of the closed sets, the vendor descriptors and the orders
// each module handles), its message builders and its checked readers.
#include "bus/pvm_msg.h"

#include <cstring>

#include "runtime/reader.h"
#include "runtime/text.h"

// ---------------------------------------------------------------------------------------------
// Names.

// One name lookup per closed list: a switch over the list's codes returning each code's name.
#define KORVEN_PVM_NAME_CASE(code, name) \
  case code:                             \
    return #name;
#define KORVEN_PVM_NAME_LOOKUP(fn, list) \
  const char* fn(int32_t value) {        \
    switch (value) {                     \
      list(KORVEN_PVM_NAME_CASE)         \
      default:                           \
        return nullptr;                  \
    }                                    \
  }

KORVEN_PVM_NAME_LOOKUP(NPC_F_PVM_GetOrderName, NPC_PVM_ORDER_CODE_LIST)
KORVEN_PVM_NAME_LOOKUP(NPC_F_PVM_GetOrderMsgTypeName, NPC_PVM_ORDER_MSG_TYPE_LIST)
KORVEN_PVM_NAME_LOOKUP(NPC_F_PVM_GetNetMsgName, NPC_PVM_NET_MSG_CODE_LIST)
KORVEN_PVM_NAME_LOOKUP(NPC_F_PVM_GetNetMsgTypeName, NPC_PVM_NET_MSG_TYPE_LIST)
KORVEN_PVM_NAME_LOOKUP(NPC_F_PVM_GetEventTypeName, NPC_PVM_EVENT_TYPE_LIST)

#undef KORVEN_PVM_NAME_LOOKUP
#undef KORVEN_PVM_NAME_CASE

// ---------------------------------------------------------------------------------------------
// Vendors: which module handles which orders, written as the ranges the modules are known by.

namespace {

#define KORVEN_PVM_RANGES(name) name, static_cast<int>(sizeof(name) / sizeof(name[0]))

const NPC_S_PVM_ORDER_RANGE kQxspDev[] = {{513, 516}, {528, 536}, {544, 545}, {547, 551}, {560, 564},
                                          {576, 577}, {592, 593}, {608, 610}, {624, 628}, {640, 643},
                                          {645, 648}, {656, 656}, {662, 669}, {672, 672}, {677, 677},
                                          {771, 772}};
const NPC_S_PVM_ORDER_RANGE kHzxmDev[] = {{513, 516}, {528, 533}, {544, 545}, {547, 550}, {560, 561},
                                          {576, 577}, {608, 609}, {624, 625}, {640, 643}, {656, 656},
                                          {672, 672}, {771, 771}};
const NPC_S_PVM_ORDER_RANGE kHzxmLocal[] = {{534, 536}, {592, 593}};
const NPC_S_PVM_ORDER_RANGE kGzjkDev[] = {{513, 514}, {528, 530}, {544, 544}, {560, 561}, {592, 592},
                                          {624, 625}, {640, 640}, {672, 672}};
const NPC_S_PVM_ORDER_RANGE kGzjkLocal[] = {{547, 549}, {576, 577}};
const NPC_S_PVM_ORDER_RANGE kSzqhDev[] = {{513, 514}, {528, 530}, {544, 544}, {547, 549},
                                          {560, 561}, {576, 577}, {640, 640}};
const NPC_S_PVM_ORDER_RANGE kBjhbDev[] = {{513, 514}, {528, 530}, {560, 560}, {576, 577}};
// OWSP, ALRS and GZQH: connection and live view only.
const NPC_S_PVM_ORDER_RANGE kLiveDev[] = {{513, 514}, {528, 530}};
const NPC_S_PVM_ORDER_RANGE kHmcpDev[] = {{513, 514}, {528, 529}};
const NPC_S_PVM_ORDER_RANGE kHmcpLocal[] = {{530, 530}};
const NPC_S_PVM_ORDER_RANGE kEpmyDev[] = {{513, 514}, {516, 516}, {675, 676}};

struct OrderSets {
  const NPC_S_PVM_ORDER_RANGE* pDev;
  int iDevNum;
  const NPC_S_PVM_ORDER_RANGE* pLocal;
  int iLocalNum;
};

const OrderSets kSetsHMCP = {KORVEN_PVM_RANGES(kHmcpDev), KORVEN_PVM_RANGES(kHmcpLocal)};
const OrderSets kSetsHZXM = {KORVEN_PVM_RANGES(kHzxmDev), KORVEN_PVM_RANGES(kHzxmLocal)};
const OrderSets kSetsGZQH = {KORVEN_PVM_RANGES(kLiveDev), nullptr, 0};
const OrderSets kSetsALRS = {KORVEN_PVM_RANGES(kLiveDev), nullptr, 0};
const OrderSets kSetsOWSP = {KORVEN_PVM_RANGES(kLiveDev), nullptr, 0};
const OrderSets kSetsBJHB = {KORVEN_PVM_RANGES(kBjhbDev), nullptr, 0};
const OrderSets kSetsGZJK = {KORVEN_PVM_RANGES(kGzjkDev), KORVEN_PVM_RANGES(kGzjkLocal)};
const OrderSets kSetsQXSP = {KORVEN_PVM_RANGES(kQxspDev), nullptr, 0};
const OrderSets kSetsSZQH = {KORVEN_PVM_RANGES(kSzqhDev), nullptr, 0};
const OrderSets kSetsEPMY = {KORVEN_PVM_RANGES(kEpmyDev), nullptr, 0};
#undef KORVEN_PVM_RANGES

const NPC_S_PVM_VENDOR_DESC kVendorTable[] = {
#define KORVEN_PVM_X(id, name, cls, caps) \
  {id, #name, #cls, caps, kSets##name.pDev, kSets##name.iDevNum, kSets##name.pLocal, kSets##name.iLocalNum},
    NPC_PVM_VENDOR_LIST(KORVEN_PVM_X)
#undef KORVEN_PVM_X
};
static_assert(sizeof(kVendorTable) / sizeof(kVendorTable[0]) == NPC_D_PVM_VENDOR_NUM, "vendor count");

bool inRanges(const NPC_S_PVM_ORDER_RANGE* ranges, int num, int32_t code) {
  for (int i = 0; i < num; ++i)
    if (code >= ranges[i].iFirst && code <= ranges[i].iLast) return true;
  return false;
}

}  // namespace

const NPC_S_PVM_VENDOR_DESC* NPC_F_PVM_GetVendorDescTable(int* count) {
  if (count) *count = NPC_D_PVM_VENDOR_NUM;
  return kVendorTable;
}

const NPC_S_PVM_VENDOR_DESC* NPC_F_PVM_FindVendorDesc(uint32_t dwVendorId) {
  for (const auto& d : kVendorTable)
    if (d.dwVendorId == dwVendorId) return &d;
  return nullptr;
}

int NPC_F_PVM_GetOrderHandling(const NPC_S_PVM_VENDOR_DESC* desc, int32_t iMsgId) {
  if (!desc) return NPC_D_PVM_ORDER_NOT_HANDLED;
  if (inRanges(desc->pDevOrders, desc->iDevOrderRangeNum, iMsgId)) return NPC_D_PVM_ORDER_DEV_WORK;
  if (inRanges(desc->pLocalOrders, desc->iLocalOrderRangeNum, iMsgId)) return NPC_D_PVM_ORDER_LOCAL;
  return NPC_D_PVM_ORDER_NOT_HANDLED;
}

// ---------------------------------------------------------------------------------------------
// Builders.

namespace {

// Total length of head + parts, or -1 when a part is null with a length or the message would
// be longer than a message may be.
int64_t messageLen(size_t headLen, const void* body, size_t bodyLen, const void* data, size_t dataLen) {
  if ((!body && bodyLen) || (!data && dataLen)) return -1;
  // Each part alone is checked before the sum, so the sum cannot wrap.
  if (bodyLen > static_cast<uint64_t>(NPC_D_PVM_MSG_MAX_LEN) || dataLen > static_cast<uint64_t>(NPC_D_PVM_MSG_MAX_LEN))
    return -1;
  uint64_t total = static_cast<uint64_t>(headLen) + bodyLen + dataLen;
  if (total > static_cast<uint64_t>(NPC_D_PVM_MSG_MAX_LEN)) return -1;
  return static_cast<int64_t>(total);
}

// Writes head (headLen bytes), body and data to buf, which holds total bytes.
void writeParts(uint8_t* buf, const void* head, size_t headLen, const void* body, size_t bodyLen, const void* data,
                size_t dataLen) {
  memcpy(buf, head, headLen);
  if (bodyLen) memcpy(buf + headLen, body, bodyLen);
  if (dataLen) memcpy(buf + headLen + bodyLen, data, dataLen);
}

}  // namespace

NPC_S_PVM_ORDER_MSG_HEAD NPC_F_PVM_MSG_OrderHead(int32_t iMsgId, int32_t iMsgType, uint32_t dwTransId,
                                                 uint32_t dwVendorId, int32_t iResult) {
  NPC_S_PVM_ORDER_MSG_HEAD h{};
  h.iMsgId = iMsgId;
  h.iMsgType = iMsgType;
  h.dwTransId = dwTransId;
  h.dwVendorId = dwVendorId;
  h.iResult = iResult;
  return h;
}

NPC_S_PVM_NET_MSG_HEAD NPC_F_PVM_MSG_NetHead(int32_t iMsgId, int32_t iMsgType, int32_t iResult) {
  NPC_S_PVM_NET_MSG_HEAD h{};
  h.iMsgId = iMsgId;
  h.iMsgType = iMsgType;
  h.iResult = iResult;
  return h;
}

int NPC_F_PVM_MSG_PutOrderMsg(uint8_t* buf, size_t bufSize, const NPC_S_PVM_ORDER_MSG_HEAD& head, const void* body,
                              size_t bodyLen, const void* data, size_t dataLen) {
  int64_t total = messageLen(sizeof head, body, bodyLen, data, dataLen);
  if (!buf || total < 0 || static_cast<uint64_t>(total) > bufSize) return 0;
  NPC_S_PVM_ORDER_MSG_HEAD h = head;
  h.iBodyLen = static_cast<int32_t>(total - static_cast<int64_t>(sizeof h));
  writeParts(buf, &h, sizeof h, body, bodyLen, data, dataLen);
  return static_cast<int>(total);
}

int NPC_F_PVM_MSG_BuildOrderMsg(std::vector<uint8_t>* out, const NPC_S_PVM_ORDER_MSG_HEAD& head, const void* body,
                                size_t bodyLen, const void* data, size_t dataLen) {
  if (!out) return 0;
  out->clear();
  int64_t total = messageLen(sizeof head, body, bodyLen, data, dataLen);
  if (total < 0) return 0;
  out->resize(static_cast<size_t>(total));
  return NPC_F_PVM_MSG_PutOrderMsg(out->data(), out->size(), head, body, bodyLen, data, dataLen) ? 1 : 0;
}

int NPC_F_PVM_MSG_BuildRequest(std::vector<uint8_t>* out, int32_t iMsgId, uint32_t dwTransId, uint32_t dwVendorId,
                               const void* body, size_t bodyLen) {
  return NPC_F_PVM_MSG_BuildOrderMsg(
      out, NPC_F_PVM_MSG_OrderHead(iMsgId, NPC_D_PVM_ORDER_MSG_TYPE_REQUEST, dwTransId, dwVendorId, 0), body, bodyLen);
}

int NPC_F_PVM_MSG_BuildNotify(std::vector<uint8_t>* out, int32_t iMsgId, uint32_t dwVendorId, const void* body,
                              size_t bodyLen, const void* data, size_t dataLen) {
  return NPC_F_PVM_MSG_BuildOrderMsg(out, NPC_F_PVM_MSG_OrderHead(iMsgId, NPC_D_PVM_ORDER_MSG_TYPE_REQUEST, 0, dwVendorId, 0),
                                     body, bodyLen, data, dataLen);
}

int NPC_F_PVM_MSG_BuildEventNotify(std::vector<uint8_t>* out, int32_t iMsgId, uint32_t dwVendorId, const void* body,
                                   size_t bodyLen, const void* data, size_t dataLen) {
  return NPC_F_PVM_MSG_BuildOrderMsg(out, NPC_F_PVM_MSG_OrderHead(iMsgId, NPC_D_PVM_ORDER_MSG_TYPE_EVENT, 0, dwVendorId, 0),
                                     body, bodyLen, data, dataLen);
}

int NPC_F_PVM_MSG_BuildBody(std::vector<uint8_t>* out, const void* fixed, size_t fixedLen, const void* data,
                            size_t dataLen) {
  if (!out) return 0;
  out->clear();
  int64_t total = messageLen(0, fixed, fixedLen, data, dataLen);
  if (total < 0) return 0;
  out->resize(static_cast<size_t>(total));
  if (fixedLen) memcpy(out->data(), fixed, fixedLen);
  if (dataLen) memcpy(out->data() + fixedLen, data, dataLen);
  return 1;
}

int NPC_F_PVM_MSG_SetOrderResp(uint8_t* msg, int64_t len, int32_t iResult) {
  NPC_S_PVM_ORDER_MSG_VIEW v;
  if (!NPC_F_PVM_MSG_ReadOrderMsg(msg, len, &v)) return 0;
  v.tHead.iMsgType = NPC_D_PVM_ORDER_MSG_TYPE_RESPONSE;
  v.tHead.iResult = iResult;
  memcpy(msg, &v.tHead, sizeof v.tHead);
  return 1;
}

int NPC_F_PVM_MSG_BuildOrderResp(std::vector<uint8_t>* out, const uint8_t* requ, int64_t requLen, int32_t iResult,
                                 const void* body, size_t bodyLen, const void* data, size_t dataLen) {
  if (!out) return 0;
  out->clear();
  NPC_S_PVM_ORDER_MSG_VIEW v;
  if (!NPC_F_PVM_MSG_ReadOrderMsg(requ, requLen, &v)) return 0;
  NPC_S_PVM_ORDER_MSG_HEAD h = v.tHead;
  h.iMsgType = NPC_D_PVM_ORDER_MSG_TYPE_RESPONSE;
  h.iResult = iResult;
  return NPC_F_PVM_MSG_BuildOrderMsg(out, h, body, bodyLen, data, dataLen);
}

int NPC_F_PVM_MSG_BuildMediaData(std::vector<uint8_t>* out, uint32_t dwVendorId, uint32_t dwCameraConnId,
                                 const NPC_S_MON_MEDIA_FRAME_HEAD& frameHead, const void* data, size_t dataLen) {
  if (dataLen > static_cast<uint64_t>(NPC_D_PVM_MSG_MAX_LEN)) {
    if (out) out->clear();
    return 0;
  }
  NPC_S_PVM_ORDER_BODY_MEDIA_DATA b{};
  b.dwCameraConnId = dwCameraConnId;
  b.tFrameHead = frameHead;
  b.iFrameDataLen = static_cast<int32_t>(dataLen);
  return NPC_F_PVM_MSG_BuildNotify(out, ORDER_MEDIA_DATA, dwVendorId, &b, sizeof b, data, dataLen);
}

int NPC_F_PVM_MSG_BuildAlarmData(std::vector<uint8_t>* out, uint32_t dwVendorId, uint32_t dwCameraConnId,
                                 int32_t iAlarmType, const NPC_S_TD_DATE_TIME& alarmTime, int32_t iAlarmParam,
                                 const char* sAlarmText) {
  NPC_S_PVM_ORDER_BODY_ALARM_DATA b{};
  b.dwCameraConnId = dwCameraConnId;
  b.iAlarmType = iAlarmType;
  b.tAlarmTime = alarmTime;
  b.iAlarmParam = iAlarmParam;
  NPC_F_TEXT_Copy(b.sAlarmText, sizeof b.sAlarmText, sAlarmText);
  return NPC_F_PVM_MSG_BuildNotify(out, ORDER_ALARM_DATA, dwVendorId, &b, sizeof b);
}

int NPC_F_PVM_MSG_BuildNotifyDisconnect(std::vector<uint8_t>* out, uint32_t dwVendorId, uint32_t dwCameraConnId,
                                        int32_t iCause, const char* sCauseText) {
  NPC_S_PVM_ORDER_BODY_NOTIFY_DISCONNECT b{};
  b.dwCameraConnId = dwCameraConnId;
  b.iCause = iCause;
  NPC_F_TEXT_Copy(b.sCauseText, sizeof b.sCauseText, sCauseText);
  return NPC_F_PVM_MSG_BuildNotify(out, ORDER_NOTIFY_DISCONNECT, dwVendorId, &b, sizeof b);
}

int NPC_F_PVM_MSG_BuildRawDataCustom(std::vector<uint8_t>* out, uint32_t dwVendorId, uint32_t dwCameraConnId,
                                     int32_t iCustomFuncId, const void* data, size_t dataLen) {
  if (dataLen > static_cast<uint64_t>(NPC_D_PVM_MSG_MAX_LEN)) {
    if (out) out->clear();
    return 0;
  }
  NPC_S_PVM_ORDER_BODY_RAW_DATA_CUSTOM b{};
  b.dwCameraConnId = dwCameraConnId;
  b.iCustomFuncId = iCustomFuncId;
  b.iDataLen = static_cast<int32_t>(dataLen);
  return NPC_F_PVM_MSG_BuildNotify(out, ORDER_RAW_DATA, dwVendorId, &b, sizeof b, data, dataLen);
}

int NPC_F_PVM_MSG_BuildThumbData(std::vector<uint8_t>* out, uint32_t dwVendorId, uint32_t dwCameraConnId,
                                 uint32_t dwThumbId, const void* data, size_t dataLen) {
  if (dataLen > static_cast<uint64_t>(NPC_D_PVM_MSG_MAX_LEN)) {
    if (out) out->clear();
    return 0;
  }
  NPC_S_PVM_ORDER_BODY_THUMB_DATA b{};
  b.dwCameraConnId = dwCameraConnId;
  b.dwThumbId = dwThumbId;
  b.iDataLen = static_cast<int32_t>(dataLen);
  return NPC_F_PVM_MSG_BuildNotify(out, ORDER_THUMB_DATA, dwVendorId, &b, sizeof b, data, dataLen);
}

int NPC_F_PVM_MSG_BuildRecDownloadData(std::vector<uint8_t>* out, uint32_t dwVendorId, uint32_t dwCameraConnId,
                                       uint32_t dwDownloadId, const NPC_S_MON_MEDIA_FRAME_HEAD& frameHead,
                                       const void* data, size_t dataLen) {
  if (dataLen > static_cast<uint64_t>(NPC_D_PVM_MSG_MAX_LEN)) {
    if (out) out->clear();
    return 0;
  }
  NPC_S_PVM_ORDER_BODY_REC_DOWNLOAD_DATA b{};
  b.dwCameraConnId = dwCameraConnId;
  b.dwDownloadId = dwDownloadId;
  b.tFrameHead = frameHead;
  b.iFrameDataLen = static_cast<int32_t>(dataLen);
  return NPC_F_PVM_MSG_BuildEventNotify(out, EVENT_REC_DOWNLOAD_DATA, dwVendorId, &b, sizeof b, data, dataLen);
}

int NPC_F_PVM_MSG_BuildRecDownloadState(std::vector<uint8_t>* out, uint32_t dwVendorId, uint32_t dwCameraConnId,
                                        uint32_t dwDownloadId, int32_t iDownloadState, int32_t iDownloadPercent) {
  NPC_S_PVM_ORDER_BODY_REC_DOWNLOAD_STATE b{};
  b.dwCameraConnId = dwCameraConnId;
  b.dwDownloadId = dwDownloadId;
  b.iDownloadState = iDownloadState;
  b.iDownloadPercent = iDownloadPercent;
  return NPC_F_PVM_MSG_BuildEventNotify(out, EVENT_REC_DOWNLOAD_STATE, dwVendorId, &b, sizeof b);
}

int NPC_F_PVM_MSG_BuildDevStateNotify(std::vector<uint8_t>* out, const char* sDevId, int32_t iDevState) {
  NPC_S_PVM_ORDER_BODY_DEV_STATE_NOTIFY b{};
  NPC_F_TEXT_CopyRaw(b.sDevId, sizeof b.sDevId, sDevId, sDevId ? strlen(sDevId) : 0);
  b.iDevState = iDevState;
  return NPC_F_PVM_MSG_BuildEventNotify(out, DEV_STATE_NOTIFY, 0, &b, sizeof b);
}

int NPC_F_PVM_MSG_BuildConnSrvInfoNotify(std::vector<uint8_t>* out, const NPC_S_PVM_ORDER_BODY_CONN_SRV_INFO_NOTIFY& info) {
  return NPC_F_PVM_MSG_BuildEventNotify(out, CONN_SRV_INFO_NOTIFY, 0, &info, sizeof info);
}

int NPC_F_PVM_MSG_BuildSrvQueryDevStateBody(std::vector<uint8_t>* out, const NPC_S_PVM_DEV_STATE_ENTRY* entries,
                                            int32_t iDevNum, int32_t iAnswerValue) {
  if (!out) return 0;
  out->clear();
  if (!entries || iDevNum < 1 || iDevNum > NPC_D_PVM_SRV_QUERY_DEV_MAX_NUM) return 0;
  NPC_S_PVM_ORDER_BODY_SRV_QUERY_DEV_STATE b{};
  b.iDevNum = iDevNum;
  b.iAnswerValue = iAnswerValue;
  return NPC_F_PVM_MSG_BuildBody(out, &b, sizeof b, entries, sizeof(NPC_S_PVM_DEV_STATE_ENTRY) * static_cast<size_t>(iDevNum));
}

int NPC_F_PVM_MSG_BuildSrvTransDataBody(std::vector<uint8_t>* out, const char* sDevId, int32_t iValue,
                                        const void* data, size_t dataLen) {
  if (!out) return 0;
  out->clear();
  if (!data || dataLen < 1 || dataLen > static_cast<size_t>(NPC_D_PVM_SRV_TRANS_DATA_MAX_LEN)) return 0;
  NPC_S_PVM_ORDER_BODY_SRV_TRANS_DATA_TO_DEV b{};
  NPC_F_TEXT_CopyRaw(b.sDevId, sizeof b.sDevId, sDevId, sDevId ? strlen(sDevId) : 0);
  b.iValue = iValue;
  b.iDataLen = static_cast<int32_t>(dataLen);
  return NPC_F_PVM_MSG_BuildBody(out, &b, sizeof b, data, dataLen);
}

void NPC_F_PVM_MSG_SetSwitchChannel(NPC_S_PVM_ORDER_BODY_SWITCH_CHANNEL* body, uint32_t dwCameraConnId, int iChNo,
                                    int iStreamNo) {
  if (!body) return;
  body->dwCameraConnId = dwCameraConnId;
  // The fields are 16 bits wide: -1 ("keep") becomes 0xFFFF by the two's-complement cut.
  body->iChNo = static_cast<uint16_t>(iChNo);
  body->iStreamNo = static_cast<uint16_t>(iStreamNo);
}

void NPC_F_PVM_MSG_InitNetTcpConnect(NPC_S_PVM_NET_MSG_TCP_CONNECT* msg) {
  if (!msg) return;
  *msg = NPC_S_PVM_NET_MSG_TCP_CONNECT{};
  msg->tHead = NPC_F_PVM_MSG_NetHead(NET_TCP_CONNECT, NPC_D_PVM_NET_MSG_TYPE_REQUEST, 0);
  msg->tHead.iBodyLen = static_cast<int32_t>(sizeof *msg - sizeof msg->tHead);
}

void NPC_F_PVM_MSG_InitNetConnIds(NPC_S_PVM_NET_MSG_CONN_IDS* msg, int32_t iMsgId, uint32_t dwProtConnId,
                                  uint32_t dwLogicTcpConnId) {
  if (!msg) return;
  *msg = NPC_S_PVM_NET_MSG_CONN_IDS{};
  msg->tHead = NPC_F_PVM_MSG_NetHead(iMsgId, NPC_D_PVM_NET_MSG_TYPE_REQUEST, 0);
  msg->tHead.iBodyLen = static_cast<int32_t>(sizeof *msg - sizeof msg->tHead);
  msg->dwProtConnId = dwProtConnId;
  msg->dwLogicTcpConnId = dwLogicTcpConnId;
}

void NPC_F_PVM_MSG_InitNetSwitchMediaTransMode(NPC_S_PVM_NET_MSG_SWITCH_MEDIA_TRANS_MODE* msg, uint32_t dwProtConnId,
                                               uint32_t dwLogicTcpConnId, int32_t iMediaTransMode) {
  if (!msg) return;
  *msg = NPC_S_PVM_NET_MSG_SWITCH_MEDIA_TRANS_MODE{};
  msg->tHead = NPC_F_PVM_MSG_NetHead(NET_SWITCH_MEDIA_TRANS_MODE, NPC_D_PVM_NET_MSG_TYPE_REQUEST, 0);
  msg->tHead.iBodyLen = static_cast<int32_t>(sizeof *msg - sizeof msg->tHead);
  msg->dwProtConnId = dwProtConnId;
  msg->dwLogicTcpConnId = dwLogicTcpConnId;
  msg->iMediaTransMode = iMediaTransMode;
}

int NPC_F_PVM_MSG_BuildNetMsg(std::vector<uint8_t>* out, const NPC_S_PVM_NET_MSG_HEAD& head, const void* body,
                              size_t bodyLen, const void* data, size_t dataLen) {
  if (!out) return 0;
  out->clear();
  int64_t total = messageLen(sizeof head, body, bodyLen, data, dataLen);
  if (total < 0) return 0;
  NPC_S_PVM_NET_MSG_HEAD h = head;
  h.iBodyLen = static_cast<int32_t>(total - static_cast<int64_t>(sizeof h));
  out->resize(static_cast<size_t>(total));
  writeParts(out->data(), &h, sizeof h, body, bodyLen, data, dataLen);
  return 1;
}

int NPC_F_PVM_MSG_BuildNetSendData(std::vector<uint8_t>* out, uint32_t dwProtConnId, uint32_t dwLogicTcpConnId,
                                   uint32_t dwChannel, int32_t iDataType, const void* data, size_t dataLen) {
  if (dataLen > static_cast<uint64_t>(NPC_D_PVM_MSG_MAX_LEN)) {
    if (out) out->clear();
    return 0;
  }
  NPC_S_PVM_NET_MSG_SEND_DATA m{};
  m.dwProtConnId = dwProtConnId;
  m.dwLogicTcpConnId = dwLogicTcpConnId;
  m.iDataLen = static_cast<int32_t>(dataLen);
  m.dwChannel = dwChannel;
  m.iDataType = iDataType;
  const auto* fixed = reinterpret_cast<const uint8_t*>(&m);
  return NPC_F_PVM_MSG_BuildNetMsg(out, NPC_F_PVM_MSG_NetHead(NET_SEND_DATA, NPC_D_PVM_NET_MSG_TYPE_REQUEST, 0),
                                   fixed + sizeof m.tHead, sizeof m - sizeof m.tHead, data, dataLen);
}

int NPC_F_PVM_MSG_BuildNetFrameData(std::vector<uint8_t>* out, int32_t iMsgId, uint32_t dwProtConnId,
                                    uint32_t dwLogicTcpConnId, const void* data, size_t dataLen) {
  if (dataLen > static_cast<uint64_t>(NPC_D_PVM_MSG_MAX_LEN)) {
    if (out) out->clear();
    return 0;
  }
  NPC_S_PVM_NET_MSG_FRAME_DATA m{};
  m.dwProtConnId = dwProtConnId;
  m.dwLogicTcpConnId = dwLogicTcpConnId;
  m.iDataLen = static_cast<int32_t>(dataLen);
  const auto* fixed = reinterpret_cast<const uint8_t*>(&m);
  return NPC_F_PVM_MSG_BuildNetMsg(out, NPC_F_PVM_MSG_NetHead(iMsgId, NPC_D_PVM_NET_MSG_TYPE_REQUEST, 0),
                                   fixed + sizeof m.tHead, sizeof m - sizeof m.tHead, data, dataLen);
}

int NPC_F_PVM_MSG_SetNetResp(uint8_t* msg, int64_t len, int32_t iResult) {
  NPC_S_PVM_NET_MSG_VIEW v;
  if (!NPC_F_PVM_MSG_ReadNetMsg(msg, len, &v)) return 0;
  v.tHead.iMsgType = NPC_D_PVM_NET_MSG_TYPE_RESPONSE;
  v.tHead.iResult = iResult;
  memcpy(msg, &v.tHead, sizeof v.tHead);
  return 1;
}

// ---------------------------------------------------------------------------------------------
// Readers.

namespace {

// Reads a head of type H from (msg, len) and checks that its iBodyLen is exactly the rest.
template <typename H>
bool readHead(const void* msg, int64_t len, H* head, const uint8_t** body) {
  if (!msg || len < 0 || len > NPC_D_PVM_MSG_MAX_LEN) return false;
  NPC_S_READER r(msg, static_cast<uint64_t>(len));
  if (!r.record(head)) return false;
  if (head->iBodyLen < 0 || static_cast<uint64_t>(head->iBodyLen) != r.remaining()) return false;
  *body = r.take(static_cast<uint64_t>(head->iBodyLen));
  return *body != nullptr || head->iBodyLen == 0;
}

// The bytes of [offset, end) of an area of areaLen bytes at base.
int tail(const uint8_t* base, int64_t areaLen, int64_t offset, const uint8_t** data, int32_t* dataLen) {
  if (!data || !dataLen) return 0;
  *data = nullptr;
  *dataLen = 0;
  if (!base || offset < 0 || areaLen < 0 || offset > areaLen) return 0;
  *data = base + offset;
  *dataLen = static_cast<int32_t>(areaLen - offset);
  return 1;
}

}  // namespace

int NPC_F_PVM_MSG_ReadOrderMsg(const void* msg, int64_t len, NPC_S_PVM_ORDER_MSG_VIEW* out) {
  if (!out) return 0;
  *out = NPC_S_PVM_ORDER_MSG_VIEW{};
  const uint8_t* body = nullptr;
  NPC_S_PVM_ORDER_MSG_HEAD h{};
  if (!readHead(msg, len, &h, &body)) return 0;
  out->tHead = h;
  out->pMsg = static_cast<const uint8_t*>(msg);
  out->pBody = out->pMsg + sizeof h;
  out->iMsgLen = static_cast<int32_t>(len);
  return 1;
}

int NPC_F_PVM_MSG_ReadNetMsg(const void* msg, int64_t len, NPC_S_PVM_NET_MSG_VIEW* out) {
  if (!out) return 0;
  *out = NPC_S_PVM_NET_MSG_VIEW{};
  const uint8_t* body = nullptr;
  NPC_S_PVM_NET_MSG_HEAD h{};
  if (!readHead(msg, len, &h, &body)) return 0;
  out->tHead = h;
  out->pMsg = static_cast<const uint8_t*>(msg);
  out->pBody = out->pMsg + sizeof h;
  out->iMsgLen = static_cast<int32_t>(len);
  return 1;
}

int NPC_F_PVM_MSG_GetOrderBodyTail(const NPC_S_PVM_ORDER_MSG_VIEW& v, int64_t offset, const uint8_t** data,
                                   int32_t* dataLen) {
  return tail(v.pBody, v.tHead.iBodyLen, offset, data, dataLen);
}

int NPC_F_PVM_MSG_GetNetMsgTail(const NPC_S_PVM_NET_MSG_VIEW& v, int64_t offset, const uint8_t** data,
                                int32_t* dataLen) {
  return tail(v.pMsg, v.iMsgLen, offset, data, dataLen);
}

int NPC_F_PVM_MSG_ReadRecordArray(const NPC_S_PVM_ORDER_MSG_VIEW& v, int64_t countOffset, int64_t recordsOffset,
                                  int32_t recSize, int32_t maxNum, NPC_S_PVM_RECORD_ARRAY* out) {
  if (!out) return 0;
  *out = NPC_S_PVM_RECORD_ARRAY{};
  if (!v.pBody || recSize <= 0 || maxNum < 0 || countOffset < 0 || recordsOffset < 0) return 0;
  NPC_S_READER r(v.pBody, static_cast<uint64_t>(v.tHead.iBodyLen));
  r.seek(static_cast<uint64_t>(countOffset));
  int32_t num = r.i32();
  if (!r.ok() || num < 0 || num > maxNum) return 0;
  // Every term is below 2^31, so the product and the sum fit in 64 bits.
  uint64_t need = static_cast<uint64_t>(recordsOffset) + static_cast<uint64_t>(num) * static_cast<uint64_t>(recSize);
  if (need != static_cast<uint64_t>(v.tHead.iBodyLen)) return 0;
  out->pRecords = v.pBody + recordsOffset;
  out->iRecNum = num;
  out->iRecSize = recSize;
  return 1;
}

int NPC_F_PVM_MSG_ReadMediaData(const NPC_S_PVM_ORDER_MSG_VIEW& v, NPC_S_PVM_FRAME_DATA_VIEW* out) {
  if (!out) return 0;
  *out = NPC_S_PVM_FRAME_DATA_VIEW{};
  NPC_S_PVM_ORDER_BODY_MEDIA_DATA b;
  if (v.tHead.iMsgId != ORDER_MEDIA_DATA || !NPC_F_PVM_MSG_ReadOrderBody(v, &b)) return 0;
  out->dwCameraConnId = b.dwCameraConnId;
  out->tFrameHead = b.tFrameHead;
  out->iFrameDataLenField = b.iFrameDataLen;
  return NPC_F_PVM_MSG_GetOrderBodyTail(v, sizeof b, &out->pData, &out->iDataLen);
}

int NPC_F_PVM_MSG_ReadRecDownloadData(const NPC_S_PVM_ORDER_MSG_VIEW& v, NPC_S_PVM_FRAME_DATA_VIEW* out) {
  if (!out) return 0;
  *out = NPC_S_PVM_FRAME_DATA_VIEW{};
  NPC_S_PVM_ORDER_BODY_REC_DOWNLOAD_DATA b;
  if (v.tHead.iMsgId != EVENT_REC_DOWNLOAD_DATA || !NPC_F_PVM_MSG_ReadOrderBody(v, &b)) return 0;
  out->dwCameraConnId = b.dwCameraConnId;
  out->dwDownloadId = b.dwDownloadId;
  out->tFrameHead = b.tFrameHead;
  out->iFrameDataLenField = b.iFrameDataLen;
  return NPC_F_PVM_MSG_GetOrderBodyTail(v, sizeof b, &out->pData, &out->iDataLen);
}

int NPC_F_PVM_MSG_ReadNetSendData(const NPC_S_PVM_NET_MSG_VIEW& v, NPC_S_PVM_NET_DATA_VIEW* out) {
  if (!out) return 0;
  *out = NPC_S_PVM_NET_DATA_VIEW{};
  NPC_S_PVM_NET_MSG_SEND_DATA m;
  if (v.tHead.iMsgId != NET_SEND_DATA || !NPC_F_PVM_MSG_ReadNetFixed(v, &m)) return 0;
  out->dwProtConnId = m.dwProtConnId;
  out->dwLogicTcpConnId = m.dwLogicTcpConnId;
  out->iDataLenField = m.iDataLen;
  out->dwChannel = m.dwChannel;
  out->iDataType = m.iDataType;
  return NPC_F_PVM_MSG_GetNetMsgTail(v, sizeof m, &out->pData, &out->iDataLen);
}

int NPC_F_PVM_MSG_ReadNetFrameData(const NPC_S_PVM_NET_MSG_VIEW& v, NPC_S_PVM_NET_DATA_VIEW* out) {
  if (!out) return 0;
  *out = NPC_S_PVM_NET_DATA_VIEW{};
  NPC_S_PVM_NET_MSG_FRAME_DATA m;
  if ((v.tHead.iMsgId != NET_OOB_RECV && v.tHead.iMsgId != NET_RECV_MEDIA_FRAME) || !NPC_F_PVM_MSG_ReadNetFixed(v, &m))
    return 0;
  out->dwProtConnId = m.dwProtConnId;
  out->dwLogicTcpConnId = m.dwLogicTcpConnId;
  out->iDataLenField = m.iDataLen;
  return NPC_F_PVM_MSG_GetNetMsgTail(v, sizeof m, &out->pData, &out->iDataLen);
}

int NPC_F_PVM_MSG_ReadTalkExDevFormat(const NPC_S_PVM_ORDER_MSG_VIEW& v, NPC_S_MON_MEDIA_TALK_FORMAT* out) {
  if (!out) return 0;
  *out = NPC_S_MON_MEDIA_TALK_FORMAT{};
  const uint8_t* p = nullptr;
  int32_t n = 0;
  // The answer is the request body (camera id first) with the device's format at its end.
  if (v.tHead.iMsgId != ORDER_START_TALK_EX ||
      v.tHead.iBodyLen < static_cast<int32_t>(sizeof(NPC_S_PVM_ORDER_BODY_START_TALK_EX)) ||
      !NPC_F_PVM_MSG_GetOrderBodyTail(v, v.tHead.iBodyLen - static_cast<int64_t>(sizeof *out), &p, &n))
    return 0;
  memcpy(out, p, sizeof *out);
  return 1;
}
