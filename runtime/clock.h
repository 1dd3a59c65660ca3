// The clock seam: every library reading of time goes through here.
//
// It gives the millisecond tick of the monotonic clock (32-bit, wrapping, as devices and
// protocols expect it, and a 64-bit form for deadlines), wall-clock seconds and local-time
// conversion. Tests install a fake clock and move it forward, so rules of 15 s, 120 s or
// 600 s run in microseconds. Nothing else in the library calls time(), clock_gettime() or
// gettimeofday().
//
// Code that waits for a protocol deadline (rather than for a primitive's own time-out) waits
// through NPC_F_SYS_CLOCK_WaitUntil, which follows the fake clock when one is installed and
// the real monotonic clock otherwise.
#ifndef KORVEN_RUNTIME_CLOCK_H
#define KORVEN_RUNTIME_CLOCK_H

#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>

// Milliseconds of the monotonic clock, 32 bits, wrapping.
uint32_t NPC_F_SYS_GetTickCount();

// Milliseconds of the monotonic clock as a 64-bit value that never wraps.
int64_t NPC_F_SYS_GetTickCount64();

// Wall-clock seconds since 1970-01-01 UTC.
int64_t NPC_F_SYS_GetWallTime();

// Local-time conversion (localtime_r and mktime under the process time zone).
// NPC_F_SYS_LocalTime returns 1 and fills *out, 0 when the value cannot be converted.
int NPC_F_SYS_LocalTime(int64_t t, struct tm* out);
// Returns the time value of the local time *in (its tm_isdst is decided by the library),
// or -1 when it cannot be represented.
int64_t NPC_F_SYS_MakeLocalTime(const struct tm* in);

// --- The fake clock (tests) ---------------------------------------------------------------

// Installs a fake clock: the tick starts at tickMs and the wall clock at wallSeconds, and
// neither moves until NPC_F_SYS_CLOCK_Advance or NPC_F_SYS_CLOCK_SetWallTime is called.
void NPC_F_SYS_CLOCK_InstallFake(int64_t tickMs, int64_t wallSeconds);
// Returns to the real clocks.
void NPC_F_SYS_CLOCK_RemoveFake();
// 1 while a fake clock is installed.
int NPC_F_SYS_CLOCK_IsFake();
// Moves the fake tick forward by ms and the fake wall clock by the whole seconds that the
// tick crossed; wakes every NPC_F_SYS_CLOCK_WaitUntil and runs every advance hook.
void NPC_F_SYS_CLOCK_Advance(int64_t ms);
// Steps the fake wall clock (forwards or backwards) without moving the tick.
void NPC_F_SYS_CLOCK_SetWallTime(int64_t wallSeconds);

// Advance hooks: called (outside the clock's lock) after the fake clock moved, so that a
// thread waiting on its own wake-up (a socket wait, for instance) re-reads the time.
// Returns a hook id (never 0); NPC_F_SYS_CLOCK_RemoveHook returns only after a running call
// of that hook has finished.
int NPC_F_SYS_CLOCK_AddHook(void (*fn)(void* user), void* user);
void NPC_F_SYS_CLOCK_RemoveHook(int id);

// Waits on cv (with lk held, as std::condition_variable::wait does) until pred() is true or
// the seam's 64-bit tick reaches deadlineTick64. Returns pred() at the end. Under the fake
// clock the wait ends when Advance moves the tick past the deadline; Advance takes lk's mutex
// before notifying, so no wake-up is lost between the check and the wait.
bool NPC_F_SYS_CLOCK_WaitUntil(std::unique_lock<std::mutex>& lk, std::condition_variable& cv,
                               int64_t deadlineTick64, const std::function<bool()>& pred);

// Sleeps until the seam's tick reaches now + ms (follows the fake clock when installed).
void NPC_F_SYS_CLOCK_SleepMs(int64_t ms);

#endif
