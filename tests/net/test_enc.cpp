// Packet encryption: the RC4/Base64 cipher against independent references (the JDK's ARCFOUR
// and coreutils base64), the three packet encryptors and decryptors on every layout, the
// bounds on untrusted encrypted bodies, the QXSP command list and the scrambler.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "net/enc.h"
#include "net/packet_ed.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<unsigned char>;

void put32(Bytes& b, size_t off, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[off + i] = static_cast<unsigned char>(v >> (8 * i));
}
uint32_t get32(const unsigned char* p, size_t off) {
  return static_cast<uint32_t>(p[off]) | static_cast<uint32_t>(p[off + 1]) << 8 |
         static_cast<uint32_t>(p[off + 2]) << 16 | static_cast<uint32_t>(p[off + 3]) << 24;
}

Bytes randomBytes(size_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  Bytes b(n);
  for (auto& c : b) c = static_cast<unsigned char>(gen());
  return b;
}

// One packet layout as the tests see it.
struct LayoutCase {
  const char* name;
  int headLen;
  int typeOffset;
  int sizeOffset;
  int sizeBase;
  int bodyLenOffset;  // -1 for QXSP
  int (*enc)(unsigned char*, int, int, unsigned char**, int*);
  int (*dec)(const unsigned char*, int, unsigned char**, int*, int*);
  const char* decTypeError;
};

const LayoutCase kLayouts[] = {
    {"net", 40, 14, 4, 40, 36, NPC_F_ED_EncNetPacket, NPC_F_ED_DecNetPacket, "NPC_F_ED_DecNetPacket Decrypt type error."},
    {"udp", 68, 42, 32, 40, 64, NPC_F_ED_EncUdpNetPacket, NPC_F_ED_DecUdpNetPacket,
     "NPC_F_ED_DecNetPacket Decrypt type error."},
    {"qxsp", 20, 16, 4, 20, -1, NPC_F_ED_EncQxspPacket, NPC_F_ED_DecQxspPacket,
     "NPC_F_ED_DecQxspPacket Decrypt type error."},
};

// A packet of the layout with a recognisable head and the given body. Server packets carry a
// function id of the account family; QXSP packets the login command (always encrypted).
Bytes makePacket(const LayoutCase& l, const Bytes& body, int type = 0) {
  Bytes p(static_cast<size_t>(l.headLen) + body.size());
  for (int i = 0; i < l.headLen; ++i) p[i] = static_cast<unsigned char>(0xA0 + i);
  put32(p, l.sizeOffset, static_cast<uint32_t>(l.sizeBase + body.size()));
  if (l.bodyLenOffset >= 0) {
    put32(p, l.bodyLenOffset, static_cast<uint32_t>(body.size()));
    put32(p, l.headLen == 40 ? 20 : 48, 0x30160);
  } else {
    p[8] = 0x02;
    p[9] = 0x01;
  }
  p[l.typeOffset] = static_cast<unsigned char>(type);
  std::copy(body.begin(), body.end(), p.begin() + l.headLen);
  return p;
}

// Replaces the body of an encrypted packet with raw bytes (lengths adjusted to them).
Bytes withRawBody(const LayoutCase& l, const Bytes& raw, int type = 2) {
  Bytes p = makePacket(l, raw, type);
  return p;
}

class LayoutTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(LayoutTest, RoundTripKeepsThePacketByteForByte) {
  const LayoutCase& l = GetParam();
  for (size_t n : {0, 1, 2, 3, 4, 1024, 7677}) {
    SCOPED_TRACE(n);
    Bytes plain = makePacket(l, randomBytes(n, static_cast<uint32_t>(n)));
    Bytes work = plain;
    unsigned char* enc = nullptr;
    int encLen = 0;
    ASSERT_EQ(1, l.enc(work.data(), static_cast<int>(work.size()), 2, &enc, &encLen));
    ASSERT_NE(nullptr, enc);
    EXPECT_EQ(work, plain) << "the input is not changed";
    size_t textLen = 4 * ((n + 2) / 3) + 1;
    ASSERT_EQ(static_cast<size_t>(l.headLen) + textLen, static_cast<size_t>(encLen));
    EXPECT_EQ(2, enc[l.typeOffset]);
    EXPECT_EQ(l.sizeBase + textLen, get32(enc, l.sizeOffset));
    if (l.bodyLenOffset >= 0) {
      EXPECT_EQ(textLen, get32(enc, l.bodyLenOffset));
    }
    EXPECT_EQ(0, enc[encLen - 1]) << "the text ends in its NUL";
    EXPECT_EQ(strlen(reinterpret_cast<char*>(enc) + l.headLen), textLen - 1);

    unsigned char* dec = nullptr;
    int decLen = 0, type = -1;
    ASSERT_EQ(1, l.dec(enc, encLen, &dec, &decLen, &type));
    ASSERT_NE(nullptr, dec);
    EXPECT_EQ(2, type);
    EXPECT_EQ(plain, Bytes(dec, dec + decLen));
    NPC_F_ED_ReleasePacket(enc);
    NPC_F_ED_ReleasePacket(dec);
  }
}

TEST_P(LayoutTest, PlainBodyOfMoreThan7677BytesIsRefused) {
  const LayoutCase& l = GetParam();
  korven_test::LogCapture log;
  Bytes plain = makePacket(l, randomBytes(7678, 1));
  Bytes work = plain;
  unsigned char* sentinel = reinterpret_cast<unsigned char*>(&work);
  unsigned char* out = sentinel;
  int outLen = -7;
  EXPECT_EQ(0, l.enc(work.data(), static_cast<int>(work.size()), 2, &out, &outLen));
  EXPECT_EQ(sentinel, out);
  EXPECT_EQ(-7, outLen);
  EXPECT_EQ(work, plain);
  EXPECT_TRUE(log.contains("Encryption error."));
}

TEST_P(LayoutTest, TypeZeroPassesThroughWithoutOutput) {
  const LayoutCase& l = GetParam();
  Bytes p = makePacket(l, randomBytes(10, 2), 2);  // type byte says 2, caller asks for 0
  unsigned char* sentinel = reinterpret_cast<unsigned char*>(&p);
  unsigned char* out = sentinel;
  int outLen = 0;
  ASSERT_EQ(1, l.enc(p.data(), static_cast<int>(p.size()), 0, &out, &outLen));
  EXPECT_EQ(sentinel, out) << "an encryptor leaves the out pointer as the caller set it";
  EXPECT_EQ(0, p[l.typeOffset]);

  out = sentinel;
  int type = 9;
  ASSERT_EQ(1, l.dec(p.data(), static_cast<int>(p.size()), &out, &outLen, &type));
  EXPECT_EQ(nullptr, out) << "a decryptor sets the out pointer to null";
  EXPECT_EQ(0, type);
}

TEST_P(LayoutTest, UnknownTypesAreRefused) {
  const LayoutCase& l = GetParam();
  for (int t : {1, 3, 0x80, 0xFF}) {
    SCOPED_TRACE(t);
    korven_test::LogCapture log;
    Bytes p = makePacket(l, randomBytes(6, 3), t);
    unsigned char* out = nullptr;
    int outLen = 0, type = 0;
    EXPECT_EQ(0, l.dec(p.data(), static_cast<int>(p.size()), &out, &outLen, &type));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(1, log.count(l.decTypeError));
    EXPECT_EQ(0, l.enc(p.data(), static_cast<int>(p.size()), t, &out, &outLen));
    EXPECT_EQ(nullptr, out);
  }
}

