// Lists (blocks, both cursors, head take-out into a growable buffer, the safe variant under
// concurrent producers) and the growable buffers themselves.
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "runtime/list.h"
#include "runtime/mem_mg.h"

namespace {

std::string blockText(void* block, int len) { return std::string(static_cast<char*>(block), static_cast<size_t>(len)); }

// Texts of the blocks as the list's own cursor walks them from the start.
std::vector<std::string> walk(void* list) {
  std::vector<std::string> out;
  NPC_F_TOOLS_LIST_MoveFirst(list);
  int len = 0;
  while (void* b = NPC_F_TOOLS_LIST_QueryNextNode(list, &len)) out.push_back(blockText(b, len));
  return out;
}

void addText(void* list, const std::string& s) {
  ASSERT_EQ(NPC_F_TOOLS_LIST_AddData(list, s.data(), static_cast<int>(s.size())), 1);
}

using Texts = std::vector<std::string>;

TEST(List, NullHandleAndBadSizesFailWithoutEffect) {
  EXPECT_EQ(NPC_F_TOOLS_LIST_AddNode(nullptr, 4), nullptr);
  EXPECT_EQ(NPC_F_TOOLS_LIST_AddData(nullptr, "x", 1), 0);
  EXPECT_EQ(NPC_F_TOOLS_LIST_QueryNodeNum(nullptr), 0);
  EXPECT_EQ(NPC_F_TOOLS_LIST_QueryNextNode(nullptr, nullptr), nullptr);
  EXPECT_EQ(NPC_F_TOOLS_LIST_GetFirsNodetPos(nullptr), nullptr);
  NPC_F_TOOLS_LIST_ReleaseList(nullptr);
  void* l = NPC_F_TOOLS_LIST_CreateList();
  ASSERT_NE(l, nullptr);
  EXPECT_EQ(NPC_F_TOOLS_LIST_AddNode(l, 0), nullptr);
  EXPECT_EQ(NPC_F_TOOLS_LIST_AddNode(l, -1), nullptr);
  EXPECT_EQ(NPC_F_TOOLS_LIST_AddNode(l, NPC_D_TOOLS_LIST_MAX_BLOCK + 1), nullptr);
  EXPECT_EQ(NPC_F_TOOLS_LIST_AddData(l, "x", 0), 0);
  EXPECT_EQ(NPC_F_TOOLS_LIST_AddData(l, nullptr, 3), 0);
  EXPECT_EQ(NPC_F_TOOLS_LIST_QueryNodeNum(l), 0);
  int x = 0;
  EXPECT_EQ(NPC_F_TOOLS_LIST_DelData(l, &x), 0) << "a pointer that is no block of the list";
  NPC_F_TOOLS_LIST_ReleaseList(l);
}

TEST(List, AddNodeGivesAZeroedBlockAndAddDataACopy) {
  void* l = NPC_F_TOOLS_LIST_CreateList();
  auto* block = static_cast<unsigned char*>(NPC_F_TOOLS_LIST_AddNode(l, 64));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 64; ++i) ASSERT_EQ(block[i], 0) << i;
  EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % alignof(std::max_align_t), 0u);
  memcpy(block, "filled", 6);
  char src[] = "copy";
  ASSERT_EQ(NPC_F_TOOLS_LIST_AddData(l, src, 4), 1);
  src[0] = 'X';
  Texts t = walk(l);
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[0].substr(0, 6), "filled");
  EXPECT_EQ(t[0].size(), 64u);
  EXPECT_EQ(t[1], "copy");
  EXPECT_EQ(NPC_F_TOOLS_LIST_QueryNodeNum(l), 2);
  NPC_F_TOOLS_LIST_ReleaseList(l);  // frees the remaining nodes (checked by ASan)
}

