// QXSP live view against a fake engine and the fake clock: the realplay flow (open over a new
// media connection or a spare one, switch, close) and the races of open, close and switch; the
// media packets' bit fields, codec mapping, I-frame gating and audio conversion; frames over
// UDP; the live-view control orders; the boundary scan and the backlog sequence (threshold,
// cache clear, reopen marker, resynchronisation, next I-frame); garbage and splits.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "media/adpcm.h"
#include "media/g711.h"
#include "protocols/qxsp/qxsp_live_packet.h"
#include "qxsp_fixture.h"

namespace qxsp_test {
namespace {

const std::string kParam = QxspSession::param("", "192.0.2.10", 8000, "admin", "admin123", 1, 0);
constexpr uint32_t kLoginId = 0x1234;  // what loginAnswer() hands out
constexpr uint32_t kCam = 0x00010001;
constexpr uint32_t kOrderEngine = 5;
constexpr uint32_t kMediaEngine = 50;

// --- device packets --------------------------------------------------------------------------

std::vector<uint8_t> videoPkt(uint32_t ts, int type, size_t n, uint8_t fill = 0, int codec = 1, int w = 640,
                              int h = 360, int fps = 25, int kbps = 800) {
  std::vector<uint8_t> b = devPacket(0x0E01, 32 + n, 0, 0);
  putU32(b, 20, static_cast<uint32_t>(codec & 15) | static_cast<uint32_t>(type & 15) << 4 |
                    static_cast<uint32_t>(w & 0xFFF) << 8 | static_cast<uint32_t>(h & 0xFFF) << 20);
  putU32(b, 24, static_cast<uint32_t>(fps & 0x7F) | static_cast<uint32_t>(kbps & 0x7FFF) << 7);
  putU32(b, 28, ts);
  for (size_t i = 0; i < n; ++i) b[32 + i] = static_cast<uint8_t>(fill + i);
  return b;
}

std::vector<uint8_t> audioPkt(uint32_t ts, int codec, const std::vector<uint8_t>& data, int rate = 8000,
                              int kbps = 64, int ch = 1) {
  std::vector<uint8_t> b = devPacket(0x0E02, 32 + data.size(), 0, 0);
  putU32(b, 20, static_cast<uint32_t>(codec & 15) | static_cast<uint32_t>(rate & 0xFFFF) << 4);
  putU16(b, 24, static_cast<uint16_t>(kbps));
  putU16(b, 26, static_cast<uint16_t>(ch));
  putU32(b, 28, ts);
  std::copy(data.begin(), data.end(), b.begin() + 32);
  return b;
}

std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed * 31 + i * 7);
  return v;
}

// A frame that came up as ORDER_MEDIA_DATA.
struct Frame {
  uint32_t camId;
  NPC_S_MON_MEDIA_FRAME_HEAD head;
  std::vector<uint8_t> data;
};

class QxspLive : public QxspSession {
 protected:
  // Logs camera kCam in on a device of the given version; the order connection's module id.
  uint32_t loginDev(uint16_t version = 0x0214, const ConnectOpts& o = ConnectOpts()) {
    orderId = login(kCam, kParam, kOrderEngine, o, version);
    return orderId;
  }
  uint32_t openOrder(uint32_t camId = kCam, int32_t stream = -1) {
    NPC_S_PVM_ORDER_BODY_OPEN_REALPLAY b{camId, stream, 0};
    return order(ORDER_OPEN_REALPLAY, &b, sizeof b);
  }
  // The module id of the last NET_TCP_CONNECT request.
  uint32_t lastConnReq() const {
    auto r = connReqs();
    return r.empty() ? 0 : r.back().dwModuleId;
  }
  // Open through a new media connection up to the playing state; the media connection's id.
  uint32_t play(uint16_t version = 0x0214) {
    loginDev(version);
    uint32_t t = openOrder();
    mediaId = lastConnReq();
    accept(mediaId, kMediaEngine);
    auto s = sent(mediaId);
    EXPECT_EQ(s.size(), 1u);
    const bool ex = version > 0x0202;
    auto ans = devPacket(ex ? 0x0221 : 0x0201, ex ? 36 : 20, 0);
    if (ex) putU32(ans, 32, 0xC0FFEE);
    feed(mediaId, kMediaEngine, ans);
    EXPECT_EQ(resultOf(t), 0);
    return mediaId;
  }
  void media(const std::vector<uint8_t>& bytes, uint32_t backlog = 0) {
    std::vector<uint8_t> msg;
    NPC_F_PVM_MSG_BuildNetSendData(&msg, mediaId, kMediaEngine, backlog, 0, bytes.data(), bytes.size());
    mod.NPC_F_PVM_InputNetData(msg.data(), static_cast<int>(msg.size()));
  }
  void netIds(int32_t code, uint32_t moduleId, uint32_t engineId) {
    NPC_S_PVM_NET_MSG_CONN_IDS m;
    NPC_F_PVM_MSG_InitNetConnIds(&m, code, moduleId, engineId);
    net(&m, sizeof m);
  }
  void udpFrame(const NPC_S_MON_MEDIA_FRAME_HEAD& head, const std::vector<uint8_t>& data, size_t headLen = 68) {
    std::vector<uint8_t> f(reinterpret_cast<const uint8_t*>(&head), reinterpret_cast<const uint8_t*>(&head) + headLen);
    f.insert(f.end(), data.begin(), data.end());
    std::vector<uint8_t> msg;
    NPC_F_PVM_MSG_BuildNetFrameData(&msg, NET_RECV_MEDIA_FRAME, mediaId, kMediaEngine, f.data(), f.size());
    mod.NPC_F_PVM_InputNetData(msg.data(), static_cast<int>(msg.size()));
  }
  std::vector<Frame> frames() const {
    std::vector<Frame> out;
    for (const Up& u : ups()) {
      if (u.iMsgId != ORDER_MEDIA_DATA) continue;
      EXPECT_EQ(u.iMsgType, 0);
      EXPECT_EQ(u.dwTransId, 0u);
      EXPECT_GE(u.body.size(), 76u);
      Frame f;
      f.camId = u32At(u.body, 0);
      memcpy(&f.head, u.body.data() + 4, sizeof f.head);
      EXPECT_EQ(u32At(u.body, 72), u.body.size() - 76) << "length field";
      f.data.assign(u.body.begin() + 76, u.body.end());
      out.push_back(f);
    }
    return out;
  }
  // The timestamps of the video frames that came up.
  std::vector<int32_t> videoStamps() const {
    std::vector<int32_t> out;
    for (const Frame& f : frames()) {
      if (f.head.iMediaType == 0 && !f.data.empty()) out.push_back(f.head.iTimestamp);
    }
    return out;
  }
  // The last NET_TCP_DISCONNECT request, or (0, 0).
  std::pair<uint32_t, uint32_t> lastDisconnect() const {
    auto d = disconnects();
    return d.empty() ? std::make_pair(0u, 0u) : d.back();
  }
  const NPC_S_PVM_DP_QXSP_CAMERA_DATA* cam() const { return mod.NPC_F_PVM_QXSP_QueryCamera(kCam); }
  int netCount(int32_t code) const {
    int n = 0;
    for (const Event& e : eng.events) n += e.kind == 0 && u32At(e.msg, 0) == static_cast<uint32_t>(code);
    return n;
  }

  uint32_t orderId = 0;
  uint32_t mediaId = 0;
};

// ---------------------------------------------------------------------------------------------
// Open.

