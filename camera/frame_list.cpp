// The frame list, the alarm list and the pass-through data list.
//
// Each list is a singly linked FIFO under one mutex with one condition variable on which
// readers wait for an item. Every item is one malloc block: the link, the record handed to the
// reader and the copy of the data (plus one zero byte), so a take hands the record over
// without copying and a release is one free. Blocks are made and filled before the mutex is
// taken, so the writer (the engine thread) holds the lock only to link the block in; a writer
// signals the condition only while a reader waits.
#include "camera/frame_list.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "runtime/log.h"
#include "runtime/thread.h"

namespace {

// The parts every list shares: the FIFO, its count and capacity, the lock and the readers' wait.
template <typename Node>
struct ListCore {
  std::mutex mu;
  std::condition_variable itemReady;
  int readersWaiting = 0;
  Node* head = nullptr;
  Node* tail = nullptr;
  int count = 0;
  int capacity = 0;

  // Links a node at the tail (mutex held) and wakes one waiting reader.
  void append(Node* n) {
    n->next = nullptr;
    if (tail)
      tail->next = n;
    else
      head = n;
    tail = n;
    ++count;
    if (readersWaiting > 0) itemReady.notify_one();
  }
  // Unlinks node n whose predecessor is prev (null for the head); mutex held.
  void unlink(Node* prev, Node* n) {
    if (prev)
      prev->next = n->next;
    else
      head = n->next;
    if (tail == n) tail = prev;
    n->next = nullptr;
    --count;
  }
  // Waits (mutex held through lk) until an item is held or waitMs has passed. True when one is.
  bool waitItem(std::unique_lock<std::mutex>& lk, int waitMs) {
    if (head) return true;
    if (waitMs <= 0) return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    ++readersWaiting;
    const bool got = itemReady.wait_until(lk, deadline, [this] { return head != nullptr; });
    --readersWaiting;
    return got;
  }
  // Frees every node (mutex held).
  template <typename Free>
  void freeAll(Free freeNode) {
    Node* n = head;
    while (n) {
      Node* next = n->next;
      freeNode(n);
      n = next;
    }
    head = tail = nullptr;
    count = 0;
  }
};

// --- Frame items -------------------------------------------------------------------------------

struct FrameNode {
  FrameNode* next;
  NPC_S_MPI_MON_MEDIA_FRAME frame;
};

FrameNode* frameNodeOf(NPC_S_MPI_MON_MEDIA_FRAME* frame) {
  return reinterpret_cast<FrameNode*>(reinterpret_cast<char*>(frame) - offsetof(FrameNode, frame));
}

void freeFrameNode(FrameNode* n) { free(n); }

}  // namespace

struct NPC_S_VPI_TOOLS_MFL_DATA {
  ListCore<FrameNode> core;
  int videoCount = 0;
  int audioCount = 0;
  int markerCount = 0;
  int lastVideoTimestamp = 0;
  int lastAudioTimestamp = 0;
  int lastVideoPlayPos = 0;
};

