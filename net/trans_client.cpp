// The transaction client: its record, the worker thread (connect, heartbeat, silence rule,
// timers, reconnect, reading and dispatch), the send path shared by callers and the worker,
// waited calls and the one-shot call.
//
// Threads and locks. The state mutex guards the socket descriptor, the connection state, the
// pending-send buffer, the two tables and the settings; the send mutex makes senders take turns
// (taken before the state mutex). Only the worker creates and closes the client's socket, so a
// descriptor is never closed under a thread that still uses it: other threads that must drop
// the connection mark it lost (state 0, so sends and calls stop at once) and ask the worker to
// close it. The receive buffer (framer) belongs to the worker alone. Every wait of a caller
// runs on the clock seam (NPC_F_SYS_CLOCK_WaitUntil) and is woken by the event it waits for;
// the worker sleeps in poll() on its socket and a wake-up descriptor, which callers, stop, and
// fake clock advances write to.
#include "net/trans_client.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "net/packet_ed.h"
#include "net/service_packet.h"
#include "net/sys_socket.h"
#include "net/syscall.h"
#include "runtime/clock.h"
#include "runtime/log.h"
#include "runtime/random.h"
#include "runtime/text.h"

namespace {

// --- Socket calls ----------------------------------------------------------------------------
//
// The client reaches sockets only through the socket layer and the system-call seam; these two
// adapters give its receive and send the shape the client's loops want.

// One receive: the bytes read (> 0), 0 when none wait, -1 when the peer closed (*state 0) or
// the receive failed (*state -2).
int PR_RecvSome(int sock, void* buf, int len, int* state) {
  int n = NPC_F_SYS_SOCKET_Recv(sock, static_cast<char*>(buf), len, state, nullptr, 0);
  if (n > 0) return n;
  if (*state == NPC_D_SYS_SOCKET_STATE_NODATA) return 0;
  return -1;
}

// One send: the bytes the socket took (0 when it would block), -1 on a hard error.
int PR_SendSome(int sock, const void* data, int len) {
  int sent = 0, state = 0;
  if (NPC_F_SYS_SOCKET_SendEx(sock, static_cast<const char*>(data), len, &sent, &state, nullptr, 0)) return len;
  return state == NPC_D_SYS_SOCKET_STATE_ERROR ? -1 : sent;
}

// A non-blocking TCP socket, or -1 with *step 1 (no socket) or 2 (setup failed).
int PR_CreateSocket(int* step) {
  int sock = NPC_F_SYS_SOCKET_Create(0);
  if (sock < 0) {
    *step = 1;
    return -1;
  }
  if (!NPC_F_SYS_SOCKET_SetBlockMode(sock, 0)) {
    NPC_F_SYS_SOCKET_Close(sock);
    *step = 2;
    return -1;
  }
  return sock;
}

int PR_Poll(pollfd* fds, nfds_t n, int ms) { return NPC_F_NET_SYSCALL_Get()->pfPoll(fds, n, ms); }

struct WaitSlot {
  bool bInUse = false;
  bool bAnswered = false;
  uint32_t dwTransId = 0;
  uint32_t dwSeqNo = 0;
  int32_t iResult = 0;
  std::vector<uint8_t> answer;
  std::condition_variable cv;
};

struct TimerSlot {
  bool bInUse = false;
  uint32_t dwTimerId = 0;
  NPC_F_SMP_COM_TRANS_TIMER_CALLBACK cb = nullptr;
  void* pUser = nullptr;
  int iIntervalSec = 0;
  int64_t qwLastFireMs = 0;
};

void logLine(const char* text) { NPC_F_LOG_SR_WriteLog(text, 2); }

int64_t now64() { return NPC_F_SYS_GetTickCount64(); }

}  // namespace

struct NPC_S_SMP_COM_TRANS_WORK_DATA {
  std::atomic<bool> bRun{true};
  std::thread worker;
  std::thread::id workerId;

  std::mutex mu;      // state mutex
  std::mutex sendMu;  // one sender at a time
  std::mutex timerCbMu;  // held while timers fire, so StopTimer can wait for a firing to end

  char sServerAddr[128] = {0};
  unsigned short usServerPort = 0;
  NPC_F_SMP_COM_TRANS_PACKET_CALLBACK packetCb = nullptr;
  void* pPacketUser = nullptr;
  NPC_F_SMP_COM_TRANS_STATE_CALLBACK stateCb = nullptr;
  void* pStateUser = nullptr;
  bool bStartedWithState = false;
  bool bAutoReconnect = false;
  bool bReconnectRequest = false;
  bool bDropRequest = false;

  int iSocket = -1;
  int iConnState = NPC_D_SMP_COM_TRANS_STATE_NONE;
  uint32_t dwConnGen = 0;  // bumped by every connect and every drop
  char sLocalAddr[48] = {0};
  unsigned short usLocalPort = 0;

  int64_t qwLastHeartbeatMs = 0;
  int64_t qwLastRecvMs = 0;  // 0: nothing received on this connection

  std::vector<uint8_t> pending;  // bytes the socket did not take yet
  size_t pendingStart = 0;
  uint64_t qwQueuedTotal = 0;  // bytes handed to the send path on this connection
  uint64_t qwSentTotal = 0;    // bytes the socket took on this connection
  std::condition_variable cvSent;

  WaitSlot slots[NPC_D_SMP_COM_TRANS_MAX_WAIT];
  int iWaitCount = 0;
  TimerSlot timers[NPC_D_SMP_COM_TRANS_MAX_TIMER];

  uint32_t dwCallCounter = 0;
  uint32_t dwRequCounter = 0;
  uint32_t dwSeqCounter = 0;

  int iWakeFd = -1;
  int iClockHook = 0;

  // Worker only.
  NPC_S_SMP_COM_FRAMER framer;
  uint8_t readBuf[NPC_D_SMP_COM_TRANS_READ_LEN];
  bool bNotifiedDown = false;
  int64_t qwLastTimerCheckMs = 0;
  int64_t qwLastAutoConnectMs = 0;
  bool bAutoConnectTried = false;
};

using Client = NPC_S_SMP_COM_TRANS_WORK_DATA;

