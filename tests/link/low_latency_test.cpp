// The request for the driver's low-latency mode with the driver faked, alone
// and through the port on a real pseudo-terminal.
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

// The driver's settings, the requests it refuses, the calls it saw.
struct FakeDriver {
  serial_struct settings{};
  bool refuses_get = false, refuses_set = false;
  std::vector<unsigned long> calls;
} driver;

int FakeIoctl(int, unsigned long request, void* arg) {
  driver.calls.push_back(request);
  auto* s = static_cast<serial_struct*>(arg);
  if (request == TIOCGSERIAL && !driver.refuses_get) return *s = driver.settings, 0;
  if (request == TIOCSSERIAL && !driver.refuses_set) return driver.settings = *s, 0;
  return errno = EPERM, -1;
}

TEST(LowLatency, AskedOfTheDriverAndPutBackAtClosing) {
  const unsigned long G = TIOCGSERIAL, S = TIOCSSERIAL;
  const int low = ASYNC_LOW_LATENCY, other = ASYNC_SKIP_TEST;
  const struct {
    const char* what;
    int flags;
    bool refuses_get, refuses_set;
    LowLatency result;
    std::vector<unsigned long> calls;  // asking, then putting back
    int flags_asked, flags_back;
  } cases[] = {
      {"an adapter's driver", other, false, false, LowLatency::kTurnedOn, {G, S, G, S}, other | low, other},
      {"already low", other | low, false, false, LowLatency::kAlreadyOn, {G}, other | low, other | low},
      {"a pty: no serial settings", other, true, false, LowLatency::kRefused, {G}, other, other},
      {"the change refused", other, false, true, LowLatency::kRefused, {G, S}, other, other},
  };
  for (const auto& c : cases) {
    driver = FakeDriver{};
    driver.settings.flags = c.flags;
    driver.settings.closing_wait = 3000;
    driver.refuses_get = c.refuses_get;
    driver.refuses_set = c.refuses_set;
    const LowLatency got = posix::RequestLowLatency(7, FakeIoctl);
    EXPECT_EQ(got, c.result) << c.what;
    EXPECT_EQ(driver.settings.flags, c.flags_asked) << c.what;
    posix::RestoreLatency(7, got, FakeIoctl);
    EXPECT_EQ(driver.calls, c.calls) << c.what;
    EXPECT_EQ(driver.settings.flags, c.flags_back) << c.what;
    EXPECT_EQ(driver.settings.closing_wait, 3000) << c.what << ": only the flag changes";
  }

  // The port asks when it opens and puts back when it closes; the real
  // driver of a pty refuses, and the port opens all the same.
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_TRUE(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
  driver = FakeDriver{};
  for (posix::IoctlCall call : {FakeIoctl, posix::SystemIoctl}) {
    auto port = posix::CreatePosixSerialPort(call);
    ASSERT_EQ(port->OpenPort(ptsname(master)), 0);
    if (call == FakeIoctl) {
      EXPECT_EQ(driver.settings.flags, low);
    }
    port->ClosePort();
  }
  EXPECT_EQ(driver.calls, (std::vector<unsigned long>{G, S, G, S}));
  EXPECT_EQ(driver.settings.flags, 0);
  close(master);
}

}  // namespace
}  // namespace vok
