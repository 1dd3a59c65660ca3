// Benchmark of the camera path inside the library, without a network: N protocol-bus cameras on
// one protocol bus whose device module is an in-process generator. The generator (a thread of the
// module's own, as a module's timer thread would be) sends every playing camera 25 frames per
// second of 10000 bytes (2 Mbit/s), every 25th a key frame, each carrying its send time
// (CLOCK_MONOTONIC nanoseconds) in its first 8 bytes; one application thread per camera pulls
// every frame with GetMediaFrameFromQueue and reads the same clock. This measures the module
// callback, the engine's queue and dispatch, the call layer's notice dispatch, the camera's
// callback, the frame list and the pull; the network and the device protocol are not in it.
//
// Prints, for N = 1, 16 and 64:
//   BENCH camera_path_latency_p50_us_N, camera_path_latency_p99_us_N   send -> pull
//   BENCH camera_path_frames_lost_N                                    sent - pulled
//   BENCH camera_path_cpu_pct_N                                        process CPU / wall, % of a core
// and BENCH camera_rss_mib_per_camera ((RSS with 64 playing cameras - RSS before) / 64).
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "bus/nxtp_syn.h"
#include "bus/pvm_msg.h"
#include "camera/nxtp_camera.h"
#include "runtime/log.h"
#include "bench_support.h"

namespace {

using korven_bench::cpuSeconds;
using korven_bench::monoNs;
using korven_bench::rssMiB;

constexpr uint32_t kVendor = 1009;
constexpr int kFps = 25;
constexpr int kFrameBytes = 10000;  // 2 Mbit/s at 25 frames per second
constexpr int kSeconds = 8;

// The cameras the generator feeds: their ids, once their live view is open.
struct Feed {
  std::mutex mu;
  std::vector<uint32_t> playing;
  std::atomic<int64_t> sent{0};
};
Feed g_feed;

// Answers every order in place; an open-realplay order adds the camera to the feed, a close
// removes it. A thread of its own sends the frames.
class GeneratorModule final : public NPC_I_PVM_DevProtocol {
 public:
  int NPC_F_PVM_InitDevProtocolModule(int vendorId, NPC_F_PVM_EVENT_CALLBACK cb, void* user) override {
    vendor_ = static_cast<uint32_t>(vendorId);
    cb_ = cb;
    user_ = user;
    run_ = true;
    thread_ = std::thread([this] { generate(); });
    return 1;
  }
  void NPC_F_PVM_UninitDevProtocolModule() override {
    run_ = false;
    if (thread_.joinable()) thread_.join();
  }
  int NPC_F_PVM_InputNetData(unsigned char*, int) override { return 1; }
  int NPC_F_PVM_InputUpOrderData(unsigned char* msg, int len) override {
    NPC_S_PVM_ORDER_MSG_VIEW v;
    if (!NPC_F_PVM_MSG_ReadOrderMsg(msg, len, &v)) return 1;
    NPC_S_PVM_ORDER_BODY_CAMERA_ID id{};
    NPC_F_PVM_MSG_ReadOrderBody(v, &id);
    if (v.tHead.iMsgId == ORDER_OPEN_REALPLAY) {
      std::lock_guard<std::mutex> lk(g_feed.mu);
      g_feed.playing.push_back(id.dwCameraConnId);
    } else if (v.tHead.iMsgId == ORDER_CLOSE_REALPLAY) {
      std::lock_guard<std::mutex> lk(g_feed.mu);
      auto& p = g_feed.playing;
      p.erase(std::remove(p.begin(), p.end(), id.dwCameraConnId), p.end());
    }
    NPC_F_PVM_MSG_SetOrderResp(msg, len, 0);
    cb_(user_, NPC_D_PVM_EVENT_TYPE_ORDER_DATA, vendor_, msg, len);
    return 1;
  }
  int NPC_F_PVM_Timer() override { return 1; }

 private:
  // Every 40 ms one frame for each playing camera, spread evenly over the period.
  void generate() {
    std::vector<uint8_t> data(kFrameBytes, 0x5A), msg;
    int64_t next = monoNs();
    int64_t frameNo = 0;
    while (run_) {
      std::vector<uint32_t> cams;
      {
        std::lock_guard<std::mutex> lk(g_feed.mu);
        cams = g_feed.playing;
      }
      const int64_t period = 1000000000LL / kFps;
      const int64_t step = cams.empty() ? period : period / static_cast<int64_t>(cams.size());
      for (size_t i = 0; i < cams.size() || (cams.empty() && i == 0); ++i) {
        while (run_ && monoNs() < next) std::this_thread::sleep_for(std::chrono::microseconds(200));
        next += step;
        if (!run_ || cams.empty()) break;
        NPC_S_MON_MEDIA_FRAME_HEAD h{};
        h.iMediaType = NPC_D_MON_MEDIA_TYPE_VIDEO;
        h.iVideoFrameType = frameNo % kFps == 0 ? NPC_D_MON_VIDEO_FRAME_TYPE_I : 2;
        h.iTimestamp = static_cast<int32_t>(frameNo * 40);
        const int64_t now = monoNs();
        memcpy(data.data(), &now, sizeof now);
        NPC_F_PVM_MSG_BuildMediaData(&msg, vendor_, cams[i], h, data.data(), data.size());
        cb_(user_, NPC_D_PVM_EVENT_TYPE_ORDER_DATA, vendor_, msg.data(), static_cast<int>(msg.size()));
        g_feed.sent++;
      }
      ++frameNo;
    }
  }

