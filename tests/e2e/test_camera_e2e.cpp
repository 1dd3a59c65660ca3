// The protocol-bus camera end to end over loopback: a camera created from a connect-parameter
// string connects through the call layer, the engine's direct connect and the QXSP module to the
// device simulator (sim/qxsp_device.py, its own process); a wrong password, a device that closes
// the connection (disconnect notice: state 3 with cause 7) and goes silent (keep-alive lost,
// fake clock), and a reconnect afterwards.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "bus/nxtp_syn.h"
#include "bus/vcp.h"
#include "camera/nxtp_camera.h"
#include "protocols/qxsp/qxsp_protocol.h"
#include "sim_process.h"
#include "test_support.h"

namespace {

using korven_test::eventually;

const NPC_S_NXTP_MODULE_ENTRY kQxspOnly[] = {
    {1009, "QXSP", &NPC_F_PVM_DP_QXSP_Create, &NPC_F_PVM_DP_QXSP_Destroy, &NPC_F_PVM_DP_QXSP_SetEncryptType},
};
const NPC_S_NXTP_MODULE_TABLE kTable = {kQxspOnly, 1};
constexpr int kWaitMs = 10000;

class CameraE2E : public ::testing::Test {
 protected:
  void TearDown() override {
    cam_.reset();
    if (syn_) NPC_F_NXTP_SYN_DestroyProtocolBusServer(syn_);
    if (sim_) sim_->stop();
  }

  void start(const std::vector<std::string>& simArgs) {
    std::vector<std::string> args = {"--port", "0"};
    args.insert(args.end(), simArgs.begin(), simArgs.end());
    sim_ = std::make_unique<korven_test::SimProcess>("sim.qxsp_device", args);
    ASSERT_TRUE(sim_->ok());
    NPC_S_NXTP_CREATE_PARAM p{};
    p.sServerIpaddr = "";
    p.sP2pSrvIpaddr = NPC_D_NXTP_NO_SERVER_IPADDR;
    p.sClientIdent = "";
    p.sUserId = "";
    p.sUserText = "";
    p.iSkipNetCheck = 1;
    p.iTransVersion = 1;
    p.pModuleTable = &kTable;
    syn_ = NPC_F_NXTP_SYN_CreateProtocolBusServerEx(&p);
    ASSERT_NE(syn_, nullptr);
  }

  // A camera made as the factory will make it from a connect-parameter string: vendor id and
  // device id from the string, client flag 0, connect mode 0.
  void makeCamera(const std::string& pwd = "admin123") {
    const std::string conn = "VendorId=1009,DevIp=127.0.0.1,DevPort=" + std::to_string(sim_->port()) +
                             ",DevUserName=admin,DevUserPwd=" + pwd + ",DevChNo=0,DevStreamNo=0";
    NPC_S_MPI_MON_VCP_PARAM_SET set;
    ASSERT_EQ(NPC_F_MPI_MON_VCP_ParseConnParam(conn.c_str(), &set), 1);
    int vendor = 0;
    ASSERT_EQ(NPC_F_MPI_MON_VCP_GetParamInt(&set, NPC_D_MPI_MON_VCP_PARAM_VENDOR_ID, &vendor), 1);
    cam_ = std::make_unique<NPC_C_VPI_NXTP_Camera>(syn_, "", static_cast<uint32_t>(vendor), "", "", "", 0,
                                                   conn.c_str(), 1, kWaitMs, 0);
    cam_->iConnectMode = NPC_D_MPI_MON_CONNECT_MODE_ADDR;
    cam_->iClientFlag = 0;
  }
  std::string lastError(int* code = nullptr) {
    char text[512];
    const int c = cam_->NPC_F_MPI_MON_Camera_GetLastError(sizeof text, text);
    if (code) *code = c;
    return text;
  }

