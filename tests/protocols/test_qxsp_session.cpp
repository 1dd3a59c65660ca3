// The QXSP module's session against a fake engine and the fake clock: camera connect and the
// login (plain, short form, custom ids, encrypted), the failures and their codes, every login
// state's time-out, keep-alive, connection loss of each kind and recovery, device sharing, the
// orders 514 to 516, framing of received bytes and transaction answers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "net/packet_ed.h"
#include "qxsp_fixture.h"
#include "runtime/clock.h"

// Reaches the flows that later features start.
class NPC_C_PVM_DP_QXSP_TestPeer {
 public:
  using M = NPC_C_PVM_DP_QXSP_Protocol;
  // A media connection for a camera, as live view opens one; its module id.
  static uint32_t startMedia(M& m, uint32_t camId, int type) {
    NPC_C_PVM_DP_ModuleCore::NPC_C_PVM_DP_OpScope scope(&m);
    M::Dev* dev = nullptr;
    M::Cam* cam = m.FindCamera(camId, &dev);
    if (!cam) return 0;
    M::Conn* c = m.NPC_F_PVM_QXSP_StartMediaConn(dev, cam, type);
    return c ? c->dwLogicConnId : 0;
  }
  // Keeps an order as the camera's pending order.
  static void keepPending(M& m, uint32_t camId, const std::vector<uint8_t>& order) {
    M::Cam* cam = m.FindCamera(camId);
    ASSERT_NE(cam, nullptr);
    ASSERT_EQ(cam->tRequ.Keep(order.data(), static_cast<int>(order.size())), 1);
  }
  // Puts a camera back into the connecting state with a pending order.
  static void setConnecting(M& m, uint32_t camId, const std::vector<uint8_t>& order) {
    keepPending(m, camId, order);
    m.FindCamera(camId)->iConnState = NPC_D_PVM_DP_CAMERA_CONN_STATE_CONNECTING;
  }
  // A transaction holding an order; its id.
  static uint32_t createTrans(M& m, const std::vector<uint8_t>& order) {
    NPC_C_PVM_DP_ModuleCore::NPC_C_PVM_DP_OpScope scope(&m);
    NPC_S_PVM_DP_TRANS_DATA* t = m.CreateTrans(7, order.data(), static_cast<int>(order.size()), NPC_F_SYS_GetWallTime());
    return t ? t->dwTransId : 0;
  }
};

namespace qxsp_test {
namespace {

using Peer = NPC_C_PVM_DP_QXSP_TestPeer;

const std::string kParam = QxspSession::param("", "192.0.2.10", 8000, "admin", "admin123", 1, 0);
const char kToken[] = "5f3c9a1e-token";

// ---------------------------------------------------------------------------------------------
// Login.

TEST_F(QxspSession, PlainLoginFromConnectToAnswer) {
  ConnectOpts o;
  o.connectMode = 5;
  uint32_t trans = connect(0x00010001, QxspSession::param("DEV-1", "192.0.2.10", 8000, "admin", "admin123", 1, 0), o);
  auto reqs = connReqs();
  ASSERT_EQ(reqs.size(), 1u);
  EXPECT_EQ(reqs[0].sDevId, "DEV-1");
  EXPECT_EQ(reqs[0].sAddr, "192.0.2.10");
  EXPECT_EQ(reqs[0].usPort, 8000);
  EXPECT_EQ(reqs[0].ucFlags & 0x07, 5);  // the connect mode of the order
  const uint32_t orderId = reqs[0].dwModuleId;
  EXPECT_EQ(resultOf(trans), -1);

  accept(orderId, 0x300001);
  auto pkts = sent(orderId);
  ASSERT_EQ(pkts.size(), 1u);
  ASSERT_EQ(pkts[0].size(), 112u);
  EXPECT_EQ(u16At(pkts[0], 8), 0x0101);
  EXPECT_EQ(u16At(pkts[0], 44), 4);
  EXPECT_EQ(u16At(pkts[0], 20), 0x0101);
  EXPECT_EQ(u16At(pkts[0], 26), 0x0201);
  EXPECT_EQ(pkts[0][109], 0);  // no encryption offered

  feed(orderId, 0x300001, consultAnswer(0x0214, kToken));
  pkts = sent(orderId);
  ASSERT_EQ(pkts.size(), 2u);
  ASSERT_EQ(pkts[1].size(), 548u);
  EXPECT_EQ(u16At(pkts[1], 8), 0x0102);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(pkts[1].data() + 20)), "admin");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(pkts[1].data() + 52)), "32b93f03fdffa28b90eb774c2332b336");
  EXPECT_EQ(resultOf(trans), -1);

  feed(orderId, 0x300001, loginAnswer(0, 0xABCD0001, false, 16));
  EXPECT_EQ(resultOf(trans), 0);
  const auto* dev = mod.NPC_F_PVM_QXSP_QueryDevByCamera(0x00010001);
  ASSERT_NE(dev, nullptr);
  EXPECT_EQ(dev->iDevLoginState, NPC_D_PVM_DP_QXSP_DEV_LOGIN_STATE_LOGINED);
  EXPECT_EQ(dev->dwLoginId, 0xABCD0001u);
  EXPECT_EQ(dev->usProVersion, 0x0214);
  EXPECT_EQ(dev->ucChannelInfo[0], 16);
  EXPECT_STREQ(dev->sLoginText1, "V2.14");
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_QueryCamera(0x00010001)->iConnState, NPC_D_PVM_DP_CAMERA_CONN_STATE_CONNECTED);
  // The answer is the order itself turned into a response.
  auto a = answersTo(trans);
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(a[0].iMsgId, ORDER_CAMERA_CONNECT);
  EXPECT_EQ(a[0].body.size(), sizeof(NPC_S_PVM_ORDER_BODY_CAMERA_CONNECT));
  // Nothing in the log carries the password or the digest.
  for (const auto& l : log.lines()) {
    EXPECT_EQ(l.text.find("admin123"), std::string::npos) << l.text;
    EXPECT_EQ(l.text.find("32b93f03"), std::string::npos) << l.text;
  }
}

