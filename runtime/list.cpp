// Singly linked lists of zero-filled data blocks, plain and safe. Each node is one
// allocation: a small head followed by the caller's block, so a node is either fully built
// or not there at all. The list keeps its own read cursor as "the node returned last", which
// stays valid when nodes are removed (it steps back to the removed node's predecessor) and
// sees nodes appended after it reached the end. The safe variant holds a mutex around every
// operation that reads or changes the links; the blocks themselves belong to the caller.
#include "runtime/list.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "runtime/mem_mg.h"

namespace {

struct NPC_S_TOOLS_LIST_NODE {
  NPC_S_TOOLS_LIST_NODE* pNext;
  int iLen;
};

// The block starts behind the node head, aligned for any type the caller may store.
constexpr size_t kHeadSize =
    (sizeof(NPC_S_TOOLS_LIST_NODE) + alignof(std::max_align_t) - 1) / alignof(std::max_align_t) *
    alignof(std::max_align_t);

struct NPC_S_TOOLS_LIST_DATA {
  NPC_S_TOOLS_LIST_NODE* pHead = nullptr;
  NPC_S_TOOLS_LIST_NODE* pTail = nullptr;
  NPC_S_TOOLS_LIST_NODE* pCursor = nullptr;  // node returned last by QueryNextNode; null: before the head
  int iNodeNum = 0;
  bool bSafe = false;
  std::mutex mu;
};

char* blockOf(NPC_S_TOOLS_LIST_NODE* node) { return reinterpret_cast<char*>(node) + kHeadSize; }

// Locks the list's mutex for the safe variant only.
class ListLock {
 public:
  explicit ListLock(NPC_S_TOOLS_LIST_DATA* l) : l_(l) {
    if (l_->bSafe) l_->mu.lock();
  }
  ~ListLock() {
    if (l_->bSafe) l_->mu.unlock();
  }
  ListLock(const ListLock&) = delete;
  ListLock& operator=(const ListLock&) = delete;

 private:
  NPC_S_TOOLS_LIST_DATA* l_;
};

void* createList(bool safe) {
  auto* l = new (std::nothrow) NPC_S_TOOLS_LIST_DATA;
  if (l) l->bSafe = safe;
  return l;
}

// Unlinks node (whose predecessor is prev, null for the head) and frees it. The list's read
// cursor moves back to prev when it stood on the node.
void unlinkNode(NPC_S_TOOLS_LIST_DATA* l, NPC_S_TOOLS_LIST_NODE* prev, NPC_S_TOOLS_LIST_NODE* node) {
  if (prev)
    prev->pNext = node->pNext;
  else
    l->pHead = node->pNext;
  if (l->pTail == node) l->pTail = prev;
  if (l->pCursor == node) l->pCursor = prev;
  --l->iNodeNum;
  free(node);
}

}  // namespace

void* NPC_F_TOOLS_LIST_CreateList() { return createList(false); }

void* NPC_F_TOOLS_LIST_CreateSafeList() { return createList(true); }

// Frees every node and the list. No other thread may use the list any more.
void NPC_F_TOOLS_LIST_ReleaseList(void* list) {
  auto* l = static_cast<NPC_S_TOOLS_LIST_DATA*>(list);
  if (!l) return;
  NPC_S_TOOLS_LIST_NODE* n = l->pHead;
  while (n) {
    NPC_S_TOOLS_LIST_NODE* next = n->pNext;
    free(n);
    n = next;
  }
  delete l;
}

// Appends a node with a zero-filled block of size bytes (1 to NPC_D_TOOLS_LIST_MAX_BLOCK) and
// returns the block; null for a bad size or when memory runs out (the list is unchanged).
void* NPC_F_TOOLS_LIST_AddNode(void* list, int size) {
  auto* l = static_cast<NPC_S_TOOLS_LIST_DATA*>(list);
  if (!l || size < 1 || size > NPC_D_TOOLS_LIST_MAX_BLOCK) return nullptr;
  auto* node = static_cast<NPC_S_TOOLS_LIST_NODE*>(calloc(1, kHeadSize + static_cast<size_t>(size)));
  if (!node) return nullptr;
  node->iLen = size;
  ListLock lk(l);
  if (l->pTail)
    l->pTail->pNext = node;
  else
    l->pHead = node;
  l->pTail = node;
  ++l->iNodeNum;
  return blockOf(node);
}

