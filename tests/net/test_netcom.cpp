// The socket event engine on loopback: listeners, connects, accepted connections and UDP
// ports, the five events, send queues (priority, partial writes, caps), the slot table and
// its ids, descriptors above 1023, the wake-up, and the thread and queue modes.
#include <gtest/gtest.h>

#include <errno.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "net/netcom.h"
#include "net/sys_socket.h"
#include "net/syscall.h"
#include "net_test_util.h"
#include "runtime/random.h"
#include "test_support.h"

namespace {

using namespace net_test;
using korven_test::FakeClock;
using korven_test::LogCapture;

struct Event {
  int type = 0;
  int trans = 0;
  unsigned short localPort = 0;
  uint32_t portId = 0;
  std::string peer;
  unsigned short peerPort = 0;
  uint32_t serial = 0;
  std::string data;
};

// Records every event; safe for the thread mode's worker.
class Recorder {
 public:
  static void Callback(void* user, const char* ev, int len) {
    auto* self = static_cast<Recorder*>(user);
    NPC_S_NETCOM_DATA_HEAD head;
    ASSERT_GE(len, static_cast<int>(sizeof head));
    std::memcpy(&head, ev, sizeof head);
    ASSERT_EQ(len, static_cast<int>(sizeof head) + head.iDataLen);
    Event e;
    e.type = head.iEventType;
    e.trans = head.usTransType;
    e.localPort = head.usLocalPort;
    e.portId = head.dwPortId;
    e.peer = head.szPeerIpaddr;
    e.peerPort = head.usPeerPort;
    e.serial = head.dwSerialNo;
    e.data.assign(ev + sizeof head, static_cast<size_t>(head.iDataLen));
    std::lock_guard<std::mutex> lk(self->mu_);
    self->events_.push_back(e);
    if (self->onEvent) self->onEvent(e);
  }
  std::vector<Event> events() const {
    std::lock_guard<std::mutex> lk(mu_);
    return events_;
  }
  std::vector<Event> of(int type) const {
    std::vector<Event> out;
    for (const Event& e : events())
      if (e.type == type) out.push_back(e);
    return out;
  }
  size_t count(int type) const { return of(type).size(); }
  std::string dataOf(uint32_t portId) const {
    std::string out;
    for (const Event& e : events())
      if (e.type == NPC_D_NETCOM_EVENT_DATA && e.portId == portId) out += e.data;
    return out;
  }
  void clear() {
    std::lock_guard<std::mutex> lk(mu_);
    events_.clear();
  }
  // Called under the recorder's lock on the engine's thread.
  std::function<void(const Event&)> onEvent;

 private:
  mutable std::mutex mu_;
  std::vector<Event> events_;
};

int32_t ResultOf(const Event& e) {
  NPC_S_NETCOM_CONNECT_RESULT r;
  std::memcpy(&r, e.data.data(), sizeof r);
  return r.iResult;
}

std::string ResultText(const Event& e) {
  NPC_S_NETCOM_CONNECT_RESULT r;
  std::memcpy(&r, e.data.data(), sizeof r);
  return r.sResultInfo;
}

// Send seam: each send takes at most the remaining budget (-1: no limit); an empty budget
// would block.
std::atomic<long> g_sendBudget{-1};
ssize_t BudgetSend(int fd, const void* buf, size_t len, int flags) {
  long b = g_sendBudget.load();
  if (b < 0) return send(fd, buf, len, flags);
  if (b == 0) {
    errno = EAGAIN;
    return -1;
  }
  size_t take = std::min(len, static_cast<size_t>(b));
  ssize_t n = send(fd, buf, take, flags);
  if (n > 0) g_sendBudget -= n;
  return n;
}

class NetcomTest : public ::testing::Test {
 protected:
  void SetUp() override {
    inst_ = NPC_F_NETCOM_StartNetServerByNoThread(&Recorder::Callback, &rec_, 0);
    ASSERT_NE(nullptr, inst_);
  }
  void TearDown() override {
    NPC_F_NETCOM_CloseNetServer(inst_);
    for (int fd : fds_) close(fd);
  }

  // Runs passes until pred holds (true) or ms pass (false).
  bool Pump(const std::function<bool()>& pred, int ms = 5000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!pred()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      NPC_F_NETCOM_DoNetEvent(inst_, 5);
    }
    return true;
  }
  void Passes(int n) {
    for (int i = 0; i < n; ++i) NPC_F_NETCOM_DoNetEvent(inst_, 5);
  }
  int Keep(int fd) {
    fds_.push_back(fd);
    return fd;
  }

  // An outgoing engine connection to a plain loopback peer: the engine's port id, the peer's
  // descriptor in *peer. rcvBuf > 0 shrinks the peer's receive buffer.
  uint32_t ConnectToPeer(int* peer, int rcvBuf = 0) {
    unsigned short port = 0;
    int listener = Keep(ListenTcp(&port, rcvBuf));
    uint32_t id = 0;
    EXPECT_EQ(1, NPC_F_NETCOM_AddTcpConnect(inst_, "127.0.0.1", port, &id));
    EXPECT_TRUE(Pump([&] { return rec_.count(NPC_D_NETCOM_EVENT_CONNECT_RESULT) > 0; }));
    *peer = Keep(AcceptWithin(listener, 2000));
    rec_.clear();
    return id;
  }

  NPC_H_NETCOM inst_ = nullptr;
  Recorder rec_;
  std::vector<int> fds_;
};

// --- Connections ------------------------------------------------------------------------------

