// Time, text, MAC, IPv4 and checksum helpers. Local time goes through the clock seam
// (NPC_F_SYS_LocalTime / NPC_F_SYS_MakeLocalTime), so the process time zone decides it and
// nothing here reads the clock itself. Every parser of outside text (times, MAC and IPv4
// texts, hexadecimal numbers, JSON texts) walks the text one character at a time and stops at
// its NUL; none reads past it. The in-place replacements are told the caller's buffer size
// and refuse, leaving the text unchanged, any result that would not fit.
#include "runtime/systime.h"

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>

#include "runtime/clock.h"
#include "runtime/text.h"

namespace {

// The last time value a 32-bit time_t holds: 2038-01-19 03:14:07 UTC.
constexpr int64_t kMaxTime32 = 2147483647;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a field as scanf's "%<width>d" would for the texts we accept: leading white space
// skipped, then 1 to width decimal digits (no sign). Advances *p past what it read.
bool readNumber(const char** p, int width, int* out) {
  const char* s = *p;
  while (isSpace(*s)) ++s;
  int v = 0, n = 0;
  while (n < width && isDigit(*s)) {
    v = v * 10 + (*s - '0');
    ++s;
    ++n;
  }
  if (n == 0) return false;
  *p = s;
  *out = v;
  return true;
}

bool isLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(int y, int m) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return (m == 2 && isLeapYear(y)) ? 29 : kDays[m - 1];
}

struct TimeParts {
  int year, month, day, hour, minute, second;
};

// Parses "%4d-%2d-%2d %2d:%2d:%2d" (text after the seconds is ignored) and checks that the
// parts name a real calendar time: month 1..12, a day that exists in that month, hour
// 0..23, minute and second 0..59.
bool parseTimeText(const char* text, TimeParts* t) {
  if (!text) return false;
  const char* p = text;
  if (!readNumber(&p, 4, &t->year) || *p++ != '-') return false;
  if (!readNumber(&p, 2, &t->month) || *p++ != '-') return false;
  if (!readNumber(&p, 2, &t->day)) return false;
  // The blank in the format matches any run of white space, including none.
  if (!readNumber(&p, 2, &t->hour) || *p++ != ':') return false;
  if (!readNumber(&p, 2, &t->minute) || *p++ != ':') return false;
  if (!readNumber(&p, 2, &t->second)) return false;
  if (t->month < 1 || t->month > 12 || t->day < 1 || t->day > daysInMonth(t->year, t->month)) return false;
  return t->hour <= 23 && t->minute <= 59 && t->second <= 59;
}

int64_t partsToTime(int year, int month, int day, int hour, int minute, int second) {
  struct tm tmv = {};
  tmv.tm_year = year - 1900;
  tmv.tm_mon = month - 1;
  tmv.tm_mday = day;
  tmv.tm_hour = hour;
  tmv.tm_min = minute;
  tmv.tm_sec = second;
  tmv.tm_isdst = -1;
  return NPC_F_SYS_MakeLocalTime(&tmv);
}

}  // namespace

