// Benchmark of the service-packet path: transaction round trips of the transaction client
// against the server fixture (sim/service_server.py) over loopback, with one caller and with 16
// concurrent callers, and the packet cipher's throughput at 1 KiB and 7677-byte bodies.
//
// Prints:
//   BENCH trans_rtt_p50_us <v> us       one caller, median round trip
//   BENCH trans_rtt_p99_us <v> us       one caller, 99th percentile
//   BENCH trans_rtt_p99_us_16 <v> us    16 concurrent callers, 99th percentile
//   BENCH enc_mb_s_1k <v> MB/s          NPC_F_ENC_EncryptEx, 1024-byte bodies (plain bytes/s)
//   BENCH enc_mb_s_7677 <v> MB/s        the same at 7677 bytes
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "net/enc.h"
#include "net/packet_ed.h"
#include "net/trans_client.h"
#include "runtime/log.h"
#include "bench_support.h"

namespace {

using korven_bench::percentile;

using Clock = std::chrono::steady_clock;

void runCalls(NPC_S_SMP_COM_TRANS_WORK_DATA* c, int n, std::vector<double>* out) {
  std::string body(64, 'b');
  for (int i = 0; i < n; ++i) {
    int result = 0;
    auto t0 = Clock::now();
    int rc = NPC_F_SMP_COM_TRANS_CallRemoteProcess(c, 0x30160, body.data(), static_cast<int>(body.size()), &result,
                                                   nullptr, nullptr, nullptr, 5000);
    auto t1 = Clock::now();
    if (rc == 0) out->push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
  }
}

double cipherMbPerSec(int bodyLen) {
  int keyLen = 0;
  const char* key = NPC_F_ED_GetPacketKey(&keyLen);
  std::vector<unsigned char> body(static_cast<size_t>(bodyLen));
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<unsigned char>(i * 131 + 7);
  std::vector<char> out(static_cast<size_t>(Base64encode_len(bodyLen)));
  int outLen = 0;
  long iterations = 0;
  auto t0 = Clock::now();
  double seconds = 0;
  do {
    for (int k = 0; k < 200; ++k)
      NPC_F_ENC_EncryptEx(key, keyLen, body.data(), bodyLen, out.data(), static_cast<int>(out.size()), &outLen);
    iterations += 200;
    seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  } while (seconds < 1.0);
  return static_cast<double>(iterations) * bodyLen / seconds / 1e6;
}

}  // namespace

int main() {
  NPC_F_LOG_SR_SetIfShowLog(0);
  NPC_F_LOG_SR_SetIfWriteLogToFile(0);

  printf("BENCH enc_mb_s_1k %.1f MB/s\n", cipherMbPerSec(1024));
  printf("BENCH enc_mb_s_7677 %.1f MB/s\n", cipherMbPerSec(7677));
  fflush(stdout);

  korven_bench::Simulator fx;
  if (!fx.start("sim.service_server", {"--quiet"})) {
    fprintf(stderr, "bench_trans: the server fixture did not start\n");
    return 1;
  }
  NPC_S_SMP_COM_TRANS_WORK_DATA* c = NPC_F_SMP_COM_TRANS_StartClient("127.0.0.1", fx.port(), nullptr, nullptr, 0);
  if (!c) {
    fprintf(stderr, "bench_trans: no connection to the fixture\n");
    return 1;
  }
  std::vector<double> warm, one;
  runCalls(c, 500, &warm);
  runCalls(c, 5000, &one);
  printf("BENCH trans_rtt_p50_us %.1f us\n", percentile(one, 0.50));
  printf("BENCH trans_rtt_p99_us %.1f us\n", percentile(one, 0.99));
  fflush(stdout);

  std::vector<std::vector<double>> per(16);
  std::vector<std::thread> threads;
  for (int i = 0; i < 16; ++i) threads.emplace_back([&, i] { runCalls(c, 1000, &per[i]); });
  for (auto& t : threads) t.join();
  std::vector<double> all;
  for (auto& v : per) all.insert(all.end(), v.begin(), v.end());
  printf("BENCH trans_rtt_p99_us_16 %.1f us\n", percentile(all, 0.99));
  NPC_F_SMP_COM_TRANS_StopClient(c);
  return 0;
}