namespace {

void wake(Client* c) {
  if (c->iWakeFd < 0) return;
  uint64_t one = 1;
  ssize_t r = write(c->iWakeFd, &one, sizeof one);
  (void)r;
}

void clockHook(void* user) { wake(static_cast<Client*>(user)); }

void drainWake(Client* c) {
  uint64_t v;
  ssize_t r = read(c->iWakeFd, &v, sizeof v);
  (void)r;
}

size_t pendingLen(const Client* c) { return c->pending.size() - c->pendingStart; }

// Marks the connection lost from any thread (state mutex held): calls and sends stop at once,
// waiters wake, and the worker is asked to close the socket.
void markLostLocked(Client* c) {
  if (c->iConnState == NPC_D_SMP_COM_TRANS_STATE_CONNECTED) ++c->dwConnGen;
  c->iConnState = NPC_D_SMP_COM_TRANS_STATE_NONE;
  c->bDropRequest = true;
  c->pending.clear();
  c->pendingStart = 0;
  for (auto& s : c->slots)
    if (s.bInUse) s.cv.notify_all();
  c->cvSent.notify_all();
  wake(c);
}

// The connection reset (state mutex held; worker thread, or the stopping thread once the worker
// has ended): closes the socket, empties the buffers, clears the receive time, state 0.
void disconnectLocked(Client* c) {
  bool had = c->iSocket >= 0 || c->iConnState != NPC_D_SMP_COM_TRANS_STATE_NONE;
  if (c->iSocket >= 0) NPC_F_SYS_SOCKET_Close(c->iSocket);
  c->iSocket = -1;
  markLostLocked(c);
  c->bDropRequest = false;
  c->qwLastRecvMs = 0;
  if (had) logLine("NPC_F_SMP_COM_TRANS_PR_DisconnectServer success.");
}

// Writes pending bytes in pieces of at most 1460 until the socket would block (state mutex
// held). A hard error marks the connection lost. Returns false on a hard error.
bool writePendingLocked(Client* c) {
  while (pendingLen(c) > 0 && c->iSocket >= 0) {
    size_t n = std::min<size_t>(pendingLen(c), 1460);
    int sent = PR_SendSome(c->iSocket, c->pending.data() + c->pendingStart, static_cast<int>(n));
    if (sent < 0) {
      logLine("NPC_F_SMP_COM_TRANS_PR_SendData send fail.");
      markLostLocked(c);
      return false;
    }
    c->pendingStart += static_cast<size_t>(sent);
    c->qwSentTotal += static_cast<uint64_t>(sent);
    if (static_cast<size_t>(sent) < n) break;  // the socket is full
  }
  if (pendingLen(c) == 0) {
    c->pending.clear();
    c->pendingStart = 0;
  }
  c->cvSent.notify_all();
  return true;
}

// The send path: under the send mutex and the state mutex, writes directly when nothing is
// pending and keeps the rest; appends behind pending bytes otherwise. *endMark receives the
// send total at which this packet has left, *gen the connection it went to. Returns false when
// not connected or the connection was dropped (hard error, or too much pending).
bool sendBytes(Client* c, const uint8_t* data, size_t len, uint64_t* endMark, uint32_t* gen) {
  std::lock_guard<std::mutex> sg(c->sendMu);
  std::lock_guard<std::mutex> lk(c->mu);
  if (c->iConnState != NPC_D_SMP_COM_TRANS_STATE_CONNECTED || c->iSocket < 0) return false;
  if (pendingLen(c) > static_cast<size_t>(NPC_D_SMP_COM_TRANS_MAX_PENDING_SEND)) {
    logLine("NPC_F_SMP_COM_TRANS_PR_SendData pending data too large.");
    markLostLocked(c);
    return false;
  }
  bool wasEmpty = pendingLen(c) == 0;
  c->pending.insert(c->pending.end(), data, data + len);
  c->qwQueuedTotal += len;
  if (endMark) *endMark = c->qwQueuedTotal;
  if (gen) *gen = c->dwConnGen;
  if (wasEmpty && !writePendingLocked(c)) return false;
  if (pendingLen(c) > 0) wake(c);  // the worker writes the rest when the socket takes more
  return true;
}

// Waits (clock seam) until the bytes up to endMark have left on connection gen, the connection
// changed, or the deadline passed. 1 when they left or are still queued at the deadline, 0
// when the connection was lost first.
int waitSent(Client* c, uint64_t endMark, uint32_t gen, int64_t deadline) {
  std::unique_lock<std::mutex> lk(c->mu);
  NPC_F_SYS_CLOCK_WaitUntil(lk, c->cvSent, deadline,
                            [&] { return c->qwSentTotal >= endMark || c->dwConnGen != gen; });
  if (c->dwConnGen != gen) return c->qwSentTotal >= endMark ? 1 : 0;
  return 1;
}

uint32_t newRequTransId(Client* c) {
  uint32_t counter = ++c->dwRequCounter;
  return (NPC_F_SYS_RANDOM_Below(128) << 24) | (counter & 0xFFFFFF);
}

void buildRequest(std::vector<uint8_t>* out, uint32_t funcId, uint32_t transId, uint32_t seqNo, const void* body,
                  uint32_t len) {
  NPC_S_SMP_COM_PACKET_HEAD h{};
  h.usVersion = NPC_D_SMP_COM_VERSION;
  h.usPacketType = NPC_D_SMP_COM_PACKET_TYPE_REQU;
  h.dwFuncId = funcId;
  h.dwTransId = transId;
  h.dwSeqNo = seqNo;
  NPC_F_SMP_COM_BuildPacket(out, h, body, len);
}

void notifyState(Client* c, int state) {
  NPC_F_SMP_COM_TRANS_STATE_CALLBACK cb;
  void* user;
  {
    std::lock_guard<std::mutex> lk(c->mu);
    cb = c->stateCb;
    user = c->pStateUser;
  }
  if (cb) cb(user, state);
}

// Waits on the wake-up descriptor (and the socket when given) for at most ms of real time.
// Returns the socket's revents (0 when only woken or timed out).
short waitWorker(Client* c, int sock, short events, int ms) {
  pollfd fds[2];
  fds[0].fd = c->iWakeFd;
  fds[0].events = POLLIN;
  fds[0].revents = 0;
  nfds_t n = 1;
  if (sock >= 0) {
    fds[1].fd = sock;
    fds[1].events = events;
    fds[1].revents = 0;
    n = 2;
  }
  int r = PR_Poll(fds, n, ms < 0 ? 0 : ms);
  if (r <= 0) return 0;
  if (fds[0].revents & POLLIN) drainWake(c);
  return n == 2 ? fds[1].revents : 0;
}

// Sleeps about 100 ms between failed connects, waking early for stop and other requests.
void pause100(Client* c) { waitWorker(c, -1, 0, 100); }

// The worker's connect: resolve, start a non-blocking connect, check every 200 ms until it
// is established, fails, the budget (clock seam) is spent or the run flag is cleared.
bool connectServer(Client* c, int budgetMs) {
  char host[128], ip[64];
  unsigned short port;
  {
    std::lock_guard<std::mutex> lk(c->mu);
    NPC_F_TEXT_CopyRaw(host, sizeof host, c->sServerAddr, sizeof c->sServerAddr);
    port = c->usServerPort;
    c->iConnState = NPC_D_SMP_COM_TRANS_STATE_CONNECTING;
  }
  auto fail = [&](int sock, const char* text) {
    if (sock >= 0) NPC_F_SYS_SOCKET_Close(sock);
    std::lock_guard<std::mutex> lk(c->mu);
    if (c->iConnState == NPC_D_SMP_COM_TRANS_STATE_CONNECTING) c->iConnState = NPC_D_SMP_COM_TRANS_STATE_NONE;
    logLine(text);
    return false;
  };
  if (!NPC_F_SYS_SOCKET_GetNetIpAddr(host, ip, sizeof ip))
    return fail(-1, "NPC_F_SMP_COM_TRANS_PR_ConnectServer NPC_F_SYS_SOCKET_GetNetIpAddr fail.");
  int step = 0;
  int sock = PR_CreateSocket(&step);
  if (sock < 0) return fail(-1, "NPC_F_SMP_COM_TRANS_PR_ConnectServer NPC_F_SYS_SOCKET_Create fail.");
  if (!NPC_F_SYS_SOCKET_StartConnect(sock, ip, port)) return fail(sock, "Connect Fail.");
  int64_t start = now64();
  for (;;) {
    if (!c->bRun) return fail(sock, "连接退出.");
    int r = NPC_F_SYS_SOCKET_CheckConnectResult(sock, 200);
    if (r == 0) break;
    if (r == 2) return fail(sock, "Connect Fail.");
    if (now64() - start >= budgetMs) return fail(sock, "Connect TimeOut.");
  }
  std::lock_guard<std::mutex> lk(c->mu);
  c->iSocket = sock;
  c->iConnState = NPC_D_SMP_COM_TRANS_STATE_CONNECTED;
  ++c->dwConnGen;
  NPC_F_SYS_SOCKET_GetSocketLocalAddr(sock, c->sLocalAddr, sizeof c->sLocalAddr, &c->usLocalPort);
  NPC_F_SMP_COM_FRAMER_Reset(&c->framer);
  c->pending.clear();
  c->pendingStart = 0;
  c->qwQueuedTotal = c->qwSentTotal = 0;
  c->qwLastRecvMs = now64();
  c->qwLastHeartbeatMs = c->qwLastRecvMs;
  c->bDropRequest = false;
  c->bNotifiedDown = false;
  logLine("Connect Success.");
  return true;
}

// Hands an answer to its waiting slot (state mutex taken here).
void deliverAnswer(Client* c, const NPC_S_SMP_COM_PACKET_HEAD& h, const uint8_t* body) {
  std::lock_guard<std::mutex> lk(c->mu);
  if (c->iWaitCount > 0) {
    for (auto& s : c->slots) {
      if (!s.bInUse || s.bAnswered || s.dwTransId != h.dwTransId || s.dwSeqNo != h.dwSeqNo) continue;
      s.answer.assign(body, body + h.dwBodyLen);
      s.iResult = h.iResult;
      s.bAnswered = true;
      s.cv.notify_all();
      return;
    }
  }
  logLine("NPC_F_SMP_COM_TRANS_PR_DoRecvTrans no find.");
}

// Handles one opened packet of the stream (worker thread).
void handlePacket(Client* c, uint8_t* packet, uint32_t size) {
  {
    std::lock_guard<std::mutex> lk(c->mu);
    c->qwLastRecvMs = now64();
  }
  unsigned char* plain = nullptr;
  int plainLen = 0, type = 0;
  if (packet[14] != NPC_D_ED_ENC_TYPE_NONE) {
    if (!NPC_F_ED_DecNetPacket(packet, static_cast<int>(size), &plain, &plainLen, &type)) {
      logLine("NPC_F_SMP_COM_TRANS_PR_DoRecvPacket NPC_F_ED_DecNetPacket fail.");
      return;
    }
    if (plain) {
      packet = plain;
      size = static_cast<uint32_t>(plainLen);
    }
  }
  NPC_S_SMP_COM_PACKET_HEAD h;
  NPC_F_SMP_COM_ReadPacketHead(packet + NPC_D_SMP_COM_NET_HEAD_LEN, size - NPC_D_SMP_COM_NET_HEAD_LEN, &h);
  const uint8_t* body = packet + NPC_D_SMP_COM_HEAD_LEN;
  if (h.dwFuncId == GCOM_HEARTBEAT) {
    if (h.usPacketType == NPC_D_SMP_COM_PACKET_TYPE_REQU) {
      // The very packet back as a response.
      std::vector<uint8_t> echo(packet, packet + size);
      echo[18] = NPC_D_SMP_COM_PACKET_TYPE_RESP;
      echo[19] = 0;
      sendBytes(c, echo.data(), echo.size(), nullptr, nullptr);
    }
  } else if (h.usPacketType == NPC_D_SMP_COM_PACKET_TYPE_RESP && (h.dwTransId & NPC_D_SMP_COM_TRANS_WAIT_FLAG)) {
    deliverAnswer(c, h, body);
  } else {
    NPC_F_SMP_COM_TRANS_PACKET_CALLBACK cb;
    void* user;
    {
      std::lock_guard<std::mutex> lk(c->mu);
      cb = c->packetCb;
      user = c->pPacketUser;
    }
    if (cb) cb(user, packet + NPC_D_SMP_COM_NET_HEAD_LEN, static_cast<int>(size - NPC_D_SMP_COM_NET_HEAD_LEN));
  }
  NPC_F_ED_ReleasePacket(plain);
}

// Reads what the socket has (up to 16 reads of 4096 bytes per pass) and handles every whole
// packet. A framing error, peer close or read error drops the connection.
void readAndParse(Client* c, int sock) {
  for (int reads = 0; reads < 16; ++reads) {
    int state = 0;
    int n = PR_RecvSome(sock, c->readBuf, sizeof c->readBuf, &state);
    if (n < 0) {
      std::lock_guard<std::mutex> lk(c->mu);
      if (state == -2) logLine("NPC_F_SMP_COM_TRANS_PR_ThreadWork NPC_F_SYS_SOCKET_Recv fail.");
      disconnectLocked(c);
      return;
    }
    if (n == 0) break;  // nothing more now
    NPC_F_SMP_COM_FRAMER_Append(&c->framer, c->readBuf, static_cast<size_t>(n));
    uint8_t* packet = nullptr;
    uint32_t size = 0;
    int rc;
    while ((rc = NPC_F_SMP_COM_FRAMER_Next(&c->framer, &packet, &size)) == NPC_D_SMP_COM_FRAME_OK) {
      handlePacket(c, packet, size);
      std::lock_guard<std::mutex> lk(c->mu);
      if (c->iSocket != sock || c->bDropRequest) return;  // dropped while handling
    }
    if (rc != NPC_D_SMP_COM_FRAME_NEED_MORE) {
      const char* text = rc == NPC_D_SMP_COM_FRAME_BAD_FLAG   ? "NPC_F_SMP_COM_TRANS_PR_DoTcpHisRecvData dwNetHeadFlag error."
                         : rc == NPC_D_SMP_COM_FRAME_TOO_LARGE ? "NPC_F_SMP_COM_TRANS_PR_DoTcpHisRecvData iHisRecvDataLen error."
                         : rc == NPC_D_SMP_COM_FRAME_BAD_SIZE  ? "NPC_F_SMP_COM_TRANS_PR_DoTcpHisRecvData dwPacketSize error."
                                                               : "NPC_F_SMP_COM_TRANS_PR_DoTcpHisRecvData dwBodyLen error.";
      std::lock_guard<std::mutex> lk(c->mu);
      logLine(text);
      disconnectLocked(c);
      return;
    }
    if (n < static_cast<int>(sizeof c->readBuf)) break;
  }
}

// Fires the timers whose interval has passed (worker thread, once per second).
void fireTimers(Client* c, int64_t now) {
  struct Due {
    uint32_t id;
    NPC_F_SMP_COM_TRANS_TIMER_CALLBACK cb;
    void* user;
  };
  std::vector<Due> due;
  std::lock_guard<std::mutex> cbLock(c->timerCbMu);
  {
    std::lock_guard<std::mutex> lk(c->mu);
    for (auto& t : c->timers) {
      if (!t.bInUse || now - t.qwLastFireMs < static_cast<int64_t>(t.iIntervalSec) * 1000) continue;
      t.qwLastFireMs = now;
      due.push_back({t.dwTimerId, t.cb, t.pUser});
    }
  }
  for (const auto& d : due)
    if (d.cb) d.cb(d.id, d.user);
}

// Heartbeat and silence rule (worker thread).
void doHeartbeat(Client* c, int64_t now) {
  std::vector<uint8_t> hb;
  {
    std::lock_guard<std::mutex> lk(c->mu);
    if (c->iConnState != NPC_D_SMP_COM_TRANS_STATE_CONNECTED) return;
    if (c->qwLastRecvMs != 0 && now - c->qwLastRecvMs >= NPC_D_SMP_COM_TRANS_SILENCE_MS) {
      logLine("HearBeat TimeOut Disconnect.");
      disconnectLocked(c);
      return;
    }
    if (now - c->qwLastHeartbeatMs < NPC_D_SMP_COM_TRANS_HEARTBEAT_MS) return;
    c->qwLastHeartbeatMs = now;
    buildRequest(&hb, GCOM_HEARTBEAT, newRequTransId(c), ++c->dwSeqCounter, nullptr, 0);
  }
  sendBytes(c, hb.data(), hb.size(), nullptr, nullptr);
}

// Milliseconds of real time the worker may sleep before something of its own falls due.
int idleWaitMs(Client* c, int64_t now) {
  int64_t due = c->qwLastTimerCheckMs + 1000;
  {
    std::lock_guard<std::mutex> lk(c->mu);
    if (c->iConnState == NPC_D_SMP_COM_TRANS_STATE_CONNECTED) {
      due = std::min(due, c->qwLastHeartbeatMs + NPC_D_SMP_COM_TRANS_HEARTBEAT_MS);
      if (c->qwLastRecvMs) due = std::min(due, c->qwLastRecvMs + NPC_D_SMP_COM_TRANS_SILENCE_MS);
    }
  }
  return static_cast<int>(std::max<int64_t>(0, std::min<int64_t>(due - now, 1000)));
}

void threadWork(Client* c) {
  if (c->bStartedWithState) {
    bool ok = connectServer(c, NPC_D_SMP_COM_TRANS_CONNECT_BUDGET_MS);
    c->qwLastAutoConnectMs = now64();
    c->bAutoConnectTried = true;
    notifyState(c, ok ? 1 : 0);
    c->bNotifiedDown = !ok;
  }
  c->qwLastTimerCheckMs = now64();
  while (c->bRun) {
    int64_t now = now64();
    bool reconnect = false, connected = false, autoReconnect = false;
    int sock = -1;
    bool wantWrite = false;
    {
      std::lock_guard<std::mutex> lk(c->mu);
      if (c->bDropRequest) disconnectLocked(c);
    }
    doHeartbeat(c, now);
    if (now - c->qwLastTimerCheckMs >= 1000) {
      c->qwLastTimerCheckMs = now;
      fireTimers(c, now);
    }
    {
      std::lock_guard<std::mutex> lk(c->mu);
      reconnect = c->bReconnectRequest;
      c->bReconnectRequest = false;
      connected = c->iConnState == NPC_D_SMP_COM_TRANS_STATE_CONNECTED && c->iSocket >= 0;
      autoReconnect = c->bAutoReconnect;
      sock = c->iSocket;
      wantWrite = pendingLen(c) > 0;
    }
    if (reconnect) {
      {
        std::lock_guard<std::mutex> lk(c->mu);
        disconnectLocked(c);
      }
      logLine("Start Reconnect.");
      notifyState(c, 0);
      if (!connectServer(c, NPC_D_SMP_COM_TRANS_CONNECT_BUDGET_MS)) {
        c->bNotifiedDown = true;
        pause100(c);
        continue;
      }
      notifyState(c, 1);
      continue;
    }
    if (!connected) {
      if (!c->bNotifiedDown) {
        c->bNotifiedDown = true;
        notifyState(c, 0);
      }
      if (!autoReconnect) {
        pause100(c);
        continue;
      }
      if (c->bAutoConnectTried && now - c->qwLastAutoConnectMs < NPC_D_SMP_COM_TRANS_AUTO_RECONNECT_MS) {
        pause100(c);
        continue;
      }
      logLine("Start Auto Reconnect.");
      c->qwLastAutoConnectMs = now;
      c->bAutoConnectTried = true;
      if (!connectServer(c, NPC_D_SMP_COM_TRANS_CONNECT_BUDGET_MS)) {
        pause100(c);
        continue;
      }
      notifyState(c, 1);
      continue;
    }
    short rev = waitWorker(c, sock, static_cast<short>(POLLIN | (wantWrite ? POLLOUT : 0)), idleWaitMs(c, now));
    if (rev & POLLOUT) {
      std::lock_guard<std::mutex> lk(c->mu);
      if (c->iSocket == sock) writePendingLocked(c);
    }
    if (rev & (POLLIN | POLLERR | POLLHUP)) readAndParse(c, sock);
  }
}

// Copies an answer body into a new NUL-terminated buffer for the caller.
bool handOutAnswer(const std::vector<uint8_t>& answer, char** outAnswer, int* outBufSize, int* outLen) {
  if (outLen) *outLen = static_cast<int>(answer.size());
  if (!outAnswer) return true;
  char* buf = static_cast<char*>(malloc(answer.size() + 1));
  if (!buf) return false;
  if (!answer.empty()) memcpy(buf, answer.data(), answer.size());
  buf[answer.size()] = '\0';
  *outAnswer = buf;
  if (outBufSize) *outBufSize = static_cast<int>(answer.size() + 1);
  return true;
}

Client* createClient(const char* addr, unsigned short port, NPC_F_SMP_COM_TRANS_PACKET_CALLBACK packetCb,
                     void* packetUser) {
  if (!addr || !*addr) return nullptr;
  Client* c = new (std::nothrow) Client;
  if (!c) return nullptr;
  NPC_F_TEXT_CopyRaw(c->sServerAddr, sizeof c->sServerAddr, addr, strlen(addr));
  c->usServerPort = port;
  c->packetCb = packetCb;
  c->pPacketUser = packetUser;
  c->dwCallCounter = NPC_F_SYS_RANDOM_Next32() & 0xFFFFFF;
  c->dwSeqCounter = NPC_F_SYS_RANDOM_Next32() & 0xFFFFFF;
  c->iWakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (c->iWakeFd < 0) {
    logLine("NPC_F_SMP_COM_TRANS_StartClient eventfd fail.");
    delete c;
    return nullptr;
  }
  NPC_F_SYS_SOCKET_InitSocketLib();
  return c;
}

bool startWorker(Client* c) {
  c->iClockHook = NPC_F_SYS_CLOCK_AddHook(clockHook, c);
  try {
    c->worker = std::thread(threadWork, c);
  } catch (...) {
    logLine("NPC_F_SMP_COM_TRANS_StartClient NPC_F_THREAD_CreateThread fail.");
    return false;
  }
  c->workerId = c->worker.get_id();
  return true;
}

void destroyClient(Client* c) {
  if (c->iClockHook) NPC_F_SYS_CLOCK_RemoveHook(c->iClockHook);
  {
    std::lock_guard<std::mutex> lk(c->mu);
    disconnectLocked(c);
  }
  if (c->iWakeFd >= 0) close(c->iWakeFd);
  delete c;
}

}  // namespace

