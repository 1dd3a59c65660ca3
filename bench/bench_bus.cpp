// Benchmarks of the protocol bus engine and the call layer:
//   call_rtt_p50_us / call_rtt_p99_us     CallRemoteProcess round trip against a module that
//                                          answers in place, one caller
//   call_rtt_p99_us_16                     the same with 16 concurrent callers
//   notice_frames_per_s                    4 KiB ORDER_MEDIA_DATA notices emitted by a module on
//                                          the engine thread and counted by a camera's media
//                                          callback
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "bus/nxtp_syn.h"
#include "bus/pvm_msg.h"
#include "runtime/log.h"
#include "bench_support.h"

namespace {

using korven_bench::percentile;

constexpr uint32_t kEchoVendor = 1009;
constexpr uint32_t kNoticeVendor = 2060;
constexpr int kFrameBytes = 4096;
constexpr int kNoticeBatch = 512;  // notices a timer call emits

std::atomic<uint32_t> g_cameraId{0};
std::atomic<bool> g_emit{false};

// Answers every order in place at once.
class EchoModule final : public NPC_I_PVM_DevProtocol {
 public:
  int NPC_F_PVM_InitDevProtocolModule(int vendorId, NPC_F_PVM_EVENT_CALLBACK cb, void* user) override {
    vendor_ = static_cast<unsigned>(vendorId);
    cb_ = cb;
    user_ = user;
    return 1;
  }
  void NPC_F_PVM_UninitDevProtocolModule() override {}
  int NPC_F_PVM_InputNetData(unsigned char*, int) override { return 1; }
  int NPC_F_PVM_InputUpOrderData(unsigned char* msg, int len) override {
    NPC_F_PVM_MSG_SetOrderResp(msg, len, 0);
    cb_(user_, NPC_D_PVM_EVENT_TYPE_ORDER_DATA, vendor_, msg, len);
    return 1;
  }
  int NPC_F_PVM_Timer() override { return 1; }

 private:
  unsigned vendor_ = 0;
  NPC_F_PVM_EVENT_CALLBACK cb_ = nullptr;
  void* user_ = nullptr;
};

// Emits a batch of media notices for the registered camera on every timer call while enabled.
class NoticeModule final : public NPC_I_PVM_DevProtocol {
 public:
  int NPC_F_PVM_InitDevProtocolModule(int vendorId, NPC_F_PVM_EVENT_CALLBACK cb, void* user) override {
    vendor_ = static_cast<unsigned>(vendorId);
    cb_ = cb;
    user_ = user;
    return 1;
  }
  void NPC_F_PVM_UninitDevProtocolModule() override {}
  int NPC_F_PVM_InputNetData(unsigned char*, int) override { return 1; }
  int NPC_F_PVM_InputUpOrderData(unsigned char*, int) override { return 1; }
  int NPC_F_PVM_Timer() override {
    if (!g_emit.load(std::memory_order_relaxed)) return 1;
    if (msg_.empty()) {
      NPC_S_MON_MEDIA_FRAME_HEAD head{};
      std::vector<uint8_t> data(kFrameBytes, 0x5A);
      NPC_F_PVM_MSG_BuildMediaData(&msg_, vendor_, g_cameraId.load(), head, data.data(), data.size());
    }
    for (int i = 0; i < kNoticeBatch; ++i)
      cb_(user_, NPC_D_PVM_EVENT_TYPE_ORDER_DATA, vendor_, msg_.data(), static_cast<int>(msg_.size()));
    return 1;
  }

