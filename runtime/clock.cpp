// The clock seam: real monotonic and wall clocks, local-time conversion, and the fake clock
// that tests install to move time forward at will.
//
// Fake-clock waits: a thread in NPC_F_SYS_CLOCK_WaitUntil registers its (mutex, condition)
// pair; NPC_F_SYS_CLOCK_Advance takes a snapshot of the registered waiters, then locks each
// waiter's mutex before notifying it, so a waiter that has checked the time but not yet
// started to wait cannot miss the advance. A waiter leaving the wait removes itself and, if
// an advance still holds it in a snapshot, releases its own mutex until that advance is done
// with it, so neither side can deadlock on the other or touch a gone waiter.
#include "runtime/clock.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <list>
#include <vector>

namespace {

struct FakeWaiter {
  std::mutex* pMutex;
  std::condition_variable* pCond;
  int iUsers;  // advances currently holding this waiter in a snapshot (under gClock.mu)
};

struct Hook {
  int iId;
  void (*fn)(void*);
  void* pUser;
};

struct ClockState {
  std::atomic<bool> bFake{false};
  std::atomic<int64_t> qwFakeTick{0};
  std::atomic<int64_t> qwFakeWall{0};
  int64_t qwFakeSubSecondMs = 0;  // tick milliseconds not yet turned into a wall second

  std::mutex mu;  // guards the waiter list, the sub-second remainder and user counts
  std::condition_variable usersDone;
  std::list<FakeWaiter*> waiters;

  std::mutex hookMu;  // held while hooks run, so removal waits for a running hook
  std::vector<Hook> hooks;
  int iNextHookId = 1;
};

ClockState& clockState() {
  static ClockState* s = new ClockState();  // never destroyed: usable during static teardown
  return *s;
}

int64_t realTickMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void wakeAdvanceWaiters() {
  ClockState& c = clockState();
  std::vector<FakeWaiter*> snapshot;
  {
    std::lock_guard<std::mutex> lk(c.mu);
    snapshot.assign(c.waiters.begin(), c.waiters.end());
    for (FakeWaiter* w : snapshot) ++w->iUsers;
  }
  for (FakeWaiter* w : snapshot) {
    { std::lock_guard<std::mutex> wl(*w->pMutex); }
    w->pCond->notify_all();
    std::lock_guard<std::mutex> lk(c.mu);
    if (--w->iUsers == 0) c.usersDone.notify_all();
  }
  std::lock_guard<std::mutex> hl(c.hookMu);
  for (const Hook& h : c.hooks) h.fn(h.pUser);
}

}  // namespace

int64_t NPC_F_SYS_GetTickCount64() {
  ClockState& c = clockState();
  if (c.bFake.load(std::memory_order_acquire)) return c.qwFakeTick.load(std::memory_order_acquire);
  return realTickMs();
}

uint32_t NPC_F_SYS_GetTickCount() { return static_cast<uint32_t>(NPC_F_SYS_GetTickCount64()); }

