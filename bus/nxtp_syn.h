// The synchronous call layer in front of one protocol bus engine: blocking calls that post an
// order and wait for its answer (transaction table of 512 entries), orders sent without
// waiting, the camera table (512 cameras, five callbacks each) through which notices coming up
// reach their camera by dwCameraConnId, the server orders 257 and 258, and pass-through
// operations to the engine. Everything that comes up and is neither an answer nor a camera
// notice goes to the layer's upper callback.
//
// Threads. Any number of application threads may call, register and delete cameras; one
// mutex guards the tables. The engine's work thread runs answer matching, notice dispatch and
// the once-a-second camera timer pass, all with that mutex held: camera callbacks and the upper
// callback must not call back into this layer and must return quickly.
#ifndef KORVEN_BUS_NXTP_SYN_H
#define KORVEN_BUS_NXTP_SYN_H

#include <cstddef>
#include <cstdint>

#include "bus/nxtp_mc.h"
#include "bus/pvm_msg.h"
#include "bus/pvm_records.h"

struct NPC_S_NXTP_SYN_MODULE_DATA;
// A call layer handle; null makes every operation fail without effect.
typedef NPC_S_NXTP_SYN_MODULE_DATA* NPC_H_NXTP_SYN;

constexpr int NPC_D_NXTP_SYN_TRANS_NUM = 512;
constexpr int NPC_D_NXTP_SYN_CAMERA_NUM = 512;
// TransDataToDev accepts data lengths from 1 to this.
constexpr int NPC_D_NXTP_SYN_TRANS_DATA_MAX_LEN = 131071;

// Results of NPC_F_NXTP_SYN_CallRemoteProcess, with the call-failure reasons that the account
// client and the cameras show for them: (code, name, English reason, Chinese reason). -2 is
// never produced by the call layer; its reason serves the account client's own connection.
#define NPC_NXTP_SYN_CALL_RESULT_LIST(X)                                                  \
  X(0, NPC_D_NXTP_SYN_CALL_OK, "", "")                                                    \
  X(-1, NPC_D_NXTP_SYN_CALL_NO_HANDLE, "System error.", "系统错误.")                      \
  X(-2, NPC_D_NXTP_SYN_CALL_NO_CONNECT, "No connect.", "未连接服务器.")                   \
  X(-3, NPC_D_NXTP_SYN_CALL_CREATE_TRANS_FAIL, "Create trans fail.", "创建事务失败.")     \
  X(-4, NPC_D_NXTP_SYN_CALL_SEND_FAIL, "Send request fail.", "发送请求消息失败.")         \
  X(-5, NPC_D_NXTP_SYN_CALL_WAIT_TIMEOUT, "Wait timeout.", "等待应答超时.")               \
  X(-6, NPC_D_NXTP_SYN_CALL_ALLOC_FAIL, "Alloc memory fail.", "分配内存失败.")

enum NPC_E_NXTP_SYN_CALL_RESULT : int {
#define KORVEN_SYN_X(code, name, en, zh) name = code,
  NPC_NXTP_SYN_CALL_RESULT_LIST(KORVEN_SYN_X)
#undef KORVEN_SYN_X
};
#define NPC_D_NXTP_SYN_CALL_OTHER_EN "Other error."
#define NPC_D_NXTP_SYN_CALL_OTHER_CN "其它错误."

// The call-failure text of an operation: in English (language non-zero) "%s call fail, [%d]"
// and the reason, in Chinese (language 0) "%s调用失败, [%d]" and the reason; a code outside
// -1..-6 gives "Other error." / "其它错误.". Writes into text (textSize bytes, always
// NUL-terminated, cut at a character boundary). Returns 1, or 0 for bad arguments.
int NPC_F_MPI_MON_CLT_PR_GetCallFailInfo(int language, const char* operation, int code, char* text, int textSize);

// --- Camera callbacks --------------------------------------------------------------------------