// Which login message goes out and with which digest, by version, login mode, client flag and
// custom id (digests from make_qxsp_vectors.py).
TEST_F(QxspSession, LoginMessageAndDigestByVersionModeFlagAndCustomId) {
  struct Case {
    const char* what;
    uint16_t version;
    uint8_t loginMode;
    int clientFlag;
    std::string customId;
    int customNum;
    uint16_t wantNum;
    const char* wantDigest;
  };
  const Case cases[] = {
      {"plain", 0x0214, 0, 0, "", 0, 0x0102, "32b93f03fdffa28b90eb774c2332b336"},
      {"client flag 10", 0x0214, 0, 10, "", 0, 0x0102, "682be7a350c6083e2542b213dfcb90a6"},
      {"login mode 1", 0x0103, 1, 0, "", 0, 0x0102, "682be7a350c6083e2542b213dfcb90a6"},
      {"sorvanet at 0x0101", 0x0101, 1, 10, "sorvanet", 0, 0x0102, "b59c770f1cbaa00c1bace25eb088042d"},
      {"sorvanet at 0x0102", 0x0102, 0, 0, "sorvanet", 0, 0x0102, "32b93f03fdffa28b90eb774c2332b336"},
      {"custom data at 0x0213", 0x0213, 0, 0, "", 3, 0x0105, "32b93f03fdffa28b90eb774c2332b336"},
      {"custom data at 0x0212", 0x0212, 0, 0, "", 3, 0x0102, "32b93f03fdffa28b90eb774c2332b336"},
  };
  uint32_t cam = 0x00020000;
  uint32_t engineId = 0x500000;
  for (const Case& c : cases) {
    ++cam;
    ++engineId;
    ConnectOpts o;
    o.clientFlag = c.clientFlag;
    o.customId = c.customId;
    o.customNum = c.customNum;
    o.customData = "LOGIN-DATA";
    size_t before = connReqs().size();
    connect(cam, QxspSession::param("", "192.0.2." + std::to_string(cam & 0xFF), 8000, "admin", "admin123"), o);
    ASSERT_EQ(connReqs().size(), before + 1) << c.what;
    uint32_t orderId = connReqs()[before].dwModuleId;
    accept(orderId, engineId);
    feed(orderId, engineId, consultAnswer(c.version, kToken, c.loginMode));
    auto pkts = sent(orderId);
    ASSERT_EQ(pkts.size(), 2u) << c.what;
    const auto& login = pkts[1];
    EXPECT_EQ(u16At(login, 8), c.wantNum) << c.what;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(login.data() + 52)), c.wantDigest) << c.what;
    if (c.wantNum == 0x0105) {
      ASSERT_EQ(login.size(), 556u + 10) << c.what;
      EXPECT_EQ(u32At(login, 308), 3u);
      EXPECT_EQ(u32At(login, 312), 10u);
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(login.data() + 556), 10), "LOGIN-DATA");
    } else {
      EXPECT_EQ(login.size(), 548u) << c.what;
    }
  }
}

TEST_F(QxspSession, CustomLoginAnswerAndRqvlSpeedControl) {
  ConnectOpts o;
  o.customId = "rqvl";
  o.customNum = 1;
  o.customData = "x";
  uint32_t trans = connect(1, kParam, o);
  uint32_t orderId = connReqs()[0].dwModuleId;
  accept(orderId, 7);
  feed(orderId, 7, consultAnswer(0x0214, kToken));
  feed(orderId, 7, loginAnswer(0, 0x77, true));
  EXPECT_EQ(resultOf(trans), 0);
  const auto* dev = mod.NPC_F_PVM_QXSP_QueryDevByCamera(1);
  ASSERT_NE(dev, nullptr);
  EXPECT_EQ(dev->dwLoginId, 0x77u);
  EXPECT_EQ(dev->iAbility[3], 1);
  EXPECT_TRUE(log.contains("[RQVL]Force Open Speed Control Enable."));

  // Below 0x0214 the capability is the device's.
  ConnectOpts o2;
  o2.customId = "rqvl";
  login(2, QxspSession::param("", "192.0.2.99", 8000, "admin", "x"), 8, o2, 0x0213);
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_QueryDevByCamera(2)->iAbility[3], 0);
}

// With the bus's encryption type 2 the consult offers it; the device agrees, so the login goes
// out encrypted while the consult and the heartbeats stay plain, and an encrypted login answer is
// taken.
TEST_F(QxspSession, EncryptedLogin) {
  mod.NPC_F_PVM_QXSP_SetEncryptType(2);
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_GetConsultOption(), 2);
  uint32_t trans = connect(1, kParam);
  uint32_t orderId = connReqs()[0].dwModuleId;
  accept(orderId, 9);
  ASSERT_EQ(sent(orderId)[0][109], 2);
  feed(orderId, 9, consultAnswer(0x0214, kToken, 0, 2));
  auto raw = sent(orderId, true);
  ASSERT_EQ(raw.size(), 2u);
  EXPECT_EQ(raw[0][16], 0);  // the consult is plain
  EXPECT_EQ(raw[1][16], 2);  // the login is encrypted: Base64 text of 528 bytes and a NUL
  EXPECT_EQ(raw[1].size(), 20u + 4 * 176 + 1);
  EXPECT_EQ(u32At(raw[1], 4), raw[1].size());
  auto plain = sent(orderId);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(plain[1].data() + 52)), "32b93f03fdffa28b90eb774c2332b336");

  std::vector<uint8_t> answer = loginAnswer(0, 0x99);
  unsigned char* enc = nullptr;
  int encLen = 0;
  ASSERT_EQ(NPC_F_ED_EncQxspPacket(answer.data(), static_cast<int>(answer.size()), 2, &enc, &encLen), 1);
  ASSERT_NE(enc, nullptr);
  std::vector<uint8_t> encAnswer(enc, enc + encLen);
  NPC_F_ED_ReleasePacket(enc);
  feed(orderId, 9, encAnswer);
  EXPECT_EQ(resultOf(trans), 0);
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_QueryDevByCamera(1)->dwLoginId, 0x99u);

  tick();
  raw = sent(orderId, true);
  ASSERT_EQ(raw.size(), 3u);
  EXPECT_EQ(u16At(raw[2], 8), 0x0001);
  EXPECT_EQ(raw[2][16], 0);  // heartbeats stay plain
}

