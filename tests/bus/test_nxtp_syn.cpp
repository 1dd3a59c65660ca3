// The synchronous call layer over a running engine with fake modules: call results, the
// transaction table's limits and late answers, notice dispatch to cameras (including malformed
// notices and stale camera ids), the camera timer pass against deletion, the server orders, the
// login wait, the pass-throughs and destruction while a caller waits.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bus/nxtp_syn.h"
#include "bus/pvm_msg.h"
#include "bus_harness.h"
#include "fake_module.h"
#include "test_support.h"

namespace {

using korven_test::LogCapture;
using korven_test::eventually;

constexpr uint32_t kVendor = 1009;

// A call layer over one fake module (kVendor) and an optional server link.
struct Layer {
  harness::Upper upper;
  NPC_S_NXTP_MODULE_ENTRY entries[1] = {fake::entry(kVendor, "QXSP")};
  NPC_S_NXTP_MODULE_TABLE table = {entries, 1};
  NPC_H_NXTP_SYN syn = nullptr;

  explicit Layer(NPC_S_NXTP_SRV_ORDER_LINK link = {}) {
    auto p = harness::params(&table, &upper);
    p.tSrvOrderLink = link;
    syn = NPC_F_NXTP_SYN_CreateProtocolBusServerEx(&p);
  }
  ~Layer() {
    if (syn) NPC_F_NXTP_SYN_DestroyProtocolBusServer(syn);
  }
  fake::Module* module() { return fake::World::get().module(kVendor); }

