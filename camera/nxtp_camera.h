// The protocol-bus camera: a camera session that reaches its device through the synchronous
// call layer (bus/nxtp_syn.h), the protocol bus engine and the device protocol module registered
// under the camera's vendor id. It owns the connection and play states, the registration in the
// call layer's camera table with its five callbacks, the frame list, the alarm list and the
// pass-through list, the media time-out, the four download work slots and the camera's last
// error in its language.
//
// Threads. Operations run on application threads and block in the call layer up to their
// time-out. The five callbacks run on the engine's work thread with the call layer's mutex held:
// they only copy into lists and set fields, and never call the call layer. Fields that both
// sides touch are atomics; the callback/user pairs are swapped and read under a camera-local
// mutex (held while a pair's callback runs, so that after a setter returns the old pair is never
// called again: a callback must not call the camera's setters); the download slots are guarded
// by their own mutex, never held across a call-layer call.
//
// Operations of the catalogue that are not built yet return 141 ("Not support operate") without
// sending anything (0 or null where the operation returns a flag or a handle) and store that last
// error.
#ifndef KORVEN_CAMERA_NXTP_CAMERA_H
#define KORVEN_CAMERA_NXTP_CAMERA_H

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "bus/nxtp_syn.h"
#include "camera/frame_list.h"
#include "camera/mon_camera.h"

// Seconds without a frame after which a live view ends (state 3, cause 6), and the same for a
// recording playback; before the first frame, the seconds after the play started.
constexpr int NPC_D_VPI_NXTP_LIVE_MEDIA_TIMEOUT_S = 15;
constexpr int NPC_D_VPI_NXTP_RECORD_MEDIA_TIMEOUT_S = 120;
constexpr int NPC_D_VPI_NXTP_FIRST_FRAME_TIMEOUT_S = 29;
// Call time-out of a camera constructed with a value below 1 (milliseconds).
constexpr int NPC_D_VPI_NXTP_DEF_CALL_TIMEOUT_MS = 20;
// Time-out of the disconnect order.
constexpr int NPC_D_VPI_NXTP_DISCONNECT_TIMEOUT_MS = 32000;
// Download work slots per camera.
constexpr int NPC_D_VPI_NXTP_DOWN_WORK_NUM = 4;

// One download in progress.
struct NPC_S_VPI_NXTP_DOWN_WORK_DATA {
  uint32_t dwWorkId;       // a random number in the high 16 bits, the slot index in the low 16 bits
  uint32_t dwDownloadId;   // given by the module
  NPC_H_VPI_TOOLS_MFL hFrameList;  // capacity 4096
  int iDownloadState;
  int iDownloadPercent;
};

class NPC_C_VPI_NXTP_Camera : public NPC_I_MPI_MON_Camera {
 public:
  // Copies the texts (device id 32, customisation texts 32 each, custom flag text and connect
  // parameter text 1024 each, always NUL-terminated), sets the live media time-out to 15 s and a
  // call time-out below 1 to 20 ms; creates nothing and contacts nobody. waitMediaStreamTimeout
  // is not used by this class.
  NPC_C_VPI_NXTP_Camera(NPC_H_NXTP_SYN callLayer, const char* deviceId, uint32_t vendorId,
                        const char* customisationId, const char* secondCustomisationText,
                        const char* customFlagText, int customFlagValue, const char* connectParameterText,
                        int languageFlag, int callTimeoutMs, int waitMediaStreamTimeout);
  // Disconnects, then releases the lists and the download work data and any registration left.
  // Virtual here (not in the interface, whose slots stay the 94 operations) so that a class
  // built on this one is destroyed whole.
  virtual ~NPC_C_VPI_NXTP_Camera();

  // The client flag that the connect order carries; the creator sets it from the client
  // environment (0 when there is none) before connecting.
  int iClientFlag = 0;

  // --- Slots 0-7 --------------------------------------------------------------------------------
  int NPC_F_MPI_MON_Camera_Connect(int timeoutMs, const char* customFlagText, uint32_t spareFlag,
                                   int connectMode) override;
  void NPC_F_MPI_MON_Camera_Disconnect() override;
  int NPC_F_MPI_MON_Camera_GetState() override;
  int NPC_F_MPI_MON_Camera_GetDisconnectCause() override;
  int NPC_F_MPI_MON_Camera_GetPlayType() override;
  int NPC_F_MPI_MON_Camera_GetPlayState() override;
  int NPC_F_MPI_MON_Camera_GetLastError(int len, char* text) override;
  int NPC_F_MPI_MON_Camera_GetDevConnectMode(int* mode) override;

