// The protocol-bus camera over the real call layer and engine, with a scripted device module:
// connect, play, pull, stop and disconnect; the connect order's body; error answers and call
// failures with their texts in both languages; the state rules of Connect, Stop and Disconnect
// (including the faults of a Stop that moved every state to 2 and of a Disconnect that kept the
// play fields); the disconnect notice; the media time-out under the fake clock; alarms and
// pass-through data; callback swaps while frames flow; the download slots; the operations that
// are not built yet.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bus/nxtp_syn.h"
#include "bus/pvm_msg.h"
#include "bus/pvm_result.h"
#include "bus/vcp.h"
#include "camera/nxtp_camera.h"
#include "fake_device.h"
#include "runtime/clock.h"
#include "runtime/thread.h"
#include "test_support.h"

namespace {

using korven_test::eventually;
using korven_test::FakeClock;
using korven_test::LogCapture;

constexpr uint32_t kVendor = 1009;
constexpr const char* kConnParam =
    "VendorId=1009,DevId=dev-7,DevIp=127.0.0.1,DevPort=5000,DevUserName=admin,DevUserPwd=s3cr3tpw,DevChNo=0,DevStreamNo=0";
constexpr int kCallTimeoutMs = 3000;

// A camera whose download slots a test can fill (they are filled by a download start otherwise).
class TestCamera : public NPC_C_VPI_NXTP_Camera {
 public:
  using NPC_C_VPI_NXTP_Camera::NPC_C_VPI_NXTP_Camera;
  using NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_PR_CreateDownWork;
  using NPC_C_VPI_NXTP_Camera::NPC_F_MPI_MON_Camera_PR_DeleteDownWork;
};

// A call layer and engine with the scripted module under 1009, and one camera on it.
class CameraTest : public ::testing::Test {
 protected:
  void SetUp() override { fakedev::Script::get().reset(); }
  void TearDown() override {
    cam.reset();
    if (syn) NPC_F_NXTP_SYN_DestroyProtocolBusServer(syn);
  }

  // Starts the bus (after a fake clock, when the test installs one) and makes the camera.
  void start(int language = 1, int callTimeoutMs = kCallTimeoutMs, const char* connParam = kConnParam) {
    NPC_S_NXTP_CREATE_PARAM p = NPC_F_NXTP_MakeLocalCreateParam(&table);
    syn = NPC_F_NXTP_SYN_CreateProtocolBusServerEx(&p);
    ASSERT_NE(syn, nullptr);
    cam = makeCamera(language, callTimeoutMs, connParam);
  }
  std::unique_ptr<TestCamera> makeCamera(int language, int callTimeoutMs, const char* connParam) {
    NPC_S_MPI_MON_VCP_PARAM_SET set;
    NPC_F_MPI_MON_VCP_ParseConnParam(connParam, &set);
    int vendor = 0;
    NPC_F_MPI_MON_VCP_GetParamInt(&set, NPC_D_MPI_MON_VCP_PARAM_VENDOR_ID, &vendor);
    auto c = std::make_unique<TestCamera>(syn, "dev-7", static_cast<uint32_t>(vendor), "cust-id", "cust-text", "", 0,
                                          connParam, language, callTimeoutMs, 0);
    c->iConnectMode = 0;
    c->iClientFlag = 0;
    return c;
  }
  fakedev::Script& dev() { return fakedev::Script::get(); }
  std::string lastError(int* code = nullptr) {
    char text[512];
    const int c = cam->NPC_F_MPI_MON_Camera_GetLastError(sizeof text, text);
    if (code) *code = c;
    return text;
  }
  void connectAndPlay() {
    ASSERT_EQ(cam->NPC_F_MPI_MON_Camera_Connect(kCallTimeoutMs, nullptr, 0, 0), 0) << lastError();
    ASSERT_EQ(cam->NPC_F_MPI_MON_Camera_Play(0, 0, 0), 0) << lastError();
  }
  // Sends one media frame up to the camera: its kind, timestamp and data.
  void sendFrame(int mediaType, int timestamp, const std::vector<uint8_t>& data, int frameType = 2) {
    NPC_S_MON_MEDIA_FRAME_HEAD h{};
    h.iMediaType = mediaType;
    h.iTimestamp = timestamp;
    h.iVideoFrameType = frameType;
    std::vector<uint8_t> msg;
    ASSERT_EQ(NPC_F_PVM_MSG_BuildMediaData(&msg, kVendor, cam->NPC_F_MPI_MON_Camera_GetCameraConnId(), h, data.data(),
                                           data.size()),
              1);
    dev().emit(msg);
  }
  void sendDisconnect(uint32_t cameraId, int cause = 1005) {
    std::vector<uint8_t> msg;
    ASSERT_EQ(NPC_F_PVM_MSG_BuildNotifyDisconnect(&msg, kVendor, cameraId, cause, "peer closed"), 1);
    dev().emit(msg);
  }
  // Waits until the engine has run at least one whole pass after now.
  void settle() { ASSERT_TRUE(dev().waitTimerCalls(dev().timerCalls.load(), 3)); }

  NPC_S_NXTP_MODULE_ENTRY entries[1] = {fakedev::entry(kVendor)};
  NPC_S_NXTP_MODULE_TABLE table = {entries, 1};
  NPC_H_NXTP_SYN syn = nullptr;
  std::unique_ptr<TestCamera> cam;
};

// --- The whole session ---------------------------------------------------------------------------

TEST_F(CameraTest, ConnectPlayPullStopDisconnect) {
  LogCapture log;
  start();
  dev().setConnMode(NPC_D_PVM_NET_CONN_MODE_DIRECT_TCP);
  cam->NPC_F_MPI_MON_Camera_SetRealMediaTransMode(1);
  cam->iClientFlag = 5;
  ASSERT_EQ(cam->NPC_F_MPI_MON_Camera_Connect(kCallTimeoutMs, "login-variant", 1, 0), 0) << lastError();
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetState(), NPC_D_MPI_MON_CAMERA_STATE_CONNECTED);
  const uint32_t id = cam->NPC_F_MPI_MON_Camera_GetCameraConnId();
  ASSERT_NE(id, 0u);
  EXPECT_TRUE(log.contains("Connect camera success!"));

