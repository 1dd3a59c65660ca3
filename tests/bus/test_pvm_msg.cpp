// Message builders and checked readers of the bus vocabulary, the order-code and vendor tables,
// and the mapping of module result codes to camera errors and texts.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "bus/dev_protocol.h"
#include "bus/pvm_msg.h"
#include "bus/pvm_result.h"

namespace {

// A little-endian i32 at byte offset off of buf.
int32_t i32At(const std::vector<uint8_t>& buf, size_t off) {
  int32_t v;
  memcpy(&v, buf.data() + off, 4);
  return v;
}
uint32_t u32At(const std::vector<uint8_t>& buf, size_t off) { return static_cast<uint32_t>(i32At(buf, off)); }

// Raw bytes of an order head with an arbitrary body length field, then `extra` body bytes.
std::vector<uint8_t> rawOrder(int32_t bodyLenField, size_t extra) {
  NPC_S_PVM_ORDER_MSG_HEAD h = NPC_F_PVM_MSG_OrderHead(ORDER_OPEN_REALPLAY, 0, 0x80000001u, 1009, 0);
  h.iBodyLen = bodyLenField;
  std::vector<uint8_t> b(sizeof h + extra, 0xEE);
  memcpy(b.data(), &h, sizeof h);
  return b;
}

// ---------------------------------------------------------------------------------------------
// Readers refuse what does not hold together.

TEST(PvmMsgRead, OrderMessagesThatDoNotHoldTogetherAreRefused) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    int64_t len;  // -1: the vector's size
    bool ok;
  };
  std::vector<uint8_t> full = rawOrder(12, 12);
  const Case cases[] = {
      {"empty", {}, -1, false},
      {"one byte", {0x10}, -1, false},
      {"a byte short of the head", std::vector<uint8_t>(full.begin(), full.begin() + 23), -1, false},
      {"head alone, body length 0", rawOrder(0, 0), -1, true},
      {"head alone claiming a body", rawOrder(12, 0), -1, false},
      {"body shorter than its length", rawOrder(12, 11), -1, false},
      {"body longer than its length", rawOrder(12, 13), -1, false},
      {"negative body length", rawOrder(-1, 0), -1, false},
      {"huge body length", rawOrder(INT32_MAX, 4), -1, false},
      {"exact", full, -1, true},
      {"negative length", full, -5, false},
      {"length beyond the i32 range", full, int64_t{1} << 32, false},
  };
  for (const auto& c : cases) {
    NPC_S_PVM_ORDER_MSG_VIEW v;
    int64_t len = c.len == -1 ? static_cast<int64_t>(c.bytes.size()) : c.len;
    const void* p = c.bytes.empty() ? nullptr : c.bytes.data();
    EXPECT_EQ(NPC_F_PVM_MSG_ReadOrderMsg(p, len, &v), c.ok ? 1 : 0) << c.what;
    if (!c.ok) {
      EXPECT_EQ(v.pBody, nullptr) << c.what;
    }
  }
  // A message that holds together is described by its view.
  NPC_S_PVM_ORDER_MSG_VIEW v;
  ASSERT_EQ(NPC_F_PVM_MSG_ReadOrderMsg(full.data(), static_cast<int64_t>(full.size()), &v), 1);
  EXPECT_EQ(v.tHead.iMsgId, ORDER_OPEN_REALPLAY);
  EXPECT_EQ(v.tHead.dwTransId, 0x80000001u);
  EXPECT_EQ(v.pBody, full.data() + 24);
  EXPECT_EQ(v.iMsgLen, 36);
}

TEST(PvmMsgRead, NetworkMessagesThatDoNotHoldTogetherAreRefused) {
  NPC_S_PVM_NET_MSG_CONN_IDS m;
  NPC_F_PVM_MSG_InitNetConnIds(&m, NET_TCP_DISCONNECT, 7, 9);
  std::vector<uint8_t> ok(reinterpret_cast<uint8_t*>(&m), reinterpret_cast<uint8_t*>(&m) + sizeof m);
  NPC_S_PVM_NET_MSG_VIEW v;
  EXPECT_EQ(NPC_F_PVM_MSG_ReadNetMsg(ok.data(), 28, &v), 1);
  EXPECT_EQ(NPC_F_PVM_MSG_ReadNetMsg(ok.data(), 19, &v), 0);  // shorter than the head
  EXPECT_EQ(NPC_F_PVM_MSG_ReadNetMsg(ok.data(), 27, &v), 0);  // body cut short
  m.tHead.iBodyLen = 4;                                       // length field disagrees
  EXPECT_EQ(NPC_F_PVM_MSG_ReadNetMsg(&m, sizeof m, &v), 0);
  m.tHead.iBodyLen = -8;
  EXPECT_EQ(NPC_F_PVM_MSG_ReadNetMsg(&m, sizeof m, &v), 0);
}

TEST(PvmMsgRead, FixedBodiesNeedTheirWholeSize) {
  NPC_S_PVM_ORDER_BODY_PTZ body{};
  body.dwCameraConnId = 0x00030001;
  body.iPtzCmd = 21;
  std::vector<uint8_t> msg;
  ASSERT_EQ(NPC_F_PVM_MSG_BuildRequest(&msg, ORDER_PTZ, 1, 1009, &body, sizeof body), 1);
  NPC_S_PVM_ORDER_MSG_VIEW v;
  ASSERT_EQ(NPC_F_PVM_MSG_ReadOrderMsg(msg.data(), static_cast<int64_t>(msg.size()), &v), 1);

  NPC_S_PVM_ORDER_BODY_PTZ got;
  EXPECT_EQ(NPC_F_PVM_MSG_ReadOrderBodyExact(v, &got), 1);
  EXPECT_EQ(got.iPtzCmd, 21);
  NPC_S_PVM_ORDER_BODY_CAMERA_ID id;
  EXPECT_EQ(NPC_F_PVM_MSG_ReadOrderBody(v, &id), 1);  // a prefix is fine
  EXPECT_EQ(id.dwCameraConnId, 0x00030001u);
  EXPECT_EQ(NPC_F_PVM_MSG_ReadOrderBodyExact(v, &id), 0);  // but not as the exact body
  NPC_S_PVM_ORDER_BODY_ALARM_DATA alarm;
  alarm.iAlarmType = 99;
  EXPECT_EQ(NPC_F_PVM_MSG_ReadOrderBody(v, &alarm), 0);  // longer than the body
  EXPECT_EQ(alarm.iAlarmType, 0);                        // and zeroed, not half-read
}