// Data kinds of the media data callback.
constexpr int NPC_D_NXTP_SYN_MEDIA_KIND_MEDIA = 0;     // ORDER_MEDIA_DATA
constexpr int NPC_D_NXTP_SYN_MEDIA_KIND_DOWNLOAD = 2;  // EVENT_REC_DOWNLOAD_DATA, sub id the download id
constexpr int NPC_D_NXTP_SYN_MEDIA_KIND_THUMB = 4;     // ORDER_THUMB_DATA
// Notice kinds of the state notify callback.
constexpr int NPC_D_NXTP_SYN_STATE_KIND_DISCONNECT = 0;        // value the cause, text the cause text
constexpr int NPC_D_NXTP_SYN_STATE_KIND_DOWNLOAD_STATE = 2;    // value the download state
constexpr int NPC_D_NXTP_SYN_STATE_KIND_DOWNLOAD_PERCENT = 3;  // value the percent done
// iMediaType of the frame head handed with a thumbnail.
constexpr int32_t NPC_D_NXTP_SYN_MEDIA_TYPE_THUMB = 200;

// The 96-byte alarm record handed to the alarm data callback.
struct NPC_S_NXTP_SYN_ALARM_RECORD {
  uint32_t dwCameraConnId;
  int32_t iAlarmType;
  NPC_S_TD_DATE_TIME tAlarmTime;
  int32_t iAlarmParam;
  char sAlarmText[64];  // the first 63 bytes of the notice's text, NUL-terminated
  int32_t iValue1;
  int32_t iValue2;
};
static_assert(sizeof(NPC_S_NXTP_SYN_ALARM_RECORD) == 96, "alarm record is 96 bytes");
static_assert(offsetof(NPC_S_NXTP_SYN_ALARM_RECORD, tAlarmTime) == 8 &&
                  offsetof(NPC_S_NXTP_SYN_ALARM_RECORD, iAlarmParam) == 20 &&
                  offsetof(NPC_S_NXTP_SYN_ALARM_RECORD, sAlarmText) == 24 &&
                  offsetof(NPC_S_NXTP_SYN_ALARM_RECORD, iValue1) == 88,
              "alarm record layout");

// The five camera callbacks. They run on the engine's work thread with the layer's mutex held;
// the pointers they get are valid during the call only (media data points into the engine's
// message, without a copy).
typedef void (*NPC_F_NXTP_SYN_MEDIA_DATA_CALLBACK)(void* user, uint32_t dwCameraConnId, int dataKind, uint32_t subId,
                                                  const NPC_S_MON_MEDIA_FRAME_HEAD* frameHead,
                                                  const unsigned char* data, int dataLen);
typedef void (*NPC_F_NXTP_SYN_ALARM_DATA_CALLBACK)(void* user, uint32_t dwCameraConnId,
                                                  const NPC_S_NXTP_SYN_ALARM_RECORD* record, int recordLen);
typedef void (*NPC_F_NXTP_SYN_TIMER_CALLBACK)(void* user, uint32_t dwCameraConnId);
typedef void (*NPC_F_NXTP_SYN_STATE_NOTIFY_CALLBACK)(void* user, uint32_t dwCameraConnId, int noticeKind,
                                                    uint32_t subId, int value, const char* text);
typedef void (*NPC_F_NXTP_SYN_PASS_THROUGH_CALLBACK)(void* user, uint32_t dwCameraConnId, const unsigned char* data,
                                                    int dataLen);

// --- Creation and destruction ------------------------------------------------------------------

// Creates the layer and its engine (every parameter is passed through to
// NPC_F_NXTP_CreateProtocolBusServer in order; the engine's upper and second callbacks are the
// layer's own). Returns the handle, or null after undoing what was done.
NPC_H_NXTP_SYN NPC_F_NXTP_SYN_CreateProtocolBusServer(unsigned short localUdpPort, const char* serverIpaddr,
                                                      unsigned short serverPort, const char* p2pSrvIpaddr,
                                                      unsigned short p2pSrvPort, const char* clientIdent,
                                                      int busValue1, int busValue2, const char* userId,
                                                      int userValue, const char* userText, int connectSpecServer,
                                                      int skipNetCheck, int localUdpMode,
                                                      NPC_F_NXTP_UPPER_CALLBACK upperCallback, void* upperUser,
                                                      int transVersion, int encryptType);