NPC_S_SMP_COM_TRANS_WORK_DATA* NPC_F_SMP_COM_TRANS_StartClient(const char* addr, unsigned short port,
                                                               NPC_F_SMP_COM_TRANS_PACKET_CALLBACK packetCb,
                                                               void* packetUser, int /*timeoutMs*/) {
  Client* c = createClient(addr, port, packetCb, packetUser);
  if (!c) return nullptr;
  // First connect on the caller's thread: 4000 ms, 6000 ms, 8000 ms ... within 15000 ms.
  int64_t start = now64();
  bool ok = false;
  for (int wait = 4000;; wait += 2000) {
    int64_t left = NPC_D_SMP_COM_TRANS_START_BUDGET_MS - (now64() - start);
    if (left <= 0) break;
    c->bRun = true;
    {
      std::lock_guard<std::mutex> lk(c->mu);
      c->iConnState = NPC_D_SMP_COM_TRANS_STATE_NONE;
    }
    // A connect that is refused or fails ends the attempts; only a time-out tries again.
    int64_t before = now64();
    ok = connectServer(c, static_cast<int>(std::min<int64_t>(wait, left)));
    if (ok) break;
    bool timedOut = now64() - before >= std::min<int64_t>(wait, left);
    if (!timedOut) break;
    if (NPC_D_SMP_COM_TRANS_START_BUDGET_MS - (now64() - start) <= 0) break;
    logLine("Connect TimeOut, Reconnect.......................");
  }
  if (!ok || !startWorker(c)) {
    c->bRun = false;
    if (c->worker.joinable()) c->worker.join();
    destroyClient(c);
    return nullptr;
  }
  return c;
}

