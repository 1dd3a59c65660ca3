// The protocol bus engine with fake modules: registration in table order and its failure, order
// routing (unknown vendors, the server orders), settings, the once-a-second step on the
// monotonic clock, module callbacks from a module's own thread, and the ordered stop.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "bus/nxtp_mc.h"
#include "bus/pvm_msg.h"
#include "bus_harness.h"
#include "fake_module.h"
#include "test_support.h"

namespace {

using korven_test::LogCapture;

std::vector<uint8_t> request(int32_t iMsgId, uint32_t transId, uint32_t vendor, std::vector<uint8_t> body) {
  std::vector<uint8_t> m;
  NPC_F_PVM_MSG_BuildRequest(&m, iMsgId, transId, vendor, body.data(), body.size());
  return m;
}

NPC_S_PVM_ORDER_MSG_HEAD headOf(const std::vector<uint8_t>& m) {
  NPC_S_PVM_ORDER_MSG_HEAD h{};
  memcpy(&h, m.data(), sizeof h);
  return h;
}

TEST(BusEngine, LocalPortZeroPicksThePortRangeAndSettingsHaveTheirDefaults) {
  LogCapture log;
  auto p = harness::params(nullptr);
  NPC_H_NXTP_MC bus = NPC_F_NXTP_CreateProtocolBusServerEx(&p);
  ASSERT_NE(bus, nullptr);
  const unsigned port = NPC_F_NXTP_MC_GetLocalUdpPort(bus);
  EXPECT_GE(port, 20032u);
  EXPECT_LE(port, 30031u);

  NPC_S_NXTP_SETTINGS s;
  ASSERT_EQ(NPC_F_NXTP_MC_GetSettings(bus, &s), 1);
  EXPECT_EQ(s.iIdleDevP2pConnTimeout, 600);
  EXPECT_EQ(s.iNetActionMsgTime, 10);
  EXPECT_EQ(s.iNicState, 1);
  EXPECT_EQ(s.iUdpTransConn, 0);
  EXPECT_EQ(s.iLocalUdpTimeout, 5);
  EXPECT_EQ(s.iEncryptType, 2);

  struct Case {
    int (*set)(NPC_H_NXTP_MC, int);
    int given;
    int stored;
    int NPC_S_NXTP_SETTINGS::*field;
  };
  const Case cases[] = {
      {&NPC_F_NXTP_SetIdleDevP2pConnTimeout, 2, 3, &NPC_S_NXTP_SETTINGS::iIdleDevP2pConnTimeout},
      {&NPC_F_NXTP_SetIdleDevP2pConnTimeout, 3, 3, &NPC_S_NXTP_SETTINGS::iIdleDevP2pConnTimeout},
      {&NPC_F_NXTP_SetIdleDevP2pConnTimeout, 4, 4, &NPC_S_NXTP_SETTINGS::iIdleDevP2pConnTimeout},
      {&NPC_F_NXTP_SetNetActionMsgTime, 0, 10, &NPC_S_NXTP_SETTINGS::iNetActionMsgTime},
      {&NPC_F_NXTP_SetNetActionMsgTime, -5, 10, &NPC_S_NXTP_SETTINGS::iNetActionMsgTime},
      {&NPC_F_NXTP_SetNetActionMsgTime, 7, 7, &NPC_S_NXTP_SETTINGS::iNetActionMsgTime},
      {&NPC_F_NXTP_SetNicState, 0, 0, &NPC_S_NXTP_SETTINGS::iNicState},
      {&NPC_F_NXTP_SetUdpTransConn, 1, 1, &NPC_S_NXTP_SETTINGS::iUdpTransConn},
      {&NPC_F_NXTP_SetConnectSpecServer, 1, 1, &NPC_S_NXTP_SETTINGS::iConnectSpecServer},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.set(bus, c.given), 1);
    NPC_F_NXTP_MC_GetSettings(bus, &s);
    EXPECT_EQ(s.*c.field, c.stored) << "given " << c.given;
  }
  EXPECT_EQ(NPC_F_NXTP_SetPrivateTrans(bus, 4, 5), 0);
  EXPECT_EQ(NPC_F_NXTP_SetPrivateTrans(nullptr, 4, 5), NPC_D_NXTP_SET_FAIL);
  EXPECT_EQ(NPC_F_NXTP_SetUserClientInfo(bus, "user-7", 9, "text"), 1);
  NPC_F_NXTP_MC_GetSettings(bus, &s);
  EXPECT_EQ(s.bUserClientInfoSet, 1);
  EXPECT_STREQ(s.sUserId, "user-7");

