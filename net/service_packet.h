// Service packets: the 16-byte frame head that delimits packets on a stream, the 24-byte
// service head NPC_S_SMP_COM_PACKET_HEAD, the one table of every function id the system uses,
// packet building, and the framing parser that every reader of a packet stream shares.
//
// Wire layout (little-endian):
//    0  u32 dwNetHeadFlag   always 0xFFFFFFFF
//    4  u32 dwPacketSize    whole packet, these 16 bytes included
//    8  u32 reserved        0
//   12  u16 usScrambleFlag  (value & 6) == 2: bytes 16.. are scrambled (NPC_F_COM_PACKET_Encode)
//   14  u8  ucEncType       0 plain, 2 body encrypted (net/packet_ed.h)
//   15  u8  reserved        0
//   16  the service head (24 bytes), then the body (dwBodyLen bytes)
//
// A packet is well framed when its flag is 0xFFFFFFFF, its size is at least 40 and at most
// NPC_D_SMP_COM_MAX_PACKET_SIZE, and its body (after unscrambling) fits inside the size.
#ifndef KORVEN_NET_SERVICE_PACKET_H
#define KORVEN_NET_SERVICE_PACKET_H

#include <cstddef>
#include <cstdint>
#include <vector>

// --- Function ids ---------------------------------------------------------------------------
//
// The family is bits 16..23 of the id, the message bits 0..15.
constexpr uint32_t NPC_D_SMP_COM_FUNCGROUP_GCOM = 0x00;  // common
constexpr uint32_t NPC_D_SMP_COM_FUNCGROUP_MONA = 0x03;  // account service
constexpr uint32_t NPC_D_SMP_COM_FUNCGROUP_NSPB = 0x04;  // direct camera media service
constexpr uint32_t NPC_D_SMP_COM_FUNCGROUP_SCTR = 0x05;  // client state reports
constexpr uint32_t NPC_D_SMP_COM_FUNCGROUP_DINP = 0x07;  // data relayed between device and client
constexpr uint32_t NPC_D_SMP_COM_FUNCGROUP_USTP = 0x11;  // UDP test and NAT traversal
constexpr uint32_t NPC_D_SMP_COM_FUNCGROUP_STCP = 0x12;  // peer link and logical TCP connections
constexpr uint32_t NPC_D_SMP_COM_FUNCGROUP_CINP = 0x14;  // client to authentication or UST server
constexpr uint32_t NPC_D_SMP_COM_FUNCGROUP_TRSP = 0x16;  // transfer server

inline uint32_t NPC_F_SMP_COM_FuncIdGroup(uint32_t funcId) { return (funcId >> 16) & 0xFF; }

