// The cipher of the packet encryption: the RC4 and Base64 primitives and the NPC_F_ENC_
// functions built on them (RC4 over the data, then standard Base64 text with a trailing NUL).
//
// Every function that writes into a caller's buffer takes that buffer's capacity and fails
// (returns 0) rather than write past it; every function that reads Base64 text takes the text's
// real length, so text from the network is never read beyond what arrived.
#ifndef KORVEN_NET_ENC_H
#define KORVEN_NET_ENC_H

#include <cstdint>

// --- RC4 ------------------------------------------------------------------------------------

// The published RC4 key schedule over a 256-byte state; the key bytes repeat over the 256
// schedule steps. A key length of 0 leaves the identity permutation.
void rc4_init(unsigned char* s, const unsigned char* key, unsigned long keyLen);
// The published RC4 stream applied in place: each call starts its counters at 0 and advances
// the state it is given, so one rc4_init followed by one rc4_crypt is one message.
void rc4_crypt(unsigned char* s, unsigned char* data, unsigned long len);

// --- Base64 (standard alphabet, "=" padding) -----------------------------------------------

// Room for the text of len bytes with its NUL: 4 * ((len + 2) / 3) + 1.
int Base64encode_len(int len);
// Writes the Base64 text of data[0..len) and a NUL into out (which has Base64encode_len(len)
// bytes); returns the characters written plus one for the NUL.
int Base64encode(char* out, const char* data, int len);
// Room needed to decode the NUL-terminated text, with a NUL behind the bytes.
int Base64decode_len(const char* text);
// Decodes the NUL-terminated text up to its first character outside the alphabet, writes a
// NUL behind the bytes and returns their count. out needs Base64decode_len(text) bytes. For
// text that came from outside use NPC_F_ENC_Base64DecodeN, which is bounded on both sides.
int Base64decode(char* out, const char* text);

// Decodes text[0..textLen) up to its first character outside the alphabet (a NUL, "=", or
// anything else) into out of outCap bytes. A last group of 2 or 3 characters gives 1 or 2
// bytes; a single trailing character gives none. Returns the byte count, or -1 when the
// bytes would not fit in outCap (nothing beyond outCap is written).
int NPC_F_ENC_Base64DecodeN(unsigned char* out, int outCap, const char* text, int textLen);

// --- The cipher functions (key, key length, then data) ---------------------------------------
//
// All of them use at most the first 256 key bytes except the two in-place RC4 ones. They
// return 1, or 0 on a null argument, a negative length or an output that would not fit.

// NUL-terminated text in; RC4 over its characters; Base64 text with its NUL into out.
int NPC_F_ENC_Encrypt(const char* key, int keyLen, const char* text, char* out, int outCap);
// NUL-terminated Base64 text in; decoded and RC4 applied; the plain text, NUL-terminated, into
// out (the decoded bytes and the NUL must fit in outCap).
int NPC_F_ENC_Decryption(const char* key, int keyLen, const char* text, char* out, int outCap);
// data[0..len) in; RC4; Base64 text with its NUL into out; *outLen = characters + 1.
int NPC_F_ENC_EncryptEx(const char* key, int keyLen, const unsigned char* data, int len, char* out,
                        int outCap, int* outLen);
// Base64 text of at most textLen bytes in (decoding stops earlier at its first character
// outside the alphabet); decoded, RC4; the bytes and a NUL into out; *outLen = byte count.
// Fails when the bytes and the NUL do not fit in outCap.
int NPC_F_ENC_DecryptionEx(const char* key, int keyLen, const char* text, int textLen,
                           unsigned char* out, int outCap, int* outLen);
// The same two operations under their second names.
int NPC_F_ENC_ByteEncrypt(const char* key, int keyLen, const unsigned char* data, int len, char* out,
                          int outCap, int* outLen);
int NPC_F_ENC_ByteDecryption(const char* key, int keyLen, const char* text, int textLen,
                             unsigned char* out, int outCap, int* outLen);
// RC4 in place over data[0..len), no Base64; the whole key is given to the schedule.
int NPC_F_ENC_RC4_ByteEncrypt(const char* key, int keyLen, unsigned char* data, int len);
int NPC_F_ENC_RC4_ByteDecryption(const char* key, int keyLen, unsigned char* data, int len);

#endif
