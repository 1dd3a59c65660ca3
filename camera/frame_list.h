// The three bounded lists that sit between the thread that receives media, alarms and
// pass-through data (the protocol bus engine's work thread, or a direct camera's own thread) and
// the application threads that take them: the frame list (NPC_F_VPI_TOOLS_MFL_*), which also
// keeps per-type counts and the newest video and audio timestamps, and the alarm list and the
// pass-through data list (NPC_F_VPI_TOOLS_AL_*).
//
// Rules every list keeps:
// - A writer never waits: when the list holds its capacity the arriving item is dropped (the
//   frame list still reports success, the alarm and pass-through lists report failure).
// - A reader may wait for an item up to a time-out; an item that arrives wakes it at once. The
//   wait is a ceiling: a reader that loses the item to a faster reader waits on for the rest of
//   its time.
// - Every item is one allocation (list node, record and a copy of the data with one zero byte
//   behind it). A reader who takes an item owns it and frees it with the list's release
//   function (the camera's ReleaseFrameData, ReleaseAlarmBuf and ReleaseP2pPortBuf call them).
// - Every function accepts a null handle and then fails without effect. Release must not race
//   with any other use of the same list.
#ifndef KORVEN_CAMERA_FRAME_LIST_H
#define KORVEN_CAMERA_FRAME_LIST_H

#include <cstdint>

#include "bus/pvm_records.h"

struct NPC_S_VPI_TOOLS_MFL_DATA;
struct NPC_S_VPI_TOOLS_AL_DATA;
// A frame list.
typedef NPC_S_VPI_TOOLS_MFL_DATA* NPC_H_VPI_TOOLS_MFL;
// An alarm list and a pass-through data list (the same shape, different items).
typedef NPC_S_VPI_TOOLS_AL_DATA* NPC_H_VPI_TOOLS_AL;

// Capacities used by the cameras.
constexpr int NPC_D_VPI_TOOLS_MFL_CAMERA_CAPACITY = 1024;    // live view and playback
constexpr int NPC_D_VPI_TOOLS_MFL_DOWNLOAD_CAPACITY = 4096;  // one download
constexpr int NPC_D_VPI_TOOLS_AL_CAPACITY = 1000;            // alarms, pass-through data

// Kinds asked for by the typed getters.
constexpr int NPC_D_VPI_TOOLS_MFL_TYPE_ALL = 0;
constexpr int NPC_D_VPI_TOOLS_MFL_TYPE_VIDEO = 1;  // iMediaType 0
constexpr int NPC_D_VPI_TOOLS_MFL_TYPE_AUDIO = 2;  // iMediaType 1

// Size of the zeroed buffer a frame without data gets, so that its data pointer is never null.
constexpr int NPC_D_VPI_TOOLS_MFL_EMPTY_DATA_SIZE = 10;

// A pass-through data item: the data (owned, one zero byte behind it) and its length.
struct NPC_S_MPI_MON_P2PPORT_DATA {
  uint8_t* pData;
  int32_t iDataLen;
};

// --- Frame list ----------------------------------------------------------------------------------

// A new empty list holding at most capacity frames (at least 1). Null on failure, logged as
// "NPC_F_VPI_TOOLS_MFL_CreateFrameList malloc fail.".
NPC_H_VPI_TOOLS_MFL NPC_F_VPI_TOOLS_MFL_CreateFrameList(int capacity);
// Frees every frame still held and the list.
void NPC_F_VPI_TOOLS_MFL_ReleaseFrameList(NPC_H_VPI_TOOLS_MFL list);
// Frees every frame and sets the frame, video, audio and marker counts to 0; the newest
// timestamps and the last play position stay.
void NPC_F_VPI_TOOLS_MFL_ClearListData(NPC_H_VPI_TOOLS_MFL list);

// Appends a copy of the head and of length bytes of data and updates the per-type counts and
// the newest timestamps (video: also the play position). A frame without data (length 0) gets a
// zeroed buffer and iFrameDataLen 0. Returns 1 when appended and also when the list was full
// (the frame is then dropped); 0 for a null list or head, a negative length, null data with a
// positive length, or when memory runs out.
int NPC_F_VPI_TOOLS_MFL_AddFrameData(NPC_H_VPI_TOOLS_MFL list, const NPC_S_MON_MEDIA_FRAME_HEAD* head,
                                     const void* data, int length);
// As AddFrameData, but neither the per-type counts nor the timestamps and play position change
// (download lists, read with OTH_GetFrameData).
int NPC_F_VPI_TOOLS_MFL_OTH_AddFrameData(NPC_H_VPI_TOOLS_MFL list, const NPC_S_MON_MEDIA_FRAME_HEAD* head,
                                         const void* data, int length);

