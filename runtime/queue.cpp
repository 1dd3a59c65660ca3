// Bounded blocking queues of byte messages.
//
// A queue owns a FIFO of nodes, each one allocation holding the node head and the copy of
// the data, its own mutex and two condition variables (an item arrived, a slot freed), and
// two manual-reset events of runtime/thread.h that mirror its state for wait objects: the
// read event is set exactly while items are queued, the write event exactly while there is
// room. Both events change only under the queue's mutex, on the transitions of the count,
// so they never disagree with it.
//
// Every add copies the data into a new node before taking the mutex: an allocation failure
// fails the add and leaves the queue as it was. Every removal (a take, a drop by the
// keep-at-most limit, a drop of an item the reader's buffer cannot hold, MoveData) frees the
// node's slot at once and wakes a writer waiting for room.
#include "runtime/queue.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "runtime/thread.h"

namespace {

// One queued item: the head followed in the same allocation by len bytes of data.
struct Node {
  Node* next;
  int len;
  char* data() { return reinterpret_cast<char*>(this + 1); }
};

struct Queue {
  std::mutex mu;
  std::condition_variable itemReady;  // signalled when an item is appended
  std::condition_variable slotFree;   // signalled when an item leaves
  Node* head = nullptr;
  Node* tail = nullptr;
  int count = 0;
  int capacity = 0;
  int keepAtMost = 0;  // 0: no limit
  long long totalLen = 0;
  int readersWaiting = 0;  // threads asleep on itemReady (no notify when 0)
  int writersWaiting = 0;  // threads asleep on slotFree
  void* readEvent = nullptr;
  void* writeEvent = nullptr;
};

// Waits on cv until pred() holds or the monotonic deadline passes, counting the caller in
// *waiting while it sleeps so that the other side signals only when someone waits.
template <typename Pred>
bool waitUntil(std::unique_lock<std::mutex>& lk, std::condition_variable& cv, int* waiting,
               std::chrono::steady_clock::time_point deadline, int timeoutMs, Pred pred) {
  if (pred()) return true;
  if (timeoutMs <= 0) return false;
  ++*waiting;
  const bool ok = cv.wait_until(lk, deadline, pred);
  --*waiting;
  return ok;
}

std::chrono::steady_clock::time_point deadlineAfter(int timeoutMs) {
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
}

// Brings the two events in line with a change of the count from `before` to q->count;
// q->mu held. Only crossings of empty and full touch an event, so a drop followed by an
// append (the keep-at-most limit) leaves both alone.
void syncEventsLocked(Queue* q, int before) {
  if (before == 0 && q->count > 0)
    NPC_F_THREAD_Event_SetEvent(q->readEvent);
  else if (before > 0 && q->count == 0)
    NPC_F_THREAD_Event_ResetEvent(q->readEvent);
  if (before >= q->capacity && q->count < q->capacity)
    NPC_F_THREAD_Event_SetEvent(q->writeEvent);
  else if (before < q->capacity && q->count >= q->capacity)
    NPC_F_THREAD_Event_ResetEvent(q->writeEvent);
}

// Appends node; q->mu held; the caller syncs the events.
void linkTailLocked(Queue* q, Node* node) {
  node->next = nullptr;
  if (q->tail)
    q->tail->next = node;
  else
    q->head = node;
  q->tail = node;
  q->totalLen += node->len;
  ++q->count;
}

// Unlinks and returns the head (null when empty); q->mu held; the caller syncs the events.
Node* unlinkHeadLocked(Queue* q) {
  Node* node = q->head;
  if (!node) return nullptr;
  q->head = node->next;
  if (!q->head) q->tail = nullptr;
  q->totalLen -= node->len;
  --q->count;
  return node;
}

// Unlinks the head and syncs the events; q->mu held.
Node* popLocked(Queue* q) {
  const int before = q->count;
  Node* node = unlinkHeadLocked(q);
  syncEventsLocked(q, before);
  return node;
}

// Signals one writer waiting for a slot; q->mu held. Signals are given under the mutex so
// that once a thread has left the queue's critical section it never touches the queue again:
// a reader that takes the last item may free the queue at once.
void wakeWriterLocked(Queue* q) {
  if (q->writersWaiting > 0) q->slotFree.notify_one();
}

// Takes the head for a reader: waits up to the deadline for an item, then, when the item is
// larger than maxLen (and maxLen >= 0), drops it and reports *tooSmall. Returns the node
// (owned by the caller) or null.
Node* takeHead(Queue* q, int timeoutMs, std::chrono::steady_clock::time_point deadline, int maxLen, bool* tooSmall) {
  *tooSmall = false;
  Node* node;
  {
    std::unique_lock<std::mutex> lk(q->mu);
    if (!waitUntil(lk, q->itemReady, &q->readersWaiting, deadline, timeoutMs, [q] { return q->count > 0; }))
      return nullptr;
    node = popLocked(q);
    wakeWriterLocked(q);
  }
  if (maxLen >= 0 && node->len > maxLen) {
    std::free(node);
    *tooSmall = true;
    return nullptr;
  }
  return node;
}

}  // namespace

