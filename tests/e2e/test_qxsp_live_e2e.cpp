// Live view end to end over loopback: a camera logs in and opens realplay through the real
// protocol bus engine and its direct connect to the QXSP device simulator, which streams the
// committed vectors (tests/data/live). The frames that come up are checked against the vector
// files themselves: the H.264 access units as ffprobe listed them (sizes and key flags), the
// frame rate, size and timestamps, and the audio samples the reference tools produced. Then
// close and reopen, packets split at random points, and garbage thrown into a running stream.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "bus/nxtp_mc.h"
#include "bus/pvm_msg.h"
#include "live_vectors.h"
#include "protocols/qxsp/qxsp_protocol.h"
#include "sim_process.h"
#include "test_support.h"

namespace {

constexpr int kWaitMs = 20000;
constexpr uint32_t kCam = 0x10001;
using korven_test::AccessUnit;
const char* const kVideo = korven_test::kLiveVideo;

std::vector<uint8_t> readFile(const std::string& rel) { return korven_test::readSourceFile(rel); }
std::vector<AccessUnit> ffprobeUnits() { return korven_test::liveAccessUnits(); }

std::map<std::string, std::string> facts() {
  std::map<std::string, std::string> out;
  std::ifstream f(korven_test::sourceDir() + "/tests/data/live/h264_640x360_25fps.facts");
  std::string line;
  while (std::getline(f, line)) {
    const size_t eq = line.find('=');
    if (!line.empty() && line[0] != '#' && eq != std::string::npos) out[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return out;
}

struct Frame {
  NPC_S_MON_MEDIA_FRAME_HEAD head;
  std::vector<uint8_t> data;
};

// What came up through the engine's upper callback: answers by transaction, media frames in order.
class Upper {
 public:
  static void Callback(void* user, unsigned char* msg, int len) {
    auto* u = static_cast<Upper*>(user);
    NPC_S_PVM_ORDER_MSG_VIEW v;
    if (!NPC_F_PVM_MSG_ReadOrderMsg(msg, len, &v)) return;
    std::lock_guard<std::mutex> lk(u->mu_);
    NPC_S_PVM_FRAME_DATA_VIEW f;
    if (v.tHead.iMsgId == ORDER_MEDIA_DATA && NPC_F_PVM_MSG_ReadMediaData(v, &f)) {
      u->frames_.push_back({f.tFrameHead, std::vector<uint8_t>(f.pData, f.pData + f.iDataLen)});
    } else if (v.tHead.iMsgType == NPC_D_PVM_ORDER_MSG_TYPE_RESPONSE) {
      u->answers_[v.tHead.dwTransId] = v.tHead.iResult;
    }
    u->cv_.notify_all();
  }
  int32_t waitAnswer(uint32_t trans, int timeoutMs = kWaitMs) {
    std::unique_lock<std::mutex> lk(mu_);
    cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return answers_.count(trans) > 0; });
    return answers_.count(trans) ? answers_[trans] : -1;
  }
  // Waits until n frames of a media type came up; the frames of that type.
  std::vector<Frame> waitFrames(int32_t type, size_t n, int timeoutMs = kWaitMs) {
    std::unique_lock<std::mutex> lk(mu_);
    cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return countLocked(type) >= n; });
    std::vector<Frame> out;
    for (const Frame& f : frames_) {
      if (f.head.iMediaType == type) out.push_back(f);
    }
    return out;
  }
  void clearFrames() {
    std::lock_guard<std::mutex> lk(mu_);
    frames_.clear();
  }

 private:
  size_t countLocked(int32_t type) const {
    size_t n = 0;
    for (const Frame& f : frames_) n += f.head.iMediaType == type;
    return n;
  }
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<Frame> frames_;
  std::map<uint32_t, int32_t> answers_;
};

const NPC_S_NXTP_MODULE_ENTRY kQxspOnly[] = {
    {1009, "QXSP", &NPC_F_PVM_DP_QXSP_Create, &NPC_F_PVM_DP_QXSP_Destroy, &NPC_F_PVM_DP_QXSP_SetEncryptType},
};
const NPC_S_NXTP_MODULE_TABLE kTable = {kQxspOnly, 1};

class QxspLiveE2E : public ::testing::Test {
 protected:
  void TearDown() override {
    if (bus_) NPC_F_NXTP_DestroyProtocolBusServer(bus_);
    bus_ = nullptr;
    if (sim_) sim_->stop();
  }

