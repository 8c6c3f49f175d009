#include "link/serial_latency_posix.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

namespace vok::posix {

int SystemIoctl(int fd, unsigned long request, void* arg) { return ioctl(fd, request, arg); }

LowLatency RequestLowLatency(int fd, IoctlCall ioctl_call) {
  serial_struct settings{};
  if (ioctl_call(fd, TIOCGSERIAL, &settings) != 0) return LowLatency::kRefused;
  if (settings.flags & ASYNC_LOW_LATENCY) return LowLatency::kAlreadyOn;
  // Everything else goes back as the driver gave it: only the flag changes.
  settings.flags |= ASYNC_LOW_LATENCY;
  if (ioctl_call(fd, TIOCSSERIAL, &settings) != 0) return LowLatency::kRefused;
  return LowLatency::kTurnedOn;
}

void RestoreLatency(int fd, LowLatency state, IoctlCall ioctl_call) {
  if (state != LowLatency::kTurnedOn) return;
  serial_struct settings{};
  if (ioctl_call(fd, TIOCGSERIAL, &settings) != 0) return;
  settings.flags &= ~ASYNC_LOW_LATENCY;
  ioctl_call(fd, TIOCSSERIAL, &settings);
}

}  // namespace vok::posix
