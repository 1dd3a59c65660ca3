// The transaction client against the service-packet server fixture: answers matched to their
// callers, split and merged packets, framing faults that drop the connection, late answers,
// the 513th concurrent call, the 90 s silence rule and heartbeats on a fake clock, reconnects,
// pushes, timers, sends, and the one-shot call.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/service_packet.h"
#include "net/trans_client.h"
#include "runtime/clock.h"
#include "service_fixture.h"
#include "test_support.h"

namespace {

using korven_test::closedPort;

using korven_test::LogCapture;
using korven_test::ServiceServer;

constexpr uint32_t kFunc = MONA_UDMK_USER_LOGIN;

// Records what the client's callbacks receive.
struct Recorder {
  std::mutex mu;
  std::condition_variable cv;
  std::vector<int> states;
  struct Packet {
    NPC_S_SMP_COM_PACKET_HEAD head;
    std::string body;
  };
  std::vector<Packet> packets;
  std::vector<uint32_t> timerIds;

  static void onState(void* user, int state) {
    auto* r = static_cast<Recorder*>(user);
    {
      std::lock_guard<std::mutex> lk(r->mu);
      r->states.push_back(state);
    }
    r->cv.notify_all();
  }
  static void onPacket(void* user, const uint8_t* p, int len) {
    auto* r = static_cast<Recorder*>(user);
    Packet pk{};
    EXPECT_TRUE(NPC_F_SMP_COM_ReadPacketHead(p, static_cast<uint64_t>(len), &pk.head));
    EXPECT_LE(static_cast<uint64_t>(pk.head.dwBodyLen) + 24, static_cast<uint64_t>(len));
    pk.body.assign(reinterpret_cast<const char*>(p) + 24, pk.head.dwBodyLen);
    {
      std::lock_guard<std::mutex> lk(r->mu);
      r->packets.push_back(pk);
    }
    r->cv.notify_all();
  }
  static void onTimer(uint32_t id, void* user) {
    auto* r = static_cast<Recorder*>(user);
    {
      std::lock_guard<std::mutex> lk(r->mu);
      r->timerIds.push_back(id);
    }
    r->cv.notify_all();
  }
  // Waits until the state list has n entries and returns the last.
  bool waitStates(size_t n, int timeoutMs = 10000) {
    std::unique_lock<std::mutex> lk(mu);
    return cv.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return states.size() >= n; });
  }
  bool waitPackets(size_t n, int timeoutMs = 10000) {
    std::unique_lock<std::mutex> lk(mu);
    return cv.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return packets.size() >= n; });
  }
  std::vector<int> stateList() {
    std::lock_guard<std::mutex> lk(mu);
    return states;
  }
  size_t timerCount() {
    std::lock_guard<std::mutex> lk(mu);
    return timerIds.size();
  }
};

struct Answer {
  int rc = 99;
  int result = -99;
  std::string body;
  int bufSize = 0;
};

Answer call(NPC_S_SMP_COM_TRANS_WORK_DATA* c, const std::string& body, int timeoutMs, uint32_t func = kFunc) {
  Answer a;
  char* out = nullptr;
  int len = 0;
  a.rc = NPC_F_SMP_COM_TRANS_CallRemoteProcess(c, func, body.data(), static_cast<int>(body.size()), &a.result, &out,
                                               &a.bufSize, &len, timeoutMs);
  if (out) {
    a.body.assign(out, static_cast<size_t>(len));
    EXPECT_EQ('\0', out[len]);
    NPC_F_SMP_COM_TRANS_ReleaseDataBuf(out);
  }
  return a;
}

// A started client with auto-reconnect and its recorder, stopped at the end of the test.
struct ClientUnderTest {
  Recorder rec;
  NPC_S_SMP_COM_TRANS_WORK_DATA* c = nullptr;
  explicit ClientUnderTest(unsigned short port, bool autoReconnect = true) {
    c = NPC_F_SMP_COM_TRANS_StartClientEx("127.0.0.1", port, &Recorder::onPacket, &rec, &Recorder::onState, &rec,
                                          autoReconnect ? 1 : 0);
  }
  ~ClientUnderTest() { NPC_F_SMP_COM_TRANS_StopClient(c); }
  bool up() { return rec.waitStates(1) && rec.stateList()[0] == 1; }
};

