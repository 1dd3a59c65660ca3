// The frame, alarm and pass-through lists: capacity rules (a full frame list drops and still
// reports success, a full alarm list refuses), refused arguments, typed pulls that keep the
// other kind in order, per-type counts and the newest timestamps, frames without data, waits
// that end as soon as an item arrives, and a writer and readers on different threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "camera/frame_list.h"
#include "runtime/thread.h"
#include "test_support.h"

namespace {

using korven_test::LogCapture;

NPC_S_MON_MEDIA_FRAME_HEAD head(int mediaType, int timestamp, int playPos = 0) {
  NPC_S_MON_MEDIA_FRAME_HEAD h{};
  h.iMediaType = mediaType;
  h.iTimestamp = timestamp;
  h.iPlayPos = playPos;
  return h;
}

// Adds a frame of a kind whose data is its timestamp as text.
int addFrame(NPC_H_VPI_TOOLS_MFL l, int mediaType, int timestamp, int playPos = 0) {
  const NPC_S_MON_MEDIA_FRAME_HEAD h = head(mediaType, timestamp, playPos);
  const std::string data = "frame-" + std::to_string(timestamp);
  return NPC_F_VPI_TOOLS_MFL_AddFrameData(l, &h, data.data(), static_cast<int>(data.size()));
}

// Takes frames with a getter until none is left and returns their timestamps.
template <typename Take>
std::vector<int> drain(Take take) {
  std::vector<int> out;
  while (NPC_S_MPI_MON_MEDIA_FRAME* f = take()) {
    out.push_back(f->tFrameHead.iTimestamp);
    NPC_F_VPI_TOOLS_MFL_ReleaseFrame(f);
  }
  return out;
}

struct FrameList {
  NPC_H_VPI_TOOLS_MFL l;
  explicit FrameList(int capacity = NPC_D_VPI_TOOLS_MFL_CAMERA_CAPACITY)
      : l(NPC_F_VPI_TOOLS_MFL_CreateFrameList(capacity)) {}
  ~FrameList() { NPC_F_VPI_TOOLS_MFL_ReleaseFrameList(l); }
};

int64_t msSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
}

TEST(FrameList, FullListDropsTheArrivingFrameAndStillReportsSuccess) {
  FrameList fl;
  for (int i = 1; i <= 1024; ++i) ASSERT_EQ(addFrame(fl.l, 0, i), 1);
  EXPECT_EQ(addFrame(fl.l, 0, 1025), 1);
  EXPECT_EQ(NPC_F_VPI_TOOLS_MFL_GetNodeNum(fl.l), 1024);
  EXPECT_EQ(NPC_F_VPI_TOOLS_MFL_GetFrameNum(fl.l, 1), 1024);
  // The dropped frame left no trace, not even in the newest timestamp.
  EXPECT_EQ(NPC_F_VPI_TOOLS_MFL_GetFrameTimestamp(fl.l, 1), 1024);
  std::vector<int> got = drain([&] { return NPC_F_VPI_TOOLS_MFL_GetFrameData(fl.l, 0); });
  ASSERT_EQ(got.size(), 1024u);
  EXPECT_EQ(got.front(), 1);
  EXPECT_EQ(got.back(), 1024);
  // Room again: the next frame is taken.
  EXPECT_EQ(addFrame(fl.l, 0, 2000), 1);
  EXPECT_EQ(NPC_F_VPI_TOOLS_MFL_GetNodeNum(fl.l), 1);
}

TEST(FrameList, RefusedArgumentsLeaveTheListAsItWas) {
  LogCapture log;
  FrameList fl;
  const NPC_S_MON_MEDIA_FRAME_HEAD h = head(0, 7);
  const char data[4] = {1, 2, 3, 4};
  struct Case {
    const char* what;
    NPC_H_VPI_TOOLS_MFL list;
    const NPC_S_MON_MEDIA_FRAME_HEAD* head;
    const void* data;
    int length;
    const char* logged;
  } cases[] = {
      {"null list", nullptr, &h, data, 4, "NPC_F_VPI_TOOLS_MFL_AddFrameData in_hFrameList is NULL."},
      {"negative length", fl.l, &h, data, -1, "NPC_F_VPI_TOOLS_MFL_AddFrameData in_iMediaDataLen < 0."},
      {"negative length, no data", fl.l, &h, nullptr, -5, "NPC_F_VPI_TOOLS_MFL_AddFrameData in_iMediaDataLen < 0."},
      {"null data with a length", fl.l, &h, nullptr, 4, "NPC_F_VPI_TOOLS_MFL_AddFrameData in_pMediaData is NULL."},
      {"null head", fl.l, nullptr, data, 4, "NPC_F_VPI_TOOLS_MFL_AddFrameData in_pMediaData is NULL."},
  };
  for (const Case& c : cases) {
    log.clear();
    EXPECT_EQ(NPC_F_VPI_TOOLS_MFL_AddFrameData(c.list, c.head, c.data, c.length), 0) << c.what;
    EXPECT_TRUE(log.contains(c.logged)) << c.what;
  }
  EXPECT_EQ(NPC_F_VPI_TOOLS_MFL_GetNodeNum(fl.l), 0);
  EXPECT_EQ(NPC_F_VPI_TOOLS_MFL_GetFrameTimestamp(fl.l, 1), 0);
}

