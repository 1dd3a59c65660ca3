// The socket event engine (see netcom.h): the 1024-slot socket table, the per-socket priority
// send queues, the wait pass over one poll() with the wake-up eventfd, the event delivery to
// the callback or the event queue, and the optional worker thread.
//
// Invariants kept here:
// - A port id is (tag << 16) | slot with tag in [1, 0xFFFF], never the slot's previous tag;
//   a lookup accepts a record only when it is in use and holds exactly that id.
// - A send queue is in priority order (higher first, equal in arrival order) except for a
//   partly written first node, which is "pinned": it stays first until it is fully written,
//   so a TCP stream never interleaves two messages.
// - Events are built in one buffer owned by the instance (64-byte head plus the 8192-byte
//   read area), so a pass allocates nothing for callback delivery.
// - A handler may close the slot it handles (the callback may close anything); every step
//   after a delivery re-checks the slot by its port id.
#include "net/netcom.h"

#include <errno.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "net/sys_socket.h"
#include "net/syscall.h"
#include "runtime/clock.h"
#include "runtime/log.h"
#include "runtime/queue.h"
#include "runtime/random.h"
#include "runtime/text.h"
#include "runtime/thread.h"

namespace {

constexpr int kPeerTextLen = 40;
constexpr int kEventHeadLen = static_cast<int>(sizeof(NPC_S_NETCOM_DATA_HEAD));
constexpr int kThreadPassWaitMs = 20;
constexpr int kPollFailSleepMs = 20;
constexpr int kEventQueueWaitMs = 4000;
constexpr uint32_t kUdpStatReportBytes = 1048575;
constexpr int64_t kCacheReportSpacingMs = 2000;
constexpr int kMaxUdpDatagramsPerPass = 2;

// One queued message. The data follows the node in the same allocation.
struct SendNode {
  SendNode* pNext;
  uint32_t dwSent;   // bytes already written
  uint32_t dwTotal;  // bytes of the message
  int iPriority;
  int iDataClass;
  uint32_t dwTag;
  int bNotify;
  unsigned short usPeerPort;  // UDP destination
  char szPeerIpaddr[kPeerTextLen];
  char* Data() { return reinterpret_cast<char*>(this + 1); }
};

// A socket's send queue. levels holds, for each priority present in the ordered part of the
// queue (everything but a pinned first node), its last node, highest priority first; an
// insertion walks only these levels.
struct SendQueue {
  struct Level {
    int iPriority;
    SendNode* pTail;
  };
  SendNode* pHead = nullptr;
  SendNode* pTail = nullptr;
  uint32_t dwCount = 0;
  uint64_t qwBytes = 0;
  bool bPinned = false;
  std::vector<Level> levels;

  // Puts node behind the last node whose priority is greater than or equal to its own, but
  // never ahead of a pinned first node.
  void Insert(SendNode* node) {
    const int p = node->iPriority;
    SendNode* after = nullptr;
    size_t idx = levels.size();
    for (size_t i = 0; i < levels.size(); ++i) {
      if (levels[i].iPriority == p) {
        InsertAfter(levels[i].pTail, node);
        levels[i].pTail = node;
        ++dwCount;
        qwBytes += node->dwTotal;
        return;
      }
      if (levels[i].iPriority < p) {
        idx = i;
        break;
      }
      after = levels[i].pTail;
    }
    if (!after && bPinned) after = pHead;
    // Room for the new level first, so that nothing below can throw once the node is linked.
    levels.reserve(levels.size() + 1);
    if (after) {
      InsertAfter(after, node);
    } else {
      node->pNext = pHead;
      pHead = node;
      if (!pTail) pTail = node;
    }
    levels.insert(levels.begin() + static_cast<std::ptrdiff_t>(idx), Level{p, node});
    ++dwCount;
    qwBytes += node->dwTotal;
  }

  // Marks the first node as partly written: it leaves the ordered part.
  void Pin() {
    if (bPinned || !pHead) return;
    if (!levels.empty() && levels.front().pTail == pHead) levels.erase(levels.begin());
    bPinned = true;
  }

  // Unlinks and returns the first node.
  SendNode* PopHead() {
    SendNode* node = pHead;
    if (!node) return nullptr;
    pHead = node->pNext;
    if (!pHead) pTail = nullptr;
    if (bPinned) {
      bPinned = false;
    } else if (!levels.empty() && levels.front().pTail == node) {
      levels.erase(levels.begin());
    }
    --dwCount;
    qwBytes -= node->dwTotal;
    node->pNext = nullptr;
    return node;
  }

  // Frees every node but a pinned first one.
  void ClearKeepPinned() {
    SendNode* keep = bPinned ? pHead : nullptr;
    SendNode* n = keep ? keep->pNext : pHead;
    while (n) {
      SendNode* next = n->pNext;
      std::free(n);
      n = next;
    }
    levels.clear();
    if (keep) {
      keep->pNext = nullptr;
      pHead = pTail = keep;
      dwCount = 1;
      qwBytes = keep->dwTotal;
    } else {
      pHead = pTail = nullptr;
      dwCount = 0;
      qwBytes = 0;
      bPinned = false;
    }
  }

  void FreeAll() {
    bPinned = false;
    ClearKeepPinned();
  }

 private:
  void InsertAfter(SendNode* at, SendNode* node) {
    node->pNext = at->pNext;
    at->pNext = node;
    if (pTail == at) pTail = node;
  }
};

struct SocketRecord {
  int bInUse = 0;
  uint32_t dwPortId = 0;
  uint32_t dwLastTag = 0;  // survives reuse so the next id differs
  int iSocket = -1;
  int iSocketType = 0;
  unsigned short usLocalPort = 0;
  char szPeerIpaddr[kPeerTextLen] = {};
  unsigned short usPeerPort = 0;
  int bRead = 0;
  int bWrite = 0;
  int bBroadcast = 0;
  SendQueue tQueue;
  uint32_t dwRecvCount = 0;
  int64_t qwLastCacheReportTick = 0;
  bool bCacheReported = false;

  // Zeroes the record for reuse, keeping its allocation and its last tag.
  void Reset() {
    tQueue.FreeAll();
    bInUse = 0;
    dwPortId = 0;
    iSocket = -1;
    iSocketType = 0;
    usLocalPort = 0;
    szPeerIpaddr[0] = '\0';
    usPeerPort = 0;
    bRead = bWrite = bBroadcast = 0;
    dwRecvCount = 0;
    qwLastCacheReportTick = 0;
    bCacheReported = false;
  }
};

// A polled socket of the current pass.
struct PollRef {
  int iSlot;
  uint32_t dwPortId;
};

void CopyText(char* dst, size_t dstSize, const char* src) {
  if (!src) src = "";
  NPC_F_TEXT_CopyRaw(dst, dstSize, src, std::strlen(src));
}

}  // namespace

