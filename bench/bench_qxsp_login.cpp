// Benchmark of a QXSP login round trip through the real protocol bus engine over loopback: the
// time from posting a camera-connect order until its answer comes up, against the QXSP device
// simulator (a separate Python process). Each round trip is a whole login: the engine's TCP
// connect, the version consult and the login exchange; the camera is disconnected after each,
// which ends the device record and its connection.
//
// Prints BENCH qxsp_login_ms_p50, _p90 and _max (milliseconds) over the measured rounds.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "bus/nxtp_mc.h"
#include "bus/pvm_msg.h"
#include "protocols/qxsp/qxsp_protocol.h"
#include "runtime/log.h"
#include "bench_support.h"

namespace {

// Answers coming up, matched by transaction id.
struct Answers {
  std::mutex mu;
  std::condition_variable cv;
  std::vector<std::pair<uint32_t, int32_t>> got;

  static void Callback(void* user, unsigned char* msg, int len) {
    auto* a = static_cast<Answers*>(user);
    NPC_S_PVM_ORDER_MSG_VIEW v;
    if (!NPC_F_PVM_MSG_ReadOrderMsg(msg, len, &v) || v.tHead.iMsgType != NPC_D_PVM_ORDER_MSG_TYPE_RESPONSE) return;
    std::lock_guard<std::mutex> lk(a->mu);
    a->got.emplace_back(v.tHead.dwTransId, v.tHead.iResult);
    a->cv.notify_all();
  }
  // The result of a transaction, or INT32_MIN after 10 s.
  int32_t wait(uint32_t trans) {
    std::unique_lock<std::mutex> lk(mu);
    int32_t result = INT32_MIN;
    cv.wait_for(lk, std::chrono::seconds(10), [&] {
      for (auto& g : got) {
        if (g.first == trans) {
          result = g.second;
          return true;
        }
      }
      return false;
    });
    return result;
  }
};

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? atoi(argv[1]) : 300;
  if (rounds < 10) rounds = 10;
  NPC_F_LOG_SR_SetIfShowLog(0);
  NPC_F_LOG_SR_SetIfWriteLogToFile(0);
  korven_bench::Simulator sim;
  if (!sim.start("sim.qxsp_device", {"--quiet"})) {
    fprintf(stderr, "bench_qxsp_login: simulator did not start\n");
    sim.stop();
    return 1;
  }
  Answers answers;
  NPC_S_NXTP_CREATE_PARAM p = NPC_F_NXTP_MakeLocalCreateParam(korven_bench::qxspOnlyModules());
  p.fnUpperCallback = &Answers::Callback;
  p.pUpperUser = &answers;
  NPC_H_NXTP_MC bus = NPC_F_NXTP_CreateProtocolBusServerEx(&p);
  if (!bus) {
    fprintf(stderr, "bench_qxsp_login: engine did not start\n");
    sim.stop();
    return 1;
  }

  NPC_S_PVM_ORDER_BODY_CAMERA_CONNECT body;
  memset(&body, 0, sizeof body);
  snprintf(body.sConnParam, sizeof body.sConnParam,
           "VendorId=1009,DevIp=127.0.0.1,DevPort=%u,DevUserName=admin,DevUserPwd=admin123,DevChNo=0", sim.port());
  std::vector<double> ms;
  uint32_t trans = 0x100;
  std::vector<uint8_t> msg;
  int failures = 0;
  const int warmup = 5;
  for (int i = 0; i < rounds + warmup; ++i) {
    body.dwCameraConnId = 0x10000u + static_cast<uint32_t>(i);
    NPC_F_PVM_MSG_BuildRequest(&msg, ORDER_CAMERA_CONNECT, ++trans, 1009, &body, sizeof body);
    auto t0 = std::chrono::steady_clock::now();
    NPC_F_NXTP_SendMsgData(bus, msg.data(), static_cast<int>(msg.size()), 1000);
    int32_t result = answers.wait(trans);
    auto t1 = std::chrono::steady_clock::now();
    if (result != 0) ++failures;
    if (i >= warmup) ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    uint32_t camId = body.dwCameraConnId;
    NPC_F_PVM_MSG_BuildRequest(&msg, ORDER_CAMERA_DISCONNECT, ++trans, 1009, &camId, sizeof camId);
    NPC_F_NXTP_SendMsgData(bus, msg.data(), static_cast<int>(msg.size()), 1000);
    answers.wait(trans);
  }
  NPC_F_NXTP_DestroyProtocolBusServer(bus);
  sim.stop();
  if (failures) fprintf(stderr, "bench_qxsp_login: %d logins failed\n", failures);
  std::sort(ms.begin(), ms.end());
  auto pct = [&](double q) { return ms[static_cast<size_t>(q * (ms.size() - 1))]; };
  printf("BENCH qxsp_login_ms_p50 %.3f ms\n", pct(0.5));
  printf("BENCH qxsp_login_ms_p90 %.3f ms\n", pct(0.9));
  printf("BENCH qxsp_login_ms_max %.3f ms\n", ms.back());
  return failures ? 1 : 0;
}