NPC_S_SMP_COM_TRANS_WORK_DATA* NPC_F_SMP_COM_TRANS_StartClientEx(const char* addr, unsigned short port,
                                                                 NPC_F_SMP_COM_TRANS_PACKET_CALLBACK packetCb,
                                                                 void* packetUser,
                                                                 NPC_F_SMP_COM_TRANS_STATE_CALLBACK stateCb,
                                                                 void* stateUser, int autoReconnect) {
  Client* c = createClient(addr, port, packetCb, packetUser);
  if (!c) return nullptr;
  c->stateCb = stateCb;
  c->pStateUser = stateUser;
  c->bStartedWithState = true;
  c->bAutoReconnect = autoReconnect != 0;
  if (!startWorker(c)) {
    destroyClient(c);
    return nullptr;
  }
  return c;
}

void NPC_F_SMP_COM_TRANS_StopClient(NPC_S_SMP_COM_TRANS_WORK_DATA* c) {
  if (!c) return;
  c->bRun = false;
  wake(c);
  if (c->worker.joinable()) c->worker.join();
  destroyClient(c);
}

int NPC_F_SMP_COM_TRANS_SetServerAddr(NPC_S_SMP_COM_TRANS_WORK_DATA* c, const char* addr, unsigned short port) {
  if (!c || !addr) return 0;
  std::lock_guard<std::mutex> lk(c->mu);
  NPC_F_TEXT_CopyRaw(c->sServerAddr, sizeof c->sServerAddr, addr, strlen(addr));
  c->usServerPort = port;
  markLostLocked(c);
  c->bAutoConnectTried = false;
  return 1;
}

