// The live-view audio vectors (tests/data/live) against the decoders: ffmpeg's G.711 decoding of
// the A-law and mu-law files is what ours gives, sample for sample; the committed IMA ADPCM
// reference samples (the reference computation, made by the vector script in Python) are what
// both our block decoder and spandsp's give. The end-to-end tests compare the frames of a live
// stream with these same files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "media/adpcm.h"
#include "media/g711.h"
#include "tests/media/spandsp_ref.h"
#include "tests/support/test_support.h"

namespace {

std::vector<uint8_t> readFile(const std::string& name) {
  std::vector<uint8_t> out;
  FILE* f = fopen((korven_test::sourceDir() + "/tests/data/live/" + name).c_str(), "rb");
  if (!f) return out;
  uint8_t buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  fclose(f);
  return out;
}

std::vector<int16_t> samples(const std::vector<uint8_t>& bytes) {
  std::vector<int16_t> s(bytes.size() / 2);
  if (!s.empty()) memcpy(s.data(), bytes.data(), s.size() * 2);
  return s;
}

TEST(LiveVectors, G711DecodesToFfmpegsSamples) {
  struct Case {
    const char* coded;
    const char* ref;
    int (*decode)(int16_t*, const uint8_t*, int);
  };
  for (const Case& c : {Case{"tone_8k.alaw", "tone_8k_alaw_ref.s16", &g711a_decode},
                        Case{"tone_8k.ulaw", "tone_8k_ulaw_ref.s16", &g711u_decode}}) {
    SCOPED_TRACE(c.coded);
    const std::vector<uint8_t> coded = readFile(c.coded);
    const std::vector<int16_t> ref = samples(readFile(c.ref));
    ASSERT_EQ(coded.size(), 32320u);
    ASSERT_EQ(ref.size(), coded.size());
    std::vector<int16_t> ours(coded.size());
    EXPECT_EQ(c.decode(ours.data(), coded.data(), static_cast<int>(coded.size())), static_cast<int>(2 * coded.size()));
    EXPECT_EQ(ours, ref);
  }
}

TEST(LiveVectors, AdpcmReferenceIsOursAndSpandsps) {
  const std::vector<uint8_t> blocks = readFile("tone_8k.ima");
  const std::vector<int16_t> ref = samples(readFile("tone_8k_ima_ref.s16"));
  ASSERT_EQ(blocks.size(), 64u * 256);
  ASSERT_EQ(ref.size(), 64u * 505);
  for (size_t b = 0; b < 64; ++b) {
    const uint8_t* block = &blocks[b * 256];
    std::vector<int16_t> ours(505);
    ima_adpcm_decoder(0, block, ours.data(), 505, 1);
    ASSERT_TRUE(std::equal(ours.begin(), ours.end(), ref.begin() + static_cast<long>(b * 505))) << "block " << b;
    // spandsp's DVI4 decoder, started from the block's head (its head is big-endian, its codes
    // high nibble first), gives samples 1..504.
    std::vector<uint8_t> dvi = {block[1], block[0], block[2], 0};
    for (int k = 4; k < 256; ++k) dvi.push_back(static_cast<uint8_t>(block[k] << 4 | block[k] >> 4));
    ima_adpcm_state_t* s = ima_adpcm_init(nullptr, IMA_ADPCM_DVI4, 0);
    std::vector<int16_t> theirs(512);
    const int count = ima_adpcm_decode(s, theirs.data(), dvi.data(), static_cast<int>(dvi.size()));
    ima_adpcm_free(s);
    ASSERT_EQ(count, 504);
    ASSERT_TRUE(std::equal(theirs.begin(), theirs.begin() + 504, ref.begin() + static_cast<long>(b * 505 + 1)))
        << "block " << b;
  }
}

}  // namespace