struct NPC_S_NET_SELECT_MCSERVER_DATA {
  std::atomic<int> bRun{0};
  void* pThread = nullptr;
  int bUdpWait = 0;
  int bThreadMode = 0;
  NPC_F_NETCOM_EVENT_CALLBACK pfCallback = nullptr;
  void* pUser = nullptr;
  void* pEventQueue = nullptr;
  std::recursive_mutex mutex;  // thread mode only
  int iMaxSendBufSize = NPC_D_NETCOM_DEFAULT_MAX_SEND_BUF_SIZE;
  std::unique_ptr<SocketRecord> slots[NPC_D_NETCOM_MAX_SOCKET_NUM];
  int iHighestSlot = -1;
  int iWakeFd = -1;
  std::vector<pollfd> pollFds;
  std::vector<PollRef> pollRefs;
  char* pEventBuf = nullptr;  // head + NPC_D_NETCOM_RECV_BUF_SIZE
};

namespace {

using Inst = NPC_S_NET_SELECT_MCSERVER_DATA;

const NPC_S_NET_SYSCALL_TABLE& Sys() { return *NPC_F_NET_SYSCALL_Get(); }

// Holds the instance mutex in thread mode; thread-less engines have a single caller.
class InstLock {
 public:
  explicit InstLock(Inst* inst) : inst_(inst) {
    if (inst_->bThreadMode) inst_->mutex.lock();
  }
  ~InstLock() {
    if (inst_->bThreadMode) inst_->mutex.unlock();
  }
  InstLock(const InstLock&) = delete;
  InstLock& operator=(const InstLock&) = delete;

 private:
  Inst* inst_;
};

SocketRecord* Lookup(Inst* inst, uint32_t portId) {
  const uint32_t slot = portId & 0xFFFFu;
  if (slot >= static_cast<uint32_t>(NPC_D_NETCOM_MAX_SOCKET_NUM)) return nullptr;
  SocketRecord* rec = inst->slots[slot].get();
  if (!rec || !rec->bInUse || rec->dwPortId != portId) return nullptr;
  return rec;
}

// Looks the id up and logs "<op> dwPortId error." when it is not valid.
SocketRecord* LookupOrLog(Inst* inst, uint32_t portId, const char* op) {
  SocketRecord* rec = Lookup(inst, portId);
  if (!rec) NPC_F_LOG_SR_WriteLogF("%s dwPortId error.", op);
  return rec;
}

void RecomputeHighest(Inst* inst) {
  int h = NPC_D_NETCOM_MAX_SOCKET_NUM - 1;
  while (h >= 0 && !(inst->slots[h] && inst->slots[h]->bInUse)) --h;
  inst->iHighestSlot = h;
}

// In thread mode the worker may sit in poll() with an older set; a change of the set wakes it.
void WakeWorker(Inst* inst) {
  if (inst->bThreadMode) NPC_F_NETCOM_WakeUp(inst);
}

// Registers a descriptor in a free slot: a record that exists but is not in use (lowest index
// first), else a new record in the lowest empty slot. Null when all 1024 are taken.
SocketRecord* AddSocket(Inst* inst, int fd, int type, int readFlag, int writeFlag) {
  int slot = -1;
  for (int i = 0; i < NPC_D_NETCOM_MAX_SOCKET_NUM; ++i) {
    if (inst->slots[i] && !inst->slots[i]->bInUse) {
      slot = i;
      break;
    }
  }
  if (slot < 0) {
    for (int i = 0; i < NPC_D_NETCOM_MAX_SOCKET_NUM; ++i) {
      if (!inst->slots[i]) {
        inst->slots[i].reset(new (std::nothrow) SocketRecord());
        if (!inst->slots[i]) {
          NPC_F_LOG_SR_WriteLog("NPC_F_NET_SELECT_MC_AddSocketId malloc fail.", 2);
          return nullptr;
        }
        slot = i;
        break;
      }
    }
  }
  if (slot < 0) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NET_SELECT_MC_AddSocketId not idle pos.", 2);
    return nullptr;
  }
  SocketRecord* rec = inst->slots[slot].get();
  rec->Reset();
  rec->dwLastTag = NPC_F_SYS_RANDOM_NewTag(rec->dwLastTag, 0xFFFFu);
  rec->dwPortId = (rec->dwLastTag << 16) | static_cast<uint32_t>(slot);
  rec->bInUse = 1;
  rec->iSocket = fd;
  rec->iSocketType = type;
  rec->bRead = readFlag;
  rec->bWrite = writeFlag;
  if (slot > inst->iHighestSlot) inst->iHighestSlot = slot;
  WakeWorker(inst);
  return rec;
}

// Closes the record's descriptor, frees its queue and releases the slot. No event.
void CloseRecord(Inst* inst, SocketRecord* rec) {
  if (!rec || !rec->bInUse) return;
  NPC_F_SYS_SOCKET_Close(rec->iSocket);
  rec->Reset();
  RecomputeHighest(inst);
}

// Hands one event to the owner. The data (dataLen bytes) already lies behind the head in the
// event buffer. Returns false when the event queue stayed full (the event is lost and logged).
bool Deliver(Inst* inst, int type, unsigned short transType, unsigned short localPort,
             uint32_t portId, const char* peer, unsigned short peerPort, uint32_t serial,
             int dataLen) {
  NPC_S_NETCOM_DATA_HEAD head;
  std::memset(&head, 0, sizeof head);
  head.iEventType = type;
  head.usTransType = transType;
  head.usLocalPort = localPort;
  head.dwPortId = portId;
  CopyText(head.szPeerIpaddr, sizeof head.szPeerIpaddr, peer);
  head.usPeerPort = peerPort;
  head.dwSerialNo = serial;
  head.iDataLen = dataLen;
  std::memcpy(inst->pEventBuf, &head, sizeof head);
  const int total = kEventHeadLen + dataLen;
  if (inst->pfCallback) {
    inst->pfCallback(inst->pUser, inst->pEventBuf, total);
    return true;
  }
  if (!NPC_F_TOOLS_QUEUE_SetData(inst->pEventQueue, inst->pEventBuf, total, kEventQueueWaitMs)) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NET_SELECT_SendNetEvent NPC_F_TOOLS_QUEUE_SetData fail.", 2);
    return false;
  }
  return true;
}

