// Fuzz target for the engine's handling of the modules' network messages: the input is a run of
// records, each a network message from a module, a socket event, or a step of the clock, fed to
// the connection tables with a context whose socket engine reaches no network (the system-call
// seam leaves connects pending and fails every name lookup). Every message the tables hand to
// the module must itself be a well-formed network message.
//
// Record: one kind byte, a 16-bit little-endian length, that many bytes. Kind bit 0 set: a
// module message (with bit 2 also set, the engine's id of the last connection it answered is
// written at the message's offset 24, so the fuzzer reaches live connections); else bit 1 set:
// a socket event; else a clock step of (kind >> 2) seconds followed by the timer steps.
#include <errno.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bus/pvm_msg.h"
#include "conn/nxtp_conn.h"
#include "net/netcom.h"
#include "net/syscall.h"
#include "runtime/log.h"
#include "runtime/random.h"

namespace {

int pendingConnect(int, const struct sockaddr*, socklen_t) {
  errno = EINPROGRESS;
  return -1;
}
int noLookup(const char*, const char*, const struct addrinfo*, struct addrinfo** res) {
  if (res) *res = nullptr;
  return EAI_FAIL;
}

void setUp() {
  static bool done = false;
  if (done) return;
  done = true;
  NPC_F_LOG_SR_SetIfShowLog(0);
  NPC_F_LOG_SR_SetIfWriteLogToFile(0);
  static NPC_S_NET_SYSCALL_TABLE table = *NPC_F_NET_SYSCALL_Default();
  table.pfConnect = &pendingConnect;
  table.pfGetAddrInfo = &noLookup;
  NPC_F_NET_SYSCALL_Install(&table);
}

uint32_t g_lastLogicId = 0;

// The module: whatever it receives must read as a network message of the right shape.
int deliver(void*, uint32_t, unsigned char* msg, int len) {
  NPC_S_PVM_NET_MSG_VIEW v;
  if (!NPC_F_PVM_MSG_ReadNetMsg(msg, len, &v)) abort();
  if (len >= 332 && v.tHead.iMsgId == NET_TCP_CONNECT)
    memcpy(&g_lastLogicId, msg + offsetof(NPC_S_PVM_NET_MSG_TCP_CONNECT, dwLogicTcpConnId), 4);
  if (v.tHead.iMsgId == NET_TCP_CONNECT && len != static_cast<int>(sizeof(NPC_S_PVM_NET_MSG_TCP_CONNECT))) {
    NPC_S_PVM_NET_MSG_TCP_CONNECT c;
    if (!NPC_F_PVM_MSG_ReadNetFixed(v, &c)) abort();
  }
  if (v.tHead.iMsgId == NET_SEND_DATA) {
    NPC_S_PVM_NET_DATA_VIEW d;
    if (!NPC_F_PVM_MSG_ReadNetSendData(v, &d) || d.iDataLenField != d.iDataLen) abort();
  }
  return 1;
}

void noEvents(void*, const char*, int) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  setUp();
  NPC_F_SYS_RANDOM_Seed(1);
  g_lastLogicId = 0;
  NPC_H_NETCOM net = NPC_F_NETCOM_StartNetServerByNoThread(&noEvents, nullptr, 0);
  NPC_S_NXTP_CONN_TABLES* tables = NPC_F_NXTP_CONN_CreateTables();
  if (!net || !tables) abort();
  NPC_S_NXTP_CONN_CONTEXT ctx{net, &deliver, nullptr, 1000000};
  size_t pos = 0;
  while (pos + 3 <= size) {
    const uint8_t kind = data[pos];
    const size_t len = static_cast<size_t>(data[pos + 1]) | static_cast<size_t>(data[pos + 2]) << 8;
    pos += 3;
    const size_t n = len < size - pos ? len : size - pos;
    // Each record in a block of exactly its size, so a read past its end is caught.
    std::vector<uint8_t> rec(data + pos, data + pos + n);
    pos += n;
    if (kind & 1) {
      if ((kind & 4) && rec.size() >= 28) memcpy(rec.data() + 24, &g_lastLogicId, 4);
      NPC_F_NXTP_CONN_DoProtNetMsg(tables, &ctx, 1009, rec.data(), static_cast<int>(rec.size()));
    } else if (kind & 2) {
      NPC_F_NXTP_CONN_DoNetEvent(tables, &ctx, reinterpret_cast<const char*>(rec.data()), static_cast<int>(rec.size()));
    } else {
      ctx.qwNowTick += static_cast<int64_t>(kind >> 2) * 1000;
      NPC_F_NXTP_CONN_DoTimer(tables, &ctx);
      NPC_F_NXTP_CONN_DoSecondTimer(tables, &ctx);
    }
  }
  NPC_F_NETCOM_CloseNetServer(net);
  NPC_F_NXTP_CONN_DestroyTables(tables);
  return 0;
}