  // The connect order carries the camera's id, its texts and the caller's and creator's values.
  const std::vector<uint8_t> cb = dev().lastBody(ORDER_CAMERA_CONNECT);
  ASSERT_EQ(cb.size(), sizeof(NPC_S_PVM_ORDER_BODY_CAMERA_CONNECT));
  NPC_S_PVM_ORDER_BODY_CAMERA_CONNECT body;
  memcpy(&body, cb.data(), sizeof body);
  EXPECT_EQ(body.dwCameraConnId, id);
  EXPECT_STREQ(body.sConnParam, kConnParam);
  EXPECT_STREQ(body.szCustomId, "cust-id");
  EXPECT_STREQ(body.szCustomText, "cust-text");
  EXPECT_EQ(body.iClientFlag, 5);
  EXPECT_EQ(body.iMediaTransMode, 1);
  EXPECT_STREQ(body.szCustomData, "login-variant");
  EXPECT_EQ(body.iCustomNum, 1);
  EXPECT_EQ(body.dwSpareConnFlag, 1u);
  EXPECT_EQ(body.iConnectMode, 0);

  // Play asks the connect mode first, then opens the stream it was given.
  ASSERT_EQ(cam->NPC_F_MPI_MON_Camera_Play(0, 0, 0), 0) << lastError();
  EXPECT_EQ(dev().orderCodes(), (std::vector<int>{ORDER_CAMERA_CONNECT, ORDER_CAMERA_QUERY_CONN_MODE, ORDER_OPEN_REALPLAY}));
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetPlayState(), NPC_D_MPI_MON_CAMERA_PLAY_STATE_PLAYING);
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetPlayType(), NPC_D_MPI_MON_CAMERA_PLAY_TYPE_LIVE);
  EXPECT_TRUE(log.contains("Realplay success!"));

  // Frames arrive interleaved; typed pulls keep each kind in order.
  const int kinds[] = {0, 1, 0, 0, 1, 0, 1};
  for (int i = 0; i < 7; ++i) sendFrame(kinds[i], 100 + i, std::vector<uint8_t>(10 + i, static_cast<uint8_t>(i)));
  ASSERT_TRUE(eventually([&] { return cam->NPC_F_MPI_MON_Camera_GetResidualFrameNum(0) == 7; }));
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetResidualFrameNum(1), 4);
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetResidualFrameNum(2), 3);
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetResidualFrameTimestamp(1), 105);
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetResidualFrameTimestamp(2), 106);
  auto pull = [&](int type) {
    std::vector<int> ts;
    while (NPC_S_MPI_MON_MEDIA_FRAME* f = cam->NPC_F_MPI_MON_Camera_GetMediaFrame(type)) {
      const int i = f->tFrameHead.iTimestamp - 100;
      EXPECT_EQ(f->iFrameDataLen, 10 + i);
      EXPECT_EQ(f->pFrameData[0], static_cast<uint8_t>(i));
      ts.push_back(f->tFrameHead.iTimestamp);
      cam->NPC_F_MPI_MON_Camera_ReleaseFrameData(f);
    }
    return ts;
  };
  EXPECT_EQ(pull(2), (std::vector<int>{101, 104, 106}));
  EXPECT_EQ(pull(1), (std::vector<int>{100, 102, 103, 105}));

  // A waiting pull wakes with the next frame.
  std::thread later([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    sendFrame(0, 200, {1, 2, 3});
  });
  NPC_S_MPI_MON_MEDIA_FRAME* f = cam->NPC_F_MPI_MON_Camera_GetMediaFrameFromQueue(10000);
  later.join();
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->tFrameHead.iTimestamp, 200);
  cam->NPC_F_MPI_MON_Camera_ReleaseFrameData(f);

  ASSERT_EQ(cam->NPC_F_MPI_MON_Camera_Stop(kCallTimeoutMs), 0) << lastError();
  EXPECT_EQ(dev().orderCodes().back(), ORDER_CLOSE_REALPLAY);
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetPlayState(), NPC_D_MPI_MON_CAMERA_PLAY_STATE_STOP);
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetState(), NPC_D_MPI_MON_CAMERA_STATE_CONNECTED);

  cam->NPC_F_MPI_MON_Camera_Disconnect();
  EXPECT_EQ(dev().orderCodes().back(), ORDER_CAMERA_DISCONNECT);
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetState(), NPC_D_MPI_MON_CAMERA_STATE_IDLE);
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetCameraConnId(), 0u);
  EXPECT_TRUE(log.contains("Disconnect camera success!"));

  // Frames still addressed to the old id reach nobody.
  std::vector<uint8_t> msg;
  NPC_S_MON_MEDIA_FRAME_HEAD h{};
  NPC_F_PVM_MSG_BuildMediaData(&msg, kVendor, id, h, "x", 1);
  dev().emit(msg);
  settle();
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetResidualFrameNum(0), 0);
  // The password never reaches the log.
  for (const auto& l : log.lines()) EXPECT_EQ(l.text.find("s3cr3tpw"), std::string::npos) << l.text;
}

// --- Connect ---------------------------------------------------------------------------------------