// ---------------------------------------------------------------------------------------------
// Answers.

TEST(PvmMsgResp, ResponseInPlaceKeepsIdentityAndBody) {
  NPC_S_PVM_ORDER_BODY_QUERY_CUR_CHSTREAMNO body{};
  body.dwCameraConnId = 0x12340005;
  std::vector<uint8_t> msg;
  ASSERT_EQ(NPC_F_PVM_MSG_BuildRequest(&msg, ORDER_QUERY_CUR_CHSTREAMNO, 0x81000042u, 2060, &body, sizeof body), 1);
  msg[28] = 3;  // the module writes its answer fields into the body

  ASSERT_EQ(NPC_F_PVM_MSG_SetOrderResp(msg.data(), static_cast<int64_t>(msg.size()), 2019), 1);
  EXPECT_EQ(i32At(msg, 0), ORDER_QUERY_CUR_CHSTREAMNO);
  EXPECT_EQ(i32At(msg, 4), NPC_D_PVM_ORDER_MSG_TYPE_RESPONSE);
  EXPECT_EQ(u32At(msg, 8), 0x81000042u);
  EXPECT_EQ(u32At(msg, 12), 2060u);
  EXPECT_EQ(i32At(msg, 16), 2019);
  EXPECT_EQ(i32At(msg, 20), 8);
  EXPECT_EQ(u32At(msg, 24), 0x12340005u);
  EXPECT_EQ(msg[28], 3);

  // A malformed message is left as it was.
  std::vector<uint8_t> bad = rawOrder(12, 4);
  std::vector<uint8_t> before = bad;
  EXPECT_EQ(NPC_F_PVM_MSG_SetOrderResp(bad.data(), static_cast<int64_t>(bad.size()), 1), 0);
  EXPECT_EQ(bad, before);
}

TEST(PvmMsgResp, ResponseWithNewBodyKeepsTheRequestHead) {
  NPC_S_PVM_ORDER_BODY_QUERY_RECFILE q{};
  q.dwCameraConnId = 0x00070002;
  q.dwFileType = 0xFF;
  std::vector<uint8_t> requ;
  ASSERT_EQ(NPC_F_PVM_MSG_BuildRequest(&requ, ORDER_QUERY_RECFILE, 0x80ABCDEFu, 1009, &q, sizeof q), 1);

  NPC_S_MON_DEV_REC_FILE recs[2]{};
  recs[1].iFileSize = 4096;
  q.iRecNum = 2;
  std::vector<uint8_t> resp;
  ASSERT_EQ(NPC_F_PVM_MSG_BuildOrderResp(&resp, requ.data(), static_cast<int64_t>(requ.size()), 0, &q, sizeof q, recs,
                                         sizeof recs),
            1);
  ASSERT_EQ(resp.size(), 24u + 36 + 2 * 176);
  NPC_S_PVM_ORDER_MSG_VIEW v;
  ASSERT_EQ(NPC_F_PVM_MSG_ReadOrderMsg(resp.data(), static_cast<int64_t>(resp.size()), &v), 1);
  EXPECT_EQ(v.tHead.iMsgId, ORDER_QUERY_RECFILE);
  EXPECT_EQ(v.tHead.iMsgType, NPC_D_PVM_ORDER_MSG_TYPE_RESPONSE);
  EXPECT_EQ(v.tHead.dwTransId, 0x80ABCDEFu);
  EXPECT_EQ(v.tHead.dwVendorId, 1009u);

  NPC_S_PVM_RECORD_ARRAY a;
  ASSERT_EQ(NPC_F_PVM_MSG_ReadRecordArray(v, 32, 36, 176, NPC_D_PVM_REC_FILE_PAGE_NUM, &a), 1);
  EXPECT_EQ(a.iRecNum, 2);
  NPC_S_MON_DEV_REC_FILE r;
  ASSERT_EQ(NPC_F_PVM_MSG_GetRecord(a, 1, &r), 1);
  EXPECT_EQ(r.iFileSize, 4096);
  EXPECT_EQ(NPC_F_PVM_MSG_GetRecord(a, 2, &r), 0);
  EXPECT_EQ(NPC_F_PVM_MSG_GetRecord(a, -1, &r), 0);

  std::vector<uint8_t> none;
  EXPECT_EQ(NPC_F_PVM_MSG_BuildOrderResp(&none, requ.data(), 23, 0, &q, sizeof q), 0);
}

// ---------------------------------------------------------------------------------------------
// Record arrays: the count and the body length must agree exactly.

TEST(PvmMsgRead, RecordArraysMustFitTheBodyExactly) {
  struct Case {
    const char* what;
    int32_t count;
    size_t records;  // records actually present
    bool ok;
  };
  const Case cases[] = {
      {"none", 0, 0, true},
      {"three", 3, 3, true},
      {"count above what is there", 4, 3, false},
      {"count below what is there", 2, 3, false},
      {"negative count", -1, 0, false},
      {"count above the page", 65, 65, false},
      {"count whose product wraps 32 bits", 0x7FFFFFFF, 1, false},
  };
  for (const auto& c : cases) {
    NPC_S_PVM_ORDER_BODY_NSP_QUERY_FILE q{};
    q.iRecNum = c.count;
    std::vector<uint8_t> recs(c.records * sizeof(NPC_S_MON_FILE_HEAD_INFO), 0);
    std::vector<uint8_t> msg;
    ASSERT_EQ(NPC_F_PVM_MSG_BuildOrderMsg(&msg, NPC_F_PVM_MSG_OrderHead(ORDER_NSP_QUERY_FILE, 1, 5, 1009, 0), &q,
                                          sizeof q, recs.data(), recs.size()),
              1);
    NPC_S_PVM_ORDER_MSG_VIEW v;
    ASSERT_EQ(NPC_F_PVM_MSG_ReadOrderMsg(msg.data(), static_cast<int64_t>(msg.size()), &v), 1);
    NPC_S_PVM_RECORD_ARRAY a;
    EXPECT_EQ(NPC_F_PVM_MSG_ReadRecordArray(v, 64, 68, 224, NPC_D_PVM_REC_FILE_PAGE_NUM, &a), c.ok ? 1 : 0) << c.what;
  }
}