namespace {

// Makes a frame block: the head copy and the data (or the zeroed empty buffer), with a zero
// byte behind the data. Null when memory runs out.
FrameNode* makeFrameNode(const NPC_S_MON_MEDIA_FRAME_HEAD* head, const void* data, int length) {
  const size_t dataSize = length > 0 ? static_cast<size_t>(length) : NPC_D_VPI_TOOLS_MFL_EMPTY_DATA_SIZE;
  FrameNode* n = NPC_F_THREAD_TEST_ShouldFail("NPC_F_VPI_TOOLS_MFL_AddFrameData malloc")
                     ? nullptr
                     : static_cast<FrameNode*>(malloc(sizeof(FrameNode) + dataSize + 1));
  if (!n) return nullptr;
  n->next = nullptr;
  memcpy(&n->frame.tFrameHead, head, sizeof(NPC_S_MON_MEDIA_FRAME_HEAD));
  n->frame.pFrameData = reinterpret_cast<uint8_t*>(n + 1);
  if (length > 0) {
    memcpy(n->frame.pFrameData, data, static_cast<size_t>(length));
    n->frame.iFrameDataLen = length;
  } else {
    memset(n->frame.pFrameData, 0, dataSize);
    n->frame.iFrameDataLen = 0;
  }
  n->frame.pFrameData[dataSize] = 0;
  return n;
}

// The per-type bookkeeping of a frame leaving the list (mutex held).
void countOut(NPC_S_VPI_TOOLS_MFL_DATA* l, const FrameNode* n) {
  switch (n->frame.tFrameHead.iMediaType) {
    case NPC_D_MON_MEDIA_TYPE_VIDEO:
      if (l->videoCount > 0) --l->videoCount;
      break;
    case NPC_D_MON_MEDIA_TYPE_AUDIO:
      if (l->audioCount > 0) --l->audioCount;
      break;
    case NPC_D_MON_MEDIA_TYPE_STREAM_RESET:
      if (l->markerCount > 0) --l->markerCount;
      break;
    default:
      break;
  }
}

void zeroCounts(NPC_S_VPI_TOOLS_MFL_DATA* l) { l->videoCount = l->audioCount = l->markerCount = 0; }

// The shared add: checks the arguments, drops the frame when the list is full, otherwise links
// a copy in. withCounts selects the per-type bookkeeping.
int addFrame(NPC_H_VPI_TOOLS_MFL list, const NPC_S_MON_MEDIA_FRAME_HEAD* head, const void* data, int length,
             bool withCounts, const char* fn) {
  if (!list) {
    NPC_F_LOG_SR_WriteLogF("%s in_hFrameList is NULL.", fn);
    return 0;
  }
  if (length < 0) {
    NPC_F_LOG_SR_WriteLogF("%s in_iMediaDataLen < 0.", fn);
    return 0;
  }
  if (!head || (!data && length > 0)) {
    NPC_F_LOG_SR_WriteLogF("%s in_pMediaData is NULL.", fn);
    return 0;
  }
  {
    std::lock_guard<std::mutex> lk(list->core.mu);
    if (list->core.count >= list->core.capacity) return 1;
  }
  FrameNode* n = makeFrameNode(head, data, length);
  if (!n) {
    NPC_F_LOG_SR_WriteLogF("%s malloc fail.", fn);
    return 0;
  }
  std::lock_guard<std::mutex> lk(list->core.mu);
  if (list->core.count >= list->core.capacity) {
    freeFrameNode(n);
    return 1;
  }
  if (withCounts) {
    const NPC_S_MON_MEDIA_FRAME_HEAD& h = n->frame.tFrameHead;
    switch (h.iMediaType) {
      case NPC_D_MON_MEDIA_TYPE_STREAM_RESET:
        ++list->markerCount;
        break;
      case NPC_D_MON_MEDIA_TYPE_AUDIO:
        ++list->audioCount;
        list->lastAudioTimestamp = h.iTimestamp;
        break;
      case NPC_D_MON_MEDIA_TYPE_VIDEO:
        ++list->videoCount;
        list->lastVideoTimestamp = h.iTimestamp;
        list->lastVideoPlayPos = h.iPlayPos;
        break;
      default:
        break;
    }
  }
  list->core.append(n);
  return 1;
}

// The shared take of the oldest frame, waiting up to waitMs.
NPC_S_MPI_MON_MEDIA_FRAME* takeFrame(NPC_H_VPI_TOOLS_MFL list, int waitMs, bool withCounts) {
  if (!list) return nullptr;
  std::unique_lock<std::mutex> lk(list->core.mu);
  if (!list->core.waitItem(lk, waitMs)) return nullptr;
  FrameNode* n = list->core.head;
  list->core.unlink(nullptr, n);
  if (withCounts) {
    countOut(list, n);
    if (list->core.count == 0) zeroCounts(list);
  }
  return &n->frame;
}

}  // namespace

NPC_H_VPI_TOOLS_MFL NPC_F_VPI_TOOLS_MFL_CreateFrameList(int capacity) {
  NPC_H_VPI_TOOLS_MFL l = NPC_F_THREAD_TEST_ShouldFail("NPC_F_VPI_TOOLS_MFL_CreateFrameList malloc")
                              ? nullptr
                              : new (std::nothrow) NPC_S_VPI_TOOLS_MFL_DATA;
  if (!l) {
    NPC_F_LOG_SR_WriteLog("NPC_F_VPI_TOOLS_MFL_CreateFrameList malloc fail.", 2);
    return nullptr;
  }
  l->core.capacity = capacity > 0 ? capacity : 1;
  return l;
}

void NPC_F_VPI_TOOLS_MFL_ReleaseFrameList(NPC_H_VPI_TOOLS_MFL list) {
  if (!list) return;
  {
    std::lock_guard<std::mutex> lk(list->core.mu);
    list->core.freeAll(&freeFrameNode);
  }
  delete list;
}

