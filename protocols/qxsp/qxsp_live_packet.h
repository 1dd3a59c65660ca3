// The live-view part of the QXSP wire format, free of module state: the realplay, stream-control
// and video-quality requests the module builds, the checked readers of their answers, the readers
// of the device's video and audio packets (PE_VIDEO_FRAME, PE_AUDIO_FRAME) with their bit fields,
// the mapping of device codecs and frame types onto the media frame head, the audio conversion
// into 16-bit PCM, and the scan that finds a packet boundary again after the stream lost its
// framing. The fuzz target and the tests reach all of it directly.
//
// Every reader takes untrusted bytes and checks its offsets against the received length in
// 64-bit arithmetic before it reads; a packet too short for a field never has that field read.
#ifndef KORVEN_PROTOCOLS_QXSP_QXSP_LIVE_PACKET_H
#define KORVEN_PROTOCOLS_QXSP_QXSP_LIVE_PACKET_H

#include <cstddef>
#include <cstdint>

#include "bus/pvm_records.h"

// ---------------------------------------------------------------------------------------------
// Requests (lengths include the 20-byte head).

constexpr int NPC_D_PVM_DP_QXSP_REALPLAY_OPEN_LEN = 28;
constexpr int NPC_D_PVM_DP_QXSP_EX_REALPLAY_OPEN_LEN = 36;
constexpr int NPC_D_PVM_DP_QXSP_REALPLAY_CLOSE_LEN = 28;
constexpr int NPC_D_PVM_DP_QXSP_FORCE_I_FRAME_LEN = 32;
constexpr int NPC_D_PVM_DP_QXSP_CTRL_STREAM_LEN = 36;
constexpr int NPC_D_PVM_DP_QXSP_ONLY_I_FRAME_LEN = 32;
constexpr int NPC_D_PVM_DP_QXSP_GET_VIDEO_QUALITY_CAP_LEN = 256;
constexpr int NPC_D_PVM_DP_QXSP_VIDEO_QUALITY_LEVEL_LEN = 32;  // get and set
// Media packets: the head, two u32 of fields, the timestamp, then the data.
constexpr int NPC_D_PVM_DP_QXSP_MEDIA_PACKET_HEAD_LEN = 32;

// Device protocol versions that change live view.
constexpr uint16_t NPC_D_PVM_DP_QXSP_VER_0202 = 0x0202;  // above: extended open, stream control, quality
constexpr uint16_t NPC_D_PVM_DP_QXSP_VER_0205 = 0x0205;  // at or below: main and sub stream only
constexpr uint16_t NPC_D_PVM_DP_QXSP_VER_0210 = 0x0210;  // "rqvl" at or below: no channel switch

// P2_REALPLAY_OPEN (28): login id, channel, stream. P2_REALPLAY_CLOSE (28) has the same body and
// carries dwTransId when an order waits for its answer.
void NPC_F_PVM_QXSP_PutRealplayOpen(uint8_t* p, uint16_t usMsgFuncId, uint32_t dwTransId, uint32_t dwLoginId,
                                    uint16_t usChNo, uint16_t usStreamNo);
// P2_EX_REALPLAY_OPEN (36): as the short form, then the media connection's id and a u32 0.
void NPC_F_PVM_QXSP_PutExRealplayOpen(uint8_t* p, uint32_t dwLoginId, uint16_t usChNo, uint16_t usStreamNo,
                                      uint32_t dwMediaConnId);
// P2_FORCE_I_FRAME (32): login id, channel and stream as u32.
void NPC_F_PVM_QXSP_PutForceIFrame(uint8_t* p, uint32_t dwLoginId, uint32_t dwChNo, uint32_t dwStreamNo);
// P2_CTRL_STREAM (36): login id, media session id, the order's two values.
void NPC_F_PVM_QXSP_PutCtrlStream(uint8_t* p, uint32_t dwTransId, uint32_t dwLoginId, uint32_t dwMediaSessionId,
                                  uint32_t dwValue1, uint32_t dwValue2);
// P2_ONLY_I_FRAME (32): login id, media session id, the order's value.
void NPC_F_PVM_QXSP_PutOnlyIFrame(uint8_t* p, uint32_t dwTransId, uint32_t dwLoginId, uint32_t dwMediaSessionId,
                                  uint32_t dwValue);
// P2_GET_VIDEO_QUALITY_CAP (256): login id, channel, stream, zero to the end.
void NPC_F_PVM_QXSP_PutGetVideoQualityCap(uint8_t* p, uint32_t dwTransId, uint32_t dwLoginId, uint16_t usChNo,
                                          uint16_t usStreamNo);