// A device that agrees on an encryption type other than 0 and 2 cannot be logged in to: the
// camera is answered 1001 at once rather than after the login time-out.
TEST_F(QxspSession, UnknownEncryptionTypeFailsTheLogin) {
  uint32_t trans = connect(1, kParam);
  uint32_t orderId = connReqs()[0].dwModuleId;
  accept(orderId, 9);
  feed(orderId, 9, consultAnswer(0x0214, kToken, 0, 1));
  EXPECT_EQ(resultOf(trans), NPC_D_PVM_ERRORCODE_SYSTEM_ERROR);
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_DevCount(), 0);
}

// ---------------------------------------------------------------------------------------------
// Failures of the login.

TEST_F(QxspSession, LoginAnswerFailuresByVersion) {
  struct Case {
    uint16_t version;
    uint8_t result;
    int32_t code;
    const char* text;
  };
  const Case cases[] = {
      {0x0214, 1, 1001, "Login Fail, Reason: System Error."},
      {0x0214, 3, 2003, "Login Fail, Reason: User Name Error."},
      {0x0214, 4, 2004, "Login Fail, Reason: Pwd Error."},
      {0x0103, 5, 2005, "Login Fail, Reason: Without Permission."},
      {0x0214, 9, 1009, "Login Fail, Failure Code: 9."},
      {0x0102, 4, 1009, "登录失败1，失败码为：4."},
  };
  uint32_t cam = 10;
  for (const Case& c : cases) {
    ++cam;
    size_t before = connReqs().size();
    uint32_t trans = connect(cam, kParam);
    // A second camera of the same login waits on the same device and shares its outcome.
    uint32_t trans2 = connect(cam + 1000, QxspSession::param("", "192.0.2.10", 8000, "admin", "admin123", 2, 0));
    ASSERT_EQ(connReqs().size(), before + 1);
    uint32_t orderId = connReqs()[before].dwModuleId;
    accept(orderId, cam);
    feed(orderId, cam, consultAnswer(c.version, kToken));
    log.clear();
    feed(orderId, cam, loginAnswer(c.result));
    EXPECT_EQ(resultOf(trans), c.code) << c.text;
    EXPECT_EQ(resultOf(trans2), c.code) << c.text;
    EXPECT_TRUE(log.contains(c.text)) << c.text;
    EXPECT_EQ(mod.NPC_F_PVM_QXSP_DevCount(), 0) << c.text;
    // The device record went, and with it the order connection.
    auto d = disconnects();
    ASSERT_FALSE(d.empty());
    EXPECT_EQ(d.back(), std::make_pair(orderId, cam));
  }
}

// Answers whose result says success but that are too short for their fields.
TEST_F(QxspSession, ShortAnswersAreRefusedNotRead) {
  // A login answer of 547 bytes with result 0: 2001, the device goes.
  uint32_t trans = connect(1, kParam);
  uint32_t orderId = connReqs()[0].dwModuleId;
  accept(orderId, 5);
  feed(orderId, 5, consultAnswer(0x0214, kToken));
  std::vector<uint8_t> shortLogin = loginAnswer(0);
  shortLogin.resize(547);
  putU32(shortLogin, 4, 547);
  feed(orderId, 5, shortLogin);
  EXPECT_EQ(resultOf(trans), NPC_D_PVM_ERRORCODE_PRO_PACKET_FORMAT_ERROR);
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_DevCount(), 0);

  // A head-only login answer carrying a failure is a normal failure.
  trans = connect(2, kParam);
  orderId = connReqs()[1].dwModuleId;
  accept(orderId, 6);
  feed(orderId, 6, consultAnswer(0x0214, kToken));
  feed(orderId, 6, devPacket(0x0102, 20, 4));
  EXPECT_EQ(resultOf(trans), NPC_D_PVM_ERRORCODE_PWD_ERROR);

  // A consult answer of 40 bytes with result 0: the waiting camera gets 2001, the device stays
  // (as for a refused consult).
  trans = connect(3, kParam);
  orderId = connReqs()[2].dwModuleId;
  accept(orderId, 7);
  feed(orderId, 7, devPacket(0x0101, 40, 0));
  EXPECT_EQ(resultOf(trans), NPC_D_PVM_ERRORCODE_PRO_PACKET_FORMAT_ERROR);
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_DevCount(), 1);
  EXPECT_EQ(sent(orderId).size(), 1u);  // no login went out
}

TEST_F(QxspSession, RefusedConsultKeepsTheDevice) {
  uint32_t trans = connect(1, kParam);
  uint32_t orderId = connReqs()[0].dwModuleId;
  accept(orderId, 5);
  feed(orderId, 5, consultAnswer(0x0214, kToken, 0, 0, 7));
  EXPECT_EQ(resultOf(trans), NPC_D_PVM_ERRORCODE_SYSTEM_ERROR);
  EXPECT_TRUE(log.contains("Version Consult And Get Token Fail, Failure Code: 7."));
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_DevCount(), 1);
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_QueryCamera(1)->iConnState, NPC_D_PVM_DP_CAMERA_CONN_STATE_IDLE);
}

TEST_F(QxspSession, FailedOrderConnectionAnswersWithTheEngineResult) {
  uint32_t trans = connect(1, kParam);
  uint32_t orderId = connReqs()[0].dwModuleId;
  connectAnswer(orderId, 0, 0, 1);
  connectAnswer(orderId, 0, 1003, 2);
  EXPECT_EQ(resultOf(trans), 1003);
  EXPECT_TRUE(log.contains("Connect QXSP Order Channel Fail, Reason: Net Connect Fail."));
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_DevCount(), 0);
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_ConnCount(), 0);
  EXPECT_TRUE(disconnects().empty());  // the engine finished that connection itself
}

