// IMA ADPCM: the stream coder and decoder against spandsp code by code, coding in pieces,
// the block encoder's layout and input variants, and the block decoder against the samples
// ffmpeg decoded from the committed reference blocks, with the output bound and the clamped
// head index.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "media/adpcm.h"
#include "media/g711.h"
#include "tests/media/spandsp_ref.h"
#include "tests/support/test_support.h"

namespace {

constexpr int kBlockSamples = 505;
constexpr int kBlockBytes = 256;
constexpr int16_t kGuard = 0x5A5A;

// A deterministic test signal: two tones, a sweep, noise, and a burst that hits both limits
// (including -32768 and alternating extremes, where the coder's difference is widest).
std::vector<int16_t> testSignal(size_t n) {
  std::vector<int16_t> v(n);
  uint32_t seed = 12345;
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    const double t = static_cast<double>(i) / 8000.0;
    double x = 7000 * std::sin(2 * M_PI * 440 * t) + 2500 * std::sin(2 * M_PI * (200 + 1500 * t) * t);
    x += static_cast<double>(static_cast<int>((seed >> 16) & 0x7FF) - 1024);
    if (i % 1500 >= 1200) x *= 8;
    if (i % 1500 >= 1400) x = (i & 1) ? 32767 : -32768;
    v[i] = static_cast<int16_t>(x > 32767 ? 32767 : (x < -32768 ? -32768 : x));
  }
  return v;
}

std::vector<uint8_t> readFile(const std::string& path) {
  std::vector<uint8_t> out;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return out;
  uint8_t buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  fclose(f);
  return out;
}

// The codes of a stream coder's output, in time order (high nibble first).
std::vector<int> nibblesHighFirst(const uint8_t* p, size_t count) {
  std::vector<int> v;
  for (size_t i = 0; i < count; ++i) v.push_back(i % 2 == 0 ? p[i / 2] >> 4 : p[i / 2] & 0x0F);
  return v;
}

// spandsp's DVI4 coder from its initial state (0, 0): returns the codes of in.
std::vector<int> spandspCodes(const std::vector<int16_t>& in) {
  ima_adpcm_state_t* s = ima_adpcm_init(nullptr, IMA_ADPCM_DVI4, 0);
  std::vector<uint8_t> out(in.size() / 2 + 8);
  const int bytes = ima_adpcm_encode(s, out.data(), in.data(), static_cast<int>(in.size()));
  ima_adpcm_free(s);
  // A 4-byte head (prediction and index before the chunk), then the codes, high nibble first.
  EXPECT_EQ(bytes, static_cast<int>(4 + in.size() / 2));
  return nibblesHighFirst(out.data() + 4, in.size());
}

std::vector<int16_t> spandspDecode(const std::vector<uint8_t>& codes) {
  std::vector<uint8_t> framed(4, 0);  // head: prediction 0, index 0
  framed.insert(framed.end(), codes.begin(), codes.end());
  ima_adpcm_state_t* s = ima_adpcm_init(nullptr, IMA_ADPCM_DVI4, 0);
  std::vector<int16_t> out(codes.size() * 2 + 8);
  const int n = ima_adpcm_decode(s, out.data(), framed.data(), static_cast<int>(framed.size()));
  ima_adpcm_free(s);
  out.resize(static_cast<size_t>(n));
  return out;
}

TEST(ImaAdpcm, StreamCoderMatchesSpandspCodeByCode) {
  const std::vector<int16_t> in = testSignal(6000);
  std::vector<uint8_t> ours(in.size() / 2);
  adpcm_state_t st{0, 0};
  adpcm_coder(in.data(), ours.data(), static_cast<int>(in.size()), &st);
  const std::vector<int> a = nibblesHighFirst(ours.data(), in.size());
  const std::vector<int> b = spandspCodes(in);
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) ASSERT_EQ(a[i], b[i]) << "sample " << i;
}

TEST(ImaAdpcm, StreamDecoderMatchesSpandsp) {
  // Our own codes of the test signal, and random codes that push the prediction to both limits.
  std::vector<int16_t> in = testSignal(4000);
  std::vector<uint8_t> codes(in.size() / 2);
  adpcm_state_t enc{0, 0};
  adpcm_coder(in.data(), codes.data(), static_cast<int>(in.size()), &enc);
  uint32_t seed = 99;
  for (int i = 0; i < 2000; ++i) {
    seed = seed * 1664525u + 1013904223u;
    codes.push_back(static_cast<uint8_t>(seed >> 24));
  }
  codes.insert(codes.end(), 200, 0x77);
  codes.insert(codes.end(), 200, 0xFF);
  std::vector<int16_t> ours(codes.size() * 2);
  adpcm_state_t dec{0, 0};
  adpcm_decoder(codes.data(), ours.data(), static_cast<int>(ours.size()), &dec);
  const std::vector<int16_t> ref = spandspDecode(codes);
  ASSERT_EQ(ours.size(), ref.size());
  for (size_t i = 0; i < ours.size(); ++i) ASSERT_EQ(ours[i], ref[i]) << "sample " << i;
  EXPECT_EQ(dec.valprev, ours.back());
}

