// Tests of the bounded queues: order and copies, full and empty time-outs, the keep-at-most
// limit, drops that give back their slot, the read and write events (also through wait
// objects), blocking hand-over between threads and allocation failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "runtime/queue.h"
#include "runtime/thread.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

long long msSince(SteadyClock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start).count();
}

// A queue that is freed when the test ends.
struct Q {
  void* h = nullptr;
  explicit Q(int capacity) { EXPECT_EQ(NPC_F_TOOLS_QUEUE_InitQueue(&h, capacity), 1); }
  ~Q() { NPC_F_TOOLS_QUEUE_FreeQueue(&h); }
  int add(int v, int timeoutMs = 0) { return NPC_F_TOOLS_QUEUE_SetData(h, &v, sizeof v, timeoutMs); }
  // Takes every queued int without waiting.
  std::vector<int> drain() {
    std::vector<int> out;
    int v, len = sizeof v;
    while (NPC_F_TOOLS_QUEUE_GetData(h, &v, &len, 0)) {
      out.push_back(v);
      len = sizeof v;
    }
    return out;
  }
  bool readSet() { return NPC_F_THREAD_Event_Wait(NPC_F_TOOLS_QUEUE_GetReadEventHandle(h), 0) == 1; }
  bool writeSet() { return NPC_F_THREAD_Event_Wait(NPC_F_TOOLS_QUEUE_GetWriteEventHandle(h), 0) == 1; }
};

TEST(QueueTest, KeepsOrderCountsAndCopies) {
  Q q(8);
  char data[] = "hello";
  EXPECT_EQ(NPC_F_TOOLS_QUEUE_SetData(q.h, data, 5, 0), 1);
  data[0] = 'X';  // the queue holds its own copy
  EXPECT_EQ(NPC_F_TOOLS_QUEUE_SetData(q.h, data, 0, 0), 1);  // empty items are items
  EXPECT_EQ(NPC_F_TOOLS_QUEUE_SetData(q.h, "abc", 3, 0), 1);
  EXPECT_EQ(NPC_F_TOOLS_QUEUE_GetCount(q.h), 3);
  EXPECT_EQ(NPC_F_TOOLS_QUEUE_QueryQueueDataTotalLen(q.h), 8);

  char buf[16];
  int len = sizeof buf;
  ASSERT_EQ(NPC_F_TOOLS_QUEUE_GetData(q.h, buf, &len, 0), 1);
  EXPECT_EQ(std::string(buf, len), "hello");
  len = sizeof buf;
  ASSERT_EQ(NPC_F_TOOLS_QUEUE_GetData(q.h, buf, &len, 0), 1);
  EXPECT_EQ(len, 0);
  len = sizeof buf;
  ASSERT_EQ(NPC_F_TOOLS_QUEUE_GetData(q.h, buf, &len, 0), 1);
  EXPECT_EQ(std::string(buf, len), "abc");
  EXPECT_EQ(NPC_F_TOOLS_QUEUE_GetCount(q.h), 0);
  EXPECT_EQ(NPC_F_TOOLS_QUEUE_QueryQueueDataTotalLen(q.h), 0);
}

