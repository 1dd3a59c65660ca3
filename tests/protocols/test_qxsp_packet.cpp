// The QXSP wire format without module state: MD5 and the password forms (vectors from
// tests/data/protocols/make_qxsp_vectors.py, hashlib), the framer, the session answer readers,
// the login choice and the two result translations.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "protocols/common/md5.h"
#include "protocols/qxsp/qxsp_packet.h"
#include "qxsp_fixture.h"

namespace {

std::string md5Hex(const std::string& s) {
  uint8_t d[16];
  char hex[33];
  NPC_F_PVM_DP_MD5(s.data(), s.size(), d);
  NPC_F_PVM_DP_MD5_ToHex(d, hex);
  return hex;
}

using qxsp_test::devPacket;
using qxsp_test::putU16;
using qxsp_test::putU32;

TEST(QxspMd5, Rfc1321Vectors) {
  struct Case {
    std::string in;
    const char* hex;
  };
  const Case cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
      // Padding edges: one byte short of a block's length field, exactly at it, a whole block.
      {std::string(55, 'x'), "04364420e25c512fd958a70738aa8f72"},
      {std::string(56, 'x'), "668a72d5ba17f08e62dabcafad6db14b"},
      {std::string(64, 'x'), "c1bb4f81d892b2d57947682aeb252456"},
  };
  for (const Case& c : cases) EXPECT_EQ(md5Hex(c.in), c.hex) << c.in.size() << " bytes";

  // Fed in uneven pieces, the stream gives the same digest.
  std::string s(200, 'q');
  NPC_S_PVM_DP_MD5_CTX ctx;
  NPC_F_PVM_DP_MD5_Init(&ctx);
  for (size_t off = 0, step = 1; off < s.size(); off += step, step = step * 2 + 1) {
    NPC_F_PVM_DP_MD5_Update(&ctx, s.data() + off, std::min(step, s.size() - off));
  }
  uint8_t d[16];
  char hex[33];
  NPC_F_PVM_DP_MD5_Final(&ctx, d);
  NPC_F_PVM_DP_MD5_ToHex(d, hex);
  EXPECT_EQ(std::string(hex), md5Hex(s));
}

TEST(QxspDigest, ShortFormVectors) {
  struct Case {
    std::string pwd;
    const char* form;
  };
  const Case cases[] = {
      {"", "tlJwpbo6"},
      {"admin", "6QNMIQGe"},
      {"admin123", "Ny2SRZzv"},
      {"p\xC3\xA4ssw\xC3\xB6rd", "QhKmIY1m"},  // "pässwörd" in UTF-8
      {std::string(63, 'x'), "9mBbRaYI"},
  };
  for (const Case& c : cases) {
    char out[9];
    NPC_F_PVM_DP_PwdShortForm(c.pwd.c_str(), out);
    EXPECT_STREQ(out, c.form) << c.pwd;
  }
  char out[9];
  NPC_F_PVM_DP_PwdShortForm(nullptr, out);
  EXPECT_STREQ(out, "tlJwpbo6");
}

// The login digest: the short form is taken when the client flag is 10 or the login mode is 1,
// and only then.
TEST(QxspDigest, LoginDigestVectors) {
  struct Case {
    const char* what;
    std::string token, pwd;
    int clientFlag, loginMode;
    const char* digest;
  };
  const std::string tok = "5f3c9a1e-token";
  const Case cases[] = {
      {"plain", tok, "admin123", 0, 0, "32b93f03fdffa28b90eb774c2332b336"},
      {"client flag 10", tok, "admin123", 10, 0, "682be7a350c6083e2542b213dfcb90a6"},
      {"login mode 1", tok, "admin123", 0, 1, "682be7a350c6083e2542b213dfcb90a6"},
      {"both", tok, "admin123", 10, 1, "682be7a350c6083e2542b213dfcb90a6"},
      {"other flag and mode", tok, "admin123", 9, 2, "32b93f03fdffa28b90eb774c2332b336"},
      {"empty token and password", "", "", 0, 0, "853ae90f0351324bd73ea615e6487517"},
      {"short form of the empty password", "", "", 10, 0, "f9978c48f5db036d9a4f81f795f299b1"},
      {"60-character token", std::string(60, 't'), "p@ss,word", 0, 0, "4c636523516aa6a0a2c5d34e41eb6cd7"},
      {"60-character token, short", std::string(60, 't'), "p@ss,word", 0, 1, "b47c5a23bc3ffd7b6fdb71c2d3a5841a"},
  };
  for (const Case& c : cases) {
    char out[33];
    NPC_F_PVM_QXSP_MakeLoginDigest(c.token.c_str(), c.pwd.c_str(), c.clientFlag, c.loginMode, out);
    EXPECT_STREQ(out, c.digest) << c.what;
  }
}

