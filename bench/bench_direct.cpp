// Benchmarks of the direct transport:
//   engine_idle_rss_mib   resident memory of this process with an idle engine (no connections)
//   direct_tcp_mb_s       bytes a module receives over a direct connection to the TCP device
//                         fixture streaming at full speed
//   direct_tcp_vs_recv    that rate against a bare recv loop (8192-byte buffer) reading the same
//                         fixture in the same run
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bus/nxtp_mc.h"
#include "bus/pvm_msg.h"
#include "runtime/log.h"
#include "bench_support.h"

namespace {

constexpr uint32_t kVendor = 1009;
constexpr long long kBytesPerRun = 256LL * 1024 * 1024;

// --- The bare recv loop --------------------------------------------------------------------------

double bareRecvMbps(unsigned short port) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(s);
    return 0;
  }
  char buf[8192];
  long long got = 0;
  const auto t0 = std::chrono::steady_clock::now();
  while (got < kBytesPerRun) {
    const ssize_t n = recv(s, buf, sizeof buf, 0);
    if (n <= 0) break;
    got += n;
  }
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  close(s);
  return static_cast<double>(got) / (1024.0 * 1024.0) / secs;
}

// --- The module ----------------------------------------------------------------------------------

std::atomic<long long> g_bytes{0};
std::atomic<uint32_t> g_logicId{0};
std::atomic<int> g_final{-1};

class StreamModule final : public NPC_I_PVM_DevProtocol {
 public:
  static StreamModule*& instance() {
    static StreamModule* m = nullptr;
    return m;
  }
  int NPC_F_PVM_InitDevProtocolModule(int vendorId, NPC_F_PVM_EVENT_CALLBACK cb, void* user) override {
    vendor_ = static_cast<unsigned>(vendorId);
    cb_ = cb;
    user_ = user;
    instance() = this;
    return 1;
  }
  void NPC_F_PVM_UninitDevProtocolModule() override { instance() = nullptr; }
  int NPC_F_PVM_InputNetData(unsigned char* msg, int len) override {
    NPC_S_PVM_NET_MSG_VIEW v;
    if (!NPC_F_PVM_MSG_ReadNetMsg(msg, len, &v)) return 0;
    if (v.tHead.iMsgId == NET_SEND_DATA) {
      g_bytes.fetch_add(len - static_cast<int>(sizeof(NPC_S_PVM_NET_MSG_SEND_DATA)), std::memory_order_relaxed);
    } else if (v.tHead.iMsgId == NET_TCP_CONNECT) {
      NPC_S_PVM_NET_MSG_TCP_CONNECT c;
      if (NPC_F_PVM_MSG_ReadNetFixed(v, &c) && c.iAnswerStage == NPC_D_PVM_NET_CONN_STAGE_FINAL) {
        g_logicId = c.dwLogicTcpConnId;
        g_final = v.tHead.iResult;
      }
    }
    return 1;
  }
  int NPC_F_PVM_InputUpOrderData(unsigned char*, int) override { return 1; }
  int NPC_F_PVM_Timer() override { return 1; }
  void send(void* msg, int len) { cb_(user_, NPC_D_PVM_EVENT_TYPE_NET_DATA, vendor_, static_cast<unsigned char*>(msg), len); }

 private:
  unsigned vendor_ = 0;
  NPC_F_PVM_EVENT_CALLBACK cb_ = nullptr;
  void* user_ = nullptr;
};

NPC_I_PVM_DevProtocol* make() { return new StreamModule(); }
void unmake(NPC_I_PVM_DevProtocol* m) { delete static_cast<StreamModule*>(m); }

NPC_H_NXTP_MC makeEngine(const NPC_S_NXTP_MODULE_TABLE* table) {
  NPC_S_NXTP_CREATE_PARAM p{};
  p.sServerIpaddr = "";
  p.sP2pSrvIpaddr = NPC_D_NXTP_NO_SERVER_IPADDR;
  p.sClientIdent = "bench";
  p.sUserId = "";
  p.sUserText = "";
  p.pModuleTable = table;
  return NPC_F_NXTP_CreateProtocolBusServerEx(&p);
}

double rssMib() {
  FILE* f = fopen("/proc/self/status", "r");
  if (!f) return 0;
  char line[256];
  double kb = 0;
  while (fgets(line, sizeof line, f))
    if (strncmp(line, "VmRSS:", 6) == 0) kb = atof(line + 6);
  fclose(f);
  return kb / 1024.0;
}

// One streaming run through the engine: connect, count kBytesPerRun bytes, disconnect.
double engineMbps(unsigned short port, uint32_t protId) {
  StreamModule* m = StreamModule::instance();
  g_final = -1;
  g_bytes = 0;
  NPC_S_PVM_NET_MSG_TCP_CONNECT req;
  NPC_F_PVM_MSG_InitNetTcpConnect(&req);
  memcpy(req.sDevIpaddr, "127.0.0.1", 10);
  req.usDevPort = port;
  req.dwProtConnId = protId;
  m->send(&req, sizeof req);
  while (g_final.load() < 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  if (g_final.load() != 0) return 0;
  const auto t0 = std::chrono::steady_clock::now();
  while (g_bytes.load(std::memory_order_relaxed) < kBytesPerRun)
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const long long got = g_bytes.load();
  NPC_S_PVM_NET_MSG_CONN_IDS dis;
  NPC_F_PVM_MSG_InitNetConnIds(&dis, NET_TCP_DISCONNECT, protId, g_logicId.load());
  m->send(&dis, sizeof dis);
  return static_cast<double>(got) / (1024.0 * 1024.0) / secs;
}

}  // namespace

int main() {
  NPC_F_LOG_SR_SetIfShowLog(0);
  NPC_F_LOG_SR_SetIfWriteLogToFile(0);

  // An idle engine first, before anything else grows the process.
  {
    const NPC_S_NXTP_MODULE_TABLE none = {nullptr, 0};
    NPC_H_NXTP_MC idle = makeEngine(&none);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::printf("BENCH engine_idle_rss_mib %.2f MiB\n", rssMib());
    NPC_F_NXTP_DestroyProtocolBusServer(idle);
  }

  korven_bench::Simulator fx;
  if (!fx.start("sim.tcp_device", {"--mode", "flood", "--quiet"})) {
    std::fprintf(stderr, "fixture did not start\n");
    return 1;
  }
  const NPC_S_NXTP_MODULE_ENTRY entries[] = {{kVendor, "QXSP", &make, &unmake, nullptr}};
  const NPC_S_NXTP_MODULE_TABLE table = {entries, 1};
  NPC_H_NXTP_MC bus = makeEngine(&table);
  if (!bus || !StreamModule::instance()) return 1;

  // Rounds alternate the two readers of the same fixture, so a change in the machine's load
  // touches both; the figures are the medians of the rounds.
  std::vector<double> bare, engine, ratio;
  for (int round = 0; round < 5; ++round) {
    bare.push_back(bareRecvMbps(fx.port()));
    engine.push_back(engineMbps(fx.port(), 100 + static_cast<uint32_t>(round)));
    ratio.push_back(bare.back() > 0 ? engine.back() / bare.back() : 0.0);
  }
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  std::printf("BENCH direct_tcp_mb_s %.0f MB/s\n", median(engine));
  std::printf("BENCH direct_tcp_vs_recv %.2f ratio\n", median(ratio));
  std::fprintf(stderr, "bare recv loop: %.0f MB/s (median)\n", median(bare));
  NPC_F_NXTP_DestroyProtocolBusServer(bus);
  return 0;
}