bool DeliverConnectResult(Inst* inst, SocketRecord* rec, int result) {
  NPC_S_NETCOM_CONNECT_RESULT res;
  std::memset(&res, 0, sizeof res);
  res.iResult = result;
  CopyText(res.sResultInfo, sizeof res.sResultInfo, result == 0 ? "success" : "连接失败");
  std::memcpy(inst->pEventBuf + kEventHeadLen, &res, sizeof res);
  return Deliver(inst, NPC_D_NETCOM_EVENT_CONNECT_RESULT, 0, 0, rec->dwPortId, rec->szPeerIpaddr,
                 rec->usPeerPort, 0, static_cast<int>(sizeof res));
}

bool DeliverDisconnect(Inst* inst, SocketRecord* rec) {
  return Deliver(inst, NPC_D_NETCOM_EVENT_DISCONNECT, 0, 0, rec->dwPortId, rec->szPeerIpaddr,
                 rec->usPeerPort, 0, 0);
}

// --- Pass handlers ------------------------------------------------------------------------------

// A pending connect finished one way or the other: exactly one CONNECT_RESULT.
void OnConnectDone(Inst* inst, SocketRecord* rec, short revents) {
  const uint32_t id = rec->dwPortId;
  if (NPC_F_SYS_SOCKET_GetConnectError(rec->iSocket, revents) != 0) {
    DeliverConnectResult(inst, rec, 1);
    // The callback may already have closed it.
    if ((rec = Lookup(inst, id)) != nullptr) CloseRecord(inst, rec);
    return;
  }
  rec->iSocketType = NPC_D_NETCOM_SOCKET_TYPE_TCP_CONNECT;
  rec->bRead = 1;
  rec->bWrite = rec->tQueue.pHead ? 1 : 0;
  if (!DeliverConnectResult(inst, rec, 0)) {
    if ((rec = Lookup(inst, id)) != nullptr) CloseRecord(inst, rec);
  }
}

void OnListenerError(SocketRecord* rec) {
  NPC_F_LOG_SR_WriteLog(rec->iSocketType == NPC_D_NETCOM_SOCKET_TYPE_TCP_LISTEN
                            ? "NPC_F_NET_SELECT_DoSocketErrorEvent TCP_LISTEN socket error."
                            : "NPC_F_NET_SELECT_DoSocketErrorEvent UDP_LISTEN socket error.",
                        2);
  // Reading the pending error clears it, so it is reported once.
  int err = 0;
  socklen_t len = sizeof err;
  Sys().pfGetSockOpt(rec->iSocket, SOL_SOCKET, SO_ERROR, &err, &len);
}

void OnAccept(Inst* inst, SocketRecord* listener) {
  char peer[NPC_D_SYS_SOCKET_ADDR_TEXT_LEN] = "";
  unsigned short peerPort = 0;
  int fd = NPC_F_SYS_SOCKET_Accept(listener->iSocket, peer, sizeof peer, &peerPort);
  if (fd < 0) return;
  if (!NPC_F_SYS_SOCKET_SetBlockMode(fd, 0)) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NET_SELECT_DoTcpListenReadEvent NPC_F_SYS_SOCKET_SetBlockMode fail.", 2);
    NPC_F_SYS_SOCKET_Close(fd);
    return;
  }
  const unsigned short localPort = listener->usLocalPort;
  SocketRecord* rec = AddSocket(inst, fd, NPC_D_NETCOM_SOCKET_TYPE_TCP_CONNECT, 1, 0);
  if (!rec) {
    NPC_F_SYS_SOCKET_Close(fd);
    return;
  }
  rec->usLocalPort = localPort;
  CopyText(rec->szPeerIpaddr, sizeof rec->szPeerIpaddr, peer);
  rec->usPeerPort = peerPort;
  const uint32_t id = rec->dwPortId;
  if (!Deliver(inst, NPC_D_NETCOM_EVENT_CONNECT, 0, localPort, id, rec->szPeerIpaddr, peerPort, 0, 0)) {
    if ((rec = Lookup(inst, id)) != nullptr) CloseRecord(inst, rec);
  }
}

void OnUdpRead(Inst* inst, SocketRecord* rec) {
  char* data = inst->pEventBuf + kEventHeadLen;
  char peer[NPC_D_SYS_SOCKET_ADDR_TEXT_LEN] = "";
  unsigned short peerPort = 0;
  int n = NPC_F_SYS_SOCKET_RecvFrom(rec->iSocket, data, NPC_D_NETCOM_RECV_BUF_SIZE, peer,
                                    sizeof peer, &peerPort);
  if (n < 1) return;
  CopyText(rec->szPeerIpaddr, sizeof rec->szPeerIpaddr, peer);
  rec->usPeerPort = peerPort;
  const uint32_t serial = rec->dwRecvCount++;
  Deliver(inst, NPC_D_NETCOM_EVENT_DATA, NPC_D_NETCOM_TRANS_TYPE_UDP, rec->usLocalPort,
          rec->dwPortId, rec->szPeerIpaddr, rec->usPeerPort, serial, n);
}

// Returns true when the read reported the connection gone (DISCONNECT delivered).
bool OnTcpRead(Inst* inst, SocketRecord* rec) {
  char* data = inst->pEventBuf + kEventHeadLen;
  int state = 0;
  char err[128] = "";
  int n = NPC_F_SYS_SOCKET_Recv(rec->iSocket, data, NPC_D_NETCOM_RECV_BUF_SIZE, &state, err, sizeof err);
  if (n > 0) {
    const uint32_t serial = rec->dwRecvCount++;
    Deliver(inst, NPC_D_NETCOM_EVENT_DATA, NPC_D_NETCOM_TRANS_TYPE_TCP, rec->usLocalPort,
            rec->dwPortId, rec->szPeerIpaddr, rec->usPeerPort, serial, n);
    return false;
  }
  if (state == NPC_D_SYS_SOCKET_STATE_NODATA) return false;
  if (state == NPC_D_SYS_SOCKET_STATE_DONE || std::strcmp(err, "NPC_F_SYS_SOCKET_Recv peer reset.") == 0) {
    NPC_F_LOG_SR_ShowInfo("TCP connect peer close");
  } else {
    NPC_F_LOG_SR_ShowInfoF("NPC_F_NET_SELECT_DoTcpConnectReadEvent NPC_F_SYS_SOCKET_Recv fail, fail info: %s.", err);
  }
  // The socket stays registered: the owner closes it, and until then every pass that finds
  // it readable reports the loss again.
  DeliverDisconnect(inst, rec);
  return true;
}

