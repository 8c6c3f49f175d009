#pragma once

#include <string>
#include <vector>

#include "link/serial_port.h"

// The serial devices of this system for every front end: which names stand
// for one, where they are found, and what to tell of one that cannot be
// opened. The platform's rules live in port_list_posix.cpp and
// port_list_win32.cpp.
namespace vok {

// COM1 to COM4, the names of the port table, in any case: true with their
// index 0 to 3.
bool IsComName(const std::string& name, int& index);

// A name that the system itself takes for a serial device, so that a port
// table entry may hold it: a path on POSIX ("/dev/ttyUSB0"); "\\.\COM12" or
// COMn beyond the table's four on Windows.
bool IsDevicePath(const std::string& name);

// Where the serial devices are looked for: the device folder and the folder
// of their stable names. Windows asks the system instead and uses neither.
struct SerialDeviceRoots {
  std::string devices = "/dev";
  std::string stable_names = "/dev/serial/by-id";
  std::string sysfs = "/sys";
};

// The serial devices found, the stable names first with the device each
// stands for ("<name> -> <device>"), then the devices in natural order
// ("ttyS10" after "ttyS9"). Windows: the system's COM names with their
// devices.
std::vector<std::string> SerialDevices(const SerialDeviceRoots& roots = {});

// The latency timer in ms of the USB serial adapter behind device (a path or
// a name such as "ttyUSB0") as sysfs under sysfs_root gives it; -1 where it
// gives none (no such adapter, another driver, Windows).
int LatencyTimerMs(const std::string& sysfs_root, const std::string& device);

// What a user may do about a device they may not open; none where the system
// gives no such rule.
std::vector<std::string> DeniedDeviceHint();

// The lines that name a port that could not be opened, the device and the
// system's reason, with a hint where the user can mend it. name is the port
// table's name for the device.
std::vector<std::string> PortFailureLines(const PortOpenFailure& failure, const std::string& name);

}  // namespace vok
