// The clock and random seams, bounded text, the checked reader and the per-thread last error.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <set>
#include <string>
#include <thread>

#include "runtime/clock.h"
#include "runtime/last_error.h"
#include "runtime/random.h"
#include "runtime/reader.h"
#include "runtime/text.h"
#include "test_support.h"

using korven_test::eventually;
using korven_test::FakeClock;

TEST(FakeClock, TickAndWallMoveTogetherByCrossedSeconds) {
  FakeClock clock(5000, 1000);
  EXPECT_EQ(NPC_F_SYS_GetTickCount64(), 5000);
  EXPECT_EQ(NPC_F_SYS_GetWallTime(), 1000);
  clock.advance(999);
  EXPECT_EQ(NPC_F_SYS_GetWallTime(), 1000);
  clock.advance(1);
  EXPECT_EQ(NPC_F_SYS_GetWallTime(), 1001);
  EXPECT_EQ(NPC_F_SYS_GetTickCount64(), 6000);
  clock.setWall(500);  // a wall-clock step back does not move the tick
  EXPECT_EQ(NPC_F_SYS_GetWallTime(), 500);
  EXPECT_EQ(NPC_F_SYS_GetTickCount64(), 6000);
}

TEST(FakeClock, TickWrapsAt32Bits) {
  FakeClock clock(0xFFFFFFF0ll, 0);
  clock.advance(0x20);
  EXPECT_EQ(NPC_F_SYS_GetTickCount(), 0x10u);
}

TEST(FakeClock, WaitUntilEndsOnlyWhenTheFakeDeadlinePasses) {
  FakeClock clock;
  std::mutex m;
  std::condition_variable cv;
  std::atomic<int> result{-1};
  int64_t deadline = NPC_F_SYS_GetTickCount64() + 15000;
  std::thread waiter([&] {
    std::unique_lock<std::mutex> lk(m);
    result = NPC_F_SYS_CLOCK_WaitUntil(lk, cv, deadline, [] { return false; }) ? 1 : 0;
  });
  clock.advance(14999);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(result.load(), -1);
  clock.advance(1);
  EXPECT_TRUE(eventually([&] { return result.load() == 0; }));
  waiter.join();
}

TEST(FakeClock, WaitUntilReturnsAtOnceWhenSignalled) {
  FakeClock clock;
  std::mutex m;
  std::condition_variable cv;
  bool ready = false;
  std::atomic<int> result{-1};
  std::thread waiter([&] {
    std::unique_lock<std::mutex> lk(m);
    result = NPC_F_SYS_CLOCK_WaitUntil(lk, cv, NPC_F_SYS_GetTickCount64() + 60000, [&] { return ready; }) ? 1 : 0;
  });
  {
    std::lock_guard<std::mutex> lk(m);
    ready = true;
  }
  cv.notify_all();
  EXPECT_TRUE(eventually([&] { return result.load() == 1; }));
  waiter.join();
}

TEST(FakeClock, ManyWaitersAndAdvancesNeverLoseAWakeUp) {
  FakeClock clock;
  constexpr int kThreads = 8;
  std::atomic<int> done{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      std::mutex m;
      std::condition_variable cv;
      for (int round = 0; round < 50; ++round) {
        std::unique_lock<std::mutex> lk(m);
        NPC_F_SYS_CLOCK_WaitUntil(lk, cv, NPC_F_SYS_GetTickCount64() + 1 + i % 3, [] { return false; });
      }
      ++done;
    });
  }
  EXPECT_TRUE(eventually([&] {
    clock.advance(1);
    return done.load() == kThreads;
  }, 20000));
  for (auto& t : threads) t.join();
}

TEST(RealClock, WaitUntilNeverEndsEarly) {
  for (int ms : {0, 25, 60}) {
    std::mutex m;
    std::condition_variable cv;
    std::unique_lock<std::mutex> lk(m);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(NPC_F_SYS_CLOCK_WaitUntil(lk, cv, NPC_F_SYS_GetTickCount64() + ms, [] { return false; }));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(ms)) << ms;
  }
}