// Writes the first queued message as far as the kernel takes it; one message per pass.
void OnTcpWrite(Inst* inst, SocketRecord* rec) {
  SendQueue& q = rec->tQueue;
  SendNode* node = q.pHead;
  if (!node) {
    rec->bWrite = 0;
    return;
  }
  int state = 0;
  char err[128] = "";
  const int sent = NPC_F_SYS_SOCKET_SendSpecData(rec->iSocket, node->Data() + node->dwSent,
                                                 static_cast<int>(node->dwTotal - node->dwSent),
                                                 &state, err, sizeof err);
  node->dwSent += static_cast<uint32_t>(sent);
  if (node->dwSent == node->dwTotal) {
    q.PopHead();
    const int notify = node->bNotify;
    const uint32_t tag = node->dwTag;
    std::free(node);
    if (!q.pHead) rec->bWrite = 0;
    if (notify)
      Deliver(inst, NPC_D_NETCOM_EVENT_SEND_COMPLETE, NPC_D_NETCOM_TRANS_TYPE_TCP, rec->usLocalPort,
              rec->dwPortId, rec->szPeerIpaddr, rec->usPeerPort, tag, 0);
    return;
  }
  if (node->dwSent > 0) q.Pin();
  if (state == NPC_D_SYS_SOCKET_STATE_ERROR) {
    NPC_F_LOG_SR_WriteLogF("NPC_F_NET_SELECT_DoTcpWriteEvent send fail, cause: %s.", err);
    DeliverDisconnect(inst, rec);
  }
}

// Sends up to two queued UDP messages; a message that would block part-way stays first.
void OnUdpWrite(Inst* inst, SocketRecord* rec) {
  const uint32_t id = rec->dwPortId;
  for (int k = 0; k < kMaxUdpDatagramsPerPass; ++k) {
    SendQueue& q = rec->tQueue;
    SendNode* node = q.pHead;
    if (!node) {
      rec->bWrite = 0;
      return;
    }
    int state = 0;
    const int sent = NPC_F_SYS_SOCKET_SendUdpSpecData(
        rec->iSocket, node->szPeerIpaddr, node->usPeerPort, node->Data() + node->dwSent,
        static_cast<int>(node->dwTotal - node->dwSent), inst->bUdpWait, &state, nullptr, 0);
    node->dwSent += static_cast<uint32_t>(sent);
    if (state == NPC_D_SYS_SOCKET_STATE_WOULDBLOCK) {
      if (node->dwSent > 0) q.Pin();
      return;
    }
    // Sent, or dropped on a hard error as if sent.
    q.PopHead();
    char peer[kPeerTextLen];
    CopyText(peer, sizeof peer, node->szPeerIpaddr);
    const unsigned short peerPort = node->usPeerPort;
    const int notify = node->bNotify;
    const uint32_t tag = node->dwTag;
    std::free(node);
    if (!q.pHead) rec->bWrite = 0;
    if (notify) {
      Deliver(inst, NPC_D_NETCOM_EVENT_SEND_COMPLETE, NPC_D_NETCOM_TRANS_TYPE_UDP,
              rec->usLocalPort, id, peer, peerPort, tag, 0);
      if (Lookup(inst, id) != rec) return;
    }
  }
}

// Handles what poll() reported for one socket of the pass.
void HandleReady(Inst* inst, const PollRef& ref, short revents) {
  SocketRecord* rec = Lookup(inst, ref.dwPortId);
  if (!rec) return;  // closed or reused during this pass
  const short bad = POLLERR | POLLHUP | POLLNVAL;
  switch (rec->iSocketType) {
    case NPC_D_NETCOM_SOCKET_TYPE_TCP_CLIENT:
      if (revents & (POLLOUT | POLLIN | bad)) OnConnectDone(inst, rec, revents);
      return;
    case NPC_D_NETCOM_SOCKET_TYPE_TCP_LISTEN:
      if (revents & (POLLERR | POLLNVAL)) OnListenerError(rec);
      if (rec->bRead && (revents & POLLIN)) OnAccept(inst, rec);
      return;
    case NPC_D_NETCOM_SOCKET_TYPE_UDP_LISTEN:
      if (revents & (POLLERR | POLLNVAL)) OnListenerError(rec);
      if (rec->bRead && (revents & POLLIN)) {
        OnUdpRead(inst, rec);
        if (Lookup(inst, ref.dwPortId) != rec) return;
      }
      if (rec->bWrite && (revents & POLLOUT)) OnUdpWrite(inst, rec);
      return;
    case NPC_D_NETCOM_SOCKET_TYPE_TCP_CONNECT: {
      bool gone = false;
      if (revents & (POLLIN | bad)) {
        if (rec->bRead) {
          gone = OnTcpRead(inst, rec);
        } else if (revents & bad) {
          // Not being read, yet hung up or failed: report it rather than poll it in vain.
          DeliverDisconnect(inst, rec);
          gone = true;
        }
        if (Lookup(inst, ref.dwPortId) != rec) return;
      }
      if (!gone && rec->bWrite && (revents & POLLOUT)) OnTcpWrite(inst, rec);
      return;
    }
    default:
      return;
  }
}

void DrainWake(Inst* inst) {
  uint64_t v;
  while (::read(inst->iWakeFd, &v, sizeof v) == static_cast<ssize_t>(sizeof v)) {
  }
}

// Waits on the wake-up descriptor alone (no sockets, or after a failed poll).
void WaitWakeOnly(Inst* inst, int waitMs, bool unlock) {
  pollfd p{inst->iWakeFd, POLLIN, 0};
  if (unlock) inst->mutex.unlock();
  int r = Sys().pfPoll(&p, 1, waitMs);
  if (unlock) inst->mutex.lock();
  if (r > 0) DrainWake(inst);
}

// One wait pass: one poll() over the wake-up descriptor and every socket in use, then the
// handlers in slot order. In thread mode the caller holds the mutex, which is released
// while poll() waits.
void DoPass(Inst* inst, int waitMs) {
  if (waitMs < 0) waitMs = 0;
  const bool unlock = inst->bThreadMode != 0;
  pollfd* fds = inst->pollFds.data();
  PollRef* refs = inst->pollRefs.data();
  fds[0] = pollfd{inst->iWakeFd, POLLIN, 0};
  nfds_t n = 1;
  for (int i = 0; i <= inst->iHighestSlot; ++i) {
    const SocketRecord* rec = inst->slots[i].get();
    if (!rec || !rec->bInUse) continue;
    short events = 0;
    if (rec->bRead) events |= POLLIN;
    if (rec->bWrite) events |= POLLOUT;
    fds[n] = pollfd{rec->iSocket, events, 0};
    refs[n] = PollRef{i, rec->dwPortId};
    ++n;
  }
  if (n == 1) {
    WaitWakeOnly(inst, waitMs, unlock);
    return;
  }
  if (unlock) inst->mutex.unlock();
  int r = Sys().pfPoll(fds, n, waitMs);
  if (unlock) inst->mutex.lock();
  if (r < 0) {
    if (errno != EINTR) WaitWakeOnly(inst, kPollFailSleepMs, unlock);
    return;
  }
  if (r == 0) return;
  if (fds[0].revents) DrainWake(inst);
  for (nfds_t i = 1; i < n; ++i) {
    if (fds[i].revents) HandleReady(inst, refs[i], fds[i].revents);
  }
}