TEST_F(NetcomTest, ListenConnectAcceptDataAndClose) {
  unsigned short port = 0;
  uint32_t listenId = 0;
  ASSERT_EQ(1, NPC_F_NETCOM_StartTcpListen(inst_, &port, &listenId));
  EXPECT_NE(0, port);
  EXPECT_NE(0u, listenId);

  uint32_t clientId = 0;
  ASSERT_EQ(1, NPC_F_NETCOM_AddTcpConnect(inst_, "127.0.0.1", port, &clientId));
  ASSERT_TRUE(Pump([&] {
    return rec_.count(NPC_D_NETCOM_EVENT_CONNECT) == 1 && rec_.count(NPC_D_NETCOM_EVENT_CONNECT_RESULT) == 1;
  }));
  const Event accepted = rec_.of(NPC_D_NETCOM_EVENT_CONNECT)[0];
  EXPECT_EQ(port, accepted.localPort);
  EXPECT_EQ("127.0.0.1", accepted.peer);
  EXPECT_NE(0u, accepted.portId);
  const Event result = rec_.of(NPC_D_NETCOM_EVENT_CONNECT_RESULT)[0];
  EXPECT_EQ(clientId, result.portId);
  EXPECT_EQ(0, ResultOf(result));
  EXPECT_EQ("success", ResultText(result));
  EXPECT_EQ(port, result.peerPort);

  const uint32_t serverId = accepted.portId;
  ASSERT_EQ(1, NPC_F_NETCOM_SendTcpData(inst_, clientId, "ping", 4, 0, 0, 0));
  ASSERT_TRUE(Pump([&] { return rec_.dataOf(serverId) == "ping"; }));
  ASSERT_EQ(1, NPC_F_NETCOM_SendTcpData(inst_, serverId, "pong!", 5, 0, 0, 0));
  ASSERT_TRUE(Pump([&] { return rec_.dataOf(clientId) == "pong!"; }));
  auto data = rec_.of(NPC_D_NETCOM_EVENT_DATA);
  ASSERT_EQ(2u, data.size());
  EXPECT_EQ(0u, data[0].serial);  // the first event of each socket carries 0
  EXPECT_EQ(0u, data[1].serial);
  EXPECT_EQ(port, data[0].localPort);
  EXPECT_EQ(0, data[0].trans);

  // The owner's close emits nothing; the other side sees the loss.
  rec_.clear();
  EXPECT_EQ(1, NPC_F_NETCOM_CloseTcpConnect(inst_, clientId));
  ASSERT_TRUE(Pump([&] { return rec_.count(NPC_D_NETCOM_EVENT_DISCONNECT) > 0; }));
  for (const Event& e : rec_.events()) EXPECT_EQ(serverId, e.portId);
  EXPECT_EQ(0, NPC_F_NETCOM_CloseTcpConnect(inst_, clientId));  // stale now
  EXPECT_EQ(1, NPC_F_NETCOM_CloseTcpConnect(inst_, serverId));
  EXPECT_EQ(1, NPC_F_NETCOM_CloseTcpListenByPortId(inst_, listenId));
}

std::atomic<int> g_connectSoError{0};
int InjectedSoError(int fd, int level, int name, void* value, socklen_t* len) {
  if (level == SOL_SOCKET && name == SO_ERROR && g_connectSoError.load() != 0) {
    *static_cast<int*>(value) = g_connectSoError.load();
    *len = sizeof(int);
    return 0;
  }
  return getsockopt(fd, level, name, value, len);
}

// A refused connect yields exactly one CONNECT_RESULT failure and nothing else: never a
// success followed by DISCONNECT. Covered for a port that really refuses and for a connect
// that polls writable while its pending error says refused.
TEST_F(NetcomTest, RefusedConnectGivesOneFailure) {
  for (bool injected : {false, true}) {
    SCOPED_TRACE(injected ? "injected refusal" : "closed port");
    rec_.clear();
    unsigned short port = 0;
    int fd = Keep(injected ? ListenTcp(&port) : RefusingPort(&port));
    SyscallOverride seam;
    seam.table().pfGetSockOpt = InjectedSoError;
    g_connectSoError = injected ? ECONNREFUSED : 0;
    seam.install();
    uint32_t id = 0;
    ASSERT_EQ(1, NPC_F_NETCOM_AddTcpConnect(inst_, "127.0.0.1", port, &id));
    ASSERT_TRUE(Pump([&] { return rec_.count(NPC_D_NETCOM_EVENT_CONNECT_RESULT) > 0; }));
    Passes(5);
    auto events = rec_.events();
    ASSERT_EQ(1u, events.size());
    EXPECT_EQ(NPC_D_NETCOM_EVENT_CONNECT_RESULT, events[0].type);
    EXPECT_EQ(id, events[0].portId);
    EXPECT_EQ(1, ResultOf(events[0]));
    EXPECT_EQ("连接失败", ResultText(events[0]));
    // The engine freed the slot itself.
    EXPECT_EQ(0, NPC_F_NETCOM_CloseTcpConnect(inst_, id));
    g_connectSoError = 0;
    (void)fd;
  }
}

TEST_F(NetcomTest, PeerCloseReportsDisconnectEveryPassUntilClosed) {
  int peer = -1;
  uint32_t id = ConnectToPeer(&peer);
  SendAll(peer, "last words");
  shutdown(peer, SHUT_RDWR);
  ASSERT_TRUE(Pump([&] { return rec_.count(NPC_D_NETCOM_EVENT_DISCONNECT) >= 3; }));
  EXPECT_EQ("last words", rec_.dataOf(id));
  EXPECT_EQ(1, NPC_F_NETCOM_CloseTcpConnect(inst_, id));
  rec_.clear();
  Passes(3);
  EXPECT_TRUE(rec_.events().empty());
}

// --- Send queues ------------------------------------------------------------------------------

struct PriorityCase {
  std::vector<int> priorities;  // queued in this order, message i is the letter 'a' + i
  std::string expected;         // order on the wire
};

void PrintTo(const PriorityCase& c, std::ostream* os) { *os << c.expected; }