TEST(FakeClock, HooksRunOnAdvanceUntilRemoved) {
  FakeClock clock;
  int calls = 0;
  int id = NPC_F_SYS_CLOCK_AddHook([](void* u) { ++*static_cast<int*>(u); }, &calls);
  ASSERT_NE(id, 0);
  clock.advance(10);
  EXPECT_EQ(calls, 1);
  NPC_F_SYS_CLOCK_RemoveHook(id);
  clock.advance(10);
  EXPECT_EQ(calls, 1);
}

TEST(Random, SeededSequencesRepeat) {
  NPC_F_SYS_RANDOM_Seed(42);
  uint64_t a = NPC_F_SYS_RANDOM_Next64(), b = NPC_F_SYS_RANDOM_Next64();
  NPC_F_SYS_RANDOM_Seed(42);
  EXPECT_EQ(NPC_F_SYS_RANDOM_Next64(), a);
  EXPECT_EQ(NPC_F_SYS_RANDOM_Next64(), b);
  EXPECT_NE(a, b);
}

TEST(Random, NewTagIsNeverZeroNorThePreviousTag) {
  for (uint32_t mask : {3u, 0xFFu, 0xFFFFu}) {
    uint32_t prev = 0;
    std::set<uint32_t> seen;
    for (int i = 0; i < 20000; ++i) {
      uint32_t t = NPC_F_SYS_RANDOM_NewTag(prev, mask);
      ASSERT_NE(t, 0u);
      ASSERT_NE(t, prev);
      ASSERT_LE(t, mask);
      seen.insert(t);
      prev = t;
    }
    if (mask == 3u) {
      EXPECT_EQ(seen.size(), 3u);
    }
  }
}

TEST(Random, BelowAndRandomNumberStayInRange) {
  for (int i = 0; i < 10000; ++i) {
    ASSERT_LT(NPC_F_SYS_RANDOM_Below(7), 7u);
    ASSERT_GE(NPC_F_SYS_GetRandomNumber(), 0);
  }
  EXPECT_EQ(NPC_F_SYS_RANDOM_Below(0), 0u);
}

struct CutCase {
  const char* text;
  size_t max;
  size_t expect;
};

TEST(Text, Utf8CutNeverSplitsACharacter) {
  const CutCase cases[] = {
      {"abc", 5, 3},
      {"abc", 2, 2},
      {"\xE4\xB8\xAD", 1, 0},                  // 中 cut inside
      {"\xE4\xB8\xAD", 2, 0},
      {"\xE4\xB8\xAD", 3, 3},
      {"a\xE4\xB8\xAD" "b", 3, 1},
      {"a\xE4\xB8\xAD" "b", 4, 4},
      {"\xF0\x9F\x98\x80x", 3, 0},             // four-byte character
      {"\xC3\xA9\xC3\xA9", 3, 2},              // é é
      {"\xD6\xD0\xCE\xC4", 1, 1},              // GB2312 bytes are not UTF-8 sequences here
      {"\x80\x80\x80\x80\x80", 2, 2},          // stray continuation bytes: plain cut
      {"\xFF\x80\x80", 2, 2},                  // invalid lead: plain cut
  };
  for (const auto& c : cases) EXPECT_EQ(NPC_F_TEXT_Utf8CutLen(c.text, strlen(c.text), c.max), c.expect) << c.text;
}