TEST_F(QxspSession, ConnectParameterFailuresAnswer1001) {
  const std::string bad[] = {
      "VendorId=1009,DevIp=192.0.2.1",                                                     // pairs missing
      "VendorId=1009,DevIp=192.0.2.1,DevPort=70000,DevUserName=a,DevUserPwd=b,DevChNo=0",  // port out of range
      "",
  };
  for (const std::string& p : bad) {
    uint32_t trans = connect(1, p);
    EXPECT_EQ(resultOf(trans), NPC_D_PVM_ERRORCODE_SYSTEM_ERROR) << p;
  }
  // A body shorter than the connect layout.
  uint32_t id = 5;
  uint32_t trans = order(ORDER_CAMERA_CONNECT, &id, sizeof id);
  EXPECT_EQ(resultOf(trans), NPC_D_PVM_ERRORCODE_SYSTEM_ERROR);
  EXPECT_TRUE(connReqs().empty());
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_DevCount(), 0);
}

// ---------------------------------------------------------------------------------------------
// Time-outs of each login state (fake clock).

TEST_F(QxspSession, TimeoutOfEachLoginState) {
  struct Case {
    const char* what;
    int reach;           // 1 connect sent, 2 consult sent, 3 login sent
    int firesAt;         // seconds after entering the state
    int32_t code;        // answer of the waiting camera
    const char* logText; // null: no device time-out
    bool devKept;
  };
  const Case cases[] = {
      {"connecting", 1, 120, 1004, "QXSP Dev Connect TimeOut.", false},
      {"waiting for the consult", 2, 120, 1004, nullptr, true},
      {"waiting for the login answer", 3, 120, 1006, "QXSP Dev Login Response TimeOut.", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    mod.NPC_F_PVM_UninitDevProtocolModule();
    eng.events.clear();
    log.clear();
    ASSERT_EQ(mod.NPC_F_PVM_InitDevProtocolModule(1009, &FakeEngine::Callback, &eng), 1);
    uint32_t trans = connect(1, kParam);
    uint32_t orderId = connReqs()[0].dwModuleId;
    if (c.reach >= 2) accept(orderId, 3);
    if (c.reach >= 3) feed(orderId, 3, consultAnswer(0x0214, kToken));
    advance(c.firesAt - 1);
    EXPECT_EQ(resultOf(trans), -1);
    EXPECT_EQ(mod.NPC_F_PVM_QXSP_DevCount(), 1);
    advance(1);
    EXPECT_EQ(resultOf(trans), c.code);
    if (c.logText) {
      EXPECT_TRUE(log.contains(c.logText));
    }
    EXPECT_EQ(mod.NPC_F_PVM_QXSP_DevCount(), c.devKept ? 1 : 0);
    advance(300);
    EXPECT_EQ(answersTo(trans).size(), 1u);
  }
}

// ---------------------------------------------------------------------------------------------
// Keep-alive.

TEST_F(QxspSession, HeartbeatsEveryFiveSecondsOnOrderAndMediaConnections) {
  uint32_t orderId = login(1, kParam, 11);
  uint32_t mediaId = Peer::startMedia(mod, 1, NPC_D_PVM_DP_QXSP_LOGIN_CONN_TYPE_REALPLAY);
  ASSERT_NE(mediaId, 0u);
  accept(mediaId, 12);
  auto beats = [&](uint32_t id) {
    int n = 0;
    for (auto num : sentNums(id)) n += num == 0x0001;
    return n;
  };
  tick();
  EXPECT_EQ(beats(orderId), 1);
  EXPECT_EQ(beats(mediaId), 1);
  advance(4);
  EXPECT_EQ(beats(orderId), 1);
  advance(1);
  EXPECT_EQ(beats(orderId), 2);
  EXPECT_EQ(beats(mediaId), 2);
  auto last = sent(orderId).back();
  ASSERT_EQ(last.size(), 52u);
  EXPECT_EQ(last[10], 0);  // a request
  EXPECT_EQ(std::string(reinterpret_cast<char*>(last.data() + 20), 32), std::string(32, '0'));
}

TEST_F(QxspSession, DeviceHeartbeatRequestIsEchoedAsAnswer) {
  uint32_t orderId = login(1, kParam, 11);
  size_t before = sent(orderId).size();
  std::vector<uint8_t> req = heartbeat(0);
  req[12] = 0x42;  // whatever the device put in, comes back
  feed(orderId, 11, req);
  auto pkts = sent(orderId);
  ASSERT_EQ(pkts.size(), before + 1);
  std::vector<uint8_t> want = req;
  want[10] = 1;
  EXPECT_EQ(pkts.back(), want);
  // An answer is not echoed.
  feed(orderId, 11, heartbeat(1));
  EXPECT_EQ(sent(orderId).size(), before + 1);
}

// The heartbeat time-out runs only once a first beat arrived; when it fires, connected cameras
// get the notice of a lost order connection and connecting ones 1005, then the device goes.
TEST_F(QxspSession, HeartbeatTimeoutOnlyAfterTheFirstBeat) {
  uint32_t orderId = login(1, kParam, 11);
  advance(600);
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_DevCount(), 1);
  feed(orderId, 11, heartbeat(1));
  advance(119);
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_DevCount(), 1);
  EXPECT_TRUE(notices().empty());
  advance(1);
  EXPECT_TRUE(log.contains("QXSP Dev HearBeat TimeOut."));
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_DevCount(), 0);
  auto n = notices();
  ASSERT_EQ(n.size(), 1u);
  EXPECT_EQ(n[0].camId, 1u);
  EXPECT_EQ(n[0].cause, 200);
  EXPECT_EQ(n[0].text, "命令通道断开连接");
  ASSERT_FALSE(disconnects().empty());
  EXPECT_EQ(disconnects().back(), std::make_pair(orderId, 11u));
}

