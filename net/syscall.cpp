// The default system-call table of the network layer and the atomic pointer to the table in
// use (see syscall.h).
#include "net/syscall.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>

namespace {

int SysFcntl(int fd, int cmd, int arg) { return ::fcntl(fd, cmd, arg); }
int SysIoctl(int fd, unsigned long request, void* arg) { return ::ioctl(fd, request, arg); }

const NPC_S_NET_SYSCALL_TABLE kDefaultTable = {
    ::socket,     ::close,       ::bind,        ::listen,      ::accept,      ::connect,
    ::send,       ::recv,        ::sendto,      ::recvfrom,    ::poll,        ::getsockopt,
    ::setsockopt, ::getsockname, ::getpeername, SysFcntl,      SysIoctl,      ::getaddrinfo,
    ::freeaddrinfo,
};

std::atomic<const NPC_S_NET_SYSCALL_TABLE*> g_table{&kDefaultTable};

}  // namespace

const NPC_S_NET_SYSCALL_TABLE* NPC_F_NET_SYSCALL_Default() { return &kDefaultTable; }

const NPC_S_NET_SYSCALL_TABLE* NPC_F_NET_SYSCALL_Get() {
  return g_table.load(std::memory_order_acquire);
}

void NPC_F_NET_SYSCALL_Install(const NPC_S_NET_SYSCALL_TABLE* table) {
  g_table.store(table ? table : &kDefaultTable, std::memory_order_release);
}
