// G.711 A-law and µ-law conversion between 16-bit linear PCM and one-byte codes, as the
// device protocol modules use them for talk audio and received audio.
//
// Every function here is stateless and reentrant. Linear samples are signed 16-bit in host
// order (little-endian on every target); codes are one byte each. The buffer functions take
// the count of samples (or, for G711_EnCode, of input bytes); a negative count, or a null
// buffer with a nonzero count, converts nothing and returns 0.
//
// The names are the ones the modules call; they have C++ linkage and hidden visibility, so
// generic names such as encode and decode never reach an application's symbol space.
#ifndef KORVEN_MEDIA_G711_H
#define KORVEN_MEDIA_G711_H

#include <cstdint>

// Largest magnitude both laws represent; larger magnitudes (and -32768) code like it.
constexpr int NPC_D_G711_CLIP = 32635;
// The µ-law bias added to the magnitude before the segment search.
constexpr int NPC_D_G711_ULAW_BIAS = 132;

// Single-sample A-law encoding by the formula (the reference the table paths are built from).
uint8_t linear2alaw(int16_t sample);
// Single-sample µ-law encoding by the formula.
uint8_t linear2ulaw(int16_t sample);

// One linear sample to one A-law byte (table path; equal to linear2alaw for every input).
uint8_t aencode(int16_t sample);
uint8_t encode(int16_t sample);  // the same as aencode
// One A-law byte to one linear sample, with the half-step rounding of the standard tables.
int16_t adecode(uint8_t code);
int16_t decode(uint8_t code);  // the same as adecode

// One A-law byte to its 13-bit linear value, right-aligned and sign-extended from bit 12
// (range -4032..4032); adecode(code) is exactly 8 times this value.
int16_t alaw_dec(uint8_t code);
// One A-law byte from the upper 14 bits of a sample: the two lowest bits are dropped before
// coding, so a negative sample rounds towards minus infinity first. Non-negative samples
// code exactly as linear2alaw; every decoded A-law value codes back to its own byte.
uint8_t alaw_compress(int16_t sample);

// n linear samples to n A-law bytes; returns n.
int g711a_encode(uint8_t* out, const int16_t* in, int n);
// n A-law bytes to n linear samples; returns the bytes written, 2n.
int g711a_decode(int16_t* out, const uint8_t* in, int n);
// n linear samples to n µ-law bytes; returns n.
int g711u_encode(uint8_t* out, const int16_t* in, int n);
// n µ-law bytes to n linear samples; returns 2n.
int g711u_decode(int16_t* out, const uint8_t* in, int n);
// n A-law bytes to n linear samples; returns 2n (the same conversion as g711a_decode).
int G711_Decode(int16_t* out, const uint8_t* in, int n);
// bytes / 2 linear samples (an odd last byte is ignored) to A-law; returns bytes / 2.
int G711_EnCode(uint8_t* out, const int16_t* in, int bytes);

#endif
