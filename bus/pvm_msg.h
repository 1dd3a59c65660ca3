// The bus vocabulary: the order messages that travel between the camera sessions and the device
// protocol modules, the network messages between the modules and the protocol bus engine, their
// codes and kinds, the fixed body layouts, the vendor table with each module's descriptor, and
// the builders and the checked readers that every layer above uses instead of computing offsets.
//
// A message is one contiguous little-endian buffer: a fixed head, then a body. Order bodies are
// described from the end of the 24-byte head (every camera order and notice starts with
// dwCameraConnId); network messages are described from the start of the message, so their
// records include the 20-byte head. No record is packed: every field sits at its natural
// alignment, and the layouts are pinned by static_assert. Buffers handed in may be unaligned,
// so readers copy records out with memcpy rather than casting pointers.
#ifndef KORVEN_BUS_PVM_MSG_H
#define KORVEN_BUS_PVM_MSG_H

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#include "bus/pvm_records.h"
#include "runtime/systime.h"

#define KORVEN_PVM_PIN(T, field, off) static_assert(offsetof(T, field) == (off), #T "." #field " sits at " #off)
#define KORVEN_PVM_SIZE(T, size) static_assert(sizeof(T) == (size), #T " is " #size " bytes")

// ---------------------------------------------------------------------------------------------
// Codes and kinds, each closed set from one list.

// Order codes: (code, name). Groups of 16: connection 0x201, live view 0x210, recordings
// 0x220, talk 0x230, alarms 0x240, stream control 0x250, download 0x260, configuration 0x270,
// device management 0x280 and 0x290, media and events 0x2A0, file queries 0x300; below them
// the engine's server orders and notices.
#define NPC_PVM_ORDER_CODE_LIST(X)            \
  X(257, ORDER_SRV_QUERY_DEV_STATE)           \
  X(258, ORDER_SRV_TRANS_DATA_TO_DEV)         \
  X(337, DEV_STATE_NOTIFY)                    \
  X(338, CONN_SRV_INFO_NOTIFY)                \
  X(513, ORDER_CAMERA_CONNECT)                \
  X(514, ORDER_CAMERA_DISCONNECT)             \
  X(515, ORDER_CAMERA_SWITCH_TRANS_MODE)      \
  X(516, ORDER_CAMERA_QUERY_CONN_MODE)        \
  X(528, ORDER_OPEN_REALPLAY)                 \
  X(529, ORDER_CLOSE_REALPLAY)                \
  X(530, ORDER_PTZ)                           \
  X(531, ORDER_FORCE_I_FRAME)                 \
  X(532, ORDER_SWITCH_CHANNEL)                \
  X(533, ORDER_QUERY_CUR_CHSTREAMNO)          \
  X(534, ORDER_GET_VIDEO_QUALITY_CAP)         \
  X(535, ORDER_GET_VIDEO_QUALITY_LEVEL)       \
  X(536, ORDER_SET_VIDEO_QUALITY_LEVEL)       \
  X(544, ORDER_QUERY_RECFILE)                 \
  X(545, ORDER_NSP_QUERY_FILE)                \
  X(547, ORDER_START_PLAY_RECFILE)            \
  X(548, ORDER_STOP_PLAY_RECFILE)             \
  X(549, ORDER_CTRL_PLAY_RECFILE)             \
  X(550, ORDER_PLAYBACK_BY_TIMESECT)          \
  X(551, ORDER_CTRL_PLAY_BACK_SPEED)          \
  X(560, ORDER_START_TALK)                    \
  X(561, ORDER_STOP_TALK)                     \
  X(562, ORDER_START_TALK_EX)                 \
  X(563, ORDER_CTRL_TALK_EX)                  \
  X(564, ORDER_START_TALK_V2)                 \
  X(576, ORDER_START_GET_ALARM)               \
  X(577, ORDER_STOP_GET_ALARM)                \
  X(592, ORDER_CTRL_MEDIA_STREAM)             \
  X(593, ORDER_ONLY_I_FRAME)                  \
  X(608, ORDER_REC_DOWNLOAD_START)            \
  X(609, ORDER_REC_DOWNLOAD_STOP)             \
  X(610, ORDER_REC_DOWNLOAD_START_BY_TIME)    \
  X(624, ORDER_GET_CONFIG)                    \
  X(625, ORDER_SET_CONFIG)                    \
  X(626, ORDER_GET_DEF_CONFIG)                \
  X(627, ORDER_IEC_IMP_CONFIG)                \
  X(628, ORDER_IEC_EXP_CONFIG)                \
  X(640, ORDER_MODIFY_DEV_PWD)                \
  X(641, ORDER_COM_OPEN)                      \
  X(642, ORDER_COM_CLOSE)                     \
  X(643, ORDER_COM_SEND_DATA)                 \
  X(645, ORDER_UNS_ADD_USER)                  \
  X(646, ORDER_UNS_DEL_USER)                  \
  X(647, ORDER_UNS_GET_USER_POP)              \
  X(648, ORDER_UNS_SET_USER_POP)              \
  X(656, ORDER_CUSTOM)                        \
  X(662, ORDER_RMY_QUERY_ABILITY)             \
  X(663, ORDER_RMY_REBOOT)                    \
  X(664, ORDER_RMY_STOP)                      \
  X(665, ORDER_DUP_QUERY_DEV_VER_INFO)        \
  X(666, ORDER_DUP_REQU_UPGRADE)              \
  X(667, ORDER_DUP_QUERY_PROGRESS)            \
  X(668, ORDER_DUP_QUERY_TRANS_POS)           \
  X(669, ORDER_DUP_UPGRADE_DATA)              \
  X(672, ORDER_MEDIA_DATA)                    \
  X(673, ORDER_ALARM_DATA)                    \
  X(674, ORDER_NOTIFY_DISCONNECT)             \
  X(675, ORDER_RAW_DATA)                      \
  X(676, ORDER_Dev_PublicIpAddr)              \
  X(677, ORDER_TIMER_SNAPSHOT)                \
  X(678, ORDER_THUMB_DATA)                    \
  X(769, EVENT_REC_DOWNLOAD_DATA)             \
  X(770, EVENT_REC_DOWNLOAD_STATE)            \
  X(771, ORDER_NSP_QUERY_FILE_RANGE)          \
  X(772, ORDER_NSP_QUERY_FILE_DATE)

// Second names that module dispatchers use for the same orders: (alias, order).
#define NPC_PVM_ORDER_ALIAS_LIST(X)             \
  X(ORDER_SEARCHRECFILE, ORDER_QUERY_RECFILE)   \
  X(ORDER_SATRT_TALK, ORDER_START_TALK)         \
  X(ORDER_SATRT_Alarm, ORDER_START_GET_ALARM)   \
  X(ORDER_Stop_Alarm, ORDER_STOP_GET_ALARM)     \
  X(ORDER_CHANGEPASSWORD, ORDER_MODIFY_DEV_PWD) \
  X(ORDER_P2PPort_Data, ORDER_RAW_DATA)

enum NPC_E_PVM_ORDER_CODE : int32_t {
#define KORVEN_PVM_X(code, name) name = code,
  NPC_PVM_ORDER_CODE_LIST(KORVEN_PVM_X)
#undef KORVEN_PVM_X
#define KORVEN_PVM_X(alias, name) alias = name,
  NPC_PVM_ORDER_ALIAS_LIST(KORVEN_PVM_X)
#undef KORVEN_PVM_X
};

// Kinds of an order message (the head's iMsgType).
#define NPC_PVM_ORDER_MSG_TYPE_LIST(X)         \
  X(0, NPC_D_PVM_ORDER_MSG_TYPE_REQUEST)       \
  X(1, NPC_D_PVM_ORDER_MSG_TYPE_RESPONSE)      \
  X(2, NPC_D_PVM_ORDER_MSG_TYPE_EVENT)
// 0 is a request going down or a notification coming up; 2 marks the engine's own notices
// (337, 338) and the download events (769, 770).

// Network message codes.
#define NPC_PVM_NET_MSG_CODE_LIST(X)   \
  X(1, NET_TCP_CONNECT)                \
  X(2, NET_TCP_DISCONNECT)             \
  X(3, NET_SEND_DATA)                  \
  X(4, NET_REDIRECT_DATA)              \
  X(5, NET_REQU_CLEAR_CACHE)           \
  X(6, NET_SWITCH_MEDIA_TRANS_MODE)    \
  X(10, NET_OOB_RECV)                  \
  X(12, NET_RECV_MEDIA_FRAME)

// Kinds of a network message (the head's iMsgType).
#define NPC_PVM_NET_MSG_TYPE_LIST(X)  \
  X(0, NPC_D_PVM_NET_MSG_TYPE_REQUEST) \
  X(1, NPC_D_PVM_NET_MSG_TYPE_RESPONSE)

// Event kinds of the module callback: what the message handed to the engine is.
#define NPC_PVM_EVENT_TYPE_LIST(X)        \
  X(0, NPC_D_PVM_EVENT_TYPE_NET_DATA)     \
  X(1, NPC_D_PVM_EVENT_TYPE_ORDER_DATA)

