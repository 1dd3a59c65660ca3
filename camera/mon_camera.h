// The camera interface: the application's handle on one channel of one device. Two classes
// implement it, the protocol-bus camera (camera/nxtp_camera.h), which reaches the device through
// the synchronous call layer and a device protocol module, and the direct camera of connect modes
// 1 and 3. The 94 operations stand in their fixed slot order; the creator (the camera factory of
// the client layer, or a tool or test standing in for it) fills the base fields after
// construction.
//
// There is deliberately no virtual destructor: the owner destroys a camera through its concrete
// class, which it picks by the connect mode it created the camera with (modes 1 and 3 the direct
// camera, every other mode the protocol-bus camera). The destructor here is protected so that
// nobody deletes through the interface.
//
// Return conventions: most operations return 0 or a camera error code and keep a last error
// (code and text in the camera's language) on failure; getters return values directly; the
// exceptions are noted at the operation.
#ifndef KORVEN_CAMERA_MON_CAMERA_H
#define KORVEN_CAMERA_MON_CAMERA_H

#include <cstdint>

#include "bus/pvm_records.h"
#include "camera/frame_list.h"

// Connection states of a camera.
constexpr int NPC_D_MPI_MON_CAMERA_STATE_IDLE = 0;
constexpr int NPC_D_MPI_MON_CAMERA_STATE_CONNECTING = 1;
constexpr int NPC_D_MPI_MON_CAMERA_STATE_CONNECTED = 2;
constexpr int NPC_D_MPI_MON_CAMERA_STATE_DISCONNECTED = 3;
// Disconnect causes (meaningful in state 3).
constexpr int NPC_D_MPI_MON_CAMERA_DISCAUSE_MEDIA_TIMEOUT = 6;
constexpr int NPC_D_MPI_MON_CAMERA_DISCAUSE_DEV_DISCONNECT = 7;
// Play types and play states.
constexpr int NPC_D_MPI_MON_CAMERA_PLAY_TYPE_LIVE = 0;
constexpr int NPC_D_MPI_MON_CAMERA_PLAY_TYPE_RECORD = 1;
constexpr int NPC_D_MPI_MON_CAMERA_PLAY_STATE_STOP = 0;
constexpr int NPC_D_MPI_MON_CAMERA_PLAY_STATE_PLAYING = 1;
constexpr int NPC_D_MPI_MON_CAMERA_PLAY_STATE_PAUSED = 2;

// Camera error codes the camera sets itself (codes from module answers are mapped by the module
// result table of bus/pvm_result.h).
#define NPC_MPI_MON_CAMERA_ERROR_LIST(X)                                            \
  X(0, NPC_D_MPI_MON_ERROR_SUCCESS)                                                 \
  X(1, NPC_D_MPI_MON_ERROR_LOCAL_FAIL)       /* a local send, or download work data */ \
  X(4, NPC_D_MPI_MON_ERROR_CREATE_FAIL)      /* registration, a list, a result list */ \
  X(5, NPC_D_MPI_MON_ERROR_ADD_LIST_FAIL)                                           \
  X(6, NPC_D_MPI_MON_ERROR_CALL_FAIL)        /* call layer failure, malformed answer */ \
  X(7, NPC_D_MPI_MON_ERROR_DISCONNECT_FAIL)                                         \
  X(9, NPC_D_MPI_MON_ERROR_NO_MEMORY)        /* or an answer of a wrong data length */ \
  X(12, NPC_D_MPI_MON_ERROR_PARAM)                                                  \
  X(19, NPC_D_MPI_MON_ERROR_ANSWER_SIZE)                                            \
  X(104, NPC_D_MPI_MON_ERROR_CONNECTING)                                            \
  X(105, NPC_D_MPI_MON_ERROR_CONNECTED)                                             \
  X(107, NPC_D_MPI_MON_ERROR_NO_CONNECT)                                            \
  X(108, NPC_D_MPI_MON_ERROR_PLAYING)                                               \
  X(109, NPC_D_MPI_MON_ERROR_NO_PLAY)                                               \
  X(141, NPC_D_MPI_MON_ERROR_NOT_SUPPORT)    /* "Not support operate" */