// Encrypted bodies from outside: each must fail cleanly, never read past the packet.
TEST_P(LayoutTest, MalformedEncryptedBodiesFailCleanly) {
  const LayoutCase& l = GetParam();
  std::string big(13656, 'A');  // 13656 characters decode to 10242 bytes
  struct Case {
    const char* what;
    Bytes body;
    int extraLen;  // added to the length field(s) beyond the real body
  } cases[] = {
      {"text without its NUL", Bytes{'Q', 'U', 'J', 'D'}, 0},
      {"empty body", Bytes{}, 0},
      {"length beyond the packet", Bytes{'Q', 'U', 'J', 'D', 0}, 1},
      {"decodes to more than 10240 bytes", Bytes(big.begin(), big.end()), 0},
  };
  cases[3].body.push_back(0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    korven_test::LogCapture log;
    Bytes p = withRawBody(l, c.body);
    if (c.extraLen) {
      put32(p, l.sizeOffset, static_cast<uint32_t>(l.sizeBase + c.body.size() + c.extraLen));
      if (l.bodyLenOffset >= 0) put32(p, l.bodyLenOffset, static_cast<uint32_t>(c.body.size() + c.extraLen));
    }
    // The packet is handed over in an exact-size heap buffer so that ASan sees any over-read.
    std::unique_ptr<unsigned char[]> exact(new unsigned char[p.size()]);
    memcpy(exact.get(), p.data(), p.size());
    unsigned char* out = nullptr;
    int outLen = 0, type = 0;
    EXPECT_EQ(0, l.dec(exact.get(), static_cast<int>(p.size()), &out, &outLen, &type));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(0, type);
    EXPECT_GE(log.lines().size(), 1u);
  }
}

TEST_P(LayoutTest, DecodedBodyOfExactly10240BytesIsAccepted) {
  const LayoutCase& l = GetParam();
  std::string text(13652, 'A');  // 3413 groups: 10239 bytes; "AA" adds one more
  text += "AA==";
  Bytes body(text.begin(), text.end());
  body.push_back(0);
  Bytes p = withRawBody(l, body);
  unsigned char* out = nullptr;
  int outLen = 0, type = 0;
  ASSERT_EQ(1, l.dec(p.data(), static_cast<int>(p.size()), &out, &outLen, &type));
  EXPECT_EQ(l.headLen + 10240, outLen);
  NPC_F_ED_ReleasePacket(out);
}

TEST_P(LayoutTest, ShortPacketsAndNullArgumentsAreRefused) {
  const LayoutCase& l = GetParam();
  korven_test::LogCapture log;
  Bytes p = makePacket(l, {}, 2);
  unsigned char* out = nullptr;
  int outLen = 0, type = 0;
  EXPECT_EQ(0, l.dec(p.data(), l.headLen - 1, &out, &outLen, &type));
  EXPECT_EQ(0, l.enc(p.data(), l.headLen - 1, 2, &out, &outLen));
  EXPECT_EQ(0, l.dec(nullptr, 100, &out, &outLen, &type));
  EXPECT_EQ(0, l.enc(p.data(), static_cast<int>(p.size()), 2, nullptr, &outLen));
  EXPECT_EQ(nullptr, out);
}

INSTANTIATE_TEST_SUITE_P(Layouts, LayoutTest, ::testing::ValuesIn(kLayouts),
                         [](const ::testing::TestParamInfo<LayoutCase>& i) { return std::string(i.param.name); });

TEST(PacketEd, ServerPacketEdgeSizes) {
  const LayoutCase& net = kLayouts[0];
  struct {
    size_t body;
    uint32_t encBody;
    uint32_t size;
  } cases[] = {{0, 1, 41}, {3, 5, 45}};
  for (const auto& c : cases) {
    Bytes p = makePacket(net, randomBytes(c.body, 9));
    unsigned char* out = nullptr;
    int outLen = 0;
    ASSERT_EQ(1, NPC_F_ED_EncNetPacket(p.data(), static_cast<int>(p.size()), 2, &out, &outLen));
    EXPECT_EQ(c.encBody, get32(out, 36));
    EXPECT_EQ(c.size, get32(out, 4));
    EXPECT_EQ(static_cast<int>(c.size), outLen);
    NPC_F_ED_ReleasePacket(out);
  }
}

TEST(PacketEd, SendDataPacketsAreNeverEncrypted) {
  for (int layout : {0, 1}) {
    const LayoutCase& l = kLayouts[layout];
    Bytes p = makePacket(l, randomBytes(20, 4), 2);
    put32(p, l.headLen == 40 ? 20 : 48, 0x120103);
    Bytes before = p;
    unsigned char* out = nullptr;
    int outLen = 0;
    ASSERT_EQ(1, l.enc(p.data(), static_cast<int>(p.size()), 2, &out, &outLen));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(0, p[l.typeOffset]);
    before[l.typeOffset] = 0;
    EXPECT_EQ(before, p);
  }
}

