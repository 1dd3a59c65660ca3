// MD5 (RFC 1321) and the password forms built on it that several device protocol modules
// share: the 32-character lower-case hexadecimal digest text and the 8-character short form
// of a password. MD5 here is a login digest format the devices dictate, not a security choice.
#ifndef KORVEN_PROTOCOLS_COMMON_MD5_H
#define KORVEN_PROTOCOLS_COMMON_MD5_H

#include <cstddef>
#include <cstdint>

// Streaming state: Init, any number of Update calls, then Final.
struct NPC_S_PVM_DP_MD5_CTX {
  uint32_t dwState[4];
  uint64_t qwBitLen;
  uint8_t ucBlock[64];
  size_t iBlockLen;
};

void NPC_F_PVM_DP_MD5_Init(NPC_S_PVM_DP_MD5_CTX* ctx);
void NPC_F_PVM_DP_MD5_Update(NPC_S_PVM_DP_MD5_CTX* ctx, const void* data, size_t len);
// Writes the 16-byte digest and wipes the state.
void NPC_F_PVM_DP_MD5_Final(NPC_S_PVM_DP_MD5_CTX* ctx, uint8_t digest[16]);

// The digest of one buffer.
void NPC_F_PVM_DP_MD5(const void* data, size_t len, uint8_t digest[16]);

// Writes the 16 digest bytes as 32 lower-case hexadecimal characters and a NUL (33 bytes).
void NPC_F_PVM_DP_MD5_ToHex(const uint8_t digest[16], char out[33]);

// The 8-character short form of a password: MD5 of the password's bytes gives d0..d15, and
// character i comes from (d[2i] + d[2i+1]) mod 62 as "0"-"9", "A"-"Z", "a"-"z". Writes the 8
// characters and a NUL (9 bytes). A null password counts as empty.
void NPC_F_PVM_DP_PwdShortForm(const char* pwd, char out[9]);

#endif