TEST_F(CameraTest, ConnectFailuresGiveTheMappedCodeAndTextInTheCamerasLanguage) {
  struct Case {
    int language;
    int answer;  // iResult, or -1 for no answer at all
    int code;
    const char* text;
  } cases[] = {
      {1, 2004, 102, "Connect camera: pwd error."},
      {1, 2003, 101, "Connect camera: user name error."},
      {1, 1003, 2, "Connect camera: Network connection failure."},
      {1, 6151, 6151, "Connect camera: custom error：6151.."},
      {1, -1, 6, "Connect camera call fail, [-5]Wait timeout."},
      {0, 2004, 102, "连接设备: 密码错误."},
      {0, -1, 6, "连接设备调用失败, [-5]等待应答超时."},
  };
  start();
  for (const Case& c : cases) {
    auto camera = makeCamera(c.language, kCallTimeoutMs, kConnParam);
    dev().drop(ORDER_CAMERA_CONNECT, c.answer < 0);
    dev().setResult(ORDER_CAMERA_CONNECT, c.answer < 0 ? 0 : c.answer);
    const int timeout = c.answer < 0 ? 200 : kCallTimeoutMs;
    EXPECT_EQ(camera->NPC_F_MPI_MON_Camera_Connect(timeout, nullptr, 0, 0), c.code) << c.text;
    char text[512];
    EXPECT_EQ(camera->NPC_F_MPI_MON_Camera_GetLastError(sizeof text, text), c.code) << c.text;
    EXPECT_STREQ(text, c.text);
    // A failed connect stays in state 1 until the caller disconnects.
    EXPECT_EQ(camera->NPC_F_MPI_MON_Camera_GetState(), NPC_D_MPI_MON_CAMERA_STATE_CONNECTING) << c.text;
    dev().drop(ORDER_CAMERA_CONNECT, false);
  }
}

TEST_F(CameraTest, ConnectWhileConnectingOrConnectedSendsNothing) {
  start();
  dev().drop(ORDER_CAMERA_CONNECT);
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_Connect(100, nullptr, 0, 0), 6);
  const size_t sent = dev().orderCodes().size();
  int code = 0;
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_Connect(100, nullptr, 0, 0), 104);
  EXPECT_EQ(lastError(&code), "Connecting.");
  EXPECT_EQ(dev().orderCodes().size(), sent);

  // Disconnect, then the camera connects again.
  cam->NPC_F_MPI_MON_Camera_Disconnect();
  dev().drop(ORDER_CAMERA_CONNECT, false);
  ASSERT_EQ(cam->NPC_F_MPI_MON_Camera_Connect(kCallTimeoutMs, nullptr, 0, 0), 0);
  const size_t sent2 = dev().orderCodes().size();
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_Connect(kCallTimeoutMs, nullptr, 0, 0), 105);
  EXPECT_EQ(lastError(&code), "Connected.");
  EXPECT_EQ(code, 105);
  EXPECT_EQ(dev().orderCodes().size(), sent2);
}

TEST_F(CameraTest, ConnectThatCannotMakeAListFailsWithFourAndSendsNothing) {
  struct Case {
    const char* point;
    const char* text;
  } cases[] = {
      {"NPC_F_VPI_TOOLS_MFL_CreateFrameList malloc", "Create frame list fail."},
      {"NPC_F_VPI_TOOLS_AL_CreateList malloc", "Create alarm list fail."},
  };
  start();
  for (const Case& c : cases) {
    auto camera = makeCamera(1, kCallTimeoutMs, kConnParam);
    NPC_F_THREAD_TEST_FailNext(c.point, 1);
    EXPECT_EQ(camera->NPC_F_MPI_MON_Camera_Connect(kCallTimeoutMs, nullptr, 0, 0), 4) << c.text;
    char text[512];
    camera->NPC_F_MPI_MON_Camera_GetLastError(sizeof text, text);
    EXPECT_STREQ(text, c.text);
    EXPECT_EQ(camera->NPC_F_MPI_MON_Camera_GetState(), NPC_D_MPI_MON_CAMERA_STATE_IDLE);
    EXPECT_TRUE(dev().orderCodes().empty());
    // Nothing half-made stands in the way of the next attempt.
    EXPECT_EQ(camera->NPC_F_MPI_MON_Camera_Connect(kCallTimeoutMs, nullptr, 0, 0), 0) << c.text;
    camera->NPC_F_MPI_MON_Camera_Disconnect();
    dev().reset();
  }
}

TEST_F(CameraTest, CameraOwnCustomFlagWinsOverTheCallers) {
  start();
  TestCamera c(syn, "dev-7", kVendor, "", "", "vendor-login", 7, kConnParam, 1, kCallTimeoutMs, 0);
  LogCapture log;
  ASSERT_EQ(c.NPC_F_MPI_MON_Camera_Connect(kCallTimeoutMs, "ignored", 0, 2), 0);
  NPC_S_PVM_ORDER_BODY_CAMERA_CONNECT body;
  const auto b = dev().lastBody(ORDER_CAMERA_CONNECT);
  ASSERT_EQ(b.size(), sizeof body);
  memcpy(&body, b.data(), sizeof body);
  EXPECT_STREQ(body.szCustomData, "vendor-login");
  EXPECT_EQ(body.iCustomNum, 7);
  EXPECT_EQ(body.iConnectMode, 2);
  EXPECT_TRUE(log.contains("[All]Device custom flag：[vendor-login][7]."));
}

// --- Play, connect mode, stop ----------------------------------------------------------------------

