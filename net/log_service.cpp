// The log network service and the log upload client (see log_service.h).
//
// Threads: the service has one thread that accepts clients, fans lines out and checks clients;
// each upload client has one thread that connects and sends. Producers (any thread that logs)
// reach them only through the log core's line sinks, which queue without waiting. The
// service's sink also writes the service's eventfd, so its thread wakes at once for a line as
// it does for a new connection; its 100 ms wait is only a ceiling.
#include "net/log_service.h"

#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "net/sys_socket.h"
#include "net/syscall.h"
#include "runtime/clock.h"
#include "runtime/log.h"
#include "runtime/queue.h"
#include "runtime/text.h"
#include "runtime/thread.h"

namespace {

constexpr int kServiceWaitMs = 100;
constexpr int kServiceSendWaitMs = 2000;
constexpr int64_t kClientCheckSpacingMs = 5000;
constexpr int kLineProbeBytes = 64;
constexpr int kCheckProbeBytes = 256;
constexpr int kServiceStopWaitMs = 1000;

constexpr int kUpConnectWaitMs = 12000;
constexpr int kUpConnectStepMs = 100;
constexpr int kUpSendWaitMs = 4000;
constexpr int kUpLineWaitMs = 500;
constexpr int kUpIdleSleepMs = 500;
constexpr int kUpFirstRetrySeconds = 2;
constexpr int kUpRetryStepSeconds = 2;
constexpr int kUpMaxRetrySeconds = 10;
constexpr int kUpStopWaitMs = 5000;

// One bounded receive whose bytes are discarded. True when the peer is still there: bytes
// came, or nothing was waiting.
bool ProbeAlive(int sock, int bytes) {
  char junk[kCheckProbeBytes];
  int state = 0;
  int n = NPC_F_SYS_SOCKET_Recv(sock, junk, bytes, &state, nullptr, 0);
  return n > 0 || state == NPC_D_SYS_SOCKET_STATE_NODATA;
}

void DrainEventFd(int fd) {
  uint64_t v;
  while (::read(fd, &v, sizeof v) == static_cast<ssize_t>(sizeof v)) {
  }
}

// --- Log network service ----------------------------------------------------------------------

struct LogClient {
  int bInUse = 0;
  int iSocket = -1;
};

struct LogService {
  std::mutex lifecycle;  // start and stop
  bool bStarted = false;
  std::atomic<int> bRun{0};
  void* pThread = nullptr;
  std::atomic<unsigned short> usPort{0};
  int iListenSocket = -1;
  int iWakeFd = -1;
  void* pQueue = nullptr;
  LogClient clients[NPC_D_LOG_SR_MAX_CLIENT_NUM];
  std::atomic<int> iClientNum{0};
  int64_t qwLastCheckTick = 0;
};

LogService g_service;

// Called by the log under its mutex with each finished line: queue it and wake the thread,
// never wait, never log.
void ServiceSink(const char* line, int len, void* user) {
  auto* svc = static_cast<LogService*>(user);
  if (NPC_F_TOOLS_QUEUE_SetData(svc->pQueue, line, len, 0)) {
    const uint64_t one = 1;
    ssize_t r = ::write(svc->iWakeFd, &one, sizeof one);
    (void)r;
  }
}

void CloseClient(LogService* svc, LogClient* c) {
  NPC_F_SYS_SOCKET_Close(c->iSocket);
  c->iSocket = -1;
  c->bInUse = 0;
  svc->iClientNum.fetch_sub(1, std::memory_order_relaxed);
}

// Accepts at most one pending connection into the first free entry; with all entries in use
// (or when it cannot be made non-blocking) the connection is closed at once.
void AcceptOne(LogService* svc) {
  int fd = NPC_F_SYS_SOCKET_Accept(svc->iListenSocket, nullptr, 0, nullptr);
  if (fd < 0) return;
  if (!NPC_F_SYS_SOCKET_SetBlockMode(fd, 0)) {
    NPC_F_SYS_SOCKET_Close(fd);
    return;
  }
  for (auto& c : svc->clients) {
    if (!c.bInUse) {
      c.bInUse = 1;
      c.iSocket = fd;
      svc->iClientNum.fetch_add(1, std::memory_order_relaxed);
      return;
    }
  }
  NPC_F_SYS_SOCKET_Close(fd);
}

// Sends one line to every client; a client that has gone, or cannot take the whole line
// within 2000 ms, is dropped.
void SendLineToClients(LogService* svc, const char* line, int len) {
  for (auto& c : svc->clients) {
    if (!c.bInUse) continue;
    int state = 0;
    if (!ProbeAlive(c.iSocket, kLineProbeBytes) ||
        !NPC_F_SYS_SOCKET_WaitSend(c.iSocket, line, len, kServiceSendWaitMs, &state, nullptr, 0)) {
      CloseClient(svc, &c);
    }
  }
}

void CheckClients(LogService* svc) {
  for (auto& c : svc->clients) {
    if (c.bInUse && !ProbeAlive(c.iSocket, kCheckProbeBytes)) CloseClient(svc, &c);
  }
}

// The service thread: waits (at most 100 ms) for a connection or a line, accepts one
// connection, sends one line, and every 5 seconds drops clients that have gone.
void ServiceThread(void* arg) {
  auto* svc = static_cast<LogService*>(arg);
  char* line = nullptr;
  int cap = 0;
  svc->qwLastCheckTick = NPC_F_SYS_GetTickCount64();
  while (svc->bRun.load(std::memory_order_acquire)) {
    const int wait = NPC_F_TOOLS_QUEUE_GetCount(svc->pQueue) > 0 ? 0 : kServiceWaitMs;
    pollfd fds[2] = {{svc->iListenSocket, POLLIN, 0}, {svc->iWakeFd, POLLIN, 0}};
    int r = NPC_F_NET_SYSCALL_Get()->pfPoll(fds, 2, wait);
    // A failing poll (out of memory) must not turn the loop into a spin.
    if (r < 0 && errno != EINTR) ::poll(nullptr, 0, kServiceWaitMs);
    if (r > 0 && fds[1].revents) DrainEventFd(svc->iWakeFd);
    if (r > 0 && (fds[0].revents & POLLIN)) AcceptOne(svc);
    int len = 0;
    if (NPC_F_TOOLS_QUEUE_GetDataEx(svc->pQueue, &line, &len, &cap, 0) && len > 0)
      SendLineToClients(svc, line, len);
    const int64_t now = NPC_F_SYS_GetTickCount64();
    if (now - svc->qwLastCheckTick >= kClientCheckSpacingMs) {
      svc->qwLastCheckTick = now;
      CheckClients(svc);
    }
  }
  if (line) NPC_F_TOOLS_QUEUE_FreeMemory(&line);
}

// Releases what a start made (also after a failed start).
void ReleaseService(LogService* svc) {
  for (auto& c : svc->clients)
    if (c.bInUse) CloseClient(svc, &c);
  NPC_F_SYS_SOCKET_Close(svc->iListenSocket);
  svc->iListenSocket = -1;
  if (svc->iWakeFd >= 0) ::close(svc->iWakeFd);
  svc->iWakeFd = -1;
  if (svc->pQueue) NPC_F_TOOLS_QUEUE_FreeQueue(&svc->pQueue);
  NPC_F_SYS_SOCKET_UninitSocketLib();
  svc->usPort.store(0);
}

// --- Log upload client ------------------------------------------------------------------------

std::mutex g_upClientMutex;
NPC_S_LOG_UPCLIENT_WORKDATA* g_upClient = nullptr;

}  // namespace