int NPC_F_SMP_COM_TRANS_SetStateNotifyCallback(NPC_S_SMP_COM_TRANS_WORK_DATA* c,
                                               NPC_F_SMP_COM_TRANS_STATE_CALLBACK cb, void* user) {
  if (!c) return 0;
  std::lock_guard<std::mutex> lk(c->mu);
  c->stateCb = cb;
  c->pStateUser = user;
  return 1;
}

int NPC_F_SMP_COM_TRANS_SetAutoReconnect(NPC_S_SMP_COM_TRANS_WORK_DATA* c, int flag) {
  if (!c) return 0;
  std::lock_guard<std::mutex> lk(c->mu);
  c->bAutoReconnect = flag != 0;
  wake(c);
  return 1;
}

int NPC_F_SMP_COM_TRANS_SetReConnect(NPC_S_SMP_COM_TRANS_WORK_DATA* c) {
  if (!c) return 0;
  std::lock_guard<std::mutex> lk(c->mu);
  c->bReconnectRequest = true;
  wake(c);
  return 1;
}

int NPC_F_SMP_COM_TRANS_GetReConnectFlag(NPC_S_SMP_COM_TRANS_WORK_DATA* c) {
  if (!c) return 0;
  std::lock_guard<std::mutex> lk(c->mu);
  return c->bReconnectRequest ? 1 : 0;
}

