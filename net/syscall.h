// The system-call seam of the network layer: every socket, poll, descriptor-control and
// resolver call that net/ makes goes through one table of function pointers. The default
// table calls the C library; tests install a table of their own to inject EAGAIN,
// ECONNRESET, short writes, refused connects or resolver failures without touching the
// kernel. The table in use is read atomically on every call, so it may be swapped while
// other threads run; a table handed to NPC_F_NET_SYSCALL_Install must outlive its use.
#ifndef KORVEN_NET_SYSCALL_H
#define KORVEN_NET_SYSCALL_H

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>

struct NPC_S_NET_SYSCALL_TABLE {
  int (*pfSocket)(int domain, int type, int protocol);
  int (*pfClose)(int fd);
  int (*pfBind)(int fd, const struct sockaddr* addr, socklen_t len);
  int (*pfListen)(int fd, int backlog);
  int (*pfAccept)(int fd, struct sockaddr* addr, socklen_t* len);
  int (*pfConnect)(int fd, const struct sockaddr* addr, socklen_t len);
  ssize_t (*pfSend)(int fd, const void* buf, size_t len, int flags);
  ssize_t (*pfRecv)(int fd, void* buf, size_t len, int flags);
  ssize_t (*pfSendTo)(int fd, const void* buf, size_t len, int flags, const struct sockaddr* to,
                      socklen_t toLen);
  ssize_t (*pfRecvFrom)(int fd, void* buf, size_t len, int flags, struct sockaddr* from,
                        socklen_t* fromLen);
  int (*pfPoll)(struct pollfd* fds, nfds_t count, int timeoutMs);
  int (*pfGetSockOpt)(int fd, int level, int name, void* value, socklen_t* len);
  int (*pfSetSockOpt)(int fd, int level, int name, const void* value, socklen_t len);
  int (*pfGetSockName)(int fd, struct sockaddr* addr, socklen_t* len);
  int (*pfGetPeerName)(int fd, struct sockaddr* addr, socklen_t* len);
  // fcntl with one integer argument (F_GETFL, F_SETFL).
  int (*pfFcntl)(int fd, int cmd, int arg);
  // ioctl with one pointer argument (SIOCGIFCONF, SIOCGIFHWADDR).
  int (*pfIoctl)(int fd, unsigned long request, void* arg);
  int (*pfGetAddrInfo)(const char* node, const char* service, const struct addrinfo* hints,
                       struct addrinfo** result);
  void (*pfFreeAddrInfo)(struct addrinfo* result);
};

// The table that calls the C library.
const NPC_S_NET_SYSCALL_TABLE* NPC_F_NET_SYSCALL_Default();
// The table in use.
const NPC_S_NET_SYSCALL_TABLE* NPC_F_NET_SYSCALL_Get();
// Installs a table (null restores the default). Every entry must be set.
void NPC_F_NET_SYSCALL_Install(const NPC_S_NET_SYSCALL_TABLE* table);

#endif
