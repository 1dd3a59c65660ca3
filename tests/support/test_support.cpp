// Log capture, fake clock guard and paths for the test suites.
#include "test_support.h"

#include <cstdlib>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "runtime/clock.h"
#include "runtime/log.h"

namespace korven_test {

LogCapture::LogCapture() {
  NPC_F_LOG_SR_SetIfShowLog(0);
  NPC_F_LOG_SR_SetIfWriteLogToFile(0);
  NPC_F_LOG_SR_SetHook(&LogCapture::hook, this);
}

LogCapture::~LogCapture() { NPC_F_LOG_SR_SetHook(nullptr, nullptr); }

void LogCapture::hook(int level, const char* text, void* user) {
  auto* self = static_cast<LogCapture*>(user);
  {
    std::lock_guard<std::mutex> lk(self->mu_);
    self->lines_.push_back({level, text ? text : ""});
  }
  self->cv_.notify_all();
}

std::vector<LogCapture::Line> LogCapture::lines() const {
  std::lock_guard<std::mutex> lk(mu_);
  return lines_;
}

int LogCapture::count(const std::string& needle) const {
  std::lock_guard<std::mutex> lk(mu_);
  int n = 0;
  for (const auto& l : lines_)
    if (l.text.find(needle) != std::string::npos) ++n;
  return n;
}

bool LogCapture::waitFor(const std::string& needle, int timeoutMs) const {
  std::unique_lock<std::mutex> lk(mu_);
  return cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] {
    for (const auto& l : lines_)
      if (l.text.find(needle) != std::string::npos) return true;
    return false;
  });
}

void LogCapture::clear() {
  std::lock_guard<std::mutex> lk(mu_);
  lines_.clear();
}

FakeClock::FakeClock(int64_t tickMs, int64_t wallSeconds) { NPC_F_SYS_CLOCK_InstallFake(tickMs, wallSeconds); }
FakeClock::~FakeClock() { NPC_F_SYS_CLOCK_RemoveFake(); }
void FakeClock::advance(int64_t ms) { NPC_F_SYS_CLOCK_Advance(ms); }
void FakeClock::setWall(int64_t seconds) { NPC_F_SYS_CLOCK_SetWallTime(seconds); }

std::string sourceDir() {
  const char* env = std::getenv("KORVEN_SOURCE_DIR");
  return env && *env ? env : KORVEN_SOURCE_DIR;
}

unsigned short closedPort() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  if (s < 0) return 0;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t n = sizeof a;
  const bool ok = bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                  getsockname(s, reinterpret_cast<sockaddr*>(&a), &n) == 0;
  close(s);
  return ok ? ntohs(a.sin_port) : 0;
}

}  // namespace korven_test
