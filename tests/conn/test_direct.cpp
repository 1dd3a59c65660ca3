// Direct device connections through a running engine, one table of cases: a fake module asks
// for logical connections with network messages, the TCP device fixture (sim/tcp_device.py)
// plays the device. After every case, each connect request the module made has had exactly one
// final answer, and a connection that never connected was never reported disconnected.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "conn_harness.h"
#include "sim_process.h"
#include "test_support.h"

namespace {

using korven_test::closedPort;

using namespace conn_test;
using korven_test::LogCapture;
using korven_test::SimProcess;

std::vector<uint8_t> pattern(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

std::string hex(const std::vector<uint8_t>& v) {
  static const char* d = "0123456789abcdef";
  std::string s;
  for (uint8_t b : v) {
    s += d[b >> 4];
    s += d[b & 15];
  }
  return s;
}

// What a case's script works with.
struct Ctx {
  NetModule& m;
  LogCapture& log;
  std::vector<std::unique_ptr<SimProcess>>& devices;
  korven_test::FakeClock* clock;
  std::vector<uint32_t> protIds;  // every connect request made through connect()

  unsigned short port(size_t i = 0) { return devices.at(i)->port(); }
  SimProcess& device(size_t i = 0) { return *devices.at(i); }

  void connect(uint32_t protId, unsigned short port, const char* addr = "127.0.0.1", const char* devId = "") {
    protIds.push_back(protId);
    auto req = connectRequest(protId, addr, port, devId);
    m.send(&req, sizeof req);
  }
  // The final answer to a request (waiting for it).
  NetEvent final(uint32_t protId) {
    EXPECT_TRUE(m.waitUntil([&](const std::vector<NetEvent>& ev) { return !connectAnswers(ev, protId, 2).empty(); }))
        << "no final answer for " << protId;
    auto f = connectAnswers(m.events(), protId, 2);
    return f.empty() ? NetEvent{} : f[0];
  }
  uint32_t connectOk(uint32_t protId, unsigned short port) {
    connect(protId, port);
    NetEvent f = final(protId);
    EXPECT_EQ(f.iResult, 0) << "request " << protId;
    return f.dwLogicTcpConnId;
  }
  bool waitReceived(uint32_t logicId, size_t n) {
    return m.waitUntil([&](const std::vector<NetEvent>& ev) { return received(ev, logicId).size() >= n; });
  }
  bool waitDisconnect(uint32_t logicId) {
    return m.waitUntil([&](const std::vector<NetEvent>& ev) { return disconnects(ev, logicId) >= 1; });
  }
  // Gives the engine time to act on something that must have no effect, then ends.
  void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(300)); }
};

struct Case {
  std::string name;
  std::vector<std::vector<std::string>> devices;  // fixture arguments, one list per device
  bool fakeClock;
  std::function<void(Ctx&)> run;
};

