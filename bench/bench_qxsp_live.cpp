// Benchmark of QXSP live view throughput over loopback: the device simulator (a separate Python
// process) streams the H.264 vector as fast as the socket takes it, and the frames go through the
// real protocol bus engine, the QXSP module and the call layer to a camera whose media callback
// only counts. The baseline, measured in the same run from the same simulator, is a bare client
// that opens the stream itself and reads it with recv() into an 8192-byte buffer (the size the
// engine reads with). Rounds alternate between the two; the medians are reported.
//
// Prints BENCH qxsp_live_mb_s (the stream's bytes on the wire, frame heads included, that reached
// the camera per second), BENCH qxsp_tcp_mb_s (the bare client's), BENCH qxsp_live_vs_tcp (their
// ratio) and BENCH qxsp_live_frames_s.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bus/nxtp_syn.h"
#include "bus/pvm_msg.h"
#include "protocols/qxsp/qxsp_protocol.h"
#include "runtime/log.h"
#include "bench_support.h"

namespace {

constexpr uint32_t kLoginId = 0x10203040;  // the simulator's default login id
constexpr int kPacketHead = 32;            // head and fields of a video packet

double seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The baseline: a bare client opens the stream (P2_REALPLAY_OPEN with the simulator's login id)
// and reads it for warmup + window seconds; the bytes of the window per second.
double bareRecvRate(unsigned short port, double warmup, double window) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    if (fd >= 0) close(fd);
    return 0;
  }
  uint8_t open[28] = {0xEE, 0xEE, 0xFF, 0xFF, 28, 0, 0, 0, 0x01, 0x02};
  memcpy(open + 20, &kLoginId, 4);
  if (send(fd, open, sizeof open, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof open)) {
    close(fd);
    return 0;
  }
  std::vector<uint8_t> buf(8192);
  const auto t0 = std::chrono::steady_clock::now();
  auto start = t0;
  uint64_t bytes = 0;
  bool counting = false;
  for (;;) {
    ssize_t n = recv(fd, buf.data(), buf.size(), 0);
    if (n <= 0) break;
    const auto now = std::chrono::steady_clock::now();
    if (!counting && seconds(now - t0) >= warmup) {
      counting = true;
      start = now;
    } else if (counting) {
      bytes += static_cast<uint64_t>(n);
      if (seconds(now - start) >= window) break;
    }
  }
  const double secs = seconds(std::chrono::steady_clock::now() - start);
  close(fd);
  return secs > 0 ? static_cast<double>(bytes) / secs : 0;
}

// The camera: counts what its media callback gets.
struct Counter {
  std::atomic<uint64_t> frames{0};
  std::atomic<uint64_t> bytes{0};
  static void Media(void* user, uint32_t, int kind, uint32_t, const NPC_S_MON_MEDIA_FRAME_HEAD* head,
                    const unsigned char*, int len) {
    auto* c = static_cast<Counter*>(user);
    if (kind != NPC_D_NXTP_SYN_MEDIA_KIND_MEDIA || !head || head->iMediaType != 0) return;
    c->frames.fetch_add(1, std::memory_order_relaxed);
    c->bytes.fetch_add(static_cast<uint64_t>(len) + kPacketHead, std::memory_order_relaxed);
  }
};

int call(NPC_H_NXTP_SYN syn, int code, const void* body, int len) {
  int result = -1;
  char* ans = nullptr;
  int cap = 0, ansLen = 0;
  int rc = NPC_F_NXTP_SYN_CallRemoteProcess(syn, code, 1009, body, len, &result, &ans, &cap, &ansLen, 5000);
  NPC_F_NXTP_SYN_ReleaseDataBuf(ans);
  return rc == 0 ? result : rc;
}

