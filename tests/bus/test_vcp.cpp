// Connect-parameter strings: the parser's skipping rules, the lookups, the builder's limits,
// and every family's exact output, read-back, required and optional pairs and text limits.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bus/vcp.h"

namespace {

using Set = NPC_S_MPI_MON_VCP_PARAM_SET;

// Parsed sets are large; keep them off the test's stack.
std::unique_ptr<Set> parse(const std::string& text) {
  auto set = std::make_unique<Set>();
  EXPECT_EQ(NPC_F_MPI_MON_VCP_ParseConnParam(text.c_str(), set.get()), 1);
  return set;
}

std::string textOf(const Set& set, int id) {
  char buf[NPC_D_MPI_MON_VCP_VALUE_MAX_LEN + 1];
  if (!NPC_F_MPI_MON_VCP_GetParamText(&set, id, buf, sizeof buf)) return "<missing>";
  return buf;
}

// ---- Parser and lookups ----

TEST(Vcp, NameTable) {
  const struct {
    int id;
    const char* name;
  } named[] = {{0, "VendorId"}, {1, "DevIp"},     {2, "DevPort"},  {3, "DevUserName"}, {4, "DevUserPwd"},
               {5, "DevChNo"},  {6, "DevId"},     {7, "DevStreamNo"}, {8, "RtspUrl"},  {9, "SipUrl"},
               {10, "HttpUrl"}, {11, "ExtParam1"}, {12, "ExtParam2"}, {13, "ExtParam3"}, {14, "ExtParam4"}};
  for (const auto& n : named) {
    ASSERT_NE(NPC_F_MPI_MON_VCP_GetParamName(n.id), nullptr);
    EXPECT_STREQ(NPC_F_MPI_MON_VCP_GetParamName(n.id), n.name);
    EXPECT_EQ(NPC_F_MPI_MON_VCP_GetParamIdByName(n.name), n.id);
  }
  for (int id : {15, 30, 49, 50, -1}) EXPECT_EQ(NPC_F_MPI_MON_VCP_GetParamName(id), nullptr) << id;
  for (const char* unknown : {"vendorid", "DevIP", "ExtParam5", "", "VendorId "}) {
    EXPECT_EQ(NPC_F_MPI_MON_VCP_GetParamIdByName(unknown), -1) << unknown;
  }
}

struct ParseCase {
  const char* what;
  std::string text;
  int pairs;                      // pairs kept
  int id;                         // a slot to look up
  const char* value;              // its first value, or "<missing>"
};

TEST(Vcp, ParserKeepsAndSkipsPairs) {
  const std::string v511(511, 'p'), v512(512, 'p'), longName(64, 'N');
  const ParseCase cases[] = {
      {"unknown name in the middle", "VendorId=1009,Colour=red,DevChNo=3", 2, 5, "3"},
      {"value of 511 kept", "DevUserPwd=" + v511, 1, 4, v511.c_str()},
      {"value of 512 skipped", "DevUserPwd=" + v512 + ",DevChNo=1", 1, 4, "<missing>"},
      {"name over 63 skipped", longName + "=1,DevChNo=4", 1, 5, "4"},
      {"first of two wins", "DevChNo=1,DevChNo=2", 2, 5, "1"},
      {"piece without = skipped alone", "garbage,DevIp=10.0.0.1", 1, 1, "10.0.0.1"},
      {"empty value present", "DevIp=,DevChNo=0", 2, 1, ""},
      {"value may hold =", "DevUserPwd=a=b", 1, 4, "a=b"},
      {"empty pieces", ",,DevChNo=5,", 1, 5, "5"},
      {"empty text", "", 0, 0, "<missing>"},
      {"name is case-sensitive", "devchno=5", 0, 5, "<missing>"},
  };
  for (const ParseCase& c : cases) {
    auto set = parse(c.text);
    EXPECT_EQ(set->iParamNum, c.pairs) << c.what;
    EXPECT_EQ(textOf(*set, c.id), c.value) << c.what;
  }
}

TEST(Vcp, ParserReadsAtMost1023CharactersAnd50Pairs) {
  // DevChNo's value starts at 1019 and is cut after 1023 characters; DevId lies wholly beyond.
  std::string text = "DevUserPwd=" + std::string(500, 'a') + ",RtspUrl=" + std::string(490, 'b');
  ASSERT_EQ(text.size(), 1010u);
  text += ",DevChNo=123456789,DevId=X";
  auto set = parse(text);
  EXPECT_EQ(textOf(*set, NPC_D_MPI_MON_VCP_PARAM_DEV_CH_NO), "1234");
  EXPECT_EQ(textOf(*set, NPC_D_MPI_MON_VCP_PARAM_DEV_ID), "<missing>");

  std::string many;
  for (int i = 0; i < 51; ++i) many += "DevChNo=" + std::to_string(i) + ",";
  many += "DevId=Z";
  auto full = parse(many);
  EXPECT_EQ(full->iParamNum, 50);
  EXPECT_EQ(textOf(*full, NPC_D_MPI_MON_VCP_PARAM_DEV_ID), "<missing>");

  EXPECT_EQ(NPC_F_MPI_MON_VCP_ParseConnParam(nullptr, full.get()), 0);
  EXPECT_EQ(NPC_F_MPI_MON_VCP_ParseConnParam("DevChNo=1", nullptr), 0);
}

TEST(Vcp, NumberLookupReadsLikeAtoiWithoutOverflow) {
  const struct {
    const char* value;
    int want;
  } cases[] = {{"8000", 8000},        {" 12abc", 12},          {"abc", 0},         {"", 0},
               {"-7", -7},            {"+9", 9},               {"2147483647", INT_MAX},
               {"99999999999", INT_MAX}, {"-2147483648", INT_MIN}, {"-99999999999", INT_MIN}};
  for (const auto& c : cases) {
    auto set = parse(std::string("DevPort=") + c.value);
    int v = 12345;
    EXPECT_EQ(NPC_F_MPI_MON_VCP_GetParamInt(set.get(), NPC_D_MPI_MON_VCP_PARAM_DEV_PORT, &v), 1) << c.value;
    EXPECT_EQ(v, c.want) << c.value;
  }
  auto set = parse("DevIp=abcdefg");
  int untouched = 77;
  EXPECT_EQ(NPC_F_MPI_MON_VCP_GetParamInt(set.get(), NPC_D_MPI_MON_VCP_PARAM_DEV_PORT, &untouched), 0);
  EXPECT_EQ(untouched, 77);
  char small[4];
  EXPECT_EQ(NPC_F_MPI_MON_VCP_GetParamText(set.get(), NPC_D_MPI_MON_VCP_PARAM_DEV_IP, small, sizeof small), 1);
  EXPECT_STREQ(small, "abc");  // cut to the caller's buffer
}

// ---- Builder ----

// General's fixed part around a 7-character address is 69 characters; user and password fill
// the rest up to the 992 the builder allows (1024 less the 32 it keeps free).
TEST(Vcp, BuilderKeeps32CharactersFree) {
  char out[NPC_D_MPI_MON_VCP_CONN_PARAM_SIZE];
  const std::string user(500, 'u');
  for (size_t pwdLen : {423u, 424u}) {
    memset(out, 'Z', sizeof out);
    const std::string pwd(pwdLen, 'p');
    const int ok =
        NPC_F_MPI_MON_VCP_General_SetConnParam(out, sizeof out, 1, "1.2.3.4", 1, user.c_str(), pwd.c_str(), 1);
    if (pwdLen == 423) {
      ASSERT_EQ(ok, 1);
      EXPECT_EQ(strlen(out), 992u);
    } else {
      EXPECT_EQ(ok, 0);
      EXPECT_EQ(out[0], 'Z');  // nothing written
    }
  }
}

TEST(Vcp, BuilderRefusesTextsThatWouldNotReadBack) {
  NPC_S_MPI_MON_VCP_BUILDER b;
  const std::string v511(511, 'x'), v512(512, 'x');
  const struct {
    const char* what;
    int id;
    const char* text;
    int ok;
  } cases[] = {{"511 characters", NPC_D_MPI_MON_VCP_PARAM_DEV_USER_PWD, v511.c_str(), 1},
               {"512 characters", NPC_D_MPI_MON_VCP_PARAM_DEV_USER_PWD, v512.c_str(), 0},
               {"comma", NPC_D_MPI_MON_VCP_PARAM_DEV_IP, "a,b", 0},
               {"null text", NPC_D_MPI_MON_VCP_PARAM_DEV_IP, nullptr, 0},
               {"unnamed slot", 20, "x", 0},
               {"empty text", NPC_D_MPI_MON_VCP_PARAM_DEV_IP, "", 1}};
  for (const auto& c : cases) {
    NPC_F_MPI_MON_VCP_InitBuilder(&b);
    EXPECT_EQ(NPC_F_MPI_MON_VCP_AddParamText(&b, c.id, c.text), c.ok) << c.what;
    char out[1024] = "untouched";
    EXPECT_EQ(NPC_F_MPI_MON_VCP_CopyOut(&b, out, sizeof out), c.ok) << c.what;
    if (!c.ok) {
      EXPECT_STREQ(out, "untouched") << c.what;
    }
  }
  // A refused pair spoils the builder: later pairs do not revive it.
  NPC_F_MPI_MON_VCP_InitBuilder(&b);
  EXPECT_EQ(NPC_F_MPI_MON_VCP_AddParamText(&b, NPC_D_MPI_MON_VCP_PARAM_DEV_IP, "a,b"), 0);
  EXPECT_EQ(NPC_F_MPI_MON_VCP_AddParamInt(&b, NPC_D_MPI_MON_VCP_PARAM_DEV_CH_NO, 1), 0);
  char out[1024];
  EXPECT_EQ(NPC_F_MPI_MON_VCP_CopyOut(&b, out, sizeof out), 0);
  // A buffer too small for the string takes nothing.
  NPC_F_MPI_MON_VCP_InitBuilder(&b);
  NPC_F_MPI_MON_VCP_AddParamInt(&b, NPC_D_MPI_MON_VCP_PARAM_DEV_CH_NO, 12);  // "DevChNo=12": 10 characters
  char small[10] = "untouched";
  EXPECT_EQ(NPC_F_MPI_MON_VCP_CopyOut(&b, small, sizeof small), 0);
  EXPECT_STREQ(small, "untouched");
  char exact[11];
  EXPECT_EQ(NPC_F_MPI_MON_VCP_CopyOut(&b, exact, sizeof exact), 1);
  EXPECT_STREQ(exact, "DevChNo=12");
}

// ---- Families ----

// Each family is driven through one setter call and one getter call that prints what it read
// ("FAIL" when the getter refuses), so the cases below are pure data.
struct Family {
  const char* name;
  std::function<int(char*, size_t)> set;
  std::function<std::string(const char*)> get;
  const char* built;  // the setter's exact string
  const char* read;   // the getter's outputs for that string
};

std::string join(std::initializer_list<std::string> parts) {
  std::string s;
  for (const std::string& p : parts) s += (s.empty() ? "" : "|") + p;
  return s;
}
std::string str(int v) { return std::to_string(v); }

const std::vector<Family>& families() {
  static const std::vector<Family> all = {
      {"General",
       [](char* o, size_t n) { return NPC_F_MPI_MON_VCP_General_SetConnParam(o, n, 1009, "192.168.1.10", 8000, "admin", "pw", 2); },
       [](const char* t) {
         int v = -1, port = -1, ch = -1;
         char a[128] = "?", u[64] = "?", p[64] = "?";
         if (!NPC_F_MPI_MON_VCP_General_GetConnParam(t, &v, a, sizeof a, &port, u, sizeof u, p, sizeof p, &ch)) return std::string("FAIL");
         return join({str(v), a, str(port), u, p, str(ch)});
       },
       "VendorId=1009,DevIp=192.168.1.10,DevPort=8000,DevUserName=admin,DevUserPwd=pw,DevChNo=2",
       "1009|192.168.1.10|8000|admin|pw|2"},
      {"GeneralEx",
       [](char* o, size_t n) { return NPC_F_MPI_MON_VCP_General_SetConnParamEx(o, n, 2060, "cam.local", 34567, "u", "", 1, 1); },
       [](const char* t) {
         int v = -1, port = -1, ch = -1, st = -1;
         char a[128] = "?", u[64] = "?", p[64] = "?";
         if (!NPC_F_MPI_MON_VCP_General_GetConnParamEx(t, &v, a, sizeof a, &port, u, sizeof u, p, sizeof p, &ch, &st)) return std::string("FAIL");
         return join({str(v), a, str(port), u, p, str(ch), str(st)});
       },
       "VendorId=2060,DevIp=cam.local,DevPort=34567,DevUserName=u,DevUserPwd=,DevChNo=1,DevStreamNo=1",
       "2060|cam.local|34567|u||1|1"},
      {"P2PGeneral",
       [](char* o, size_t n) { return NPC_F_MPI_MON_VCP_P2PGeneral_SetConnParam(o, n, 1009, "QX0012345", "", 0, "admin", "secret", 0, 1); },
       [](const char* t) {
         int v = -1, port = -1, ch = -1, st = -1;
         char d[64] = "?", a[128] = "?", u[64] = "?", p[64] = "?";
         if (!NPC_F_MPI_MON_VCP_P2PGeneral_GetConnParam(t, &v, d, sizeof d, a, sizeof a, &port, u, sizeof u, p, sizeof p, &ch, &st)) return std::string("FAIL");
         return join({str(v), d, a, str(port), u, p, str(ch), str(st)});
       },
       "VendorId=1009,DevId=QX0012345,DevIp=,DevPort=0,DevUserName=admin,DevUserPwd=secret,DevChNo=0,DevStreamNo=1",
       "1009|QX0012345||0|admin|secret|0|1"},
      {"HKSP",
       [](char* o, size_t n) { return NPC_F_MPI_MON_VCP_HKSP_SetConnParam(o, n, "10.0.0.2", 8000, "admin", "12345", 3); },
       [](const char* t) {
         int port = -1, ch = -1;
         char a[128] = "?", u[64] = "?", p[64] = "?";
         if (!NPC_F_MPI_MON_VCP_HKSP_GetConnParam(t, a, sizeof a, &port, u, sizeof u, p, sizeof p, &ch)) return std::string("FAIL");
         return join({a, str(port), u, p, str(ch)});
       },
       "VendorId=1005,DevIp=10.0.0.2,DevPort=8000,DevUserName=admin,DevUserPwd=12345,DevChNo=3",
       "10.0.0.2|8000|admin|12345|3"},
      {"CDSB",
       [](char* o, size_t n) { return NPC_F_MPI_MON_VCP_CDSB_SetConnParam(o, n, "10.0.0.3", 9000, "root", "pass", 0); },
       [](const char* t) {
         int port = -1, ch = -1;
         char a[128] = "?", u[128] = "?", p[128] = "?";
         if (!NPC_F_MPI_MON_VCP_CDSB_GetConnParam(t, a, sizeof a, &port, u, sizeof u, p, sizeof p, &ch)) return std::string("FAIL");
         return join({a, str(port), u, p, str(ch)});
       },
       "VendorId=2080,DevIp=10.0.0.3,DevPort=9000,DevUserName=root,DevUserPwd=pass,DevChNo=0",
       "10.0.0.3|9000|root|pass|0"},
      {"FCAM",
       [](char* o, size_t n) { return NPC_F_MPI_MON_VCP_FCAM_SetConnParam(o, n, "fcam.example", 4); },
       [](const char* t) {
         int ch = -1;
         char a[128] = "?";
         if (!NPC_F_MPI_MON_VCP_FCAM_GetConnParam(t, a, sizeof a, &ch)) return std::string("FAIL");
         return join({a, str(ch)});
       },
       "VendorId=1006,DevIp=fcam.example,DevChNo=4", "fcam.example|4"},
      {"HMCP",
       [](char* o, size_t n) { return NPC_F_MPI_MON_VCP_HMCP_SetConnParam(o, n, "10.0.0.4", 5000, "a", "b", 1); },
       [](const char* t) {
         int port = -1, ch = -1;
         char a[128] = "?", u[128] = "?", p[128] = "?";
         if (!NPC_F_MPI_MON_VCP_HMCP_GetConnParam(t, a, sizeof a, &port, u, sizeof u, p, sizeof p, &ch)) return std::string("FAIL");
         return join({a, str(port), u, p, str(ch)});
       },
       "VendorId=1006,DevIp=10.0.0.4,DevPort=5000,DevUserName=a,DevUserPwd=b,DevChNo=1", "10.0.0.4|5000|a|b|1"},
      {"OWSP",
       [](char* o, size_t n) { return NPC_F_MPI_MON_VCP_OWSP_SetConnParam(o, n, 77, 2); },
       [](const char* t) {
         int d = -1, ch = -1;
         if (!NPC_F_MPI_MON_VCP_OWSP_GetConnParam(t, &d, &ch)) return std::string("FAIL");
         return join({str(d), str(ch)});
       },
       "VendorId=1004,DevId=77,DevChNo=2", "77|2"},
      {"HDTP",
       [](char* o, size_t n) { return NPC_F_MPI_MON_VCP_HDTP_SetConnParam(o, n, "HD-1", "pw", 5); },
       [](const char* t) {
         int ch = -1;
         char d[64] = "?", p[64] = "?";
         if (!NPC_F_MPI_MON_VCP_HDTP_GetConnParam(t, d, sizeof d, p, sizeof p, &ch)) return std::string("FAIL");
         return join({d, p, str(ch)});
       },
       "VendorId=1008,DevId=HD-1,DevUserPwd=pw,DevChNo=5", "HD-1|pw|5"},
      {"HDTPEx",
       [](char* o, size_t n) { return NPC_F_MPI_MON_VCP_HDTP_SetConnParamEx(o, n, "HD-2", "guest", "pw", 6, 1); },
       [](const char* t) {
         int ch = -1, st = -1;
         char d[64] = "?", u[64] = "?", p[64] = "?";
         if (!NPC_F_MPI_MON_VCP_HDTP_GetConnParamEx(t, d, sizeof d, u, sizeof u, p, sizeof p, &ch, &st)) return std::string("FAIL");
         return join({d, u, p, str(ch), str(st)});
       },
       "VendorId=1008,DevId=HD-2,DevUserName=guest,DevUserPwd=pw,DevChNo=6,DevStreamNo=1", "HD-2|guest|pw|6|1"},
      {"SHTL",
       [](char* o, size_t n) { return NPC_F_MPI_MON_VCP_SHTL_SetConnParam(o, n, "10.0.0.5", 7000, "u", "p", 2, "SH-9"); },
       [](const char* t) {
         int port = -1, ch = -1;
         char a[128] = "?", u[128] = "?", p[128] = "?", d[64] = "?";
         if (!NPC_F_MPI_MON_VCP_SHTL_GetConnParam(t, a, sizeof a, &port, u, sizeof u, p, sizeof p, &ch, d, sizeof d)) return std::string("FAIL");
         return join({a, str(port), u, p, str(ch), d});
       },
       "VendorId=2110,DevIp=10.0.0.5,DevPort=7000,DevUserName=u,DevUserPwd=p,DevChNo=2,DevId=SH-9",
       "10.0.0.5|7000|u|p|2|SH-9"},
      {"HKPU",
       [](char* o, size_t n) { return NPC_F_MPI_MON_VCP_HKPU_SetConnParam(o, n, "PU-1", 8); },
       [](const char* t) {
         int ch = -1;
         char d[64] = "?";
         if (!NPC_F_MPI_MON_VCP_HKPU_GetConnParam(t, d, sizeof d, &ch)) return std::string("FAIL");
         return join({d, str(ch)});
       },
       "VendorId=2011,DevId=PU-1,DevChNo=8", "PU-1|8"},
      {"EPMY",
       [](char* o, size_t n) { return NPC_F_MPI_MON_VCP_EPMY_SetConnParam(o, n, "EP-1", 1, "192.168.0.20", 554, 0, 20001); },
       [](const char* t) {
         int e1 = -1, port = -1, e2 = -1, e3 = -1;
         char d[64] = "?", a[128] = "?";
         if (!NPC_F_MPI_MON_VCP_EPMY_GetConnParam(t, d, sizeof d, &e1, a, sizeof a, &port, &e2, &e3)) return std::string("FAIL");
         return join({d, str(e1), a, str(port), str(e2), str(e3)});
       },
       "VendorId=1010,DevId=EP-1,DevIp=192.168.0.20,DevPort=554,ExtParam1=1,ExtParam2=0,ExtParam3=20001",
       "EP-1|1|192.168.0.20|554|0|20001"},
      {"EPMY by channel",
       [](char* o, size_t n) { return NPC_F_MPI_MON_VCP_EPMY_SetConnParam(o, n, "EP-2", 0, nullptr, 0, 3, 20002); },
       [](const char* t) {
         int e1 = -1, port = -1, e2 = -1, e3 = -1;
         char d[64] = "?", a[128] = "?";
         if (!NPC_F_MPI_MON_VCP_EPMY_GetConnParam(t, d, sizeof d, &e1, a, sizeof a, &port, &e2, &e3)) return std::string("FAIL");
         return join({d, str(e1), a, str(port), str(e2), str(e3)});
       },
       "VendorId=1010,DevId=EP-2,DevIp=,DevPort=0,ExtParam1=0,ExtParam2=3,ExtParam3=20002", "EP-2|0||0|3|20002"},
      {"SZLC",
       [](char* o, size_t n) { return NPC_F_MPI_MON_VCP_SZLC_SetConnParam(o, n, "LC-1", 0); },
       [](const char* t) {
         int ch = -1;
         char d[64] = "?";
         if (!NPC_F_MPI_MON_VCP_SZLC_GetConnParam(t, d, sizeof d, &ch)) return std::string("FAIL");
         return join({d, str(ch)});
       },
       "VendorId=2120,DevId=LC-1,DevChNo=0", "LC-1|0"},
  };
  return all;
}

const Family& family(const std::string& name) {
  for (const Family& f : families()) {
    if (name == f.name) return f;
  }
  ADD_FAILURE() << "no family " << name;
  return families().front();
}

TEST(VcpFamilies, SettersWriteTheExactPairsAndGettersReadThemBack) {
  for (const Family& f : families()) {
    char out[NPC_D_MPI_MON_VCP_CONN_PARAM_SIZE];
    ASSERT_EQ(f.set(out, sizeof out), 1) << f.name;
    EXPECT_STREQ(out, f.built) << f.name;
    EXPECT_EQ(f.get(out), f.read) << f.name;
    EXPECT_EQ(f.get(""), "FAIL") << f.name;
  }
}

// Removes the pair of one name from a built string.
std::string without(const std::string& text, const std::string& name) {
  std::string out;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t comma = text.find(',', pos);
    if (comma == std::string::npos) comma = text.size();
    const std::string piece = text.substr(pos, comma - pos);
    if (piece.compare(0, name.size() + 1, name + "=") != 0) out += (out.empty() ? "" : ",") + piece;
    pos = comma + 1;
  }
  return out;
}

