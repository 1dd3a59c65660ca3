// IMA ADPCM (DVI ADPCM, 4 bits per sample) for talk audio: a stream coder and decoder whose
// state the caller keeps between calls, and the block coder and decoder of the 4-byte-head
// block format that devices exchange (the WAVE IMA ADPCM block layout for one channel).
//
// The functions keep no state of their own and are reentrant; the tables are read-only.
// Step indexes handed in (through adpcm_state_t, adpcm_hdr or a block head) are clamped to
// 0..88 before use, so no input can index past stepsizeTable.
#ifndef KORVEN_MEDIA_ADPCM_H
#define KORVEN_MEDIA_ADPCM_H

#include <cstdint>

// The standard IMA tables: the step-index change per 4-bit code and the 89 step sizes.
extern const int32_t indexTable[16];
extern const int32_t stepsizeTable[89];

constexpr int NPC_D_ADPCM_MAX_INDEX = 88;
// Size of the block head: first sample (int16), step index (byte), 0 (byte).
constexpr int NPC_D_ADPCM_BLOCK_HEAD_SIZE = 4;

// One stream's coder or decoder state: the previous (predicted) sample and the step index.
// Start a stream with both 0.
struct adpcm_state_t {
  int16_t valprev;
  int8_t index;
};

// The step index that the block encoder carries from one block to the next.
struct adpcm_hdr {
  int8_t index;
};

// Codes n linear samples into (n + 1) / 2 bytes, the earlier sample of each pair in the high
// nibble; for odd n the last byte holds the last code in its high nibble and 0 below. The
// state carries over, so a stream coded in pieces of even length gives the same bytes as one
// call over the whole. Does nothing when n < 1 or a pointer is null.
void adpcm_coder(const int16_t* in, uint8_t* out, int n, adpcm_state_t* state);

// Decodes n codes (reading (n + 1) / 2 bytes, high nibble first) into n linear samples,
// updating the state as adpcm_coder does. Does nothing when n < 1 or a pointer is null.
void adpcm_decoder(const uint8_t* in, int16_t* out, int n, adpcm_state_t* state);

// Codes n input samples into one block: the head (first sample and hdr's step index), then
// the codes of the other n - 1 samples, two per byte, the earlier in the low nibble (an odd
// last code alone in the low nibble). The final step index goes back into hdr. Input sample i
// is in[i * stride] of 16-bit samples, or with byteInput set byte in[i * stride], which is an
// A-law code (alawInput set; expanded with alaw_dec and brought to the 16-bit scale) or an
// 8-bit linear sample (shifted left by 8).
// Writes and returns n / 2 + 4 bytes (n = 505 gives the 256-byte block); returns 0 and
// writes nothing when n < 1, stride < 1 or a pointer is null.
int ima_adpcm_encoder(int alawInput, int byteInput, adpcm_hdr* hdr, const void* in, uint8_t* out, int n,
                      int stride);

// Decodes one block of n samples (reading n / 2 + 4 bytes of in) into the 16-bit slots of
// out: sample i goes to slot i * stride and is repeated in slot i * stride + 1 when that slot
// is still below n * stride, so at most n * stride slots are written (stride 2 gives the
// sample in both channels of a stereo pair; stride 1 gives plain mono). With alawOutput set,
// each written slot holds the sample's alaw_compress byte in both of its halves. The head's
// step index is read as an unsigned byte and clamped to 88. Does nothing when n < 1,
// stride < 1 or a pointer is null.
void ima_adpcm_decoder(int alawOutput, const uint8_t* in, int16_t* out, int n, int stride);

#endif
