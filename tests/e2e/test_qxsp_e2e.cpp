// End to end over loopback: camera-connect orders go through the real protocol bus engine and
// its direct connect to the QXSP device simulator (sim/qxsp_device.py, a separate process that
// reads the wire format on its own) and back. Plain and encrypted logins, a wrong password, a
// device that goes silent or closes, the device's faults, and two cameras of one login.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bus/nxtp_mc.h"
#include "bus/pvm_msg.h"
#include "bus/pvm_result.h"
#include "protocols/qxsp/qxsp_protocol.h"
#include "sim_process.h"
#include "test_support.h"

namespace {

// What came up through the engine's upper callback.
class Upper {
 public:
  static void Callback(void* user, unsigned char* msg, int len) {
    auto* u = static_cast<Upper*>(user);
    std::lock_guard<std::mutex> lk(u->mu_);
    u->msgs_.emplace_back(msg, msg + len);
    u->cv_.notify_all();
  }
  // The answer to a transaction: its result, or -1 after timeoutMs.
  int32_t waitAnswer(uint32_t trans, int timeoutMs) {
    int32_t result = -1;
    waitFor(timeoutMs, [&](const NPC_S_PVM_ORDER_MSG_VIEW& v) {
      if (v.tHead.iMsgType != NPC_D_PVM_ORDER_MSG_TYPE_RESPONSE || v.tHead.dwTransId != trans) return false;
      result = v.tHead.iResult;
      return true;
    });
    return result;
  }
  // A disconnect notice for a camera: its cause, or -1 after timeoutMs.
  int32_t waitNotice(uint32_t camId, int timeoutMs, std::string* text = nullptr) {
    int32_t cause = -1;
    waitFor(timeoutMs, [&](const NPC_S_PVM_ORDER_MSG_VIEW& v) {
      NPC_S_PVM_ORDER_BODY_NOTIFY_DISCONNECT n;
      if (v.tHead.iMsgId != ORDER_NOTIFY_DISCONNECT || !NPC_F_PVM_MSG_ReadOrderBodyExact(v, &n) ||
          n.dwCameraConnId != camId) {
        return false;
      }
      cause = n.iCause;
      if (text) *text = std::string(n.sCauseText, strnlen(n.sCauseText, sizeof n.sCauseText));
      return true;
    });
    return cause;
  }

 private:
  template <typename F>
  void waitFor(int timeoutMs, F match) {
    std::unique_lock<std::mutex> lk(mu_);
    size_t seen = 0;
    cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] {
      for (; seen < msgs_.size(); ++seen) {
        NPC_S_PVM_ORDER_MSG_VIEW v;
        if (NPC_F_PVM_MSG_ReadOrderMsg(msgs_[seen].data(), static_cast<int64_t>(msgs_[seen].size()), &v) && match(v)) {
          return true;
        }
      }
      return false;
    });
  }
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<std::vector<uint8_t>> msgs_;
};

const NPC_S_NXTP_MODULE_ENTRY kQxspOnly[] = {
    {1009, "QXSP", &NPC_F_PVM_DP_QXSP_Create, &NPC_F_PVM_DP_QXSP_Destroy, &NPC_F_PVM_DP_QXSP_SetEncryptType},
};
const NPC_S_NXTP_MODULE_TABLE kTable = {kQxspOnly, 1};

class QxspE2E : public ::testing::Test {
 protected:
  void TearDown() override {
    if (bus_) NPC_F_NXTP_DestroyProtocolBusServer(bus_);
    if (sim_) sim_->stop();
  }

  void start(const std::vector<std::string>& simArgs, int encryptType = 0) {
    std::vector<std::string> args = {"--port", "0"};
    args.insert(args.end(), simArgs.begin(), simArgs.end());
    sim_ = std::make_unique<korven_test::SimProcess>("sim.qxsp_device", args);
    ASSERT_TRUE(sim_->ok());
    NPC_S_NXTP_CREATE_PARAM p = NPC_F_NXTP_MakeLocalCreateParam(&kTable);
    p.fnUpperCallback = &Upper::Callback;
    p.pUpperUser = &up_;
    p.iEncryptType = encryptType;
    bus_ = NPC_F_NXTP_CreateProtocolBusServerEx(&p);
    ASSERT_NE(bus_, nullptr);
  }

  std::string param(int ch, const std::string& pwd = "admin123") const {
    return "VendorId=1009,DevIp=127.0.0.1,DevPort=" + std::to_string(sim_->port()) +
           ",DevUserName=admin,DevUserPwd=" + pwd + ",DevChNo=" + std::to_string(ch) + ",DevStreamNo=0";
  }

  uint32_t order(int32_t code, const void* body, size_t len) {
    uint32_t trans = ++trans_;
    std::vector<uint8_t> msg;
    EXPECT_EQ(NPC_F_PVM_MSG_BuildRequest(&msg, code, trans, 1009, body, len), 1);
    EXPECT_EQ(NPC_F_NXTP_SendMsgData(bus_, msg.data(), static_cast<int>(msg.size()), 1000), 1);
    return trans;
  }
  uint32_t connect(uint32_t camId, const std::string& connParam, int clientFlag = 0) {
    NPC_S_PVM_ORDER_BODY_CAMERA_CONNECT body;
    memset(&body, 0, sizeof body);
    body.dwCameraConnId = camId;
    memcpy(body.sConnParam, connParam.data(), std::min(connParam.size(), sizeof body.sConnParam - 1));
    body.iClientFlag = clientFlag;
    return order(ORDER_CAMERA_CONNECT, &body, sizeof body);
  }

  std::unique_ptr<korven_test::SimProcess> sim_;
  NPC_H_NXTP_MC bus_ = nullptr;
  Upper up_;
  uint32_t trans_ = 0x1000;
};