TEST(VcpFamilies, RequiredAndOptionalPairs) {
  const struct {
    const char* family;
    const char* dropped;
    const char* read;  // "FAIL" when the pair is required
  } cases[] = {
      {"General", "VendorId", "FAIL"},
      {"General", "DevIp", "FAIL"},
      {"General", "DevPort", "FAIL"},
      {"General", "DevUserName", "FAIL"},
      {"General", "DevUserPwd", "FAIL"},
      {"General", "DevChNo", "FAIL"},
      {"GeneralEx", "DevStreamNo", "2060|cam.local|34567|u||1|0"},
      {"GeneralEx", "DevUserPwd", "FAIL"},
      {"P2PGeneral", "DevId", "1009|||0|admin|secret|0|1"},
      {"P2PGeneral", "DevStreamNo", "1009|QX0012345||0|admin|secret|0|0"},
      {"P2PGeneral", "DevIp", "FAIL"},
      {"P2PGeneral", "VendorId", "FAIL"},
      {"HKSP", "VendorId", "10.0.0.2|8000|admin|12345|3"},  // the family fixes the vendor
      {"HKSP", "DevPort", "FAIL"},
      {"CDSB", "DevUserName", "FAIL"},
      {"FCAM", "DevIp", "FAIL"},
      {"HMCP", "DevChNo", "FAIL"},
      {"OWSP", "DevId", "FAIL"},
      {"HDTP", "DevUserPwd", "FAIL"},
      {"HDTPEx", "DevUserName", "HD-2|admin|pw|6|1"},
      {"HDTPEx", "DevStreamNo", "HD-2|guest|pw|6|0"},
      {"HDTPEx", "DevId", "FAIL"},
      {"SHTL", "DevId", "FAIL"},
      {"HKPU", "DevChNo", "FAIL"},
      {"EPMY", "DevIp", "EP-1|1||554|0|20001"},
      {"EPMY", "ExtParam3", "FAIL"},
      {"EPMY", "DevPort", "FAIL"},
      {"SZLC", "DevId", "FAIL"},
  };
  for (const auto& c : cases) {
    const Family& f = family(c.family);
    const std::string text = without(f.built, c.dropped);
    ASSERT_NE(text, f.built) << c.family << " has no " << c.dropped;
    EXPECT_EQ(f.get(text.c_str()), c.read) << c.family << " without " << c.dropped;
  }
}

