#pragma once

#include <memory>

#include "link/serial_port.h"

// The driver's low-latency mode of a serial device. A USB adapter holds a
// short reply for its latency timer (16 ms by default) before it passes it
// on; asked for low latency, an FTDI driver sets the timer to 1 ms. No
// rights are needed; a driver without the request (a pty) refuses it.
namespace vok::posix {

// The device's ioctl, so that the tests can stand in for the driver.
using IoctlCall = int (*)(int fd, unsigned long request, void* arg);
int SystemIoctl(int fd, unsigned long request, void* arg);

// What asking did, so that closing puts back only what opening changed.
enum class LowLatency { kRefused, kAlreadyOn, kTurnedOn };

// Reads the driver's serial settings and writes them back with the
// low-latency flag set; a refusal at either step changes nothing.
LowLatency RequestLowLatency(int fd, IoctlCall ioctl_call);
// Clears the flag again after kTurnedOn; nothing otherwise.
void RestoreLatency(int fd, LowLatency state, IoctlCall ioctl_call);

// The termios port with the driver's serial-settings requests made through
// ioctl_call.
std::unique_ptr<SerialPort> CreatePosixSerialPort(IoctlCall ioctl_call);

}  // namespace vok::posix