// Appends a copy of len bytes of data; 0 for bad arguments or when memory runs out.
int NPC_F_TOOLS_LIST_AddData(void* list, const void* data, int len) {
  auto* l = static_cast<NPC_S_TOOLS_LIST_DATA*>(list);
  if (!l || !data || len < 1 || len > NPC_D_TOOLS_LIST_MAX_BLOCK) return 0;
  auto* node = static_cast<NPC_S_TOOLS_LIST_NODE*>(malloc(kHeadSize + static_cast<size_t>(len)));
  if (!node) return 0;
  node->pNext = nullptr;
  node->iLen = len;
  memcpy(blockOf(node), data, static_cast<size_t>(len));
  ListLock lk(l);
  if (l->pTail)
    l->pTail->pNext = node;
  else
    l->pHead = node;
  l->pTail = node;
  ++l->iNodeNum;
  return 1;
}

// Removes the node whose block is given. The block is looked up in the list first, so a
// pointer that is not one of its blocks fails (0) without touching memory around it.
int NPC_F_TOOLS_LIST_DelData(void* list, void* block) {
  auto* l = static_cast<NPC_S_TOOLS_LIST_DATA*>(list);
  if (!l || !block) return 0;
  ListLock lk(l);
  NPC_S_TOOLS_LIST_NODE* prev = nullptr;
  for (NPC_S_TOOLS_LIST_NODE* n = l->pHead; n; prev = n, n = n->pNext) {
    if (blockOf(n) == block) {
      unlinkNode(l, prev, n);
      return 1;
    }
  }
  return 0;
}

// Copies the head block into the caller's growable buffer, sets *len and removes the head.
// 0 when the list is empty; when the buffer cannot grow the head stays in the list.
int NPC_F_TOOLS_LIST_GetListHeadData(void* list, char** buf, int* cap, int* len) {
  auto* l = static_cast<NPC_S_TOOLS_LIST_DATA*>(list);
  if (!l || !buf || !cap || !len) return 0;
  ListLock lk(l);
  NPC_S_TOOLS_LIST_NODE* head = l->pHead;
  if (!head) return 0;
  if (!NPC_F_MEM_MG_SetDataToBuf(buf, cap, len, blockOf(head), head->iLen)) return 0;
  unlinkNode(l, nullptr, head);
  return 1;
}

int NPC_F_TOOLS_LIST_MoveFirst(void* list) {
  auto* l = static_cast<NPC_S_TOOLS_LIST_DATA*>(list);
  if (!l) return 0;
  ListLock lk(l);
  l->pCursor = nullptr;
  return 1;
}

// Returns the block after the one returned last (the head after MoveFirst) and its length
// in *len; null at the end, where the cursor stays so that later appends are still seen.
void* NPC_F_TOOLS_LIST_QueryNextNode(void* list, int* len) {
  auto* l = static_cast<NPC_S_TOOLS_LIST_DATA*>(list);
  if (!l) return nullptr;
  ListLock lk(l);
  NPC_S_TOOLS_LIST_NODE* next = l->pCursor ? l->pCursor->pNext : l->pHead;
  if (!next) return nullptr;
  l->pCursor = next;
  if (len) *len = next->iLen;
  return blockOf(next);
}

// The caller's cursor is the next node to visit; it stays valid only while that node is in
// the list.
void* NPC_F_TOOLS_LIST_GetFirsNodetPos(void* list) {
  auto* l = static_cast<NPC_S_TOOLS_LIST_DATA*>(list);
  if (!l) return nullptr;
  ListLock lk(l);
  return l->pHead;
}

// Returns the block at *pos with its length and moves *pos to the following node; null when
// *pos is at the end.
void* NPC_F_TOOLS_LIST_GetNextNodeData(void* list, void** pos, int* len) {
  auto* l = static_cast<NPC_S_TOOLS_LIST_DATA*>(list);
  if (!l || !pos || !*pos) return nullptr;
  ListLock lk(l);
  auto* node = static_cast<NPC_S_TOOLS_LIST_NODE*>(*pos);
  *pos = node->pNext;
  if (len) *len = node->iLen;
  return blockOf(node);
}

int NPC_F_TOOLS_LIST_QueryNodeNum(void* list) {
  auto* l = static_cast<NPC_S_TOOLS_LIST_DATA*>(list);
  if (!l) return 0;
  ListLock lk(l);
  return l->iNodeNum;
}

void NPC_F_TOOLS_LIST_ReleaseDataBuf(char** buf) { NPC_F_MEM_MG_FreeDataBuf(buf, nullptr, nullptr); }
