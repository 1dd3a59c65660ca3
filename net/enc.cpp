// RC4, Base64 and the NPC_F_ENC_ cipher functions. The encrypting functions stream: RC4 runs
// over a small stack chunk that is Base64-encoded straight into the caller's buffer, so no
// call allocates and a body costs one pass over its bytes.
#include "net/enc.h"

#include <cstring>

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Decoding table: the 6-bit value of an alphabet character, 64 for everything else.
struct DecodeTable {
  unsigned char v[256];
  DecodeTable() {
    memset(v, 64, sizeof v);
    for (int i = 0; i < 64; ++i) v[static_cast<unsigned char>(kAlphabet[i])] = static_cast<unsigned char>(i);
  }
};
const DecodeTable kDecode;

// An RC4 stream that keeps its counters between chunks (rc4_crypt restarts them per call).
struct Rc4Stream {
  unsigned char s[256];
  unsigned int i = 0;
  unsigned int j = 0;

  Rc4Stream(const unsigned char* key, unsigned long keyLen) { rc4_init(s, key, keyLen); }
  void crypt(unsigned char* data, size_t len) {
    unsigned int a = i, b = j;
    for (size_t k = 0; k < len; ++k) {
      a = (a + 1) & 0xFF;
      unsigned char x = s[a];
      b = (b + x) & 0xFF;
      unsigned char y = s[b];
      s[a] = y;
      s[b] = x;
      data[k] ^= s[(x + y) & 0xFF];
    }
    i = a;
    j = b;
  }
};

// Encodes len bytes (a multiple of 3 unless this is the last piece) into out; returns the
// characters written, without a NUL.
size_t encodeBlock(char* out, const unsigned char* in, size_t len) {
  char* p = out;
  size_t k = 0;
  for (; k + 3 <= len; k += 3) {
    unsigned int v = static_cast<unsigned int>(in[k]) << 16 | static_cast<unsigned int>(in[k + 1]) << 8 | in[k + 2];
    p[0] = kAlphabet[v >> 18];
    p[1] = kAlphabet[(v >> 12) & 63];
    p[2] = kAlphabet[(v >> 6) & 63];
    p[3] = kAlphabet[v & 63];
    p += 4;
  }
  size_t rest = len - k;
  if (rest == 1) {
    unsigned int v = static_cast<unsigned int>(in[k]) << 16;
    p[0] = kAlphabet[v >> 18];
    p[1] = kAlphabet[(v >> 12) & 63];
    p[2] = '=';
    p[3] = '=';
    p += 4;
  } else if (rest == 2) {
    unsigned int v = static_cast<unsigned int>(in[k]) << 16 | static_cast<unsigned int>(in[k + 1]) << 8;
    p[0] = kAlphabet[v >> 18];
    p[1] = kAlphabet[(v >> 12) & 63];
    p[2] = kAlphabet[(v >> 6) & 63];
    p[3] = '=';
    p += 4;
  }
  return static_cast<size_t>(p - out);
}

// Characters of the Base64 text of len bytes, without the NUL (64-bit, so no length overflows).
uint64_t encodedChars(uint64_t len) { return 4 * ((len + 2) / 3); }

// RC4 over data[0..len) with a fresh schedule, Base64 into out with its NUL. The caller has
// checked that out holds encodedChars(len) + 1 bytes.
size_t encryptInto(const unsigned char* key, unsigned long keyLen, const unsigned char* data, size_t len, char* out) {
  Rc4Stream rc4(key, keyLen);
  unsigned char chunk[3072];  // a multiple of 3, so only the last piece carries padding
  size_t written = 0;
  for (size_t done = 0; done < len;) {
    size_t n = len - done < sizeof chunk ? len - done : sizeof chunk;
    memcpy(chunk, data + done, n);
    rc4.crypt(chunk, n);
    written += encodeBlock(out + written, chunk, n);
    done += n;
  }
  out[written] = '\0';
  return written;
}

unsigned long cipherKeyLen(int keyLen) { return static_cast<unsigned long>(keyLen > 256 ? 256 : keyLen); }

}  // namespace

void rc4_init(unsigned char* s, const unsigned char* key, unsigned long keyLen) {
  if (!s) return;
  for (int k = 0; k < 256; ++k) s[k] = static_cast<unsigned char>(k);
  if (!key || keyLen == 0) return;
  unsigned int j = 0;
  for (unsigned int k = 0; k < 256; ++k) {
    j = (j + s[k] + key[k % keyLen]) & 0xFF;
    unsigned char t = s[k];
    s[k] = s[j];
    s[j] = t;
  }
}

void rc4_crypt(unsigned char* s, unsigned char* data, unsigned long len) {
  if (!s || !data) return;
  unsigned int i = 0, j = 0;
  for (unsigned long k = 0; k < len; ++k) {
    i = (i + 1) & 0xFF;
    j = (j + s[i]) & 0xFF;
    unsigned char t = s[i];
    s[i] = s[j];
    s[j] = t;
    data[k] ^= s[(s[i] + s[j]) & 0xFF];
  }
}

int Base64encode_len(int len) {
  if (len < 0) return 0;
  return static_cast<int>(encodedChars(static_cast<uint64_t>(len)) + 1);
}

int Base64encode(char* out, const char* data, int len) {
  if (!out) return 0;
  if (!data || len <= 0) {
    out[0] = '\0';
    return 1;
  }
  size_t n = encodeBlock(out, reinterpret_cast<const unsigned char*>(data), static_cast<size_t>(len));
  out[n] = '\0';
  return static_cast<int>(n + 1);
}