enum NPC_E_PVM_ORDER_MSG_TYPE : int32_t {
#define KORVEN_PVM_X(code, name) name = code,
  NPC_PVM_ORDER_MSG_TYPE_LIST(KORVEN_PVM_X)
};
enum NPC_E_PVM_NET_MSG_CODE : int32_t { NPC_PVM_NET_MSG_CODE_LIST(KORVEN_PVM_X) };
enum NPC_E_PVM_NET_MSG_TYPE : int32_t { NPC_PVM_NET_MSG_TYPE_LIST(KORVEN_PVM_X) };
enum NPC_E_PVM_EVENT_TYPE : int32_t { NPC_PVM_EVENT_TYPE_LIST(KORVEN_PVM_X) };
#undef KORVEN_PVM_X

// Names for logs; null for a value outside the set.
const char* NPC_F_PVM_GetOrderName(int32_t iMsgId);
const char* NPC_F_PVM_GetOrderMsgTypeName(int32_t iMsgType);
const char* NPC_F_PVM_GetNetMsgName(int32_t iMsgId);
const char* NPC_F_PVM_GetNetMsgTypeName(int32_t iMsgType);
const char* NPC_F_PVM_GetEventTypeName(int32_t iEventType);

// ---------------------------------------------------------------------------------------------
// Heads.

constexpr int NPC_D_PVM_ORDER_MSG_HEAD_LEN = 24;
constexpr int NPC_D_PVM_NET_MSG_HEAD_LEN = 20;
// A message, head included, is at most this long: lengths travel as i32.
constexpr int64_t NPC_D_PVM_MSG_MAX_LEN = INT32_MAX;

// Order message head (24 bytes); the body follows at 24.
struct NPC_S_PVM_ORDER_MSG_HEAD {
  int32_t iMsgId;       // order code
  int32_t iMsgType;     // NPC_D_PVM_ORDER_MSG_TYPE_*
  uint32_t dwTransId;   // transaction of a waiting call; 0 for a notification
  uint32_t dwVendorId;  // module that handles the order; 0 for the server orders and engine notices
  int32_t iResult;      // 0, or a module result code in a response
  int32_t iBodyLen;     // bytes after the head
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_MSG_HEAD, 24);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_MSG_HEAD, iMsgType, 4);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_MSG_HEAD, dwTransId, 8);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_MSG_HEAD, dwVendorId, 12);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_MSG_HEAD, iResult, 16);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_MSG_HEAD, iBodyLen, 20);

// Network message head (20 bytes); the body follows at 20.
struct NPC_S_PVM_NET_MSG_HEAD {
  int32_t iMsgId;      // network message code
  int32_t iMsgType;    // NPC_D_PVM_NET_MSG_TYPE_*
  uint32_t dwReserve;  // 0
  int32_t iResult;     // in a response: 0, or a module result code (8: the engine could not set up)
  int32_t iBodyLen;    // bytes after the head
};
KORVEN_PVM_SIZE(NPC_S_PVM_NET_MSG_HEAD, 20);
KORVEN_PVM_PIN(NPC_S_PVM_NET_MSG_HEAD, dwReserve, 8);
KORVEN_PVM_PIN(NPC_S_PVM_NET_MSG_HEAD, iResult, 12);
KORVEN_PVM_PIN(NPC_S_PVM_NET_MSG_HEAD, iBodyLen, 16);

// ---------------------------------------------------------------------------------------------
// Order bodies (offsets from the end of the head). Where a request and its answer share a
// layout, one record serves both; answer-only fields are marked.

// Server order 257: the fixed part, then iDevNum entries; the answer has the same layout.
constexpr int32_t NPC_D_PVM_SRV_QUERY_DEV_MAX_NUM = 10000;
struct NPC_S_PVM_ORDER_BODY_SRV_QUERY_DEV_STATE {
  int32_t iDevNum;       // 1..10000
  int32_t iAnswerValue;  // answer
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_SRV_QUERY_DEV_STATE, 8);
// One device and its state: an entry of order 257, and the whole body of notice 337.
struct NPC_S_PVM_DEV_STATE_ENTRY {
  char sDevId[32];  // at most 31 characters
  int32_t iDevState;
};
KORVEN_PVM_SIZE(NPC_S_PVM_DEV_STATE_ENTRY, 36);
KORVEN_PVM_PIN(NPC_S_PVM_DEV_STATE_ENTRY, iDevState, 32);
using NPC_S_PVM_ORDER_BODY_DEV_STATE_NOTIFY = NPC_S_PVM_DEV_STATE_ENTRY;

// Server order 258: the fixed part, then iDataLen bytes; the answer has the same layout.
constexpr int32_t NPC_D_PVM_SRV_TRANS_DATA_MAX_LEN = 128 * 1024;
struct NPC_S_PVM_ORDER_BODY_SRV_TRANS_DATA_TO_DEV {
  char sDevId[64];
  int32_t iValue;
  int32_t iDataLen;  // 1..131072
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_SRV_TRANS_DATA_TO_DEV, 72);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_SRV_TRANS_DATA_TO_DEV, iValue, 64);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_SRV_TRANS_DATA_TO_DEV, iDataLen, 68);

// Engine notice 338: what the server login learned about the authentication server.
struct NPC_S_PVM_ORDER_BODY_CONN_SRV_INFO_NOTIFY {
  char sP2pSrvIpaddr[16];
  uint16_t usP2pSrvPort;
  uint16_t usAuthSrvPort;
  char sAuthSrvIpaddr[16];
  char sClientIdent[32];
  int32_t iBusValue1;
  int32_t iBusValue2;
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_CONN_SRV_INFO_NOTIFY, 76);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_CONN_SRV_INFO_NOTIFY, usP2pSrvPort, 16);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_CONN_SRV_INFO_NOTIFY, usAuthSrvPort, 18);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_CONN_SRV_INFO_NOTIFY, sAuthSrvIpaddr, 20);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_CONN_SRV_INFO_NOTIFY, sClientIdent, 36);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_CONN_SRV_INFO_NOTIFY, iBusValue1, 68);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_CONN_SRV_INFO_NOTIFY, iBusValue2, 72);

// The body of every order that carries the camera id alone (514, 529, 531, 548, 561, 576, 577,
// 663, 664), and the first field of every camera order and notice.
struct NPC_S_PVM_ORDER_BODY_CAMERA_ID {
  uint32_t dwCameraConnId;
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_CAMERA_ID, 4);

// 513 ORDER_CAMERA_CONNECT.
struct NPC_S_PVM_ORDER_BODY_CAMERA_CONNECT {
  uint32_t dwCameraConnId;
  char sConnParam[512];     // first 512 bytes of the camera's connect-parameter text
  char szCustomId[32];      // the client's device customisation id
  char szCustomText[32];    // the client's second customisation text
  int32_t iClientFlag;
  int32_t iMediaTransMode;
  char szCustomData[1024];  // device custom flag text; empty when none
  int32_t iCustomNum;       // device custom flag value
  uint32_t dwSpareConnFlag;
  int32_t iConnectMode;
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_CAMERA_CONNECT, 1624);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_CAMERA_CONNECT, sConnParam, 4);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_CAMERA_CONNECT, szCustomId, 516);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_CAMERA_CONNECT, szCustomText, 548);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_CAMERA_CONNECT, iClientFlag, 580);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_CAMERA_CONNECT, iMediaTransMode, 584);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_CAMERA_CONNECT, szCustomData, 588);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_CAMERA_CONNECT, iCustomNum, 1612);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_CAMERA_CONNECT, dwSpareConnFlag, 1616);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_CAMERA_CONNECT, iConnectMode, 1620);

// 515 ORDER_CAMERA_SWITCH_TRANS_MODE.
struct NPC_S_PVM_ORDER_BODY_CAMERA_SWITCH_TRANS_MODE {
  uint32_t dwCameraConnId;
  int32_t iMediaTransMode;
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_CAMERA_SWITCH_TRANS_MODE, 8);

// 516 ORDER_CAMERA_QUERY_CONN_MODE.
constexpr int32_t NPC_D_PVM_CONN_MODE_TRANSFER = 2;  // a camera treats this mode as transfer mode
struct NPC_S_PVM_ORDER_BODY_CAMERA_QUERY_CONN_MODE {
  uint32_t dwCameraConnId;
  int32_t iConnMode;  // request 0; answer: the mode the engine reported at connection set-up
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_CAMERA_QUERY_CONN_MODE, 8);

// 528 ORDER_OPEN_REALPLAY.
struct NPC_S_PVM_ORDER_BODY_OPEN_REALPLAY {
  uint32_t dwCameraConnId;
  int32_t iStreamNo;  // 0 main stream, 1 sub stream
  int32_t iReserve;
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_OPEN_REALPLAY, 12);

// 530 ORDER_PTZ: command codes are the modules'.
struct NPC_S_PVM_ORDER_BODY_PTZ {
  uint32_t dwCameraConnId;
  int32_t iPtzCmd;
  uint32_t dwParam1;
  uint32_t dwParam2;
  uint32_t dwParam3;
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_PTZ, 20);