// A stream coded (or decoded) in pieces of even length equals one call over the whole.
TEST(ImaAdpcm, PiecesOfEvenLengthEqualOneCall) {
  const std::vector<int16_t> in = testSignal(1000);
  std::vector<uint8_t> whole(in.size() / 2);
  adpcm_state_t one{0, 0};
  adpcm_coder(in.data(), whole.data(), 1000, &one);
  std::vector<int16_t> wholePcm(in.size());
  adpcm_state_t oneDec{0, 0};
  adpcm_decoder(whole.data(), wholePcm.data(), 1000, &oneDec);

  for (int split : {0, 2, 128, 998, 1000}) {
    std::vector<uint8_t> pieces(in.size() / 2);
    adpcm_state_t st{0, 0};
    adpcm_coder(in.data(), pieces.data(), split, &st);
    adpcm_coder(in.data() + split, pieces.data() + split / 2, 1000 - split, &st);
    EXPECT_EQ(pieces, whole) << "split " << split;
    EXPECT_EQ(st.valprev, one.valprev);
    EXPECT_EQ(st.index, one.index);

    std::vector<int16_t> pcm(in.size());
    adpcm_state_t dec{0, 0};
    adpcm_decoder(whole.data(), pcm.data(), split, &dec);
    adpcm_decoder(whole.data() + split / 2, pcm.data() + split, 1000 - split, &dec);
    EXPECT_EQ(pcm, wholePcm) << "split " << split;
  }
}

TEST(ImaAdpcm, OddCountPutsTheLastCodeInTheHighNibble) {
  const int16_t in[3] = {3000, -3000, 3000};
  uint8_t out[3] = {0xEE, 0xEE, 0xEE};
  adpcm_state_t st{0, 0};
  adpcm_coder(in, out, 3, &st);
  EXPECT_EQ(out[1] & 0x0F, 0);
  EXPECT_NE(out[1] >> 4, 0);
  EXPECT_EQ(out[2], 0xEE);  // two bytes written
  int16_t pcm[4] = {kGuard, kGuard, kGuard, kGuard};
  adpcm_state_t dec{0, 0};
  adpcm_decoder(out, pcm, 3, &dec);
  EXPECT_EQ(pcm[3], kGuard);
  EXPECT_EQ(dec.valprev, st.valprev);
  EXPECT_EQ(dec.index, st.index);
}

TEST(ImaAdpcm, StateIndexHandedInIsClamped) {
  const std::vector<int16_t> in = testSignal(64);
  struct Case {
    int8_t given;
    int8_t used;
  } cases[] = {{100, 88}, {127, 88}, {-5, 0}, {-128, 0}};
  for (const Case& c : cases) {
    std::vector<uint8_t> a(32), b(32);
    adpcm_state_t bad{500, c.given}, good{500, c.used};
    adpcm_coder(in.data(), a.data(), 64, &bad);
    adpcm_coder(in.data(), b.data(), 64, &good);
    EXPECT_EQ(a, b) << "index " << int(c.given);
    std::vector<int16_t> pa(64), pb(64);
    adpcm_state_t badDec{500, c.given}, goodDec{500, c.used};
    adpcm_decoder(a.data(), pa.data(), 64, &badDec);
    adpcm_decoder(a.data(), pb.data(), 64, &goodDec);
    EXPECT_EQ(pa, pb) << "index " << int(c.given);
  }
}