  struct Answer {
    int ret;
    int result;
    std::vector<uint8_t> body;
  };
  Answer call(int iMsgId, std::vector<uint8_t> body, int timeoutMs = 5000) {
    Answer a{0, -1, {}};
    char* buf = nullptr;
    int cap = 0, len = 0;
    a.ret = NPC_F_NXTP_SYN_CallRemoteProcess(syn, iMsgId, kVendor, body.data(), static_cast<int>(body.size()),
                                             &a.result, &buf, &cap, &len, timeoutMs);
    if (a.ret == 0) a.body.assign(buf, buf + len);
    NPC_F_NXTP_SYN_ReleaseDataBuf(buf);
    return a;
  }
};

std::vector<uint8_t> bytes(std::initializer_list<uint8_t> l) { return std::vector<uint8_t>(l); }

TEST(SynCall, EchoAnswerFillsTheCallersBufferAndReusesIt) {
  LogCapture log;
  Layer l;
  ASSERT_NE(l.syn, nullptr);
  fake::World::get().config(kVendor).answerResult = 2004;
  char* buf = static_cast<char*>(malloc(64));
  char* const first = buf;
  int cap = 64, len = 0, result = -1;
  const std::vector<uint8_t> body = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_EQ(NPC_F_NXTP_SYN_CallRemoteProcess(l.syn, ORDER_QUERY_CUR_CHSTREAMNO, kVendor, body.data(), 8, &result, &buf,
                                             &cap, &len, 5000),
            0);
  EXPECT_EQ(result, 2004);
  EXPECT_EQ(buf, first);  // large enough: reused
  EXPECT_EQ(std::vector<uint8_t>(buf, buf + len), body);
  NPC_F_NXTP_SYN_ReleaseDataBuf(buf);
  // The order went down with a transaction id (bit 31 set), the vendor id, kind 0 and the body.
  auto orders = fake::World::get().orderList();
  ASSERT_EQ(orders.size(), 1u);
  NPC_S_PVM_ORDER_MSG_HEAD h;
  memcpy(&h, orders[0].data(), sizeof h);
  EXPECT_NE(h.dwTransId & 0x80000000u, 0u);
  EXPECT_EQ(h.dwVendorId, kVendor);
  EXPECT_EQ(h.iMsgType, 0);
  EXPECT_EQ(h.iBodyLen, 8);
}

TEST(SynCall, FailureResults) {
  LogCapture log;
  int result = 0;
  char* buf = nullptr;
  int cap = 0, len = 0;
  EXPECT_EQ(NPC_F_NXTP_SYN_CallRemoteProcess(nullptr, 514, kVendor, nullptr, 0, &result, &buf, &cap, &len, 10), -1);
  EXPECT_TRUE(log.contains("NPC_F_NXTP_SYN_CallRemoteProcess in_hNxtpSrv is NULL."));

  struct Case {
    fake::Mode mode;
    int expected;
  };
  for (const Case& c : {Case{fake::Mode::EmptyBody, -5}, Case{fake::Mode::Drop, -5}, Case{fake::Mode::Echo, 0}}) {
    Layer l;
    ASSERT_NE(l.syn, nullptr);
    log.clear();
    fake::World::get().config(kVendor).mode = c.mode;
    EXPECT_EQ(l.call(ORDER_CAMERA_DISCONNECT, {1, 0, 0, 0}, 300).ret, c.expected);
    if (c.mode == fake::Mode::EmptyBody) {
      EXPECT_TRUE(log.contains("NPC_F_NXTP_SYN_TRANS_PR_DoRecvTrans NPC_F_MEM_MG_SetDataToBuf fail."));
    }
  }
}

// The 513th concurrent call fails at once with -3; once a call completes, entries are free again.
TEST(SynCall, The513thConcurrentCallGetsMinusThree) {
  LogCapture log;
  Layer l;
  ASSERT_NE(l.syn, nullptr);
  fake::World::get().config(kVendor).mode = fake::Mode::Hold;
  std::vector<std::future<int>> calls;
  for (int i = 0; i < NPC_D_NXTP_SYN_TRANS_NUM; ++i)
    calls.push_back(std::async(std::launch::async, [&l] { return l.call(ORDER_CAMERA_DISCONNECT, {0, 0, 0, 0}, 60000).ret; }));
  ASSERT_TRUE(eventually([&] { return l.module() && l.module()->heldCount() == NPC_D_NXTP_SYN_TRANS_NUM; }, 30000));
  EXPECT_EQ(l.call(ORDER_CAMERA_DISCONNECT, {0, 0, 0, 0}, 60000).ret, -3);
  EXPECT_TRUE(log.contains("NPC_F_NXTP_SYN_TRANS_PR_CreateTrans no free pos."));
  EXPECT_TRUE(log.contains("NPC_F_NXTP_SYN_TRANS_CallRemoteProcess NPC_F_NXTP_SYN_TRANS_PR_CreateTrans fail."));
  for (size_t i = 0; i < NPC_D_NXTP_SYN_TRANS_NUM; ++i) ASSERT_TRUE(l.module()->releaseHeld(i));
  for (auto& f : calls) EXPECT_EQ(f.get(), 0);
  fake::World::get().config(kVendor).mode = fake::Mode::Echo;
  EXPECT_EQ(l.call(ORDER_CAMERA_DISCONNECT, {0, 0, 0, 0}).ret, 0);
}

// A late answer is shown as "no find" and never wakes the call that now uses its entry.
TEST(SynCall, ALateAnswerWakesNoLaterCall) {
  LogCapture log;
  Layer l;
  ASSERT_NE(l.syn, nullptr);
  fake::World::get().config(kVendor).mode = fake::Mode::Hold;
  EXPECT_EQ(l.call(ORDER_CAMERA_DISCONNECT, {0xA, 0, 0, 0}, 100).ret, -5);
  auto later = std::async(std::launch::async, [&l] { return l.call(ORDER_CAMERA_DISCONNECT, {0xB, 0, 0, 0}, 10000); });
  ASSERT_TRUE(eventually([&] { return l.module()->heldCount() == 2; }));
  ASSERT_TRUE(l.module()->releaseHeld(0));  // the first call's answer, after its time-out
  ASSERT_TRUE(log.waitFor("NPC_F_NXTP_SYN_TRANS_PR_DoRecvTrans no find, iMsgId: 0x0202", 5000));
  EXPECT_EQ(later.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
  ASSERT_TRUE(l.module()->releaseHeld(1));
  Layer::Answer a = later.get();
  EXPECT_EQ(a.ret, 0);
  EXPECT_EQ(a.body, bytes({0xB, 0, 0, 0}));
}

TEST(SynCall, SixteenCallersAtOnce) {
  LogCapture log;
  Layer l;
  ASSERT_NE(l.syn, nullptr);
  std::vector<std::thread> threads;
  std::atomic<int> good{0};
  for (int t = 0; t < 16; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        std::vector<uint8_t> body = {static_cast<uint8_t>(t), static_cast<uint8_t>(i), 0, 0};
        Layer::Answer a = l.call(ORDER_CAMERA_DISCONNECT, body);
        if (a.ret == 0 && a.body == body) good++;
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(good.load(), 16 * 50);
}

// An order sent without waiting carries a no-wait id (bit 31 clear, never 0); an answer to it
// finds no call.
TEST(SynCall, NoWaitSendsCarryNoWaitIds) {
  LogCapture log;
  Layer l;
  ASSERT_NE(l.syn, nullptr);
  uint32_t id = 0;
  const uint8_t body[4] = {1, 0, 0, 0};
  ASSERT_EQ(NPC_F_NXTP_SYN_SendRequData(l.syn, ORDER_FORCE_I_FRAME, kVendor, body, 4, &id, 1000), 1);
  EXPECT_NE(id, 0u);
  EXPECT_EQ(id & 0x80000000u, 0u);
  EXPECT_TRUE(log.waitFor("NPC_F_NXTP_SYN_TRANS_PR_DoRecvTrans no find, iMsgId: 0x0213", 5000));
  EXPECT_EQ(NPC_F_NXTP_SYN_SendRequData(nullptr, ORDER_FORCE_I_FRAME, kVendor, body, 4, &id, 1000), 0);
}

// Destroying the layer while a caller waits: the caller is woken (-5) before anything it uses
// is freed, and the destruction completes.
TEST(SynCall, DestroyWhileACallerWaits) {
  LogCapture log;
  auto l = std::make_unique<Layer>();
  ASSERT_NE(l->syn, nullptr);
  fake::World::get().config(kVendor).mode = fake::Mode::Hold;
  NPC_H_NXTP_SYN syn = l->syn;
  auto waiting = std::async(std::launch::async, [syn] {
    char* buf = nullptr;
    int cap = 0, len = 0, result = 0;
    uint8_t body[4] = {0};
    int ret = NPC_F_NXTP_SYN_CallRemoteProcess(syn, ORDER_CAMERA_DISCONNECT, kVendor, body, 4, &result, &buf, &cap,
                                               &len, 60000);
    NPC_F_NXTP_SYN_ReleaseDataBuf(buf);
    return ret;
  });
  ASSERT_TRUE(eventually([&] { return l->module() && l->module()->heldCount() == 1; }));
  l.reset();  // destroys the layer
  EXPECT_EQ(waiting.get(), -5);
}

// --- Cameras -----------------------------------------------------------------------------------

// What the camera callbacks received, in order.
struct CameraRecorder {
  std::mutex mu;
  std::vector<std::string> calls;
  std::vector<uint8_t> lastData;
  NPC_S_MON_MEDIA_FRAME_HEAD lastHead{};
  NPC_S_NXTP_SYN_ALARM_RECORD lastAlarm{};
  std::string lastText;
  std::atomic<int> timers{0};

  void add(const std::string& s) {
    std::lock_guard<std::mutex> lk(mu);
    calls.push_back(s);
  }
  std::vector<std::string> list() {
    std::lock_guard<std::mutex> lk(mu);
    return calls;
  }
  static void media(void* u, uint32_t id, int kind, uint32_t sub, const NPC_S_MON_MEDIA_FRAME_HEAD* head,
                    const unsigned char* data, int len) {
    auto* r = static_cast<CameraRecorder*>(u);
    std::lock_guard<std::mutex> lk(r->mu);
    r->lastHead = *head;
    r->lastData.assign(data, data + len);
    r->calls.push_back("media " + std::to_string(id) + " " + std::to_string(kind) + " " + std::to_string(sub) + " " +
                       std::to_string(len));
  }
  static void alarm(void* u, uint32_t id, const NPC_S_NXTP_SYN_ALARM_RECORD* rec, int len) {
    auto* r = static_cast<CameraRecorder*>(u);
    std::lock_guard<std::mutex> lk(r->mu);
    r->lastAlarm = *rec;
    r->calls.push_back("alarm " + std::to_string(id) + " " + std::to_string(len));
  }
  static void timer(void* u, uint32_t) { static_cast<CameraRecorder*>(u)->timers++; }
  static void state(void* u, uint32_t id, int kind, uint32_t sub, int value, const char* text) {
    auto* r = static_cast<CameraRecorder*>(u);
    std::lock_guard<std::mutex> lk(r->mu);
    r->lastText = text ? text : "(null)";
    r->calls.push_back("state " + std::to_string(id) + " " + std::to_string(kind) + " " + std::to_string(sub) + " " +
                       std::to_string(value));
  }
  static void pass(void* u, uint32_t id, const unsigned char* data, int len) {
    auto* r = static_cast<CameraRecorder*>(u);
    std::lock_guard<std::mutex> lk(r->mu);
    r->lastData.assign(data, data + len);
    r->calls.push_back("pass " + std::to_string(id) + " " + std::to_string(len));
  }
};

uint32_t addCamera(NPC_H_NXTP_SYN syn, CameraRecorder* r) {
  return NPC_F_NXTP_SYN_CreateCameraData(syn, &CameraRecorder::media, r, &CameraRecorder::alarm, r,
                                         &CameraRecorder::timer, r, &CameraRecorder::state, r, &CameraRecorder::pass, r);
}

// Sends a notice up through the module callback from the test's thread and waits until the
// engine has handed it on (a marker notice to the upper callback follows it).
void sendUp(Layer& l, std::vector<uint8_t> msg) {
  const size_t before = l.upper.list().size();
  l.module()->emit(NPC_D_PVM_EVENT_TYPE_ORDER_DATA, msg);
  std::vector<uint8_t> marker;
  NPC_F_PVM_MSG_BuildEventNotify(&marker, CONN_SRV_INFO_NOTIFY, 0, "m", 1);
  l.module()->emit(NPC_D_PVM_EVENT_TYPE_ORDER_DATA, marker);
  ASSERT_TRUE(l.upper.waitCount(before + 1));
}

std::vector<uint8_t> rawNotice(int32_t iMsgId, std::vector<uint8_t> body) {
  std::vector<uint8_t> m;
  NPC_F_PVM_MSG_BuildOrderMsg(&m, NPC_F_PVM_MSG_OrderHead(iMsgId, 0, 0, kVendor, 0), body.data(), body.size());
  return m;
}

std::vector<uint8_t> le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

TEST(SynNotice, NoticesReachTheirCameraWithLengthsFromTheMessage) {
  LogCapture log;
  Layer l;
  ASSERT_NE(l.syn, nullptr);
  CameraRecorder r;
  const uint32_t cam = addCamera(l.syn, &r);
  ASSERT_NE(cam, 0u);
  const std::string id = std::to_string(cam);
  NPC_S_MON_MEDIA_FRAME_HEAD head{};
  head.iMediaType = 1;
  head.iTimestamp = 777;
  std::vector<uint8_t> data(4096);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  std::vector<uint8_t> m;

  struct Case {
    std::string name;
    std::vector<uint8_t> msg;
    std::vector<std::string> expectCalls;
  };
  std::vector<Case> cases;
  NPC_F_PVM_MSG_BuildMediaData(&m, kVendor, cam, head, data.data(), data.size());
  cases.push_back({"media", m, {"media " + id + " 0 0 4096"}});
  cases.push_back({"media shorter than its fixed part", rawNotice(ORDER_MEDIA_DATA, [&] {
                     auto b = le32(cam);
                     b.resize(40);
                     return b;
                   }()),
                   {}});
  {
    // A media length field that claims more than came: the data is what the message carries.
    NPC_F_PVM_MSG_BuildMediaData(&m, kVendor, cam, head, data.data(), 100);
    const int32_t lie = 1 << 30;
    memcpy(m.data() + 24 + 72, &lie, 4);
    cases.push_back({"media length field lies", m, {"media " + id + " 0 0 100"}});
  }
  NPC_F_PVM_MSG_BuildRecDownloadData(&m, kVendor, cam, 55, head, data.data(), 300);
  cases.push_back({"download data", m, {"media " + id + " 2 55 300"}});
  NPC_F_PVM_MSG_BuildRecDownloadState(&m, kVendor, cam, 55, 2, 40);
  cases.push_back({"download state", m, {"state " + id + " 2 55 2", "state " + id + " 3 55 40"}});
  NPC_F_PVM_MSG_BuildNotifyDisconnect(&m, kVendor, cam, 1005, "peer gone");
  cases.push_back({"disconnect", m, {"state " + id + " 0 0 1005"}});
  cases.push_back({"raw data", rawNotice(ORDER_RAW_DATA, [&] {
                     auto b = le32(cam);
                     auto n = le32(3);
                     b.insert(b.end(), n.begin(), n.end());
                     b.insert(b.end(), {9, 8, 7});
                     return b;
                   }()),
                   {"pass " + id + " 3"}});
  NPC_F_PVM_MSG_BuildThumbData(&m, kVendor, cam, 31, data.data(), 64);
  cases.push_back({"thumbnail", m, {"media " + id + " 4 0 64"}});
  {
    NPC_F_PVM_MSG_BuildThumbData(&m, kVendor, cam, 31, data.data(), 64);
    const int32_t lie = 100000;
    memcpy(m.data() + 24 + 8, &lie, 4);
    cases.push_back({"thumbnail length clamped", m, {"media " + id + " 4 0 64"}});
    const int32_t negative = -5;
    memcpy(m.data() + 24 + 8, &negative, 4);
    cases.push_back({"thumbnail negative length", m, {"media " + id + " 4 0 0"}});
  }
  NPC_S_TD_DATE_TIME t{};
  t.iYear = 2024;
  NPC_F_PVM_MSG_BuildAlarmData(&m, kVendor, cam, 12, t, 3, std::string(200, 'a').c_str());
  cases.push_back({"alarm", m, {"alarm " + id + " 96"}});
  cases.push_back({"alarm shorter than its fixed part", rawNotice(ORDER_ALARM_DATA, le32(cam)), {}});
  cases.push_back({"disconnect shorter than its fixed part", rawNotice(ORDER_NOTIFY_DISCONNECT, le32(cam)), {}});
  cases.push_back({"download state shorter than its fixed part", rawNotice(EVENT_REC_DOWNLOAD_STATE, le32(cam)), {}});
  cases.push_back({"no body", rawNotice(ORDER_MEDIA_DATA, {}), {}});
  NPC_F_PVM_MSG_BuildMediaData(&m, kVendor, cam ^ 0x10000u, head, data.data(), 10);
  cases.push_back({"stale tag", m, {}});
  NPC_F_PVM_MSG_BuildMediaData(&m, kVendor, (cam & 0xFFFF0000u) | 600u, head, data.data(), 10);
  cases.push_back({"slot past the table", m, {}});

  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t before = r.list().size();
    sendUp(l, c.msg);
    auto calls = r.list();
    EXPECT_EQ(std::vector<std::string>(calls.begin() + static_cast<long>(before), calls.end()), c.expectCalls);
    if (c.name == "media") {
      EXPECT_EQ(r.lastHead.iTimestamp, 777);
      EXPECT_EQ(r.lastData, data);
    }
    if (c.name == "alarm") {
      EXPECT_EQ(std::string(r.lastAlarm.sAlarmText), std::string(63, 'a'));
      EXPECT_EQ(r.lastAlarm.iAlarmType, 12);
      EXPECT_EQ(r.lastAlarm.iAlarmParam, 3);
      EXPECT_EQ(r.lastAlarm.tAlarmTime.iYear, 2024);
      EXPECT_EQ(r.lastAlarm.dwCameraConnId, cam);
    }
    if (c.name == "thumbnail") {
      EXPECT_EQ(r.lastHead.iMediaType, 200);
      EXPECT_EQ(r.lastHead.iTimestamp, 31);
    }
    if (c.name == "disconnect") {
      EXPECT_EQ(r.lastText, "peer gone");
    }
    if (c.name == "download state") {
      EXPECT_EQ(r.lastText, "(null)");
    }
    if (c.name == "raw data") {
      EXPECT_EQ(r.lastData, bytes({9, 8, 7}));
    }
  }
}

// A cause text that fills its field without a NUL reaches the camera bounded and terminated.
TEST(SynNotice, DisconnectCauseTextIsBounded) {
  LogCapture log;
  Layer l;
  ASSERT_NE(l.syn, nullptr);
  CameraRecorder r;
  const uint32_t cam = addCamera(l.syn, &r);
  auto body = le32(cam);
  auto cause = le32(7);
  body.insert(body.end(), cause.begin(), cause.end());
  body.insert(body.end(), 64, 'Z');
  sendUp(l, rawNotice(ORDER_NOTIFY_DISCONNECT, body));
  EXPECT_EQ(r.lastText, std::string(63, 'Z'));
}

// Everything else that comes up with dwTransId 0 reaches the upper callback byte for byte.
TEST(SynNotice, OtherNoticesReachTheUpperCallbackUnchanged) {
  LogCapture log;
  Layer l;
  ASSERT_NE(l.syn, nullptr);
  std::vector<uint8_t> a, b, c;
  NPC_F_PVM_MSG_BuildDevStateNotify(&a, "dev-1", 1);
  NPC_S_PVM_ORDER_BODY_CONN_SRV_INFO_NOTIFY info{};
  info.usAuthSrvPort = 9000;
  NPC_F_PVM_MSG_BuildConnSrvInfoNotify(&b, info);
  c = rawNotice(ORDER_SRV_QUERY_DEV_STATE, std::vector<uint8_t>(44, 3));
  for (auto* m : {&a, &b, &c}) l.module()->emit(NPC_D_PVM_EVENT_TYPE_ORDER_DATA, *m);
  // A raw-data notice for no camera is logged.
  auto raw = rawNotice(ORDER_RAW_DATA, {1, 2, 3, 4, 0, 0, 0, 0});
  l.module()->emit(NPC_D_PVM_EVENT_TYPE_ORDER_DATA, raw);
  ASSERT_TRUE(l.upper.waitCount(3));
  auto got = l.upper.list();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0], a);
  EXPECT_EQ(got[1], b);
  EXPECT_EQ(got[2], c);
  EXPECT_TRUE(log.waitFor("NPC_F_NXTP_SYN_TRANS_PR_DoNotTransEvent_ORDER_RAW_DATA pCameraData NULL.", 5000));
}