TEST(QueueTest, InvalidArgumentsAndNullHandles) {
  void* h = reinterpret_cast<void*>(1);
  EXPECT_EQ(NPC_F_TOOLS_QUEUE_InitQueue(&h, 0), 0);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(NPC_F_TOOLS_QUEUE_InitQueue(nullptr, 4), 0);
  Q q(2);
  int v = 1, len = 4;
  char* buf = nullptr;
  int cap = 0;
  EXPECT_EQ(NPC_F_TOOLS_QUEUE_SetData(q.h, nullptr, 4, 0), 0);
  EXPECT_EQ(NPC_F_TOOLS_QUEUE_SetData(q.h, &v, -1, 0), 0);
  EXPECT_EQ(NPC_F_TOOLS_QUEUE_GetData(q.h, &v, nullptr, 0), 0);
  q.add(5);
  EXPECT_EQ(NPC_F_TOOLS_QUEUE_GetData(q.h, nullptr, &len, 0), 0);
  EXPECT_EQ(q.drain(), (std::vector<int>{5}));  // the invalid take left the item alone
  EXPECT_EQ(NPC_F_TOOLS_QUEUE_SetMaxStoreDataNum(q.h, -1), 0);

  EXPECT_EQ(NPC_F_TOOLS_QUEUE_SetData(nullptr, &v, 4, 10), 0);
  EXPECT_EQ(NPC_F_TOOLS_QUEUE_GetData(nullptr, &v, &len, 10), 0);
  EXPECT_EQ(NPC_F_TOOLS_QUEUE_GetDataEx(nullptr, &buf, &len, &cap, 10), 0);
  EXPECT_EQ(NPC_F_TOOLS_QUEUE_MoveData(nullptr), 0);
  EXPECT_EQ(NPC_F_TOOLS_QUEUE_GetCount(nullptr), 0);
  EXPECT_EQ(NPC_F_TOOLS_QUEUE_QueryQueueDataTotalLen(nullptr), 0);
  EXPECT_EQ(NPC_F_TOOLS_QUEUE_SetMaxStoreDataNum(nullptr, 1), 0);
  EXPECT_EQ(NPC_F_TOOLS_QUEUE_GetReadEventHandle(nullptr), nullptr);
  EXPECT_EQ(NPC_F_TOOLS_QUEUE_GetWriteEventHandle(nullptr), nullptr);
  void* none = nullptr;
  NPC_F_TOOLS_QUEUE_FreeQueue(&none);
  NPC_F_TOOLS_QUEUE_FreeQueue(nullptr);
}

// A full queue refuses an add, and an empty one a take, only after the whole time-out.
TEST(QueueTest, TimeoutsOnFullAndEmptyNeverEndEarly) {
  Q q(2);
  ASSERT_EQ(q.add(1), 1);
  ASSERT_EQ(q.add(2), 1);
  Q empty(2);
  for (int timeoutMs : {0, 25, 100}) {
    SCOPED_TRACE(testing::Message() << timeoutMs << " ms");
    auto start = SteadyClock::now();
    EXPECT_EQ(q.add(3, timeoutMs), 0);
    EXPECT_GE(msSince(start), timeoutMs);

    int v, len = sizeof v;
    start = SteadyClock::now();
    EXPECT_EQ(NPC_F_TOOLS_QUEUE_GetData(empty.h, &v, &len, timeoutMs), 0);
    EXPECT_GE(msSince(start), timeoutMs);
    char* buf = nullptr;
    int cap = 0;
    start = SteadyClock::now();
    EXPECT_EQ(NPC_F_TOOLS_QUEUE_GetDataEx(empty.h, &buf, &len, &cap, timeoutMs), 0);
    EXPECT_GE(msSince(start), timeoutMs);
    NPC_F_TOOLS_QUEUE_FreeMemory(&buf);
  }
  EXPECT_EQ(q.drain(), (std::vector<int>{1, 2}));
}

// The keep-at-most limit is tested before any wait for a slot: an add at the limit drops the
// oldest item instead of waiting, including a limit equal to the capacity.
TEST(QueueTest, KeepAtMostLimitDropsTheOldest) {
  struct Case {
    int capacity, limit, adds;
    std::vector<int> accepted;  // SetData results with time-out 0
    std::vector<int> kept;
  };
  const Case cases[] = {
      {2, 2, 3, {1, 1, 1}, {2, 3}},        // limit equal to the capacity
      {5, 2, 4, {1, 1, 1, 1}, {3, 4}},     // limit below the capacity
      {4, 1, 3, {1, 1, 1}, {3}},           // keep only the newest
      {2, 3, 3, {1, 1, 0}, {1, 2}},        // limit above the capacity: the queue fills up
      {2, 0, 3, {1, 1, 0}, {1, 2}},        // no limit
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "capacity " << c.capacity << " limit " << c.limit);
    Q q(c.capacity);
    EXPECT_EQ(NPC_F_TOOLS_QUEUE_SetMaxStoreDataNum(q.h, c.limit), 1);
    std::vector<int> accepted;
    for (int i = 1; i <= c.adds; ++i) accepted.push_back(q.add(i));
    EXPECT_EQ(accepted, c.accepted);
    EXPECT_EQ(NPC_F_TOOLS_QUEUE_GetCount(q.h), static_cast<int>(c.kept.size()));
    EXPECT_EQ(NPC_F_TOOLS_QUEUE_QueryQueueDataTotalLen(q.h), static_cast<long long>(c.kept.size() * sizeof(int)));
    EXPECT_EQ(q.drain(), c.kept);
  }
}