  char ident[64];
  EXPECT_EQ(NPC_F_NXTP_GetServerFlag(bus, ident, sizeof ident), 1);
  EXPECT_STREQ(ident, "client-ident-1");
  // No server login runs: its attempt counts as ended, and nothing about a server is known.
  EXPECT_NE(NPC_F_NXTP_CheckIfLoginServerOver(bus), 0);
  EXPECT_EQ(NPC_F_NXTP_QueryServerConnState(bus), 0);
  char addr[32];
  unsigned short srvPort = 1;
  EXPECT_EQ(NPC_F_NXTP_GetAuthSrvAddr(bus, addr, sizeof addr, &srvPort), 0);
  EXPECT_EQ(NPC_F_NXTP_GetServerIpaddr(bus, addr, sizeof addr), 0);
  NPC_F_NXTP_DestroyProtocolBusServer(bus);
  EXPECT_TRUE(log.contains("iQuitState is 1."));
}

TEST(BusEngine, NoServerAddressReportsStateTwo) {
  LogCapture log;
  auto p = harness::params(nullptr, nullptr, NPC_D_NXTP_NO_SERVER_IPADDR);
  NPC_H_NXTP_MC bus = NPC_F_NXTP_CreateProtocolBusServerEx(&p);
  ASSERT_NE(bus, nullptr);
  EXPECT_EQ(NPC_F_NXTP_QueryServerConnState(bus), 2);
  NPC_F_NXTP_DestroyProtocolBusServer(bus);
}

TEST(BusEngine, ModulesRegisterInTableOrderAndAreReleasedInOrder) {
  LogCapture log;
  fake::World& w = fake::World::get();
  const NPC_S_NXTP_MODULE_ENTRY entries[] = {fake::entry(1007, "HMCP"), fake::entry(2060, "HZXM"),
                                             fake::entry(1009, "QXSP", true)};
  const NPC_S_NXTP_MODULE_TABLE table = {entries, 3};
  auto p = harness::params(&table);
  p.iEncryptType = 6;
  NPC_H_NXTP_MC bus = NPC_F_NXTP_CreateProtocolBusServerEx(&p);
  ASSERT_NE(bus, nullptr);
  // The module that takes the encryption type got the creation value right after registration.
  EXPECT_EQ(w.encryptType.load(), 6);
  EXPECT_TRUE(korven_test::eventually([&] { return w.timerCalls.load() >= 3; }));
  NPC_F_NXTP_DestroyProtocolBusServer(bus);
  const std::vector<std::string> expected = {"init 1007",   "init 2060",    "init 1009",   "uninit 1007",
                                             "destroy 1007", "uninit 2060", "destroy 2060", "uninit 1009",
                                             "destroy 1009"};
  EXPECT_EQ(w.eventList(), expected);
}

TEST(BusEngine, AModuleFailingItsInitFailsTheStartAndTheStopReleasesThoseBefore) {
  LogCapture log;
  fake::World& w = fake::World::get();
  w.config(2060).failInit = true;
  const NPC_S_NXTP_MODULE_ENTRY entries[] = {fake::entry(1007, "HMCP"), fake::entry(2060, "HZXM"),
                                             fake::entry(2140, "GZQH")};
  const NPC_S_NXTP_MODULE_TABLE table = {entries, 3};
  auto p = harness::params(&table);
  EXPECT_EQ(NPC_F_NXTP_CreateProtocolBusServerEx(&p), nullptr);
  const std::vector<std::string> expected = {"init 1007", "init 2060", "destroy 2060", "uninit 1007", "destroy 1007"};
  EXPECT_EQ(w.eventList(), expected);
  EXPECT_TRUE(log.contains("NPC_F_NXTP_MC_AddVendorAndInit NPC_F_PVM_InitDevProtocolModule fail."));
  EXPECT_TRUE(log.contains("NPC_F_NXTP_MC_InitVendorModule NPC_F_NXTP_MC_AddVendorAndInit HZXM fail."));
  EXPECT_TRUE(log.contains("NPC_F_NXTP_MC_StartProtocolBusServer NPC_F_NXTP_MC_InitVendorModule fail."));
  EXPECT_TRUE(log.contains("NPC_F_NXTP_CreateProtocolBusServer NPC_F_NXTP_MC_StartProtocolBusServer fail."));
}

