// Time, text, MAC, IPv4 and checksum helpers, and the 12-byte date-time record that crosses
// the bus and the wire. Local time comes from the clock seam (runtime/clock.h).
#ifndef KORVEN_RUNTIME_SYSTIME_H
#define KORVEN_RUNTIME_SYSTIME_H

#include <cstddef>
#include <cstdint>

// Date-time record: 12 bytes, little-endian, as carried in orders and device messages.
struct NPC_S_TD_DATE_TIME {
  uint16_t iYear;
  uint16_t iMonth;
  uint8_t iDay;
  uint8_t iHour;
  uint8_t iMinute;
  uint8_t iSecond;
  int32_t iMinsecond;  // milliseconds
};
static_assert(sizeof(NPC_S_TD_DATE_TIME) == 12, "NPC_S_TD_DATE_TIME is 12 bytes");
static_assert(offsetof(NPC_S_TD_DATE_TIME, iDay) == 4 && offsetof(NPC_S_TD_DATE_TIME, iMinsecond) == 8,
              "NPC_S_TD_DATE_TIME layout");

// Date record: 4 bytes.
struct NPC_S_TD_DATE {
  uint16_t iYear;
  uint8_t iMonth;
  uint8_t iDay;
};
static_assert(sizeof(NPC_S_TD_DATE) == 4, "NPC_S_TD_DATE is 4 bytes");

// Size of the buffers the time-text functions write ("YYYY-MM-DD hh:mm:ss" and its NUL).
constexpr int NPC_D_SYS_TIME_STR_LEN = 20;

// Sleeps ms milliseconds (real time).
void NPC_F_SYS_Sleep(int ms);

// Local time of t as "%4.4d-%2.2d-%2.2d %2.2d:%2.2d:%2.2d" into buf (at least 20 bytes).
int NPC_F_SYS_Time_To_Str(int64_t t, char* buf);
// Parses "%4d-%2d-%2d %2d:%2d:%2d" as local time. -1 for unparsable text (including parts
// that name no calendar time, such as month 13 or February 30) and for a time value beyond
// the 32-bit limit (2038-01-19 03:14:07 UTC, "2038-01-19 11:14:07" at UTC+8): the bound is
// on the value, so it holds in every time zone.
int64_t NPC_F_SYS_Str_To_Time(const char* text);
// Local time parts to a time value and back (daylight saving decided by the library).
int64_t NPC_F_SYS_TimeParam_To_Timet(int year, int month, int day, int hour, int minute, int second);
int NPC_F_SYS_Timet_To_TimeParam(int64_t t, int* year, int* month, int* day, int* hour, int* minute, int* second);
// The same for the date-time record; milliseconds are set to 0 and ignored. StrTime_To_TdTime
// fills the record's parts straight from the text (no 2038 bound; 0 for unparsable text).
int NPC_F_SYS_Timet_To_TdTime(int64_t t, NPC_S_TD_DATE_TIME* td);
int64_t NPC_F_SYS_TdTime_To_Timet(const NPC_S_TD_DATE_TIME* td);
int NPC_F_SYS_StrTime_To_TdTime(const char* text, NPC_S_TD_DATE_TIME* td);
int NPC_F_SYS_TdTime_To_TimeStr(const NPC_S_TD_DATE_TIME* td, char* buf);
// Absolute difference in seconds.
int64_t NPC_F_SYS_ComputeTdTimeLen(const NPC_S_TD_DATE_TIME* a, const NPC_S_TD_DATE_TIME* b);

// RFC 1071 ones'-complement checksum over little-endian 16-bit words (an odd last byte is
// added unchanged); the low 16 bits of the result are the checksum. Empty input: 0xFFFFFFFF.
uint32_t NPC_F_SYS_CheckSum(const void* data, size_t len);

// Host-order IPv4 number to "%d.%d.%d.%d" (buf of at least 16 bytes) and back (0 for bad text).
int NPC_F_SYS_GetIpaddrStrByHost(uint32_t ip, char* buf);
uint32_t NPC_F_SYS_IpaddrStrToHostIpaddr(const char* text);

// Six bytes as "%2.2X-%2.2X-%2.2X-%2.2X-%2.2X-%2.2X" (buf of at least 18 bytes).
int NPC_F_SYS_GetStringMacAddr(const uint8_t* mac, char* buf);
// 1 for a 17-character text of six hexadecimal pairs separated by '-'.
int NPC_F_SYS_CheckMacStrAddr(const char* text);
int NPC_F_SYS_GetBitMacAddr(const char* text, uint8_t* mac);

// Allocates "%2.2X " per byte into *text (freed with free()); returns 1.
int NPC_F_SYS_BitDataToHexStr(const void* data, int len, char** text);
// Parses "%x"; 0 for bad text.
uint32_t NPC_F_SYS_HexStrToDWORD(const char* text);

// In-place replacements; bufSize is the capacity of the caller's buffer (with its NUL), and
// a replacement that would not fit fails with 0 and leaves the text unchanged.
// Replaces n characters at pos with the text `with`.
int NPC_F_SYS_ReplaceString(char* text, size_t bufSize, int pos, int n, const char* with);
// Replaces every occurrence of pattern (1 also when there is none; 0 for an empty pattern).
int NPC_F_SYS_ReplaceStringEx(char* text, size_t bufSize, const char* pattern, const char* with);
// Finds "name" (in double quotes) used as a key, skips to the value after the colon and
// replaces it with `value` verbatim: a quoted value up to its closing quote, any other value
// up to the next ',', '}' or ']' or the end of the text.
int NPC_F_SYS_ReplaceJsonValue(char* text, size_t bufSize, const char* name, const char* value);

// Remove leading, trailing or both blanks and tabs in place.
int NPC_F_SYS_RemoveLeftSpace(char* text);
int NPC_F_SYS_RemoveRightSpace(char* text);
int NPC_F_SYS_RemoveTwoWaySpace(char* text);
// Remove all blanks, or leading, trailing or both blanks (spaces only) in place.
int NPC_F_TOOLS_TrimString(char* text);
int NPC_F_TOOLS_TrimLeftString(char* text);
int NPC_F_TOOLS_TrimRightString(char* text);
int NPC_F_TOOLS_TrimBothString(char* text);
// Case-insensitive compare (<0, 0, >0).
int NPC_F_SYS_StrCaseCmp(const char* a, const char* b);

#endif