struct NPC_S_LOG_UPCLIENT_WORKDATA {
  std::atomic<int> bRun{0};
  void* pThread = nullptr;
  int iSocket = -1;  // -1 when not connected
  char sName[32] = {};
  char sIdent[32] = {};
  char sSrvIpaddr[16] = {};
  unsigned short usSrvPort = 0;
  int64_t qwLastConnectTime = 0;  // wall seconds of the last attempt; 0: none yet
  int iRetryInterval = kUpFirstRetrySeconds;
  void* pQueue = nullptr;
  char* pReadBuf = nullptr;
  int iReadBufCap = 0;
  std::mutex waitMutex;  // with waitCv: sleeps that a stop ends at once
  std::condition_variable waitCv;
};

namespace {

using UpClient = NPC_S_LOG_UPCLIENT_WORKDATA;

// Sleeps ms on the clock seam (the fake clock in tests); a stop ends it at once.
void UpSleep(UpClient* c, int ms) {
  std::unique_lock<std::mutex> lk(c->waitMutex);
  NPC_F_SYS_CLOCK_WaitUntil(lk, c->waitCv, NPC_F_SYS_GetTickCount64() + ms,
                            [c] { return c->bRun.load(std::memory_order_acquire) == 0; });
}

void UpDisconnect(UpClient* c) {
  NPC_F_SYS_SOCKET_Close(c->iSocket);
  c->iSocket = -1;
}

// Waits up to 12000 ms for the connect to finish, in steps so that a stop is not held up.
bool UpWaitConnected(UpClient* c) {
  for (int waited = 0; waited < kUpConnectWaitMs; waited += kUpConnectStepMs) {
    if (!c->bRun.load(std::memory_order_acquire)) return false;
    const int r = NPC_F_SYS_SOCKET_CheckConnectResult(c->iSocket, kUpConnectStepMs);
    if (r == 0) return true;
    if (r == 2) return false;
  }
  return false;
}

void UpSink(const char* line, int len, void* user) {
  NPC_F_LOG_UPC_SendLogData(static_cast<UpClient*>(user), line, len);
}

void FreeUpClient(UpClient* c) {
  UpDisconnect(c);
  if (c->pQueue) NPC_F_TOOLS_QUEUE_FreeQueue(&c->pQueue);
  if (c->pReadBuf) NPC_F_TOOLS_QUEUE_FreeMemory(&c->pReadBuf);
  delete c;
}

}  // namespace