TEST(VcpFamilies, GetterFailureLeavesOutputsUntouched) {
  int v = -1, port = -1, ch = -1;
  char a[16] = "keep", u[16] = "keep", p[16] = "keep";
  EXPECT_EQ(NPC_F_MPI_MON_VCP_General_GetConnParam("VendorId=1,DevIp=x,DevPort=2,DevUserName=y,DevChNo=3", &v, a,
                                                   sizeof a, &port, u, sizeof u, p, sizeof p, &ch),
            0);
  EXPECT_EQ(v, -1);
  EXPECT_STREQ(a, "keep");
  EXPECT_EQ(port, -1);
  EXPECT_EQ(NPC_F_MPI_MON_VCP_General_GetConnParam(nullptr, &v, a, sizeof a, &port, u, sizeof u, p, sizeof p, &ch), 0);
  // Outputs the caller does not want may be null; required pairs are still required.
  EXPECT_EQ(NPC_F_MPI_MON_VCP_P2PGeneral_GetConnParam(family("P2PGeneral").built, nullptr, nullptr, 0, a, sizeof a,
                                                      &port, nullptr, 0, nullptr, 0, nullptr, nullptr),
            1);
  EXPECT_STREQ(a, "");
  EXPECT_EQ(port, 0);
}

// The case the issue names: a 512-character password is skipped, so General then fails.
TEST(VcpFamilies, OverlongPasswordMakesGeneralFail) {
  const std::string text =
      "VendorId=1009,DevIp=1.2.3.4,DevPort=80,DevUserName=admin,DevUserPwd=" + std::string(512, 'p') + ",DevChNo=1";
  EXPECT_EQ(family("General").get(text.c_str()), "FAIL");
}

