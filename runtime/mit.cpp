// The three-level index table: 256 top slots -> 256 middle slots -> leaf blocks of 256
// entries, 16 777 216 entries in all. An entry's 24-bit index is (top << 16) | (middle << 8)
// | leaf; its id adds a tag byte on top. Every entry remembers the tag it carried last, and a
// new item in it draws a fresh tag from the process random generator that differs from that
// one and is never 0, so ids are never 0 and a stale id of a reused entry is refused.
// Leaves count their used entries, so scans skip full leaves and missing levels quickly.
#include "runtime/mit.h"

#include <cstdlib>
#include <new>

#include "runtime/random.h"

namespace {

constexpr uint32_t kEntryNum = 1u << 24;
constexpr int kRestartAfterDeletes = 128;

struct NPC_S_MIT_ENTRY {
  uint32_t dwId;      // 0 while the entry is free
  uint8_t ucLastTag;  // tag of the last id this entry held (0 if never used)
  void* pData;
};

struct NPC_S_MIT_LEAF {
  NPC_S_MIT_ENTRY tEntry[256];
  int iUsedNum;
};

struct NPC_S_MIT_MIDDLE {
  NPC_S_MIT_LEAF* pLeaf[256];
};

struct NPC_S_MIT_INDEX_TABLE_DATA {
  NPC_S_MIT_MIDDLE* pTop[256] = {};
  uint32_t dwNextPos = 0;  // index after the last allocation
  int iDelSinceRestart = 0;
  int iItemNum = 0;
};

uint32_t indexOf(uint32_t id) { return id & 0xFFFFFFu; }

// The entry for an index, or null when its middle array or leaf does not exist.
NPC_S_MIT_ENTRY* findEntry(NPC_S_MIT_INDEX_TABLE_DATA* t, uint32_t index) {
  NPC_S_MIT_MIDDLE* mid = t->pTop[(index >> 16) & 0xFF];
  if (!mid) return nullptr;
  NPC_S_MIT_LEAF* leaf = mid->pLeaf[(index >> 8) & 0xFF];
  return leaf ? &leaf->tEntry[index & 0xFF] : nullptr;
}

// The leaf for an index, creating the middle array and the leaf when missing; null when
// memory runs out.
NPC_S_MIT_LEAF* makeLeaf(NPC_S_MIT_INDEX_TABLE_DATA* t, uint32_t index) {
  NPC_S_MIT_MIDDLE*& mid = t->pTop[(index >> 16) & 0xFF];
  if (!mid) {
    mid = static_cast<NPC_S_MIT_MIDDLE*>(calloc(1, sizeof(NPC_S_MIT_MIDDLE)));
    if (!mid) return nullptr;
  }
  NPC_S_MIT_LEAF*& leaf = mid->pLeaf[(index >> 8) & 0xFF];
  if (!leaf) leaf = static_cast<NPC_S_MIT_LEAF*>(calloc(1, sizeof(NPC_S_MIT_LEAF)));
  return leaf;
}

// Finds the first free index at or after start, wrapping around once; returns false when
// every entry is in use. A missing middle array or leaf counts as free entries. When start
// lies inside a leaf, the wrap-around reaches that leaf again and scans it whole.
bool findFree(NPC_S_MIT_INDEX_TABLE_DATA* t, uint32_t start, uint32_t* out) {
  uint32_t scanned = 0;
  uint32_t i = start;
  while (scanned < kEntryNum) {
    NPC_S_MIT_MIDDLE* mid = t->pTop[(i >> 16) & 0xFF];
    NPC_S_MIT_LEAF* leaf = mid ? mid->pLeaf[(i >> 8) & 0xFF] : nullptr;
    if (!leaf) {
      *out = i;
      return true;
    }
    if (leaf->iUsedNum < 256) {
      for (uint32_t e = i & 0xFF; e < 256; ++e) {
        if (leaf->tEntry[e].dwId == 0) {
          *out = (i & ~0xFFu) | e;
          return true;
        }
      }
    }
    // Go on at the start of the next leaf.
    uint32_t step = 256 - (i & 0xFF);
    scanned += step;
    i = (i + step) % kEntryNum;
  }
  return false;
}

// Visits entries from index `from` on and returns the first used one (null at the end).
NPC_S_MIT_ENTRY* firstUsedFrom(NPC_S_MIT_INDEX_TABLE_DATA* t, uint32_t from) {
  uint32_t i = from;
  while (i < kEntryNum) {
    NPC_S_MIT_MIDDLE* mid = t->pTop[(i >> 16) & 0xFF];
    if (!mid) {
      i = ((i >> 16) + 1) << 16;
      continue;
    }
    NPC_S_MIT_LEAF* leaf = mid->pLeaf[(i >> 8) & 0xFF];
    if (leaf && leaf->iUsedNum > 0) {
      for (uint32_t e = i & 0xFF; e < 256; ++e)
        if (leaf->tEntry[e].dwId != 0) return &leaf->tEntry[e];
    }
    i = ((i >> 8) + 1) << 8;
  }
  return nullptr;
}

}  // namespace