// The list's cursor: null at the end but still sees later appends; deleting the node it
// returned last lets it go on with that node's successor.
TEST(List, OwnCursorSurvivesAppendsAndDeletes) {
  void* l = NPC_F_TOOLS_LIST_CreateList();
  for (const char* s : {"a", "b", "c", "d"}) addText(l, s);
  NPC_F_TOOLS_LIST_MoveFirst(l);
  int len = 0;
  void* a = NPC_F_TOOLS_LIST_QueryNextNode(l, &len);
  void* b = NPC_F_TOOLS_LIST_QueryNextNode(l, nullptr);
  ASSERT_EQ(blockText(b, 1), "b");
  EXPECT_EQ(NPC_F_TOOLS_LIST_DelData(l, b), 1);
  void* c = NPC_F_TOOLS_LIST_QueryNextNode(l, &len);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(blockText(c, len), "c");
  EXPECT_EQ(NPC_F_TOOLS_LIST_DelData(l, a), 1) << "deleting the head behind the cursor";
  void* d = NPC_F_TOOLS_LIST_QueryNextNode(l, &len);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(blockText(d, len), "d");
  EXPECT_EQ(NPC_F_TOOLS_LIST_DelData(l, d), 1) << "deleting the tail the cursor stands on";
  EXPECT_EQ(NPC_F_TOOLS_LIST_QueryNextNode(l, &len), nullptr);
  addText(l, "e");
  void* e = NPC_F_TOOLS_LIST_QueryNextNode(l, &len);
  ASSERT_NE(e, nullptr) << "an append after the end is seen";
  EXPECT_EQ(blockText(e, len), "e");
  EXPECT_EQ(walk(l), (Texts{"c", "e"}));
  NPC_F_TOOLS_LIST_ReleaseList(l);
}

TEST(List, CallerCursorVisitsEveryBlockWithItsLength) {
  void* l = NPC_F_TOOLS_LIST_CreateList();
  for (const char* s : {"one", "three", "xy"}) addText(l, s);
  Texts seen;
  int len = 0;
  void* pos = NPC_F_TOOLS_LIST_GetFirsNodetPos(l);
  while (void* b = NPC_F_TOOLS_LIST_GetNextNodeData(l, &pos, &len)) seen.push_back(blockText(b, len));
  EXPECT_EQ(seen, (Texts{"one", "three", "xy"}));
  EXPECT_EQ(pos, nullptr);
  EXPECT_EQ(NPC_F_TOOLS_LIST_GetNextNodeData(l, &pos, &len), nullptr);
  NPC_F_TOOLS_LIST_ReleaseList(l);
}

// Deleting in the middle and at the tail keeps the links right for later appends.
TEST(List, DeleteFixesTailForLaterAppends) {
  void* l = NPC_F_TOOLS_LIST_CreateList();
  addText(l, "a");
  void* b = NPC_F_TOOLS_LIST_AddNode(l, 1);
  static_cast<char*>(b)[0] = 'b';
  void* c = NPC_F_TOOLS_LIST_AddNode(l, 1);
  static_cast<char*>(c)[0] = 'c';
  EXPECT_EQ(NPC_F_TOOLS_LIST_DelData(l, c), 1);
  EXPECT_EQ(NPC_F_TOOLS_LIST_DelData(l, c), 0) << "already gone";
  addText(l, "d");
  EXPECT_EQ(NPC_F_TOOLS_LIST_DelData(l, b), 1);
  addText(l, "e");
  EXPECT_EQ(walk(l), (Texts{"a", "d", "e"}));
  EXPECT_EQ(NPC_F_TOOLS_LIST_QueryNodeNum(l), 3);
  NPC_F_TOOLS_LIST_ReleaseList(l);
}

// GetListHeadData takes blocks out in order into one growable buffer, which grows only when
// a block does not fit and is NUL-terminated behind the data.
TEST(List, HeadTakeOutReusesTheGrowableBuffer) {
  void* l = NPC_F_TOOLS_LIST_CreateList();
  for (const char* s : {"medium", "a-longer-block", "s"}) addText(l, s);
  char* buf = nullptr;
  int cap = 0, len = 0;
  ASSERT_EQ(NPC_F_TOOLS_LIST_GetListHeadData(l, &buf, &cap, &len), 1);
  EXPECT_EQ(std::string(buf, len), "medium");
  EXPECT_EQ(cap, 6);
  ASSERT_EQ(NPC_F_TOOLS_LIST_GetListHeadData(l, &buf, &cap, &len), 1);
  EXPECT_EQ(std::string(buf), "a-longer-block");
  EXPECT_EQ(cap, 14);
  char* kept = buf;
  ASSERT_EQ(NPC_F_TOOLS_LIST_GetListHeadData(l, &buf, &cap, &len), 1);
  EXPECT_EQ(buf, kept) << "a smaller block reuses the buffer";
  EXPECT_EQ(std::string(buf), "s");
  EXPECT_EQ(len, 1);
  EXPECT_EQ(NPC_F_TOOLS_LIST_GetListHeadData(l, &buf, &cap, &len), 0);
  EXPECT_EQ(NPC_F_TOOLS_LIST_QueryNodeNum(l), 0);
  addText(l, "again");
  EXPECT_EQ(walk(l), (Texts{"again"})) << "head and tail were reset when the list emptied";
  NPC_F_TOOLS_LIST_ReleaseDataBuf(&buf);
  EXPECT_EQ(buf, nullptr);
  NPC_F_TOOLS_LIST_ReleaseList(l);
}