TEST_F(CameraTest, PlayRefusalsStoreTheirCodesAndTexts) {
  start();
  int code = 0;
  // Not connected.
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_Play(0, 0, 0), 107);
  EXPECT_EQ(lastError(&code), "Realplay no connect camera.");
  // An index outside 0..2 returns 12 while the stored code is 107.
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_Play(0, 3, 0), 12);
  EXPECT_EQ(lastError(&code), "Start real-time preview failed, reason: incoming parameters error.");
  EXPECT_EQ(code, 107);
  EXPECT_TRUE(dev().orderCodes().empty());

  connectAndPlay();
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_Play(0, 0, 0), 108);
  EXPECT_EQ(lastError(&code), "Realplay fail, playing.");
  EXPECT_EQ(code, 108);
}

TEST_F(CameraTest, PlayErrorAnswerLeavesTheCameraNotPlaying) {
  start();
  dev().setResult(ORDER_OPEN_REALPLAY, 2018);
  ASSERT_EQ(cam->NPC_F_MPI_MON_Camera_Connect(kCallTimeoutMs, nullptr, 0, 0), 0);
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_Play(0, 0, 0), 143);
  EXPECT_EQ(lastError(), "Open real-time preview: Open stream fail.");
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetPlayState(), NPC_D_MPI_MON_CAMERA_PLAY_STATE_STOP);
  dev().setResult(ORDER_OPEN_REALPLAY, 0);
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_Play(0, 0, 0), 0);
}

TEST_F(CameraTest, PlayAsksForTheSubStreamOnlyWithAutoSubOnATransferredDevice) {
  struct Case {
    int mode;
    int autoSub;
    int streamAsked;
    int streamSent;
  } cases[] = {
      {2, 1, 0, 1},  // transfer mode with autoSub: the sub stream
      {2, 0, 0, 0},
      {3, 1, 0, 0},
      {2, 1, 1, 1},
  };
  start();
  for (const Case& c : cases) {
    LogCapture log;
    dev().setConnMode(c.mode);
    ASSERT_EQ(cam->NPC_F_MPI_MON_Camera_Connect(kCallTimeoutMs, nullptr, 0, 0), 0);
    ASSERT_EQ(cam->NPC_F_MPI_MON_Camera_Play(c.streamAsked, 0, c.autoSub), 0);
    NPC_S_PVM_ORDER_BODY_OPEN_REALPLAY body;
    const auto b = dev().lastBody(ORDER_OPEN_REALPLAY);
    ASSERT_EQ(b.size(), sizeof body);
    memcpy(&body, b.data(), sizeof body);
    EXPECT_EQ(body.iStreamNo, c.streamSent) << c.mode << " " << c.autoSub;
    EXPECT_EQ(log.contains("NPC_F_MPI_MON_Camera_Play trans mode, auto change sub stream."),
              c.mode == 2 && c.autoSub == 1);
    cam->NPC_F_MPI_MON_Camera_Disconnect();
  }
}

TEST_F(CameraTest, GetDevConnectModeChecksConnectionAndAnswerSize) {
  start();
  int mode = -1, code = 0;
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetDevConnectMode(&mode), 107);
  EXPECT_EQ(lastError(&code), "Get dev connect mode no connect camera.");
  ASSERT_EQ(cam->NPC_F_MPI_MON_Camera_Connect(kCallTimeoutMs, nullptr, 0, 0), 0);
  dev().setConnMode(2);
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetDevConnectMode(&mode), 0);
  EXPECT_EQ(mode, 2);
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetDevConnectMode(nullptr), 12);
  // An answer too short to hold the mode is refused, not read past its end.
  dev().setConnMode(2, true);
  mode = -1;
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetDevConnectMode(&mode), 6);
  EXPECT_EQ(lastError(&code), "应答消息错误.");
  EXPECT_EQ(mode, -1);
  // A module error answer.
  dev().setConnMode(2, false);
  dev().setResult(ORDER_CAMERA_QUERY_CONN_MODE, 1005);
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetDevConnectMode(&mode), 153);
  EXPECT_EQ(lastError(), "Get dev connect mode: End to end connection closed.");
}

TEST_F(CameraTest, CallTimeoutBelowOneBecomesTwentyMilliseconds) {
  start(1, 0);
  ASSERT_EQ(cam->NPC_F_MPI_MON_Camera_Connect(kCallTimeoutMs, nullptr, 0, 0), 0);
  dev().drop(ORDER_CAMERA_QUERY_CONN_MODE);
  int mode = 0;
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetDevConnectMode(&mode), 6);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
  EXPECT_EQ(lastError(), "Get dev connect mode call fail, [-5]Wait timeout.");
}