int64_t NPC_F_SYS_GetWallTime() {
  ClockState& c = clockState();
  if (c.bFake.load(std::memory_order_acquire)) return c.qwFakeWall.load(std::memory_order_acquire);
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

int NPC_F_SYS_LocalTime(int64_t t, struct tm* out) {
  if (!out) return 0;
  time_t tt = static_cast<time_t>(t);
  if (static_cast<int64_t>(tt) != t) return 0;
  return localtime_r(&tt, out) ? 1 : 0;
}

int64_t NPC_F_SYS_MakeLocalTime(const struct tm* in) {
  if (!in) return -1;
  struct tm copy = *in;
  copy.tm_isdst = -1;
  time_t t = mktime(&copy);
  return static_cast<int64_t>(t);
}

void NPC_F_SYS_CLOCK_InstallFake(int64_t tickMs, int64_t wallSeconds) {
  ClockState& c = clockState();
  {
    std::lock_guard<std::mutex> lk(c.mu);
    c.qwFakeTick.store(tickMs, std::memory_order_release);
    c.qwFakeWall.store(wallSeconds, std::memory_order_release);
    c.qwFakeSubSecondMs = 0;
    c.bFake.store(true, std::memory_order_release);
  }
  wakeAdvanceWaiters();
}

void NPC_F_SYS_CLOCK_RemoveFake() {
  ClockState& c = clockState();
  {
    std::lock_guard<std::mutex> lk(c.mu);
    c.bFake.store(false, std::memory_order_release);
  }
  wakeAdvanceWaiters();
}

int NPC_F_SYS_CLOCK_IsFake() { return clockState().bFake.load(std::memory_order_acquire) ? 1 : 0; }

void NPC_F_SYS_CLOCK_Advance(int64_t ms) {
  ClockState& c = clockState();
  if (ms < 0) ms = 0;
  {
    std::lock_guard<std::mutex> lk(c.mu);
    if (!c.bFake.load(std::memory_order_acquire)) return;
    c.qwFakeTick.fetch_add(ms, std::memory_order_acq_rel);
    c.qwFakeSubSecondMs += ms;
    c.qwFakeWall.fetch_add(c.qwFakeSubSecondMs / 1000, std::memory_order_acq_rel);
    c.qwFakeSubSecondMs %= 1000;
  }
  wakeAdvanceWaiters();
}

void NPC_F_SYS_CLOCK_SetWallTime(int64_t wallSeconds) {
  ClockState& c = clockState();
  {
    std::lock_guard<std::mutex> lk(c.mu);
    if (!c.bFake.load(std::memory_order_acquire)) return;
    c.qwFakeWall.store(wallSeconds, std::memory_order_release);
  }
  wakeAdvanceWaiters();
}

int NPC_F_SYS_CLOCK_AddHook(void (*fn)(void* user), void* user) {
  if (!fn) return 0;
  ClockState& c = clockState();
  std::lock_guard<std::mutex> hl(c.hookMu);
  int id = c.iNextHookId++;
  if (c.iNextHookId <= 0) c.iNextHookId = 1;
  c.hooks.push_back({id, fn, user});
  return id;
}

void NPC_F_SYS_CLOCK_RemoveHook(int id) {
  ClockState& c = clockState();
  std::lock_guard<std::mutex> hl(c.hookMu);
  c.hooks.erase(std::remove_if(c.hooks.begin(), c.hooks.end(), [id](const Hook& h) { return h.iId == id; }),
                c.hooks.end());
}

bool NPC_F_SYS_CLOCK_WaitUntil(std::unique_lock<std::mutex>& lk, std::condition_variable& cv, int64_t deadlineTick64,
                               const std::function<bool()>& pred) {
  ClockState& c = clockState();
  if (!c.bFake.load(std::memory_order_acquire)) {
    // The seam's real tick is steady_clock in whole milliseconds, truncated; waiting to the
    // end of the deadline's millisecond keeps the wait from ending before a caller's own
    // reading of now + time-out.
    auto deadline = std::chrono::steady_clock::time_point(std::chrono::milliseconds(deadlineTick64 + 1));
    while (!pred()) {
      if (c.bFake.load(std::memory_order_acquire)) break;  // the clock changed under us: re-read below
      if (cv.wait_until(lk, deadline) == std::cv_status::timeout) return pred();
    }
    if (!c.bFake.load(std::memory_order_acquire)) return true;
  }

  FakeWaiter self{lk.mutex(), &cv, 0};
  {
    std::lock_guard<std::mutex> g(c.mu);
    c.waiters.push_back(&self);
  }
  while (!pred()) {
    if (!c.bFake.load(std::memory_order_acquire)) {
      // Back on the real clock: finish the wait in real time.
      auto deadline = std::chrono::steady_clock::time_point(std::chrono::milliseconds(deadlineTick64 + 1));
      if (cv.wait_until(lk, deadline) == std::cv_status::timeout) break;
      continue;
    }
    if (c.qwFakeTick.load(std::memory_order_acquire) >= deadlineTick64) break;
    cv.wait(lk);
  }
  bool inUse;
  {
    std::lock_guard<std::mutex> g(c.mu);
    c.waiters.remove(&self);
    inUse = self.iUsers > 0;
  }
  if (inUse) {
    // An advance still holds us in its snapshot and may be waiting for our mutex.
    lk.unlock();
    {
      std::unique_lock<std::mutex> g(c.mu);
      c.usersDone.wait(g, [&] { return self.iUsers == 0; });
    }
    lk.lock();
  }
  return pred();
}

void NPC_F_SYS_CLOCK_SleepMs(int64_t ms) {
  std::mutex m;
  std::condition_variable cv;
  std::unique_lock<std::mutex> lk(m);
  NPC_F_SYS_CLOCK_WaitUntil(lk, cv, NPC_F_SYS_GetTickCount64() + ms, [] { return false; });
}