TEST(PvmMsgRead, RangeRecordsAreReadFromTheFrontOfFullSlots) {
  NPC_S_PVM_ORDER_BODY_NSP_QUERY_FILE_RANGE q{};
  q.iRecNum = 2;
  std::vector<uint8_t> recs(2 * 224, 0);
  for (int i = 0; i < 36; ++i) recs[224 + i] = static_cast<uint8_t>(i + 1);
  std::vector<uint8_t> msg;
  ASSERT_EQ(NPC_F_PVM_MSG_BuildOrderMsg(&msg, NPC_F_PVM_MSG_OrderHead(ORDER_NSP_QUERY_FILE_RANGE, 1, 5, 1009, 0), &q,
                                        sizeof q, recs.data(), recs.size()),
            1);
  NPC_S_PVM_ORDER_MSG_VIEW v;
  ASSERT_EQ(NPC_F_PVM_MSG_ReadOrderMsg(msg.data(), static_cast<int64_t>(msg.size()), &v), 1);
  NPC_S_PVM_RECORD_ARRAY a;
  ASSERT_EQ(NPC_F_PVM_MSG_ReadRecordArray(v, 64, 68, sizeof(NPC_S_MON_FILE_HEAD_INFO), 64, &a), 1);
  NPC_S_MON_FILE_RANGE_INFO r;
  ASSERT_EQ(NPC_F_PVM_MSG_GetRecord(a, 1, &r), 1);
  EXPECT_EQ(r.ucData[0], 1);
  EXPECT_EQ(r.ucData[35], 36);

  // A record type longer than the slots is refused.
  NPC_S_PVM_RECORD_ARRAY small = a;
  small.iRecSize = 28;
  EXPECT_EQ(NPC_F_PVM_MSG_GetRecord(small, 0, &r), 0);
}

// ---------------------------------------------------------------------------------------------
// Builders.

TEST(PvmMsgBuild, SwitchChannelCarriesMinusOneAs0xFFFF) {
  NPC_S_PVM_ORDER_BODY_SWITCH_CHANNEL b;
  NPC_F_PVM_MSG_SetSwitchChannel(&b, 0x00AA0001, -1, 1);
  std::vector<uint8_t> msg;
  ASSERT_EQ(NPC_F_PVM_MSG_BuildRequest(&msg, ORDER_SWITCH_CHANNEL, 0x80000007u, 1009, &b, sizeof b), 1);
  ASSERT_EQ(msg.size(), 32u);
  EXPECT_EQ(msg[28], 0xFF);
  EXPECT_EQ(msg[29], 0xFF);
  EXPECT_EQ(msg[30], 0x01);
  EXPECT_EQ(msg[31], 0x00);
  NPC_F_PVM_MSG_SetSwitchChannel(&b, 0x00AA0001, 3, -1);
  EXPECT_EQ(b.iChNo, 3);
  EXPECT_EQ(b.iStreamNo, 0xFFFF);
}

TEST(PvmMsgBuild, MediaDataIsHundredPlusNAndReadsBack) {
  NPC_S_MON_MEDIA_FRAME_HEAD h{};
  h.iMediaType = NPC_D_MON_MEDIA_TYPE_VIDEO;
  h.iVideoFrameType = NPC_D_MON_VIDEO_FRAME_TYPE_I;
  h.iTimestamp = 123456;
  const uint8_t data[5] = {0, 0, 0, 1, 0x65};
  std::vector<uint8_t> msg;
  ASSERT_EQ(NPC_F_PVM_MSG_BuildMediaData(&msg, 1009, 0x55550003, h, data, sizeof data), 1);
  ASSERT_EQ(msg.size(), 100u + sizeof data);
  EXPECT_EQ(i32At(msg, 0), ORDER_MEDIA_DATA);
  EXPECT_EQ(i32At(msg, 4), 0);   // notification
  EXPECT_EQ(u32At(msg, 8), 0u);  // nobody waits for it
  EXPECT_EQ(i32At(msg, 20), 76 + 5);
  EXPECT_EQ(u32At(msg, 24), 0x55550003u);
  EXPECT_EQ(i32At(msg, 28 + 4), 123456);  // iTimestamp inside the frame head
  EXPECT_EQ(i32At(msg, 96), 5);
  EXPECT_EQ(msg[100 + 4], 0x65);

  NPC_S_PVM_ORDER_MSG_VIEW v;
  ASSERT_EQ(NPC_F_PVM_MSG_ReadOrderMsg(msg.data(), static_cast<int64_t>(msg.size()), &v), 1);
  NPC_S_PVM_FRAME_DATA_VIEW f;
  ASSERT_EQ(NPC_F_PVM_MSG_ReadMediaData(v, &f), 1);
  EXPECT_EQ(f.dwCameraConnId, 0x55550003u);
  EXPECT_EQ(f.tFrameHead.iVideoFrameType, 1);
  EXPECT_EQ(f.iDataLen, 5);
  EXPECT_EQ(f.pData, msg.data() + 100);
  // Another order code is not a media message.
  NPC_S_PVM_FRAME_DATA_VIEW other;
  EXPECT_EQ(NPC_F_PVM_MSG_ReadRecDownloadData(v, &other), 0);
}

