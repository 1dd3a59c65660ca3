// The process log: one line format fanned out to the day or named log file, the console,
// the application's queue of 536-byte log records, the log network service and the log
// upload client. Logging works from load time on and never fails its caller.
//
// Failure lines name the function, the failing step and "fail."; they never carry
// passwords, keys, tokens or whole message bodies.
#ifndef KORVEN_RUNTIME_LOG_H
#define KORVEN_RUNTIME_LOG_H

#include <cstddef>
#include <cstdint>

// Record handed to the application's receive queue.
struct NPC_S_LOG_RECORD {
  char sTime[20];   // "%Y-%m-%d %H:%M:%S"
  int32_t iLevel;   // 2 log line, 3 information line
  char sText[512];  // "%s  %s": time text, two blanks, the message cut to at most 489 bytes
};
static_assert(sizeof(NPC_S_LOG_RECORD) == 536, "log record is 536 bytes");
static_assert(offsetof(NPC_S_LOG_RECORD, iLevel) == 20 && offsetof(NPC_S_LOG_RECORD, sText) == 24,
              "log record layout");

// Longest message carried by a log record.
constexpr size_t NPC_D_LOG_RECORD_MSG_MAX = 489;

// A log line (every caller passes level 2).
void NPC_F_LOG_SR_WriteLog(const char* text, int level);
// An informational line.
void NPC_F_LOG_SR_ShowInfo(const char* text);
// printf-style forms of the two (the text is formatted with snprintf into a bounded buffer).
void NPC_F_LOG_SR_WriteLogF(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void NPC_F_LOG_SR_ShowInfoF(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Configuration.
void NPC_F_LOG_SR_SetLogDir(const char* dir);
void NPC_F_LOG_SR_SetLogFileName(const char* name);
void NPC_F_LOG_SR_SetMaxLogFileSize(int kilobytes);
void NPC_F_LOG_SR_SetRecvLogQueue(void* queue);
void NPC_F_LOG_SR_SetIfShowLog(int show);
void NPC_F_LOG_SR_SetIfShowInfoWriteFile(int flag);
void NPC_F_LOG_SR_SetIfShowEnglishLogHead(int flag);
void NPC_F_LOG_SR_SetIfWriteLogToFile(int flag);

// Where lines go beyond file, console and receive queue: a sink takes the finished line
// (with its "\r\n", without a NUL) under the log mutex and must only queue it without
// waiting. The log network service and the upload client install themselves here.
typedef void (*NPC_F_LOG_SR_LINE_SINK)(const char* line, int len, void* user);
// Installs or removes (fn null) the sink in one of the two places (0 network service,
// 1 upload client).
void NPC_F_LOG_SR_SetLineSink(int which, NPC_F_LOG_SR_LINE_SINK fn, void* user);

// Test and host hook: called for every WriteLog/ShowInfo with the level (2 or 3) and the
// message as given, after the line has gone out. A null fn removes it.
typedef void (*NPC_F_LOG_SR_HOOK)(int level, const char* text, void* user);
void NPC_F_LOG_SR_SetHook(NPC_F_LOG_SR_HOOK fn, void* user);

// Lines a day file takes before it is truncated and started again (500000); tests lower it.
// A value of 0 or less restores the default.
void NPC_F_LOG_SR_SetDayFileLineCap(int lines);

// Restores every setting to its load-time default (tests).
void NPC_F_LOG_SR_ResetForTest();

#endif