// Camera ids are never 0, a reused slot gets a new id at once, and the old id reaches nobody.
TEST(SynCamera, ADeletedCamerasIdReachesNobodyAlsoWhenItsSlotIsReusedAtOnce) {
  LogCapture log;
  Layer l;
  ASSERT_NE(l.syn, nullptr);
  CameraRecorder oldR, newR;
  NPC_S_MON_MEDIA_FRAME_HEAD head{};
  for (int round = 0; round < 50; ++round) {
    const uint32_t oldId = addCamera(l.syn, &oldR);
    ASSERT_NE(oldId, 0u);
    ASSERT_EQ(oldId & 0xFFFFu, 0u);  // the lowest free slot
    NPC_F_NXTP_SYN_DeleteCameraData(l.syn, oldId);
    const uint32_t newId = addCamera(l.syn, &newR);
    ASSERT_EQ(newId & 0xFFFFu, 0u);
    ASSERT_NE(newId, oldId);
    std::vector<uint8_t> m;
    NPC_F_PVM_MSG_BuildMediaData(&m, kVendor, oldId, head, "x", 1);
    sendUp(l, m);
    NPC_F_NXTP_SYN_DeleteCameraData(l.syn, newId);
  }
  EXPECT_TRUE(oldR.list().empty());
  EXPECT_TRUE(newR.list().empty());
}