// 532 ORDER_SWITCH_CHANNEL and the answer of 533 ORDER_QUERY_CUR_CHSTREAMNO (which must be
// exactly this long). A caller's -1 travels as 0xFFFF: fill it with
// NPC_F_PVM_MSG_SetSwitchChannel.
struct NPC_S_PVM_ORDER_BODY_SWITCH_CHANNEL {
  uint32_t dwCameraConnId;
  uint16_t iChNo;
  uint16_t iStreamNo;
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_SWITCH_CHANNEL, 8);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_SWITCH_CHANNEL, iChNo, 4);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_SWITCH_CHANNEL, iStreamNo, 6);
using NPC_S_PVM_ORDER_BODY_QUERY_CUR_CHSTREAMNO = NPC_S_PVM_ORDER_BODY_SWITCH_CHANNEL;

// 534 ORDER_GET_VIDEO_QUALITY_CAP: zero after the id in the request; the answer must be
// exactly this long.
constexpr int NPC_D_PVM_VIDEO_QUALITY_LEVEL_MAX_NUM = 8;
struct NPC_S_PVM_VIDEO_QUALITY_LEVEL {
  char sLevelName[16];
  int32_t iLevelValue;
  uint8_t ucReserve[8];
};
KORVEN_PVM_SIZE(NPC_S_PVM_VIDEO_QUALITY_LEVEL, 28);
struct NPC_S_PVM_ORDER_BODY_GET_VIDEO_QUALITY_CAP {
  uint32_t dwCameraConnId;
  int32_t iLevelNum;  // answer; a reader cuts it to 0..8
  NPC_S_PVM_VIDEO_QUALITY_LEVEL tLevel[NPC_D_PVM_VIDEO_QUALITY_LEVEL_MAX_NUM];
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_GET_VIDEO_QUALITY_CAP, 232);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_GET_VIDEO_QUALITY_CAP, tLevel, 8);

// 535 ORDER_GET_VIDEO_QUALITY_LEVEL (answer exactly 8 bytes) and 536 ORDER_SET_VIDEO_QUALITY_LEVEL.
struct NPC_S_PVM_ORDER_BODY_VIDEO_QUALITY_LEVEL {
  uint32_t dwCameraConnId;
  int32_t iLevel;
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_VIDEO_QUALITY_LEVEL, 8);

// 544 ORDER_QUERY_RECFILE: the answer appends iRecNum device file records (NPC_S_MON_DEV_REC_FILE).
constexpr int NPC_D_PVM_REC_FILE_PAGE_NUM = 64;  // a full page; the camera asks for the next one
struct NPC_S_PVM_ORDER_BODY_QUERY_RECFILE {
  uint32_t dwCameraConnId;
  NPC_S_TD_DATE_TIME tBeginTime;
  NPC_S_TD_DATE_TIME tEndTime;
  uint32_t dwFileType;  // file-type mask
  int32_t iRecNum;      // request: continuation slot, 0; answer: records that follow
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_QUERY_RECFILE, 36);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_QUERY_RECFILE, tBeginTime, 4);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_QUERY_RECFILE, tEndTime, 16);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_QUERY_RECFILE, dwFileType, 28);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_QUERY_RECFILE, iRecNum, 32);

// 545 ORDER_NSP_QUERY_FILE and 771 ORDER_NSP_QUERY_FILE_RANGE: the answer appends iRecNum
// 224-byte records (NPC_S_MON_FILE_HEAD_INFO; a range answer fills only their first 36 bytes,
// NPC_S_MON_FILE_RANGE_INFO).
constexpr int NPC_D_PVM_ALARM_EVENT_TABLE_LEN = 16;
struct NPC_S_PVM_ORDER_BODY_NSP_QUERY_FILE {
  uint32_t dwCameraConnId;
  int32_t iChNo;
  int32_t iStreamNo;
  uint32_t dwFileType;
  int32_t iCreateMode;
  uint8_t ucAlarmEventTable[NPC_D_PVM_ALARM_EVENT_TABLE_LEN];  // the first iAlarmEventNum used
  int32_t iAlarmEventNum;                                      // 0..16
  NPC_S_TD_DATE_TIME tBeginTime;
  NPC_S_TD_DATE_TIME tEndTime;
  int32_t iRecNum;  // request: reserved, 0; answer: records that follow
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_NSP_QUERY_FILE, 68);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_NSP_QUERY_FILE, dwFileType, 12);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_NSP_QUERY_FILE, iCreateMode, 16);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_NSP_QUERY_FILE, ucAlarmEventTable, 20);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_NSP_QUERY_FILE, iAlarmEventNum, 36);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_NSP_QUERY_FILE, tBeginTime, 40);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_NSP_QUERY_FILE, tEndTime, 52);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_NSP_QUERY_FILE, iRecNum, 64);
using NPC_S_PVM_ORDER_BODY_NSP_QUERY_FILE_RANGE = NPC_S_PVM_ORDER_BODY_NSP_QUERY_FILE;

// 772 ORDER_NSP_QUERY_FILE_DATE: the answer appends iRecNum NPC_S_MON_FILE_RECORD_DATE.
struct NPC_S_PVM_ORDER_BODY_NSP_QUERY_FILE_DATE {
  uint32_t dwCameraConnId;
  int32_t iChNo;
  int32_t iStreamNo;
  uint32_t dwFileType;
  int32_t iCreateMode;
  uint8_t ucAlarmEventTable[NPC_D_PVM_ALARM_EVENT_TABLE_LEN];
  int32_t iAlarmEventNum;
  NPC_S_TD_DATE tBeginDate;
  NPC_S_TD_DATE tEndDate;
  int32_t iRecNum;  // request: reserved, 0; answer: records that follow
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_NSP_QUERY_FILE_DATE, 52);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_NSP_QUERY_FILE_DATE, iAlarmEventNum, 36);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_NSP_QUERY_FILE_DATE, tBeginDate, 40);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_NSP_QUERY_FILE_DATE, tEndDate, 44);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_NSP_QUERY_FILE_DATE, iRecNum, 48);

// 547 ORDER_START_PLAY_RECFILE.
struct NPC_S_PVM_ORDER_BODY_START_PLAY_RECFILE {
  uint32_t dwCameraConnId;
  char sFileName[128];  // at most 127 used
  int32_t iByTime;      // 0: by file name, the times are zero
  NPC_S_TD_DATE_TIME tBeginTime;
  NPC_S_TD_DATE_TIME tEndTime;
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_START_PLAY_RECFILE, 160);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_START_PLAY_RECFILE, iByTime, 132);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_START_PLAY_RECFILE, tBeginTime, 136);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_START_PLAY_RECFILE, tEndTime, 148);

// 549 ORDER_CTRL_PLAY_RECFILE.
constexpr int32_t NPC_D_PVM_PLAY_CTRL_PAUSE = 1;
constexpr int32_t NPC_D_PVM_PLAY_CTRL_RESUME = 2;
struct NPC_S_PVM_ORDER_BODY_CTRL_PLAY_RECFILE {
  uint32_t dwCameraConnId;
  int32_t iCtrlType;  // NPC_D_PVM_PLAY_CTRL_*; other values module-defined
  uint32_t dwCtrlValue;
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_CTRL_PLAY_RECFILE, 12);

// 550 ORDER_PLAYBACK_BY_TIMESECT.
struct NPC_S_PVM_ORDER_BODY_PLAYBACK_BY_TIMESECT {
  uint32_t dwCameraConnId;
  NPC_S_TD_DATE_TIME tBeginTime;
  NPC_S_TD_DATE_TIME tEndTime;
  int32_t iStreamSel;  // -1: the camera's own stream
  int32_t iSecondSel;
  uint8_t ucEventData[4];
  NPC_S_TD_DATE_TIME tStartPosTime;  // zero when not given
  int32_t iEventDataLen;             // 0..4
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_PLAYBACK_BY_TIMESECT, 56);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_PLAYBACK_BY_TIMESECT, tEndTime, 16);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_PLAYBACK_BY_TIMESECT, iStreamSel, 28);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_PLAYBACK_BY_TIMESECT, iSecondSel, 32);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_PLAYBACK_BY_TIMESECT, ucEventData, 36);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_PLAYBACK_BY_TIMESECT, tStartPosTime, 40);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_PLAYBACK_BY_TIMESECT, iEventDataLen, 52);

// 551 ORDER_CTRL_PLAY_BACK_SPEED.
struct NPC_S_PVM_ORDER_BODY_CTRL_PLAY_BACK_SPEED {
  uint32_t dwCameraConnId;
  int32_t iSpeedParam1;
  int32_t iSpeedParam2;
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_CTRL_PLAY_BACK_SPEED, 12);

// 560 ORDER_START_TALK.
struct NPC_S_PVM_TALK_AUDIO_FORMAT {
  int32_t iAudioCodecId;
  int32_t iAudioSampleBit;   // bits per sample
  int32_t iAudioSampleRate;
  int32_t iAudioBitRate;     // 0
  int32_t iAudioChNum;       // 1
};
KORVEN_PVM_SIZE(NPC_S_PVM_TALK_AUDIO_FORMAT, 20);
struct NPC_S_PVM_ORDER_BODY_START_TALK {
  uint32_t dwCameraConnId;
  NPC_S_PVM_TALK_AUDIO_FORMAT tAudioFormat;
  int32_t iTalkChNo;  // negative: the camera's own channel
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_START_TALK, 28);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_START_TALK, iTalkChNo, 24);