TEST(FrameList, MemoryFailureFailsTheAddAndKeepsTheList) {
  LogCapture log;
  FrameList fl;
  ASSERT_EQ(addFrame(fl.l, 0, 1), 1);
  NPC_F_THREAD_TEST_FailNext("NPC_F_VPI_TOOLS_MFL_AddFrameData malloc", 1);
  EXPECT_EQ(addFrame(fl.l, 0, 2), 0);
  EXPECT_TRUE(log.contains("NPC_F_VPI_TOOLS_MFL_AddFrameData malloc fail."));
  EXPECT_EQ(NPC_F_VPI_TOOLS_MFL_GetNodeNum(fl.l), 1);
  EXPECT_EQ(NPC_F_VPI_TOOLS_MFL_GetFrameTimestamp(fl.l, 1), 1);
}

TEST(FrameList, FrameWithoutDataHasAZeroedBufferAndLengthZero) {
  FrameList fl;
  const NPC_S_MON_MEDIA_FRAME_HEAD h = head(0, 5);
  ASSERT_EQ(NPC_F_VPI_TOOLS_MFL_AddFrameData(fl.l, &h, nullptr, 0), 1);
  NPC_S_MPI_MON_MEDIA_FRAME* f = NPC_F_VPI_TOOLS_MFL_GetFrameData(fl.l, 0);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->iFrameDataLen, 0);
  ASSERT_NE(f->pFrameData, nullptr);
  for (int i = 0; i < NPC_D_VPI_TOOLS_MFL_EMPTY_DATA_SIZE; ++i) EXPECT_EQ(f->pFrameData[i], 0);
  NPC_F_VPI_TOOLS_MFL_ReleaseFrame(f);
}

TEST(FrameList, CopiesHeadAndDataWithAZeroByteBehind) {
  FrameList fl;
  NPC_S_MON_MEDIA_FRAME_HEAD h = head(0, 42);
  h.iVideoFrameType = 1;
  h.iVideoWidth = 640;
  std::vector<uint8_t> data = {0, 0, 0, 1, 0x65, 0xAA};
  ASSERT_EQ(NPC_F_VPI_TOOLS_MFL_AddFrameData(fl.l, &h, data.data(), static_cast<int>(data.size())), 1);
  data[4] = 0;  // the list holds its own copy
  NPC_S_MPI_MON_MEDIA_FRAME* f = NPC_F_VPI_TOOLS_MFL_GetFrameData(fl.l, 0);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(memcmp(&f->tFrameHead, &h, sizeof h), 0);
  ASSERT_EQ(f->iFrameDataLen, 6);
  EXPECT_EQ(std::vector<uint8_t>(f->pFrameData, f->pFrameData + 6), (std::vector<uint8_t>{0, 0, 0, 1, 0x65, 0xAA}));
  EXPECT_EQ(f->pFrameData[6], 0);
  NPC_F_VPI_TOOLS_MFL_ReleaseFrame(f);
}

