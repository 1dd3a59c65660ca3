// A scripted device protocol module for the camera tests. Registered in a test module table, it
// answers every order in place with the result the script gives its code (0 by default), never
// answers the codes the script drops, writes the script's connection mode into the answer of
// order 516 (or answers it with a body too short to hold it), and records every order it saw. The
// test thread sends notices up through it (media frames, disconnect notices, alarms,
// pass-through data, download data and states) as a module's own thread would.
//
// One script per process (the engine constructs the module itself); each fixture resets it.
#ifndef KORVEN_TESTS_CAMERA_FAKE_DEVICE_H
#define KORVEN_TESTS_CAMERA_FAKE_DEVICE_H

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "bus/nxtp_modules.h"
#include "bus/pvm_msg.h"

namespace fakedev {

struct Script {
  std::mutex mu;
  std::condition_variable cv;
  std::map<int, int> results;                 // order code -> iResult of its answer
  std::set<int> dropped;                      // order codes never answered
  int connMode = NPC_D_PVM_NET_CONN_MODE_DIRECT_TCP;
  bool shortConnModeAnswer = false;           // answer 516 with the camera id alone
  std::vector<std::vector<uint8_t>> orders;   // every order received, whole
  // The module's callback, once initialised.
  NPC_F_PVM_EVENT_CALLBACK cb = nullptr;
  void* user = nullptr;
  uint32_t vendor = 0;
  std::atomic<int> timerCalls{0};

  static Script& get() {
    static Script* s = new Script();
    return *s;
  }
  void reset() {
    std::lock_guard<std::mutex> lk(mu);
    results.clear();
    dropped.clear();
    connMode = NPC_D_PVM_NET_CONN_MODE_DIRECT_TCP;
    shortConnModeAnswer = false;
    orders.clear();
  }
  void setResult(int code, int result) {
    std::lock_guard<std::mutex> lk(mu);
    results[code] = result;
  }
  void drop(int code, bool on = true) {
    std::lock_guard<std::mutex> lk(mu);
    if (on)
      dropped.insert(code);
    else
      dropped.erase(code);
  }
  void setConnMode(int mode, bool shortAnswer = false) {
    std::lock_guard<std::mutex> lk(mu);
    connMode = mode;
    shortConnModeAnswer = shortAnswer;
  }
  // The codes of the orders received so far, in order.
  std::vector<int> orderCodes() {
    std::lock_guard<std::mutex> lk(mu);
    std::vector<int> out;
    for (const auto& o : orders) {
      int32_t code;
      memcpy(&code, o.data(), 4);
      out.push_back(code);
    }
    return out;
  }
  // The body of the last order with this code (empty when none came).
  std::vector<uint8_t> lastBody(int code) {
    std::lock_guard<std::mutex> lk(mu);
    for (auto it = orders.rbegin(); it != orders.rend(); ++it) {
      int32_t c;
      memcpy(&c, it->data(), 4);
      if (c == code) return std::vector<uint8_t>(it->begin() + NPC_D_PVM_ORDER_MSG_HEAD_LEN, it->end());
    }
    return {};
  }
  // Answers the last order with this code in place (for an order the script dropped).
  bool answerLast(int code, int result) {
    std::vector<uint8_t> m;
    {
      std::lock_guard<std::mutex> lk(mu);
      for (auto it = orders.rbegin(); it != orders.rend() && m.empty(); ++it) {
        int32_t c;
        memcpy(&c, it->data(), 4);
        if (c == code) m = *it;
      }
    }
    if (m.empty()) return false;
    NPC_F_PVM_MSG_SetOrderResp(m.data(), static_cast<int64_t>(m.size()), result);
    emit(m);
    return true;
  }
  // Hands a message up as the module would (event kind 1), from the calling thread.
  void emit(std::vector<uint8_t>& msg) { cb(user, NPC_D_PVM_EVENT_TYPE_ORDER_DATA, vendor, msg.data(), static_cast<int>(msg.size())); }
  // Waits until at least n more module timer calls than `from` happened (engine passes).
  bool waitTimerCalls(int from, int n, int ms = 5000) {
    for (int i = 0; i < ms; ++i) {
      if (timerCalls.load() >= from + n) return true;
      std::unique_lock<std::mutex> lk(mu);
      cv.wait_for(lk, std::chrono::milliseconds(1));
    }
    return false;
  }
};

class Device final : public NPC_I_PVM_DevProtocol {
 public:
  int NPC_F_PVM_InitDevProtocolModule(int vendorId, NPC_F_PVM_EVENT_CALLBACK cb, void* user) override {
    Script& s = Script::get();
    std::lock_guard<std::mutex> lk(s.mu);
    s.cb = cb;
    s.user = user;
    s.vendor = static_cast<uint32_t>(vendorId);
    return 1;
  }
  void NPC_F_PVM_UninitDevProtocolModule() override {}
  int NPC_F_PVM_InputNetData(unsigned char*, int) override { return 1; }
  int NPC_F_PVM_InputUpOrderData(unsigned char* msg, int len) override {
    Script& s = Script::get();
    std::vector<uint8_t> m(msg, msg + len);
    int32_t code;
    memcpy(&code, msg, 4);
    int result = 0;
    bool shortAnswer = false;
    {
      std::lock_guard<std::mutex> lk(s.mu);
      s.orders.push_back(m);
      if (s.dropped.count(code)) return 1;
      auto it = s.results.find(code);
      if (it != s.results.end()) result = it->second;
      if (code == ORDER_CAMERA_QUERY_CONN_MODE && len >= NPC_D_PVM_ORDER_MSG_HEAD_LEN + 8) {
        int32_t mode = s.connMode;
        memcpy(m.data() + NPC_D_PVM_ORDER_MSG_HEAD_LEN + 4, &mode, 4);
        shortAnswer = s.shortConnModeAnswer;
      }
    }
    if (shortAnswer) {
      std::vector<uint8_t> out;
      NPC_F_PVM_MSG_BuildOrderResp(&out, m.data(), static_cast<int64_t>(m.size()), result,
                                   m.data() + NPC_D_PVM_ORDER_MSG_HEAD_LEN, 4);
      s.cb(s.user, NPC_D_PVM_EVENT_TYPE_ORDER_DATA, s.vendor, out.data(), static_cast<int>(out.size()));
      return 1;
    }
    NPC_F_PVM_MSG_SetOrderResp(m.data(), static_cast<int64_t>(m.size()), result);
    s.cb(s.user, NPC_D_PVM_EVENT_TYPE_ORDER_DATA, s.vendor, m.data(), static_cast<int>(m.size()));
    return 1;
  }
  int NPC_F_PVM_Timer() override {
    Script::get().timerCalls++;
    return 1;
  }
};

inline NPC_I_PVM_DevProtocol* create() { return new Device(); }
inline void destroy(NPC_I_PVM_DevProtocol* m) { delete static_cast<Device*>(m); }
inline NPC_S_NXTP_MODULE_ENTRY entry(uint32_t vendor) {
  return NPC_S_NXTP_MODULE_ENTRY{vendor, "QXSP", &create, &destroy, nullptr};
}

}  // namespace fakedev

#endif
