// The POSIX port and the link over real pseudo-terminals: termios, locks and
// real time are where a port layer goes wrong.

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "link/link_error.h"
#include "link/loader_link.h"
#include "link/serial_port_posix_termios.h"
#include "support/fake_serial_port.h"
#include "support/temp_dir.h"

namespace vok {
namespace {

using test::Bytes;
using Clock = std::chrono::steady_clock;

// Real waits are held to their lower bounds only. An upper bound on a real
// clock would time the scheduler of a loaded machine; it only catches a hang.
// The exact windows are checked on the fake port's virtual clock.
constexpr long kHangMs = 10000;

long MsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// A pty pair: the test holds the master, the code under test opens the slave.
struct Pty {
  Pty() {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_GE(master, 0);
    EXPECT_EQ(grantpt(master), 0);
    EXPECT_EQ(unlockpt(master), 0);
    slave = ptsname(master);
  }
  ~Pty() {
    if (master >= 0) close(master);
  }

  void Write(const Bytes& bytes) const {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t w = write(master, bytes.data() + done, bytes.size() - done);
      if (w > 0) {
        done += static_cast<size_t>(w);
      } else {
        pollfd p{master, POLLOUT, 0};
        poll(&p, 1, 10);
      }
    }
  }
  // Everything that arrives until the line has been quiet for quiet_ms.
  Bytes Drain(int quiet_ms = 50) const {
    Bytes all;
    uint8_t chunk[4096];
    for (;;) {
      pollfd p{master, POLLIN, 0};
      if (poll(&p, 1, quiet_ms) <= 0 || !(p.revents & POLLIN)) return all;
      const ssize_t got = read(master, chunk, sizeof chunk);
      if (got <= 0) return all;
      all.insert(all.end(), chunk, chunk + got);
    }
  }
  uint32_t Rate() const {
    uint32_t rate = 0;
    EXPECT_TRUE(posix::GetLineRate(master, rate));
    return rate;
  }

  int master = -1;
  std::string slave;
};

// A pty whose slave the platform port has opened.
struct OpenPty : Pty {
  OpenPty() { EXPECT_EQ(port->OpenPort(slave), 0); }
  std::unique_ptr<SerialPort> port = CreatePlatformSerialPort();
};

int OpenFds() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d)) ++n;
    closedir(d);
  }
  return n;
}

