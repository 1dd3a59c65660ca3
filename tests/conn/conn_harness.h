// Harness for the connection tests: a running engine with one fake module that asks for
// logical connections through network messages (sent from the test's thread, as a module's own
// thread would) and records every network message the engine hands it.
#ifndef KORVEN_TESTS_CONN_HARNESS_H
#define KORVEN_TESTS_CONN_HARNESS_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "bus/nxtp_mc.h"
#include "bus/pvm_msg.h"
#include "conn/nxtp_conn.h"

namespace conn_test {

constexpr uint32_t kVendor = 1009;

// One network message as the module received it.
struct NetEvent {
  int32_t iMsgId;
  int32_t iMsgType;
  int32_t iResult;
  uint32_t dwProtConnId;
  uint32_t dwLogicTcpConnId;
  int32_t iStage;  // NET_TCP_CONNECT
  int32_t iConnMode;
  std::string sReached;
  unsigned short usReachedPort;
  std::vector<uint8_t> tData;  // NET_SEND_DATA
  uint32_t dwChannel;
};

class NetModule final : public NPC_I_PVM_DevProtocol {
 public:
  static NetModule*& instance() {
    static NetModule* m = nullptr;
    return m;
  }
  int NPC_F_PVM_InitDevProtocolModule(int vendorId, NPC_F_PVM_EVENT_CALLBACK cb, void* user) override {
    vendor_ = static_cast<uint32_t>(vendorId);
    cb_ = cb;
    user_ = user;
    instance() = this;
    return 1;
  }
  void NPC_F_PVM_UninitDevProtocolModule() override { instance() = nullptr; }
  int NPC_F_PVM_InputNetData(unsigned char* msg, int len) override {
    NPC_S_PVM_NET_MSG_VIEW v;
    if (!NPC_F_PVM_MSG_ReadNetMsg(msg, len, &v)) return 0;
    NetEvent e{};
    e.iMsgId = v.tHead.iMsgId;
    e.iMsgType = v.tHead.iMsgType;
    e.iResult = v.tHead.iResult;
    if (e.iMsgId == NET_TCP_CONNECT) {
      NPC_S_PVM_NET_MSG_TCP_CONNECT c;
      if (NPC_F_PVM_MSG_ReadNetFixed(v, &c)) {
        e.dwProtConnId = c.dwProtConnId;
        e.dwLogicTcpConnId = c.dwLogicTcpConnId;
        e.iStage = c.iAnswerStage;
        e.iConnMode = c.iConnMode;
        e.sReached.assign(c.sConnIpaddr, strnlen(c.sConnIpaddr, sizeof c.sConnIpaddr));
        e.usReachedPort = c.usConnPort;
      }
    } else if (e.iMsgId == NET_SEND_DATA) {
      NPC_S_PVM_NET_DATA_VIEW d;
      if (NPC_F_PVM_MSG_ReadNetSendData(v, &d)) {
        e.dwProtConnId = d.dwProtConnId;
        e.dwLogicTcpConnId = d.dwLogicTcpConnId;
        e.tData.assign(d.pData, d.pData + d.iDataLen);
        e.dwChannel = d.dwChannel;
      }
    } else {
      NPC_S_PVM_NET_MSG_CONN_IDS ids;
      if (NPC_F_PVM_MSG_ReadNetFixed(v, &ids)) {
        e.dwProtConnId = ids.dwProtConnId;
        e.dwLogicTcpConnId = ids.dwLogicTcpConnId;
      }
    }
    std::lock_guard<std::mutex> lk(mu_);
    events_.push_back(std::move(e));
    cv_.notify_all();
    return 1;
  }
  int NPC_F_PVM_InputUpOrderData(unsigned char*, int) override { return 1; }
  int NPC_F_PVM_Timer() override { return 1; }

  // Hands a network message to the engine (event kind 0) from the caller's thread.
  void send(const void* msg, size_t len) {
    cb_(user_, NPC_D_PVM_EVENT_TYPE_NET_DATA, vendor_, static_cast<unsigned char*>(const_cast<void*>(msg)),
        static_cast<int>(len));
  }
  void send(const std::vector<uint8_t>& m) { send(m.data(), m.size()); }

