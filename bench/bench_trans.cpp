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

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// The fixture as a child process; its port is read from its first line.
struct Fixture {
  pid_t pid = -1;
  int toChild = -1;
  unsigned short port = 0;

  Fixture() {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_addclose(&fa, in[1]);
    posix_spawn_file_actions_addclose(&fa, out[0]);
    const char* src = getenv("KORVEN_SOURCE_DIR");
    std::string dir = src && *src ? src : KORVEN_SOURCE_DIR;
    posix_spawn_file_actions_addchdir_np(&fa, dir.c_str());
    std::string python = access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
    std::vector<std::string> args = {python, "-u", "-m", "sim.service_server", "--port", "0", "--quiet"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    if (posix_spawnp(&pid, python.c_str(), &fa, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    close(in[0]);
    close(out[1]);
    toChild = in[1];
    FILE* f = fdopen(out[0], "r");
    char line[64];
    if (f && fgets(line, sizeof line, f) && std::string(line).rfind("PORT ", 0) == 0)
      port = static_cast<unsigned short>(atoi(line + 5));
  }
  ~Fixture() {
    if (toChild >= 0) close(toChild);
    if (pid > 0) {
      int status;
      waitpid(pid, &status, 0);
    }
  }
};

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1));
  return v[i];
}

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

  Fixture fx;
  if (!fx.port) {
    fprintf(stderr, "bench_trans: the server fixture did not start\n");
    return 1;
  }
  NPC_S_SMP_COM_TRANS_WORK_DATA* c = NPC_F_SMP_COM_TRANS_StartClient("127.0.0.1", fx.port, nullptr, nullptr, 0);
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
