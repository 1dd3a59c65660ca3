// Codec throughput against spandsp, measured in the same run: G.711 A-law and µ-law encode
// and decode, and the IMA ADPCM stream coder (plus its decoder and the block decoder for
// reference). Prints "BENCH <name> <value> <unit>" lines: millions of samples per second and
// the ratio to spandsp's library calls (g711_encode/g711_decode, ima_adpcm_encode/decode).
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

// spandsp's C headers expect <cstdint> and <cmath> before them.
#include <spandsp/telephony.h>
#include <spandsp/bit_operations.h>
#include <spandsp/g711.h>
#include <spandsp/ima_adpcm.h>

#include "media/adpcm.h"
#include "media/g711.h"

namespace {

constexpr size_t kSamples = 1 << 16;  // one pass: 8.2 s of 8 kHz audio
constexpr double kMinSeconds = 0.25;  // each measurement runs at least this long
constexpr int kRounds = 5;            // the best of this many measurements counts

volatile uint32_t gSink;  // keeps the results alive

// Speech-like test audio: tones, a sweep, noise, loud and quiet stretches, some clipping.
std::vector<int16_t> signal() {
  std::vector<int16_t> v(kSamples);
  uint32_t seed = 1;
  for (size_t i = 0; i < kSamples; ++i) {
    seed = seed * 1103515245u + 12345u;
    const double t = static_cast<double>(i) / 8000.0;
    const double env = 0.2 + 0.8 * std::fabs(std::sin(2 * M_PI * 0.7 * t));
    double x = env * (9000 * std::sin(2 * M_PI * 310 * t) + 6000 * std::sin(2 * M_PI * (150 + 900 * t) * t));
    x += static_cast<double>(static_cast<int>((seed >> 16) & 0xFFF) - 2048);
    if (i % 8000 > 7600) x *= 4;
    v[i] = static_cast<int16_t>(x > 32767 ? 32767 : (x < -32768 ? -32768 : x));
  }
  return v;
}

// Millions of samples per second of one measurement of a pass function (each call converts
// kSamples samples).
double measure(const std::function<void()>& pass) {
  size_t passes = 0;
  const auto start = std::chrono::steady_clock::now();
  double elapsed = 0;
  do {
    pass();
    ++passes;
    elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  } while (elapsed < kMinSeconds);
  return static_cast<double>(passes * kSamples) / elapsed / 1e6;
}

// Measures ours and spandsp's alternately, so that both see the same machine load, and
// reports the best round of each and their ratio.
void compare(const char* name, const std::function<void()>& ours, const std::function<void()>& theirs) {
  double bestOurs = 0, bestTheirs = 0;
  for (int r = 0; r < kRounds; ++r) {
    const double a = measure(ours);
    const double b = measure(theirs);
    if (a > bestOurs) bestOurs = a;
    if (b > bestTheirs) bestTheirs = b;
  }
  printf("BENCH %s_msamples_s %.1f Msamples/s\n", name, bestOurs);
  printf("BENCH %s_spandsp_msamples_s %.1f Msamples/s\n", name, bestTheirs);
  printf("BENCH %s_vs_spandsp %.2f ratio\n", name, bestOurs / bestTheirs);
  fflush(stdout);
}

uint32_t sum(const uint8_t* p, size_t n) {
  uint32_t s = 0;
  for (size_t i = 0; i < n; i += 61) s += p[i];
  return s;
}

}  // namespace