TEST(PvmMsgBuild, EmptyEndFrameReadsAsNoDataWithItsFlag) {
  NPC_S_MON_MEDIA_FRAME_HEAD h{};
  h.iFrameFlag = NPC_D_MON_FRAME_FLAG_END;
  std::vector<uint8_t> msg;
  ASSERT_EQ(NPC_F_PVM_MSG_BuildMediaData(&msg, 1009, 9, h, nullptr, 0), 1);
  ASSERT_EQ(msg.size(), 100u);
  NPC_S_PVM_ORDER_MSG_VIEW v;
  ASSERT_EQ(NPC_F_PVM_MSG_ReadOrderMsg(msg.data(), 100, &v), 1);
  NPC_S_PVM_FRAME_DATA_VIEW f;
  ASSERT_EQ(NPC_F_PVM_MSG_ReadMediaData(v, &f), 1);
  EXPECT_EQ(f.iDataLen, 0);
  EXPECT_EQ(f.tFrameHead.iFrameFlag, 2);

  // A media message whose body is shorter than the fixed part is refused.
  std::vector<uint8_t> cut;
  NPC_F_PVM_MSG_BuildNotify(&cut, ORDER_MEDIA_DATA, 1009, msg.data() + 24, 75);
  ASSERT_EQ(NPC_F_PVM_MSG_ReadOrderMsg(cut.data(), static_cast<int64_t>(cut.size()), &v), 1);
  EXPECT_EQ(NPC_F_PVM_MSG_ReadMediaData(v, &f), 0);
}

TEST(PvmMsgBuild, DownloadEventsAreKindTwo) {
  NPC_S_MON_MEDIA_FRAME_HEAD h{};
  h.iMediaType = 2;
  const uint8_t data[3] = {7, 8, 9};
  std::vector<uint8_t> msg;
  ASSERT_EQ(NPC_F_PVM_MSG_BuildRecDownloadData(&msg, 1009, 0x10, 0xD0, h, data, 3), 1);
  ASSERT_EQ(msg.size(), 104u + 3);
  EXPECT_EQ(i32At(msg, 4), NPC_D_PVM_ORDER_MSG_TYPE_EVENT);
  NPC_S_PVM_ORDER_MSG_VIEW v;
  ASSERT_EQ(NPC_F_PVM_MSG_ReadOrderMsg(msg.data(), static_cast<int64_t>(msg.size()), &v), 1);
  NPC_S_PVM_FRAME_DATA_VIEW f;
  ASSERT_EQ(NPC_F_PVM_MSG_ReadRecDownloadData(v, &f), 1);
  EXPECT_EQ(f.dwDownloadId, 0xD0u);
  EXPECT_EQ(f.iDataLen, 3);
  EXPECT_EQ(f.pData[2], 9);

  ASSERT_EQ(NPC_F_PVM_MSG_BuildRecDownloadState(&msg, 2060, 0x10, 0xD0, NPC_D_PVM_DOWNLOAD_STATE_STOPPED, 100), 1);
  ASSERT_EQ(msg.size(), 24u + 16);
  EXPECT_EQ(i32At(msg, 0), EVENT_REC_DOWNLOAD_STATE);
  EXPECT_EQ(i32At(msg, 4), NPC_D_PVM_ORDER_MSG_TYPE_EVENT);
  EXPECT_EQ(i32At(msg, 24 + 8), 4);
  EXPECT_EQ(i32At(msg, 24 + 12), 100);
}

TEST(PvmMsgBuild, NoticeTextsAreBoundedAndTerminated) {
  std::string longText(600, 'a');
  NPC_S_TD_DATE_TIME t{2024, 5, 6, 7, 8, 9, 0};
  std::vector<uint8_t> msg;
  ASSERT_EQ(NPC_F_PVM_MSG_BuildAlarmData(&msg, 1009, 1, 3, t, 4, longText.c_str()), 1);
  ASSERT_EQ(msg.size(), 24u + 576);
  EXPECT_EQ(msg[24 + 56 + 510], 'a');
  EXPECT_EQ(msg[24 + 56 + 511], 0);
  EXPECT_EQ(i32At(msg, 24 + 36), 3);
  EXPECT_EQ(msg[24 + 40], 2024 & 0xFF);

  // 22 three-byte characters (66 bytes): the cause text keeps 21 of them (63 bytes), no half one.
  std::string chinese;
  for (int i = 0; i < 22; ++i) chinese += "断";
  ASSERT_EQ(NPC_F_PVM_MSG_BuildNotifyDisconnect(&msg, 1009, 1, 200, chinese.c_str()), 1);
  ASSERT_EQ(msg.size(), 24u + 72);
  const char* text = reinterpret_cast<const char*>(msg.data() + 24 + 8);
  EXPECT_EQ(strlen(text), 63u);
  EXPECT_EQ(std::string(text), chinese.substr(0, 63));
  EXPECT_EQ(i32At(msg, 24 + 4), 200);
}

TEST(PvmMsgBuild, RefusesWhatCannotBeAMessage) {
  std::vector<uint8_t> msg{1, 2, 3};
  const NPC_S_PVM_ORDER_MSG_HEAD h = NPC_F_PVM_MSG_OrderHead(ORDER_CUSTOM, 0, 0, 1009, 0);
  EXPECT_EQ(NPC_F_PVM_MSG_BuildOrderMsg(&msg, h, nullptr, 4), 0);  // null part with a length
  EXPECT_TRUE(msg.empty());
  uint8_t body[12] = {};
  EXPECT_EQ(NPC_F_PVM_MSG_BuildOrderMsg(&msg, h, body, sizeof body, body, size_t{1} << 31), 0);  // too long
  EXPECT_EQ(NPC_F_PVM_MSG_BuildMediaData(&msg, 1, 1, NPC_S_MON_MEDIA_FRAME_HEAD{}, body, size_t{1} << 31), 0);

  uint8_t buf[35];
  EXPECT_EQ(NPC_F_PVM_MSG_PutOrderMsg(buf, sizeof buf, h, body, sizeof body), 0);  // one byte short
  uint8_t fits[36];
  EXPECT_EQ(NPC_F_PVM_MSG_PutOrderMsg(fits, sizeof fits, h, body, sizeof body), 36);
}