// Creates the queue with its two events (read event reset, write event set); on any failure
// frees what was made and leaves *handle null.
int NPC_F_TOOLS_QUEUE_InitQueue(void** handle, int capacity) {
  if (!handle) return 0;
  *handle = nullptr;
  if (capacity < 1) return 0;
  Queue* q = NPC_F_THREAD_TEST_ShouldFail("NPC_F_TOOLS_QUEUE_InitQueue malloc") ? nullptr : new (std::nothrow) Queue;
  if (!q) return 0;
  q->capacity = capacity;
  q->readEvent = NPC_F_THREAD_Event_Create(1, 0);
  q->writeEvent = NPC_F_THREAD_Event_Create(1, 1);
  if (!q->readEvent || !q->writeEvent) {
    NPC_F_THREAD_Event_Destroy(q->readEvent);
    NPC_F_THREAD_Event_Destroy(q->writeEvent);
    delete q;
    return 0;
  }
  *handle = q;
  return 1;
}

// Frees every queued item, the events and the queue. No thread may call into the queue any
// more; one still finishing a call (a writer whose item the caller has just taken) is waited
// for by taking the mutex once.
void NPC_F_TOOLS_QUEUE_FreeQueue(void** handle) {
  if (!handle || !*handle) return;
  auto* q = static_cast<Queue*>(*handle);
  *handle = nullptr;
  { std::lock_guard<std::mutex> lk(q->mu); }
  for (Node* n = q->head; n;) {
    Node* next = n->next;
    std::free(n);
    n = next;
  }
  NPC_F_THREAD_Event_Destroy(q->readEvent);
  NPC_F_THREAD_Event_Destroy(q->writeEvent);
  delete q;
}

// Copies the data into a new node first, then under the mutex: when a keep-at-most limit is
// set and the count has reached it, the oldest items are dropped to make room (no waiting);
// otherwise the add waits up to the time-out for a free slot. Returns 0, with the queue
// unchanged, when the queue stays full, the copy cannot be allocated or the arguments are
// invalid.
int NPC_F_TOOLS_QUEUE_SetData(void* queue, const void* data, int len, int timeoutMs) {
  auto* q = static_cast<Queue*>(queue);
  if (!q || !data || len < 0) return 0;
  const auto deadline = deadlineAfter(timeoutMs);
  Node* node = NPC_F_THREAD_TEST_ShouldFail("NPC_F_TOOLS_QUEUE_SetData malloc")
                   ? nullptr
                   : static_cast<Node*>(std::malloc(sizeof(Node) + static_cast<size_t>(len)));
  if (!node) return 0;
  node->len = len;
  if (len > 0) std::memcpy(node->data(), data, static_cast<size_t>(len));

  Node* dropped = nullptr;  // chain of items pushed out by the limit, freed after unlocking
  {
    std::unique_lock<std::mutex> lk(q->mu);
    const bool overLimit = q->keepAtMost > 0 && q->count >= q->keepAtMost;
    if (!overLimit && !waitUntil(lk, q->slotFree, &q->writersWaiting, deadline, timeoutMs,
                                 [q] { return q->count < q->capacity; })) {
      lk.unlock();
      std::free(node);
      return 0;
    }
    const int before = q->count;
    // The limit is tested before any wait for a slot: an add that finds the queue at its
    // limit drops the oldest items (more than one when the limit was lowered) and takes
    // the slot of the last one.
    while (q->keepAtMost > 0 && q->count >= q->keepAtMost) {
      Node* old = unlinkHeadLocked(q);
      old->next = dropped;
      dropped = old;
    }
    linkTailLocked(q, node);
    syncEventsLocked(q, before);
    if (q->readersWaiting > 0) q->itemReady.notify_one();
    if (q->count < before && q->writersWaiting > 0) q->slotFree.notify_all();
  }
  while (dropped) {
    Node* next = dropped->next;
    std::free(dropped);
    dropped = next;
  }
  return 1;
}

