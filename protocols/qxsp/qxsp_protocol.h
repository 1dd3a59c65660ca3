// The QXSP device protocol module (vendor 1009): the maker's own device protocol. This header
// owns the module's descriptor, its records (logical connection, device, camera) and the module
// class with its session: camera connect and disconnect, the version consult and login, keep-alive,
// session time-outs, connection loss and recovery, and the translation of device result codes.
// The wire format itself lives in qxsp_packet.h.
//
// The engine creates the module with NPC_F_PVM_DP_QXSP_Create (or `new`), initialises it, hands
// it the bus's QXSP encryption type with NPC_F_PVM_QXSP_SetEncryptType (which is also the option
// byte offered in the version consult), and destroys it through this class after uninitialising.
#ifndef KORVEN_PROTOCOLS_QXSP_QXSP_PROTOCOL_H
#define KORVEN_PROTOCOLS_QXSP_QXSP_PROTOCOL_H

#include <atomic>
#include <cstdint>

#include "protocols/common/module_base.h"
#include "protocols/qxsp/qxsp_packet.h"

// The module's table entry: vendor id, name, capability flags and table sizes.
extern const NPC_S_PVM_DP_MODULE_DESC NPC_D_PVM_DP_QXSP_MODULE_DESC;

// Logical-connection kinds.
constexpr int NPC_D_PVM_DP_QXSP_LOGIN_CONN_TYPE_ORDER = 1;      // the device's order connection
constexpr int NPC_D_PVM_DP_QXSP_LOGIN_CONN_TYPE_REALPLAY = 3;   // live-view media
constexpr int NPC_D_PVM_DP_QXSP_LOGIN_CONN_TYPE_FILE_DOWN = 4;  // playback or download media
constexpr int NPC_D_PVM_DP_QXSP_LOGIN_CONN_TYPE_TALK = 5;       // talk
constexpr int NPC_D_PVM_DP_QXSP_LOGIN_CONN_TYPE_SPARE = 6;      // spare device connection

// Device login states.
constexpr int NPC_D_PVM_DP_QXSP_DEV_LOGIN_STATE_IDLE = 0;
constexpr int NPC_D_PVM_DP_QXSP_DEV_LOGIN_STATE_CONNECTING = 1;
constexpr int NPC_D_PVM_DP_QXSP_DEV_LOGIN_STATE_WAIT_TOKEN_RESP = 2;
constexpr int NPC_D_PVM_DP_QXSP_DEV_LOGIN_STATE_WAIT_LOGIN_RESP = 3;
constexpr int NPC_D_PVM_DP_QXSP_DEV_LOGIN_STATE_LOGINED = 4;

// Session time-outs (wall seconds).
constexpr int NPC_D_PVM_DP_QXSP_LOGIN_TIMEOUT_SECS = 120;      // states 1 and 3 of the device
constexpr int NPC_D_PVM_DP_QXSP_CAMERA_CONN_TIMEOUT_SECS = 119;  // a camera waits longer than this
constexpr int NPC_D_PVM_DP_QXSP_HEARTBEAT_TIMEOUT_SECS = 120;  // since the last beat received
constexpr int NPC_D_PVM_DP_QXSP_HEARTBEAT_INTERVAL_SECS = 5;
constexpr int NPC_D_PVM_DP_QXSP_TRANS_EXPIRE_SECS = 119;

// Disconnect notices (ORDER_NOTIFY_DISCONNECT causes and texts).
constexpr int32_t NPC_D_PVM_DP_QXSP_DISCONN_CAUSE_MEDIA = 1;
constexpr int32_t NPC_D_PVM_DP_QXSP_DISCONN_CAUSE_ORDER = 200;
#define NPC_D_PVM_DP_QXSP_DISCONN_TEXT_MEDIA "摄像机媒体连接断开"
#define NPC_D_PVM_DP_QXSP_DISCONN_TEXT_ORDER "命令通道断开连接"

// The live-view cache factor (about twenty seconds of video).
constexpr int NPC_D_PVM_DP_QXSP_CACHE_FACTOR = 20;

struct NPC_S_PVM_DP_QXSP_LOGIC_TCP_CONN_DATA : NPC_S_PVM_DP_LOGIC_CONN_BASE {
  int iEncType = 0;     // agreed in the version consult: 0 plain, 2 encrypted
  int bSpareReady = 0;  // a spare connection (type 6) is established
};

struct NPC_S_PVM_DP_QXSP_CAMERA_DATA : NPC_S_PVM_DP_CAMERA_BASE {};

struct NPC_S_PVM_DP_QXSP_DEV_DATA : NPC_S_PVM_DP_DEV_BASE<NPC_S_PVM_DP_QXSP_CAMERA_DATA> {
  ~NPC_S_PVM_DP_QXSP_DEV_DATA() override;