TEST(SynCamera, TheTableHolds512Cameras) {
  LogCapture log;
  Layer l;
  ASSERT_NE(l.syn, nullptr);
  CameraRecorder r;
  std::vector<uint32_t> ids;
  for (int i = 0; i < NPC_D_NXTP_SYN_CAMERA_NUM; ++i) {
    ids.push_back(addCamera(l.syn, &r));
    ASSERT_EQ(ids.back() & 0xFFFFu, static_cast<uint32_t>(i));
    ASSERT_NE(ids.back() >> 16, 0u);
  }
  EXPECT_EQ(addCamera(l.syn, &r), 0u);
  NPC_F_NXTP_SYN_DeleteCameraData(l.syn, ids[7] ^ 0x10000u);  // wrong tag: nothing happens
  EXPECT_EQ(addCamera(l.syn, &r), 0u);
  NPC_F_NXTP_SYN_DeleteCameraData(l.syn, ids[7]);
  EXPECT_EQ(addCamera(l.syn, &r) & 0xFFFFu, 7u);
  EXPECT_EQ(NPC_F_NXTP_SYN_CreateCameraData(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                            nullptr, nullptr, nullptr),
            0u);
}

// The timer pass calls each camera once a second and never after its deletion has returned.
// The callback dwells a little and then looks at its camera's record, which the test marks and
// frees right after the deletion returns: a call that outlived the deletion shows up as a
// marked record (or, under the sanitizers, as a use after free).
struct SlowTimerCamera {
  std::atomic<bool> deleted{false};
  std::atomic<int> calls{0};
  static std::atomic<int> lateCalls;
  static void timer(void* u, uint32_t) {
    auto* self = static_cast<SlowTimerCamera*>(u);
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    if (self->deleted) lateCalls++;
    self->calls++;
  }
};
std::atomic<int> SlowTimerCamera::lateCalls{0};