TEST(BusEngine, EncryptTypeGoesToTheModuleThatTakesIt) {
  LogCapture log;
  fake::World& w = fake::World::get();
  const NPC_S_NXTP_MODULE_ENTRY withQxsp[] = {fake::entry(1009, "QXSP", true)};
  const NPC_S_NXTP_MODULE_TABLE t1 = {withQxsp, 1};
  auto p = harness::params(&t1);
  NPC_H_NXTP_MC bus = NPC_F_NXTP_CreateProtocolBusServerEx(&p);
  ASSERT_NE(bus, nullptr);
  EXPECT_EQ(NPC_F_NXTP_SetEncryptType(bus, 0), 0);
  EXPECT_EQ(w.encryptType.load(), 0);
  EXPECT_TRUE(log.contains("Set Protocol Bus Encrypt Type [0]"));
  NPC_F_NXTP_DestroyProtocolBusServer(bus);

  const NPC_S_NXTP_MODULE_ENTRY withoutQxsp[] = {fake::entry(1007, "HMCP")};
  const NPC_S_NXTP_MODULE_TABLE t2 = {withoutQxsp, 1};
  p = harness::params(&t2);
  bus = NPC_F_NXTP_CreateProtocolBusServerEx(&p);
  ASSERT_NE(bus, nullptr);
  EXPECT_EQ(NPC_F_NXTP_SetEncryptType(bus, 2), NPC_D_NXTP_SET_FAIL);
  EXPECT_EQ(NPC_F_NXTP_SetEncryptType(nullptr, 2), NPC_D_NXTP_SET_FAIL);
  NPC_F_NXTP_DestroyProtocolBusServer(bus);
}

// An order whose vendor has no module is dropped with the lookup line and no answer.
TEST(BusEngine, OrdersForUnknownVendorsAreDroppedWithTheLookupLine) {
  const NPC_S_NXTP_MODULE_ENTRY entries[] = {fake::entry(1009, "QXSP")};
  const NPC_S_NXTP_MODULE_TABLE table = {entries, 1};
  for (uint32_t vendor : {4242u, 0u}) {
    LogCapture log;
    harness::Upper upper;
    auto p = harness::params(&table, &upper);
    NPC_H_NXTP_MC bus = NPC_F_NXTP_CreateProtocolBusServerEx(&p);
    ASSERT_NE(bus, nullptr);
    auto m = request(ORDER_CAMERA_DISCONNECT, 0x80000001u, vendor, {1, 0, 0, 0});
    ASSERT_EQ(NPC_F_NXTP_SendMsgData(bus, m.data(), static_cast<int>(m.size()), 1000), 1);
    EXPECT_TRUE(log.waitFor("NPC_F_NXTP_MC_DoMsgQueue NPC_F_NXTP_MC_SendOrderDataToProtocol fail.", 5000));
    EXPECT_TRUE(log.contains("NPC_F_NXTP_MC_SendOrderDataToProtocol NPC_F_NXTP_MC_QueryVendorDataByVendorId fail."));
    // A known vendor still gets its orders; the dropped one produced nothing.
    auto ok = request(ORDER_CAMERA_DISCONNECT, 0x80000002u, 1009, {1, 0, 0, 0});
    ASSERT_EQ(NPC_F_NXTP_SendMsgData(bus, ok.data(), static_cast<int>(ok.size()), 1000), 1);
    ASSERT_TRUE(upper.waitCount(1));
    NPC_F_NXTP_DestroyProtocolBusServer(bus);
    ASSERT_EQ(upper.list().size(), 1u);
    EXPECT_EQ(headOf(upper.list()[0]).dwTransId, 0x80000002u);
  }
}

