// The process log: day and named files, line format, receive-queue records, sinks and hook.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "runtime/clock.h"
#include "runtime/log.h"
#include "runtime/queue.h"
#include "test_support.h"

namespace {

std::string readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

std::vector<std::string> sinkLines;
void recordSink(const char* line, int len, void*) { sinkLines.emplace_back(line, static_cast<size_t>(len)); }

// Pins the time zone to UTC, installs a fake wall clock at 2026-03-04 05:06:07 UTC, points the
// log at a fresh directory and silences the console; undoes all of it afterwards.
class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    oldTz_ = getenv("TZ") ? getenv("TZ") : "";
    setenv("TZ", "UTC", 1);
    tzset();
    NPC_F_SYS_CLOCK_InstallFake(1000, 1772600767);  // 2026-03-04 05:06:07 UTC
    NPC_F_LOG_SR_ResetForTest();
    NPC_F_LOG_SR_SetIfShowLog(0);
    char tmpl[] = "/tmp/korven-log-XXXXXX";
    dir_ = mkdtemp(tmpl);
    NPC_F_LOG_SR_SetLogDir(dir_.c_str());
    sinkLines.clear();
  }
  void TearDown() override {
    NPC_F_LOG_SR_SetLineSink(0, nullptr, nullptr);
    NPC_F_LOG_SR_ResetForTest();
    NPC_F_SYS_CLOCK_RemoveFake();
    std::string cmd = "rm -rf '" + dir_ + "'";
    if (system(cmd.c_str()) != 0) ADD_FAILURE() << "cleanup failed";
    setenv("TZ", oldTz_.c_str(), 1);
    tzset();
  }
  std::string dayFile(const char* day = "20260304") const { return dir_ + "/Log" + day + ".txt"; }

  std::string dir_;
  std::string oldTz_;
};

}  // namespace

TEST_F(LogTest, DayFileLinesCarryTimeHeadAndText) {
  NPC_F_LOG_SR_WriteLog("first", 2);
  NPC_F_LOG_SR_SetIfShowEnglishLogHead(1);
  NPC_F_LOG_SR_WriteLog("second", 2);
  EXPECT_EQ(readFile(dayFile()), "05:06:07    [日志]  first\n05:06:07    [Log]  second\n");
}

TEST_F(LogTest, DefaultDirectoryIsTheWorkingDirectory) {
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  NPC_F_LOG_SR_SetLogDir("");
  NPC_F_LOG_SR_WriteLog("here", 2);
  std::string content = readFile(dayFile());
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_EQ(content, "05:06:07    [日志]  here\n");
}

TEST_F(LogTest, DayFileIsTruncatedAtItsLineCapAndANewDayStartsANewFile) {
  NPC_F_LOG_SR_SetDayFileLineCap(3);
  for (const char* t : {"a", "b", "c", "d"}) NPC_F_LOG_SR_WriteLog(t, 2);
  EXPECT_EQ(readFile(dayFile()), "05:06:07    [日志]  d\n");
  NPC_F_SYS_CLOCK_Advance(24 * 3600 * 1000);
  NPC_F_LOG_SR_WriteLog("e", 2);
  NPC_F_LOG_SR_WriteLog("f", 2);
  NPC_F_LOG_SR_WriteLog("g", 2);  // the new day's count started at 0: no truncation yet
  EXPECT_EQ(readFile(dayFile("20260305")), "05:06:07    [日志]  e\n05:06:07    [日志]  f\n05:06:07    [日志]  g\n");
}

TEST_F(LogTest, NamedFileWithZeroCapHoldsOnlyTheLastLine) {
  std::string named = dir_ + "/named.log";
  NPC_F_LOG_SR_SetLogFileName(named.c_str());
  NPC_F_LOG_SR_SetMaxLogFileSize(0);
  NPC_F_LOG_SR_WriteLog("one", 2);
  NPC_F_LOG_SR_WriteLog("two", 2);
  EXPECT_EQ(readFile(named), "05:06:07    [日志]  two\n");
  NPC_F_LOG_SR_SetMaxLogFileSize(1);  // 1 KiB: lines accumulate
  NPC_F_LOG_SR_WriteLog("three", 2);
  EXPECT_EQ(readFile(named), "05:06:07    [日志]  two\n05:06:07    [日志]  three\n");
  NPC_F_LOG_SR_SetLogFileName(nullptr);  // back to day files
  NPC_F_LOG_SR_WriteLog("four", 2);
  EXPECT_EQ(readFile(dayFile()), "05:06:07    [日志]  four\n");
}

TEST_F(LogTest, FileWritingCanBeSwitchedOff) {
  NPC_F_LOG_SR_SetIfWriteLogToFile(0);
  NPC_F_LOG_SR_WriteLog("nowhere", 2);
  EXPECT_EQ(access(dayFile().c_str(), F_OK), -1);
}