  // Starts the simulator with the given options, the engine, and logs camera kCam in.
  void start(const std::vector<std::string>& simArgs) {
    std::vector<std::string> args = {"--port", "0", "--quiet"};
    args.insert(args.end(), simArgs.begin(), simArgs.end());
    sim_ = std::make_unique<korven_test::SimProcess>("sim.qxsp_device", args);
    ASSERT_TRUE(sim_->ok());
    NPC_S_NXTP_CREATE_PARAM p = NPC_F_NXTP_MakeLocalCreateParam(&kTable);
    p.fnUpperCallback = &Upper::Callback;
    p.pUpperUser = &up_;
    bus_ = NPC_F_NXTP_CreateProtocolBusServerEx(&p);
    ASSERT_NE(bus_, nullptr);
    NPC_S_PVM_ORDER_BODY_CAMERA_CONNECT body;
    memset(&body, 0, sizeof body);
    body.dwCameraConnId = kCam;
    snprintf(body.sConnParam, sizeof body.sConnParam,
             "VendorId=1009,DevIp=127.0.0.1,DevPort=%u,DevUserName=admin,DevUserPwd=admin123,DevChNo=2,DevStreamNo=0",
             sim_->port());
    ASSERT_EQ(up_.waitAnswer(order(ORDER_CAMERA_CONNECT, &body, sizeof body)), 0);
  }
  uint32_t order(int32_t code, const void* body, size_t len) {
    uint32_t trans = ++trans_;
    std::vector<uint8_t> msg;
    EXPECT_EQ(NPC_F_PVM_MSG_BuildRequest(&msg, code, trans, 1009, body, len), 1);
    EXPECT_EQ(NPC_F_NXTP_SendMsgData(bus_, msg.data(), static_cast<int>(msg.size()), 1000), 1);
    return trans;
  }
  int32_t open(int32_t stream = -1) {
    NPC_S_PVM_ORDER_BODY_OPEN_REALPLAY b{kCam, stream, 0};
    return up_.waitAnswer(order(ORDER_OPEN_REALPLAY, &b, sizeof b));
  }
  int32_t close() {
    NPC_S_PVM_ORDER_BODY_CAMERA_ID b{kCam};
    return up_.waitAnswer(order(ORDER_CLOSE_REALPLAY, &b, sizeof b));
  }
  // The video frames compared with the access units: byte for byte and in order, key flags, size,
  // rate, bit rate and timestamps (frame i at 40 i ms).
  void expectVideoIsTheVector(const std::vector<Frame>& video) {
    const std::vector<AccessUnit> units = ffprobeUnits();
    auto f = facts();
    ASSERT_EQ(units.size(), 100u);
    ASSERT_EQ(video.size(), units.size());
    for (size_t i = 0; i < units.size(); ++i) {
      SCOPED_TRACE(i);
      const NPC_S_MON_MEDIA_FRAME_HEAD& h = video[i].head;
      ASSERT_EQ(video[i].data, units[i].bytes);
      EXPECT_EQ(h.iVideoFrameType == 1, units[i].key);
      EXPECT_EQ(h.iVideoCodecId, 10);
      EXPECT_EQ(h.iVideoWidth, std::stoi(f["width"]));
      EXPECT_EQ(h.iVideoHeight, std::stoi(f["height"]));
      EXPECT_EQ(h.iVideoFrameRate, std::stoi(f["fps"]));
      EXPECT_EQ(h.iVideoBitRate, std::stoi(f["bit_rate_kbps"]));
      EXPECT_EQ(h.iTimestamp, static_cast<int32_t>(i * 1000 / 25));
    }
  }

  std::unique_ptr<korven_test::SimProcess> sim_;
  NPC_H_NXTP_MC bus_ = nullptr;
  Upper up_;
  uint32_t trans_ = 0x1000;
};

// The H.264 vector and the A-law audio, flat out: every access unit byte for byte, and the audio
// decoded to exactly the samples ffmpeg's decoder gives.
TEST_F(QxspLiveE2E, VideoAndAlawAudioAreTheVectors) {
  start({"--video", kVideo, "--audio", "tests/data/live/tone_8k.alaw", "--rate", "max"});
  ASSERT_EQ(open(), 0);
  EXPECT_TRUE(sim_->waitFor("OPEN 2 ex 2 0 0", kWaitMs));  // the media connection, channel 2, main stream
  expectVideoIsTheVector(up_.waitFrames(0, 100));
  const std::vector<Frame> audio = up_.waitFrames(1, 101);
  ASSERT_EQ(audio.size(), 101u);
  std::vector<uint8_t> pcm;
  for (size_t i = 0; i < audio.size(); ++i) {
    EXPECT_EQ(audio[i].head.iAudioCodecId, 30);
    EXPECT_EQ(audio[i].head.iAudioSampleRate, 8000);
    EXPECT_EQ(audio[i].head.iAudioChNum, 1);
    EXPECT_EQ(audio[i].head.iTimestamp, static_cast<int32_t>(40 * i));
    pcm.insert(pcm.end(), audio[i].data.begin(), audio[i].data.end());
  }
  EXPECT_EQ(pcm, readFile("tests/data/live/tone_8k_alaw_ref.s16"));
}