void WorkerThread(void* arg) {
  Inst* inst = static_cast<Inst*>(arg);
  while (inst->bRun.load(std::memory_order_acquire)) {
    std::lock_guard<std::recursive_mutex> lk(inst->mutex);
    DoPass(inst, kThreadPassWaitMs);
  }
}

void FreeInstance(Inst* inst) {
  for (auto& slot : inst->slots) {
    if (slot && slot->bInUse) NPC_F_SYS_SOCKET_Close(slot->iSocket);
    if (slot) slot->Reset();
  }
  if (inst->pEventQueue) NPC_F_TOOLS_QUEUE_FreeQueue(&inst->pEventQueue);
  if (inst->iWakeFd >= 0) ::close(inst->iWakeFd);
  std::free(inst->pEventBuf);
  delete inst;
}

NPC_H_NETCOM StartEngine(NPC_F_NETCOM_EVENT_CALLBACK cb, void* user, int udpWait, bool threadMode) {
  const char* op = threadMode ? "NPC_F_NETCOM_StartNetServer" : "NPC_F_NETCOM_StartNetServerByNoThread";
  Inst* inst = new (std::nothrow) Inst();
  if (!inst) {
    NPC_F_LOG_SR_WriteLogF("%s malloc fail.", op);
    return nullptr;
  }
  inst->pfCallback = cb;
  inst->pUser = user;
  inst->bUdpWait = udpWait ? 1 : 0;
  inst->bThreadMode = threadMode ? 1 : 0;
  inst->pEventBuf = static_cast<char*>(std::malloc(kEventHeadLen + NPC_D_NETCOM_RECV_BUF_SIZE));
  try {
    inst->pollFds.resize(NPC_D_NETCOM_MAX_SOCKET_NUM + 1);
    inst->pollRefs.resize(NPC_D_NETCOM_MAX_SOCKET_NUM + 1);
  } catch (...) {
    std::free(inst->pEventBuf);
    inst->pEventBuf = nullptr;
  }
  if (!inst->pEventBuf) {
    NPC_F_LOG_SR_WriteLogF("%s malloc fail.", op);
    FreeInstance(inst);
    return nullptr;
  }
  if (!cb && !NPC_F_TOOLS_QUEUE_InitQueue(&inst->pEventQueue, NPC_D_NETCOM_EVENT_QUEUE_SIZE)) {
    NPC_F_LOG_SR_WriteLogF("%s NPC_F_TOOLS_QUEUE_InitQueue fail.", op);
    FreeInstance(inst);
    return nullptr;
  }
  inst->iWakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (inst->iWakeFd < 0) {
    NPC_F_LOG_SR_WriteLogF("%s eventfd fail.", op);
    FreeInstance(inst);
    return nullptr;
  }
  NPC_F_SYS_SOCKET_InitSocketLib();
  if (threadMode) {
    inst->bRun.store(1, std::memory_order_release);
    inst->pThread = NPC_F_THREAD_CreateThread(WorkerThread, inst);
    if (!inst->pThread) {
      NPC_F_LOG_SR_WriteLogF("%s NPC_F_THREAD_CreateThread fail.", op);
      inst->bRun.store(0);
      FreeInstance(inst);
      return nullptr;
    }
  }
  return inst;
}

// Allocates a send node holding a copy of the data. Null when memory runs out.
SendNode* NewNode(const char* data, int len, int dataClass, int priority, uint32_t tag, int notify) {
  auto* node = static_cast<SendNode*>(std::malloc(sizeof(SendNode) + static_cast<size_t>(len)));
  if (!node) return nullptr;
  node->pNext = nullptr;
  node->dwSent = 0;
  node->dwTotal = static_cast<uint32_t>(len);
  node->iPriority = priority;
  node->iDataClass = dataClass;
  node->dwTag = tag;
  node->bNotify = notify ? 1 : 0;
  node->usPeerPort = 0;
  node->szPeerIpaddr[0] = '\0';
  std::memcpy(node->Data(), data, static_cast<size_t>(len));
  return node;
}

int SendTcp(Inst* inst, const char* op, uint32_t portId, const char* data, int len, int dataClass,
            int priority, uint32_t tag, int notify) {
  InstLock lk(inst);
  SocketRecord* rec = LookupOrLog(inst, portId, op);
  if (!rec) return 0;
  if (rec->iSocketType != NPC_D_NETCOM_SOCKET_TYPE_TCP_CONNECT) {
    NPC_F_LOG_SR_WriteLogF("%s iSocketType error.", op);
    return 0;
  }
  if (!data || len <= 0) {
    NPC_F_LOG_SR_WriteLogF("%s in_pData or in_iDataLen error.", op);
    return 0;
  }
  if (rec->tQueue.qwBytes + static_cast<uint64_t>(len) > NPC_D_NETCOM_TCP_MAX_QUEUE_BYTES) {
    NPC_F_LOG_SR_WriteLogF("%s send queue full, port id: %u, send cache size: %u packets, %llu KB, fail.",
                           op, static_cast<unsigned>(portId), static_cast<unsigned>(rec->tQueue.dwCount),
                           static_cast<unsigned long long>(rec->tQueue.qwBytes / 1024));
    return 0;
  }
  SendNode* node = nullptr;
  try {
    node = NewNode(data, len, dataClass, priority, tag, notify);
    if (node) rec->tQueue.Insert(node);
  } catch (...) {
    std::free(node);
    node = nullptr;
  }
  if (!node) {
    NPC_F_LOG_SR_WriteLogF("%s malloc fail.", op);
    return 0;
  }
  rec->bWrite = 1;
  WakeWorker(inst);
  return 1;
}

// Closes the socket of an id when its type is one of the two given.
int CloseById(NPC_H_NETCOM inst, uint32_t portId, const char* op, int typeA, int typeB) {
  if (!inst) return 0;
  InstLock lk(inst);
  SocketRecord* rec = LookupOrLog(inst, portId, op);
  if (!rec) return 0;
  if (rec->iSocketType != typeA && rec->iSocketType != typeB) {
    NPC_F_LOG_SR_WriteLogF("%s iSocketType error.", op);
    return 0;
  }
  CloseRecord(inst, rec);
  WakeWorker(inst);
  return 1;
}

