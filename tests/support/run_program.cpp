// Child processes for the program tests: posix_spawn with standard output and error sent to
// temporary files, a bounded wait, and the captured text read back.
#include "run_program.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace korven_test {

namespace {

std::string readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

std::string tempPath(const char* what) {
  char tmpl[] = "/tmp/korven_prog_XXXXXX";
  const int fd = mkstemp(tmpl);
  if (fd >= 0) close(fd);
  return std::string(tmpl) + what;
}

}  // namespace

ProgramResult runProgram(const std::string& path, const std::vector<std::string>& args, int timeoutMs) {
  ProgramResult r;
  const std::string base = tempPath("");
  const std::string outPath = base + ".out", errPath = base + ".err";
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&fa, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, path.c_str(), &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) return r;
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const pid_t w = waitpid(pid, &status, WNOHANG);
    if (w == pid) break;
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      status = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (status != -1 && WIFEXITED(status)) r.exitCode = WEXITSTATUS(status);
  r.out = readFile(outPath);
  r.err = readFile(errPath);
  unlink(outPath.c_str());
  unlink(errPath.c_str());
  unlink(base.c_str());
  return r;
}

}  // namespace korven_test