// --- Log network service: operations -----------------------------------------------------------

int NPC_F_LOG_SR_StartLogService(unsigned short port) {
  LogService* svc = &g_service;
  std::lock_guard<std::mutex> lk(svc->lifecycle);
  if (svc->bStarted) return 1;
  const char* step = nullptr;
  unsigned short bound = port;
  if (!NPC_F_TOOLS_QUEUE_InitQueue(&svc->pQueue, NPC_D_LOG_SR_SERVICE_QUEUE_SIZE)) {
    step = "NPC_F_TOOLS_QUEUE_InitQueue";
  } else if ((svc->iWakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) < 0) {
    step = "eventfd";
  } else if (!NPC_F_SYS_SOCKET_InitSocketLib()) {
    step = "NPC_F_SYS_SOCKET_InitSocketLib";
  } else if ((svc->iListenSocket = NPC_F_SYS_SOCKET_Create(0)) < 0) {
    step = "NPC_F_SYS_SOCKET_Create";
  } else if (!NPC_F_SYS_SOCKET_SetBlockMode(svc->iListenSocket, 0)) {
    step = "NPC_F_SYS_SOCKET_SetBlockMode";
  } else if (!NPC_F_SYS_SOCKET_Bind(svc->iListenSocket, nullptr, port)) {
    step = "NPC_F_SYS_SOCKET_Bind";
  } else if (!NPC_F_SYS_SOCKET_Listen(svc->iListenSocket)) {
    step = "NPC_F_SYS_SOCKET_Listen";
  } else if (!NPC_F_SYS_SOCKET_GetSocketLocalAddr(svc->iListenSocket, nullptr, 0, &bound)) {
    step = "NPC_F_SYS_SOCKET_GetSocketLocalAddr";
  }
  if (!step) {
    svc->usPort.store(bound);
    svc->bRun.store(1, std::memory_order_release);
    svc->pThread = NPC_F_THREAD_CreateThread(ServiceThread, svc);
    if (!svc->pThread) {
      svc->bRun.store(0);
      step = "NPC_F_THREAD_CreateThread";
    }
  }
  if (step) {
    ReleaseService(svc);
    NPC_F_LOG_SR_WriteLogF("NPC_F_LOG_SR_StartLogService %s fail.", step);
    return 0;
  }
  svc->bStarted = true;
  NPC_F_LOG_SR_SetLineSink(0, ServiceSink, svc);
  return 1;
}