int CloseByPort(NPC_H_NETCOM inst, unsigned short port, int type) {
  if (!inst) return 0;
  InstLock lk(inst);
  for (int i = 0; i <= inst->iHighestSlot; ++i) {
    SocketRecord* rec = inst->slots[i].get();
    if (rec && rec->bInUse && rec->iSocketType == type && rec->usLocalPort == port) {
      CloseRecord(inst, rec);
      WakeWorker(inst);
      return 1;
    }
  }
  return 0;
}

bool PortTaken(Inst* inst, int type, unsigned short port) {
  for (int i = 0; i <= inst->iHighestSlot; ++i) {
    const SocketRecord* rec = inst->slots[i].get();
    if (rec && rec->bInUse && rec->iSocketType == type && rec->usLocalPort == port) return true;
  }
  return false;
}

// Opens a listening TCP socket or a bound UDP socket and registers it.
int StartListen(NPC_H_NETCOM inst, unsigned short* port, uint32_t* portId, bool udp) {
  const char* op = udp ? "NPC_F_NETCOM_StartUdpListen" : "NPC_F_NETCOM_StartTcpListen";
  if (!inst || !port) return 0;
  InstLock lk(inst);
  const int type = udp ? NPC_D_NETCOM_SOCKET_TYPE_UDP_LISTEN : NPC_D_NETCOM_SOCKET_TYPE_TCP_LISTEN;
  if (*port != 0 && PortTaken(inst, type, *port)) {
    NPC_F_LOG_SR_WriteLogF("%s port %u in use fail.", op, static_cast<unsigned>(*port));
    return 0;
  }
  int fd = NPC_F_SYS_SOCKET_Create(udp ? 1 : 0);
  if (fd < 0) {
    NPC_F_LOG_SR_WriteLogF("%s NPC_F_SYS_SOCKET_Create fail.", op);
    return 0;
  }
  const char* step = nullptr;
  unsigned short bound = *port;
  if (!NPC_F_SYS_SOCKET_SetBlockMode(fd, 0)) {
    step = "NPC_F_SYS_SOCKET_SetBlockMode";
  } else if (!NPC_F_SYS_SOCKET_BindEx(fd, nullptr, *port, udp ? 0 : 1)) {
    // A TCP listener may take over a port whose old connections linger in TIME_WAIT; a UDP
    // port is never shared.
    step = "NPC_F_SYS_SOCKET_Bind";
  } else if (bound == 0 && !NPC_F_SYS_SOCKET_GetSocketLocalAddr(fd, nullptr, 0, &bound)) {
    step = "NPC_F_SYS_SOCKET_GetSocketLocalAddr";
  } else if (udp && !NPC_F_SYS_SOCKET_SetRecvBufSize(fd, NPC_D_NETCOM_UDP_RECV_BUF_SIZE)) {
    step = "NPC_F_SYS_SOCKET_SetRecvBufSize";
  } else if (!udp && !NPC_F_SYS_SOCKET_Listen(fd)) {
    step = "NPC_F_SYS_SOCKET_Listen";
  }
  if (step) {
    NPC_F_LOG_SR_WriteLogF("%s %s fail.", op, step);
    NPC_F_SYS_SOCKET_Close(fd);
    return 0;
  }
  SocketRecord* rec = AddSocket(inst, fd, type, 1, 0);
  if (!rec) {
    NPC_F_LOG_SR_WriteLogF("%s NPC_F_NET_SELECT_MC_AddSocketId fail.", op);
    NPC_F_SYS_SOCKET_Close(fd);
    return 0;
  }
  rec->usLocalPort = bound;
  *port = bound;
  if (portId) *portId = rec->dwPortId;
  return 1;
}

}  // namespace

// --- Life cycle -------------------------------------------------------------------------------

NPC_H_NETCOM NPC_F_NETCOM_StartNetServer(int, int, NPC_F_NETCOM_EVENT_CALLBACK cb, void* user) {
  return StartEngine(cb, user, 0, true);
}

NPC_H_NETCOM NPC_F_NETCOM_StartNetServerByNoThread(NPC_F_NETCOM_EVENT_CALLBACK cb, void* user,
                                                   int udpWaitFlag) {
  return StartEngine(cb, user, udpWaitFlag, false);
}

void NPC_F_NETCOM_CloseNetServer(NPC_H_NETCOM inst) {
  if (!inst) return;
  if (inst->pThread) {
    inst->bRun.store(0, std::memory_order_release);
    NPC_F_NETCOM_WakeUp(inst);
    NPC_F_THREAD_WaitExitThread(inst->pThread, 5000);
    inst->pThread = nullptr;
  }
  FreeInstance(inst);
}

int NPC_F_NETCOM_DoNetEvent(NPC_H_NETCOM inst, int waitMs) {
  if (!inst || inst->bThreadMode) return 0;
  DoPass(inst, waitMs);
  return 1;
}

int NPC_F_NETCOM_WakeUp(NPC_H_NETCOM inst) {
  if (!inst) return 0;
  const uint64_t one = 1;
  // The counter cannot overflow in practice; a full counter already means "wake".
  ssize_t r = ::write(inst->iWakeFd, &one, sizeof one);
  (void)r;
  return 1;
}

// --- Settings ---------------------------------------------------------------------------------

int NPC_F_NETCOM_SetMaxSendBufferSize(NPC_H_NETCOM inst, int bytes) {
  if (!inst || bytes <= 0) return 0;
  InstLock lk(inst);
  inst->iMaxSendBufSize = bytes;
  return 1;
}

int NPC_F_NETCOM_GetMaxSendBufferSize(NPC_H_NETCOM inst) {
  if (!inst) return 0;
  InstLock lk(inst);
  return inst->iMaxSendBufSize;
}

int NPC_F_NETCOM_SetSendCompleteNotify(NPC_H_NETCOM inst, int) { return inst ? 1 : 0; }
int NPC_F_NETCOM_GetSendCompleteNotify(NPC_H_NETCOM inst) { return inst ? 1 : 0; }

// --- Sockets ----------------------------------------------------------------------------------

int NPC_F_NETCOM_StartTcpListen(NPC_H_NETCOM inst, unsigned short* port, uint32_t* portId) {
  return StartListen(inst, port, portId, false);
}

int NPC_F_NETCOM_StartUdpListen(NPC_H_NETCOM inst, unsigned short* port, uint32_t* portId) {
  return StartListen(inst, port, portId, true);
}