// Takes the oldest frame, waiting up to waitMs for one; null when none came.
NPC_S_MPI_MON_MEDIA_FRAME* NPC_F_VPI_TOOLS_MFL_GetFrameData(NPC_H_VPI_TOOLS_MFL list, int waitMs);
// As GetFrameData for a list filled with OTH_AddFrameData: only the frame count changes.
NPC_S_MPI_MON_MEDIA_FRAME* NPC_F_VPI_TOOLS_MFL_OTH_GetFrameData(NPC_H_VPI_TOOLS_MFL list, int waitMs);
// Takes the oldest frame of a kind without waiting: type 0 any kind, 1 video, 2 audio (frames of
// other kinds stay in order); null for another type or when no such frame is held.
NPC_S_MPI_MON_MEDIA_FRAME* NPC_F_VPI_TOOLS_MFL_GetSpecTypeFrameData(NPC_H_VPI_TOOLS_MFL list, int type);
// Frees a frame that a getter handed out (data and record).
void NPC_F_VPI_TOOLS_MFL_ReleaseFrame(NPC_S_MPI_MON_MEDIA_FRAME* frame);

// Type 0 the frame count, 1 the video count, 2 the audio count; 0 for other types.
int NPC_F_VPI_TOOLS_MFL_GetFrameNum(NPC_H_VPI_TOOLS_MFL list, int type);
// Type 1 the newest video timestamp added, 2 the newest audio timestamp; 0 for other types.
int NPC_F_VPI_TOOLS_MFL_GetFrameTimestamp(NPC_H_VPI_TOOLS_MFL list, int type);
// The frame count.
int NPC_F_VPI_TOOLS_MFL_GetNodeNum(NPC_H_VPI_TOOLS_MFL list);
// The count of stream-reset markers (iMediaType 100) held.
int NPC_F_VPI_TOOLS_MFL_GetMarkerNum(NPC_H_VPI_TOOLS_MFL list);
// Sets iVideoFrameRate to frameRate in every held video frame whose iPlayPos equals playPos.
void NPC_F_VPI_TOOLS_MFL_RP_UpdateVFrameRate(NPC_H_VPI_TOOLS_MFL list, int playPos, int frameRate);
// The play position of the newest video frame added.
int NPC_F_VPI_TOOLS_MFL_RP_GetLastPlayPos(NPC_H_VPI_TOOLS_MFL list);

// --- Alarm list and pass-through data list -------------------------------------------------------

// A new empty list holding at most capacity items (at least 1); null on failure (not logged).
NPC_H_VPI_TOOLS_AL NPC_F_VPI_TOOLS_AL_CreateAlarmList(int capacity);
NPC_H_VPI_TOOLS_AL NPC_F_VPI_TOOLS_AL_CreateP2pPortList(int capacity);
// Free every item still held and the list.
void NPC_F_VPI_TOOLS_AL_ReleaseAlarmList(NPC_H_VPI_TOOLS_AL list);
void NPC_F_VPI_TOOLS_AL_ReleaseP2pPortList(NPC_H_VPI_TOOLS_AL list);
// Free every item; the count becomes 0.
void NPC_F_VPI_TOOLS_AL_ClearListData(NPC_H_VPI_TOOLS_AL list);
void NPC_F_VPI_TOOLS_AL_ClearP2pPortListData(NPC_H_VPI_TOOLS_AL list);

// Appends a copy of the 60-byte head and of length bytes of text (the copy gets a zero byte
// behind it). 1 when appended; 0 for a null list, head or text, a length below 1, a full list
// or when memory runs out.
int NPC_F_VPI_TOOLS_AL_AddAlarmData(NPC_H_VPI_TOOLS_AL list, const NPC_S_MPI_MON_ALARM_HEAD* head, const char* text,
                                    int length);
// Appends a copy of length bytes; the same refusals.
int NPC_F_VPI_TOOLS_AL_AddP2pPortData(NPC_H_VPI_TOOLS_AL list, const void* data, int length);
// Take the oldest item, waiting up to waitMs for one; null when none came.
NPC_S_MPI_MON_ALARM_DATA* NPC_F_VPI_TOOLS_AL_GetAlarmData(NPC_H_VPI_TOOLS_AL list, int waitMs);
NPC_S_MPI_MON_P2PPORT_DATA* NPC_F_VPI_TOOLS_AL_GetP2pPortData(NPC_H_VPI_TOOLS_AL list, int waitMs);
// The item count.
int NPC_F_VPI_TOOLS_AL_GetNodeNum(NPC_H_VPI_TOOLS_AL list);
// Free an item a getter handed out (text or data and the record).
void NPC_F_VPI_TOOLS_AL_ReleaseAlarmData(NPC_S_MPI_MON_ALARM_DATA* alarm);
void NPC_F_VPI_TOOLS_AL_ReleaseP2pPortData(NPC_S_MPI_MON_P2PPORT_DATA* data);

#endif