enum NPC_E_MPI_MON_CAMERA_ERROR : int {
#define KORVEN_CAM_X(code, name) name = code,
  NPC_MPI_MON_CAMERA_ERROR_LIST(KORVEN_CAM_X)
#undef KORVEN_CAM_X
};

// Frames of live view and playback, instead of the frame list: (user, frame head, data, length).
typedef void (*NPC_F_MPI_MON_MEDIA_STREAM_CALLBACK)(void* user, const NPC_S_MON_MEDIA_FRAME_HEAD* head,
                                                    const unsigned char* data, int length);
// Thumbnails: (user, thumbnail id, picture data, length).
typedef void (*NPC_F_MPI_MON_FILE_THUMB_CALLBACK)(void* user, uint32_t thumbId, const unsigned char* data, int length);
// Alarms, instead of the alarm list: (user, alarm head, text, text length counting its NUL).
typedef void (*NPC_F_MPI_MON_ALARM_CALLBACK)(void* user, const NPC_S_MPI_MON_ALARM_HEAD* head, const char* text,
                                             int length);
// Pass-through data, instead of the pass-through list: (user, extra, data, length).
typedef void (*NPC_F_MPI_MON_P2P_PORT_DATA_CALLBACK)(void* user, void* extra, const unsigned char* data, int length);

// Video quality levels as GetVideoQualityCapList hands them out.
struct NPC_S_MPI_MON_VIDEO_CODEC_LEVEL {
  char sLevelName[16];
  int32_t iLevelValue;
  uint8_t ucReserve[8];
};
struct NPC_S_MPI_MON_VIDEO_CODEC_LEVEL_LIST {
  int32_t iLevelNum;  // 0..8
  NPC_S_MPI_MON_VIDEO_CODEC_LEVEL tLevel[8];
};

// Connect modes of the creator (base field iConnectMode).
constexpr int NPC_D_MPI_MON_CONNECT_MODE_ADDR = 0;          // address and port, protocol-bus camera
constexpr int NPC_D_MPI_MON_CONNECT_MODE_DIRECT_ADDR = 1;   // address and port, direct camera
constexpr int NPC_D_MPI_MON_CONNECT_MODE_P2P = 2;           // device identifier through the servers
constexpr int NPC_D_MPI_MON_CONNECT_MODE_DIRECT_ID = 3;     // device identifier, direct camera

// A result list of a search (records of one kind); its operations are the camera's.
typedef void* NPC_H_MPI_MON_RESULT_LIST;

class NPC_I_MPI_MON_Camera {
 public:
  // --- Base fields, filled by the creator after construction -------------------------------------
  int iConnectMode = NPC_D_MPI_MON_CONNECT_MODE_ADDR;  // the creator's connect mode (table above)
  uint32_t dwVendorId = 0;                             // after the creator's vendor translation
  void* pMonClient = nullptr;                          // the owning monitor client
  void* hSrvConn = nullptr;                            // the client's account server connection
  char sCameraId[32] = {};                             // at most 31 characters
  char sConnParam[1024] = {};                          // the creator's copy, at most 1023 characters

  // --- Slots 0-7 --------------------------------------------------------------------------------
  virtual int NPC_F_MPI_MON_Camera_Connect(int timeoutMs, const char* customFlagText, uint32_t spareFlag,
                                           int connectMode) = 0;
  virtual void NPC_F_MPI_MON_Camera_Disconnect() = 0;
  virtual int NPC_F_MPI_MON_Camera_GetState() = 0;
  virtual int NPC_F_MPI_MON_Camera_GetDisconnectCause() = 0;
  virtual int NPC_F_MPI_MON_Camera_GetPlayType() = 0;
  virtual int NPC_F_MPI_MON_Camera_GetPlayState() = 0;
  // Copies at most len - 1 bytes of the last error text (when len > 0 and text is given); returns
  // the last error code.
  virtual int NPC_F_MPI_MON_Camera_GetLastError(int len, char* text) = 0;
  virtual int NPC_F_MPI_MON_Camera_GetDevConnectMode(int* mode) = 0;

