// The request for the driver's low-latency mode, with the driver's serial
// settings faked and, through the port, on a real pseudo-terminal.
#include <fcntl.h>
#include <linux/serial.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "link/serial_latency_posix.h"

namespace vok {
namespace {

using posix::LowLatency;

// The driver as the fake ioctl plays it: its settings, which requests it
// refuses, and every call it saw.
struct FakeDriver {
  serial_struct settings{};
  bool refuses_get = false;
  bool refuses_set = false;
  std::vector<unsigned long> calls;
  std::vector<int> fds;
};
FakeDriver* driver = nullptr;

int FakeIoctl(int fd, unsigned long request, void* arg) {
  driver->calls.push_back(request);
  driver->fds.push_back(fd);
  auto* s = static_cast<serial_struct*>(arg);
  if (request == TIOCGSERIAL) {
    if (driver->refuses_get) return errno = ENOTTY, -1;
    *s = driver->settings;
    return 0;
  }
  if (request == TIOCSSERIAL) {
    if (driver->refuses_set) return errno = EPERM, -1;
    driver->settings = *s;
    return 0;
  }
  return errno = EINVAL, -1;
}

TEST(LowLatency, AskedOfTheDriverAndPutBackAtClosing) {
  struct Case {
    const char* what;
    int flags;  // the driver's before
    bool refuses_get, refuses_set;
    LowLatency result;
    std::vector<unsigned long> request_calls, restore_calls;
    int flags_after_request, flags_after_restore;
  };
  const unsigned long G = TIOCGSERIAL, S = TIOCSSERIAL;
  const int low = ASYNC_LOW_LATENCY, other = ASYNC_SKIP_TEST;
  const Case cases[] = {
      {"an adapter's driver", other, false, false, LowLatency::kTurnedOn, {G, S}, {G, S}, other | low, other},
      {"already low", other | low, false, false, LowLatency::kAlreadyOn, {G}, {}, other | low, other | low},
      {"a pty: no serial settings", other, true, false, LowLatency::kRefused, {G}, {}, other, other},
      {"a driver that refuses the change", other, false, true, LowLatency::kRefused, {G, S}, {}, other, other},
  };
  for (const Case& c : cases) {
    FakeDriver d;
    driver = &d;
    d.settings.flags = c.flags;
    d.settings.baud_base = 3000000;
    d.settings.closing_wait = 3000;
    d.refuses_get = c.refuses_get;
    d.refuses_set = c.refuses_set;
    const LowLatency got = posix::RequestLowLatency(7, FakeIoctl);
    EXPECT_EQ(got, c.result) << c.what;
    EXPECT_EQ(d.calls, c.request_calls) << c.what;
    EXPECT_EQ(d.settings.flags, c.flags_after_request) << c.what;
    d.calls.clear();
    posix::RestoreLatency(7, got, FakeIoctl);
    EXPECT_EQ(d.calls, c.restore_calls) << c.what;
    EXPECT_EQ(d.settings.flags, c.flags_after_restore) << c.what;
    // Only the flag changes: the rest goes back as the driver gave it.
    EXPECT_EQ(d.settings.baud_base, 3000000) << c.what;
    EXPECT_EQ(d.settings.closing_wait, 3000) << c.what;
    driver = nullptr;
  }
}

TEST(LowLatency, ThePortAsksWhenItOpensAndPutsBackWhenItCloses) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string slave = ptsname(master);

  FakeDriver d;
  driver = &d;
  auto port = posix::CreatePosixSerialPort(FakeIoctl);
  ASSERT_EQ(port->OpenPort(slave), 0);
  EXPECT_EQ(d.calls, (std::vector<unsigned long>{TIOCGSERIAL, TIOCSSERIAL}));
  EXPECT_EQ(d.settings.flags, ASYNC_LOW_LATENCY);
  EXPECT_EQ(d.fds[0], d.fds[1]);
  port->ClosePort();
  EXPECT_EQ(d.settings.flags, 0);
  EXPECT_EQ(d.calls.size(), 4u);
  driver = nullptr;

  // The real driver of a pty refuses, and the port opens all the same.
  auto real = posix::CreatePosixSerialPort(posix::SystemIoctl);
  EXPECT_EQ(real->OpenPort(slave), 0);
  real->ClosePort();
  close(master);
}

}  // namespace
}  // namespace vok
