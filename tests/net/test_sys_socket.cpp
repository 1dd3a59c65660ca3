// The socket layer: address texts, connects judged by SO_ERROR, receive states, chunked and
// waiting sends, UDP pieces, the IPv6 family with IPv4-mapped senders, resolution and the
// local interface tables.
#include <gtest/gtest.h>

#include <errno.h>
#include <net/if.h>
#include <sys/ioctl.h>

#include <atomic>
#include <string>
#include <thread>

#include "net/sys_socket.h"
#include "net/syscall.h"
#include "net_test_util.h"

namespace {

using namespace net_test;

// --- Address texts ----------------------------------------------------------------------------

struct Ipv4Case {
  const char* in;
  int result;
  const char* out;
};

void PrintTo(const Ipv4Case& c, std::ostream* os) { *os << '"' << c.in << '"'; }

class GetIpv4Test : public ::testing::TestWithParam<Ipv4Case> {};

TEST_P(GetIpv4Test, RebuildsTheIpv4Address) {
  const Ipv4Case& c = GetParam();
  char out[NPC_D_SYS_SOCKET_ADDR_TEXT_LEN] = "junk";
  EXPECT_EQ(c.result, NPC_F_SYS_SOCKET_GetIPV4(c.in, out, sizeof out));
  EXPECT_STREQ(c.out, out);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, GetIpv4Test,
    ::testing::Values(
        // inet_ntop writes mapped addresses in dotted form: the dotted part is the address.
        Ipv4Case{"::ffff:192.168.1.1", 1, "192.168.1.1"},
        Ipv4Case{"::FFFF:10.0.0.254", 1, "10.0.0.254"},
        // Hexadecimal groups: last two digits the lower octet, the digits before the upper.
        Ipv4Case{"::ffff:c0a8:101", 1, "192.168.1.1"},
        Ipv4Case{"2001:db8::c0a8:0164", 1, "192.168.1.100"},
        Ipv4Case{"::1", 1, "0.0.0.1"},
        Ipv4Case{"fe80::a:b%eth0", 1, "0.10.0.11"},
        // Other text is copied.
        Ipv4Case{"172.16.5.4", 1, "172.16.5.4"},
        Ipv4Case{"host.example", 1, "host.example"},
        // Malformed IPv6 text gives nothing rather than a made-up address.
        Ipv4Case{"::12345", 0, ""}, Ipv4Case{"::ffff:999.1.1.1", 0, ""},
        Ipv4Case{"::zz:1", 0, ""}));

TEST(SocketTextTest, Ipv6AndCheckIpaddr) {
  struct {
    const char* text;
    int ipv6;
    int valid;
  } cases[] = {{"127.0.0.1", 0, 1}, {"::1", 1, 1},           {"fe80::1", 1, 1},
               {"1.2.3", 0, 0},     {"localhost", 0, 0},     {"", 0, 0},
               {"a:b", 0, 0},       {"256.1.1.1", 0, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.ipv6, NPC_F_SYS_SOCKET_Ipv6(c.text)) << c.text;
    EXPECT_EQ(c.valid, NPC_F_SYS_SOCKET_CheckIpaddr(c.text)) << c.text;
  }
  EXPECT_EQ(0, NPC_F_SYS_SOCKET_Ipv6(nullptr));
  EXPECT_EQ(0, NPC_F_SYS_SOCKET_CheckIpaddr(nullptr));
}

// --- Connects ---------------------------------------------------------------------------------

// Both helpers that other layers use for their own connects report a refused connect as a
// failure, and an accepted one as success.
TEST(SocketConnectTest, RefusedConnectIsAFailure) {
  unsigned short openPort = 0, refusedPort = 0;
  int listener = ListenTcp(&openPort);
  int refusing = RefusingPort(&refusedPort);
  struct {
    unsigned short port;
    int connectResult;  // NPC_F_SYS_SOCKET_Connect with a wait
    int checkResult;    // StartConnect, then CheckConnectResult
  } cases[] = {{openPort, 1, 0}, {refusedPort, 0, 2}};
  for (const auto& c : cases) {
    int s = NPC_F_SYS_SOCKET_Create(0);
    ASSERT_GE(s, 0);
    ASSERT_EQ(1, NPC_F_SYS_SOCKET_SetBlockMode(s, 0));
    EXPECT_EQ(c.connectResult, NPC_F_SYS_SOCKET_Connect(s, "127.0.0.1", c.port, 3000)) << c.port;
    NPC_F_SYS_SOCKET_Close(s);

    s = NPC_F_SYS_SOCKET_Create(0);
    ASSERT_EQ(1, NPC_F_SYS_SOCKET_SetBlockMode(s, 0));
    ASSERT_EQ(1, NPC_F_SYS_SOCKET_StartConnect(s, "127.0.0.1", c.port));
    EXPECT_EQ(c.checkResult, NPC_F_SYS_SOCKET_CheckConnectResult(s, 3000)) << c.port;
    NPC_F_SYS_SOCKET_Close(s);
  }
  close(listener);
  close(refusing);
}

std::atomic<int> g_injectedSoError{0};

int SoErrorGetSockOpt(int fd, int level, int name, void* value, socklen_t* len) {
  if (level == SOL_SOCKET && name == SO_ERROR && *len >= sizeof(int)) {
    *static_cast<int*>(value) = g_injectedSoError.load();
    *len = sizeof(int);
    return 0;
  }
  return getsockopt(fd, level, name, value, len);
}

// A connect that the kernel reports writable but whose pending error says refused is a
// failure: writability alone proves nothing.
TEST(SocketConnectTest, PendingErrorDecidesEvenWhenWritable) {
  unsigned short port = 0;
  int listener = ListenTcp(&port);
  SyscallOverride seam;
  seam.table().pfGetSockOpt = SoErrorGetSockOpt;
  g_injectedSoError = ECONNREFUSED;
  seam.install();
  int s = NPC_F_SYS_SOCKET_Create(0);
  NPC_F_SYS_SOCKET_SetBlockMode(s, 0);
  EXPECT_EQ(0, NPC_F_SYS_SOCKET_Connect(s, "127.0.0.1", port, 3000));
  EXPECT_EQ(2, NPC_F_SYS_SOCKET_CheckConnectResult(s, 0));
  EXPECT_EQ(ECONNREFUSED, NPC_F_SYS_SOCKET_GetConnectError(s, POLLOUT));
  NPC_F_SYS_SOCKET_Close(s);
  close(listener);
}

TEST(SocketConnectTest, ConnectWaitTimesOutOnAHungConnect) {
  // A connect the kernel never finishes: poll reports nothing.
  SyscallOverride seam;
  seam.table().pfConnect = [](int, const sockaddr*, socklen_t) -> int {
    errno = EINPROGRESS;
    return -1;
  };
  seam.table().pfPoll = [](pollfd* fds, nfds_t n, int) -> int {
    for (nfds_t i = 0; i < n; ++i) fds[i].revents = 0;
    return 0;
  };
  seam.install();
  int s = NPC_F_SYS_SOCKET_Create(0);
  EXPECT_EQ(1, NPC_F_SYS_SOCKET_StartConnect(s, "127.0.0.1", 9));
  EXPECT_EQ(1, NPC_F_SYS_SOCKET_CheckConnectResult(s, 50));
  EXPECT_EQ(0, NPC_F_SYS_SOCKET_Connect(s, "127.0.0.1", 9, 50));
  NPC_F_SYS_SOCKET_Close(s);
}

// --- Receive states ---------------------------------------------------------------------------

class SocketPairTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsigned short port = 0;
    int listener = ListenTcp(&port);
    client_ = ConnectTcp(port);
    server_ = AcceptWithin(listener, 2000);
    close(listener);
    ASSERT_GE(client_, 0);
    ASSERT_GE(server_, 0);
    ASSERT_EQ(1, NPC_F_SYS_SOCKET_SetBlockMode(server_, 0));
  }
  void TearDown() override {
    if (client_ >= 0) close(client_);
    if (server_ >= 0) close(server_);
  }
  int client_ = -1;
  int server_ = -1;
};

