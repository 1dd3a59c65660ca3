// Child-process runner for the simulators of sim/.
#include "sim_process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "test_support.h"

extern char** environ;

namespace korven_test {

SimProcess::SimProcess(const std::string& module, const std::vector<std::string>& args,
                       const std::string& portPrefix, int startMs) {
  int in[2], out[2];
  if (pipe(in) != 0) return;
  if (pipe(out) != 0) {
    close(in[0]);
    close(in[1]);
    return;
  }
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in[0], 0);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_addclose(&fa, in[1]);
  posix_spawn_file_actions_addclose(&fa, out[0]);
  const std::string dir = sourceDir();
  posix_spawn_file_actions_addchdir_np(&fa, dir.c_str());
  const std::string python = interpreter();
  std::vector<std::string> all = {python, "-u", "-m", module};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  if (posix_spawnp(&pid_, python.c_str(), &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&fa);
  close(in[0]);
  close(out[1]);
  toChild_ = in[1];
  fromChild_ = out[0];
  reader_ = std::thread([this] { readLoop(); });
  std::string line;
  if (pid_ > 0 && waitFor(portPrefix, startMs, &line))
    port_ = static_cast<unsigned short>(std::atoi(line.c_str() + portPrefix.size()));
}

SimProcess::~SimProcess() { stop(); }

void SimProcess::stop() {
  if (toChild_ >= 0) {
    close(toChild_);
    toChild_ = -1;
  }
  if (pid_ > 0) {
    int status = 0;
    for (int i = 0; i < 200 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (waitpid(pid_, &status, WNOHANG) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
    pid_ = -1;
  }
  if (reader_.joinable()) reader_.join();
  if (fromChild_ >= 0) {
    close(fromChild_);
    fromChild_ = -1;
  }
}

std::string SimProcess::interpreter() {
  const char* env = getenv("KORVEN_PYTHON");
  if (env && *env) return env;
  if (access("/usr/bin/python3", X_OK) == 0) return "/usr/bin/python3";
  return "python3";
}

bool SimProcess::send(const std::string& line) {
  if (toChild_ < 0) return false;
  const std::string l = line + "\n";
  return write(toChild_, l.data(), l.size()) == static_cast<ssize_t>(l.size());
}

bool SimProcess::command(const std::string& line, const std::string& ackPrefix, int timeoutMs) {
  const size_t before = count(ackPrefix);
  if (!send(line)) return false;
  return waitCount(ackPrefix, before + 1, timeoutMs);
}

bool SimProcess::waitFor(const std::string& prefix, int timeoutMs, std::string* line, size_t from) {
  std::unique_lock<std::mutex> lk(mu_);
  return cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] {
    for (size_t i = from; i < lines_.size(); ++i)
      if (lines_[i].compare(0, prefix.size(), prefix) == 0) {
        if (line) *line = lines_[i];
        return true;
      }
    return false;
  });
}

bool SimProcess::waitCount(const std::string& prefix, size_t n, int timeoutMs) {
  std::unique_lock<std::mutex> lk(mu_);
  return cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return countLocked(prefix) >= n; });
}

size_t SimProcess::count(const std::string& prefix) {
  std::lock_guard<std::mutex> lk(mu_);
  return countLocked(prefix);
}

std::vector<std::string> SimProcess::lines() {
  std::lock_guard<std::mutex> lk(mu_);
  return lines_;
}

size_t SimProcess::countLocked(const std::string& prefix) const {
  size_t n = 0;
  for (const auto& l : lines_)
    if (l.compare(0, prefix.size(), prefix) == 0) ++n;
  return n;
}

void SimProcess::readLoop() {
  std::string partial;
  char buf[4096];
  for (;;) {
    const ssize_t n = read(fromChild_, buf, sizeof buf);
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

}  // namespace korven_test
