// Fuzz target for the IMA ADPCM block decoder (device audio) and the block encoder: the first
// byte picks the output form, the stride and whether the block is shortened; the rest is the
// block exactly as a device would send it. The output buffer holds exactly n * stride slots,
// so any write past them is caught by the address sanitizer.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "media/adpcm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 + NPC_D_ADPCM_BLOCK_HEAD_SIZE) return 0;
  const uint8_t mode = data[0];
  // Copy the block so that reading past what was received is caught too.
  const std::vector<uint8_t> block(data + 1, data + size);
  const int alawOutput = mode & 1;
  const int stride = 1 + ((mode >> 1) & 3);
  // The most samples a block of this size holds is 2 * (size - 4) + 1; bit 3 asks for one
  // fewer, which leaves the last code byte's high nibble unread.
  const size_t codeBytes = block.size() - NPC_D_ADPCM_BLOCK_HEAD_SIZE;
  if (codeBytes > 4096) return 0;
  int n = static_cast<int>(2 * codeBytes + 1);
  if ((mode & 8) && n > 1) --n;

  std::vector<int16_t> out(static_cast<size_t>(n) * static_cast<size_t>(stride));
  ima_adpcm_decoder(alawOutput, block.data(), out.data(), n, stride);

  // The same bytes as 8-bit input for the encoder, read with the chosen stride.
  const int samples = static_cast<int>(block.size()) / stride;
  if (samples >= 1) {
    std::vector<uint8_t> coded(static_cast<size_t>(samples / 2 + NPC_D_ADPCM_BLOCK_HEAD_SIZE));
    adpcm_hdr hdr{static_cast<int8_t>(data[size - 1])};
    const int written = ima_adpcm_encoder((mode >> 4) & 1, 1, &hdr, block.data(), coded.data(), samples, stride);
    if (written != samples / 2 + NPC_D_ADPCM_BLOCK_HEAD_SIZE) abort();
    if (hdr.index < 0 || hdr.index > NPC_D_ADPCM_MAX_INDEX) abort();
  }
  return 0;
}
