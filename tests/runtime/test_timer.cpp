// Tests of the timer service under the real clock (short intervals) and under the fake clock
// (long intervals driven by NPC_F_SYS_CLOCK_Advance): notices and their content, one-shot and
// periodic timers, the interval floor, KillTimer and ReSetTimer, dropped notices, and a tick
// thread that cannot start.
#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "runtime/queue.h"
#include "runtime/thread.h"
#include "runtime/timer.h"
#include "test_support.h"

namespace {

using SteadyClock = std::chrono::steady_clock;
using korven_test::eventually;

long long msSince(SteadyClock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start).count();
}

struct NoticeQueue {
  void* h = nullptr;
  explicit NoticeQueue(int capacity = 1000) { NPC_F_TOOLS_QUEUE_InitQueue(&h, capacity); }
  ~NoticeQueue() { NPC_F_TOOLS_QUEUE_FreeQueue(&h); }
  int count() const { return NPC_F_TOOLS_QUEUE_GetCount(h); }
  // Takes one notice, waiting up to timeoutMs (real time).
  bool take(NPC_S_SYS_TIMER_NOTICE* n, int timeoutMs) {
    int len = sizeof *n;
    return NPC_F_TOOLS_QUEUE_GetData(h, n, &len, timeoutMs) == 1 && len == static_cast<int>(sizeof *n);
  }
  std::vector<NPC_S_SYS_TIMER_NOTICE> drain() {
    std::vector<NPC_S_SYS_TIMER_NOTICE> out;
    NPC_S_SYS_TIMER_NOTICE n;
    while (take(&n, 0)) out.push_back(n);
    return out;
  }
};

struct Server {
  void* h;
  Server() : h(NPC_F_SYS_TIMER_StartTimerServer(10)) {}
  ~Server() { NPC_F_SYS_TIMER_StopTimerServer(h); }
};

// How long to give the service's threads to react to something that should not happen.
constexpr int kQuietMs = 60;

// ---------------------------------------------------------------------------------------------
// Real clock

TEST(TimerRealClockTest, PeriodicAndOneShotNotices) {
  Server s;
  NoticeQueue periodicQ, oneShotQ;
  int userA = 0, userB = 0;
  const auto start = SteadyClock::now();
  const uint32_t periodic = NPC_F_SYS_TIMER_SetTimer(s.h, 1, 20, periodicQ.h, &userA);
  const uint32_t oneShot = NPC_F_SYS_TIMER_SetTimer(s.h, 0, 30, oneShotQ.h, &userB);
  ASSERT_NE(periodic, 0u);
  ASSERT_NE(oneShot, 0u);
  EXPECT_NE(periodic, oneShot);

  NPC_S_SYS_TIMER_NOTICE n{};
  ASSERT_TRUE(oneShotQ.take(&n, 5000));
  // The seam's tick counts whole milliseconds, so allow the one it may round away.
  EXPECT_GE(msSince(start), 30 - 1);
  EXPECT_EQ(n.dwTimerId, oneShot);
  EXPECT_EQ(n.iInterval, 30);
  EXPECT_EQ(n.pUser, &userB);

  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(periodicQ.take(&n, 5000)) << "notice " << i;
    EXPECT_EQ(n.dwTimerId, periodic);
    EXPECT_EQ(n.iInterval, 20);
    EXPECT_EQ(n.pUser, &userA);
  }
  // The one-shot timer is gone after its notice.
  EXPECT_FALSE(oneShotQ.take(&n, 100));
  EXPECT_EQ(NPC_F_SYS_TIMER_KillTimer(s.h, oneShot), 0);
  EXPECT_EQ(NPC_F_SYS_TIMER_KillTimer(s.h, periodic), 1);
}

// Killing the only timer of a 60 s interval stops its tick thread at once (generous bound;
// the benchmark measures the real figure).
TEST(TimerRealClockTest, KillTimerDoesNotWaitOutTheInterval) {
  Server s;
  NoticeQueue q;
  const uint32_t id = NPC_F_SYS_TIMER_SetTimer(s.h, 1, 60000, q.h, nullptr);
  ASSERT_NE(id, 0u);
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const auto start = SteadyClock::now();
  EXPECT_EQ(NPC_F_SYS_TIMER_KillTimer(s.h, id), 1);
  EXPECT_LT(msSince(start), 1000);

  // ReSetTimer away from a long interval also stops its thread without waiting.
  const uint32_t id2 = NPC_F_SYS_TIMER_SetTimer(s.h, 1, 60000, q.h, nullptr);
  const auto start2 = SteadyClock::now();
  EXPECT_EQ(NPC_F_SYS_TIMER_ReSetTimer(s.h, id2, 50000), 1);
  EXPECT_EQ(NPC_F_SYS_TIMER_KillTimer(s.h, id2), 1);
  EXPECT_LT(msSince(start2), 1000);
}

