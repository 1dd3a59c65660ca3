// The process log. One state for the whole process, usable from load time on: a line is
// formatted once under the log mutex and fanned out to the log file (a day file or a named
// file with a size cap), the console and the two line sinks (log network service, upload
// client); a 536-byte record then goes to the application's receive queue outside the mutex.
// Every destination drops the line on its own failure; logging never fails or blocks its
// caller.
#include "runtime/log.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/clock.h"
#include "runtime/queue.h"
#include "runtime/text.h"

namespace {

// Lines written to one day file before it is truncated and started again.
constexpr int kDayFileLineCap = 500000;

struct LineSink {
  NPC_F_LOG_SR_LINE_SINK fn = nullptr;
  void* pUser = nullptr;
};

struct LogState {
  std::mutex mu;  // formatting, the shared line buffer, file output and the sinks
  void* pRecvQueue = nullptr;
  int bNamedFile = 0;
  std::string sLogDir;
  std::string sCurrentDay;
  int iLineCount = 0;
  std::string sLogFileName;
  long long llMaxFileSize = 0;
  std::atomic<int> bWriteToFile{1};
  std::atomic<int> bHideConsole{0};
  std::atomic<int> bInfoToFile{0};
  std::atomic<int> bEnglishHeads{0};
  std::string sLine;  // reused for every line
  LineSink sinks[2];
  int iDayFileLineCap = kDayFileLineCap;

