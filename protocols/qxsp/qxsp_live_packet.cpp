// The live-view part of the QXSP wire format: request builders, checked answer readers, media
// packet readers, codec mapping, audio conversion and the boundary scan. No module state.
#include "protocols/qxsp/qxsp_live_packet.h"

#include <cstring>

#include "media/adpcm.h"
#include "media/g711.h"
#include "protocols/qxsp/qxsp_packet.h"
#include "runtime/reader.h"

namespace {

void putU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void putU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t getU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// The magic as it lies in memory: EE EE FF FF.
constexpr uint8_t kMagic[4] = {0xEE, 0xEE, 0xFF, 0xFF};

bool magicAt(const uint8_t* p) { return memcmp(p, kMagic, sizeof kMagic) == 0; }

}  // namespace

// ---------------------------------------------------------------------------------------------
// Requests.

void NPC_F_PVM_QXSP_PutRealplayOpen(uint8_t* p, uint16_t usMsgFuncId, uint32_t dwTransId, uint32_t dwLoginId,
                                    uint16_t usChNo, uint16_t usStreamNo) {
  NPC_F_PVM_QXSP_PutHead(p, usMsgFuncId, NPC_D_PVM_DP_QXSP_REALPLAY_OPEN_LEN, dwTransId);
  putU32(p + 20, dwLoginId);
  putU16(p + 24, usChNo);
  putU16(p + 26, usStreamNo);
}

void NPC_F_PVM_QXSP_PutExRealplayOpen(uint8_t* p, uint32_t dwLoginId, uint16_t usChNo, uint16_t usStreamNo,
                                      uint32_t dwMediaConnId) {
  NPC_F_PVM_QXSP_PutHead(p, NPC_D_PVM_DP_QXSP_P2_EX_REALPLAY_OPEN, NPC_D_PVM_DP_QXSP_EX_REALPLAY_OPEN_LEN, 0);
  putU32(p + 20, dwLoginId);
  putU16(p + 24, usChNo);
  putU16(p + 26, usStreamNo);
  putU32(p + 28, dwMediaConnId);
  putU32(p + 32, 0);
}

void NPC_F_PVM_QXSP_PutForceIFrame(uint8_t* p, uint32_t dwLoginId, uint32_t dwChNo, uint32_t dwStreamNo) {
  NPC_F_PVM_QXSP_PutHead(p, NPC_D_PVM_DP_QXSP_P2_FORCE_I_FRAME, NPC_D_PVM_DP_QXSP_FORCE_I_FRAME_LEN, 0);
  putU32(p + 20, dwLoginId);
  putU32(p + 24, dwChNo);
  putU32(p + 28, dwStreamNo);
}

void NPC_F_PVM_QXSP_PutCtrlStream(uint8_t* p, uint32_t dwTransId, uint32_t dwLoginId, uint32_t dwMediaSessionId,
                                  uint32_t dwValue1, uint32_t dwValue2) {
  NPC_F_PVM_QXSP_PutHead(p, NPC_D_PVM_DP_QXSP_P2_CTRL_STREAM, NPC_D_PVM_DP_QXSP_CTRL_STREAM_LEN, dwTransId);
  putU32(p + 20, dwLoginId);
  putU32(p + 24, dwMediaSessionId);
  putU32(p + 28, dwValue1);
  putU32(p + 32, dwValue2);
}

void NPC_F_PVM_QXSP_PutOnlyIFrame(uint8_t* p, uint32_t dwTransId, uint32_t dwLoginId, uint32_t dwMediaSessionId,
                                  uint32_t dwValue) {
  NPC_F_PVM_QXSP_PutHead(p, NPC_D_PVM_DP_QXSP_P2_ONLY_I_FRAME, NPC_D_PVM_DP_QXSP_ONLY_I_FRAME_LEN, dwTransId);
  putU32(p + 20, dwLoginId);
  putU32(p + 24, dwMediaSessionId);
  putU32(p + 28, dwValue);
}

void NPC_F_PVM_QXSP_PutGetVideoQualityCap(uint8_t* p, uint32_t dwTransId, uint32_t dwLoginId, uint16_t usChNo,
                                          uint16_t usStreamNo) {
  memset(p, 0, NPC_D_PVM_DP_QXSP_GET_VIDEO_QUALITY_CAP_LEN);
  NPC_F_PVM_QXSP_PutHead(p, NPC_D_PVM_DP_QXSP_P2_GET_VIDEO_QUALITY_CAP, NPC_D_PVM_DP_QXSP_GET_VIDEO_QUALITY_CAP_LEN,
                         dwTransId);
  putU32(p + 20, dwLoginId);
  putU16(p + 24, usChNo);
  putU16(p + 26, usStreamNo);
}