void NPC_F_SYS_Sleep(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Writes the local time of t as "YYYY-MM-DD hh:mm:ss"; an empty text and 0 when t cannot be
// converted.
int NPC_F_SYS_Time_To_Str(int64_t t, char* buf) {
  if (!buf) return 0;
  struct tm tmv = {};
  if (!NPC_F_SYS_LocalTime(t, &tmv)) {
    buf[0] = '\0';
    return 0;
  }
  // Format into room for any int fields, then hand out the 19-character text.
  char wide[80];
  snprintf(wide, sizeof wide, "%4.4d-%2.2d-%2.2d %2.2d:%2.2d:%2.2d", tmv.tm_year + 1900, tmv.tm_mon + 1, tmv.tm_mday,
           tmv.tm_hour, tmv.tm_min, tmv.tm_sec);
  NPC_F_TEXT_CopyRaw(buf, NPC_D_SYS_TIME_STR_LEN, wide, sizeof wide);
  return 1;
}

// Parses a local time text. The upper bound is checked on the resulting time value, not on
// the text, so it is the 32-bit limit in every time zone; -1 also for text that does not
// parse or names no calendar time.
int64_t NPC_F_SYS_Str_To_Time(const char* text) {
  TimeParts p;
  if (!parseTimeText(text, &p)) return -1;
  int64_t t = partsToTime(p.year, p.month, p.day, p.hour, p.minute, p.second);
  return t > kMaxTime32 ? -1 : t;
}

// Local time parts to a time value; out-of-range parts are normalised as mktime does. -1
// when the time cannot be represented.
int64_t NPC_F_SYS_TimeParam_To_Timet(int year, int month, int day, int hour, int minute, int second) {
  return partsToTime(year, month, day, hour, minute, second);
}

// Splits t into local time parts; null outputs are skipped. 0 when t cannot be converted.
int NPC_F_SYS_Timet_To_TimeParam(int64_t t, int* year, int* month, int* day, int* hour, int* minute, int* second) {
  struct tm tmv = {};
  if (!NPC_F_SYS_LocalTime(t, &tmv)) return 0;
  if (year) *year = tmv.tm_year + 1900;
  if (month) *month = tmv.tm_mon + 1;
  if (day) *day = tmv.tm_mday;
  if (hour) *hour = tmv.tm_hour;
  if (minute) *minute = tmv.tm_min;
  if (second) *second = tmv.tm_sec;
  return 1;
}

// Fills the record with the local time of t (milliseconds 0); 0 when t cannot be converted
// or its year does not fit the record.
int NPC_F_SYS_Timet_To_TdTime(int64_t t, NPC_S_TD_DATE_TIME* td) {
  if (!td) return 0;
  int y, mo, d, h, mi, s;
  if (!NPC_F_SYS_Timet_To_TimeParam(t, &y, &mo, &d, &h, &mi, &s) || y < 0 || y > 0xFFFF) return 0;
  td->iYear = static_cast<uint16_t>(y);
  td->iMonth = static_cast<uint16_t>(mo);
  td->iDay = static_cast<uint8_t>(d);
  td->iHour = static_cast<uint8_t>(h);
  td->iMinute = static_cast<uint8_t>(mi);
  td->iSecond = static_cast<uint8_t>(s);
  td->iMinsecond = 0;
  return 1;
}

// The time value of the record's local time (milliseconds ignored); -1 for a null record
// or a time that cannot be represented.
int64_t NPC_F_SYS_TdTime_To_Timet(const NPC_S_TD_DATE_TIME* td) {
  if (!td) return -1;
  return partsToTime(td->iYear, td->iMonth, td->iDay, td->iHour, td->iMinute, td->iSecond);
}

// Parses a time text straight into the record's parts (so any year up to 9999 is kept);
// 0 for text that does not parse, and the record is then left unchanged.
int NPC_F_SYS_StrTime_To_TdTime(const char* text, NPC_S_TD_DATE_TIME* td) {
  TimeParts p;
  if (!td || !parseTimeText(text, &p)) return 0;
  td->iYear = static_cast<uint16_t>(p.year);
  td->iMonth = static_cast<uint16_t>(p.month);
  td->iDay = static_cast<uint8_t>(p.day);
  td->iHour = static_cast<uint8_t>(p.hour);
  td->iMinute = static_cast<uint8_t>(p.minute);
  td->iSecond = static_cast<uint8_t>(p.second);
  td->iMinsecond = 0;
  return 1;
}

// Writes the record's parts as "YYYY-MM-DD hh:mm:ss" (cut to the 20-byte buffer should a
// part from a device be out of range).
int NPC_F_SYS_TdTime_To_TimeStr(const NPC_S_TD_DATE_TIME* td, char* buf) {
  if (!td || !buf) return 0;
  char text[32];
  snprintf(text, sizeof text, "%4.4d-%2.2d-%2.2d %2.2d:%2.2d:%2.2d", td->iYear, td->iMonth, td->iDay, td->iHour,
           td->iMinute, td->iSecond);
  NPC_F_TEXT_CopyRaw(buf, NPC_D_SYS_TIME_STR_LEN, text, sizeof text);
  return 1;
}

int64_t NPC_F_SYS_ComputeTdTimeLen(const NPC_S_TD_DATE_TIME* a, const NPC_S_TD_DATE_TIME* b) {
  if (!a || !b) return 0;
  int64_t d = NPC_F_SYS_TdTime_To_Timet(a) - NPC_F_SYS_TdTime_To_Timet(b);
  return d < 0 ? -d : d;
}

// Sums the data as little-endian 16-bit words (an odd last byte as a word of its own value)
// in a 64-bit accumulator, which cannot overflow for any input that fits in memory, folds
// the carries back in until the sum fits 16 bits and returns the 32-bit complement, whose
// low 16 bits are the checksum.
uint32_t NPC_F_SYS_CheckSum(const void* data, size_t len) {
  const auto* p = static_cast<const uint8_t*>(data);
  uint64_t sum = 0;
  if (p) {
    size_t i = 0;
    for (; i + 1 < len; i += 2) sum += static_cast<uint32_t>(p[i]) | (static_cast<uint32_t>(p[i + 1]) << 8);
    if (i < len) sum += p[i];
  }
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return ~static_cast<uint32_t>(sum);
}

int NPC_F_SYS_GetIpaddrStrByHost(uint32_t ip, char* buf) {
  if (!buf) return 0;
  snprintf(buf, 16, "%u.%u.%u.%u", (ip >> 24) & 0xFF, (ip >> 16) & 0xFF, (ip >> 8) & 0xFF, ip & 0xFF);
  return 1;
}

// Parses a dotted IPv4 text (four decimal parts of 1 to 3 digits, each 0..255, white space
// allowed around it) into a host-order number; 0 for anything else.
uint32_t NPC_F_SYS_IpaddrStrToHostIpaddr(const char* text) {
  if (!text) return 0;
  const char* p = text;
  while (isSpace(*p)) ++p;
  uint32_t ip = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0 && *p++ != '.') return 0;
    int v = 0, n = 0;
    while (n < 3 && isDigit(*p)) {
      v = v * 10 + (*p++ - '0');
      ++n;
    }
    if (n == 0 || v > 255 || isDigit(*p)) return 0;
    ip = (ip << 8) | static_cast<uint32_t>(v);
  }
  while (isSpace(*p)) ++p;
  return *p == '\0' ? ip : 0;
}