// By the device's version: the open request's form, its fields, and the media session id.
TEST_F(QxspLive, OpenRequestFormByVersion) {
  struct Case {
    uint16_t version;
    uint16_t num;
    size_t len;
    uint32_t session;
  };
  for (const Case& c : {Case{0x0202, 0x0201, 28, 0}, Case{0x0203, 0x0221, 36, 0xC0FFEE}}) {
    SCOPED_TRACE(c.version);
    TearDown();
    eng.events.clear();
    SetUp();
    ConnectOpts o;
    o.transMode = 2;
    loginDev(c.version, o);
    uint32_t t = openOrder(kCam, 1);
    mediaId = lastConnReq();
    EXPECT_EQ(connReqs().back().ucFlags & 0x07, 2);  // the camera's transport mode
    EXPECT_EQ(cam()->iRealplayFlowState, NPC_D_PVM_DP_QXSP_REALPLAY_FLOW_STATE_MEDIA_CONNECTING);
    EXPECT_EQ(cam()->iCameraWorkMode, NPC_D_PVM_DP_QXSP_CAMERA_WORK_MODE_REALPLAY);
    accept(mediaId, kMediaEngine);
    auto s = sent(mediaId);
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(u16At(s[0], 8), c.num);
    ASSERT_EQ(s[0].size(), c.len);
    EXPECT_EQ(u32At(s[0], 20), kLoginId);
    EXPECT_EQ(u16At(s[0], 24), 1);  // channel of the connect parameters
    EXPECT_EQ(u16At(s[0], 26), 1);  // the order's stream
    if (c.len == 36) {
      EXPECT_EQ(u32At(s[0], 28), mediaId);
    }
    EXPECT_EQ(cam()->iRealplayFlowState, NPC_D_PVM_DP_QXSP_REALPLAY_FLOW_STATE_WAIT_OPEN_RESP);
    EXPECT_EQ(resultOf(t), -1);
    auto ans = devPacket(c.num, c.len == 36 ? 36 : 20, 0);
    if (c.len == 36) putU32(ans, 32, 0xC0FFEE);
    feed(mediaId, kMediaEngine, ans);
    EXPECT_EQ(resultOf(t), 0);
    EXPECT_EQ(cam()->iRealplayFlowState, NPC_D_PVM_DP_QXSP_REALPLAY_FLOW_STATE_PLAYING);
    EXPECT_EQ(cam()->dwMediaSessionId, c.session);
    EXPECT_EQ(cam()->iStreamNo, 1);
    EXPECT_TRUE(log.contains("QXSP Pro Response: REALPLAY_OPEN，Result: success."));
  }
}

TEST_F(QxspLive, OpenRefusals) {
  loginDev(0x0205);
  EXPECT_EQ(resultOf(openOrder(0x999)), NPC_D_PVM_ERRORCODE_SYSTEM_ERROR);   // unknown camera
  EXPECT_EQ(resultOf(openOrder(kCam, 2)), NPC_D_PVM_ERRORCODE_SUB_STREAM_NO_ERROR);
  EXPECT_EQ(cam()->iStreamNo, 0);  // the refused stream was not taken
  EXPECT_EQ(cam()->iRealplayFlowState, 0);
  // A camera whose device is still logging in cannot open.
  uint32_t t2 = connect(2, QxspSession::param("", "192.0.2.77", 8000, "admin", "x"));
  EXPECT_EQ(resultOf(openOrder(2)), NPC_D_PVM_ERRORCODE_SYSTEM_ERROR);
  EXPECT_EQ(resultOf(t2), -1);
  // A second open while one runs.
  uint32_t first = openOrder(kCam, 1);
  EXPECT_EQ(resultOf(openOrder()), NPC_D_PVM_ERRORCODE_SYSTEM_ERROR);
  EXPECT_EQ(resultOf(first), -1);
  EXPECT_EQ(cam()->iStreamNo, 1);
}

// A refused open must not take the place of the open that waits for the device: both are
// answered, each once, the first by the device's answer. Over a new media connection and over a
// spare connection taken over (where the open goes out at once).
TEST_F(QxspLive, SecondOpenDoesNotReplaceTheWaitingOne) {
  for (bool spare : {false, true}) {
    SCOPED_TRACE(spare ? "spare" : "new connection");
    TearDown();
    eng.events.clear();
    SetUp();
    ConnectOpts o;
    o.spare = spare ? 1 : 0;
    loginDev(0x0214, o);
    if (spare) accept(lastConnReq(), 60);
    const uint32_t first = openOrder();
    mediaId = spare ? cam()->dwMediaProTcpConnId : lastConnReq();
    for (int stage : {1, 2}) {
      const uint32_t second = openOrder();
      EXPECT_EQ(resultOf(second), NPC_D_PVM_ERRORCODE_SYSTEM_ERROR) << "stage " << stage;
      if (stage == 1 && !spare) accept(mediaId, kMediaEngine);
    }
    feed(mediaId, spare ? 60 : kMediaEngine, devPacket(0x0221, 36, 0));
    auto a = answersTo(first);
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].iResult, 0);
    EXPECT_EQ(a[0].iMsgId, ORDER_OPEN_REALPLAY);
  }
}

TEST_F(QxspLive, FailedMediaConnectionAnswers1003AndAllowsAnotherOpen) {
  loginDev();
  uint32_t t = openOrder();
  mediaId = lastConnReq();
  connectAnswer(mediaId, kMediaEngine, 0, 1);
  connectAnswer(mediaId, kMediaEngine, NPC_D_PVM_ERRORCODE_NET_CONN_FAIL, 2);
  EXPECT_EQ(resultOf(t), NPC_D_PVM_ERRORCODE_NET_CONN_FAIL);
  EXPECT_TRUE(log.contains("NPC_F_PVM_QXSP_DoNetData_NET_TCP_CONNECT Connect media ch fail, result: 1003."));
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_QueryConn(mediaId), nullptr);
  EXPECT_EQ(cam()->iRealplayFlowState, 0);
  EXPECT_EQ(cam()->iCameraWorkMode, 0);
  EXPECT_EQ(cam()->dwMediaProTcpConnId, 0u);
  EXPECT_EQ(netCount(NET_TCP_DISCONNECT), 0);  // the engine has finished it already
  uint32_t again = openOrder();
  EXPECT_NE(lastConnReq(), mediaId);
  EXPECT_EQ(resultOf(again), -1);
}

// The open answer's failures end the flow; "not logged in" also ends the device's login, so
// that the next connect logs in again (over a fresh order connection).
TEST_F(QxspLive, OpenAnswerFailures) {
  struct Case {
    const char* what;
    uint8_t result;
    size_t len;
    int32_t code;
    int loginState;
  };
  const Case cases[] = {
      {"open stream fail", 50, 36, NPC_D_PVM_ERRORCODE_OPEN_STREAM_FAIL, 4},
      {"success without the session id", 0, 35, NPC_D_PVM_ERRORCODE_PRO_PACKET_FORMAT_ERROR, 4},
      {"not logged in", 6, 36, NPC_D_PVM_ERRORCODE_NO_LOGIN, 0},  // last: the device is reused below
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    eng.events.clear();
    SetUp();
    loginDev();
    uint32_t t = openOrder();
    mediaId = lastConnReq();
    accept(mediaId, kMediaEngine);
    feed(mediaId, kMediaEngine, devPacket(0x0221, c.len, c.result));
    EXPECT_EQ(resultOf(t), c.code);
    EXPECT_EQ(cam()->iRealplayFlowState, 0);
    EXPECT_EQ(mod.NPC_F_PVM_QXSP_QueryConn(mediaId), nullptr);
    EXPECT_EQ(lastDisconnect(), std::make_pair(mediaId, kMediaEngine));
    EXPECT_EQ(mod.NPC_F_PVM_QXSP_QueryDevByCamera(kCam)->iDevLoginState, c.loginState);
  }
  // After "not logged in" a new camera logs the device in again, closing the old order connection.
  const uint32_t oldOrder = orderId;
  connect(3, QxspSession::param("", "192.0.2.10", 8000, "admin", "admin123", 2, 0));
  EXPECT_NE(lastConnReq(), oldOrder);
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_QueryConn(oldOrder), nullptr);
}