void NPC_F_PVM_QXSP_PutVideoQualityLevel(uint8_t* p, uint16_t usMsgFuncId, uint32_t dwTransId, uint32_t dwLoginId,
                                         uint16_t usChNo, uint16_t usStreamNo, uint32_t dwLevel) {
  NPC_F_PVM_QXSP_PutHead(p, usMsgFuncId, NPC_D_PVM_DP_QXSP_VIDEO_QUALITY_LEVEL_LEN, dwTransId);
  putU32(p + 20, dwLoginId);
  putU16(p + 24, usChNo);
  putU16(p + 26, usStreamNo);
  putU32(p + 28, dwLevel);
}

// ---------------------------------------------------------------------------------------------
// Answers.

int NPC_F_PVM_QXSP_ReadRealplayOpenResp(const uint8_t* pkt, size_t len, bool bExtended,
                                        NPC_S_PVM_DP_QXSP_REALPLAY_OPEN_RESP* out) {
  if (!NPC_F_PVM_QXSP_StartResp(pkt, len, out)) return 0;
  if (!bExtended) {
    out->bComplete = true;
    return 1;
  }
  NPC_S_READER r(pkt, len);
  r.seek(32);
  out->dwMediaSessionId = r.u32();
  out->bComplete = r.ok();
  if (!out->bComplete) out->dwMediaSessionId = 0;
  return 1;
}

// The count is cut to 0..8 before the entries are measured, so a device that claims more levels
// than it sends (or more than 8) is judged by what would be copied.
int NPC_F_PVM_QXSP_ReadQualityCapResp(const uint8_t* pkt, size_t len, NPC_S_PVM_DP_QXSP_QUALITY_CAP_RESP* out) {
  if (!NPC_F_PVM_QXSP_StartResp(pkt, len, out)) return 0;
  NPC_S_READER r(pkt, len);
  r.seek(28);
  uint32_t count = r.u32();
  if (!r.ok()) return 1;
  if (count > static_cast<uint32_t>(NPC_D_PVM_DP_QXSP_QUALITY_LEVEL_MAX_NUM)) {
    count = NPC_D_PVM_DP_QXSP_QUALITY_LEVEL_MAX_NUM;
  }
  const uint8_t* entries = r.take(uint64_t{count} * NPC_D_PVM_DP_QXSP_QUALITY_LEVEL_ENTRY_LEN);
  if (!r.ok()) return 1;
  out->iLevelNum = static_cast<int32_t>(count);
  out->pEntries = count ? entries : nullptr;
  out->bComplete = true;
  return 1;
}

int NPC_F_PVM_QXSP_ReadQualityLevelResp(const uint8_t* pkt, size_t len, NPC_S_PVM_DP_QXSP_QUALITY_LEVEL_RESP* out) {
  if (!NPC_F_PVM_QXSP_StartResp(pkt, len, out)) return 0;
  NPC_S_READER r(pkt, len);
  r.seek(28);
  int32_t level = r.i32();
  if (!r.ok()) return 1;
  out->iLevel = level;
  out->bComplete = true;
  return 1;
}

// ---------------------------------------------------------------------------------------------
// Media packets.

int NPC_F_PVM_QXSP_ReadVideoFrame(const uint8_t* pkt, size_t len, NPC_S_PVM_DP_QXSP_VIDEO_FRAME* out) {
  if (!out) return 0;
  memset(out, 0, sizeof *out);
  if (!pkt || len < static_cast<size_t>(NPC_D_PVM_DP_QXSP_MEDIA_PACKET_HEAD_LEN)) return 0;
  const uint32_t a = getU32(pkt + 20);
  const uint32_t b = getU32(pkt + 24);
  out->uiCodec = a & 0x0F;
  out->uiFrameType = (a >> 4) & 0x0F;
  out->uiWidth = (a >> 8) & 0x0FFF;
  out->uiHeight = (a >> 20) & 0x0FFF;
  out->uiFrameRate = b & 0x7F;
  out->uiBitRate = (b >> 7) & 0x7FFF;
  out->dwTimestamp = getU32(pkt + 28);
  out->pData = pkt + NPC_D_PVM_DP_QXSP_MEDIA_PACKET_HEAD_LEN;
  out->iDataLen = static_cast<int32_t>(len - NPC_D_PVM_DP_QXSP_MEDIA_PACKET_HEAD_LEN);
  return 1;
}