TEST_F(SocketPairTest, RecvReportsDataNoDataCloseAndReset) {
  char buf[64];
  char err[128];
  int state = 99;
  EXPECT_EQ(0, NPC_F_SYS_SOCKET_Recv(server_, buf, sizeof buf, &state, err, sizeof err));
  EXPECT_EQ(NPC_D_SYS_SOCKET_STATE_NODATA, state);
  EXPECT_STREQ("no data.", err);

  SendAll(client_, "abc");
  EXPECT_EQ(3, NPC_F_SYS_SOCKET_WaitRecv(server_, buf, sizeof buf, 2000, &state, err, sizeof err));
  EXPECT_EQ(0, state);

  EXPECT_EQ(0, NPC_F_SYS_SOCKET_WaitRecv(server_, buf, sizeof buf, 10, &state, err, sizeof err));
  EXPECT_EQ(2, state);
  EXPECT_STREQ("time out", err);

  shutdown(client_, SHUT_WR);
  EXPECT_EQ(0, NPC_F_SYS_SOCKET_WaitRecv(server_, buf, sizeof buf, 2000, &state, err, sizeof err));
  EXPECT_EQ(0, state);
  EXPECT_STREQ("NPC_F_SYS_SOCKET_Recv peer close.", err);

  SyscallOverride seam;
  seam.table().pfRecv = [](int, void*, size_t, int) -> ssize_t {
    errno = ECONNRESET;
    return -1;
  };
  seam.install();
  EXPECT_EQ(0, NPC_F_SYS_SOCKET_Recv(server_, buf, sizeof buf, &state, err, sizeof err));
  EXPECT_EQ(NPC_D_SYS_SOCKET_STATE_ERROR, state);
  EXPECT_STREQ("NPC_F_SYS_SOCKET_Recv peer reset.", err);
}

