// Queue benchmarks: the hand-over latency between two threads and the streaming throughput
// of large items.
//
//   queue_handoff_p50_us / _p99_us  ping-pong of a 64-byte item through two queues between two
//                                   threads; one-way latency = round trip / 2
//   queue_items_per_s_64k           one producer streams 64 KiB items to one consumer (GetDataEx)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "runtime/queue.h"
#include "bench_support.h"

namespace {

using korven_bench::percentile;

using SteadyClock = std::chrono::steady_clock;

constexpr int kPingWarmup = 2000;
constexpr int kPingSamples = 50000;
constexpr int kStreamItems = 20000;
constexpr int kStreamItemLen = 64 * 1024;

void benchHandoff() {
  void* there = nullptr;
  void* back = nullptr;
  NPC_F_TOOLS_QUEUE_InitQueue(&there, 16);
  NPC_F_TOOLS_QUEUE_InitQueue(&back, 16);
  const int total = kPingWarmup + kPingSamples;
  std::thread echo([&] {
    char item[64];
    for (int i = 0; i < total; ++i) {
      int len = sizeof item;
      while (!NPC_F_TOOLS_QUEUE_GetData(there, item, &len, 1000)) len = sizeof item;
      NPC_F_TOOLS_QUEUE_SetData(back, item, len, 1000);
    }
  });
  std::vector<double> oneWayUs;
  oneWayUs.reserve(kPingSamples);
  char item[64] = {1};
  for (int i = 0; i < total; ++i) {
    const auto t0 = SteadyClock::now();
    NPC_F_TOOLS_QUEUE_SetData(there, item, sizeof item, 1000);
    int len = sizeof item;
    while (!NPC_F_TOOLS_QUEUE_GetData(back, item, &len, 1000)) len = sizeof item;
    const auto rt = std::chrono::duration<double, std::micro>(SteadyClock::now() - t0).count();
    if (i >= kPingWarmup) oneWayUs.push_back(rt / 2);
  }
  echo.join();
  std::printf("BENCH queue_handoff_p50_us %.2f us\n", percentile(oneWayUs, 0.50));
  std::printf("BENCH queue_handoff_p99_us %.2f us\n", percentile(oneWayUs, 0.99));
  NPC_F_TOOLS_QUEUE_FreeQueue(&there);
  NPC_F_TOOLS_QUEUE_FreeQueue(&back);
}

void benchStream() {
  void* q = nullptr;
  NPC_F_TOOLS_QUEUE_InitQueue(&q, 64);
  const auto t0 = SteadyClock::now();
  std::thread producer([&] {
    std::vector<char> item(kStreamItemLen, 'x');
    for (int i = 0; i < kStreamItems; ++i)
      while (!NPC_F_TOOLS_QUEUE_SetData(q, item.data(), kStreamItemLen, 1000)) {
      }
  });
  char* buf = nullptr;
  int len = 0, cap = 0;
  long long bytes = 0;
  for (int i = 0; i < kStreamItems; ++i) {
    while (!NPC_F_TOOLS_QUEUE_GetDataEx(q, &buf, &len, &cap, 1000)) {
    }
    bytes += len;
  }
  const double secs = std::chrono::duration<double>(SteadyClock::now() - t0).count();
  producer.join();
  NPC_F_TOOLS_QUEUE_FreeMemory(&buf);
  NPC_F_TOOLS_QUEUE_FreeQueue(&q);
  std::printf("BENCH queue_items_per_s_64k %.0f items/s\n", kStreamItems / secs);
  std::printf("BENCH queue_mib_per_s_64k %.0f MiB/s\n", static_cast<double>(bytes) / secs / (1024.0 * 1024.0));
}

}  // namespace

int main() {
  benchHandoff();
  benchStream();
  return 0;
}