const std::vector<Case>& cases() {
  static const std::vector<Case> all = {
      {"ConnectSuccess",
       {{"--mode", "echo"}},
       false,
       [](Ctx& c) {
         c.connect(1, c.port());
         NetEvent f = c.final(1);
         auto ev = c.m.events();
         auto provisional = connectAnswers(ev, 1, 1);
         ASSERT_EQ(provisional.size(), 1u);
         EXPECT_EQ(provisional[0].iMsgType, NPC_D_PVM_NET_MSG_TYPE_RESPONSE);
         EXPECT_NE(provisional[0].dwLogicTcpConnId, 0u);
         EXPECT_EQ(f.dwLogicTcpConnId, provisional[0].dwLogicTcpConnId);
         EXPECT_EQ(f.iResult, 0);
         EXPECT_EQ(f.iConnMode, NPC_D_PVM_NET_CONN_MODE_DIRECT_TCP);
         // The address and port reached are the connection's own peer.
         EXPECT_EQ(f.sReached, "127.0.0.1");
         EXPECT_EQ(f.usReachedPort, c.port());
         EXPECT_TRUE(c.log.contains("Request Establish Direct Logic TCP Connect.[127.0.0.1:"));
         auto dis = disconnectRequest(1, f.dwLogicTcpConnId);
         c.m.send(&dis, sizeof dis);
         EXPECT_TRUE(c.waitDisconnect(f.dwLogicTcpConnId));
       }},
      {"Refusal",
       {},
       false,
       [](Ctx& c) {
         c.connect(1, closedPort());
         NetEvent f = c.final(1);
         EXPECT_EQ(f.iResult, NPC_D_NXTP_CONN_RESULT_NET_FAIL);
         EXPECT_EQ(f.iConnMode, NPC_D_PVM_NET_CONN_MODE_DIRECT_TCP);
         // The answer goes out first, then the line is logged.
         EXPECT_TRUE(korven_test::eventually([&] { return c.log.count("Direct Conn Dev Fail.") == 1; }));
       }},
      {"TimeOutAfter15Seconds",
       {{"--mode", "blackhole"}},
       true,
       [](Ctx& c) {
         c.connect(1, c.port());
         ASSERT_TRUE(c.m.waitUntil([](const std::vector<NetEvent>& ev) { return !connectAnswers(ev, 1, 1).empty(); }));
         c.clock->advance(14000);
         c.settle();
         EXPECT_TRUE(connectAnswers(c.m.events(), 1, 2).empty()) << "answered before 15 s";
         c.clock->advance(1000);
         NetEvent f = c.final(1);
         EXPECT_EQ(f.iResult, NPC_D_NXTP_CONN_RESULT_NET_FAIL);
         EXPECT_TRUE(c.log.contains("TCP Conn TimeOut."));
         EXPECT_TRUE(c.log.waitFor("Direct Conn Dev Fail.", 5000));
       }},
      {"ModuleDisconnect",
       {{"--mode", "echo"}},
       false,
       [](Ctx& c) {
         const uint32_t id = c.connectOk(1, c.port());
         c.m.send(sendData(1, id, {'p', 'i', 'n', 'g'}));
         ASSERT_TRUE(c.waitReceived(id, 4));
         auto dis = disconnectRequest(1, id);
         c.m.send(&dis, sizeof dis);
         EXPECT_TRUE(c.waitDisconnect(id));
         EXPECT_TRUE(c.device().waitFor("DISC ", 10000));  // the socket was closed
         c.settle();
         EXPECT_EQ(disconnects(c.m.events(), id), 1);
       }},
      {"DeviceClose",
       {{"--mode", "stream", "--hex", hex(pattern(5000, 7)), "--chunks", "1,700,13,2048", "--delay-ms", "2",
         "--close-when-done"}},
       false,
       [](Ctx& c) {
         const uint32_t id = c.connectOk(1, c.port());
         EXPECT_TRUE(c.waitDisconnect(id));
         EXPECT_EQ(received(c.m.events(), id), pattern(5000, 7));
       }},
      {"DeviceReset",
       {{"--mode", "echo", "--reset-after", "3"}},
       false,
       [](Ctx& c) {
         const uint32_t id = c.connectOk(1, c.port());
         c.m.send(sendData(1, id, {1, 2, 3}));
         EXPECT_TRUE(c.waitDisconnect(id));
       }},
      {"PortTableFull",
       {{"--mode", "silent"}},
       false,
       [](Ctx& c) {
         // The main UDP port holds slot 0; 255 connections take the rest below 256.
         for (uint32_t p = 1; p <= 255; ++p) c.connect(p, c.port());
         for (uint32_t p = 1; p <= 255; ++p) ASSERT_EQ(c.final(p).iResult, 0) << p;
         c.connect(1000, c.port());
         NetEvent f = c.final(1000);
         EXPECT_EQ(f.iResult, NPC_D_NXTP_CONN_RESULT_SETUP_FAIL);
         EXPECT_TRUE(connectAnswers(c.m.events(), 1000, 1).empty()) << "no provisional answer";
         EXPECT_TRUE(c.log.contains("NPC_F_NXTP_MC_SDDC_SetupDirectDevConnect NPC_F_NXTP_MC_CreateNetPortData fail."));
       }},
      {"DataBothWaysSplitArbitrarily",
       {{"--mode", "echo"}},
       false,
       [](Ctx& c) {
         const uint32_t id = c.connectOk(1, c.port());
         const std::vector<uint8_t> data = pattern(300000, 11);
         std::mt19937 rng(3);
         for (size_t pos = 0; pos < data.size();) {
           const size_t n = std::min<size_t>(1 + rng() % 9000, data.size() - pos);
           c.m.send(sendData(1, id, std::vector<uint8_t>(data.begin() + static_cast<long>(pos),
                                                         data.begin() + static_cast<long>(pos + n))));
           pos += n;
         }
         ASSERT_TRUE(c.waitReceived(id, data.size()));
         EXPECT_EQ(received(c.m.events(), id), data);
         for (const auto& e : c.m.events()) {
           if (e.iMsgId == NET_SEND_DATA) {
             EXPECT_EQ(e.dwChannel, 0u);
           }
         }
         auto dis = disconnectRequest(1, id);
         c.m.send(&dis, sizeof dis);
         EXPECT_TRUE(c.waitDisconnect(id));
       }},
      {"DirectFailureCounter",
       {{"--mode", "echo"}, {"--mode", "blackhole"}},
       false,
       [](Ctx& c) {
         const uint32_t connected = c.connectOk(1, c.port(0));
         c.connect(2, c.port(1));  // stays pending
         ASSERT_TRUE(c.m.waitUntil([](const std::vector<NetEvent>& ev) { return !connectAnswers(ev, 2, 1).empty(); }));
         const unsigned short refused = closedPort();
         for (uint32_t p = 10; p < 13; ++p) {
           c.connect(p, refused);
           EXPECT_EQ(c.final(p).iResult, NPC_D_NXTP_CONN_RESULT_NET_FAIL);
         }
         EXPECT_FALSE(c.log.contains("Direct Conn Dev Fail Num > 3, Reconnect Dev."));
         EXPECT_EQ(disconnects(c.m.events(), connected), 0);
         c.connect(13, refused);  // the fourth failure of the record's life
         EXPECT_EQ(c.final(13).iResult, NPC_D_NXTP_CONN_RESULT_NET_FAIL);
         EXPECT_TRUE(korven_test::eventually([&] { return c.log.count("Direct Conn Dev Fail Num > 3, Reconnect Dev.") == 1; }));
         EXPECT_EQ(c.log.count("Direct Conn Dev Fail."), 4);
         // Every other direct connection went with the record, each reported to its module.
         EXPECT_TRUE(c.waitDisconnect(connected));
         EXPECT_EQ(c.final(2).iResult, NPC_D_NXTP_CONN_RESULT_NET_FAIL);
         // The next request starts a fresh record and works.
         const uint32_t fresh = c.connectOk(20, c.port(0));
         c.m.send(sendData(20, fresh, {9, 9}));
         EXPECT_TRUE(c.waitReceived(fresh, 2));
       }},
      {"StaleIds",
       {{"--mode", "echo"}},
       false,
       [](Ctx& c) {
         const uint32_t old = c.connectOk(1, c.port());
         auto dis = disconnectRequest(1, old);
         c.m.send(&dis, sizeof dis);
         ASSERT_TRUE(c.waitDisconnect(old));
         const uint32_t now = c.connectOk(2, c.port());
         EXPECT_NE(now, old);
         c.log.clear();
         c.m.send(sendData(1, old, {1, 2, 3}));
         c.m.send(&dis, sizeof dis);
         c.m.send(sendData(1, old | 0x80000000u, {1}));
         c.m.send(sendData(2, now, {4, 5}));
         ASSERT_TRUE(c.waitReceived(now, 2));
         EXPECT_EQ(received(c.m.events(), now), (std::vector<uint8_t>{4, 5}));  // the stale send went nowhere
         EXPECT_EQ(c.log.count("NPC_F_NXTP_MC_LOGIC_QueryLogicTcpConnDataByLogicTcpConnId fail."), 3);
         EXPECT_EQ(disconnects(c.m.events(), old), 1);
         EXPECT_EQ(disconnects(c.m.events(), now), 0);
       }},
      {"PortZeroAndP2pAreAnsweredAtOnce",
       {},
       false,
       [](Ctx& c) {
         c.connect(1, 0);
         EXPECT_EQ(c.final(1).iResult, NPC_D_NXTP_CONN_RESULT_SETUP_FAIL);
         EXPECT_TRUE(c.log.contains("NPC_F_NXTP_MC_SDDC_SetupDirectDevConnect i_sMonDevIpaddr or i_usMonDevPort error."));
         c.connect(2, 9000, "127.0.0.1", "DEV-1");
         EXPECT_EQ(c.final(2).iResult, NPC_D_NXTP_CONN_RESULT_SETUP_FAIL);
         EXPECT_TRUE(c.log.contains("Request Establish P2P Dev Connect.[DEV-1]"));
         auto ev = c.m.events();
         EXPECT_TRUE(connectAnswers(ev, 1, 1).empty());
         EXPECT_TRUE(connectAnswers(ev, 2, 1).empty());
       }},
      {"MalformedMessagesAreRefused",
       {{"--mode", "echo"}},
       false,
       [](Ctx& c) {
         const uint32_t id = c.connectOk(1, c.port());
         // A declared length past the message's end.
         auto lying = sendData(1, id, {1, 2, 3, 4});
         const int32_t big = 1 << 20;
         memcpy(lying.data() + offsetof(NPC_S_PVM_NET_MSG_SEND_DATA, iDataLen), &big, 4);
         c.m.send(lying);
         // A response kind, and no data at all.
         auto resp = sendData(1, id, {1});
         NPC_F_PVM_MSG_SetNetResp(resp.data(), static_cast<int64_t>(resp.size()), 0);
         c.m.send(resp);
         auto empty = sendData(1, id, {});
         c.m.send(empty);
         // Messages shorter than their fixed part (with consistent heads), and garbage.
         std::vector<uint8_t> shortConnect(340, 0);
         NPC_S_PVM_NET_MSG_HEAD h = NPC_F_PVM_MSG_NetHead(NET_TCP_CONNECT, 0, 0);
         h.iBodyLen = 320;
         memcpy(shortConnect.data(), &h, sizeof h);
         c.m.send(shortConnect);
         std::vector<uint8_t> shortDisconnect(24, 0);
         h = NPC_F_PVM_MSG_NetHead(NET_TCP_DISCONNECT, 0, 0);
         h.iBodyLen = 4;
         memcpy(shortDisconnect.data(), &h, sizeof h);
         c.m.send(shortDisconnect);
         c.m.send(std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
         // The connection is untouched and still carries data.
         c.m.send(sendData(1, id, {7, 7, 7}));
         ASSERT_TRUE(c.waitReceived(id, 3));
         EXPECT_EQ(received(c.m.events(), id), (std::vector<uint8_t>{7, 7, 7}));
         EXPECT_TRUE(c.log.contains("NPC_F_NXTP_MC_WPVM_DoProtEvent_NET_SEND_DATA iDataLen 1048576 > iSjDataLen 4."));
         EXPECT_TRUE(c.log.contains(
             "提示：NPC_F_NXTP_MC_WPVM_DoProtEvent_NET_SEND_DATA iMsgType != NPC_D_PVM_NET_MSG_TYPE_REQUEST."));
         EXPECT_TRUE(c.log.contains("NPC_F_NXTP_MC_WPVM_DoProtEvent_NET_SEND_DATA iSjDataLen <= 0."));
         EXPECT_TRUE(c.log.contains("NPC_F_NXTP_MC_WPVM_DoProtEvent_NET_TCP_CONNECT iMsgLen 340 < 344."));
         EXPECT_TRUE(c.log.contains("NPC_F_NXTP_MC_WPVM_DoProtEvent_NET_TCP_DISCONNECT iMsgLen 24 < 28."));
         EXPECT_TRUE(c.log.contains("NPC_F_NXTP_MC_WPVM_DoVendorProtEvent NPC_F_PVM_MSG_ReadNetMsg fail."));
         EXPECT_EQ(disconnects(c.m.events(), id), 0);
       }},
  };
  return all;
}

// Cases print as their names.
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class DirectConnect : public ::testing::TestWithParam<Case> {};

TEST_P(DirectConnect, ExactlyOneFinalAnswerPerRequest) {
  const Case& tc = GetParam();
  LogCapture log;
  std::unique_ptr<korven_test::FakeClock> clock;
  if (tc.fakeClock) clock = std::make_unique<korven_test::FakeClock>();
  std::vector<std::unique_ptr<SimProcess>> devices;
  for (const auto& args : tc.devices) {
    devices.push_back(std::make_unique<SimProcess>("sim.tcp_device", args));
    ASSERT_TRUE(devices.back()->ok()) << "device fixture did not start";
  }
  {
    Engine engine;
    ASSERT_TRUE(engine.ok());
    Ctx c{engine.module(), log, devices, clock.get(), {}};
    tc.run(c);
    // Every request had exactly one final answer; one that failed was never disconnected.
    const auto ev = c.m.events();
    for (uint32_t p : c.protIds) {
      auto finals = connectAnswers(ev, p, 2);
      ASSERT_EQ(finals.size(), 1u) << "request " << p;
      EXPECT_LE(connectAnswers(ev, p, 1).size(), 1u) << "request " << p;
      const int dis = finals[0].dwLogicTcpConnId ? disconnects(ev, finals[0].dwLogicTcpConnId) : 0;
      if (finals[0].iResult != 0) {
        EXPECT_EQ(dis, 0) << "request " << p;
      } else {
        EXPECT_LE(dis, 1) << "request " << p;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, DirectConnect, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });

}  // namespace
