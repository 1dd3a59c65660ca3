// Time texts and conversions under pinned time zones (the 2038 bound, daylight saving,
// unparsable texts), MAC, IPv4 and hexadecimal texts, the in-place replacements, the trims
// and the case-insensitive compare.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "runtime/systime.h"

namespace {

// Pins the process time zone for one test and restores the previous setting afterwards.
class TzGuard {
 public:
  explicit TzGuard(const char* tz) {
    const char* old = getenv("TZ");
    hadOld_ = old != nullptr;
    if (old) old_ = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~TzGuard() {
    if (hadOld_)
      setenv("TZ", old_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  TzGuard(const TzGuard&) = delete;
  TzGuard& operator=(const TzGuard&) = delete;

 private:
  bool hadOld_ = false;
  std::string old_;
};

std::string timeText(int64_t t) {
  char buf[NPC_D_SYS_TIME_STR_LEN];
  EXPECT_EQ(NPC_F_SYS_Time_To_Str(t, buf), 1);
  return buf;
}

struct TimeCase {
  const char* tz;
  const char* text;
  int64_t expected;
};

// The bound is on the time value (the last second of a 32-bit time), so it falls at a
// different local text in each zone.
TEST(TimeText, ParsesLocalTimeAndRefusesValuesBeyondThe32BitLimit) {
  const TimeCase cases[] = {
      {"CST-8", "2038-01-19 11:14:07", 2147483647},
      {"CST-8", "2038-01-19 11:14:08", -1},
      {"CST-8", "2099-12-31 23:59:59", -1},
      {"CST-8", "1970-01-01 08:00:00", 0},
      {"CST-8", "2024-02-29 12:34:56", 1709181296},
      {"CST-8", "2024-2-29 12:34:56", 1709181296},
      {"CST-8", "2024-02-29  12:34:56 trailing", 1709181296},
      {"UTC0", "2038-01-19 03:14:07", 2147483647},
      {"UTC0", "2038-01-19 03:14:08", -1},
      {"UTC0", "2038-01-19 11:14:07", -1},
      {"EST5EDT,M3.2.0,M11.1.0", "2024-07-01 12:00:00", 1719849600},  // summer: UTC-4
      {"EST5EDT,M3.2.0,M11.1.0", "2024-01-15 12:00:00", 1705338000},  // winter: UTC-5
      {"EST5EDT,M3.2.0,M11.1.0", "2038-01-18 22:14:07", 2147483647},
      {"EST5EDT,M3.2.0,M11.1.0", "2038-01-18 22:14:08", -1},
  };
  for (const auto& c : cases) {
    TzGuard tz(c.tz);
    EXPECT_EQ(NPC_F_SYS_Str_To_Time(c.text), c.expected) << c.tz << " " << c.text;
  }
}

TEST(TimeText, UnparsableTextGivesMinusOne) {
  TzGuard tz("CST-8");
  const char* bad[] = {"",
                       "garbage",
                       "2024-01-01",
                       "2024-01-01 12:00",
                       "2024/01/01 12:00:00",
                       "-2024-01-01 12:00:00",
                       "2024-00-10 12:00:00",
                       "2024-13-10 12:00:00",
                       "2024-02-30 12:00:00",
                       "2023-02-29 12:00:00",
                       "2024-04-31 12:00:00",
                       "2024-01-01 24:00:00",
                       "2024-01-01 12:60:00",
                       "2024-01-01 12:00:60",
                       "2024-01-01 12:00:x"};
  for (const char* text : bad) EXPECT_EQ(NPC_F_SYS_Str_To_Time(text), -1) << "'" << text << "'";
  EXPECT_EQ(NPC_F_SYS_Str_To_Time(nullptr), -1);
  NPC_S_TD_DATE_TIME td = {};
  td.iYear = 1999;
  EXPECT_EQ(NPC_F_SYS_StrTime_To_TdTime("2024-02-30 00:00:00", &td), 0);
  EXPECT_EQ(td.iYear, 1999) << "the record stays unchanged";
}

// The parser reads only up to the NUL: a truncated text at the very end of an exact-size
// heap block is refused without reading past it (ASan would report it).
TEST(TimeText, TruncatedTextAtTheEndOfItsBlock) {
  const std::string full = "2024-02-29 12:34:56";
  for (size_t n = 0; n < full.size(); ++n) {
    std::vector<char> block(full.begin(), full.begin() + static_cast<long>(n));
    block.push_back('\0');
    int64_t t = NPC_F_SYS_Str_To_Time(block.data());
    if (n < full.size() - 2) {
      EXPECT_EQ(t, -1) << n;
    }
  }
}

TEST(TimeText, FormatsLocalTimeAndConvertsPartsBothWays) {
  TzGuard tz("CST-8");
  EXPECT_EQ(timeText(2147483647), "2038-01-19 11:14:07");
  EXPECT_EQ(timeText(0), "1970-01-01 08:00:00");
  EXPECT_EQ(NPC_F_SYS_Str_To_Time(timeText(1709181296).c_str()), 1709181296);

  EXPECT_EQ(NPC_F_SYS_TimeParam_To_Timet(2024, 2, 29, 12, 34, 56), 1709181296);
  EXPECT_EQ(NPC_F_SYS_TimeParam_To_Timet(2024, 2, 30, 12, 34, 56), 1709181296 + 86400) << "normalised";
  int y, mo, d, h, mi, s;
  ASSERT_EQ(NPC_F_SYS_Timet_To_TimeParam(1709181296, &y, &mo, &d, &h, &mi, &s), 1);
  EXPECT_EQ((std::vector<int>{y, mo, d, h, mi, s}), (std::vector<int>{2024, 2, 29, 12, 34, 56}));
  EXPECT_EQ(NPC_F_SYS_Timet_To_TimeParam(0, nullptr, nullptr, &d, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(d, 1);
}

TEST(TimeText, DateTimeRecordConversions) {
  TzGuard tz("CST-8");
  NPC_S_TD_DATE_TIME td;
  memset(&td, 0x5A, sizeof td);
  ASSERT_EQ(NPC_F_SYS_Timet_To_TdTime(1709181296, &td), 1);
  EXPECT_EQ(td.iYear, 2024);
  EXPECT_EQ(td.iMonth, 2);
  EXPECT_EQ(td.iDay, 29);
  EXPECT_EQ(td.iHour, 12);
  EXPECT_EQ(td.iMinute, 34);
  EXPECT_EQ(td.iSecond, 56);
  EXPECT_EQ(td.iMinsecond, 0);
  td.iMinsecond = 999;
  EXPECT_EQ(NPC_F_SYS_TdTime_To_Timet(&td), 1709181296) << "milliseconds are ignored";

  char buf[NPC_D_SYS_TIME_STR_LEN];
  ASSERT_EQ(NPC_F_SYS_TdTime_To_TimeStr(&td, buf), 1);
  EXPECT_STREQ(buf, "2024-02-29 12:34:56");

  // The text goes straight into the record's parts, so a date past 2038 is kept.
  NPC_S_TD_DATE_TIME later;
  ASSERT_EQ(NPC_F_SYS_StrTime_To_TdTime("2040-06-01 01:02:03", &later), 1);
  ASSERT_EQ(NPC_F_SYS_TdTime_To_TimeStr(&later, buf), 1);
  EXPECT_STREQ(buf, "2040-06-01 01:02:03");

  NPC_S_TD_DATE_TIME a, b;
  ASSERT_EQ(NPC_F_SYS_StrTime_To_TdTime("2024-02-28 23:00:00", &a), 1);
  ASSERT_EQ(NPC_F_SYS_StrTime_To_TdTime("2024-02-29 00:01:01", &b), 1);
  EXPECT_EQ(NPC_F_SYS_ComputeTdTimeLen(&a, &b), 3661);
  EXPECT_EQ(NPC_F_SYS_ComputeTdTimeLen(&b, &a), 3661);

  // Out-of-range parts from a device still give a bounded, terminated text.
  NPC_S_TD_DATE_TIME junk = {65535, 65535, 255, 255, 255, 255, 0};
  ASSERT_EQ(NPC_F_SYS_TdTime_To_TimeStr(&junk, buf), 1);
  EXPECT_EQ(strlen(buf), static_cast<size_t>(NPC_D_SYS_TIME_STR_LEN - 1));
}

// --- MAC, IPv4 and hexadecimal texts -------------------------------------------------------

TEST(MacText, CheckAcceptsOnlySixDashSeparatedHexPairs) {
  struct Case {
    const char* text;
    int ok;
  } cases[] = {
      {"00-1A-2b-3C-4d-5E", 1}, {"FF-FF-FF-FF-FF-FF", 1}, {"00-1A-2B-3C-4D", 0},     {"00-1A-2B-3C-4D-5E-", 0},
      {"00:1A:2B:3C:4D:5E", 0}, {"0G-1A-2B-3C-4D-5E", 0}, {"001A-2B-3C-4D-5E-6", 0}, {" 00-1A-2B-3C-4D-5E", 0},
      {"", 0},                  {"00-1A-2B-3C-4D-5", 0},  {"00-1A-2B-3C-4D-5E6", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NPC_F_SYS_CheckMacStrAddr(c.text), c.ok) << c.text;
    uint8_t mac[6] = {9, 9, 9, 9, 9, 9};
    EXPECT_EQ(NPC_F_SYS_GetBitMacAddr(c.text, mac), c.ok) << c.text;
    if (!c.ok) {
      EXPECT_EQ(mac[0], 9) << "untouched on failure";
    }
  }
  EXPECT_EQ(NPC_F_SYS_CheckMacStrAddr(nullptr), 0);
  // Truncated texts at the end of exact-size blocks: no read past the NUL.
  const std::string full = "00-1A-2B-3C-4D-5E";
  for (size_t n = 0; n < full.size(); ++n) {
    std::vector<char> block(full.begin(), full.begin() + static_cast<long>(n));
    block.push_back('\0');
    EXPECT_EQ(NPC_F_SYS_CheckMacStrAddr(block.data()), 0) << n;
  }
}

TEST(MacText, ConvertsBothWays) {
  uint8_t mac[6];
  ASSERT_EQ(NPC_F_SYS_GetBitMacAddr("00-1a-2B-c3-fF-80", mac), 1);
  const uint8_t expected[6] = {0x00, 0x1A, 0x2B, 0xC3, 0xFF, 0x80};
  EXPECT_EQ(memcmp(mac, expected, 6), 0);
  char buf[18];
  ASSERT_EQ(NPC_F_SYS_GetStringMacAddr(mac, buf), 1);
  EXPECT_STREQ(buf, "00-1A-2B-C3-FF-80");
}

TEST(IpText, ParsesDottedQuadsStrictly) {
  struct Case {
    const char* text;
    uint32_t ip;
  } cases[] = {
      {"192.168.1.100", 0xC0A80164u}, {"255.255.255.255", 0xFFFFFFFFu}, {"0.0.0.0", 0u},
      {" 10.0.0.1\t", 0x0A000001u},   {"010.001.0.9", 0x0A010009u},     {"256.1.1.1", 0u},
      {"1.2.3", 0u},                  {"1.2.3.4.5", 0u},                {"1..2.3", 0u},
      {"a.b.c.d", 0u},                {"1.2.3.4x", 0u},                 {"0001.2.3.4", 0u},
      {"", 0u},                       {"-1.2.3.4", 0u},                 {"1.2.3.", 0u},
  };
  for (const auto& c : cases) EXPECT_EQ(NPC_F_SYS_IpaddrStrToHostIpaddr(c.text), c.ip) << c.text;
  EXPECT_EQ(NPC_F_SYS_IpaddrStrToHostIpaddr(nullptr), 0u);
  char buf[16];
  ASSERT_EQ(NPC_F_SYS_GetIpaddrStrByHost(0xC0A80164u, buf), 1);
  EXPECT_STREQ(buf, "192.168.1.100");
  ASSERT_EQ(NPC_F_SYS_GetIpaddrStrByHost(0xFFFFFFFFu, buf), 1);
  EXPECT_STREQ(buf, "255.255.255.255");
}

TEST(HexText, ParsesLikePercentXWithin32Bits) {
  struct Case {
    const char* text;
    uint32_t v;
  } cases[] = {
      {"1a2B", 0x1A2Bu},       {"0x10", 0x10u},     {"0XfF", 0xFFu},     {"  ff", 0xFFu},
      {"ffffffff", 0xFFFFFFFFu}, {"0000000000ff", 0xFFu}, {"100000000", 0u}, {"12zz", 0x12u},
      {"zz", 0u},              {"", 0u},            {"0x", 0u},          {"0xg", 0u},
  };
  for (const auto& c : cases) EXPECT_EQ(NPC_F_SYS_HexStrToDWORD(c.text), c.v) << c.text;
  EXPECT_EQ(NPC_F_SYS_HexStrToDWORD(nullptr), 0u);

  char* text = nullptr;
  const uint8_t data[] = {0x00, 0xAB, 0xFF};
  ASSERT_EQ(NPC_F_SYS_BitDataToHexStr(data, 3, &text), 1);
  EXPECT_STREQ(text, "00 AB FF ");
  free(text);
  ASSERT_EQ(NPC_F_SYS_BitDataToHexStr(data, 0, &text), 1);
  EXPECT_STREQ(text, "");
  free(text);
  EXPECT_EQ(NPC_F_SYS_BitDataToHexStr(nullptr, 2, &text), 0);
  EXPECT_EQ(text, nullptr);
}

// --- Replacements -------------------------------------------------------------------------

TEST(Replace, ReplaceStringHonoursTheBufferSize) {
  struct Case {
    const char* text;
    size_t bufSize;
    int pos, n;
    const char* with;
    int ok;
    const char* result;
  } cases[] = {
      {"hello world", 32, 6, 5, "there", 1, "hello there"},
      {"hello world", 32, 0, 0, ">> ", 1, ">> hello world"},
      {"hello world", 32, 11, 0, "!", 1, "hello world!"},
      {"hello world", 32, 5, 6, "", 1, "hello"},
      {"hello world", 13, 11, 0, "!", 1, "hello world!"},  // exactly fills the buffer
      {"hello world", 12, 11, 0, "!", 0, "hello world"},   // one byte short
      {"hello world", 32, 12, 0, "x", 0, "hello world"},   // position past the end
      {"hello world", 32, 6, 6, "x", 0, "hello world"},    // range past the end
      {"hello world", 32, -1, 1, "x", 0, "hello world"},
  };
  for (const auto& c : cases) {
    std::vector<char> buf(64, '\0');
    memcpy(buf.data(), c.text, strlen(c.text) + 1);
    EXPECT_EQ(NPC_F_SYS_ReplaceString(buf.data(), c.bufSize, c.pos, c.n, c.with), c.ok) << c.result;
    EXPECT_STREQ(buf.data(), c.result);
  }
  char unterminated[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(NPC_F_SYS_ReplaceString(unterminated, sizeof unterminated, 0, 1, "x"), 0);
}

TEST(Replace, ReplaceStringExReplacesEveryOccurrenceOrNothing) {
  struct Case {
    const char* text;
    size_t bufSize;
    const char* pattern;
    const char* with;
    int ok;
    const char* result;
  } cases[] = {
      {"a-b-c", 32, "-", "--", 1, "a--b--c"},
      {"aaaa", 32, "aa", "a", 1, "aa"},
      {"xaby", 32, "ab", "abab", 1, "xababy"},  // inserted text is not searched again
      {"a\\/b\\/c", 32, "\\/", "/", 1, "a/b/c"},
      {"no match", 32, "zz", "y", 1, "no match"},
      {"a-b-c", 8, "-", "--", 1, "a--b--c"},  // 7 characters and the NUL fill 8 bytes
      {"a-b-c", 7, "-", "--", 0, "a-b-c"},
      {"a-b-c", 32, "", "x", 0, "a-b-c"},
  };
  for (const auto& c : cases) {
    std::vector<char> buf(64, '\0');
    memcpy(buf.data(), c.text, strlen(c.text) + 1);
    EXPECT_EQ(NPC_F_SYS_ReplaceStringEx(buf.data(), c.bufSize, c.pattern, c.with), c.ok) << c.text;
    EXPECT_STREQ(buf.data(), c.result) << c.text;
  }
}

TEST(Replace, ReplaceJsonValueReplacesTheValueOfTheKey) {
  struct Case {
    const char* text;
    const char* name;
    const char* value;
    int ok;
    const char* result;
  } cases[] = {
      {R"({"a":1,"b":"x,y","c":true})", "b", R"("z")", 1, R"({"a":1,"b":"z","c":true})"},
      {R"({"a":1,"b":"x,y","c":true})", "c", "false", 1, R"({"a":1,"b":"x,y","c":false})"},
      {R"({"a" : 1 ,"b":2})", "a", "22", 1, R"({"a" : 22,"b":2})"},
      {R"({"k":"a","a":5})", "a", "7", 1, R"({"k":"a","a":7})"},  // "a" as a value is skipped
      {R"({"ab":1,"a":2})", "a", "3", 1, R"({"ab":1,"a":3})"},
      {R"({"s":"q\"x","t":1})", "s", R"("y")", 1, R"({"s":"y","t":1})"},
      {R"("a":tail)", "a", "end", 1, R"("a":end)"},
      {R"({"a":[1,2]})", "b", "1", 0, R"({"a":[1,2]})"},
      {R"({"a")", "a", "1", 0, R"({"a")"},
  };
  for (const auto& c : cases) {
    std::vector<char> buf(64, '\0');
    memcpy(buf.data(), c.text, strlen(c.text) + 1);
    EXPECT_EQ(NPC_F_SYS_ReplaceJsonValue(buf.data(), buf.size(), c.name, c.value), c.ok) << c.text;
    EXPECT_STREQ(buf.data(), c.result) << c.text;
  }
  char small[16] = R"({"a":1})";
  EXPECT_EQ(NPC_F_SYS_ReplaceJsonValue(small, sizeof small, "a", "1234567890"), 0);
  EXPECT_STREQ(small, R"({"a":1})") << "a value that does not fit leaves the text unchanged";
  EXPECT_EQ(NPC_F_SYS_ReplaceJsonValue(small, sizeof small, "a", "123456789"), 1);
  EXPECT_STREQ(small, R"({"a":123456789})") << "15 characters and the NUL fill 16 bytes";
}

// --- Trims and compare ----------------------------------------------------------------------

TEST(Trim, EachFunctionRemovesWhatItNames) {
  using Fn = int (*)(char*);
  struct Case {
    Fn fn;
    const char* name;
    const char* in;
    const char* out;
  } cases[] = {
      {NPC_F_SYS_RemoveLeftSpace, "RemoveLeft", " \t a b \t ", "a b \t "},
      {NPC_F_SYS_RemoveRightSpace, "RemoveRight", " \t a b \t ", " \t a b"},
      {NPC_F_SYS_RemoveTwoWaySpace, "RemoveTwoWay", " \t a b \t ", "a b"},
      {NPC_F_SYS_RemoveTwoWaySpace, "RemoveTwoWay", " \t\t ", ""},
      {NPC_F_TOOLS_TrimString, "Trim", " a b\tc ", "ab\tc"},
      {NPC_F_TOOLS_TrimLeftString, "TrimLeft", "  \ta ", "\ta "},
      {NPC_F_TOOLS_TrimRightString, "TrimRight", " a\t  ", " a\t"},
      {NPC_F_TOOLS_TrimBothString, "TrimBoth", "  a b  ", "a b"},
      {NPC_F_TOOLS_TrimBothString, "TrimBoth", "", ""},
  };
  for (const auto& c : cases) {
    std::vector<char> buf(c.in, c.in + strlen(c.in) + 1);
    EXPECT_EQ(c.fn(buf.data()), 1) << c.name;
    EXPECT_STREQ(buf.data(), c.out) << c.name << " of '" << c.in << "'";
    EXPECT_EQ(c.fn(nullptr), 0) << c.name;
  }
}

TEST(Trim, StrCaseCmpFoldsAsciiCase) {
  EXPECT_EQ(NPC_F_SYS_StrCaseCmp("QXSP", "qxsp"), 0);
  EXPECT_LT(NPC_F_SYS_StrCaseCmp("abc", "ABD"), 0);
  EXPECT_GT(NPC_F_SYS_StrCaseCmp("b", "A"), 0);
  EXPECT_LT(NPC_F_SYS_StrCaseCmp("ab", "abc"), 0);
  EXPECT_EQ(NPC_F_SYS_StrCaseCmp("", ""), 0);
  EXPECT_LT(NPC_F_SYS_StrCaseCmp(nullptr, ""), 0);
}

}  // namespace