int NPC_F_SYS_GetStringMacAddr(const uint8_t* mac, char* buf) {
  if (!mac || !buf) return 0;
  snprintf(buf, 18, "%2.2X-%2.2X-%2.2X-%2.2X-%2.2X-%2.2X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
  return 1;
}

// 1 for exactly "XX-XX-XX-XX-XX-XX" (hexadecimal digits of either case); the text is read
// only up to its NUL or its 18th character.
int NPC_F_SYS_CheckMacStrAddr(const char* text) {
  if (!text) return 0;
  for (int i = 0; i < 17; ++i) {
    char c = text[i];
    if (c == '\0') return 0;
    if (i % 3 == 2 ? c != '-' : hexValue(c) < 0) return 0;
  }
  return text[17] == '\0' ? 1 : 0;
}

// Converts a checked MAC text into six bytes; 0 (mac untouched) for a bad text.
int NPC_F_SYS_GetBitMacAddr(const char* text, uint8_t* mac) {
  if (!mac || !NPC_F_SYS_CheckMacStrAddr(text)) return 0;
  for (int i = 0; i < 6; ++i)
    mac[i] = static_cast<uint8_t>((hexValue(text[i * 3]) << 4) | hexValue(text[i * 3 + 1]));
  return 1;
}

// Allocates "XX " per byte (an empty text for no bytes). 0 and *text null for bad
// arguments or when memory runs out.
int NPC_F_SYS_BitDataToHexStr(const void* data, int len, char** text) {
  if (!text) return 0;
  *text = nullptr;
  if (len < 0 || (len > 0 && !data)) return 0;
  size_t size = static_cast<size_t>(len) * 3 + 1;
  char* out = static_cast<char*>(malloc(size));
  if (!out) return 0;
  const auto* p = static_cast<const uint8_t*>(data);
  out[0] = '\0';
  for (int i = 0; i < len; ++i) snprintf(out + static_cast<size_t>(i) * 3, 4, "%2.2X ", p[i]);
  *text = out;
  return 1;
}

// Parses a hexadecimal number as "%x" reads it: leading white space, an optional "0x" or
// "0X", then hexadecimal digits up to the first other character. 0 for no digits and for a
// value beyond 32 bits.
uint32_t NPC_F_SYS_HexStrToDWORD(const char* text) {
  if (!text) return 0;
  const char* p = text;
  while (isSpace(*p)) ++p;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && hexValue(p[2]) >= 0) p += 2;
  uint64_t v = 0;
  int digits = 0;
  for (; hexValue(*p) >= 0; ++p, ++digits) {
    v = (v << 4) | static_cast<uint64_t>(hexValue(*p));
    if (v > 0xFFFFFFFFu) return 0;
  }
  return digits ? static_cast<uint32_t>(v) : 0;
}