// 562 ORDER_START_TALK_EX: the last 44 bytes of the answer body are the device's own format
// (NPC_S_MON_MEDIA_TALK_FORMAT); read them with NPC_F_PVM_MSG_ReadTalkExDevFormat.
struct NPC_S_PVM_ORDER_BODY_START_TALK_EX {
  uint32_t dwCameraConnId;
  int32_t iAudioCodecId;
  int32_t iAudioSampleRate;
  int32_t iAudioSampleBit;
  int32_t iAudioBitRate;
  int32_t iAudioChNum;
  int32_t iTalkChNo;  // negative: the camera's own channel
  int32_t iVideoCodecId;
  int32_t iVideoWidth;
  int32_t iVideoHeight;
  int32_t iVideoBitRate;
  int32_t iReserve;
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_START_TALK_EX, 48);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_START_TALK_EX, iAudioChNum, 20);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_START_TALK_EX, iTalkChNo, 24);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_START_TALK_EX, iVideoCodecId, 28);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_START_TALK_EX, iVideoBitRate, 40);

// 563 ORDER_CTRL_TALK_EX.
struct NPC_S_PVM_ORDER_BODY_CTRL_TALK_EX {
  uint32_t dwCameraConnId;
  int32_t iMediaType;
  int32_t iCtrlType;
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_CTRL_TALK_EX, 12);

// 564 ORDER_START_TALK_V2: the fixed part, then iExtDataLen bytes of extra data.
struct NPC_S_PVM_ORDER_BODY_START_TALK_V2 {
  uint32_t dwCameraConnId;
  int32_t iAudioCodecId;
  int32_t iAudioSampleRate;
  int32_t iAudioSampleBit;
  int32_t iAudioBitRate;  // 0
  int32_t iAudioChNum;    // 1
  int32_t iTalkChNo;
  int32_t iTalkMode;      // 2 when extra data follows
  int32_t iExtDataLen;
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_START_TALK_V2, 36);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_START_TALK_V2, iAudioSampleRate, 8);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_START_TALK_V2, iAudioSampleBit, 12);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_START_TALK_V2, iTalkMode, 28);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_START_TALK_V2, iExtDataLen, 32);

// 592 ORDER_CTRL_MEDIA_STREAM.
struct NPC_S_PVM_ORDER_BODY_CTRL_MEDIA_STREAM {
  uint32_t dwCameraConnId;
  int32_t iStreamSel;  // 0..2
  int32_t iCtrlValue;
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_CTRL_MEDIA_STREAM, 12);

// 593 ORDER_ONLY_I_FRAME.
struct NPC_S_PVM_ORDER_BODY_ONLY_I_FRAME {
  uint32_t dwCameraConnId;
  int32_t iOnlyIFrame;  // 1 key frames only, 0 all frames again
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_ONLY_I_FRAME, 8);

// 608 ORDER_REC_DOWNLOAD_START.
struct NPC_S_PVM_ORDER_BODY_REC_DOWNLOAD_START {
  uint32_t dwCameraConnId;
  char sFileName[128];
  int32_t iByTime;
  NPC_S_TD_DATE_TIME tBeginTime;
  NPC_S_TD_DATE_TIME tEndTime;
  uint32_t dwDownloadId;  // answer
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_REC_DOWNLOAD_START, 164);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_REC_DOWNLOAD_START, iByTime, 132);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_REC_DOWNLOAD_START, tBeginTime, 136);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_REC_DOWNLOAD_START, tEndTime, 148);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_REC_DOWNLOAD_START, dwDownloadId, 160);

// 609 ORDER_REC_DOWNLOAD_STOP.
struct NPC_S_PVM_ORDER_BODY_REC_DOWNLOAD_STOP {
  uint32_t dwCameraConnId;
  uint32_t dwDownloadId;
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_REC_DOWNLOAD_STOP, 8);

// 610 ORDER_REC_DOWNLOAD_START_BY_TIME.
struct NPC_S_PVM_ORDER_BODY_REC_DOWNLOAD_START_BY_TIME {
  uint32_t dwCameraConnId;
  NPC_S_TD_DATE_TIME tBeginTime;
  NPC_S_TD_DATE_TIME tEndTime;
  int32_t iStreamSel;
  int32_t iSecondSel;
  uint8_t ucReserve[128];  // zero
  uint32_t dwDownloadId;   // answer
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_REC_DOWNLOAD_START_BY_TIME, 168);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_REC_DOWNLOAD_START_BY_TIME, iStreamSel, 28);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_REC_DOWNLOAD_START_BY_TIME, iSecondSel, 32);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_REC_DOWNLOAD_START_BY_TIME, dwDownloadId, 164);

// 624 ORDER_GET_CONFIG and 625 ORDER_SET_CONFIG: the fixed part, then the configuration data
// (request data for 624, the record to set for 625; the answer of 624 carries the record, its
// length being the body length minus 12).
struct NPC_S_PVM_ORDER_BODY_CONFIG {
  uint32_t dwCameraConnId;
  int32_t iCfgType;
  int32_t iCfgDataLen;  // 624: left 0
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_CONFIG, 12);

// 626 ORDER_GET_DEF_CONFIG: the answer appends the default record at 16.
struct NPC_S_PVM_ORDER_BODY_GET_DEF_CONFIG {
  uint32_t dwCameraConnId;
  int32_t iCfgType;
  int32_t iSecondSel;
  int32_t iReserve;
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_GET_DEF_CONFIG, 16);

// 627 ORDER_IEC_IMP_CONFIG (the blob follows) and 628 ORDER_IEC_EXP_CONFIG (the answer appends it).
struct NPC_S_PVM_ORDER_BODY_IEC_CONFIG {
  uint32_t dwCameraConnId;
  int32_t iReserve;
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_IEC_CONFIG, 8);

// 640 ORDER_MODIFY_DEV_PWD.
struct NPC_S_PVM_ORDER_BODY_MODIFY_DEV_PWD {
  uint32_t dwCameraConnId;
  char sUserName[32];
  char sOldPwd[32];
  char sNewPwd[32];
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_MODIFY_DEV_PWD, 100);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_MODIFY_DEV_PWD, sOldPwd, 36);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_MODIFY_DEV_PWD, sNewPwd, 68);

// 641 ORDER_COM_OPEN.
struct NPC_S_PVM_ORDER_BODY_COM_OPEN {
  uint32_t dwCameraConnId;
  int32_t iComPort;
  int32_t iComParam[5];  // line settings
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_COM_OPEN, 28);

// 642 ORDER_COM_CLOSE.
struct NPC_S_PVM_ORDER_BODY_COM_CLOSE {
  uint32_t dwCameraConnId;
  int32_t iComPort;
  int32_t iComSel;
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_COM_CLOSE, 12);

// 643 ORDER_COM_SEND_DATA: the fixed part, then iDataLen bytes.
struct NPC_S_PVM_ORDER_BODY_COM_SEND_DATA {
  uint32_t dwCameraConnId;
  int32_t iComPort;
  int32_t iComSel;
  int32_t iDataLen;
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_COM_SEND_DATA, 16);

// 645 ORDER_UNS_ADD_USER.
constexpr int NPC_D_PVM_USER_RIGHT_MAX_NUM = 64;
struct NPC_S_PVM_ORDER_BODY_UNS_ADD_USER {
  uint32_t dwCameraConnId;
  char sUserName[32];  // at most 31 used
  char sUserPwd[32];
  uint32_t dwUserFlags;
  int32_t iRightNum;  // 0..64
  uint32_t dwRightTable[NPC_D_PVM_USER_RIGHT_MAX_NUM];
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_UNS_ADD_USER, 332);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_UNS_ADD_USER, sUserPwd, 36);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_UNS_ADD_USER, dwUserFlags, 68);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_UNS_ADD_USER, iRightNum, 72);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_UNS_ADD_USER, dwRightTable, 76);

// 646 ORDER_UNS_DEL_USER.
struct NPC_S_PVM_ORDER_BODY_UNS_DEL_USER {
  uint32_t dwCameraConnId;
  char sUserName[32];
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_UNS_DEL_USER, 36);

// 648 ORDER_UNS_SET_USER_POP, and 647 ORDER_UNS_GET_USER_POP (request: user name, then zero;
// the answer must be exactly this long).
struct NPC_S_PVM_ORDER_BODY_UNS_USER_POP {
  uint32_t dwCameraConnId;
  char sUserName[32];
  uint32_t dwUserFlags;
  int32_t iRightNum;  // 0..64
  uint32_t dwRightTable[NPC_D_PVM_USER_RIGHT_MAX_NUM];
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_UNS_USER_POP, 300);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_UNS_USER_POP, dwUserFlags, 36);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_UNS_USER_POP, iRightNum, 40);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_UNS_USER_POP, dwRightTable, 44);

// 656 ORDER_CUSTOM: the fixed part, then iDataLen bytes; the answer's data follows at 12.
struct NPC_S_PVM_ORDER_BODY_CUSTOM {
  uint32_t dwCameraConnId;
  int32_t iCustomFuncId;
  int32_t iDataLen;
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_CUSTOM, 12);