int NPC_F_SMP_COM_TRANS_CheckConnectState(NPC_S_SMP_COM_TRANS_WORK_DATA* c) {
  if (!c) return 0;
  std::lock_guard<std::mutex> lk(c->mu);
  return (c->iSocket >= 0 && !c->bDropRequest) || c->iConnState == NPC_D_SMP_COM_TRANS_STATE_CONNECTED ? 1 : 0;
}

int NPC_F_SMP_COM_TRANS_CallRemoteProcess(NPC_S_SMP_COM_TRANS_WORK_DATA* c, uint32_t funcId, const void* body, int len,
                                          int* outResult, char** outAnswer, int* outAnswerBufSize, int* outAnswerLen,
                                          int timeoutMs) {
  if (!c) return NPC_D_SMP_COM_TRANS_CALL_NULL_CLIENT;
  if (len < 0 || (len > 0 && !body)) return NPC_D_SMP_COM_TRANS_CALL_SEND_FAIL;
  int64_t deadline = now64() + std::max(timeoutMs, 0);
  WaitSlot* slot = nullptr;
  uint32_t transId, seqNo, gen;
  {
    std::lock_guard<std::mutex> lk(c->mu);
    if (c->iConnState != NPC_D_SMP_COM_TRANS_STATE_CONNECTED) return NPC_D_SMP_COM_TRANS_CALL_NOT_CONNECTED;
    for (auto& s : c->slots) {
      if (!s.bInUse) {
        slot = &s;
        break;
      }
    }
    if (!slot) {
      logLine("NPC_F_SMP_COM_TRANS_PR_CreateTrans no free pos.");
      return NPC_D_SMP_COM_TRANS_CALL_NO_SLOT;
    }
    uint32_t counter = ++c->dwCallCounter;
    transId = (NPC_F_SYS_RANDOM_Below(256) << 24) | (counter & 0xFFFFFF) | NPC_D_SMP_COM_TRANS_WAIT_FLAG;
    seqNo = ++c->dwSeqCounter;
    slot->bInUse = true;
    slot->bAnswered = false;
    slot->dwTransId = transId;
    slot->dwSeqNo = seqNo;
    slot->iResult = 0;
    slot->answer.clear();
    ++c->iWaitCount;
    gen = c->dwConnGen;
  }
  auto freeSlot = [&](std::unique_lock<std::mutex>& lk) {
    slot->bInUse = false;
    slot->answer.clear();
    slot->answer.shrink_to_fit();
    --c->iWaitCount;
    lk.unlock();
  };

  std::vector<uint8_t> packet;
  buildRequest(&packet, funcId, transId, seqNo, body, static_cast<uint32_t>(len));
  uint64_t endMark = 0;
  uint32_t sendGen = 0;
  bool sent = packet.size() > static_cast<size_t>(NPC_D_SMP_COM_HEAD_LEN) - 1 &&
              sendBytes(c, packet.data(), packet.size(), &endMark, &sendGen);
  std::unique_lock<std::mutex> lk(c->mu);
  if (!sent || sendGen != gen) {
    freeSlot(lk);
    logLine("NPC_F_SMP_COM_TRANS_CallRemoteProcess NPC_F_SMP_COM_TRANS_PR_SendData fail.");
    return NPC_D_SMP_COM_TRANS_CALL_SEND_FAIL;
  }
  // Until the request has left, wait for the pending bytes to drain; then for the answer. Both
  // end at once when the connection is lost, and together within the caller's time-out.
  NPC_F_SYS_CLOCK_WaitUntil(lk, c->cvSent, deadline,
                            [&] { return c->qwSentTotal >= endMark || c->dwConnGen != gen || slot->bAnswered; });
  NPC_F_SYS_CLOCK_WaitUntil(lk, slot->cv, deadline, [&] { return slot->bAnswered || c->dwConnGen != gen; });
  if (!slot->bAnswered) {
    freeSlot(lk);
    logLine("NPC_F_SMP_COM_TRANS_CallRemoteProcess wait answer time out.");
    return NPC_D_SMP_COM_TRANS_CALL_TIMEOUT;
  }
  std::vector<uint8_t> answer;
  answer.swap(slot->answer);
  int result = slot->iResult;
  freeSlot(lk);
  if (outResult) *outResult = result;
  if (!handOutAnswer(answer, outAnswer, outAnswerBufSize, outAnswerLen)) {
    logLine("NPC_F_SMP_COM_TRANS_CallRemoteProcess malloc fail.");
    return NPC_D_SMP_COM_TRANS_CALL_COPY_FAIL;
  }
  return NPC_D_SMP_COM_TRANS_CALL_OK;
}