TEST(FrameList, TypedPullTakesTheOldestOfItsKindAndKeepsTheOthersInOrder) {
  FrameList fl;
  addFrame(fl.l, 0, 1);
  addFrame(fl.l, 0, 2);
  addFrame(fl.l, 0, 3);
  addFrame(fl.l, 1, 4);
  addFrame(fl.l, 0, 5);
  addFrame(fl.l, 1, 6);
  NPC_S_MPI_MON_MEDIA_FRAME* a = NPC_F_VPI_TOOLS_MFL_GetSpecTypeFrameData(fl.l, 2);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->tFrameHead.iTimestamp, 4);
  NPC_F_VPI_TOOLS_MFL_ReleaseFrame(a);
  EXPECT_EQ(NPC_F_VPI_TOOLS_MFL_GetFrameNum(fl.l, 2), 1);
  EXPECT_EQ(NPC_F_VPI_TOOLS_MFL_GetFrameNum(fl.l, 1), 4);
  // The last frame is taken from the tail: a later add must still link behind the new tail.
  a = NPC_F_VPI_TOOLS_MFL_GetSpecTypeFrameData(fl.l, 2);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->tFrameHead.iTimestamp, 6);
  NPC_F_VPI_TOOLS_MFL_ReleaseFrame(a);
  addFrame(fl.l, 1, 7);
  EXPECT_EQ(drain([&] { return NPC_F_VPI_TOOLS_MFL_GetSpecTypeFrameData(fl.l, 1); }), (std::vector<int>{1, 2, 3, 5}));
  EXPECT_EQ(drain([&] { return NPC_F_VPI_TOOLS_MFL_GetSpecTypeFrameData(fl.l, 0); }), (std::vector<int>{7}));
  EXPECT_EQ(NPC_F_VPI_TOOLS_MFL_GetFrameNum(fl.l, 0), 0);
}

TEST(FrameList, TypedPullOfAMissingKindGivesNullAndZeroesThatCount) {
  FrameList fl;
  addFrame(fl.l, 0, 1);
  addFrame(fl.l, 0, 2);
  EXPECT_EQ(NPC_F_VPI_TOOLS_MFL_GetSpecTypeFrameData(fl.l, 2), nullptr);
  EXPECT_EQ(NPC_F_VPI_TOOLS_MFL_GetFrameNum(fl.l, 2), 0);
  EXPECT_EQ(NPC_F_VPI_TOOLS_MFL_GetSpecTypeFrameData(fl.l, 3), nullptr);
  EXPECT_EQ(NPC_F_VPI_TOOLS_MFL_GetSpecTypeFrameData(fl.l, -1), nullptr);
  EXPECT_EQ(NPC_F_VPI_TOOLS_MFL_GetNodeNum(fl.l), 2);
}

TEST(FrameList, CountsAndNewestTimestampsFollowEveryAddAndTake) {
  FrameList fl;
  addFrame(fl.l, 0, 10, 100);
  addFrame(fl.l, 1, 11);
  addFrame(fl.l, 100, 12);
  addFrame(fl.l, 0, 13, 130);
  addFrame(fl.l, 1, 14);
  struct Expect {
    int type;
    int num;
    int timestamp;
  } table[] = {{0, 5, 0}, {1, 2, 13}, {2, 2, 14}, {7, 0, 0}};
  for (const Expect& e : table) {
    EXPECT_EQ(NPC_F_VPI_TOOLS_MFL_GetFrameNum(fl.l, e.type), e.num) << e.type;
    EXPECT_EQ(NPC_F_VPI_TOOLS_MFL_GetFrameTimestamp(fl.l, e.type), e.timestamp) << e.type;
  }
  EXPECT_EQ(NPC_F_VPI_TOOLS_MFL_GetMarkerNum(fl.l), 1);
  EXPECT_EQ(NPC_F_VPI_TOOLS_MFL_RP_GetLastPlayPos(fl.l), 130);
  // Taking frames lowers the counts by kind, the marker included; the newest timestamps stay.
  EXPECT_EQ(drain([&] { return NPC_F_VPI_TOOLS_MFL_GetFrameData(fl.l, 0); }), (std::vector<int>{10, 11, 12, 13, 14}));
  EXPECT_EQ(NPC_F_VPI_TOOLS_MFL_GetFrameNum(fl.l, 1), 0);
  EXPECT_EQ(NPC_F_VPI_TOOLS_MFL_GetMarkerNum(fl.l), 0);
  EXPECT_EQ(NPC_F_VPI_TOOLS_MFL_GetFrameTimestamp(fl.l, 1), 13);
  EXPECT_EQ(NPC_F_VPI_TOOLS_MFL_GetFrameTimestamp(fl.l, 2), 14);
}

