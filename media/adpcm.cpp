// IMA ADPCM: the standard tables, one coding step shared by every coder, and the stream and
// block framings around it.
//
// A coding step turns the difference between a sample and the predicted value into a 4-bit
// code (bit 3 the sign, bits 2..0 from comparing the magnitude with step, step/2 and step/4),
// moves the prediction by the quantised difference (step/8 plus the parts the code selects),
// clips it to 16 bits and moves the step index by indexTable, clipped to 0..88. Decoding
// applies the same update from the code. The decoder looks the quantised difference up in a
// table built at compile time from stepsizeTable and that same formula, so its results are
// those of the textbook loop; the encoder sums it along with its comparisons.
#include "media/adpcm.h"

#include <cstddef>

#include "media/g711.h"

// Defined constexpr (the header's declaration keeps them external) so that the derived
// tables below are built at compile time.
constexpr int32_t indexTable[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

constexpr int32_t stepsizeTable[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

namespace {

constexpr int kIndexCount = NPC_D_ADPCM_MAX_INDEX + 1;

struct StepTables {
  int32_t diff[kIndexCount][8];  // quantised difference for index and code bits 2..0
  int32_t next[kIndexCount][8];  // next index << 16 | its step size, for index and code bits 2..0
};

constexpr StepTables makeStepTables() {
  StepTables t{};
  for (int i = 0; i < kIndexCount; ++i) {
    const int step = stepsizeTable[i];
    for (int c = 0; c < 8; ++c) {
      int d = step >> 3;
      if (c & 4) d += step;
      if (c & 2) d += step >> 1;
      if (c & 1) d += step >> 2;
      t.diff[i][c] = d;
      int n = i + indexTable[c];
      n = n < 0 ? 0 : (n > NPC_D_ADPCM_MAX_INDEX ? NPC_D_ADPCM_MAX_INDEX : n);
      t.next[i][c] = n << 16 | stepsizeTable[n];
    }
  }
  return t;
}

constexpr StepTables kTables = makeStepTables();

// The prediction of one channel while a call runs.
struct Predictor {
  int value;  // -32768..32767
  int index;  // 0..88
};

// The encoder's prediction also carries the step size of its index, so that the next sample's
// comparisons wait for one table load rather than two.
struct EncoderPredictor {
  int value;
  int index;
  int step;  // stepsizeTable[index]
};

inline int clampIndex(int index) {
  return index < 0 ? 0 : (index > NPC_D_ADPCM_MAX_INDEX ? NPC_D_ADPCM_MAX_INDEX : index);
}

inline int clampSample(int v) { return v < -32768 ? -32768 : (v > 32767 ? 32767 : v); }

// The next step index: moved by indexTable and clipped to 0..88. Computed rather than looked
// up, because the index is the chain that links one sample to the next and an add with two
// clips is shorter than a dependent load.
inline int nextIndex(int index, int code) { return clampIndex(index + indexTable[code]); }

// Applies one code to the prediction and returns the new sample.
inline int decodeStep(Predictor& p, int code) {
  const int d = kTables.diff[p.index][code & 7];
  p.value = clampSample((code & 8) ? p.value - d : p.value + d);
  p.index = nextIndex(p.index, code);
  return p.value;
}

// Finds the code of one sample against the prediction and applies it. The comparisons are
// written as masks rather than branches (on audio their outcomes are close to random), and
// the quantised difference is summed along with them: step/8 plus each part whose bit is set,
// which is exactly what decodeStep looks up for the code. The next index and its step come
// from one load.
inline int encodeStep(EncoderPredictor& p, int sample) {
  int step = p.step;
  int diff = sample - p.value;  // -65535..65535: no overflow in int
  const int sign = diff < 0 ? 8 : 0;
  if (diff < 0) diff = -diff;
  int vpdiff = step >> 3;
  int mask = -static_cast<int>(diff >= step);
  int code = mask & 4;
  diff -= step & mask;
  vpdiff += step & mask;
  step >>= 1;
  mask = -static_cast<int>(diff >= step);
  code |= mask & 2;
  diff -= step & mask;
  vpdiff += step & mask;
  step >>= 1;
  mask = -static_cast<int>(diff >= step);
  code |= mask & 1;
  vpdiff += step & mask;
  p.value = clampSample(sign ? p.value - vpdiff : p.value + vpdiff);
  const int next = kTables.next[p.index][code];
  p.index = next >> 16;
  p.step = next & 0xFFFF;
  return code | sign;
}

inline EncoderPredictor encoderFrom(int value, int index) {
  const int i = clampIndex(index);
  return {value, i, stepsizeTable[i]};
}

// Reads input sample i of the block encoder in the caller's chosen form.
inline int blockInput(int alawInput, int byteInput, const void* in, size_t at) {
  if (!byteInput) return static_cast<const int16_t*>(in)[at];
  const uint8_t b = static_cast<const uint8_t*>(in)[at];
  if (alawInput) return alaw_dec(b) * 8;  // the 13-bit value brought to the 16-bit scale
  return static_cast<int8_t>(b) * 256;  // 8-bit linear, shifted left by 8
}

}  // namespace

void adpcm_coder(const int16_t* in, uint8_t* out, int n, adpcm_state_t* state) {
  if (n <= 0 || !in || !out || !state) return;
  EncoderPredictor p = encoderFrom(state->valprev, state->index);
  int i = 0;
  for (; i + 2 <= n; i += 2) {
    const int hi = encodeStep(p, in[i]);
    const int lo = encodeStep(p, in[i + 1]);
    out[i / 2] = static_cast<uint8_t>(hi << 4 | lo);
  }
  if (i < n) out[i / 2] = static_cast<uint8_t>(encodeStep(p, in[i]) << 4);
  state->valprev = static_cast<int16_t>(p.value);
  state->index = static_cast<int8_t>(p.index);
}

void adpcm_decoder(const uint8_t* in, int16_t* out, int n, adpcm_state_t* state) {
  if (n <= 0 || !in || !out || !state) return;
  Predictor p{state->valprev, clampIndex(state->index)};
  int i = 0;
  for (; i + 2 <= n; i += 2) {
    const uint8_t b = in[i / 2];
    out[i] = static_cast<int16_t>(decodeStep(p, b >> 4));
    out[i + 1] = static_cast<int16_t>(decodeStep(p, b & 0x0F));
  }
  if (i < n) out[i] = static_cast<int16_t>(decodeStep(p, in[i / 2] >> 4));
  state->valprev = static_cast<int16_t>(p.value);
  state->index = static_cast<int8_t>(p.index);
}

int ima_adpcm_encoder(int alawInput, int byteInput, adpcm_hdr* hdr, const void* in, uint8_t* out, int n,
                      int stride) {
  if (n < 1 || stride < 1 || !hdr || !in || !out) return 0;
  const size_t step = static_cast<size_t>(stride);
  EncoderPredictor p = encoderFrom(blockInput(alawInput, byteInput, in, 0), hdr->index);
  const uint16_t first = static_cast<uint16_t>(p.value);
  out[0] = static_cast<uint8_t>(first & 0xFF);
  out[1] = static_cast<uint8_t>(first >> 8);
  out[2] = static_cast<uint8_t>(p.index);
  out[3] = 0;
  uint8_t* codes = out + NPC_D_ADPCM_BLOCK_HEAD_SIZE;
  // Samples 1..n-1 become codes 0..n-2; code k sits in byte k / 2, even k in the low nibble.
  const size_t count = static_cast<size_t>(n) - 1;
  size_t k = 0;
  for (; k + 2 <= count; k += 2) {
    const int lo = encodeStep(p, blockInput(alawInput, byteInput, in, (k + 1) * step));
    const int hi = encodeStep(p, blockInput(alawInput, byteInput, in, (k + 2) * step));
    codes[k / 2] = static_cast<uint8_t>(hi << 4 | lo);
  }
  if (k < count) codes[k / 2] = static_cast<uint8_t>(encodeStep(p, blockInput(alawInput, byteInput, in, (k + 1) * step)));
  hdr->index = static_cast<int8_t>(p.index);
  return n / 2 + NPC_D_ADPCM_BLOCK_HEAD_SIZE;
}

void ima_adpcm_decoder(int alawOutput, const uint8_t* in, int16_t* out, int n, int stride) {
  if (n < 1 || stride < 1 || !in || !out) return;
  const size_t step = static_cast<size_t>(stride);
  const size_t end = static_cast<size_t>(n) * step;  // slots the caller provides
  // Writes one output sample into its slot and, while it stays inside the n * stride slots,
  // the neighbouring one.
  auto put = [&](size_t i, int value) {
    int16_t slot = static_cast<int16_t>(value);
    if (alawOutput) {
      const uint8_t a = alaw_compress(static_cast<int16_t>(value));
      slot = static_cast<int16_t>(static_cast<uint16_t>(a << 8 | a));
    }
    const size_t at = i * step;
    out[at] = slot;
    if (at + 1 < end) out[at + 1] = slot;
  };
  const int16_t first = static_cast<int16_t>(static_cast<uint16_t>(in[0] | in[1] << 8));
  // The head comes from the device: an index byte above 88 (or with bit 7 set) is clamped.
  Predictor p{first, clampIndex(in[2])};
  put(0, first);
  const uint8_t* codes = in + NPC_D_ADPCM_BLOCK_HEAD_SIZE;
  const size_t count = static_cast<size_t>(n) - 1;
  size_t k = 0;
  for (; k + 2 <= count; k += 2) {
    const uint8_t b = codes[k / 2];
    put(k + 1, decodeStep(p, b & 0x0F));
    put(k + 2, decodeStep(p, b >> 4));
  }
  if (k < count) put(k + 1, decodeStep(p, codes[k / 2] & 0x0F));
}