int NPC_F_SMP_COM_TRANS_SendRequData(NPC_S_SMP_COM_TRANS_WORK_DATA* c, uint32_t funcId, const void* body, int len,
                                     uint32_t* outTransId, uint32_t* outSeqNo, int timeoutMs) {
  if (!c || len < 0 || (len > 0 && !body)) return 0;
  int64_t deadline = now64() + std::max(timeoutMs, 0);
  uint32_t transId, seqNo;
  {
    std::lock_guard<std::mutex> lk(c->mu);
    if (c->iConnState != NPC_D_SMP_COM_TRANS_STATE_CONNECTED) return 0;
    transId = newRequTransId(c);
    seqNo = ++c->dwSeqCounter;
  }
  std::vector<uint8_t> packet;
  buildRequest(&packet, funcId, transId, seqNo, body, static_cast<uint32_t>(len));
  if (packet.empty()) return 0;
  uint64_t endMark = 0;
  uint32_t gen = 0;
  if (!sendBytes(c, packet.data(), packet.size(), &endMark, &gen)) return 0;
  if (outTransId) *outTransId = transId;
  if (outSeqNo) *outSeqNo = seqNo;
  return waitSent(c, endMark, gen, deadline);
}

int NPC_F_SMP_COM_TRANS_SendPacketData(NPC_S_SMP_COM_TRANS_WORK_DATA* c, const void* packet, int len, int timeoutMs) {
  if (!c || !packet || len < NPC_D_SMP_COM_PACKET_HEAD_LEN) return 0;
  NPC_S_SMP_COM_PACKET_HEAD h;
  NPC_F_SMP_COM_ReadPacketHead(packet, static_cast<uint64_t>(len), &h);
  if (static_cast<uint64_t>(h.dwBodyLen) + NPC_D_SMP_COM_PACKET_HEAD_LEN > static_cast<uint64_t>(len) ||
      static_cast<uint64_t>(len) + NPC_D_SMP_COM_NET_HEAD_LEN > NPC_D_SMP_COM_MAX_PACKET_SIZE) {
    logLine("NPC_F_SMP_COM_TRANS_SendPacketData in_iPacketLen error.");
    return 0;
  }
  int64_t deadline = now64() + std::max(timeoutMs, 0);
  std::vector<uint8_t> out(static_cast<size_t>(len) + NPC_D_SMP_COM_NET_HEAD_LEN, 0);
  uint32_t size = static_cast<uint32_t>(out.size());
  memset(out.data(), 0xFF, 4);
  for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<uint8_t>(size >> (8 * i));
  memcpy(out.data() + NPC_D_SMP_COM_NET_HEAD_LEN, packet, static_cast<size_t>(len));
  uint64_t endMark = 0;
  uint32_t gen = 0;
  if (!sendBytes(c, out.data(), out.size(), &endMark, &gen)) return 0;
  return waitSent(c, endMark, gen, deadline);
}

void NPC_F_SMP_COM_TRANS_ReleaseDataBuf(char* buf) { free(buf); }

int NPC_F_SMP_COM_TRANS_StartTimer(NPC_S_SMP_COM_TRANS_WORK_DATA* c, int intervalSec, uint32_t timerId,
                                   NPC_F_SMP_COM_TRANS_TIMER_CALLBACK cb, void* user) {
  if (!c || !cb || intervalSec <= 0) return 0;
  std::lock_guard<std::mutex> lk(c->mu);
  TimerSlot* slot = nullptr;
  for (auto& t : c->timers) {
    if (t.bInUse && t.dwTimerId == timerId) {
      slot = &t;
      break;
    }
    if (!t.bInUse && !slot) slot = &t;
  }
  if (!slot) {
    logLine("NPC_F_SMP_COM_TRANS_StartTimer no free pos.");
    return 0;
  }
  slot->bInUse = true;
  slot->dwTimerId = timerId;
  slot->cb = cb;
  slot->pUser = user;
  slot->iIntervalSec = intervalSec;
  slot->qwLastFireMs = now64();
  return 1;
}

int NPC_F_SMP_COM_TRANS_StopTimer(NPC_S_SMP_COM_TRANS_WORK_DATA* c, uint32_t timerId) {
  if (!c) return 0;
  int found = 0;
  {
    std::lock_guard<std::mutex> lk(c->mu);
    for (auto& t : c->timers) {
      if (t.bInUse && t.dwTimerId == timerId) {
        t = TimerSlot();
        found = 1;
      }
    }
  }
  // Outside the worker, wait for a firing under way to end.
  if (std::this_thread::get_id() != c->workerId) std::lock_guard<std::mutex> wait(c->timerCbMu);
  return found;
}

// --- One-shot call ------------------------------------------------------------------------------

namespace {

// Sends all of data on a non-blocking socket, waiting for writability until the deadline.
bool directSendAll(int sock, const uint8_t* data, size_t len, int64_t deadline) {
  size_t done = 0;
  while (done < len) {
    size_t n = std::min<size_t>(len - done, 1460);
    int sent = PR_SendSome(sock, data + done, static_cast<int>(n));
    if (sent < 0) return false;
    done += static_cast<size_t>(sent);
    if (done == len) break;
    if (static_cast<size_t>(sent) < n) {
      int64_t left = deadline - now64();
      if (left <= 0) return false;
      pollfd p{sock, POLLOUT, 0};
      PR_Poll(&p, 1, static_cast<int>(std::min<int64_t>(left, 50)));
    }
  }
  return true;
}

}  // namespace