TEST(LinkPty, DeviceIsHeldExclusively) {
  Pty pty;
  auto first = CreatePlatformSerialPort();
  ASSERT_EQ(first->OpenPort(pty.slave), 0);
  EXPECT_EQ(first->Baud(), 9600u);

  // A second opener in this process, whatever its rights.
  auto second = CreatePlatformSerialPort();
  const int fds = OpenFds();
  EXPECT_EQ(second->OpenPort(pty.slave), kErrPortOpen);
  EXPECT_EQ(second->LastOpenFailure().kind, PortOpenFailure::kBusy);
  EXPECT_EQ(OpenFds(), fds);

  // And in another process.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto port = CreatePlatformSerialPort();
    _exit(port->OpenPort(pty.slave) == kErrPortOpen ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  // The same port object does not take a second device either.
  Pty other;
  EXPECT_EQ(first->OpenPort(other.slave), kErrPortOpen);

  first->ClosePort();
  EXPECT_EQ(second->OpenPort(pty.slave), 0);
  second->ClosePort();

  // Closing also clears the exclusive flag, which would otherwise outlive the
  // descriptor and shut out a later opener without root rights.
  if (geteuid() == 0) {
    ASSERT_EQ(chmod(pty.slave.c_str(), 0666), 0);
    const pid_t user = fork();
    ASSERT_GE(user, 0);
    if (user == 0) {
      if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
      auto port = CreatePlatformSerialPort();
      _exit(port->OpenPort(pty.slave) == 0 ? 0 : 1);
    }
    ASSERT_EQ(waitpid(user, &status, 0), user);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  }
}

TEST(LinkPty, MissingOrUnfitDevicesWithTheirReasons) {
  test::TempDir dir;
  const std::string file = dir.file("not-a-tty");
  std::ofstream(file) << "x";
  auto port = CreatePlatformSerialPort();
  const int fds = OpenFds();
  struct Case {
    std::string device;
    int code;
    PortOpenFailure::Kind kind;
    const char* reason;
  };
  // A read-only kernel setting refuses writing even to root: the reason a
  // user outside the serial devices' group meets.
  for (const Case& c : std::vector<Case>{
           {dir.file("missing"), kErrPortOpen, PortOpenFailure::kMissing, "No such file or directory"},
           {"", kErrPortOpen, PortOpenFailure::kMissing, "No such file or directory"},
           {"/proc/sys/kernel/osrelease", kErrPortOpen, PortOpenFailure::kDenied, "Permission denied"},
           {file, kErrPortSetup, PortOpenFailure::kSetup, "Inappropriate ioctl for device"},
           {"/dev/null", kErrPortSetup, PortOpenFailure::kSetup, "Inappropriate ioctl for device"}}) {
    SCOPED_TRACE(c.device);
    EXPECT_EQ(port->OpenPort(c.device), c.code);
    const PortOpenFailure& f = port->LastOpenFailure();
    EXPECT_EQ(f.kind, c.kind);
    EXPECT_EQ(f.code, c.code);
    EXPECT_EQ(f.device, c.device);
    EXPECT_EQ(f.reason, c.reason);
  }
  EXPECT_EQ(OpenFds(), fds);  // nothing left open

  // A successful open forgets the last failure.
  Pty pty;
  ASSERT_EQ(port->OpenPort(pty.slave), 0);
  EXPECT_EQ(port->LastOpenFailure().kind, PortOpenFailure::kNone);
}

TEST(LinkPty, LineIsRaw8N1WithoutFlowControl) {
  OpenPty pty;
  termios t{};
  ASSERT_EQ(tcgetattr(pty.master, &t), 0);  // a master reports its slave's settings
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | INPCK | ISTRIP | ICRNL | IGNCR | INLCR | PARMRK), 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(pty.Rate(), 9600u);

  // Bytes pass untouched both ways, CR, LF, XON, XOFF and NUL included.
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
  ASSERT_EQ(pty.port->WritePort(all.size(), all.data()), 0);
  EXPECT_EQ(pty.Drain(), all);
  pty.Write(all);
  Bytes got;
  uint8_t b = 0;
  while (got.size() < all.size() && pty.port->ReadPortByte(&b, 200) == 0) got.push_back(b);
  EXPECT_EQ(got, all);

  // Any rate, and nothing but the rate changes; 0 is refused but stored.
  EXPECT_EQ(pty.port->SetPortBaud(250000), 0);
  EXPECT_EQ(pty.Rate(), 250000u);
  termios after{};
  ASSERT_EQ(tcgetattr(pty.master, &after), 0);
  EXPECT_EQ(after.c_iflag, t.c_iflag);
  EXPECT_EQ(after.c_lflag, t.c_lflag);
  EXPECT_EQ(after.c_oflag, t.c_oflag);
  EXPECT_EQ(pty.port->SetPortBaud(0), kErrPortSetup);
  EXPECT_EQ(pty.port->Baud(), 0u);
  EXPECT_EQ(pty.Rate(), 250000u);
  EXPECT_EQ(pty.port->SetPortBaud(38400), 0);
}

TEST(LinkPty, SilentLineTimesOutWithinBounds) {
  OpenPty pty;
  uint8_t b = 0;
  for (uint32_t t : {0u, 100u, 250u}) {
    const auto start = Clock::now();
    EXPECT_EQ(pty.port->ReadPortByte(&b, t), kErrTimeout);
    const long elapsed = MsSince(start);
    EXPECT_GE(elapsed, static_cast<long>(t) + 110) << "T=" << t;
    EXPECT_LT(elapsed, static_cast<long>(t) + kHangMs) << "T=" << t;
  }
  // A byte a little after T is still taken.
  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    pty.Write({0x42});
  });
  EXPECT_EQ(pty.port->ReadPortByte(&b, 100), 0);
  EXPECT_EQ(b, 0x42);
  late.join();
}

TEST(LinkPty, HungUpLineKeepsItsTiming) {
  OpenPty pty;
  close(pty.master);  // the far end is gone: reads fail at once from now on
  pty.master = -1;
  uint8_t b = 0;
  const auto start = Clock::now();
  const std::clock_t cpu = std::clock();
  EXPECT_EQ(pty.port->ReadPortByte(&b, 100), kErrTimeout);
  const long elapsed = MsSince(start);
  EXPECT_GE(elapsed, 210);
  EXPECT_LT(elapsed, kHangMs);
  EXPECT_LT(std::clock() - cpu, CLOCKS_PER_SEC / 20);  // waited, did not spin
  const uint8_t one = 1;
  EXPECT_EQ(pty.port->WritePort(1, &one), kErrWrite);
  EXPECT_LT(MsSince(start), kHangMs);
}