// The server orders are the engine's own: checked, and without a server link answered in place
// with "not sent"; parameters out of range give result 1.
TEST(BusEngine, ServerOrdersWithoutALinkAreAnsweredNotSent) {
  auto queryBody = [](int32_t count, int entries) {
    std::vector<uint8_t> b(8 + 36 * static_cast<size_t>(entries));
    memcpy(b.data(), &count, 4);
    return b;
  };
  auto transBody = [](const char* dev, int32_t n, int data) {
    std::vector<uint8_t> b(72 + static_cast<size_t>(data), 'x');
    memset(b.data(), 0, 72);
    memcpy(b.data(), dev, strlen(dev));
    memcpy(b.data() + 68, &n, 4);
    return b;
  };
  struct Case {
    const char* name;
    int32_t iMsgId;
    std::vector<uint8_t> body;
    int32_t result;
  };
  const std::vector<Case> cases = {
      {"query one", ORDER_SRV_QUERY_DEV_STATE, queryBody(1, 1), NPC_D_NXTP_SRV_ORDER_RESULT_NOT_SENT},
      {"query zero", ORDER_SRV_QUERY_DEV_STATE, queryBody(0, 0), NPC_D_NXTP_SRV_ORDER_RESULT_PARAM_ERROR},
      {"query 10001", ORDER_SRV_QUERY_DEV_STATE, queryBody(10001, 1), NPC_D_NXTP_SRV_ORDER_RESULT_PARAM_ERROR},
      {"query count past body", ORDER_SRV_QUERY_DEV_STATE, queryBody(3, 2), NPC_D_NXTP_SRV_ORDER_RESULT_PARAM_ERROR},
      {"trans", ORDER_SRV_TRANS_DATA_TO_DEV, transBody("dev1", 4, 4), NPC_D_NXTP_SRV_ORDER_RESULT_NOT_SENT},
      {"trans empty id", ORDER_SRV_TRANS_DATA_TO_DEV, transBody("", 4, 4), NPC_D_NXTP_SRV_ORDER_RESULT_PARAM_ERROR},
      {"trans 131073", ORDER_SRV_TRANS_DATA_TO_DEV, transBody("dev1", 131073, 131073),
       NPC_D_NXTP_SRV_ORDER_RESULT_PARAM_ERROR},
      {"trans length past body", ORDER_SRV_TRANS_DATA_TO_DEV, transBody("dev1", 9, 4),
       NPC_D_NXTP_SRV_ORDER_RESULT_PARAM_ERROR},
  };
  harness::Upper upper;
  auto p = harness::params(nullptr, &upper);
  NPC_H_NXTP_MC bus = NPC_F_NXTP_CreateProtocolBusServerEx(&p);
  ASSERT_NE(bus, nullptr);
  for (size_t i = 0; i < cases.size(); ++i) {
    auto m = request(cases[i].iMsgId, 0x80000100u + static_cast<uint32_t>(i), 0, cases[i].body);
    ASSERT_EQ(NPC_F_NXTP_SendMsgData(bus, m.data(), static_cast<int>(m.size()), 1000), 1);
  }
  ASSERT_TRUE(upper.waitCount(cases.size()));
  NPC_F_NXTP_DestroyProtocolBusServer(bus);
  auto got = upper.list();
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    const auto h = headOf(got[i]);
    EXPECT_EQ(h.dwTransId, 0x80000100u + i);
    EXPECT_EQ(h.iMsgType, NPC_D_PVM_ORDER_MSG_TYPE_RESPONSE);
    EXPECT_EQ(h.iResult, cases[i].result);
    EXPECT_EQ(h.dwVendorId, 0u);
    EXPECT_EQ(got[i].size(), 24 + cases[i].body.size());  // answered in place, same layout
  }
}

// The once-a-second step follows the monotonic tick: a wall clock stepped back does not stop
// it, and a fake-clock advance wakes the loop at once.
TEST(BusEngine, SecondTickFollowsTheMonotonicClock) {
  LogCapture log;
  korven_test::FakeClock clock;
  std::atomic<int> ticks{0};
  auto p = harness::params(nullptr);
  p.fnSecondCallback = [](void* u) { static_cast<std::atomic<int>*>(u)->fetch_add(1); };
  p.pSecondUser = &ticks;
  NPC_H_NXTP_MC bus = NPC_F_NXTP_CreateProtocolBusServerEx(&p);
  ASSERT_NE(bus, nullptr);
  ASSERT_TRUE(korven_test::eventually([&] { return ticks.load() == 1; }));
  clock.advance(999);
  clock.advance(1);
  ASSERT_TRUE(korven_test::eventually([&] { return ticks.load() == 2; }));
  clock.setWall(1700000000 - 3600);  // the wall clock steps back an hour
  clock.advance(1000);
  EXPECT_TRUE(korven_test::eventually([&] { return ticks.load() == 3; }));
  clock.advance(5000);  // a jump gives one tick, not a burst
  EXPECT_TRUE(korven_test::eventually([&] { return ticks.load() == 4; }));
  NPC_F_NXTP_DestroyProtocolBusServer(bus);
  EXPECT_EQ(ticks.load(), 4);
}

