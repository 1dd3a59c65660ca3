// Threads, mutexes, events, counting semaphores and multi-event wait objects.
//
// Every wait here sleeps on a condition variable against a deadline of the monotonic clock
// (std::chrono::steady_clock) and loops over spurious wake-ups, so a wait ends either because
// its condition holds or because the whole time-out has passed, never earlier. Signals are
// given while the object's mutex is held, so a thread woken by a signal may destroy the object
// as soon as its wait returns: the signalling thread no longer touches it.
//
// Events and wait objects refer to each other in two ways:
//   - a wait object *holds* events (WaitObj_AddEvent): the list it waits on, with one
//     signalled mark per event, guarded by the wait object's mutex;
//   - an event *registers* wait objects (Event_QuerySetWaitObj): the ones it marks when it is
//     set. The event's table is guarded by the event's mutex; every change of a registration
//     (and the back-link list each wait object keeps of the events that registered it) is made
//     under one process-wide registration mutex as well.
// Lock order: registration mutex, then an event's mutex, then a wait object's mutex. SetEvent
// marks the registered wait objects while it holds the event's mutex, and unregistering (by
// ClearWaitObj or either destroy) takes that same mutex, so once a wait object is unregistered
// no event can reach it any more; that is what makes destroying either side safe.
#include "runtime/thread.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "runtime/log.h"

