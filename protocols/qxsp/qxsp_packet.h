// The QXSP wire format as the QXSP module speaks it: the 20-byte packet head, the message
// numbers with their names, the framer that cuts packets out of a byte stream, the checked
// readers of the session answers (version consult, login), the builders of the session
// requests, the login digest and the translation of device result codes. Everything here is
// free of module state, so the fuzz target and the tests reach it directly.
//
// All integers on the wire are little-endian. Readers take untrusted bytes and check every
// offset against the received length before use; text fields are copied with a bound and a
// terminating NUL.
#ifndef KORVEN_PROTOCOLS_QXSP_QXSP_PACKET_H
#define KORVEN_PROTOCOLS_QXSP_QXSP_PACKET_H

#include <cstddef>
#include <cstdint>
#include <cstring>

// ---------------------------------------------------------------------------------------------
// Head.

constexpr uint32_t NPC_D_PVM_DP_QXSP_PACKET_FLAG = 0xFFFFEEEEu;  // bytes EE EE FF FF
constexpr int NPC_D_PVM_DP_QXSP_HEAD_LEN = 20;
// A packet that is still incomplete when this many bytes are buffered is never completed: the
// buffer is emptied.
constexpr int64_t NPC_D_PVM_DP_QXSP_MAX_RECV_LEN = 0xA00000;  // 10 485 760

// ucFlags bits 0-1.
constexpr uint8_t NPC_D_PVM_DP_QXSP_FLAG_REQUEST = 0;
constexpr uint8_t NPC_D_PVM_DP_QXSP_FLAG_RESPONSE = 1;
constexpr uint8_t NPC_D_PVM_DP_QXSP_FLAG_KIND_MASK = 0x03;

struct NPC_S_PVM_DP_QXSP_MSG_HEAD {
  uint32_t dwPacketFlag;  // NPC_D_PVM_DP_QXSP_PACKET_FLAG
  int32_t iPacketLen;     // whole packet, head included
  uint16_t usMsgFuncId;   // message number
  uint8_t ucFlags;        // bits 0-1: 0 request, 1 response
  uint8_t ucResult;       // device result in responses
  uint32_t dwTransId;     // echoed by the device; 0 when unused
  uint8_t ucEncType;      // 0 plain body, 2 encrypted body
  uint8_t ucReserve[3];
};
static_assert(sizeof(NPC_S_PVM_DP_QXSP_MSG_HEAD) == 20, "QXSP head is 20 bytes");
static_assert(offsetof(NPC_S_PVM_DP_QXSP_MSG_HEAD, usMsgFuncId) == 8, "usMsgFuncId at 8");
static_assert(offsetof(NPC_S_PVM_DP_QXSP_MSG_HEAD, ucFlags) == 10, "ucFlags at 10");
static_assert(offsetof(NPC_S_PVM_DP_QXSP_MSG_HEAD, ucResult) == 11, "ucResult at 11");
static_assert(offsetof(NPC_S_PVM_DP_QXSP_MSG_HEAD, dwTransId) == 12, "dwTransId at 12");
static_assert(offsetof(NPC_S_PVM_DP_QXSP_MSG_HEAD, ucEncType) == 16, "ucEncType at 16");