  std::unique_ptr<korven_test::SimProcess> sim_;
  NPC_H_NXTP_SYN syn_ = nullptr;
  std::unique_ptr<NPC_C_VPI_NXTP_Camera> cam_;
};

TEST_F(CameraE2E, ConnectsQueriesTheModeAndDisconnects) {
  start({});
  makeCamera();
  ASSERT_EQ(cam_->NPC_F_MPI_MON_Camera_Connect(kWaitMs, nullptr, 0, 0), 0) << lastError();
  EXPECT_EQ(cam_->NPC_F_MPI_MON_Camera_GetState(), NPC_D_MPI_MON_CAMERA_STATE_CONNECTED);
  EXPECT_TRUE(sim_->waitFor("LOGIN 1 ok", kWaitMs));
  int mode = -1;
  ASSERT_EQ(cam_->NPC_F_MPI_MON_Camera_GetDevConnectMode(&mode), 0) << lastError();
  EXPECT_EQ(mode, NPC_D_PVM_NET_CONN_MODE_DIRECT_TCP);
  cam_->NPC_F_MPI_MON_Camera_Disconnect();
  EXPECT_EQ(cam_->NPC_F_MPI_MON_Camera_GetState(), NPC_D_MPI_MON_CAMERA_STATE_IDLE);
  EXPECT_EQ(cam_->NPC_F_MPI_MON_Camera_GetCameraConnId(), 0u);
}

TEST_F(CameraE2E, WrongPasswordIsReportedWithItsText) {
  start({});
  makeCamera("not-it");
  int code = 0;
  EXPECT_EQ(cam_->NPC_F_MPI_MON_Camera_Connect(kWaitMs, nullptr, 0, 0), 102);
  EXPECT_EQ(lastError(&code), "Connect camera: pwd error.");
  EXPECT_EQ(cam_->NPC_F_MPI_MON_Camera_GetState(), NPC_D_MPI_MON_CAMERA_STATE_CONNECTING);
  // The caller disconnects, and with the right password the camera connects.
  cam_->NPC_F_MPI_MON_Camera_Disconnect();
  cam_.reset();
  makeCamera();
  EXPECT_EQ(cam_->NPC_F_MPI_MON_Camera_Connect(kWaitMs, nullptr, 0, 0), 0) << lastError();
}

TEST_F(CameraE2E, DeviceCloseEndsInStateThreeAndTheCameraReconnects) {
  start({});
  makeCamera();
  ASSERT_EQ(cam_->NPC_F_MPI_MON_Camera_Connect(kWaitMs, nullptr, 0, 0), 0) << lastError();
  ASSERT_TRUE(sim_->command("{\"cmd\": \"close\"}"));
  ASSERT_TRUE(eventually([&] { return cam_->NPC_F_MPI_MON_Camera_GetState() == 3; }, kWaitMs));
  EXPECT_EQ(cam_->NPC_F_MPI_MON_Camera_GetDisconnectCause(), NPC_D_MPI_MON_CAMERA_DISCAUSE_DEV_DISCONNECT);
  EXPECT_EQ(cam_->NPC_F_MPI_MON_Camera_Play(0, 0, 0), 107);
  // Reconnect from state 3: a second login on a new connection.
  ASSERT_EQ(cam_->NPC_F_MPI_MON_Camera_Connect(kWaitMs, nullptr, 0, 0), 0) << lastError();
  EXPECT_EQ(cam_->NPC_F_MPI_MON_Camera_GetState(), NPC_D_MPI_MON_CAMERA_STATE_CONNECTED);
  EXPECT_TRUE(sim_->waitCount("LOGIN ", 2, kWaitMs));
}

TEST_F(CameraE2E, DeviceSilenceEndsInStateThree) {
  korven_test::FakeClock clock;
  start({});
  makeCamera();
  ASSERT_EQ(cam_->NPC_F_MPI_MON_Camera_Connect(kWaitMs, nullptr, 0, 0), 0) << lastError();
  ASSERT_TRUE(sim_->command("{\"cmd\": \"beat\"}"));
  ASSERT_TRUE(sim_->waitFor("HBR 1", kWaitMs));
  ASSERT_TRUE(sim_->command("{\"cmd\": \"silent\", \"on\": true}"));
  // The module's keep-alive gives up 120 s after the last beat; move time a second at a time so
  // that every step of its time keeping runs, as it would in real time.
  clock.advance(115000);
  for (int i = 0; i < 30 && cam_->NPC_F_MPI_MON_Camera_GetState() != 3; ++i) {
    clock.advance(1000);
    eventually([&] { return cam_->NPC_F_MPI_MON_Camera_GetState() == 3; }, 100);
  }
  ASSERT_TRUE(eventually([&] { return cam_->NPC_F_MPI_MON_Camera_GetState() == 3; }, kWaitMs));
  EXPECT_EQ(cam_->NPC_F_MPI_MON_Camera_GetDisconnectCause(), NPC_D_MPI_MON_CAMERA_DISCAUSE_DEV_DISCONNECT);
}

}  // namespace