// A comma in any text argument fails the setter and leaves the caller's buffer as it was.
TEST(VcpFamilies, CommaInAnyTextFailsAndWritesNothing) {
  const std::vector<std::pair<const char*, std::function<int(char*, size_t)>>> calls = {
      {"General user", [](char* o, size_t n) { return NPC_F_MPI_MON_VCP_General_SetConnParam(o, n, 1, "a", 1, "ad,min", "p", 1); }},
      {"General addr", [](char* o, size_t n) { return NPC_F_MPI_MON_VCP_General_SetConnParam(o, n, 1, "a,b", 1, "u", "p", 1); }},
      {"GeneralEx pwd", [](char* o, size_t n) { return NPC_F_MPI_MON_VCP_General_SetConnParamEx(o, n, 1, "a", 1, "u", ",", 1, 0); }},
      {"P2PGeneral devId", [](char* o, size_t n) { return NPC_F_MPI_MON_VCP_P2PGeneral_SetConnParam(o, n, 1, "d,", "", 0, "u", "p", 0, 0); }},
      {"HKSP pwd", [](char* o, size_t n) { return NPC_F_MPI_MON_VCP_HKSP_SetConnParam(o, n, "a", 1, "u", "p,w", 1); }},
      {"CDSB user", [](char* o, size_t n) { return NPC_F_MPI_MON_VCP_CDSB_SetConnParam(o, n, "a", 1, ",u", "p", 1); }},
      {"FCAM addr", [](char* o, size_t n) { return NPC_F_MPI_MON_VCP_FCAM_SetConnParam(o, n, "a,", 1); }},
      {"HMCP addr", [](char* o, size_t n) { return NPC_F_MPI_MON_VCP_HMCP_SetConnParam(o, n, "a,b", 1, "u", "p", 1); }},
      {"HDTP devId", [](char* o, size_t n) { return NPC_F_MPI_MON_VCP_HDTP_SetConnParam(o, n, "d,1", "p", 1); }},
      {"HDTPEx user", [](char* o, size_t n) { return NPC_F_MPI_MON_VCP_HDTP_SetConnParamEx(o, n, "d", "u,", "p", 1, 0); }},
      {"SHTL devId", [](char* o, size_t n) { return NPC_F_MPI_MON_VCP_SHTL_SetConnParam(o, n, "a", 1, "u", "p", 1, "d,"); }},
      {"HKPU devId", [](char* o, size_t n) { return NPC_F_MPI_MON_VCP_HKPU_SetConnParam(o, n, ",", 1); }},
      {"EPMY addr", [](char* o, size_t n) { return NPC_F_MPI_MON_VCP_EPMY_SetConnParam(o, n, "d", 1, "1,2", 1, 0, 1); }},
      {"SZLC devId", [](char* o, size_t n) { return NPC_F_MPI_MON_VCP_SZLC_SetConnParam(o, n, "x,y", 1); }},
  };
  for (const auto& c : calls) {
    char out[NPC_D_MPI_MON_VCP_CONN_PARAM_SIZE] = "untouched";
    EXPECT_EQ(c.second(out, sizeof out), 0) << c.first;
    EXPECT_STREQ(out, "untouched") << c.first;
  }
}