// A module answering from its own thread: its events wait for queue room and wake the loop.
TEST(BusEngine, AModuleCallingBackFromItsOwnThreadIsHeard) {
  LogCapture log;
  fake::World& w = fake::World::get();
  w.config(1009).mode = fake::Mode::OwnThread;
  const NPC_S_NXTP_MODULE_ENTRY entries[] = {fake::entry(1009, "QXSP")};
  const NPC_S_NXTP_MODULE_TABLE table = {entries, 1};
  harness::Upper upper;
  auto p = harness::params(&table, &upper);
  NPC_H_NXTP_MC bus = NPC_F_NXTP_CreateProtocolBusServerEx(&p);
  ASSERT_NE(bus, nullptr);
  std::vector<std::thread> senders;
  for (int t = 0; t < 4; ++t)
    senders.emplace_back([&, t] {
      for (uint32_t i = 0; i < 50; ++i) {
        auto m = request(ORDER_CAMERA_DISCONNECT, 0x80000000u | (static_cast<uint32_t>(t) << 8) | i, 1009, {0, 0, 0, 0});
        NPC_F_NXTP_SendMsgData(bus, m.data(), static_cast<int>(m.size()), 1000);
      }
    });
  for (auto& s : senders) s.join();
  EXPECT_TRUE(upper.waitCount(200));
  NPC_F_NXTP_DestroyProtocolBusServer(bus);
  EXPECT_EQ(upper.list().size(), 200u);
}

// Stop while the loop is busy and orders are still queued: the loop stops draining, the queued
// orders are freed with the queue, and every module is released.
TEST(BusEngine, StopWithOrdersStillQueued) {
  LogCapture log;
  fake::World& w = fake::World::get();
  w.config(1009).mode = fake::Mode::Block;
  const NPC_S_NXTP_MODULE_ENTRY entries[] = {fake::entry(1009, "QXSP")};
  const NPC_S_NXTP_MODULE_TABLE table = {entries, 1};
  auto p = harness::params(&table);
  NPC_H_NXTP_MC bus = NPC_F_NXTP_CreateProtocolBusServerEx(&p);
  ASSERT_NE(bus, nullptr);
  auto first = request(ORDER_CAMERA_DISCONNECT, 0x80000001u, 1009, {0, 0, 0, 0});
  ASSERT_EQ(NPC_F_NXTP_SendMsgData(bus, first.data(), static_cast<int>(first.size()), 1000), 1);
  ASSERT_TRUE(w.waitBlocked(5000));
  for (uint32_t i = 0; i < 100; ++i) {
    auto m = request(ORDER_CAMERA_DISCONNECT, 0x80000010u + i, 1009, std::vector<uint8_t>(1000, 7));
    ASSERT_EQ(NPC_F_NXTP_SendMsgData(bus, m.data(), static_cast<int>(m.size()), 1000), 1);
  }
  std::thread stopper([&] { NPC_F_NXTP_DestroyProtocolBusServer(bus); });
  // The stop asks the loop to quit; the loop is held in the module, so the quit is seen only
  // after the gate opens, and then nothing more is drained.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  w.openGate();
  stopper.join();
  EXPECT_LT(w.orderCount(), 101);
  const auto events = w.eventList();
  EXPECT_EQ(events.back(), "destroy 1009");
}

}  // namespace

namespace {

// The production table lists the modules that exist in the fixed registration order, each under
// its own vendor id and name.
TEST(BusEngine, ProductionModuleTableFollowsTheVendorOrder) {
  const NPC_S_NXTP_MODULE_TABLE* table = NPC_F_NXTP_GetModuleTable();
  ASSERT_NE(table, nullptr);
  int descNum = 0;
  const NPC_S_PVM_VENDOR_DESC* descs = NPC_F_PVM_GetVendorDescTable(&descNum);
  int next = 0;  // the first descriptor an entry may still match
  for (int i = 0; i < table->iEntryNum; ++i) {
    const NPC_S_NXTP_MODULE_ENTRY& e = table->pEntries[i];
    int found = -1;
    for (int d = next; d < descNum && found < 0; ++d)
      if (descs[d].dwVendorId == e.dwVendorId) found = d;
    ASSERT_GE(found, 0) << "vendor " << e.dwVendorId << " out of order or unknown";
    EXPECT_STREQ(e.sName, descs[found].sName);
    EXPECT_NE(e.pfnCreate, nullptr);
    EXPECT_NE(e.pfnDestroy, nullptr);
    EXPECT_EQ(e.pfnSetEncryptType != nullptr, (descs[found].dwCapFlags & NPC_D_PVM_CAP_ENCRYPT_TYPE) != 0);
    next = found + 1;
  }
}

}  // namespace