// Stop used to move every camera to state 2, so that Connect refused a camera that had never
// connected (105) for ever. It moves only a connected or disconnected camera to 2.
TEST_F(CameraTest, StopMovesOnlyStatesTwoAndThreeToTwo) {
  start();
  int code = 0;
  // State 0: refused with 107, the state stays, and Connect still works.
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_Stop(kCallTimeoutMs), 107);
  EXPECT_EQ(lastError(&code), "Stop play no connect camera.");
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetState(), NPC_D_MPI_MON_CAMERA_STATE_IDLE);
  ASSERT_EQ(cam->NPC_F_MPI_MON_Camera_Connect(kCallTimeoutMs, nullptr, 0, 0), 0);
  cam->NPC_F_MPI_MON_Camera_Disconnect();

  // State 1 after a failed connect: refused with 109, still connecting.
  dev().setResult(ORDER_CAMERA_CONNECT, 1003);
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_Connect(kCallTimeoutMs, nullptr, 0, 0), 2);
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_Stop(kCallTimeoutMs), 109);
  EXPECT_EQ(lastError(), "Stop play fail, no play.");
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetState(), NPC_D_MPI_MON_CAMERA_STATE_CONNECTING);
  cam->NPC_F_MPI_MON_Camera_Disconnect();
  dev().setResult(ORDER_CAMERA_CONNECT, 0);

  // State 3 after the device closed: refused with 107, and back to 2.
  connectAndPlay();
  sendDisconnect(cam->NPC_F_MPI_MON_Camera_GetCameraConnId());
  ASSERT_TRUE(eventually([&] { return cam->NPC_F_MPI_MON_Camera_GetState() == 3; }));
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_Stop(kCallTimeoutMs), 107);
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetState(), NPC_D_MPI_MON_CAMERA_STATE_CONNECTED);
  cam->NPC_F_MPI_MON_Camera_Disconnect();

  // State 2 with a failing close: the mapped code, play type back to live view, still state 2.
  connectAndPlay();
  dev().setResult(ORDER_CLOSE_REALPLAY, 1007);
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_Stop(kCallTimeoutMs), 18);
  EXPECT_EQ(lastError(), "Close real-time preview: The requested operation timeout.");
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetState(), NPC_D_MPI_MON_CAMERA_STATE_CONNECTED);
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetPlayType(), NPC_D_MPI_MON_CAMERA_PLAY_TYPE_LIVE);
  dev().setResult(ORDER_CLOSE_REALPLAY, 0);
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_Stop(kCallTimeoutMs), 0);
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_Stop(kCallTimeoutMs), 109);
}

// Disconnect used to keep the play fields, so that Play after a reconnect returned 108.
TEST_F(CameraTest, DisconnectAndReconnectStartAFreshSession) {
  start();
  connectAndPlay();
  cam->NPC_F_MPI_MON_Camera_Disconnect();
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetPlayState(), NPC_D_MPI_MON_CAMERA_PLAY_STATE_STOP);
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetDisconnectCause(), -1);
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_CheckAlarmState(), 0);
  connectAndPlay();
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetPlayState(), NPC_D_MPI_MON_CAMERA_PLAY_STATE_PLAYING);
}

TEST_F(CameraTest, DisconnectErrorAnswerStoresSevenAndStillLeavesTheTable) {
  start();
  ASSERT_EQ(cam->NPC_F_MPI_MON_Camera_Connect(kCallTimeoutMs, nullptr, 0, 0), 0);
  dev().setResult(ORDER_CAMERA_DISCONNECT, 1001);
  cam->NPC_F_MPI_MON_Camera_Disconnect();
  int code = 0;
  EXPECT_EQ(lastError(&code), "Disconnect camera fail, ret is 1001.");
  EXPECT_EQ(code, 7);
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetCameraConnId(), 0u);
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetState(), NPC_D_MPI_MON_CAMERA_STATE_IDLE);
  // An unregistered camera sends nothing.
  const size_t sent = dev().orderCodes().size();
  cam->NPC_F_MPI_MON_Camera_Disconnect();
  EXPECT_EQ(dev().orderCodes().size(), sent);
}

// --- Notices ---------------------------------------------------------------------------------------

TEST_F(CameraTest, DeviceCloseEndsTheSessionAndTheCameraConnectsAndPlaysAgain) {
  LogCapture log;
  start();
  connectAndPlay();
  const uint32_t id = cam->NPC_F_MPI_MON_Camera_GetCameraConnId();
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetDisconnectCause(), -1);
  sendDisconnect(id);
  ASSERT_TRUE(eventually([&] { return cam->NPC_F_MPI_MON_Camera_GetState() == 3; }));
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetDisconnectCause(), NPC_D_MPI_MON_CAMERA_DISCAUSE_DEV_DISCONNECT);
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetPlayState(), NPC_D_MPI_MON_CAMERA_PLAY_STATE_STOP);
  EXPECT_TRUE(log.waitFor("The camera is disconnected!", 5000));
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_Play(0, 0, 0), 107);

  // Reconnect from state 3: the registration is kept, the session is fresh.
  connectAndPlay();
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetCameraConnId(), id);
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetDisconnectCause(), -1);
  sendFrame(0, 1, {9});
  NPC_S_MPI_MON_MEDIA_FRAME* f = cam->NPC_F_MPI_MON_Camera_GetMediaFrameFromQueue(5000);
  ASSERT_NE(f, nullptr);
  cam->NPC_F_MPI_MON_Camera_ReleaseFrameData(f);
}

TEST_F(CameraTest, DisconnectNoticeForAnIdleCameraChangesNothing) {
  start();
  ASSERT_EQ(cam->NPC_F_MPI_MON_Camera_Connect(kCallTimeoutMs, nullptr, 0, 0), 0);
  const uint32_t id = cam->NPC_F_MPI_MON_Camera_GetCameraConnId();
  // Disconnect is under way (state 0) while its answer is held back: a notice arriving then is
  // not allowed to turn the camera to state 3.
  dev().drop(ORDER_CAMERA_DISCONNECT);
  std::thread t([&] { cam->NPC_F_MPI_MON_Camera_Disconnect(); });
  ASSERT_TRUE(eventually([&] { return dev().orderCodes().back() == ORDER_CAMERA_DISCONNECT; }));
  sendDisconnect(id);
  settle();
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetState(), NPC_D_MPI_MON_CAMERA_STATE_IDLE);
  // Let the disconnect end.
  ASSERT_TRUE(dev().answerLast(ORDER_CAMERA_DISCONNECT, 0));
  t.join();
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetCameraConnId(), 0u);
}

