// The packet encryptors and decryptors (NPC_F_ED_) for the three packet layouts that carry an
// encryption type byte, the QXSP list of commands whose bodies are encrypted, and the 16-byte
// scrambler (NPC_F_COM_PACKET_Encode / Decode).
//
// Layouts (little-endian), as read and written here:
//   server packet      40-byte head: size at 4, type byte at 14, function id at 20, body length
//                      at 36, body at 40
//   server packet/UDP  68-byte head (28-byte reliable UDP head + server packet): inner size at
//                      32, type byte at 42, function id at 48, body length at 64, body at 68
//   QXSP packet        20-byte head: whole length at 4, command at 8, type byte at 16, body at 20
//
// An encrypted body is the Base64 text of the RC4 output with one NUL behind it; its length
// counts the NUL. The packet key and the scramble table come from net/keys/packet_keys.txt.
//
// A call that transforms a packet hands out a new malloc'ed packet (free it with free() or
// NPC_F_ED_ReleasePacket); a call that fails never leaves a half-built packet behind and never
// changes its input.
#ifndef KORVEN_NET_PACKET_ED_H
#define KORVEN_NET_PACKET_ED_H

#include <cstdint>

// Encryption types of the type byte.
constexpr int NPC_D_ED_ENC_TYPE_NONE = 0;
constexpr int NPC_D_ED_ENC_TYPE_RC4 = 2;

// Head sizes of the three layouts.
constexpr int NPC_D_ED_NET_HEAD_LEN = 40;
constexpr int NPC_D_ED_UDP_HEAD_LEN = 68;
constexpr int NPC_D_ED_QXSP_HEAD_LEN = 20;

// Every call encodes or decodes through one scratch buffer of this size: a plain body may be at
// most 7677 bytes (its Base64 text and NUL fill at most 10240 bytes), and an encrypted body may
// decode to at most 10240 bytes.
constexpr int NPC_D_ED_SCRATCH_LEN = 10240;
constexpr int NPC_D_ED_MAX_PLAIN_BODY = 7677;
constexpr int NPC_D_ED_MAX_DECODED_BODY = 10240;

// The function id whose packets are never encrypted (STCP_SEND_DATA).
constexpr uint32_t NPC_D_ED_NEVER_ENCRYPTED_FUNC_ID = 0x120103;

// --- Server packets ---------------------------------------------------------------------------

// Encrypts the body of a server packet of len bytes when encType is 2. Type 0, and every
// STCP_SEND_DATA packet, only get their type byte set to 0 (in place) and succeed with *out
// untouched. Returns 1 on success, 0 on failure (null arguments, len below 40, a body length
// beyond the packet or above 7677 bytes, a type other than 0 and 2).
int NPC_F_ED_EncNetPacket(unsigned char* packet, int len, int encType, unsigned char** out, int* outLen);
// Decrypts a received server packet. Type byte 0: success with *out null and *outType 0.
// Type byte 2: a new packet with the plain body, size and body length rewritten, type byte 0,
// and *outType 2. Fails on a packet below 40 bytes, any other type byte, a body length beyond
// the packet, a body without its NUL, bad text or more than 10240 decoded bytes.
int NPC_F_ED_DecNetPacket(const unsigned char* packet, int len, unsigned char** out, int* outLen, int* outType);

// The same two over the 68-byte head of a server packet carried by reliable UDP.
int NPC_F_ED_EncUdpNetPacket(unsigned char* packet, int len, int encType, unsigned char** out, int* outLen);
int NPC_F_ED_DecUdpNetPacket(const unsigned char* packet, int len, unsigned char** out, int* outLen, int* outType);

// --- QXSP packets -----------------------------------------------------------------------------

// 1 when a QXSP packet of this command travels encrypted on a connection that encrypts.
int NPC_F_ED_QxspCmdIfEncrypt(uint16_t cmd);
// Encrypts a QXSP packet whose command is on the list above (others get type byte 0 in place
// and succeed without output). The body is the packet length at offset 4 minus 20.
int NPC_F_ED_EncQxspPacket(unsigned char* packet, int len, int encType, unsigned char** out, int* outLen);
// Decrypts a received QXSP packet; type byte 0 or command 0x0A01 pass as plain.
int NPC_F_ED_DecQxspPacket(const unsigned char* packet, int len, unsigned char** out, int* outLen, int* outType);

// Frees a packet handed out by the functions above (null is ignored).
void NPC_F_ED_ReleasePacket(unsigned char* packet);

// The packet key (128 characters, not NUL-terminated) and its length, for callers that use the
// NPC_F_ENC_ functions with it directly.
const char* NPC_F_ED_GetPacketKey(int* keyLen);

// --- Scrambler ----------------------------------------------------------------------------------

// XORs byte i of buf with byte (i mod 16) of the scramble table, in place. Applying it twice
// restores the buffer, so Encode and Decode are the same operation.
void NPC_F_COM_PACKET_Encode(unsigned char* buf, int len);
void NPC_F_COM_PACKET_Decode(unsigned char* buf, int len);

#endif