TEST(PvmMsgBuild, ServerOrderBodiesHonourTheirLimits) {
  std::vector<NPC_S_PVM_DEV_STATE_ENTRY> entries(NPC_D_PVM_SRV_QUERY_DEV_MAX_NUM + 1);
  std::vector<uint8_t> body;
  EXPECT_EQ(NPC_F_PVM_MSG_BuildSrvQueryDevStateBody(&body, entries.data(), 0, 0), 0);
  EXPECT_EQ(NPC_F_PVM_MSG_BuildSrvQueryDevStateBody(&body, entries.data(), 10001, 0), 0);
  ASSERT_EQ(NPC_F_PVM_MSG_BuildSrvQueryDevStateBody(&body, entries.data(), 10000, 0), 1);
  EXPECT_EQ(body.size(), 8u + 36 * 10000);
  ASSERT_EQ(NPC_F_PVM_MSG_BuildSrvQueryDevStateBody(&body, entries.data(), 2, 5), 1);
  EXPECT_EQ(body.size(), 8u + 72);

  std::vector<uint8_t> data(NPC_D_PVM_SRV_TRANS_DATA_MAX_LEN + 1, 'x');
  EXPECT_EQ(NPC_F_PVM_MSG_BuildSrvTransDataBody(&body, "dev", 1, data.data(), 0), 0);
  EXPECT_EQ(NPC_F_PVM_MSG_BuildSrvTransDataBody(&body, "dev", 1, data.data(), data.size()), 0);
  ASSERT_EQ(NPC_F_PVM_MSG_BuildSrvTransDataBody(&body, "dev", 1, data.data(), data.size() - 1), 1);
  EXPECT_EQ(body.size(), 72u + 131072);
  EXPECT_EQ(i32At(body, 68), 131072);
  EXPECT_STREQ(reinterpret_cast<const char*>(body.data()), "dev");
}

TEST(PvmMsgBuild, EngineNoticesComeFromVendorZero) {
  std::vector<uint8_t> msg;
  ASSERT_EQ(NPC_F_PVM_MSG_BuildDevStateNotify(&msg, "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789", 1), 1);
  ASSERT_EQ(msg.size(), 24u + 36);
  EXPECT_EQ(i32At(msg, 0), DEV_STATE_NOTIFY);
  EXPECT_EQ(i32At(msg, 4), NPC_D_PVM_ORDER_MSG_TYPE_EVENT);
  EXPECT_EQ(u32At(msg, 8), 0u);
  EXPECT_EQ(u32At(msg, 12), 0u);
  EXPECT_EQ(strlen(reinterpret_cast<const char*>(msg.data() + 24)), 31u);
  EXPECT_EQ(i32At(msg, 24 + 32), 1);

  NPC_S_PVM_ORDER_BODY_CONN_SRV_INFO_NOTIFY info{};
  info.usAuthSrvPort = 8000;
  ASSERT_EQ(NPC_F_PVM_MSG_BuildConnSrvInfoNotify(&msg, info), 1);
  ASSERT_EQ(msg.size(), 24u + 76);
  EXPECT_EQ(msg[24 + 18], 8000 & 0xFF);
}

TEST(PvmMsgBuild, TalkExAnswerCarriesTheDeviceFormatLast) {
  NPC_S_PVM_ORDER_BODY_START_TALK_EX b{};
  b.dwCameraConnId = 0x44;
  NPC_S_MON_MEDIA_TALK_FORMAT dev{};
  dev.iAudioCodecId = 21;
  dev.iAudioSampleRate = 8000;
  dev.iVideoFrameType = 1;
  memcpy(reinterpret_cast<uint8_t*>(&b) + 4, &dev, sizeof dev);
  std::vector<uint8_t> msg;
  ASSERT_EQ(NPC_F_PVM_MSG_BuildOrderMsg(&msg, NPC_F_PVM_MSG_OrderHead(ORDER_START_TALK_EX, 1, 9, 1009, 0), &b, sizeof b),
            1);
  NPC_S_PVM_ORDER_MSG_VIEW v;
  ASSERT_EQ(NPC_F_PVM_MSG_ReadOrderMsg(msg.data(), static_cast<int64_t>(msg.size()), &v), 1);
  NPC_S_MON_MEDIA_TALK_FORMAT got;
  ASSERT_EQ(NPC_F_PVM_MSG_ReadTalkExDevFormat(v, &got), 1);
  EXPECT_EQ(got.iAudioCodecId, 21);
  EXPECT_EQ(got.iAudioSampleRate, 8000);
  EXPECT_EQ(got.iVideoFrameType, 1);

  // A body too short to hold the camera id and a format is refused.
  ASSERT_EQ(NPC_F_PVM_MSG_BuildOrderMsg(&msg, NPC_F_PVM_MSG_OrderHead(ORDER_START_TALK_EX, 1, 9, 1009, 0), &b, 44), 1);
  ASSERT_EQ(NPC_F_PVM_MSG_ReadOrderMsg(msg.data(), static_cast<int64_t>(msg.size()), &v), 1);
  EXPECT_EQ(NPC_F_PVM_MSG_ReadTalkExDevFormat(v, &got), 0);
}

// ---------------------------------------------------------------------------------------------
// Network messages.

