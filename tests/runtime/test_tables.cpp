// The hash table (growth, unique and non-unique keys, deletion) and the index table (ids,
// stale ids, tag renewal on reuse, scan restart, iteration).
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "runtime/hash.h"
#include "runtime/mit.h"

namespace {

int addKey(void* t, int32_t v, const std::string& k) {
  return NPC_F_TOOLS_HASHT_AddHashData(t, v, k.data(), static_cast<int>(k.size()));
}
int32_t queryKey(void* t, const std::string& k) {
  return NPC_F_TOOLS_HASHT_QueryHashDataByKey(t, k.data(), static_cast<int>(k.size()));
}
int delKey(void* t, const std::string& k) {
  return NPC_F_TOOLS_HASHT_DelHashDataByKey(t, k.data(), static_cast<int>(k.size()));
}

TEST(HashTable, CreateRefusesEmptyBucketCountAndNullHandleIsInert) {
  EXPECT_EQ(NPC_F_TOOLS_HASHT_CreateHashTable(0, 1), nullptr);
  EXPECT_EQ(NPC_F_TOOLS_HASHT_CreateHashTable(-3, 0), nullptr);
  EXPECT_EQ(NPC_F_TOOLS_HASHT_AddHashData(nullptr, 1, "a", 1), 0);
  EXPECT_EQ(NPC_F_TOOLS_HASHT_QueryHashDataByKey(nullptr, "a", 1), 0);
  EXPECT_EQ(NPC_F_TOOLS_HASHT_DelHashDataByKey(nullptr, "a", 1), 0);
  EXPECT_EQ(NPC_F_TOOLS_HASHT_StatListLen(nullptr), 0);
  NPC_F_TOOLS_HASHT_DestroyHashTable(nullptr);
}

TEST(HashTable, UniqueKeysRefuseASecondAddOfTheKey) {
  void* t = NPC_F_TOOLS_HASHT_CreateHashTable(16, 1);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(addKey(t, 7, "cam-1"), 1);
  EXPECT_EQ(addKey(t, 8, "cam-1"), 0);
  EXPECT_EQ(addKey(t, 7, "cam-1"), 0);
  EXPECT_EQ(addKey(t, 0, "zero"), 0) << "value 0 is the not-found answer and cannot be stored";
  EXPECT_EQ(queryKey(t, "cam-1"), 7);
  EXPECT_EQ(queryKey(t, "cam-"), 0) << "a prefix is another key";
  EXPECT_EQ(queryKey(t, "zero"), 0);
  EXPECT_EQ(delKey(t, "cam-1"), 1);
  EXPECT_EQ(delKey(t, "cam-1"), 0);
  EXPECT_EQ(queryKey(t, "cam-1"), 0);
  EXPECT_EQ(addKey(t, 9, "cam-1"), 1) << "a deleted key can be added again";
  EXPECT_EQ(queryKey(t, "cam-1"), 9);
  NPC_F_TOOLS_HASHT_DestroyHashTable(t);
}

TEST(HashTable, NonUniqueKeysKeepEveryValueOnceAndDeleteRemovesThemAll) {
  void* t = NPC_F_TOOLS_HASHT_CreateHashTable(1000, 0);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(addKey(t, 1, "dev"), 1);
  EXPECT_EQ(addKey(t, 2, "dev"), 1);
  EXPECT_EQ(NPC_F_TOOLS_HASHT_StatListLen(t), 2);
  EXPECT_EQ(addKey(t, 1, "dev"), 1) << "same key and value succeeds";
  EXPECT_EQ(NPC_F_TOOLS_HASHT_StatListLen(t), 2) << "... without a new node";
  EXPECT_EQ(queryKey(t, "dev"), 1) << "the first node added answers";
  EXPECT_EQ(delKey(t, "dev"), 1);
  EXPECT_EQ(queryKey(t, "dev"), 0);
  EXPECT_EQ(NPC_F_TOOLS_HASHT_StatListLen(t), 0);
  NPC_F_TOOLS_HASHT_DestroyHashTable(t);
}

// Keys with NUL bytes and bytes >= 0x80 are compared as bytes, length included.
TEST(HashTable, BinaryKeysCompareByBytesAndLength) {
  void* t = NPC_F_TOOLS_HASHT_CreateHashTable(8, 1);
  const std::string a("\x00\x01", 2), b("\x00\x01\x00", 3), c("\xff\x80", 2), empty;
  EXPECT_EQ(addKey(t, 1, a), 1);
  EXPECT_EQ(addKey(t, 2, b), 1);
  EXPECT_EQ(addKey(t, 3, c), 1);
  EXPECT_EQ(addKey(t, 4, empty), 1);
  EXPECT_EQ(queryKey(t, a), 1);
  EXPECT_EQ(queryKey(t, b), 2);
  EXPECT_EQ(queryKey(t, c), 3);
  EXPECT_EQ(queryKey(t, empty), 4);
  NPC_F_TOOLS_HASHT_DestroyHashTable(t);
}

// A table that starts with 4 buckets grows as keys arrive, so chains stay short; every key
// stays reachable through the rehashes, and a non-unique key's values keep their order.
TEST(HashTable, GrowsAndKeepsEveryKeyAndChainOrder) {
  void* t = NPC_F_TOOLS_HASHT_CreateHashTable(4, 0);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(addKey(t, 100, "dup"), 1);
  EXPECT_EQ(addKey(t, 200, "dup"), 1);
  const int kKeys = 3000;
  for (int i = 1; i <= kKeys; ++i) ASSERT_EQ(addKey(t, i, "key-" + std::to_string(i)), 1) << i;
  EXPECT_LT(NPC_F_TOOLS_HASHT_StatListLen(t), 25) << "the table did not grow (4 buckets would give chains of 750)";
  for (int i = 1; i <= kKeys; ++i) ASSERT_EQ(queryKey(t, "key-" + std::to_string(i)), i) << i;
  EXPECT_EQ(queryKey(t, "dup"), 100);
  EXPECT_EQ(delKey(t, "dup"), 1);
  EXPECT_EQ(queryKey(t, "dup"), 0);
  for (int i = 1; i <= kKeys; i += 2) ASSERT_EQ(delKey(t, "key-" + std::to_string(i)), 1);
  for (int i = 1; i <= kKeys; ++i) ASSERT_EQ(queryKey(t, "key-" + std::to_string(i)), i % 2 ? 0 : i) << i;
  NPC_F_TOOLS_HASHT_DestroyHashTable(t);
}

// --- Index table ---------------------------------------------------------------------------

int kItems[400];
void* item(int i) { return &kItems[i]; }
uint32_t indexOf(uint32_t id) { return id & 0xFFFFFFu; }

TEST(IndexTable, IdsCarryTheEntryAndANonZeroTagAndStaleIdsFindNothing) {
  void* t = NPC_F_MIT_CreateIndexTableModule();
  ASSERT_NE(t, nullptr);
  uint32_t ids[3];
  for (int i = 0; i < 3; ++i) {
    ids[i] = NPC_F_MIT_AddDataItem(t, item(i));
    ASSERT_NE(ids[i], 0u);
    EXPECT_EQ(indexOf(ids[i]), static_cast<uint32_t>(i));
    EXPECT_NE(ids[i] >> 24, 0u) << "entry 0,0,0 must not give id 0";
  }
  EXPECT_EQ(NPC_F_MIT_AddDataItem(t, nullptr), 0u);
  EXPECT_EQ(NPC_F_MIT_GetItemCount(t), 3);
  EXPECT_EQ(NPC_F_MIT_QueryDataItemByDataId(t, ids[1]), item(1));
  EXPECT_EQ(NPC_F_MIT_QueryDataItemByDataId(t, ids[1] ^ 0x01000000u), nullptr) << "other tag, same entry";
  EXPECT_EQ(NPC_F_MIT_DeleteDataItem(t, ids[1] ^ 0x01000000u), 0);
  EXPECT_EQ(NPC_F_MIT_DeleteDataItem(t, ids[1]), 1);
  EXPECT_EQ(NPC_F_MIT_DeleteDataItem(t, ids[1]), 0);
  EXPECT_EQ(NPC_F_MIT_QueryDataItemByDataId(t, ids[1]), nullptr);
  EXPECT_EQ(NPC_F_MIT_QueryDataItemByDataId(t, 0), nullptr);
  EXPECT_EQ(NPC_F_MIT_QueryDataItemByDataId(t, 0x01FFFFFFu), nullptr) << "levels never made";
  EXPECT_EQ(NPC_F_MIT_GetItemCount(t), 2);
  // Few deletions: the scan goes on after the last allocation instead of reusing entry 1.
  EXPECT_EQ(indexOf(NPC_F_MIT_AddDataItem(t, item(3))), 3u);
  NPC_F_MIT_DestroyIndexTableModule(t);
  EXPECT_EQ(NPC_F_MIT_AddDataItem(nullptr, item(0)), 0u);
  EXPECT_EQ(NPC_F_MIT_GetItemCount(nullptr), 0);
}

// The scan restarts at entry 0 only after more than 128 deletions.
TEST(IndexTable, ScanRestartsAtZeroAfterMoreThan128Deletions) {
  void* t = NPC_F_MIT_CreateIndexTableModule();
  std::vector<uint32_t> ids;
  for (int i = 0; i < 300; ++i) ids.push_back(NPC_F_MIT_AddDataItem(t, item(i)));
  for (int i = 0; i < 128; ++i) ASSERT_EQ(NPC_F_MIT_DeleteDataItem(t, ids[i]), 1);
  uint32_t id = NPC_F_MIT_AddDataItem(t, item(300));
  EXPECT_EQ(indexOf(id), 300u) << "128 deletions do not restart the scan";
  ASSERT_EQ(NPC_F_MIT_DeleteDataItem(t, ids[128]), 1);
  id = NPC_F_MIT_AddDataItem(t, item(301));
  EXPECT_EQ(indexOf(id), 0u) << "the 129th deletion restarts the scan";
  EXPECT_EQ(indexOf(NPC_F_MIT_AddDataItem(t, item(302))), 1u);
  NPC_F_MIT_DestroyIndexTableModule(t);
}

// Entry 0 is reused round after round: its tag changes every time, is never 0, and the
// previous round's id is refused.
TEST(IndexTable, ReusedEntryAlwaysGetsANewNonZeroTag) {
  void* t = NPC_F_MIT_CreateIndexTableModule();
  uint32_t previous = 0;
  std::set<uint32_t> tagsSeen;
  for (int round = 0; round < 60; ++round) {
    std::vector<uint32_t> ids;
    for (int i = 0; i < 130; ++i) ids.push_back(NPC_F_MIT_AddDataItem(t, item(i)));
    ASSERT_EQ(indexOf(ids[0]), 0u) << "round " << round;
    uint32_t tag = ids[0] >> 24;
    ASSERT_NE(tag, 0u);
    if (round > 0) {
      ASSERT_NE(tag, previous >> 24) << "round " << round;
      EXPECT_EQ(NPC_F_MIT_QueryDataItemByDataId(t, previous), nullptr);
    }
    EXPECT_EQ(NPC_F_MIT_QueryDataItemByDataId(t, ids[0]), item(0));
    tagsSeen.insert(tag);
    previous = ids[0];
    for (uint32_t id : ids) ASSERT_EQ(NPC_F_MIT_DeleteDataItem(t, id), 1);
  }
  EXPECT_GT(tagsSeen.size(), 20u) << "tags should be random, not a short cycle";
  NPC_F_MIT_DestroyIndexTableModule(t);
}

// Items stored under given ids across leaves and middle slots come back in slot order; an
// added item skips the occupied entries; iteration survives deleting the current item.
TEST(IndexTable, SetDataItemAndIterationInSlotOrder) {
  void* t = NPC_F_MIT_CreateIndexTableModule();
  const uint32_t setIds[] = {0x7F000005u, 0x01000105u, 0x02010000u, 0xFEFFFFFFu, 0x11000000u};
  for (int i = 0; i < 5; ++i) ASSERT_EQ(NPC_F_MIT_SetDataItem(t, setIds[i], item(i)), 1);
  EXPECT_EQ(NPC_F_MIT_SetDataItem(t, 0x00000007u, item(9)), 0) << "tag 0 would allow id 0";
  EXPECT_EQ(NPC_F_MIT_SetDataItem(t, 0x05000007u, nullptr), 0);
  EXPECT_EQ(NPC_F_MIT_GetItemCount(t), 5);
  EXPECT_EQ(NPC_F_MIT_SetDataItem(t, 0x12000000u, item(6)), 1) << "replaces entry 0's item";
  EXPECT_EQ(NPC_F_MIT_GetItemCount(t), 5);
  EXPECT_EQ(NPC_F_MIT_QueryDataItemByDataId(t, 0x11000000u), nullptr);
  EXPECT_EQ(NPC_F_MIT_QueryDataItemByDataId(t, 0x12000000u), item(6));

  uint32_t added = NPC_F_MIT_AddDataItem(t, item(7));
  EXPECT_EQ(indexOf(added), 1u) << "entry 0 is taken";

  std::vector<uint32_t> order;
  uint32_t id = 0;
  for (void* p = NPC_F_MIT_QueryFirstData(t, &id); p; p = NPC_F_MIT_QueryNextData(t, &id)) {
    EXPECT_EQ(NPC_F_MIT_QueryDataItemByDataId(t, id), p);
    order.push_back(id);
    if (id == 0x7F000005u) {
      EXPECT_EQ(NPC_F_MIT_DeleteDataItem(t, id), 1);
    }
  }
  const std::vector<uint32_t> expected = {0x12000000u, added, 0x7F000005u, 0x01000105u, 0x02010000u, 0xFEFFFFFFu};
  EXPECT_EQ(order, expected);
  EXPECT_EQ(NPC_F_MIT_GetItemCount(t), 5);
  NPC_F_MIT_DestroyIndexTableModule(t);

  void* empty = NPC_F_MIT_CreateIndexTableModule();
  EXPECT_EQ(NPC_F_MIT_QueryFirstData(empty, &id), nullptr);
  NPC_F_MIT_DestroyIndexTableModule(empty);
}

}  // namespace