// 662 ORDER_RMY_QUERY_ABILITY: the answer's data follows at 12.
struct NPC_S_PVM_ORDER_BODY_RMY_QUERY_ABILITY {
  uint32_t dwCameraConnId;
  int32_t iAbilityType;
  int32_t iReserve;
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_RMY_QUERY_ABILITY, 12);

// 665 ORDER_DUP_QUERY_DEV_VER_INFO: zero after the id; the answer must be exactly this long.
struct NPC_S_PVM_ORDER_BODY_DUP_QUERY_DEV_VER_INFO {
  uint32_t dwCameraConnId;
  uint16_t usVerNo[4];     // answer: version numbers
  uint8_t ucVerData[16];   // answer: version data
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_DUP_QUERY_DEV_VER_INFO, 28);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_DUP_QUERY_DEV_VER_INFO, usVerNo, 4);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_DUP_QUERY_DEV_VER_INFO, ucVerData, 12);

// 666 ORDER_DUP_REQU_UPGRADE: the answer must be exactly this long.
struct NPC_S_PVM_ORDER_BODY_DUP_REQU_UPGRADE {
  uint32_t dwCameraConnId;
  uint16_t usParam1;
  uint16_t usParam2;
  int32_t iParam;
  uint32_t dwUpgradeId;  // answer
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_DUP_REQU_UPGRADE, 16);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_DUP_REQU_UPGRADE, usParam1, 4);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_DUP_REQU_UPGRADE, usParam2, 6);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_DUP_REQU_UPGRADE, iParam, 8);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_DUP_REQU_UPGRADE, dwUpgradeId, 12);

// 667 ORDER_DUP_QUERY_PROGRESS: the answer must be exactly this long.
struct NPC_S_PVM_ORDER_BODY_DUP_QUERY_PROGRESS {
  uint32_t dwCameraConnId;
  uint32_t dwUpgradeId;
  int32_t iProgress;  // answer
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_DUP_QUERY_PROGRESS, 12);

// 669 ORDER_DUP_UPGRADE_DATA: the fixed part, then iDataLen bytes of the upgrade file.
struct NPC_S_PVM_ORDER_BODY_DUP_UPGRADE_DATA {
  uint32_t dwCameraConnId;
  uint32_t dwUpgradeId;
  int32_t iDataLen;
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_DUP_UPGRADE_DATA, 12);

// 672 ORDER_MEDIA_DATA, both directions: the fixed part, then iFrameDataLen bytes.
struct NPC_S_PVM_ORDER_BODY_MEDIA_DATA {
  uint32_t dwCameraConnId;
  NPC_S_MON_MEDIA_FRAME_HEAD tFrameHead;
  int32_t iFrameDataLen;
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_MEDIA_DATA, 76);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_MEDIA_DATA, tFrameHead, 4);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_MEDIA_DATA, iFrameDataLen, 72);
// A whole media message: head, fixed body and data.
constexpr int NPC_D_PVM_MEDIA_DATA_MSG_FIXED_LEN = 100;

// 673 ORDER_ALARM_DATA.
struct NPC_S_PVM_ORDER_BODY_ALARM_DATA {
  uint32_t dwCameraConnId;
  uint8_t ucReserve[32];  // zero; not read by the call layer
  int32_t iAlarmType;     // module-defined
  NPC_S_TD_DATE_TIME tAlarmTime;
  int32_t iAlarmParam;
  char sAlarmText[512];   // UTF-8, NUL-terminated
  int32_t iValue1;
  int32_t iValue2;
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_ALARM_DATA, 576);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_ALARM_DATA, iAlarmType, 36);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_ALARM_DATA, tAlarmTime, 40);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_ALARM_DATA, iAlarmParam, 52);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_ALARM_DATA, sAlarmText, 56);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_ALARM_DATA, iValue1, 568);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_ALARM_DATA, iValue2, 572);

// 674 ORDER_NOTIFY_DISCONNECT.
struct NPC_S_PVM_ORDER_BODY_NOTIFY_DISCONNECT {
  uint32_t dwCameraConnId;
  int32_t iCause;
  char sCauseText[64];  // NUL-terminated
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_NOTIFY_DISCONNECT, 72);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_NOTIFY_DISCONNECT, sCauseText, 8);

// 675 ORDER_RAW_DATA going down: the fixed part, then iDataLen bytes.
struct NPC_S_PVM_ORDER_BODY_RAW_DATA {
  uint32_t dwCameraConnId;
  int32_t iDataLen;
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_RAW_DATA, 8);
// 675 ORDER_RAW_DATA coming up with a custom head (a device's custom request): the fixed part,
// then iDataLen bytes. The call layer hands everything from dwCustomReserve on to the camera.
struct NPC_S_PVM_ORDER_BODY_RAW_DATA_CUSTOM {
  uint32_t dwCameraConnId;
  uint32_t dwReserve;        // 0
  uint32_t dwCustomReserve;  // 0; the 12-byte custom head starts here
  int32_t iCustomFuncId;
  int32_t iDataLen;
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_RAW_DATA_CUSTOM, 20);

// 676 ORDER_Dev_PublicIpAddr: zero after the id; the answer body is handed over unchanged.
struct NPC_S_PVM_ORDER_BODY_DEV_PUBLIC_IPADDR {
  uint32_t dwCameraConnId;
  uint8_t ucData[132];
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_DEV_PUBLIC_IPADDR, 136);

// 677 ORDER_TIMER_SNAPSHOT: the whole answer body is the snapshot data.
struct NPC_S_PVM_ORDER_BODY_TIMER_SNAPSHOT {
  uint32_t dwCameraConnId;
  int32_t iOne;  // 1
  int32_t iSnapshotType;
  uint8_t ucData[768];  // zero in the request
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_TIMER_SNAPSHOT, 780);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_TIMER_SNAPSHOT, ucData, 12);

// 678 ORDER_THUMB_DATA: the fixed part, then the picture data.
struct NPC_S_PVM_ORDER_BODY_THUMB_DATA {
  uint32_t dwCameraConnId;
  uint32_t dwThumbId;
  int32_t iDataLen;
  uint8_t ucReserve[32];
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_THUMB_DATA, 44);

// 769 EVENT_REC_DOWNLOAD_DATA: the fixed part, then iFrameDataLen bytes of frame data.
struct NPC_S_PVM_ORDER_BODY_REC_DOWNLOAD_DATA {
  uint32_t dwCameraConnId;
  uint32_t dwDownloadId;
  NPC_S_MON_MEDIA_FRAME_HEAD tFrameHead;
  int32_t iFrameDataLen;
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_REC_DOWNLOAD_DATA, 80);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_REC_DOWNLOAD_DATA, tFrameHead, 8);
KORVEN_PVM_PIN(NPC_S_PVM_ORDER_BODY_REC_DOWNLOAD_DATA, iFrameDataLen, 76);

// 770 EVENT_REC_DOWNLOAD_STATE.
constexpr int32_t NPC_D_PVM_DOWNLOAD_STATE_STOPPED = 4;  // 1..3 as the modules send them
struct NPC_S_PVM_ORDER_BODY_REC_DOWNLOAD_STATE {
  uint32_t dwCameraConnId;
  uint32_t dwDownloadId;
  int32_t iDownloadState;
  int32_t iDownloadPercent;
};
KORVEN_PVM_SIZE(NPC_S_PVM_ORDER_BODY_REC_DOWNLOAD_STATE, 16);

// ---------------------------------------------------------------------------------------------
// Network messages (records include the head; offsets from the start of the message).

