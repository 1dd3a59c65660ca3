// Helpers for the engine and call layer tests: creation parameters around a table of fake
// modules, and a recorder for the messages that reach an upper callback.
#ifndef KORVEN_TESTS_BUS_HARNESS_H
#define KORVEN_TESTS_BUS_HARNESS_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "bus/nxtp_mc.h"

namespace harness {

// Records every message handed to it as an upper callback.
struct Upper {
  std::mutex mu;
  std::condition_variable cv;
  std::vector<std::vector<uint8_t>> msgs;

  static void callback(void* user, unsigned char* msg, int len) {
    auto* self = static_cast<Upper*>(user);
    std::lock_guard<std::mutex> lk(self->mu);
    self->msgs.emplace_back(msg, msg + len);
    self->cv.notify_all();
  }
  bool waitCount(size_t n, int ms = 5000) {
    std::unique_lock<std::mutex> lk(mu);
    return cv.wait_for(lk, std::chrono::milliseconds(ms), [&] { return msgs.size() >= n; });
  }
  std::vector<std::vector<uint8_t>> list() {
    std::lock_guard<std::mutex> lk(mu);
    return msgs;
  }
};

// Parameters of an engine on a random local port, with the given module table.
inline NPC_S_NXTP_CREATE_PARAM params(const NPC_S_NXTP_MODULE_TABLE* table, Upper* upper = nullptr,
                                      const char* p2pAddr = "") {
  NPC_S_NXTP_CREATE_PARAM p{};
  p.usLocalUdpPort = 0;
  p.sServerIpaddr = "";
  p.sP2pSrvIpaddr = p2pAddr;
  p.sClientIdent = "client-ident-1";
  p.sUserId = "";
  p.sUserText = "";
  p.fnUpperCallback = upper ? &Upper::callback : nullptr;
  p.pUpperUser = upper;
  p.iTransVersion = 1;
  p.iEncryptType = 2;
  p.pModuleTable = table;
  return p;
}

}  // namespace harness

#endif