  uint32_t vendor_ = 0;
  NPC_F_PVM_EVENT_CALLBACK cb_ = nullptr;
  void* user_ = nullptr;
  std::atomic<bool> run_{false};
  std::thread thread_;
};

NPC_I_PVM_DevProtocol* create() { return new GeneratorModule(); }
void destroy(NPC_I_PVM_DevProtocol* m) { delete static_cast<GeneratorModule*>(m); }

void run(int n, bool reportRss) {
  NPC_S_NXTP_MODULE_ENTRY entries[1] = {{kVendor, "QXSP", &create, &destroy, nullptr}};
  NPC_S_NXTP_MODULE_TABLE table = {entries, 1};
  NPC_S_NXTP_CREATE_PARAM p = NPC_F_NXTP_MakeLocalCreateParam(&table);
  NPC_H_NXTP_SYN syn = NPC_F_NXTP_SYN_CreateProtocolBusServerEx(&p);
  if (!syn) {
    fprintf(stderr, "bus failed\n");
    return;
  }
  g_feed.sent = 0;
  const double rssBefore = rssMiB();
  std::vector<std::unique_ptr<NPC_C_VPI_NXTP_Camera>> cams;
  for (int i = 0; i < n; ++i) {
    cams.emplace_back(new NPC_C_VPI_NXTP_Camera(syn, "bench", kVendor, "", "", "", 0,
                                                "VendorId=1009,DevIp=127.0.0.1,DevPort=1,DevUserName=u,DevUserPwd=p,DevChNo=0",
                                                1, 5000, 0));
    if (cams.back()->NPC_F_MPI_MON_Camera_Connect(5000, nullptr, 0, 0) != 0 ||
        cams.back()->NPC_F_MPI_MON_Camera_Play(0, 0, 0) != 0) {
      fprintf(stderr, "camera %d failed\n", i);
    }
  }
  std::atomic<bool> stop{false};
  std::vector<std::vector<int64_t>> lat(static_cast<size_t>(n));
  std::vector<std::thread> pullers;
  const double cpu0 = cpuSeconds();
  const int64_t wall0 = monoNs();
  for (int i = 0; i < n; ++i) {
    pullers.emplace_back([&, i] {
      auto& l = lat[static_cast<size_t>(i)];
      l.reserve(kFps * (kSeconds + 2));
      while (!stop) {
        NPC_S_MPI_MON_MEDIA_FRAME* f = cams[static_cast<size_t>(i)]->NPC_F_MPI_MON_Camera_GetMediaFrameFromQueue(100);
        if (!f) continue;
        const int64_t now = monoNs();
        int64_t sentAt = 0;
        if (f->iFrameDataLen >= 8) memcpy(&sentAt, f->pFrameData, sizeof sentAt);
        l.push_back(now - sentAt);
        cams[static_cast<size_t>(i)]->NPC_F_MPI_MON_Camera_ReleaseFrameData(f);
      }
    });
  }
  std::this_thread::sleep_for(std::chrono::seconds(kSeconds));
  const double rssLive = rssMiB();
  for (auto& c : cams) c->NPC_F_MPI_MON_Camera_Stop(5000);
  // Let the frames in flight arrive before counting.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  stop = true;
  for (auto& t : pullers) t.join();
  const double wall = static_cast<double>(monoNs() - wall0) / 1e9;
  const double cpu = cpuSeconds() - cpu0;

  std::vector<int64_t> all;
  for (auto& l : lat) all.insert(all.end(), l.begin(), l.end());
  std::sort(all.begin(), all.end());
  auto pct = [&](double q) {
    if (all.empty()) return 0.0;
    return static_cast<double>(all[static_cast<size_t>(q * static_cast<double>(all.size() - 1))]) / 1000.0;
  };
  const int64_t lost = g_feed.sent.load() - static_cast<int64_t>(all.size());
  printf("BENCH camera_path_latency_p50_us_%d %.1f us\n", n, pct(0.50));
  printf("BENCH camera_path_latency_p99_us_%d %.1f us\n", n, pct(0.99));
  printf("BENCH camera_path_frames_lost_%d %lld frames\n", n, static_cast<long long>(lost));
  printf("BENCH camera_path_cpu_pct_%d %.1f %%\n", n, 100.0 * cpu / wall);
  if (reportRss) printf("BENCH camera_rss_mib_per_camera %.3f MiB\n", (rssLive - rssBefore) / n);
  fflush(stdout);
  for (auto& c : cams) c->NPC_F_MPI_MON_Camera_Disconnect();
  cams.clear();
  NPC_F_NXTP_SYN_DestroyProtocolBusServer(syn);
}

}  // namespace

int main() {
  NPC_F_LOG_SR_SetIfShowLog(0);
  NPC_F_LOG_SR_SetIfWriteLogToFile(0);
  run(1, false);
  run(16, false);
  run(64, true);
  return 0;
}