// Replaces n characters at pos with `with`. The text must be NUL-terminated within bufSize
// bytes and [pos, pos + n) must lie inside it.
int NPC_F_SYS_ReplaceString(char* text, size_t bufSize, int pos, int n, const char* with) {
  if (!text || !with || bufSize == 0 || pos < 0 || n < 0) return 0;
  size_t len = strnlen(text, bufSize);
  if (len == bufSize) return 0;
  size_t upos = static_cast<size_t>(pos), un = static_cast<size_t>(n);
  if (upos > len || un > len - upos) return 0;
  size_t wlen = strlen(with);
  size_t newLen = len - un + wlen;
  if (newLen >= bufSize) return 0;
  memmove(text + upos + wlen, text + upos + un, len - upos - un + 1);
  memcpy(text + upos, with, wlen);
  return 1;
}

// Replaces every occurrence of pattern, left to right, without looking into inserted text.
// Returns 1 when done (also when the pattern does not occur); 0 for an empty pattern, a text
// not terminated within bufSize, a result that would not fit or no memory, with the text
// unchanged.
int NPC_F_SYS_ReplaceStringEx(char* text, size_t bufSize, const char* pattern, const char* with) {
  if (!text || !pattern || !with || bufSize == 0 || pattern[0] == '\0') return 0;
  size_t len = strnlen(text, bufSize);
  if (len == bufSize) return 0;
  size_t plen = strlen(pattern), wlen = strlen(with);
  size_t count = 0;
  for (const char* s = strstr(text, pattern); s; s = strstr(s + plen, pattern)) ++count;
  if (count == 0) return 1;
  // newLen = len - count * plen + count * wlen, computed without going negative.
  size_t removed = count * plen;
  if (wlen > 0 && count > (SIZE_MAX - (len - removed)) / wlen) return 0;
  size_t newLen = len - removed + count * wlen;
  if (newLen >= bufSize) return 0;
  char* out = static_cast<char*>(malloc(newLen + 1));
  if (!out) return 0;
  char* o = out;
  const char* s = text;
  for (const char* hit = strstr(s, pattern); hit; hit = strstr(s, pattern)) {
    memcpy(o, s, static_cast<size_t>(hit - s));
    o += hit - s;
    memcpy(o, with, wlen);
    o += wlen;
    s = hit + plen;
  }
  size_t rest = strlen(s);
  memcpy(o, s, rest + 1);
  memcpy(text, out, newLen + 1);
  free(out);
  return 1;
}