void NPC_F_VPI_TOOLS_MFL_ClearListData(NPC_H_VPI_TOOLS_MFL list) {
  if (!list) return;
  std::lock_guard<std::mutex> lk(list->core.mu);
  list->core.freeAll(&freeFrameNode);
  zeroCounts(list);
}

int NPC_F_VPI_TOOLS_MFL_AddFrameData(NPC_H_VPI_TOOLS_MFL list, const NPC_S_MON_MEDIA_FRAME_HEAD* head,
                                     const void* data, int length) {
  return addFrame(list, head, data, length, true, "NPC_F_VPI_TOOLS_MFL_AddFrameData");
}

int NPC_F_VPI_TOOLS_MFL_OTH_AddFrameData(NPC_H_VPI_TOOLS_MFL list, const NPC_S_MON_MEDIA_FRAME_HEAD* head,
                                         const void* data, int length) {
  return addFrame(list, head, data, length, false, "NPC_F_VPI_TOOLS_MFL_OTH_AddFrameData");
}

NPC_S_MPI_MON_MEDIA_FRAME* NPC_F_VPI_TOOLS_MFL_GetFrameData(NPC_H_VPI_TOOLS_MFL list, int waitMs) {
  return takeFrame(list, waitMs, true);
}

NPC_S_MPI_MON_MEDIA_FRAME* NPC_F_VPI_TOOLS_MFL_OTH_GetFrameData(NPC_H_VPI_TOOLS_MFL list, int waitMs) {
  return takeFrame(list, waitMs, false);
}

// Type 0 takes the head; types 1 and 2 scan from the oldest frame for the first of their kind
// and unlink it wherever it stands, so the frames of the other kind keep their order.
NPC_S_MPI_MON_MEDIA_FRAME* NPC_F_VPI_TOOLS_MFL_GetSpecTypeFrameData(NPC_H_VPI_TOOLS_MFL list, int type) {
  if (!list) return nullptr;
  int32_t wanted;
  switch (type) {
    case NPC_D_VPI_TOOLS_MFL_TYPE_ALL:
      wanted = -1;
      break;
    case NPC_D_VPI_TOOLS_MFL_TYPE_VIDEO:
      wanted = NPC_D_MON_MEDIA_TYPE_VIDEO;
      break;
    case NPC_D_VPI_TOOLS_MFL_TYPE_AUDIO:
      wanted = NPC_D_MON_MEDIA_TYPE_AUDIO;
      break;
    default:
      return nullptr;
  }
  std::lock_guard<std::mutex> lk(list->core.mu);
  FrameNode* prev = nullptr;
  FrameNode* n = list->core.head;
  if (wanted >= 0) {
    while (n && n->frame.tFrameHead.iMediaType != wanted) {
      prev = n;
      n = n->next;
    }
  }
  if (!n) {
    // Nothing of the kind is held: its count is 0 whatever it said.
    if (wanted == NPC_D_MON_MEDIA_TYPE_VIDEO) list->videoCount = 0;
    if (wanted == NPC_D_MON_MEDIA_TYPE_AUDIO) list->audioCount = 0;
    if (list->core.count == 0) zeroCounts(list);
    return nullptr;
  }
  list->core.unlink(prev, n);
  countOut(list, n);
  if (list->core.count == 0) zeroCounts(list);
  return &n->frame;
}

void NPC_F_VPI_TOOLS_MFL_ReleaseFrame(NPC_S_MPI_MON_MEDIA_FRAME* frame) {
  if (frame) freeFrameNode(frameNodeOf(frame));
}

int NPC_F_VPI_TOOLS_MFL_GetFrameNum(NPC_H_VPI_TOOLS_MFL list, int type) {
  if (!list) return 0;
  std::lock_guard<std::mutex> lk(list->core.mu);
  switch (type) {
    case NPC_D_VPI_TOOLS_MFL_TYPE_ALL:
      return list->core.count;
    case NPC_D_VPI_TOOLS_MFL_TYPE_VIDEO:
      return list->videoCount;
    case NPC_D_VPI_TOOLS_MFL_TYPE_AUDIO:
      return list->audioCount;
    default:
      return 0;
  }
}

