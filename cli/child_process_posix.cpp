#include "cli/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "app/app_folder.h"

extern char** environ;

namespace vok::cli {

std::string OwnProgram() { return ExecutableFolder() + "vokloader-cli"; }

namespace {

struct Child {
  pid_t pid = -1;
  int fd = -1;
  std::string pending;  // the part of a line read so far
  int status = -1;
};

pid_t Spawn(const std::string& program, const std::vector<std::string>& args, int& read_fd) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  // A group of its own: a terminal's Ctrl-C reaches this process alone,
  // which passes it on once. Twice would end a child at once, not at its
  // safe point.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  pid_t pid = -1;
  const int r = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (r != 0) {
    ::close(fds[0]);
    return -1;
  }
  read_fd = fds[0];
  return pid;
}

int Reap(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

std::vector<int> RunChildren(const std::string& program,
                             const std::vector<std::vector<std::string>>& args,
                             const ChildEvents& events) {
  std::vector<Child> children(args.size());
  for (size_t i = 0; i < args.size(); ++i) children[i].pid = Spawn(program, args[i], children[i].fd);
  bool stop_passed = false;
  auto last_tick = std::chrono::steady_clock::now();
  for (;;) {
    std::vector<pollfd> polled;
    std::vector<size_t> which;
    for (size_t i = 0; i < children.size(); ++i) {
      if (children[i].fd < 0) continue;
      polled.push_back({children[i].fd, POLLIN, 0});
      which.push_back(i);
    }
    if (polled.empty()) break;
    const int ready = ::poll(polled.data(), polled.size(), events.tick_ms);
    if (ready < 0 && errno != EINTR) break;
    for (size_t k = 0; ready > 0 && k < polled.size(); ++k) {
      if ((polled[k].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      Child& c = children[which[k]];
      char buf[4096];
      const ssize_t n = ::read(c.fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (!c.pending.empty() && events.line) events.line(which[k], c.pending);
        c.pending.clear();
        ::close(c.fd);
        c.fd = -1;
        continue;
      }
      c.pending.append(buf, static_cast<size_t>(n));
      for (size_t end; (end = c.pending.find('\n')) != std::string::npos;) {
        std::string line = c.pending.substr(0, end);
        c.pending.erase(0, end + 1);
        if (events.line) events.line(which[k], line);
      }
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - last_tick >= std::chrono::milliseconds(events.tick_ms)) {
      last_tick = now;
      if (events.tick) events.tick();
      if (!stop_passed && events.stop && events.stop()) {
        stop_passed = true;
        for (const Child& c : children) {
          if (c.pid > 0) ::kill(c.pid, SIGINT);
        }
      }
    }
  }
  std::vector<int> statuses;
  for (Child& c : children) statuses.push_back(c.pid > 0 ? Reap(c.pid) : -1);
  return statuses;
}

}  // namespace vok::cli