// NET_TCP_CONNECT (344 bytes, body length 324), request and response.
constexpr int32_t NPC_D_PVM_NET_CONN_STAGE_PROGRESS = 1;  // accepted and in progress
constexpr int32_t NPC_D_PVM_NET_CONN_STAGE_FINAL = 2;     // final answer
constexpr int32_t NPC_D_PVM_NET_CONN_MODE_DIRECT_TCP = 3;
constexpr int32_t NPC_D_PVM_NET_CONN_SETUP_FAIL = 8;  // result when the engine cannot set up
constexpr uint16_t NPC_D_PVM_NET_CONN_OPTION_NORMAL = 0;
constexpr uint16_t NPC_D_PVM_NET_CONN_OPTION_SKIP_HOLE_PUNCH = 1;
constexpr uint16_t NPC_D_PVM_NET_CONN_OPTION_WAIT_P2P_TEST = 2;
// Address that, with a device id, asks for a LAN broadcast connection.
#define NPC_D_PVM_NET_BROADCAST_IPADDR "255.255.255.255"
struct NPC_S_PVM_NET_MSG_TCP_CONNECT {
  NPC_S_PVM_NET_MSG_HEAD tHead;
  char sDevId[32];         // empty for a direct connection
  char sDevIpaddr[128];    // address text
  uint16_t usDevPort;
  char sConnIpaddr[128];   // answer: address actually used (at most 15 characters)
  uint16_t usConnPort;     // answer: port actually used
  uint16_t usConnParam;    // passed on to the device
  uint16_t usReserve;
  uint32_t dwProtConnId;   // the module's id of the logical connection
  uint8_t ucConnFlags;     // see NPC_F_PVM_MSG_MakeConnFlags
  uint8_t ucEfsWish;       // non-zero asks for the EFS variant of the reliable UDP connect
  uint16_t usConnOption;   // NPC_D_PVM_NET_CONN_OPTION_*
  uint32_t dwReserve;
  uint32_t dwLogicTcpConnId;  // answer: the engine's id of the logical connection
  int32_t iAnswerStage;       // answer: NPC_D_PVM_NET_CONN_STAGE_*
  int32_t iConnMode;          // answer: connection mode reached
  uint32_t dwLanFallback;     // 1: fall back to a LAN-found direct connect when the server link is down
};
KORVEN_PVM_SIZE(NPC_S_PVM_NET_MSG_TCP_CONNECT, 344);
KORVEN_PVM_PIN(NPC_S_PVM_NET_MSG_TCP_CONNECT, sDevId, 20);
KORVEN_PVM_PIN(NPC_S_PVM_NET_MSG_TCP_CONNECT, sDevIpaddr, 52);
KORVEN_PVM_PIN(NPC_S_PVM_NET_MSG_TCP_CONNECT, usDevPort, 180);
KORVEN_PVM_PIN(NPC_S_PVM_NET_MSG_TCP_CONNECT, sConnIpaddr, 182);
KORVEN_PVM_PIN(NPC_S_PVM_NET_MSG_TCP_CONNECT, usConnPort, 310);
KORVEN_PVM_PIN(NPC_S_PVM_NET_MSG_TCP_CONNECT, usConnParam, 312);
KORVEN_PVM_PIN(NPC_S_PVM_NET_MSG_TCP_CONNECT, dwProtConnId, 316);
KORVEN_PVM_PIN(NPC_S_PVM_NET_MSG_TCP_CONNECT, ucConnFlags, 320);
KORVEN_PVM_PIN(NPC_S_PVM_NET_MSG_TCP_CONNECT, ucEfsWish, 321);
KORVEN_PVM_PIN(NPC_S_PVM_NET_MSG_TCP_CONNECT, usConnOption, 322);
KORVEN_PVM_PIN(NPC_S_PVM_NET_MSG_TCP_CONNECT, dwLogicTcpConnId, 328);
KORVEN_PVM_PIN(NPC_S_PVM_NET_MSG_TCP_CONNECT, iAnswerStage, 332);
KORVEN_PVM_PIN(NPC_S_PVM_NET_MSG_TCP_CONNECT, iConnMode, 336);
KORVEN_PVM_PIN(NPC_S_PVM_NET_MSG_TCP_CONNECT, dwLanFallback, 340);

// The connect flags byte: bits 0-2 connect mode, bit 3 no-direct, bits 4-7 port index.
inline uint8_t NPC_F_PVM_MSG_MakeConnFlags(int iConnectMode, bool bNoDirect, int iPortIndex) {
  return static_cast<uint8_t>((iConnectMode & 0x07) | (bNoDirect ? 0x08 : 0) | ((iPortIndex & 0x0F) << 4));
}
inline int NPC_F_PVM_MSG_ConnFlagsMode(uint8_t ucFlags) { return ucFlags & 0x07; }
inline bool NPC_F_PVM_MSG_ConnFlagsNoDirect(uint8_t ucFlags) { return (ucFlags & 0x08) != 0; }
inline int NPC_F_PVM_MSG_ConnFlagsPortIndex(uint8_t ucFlags) { return ucFlags >> 4; }

// NET_TCP_DISCONNECT, NET_REDIRECT_DATA and NET_REQU_CLEAR_CACHE (28 bytes): the two ids alone,
// which also open every other network body.
struct NPC_S_PVM_NET_MSG_CONN_IDS {
  NPC_S_PVM_NET_MSG_HEAD tHead;
  uint32_t dwProtConnId;      // the module's id of the logical connection
  uint32_t dwLogicTcpConnId;  // the engine's id of the logical connection
};
KORVEN_PVM_SIZE(NPC_S_PVM_NET_MSG_CONN_IDS, 28);
KORVEN_PVM_PIN(NPC_S_PVM_NET_MSG_CONN_IDS, dwProtConnId, 20);
KORVEN_PVM_PIN(NPC_S_PVM_NET_MSG_CONN_IDS, dwLogicTcpConnId, 24);

// NET_SEND_DATA (40 + n bytes): bytes to send (module to engine) or received (engine to module).
constexpr int32_t NPC_D_PVM_NET_DATA_TYPE_MEDIA = 1;  // media frames sent to the device; 0 other packets
struct NPC_S_PVM_NET_MSG_SEND_DATA {
  NPC_S_PVM_NET_MSG_HEAD tHead;
  uint32_t dwProtConnId;
  uint32_t dwLogicTcpConnId;
  int32_t iDataLen;
  uint32_t dwChannel;  // with received data; 0 for TCP data
  int32_t iDataType;   // with data to send
};
KORVEN_PVM_SIZE(NPC_S_PVM_NET_MSG_SEND_DATA, 40);
KORVEN_PVM_PIN(NPC_S_PVM_NET_MSG_SEND_DATA, iDataLen, 28);
KORVEN_PVM_PIN(NPC_S_PVM_NET_MSG_SEND_DATA, dwChannel, 32);
KORVEN_PVM_PIN(NPC_S_PVM_NET_MSG_SEND_DATA, iDataType, 36);

// NET_SWITCH_MEDIA_TRANS_MODE (32 bytes).
struct NPC_S_PVM_NET_MSG_SWITCH_MEDIA_TRANS_MODE {
  NPC_S_PVM_NET_MSG_HEAD tHead;
  uint32_t dwProtConnId;
  uint32_t dwLogicTcpConnId;
  int32_t iMediaTransMode;
};
KORVEN_PVM_SIZE(NPC_S_PVM_NET_MSG_SWITCH_MEDIA_TRANS_MODE, 32);
KORVEN_PVM_PIN(NPC_S_PVM_NET_MSG_SWITCH_MEDIA_TRANS_MODE, iMediaTransMode, 28);

// NET_OOB_RECV and NET_RECV_MEDIA_FRAME (32 + n bytes): the ids, n, then the n bytes.
struct NPC_S_PVM_NET_MSG_FRAME_DATA {
  NPC_S_PVM_NET_MSG_HEAD tHead;
  uint32_t dwProtConnId;
  uint32_t dwLogicTcpConnId;
  int32_t iDataLen;
};
KORVEN_PVM_SIZE(NPC_S_PVM_NET_MSG_FRAME_DATA, 32);
KORVEN_PVM_PIN(NPC_S_PVM_NET_MSG_FRAME_DATA, iDataLen, 28);

// ---------------------------------------------------------------------------------------------
// Vendors and module descriptors.

// Capability flags of a module, for the engine and the camera to branch on instead of vendor ids.
constexpr uint32_t NPC_D_PVM_CAP_PAGED_REC_QUERY = 0x01;  // record search answers in pages of 64
constexpr uint32_t NPC_D_PVM_CAP_ENCRYPT_TYPE = 0x02;     // takes the bus's encryption type

// The modules in the engine's registration order: (vendor id, four-letter name, module class,
// capability flags).
#define NPC_PVM_VENDOR_LIST(X)                                                                   \
  X(1007, HMCP, NPC_C_PVM_DP_HMCP_Protocol, 0)                                                   \
  X(2060, HZXM, NPC_C_PVM_DP_HZXM_Protocol, NPC_D_PVM_CAP_PAGED_REC_QUERY)                       \
  X(2140, GZQH, NPC_C_PVM_DP_GZQH_Protocol, 0)                                                   \
  X(2150, ALRS, NPC_C_PVM_DP_ALRS_Protocol, 0)                                                   \
  X(1004, OWSP, NPC_C_PVM_DP_OWSP_Protocol, 0)                                                   \
  X(2050, BJHB, NPC_C_PVM_DP_BJHB_Protocol, 0)                                                   \
  X(2160, GZJK, NPC_C_PVM_DP_GZJK_Protocol, 0)                                                   \
  X(1009, QXSP, NPC_C_PVM_DP_QXSP_Protocol, NPC_D_PVM_CAP_PAGED_REC_QUERY | NPC_D_PVM_CAP_ENCRYPT_TYPE) \
  X(2170, SZQH, NPC_C_PVM_DP_SZQH_Protocol, 0)                                                   \
  X(1010, EPMY, NPC_C_PVM_DP_EPMY_Protocol, 0)

enum NPC_E_PVM_VENDOR_ID : uint32_t {
#define KORVEN_PVM_X(id, name, cls, caps) NPC_D_PVM_VENDOR_ID_##name = id,
  NPC_PVM_VENDOR_LIST(KORVEN_PVM_X)
#undef KORVEN_PVM_X
};
constexpr int NPC_D_PVM_VENDOR_NUM = 10;

// A closed range of order codes.
struct NPC_S_PVM_ORDER_RANGE {
  int32_t iFirst;
  int32_t iLast;
};