  // --- Slots 8-11 -------------------------------------------------------------------------------
  virtual void NPC_F_MPI_MON_Camera_SetMediaStreamCallback(NPC_F_MPI_MON_MEDIA_STREAM_CALLBACK cb, void* user) = 0;
  virtual void NPC_F_MPI_MON_Camera_SetFileThumbCallback(NPC_F_MPI_MON_FILE_THUMB_CALLBACK cb, void* user) = 0;
  // Returns 1.
  virtual int NPC_F_MPI_MON_Camera_SetP2pPortDataCallback(NPC_F_MPI_MON_P2P_PORT_DATA_CALLBACK cb, void* user,
                                                          void* extra) = 0;
  virtual void NPC_F_MPI_MON_Camera_SetRealMediaTransMode(int mode) = 0;

  // --- Slots 12-15: recording search ------------------------------------------------------------
  virtual NPC_H_MPI_MON_RESULT_LIST NPC_F_MPI_MON_Camera_SearchRecFileFromDev(const NPC_S_TD_DATE_TIME* begin,
                                                                              const NPC_S_TD_DATE_TIME* end,
                                                                              uint32_t fileType) = 0;
  virtual void NPC_F_MPI_MON_Camera_SearchColl_Release(NPC_H_MPI_MON_RESULT_LIST list) = 0;
  virtual int NPC_F_MPI_MON_Camera_SearchColl_MoveFirst(NPC_H_MPI_MON_RESULT_LIST list) = 0;
  virtual int NPC_F_MPI_MON_Camera_SearchColl_GetNextRecFile(NPC_H_MPI_MON_RESULT_LIST list,
                                                             NPC_S_MPI_MON_REC_FILE* record) = 0;

  // --- Slots 16-23: file queries ----------------------------------------------------------------
  virtual NPC_H_MPI_MON_RESULT_LIST NPC_F_MPI_MON_Camera_QueryFile(int chNo, int streamNo, uint32_t fileType,
                                                                   int createMode,
                                                                   const unsigned char* alarmEventTable,
                                                                   int alarmEventNum, const NPC_S_TD_DATE_TIME* begin,
                                                                   const NPC_S_TD_DATE_TIME* end) = 0;
  virtual NPC_H_MPI_MON_RESULT_LIST NPC_F_MPI_MON_Camera_QueryFileTimeRange(
      int chNo, int streamNo, uint32_t fileType, int createMode, const unsigned char* alarmEventTable,
      int alarmEventNum, const NPC_S_TD_DATE_TIME* begin, const NPC_S_TD_DATE_TIME* end) = 0;
  virtual NPC_H_MPI_MON_RESULT_LIST NPC_F_MPI_MON_Camera_QueryFileDateRange(
      int chNo, int streamNo, uint32_t fileType, int createMode, const unsigned char* alarmEventTable,
      int alarmEventNum, const NPC_S_TD_DATE* beginDate, const NPC_S_TD_DATE* endDate) = 0;
  virtual void NPC_F_MPI_MON_Camera_FileList_Release(NPC_H_MPI_MON_RESULT_LIST list) = 0;
  virtual int NPC_F_MPI_MON_Camera_FileList_MoveFirst(NPC_H_MPI_MON_RESULT_LIST list) = 0;
  virtual int NPC_F_MPI_MON_Camera_FileList_GetNextFile(NPC_H_MPI_MON_RESULT_LIST list,
                                                        NPC_S_MON_FILE_HEAD_INFO* record) = 0;
  virtual int NPC_F_MPI_MON_Camera_FileList_GetNextFileRange(NPC_H_MPI_MON_RESULT_LIST list,
                                                             NPC_S_MON_FILE_RANGE_INFO* record) = 0;
  virtual int NPC_F_MPI_MON_Camera_FileList_GetNextFileDate(NPC_H_MPI_MON_RESULT_LIST list,
                                                            NPC_S_MON_FILE_RECORD_DATE* record) = 0;