  std::mutex hookMu;  // held while the hook runs, so removing it waits for a running call
  NPC_F_LOG_SR_HOOK hook = nullptr;
  void* pHookUser = nullptr;
};

LogState& logState() {
  static LogState* s = new LogState();  // never destroyed: threads may log during teardown
  return *s;
}

void formatLocal(char* buf, size_t size, const char* fmt) {
  struct tm tmv;
  if (!NPC_F_SYS_LocalTime(NPC_F_SYS_GetWallTime(), &tmv) || strftime(buf, size, fmt, &tmv) == 0) buf[0] = '\0';
}

std::string currentDir() {
  char buf[PATH_MAX];
  return getcwd(buf, sizeof buf) ? std::string(buf) : std::string(".");
}

void appendLine(const std::string& path, const std::string& line) {
  FILE* f = fopen(path.c_str(), "a+");
  if (!f) return;
  fwrite(line.data(), 1, line.size(), f);
  fputc('\n', f);
  fclose(f);
}

void truncateFile(const std::string& path) {
  if (FILE* f = fopen(path.c_str(), "w")) fclose(f);
}

// File output of one log line (under the mutex).
void writeToFile(LogState& s) {
  if (s.bNamedFile) {
    if (s.sLogFileName.empty()) return;
    struct stat st;
    long long size = stat(s.sLogFileName.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : 0;
    if (size >= s.llMaxFileSize) truncateFile(s.sLogFileName);
    appendLine(s.sLogFileName, s.sLine);
    return;
  }
  std::string cwd = currentDir();
  if (s.sLogDir.empty()) s.sLogDir = cwd;
  if (s.sLogDir != cwd && mkdir(s.sLogDir.c_str(), 0775) != 0 && errno != EEXIST) return;
  char day[16];
  formatLocal(day, sizeof day, "%Y%m%d");
  if (s.sCurrentDay != day) {
    s.sCurrentDay = day;
    s.iLineCount = 0;
  }
  std::string path = s.sLogDir + "/Log" + s.sCurrentDay + ".txt";
  if (s.iLineCount >= s.iDayFileLineCap) {
    s.iLineCount = 0;
    truncateFile(path);
  }
  appendLine(path, s.sLine);
  ++s.iLineCount;
}

// Formats "<time>    <head>  <text>" into the shared line buffer; false when memory runs out.
bool formatLine(LogState& s, const char* head, const char* text) {
  char hms[16];
  formatLocal(hms, sizeof hms, "%H:%M:%S");
  try {
    s.sLine.clear();
    s.sLine.reserve(strlen(text) + 50);
    s.sLine.append(hms).append("    ").append(head).append("  ").append(text);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

// Console and sinks (under the mutex); the line buffer gains its "\r\n".
void fanOut(LogState& s) {
  if (!s.bHideConsole) {
    fwrite(s.sLine.data(), 1, s.sLine.size(), stdout);
    fputc('\n', stdout);
    fflush(stdout);
  }
  try {
    s.sLine.append("\r\n");
  } catch (const std::bad_alloc&) {
    return;
  }
  for (const LineSink& sink : s.sinks)
    if (sink.fn) sink.fn(s.sLine.data(), static_cast<int>(s.sLine.size()), sink.pUser);
}

// Builds the 536-byte record on the stack and posts it without waiting (outside the mutex).
void postRecord(LogState& s, const char* text, int level) {
  void* q;
  {
    std::lock_guard<std::mutex> lk(s.mu);
    q = s.pRecvQueue;
  }
  if (!q) return;
  NPC_S_LOG_RECORD rec;
  memset(&rec, 0, sizeof rec);
  formatLocal(rec.sTime, sizeof rec.sTime, "%Y-%m-%d %H:%M:%S");
  rec.iLevel = level;
  size_t timeLen = strlen(rec.sTime);
  memcpy(rec.sText, rec.sTime, timeLen);
  memcpy(rec.sText + timeLen, "  ", 2);
  size_t msgLen = NPC_F_TEXT_Utf8CutLen(text, strlen(text), NPC_D_LOG_RECORD_MSG_MAX);
  memcpy(rec.sText + timeLen + 2, text, msgLen);
  NPC_F_TOOLS_QUEUE_SetData(q, &rec, static_cast<int>(sizeof rec), 0);
}

void callHook(LogState& s, int level, const char* text) {
  std::lock_guard<std::mutex> lk(s.hookMu);
  if (s.hook) s.hook(level, text, s.pHookUser);
}

// The log-line path: file, console and sinks under the mutex, then the record.
void logLine(LogState& s, const char* text, int level) {
  {
    std::lock_guard<std::mutex> lk(s.mu);
    if (formatLine(s, s.bEnglishHeads ? "[Log]" : "[日志]", text)) {
      if (s.bWriteToFile) writeToFile(s);
      fanOut(s);
    }
  }
  postRecord(s, text, level);
}

std::string vformat(const char* fmt, va_list ap) {
  char stackBuf[1024];
  va_list copy;
  va_copy(copy, ap);
  int n = vsnprintf(stackBuf, sizeof stackBuf, fmt, copy);
  va_end(copy);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) < sizeof stackBuf) return std::string(stackBuf, static_cast<size_t>(n));
  try {
    std::string out(static_cast<size_t>(n) + 1, '\0');
    vsnprintf(&out[0], out.size(), fmt, ap);
    out.resize(static_cast<size_t>(n));
    return out;
  } catch (const std::bad_alloc&) {
    return std::string(stackBuf, NPC_F_TEXT_Utf8CutLen(stackBuf, sizeof stackBuf - 1, sizeof stackBuf - 1));
  }
}

}  // namespace

void NPC_F_LOG_SR_WriteLog(const char* text, int level) {
  if (!text) text = "";
  LogState& s = logState();
  logLine(s, text, level);
  callHook(s, level, text);
}

void NPC_F_LOG_SR_ShowInfo(const char* text) {
  if (!text) text = "";
  LogState& s = logState();
  {
    std::lock_guard<std::mutex> lk(s.mu);
    if (formatLine(s, s.bEnglishHeads ? "[Prompt]" : "[提示]", text)) fanOut(s);
  }
  if (s.bInfoToFile) logLine(s, text, 3);
  postRecord(s, text, 3);
  callHook(s, 3, text);
}

void NPC_F_LOG_SR_WriteLogF(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string text = vformat(fmt, ap);
  va_end(ap);
  NPC_F_LOG_SR_WriteLog(text.c_str(), 2);
}

void NPC_F_LOG_SR_ShowInfoF(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string text = vformat(fmt, ap);
  va_end(ap);
  NPC_F_LOG_SR_ShowInfo(text.c_str());
}

void NPC_F_LOG_SR_SetLogDir(const char* dir) {
  LogState& s = logState();
  std::lock_guard<std::mutex> lk(s.mu);
  std::string d = dir ? dir : "";
  s.sLogDir = d.substr(0, NPC_F_TEXT_Utf8CutLen(d.data(), d.size(), 255));
}

void NPC_F_LOG_SR_SetLogFileName(const char* name) {
  LogState& s = logState();
  std::lock_guard<std::mutex> lk(s.mu);
  if (!name) {
    s.bNamedFile = 0;
    return;
  }
  std::string n = name;
  s.sLogFileName = n.substr(0, NPC_F_TEXT_Utf8CutLen(n.data(), n.size(), 255));
  s.bNamedFile = 1;
}

void NPC_F_LOG_SR_SetMaxLogFileSize(int kilobytes) {
  LogState& s = logState();
  std::lock_guard<std::mutex> lk(s.mu);
  s.llMaxFileSize = static_cast<long long>(kilobytes) * 1024;
}

void NPC_F_LOG_SR_SetRecvLogQueue(void* queue) {
  LogState& s = logState();
  std::lock_guard<std::mutex> lk(s.mu);
  s.pRecvQueue = queue;
}

void NPC_F_LOG_SR_SetIfShowLog(int show) { logState().bHideConsole = show ? 0 : 1; }
void NPC_F_LOG_SR_SetIfShowInfoWriteFile(int flag) { logState().bInfoToFile = flag ? 1 : 0; }
void NPC_F_LOG_SR_SetIfShowEnglishLogHead(int flag) { logState().bEnglishHeads = flag ? 1 : 0; }
void NPC_F_LOG_SR_SetIfWriteLogToFile(int flag) { logState().bWriteToFile = flag ? 1 : 0; }

void NPC_F_LOG_SR_SetLineSink(int which, NPC_F_LOG_SR_LINE_SINK fn, void* user) {
  if (which < 0 || which > 1) return;
  LogState& s = logState();
  std::lock_guard<std::mutex> lk(s.mu);
  s.sinks[which].fn = fn;
  s.sinks[which].pUser = fn ? user : nullptr;
}

void NPC_F_LOG_SR_SetHook(NPC_F_LOG_SR_HOOK fn, void* user) {
  LogState& s = logState();
  std::lock_guard<std::mutex> lk(s.hookMu);
  s.hook = fn;
  s.pHookUser = fn ? user : nullptr;
}

void NPC_F_LOG_SR_SetDayFileLineCap(int lines) {
  LogState& s = logState();
  std::lock_guard<std::mutex> lk(s.mu);
  s.iDayFileLineCap = lines > 0 ? lines : kDayFileLineCap;
}

void NPC_F_LOG_SR_ResetForTest() {
  LogState& s = logState();
  {
    std::lock_guard<std::mutex> lk(s.mu);
    s.pRecvQueue = nullptr;
    s.bNamedFile = 0;
    s.sLogDir.clear();
    s.sCurrentDay.clear();
    s.iLineCount = 0;
    s.sLogFileName.clear();
    s.llMaxFileSize = 0;
    s.bWriteToFile = 1;
    s.bHideConsole = 0;
    s.bInfoToFile = 0;
    s.bEnglishHeads = 0;
    s.iDayFileLineCap = kDayFileLineCap;
  }
  NPC_F_LOG_SR_SetHook(nullptr, nullptr);
}
