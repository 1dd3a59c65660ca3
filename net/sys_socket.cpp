// The socket layer (see sys_socket.h): address texts and families, descriptors, connects
// judged by SO_ERROR, chunked sends, waits with poll(), resolution and the local interface
// tables. Every system call goes through the seam of net/syscall.h.
#include "net/sys_socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "net/syscall.h"
#include "runtime/random.h"
#include "runtime/text.h"

namespace {

const NPC_S_NET_SYSCALL_TABLE& Sys() { return *NPC_F_NET_SYSCALL_Get(); }

std::atomic<int> g_family{AF_INET};
std::mutex g_aiAddrMutex;
char g_aiAddr[256] = "2001:2:0:1baa::";

// Bounded copy of a NUL-terminated text; a null source gives an empty text.
void CopyText(char* dst, int dstLen, const char* src) {
  if (!dst || dstLen <= 0) return;
  if (!src) src = "";
  NPC_F_TEXT_CopyRaw(dst, static_cast<size_t>(dstLen), src, std::strlen(src));
}

// Writes the text of an error number into errText (may be null).
void SetErrno(char* errText, int errTextLen, int err) {
  if (!errText || errTextLen <= 0) return;
  char tmp[128];
  const char* msg = strerror_r(err, tmp, sizeof tmp);
  CopyText(errText, errTextLen, msg);
}

void SetText(char* errText, int errTextLen, const char* text) { CopyText(errText, errTextLen, text); }

void SetState(int* state, int value) {
  if (state) *state = value;
}

bool WouldBlock(int err) { return err == EAGAIN || err == EWOULDBLOCK || err == EINTR; }

// Builds the socket address of an address text and port in the current family. In IPv6 mode
// an IPv4 text becomes its IPv4-mapped address. A null or empty text is the any-address.
bool BuildAddr(const char* text, unsigned short port, sockaddr_storage* ss, socklen_t* len) {
  std::memset(ss, 0, sizeof *ss);
  const bool any = !text || !*text;
  if (g_family.load(std::memory_order_relaxed) == AF_INET6) {
    auto* a6 = reinterpret_cast<sockaddr_in6*>(ss);
    a6->sin6_family = AF_INET6;
    a6->sin6_port = htons(port);
    *len = sizeof(sockaddr_in6);
    if (any) {
      a6->sin6_addr = in6addr_any;
      return true;
    }
    if (inet_pton(AF_INET6, text, &a6->sin6_addr) == 1) return true;
    in_addr v4;
    if (inet_pton(AF_INET, text, &v4) != 1) return false;
    unsigned char* b = a6->sin6_addr.s6_addr;
    b[10] = 0xFF;
    b[11] = 0xFF;
    std::memcpy(b + 12, &v4, 4);
    return true;
  }
  auto* a4 = reinterpret_cast<sockaddr_in*>(ss);
  a4->sin_family = AF_INET;
  a4->sin_port = htons(port);
  *len = sizeof(sockaddr_in);
  if (any) {
    a4->sin_addr.s_addr = htonl(INADDR_ANY);
    return true;
  }
  return inet_pton(AF_INET, text, &a4->sin_addr) == 1;
}

// The text and port of a socket address; IPv4-mapped IPv6 addresses give their dotted text.
void AddrToText(const sockaddr_storage& ss, char* out, int outLen, unsigned short* port) {
  char text[INET6_ADDRSTRLEN] = "";
  unsigned short p = 0;
  if (ss.ss_family == AF_INET) {
    const auto* a4 = reinterpret_cast<const sockaddr_in*>(&ss);
    inet_ntop(AF_INET, &a4->sin_addr, text, sizeof text);
    p = ntohs(a4->sin_port);
  } else if (ss.ss_family == AF_INET6) {
    const auto* a6 = reinterpret_cast<const sockaddr_in6*>(&ss);
    if (IN6_IS_ADDR_V4MAPPED(&a6->sin6_addr)) {
      inet_ntop(AF_INET, a6->sin6_addr.s6_addr + 12, text, sizeof text);
    } else {
      inet_ntop(AF_INET6, &a6->sin6_addr, text, sizeof text);
    }
    p = ntohs(a6->sin6_port);
  }
  CopyText(out, outLen, text);
  if (port) *port = p;
}

// Waits up to waitMs for the events on one descriptor: 1 ready (revents filled), 0 time-out,
// -1 poll failed.
int WaitFor(int sock, short events, int waitMs, short* revents) {
  pollfd p{sock, events, 0};
  int r = Sys().pfPoll(&p, 1, waitMs < 0 ? 0 : waitMs);
  if (r < 0) return errno == EINTR ? 0 : -1;
  if (r == 0) return 0;
  if (revents) *revents = p.revents;
  return 1;
}

int SetIntOpt(int sock, int level, int name, int value) {
  if (sock < 0) return 0;
  return Sys().pfSetSockOpt(sock, level, name, &value, sizeof value) == 0 ? 1 : 0;
}

}  // namespace