// An open takes over the device's established spare connection: no new connection, the open
// request goes out on it at once.
TEST_F(QxspLive, OpenTakesOverTheSpareConnection) {
  ConnectOpts o;
  o.spare = 1;
  loginDev(0x0214, o);
  auto reqs = connReqs();
  ASSERT_EQ(reqs.size(), 2u);
  const uint32_t spareId = reqs[1].dwModuleId;
  accept(spareId, 60);
  uint32_t t = openOrder();
  EXPECT_EQ(connReqs().size(), 2u);
  EXPECT_TRUE(log.contains("Switch QXSP Dev Spare to Media CHannel Success [0]"));
  EXPECT_EQ(cam()->dwMediaProTcpConnId, spareId);
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_QueryConn(spareId)->iLogicConnType, NPC_D_PVM_DP_QXSP_LOGIN_CONN_TYPE_REALPLAY);
  EXPECT_EQ(cam()->iRealplayFlowState, NPC_D_PVM_DP_QXSP_REALPLAY_FLOW_STATE_WAIT_OPEN_RESP);
  EXPECT_EQ(sentNums(spareId), std::vector<uint16_t>{0x0221});
  feed(spareId, 60, devPacket(0x0221, 36, 0));
  EXPECT_EQ(resultOf(t), 0);
  // The taken-over connection is the camera's: deleting the camera closes it.
  EXPECT_EQ(resultOf(camOrder(ORDER_CAMERA_DISCONNECT, kCam)), 0);
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_QueryConn(spareId), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Close.

TEST_F(QxspLive, CloseWhilePlayingAsksTheDevice) {
  play();
  eng.events.clear();
  uint32_t t = camOrder(ORDER_CLOSE_REALPLAY, kCam);
  auto s = sent(mediaId);
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(u16At(s[0], 8), 0x0202);
  ASSERT_EQ(s[0].size(), 28u);
  const uint32_t closeTrans = u32At(s[0], 12);
  EXPECT_NE(closeTrans, 0u);
  EXPECT_EQ(cam()->iRealplayFlowState, NPC_D_PVM_DP_QXSP_REALPLAY_FLOW_STATE_WAIT_CLOSE_RESP);
  EXPECT_EQ(resultOf(t), -1);
  // Frames in state 4 are not taken.
  media(videoPkt(0, 1, 10));
  EXPECT_TRUE(frames().empty());
  feed(mediaId, kMediaEngine, devPacket(0x0202, 20, 0, 1, closeTrans));
  EXPECT_EQ(resultOf(t), 0);
  EXPECT_EQ(disconnects(), (std::vector<std::pair<uint32_t, uint32_t>>{{mediaId, kMediaEngine}}));
  EXPECT_EQ(cam()->iRealplayFlowState, 0);
  EXPECT_EQ(cam()->iCameraWorkMode, 0);
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_TransCount(), 0);
  EXPECT_EQ(resultOf(openOrder()), -1);  // a new open starts
}

// The closes that used to leave an order unanswered or the camera stuck.
TEST_F(QxspLive, CloseRaces) {
  struct Case {
    const char* what;
    int reach;           // 1: media connecting, 2: waiting for the open answer, 3: playing
    bool loseOrderConn;  // the device's order connection is gone
    int deviceResult;    // -1: the device is not asked
    int32_t closeCode;   // the close order's answer
    int32_t openCode;    // the open order's answer (-1: answered before)
  };
  const Case cases[] = {
      {"no order connection", 3, true, -1, 0, 0},
      {"media connection still connecting", 1, false, -1, 0, NPC_D_PVM_ERRORCODE_PEER_CONN_CLOSED},
      {"open answer still outstanding", 2, false, 0, 0, NPC_D_PVM_ERRORCODE_PEER_CONN_CLOSED},
      {"device refuses the close", 3, false, 1, NPC_D_PVM_ERRORCODE_SYSTEM_ERROR, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    eng.events.clear();
    SetUp();
    loginDev();
    uint32_t open = openOrder();
    mediaId = lastConnReq();
    if (c.reach >= 2) accept(mediaId, kMediaEngine);
    if (c.reach >= 3) feed(mediaId, kMediaEngine, devPacket(0x0221, 36, 0));
    if (c.loseOrderConn) lost(orderId, kOrderEngine);
    uint32_t close = camOrder(ORDER_CLOSE_REALPLAY, kCam);
    if (c.deviceResult >= 0) {
      auto s = sent(mediaId);
      ASSERT_FALSE(s.empty());
      ASSERT_EQ(u16At(s.back(), 8), 0x0202);
      EXPECT_EQ(resultOf(close), -1);
      feed(mediaId, kMediaEngine, devPacket(0x0202, 20, static_cast<uint8_t>(c.deviceResult), 1, u32At(s.back(), 12)));
    }
    if (c.reach == 1) {
      // The engine's answers for the connection let go: it is closed, and nothing is opened on it.
      accept(mediaId, kMediaEngine);
      EXPECT_TRUE(sent(mediaId).empty());
      EXPECT_EQ(lastDisconnect(), std::make_pair(mediaId, kMediaEngine));
    }
    if (c.reach == 2) feed(mediaId, kMediaEngine, devPacket(0x0221, 36, 0));  // too late: ignored
    EXPECT_EQ(resultOf(close), c.closeCode);
    EXPECT_EQ(resultOf(open), c.openCode);
    EXPECT_EQ(cam()->iRealplayFlowState, 0);
    EXPECT_EQ(cam()->iCameraWorkMode, 0);
    EXPECT_EQ(mod.NPC_F_PVM_QXSP_QueryConn(mediaId), nullptr);
    EXPECT_EQ(mod.NPC_F_PVM_QXSP_TransCount(), 0);
    // Nothing blocks the next open.
    EXPECT_EQ(resultOf(openOrder()), -1);
    EXPECT_EQ(cam()->iRealplayFlowState, NPC_D_PVM_DP_QXSP_REALPLAY_FLOW_STATE_MEDIA_CONNECTING);
  }
}

TEST_F(QxspLive, CloseWithoutAFlowAndForUnknownCamera) {
  loginDev();
  EXPECT_EQ(resultOf(camOrder(ORDER_CLOSE_REALPLAY, 0x999)), NPC_D_PVM_ERRORCODE_PEER_CONN_CLOSED);
  EXPECT_EQ(resultOf(camOrder(ORDER_CLOSE_REALPLAY, kCam)), 0);
  EXPECT_TRUE(log.contains("NPC_F_PVM_QXSP_DoOrderData_ORDER_CLOSE_REALPLAY play state is 0"));
}

// Losing the media connection ends the flow: playing, the camera hears of it; closing, the close
// order is answered (the stream is closed).
TEST_F(QxspLive, MediaConnectionLossEndsTheFlow) {
  play();
  lost(mediaId, kMediaEngine);
  ASSERT_EQ(notices().size(), 1u);
  EXPECT_EQ(notices()[0].cause, NPC_D_PVM_DP_QXSP_DISCONN_CAUSE_MEDIA);
  EXPECT_EQ(cam()->iRealplayFlowState, 0);
  EXPECT_EQ(cam()->iCameraWorkMode, 0);
  uint32_t open = openOrder();
  mediaId = lastConnReq();
  accept(mediaId, kMediaEngine);
  feed(mediaId, kMediaEngine, devPacket(0x0221, 36, 0));
  ASSERT_EQ(resultOf(open), 0);
  uint32_t close = camOrder(ORDER_CLOSE_REALPLAY, kCam);
  lost(mediaId, kMediaEngine);
  EXPECT_EQ(resultOf(close), 0);
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_TransCount(), 0);
  EXPECT_TRUE(disconnects().empty());
}