TEST(QxspDigest, LoginKindByVersionAndCustomId) {
  struct Case {
    uint16_t version;
    const char* customId;
    int customNum;
    int kind;
  };
  const Case cases[] = {
      {0x0101, "sorvanet", 0, NPC_D_PVM_DP_QXSP_LOGIN_KIND_EMPTY_PWD},
      {0x0101, "sorvanet", 5, NPC_D_PVM_DP_QXSP_LOGIN_KIND_EMPTY_PWD},
      {0x0102, "sorvanet", 0, NPC_D_PVM_DP_QXSP_LOGIN_KIND_PLAIN},
      {0x0101, "rqvl", 0, NPC_D_PVM_DP_QXSP_LOGIN_KIND_PLAIN},
      {0x0101, "", 0, NPC_D_PVM_DP_QXSP_LOGIN_KIND_PLAIN},
      {0x0212, "", 3, NPC_D_PVM_DP_QXSP_LOGIN_KIND_PLAIN},
      {0x0213, "", 3, NPC_D_PVM_DP_QXSP_LOGIN_KIND_CUSTOM},
      {0x0214, "rqvl", 1, NPC_D_PVM_DP_QXSP_LOGIN_KIND_CUSTOM},
      {0x0213, "", 0, NPC_D_PVM_DP_QXSP_LOGIN_KIND_PLAIN},
      {0x0213, "", -1, NPC_D_PVM_DP_QXSP_LOGIN_KIND_PLAIN},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NPC_F_PVM_QXSP_ChooseLoginKind(c.version, c.customId, c.customNum), c.kind)
        << std::hex << c.version << " " << c.customId << " " << c.customNum;
  }
}

// ---------------------------------------------------------------------------------------------
// Framing.

TEST(QxspFrame, StartOfBufferedData) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    int result;
    int32_t len;
  };
  auto withLen = [](int32_t declared, size_t have) {
    std::vector<uint8_t> b = devPacket(0x0001, have < 20 ? 20 : have);
    b.resize(have);
    if (have >= 8) putU32(b, 4, static_cast<uint32_t>(declared));
    return b;
  };
  std::vector<uint8_t> badFlag = devPacket(0x0001, 52);
  badFlag[3] = 0xFE;
  std::vector<uint8_t> merged = devPacket(0x0001, 52);
  std::vector<uint8_t> second = devPacket(0x0101, 112);
  merged.insert(merged.end(), second.begin(), second.end());
  const Case cases[] = {
      {"nothing", {}, NPC_D_PVM_DP_QXSP_FRAME_NEED_MORE, 0},
      {"19 bytes", withLen(52, 19), NPC_D_PVM_DP_QXSP_FRAME_NEED_MORE, 0},
      {"head of a 52-byte packet", withLen(52, 20), NPC_D_PVM_DP_QXSP_FRAME_NEED_MORE, 0},
      {"one byte short", withLen(52, 51), NPC_D_PVM_DP_QXSP_FRAME_NEED_MORE, 0},
      {"whole", withLen(52, 52), NPC_D_PVM_DP_QXSP_FRAME_PACKET, 52},
      {"whole and more", merged, NPC_D_PVM_DP_QXSP_FRAME_PACKET, 52},
      {"head-only packet", withLen(20, 20), NPC_D_PVM_DP_QXSP_FRAME_PACKET, 20},
      {"wrong magic", badFlag, NPC_D_PVM_DP_QXSP_FRAME_BAD_FLAG, 0},
      {"length 19", withLen(19, 40), NPC_D_PVM_DP_QXSP_FRAME_BAD_LEN, 0},
      {"length 0", withLen(0, 40), NPC_D_PVM_DP_QXSP_FRAME_BAD_LEN, 0},
      {"length -1", withLen(-1, 40), NPC_D_PVM_DP_QXSP_FRAME_BAD_LEN, 0},
      {"length INT32_MIN", withLen(INT32_MIN, 40), NPC_D_PVM_DP_QXSP_FRAME_BAD_LEN, 0},
      {"huge length, little buffered", withLen(INT32_MAX, 4096), NPC_D_PVM_DP_QXSP_FRAME_NEED_MORE, 0},
  };
  for (const Case& c : cases) {
    int32_t len = -7;
    EXPECT_EQ(NPC_F_PVM_QXSP_FrameNext(c.bytes.empty() ? nullptr : c.bytes.data(), c.bytes.size(), &len), c.result)
        << c.what;
    if (c.result == NPC_D_PVM_DP_QXSP_FRAME_PACKET) {
      EXPECT_EQ(len, c.len) << c.what;
    }
  }
}