int NPC_F_PVM_QXSP_ReadAudioFrame(const uint8_t* pkt, size_t len, NPC_S_PVM_DP_QXSP_AUDIO_FRAME* out) {
  if (!out) return 0;
  memset(out, 0, sizeof *out);
  if (!pkt || len < static_cast<size_t>(NPC_D_PVM_DP_QXSP_MEDIA_PACKET_HEAD_LEN)) return 0;
  const uint32_t a = getU32(pkt + 20);
  out->uiCodec = a & 0x0F;
  out->uiSampleRate = (a >> 4) & 0xFFFF;
  out->uiBitRate = static_cast<uint32_t>(pkt[24] | pkt[25] << 8);
  out->uiChNum = pkt[26] & 0x03;
  out->dwTimestamp = getU32(pkt + 28);
  out->pData = pkt + NPC_D_PVM_DP_QXSP_MEDIA_PACKET_HEAD_LEN;
  out->iDataLen = static_cast<int32_t>(len - NPC_D_PVM_DP_QXSP_MEDIA_PACKET_HEAD_LEN);
  return 1;
}

void NPC_F_PVM_QXSP_FillVideoFrameHead(const NPC_S_PVM_DP_QXSP_VIDEO_FRAME& f, NPC_S_MON_MEDIA_FRAME_HEAD* head) {
  memset(head, 0, sizeof *head);
  head->iMediaType = NPC_D_MON_MEDIA_TYPE_VIDEO;
  head->iTimestamp = static_cast<int32_t>(f.dwTimestamp);
  head->iVideoCodecId = (f.uiCodec >= 1 && f.uiCodec <= 4) ? NPC_D_MON_VIDEO_CODEC_FIRST - 1 + static_cast<int32_t>(f.uiCodec)
                                                          : NPC_D_MON_VIDEO_CODEC_FIRST;
  head->iVideoWidth = static_cast<int32_t>(f.uiWidth);
  head->iVideoHeight = static_cast<int32_t>(f.uiHeight);
  head->iVideoBitRate = static_cast<int32_t>(f.uiBitRate);
  head->iVideoFrameRate = static_cast<int32_t>(f.uiFrameRate);
  head->iVideoFrameType = (f.uiFrameType >= 1 && f.uiFrameType <= 6) ? static_cast<int32_t>(f.uiFrameType) : 2;
}

int NPC_F_PVM_QXSP_AudioConvOfDevCodec(uint32_t uiCodec, int32_t* iCodecIdUp) {
  int conv = NPC_D_PVM_DP_QXSP_AUDIO_CONV_DROP;
  int32_t id = 0;
  switch (uiCodec) {
    case 1:
      conv = NPC_D_PVM_DP_QXSP_AUDIO_CONV_PASS;
      id = NPC_D_MON_AUDIO_CODEC_RAW;
      break;
    case 2:
      conv = NPC_D_PVM_DP_QXSP_AUDIO_CONV_ALAW;
      id = NPC_D_MON_AUDIO_CODEC_PCM;
      break;
    case 3:
      conv = NPC_D_PVM_DP_QXSP_AUDIO_CONV_ULAW;
      id = NPC_D_MON_AUDIO_CODEC_PCM;
      break;
    case 4:
      conv = NPC_D_PVM_DP_QXSP_AUDIO_CONV_ADPCM;
      id = NPC_D_MON_AUDIO_CODEC_PCM;
      break;
    case 6:
      conv = NPC_D_PVM_DP_QXSP_AUDIO_CONV_PASS;
      id = NPC_D_MON_AUDIO_CODEC_DEV6;
      break;
    default:
      break;
  }
  if (iCodecIdUp) *iCodecIdUp = id;
  return conv;
}

int NPC_F_PVM_QXSP_AudioConvOfUdpCodec(int32_t iAudioCodecId, int32_t* iCodecIdUp) {
  int conv = NPC_D_PVM_DP_QXSP_AUDIO_CONV_DROP;
  int32_t id = 0;
  switch (iAudioCodecId) {
    case NPC_D_MON_AUDIO_CODEC_RAW:
      conv = NPC_D_PVM_DP_QXSP_AUDIO_CONV_PASS;
      id = NPC_D_MON_AUDIO_CODEC_RAW;
      break;
    case NPC_D_MON_AUDIO_CODEC_G711A:
      conv = NPC_D_PVM_DP_QXSP_AUDIO_CONV_ALAW;
      id = NPC_D_MON_AUDIO_CODEC_PCM;
      break;
    case NPC_D_MON_AUDIO_CODEC_G711U:
      conv = NPC_D_PVM_DP_QXSP_AUDIO_CONV_ULAW;
      id = NPC_D_MON_AUDIO_CODEC_PCM;
      break;
    case NPC_D_MON_AUDIO_CODEC_ADPCM:
      conv = NPC_D_PVM_DP_QXSP_AUDIO_CONV_ADPCM;
      id = NPC_D_MON_AUDIO_CODEC_PCM;
      break;
    default:
      break;
  }
  if (iCodecIdUp) *iCodecIdUp = id;
  return conv;
}

