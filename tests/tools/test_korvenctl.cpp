// korvenctl run as a program: the help text names every option, bad arguments end with exit
// code 2 and one line naming the problem, an output file that cannot be written ends with 1, a
// wrong password (against the QXSP device simulator) ends with 4 and a refused connection with 3,
// each with the camera's error text, and nothing it prints ever carries the password of the
// connect-parameter string. Against the streaming simulator it records the live view: the video
// file is the H.264 vector's access units one after another and the WAV file holds exactly the
// samples of the A-law vector.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "live_vectors.h"
#include "run_program.h"
#include "sim_process.h"
#include "test_support.h"

namespace {

using korven_test::closedPort;
using korven_test::ProgramResult;
using korven_test::runProgram;

const std::string kConn = "VendorId=1009,DevIp=127.0.0.1,DevPort=1,DevUserName=admin,DevUserPwd=pw-do-not-print,DevChNo=0";

ProgramResult korvenctl(const std::vector<std::string>& args) { return runProgram(KORVENCTL_PATH, args); }

TEST(Korvenctl, HelpNamesEveryOptionAndTheExitCodes) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--help"}, std::vector<std::string>{"live", "--help"}}) {
    const ProgramResult r = korvenctl(args);
    EXPECT_EQ(r.exitCode, 0);
    for (const char* opt : {"--conn", "--seconds", "--out", "--audio", "--timeout", "--quiet", "--verbose", "--help"})
      EXPECT_NE(r.out.find(opt), std::string::npos) << opt;
    EXPECT_NE(r.out.find("exit codes"), std::string::npos);
  }
}

TEST(Korvenctl, BadArgumentsEndWithTwoAndOneClearLine) {
  struct Case {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{}, "usage: korvenctl live"},
      {{"watch"}, "unknown command watch"},
      {{"live"}, "--conn is required"},
      {{"live", "--conn"}, "--conn needs a value"},
      {{"live", "--conn", kConn, "--colour"}, "unknown option --colour"},
      {{"live", "--conn", kConn, "--seconds", "0"}, "--seconds must be"},
      {{"live", "--conn", kConn, "--seconds", "ten"}, "--seconds must be"},
      {{"live", "--conn", kConn, "--seconds", "-3"}, "--seconds must be"},
      {{"live", "--conn", kConn, "--timeout", "5"}, "--timeout must be"},
      {{"live", "--conn", kConn, "--timeout", "99999999999"}, "--timeout must be"},
      {{"live", "--conn", "DevIp=127.0.0.1,DevPort=1,DevUserPwd=pw-do-not-print"}, "no VendorId"},
      {{"live", "--conn", "VendorId=4242,DevIp=127.0.0.1,DevUserPwd=pw-do-not-print"},
       "no device protocol module for VendorId=4242"},
      {{"live", "--conn", std::string(1100, 'x')}, "--conn is longer than 1023"},
  };
  for (const Case& c : cases) {
    const ProgramResult r = korvenctl(c.args);
    std::string joined;
    for (const auto& a : c.args) joined += a.substr(0, 40) + " ";
    EXPECT_EQ(r.exitCode, 2) << joined;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << joined << "\n" << r.err;
    EXPECT_EQ(r.err.find("pw-do-not-print"), std::string::npos) << joined;
    EXPECT_EQ(r.out.find("pw-do-not-print"), std::string::npos) << joined;
  }
}

TEST(Korvenctl, OutputThatCannotBeWrittenEndsWithOne) {
  for (const char* opt : {"--out", "--audio"}) {
    const ProgramResult r = korvenctl({"live", "--conn", kConn, opt, "/nonexistent-dir/x/live.out"});
    EXPECT_EQ(r.exitCode, 1) << opt;
    EXPECT_NE(r.err.find("cannot write /nonexistent-dir/x/live.out"), std::string::npos) << r.err;
  }
}

std::string conn(unsigned short port, const std::string& pwd) {
  return "VendorId=1009,DevIp=127.0.0.1,DevPort=" + std::to_string(port) + ",DevUserName=admin,DevUserPwd=" + pwd +
         ",DevChNo=0,DevStreamNo=0";
}

TEST(Korvenctl, WrongPasswordEndsWithFourAndTheCamerasText) {
  korven_test::SimProcess sim("sim.qxsp_device", {"--port", "0"});
  ASSERT_TRUE(sim.ok());
  const ProgramResult r = korvenctl({"live", "--conn", conn(sim.port(), "pw-do-not-print"), "--timeout", "5000"});
  EXPECT_EQ(r.exitCode, 4);
  EXPECT_NE(r.err.find("korvenctl: connect failed: Connect camera: pwd error. [camera error 102]"), std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("pw-do-not-print"), std::string::npos);
  EXPECT_EQ(r.out.find("pw-do-not-print"), std::string::npos);
}