// Family limits: the setter takes a text at the limit and refuses one character more; the
// getter cuts a longer value from a foreign string to the limit.
TEST(VcpFamilies, TextLimits) {
  const std::string a39(39, 'a'), a40(40, 'a'), c63(63, 'c'), c64(64, 'c'), t31(31, 't'), t32(32, 't'),
      a15(15, '1'), a16(16, '1');
  const struct {
    const char* what;
    std::function<int(char*, size_t)> call;
    int ok;
  } cases[] = {
      {"CDSB addr 39", [&](char* o, size_t n) { return NPC_F_MPI_MON_VCP_CDSB_SetConnParam(o, n, a39.c_str(), 1, "u", "p", 1); }, 1},
      {"CDSB addr 40", [&](char* o, size_t n) { return NPC_F_MPI_MON_VCP_CDSB_SetConnParam(o, n, a40.c_str(), 1, "u", "p", 1); }, 0},
      {"CDSB user 63", [&](char* o, size_t n) { return NPC_F_MPI_MON_VCP_CDSB_SetConnParam(o, n, "a", 1, c63.c_str(), "p", 1); }, 1},
      {"CDSB user 64", [&](char* o, size_t n) { return NPC_F_MPI_MON_VCP_CDSB_SetConnParam(o, n, "a", 1, c64.c_str(), "p", 1); }, 0},
      {"CDSB pwd 64", [&](char* o, size_t n) { return NPC_F_MPI_MON_VCP_CDSB_SetConnParam(o, n, "a", 1, "u", c64.c_str(), 1); }, 0},
      {"HMCP addr 40", [&](char* o, size_t n) { return NPC_F_MPI_MON_VCP_HMCP_SetConnParam(o, n, a40.c_str(), 1, "u", "p", 1); }, 0},
      {"HMCP pwd 63", [&](char* o, size_t n) { return NPC_F_MPI_MON_VCP_HMCP_SetConnParam(o, n, "a", 1, "u", c63.c_str(), 1); }, 1},
      {"FCAM addr 39", [&](char* o, size_t n) { return NPC_F_MPI_MON_VCP_FCAM_SetConnParam(o, n, a39.c_str(), 1); }, 1},
      {"FCAM addr 40", [&](char* o, size_t n) { return NPC_F_MPI_MON_VCP_FCAM_SetConnParam(o, n, a40.c_str(), 1); }, 0},
      {"HDTP devId 31", [&](char* o, size_t n) { return NPC_F_MPI_MON_VCP_HDTP_SetConnParam(o, n, t31.c_str(), "p", 1); }, 1},
      {"HDTP devId 32", [&](char* o, size_t n) { return NPC_F_MPI_MON_VCP_HDTP_SetConnParam(o, n, t32.c_str(), "p", 1); }, 0},
      {"HDTP pwd 32", [&](char* o, size_t n) { return NPC_F_MPI_MON_VCP_HDTP_SetConnParam(o, n, "d", t32.c_str(), 1); }, 0},
      {"SHTL devId 31", [&](char* o, size_t n) { return NPC_F_MPI_MON_VCP_SHTL_SetConnParam(o, n, "a", 1, "u", "p", 1, t31.c_str()); }, 1},
      {"SHTL devId 32", [&](char* o, size_t n) { return NPC_F_MPI_MON_VCP_SHTL_SetConnParam(o, n, "a", 1, "u", "p", 1, t32.c_str()); }, 0},
      {"SHTL addr 40", [&](char* o, size_t n) { return NPC_F_MPI_MON_VCP_SHTL_SetConnParam(o, n, a40.c_str(), 1, "u", "p", 1, "d"); }, 0},
      {"EPMY addr 15", [&](char* o, size_t n) { return NPC_F_MPI_MON_VCP_EPMY_SetConnParam(o, n, "d", 1, a15.c_str(), 1, 0, 1); }, 1},
      {"EPMY addr 16", [&](char* o, size_t n) { return NPC_F_MPI_MON_VCP_EPMY_SetConnParam(o, n, "d", 1, a16.c_str(), 1, 0, 1); }, 0},
      {"HKSP has no 39 limit", [&](char* o, size_t n) { return NPC_F_MPI_MON_VCP_HKSP_SetConnParam(o, n, a40.c_str(), 1, "u", "p", 1); }, 1},
      {"null text", [&](char* o, size_t n) { return NPC_F_MPI_MON_VCP_HKSP_SetConnParam(o, n, nullptr, 1, "u", "p", 1); }, 0},
  };
  for (const auto& c : cases) {
    char out[NPC_D_MPI_MON_VCP_CONN_PARAM_SIZE] = "untouched";
    EXPECT_EQ(c.call(out, sizeof out), c.ok) << c.what;
    if (!c.ok) {
      EXPECT_STREQ(out, "untouched") << c.what;
    }
  }

  const std::string foreign = "VendorId=2080,DevIp=" + std::string(50, 'a') + ",DevPort=1,DevUserName=" +
                              std::string(70, 'u') + ",DevUserPwd=p,DevChNo=1";
  EXPECT_EQ(family("CDSB").get(foreign.c_str()), std::string(39, 'a') + "|1|" + std::string(63, 'u') + "|p|1");
  const std::string epmy = "VendorId=1010,DevId=" + std::string(40, 'd') + ",DevIp=" + std::string(20, '9') +
                           ",DevPort=1,ExtParam1=1,ExtParam2=0,ExtParam3=2";
  EXPECT_EQ(family("EPMY").get(epmy.c_str()), std::string(40, 'd') + "|1|" + std::string(15, '9') + "|1|0|2");
}

}  // namespace