TEST(TransClient, CallsAreAnsweredWithTheirResultAndBody) {
  ServiceServer srv;
  ASSERT_NE(0, srv.port());
  ASSERT_TRUE(srv.command(R"({"cmd":"reply","func":196961,"result":5,"body":"61626364"})"));  // 0x30161
  ClientUnderTest t(srv.port());
  ASSERT_TRUE(t.up());

  Answer echo = call(t.c, "hello", 5000);
  EXPECT_EQ(0, echo.rc);
  EXPECT_EQ(0, echo.result);
  EXPECT_EQ("hello", echo.body);
  EXPECT_EQ(6, echo.bufSize);

  Answer scripted = call(t.c, "x", 5000, 0x30161);
  EXPECT_EQ(0, scripted.rc);
  EXPECT_EQ(5, scripted.result);
  EXPECT_EQ("abcd", scripted.body);

  // The request went out as a waited call: bit 31 of the transaction id set.
  std::string line;
  ASSERT_TRUE(srv.waitFor("REQ 196960 ", 1000, &line));
  unsigned long trans = std::stoul(line.substr(line.find(' ', 4) + 1));
  EXPECT_NE(0u, trans & 0x80000000u);
}

TEST(TransClient, ScrambledAndEncryptedAnswersAreOpened) {
  ServiceServer srv;
  ASSERT_TRUE(srv.command(R"({"cmd":"mode","scramble":true,"encrypt":true})"));
  ClientUnderTest t(srv.port());
  ASSERT_TRUE(t.up());
  std::string body(3000, 'q');
  body[0] = '\0';
  Answer a = call(t.c, body, 5000);
  EXPECT_EQ(0, a.rc);
  EXPECT_EQ(body, a.body);
}

TEST(TransClient, SplitAndMergedPacketsAreEachHandledOnce) {
  ServiceServer srv;
  ClientUnderTest t(srv.port());
  ASSERT_TRUE(t.up());

  ASSERT_TRUE(srv.command(R"({"cmd":"mode","split":7})"));
  Answer split = call(t.c, std::string(100, 's'), 10000);
  EXPECT_EQ(0, split.rc);
  EXPECT_EQ(std::string(100, 's'), split.body);

  // Three answers and a push in one write.
  ASSERT_TRUE(srv.command(R"({"cmd":"mode","split":0,"merge":4})"));
  std::vector<Answer> answers(3);
  std::vector<std::thread> callers;
  for (int i = 0; i < 3; ++i)
    callers.emplace_back([&, i] { answers[i] = call(t.c, "m" + std::to_string(i), 10000); });
  ASSERT_TRUE(srv.waitCount("REQ ", 3, 5000));
  ASSERT_TRUE(srv.command(R"({"cmd":"push","func":197634,"body":"7070"})"));
  for (auto& th : callers) th.join();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(0, answers[i].rc);
    EXPECT_EQ("m" + std::to_string(i), answers[i].body);
  }
  ASSERT_TRUE(t.rec.waitPackets(1));
  EXPECT_EQ(1u, t.rec.packets.size());
  EXPECT_EQ(0x30402u, t.rec.packets[0].head.dwFuncId);
}

