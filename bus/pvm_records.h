// The records that several layers share beside the order messages: the media frame head and
// the frame held in a frame list, the talk format, the alarm head and the alarm held in an
// alarm list, the caller's recording record, the device file record of a recording search and
// the file records of the extended searches. The date-time and date records live in
// runtime/systime.h, whose time helpers need them, and are reused here.
//
// Every record that crosses the bus is a plain little-endian POD whose size and field offsets
// are pinned below; no record is packed, each field sits at its natural alignment.
#ifndef KORVEN_BUS_PVM_RECORDS_H
#define KORVEN_BUS_PVM_RECORDS_H

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "runtime/systime.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "bus records are host-order PODs and the wire is little-endian");

// Values of iMediaType in a media frame head.
constexpr int32_t NPC_D_MON_MEDIA_TYPE_VIDEO = 0;
constexpr int32_t NPC_D_MON_MEDIA_TYPE_AUDIO = 1;
constexpr int32_t NPC_D_MON_MEDIA_TYPE_STREAM_RESET = 100;  // the stream restarts; recorders reopen
constexpr int32_t NPC_D_MON_MEDIA_TYPE_THUMB = 200;         // thumbnail, only inside the call layer
// iVideoFrameType of a key (I) frame; other values are non-key frames.
constexpr int32_t NPC_D_MON_VIDEO_FRAME_TYPE_I = 1;
// Values of iFrameFlag in playback.
constexpr int32_t NPC_D_MON_FRAME_FLAG_LAST_DATA = 1;  // last data frame of a recording
constexpr int32_t NPC_D_MON_FRAME_FLAG_END = 2;        // empty end frame of a recorded stream

// Media frame head (68 bytes): describes one audio or video frame on the bus.
struct NPC_S_MON_MEDIA_FRAME_HEAD {
  int32_t iMediaType;        // NPC_D_MON_MEDIA_TYPE_*
  int32_t iTimestamp;        // milliseconds
  int32_t iReserve1;         // 0
  int32_t iVideoCodecId;
  int32_t iVideoWidth;
  int32_t iVideoHeight;
  int32_t iVideoBitRate;
  int32_t iVideoFrameRate;
  int32_t iVideoFrameType;   // 1 key frame
  int32_t iReserve2;         // 0
  int32_t iAudioCodecId;
  int32_t iAudioBitRate;     // talk audio: bits per sample
  int32_t iAudioSampleRate;  // Hz
  int32_t iAudioChNum;
  int32_t iFrameFlag;        // NPC_D_MON_FRAME_FLAG_* in playback, else 0
  int32_t iPlayPos;          // playback position reported by the module
  int32_t iFileTotalLen;     // total length of the recording played or downloaded
};
static_assert(sizeof(NPC_S_MON_MEDIA_FRAME_HEAD) == 68, "media frame head is 68 bytes");
static_assert(offsetof(NPC_S_MON_MEDIA_FRAME_HEAD, iVideoCodecId) == 12 &&
                  offsetof(NPC_S_MON_MEDIA_FRAME_HEAD, iVideoFrameType) == 32 &&
                  offsetof(NPC_S_MON_MEDIA_FRAME_HEAD, iAudioCodecId) == 40 &&
                  offsetof(NPC_S_MON_MEDIA_FRAME_HEAD, iFrameFlag) == 56 &&
                  offsetof(NPC_S_MON_MEDIA_FRAME_HEAD, iFileTotalLen) == 64,
              "media frame head layout");

// A frame held in a frame list: the head and the frame data, which the record owns. The
// camera's release call frees the data and the record. Not a wire record.
struct NPC_S_MPI_MON_MEDIA_FRAME {
  NPC_S_MON_MEDIA_FRAME_HEAD tFrameHead;
  uint8_t* pFrameData;
  int32_t iFrameDataLen;
};
static_assert(offsetof(NPC_S_MPI_MON_MEDIA_FRAME, tFrameHead) == 0, "frame head first");

// One talk format: the eleven fields in the order the talk orders carry them (44 bytes).
struct NPC_S_MON_MEDIA_TALK_FORMAT {
  int32_t iAudioCodecId;
  int32_t iAudioSampleRate;
  int32_t iAudioSampleBit;
  int32_t iAudioBitRate;
  int32_t iAudioChNum;
  int32_t iVideoCodecId;
  int32_t iVideoWidth;
  int32_t iVideoHeight;
  int32_t iVideoBitRate;
  int32_t iVideoFrameRate;
  int32_t iVideoFrameType;
};
static_assert(sizeof(NPC_S_MON_MEDIA_TALK_FORMAT) == 44, "talk format is 44 bytes");
static_assert(offsetof(NPC_S_MON_MEDIA_TALK_FORMAT, iAudioChNum) == 16 &&
                  offsetof(NPC_S_MON_MEDIA_TALK_FORMAT, iVideoCodecId) == 20 &&
                  offsetof(NPC_S_MON_MEDIA_TALK_FORMAT, iVideoFrameType) == 40,
              "talk format layout");