// ---------------------------------------------------------------------------------------------
// Switch and query.

TEST_F(QxspLive, SwitchChannel) {
  auto sw = [&](uint16_t ch, uint16_t stream, uint32_t camId = kCam) {
    NPC_S_PVM_ORDER_BODY_SWITCH_CHANNEL b{camId, ch, stream};
    return order(ORDER_SWITCH_CHANNEL, &b, sizeof b);
  };
  loginDev();
  EXPECT_EQ(resultOf(sw(2, 0, 0x999)), NPC_D_PVM_ERRORCODE_PEER_CONN_CLOSED);
  EXPECT_EQ(resultOf(sw(1, 0)), 0);  // the same: nothing to do
  EXPECT_TRUE(log.contains("Switch ChNo: ChNo And StreamNo Same."));
  EXPECT_EQ(resultOf(sw(0xFFFF, 0xFFFF)), 0);
  // Not playing: the values are stored.
  EXPECT_EQ(resultOf(sw(3, 0xFFFF)), 0);
  EXPECT_EQ(cam()->iChNo, 3);
  EXPECT_EQ(cam()->iStreamNo, 0);

  // Waiting for the open answer: busy, and the open keeps its place.
  uint32_t open = openOrder();
  mediaId = lastConnReq();
  accept(mediaId, kMediaEngine);
  EXPECT_EQ(resultOf(sw(4, 1)), NPC_D_PVM_ERRORCODE_SYSTEM_ERROR);
  feed(mediaId, kMediaEngine, devPacket(0x0221, 36, 0));
  EXPECT_EQ(resultOf(open), 0);

  // Playing: the old stream is closed and the new one opened (short form, no transaction), the
  // player is told to drop what it holds, and the open answer answers the switch.
  media(videoPkt(0, 1, 8));
  eng.events.clear();
  uint32_t t = sw(5, 1);
  auto s = sent(mediaId);
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(u16At(s[0], 8), 0x0202);
  EXPECT_EQ(u32At(s[0], 12), 0u);
  EXPECT_EQ(u16At(s[0], 24), 3);
  EXPECT_EQ(u16At(s[0], 26), 0);
  EXPECT_EQ(u16At(s[1], 8), 0x0201);
  ASSERT_EQ(s[1].size(), 28u);
  EXPECT_EQ(u16At(s[1], 24), 5);
  EXPECT_EQ(u16At(s[1], 26), 1);
  auto f = frames();
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0].head.iFrameFlag, NPC_D_MON_FRAME_FLAG_END);
  EXPECT_TRUE(f[0].data.empty());
  EXPECT_EQ(cam()->iRealplayFlowState, NPC_D_PVM_DP_QXSP_REALPLAY_FLOW_STATE_WAIT_OPEN_RESP);
  EXPECT_EQ(resultOf(t), -1);
  feed(mediaId, kMediaEngine, devPacket(0x0201, 20, 0));
  EXPECT_EQ(resultOf(t), 0);
  EXPECT_EQ(cam()->iChNo, 5);
  EXPECT_EQ(cam()->iStreamNo, 1);
  // The new stream's video goes up from its first I-frame.
  eng.events.clear();
  media(concat({videoPkt(1000, 2, 8), videoPkt(1040, 1, 8), videoPkt(1080, 2, 8)}));
  EXPECT_EQ(videoStamps(), (std::vector<int32_t>{1040, 1080}));

  // Query: the camera's values; an unknown camera gets its order back.
  NPC_S_PVM_ORDER_BODY_QUERY_CUR_CHSTREAMNO q{kCam, 0, 0};
  auto a = answersTo(order(ORDER_QUERY_CUR_CHSTREAMNO, &q, sizeof q));
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(a[0].iResult, 0);
  EXPECT_EQ(u16At(a[0].body, 4), 5);
  EXPECT_EQ(u16At(a[0].body, 6), 1);
  q.dwCameraConnId = 0x999;
  a = answersTo(order(ORDER_QUERY_CUR_CHSTREAMNO, &q, sizeof q));
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(u32At(a[0].body, 4), 0u);
}

TEST_F(QxspLive, RqvlBelow211CannotSwitch) {
  ConnectOpts o;
  o.customId = "rqvl";
  loginDev(0x0210, o);
  NPC_S_PVM_ORDER_BODY_SWITCH_CHANNEL b{kCam, 2, 0};
  EXPECT_EQ(resultOf(order(ORDER_SWITCH_CHANNEL, &b, sizeof b)), NPC_D_PVM_ERRORCODE_NOT_SUPPORT_OPERATE);
  EXPECT_TRUE(log.contains("[rqvl]version < 2.11, not support."));
}

// ---------------------------------------------------------------------------------------------
// Control orders.

TEST_F(QxspLive, ForceIFrameGoesOutOnTheOrderConnection) {
  loginDev();
  const size_t before = sent(orderId).size();
  uint32_t t = camOrder(ORDER_FORCE_I_FRAME, kCam);
  auto s = sent(orderId);
  ASSERT_EQ(s.size(), before + 1);
  EXPECT_EQ(u16At(s.back(), 8), 0x0204);
  ASSERT_EQ(s.back().size(), 32u);
  EXPECT_EQ(u32At(s.back(), 20), kLoginId);
  EXPECT_EQ(u32At(s.back(), 24), 1u);
  EXPECT_EQ(u32At(s.back(), 28), 0u);
  EXPECT_TRUE(answersTo(t).empty());
}