int64_t NPC_F_PVM_QXSP_AudioConvOutLen(int conv, int64_t n) {
  if (n <= 0) return 0;
  switch (conv) {
    case NPC_D_PVM_DP_QXSP_AUDIO_CONV_PASS:
      return n;
    case NPC_D_PVM_DP_QXSP_AUDIO_CONV_ALAW:
    case NPC_D_PVM_DP_QXSP_AUDIO_CONV_ULAW:
      return 2 * n;
    case NPC_D_PVM_DP_QXSP_AUDIO_CONV_ADPCM:
      return n / NPC_D_PVM_DP_QXSP_ADPCM_BLOCK_LEN * (2 * NPC_D_PVM_DP_QXSP_ADPCM_BLOCK_SAMPLES);
    default:
      return 0;
  }
}

// The G.711 decoders take an int count; frames come from packets bounded far below INT32_MAX,
// but the loop keeps each call within an int anyway.
int64_t NPC_F_PVM_QXSP_AudioConvert(int conv, const uint8_t* in, int64_t n, uint8_t* out) {
  const int64_t outLen = NPC_F_PVM_QXSP_AudioConvOutLen(conv, n);
  if (outLen <= 0 || !in || !out) return 0;
  auto* pcm = reinterpret_cast<int16_t*>(out);
  switch (conv) {
    case NPC_D_PVM_DP_QXSP_AUDIO_CONV_PASS:
      memcpy(out, in, static_cast<size_t>(n));
      return n;
    case NPC_D_PVM_DP_QXSP_AUDIO_CONV_ALAW:
    case NPC_D_PVM_DP_QXSP_AUDIO_CONV_ULAW: {
      constexpr int64_t kPiece = 1 << 20;
      for (int64_t off = 0; off < n; off += kPiece) {
        const int m = static_cast<int>(n - off < kPiece ? n - off : kPiece);
        if (conv == NPC_D_PVM_DP_QXSP_AUDIO_CONV_ALAW) {
          g711a_decode(pcm + off, in + off, m);
        } else {
          g711u_decode(pcm + off, in + off, m);
        }
      }
      return outLen;
    }
    case NPC_D_PVM_DP_QXSP_AUDIO_CONV_ADPCM: {
      const int64_t blocks = n / NPC_D_PVM_DP_QXSP_ADPCM_BLOCK_LEN;
      for (int64_t b = 0; b < blocks; ++b) {
        ima_adpcm_decoder(0, in + b * NPC_D_PVM_DP_QXSP_ADPCM_BLOCK_LEN, pcm + b * NPC_D_PVM_DP_QXSP_ADPCM_BLOCK_SAMPLES,
                          NPC_D_PVM_DP_QXSP_ADPCM_BLOCK_SAMPLES, 1);
      }
      return outLen;
    }
    default:
      return 0;
  }
}

// ---------------------------------------------------------------------------------------------
// Boundary scan.

// Positions are measured from the scan position p, never from the start of the buffer: the
// check for the next magic at p + L needs p + L + 20 bytes, in 64-bit arithmetic, and a declared
// length below the head size is no packet at all.
NPC_S_PVM_DP_QXSP_RESYNC_RESULT NPC_F_PVM_QXSP_ScanPacketStart(const uint8_t* data, size_t len) {
  constexpr uint64_t kHead = NPC_D_PVM_DP_QXSP_HEAD_LEN;
  NPC_S_PVM_DP_QXSP_RESYNC_RESULT r{NPC_D_PVM_DP_QXSP_RESYNC_NEED_MORE, 0};
  if (!data || len < kHead) return r;
  const uint64_t last = len - kHead;  // the last position scanned
  uint64_t p = 0;
  while (p <= last) {
    const void* hit = memchr(data + p, kMagic[0], static_cast<size_t>(last - p + 1));
    if (!hit) break;
    p = static_cast<uint64_t>(static_cast<const uint8_t*>(hit) - data);
    if (magicAt(data + p)) {
      const int64_t declared = static_cast<int32_t>(getU32(data + p + 4));
      if (declared >= static_cast<int64_t>(kHead)) {
        const uint64_t L = static_cast<uint64_t>(declared);
        if (p + L + kHead > len) {
          if (declared > NPC_D_PVM_DP_QXSP_RESYNC_MAX_PACKET_LEN) {
            r.iResult = NPC_D_PVM_DP_QXSP_RESYNC_EMPTY;
            r.qwDrop = len;
          } else {
            r.qwDrop = p;
          }
          return r;
        }
        if (magicAt(data + p + L)) {
          r.iResult = NPC_D_PVM_DP_QXSP_RESYNC_FOUND;
          r.qwDrop = p;
          return r;
        }
      }
    }
    ++p;
  }
  r.qwDrop = last;  // all but the last 20 bytes
  return r;
}
