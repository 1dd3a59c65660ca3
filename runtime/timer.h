// The timer service: periodic and one-shot timers that post 16-byte notices into the
// caller's queue. One tick thread runs per distinct interval and one distribution thread
// fans ticks out to the timers of that interval. Tick threads follow the clock seam, so a
// fake clock drives them in tests.
#ifndef KORVEN_RUNTIME_TIMER_H
#define KORVEN_RUNTIME_TIMER_H

#include <cstdint>

// The notice posted into a timer's queue at each expiry.
struct NPC_S_SYS_TIMER_NOTICE {
  uint32_t dwTimerId;
  int32_t iInterval;
  void* pUser;
};
static_assert(sizeof(void*) != 8 || sizeof(NPC_S_SYS_TIMER_NOTICE) == 16, "timer notice is 16 bytes");

// Intervals below this floor (milliseconds) are raised to it, so that a 0 or 1 ms timer does
// not spin a core.
constexpr int NPC_D_SYS_TIMER_MIN_INTERVAL_MS = 10;

void* NPC_F_SYS_TIMER_StartTimerServer(int granularity);
void NPC_F_SYS_TIMER_StopTimerServer(void* server);
// Returns the new timer's id, 0 on failure. noticeQueue is a runtime/queue.h queue.
uint32_t NPC_F_SYS_TIMER_SetTimer(void* server, int periodic, int intervalMs, void* noticeQueue, void* user);
// Removes the timer; returns 1 when it existed. Returns promptly (no wait for an interval).
int NPC_F_SYS_TIMER_KillTimer(void* server, uint32_t timerId);
// Moves the timer to a new interval; 1 when moved or unchanged, 0 when no timer has the id
// or a tick thread cannot start.
int NPC_F_SYS_TIMER_ReSetTimer(void* server, uint32_t timerId, int intervalMs);

#endif
