#pragma once

#include <string>
#include <vector>

namespace vok::test {

struct CliRun {
  int status = -1;  // exit status; -1 when it did not exit normally
  std::string out;
  std::string err;
};

// The vokloader-cli program that lies beside the running test binary.
std::string CliProgram();

// Runs a program with the given arguments in the folder cwd, standard input
// from /dev/null, standard output and error collected through pipes (so not
// terminals). Killed after timeout_s seconds.
CliRun RunProgramIn(const std::string& program, const std::vector<std::string>& args,
                    const std::string& cwd, int timeout_s = 60);

}  // namespace vok::test