TEST(PvmNetMsg, TcpConnectRequestAndItsAnswer) {
  NPC_S_PVM_NET_MSG_TCP_CONNECT m;
  NPC_F_PVM_MSG_InitNetTcpConnect(&m);
  EXPECT_EQ(m.tHead.iMsgId, NET_TCP_CONNECT);
  EXPECT_EQ(m.tHead.iMsgType, NPC_D_PVM_NET_MSG_TYPE_REQUEST);
  EXPECT_EQ(m.tHead.iBodyLen, 324);
  m.ucConnFlags = NPC_F_PVM_MSG_MakeConnFlags(5, true, 9);
  EXPECT_EQ(m.ucConnFlags, 0x9D);
  EXPECT_EQ(NPC_F_PVM_MSG_ConnFlagsMode(m.ucConnFlags), 5);
  EXPECT_TRUE(NPC_F_PVM_MSG_ConnFlagsNoDirect(m.ucConnFlags));
  EXPECT_EQ(NPC_F_PVM_MSG_ConnFlagsPortIndex(m.ucConnFlags), 9);

  // The engine turns the request into its answer in place.
  auto* bytes = reinterpret_cast<uint8_t*>(&m);
  ASSERT_EQ(NPC_F_PVM_MSG_SetNetResp(bytes, sizeof m, NPC_D_PVM_NET_CONN_SETUP_FAIL), 1);
  NPC_S_PVM_NET_MSG_VIEW v;
  ASSERT_EQ(NPC_F_PVM_MSG_ReadNetMsg(bytes, sizeof m, &v), 1);
  NPC_S_PVM_NET_MSG_TCP_CONNECT got;
  ASSERT_EQ(NPC_F_PVM_MSG_ReadNetFixed(v, &got), 1);
  EXPECT_EQ(got.tHead.iMsgType, NPC_D_PVM_NET_MSG_TYPE_RESPONSE);
  EXPECT_EQ(got.tHead.iResult, 8);
  EXPECT_EQ(got.ucConnFlags, 0x9D);
  EXPECT_EQ(NPC_F_PVM_MSG_SetNetResp(bytes, 343, 0), 0);  // a cut message is not answered
}

TEST(PvmNetMsg, SendDataCarriesEveryByteBehindTheFixedPart) {
  const uint8_t data[4] = {1, 2, 3, 4};
  std::vector<uint8_t> msg;
  ASSERT_EQ(NPC_F_PVM_MSG_BuildNetSendData(&msg, 0x11, 0x22, 0, NPC_D_PVM_NET_DATA_TYPE_MEDIA, data, 4), 1);
  ASSERT_EQ(msg.size(), 44u);
  EXPECT_EQ(i32At(msg, 0), NET_SEND_DATA);
  EXPECT_EQ(i32At(msg, 16), 24);
  EXPECT_EQ(u32At(msg, 20), 0x11u);
  EXPECT_EQ(u32At(msg, 24), 0x22u);
  EXPECT_EQ(i32At(msg, 28), 4);
  EXPECT_EQ(i32At(msg, 36), 1);
  EXPECT_EQ(msg[43], 4);

  // A wrong length field does not change which bytes are the data.
  msg[28] = 99;
  NPC_S_PVM_NET_MSG_VIEW v;
  ASSERT_EQ(NPC_F_PVM_MSG_ReadNetMsg(msg.data(), static_cast<int64_t>(msg.size()), &v), 1);
  NPC_S_PVM_NET_DATA_VIEW d;
  ASSERT_EQ(NPC_F_PVM_MSG_ReadNetSendData(v, &d), 1);
  EXPECT_EQ(d.iDataLen, 4);
  EXPECT_EQ(d.iDataLenField, 99);
  EXPECT_EQ(d.iDataType, 1);
  EXPECT_EQ(NPC_F_PVM_MSG_ReadNetFrameData(v, &d), 0);  // not a frame message

  // Frames reassembled from UDP: body length is the frame length plus 12.
  ASSERT_EQ(NPC_F_PVM_MSG_BuildNetFrameData(&msg, NET_RECV_MEDIA_FRAME, 0x11, 0x22, data, 4), 1);
  EXPECT_EQ(i32At(msg, 16), 16);
  ASSERT_EQ(NPC_F_PVM_MSG_ReadNetMsg(msg.data(), static_cast<int64_t>(msg.size()), &v), 1);
  ASSERT_EQ(NPC_F_PVM_MSG_ReadNetFrameData(v, &d), 1);
  EXPECT_EQ(d.iDataLen, 4);
  EXPECT_EQ(d.pData[0], 1);
}

TEST(PvmNetMsg, IdOnlyMessagesShareOneLayout) {
  for (int32_t code : {NET_TCP_DISCONNECT, NET_REDIRECT_DATA, NET_REQU_CLEAR_CACHE}) {
    NPC_S_PVM_NET_MSG_CONN_IDS m;
    NPC_F_PVM_MSG_InitNetConnIds(&m, code, 0xAB, 0xCD);
    EXPECT_EQ(m.tHead.iMsgId, code);
    EXPECT_EQ(m.tHead.iBodyLen, 8);
    EXPECT_EQ(m.dwLogicTcpConnId, 0xCDu);
  }
  NPC_S_PVM_NET_MSG_SWITCH_MEDIA_TRANS_MODE s;
  NPC_F_PVM_MSG_InitNetSwitchMediaTransMode(&s, 1, 2, 3);
  EXPECT_EQ(s.tHead.iMsgId, NET_SWITCH_MEDIA_TRANS_MODE);
  EXPECT_EQ(s.tHead.iBodyLen, 12);
}

// ---------------------------------------------------------------------------------------------
// Tables.

TEST(PvmTables, AliasesAreTheSameOrders) {
  EXPECT_EQ(ORDER_SEARCHRECFILE, 544);
  EXPECT_EQ(ORDER_SATRT_TALK, 560);
  EXPECT_EQ(ORDER_SATRT_Alarm, 576);
  EXPECT_EQ(ORDER_Stop_Alarm, 577);
  EXPECT_EQ(ORDER_CHANGEPASSWORD, 640);
  EXPECT_EQ(ORDER_P2PPort_Data, 675);
  EXPECT_STREQ(NPC_F_PVM_GetOrderName(ORDER_SEARCHRECFILE), "ORDER_QUERY_RECFILE");
  EXPECT_STREQ(NPC_F_PVM_GetOrderName(676), "ORDER_Dev_PublicIpAddr");
  EXPECT_EQ(NPC_F_PVM_GetOrderName(546), nullptr);
  EXPECT_STREQ(NPC_F_PVM_GetNetMsgName(12), "NET_RECV_MEDIA_FRAME");
  EXPECT_EQ(NPC_F_PVM_GetNetMsgName(7), nullptr);
  EXPECT_STREQ(NPC_F_PVM_GetOrderMsgTypeName(2), "NPC_D_PVM_ORDER_MSG_TYPE_EVENT");
  EXPECT_STREQ(NPC_F_PVM_GetEventTypeName(0), "NPC_D_PVM_EVENT_TYPE_NET_DATA");
}

