// Benchmark of the socket event engine: TCP bytes from a loopback peer through the engine's
// DATA events to the callback, against a bare blocking recv() loop with the engine's 8192-byte
// read size from the same kind of peer in the same run, and the latency of the wake-up (time
// from another thread's NPC_F_NETCOM_WakeUp to the return of the engine's wait).
//
// Prints: BENCH netcom_tcp_mb_s, BENCH netcom_recv_mb_s, BENCH netcom_tcp_vs_recv (ratio),
// BENCH netcom_wakeup_latency_us (median) and its 99th percentile.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "net/netcom.h"
#include "runtime/log.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kBytes = size_t(1) << 30;  // per run
constexpr int kRuns = 3;
constexpr size_t kPeerChunk = 256 * 1024;

// Connects to 127.0.0.1:port and sends kBytes as fast as the receiver takes them.
void Peer(unsigned short port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    perror("connect");
    close(fd);
    return;
  }
  std::string chunk(kPeerChunk, 'b');
  size_t sent = 0;
  while (sent < kBytes) {
    ssize_t n = send(fd, chunk.data(), std::min(chunk.size(), kBytes - sent), MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  close(fd);
}

double MbPerSecond(size_t bytes, Clock::duration d) {
  return static_cast<double>(bytes) / (1024.0 * 1024.0) / std::chrono::duration<double>(d).count();
}

// The baseline: a blocking recv() loop with an 8192-byte buffer.
double BareRecvRun() {
  int lfd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(lfd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  listen(lfd, 5);
  socklen_t len = sizeof a;
  getsockname(lfd, reinterpret_cast<sockaddr*>(&a), &len);
  std::thread peer(Peer, ntohs(a.sin_port));
  int fd = accept(lfd, nullptr, nullptr);
  char buf[8192];
  size_t got = 0;
  const auto t0 = Clock::now();
  while (got < kBytes) {
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  const auto t1 = Clock::now();
  peer.join();
  close(fd);
  close(lfd);
  return MbPerSecond(got, t1 - t0);
}

struct EngineSink {
  std::atomic<size_t> bytes{0};
  Clock::time_point first{};
  bool started = false;
};

void CountData(void* user, const char* ev, int) {
  auto* sink = static_cast<EngineSink*>(user);
  NPC_S_NETCOM_DATA_HEAD head;
  std::memcpy(&head, ev, sizeof head);
  if (head.iEventType != NPC_D_NETCOM_EVENT_DATA) return;
  if (!sink->started) {
    sink->started = true;
    sink->first = Clock::now();
  }
  sink->bytes.fetch_add(static_cast<size_t>(head.iDataLen), std::memory_order_relaxed);
}

// The engine: thread-less, driven the way the protocol bus drives it (100 ms waits).
double EngineRun() {
  EngineSink sink;
  NPC_H_NETCOM inst = NPC_F_NETCOM_StartNetServerByNoThread(CountData, &sink, 0);
  unsigned short port = 0;
  uint32_t id = 0;
  NPC_F_NETCOM_StartTcpListen(inst, &port, &id);
  std::thread peer(Peer, port);
  while (sink.bytes.load(std::memory_order_relaxed) < kBytes) NPC_F_NETCOM_DoNetEvent(inst, 100);
  const auto t1 = Clock::now();
  peer.join();
  NPC_F_NETCOM_CloseNetServer(inst);
  return MbPerSecond(sink.bytes.load(), t1 - sink.first);
}

// Wake-up latency: the engine thread waits (1 s bound) with one listener registered; another
// thread calls the wake-up once the engine is inside its wait.
void WakeupLatency(double* p50, double* p99) {
  NPC_H_NETCOM inst = NPC_F_NETCOM_StartNetServerByNoThread(CountData, nullptr, 0);
  unsigned short port = 0;
  uint32_t id = 0;
  NPC_F_NETCOM_StartTcpListen(inst, &port, &id);
  constexpr int kRounds = 2000;
  std::vector<double> samples;
  samples.reserve(kRounds);
  std::atomic<int> waiting{0};
  std::atomic<int64_t> wokeAt{0};
  std::thread engine([&] {
    for (int i = 0; i < kRounds; ++i) {
      waiting.store(i + 1, std::memory_order_release);
      NPC_F_NETCOM_DoNetEvent(inst, 1000);
      wokeAt.store(Clock::now().time_since_epoch().count(), std::memory_order_release);
      while (waiting.load(std::memory_order_acquire) != -(i + 1)) std::this_thread::yield();
    }
  });
  for (int i = 0; i < kRounds; ++i) {
    while (waiting.load(std::memory_order_acquire) != i + 1) std::this_thread::yield();
    // Give the engine time to enter poll().
    std::this_thread::sleep_for(std::chrono::microseconds(300));
    wokeAt.store(0, std::memory_order_relaxed);
    const int64_t t0 = Clock::now().time_since_epoch().count();
    NPC_F_NETCOM_WakeUp(inst);
    int64_t t1;
    while ((t1 = wokeAt.load(std::memory_order_acquire)) == 0) std::this_thread::yield();
    samples.push_back(static_cast<double>(t1 - t0) *
                      static_cast<double>(Clock::period::num) / Clock::period::den * 1e6);
    waiting.store(-(i + 1), std::memory_order_release);
  }
  engine.join();
  NPC_F_NETCOM_CloseNetServer(inst);
  std::sort(samples.begin(), samples.end());
  *p50 = samples[samples.size() / 2];
  *p99 = samples[samples.size() * 99 / 100];
}

}  // namespace

int main() {
  NPC_F_LOG_SR_SetIfShowLog(0);
  NPC_F_LOG_SR_SetIfWriteLogToFile(0);
  std::vector<double> engine, bare;
  for (int r = 0; r < kRuns; ++r) {
    bare.push_back(BareRecvRun());
    engine.push_back(EngineRun());
  }
  std::sort(engine.begin(), engine.end());
  std::sort(bare.begin(), bare.end());
  const double e = engine[kRuns / 2], b = bare[kRuns / 2];
  double p50 = 0, p99 = 0;
  WakeupLatency(&p50, &p99);
  std::printf("BENCH netcom_tcp_mb_s %.0f MB/s\n", e);
  std::printf("BENCH netcom_recv_mb_s %.0f MB/s\n", b);
  std::printf("BENCH netcom_tcp_vs_recv %.2f ratio\n", e / b);
  std::printf("BENCH netcom_wakeup_latency_us %.1f us\n", p50);
  std::printf("BENCH netcom_wakeup_latency_p99_us %.1f us\n", p99);
  return 0;
}
