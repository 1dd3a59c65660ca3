// The timer service: timer objects, one tick thread per distinct interval and one
// distribution thread that turns ticks into notices.
//
// A tick thread sleeps until its next deadline on the clock seam's 64-bit tick (through
// NPC_F_SYS_CLOCK_WaitUntil, so a fake clock drives it in tests) and posts one 8-byte tick
// record per interval boundary passed into the distribution queue, without waiting. Its
// deadlines advance by whole intervals from the moment the thread was set up, so ticks do not
// drift. The distribution thread takes tick records as soon as they arrive and, under the
// service mutex, posts a 16-byte notice to every timer of that interval, without waiting: a
// full notice queue loses that notice rather than delaying it. One-shot timers are removed
// after their first notice.
//
// A tick record names the tick thread that sent it; a record from a tick thread that has been
// stopped (its interval fell out of use and came back) is ignored, so it cannot fire a newer
// timer of that interval early. A tick thread whose interval no timer uses any more is stopped
// at once: its stop flag is set under its own mutex and its condition variable signalled, so
// KillTimer never waits out an interval.
//
// Lock order: the service mutex, then a queue's mutex (posting), never the reverse. Tick
// threads never take the service mutex, so joining one while the service mutex is free cannot
// deadlock; threads are always joined after the service mutex has been released.
#include "runtime/timer.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <list>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

#include "runtime/clock.h"
#include "runtime/queue.h"
#include "runtime/random.h"
#include "runtime/thread.h"