TEST(PacketEd, QxspCommandList) {
  const uint16_t encrypted[] = {0x0102, 0x0103, 0x0105, 0x0201, 0x0202, 0x0203, 0x0221,
                                0x0222, 0x0301, 0x0302, 0x0311, 0x0313, 0x0318};
  const uint16_t plain[] = {0x0000, 0x0001, 0x0101, 0x0104, 0x0106, 0x0204, 0x0220, 0x0223,
                            0x0303, 0x0312, 0x0314, 0x0317, 0x0319, 0x0401, 0x0A01, 0x0210, 0xFFFF};
  const LayoutCase& q = kLayouts[2];
  for (uint16_t cmd : encrypted) {
    SCOPED_TRACE(cmd);
    EXPECT_EQ(1, NPC_F_ED_QxspCmdIfEncrypt(cmd));
    Bytes p = makePacket(q, randomBytes(8, 5));
    p[8] = static_cast<unsigned char>(cmd);
    p[9] = static_cast<unsigned char>(cmd >> 8);
    unsigned char* out = nullptr;
    int outLen = 0;
    ASSERT_EQ(1, NPC_F_ED_EncQxspPacket(p.data(), static_cast<int>(p.size()), 2, &out, &outLen));
    ASSERT_NE(nullptr, out);
    EXPECT_EQ(2, out[16]);
    NPC_F_ED_ReleasePacket(out);
  }
  for (uint16_t cmd : plain) {
    SCOPED_TRACE(cmd);
    EXPECT_EQ(0, NPC_F_ED_QxspCmdIfEncrypt(cmd));
    Bytes p = makePacket(q, randomBytes(8, 6), 2);
    p[8] = static_cast<unsigned char>(cmd);
    p[9] = static_cast<unsigned char>(cmd >> 8);
    unsigned char* out = nullptr;
    int outLen = 0;
    ASSERT_EQ(1, NPC_F_ED_EncQxspPacket(p.data(), static_cast<int>(p.size()), 2, &out, &outLen));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(0, p[16]);
  }
}

TEST(PacketEd, QxspCustomPacketIsTakenPlainWhateverItsTypeByte) {
  const LayoutCase& q = kLayouts[2];
  Bytes p = makePacket(q, randomBytes(12, 7), 2);
  p[8] = 0x01;
  p[9] = 0x0A;
  unsigned char* out = nullptr;
  int outLen = 0, type = 5;
  ASSERT_EQ(1, NPC_F_ED_DecQxspPacket(p.data(), static_cast<int>(p.size()), &out, &outLen, &type));
  EXPECT_EQ(nullptr, out);
  EXPECT_EQ(0, type);
}