int NPC_F_SMP_COM_TRANS_DirectCallRemoteProcess(const char* addr, unsigned short port, uint32_t funcId,
                                                const void* body, int len, int* outResult, char** outAnswer,
                                                int* outAnswerBufSize, int* outAnswerLen, int timeoutMs) {
  if (!addr || len < 0 || (len > 0 && !body)) return NPC_D_SMP_COM_TRANS_DIRECT_SOCKET_LAYER;
  int64_t start = now64();
  int64_t deadline = start + std::max(timeoutMs, 0);
  NPC_F_SYS_SOCKET_InitSocketLib();
  char ip[64];
  if (!NPC_F_SYS_SOCKET_GetNetIpAddr(addr, ip, sizeof ip)) {
    logLine("NPC_F_SMP_COM_TRANS_DirectCallRemoteProcess NPC_F_SYS_SOCKET_GetNetIpAddr fail.");
    return NPC_D_SMP_COM_TRANS_DIRECT_SOCKET_LAYER;
  }
  // Connect, retrying a refused or failed connect on a fresh socket until the time-out.
  int sock = -1;
  for (;;) {
    int step = 0;
    sock = PR_CreateSocket(&step);
    if (sock < 0) {
      logLine(step == 1 ? "NPC_F_SMP_COM_TRANS_DirectCallRemoteProcess NPC_F_SYS_SOCKET_Create fail."
                        : "NPC_F_SMP_COM_TRANS_DirectCallRemoteProcess NPC_F_SYS_SOCKET_SetBlockMode fail.");
      return step == 1 ? NPC_D_SMP_COM_TRANS_DIRECT_NO_SOCKET : NPC_D_SMP_COM_TRANS_DIRECT_SETUP_FAIL;
    }
    int r = 2;
    if (NPC_F_SYS_SOCKET_StartConnect(sock, ip, port)) {
      // A wait of 0 would report "nothing known yet" as connected, so the last check waits 1 ms.
      for (;;) {
        int64_t left = deadline - now64();
        r = NPC_F_SYS_SOCKET_CheckConnectResult(sock, static_cast<int>(std::max<int64_t>(1, std::min<int64_t>(left, 200))));
        if (r != 1 || now64() >= deadline) break;
      }
    }
    if (r == 0) break;
    NPC_F_SYS_SOCKET_Close(sock);
    sock = -1;
    int64_t left = deadline - now64();
    if (left <= 0) {
      logLine("NPC_F_SMP_COM_TRANS_DirectCallRemoteProcess connect time out.");
      return NPC_D_SMP_COM_TRANS_DIRECT_NO_CONNECT;
    }
    NPC_F_SYS_CLOCK_SleepMs(std::min<int64_t>(left, 100));
  }

  int rc = NPC_D_SMP_COM_TRANS_DIRECT_NO_ANSWER;
  std::vector<uint8_t> packet;
  buildRequest(&packet, funcId, 0, 0, body, static_cast<uint32_t>(len));
  if (packet.empty() || !directSendAll(sock, packet.data(), packet.size(), deadline)) {
    logLine("NPC_F_SMP_COM_TRANS_DirectCallRemoteProcess send fail.");
    NPC_F_SYS_SOCKET_Close(sock);
    return NPC_D_SMP_COM_TRANS_DIRECT_SEND_FAIL;
  }
  NPC_S_SMP_COM_FRAMER framer;
  std::vector<uint8_t> buf(NPC_D_SMP_COM_TRANS_READ_LEN);
  bool done = false;
  while (!done) {
    int64_t left = deadline - now64();
    if (left <= 0) break;
    pollfd p{sock, POLLIN, 0};
    if (PR_Poll(&p, 1, static_cast<int>(std::min<int64_t>(left, 50))) <= 0) continue;
    int state = 0;
    int n = PR_RecvSome(sock, buf.data(), static_cast<int>(buf.size()), &state);
    if (n < 0) break;  // peer closed or failed
    if (n == 0) continue;
    NPC_F_SMP_COM_FRAMER_Append(&framer, buf.data(), static_cast<size_t>(n));
    uint8_t* pkt = nullptr;
    uint32_t size = 0;
    int fr = NPC_D_SMP_COM_FRAME_NEED_MORE;
    while (!done && (fr = NPC_F_SMP_COM_FRAMER_Next(&framer, &pkt, &size)) == NPC_D_SMP_COM_FRAME_OK) {
      unsigned char* plain = nullptr;
      int plainLen = 0, type = 0;
      if (pkt[14] != NPC_D_ED_ENC_TYPE_NONE) {
        if (!NPC_F_ED_DecNetPacket(pkt, static_cast<int>(size), &plain, &plainLen, &type)) continue;
        if (plain) {
          pkt = plain;
          size = static_cast<uint32_t>(plainLen);
        }
      }
      NPC_S_SMP_COM_PACKET_HEAD h;
      NPC_F_SMP_COM_ReadPacketHead(pkt + NPC_D_SMP_COM_NET_HEAD_LEN, size - NPC_D_SMP_COM_NET_HEAD_LEN, &h);
      if (h.dwFuncId == GCOM_HEARTBEAT && h.usPacketType == NPC_D_SMP_COM_PACKET_TYPE_REQU) {
        std::vector<uint8_t> echo(pkt, pkt + size);
        echo[18] = NPC_D_SMP_COM_PACKET_TYPE_RESP;
        echo[19] = 0;
        directSendAll(sock, echo.data(), echo.size(), deadline);
      } else if (h.dwFuncId == funcId && h.dwTransId == 0 && h.dwSeqNo == 0) {
        std::vector<uint8_t> answer(pkt + NPC_D_SMP_COM_HEAD_LEN, pkt + NPC_D_SMP_COM_HEAD_LEN + h.dwBodyLen);
        if (outResult) *outResult = h.iResult;
        rc = handOutAnswer(answer, outAnswer, outAnswerBufSize, outAnswerLen) ? NPC_D_SMP_COM_TRANS_DIRECT_OK
                                                                            : NPC_D_SMP_COM_TRANS_DIRECT_NO_ANSWER;
        done = true;
      }
      NPC_F_ED_ReleasePacket(plain);
    }
    if (!done && fr != NPC_D_SMP_COM_FRAME_NEED_MORE) break;  // framing error
  }
  if (rc != NPC_D_SMP_COM_TRANS_DIRECT_OK) logLine("NPC_F_SMP_COM_TRANS_DirectCallRemoteProcess no answer.");
  NPC_F_SYS_SOCKET_Close(sock);
  return rc;
}