TEST_F(CameraTest, AlarmsAndPassThroughDataGoToTheirListsOrCallbacks) {
  start();
  ASSERT_EQ(cam->NPC_F_MPI_MON_Camera_Connect(kCallTimeoutMs, nullptr, 0, 0), 0);
  const uint32_t id = cam->NPC_F_MPI_MON_Camera_GetCameraConnId();
  NPC_S_TD_DATE_TIME when{};
  when.iYear = 2024;
  when.iMonth = 5;
  when.iDay = 6;
  std::vector<uint8_t> msg;
  ASSERT_EQ(NPC_F_PVM_MSG_BuildAlarmData(&msg, kVendor, id, 33, when, 4, "motion at door"), 1);
  dev().emit(msg);
  NPC_S_MPI_MON_ALARM_DATA* a = cam->NPC_F_MPI_MON_Camera_GetAlarmInfo(5000);
  ASSERT_NE(a, nullptr);
  EXPECT_STREQ(a->tAlarmHead.DeviceID, "dev-7");
  EXPECT_EQ(a->tAlarmHead.nAlarmType, 33);
  EXPECT_EQ(a->tAlarmHead.tAlarmTime.iYear, 2024);
  EXPECT_EQ(a->tAlarmHead.iAlarmParam, 4);
  EXPECT_EQ(a->tAlarmHead.nParam1, 0);
  EXPECT_STREQ(a->pAlarmText, "motion at door");
  EXPECT_EQ(a->iAlarmTextLen, 15);
  cam->NPC_F_MPI_MON_Camera_ReleaseAlarmBuf(a);

  // Pass-through data: a copy with one zero byte behind it, counted in the length.
  ASSERT_EQ(NPC_F_PVM_MSG_BuildRawDataCustom(&msg, kVendor, id, 77, "abc", 3), 1);
  dev().emit(msg);
  NPC_S_MPI_MON_P2PPORT_DATA* p = cam->NPC_F_MPI_MON_Camera_GetP2pPortData(5000);
  ASSERT_NE(p, nullptr);
  const int n = p->iDataLen;
  ASSERT_GE(n, 4);
  EXPECT_EQ(p->pData[n - 1], 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(p->pData) + n - 4, 3), "abc");
  cam->NPC_F_MPI_MON_Camera_ReleaseP2pPortBuf(p);

  // With callbacks set, the lists stay empty.
  struct Seen {
    std::atomic<int> alarms{0}, data{0};
  } seen;
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_SetAlarmCallback(
                [](void* u, const NPC_S_MPI_MON_ALARM_HEAD*, const char*, int) { static_cast<Seen*>(u)->alarms++; },
                &seen),
            1);
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_SetP2pPortDataCallback(
                [](void* u, void* extra, const unsigned char*, int) {
                  if (extra == u) static_cast<Seen*>(u)->data++;
                },
                &seen, &seen),
            1);
  NPC_F_PVM_MSG_BuildAlarmData(&msg, kVendor, id, 1, when, 0, "x");
  dev().emit(msg);
  NPC_F_PVM_MSG_BuildRawDataCustom(&msg, kVendor, id, 1, "y", 1);
  dev().emit(msg);
  ASSERT_TRUE(eventually([&] { return seen.alarms == 1 && seen.data == 1; }));
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetAlarmInfo(0), nullptr);
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetP2pPortData(0), nullptr);
}

// After SetMediaStreamCallback returns, the old callback is never called again, even while
// frames keep arriving on the engine thread.
TEST_F(CameraTest, MediaStreamCallbackSwapIsCleanWhileFramesFlow) {
  start();
  connectAndPlay();
  std::atomic<int> calls{0};
  std::atomic<bool> stop{false};
  auto counting = [](void* u, const NPC_S_MON_MEDIA_FRAME_HEAD*, const unsigned char*, int) {
    static_cast<std::atomic<int>*>(u)->fetch_add(1);
  };
  cam->NPC_F_MPI_MON_Camera_SetMediaStreamCallback(counting, &calls);
  std::thread sender([&] {
    int ts = 0;
    while (!stop) sendFrame(0, ts++, {1, 2, 3, 4});
  });
  ASSERT_TRUE(eventually([&] { return calls.load() > 50; }));
  cam->NPC_F_MPI_MON_Camera_SetMediaStreamCallback(nullptr, nullptr);
  const int after = calls.load();
  ASSERT_TRUE(eventually([&] { return cam->NPC_F_MPI_MON_Camera_GetResidualFrameNum(0) > 50; }));
  stop = true;
  sender.join();
  EXPECT_EQ(calls.load(), after);
}

TEST_F(CameraTest, PlayWithCallbackSendsFramesToItAndAPlainPlayTakesThemBack) {
  start();
  ASSERT_EQ(cam->NPC_F_MPI_MON_Camera_Connect(kCallTimeoutMs, nullptr, 0, 0), 0);
  std::atomic<int> calls{0};
  auto counting = [](void* u, const NPC_S_MON_MEDIA_FRAME_HEAD*, const unsigned char*, int) {
    static_cast<std::atomic<int>*>(u)->fetch_add(1);
  };
  // A refused play does not install the callback.
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_Play(0, 5, counting, &calls), 12);
  ASSERT_EQ(cam->NPC_F_MPI_MON_Camera_Play(0, 0, counting, &calls), 0);
  sendFrame(0, 1, {1});
  ASSERT_TRUE(eventually([&] { return calls.load() == 1; }));
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetResidualFrameNum(0), 0);
  ASSERT_EQ(cam->NPC_F_MPI_MON_Camera_Stop(kCallTimeoutMs), 0);
  ASSERT_EQ(cam->NPC_F_MPI_MON_Camera_Play(0, 0, 0), 0);
  sendFrame(0, 2, {2});
  ASSERT_TRUE(eventually([&] { return cam->NPC_F_MPI_MON_Camera_GetResidualFrameNum(0) == 1; }));
  EXPECT_EQ(calls.load(), 1);
}