namespace {

constexpr int kMaxTickThreads = 512;
constexpr int kDistQueueCapacity = 10000;
constexpr int kMaxIdTries = 10000;
constexpr int kDistWaitMs = 100;
constexpr int kThreadExitWaitMs = 5000;
constexpr uint32_t kSlotMask = 0xFFFF;  // tick thread id: random tag << 16 | slot
// A tick thread that finds itself more than this many intervals behind (the fake clock moved
// a long way at once) posts this many ticks and resumes from now instead of flooding the
// distribution queue, which could not hold more anyway.
constexpr int64_t kMaxCatchUpTicks = kDistQueueCapacity;

struct TickRecord {
  uint32_t dwTickThreadId;  // 0 is the stop record of the distribution thread
  int32_t iInterval;
};
static_assert(sizeof(TickRecord) == 8, "tick record is 8 bytes");

struct TickThread {
  uint32_t id = 0;
  int interval = 0;
  int64_t nextDeadline = 0;  // seam tick of the next tick; set before the thread starts
  void* distQueue = nullptr;
  std::mutex mu;
  std::condition_variable cv;
  bool stop = false;  // guarded by mu
  void* thread = nullptr;
};

struct TimerObj {
  uint32_t id;
  int interval;
  bool periodic;
  void* noticeQueue;
  void* user;
  int granularity;
};

struct Server {
  int granularity = 0;
  std::mutex mu;
  std::list<TimerObj> timers;  // newest first
  std::unordered_map<uint32_t, std::list<TimerObj>::iterator> byId;
  TickThread* ticks[kMaxTickThreads] = {};
  uint32_t lastTag[kMaxTickThreads] = {};  // tag of each slot's previous tick thread
  uint32_t nextId = 0;
  void* distQueue = nullptr;
  void* distThread = nullptr;
  std::atomic<bool> distStop{false};
};

// Tick thread body: wait for the deadline or the stop flag; at each deadline post one tick
// record per interval boundary passed.
void tickThreadMain(void* arg) {
  auto* t = static_cast<TickThread*>(arg);
  const TickRecord rec{t->id, t->interval};
  std::unique_lock<std::mutex> lk(t->mu);
  for (;;) {
    if (NPC_F_SYS_CLOCK_WaitUntil(lk, t->cv, t->nextDeadline, [t] { return t->stop; })) break;
    const int64_t now = NPC_F_SYS_GetTickCount64();
    if (now < t->nextDeadline) continue;
    int64_t due = (now - t->nextDeadline) / t->interval + 1;
    if (due > kMaxCatchUpTicks) {
      due = kMaxCatchUpTicks;
      t->nextDeadline = now + t->interval;
    } else {
      t->nextDeadline += due * t->interval;
    }
    lk.unlock();
    for (int64_t i = 0; i < due; ++i) NPC_F_TOOLS_QUEUE_SetData(t->distQueue, &rec, sizeof rec, 0);
    lk.lock();
  }
}

// Sets a tick thread's stop flag, wakes it, joins it and frees it. Called without the
// service mutex.
void stopTickThread(TickThread* t) {
  {
    std::lock_guard<std::mutex> lk(t->mu);
    t->stop = true;
  }
  t->cv.notify_all();
  NPC_F_THREAD_WaitExitThread(t->thread, kThreadExitWaitMs);
  delete t;
}

void stopTickThreads(std::vector<TickThread*>& threads) {
  for (TickThread* t : threads) stopTickThread(t);
  threads.clear();
}

int findTickSlotLocked(Server* s, int interval) {
  for (int i = 0; i < kMaxTickThreads; ++i)
    if (s->ticks[i] && s->ticks[i]->interval == interval) return i;
  return -1;
}

bool intervalInUseLocked(Server* s, int interval) {
  for (const TimerObj& t : s->timers)
    if (t.interval == interval) return true;
  return false;
}

// When no timer uses the interval any more, takes its tick thread out of the table and hands
// it to the caller to stop after releasing the service mutex.
void releaseIntervalLocked(Server* s, int interval, std::vector<TickThread*>& toStop) {
  if (intervalInUseLocked(s, interval)) return;
  const int slot = findTickSlotLocked(s, interval);
  if (slot < 0) return;
  toStop.push_back(s->ticks[slot]);
  s->ticks[slot] = nullptr;
}

void removeTimerLocked(Server* s, std::list<TimerObj>::iterator it) {
  s->byId.erase(it->id);
  s->timers.erase(it);
}

// Distribution thread body: takes tick records (waking as soon as one arrives) and posts the
// notices of that interval's timers.
void distThreadMain(void* arg) {
  auto* s = static_cast<Server*>(arg);
  std::vector<TickThread*> toStop;
  while (!s->distStop.load()) {
    TickRecord rec{};
    int len = sizeof rec;
    if (!NPC_F_TOOLS_QUEUE_GetData(s->distQueue, &rec, &len, kDistWaitMs)) continue;
    if (len != static_cast<int>(sizeof rec) || rec.dwTickThreadId == 0) continue;
    {
      std::lock_guard<std::mutex> lk(s->mu);
      const uint32_t slot = rec.dwTickThreadId & kSlotMask;
      if (slot >= static_cast<uint32_t>(kMaxTickThreads) || !s->ticks[slot] ||
          s->ticks[slot]->id != rec.dwTickThreadId)
        continue;  // from a tick thread that has been stopped since
      bool oneShotFired = false;
      for (auto it = s->timers.begin(); it != s->timers.end();) {
        if (it->interval != rec.iInterval) {
          ++it;
          continue;
        }
        const NPC_S_SYS_TIMER_NOTICE notice{it->id, it->interval, it->user};
        NPC_F_TOOLS_QUEUE_SetData(it->noticeQueue, &notice, sizeof notice, 0);
        if (it->periodic) {
          ++it;
        } else {
          auto dead = it++;
          removeTimerLocked(s, dead);
          oneShotFired = true;
        }
      }
      if (oneShotFired) releaseIntervalLocked(s, rec.iInterval, toStop);
    }
    stopTickThreads(toStop);
  }
}

// Makes sure a tick thread runs for the interval (and the distribution thread with the first
// one); service mutex held. False when a slot or a thread cannot be had.
bool ensureTickThreadLocked(Server* s, int interval) {
  if (findTickSlotLocked(s, interval) >= 0) return true;
  if (!s->distThread) {
    s->distStop.store(false);
    s->distThread = NPC_F_THREAD_CreateThread(distThreadMain, s);
    if (!s->distThread) return false;
  }
  int slot = -1;
  for (int i = 0; i < kMaxTickThreads && slot < 0; ++i)
    if (!s->ticks[i]) slot = i;
  if (slot < 0) return false;
  auto* t = new (std::nothrow) TickThread;
  if (!t) return false;
  const uint32_t tag = NPC_F_SYS_RANDOM_NewTag(s->lastTag[slot], kSlotMask);
  t->id = (tag << 16) | static_cast<uint32_t>(slot);
  t->interval = interval;
  t->distQueue = s->distQueue;
  t->nextDeadline = NPC_F_SYS_GetTickCount64() + interval;
  t->thread = NPC_F_THREAD_CreateThread(tickThreadMain, t);
  if (!t->thread) {
    delete t;
    return false;
  }
  s->lastTag[slot] = tag;
  s->ticks[slot] = t;
  return true;
}

}  // namespace