TEST(SynCamera, NoTimerCallbackAfterDeletionReturns) {
  LogCapture log;
  korven_test::FakeClock clock;
  Layer l;
  ASSERT_NE(l.syn, nullptr);
  SlowTimerCamera steady;
  NPC_F_NXTP_SYN_CreateCameraData(l.syn, nullptr, nullptr, nullptr, nullptr, &SlowTimerCamera::timer, &steady, nullptr,
                                  nullptr, nullptr, nullptr);
  std::atomic<bool> stop{false};
  std::thread ticker([&] {
    while (!stop) {
      clock.advance(1000);
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
  });
  for (int i = 0; i < 200; ++i) {
    auto cam = std::make_unique<SlowTimerCamera>();
    const uint32_t id = NPC_F_NXTP_SYN_CreateCameraData(l.syn, nullptr, nullptr, nullptr, nullptr,
                                                        &SlowTimerCamera::timer, cam.get(), nullptr, nullptr, nullptr,
                                                        nullptr);
    ASSERT_NE(id, 0u);
    // Delete just as a timer pass moves from the steady camera to this one.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (steady.calls.load() <= i && std::chrono::steady_clock::now() < until) std::this_thread::yield();
    NPC_F_NXTP_SYN_DeleteCameraData(l.syn, id);
    cam->deleted = true;
    std::this_thread::sleep_for(std::chrono::microseconds(300));
  }
  stop = true;
  ticker.join();
  EXPECT_EQ(SlowTimerCamera::lateCalls.load(), 0);
  EXPECT_GT(steady.calls.load(), 100);
}

// --- Server orders -----------------------------------------------------------------------------

// A server link that answers on the engine thread as the test scripts it.
struct Server {
  std::function<std::vector<uint8_t>(const std::vector<uint8_t>&)> answer;  // empty: not sent
  std::atomic<int> orders{0};
  static int send(void* user, NPC_H_NXTP_MC bus, const unsigned char* msg, int len) {
    auto* s = static_cast<Server*>(user);
    s->orders++;
    std::vector<uint8_t> request(msg, msg + len);
    std::vector<uint8_t> reply = s->answer ? s->answer(request) : std::vector<uint8_t>();
    if (reply.empty()) return 0;
    NPC_F_NXTP_MC_SendDataToUpApp(bus, reply.data(), static_cast<int>(reply.size()));
    return 1;
  }
  NPC_S_NXTP_SRV_ORDER_LINK link() { return {&Server::send, this}; }
};

std::vector<uint8_t> answerWith(const std::vector<uint8_t>& request, std::vector<uint8_t> body) {
  std::vector<uint8_t> out;
  NPC_F_PVM_MSG_BuildOrderResp(&out, request.data(), static_cast<int64_t>(request.size()), 0, body.data(), body.size());
  return out;
}

TEST(SynServer, TransDataToDevAcceptsUpTo131071Bytes) {
  LogCapture log;
  Server srv;
  srv.answer = [](const std::vector<uint8_t>& req) {
    std::vector<uint8_t> body(req.begin() + 24, req.begin() + 24 + 72);
    const int32_t n = 5;
    memcpy(body.data() + 68, &n, 4);
    body.insert(body.end(), {'h', 'e', 'l', 'l', 'o'});
    return answerWith(req, body);
  };
  Layer l(srv.link());
  ASSERT_NE(l.syn, nullptr);
  std::vector<uint8_t> data(131072, 'd');
  char* out = nullptr;
  int outLen = 0;
  ASSERT_EQ(NPC_F_NXTP_SYN_TransDataToDev(l.syn, "dev-1", 3, data.data(), 131071, &out, &outLen, 5000), 1);
  EXPECT_EQ(outLen, 5);
  EXPECT_STREQ(out, "hello");
  NPC_F_NXTP_SYN_ReleaseDataBuf(out);
  EXPECT_EQ(srv.orders.load(), 1);
  out = nullptr;
  EXPECT_EQ(NPC_F_NXTP_SYN_TransDataToDev(l.syn, "dev-1", 3, data.data(), 131072, &out, &outLen, 5000), 0);
  // Refused before anything was sent, like the other bad arguments.
  const uint8_t zeroFirst[2] = {0, 1};
  EXPECT_EQ(NPC_F_NXTP_SYN_TransDataToDev(l.syn, "", 3, data.data(), 4, &out, &outLen, 5000), 0);
  EXPECT_EQ(NPC_F_NXTP_SYN_TransDataToDev(l.syn, nullptr, 3, data.data(), 4, &out, &outLen, 5000), 0);
  EXPECT_EQ(NPC_F_NXTP_SYN_TransDataToDev(l.syn, "dev-1", 3, zeroFirst, 2, &out, &outLen, 5000), 0);
  EXPECT_EQ(NPC_F_NXTP_SYN_TransDataToDev(l.syn, "dev-1", 3, data.data(), 0, &out, &outLen, 5000), 0);
  EXPECT_EQ(NPC_F_NXTP_SYN_TransDataToDev(l.syn, "dev-1", 3, data.data(), 4, nullptr, &outLen, 5000), 0);
  EXPECT_EQ(srv.orders.load(), 1);
  // An answer whose length field disagrees with its body fails.
  srv.answer = [](const std::vector<uint8_t>& req) {
    std::vector<uint8_t> body(72, 0);
    const int32_t n = 50;
    memcpy(body.data() + 68, &n, 4);
    body.push_back('x');
    return answerWith(req, body);
  };
  EXPECT_EQ(NPC_F_NXTP_SYN_TransDataToDev(l.syn, "dev-1", 3, data.data(), 4, &out, &outLen, 5000), 0);
}

TEST(SynServer, QueryDevStateNeedsTheRequestsCount) {
  LogCapture log;
  Server srv;
  int32_t answerCount = 2;
  srv.answer = [&](const std::vector<uint8_t>& req) {
    std::vector<uint8_t> body(req.begin() + 24, req.end());
    memcpy(body.data(), &answerCount, 4);
    const int32_t value = 42;
    memcpy(body.data() + 4, &value, 4);
    for (int i = 0; i < 2; ++i) {
      const int32_t state = 10 + i;
      memcpy(body.data() + 8 + 36 * i + 32, &state, 4);
    }
    return answerWith(req, body);
  };
  Layer l(srv.link());
  ASSERT_NE(l.syn, nullptr);
  NPC_S_PVM_DEV_STATE_ENTRY entries[2] = {};
  entries[0].sDevId[0] = 'a';
  entries[1].sDevId[0] = 'b';
  int value = 0;
  ASSERT_EQ(NPC_F_NXTP_SYN_QueryDevState(l.syn, entries, 2, &value, 5000), 1);
  EXPECT_EQ(value, 42);
  EXPECT_EQ(entries[0].iDevState, 10);
  EXPECT_EQ(entries[1].iDevState, 11);

  NPC_S_PVM_DEV_STATE_ENTRY fresh[2] = {};
  answerCount = 1;
  value = 0;
  EXPECT_EQ(NPC_F_NXTP_SYN_QueryDevState(l.syn, fresh, 2, &value, 5000), 0);
  EXPECT_EQ(fresh[0].iDevState, 0);
  EXPECT_EQ(value, 0);
  EXPECT_EQ(NPC_F_NXTP_SYN_QueryDevState(l.syn, nullptr, 2, &value, 5000), 0);
  EXPECT_EQ(NPC_F_NXTP_SYN_QueryDevState(l.syn, fresh, 0, &value, 5000), 0);
  // Without a server the engine answers "not sent" and the query fails.
  srv.answer = nullptr;
  EXPECT_EQ(NPC_F_NXTP_SYN_QueryDevState(l.syn, fresh, 2, &value, 5000), 0);
}

// Order 257 sent as a notice (dwTransId 0) comes back through the upper callback unchanged, like
// the engine's notices 337 and 338.
TEST(SynServer, ServerAnswersAndEngineNoticesWithoutTransIdGoUpUnchanged) {
  LogCapture log;
  Server srv;
  std::vector<uint8_t> n337, n338;
  NPC_F_PVM_MSG_BuildDevStateNotify(&n337, "dev-9", 0);
  NPC_S_PVM_ORDER_BODY_CONN_SRV_INFO_NOTIFY info{};
  memcpy(info.sAuthSrvIpaddr, "127.0.0.1", 10);
  NPC_F_PVM_MSG_BuildConnSrvInfoNotify(&n338, info);
  std::vector<uint8_t> reply;
  srv.answer = [&](const std::vector<uint8_t>& req) {
    reply = answerWith(req, std::vector<uint8_t>(req.begin() + 24, req.end()));
    return reply;
  };
  Layer l(srv.link());
  ASSERT_NE(l.syn, nullptr);
  std::vector<uint8_t> body(8 + 36, 0);
  const int32_t one = 1;
  memcpy(body.data(), &one, 4);
  std::vector<uint8_t> order;
  NPC_F_PVM_MSG_BuildRequest(&order, ORDER_SRV_QUERY_DEV_STATE, 0, 0, body.data(), body.size());
  ASSERT_EQ(NPC_F_NXTP_SYN_SendNoTransRequData(l.syn, order.data(), static_cast<int>(order.size())), 1);
  ASSERT_TRUE(l.upper.waitCount(1));
  l.module()->emit(NPC_D_PVM_EVENT_TYPE_ORDER_DATA, n337);
  l.module()->emit(NPC_D_PVM_EVENT_TYPE_ORDER_DATA, n338);
  ASSERT_TRUE(l.upper.waitCount(3));
  auto got = l.upper.list();
  EXPECT_EQ(got[0], reply);
  EXPECT_EQ(got[1], n337);
  EXPECT_EQ(got[2], n338);
}

// --- Login wait and pass-throughs ----------------------------------------------------------------

TEST(SynLogin, WaitLoginServerState) {
  LogCapture log;
  Layer l;
  ASSERT_NE(l.syn, nullptr);
  NPC_H_NXTP_MC bus = NPC_F_NXTP_SYN_GetBusHandle(l.syn);
  EXPECT_EQ(NPC_F_NXTP_SYN_WaitLoginServerState(l.syn, 99), 0);  // below 100 ms: no ask at all
  EXPECT_EQ(NPC_F_NXTP_SYN_WaitLoginServerState(l.syn, 250), 1);
  EXPECT_EQ(NPC_F_NXTP_SYN_WaitLoginServerState(nullptr, 250), 0);
  NPC_F_NXTP_MC_SetLoginServerOver(bus, 0);
  EXPECT_EQ(NPC_F_NXTP_SYN_CheckIfLoginServerOver(l.syn), 0);
  EXPECT_EQ(NPC_F_NXTP_SYN_WaitLoginServerState(l.syn, 250), 0);  // two asks, both negative
  // The login ending during the wait ends it at once.
  std::thread ender([bus] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    NPC_F_NXTP_MC_SetLoginServerOver(bus, 1);
  });
  EXPECT_EQ(NPC_F_NXTP_SYN_WaitLoginServerState(l.syn, 60000), 1);
  ender.join();
}