// --- Media time-out ------------------------------------------------------------------------------

TEST_F(CameraTest, LiveViewWithoutAnyFrameTimesOutAfterTwentyNineSeconds) {
  LogCapture log;
  FakeClock clock;
  start();
  connectAndPlay();
  clock.advance(29000);
  settle();
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetState(), NPC_D_MPI_MON_CAMERA_STATE_CONNECTED);
  clock.advance(1500);
  ASSERT_TRUE(eventually([&] { return cam->NPC_F_MPI_MON_Camera_GetState() == 3; }));
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetDisconnectCause(), NPC_D_MPI_MON_CAMERA_DISCAUSE_MEDIA_TIMEOUT);
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetPlayState(), NPC_D_MPI_MON_CAMERA_PLAY_STATE_STOP);
  // The lines follow the state change on the engine thread. Connect mode 0: no address is read
  // from the connect parameters.
  EXPECT_TRUE(log.waitFor("Long time did not receive the media data! []-[0]", 5000));
  EXPECT_TRUE(log.contains("NPC_F_MPI_MON_Camera_PR_DoTimer media data time out."));
  // Stop after the time-out returns the camera to state 2.
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_Stop(kCallTimeoutMs), 107);
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetState(), NPC_D_MPI_MON_CAMERA_STATE_CONNECTED);
}

TEST_F(CameraTest, SilenceAfterTheFirstFrameTimesOutAfterFifteenSeconds) {
  LogCapture log;
  FakeClock clock;
  start();
  cam->iConnectMode = NPC_D_MPI_MON_CONNECT_MODE_P2P;
  connectAndPlay();
  sendFrame(0, 1, {1});
  NPC_S_MPI_MON_MEDIA_FRAME* first = cam->NPC_F_MPI_MON_Camera_GetMediaFrameFromQueue(5000);
  ASSERT_NE(first, nullptr);
  cam->NPC_F_MPI_MON_Camera_ReleaseFrameData(first);
  clock.advance(14000);
  settle();
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetState(), NPC_D_MPI_MON_CAMERA_STATE_CONNECTED);
  // A frame restarts the count.
  sendFrame(0, 2, {2});
  ASSERT_TRUE(eventually([&] { return cam->NPC_F_MPI_MON_Camera_GetResidualFrameNum(0) == 1; }));
  clock.advance(14000);
  settle();
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetState(), NPC_D_MPI_MON_CAMERA_STATE_CONNECTED);
  clock.advance(2000);
  ASSERT_TRUE(eventually([&] { return cam->NPC_F_MPI_MON_Camera_GetState() == 3; }));
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetDisconnectCause(), NPC_D_MPI_MON_CAMERA_DISCAUSE_MEDIA_TIMEOUT);
  // Connect mode 2: the device's address and port from the connect parameters, no password.
  EXPECT_TRUE(log.waitFor("Long time did not receive the media data! [127.0.0.1]-[5000]", 5000));
  for (const auto& l : log.lines()) EXPECT_EQ(l.text.find("s3cr3tpw"), std::string::npos) << l.text;
}

// A media time-out ends the play on this side only: the module still runs the stream. The
// camera used to return to state 2 on Stop (or to reconnect) without closing it, so the module
// refused every later Play. The next Stop or Connect now closes it first; a session that the
// device ended (cause 7) has nothing left to close.
TEST_F(CameraTest, StreamEndedByTheMediaTimeOutIsClosedByTheNextStopOrConnect) {
  enum class End { MediaTimeOut, DeviceClose };
  enum class Then { Stop, Connect };
  struct Case {
    End end;
    Then then;
    std::vector<int> sent;  // the orders sent by the Stop or Connect
  } cases[] = {
      {End::MediaTimeOut, Then::Stop, {ORDER_CLOSE_REALPLAY}},
      {End::MediaTimeOut, Then::Connect, {ORDER_CLOSE_REALPLAY, ORDER_CAMERA_CONNECT}},
      {End::DeviceClose, Then::Stop, {}},
      {End::DeviceClose, Then::Connect, {ORDER_CAMERA_CONNECT}},
  };
  FakeClock clock;
  start();
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.end) * 2 + static_cast<int>(c.then));
    connectAndPlay();
    if (c.end == End::MediaTimeOut) {
      clock.advance(31000);
    } else {
      sendDisconnect(cam->NPC_F_MPI_MON_Camera_GetCameraConnId());
    }
    ASSERT_TRUE(eventually([&] { return cam->NPC_F_MPI_MON_Camera_GetState() == 3; }));
    const size_t before = dev().orderCodes().size();
    if (c.then == Then::Stop) {
      EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_Stop(kCallTimeoutMs), 107);
      EXPECT_EQ(lastError(), "Stop play no connect camera.");
    } else {
      EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_Connect(kCallTimeoutMs, nullptr, 0, 0), 0) << lastError();
    }
    EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetState(), NPC_D_MPI_MON_CAMERA_STATE_CONNECTED);
    const std::vector<int> codes = dev().orderCodes();
    EXPECT_EQ(std::vector<int>(codes.begin() + static_cast<long>(before), codes.end()), c.sent);
    // Closed once: a second Stop sends nothing.
    EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_Stop(kCallTimeoutMs), 109);
    EXPECT_EQ(dev().orderCodes().size(), codes.size());
    cam->NPC_F_MPI_MON_Camera_Disconnect();
  }
}

TEST_F(CameraTest, StoppedCameraNeverTimesOut) {
  FakeClock clock;
  start();
  connectAndPlay();
  ASSERT_EQ(cam->NPC_F_MPI_MON_Camera_Stop(kCallTimeoutMs), 0);
  clock.advance(60000);
  settle();
  clock.advance(60000);
  settle();
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetState(), NPC_D_MPI_MON_CAMERA_STATE_CONNECTED);
}