TEST(TimerRealClockTest, StopWithLiveTimersIsClean) {
  NoticeQueue q;
  for (int round = 0; round < 3; ++round) {
    void* s = NPC_F_SYS_TIMER_StartTimerServer(0);
    for (int i = 0; i < 5; ++i) NPC_F_SYS_TIMER_SetTimer(s, i % 2, 10 + 10 * i, q.h, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
    const auto start = SteadyClock::now();
    NPC_F_SYS_TIMER_StopTimerServer(s);
    EXPECT_LT(msSince(start), 2000);
  }
}

TEST(TimerRealClockTest, InvalidArguments) {
  Server s;
  NoticeQueue q;
  EXPECT_EQ(NPC_F_SYS_TIMER_SetTimer(nullptr, 1, 100, q.h, nullptr), 0u);
  EXPECT_EQ(NPC_F_SYS_TIMER_SetTimer(s.h, 1, 100, nullptr, nullptr), 0u);
  EXPECT_EQ(NPC_F_SYS_TIMER_KillTimer(nullptr, 1), 0);
  EXPECT_EQ(NPC_F_SYS_TIMER_KillTimer(s.h, 12345), 0);
  EXPECT_EQ(NPC_F_SYS_TIMER_ReSetTimer(nullptr, 1, 100), 0);
  EXPECT_EQ(NPC_F_SYS_TIMER_ReSetTimer(s.h, 12345, 100), 0);
  NPC_F_SYS_TIMER_StopTimerServer(nullptr);
}

// ---------------------------------------------------------------------------------------------
// Fake clock: the clock must be installed before the server, so that it outlives it.

struct TimerFakeClockTest : testing::Test {
  korven_test::FakeClock clock;
  Server server;
};

TEST_F(TimerFakeClockTest, AdvanceDrivesLongIntervals) {
  NoticeQueue secondQ, minuteQ;
  const uint32_t second = NPC_F_SYS_TIMER_SetTimer(server.h, 1, 1000, secondQ.h, nullptr);
  const uint32_t minute = NPC_F_SYS_TIMER_SetTimer(server.h, 0, 60000, minuteQ.h, nullptr);
  ASSERT_NE(second, 0u);
  ASSERT_NE(minute, 0u);

  // Nothing happens while the fake clock stands still.
  std::this_thread::sleep_for(std::chrono::milliseconds(kQuietMs));
  EXPECT_EQ(secondQ.count(), 0);

  clock.advance(999);
  std::this_thread::sleep_for(std::chrono::milliseconds(kQuietMs));
  EXPECT_EQ(secondQ.count(), 0);
  clock.advance(1);
  EXPECT_TRUE(eventually([&] { return secondQ.count() == 1; }));

  // One step over a minute: every second that passed gives its notice, the one-shot once.
  clock.advance(59000);
  EXPECT_TRUE(eventually([&] { return secondQ.count() == 60 && minuteQ.count() == 1; }))
      << secondQ.count() << " " << minuteQ.count();
  auto notices = minuteQ.drain();
  EXPECT_EQ(notices.at(0).dwTimerId, minute);
  EXPECT_EQ(notices.at(0).iInterval, 60000);

  clock.advance(60000);
  EXPECT_TRUE(eventually([&] { return secondQ.count() == 120; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(kQuietMs));
  EXPECT_EQ(secondQ.count(), 120);
  EXPECT_EQ(minuteQ.count(), 0);
}

TEST_F(TimerFakeClockTest, IntervalsBelowTheFloorAreRaised) {
  for (int asked : {0, 1, 9}) {
    SCOPED_TRACE(testing::Message() << asked << " ms");
    NoticeQueue q;
    const uint32_t id = NPC_F_SYS_TIMER_SetTimer(server.h, 0, asked, q.h, nullptr);
    ASSERT_NE(id, 0u);
    clock.advance(NPC_D_SYS_TIMER_MIN_INTERVAL_MS - 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(kQuietMs));
    EXPECT_EQ(q.count(), 0);
    clock.advance(1);
    NPC_S_SYS_TIMER_NOTICE n{};
    ASSERT_TRUE(q.take(&n, 5000));
    EXPECT_EQ(n.iInterval, NPC_D_SYS_TIMER_MIN_INTERVAL_MS);
  }
}

// A witness timer of the same interval on a large queue shows when a tick has been handed
// out; the timer under test must then have had exactly what the case says. The witness is
// set first: newer timers are served first within a tick, so the witness is served last.
TEST_F(TimerFakeClockTest, FullNoticeQueueDropsNoticesInsteadOfDelayingThem) {
  NoticeQueue small(2), witness;
  ASSERT_NE(NPC_F_SYS_TIMER_SetTimer(server.h, 1, 1000, witness.h, nullptr), 0u);
  ASSERT_NE(NPC_F_SYS_TIMER_SetTimer(server.h, 1, 1000, small.h, nullptr), 0u);
  clock.advance(5000);
  ASSERT_TRUE(eventually([&] { return witness.count() == 5; }));
  EXPECT_EQ(small.count(), 2);
  small.drain();
  std::this_thread::sleep_for(std::chrono::milliseconds(kQuietMs));
  EXPECT_EQ(small.count(), 0);  // nothing held back to be delivered late
  clock.advance(1000);
  ASSERT_TRUE(eventually([&] { return witness.count() == 6; }));
  EXPECT_EQ(small.count(), 1);
}

TEST_F(TimerFakeClockTest, KillAndReSetMoveNoticesAway) {
  NoticeQueue killed, moved, witness;
  ASSERT_NE(NPC_F_SYS_TIMER_SetTimer(server.h, 1, 1000, witness.h, nullptr), 0u);
  const uint32_t k = NPC_F_SYS_TIMER_SetTimer(server.h, 1, 1000, killed.h, nullptr);
  const uint32_t m = NPC_F_SYS_TIMER_SetTimer(server.h, 1, 1000, moved.h, nullptr);
  EXPECT_EQ(NPC_F_SYS_TIMER_KillTimer(server.h, k), 1);
  EXPECT_EQ(NPC_F_SYS_TIMER_KillTimer(server.h, k), 0);
  EXPECT_EQ(NPC_F_SYS_TIMER_ReSetTimer(server.h, m, 1000), 1);  // unchanged
  EXPECT_EQ(NPC_F_SYS_TIMER_ReSetTimer(server.h, m, 5000), 1);

  clock.advance(1000);
  ASSERT_TRUE(eventually([&] { return witness.count() == 1; }));
  EXPECT_EQ(killed.count(), 0);
  EXPECT_EQ(moved.count(), 0);
  clock.advance(4000);
  NPC_S_SYS_TIMER_NOTICE n{};
  ASSERT_TRUE(moved.take(&n, 5000));
  EXPECT_EQ(n.dwTimerId, m);
  EXPECT_EQ(n.iInterval, 5000);
  EXPECT_TRUE(eventually([&] { return witness.count() == 5; }));
  EXPECT_EQ(killed.count(), 0);
}

TEST_F(TimerFakeClockTest, IdsAreDistinctAndNeverZero) {
  NoticeQueue q;
  std::set<uint32_t> ids;
  for (int i = 0; i < 200; ++i) {
    const uint32_t id = NPC_F_SYS_TIMER_SetTimer(server.h, 1, 1000 + (i % 4) * 1000, q.h, nullptr);
    ASSERT_NE(id, 0u);
    EXPECT_TRUE(ids.insert(id).second) << id;
    if (i % 3 == 0) NPC_F_SYS_TIMER_KillTimer(server.h, id);
  }
}

// A timer whose tick thread (or, for the first timer, the distribution thread) cannot start
// is removed again: SetTimer gives 0 and its queue never receives a notice.
TEST_F(TimerFakeClockTest, TimerWhoseThreadCannotStartIsRemoved) {
  NoticeQueue failedFirst, failedLater, witness;
  struct Case {
    void* queue;
    int interval;
  };
  const Case cases[] = {{failedFirst.h, 1000}, {failedLater.h, 2000}};
  for (const Case& c : cases) {
    NPC_F_THREAD_TEST_FailNext("NPC_F_THREAD_CreateThread pthread_create", 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(NPC_F_SYS_TIMER_SetTimer(server.h, 1, c.interval, c.queue, nullptr), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "NPC_F_THREAD_CreateThread pthread_create fail, ret=11.\n");
    if (c.interval == 1000) {
      ASSERT_NE(NPC_F_SYS_TIMER_SetTimer(server.h, 1, 1000, witness.h, nullptr), 0u);
    }
  }
  ASSERT_NE(NPC_F_SYS_TIMER_SetTimer(server.h, 1, 2000, witness.h, nullptr), 0u);
  clock.advance(2000);
  ASSERT_TRUE(eventually([&] { return witness.count() == 3; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(kQuietMs));
  EXPECT_EQ(failedFirst.count(), 0);
  EXPECT_EQ(failedLater.count(), 0);
}

}  // namespace