// --- Process-wide settings ------------------------------------------------------------------

void set_ai_family(int family) {
  if (family == AF_INET || family == AF_INET6) g_family.store(family, std::memory_order_relaxed);
}

int NPC_F_SYS_SOCKET_GetAiFamily() { return g_family.load(std::memory_order_relaxed); }

void set_ai_addr(const char* addr) {
  std::lock_guard<std::mutex> lk(g_aiAddrMutex);
  CopyText(g_aiAddr, sizeof g_aiAddr, addr);
}

void NPC_F_SYS_SOCKET_GetAiAddr(char* buf, int bufLen) {
  std::lock_guard<std::mutex> lk(g_aiAddrMutex);
  CopyText(buf, bufLen, g_aiAddr);
}

int NPC_F_SYS_SOCKET_InitSocketLib() {
  signal(SIGPIPE, SIG_IGN);
  return 1;
}

void NPC_F_SYS_SOCKET_UninitSocketLib() {}

// --- Descriptors ------------------------------------------------------------------------------

int NPC_F_SYS_SOCKET_Create(int udpFlag) {
  const int family = g_family.load(std::memory_order_relaxed);
  int sock = Sys().pfSocket(family, (udpFlag ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC, 0);
  if (sock < 0) return -1;
  // IPv4 texts are reached through mapped addresses in IPv6 mode.
  if (family == AF_INET6) SetIntOpt(sock, IPPROTO_IPV6, IPV6_V6ONLY, 0);
  return sock;
}

void NPC_F_SYS_SOCKET_Close(int sock) {
  if (sock >= 0) Sys().pfClose(sock);
}

int NPC_F_SYS_SOCKET_BindEx(int sock, const char* addr, unsigned short port, int reuseAddr) {
  if (sock < 0) return 0;
  if (reuseAddr && !SetIntOpt(sock, SOL_SOCKET, SO_REUSEADDR, 1)) return 0;
  sockaddr_storage ss;
  socklen_t len = 0;
  if (!BuildAddr(addr, port, &ss, &len)) return 0;
  return Sys().pfBind(sock, reinterpret_cast<sockaddr*>(&ss), len) == 0 ? 1 : 0;
}

int NPC_F_SYS_SOCKET_Bind(int sock, const char* addr, unsigned short port) {
  return NPC_F_SYS_SOCKET_BindEx(sock, addr, port, 1);
}

int NPC_F_SYS_SOCKET_Listen(int sock) {
  if (sock < 0) return 0;
  return Sys().pfListen(sock, 5) == 0 ? 1 : 0;
}

int NPC_F_SYS_SOCKET_Accept(int sock, char* peerAddr, int peerAddrLen, unsigned short* peerPort) {
  if (sock < 0) return -1;
  sockaddr_storage ss;
  std::memset(&ss, 0, sizeof ss);
  socklen_t len = sizeof ss;
  int fd = Sys().pfAccept(sock, reinterpret_cast<sockaddr*>(&ss), &len);
  if (fd < 0) return -1;
  // Accepted descriptors are not inherited by programs this process starts.
  int fl = Sys().pfFcntl(fd, F_GETFD, 0);
  if (fl >= 0) Sys().pfFcntl(fd, F_SETFD, fl | FD_CLOEXEC);
  AddrToText(ss, peerAddr, peerAddrLen, peerPort);
  return fd;
}

int NPC_F_SYS_SOCKET_SetBlockMode(int sock, int block) {
  if (sock < 0) return 0;
  int fl = Sys().pfFcntl(sock, F_GETFL, 0);
  if (fl < 0) return 0;
  fl = block ? (fl & ~O_NONBLOCK) : (fl | O_NONBLOCK);
  return Sys().pfFcntl(sock, F_SETFL, fl) == 0 ? 1 : 0;
}

int NPC_F_SYS_SOCKET_SetBroadcastParam(int sock, int on) {
  return SetIntOpt(sock, SOL_SOCKET, SO_BROADCAST, on ? 1 : 0);
}

int NPC_F_SYS_SOCKET_SetSendBufSize(int sock, int bytes) {
  return SetIntOpt(sock, SOL_SOCKET, SO_SNDBUF, bytes);
}

int NPC_F_SYS_SOCKET_SetRecvBufSize(int sock, int bytes) {
  return SetIntOpt(sock, SOL_SOCKET, SO_RCVBUF, bytes);
}

// Reads one end's address of the socket through getName (the local or the peer end) as text.
static int SocketAddrText(int sock, int (*getName)(int, sockaddr*, socklen_t*), char* addr, int addrLen,
                          unsigned short* port) {
  if (sock < 0) return 0;
  sockaddr_storage ss;
  std::memset(&ss, 0, sizeof ss);
  socklen_t len = sizeof ss;
  if (getName(sock, reinterpret_cast<sockaddr*>(&ss), &len) != 0) return 0;
  AddrToText(ss, addr, addrLen, port);
  return 1;
}

int NPC_F_SYS_SOCKET_GetSocketLocalAddr(int sock, char* addr, int addrLen, unsigned short* port) {
  return SocketAddrText(sock, Sys().pfGetSockName, addr, addrLen, port);
}

int NPC_F_SYS_SOCKET_GetSocketPeerAddr(int sock, char* addr, int addrLen, unsigned short* port) {
  return SocketAddrText(sock, Sys().pfGetPeerName, addr, addrLen, port);
}

// --- Connects ---------------------------------------------------------------------------------

int NPC_F_SYS_SOCKET_StartConnect(int sock, const char* addr, unsigned short port) {
  if (sock < 0 || !addr || !*addr) return 0;
  sockaddr_storage ss;
  socklen_t len = 0;
  if (!BuildAddr(addr, port, &ss, &len)) return 0;
  if (Sys().pfConnect(sock, reinterpret_cast<sockaddr*>(&ss), len) == 0) return 1;
  const int err = errno;
  return (err == EINPROGRESS || err == EAGAIN || err == EINTR || err == EISCONN) ? 1 : 0;
}

int NPC_F_SYS_SOCKET_Connect(int sock, const char* addr, unsigned short port, int waitMs) {
  if (!NPC_F_SYS_SOCKET_StartConnect(sock, addr, port)) return 0;
  if (waitMs <= 0) return 1;
  return NPC_F_SYS_SOCKET_CheckConnectResult(sock, waitMs) == 0 ? 1 : 0;
}

// Judges the connect by its pending error. Linux reports a refused connect as readable,
// writable, error and hang-up at once, so readiness alone proves nothing.
int NPC_F_SYS_SOCKET_GetConnectError(int sock, int revents) {
  if (sock < 0) return EBADF;
  int err = 0;
  socklen_t len = sizeof err;
  if (Sys().pfGetSockOpt(sock, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno ? errno : EIO;
  if (err != 0) return err;
  if (revents & (POLLERR | POLLHUP | POLLNVAL)) {
    // The error was already read once; a socket without a peer did not connect.
    sockaddr_storage ss;
    socklen_t sl = sizeof ss;
    if (Sys().pfGetPeerName(sock, reinterpret_cast<sockaddr*>(&ss), &sl) != 0) return ENOTCONN;
  }
  return 0;
}

int NPC_F_SYS_SOCKET_CheckConnectResult(int sock, int waitMs) {
  if (sock < 0) return 2;
  if (waitMs <= 0) return NPC_F_SYS_SOCKET_GetConnectError(sock, 0) == 0 ? 0 : 2;
  short revents = 0;
  int r = WaitFor(sock, POLLOUT, waitMs, &revents);
  if (r < 0) return 2;
  if (r == 0) return 1;
  return NPC_F_SYS_SOCKET_GetConnectError(sock, revents) == 0 ? 0 : 2;
}

// --- TCP send and receive ---------------------------------------------------------------------

int NPC_F_SYS_SOCKET_Recv(int sock, char* buf, int len, int* state, char* errText, int errTextLen) {
  if (sock < 0 || !buf || len <= 0) {
    SetState(state, NPC_D_SYS_SOCKET_STATE_ERROR);
    SetErrno(errText, errTextLen, EINVAL);
    return 0;
  }
  ssize_t n = Sys().pfRecv(sock, buf, static_cast<size_t>(len), 0);
  if (n > 0) {
    SetState(state, NPC_D_SYS_SOCKET_STATE_DONE);
    return static_cast<int>(n);
  }
  if (n == 0) {
    SetState(state, NPC_D_SYS_SOCKET_STATE_DONE);
    SetText(errText, errTextLen, "NPC_F_SYS_SOCKET_Recv peer close.");
    return 0;
  }
  const int err = errno;
  if (WouldBlock(err)) {
    SetState(state, NPC_D_SYS_SOCKET_STATE_NODATA);
    SetText(errText, errTextLen, "no data.");
    return 0;
  }
  SetState(state, NPC_D_SYS_SOCKET_STATE_ERROR);
  if (err == ECONNRESET) {
    SetText(errText, errTextLen, "NPC_F_SYS_SOCKET_Recv peer reset.");
  } else {
    SetErrno(errText, errTextLen, err);
  }
  return 0;
}

int NPC_F_SYS_SOCKET_SendEx(int sock, const char* data, int len, int* sent, int* state,
                            char* errText, int errTextLen) {
  if (sent) *sent = 0;
  if (sock < 0 || (!data && len > 0) || len < 0) {
    SetState(state, NPC_D_SYS_SOCKET_STATE_ERROR);
    SetErrno(errText, errTextLen, EINVAL);
    return 0;
  }
  if (len == 0) {
    SetState(state, NPC_D_SYS_SOCKET_STATE_DONE);
    return 1;
  }
  ssize_t n = Sys().pfSend(sock, data, static_cast<size_t>(len), MSG_NOSIGNAL);
  if (n == len) {
    if (sent) *sent = len;
    SetState(state, NPC_D_SYS_SOCKET_STATE_DONE);
    return 1;
  }
  if (n >= 0) {
    if (sent) *sent = static_cast<int>(n);
    SetState(state, NPC_D_SYS_SOCKET_STATE_WOULDBLOCK);
    return 0;
  }
  const int err = errno;
  SetState(state, WouldBlock(err) ? NPC_D_SYS_SOCKET_STATE_WOULDBLOCK : NPC_D_SYS_SOCKET_STATE_ERROR);
  SetErrno(errText, errTextLen, err);
  return 0;
}

int NPC_F_SYS_SOCKET_SendSpecData(int sock, const char* data, int len, int* state, char* errText,
                                  int errTextLen) {
  if (sock < 0 || len < 0 || (!data && len > 0)) {
    SetState(state, NPC_D_SYS_SOCKET_STATE_ERROR);
    SetErrno(errText, errTextLen, EINVAL);
    return 0;
  }
  int off = 0;
  int st = NPC_D_SYS_SOCKET_STATE_DONE;
  while (off < len) {
    const int piece = len - off < NPC_D_SYS_SOCKET_SEND_PIECE ? len - off : NPC_D_SYS_SOCKET_SEND_PIECE;
    ssize_t n = Sys().pfSend(sock, data + off, static_cast<size_t>(piece), MSG_NOSIGNAL);
    if (n > 0) {
      off += static_cast<int>(n);
      continue;
    }
    if (n < 0 && !WouldBlock(errno)) {
      st = NPC_D_SYS_SOCKET_STATE_ERROR;
      SetErrno(errText, errTextLen, errno);
    } else {
      st = NPC_D_SYS_SOCKET_STATE_WOULDBLOCK;
    }
    break;
  }
  SetState(state, st);
  return off;
}

int NPC_F_SYS_SOCKET_SendSpecDataBuf(int sock, char* buf, int* len, int* state, char* errText,
                                     int errTextLen) {
  if (sock < 0 || !len || *len < 0 || (!buf && *len > 0)) {
    SetState(state, NPC_D_SYS_SOCKET_STATE_ERROR);
    SetErrno(errText, errTextLen, EINVAL);
    return 0;
  }
  int st = 0;
  const int sent = NPC_F_SYS_SOCKET_SendSpecData(sock, buf, *len, &st, errText, errTextLen);
  if (sent > 0 && sent < *len) std::memmove(buf, buf + sent, static_cast<size_t>(*len - sent));
  *len -= sent;
  SetState(state, st);
  return st == NPC_D_SYS_SOCKET_STATE_DONE ? 1 : 0;
}

int NPC_F_SYS_SOCKET_TcpSendData_SendSpecDataBuf(int sock, char* buf, int* len) {
  if (sock < 0 || !len || *len < 0 || (!buf && *len > 0)) return -1;
  const int before = *len;
  int state = 0;
  NPC_F_SYS_SOCKET_SendSpecDataBuf(sock, buf, len, &state, nullptr, 0);
  if (state == NPC_D_SYS_SOCKET_STATE_ERROR) return -1;
  return before - *len;
}

int NPC_F_SYS_SOCKET_WaitSend(int sock, const char* data, int len, int waitMs, int* state,
                              char* errText, int errTextLen) {
  if (sock < 0 || len < 0 || (!data && len > 0)) {
    SetState(state, NPC_D_SYS_SOCKET_STATE_ERROR);
    SetErrno(errText, errTextLen, EINVAL);
    return 0;
  }
  int off = 0;
  while (off < len) {
    int r = WaitFor(sock, POLLOUT, waitMs, nullptr);
    if (r < 0) {
      SetState(state, NPC_D_SYS_SOCKET_STATE_ERROR);
      SetText(errText, errTextLen, "select error");
      return 0;
    }
    if (r == 0) {
      SetState(state, NPC_D_SYS_SOCKET_STATE_WOULDBLOCK);
      SetText(errText, errTextLen, "time out");
      return 0;
    }
    const int piece = len - off < NPC_D_SYS_SOCKET_SEND_PIECE ? len - off : NPC_D_SYS_SOCKET_SEND_PIECE;
    ssize_t n = Sys().pfSend(sock, data + off, static_cast<size_t>(piece), MSG_NOSIGNAL);
    if (n > 0) {
      off += static_cast<int>(n);
    } else if (n < 0 && !WouldBlock(errno)) {
      SetState(state, NPC_D_SYS_SOCKET_STATE_ERROR);
      SetErrno(errText, errTextLen, errno);
      return 0;
    }
  }
  SetState(state, NPC_D_SYS_SOCKET_STATE_DONE);
  return 1;
}

int NPC_F_SYS_SOCKET_WaitRecv(int sock, char* buf, int len, int waitMs, int* state, char* errText,
                              int errTextLen) {
  int r = WaitFor(sock, POLLIN, waitMs, nullptr);
  if (r < 0) {
    SetState(state, NPC_D_SYS_SOCKET_STATE_ERROR);
    SetText(errText, errTextLen, "select error");
    return 0;
  }
  if (r == 0) {
    SetState(state, 2);
    SetText(errText, errTextLen, "time out");
    return 0;
  }
  return NPC_F_SYS_SOCKET_Recv(sock, buf, len, state, errText, errTextLen);
}

// --- UDP --------------------------------------------------------------------------------------

int NPC_F_SYS_SOCKET_SendUdpSpecData(int sock, const char* addr, unsigned short port,
                                     const char* data, int len, int waitFlag, int* state,
                                     char* errText, int errTextLen) {
  sockaddr_storage ss;
  socklen_t sl = 0;
  if (sock < 0 || len < 0 || (!data && len > 0) || !addr || !*addr ||
      !BuildAddr(addr, port, &ss, &sl)) {
    SetState(state, NPC_D_SYS_SOCKET_STATE_ERROR);
    SetErrno(errText, errTextLen, EINVAL);
    return 0;
  }
  int off = 0;
  int st = NPC_D_SYS_SOCKET_STATE_DONE;
  while (off < len) {
    const int piece = len - off < NPC_D_SYS_SOCKET_SEND_PIECE ? len - off : NPC_D_SYS_SOCKET_SEND_PIECE;
    if (waitFlag) WaitFor(sock, POLLOUT, 6, nullptr);
    ssize_t n = Sys().pfSendTo(sock, data + off, static_cast<size_t>(piece), MSG_NOSIGNAL,
                               reinterpret_cast<sockaddr*>(&ss), sl);
    if (n >= 0) {
      off += piece;
      continue;
    }
    const int err = errno;
    if (WouldBlock(err)) {
      st = NPC_D_SYS_SOCKET_STATE_WOULDBLOCK;
    } else {
      st = NPC_D_SYS_SOCKET_STATE_ERROR;
      SetErrno(errText, errTextLen, err);
    }
    break;
  }
  SetState(state, st);
  return off;
}

int NPC_F_SYS_SOCKET_SendUdpSpecDataBufEx(int sock, const char* addr, unsigned short port,
                                          char* buf, int* len, int waitFlag, int* state,
                                          char* errText, int errTextLen) {
  if (!len || *len < 0 || (!buf && *len > 0)) {
    SetState(state, NPC_D_SYS_SOCKET_STATE_ERROR);
    SetErrno(errText, errTextLen, EINVAL);
    return 0;
  }
  int st = 0;
  const int sent = NPC_F_SYS_SOCKET_SendUdpSpecData(sock, addr, port, buf, *len, waitFlag, &st,
                                                    errText, errTextLen);
  if (sent > 0 && sent < *len) std::memmove(buf, buf + sent, static_cast<size_t>(*len - sent));
  *len -= sent;
  SetState(state, st);
  return st == NPC_D_SYS_SOCKET_STATE_DONE ? 1 : 0;
}

int NPC_F_SYS_SOCKET_SendUdpSpecDataBuf(int sock, const char* addr, unsigned short port, char* buf,
                                        int* len, int* state, char* errText, int errTextLen) {
  return NPC_F_SYS_SOCKET_SendUdpSpecDataBufEx(sock, addr, port, buf, len, 0, state, errText,
                                               errTextLen);
}

int NPC_F_SYS_SOCKET_UdpSendData_SendSpecDataBuf(int sock, const char* addr, unsigned short port,
                                                 char* buf, int* len) {
  if (!len || *len < 0) return -1;
  const int before = *len;
  int state = 0;
  NPC_F_SYS_SOCKET_SendUdpSpecDataBufEx(sock, addr, port, buf, len, 0, &state, nullptr, 0);
  if (state == NPC_D_SYS_SOCKET_STATE_ERROR) return -1;
  return before - *len;
}

int NPC_F_SYS_SOCKET_SendTo(int sock, const char* addr, unsigned short port, const char* data,
                            int len) {
  sockaddr_storage ss;
  socklen_t sl = 0;
  if (sock < 0 || len < 0 || (!data && len > 0) || !addr || !*addr ||
      !BuildAddr(addr, port, &ss, &sl))
    return -1;
  ssize_t n = Sys().pfSendTo(sock, data, static_cast<size_t>(len), MSG_NOSIGNAL,
                             reinterpret_cast<sockaddr*>(&ss), sl);
  return n < 0 ? -1 : static_cast<int>(n);
}

int NPC_F_SYS_SOCKET_SendTo_WaitSend(int sock, const char* addr, unsigned short port,
                                     const char* data, int len, int waitMs) {
  if (sock < 0) return -1;
  if (WaitFor(sock, POLLOUT, waitMs, nullptr) != 1) return -1;
  return NPC_F_SYS_SOCKET_SendTo(sock, addr, port, data, len);
}

int NPC_F_SYS_SOCKET_RecvFrom(int sock, char* buf, int len, char* peerAddr, int peerAddrLen,
                              unsigned short* peerPort) {
  if (sock < 0 || !buf || len <= 0) return -1;
  sockaddr_storage ss;
  std::memset(&ss, 0, sizeof ss);
  socklen_t sl = sizeof ss;
  ssize_t n = Sys().pfRecvFrom(sock, buf, static_cast<size_t>(len), 0,
                               reinterpret_cast<sockaddr*>(&ss), &sl);
  if (n < 0) return -1;
  char text[NPC_D_SYS_SOCKET_ADDR_TEXT_LEN];
  AddrToText(ss, text, sizeof text, peerPort);
  if (g_family.load(std::memory_order_relaxed) == AF_INET6) {
    char v4[NPC_D_SYS_SOCKET_ADDR_TEXT_LEN];
    NPC_F_SYS_SOCKET_GetIPV4(text, v4, sizeof v4);
    CopyText(peerAddr, peerAddrLen, v4);
  } else {
    CopyText(peerAddr, peerAddrLen, text);
  }
  return static_cast<int>(n);
}

int NPC_F_SYS_SOCKET_RecvFrom_WaitRecv(int sock, char* buf, int len, char* peerAddr,
                                       int peerAddrLen, unsigned short* peerPort, int waitMs) {
  if (sock < 0) return -1;
  if (WaitFor(sock, POLLIN, waitMs, nullptr) != 1) return -1;
  return NPC_F_SYS_SOCKET_RecvFrom(sock, buf, len, peerAddr, peerAddrLen, peerPort);
}

int NPC_F_SYS_SOCKET_SendBroadcastMsg(unsigned short port, const char* data, int len) {
  if (len < 0 || (!data && len > 0)) return 0;
  // Broadcast exists only in IPv4, whatever the layer's family.
  int sock = Sys().pfSocket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (sock < 0) return 0;
  int ok = SetIntOpt(sock, SOL_SOCKET, SO_BROADCAST, 1) && SetIntOpt(sock, SOL_SOCKET, SO_REUSEADDR, 1);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  if (ok) ok = Sys().pfBind(sock, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  if (ok) {
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    ok = Sys().pfSendTo(sock, data, static_cast<size_t>(len), MSG_NOSIGNAL,
                        reinterpret_cast<sockaddr*>(&a), sizeof a) == len;
  }
  Sys().pfClose(sock);
  return ok ? 1 : 0;
}

// --- Address texts ----------------------------------------------------------------------------

int NPC_F_SYS_SOCKET_Ipv6(const char* addr) {
  if (!addr) return 0;
  int colons = 0;
  for (const char* p = addr; *p; ++p)
    if (*p == ':') ++colons;
  return colons > 1 ? 1 : 0;
}

int NPC_F_SYS_SOCKET_CheckIpaddr(const char* addr) {
  if (!addr || !*addr) return 0;
  if (NPC_F_SYS_SOCKET_Ipv6(addr)) return 1;
  // Dotted IPv4 text is valid in both families: IPv6 mode reaches it through mapped addresses.
  in_addr v4;
  return inet_pton(AF_INET, addr, &v4) == 1 ? 1 : 0;
}

int NPC_F_SYS_SOCKET_GetIPV6(const char* in, char* out, int outLen) {
  if (!in || !out || outLen <= 0) return 0;
  CopyText(out, outLen, in);
  return 1;
}

namespace {

// Reads one group of 1 to 4 hexadecimal digits [b, e); an empty group (from "::") is 0.
bool ParseHexGroup(const char* b, const char* e, unsigned* value) {
  if (e - b > 4) return false;
  unsigned v = 0;
  for (const char* p = b; p < e; ++p) {
    const char c = *p;
    unsigned d;
    if (c >= '0' && c <= '9') d = static_cast<unsigned>(c - '0');
    else if (c >= 'a' && c <= 'f') d = static_cast<unsigned>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') d = static_cast<unsigned>(c - 'A' + 10);
    else return false;
    v = v * 16 + d;
  }
  *value = v;
  return true;
}

}  // namespace

int NPC_F_SYS_SOCKET_GetIPV4(const char* in, char* out, int outLen) {
  if (!in || !out || outLen <= 0) return 0;
  out[0] = '\0';
  if (!NPC_F_SYS_SOCKET_Ipv6(in)) {
    CopyText(out, outLen, in);
    return 1;
  }
  // A zone suffix ("fe80::1%eth0") is not part of the address.
  const char* end = std::strchr(in, '%');
  if (!end) end = in + std::strlen(in);
  const char* lastColon = nullptr;
  for (const char* p = in; p < end; ++p)
    if (*p == ':') lastColon = p;
  if (!lastColon) return 0;
  // An IPv4-mapped or -compatible text ends in dotted form: that part is the address.
  if (std::memchr(lastColon + 1, '.', static_cast<size_t>(end - lastColon - 1))) {
    char dotted[NPC_D_SYS_SOCKET_IPV4_TEXT_LEN];
    const size_t n = static_cast<size_t>(end - lastColon - 1);
    if (n >= sizeof dotted) return 0;
    std::memcpy(dotted, lastColon + 1, n);
    dotted[n] = '\0';
    in_addr v4;
    if (inet_pton(AF_INET, dotted, &v4) != 1) return 0;
    CopyText(out, outLen, dotted);
    return 1;
  }
  const char* prevColon = nullptr;
  for (const char* p = in; p < lastColon; ++p)
    if (*p == ':') prevColon = p;
  if (!prevColon) return 0;
  unsigned hi = 0, lo = 0;
  if (!ParseHexGroup(prevColon + 1, lastColon, &hi) || !ParseHexGroup(lastColon + 1, end, &lo))
    return 0;
  char text[32];
  snprintf(text, sizeof text, "%u.%u.%u.%u", (hi >> 8) & 0xFFu, hi & 0xFFu, (lo >> 8) & 0xFFu,
           lo & 0xFFu);
  CopyText(out, outLen, text);
  return 1;
}

// --- Resolution and local tables ----------------------------------------------------------------

namespace {

// Resolves host into address texts (at most 15 characters each, longer ones skipped):
// 0 done, 2 resolver error, 4 no result.
int Resolve(const char* host, std::vector<std::string>* out) {
  addrinfo hints{};
  hints.ai_family = g_family.load(std::memory_order_relaxed) == AF_INET6 ? AF_UNSPEC : AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  if (Sys().pfGetAddrInfo(host, nullptr, &hints, &res) != 0) return 2;
  for (addrinfo* ai = res; ai; ai = ai->ai_next) {
    if (!ai->ai_addr || (ai->ai_family != AF_INET && ai->ai_family != AF_INET6)) continue;
    sockaddr_storage ss;
    std::memset(&ss, 0, sizeof ss);
    std::memcpy(&ss, ai->ai_addr,
                ai->ai_addrlen < sizeof ss ? ai->ai_addrlen : sizeof ss);
    char text[NPC_D_SYS_SOCKET_ADDR_TEXT_LEN];
    AddrToText(ss, text, sizeof text, nullptr);
    if (!text[0] || std::strlen(text) >= sizeof(NPC_S_SYS_IPADDR::sIpaddr)) continue;
    bool seen = false;
    for (const auto& s : *out) seen = seen || s == text;
    if (!seen) out->emplace_back(text);
  }
  if (res) Sys().pfFreeAddrInfo(res);
  return out->empty() ? 4 : 0;
}

// Reads the interface list into a 512-byte buffer: the number of entries, or -1.
int ReadInterfaceList(int sock, ifreq* reqs, int maxReqs) {
  ifconf conf{};
  conf.ifc_len = static_cast<int>(sizeof(ifreq)) * maxReqs;
  conf.ifc_req = reqs;
  if (Sys().pfIoctl(sock, SIOCGIFCONF, &conf) != 0) return -1;
  int n = conf.ifc_len / static_cast<int>(sizeof(ifreq));
  return n > maxReqs ? maxReqs : n;
}

constexpr int kIfReqMax = 512 / static_cast<int>(sizeof(ifreq));

}  // namespace

int NPC_F_SYS_SOCKET_GetNetIpAddr(const char* host, char* out, int outLen) {
  if (!host || !*host || !out || outLen <= 0) return 0;
  if (NPC_F_SYS_SOCKET_CheckIpaddr(host)) {
    CopyText(out, outLen, host);
    return 1;
  }
  std::vector<std::string> addrs;
  if (Resolve(host, &addrs) != 0) return 0;
  CopyText(out, outLen, addrs.front().c_str());
  return 1;
}

int NPC_F_SYS_SOCKET_GetRandomNetIpAddr(const char* host, char* out, int outLen) {
  if (!host || !*host || !out || outLen <= 0) return 2;
  if (NPC_F_SYS_SOCKET_CheckIpaddr(host)) {
    CopyText(out, outLen, host);
    return 0;
  }
  std::vector<std::string> addrs;
  const int r = Resolve(host, &addrs);
  if (r != 0) return r;
  const uint32_t pick = NPC_F_SYS_RANDOM_Below(static_cast<uint32_t>(addrs.size()));
  CopyText(out, outLen, addrs[pick].c_str());
  return 0;
}

int NPC_F_SYS_SOCKET_GetDomainIpAddrTable(const char* host, NPC_S_SYS_IPADDR** table, int* count) {
  if (!host || !*host || !table || !count) return 99;
  *table = nullptr;
  *count = 0;
  std::vector<std::string> addrs;
  if (NPC_F_SYS_SOCKET_CheckIpaddr(host)) {
    addrs.emplace_back(host);
  } else {
    const int r = Resolve(host, &addrs);
    if (r != 0) return r;
  }
  auto* t = static_cast<NPC_S_SYS_IPADDR*>(std::calloc(addrs.size(), sizeof(NPC_S_SYS_IPADDR)));
  if (!t) return 5;
  for (size_t i = 0; i < addrs.size(); ++i) CopyText(t[i].sIpaddr, sizeof t[i].sIpaddr, addrs[i].c_str());
  *table = t;
  *count = static_cast<int>(addrs.size());
  return 0;
}

void NPC_F_SYS_SOCKET_ReleaseIpAddrTable(NPC_S_SYS_IPADDR* table) { std::free(table); }

int NPC_F_SYS_SOCKET_QueryLocalIpaddrTable(NPC_S_SYS_IPADDR_TABLE* table) {
  if (!table) return 2;
  std::memset(table, 0, sizeof *table);
  int sock = Sys().pfSocket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (sock < 0) return 2;
  ifreq reqs[kIfReqMax];
  std::memset(reqs, 0, sizeof reqs);
  const int n = ReadInterfaceList(sock, reqs, kIfReqMax);
  Sys().pfClose(sock);
  if (n < 0) return 3;
  for (int i = 0; i < n && table->iIpaddrNum < NPC_D_SYS_SOCKET_LOCAL_IPADDR_MAX; ++i) {
    if (reqs[i].ifr_addr.sa_family != AF_INET) continue;
    const auto* a4 = reinterpret_cast<const sockaddr_in*>(&reqs[i].ifr_addr);
    char text[NPC_D_SYS_SOCKET_IPV4_TEXT_LEN];
    if (!inet_ntop(AF_INET, &a4->sin_addr, text, sizeof text)) continue;
    if (std::strcmp(text, "127.0.0.1") == 0) continue;
    CopyText(table->tIpaddr[table->iIpaddrNum].sIpaddr, sizeof table->tIpaddr[0].sIpaddr, text);
    ++table->iIpaddrNum;
  }
  return 0;
}

int NPC_F_SYS_SOCKET_QueryAdpMacByIpaddr(const char* addr, char* mac, int macLen) {
  if (!addr || !*addr || !mac || macLen < 18) return 1;
  mac[0] = '\0';
  in_addr want;
  if (inet_pton(AF_INET, addr, &want) != 1) return 1;
  int sock = Sys().pfSocket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (sock < 0) return 2;
  ifreq reqs[kIfReqMax];
  std::memset(reqs, 0, sizeof reqs);
  const int n = ReadInterfaceList(sock, reqs, kIfReqMax);
  if (n < 0) {
    Sys().pfClose(sock);
    return 3;
  }
  int result = 0;
  for (int i = 0; i < n; ++i) {
    if (reqs[i].ifr_addr.sa_family != AF_INET) continue;
    const auto* a4 = reinterpret_cast<const sockaddr_in*>(&reqs[i].ifr_addr);
    if (a4->sin_addr.s_addr != want.s_addr) continue;
    ifreq hw;
    std::memset(&hw, 0, sizeof hw);
    std::memcpy(hw.ifr_name, reqs[i].ifr_name, sizeof hw.ifr_name);
    hw.ifr_name[sizeof hw.ifr_name - 1] = '\0';
    if (Sys().pfIoctl(sock, SIOCGIFHWADDR, &hw) != 0) {
      result = 4;
      break;
    }
    const auto* b = reinterpret_cast<const unsigned char*>(hw.ifr_hwaddr.sa_data);
    snprintf(mac, static_cast<size_t>(macLen), "%2.2X-%2.2X-%2.2X-%2.2X-%2.2X-%2.2X", b[0], b[1],
             b[2], b[3], b[4], b[5]);
    break;
  }
  Sys().pfClose(sock);
  return result;
}