  std::vector<NetEvent> events() {
    std::lock_guard<std::mutex> lk(mu_);
    return events_;
  }
  bool waitUntil(const std::function<bool(const std::vector<NetEvent>&)>& pred, int ms = 10000) {
    std::unique_lock<std::mutex> lk(mu_);
    return cv_.wait_for(lk, std::chrono::milliseconds(ms), [&] { return pred(events_); });
  }

 private:
  uint32_t vendor_ = 0;
  NPC_F_PVM_EVENT_CALLBACK cb_ = nullptr;
  void* user_ = nullptr;
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<NetEvent> events_;
};

inline NPC_I_PVM_DevProtocol* createModule() { return new NetModule(); }
inline void destroyModule(NPC_I_PVM_DevProtocol* m) { delete static_cast<NetModule*>(m); }

// An engine with the one module.
class Engine {
 public:
  Engine() {
    NPC_S_NXTP_CREATE_PARAM p{};
    p.sServerIpaddr = "";
    p.sP2pSrvIpaddr = NPC_D_NXTP_NO_SERVER_IPADDR;
    p.sClientIdent = "conn-test";
    p.sUserId = "";
    p.sUserText = "";
    p.pModuleTable = &table_;
    bus_ = NPC_F_NXTP_CreateProtocolBusServerEx(&p);
  }
  ~Engine() { NPC_F_NXTP_DestroyProtocolBusServer(bus_); }
  bool ok() const { return bus_ && NetModule::instance(); }
  NetModule& module() { return *NetModule::instance(); }

 private:
  NPC_S_NXTP_MODULE_ENTRY entries_[1] = {{kVendor, "QXSP", &createModule, &destroyModule, nullptr}};
  NPC_S_NXTP_MODULE_TABLE table_ = {entries_, 1};
  NPC_H_NXTP_MC bus_ = nullptr;
};

// --- Messages a module sends ---------------------------------------------------------------------

inline NPC_S_PVM_NET_MSG_TCP_CONNECT connectRequest(uint32_t protId, const char* addr, unsigned short port,
                                                    const char* devId = "") {
  NPC_S_PVM_NET_MSG_TCP_CONNECT m;
  NPC_F_PVM_MSG_InitNetTcpConnect(&m);
  memcpy(m.sDevId, devId, strnlen(devId, sizeof m.sDevId - 1));
  memcpy(m.sDevIpaddr, addr, strnlen(addr, sizeof m.sDevIpaddr - 1));
  m.usDevPort = port;
  m.dwProtConnId = protId;
  return m;
}

inline std::vector<uint8_t> sendData(uint32_t protId, uint32_t logicId, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> m;
  NPC_F_PVM_MSG_BuildNetSendData(&m, protId, logicId, 0, 0, data.data(), data.size());
  return m;
}

inline NPC_S_PVM_NET_MSG_CONN_IDS disconnectRequest(uint32_t protId, uint32_t logicId) {
  NPC_S_PVM_NET_MSG_CONN_IDS m;
  NPC_F_PVM_MSG_InitNetConnIds(&m, NET_TCP_DISCONNECT, protId, logicId);
  return m;
}

// --- Reading what the module received -------------------------------------------------------------

inline std::vector<NetEvent> connectAnswers(const std::vector<NetEvent>& ev, uint32_t protId, int stage) {
  std::vector<NetEvent> out;
  for (const auto& e : ev)
    if (e.iMsgId == NET_TCP_CONNECT && e.dwProtConnId == protId && e.iStage == stage) out.push_back(e);
  return out;
}
inline int disconnects(const std::vector<NetEvent>& ev, uint32_t logicId) {
  int n = 0;
  for (const auto& e : ev)
    if (e.iMsgId == NET_TCP_DISCONNECT && e.dwLogicTcpConnId == logicId) ++n;
  return n;
}
inline std::vector<uint8_t> received(const std::vector<NetEvent>& ev, uint32_t logicId) {
  std::vector<uint8_t> out;
  for (const auto& e : ev)
    if (e.iMsgId == NET_SEND_DATA && e.dwLogicTcpConnId == logicId) out.insert(out.end(), e.tData.begin(), e.tData.end());
  return out;
}

}  // namespace conn_test

#endif
