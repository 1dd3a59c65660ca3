// The protocol-bus camera end to end over loopback: a camera created from a connect-parameter
// string connects through the call layer, the engine's direct connect and the QXSP module to the
// device simulator (sim/qxsp_device.py, its own process); a wrong password, a device that closes
// the connection (disconnect notice: state 3 with cause 7) and goes silent (keep-alive lost,
// fake clock), and a reconnect afterwards. Live view through the camera: the frames pulled from
// its frame list are the committed vectors (tests/data/live) byte for byte and in order, for
// video and audio pulled by type and for the mixed queue, again after a reconnect; and a device
// whose media stops while it plays ends the session through the camera's media time-out.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bus/nxtp_syn.h"
#include "bus/vcp.h"
#include "camera/nxtp_camera.h"
#include "live_vectors.h"
#include "protocols/qxsp/qxsp_protocol.h"
#include "sim_process.h"
#include "test_support.h"

namespace {

using korven_test::eventually;
using korven_test::kLiveAlaw;
using korven_test::kLiveVideo;

const NPC_S_NXTP_MODULE_ENTRY kQxspOnly[] = {
    {1009, "QXSP", &NPC_F_PVM_DP_QXSP_Create, &NPC_F_PVM_DP_QXSP_Destroy, &NPC_F_PVM_DP_QXSP_SetEncryptType},
};
const NPC_S_NXTP_MODULE_TABLE kTable = {kQxspOnly, 1};
constexpr int kWaitMs = 10000;

class CameraE2E : public ::testing::Test {
 protected:
  void TearDown() override {
    cam_.reset();
    if (syn_) NPC_F_NXTP_SYN_DestroyProtocolBusServer(syn_);
    if (sim_) sim_->stop();
  }

  void start(const std::vector<std::string>& simArgs) {
    std::vector<std::string> args = {"--port", "0"};
    args.insert(args.end(), simArgs.begin(), simArgs.end());
    sim_ = std::make_unique<korven_test::SimProcess>("sim.qxsp_device", args);
    ASSERT_TRUE(sim_->ok());
    NPC_S_NXTP_CREATE_PARAM p = NPC_F_NXTP_MakeLocalCreateParam(&kTable);
    syn_ = NPC_F_NXTP_SYN_CreateProtocolBusServerEx(&p);
    ASSERT_NE(syn_, nullptr);
  }

  // A camera made as the factory will make it from a connect-parameter string: vendor id and
  // device id from the string, client flag 0, connect mode 0.
  void makeCamera(const std::string& pwd = "admin123") {
    const std::string conn = "VendorId=1009,DevIp=127.0.0.1,DevPort=" + std::to_string(sim_->port()) +
                             ",DevUserName=admin,DevUserPwd=" + pwd + ",DevChNo=0,DevStreamNo=0";
    NPC_S_MPI_MON_VCP_PARAM_SET set;
    ASSERT_EQ(NPC_F_MPI_MON_VCP_ParseConnParam(conn.c_str(), &set), 1);
    int vendor = 0;
    ASSERT_EQ(NPC_F_MPI_MON_VCP_GetParamInt(&set, NPC_D_MPI_MON_VCP_PARAM_VENDOR_ID, &vendor), 1);
    cam_ = std::make_unique<NPC_C_VPI_NXTP_Camera>(syn_, "", static_cast<uint32_t>(vendor), "", "", "", 0,
                                                   conn.c_str(), 1, kWaitMs, 0);
    cam_->iConnectMode = NPC_D_MPI_MON_CONNECT_MODE_ADDR;
    cam_->iClientFlag = 0;
  }
  std::string lastError(int* code = nullptr) {
    char text[512];
    const int c = cam_->NPC_F_MPI_MON_Camera_GetLastError(sizeof text, text);
    if (code) *code = c;
    return text;
  }