// Every function id of the system: X(name, id). Names of ids that have no name of their own
// elsewhere are made from the operation they serve; the four local-mode ids whose operation is
// not described carry their number (MONA_REQU_xxxxx).
#define NPC_D_SMP_COM_FUNC_ID_LIST(X)                     \
  /* Transport and connection layers */                   \
  X(GCOM_HEARTBEAT, 0x000001)                             \
  X(SCTR_UPDATE_CLIENT_STATE_V2, 0x050202)                \
  X(DINP_TRANS_DATA, 0x070211)                            \
  X(USTP_NATC_REQU_MULT_RESP, 0x110001)                   \
  X(USTP_NATC_REQU_IMM_RESP, 0x110002)                    \
  X(USTP_NATC_NET_ACTIVE_MSG, 0x110003)                   \
  X(USTP_NATC_NET_ACTIVE_MSG_EX, 0x110004)                \
  X(USTP_CNRM_TEST_SERVER, 0x110101)                      \
  X(STCP_REQU_SETUP_CONNECT, 0x120001)                    \
  X(STCP_SEND_TEST_MSG, 0x120002)                         \
  X(STCP_CLOSE_SESSION, 0x120003)                         \
  X(STCP_REQU_SETUP_TCP_TRANS_CONNECT, 0x120004)          \
  X(STCP_TCP_CONNECT, 0x120101)                           \
  X(STCP_TCP_DISCONNECT, 0x120102)                        \
  X(STCP_SEND_DATA, 0x120103)                             \
  X(STCP_REQU_CLEAR_CACHE, 0x120105)                      \
  X(STCP_ACTIVE_MSG, 0x120106)                            \
  X(CINP_QUERY_DEV_NET_PARAM, 0x140002)                   \
  X(CINP_CLIENT_REG_SERVER, 0x140003)                     \
  X(CINP_QUERY_DEV_STATE, 0x140004)                       \
  X(CINP_QUERY_AUTH_SRV_ADDR, 0x140005)                   \
  X(CINP_CLIENT_CHECK_UST, 0x140006)                      \
  X(CINP_QUERY_ALL_AUTH_SRV_ADDR, 0x140007)               \
  X(CINP_QUERY_STORAGE_SRV_ADDR, 0x140008)                \
  X(CINP_REQU_UP_LOG_INFO, 0x140101)                      \
  X(CINP_REQU_STOP_UP_LOG_INFO, 0x140102)                 \
  X(CINP_PUSH_ALARM_INFO, 0x140110)                       \
  X(CINP_PUSH_DEV_STATE, 0x140111)                        \
  X(TRSP_HMA_SETUP_TCP_CONNECT, 0x160101)                 \
  /* Account service: user and client */                  \
  X(MONA_REGISTER, 0x030101)                              \
  X(MONA_UNREGISTER, 0x030102)                            \
  X(MONA_LOGOUT, 0x030104)                                \
  X(MONA_UPDATE_CLIENT_INFO, 0x030105)                    \
  X(MONA_MODIFY_USER_PWD, 0x030106)                       \
  X(MONA_QUERY_USER_GLOBAL_POPEDOM, 0x030107)             \
  X(MONA_QUERY_USER_DEV_POPEDOM, 0x030108)                \
  X(MONA_REQU_SEND_SECURITY_CODE, 0x030109)               \
  X(MONA_REGISTER_BY_SECURITY_CODE, 0x03010a)             \
  X(MONA_GET_LOGIN_TOKEN, 0x03010c)                       \
  X(MONA_LOGIN_EX, 0x03010d)                              \
  X(MONA_GET_CLIENT_CONFIG, 0x03010e)                     \
  X(MONA_GET_NEW_VER_INFO, 0x03010f)                      \
  X(MONA_FORGET_PWD, 0x030110)                            \
  X(MONA_REQU_ALLOC_USER_ID, 0x030111)                    \
  X(MONA_REGISTER_ACCOUNT_NO_ACTIVE, 0x030112)            \
  X(MONA_QUERY_REG_EMAIL, 0x030114)                       \
  X(MONA_SEND_RESET_PWD_EMAIL, 0x030115)                  \
  X(MONA_REGISTER_ACCOUNT_NO_ACTIVE_V2, 0x030117)         \
  X(MONA_GET_BIND_LOGIN_USER, 0x030118)                   \
  X(MONA_SET_BIND_LOGIN_USER, 0x030119)                   \
  X(MONA_GET_DEV_LIMIT_ADD_POP, 0x03011a)                 \
  X(MONA_SET_DEV_LIMIT_ADD_POP, 0x03011b)                 \
  X(MONA_QUERY_USER_AT_AUTHSRV, 0x03011d)                 \
  X(MONA_UDMK_SET_CHARSET, 0x030151)                      \
  X(MONA_UDMK_SET_ALARM_NOTIFY, 0x030152)                 \
  X(MONA_UDMK_ALARM_LOGIN, 0x030153)                      \
  X(MONA_UDMK_GET_DEV_LIST_V1, 0x030154)                  \
  X(MONA_UDMK_USER_LOGIN, 0x030160)                       \
  /* Account service: device tree */                      \
  X(MONA_ADD_NODE, 0x030201)                              \
  X(MONA_QUERY_NODE_INFO, 0x030203)                       \
  X(MONA_ADD_DEV, 0x030204)                               \
  X(MONA_DEL_DEV, 0x030205)                               \
  X(MONA_MODIFY_CONN_PARAM, 0x030206)                     \
  X(MONA_MODIFY_NODE_NAME, 0x030207)                      \
  X(MONA_QUERY_DEV_INFO, 0x030208)                        \
  X(MONA_QUERY_DEV_STATE, 0x030209)                       \
  X(MONA_REQU_3020A, 0x03020a)                            \
  X(MONA_SET_PTZ_NAME, 0x03020b)                          \
  X(MONA_QUERY_PTZ_NAME_LIST, 0x03020c)                   \
  X(MONA_QUERY_DEVID_BY_CONNPARAM, 0x03020d)              \
  X(MONA_QUERY_DEV_LIST, 0x03020e)                        \
  X(MONA_REQU_3020F, 0x03020f)                            \
  X(MONA_VENDOR_QUERY_CONN_PARAM_TABLE, 0x030210)         \
  X(MONA_REQU_30211, 0x030211)                            \
  X(MONA_COORDINATE_SET_DEV_COOR, 0x030212)               \
  X(MONA_COORDINATE_DEL_DEV_COOR, 0x030213)               \
  X(MONA_EMP_DEV_EMPOWER, 0x030214)                       \
  X(MONA_EMP_CANCEL_DEV_EMPOWER, 0x030215)                \
  X(MONA_EMP_QUERY_DEV_ACCEPTER_USER_LIST, 0x030216)      \
  X(MONA_EMP_QUERY_DEV_EMPOWER_USER_ID, 0x030217)         \
  /* Account service: arming and alarms */                \
  X(MONA_ARM_SET_ALARM, 0x030218)                         \
  X(MONA_ARM_CANCEL_ALARM, 0x030219)                      \
  X(MONA_ARM_SET_NOTIFY_PARAM, 0x03021a)                  \
  X(MONA_ARM_CANCEL_NOTIFY_PARAM, 0x03021b)               \
  X(MONA_ARM_SET_ALARM_ACTION, 0x03021c)                  \
  X(MONA_ARM_CANCEL_ALARM_ACTION, 0x03021d)               \
  X(MONA_ARM_QUERY_ARM_INFO, 0x03021e)                    \
  X(MONA_ARM_ARM_CTRL, 0x03021f)                          \
  X(MONA_ARM_ALARM_RECORD_QUERY, 0x030220)                \
  X(MONA_ARM_ALARM_RECORD_DELETE, 0x030221)               \
  X(MONA_ARM_ALARM_RECORD_VILLAGE_QUERY, 0x030222)        \
  X(MONA_ARM_ALARM_RECORD_VILLAGE_SET_RESULT, 0x030223)   \
  X(MONA_ARM_GET_NOTIFY_LANGUAGE, 0x030224)               \
  X(MONA_ARM_SET_NOTIFY_LANGUAGE, 0x030225)               \
  X(MONA_ARM_SET_ALARM_EX, 0x030226)                      \
  X(MONA_ARM_ALARM_RECORD_DELETE_ALL, 0x030227)           \
  X(MONA_ARM_GET_CLIENT_ALARM_NOTIFY_PARAM, 0x030228)     \
  X(MONA_ARM_SET_CLIENT_ALARM_NOTIFY_PARAM, 0x030229)     \
  X(MONA_ARM_UPDATE_CLIENT_TOKEN, 0x03022a)               \
  X(MONA_ARM_GET_CLIENT_IF_RECV_PUSH, 0x03022b)           \
  X(MONA_ARM_SET_CLIENT_IF_RECV_PUSH, 0x03022c)           \
  X(MONA_ARM_GET_CLIENT_PUSH_PARAM, 0x03022d)             \
  X(MONA_ARM_SET_CLIENT_PUSH_PARAM, 0x03022e)             \
  X(MONA_ACTIVATE_USER_PUSH, 0x03022f)                    \
  X(MONA_MPR_ADD_DIR_NODE, 0x030230)                      \
  X(MONA_MPR_ADD_DEV_NODE, 0x030231)                      \
  X(MONA_MPR_DEL_DEV_NODE, 0x030232)                      \
  X(MONA_MPR_MODIFY_P2P_DEV_PARAM, 0x030233)              \
  X(MONA_MPR_ADD_CAMERA_NODE, 0x030234)                   \
  X(MONA_MPR_MODIFY_DEV_CONN_PARAM, 0x030235)             \
  X(MONA_MPR_MODIFY_NODE_NAME, 0x030236)                  \
  X(MONA_GET_DEV_CONNECT_INFO, 0x030301)                  \
  X(MONA_DEMO_LIST_QUERY, 0x030304)                       \
  X(MONA_SYS_MSG_LIST_QUERY, 0x030305)                    \
  X(MONA_GET_CUSTOM_VENDOR_TABLE, 0x030401)               \
  /* Account service: pushes from the server */           \
  X(MONA_PUSH_ORDER, 0x030402)                            \
  X(MONA_PUSH_PROMPT, 0x030403)                           \
  X(MONA_PUSH_NODE_UPDATE, 0x030404)                      \
  X(MONA_PUSH_NODE_DELETE, 0x030405)                      \
  X(MONA_PUSH_GLOBAL_POPEDOM, 0x030406)                   \
  X(MONA_PUSH_DEV_ALARM, 0x030407)                        \
  X(MONA_PUSH_DEV_ALARM_V2, 0x030408)                     \
  X(MONA_PUSH_ANNOUNCEMENT, 0x030409)                     \
  X(MONA_PUSH_CAMERA_ALARM, 0x03040a)                     \
  X(MONA_PUSH_CAMERA_ALARM_V2, 0x03040b)                  \
  X(MONA_PUSH_NODE_UPDATE_V2, 0x03040c)                   \
  X(MONA_SET_USER_VALIDITY, 0x030502)                     \
  X(MONA_MODIFY_USER_INFO, 0x030503)                      \
  X(MONA_THUMB_QUERY_CAMERA_THUMB_URL, 0x030510)          \
  X(MONA_THUMB_REQU_UP_CAMERA_THUMB_URL, 0x030511)        \
  X(MONA_THUMB_QUERY_USER_ALL_CAMERA_THUMB_URL, 0x030512) \
  X(MONA_THUMB_SET_CAMERA_THUMB_URL_IF_ENABLE, 0x030513)  \
  X(MONA_QUERY_DEV_LIST_V3, 0x03820f)                     \
  X(MONA_QUERY_DEV_LIST_V4, 0x038210)                     \
  X(MONA_QUERY_NODE_DATA, 0x038211)                       \
  X(MONA_REQU_38301, 0x038301)                            \
  X(MONA_QUERY_DEV_PARAM_LIST, 0x038302)                  \
  X(MONA_GET_CUSTOM_CONFIG_TABLE, 0x03a10e)               \
  /* Direct camera media service */                       \
  X(NSPB_CONNECT, 0x040001)                               \
  X(NSPB_OPEN_REALPLAY, 0x040005)                         \
  X(NSPB_START_TALK, 0x040006)                            \
  X(NSPB_STOP_MEDIA, 0x040007)                            \
  X(NSPB_PTZ_CTRL, 0x040008)                              \
  X(NSPB_START_RECORD, 0x040009)                          \
  X(NSPB_STOP_RECORD, 0x04000a)                           \
  X(NSPB_SEARCH_REC_FILE, 0x04000b)                       \
  X(NSPB_PLAY_REC_FILE, 0x04000c)                         \
  X(NSPB_STOP_PLAYBACK, 0x04000d)                         \
  X(NSPB_PLAY_CTRL, 0x04000e)                             \
  X(NSPB_ALARM_CTRL, 0x04000f)                            \
  X(NSPB_MEDIA_STREAM_CTRL, 0x040010)                     \
  X(NSPB_START_DOWNLOAD, 0x040011)                        \
  X(NSPB_STOP_DOWNLOAD, 0x040012)                         \
  X(NSPB_GET_DOWNLOAD_DATA, 0x040013)                     \
  X(NSPB_MODIFY_PWD, 0x040014)                            \
  X(NSPB_ALARM_INFO, 0x040101)                            \
  X(NSPB_MEDIA_DATA, 0x040102)