// ---------------------------------------------------------------------------------------------
// Message numbers: (number, name). The group (keep-alive 0x00, session 0x01, live view 0x02,
// records 0x03, talk 0x04, alarm 0x05, configuration 0x09, custom 0x0A, remote control 0x0B,
// snapshot 0x0C, media 0x0E) in the high byte, the function in the low byte.
#define NPC_PVM_DP_QXSP_MSG_LIST(X)            \
  X(0x0001, P0_HEARTBEAT)                      \
  X(0x0101, P1_VER_CONSULT_GET_TOKEN)          \
  X(0x0102, P1_LOGIN)                          \
  X(0x0103, P1_LOGOUT)                         \
  X(0x0104, P1_CLAIM_CHANNEL)                  \
  X(0x0105, P1_LOGIN_CUSTOM)                   \
  X(0x0201, P2_REALPLAY_OPEN)                  \
  X(0x0202, P2_REALPLAY_CLOSE)                 \
  X(0x0203, P2_PTZ)                            \
  X(0x0204, P2_FORCE_I_FRAME)                  \
  X(0x0221, P2_EX_REALPLAY_OPEN)               \
  X(0x0222, P2_EX_REALPLAY_CLOSE)              \
  X(0x0223, P2_CTRL_STREAM)                    \
  X(0x0224, P2_ONLY_I_FRAME)                   \
  X(0x0225, P2_GET_VIDEO_QUALITY_CAP)          \
  X(0x0226, P2_GET_VIDEO_QUALITY_LEVEL)        \
  X(0x0227, P2_SET_VIDEO_QUALITY_LEVEL)        \
  X(0x0301, P3_QUERY_FILE)                     \
  X(0x0302, P3_NSP_QUERY_FILE)                 \
  X(0x0303, P3_QUERY_FILE_RANGE)               \
  X(0x0304, P3_QUERY_FILE_DATE_RANGE)          \
  X(0x0311, P3_DOWNLOAD_OPEN)                  \
  X(0x0312, P3_DOWNLOAD_CLOSE)                 \
  X(0x0313, P3_DOWNLOAD_GET)                   \
  X(0x0314, P3_DOWNLOAD_SEEK)                  \
  X(0x0315, P3_DOWNLOAD_QVIDEO)                \
  X(0x0316, P3_DOWNLOAD_ONLY_IFRAME)           \
  X(0x0317, P3_DOWNLOAD_RECOVER_ALLFRAME)      \
  X(0x0318, P3_DOWNLOAD_OPEN_BY_TIME)          \
  X(0x0319, P3_DOWNLOAD_SEEK_BY_TIME)          \
  X(0x031A, P3_DOWNLOAD_SPEED_CTL)             \
  X(0x031B, P3_DOWNLOAD_CHANGE_STREAM)         \
  X(0x0401, P4_TALK_START)                     \
  X(0x0402, P4_TALK_STOP)                      \
  X(0x0403, P4_TALK_START_EX)                  \
  X(0x0404, P4_TALK_CTRL_EX)                   \
  X(0x0405, P4_TALK_V2_START)                  \
  X(0x0501, P5_GUARD)                          \
  X(0x0502, P5_UNGUARD)                        \
  X(0x0503, P5_UP_ALARM_INFO)                  \
  X(0x0504, P5_SEND_ALARM_INFO)                \
  X(0x0901, P9_MODIFY_USER_PWD)                \
  X(0x0902, P9_GET_CONFIG)                     \
  X(0x0903, P9_SET_CONFIG)                     \
  X(0x0904, P9_GET_DEF_CONFIG)                 \
  X(0x0905, P9_IEC_IMP_CONFIG)                 \
  X(0x0906, P9_IEC_EXP_CONFIG)                 \
  X(0x0911, P9_QUERY_NET_INFO)                 \
  X(0x0912, P9_MODIFY_NET_ADDR)                \
  X(0x0921, P9_COM_OPEN)                       \
  X(0x0922, P9_COM_CLOSE)                      \
  X(0x0923, P9_COM_SEND_DATA)                  \
  X(0x0924, P9_COM_SUBS_DATA)                  \
  X(0x0931, P9_UNS_ADD_USER)                   \
  X(0x0932, P9_UNS_DEL_USER)                   \
  X(0x0933, P9_UNS_GET_USER_POP)               \
  X(0x0934, P9_UNS_SET_USER_POP)               \
  X(0x0A01, PA_CUSTOM)                         \
  X(0x0B01, PB_RMY_QUERY_ABILITY)              \
  X(0x0B02, PB_RMY_REBOOT)                     \
  X(0x0B03, PB_RMY_STOP)                       \
  X(0x0B21, PB_DUP_QUERY_DEV_VER_INFO)         \
  X(0x0B22, PB_DUP_REQU_UPGRADE)               \
  X(0x0B23, PB_DUP_QUERY_PROGRESS)             \
  X(0x0B24, PB_DUP_QUERY_TRANS_POS)            \
  X(0x0B25, PB_DUP_UPGRADE_DATA)               \
  X(0x0C01, PC_CHS_TIMER_SNAPSHOT)             \
  X(0x0E01, PE_VIDEO_FRAME)                    \
  X(0x0E02, PE_AUDIO_FRAME)

enum NPC_E_PVM_DP_QXSP_MSG_FUNC_ID : uint16_t {
#define KORVEN_QXSP_X(num, name) NPC_D_PVM_DP_QXSP_##name = num,
  NPC_PVM_DP_QXSP_MSG_LIST(KORVEN_QXSP_X)
#undef KORVEN_QXSP_X
};

// The name of a message number ("P1_LOGIN"), or null for an unknown number.
const char* NPC_F_PVM_QXSP_GetMsgName(uint16_t usMsgFuncId);