void NPC_F_LOG_SR_StopLogService() {
  LogService* svc = &g_service;
  std::lock_guard<std::mutex> lk(svc->lifecycle);
  if (!svc->bStarted) return;
  // After this returns the log no longer calls the sink, so the queue can go.
  NPC_F_LOG_SR_SetLineSink(0, nullptr, nullptr);
  svc->bRun.store(0, std::memory_order_release);
  const uint64_t one = 1;
  ssize_t r = ::write(svc->iWakeFd, &one, sizeof one);
  (void)r;
  NPC_F_THREAD_WaitExitThread(svc->pThread, kServiceStopWaitMs);
  svc->pThread = nullptr;
  ReleaseService(svc);
  svc->bStarted = false;
}

unsigned short NPC_F_LOG_SR_GetLogServicePort() { return g_service.usPort.load(); }

int NPC_F_LOG_SR_QueryLogClientNum() { return g_service.iClientNum.load(std::memory_order_relaxed); }

// --- Log upload client: operations --------------------------------------------------------------

NPC_S_LOG_UPCLIENT_WORKDATA* NPC_F_LOG_UPC_StartLogUpServer(const char* name, const char* ident,
                                                            const char* srvAddr,
                                                            unsigned short srvPort) {
  if (!srvAddr || !*srvAddr || srvPort == 0) {
    NPC_F_LOG_SR_WriteLog("NPC_F_LOG_UPC_StartLogUpServer in_pSrvIpaddr or in_usSrvPort is 0.", 2);
    return nullptr;
  }
  auto* c = new (std::nothrow) UpClient();
  if (!c) {
    NPC_F_LOG_SR_WriteLog("NPC_F_LOG_UPC_StartLogUpServer malloc fail.", 2);
    return nullptr;
  }
  if (!NPC_F_TOOLS_QUEUE_InitQueue(&c->pQueue, NPC_D_LOG_UPC_QUEUE_SIZE)) {
    NPC_F_LOG_SR_WriteLog("NPC_F_LOG_UPC_StartLogUpServer NPC_F_TOOLS_QUEUE_InitQueue fail.", 2);
    FreeUpClient(c);
    return nullptr;
  }
  NPC_F_TEXT_Copy(c->sName, sizeof c->sName, name);
  NPC_F_TEXT_Copy(c->sIdent, sizeof c->sIdent, ident);
  NPC_F_TEXT_CopyRaw(c->sSrvIpaddr, sizeof c->sSrvIpaddr, srvAddr, std::strlen(srvAddr));
  c->usSrvPort = srvPort;
  c->iRetryInterval = kUpFirstRetrySeconds;
  NPC_F_SYS_SOCKET_InitSocketLib();
  c->bRun.store(1, std::memory_order_release);
  c->pThread = NPC_F_THREAD_CreateThread(NPC_F_LOG_UPC_ThreadWork, c);
  if (!c->pThread) {
    NPC_F_LOG_SR_WriteLog("NPC_F_LOG_UPC_StartLogUpServer NPC_F_THREAD_CreateThread fail.", 2);
    FreeUpClient(c);
    return nullptr;
  }
  return c;
}

void NPC_F_LOG_UPC_StopLogUpServer(NPC_S_LOG_UPCLIENT_WORKDATA* client) {
  if (!client) return;
  {
    std::lock_guard<std::mutex> lk(client->waitMutex);
    client->bRun.store(0, std::memory_order_release);
  }
  client->waitCv.notify_all();
  NPC_F_THREAD_WaitExitThread(client->pThread, kUpStopWaitMs);
  client->pThread = nullptr;
  FreeUpClient(client);
}

int NPC_F_LOG_UPC_SendLogData(NPC_S_LOG_UPCLIENT_WORKDATA* client, const char* line, int len) {
  if (!client || !line || len <= 0) return 0;
  return NPC_F_TOOLS_QUEUE_SetData(client->pQueue, line, len, 0);
}