enum NPC_E_SMP_COM_FUNC_ID : uint32_t {
#define NPC_D_SMP_COM_FUNC_ID_ENUM(name, id) name = id,
  NPC_D_SMP_COM_FUNC_ID_LIST(NPC_D_SMP_COM_FUNC_ID_ENUM)
#undef NPC_D_SMP_COM_FUNC_ID_ENUM
};

// The name of a function id of the table, or null for an id outside it.
const char* NPC_F_SMP_COM_GetFuncIdName(uint32_t funcId);

// --- Heads ----------------------------------------------------------------------------------

constexpr uint32_t NPC_D_SMP_COM_NET_HEAD_FLAG = 0xFFFFFFFF;
constexpr int NPC_D_SMP_COM_NET_HEAD_LEN = 16;
constexpr int NPC_D_SMP_COM_PACKET_HEAD_LEN = 24;
constexpr int NPC_D_SMP_COM_HEAD_LEN = 40;  // both heads
constexpr uint16_t NPC_D_SMP_COM_VERSION = 0x0100;
constexpr uint16_t NPC_D_SMP_COM_PACKET_TYPE_REQU = 0;
constexpr uint16_t NPC_D_SMP_COM_PACKET_TYPE_RESP = 1;
// Bit 31 of dwTransId: the sender waits for the response.
constexpr uint32_t NPC_D_SMP_COM_TRANS_WAIT_FLAG = 0x80000000u;
// The scramble flag value that senders write, and the test receivers apply.
constexpr uint16_t NPC_D_SMP_COM_SCRAMBLE_FLAG = 2;
inline bool NPC_F_SMP_COM_IfScrambled(uint16_t flag) { return (flag & 6) == 2; }