// The operation name logged for a response that carries nothing but a result (PTZ, stream
// control, user and serial-port management, reboot...), or null when the message is not one
// of them.
const char* NPC_F_PVM_QXSP_GetResultOnlyOpName(uint16_t usMsgFuncId);

// ---------------------------------------------------------------------------------------------
// Framing.

enum NPC_E_PVM_DP_QXSP_FRAME : int {
  NPC_D_PVM_DP_QXSP_FRAME_NEED_MORE = 0,  // fewer than 20 bytes, or the packet is incomplete
  NPC_D_PVM_DP_QXSP_FRAME_PACKET = 1,     // a whole packet of *packetLen bytes starts the data
  NPC_D_PVM_DP_QXSP_FRAME_BAD_FLAG = 2,   // the data does not start with the magic
  NPC_D_PVM_DP_QXSP_FRAME_BAD_LEN = 3,    // the declared length is below 20 (0 and negative included)
  NPC_D_PVM_DP_QXSP_FRAME_TOO_LONG = 4,   // still incomplete with 10 MiB or more buffered
};

// Looks at the start of buffered data: what it holds and, for a whole packet, its length.
int NPC_F_PVM_QXSP_FrameNext(const uint8_t* data, size_t len, int32_t* packetLen);

// The head of a packet of at least 20 bytes (0 for a shorter one).
int NPC_F_PVM_QXSP_ReadHead(const uint8_t* pkt, size_t len, NPC_S_PVM_DP_QXSP_MSG_HEAD* out);

// Clears an answer record and reads the head's result byte into it; false when there is no
// record or the packet has no whole head.
template <typename Resp>
inline bool NPC_F_PVM_QXSP_StartResp(const uint8_t* pkt, size_t len, Resp* out) {
  if (!out) return false;
  memset(out, 0, sizeof *out);
  NPC_S_PVM_DP_QXSP_MSG_HEAD h;
  if (!NPC_F_PVM_QXSP_ReadHead(pkt, len, &h)) return false;
  out->ucResult = h.ucResult;
  return true;
}

// ---------------------------------------------------------------------------------------------
// Session packets.

constexpr int NPC_D_PVM_DP_QXSP_HEARTBEAT_LEN = 52;
constexpr int NPC_D_PVM_DP_QXSP_VER_CONSULT_LEN = 112;
constexpr int NPC_D_PVM_DP_QXSP_VER_MAX_NUM = 12;
constexpr int NPC_D_PVM_DP_QXSP_TOKEN_FIELD_LEN = 60;  // at 48
constexpr int NPC_D_PVM_DP_QXSP_LOGIN_LEN = 548;
constexpr int NPC_D_PVM_DP_QXSP_LOGIN_CUSTOM_FIXED_LEN = 556;
constexpr int NPC_D_PVM_DP_QXSP_CLAIM_CHANNEL_LEN = 32;
constexpr int NPC_D_PVM_DP_QXSP_USER_NAME_LEN = 32;
constexpr int NPC_D_PVM_DP_QXSP_DIGEST_LEN = 32;        // hexadecimal characters, then a NUL
// The login answer's fields end here; the custom login answer's 8 bytes further on.
constexpr int NPC_D_PVM_DP_QXSP_LOGIN_RESP_LEN = 548;
constexpr int NPC_D_PVM_DP_QXSP_LOGIN_CUSTOM_RESP_LEN = 556;
constexpr int NPC_D_PVM_DP_QXSP_LOGIN_CUSTOM_SHIFT = 8;

// The protocol versions the module offers, in this order.
extern const uint16_t NPC_D_PVM_DP_QXSP_OFFER_VERSIONS[4];
constexpr int NPC_D_PVM_DP_QXSP_OFFER_VERSION_NUM = 4;

// Device protocol versions that change the session's rules.
constexpr uint16_t NPC_D_PVM_DP_QXSP_VER_0101 = 0x0101;  // "sorvanet" logs in with an empty password
constexpr uint16_t NPC_D_PVM_DP_QXSP_VER_0102 = 0x0102;  // at or below: login failures are all 1009
constexpr uint16_t NPC_D_PVM_DP_QXSP_VER_0213 = 0x0213;  // from here: custom login data
constexpr uint16_t NPC_D_PVM_DP_QXSP_VER_0214 = 0x0214;  // from here: "rqvl" forces speed control

// Writes a head at p: magic, iPacketLen, number, flags, result 0, transaction id, type 0.
void NPC_F_PVM_QXSP_PutHead(uint8_t* p, uint16_t usMsgFuncId, int32_t iPacketLen, uint32_t dwTransId,
                            uint8_t ucFlags = NPC_D_PVM_DP_QXSP_FLAG_REQUEST);