// Every send of the seam takes at most 7 bytes and every third call would block.
std::atomic<int> g_shortSendCalls{0};
ssize_t ShortSend(int fd, const void* buf, size_t len, int flags) {
  if (++g_shortSendCalls % 3 == 0) {
    errno = EAGAIN;
    return -1;
  }
  return send(fd, buf, len < 7 ? len : 7, flags);
}

TEST_F(SocketPairTest, SendSpecDataBufKeepsTheUnsentRestAtTheFront) {
  SyscallOverride seam;
  seam.table().pfSend = ShortSend;
  g_shortSendCalls = 0;
  seam.install();
  std::string msg;
  for (int i = 0; i < 500; ++i) msg += static_cast<char>('a' + i % 26);
  std::vector<char> buf(msg.begin(), msg.end());
  int len = static_cast<int>(buf.size());
  std::string sent;
  int rounds = 0;
  while (len > 0 && rounds++ < 1000) {
    int before = len;
    int state = 0;
    int r = NPC_F_SYS_SOCKET_SendSpecDataBuf(server_, buf.data(), &len, &state, nullptr, 0);
    EXPECT_EQ(r == 1 ? 0 : NPC_D_SYS_SOCKET_STATE_WOULDBLOCK, state);
    sent += msg.substr(msg.size() - static_cast<size_t>(before), static_cast<size_t>(before - len));
    // What is left is exactly the tail of the message, moved to the front.
    EXPECT_EQ(msg.substr(msg.size() - static_cast<size_t>(len)), std::string(buf.data(), static_cast<size_t>(len)));
  }
  EXPECT_EQ(0, len);
  EXPECT_EQ(msg, ReadUpTo(client_, msg.size(), 2000));
}

TEST_F(SocketPairTest, WaitSendTimesOutOnAPeerThatNeverReads) {
  std::string chunk(1 << 20, 'x');
  int state = 0;
  char err[64];
  int r = 1;
  for (int i = 0; i < 64 && r == 1; ++i)
    r = NPC_F_SYS_SOCKET_WaitSend(server_, chunk.data(), static_cast<int>(chunk.size()), 100, &state, err, sizeof err);
  EXPECT_EQ(0, r);
  EXPECT_EQ(NPC_D_SYS_SOCKET_STATE_WOULDBLOCK, state);
  EXPECT_STREQ("time out", err);
}

// --- UDP --------------------------------------------------------------------------------------

TEST(SocketUdpTest, LongMessageLeavesInPiecesOf1460) {
  unsigned short rxPort = 0;
  int rx = BindUdp(&rxPort);
  int tx = NPC_F_SYS_SOCKET_Create(1);
  ASSERT_EQ(1, NPC_F_SYS_SOCKET_BindEx(tx, "127.0.0.1", 0, 0));
  std::vector<char> msg(3000, 'u');
  int len = static_cast<int>(msg.size());
  int state = 9;
  EXPECT_EQ(1, NPC_F_SYS_SOCKET_SendUdpSpecDataBuf(tx, "127.0.0.1", rxPort, msg.data(), &len, &state, nullptr, 0));
  EXPECT_EQ(0, len);
  std::vector<int> sizes;
  char buf[4096];
  for (int i = 0; i < 3; ++i) {
    pollfd p{rx, POLLIN, 0};
    ASSERT_EQ(1, poll(&p, 1, 2000));
    sizes.push_back(static_cast<int>(recv(rx, buf, sizeof buf, 0)));
  }
  EXPECT_EQ((std::vector<int>{1460, 1460, 80}), sizes);
  NPC_F_SYS_SOCKET_Close(tx);
  close(rx);
}