// Four producers append to a safe list while a consumer takes heads out; nothing is lost
// or duplicated and each producer's items arrive in its order.
TEST(List, SafeListHandsOverBetweenThreads) {
  void* l = NPC_F_TOOLS_LIST_CreateSafeList();
  constexpr int kProducers = 4, kEach = 2000;
  std::atomic<bool> done{false};
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([l, p] {
      for (int i = 0; i < kEach; ++i) {
        int rec[2] = {p, i};
        while (NPC_F_TOOLS_LIST_AddData(l, rec, sizeof rec) != 1) {
        }
      }
    });
  }
  std::vector<int> next(kProducers, 0);
  int taken = 0;
  bool inOrder = true;
  char* buf = nullptr;
  int cap = 0, len = 0;
  std::thread consumer([&] {
    while (taken < kProducers * kEach) {
      if (NPC_F_TOOLS_LIST_GetListHeadData(l, &buf, &cap, &len) != 1) {
        std::this_thread::yield();
        continue;
      }
      int rec[2];
      memcpy(rec, buf, sizeof rec);
      if (len != static_cast<int>(sizeof rec) || rec[1] != next[rec[0]]) inOrder = false;
      ++next[rec[0]];
      ++taken;
    }
    done = true;
  });
  for (auto& t : producers) t.join();
  consumer.join();
  EXPECT_TRUE(done);
  EXPECT_TRUE(inOrder);
  EXPECT_EQ(NPC_F_TOOLS_LIST_QueryNodeNum(l), 0);
  NPC_F_TOOLS_LIST_ReleaseDataBuf(&buf);
  NPC_F_TOOLS_LIST_ReleaseList(l);
}

// --- Growable buffers ------------------------------------------------------------------

struct Buf {
  char* p = nullptr;
  int cap = 0;
  int len = 0;
  ~Buf() { NPC_F_MEM_MG_FreeDataBuf(&p, &cap, &len); }
};

TEST(GrowableBuffer, SetReplacesContentAndGrowsOnlyWhenNeeded) {
  Buf b;
  EXPECT_EQ(NPC_F_MEM_MG_SetDataToBuf(&b.p, &b.cap, &b.len, "abc", 0), 0);
  EXPECT_EQ(NPC_F_MEM_MG_SetDataToBuf(&b.p, &b.cap, &b.len, nullptr, 3), 0);
  EXPECT_EQ(b.p, nullptr);
  ASSERT_EQ(NPC_F_MEM_MG_SetDataToBuf(&b.p, &b.cap, &b.len, "hello", 5), 1);
  EXPECT_EQ(b.cap, 5);
  EXPECT_EQ(b.len, 5);
  EXPECT_STREQ(b.p, "hello") << "the block has a spare NUL byte";
  char* first = b.p;
  ASSERT_EQ(NPC_F_MEM_MG_SetDataToBuf(&b.p, &b.cap, &b.len, "hi", 2), 1);
  EXPECT_EQ(b.p, first);
  EXPECT_EQ(b.len, 2);
  EXPECT_STREQ(b.p, "hi");
  ASSERT_EQ(NPC_F_MEM_MG_SetDataToBuf(&b.p, &b.cap, &b.len, "longer text", 11), 1);
  EXPECT_EQ(b.cap, 11);
  EXPECT_STREQ(b.p, "longer text");
}

