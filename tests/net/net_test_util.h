// Helpers of the network suite: plain loopback peers written directly on POSIX sockets (so
// they do not share code with what they test), a guard that installs a system-call table with
// chosen entries replaced, and a guard that raises the descriptor limit.
#ifndef KORVEN_TESTS_NET_TEST_UTIL_H
#define KORVEN_TESTS_NET_TEST_UTIL_H

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "net/syscall.h"

namespace net_test {

inline sockaddr_in Loopback(unsigned short port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

inline unsigned short LocalPort(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin_port);
}

// A TCP listener on 127.0.0.1 and a system-chosen port; rcvBuf > 0 shrinks the receive buffer
// of the connections it accepts.
inline int ListenTcp(unsigned short* port, int rcvBuf = 0) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (rcvBuf > 0) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvBuf, sizeof rcvBuf);
  sockaddr_in a = Loopback(0);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  listen(fd, 128);
  *port = LocalPort(fd);
  return fd;
}

// A TCP port on 127.0.0.1 that refuses connects: bound, never listening. Keep the descriptor
// open so nobody else takes the port.
inline int RefusingPort(unsigned short* port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = Loopback(0);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  *port = LocalPort(fd);
  return fd;
}

// A blocking TCP connection to 127.0.0.1:port (rcvBuf > 0 shrinks its receive buffer); -1 on
// failure.
inline int ConnectTcp(unsigned short port, int rcvBuf = 0) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (rcvBuf > 0) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvBuf, sizeof rcvBuf);
  sockaddr_in a = Loopback(port);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Accepts one connection, waiting up to ms; -1 on time-out.
inline int AcceptWithin(int listenFd, int ms) {
  pollfd p{listenFd, POLLIN, 0};
  if (poll(&p, 1, ms) != 1) return -1;
  return accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
}

// A UDP socket bound to 127.0.0.1 and a system-chosen port.
inline int BindUdp(unsigned short* port) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = Loopback(0);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  *port = LocalPort(fd);
  return fd;
}

inline void SendAll(int fd, const std::string& data) {
  size_t off = 0;
  while (off < data.size()) {
    ssize_t n = send(fd, data.data() + off, data.size() - off, MSG_NOSIGNAL);
    if (n <= 0) return;
    off += static_cast<size_t>(n);
  }
}

// Reads until `bytes` bytes came, the peer closed, or ms passed without any byte.
inline std::string ReadUpTo(int fd, size_t bytes, int ms) {
  std::string out;
  char buf[65536];
  while (out.size() < bytes) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, ms) != 1) break;
    ssize_t n = recv(fd, buf, sizeof buf < bytes - out.size() ? sizeof buf : bytes - out.size(), 0);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

// True when the peer closed (EOF or reset) within ms; bytes that arrive first are discarded.
inline bool ClosedWithin(int fd, int ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  char buf[4096];
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) != 1) return false;
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return true;
  }
}

// Installs a copy of the default system-call table while it lives; tests replace entries of
// table() before calling install().
class SyscallOverride {
 public:
  SyscallOverride() : table_(*NPC_F_NET_SYSCALL_Default()) {}
  ~SyscallOverride() { NPC_F_NET_SYSCALL_Install(nullptr); }
  SyscallOverride(const SyscallOverride&) = delete;
  SyscallOverride& operator=(const SyscallOverride&) = delete;
  NPC_S_NET_SYSCALL_TABLE& table() { return table_; }
  void install() { NPC_F_NET_SYSCALL_Install(&table_); }

 private:
  NPC_S_NET_SYSCALL_TABLE table_;
};

// Raises the soft descriptor limit (within the hard limit) while it lives.
class FdLimit {
 public:
  explicit FdLimit(rlim_t want) {
    getrlimit(RLIMIT_NOFILE, &old_);
    rlimit r = old_;
    r.rlim_cur = want < r.rlim_max ? want : r.rlim_max;
    ok_ = setrlimit(RLIMIT_NOFILE, &r) == 0 && r.rlim_cur >= want;
  }
  ~FdLimit() { setrlimit(RLIMIT_NOFILE, &old_); }
  bool ok() const { return ok_; }

 private:
  rlimit old_{};
  bool ok_ = false;
};

// Occupies every descriptor number below `above` with /dev/null, so sockets opened afterwards
// get numbers of at least `above`. Closes them when it goes.
class FdFiller {
 public:
  explicit FdFiller(int above) {
    for (;;) {
      int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
      if (fd < 0) break;
      fds_.push_back(fd);
      if (fd >= above - 1) break;
    }
  }
  ~FdFiller() {
    for (int fd : fds_) close(fd);
  }
  int highest() const { return fds_.empty() ? -1 : fds_.back(); }

 private:
  std::vector<int> fds_;
};

}  // namespace net_test

#endif
