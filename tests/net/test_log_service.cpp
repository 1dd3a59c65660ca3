// The log network service and the log upload client against loopback peers: the line format,
// the 100-client table, clients that misbehave, the upload hello, refused and slow servers and
// the reconnect spacing on the fake clock.
#include <gtest/gtest.h>

#include <errno.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/log_service.h"
#include "net/syscall.h"
#include "net_test_util.h"
#include "runtime/clock.h"
#include "runtime/log.h"
#include "test_support.h"

namespace {

using namespace net_test;
using korven_test::eventually;
using korven_test::FakeClock;
using korven_test::LogCapture;

// Splits received bytes into "\r\n"-terminated lines (an unfinished tail is dropped).
std::vector<std::string> Lines(const std::string& bytes) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t p; (p = bytes.find("\r\n", start)) != std::string::npos; start = p + 2)
    out.push_back(bytes.substr(start, p - start));
  return out;
}

// A line as the log writes it: time, four blanks, the head, two blanks, the text.
bool IsLogLine(const std::string& line, const std::string& head, const std::string& text) {
  if (line.size() < 8) return false;
  for (size_t i = 0; i < 8; ++i) {
    const bool colon = i == 2 || i == 5;
    if (colon ? line[i] != ':' : (line[i] < '0' || line[i] > '9')) return false;
  }
  return line.substr(8) == "    " + head + "  " + text;
}

// Reads a client's bytes on a thread of its own until stopped.
class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd), thread_([this] { run(); }) {}
  ~LineReader() {
    stop_ = true;
    thread_.join();
  }
  std::string bytes() const {
    std::lock_guard<std::mutex> lk(mu_);
    return bytes_;
  }

 private:
  void run() {
    char buf[8192];
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 20) != 1) continue;
      ssize_t n = recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) return;
      std::lock_guard<std::mutex> lk(mu_);
      bytes_.append(buf, static_cast<size_t>(n));
    }
  }
  int fd_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mu_;
  std::string bytes_;
  std::thread thread_;
};

class LogServiceTest : public ::testing::Test {
 protected:
  void TearDown() override {
    NPC_F_LOG_SR_StopLogService();
    for (int fd : fds_) close(fd);
  }
  unsigned short Start() {
    EXPECT_EQ(1, NPC_F_LOG_SR_StartLogService(0));
    return NPC_F_LOG_SR_GetLogServicePort();
  }
  int Client(unsigned short port, int rcvBuf = 0) {
    int fd = ConnectTcp(port, rcvBuf);
    EXPECT_GE(fd, 0);
    fds_.push_back(fd);
    return fd;
  }
  LogCapture log_;  // also keeps the test's lines off the console and out of files
  std::vector<int> fds_;
};

TEST_F(LogServiceTest, ClientsReceiveEveryLineInTheLogFormat) {
  unsigned short port = Start();
  ASSERT_NE(0, port);
  int a = Client(port), b = Client(port);
  ASSERT_TRUE(eventually([] { return NPC_F_LOG_SR_QueryLogClientNum() == 2; }));
  NPC_F_LOG_SR_WriteLog("first line", 2);
  NPC_F_LOG_SR_ShowInfo("an information");
  NPC_F_LOG_SR_WriteLogF("line %d", 3);
  for (int fd : {a, b}) {
    std::vector<std::string> lines;
    std::string got;
    ASSERT_TRUE(eventually([&] {
      got += ReadUpTo(fd, 1 << 16, 10);
      lines = Lines(got);
      return lines.size() >= 3;
    }));
    ASSERT_EQ(3u, lines.size());
    EXPECT_TRUE(IsLogLine(lines[0], "[日志]", "first line")) << lines[0];
    EXPECT_TRUE(IsLogLine(lines[1], "[提示]", "an information")) << lines[1];
    EXPECT_TRUE(IsLogLine(lines[2], "[日志]", "line 3")) << lines[2];
    EXPECT_EQ(got.size(), got.rfind("\r\n") + 2);  // nothing but whole lines
  }
}

TEST_F(LogServiceTest, The101stClientIsClosedAtOnce) {
  unsigned short port = Start();
  std::vector<int> clients;
  // One at a time: the listen backlog is short.
  for (int i = 0; i < NPC_D_LOG_SR_MAX_CLIENT_NUM; ++i) {
    clients.push_back(Client(port));
    ASSERT_TRUE(eventually([i] { return NPC_F_LOG_SR_QueryLogClientNum() == i + 1; }));
  }
  int extra = Client(port);
  EXPECT_TRUE(ClosedWithin(extra, 3000));
  EXPECT_EQ(NPC_D_LOG_SR_MAX_CLIENT_NUM, NPC_F_LOG_SR_QueryLogClientNum());
  NPC_F_LOG_SR_WriteLog("still served", 2);
  for (int fd : {clients.front(), clients.back()}) {
    std::string got;
    ASSERT_TRUE(eventually([&] {
      got += ReadUpTo(fd, 1 << 16, 10);
      return Lines(got).size() == 1;
    }));
    EXPECT_TRUE(IsLogLine(Lines(got)[0], "[日志]", "still served"));
  }
}

