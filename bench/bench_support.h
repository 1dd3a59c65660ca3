// What the benchmarks share: a simulator of sim/ as a child process, the clocks and the memory
// figure they read, percentiles, and the module table of a bus that speaks only QXSP.
#ifndef KORVEN_BENCH_BENCH_SUPPORT_H
#define KORVEN_BENCH_BENCH_SUPPORT_H

#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bus/nxtp_mc.h"
#include "protocols/qxsp/qxsp_protocol.h"

extern char** environ;

namespace korven_bench {

// A simulator run as "python3 -u -m <module> --port 0 <args...>" in the source tree. Its first
// line gives the port; what it prints afterwards is read and dropped on a thread of its own, so
// that the pipe never fills. Closing its standard input ends it; stop() kills it if it has not
// gone within 2 s.
class Simulator {
 public:
  Simulator() = default;
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;
  ~Simulator() { stop(); }

  bool start(const char* module, const std::vector<std::string>& extraArgs) {
    int in[2], out[2];
    if (pipe(in) != 0) return false;
    if (pipe(out) != 0) {
      close(in[0]);
      close(in[1]);
      return false;
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_addclose(&fa, in[1]);
    posix_spawn_file_actions_addclose(&fa, out[0]);
    const char* src = getenv("KORVEN_SOURCE_DIR");
    posix_spawn_file_actions_addchdir_np(&fa, src && *src ? src : KORVEN_SOURCE_DIR);
    std::vector<std::string> args = {"python3", "-u", "-m", module, "--port", "0"};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    const int rc = posix_spawnp(&pid_, "python3", &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(in[0]);
    close(out[1]);
    toChild_ = in[1];
    if (rc != 0) {
      pid_ = -1;
      close(out[0]);
      return false;
    }
    fromChild_ = fdopen(out[0], "r");
    if (!fromChild_) {
      close(out[0]);
      return false;
    }
    char line[128];
    unsigned p = 0;
    if (!fgets(line, sizeof line, fromChild_) || sscanf(line, "PORT %u", &p) != 1 || p == 0 || p > 65535)
      return false;
    port_ = static_cast<unsigned short>(p);
    drain_ = std::thread([f = fromChild_] {
      char buf[256];
      while (fgets(buf, sizeof buf, f)) {
      }
    });
    return true;
  }

  unsigned short port() const { return port_; }

  // User and system CPU seconds of the simulator so far (/proc/<pid>/stat fields 14 and 15).
  double cpuSeconds() const {
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid_));
    FILE* f = fopen(path, "r");
    if (!f) return 0;
    char buf[1024];
    const size_t n = fread(buf, 1, sizeof buf - 1, f);
    fclose(f);
    buf[n] = 0;
    const char* p = strrchr(buf, ')');  // the command name may hold spaces
    if (!p) return 0;
    unsigned long long ut = 0, st = 0;
    if (sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &ut, &st) != 2) return 0;
    return static_cast<double>(ut + st) / static_cast<double>(sysconf(_SC_CLK_TCK));
  }

  void stop() {
    if (toChild_ >= 0) close(toChild_);
    toChild_ = -1;
    if (pid_ > 0) {
      for (int i = 0; i < 200 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i) usleep(10000);
      if (kill(pid_, 0) == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
      }
      pid_ = -1;
    }
    // The simulator is gone, so its output ends and the drain thread with it.
    if (drain_.joinable()) drain_.join();
    if (fromChild_) fclose(fromChild_);
    fromChild_ = nullptr;
  }

 private:
  pid_t pid_ = -1;
  int toChild_ = -1;
  FILE* fromChild_ = nullptr;
  unsigned short port_ = 0;
  std::thread drain_;
};

inline int64_t monoNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// CPU seconds (user and system) of every thread of this process so far.
inline double cpuSeconds() {
  rusage ru;
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// Resident memory of this process, MiB.
inline double rssMiB() {
  long pages = 0, resident = 0;
  FILE* f = fopen("/proc/self/statm", "r");
  if (!f) return 0;
  if (fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
  fclose(f);
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// The sample at fraction p (0..1) of the sorted samples; 0 without samples.
template <typename T>
double percentile(std::vector<T> v, double p) {
  if (v.empty()) return 0;
  const size_t k = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size() - 1)));
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
  return static_cast<double>(v[k]);
}

// The module table of a bus that registers only the QXSP module.
inline const NPC_S_NXTP_MODULE_TABLE* qxspOnlyModules() {
  static const NPC_S_NXTP_MODULE_ENTRY entries[] = {
      {1009, "QXSP", &NPC_F_PVM_DP_QXSP_Create, &NPC_F_PVM_DP_QXSP_Destroy, &NPC_F_PVM_DP_QXSP_SetEncryptType},
  };
  static const NPC_S_NXTP_MODULE_TABLE table = {entries, 1};
  return &table;
}

}  // namespace korven_bench

#endif