TEST(PvmTables, VendorsInRegistrationOrderWithKnownOrdersOnly) {
  int n = 0;
  const NPC_S_PVM_VENDOR_DESC* t = NPC_F_PVM_GetVendorDescTable(&n);
  ASSERT_EQ(n, 10);
  const uint32_t order[] = {1007, 2060, 2140, 2150, 1004, 2050, 2160, 1009, 2170, 1010};
  const char* names[] = {"HMCP", "HZXM", "GZQH", "ALRS", "OWSP", "BJHB", "GZJK", "QXSP", "SZQH", "EPMY"};
  std::set<uint32_t> seen;
  for (int i = 0; i < n; ++i) {
    EXPECT_EQ(t[i].dwVendorId, order[i]);
    EXPECT_STREQ(t[i].sName, names[i]);
    EXPECT_EQ(std::string(t[i].sClassName), std::string("NPC_C_PVM_DP_") + names[i] + "_Protocol");
    EXPECT_TRUE(seen.insert(t[i].dwVendorId).second);
    EXPECT_EQ(NPC_F_PVM_FindVendorDesc(order[i]), &t[i]);
    // Every code in every set is an order the vocabulary knows, and no code is in both sets.
    for (int32_t code = 0; code < 1024; ++code) {
      int h = NPC_F_PVM_GetOrderHandling(&t[i], code);
      if (h != NPC_D_PVM_ORDER_NOT_HANDLED) {
        EXPECT_NE(NPC_F_PVM_GetOrderName(code), nullptr) << names[i] << " " << code;
      }
    }
    for (int r = 0; r < t[i].iDevOrderRangeNum; ++r)
      for (int32_t code = t[i].pDevOrders[r].iFirst; code <= t[i].pDevOrders[r].iLast; ++code)
        for (int l = 0; l < t[i].iLocalOrderRangeNum; ++l)
          EXPECT_FALSE(code >= t[i].pLocalOrders[l].iFirst && code <= t[i].pLocalOrders[l].iLast) << names[i] << code;
  }
  EXPECT_EQ(NPC_F_PVM_FindVendorDesc(0), nullptr);
  EXPECT_EQ(NPC_F_PVM_FindVendorDesc(2020), nullptr);
  EXPECT_TRUE(NPC_F_PVM_FindVendorDesc(1009)->dwCapFlags & NPC_D_PVM_CAP_ENCRYPT_TYPE);
  EXPECT_TRUE(NPC_F_PVM_FindVendorDesc(2060)->dwCapFlags & NPC_D_PVM_CAP_PAGED_REC_QUERY);
  EXPECT_FALSE(NPC_F_PVM_FindVendorDesc(2160)->dwCapFlags & NPC_D_PVM_CAP_PAGED_REC_QUERY);
}

TEST(PvmTables, WhichModuleHandlesWhichOrder) {
  struct Case {
    uint32_t vendor;
    int32_t code;
    int handling;
  };
  const int D = NPC_D_PVM_ORDER_DEV_WORK, L = NPC_D_PVM_ORDER_LOCAL, N = NPC_D_PVM_ORDER_NOT_HANDLED;
  const Case cases[] = {
      {1009, 513, D}, {1009, 536, D}, {1009, 546, N}, {1009, 551, D}, {1009, 644, N}, {1009, 668, D},
      {1009, 672, D}, {1009, 675, N}, {1009, 677, D}, {1009, 772, D}, {1009, 257, N},
      {2060, 516, D}, {2060, 534, L}, {2060, 536, L}, {2060, 551, N}, {2060, 592, L}, {2060, 593, L},
      {2060, 610, N}, {2060, 771, D}, {2060, 772, N},
      {2160, 544, D}, {2160, 547, L}, {2160, 549, L}, {2160, 576, L}, {2160, 592, D}, {2160, 545, N},
      {2170, 544, D}, {2170, 640, D}, {2170, 672, N},
      {2050, 560, D}, {2050, 561, N}, {2050, 577, D},
      {1004, 530, D}, {1004, 531, N}, {2150, 514, D}, {2140, 515, N},
      {1007, 529, D}, {1007, 530, L}, {1007, 531, N},
      {1010, 515, N}, {1010, 516, D}, {1010, 675, D}, {1010, 676, D}, {1010, 677, N}, {1010, 528, N},
  };
  for (const auto& c : cases)
    EXPECT_EQ(NPC_F_PVM_GetOrderHandling(NPC_F_PVM_FindVendorDesc(c.vendor), c.code), c.handling)
        << c.vendor << " " << c.code;
  EXPECT_EQ(NPC_F_PVM_GetOrderHandling(nullptr, 513), N);
}

// ---------------------------------------------------------------------------------------------
// Result codes.