TEST(SocketUdpTest, SendToAndRecvFromCarryTheSender) {
  unsigned short rxPort = 0, txPort = 0;
  int rx = NPC_F_SYS_SOCKET_Create(1);
  ASSERT_EQ(1, NPC_F_SYS_SOCKET_BindEx(rx, "127.0.0.1", 0, 0));
  ASSERT_EQ(1, NPC_F_SYS_SOCKET_GetSocketLocalAddr(rx, nullptr, 0, &rxPort));
  int tx = BindUdp(&txPort);
  EXPECT_EQ(-1, NPC_F_SYS_SOCKET_RecvFrom_WaitRecv(rx, nullptr, 0, nullptr, 0, nullptr, 10));
  EXPECT_EQ(5, NPC_F_SYS_SOCKET_SendTo_WaitSend(tx, "127.0.0.1", rxPort, "hello", 5, 1000));
  char buf[16];
  char peer[NPC_D_SYS_SOCKET_ADDR_TEXT_LEN];
  unsigned short peerPort = 0;
  EXPECT_EQ(5, NPC_F_SYS_SOCKET_RecvFrom_WaitRecv(rx, buf, sizeof buf, peer, sizeof peer, &peerPort, 2000));
  EXPECT_STREQ("127.0.0.1", peer);
  EXPECT_EQ(txPort, peerPort);
  EXPECT_EQ(-1, NPC_F_SYS_SOCKET_SendTo(tx, "not an address", rxPort, "x", 1));
  NPC_F_SYS_SOCKET_Close(rx);
  close(tx);
}

// In IPv6 mode sockets are dual-stack: an IPv4 sender arrives as a mapped address and is
// reported in dotted form, and IPv4 texts are reached through mapped addresses.
TEST(SocketUdpTest, Ipv6FamilyReportsMappedSendersAsIpv4) {
  set_ai_family(AF_INET6);
  int rx = NPC_F_SYS_SOCKET_Create(1);
  ASSERT_GE(rx, 0);
  unsigned short rxPort = 0;
  ASSERT_EQ(1, NPC_F_SYS_SOCKET_BindEx(rx, nullptr, 0, 0));
  ASSERT_EQ(1, NPC_F_SYS_SOCKET_GetSocketLocalAddr(rx, nullptr, 0, &rxPort));
  unsigned short txPort = 0;
  int tx = BindUdp(&txPort);
  sockaddr_in to = Loopback(rxPort);
  ASSERT_EQ(3, sendto(tx, "abc", 3, 0, reinterpret_cast<sockaddr*>(&to), sizeof to));
  char buf[16];
  char peer[NPC_D_SYS_SOCKET_ADDR_TEXT_LEN];
  unsigned short peerPort = 0;
  EXPECT_EQ(3, NPC_F_SYS_SOCKET_RecvFrom_WaitRecv(rx, buf, sizeof buf, peer, sizeof peer, &peerPort, 2000));
  EXPECT_STREQ("127.0.0.1", peer);
  EXPECT_EQ(txPort, peerPort);
  EXPECT_EQ(2, NPC_F_SYS_SOCKET_SendTo(rx, "127.0.0.1", txPort, "ok", 2));
  pollfd p{tx, POLLIN, 0};
  ASSERT_EQ(1, poll(&p, 1, 2000));
  EXPECT_EQ(2, recv(tx, buf, sizeof buf, 0));
  NPC_F_SYS_SOCKET_Close(rx);
  close(tx);
  set_ai_family(AF_INET);
}

// --- Resolution and local tables --------------------------------------------------------------