TEST(QueueTest, AcceptsAddsAfterAnyNumberOfDrops) {
  Q q(3);
  NPC_F_TOOLS_QUEUE_SetMaxStoreDataNum(q.h, 3);
  for (int i = 1; i <= 10000; ++i) ASSERT_EQ(q.add(i), 1) << i;
  EXPECT_EQ(q.drain(), (std::vector<int>{9998, 9999, 10000}));
  EXPECT_TRUE(q.writeSet());
  // Lowering the limit below the count drops down to it at the next add.
  for (int i = 1; i <= 3; ++i) q.add(i);
  NPC_F_TOOLS_QUEUE_SetMaxStoreDataNum(q.h, 1);
  EXPECT_EQ(q.add(4), 1);
  EXPECT_EQ(q.drain(), (std::vector<int>{4}));
}

// Every way an item leaves without being delivered gives its slot back: a full queue of
// capacity 1 accepts the next add at once.
TEST(QueueTest, DroppedItemsGiveBackTheirSlot) {
  Q q(1);
  const std::string big(100, 'x');

  // GetData into a buffer too small: 0, and the item is gone.
  ASSERT_EQ(NPC_F_TOOLS_QUEUE_SetData(q.h, big.data(), 100, 0), 1);
  EXPECT_FALSE(q.writeSet());
  char small[10];
  int len = sizeof small;
  EXPECT_EQ(NPC_F_TOOLS_QUEUE_GetData(q.h, small, &len, 0), 0);
  EXPECT_EQ(NPC_F_TOOLS_QUEUE_GetCount(q.h), 0);
  EXPECT_TRUE(q.writeSet());
  EXPECT_FALSE(q.readSet());

  // MoveData.
  ASSERT_EQ(q.add(7), 1);
  EXPECT_EQ(NPC_F_TOOLS_QUEUE_MoveData(q.h), 1);
  EXPECT_EQ(NPC_F_TOOLS_QUEUE_MoveData(q.h), 0);
  EXPECT_EQ(q.add(8), 1);
  EXPECT_EQ(q.drain(), (std::vector<int>{8}));

  // A writer already waiting for the slot is woken by the drop.
  ASSERT_EQ(NPC_F_TOOLS_QUEUE_SetData(q.h, big.data(), 100, 0), 1);
  std::atomic<int> added{-1};
  std::thread writer([&] { added = q.add(9, 20000); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  len = sizeof small;
  EXPECT_EQ(NPC_F_TOOLS_QUEUE_GetData(q.h, small, &len, 0), 0);
  writer.join();
  EXPECT_EQ(added.load(), 1);
  EXPECT_EQ(q.drain(), (std::vector<int>{9}));
}

TEST(QueueTest, GetDataExGrowsOrReusesTheCallersBuffer) {
  Q q(4);
  const std::string a(50, 'a'), b(20, 'b'), c(200, 'c');
  for (const std::string* s : {&a, &b, &c}) NPC_F_TOOLS_QUEUE_SetData(q.h, s->data(), static_cast<int>(s->size()), 0);

  char* buf = nullptr;
  int len = 0, cap = 0;
  ASSERT_EQ(NPC_F_TOOLS_QUEUE_GetDataEx(q.h, &buf, &len, &cap, 0), 1);
  EXPECT_EQ(std::string(buf, len), a);
  EXPECT_EQ(cap, 60);  // the item's length + 10
  char* first = buf;
  ASSERT_EQ(NPC_F_TOOLS_QUEUE_GetDataEx(q.h, &buf, &len, &cap, 0), 1);
  EXPECT_EQ(std::string(buf, len), b);
  EXPECT_EQ(buf, first);  // large enough: reused
  EXPECT_EQ(cap, 60);

  // When the larger buffer cannot be had, the item stays queued for the next try.
  NPC_F_THREAD_TEST_FailNext("NPC_F_TOOLS_QUEUE_GetDataEx malloc", 1);
  EXPECT_EQ(NPC_F_TOOLS_QUEUE_GetDataEx(q.h, &buf, &len, &cap, 0), 0);
  EXPECT_EQ(NPC_F_TOOLS_QUEUE_GetCount(q.h), 1);
  ASSERT_EQ(NPC_F_TOOLS_QUEUE_GetDataEx(q.h, &buf, &len, &cap, 0), 1);
  EXPECT_EQ(std::string(buf, len), c);
  EXPECT_EQ(cap, 210);
  NPC_F_TOOLS_QUEUE_FreeMemory(&buf);
  EXPECT_EQ(buf, nullptr);
}

// The read event is set exactly while items are queued and the write event exactly while
// there is room, through every operation.
TEST(QueueTest, EventsFollowTheCount) {
  Q q(2);
  NPC_F_TOOLS_QUEUE_SetMaxStoreDataNum(q.h, 0);
  struct Step {
    const char* op;
    bool read, write;
  };
  const Step steps[] = {
      {"init", false, true}, {"add", true, true},  {"add", true, false}, {"take", true, true},
      {"add", true, false},  {"move", true, true}, {"take", false, true}, {"move", false, true},
      {"limit2", false, true}, {"add", true, true}, {"add", true, false}, {"add", true, false},
      {"take", true, true},  {"take", false, true},
  };
  int next = 0;
  for (const Step& s : steps) {
    const std::string op = s.op;
    if (op == "add") {
      EXPECT_EQ(q.add(++next), 1);
    } else if (op == "take") {
      int v, len = sizeof v;
      EXPECT_EQ(NPC_F_TOOLS_QUEUE_GetData(q.h, &v, &len, 0), 1);
    } else if (op == "move") {
      NPC_F_TOOLS_QUEUE_MoveData(q.h);
    } else if (op == "limit2") {
      NPC_F_TOOLS_QUEUE_SetMaxStoreDataNum(q.h, 2);
    }
    SCOPED_TRACE(testing::Message() << "after " << op << ", count " << NPC_F_TOOLS_QUEUE_GetCount(q.h));
    EXPECT_EQ(q.readSet(), s.read);
    EXPECT_EQ(q.writeSet(), s.write);
  }
}

// A consumer may sleep on a wait object over the queue's read event (and a producer over the
// write event); an add from another thread wakes it at once.
TEST(QueueTest, WaitObjectsWakeOnTheQueueEvents) {
  Q q(1);
  void* wo = NPC_F_THREAD_WaitObj_Create();
  NPC_F_THREAD_WaitObj_AddEvent(wo, NPC_F_TOOLS_QUEUE_GetWriteEventHandle(q.h));
  NPC_F_THREAD_WaitObj_AddEvent(wo, NPC_F_TOOLS_QUEUE_GetReadEventHandle(q.h));
  void* readOnly = NPC_F_THREAD_WaitObj_Create();
  NPC_F_THREAD_WaitObj_AddEvent(readOnly, NPC_F_TOOLS_QUEUE_GetReadEventHandle(q.h));

  EXPECT_EQ(NPC_F_THREAD_WaitObj_WaitEvent(wo, 0, 0), 0);  // room for a write
  EXPECT_EQ(NPC_F_THREAD_WaitObj_WaitEvent(readOnly, 0, 0), -1);
  std::thread producer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    q.add(5);
  });
  auto start = SteadyClock::now();
  EXPECT_EQ(NPC_F_THREAD_WaitObj_WaitEvent(readOnly, 0, 20000), 0);
  EXPECT_LT(msSince(start), 5000);
  producer.join();
  // Full: the write event is down, the read event up; a wait-all over both cannot succeed.
  EXPECT_EQ(NPC_F_THREAD_WaitObj_WaitEvent(wo, 0, 0), 1);
  EXPECT_EQ(NPC_F_THREAD_WaitObj_WaitEvent(wo, 1, 30), -1);
  NPC_F_THREAD_WaitObj_Destroy(wo);
  NPC_F_THREAD_WaitObj_Destroy(readOnly);
}