// Each control order: refused on an old device without a packet; otherwise one request on the
// order connection carrying the transaction and the order's values, answered by the device.
TEST_F(QxspLive, ControlOrdersByVersion) {
  struct Case {
    int32_t code;
    std::vector<uint8_t> body;  // after the camera id
    int32_t oldCode;            // on a device of version 0x0202
    uint16_t num;
    size_t len;
    size_t valueOff;  // where the order's first value travels (0: none)
  };
  auto i32s = [](std::initializer_list<int32_t> v) {
    std::vector<uint8_t> b;
    for (int32_t x : v) b.insert(b.end(), reinterpret_cast<uint8_t*>(&x), reinterpret_cast<uint8_t*>(&x) + 4);
    return b;
  };
  const Case cases[] = {
      {ORDER_CTRL_MEDIA_STREAM, i32s({2, 77}), 0, 0x0223, 36, 28},
      {ORDER_ONLY_I_FRAME, i32s({1}), NPC_D_PVM_DP_QXSP_ERRORCODE_ONLY_I_NOT_SUPPORT, 0x0224, 32, 28},
      {ORDER_GET_VIDEO_QUALITY_CAP, std::vector<uint8_t>(228, 0), NPC_D_PVM_DP_QXSP_ERRORCODE_QUALITY_NOT_SUPPORT,
       0x0225, 256, 0},
      {ORDER_GET_VIDEO_QUALITY_LEVEL, i32s({0}), NPC_D_PVM_DP_QXSP_ERRORCODE_QUALITY_NOT_SUPPORT, 0x0226, 32, 0},
      {ORDER_SET_VIDEO_QUALITY_LEVEL, i32s({4}), NPC_D_PVM_DP_QXSP_ERRORCODE_QUALITY_NOT_SUPPORT, 0x0227, 32, 28},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    std::vector<uint8_t> body = i32s({static_cast<int32_t>(kCam)});
    body.insert(body.end(), c.body.begin(), c.body.end());
    for (uint16_t version : {0x0202, 0x0203}) {
      TearDown();
      eng.events.clear();
      SetUp();
      play(version);
      const size_t before = sent(orderId).size();
      uint32_t t = order(c.code, body.data(), body.size());
      auto s = sent(orderId);
      if (version == 0x0202) {
        EXPECT_EQ(resultOf(t), c.oldCode);
        EXPECT_EQ(s.size(), before);
        continue;
      }
      ASSERT_EQ(s.size(), before + 1);
      EXPECT_EQ(u16At(s.back(), 8), c.num);
      ASSERT_EQ(s.back().size(), c.len);
      const uint32_t trans = u32At(s.back(), 12);
      EXPECT_NE(trans, 0u);
      EXPECT_EQ(u32At(s.back(), 20), kLoginId);
      if (c.num == 0x0223 || c.num == 0x0224) {
        EXPECT_EQ(u32At(s.back(), 24), 0xC0FFEEu);  // the media session id
      } else {
        EXPECT_EQ(u16At(s.back(), 24), 1);
        EXPECT_EQ(u16At(s.back(), 26), 0);
      }
      if (c.valueOff) {
        EXPECT_EQ(u32At(s.back(), c.valueOff), u32At(c.body, 0));
      }
      if (c.num == 0x0223) {
        EXPECT_EQ(u32At(s.back(), 32), 77u);
      }
      EXPECT_EQ(resultOf(t), -1);
      feed(orderId, kOrderEngine, devPacket(c.num, 20, 165, 1, trans));
      EXPECT_EQ(resultOf(t), 6165);
      EXPECT_EQ(mod.NPC_F_PVM_QXSP_TransCount(), 0);
    }
  }
  // Without an order connection: 1005.
  lost(orderId, kOrderEngine);
  int32_t lvl[2] = {static_cast<int32_t>(kCam), 0};
  EXPECT_EQ(resultOf(order(ORDER_GET_VIDEO_QUALITY_LEVEL, lvl, sizeof lvl)), NPC_D_PVM_ERRORCODE_PEER_CONN_CLOSED);
  EXPECT_EQ(resultOf(order(ORDER_ONLY_I_FRAME, lvl, sizeof lvl)), NPC_D_PVM_ERRORCODE_PEER_CONN_CLOSED);
  lvl[0] = 0x999;
  EXPECT_EQ(resultOf(order(ORDER_CTRL_MEDIA_STREAM, lvl, sizeof lvl)), NPC_D_PVM_ERRORCODE_PEER_CONN_CLOSED);
}

// The capability answer: the count cut to 0..8, the entries copied byte for byte, and the
// length checked against what the count claims; the level answer at 28.
TEST_F(QxspLive, VideoQualityAnswers) {
  struct Case {
    const char* what;
    uint32_t count;      // as the device writes it
    size_t entriesSent;  // entries actually in the packet
    int32_t code;
    int32_t countUp;
  };
  const Case cases[] = {
      {"three", 3, 3, 0, 3},
      {"none", 0, 0, 0, 0},
      {"twelve claimed, eight sent", 12, 8, 0, 8},
      {"0xFFFFFFFF claimed, eight sent", 0xFFFFFFFFu, 8, 0, 8},
      {"three claimed, two sent", 3, 2, NPC_D_PVM_ERRORCODE_PRO_PACKET_FORMAT_ERROR, 0},
      {"count cut off", 1, 0, NPC_D_PVM_ERRORCODE_PRO_PACKET_FORMAT_ERROR, 0},
  };
  loginDev();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> body(232, 0);
    putU32(body, 0, kCam);
    uint32_t t = order(ORDER_GET_VIDEO_QUALITY_CAP, body.data(), body.size());
    const uint32_t trans = u32At(sent(orderId).back(), 12);
    const size_t len = std::string(c.what) == "count cut off" ? 30 : 32 + 28 * c.entriesSent;
    auto ans = devPacket(0x0225, len, 0, 1, trans);
    if (len >= 32) putU32(ans, 28, c.count);
    for (size_t i = 0; i < c.entriesSent; ++i) {
      for (size_t k = 0; k < 28; ++k) ans[32 + 28 * i + k] = static_cast<uint8_t>(i * 28 + k + 1);
    }
    feed(orderId, kOrderEngine, ans);
    auto a = answersTo(t);
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].iResult, c.code);
    ASSERT_EQ(a[0].body.size(), 232u);
    EXPECT_EQ(static_cast<int32_t>(u32At(a[0].body, 4)), c.countUp);
    for (int i = 0; i < c.countUp; ++i) {
      for (int k = 0; k < 28; ++k) ASSERT_EQ(a[0].body[8 + 28 * i + k], static_cast<uint8_t>(i * 28 + k + 1));
    }
    if (c.countUp < 8) {
      EXPECT_EQ(a[0].body[8 + 28 * c.countUp], 0);
    }
  }
  int32_t lvl[2] = {static_cast<int32_t>(kCam), 0};
  uint32_t t = order(ORDER_GET_VIDEO_QUALITY_LEVEL, lvl, sizeof lvl);
  auto ans = devPacket(0x0226, 32, 0, 1, u32At(sent(orderId).back(), 12));
  putU32(ans, 28, 3);
  feed(orderId, kOrderEngine, ans);
  auto a = answersTo(t);
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(a[0].iResult, 0);
  EXPECT_EQ(u32At(a[0].body, 4), 3u);
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_TransCount(), 0);
}

// ---------------------------------------------------------------------------------------------
// Media packets.