// The block: head (first sample, hdr's index, 0), then the codes of samples 1..n-1 low nibble
// first, which are the stream coder's codes started from the first sample and that index.
TEST(ImaAdpcm, BlockEncoderLayout) {
  const std::vector<int16_t> in = testSignal(600);
  for (int n : {1, 2, 3, 505}) {
    for (int8_t index : {int8_t{0}, int8_t{40}}) {
      std::vector<uint8_t> block(static_cast<size_t>(n / 2 + 4) + 1, 0xEE);
      adpcm_hdr hdr{index};
      ASSERT_EQ(ima_adpcm_encoder(0, 0, &hdr, in.data(), block.data(), n, 1), n / 2 + 4) << n;
      EXPECT_EQ(block.back(), 0xEE) << "n " << n;
      EXPECT_EQ(static_cast<int16_t>(block[0] | block[1] << 8), in[0]);
      EXPECT_EQ(block[2], index);
      EXPECT_EQ(block[3], 0);

      std::vector<uint8_t> stream(static_cast<size_t>(n) / 2 + 1);
      adpcm_state_t st{in[0], index};
      adpcm_coder(in.data() + 1, stream.data(), n - 1, &st);
      const std::vector<int> want = nibblesHighFirst(stream.data(), static_cast<size_t>(n - 1));
      for (int k = 0; k < n - 1; ++k) {
        const int got = k % 2 == 0 ? block[4 + k / 2] & 0x0F : block[4 + k / 2] >> 4;
        ASSERT_EQ(got, want[static_cast<size_t>(k)]) << "n " << n << " code " << k;
      }
      if ((n - 1) % 2 == 1) {
        EXPECT_EQ(block[4 + (n - 1) / 2] >> 4, 0) << "n " << n;
      }
      EXPECT_EQ(hdr.index, st.index) << "n " << n;
    }
  }
  std::vector<uint8_t> block(kBlockBytes);
  adpcm_hdr hdr{0};
  EXPECT_EQ(ima_adpcm_encoder(0, 0, &hdr, in.data(), block.data(), kBlockSamples, 1), kBlockBytes);
}

// Stride picks every stride-th input; byte input is A-law (brought to the 16-bit scale) or
// 8-bit linear shifted left by 8. Each must equal coding the equivalent 16-bit mono samples.
TEST(ImaAdpcm, BlockEncoderInputVariants) {
  const int n = kBlockSamples;
  const std::vector<int16_t> mono = testSignal(n);
  std::vector<int16_t> stereo(2 * n);
  std::vector<uint8_t> alaw(3 * n), bytes8(2 * n);
  std::vector<int16_t> alawLinear(n), bytes8Linear(n);
  for (int i = 0; i < n; ++i) {
    stereo[2 * i] = mono[i];
    stereo[2 * i + 1] = static_cast<int16_t>(-mono[i] / 2);
    alaw[3 * i] = aencode(mono[i]);
    alawLinear[i] = adecode(alaw[3 * i]);
    bytes8[2 * i] = static_cast<uint8_t>(mono[i] >> 8);
    bytes8Linear[i] = static_cast<int16_t>(static_cast<int8_t>(bytes8[2 * i]) * 256);
  }
  auto code = [&](int alawIn, int byteIn, const void* in, int stride) {
    std::vector<uint8_t> block(kBlockBytes);
    adpcm_hdr hdr{10};
    EXPECT_EQ(ima_adpcm_encoder(alawIn, byteIn, &hdr, in, block.data(), n, stride), kBlockBytes);
    return block;
  };
  EXPECT_EQ(code(0, 0, stereo.data(), 2), code(0, 0, mono.data(), 1));
  EXPECT_EQ(code(1, 1, alaw.data(), 3), code(0, 0, alawLinear.data(), 1));
  EXPECT_EQ(code(0, 1, bytes8.data(), 2), code(0, 0, bytes8Linear.data(), 1));
}

