// G.711 A-law and µ-law: the single-sample formulas and the table-driven buffer loops.
//
// The formulas below are the reference. The encode tables hold the code of every one of the
// 65536 samples for each law (128 KB, filled from the formulas on first use), so coding a
// sample is one load: several times faster than computing the segment, and the buffer loops
// are where talk audio spends its time. The decode tables hold the 256 linear values of each
// law and are built at compile time.
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

constexpr std::array<int16_t, 256> kAlawDecode = makeAlawDecode();
constexpr std::array<int16_t, 256> kUlawDecode = makeUlawDecode();

static_assert(alawPositive(0) == 0xD5 && ulawPositive(0) == 0xFF, "codes of 0");
static_assert(kAlawDecode[0xD5] == 8 && kUlawDecode[0xFF] == 0, "decode of the zero codes");

// The code of every sample for both laws, indexed by the sample's 16-bit pattern.
struct EncodeTables {
  uint8_t alaw[65536];
  uint8_t ulaw[65536];
  EncodeTables() {
    for (int i = 0; i < 65536; ++i) {
      const int x = i < 32768 ? i : i - 65536;
      const int mag = x < 0 ? -x : x;  // in int: 32768 for -32768, clipped by the formulas
      const int flip = x < 0 ? kSignFlip : 0;
      alaw[i] = static_cast<uint8_t>(alawPositive(mag) ^ flip);
      ulaw[i] = static_cast<uint8_t>(ulawPositive(mag) ^ flip);
    }
  }
};

// Built once, on first use; C++ makes the initialisation of a local static thread-safe.
const EncodeTables& encodeTables() {
  static const EncodeTables tables;
  return tables;
}

inline size_t tableIndex(int16_t sample) { return static_cast<uint16_t>(sample); }

// The buffer loops: eight samples per pass, then a scalar tail. The eight lookups of a pass
// are independent, so they overlap in the pipeline.
int encodeBuffer(const uint8_t* table, uint8_t* out, const int16_t* in, int n) {
  if (n <= 0 || !out || !in) return 0;
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    out[i + 0] = table[tableIndex(in[i + 0])];
    out[i + 1] = table[tableIndex(in[i + 1])];
    out[i + 2] = table[tableIndex(in[i + 2])];
    out[i + 3] = table[tableIndex(in[i + 3])];
    out[i + 4] = table[tableIndex(in[i + 4])];
    out[i + 5] = table[tableIndex(in[i + 5])];
    out[i + 6] = table[tableIndex(in[i + 6])];
    out[i + 7] = table[tableIndex(in[i + 7])];
  }
  for (; i < n; ++i) out[i] = table[tableIndex(in[i])];
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

uint8_t aencode(int16_t sample) { return encodeTables().alaw[tableIndex(sample)]; }
uint8_t encode(int16_t sample) { return encodeTables().alaw[tableIndex(sample)]; }
int16_t adecode(uint8_t code) { return kAlawDecode[code]; }
int16_t decode(uint8_t code) { return kAlawDecode[code]; }

int16_t alaw_dec(uint8_t code) {
  // Every A-law value is a multiple of 8, so the division is exact.
  return static_cast<int16_t>(kAlawDecode[code] / 8);
}

uint8_t alaw_compress(int16_t sample) {
  // Clearing the two low bits keeps the upper 14 bits; -32768 stays -32768 and clips.
  return aencode(static_cast<int16_t>(sample & ~3));
}

int g711a_encode(uint8_t* out, const int16_t* in, int n) { return encodeBuffer(encodeTables().alaw, out, in, n); }
int g711u_encode(uint8_t* out, const int16_t* in, int n) { return encodeBuffer(encodeTables().ulaw, out, in, n); }
int g711a_decode(int16_t* out, const uint8_t* in, int n) { return decodeBuffer(kAlawDecode, out, in, n); }
int g711u_decode(int16_t* out, const uint8_t* in, int n) { return decodeBuffer(kUlawDecode, out, in, n); }
int G711_Decode(int16_t* out, const uint8_t* in, int n) { return decodeBuffer(kAlawDecode, out, in, n); }

int G711_EnCode(uint8_t* out, const int16_t* in, int bytes) {
  if (bytes <= 0) return 0;
  return encodeBuffer(encodeTables().alaw, out, in, bytes / 2);
}