  // --- Slots 8-11 -------------------------------------------------------------------------------
  void NPC_F_MPI_MON_Camera_SetMediaStreamCallback(NPC_F_MPI_MON_MEDIA_STREAM_CALLBACK cb, void* user) override;
  void NPC_F_MPI_MON_Camera_SetFileThumbCallback(NPC_F_MPI_MON_FILE_THUMB_CALLBACK cb, void* user) override;
  int NPC_F_MPI_MON_Camera_SetP2pPortDataCallback(NPC_F_MPI_MON_P2P_PORT_DATA_CALLBACK cb, void* user,
                                                  void* extra) override;
  void NPC_F_MPI_MON_Camera_SetRealMediaTransMode(int mode) override;

  // --- Slots 12-23 ------------------------------------------------------------------------------
  NPC_H_MPI_MON_RESULT_LIST NPC_F_MPI_MON_Camera_SearchRecFileFromDev(const NPC_S_TD_DATE_TIME* begin,
                                                                      const NPC_S_TD_DATE_TIME* end,
                                                                      uint32_t fileType) override;
  void NPC_F_MPI_MON_Camera_SearchColl_Release(NPC_H_MPI_MON_RESULT_LIST list) override;
  int NPC_F_MPI_MON_Camera_SearchColl_MoveFirst(NPC_H_MPI_MON_RESULT_LIST list) override;
  int NPC_F_MPI_MON_Camera_SearchColl_GetNextRecFile(NPC_H_MPI_MON_RESULT_LIST list,
                                                     NPC_S_MPI_MON_REC_FILE* record) override;
  NPC_H_MPI_MON_RESULT_LIST NPC_F_MPI_MON_Camera_QueryFile(int chNo, int streamNo, uint32_t fileType, int createMode,
                                                           const unsigned char* alarmEventTable, int alarmEventNum,
                                                           const NPC_S_TD_DATE_TIME* begin,
                                                           const NPC_S_TD_DATE_TIME* end) override;
  NPC_H_MPI_MON_RESULT_LIST NPC_F_MPI_MON_Camera_QueryFileTimeRange(int chNo, int streamNo, uint32_t fileType,
                                                                    int createMode,
                                                                    const unsigned char* alarmEventTable,
                                                                    int alarmEventNum,
                                                                    const NPC_S_TD_DATE_TIME* begin,
                                                                    const NPC_S_TD_DATE_TIME* end) override;
  NPC_H_MPI_MON_RESULT_LIST NPC_F_MPI_MON_Camera_QueryFileDateRange(int chNo, int streamNo, uint32_t fileType,
                                                                    int createMode,
                                                                    const unsigned char* alarmEventTable,
                                                                    int alarmEventNum, const NPC_S_TD_DATE* beginDate,
                                                                    const NPC_S_TD_DATE* endDate) override;
  void NPC_F_MPI_MON_Camera_FileList_Release(NPC_H_MPI_MON_RESULT_LIST list) override;
  int NPC_F_MPI_MON_Camera_FileList_MoveFirst(NPC_H_MPI_MON_RESULT_LIST list) override;
  int NPC_F_MPI_MON_Camera_FileList_GetNextFile(NPC_H_MPI_MON_RESULT_LIST list,
                                                NPC_S_MON_FILE_HEAD_INFO* record) override;
  int NPC_F_MPI_MON_Camera_FileList_GetNextFileRange(NPC_H_MPI_MON_RESULT_LIST list,
                                                     NPC_S_MON_FILE_RANGE_INFO* record) override;
  int NPC_F_MPI_MON_Camera_FileList_GetNextFileDate(NPC_H_MPI_MON_RESULT_LIST list,
                                                    NPC_S_MON_FILE_RECORD_DATE* record) override;