class NetcomPriorityTest : public NetcomTest, public ::testing::WithParamInterface<PriorityCase> {};

TEST_P(NetcomPriorityTest, HigherPrioritiesFirstEqualOnesInOrder) {
  int peer = -1;
  uint32_t id = ConnectToPeer(&peer);
  const auto& c = GetParam();
  for (size_t i = 0; i < c.priorities.size(); ++i) {
    const char msg = static_cast<char>('a' + i);
    ASSERT_EQ(1, NPC_F_NETCOM_SendTcpData(inst_, id, &msg, 1, c.priorities[i], 0, 0));
  }
  EXPECT_EQ(static_cast<int>(c.priorities.size()), NPC_F_NETCOM_QuerySendQueueSize(inst_, id));
  ASSERT_TRUE(Pump([&] { return NPC_F_NETCOM_QuerySendQueueSize(inst_, id) == 0; }));
  EXPECT_EQ(c.expected, ReadUpTo(peer, c.expected.size(), 2000));
}

INSTANTIATE_TEST_SUITE_P(Orders, NetcomPriorityTest,
                         ::testing::Values(PriorityCase{{0, 0, 0}, "abc"}, PriorityCase{{0, 5, 0}, "bac"},
                                           PriorityCase{{3, 9, 3, 2, 9}, "beacd"},
                                           PriorityCase{{-1, 0, 1, 0, -1}, "cbdae"},
                                           PriorityCase{{2, 2, 7, 2, 7, 1}, "ceabdf"}));

// Nothing is put ahead of a message that has been partly written, and clearing the queue
// keeps exactly that message, so the stream never carries half a message followed by another.
TEST_F(NetcomTest, PartlyWrittenFirstMessageStaysFirst) {
  int peer = -1;
  uint32_t id = ConnectToPeer(&peer);
  SyscallOverride seam;
  seam.table().pfSend = BudgetSend;
  seam.install();
  const std::string first(5000, 'A');
  g_sendBudget = 1000;
  ASSERT_EQ(1, NPC_F_NETCOM_SendTcpData(inst_, id, first.data(), static_cast<int>(first.size()), 0, 0, 0));
  Passes(2);  // 1000 bytes go, then the kernel "refuses"
  ASSERT_EQ(1, NPC_F_NETCOM_SendTcpData(inst_, id, "HIGH", 4, 9, 0, 0));
  ASSERT_EQ(1, NPC_F_NETCOM_SendTcpData(inst_, id, "low", 3, 0, 0, 0));
  ASSERT_EQ(1, NPC_F_NETCOM_SendTcpData(inst_, id, "HIGHER", 6, 10, 0, 0));
  g_sendBudget = -1;
  ASSERT_TRUE(Pump([&] { return NPC_F_NETCOM_QuerySendQueueSize(inst_, id) == 0; }));
  const std::string want = first + "HIGHER" + "HIGH" + "low";
  EXPECT_EQ(want, ReadUpTo(peer, want.size(), 2000));
}

TEST_F(NetcomTest, ClearKeepsExactlyTheHalfWrittenMessage) {
  int peer = -1;
  uint32_t id = ConnectToPeer(&peer);
  SyscallOverride seam;
  seam.table().pfSend = BudgetSend;
  seam.install();
  const std::string first(4000, 'F');
  g_sendBudget = 1500;
  ASSERT_EQ(1, NPC_F_NETCOM_SendTcpDataEx(inst_, id, first.data(), 4000, 7, 0, 0, 0));
  ASSERT_EQ(1, NPC_F_NETCOM_SendTcpDataEx(inst_, id, "second", 6, 7, 0, 0, 0));
  ASSERT_EQ(1, NPC_F_NETCOM_SendTcpDataEx(inst_, id, "third", 5, 3, 0, 0, 0));
  Passes(2);
  EXPECT_EQ(3, NPC_F_NETCOM_QuerySendQueueSize(inst_, id));
  EXPECT_EQ(2, NPC_F_NETCOM_QuerySendQueueSizeEx(inst_, 7, id));
  EXPECT_EQ(4006, NPC_F_NETCOM_StatSendQueueDataTotalLen(inst_, 7, id));
  EXPECT_EQ(4011, NPC_F_NETCOM_StatSendQueueDataTotalLen(inst_, -1, id));
  ASSERT_EQ(1, NPC_F_NETCOM_ClearSendQueueData(inst_, id));
  EXPECT_EQ(1, NPC_F_NETCOM_QuerySendQueueSize(inst_, id));
  ASSERT_EQ(1, NPC_F_NETCOM_SendTcpData(inst_, id, "after", 5, 0, 0, 0));
  g_sendBudget = -1;
  ASSERT_TRUE(Pump([&] { return NPC_F_NETCOM_QuerySendQueueSize(inst_, id) == 0; }));
  EXPECT_EQ(first + "after", ReadUpTo(peer, first.size() + 5, 2000));

  // With no write begun, clearing drops everything.
  g_sendBudget = 0;
  ASSERT_EQ(1, NPC_F_NETCOM_SendTcpData(inst_, id, "x", 1, 0, 0, 0));
  ASSERT_EQ(1, NPC_F_NETCOM_ClearSendQueueData(inst_, id));
  EXPECT_EQ(0, NPC_F_NETCOM_QuerySendQueueSize(inst_, id));
  g_sendBudget = -1;
}