TEST(SynPassThrough, NullHandleResults) {
  LogCapture log;
  char buf[64];
  unsigned short port = 0;
  unsigned char storage[NPC_D_NXTP_STORAGE_SRV_INFO_LEN];
  EXPECT_EQ(NPC_F_NXTP_SYN_SetEncryptType(nullptr, 1), 9);
  EXPECT_EQ(NPC_F_NXTP_SYN_SetPrivateTrans(nullptr, 1, 2), 9);
  EXPECT_EQ(NPC_F_NXTP_SYN_SetUserClientInfo(nullptr, "u", 1, "t"), 0);
  EXPECT_EQ(NPC_F_NXTP_SYN_QueryServerConnState(nullptr), 0);
  EXPECT_EQ(NPC_F_NXTP_SYN_GetServerIpaddr(nullptr, buf, sizeof buf), 0);
  EXPECT_EQ(NPC_F_NXTP_SYN_GetServerFlag(nullptr, buf, sizeof buf), 0);
  EXPECT_EQ(NPC_F_NXTP_SYN_GetAuthSrvAddr(nullptr, buf, sizeof buf, &port), 0);
  EXPECT_EQ(NPC_F_NXTP_SYN_GetStorageSrvAddr(nullptr, storage, sizeof storage), 0);
  EXPECT_EQ(NPC_F_NXTP_SYN_CheckIfLoginServerOver(nullptr), 0);
  EXPECT_EQ(NPC_F_NXTP_SYN_SetIdleDevP2pConnTimeout(nullptr, 5), 0);
  EXPECT_EQ(NPC_F_NXTP_SYN_SetNetActionMsgTime(nullptr, 5), 0);
  EXPECT_EQ(NPC_F_NXTP_SYN_SetConnectSpecServer(nullptr, 1), 0);
  EXPECT_EQ(NPC_F_NXTP_SYN_SetUdpTransConn(nullptr, 1), 0);
  EXPECT_EQ(NPC_F_NXTP_SYN_SetNicState(nullptr, 1), 0);
  EXPECT_EQ(NPC_F_NXTP_SYN_SetLocalUDP(nullptr, 1, 7), 0);
  EXPECT_TRUE(log.contains("set local udp mode is 1,timout is 7"));
  EXPECT_TRUE(log.contains("NPC_F_NXTP_SYN_SetLocalUDP fail,pNxtpSynModuleData is nil"));
}