// The mu-law and IMA ADPCM vectors: mu-law exactly as ffmpeg decodes it, ADPCM exactly the
// committed reference samples (505 per 256-byte block, two blocks per frame).
TEST_F(QxspLiveE2E, MulawAndAdpcmAudio) {
  struct Case {
    const char* file;
    const char* ref;
    size_t frames;
  };
  for (const Case& c : {Case{"tests/data/live/tone_8k.ulaw", "tests/data/live/tone_8k_ulaw_ref.s16", 101},
                        Case{"tests/data/live/tone_8k.ima", "tests/data/live/tone_8k_ima_ref.s16", 32}}) {
    SCOPED_TRACE(c.file);
    start({"--audio", c.file, "--rate", "max"});
    ASSERT_EQ(open(), 0);
    const std::vector<Frame> audio = up_.waitFrames(1, c.frames);
    ASSERT_EQ(audio.size(), c.frames);
    std::vector<uint8_t> pcm;
    for (const Frame& f : audio) {
      EXPECT_EQ(f.head.iAudioCodecId, 30);
      pcm.insert(pcm.end(), f.data.begin(), f.data.end());
    }
    EXPECT_EQ(pcm, readFile(c.ref));
    TearDown();
    up_.clearFrames();
  }
}

// Close answers once the device has closed, the media connection goes, and a new open streams
// the vector again from its start.
TEST_F(QxspLiveE2E, CloseAndOpenAgain) {
  start({"--video", kVideo, "--rate", "max"});
  ASSERT_EQ(open(), 0);
  ASSERT_EQ(up_.waitFrames(0, 100).size(), 100u);
  EXPECT_EQ(close(), 0);
  EXPECT_TRUE(sim_->waitFor("CLOSE 2", kWaitMs));
  EXPECT_TRUE(sim_->waitFor("DISC 2", kWaitMs));
  up_.clearFrames();
  ASSERT_EQ(open(1), 0);
  EXPECT_TRUE(sim_->waitFor("OPEN 3 ex 2 1 0", kWaitMs));
  expectVideoIsTheVector(up_.waitFrames(0, 100));
}

// Packets cut at random points and sent piece by piece arrive whole.
TEST_F(QxspLiveE2E, RandomSplitsArriveWhole) {
  start({"--video", kVideo, "--rate", "max", "--split", "1500", "--split-random", "--split-gap", "0.05"});
  ASSERT_EQ(open(), 0);
  expectVideoIsTheVector(up_.waitFrames(0, 100));
}

// Garbage thrown into a running stream: the module finds the next packet boundary and goes on;
// every video frame that comes up is the access unit of its timestamp, video resumes with a key
// frame, and the stream runs to its end.
TEST_F(QxspLiveE2E, GarbageInARunningStream) {
  korven_test::LogCapture log;
  start({"--video", kVideo, "--audio", "tests/data/live/tone_8k.alaw", "--rate", "real", "--fps", "100"});
  ASSERT_EQ(open(), 0);
  ASSERT_GE(up_.waitFrames(0, 20).size(), 20u);
  ASSERT_TRUE(sim_->command("{\"cmd\": \"raw\", \"hex\": \"0102030405060708090a0b0c0d\"}"));
  const std::vector<AccessUnit> units = ffprobeUnits();
  std::vector<Frame> video;
  ASSERT_TRUE(korven_test::eventually([&] {
    video = up_.waitFrames(0, 0, 0);
    return !video.empty() && video.back().head.iTimestamp == 990;
  }, kWaitMs));
  EXPECT_TRUE(log.contains("NPC_F_PVM_QXSP_DoRecvProData dwPacketFlag error."));
  EXPECT_TRUE(log.contains("NPC_F_PVM_QXSP_DoRecvProData find frame head."));
  int32_t last = -1;
  bool gap = false;
  for (const Frame& f : video) {
    const size_t i = static_cast<size_t>(f.head.iTimestamp / 10);
    ASSERT_LT(i, units.size());
    ASSERT_EQ(f.data, units[i].bytes) << "frame " << i;
    ASSERT_GT(f.head.iTimestamp, last);
    if (last >= 0 && f.head.iTimestamp != last + 10) {
      gap = true;
      EXPECT_TRUE(units[i].key) << "video resumed at frame " << i;
    }
    last = f.head.iTimestamp;
  }
  EXPECT_TRUE(gap);
}

}  // namespace