TEST(PacketEd, QxspLengthFieldMustCoverHeadAndFitThePacket) {
  const LayoutCase& q = kLayouts[2];
  for (uint32_t bad : {0u, 19u, 100u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(bad);
    Bytes p = makePacket(q, Bytes{'Q', 'Q', '=', '=', 0}, 2);
    put32(p, 4, bad);
    unsigned char* out = nullptr;
    int outLen = 0, type = 0;
    EXPECT_EQ(0, NPC_F_ED_DecQxspPacket(p.data(), static_cast<int>(p.size()), &out, &outLen, &type));
    EXPECT_EQ(0, NPC_F_ED_EncQxspPacket(p.data(), static_cast<int>(p.size()), 2, &out, &outLen));
    EXPECT_EQ(nullptr, out);
  }
}

// --- Scrambler ---------------------------------------------------------------------------------

// The scramble table as the key file states it.
Bytes scrambleTableFromFile() {
  std::ifstream f(korven_test::sourceDir() + "/net/keys/packet_keys.txt");
  std::string line;
  Bytes t;
  while (std::getline(f, line)) {
    if (line.rfind("scramble_key=", 0) != 0) continue;
    std::string hex = line.substr(13);
    for (size_t i = 0; i + 1 < hex.size(); i += 2) t.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return t;
}

TEST(Scrambler, XorsWithTheTableOfTheKeyFileAndTwiceRestores) {
  Bytes table = scrambleTableFromFile();
  ASSERT_EQ(16u, table.size());
  Bytes buf = randomBytes(1000, 11);
  Bytes orig = buf;
  NPC_F_COM_PACKET_Encode(buf.data(), static_cast<int>(buf.size()));
  for (size_t i = 0; i < buf.size(); ++i) ASSERT_EQ(orig[i] ^ table[i % 16], buf[i]) << i;
  NPC_F_COM_PACKET_Decode(buf.data(), static_cast<int>(buf.size()));
  EXPECT_EQ(orig, buf);
}

// --- Cipher and primitives ---------------------------------------------------------------------

TEST(Rc4, PublishedVectors) {
  struct {
    const char* key;
    const char* plain;
    const char* cipherHex;
  } cases[] = {{"Key", "Plaintext", "bbf316e8d940af0ad3"},
               {"Wiki", "pedia", "1021bf0420"},
               {"Secret", "Attack at dawn", "45a01f645fc35b383552544b9bf5"}};
  for (const auto& c : cases) {
    unsigned char s[256];
    rc4_init(s, reinterpret_cast<const unsigned char*>(c.key), strlen(c.key));
    std::string data = c.plain;
    rc4_crypt(s, reinterpret_cast<unsigned char*>(&data[0]), data.size());
    std::string hex;
    char b[3];
    for (unsigned char ch : data) {
      snprintf(b, sizeof b, "%02x", ch);
      hex += b;
    }
    EXPECT_EQ(c.cipherHex, hex);
  }
}

TEST(Base64, DecodeStopsAtFirstCharacterOutsideTheAlphabet) {
  struct {
    const char* text;
    const char* bytes;
  } cases[] = {{"", ""},         {"QUJD", "ABC"},    {"QUI=", "AB"}, {"QQ==", "A"},
               {"QUI", "AB"},    {"QQ", "A"},        {"Q", ""},      {"QUJD!QUJD", "ABC"},
               {"QUJD\nQUJD", "ABC"}, {"QU=JD", "A"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<char> out(static_cast<size_t>(Base64decode_len(c.text)));
    int n = Base64decode(out.data(), c.text);
    EXPECT_EQ(std::string(c.bytes), std::string(out.data(), static_cast<size_t>(n)));
    EXPECT_EQ('\0', out[static_cast<size_t>(n)]);
  }
  unsigned char small[2];
  EXPECT_EQ(-1, NPC_F_ENC_Base64DecodeN(small, 2, "QUJD", 4)) << "output capped";
  EXPECT_EQ(2, NPC_F_ENC_Base64DecodeN(small, 2, "QUJD", 3)) << "input bounded";
}

// Runs a shell command and returns its standard output.
std::string runCommand(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

struct TempDir {
  std::string path;
  TempDir() {
    char tmpl[] = "/tmp/korven_enc_XXXXXX";
    path = mkdtemp(tmpl) ? tmpl : "/tmp";
  }
  ~TempDir() { runCommand("rm -rf '" + path + "'"); }
};

TEST(Base64, EncodingAndPaddingMatchCoreutils) {
  TempDir dir;
  for (size_t n : {0, 1, 2, 3, 4, 5, 6, 7, 100, 1001}) {
    SCOPED_TRACE(n);
    Bytes data = randomBytes(n, static_cast<uint32_t>(100 + n));
    std::string file = dir.path + "/d";
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), static_cast<long>(n));
    std::string ref = runCommand("base64 -w0 '" + file + "'");
    std::vector<char> out(static_cast<size_t>(Base64encode_len(static_cast<int>(n))));
    int written = Base64encode(out.data(), reinterpret_cast<const char*>(data.data()), static_cast<int>(n));
    EXPECT_EQ(static_cast<int>(ref.size()) + 1, written);
    EXPECT_EQ(ref, std::string(out.data()));
  }
}

// The packet cipher equals Base64(ARCFOUR(packet key, body)) + NUL as the JDK computes it, in
// both directions, for random bodies of 0 to 7677 bytes.
TEST(Cipher, MatchesJdkArcfourWithTheFullPacketKey) {
  TempDir dir;
  std::vector<Bytes> bodies;
  std::mt19937 gen(20240611);
  for (size_t n : {0, 1, 2, 3, 1024, 7676, 7677}) bodies.push_back(randomBytes(n, static_cast<uint32_t>(n)));
  for (int i = 0; i < 40; ++i) bodies.push_back(randomBytes(gen() % 7678, gen()));
  {
    std::ofstream f(dir.path + "/bodies", std::ios::binary);
    for (const auto& b : bodies) {
      unsigned char len[4] = {static_cast<unsigned char>(b.size()), static_cast<unsigned char>(b.size() >> 8),
                              static_cast<unsigned char>(b.size() >> 16), static_cast<unsigned char>(b.size() >> 24)};
      f.write(reinterpret_cast<const char*>(len), 4);
      f.write(reinterpret_cast<const char*>(b.data()), static_cast<long>(b.size()));
    }
  }
  std::string src = korven_test::sourceDir();
  std::string cmd = "java '" + src + "/tests/data/net/Arcfour.java' '" + src + "/net/keys/packet_keys.txt' '" +
                    dir.path + "/bodies' '" + dir.path + "/out' 2>&1";
  std::string javaOut = runCommand(cmd);
  std::ifstream res(dir.path + "/out");
  ASSERT_TRUE(res.good()) << "the JDK reference did not run: " << javaOut;
  int keyLen = 0;
  const char* key = NPC_F_ED_GetPacketKey(&keyLen);
  ASSERT_EQ(128, keyLen);
  std::string line;
  size_t i = 0;
  for (; std::getline(res, line); ++i) {
    ASSERT_LT(i, bodies.size());
    const Bytes& b = bodies[i];
    SCOPED_TRACE(b.size());
    std::vector<char> out(static_cast<size_t>(Base64encode_len(static_cast<int>(b.size()))));
    int outLen = 0;
    ASSERT_EQ(1, NPC_F_ENC_EncryptEx(key, keyLen, b.data(), static_cast<int>(b.size()), out.data(),
                                     static_cast<int>(out.size()), &outLen));
    EXPECT_EQ(line.size() + 1, static_cast<size_t>(outLen));
    EXPECT_EQ(line, std::string(out.data()));
    EXPECT_EQ('\0', out[line.size()]);
    // And back: the JDK's text decrypts to the body.
    Bytes plain(b.size() + 1);
    int plainLen = -1;
    ASSERT_EQ(1, NPC_F_ENC_DecryptionEx(key, keyLen, line.c_str(), static_cast<int>(line.size()), plain.data(),
                                        static_cast<int>(plain.size()), &plainLen));
    EXPECT_EQ(b, Bytes(plain.begin(), plain.begin() + plainLen));
  }
  EXPECT_EQ(bodies.size(), i);
}

TEST(Cipher, OutputThatWouldNotFitIsRefused) {
  int keyLen = 0;
  const char* key = NPC_F_ED_GetPacketKey(&keyLen);
  unsigned char data[3] = {1, 2, 3};
  char out[5];
  int outLen = 0;
  EXPECT_EQ(0, NPC_F_ENC_EncryptEx(key, keyLen, data, 3, out, 4, &outLen));
  EXPECT_EQ(1, NPC_F_ENC_EncryptEx(key, keyLen, data, 3, out, 5, &outLen));
  EXPECT_EQ(5, outLen);
  unsigned char back[4];
  EXPECT_EQ(0, NPC_F_ENC_DecryptionEx(key, keyLen, out, 4, back, 3, &outLen)) << "no room for the NUL";
  EXPECT_EQ(1, NPC_F_ENC_DecryptionEx(key, keyLen, out, 4, back, 4, &outLen));
  EXPECT_EQ(0, memcmp(back, data, 3));

  // The text forms: a NUL-terminated text round trip.
  char text[64], plain[64];
  ASSERT_EQ(1, NPC_F_ENC_Encrypt(key, keyLen, "user-42", text, sizeof text));
  ASSERT_EQ(1, NPC_F_ENC_Decryption(key, keyLen, text, plain, sizeof plain));
  EXPECT_STREQ("user-42", plain);
}

}  // namespace