// The bit fields of a video packet and the mapping of codec and frame type.
TEST(QxspLivePacket, VideoBitFieldsAndMapping) {
  struct Case {
    int codec, type;
    int32_t codecUp, typeUp;
  };
  const Case cases[] = {{0, 0, 10, 2}, {1, 1, 10, 1}, {2, 2, 11, 2}, {3, 5, 12, 5}, {4, 6, 13, 6},
                        {5, 7, 10, 2}, {15, 15, 10, 2}, {4, 3, 13, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.codec << "/" << c.type);
    auto p = videoPkt(0xFFFFFFF0u, c.type, 3, 0, c.codec, 4095, 2161, 127, 32767);
    NPC_S_PVM_DP_QXSP_VIDEO_FRAME f;
    ASSERT_EQ(NPC_F_PVM_QXSP_ReadVideoFrame(p.data(), p.size(), &f), 1);
    NPC_S_MON_MEDIA_FRAME_HEAD h;
    NPC_F_PVM_QXSP_FillVideoFrameHead(f, &h);
    EXPECT_EQ(h.iMediaType, 0);
    EXPECT_EQ(h.iVideoCodecId, c.codecUp);
    EXPECT_EQ(h.iVideoFrameType, c.typeUp);
    EXPECT_EQ(h.iVideoWidth, 4095);
    EXPECT_EQ(h.iVideoHeight, 2161);
    EXPECT_EQ(h.iVideoFrameRate, 127);
    EXPECT_EQ(h.iVideoBitRate, 32767);
    EXPECT_EQ(h.iTimestamp, static_cast<int32_t>(0xFFFFFFF0u));
    EXPECT_EQ(f.iDataLen, 3);
    EXPECT_EQ(h.iAudioCodecId | h.iFrameFlag | h.iPlayPos | h.iFileTotalLen | h.iReserve1 | h.iReserve2, 0);
  }
  // Neighbouring fields do not bleed into each other.
  auto p = videoPkt(7, 1, 0, 0, 0, 0, 0xFFF, 0, 0x7FFF);
  NPC_S_PVM_DP_QXSP_VIDEO_FRAME f;
  ASSERT_EQ(NPC_F_PVM_QXSP_ReadVideoFrame(p.data(), p.size(), &f), 1);
  EXPECT_EQ(f.uiWidth, 0u);
  EXPECT_EQ(f.uiHeight, 0xFFFu);
  EXPECT_EQ(f.uiFrameRate, 0u);
  EXPECT_EQ(f.uiBitRate, 0x7FFFu);
  // A packet shorter than its fields is not read.
  EXPECT_EQ(NPC_F_PVM_QXSP_ReadVideoFrame(p.data(), 31, &f), 0);
  NPC_S_PVM_DP_QXSP_AUDIO_FRAME a;
  EXPECT_EQ(NPC_F_PVM_QXSP_ReadAudioFrame(p.data(), 31, &a), 0);
}

// Video goes up from the first I-frame after the open; audio from the start; the head is the
// packet's, the data byte for byte.
TEST_F(QxspLive, VideoWaitsForTheFirstIFrameAudioDoesNot) {
  play();
  media(concat({videoPkt(0, 2, 100, 1), audioPkt(5, 1, pattern(40, 1)), videoPkt(40, 1, 300, 2),
                videoPkt(80, 2, 120, 3), videoPkt(120, 0, 0)}));
  auto f = frames();
  ASSERT_EQ(f.size(), 3u);
  EXPECT_EQ(f[0].head.iMediaType, 1);
  EXPECT_EQ(f[0].head.iTimestamp, 5);
  EXPECT_EQ(f[1].head.iMediaType, 0);
  EXPECT_EQ(f[1].head.iVideoFrameType, 1);
  EXPECT_EQ(f[1].head.iVideoWidth, 640);
  EXPECT_EQ(f[1].head.iVideoHeight, 360);
  EXPECT_EQ(f[1].head.iVideoFrameRate, 25);
  EXPECT_EQ(f[1].head.iVideoBitRate, 800);
  EXPECT_EQ(f[1].head.iTimestamp, 40);
  EXPECT_EQ(f[1].camId, kCam);
  auto i = videoPkt(40, 1, 300, 2);
  EXPECT_EQ(f[1].data, std::vector<uint8_t>(i.begin() + 32, i.end()));
  EXPECT_EQ(f[2].head.iTimestamp, 80);
  EXPECT_EQ(f[2].head.iVideoFrameType, 2);
  EXPECT_EQ(cam()->iFrameRate, 25);
}

// Group statistics: the group between two I-frames gives iGop and the average frame size.
TEST_F(QxspLive, GroupStatistics) {
  play();
  media(concat({videoPkt(0, 1, 1000), videoPkt(40, 2, 100), videoPkt(80, 2, 100), videoPkt(120, 3, 200)}));
  EXPECT_EQ(cam()->iGop, 0);
  media(videoPkt(160, 1, 700, 0, 1, 640, 360, 0));  // frame rate 0 keeps the last one
  EXPECT_EQ(cam()->iGop, 4);
  EXPECT_EQ(cam()->iAvgFrameSize, 350);
  EXPECT_EQ(cam()->iFrameRate, 25);
  EXPECT_EQ(cam()->iFramesSinceI, 1);
  EXPECT_EQ(cam()->iBytesSinceI, 700);
}

// Audio by device codec: passed through, or decoded to 16-bit PCM by the codecs; ADPCM in whole
// 256-byte blocks of 505 samples (a tail is ignored and logged).
TEST_F(QxspLive, AudioConversionByCodec) {
  std::vector<uint8_t> g711 = pattern(320, 9);
  std::vector<uint8_t> adpcm = pattern(512, 4);
  adpcm[2] = 30;  // step index of the first block
  adpcm[258] = 70;
  auto pcm = [](int conv, const std::vector<uint8_t>& in, size_t n) {
    std::vector<int16_t> out(n / 2 + 600);
    if (conv == 2) g711a_decode(out.data(), in.data(), static_cast<int>(in.size()));
    if (conv == 3) g711u_decode(out.data(), in.data(), static_cast<int>(in.size()));
    if (conv == 4) {
      for (size_t b = 0; b < in.size() / 256; ++b) ima_adpcm_decoder(0, in.data() + 256 * b, out.data() + 505 * b, 505, 1);
    }
    const auto* p = reinterpret_cast<const uint8_t*>(out.data());
    return std::vector<uint8_t>(p, p + n);
  };
  struct Case {
    const char* what;
    int codec;
    std::vector<uint8_t> in;
    int32_t codecUp;
    std::vector<uint8_t> out;
    bool logsTail;
  };
  const std::vector<uint8_t> a300(adpcm.begin(), adpcm.begin() + 300);
  const std::vector<uint8_t> a200(adpcm.begin(), adpcm.begin() + 200);
  const Case cases[] = {
      {"raw", 1, g711, 20, g711, false},
      {"A-law", 2, g711, 30, pcm(2, g711, 640), false},
      {"mu-law", 3, g711, 30, pcm(3, g711, 640), false},
      {"ADPCM two blocks", 4, adpcm, 30, pcm(4, adpcm, 2020), false},
      {"ADPCM 300 bytes", 4, a300, 30, pcm(4, a300, 1010), true},
      {"ADPCM 200 bytes", 4, a200, 30, {}, true},
      {"codec 6", 6, g711, 25, g711, false},
  };
  play();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    eng.events.clear();
    log.clear();
    media(audioPkt(123, c.codec, c.in, 16000, 32, 2));
    auto f = frames();
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].head.iMediaType, 1);
    EXPECT_EQ(f[0].head.iAudioCodecId, c.codecUp);
    EXPECT_EQ(f[0].head.iAudioSampleRate, 16000);
    EXPECT_EQ(f[0].head.iAudioBitRate, 32);
    EXPECT_EQ(f[0].head.iAudioChNum, 2);
    EXPECT_EQ(f[0].head.iTimestamp, 123);
    EXPECT_EQ(f[0].data, c.out);
    EXPECT_EQ(log.contains("not a multiple of 256"), c.logsTail);
  }
  // An unknown codec is logged and dropped; a packet without data is dropped.
  eng.events.clear();
  media(concat({audioPkt(1, 5, g711), audioPkt(2, 2, {})}));
  EXPECT_TRUE(frames().empty());
  EXPECT_TRUE(log.contains("NPC_F_PVM_QXSP_DoMediaPacket_PE_AUDIO_FRAME i_uiCodec error, i_uiCodec: 5."));
}