// The 10 MiB bound: an incomplete packet is given up once 10 485 760 bytes are buffered, and a
// packet of exactly that size that is complete is still a packet.
TEST(QxspFrame, TenMebibyteBound) {
  const size_t limit = static_cast<size_t>(NPC_D_PVM_DP_QXSP_MAX_RECV_LEN);
  std::vector<uint8_t> big = devPacket(0x0E01, limit + 1);
  int32_t len = 0;
  EXPECT_EQ(NPC_F_PVM_QXSP_FrameNext(big.data(), limit - 1, &len), NPC_D_PVM_DP_QXSP_FRAME_NEED_MORE);
  EXPECT_EQ(NPC_F_PVM_QXSP_FrameNext(big.data(), limit, &len), NPC_D_PVM_DP_QXSP_FRAME_TOO_LONG);
  putU32(big, 4, static_cast<uint32_t>(limit));
  EXPECT_EQ(NPC_F_PVM_QXSP_FrameNext(big.data(), limit, &len), NPC_D_PVM_DP_QXSP_FRAME_PACKET);
  EXPECT_EQ(len, static_cast<int32_t>(limit));
}

// ---------------------------------------------------------------------------------------------
// Session packets.

TEST(QxspSessionPackets, RequestsAsTheDeviceReadsThem) {
  uint8_t hb[52];
  NPC_F_PVM_QXSP_PutHeartbeat(hb);
  const uint8_t hbHead[20] = {0xEE, 0xEE, 0xFF, 0xFF, 52, 0, 0, 0, 0x01, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(memcmp(hb, hbHead, 20), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(hb + 20), 32), std::string(32, '0'));

  uint8_t vc[112];
  memset(vc, 0xAA, sizeof vc);
  NPC_F_PVM_QXSP_PutVerConsult(vc, NPC_D_PVM_DP_QXSP_OFFER_VERSIONS, NPC_D_PVM_DP_QXSP_OFFER_VERSION_NUM, 2);
  std::vector<uint8_t> want(112, 0);
  const uint8_t head[12] = {0xEE, 0xEE, 0xFF, 0xFF, 112, 0, 0, 0, 0x01, 0x01, 0, 0};
  memcpy(want.data(), head, sizeof head);
  const uint8_t versions[] = {0x01, 0x01, 0x02, 0x01, 0x03, 0x01, 0x01, 0x02};
  memcpy(want.data() + 20, versions, sizeof versions);
  want[44] = 4;
  want[109] = 2;
  EXPECT_EQ(std::vector<uint8_t>(vc, vc + 112), want);

  std::vector<uint8_t> login(548, 0xAA);
  NPC_F_PVM_QXSP_PutLogin(login.data(), std::string(40, 'u').c_str(), "0123456789abcdef0123456789abcdef");
  EXPECT_EQ(login[4], 0x24);  // 548
  EXPECT_EQ(login[5], 0x02);
  EXPECT_EQ(login[8], 0x02);
  EXPECT_EQ(login[9], 0x01);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(login.data() + 20)), std::string(31, 'u'));  // cut, NUL-padded
  EXPECT_EQ(std::string(reinterpret_cast<char*>(login.data() + 52)), "0123456789abcdef0123456789abcdef");
  EXPECT_EQ(login[84], 0);
  for (size_t i = 85; i < login.size(); ++i) ASSERT_EQ(login[i], 0) << i;

  const char data[] = "custom-login";
  std::vector<uint8_t> custom(556 + 12, 0xAA);
  NPC_F_PVM_QXSP_PutLoginCustom(custom.data(), "admin", "0123456789abcdef0123456789abcdef", 7, data, 12);
  EXPECT_EQ(custom[4] | custom[5] << 8, 568);
  EXPECT_EQ(custom[8], 0x05);
  EXPECT_EQ(custom[308], 7);
  EXPECT_EQ(custom[312], 12);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(custom.data() + 556), 12), "custom-login");
}