  char szCustomId[32] = {};      // the client's customisation id ("sorvanet", "rqvl" select variants)
  char szCustomData[1024] = {};  // custom login data
  int iCustomNum = 0;            // custom login value
  char szCustomText[32] = {};    // kept only
  int iClientFlag = 0;           // 10 selects the short password form
  int iConnectMode = 0;          // connect mode of the connect order, for the order connection
  char sDevId[32] = {};
  char sDevAddr[128] = {};
  uint16_t usDevPort = 0;
  char sConnAddr[128] = {};  // reached, from the engine's connect answer
  uint16_t usConnPort = 0;
  char sUserName[32] = {};
  char sUserPwd[64] = {};  // up to 63 characters, as the connect parameters carry them
  uint32_t dwLoginId = 0;
  uint16_t usProVersion = 0;
  uint8_t ucLoginMode = 0;
  int iConnMode = 0;  // connection mode the engine reached for the order connection
  // Device information texts of the login answer, as received.
  char sLoginText1[8 + 1] = {};
  char sLoginText2[36 + 1] = {};
  char sLoginText3[32 + 1] = {};
  char sLoginText4[32 + 1] = {};
  char sLoginText5[36 + 1] = {};
  char sLoginText6[32 + 1] = {};
  char sLoginText7[32 + 1] = {};
  int iAbility[8] = {};  // [1] playback by time, [3] speed control
  uint8_t ucChannelInfo[16] = {};
  uint32_t dwLoginValue[3] = {};
  int64_t tLastBeatSend = 0;
  int64_t tLastBeatRecv = 0;
};