// Frames over UDP: video unchanged (from an I-frame on), audio converted by its codec id, a
// frame too short for its head or of an unknown codec dropped, nothing outside playing.
TEST_F(QxspLive, FramesOverUdp) {
  NPC_S_MON_MEDIA_FRAME_HEAD v{};
  v.iVideoCodecId = 11;
  v.iVideoWidth = 320;
  v.iVideoFrameType = 2;
  v.iTimestamp = 9;
  loginDev();
  openOrder();
  mediaId = lastConnReq();
  accept(mediaId, kMediaEngine);
  udpFrame(v, pattern(10, 1));  // waiting for the open answer: ignored
  feed(mediaId, kMediaEngine, devPacket(0x0221, 36, 0));
  udpFrame(v, pattern(10, 1));  // a P-frame first: dropped
  v.iVideoFrameType = 1;
  udpFrame(v, pattern(12, 2));
  v.iVideoFrameType = 3;
  udpFrame(v, pattern(14, 3));
  NPC_S_MON_MEDIA_FRAME_HEAD a{};
  a.iMediaType = 1;
  a.iAudioCodecId = 21;
  a.iAudioSampleRate = 8000;
  udpFrame(a, pattern(16, 4));
  a.iAudioCodecId = 20;
  udpFrame(a, pattern(6, 5));
  a.iAudioCodecId = 24;
  udpFrame(a, pattern(6, 6));
  udpFrame(v, {}, 67);
  auto f = frames();
  ASSERT_EQ(f.size(), 4u);
  EXPECT_EQ(f[0].head.iVideoFrameType, 1);
  EXPECT_EQ(f[0].head.iVideoCodecId, 11);
  EXPECT_EQ(f[0].head.iVideoWidth, 320);
  EXPECT_EQ(f[0].data, pattern(12, 2));
  EXPECT_EQ(f[1].data, pattern(14, 3));
  EXPECT_EQ(f[2].head.iAudioCodecId, 30);
  std::vector<int16_t> s(16);
  g711a_decode(s.data(), pattern(16, 4).data(), 16);
  EXPECT_EQ(f[2].data, std::vector<uint8_t>(reinterpret_cast<uint8_t*>(s.data()), reinterpret_cast<uint8_t*>(s.data()) + 32));
  EXPECT_EQ(f[3].head.iAudioCodecId, 20);
  EXPECT_EQ(f[3].data, pattern(6, 5));
  EXPECT_TRUE(log.contains("iAudioCodecId error, iAudioCodecId: 24."));
  EXPECT_TRUE(log.contains("NPC_F_PVM_QXSP_DoNetData_NET_RECV_MEDIA_FRAME iFrameLen error."));
}

// ---------------------------------------------------------------------------------------------
// Finding a packet boundary.

std::vector<uint8_t> withLen(std::vector<uint8_t> b, int32_t len) {
  putU32(b, 4, static_cast<uint32_t>(len));
  return b;
}

TEST(QxspLivePacket, BoundaryScan) {
  const auto p52 = heartbeat(0);
  auto head28 = [](int32_t len) {
    std::vector<uint8_t> b = devPacket(0x0E01, 28, 0, 0);
    putU32(b, 4, static_cast<uint32_t>(len));
    return b;
  };
  const std::vector<uint8_t> junk(13, 0x5A);
  struct Case {
    const char* what;
    std::vector<uint8_t> data;
    int result;
    uint64_t drop;
  };
  const Case cases[] = {
      {"fewer than 20 bytes", std::vector<uint8_t>(19, 0xEE), NPC_D_PVM_DP_QXSP_RESYNC_NEED_MORE, 0},
      {"packet after junk, next head present", concat({junk, p52, p52}), NPC_D_PVM_DP_QXSP_RESYNC_FOUND, 13},
      {"packet at 0", concat({p52, p52}), NPC_D_PVM_DP_QXSP_RESYNC_FOUND, 0},
      {"packet after junk, next head not yet", concat({junk, p52, std::vector<uint8_t>(19, 0)}),
       NPC_D_PVM_DP_QXSP_RESYNC_NEED_MORE, 13},
      // The bound is measured from the scan position: 40 + 26 + 20 > 68 bytes buffered, although
      // 26 + 20 is not; the next magic would lie past the end.
      {"false magic near the end", concat({std::vector<uint8_t>(40, 1), head28(26)}),
       NPC_D_PVM_DP_QXSP_RESYNC_NEED_MORE, 40},
      {"false magic near the end with a short length", concat({std::vector<uint8_t>(40, 1), head28(19)}),
       NPC_D_PVM_DP_QXSP_RESYNC_NEED_MORE, 48},
      {"length below 20 is no start", concat({withLen(p52, 19), std::vector<uint8_t>(30, 1)}),
       NPC_D_PVM_DP_QXSP_RESYNC_NEED_MORE, 82 - 20},
      {"negative length is no start", concat({withLen(p52, -40), junk, p52, p52}), NPC_D_PVM_DP_QXSP_RESYNC_FOUND,
       65},
      {"magic whose next magic is missing", concat({withLen(p52, 30), p52, p52}), NPC_D_PVM_DP_QXSP_RESYNC_FOUND, 52},
      {"no magic: keep the last 20", std::vector<uint8_t>(100, 0xEE), NPC_D_PVM_DP_QXSP_RESYNC_NEED_MORE, 80},
      {"20 MiB limit", concat({junk, withLen(p52, 0x13FFFFF + 1)}), NPC_D_PVM_DP_QXSP_RESYNC_EMPTY, 65},
      {"just under the limit waits", concat({junk, withLen(p52, 0x13FFFFF)}), NPC_D_PVM_DP_QXSP_RESYNC_NEED_MORE, 13},
      {"largest length", concat({junk, withLen(p52, 0x7FFFFFFF)}), NPC_D_PVM_DP_QXSP_RESYNC_EMPTY, 65},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // An exact-size copy, so that a read past the end is caught by the address sanitizer.
    std::unique_ptr<uint8_t[]> buf(new uint8_t[c.data.size()]);
    memcpy(buf.get(), c.data.data(), c.data.size());
    auto r = NPC_F_PVM_QXSP_ScanPacketStart(buf.get(), c.data.size());
    EXPECT_EQ(r.iResult, c.result);
    EXPECT_EQ(r.qwDrop, c.drop);
  }
}

