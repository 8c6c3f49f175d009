#include "link/serial_port_posix_termios.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace vok::posix {

namespace {

bool Get(int fd, termios2& t) { return ioctl(fd, TCGETS2, &t) == 0; }

void PutRate(termios2& t, uint32_t rate) {
  t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  t.c_ospeed = rate;
  t.c_ispeed = rate;
}

// Applies the settings and checks the rate the driver really took: drivers
// that cannot make a rate round it, and beyond a few percent the bytes on
// the line are garbage, so that counts as a refusal.
bool Apply(int fd, const termios2& t, uint32_t rate) {
  if (ioctl(fd, TCSETS2, &t) != 0) return false;
  termios2 now{};
  if (!Get(fd, now)) return false;
  const uint64_t got = now.c_ospeed;
  const uint64_t want = rate;
  const uint64_t diff = got > want ? got - want : want - got;
  return diff * 100 <= want * 3;
}

}  // namespace

bool IsTerminal(int fd) {
  termios2 t{};
  return Get(fd, t);
}

bool MakeRawLine(int fd, uint32_t rate) {
  termios2 t{};
  if (!Get(fd, t)) return false;
  t.c_iflag &= ~(IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR | ICRNL |
                 IUCLC | IXON | IXANY | IXOFF | IMAXBEL);
  t.c_oflag &= ~OPOST;
  t.c_lflag &= ~(ISIG | ICANON | ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL | ECHOKE | IEXTEN |
                 NOFLSH | TOSTOP);
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  t.c_cflag |= CS8 | CLOCAL | CREAD;
  // Reads are driven by poll() with their own time-out.
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  PutRate(t, rate);
  return Apply(fd, t, rate);
}

bool SetLineRate(int fd, uint32_t rate) {
  termios2 t{};
  if (!Get(fd, t)) return false;
  PutRate(t, rate);
  return Apply(fd, t, rate);
}

bool GetLineRate(int fd, uint32_t& rate) {
  termios2 t{};
  if (!Get(fd, t)) return false;
  rate = t.c_ospeed;
  return true;
}

}  // namespace vok::posix