 private:
  unsigned vendor_ = 0;
  NPC_F_PVM_EVENT_CALLBACK cb_ = nullptr;
  void* user_ = nullptr;
  std::vector<uint8_t> msg_;
};

template <typename T>
NPC_I_PVM_DevProtocol* make() {
  return new T();
}
template <typename T>
void unmake(NPC_I_PVM_DevProtocol* m) {
  delete static_cast<T*>(m);
}

// Round trips of `calls` echo calls on one thread, in microseconds.
std::vector<double> callLoop(NPC_H_NXTP_SYN syn, int calls) {
  std::vector<double> us;
  us.reserve(static_cast<size_t>(calls));
  char* buf = nullptr;
  int cap = 0, len = 0, result = 0;
  uint8_t body[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  for (int i = 0; i < calls; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    int ret = NPC_F_NXTP_SYN_CallRemoteProcess(syn, ORDER_QUERY_CUR_CHSTREAMNO, kEchoVendor, body, sizeof body,
                                               &result, &buf, &cap, &len, 5000);
    auto t1 = std::chrono::steady_clock::now();
    if (ret != 0) std::fprintf(stderr, "call failed: %d\n", ret);
    us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
  }
  NPC_F_NXTP_SYN_ReleaseDataBuf(buf);
  return us;
}

std::atomic<long long> g_frames{0};
void countFrame(void*, uint32_t, int, uint32_t, const NPC_S_MON_MEDIA_FRAME_HEAD*, const unsigned char* data, int len) {
  if (len == kFrameBytes && data[0] == 0x5A) g_frames.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

int main() {
  NPC_F_LOG_SR_SetIfShowLog(0);
  NPC_F_LOG_SR_SetIfWriteLogToFile(0);
  const NPC_S_NXTP_MODULE_ENTRY entries[] = {
      {kEchoVendor, "QXSP", &make<EchoModule>, &unmake<EchoModule>, nullptr},
      {kNoticeVendor, "HZXM", &make<NoticeModule>, &unmake<NoticeModule>, nullptr},
  };
  const NPC_S_NXTP_MODULE_TABLE table = {entries, 2};
  NPC_S_NXTP_CREATE_PARAM p{};
  p.sServerIpaddr = "";
  p.sP2pSrvIpaddr = NPC_D_NXTP_NO_SERVER_IPADDR;
  p.sClientIdent = "bench";
  p.sUserId = "";
  p.sUserText = "";
  p.pModuleTable = &table;
  NPC_H_NXTP_SYN syn = NPC_F_NXTP_SYN_CreateProtocolBusServerEx(&p);
  if (!syn) {
    std::fprintf(stderr, "bus creation failed\n");
    return 1;
  }

  callLoop(syn, 2000);  // warm-up
  std::vector<double> one = callLoop(syn, 20000);
  std::printf("BENCH call_rtt_p50_us %.1f us\n", percentile(one, 0.50));
  std::printf("BENCH call_rtt_p99_us %.1f us\n", percentile(one, 0.99));

  std::vector<std::vector<double>> per(16);
  std::vector<std::thread> threads;
  for (int t = 0; t < 16; ++t) threads.emplace_back([&, t] { per[static_cast<size_t>(t)] = callLoop(syn, 2000); });
  for (auto& t : threads) t.join();
  std::vector<double> all;
  for (auto& v : per) all.insert(all.end(), v.begin(), v.end());
  std::printf("BENCH call_rtt_p99_us_16 %.1f us\n", percentile(all, 0.99));

  g_cameraId = NPC_F_NXTP_SYN_CreateCameraData(syn, &countFrame, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                               nullptr, nullptr, nullptr);
  g_emit = true;
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // warm-up
  const long long f0 = g_frames.load();
  const auto t0 = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(2));
  const long long f1 = g_frames.load();
  const auto t1 = std::chrono::steady_clock::now();
  g_emit = false;
  const double secs = std::chrono::duration<double>(t1 - t0).count();
  std::printf("BENCH notice_frames_per_s %.0f frames/s\n", static_cast<double>(f1 - f0) / secs);

  NPC_F_NXTP_SYN_DeleteCameraData(syn, g_cameraId);
  NPC_F_NXTP_SYN_DestroyProtocolBusServer(syn);
  return 0;
}