  // --- Slots 24-29: live view and playback ------------------------------------------------------
  virtual int NPC_F_MPI_MON_Camera_Play(int streamNo, int index, int autoSub) = 0;
  virtual int NPC_F_MPI_MON_Camera_Play(int streamNo, int index, NPC_F_MPI_MON_MEDIA_STREAM_CALLBACK cb,
                                        void* user) = 0;
  virtual int NPC_F_MPI_MON_Camera_StartPlayFile(const NPC_S_MPI_MON_REC_FILE* file, int index) = 0;
  virtual int NPC_F_MPI_MON_Camera_StartPlayFile(const NPC_S_MPI_MON_REC_FILE* file, int index,
                                                 NPC_F_MPI_MON_MEDIA_STREAM_CALLBACK cb, void* user) = 0;
  virtual int NPC_F_MPI_MON_Camera_StartPlayFile(const NPC_S_MPI_MON_REC_FILE* file, int byTime,
                                                 const NPC_S_TD_DATE_TIME* begin, const NPC_S_TD_DATE_TIME* end,
                                                 int index) = 0;
  virtual int NPC_F_MPI_MON_Camera_StartPlaybackByTimeSect(const NPC_S_TD_DATE_TIME* begin,
                                                           const NPC_S_TD_DATE_TIME* end,
                                                           const NPC_S_TD_DATE_TIME* startPos, int index, int chNo,
                                                           int selector, const unsigned char* eventData,
                                                           int eventLen) = 0;

  // --- Slots 30-32 ------------------------------------------------------------------------------
  virtual int NPC_F_MPI_MON_Camera_Stop(int timeoutMs) = 0;
  virtual int NPC_F_MPI_MON_Camera_PlayControl(int type, uint32_t value) = 0;
  virtual int NPC_F_MPI_MON_Camera_PlayBackSpeedControl(int speed1, int speed2) = 0;

  // --- Slots 33-40: talk and data sent down -----------------------------------------------------
  virtual int NPC_F_MPI_MON_Camera_StartTalk(int codec, int bitsPerSample, int sampleRate, int talkChannel) = 0;
  virtual int NPC_F_MPI_MON_Camera_StartTalkV2(int talkMode, int extLen, const unsigned char* extData,
                                               int talkChannel, int codec, int bitsPerSample, int sampleRate) = 0;
  virtual int NPC_F_MPI_MON_Camera_StartTalkEx(NPC_S_MON_MEDIA_TALK_INFO* talkInfo, int talkChannel) = 0;
  virtual void NPC_F_MPI_MON_Camera_StopTalk() = 0;
  virtual int NPC_F_MPI_MON_Camera_CtrlTalkEx(int mediaType, int control) = 0;
  virtual int NPC_F_MPI_MON_Camera_SendVocData(int timestamp, const unsigned char* data, int length,
                                               int reserved) = 0;
  virtual int NPC_F_MPI_MON_Camera_SendMediaData(int timestamp, int isAudio, int frameType,
                                                 const unsigned char* data, int length, int reserved) = 0;
  virtual int NPC_F_MPI_MON_Camera_SendP2PPortData(const unsigned char* data, int length, int timeoutMs) = 0;