TEST(SocketResolveTest, AddressTextsResolverErrorsAndBadArguments) {
  NPC_S_SYS_IPADDR* table = nullptr;
  int count = 0;
  EXPECT_EQ(99, NPC_F_SYS_SOCKET_GetDomainIpAddrTable(nullptr, &table, &count));
  ASSERT_EQ(0, NPC_F_SYS_SOCKET_GetDomainIpAddrTable("127.0.0.1", &table, &count));
  ASSERT_EQ(1, count);
  EXPECT_STREQ("127.0.0.1", table[0].sIpaddr);
  NPC_F_SYS_SOCKET_ReleaseIpAddrTable(table);

  char out[NPC_D_SYS_SOCKET_ADDR_TEXT_LEN];
  EXPECT_EQ(1, NPC_F_SYS_SOCKET_GetNetIpAddr("127.0.0.1", out, sizeof out));
  EXPECT_STREQ("127.0.0.1", out);

  SyscallOverride seam;
  seam.table().pfGetAddrInfo = [](const char*, const char*, const addrinfo*, addrinfo**) -> int { return EAI_FAIL; };
  seam.install();
  EXPECT_EQ(2, NPC_F_SYS_SOCKET_GetDomainIpAddrTable("device.invalid", &table, &count));
  EXPECT_EQ(2, NPC_F_SYS_SOCKET_GetRandomNetIpAddr("device.invalid", out, sizeof out));
  EXPECT_EQ(0, NPC_F_SYS_SOCKET_GetNetIpAddr("device.invalid", out, sizeof out));
}

TEST(SocketResolveTest, LocalhostResolvesToLoopback) {
  char out[NPC_D_SYS_SOCKET_ADDR_TEXT_LEN];
  ASSERT_EQ(0, NPC_F_SYS_SOCKET_GetRandomNetIpAddr("localhost", out, sizeof out));
  EXPECT_STREQ("127.0.0.1", out);
}

TEST(SocketLocalTableTest, InterfaceAddressesSkipLoopback) {
  NPC_S_SYS_IPADDR_TABLE table;
  ASSERT_EQ(0, NPC_F_SYS_SOCKET_QueryLocalIpaddrTable(&table));
  EXPECT_LE(table.iIpaddrNum, NPC_D_SYS_SOCKET_LOCAL_IPADDR_MAX);
  for (int i = 0; i < table.iIpaddrNum; ++i) {
    in_addr a;
    EXPECT_EQ(1, inet_pton(AF_INET, table.tIpaddr[i].sIpaddr, &a)) << table.tIpaddr[i].sIpaddr;
    EXPECT_STRNE("127.0.0.1", table.tIpaddr[i].sIpaddr);
  }
}

TEST(SocketLocalTableTest, HardwareAddressOfAnInterfaceAddress) {
  char mac[32] = "junk";
  // The loopback interface holds 127.0.0.1 and has an all-zero hardware address.
  ASSERT_EQ(0, NPC_F_SYS_SOCKET_QueryAdpMacByIpaddr("127.0.0.1", mac, sizeof mac));
  EXPECT_STREQ("00-00-00-00-00-00", mac);
  // An address no interface holds: done, nothing found.
  EXPECT_EQ(0, NPC_F_SYS_SOCKET_QueryAdpMacByIpaddr("127.0.0.2", mac, sizeof mac));
  EXPECT_STREQ("", mac);
  EXPECT_EQ(1, NPC_F_SYS_SOCKET_QueryAdpMacByIpaddr("127.0.0.1", mac, 4));
}

TEST(SocketLocalTableTest, FailingStepsGiveTheirCodes) {
  NPC_S_SYS_IPADDR_TABLE table;
  char mac[32];
  {
    SyscallOverride seam;
    seam.table().pfSocket = [](int, int, int) -> int {
      errno = EMFILE;
      return -1;
    };
    seam.install();
    EXPECT_EQ(2, NPC_F_SYS_SOCKET_QueryLocalIpaddrTable(&table));
    EXPECT_EQ(2, NPC_F_SYS_SOCKET_QueryAdpMacByIpaddr("127.0.0.1", mac, sizeof mac));
  }
  {
    SyscallOverride seam;
    seam.table().pfIoctl = [](int, unsigned long request, void* arg) -> int {
      if (request == SIOCGIFCONF) {
        errno = EINVAL;
        return -1;
      }
      return ioctl(-1, request, arg);
    };
    seam.install();
    EXPECT_EQ(3, NPC_F_SYS_SOCKET_QueryLocalIpaddrTable(&table));
    EXPECT_EQ(3, NPC_F_SYS_SOCKET_QueryAdpMacByIpaddr("127.0.0.1", mac, sizeof mac));
  }
  {
    SyscallOverride seam;
    seam.table().pfIoctl = [](int fd, unsigned long request, void* arg) -> int {
      if (request == SIOCGIFHWADDR) {
        errno = ENODEV;
        return -1;
      }
      return ioctl(fd, request, arg);
    };
    seam.install();
    EXPECT_EQ(4, NPC_F_SYS_SOCKET_QueryAdpMacByIpaddr("127.0.0.1", mac, sizeof mac));
  }
}

}  // namespace