TEST(QueueTest, BlockedReaderAndWriterAreWokenAtOnce) {
  Q q(1);
  std::atomic<int> got{0};
  std::thread reader([&] {
    int v = 0, len = sizeof v;
    if (NPC_F_TOOLS_QUEUE_GetData(q.h, &v, &len, 20000)) got = v;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  auto start = SteadyClock::now();
  q.add(11);
  reader.join();
  EXPECT_EQ(got.load(), 11);
  EXPECT_LT(msSince(start), 5000);

  q.add(12);
  std::atomic<int> added{-1};
  std::thread writer([&] { added = q.add(13, 20000); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  start = SteadyClock::now();
  int v = 0, len = sizeof v;
  EXPECT_EQ(NPC_F_TOOLS_QUEUE_GetData(q.h, &v, &len, 0), 1);
  EXPECT_EQ(v, 12);
  writer.join();
  EXPECT_EQ(added.load(), 1);
  EXPECT_LT(msSince(start), 5000);
  EXPECT_EQ(q.drain(), (std::vector<int>{13}));
}

// Several producers and two consumers through a small queue: every item arrives exactly once
// and each producer's items arrive in order.
TEST(QueueTest, ManyProducersAndConsumersLoseNothing) {
  constexpr int kProducers = 3, kItems = 4000;
  Q q(8);
  std::vector<std::thread> threads;
  for (int p = 0; p < kProducers; ++p) {
    threads.emplace_back([&, p] {
      for (int i = 0; i < kItems; ++i) {
        const int item[2] = {p, i};
        while (!NPC_F_TOOLS_QUEUE_SetData(q.h, item, sizeof item, 1000)) {
        }
      }
    });
  }
  std::vector<std::vector<int>> seen(2 * kProducers);
  std::atomic<int> remaining{kProducers * kItems};
  for (int c = 0; c < 2; ++c) {
    threads.emplace_back([&, c] {
      char* buf = nullptr;
      int len = 0, cap = 0;
      while (remaining.load() > 0) {
        if (!NPC_F_TOOLS_QUEUE_GetDataEx(q.h, &buf, &len, &cap, 50)) continue;
        int item[2];
        std::memcpy(item, buf, sizeof item);
        seen[c * kProducers + item[0]].push_back(item[1]);
        --remaining;
      }
      NPC_F_TOOLS_QUEUE_FreeMemory(&buf);
    });
  }
  for (auto& t : threads) t.join();
  for (int p = 0; p < kProducers; ++p) {
    std::vector<int> merged;
    for (int c = 0; c < 2; ++c) {
      const auto& s = seen[c * kProducers + p];
      for (size_t i = 1; i < s.size(); ++i) ASSERT_LT(s[i - 1], s[i]) << "producer " << p << " out of order";
      merged.insert(merged.end(), s.begin(), s.end());
    }
    std::sort(merged.begin(), merged.end());
    ASSERT_EQ(merged.size(), static_cast<size_t>(kItems));
    for (int i = 0; i < kItems; ++i) ASSERT_EQ(merged[i], i);
  }
  EXPECT_EQ(NPC_F_TOOLS_QUEUE_GetCount(q.h), 0);
}

// An add whose copy cannot be allocated fails and leaves the queue as it was; a queue whose
// parts cannot all be made is not made at all.
TEST(QueueTest, AllocationFailuresLeaveNothingHalfBuilt) {
  Q q(2);
  q.add(1);
  NPC_F_THREAD_TEST_FailNext("NPC_F_TOOLS_QUEUE_SetData malloc", 1);
  EXPECT_EQ(q.add(2), 0);
  EXPECT_EQ(NPC_F_TOOLS_QUEUE_GetCount(q.h), 1);
  EXPECT_EQ(NPC_F_TOOLS_QUEUE_QueryQueueDataTotalLen(q.h), 4);
  EXPECT_EQ(q.add(3), 1);
  EXPECT_EQ(q.drain(), (std::vector<int>{1, 3}));

  struct Case {
    const char* point;
    int times;
  };
  const Case cases[] = {
      {"NPC_F_TOOLS_QUEUE_InitQueue malloc", 1},
      {"NPC_F_THREAD_Event_Create malloc", 1},  // the read event
      {"NPC_F_THREAD_Event_Create malloc", 2},  // both events
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.point);
    NPC_F_THREAD_TEST_FailNext(c.point, c.times);
    void* h = reinterpret_cast<void*>(1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(NPC_F_TOOLS_QUEUE_InitQueue(&h, 4), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(h, nullptr);
    NPC_F_THREAD_TEST_FailNext(c.point, 0);
  }
}

}  // namespace