void* NPC_F_MIT_CreateIndexTableModule() { return new (std::nothrow) NPC_S_MIT_INDEX_TABLE_DATA; }

// Frees the table's levels; the stored pointers belong to the caller.
void NPC_F_MIT_DestroyIndexTableModule(void* table) {
  auto* t = static_cast<NPC_S_MIT_INDEX_TABLE_DATA*>(table);
  if (!t) return;
  for (NPC_S_MIT_MIDDLE* mid : t->pTop) {
    if (!mid) continue;
    for (NPC_S_MIT_LEAF* leaf : mid->pLeaf) free(leaf);
    free(mid);
  }
  delete t;
}

// Stores ptr in the first free entry at or after the position following the last
// allocation; after more than 128 deletions since the last restart the scan starts again at
// entry 0, so freed low entries are reused. The id's tag is new for the entry and never 0.
// Returns 0 when ptr is null, the table is full or memory runs out.
uint32_t NPC_F_MIT_AddDataItem(void* table, void* ptr) {
  auto* t = static_cast<NPC_S_MIT_INDEX_TABLE_DATA*>(table);
  if (!t || !ptr) return 0;
  if (t->iDelSinceRestart > kRestartAfterDeletes) {
    t->iDelSinceRestart = 0;
    t->dwNextPos = 0;
  }
  uint32_t index;
  if (!findFree(t, t->dwNextPos, &index)) return 0;
  NPC_S_MIT_LEAF* leaf = makeLeaf(t, index);
  if (!leaf) return 0;
  NPC_S_MIT_ENTRY& e = leaf->tEntry[index & 0xFF];
  uint32_t tag = NPC_F_SYS_RANDOM_NewTag(e.ucLastTag, 0xFF);
  e.ucLastTag = static_cast<uint8_t>(tag);
  e.dwId = (tag << 24) | index;
  e.pData = ptr;
  ++leaf->iUsedNum;
  ++t->iItemNum;
  t->dwNextPos = (index + 1) % kEntryNum;
  return e.dwId;
}

// Stores ptr under the given id (tag byte non-zero), creating levels as needed. An item
// already in that entry, under this or another id, is replaced.
int NPC_F_MIT_SetDataItem(void* table, uint32_t id, void* ptr) {
  auto* t = static_cast<NPC_S_MIT_INDEX_TABLE_DATA*>(table);
  if (!t || !ptr || (id >> 24) == 0) return 0;
  NPC_S_MIT_LEAF* leaf = makeLeaf(t, indexOf(id));
  if (!leaf) return 0;
  NPC_S_MIT_ENTRY& e = leaf->tEntry[id & 0xFF];
  if (e.dwId == 0) {
    ++leaf->iUsedNum;
    ++t->iItemNum;
  }
  e.dwId = id;
  e.ucLastTag = static_cast<uint8_t>(id >> 24);
  e.pData = ptr;
  return 1;
}

// Frees the entry when it holds exactly this id; 0 otherwise.
int NPC_F_MIT_DeleteDataItem(void* table, uint32_t id) {
  auto* t = static_cast<NPC_S_MIT_INDEX_TABLE_DATA*>(table);
  if (!t || id == 0) return 0;
  NPC_S_MIT_ENTRY* e = findEntry(t, indexOf(id));
  if (!e || e->dwId != id) return 0;
  e->dwId = 0;
  e->pData = nullptr;
  --t->pTop[(id >> 16) & 0xFF]->pLeaf[(id >> 8) & 0xFF]->iUsedNum;
  --t->iItemNum;
  ++t->iDelSinceRestart;
  return 1;
}

void* NPC_F_MIT_QueryDataItemByDataId(void* table, uint32_t id) {
  auto* t = static_cast<NPC_S_MIT_INDEX_TABLE_DATA*>(table);
  if (!t || id == 0) return nullptr;
  NPC_S_MIT_ENTRY* e = findEntry(t, indexOf(id));
  return (e && e->dwId == id) ? e->pData : nullptr;
}

void* NPC_F_MIT_QueryFirstData(void* table, uint32_t* id) {
  auto* t = static_cast<NPC_S_MIT_INDEX_TABLE_DATA*>(table);
  if (!t) return nullptr;
  NPC_S_MIT_ENTRY* e = firstUsedFrom(t, 0);
  if (!e) return nullptr;
  if (id) *id = e->dwId;
  return e->pData;
}

// Continues after the entry of *id (which may have been deleted meanwhile).
void* NPC_F_MIT_QueryNextData(void* table, uint32_t* id) {
  auto* t = static_cast<NPC_S_MIT_INDEX_TABLE_DATA*>(table);
  if (!t || !id) return nullptr;
  NPC_S_MIT_ENTRY* e = firstUsedFrom(t, indexOf(*id) + 1);
  if (!e) return nullptr;
  *id = e->dwId;
  return e->pData;
}

int NPC_F_MIT_GetItemCount(void* table) {
  auto* t = static_cast<NPC_S_MIT_INDEX_TABLE_DATA*>(table);
  return t ? t->iItemNum : 0;
}
