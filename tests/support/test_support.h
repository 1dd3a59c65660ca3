// Helpers shared by the test suites: capture of the process log through its hook, a guard
// that installs the fake clock for one test, and a seeded random generator.
#ifndef KORVEN_TESTS_SUPPORT_H
#define KORVEN_TESTS_SUPPORT_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

namespace korven_test {

// Collects every log line (WriteLog and ShowInfo) while it lives. Also silences the console
// and file output of the log for the test's duration.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  struct Line {
    int level;
    std::string text;
  };
  std::vector<Line> lines() const;
  // Number of captured lines whose text contains needle.
  int count(const std::string& needle) const;
  bool contains(const std::string& needle) const { return count(needle) > 0; }
  // Waits (real time) until a line containing needle was captured.
  bool waitFor(const std::string& needle, int timeoutMs) const;
  void clear();

 private:
  static void hook(int level, const char* text, void* user);
  mutable std::mutex mu_;
  mutable std::condition_variable cv_;
  std::vector<Line> lines_;
};

// Installs the fake clock for its lifetime (tick and wall start where given).
class FakeClock {
 public:
  explicit FakeClock(int64_t tickMs = 1000000, int64_t wallSeconds = 1700000000);
  ~FakeClock();
  FakeClock(const FakeClock&) = delete;
  FakeClock& operator=(const FakeClock&) = delete;
  void advance(int64_t ms);
  void setWall(int64_t seconds);
};

// Polls cond (real time) until it holds or timeoutMs passes; for conditions that another
// thread makes true and that offer nothing to wait on.
template <typename F>
bool eventually(F cond, int timeoutMs = 5000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!cond()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// The repository's root (from KORVEN_SOURCE_DIR), for test data and simulators.
std::string sourceDir();

// A loopback TCP port that nothing listens on (bound, read back and closed), for refused connects.
unsigned short closedPort();

}  // namespace korven_test

#endif