int NPC_F_NETCOM_CloseTcpListen(NPC_H_NETCOM inst, unsigned short port) {
  return CloseByPort(inst, port, NPC_D_NETCOM_SOCKET_TYPE_TCP_LISTEN);
}

int NPC_F_NETCOM_CloseUdpListen(NPC_H_NETCOM inst, unsigned short port) {
  return CloseByPort(inst, port, NPC_D_NETCOM_SOCKET_TYPE_UDP_LISTEN);
}

int NPC_F_NETCOM_CloseTcpListenByPortId(NPC_H_NETCOM inst, uint32_t portId) {
  return CloseById(inst, portId, "NPC_F_NETCOM_CloseTcpListenByPortId",
                   NPC_D_NETCOM_SOCKET_TYPE_TCP_LISTEN, NPC_D_NETCOM_SOCKET_TYPE_TCP_LISTEN);
}

int NPC_F_NETCOM_CloseUdpListenByPortId(NPC_H_NETCOM inst, uint32_t portId) {
  return CloseById(inst, portId, "NPC_F_NETCOM_CloseUdpListenByPortId",
                   NPC_D_NETCOM_SOCKET_TYPE_UDP_LISTEN, NPC_D_NETCOM_SOCKET_TYPE_UDP_LISTEN);
}

int NPC_F_NETCOM_AddTcpConnect(NPC_H_NETCOM inst, const char* addr, unsigned short port,
                               uint32_t* portId) {
  if (!inst) return 0;
  if (!addr || !*addr || port == 0) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NETCOM_AddTcpConnect in_pIpaddr or in_usPort is 0.", 2);
    return 0;
  }
  InstLock lk(inst);
  int fd = NPC_F_SYS_SOCKET_Create(0);
  if (fd < 0) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NETCOM_AddTcpConnect NPC_F_SYS_SOCKET_Create fail.", 2);
    return 0;
  }
  if (!NPC_F_SYS_SOCKET_SetBlockMode(fd, 0)) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NETCOM_AddTcpConnect NPC_F_SYS_SOCKET_SetBlockMode fail.", 2);
    NPC_F_SYS_SOCKET_Close(fd);
    return 0;
  }
  // The slot is taken before the connect starts, so no connect leaves without a record.
  SocketRecord* rec = AddSocket(inst, fd, NPC_D_NETCOM_SOCKET_TYPE_TCP_CLIENT, 0, 1);
  if (!rec) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NETCOM_AddTcpConnect NPC_F_NET_SELECT_MC_AddSocketId fail.", 2);
    NPC_F_SYS_SOCKET_Close(fd);
    return 0;
  }
  if (!NPC_F_SYS_SOCKET_StartConnect(fd, addr, port)) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NETCOM_AddTcpConnect NPC_F_SYS_SOCKET_StartConnect fail.", 2);
    CloseRecord(inst, rec);
    return 0;
  }
  CopyText(rec->szPeerIpaddr, sizeof rec->szPeerIpaddr, addr);
  rec->usPeerPort = port;
  if (portId) *portId = rec->dwPortId;
  return 1;
}

int NPC_F_NETCOM_CloseTcpConnect(NPC_H_NETCOM inst, uint32_t portId) {
  return CloseById(inst, portId, "NPC_F_NETCOM_CloseTcpConnect",
                   NPC_D_NETCOM_SOCKET_TYPE_TCP_CONNECT, NPC_D_NETCOM_SOCKET_TYPE_TCP_CLIENT);
}

// --- Sending ----------------------------------------------------------------------------------

int NPC_F_NETCOM_SendTcpDataEx(NPC_H_NETCOM inst, uint32_t portId, const char* data, int len,
                               int dataClass, int priority, uint32_t tag, int notify) {
  if (!inst) return 0;
  return SendTcp(inst, "NPC_F_NETCOM_SendTcpDataEx", portId, data, len, dataClass, priority, tag, notify);
}

int NPC_F_NETCOM_SendTcpData(NPC_H_NETCOM inst, uint32_t portId, const char* data, int len,
                             int priority, uint32_t tag, int notify) {
  if (!inst) return 0;
  return SendTcp(inst, "NPC_F_NETCOM_SendTcpData", portId, data, len, 0, priority, tag, notify);
}

int NPC_F_NETCOM_SendUdpData(NPC_H_NETCOM inst, uint32_t portId, const char* addr,
                             unsigned short port, const char* data, int len, int priority,
                             uint32_t tag, int notify, int dataClass) {
  if (!inst) return 0;
  InstLock lk(inst);
  SocketRecord* rec = LookupOrLog(inst, portId, "NPC_F_NETCOM_SendUdpData");
  if (!rec) return 0;
  if (rec->iSocketType != NPC_D_NETCOM_SOCKET_TYPE_UDP_LISTEN) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NETCOM_SendUdpData iSocketType error.", 2);
    return 0;
  }
  if (!addr || !*addr || port == 0) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NETCOM_SendUdpData in_pPeerIpaddr or in_usPeerPort is 0.", 2);
    return 0;
  }
  if (std::strlen(addr) >= static_cast<size_t>(kPeerTextLen) || !NPC_F_SYS_SOCKET_CheckIpaddr(addr)) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NETCOM_SendUdpData in_pPeerIpaddr error.", 2);
    return 0;
  }
  if (!data || len <= 0) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NETCOM_SendUdpData in_pData or in_iDataLen error.", 2);
    return 0;
  }
  SendQueue& q = rec->tQueue;
  const int64_t now = NPC_F_SYS_GetTickCount64();
  const bool mayReport = !rec->bCacheReported || now - rec->qwLastCacheReportTick >= kCacheReportSpacingMs;
  if (q.qwBytes >= static_cast<uint64_t>(inst->iMaxSendBufSize)) {
    if (mayReport) {
      rec->bCacheReported = true;
      rec->qwLastCacheReportTick = now;
      NPC_F_LOG_SR_ShowInfoF(
          "The send cache is too large, lost udp packets, port: %d, send cache size: %d packets, %d KB.",
          static_cast<int>(rec->usLocalPort), static_cast<int>(q.dwCount),
          static_cast<int>(q.qwBytes / 1024));
    }
    return 1;
  }
  if (q.qwBytes > kUdpStatReportBytes && mayReport) {
    rec->bCacheReported = true;
    rec->qwLastCacheReportTick = now;
    NPC_F_LOG_SR_ShowInfoF("The send cache stat size, port: %d, send cache size: %d packets, %d KB.",
                           static_cast<int>(rec->usLocalPort), static_cast<int>(q.dwCount),
                           static_cast<int>(q.qwBytes / 1024));
  }
  SendNode* node = nullptr;
  try {
    node = NewNode(data, len, dataClass, priority, tag, notify);
    if (node) {
      CopyText(node->szPeerIpaddr, sizeof node->szPeerIpaddr, addr);
      node->usPeerPort = port;
      q.Insert(node);
    }
  } catch (...) {
    std::free(node);
    node = nullptr;
  }
  if (!node) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NETCOM_SendUdpData malloc fail.", 2);
    return 0;
  }
  rec->bWrite = 1;
  WakeWorker(inst);
  return 1;
}