class NPC_C_PVM_DP_QXSP_Protocol final
    : public NPC_C_PVM_DP_ModuleBase<NPC_S_PVM_DP_QXSP_LOGIC_TCP_CONN_DATA, NPC_S_PVM_DP_QXSP_DEV_DATA,
                                     NPC_S_PVM_DP_QXSP_CAMERA_DATA> {
 public:
  using Conn = NPC_S_PVM_DP_QXSP_LOGIC_TCP_CONN_DATA;
  using Dev = NPC_S_PVM_DP_QXSP_DEV_DATA;
  using Cam = NPC_S_PVM_DP_QXSP_CAMERA_DATA;

  NPC_C_PVM_DP_QXSP_Protocol();
  ~NPC_C_PVM_DP_QXSP_Protocol();

  // NPC_I_PVM_DevProtocol.
  int NPC_F_PVM_InitDevProtocolModule(int vendorId, NPC_F_PVM_EVENT_CALLBACK callback, void* user) override;
  void NPC_F_PVM_UninitDevProtocolModule() override;
  int NPC_F_PVM_InputNetData(unsigned char* msg, int len) override;
  int NPC_F_PVM_InputUpOrderData(unsigned char* msg, int len) override;
  int NPC_F_PVM_Timer() override;

  // The bus's QXSP encryption type: offered to every device as the version-consult option byte
  // (ucConsultOption). The engine calls it right after registering the module and again from
  // NPC_F_NXTP_SetEncryptType on the caller's thread, so the value is kept atomically; it applies
  // to consults sent from then on.
  void NPC_F_PVM_QXSP_SetEncryptType(int iEncType);
  // Sets the option byte alone (same rules).
  void NPC_F_PVM_QXSP_SetConsultOption(uint8_t ucConsultOption) { m_ucConsultOption.store(ucConsultOption); }
  uint8_t NPC_F_PVM_QXSP_GetConsultOption() const { return m_ucConsultOption.load(); }

  // Read-only views for diagnostics and tests (null when absent).
  const Dev* NPC_F_PVM_QXSP_QueryDevByCamera(uint32_t dwCameraConnId) const;
  const Cam* NPC_F_PVM_QXSP_QueryCamera(uint32_t dwCameraConnId) const { return FindCamera(dwCameraConnId); }
  const Conn* NPC_F_PVM_QXSP_QueryConn(uint32_t dwLogicConnId) const { return QueryConn(dwLogicConnId); }
  const Dev* NPC_F_PVM_QXSP_DevAt(int slot) const { return DevAt(slot); }
  int NPC_F_PVM_QXSP_DevCount() const { return DevCount(); }
  int NPC_F_PVM_QXSP_ConnCount() const { return ConnCount(); }
  int NPC_F_PVM_QXSP_TransCount() const { return TransCount(); }

 private:
  // Network messages from the engine.
  void NPC_F_PVM_QXSP_DoNetData_NET_TCP_CONNECT(const NPC_S_PVM_NET_MSG_VIEW& v);
  void NPC_F_PVM_QXSP_DoNetData_NET_TCP_DISCONNECT(const NPC_S_PVM_NET_MSG_VIEW& v);
  void NPC_F_PVM_QXSP_DoNetData_NET_SEND_DATA(const NPC_S_PVM_NET_MSG_VIEW& v);
  void NPC_F_PVM_QXSP_DoNetData_NET_REDIRECT_DATA(const NPC_S_PVM_NET_MSG_VIEW& v);
  void NPC_F_PVM_QXSP_DoOrderConnResult(Conn* conn, const NPC_S_PVM_NET_MSG_TCP_CONNECT& m, int32_t iResult);
  void NPC_F_PVM_QXSP_DoSpareConnResult(Conn* conn, int32_t iResult);

  // Received bytes and packets.
  void NPC_F_PVM_QXSP_DoRecvProData(Conn* conn);
  void NPC_F_PVM_QXSP_DoSingleProPacket(Conn* conn, const uint8_t* pkt, int len);
  void NPC_F_PVM_QXSP_DoProPacket_P0_HEARTBEAT(Conn* conn, const uint8_t* pkt, int len);
  void NPC_F_PVM_QXSP_DoProPacket_P1_VER_CONSULT_GET_TOKEN(Conn* conn, const uint8_t* pkt, int len);
  void NPC_F_PVM_QXSP_DoProPacket_P1_LOGIN(Conn* conn, const uint8_t* pkt, int len, bool bCustom);

  // Orders.
  void NPC_F_PVM_QXSP_DoOrderData_ORDER_CAMERA_CONNECT(uint8_t* msg, int len, const NPC_S_PVM_ORDER_MSG_VIEW& v);
  void NPC_F_PVM_QXSP_DoOrderData_ORDER_CAMERA_DISCONNECT(uint8_t* msg, int len, const NPC_S_PVM_ORDER_MSG_VIEW& v);
  void NPC_F_PVM_QXSP_DoOrderData_ORDER_CAMERA_SWITCH_TRANS_MODE(uint8_t* msg, int len,
                                                                 const NPC_S_PVM_ORDER_MSG_VIEW& v);
  void NPC_F_PVM_QXSP_DoOrderData_ORDER_CAMERA_QUERY_CONN_MODE(uint8_t* msg, int len,
                                                               const NPC_S_PVM_ORDER_MSG_VIEW& v);

  // Sending to the device.
  int NPC_F_PVM_QXSP_PRO_SendProDataToDev(Conn* conn, uint16_t usMsgFuncId, uint32_t dwTransId, const void* part1,
                                          int len1, const void* part2, int len2);
  // Hands the packet that lies in the module's send area (BeginNetSendData) to the engine,
  // encrypting it first when the connection encrypts.
  int NPC_F_PVM_QXSP_SendProDataAtTypeToUp(Conn* conn, uint8_t* packet, int len, int32_t iDataType);
  int NPC_F_PVM_QXSP_PRO_SendProData_P0_HEARTBEAT(Conn* conn);
  int NPC_F_PVM_QXSP_PRO_SendProData_P1_VER_CONSULT_GET_TOKEN(Conn* conn);
  int NPC_F_PVM_QXSP_PRO_SendProData_LOGIN(Dev* dev, Conn* conn, const char* sToken);
  // Answers the transaction a result-only response names.
  void NPC_F_PVM_QXSP_SendRespMsgToUp(uint32_t dwTransId, uint8_t ucResult, const char* sOpName);

  // Flows and records.
  int NPC_F_PVM_QXSP_StartDevLoginFlow(Dev* dev);
  int NPC_F_PVM_QXSP_StartSpareConn(Dev* dev);
  // A media connection (type 3, 4 or 5) bound to a camera: requested with the camera's transport
  // mode in the connect flags' mode bits, and recorded as the camera's dwMediaProTcpConnId.
  Conn* NPC_F_PVM_QXSP_StartMediaConn(Dev* dev, Cam* cam, int iType);
  void NPC_F_PVM_QXSP_SetLoginState(Dev* dev, int iState, int64_t now);
  // Answers every camera of the device that waits for the login with iResult and moves it to
  // connected (iResult 0) or idle.
  void NPC_F_PVM_QXSP_AnswerConnectingCameras(Dev* dev, int32_t iResult, int64_t now);
  // The disconnect notice of a lost order connection to connected cameras, 1005 to connecting ones.
  void NPC_F_PVM_QXSP_NotifyOrderConnLost(Dev* dev, int64_t now);
  void NPC_F_PVM_QXSP_DeleteCamera(Dev* dev, Cam* cam, bool bDeleteEmptyDev);
  void NPC_F_PVM_QXSP_DeleteDev(Dev* dev);
  Conn* NPC_F_PVM_QXSP_OrderConn(Dev* dev) const;
  void NPC_F_PVM_QXSP_DoDevTimer(Dev* dev, int64_t now);
  void NPC_F_PVM_QXSP_DoCameraTimer(Dev* dev, Cam* cam, int64_t now);

  std::atomic<uint8_t> m_ucConsultOption{0};

  // Tests reach the private flows that later features start (media connections, transactions).
  friend class NPC_C_PVM_DP_QXSP_TestPeer;
};

// The module's entry points for the engine's registration table: create, destroy (through the
// concrete class) and hand over the bus's encryption type.
NPC_I_PVM_DevProtocol* NPC_F_PVM_DP_QXSP_Create();
void NPC_F_PVM_DP_QXSP_Destroy(NPC_I_PVM_DevProtocol* module);
void NPC_F_PVM_DP_QXSP_SetEncryptType(NPC_I_PVM_DevProtocol* module, int iEncType);

#endif
