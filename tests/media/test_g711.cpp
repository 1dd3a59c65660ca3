// G.711: exhaustive comparison with spandsp over every linear input and every code, the
// fixed points devices rely on, and the quantisation properties of encode then decode.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <vector>

#include "media/g711.h"
#include "tests/media/spandsp_ref.h"

namespace {

// Every 16-bit input, -32768..32767.
std::vector<int16_t> allSamples() {
  std::vector<int16_t> v;
  v.reserve(65536);
  for (int x = -32768; x <= 32767; ++x) v.push_back(static_cast<int16_t>(x));
  return v;
}

std::vector<uint8_t> allCodes() {
  std::vector<uint8_t> v;
  for (int c = 0; c < 256; ++c) v.push_back(static_cast<uint8_t>(c));
  return v;
}

// The magnitude where A-law cell k (1..127) begins: 16k in segments 0 and 1, then
// (16 + mantissa) << (segment + 3).
int alawCellStart(int k) { return k < 32 ? 16 * k : (16 + (k & 15)) << ((k >> 4) + 3); }

// Distance from the middle of a code's cell to its edges: half the cell width of the segment.
int alawHalfStep(uint8_t code) {
  const int seg = ((code ^ 0x55) & 0x70) >> 4;
  return seg == 0 ? 8 : 8 << (seg - 1);
}
int ulawHalfStep(uint8_t code) {
  const int seg = ((~code) & 0x70) >> 4;
  return 4 << seg;
}

TEST(G711, UlawEncodeEqualsSpandspForEveryInput) {
  const std::vector<int16_t> in = allSamples();
  std::vector<uint8_t> out(in.size());
  ASSERT_EQ(g711u_encode(out.data(), in.data(), static_cast<int>(in.size())), 65536);
  for (size_t i = 0; i < in.size(); ++i) {
    ASSERT_EQ(out[i], linear_to_ulaw(in[i])) << "sample " << in[i];
    ASSERT_EQ(linear2ulaw(in[i]), out[i]) << "sample " << in[i];
  }
}

// spandsp codes a negative sample x from the magnitude -x-1, the formula here from -x; the two
// part exactly where -x is the first magnitude of a cell, and nowhere else.
TEST(G711, AlawEncodeEqualsSpandspExceptAtTheNegativeCellStarts) {
  std::set<int> expected;
  for (int k = 1; k <= 127; ++k) expected.insert(-alawCellStart(k));
  ASSERT_EQ(expected.size(), 127u);
  EXPECT_EQ(*expected.rbegin(), -16);
  EXPECT_EQ(*expected.begin(), -31744);

  const std::vector<int16_t> in = allSamples();
  std::vector<uint8_t> out(in.size());
  ASSERT_EQ(g711a_encode(out.data(), in.data(), static_cast<int>(in.size())), 65536);
  std::set<int> differing;
  for (size_t i = 0; i < in.size(); ++i) {
    const uint8_t ref = linear_to_alaw(in[i]);
    if (out[i] != ref) {
      differing.insert(in[i]);
      // There the formula's code is one cell further from zero than spandsp's.
      EXPECT_EQ(out[i], static_cast<uint8_t>(((ref ^ 0x55) + 1) ^ 0x55)) << "sample " << in[i];
    }
  }
  EXPECT_EQ(differing, expected);
}

// The table paths, the formula and every alias agree on every input.
TEST(G711, AlawEncodersAgreeForEveryInput) {
  const std::vector<int16_t> in = allSamples();
  std::vector<uint8_t> viaBuffer(in.size()), viaEnCode(in.size());
  ASSERT_EQ(G711_EnCode(viaEnCode.data(), in.data(), static_cast<int>(2 * in.size())), 65536);
  g711a_encode(viaBuffer.data(), in.data(), static_cast<int>(in.size()));
  for (size_t i = 0; i < in.size(); ++i) {
    const uint8_t formula = linear2alaw(in[i]);
    ASSERT_EQ(viaBuffer[i], formula) << "sample " << in[i];
    ASSERT_EQ(viaEnCode[i], formula) << "sample " << in[i];
    ASSERT_EQ(aencode(in[i]), formula) << "sample " << in[i];
    ASSERT_EQ(encode(in[i]), formula) << "sample " << in[i];
  }
}

TEST(G711, DecodersEqualSpandspForEveryCode) {
  const std::vector<uint8_t> codes = allCodes();
  std::vector<int16_t> a(256), a2(256), u(256);
  EXPECT_EQ(g711a_decode(a.data(), codes.data(), 256), 512);
  EXPECT_EQ(G711_Decode(a2.data(), codes.data(), 256), 512);
  EXPECT_EQ(g711u_decode(u.data(), codes.data(), 256), 512);
  for (int c = 0; c < 256; ++c) {
    const uint8_t code = static_cast<uint8_t>(c);
    EXPECT_EQ(a[c], alaw_to_linear(code)) << "code " << c;
    EXPECT_EQ(a2[c], alaw_to_linear(code)) << "code " << c;
    EXPECT_EQ(adecode(code), alaw_to_linear(code)) << "code " << c;
    EXPECT_EQ(decode(code), alaw_to_linear(code)) << "code " << c;
    EXPECT_EQ(u[c], ulaw_to_linear(code)) << "code " << c;
  }
}

struct EncodeCase {
  int16_t sample;
  uint8_t alaw;
  uint8_t ulaw;
};

TEST(G711, FixedPoints) {
  const EncodeCase cases[] = {
      {0, 0xD5, 0xFF},
      {-1, 0x55, 0x7F},
      {32767, linear2alaw(32635), linear2ulaw(32635)},
      {-32768, linear2alaw(-32635), linear2ulaw(-32635)},  // the magnitude 32768 clips
      {-32767, linear2alaw(-32635), linear2ulaw(-32635)},
  };
  for (const EncodeCase& c : cases) {
    uint8_t a = 0, u = 0;
    g711a_encode(&a, &c.sample, 1);
    g711u_encode(&u, &c.sample, 1);
    EXPECT_EQ(a, c.alaw) << "sample " << c.sample;
    EXPECT_EQ(u, c.ulaw) << "sample " << c.sample;
  }
  // -32768 is the loudest negative sample, not silence: its codes decode far below zero.
  EXPECT_LT(adecode(aencode(-32768)), -32000);
  EXPECT_LT(adecode(linear2alaw(-32768)), -32000);
  uint8_t u = 0;
  const int16_t loud = -32768;
  g711u_encode(&u, &loud, 1);
  int16_t back = 0;
  g711u_decode(&back, &u, 1);
  EXPECT_LT(back, -32000);

  int16_t out = 0;
  const uint8_t alawZero = 0xD5, ulawZero = 0xFF;
  g711a_decode(&out, &alawZero, 1);
  EXPECT_EQ(out, 8);
  g711u_decode(&out, &ulawZero, 1);
  EXPECT_EQ(out, 0);
}

// Decoding the code of any sample the law does not clip lands within half a step of it, and
// the round trip never decreases as the sample grows.
TEST(G711, RoundTripWithinHalfAStepAndMonotonic) {
  int prevA = -65536, prevU = -65536;
  for (int x = -32768; x <= 32767; ++x) {
    const int16_t s = static_cast<int16_t>(x);
    const uint8_t a = aencode(s);
    uint8_t u = 0;
    g711u_encode(&u, &s, 1);
    int16_t ua = 0;
    g711u_decode(&ua, &u, 1);
    const int ra = adecode(a), ru = ua;
    if (std::abs(x) <= NPC_D_G711_CLIP) {
      ASSERT_LE(std::abs(ra - x), alawHalfStep(a)) << "A-law sample " << x;
      ASSERT_LE(std::abs(ru - x), ulawHalfStep(u)) << "µ-law sample " << x;
    }
    ASSERT_GE(ra, prevA) << "A-law sample " << x;
    ASSERT_GE(ru, prevU) << "µ-law sample " << x;
    prevA = ra;
    prevU = ru;
  }
}

TEST(G711, AlawThirteenBitHelpers) {
  for (int c = 0; c < 256; ++c) {
    const uint8_t code = static_cast<uint8_t>(c);
    // The 13-bit value is right-aligned: sign-extended from bit 12, one eighth of the linear one.
    const int v = alaw_dec(code);
    EXPECT_GE(v, -4096);
    EXPECT_LE(v, 4095);
    EXPECT_EQ(v * 8, alaw_to_linear(code)) << "code " << c;
    // Every decoded value codes back to its own byte.
    EXPECT_EQ(alaw_compress(adecode(code)), code) << "code " << c;
  }
  for (int x = 0; x <= 32767; ++x) {
    ASSERT_EQ(alaw_compress(static_cast<int16_t>(x)), linear_to_alaw(x)) << "sample " << x;
  }
  // Below zero only the upper 14 bits count: samples that differ in the two low bits alone
  // code alike, and the result is never more than one cell away from the full formula.
  for (int x = -32768; x < 0; x += 4) {
    const uint8_t base = alaw_compress(static_cast<int16_t>(x));
    for (int low = 1; low < 4; ++low) ASSERT_EQ(alaw_compress(static_cast<int16_t>(x + low)), base) << x + low;
    ASSERT_LE(std::abs((base ^ 0x55) - (aencode(static_cast<int16_t>(x)) ^ 0x55)), 1) << x;
  }
  EXPECT_EQ(alaw_compress(-32768), linear2alaw(-32635));
}

// The buffer loops work eight samples at a time: every tail length must be coded and nothing
// may be written past n.
TEST(G711, BufferLoopsCodeEveryTailLengthAndStopAtN) {
  std::vector<int16_t> in(17);
  for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<int16_t>(static_cast<int>(i) * 3901 - 31000);
  for (int n = 0; n <= 17; ++n) {
    std::vector<uint8_t> a(static_cast<size_t>(n) + 1, 0xAA), u(static_cast<size_t>(n) + 1, 0xAA);
    EXPECT_EQ(g711a_encode(a.data(), in.data(), n), n);
    EXPECT_EQ(g711u_encode(u.data(), in.data(), n), n);
    std::vector<int16_t> da(static_cast<size_t>(n) + 1, 0x5555), du(static_cast<size_t>(n) + 1, 0x5555),
        dg(static_cast<size_t>(n) + 1, 0x5555);
    EXPECT_EQ(g711a_decode(da.data(), a.data(), n), 2 * n);
    EXPECT_EQ(g711u_decode(du.data(), u.data(), n), 2 * n);
    EXPECT_EQ(G711_Decode(dg.data(), a.data(), n), 2 * n);
    for (int i = 0; i < n; ++i) {
      EXPECT_EQ(a[i], linear2alaw(in[i]));
      EXPECT_EQ(u[i], linear2ulaw(in[i]));
      EXPECT_EQ(da[i], adecode(a[i]));
      EXPECT_EQ(dg[i], adecode(a[i]));
      EXPECT_EQ(du[i], ulaw_to_linear(u[i]));
    }
    EXPECT_EQ(a[n], 0xAA) << "n " << n;
    EXPECT_EQ(u[n], 0xAA) << "n " << n;
    EXPECT_EQ(da[n], 0x5555) << "n " << n;
    EXPECT_EQ(du[n], 0x5555) << "n " << n;
    EXPECT_EQ(dg[n], 0x5555) << "n " << n;
  }
}

TEST(G711, CountsThatConvertNothing) {
  int16_t s[3] = {100, 200, 300};
  uint8_t out[3] = {0xAA, 0xAA, 0xAA};
  int16_t pcm[3] = {7, 7, 7};
  EXPECT_EQ(g711a_encode(out, s, -1), 0);
  EXPECT_EQ(g711u_encode(out, s, 0), 0);
  EXPECT_EQ(g711a_decode(pcm, out, -5), 0);
  EXPECT_EQ(G711_Decode(pcm, out, 0), 0);
  EXPECT_EQ(G711_EnCode(out, s, 1), 0);  // one byte is no whole sample
  EXPECT_EQ(out[0], 0xAA);
  EXPECT_EQ(pcm[0], 7);
  EXPECT_EQ(G711_EnCode(out, s, 5), 2);  // five bytes: two samples, the odd byte ignored
  EXPECT_EQ(out[1], linear2alaw(200));
  EXPECT_EQ(out[2], 0xAA);
  EXPECT_EQ(g711a_encode(nullptr, s, 3), 0);
  EXPECT_EQ(g711u_decode(pcm, nullptr, 3), 0);
}

}  // namespace