// --- Queue queries ----------------------------------------------------------------------------

int NPC_F_NETCOM_QuerySendQueueSize(NPC_H_NETCOM inst, uint32_t portId) {
  if (!inst) return 0;
  InstLock lk(inst);
  SocketRecord* rec = LookupOrLog(inst, portId, "NPC_F_NETCOM_QuerySendQueueSize");
  return rec ? static_cast<int>(rec->tQueue.dwCount) : 0;
}

int NPC_F_NETCOM_QuerySendQueueSizeEx(NPC_H_NETCOM inst, int dataClass, uint32_t portId) {
  if (!inst) return 0;
  InstLock lk(inst);
  SocketRecord* rec = LookupOrLog(inst, portId, "NPC_F_NETCOM_QuerySendQueueSizeEx");
  if (!rec) return 0;
  int n = 0;
  for (SendNode* node = rec->tQueue.pHead; node; node = node->pNext)
    if (node->iDataClass == dataClass) ++n;
  return n;
}

long long NPC_F_NETCOM_StatSendQueueDataTotalLen(NPC_H_NETCOM inst, int dataClass, uint32_t portId) {
  if (!inst) return 0;
  InstLock lk(inst);
  SocketRecord* rec = LookupOrLog(inst, portId, "NPC_F_NETCOM_StatSendQueueDataTotalLen");
  if (!rec) return 0;
  if (dataClass == -1) return static_cast<long long>(rec->tQueue.qwBytes);
  long long total = 0;
  for (SendNode* node = rec->tQueue.pHead; node; node = node->pNext)
    if (node->iDataClass == dataClass) total += node->dwTotal;
  return total;
}

int NPC_F_NETCOM_ClearSendQueueData(NPC_H_NETCOM inst, uint32_t portId) {
  if (!inst) return 0;
  InstLock lk(inst);
  SocketRecord* rec = LookupOrLog(inst, portId, "NPC_F_NETCOM_ClearSendQueueData");
  if (!rec) return 0;
  rec->tQueue.ClearKeepPinned();
  if (!rec->tQueue.pHead && rec->iSocketType != NPC_D_NETCOM_SOCKET_TYPE_TCP_CLIENT) rec->bWrite = 0;
  return 1;
}

// --- Per-socket flags -------------------------------------------------------------------------

int NPC_F_NETCOM_SetRecvDataState(NPC_H_NETCOM inst, uint32_t portId, int flag) {
  if (!inst) return 0;
  InstLock lk(inst);
  SocketRecord* rec = LookupOrLog(inst, portId, "NPC_F_NETCOM_SetRecvDataState");
  if (!rec) return 0;
  rec->bRead = flag ? 1 : 0;
  WakeWorker(inst);
  return 1;
}

int NPC_F_NETCOM_GetRecvDataState(NPC_H_NETCOM inst, uint32_t portId, int* flag) {
  if (!inst) return 0;
  InstLock lk(inst);
  SocketRecord* rec = LookupOrLog(inst, portId, "NPC_F_NETCOM_GetRecvDataState");
  if (!rec) return 0;
  if (flag) *flag = rec->bRead;
  return 1;
}

int NPC_F_NETCOM_SetBroadcastFlag(NPC_H_NETCOM inst, uint32_t portId, int flag) {
  if (!inst) return 0;
  InstLock lk(inst);
  SocketRecord* rec = LookupOrLog(inst, portId, "NPC_F_NETCOM_SetBroadcastFlag");
  if (!rec) return 0;
  if (rec->iSocketType != NPC_D_NETCOM_SOCKET_TYPE_UDP_LISTEN) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NETCOM_SetBroadcastFlag iSocketType error.", 2);
    return 0;
  }
  const int want = flag ? 1 : 0;
  if (rec->bBroadcast == want) return 1;
  if (!NPC_F_SYS_SOCKET_SetBroadcastParam(rec->iSocket, want)) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NETCOM_SetBroadcastFlag NPC_F_SYS_SOCKET_SetBroadcastParam fail.", 2);
    return 0;
  }
  rec->bBroadcast = want;
  return 1;
}

int NPC_F_NETCOM_GetBroadcastFlag(NPC_H_NETCOM inst, uint32_t portId, int*) {
  if (!inst) return 0;
  InstLock lk(inst);
  SocketRecord* rec = Lookup(inst, portId);
  if (!rec || rec->iSocketType != NPC_D_NETCOM_SOCKET_TYPE_UDP_LISTEN) return 0;
  return rec->bBroadcast;
}

// --- Queue mode -------------------------------------------------------------------------------

int NPC_F_NETCOM_RecvData(NPC_H_NETCOM inst, char* buf, int len, int waitMs) {
  if (!inst || !inst->pEventQueue || !buf || len <= 0) return 0;
  int n = len;
  if (!NPC_F_TOOLS_QUEUE_GetData(inst->pEventQueue, buf, &n, waitMs)) return 0;
  return n;
}

int NPC_F_NETCOM_RecvDataEx(NPC_H_NETCOM inst, char** buf, int* len, int waitMs) {
  if (!inst || !inst->pEventQueue || !buf || !len) return 0;
  char* b = nullptr;
  int n = 0, cap = 0;
  if (!NPC_F_TOOLS_QUEUE_GetDataEx(inst->pEventQueue, &b, &n, &cap, waitMs)) {
    if (b) NPC_F_TOOLS_QUEUE_FreeMemory(&b);
    return 0;
  }
  *buf = b;
  *len = n;
  return 1;
}

void* NPC_F_NETCOM_GetRecvHandle(NPC_H_NETCOM inst) {
  if (!inst || !inst->pEventQueue) return nullptr;
  return NPC_F_TOOLS_QUEUE_GetReadEventHandle(inst->pEventQueue);
}

void NPC_F_NETCOM_ReleaseDataBuf(char* buf) {
  if (buf) NPC_F_TOOLS_QUEUE_FreeMemory(&buf);
}

int NPC_F_NETCOM_QueryRecvQueueSize(NPC_H_NETCOM inst) {
  if (!inst) return -1;
  if (!inst->pEventQueue) return -2;
  return NPC_F_TOOLS_QUEUE_GetCount(inst->pEventQueue);
}
