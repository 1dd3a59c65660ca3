// The stdio file helpers: open modes, writing, size, rewinding, raw reads and both line
// readers (growth of the line buffer, CR/LF stripping, end-of-file codes, long lines).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "runtime/file.h"

namespace {

class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = ::testing::TempDir() + "korven_file_XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    ASSERT_GE(fd, 0);
    close(fd);
    path_ = name.data();
  }
  void TearDown() override { unlink(path_.c_str()); }

  // Writes content through the library (mode 4 "wb") and checks the size it reports.
  void writeAll(const std::string& content) {
    void* f = NPC_F_OpenFile(path_.c_str(), 4);
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(NPC_F_WriteString(f, content.c_str()), 1);
    EXPECT_EQ(NPC_F_GetFileSize(f), static_cast<int64_t>(content.size())) << "buffered bytes count";
    NPC_F_CloseFile(f);
  }

  std::string path_;
};

TEST_F(FileTest, ReadLineStripsLineEndsGrowsItsBufferAndEndsWithMinusOne) {
  const std::string longLine(10000, 'L');
  writeAll("first\r\nsecond\n\n" + longLine + "\r\n\r\nlast");
  void* f = NPC_F_OpenFile(path_.c_str(), 3);
  ASSERT_NE(f, nullptr);
  char* line = nullptr;
  int cap = 0;
  struct Want {
    int len;
    std::string text;
  };
  const std::vector<Want> want = {{5, "first"}, {6, "second"}, {0, ""}, {10000, longLine}, {0, ""}, {4, "last"}};
  for (const auto& w : want) {
    ASSERT_EQ(NPC_F_ReadLine(f, &line, &cap), w.len);
    EXPECT_EQ(std::string(line), w.text);
    EXPECT_EQ(cap % 4096, 0) << "grown in steps of 4096";
  }
  EXPECT_EQ(cap, 12288) << "10000 bytes and the line end need three steps";
  EXPECT_EQ(NPC_F_ReadLine(f, &line, &cap), -1);
  EXPECT_EQ(NPC_F_ReadLine(f, &line, &cap), -1);

  ASSERT_EQ(NPC_F_SetFileBeginPos(f), 1);
  ASSERT_EQ(NPC_F_ReadLine(f, &line, &cap), 5);
  EXPECT_STREQ(line, "first");
  NPC_F_FreeReadBuf(&line);
  EXPECT_EQ(line, nullptr);
  NPC_F_CloseFile(f);
}

// A line of exactly 4095 characters and its LF fills the first 4096 bytes; the buffer must
// grow once for the NUL rather than drop or overrun.
TEST_F(FileTest, ReadLineAtTheGrowthBoundary) {
  const std::string a(4095, 'a'), b(4096, 'b');
  writeAll(a + "\n" + b + "\n");
  void* f = NPC_F_OpenFile(path_.c_str(), 0);  // any other mode: "r"
  ASSERT_NE(f, nullptr);
  char* line = nullptr;
  int cap = 0;
  ASSERT_EQ(NPC_F_ReadLine(f, &line, &cap), 4095);
  EXPECT_EQ(std::string(line), a);
  ASSERT_EQ(NPC_F_ReadLine(f, &line, &cap), 4096);
  EXPECT_EQ(std::string(line), b);
  EXPECT_EQ(NPC_F_ReadLine(f, &line, &cap), -1);
  NPC_F_FreeReadBuf(&line);
  NPC_F_CloseFile(f);
}

TEST_F(FileTest, ReadLineExReturnsLongLinesInPiecesAndMinusNineAtTheEnd) {
  const std::string exact(40959, 'x'), longer(50000, 'y');
  writeAll("short\r\n" + exact + "\n" + longer + "\nend");
  void* f = NPC_F_OpenFile(path_.c_str(), 3);
  ASSERT_NE(f, nullptr);
  char* line = nullptr;
  ASSERT_EQ(NPC_F_ReadLineEx(f, &line), 5);
  EXPECT_STREQ(line, "short");
  ASSERT_EQ(NPC_F_ReadLineEx(f, &line), 40959);
  EXPECT_EQ(std::string(line), exact);
  ASSERT_EQ(NPC_F_ReadLineEx(f, &line), 40959) << "the first piece of the long line";
  ASSERT_EQ(NPC_F_ReadLineEx(f, &line), 50000 - 40959);
  EXPECT_EQ(std::string(line), std::string(50000 - 40959, 'y'));
  ASSERT_EQ(NPC_F_ReadLineEx(f, &line), 3);
  EXPECT_STREQ(line, "end");
  EXPECT_EQ(NPC_F_ReadLineEx(f, &line), -9);
  EXPECT_EQ(NPC_F_ReadLineEx(f, &line), -9);
  NPC_F_CloseFile(f);
}

TEST_F(FileTest, ModesWriteCharsReadDataAndSize) {
  void* f = NPC_F_OpenFile(path_.c_str(), 5);  // "w+b": truncate, read and write
  ASSERT_NE(f, nullptr);
  for (char c : std::string("abc\n")) ASSERT_EQ(NPC_F_WriteChar(f, c), 1);
  ASSERT_EQ(NPC_F_WriteString(f, "def"), 1);
  EXPECT_EQ(NPC_F_GetFileSize(f), 7);
  ASSERT_EQ(NPC_F_SetFileBeginPos(f), 1);
  char buf[16] = {};
  EXPECT_EQ(NPC_F_ReadData(f, buf, sizeof buf), 7);
  EXPECT_EQ(std::string(buf, 7), "abc\ndef");
  EXPECT_EQ(NPC_F_ReadData(f, buf, sizeof buf), 0);
  NPC_F_CloseFile(f);

  f = NPC_F_OpenFile(path_.c_str(), 1);  // "w" truncates
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(NPC_F_GetFileSize(f), 0);
  NPC_F_CloseFile(f);

  EXPECT_EQ(NPC_F_OpenFile((path_ + ".missing").c_str(), 3), nullptr);
  EXPECT_EQ(NPC_F_OpenFile(nullptr, 3), nullptr);
}

TEST(FileNull, NullHandlesFailWithoutEffect) {
  char* line = nullptr;
  int cap = 0;
  char buf[4];
  EXPECT_EQ(NPC_F_ReadLine(nullptr, &line, &cap), -1);
  EXPECT_EQ(line, nullptr);
  EXPECT_EQ(NPC_F_ReadLineEx(nullptr, &line), -9);
  EXPECT_EQ(NPC_F_ReadData(nullptr, buf, 4), 0);
  EXPECT_EQ(NPC_F_WriteString(nullptr, "x"), 0);
  EXPECT_EQ(NPC_F_WriteChar(nullptr, 'x'), 0);
  EXPECT_EQ(NPC_F_GetFileSize(nullptr), -1);
  EXPECT_EQ(NPC_F_SetFileBeginPos(nullptr), 0);
  NPC_F_CloseFile(nullptr);
  NPC_F_FreeReadBuf(nullptr);
}

}  // namespace