TEST(PvmResult, ResultCodesMapToCameraErrorsAndTexts) {
  struct Case {
    int32_t iResult;
    int32_t cameraError;
    const char* english;
    const char* chinese;
  };
  const Case cases[] = {
      {0, 0, "success", "成功"},
      {1001, 1, "system error", "系统错误"},
      {1002, 112, "dev offline", "设备离线"},
      {1004, 2, "Network connection timeout", "网络连接超时"},
      {1005, 153, "End to end connection closed", "对端关闭连接"},
      {1009, 9, "other fail", "其它失败"},
      {2011, 135, "Resources have not been opened", "资源已未被打开"},
      {2021, 146, "Not support force i frame", "不支持强制I帧"},
      {2024, 13, "Message function error", "消息功能错误"},
      {2027, 151, "Sub stream no error", "子码流号错误"},
      {3002, 138, "Local Resource no idle", "本地无空闲资源可使用"},
      {3006, 23, "RBUDP pipe anomaly", "可靠UDP管道异常"},
      // Codes outside the list: "other" below the custom range, passed through from 6150 on.
      {1008, 9, "other cause：1008.", "其它原因：1008."},
      {8, 9, "other cause：8.", "其它原因：8."},
      {-5, 9, "other cause：-5.", "其它原因：-5."},
      {6149, 9, "other cause：6149.", "其它原因：6149."},
      {6150, 6150, "custom error：6150.", "自定义错误码：6150."},
      {70000, 70000, "custom error：70000.", "自定义错误码：70000."},
  };
  for (const auto& c : cases) {
    char en[128], cn[128];
    EXPECT_EQ(NPC_F_PVM_TransErrorCode(c.iResult, 1, en, sizeof en), c.cameraError) << c.iResult;
    EXPECT_EQ(NPC_F_PVM_TransErrorCode(c.iResult, 0, cn, sizeof cn), c.cameraError) << c.iResult;
    EXPECT_STREQ(en, c.english) << c.iResult;
    EXPECT_STREQ(cn, c.chinese) << c.iResult;
  }
}

TEST(PvmResult, TheTableIsOneRowPerCodeAndTextsCutCleanly) {
  int n = 0;
  const NPC_S_PVM_ERRORCODE_INFO* t = NPC_F_PVM_GetErrorCodeTable(&n);
  ASSERT_EQ(n, 43);
  std::set<int32_t> codes;
  for (int i = 0; i < n; ++i) {
    EXPECT_TRUE(codes.insert(t[i].iResult).second) << t[i].iResult;
    EXPECT_EQ(NPC_F_PVM_FindErrorCodeInfo(t[i].iResult), &t[i]);
  }
  EXPECT_STREQ(NPC_F_PVM_FindErrorCodeInfo(2027)->sName, "NPC_D_PVM_ERRORCODE_SUB_STREAM_NO_ERROR");

  // A small buffer keeps whole characters: "设备离线" is 12 bytes, an 8-byte buffer takes two.
  char small[8];
  EXPECT_EQ(NPC_F_PVM_TransErrorCode(1002, 0, small, sizeof small), 112);
  EXPECT_STREQ(small, "设备");
  // "custom error：" cut inside the full-width colon keeps only the ASCII before it.
  char tiny[15];
  NPC_F_PVM_TransErrorCode(7000, 1, tiny, sizeof tiny);
  EXPECT_STREQ(tiny, "custom error");
  // The code alone, without a text.
  EXPECT_EQ(NPC_F_PVM_TransErrorCode(2004, 1, nullptr, 0), 102);
}

// ---------------------------------------------------------------------------------------------
// The module interface: five operations in slot order, no virtual destructor.

class CountingModule final : public NPC_I_PVM_DevProtocol {
 public:
  int NPC_F_PVM_InitDevProtocolModule(int vendorId, NPC_F_PVM_EVENT_CALLBACK cb, void* user) override {
    vendorId_ = vendorId;
    cb_ = cb;
    user_ = user;
    return 1;
  }
  void NPC_F_PVM_UninitDevProtocolModule() override { cb_ = nullptr; }
  int NPC_F_PVM_InputNetData(unsigned char*, int) override { return 0; }
  // Answers every order in place at once, as a module does for an order without device work.
  int NPC_F_PVM_InputUpOrderData(unsigned char* msg, int len) override {
    if (!NPC_F_PVM_MSG_SetOrderResp(msg, len, 0)) return 0;
    cb_(user_, NPC_D_PVM_EVENT_TYPE_ORDER_DATA, static_cast<unsigned>(vendorId_), msg, len);
    return 1;
  }
  int NPC_F_PVM_Timer() override { return 0; }

 private:
  int vendorId_ = 0;
  NPC_F_PVM_EVENT_CALLBACK cb_ = nullptr;
  void* user_ = nullptr;
};

TEST(PvmDevProtocol, ModuleAnswersThroughTheCallback) {
  static_assert(!std::has_virtual_destructor<NPC_I_PVM_DevProtocol>::value, "no virtual destructor");
  static_assert(std::is_abstract<NPC_I_PVM_DevProtocol>::value, "an interface");
  struct Seen {
    int kind = -1;
    unsigned vendor = 0;
    std::vector<uint8_t> msg;
  } seen;
  CountingModule m;
  NPC_I_PVM_DevProtocol* p = &m;
  ASSERT_EQ(p->NPC_F_PVM_InitDevProtocolModule(
                1007,
                [](void* user, int kind, unsigned vendor, unsigned char* msg, int len) {
                  auto* s = static_cast<Seen*>(user);
                  s->kind = kind;
                  s->vendor = vendor;
                  s->msg.assign(msg, msg + len);
                },
                &seen),
            1);
  NPC_S_PVM_ORDER_BODY_PTZ b{};
  std::vector<uint8_t> msg;
  ASSERT_EQ(NPC_F_PVM_MSG_BuildRequest(&msg, ORDER_PTZ, 0x80000009u, 1007, &b, sizeof b), 1);
  p->NPC_F_PVM_InputUpOrderData(msg.data(), static_cast<int>(msg.size()));
  EXPECT_EQ(seen.kind, NPC_D_PVM_EVENT_TYPE_ORDER_DATA);
  EXPECT_EQ(seen.vendor, 1007u);
  ASSERT_EQ(seen.msg.size(), msg.size());
  EXPECT_EQ(i32At(seen.msg, 4), NPC_D_PVM_ORDER_MSG_TYPE_RESPONSE);
  EXPECT_EQ(u32At(seen.msg, 8), 0x80000009u);
  p->NPC_F_PVM_UninitDevProtocolModule();
}

}  // namespace