TEST_F(QxspSession, HeartbeatTimeoutAnswersConnectingCameras) {
  uint32_t orderId = login(1, kParam, 11);
  feed(orderId, 11, heartbeat(1));
  // A camera whose connect is still pending on the device (as when the order came in while the
  // module could not answer it yet) is answered 1005, not left waiting.
  std::vector<uint8_t> pending;
  uint32_t id1 = 1;
  NPC_F_PVM_MSG_BuildRequest(&pending, ORDER_CAMERA_CONNECT, 888, 1009, &id1, sizeof id1);
  Peer::setConnecting(mod, 1, pending);
  eng.events.clear();
  advance(120);
  EXPECT_EQ(resultOf(888), NPC_D_PVM_ERRORCODE_PEER_CONN_CLOSED);
  EXPECT_TRUE(notices().empty());
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_DevCount(), 0);
}

// ---------------------------------------------------------------------------------------------
// Connection loss.

TEST_F(QxspSession, OrderConnectionLostWhileLoggedIn) {
  uint32_t orderId = login(1, kParam, 11);
  feed(orderId, 11, heartbeat(1));
  eng.events.clear();
  lost(orderId, 11);
  auto n = notices();
  ASSERT_EQ(n.size(), 1u);
  EXPECT_EQ(n[0].cause, 200);
  EXPECT_EQ(n[0].text, "命令通道断开连接");
  EXPECT_TRUE(disconnects().empty());  // nothing is sent back for a connection the engine lost
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_DevCount(), 1);
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_QueryDevByCamera(1)->iDevLoginState, NPC_D_PVM_DP_QXSP_DEV_LOGIN_STATE_LOGINED);
  // No heartbeats without the connection; the heartbeat time-out ends the record.
  advance(10);
  EXPECT_TRUE(sent(orderId).empty());
  advance(110);
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_DevCount(), 0);
}

TEST_F(QxspSession, OrderConnectionLostDuringLogin) {
  uint32_t trans = connect(1, kParam);
  uint32_t orderId = connReqs()[0].dwModuleId;
  accept(orderId, 4);
  feed(orderId, 4, consultAnswer(0x0214, kToken));
  lost(orderId, 4);
  EXPECT_EQ(resultOf(trans), NPC_D_PVM_ERRORCODE_PEER_CONN_CLOSED);
  EXPECT_TRUE(notices().empty());
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_QueryCamera(1)->iConnState, NPC_D_PVM_DP_CAMERA_CONN_STATE_IDLE);
}

// After the order connection is gone, the next connect for that device logs in anew instead of
// being told "connected" for a device the module can no longer reach.
TEST_F(QxspSession, ConnectAfterOrderConnectionLossLogsInAgain) {
  uint32_t orderId = login(1, kParam, 11);
  lost(orderId, 11);
  size_t before = connReqs().size();
  uint32_t trans = connect(2, QxspSession::param("", "192.0.2.10", 8000, "admin", "admin123", 2, 0));
  EXPECT_EQ(resultOf(trans), -1);
  ASSERT_EQ(connReqs().size(), before + 1);
  uint32_t again = connReqs()[before].dwModuleId;
  EXPECT_NE(again, orderId);
  accept(again, 12);
  feed(again, 12, consultAnswer(0x0214, kToken));
  feed(again, 12, loginAnswer(0));
  EXPECT_EQ(resultOf(trans), 0);
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_DevCount(), 1);  // the same record serves both cameras
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_QueryDevByCamera(1), mod.NPC_F_PVM_QXSP_QueryDevByCamera(2));
}

// A spare connection has no camera (its camera index is 0): losing it frees it and tells no
// camera, not even the one in slot 0.
TEST_F(QxspSession, SpareConnectionLossOnlyFreesIt) {
  ConnectOpts o;
  o.spare = 1;
  uint32_t trans = connect(1, kParam, o);
  auto reqs = connReqs();
  ASSERT_EQ(reqs.size(), 2u);  // order and spare
  uint32_t orderId = reqs[0].dwModuleId, spareId = reqs[1].dwModuleId;
  accept(spareId, 21);
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_QueryConn(spareId)->bSpareReady, 1);
  accept(orderId, 20);
  feed(orderId, 20, consultAnswer(0x0214, kToken));
  // The camera in slot 0 waits for its login when the spare goes.
  size_t upsBefore = ups().size();
  lost(spareId, 21);
  EXPECT_EQ(ups().size(), upsBefore);
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_QueryConn(spareId), nullptr);
  feed(orderId, 20, loginAnswer(0));
  EXPECT_EQ(resultOf(trans), 0);
  // And once connected, losing a new spare sends no notice.
  connect(2, QxspSession::param("", "192.0.2.10", 8000, "admin", "admin123", 3, 0), o);
  uint32_t spare2 = connReqs().back().dwModuleId;
  accept(spare2, 22);
  size_t n = ups().size();
  lost(spare2, 22);
  EXPECT_EQ(ups().size(), n);
  EXPECT_TRUE(notices().empty());
}

TEST_F(QxspSession, SpareConnectionFailureFreesIt) {
  ConnectOpts o;
  o.spare = 1;
  connect(1, kParam, o);
  uint32_t spareId = connReqs()[1].dwModuleId;
  connectAnswer(spareId, 0, 0, 1);
  connectAnswer(spareId, 0, 1003, 2);
  EXPECT_TRUE(log.contains("[6]Connect QXSP Dev Spare Channel Fail."));
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_QueryConn(spareId), nullptr);
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_DevCount(), 1);
}