// Finds the first "name" (with its double quotes) that is followed, after optional white
// space, by a colon, and replaces the value behind the colon (after white space) with the
// text `value` verbatim. A value in double quotes runs to its closing quote (backslash
// escapes skipped); any other value runs up to the next ',', '}' or ']' or the end of the
// text. 0 when the name is not found as a key, the text is not terminated within bufSize,
// or the result would not fit (text unchanged).
int NPC_F_SYS_ReplaceJsonValue(char* text, size_t bufSize, const char* name, const char* value) {
  if (!text || !name || !value || bufSize == 0) return 0;
  size_t len = strnlen(text, bufSize);
  if (len == bufSize || len > INT_MAX) return 0;
  size_t nlen = strlen(name);
  const char* start = nullptr;
  for (const char* s = text; (s = strchr(s, '"')) != nullptr; ++s) {
    if (strncmp(s + 1, name, nlen) != 0 || s[1 + nlen] != '"') continue;
    const char* p = s + nlen + 2;
    while (isSpace(*p)) ++p;
    if (*p != ':') continue;
    ++p;
    while (isSpace(*p)) ++p;
    start = p;
    break;
  }
  if (!start) return 0;
  const char* end = start;
  if (*end == '"') {
    ++end;
    while (*end != '\0' && *end != '"') {
      if (*end == '\\' && end[1] != '\0') ++end;
      ++end;
    }
    if (*end == '"') ++end;
  } else {
    while (*end != '\0' && *end != ',' && *end != '}' && *end != ']') ++end;
  }
  return NPC_F_SYS_ReplaceString(text, bufSize, static_cast<int>(start - text), static_cast<int>(end - start),
                                 value);
}

namespace {

bool isBlankOrTab(char c) { return c == ' ' || c == '\t'; }
bool isBlank(char c) { return c == ' '; }

// Removes the leading and/or trailing characters for which pred holds, in place.
template <typename Pred>
int trimEnds(char* text, bool left, bool right, Pred pred) {
  if (!text) return 0;
  size_t len = strlen(text);
  size_t b = 0;
  if (left)
    while (b < len && pred(text[b])) ++b;
  size_t e = len;
  if (right)
    while (e > b && pred(text[e - 1])) --e;
  if (b > 0) memmove(text, text + b, e - b);
  text[e - b] = '\0';
  return 1;
}

}  // namespace

int NPC_F_SYS_RemoveLeftSpace(char* text) { return trimEnds(text, true, false, isBlankOrTab); }
int NPC_F_SYS_RemoveRightSpace(char* text) { return trimEnds(text, false, true, isBlankOrTab); }
int NPC_F_SYS_RemoveTwoWaySpace(char* text) { return trimEnds(text, true, true, isBlankOrTab); }

// Removes every blank (spaces only) from the text.
int NPC_F_TOOLS_TrimString(char* text) {
  if (!text) return 0;
  char* o = text;
  for (const char* s = text; *s; ++s)
    if (!isBlank(*s)) *o++ = *s;
  *o = '\0';
  return 1;
}

int NPC_F_TOOLS_TrimLeftString(char* text) { return trimEnds(text, true, false, isBlank); }
int NPC_F_TOOLS_TrimRightString(char* text) { return trimEnds(text, false, true, isBlank); }
int NPC_F_TOOLS_TrimBothString(char* text) { return trimEnds(text, true, true, isBlank); }

// Compares byte by byte with ASCII letters folded to lower case; a null text sorts before
// any text.
int NPC_F_SYS_StrCaseCmp(const char* a, const char* b) {
  if (!a || !b) return (a ? 1 : 0) - (b ? 1 : 0);
  for (;; ++a, ++b) {
    int ca = static_cast<unsigned char>(*a), cb = static_cast<unsigned char>(*b);
    if (ca >= 'A' && ca <= 'Z') ca += 'a' - 'A';
    if (cb >= 'A' && cb <= 'Z') cb += 'a' - 'A';
    if (ca != cb || ca == 0) return ca - cb;
  }
}