// A module's descriptor: data only. The module classes live in protocols/ and pair a
// descriptor with their factory when they register with the engine.
struct NPC_S_PVM_VENDOR_DESC {
  uint32_t dwVendorId;
  const char* sName;       // four letters, as in the engine's registration log
  const char* sClassName;
  uint32_t dwCapFlags;     // NPC_D_PVM_CAP_*
  const NPC_S_PVM_ORDER_RANGE* pDevOrders;    // orders handled with device work
  int iDevOrderRangeNum;
  const NPC_S_PVM_ORDER_RANGE* pLocalOrders;  // orders answered at once without device work
  int iLocalOrderRangeNum;
};

// How a module treats an order code.
constexpr int NPC_D_PVM_ORDER_NOT_HANDLED = 0;  // dropped without an answer
constexpr int NPC_D_PVM_ORDER_DEV_WORK = 1;     // handled with device work
constexpr int NPC_D_PVM_ORDER_LOCAL = 2;        // answered at once without device work

// The descriptors in registration order; *count receives NPC_D_PVM_VENDOR_NUM when not null.
const NPC_S_PVM_VENDOR_DESC* NPC_F_PVM_GetVendorDescTable(int* count);
// The descriptor of a vendor id, or null.
const NPC_S_PVM_VENDOR_DESC* NPC_F_PVM_FindVendorDesc(uint32_t dwVendorId);
// NPC_D_PVM_ORDER_* for an order code at a module (NOT_HANDLED for a null descriptor).
int NPC_F_PVM_GetOrderHandling(const NPC_S_PVM_VENDOR_DESC* desc, int32_t iMsgId);

// ---------------------------------------------------------------------------------------------
// Builders. Every builder writes one whole message; a message whose length would pass
// NPC_D_PVM_MSG_MAX_LEN, or a part given as null with a non-zero length, is refused (0) and the
// output is left empty. Builders into a std::vector replace its contents.

// A head with the given fields and body length 0 (the builders fill the length).
NPC_S_PVM_ORDER_MSG_HEAD NPC_F_PVM_MSG_OrderHead(int32_t iMsgId, int32_t iMsgType, uint32_t dwTransId,
                                                 uint32_t dwVendorId, int32_t iResult);
NPC_S_PVM_NET_MSG_HEAD NPC_F_PVM_MSG_NetHead(int32_t iMsgId, int32_t iMsgType, int32_t iResult);

// An order message: the head (its iBodyLen replaced by bodyLen + dataLen), body, then data.
// The buffer form writes into buf of bufSize bytes and returns the message length, or 0 when
// it does not fit; the vector form returns 1 or 0.
int NPC_F_PVM_MSG_PutOrderMsg(uint8_t* buf, size_t bufSize, const NPC_S_PVM_ORDER_MSG_HEAD& head, const void* body,
                              size_t bodyLen, const void* data = nullptr, size_t dataLen = 0);
int NPC_F_PVM_MSG_BuildOrderMsg(std::vector<uint8_t>* out, const NPC_S_PVM_ORDER_MSG_HEAD& head, const void* body,
                                size_t bodyLen, const void* data = nullptr, size_t dataLen = 0);
// A request going down (kind 0, iResult 0), as the call layer posts it.
int NPC_F_PVM_MSG_BuildRequest(std::vector<uint8_t>* out, int32_t iMsgId, uint32_t dwTransId, uint32_t dwVendorId,
                               const void* body, size_t bodyLen);
// A notification coming up from a module (kind 0, dwTransId 0, iResult 0).
int NPC_F_PVM_MSG_BuildNotify(std::vector<uint8_t>* out, int32_t iMsgId, uint32_t dwVendorId, const void* body,
                              size_t bodyLen, const void* data = nullptr, size_t dataLen = 0);
// An event notice (kind 2, dwTransId 0, iResult 0): the engine's notices use vendor id 0, the
// download events the module's own.
int NPC_F_PVM_MSG_BuildEventNotify(std::vector<uint8_t>* out, int32_t iMsgId, uint32_t dwVendorId, const void* body,
                                   size_t bodyLen, const void* data = nullptr, size_t dataLen = 0);
// A body alone: fixed part, then data (for the call layer, which adds the head itself).
int NPC_F_PVM_MSG_BuildBody(std::vector<uint8_t>* out, const void* fixed, size_t fixedLen, const void* data,
                            size_t dataLen);

// Answers. SetOrderResp turns a well-formed order message into its response in place: kind 1
// and iResult; iMsgId, dwTransId, the vendor id and the body stay. BuildOrderResp answers with
// a new body (for answers that carry variable data): the request's head fields, kind 1,
// iResult, and the given body and data. Both return 1, or 0 for a malformed request.
int NPC_F_PVM_MSG_SetOrderResp(uint8_t* msg, int64_t len, int32_t iResult);
int NPC_F_PVM_MSG_BuildOrderResp(std::vector<uint8_t>* out, const uint8_t* requ, int64_t requLen, int32_t iResult,
                                 const void* body, size_t bodyLen, const void* data = nullptr, size_t dataLen = 0);

// Notifications a module sends up (kind 0, dwTransId 0) unless said otherwise.
// ORDER_MEDIA_DATA: 100 + n bytes.
int NPC_F_PVM_MSG_BuildMediaData(std::vector<uint8_t>* out, uint32_t dwVendorId, uint32_t dwCameraConnId,
                                 const NPC_S_MON_MEDIA_FRAME_HEAD& frameHead, const void* data, size_t dataLen);
// ORDER_ALARM_DATA: the text is cut to 511 bytes at a character boundary; the reserved bytes
// and the two trailing values are 0.
int NPC_F_PVM_MSG_BuildAlarmData(std::vector<uint8_t>* out, uint32_t dwVendorId, uint32_t dwCameraConnId,
                                 int32_t iAlarmType, const NPC_S_TD_DATE_TIME& alarmTime, int32_t iAlarmParam,
                                 const char* sAlarmText);
// ORDER_NOTIFY_DISCONNECT: the text is cut to 63 bytes at a character boundary.
int NPC_F_PVM_MSG_BuildNotifyDisconnect(std::vector<uint8_t>* out, uint32_t dwVendorId, uint32_t dwCameraConnId,
                                        int32_t iCause, const char* sCauseText);
// ORDER_RAW_DATA with the custom head (a device's custom request).
int NPC_F_PVM_MSG_BuildRawDataCustom(std::vector<uint8_t>* out, uint32_t dwVendorId, uint32_t dwCameraConnId,
                                     int32_t iCustomFuncId, const void* data, size_t dataLen);
// ORDER_THUMB_DATA.
int NPC_F_PVM_MSG_BuildThumbData(std::vector<uint8_t>* out, uint32_t dwVendorId, uint32_t dwCameraConnId,
                                 uint32_t dwThumbId, const void* data, size_t dataLen);
// EVENT_REC_DOWNLOAD_DATA (kind 2): 104 + n bytes.
int NPC_F_PVM_MSG_BuildRecDownloadData(std::vector<uint8_t>* out, uint32_t dwVendorId, uint32_t dwCameraConnId,
                                       uint32_t dwDownloadId, const NPC_S_MON_MEDIA_FRAME_HEAD& frameHead,
                                       const void* data, size_t dataLen);
// EVENT_REC_DOWNLOAD_STATE (kind 2).
int NPC_F_PVM_MSG_BuildRecDownloadState(std::vector<uint8_t>* out, uint32_t dwVendorId, uint32_t dwCameraConnId,
                                        uint32_t dwDownloadId, int32_t iDownloadState, int32_t iDownloadPercent);
// The engine's device state notice 337 (kind 2, vendor 0): the id is cut to 31 bytes.
int NPC_F_PVM_MSG_BuildDevStateNotify(std::vector<uint8_t>* out, const char* sDevId, int32_t iDevState);
// The engine's notice 338 (kind 2, vendor 0).
int NPC_F_PVM_MSG_BuildConnSrvInfoNotify(std::vector<uint8_t>* out, const NPC_S_PVM_ORDER_BODY_CONN_SRV_INFO_NOTIFY& info);

// Bodies of the server orders. 257: the count, the answer value and the entries (count in
// 1..10000). 258: the device id (cut to 63 bytes), the value, n and n bytes (n in 1..131072).
int NPC_F_PVM_MSG_BuildSrvQueryDevStateBody(std::vector<uint8_t>* out, const NPC_S_PVM_DEV_STATE_ENTRY* entries,
                                            int32_t iDevNum, int32_t iAnswerValue);
int NPC_F_PVM_MSG_BuildSrvTransDataBody(std::vector<uint8_t>* out, const char* sDevId, int32_t iValue,
                                        const void* data, size_t dataLen);

// Fills an ORDER_SWITCH_CHANNEL body; a channel or stream of -1 travels as 0xFFFF.
void NPC_F_PVM_MSG_SetSwitchChannel(NPC_S_PVM_ORDER_BODY_SWITCH_CHANNEL* body, uint32_t dwCameraConnId, int iChNo,
                                    int iStreamNo);

// Network messages. The Init functions zero a fixed-size message and set its head (kind
// request, the body length of the record); the caller fills the rest and passes the record
// with its size.
void NPC_F_PVM_MSG_InitNetTcpConnect(NPC_S_PVM_NET_MSG_TCP_CONNECT* msg);
void NPC_F_PVM_MSG_InitNetConnIds(NPC_S_PVM_NET_MSG_CONN_IDS* msg, int32_t iMsgId, uint32_t dwProtConnId,
                                  uint32_t dwLogicTcpConnId);