// The same from the engine's parameter record: its upper callback is the layer's upper
// callback, its second callback is ignored (also names the module table and server link).
NPC_H_NXTP_SYN NPC_F_NXTP_SYN_CreateProtocolBusServerEx(const NPC_S_NXTP_CREATE_PARAM* param);
// Destroys the layer. The owner calls it after every camera has been deleted and when no call
// is in progress; to keep a late caller safe it also refuses new calls, wakes every call still
// waiting (which then returns -5) and waits until every call in progress has left the layer,
// before it destroys the engine, the wake events and the record.
void NPC_F_NXTP_SYN_DestroyProtocolBusServer(NPC_H_NXTP_SYN syn);
// The engine under the layer (for the owner's direct engine operations), or null.
NPC_H_NXTP_MC NPC_F_NXTP_SYN_GetBusHandle(NPC_H_NXTP_SYN syn);

// --- Calls -------------------------------------------------------------------------------------

// Sends one order and waits up to timeoutMs for its answer (the time-out counts once for room
// in the engine's queue and once for the answer). 0: *iResult holds the module's result and the
// caller's growable buffer (*ansBuf, *ansCap, *ansLen; reused when large enough) the answer
// body; otherwise a negative NPC_D_NXTP_SYN_CALL_* code. The caller frees *ansBuf with
// NPC_F_NXTP_SYN_ReleaseDataBuf, also after a failure.
int NPC_F_NXTP_SYN_CallRemoteProcess(NPC_H_NXTP_SYN syn, int iMsgId, uint32_t vendorId, const void* body,
                                     int bodyLen, int* iResult, char** ansBuf, int* ansCap, int* ansLen,
                                     int timeoutMs);
// Sends an order without waiting for an answer under a no-wait id (into *transId when not
// null), waiting up to timeoutMs for queue room. 1 on success.
int NPC_F_NXTP_SYN_SendRequData(NPC_H_NXTP_SYN syn, int iMsgId, uint32_t vendorId, const void* body, int bodyLen,
                                uint32_t* transId, int timeoutMs);
// Posts a complete message the caller built (head included) without waiting for room. 1 on success.
int NPC_F_NXTP_SYN_SendNoTransRequData(NPC_H_NXTP_SYN syn, const unsigned char* msg, int len);
// Frees a buffer handed out by this layer or filled by a call.
void NPC_F_NXTP_SYN_ReleaseDataBuf(char* buf);

// --- Camera table --------------------------------------------------------------------------------

// Registers a camera in the lowest free slot and returns its id (slot in the low 16 bits, a
// tag in the high 16 bits that differs from the slot's previous tag); 0 when the handle is null,
// the table is full or memory runs out.
uint32_t NPC_F_NXTP_SYN_CreateCameraData(NPC_H_NXTP_SYN syn, NPC_F_NXTP_SYN_MEDIA_DATA_CALLBACK mediaCb,
                                         void* mediaUser, NPC_F_NXTP_SYN_ALARM_DATA_CALLBACK alarmCb,
                                         void* alarmUser, NPC_F_NXTP_SYN_TIMER_CALLBACK timerCb, void* timerUser,
                                         NPC_F_NXTP_SYN_STATE_NOTIFY_CALLBACK stateCb, void* stateUser,
                                         NPC_F_NXTP_SYN_PASS_THROUGH_CALLBACK passThroughCb, void* passThroughUser);
// Frees the camera whose id is exactly this; otherwise does nothing. When it returns, no callback
// of that camera runs or will run.
void NPC_F_NXTP_SYN_DeleteCameraData(NPC_H_NXTP_SYN syn, uint32_t dwCameraConnId);

// --- Server orders -------------------------------------------------------------------------------

