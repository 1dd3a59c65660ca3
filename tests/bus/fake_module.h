// Fake device protocol modules for the engine and call layer tests: one configurable class whose
// behaviour per vendor id is set before the engine starts (echo, hold, drop, empty-body
// answers, answers from a thread of its own, failing initialisation), plus a global record of
// what happened (life-cycle events in order, orders seen, instances by vendor id) that tests
// read. Each test runs in its own process, so the globals start fresh.
#ifndef KORVEN_TESTS_BUS_FAKE_MODULE_H
#define KORVEN_TESTS_BUS_FAKE_MODULE_H

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bus/nxtp_modules.h"
#include "bus/pvm_msg.h"

namespace fake {

enum class Mode {
  Echo,       // answers every order in place at once (iResult as configured)
  Drop,       // never answers
  Hold,       // keeps every order until the test releases it, then answers in place
  EmptyBody,  // answers with the same head and an empty body
  OwnThread,  // answers in place from a thread of its own
  Block,      // the first order blocks the engine thread until the test opens the gate
};

class Module;

struct Config {
  std::atomic<Mode> mode{Mode::Echo};
  std::atomic<bool> failInit{false};
  std::atomic<int> answerResult{0};
  std::function<void(Module&)> onTimer;  // runs on the engine thread in every timer call
};

// Everything the fakes record. Guarded by mu unless atomic.
struct World {
  std::mutex mu;
  std::condition_variable cv;
  std::map<uint32_t, Config> configs;
  std::map<uint32_t, Module*> live;  // initialised and not yet uninitialised
  std::vector<std::string> events;   // "create", "init", "uninit", "destroy" with the vendor id
  std::vector<std::vector<uint8_t>> orders;  // every order received, in order
  std::atomic<int> timerCalls{0};
  std::atomic<int> encryptType{-1};
  // The gate of Mode::Block.
  bool gateOpen = false;
  bool blocked = false;

  static World& get() {
    static World* w = new World();
    return *w;
  }
  Config& config(uint32_t vendor) {
    std::lock_guard<std::mutex> lk(mu);
    return configs[vendor];
  }
  void event(const std::string& what, uint32_t vendor) {
    std::lock_guard<std::mutex> lk(mu);
    events.push_back(what + " " + std::to_string(vendor));
  }
  std::vector<std::string> eventList() {
    std::lock_guard<std::mutex> lk(mu);
    return events;
  }
  int orderCount() {
    std::lock_guard<std::mutex> lk(mu);
    return static_cast<int>(orders.size());
  }
  std::vector<std::vector<uint8_t>> orderList() {
    std::lock_guard<std::mutex> lk(mu);
    return orders;
  }
  Module* module(uint32_t vendor) {
    std::lock_guard<std::mutex> lk(mu);
    auto it = live.find(vendor);
    return it == live.end() ? nullptr : it->second;
  }
  void openGate() {
    std::lock_guard<std::mutex> lk(mu);
    gateOpen = true;
    cv.notify_all();
  }
  bool waitBlocked(int ms) {
    std::unique_lock<std::mutex> lk(mu);
    return cv.wait_for(lk, std::chrono::milliseconds(ms), [this] { return blocked; });
  }
};

class Module final : public NPC_I_PVM_DevProtocol {
 public:
  Module() = default;
  ~Module() { World::get().event("destroy", vendor_); }

