#pragma once

#include <cstdint>

// Line settings of a Linux serial device through termios2, so that any rate
// can be set (BOTHER). Kept apart because the kernel's <asm/termbits.h>
// cannot share a translation unit with the C library's <termios.h>.
namespace vok::posix {

// True when fd is a terminal whose line settings can be read.
bool IsTerminal(int fd);

// Raw 8N1 at the rate: no parity, no flow control in either direction,
// receiver on, modem status ignored, no input or output processing.
// False when the device refuses the settings or the rate.
bool MakeRawLine(int fd, uint32_t rate);

// Changes nothing but the rate. False when it cannot be read or applied,
// or when the device applies a rate too far from the one asked for.
bool SetLineRate(int fd, uint32_t rate);

// The output rate the device reports (on a pty master: the slave's).
bool GetLineRate(int fd, uint32_t& rate);

}  // namespace vok::posix