  // --- Slots 24-32 ------------------------------------------------------------------------------
  int NPC_F_MPI_MON_Camera_Play(int streamNo, int index, int autoSub) override;
  int NPC_F_MPI_MON_Camera_Play(int streamNo, int index, NPC_F_MPI_MON_MEDIA_STREAM_CALLBACK cb,
                                void* user) override;
  int NPC_F_MPI_MON_Camera_StartPlayFile(const NPC_S_MPI_MON_REC_FILE* file, int index) override;
  int NPC_F_MPI_MON_Camera_StartPlayFile(const NPC_S_MPI_MON_REC_FILE* file, int index,
                                         NPC_F_MPI_MON_MEDIA_STREAM_CALLBACK cb, void* user) override;
  int NPC_F_MPI_MON_Camera_StartPlayFile(const NPC_S_MPI_MON_REC_FILE* file, int byTime,
                                         const NPC_S_TD_DATE_TIME* begin, const NPC_S_TD_DATE_TIME* end,
                                         int index) override;
  int NPC_F_MPI_MON_Camera_StartPlaybackByTimeSect(const NPC_S_TD_DATE_TIME* begin, const NPC_S_TD_DATE_TIME* end,
                                                   const NPC_S_TD_DATE_TIME* startPos, int index, int chNo,
                                                   int selector, const unsigned char* eventData,
                                                   int eventLen) override;
  int NPC_F_MPI_MON_Camera_Stop(int timeoutMs) override;
  int NPC_F_MPI_MON_Camera_PlayControl(int type, uint32_t value) override;
  int NPC_F_MPI_MON_Camera_PlayBackSpeedControl(int speed1, int speed2) override;

  // --- Slots 33-48 ------------------------------------------------------------------------------
  int NPC_F_MPI_MON_Camera_StartTalk(int codec, int bitsPerSample, int sampleRate, int talkChannel) override;
  int NPC_F_MPI_MON_Camera_StartTalkV2(int talkMode, int extLen, const unsigned char* extData, int talkChannel,
                                       int codec, int bitsPerSample, int sampleRate) override;
  int NPC_F_MPI_MON_Camera_StartTalkEx(NPC_S_MON_MEDIA_TALK_INFO* talkInfo, int talkChannel) override;
  void NPC_F_MPI_MON_Camera_StopTalk() override;
  int NPC_F_MPI_MON_Camera_CtrlTalkEx(int mediaType, int control) override;
  int NPC_F_MPI_MON_Camera_SendVocData(int timestamp, const unsigned char* data, int length, int reserved) override;
  int NPC_F_MPI_MON_Camera_SendMediaData(int timestamp, int isAudio, int frameType, const unsigned char* data,
                                         int length, int reserved) override;
  int NPC_F_MPI_MON_Camera_SendP2PPortData(const unsigned char* data, int length, int timeoutMs) override;
  int NPC_F_MPI_MON_Camera_CtrlMediaStream(int control, int selector) override;
  int NPC_F_MPI_MON_Camera_OnlyIFrame(int flag) override;
  int NPC_F_MPI_MON_Camera_RequForceIFrame() override;
  int NPC_F_MPI_MON_Camera_SwitchChannel(int chNo, int streamNo) override;
  int NPC_F_MPI_MON_Camera_QueryChannelStreamNo(int* chNo, int* streamNo) override;
  int NPC_F_MPI_MON_Camera_GetVideoQualityCapList(NPC_S_MPI_MON_VIDEO_CODEC_LEVEL_LIST* list) override;
  int NPC_F_MPI_MON_Camera_GetCurVideoQualityLevel(int* level) override;
  int NPC_F_MPI_MON_Camera_SetVideoQualityLevel(int level) override;

  // --- Slots 49-53 ------------------------------------------------------------------------------
  NPC_S_MPI_MON_MEDIA_FRAME* NPC_F_MPI_MON_Camera_GetMediaFrame(int type) override;
  NPC_S_MPI_MON_MEDIA_FRAME* NPC_F_MPI_MON_Camera_GetMediaFrameFromQueue(int waitMs) override;
  void NPC_F_MPI_MON_Camera_ReleaseFrameData(NPC_S_MPI_MON_MEDIA_FRAME* frame) override;
  int NPC_F_MPI_MON_Camera_GetResidualFrameNum(int type) override;
  int NPC_F_MPI_MON_Camera_GetResidualFrameTimestamp(int type) override;