  // --- Slots 41-48: stream control ---------------------------------------------------------------
  virtual int NPC_F_MPI_MON_Camera_CtrlMediaStream(int control, int selector) = 0;
  virtual int NPC_F_MPI_MON_Camera_OnlyIFrame(int flag) = 0;
  virtual int NPC_F_MPI_MON_Camera_RequForceIFrame() = 0;
  virtual int NPC_F_MPI_MON_Camera_SwitchChannel(int chNo, int streamNo) = 0;
  virtual int NPC_F_MPI_MON_Camera_QueryChannelStreamNo(int* chNo, int* streamNo) = 0;
  virtual int NPC_F_MPI_MON_Camera_GetVideoQualityCapList(NPC_S_MPI_MON_VIDEO_CODEC_LEVEL_LIST* list) = 0;
  virtual int NPC_F_MPI_MON_Camera_GetCurVideoQualityLevel(int* level) = 0;
  virtual int NPC_F_MPI_MON_Camera_SetVideoQualityLevel(int level) = 0;

  // --- Slots 49-53: frames ------------------------------------------------------------------------
  // The oldest frame of a kind (0 any, 1 video, 2 audio), without waiting; null when none.
  virtual NPC_S_MPI_MON_MEDIA_FRAME* NPC_F_MPI_MON_Camera_GetMediaFrame(int type) = 0;
  // The oldest frame of any kind, waiting up to waitMs for one; null when none came.
  virtual NPC_S_MPI_MON_MEDIA_FRAME* NPC_F_MPI_MON_Camera_GetMediaFrameFromQueue(int waitMs) = 0;
  virtual void NPC_F_MPI_MON_Camera_ReleaseFrameData(NPC_S_MPI_MON_MEDIA_FRAME* frame) = 0;
  virtual int NPC_F_MPI_MON_Camera_GetResidualFrameNum(int type) = 0;
  virtual int NPC_F_MPI_MON_Camera_GetResidualFrameTimestamp(int type) = 0;

  // --- Slots 54-57 ------------------------------------------------------------------------------
  virtual int NPC_F_MPI_MON_Camera_PtzControl(int command, uint32_t param1, uint32_t param2, uint32_t param3,
                                              int timeoutMs) = 0;
  virtual int NPC_F_MPI_MON_Camera_StartRecord() = 0;
  virtual int NPC_F_MPI_MON_Camera_StopRecord() = 0;
  virtual int NPC_F_MPI_MON_Camera_CheckRecordState() = 0;

  // --- Slots 58-63: alarms ----------------------------------------------------------------------
  // Return 1 on success and 0 on failure.
  virtual int NPC_F_MPI_MON_Camera_StartGetAlarmInfo() = 0;
  virtual int NPC_F_MPI_MON_Camera_StopGetAlarmInfo() = 0;
  virtual int NPC_F_MPI_MON_Camera_CheckAlarmState() = 0;
  virtual NPC_S_MPI_MON_ALARM_DATA* NPC_F_MPI_MON_Camera_GetAlarmInfo(int waitMs) = 0;
  // Returns 1.
  virtual int NPC_F_MPI_MON_Camera_SetAlarmCallback(NPC_F_MPI_MON_ALARM_CALLBACK cb, void* user) = 0;
  virtual void NPC_F_MPI_MON_Camera_ReleaseAlarmBuf(NPC_S_MPI_MON_ALARM_DATA* alarm) = 0;

  // --- Slots 64-69: downloads -------------------------------------------------------------------
  // The starts return 1 on success and 0 on failure.
  virtual int NPC_F_MPI_MON_Camera_RecFile_StartDown(const char* fileName, int byTime,
                                                     const NPC_S_TD_DATE_TIME* begin, const NPC_S_TD_DATE_TIME* end,
                                                     uint32_t* downloadId) = 0;
  virtual int NPC_F_MPI_MON_Camera_RecFile_StartDownByTime(const NPC_S_TD_DATE_TIME* begin,
                                                           const NPC_S_TD_DATE_TIME* end, int selector1,
                                                           int selector2, uint32_t* downloadId) = 0;
  virtual void NPC_F_MPI_MON_Camera_RecFile_StopDown(uint32_t downloadId) = 0;
  virtual int NPC_F_MPI_MON_Camera_RecFile_QueryDownState(uint32_t downloadId) = 0;
  virtual int NPC_F_MPI_MON_Camera_RecFile_GetDownPercent(uint32_t downloadId) = 0;
  virtual NPC_S_MPI_MON_MEDIA_FRAME* NPC_F_MPI_MON_Camera_RecFile_GetDownFrameData(uint32_t downloadId,
                                                                                  int waitMs) = 0;