// The stream through the engine to a counting camera: bytes per second and frames per second
// of the window.
bool liveRate(NPC_H_NXTP_SYN syn, unsigned short port, double warmup, double window, double* bytesPerSec,
              double* framesPerSec) {
  Counter counter;
  uint32_t cam = NPC_F_NXTP_SYN_CreateCameraData(syn, &Counter::Media, &counter, nullptr, nullptr, nullptr, nullptr,
                                                 nullptr, nullptr, nullptr, nullptr);
  if (!cam) return false;
  NPC_S_PVM_ORDER_BODY_CAMERA_CONNECT body;
  memset(&body, 0, sizeof body);
  body.dwCameraConnId = cam;
  snprintf(body.sConnParam, sizeof body.sConnParam,
           "VendorId=1009,DevIp=127.0.0.1,DevPort=%u,DevUserName=admin,DevUserPwd=admin123,DevChNo=0", port);
  bool ok = call(syn, ORDER_CAMERA_CONNECT, &body, sizeof body) == 0;
  NPC_S_PVM_ORDER_BODY_OPEN_REALPLAY open{cam, -1, 0};
  ok = ok && call(syn, ORDER_OPEN_REALPLAY, &open, sizeof open) == 0;
  if (ok) {
    std::this_thread::sleep_for(std::chrono::duration<double>(warmup));
    const uint64_t b0 = counter.bytes.load(), f0 = counter.frames.load();
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(window));
    const double secs = seconds(std::chrono::steady_clock::now() - t0);
    *bytesPerSec = static_cast<double>(counter.bytes.load() - b0) / secs;
    *framesPerSec = static_cast<double>(counter.frames.load() - f0) / secs;
    NPC_S_PVM_ORDER_BODY_CAMERA_ID id{cam};
    call(syn, ORDER_CLOSE_REALPLAY, &id, sizeof id);
  }
  NPC_S_PVM_ORDER_BODY_CAMERA_ID id{cam};
  call(syn, ORDER_CAMERA_DISCONNECT, &id, sizeof id);
  NPC_F_NXTP_SYN_DeleteCameraData(syn, cam);
  return ok;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
  const double window = argc > 2 ? atof(argv[2]) : 2.0;
  const double warmup = 0.3;
  NPC_F_LOG_SR_SetIfShowLog(0);
  NPC_F_LOG_SR_SetIfWriteLogToFile(0);
  korven_bench::Simulator sim;
  if (!sim.start("sim.qxsp_device", {"--quiet", "--video", "tests/data/live/h264_640x360_25fps.h264", "--rate",
                                      "max", "--repeat", "0"})) {
    fprintf(stderr, "bench_qxsp_live: simulator did not start\n");
    sim.stop();
    return 1;
  }
  NPC_S_NXTP_CREATE_PARAM p = NPC_F_NXTP_MakeLocalCreateParam(korven_bench::qxspOnlyModules());
  NPC_H_NXTP_SYN syn = NPC_F_NXTP_SYN_CreateProtocolBusServerEx(&p);
  if (!syn) {
    fprintf(stderr, "bench_qxsp_live: engine did not start\n");
    sim.stop();
    return 1;
  }
  std::vector<double> tcp, live, fps;
  int failures = 0;
  for (int r = 0; r < rounds; ++r) {
    tcp.push_back(bareRecvRate(sim.port(), warmup, window));
    double b = 0, f = 0;
    if (!liveRate(syn, sim.port(), warmup, window, &b, &f)) ++failures;
    live.push_back(b);
    fps.push_back(f);
  }
  NPC_F_NXTP_SYN_DestroyProtocolBusServer(syn);
  sim.stop();
  if (failures) fprintf(stderr, "bench_qxsp_live: %d rounds failed to open\n", failures);
  const double tcpRate = median(tcp), liveRateMb = median(live);
  printf("BENCH qxsp_live_mb_s %.1f MB/s\n", liveRateMb / 1e6);
  printf("BENCH qxsp_tcp_mb_s %.1f MB/s\n", tcpRate / 1e6);
  printf("BENCH qxsp_live_vs_tcp %.2f ratio\n", tcpRate > 0 ? liveRateMb / tcpRate : 0.0);
  printf("BENCH qxsp_live_frames_s %.0f frames/s\n", median(fps));
  return failures ? 1 : 0;
}