TEST_F(QxspSession, MediaConnectionLoss) {
  login(1, kParam, 11);
  ASSERT_EQ(resultOf(connect(2, QxspSession::param("", "192.0.2.10", 8000, "admin", "admin123", 2, 0))), 0);
  // Camera 1 has no pending order: it gets the media notice.
  uint32_t media1 = Peer::startMedia(mod, 1, NPC_D_PVM_DP_QXSP_LOGIN_CONN_TYPE_REALPLAY);
  accept(media1, 31);
  // Camera 2 waits on an order: that order is answered 1005 instead.
  uint32_t media2 = Peer::startMedia(mod, 2, NPC_D_PVM_DP_QXSP_LOGIN_CONN_TYPE_TALK);
  accept(media2, 32);
  std::vector<uint8_t> pending;
  uint32_t id2 = 2;
  NPC_F_PVM_MSG_BuildRequest(&pending, ORDER_OPEN_REALPLAY, 777, 1009, &id2, sizeof id2);
  Peer::keepPending(mod, 2, pending);
  eng.events.clear();

  lost(media1, 31);
  auto n = notices();
  ASSERT_EQ(n.size(), 1u);
  EXPECT_EQ(n[0].camId, 1u);
  EXPECT_EQ(n[0].cause, 1);
  EXPECT_EQ(n[0].text, "摄像机媒体连接断开");
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_QueryCamera(1)->dwMediaProTcpConnId, 0u);

  lost(media2, 32);
  EXPECT_EQ(notices().size(), 1u);
  EXPECT_EQ(resultOf(777), NPC_D_PVM_ERRORCODE_PEER_CONN_CLOSED);
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_ConnCount(), 1);  // the order connection alone
  EXPECT_TRUE(disconnects().empty());
}

// ---------------------------------------------------------------------------------------------
// Device sharing.

TEST_F(QxspSession, CamerasOfOneLoginShareTheDeviceRecord) {
  uint32_t t1 = connect(1, QxspSession::param("", "192.0.2.10", 8000, "admin", "admin123", 1, 0));
  uint32_t orderId = connReqs()[0].dwModuleId;
  // A second channel while the login runs waits for it.
  uint32_t t2 = connect(2, QxspSession::param("", "192.0.2.10", 8000, "admin", "admin123", 2, 0));
  EXPECT_EQ(connReqs().size(), 1u);
  accept(orderId, 5);
  feed(orderId, 5, consultAnswer(0x0214, kToken));
  EXPECT_EQ(resultOf(t2), -1);
  feed(orderId, 5, loginAnswer(0));
  EXPECT_EQ(resultOf(t1), 0);
  EXPECT_EQ(resultOf(t2), 0);
  // A third channel of the logged-in device is answered at once.
  uint32_t t3 = connect(3, QxspSession::param("", "192.0.2.10", 8000, "admin", "admin123", 3, 1));
  EXPECT_EQ(resultOf(t3), 0);
  EXPECT_EQ(connReqs().size(), 1u);
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_DevCount(), 1);
  const auto* dev = mod.NPC_F_PVM_QXSP_QueryDevByCamera(1);
  EXPECT_EQ(dev, mod.NPC_F_PVM_QXSP_QueryDevByCamera(3));

  // The same channel and stream again logs in separately; so do other credentials.
  connect(4, QxspSession::param("", "192.0.2.10", 8000, "admin", "admin123", 1, 0));
  connect(5, QxspSession::param("", "192.0.2.10", 8000, "admin", "other", 1, 0));
  connect(6, QxspSession::param("", "192.0.2.10", 8001, "admin", "admin123", 1, 0));
  EXPECT_EQ(connReqs().size(), 4u);
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_DevCount(), 4);

  // Disconnecting cameras keeps the record until its last camera goes.
  EXPECT_EQ(resultOf(camOrder(ORDER_CAMERA_DISCONNECT, 1)), 0);
  EXPECT_EQ(resultOf(camOrder(ORDER_CAMERA_DISCONNECT, 2)), 0);
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_QueryDevByCamera(3), dev);
  EXPECT_TRUE(disconnects().empty());
  EXPECT_EQ(resultOf(camOrder(ORDER_CAMERA_DISCONNECT, 3)), 0);
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_DevCount(), 3);
  ASSERT_EQ(disconnects().size(), 1u);
  EXPECT_EQ(disconnects()[0], std::make_pair(orderId, 5u));
}

// The custom fields of the device record follow the latest connect order.
TEST_F(QxspSession, LaterConnectOverwritesCustomFields) {
  ConnectOpts o;
  o.customId = "first";
  o.clientFlag = 3;
  connect(1, kParam, o);
  o.customId = "second";
  o.clientFlag = 10;
  o.customText = "txt";
  connect(2, QxspSession::param("", "192.0.2.10", 8000, "admin", "admin123", 2, 0), o);
  const auto* dev = mod.NPC_F_PVM_QXSP_QueryDevByCamera(1);
  EXPECT_STREQ(dev->szCustomId, "second");
  EXPECT_STREQ(dev->szCustomText, "txt");
  EXPECT_EQ(dev->iClientFlag, 10);
}

// ---------------------------------------------------------------------------------------------
// Orders 514 to 516.

TEST_F(QxspSession, DisconnectSwitchAndQueryOrders) {
  EXPECT_EQ(resultOf(camOrder(ORDER_CAMERA_DISCONNECT, 99)), 0);
  EXPECT_EQ(resultOf(camOrder(ORDER_CAMERA_SWITCH_TRANS_MODE, 99, 2)), NPC_D_PVM_ERRORCODE_SYSTEM_ERROR);
  uint32_t q = camOrder(ORDER_CAMERA_QUERY_CONN_MODE, 99, 0);
  auto a = answersTo(q);
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(a[0].iResult, 0);
  EXPECT_EQ(u32At(a[0].body, 4), 0u);

  // The connection mode the engine reported for the order connection (2: transfer).
  uint32_t trans = connect(1, kParam);
  uint32_t orderId = connReqs()[0].dwModuleId;
  accept(orderId, 8, 0, 2);
  feed(orderId, 8, consultAnswer(0x0214, kToken));
  feed(orderId, 8, loginAnswer(0));
  ASSERT_EQ(resultOf(trans), 0);
  q = camOrder(ORDER_CAMERA_QUERY_CONN_MODE, 1, 0);
  a = answersTo(q);
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(a[0].iResult, 0);
  EXPECT_EQ(u32At(a[0].body, 4), 2u);

  // Switching the transport mode: stored, and passed to the engine for a live media connection.
  uint32_t mediaId = Peer::startMedia(mod, 1, NPC_D_PVM_DP_QXSP_LOGIN_CONN_TYPE_REALPLAY);
  accept(mediaId, 9);
  eng.events.clear();
  EXPECT_EQ(resultOf(camOrder(ORDER_CAMERA_SWITCH_TRANS_MODE, 1, 3)), 0);
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_QueryCamera(1)->iTransMode, 3);
  bool switched = false;
  for (const Event& e : eng.events) {
    if (e.kind == 0 && u32At(e.msg, 0) == NET_SWITCH_MEDIA_TRANS_MODE) {
      ASSERT_EQ(e.msg.size(), 32u);
      EXPECT_EQ(u32At(e.msg, 20), mediaId);
      EXPECT_EQ(u32At(e.msg, 24), 9u);
      EXPECT_EQ(u32At(e.msg, 28), 3u);
      switched = true;
    }
  }
  EXPECT_TRUE(switched);
}