// Largest packet accepted from a stream: 20 MiB. A head announcing more is a framing error at
// once, rather than after 20 MiB of waiting.
constexpr uint32_t NPC_D_SMP_COM_MAX_PACKET_SIZE = 20971520;

// The frame head (offsets 0..15).
struct NPC_S_SMP_COM_NET_HEAD {
  uint32_t dwNetHeadFlag;
  uint32_t dwPacketSize;
  uint32_t dwReserved;
  uint16_t usScrambleFlag;
  uint8_t ucEncType;
  uint8_t ucReserved;
};
static_assert(sizeof(NPC_S_SMP_COM_NET_HEAD) == 16, "frame head is 16 bytes");
static_assert(offsetof(NPC_S_SMP_COM_NET_HEAD, usScrambleFlag) == 12 && offsetof(NPC_S_SMP_COM_NET_HEAD, ucEncType) == 14,
              "frame head layout");

// The service head (offsets 16..39 of a packet).
struct NPC_S_SMP_COM_PACKET_HEAD {
  uint16_t usVersion;
  uint16_t usPacketType;
  uint32_t dwFuncId;
  uint32_t dwTransId;
  uint32_t dwSeqNo;
  int32_t iResult;
  uint32_t dwBodyLen;
};
static_assert(sizeof(NPC_S_SMP_COM_PACKET_HEAD) == 24, "service head is 24 bytes");
static_assert(offsetof(NPC_S_SMP_COM_PACKET_HEAD, dwFuncId) == 4 && offsetof(NPC_S_SMP_COM_PACKET_HEAD, dwTransId) == 8 &&
                  offsetof(NPC_S_SMP_COM_PACKET_HEAD, dwSeqNo) == 12 && offsetof(NPC_S_SMP_COM_PACKET_HEAD, iResult) == 16 &&
                  offsetof(NPC_S_SMP_COM_PACKET_HEAD, dwBodyLen) == 20,
              "service head layout");

