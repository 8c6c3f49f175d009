#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace vok::test {

// voksim in a process of its own, for end-to-end tests over its
// pseudo-terminal. Starts the voksim that lies beside the test binary with
// the given arguments and waits (up to startup_ms) for the first line of its
// standard output, the terminal's path. The destructor stops it.
class VoksimProcess {
 public:
  explicit VoksimProcess(const std::vector<std::string>& args, int startup_ms = 10000);
  ~VoksimProcess();
  VoksimProcess(const VoksimProcess&) = delete;
  VoksimProcess& operator=(const VoksimProcess&) = delete;

  // The slave device the host opens; empty when the start failed.
  const std::string& device() const { return device_; }
  bool started() const { return !device_.empty(); }
  pid_t pid() const { return pid_; }
  bool Running();

  // SIGTERM, then waits for the end. The exit code (0 to 255), 128 + the
  // signal for a process killed by one, -1 when none was started. Repeated
  // calls give the same result.
  int Stop();
  // What it wrote to standard output after the first line (complete once
  // Stop returned).
  const std::string& output() const { return output_; }

  // The voksim binary beside the running executable.
  static std::string BinaryPath();

 private:
  void Collect(int timeout_ms);

  pid_t pid_ = -1;
  int out_fd_ = -1;
  int exit_code_ = -1;
  bool reaped_ = false;
  std::string device_;
  std::string buffer_;
  std::string output_;
};

}  // namespace vok::test