// Deleting a camera closes its media connection but never the device's order or spare
// connections, although those carry camera index 0 like the camera in slot 0.
TEST_F(QxspSession, DeletingACameraClosesOnlyItsOwnConnections) {
  ConnectOpts spare;
  spare.spare = 1;
  uint32_t trans = connect(1, kParam, spare);
  uint32_t orderId = connReqs()[0].dwModuleId, spareId = connReqs()[1].dwModuleId;
  accept(orderId, 11);
  accept(spareId, 12);
  feed(orderId, 11, consultAnswer(0x0214, kToken));
  feed(orderId, 11, loginAnswer(0));
  ASSERT_EQ(resultOf(trans), 0);
  ASSERT_EQ(resultOf(connect(2, QxspSession::param("", "192.0.2.10", 8000, "admin", "admin123", 2, 0))), 0);
  ASSERT_EQ(mod.NPC_F_PVM_QXSP_QueryCamera(1)->iCameraIndex, 0);
  uint32_t m1 = Peer::startMedia(mod, 1, NPC_D_PVM_DP_QXSP_LOGIN_CONN_TYPE_REALPLAY);
  accept(m1, 41);
  EXPECT_EQ(resultOf(camOrder(ORDER_CAMERA_DISCONNECT, 1)), 0);
  auto d = disconnects();
  ASSERT_EQ(d.size(), 1u);
  EXPECT_EQ(d[0], std::make_pair(m1, 41u));
  EXPECT_NE(mod.NPC_F_PVM_QXSP_QueryConn(orderId), nullptr);
  EXPECT_NE(mod.NPC_F_PVM_QXSP_QueryConn(spareId), nullptr);
  // The last camera takes the device and all its connections.
  EXPECT_EQ(resultOf(camOrder(ORDER_CAMERA_DISCONNECT, 2)), 0);
  EXPECT_EQ(disconnects().size(), 3u);
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_ConnCount(), 0);
}

// A connection let go before the engine's id arrived is closed when that id comes.
TEST_F(QxspSession, AnswerForAConnectionAlreadyLetGoIsDisconnected) {
  connect(1, kParam);
  uint32_t orderId = connReqs()[0].dwModuleId;
  EXPECT_EQ(resultOf(camOrder(ORDER_CAMERA_DISCONNECT, 1)), 0);
  EXPECT_TRUE(disconnects().empty());
  connectAnswer(orderId, 0x123, 0, 1);
  ASSERT_EQ(disconnects().size(), 1u);
  EXPECT_EQ(disconnects()[0], std::make_pair(orderId, 0x123u));
  // The engine's final failure answer for it is not answered again.
  connectAnswer(orderId, 0x123, 1009, 2);
  EXPECT_EQ(disconnects().size(), 1u);
}

// ---------------------------------------------------------------------------------------------
// Framing of received bytes.

TEST_F(QxspSession, SplitAndMergedPackets) {
  uint32_t trans = connect(1, kParam);
  uint32_t orderId = connReqs()[0].dwModuleId;
  accept(orderId, 5);
  // The consult answer and the start of the login answer in one message, the rest byte by byte.
  std::vector<uint8_t> both = concat({consultAnswer(0x0214, kToken), loginAnswer(0, 0x42)});
  std::vector<uint8_t> first(both.begin(), both.begin() + 130);
  feed(orderId, 5, first);
  EXPECT_EQ(sentNums(orderId).back(), 0x0102);  // the consult was taken, the login sent
  for (size_t i = 130; i < both.size() - 1; ++i) feed(orderId, 5, {both[i]});
  EXPECT_EQ(resultOf(trans), -1);
  feed(orderId, 5, {both.back()});
  EXPECT_EQ(resultOf(trans), 0);
  // Several packets in one message are all handled, in order.
  size_t before = sent(orderId).size();
  feed(orderId, 5, concat({heartbeat(0), heartbeat(0), heartbeat(1), heartbeat(0)}));
  EXPECT_EQ(sent(orderId).size(), before + 3);
}

// What the module does with bytes that do not frame: the start of the buffer must be the magic
// with a declared length of at least 20; otherwise the whole buffer is emptied (with whatever
// good packets followed in it), and framing starts afresh with the next arrival.
TEST_F(QxspSession, BytesThatDoNotFrameEmptyTheBuffer) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bad;
    const char* logText;
  };
  auto withLen = [](int32_t len) {
    std::vector<uint8_t> b = heartbeat(0);
    putU32(b, 4, static_cast<uint32_t>(len));
    return b;
  };
  const Case cases[] = {
      {"garbage", std::vector<uint8_t>(30, 0x5A), "NPC_F_PVM_QXSP_DoRecvProData dwPacketFlag error."},
      {"magic one byte off", concat({{0x00}, heartbeat(0)}), "NPC_F_PVM_QXSP_DoRecvProData dwPacketFlag error."},
      {"length 0", withLen(0), "NPC_F_PVM_QXSP_DoRecvProData iPacketLen error."},
      {"length 19", withLen(19), "NPC_F_PVM_QXSP_DoRecvProData iPacketLen error."},
      {"length -52", withLen(-52), "NPC_F_PVM_QXSP_DoRecvProData iPacketLen error."},
  };
  uint32_t orderId = login(1, kParam, 5);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    log.clear();
    size_t before = sent(orderId).size();
    // A good beat, the bad bytes, a good beat that is lost with them.
    feed(orderId, 5, concat({heartbeat(0), c.bad, heartbeat(0)}));
    EXPECT_EQ(sent(orderId).size(), before + 1);
    EXPECT_EQ(log.count(c.logText), 1);
    // The next arrival starts clean.
    feed(orderId, 5, heartbeat(0));
    EXPECT_EQ(sent(orderId).size(), before + 2);
  }
}