int main() {
  const std::vector<int16_t> pcm = signal();
  const int n = static_cast<int>(kSamples);
  std::vector<uint8_t> alaw(kSamples), ulaw(kSamples), tmp8(kSamples);
  std::vector<int16_t> tmp16(kSamples);
  g711a_encode(alaw.data(), pcm.data(), n);
  g711u_encode(ulaw.data(), pcm.data(), n);

  g711_state_t* spA = g711_init(nullptr, G711_ALAW);
  g711_state_t* spU = g711_init(nullptr, G711_ULAW);

  compare("g711a_encode",
         [&] { g711a_encode(tmp8.data(), pcm.data(), n); gSink = sum(tmp8.data(), kSamples); },
         [&] { g711_encode(spA, tmp8.data(), pcm.data(), n); gSink = sum(tmp8.data(), kSamples); });
  compare("g711u_encode",
         [&] { g711u_encode(tmp8.data(), pcm.data(), n); gSink = sum(tmp8.data(), kSamples); },
         [&] { g711_encode(spU, tmp8.data(), pcm.data(), n); gSink = sum(tmp8.data(), kSamples); });
  compare("g711a_decode",
         [&] { g711a_decode(tmp16.data(), alaw.data(), n); gSink = static_cast<uint32_t>(tmp16[kSamples / 3]); },
         [&] { g711_decode(spA, tmp16.data(), alaw.data(), n); gSink = static_cast<uint32_t>(tmp16[kSamples / 3]); });
  compare("g711u_decode",
         [&] { g711u_decode(tmp16.data(), ulaw.data(), n); gSink = static_cast<uint32_t>(tmp16[kSamples / 3]); },
         [&] { g711_decode(spU, tmp16.data(), ulaw.data(), n); gSink = static_cast<uint32_t>(tmp16[kSamples / 3]); });

  // IMA ADPCM: the stream coder from a fresh state each pass, against spandsp's DVI4 coder.
  std::vector<uint8_t> ima(kSamples / 2 + 8);
  ima_adpcm_state_t* spIma = ima_adpcm_init(nullptr, IMA_ADPCM_DVI4, 0);
  compare("ima_encode",
         [&] {
           adpcm_state_t st{0, 0};
           adpcm_coder(pcm.data(), ima.data(), n, &st);
           gSink = sum(ima.data(), kSamples / 2);
         },
         [&] {
           ima_adpcm_init(spIma, IMA_ADPCM_DVI4, 0);
           ima_adpcm_encode(spIma, ima.data(), pcm.data(), n);
           gSink = sum(ima.data(), kSamples / 2);
         });

  std::vector<uint8_t> framed(kSamples / 2 + 4, 0);
  {
    adpcm_state_t st{0, 0};
    adpcm_coder(pcm.data(), framed.data() + 4, n, &st);
  }
  compare("ima_decode",
         [&] {
           adpcm_state_t st{0, 0};
           adpcm_decoder(framed.data() + 4, tmp16.data(), n, &st);
           gSink = static_cast<uint32_t>(tmp16[kSamples / 3]);
         },
         [&] {
           ima_adpcm_init(spIma, IMA_ADPCM_DVI4, 0);
           ima_adpcm_decode(spIma, tmp16.data(), framed.data(), static_cast<int>(framed.size()));
           gSink = static_cast<uint32_t>(tmp16[kSamples / 3]);
         });

  // The block decoder on 256-byte blocks of 505 samples, mono (stride 1).
  const size_t blocks = kSamples / 505;
  std::vector<uint8_t> blockData(blocks * 256);
  adpcm_hdr hdr{0};
  for (size_t b = 0; b < blocks; ++b) ima_adpcm_encoder(0, 0, &hdr, &pcm[b * 505], &blockData[b * 256], 505, 1);
  double blockRate = 0;
  for (int r = 0; r < kRounds; ++r) {
    const double x = measure([&] {
      for (size_t b = 0; b < blocks; ++b) ima_adpcm_decoder(0, &blockData[b * 256], &tmp16[b * 505], 505, 1);
      gSink = static_cast<uint32_t>(tmp16[kSamples / 3]);
    });
    if (x > blockRate) blockRate = x;
  }
  blockRate *= static_cast<double>(blocks * 505) / static_cast<double>(kSamples);
  printf("BENCH ima_block_decode_msamples_s %.1f Msamples/s\n", blockRate);

  g711_free(spA);
  g711_free(spU);
  ima_adpcm_free(spIma);
  return 0;
}
