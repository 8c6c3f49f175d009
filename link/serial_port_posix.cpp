// The serial port over POSIX termios (Linux: termios2 for arbitrary rates).

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "link/link_error.h"
#include "link/serial_latency_posix.h"
#include "link/serial_port.h"
#include "link/serial_port_posix_termios.h"

namespace vok {

namespace {

uint64_t MonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

uint64_t DeadlineAfterMs(uint64_t ms) { return MonotonicNs() + ms * 1000000u; }

// Whole milliseconds left, rounded up so that a wait never ends early.
int RemainingMs(uint64_t deadline_ns) {
  const uint64_t now = MonotonicNs();
  if (now >= deadline_ns) return 0;
  const uint64_t left = (deadline_ns - now + 999999u) / 1000000u;
  return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

void SleepUntil(uint64_t deadline_ns) {
  const timespec until{static_cast<time_t>(deadline_ns / 1000000000u),
                       static_cast<long>(deadline_ns % 1000000000u)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
}

std::string Text(int error) { return std::strerror(error); }

PortOpenFailure::Kind KindOf(int error) {
  switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
      return PortOpenFailure::kMissing;
    case EACCES:
    case EPERM:
      return PortOpenFailure::kDenied;
    case EBUSY:
      return PortOpenFailure::kBusy;
    default:
      return PortOpenFailure::kOther;
  }
}

class PosixSerialPort final : public SerialPort {
 public:
  explicit PosixSerialPort(posix::IoctlCall ioctl_call) : ioctl_call_(ioctl_call) {}
  ~PosixSerialPort() override { ClosePort(); }

  int OpenPort(const std::string& device) override {
    // This port already holds a device; a second one would leak it.
    if (fd_ >= 0) return OpenFailed(kErrPortOpen, PortOpenFailure::kBusy, EBUSY, device, Text(EBUSY));
    OpenSucceeded();
    if (device.empty() || device.find('\0') != std::string::npos)
      return OpenFailed(kErrPortOpen, PortOpenFailure::kMissing, ENOENT, device, Text(ENOENT));
    // Non-blocking, so that neither the open (carrier) nor a write can hang;
    // reads and writes wait in poll() under their own time-outs.
    const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return OpenFailed(kErrPortOpen, KindOf(errno), errno, device, Text(errno));
    // Everything below closes the descriptor again and keeps the reason.
    auto refuse = [&](int code, PortOpenFailure::Kind kind, int error) {
      ioctl(fd, TIOCNXCL);
      close(fd);
      return OpenFailed(code, kind, error, device, Text(error));
    };
    // A non-terminal is refused before it is locked: there is nothing to hold.
    if (!posix::IsTerminal(fd)) return refuse(kErrPortSetup, PortOpenFailure::kSetup, ENOTTY);
    // TIOCEXCL does not stop a second opener with root rights; the lock does.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      close(fd);
      return OpenFailed(kErrPortOpen, error == EWOULDBLOCK ? PortOpenFailure::kBusy : KindOf(error),
                        error, device, Text(error));
    }
    if (ioctl(fd, TIOCEXCL) != 0) return refuse(kErrPortSetup, PortOpenFailure::kSetup, errno);
    baud_ = 9600;
    errno = 0;
    if (!posix::MakeRawLine(fd, 9600)) {
      // A rate the device bends without complaint leaves no errno.
      const int error = errno != 0 ? errno : EINVAL;
      return refuse(kErrPortSetup, PortOpenFailure::kSetup, error);
    }
    // Opening raised DTR and RTS; the controller expects them low. Devices
    // without modem lines (ptys) refuse this, which is harmless.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, TIOCMBIC, &lines);
    // Stop-and-wait pays a USB adapter's hold of every short reply once per
    // exchange; a driver that refuses is left as it was.
    low_latency_ = posix::RequestLowLatency(fd, ioctl_call_);
    tcflush(fd, TCIFLUSH);
    fd_ = fd;
    head_ = tail_ = 0;
    return 0;
  }

  int SetPortBaud(uint32_t rate) override {
    if (fd_ < 0 || !posix::IsTerminal(fd_)) return kErrPortSetup;
    baud_ = rate;
    // Rate 0 means "hang up" to termios.
    if (rate == 0 || !posix::SetLineRate(fd_, rate)) return kErrPortSetup;
    return 0;
  }

  int WritePort(size_t n, const uint8_t* bytes) override {
    if (fd_ < 0) return kErrWrite;
    const uint64_t deadline = DeadlineAfterMs(10ull * n + 100);
    size_t done = 0;
    while (done < n) {
      const ssize_t w = write(fd_, bytes + done, n - done);
      if (w > 0) {
        done += static_cast<size_t>(w);
        continue;
      }
      if (w < 0 && errno == EINTR) continue;
      if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK) break;
      const int left = RemainingMs(deadline);
      if (left == 0) break;
      pollfd p{fd_, POLLOUT, 0};
      const int r = poll(&p, 1, left);
      if (r < 0 && errno != EINTR) break;
      if (r > 0 && !(p.revents & POLLOUT)) break;  // hang-up or error
    }
    if (done == n) return 0;
    // Drop what is still queued so a torn frame does not trickle out later.
    tcflush(fd_, TCOFLUSH);
    return kErrWrite;
  }