// A declared length that never completes is given up once 10 MiB are buffered; a large packet
// that does complete is handled.
TEST_F(QxspSession, IncompletePacketIsDroppedAtTenMebibytes) {
  uint32_t orderId = login(1, kParam, 5);
  std::vector<uint8_t> head = heartbeat(0);
  putU32(head, 4, 0x7FFFFFFF);
  head.resize(20);
  feed(orderId, 5, head);
  std::vector<uint8_t> chunk(1 << 20, 0x11);
  for (int i = 0; i < 9; ++i) feed(orderId, 5, chunk);
  EXPECT_FALSE(log.contains("iProRecvDataLen error."));
  const auto* conn = mod.NPC_F_PVM_QXSP_QueryConn(orderId);
  EXPECT_EQ(conn->tRecvBuf.Len(), 20u + 9 * chunk.size());
  feed(orderId, 5, chunk);  // 10 MiB + 20 bytes buffered
  EXPECT_TRUE(log.contains("NPC_F_PVM_QXSP_DoRecvProData iProRecvDataLen error."));
  EXPECT_EQ(conn->tRecvBuf.Len(), 0u);
  // The stream goes on.
  size_t before = sent(orderId).size();
  feed(orderId, 5, heartbeat(0));
  EXPECT_EQ(sent(orderId).size(), before + 1);

  // A 2 MiB packet (an unknown number, so it is only logged) arriving in pieces is handled once.
  std::vector<uint8_t> big = devPacket(0x0777, 2 << 20, 0, 0);
  log.clear();
  for (size_t off = 0; off < big.size(); off += 65536) {
    feed(orderId, 5, std::vector<uint8_t>(big.begin() + off, big.begin() + std::min(big.size(), off + 65536)));
  }
  EXPECT_EQ(log.count("NPC_F_PVM_QXSP_DoSingleProPacket usMsgFuncId error: 00000777."), 1);
  EXPECT_EQ(conn->tRecvBuf.Len(), 0u);
}

TEST_F(QxspSession, DataForUnknownOrStaleConnectionsIsIgnored) {
  uint32_t orderId = login(1, kParam, 5);
  size_t before = sent(orderId).size();
  // Another tag on the same slot, a slot outside the table, a response kind, a head alone.
  feed(orderId ^ 0x00010000, 5, heartbeat(0));
  feed(0x0000FFFF, 5, heartbeat(0));
  std::vector<uint8_t> msg;
  NPC_F_PVM_MSG_BuildNetSendData(&msg, orderId, 5, 0, 0, heartbeat(0).data(), 52);
  putU32(msg, 4, NPC_D_PVM_NET_MSG_TYPE_RESPONSE);
  net(msg.data(), msg.size());
  std::vector<uint8_t> headOnly(msg.begin(), msg.begin() + 40);
  putU32(headOnly, 16, 20);
  net(headOnly.data(), headOnly.size());
  EXPECT_EQ(sent(orderId).size(), before);
}

// ---------------------------------------------------------------------------------------------
// Transaction answers.

TEST_F(QxspSession, ResultOnlyAnswersEndTheirTransaction) {
  uint32_t orderId = login(1, kParam, 5);
  std::vector<uint8_t> ptz;
  NPC_S_PVM_ORDER_BODY_PTZ body{1, 11, 0, 0, 0};
  NPC_F_PVM_MSG_BuildRequest(&ptz, ORDER_PTZ, 555, 1009, &body, sizeof body);
  uint32_t t = Peer::createTrans(mod, ptz);
  ASSERT_NE(t, 0u);
  feed(orderId, 5, devPacket(0x0203, 20, 165, 1, t));
  EXPECT_EQ(resultOf(555), 6165);
  EXPECT_TRUE(log.contains("QXSP Pro Response: 云台控制，Result: Custom error codes: 165."));
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_TransCount(), 0);
  // The same answer again finds no transaction and is only logged.
  feed(orderId, 5, devPacket(0x0203, 20, 0, 1, t));
  EXPECT_EQ(answersTo(555).size(), 1u);
  EXPECT_TRUE(log.contains("NPC_F_PVM_QXSP_SendRespMsgToUp NPC_F_PVM_QXSP_QueryTransDataByTransId fail."));
}

// Transactions older than 119 seconds are swept without an answer; a late device answer is then
// only logged.
TEST_F(QxspSession, ExpiredTransactionIsOnlyLogged) {
  uint32_t orderId = login(1, kParam, 5);
  std::vector<uint8_t> reboot;
  uint32_t id = 1;
  NPC_F_PVM_MSG_BuildRequest(&reboot, ORDER_RMY_REBOOT, 556, 1009, &id, sizeof id);
  uint32_t t = Peer::createTrans(mod, reboot);
  advance(119);
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_TransCount(), 1);
  advance(1);
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_TransCount(), 0);
  feed(orderId, 5, devPacket(0x0B02, 20, 0, 1, t));
  EXPECT_EQ(answersTo(556).size(), 0u);
}

TEST_F(QxspSession, UninitClosesEverythingAndGoesQuiet) {
  uint32_t orderId = login(1, kParam, 5);
  eng.events.clear();
  mod.NPC_F_PVM_UninitDevProtocolModule();
  ASSERT_EQ(disconnects().size(), 1u);
  EXPECT_EQ(disconnects()[0], std::make_pair(orderId, 5u));
  size_t n = eng.events.size();
  feed(orderId, 5, heartbeat(0));
  tick();
  EXPECT_EQ(eng.events.size(), n);
  ASSERT_EQ(mod.NPC_F_PVM_InitDevProtocolModule(1009, &FakeEngine::Callback, &eng), 1);
}

}  // namespace
}  // namespace qxsp_test
