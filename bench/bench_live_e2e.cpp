// End-to-end live view benchmark over loopback: N protocol-bus cameras (N = 1, 16, 64), each its
// own NPC_C_VPI_NXTP_Camera with its own device login and media connection, play live from the
// QXSP device simulator in its benchmark mode (25 frames per second of 10000 bytes, 2 Mbit/s per
// camera). Every video frame carries, in its first 8 payload bytes, the CLOCK_MONOTONIC time in
// nanoseconds at which the simulator built and sent it (u64, little-endian). One application
// thread per camera pulls every frame with GetMediaFrameFromQueue and reads the same clock; the
// difference is the frame's latency through the kernel's loopback, the engine, the QXSP module,
// the call layer, the camera's frame list and the wake-up of the waiting reader.
//
// The simulator is Python and runs outside this process: it neither counts in the CPU figure
// nor in the RSS figure. One simulator process keeps the pace of 64 cameras on 2 cores (about
// 8 % of a core, every camera at 25.00 frames per second); the cameras are still spread over
// several processes (KORVEN_BENCH_CAMS_PER_SIM cameras each, 16 by default; camera i talks to
// simulator i % count) so that a pause of one Python process stalls a quarter of the streams,
// not all of them. The sim_cpu and sender_late figures below show whether a simulator lagged.
//
// Each round: the cameras connect and play, a warm-up (2 s) lets every stream settle, then a
// window (10 s by default, or argv[1] seconds) is measured. Figures:
//   BENCH live_e2e_latency_p50_us_N, live_e2e_latency_p99_us_N   send -> pull, frames pulled in
//                                                                 the window, all cameras
//   BENCH live_e2e_frames_lost_N       gaps in each camera's frame sequence (see below)
//   BENCH live_e2e_cpu_pct_N           this process's CPU time / wall time over the window, in %
//                                      of one core (getrusage RUSAGE_SELF: every thread of this
//                                      process, the pullers included; the simulators excluded)
//   BENCH live_rss_mib_per_camera      (RSS with 64 cameras playing - RSS before the first of them
//                                      was created) / 64; the puller threads and their buffers
//                                      exist before the first reading, and this round runs first
//                                      (its output is still printed last), so the difference is
//                                      the library's
// and, to tell where a delay comes from, diagnostics:
//   BENCH live_e2e_fps_per_camera_N    frames pulled per camera per second of the window (25 when
//                                      the simulators keep pace)
//   BENCH live_e2e_sender_late_p99_us_N  how late the simulators stamp frames against their own
//                                      25 fps schedule (a simulator that falls behind shows here,
//                                      not in the latency, since the stamp is taken at sending)
//   BENCH live_e2e_sim_cpu_pct_N       CPU of the busiest simulator process over the window, in %
//                                      of one core (near 100: that simulator is the limit)
//   BENCH live_e2e_tcp_latency_p50_us_N, live_e2e_tcp_latency_p99_us_N   the baseline, measured
//                                      right after each round on fresh simulators (1 s warm-up,
//                                      4 s window):
//                                      N bare clients, each reading its stream with blocking
//                                      recv() on its own thread; what loopback, the simulators and
//                                      the scheduler cost without the library
//
// Lost frames. The simulator numbers its synthetic frames: frame i carries the timestamp
// round(i * 1000 / 25) ms = 40 i ms in the packet, which the module hands on unchanged as the
// frame head's iTimestamp. A puller therefore knows each frame's index; every step from index a
// to index b > a + 1 between two consecutive frames of a camera counts b - a - 1 lost frames, and
// a step backwards or a repeat counts as one (it would be a reordering fault). This is counted
// from each camera's first pulled frame to the end of the window, warm-up included, so a frame
// dropped by a full frame list or by a resynchronisation at any time shows. A shortfall of the
// simulators (frames sent late, never skipped) is not a loss; it shows in the fps figure.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bus/nxtp_syn.h"
#include "bus/pvm_msg.h"
#include "camera/nxtp_camera.h"
#include "protocols/qxsp/qxsp_protocol.h"
#include "runtime/log.h"
#include "bench_support.h"