TEST(Text, BoundedCopiesAlwaysTerminate) {
  char dst[4];
  EXPECT_EQ(NPC_F_TEXT_Copy(dst, sizeof dst, "abcdef"), 3u);
  EXPECT_STREQ(dst, "abc");
  EXPECT_EQ(NPC_F_TEXT_Copy(dst, sizeof dst, "a\xE4\xB8\xAD"), 1u);  // 中 does not fit after "a"
  EXPECT_STREQ(dst, "a");
  EXPECT_EQ(NPC_F_TEXT_Copy(dst, 1, "abc"), 0u);
  EXPECT_STREQ(dst, "");
  EXPECT_EQ(NPC_F_TEXT_Copy(dst, sizeof dst, nullptr), 0u);
  const char field[6] = {'x', 'y', 'z', 'w', 'v', 'u'};  // no NUL anywhere
  EXPECT_EQ(NPC_F_TEXT_CopyN(dst, sizeof dst, field, 2), 2u);
  EXPECT_STREQ(dst, "xy");
  EXPECT_EQ(NPC_F_TEXT_CopyRaw(dst, sizeof dst, field, sizeof field), 3u);
  EXPECT_STREQ(dst, "xyz");
  EXPECT_EQ(NPC_F_TEXT_CopyRaw(dst, sizeof dst, "\xE4\xB8\xAD\xE4", 4), 3u);  // raw: bytes, no UTF-8 rule
}

TEST(Reader, ChecksEveryReadAndStaysFailed) {
  const uint8_t data[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 'h', 'i', 0, 'x'};
  NPC_S_READER r(data, sizeof data);
  EXPECT_EQ(r.u16(), 0x0201);
  EXPECT_EQ(r.u32Be(), 0x03040506u);
  char text[8];
  EXPECT_TRUE(r.text(text, sizeof text, 4));
  EXPECT_STREQ(text, "hi");
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.u32(), 0u);  // only 0 bytes left
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.u8(), 0);  // a failed reader stays failed
  EXPECT_EQ(r.pos(), 10u);

  NPC_S_READER big(data, sizeof data);
  EXPECT_FALSE(big.skip(UINT64_MAX));  // no wrap-around in the length check
  NPC_S_READER s(data, sizeof data);
  EXPECT_FALSE(s.seek(11));
  NPC_S_READER none(nullptr, 100);
  EXPECT_EQ(none.size(), 0u);
  EXPECT_EQ(none.u8(), 0);
  EXPECT_FALSE(none.ok());
}

TEST(LastError, EachThreadSeesOnlyItsOwn) {
  NPC_F_ERROR_LEI_SetLastErrorInfo(7, "main failure");
  std::thread other([] {
    int code = -1;
    char buf[32] = "junk";
    EXPECT_EQ(NPC_F_ERROR_LEI_GetLastErrorInfo(&code, buf, sizeof buf), 1);
    EXPECT_EQ(code, 0);
    EXPECT_STREQ(buf, "");
    NPC_F_ERROR_LEI_SetLastErrorInfo(9, "other");
  });
  other.join();
  int code = 0;
  char buf[32];
  EXPECT_EQ(NPC_F_ERROR_LEI_GetLastErrorInfo(&code, buf, sizeof buf), 1);
  EXPECT_EQ(code, 7);
  EXPECT_STREQ(buf, "main failure");
}

TEST(LastError, ManyThreadsNeverRunOutAndTextsAreCutAtCharacters) {
  for (int i = 0; i < 300; ++i) {
    std::thread t([i] {
      int code = -1;
      EXPECT_EQ(NPC_F_ERROR_LEI_GetLastErrorInfo(&code, nullptr, 0), 1);
      EXPECT_EQ(code, 0);  // a new thread never inherits an old error
      NPC_F_ERROR_LEI_SetLastErrorInfo(i + 1, "\xE9\x94\x99\xE8\xAF\xAF");  // 错误
      char buf[5];
      EXPECT_EQ(NPC_F_ERROR_LEI_GetLastErrorInfo(&code, buf, sizeof buf), 1);
      EXPECT_EQ(code, i + 1);
      EXPECT_STREQ(buf, "\xE9\x94\x99");
    });
    t.join();
  }
}
