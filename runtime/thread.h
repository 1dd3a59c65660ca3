// Threads, mutexes, events, counting semaphores and multi-event wait objects.
//
// Every object is an opaque handle; every function accepts a null handle and then does
// nothing and returns 0 (or null). Waits sleep on condition variables against a monotonic
// deadline and wake as soon as they are signalled; time-outs are in milliseconds and 0 means
// "do not wait".
#ifndef KORVEN_RUNTIME_THREAD_H
#define KORVEN_RUNTIME_THREAD_H

typedef void (*NPC_F_THREAD_ENTRY)(void* arg);

// Starts a joinable thread running fn(arg); its exit state becomes 200 when fn returns.
// Returns the thread handle, or null (with the line the failure names on standard output).
void* NPC_F_THREAD_CreateThread(NPC_F_THREAD_ENTRY fn, void* arg);
// Waits up to timeoutMs for the thread's entry function to return, then joins the thread in
// any case and frees the record. Returns 1 when the thread ended within the time-out.
int NPC_F_THREAD_WaitExitThread(void* thread, int timeoutMs);

// A default (non-recursive) mutex.
void* NPC_F_THREAD_Mutex_Create();
void NPC_F_THREAD_Mutex_Destroy(void* mutex);
int NPC_F_THREAD_Mutex_Lock(void* mutex);
int NPC_F_THREAD_Mutex_Unlock(void* mutex);

// Windows-style event. A manual-reset event stays set until reset; an auto-reset event is
// cleared by the one wait it satisfies.
void* NPC_F_THREAD_Event_Create(int manualReset, int initialState);
void NPC_F_THREAD_Event_Destroy(void* event);
int NPC_F_THREAD_Event_SetEvent(void* event);
int NPC_F_THREAD_Event_ResetEvent(void* event);
// 1 when the event is or becomes set within timeoutMs, 0 otherwise.
int NPC_F_THREAD_Event_Wait(void* event, int timeoutMs);
// 1 when the event is set. Otherwise registers the wait object with the event (once; up to
// 64 wait objects) and returns 0; returns -1 when the registration found no free place.
int NPC_F_THREAD_Event_QuerySetWaitObj(void* event, void* waitObj);
int NPC_F_THREAD_Event_ClearWaitObj(void* event, void* waitObj);
int NPC_F_THREAD_Event_ClearAllWaitObj(void* event);

// Counting semaphore with a maximum.
void* NPC_F_THREAD_Sem_Create(int initialCount, int maxCount);
void NPC_F_THREAD_Sem_Destroy(void* sem);
// count = min(max, count + n).
int NPC_F_THREAD_Sem_Release(void* sem, int n);
// 1 (and count - 1) when the count becomes positive within timeoutMs, 0 otherwise.
int NPC_F_THREAD_Sem_Wait(void* sem, int timeoutMs);

// Wait object over up to 64 events.
void* NPC_F_THREAD_WaitObj_Create();
// Unregisters itself from every event that still holds it, then frees.
void NPC_F_THREAD_WaitObj_Destroy(void* waitObj);
// 0 when 64 events are already held.
int NPC_F_THREAD_WaitObj_AddEvent(void* waitObj, void* event);
int NPC_F_THREAD_WaitObj_DelEvent(void* waitObj, void* event);
int NPC_F_THREAD_WaitObj_ClearAllEvent(void* waitObj);
// Marks the event signalled in this wait object and wakes its waiter.
int NPC_F_THREAD_WaitObj_SetEventSig(void* waitObj, void* event);
// Wait-any (waitAll 0): the index of a signalled event, or -1 on time-out.
// Wait-all: the event count when all are signalled, or -1. -2 for a null handle.
// -3 when the wait object could not register with one of its events (that event already
// holds 64 wait objects); the failure is logged and nothing is waited for.
int NPC_F_THREAD_WaitObj_WaitEvent(void* waitObj, int waitAll, int timeoutMs);

// --- Failure injection (tests) --------------------------------------------------------------

// Makes the next `times` passes through the named failure point fail as if the system had
// refused the step. A point is named by the function and step of its failure line, for
// example "NPC_F_THREAD_CreateThread pthread_create" or "NPC_F_TOOLS_QUEUE_SetData malloc".
// times 0 disarms the point. Costs one relaxed atomic load per pass while nothing is armed.
void NPC_F_THREAD_TEST_FailNext(const char* point, int times);
// 1 when the named failure point is armed (and consumes one pass), else 0. Used by the
// runtime's own create and allocation paths.
int NPC_F_THREAD_TEST_ShouldFail(const char* point);

#endif