  void PurgePortInput() override {
    head_ = tail_ = 0;
    if (fd_ >= 0) tcflush(fd_, TCIFLUSH);
  }

  void ClosePort() override {
    if (fd_ < 0) return;
    // The exclusive flag outlives our descriptor while the other side of a
    // pty stays open; clear it for the next opener.
    ioctl(fd_, TIOCNXCL);
    // The driver's mode outlives the descriptor; give the next program the
    // adapter as it was.
    posix::RestoreLatency(fd_, low_latency_, ioctl_call_);
    low_latency_ = posix::LowLatency::kRefused;
    flock(fd_, LOCK_UN);
    close(fd_);
    fd_ = -1;
    head_ = tail_ = 0;
  }

  // A wait measured on the millisecond tick can end up to 1 ms short, as its
  // start is truncated; the loader's rate switch needs the full pause.
  void BusyWait(uint32_t ms) override { SleepUntil(DeadlineAfterMs(ms)); }

  uint32_t TickCount() override { return static_cast<uint32_t>(MonotonicNs() / 1000000u); }

 protected:
  int ReadAttempt(uint8_t* byte) override {
    if (head_ < tail_) {
      *byte = buffer_[head_++];
      return 1;
    }
    if (fd_ < 0) return 0;
    const uint64_t deadline = DeadlineAfterMs(kAttemptMs);
    for (;;) {
      pollfd p{fd_, POLLIN, 0};
      const int r = poll(&p, 1, RemainingMs(deadline));
      if (r == 0) return 0;
      if (r < 0) {
        if (errno == EINTR) continue;
        break;
      }
      if (p.revents & POLLIN) {
        // One read takes everything pending: one system call per byte is
        // needless at high rates.
        const ssize_t got = read(fd_, buffer_, sizeof buffer_);
        if (got > 0) {
          head_ = 1;
          tail_ = static_cast<size_t>(got);
          *byte = buffer_[0];
          return 1;
        }
        if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
          if (RemainingMs(deadline) == 0) return 0;
          continue;
        }
      }
      break;
    }
    // Hang-up or a device error: spend the rest of the attempt instead of
    // spinning, as a silent attempt would.
    SleepUntil(deadline);
    return 0;
  }

  // The termios line has no error state that blocks later reads.
  bool ClearPortError() override { return fd_ >= 0; }

 private:
  posix::IoctlCall ioctl_call_;
  posix::LowLatency low_latency_ = posix::LowLatency::kRefused;
  int fd_ = -1;
  uint8_t buffer_[4096] = {};
  size_t head_ = 0;
  size_t tail_ = 0;
};

}  // namespace

std::unique_ptr<SerialPort> CreatePlatformSerialPort() {
  return std::make_unique<PosixSerialPort>(posix::SystemIoctl);
}

std::unique_ptr<SerialPort> posix::CreatePosixSerialPort(IoctlCall ioctl_call) {
  return std::make_unique<PosixSerialPort>(ioctl_call);
}

std::string SystemComDevice(unsigned n) { return "/dev/ttyS" + std::to_string(n - 1); }

}  // namespace vok
