// Tests of threads, mutexes, events, semaphores and wait objects: results, time-outs that
// never end early, prompt wake-ups, the failure lines, and the safety of destroying wait
// objects and events that still refer to each other.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "runtime/thread.h"
#include "test_support.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

long long msSince(SteadyClock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start).count();
}

// Frees a runtime handle when the test ends.
struct Handle {
  void* p;
  void (*destroy)(void*);
  ~Handle() {
    if (p) destroy(p);
  }
};

// ---------------------------------------------------------------------------------------------
// Threads and mutexes

TEST(ThreadTest, RunsEntryWithArgumentAndEndsWithinTimeout) {
  std::atomic<int> seen{0};
  struct Ctx {
    std::atomic<int>* seen;
    int value;
  } ctx{&seen, 42};
  void* t = NPC_F_THREAD_CreateThread([](void* a) {
    auto* c = static_cast<Ctx*>(a);
    c->seen->store(c->value);
  }, &ctx);
  ASSERT_NE(t, nullptr);
  auto start = SteadyClock::now();
  EXPECT_EQ(NPC_F_THREAD_WaitExitThread(t, 10000), 1);
  EXPECT_EQ(seen.load(), 42);
  // The waiter is woken by the thread's exit, not by its time-out (generous bound).
  EXPECT_LT(msSince(start), 5000);
}

TEST(ThreadTest, WaitExitJoinsEvenWhenTheTimeoutRunsOut) {
  std::atomic<bool> finished{false};
  void* t = NPC_F_THREAD_CreateThread([](void* a) {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    static_cast<std::atomic<bool>*>(a)->store(true);
  }, &finished);
  ASSERT_NE(t, nullptr);
  auto start = SteadyClock::now();
  EXPECT_EQ(NPC_F_THREAD_WaitExitThread(t, 20), 0);
  EXPECT_GE(msSince(start), 20);
  // Joined in any case: the entry function has returned by the time the call comes back.
  EXPECT_TRUE(finished.load());
}

TEST(ThreadTest, MutexExcludesConcurrentHolders) {
  void* mu = NPC_F_THREAD_Mutex_Create();
  ASSERT_NE(mu, nullptr);
  struct Ctx {
    void* mu;
    long counter = 0;
  } ctx{mu};
  auto body = [](void* a) {
    auto* c = static_cast<Ctx*>(a);
    for (int i = 0; i < 20000; ++i) {
      NPC_F_THREAD_Mutex_Lock(c->mu);
      c->counter = c->counter + 1;
      NPC_F_THREAD_Mutex_Unlock(c->mu);
    }
  };
  void* a = NPC_F_THREAD_CreateThread(body, &ctx);
  void* b = NPC_F_THREAD_CreateThread(body, &ctx);
  NPC_F_THREAD_WaitExitThread(a, 10000);
  NPC_F_THREAD_WaitExitThread(b, 10000);
  EXPECT_EQ(ctx.counter, 40000);
  NPC_F_THREAD_Mutex_Destroy(mu);
}

TEST(ThreadTest, NullHandlesFailWithoutEffect) {
  EXPECT_EQ(NPC_F_THREAD_CreateThread(nullptr, nullptr), nullptr);
  EXPECT_EQ(NPC_F_THREAD_WaitExitThread(nullptr, 10), 0);
  EXPECT_EQ(NPC_F_THREAD_Mutex_Lock(nullptr), 0);
  EXPECT_EQ(NPC_F_THREAD_Mutex_Unlock(nullptr), 0);
  EXPECT_EQ(NPC_F_THREAD_Event_SetEvent(nullptr), 0);
  EXPECT_EQ(NPC_F_THREAD_Event_ResetEvent(nullptr), 0);
  EXPECT_EQ(NPC_F_THREAD_Event_Wait(nullptr, 10), 0);
  EXPECT_EQ(NPC_F_THREAD_Event_QuerySetWaitObj(nullptr, nullptr), 0);
  EXPECT_EQ(NPC_F_THREAD_Event_ClearWaitObj(nullptr, nullptr), 0);
  EXPECT_EQ(NPC_F_THREAD_Event_ClearAllWaitObj(nullptr), 0);
  EXPECT_EQ(NPC_F_THREAD_Sem_Release(nullptr, 1), 0);
  EXPECT_EQ(NPC_F_THREAD_Sem_Wait(nullptr, 10), 0);
  EXPECT_EQ(NPC_F_THREAD_WaitObj_AddEvent(nullptr, nullptr), 0);
  EXPECT_EQ(NPC_F_THREAD_WaitObj_DelEvent(nullptr, nullptr), 0);
  EXPECT_EQ(NPC_F_THREAD_WaitObj_ClearAllEvent(nullptr), 0);
  EXPECT_EQ(NPC_F_THREAD_WaitObj_SetEventSig(nullptr, nullptr), 0);
  EXPECT_EQ(NPC_F_THREAD_WaitObj_WaitEvent(nullptr, 0, 10), -2);
  NPC_F_THREAD_Mutex_Destroy(nullptr);
  NPC_F_THREAD_Event_Destroy(nullptr);
  NPC_F_THREAD_Sem_Destroy(nullptr);
  NPC_F_THREAD_WaitObj_Destroy(nullptr);
}