int NPC_F_VPI_TOOLS_MFL_GetFrameTimestamp(NPC_H_VPI_TOOLS_MFL list, int type) {
  if (!list) return 0;
  std::lock_guard<std::mutex> lk(list->core.mu);
  if (type == NPC_D_VPI_TOOLS_MFL_TYPE_VIDEO) return list->lastVideoTimestamp;
  if (type == NPC_D_VPI_TOOLS_MFL_TYPE_AUDIO) return list->lastAudioTimestamp;
  return 0;
}

int NPC_F_VPI_TOOLS_MFL_GetNodeNum(NPC_H_VPI_TOOLS_MFL list) { return NPC_F_VPI_TOOLS_MFL_GetFrameNum(list, 0); }

int NPC_F_VPI_TOOLS_MFL_GetMarkerNum(NPC_H_VPI_TOOLS_MFL list) {
  if (!list) return 0;
  std::lock_guard<std::mutex> lk(list->core.mu);
  return list->markerCount;
}

void NPC_F_VPI_TOOLS_MFL_RP_UpdateVFrameRate(NPC_H_VPI_TOOLS_MFL list, int playPos, int frameRate) {
  if (!list) return;
  std::lock_guard<std::mutex> lk(list->core.mu);
  for (FrameNode* n = list->core.head; n; n = n->next) {
    NPC_S_MON_MEDIA_FRAME_HEAD& h = n->frame.tFrameHead;
    if (h.iMediaType == NPC_D_MON_MEDIA_TYPE_VIDEO && h.iPlayPos == playPos) h.iVideoFrameRate = frameRate;
  }
}

int NPC_F_VPI_TOOLS_MFL_RP_GetLastPlayPos(NPC_H_VPI_TOOLS_MFL list) {
  if (!list) return 0;
  std::lock_guard<std::mutex> lk(list->core.mu);
  return list->lastVideoPlayPos;
}

// --- Alarm and pass-through lists ----------------------------------------------------------------

namespace {

// One item of either list: the link and, for the alarm list, the alarm record, for the
// pass-through list the data record; the bytes follow the node.
struct ItemNode {
  ItemNode* next;
  NPC_S_MPI_MON_ALARM_DATA alarm;
  NPC_S_MPI_MON_P2PPORT_DATA p2p;
};

enum class ItemKind { Alarm, P2p };

void freeItemNode(ItemNode* n) { free(n); }

}  // namespace

struct NPC_S_VPI_TOOLS_AL_DATA {
  ListCore<ItemNode> core;
  ItemKind kind;
};

namespace {

NPC_H_VPI_TOOLS_AL createItemList(int capacity, ItemKind kind) {
  NPC_H_VPI_TOOLS_AL l = NPC_F_THREAD_TEST_ShouldFail("NPC_F_VPI_TOOLS_AL_CreateList malloc")
                             ? nullptr
                             : new (std::nothrow) NPC_S_VPI_TOOLS_AL_DATA;
  if (!l) return nullptr;
  l->core.capacity = capacity > 0 ? capacity : 1;
  l->kind = kind;
  return l;
}

void releaseItemList(NPC_H_VPI_TOOLS_AL list, ItemKind kind) {
  if (!list || list->kind != kind) return;
  {
    std::lock_guard<std::mutex> lk(list->core.mu);
    list->core.freeAll(&freeItemNode);
  }
  delete list;
}

void clearItemList(NPC_H_VPI_TOOLS_AL list, ItemKind kind) {
  if (!list || list->kind != kind) return;
  std::lock_guard<std::mutex> lk(list->core.mu);
  list->core.freeAll(&freeItemNode);
}

// Links a copy of length bytes in (and the alarm head for the alarm list); 0 when the list is
// full, the arguments are refused or memory runs out.
int addItem(NPC_H_VPI_TOOLS_AL list, ItemKind kind, const NPC_S_MPI_MON_ALARM_HEAD* head, const void* data,
            int length) {
  if (!list || list->kind != kind || !data || length < 1) return 0;
  if (kind == ItemKind::Alarm && !head) return 0;
  {
    std::lock_guard<std::mutex> lk(list->core.mu);
    if (list->core.count >= list->core.capacity) return 0;
  }
  ItemNode* n = NPC_F_THREAD_TEST_ShouldFail("NPC_F_VPI_TOOLS_AL_AddData malloc")
                    ? nullptr
                    : static_cast<ItemNode*>(malloc(sizeof(ItemNode) + static_cast<size_t>(length) + 1));
  if (!n) return 0;
  memset(n, 0, sizeof(ItemNode));
  uint8_t* bytes = reinterpret_cast<uint8_t*>(n + 1);
  memcpy(bytes, data, static_cast<size_t>(length));
  bytes[length] = 0;
  if (kind == ItemKind::Alarm) {
    memcpy(&n->alarm.tAlarmHead, head, sizeof(NPC_S_MPI_MON_ALARM_HEAD));
    n->alarm.pAlarmText = reinterpret_cast<char*>(bytes);
    n->alarm.iAlarmTextLen = length;
  } else {
    n->p2p.pData = bytes;
    n->p2p.iDataLen = length;
  }
  std::lock_guard<std::mutex> lk(list->core.mu);
  if (list->core.count >= list->core.capacity) {
    freeItemNode(n);
    return 0;
  }
  list->core.append(n);
  return 1;
}

ItemNode* takeItem(NPC_H_VPI_TOOLS_AL list, ItemKind kind, int waitMs) {
  if (!list || list->kind != kind) return nullptr;
  std::unique_lock<std::mutex> lk(list->core.mu);
  if (!list->core.waitItem(lk, waitMs)) return nullptr;
  ItemNode* n = list->core.head;
  list->core.unlink(nullptr, n);
  return n;
}

}  // namespace