// The descriptor through which this process has the device open, or -1.
int OpenDescriptorOf(const std::string& device) {
  char target[PATH_MAX];
  for (int fd = 0; fd < 1024; ++fd) {
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target, static_cast<size_t>(n)) == device) return fd;
  }
  return -1;
}

// Waits until the terminal's input queue holds n bytes: a pty hands bytes
// on from its master asynchronously.
bool WaitQueued(int fd, int n) {
  const auto start = Clock::now();
  int queued = 0;
  while (ioctl(fd, FIONREAD, &queued) == 0 && queued < n) {
    if (MsSince(start) > kHangMs) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return queued >= n;
}

TEST(LinkPty, PurgeDiscardsPendingInput) {
  OpenPty pty;
  const int fd = OpenDescriptorOf(pty.slave);
  ASSERT_GE(fd, 0);
  pty.Write({'a', 'b', 'c'});
  ASSERT_TRUE(WaitQueued(fd, 3));
  uint8_t b = 0;
  ASSERT_EQ(pty.port->ReadPortByte(&b, 100), 0);  // the port has read ahead "bc"
  EXPECT_EQ(b, 'a');
  pty.Write({'d', 'e'});
  ASSERT_TRUE(WaitQueued(fd, 2));
  pty.port->PurgePortInput();
  EXPECT_EQ(pty.port->ReadPortByte(&b, 0), kErrTimeout);
  pty.Write({'z'});
  ASSERT_EQ(pty.port->ReadPortByte(&b, 100), 0);
  EXPECT_EQ(b, 'z');
}

TEST(LinkPty, WriteCutShortGivesUpAndPortStaysUsable) {
  OpenPty pty;
  // Nobody reads the master: small writes fill it, then one times out
  // after 10 * 64 + 100 ms.
  const Bytes chunk(64, 0x55);
  int result = 0;
  long elapsed = 0;
  for (int i = 0; i < 20000 && result == 0; ++i) {
    const auto start = Clock::now();
    result = pty.port->WritePort(chunk.size(), chunk.data());
    elapsed = MsSince(start);
  }
  ASSERT_EQ(result, kErrWrite);
  EXPECT_GE(elapsed, 740);
  EXPECT_LT(elapsed, kHangMs);

  pty.Drain();
  const Bytes hello = {'h', 'e', 'l', 'l', 'o'};
  EXPECT_EQ(pty.port->WritePort(hello.size(), hello.data()), 0);
  EXPECT_EQ(pty.Drain(), hello);
}

// A target loader on the master side. It learns the rate the tool has set
// from the master's view of the line whenever bytes arrive, and answers
// only when that rate equals its own.
class PtyLoader {
 public:
  struct Heard {
    Bytes packet;
    uint32_t rate;
    Clock::time_point at;
  };
  // Gives the reply packet for a request (nullopt: no answer) and may move
  // the loader's own rate, which takes effect after the reply went out.
  using Answer = std::function<std::optional<Bytes>(const Bytes& packet, uint32_t& rate)>;

  PtyLoader(const Pty& pty, uint32_t rate, Answer answer)
      : pty_(pty), rate_(rate), answer_(std::move(answer)), thread_([this] { Run(); }) {}
  ~PtyLoader() {
    stop_ = true;
    thread_.join();
  }
  std::vector<Heard> heard() {
    std::lock_guard<std::mutex> lock(mutex_);
    return heard_;
  }

 private:
  void Run() {
    Bytes stream;
    uint8_t chunk[4096];
    while (!stop_) {
      pollfd p{pty_.master, POLLIN, 0};
      if (poll(&p, 1, 10) <= 0) continue;
      if (!(p.revents & POLLIN)) {  // no slave open yet, or closed again
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        continue;
      }
      const ssize_t got = read(pty_.master, chunk, sizeof chunk);
      if (got <= 0) continue;
      const uint32_t line_rate = pty_.Rate();
      stream.insert(stream.end(), chunk, chunk + got);
      while (auto packet = test::TakeFrame(stream)) {
        {
          std::lock_guard<std::mutex> lock(mutex_);
          heard_.push_back({*packet, line_rate, Clock::now()});
        }
        if (line_rate != rate_) continue;  // garbage at another rate
        uint32_t next = rate_;
        if (auto reply = answer_(*packet, next)) pty_.Write(test::Frame(*reply));
        rate_ = next;
      }
    }
  }

  const Pty& pty_;
  uint32_t rate_;
  Answer answer_;
  std::mutex mutex_;
  std::vector<Heard> heard_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

const Bytes kProbe = {0x00, 0x01, 0x01};

// Answers the probe, and the rate packet with reply_length bytes naming the
// rate asked for, to which it then moves.
PtyLoader::Answer Negotiating(size_t reply_length = 7) {
  return [reply_length](const Bytes& packet, uint32_t& rate) -> std::optional<Bytes> {
    if (packet == kProbe) return Bytes{0x00, 0x01, 0x01};
    if (packet.size() == 7 && packet[2] == 0x03) {
      rate = static_cast<uint32_t>(packet[3]) << 24 | packet[4] << 16 | packet[5] << 8 | packet[6];
      Bytes reply = packet;
      reply.resize(reply_length);
      return reply;
    }
    return std::nullopt;
  };
}

TEST(LinkPtyNegotiation, LoaderAtTheFallbackRateIsMovedUp) {
  Pty pty;
  PtyLoader loader(pty, 9600, Negotiating());
  LoaderLink link;
  link.SetPortTable({{"COM1", pty.slave}});
  ASSERT_EQ(link.OpenLink("COM1", 38400), 0);
  EXPECT_TRUE(link.IsOpen());
  EXPECT_EQ(link.Port().Baud(), 38400u);
  EXPECT_EQ(pty.Rate(), 38400u);

  const auto heard = loader.heard();
  std::vector<std::pair<Bytes, uint32_t>> got;
  for (const auto& h : heard) got.emplace_back(h.packet, h.rate);
  const Bytes to_38400 = {0x00, 0x05, 0x03, 0x00, 0x00, 0x96, 0x00};
  ASSERT_EQ(got, (decltype(got){{kProbe, 38400}, {kProbe, 9600}, {to_38400, 9600}, {kProbe, 38400}}));
  EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(heard[3].at - heard[2].at).count(), 500);
}

TEST(LinkPtyNegotiation, ShortAnswerToTheRatePacketClosesThePort) {
  Pty pty;
  PtyLoader loader(pty, 9600, Negotiating(6));
  LoaderLink link;
  EXPECT_EQ(link.OpenLink(pty.slave, 38400), kErrPortSetup);
  EXPECT_FALSE(link.IsOpen());
  EXPECT_EQ(loader.heard().size(), 3u);
  auto again = CreatePlatformSerialPort();
  EXPECT_EQ(again->OpenPort(pty.slave), 0);  // released
}

TEST(LinkPtyExchange, LargestPacketsCrossIntactAt250000) {
  Pty pty;
  Bytes reply(1500);
  reply[0] = 0x05;
  reply[1] = 0xDA;
  for (size_t i = 2; i < reply.size(); ++i) reply[i] = static_cast<uint8_t>(i * 13);
  PtyLoader loader(pty, 250000, [&](const Bytes&, uint32_t&) { return reply; });
  LoaderLink link;
  link.SetPortTable({{"COM1", pty.slave}});
  ASSERT_EQ(link.OpenLinkPlain(0, 250000), 0);
  EXPECT_EQ(pty.Rate(), 250000u);

  Bytes request(1498);
  for (size_t i = 0; i < request.size(); ++i) request[i] = static_cast<uint8_t>(i * 7 + 3);
  Bytes got(1500);
  ASSERT_EQ(link.ExchangePacket(1498, request.data(), 1500, got.data(), 20), 1498);
  EXPECT_EQ(Bytes(got.begin(), got.begin() + 1498), Bytes(reply.begin() + 2, reply.end()));

  const auto heard = loader.heard();
  ASSERT_EQ(heard.size(), 1u);
  Bytes expected(request);
  expected.insert(expected.begin(), {0x0D, 0xDA});
  EXPECT_EQ(heard[0].packet, expected);
}

}  // namespace
}  // namespace vok