// Sends queued while the socket cannot take them, one larger than the socket buffers, reach a
// slow reader complete and in order.
TEST_F(NetcomTest, SlowReaderReceivesEverythingInOrder) {
  int peer = -1;
  uint32_t id = ConnectToPeer(&peer, 4096);
  std::string want;
  for (int i = 0; i < 3; ++i) {
    std::string m = "message-" + std::to_string(i) + ";";
    want += m;
    ASSERT_EQ(1, NPC_F_NETCOM_SendTcpData(inst_, id, m.data(), static_cast<int>(m.size()), 0, 0, 0));
  }
  std::string big(3 << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 131 % 251);
  want += big;
  ASSERT_EQ(1, NPC_F_NETCOM_SendTcpData(inst_, id, big.data(), static_cast<int>(big.size()), 0, 0, 0));
  ASSERT_EQ(1, NPC_F_NETCOM_SendTcpData(inst_, id, "end", 3, 0, 0, 0));
  want += "end";

  std::string got;
  std::thread reader([&] {
    char buf[8192];
    while (got.size() < want.size()) {
      pollfd p{peer, POLLIN, 0};
      if (poll(&p, 1, 5000) != 1) break;
      ssize_t n = recv(peer, buf, sizeof buf, 0);
      if (n <= 0) break;
      got.append(buf, static_cast<size_t>(n));
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  bool drained = Pump([&] { return NPC_F_NETCOM_QuerySendQueueSize(inst_, id) == 0; }, 60000);
  reader.join();
  EXPECT_TRUE(drained);
  EXPECT_TRUE(got == want) << "received " << got.size() << " of " << want.size() << " bytes";
}

ssize_t TinySend(int fd, const void* buf, size_t len, int flags) {
  static std::atomic<int> calls{0};
  if (++calls % 4 == 0) {
    errno = EAGAIN;
    return -1;
  }
  return send(fd, buf, len < 7 ? len : 7, flags);
}

TEST_F(NetcomTest, ShortWritesAndWouldBlockLoseNothing) {
  int peer = -1;
  uint32_t id = ConnectToPeer(&peer);
  SyscallOverride seam;
  seam.table().pfSend = TinySend;
  seam.install();
  std::string want;
  for (int i = 0; i < 20; ++i) {
    std::string m(997 + i, static_cast<char>('a' + i));
    want += m;
    ASSERT_EQ(1, NPC_F_NETCOM_SendTcpData(inst_, id, m.data(), static_cast<int>(m.size()), 0, 0, 0));
  }
  ASSERT_TRUE(Pump([&] { return NPC_F_NETCOM_QuerySendQueueSize(inst_, id) == 0; }, 30000));
  EXPECT_EQ(want, ReadUpTo(peer, want.size(), 2000));
}

TEST_F(NetcomTest, SendCompleteCarriesTheTag) {
  int peer = -1;
  uint32_t id = ConnectToPeer(&peer);
  ASSERT_EQ(1, NPC_F_NETCOM_SendTcpData(inst_, id, "quiet", 5, 0, 11, 0));
  ASSERT_EQ(1, NPC_F_NETCOM_SendTcpData(inst_, id, "told", 4, 0, 0xBEEF, 1));
  ASSERT_TRUE(Pump([&] { return rec_.count(NPC_D_NETCOM_EVENT_SEND_COMPLETE) == 1; }));
  Passes(2);
  auto sc = rec_.of(NPC_D_NETCOM_EVENT_SEND_COMPLETE);
  ASSERT_EQ(1u, sc.size());
  EXPECT_EQ(0xBEEFu, sc[0].serial);
  EXPECT_EQ(id, sc[0].portId);
  EXPECT_EQ(0, sc[0].trans);
}

TEST_F(NetcomTest, TcpQueueIsCappedAndARefusedSendFails) {
  LogCapture log;
  int peer = -1;
  uint32_t id = ConnectToPeer(&peer);
  const std::string chunk(1 << 20, 'c');
  const int fit = static_cast<int>(NPC_D_NETCOM_TCP_MAX_QUEUE_BYTES / chunk.size());
  for (int i = 0; i < fit; ++i)
    ASSERT_EQ(1, NPC_F_NETCOM_SendTcpData(inst_, id, chunk.data(), static_cast<int>(chunk.size()), 0, 0, 0)) << i;
  EXPECT_EQ(0, NPC_F_NETCOM_SendTcpData(inst_, id, chunk.data(), static_cast<int>(chunk.size()), 0, 0, 0));
  EXPECT_EQ(0, NPC_F_NETCOM_SendTcpData(inst_, id, "x", 1, 0, 0, 0));
  EXPECT_EQ(fit, NPC_F_NETCOM_QuerySendQueueSize(inst_, id));
  EXPECT_TRUE(log.contains("NPC_F_NETCOM_SendTcpData send queue full"));
}

// --- Errors from the system ---------------------------------------------------------------------

std::atomic<int> g_recvErrno{0};
ssize_t ErrRecv(int fd, void* buf, size_t len, int flags) {
  int e = g_recvErrno.load();
  if (e == 0) return recv(fd, buf, len, flags);
  errno = e;
  return -1;
}

TEST_F(NetcomTest, ReceiveErrorsFromTheSystem) {
  struct {
    int err;
    bool disconnect;
    const char* info;
  } cases[] = {{EAGAIN, false, nullptr},
               {EINTR, false, nullptr},
               {ECONNRESET, true, "TCP connect peer close"},
               {EIO, true, "NPC_F_NET_SELECT_DoTcpConnectReadEvent NPC_F_SYS_SOCKET_Recv fail, fail info: Input/output error."}};
  int peer = -1;
  uint32_t id = ConnectToPeer(&peer);
  SyscallOverride seam;
  seam.table().pfRecv = ErrRecv;
  seam.install();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    LogCapture log;
    rec_.clear();
    g_recvErrno = c.err;
    SendAll(peer, "z");  // makes the socket readable
    Passes(3);
    EXPECT_EQ(c.disconnect, rec_.count(NPC_D_NETCOM_EVENT_DISCONNECT) > 0);
    EXPECT_EQ(0u, rec_.count(NPC_D_NETCOM_EVENT_DATA));
    if (c.info) {
      EXPECT_TRUE(log.contains(c.info));
    }
    g_recvErrno = 0;
    ASSERT_TRUE(Pump([&] { return !rec_.dataOf(id).empty(); }));
  }
}

TEST_F(NetcomTest, HardSendErrorReportsDisconnectAndKeepsTheMessage) {
  LogCapture log;
  int peer = -1;
  uint32_t id = ConnectToPeer(&peer);
  SyscallOverride seam;
  seam.table().pfSend = [](int, const void*, size_t, int) -> ssize_t {
    errno = EPIPE;
    return -1;
  };
  seam.install();
  ASSERT_EQ(1, NPC_F_NETCOM_SendTcpData(inst_, id, "doomed", 6, 0, 0, 0));
  ASSERT_TRUE(Pump([&] { return rec_.count(NPC_D_NETCOM_EVENT_DISCONNECT) > 0; }));
  EXPECT_EQ(1, NPC_F_NETCOM_QuerySendQueueSize(inst_, id));
  EXPECT_TRUE(log.contains("NPC_F_NET_SELECT_DoTcpWriteEvent send fail, cause: Broken pipe."));
}

// --- UDP --------------------------------------------------------------------------------------

TEST_F(NetcomTest, UdpMessageOf3000BytesLeavesAs1460_1460_80) {
  unsigned short rxPort = 0;
  int rx = Keep(BindUdp(&rxPort));
  unsigned short port = 0;
  uint32_t id = 0;
  ASSERT_EQ(1, NPC_F_NETCOM_StartUdpListen(inst_, &port, &id));
  std::string msg(3000, 'm');
  ASSERT_EQ(1, NPC_F_NETCOM_SendUdpData(inst_, id, "127.0.0.1", rxPort, msg.data(), 3000, 0, 77, 1, 0));
  ASSERT_TRUE(Pump([&] { return rec_.count(NPC_D_NETCOM_EVENT_SEND_COMPLETE) == 1; }));
  std::vector<int> sizes;
  char buf[4096];
  for (int i = 0; i < 3; ++i) {
    pollfd p{rx, POLLIN, 0};
    ASSERT_EQ(1, poll(&p, 1, 2000));
    sizes.push_back(static_cast<int>(recv(rx, buf, sizeof buf, 0)));
  }
  EXPECT_EQ((std::vector<int>{1460, 1460, 80}), sizes);
  Event sc = rec_.of(NPC_D_NETCOM_EVENT_SEND_COMPLETE)[0];
  EXPECT_EQ(1, sc.trans);
  EXPECT_EQ(77u, sc.serial);
  EXPECT_EQ("127.0.0.1", sc.peer);
  EXPECT_EQ(rxPort, sc.peerPort);
  EXPECT_EQ(port, sc.localPort);
}

TEST_F(NetcomTest, UdpDatagramsArriveAsDataWithTheirSender) {
  unsigned short port = 0;
  uint32_t id = 0;
  ASSERT_EQ(1, NPC_F_NETCOM_StartUdpListen(inst_, &port, &id));
  unsigned short txPort = 0;
  int tx = Keep(BindUdp(&txPort));
  sockaddr_in to = Loopback(port);
  std::string big(9000, 'b');
  ASSERT_EQ(3, sendto(tx, "one", 3, 0, reinterpret_cast<sockaddr*>(&to), sizeof to));
  ASSERT_EQ(9000, sendto(tx, big.data(), big.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to));
  ASSERT_TRUE(Pump([&] { return rec_.count(NPC_D_NETCOM_EVENT_DATA) == 2; }));
  auto data = rec_.of(NPC_D_NETCOM_EVENT_DATA);
  EXPECT_EQ("one", data[0].data);
  EXPECT_EQ(8192u, data[1].data.size());  // cut at the read size
  EXPECT_EQ(0u, data[0].serial);
  EXPECT_EQ(1u, data[1].serial);
  EXPECT_EQ(1, data[0].trans);
  EXPECT_EQ(port, data[0].localPort);
  EXPECT_EQ("127.0.0.1", data[0].peer);
  EXPECT_EQ(txPort, data[0].peerPort);
  EXPECT_EQ(id, data[0].portId);
}

// At or above the UDP cap a message is dropped but reported as sent; the loss is reported
// at most once per two seconds.
TEST_F(NetcomTest, UdpCapDropsAndReportsAtMostEveryTwoSeconds) {
  FakeClock clock;
  LogCapture log;
  unsigned short port = 0;
  uint32_t id = 0;
  ASSERT_EQ(1, NPC_F_NETCOM_StartUdpListen(inst_, &port, &id));
  EXPECT_EQ(10485760, NPC_F_NETCOM_GetMaxSendBufferSize(inst_));
  const std::string mib(1 << 20, 'q');
  for (int i = 0; i < 10; ++i)
    ASSERT_EQ(1, NPC_F_NETCOM_SendUdpData(inst_, id, "127.0.0.1", 9, mib.data(), static_cast<int>(mib.size()), 0, 0, 0, 0));
  EXPECT_EQ(1, log.count("The send cache stat size, port: " + std::to_string(port)));
  log.clear();
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(1, NPC_F_NETCOM_SendUdpData(inst_, id, "127.0.0.1", 9, "x", 1, 0, 0, 0, 0));
  EXPECT_EQ(10, NPC_F_NETCOM_QuerySendQueueSize(inst_, id));
  EXPECT_EQ(0, log.count("The send cache is too large"));  // within two seconds of the last report
  clock.advance(2000);
  EXPECT_EQ(1, NPC_F_NETCOM_SendUdpData(inst_, id, "127.0.0.1", 9, "x", 1, 0, 0, 0, 0));
  EXPECT_EQ(1, NPC_F_NETCOM_SendUdpData(inst_, id, "127.0.0.1", 9, "x", 1, 0, 0, 0, 0));
  const std::string want = "The send cache is too large, lost udp packets, port: " + std::to_string(port) +
                           ", send cache size: 10 packets, 10240 KB.";
  EXPECT_EQ(1, log.count(want));
  EXPECT_EQ(10, NPC_F_NETCOM_QuerySendQueueSize(inst_, id));
  // The datagrams were queued for port 9 of loopback; close before any pass sends them.
  EXPECT_EQ(1, NPC_F_NETCOM_CloseUdpListen(inst_, port));
}

// Duplicate ports: UDP is compared with UDP and TCP with TCP, and the engine's UDP ports are
// not shared with other sockets.
TEST_F(NetcomTest, DuplicatePortsAreRefusedPerProtocol) {
  unsigned short tcpPort = 0, udpPort = 0;
  uint32_t id = 0;
  ASSERT_EQ(1, NPC_F_NETCOM_StartTcpListen(inst_, &tcpPort, &id));
  ASSERT_EQ(1, NPC_F_NETCOM_StartUdpListen(inst_, &udpPort, &id));
  unsigned short p = tcpPort;
  EXPECT_EQ(0, NPC_F_NETCOM_StartTcpListen(inst_, &p, &id));
  p = udpPort;
  EXPECT_EQ(0, NPC_F_NETCOM_StartUdpListen(inst_, &p, &id));
  // A TCP listener does not keep a UDP socket off its port number.
  p = tcpPort;
  EXPECT_EQ(1, NPC_F_NETCOM_StartUdpListen(inst_, &p, &id));

  // Another socket of the process, even one that allows sharing, cannot join an engine port,
  // and the engine does not join a port that such a socket holds.
  int other = Keep(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  int one = 1;
  setsockopt(other, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(udpPort);
  EXPECT_NE(0, bind(other, reinterpret_cast<sockaddr*>(&a), sizeof a));
  int sharer = Keep(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  setsockopt(sharer, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  a.sin_port = 0;
  ASSERT_EQ(0, bind(sharer, reinterpret_cast<sockaddr*>(&a), sizeof a));
  p = LocalPort(sharer);
  EXPECT_EQ(0, NPC_F_NETCOM_StartUdpListen(inst_, &p, &id));
}

// --- Table and ids ----------------------------------------------------------------------------

TEST_F(NetcomTest, TheTable1025thSocketAndStaleIds) {
  FdLimit limit(1200);
  if (!limit.ok()) GTEST_SKIP() << "cannot raise the descriptor limit";
  LogCapture log;
  std::vector<uint32_t> ids;
  for (int i = 0; i < NPC_D_NETCOM_MAX_SOCKET_NUM; ++i) {
    unsigned short port = 0;
    uint32_t id = 0;
    ASSERT_EQ(1, NPC_F_NETCOM_StartUdpListen(inst_, &port, &id)) << i;
    EXPECT_EQ(static_cast<uint32_t>(i), id & 0xFFFFu);
    ids.push_back(id);
  }
  unsigned short port = 0;
  uint32_t id = 0;
  EXPECT_EQ(0, NPC_F_NETCOM_StartUdpListen(inst_, &port, &id));
  EXPECT_EQ(0, NPC_F_NETCOM_AddTcpConnect(inst_, "127.0.0.1", 9, &id));
  EXPECT_EQ(2, log.count("NPC_F_NET_SELECT_MC_AddSocketId not idle pos."));

  // A freed slot is reused with a new id; the old id is refused.
  const uint32_t old = ids[517];
  ASSERT_EQ(1, NPC_F_NETCOM_CloseUdpListenByPortId(inst_, old));
  ASSERT_EQ(1, NPC_F_NETCOM_StartUdpListen(inst_, &port, &id));
  EXPECT_EQ(517u, id & 0xFFFFu);
  EXPECT_NE(old, id);
  log.clear();
  EXPECT_EQ(0, NPC_F_NETCOM_SendUdpData(inst_, old, "127.0.0.1", 9, "x", 1, 0, 0, 0, 0));
  EXPECT_TRUE(log.contains("NPC_F_NETCOM_SendUdpData dwPortId error."));
  EXPECT_EQ(0, NPC_F_NETCOM_CloseUdpListenByPortId(inst_, old));
  EXPECT_EQ(1, NPC_F_NETCOM_CloseUdpListenByPortId(inst_, id));
}

TEST_F(NetcomTest, IdsAreNeverZeroAndChangeOnEveryReuse) {
  NPC_F_SYS_RANDOM_Seed(12345);
  uint32_t previous = 0;
  for (int i = 0; i < 3000; ++i) {
    unsigned short port = 0;
    uint32_t id = 0;
    ASSERT_EQ(1, NPC_F_NETCOM_StartUdpListen(inst_, &port, &id));
    ASSERT_NE(0u, id);
    ASSERT_EQ(0u, id & 0xFFFFu);
    ASSERT_NE(previous, id);
    previous = id;
    ASSERT_EQ(1, NPC_F_NETCOM_CloseUdpListenByPortId(inst_, id));
  }
  // Nothing ever answers to id 0.
  EXPECT_EQ(0, NPC_F_NETCOM_CloseTcpConnect(inst_, 0));
  EXPECT_EQ(0, NPC_F_NETCOM_CloseUdpListenByPortId(inst_, 0));
}

TEST_F(NetcomTest, WrongIdsTypesAndArguments) {
  LogCapture log;
  unsigned short port = 0;
  uint32_t udp = 0, tcp = 0;
  ASSERT_EQ(1, NPC_F_NETCOM_StartUdpListen(inst_, &port, &udp));
  port = 0;
  ASSERT_EQ(1, NPC_F_NETCOM_StartTcpListen(inst_, &port, &tcp));
  struct {
    std::function<int()> call;
    const char* line;
  } cases[] = {
      {[&] { return NPC_F_NETCOM_SendTcpData(inst_, udp, "x", 1, 0, 0, 0); }, "NPC_F_NETCOM_SendTcpData iSocketType error."},
      {[&] { return NPC_F_NETCOM_SendTcpData(inst_, udp ^ 0x10000u, "x", 1, 0, 0, 0); }, "NPC_F_NETCOM_SendTcpData dwPortId error."},
      {[&] { return NPC_F_NETCOM_SendTcpDataEx(inst_, 5000, "x", 1, 0, 0, 0, 0); }, "NPC_F_NETCOM_SendTcpDataEx dwPortId error."},
      {[&] { return NPC_F_NETCOM_SendUdpData(inst_, tcp, "127.0.0.1", 9, "x", 1, 0, 0, 0, 0); }, "NPC_F_NETCOM_SendUdpData iSocketType error."},
      {[&] { return NPC_F_NETCOM_SendUdpData(inst_, udp, "", 9, "x", 1, 0, 0, 0, 0); }, "NPC_F_NETCOM_SendUdpData in_pPeerIpaddr or in_usPeerPort is 0."},
      {[&] { return NPC_F_NETCOM_SendUdpData(inst_, udp, "127.0.0.1", 0, "x", 1, 0, 0, 0, 0); }, "NPC_F_NETCOM_SendUdpData in_pPeerIpaddr or in_usPeerPort is 0."},
      {[&] { return NPC_F_NETCOM_CloseTcpConnect(inst_, udp); }, "NPC_F_NETCOM_CloseTcpConnect iSocketType error."},
      {[&] { return NPC_F_NETCOM_SetBroadcastFlag(inst_, tcp, 1); }, "NPC_F_NETCOM_SetBroadcastFlag iSocketType error."},
  };
  for (const auto& c : cases) {
    log.clear();
    EXPECT_EQ(0, c.call()) << c.line;
    EXPECT_TRUE(log.contains(c.line)) << c.line;
  }
  // A null instance fails every operation without effect.
  EXPECT_EQ(0, NPC_F_NETCOM_DoNetEvent(nullptr, 0));
  EXPECT_EQ(0, NPC_F_NETCOM_SendTcpData(nullptr, tcp, "x", 1, 0, 0, 0));
  EXPECT_EQ(-1, NPC_F_NETCOM_QueryRecvQueueSize(nullptr));
  EXPECT_EQ(-2, NPC_F_NETCOM_QueryRecvQueueSize(inst_));
  NPC_F_NETCOM_CloseNetServer(nullptr);
}

// --- Flags ------------------------------------------------------------------------------------

TEST_F(NetcomTest, ReadFlagHoldsBackData) {
  int peer = -1;
  uint32_t id = ConnectToPeer(&peer);
  ASSERT_EQ(1, NPC_F_NETCOM_SetRecvDataState(inst_, id, 0));
  int flag = 9;
  ASSERT_EQ(1, NPC_F_NETCOM_GetRecvDataState(inst_, id, &flag));
  EXPECT_EQ(0, flag);
  SendAll(peer, "held");
  Passes(5);
  EXPECT_EQ(0u, rec_.count(NPC_D_NETCOM_EVENT_DATA));
  ASSERT_EQ(1, NPC_F_NETCOM_SetRecvDataState(inst_, id, 1));
  ASSERT_TRUE(Pump([&] { return rec_.dataOf(id) == "held"; }));
}

TEST_F(NetcomTest, BroadcastFlag) {
  unsigned short port = 0;
  uint32_t id = 0;
  ASSERT_EQ(1, NPC_F_NETCOM_StartUdpListen(inst_, &port, &id));
  EXPECT_EQ(0, NPC_F_NETCOM_GetBroadcastFlag(inst_, id, nullptr));
  EXPECT_EQ(1, NPC_F_NETCOM_SetBroadcastFlag(inst_, id, 1));
  EXPECT_EQ(1, NPC_F_NETCOM_GetBroadcastFlag(inst_, id, nullptr));
  EXPECT_EQ(1, NPC_F_NETCOM_SetBroadcastFlag(inst_, id, 1));
  EXPECT_EQ(0, NPC_F_NETCOM_GetBroadcastFlag(inst_, id ^ 0x10000u, nullptr));
}

// --- Descriptors above 1023 -------------------------------------------------------------------

TEST_F(NetcomTest, DescriptorsAbove1023Work) {
  FdLimit limit(1400);
  if (!limit.ok()) GTEST_SKIP() << "cannot raise the descriptor limit";
  FdFiller filler(1100);
  ASSERT_GE(filler.highest(), 1099);
  unsigned short port = 0;
  uint32_t listenId = 0;
  ASSERT_EQ(1, NPC_F_NETCOM_StartTcpListen(inst_, &port, &listenId));
  unsigned short udpPort = 0;
  uint32_t udpId = 0;
  ASSERT_EQ(1, NPC_F_NETCOM_StartUdpListen(inst_, &udpPort, &udpId));
  uint32_t clientId = 0;
  ASSERT_EQ(1, NPC_F_NETCOM_AddTcpConnect(inst_, "127.0.0.1", port, &clientId));
  ASSERT_TRUE(Pump([&] { return rec_.count(NPC_D_NETCOM_EVENT_CONNECT) == 1 && rec_.count(NPC_D_NETCOM_EVENT_CONNECT_RESULT) == 1; }));
  const uint32_t serverId = rec_.of(NPC_D_NETCOM_EVENT_CONNECT)[0].portId;
  ASSERT_EQ(1, NPC_F_NETCOM_SendTcpData(inst_, clientId, "high fd", 7, 0, 0, 0));
  ASSERT_TRUE(Pump([&] { return rec_.dataOf(serverId) == "high fd"; }));
  ASSERT_EQ(1, NPC_F_NETCOM_SendUdpData(inst_, udpId, "127.0.0.1", udpPort, "dgram", 5, 0, 0, 0, 0));
  ASSERT_TRUE(Pump([&] { return rec_.dataOf(udpId) == "dgram"; }));
  // Every descriptor of the engine lies above 1023: the filler holds all lower numbers.
  int probe = open("/dev/null", O_RDONLY | O_CLOEXEC);
  EXPECT_GT(probe, 1023);
  close(probe);
}

// --- Wake-up ----------------------------------------------------------------------------------

TEST_F(NetcomTest, WakeUpEndsARunningWaitAndTheNextOne) {
  for (bool withSocket : {false, true}) {
    SCOPED_TRACE(withSocket ? "with a socket" : "without sockets");
    if (withSocket) {
      unsigned short port = 0;
      uint32_t id = 0;
      ASSERT_EQ(1, NPC_F_NETCOM_StartTcpListen(inst_, &port, &id));
    }
    // A wake-up that comes before the wait makes it return at once.
    NPC_F_NETCOM_WakeUp(inst_);
    auto t0 = std::chrono::steady_clock::now();
    NPC_F_NETCOM_DoNetEvent(inst_, 10000);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));

    // A wake-up from another thread ends a running wait.
    std::atomic<bool> returned{false};
    std::thread waker([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      NPC_F_NETCOM_WakeUp(inst_);
    });
    t0 = std::chrono::steady_clock::now();
    NPC_F_NETCOM_DoNetEvent(inst_, 20000);
    returned = true;
    waker.join();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
  }
}

// --- Modes ------------------------------------------------------------------------------------

TEST(NetcomModeTest, ThreadModeRunsItsOwnWorker) {
  Recorder rec;
  NPC_H_NETCOM inst = NPC_F_NETCOM_StartNetServer(0, 0, &Recorder::Callback, &rec);
  ASSERT_NE(nullptr, inst);
  EXPECT_EQ(0, NPC_F_NETCOM_DoNetEvent(inst, 0));
  // Echo every byte the server side receives, from inside the callback.
  rec.onEvent = [inst](const Event& e) {
    if (e.type == NPC_D_NETCOM_EVENT_DATA && e.localPort != 0)
      NPC_F_NETCOM_SendTcpData(inst, e.portId, e.data.data(), static_cast<int>(e.data.size()), 0, 0, 0);
  };
  unsigned short port = 0;
  uint32_t listenId = 0;
  ASSERT_EQ(1, NPC_F_NETCOM_StartTcpListen(inst, &port, &listenId));
  uint32_t clientId = 0;
  ASSERT_EQ(1, NPC_F_NETCOM_AddTcpConnect(inst, "127.0.0.1", port, &clientId));
  ASSERT_TRUE(korven_test::eventually([&] { return rec.count(NPC_D_NETCOM_EVENT_CONNECT_RESULT) == 1; }));
  ASSERT_EQ(1, NPC_F_NETCOM_SendTcpData(inst, clientId, "echo me", 7, 0, 0, 0));
  ASSERT_TRUE(korven_test::eventually([&] { return rec.dataOf(clientId) == "echo me"; }));
  NPC_F_NETCOM_CloseNetServer(inst);
}

TEST(NetcomModeTest, QueueModeWithoutCallback) {
  NPC_H_NETCOM inst = NPC_F_NETCOM_StartNetServerByNoThread(nullptr, nullptr, 0);
  ASSERT_NE(nullptr, inst);
  EXPECT_NE(nullptr, NPC_F_NETCOM_GetRecvHandle(inst));
  unsigned short port = 0;
  uint32_t id = 0;
  ASSERT_EQ(1, NPC_F_NETCOM_StartUdpListen(inst, &port, &id));
  ASSERT_EQ(1, NPC_F_NETCOM_SendUdpData(inst, id, "127.0.0.1", port, "self", 4, 0, 0, 0, 0));
  ASSERT_TRUE(korven_test::eventually([&] {
    NPC_F_NETCOM_DoNetEvent(inst, 5);
    return NPC_F_NETCOM_QueryRecvQueueSize(inst) == 1;
  }));
  char* buf = nullptr;
  int len = 0;
  ASSERT_EQ(1, NPC_F_NETCOM_RecvDataEx(inst, &buf, &len, 0));
  ASSERT_EQ(static_cast<int>(sizeof(NPC_S_NETCOM_DATA_HEAD)) + 4, len);
  NPC_S_NETCOM_DATA_HEAD head;
  std::memcpy(&head, buf, sizeof head);
  EXPECT_EQ(NPC_D_NETCOM_EVENT_DATA, head.iEventType);
  EXPECT_EQ(std::string("self"), std::string(buf + sizeof head, 4));
  NPC_F_NETCOM_ReleaseDataBuf(buf);

  ASSERT_EQ(1, NPC_F_NETCOM_SendUdpData(inst, id, "127.0.0.1", port, "again", 5, 0, 0, 0, 0));
  char small[128];
  int n = 0;
  ASSERT_TRUE(korven_test::eventually([&] {
    NPC_F_NETCOM_DoNetEvent(inst, 5);
    n = NPC_F_NETCOM_RecvData(inst, small, sizeof small, 0);
    return n > 0;
  }));
  EXPECT_EQ(static_cast<int>(sizeof(NPC_S_NETCOM_DATA_HEAD)) + 5, n);
  EXPECT_EQ(0, NPC_F_NETCOM_RecvData(inst, small, sizeof small, 0));
  NPC_F_NETCOM_CloseNetServer(inst);
}

}  // namespace
