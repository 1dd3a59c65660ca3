// Timer service and event benchmarks: how fast the primitives react when woken.
//
//   timer_kill_60s_ms_max   KillTimer of the only timer of a 60 s interval (its tick thread is
//                           woken and joined), worst of 50 runs
//   timer_notice_late_ms_p99 lateness of the notices of a 20 ms periodic timer over 2 s
//   event_wake_p50_us       SetEvent to the return of a waiting Event_Wait on another thread
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "runtime/queue.h"
#include "runtime/thread.h"
#include "runtime/timer.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())));
  return v[i];
}

void benchKill() {
  void* server = NPC_F_SYS_TIMER_StartTimerServer(10);
  void* q = nullptr;
  NPC_F_TOOLS_QUEUE_InitQueue(&q, 16);
  std::vector<double> ms;
  for (int i = 0; i < 50; ++i) {
    const uint32_t id = NPC_F_SYS_TIMER_SetTimer(server, 1, 60000, q, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const auto t0 = SteadyClock::now();
    NPC_F_SYS_TIMER_KillTimer(server, id);
    ms.push_back(std::chrono::duration<double, std::milli>(SteadyClock::now() - t0).count());
  }
  std::printf("BENCH timer_kill_60s_ms_max %.3f ms\n", *std::max_element(ms.begin(), ms.end()));
  NPC_F_SYS_TIMER_StopTimerServer(server);
  NPC_F_TOOLS_QUEUE_FreeQueue(&q);
}

void benchTimerLateness() {
  constexpr int kIntervalMs = 20, kNotices = 100;
  void* server = NPC_F_SYS_TIMER_StartTimerServer(10);
  void* q = nullptr;
  NPC_F_TOOLS_QUEUE_InitQueue(&q, 1000);
  const auto t0 = SteadyClock::now();
  NPC_F_SYS_TIMER_SetTimer(server, 1, kIntervalMs, q, nullptr);
  std::vector<double> late;
  for (int i = 1; i <= kNotices; ++i) {
    NPC_S_SYS_TIMER_NOTICE n;
    int len = sizeof n;
    if (!NPC_F_TOOLS_QUEUE_GetData(q, &n, &len, 5000)) break;
    const double at = std::chrono::duration<double, std::milli>(SteadyClock::now() - t0).count();
    late.push_back(at - i * kIntervalMs);
  }
  std::printf("BENCH timer_notice_late_ms_p99 %.3f ms\n", percentile(late, 0.99));
  NPC_F_SYS_TIMER_StopTimerServer(server);
  NPC_F_TOOLS_QUEUE_FreeQueue(&q);
}

void benchEventWake() {
  void* go = NPC_F_THREAD_Event_Create(0, 0);
  void* done = NPC_F_THREAD_Event_Create(0, 0);
  constexpr int kRounds = 20000;
  std::atomic<long long> wokeAt{0};
  std::thread waiter([&] {
    for (int i = 0; i < kRounds; ++i) {
      NPC_F_THREAD_Event_Wait(go, 5000);
      wokeAt = SteadyClock::now().time_since_epoch().count();
      NPC_F_THREAD_Event_SetEvent(done);
    }
  });
  std::vector<double> us;
  for (int i = 0; i < kRounds; ++i) {
    std::this_thread::sleep_for(std::chrono::microseconds(50));  // let the waiter fall asleep
    const auto t0 = SteadyClock::now();
    NPC_F_THREAD_Event_SetEvent(go);
    NPC_F_THREAD_Event_Wait(done, 5000);
    us.push_back(std::chrono::duration<double, std::micro>(
                     SteadyClock::duration(wokeAt.load()) - t0.time_since_epoch()).count());
  }
  waiter.join();
  std::printf("BENCH event_wake_p50_us %.2f us\n", percentile(us, 0.50));
  NPC_F_THREAD_Event_Destroy(go);
  NPC_F_THREAD_Event_Destroy(done);
}

}  // namespace

int main() {
  benchKill();
  benchTimerLateness();
  benchEventWake();
  return 0;
}