// Reads the frame head from the first 16 bytes of data (little-endian); false when fewer.
bool NPC_F_SMP_COM_ReadNetHead(const void* data, uint64_t len, NPC_S_SMP_COM_NET_HEAD* out);
// Reads a service head from data, which starts at the service head (offset 16 of a packet);
// false when fewer than 24 bytes are there. Callbacks that receive a packet from its service
// head use this rather than casting the pointer, which need not be aligned.
bool NPC_F_SMP_COM_ReadPacketHead(const void* data, uint64_t len, NPC_S_SMP_COM_PACKET_HEAD* out);
// Writes a service head (24 bytes) at out.
void NPC_F_SMP_COM_WritePacketHead(void* out, const NPC_S_SMP_COM_PACKET_HEAD& head);

// Builds a whole packet into out: frame head (flag, size, scramble flag 0, type 0), the
// service head with head.dwBodyLen set to bodyLen, and the body. When scramble is set, the
// bytes from offset 16 on are scrambled and the scramble flag is 2. False when the packet
// would exceed NPC_D_SMP_COM_MAX_PACKET_SIZE.
bool NPC_F_SMP_COM_BuildPacket(std::vector<uint8_t>* out, NPC_S_SMP_COM_PACKET_HEAD head, const void* body,
                               uint32_t bodyLen, bool scramble = false);