// Creates the service with its distribution queue; the threads start with the first timer.
void* NPC_F_SYS_TIMER_StartTimerServer(int granularity) {
  auto* s = new (std::nothrow) Server;
  if (!s) return nullptr;
  s->granularity = granularity;
  if (!NPC_F_TOOLS_QUEUE_InitQueue(&s->distQueue, kDistQueueCapacity)) {
    delete s;
    return nullptr;
  }
  return s;
}

// Stops every tick thread, then the distribution thread (woken by a stop record, or by its
// next 100 ms turn should the queue be full), and frees the timers and the queue.
void NPC_F_SYS_TIMER_StopTimerServer(void* server) {
  auto* s = static_cast<Server*>(server);
  if (!s) return;
  std::vector<TickThread*> toStop;
  void* dist;
  {
    std::lock_guard<std::mutex> lk(s->mu);
    for (auto& t : s->ticks) {
      if (t) toStop.push_back(t);
      t = nullptr;
    }
    dist = s->distThread;
    s->distThread = nullptr;
  }
  stopTickThreads(toStop);
  if (dist) {
    s->distStop.store(true);
    const TickRecord stopRec{0, 0};
    NPC_F_TOOLS_QUEUE_SetData(s->distQueue, &stopRec, sizeof stopRec, 0);
    NPC_F_THREAD_WaitExitThread(dist, kThreadExitWaitMs);
  }
  NPC_F_TOOLS_QUEUE_FreeQueue(&s->distQueue);
  delete s;
}

// Creates a timer (interval raised to NPC_D_SYS_TIMER_MIN_INTERVAL_MS) with the next free id
// of the running counter (never 0, never an id in use), links it at the head of the list and
// makes sure its interval has a tick thread. When that thread cannot start the timer is
// removed again and 0 returned.
uint32_t NPC_F_SYS_TIMER_SetTimer(void* server, int periodic, int intervalMs, void* noticeQueue, void* user) {
  auto* s = static_cast<Server*>(server);
  if (!s || !noticeQueue) return 0;
  const int interval = std::max(intervalMs, NPC_D_SYS_TIMER_MIN_INTERVAL_MS);
  std::lock_guard<std::mutex> lk(s->mu);
  uint32_t id = 0;
  for (int tries = 0; tries < kMaxIdTries && id == 0; ++tries) {
    const uint32_t candidate = ++s->nextId;
    if (candidate != 0 && s->byId.find(candidate) == s->byId.end()) id = candidate;
  }
  if (id == 0) return 0;
  try {
    s->timers.push_front(TimerObj{id, interval, periodic != 0, noticeQueue, user, s->granularity});
    s->byId.emplace(id, s->timers.begin());
  } catch (const std::bad_alloc&) {
    if (!s->timers.empty() && s->timers.front().id == id) s->timers.pop_front();
    return 0;
  }
  if (!ensureTickThreadLocked(s, interval)) {
    removeTimerLocked(s, s->timers.begin());
    return 0;
  }
  return id;
}

// Removes the timer and stops its interval's tick thread when no other timer uses it; the
// stop wakes the thread at once, so this returns without waiting for the interval.
int NPC_F_SYS_TIMER_KillTimer(void* server, uint32_t timerId) {
  auto* s = static_cast<Server*>(server);
  if (!s) return 0;
  std::vector<TickThread*> toStop;
  {
    std::lock_guard<std::mutex> lk(s->mu);
    auto found = s->byId.find(timerId);
    if (found == s->byId.end()) return 0;
    const int interval = found->second->interval;
    removeTimerLocked(s, found->second);
    releaseIntervalLocked(s, interval, toStop);
  }
  stopTickThreads(toStop);
  return 1;
}

// Moves the timer to another interval (raised to the minimum like SetTimer's). The new
// interval's tick thread is made sure of first, so a failure leaves the timer where it was.
int NPC_F_SYS_TIMER_ReSetTimer(void* server, uint32_t timerId, int intervalMs) {
  auto* s = static_cast<Server*>(server);
  if (!s) return 0;
  const int interval = std::max(intervalMs, NPC_D_SYS_TIMER_MIN_INTERVAL_MS);
  std::vector<TickThread*> toStop;
  {
    std::lock_guard<std::mutex> lk(s->mu);
    auto found = s->byId.find(timerId);
    if (found == s->byId.end()) return 0;
    const int old = found->second->interval;
    if (old == interval) return 1;
    if (!ensureTickThreadLocked(s, interval)) return 0;
    found->second->interval = interval;
    releaseIntervalLocked(s, old, toStop);
  }
  stopTickThreads(toStop);
  return 1;
}