TEST(FrameList, ClearZeroesTheCountsButKeepsTimestampsAndPlayPosition) {
  FrameList fl;
  addFrame(fl.l, 0, 20, 200);
  addFrame(fl.l, 1, 21);
  addFrame(fl.l, 100, 22);
  NPC_F_VPI_TOOLS_MFL_ClearListData(fl.l);
  for (int type = 0; type <= 2; ++type) EXPECT_EQ(NPC_F_VPI_TOOLS_MFL_GetFrameNum(fl.l, type), 0);
  EXPECT_EQ(NPC_F_VPI_TOOLS_MFL_GetMarkerNum(fl.l), 0);
  EXPECT_EQ(NPC_F_VPI_TOOLS_MFL_GetFrameData(fl.l, 0), nullptr);
  EXPECT_EQ(NPC_F_VPI_TOOLS_MFL_GetFrameTimestamp(fl.l, 1), 20);
  EXPECT_EQ(NPC_F_VPI_TOOLS_MFL_GetFrameTimestamp(fl.l, 2), 21);
  EXPECT_EQ(NPC_F_VPI_TOOLS_MFL_RP_GetLastPlayPos(fl.l), 200);
}

TEST(FrameList, OtherAddAndTakeLeaveTypeCountsAndTimestampsAlone) {
  FrameList fl(NPC_D_VPI_TOOLS_MFL_DOWNLOAD_CAPACITY);
  const NPC_S_MON_MEDIA_FRAME_HEAD v = head(0, 30);
  const NPC_S_MON_MEDIA_FRAME_HEAD a = head(1, 31);
  ASSERT_EQ(NPC_F_VPI_TOOLS_MFL_OTH_AddFrameData(fl.l, &v, "x", 1), 1);
  ASSERT_EQ(NPC_F_VPI_TOOLS_MFL_OTH_AddFrameData(fl.l, &a, "y", 1), 1);
  EXPECT_EQ(NPC_F_VPI_TOOLS_MFL_GetNodeNum(fl.l), 2);
  EXPECT_EQ(NPC_F_VPI_TOOLS_MFL_GetFrameNum(fl.l, 1), 0);
  EXPECT_EQ(NPC_F_VPI_TOOLS_MFL_GetFrameTimestamp(fl.l, 1), 0);
  EXPECT_EQ(drain([&] { return NPC_F_VPI_TOOLS_MFL_OTH_GetFrameData(fl.l, 0); }), (std::vector<int>{30, 31}));
}

TEST(FrameList, UpdateFrameRateTouchesOnlyVideoFramesAtThatPosition) {
  FrameList fl;
  addFrame(fl.l, 0, 1, 5);
  addFrame(fl.l, 1, 2, 5);
  addFrame(fl.l, 0, 3, 6);
  NPC_F_VPI_TOOLS_MFL_RP_UpdateVFrameRate(fl.l, 5, 25);
  std::vector<int> rates;
  while (NPC_S_MPI_MON_MEDIA_FRAME* f = NPC_F_VPI_TOOLS_MFL_GetFrameData(fl.l, 0)) {
    rates.push_back(f->tFrameHead.iVideoFrameRate);
    NPC_F_VPI_TOOLS_MFL_ReleaseFrame(f);
  }
  EXPECT_EQ(rates, (std::vector<int>{25, 0, 0}));
}

TEST(FrameList, WaitOfZeroOnAnEmptyListReturnsAtOnce) {
  FrameList fl;
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(NPC_F_VPI_TOOLS_MFL_GetFrameData(fl.l, 0), nullptr);
  EXPECT_EQ(NPC_F_VPI_TOOLS_MFL_GetFrameData(fl.l, -5), nullptr);
  EXPECT_LT(msSince(t0), 1000);
}

TEST(FrameList, WaitingReaderWakesWhenAFrameArrivesAndNotAtItsDeadline) {
  FrameList fl;
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    addFrame(fl.l, 0, 99);
  });
  const auto t0 = std::chrono::steady_clock::now();
  NPC_S_MPI_MON_MEDIA_FRAME* f = NPC_F_VPI_TOOLS_MFL_GetFrameData(fl.l, 20000);
  const int64_t took = msSince(t0);
  writer.join();
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->tFrameHead.iTimestamp, 99);
  EXPECT_LT(took, 10000);  // woke with the frame, far before its 20 s ceiling
  NPC_F_VPI_TOOLS_MFL_ReleaseFrame(f);
}

TEST(FrameList, OfTwoReadersOnlyOneGetsTheFrameAndTheOtherWaitsOutItsTime) {
  FrameList fl;
  std::atomic<int> got{0}, none{0};
  auto reader = [&] {
    NPC_S_MPI_MON_MEDIA_FRAME* f = NPC_F_VPI_TOOLS_MFL_GetFrameData(fl.l, 300);
    if (f) {
      ++got;
      NPC_F_VPI_TOOLS_MFL_ReleaseFrame(f);
    } else {
      ++none;
    }
  };
  std::thread r1(reader), r2(reader);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  addFrame(fl.l, 0, 1);
  r1.join();
  r2.join();
  EXPECT_EQ(got.load(), 1);
  EXPECT_EQ(none.load(), 1);
}