namespace {

constexpr uint32_t kVendor = 1009;
constexpr int kFps = 25;
constexpr int kBitrate = 2000000;
constexpr int64_t kFrameMs = 1000 / kFps;  // the timestamp step between consecutive frames
constexpr double kWarmupS = 2.0;
constexpr double kBaselineWarmupS = 1.0;
constexpr double kBaselineWindowS = 4.0;
constexpr uint32_t kLoginId = 0x10203040;  // the simulator's default login id

using korven_bench::cpuSeconds;
using korven_bench::monoNs;
using korven_bench::rssMiB;
using korven_bench::Simulator;

// What one camera's puller gathers. The vectors are reserved before the cameras exist, so that
// the RSS figure holds the library's memory and not the benchmark's.
struct Puller {
  std::atomic<NPC_C_VPI_NXTP_Camera*> cam{nullptr};
  std::vector<int64_t> latency;     // ns, frames pulled inside the window
  std::vector<int64_t> sendLate;    // ns, the simulator's stamp against its schedule, same frames
  int64_t frames = 0;               // frames pulled inside the window
  int64_t lost = 0;                 // see the file comment
  bool seen = false;                // a first frame has come
  int64_t lastIndex = -1;
  std::thread thread;
};

// The shared clock of a round: the window's bounds, set by the main thread.
struct Round {
  std::atomic<int64_t> windowStart{INT64_MAX};
  std::atomic<int64_t> windowEnd{INT64_MAX};
  std::atomic<bool> stop{false};
};

// Pulls every frame of its camera until the round stops. Frames that are not video (none are
// expected) are released uncounted.
void pull(Puller* p, Round* r) {
  NPC_C_VPI_NXTP_Camera* cam = nullptr;
  while (!r->stop.load() && !(cam = p->cam.load())) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  while (!r->stop.load()) {
    NPC_S_MPI_MON_MEDIA_FRAME* f = cam->NPC_F_MPI_MON_Camera_GetMediaFrameFromQueue(100);
    if (!f) continue;
    const int64_t now = monoNs();
    if (f->tFrameHead.iMediaType != NPC_D_MON_MEDIA_TYPE_VIDEO || f->iFrameDataLen < 8) {
      cam->NPC_F_MPI_MON_Camera_ReleaseFrameData(f);
      continue;
    }
    int64_t sentAt = 0;
    memcpy(&sentAt, f->pFrameData, sizeof sentAt);
    const int64_t index = static_cast<int64_t>(static_cast<uint32_t>(f->tFrameHead.iTimestamp)) / kFrameMs;
    cam->NPC_F_MPI_MON_Camera_ReleaseFrameData(f);
    if (now > r->windowEnd.load()) continue;  // after the window: drained, not counted
    if (!p->seen) {
      p->seen = true;
    } else if (index > p->lastIndex + 1) {
      p->lost += index - p->lastIndex - 1;
    } else if (index <= p->lastIndex) {
      p->lost += 1;
    }
    p->lastIndex = std::max(p->lastIndex, index);
    if (now >= r->windowStart.load()) {
      p->latency.push_back(now - sentAt);
      // The stamp against the simulator's schedule (frame i due at t0 + 40 i ms); t0 is taken
      // afterwards as the earliest of these, so what remains is how late each frame was sent.
      p->sendLate.push_back(sentAt - index * kFrameMs * 1000000LL);
      ++p->frames;
    }
  }
}

// The baseline: a bare client per camera that opens the stream itself (a realplay open with the
// simulator's login id, no login) and reads it on its own thread with blocking recv() into a
// 64 KiB buffer, reading the clock when a video packet is whole. It has the same simulators,
// loopback and scheduler as the library's path, and nothing else.
struct BareClient {
  int fd = -1;
  std::vector<int64_t> latency;
  std::thread thread;
};

bool bareOpen(BareClient* c, unsigned short port) {
  c->fd = socket(AF_INET, SOCK_STREAM, 0);
  if (c->fd < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(c->fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return false;
  uint8_t open[28] = {0xEE, 0xEE, 0xFF, 0xFF, 28, 0, 0, 0, 0x01, 0x02};
  memcpy(open + 20, &kLoginId, 4);
  return send(c->fd, open, sizeof open, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof open);
}

// Reads packets until the socket is shut down; video packets (0x0E01) pulled inside the window
// give a latency.
void bareRead(BareClient* c, Round* r) {
  std::vector<uint8_t> buf(256 * 1024);
  size_t have = 0;
  for (;;) {
    if (have == buf.size()) return;  // a packet larger than the buffer: not this simulator's
    const ssize_t n = recv(c->fd, buf.data() + have, std::min<size_t>(65536, buf.size() - have), 0);
    if (n <= 0) return;
    const int64_t now = monoNs();
    have += static_cast<size_t>(n);
    size_t off = 0;
    while (have - off >= 20) {
      int32_t len = 0;
      memcpy(&len, buf.data() + off + 4, 4);
      if (len < 20) return;
      if (have - off < static_cast<size_t>(len)) break;
      const uint16_t num = static_cast<uint16_t>(buf[off + 8] | buf[off + 9] << 8);
      if (num == 0x0E01 && len >= 40 && now >= r->windowStart.load() && now <= r->windowEnd.load()) {
        int64_t sentAt = 0;
        memcpy(&sentAt, buf.data() + off + 32, sizeof sentAt);
        c->latency.push_back(now - sentAt);
      }
      off += static_cast<size_t>(len);
    }
    memmove(buf.data(), buf.data() + off, have - off);
    have -= off;
  }
}

double percentileUs(const std::vector<int64_t>& v, double q) { return korven_bench::percentile(v, q) / 1000.0; }

// Appends a formatted line to a round's output.
void add(std::string* out, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void add(std::string* out, const char* fmt, ...) {
  char line[256];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(line, sizeof line, fmt, ap);
  va_end(ap);
  *out += line;
}

// Starts the simulators of a round of n cameras.
bool startSims(int n, int camsPerSim, std::vector<std::unique_ptr<Simulator>>* sims) {
  const int simCount = (n + camsPerSim - 1) / camsPerSim;
  for (int i = 0; i < simCount; ++i) {
    sims->emplace_back(new Simulator());
    if (!sims->back()->start("sim.qxsp_device", {"--quiet", "--bench-fps", std::to_string(kFps), "--bench-bitrate",
                                                 std::to_string(kBitrate)}))
      return false;
  }
  return true;
}

// The baseline round of n bare clients: p50 and p99 of their latency.
bool runBaseline(int n, int camsPerSim, double* p50, double* p99) {
  std::vector<std::unique_ptr<Simulator>> sims;
  bool ok = startSims(n, camsPerSim, &sims);
  Round round;
  std::vector<std::unique_ptr<BareClient>> clients;
  for (int i = 0; i < n && ok; ++i) {
    clients.emplace_back(new BareClient());
    clients.back()->latency.reserve(static_cast<size_t>(kFps * (kBaselineWindowS + 2)));
    ok = bareOpen(clients.back().get(), sims[static_cast<size_t>(i) % sims.size()]->port());
    if (ok) clients.back()->thread = std::thread(bareRead, clients.back().get(), &round);
  }
  if (ok) {
    std::this_thread::sleep_for(std::chrono::duration<double>(kBaselineWarmupS));
    round.windowStart = monoNs();
    std::this_thread::sleep_for(std::chrono::duration<double>(kBaselineWindowS));
    round.windowEnd = monoNs();
  }
  for (auto& c : clients) {
    if (c->fd >= 0) shutdown(c->fd, SHUT_RDWR);
    if (c->thread.joinable()) c->thread.join();
    if (c->fd >= 0) close(c->fd);
  }
  for (auto& s : sims) s->stop();
  std::vector<int64_t> lat;
  for (auto& c : clients) lat.insert(lat.end(), c->latency.begin(), c->latency.end());
  *p50 = percentileUs(lat, 0.50);
  *p99 = percentileUs(lat, 0.99);
  if (!ok) fprintf(stderr, "bench_live_e2e: the baseline of %d clients did not start\n", n);
  return ok;
}

bool run(int n, double window, int camsPerSim, bool reportRss, std::string* out) {
  std::vector<std::unique_ptr<Simulator>> sims;
  bool ok = startSims(n, camsPerSim, &sims);
  const int simCount = static_cast<int>(sims.size());
  NPC_H_NXTP_SYN syn = nullptr;
  if (ok) {
    NPC_S_NXTP_CREATE_PARAM p = NPC_F_NXTP_MakeLocalCreateParam(korven_bench::qxspOnlyModules());
    syn = NPC_F_NXTP_SYN_CreateProtocolBusServerEx(&p);
    ok = syn != nullptr;
  }
  if (!ok) {
    fprintf(stderr, "bench_live_e2e: %s did not start\n", syn ? "a simulator" : "the engine");
    for (auto& s : sims) s->stop();
    return false;
  }

  Round round;
  const size_t reserve = static_cast<size_t>(kFps * (window + 2)) + 64;
  std::vector<std::unique_ptr<Puller>> pullers;
  for (int i = 0; i < n; ++i) {
    pullers.emplace_back(new Puller());
    pullers.back()->latency.reserve(reserve);
    pullers.back()->sendLate.reserve(reserve);
    // Touch the reserved pages, so that they are resident before the first RSS reading.
    pullers.back()->latency.assign(reserve, 0);
    pullers.back()->latency.clear();
    pullers.back()->sendLate.assign(reserve, 0);
    pullers.back()->sendLate.clear();
  }
  for (auto& p : pullers) p->thread = std::thread(pull, p.get(), &round);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const double rssBefore = rssMiB();

  std::vector<std::unique_ptr<NPC_C_VPI_NXTP_Camera>> cams;
  int failed = 0;
  for (int i = 0; i < n; ++i) {
    char conn[256];
    // The same device address, user and channel for every camera of a simulator: the module then
    // logs in once per camera, so each camera has its own order and media connections.
    snprintf(conn, sizeof conn,
             "VendorId=%u,DevIp=127.0.0.1,DevPort=%u,DevUserName=admin,DevUserPwd=admin123,DevChNo=0", kVendor,
             sims[static_cast<size_t>(i % simCount)]->port());
    cams.emplace_back(new NPC_C_VPI_NXTP_Camera(syn, "bench", kVendor, "", "", "", 0, conn, 1, 5000, 0));
    NPC_C_VPI_NXTP_Camera* c = cams.back().get();
    int rc = c->NPC_F_MPI_MON_Camera_Connect(5000, nullptr, 0, 0);
    if (rc == 0) rc = c->NPC_F_MPI_MON_Camera_Play(0, 0, 0);
    if (rc != 0) {
      char text[256] = "";
      c->NPC_F_MPI_MON_Camera_GetLastError(sizeof text, text);
      fprintf(stderr, "bench_live_e2e: camera %d: %d %s\n", i, rc, text);
      ++failed;
      continue;
    }
    pullers[static_cast<size_t>(i)]->cam = c;
  }

  std::this_thread::sleep_for(std::chrono::duration<double>(kWarmupS));
  std::vector<double> simCpu0;
  for (auto& s : sims) simCpu0.push_back(s->cpuSeconds());
  const double cpu0 = cpuSeconds();
  const int64_t wall0 = monoNs();
  round.windowStart = wall0;
  std::this_thread::sleep_for(std::chrono::duration<double>(window));
  const int64_t wall1 = monoNs();
  round.windowEnd = wall1;
  const double cpu1 = cpuSeconds();
  double simCpuMax = 0;
  for (size_t i = 0; i < sims.size(); ++i) simCpuMax = std::max(simCpuMax, sims[i]->cpuSeconds() - simCpu0[i]);
  const double rssLive = rssMiB();
  const double wall = static_cast<double>(wall1 - wall0) / 1e9;

  // Frames stamped before the window's end may still be on their way: give them 200 ms.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  round.stop = true;
  for (auto& p : pullers) p->thread.join();
  for (auto& c : cams) {
    c->NPC_F_MPI_MON_Camera_Stop(5000);
    c->NPC_F_MPI_MON_Camera_Disconnect();
  }
  cams.clear();
  NPC_F_NXTP_SYN_DestroyProtocolBusServer(syn);
  for (auto& s : sims) s->stop();

  std::vector<int64_t> lat, late;
  int64_t lost = 0, frames = 0;
  for (auto& p : pullers) {
    lat.insert(lat.end(), p->latency.begin(), p->latency.end());
    if (!p->sendLate.empty()) {
      const int64_t t0 = *std::min_element(p->sendLate.begin(), p->sendLate.end());
      for (int64_t v : p->sendLate) late.push_back(v - t0);
    }
    lost += p->lost;
    frames += p->frames;
  }
  add(out, "BENCH live_e2e_latency_p50_us_%d %.1f us\n", n, percentileUs(lat, 0.50));
  add(out, "BENCH live_e2e_latency_p99_us_%d %.1f us\n", n, percentileUs(lat, 0.99));
  add(out, "BENCH live_e2e_frames_lost_%d %lld frames\n", n, static_cast<long long>(lost));
  add(out, "BENCH live_e2e_cpu_pct_%d %.1f %%\n", n, 100.0 * (cpu1 - cpu0) / wall);
  add(out, "BENCH live_e2e_fps_per_camera_%d %.2f frames/s\n", n,
         static_cast<double>(frames) / wall / static_cast<double>(n));
  add(out, "BENCH live_e2e_sender_late_p99_us_%d %.1f us\n", n, percentileUs(late, 0.99));
  add(out, "BENCH live_e2e_sim_cpu_pct_%d %.1f %%\n", n, 100.0 * simCpuMax / wall);
  if (reportRss) add(out, "BENCH live_rss_mib_per_camera %.3f MiB\n", (rssLive - rssBefore) / n);
  double b50 = 0, b99 = 0;
  if (runBaseline(n, camsPerSim, &b50, &b99)) {
    add(out, "BENCH live_e2e_tcp_latency_p50_us_%d %.1f us\n", n, b50);
    add(out, "BENCH live_e2e_tcp_latency_p99_us_%d %.1f us\n", n, b99);
    } else {
    ok = false;
  }
  if (failed) fprintf(stderr, "bench_live_e2e: %d of %d cameras did not play\n", failed, n);
  return ok && failed == 0;
}

}  // namespace

// Usage: bench_live_e2e [window-seconds [camera counts, comma-separated]]; by default a 10 s
// window and the counts 1, 16 and 64. The RSS figure comes with a count of 64.
int main(int argc, char** argv) {
  const double window = argc > 1 && atof(argv[1]) > 0 ? atof(argv[1]) : 10.0;
  std::vector<int> counts;
  for (const char* s = argc > 2 ? argv[2] : "1,16,64"; *s;) {
    char* end = nullptr;
    const long v = strtol(s, &end, 10);
    if (end == s) break;
    if (v > 0 && v <= 256) counts.push_back(static_cast<int>(v));
    s = *end == ',' ? end + 1 : end;
  }
  const char* per = getenv("KORVEN_BENCH_CAMS_PER_SIM");
  const int camsPerSim = per && atoi(per) > 0 ? atoi(per) : 16;
  NPC_F_LOG_SR_SetIfShowLog(0);
  NPC_F_LOG_SR_SetIfWriteLogToFile(0);
  // The round of 64 runs first, in a process whose heap no earlier round has grown (pages an
  // earlier round freed would be reused and hide part of the growth); the figures are printed
  // in the order asked.
  std::vector<std::string> out(counts.size());
  bool ok = true;
  for (int pass = 0; pass < 2; ++pass) {
    for (size_t i = 0; i < counts.size(); ++i) {
      if ((counts[i] == 64) != (pass == 0)) continue;
      ok = run(counts[i], window, camsPerSim, counts[i] == 64, &out[i]) && ok;
    }
  }
  for (const std::string& o : out) fputs(o.c_str(), stdout);
  return ok ? 0 : 1;
}