NPC_H_VPI_TOOLS_AL NPC_F_VPI_TOOLS_AL_CreateAlarmList(int capacity) { return createItemList(capacity, ItemKind::Alarm); }
NPC_H_VPI_TOOLS_AL NPC_F_VPI_TOOLS_AL_CreateP2pPortList(int capacity) { return createItemList(capacity, ItemKind::P2p); }
void NPC_F_VPI_TOOLS_AL_ReleaseAlarmList(NPC_H_VPI_TOOLS_AL list) { releaseItemList(list, ItemKind::Alarm); }
void NPC_F_VPI_TOOLS_AL_ReleaseP2pPortList(NPC_H_VPI_TOOLS_AL list) { releaseItemList(list, ItemKind::P2p); }
void NPC_F_VPI_TOOLS_AL_ClearListData(NPC_H_VPI_TOOLS_AL list) { clearItemList(list, ItemKind::Alarm); }
void NPC_F_VPI_TOOLS_AL_ClearP2pPortListData(NPC_H_VPI_TOOLS_AL list) { clearItemList(list, ItemKind::P2p); }

int NPC_F_VPI_TOOLS_AL_AddAlarmData(NPC_H_VPI_TOOLS_AL list, const NPC_S_MPI_MON_ALARM_HEAD* head, const char* text,
                                    int length) {
  return addItem(list, ItemKind::Alarm, head, text, length);
}

int NPC_F_VPI_TOOLS_AL_AddP2pPortData(NPC_H_VPI_TOOLS_AL list, const void* data, int length) {
  return addItem(list, ItemKind::P2p, nullptr, data, length);
}

NPC_S_MPI_MON_ALARM_DATA* NPC_F_VPI_TOOLS_AL_GetAlarmData(NPC_H_VPI_TOOLS_AL list, int waitMs) {
  ItemNode* n = takeItem(list, ItemKind::Alarm, waitMs);
  return n ? &n->alarm : nullptr;
}

NPC_S_MPI_MON_P2PPORT_DATA* NPC_F_VPI_TOOLS_AL_GetP2pPortData(NPC_H_VPI_TOOLS_AL list, int waitMs) {
  ItemNode* n = takeItem(list, ItemKind::P2p, waitMs);
  return n ? &n->p2p : nullptr;
}

int NPC_F_VPI_TOOLS_AL_GetNodeNum(NPC_H_VPI_TOOLS_AL list) {
  if (!list) return 0;
  std::lock_guard<std::mutex> lk(list->core.mu);
  return list->core.count;
}

void NPC_F_VPI_TOOLS_AL_ReleaseAlarmData(NPC_S_MPI_MON_ALARM_DATA* alarm) {
  if (alarm) freeItemNode(reinterpret_cast<ItemNode*>(reinterpret_cast<char*>(alarm) - offsetof(ItemNode, alarm)));
}

void NPC_F_VPI_TOOLS_AL_ReleaseP2pPortData(NPC_S_MPI_MON_P2PPORT_DATA* data) {
  if (data) freeItemNode(reinterpret_cast<ItemNode*>(reinterpret_cast<char*>(data) - offsetof(ItemNode, p2p)));
}