// Talk information (88 bytes): the format the caller asks for, then the one the device answered.
struct NPC_S_MON_MEDIA_TALK_INFO {
  NPC_S_MON_MEDIA_TALK_FORMAT tRequFormat;
  NPC_S_MON_MEDIA_TALK_FORMAT tDevFormat;
};
static_assert(sizeof(NPC_S_MON_MEDIA_TALK_INFO) == 88 && offsetof(NPC_S_MON_MEDIA_TALK_INFO, tDevFormat) == 44,
              "talk information layout");

// Alarm head handed to the caller (60 bytes).
struct NPC_S_MPI_MON_ALARM_HEAD {
  char DeviceID[32];                // the camera's device id
  int32_t nAlarmType;               // Java reads its low 16 bits
  NPC_S_TD_DATE_TIME tAlarmTime;
  int32_t iAlarmParam;
  int32_t nParam1;                  // 0 when built from an alarm notice
  int32_t nParam2;                  // 0 when built from an alarm notice
};
static_assert(sizeof(NPC_S_MPI_MON_ALARM_HEAD) == 60, "alarm head is 60 bytes");
static_assert(offsetof(NPC_S_MPI_MON_ALARM_HEAD, nAlarmType) == 32 &&
                  offsetof(NPC_S_MPI_MON_ALARM_HEAD, tAlarmTime) == 36 &&
                  offsetof(NPC_S_MPI_MON_ALARM_HEAD, iAlarmParam) == 48 &&
                  offsetof(NPC_S_MPI_MON_ALARM_HEAD, nParam2) == 56,
              "alarm head layout");

// An alarm held in an alarm list: the head and the alarm text, which the record owns, with its
// length including the NUL. Not a wire record.
struct NPC_S_MPI_MON_ALARM_DATA {
  NPC_S_MPI_MON_ALARM_HEAD tAlarmHead;
  char* pAlarmText;
  int32_t iAlarmTextLen;
};
static_assert(offsetof(NPC_S_MPI_MON_ALARM_DATA, tAlarmHead) == 0, "alarm head first");

// The caller's view of one recording (176 bytes), built field by field from a device file record.
struct NPC_S_MPI_MON_REC_FILE {
  char sFileName[128];
  int32_t iFileSize;
  int32_t iFileType;
  int32_t iReserve;
  NPC_S_TD_DATE_TIME tBeginTime;
  NPC_S_TD_DATE_TIME tEndTime;
  int32_t iRecTimeLen;
  uint16_t iFileFormat;
  uint16_t iParam1;
  int32_t iParam2;
};
static_assert(sizeof(NPC_S_MPI_MON_REC_FILE) == 176, "caller's recording record is 176 bytes");
static_assert(offsetof(NPC_S_MPI_MON_REC_FILE, iFileSize) == 128 && offsetof(NPC_S_MPI_MON_REC_FILE, tBeginTime) == 140 &&
                  offsetof(NPC_S_MPI_MON_REC_FILE, tEndTime) == 152 &&
                  offsetof(NPC_S_MPI_MON_REC_FILE, iRecTimeLen) == 164 &&
                  offsetof(NPC_S_MPI_MON_REC_FILE, iFileFormat) == 168 &&
                  offsetof(NPC_S_MPI_MON_REC_FILE, iParam1) == 170 && offsetof(NPC_S_MPI_MON_REC_FILE, iParam2) == 172,
              "caller's recording record layout");

// Device file record (176 bytes): the records of a recording search answer as the module writes
// them. Same size as the caller's record but a different field order.
struct NPC_S_MON_DEV_REC_FILE {
  char sFileName[128];
  int32_t iRecTimeLen;   // seconds from begin to end
  int32_t iFileSize;     // bytes
  int32_t iReserve;
  int32_t iFileType;
  NPC_S_TD_DATE_TIME tBeginTime;
  NPC_S_TD_DATE_TIME tEndTime;
  uint16_t iFileFormat;
  uint16_t iParam1;
  int32_t iParam2;
};
static_assert(sizeof(NPC_S_MON_DEV_REC_FILE) == 176, "device file record is 176 bytes");
static_assert(offsetof(NPC_S_MON_DEV_REC_FILE, iRecTimeLen) == 128 && offsetof(NPC_S_MON_DEV_REC_FILE, iFileSize) == 132 &&
                  offsetof(NPC_S_MON_DEV_REC_FILE, iReserve) == 136 &&
                  offsetof(NPC_S_MON_DEV_REC_FILE, iFileType) == 140 &&
                  offsetof(NPC_S_MON_DEV_REC_FILE, tBeginTime) == 144 &&
                  offsetof(NPC_S_MON_DEV_REC_FILE, tEndTime) == 156 &&
                  offsetof(NPC_S_MON_DEV_REC_FILE, iFileFormat) == 168 &&
                  offsetof(NPC_S_MON_DEV_REC_FILE, iParam1) == 170 &&
                  offsetof(NPC_S_MON_DEV_REC_FILE, iParam2) == 172,
              "device file record layout");

