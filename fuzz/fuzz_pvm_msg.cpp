// Fuzz target for the bus message readers: the input is read both as an order message and as a
// network message, from a heap block of exactly its size so a read past the end is caught.
// Whatever the readers accept is then taken apart by every body reader, answered in place and
// rebuilt, and the results are checked for the properties the engine, the call layer and the
// modules rely on: views stay inside the message, lengths agree, answers keep their identity.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bus/pvm_msg.h"
#include "bus/pvm_result.h"

namespace {

void check(bool ok) {
  if (!ok) abort();
}

// A view's data lies inside the message.
void checkInside(const uint8_t* msg, size_t size, const uint8_t* p, int32_t n) {
  check(n >= 0);
  check(p >= msg && p + n <= msg + size);
}

void fuzzOrder(const uint8_t* msg, size_t size) {
  NPC_S_PVM_ORDER_MSG_VIEW v;
  if (!NPC_F_PVM_MSG_ReadOrderMsg(msg, static_cast<int64_t>(size), &v)) return;
  check(static_cast<uint64_t>(v.tHead.iBodyLen) + NPC_D_PVM_ORDER_MSG_HEAD_LEN == size);
  checkInside(msg, size, v.pBody, v.tHead.iBodyLen);

  NPC_S_PVM_FRAME_DATA_VIEW f;
  if (NPC_F_PVM_MSG_ReadMediaData(v, &f)) checkInside(msg, size, f.pData, f.iDataLen);
  if (NPC_F_PVM_MSG_ReadRecDownloadData(v, &f)) checkInside(msg, size, f.pData, f.iDataLen);
  NPC_S_MON_MEDIA_TALK_FORMAT talk;
  NPC_F_PVM_MSG_ReadTalkExDevFormat(v, &talk);
  NPC_S_PVM_ORDER_BODY_CAMERA_CONNECT conn;
  NPC_F_PVM_MSG_ReadOrderBody(v, &conn);
  NPC_S_PVM_ORDER_BODY_ALARM_DATA alarm;
  NPC_F_PVM_MSG_ReadOrderBodyExact(v, &alarm);

  // The record answers of the searches and the server query, by their count positions.
  struct Shape {
    int64_t countOffset, recordsOffset;
    int32_t recSize, maxNum;
  };
  const Shape shapes[] = {{32, 36, 176, 64}, {64, 68, 224, 64}, {48, 52, 28, 64}, {0, 8, 36, 10000}};
  for (const Shape& s : shapes) {
    NPC_S_PVM_RECORD_ARRAY a;
    if (!NPC_F_PVM_MSG_ReadRecordArray(v, s.countOffset, s.recordsOffset, s.recSize, s.maxNum, &a)) continue;
    check(static_cast<uint64_t>(s.recordsOffset) + static_cast<uint64_t>(a.iRecNum) * static_cast<uint64_t>(s.recSize) ==
          static_cast<uint64_t>(v.tHead.iBodyLen));
    NPC_S_MON_FILE_RANGE_INFO range;
    for (int32_t i = 0; i <= a.iRecNum; ++i) {
      int got = NPC_F_PVM_MSG_GetRecord(a, i, &range);
      check(got == (i < a.iRecNum && s.recSize >= 36 ? 1 : 0));
    }
  }

  const uint8_t* tail = nullptr;
  int32_t tailLen = 0;
  if (NPC_F_PVM_MSG_GetOrderBodyTail(v, 12, &tail, &tailLen)) checkInside(msg, size, tail, tailLen);

  // Answering in place keeps the identity of the order; so does answering with a new body.
  std::vector<uint8_t> copy(msg, msg + size);
  check(NPC_F_PVM_MSG_SetOrderResp(copy.data(), static_cast<int64_t>(copy.size()), 2002) == 1);
  NPC_S_PVM_ORDER_MSG_VIEW r;
  check(NPC_F_PVM_MSG_ReadOrderMsg(copy.data(), static_cast<int64_t>(copy.size()), &r) == 1);
  check(r.tHead.iMsgId == v.tHead.iMsgId && r.tHead.dwTransId == v.tHead.dwTransId && r.tHead.iResult == 2002 &&
        r.tHead.iMsgType == NPC_D_PVM_ORDER_MSG_TYPE_RESPONSE);
  std::vector<uint8_t> resp;
  check(NPC_F_PVM_MSG_BuildOrderResp(&resp, msg, static_cast<int64_t>(size), 0, v.pBody,
                                     static_cast<size_t>(v.tHead.iBodyLen)) == 1);
  check(resp.size() == size && memcmp(resp.data() + 24, msg + 24, size - 24) == 0);

  char text[32];
  NPC_F_PVM_TransErrorCode(v.tHead.iResult, v.tHead.iMsgType & 1, text, sizeof text);
  check(memchr(text, '\0', sizeof text) != nullptr);
}

void fuzzNet(const uint8_t* msg, size_t size) {
  NPC_S_PVM_NET_MSG_VIEW v;
  if (!NPC_F_PVM_MSG_ReadNetMsg(msg, static_cast<int64_t>(size), &v)) return;
  check(static_cast<uint64_t>(v.tHead.iBodyLen) + NPC_D_PVM_NET_MSG_HEAD_LEN == size);
  NPC_S_PVM_NET_DATA_VIEW d;
  if (NPC_F_PVM_MSG_ReadNetSendData(v, &d)) checkInside(msg, size, d.pData, d.iDataLen);
  if (NPC_F_PVM_MSG_ReadNetFrameData(v, &d)) checkInside(msg, size, d.pData, d.iDataLen);
  NPC_S_PVM_NET_MSG_TCP_CONNECT conn;
  if (NPC_F_PVM_MSG_ReadNetFixed(v, &conn)) check(size >= sizeof conn);
  std::vector<uint8_t> copy(msg, msg + size);
  check(NPC_F_PVM_MSG_SetNetResp(copy.data(), static_cast<int64_t>(copy.size()), 8) == 1);
  check(memcmp(copy.data() + 20, msg + 20, size - 20) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size heap copy, so that ASan sees any read past the end.
  uint8_t* msg = static_cast<uint8_t*>(malloc(size ? size : 1));
  if (!msg) return 0;
  if (size) memcpy(msg, data, size);
  fuzzOrder(msg, size);
  fuzzNet(msg, size);
  free(msg);
  return 0;
}