TEST_F(LogTest, ReceiveQueueRecordsCutTheMessageAt489BytesOnACharacter) {
  void* q = nullptr;
  ASSERT_EQ(NPC_F_TOOLS_QUEUE_InitQueue(&q, 8), 1);
  NPC_F_LOG_SR_SetRecvLogQueue(q);
  std::string longText(600, 'x');
  std::string cutText = std::string(488, 'y') + "\xE4\xB8\xAD";  // 中 would straddle byte 489
  NPC_F_LOG_SR_WriteLog(longText.c_str(), 2);
  NPC_F_LOG_SR_WriteLog(cutText.c_str(), 2);
  NPC_F_LOG_SR_SetRecvLogQueue(nullptr);

  NPC_S_LOG_RECORD rec;
  int len = sizeof rec;
  ASSERT_EQ(NPC_F_TOOLS_QUEUE_GetData(q, &rec, &len, 0), 1);
  ASSERT_EQ(len, 536);
  EXPECT_STREQ(rec.sTime, "2026-03-04 05:06:07");
  EXPECT_EQ(rec.iLevel, 2);
  EXPECT_EQ(std::string(rec.sText), "2026-03-04 05:06:07  " + std::string(489, 'x'));
  len = sizeof rec;
  ASSERT_EQ(NPC_F_TOOLS_QUEUE_GetData(q, &rec, &len, 0), 1);
  EXPECT_EQ(std::string(rec.sText), "2026-03-04 05:06:07  " + std::string(488, 'y'));
  // The file keeps the whole message.
  EXPECT_NE(readFile(dayFile()).find(longText), std::string::npos);
  NPC_F_TOOLS_QUEUE_FreeQueue(&q);
}

TEST_F(LogTest, ShowInfoWithInfoToFileGoesOutTwiceAsLevelThree) {
  void* q = nullptr;
  ASSERT_EQ(NPC_F_TOOLS_QUEUE_InitQueue(&q, 8), 1);
  NPC_F_LOG_SR_SetRecvLogQueue(q);
  NPC_F_LOG_SR_SetLineSink(0, recordSink, nullptr);

  NPC_F_LOG_SR_ShowInfo("plain info");
  ASSERT_EQ(sinkLines.size(), 1u);
  EXPECT_EQ(sinkLines[0], "05:06:07    [提示]  plain info\r\n");
  EXPECT_EQ(access(dayFile().c_str(), F_OK), -1);  // information stays out of the file

  NPC_F_LOG_SR_SetIfShowInfoWriteFile(1);
  NPC_F_LOG_SR_SetIfShowEnglishLogHead(1);
  NPC_F_LOG_SR_ShowInfo("doubled");
  ASSERT_EQ(sinkLines.size(), 3u);
  EXPECT_EQ(sinkLines[1], "05:06:07    [Prompt]  doubled\r\n");
  EXPECT_EQ(sinkLines[2], "05:06:07    [Log]  doubled\r\n");
  EXPECT_EQ(readFile(dayFile()), "05:06:07    [Log]  doubled\n");

  NPC_F_LOG_SR_SetRecvLogQueue(nullptr);
  int levels[4] = {0, 0, 0, 0};
  int n = 0;
  NPC_S_LOG_RECORD rec;
  int len = sizeof rec;
  while (n < 4 && NPC_F_TOOLS_QUEUE_GetData(q, &rec, &len, 0) == 1) {
    levels[n++] = rec.iLevel;
    len = sizeof rec;
  }
  EXPECT_EQ(n, 3);  // one record for the plain call, two for the doubled one
  EXPECT_EQ(levels[0], 3);
  EXPECT_EQ(levels[1], 3);
  EXPECT_EQ(levels[2], 3);
  NPC_F_TOOLS_QUEUE_FreeQueue(&q);
}

TEST_F(LogTest, AFullReceiveQueueDropsRecordsWithoutBlocking) {
  void* q = nullptr;
  ASSERT_EQ(NPC_F_TOOLS_QUEUE_InitQueue(&q, 1), 1);
  NPC_F_LOG_SR_SetRecvLogQueue(q);
  NPC_F_LOG_SR_WriteLog("kept", 2);
  NPC_F_LOG_SR_WriteLog("dropped", 2);
  NPC_F_LOG_SR_SetRecvLogQueue(nullptr);
  EXPECT_EQ(NPC_F_TOOLS_QUEUE_GetCount(q), 1);
  NPC_F_TOOLS_QUEUE_FreeQueue(&q);
}

TEST_F(LogTest, FormattedFormsAndHookSeeTheMessage) {
  korven_test::LogCapture capture;
  NPC_F_LOG_SR_WriteLogF("NPC_F_X step%d fail.", 3);
  NPC_F_LOG_SR_ShowInfoF("info %s", "line");
  std::string big(5000, 'z');
  NPC_F_LOG_SR_WriteLogF("%s", big.c_str());  // longer than the stack buffer
  auto lines = capture.lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].level, 2);
  EXPECT_EQ(lines[0].text, "NPC_F_X step3 fail.");
  EXPECT_EQ(lines[1].level, 3);
  EXPECT_EQ(lines[1].text, "info line");
  EXPECT_EQ(lines[2].text, big);
}