  // --- Slots 54-69 ------------------------------------------------------------------------------
  int NPC_F_MPI_MON_Camera_PtzControl(int command, uint32_t param1, uint32_t param2, uint32_t param3,
                                      int timeoutMs) override;
  int NPC_F_MPI_MON_Camera_StartRecord() override;
  int NPC_F_MPI_MON_Camera_StopRecord() override;
  int NPC_F_MPI_MON_Camera_CheckRecordState() override;
  int NPC_F_MPI_MON_Camera_StartGetAlarmInfo() override;
  int NPC_F_MPI_MON_Camera_StopGetAlarmInfo() override;
  int NPC_F_MPI_MON_Camera_CheckAlarmState() override;
  NPC_S_MPI_MON_ALARM_DATA* NPC_F_MPI_MON_Camera_GetAlarmInfo(int waitMs) override;
  int NPC_F_MPI_MON_Camera_SetAlarmCallback(NPC_F_MPI_MON_ALARM_CALLBACK cb, void* user) override;
  void NPC_F_MPI_MON_Camera_ReleaseAlarmBuf(NPC_S_MPI_MON_ALARM_DATA* alarm) override;
  int NPC_F_MPI_MON_Camera_RecFile_StartDown(const char* fileName, int byTime, const NPC_S_TD_DATE_TIME* begin,
                                             const NPC_S_TD_DATE_TIME* end, uint32_t* downloadId) override;
  int NPC_F_MPI_MON_Camera_RecFile_StartDownByTime(const NPC_S_TD_DATE_TIME* begin, const NPC_S_TD_DATE_TIME* end,
                                                   int selector1, int selector2, uint32_t* downloadId) override;
  void NPC_F_MPI_MON_Camera_RecFile_StopDown(uint32_t downloadId) override;
  int NPC_F_MPI_MON_Camera_RecFile_QueryDownState(uint32_t downloadId) override;
  int NPC_F_MPI_MON_Camera_RecFile_GetDownPercent(uint32_t downloadId) override;
  NPC_S_MPI_MON_MEDIA_FRAME* NPC_F_MPI_MON_Camera_RecFile_GetDownFrameData(uint32_t downloadId, int waitMs) override;

  // --- Slots 70-93 ------------------------------------------------------------------------------
  int NPC_F_MPI_MON_Camera_ModifyDevPwd(const char* user, const char* oldPassword, const char* newPassword) override;
  int NPC_F_MPI_MON_Camera_GetConfig(int type, char** buf, int* length) override;
  int NPC_F_MPI_MON_Camera_GetConfig(int type, const void* request, int requestLength, char** buf,
                                     int* length) override;
  int NPC_F_MPI_MON_Camera_SetConfig(int type, const void* data, int length) override;
  int NPC_F_MPI_MON_Camera_GetDefConfig(int type, int selector, char** buf, int* length) override;
  int NPC_F_MPI_MON_Camera_ImportConfig(const void* data, int length) override;
  int NPC_F_MPI_MON_Camera_ExportConfig(char** buf, int* length) override;
  int NPC_F_MPI_MON_Camera_ComOpen(int port, int p2, int p3, int p4, int p5, int p6) override;
  int NPC_F_MPI_MON_Camera_ComClose(int port, int selector) override;
  int NPC_F_MPI_MON_Camera_ComSendData(int port, int selector, const unsigned char* data, int length) override;
  int NPC_F_MPI_MON_Camera_AddUser(const char* user, const char* password, uint32_t flags, int rightNum,
                                   const uint32_t* rights) override;
  int NPC_F_MPI_MON_Camera_DeleteUser(const char* user) override;
  int NPC_F_MPI_MON_Camera_GetUserPop(const char* user, uint32_t* flags, int* rightNum, uint32_t* rights) override;
  int NPC_F_MPI_MON_Camera_SetUserPop(const char* user, uint32_t flags, int rightNum,
                                      const uint32_t* rights) override;
  int NPC_F_MPI_MON_Camera_CallCustomFunc(int functionId, const void* data, int length, char** buf,
                                          int* outLength) override;
  int NPC_F_MPI_MON_Camera_QueryAbility(int abilityType, char** buf, int* length) override;
  int NPC_F_MPI_MON_Camera_TimerSnapshot(int snapshotType, char** buf, int* length) override;
  int NPC_F_MPI_MON_Camera_DevReboot() override;
  int NPC_F_MPI_MON_Camera_DevClose() override;
  int NPC_F_MPI_MON_Camera_QueryDevVerInfo(uint16_t* versions, unsigned char* versionData) override;
  int NPC_F_MPI_MON_Camera_RequestUpgrade(int first, int second, int value, uint32_t* upgradeId) override;
  int NPC_F_MPI_MON_Camera_QueryUpgradeProgress(uint32_t upgradeId, int* progress) override;
  int NPC_F_MPI_MON_Camera_SendUpgradeFileData(uint32_t upgradeId, const unsigned char* data, int length) override;
  void NPC_F_MPI_MON_Camera_ReleaseBuf(char* buf) override;