int Base64decode_len(const char* text) {
  if (!text) return 1;
  size_t n = 0;
  while (kDecode.v[static_cast<unsigned char>(text[n])] < 64) ++n;
  return static_cast<int>(((n + 3) / 4) * 3 + 1);
}

int Base64decode(char* out, const char* text) {
  if (!out) return 0;
  if (!text) {
    out[0] = '\0';
    return 0;
  }
  size_t chars = 0;
  while (kDecode.v[static_cast<unsigned char>(text[chars])] < 64) ++chars;
  if (chars > 0x7FFFFFFF) chars = 0x7FFFFFFC;
  int n = NPC_F_ENC_Base64DecodeN(reinterpret_cast<unsigned char*>(out), 0x7FFFFFFF, text, static_cast<int>(chars));
  if (n < 0) n = 0;
  out[n] = '\0';
  return n;
}

int NPC_F_ENC_Base64DecodeN(unsigned char* out, int outCap, const char* text, int textLen) {
  if (!out || !text || outCap < 0 || textLen < 0) return -1;
  const unsigned char* in = reinterpret_cast<const unsigned char*>(text);
  size_t chars = 0;
  while (chars < static_cast<size_t>(textLen) && kDecode.v[in[chars]] < 64) ++chars;
  size_t groups = chars / 4, rest = chars % 4;
  uint64_t bytes = static_cast<uint64_t>(groups) * 3 + (rest > 1 ? rest - 1 : 0);
  if (bytes > static_cast<uint64_t>(outCap)) return -1;
  unsigned char* p = out;
  for (size_t g = 0; g < groups; ++g, in += 4) {
    unsigned int v = static_cast<unsigned int>(kDecode.v[in[0]]) << 18 | static_cast<unsigned int>(kDecode.v[in[1]]) << 12 |
                     static_cast<unsigned int>(kDecode.v[in[2]]) << 6 | kDecode.v[in[3]];
    p[0] = static_cast<unsigned char>(v >> 16);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v);
    p += 3;
  }
  if (rest > 1) {
    unsigned int v = static_cast<unsigned int>(kDecode.v[in[0]]) << 18 | static_cast<unsigned int>(kDecode.v[in[1]]) << 12;
    if (rest == 3) v |= static_cast<unsigned int>(kDecode.v[in[2]]) << 6;
    *p++ = static_cast<unsigned char>(v >> 16);
    if (rest == 3) *p++ = static_cast<unsigned char>(v >> 8);
  }
  return static_cast<int>(p - out);
}

int NPC_F_ENC_EncryptEx(const char* key, int keyLen, const unsigned char* data, int len, char* out, int outCap,
                        int* outLen) {
  if (!key || keyLen < 0 || (!data && len > 0) || len < 0 || !out || outCap <= 0) return 0;
  if (encodedChars(static_cast<uint64_t>(len)) + 1 > static_cast<uint64_t>(outCap)) return 0;
  size_t n = encryptInto(reinterpret_cast<const unsigned char*>(key), cipherKeyLen(keyLen), data,
                         static_cast<size_t>(len), out);
  if (outLen) *outLen = static_cast<int>(n + 1);
  return 1;
}

int NPC_F_ENC_DecryptionEx(const char* key, int keyLen, const char* text, int textLen, unsigned char* out,
                           int outCap, int* outLen) {
  if (!key || keyLen < 0 || !text || textLen < 0 || !out || outCap <= 0) return 0;
  int n = NPC_F_ENC_Base64DecodeN(out, outCap - 1, text, textLen);  // room for the NUL
  if (n < 0) return 0;
  Rc4Stream rc4(reinterpret_cast<const unsigned char*>(key), cipherKeyLen(keyLen));
  rc4.crypt(out, static_cast<size_t>(n));
  out[n] = '\0';
  if (outLen) *outLen = n;
  return 1;
}

int NPC_F_ENC_Encrypt(const char* key, int keyLen, const char* text, char* out, int outCap) {
  if (!text) return 0;
  size_t len = strlen(text);
  if (len > 0x7FFFFFFF) return 0;
  return NPC_F_ENC_EncryptEx(key, keyLen, reinterpret_cast<const unsigned char*>(text), static_cast<int>(len), out,
                             outCap, nullptr);
}

int NPC_F_ENC_Decryption(const char* key, int keyLen, const char* text, char* out, int outCap) {
  if (!text) return 0;
  size_t len = strlen(text);
  if (len > 0x7FFFFFFF) return 0;
  return NPC_F_ENC_DecryptionEx(key, keyLen, text, static_cast<int>(len), reinterpret_cast<unsigned char*>(out),
                                outCap, nullptr);
}

int NPC_F_ENC_ByteEncrypt(const char* key, int keyLen, const unsigned char* data, int len, char* out, int outCap,
                          int* outLen) {
  return NPC_F_ENC_EncryptEx(key, keyLen, data, len, out, outCap, outLen);
}

int NPC_F_ENC_ByteDecryption(const char* key, int keyLen, const char* text, int textLen, unsigned char* out,
                             int outCap, int* outLen) {
  return NPC_F_ENC_DecryptionEx(key, keyLen, text, textLen, out, outCap, outLen);
}

int NPC_F_ENC_RC4_ByteEncrypt(const char* key, int keyLen, unsigned char* data, int len) {
  if (!key || keyLen < 0 || len < 0 || (!data && len > 0)) return 0;
  Rc4Stream rc4(reinterpret_cast<const unsigned char*>(key), static_cast<unsigned long>(keyLen));
  rc4.crypt(data, static_cast<size_t>(len));
  return 1;
}

int NPC_F_ENC_RC4_ByteDecryption(const char* key, int keyLen, unsigned char* data, int len) {
  return NPC_F_ENC_RC4_ByteEncrypt(key, keyLen, data, len);
}