TEST(SynPassThrough, ValuesReachTheEngine) {
  LogCapture log;
  Layer l;
  ASSERT_NE(l.syn, nullptr);
  EXPECT_TRUE(log.contains("Create Protocol Bus Server.[1,2]"));
  NPC_H_NXTP_MC bus = NPC_F_NXTP_SYN_GetBusHandle(l.syn);
  EXPECT_EQ(NPC_F_NXTP_SYN_SetLocalUDP(l.syn, 1, 9), 1);
  EXPECT_EQ(NPC_F_NXTP_SYN_SetIdleDevP2pConnTimeout(l.syn, 1), 1);
  EXPECT_EQ(NPC_F_NXTP_SYN_SetPrivateTrans(l.syn, 3, 4), 0);
  // The fake module here does not take the encryption type.
  EXPECT_EQ(NPC_F_NXTP_SYN_SetEncryptType(l.syn, 1), 9);
  NPC_S_NXTP_SETTINGS s;
  NPC_F_NXTP_MC_GetSettings(bus, &s);
  EXPECT_EQ(s.iLocalUdpMode, 1);
  EXPECT_EQ(s.iLocalUdpTimeout, 9);
  EXPECT_EQ(s.iIdleDevP2pConnTimeout, 3);
  EXPECT_EQ(s.iPrivateTrans1, 3);
  char ident[8];
  EXPECT_EQ(NPC_F_NXTP_SYN_GetServerFlag(l.syn, ident, sizeof ident), 1);
  EXPECT_STREQ(ident, "client-");  // bounded by the caller's buffer
}