// File record of the extended searches (224 bytes; integers i32 unless said). The device
// modules fill it from their own file records; the camera hands it over unchanged.
struct NPC_S_MON_FILE_HEAD_INFO {
  char sFileName[128];      // at most 127 characters, NUL at 127
  int32_t iChNo;
  int32_t iStreamNo;
  int32_t iFileKind;        // 1 video recording, 2 picture
  int32_t iFileAttr;        // file attribute or file type, as the device gives it
  int32_t iRecType;         // recording type 1..15
  NPC_S_TD_DATE_TIME tBeginTime;
  NPC_S_TD_DATE_TIME tEndTime;
  int32_t iFileTotalLen;    // total length of the recording
  int32_t iFileSize;        // kilobytes
  int32_t iHaveVideo;       // nonzero: the file has video
  int32_t iHaveAudio;       // nonzero: the file has audio
  int32_t iVideoCodecId;
  int32_t iVideoFrameRate;
  int32_t iVideoBitRate;
  uint16_t usVideoWidth;
  uint16_t usVideoHeight;
  int32_t iAudioCodecId;
  int32_t iAudioBitRate;
  int32_t iAudioSampleRate;
  int32_t iAudioChNum;
  int32_t iFileFlag;        // 1 or 2, as the device's last field was 1 or not
};
static_assert(sizeof(NPC_S_MON_FILE_HEAD_INFO) == 224, "file head record is 224 bytes");
static_assert(offsetof(NPC_S_MON_FILE_HEAD_INFO, iChNo) == 128 && offsetof(NPC_S_MON_FILE_HEAD_INFO, iFileKind) == 136 &&
                  offsetof(NPC_S_MON_FILE_HEAD_INFO, iRecType) == 144 &&
                  offsetof(NPC_S_MON_FILE_HEAD_INFO, tBeginTime) == 148 &&
                  offsetof(NPC_S_MON_FILE_HEAD_INFO, tEndTime) == 160 &&
                  offsetof(NPC_S_MON_FILE_HEAD_INFO, iFileTotalLen) == 172 &&
                  offsetof(NPC_S_MON_FILE_HEAD_INFO, iHaveAudio) == 184 &&
                  offsetof(NPC_S_MON_FILE_HEAD_INFO, iVideoCodecId) == 188 &&
                  offsetof(NPC_S_MON_FILE_HEAD_INFO, usVideoWidth) == 200 &&
                  offsetof(NPC_S_MON_FILE_HEAD_INFO, usVideoHeight) == 202 &&
                  offsetof(NPC_S_MON_FILE_HEAD_INFO, iAudioCodecId) == 204 &&
                  offsetof(NPC_S_MON_FILE_HEAD_INFO, iAudioChNum) == 216 &&
                  offsetof(NPC_S_MON_FILE_HEAD_INFO, iFileFlag) == 220,
              "file head record layout");

// Time-range record of a range search (36 bytes): the device's bytes, passed through unread.
// A range answer carries it in the first 36 bytes of each 224-byte record slot.
struct NPC_S_MON_FILE_RANGE_INFO {
  uint8_t ucData[36];
};
static_assert(sizeof(NPC_S_MON_FILE_RANGE_INFO) == 36, "range record is 36 bytes");

// Recording-date record of a date search (28 bytes): the device's bytes, passed through unread.
struct NPC_S_MON_FILE_RECORD_DATE {
  uint8_t ucData[28];
};
static_assert(sizeof(NPC_S_MON_FILE_RECORD_DATE) == 28, "date record is 28 bytes");

static_assert(std::is_trivially_copyable<NPC_S_MON_MEDIA_FRAME_HEAD>::value &&
                  std::is_trivially_copyable<NPC_S_MON_FILE_HEAD_INFO>::value &&
                  std::is_trivially_copyable<NPC_S_MON_DEV_REC_FILE>::value,
              "wire records are copied with memcpy");

#endif
