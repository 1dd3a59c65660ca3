// G.711 A-law and µ-law: the single-sample formulas and the table-driven buffer loops.
//
// The formulas below are the reference. The encode tables are built from them at compile
// time and indexed by the sample's magnitude at the resolution each law looks at (A-law by
// magnitude / 16, µ-law by (magnitude + 4) / 8), so they stay small enough (2 KB and 4 KB)
// to live in the first-level cache; the sign only flips bit 7 of the code. The decode
// tables hold the 256 linear values of each law.
//
// Magnitudes are always formed in int: the magnitude of -32768 is 32768, which clips to
// 32635 like every other magnitude above it. Negating in 16 bits would wrap it back to
// -32768 and code the loudest negative sample as silence.
#include "media/g711.h"

#include <array>
#include <cstddef>

namespace {

constexpr int kAlawPositiveMask = 0xD5;  // XOR for non-negative samples (bit 7 set in the code)
constexpr int kUlawPositiveMask = 0xFF;  // complement for non-negative samples
constexpr int kSignFlip = 0x80;          // negative codes differ from positive ones in bit 7 only

// Index (0..15) of the highest set bit of v, for 0 < v < 0x10000.
constexpr int topBit(int v) {
  int bit = 0;
  while (v >> (bit + 1)) ++bit;
  return bit;
}

// A-law code of a magnitude (0..32768) for a non-negative sample: the magnitude clipped to
// 32635, the segment from the highest set bit among bits 14..8 (bit 14 is segment 7, none is
// segment 0), the four bits below that bit as mantissa (bits 7..4 in segment 0), all XORed
// with 0xD5.
constexpr int alawPositive(int mag) {
  if (mag > NPC_D_G711_CLIP) mag = NPC_D_G711_CLIP;
  const int seg = mag >= 0x100 ? topBit(mag) - 7 : 0;
  const int mant = (mag >> (seg == 0 ? 4 : seg + 3)) & 0x0F;
  return ((seg << 4) | mant) ^ kAlawPositiveMask;
}

// µ-law code of a magnitude for a non-negative sample: the magnitude clipped to 32635, the
// bias 132 added, the segment from the highest set bit among bits 14..7, the four bits below
// it as mantissa, all complemented.
constexpr int ulawPositive(int mag) {
  if (mag > NPC_D_G711_CLIP) mag = NPC_D_G711_CLIP;
  mag += NPC_D_G711_ULAW_BIAS;
  const int seg = topBit(mag) - 7;  // the bias keeps bit 7 or a higher one set
  const int mant = (mag >> (seg + 3)) & 0x0F;
  return ((seg << 4) | mant) ^ kUlawPositiveMask;
}

// Linear value of an A-law code: undo the 0x55 inversion, rebuild the magnitude at the middle
// of its quantisation step (the 0x08 and 0x108 offsets) and apply the sign (bit 7 set means
// non-negative).
constexpr int alawLinear(int code) {
  code ^= 0x55;
  int t = (code & 0x0F) << 4;
  const int seg = (code & 0x70) >> 4;
  if (seg == 0) {
    t += 0x08;
  } else {
    t += 0x108;
    t <<= seg - 1;
  }
  return (code & 0x80) ? t : -t;
}

// Linear value of a µ-law code: undo the complement, rebuild the biased magnitude at the
// middle of its step and remove the bias again.
constexpr int ulawLinear(int code) {
  code = ~code & 0xFF;
  int t = ((code & 0x0F) << 3) + NPC_D_G711_ULAW_BIAS;
  t <<= (code & 0x70) >> 4;
  return (code & 0x80) ? NPC_D_G711_ULAW_BIAS - t : t - NPC_D_G711_ULAW_BIAS;
}

// Magnitudes run to 32768 (the magnitude of -32768).
constexpr int kMaxMagnitude = 32768;
constexpr size_t kAlawEncodeSize = (kMaxMagnitude >> 4) + 1;
constexpr size_t kUlawEncodeSize = ((kMaxMagnitude + 4) >> 3) + 1;

// A-law codes of non-negative samples by magnitude / 16: the code looks only at magnitude
// bits 14..4, so every magnitude of a bucket codes alike (the clipped ones included).
constexpr std::array<uint8_t, kAlawEncodeSize> makeAlawEncode() {
  std::array<uint8_t, kAlawEncodeSize> t{};
  for (size_t i = 0; i < t.size(); ++i) t[i] = static_cast<uint8_t>(alawPositive(static_cast<int>(i) * 16));
  return t;
}

// µ-law codes of non-negative samples by (magnitude + 4) / 8: the code looks at bits 14..3 of
// magnitude + 132, and 132 = 128 + 4, so those bits are a function of (magnitude + 4) / 8.
constexpr std::array<uint8_t, kUlawEncodeSize> makeUlawEncode() {
  std::array<uint8_t, kUlawEncodeSize> t{};
  for (size_t i = 0; i < t.size(); ++i) {
    const int rep = static_cast<int>(i) * 8 - 4;
    t[i] = static_cast<uint8_t>(ulawPositive(rep < 0 ? 0 : rep));
  }
  return t;
}

constexpr std::array<int16_t, 256> makeAlawDecode() {
  std::array<int16_t, 256> t{};
  for (int i = 0; i < 256; ++i) t[static_cast<size_t>(i)] = static_cast<int16_t>(alawLinear(i));
  return t;
}

constexpr std::array<int16_t, 256> makeUlawDecode() {
  std::array<int16_t, 256> t{};
  for (int i = 0; i < 256; ++i) t[static_cast<size_t>(i)] = static_cast<int16_t>(ulawLinear(i));
  return t;
}

constexpr std::array<uint8_t, kAlawEncodeSize> kAlawEncode = makeAlawEncode();
constexpr std::array<uint8_t, kUlawEncodeSize> kUlawEncode = makeUlawEncode();
constexpr std::array<int16_t, 256> kAlawDecode = makeAlawDecode();
constexpr std::array<int16_t, 256> kUlawDecode = makeUlawDecode();

static_assert(kAlawEncode[0] == 0xD5, "A-law of 0");
static_assert(kUlawEncode[0] == 0xFF, "µ-law of 0");
static_assert(kAlawDecode[0xD5] == 8 && kUlawDecode[0xFF] == 0, "decode of the zero codes");

// Table-driven single-sample coders shared by the buffer loops. The sign is taken as a mask
// so the loops stay free of data-dependent branches.
inline uint8_t alawFast(int x) {
  const int neg = -static_cast<int>(x < 0);  // 0 or -1
  const int mag = (x ^ neg) - neg;          // 0..32768, in int
  return static_cast<uint8_t>(kAlawEncode[static_cast<size_t>(mag >> 4)] ^ (neg & kSignFlip));
}

inline uint8_t ulawFast(int x) {
  const int neg = -static_cast<int>(x < 0);
  const int mag = (x ^ neg) - neg;
  return static_cast<uint8_t>(kUlawEncode[static_cast<size_t>((mag + 4) >> 3)] ^ (neg & kSignFlip));
}

// The buffer loops: eight samples per pass, then a scalar tail. The eight lookups of a pass
// are independent, so they overlap in the pipeline.
template <uint8_t (*Code)(int)>
int encodeBuffer(uint8_t* out, const int16_t* in, int n) {
  if (n <= 0 || !out || !in) return 0;
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    out[i + 0] = Code(in[i + 0]);
    out[i + 1] = Code(in[i + 1]);
    out[i + 2] = Code(in[i + 2]);
    out[i + 3] = Code(in[i + 3]);
    out[i + 4] = Code(in[i + 4]);
    out[i + 5] = Code(in[i + 5]);
    out[i + 6] = Code(in[i + 6]);
    out[i + 7] = Code(in[i + 7]);
  }
  for (; i < n; ++i) out[i] = Code(in[i]);
  return n;
}