// Each failing step of a create function prints its own line on standard output and the
// create gives null.
TEST(ThreadTest, CreateFailuresPrintTheirLineAndGiveNull) {
  struct Case {
    const char* point;
    std::function<void*()> create;
    void (*destroy)(void*);
    const char* line;
  };
  const Case cases[] = {
      {"NPC_F_THREAD_CreateThread malloc", [] { return NPC_F_THREAD_CreateThread([](void*) {}, nullptr); },
       [](void* t) { NPC_F_THREAD_WaitExitThread(t, 1000); }, "NPC_F_THREAD_CreateThread malloc fail.\n"},
      {"NPC_F_THREAD_CreateThread pthread_create", [] { return NPC_F_THREAD_CreateThread([](void*) {}, nullptr); },
       [](void* t) { NPC_F_THREAD_WaitExitThread(t, 1000); },
       "NPC_F_THREAD_CreateThread pthread_create fail, ret=11.\n"},
      {"NPC_F_THREAD_Mutex_Create malloc", [] { return NPC_F_THREAD_Mutex_Create(); }, NPC_F_THREAD_Mutex_Destroy,
       "NPC_F_THREAD_Mutex_Create malloc fail.\n"},
      {"NPC_F_THREAD_Mutex_Create pthread_mutex_init", [] { return NPC_F_THREAD_Mutex_Create(); },
       NPC_F_THREAD_Mutex_Destroy, "NPC_F_THREAD_Mutex_Create pthread_mutex_init fail.\n"},
      {"NPC_F_THREAD_Event_Create malloc", [] { return NPC_F_THREAD_Event_Create(1, 0); }, NPC_F_THREAD_Event_Destroy,
       "NPC_F_THREAD_Event_Create malloc fail.\n"},
      {"NPC_F_THREAD_Event_Create pthread_mutex_init", [] { return NPC_F_THREAD_Event_Create(1, 0); },
       NPC_F_THREAD_Event_Destroy, "NPC_F_THREAD_Event_Create pthread_mutex_init fail.\n"},
      {"NPC_F_THREAD_Event_Create pthread_cond_init", [] { return NPC_F_THREAD_Event_Create(1, 0); },
       NPC_F_THREAD_Event_Destroy, "NPC_F_THREAD_Event_Create pthread_cond_init fail.\n"},
      {"NPC_F_THREAD_Sem_Create malloc", [] { return NPC_F_THREAD_Sem_Create(0, 1); }, NPC_F_THREAD_Sem_Destroy,
       "NPC_F_THREAD_Sem_Create malloc fail.\n"},
      {"NPC_F_THREAD_Sem_Create pthread_mutex_init", [] { return NPC_F_THREAD_Sem_Create(0, 1); },
       NPC_F_THREAD_Sem_Destroy, "NPC_F_THREAD_Sem_Create pthread_mutex_init fail.\n"},
      {"NPC_F_THREAD_Sem_Create pthread_cond_init", [] { return NPC_F_THREAD_Sem_Create(0, 1); },
       NPC_F_THREAD_Sem_Destroy, "NPC_F_THREAD_Sem_Create pthread_cond_init fail.\n"},
      {"NPC_F_THREAD_WaitObj_Create pthread_mutex_init", [] { return NPC_F_THREAD_WaitObj_Create(); },
       NPC_F_THREAD_WaitObj_Destroy, "NPC_F_THREAD_WaitObj_Create pthread_mutex_init fail.\n"},
      {"NPC_F_THREAD_WaitObj_Create pthread_cond_init", [] { return NPC_F_THREAD_WaitObj_Create(); },
       NPC_F_THREAD_WaitObj_Destroy, "NPC_F_THREAD_WaitObj_Create pthread_cond_init fail.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.point);
    NPC_F_THREAD_TEST_FailNext(c.point, 1);
    testing::internal::CaptureStdout();
    void* h = c.create();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(out, c.line);
    if (h) c.destroy(h);
    // The point fails once only: the next create succeeds and prints nothing.
    testing::internal::CaptureStdout();
    void* again = c.create();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_NE(again, nullptr);
    if (again) c.destroy(again);
  }
}

// ---------------------------------------------------------------------------------------------
// Events

TEST(EventTest, InitialStateAndResetModes) {
  struct Case {
    int manualReset;
    int initial;
    int firstWait;
    int secondWait;
  };
  const Case cases[] = {
      {0, 1, 1, 0},  // auto-reset: only one of two waits is satisfied
      {1, 1, 1, 1},  // manual-reset: stays set
      {0, 0, 0, 0},
      {1, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "manual=" << c.manualReset << " initial=" << c.initial);
    Handle ev{NPC_F_THREAD_Event_Create(c.manualReset, c.initial), NPC_F_THREAD_Event_Destroy};
    ASSERT_NE(ev.p, nullptr);
    EXPECT_EQ(NPC_F_THREAD_Event_Wait(ev.p, 0), c.firstWait);
    EXPECT_EQ(NPC_F_THREAD_Event_Wait(ev.p, 0), c.secondWait);
    // Set, then reset: a reset event satisfies no wait whatever its mode.
    NPC_F_THREAD_Event_SetEvent(ev.p);
    NPC_F_THREAD_Event_ResetEvent(ev.p);
    EXPECT_EQ(NPC_F_THREAD_Event_Wait(ev.p, 0), 0);
  }
}

// Every kind of wait that nobody satisfies fails, and never before its whole time-out.
TEST(EventTest, UnsatisfiedWaitsNeverEndEarly) {
  Handle ev{NPC_F_THREAD_Event_Create(0, 0), NPC_F_THREAD_Event_Destroy};
  Handle sem{NPC_F_THREAD_Sem_Create(0, 4), NPC_F_THREAD_Sem_Destroy};
  Handle wo{NPC_F_THREAD_WaitObj_Create(), NPC_F_THREAD_WaitObj_Destroy};
  Handle woEv{NPC_F_THREAD_Event_Create(1, 0), NPC_F_THREAD_Event_Destroy};
  Handle woEv2{NPC_F_THREAD_Event_Create(1, 1), NPC_F_THREAD_Event_Destroy};
  NPC_F_THREAD_WaitObj_AddEvent(wo.p, woEv.p);
  NPC_F_THREAD_WaitObj_AddEvent(wo.p, woEv2.p);  // set, but a wait-all needs both
  Handle anyWo{NPC_F_THREAD_WaitObj_Create(), NPC_F_THREAD_WaitObj_Destroy};
  NPC_F_THREAD_WaitObj_AddEvent(anyWo.p, woEv.p);
  struct Case {
    const char* what;
    std::function<int(int)> wait;
    int failure;
  };
  const Case waits[] = {
      {"event", [&](int ms) { return NPC_F_THREAD_Event_Wait(ev.p, ms); }, 0},
      {"semaphore", [&](int ms) { return NPC_F_THREAD_Sem_Wait(sem.p, ms); }, 0},
      {"wait-all", [&](int ms) { return NPC_F_THREAD_WaitObj_WaitEvent(wo.p, 1, ms); }, -1},
      {"wait-any", [&](int ms) { return NPC_F_THREAD_WaitObj_WaitEvent(anyWo.p, 0, ms); }, -1},
  };
  for (const Case& w : waits) {
    for (int timeoutMs : {0, 25, 100}) {
      SCOPED_TRACE(testing::Message() << w.what << " " << timeoutMs << " ms");
      auto start = SteadyClock::now();
      EXPECT_EQ(w.wait(timeoutMs), w.failure);
      EXPECT_GE(msSince(start), timeoutMs);
    }
  }
}

TEST(EventTest, SetEventWakesWaitersAtOnce) {
  for (int manualReset : {0, 1}) {
    SCOPED_TRACE(testing::Message() << "manual=" << manualReset);
    Handle ev{NPC_F_THREAD_Event_Create(manualReset, 0), NPC_F_THREAD_Event_Destroy};
    std::atomic<int> satisfied{0};
    std::vector<std::thread> waiters;
    const int waitMs = manualReset ? 20000 : 300;
    for (int i = 0; i < 3; ++i)
      waiters.emplace_back([&] { satisfied += NPC_F_THREAD_Event_Wait(ev.p, waitMs); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    auto start = SteadyClock::now();
    NPC_F_THREAD_Event_SetEvent(ev.p);
    for (auto& t : waiters) t.join();
    // A manual-reset event releases every waiter, promptly; an auto-reset one exactly one.
    EXPECT_EQ(satisfied.load(), manualReset ? 3 : 1);
    if (manualReset) {
      EXPECT_LT(msSince(start), 5000);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Semaphores

TEST(SemaphoreTest, CountStaysWithinZeroAndMaximum) {
  struct Case {
    int initial, max, release, expectTokens;
  };
  const Case cases[] = {
      {0, 3, 5, 3},  // release beyond the maximum stops at it
      {2, 3, 0, 2},  // a release of 0 adds nothing
      {9, 3, 0, 3},  // an initial count above the maximum is cut to it
      {1, 5, 2, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.initial << "/" << c.max << " +" << c.release);
    Handle s{NPC_F_THREAD_Sem_Create(c.initial, c.max), NPC_F_THREAD_Sem_Destroy};
    ASSERT_NE(s.p, nullptr);
    if (c.release) {
      EXPECT_EQ(NPC_F_THREAD_Sem_Release(s.p, c.release), 1);
    }
    int tokens = 0;
    while (NPC_F_THREAD_Sem_Wait(s.p, 0)) ++tokens;
    EXPECT_EQ(tokens, c.expectTokens);
  }
  EXPECT_EQ(NPC_F_THREAD_Sem_Create(0, 0), nullptr);
}

TEST(SemaphoreTest, ReleaseOfSeveralTokensWakesAsManyWaiters) {
  Handle s{NPC_F_THREAD_Sem_Create(0, 10), NPC_F_THREAD_Sem_Destroy};
  std::atomic<int> got{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) waiters.emplace_back([&] { got += NPC_F_THREAD_Sem_Wait(s.p, 20000); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  auto start = SteadyClock::now();
  NPC_F_THREAD_Sem_Release(s.p, 3);
  for (auto& t : waiters) t.join();
  EXPECT_EQ(got.load(), 3);
  EXPECT_LT(msSince(start), 5000);
}

// A waiter woken for a token that another thread takes first keeps waiting for the rest of
// its time-out and gets the next token.
TEST(SemaphoreTest, WaiterWhoseTokenIsStolenKeepsWaiting) {
  int stolenRounds = 0;
  for (int round = 0; round < 20; ++round) {
    Handle s{NPC_F_THREAD_Sem_Create(0, 10), NPC_F_THREAD_Sem_Destroy};
    std::atomic<int> result{-1};
    std::thread waiter([&] { result = NPC_F_THREAD_Sem_Wait(s.p, 3000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    NPC_F_THREAD_Sem_Release(s.p, 1);
    const int stolen = NPC_F_THREAD_Sem_Wait(s.p, 0);
    stolenRounds += stolen;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (stolen) {
      EXPECT_EQ(result.load(), -1) << "the waiter gave up although its time-out had not run out";
      NPC_F_THREAD_Sem_Release(s.p, 1);
    }
    waiter.join();
    EXPECT_EQ(result.load(), 1);
  }
  // The test only means something when the steal happened at least once.
  EXPECT_GT(stolenRounds, 0);
}

// ---------------------------------------------------------------------------------------------
// Wait objects

struct WaitObjFixture : testing::Test {
  static constexpr int kEvents = 3;
  void* wo = nullptr;
  void* ev[kEvents] = {};
  void SetUp() override {
    wo = NPC_F_THREAD_WaitObj_Create();
    for (auto& e : ev) {
      e = NPC_F_THREAD_Event_Create(1, 0);
      NPC_F_THREAD_WaitObj_AddEvent(wo, e);
    }
  }
  void TearDown() override {
    NPC_F_THREAD_WaitObj_Destroy(wo);
    for (auto e : ev) NPC_F_THREAD_Event_Destroy(e);
  }
};

TEST_F(WaitObjFixture, WaitAnyGivesTheIndexOfASetEvent) {
  NPC_F_THREAD_Event_SetEvent(ev[2]);
  EXPECT_EQ(NPC_F_THREAD_WaitObj_WaitEvent(wo, 0, 0), 2);
  NPC_F_THREAD_Event_ResetEvent(ev[2]);

  // Set later from another thread: the wait ends at once with that index.
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    NPC_F_THREAD_Event_SetEvent(ev[1]);
  });
  auto start = SteadyClock::now();
  EXPECT_EQ(NPC_F_THREAD_WaitObj_WaitEvent(wo, 0, 20000), 1);
  EXPECT_LT(msSince(start), 5000);
  setter.join();
}

TEST_F(WaitObjFixture, WaitAllWaitsPastTheFirstEvent) {
  NPC_F_THREAD_Event_SetEvent(ev[0]);
  // Taken before the setter starts, so the 60 ms it sleeps all lie inside the measurement.
  auto start = SteadyClock::now();
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    NPC_F_THREAD_Event_SetEvent(ev[1]);
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    NPC_F_THREAD_Event_SetEvent(ev[2]);
  });
  EXPECT_EQ(NPC_F_THREAD_WaitObj_WaitEvent(wo, 1, 20000), kEvents);
  EXPECT_GE(msSince(start), 60);
  EXPECT_LT(msSince(start), 5000);
  setter.join();
}

TEST_F(WaitObjFixture, SetEventSigMarksWithoutTheEvent) {
  std::thread marker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    NPC_F_THREAD_WaitObj_SetEventSig(wo, ev[1]);
  });
  EXPECT_EQ(NPC_F_THREAD_WaitObj_WaitEvent(wo, 0, 20000), 1);
  marker.join();
  EXPECT_EQ(NPC_F_THREAD_WaitObj_SetEventSig(wo, reinterpret_cast<void*>(&marker)), 0);  // not held
}

TEST_F(WaitObjFixture, DelEventShiftsIndicesAndHoldsAtMost64) {
  NPC_F_THREAD_WaitObj_DelEvent(wo, ev[0]);
  NPC_F_THREAD_Event_SetEvent(ev[2]);
  EXPECT_EQ(NPC_F_THREAD_WaitObj_WaitEvent(wo, 0, 0), 1);
  EXPECT_EQ(NPC_F_THREAD_WaitObj_DelEvent(wo, ev[0]), 0);

  std::vector<void*> extra;
  for (int i = 0; i < 70; ++i) extra.push_back(NPC_F_THREAD_Event_Create(1, 0));
  int added = 0;
  for (void* e : extra) added += NPC_F_THREAD_WaitObj_AddEvent(wo, e);
  EXPECT_EQ(added, 64 - 2);  // two of the fixture's events are still held
  EXPECT_EQ(NPC_F_THREAD_WaitObj_ClearAllEvent(wo), 1);
  EXPECT_EQ(NPC_F_THREAD_WaitObj_WaitEvent(wo, 0, 0), -1);
  for (void* e : extra) NPC_F_THREAD_Event_Destroy(e);
}

// An event's 65th registration fails visibly, and a wait object that cannot register with
// one of its events reports it and does not wait blindly.
TEST(WaitObjTest, RegistrationBeyond64FailsAndTheWaitSaysSo) {
  korven_test::LogCapture log;
  Handle ev{NPC_F_THREAD_Event_Create(1, 0), NPC_F_THREAD_Event_Destroy};
  std::vector<void*> holders;
  for (int i = 0; i < 64; ++i) {
    holders.push_back(NPC_F_THREAD_WaitObj_Create());
    ASSERT_EQ(NPC_F_THREAD_Event_QuerySetWaitObj(ev.p, holders.back()), 0);
  }
  EXPECT_EQ(NPC_F_THREAD_Event_QuerySetWaitObj(ev.p, holders[5]), 0);  // already registered

  Handle wo{NPC_F_THREAD_WaitObj_Create(), NPC_F_THREAD_WaitObj_Destroy};
  Handle other{NPC_F_THREAD_Event_Create(1, 0), NPC_F_THREAD_Event_Destroy};
  EXPECT_EQ(NPC_F_THREAD_Event_QuerySetWaitObj(ev.p, wo.p), -1);
  NPC_F_THREAD_WaitObj_AddEvent(wo.p, other.p);
  NPC_F_THREAD_WaitObj_AddEvent(wo.p, ev.p);
  auto start = SteadyClock::now();
  EXPECT_EQ(NPC_F_THREAD_WaitObj_WaitEvent(wo.p, 0, 20000), -3);
  EXPECT_LT(msSince(start), 5000);
  EXPECT_EQ(log.count("NPC_F_THREAD_WaitObj_WaitEvent NPC_F_THREAD_Event_QuerySetWaitObj fail."), 1);

  // Destroying a holder frees its place, and the same wait works.
  NPC_F_THREAD_WaitObj_Destroy(holders.back());
  holders.pop_back();
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    NPC_F_THREAD_Event_SetEvent(ev.p);
  });
  EXPECT_EQ(NPC_F_THREAD_WaitObj_WaitEvent(wo.p, 0, 20000), 1);
  setter.join();
  for (void* h : holders) NPC_F_THREAD_WaitObj_Destroy(h);
}

// A destroyed wait object is gone from every event that held it (SetEvent afterwards would
// write to freed memory, which the address sanitizer reports), and either side may go first.
TEST(WaitObjTest, DestroyingEitherSideUnregisters) {
  void* a = NPC_F_THREAD_Event_Create(0, 0);
  void* b = NPC_F_THREAD_Event_Create(1, 0);
  void* wo = NPC_F_THREAD_WaitObj_Create();
  EXPECT_EQ(NPC_F_THREAD_Event_QuerySetWaitObj(a, wo), 0);
  EXPECT_EQ(NPC_F_THREAD_Event_QuerySetWaitObj(b, wo), 0);
  NPC_F_THREAD_WaitObj_Destroy(wo);
  // The destroyed object no longer takes one of the event's 64 places.
  std::vector<void*> fresh;
  for (int i = 0; i < 64; ++i) {
    fresh.push_back(NPC_F_THREAD_WaitObj_Create());
    ASSERT_EQ(NPC_F_THREAD_Event_QuerySetWaitObj(a, fresh.back()), 0) << i;
  }
  for (void* f : fresh) NPC_F_THREAD_WaitObj_Destroy(f);
  EXPECT_EQ(NPC_F_THREAD_Event_SetEvent(a), 1);
  EXPECT_EQ(NPC_F_THREAD_Event_SetEvent(b), 1);

  wo = NPC_F_THREAD_WaitObj_Create();
  NPC_F_THREAD_Event_ResetEvent(b);
  EXPECT_EQ(NPC_F_THREAD_Event_QuerySetWaitObj(b, wo), 0);
  NPC_F_THREAD_Event_Destroy(b);  // the event goes first; the wait object must forget it
  NPC_F_THREAD_WaitObj_Destroy(wo);
  NPC_F_THREAD_Event_Destroy(a);
}

// Events are set continuously while wait objects register, wait and are destroyed on other
// threads: no deadlock, no use after free, no data race (run under both sanitizers).
TEST(WaitObjTest, ConcurrentSetAndDestroyIsSafe) {
  constexpr int kEvents = 4;
  void* evs[kEvents];
  for (auto& e : evs) e = NPC_F_THREAD_Event_Create(0, 0);
  std::atomic<bool> stop{false};
  std::thread setter([&] {
    unsigned i = 0;
    while (!stop.load()) {
      NPC_F_THREAD_Event_SetEvent(evs[i++ % kEvents]);
      if (i % 64 == 0) std::this_thread::yield();
    }
  });
  std::vector<std::thread> users;
  for (int u = 0; u < 3; ++u) {
    users.emplace_back([&, u] {
      for (int round = 0; round < 300; ++round) {
        void* wo = NPC_F_THREAD_WaitObj_Create();
        for (auto e : evs) {
          if (round % 2) NPC_F_THREAD_WaitObj_AddEvent(wo, e);
          NPC_F_THREAD_Event_QuerySetWaitObj(e, wo);
        }
        if (round % 2) {
          const int r = NPC_F_THREAD_WaitObj_WaitEvent(wo, (round + u) % 4 == 1, 2);
          EXPECT_GE(r, -1);
          EXPECT_LE(r, kEvents);
          NPC_F_THREAD_Event_QuerySetWaitObj(evs[round % kEvents], wo);
        }
        NPC_F_THREAD_WaitObj_Destroy(wo);
      }
    });
  }
  for (auto& t : users) t.join();
  stop = true;
  setter.join();
  for (auto e : evs) NPC_F_THREAD_Event_Destroy(e);
}

}  // namespace
