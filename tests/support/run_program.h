// Runs a program of the build (korvenctl, say) as a child process with its standard output and
// error captured, for the suites that test the programs end to end.
#ifndef KORVEN_TESTS_RUN_PROGRAM_H
#define KORVEN_TESTS_RUN_PROGRAM_H

#include <string>
#include <vector>

namespace korven_test {

struct ProgramResult {
  int exitCode = -1;  // the exit status, or -1 when the program did not exit normally
  std::string out;    // standard output
  std::string err;    // standard error
};

// Runs path with the arguments (argv[0] is path), waits for it up to timeoutMs (then kills it
// and reports -1) and returns what it printed.
ProgramResult runProgram(const std::string& path, const std::vector<std::string>& args, int timeoutMs = 60000);

}  // namespace korven_test

#endif