// Every cut of a buffer that ends in a magic at every distance from the end: the scan never
// reads past the buffer.
TEST(QxspLivePacket, BoundaryScanAtTheEndOfTheBuffer) {
  for (size_t len = 0; len < 64; ++len) {
    for (size_t at = 0; at + 4 <= len; ++at) {
      std::unique_ptr<uint8_t[]> buf(new uint8_t[len]);
      memset(buf.get(), 0, len);
      const uint8_t magic[4] = {0xEE, 0xEE, 0xFF, 0xFF};
      memcpy(buf.get() + at, magic, 4);
      if (at + 8 <= len) buf[at + 4] = 20;
      auto r = NPC_F_PVM_QXSP_ScanPacketStart(buf.get(), len);
      EXPECT_NE(r.iResult, NPC_D_PVM_DP_QXSP_RESYNC_EMPTY);
      EXPECT_LE(r.qwDrop, len);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Backlog.

// Threshold, cache clear (once), reopen marker, resynchronisation, next I-frame.
TEST_F(QxspLive, BacklogSequence) {
  play();
  // One group: I of 1000 and three P of 200 at 25 fps gives an average of 400, so the limit is
  // 400 x 25 x 20 = 200000 bytes waiting.
  media(concat({videoPkt(0, 1, 1000), videoPkt(40, 2, 200), videoPkt(80, 2, 200), videoPkt(120, 2, 200),
                videoPkt(160, 1, 1000)}));
  ASSERT_EQ(cam()->iAvgFrameSize, 400);
  media(videoPkt(200, 2, 10), 199999);
  EXPECT_EQ(netCount(NET_REQU_CLEAR_CACHE), 0);
  media(videoPkt(240, 2, 10), 200000);
  EXPECT_EQ(netCount(NET_REQU_CLEAR_CACHE), 1);
  EXPECT_TRUE(log.contains("NPC_F_PVM_QXSP_DoRecvProData NPC_F_PVM_QXSP_SendNetRequMsg_NET_REQU_CLEAR_CACHE."));
  media(videoPkt(280, 2, 10), 0xFFFFFFFFu);  // asked once until the engine answers
  EXPECT_EQ(netCount(NET_REQU_CLEAR_CACHE), 1);
  for (const Event& e : eng.events) {
    if (e.kind == 0 && u32At(e.msg, 0) == NET_REQU_CLEAR_CACHE) {
      EXPECT_EQ(e.msg.size(), 28u);
      EXPECT_EQ(u32At(e.msg, 20), mediaId);
      EXPECT_EQ(u32At(e.msg, 24), kMediaEngine);
    }
  }
  // Half a packet is buffered when the engine reports the clear.
  auto half = videoPkt(320, 2, 100);
  half.resize(50);
  media(half);
  eng.events.clear();
  netIds(NET_REDIRECT_DATA, mediaId, kMediaEngine);
  auto f = frames();
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0].head.iMediaType, NPC_D_MON_MEDIA_TYPE_STREAM_RESET);
  EXPECT_EQ(f[0].data, std::vector<uint8_t>(20, 0));
  EXPECT_TRUE(log.contains("Send Media Data of Reopen Recoder To Up."));
  EXPECT_EQ(cam()->bCacheCleared, 0);
  EXPECT_EQ(cam()->bResync, 1);
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_QueryConn(mediaId)->tRecvBuf.Len(), 0u);
  // The stream resumes mid-packet: the tail is dropped up to the next boundary, then video waits
  // for the I-frame; audio goes up at once.
  auto cut = videoPkt(360, 1, 500);
  std::vector<uint8_t> tail(cut.begin() + 77, cut.end());
  eng.events.clear();
  media(concat({tail, videoPkt(400, 2, 60), audioPkt(410, 1, pattern(8, 1))}));
  EXPECT_TRUE(log.contains("NPC_F_PVM_QXSP_DoRecvProData find frame head."));
  EXPECT_EQ(cam()->bResync, 0);
  media(concat({videoPkt(440, 2, 60), videoPkt(480, 1, 70), videoPkt(520, 2, 80)}));
  f = frames();
  ASSERT_EQ(f.size(), 3u);
  EXPECT_EQ(f[0].head.iMediaType, 1);
  EXPECT_EQ(f[1].head.iTimestamp, 480);
  EXPECT_EQ(f[2].head.iTimestamp, 520);
  // A new clear can be asked for again.
  media(videoPkt(560, 2, 10), 0xFFFFFFFFu);
  EXPECT_EQ(netCount(NET_REQU_CLEAR_CACHE), 1);
}

// While resynchronising, a magic whose declared length is beyond 20 MiB empties the buffer; a
// length below it is waited for.
TEST_F(QxspLive, ResyncGivesUpBeyondTwentyMebibytes) {
  play();
  netIds(NET_REDIRECT_DATA, mediaId, kMediaEngine);
  media(concat({std::vector<uint8_t>(10, 1), withLen(videoPkt(0, 1, 20), 0x1400000)}));
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_QueryConn(mediaId)->tRecvBuf.Len(), 0u);
  media(concat({std::vector<uint8_t>(10, 1), withLen(videoPkt(0, 1, 20), 0x13FFFFF)}));
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_QueryConn(mediaId)->tRecvBuf.Len(), 52u);
  EXPECT_EQ(cam()->bResync, 1);
}

// Redirect on the order connection only empties its buffer.
TEST_F(QxspLive, RedirectOnTheOrderConnection) {
  play();
  auto hb = heartbeat(0);
  hb.resize(30);
  feed(orderId, kOrderEngine, hb);
  eng.events.clear();
  netIds(NET_REDIRECT_DATA, orderId, kOrderEngine);
  EXPECT_TRUE(frames().empty());
  EXPECT_EQ(mod.NPC_F_PVM_QXSP_QueryConn(orderId)->tRecvBuf.Len(), 0u);
}

// ---------------------------------------------------------------------------------------------
// Garbage and splits.

// A stream cut at every offset of a packet head (and inside the data) delivers the same frames.
TEST_F(QxspLive, SplitsAtEveryOffsetOfAPacketHead) {
  play();
  const std::vector<uint8_t> stream = concat({videoPkt(0, 1, 40, 1), audioPkt(10, 1, pattern(16, 2)),
                                              videoPkt(40, 2, 30, 3)});
  media(stream);
  const auto want = frames();
  ASSERT_EQ(want.size(), 3u);
  for (size_t cut = 1; cut < 72 + 48; ++cut) {
    SCOPED_TRACE(cut);
    eng.events.clear();
    media(std::vector<uint8_t>(stream.begin(), stream.begin() + static_cast<long>(cut)));
    media(std::vector<uint8_t>(stream.begin() + static_cast<long>(cut), stream.end()));
    auto got = frames();
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].data, want[i].data);
      EXPECT_EQ(memcmp(&got[i].head, &want[i].head, sizeof got[i].head), 0);
    }
  }
  // One byte at a time.
  eng.events.clear();
  for (uint8_t b : stream) media({b});
  EXPECT_EQ(frames().size(), want.size());
}

// Garbage of any length in front of any packet, the packet possibly split inside its head: the
// realplay connection drops the garbage up to the next boundary and keeps the stream; video
// then waits for an I-frame, audio does not.
TEST_F(QxspLive, GarbageBeforeAPacketHead) {
  play();
  const auto i0 = videoPkt(0, 1, 40, 1);
  const auto p1 = videoPkt(40, 2, 30, 2);
  const auto au = audioPkt(50, 1, pattern(8, 3));
  const auto p2 = videoPkt(80, 2, 30, 4);
  const auto i1 = videoPkt(120, 1, 44, 5);
  for (size_t g : {1, 3, 19, 20, 21, 33}) {
    for (size_t cut = 0; cut < 32; cut += 5) {
      SCOPED_TRACE(testing::Message() << g << " garbage bytes, cut " << cut);
      eng.events.clear();
      log.clear();
      media(concat({i0, p1}));
      std::vector<uint8_t> rest = concat({std::vector<uint8_t>(g, 0x5A), au, p2, i1});
      media(std::vector<uint8_t>(rest.begin(), rest.begin() + static_cast<long>(g + cut)));
      media(std::vector<uint8_t>(rest.begin() + static_cast<long>(g + cut), rest.end()));
      auto f = frames();
      ASSERT_EQ(f.size(), 4u);
      EXPECT_EQ(f[0].head.iTimestamp, 0);
      EXPECT_EQ(f[1].head.iTimestamp, 40);
      EXPECT_EQ(f[2].head.iMediaType, 1);  // the audio behind the garbage
      EXPECT_EQ(f[3].head.iTimestamp, 120);  // P-frame 80 waited for the I-frame
      EXPECT_TRUE(log.contains("NPC_F_PVM_QXSP_DoRecvProData dwPacketFlag error."));
      EXPECT_EQ(cam()->bResync, 0);
      EXPECT_EQ(mod.NPC_F_PVM_QXSP_QueryConn(mediaId)->tRecvBuf.Len(), 0u);
    }
  }
}

}  // namespace
}  // namespace qxsp_test