void NPC_F_PVM_MSG_InitNetSwitchMediaTransMode(NPC_S_PVM_NET_MSG_SWITCH_MEDIA_TRANS_MODE* msg, uint32_t dwProtConnId,
                                               uint32_t dwLogicTcpConnId, int32_t iMediaTransMode);
// A network message: head (its iBodyLen replaced), then the body (everything after the head) and data.
int NPC_F_PVM_MSG_BuildNetMsg(std::vector<uint8_t>* out, const NPC_S_PVM_NET_MSG_HEAD& head, const void* body,
                              size_t bodyLen, const void* data = nullptr, size_t dataLen = 0);
// NET_SEND_DATA (kind request) carrying dataLen bytes.
int NPC_F_PVM_MSG_BuildNetSendData(std::vector<uint8_t>* out, uint32_t dwProtConnId, uint32_t dwLogicTcpConnId,
                                   uint32_t dwChannel, int32_t iDataType, const void* data, size_t dataLen);
// NET_OOB_RECV or NET_RECV_MEDIA_FRAME (kind request) carrying dataLen bytes.
int NPC_F_PVM_MSG_BuildNetFrameData(std::vector<uint8_t>* out, int32_t iMsgId, uint32_t dwProtConnId,
                                    uint32_t dwLogicTcpConnId, const void* data, size_t dataLen);
// Turns a well-formed network message into its response in place: kind 1 and the result.
int NPC_F_PVM_MSG_SetNetResp(uint8_t* msg, int64_t len, int32_t iResult);

// ---------------------------------------------------------------------------------------------
// Checked readers. They accept any bytes: a message shorter than its head, with a negative body
// length, or whose body length disagrees with the bytes given, is refused (0). On success the
// views point into the caller's buffer, which must outlive them.

struct NPC_S_PVM_ORDER_MSG_VIEW {
  NPC_S_PVM_ORDER_MSG_HEAD tHead;  // a copy of the head
  const uint8_t* pMsg;             // the whole message
  const uint8_t* pBody;            // tHead.iBodyLen bytes
  int32_t iMsgLen;
};
struct NPC_S_PVM_NET_MSG_VIEW {
  NPC_S_PVM_NET_MSG_HEAD tHead;
  const uint8_t* pMsg;   // the whole message; network records are read from here
  const uint8_t* pBody;  // tHead.iBodyLen bytes
  int32_t iMsgLen;
};
int NPC_F_PVM_MSG_ReadOrderMsg(const void* msg, int64_t len, NPC_S_PVM_ORDER_MSG_VIEW* out);
int NPC_F_PVM_MSG_ReadNetMsg(const void* msg, int64_t len, NPC_S_PVM_NET_MSG_VIEW* out);

// The bytes of a body from offset on (0 when offset is past the end). For an order the offset
// counts from the end of the head, for a network message from the start of the message.
int NPC_F_PVM_MSG_GetOrderBodyTail(const NPC_S_PVM_ORDER_MSG_VIEW& v, int64_t offset, const uint8_t** data,
                                   int32_t* dataLen);
int NPC_F_PVM_MSG_GetNetMsgTail(const NPC_S_PVM_NET_MSG_VIEW& v, int64_t offset, const uint8_t** data,
                                int32_t* dataLen);

// Copies the fixed part T of an order body: the body must hold at least sizeof(T) bytes
// (ReadOrderBody) or exactly sizeof(T) bytes (ReadOrderBodyExact). 0 otherwise, with *out zeroed.
template <typename T>
int NPC_F_PVM_MSG_ReadOrderBody(const NPC_S_PVM_ORDER_MSG_VIEW& v, T* out) {
  static_assert(std::is_trivially_copyable<T>::value, "bodies are PODs");
  if (!out) return 0;
  if (!v.pBody || v.tHead.iBodyLen < 0 || static_cast<uint64_t>(v.tHead.iBodyLen) < sizeof(T)) {
    memset(out, 0, sizeof(T));
    return 0;
  }
  memcpy(out, v.pBody, sizeof(T));
  return 1;
}
template <typename T>
int NPC_F_PVM_MSG_ReadOrderBodyExact(const NPC_S_PVM_ORDER_MSG_VIEW& v, T* out) {
  if (!out) return 0;
  if (v.tHead.iBodyLen < 0 || static_cast<uint64_t>(v.tHead.iBodyLen) != sizeof(T)) {
    memset(out, 0, sizeof(T));
    return 0;
  }
  return NPC_F_PVM_MSG_ReadOrderBody(v, out);
}
// Copies the fixed record T of a network message (head included): the message must hold at
// least sizeof(T) bytes.
template <typename T>
int NPC_F_PVM_MSG_ReadNetFixed(const NPC_S_PVM_NET_MSG_VIEW& v, T* out) {
  static_assert(std::is_trivially_copyable<T>::value, "network records are PODs");
  if (!out) return 0;
  if (!v.pMsg || v.iMsgLen < 0 || static_cast<uint64_t>(v.iMsgLen) < sizeof(T)) {
    memset(out, 0, sizeof(T));
    return 0;
  }
  memcpy(out, v.pMsg, sizeof(T));
  return 1;
}

// An array of fixed-size records inside a body.
struct NPC_S_PVM_RECORD_ARRAY {
  const uint8_t* pRecords;
  int32_t iRecNum;
  int32_t iRecSize;
};
// Reads an answer that carries a record count (i32 at body offset countOffset) followed by that
// many records of recSize bytes from recordsOffset: the count must lie in 0..maxNum and the
// body must end exactly after the last record.
int NPC_F_PVM_MSG_ReadRecordArray(const NPC_S_PVM_ORDER_MSG_VIEW& v, int64_t countOffset, int64_t recordsOffset,
                                  int32_t recSize, int32_t maxNum, NPC_S_PVM_RECORD_ARRAY* out);
// Copies record i (the first sizeof(T) bytes of it, so a 36-byte range record can be read from
// a 224-byte slot); 0 for an index outside the array or a T longer than the records.
template <typename T>
int NPC_F_PVM_MSG_GetRecord(const NPC_S_PVM_RECORD_ARRAY& a, int32_t i, T* out) {
  static_assert(std::is_trivially_copyable<T>::value, "records are PODs");
  if (!out) return 0;
  if (!a.pRecords || i < 0 || i >= a.iRecNum || a.iRecSize < 0 || sizeof(T) > static_cast<uint64_t>(a.iRecSize)) {
    memset(out, 0, sizeof(T));
    return 0;
  }
  memcpy(out, a.pRecords + static_cast<uint64_t>(i) * static_cast<uint64_t>(a.iRecSize), sizeof(T));
  return 1;
}

// A frame carried by ORDER_MEDIA_DATA or EVENT_REC_DOWNLOAD_DATA. The data is every byte behind
// the fixed part, as the call layer hands it on; iFrameDataLenField is the body's own length
// field, for receivers that check it.
struct NPC_S_PVM_FRAME_DATA_VIEW {
  uint32_t dwCameraConnId;
  uint32_t dwDownloadId;  // EVENT_REC_DOWNLOAD_DATA only
  NPC_S_MON_MEDIA_FRAME_HEAD tFrameHead;
  int32_t iFrameDataLenField;
  const uint8_t* pData;
  int32_t iDataLen;
};
// Refuse a message of another code or whose body is shorter than its fixed part.
int NPC_F_PVM_MSG_ReadMediaData(const NPC_S_PVM_ORDER_MSG_VIEW& v, NPC_S_PVM_FRAME_DATA_VIEW* out);
int NPC_F_PVM_MSG_ReadRecDownloadData(const NPC_S_PVM_ORDER_MSG_VIEW& v, NPC_S_PVM_FRAME_DATA_VIEW* out);

// Data carried by NET_SEND_DATA, NET_OOB_RECV or NET_RECV_MEDIA_FRAME: every byte behind the
// fixed part (the engine does not consult the length field); iDataLenField is that field.
struct NPC_S_PVM_NET_DATA_VIEW {
  uint32_t dwProtConnId;
  uint32_t dwLogicTcpConnId;
  int32_t iDataLenField;
  uint32_t dwChannel;  // NET_SEND_DATA only
  int32_t iDataType;   // NET_SEND_DATA only
  const uint8_t* pData;
  int32_t iDataLen;
};
int NPC_F_PVM_MSG_ReadNetSendData(const NPC_S_PVM_NET_MSG_VIEW& v, NPC_S_PVM_NET_DATA_VIEW* out);
int NPC_F_PVM_MSG_ReadNetFrameData(const NPC_S_PVM_NET_MSG_VIEW& v, NPC_S_PVM_NET_DATA_VIEW* out);

// The device's talk format in the last 44 bytes of an ORDER_START_TALK_EX answer body, which
// must be at least as long as the request body.
int NPC_F_PVM_MSG_ReadTalkExDevFormat(const NPC_S_PVM_ORDER_MSG_VIEW& v, NPC_S_MON_MEDIA_TALK_FORMAT* out);

#undef KORVEN_PVM_PIN
#undef KORVEN_PVM_SIZE

#endif