TEST(ImaAdpcm, BlockFunctionsRefuseBadArguments) {
  const int16_t in[4] = {1, 2, 3, 4};
  uint8_t out[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  adpcm_hdr hdr{0};
  EXPECT_EQ(ima_adpcm_encoder(0, 0, &hdr, in, out, 0, 1), 0);
  EXPECT_EQ(ima_adpcm_encoder(0, 0, &hdr, in, out, 4, 0), 0);
  EXPECT_EQ(ima_adpcm_encoder(0, 0, nullptr, in, out, 4, 1), 0);
  EXPECT_EQ(out[0], 0xEE);
  int16_t pcm[4] = {kGuard, kGuard, kGuard, kGuard};
  ima_adpcm_decoder(0, out, pcm, 4, 0);
  ima_adpcm_decoder(0, out, pcm, -1, 1);
  EXPECT_EQ(pcm[0], kGuard);
}

// The committed blocks and what ffmpeg's adpcm_ima_wav decoder made of them.
struct Reference {
  std::vector<uint8_t> blocks;  // whole 256-byte blocks
  std::vector<int16_t> samples;
};

Reference loadReference() {
  Reference r;
  const std::string dir = korven_test::sourceDir() + "/tests/data/media/";
  const std::vector<uint8_t> wav = readFile(dir + "ima_blocks.wav");
  const std::vector<uint8_t> pcm = readFile(dir + "ima_blocks_ffmpeg.s16");
  // Find the data chunk of the RIFF file.
  size_t pos = 12;
  while (pos + 8 <= wav.size()) {
    const uint32_t size = wav[pos + 4] | wav[pos + 5] << 8 | wav[pos + 6] << 16 | static_cast<uint32_t>(wav[pos + 7]) << 24;
    if (memcmp(&wav[pos], "data", 4) == 0 && pos + 8 + size <= wav.size()) {
      r.blocks.assign(wav.begin() + static_cast<long>(pos) + 8, wav.begin() + static_cast<long>(pos + 8 + size));
      break;
    }
    pos += 8 + size + (size & 1);
  }
  r.samples.resize(pcm.size() / 2);
  if (!pcm.empty()) memcpy(r.samples.data(), pcm.data(), r.samples.size() * 2);
  return r;
}

constexpr size_t kBlocks = 44;       // blocks in the reference file
constexpr size_t kFirstExact = 36;   // blocks 36..43 use only the codes 0, 4, 8 and 12

// ffmpeg's adpcm_ima_wav decoder computes a step's difference as ((2m + 1) * step) / 8 with one
// truncation, where the reference (and spandsp, and this decoder) adds step/8, step, step/2 and
// step/4 truncated one by one (see tests/data/media/ima_blocks_facts.txt). For the magnitudes 0
// and 4 the two agree at every step, so on the exact blocks ffmpeg's samples must equal ours to
// the sample: that checks the head, the nibble order, the sign, the index movement with its
// clamping and the clipping against an independent decoder. On the general blocks the
// difference accumulates in the prediction (27 at most in these vectors); a wrong nibble order
// or sign would be off by thousands.
TEST(ImaAdpcm, BlockDecoderAgainstFfmpeg) {
  const Reference ref = loadReference();
  ASSERT_EQ(ref.blocks.size(), kBlocks * kBlockBytes);
  ASSERT_EQ(ref.samples.size(), kBlocks * kBlockSamples);
  for (size_t b = 0; b < kBlocks; ++b) {
    std::vector<int16_t> out(kBlockSamples + 1, kGuard);
    ima_adpcm_decoder(0, &ref.blocks[b * kBlockBytes], out.data(), kBlockSamples, 1);
    const int16_t* want = &ref.samples[b * kBlockSamples];
    ASSERT_EQ(out[0], want[0]) << "block " << b;
    for (int i = 1; i < kBlockSamples; ++i) {
      if (b >= kFirstExact) {
        ASSERT_EQ(out[i], want[i]) << "exact block " << b << " sample " << i;
      } else {
        ASSERT_LE(std::abs(out[i] - want[i]), 32) << "block " << b << " sample " << i;
      }
    }
    // At stride 1 the last sample's repeat would fall on slot 505, outside the block's output.
    ASSERT_EQ(out[kBlockSamples], kGuard) << "block " << b;
  }
}

// Every reference block, decoded by spandsp's DVI4 decoder started from the block's head (its
// own head is big-endian and its codes run high nibble first), gives our samples 1..504.
TEST(ImaAdpcm, BlockDecoderEqualsSpandsp) {
  const Reference ref = loadReference();
  ASSERT_EQ(ref.blocks.size(), kBlocks * kBlockBytes);
  for (size_t b = 0; b < kBlocks; ++b) {
    const uint8_t* block = &ref.blocks[b * kBlockBytes];
    std::vector<uint8_t> dvi = {block[1], block[0], block[2], 0};
    for (int k = 4; k < kBlockBytes; ++k) dvi.push_back(static_cast<uint8_t>(block[k] << 4 | block[k] >> 4));
    ima_adpcm_state_t* s = ima_adpcm_init(nullptr, IMA_ADPCM_DVI4, 0);
    std::vector<int16_t> theirs(2 * kBlockBytes);
    const int count = ima_adpcm_decode(s, theirs.data(), dvi.data(), static_cast<int>(dvi.size()));
    ima_adpcm_free(s);
    ASSERT_EQ(count, kBlockSamples - 1);
    std::vector<int16_t> ours(kBlockSamples);
    ima_adpcm_decoder(0, block, ours.data(), kBlockSamples, 1);
    EXPECT_EQ(ours[0], static_cast<int16_t>(block[0] | block[1] << 8));
    for (int i = 1; i < kBlockSamples; ++i) ASSERT_EQ(ours[i], theirs[i - 1]) << "block " << b << " sample " << i;
  }
}

// Sample i goes to slot i * stride and its neighbour, never past n * stride slots.
TEST(ImaAdpcm, BlockDecoderWritesAtMostNTimesStrideSlots) {
  const Reference ref = loadReference();
  ASSERT_FALSE(ref.blocks.empty());
  const uint8_t* block = &ref.blocks[0];
  std::vector<int16_t> mono(kBlockSamples);  // checked against ffmpeg and spandsp above
  ima_adpcm_decoder(0, block, mono.data(), kBlockSamples, 1);
  for (int n : {1, 2, 505}) {
    for (int stride : {1, 2, 3}) {
      const size_t slots = static_cast<size_t>(n * stride);
      std::vector<int16_t> out(slots + 1, kGuard);
      ima_adpcm_decoder(0, block, out.data(), n, stride);
      EXPECT_EQ(out[slots], kGuard) << "n " << n << " stride " << stride;
      for (int i = 0; i < n; ++i) {
        const size_t at = static_cast<size_t>(i * stride);
        ASSERT_EQ(out[at], mono[static_cast<size_t>(i)]) << "n " << n << " stride " << stride << " i " << i;
        if (stride >= 2) {
          ASSERT_EQ(out[at + 1], out[at]) << "n " << n << " stride " << stride << " i " << i;
        }
        if (stride == 3) {
          ASSERT_EQ(out[at + 2], kGuard) << "n " << n << " i " << i;
        }
      }
    }
  }
}

TEST(ImaAdpcm, BlockDecoderAlawOutput) {
  const Reference ref = loadReference();
  ASSERT_FALSE(ref.blocks.empty());
  std::vector<int16_t> mono(kBlockSamples);
  ima_adpcm_decoder(0, &ref.blocks[0], mono.data(), kBlockSamples, 1);
  std::vector<int16_t> out(2 * kBlockSamples + 1, kGuard);
  ima_adpcm_decoder(1, &ref.blocks[0], out.data(), kBlockSamples, 2);
  EXPECT_EQ(out[2 * kBlockSamples], kGuard);
  for (int i = 0; i < kBlockSamples; ++i) {
    const uint8_t a = alaw_compress(mono[static_cast<size_t>(i)]);
    const uint16_t want = static_cast<uint16_t>(a << 8 | a);
    ASSERT_EQ(static_cast<uint16_t>(out[2 * i]), want) << i;
    ASSERT_EQ(static_cast<uint16_t>(out[2 * i + 1]), want) << i;
  }
}

// The head's index byte comes from the device: any value above 88 decodes as 88.
TEST(ImaAdpcm, BlockHeadIndexAbove88IsClamped) {
  const Reference ref = loadReference();
  ASSERT_FALSE(ref.blocks.empty());
  std::vector<uint8_t> block(ref.blocks.begin(), ref.blocks.begin() + kBlockBytes);
  block[2] = 88;
  std::vector<int16_t> want(kBlockSamples);
  ima_adpcm_decoder(0, block.data(), want.data(), kBlockSamples, 1);
  for (uint8_t head : {uint8_t{89}, uint8_t{127}, uint8_t{128}, uint8_t{200}, uint8_t{255}}) {
    block[2] = head;
    std::vector<int16_t> got(kBlockSamples + 1, kGuard);
    ima_adpcm_decoder(0, block.data(), got.data(), kBlockSamples, 1);
    got.pop_back();
    EXPECT_EQ(got, want) << "head index " << int(head);
  }
}

// A-law through a block and back: the first sample is carried exactly, and a constant input
// settles on its own code.
TEST(ImaAdpcm, AlawRoundTripThroughABlock) {
  std::vector<uint8_t> in(kBlockSamples, aencode(-1234));
  in[0] = aencode(20000);
  std::vector<uint8_t> block(kBlockBytes);
  adpcm_hdr hdr{0};
  ASSERT_EQ(ima_adpcm_encoder(1, 1, &hdr, in.data(), block.data(), kBlockSamples, 1), kBlockBytes);
  std::vector<int16_t> out(kBlockSamples);
  ima_adpcm_decoder(1, block.data(), out.data(), kBlockSamples, 1);
  EXPECT_EQ(static_cast<uint16_t>(out[0]), static_cast<uint16_t>(in[0] << 8 | in[0]));
  for (int i = 400; i < kBlockSamples; ++i) {
    ASSERT_EQ(static_cast<uint16_t>(out[i]) & 0xFF, in[1]) << i;
  }
}

}  // namespace