// P2_GET_VIDEO_QUALITY_LEVEL and P2_SET_VIDEO_QUALITY_LEVEL (32): login id, channel, stream, and
// for the set request the new level at 28 (0 in the get request).
void NPC_F_PVM_QXSP_PutVideoQualityLevel(uint8_t* p, uint16_t usMsgFuncId, uint32_t dwTransId, uint32_t dwLoginId,
                                         uint16_t usChNo, uint16_t usStreamNo, uint32_t dwLevel);

// ---------------------------------------------------------------------------------------------
// Answers.

// The open answer: the result from any whole head; the extended answer's media session id (at 32)
// only from a packet of at least 36 bytes (bComplete tells).
struct NPC_S_PVM_DP_QXSP_REALPLAY_OPEN_RESP {
  uint8_t ucResult;
  bool bComplete;
  uint32_t dwMediaSessionId;
};
int NPC_F_PVM_QXSP_ReadRealplayOpenResp(const uint8_t* pkt, size_t len, bool bExtended,
                                        NPC_S_PVM_DP_QXSP_REALPLAY_OPEN_RESP* out);

// The quality capability answer: the level count at 28, cut to 0..8, and that many 28-byte
// entries from 32. bComplete only when the packet holds 32 + 28 x count bytes.
constexpr int NPC_D_PVM_DP_QXSP_QUALITY_LEVEL_ENTRY_LEN = 28;
constexpr int NPC_D_PVM_DP_QXSP_QUALITY_LEVEL_MAX_NUM = 8;
struct NPC_S_PVM_DP_QXSP_QUALITY_CAP_RESP {
  uint8_t ucResult;
  bool bComplete;
  int32_t iLevelNum;
  const uint8_t* pEntries;  // iLevelNum entries inside the packet
};
int NPC_F_PVM_QXSP_ReadQualityCapResp(const uint8_t* pkt, size_t len, NPC_S_PVM_DP_QXSP_QUALITY_CAP_RESP* out);

// The quality level answer: the current level at 28 (bComplete from 32 bytes on).
struct NPC_S_PVM_DP_QXSP_QUALITY_LEVEL_RESP {
  uint8_t ucResult;
  bool bComplete;
  int32_t iLevel;
};
int NPC_F_PVM_QXSP_ReadQualityLevelResp(const uint8_t* pkt, size_t len, NPC_S_PVM_DP_QXSP_QUALITY_LEVEL_RESP* out);

// ---------------------------------------------------------------------------------------------
// Media packets from the device.

// PE_VIDEO_FRAME: u32 at 20 (bits 0-3 codec, 4-7 frame type, 8-19 width, 20-31 height), u32 at 24
// (bits 0-6 frame rate, 7-21 bit rate), u32 timestamp at 28, the frame from 32.
struct NPC_S_PVM_DP_QXSP_VIDEO_FRAME {
  uint32_t uiCodec;
  uint32_t uiFrameType;
  uint32_t uiWidth;
  uint32_t uiHeight;
  uint32_t uiFrameRate;
  uint32_t uiBitRate;
  uint32_t dwTimestamp;
  const uint8_t* pData;  // inside the packet
  int32_t iDataLen;
};
// 0 for a packet shorter than 32 bytes.
int NPC_F_PVM_QXSP_ReadVideoFrame(const uint8_t* pkt, size_t len, NPC_S_PVM_DP_QXSP_VIDEO_FRAME* out);

// PE_AUDIO_FRAME: u32 at 20 (bits 0-3 codec, 4-19 sample rate), u16 bit rate at 24, u16 at 26
// (bits 0-1 channel count), u32 timestamp at 28, the data from 32.
struct NPC_S_PVM_DP_QXSP_AUDIO_FRAME {
  uint32_t uiCodec;
  uint32_t uiSampleRate;
  uint32_t uiBitRate;
  uint32_t uiChNum;
  uint32_t dwTimestamp;
  const uint8_t* pData;
  int32_t iDataLen;
};
int NPC_F_PVM_QXSP_ReadAudioFrame(const uint8_t* pkt, size_t len, NPC_S_PVM_DP_QXSP_AUDIO_FRAME* out);