// Streams the client must refuse: each drops the connection with its log line, a waited call
// ends at once, and the client reconnects.
TEST(TransClient, FramingFaultsDropTheConnection) {
  struct Case {
    const char* what;
    const char* hex;
    const char* log;
  } cases[] = {
      {"bad flag", "fffffffe28000000000000000000000000010000010000000000000000000000000000000000000000",
       "dwNetHeadFlag error."},
      {"size 0", "ffffffff000000000000000000000000", "dwPacketSize error."},
      {"size 39", "ffffffff27000000000000000000000000010000010000000000000000000000000000000000000000",
       "dwPacketSize error."},
      {"over 20 MiB", "ffffffff01004001000000000000000000010000", "iHisRecvDataLen error."},
      {"body longer than the packet",
       "ffffffff2a00000000000000000000000001010060010300000000000000000000000000030000006162",
       "dwBodyLen error."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    LogCapture log;
    korven_test::FakeClock clock;  // the automatic reconnect waits 4 s after the first connect
    ServiceServer srv;
    ASSERT_TRUE(srv.command(R"({"cmd":"reply","func":196960,"action":"never"})"));
    ClientUnderTest t(srv.port());
    ASSERT_TRUE(t.up());
    Answer a;
    std::thread caller([&] { a = call(t.c, "pending", 60000); });
    ASSERT_TRUE(srv.waitFor("REQ ", 5000));
    ASSERT_TRUE(srv.command(std::string(R"({"cmd":"raw","hex":")") + c.hex + "\"}"));
    caller.join();
    EXPECT_EQ(-5, a.rc) << "the waiting call ends when the connection drops";
    EXPECT_TRUE(log.waitFor(c.log, 5000));
    ASSERT_TRUE(t.rec.waitStates(2));
    clock.advance(NPC_D_SMP_COM_TRANS_AUTO_RECONNECT_MS);
    ASSERT_TRUE(t.rec.waitStates(3));
    EXPECT_EQ((std::vector<int>{1, 0, 1}), t.rec.stateList());
    EXPECT_TRUE(srv.waitFor("CONN 2", 5000));
  }
}

TEST(TransClient, LateAnswerIsLoggedAsNoFindAndHarmsNothing) {
  LogCapture log;
  ServiceServer srv;
  ASSERT_TRUE(srv.command(R"({"cmd":"reply","func":196960,"delay_ms":400})"));
  ClientUnderTest t(srv.port());
  ASSERT_TRUE(t.up());
  EXPECT_EQ(-5, call(t.c, "late", 100).rc);
  EXPECT_TRUE(log.waitFor("NPC_F_SMP_COM_TRANS_PR_DoRecvTrans no find.", 5000));
  ASSERT_TRUE(srv.command(R"({"cmd":"reset"})"));
  Answer a = call(t.c, "after", 5000);
  EXPECT_EQ(0, a.rc);
  EXPECT_EQ("after", a.body);
  EXPECT_EQ(1u, t.rec.stateList().size()) << "no drop";
}

TEST(TransClient, The513thConcurrentCallFindsNoSlot) {
  LogCapture log;
  ServiceServer srv;
  ASSERT_TRUE(srv.command(R"({"cmd":"reply","func":196960,"action":"never"})"));
  ClientUnderTest t(srv.port());
  ASSERT_TRUE(t.up());
  std::vector<int> results(NPC_D_SMP_COM_TRANS_MAX_WAIT, 99);
  std::vector<std::thread> callers;
  for (int i = 0; i < NPC_D_SMP_COM_TRANS_MAX_WAIT; ++i)
    callers.emplace_back([&, i] { results[i] = call(t.c, "w", 120000).rc; });
  ASSERT_TRUE(srv.waitCount("REQ ", NPC_D_SMP_COM_TRANS_MAX_WAIT, 60000));
  EXPECT_EQ(-3, call(t.c, "one too many", 1000).rc);
  EXPECT_TRUE(log.contains("NPC_F_SMP_COM_TRANS_PR_CreateTrans no free pos."));
  // Closing the connection releases all 512 waiters at once.
  ASSERT_TRUE(srv.command(R"({"cmd":"close"})"));
  for (auto& th : callers) th.join();
  for (int r : results) EXPECT_EQ(-5, r);
}

TEST(TransClient, CloseInTheMiddleOfACallEndsItAndReconnects) {
  korven_test::FakeClock clock;
  ServiceServer srv;
  ASSERT_TRUE(srv.command(R"({"cmd":"reply","func":196960,"action":"close"})"));
  ClientUnderTest t(srv.port());
  ASSERT_TRUE(t.up());
  EXPECT_EQ(-5, call(t.c, "bye", 60000).rc);
  ASSERT_TRUE(t.rec.waitStates(2));
  clock.advance(NPC_D_SMP_COM_TRANS_AUTO_RECONNECT_MS);
  ASSERT_TRUE(t.rec.waitStates(3));
  EXPECT_EQ((std::vector<int>{1, 0, 1}), t.rec.stateList());
}

// The 90 s rule and the 30 s heartbeat on the fake clock.
TEST(TransClient, NinetySecondsOfSilenceDropAndReconnect) {
  LogCapture log;
  korven_test::FakeClock clock;
  ServiceServer srv;
  ClientUnderTest t(srv.port());
  ASSERT_TRUE(t.up());
  ASSERT_EQ(0, call(t.c, "once", 5000).rc);

  // Heartbeats every 30 s, echoed by the server, keep the connection.
  for (int i = 1; i <= 4; ++i) {
    clock.advance(NPC_D_SMP_COM_TRANS_HEARTBEAT_MS);
    ASSERT_TRUE(srv.waitCount("HB ", static_cast<size_t>(i), 5000)) << i;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let the echo come back
  }
  EXPECT_EQ(1u, t.rec.stateList().size());

  // Silence: heartbeats go unanswered; 90 s after the last packet the client drops.
  ASSERT_TRUE(srv.command(R"({"cmd":"mode","silent":true})"));
  size_t hbs = srv.count("HB ");
  clock.advance(NPC_D_SMP_COM_TRANS_HEARTBEAT_MS);
  ASSERT_TRUE(srv.waitCount("HB ", hbs + 1, 5000));
  clock.advance(NPC_D_SMP_COM_TRANS_HEARTBEAT_MS);
  ASSERT_TRUE(srv.waitCount("HB ", hbs + 2, 5000));
  EXPECT_FALSE(log.contains("HearBeat TimeOut Disconnect."));
  clock.advance(NPC_D_SMP_COM_TRANS_HEARTBEAT_MS);
  EXPECT_TRUE(log.waitFor("HearBeat TimeOut Disconnect.", 5000));
  ASSERT_TRUE(t.rec.waitStates(3));
  EXPECT_EQ((std::vector<int>{1, 0, 1}), t.rec.stateList());
  EXPECT_TRUE(srv.waitFor("CONN 2", 5000));
  EXPECT_TRUE(log.contains("Start Auto Reconnect."));
}

TEST(TransClient, PushesAndHeartbeatRequestsFromTheServer) {
  ServiceServer srv;
  ClientUnderTest t(srv.port());
  ASSERT_TRUE(t.up());
  ASSERT_TRUE(srv.command(R"({"cmd":"push","func":197640,"body":"000102","trans":17,"seq":4})"));  // 0x30408
  ASSERT_TRUE(srv.command(R"({"cmd":"push","func":262402,"type":1,"trans":5,"body":"ff"})"));  // response, no wait bit
  ASSERT_TRUE(srv.command(R"({"cmd":"push","func":1,"trans":9})"));  // heartbeat request
  ASSERT_TRUE(t.rec.waitPackets(2));
  EXPECT_TRUE(srv.waitFor("HBR 1", 5000)) << "the heartbeat request is echoed as a response";
  std::lock_guard<std::mutex> lk(t.rec.mu);
  ASSERT_EQ(2u, t.rec.packets.size()) << "heartbeats do not reach the packet callback";
  EXPECT_EQ(0x30408u, t.rec.packets[0].head.dwFuncId);
  EXPECT_EQ(17u, t.rec.packets[0].head.dwTransId);
  EXPECT_EQ(4u, t.rec.packets[0].head.dwSeqNo);
  EXPECT_EQ(std::string("\x00\x01\x02", 3), t.rec.packets[0].body);
  EXPECT_EQ(0x40102u, t.rec.packets[1].head.dwFuncId);
  EXPECT_EQ(1, t.rec.packets[1].head.usPacketType);
}

TEST(TransClient, SendsReportWhetherThePacketWent) {
  ServiceServer srv;
  ClientUnderTest t(srv.port(), false);
  ASSERT_TRUE(t.up());
  uint32_t trans = 0, seq = 0;
  EXPECT_EQ(1, NPC_F_SMP_COM_TRANS_SendRequData(t.c, 0x30151, "\x01\0\0\0", 4, &trans, &seq, 1000));
  EXPECT_EQ(0u, trans & 0x80000000u);
  ASSERT_TRUE(srv.waitFor("REQ 196945 " + std::to_string(trans) + " " + std::to_string(seq) + " 4", 5000));

  std::vector<uint8_t> head(24 + 3, 0);
  NPC_S_SMP_COM_PACKET_HEAD h{};
  h.usVersion = 0x100;
  h.dwFuncId = 0x3022f;
  h.dwTransId = 77;
  h.dwBodyLen = 3;
  NPC_F_SMP_COM_WritePacketHead(head.data(), h);
  EXPECT_EQ(1, NPC_F_SMP_COM_TRANS_SendPacketData(t.c, head.data(), static_cast<int>(head.size()), 1000));
  ASSERT_TRUE(srv.waitFor("REQ 197167 77 0 3", 5000));
  EXPECT_EQ(0, NPC_F_SMP_COM_TRANS_SendPacketData(t.c, head.data(), 26, 1000)) << "body beyond the packet";

  // Not connected: nothing is queued and the sends say so.
  ASSERT_TRUE(srv.command(R"({"cmd":"close"})"));
  ASSERT_TRUE(t.rec.waitStates(2));
  EXPECT_EQ(0, NPC_F_SMP_COM_TRANS_SendPacketData(t.c, head.data(), static_cast<int>(head.size()), 1000));
  EXPECT_EQ(0, NPC_F_SMP_COM_TRANS_SendRequData(t.c, 0x30151, "x", 1, nullptr, nullptr, 1000));
  EXPECT_EQ(-2, call(t.c, "x", 1000).rc);
  EXPECT_EQ(-1, NPC_F_SMP_COM_TRANS_CallRemoteProcess(nullptr, kFunc, nullptr, 0, nullptr, nullptr, nullptr,
                                                       nullptr, 1000));
}

TEST(TransClient, ReconnectRequestRebuildsTheConnection) {
  LogCapture log;
  ServiceServer srv;
  ClientUnderTest t(srv.port(), false);
  ASSERT_TRUE(t.up());
  ASSERT_EQ(1, NPC_F_SMP_COM_TRANS_SetReConnect(t.c));
  ASSERT_TRUE(t.rec.waitStates(3));
  EXPECT_EQ((std::vector<int>{1, 0, 1}), t.rec.stateList());
  EXPECT_TRUE(log.contains("Start Reconnect."));
  EXPECT_TRUE(srv.waitFor("CONN 2", 5000));
  EXPECT_EQ(0, NPC_F_SMP_COM_TRANS_GetReConnectFlag(t.c));
  EXPECT_EQ(0, call(t.c, "again", 5000).rc);
}

TEST(TransClient, TimersFireOnTheFakeClock) {
  korven_test::FakeClock clock;
  ServiceServer srv;
  ClientUnderTest t(srv.port());
  ASSERT_TRUE(t.up());
  ASSERT_EQ(1, NPC_F_SMP_COM_TRANS_StartTimer(t.c, 2, 42, &Recorder::onTimer, &t.rec));
  clock.advance(1000);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(0u, t.rec.timerCount());
  clock.advance(1000);
  ASSERT_TRUE(korven_test::eventually([&] { return t.rec.timerCount() == 1; }));
  EXPECT_EQ(42u, t.rec.timerIds[0]);
  EXPECT_EQ(1, NPC_F_SMP_COM_TRANS_StopTimer(t.c, 42));
  clock.advance(5000);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(1u, t.rec.timerCount());
}

TEST(TransClient, StartClientConnectsBeforeReturning) {
  ServiceServer srv;
  Recorder rec;
  NPC_S_SMP_COM_TRANS_WORK_DATA* c =
      NPC_F_SMP_COM_TRANS_StartClient("127.0.0.1", srv.port(), &Recorder::onPacket, &rec, 0);
  ASSERT_NE(nullptr, c);
  EXPECT_EQ(1, NPC_F_SMP_COM_TRANS_CheckConnectState(c));
  EXPECT_EQ(0, call(c, "x", 5000).rc);
  NPC_F_SMP_COM_TRANS_StopClient(c);

  LogCapture log;
  EXPECT_EQ(nullptr, NPC_F_SMP_COM_TRANS_StartClient("127.0.0.1", closedPort(), nullptr, nullptr, 0));
  EXPECT_TRUE(log.contains("Connect Fail.")) << "a refused connect is a failed connect";
}

TEST(TransClient, OneShotCall) {
  ServiceServer srv;
  ASSERT_TRUE(srv.command(R"({"cmd":"reply","func":262145,"result":3,"body":"0a0b"})"));  // 0x40001
  int result = -1, bufSize = 0, len = 0;
  char* out = nullptr;
  EXPECT_EQ(0, NPC_F_SMP_COM_TRANS_DirectCallRemoteProcess("127.0.0.1", srv.port(), 0x40001, "abc", 3, &result, &out,
                                                           &bufSize, &len, 5000));
  EXPECT_EQ(3, result);
  ASSERT_EQ(2, len);
  EXPECT_EQ(0x0a, out[0]);
  NPC_F_SMP_COM_TRANS_ReleaseDataBuf(out);
  ASSERT_TRUE(srv.waitFor("REQ 262145 0 0 3", 5000)) << "transaction key 0/0";

  ASSERT_TRUE(srv.command(R"({"cmd":"reply","func":262145,"action":"never"})"));
  EXPECT_EQ(5, NPC_F_SMP_COM_TRANS_DirectCallRemoteProcess("127.0.0.1", srv.port(), 0x40001, "abc", 3, &result,
                                                           nullptr, nullptr, nullptr, 300));
}

TEST(TransClient, OneShotCallToAClosedPortGivesCouldNotConnect) {
  auto start = std::chrono::steady_clock::now();
  int result = -1;
  EXPECT_EQ(3, NPC_F_SMP_COM_TRANS_DirectCallRemoteProcess("127.0.0.1", closedPort(), 0x40001, "abc", 3, &result,
                                                           nullptr, nullptr, nullptr, 400));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(350)) << "retried until the time-out";
}

}  // namespace