constexpr int kWaitMs = 10000;

TEST_F(QxspE2E, PlainLogin) {
  start({"--version", "0x0214"});
  EXPECT_EQ(up_.waitAnswer(connect(0x10001, param(0)), kWaitMs), 0);
  EXPECT_TRUE(sim_->waitFor("CONSULT 1 0", kWaitMs));
  EXPECT_TRUE(sim_->waitFor("LOGIN 1 ok", kWaitMs));
}

TEST_F(QxspE2E, EncryptedLoginAndShortFormByClientFlag) {
  start({"--password-form", "short"}, 2);
  EXPECT_EQ(up_.waitAnswer(connect(0x10001, param(0), 10), kWaitMs), 0);
  EXPECT_TRUE(sim_->waitFor("CONSULT 1 2", kWaitMs));  // the bus's encryption type was offered and taken
  EXPECT_TRUE(sim_->waitFor("LOGIN 1 ok", kWaitMs));
}

TEST_F(QxspE2E, WrongPassword) {
  start({});
  EXPECT_EQ(up_.waitAnswer(connect(0x10001, param(0, "not-it")), kWaitMs), NPC_D_PVM_ERRORCODE_PWD_ERROR);
  EXPECT_TRUE(sim_->waitFor("LOGIN 1 fail 4", kWaitMs));
  EXPECT_TRUE(sim_->waitFor("DISC 1", kWaitMs));  // the module let the connection go
}

TEST_F(QxspE2E, OldVersionLoginFailureIsOtherFail) {
  start({"--version", "0x0102", "--wrong-password"});
  EXPECT_EQ(up_.waitAnswer(connect(0x10001, param(0)), kWaitMs), NPC_D_PVM_ERRORCODE_OTHER_FAIL);
}

TEST_F(QxspE2E, DeviceClosingGivesTheDisconnectNotice) {
  start({});
  ASSERT_EQ(up_.waitAnswer(connect(0x10001, param(0)), kWaitMs), 0);
  ASSERT_TRUE(sim_->command("{\"cmd\": \"close\"}"));
  std::string text;
  EXPECT_EQ(up_.waitNotice(0x10001, kWaitMs, &text), NPC_D_PVM_DP_QXSP_DISCONN_CAUSE_ORDER);
  EXPECT_EQ(text, NPC_D_PVM_DP_QXSP_DISCONN_TEXT_ORDER);
}

// A device that goes silent after keep-alive began: 120 seconds (fake clock) after its last beat
// the connected camera gets the notice of a lost order connection.
TEST_F(QxspE2E, DeviceGoingSilentGivesTheDisconnectNotice) {
  korven_test::FakeClock clock;
  start({});
  ASSERT_EQ(up_.waitAnswer(connect(0x10001, param(0)), kWaitMs), 0);
  // The module beats at once after the login and the device answers it; then the device beats
  // and the module answers: keep-alive runs both ways. The device sends its beat after its
  // answer on the same connection, so once the module's answer to the beat is back, the
  // module has also taken the device's answer and nothing refreshes its receive time later.
  ASSERT_TRUE(sim_->waitFor("HB 1", kWaitMs));
  ASSERT_TRUE(sim_->command("{\"cmd\": \"beat\"}"));
  ASSERT_TRUE(sim_->waitFor("HBR 1", kWaitMs));
  ASSERT_TRUE(sim_->command("{\"cmd\": \"silent\", \"on\": true}"));
  clock.advance(119000);
  EXPECT_EQ(up_.waitNotice(0x10001, 300), -1);
  clock.advance(1000);
  std::string text;
  EXPECT_EQ(up_.waitNotice(0x10001, kWaitMs, &text), NPC_D_PVM_DP_QXSP_DISCONN_CAUSE_ORDER);
  EXPECT_EQ(text, NPC_D_PVM_DP_QXSP_DISCONN_TEXT_ORDER);
  EXPECT_TRUE(sim_->waitFor("DISC 1", kWaitMs));
}

TEST_F(QxspE2E, SecondCameraSharesTheDeviceRecord) {
  start({});
  ASSERT_EQ(up_.waitAnswer(connect(0x10001, param(0)), kWaitMs), 0);
  EXPECT_EQ(up_.waitAnswer(connect(0x20002, param(1)), kWaitMs), 0);
  ASSERT_TRUE(sim_->command("{\"cmd\": \"stats\"}"));
  std::string stats;
  ASSERT_TRUE(sim_->waitFor("STATS", kWaitMs, &stats));
  EXPECT_NE(stats.find("conns=1 logins=1"), std::string::npos) << stats;
}

// Split packets and slow reads on the device side do not disturb the login; garbage between the
// device's packets empties the module's buffer, so the login answer is lost and the login times
// out (fake clock).
TEST_F(QxspE2E, DeviceFaultsOnTheWire) {
  {
    start({"--split", "3", "--slow-read", "7"});
    EXPECT_EQ(up_.waitAnswer(connect(0x10001, param(0)), kWaitMs), 0);
    TearDown();
    bus_ = nullptr;
    sim_.reset();
  }
  korven_test::FakeClock clock;
  start({"--garbage", "9"});
  uint32_t trans = connect(0x10001, param(0));
  ASSERT_TRUE(sim_->waitFor("LOGIN 1 ok", kWaitMs));
  EXPECT_EQ(up_.waitAnswer(trans, 300), -1);
  clock.advance(120000);
  EXPECT_EQ(up_.waitAnswer(trans, kWaitMs), NPC_D_PVM_ERRORCODE_LOGIN_DEV_TIMEOUT);
}

}  // namespace