  // Connects and starts the live view of the main stream; true when both succeeded.
  bool connectAndPlay() {
    if (cam_->NPC_F_MPI_MON_Camera_Connect(kWaitMs, nullptr, 0, 0) != 0) return false;
    return cam_->NPC_F_MPI_MON_Camera_Play(0, 0, 0) == 0;
  }
  // Waits until the frame list holds this many video and audio frames.
  bool waitFrames(int video, int audio) {
    return eventually([&] {
      return cam_->NPC_F_MPI_MON_Camera_GetResidualFrameNum(1) >= video &&
             cam_->NPC_F_MPI_MON_Camera_GetResidualFrameNum(2) >= audio;
    }, kWaitMs);
  }
  // A frame the camera handed out, copied: take() copies it into out and releases it through the
  // camera; false for null (no frame).
  struct Frame {
    NPC_S_MON_MEDIA_FRAME_HEAD head{};
    std::vector<uint8_t> data;
  };
  bool take(NPC_S_MPI_MON_MEDIA_FRAME* f, Frame* out) {
    if (!f) return false;
    out->head = f->tFrameHead;
    out->data.assign(f->pFrameData, f->pFrameData + f->iFrameDataLen);
    cam_->NPC_F_MPI_MON_Camera_ReleaseFrameData(f);
    return true;
  }
  // The video frames are the vector's access units, byte for byte, in order, with their key
  // flags and timestamps (40 ms apart); the audio frames are 16-bit PCM at 8 kHz whose samples,
  // joined, are the A-law vector as ffmpeg decodes it.
  static void expectTheVectors(const std::vector<Frame>& video, const std::vector<Frame>& audio) {
    const std::vector<korven_test::AccessUnit> units = korven_test::liveAccessUnits();
    ASSERT_EQ(units.size(), 100u);
    ASSERT_EQ(video.size(), units.size());
    for (size_t i = 0; i < units.size(); ++i) {
      SCOPED_TRACE(i);
      ASSERT_EQ(video[i].head.iMediaType, NPC_D_MON_MEDIA_TYPE_VIDEO);
      ASSERT_EQ(video[i].data, units[i].bytes);
      EXPECT_EQ(video[i].head.iVideoFrameType == NPC_D_MON_VIDEO_FRAME_TYPE_I, units[i].key);
      EXPECT_EQ(video[i].head.iTimestamp, static_cast<int32_t>(40 * i));
    }
    ASSERT_EQ(audio.size(), 101u);
    std::vector<uint8_t> pcm;
    for (size_t i = 0; i < audio.size(); ++i) {
      SCOPED_TRACE(i);
      ASSERT_EQ(audio[i].head.iMediaType, NPC_D_MON_MEDIA_TYPE_AUDIO);
      EXPECT_EQ(audio[i].head.iAudioCodecId, 30);
      EXPECT_EQ(audio[i].head.iAudioSampleRate, 8000);
      EXPECT_EQ(audio[i].head.iTimestamp, static_cast<int32_t>(40 * i));
      pcm.insert(pcm.end(), audio[i].data.begin(), audio[i].data.end());
    }
    EXPECT_EQ(pcm, korven_test::readSourceFile(korven_test::kLiveAlawRef));
  }