int decodeBuffer(const std::array<int16_t, 256>& table, int16_t* out, const uint8_t* in, int n) {
  if (n <= 0 || !out || !in) return 0;
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    out[i + 0] = table[in[i + 0]];
    out[i + 1] = table[in[i + 1]];
    out[i + 2] = table[in[i + 2]];
    out[i + 3] = table[in[i + 3]];
    out[i + 4] = table[in[i + 4]];
    out[i + 5] = table[in[i + 5]];
    out[i + 6] = table[in[i + 6]];
    out[i + 7] = table[in[i + 7]];
  }
  for (; i < n; ++i) out[i] = table[in[i]];
  return 2 * n;
}

}  // namespace

uint8_t linear2alaw(int16_t sample) {
  const int x = sample;
  const int code = alawPositive(x < 0 ? -x : x);
  return static_cast<uint8_t>(x < 0 ? code ^ kSignFlip : code);
}

uint8_t linear2ulaw(int16_t sample) {
  const int x = sample;
  const int code = ulawPositive(x < 0 ? -x : x);
  return static_cast<uint8_t>(x < 0 ? code ^ kSignFlip : code);
}

uint8_t aencode(int16_t sample) { return alawFast(sample); }
uint8_t encode(int16_t sample) { return alawFast(sample); }
int16_t adecode(uint8_t code) { return kAlawDecode[code]; }
int16_t decode(uint8_t code) { return kAlawDecode[code]; }

int16_t alaw_dec(uint8_t code) {
  // Every A-law value is a multiple of 8, so the division is exact.
  return static_cast<int16_t>(kAlawDecode[code] / 8);
}

uint8_t alaw_compress(int16_t sample) {
  // Clearing the two low bits keeps the upper 14 bits; -32768 stays -32768 and clips.
  return alawFast(static_cast<int>(sample) & ~3);
}

int g711a_encode(uint8_t* out, const int16_t* in, int n) { return encodeBuffer<alawFast>(out, in, n); }
int g711u_encode(uint8_t* out, const int16_t* in, int n) { return encodeBuffer<ulawFast>(out, in, n); }
int g711a_decode(int16_t* out, const uint8_t* in, int n) { return decodeBuffer(kAlawDecode, out, in, n); }
int g711u_decode(int16_t* out, const uint8_t* in, int n) { return decodeBuffer(kUlawDecode, out, in, n); }
int G711_Decode(int16_t* out, const uint8_t* in, int n) { return decodeBuffer(kAlawDecode, out, in, n); }

int G711_EnCode(uint8_t* out, const int16_t* in, int bytes) {
  if (bytes <= 0) return 0;
  return encodeBuffer<alawFast>(out, in, bytes / 2);
}