// Codec ids of the media frame head.
constexpr int32_t NPC_D_MON_VIDEO_CODEC_FIRST = 10;  // device codecs 1..4 become 10..13
constexpr int32_t NPC_D_MON_AUDIO_CODEC_RAW = 20;    // device codec 1, passed through
constexpr int32_t NPC_D_MON_AUDIO_CODEC_G711A = 21;  // as frames over UDP carry them
constexpr int32_t NPC_D_MON_AUDIO_CODEC_G711U = 22;
constexpr int32_t NPC_D_MON_AUDIO_CODEC_ADPCM = 23;
constexpr int32_t NPC_D_MON_AUDIO_CODEC_DEV6 = 25;  // device codec 6, passed through
constexpr int32_t NPC_D_MON_AUDIO_CODEC_PCM = 30;   // 16-bit linear PCM after conversion

// The head fields of a video packet: codec 1..4 to 10..13 (anything else 10), frame type 1..6
// kept (anything else 2), size, bit rate, frame rate and timestamp; every other field 0.
void NPC_F_PVM_QXSP_FillVideoFrameHead(const NPC_S_PVM_DP_QXSP_VIDEO_FRAME& f, NPC_S_MON_MEDIA_FRAME_HEAD* head);

// How an audio frame becomes what goes up.
enum NPC_E_PVM_DP_QXSP_AUDIO_CONV : int {
  NPC_D_PVM_DP_QXSP_AUDIO_CONV_DROP = 0,  // an unknown codec: the frame is dropped
  NPC_D_PVM_DP_QXSP_AUDIO_CONV_PASS = 1,  // passed through unchanged
  NPC_D_PVM_DP_QXSP_AUDIO_CONV_ALAW = 2,  // G.711 A-law to PCM, two bytes per byte
  NPC_D_PVM_DP_QXSP_AUDIO_CONV_ULAW = 3,  // G.711 mu-law to PCM
  NPC_D_PVM_DP_QXSP_AUDIO_CONV_ADPCM = 4, // IMA ADPCM blocks of 256 bytes to 505 samples each
};
// The conversion and the codec id that goes up for a device codec of PE_AUDIO_FRAME (1 raw 20,
// 2 A-law, 3 mu-law, 4 ADPCM, all three 30; 6 raw 25) or for an iAudioCodecId of a frame that
// came over UDP (20 raw, 21 A-law, 22 mu-law, 23 ADPCM).
int NPC_F_PVM_QXSP_AudioConvOfDevCodec(uint32_t uiCodec, int32_t* iCodecIdUp);
int NPC_F_PVM_QXSP_AudioConvOfUdpCodec(int32_t iAudioCodecId, int32_t* iCodecIdUp);

constexpr int NPC_D_PVM_DP_QXSP_ADPCM_BLOCK_LEN = 256;
constexpr int NPC_D_PVM_DP_QXSP_ADPCM_BLOCK_SAMPLES = 505;
// Bytes the conversion writes for n input bytes (ADPCM: whole blocks only, a tail is ignored).
int64_t NPC_F_PVM_QXSP_AudioConvOutLen(int conv, int64_t n);
// Converts n input bytes into out, which holds AudioConvOutLen bytes (aligned for 16-bit
// samples); returns the bytes written.
int64_t NPC_F_PVM_QXSP_AudioConvert(int conv, const uint8_t* in, int64_t n, uint8_t* out);

// ---------------------------------------------------------------------------------------------
// Finding a packet boundary again.

// A declared length above this is never waited for while resynchronising.
constexpr int64_t NPC_D_PVM_DP_QXSP_RESYNC_MAX_PACKET_LEN = 0x13FFFFF;  // 20 971 519

enum NPC_E_PVM_DP_QXSP_RESYNC : int {
  NPC_D_PVM_DP_QXSP_RESYNC_NEED_MORE = 0,  // drop qwDrop bytes, then wait for more data
  NPC_D_PVM_DP_QXSP_RESYNC_FOUND = 1,      // a packet starts qwDrop bytes in: drop what is before it
  NPC_D_PVM_DP_QXSP_RESYNC_EMPTY = 2,      // a length beyond the limit: empty the buffer
};
struct NPC_S_PVM_DP_QXSP_RESYNC_RESULT {
  int iResult;
  uint64_t qwDrop;
};
// Scans buffered bytes for the start of a packet, position by position up to 20 bytes before
// the end. A position p is a start when it holds the magic, its declared length L is at least 20
// and the magic stands again at p + L. When p + L + 20 lies beyond the buffered bytes the scan
// stops at p to wait for more (or, with L above the limit, gives the buffer up). With fewer than
// 20 bytes nothing is scanned; a scan that runs to its end keeps the last 20 bytes.
NPC_S_PVM_DP_QXSP_RESYNC_RESULT NPC_F_PVM_QXSP_ScanPacketStart(const uint8_t* data, size_t len);

#endif