  // --- Outside the interface (port-mapping service) ----------------------------------------------
  int NPC_F_MPI_MON_Camera_Dev_PublicIpAddr(char** buf, int* length);
  // The oldest pass-through data item, waiting up to waitMs; null when none came.
  NPC_S_MPI_MON_P2PPORT_DATA* NPC_F_MPI_MON_Camera_GetP2pPortData(int waitMs);
  void NPC_F_MPI_MON_Camera_ReleaseP2pPortBuf(NPC_S_MPI_MON_P2PPORT_DATA* record);

  // The camera's id in the call layer (0 while not registered).
  uint32_t NPC_F_MPI_MON_Camera_GetCameraConnId() const { return m_dwCameraConnId.load(); }

  // --- The five call-layer callbacks (engine thread, call layer mutex held) ----------------------
  static void NPC_F_VPI_NXTP_SYN_CameraMediaDataCallback(void* user, uint32_t cameraId, int kind, uint32_t subId,
                                                         const NPC_S_MON_MEDIA_FRAME_HEAD* head,
                                                         const unsigned char* data, int length);
  static void NPC_F_VPI_NXTP_SYN_CameraAlarmDataCallback(void* user, uint32_t cameraId,
                                                         const NPC_S_NXTP_SYN_ALARM_RECORD* record, int length);
  static void NPC_F_VPI_NXTP_SYN_CameraTimerCallback(void* user, uint32_t cameraId);
  static void NPC_F_VPI_NXTP_SYN_CameraStateNotifyCallback(void* user, uint32_t cameraId, int kind, uint32_t subId,
                                                           int value, const char* text);
  static void NPC_F_VPI_NXTP_SYN_CameraP2pPortDataCallback(void* user, uint32_t cameraId,
                                                           const unsigned char* data, int length);

 protected:
  // Download work data: a successful download start takes the first free slot (work id a random
  // number above the slot index), gives it a frame list of 4096 and the module's download id.
  // Returns 1, or 0 when no slot is free or memory runs out.
  int NPC_F_MPI_MON_Camera_PR_CreateDownWork(uint32_t downloadId);
  // Deletes the work data of a download id (its frame list included); 0 when there is none.
  int NPC_F_MPI_MON_Camera_PR_DeleteDownWork(uint32_t downloadId);

 private:
  // The answer of a call: the body and the module's result.
  struct CallAnswer {
    int iRet = 0;       // the call layer's result (0, or a negative code)
    int iResult = 0;    // the module's iResult when iRet is 0
    std::vector<uint8_t> body;
  };

  // Stores the last error (code and text cut to 511 characters) and logs "[%d]%s".
  void NPC_F_MPI_MON_Camera_PR_SetLastErrorInfo(int code, const char* text);
  // The same with the text in the camera's language.
  void NPC_F_MPI_MON_Camera_PR_SetLastErrorLang(int code, const char* english, const char* chinese);
  // Sends one order and waits for its answer (the standard operation's steps 2, 3, 4 and 6):
  // returns 0 when the module answered success (answer filled), otherwise the camera error
  // code after storing the last error: 6 with the call-failure text of callName, or the mapped
  // module code with "%s: %s." and errorName.
  int NPC_F_MPI_MON_Camera_PR_CallOrder(int iMsgId, const void* body, int bodyLen, int timeoutMs,
                                        const char* callNameEn, const char* callNameCn, const char* errorNameEn,
                                        const char* errorNameCn, CallAnswer* answer);
  // Stores 141 for an operation of the catalogue that is not built yet; returns 141.
  int NPC_F_MPI_MON_Camera_PR_NotSupport(const char* operation);
  // Resets play type and state, talk and alarm flags, the media timing and any play left open by
  // a media time-out (connect, disconnect).
  void NPC_F_MPI_MON_Camera_PR_ResetSession();
  // Sends the order that ends a play of the given type: live view 529 with timeoutMs, playback
  // 548 with the call time-out. 0 or the camera error code, as CallOrder.
  int NPC_F_MPI_MON_Camera_PR_ClosePlay(int playType, int timeoutMs);
  // Closes the play that a media time-out ended on this side only, when there is one (Stop and
  // Connect in state 3). A failure is stored and logged as for any call and stops neither.
  void NPC_F_MPI_MON_Camera_PR_CloseTimedOutPlay(int timeoutMs);
  // True in connection states 1 and 2.
  bool NPC_F_MPI_MON_Camera_PR_IsConnected() const;
  // The media time-out check (timer callback).
  void NPC_F_MPI_MON_Camera_PR_DoTimer();
  // Seconds of the monotonic clock (media timing).
  static int64_t NPC_F_MPI_MON_Camera_PR_NowSeconds();
  // The download work data of a download id (slot mutex held), or null.
  std::shared_ptr<NPC_S_VPI_NXTP_DOWN_WORK_DATA> NPC_F_MPI_MON_Camera_PR_FindDownWork(uint32_t downloadId);

