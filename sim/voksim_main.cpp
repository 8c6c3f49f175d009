// voksim: the simulated VOK System controller on a pseudo-terminal.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sim/command_line.h"
#include "sim/pty_rate.h"
#include "sim/simulator.h"

namespace {

using vok::sim::CommandLine;
using vok::sim::Simulator;

constexpr uint64_t kMs = 1000000;
// With --realtime, bytes go out at most this much after their time (but the
// last byte of a reply always on time), so a fast line costs few wake-ups.
constexpr uint64_t kBatchNs = 2 * kMs;

uint64_t MonotonicNs() {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count());
}

bool WriteStats(const std::string& path, const vok::sim::Stats& s) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) return false;
  std::fprintf(f,
               "{\n  \"bytes_to_host\": %llu,\n  \"bytes_from_host\": %llu,\n  \"flash_busy_ms\": %.3f,\n"
               "  \"frames_from_host\": %llu,\n  \"frames_ignored\": %llu,\n  \"replies\": %llu,\n"
               "  \"erases\": %llu,\n  \"programs\": %llu,\n  \"bytes_not_understood\": %llu,\n"
               "  \"noise_hits\": %llu,\n  \"reads\": %llu,\n  \"data_replies\": %llu,\n  \"checksums\": %llu,\n"
               "  \"checksum_bytes\": %llu\n}\n",
               static_cast<unsigned long long>(s.bytes_to_host),
               static_cast<unsigned long long>(s.bytes_from_host), static_cast<double>(s.flash_busy_ns) / 1e6,
               static_cast<unsigned long long>(s.frames_from_host),
               static_cast<unsigned long long>(s.frames_ignored), static_cast<unsigned long long>(s.replies),
               static_cast<unsigned long long>(s.erases), static_cast<unsigned long long>(s.programs),
               static_cast<unsigned long long>(s.bytes_not_understood),
               static_cast<unsigned long long>(s.noise_hits), static_cast<unsigned long long>(s.reads),
               static_cast<unsigned long long>(s.data_replies),
               static_cast<unsigned long long>(s.checksums),
               static_cast<unsigned long long>(s.checksum_bytes));
  return std::fclose(f) == 0;
}

// Replaces a stale symbolic link at path; refuses to replace anything else.
bool MakeLink(const std::string& path, const std::string& target) {
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      std::fprintf(stderr, "voksim: %s exists and is not a symbolic link\n", path.c_str());
      return false;
    }
    unlink(path.c_str());
  }
  if (symlink(target.c_str(), path.c_str()) != 0) {
    std::fprintf(stderr, "voksim: cannot make the link %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  return true;
}

// Removes the link only if it is still ours.
void RemoveLink(const std::string& path, const std::string& target) {
  char buf[4096];
  const ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
  if (n > 0 && std::string(buf, static_cast<size_t>(n)) == target) unlink(path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  CommandLine cl;
  std::string error;
  if (vok::sim::ParseCommandLine(args, cl, error) != 0) {
    std::fprintf(stderr, "voksim: %s\nTry 'voksim --help'.\n", error.c_str());
    return 2;
  }
  if (cl.help) {
    std::fputs(vok::sim::UsageText().c_str(), stdout);
    return 0;
  }
  signal(SIGPIPE, SIG_IGN);

  // The stop signals are read from a descriptor, so the loop below never
  // sees an interrupted call.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGHUP);
  sigprocmask(SIG_BLOCK, &stop_signals, nullptr);
  const int sig_fd = signalfd(-1, &stop_signals, SFD_CLOEXEC | SFD_NONBLOCK);

  Simulator sim(cl.options);
  if (!sim.StartError().empty()) {
    std::fprintf(stderr, "voksim: %s\n", sim.StartError().c_str());
    return 1;
  }

  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char slave_name[256] = {};
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
      ptsname_r(master, slave_name, sizeof slave_name) != 0) {
    std::fprintf(stderr, "voksim: cannot open a pseudo-terminal: %s\n", std::strerror(errno));
    return 1;
  }
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  const std::string slave = slave_name;
  // Our own slave descriptor keeps the terminal alive between the host's
  // opens (no hang-up on the master) and lets us start it raw: an echoing
  // line discipline would send our replies back to us.
  const int keep = open(slave_name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (keep >= 0) {
    struct termios t {};
    if (tcgetattr(keep, &t) == 0) {
      cfmakeraw(&t);
      cfsetspeed(&t, B9600);
      tcsetattr(keep, TCSANOW, &t);
    }
  }
  if (!cl.link.empty() && !MakeLink(cl.link, slave)) return 1;

  std::printf("%s\n", slave.c_str());
  std::fflush(stdout);

  if (cl.options.realtime) prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

  const uint64_t t0 = MonotonicNs();
  auto now = [t0] { return MonotonicNs() - t0; };
  std::vector<uint8_t> pending;  // taken from the simulator, not yet written
  size_t written = 0;
  std::vector<uint8_t> in(4096);
  bool stop = false;

  while (!stop) {
    if (written == pending.size()) {
      pending.clear();
      written = 0;
    }
    sim.TakeReplyBytes(now(), pending);
    while (written < pending.size()) {
      const ssize_t w = write(master, pending.data() + written, pending.size() - written);
      if (w > 0) {
        written += static_cast<size_t>(w);
      } else if (w < 0 && errno == EINTR) {
        continue;
      } else {
        if (w < 0 && errno != EAGAIN) written = pending.size();  // nobody to take them
        break;
      }
    }

    struct pollfd fds[2] = {{master, POLLIN, 0}, {sig_fd, POLLIN, 0}};
    struct timespec timeout {};
    struct timespec* wait = nullptr;
    if (written < pending.size()) {
      fds[0].events |= POLLOUT;
    } else if (auto next = sim.NextReplyDue()) {
      const uint64_t t = now();
      const uint64_t wake = std::min(*next + kBatchNs, *sim.LastReplyDue());
      const uint64_t delta = wake > t ? wake - t : 0;
      timeout.tv_sec = static_cast<time_t>(delta / 1000000000ull);
      timeout.tv_nsec = static_cast<long>(delta % 1000000000ull);
      wait = &timeout;
    }
    const int r = ppoll(fds, 2, wait, nullptr);
    if (r < 0 && errno != EINTR) break;
    if (r <= 0) continue;

    if (fds[1].revents & POLLIN) {
      struct signalfd_siginfo info {};
      if (read(sig_fd, &info, sizeof info) > 0) stop = true;
    }
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      bool got = false;
      for (;;) {
        const ssize_t n = read(master, in.data(), in.size());
        if (n > 0) {
          got = true;
          // The rate the host's port has now is the rate these bytes were
          // sent at; the host changes it only between exchanges.
          sim.HostBytes(in.data(), static_cast<size_t>(n), vok::sim::PtyHostRate(master), now());
          continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break;
      }
      // A hang-up with nothing to read (no slave open): do not spin.
      if (!got && !(fds[0].revents & POLLIN)) usleep(10000);
    }
  }

  sim.SaveState();
  if (!cl.link.empty()) RemoveLink(cl.link, slave);
  const vok::sim::Stats& s = sim.stats();
  std::printf("bytes to host: %llu\nbytes from host: %llu\n", static_cast<unsigned long long>(s.bytes_to_host),
              static_cast<unsigned long long>(s.bytes_from_host));
  std::fflush(stdout);
  if (!cl.stats_file.empty() && !WriteStats(cl.stats_file, s)) {
    std::fprintf(stderr, "voksim: %s: cannot be written\n", cl.stats_file.c_str());
  }
  if (keep >= 0) close(keep);
  close(master);
  return 0;
}