namespace {

constexpr int kExitStateDone = 200;
constexpr int kMaxWaitObjsPerEvent = 64;
constexpr int kMaxEventsPerWaitObj = 64;

// Prints one failure line of the thread primitives on standard output.
void printFailLine(const char* line) {
  std::fputs(line, stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// Waits on cv until pred() holds or timeoutMs of the monotonic clock have passed; loops over
// spurious wake-ups. A time-out of 0 or less only tests pred once.
template <typename Pred>
bool waitForMs(std::unique_lock<std::mutex>& lk, std::condition_variable& cv, int timeoutMs, Pred pred) {
  if (pred()) return true;
  if (timeoutMs <= 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  return cv.wait_until(lk, deadline, pred);
}

// --- Failure injection ----------------------------------------------------------------------

std::atomic<int> g_failArmed{0};  // sum of the remaining passes of every armed point

std::mutex& failMutex() {
  static std::mutex mu;
  return mu;
}

std::map<std::string, int>& failPoints() {
  static std::map<std::string, int> points;
  return points;
}

// --- Records --------------------------------------------------------------------------------

struct ThreadRec {
  pthread_t handle{};
  bool started = false;
  NPC_F_THREAD_ENTRY fn = nullptr;
  void* arg = nullptr;
  std::mutex mu;
  std::condition_variable cv;
  int exitState = 0;      // becomes kExitStateDone when fn returns
  bool orphaned = false;  // WaitExitThread was called by the thread itself: it frees itself
};

struct WaitObj;

struct Event {
  std::mutex mu;
  std::condition_variable cv;
  bool signalled = false;
  bool manualReset = false;
  int waiterCount = 0;                          // registered wait objects, packed at the front
  WaitObj* waiters[kMaxWaitObjsPerEvent] = {};  // guarded by mu (changes also need g_regMu)
};

struct WaitObj {
  std::mutex mu;
  std::condition_variable cv;
  int eventCount = 0;  // held events, packed at the front; guarded by mu
  Event* events[kMaxEventsPerWaitObj] = {};
  bool marks[kMaxEventsPerWaitObj] = {};
  std::vector<Event*> registeredWith;  // events whose table holds this object; guarded by g_regMu
};

struct Sem {
  std::mutex mu;
  std::condition_variable cv;
  int count = 0;
  int max = 1;
};

// Guards every registration of a wait object with an event (see the file comment).
std::mutex g_regMu;

// Removes wo from ev's table; ev->mu must be held. Returns true when it was registered.
bool eventDropWaiter(Event* ev, WaitObj* wo) {
  for (int i = 0; i < ev->waiterCount; ++i) {
    if (ev->waiters[i] == wo) {
      ev->waiters[i] = ev->waiters[ev->waiterCount - 1];
      ev->waiters[--ev->waiterCount] = nullptr;
      return true;
    }
  }
  return false;
}

// Removes ev from wo's back-links; g_regMu must be held.
void waitObjDropBackLink(WaitObj* wo, Event* ev) {
  auto& v = wo->registeredWith;
  auto it = std::find(v.begin(), v.end(), ev);
  if (it != v.end()) {
    *it = v.back();
    v.pop_back();
  }
}

// Sets the mark of ev in wo (when wo holds it) and wakes wo's waiter. Takes wo->mu, so the
// caller may hold an event's mutex but never a wait object's.
bool waitObjMark(WaitObj* wo, Event* ev) {
  bool found = false;
  std::lock_guard<std::mutex> lk(wo->mu);
  for (int i = 0; i < wo->eventCount; ++i) {
    if (wo->events[i] == ev) {
      wo->marks[i] = true;
      found = true;
    }
  }
  wo->cv.notify_all();
  return found;
}

// The outcome of a wait object's wait as things stand; wo->mu must be held. Wait-any: the
// first marked index; wait-all: the event count when every event is marked; -1 otherwise
// (also when the object holds no event: there is nothing that could end the wait early).
int waitObjOutcome(const WaitObj* wo, bool waitAll) {
  if (wo->eventCount == 0) return -1;
  if (!waitAll) {
    for (int i = 0; i < wo->eventCount; ++i)
      if (wo->marks[i]) return i;
    return -1;
  }
  for (int i = 0; i < wo->eventCount; ++i)
    if (!wo->marks[i]) return -1;
  return wo->eventCount;
}

// Body of every thread: runs the entry function, then publishes the exit state.
void* threadTrampoline(void* p) {
  auto* rec = static_cast<ThreadRec*>(p);
  rec->fn(rec->arg);
  bool freeSelf;
  {
    std::lock_guard<std::mutex> lk(rec->mu);
    rec->exitState = kExitStateDone;
    freeSelf = rec->orphaned;
    rec->cv.notify_all();
  }
  if (freeSelf) delete rec;
  return nullptr;
}

}  // namespace

// --- Failure injection ----------------------------------------------------------------------

void NPC_F_THREAD_TEST_FailNext(const char* point, int times) {
  if (!point) return;
  std::lock_guard<std::mutex> lk(failMutex());
  auto& points = failPoints();
  auto it = points.find(point);
  if (it != points.end()) {
    g_failArmed.fetch_sub(it->second);
    points.erase(it);
  }
  if (times > 0) {
    points[point] = times;
    g_failArmed.fetch_add(times);
  }
}

int NPC_F_THREAD_TEST_ShouldFail(const char* point) {
  if (g_failArmed.load(std::memory_order_relaxed) == 0 || !point) return 0;
  std::lock_guard<std::mutex> lk(failMutex());
  auto& points = failPoints();
  auto it = points.find(point);
  if (it == points.end()) return 0;
  g_failArmed.fetch_sub(1);
  if (--it->second == 0) points.erase(it);
  return 1;
}

// --- Threads --------------------------------------------------------------------------------

// Starts a joinable thread that runs fn(arg) and then sets the exit state 200. The record lives
// until NPC_F_THREAD_WaitExitThread joins the thread.
void* NPC_F_THREAD_CreateThread(NPC_F_THREAD_ENTRY fn, void* arg) {
  if (!fn) return nullptr;
  ThreadRec* rec = NPC_F_THREAD_TEST_ShouldFail("NPC_F_THREAD_CreateThread malloc") ? nullptr
                                                                                     : new (std::nothrow) ThreadRec;
  if (!rec) {
    printFailLine("NPC_F_THREAD_CreateThread malloc fail.");
    return nullptr;
  }
  rec->fn = fn;
  rec->arg = arg;
  int ret = NPC_F_THREAD_TEST_ShouldFail("NPC_F_THREAD_CreateThread pthread_create")
                ? EAGAIN
                : pthread_create(&rec->handle, nullptr, threadTrampoline, rec);
  if (ret != 0) {
    std::printf("NPC_F_THREAD_CreateThread pthread_create fail, ret=%d.\n", ret);
    std::fflush(stdout);
    delete rec;
    return nullptr;
  }
  rec->started = true;
  return rec;
}

// Waits on the record's condition variable up to timeoutMs for the exit state 200, then joins
// the thread whether or not it ended in time (a thread still running is waited for by the
// join) and frees the record. Returns 1 when the thread had ended within the time-out. Called
// by the thread on itself it cannot join: the thread is detached and frees its record when
// its entry function returns.
int NPC_F_THREAD_WaitExitThread(void* thread, int timeoutMs) {
  auto* rec = static_cast<ThreadRec*>(thread);
  if (!rec) return 0;
  if (pthread_equal(rec->handle, pthread_self())) {
    {
      std::lock_guard<std::mutex> lk(rec->mu);
      rec->orphaned = true;
    }
    pthread_detach(rec->handle);
    return 0;
  }
  bool ended;
  {
    std::unique_lock<std::mutex> lk(rec->mu);
    ended = waitForMs(lk, rec->cv, timeoutMs, [rec] { return rec->exitState == kExitStateDone; });
  }
  if (rec->started) pthread_join(rec->handle, nullptr);
  delete rec;
  return ended ? 1 : 0;
}

// --- Mutexes --------------------------------------------------------------------------------

void* NPC_F_THREAD_Mutex_Create() {
  auto* m = NPC_F_THREAD_TEST_ShouldFail("NPC_F_THREAD_Mutex_Create malloc")
                ? nullptr
                : static_cast<pthread_mutex_t*>(std::malloc(sizeof(pthread_mutex_t)));
  if (!m) {
    printFailLine("NPC_F_THREAD_Mutex_Create malloc fail.");
    return nullptr;
  }
  if (NPC_F_THREAD_TEST_ShouldFail("NPC_F_THREAD_Mutex_Create pthread_mutex_init") ||
      pthread_mutex_init(m, nullptr) != 0) {
    printFailLine("NPC_F_THREAD_Mutex_Create pthread_mutex_init fail.");
    std::free(m);
    return nullptr;
  }
  return m;
}

void NPC_F_THREAD_Mutex_Destroy(void* mutex) {
  if (!mutex) return;
  pthread_mutex_destroy(static_cast<pthread_mutex_t*>(mutex));
  std::free(mutex);
}

int NPC_F_THREAD_Mutex_Lock(void* mutex) {
  if (!mutex) return 0;
  return pthread_mutex_lock(static_cast<pthread_mutex_t*>(mutex)) == 0 ? 1 : 0;
}

int NPC_F_THREAD_Mutex_Unlock(void* mutex) {
  if (!mutex) return 0;
  return pthread_mutex_unlock(static_cast<pthread_mutex_t*>(mutex)) == 0 ? 1 : 0;
}

// --- Events ---------------------------------------------------------------------------------

void* NPC_F_THREAD_Event_Create(int manualReset, int initialState) {
  Event* ev = NPC_F_THREAD_TEST_ShouldFail("NPC_F_THREAD_Event_Create malloc") ? nullptr : new (std::nothrow) Event;
  if (!ev) {
    printFailLine("NPC_F_THREAD_Event_Create malloc fail.");
    return nullptr;
  }
  // The mutex and condition variable are constructed with the record and cannot fail here;
  // the two steps stay as failure points so that callers' clean-up paths can be exercised.
  const char* failed = nullptr;
  if (NPC_F_THREAD_TEST_ShouldFail("NPC_F_THREAD_Event_Create pthread_mutex_init"))
    failed = "NPC_F_THREAD_Event_Create pthread_mutex_init fail.";
  else if (NPC_F_THREAD_TEST_ShouldFail("NPC_F_THREAD_Event_Create pthread_cond_init"))
    failed = "NPC_F_THREAD_Event_Create pthread_cond_init fail.";
  if (failed) {
    printFailLine(failed);
    delete ev;
    return nullptr;
  }
  ev->manualReset = manualReset != 0;
  ev->signalled = initialState != 0;
  return ev;
}

// Unregisters every wait object the event still holds, then frees it. Waiters still blocked
// on the event are the caller's error.
void NPC_F_THREAD_Event_Destroy(void* event) {
  auto* ev = static_cast<Event*>(event);
  if (!ev) return;
  {
    std::lock_guard<std::mutex> reg(g_regMu);
    std::lock_guard<std::mutex> lk(ev->mu);
    for (int i = 0; i < ev->waiterCount; ++i) waitObjDropBackLink(ev->waiters[i], ev);
    ev->waiterCount = 0;
  }
  delete ev;
}

// Sets the state, wakes the event's waiters, then marks the event in every registered wait
// object and wakes each of them. The marking happens under the event's mutex, which is what
// keeps a concurrently destroyed wait object from being reached after it unregistered.
int NPC_F_THREAD_Event_SetEvent(void* event) {
  auto* ev = static_cast<Event*>(event);
  if (!ev) return 0;
  std::lock_guard<std::mutex> lk(ev->mu);
  ev->signalled = true;
  if (ev->manualReset)
    ev->cv.notify_all();
  else
    ev->cv.notify_one();
  for (int i = 0; i < ev->waiterCount; ++i) waitObjMark(ev->waiters[i], ev);
  return 1;
}

int NPC_F_THREAD_Event_ResetEvent(void* event) {
  auto* ev = static_cast<Event*>(event);
  if (!ev) return 0;
  std::lock_guard<std::mutex> lk(ev->mu);
  ev->signalled = false;
  return 1;
}

// 1 when the event is set now or becomes set before the time-out ends; a successful wait on
// an auto-reset event clears it, so only one waiter is satisfied per SetEvent.
int NPC_F_THREAD_Event_Wait(void* event, int timeoutMs) {
  auto* ev = static_cast<Event*>(event);
  if (!ev) return 0;
  std::unique_lock<std::mutex> lk(ev->mu);
  if (!waitForMs(lk, ev->cv, timeoutMs, [ev] { return ev->signalled; })) return 0;
  if (!ev->manualReset) ev->signalled = false;
  return 1;
}

// Tests and registers in one step under the event's mutex, so a SetEvent that follows a 0
// result always marks the wait object: 1 when set; 0 when now registered (or already was);
// -1 when the event's 64 places are taken.
int NPC_F_THREAD_Event_QuerySetWaitObj(void* event, void* waitObj) {
  auto* ev = static_cast<Event*>(event);
  auto* wo = static_cast<WaitObj*>(waitObj);
  if (!ev || !wo) return 0;
  std::lock_guard<std::mutex> reg(g_regMu);
  std::lock_guard<std::mutex> lk(ev->mu);
  if (ev->signalled) return 1;
  for (int i = 0; i < ev->waiterCount; ++i)
    if (ev->waiters[i] == wo) return 0;
  if (ev->waiterCount >= kMaxWaitObjsPerEvent) return -1;
  try {
    wo->registeredWith.push_back(ev);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  ev->waiters[ev->waiterCount++] = wo;
  return 0;
}

int NPC_F_THREAD_Event_ClearWaitObj(void* event, void* waitObj) {
  auto* ev = static_cast<Event*>(event);
  auto* wo = static_cast<WaitObj*>(waitObj);
  if (!ev || !wo) return 0;
  std::lock_guard<std::mutex> reg(g_regMu);
  std::lock_guard<std::mutex> lk(ev->mu);
  if (eventDropWaiter(ev, wo)) waitObjDropBackLink(wo, ev);
  return 1;
}

int NPC_F_THREAD_Event_ClearAllWaitObj(void* event) {
  auto* ev = static_cast<Event*>(event);
  if (!ev) return 0;
  std::lock_guard<std::mutex> reg(g_regMu);
  std::lock_guard<std::mutex> lk(ev->mu);
  for (int i = 0; i < ev->waiterCount; ++i) {
    waitObjDropBackLink(ev->waiters[i], ev);
    ev->waiters[i] = nullptr;
  }
  ev->waiterCount = 0;
  return 1;
}

// --- Semaphores -----------------------------------------------------------------------------

// A counting semaphore; the initial count is kept within [0, maxCount]. A maximum below 1
// makes no usable semaphore and gives null.
void* NPC_F_THREAD_Sem_Create(int initialCount, int maxCount) {
  if (maxCount < 1) return nullptr;
  Sem* s = NPC_F_THREAD_TEST_ShouldFail("NPC_F_THREAD_Sem_Create malloc") ? nullptr : new (std::nothrow) Sem;
  if (!s) {
    printFailLine("NPC_F_THREAD_Sem_Create malloc fail.");
    return nullptr;
  }
  const char* failed = nullptr;
  if (NPC_F_THREAD_TEST_ShouldFail("NPC_F_THREAD_Sem_Create pthread_mutex_init"))
    failed = "NPC_F_THREAD_Sem_Create pthread_mutex_init fail.";
  else if (NPC_F_THREAD_TEST_ShouldFail("NPC_F_THREAD_Sem_Create pthread_cond_init"))
    failed = "NPC_F_THREAD_Sem_Create pthread_cond_init fail.";
  if (failed) {
    printFailLine(failed);
    delete s;
    return nullptr;
  }
  s->max = maxCount;
  s->count = std::min(std::max(initialCount, 0), maxCount);
  return s;
}

// Frees the semaphore. A releaser still finishing its call is waited for by taking the mutex
// once; threads still waiting are the caller's error.
void NPC_F_THREAD_Sem_Destroy(void* sem) {
  auto* s = static_cast<Sem*>(sem);
  if (!s) return;
  { std::lock_guard<std::mutex> lk(s->mu); }
  delete s;
}

// count = min(max, count + n) for n >= 1. Wakes one waiter for one token and every waiter
// for more, so that n tokens never leave a waiter asleep beside a positive count.
int NPC_F_THREAD_Sem_Release(void* sem, int n) {
  auto* s = static_cast<Sem*>(sem);
  if (!s || n < 1) return 0;
  std::lock_guard<std::mutex> lk(s->mu);
  s->count = static_cast<int>(std::min<long long>(s->max, static_cast<long long>(s->count) + n));
  if (n == 1)
    s->cv.notify_one();
  else
    s->cv.notify_all();
  return 1;
}

// Takes one token, waiting up to the time-out for one. A wake-up that finds the count at 0
// (spurious, or a token taken by another thread first) goes back to waiting for the rest of
// the time-out.
int NPC_F_THREAD_Sem_Wait(void* sem, int timeoutMs) {
  auto* s = static_cast<Sem*>(sem);
  if (!s) return 0;
  std::unique_lock<std::mutex> lk(s->mu);
  if (!waitForMs(lk, s->cv, timeoutMs, [s] { return s->count > 0; })) return 0;
  --s->count;
  return 1;
}

// --- Wait objects ---------------------------------------------------------------------------

void* NPC_F_THREAD_WaitObj_Create() {
  WaitObj* wo = NPC_F_THREAD_TEST_ShouldFail("NPC_F_THREAD_WaitObj_Create malloc") ? nullptr
                                                                                     : new (std::nothrow) WaitObj;
  if (!wo) {
    printFailLine("NPC_F_THREAD_WaitObj_Create malloc fail.");
    return nullptr;
  }
  const char* failed = nullptr;
  if (NPC_F_THREAD_TEST_ShouldFail("NPC_F_THREAD_WaitObj_Create pthread_mutex_init"))
    failed = "NPC_F_THREAD_WaitObj_Create pthread_mutex_init fail.";
  else if (NPC_F_THREAD_TEST_ShouldFail("NPC_F_THREAD_WaitObj_Create pthread_cond_init"))
    failed = "NPC_F_THREAD_WaitObj_Create pthread_cond_init fail.";
  if (failed) {
    printFailLine(failed);
    delete wo;
    return nullptr;
  }
  return wo;
}

// Unregisters the wait object from every event that still holds it (each under that event's
// mutex, so a SetEvent in progress finishes marking it first), then frees it.
void NPC_F_THREAD_WaitObj_Destroy(void* waitObj) {
  auto* wo = static_cast<WaitObj*>(waitObj);
  if (!wo) return;
  {
    std::lock_guard<std::mutex> reg(g_regMu);
    for (Event* ev : wo->registeredWith) {
      std::lock_guard<std::mutex> lk(ev->mu);
      eventDropWaiter(ev, wo);
    }
    wo->registeredWith.clear();
  }
  { std::lock_guard<std::mutex> lk(wo->mu); }  // a SetEventSig still finishing its call
  delete wo;
}

// Adds an event to the list the wait object waits on (once); 0 when 64 are already held.
int NPC_F_THREAD_WaitObj_AddEvent(void* waitObj, void* event) {
  auto* wo = static_cast<WaitObj*>(waitObj);
  auto* ev = static_cast<Event*>(event);
  if (!wo || !ev) return 0;
  std::lock_guard<std::mutex> lk(wo->mu);
  for (int i = 0; i < wo->eventCount; ++i)
    if (wo->events[i] == ev) return 1;
  if (wo->eventCount >= kMaxEventsPerWaitObj) return 0;
  wo->events[wo->eventCount] = ev;
  wo->marks[wo->eventCount] = false;
  ++wo->eventCount;
  return 1;
}

// Removes an event from the list; the events behind it move up one index.
int NPC_F_THREAD_WaitObj_DelEvent(void* waitObj, void* event) {
  auto* wo = static_cast<WaitObj*>(waitObj);
  auto* ev = static_cast<Event*>(event);
  if (!wo || !ev) return 0;
  std::lock_guard<std::mutex> lk(wo->mu);
  for (int i = 0; i < wo->eventCount; ++i) {
    if (wo->events[i] != ev) continue;
    for (int j = i + 1; j < wo->eventCount; ++j) {
      wo->events[j - 1] = wo->events[j];
      wo->marks[j - 1] = wo->marks[j];
    }
    --wo->eventCount;
    wo->events[wo->eventCount] = nullptr;
    wo->marks[wo->eventCount] = false;
    return 1;
  }
  return 0;
}

int NPC_F_THREAD_WaitObj_ClearAllEvent(void* waitObj) {
  auto* wo = static_cast<WaitObj*>(waitObj);
  if (!wo) return 0;
  std::lock_guard<std::mutex> lk(wo->mu);
  for (int i = 0; i < wo->eventCount; ++i) {
    wo->events[i] = nullptr;
    wo->marks[i] = false;
  }
  wo->eventCount = 0;
  return 1;
}

int NPC_F_THREAD_WaitObj_SetEventSig(void* waitObj, void* event) {
  auto* wo = static_cast<WaitObj*>(waitObj);
  auto* ev = static_cast<Event*>(event);
  if (!wo || !ev) return 0;
  return waitObjMark(wo, ev) ? 1 : 0;
}

// Waits for any (waitAll 0) or all of the held events. Each held event's mark is cleared and
// the object registers with the event (testing its state in the same step); an event already
// set ends a wait-any at once and counts as marked for a wait-all. The object then sleeps on
// its condition variable until the marks satisfy the wait or the deadline passes, looping over
// wake-ups that do not (a spurious one, or the first event of a wait-all). Before returning it
// unregisters from the events it registered with. A registration that finds no free place is
// logged and ends the wait with -3 rather than waiting for a mark that could never come.
int NPC_F_THREAD_WaitObj_WaitEvent(void* waitObj, int waitAll, int timeoutMs) {
  auto* wo = static_cast<WaitObj*>(waitObj);
  if (!wo) return -2;
  const bool all = waitAll != 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));

  Event* held[kMaxEventsPerWaitObj];
  int heldCount;
  {
    std::lock_guard<std::mutex> lk(wo->mu);
    heldCount = wo->eventCount;
    for (int i = 0; i < heldCount; ++i) {
      held[i] = wo->events[i];
      wo->marks[i] = false;
    }
  }

  int result = -1;
  bool decided = false;
  for (int i = 0; i < heldCount && !decided; ++i) {
    const int r = NPC_F_THREAD_Event_QuerySetWaitObj(held[i], wo);
    if (r == 1) {
      if (!all) {
        result = i;
        decided = true;
      } else {
        waitObjMark(wo, held[i]);
      }
    } else if (r < 0) {
      NPC_F_LOG_SR_WriteLog("NPC_F_THREAD_WaitObj_WaitEvent NPC_F_THREAD_Event_QuerySetWaitObj fail.", 2);
      result = -3;
      decided = true;
    }
  }

  if (!decided) {
    std::unique_lock<std::mutex> lk(wo->mu);
    if (timeoutMs > 0) wo->cv.wait_until(lk, deadline, [wo, all] { return waitObjOutcome(wo, all) != -1; });
    result = waitObjOutcome(wo, all);
  }

  for (int i = 0; i < heldCount; ++i) NPC_F_THREAD_Event_ClearWaitObj(held[i], wo);
  return result;
}