  int NPC_F_PVM_InitDevProtocolModule(int vendorId, NPC_F_PVM_EVENT_CALLBACK cb, void* user) override {
    vendor_ = static_cast<uint32_t>(vendorId);
    cb_ = cb;
    user_ = user;
    World& w = World::get();
    w.event("init", vendor_);
    Config& c = w.config(vendor_);
    if (c.failInit) return 0;
    if (c.mode == Mode::OwnThread) worker_ = std::thread([this] { workerLoop(); });
    std::lock_guard<std::mutex> lk(w.mu);
    w.live[vendor_] = this;
    return 1;
  }
  void NPC_F_PVM_UninitDevProtocolModule() override {
    World& w = World::get();
    w.event("uninit", vendor_);
    {
      std::lock_guard<std::mutex> lk(mu_);
      stop_ = true;
      cv_.notify_all();
    }
    if (worker_.joinable()) worker_.join();
    std::lock_guard<std::mutex> lk(w.mu);
    w.live.erase(vendor_);
  }
  int NPC_F_PVM_InputNetData(unsigned char* msg, int len) override {
    std::lock_guard<std::mutex> lk(mu_);
    netMsgs_.emplace_back(msg, msg + len);
    return 1;
  }
  int NPC_F_PVM_InputUpOrderData(unsigned char* msg, int len) override {
    World& w = World::get();
    {
      std::lock_guard<std::mutex> lk(w.mu);
      w.orders.emplace_back(msg, msg + len);
    }
    Config& c = w.config(vendor_);
    switch (c.mode.load()) {
      case Mode::Echo:
        answer(msg, len);
        break;
      case Mode::Drop:
        break;
      case Mode::Hold: {
        std::lock_guard<std::mutex> lk(mu_);
        held_.emplace_back(msg, msg + len);
        break;
      }
      case Mode::EmptyBody: {
        std::vector<uint8_t> out;
        NPC_F_PVM_MSG_BuildOrderResp(&out, msg, len, c.answerResult, nullptr, 0);
        emit(NPC_D_PVM_EVENT_TYPE_ORDER_DATA, out);
        break;
      }
      case Mode::OwnThread: {
        std::lock_guard<std::mutex> lk(mu_);
        pending_.emplace_back(msg, msg + len);
        cv_.notify_all();
        break;
      }
      case Mode::Block: {
        std::unique_lock<std::mutex> lk(w.mu);
        w.blocked = true;
        w.cv.notify_all();
        w.cv.wait(lk, [&w] { return w.gateOpen; });
        break;
      }
    }
    return 1;
  }
  int NPC_F_PVM_Timer() override {
    World& w = World::get();
    w.timerCalls++;
    Config& c = w.config(vendor_);
    if (c.onTimer) c.onTimer(*this);
    return 1;
  }

  // Answers held order i (in arrival order) in place; false when there is none. Any thread.
  bool releaseHeld(size_t i) {
    std::vector<uint8_t> m;
    {
      std::lock_guard<std::mutex> lk(mu_);
      if (i >= held_.size() || held_[i].empty()) return false;
      m.swap(held_[i]);
    }
    answer(m.data(), static_cast<int>(m.size()));
    return true;
  }
  size_t heldCount() {
    std::lock_guard<std::mutex> lk(mu_);
    return held_.size();
  }
  // Hands a message to the engine through the module callback, from whatever thread calls.
  void emit(int kind, std::vector<uint8_t>& msg) { cb_(user_, kind, vendor_, msg.data(), static_cast<int>(msg.size())); }
  uint32_t vendor() const { return vendor_; }
  std::vector<std::vector<uint8_t>> netMsgs() {
    std::lock_guard<std::mutex> lk(mu_);
    return netMsgs_;
  }

 private:
  void answer(unsigned char* msg, int len) {
    NPC_F_PVM_MSG_SetOrderResp(msg, len, World::get().config(vendor_).answerResult);
    cb_(user_, NPC_D_PVM_EVENT_TYPE_ORDER_DATA, vendor_, msg, len);
  }
  void workerLoop() {
    std::unique_lock<std::mutex> lk(mu_);
    for (;;) {
      cv_.wait(lk, [this] { return stop_ || !pending_.empty(); });
      if (stop_) return;
      std::vector<uint8_t> m = std::move(pending_.front());
      pending_.pop_front();
      lk.unlock();
      answer(m.data(), static_cast<int>(m.size()));
      lk.lock();
    }
  }

  uint32_t vendor_ = 0;
  NPC_F_PVM_EVENT_CALLBACK cb_ = nullptr;
  void* user_ = nullptr;
  std::mutex mu_;
  std::condition_variable cv_;
  bool stop_ = false;
  std::deque<std::vector<uint8_t>> pending_;
  std::vector<std::vector<uint8_t>> held_;
  std::vector<std::vector<uint8_t>> netMsgs_;
  std::thread worker_;
};

inline NPC_I_PVM_DevProtocol* create() {
  auto* m = new Module();
  return m;
}
inline void destroy(NPC_I_PVM_DevProtocol* m) { delete static_cast<Module*>(m); }
inline void setEncryptType(NPC_I_PVM_DevProtocol*, int type) { World::get().encryptType = type; }

// An entry for the registration table (the create event is recorded by the table's order of
// construction: the engine creates, then initialises).
inline NPC_S_NXTP_MODULE_ENTRY entry(uint32_t vendor, const char* name, bool takesEncryptType = false) {
  return NPC_S_NXTP_MODULE_ENTRY{vendor, name, &create, &destroy, takesEncryptType ? &setEncryptType : nullptr};
}

}  // namespace fake

#endif
