// Runs a simulator of sim/ as a child process for a test: starts
// "python3 -u -m <module> <args...>" in the repository root, waits for the line that reports its
// port ("PORT <n>" unless told otherwise), collects every line it prints, sends it control lines
// on its standard input, and stops it when the test ends (end of input first, then SIGKILL).
#ifndef KORVEN_TESTS_SUPPORT_SIM_PROCESS_H
#define KORVEN_TESTS_SUPPORT_SIM_PROCESS_H

#include <sys/types.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace korven_test {

class SimProcess {
 public:
  // Starts the simulator and waits up to startMs for its port line. ok() tells whether it came.
  SimProcess(const std::string& module, const std::vector<std::string>& args,
             const std::string& portPrefix = "PORT ", int startMs = 10000);
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  bool ok() const { return port_ != 0; }
  unsigned short port() const { return port_; }

  // Writes one line (a newline is added) to the simulator's standard input.
  bool send(const std::string& line);
  // Sends a line and waits up to timeoutMs for a further line starting with ackPrefix.
  bool command(const std::string& line, const std::string& ackPrefix = "ACK ", int timeoutMs = 10000);
  // Waits for a line starting with prefix, looking from line index `from` on.
  bool waitFor(const std::string& prefix, int timeoutMs, std::string* line = nullptr, size_t from = 0);
  // Waits until at least n lines start with prefix.
  bool waitCount(const std::string& prefix, size_t n, int timeoutMs);
  size_t count(const std::string& prefix);
  std::vector<std::string> lines();

  // Ends the simulator: closes its input, waits up to 2 s, then kills it. Idempotent.
  void stop();

  // KORVEN_PYTHON when set, else /usr/bin/python3 when present, else python3 from PATH.
  static std::string interpreter();

 private:
  void readLoop();
  size_t countLocked(const std::string& prefix) const;

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