// P0_HEARTBEAT request: 52 bytes into p (the head, then 32 "0" characters).
void NPC_F_PVM_QXSP_PutHeartbeat(uint8_t* p);
// P1_VER_CONSULT_GET_TOKEN request: 112 bytes into p. At most 12 versions are written.
void NPC_F_PVM_QXSP_PutVerConsult(uint8_t* p, const uint16_t* versions, int versionNum, uint8_t ucConsultOption);
// P1_LOGIN request: 548 bytes into p. The user name is cut to 31 bytes, the digest is the 32
// hexadecimal characters.
void NPC_F_PVM_QXSP_PutLogin(uint8_t* p, const char* sUserName, const char* sDigest);
// P1_LOGIN_CUSTOM request: 556 + dataLen bytes into p.
void NPC_F_PVM_QXSP_PutLoginCustom(uint8_t* p, const char* sUserName, const char* sDigest, int32_t iCustomNum,
                                   const void* customData, uint32_t dataLen);

// Version-consult answer.
struct NPC_S_PVM_DP_QXSP_VER_CONSULT_RESP {
  uint8_t ucResult;
  bool bComplete;  // the packet holds all 112 bytes; the fields below are read only then
  uint16_t usProVersion;
  char sToken[NPC_D_PVM_DP_QXSP_TOKEN_FIELD_LEN + 1];
  uint8_t ucLoginMode;
  uint8_t ucEncType;
};
// 0 for a packet shorter than its head; otherwise 1 with ucResult set and, when the packet is
// long enough, the fields.
int NPC_F_PVM_QXSP_ReadVerConsultResp(const uint8_t* pkt, size_t len, NPC_S_PVM_DP_QXSP_VER_CONSULT_RESP* out);

// Login answer. The seven device information texts are kept whole (each field plus a NUL).
struct NPC_S_PVM_DP_QXSP_LOGIN_RESP {
  uint8_t ucResult;
  bool bComplete;  // the packet holds every field (548 bytes, 556 for the custom login)
  uint32_t dwLoginId;
  char sText1[8 + 1];
  char sText2[36 + 1];
  char sText3[32 + 1];
  char sText4[32 + 1];
  char sText5[36 + 1];
  char sText6[32 + 1];
  char sText7[32 + 1];
  uint8_t ucAbility[8];
  uint8_t ucChannelInfo[16];  // first u32: number of video channels
  uint32_t dwValue[3];        // kept, not interpreted
};
// As the consult reader; bCustom reads the custom login answer (fields 8 bytes further on).
int NPC_F_PVM_QXSP_ReadLoginResp(const uint8_t* pkt, size_t len, bool bCustom, NPC_S_PVM_DP_QXSP_LOGIN_RESP* out);

// ---------------------------------------------------------------------------------------------
// Login.

// Which login message a device gets after the version consult.
enum NPC_E_PVM_DP_QXSP_LOGIN_KIND : int {
  NPC_D_PVM_DP_QXSP_LOGIN_KIND_PLAIN = 0,           // P1_LOGIN with the device's login mode
  NPC_D_PVM_DP_QXSP_LOGIN_KIND_EMPTY_PWD = 1,       // P1_LOGIN, login mode 0 and an empty password
  NPC_D_PVM_DP_QXSP_LOGIN_KIND_CUSTOM = 2,          // P1_LOGIN_CUSTOM
};
int NPC_F_PVM_QXSP_ChooseLoginKind(uint16_t usProVersion, const char* szCustomId, int32_t iCustomNum);

// The login digest: MD5 over token ":" p as 32 lower-case hexadecimal characters and a NUL,
// where p is the password, or its 8-character short form when iClientFlag is 10 or the login
// mode is 1.
void NPC_F_PVM_QXSP_MakeLoginDigest(const char* sToken, const char* sPwd, int iClientFlag, int iLoginMode,
                                    char out[33]);

// Translates a login answer's result by the device's protocol version into a library code and
// writes the log text into text (textSize bytes). 0 for success.
int32_t NPC_F_PVM_QXSP_TransLoginResult(uint16_t usProVersion, uint8_t ucResult, char* text, size_t textSize);

// Translates a device result code of a transaction answer into a library code and writes its
// log text ("success", "pwd error", "Custom error codes: 165"...) into buf (bufLen bytes).
int32_t NPC_F_PVM_QXSP_TransProErrorCode(uint8_t ucResult, int bufLen, char* buf);

#endif