  std::unique_ptr<korven_test::SimProcess> sim_;
  NPC_H_NXTP_SYN syn_ = nullptr;
  std::unique_ptr<NPC_C_VPI_NXTP_Camera> cam_;
};

TEST_F(CameraE2E, ConnectsQueriesTheModeAndDisconnects) {
  start({});
  makeCamera();
  ASSERT_EQ(cam_->NPC_F_MPI_MON_Camera_Connect(kWaitMs, nullptr, 0, 0), 0) << lastError();
  EXPECT_EQ(cam_->NPC_F_MPI_MON_Camera_GetState(), NPC_D_MPI_MON_CAMERA_STATE_CONNECTED);
  EXPECT_TRUE(sim_->waitFor("LOGIN 1 ok", kWaitMs));
  int mode = -1;
  ASSERT_EQ(cam_->NPC_F_MPI_MON_Camera_GetDevConnectMode(&mode), 0) << lastError();
  EXPECT_EQ(mode, NPC_D_PVM_NET_CONN_MODE_DIRECT_TCP);
  cam_->NPC_F_MPI_MON_Camera_Disconnect();
  EXPECT_EQ(cam_->NPC_F_MPI_MON_Camera_GetState(), NPC_D_MPI_MON_CAMERA_STATE_IDLE);
  EXPECT_EQ(cam_->NPC_F_MPI_MON_Camera_GetCameraConnId(), 0u);
}

TEST_F(CameraE2E, WrongPasswordIsReportedWithItsText) {
  start({});
  makeCamera("not-it");
  int code = 0;
  EXPECT_EQ(cam_->NPC_F_MPI_MON_Camera_Connect(kWaitMs, nullptr, 0, 0), 102);
  EXPECT_EQ(lastError(&code), "Connect camera: pwd error.");
  EXPECT_EQ(cam_->NPC_F_MPI_MON_Camera_GetState(), NPC_D_MPI_MON_CAMERA_STATE_CONNECTING);
  // The caller disconnects, and with the right password the camera connects.
  cam_->NPC_F_MPI_MON_Camera_Disconnect();
  cam_.reset();
  makeCamera();
  EXPECT_EQ(cam_->NPC_F_MPI_MON_Camera_Connect(kWaitMs, nullptr, 0, 0), 0) << lastError();
}

TEST_F(CameraE2E, DeviceCloseEndsInStateThreeAndTheCameraReconnects) {
  start({});
  makeCamera();
  ASSERT_EQ(cam_->NPC_F_MPI_MON_Camera_Connect(kWaitMs, nullptr, 0, 0), 0) << lastError();
  ASSERT_TRUE(sim_->command("{\"cmd\": \"close\"}"));
  ASSERT_TRUE(eventually([&] { return cam_->NPC_F_MPI_MON_Camera_GetState() == 3; }, kWaitMs));
  EXPECT_EQ(cam_->NPC_F_MPI_MON_Camera_GetDisconnectCause(), NPC_D_MPI_MON_CAMERA_DISCAUSE_DEV_DISCONNECT);
  EXPECT_EQ(cam_->NPC_F_MPI_MON_Camera_Play(0, 0, 0), 107);
  // Reconnect from state 3: a second login on a new connection.
  ASSERT_EQ(cam_->NPC_F_MPI_MON_Camera_Connect(kWaitMs, nullptr, 0, 0), 0) << lastError();
  EXPECT_EQ(cam_->NPC_F_MPI_MON_Camera_GetState(), NPC_D_MPI_MON_CAMERA_STATE_CONNECTED);
  EXPECT_TRUE(sim_->waitCount("LOGIN ", 2, kWaitMs));
}

TEST_F(CameraE2E, DeviceSilenceEndsInStateThree) {
  korven_test::FakeClock clock;
  start({});
  makeCamera();
  ASSERT_EQ(cam_->NPC_F_MPI_MON_Camera_Connect(kWaitMs, nullptr, 0, 0), 0) << lastError();
  // The module beats once right after the login; the device's echo of it must reach the module
  // before time moves, or it would count as a beat received 115 s later. The device answers in
  // order, so once the module has answered the device's own beat (HBR) it has taken the echo too.
  ASSERT_TRUE(sim_->waitFor("HB 1", kWaitMs));
  ASSERT_TRUE(sim_->command("{\"cmd\": \"beat\"}"));
  ASSERT_TRUE(sim_->waitFor("HBR 1", kWaitMs));
  ASSERT_TRUE(sim_->command("{\"cmd\": \"silent\", \"on\": true}"));
  // The module's keep-alive gives up 120 s after the last beat; move time a second at a time so
  // that every step of its time keeping runs, as it would in real time.
  clock.advance(115000);
  for (int i = 0; i < 30 && cam_->NPC_F_MPI_MON_Camera_GetState() != 3; ++i) {
    clock.advance(1000);
    eventually([&] { return cam_->NPC_F_MPI_MON_Camera_GetState() == 3; }, 100);
  }
  ASSERT_TRUE(eventually([&] { return cam_->NPC_F_MPI_MON_Camera_GetState() == 3; }, kWaitMs));
  EXPECT_EQ(cam_->NPC_F_MPI_MON_Camera_GetDisconnectCause(), NPC_D_MPI_MON_CAMERA_DISCAUSE_DEV_DISCONNECT);
}

// Live view of the video and A-law vectors, twice over one camera: connect, play, every frame
// through the frame list, stop, disconnect; then connect and play again on a new connection, and
// the vectors come again from their start. The first pass takes video and audio by type, in
// alternating turns of different lengths, so each kind must keep its own order while the other
// is taken around it; the second takes the mixed queue, waiting, and sorts the kinds afterwards.
TEST_F(CameraE2E, LiveViewFramesAreTheVectorsAndFlowAgainAfterAReconnect) {
  start({"--video", kLiveVideo, "--audio", kLiveAlaw, "--rate", "max", "--quiet"});
  makeCamera();
  for (int pass = 1; pass <= 2; ++pass) {
    SCOPED_TRACE(pass);
    ASSERT_TRUE(connectAndPlay()) << lastError();
    EXPECT_EQ(cam_->NPC_F_MPI_MON_Camera_GetPlayType(), NPC_D_MPI_MON_CAMERA_PLAY_TYPE_LIVE);
    EXPECT_EQ(cam_->NPC_F_MPI_MON_Camera_GetPlayState(), NPC_D_MPI_MON_CAMERA_PLAY_STATE_PLAYING);
    ASSERT_TRUE(sim_->waitCount("STREAM_END ", static_cast<size_t>(pass), kWaitMs));
    ASSERT_TRUE(waitFrames(100, 101));
    EXPECT_EQ(cam_->NPC_F_MPI_MON_Camera_GetResidualFrameNum(0), 201);
    EXPECT_EQ(cam_->NPC_F_MPI_MON_Camera_GetResidualFrameTimestamp(1), 3960);
    EXPECT_EQ(cam_->NPC_F_MPI_MON_Camera_GetResidualFrameTimestamp(2), 4000);

    std::vector<Frame> video, audio;
    Frame f;
    if (pass == 1) {
      bool more = true;
      while (more) {
        more = false;
        for (int i = 0; i < 2 && take(cam_->NPC_F_MPI_MON_Camera_GetMediaFrame(1), &f); ++i, more = true)
          video.push_back(f);
        for (int i = 0; i < 3 && take(cam_->NPC_F_MPI_MON_Camera_GetMediaFrame(2), &f); ++i, more = true)
          audio.push_back(f);
      }
    } else {
      while (take(cam_->NPC_F_MPI_MON_Camera_GetMediaFrameFromQueue(100), &f))
        (f.head.iMediaType == NPC_D_MON_MEDIA_TYPE_VIDEO ? video : audio).push_back(f);
    }
    expectTheVectors(video, audio);
    EXPECT_EQ(cam_->NPC_F_MPI_MON_Camera_GetResidualFrameNum(0), 0);

    ASSERT_EQ(cam_->NPC_F_MPI_MON_Camera_Stop(kWaitMs), 0) << lastError();
    EXPECT_TRUE(sim_->waitCount("CLOSE ", static_cast<size_t>(pass), kWaitMs));
    EXPECT_EQ(cam_->NPC_F_MPI_MON_Camera_GetPlayState(), NPC_D_MPI_MON_CAMERA_PLAY_STATE_STOP);
    EXPECT_EQ(cam_->NPC_F_MPI_MON_Camera_GetState(), NPC_D_MPI_MON_CAMERA_STATE_CONNECTED);
    cam_->NPC_F_MPI_MON_Camera_Disconnect();
    EXPECT_EQ(cam_->NPC_F_MPI_MON_Camera_GetState(), NPC_D_MPI_MON_CAMERA_STATE_IDLE);
  }
  EXPECT_EQ(sim_->count("LOGIN "), 2u);
}

// A device that stops sending media while the camera plays (it stays connected and silent):
// with the fake clock moved a second at a time, the camera keeps playing for a while and then
// ends the session through its media time-out, state 3 with cause 6 and its log lines, well
// before the module's keep-alive would give up. Stop then returns the camera to state 2 and
// closes the stream that went quiet at the device, so that the next Play starts the vector over.
TEST_F(CameraE2E, MediaSilenceWhilePlayingEndsInStateThreeThroughTheMediaTimeOut) {
  korven_test::LogCapture log;
  korven_test::FakeClock clock;
  start({"--video", kLiveVideo, "--rate", "real", "--repeat", "0", "--quiet"});
  makeCamera();
  ASSERT_TRUE(connectAndPlay()) << lastError();
  const std::vector<korven_test::AccessUnit> units = korven_test::liveAccessUnits();
  Frame f;
  ASSERT_TRUE(take(cam_->NPC_F_MPI_MON_Camera_GetMediaFrameFromQueue(kWaitMs), &f));
  EXPECT_EQ(f.data, units[0].bytes);
  ASSERT_TRUE(sim_->command("{\"cmd\": \"silent\", \"on\": true}"));

  // Ten seconds of silence are not enough.
  for (int s = 0; s < 10; ++s) {
    clock.advance(1000);
    eventually([&] { return cam_->NPC_F_MPI_MON_Camera_GetState() == 3; }, 50);
  }
  EXPECT_EQ(cam_->NPC_F_MPI_MON_Camera_GetState(), NPC_D_MPI_MON_CAMERA_STATE_CONNECTED);
  EXPECT_EQ(cam_->NPC_F_MPI_MON_Camera_GetPlayState(), NPC_D_MPI_MON_CAMERA_PLAY_STATE_PLAYING);
  for (int s = 0; s < 30 && cam_->NPC_F_MPI_MON_Camera_GetState() != 3; ++s) {
    clock.advance(1000);
    eventually([&] { return cam_->NPC_F_MPI_MON_Camera_GetState() == 3; }, 100);
  }
  ASSERT_EQ(cam_->NPC_F_MPI_MON_Camera_GetState(), NPC_D_MPI_MON_CAMERA_STATE_DISCONNECTED);
  EXPECT_EQ(cam_->NPC_F_MPI_MON_Camera_GetDisconnectCause(), NPC_D_MPI_MON_CAMERA_DISCAUSE_MEDIA_TIMEOUT);
  EXPECT_EQ(cam_->NPC_F_MPI_MON_Camera_GetPlayState(), NPC_D_MPI_MON_CAMERA_PLAY_STATE_STOP);
  EXPECT_TRUE(log.waitFor("Long time did not receive the media data! []-[0]", kWaitMs));
  EXPECT_TRUE(log.contains("NPC_F_MPI_MON_Camera_PR_DoTimer media data time out."));
  EXPECT_EQ(cam_->NPC_F_MPI_MON_Camera_Play(0, 0, 0), 107);

  // The device speaks again (the quiet stream resumes); Stop reports 107 for state 3, closes
  // that stream at the device and leaves the camera connected.
  ASSERT_TRUE(sim_->command("{\"cmd\": \"silent\", \"on\": false}"));
  int code = 0;
  EXPECT_EQ(cam_->NPC_F_MPI_MON_Camera_Stop(kWaitMs), 107);
  EXPECT_EQ(lastError(&code), "Stop play no connect camera.");
  EXPECT_EQ(cam_->NPC_F_MPI_MON_Camera_GetState(), NPC_D_MPI_MON_CAMERA_STATE_CONNECTED);
  EXPECT_TRUE(sim_->waitFor("CLOSE ", kWaitMs));
  // What the old stream sent before its close is the application's to drop.
  while (take(cam_->NPC_F_MPI_MON_Camera_GetMediaFrameFromQueue(0), &f)) {
  }
  ASSERT_EQ(cam_->NPC_F_MPI_MON_Camera_Play(0, 0, 0), 0) << lastError();
  ASSERT_TRUE(take(cam_->NPC_F_MPI_MON_Camera_GetMediaFrameFromQueue(kWaitMs), &f));
  EXPECT_EQ(f.data, units[0].bytes);
}

}  // namespace
