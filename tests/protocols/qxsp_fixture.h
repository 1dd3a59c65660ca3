// Test fixture for the QXSP module: a fake engine that records what the module hands to its
// callback and feeds it network messages and orders, device answers written byte by byte from
// the wire format, and a fake clock.
#ifndef KORVEN_TESTS_PROTOCOLS_QXSP_FIXTURE_H
#define KORVEN_TESTS_PROTOCOLS_QXSP_FIXTURE_H

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "bus/pvm_msg.h"
#include "bus/pvm_result.h"
#include "net/packet_ed.h"
#include "protocols/qxsp/qxsp_protocol.h"
#include "test_support.h"

namespace qxsp_test {

inline void putU32(std::vector<uint8_t>& b, size_t off, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[off + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void putU16(std::vector<uint8_t>& b, size_t off, uint16_t v) {
  b[off] = static_cast<uint8_t>(v);
  b[off + 1] = static_cast<uint8_t>(v >> 8);
}
// Copies a text into a fixed field, cut to the field (the field is zeroed first).
template <size_t N>
void setText(char (&dst)[N], const std::string& s) {
  memset(dst, 0, N);
  memcpy(dst, s.data(), std::min(N, s.size()));
}

inline uint32_t u32At(const std::vector<uint8_t>& b, size_t off) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(b[off + i]) << (8 * i);
  return v;
}
inline uint16_t u16At(const std::vector<uint8_t>& b, size_t off) {
  return static_cast<uint16_t>(b[off] | b[off + 1] << 8);
}

// A packet as a device writes it: magic bytes EE EE FF FF, length, number, flags, result.
inline std::vector<uint8_t> devPacket(uint16_t num, size_t len, uint8_t result = 0, uint8_t flags = 1,
                                      uint32_t transId = 0) {
  std::vector<uint8_t> b(len, 0);
  b[0] = 0xEE;
  b[1] = 0xEE;
  b[2] = 0xFF;
  b[3] = 0xFF;
  putU32(b, 4, static_cast<uint32_t>(len));
  putU16(b, 8, num);
  b[10] = flags;
  b[11] = result;
  putU32(b, 12, transId);
  return b;
}

inline std::vector<uint8_t> consultAnswer(uint16_t version, const std::string& token, uint8_t loginMode = 0,
                                          uint8_t encType = 0, uint8_t result = 0) {
  std::vector<uint8_t> b = devPacket(0x0101, 112, result);
  putU16(b, 46, version);
  memcpy(b.data() + 48, token.data(), std::min<size_t>(token.size(), 59));
  b[108] = loginMode;
  b[110] = encType;
  return b;
}

inline std::vector<uint8_t> loginAnswer(uint8_t result, uint32_t loginId = 0x1234, bool custom = false,
                                        uint32_t channels = 4) {
  const size_t shift = custom ? 8 : 0;
  std::vector<uint8_t> b = devPacket(custom ? 0x0105 : 0x0102, 548 + shift, result);
  putU32(b, 308 + shift, loginId);
  memcpy(b.data() + 312 + shift, "V2.14", 5);
  putU32(b, 520 + shift, channels);
  return b;
}

inline std::vector<uint8_t> heartbeat(uint8_t flags) {
  std::vector<uint8_t> b = devPacket(0x0001, 52, 0, flags);
  memset(b.data() + 20, '0', 32);
  return b;
}

inline std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

struct Event {
  int kind;
  std::vector<uint8_t> msg;
};

// What the module hands to its callback, kept in order.
class FakeEngine {
 public:
  static void Callback(void* user, int kind, unsigned int /*vendor*/, unsigned char* msg, int len) {
    static_cast<FakeEngine*>(user)->events.push_back({kind, std::vector<uint8_t>(msg, msg + len)});
  }
  std::vector<Event> events;
};

// A NET_TCP_CONNECT request the module sent.
struct ConnReq {
  uint32_t dwModuleId;
  std::string sDevId, sAddr;
  uint16_t usPort;
  uint8_t ucFlags;
};

// An order message that came up.
struct Up {
  int32_t iMsgId, iMsgType;
  uint32_t dwTransId;
  int32_t iResult;
  std::vector<uint8_t> body;
  uint32_t camId() const { return body.size() >= 4 ? u32At(body, 0) : 0; }
};

struct ConnectOpts {
  std::string customId;
  std::string customText;
  std::string customData;
  int customNum = 0;
  int clientFlag = 0;
  int transMode = 0;
  uint32_t spare = 0;
  int connectMode = 0;
};

class QxspSession : public ::testing::Test {
 public:
  static std::string param(const std::string& devId, const std::string& ip, int port, const std::string& user,
                           const std::string& pwd, int ch = 0, int stream = 0) {
    return "VendorId=1009,DevId=" + devId + ",DevIp=" + ip + ",DevPort=" + std::to_string(port) +
           ",DevUserName=" + user + ",DevUserPwd=" + pwd + ",DevChNo=" + std::to_string(ch) +
           ",DevStreamNo=" + std::to_string(stream);
  }

 protected:
  void SetUp() override {
    ASSERT_EQ(mod.NPC_F_PVM_InitDevProtocolModule(1009, &FakeEngine::Callback, &eng), 1);
  }
  void TearDown() override { mod.NPC_F_PVM_UninitDevProtocolModule(); }

  // Sends ORDER_CAMERA_CONNECT; the transaction id is returned.
  uint32_t connect(uint32_t camId, const std::string& connParam, const ConnectOpts& o = ConnectOpts()) {
    NPC_S_PVM_ORDER_BODY_CAMERA_CONNECT body;
    memset(&body, 0, sizeof body);
    body.dwCameraConnId = camId;
    setText(body.sConnParam, connParam);
    setText(body.szCustomId, o.customId);
    setText(body.szCustomText, o.customText);
    setText(body.szCustomData, o.customData);
    body.iClientFlag = o.clientFlag;
    body.iMediaTransMode = o.transMode;
    body.iCustomNum = o.customNum;
    body.dwSpareConnFlag = o.spare;
    body.iConnectMode = o.connectMode;
    return order(ORDER_CAMERA_CONNECT, &body, sizeof body);
  }
  uint32_t order(int32_t code, const void* body, size_t len) {
    uint32_t trans = ++nextTrans;
    std::vector<uint8_t> msg;
    NPC_F_PVM_MSG_BuildRequest(&msg, code, trans, 1009, body, len);
    mod.NPC_F_PVM_InputUpOrderData(msg.data(), static_cast<int>(msg.size()));
    return trans;
  }
  uint32_t camOrder(int32_t code, uint32_t camId, int32_t value = 0) {
    struct {
      uint32_t id;
      int32_t v;
    } b{camId, value};
    return order(code, &b, sizeof b);
  }

  // --- engine side ---
  void net(const void* msg, size_t len) {
    std::vector<uint8_t> copy(static_cast<const uint8_t*>(msg), static_cast<const uint8_t*>(msg) + len);
    mod.NPC_F_PVM_InputNetData(copy.data(), static_cast<int>(copy.size()));
  }
  void connectAnswer(uint32_t moduleId, uint32_t engineId, int32_t result, int stage = 2, int32_t mode = 3) {
    NPC_S_PVM_NET_MSG_TCP_CONNECT m;
    NPC_F_PVM_MSG_InitNetTcpConnect(&m);
    m.tHead.iMsgType = NPC_D_PVM_NET_MSG_TYPE_RESPONSE;
    m.tHead.iResult = result;
    m.dwProtConnId = moduleId;
    m.dwLogicTcpConnId = engineId;
    m.iAnswerStage = stage;
    m.iConnMode = mode;
    memcpy(m.sConnIpaddr, "127.0.0.1", 10);
    m.usConnPort = 9000;
    net(&m, sizeof m);
  }
  // The engine's two answers for an accepted connection: in progress, then the outcome.
  void accept(uint32_t moduleId, uint32_t engineId, int32_t result = 0, int32_t mode = 3) {
    connectAnswer(moduleId, engineId, 0, 1, mode);
    connectAnswer(moduleId, engineId, result, 2, mode);
  }
  void feed(uint32_t moduleId, uint32_t engineId, const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> msg;
    NPC_F_PVM_MSG_BuildNetSendData(&msg, moduleId, engineId, 0, 0, bytes.data(), bytes.size());
    mod.NPC_F_PVM_InputNetData(msg.data(), static_cast<int>(msg.size()));
  }
  void lost(uint32_t moduleId, uint32_t engineId) {
    NPC_S_PVM_NET_MSG_CONN_IDS m;
    NPC_F_PVM_MSG_InitNetConnIds(&m, NET_TCP_DISCONNECT, moduleId, engineId);
    net(&m, sizeof m);
  }
  void tick() { mod.NPC_F_PVM_Timer(); }
  void advance(int seconds) {
    clock.advance(int64_t{seconds} * 1000);
    tick();
  }

  // --- what came out ---
  std::vector<ConnReq> connReqs() const {
    std::vector<ConnReq> out;
    for (const Event& e : eng.events) {
      if (e.kind != 0 || e.msg.size() != 344 || u32At(e.msg, 0) != NET_TCP_CONNECT) continue;
      NPC_S_PVM_NET_MSG_TCP_CONNECT m;
      memcpy(&m, e.msg.data(), sizeof m);
      out.push_back({m.dwProtConnId, m.sDevId, m.sDevIpaddr, m.usDevPort, m.ucConnFlags});
    }
    return out;
  }
  // NET_TCP_DISCONNECT requests: (module id, engine id).
  std::vector<std::pair<uint32_t, uint32_t>> disconnects() const {
    std::vector<std::pair<uint32_t, uint32_t>> out;
    for (const Event& e : eng.events) {
      if (e.kind == 0 && e.msg.size() == 28 && u32At(e.msg, 0) == NET_TCP_DISCONNECT) {
        out.push_back({u32At(e.msg, 20), u32At(e.msg, 24)});
      }
    }
    return out;
  }
  // Packets sent on one connection, decrypted when the module encrypted them.
  std::vector<std::vector<uint8_t>> sent(uint32_t moduleId, bool raw = false) const {
    std::vector<std::vector<uint8_t>> out;
    for (const Event& e : eng.events) {
      if (e.kind != 0 || e.msg.size() < 40 || u32At(e.msg, 0) != NET_SEND_DATA || u32At(e.msg, 20) != moduleId) {
        continue;
      }
      std::vector<uint8_t> pkt(e.msg.begin() + 40, e.msg.end());
      if (!raw && pkt.size() >= 20 && pkt[16] != 0) {
        unsigned char* plain = nullptr;
        int plainLen = 0, type = 0;
        if (NPC_F_ED_DecQxspPacket(pkt.data(), static_cast<int>(pkt.size()), &plain, &plainLen, &type) && plain) {
          pkt.assign(plain, plain + plainLen);
          NPC_F_ED_ReleasePacket(plain);
        }
      }
      out.push_back(pkt);
    }
    return out;
  }
  std::vector<uint16_t> sentNums(uint32_t moduleId) const {
    std::vector<uint16_t> out;
    for (const auto& p : sent(moduleId)) out.push_back(u16At(p, 8));
    return out;
  }
  std::vector<Up> ups() const {
    std::vector<Up> out;
    for (const Event& e : eng.events) {
      if (e.kind != 1) continue;
      NPC_S_PVM_ORDER_MSG_VIEW v;
      if (!NPC_F_PVM_MSG_ReadOrderMsg(e.msg.data(), static_cast<int64_t>(e.msg.size()), &v)) {
        ADD_FAILURE() << "malformed order came up";
        continue;
      }
      out.push_back({v.tHead.iMsgId, v.tHead.iMsgType, v.tHead.dwTransId, v.tHead.iResult,
                     std::vector<uint8_t>(v.pBody, v.pBody + v.tHead.iBodyLen)});
    }
    return out;
  }
  // The answers to one transaction.
  std::vector<Up> answersTo(uint32_t trans) const {
    std::vector<Up> out;
    for (const Up& u : ups()) {
      if (u.iMsgType == NPC_D_PVM_ORDER_MSG_TYPE_RESPONSE && u.dwTransId == trans) out.push_back(u);
    }
    return out;
  }
  // The single answer to a transaction, or a result of -1 when there is none.
  int32_t resultOf(uint32_t trans) const {
    auto a = answersTo(trans);
    EXPECT_LE(a.size(), 1u) << "answered more than once";
    return a.empty() ? -1 : a.front().iResult;
  }
  // Disconnect notices: (camera id, cause, text).
  struct Notice {
    uint32_t camId;
    int32_t cause;
    std::string text;
  };
  std::vector<Notice> notices() const {
    std::vector<Notice> out;
    for (const Up& u : ups()) {
      if (u.iMsgId != ORDER_NOTIFY_DISCONNECT || u.body.size() != 72) continue;
      out.push_back({u32At(u.body, 0), static_cast<int32_t>(u32At(u.body, 4)),
                     std::string(reinterpret_cast<const char*>(u.body.data() + 8))});
    }
    return out;
  }

  // Runs the whole login of a device for one camera; returns the order connection's module id.
  // The device answers with the given version, login mode and encryption type.
  uint32_t login(uint32_t camId, const std::string& connParam, uint32_t engineId, const ConnectOpts& o = ConnectOpts(),
                 uint16_t version = 0x0214, uint8_t loginMode = 0, uint8_t encType = 0) {
    size_t before = connReqs().size();
    uint32_t trans = connect(camId, connParam, o);
    auto reqs = connReqs();
    EXPECT_GT(reqs.size(), before);
    if (reqs.size() <= before) return 0;
    uint32_t orderId = reqs[before].dwModuleId;
    accept(orderId, engineId);
    feed(orderId, engineId, consultAnswer(version, "tok-" + std::to_string(engineId), loginMode, encType));
    feed(orderId, engineId, loginAnswer(0));
    EXPECT_EQ(resultOf(trans), 0);
    return orderId;
  }

  korven_test::FakeClock clock;
  korven_test::LogCapture log;
  FakeEngine eng;
  NPC_C_PVM_DP_QXSP_Protocol mod;
  uint32_t nextTrans = 100;
};

}  // namespace qxsp_test

#endif