TEST(FrameList, WriterAndReadersOnOtherThreadsLoseNothingAndKeepOrder) {
  FrameList fl(4096);
  constexpr int kFrames = 20000;
  std::atomic<bool> done{false};
  std::vector<int> seen[2];
  auto reader = [&](int i) {
    for (;;) {
      NPC_S_MPI_MON_MEDIA_FRAME* f = NPC_F_VPI_TOOLS_MFL_GetFrameData(fl.l, 50);
      if (!f) {
        if (done && NPC_F_VPI_TOOLS_MFL_GetNodeNum(fl.l) == 0) return;
        continue;
      }
      seen[i].push_back(f->tFrameHead.iTimestamp);
      NPC_F_VPI_TOOLS_MFL_ReleaseFrame(f);
    }
  };
  std::thread r0(reader, 0), r1(reader, 1);
  for (int i = 0; i < kFrames; ++i) {
    // The writer never waits: slow down instead of letting the list fill and drop.
    while (NPC_F_VPI_TOOLS_MFL_GetNodeNum(fl.l) >= 4000) std::this_thread::yield();
    ASSERT_EQ(addFrame(fl.l, i % 2, i), 1);
  }
  done = true;
  r0.join();
  r1.join();
  EXPECT_EQ(seen[0].size() + seen[1].size(), static_cast<size_t>(kFrames));
  for (const auto& s : seen)
    for (size_t k = 1; k < s.size(); ++k) ASSERT_LT(s[k - 1], s[k]);
}

// --- Alarm and pass-through lists ----------------------------------------------------------------

NPC_S_MPI_MON_ALARM_HEAD alarmHead(int type) {
  NPC_S_MPI_MON_ALARM_HEAD h{};
  memcpy(h.DeviceID, "dev-1", 6);
  h.nAlarmType = type;
  h.iAlarmParam = 3;
  return h;
}

TEST(AlarmList, FullListAndRefusedArgumentsGiveZero) {
  NPC_H_VPI_TOOLS_AL al = NPC_F_VPI_TOOLS_AL_CreateAlarmList(3);
  NPC_H_VPI_TOOLS_AL pl = NPC_F_VPI_TOOLS_AL_CreateP2pPortList(3);
  const NPC_S_MPI_MON_ALARM_HEAD h = alarmHead(1);
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(NPC_F_VPI_TOOLS_AL_AddAlarmData(al, &h, "motion", 7), 1);
    ASSERT_EQ(NPC_F_VPI_TOOLS_AL_AddP2pPortData(pl, "abc", 3), 1);
  }
  struct Case {
    const char* what;
    int result;
  } cases[] = {
      {"alarm list full", NPC_F_VPI_TOOLS_AL_AddAlarmData(al, &h, "motion", 7)},
      {"pass-through list full", NPC_F_VPI_TOOLS_AL_AddP2pPortData(pl, "abc", 3)},
      {"null list", NPC_F_VPI_TOOLS_AL_AddAlarmData(nullptr, &h, "x", 2)},
      {"null head", NPC_F_VPI_TOOLS_AL_AddAlarmData(al, nullptr, "x", 2)},
      {"null text", NPC_F_VPI_TOOLS_AL_AddAlarmData(al, &h, nullptr, 2)},
      {"zero length", NPC_F_VPI_TOOLS_AL_AddP2pPortData(pl, "x", 0)},
      {"negative length", NPC_F_VPI_TOOLS_AL_AddP2pPortData(pl, "x", -4)},
      {"null data", NPC_F_VPI_TOOLS_AL_AddP2pPortData(pl, nullptr, 3)},
      // An alarm list is not a pass-through list.
      {"wrong list kind", NPC_F_VPI_TOOLS_AL_AddP2pPortData(al, "abc", 3)},
  };
  for (const Case& c : cases) EXPECT_EQ(c.result, 0) << c.what;
  EXPECT_EQ(NPC_F_VPI_TOOLS_AL_GetNodeNum(al), 3);
  EXPECT_EQ(NPC_F_VPI_TOOLS_AL_GetNodeNum(pl), 3);
  NPC_F_VPI_TOOLS_AL_ClearListData(al);
  NPC_F_VPI_TOOLS_AL_ClearP2pPortListData(pl);
  EXPECT_EQ(NPC_F_VPI_TOOLS_AL_GetNodeNum(al), 0);
  EXPECT_EQ(NPC_F_VPI_TOOLS_AL_AddAlarmData(al, &h, "motion", 7), 1);
  NPC_F_VPI_TOOLS_AL_ReleaseAlarmList(al);
  NPC_F_VPI_TOOLS_AL_ReleaseP2pPortList(pl);
}