// Takes the head into the caller's buffer of capacity *len. An item larger than the buffer
// is dropped (its slot freed) and 0 returned; a time-out returns 0 and leaves *len unchanged.
// A null buffer is an invalid call and takes nothing.
int NPC_F_TOOLS_QUEUE_GetData(void* queue, void* buf, int* len, int timeoutMs) {
  auto* q = static_cast<Queue*>(queue);
  if (!q || !buf || !len) return 0;
  const int room = std::max(*len, 0);
  bool tooSmall;
  Node* node = takeHead(q, timeoutMs, deadlineAfter(timeoutMs), room, &tooSmall);
  if (!node) return 0;
  if (node->len > 0) std::memcpy(buf, node->data(), static_cast<size_t>(node->len));
  *len = node->len;
  std::free(node);
  return 1;
}

// Takes the head into the caller's growable buffer. When the head does not fit, the buffer is
// replaced (outside the mutex) by one of the item's length + 10 and the take is tried again,
// so an allocation failure leaves the item queued. The caller frees *buf with FreeMemory.
int NPC_F_TOOLS_QUEUE_GetDataEx(void* queue, char** buf, int* len, int* cap, int timeoutMs) {
  auto* q = static_cast<Queue*>(queue);
  if (!q || !buf || !len || !cap) return 0;
  if (!*buf) *cap = 0;
  const auto deadline = deadlineAfter(timeoutMs);
  for (;;) {
    int need;
    {
      std::unique_lock<std::mutex> lk(q->mu);
      if (!waitUntil(lk, q->itemReady, &q->readersWaiting, deadline, timeoutMs, [q] { return q->count > 0; }))
        return 0;
      need = q->head->len;
    }
    if (need > *cap) {
      std::free(*buf);
      *cap = 0;
      *buf = NPC_F_THREAD_TEST_ShouldFail("NPC_F_TOOLS_QUEUE_GetDataEx malloc")
                 ? nullptr
                 : static_cast<char*>(std::malloc(static_cast<size_t>(need) + 10));
      if (!*buf) return 0;
      *cap = need + 10;
    }
    // Another reader may have taken that head meanwhile; a larger head than the buffer now
    // holds is left queued and measured again.
    Node* node = nullptr;
    {
      std::lock_guard<std::mutex> lk(q->mu);
      if (q->head && q->head->len <= *cap) {
        node = popLocked(q);
        wakeWriterLocked(q);
      }
    }
    if (!node) continue;
    if (node->len > 0) std::memcpy(*buf, node->data(), static_cast<size_t>(node->len));
    *len = node->len;
    std::free(node);
    return 1;
  }
}

void NPC_F_TOOLS_QUEUE_FreeMemory(char** buf) {
  if (!buf) return;
  std::free(*buf);
  *buf = nullptr;
}

// Drops the oldest item without waiting and frees its slot; 1 when one was dropped.
int NPC_F_TOOLS_QUEUE_MoveData(void* queue) {
  auto* q = static_cast<Queue*>(queue);
  if (!q) return 0;
  Node* node;
  {
    std::lock_guard<std::mutex> lk(q->mu);
    node = popLocked(q);
    if (node) wakeWriterLocked(q);
  }
  if (!node) return 0;
  std::free(node);
  return 1;
}

int NPC_F_TOOLS_QUEUE_GetCount(void* queue) {
  auto* q = static_cast<Queue*>(queue);
  if (!q) return 0;
  std::lock_guard<std::mutex> lk(q->mu);
  return q->count;
}

long long NPC_F_TOOLS_QUEUE_QueryQueueDataTotalLen(void* queue) {
  auto* q = static_cast<Queue*>(queue);
  if (!q) return 0;
  std::lock_guard<std::mutex> lk(q->mu);
  return q->totalLen;
}

// Sets the keep-at-most limit (0: none). Items beyond a lowered limit stay until the next add.
int NPC_F_TOOLS_QUEUE_SetMaxStoreDataNum(void* queue, int n) {
  auto* q = static_cast<Queue*>(queue);
  if (!q || n < 0) return 0;
  std::lock_guard<std::mutex> lk(q->mu);
  q->keepAtMost = n;
  return 1;
}

void* NPC_F_TOOLS_QUEUE_GetReadEventHandle(void* queue) {
  auto* q = static_cast<Queue*>(queue);
  return q ? q->readEvent : nullptr;
}

void* NPC_F_TOOLS_QUEUE_GetWriteEventHandle(void* queue) {
  auto* q = static_cast<Queue*>(queue);
  return q ? q->writeEvent : nullptr;
}
