// Test helper: the service-packet server fixture (sim/service_server.py) as a child process on a
// loopback port of its own, driven through the shared simulator launcher: JSON control commands
// in, event lines (CONN, DISC, REQ, HB, ERR, STATS) out.
#ifndef KORVEN_TESTS_NET_SERVICE_FIXTURE_H
#define KORVEN_TESTS_NET_SERVICE_FIXTURE_H

#include <string>
#include <vector>

#include "support/sim_process.h"

namespace korven_test {

class ServiceServer : public SimProcess {
 public:
  explicit ServiceServer(bool quiet = false) : SimProcess("sim.service_server", args(quiet)) {}

 private:
  static std::vector<std::string> args(bool quiet) {
    std::vector<std::string> a = {"--port", "0"};
    if (quiet) a.push_back("--quiet");
    return a;
  }
};

}  // namespace korven_test

#endif
