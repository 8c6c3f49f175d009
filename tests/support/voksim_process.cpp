#include "support/voksim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>

extern char** environ;

namespace vok::test {

std::string VoksimProcess::BinaryPath() {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return (self.parent_path() / "voksim").string();
}

VoksimProcess::VoksimProcess(const std::vector<std::string>& args, int startup_ms) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  const std::string binary = BinaryPath();
  std::vector<std::string> all{binary};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  const int r = posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  out_fd_ = fds[0];
  if (r != 0) {
    pid_ = -1;
    return;
  }
  using clock = std::chrono::steady_clock;
  const auto deadline = clock::now() + std::chrono::milliseconds(startup_ms);
  while (buffer_.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
    if (left <= 0) break;
    pollfd p{out_fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) {
      if (errno == EINTR) continue;
      break;
    }
    char chunk[512];
    const ssize_t n = read(out_fd_, chunk, sizeof chunk);
    if (n <= 0) break;
    buffer_.append(chunk, static_cast<size_t>(n));
  }
  const size_t nl = buffer_.find('\n');
  if (nl != std::string::npos) {
    device_ = buffer_.substr(0, nl);
    buffer_.erase(0, nl + 1);
  }
}

VoksimProcess::~VoksimProcess() {
  Stop();
  if (out_fd_ >= 0) close(out_fd_);
}

bool VoksimProcess::Running() {
  if (pid_ < 0 || reaped_) return false;
  int status = 0;
  const pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == pid_) {
    reaped_ = true;
    exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
  }
  return true;
}

void VoksimProcess::Collect(int timeout_ms) {
  if (out_fd_ < 0) return;
  for (;;) {
    pollfd p{out_fd_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) break;
    char chunk[4096];
    const ssize_t n = read(out_fd_, chunk, sizeof chunk);
    if (n <= 0) break;
    buffer_.append(chunk, static_cast<size_t>(n));
  }
  output_ = buffer_;
}

int VoksimProcess::Stop() {
  if (pid_ < 0) return -1;
  if (!reaped_) {
    kill(pid_, SIGTERM);
    int status = 0;
    // A voksim that ignores SIGTERM for 10 s is killed, so a test never hangs.
    for (int i = 0; i < 1000; ++i) {
      const pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_ || r < 0) break;
      if (i == 999) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
      }
      usleep(10000);
    }
    reaped_ = true;
    exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  // The writer is gone: read to the end of the pipe.
  Collect(1000);
  return exit_code_;
}

}  // namespace vok::test