// Connect step. A connection counts once it is established, its probe finds the server still
// there, and the hello went out within 4000 ms; any failure closes the socket. Attempts are
// spaced by the retry interval in wall seconds, which grows by 2 after each attempt up to 10.
int NPC_F_LOG_UPC_ConnectServer(NPC_S_LOG_UPCLIENT_WORKDATA* c) {
  if (!c) return 0;
  if (c->iSocket >= 0) return 1;
  const int64_t now = NPC_F_SYS_GetWallTime();
  if (c->qwLastConnectTime != 0 && now - c->qwLastConnectTime < c->iRetryInterval) return 0;
  c->qwLastConnectTime = now;
  c->iRetryInterval += kUpRetryStepSeconds;
  if (c->iRetryInterval > kUpMaxRetrySeconds) c->iRetryInterval = kUpMaxRetrySeconds;

  c->iSocket = NPC_F_SYS_SOCKET_Create(0);
  if (c->iSocket < 0) return 0;
  bool ok = NPC_F_SYS_SOCKET_SetBlockMode(c->iSocket, 0) &&
            NPC_F_SYS_SOCKET_StartConnect(c->iSocket, c->sSrvIpaddr, c->usSrvPort) &&
            UpWaitConnected(c) && ProbeAlive(c->iSocket, kLineProbeBytes);
  if (ok) {
    NPC_S_LOG_UPCLIENT_HELLO hello;
    std::memset(&hello, 0, sizeof hello);
    const unsigned char mark[4] = {
        static_cast<unsigned char>(NPC_D_LOG_UPC_HELLO_MARK & 0xFF),
        static_cast<unsigned char>((NPC_D_LOG_UPC_HELLO_MARK >> 8) & 0xFF),
        static_cast<unsigned char>((NPC_D_LOG_UPC_HELLO_MARK >> 16) & 0xFF),
        static_cast<unsigned char>((NPC_D_LOG_UPC_HELLO_MARK >> 24) & 0xFF)};
    std::memcpy(&hello.dwMark, mark, sizeof mark);
    std::memcpy(hello.sName, c->sName, sizeof hello.sName);
    std::memcpy(hello.sIdent, c->sIdent, sizeof hello.sIdent);
    int state = 0;
    ok = NPC_F_SYS_SOCKET_WaitSend(c->iSocket, reinterpret_cast<const char*>(&hello), sizeof hello,
                                   kUpSendWaitMs, &state, nullptr, 0) == 1;
  }
  if (!ok) {
    UpDisconnect(c);
    return 0;
  }
  return 1;
}

// Sends the next line: probe, then the whole line within 4000 ms. On failure the connection
// is closed (the line is lost) and the next pass reconnects.
int NPC_F_LOG_UPC_DoLogQueueEvent(NPC_S_LOG_UPCLIENT_WORKDATA* c) {
  if (!c) return 0;
  int len = 0;
  if (!NPC_F_TOOLS_QUEUE_GetDataEx(c->pQueue, &c->pReadBuf, &len, &c->iReadBufCap, kUpLineWaitMs))
    return 0;
  if (len <= 0) return 0;
  int state = 0;
  if (!ProbeAlive(c->iSocket, kLineProbeBytes) ||
      !NPC_F_SYS_SOCKET_WaitSend(c->iSocket, c->pReadBuf, len, kUpSendWaitMs, &state, nullptr, 0)) {
    UpDisconnect(c);
    return 0;
  }
  return 1;
}

void NPC_F_LOG_UPC_ThreadWork(void* arg) {
  auto* c = static_cast<UpClient*>(arg);
  while (c->bRun.load(std::memory_order_acquire)) {
    if (NPC_F_LOG_UPC_ConnectServer(c)) {
      NPC_F_LOG_UPC_DoLogQueueEvent(c);
    } else {
      UpSleep(c, kUpIdleSleepMs);
    }
  }
}

int NPC_F_LOG_SR_StartLogUpClient(const char* name, const char* ident, const char* srvAddr,
                                  unsigned short srvPort) {
  std::lock_guard<std::mutex> lk(g_upClientMutex);
  if (g_upClient) {
    NPC_F_LOG_SR_SetLineSink(1, nullptr, nullptr);
    NPC_F_LOG_UPC_StopLogUpServer(g_upClient);
    g_upClient = nullptr;
  }
  g_upClient = NPC_F_LOG_UPC_StartLogUpServer(name, ident, srvAddr, srvPort);
  if (!g_upClient) return 0;
  NPC_F_LOG_SR_SetLineSink(1, UpSink, g_upClient);
  return 1;
}

void NPC_F_LOG_SR_StopLogUpClient() {
  std::lock_guard<std::mutex> lk(g_upClientMutex);
  if (!g_upClient) return;
  NPC_F_LOG_SR_SetLineSink(1, nullptr, nullptr);
  NPC_F_LOG_UPC_StopLogUpServer(g_upClient);
  g_upClient = nullptr;
}