TEST(SynCallFailInfo, TextsInBothLanguages) {
  LogCapture log;
  struct Case {
    int code;
    const char* en;
    const char* zh;
  };
  const Case cases[] = {
      {-1, "Open call fail, [-1]System error.", "Open调用失败, [-1]系统错误."},
      {-2, "Open call fail, [-2]No connect.", "Open调用失败, [-2]未连接服务器."},
      {-3, "Open call fail, [-3]Create trans fail.", "Open调用失败, [-3]创建事务失败."},
      {-4, "Open call fail, [-4]Send request fail.", "Open调用失败, [-4]发送请求消息失败."},
      {-5, "Open call fail, [-5]Wait timeout.", "Open调用失败, [-5]等待应答超时."},
      {-6, "Open call fail, [-6]Alloc memory fail.", "Open调用失败, [-6]分配内存失败."},
      {-7, "Open call fail, [-7]Other error.", "Open调用失败, [-7]其它错误."},
      {3, "Open call fail, [3]Other error.", "Open调用失败, [3]其它错误."},
  };
  char text[256];
  for (const Case& c : cases) {
    ASSERT_EQ(NPC_F_MPI_MON_CLT_PR_GetCallFailInfo(1, "Open", c.code, text, sizeof text), 1);
    EXPECT_STREQ(text, c.en);
    ASSERT_EQ(NPC_F_MPI_MON_CLT_PR_GetCallFailInfo(0, "Open", c.code, text, sizeof text), 1);
    EXPECT_STREQ(text, c.zh);
  }
  char small[12];
  NPC_F_MPI_MON_CLT_PR_GetCallFailInfo(0, "Open", -5, small, sizeof small);
  EXPECT_STREQ(small, "Open调用");  // cut at a character boundary
}

}  // namespace