// Clients that send junk, leave in the middle of the stream, or never read cost the others
// nothing: the good client gets every line in order, and the bad ones are dropped.
TEST_F(LogServiceTest, MisbehavingClientsDoNotHurtTheOthers) {
  unsigned short port = Start();
  int good = Client(port);
  int junk = Client(port);
  int leaver = Client(port);
  int sleeper = Client(port, 1024);
  ASSERT_TRUE(eventually([] { return NPC_F_LOG_SR_QueryLogClientNum() == 4; }));
  LineReader goodReader(good);

  std::atomic<bool> stopJunk{false};
  std::thread junkWriter([&] {
    std::string noise(4096, '\x7f');
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>(i * 37);
    while (!stopJunk) {
      pollfd p{junk, POLLOUT, 0};
      if (poll(&p, 1, 20) == 1 && send(junk, noise.data(), noise.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0 &&
          errno != EAGAIN)
        return;
      std::string sink = ReadUpTo(junk, 1 << 20, 0);  // keep reading its lines
    }
  });

  const std::string pad(900, '.');
  int written = 0;
  bool leaverGone = false;
  // Lines flow until the client that never reads has been dropped (its send times out after
  // 2000 ms once its buffers are full).
  ASSERT_TRUE(eventually(
      [&] {
        for (int i = 0; i < 20; ++i) NPC_F_LOG_SR_WriteLogF("line %06d %s", written++, pad.c_str());
        if (!leaverGone && written > 40) {
          ReadUpTo(leaver, 100, 10);  // part of a line, then away
          close(leaver);
          fds_.erase(std::find(fds_.begin(), fds_.end(), leaver));
          leaverGone = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return leaverGone && NPC_F_LOG_SR_QueryLogClientNum() == 2;
      },
      30000));
  EXPECT_TRUE(ClosedWithin(sleeper, 5000));
  NPC_F_LOG_SR_WriteLog("the end", 2);
  ASSERT_TRUE(eventually([&] { return goodReader.bytes().find("the end\r\n") != std::string::npos; }, 10000));
  stopJunk = true;
  junkWriter.join();
  EXPECT_EQ(2, NPC_F_LOG_SR_QueryLogClientNum());  // the good one and the junk sender

  std::vector<std::string> lines = Lines(goodReader.bytes());
  ASSERT_EQ(static_cast<size_t>(written) + 1, lines.size());
  for (int i = 0; i < written; ++i) {
    char want[32];
    snprintf(want, sizeof want, "line %06d ", i);
    ASSERT_NE(std::string::npos, lines[static_cast<size_t>(i)].find(want)) << i;
  }
}

TEST_F(LogServiceTest, AClientThatLeavesIsDroppedByTheFiveSecondCheck) {
  FakeClock clock;
  unsigned short port = Start();
  int fd = Client(port);
  ASSERT_TRUE(eventually([] { return NPC_F_LOG_SR_QueryLogClientNum() == 1; }));
  close(fd);
  fds_.clear();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(1, NPC_F_LOG_SR_QueryLogClientNum());  // no line, no check yet
  clock.advance(5000);
  EXPECT_TRUE(eventually([] { return NPC_F_LOG_SR_QueryLogClientNum() == 0; }));
}

TEST_F(LogServiceTest, StartIsIdempotentAndRestartServesAgain) {
  unsigned short port = Start();
  EXPECT_EQ(1, NPC_F_LOG_SR_StartLogService(0));
  EXPECT_EQ(port, NPC_F_LOG_SR_GetLogServicePort());
  NPC_F_LOG_SR_StopLogService();
  EXPECT_EQ(0, NPC_F_LOG_SR_GetLogServicePort());
  NPC_F_LOG_SR_WriteLog("nobody listens", 2);
  port = Start();
  int fd = Client(port);
  ASSERT_TRUE(eventually([] { return NPC_F_LOG_SR_QueryLogClientNum() == 1; }));
  NPC_F_LOG_SR_WriteLog("back again", 2);
  std::string got;
  ASSERT_TRUE(eventually([&] {
    got += ReadUpTo(fd, 1 << 16, 10);
    return !Lines(got).empty();
  }));
  EXPECT_TRUE(IsLogLine(Lines(got)[0], "[日志]", "back again"));
}

TEST_F(LogServiceTest, APortInUseFails) {
  unsigned short port = 0;
  int holder = ListenTcp(&port);
  fds_.push_back(holder);
  EXPECT_EQ(0, NPC_F_LOG_SR_StartLogService(port));
  EXPECT_TRUE(log_.contains("NPC_F_LOG_SR_StartLogService NPC_F_SYS_SOCKET_Bind fail."));
  EXPECT_EQ(0, NPC_F_LOG_SR_GetLogServicePort());
}

// --- Upload client ----------------------------------------------------------------------------

// A loopback log server that records the bytes of each connection. It can read slowly (small
// receive buffer, small reads with pauses) and close each connection after some bytes.
class UploadSink {
 public:
  UploadSink(int rcvBuf, bool slow, size_t closeAfter)
      : slow_(slow), closeAfter_(closeAfter) {
    listen_ = ListenTcp(&port_, rcvBuf);
    thread_ = std::thread([this] { run(); });
  }
  ~UploadSink() {
    stop_ = true;
    thread_.join();
    close(listen_);
  }
  unsigned short port() const { return port_; }
  std::vector<std::string> connections() const {
    std::lock_guard<std::mutex> lk(mu_);
    return conns_;
  }

 private:
  void run() {
    int conn = -1;
    char buf[8192];
    while (!stop_) {
      pollfd p[2] = {{listen_, POLLIN, 0}, {conn, POLLIN, 0}};
      if (poll(p, conn >= 0 ? 2 : 1, 20) <= 0) continue;
      if (p[0].revents & POLLIN) {
        if (conn >= 0) close(conn);
        conn = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        std::lock_guard<std::mutex> lk(mu_);
        conns_.emplace_back();
        continue;
      }
      if (conn < 0 || !(p[1].revents & (POLLIN | POLLHUP))) continue;
      ssize_t n = recv(conn, buf, slow_ ? 97 : sizeof buf, 0);
      if (n <= 0) {
        close(conn);
        conn = -1;
        continue;
      }
      bool closeNow = false;
      {
        std::lock_guard<std::mutex> lk(mu_);
        conns_.back().append(buf, static_cast<size_t>(n));
        closeNow = closeAfter_ && conns_.back().size() >= closeAfter_;
      }
      if (closeNow) {
        close(conn);
        conn = -1;
      }
      if (slow_) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (conn >= 0) close(conn);
  }
  bool slow_;
  size_t closeAfter_;
  unsigned short port_ = 0;
  int listen_ = -1;
  std::atomic<bool> stop_{false};
  mutable std::mutex mu_;
  std::vector<std::string> conns_;
  std::thread thread_;
};

std::string Hello(const char* name, const char* ident) {
  std::string h("\xFF\xEF\x01\xFF", 4);
  std::string n(32, '\0'), i(32, '\0');
  n.replace(0, strlen(name), name);
  i.replace(0, strlen(ident), ident);
  return h + n + i;
}

class LogUploadTest : public ::testing::Test {
 protected:
  void TearDown() override { NPC_F_LOG_SR_StopLogUpClient(); }
  LogCapture log_;
};

TEST_F(LogUploadTest, HelloThenLinesInOrder) {
  UploadSink sink(0, false, 0);
  ASSERT_EQ(1, NPC_F_LOG_SR_StartLogUpClient("客户端", "client-7f3a", "127.0.0.1", sink.port()));
  for (int i = 0; i < 50; ++i) NPC_F_LOG_SR_WriteLogF("upload line %d", i);
  ASSERT_TRUE(eventually([&] {
    auto c = sink.connections();
    return !c.empty() && Lines(c[0].size() > 68 ? c[0].substr(68) : "").size() == 50;
  }, 10000));
  std::string got = sink.connections()[0];
  EXPECT_EQ(Hello("客户端", "client-7f3a"), got.substr(0, 68));
  std::vector<std::string> lines = Lines(got.substr(68));
  for (int i = 0; i < 50; ++i)
    EXPECT_TRUE(IsLogLine(lines[static_cast<size_t>(i)], "[日志]", "upload line " + std::to_string(i))) << lines[i];
  EXPECT_EQ(1u, sink.connections().size());
}

TEST_F(LogUploadTest, ASlowServerGetsEverythingInOrder) {
  UploadSink sink(2048, true, 0);
  ASSERT_EQ(1, NPC_F_LOG_SR_StartLogUpClient("n", "i", "127.0.0.1", sink.port()));
  const std::string pad(300, '#');
  for (int i = 0; i < 150; ++i) NPC_F_LOG_SR_WriteLogF("slow %03d %s", i, pad.c_str());
  ASSERT_TRUE(eventually([&] {
    auto c = sink.connections();
    return !c.empty() && c[0].size() > 68 && Lines(c[0].substr(68)).size() == 150;
  }, 30000));
  std::vector<std::string> lines = Lines(sink.connections()[0].substr(68));
  for (int i = 0; i < 150; ++i) {
    char want[16];
    snprintf(want, sizeof want, "slow %03d ", i);
    ASSERT_NE(std::string::npos, lines[static_cast<size_t>(i)].find(want)) << i;
  }
}

std::atomic<int> g_refusedPort{0};
std::mutex g_attemptMu;
std::vector<int64_t> g_attemptTimes;

int RecordingConnect(int fd, const sockaddr* addr, socklen_t len) {
  if (addr->sa_family == AF_INET &&
      ntohs(reinterpret_cast<const sockaddr_in*>(addr)->sin_port) == g_refusedPort.load()) {
    std::lock_guard<std::mutex> lk(g_attemptMu);
    g_attemptTimes.push_back(NPC_F_SYS_GetWallTime());
  }
  return connect(fd, addr, len);
}

// The first attempt comes at once; later ones at least 4, 6, 8, 10, 10 seconds apart.
TEST_F(LogUploadTest, RefusedServerIsRetriedAtGrowingSpacing) {
  FakeClock clock;
  unsigned short port = 0;
  int refusing = RefusingPort(&port);
  g_refusedPort = port;
  {
    std::lock_guard<std::mutex> lk(g_attemptMu);
    g_attemptTimes.clear();
  }
  SyscallOverride seam;
  seam.table().pfConnect = RecordingConnect;
  seam.install();
  NPC_S_LOG_UPCLIENT_WORKDATA* c = NPC_F_LOG_UPC_StartLogUpServer("n", "i", "127.0.0.1", port);
  ASSERT_NE(nullptr, c);
  auto attempts = [] {
    std::lock_guard<std::mutex> lk(g_attemptMu);
    return g_attemptTimes;
  };
  ASSERT_TRUE(eventually([&] { return attempts().size() == 1; }));
  for (int step = 0; step < 200 && attempts().size() < 7; ++step) {
    clock.advance(500);
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
  }
  // Lines wait in the bounded queue meanwhile: 200 fit, the next is refused.
  for (int i = 0; i < NPC_D_LOG_UPC_QUEUE_SIZE; ++i) EXPECT_EQ(1, NPC_F_LOG_UPC_SendLogData(c, "x\r\n", 3));
  EXPECT_EQ(0, NPC_F_LOG_UPC_SendLogData(c, "x\r\n", 3));
  NPC_F_LOG_UPC_StopLogUpServer(c);
  close(refusing);

  std::vector<int64_t> t = attempts();
  ASSERT_GE(t.size(), 6u);
  const int64_t minGap[] = {4, 6, 8, 10, 10};
  for (size_t i = 0; i < 5; ++i) EXPECT_GE(t[i + 1] - t[i], minGap[i]) << "gap " << i;
}

// A server that drops the connection after the hello: the next line finds it gone and the
// client comes back (after its retry spacing) with a new hello.
TEST_F(LogUploadTest, ReconnectsWithANewHelloAfterTheServerLeft) {
  FakeClock clock;
  UploadSink sink(0, false, 68);
  ASSERT_EQ(1, NPC_F_LOG_SR_StartLogUpClient("name", "ident", "127.0.0.1", sink.port()));
  ASSERT_TRUE(eventually([&] {
    auto c = sink.connections();
    return c.size() == 1 && c[0].size() == 68;
  }));
  ASSERT_TRUE(eventually([&] {
    NPC_F_LOG_SR_WriteLog("probe line", 2);
    clock.advance(500);
    auto c = sink.connections();
    return c.size() >= 2 && c[1].size() >= 68;
  }, 20000));
  auto c = sink.connections();
  EXPECT_EQ(Hello("name", "ident"), c[0]);
  EXPECT_EQ(Hello("name", "ident"), c[1].substr(0, 68));
}

TEST_F(LogUploadTest, StartingAgainReplacesTheClient) {
  UploadSink first(0, false, 0), second(0, false, 0);
  ASSERT_EQ(1, NPC_F_LOG_SR_StartLogUpClient("a", "1", "127.0.0.1", first.port()));
  ASSERT_TRUE(eventually([&] { return !first.connections().empty(); }));
  ASSERT_EQ(1, NPC_F_LOG_SR_StartLogUpClient("b", "2", "127.0.0.1", second.port()));
  NPC_F_LOG_SR_WriteLog("to the second", 2);
  ASSERT_TRUE(eventually([&] {
    auto c = second.connections();
    return !c.empty() && c[0].find("to the second\r\n") != std::string::npos;
  }));
  EXPECT_EQ(Hello("b", "2"), second.connections()[0].substr(0, 68));
  EXPECT_EQ(std::string::npos, first.connections()[0].find("to the second"));
  EXPECT_EQ(0, NPC_F_LOG_SR_StartLogUpClient("c", "3", "", 1));
}

}  // namespace