// Fixed-offset reads of device answers check the length first: a short answer yields its result
// byte and no fields.
TEST(QxspSessionPackets, VerConsultAnswerReadOnlyWhenWhole) {
  std::vector<uint8_t> a = devPacket(0x0101, 112);
  putU16(a, 46, 0x0214);
  const char token[] = "abc-token";
  memcpy(a.data() + 48, token, sizeof token);
  a[108] = 1;
  a[110] = 2;
  NPC_S_PVM_DP_QXSP_VER_CONSULT_RESP r;
  ASSERT_EQ(NPC_F_PVM_QXSP_ReadVerConsultResp(a.data(), a.size(), &r), 1);
  EXPECT_TRUE(r.bComplete);
  EXPECT_EQ(r.usProVersion, 0x0214);
  EXPECT_STREQ(r.sToken, "abc-token");
  EXPECT_EQ(r.ucLoginMode, 1);
  EXPECT_EQ(r.ucEncType, 2);

  // A token that fills its 60 bytes without a NUL is cut at the field, never read beyond.
  memset(a.data() + 48, 'T', 60);
  ASSERT_EQ(NPC_F_PVM_QXSP_ReadVerConsultResp(a.data(), a.size(), &r), 1);
  EXPECT_EQ(std::string(r.sToken), std::string(60, 'T'));

  std::vector<uint8_t> shortOne = devPacket(0x0101, 111, 3);
  ASSERT_EQ(NPC_F_PVM_QXSP_ReadVerConsultResp(shortOne.data(), shortOne.size(), &r), 1);
  EXPECT_FALSE(r.bComplete);
  EXPECT_EQ(r.ucResult, 3);
  EXPECT_EQ(r.usProVersion, 0);
  EXPECT_EQ(NPC_F_PVM_QXSP_ReadVerConsultResp(shortOne.data(), 19, &r), 0);
}

TEST(QxspSessionPackets, LoginAnswerFieldsPlainAndCustom) {
  for (bool custom : {false, true}) {
    const size_t shift = custom ? 8 : 0;
    std::vector<uint8_t> a = devPacket(custom ? 0x0105 : 0x0102, 548 + shift);
    putU32(a, 308 + shift, 0xCAFE0001u);
    memcpy(a.data() + 312 + shift, "V2.14.01", 8);  // fills its 8 bytes
    memcpy(a.data() + 320 + shift, "text-two", 8);
    memset(a.data() + 488 + shift, 'z', 24);  // the seventh text up to the capability bytes
    for (int i = 0; i < 8; ++i) a[512 + shift + i] = static_cast<uint8_t>(i + 1);
    putU32(a, 520 + shift, 4);
    putU32(a, 536 + shift, 11);
    putU32(a, 540 + shift, 12);
    putU32(a, 544 + shift, 13);
    NPC_S_PVM_DP_QXSP_LOGIN_RESP r;
    ASSERT_EQ(NPC_F_PVM_QXSP_ReadLoginResp(a.data(), a.size(), custom, &r), 1);
    EXPECT_TRUE(r.bComplete) << custom;
    EXPECT_EQ(r.dwLoginId, 0xCAFE0001u);
    EXPECT_STREQ(r.sText1, "V2.14.01");
    EXPECT_STREQ(r.sText2, "text-two");
    EXPECT_EQ(std::string(r.sText7), std::string(24, 'z'));
    EXPECT_EQ(r.ucAbility[3], 4);
    EXPECT_EQ(r.ucChannelInfo[0], 4);
    EXPECT_EQ(r.dwValue[0], 11u);
    EXPECT_EQ(r.dwValue[2], 13u);

    // One byte short of the last field: the fields are not read.
    NPC_S_PVM_DP_QXSP_LOGIN_RESP s;
    ASSERT_EQ(NPC_F_PVM_QXSP_ReadLoginResp(a.data(), a.size() - 1, custom, &s), 1);
    EXPECT_FALSE(s.bComplete);
    EXPECT_EQ(s.dwLoginId, 0u);
  }
  // A plain-length answer read as a custom one is short.
  std::vector<uint8_t> plain = devPacket(0x0105, 548, 0);
  NPC_S_PVM_DP_QXSP_LOGIN_RESP r;
  ASSERT_EQ(NPC_F_PVM_QXSP_ReadLoginResp(plain.data(), plain.size(), true, &r), 1);
  EXPECT_FALSE(r.bComplete);
}

// ---------------------------------------------------------------------------------------------
// Result translations.