// --- Framing --------------------------------------------------------------------------------

enum NPC_E_SMP_COM_FRAME : int {
  NPC_D_SMP_COM_FRAME_NEED_MORE = 0,   // not a whole packet yet
  NPC_D_SMP_COM_FRAME_OK = 1,          // a whole, well-framed packet
  NPC_D_SMP_COM_FRAME_BAD_FLAG = -1,   // the first word is not 0xFFFFFFFF
  NPC_D_SMP_COM_FRAME_BAD_SIZE = -2,   // dwPacketSize below 40
  NPC_D_SMP_COM_FRAME_TOO_LARGE = -3,  // dwPacketSize above the maximum, or too much buffered
  NPC_D_SMP_COM_FRAME_BAD_BODY = -4,   // the body length runs past the packet
};

// Judges the frame at the start of data[0..len): NEED_MORE while fewer than 16 bytes or less
// than the announced size are there; OK with *packetSize set when the whole packet is there;
// an error code for a bad flag or size. Does not look at the body length (it may be scrambled).
int NPC_F_SMP_COM_CheckFrame(const uint8_t* data, uint64_t len, uint32_t* packetSize);

// Opens a whole packet in place: unscrambles bytes 16.. when the scramble flag says so (and
// clears the flag, so a packet is never unscrambled twice), then checks that the body fits in
// the packet. OK or BAD_BODY.
int NPC_F_SMP_COM_OpenPacket(uint8_t* packet, uint32_t packetSize);

// A receive buffer that cuts a byte stream into packets. Bytes are appended as they arrive;
// NPC_F_SMP_COM_FRAMER_Next hands out one opened packet at a time.
struct NPC_S_SMP_COM_FRAMER {
  std::vector<uint8_t> buf;
  size_t start = 0;  // first byte not yet handed out
};
// Appends len bytes.
void NPC_F_SMP_COM_FRAMER_Append(NPC_S_SMP_COM_FRAMER* f, const void* data, size_t len);
// The next packet: OK with *packet (valid until the next call on the framer) and *packetSize;
// NEED_MORE; or a framing error, after which the stream cannot be resynchronised and the
// owner drops the connection (the framer keeps returning the error until it is reset).
int NPC_F_SMP_COM_FRAMER_Next(NPC_S_SMP_COM_FRAMER* f, uint8_t** packet, uint32_t* packetSize);
// Bytes buffered and not yet handed out.
size_t NPC_F_SMP_COM_FRAMER_Buffered(const NPC_S_SMP_COM_FRAMER* f);
void NPC_F_SMP_COM_FRAMER_Reset(NPC_S_SMP_COM_FRAMER* f);

#endif