  // --- Slots 70-76: password and configuration --------------------------------------------------
  virtual int NPC_F_MPI_MON_Camera_ModifyDevPwd(const char* user, const char* oldPassword,
                                                const char* newPassword) = 0;
  virtual int NPC_F_MPI_MON_Camera_GetConfig(int type, char** buf, int* length) = 0;
  virtual int NPC_F_MPI_MON_Camera_GetConfig(int type, const void* request, int requestLength, char** buf,
                                             int* length) = 0;
  virtual int NPC_F_MPI_MON_Camera_SetConfig(int type, const void* data, int length) = 0;
  virtual int NPC_F_MPI_MON_Camera_GetDefConfig(int type, int selector, char** buf, int* length) = 0;
  virtual int NPC_F_MPI_MON_Camera_ImportConfig(const void* data, int length) = 0;
  virtual int NPC_F_MPI_MON_Camera_ExportConfig(char** buf, int* length) = 0;

  // --- Slots 77-83: serial port and users -------------------------------------------------------
  virtual int NPC_F_MPI_MON_Camera_ComOpen(int port, int p2, int p3, int p4, int p5, int p6) = 0;
  virtual int NPC_F_MPI_MON_Camera_ComClose(int port, int selector) = 0;
  virtual int NPC_F_MPI_MON_Camera_ComSendData(int port, int selector, const unsigned char* data, int length) = 0;
  virtual int NPC_F_MPI_MON_Camera_AddUser(const char* user, const char* password, uint32_t flags, int rightNum,
                                           const uint32_t* rights) = 0;
  virtual int NPC_F_MPI_MON_Camera_DeleteUser(const char* user) = 0;
  virtual int NPC_F_MPI_MON_Camera_GetUserPop(const char* user, uint32_t* flags, int* rightNum, uint32_t* rights) = 0;
  virtual int NPC_F_MPI_MON_Camera_SetUserPop(const char* user, uint32_t flags, int rightNum,
                                              const uint32_t* rights) = 0;

  // --- Slots 84-93: custom functions, device management, upgrade --------------------------------
  virtual int NPC_F_MPI_MON_Camera_CallCustomFunc(int functionId, const void* data, int length, char** buf,
                                                  int* outLength) = 0;
  virtual int NPC_F_MPI_MON_Camera_QueryAbility(int abilityType, char** buf, int* length) = 0;
  virtual int NPC_F_MPI_MON_Camera_TimerSnapshot(int snapshotType, char** buf, int* length) = 0;
  virtual int NPC_F_MPI_MON_Camera_DevReboot() = 0;
  virtual int NPC_F_MPI_MON_Camera_DevClose() = 0;
  virtual int NPC_F_MPI_MON_Camera_QueryDevVerInfo(uint16_t* versions, unsigned char* versionData) = 0;
  virtual int NPC_F_MPI_MON_Camera_RequestUpgrade(int first, int second, int value, uint32_t* upgradeId) = 0;
  virtual int NPC_F_MPI_MON_Camera_QueryUpgradeProgress(uint32_t upgradeId, int* progress) = 0;
  virtual int NPC_F_MPI_MON_Camera_SendUpgradeFileData(uint32_t upgradeId, const unsigned char* data,
                                                       int length) = 0;
  virtual void NPC_F_MPI_MON_Camera_ReleaseBuf(char* buf) = 0;

 protected:
  NPC_I_MPI_MON_Camera() = default;
  NPC_I_MPI_MON_Camera(const NPC_I_MPI_MON_Camera&) = delete;
  NPC_I_MPI_MON_Camera& operator=(const NPC_I_MPI_MON_Camera&) = delete;
  ~NPC_I_MPI_MON_Camera() = default;
};

#endif
