// Kept apart: the kernel's termios2 and glibc's <termios.h> cannot share a
// translation unit.
#include "sim/pty_rate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace vok::sim {

uint32_t PtyHostRate(int master_fd) {
  struct termios2 t {};
  if (ioctl(master_fd, TCGETS2, &t) != 0) return 0;
  return t.c_ospeed;
}

}  // namespace vok::sim