TEST(QxspResult, DeviceResultCodes) {
  struct Case {
    int device;
    int code;
    const char* text;
  };
  const Case cases[] = {
      {0, 0, "success"},
      {1, 1001, "system error"},
      {2, 2002, "pro param error"},
      {3, 2003, "username error"},
      {4, 2004, "pwd error"},
      {5, 2005, "without permission"},
      {6, 2006, "未登录"},
      {7, 2007, "talking"},
      {8, 2008, "query file fail"},
      {9, 2009, "no subscribe"},
      {10, 2010, "no subscribe"},
      {11, 2011, "resource not open"},
      {12, 2013, "resource no idle"},
      {13, 2014, "resource not exist"},
      {14, 2015, "resource open fail"},
      {15, 2023, "file op fail"},
      {16, 1009, "other error, error codes: 16"},
      {40, 2016, "not support op"},
      {41, 2017, "not support op"},
      {42, 2024, "msgfunc error"},
      {43, 2025, "ID error"},
      {50, 2018, "open stream fail"},
      {51, 2019, "not support substream"},
      {52, 2020, "not support "},
      {53, 2021, "not support force i frame"},
      {54, 2022, "not support talk"},
      {55, 2026, "channel no error"},
      {56, 2027, "sub stream no error"},
      {57, 2028, "start talk fail"},
      {99, 1009, "other error"},
      {149, 1009, "other error, error codes: 149"},
      {150, 6150, "Custom error codes: 150"},
      {165, 6165, "Custom error codes: 165"},
      {179, 6179, "Custom error codes: 179"},
      {180, 1009, "other error, error codes: 180"},
      {200, 2012, "success and restart"},
      {255, 1009, "other error, error codes: 255"},
  };
  for (const Case& c : cases) {
    char text[64];
    EXPECT_EQ(NPC_F_PVM_QXSP_TransProErrorCode(static_cast<uint8_t>(c.device), sizeof text, text), c.code)
        << c.device;
    EXPECT_STREQ(text, c.text) << c.device;
  }
  // A small buffer gets a cut, terminated text.
  char tiny[4];
  EXPECT_EQ(NPC_F_PVM_QXSP_TransProErrorCode(165, sizeof tiny, tiny), 6165);
  EXPECT_STREQ(tiny, "Cus");
}

TEST(QxspResult, LoginResultByVersion) {
  struct Case {
    uint16_t version;
    int result;
    int code;
    const char* text;
  };
  const Case cases[] = {
      {0x0214, 0, 0, ""},
      {0x0103, 1, 1001, "Login Fail, Reason: System Error."},
      {0x0103, 2, 2002, "Login Fail, Reason: Protocal Param Error."},
      {0x0201, 3, 2003, "Login Fail, Reason: User Name Error."},
      {0x0201, 4, 2004, "Login Fail, Reason: Pwd Error."},
      {0x0201, 5, 2005, "Login Fail, Reason: Without Permission."},
      {0x0201, 6, 1009, "Login Fail, Failure Code: 6."},
      {0x0102, 4, 1009, "登录失败1，失败码为：4."},
      {0x0101, 1, 1009, "登录失败1，失败码为：1."},
      {0x0101, 0, 0, ""},
  };
  for (const Case& c : cases) {
    char text[128];
    EXPECT_EQ(NPC_F_PVM_QXSP_TransLoginResult(c.version, static_cast<uint8_t>(c.result), text, sizeof text), c.code)
        << std::hex << c.version << " " << c.result;
    EXPECT_STREQ(text, c.text);
  }
}

TEST(QxspNames, MessageNumbers) {
  EXPECT_STREQ(NPC_F_PVM_QXSP_GetMsgName(0x0001), "P0_HEARTBEAT");
  EXPECT_STREQ(NPC_F_PVM_QXSP_GetMsgName(0x0105), "P1_LOGIN_CUSTOM");
  EXPECT_STREQ(NPC_F_PVM_QXSP_GetMsgName(0x0E02), "PE_AUDIO_FRAME");
  EXPECT_EQ(NPC_F_PVM_QXSP_GetMsgName(0x0106), nullptr);
  EXPECT_STREQ(NPC_F_PVM_QXSP_GetResultOnlyOpName(0x0203), "云台控制");
  EXPECT_STREQ(NPC_F_PVM_QXSP_GetResultOnlyOpName(0x0B03), "停止设备");
  EXPECT_EQ(NPC_F_PVM_QXSP_GetResultOnlyOpName(0x0201), nullptr);
}

}  // namespace