TEST(GrowableBuffer, AddAppendsAndGrowsToExactlyTheNewLength) {
  Buf b;
  ASSERT_EQ(NPC_F_MEM_MG_AddDataToBuf(&b.p, &b.cap, &b.len, "abc", 3), 1);
  ASSERT_EQ(NPC_F_MEM_MG_AddDataToBuf(&b.p, &b.cap, &b.len, "defg", 4), 1);
  EXPECT_EQ(b.cap, 7);
  EXPECT_EQ(b.len, 7);
  EXPECT_STREQ(b.p, "abcdefg");
  EXPECT_EQ(NPC_F_MEM_MG_AddDataToBuf(&b.p, &b.cap, &b.len, "x", 0), 0);
  int badLen = b.cap + 1;
  EXPECT_EQ(NPC_F_MEM_MG_AddDataToBuf(&b.p, &b.cap, &badLen, "x", 1), 0) << "fill beyond capacity";
  ASSERT_EQ(NPC_F_MEM_MG_AllocDataBuf(&b.p, &b.cap, 32), 1);
  b.len = 0;
  ASSERT_EQ(NPC_F_MEM_MG_AddDataToBuf(&b.p, &b.cap, &b.len, "z", 1), 1);
  EXPECT_EQ(b.cap, 32) << "room enough: no new block";
  EXPECT_STREQ(b.p, "z");
}

TEST(GrowableBuffer, AllocAndExpandZeroFillAndKeepWhatTheyShould) {
  Buf b;
  ASSERT_EQ(NPC_F_MEM_MG_SetDataToBuf(&b.p, &b.cap, &b.len, "0123456789", 10), 1);
  ASSERT_EQ(NPC_F_MEM_MG_ExpandDataBuf(&b.p, &b.cap, 4, 8), 1);
  EXPECT_EQ(b.cap, 10) << "capacity suffices";
  EXPECT_EQ(std::string(b.p, 10), std::string("0123\0\0\0\0" "89", 10));
  ASSERT_EQ(NPC_F_MEM_MG_ExpandDataBuf(&b.p, &b.cap, 3, 100), 1);
  EXPECT_EQ(b.cap, 100);
  EXPECT_EQ(std::string(b.p, 4), std::string("012\0", 4));
  for (int i = 3; i < 100; ++i) ASSERT_EQ(b.p[i], 0) << i;
  EXPECT_EQ(NPC_F_MEM_MG_ExpandDataBuf(&b.p, &b.cap, 50, 40), 0) << "keep more than the new size";
  EXPECT_EQ(NPC_F_MEM_MG_ExpandDataBuf(&b.p, &b.cap, 101, 200), 0) << "keep more than the capacity";

  memset(b.p, 'x', 100);
  char* same = b.p;
  ASSERT_EQ(NPC_F_MEM_MG_AllocDataBuf(&b.p, &b.cap, 60), 1);
  EXPECT_EQ(b.p, same);
  for (int i = 0; i < 60; ++i) ASSERT_EQ(b.p[i], 0) << i;
  EXPECT_EQ(b.p[60], 'x') << "only n bytes are cleared";
  ASSERT_EQ(NPC_F_MEM_MG_AllocDataBuf(&b.p, &b.cap, 500), 1);
  EXPECT_EQ(b.cap, 500);
  EXPECT_EQ(NPC_F_MEM_MG_AllocDataBuf(&b.p, &b.cap, -1), 0);
}

TEST(GrowableBuffer, InsideCopyDropsThePrefix) {
  char text[] = "abcdef";
  int len = 6;
  ASSERT_EQ(NPC_F_MEM_MG_BufInsideCopy(text, &len, 2), 1);
  EXPECT_EQ(len, 4);
  EXPECT_STREQ(text, "cdef");
  EXPECT_EQ(NPC_F_MEM_MG_BufInsideCopy(text, &len, 0), 0);
  EXPECT_EQ(NPC_F_MEM_MG_BufInsideCopy(text, &len, 5), 0);
  ASSERT_EQ(NPC_F_MEM_MG_BufInsideCopy(text, &len, 4), 1);
  EXPECT_EQ(len, 0);
  EXPECT_STREQ(text, "");
}

}  // namespace