TEST(AlarmList, ItemsComeOutAsCopiesInOrderWithAZeroByteBehind) {
  NPC_H_VPI_TOOLS_AL al = NPC_F_VPI_TOOLS_AL_CreateAlarmList(NPC_D_VPI_TOOLS_AL_CAPACITY);
  NPC_H_VPI_TOOLS_AL pl = NPC_F_VPI_TOOLS_AL_CreateP2pPortList(NPC_D_VPI_TOOLS_AL_CAPACITY);
  const NPC_S_MPI_MON_ALARM_HEAD h1 = alarmHead(1), h2 = alarmHead(2);
  ASSERT_EQ(NPC_F_VPI_TOOLS_AL_AddAlarmData(al, &h1, "first", 6), 1);
  ASSERT_EQ(NPC_F_VPI_TOOLS_AL_AddAlarmData(al, &h2, "second", 7), 1);
  const uint8_t raw[3] = {0xFF, 0x00, 0x7F};
  ASSERT_EQ(NPC_F_VPI_TOOLS_AL_AddP2pPortData(pl, raw, 3), 1);

  NPC_S_MPI_MON_ALARM_DATA* a = NPC_F_VPI_TOOLS_AL_GetAlarmData(al, 0);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(memcmp(&a->tAlarmHead, &h1, sizeof h1), 0);
  EXPECT_STREQ(a->pAlarmText, "first");
  EXPECT_EQ(a->iAlarmTextLen, 6);
  NPC_F_VPI_TOOLS_AL_ReleaseAlarmData(a);
  a = NPC_F_VPI_TOOLS_AL_GetAlarmData(al, 0);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->tAlarmHead.nAlarmType, 2);
  NPC_F_VPI_TOOLS_AL_ReleaseAlarmData(a);
  EXPECT_EQ(NPC_F_VPI_TOOLS_AL_GetAlarmData(al, 0), nullptr);

  NPC_S_MPI_MON_P2PPORT_DATA* p = NPC_F_VPI_TOOLS_AL_GetP2pPortData(pl, 0);
  ASSERT_NE(p, nullptr);
  ASSERT_EQ(p->iDataLen, 3);
  EXPECT_EQ(memcmp(p->pData, raw, 3), 0);
  EXPECT_EQ(p->pData[3], 0);
  NPC_F_VPI_TOOLS_AL_ReleaseP2pPortData(p);
  NPC_F_VPI_TOOLS_AL_ReleaseAlarmList(al);
  NPC_F_VPI_TOOLS_AL_ReleaseP2pPortList(pl);
}

TEST(AlarmList, WaitingReadersWakeWhenAnItemArrives) {
  NPC_H_VPI_TOOLS_AL al = NPC_F_VPI_TOOLS_AL_CreateAlarmList(10);
  NPC_H_VPI_TOOLS_AL pl = NPC_F_VPI_TOOLS_AL_CreateP2pPortList(10);
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const NPC_S_MPI_MON_ALARM_HEAD h = alarmHead(9);
    NPC_F_VPI_TOOLS_AL_AddAlarmData(al, &h, "door", 5);
    NPC_F_VPI_TOOLS_AL_AddP2pPortData(pl, "z", 1);
  });
  const auto t0 = std::chrono::steady_clock::now();
  NPC_S_MPI_MON_ALARM_DATA* a = NPC_F_VPI_TOOLS_AL_GetAlarmData(al, 20000);
  NPC_S_MPI_MON_P2PPORT_DATA* p = NPC_F_VPI_TOOLS_AL_GetP2pPortData(pl, 20000);
  const int64_t took = msSince(t0);
  writer.join();
  ASSERT_NE(a, nullptr);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(a->tAlarmHead.nAlarmType, 9);
  EXPECT_LT(took, 10000);
  NPC_F_VPI_TOOLS_AL_ReleaseAlarmData(a);
  NPC_F_VPI_TOOLS_AL_ReleaseP2pPortData(p);
  NPC_F_VPI_TOOLS_AL_ReleaseAlarmList(al);
  NPC_F_VPI_TOOLS_AL_ReleaseP2pPortList(pl);
}

}  // namespace