// Queries the states of count devices (entries: count 36-byte records, device id and state).
// 1 only when the answer has the request's size and count; then the states are copied back
// over entries and the answer value into *value. The caller's array is untouched otherwise.
int NPC_F_NXTP_SYN_QueryDevState(NPC_H_NXTP_SYN syn, NPC_S_PVM_DEV_STATE_ENTRY* entries, int count, int* value,
                                 int timeoutMs);
// Sends len bytes (1..131071, first byte non-zero) to a device through the server. 1 when the
// answer is consistent: *outBuf then holds the reply data plus a NUL (freed with
// NPC_F_NXTP_SYN_ReleaseDataBuf) and *outLen its length.
int NPC_F_NXTP_SYN_TransDataToDev(NPC_H_NXTP_SYN syn, const char* devId, int value, const unsigned char* data,
                                  int len, char** outBuf, int* outLen, int timeoutMs);

// --- Pass-through operations (0 for a null handle unless said otherwise) -------------------------

int NPC_F_NXTP_SYN_SetUserClientInfo(NPC_H_NXTP_SYN syn, const char* userId, int userValue, const char* userText);
int NPC_F_NXTP_SYN_QueryServerConnState(NPC_H_NXTP_SYN syn);
// 9 for a null handle.
int NPC_F_NXTP_SYN_SetPrivateTrans(NPC_H_NXTP_SYN syn, int value1, int value2);
// 9 for a null handle.
int NPC_F_NXTP_SYN_SetEncryptType(NPC_H_NXTP_SYN syn, int encryptType);
int NPC_F_NXTP_SYN_GetServerIpaddr(NPC_H_NXTP_SYN syn, char* buf, int bufLen);
int NPC_F_NXTP_SYN_GetServerFlag(NPC_H_NXTP_SYN syn, char* buf, int bufLen);
int NPC_F_NXTP_SYN_GetAuthSrvAddr(NPC_H_NXTP_SYN syn, char* buf, int bufLen, unsigned short* port);
int NPC_F_NXTP_SYN_GetStorageSrvAddr(NPC_H_NXTP_SYN syn, unsigned char* buf, int bufLen);
int NPC_F_NXTP_SYN_CheckIfLoginServerOver(NPC_H_NXTP_SYN syn);
int NPC_F_NXTP_SYN_SetIdleDevP2pConnTimeout(NPC_H_NXTP_SYN syn, int seconds);
int NPC_F_NXTP_SYN_SetNetActionMsgTime(NPC_H_NXTP_SYN syn, int seconds);
int NPC_F_NXTP_SYN_SetConnectSpecServer(NPC_H_NXTP_SYN syn, int flag);
int NPC_F_NXTP_SYN_SetUdpTransConn(NPC_H_NXTP_SYN syn, int flag);
int NPC_F_NXTP_SYN_SetNicState(NPC_H_NXTP_SYN syn, int state);
// Logs "set local udp mode is %d,timout is %d", then passes through; a null handle logs
// "NPC_F_NXTP_SYN_SetLocalUDP fail,pNxtpSynModuleData is nil" and returns 0.
int NPC_F_NXTP_SYN_SetLocalUDP(NPC_H_NXTP_SYN syn, int mode, int timeout);

// Waits for the end of the server login: 0 at once for a null handle or a time-out below
// 100 ms; otherwise asks up to timeoutMs / 100 times, 100 ms apart at most (the wait ends at
// once when the login ends), and returns 1 as soon as it has ended, 0 when the tries run out.
int NPC_F_NXTP_SYN_WaitLoginServerState(NPC_H_NXTP_SYN syn, int timeoutMs);

// --- Callbacks given to the engine (work thread) -------------------------------------------------

// Every order message that comes up: an answer (dwTransId non-zero) wakes its call; a notice
// (dwTransId 0) goes to its camera or to the upper callback.
void NPC_F_NXTP_SYN_EventDataCallback(void* user, unsigned char* msg, int len);
// Once a second: each registered camera's timer callback, in slot order.
void NPC_F_NXTP_SYN_TimerCallback(void* user);

#endif