  // Creator's and constructor's data (constant after construction).
  NPC_H_NXTP_SYN m_hCallLayer;
  char m_sDeviceId[32];
  uint32_t m_dwVendorId;
  char m_sCustomId[32];
  char m_sCustomText[32];
  char m_sCustomFlagText[1024];
  int m_iCustomFlagValue;
  char m_sConnParam[1024];
  int m_iLanguage;
  int m_iCallTimeoutMs;
  int m_iLiveMediaTimeoutS;
  std::atomic<int> m_iMediaTransMode{0};

  // Session state: written by operations and by the engine thread.
  std::atomic<int> m_iState{NPC_D_MPI_MON_CAMERA_STATE_IDLE};
  std::atomic<int> m_iDisconnectCause{0};
  std::atomic<int> m_iPlayType{NPC_D_MPI_MON_CAMERA_PLAY_TYPE_LIVE};
  std::atomic<int> m_iPlayState{NPC_D_MPI_MON_CAMERA_PLAY_STATE_STOP};
  std::atomic<int> m_iTalkFlag{0};
  std::atomic<int> m_iAlarmFlag{0};
  std::atomic<uint32_t> m_dwCameraConnId{0};
  // Media timing: seconds of the last frame (0 none), whether a frame came since the play
  // started, and the second the play started.
  std::atomic<int64_t> m_qwLastFrameTime{0};
  std::atomic<int> m_bGotFirstFrame{0};
  std::atomic<int64_t> m_qwPlayStartTime{0};
  // A play that the media time-out ended on this side only: 1 + its play type, 0 none. The
  // device link is still up and the module still runs that stream, but the time-out runs on the
  // engine thread and may not call the call layer, so the next Stop or Connect closes it.
  std::atomic<int> m_iTimedOutPlay{0};

  // Serialises registration, list creation and the state change of Connect, and the whole of
  // Disconnect (never taken by the engine thread).
  std::mutex m_connMutex;
  // Makes the changes of connection state together with the disconnect cause and the play
  // fields one step for both sides; held briefly, never across a call.
  std::mutex m_stateMutex;
  // Lists: made by the first Connect before the registration, released by the destructor after
  // the registration is gone, so the engine thread always sees them made.
  std::atomic<NPC_H_VPI_TOOLS_MFL> m_hFrameList{nullptr};
  std::atomic<NPC_H_VPI_TOOLS_AL> m_hAlarmList{nullptr};
  std::atomic<NPC_H_VPI_TOOLS_AL> m_hP2pList{nullptr};

  // The callback/user pairs.
  std::mutex m_cbMutex;
  NPC_F_MPI_MON_MEDIA_STREAM_CALLBACK m_fnMediaStream = nullptr;
  void* m_pMediaStreamUser = nullptr;
  NPC_F_MPI_MON_FILE_THUMB_CALLBACK m_fnFileThumb = nullptr;
  void* m_pFileThumbUser = nullptr;
  NPC_F_MPI_MON_ALARM_CALLBACK m_fnAlarm = nullptr;
  void* m_pAlarmUser = nullptr;
  NPC_F_MPI_MON_P2P_PORT_DATA_CALLBACK m_fnP2pPortData = nullptr;
  void* m_pP2pPortDataUser = nullptr;
  void* m_pP2pPortDataExtra = nullptr;

  // The download work slots. A reader waiting on a download's frame list holds its own
  // reference, so a concurrent stop frees the list only after the wait ends.
  std::mutex m_downMutex;
  std::shared_ptr<NPC_S_VPI_NXTP_DOWN_WORK_DATA> m_pDownWork[NPC_D_VPI_NXTP_DOWN_WORK_NUM];

  // The last error.
  std::mutex m_errMutex;
  int m_iLastErrorCode = 0;
  char m_sLastErrorText[512] = {};
};

#endif
