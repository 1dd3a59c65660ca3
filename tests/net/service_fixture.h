// Test helper: runs the service-packet server fixture (sim/service_server.py) as a child
// process on a loopback port of its own, sends it JSON control commands and collects the event
// lines it prints (CONN, DISC, REQ, HB, ERR, STATS).
#ifndef KORVEN_TESTS_NET_SERVICE_FIXTURE_H
#define KORVEN_TESTS_NET_SERVICE_FIXTURE_H

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

extern char** environ;

namespace korven_test {

class ServiceServer {
 public:
  explicit ServiceServer(bool quiet = false) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_addclose(&fa, in[1]);
    posix_spawn_file_actions_addclose(&fa, out[0]);
    std::string dir = sourceDir();
    posix_spawn_file_actions_addchdir_np(&fa, dir.c_str());
    std::string python = interpreter();
    std::vector<std::string> args = {python, "-u", "-m", "sim.service_server", "--port", "0"};
    if (quiet) args.push_back("--quiet");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    if (posix_spawnp(&pid_, python.c_str(), &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    close(in[0]);
    close(out[1]);
    toChild_ = in[1];
    fromChild_ = out[0];
    reader_ = std::thread([this] { readLoop(); });
    std::string line;
    if (waitFor("PORT ", 10000, &line)) port_ = static_cast<unsigned short>(std::stoi(line.substr(5)));
  }

  ~ServiceServer() {
    if (toChild_ >= 0) close(toChild_);  // end of input ends the server
    if (pid_ > 0) {
      int status = 0;
      for (int i = 0; i < 200 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (waitpid(pid_, &status, WNOHANG) == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
      }
    }
    if (reader_.joinable()) reader_.join();
    if (fromChild_ >= 0) close(fromChild_);
  }

  unsigned short port() const { return port_; }

  // KORVEN_PYTHON when set, else the system interpreter (a version-manager shim on PATH can
  // take a second to start), else python3 from PATH.
  static std::string interpreter() {
    const char* env = getenv("KORVEN_PYTHON");
    if (env && *env) return env;
    if (access("/usr/bin/python3", X_OK) == 0) return "/usr/bin/python3";
    return "python3";
  }

  // Sends one JSON command and waits for its acknowledgement.
  bool command(const std::string& json) {
    std::string cmd = json + "\n";
    size_t acksBefore = count("ACK ");
    if (write(toChild_, cmd.data(), cmd.size()) != static_cast<ssize_t>(cmd.size())) return false;
    std::unique_lock<std::mutex> lk(mu_);
    return cv_.wait_for(lk, std::chrono::seconds(10), [&] { return countLocked("ACK ") > acksBefore; });
  }

  // Waits for an event line that starts with prefix (counting from the first line, or from
  // the line index `from`); the line goes to *line.
  bool waitFor(const std::string& prefix, int timeoutMs, std::string* line = nullptr, size_t from = 0) {
    std::unique_lock<std::mutex> lk(mu_);
    return cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] {
      for (size_t i = from; i < lines_.size(); ++i) {
        if (lines_[i].compare(0, prefix.size(), prefix) == 0) {
          if (line) *line = lines_[i];
          return true;
        }
      }
      return false;
    });
  }
  // Waits until at least n lines start with prefix.
  bool waitCount(const std::string& prefix, size_t n, int timeoutMs) {
    std::unique_lock<std::mutex> lk(mu_);
    return cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return countLocked(prefix) >= n; });
  }
  size_t count(const std::string& prefix) {
    std::lock_guard<std::mutex> lk(mu_);
    return countLocked(prefix);
  }
  std::vector<std::string> lines() {
    std::lock_guard<std::mutex> lk(mu_);
    return lines_;
  }
  size_t lineCount() {
    std::lock_guard<std::mutex> lk(mu_);
    return lines_.size();
  }

 private:
  size_t countLocked(const std::string& prefix) const {
    size_t n = 0;
    for (const auto& l : lines_)
      if (l.compare(0, prefix.size(), prefix) == 0) ++n;
    return n;
  }
  void readLoop() {
    std::string partial;
    char buf[4096];
    for (;;) {
      ssize_t n = read(fromChild_, buf, sizeof buf);
      if (n <= 0) break;
      partial.append(buf, static_cast<size_t>(n));
      size_t nl;
      while ((nl = partial.find('\n')) != std::string::npos) {
        {
          std::lock_guard<std::mutex> lk(mu_);
          lines_.push_back(partial.substr(0, nl));
        }
        cv_.notify_all();
        partial.erase(0, nl + 1);
      }
    }
    cv_.notify_all();
  }

  pid_t pid_ = -1;
  int toChild_ = -1;
  int fromChild_ = -1;
  unsigned short port_ = 0;
  std::thread reader_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<std::string> lines_;
};

}  // namespace korven_test

#endif
