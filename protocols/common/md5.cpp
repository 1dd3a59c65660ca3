// MD5 after RFC 1321, written for the login digests of the device protocols, and the password
// short form. Byte order is handled explicitly, so the result does not depend on the host.
#include "protocols/common/md5.h"

#include <cstring>

namespace {

// Per-step shift amounts and the sine-derived constants of RFC 1321, section 3.4.
const uint32_t kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                             5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                             4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                             6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
const uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

uint32_t rotl(uint32_t x, uint32_t c) { return (x << c) | (x >> (32 - c)); }

// One 64-byte block into the state.
void transform(uint32_t state[4], const uint8_t block[64]) {
  uint32_t m[16];
  for (int i = 0; i < 16; ++i) {
    m[i] = static_cast<uint32_t>(block[i * 4]) | static_cast<uint32_t>(block[i * 4 + 1]) << 8 |
           static_cast<uint32_t>(block[i * 4 + 2]) << 16 | static_cast<uint32_t>(block[i * 4 + 3]) << 24;
  }
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (uint32_t i = 0; i < 64; ++i) {
    uint32_t f;
    uint32_t g;
    if (i < 16) {
      f = (b & c) | (~b & d);
      g = i;
    } else if (i < 32) {
      f = (d & b) | (~d & c);
      g = (5 * i + 1) % 16;
    } else if (i < 48) {
      f = b ^ c ^ d;
      g = (3 * i + 5) % 16;
    } else {
      f = c ^ (b | ~d);
      g = (7 * i) % 16;
    }
    uint32_t t = d;
    d = c;
    c = b;
    b = b + rotl(a + f + kSine[i] + m[g], kShift[i]);
    a = t;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

}  // namespace

void NPC_F_PVM_DP_MD5_Init(NPC_S_PVM_DP_MD5_CTX* ctx) {
  ctx->dwState[0] = 0x67452301;
  ctx->dwState[1] = 0xefcdab89;
  ctx->dwState[2] = 0x98badcfe;
  ctx->dwState[3] = 0x10325476;
  ctx->qwBitLen = 0;
  ctx->iBlockLen = 0;
}

void NPC_F_PVM_DP_MD5_Update(NPC_S_PVM_DP_MD5_CTX* ctx, const void* data, size_t len) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  if (!p) return;
  ctx->qwBitLen += static_cast<uint64_t>(len) * 8;
  while (len > 0) {
    size_t n = 64 - ctx->iBlockLen;
    if (n > len) n = len;
    memcpy(ctx->ucBlock + ctx->iBlockLen, p, n);
    ctx->iBlockLen += n;
    p += n;
    len -= n;
    if (ctx->iBlockLen == 64) {
      transform(ctx->dwState, ctx->ucBlock);
      ctx->iBlockLen = 0;
    }
  }
}

void NPC_F_PVM_DP_MD5_Final(NPC_S_PVM_DP_MD5_CTX* ctx, uint8_t digest[16]) {
  uint64_t bits = ctx->qwBitLen;
  // Padding: a 1 bit, zeros up to 56 bytes of the block, then the bit length little-endian.
  ctx->ucBlock[ctx->iBlockLen++] = 0x80;
  if (ctx->iBlockLen > 56) {
    memset(ctx->ucBlock + ctx->iBlockLen, 0, 64 - ctx->iBlockLen);
    transform(ctx->dwState, ctx->ucBlock);
    ctx->iBlockLen = 0;
  }
  memset(ctx->ucBlock + ctx->iBlockLen, 0, 56 - ctx->iBlockLen);
  for (int i = 0; i < 8; ++i) ctx->ucBlock[56 + i] = static_cast<uint8_t>(bits >> (8 * i));
  transform(ctx->dwState, ctx->ucBlock);
  for (int i = 0; i < 4; ++i) {
    for (int k = 0; k < 4; ++k) digest[i * 4 + k] = static_cast<uint8_t>(ctx->dwState[i] >> (8 * k));
  }
  // The state held password material; leave nothing behind.
  volatile uint8_t* v = reinterpret_cast<volatile uint8_t*>(ctx);
  for (size_t i = 0; i < sizeof *ctx; ++i) v[i] = 0;
}

void NPC_F_PVM_DP_MD5(const void* data, size_t len, uint8_t digest[16]) {
  NPC_S_PVM_DP_MD5_CTX ctx;
  NPC_F_PVM_DP_MD5_Init(&ctx);
  NPC_F_PVM_DP_MD5_Update(&ctx, data, len);
  NPC_F_PVM_DP_MD5_Final(&ctx, digest);
}

void NPC_F_PVM_DP_MD5_ToHex(const uint8_t digest[16], char out[33]) {
  static const char kHex[] = "0123456789abcdef";
  for (int i = 0; i < 16; ++i) {
    out[i * 2] = kHex[digest[i] >> 4];
    out[i * 2 + 1] = kHex[digest[i] & 0x0F];
  }
  out[32] = '\0';
}

void NPC_F_PVM_DP_PwdShortForm(const char* pwd, char out[9]) {
  static const char kAlphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  uint8_t d[16];
  NPC_F_PVM_DP_MD5(pwd ? pwd : "", pwd ? strlen(pwd) : 0, d);
  for (int i = 0; i < 8; ++i) out[i] = kAlphabet[(static_cast<unsigned>(d[2 * i]) + d[2 * i + 1]) % 62];
  out[8] = '\0';
}