TEST(Korvenctl, RefusedConnectionEndsWithThree) {
  const unsigned short port = closedPort();
  ASSERT_NE(port, 0);
  const ProgramResult r = korvenctl({"live", "--conn", conn(port, "admin123"), "--timeout", "5000"});
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_NE(r.err.find("Connect camera: Network connection failure."), std::string::npos) << r.err;
}

std::vector<uint8_t> readFile(const std::string& path) {
  std::vector<uint8_t> out;
  if (FILE* f = fopen(path.c_str(), "rb")) {
    uint8_t buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
    fclose(f);
  }
  return out;
}

// A little-endian field of a file header.
uint32_t le(const std::vector<uint8_t>& b, size_t off, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | b[off + static_cast<size_t>(i)];
  return v;
}

// The simulator streams the vectors flat out, so the whole of them has come long before the
// recording ends.
TEST(Korvenctl, LiveRecordsTheVectorsVideoAndAudio) {
  korven_test::SimProcess sim("sim.qxsp_device", {"--port", "0", "--quiet", "--video", korven_test::kLiveVideo,
                                                  "--audio", korven_test::kLiveAlaw, "--rate", "max"});
  ASSERT_TRUE(sim.ok());
  const std::string base = ::testing::TempDir() + "/korvenctl_live_" + std::to_string(getpid());
  const std::string h264 = base + ".h264", wav = base + ".wav";
  const ProgramResult r = korvenctl({"live", "--conn", conn(sim.port(), "admin123"), "--seconds", "4", "--out", h264,
                                     "--audio", wav, "--quiet"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("100 video frames (4 key), 101 audio frames"), std::string::npos) << r.out;

  std::vector<uint8_t> units;
  for (const korven_test::AccessUnit& u : korven_test::liveAccessUnits())
    units.insert(units.end(), u.bytes.begin(), u.bytes.end());
  ASSERT_EQ(units.size(), 432239u);
  EXPECT_TRUE(readFile(h264) == units) << "the video file is not the access units of the vector";

  // 16-bit mono PCM at 8 kHz, the header's sizes those of the samples written.
  const std::vector<uint8_t> w = readFile(wav);
  const std::vector<uint8_t> pcm = korven_test::readSourceFile(korven_test::kLiveAlawRef);
  ASSERT_EQ(w.size(), 44 + pcm.size());
  EXPECT_EQ(std::string(w.begin(), w.begin() + 4), "RIFF");
  EXPECT_EQ(le(w, 4, 4), 36 + pcm.size());
  EXPECT_EQ(std::string(w.begin() + 8, w.begin() + 16), "WAVEfmt ");
  EXPECT_EQ(le(w, 20, 2), 1u);      // PCM
  EXPECT_EQ(le(w, 22, 2), 1u);      // channels
  EXPECT_EQ(le(w, 24, 4), 8000u);   // sample rate
  EXPECT_EQ(le(w, 28, 4), 16000u);  // bytes per second
  EXPECT_EQ(le(w, 34, 2), 16u);     // bits per sample
  EXPECT_EQ(std::string(w.begin() + 36, w.begin() + 40), "data");
  EXPECT_EQ(le(w, 40, 4), pcm.size());
  EXPECT_TRUE(std::vector<uint8_t>(w.begin() + 44, w.end()) == pcm) << "the WAV samples are not the vector's";
  remove(h264.c_str());
  remove(wav.c_str());
}

// A device that closes the session once it has streamed the vector: exit code 6 with its line,
// and the video file still holds every access unit, the frames that were queued when the close
// was seen included.
TEST(Korvenctl, DeviceCloseEndsWithSixAndKeepsWhatCameBefore) {
  korven_test::SimProcess sim("sim.qxsp_device",
                              {"--port", "0", "--quiet", "--video", korven_test::kLiveVideo, "--rate", "max"});
  ASSERT_TRUE(sim.ok());
  const std::string h264 = ::testing::TempDir() + "/korvenctl_close_" + std::to_string(getpid()) + ".h264";
  ProgramResult r;
  std::thread run([&] {
    r = korvenctl({"live", "--conn", conn(sim.port(), "admin123"), "--seconds", "60", "--out", h264, "--quiet"});
  });
  // The simulator reports the end of its stream when the last packet is queued for sending. The
  // pause lets the library take in what is still in flight: once the order connection is seen
  // closed the session ends, and media bytes not read by then are gone with it.
  const bool streamed = sim.waitFor("STREAM_END ", 30000);
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  EXPECT_TRUE(sim.command("{\"cmd\": \"close\"}"));
  run.join();
  ASSERT_TRUE(streamed);
  EXPECT_EQ(r.exitCode, 6) << r.err;
  EXPECT_NE(r.err.find("korvenctl: live view failed: the device closed the session"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("100 video frames (4 key)"), std::string::npos) << r.out;
  EXPECT_TRUE(readFile(h264) == korven_test::readSourceFile(korven_test::kLiveVideo));
  remove(h264.c_str());
}

}  // namespace