// --- Download slots --------------------------------------------------------------------------------

TEST_F(CameraTest, DownloadSlotsTakeTheirFramesAndStatesAndFreeOnDelete) {
  start();
  ASSERT_EQ(cam->NPC_F_MPI_MON_Camera_Connect(kCallTimeoutMs, nullptr, 0, 0), 0);
  const uint32_t id = cam->NPC_F_MPI_MON_Camera_GetCameraConnId();
  for (uint32_t d = 11; d <= 14; ++d) ASSERT_EQ(cam->NPC_F_MPI_MON_Camera_PR_CreateDownWork(d), 1);
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_PR_CreateDownWork(15), 0);

  std::vector<uint8_t> msg;
  NPC_S_MON_MEDIA_FRAME_HEAD h{};
  h.iMediaType = 2;
  h.iTimestamp = 500;
  ASSERT_EQ(NPC_F_PVM_MSG_BuildRecDownloadData(&msg, kVendor, id, 12, h, "file-bytes", 10), 1);
  dev().emit(msg);
  NPC_F_PVM_MSG_BuildRecDownloadData(&msg, kVendor, id, 99, h, "nobody", 6);
  dev().emit(msg);
  ASSERT_EQ(NPC_F_PVM_MSG_BuildRecDownloadState(&msg, kVendor, id, 12, 2, 40), 1);
  dev().emit(msg);
  NPC_S_MPI_MON_MEDIA_FRAME* f = cam->NPC_F_MPI_MON_Camera_RecFile_GetDownFrameData(12, 5000);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->iFrameDataLen, 10);
  cam->NPC_F_MPI_MON_Camera_ReleaseFrameData(f);
  ASSERT_TRUE(eventually([&] { return cam->NPC_F_MPI_MON_Camera_RecFile_GetDownPercent(12) == 40; }));
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_RecFile_QueryDownState(12), 2);
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_RecFile_QueryDownState(99), 0);
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_RecFile_GetDownFrameData(99, 0), nullptr);
  // The live frame list never saw download data.
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetResidualFrameNum(0), 0);

  // A reader waiting on a download while it is deleted returns without touching freed memory.
  std::thread reader([&] { EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_RecFile_GetDownFrameData(13, 300), nullptr); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_PR_DeleteDownWork(13), 1);
  reader.join();
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_PR_DeleteDownWork(13), 0);
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_PR_CreateDownWork(15), 1);
}

// --- Not yet available ---------------------------------------------------------------------------

TEST_F(CameraTest, OperationsNotBuiltYetReturn141WithoutSendingAnything) {
  start();
  ASSERT_EQ(cam->NPC_F_MPI_MON_Camera_Connect(kCallTimeoutMs, nullptr, 0, 0), 0);
  const size_t sent = dev().orderCodes().size();
  char* buf = nullptr;
  int len = 0;
  uint32_t u = 0;
  int i = 0;
  struct Case {
    const char* name;
    std::function<int()> call;
    int expected;
  } cases[] = {
      {"PtzControl", [&] { return cam->NPC_F_MPI_MON_Camera_PtzControl(1, 0, 0, 0, 100); }, 141},
      {"StartTalk", [&] { return cam->NPC_F_MPI_MON_Camera_StartTalk(1, 16, 8000, -1); }, 141},
      {"GetConfig", [&] { return cam->NPC_F_MPI_MON_Camera_GetConfig(1, &buf, &len); }, 141},
      {"SetConfig", [&] { return cam->NPC_F_MPI_MON_Camera_SetConfig(1, "x", -3); }, 141},
      {"SwitchChannel", [&] { return cam->NPC_F_MPI_MON_Camera_SwitchChannel(1, 0); }, 141},
      {"QueryChannelStreamNo", [&] { return cam->NPC_F_MPI_MON_Camera_QueryChannelStreamNo(&i, &i); }, 141},
      {"DevReboot", [&] { return cam->NPC_F_MPI_MON_Camera_DevReboot(); }, 141},
      {"StartGetAlarmInfo", [&] { return cam->NPC_F_MPI_MON_Camera_StartGetAlarmInfo(); }, 0},
      {"RecFile_StartDown", [&] { return cam->NPC_F_MPI_MON_Camera_RecFile_StartDown("f", 0, nullptr, nullptr, &u); }, 0},
      {"SearchRecFileFromDev",
       [&] { return cam->NPC_F_MPI_MON_Camera_SearchRecFileFromDev(nullptr, nullptr, 0) == nullptr ? 0 : 1; }, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.call(), c.expected) << c.name;
    int code = 0;
    EXPECT_EQ(lastError(&code), std::string(c.name) + ": Not support operate.");
    EXPECT_EQ(code, 141) << c.name;
  }
  cam->NPC_F_MPI_MON_Camera_StopTalk();
  EXPECT_EQ(lastError(), "StopTalk: Not support operate.");
  EXPECT_EQ(dev().orderCodes().size(), sent);
  EXPECT_EQ(buf, nullptr);
}

TEST_F(CameraTest, GetLastErrorCopiesBoundedAndToleratesNoBuffer) {
  start();
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_Play(0, 0, 0), 107);
  char small[8];
  memset(small, 'x', sizeof small);
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetLastError(sizeof small, small), 107);
  EXPECT_STREQ(small, "Realpla");
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetLastError(0, small), 107);
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetLastError(-4, small), 107);
  EXPECT_EQ(cam->NPC_F_MPI_MON_Camera_GetLastError(100, nullptr), 107);
}

}  // namespace
