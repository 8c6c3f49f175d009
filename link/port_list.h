#pragma once

#include <string>
#include <vector>

#include "link/loader_link.h"
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
  // The names by USB socket, and the kernel's view of each tty (its UART
  // type, the USB device behind it).
  std::string socket_names = "/dev/serial/by-path";
  std::string tty_classes = "/sys/class/tty";
  // Where the USB serial adapters' attributes are (their latency timer).
  std::string sysfs = "/sys";

  // The same tree beneath another root, as a test builds one.
  static SerialDeviceRoots Beneath(const std::string& root) {
    return {root + "/dev", root + "/dev/serial/by-id", root + "/dev/serial/by-path",
            root + "/sys/class/tty", root + "/sys"};
  }
};

// What stands behind a serial device.
enum class PortKind {
  kUart,    // a UART of the machine's own (or one of unknown kind: it is kept)
  kUsb,     // a USB serial adapter
  kAcm,     // a USB device that is a modem-class serial line itself
  kNoUart,  // a device name the kernel has no UART behind
};
const char* PortKindName(PortKind kind);

// One serial device with what the system knows of it; the texts are empty
// and the ids -1 where it knows nothing.
struct SerialPortInfo {
  std::string device;       // "/dev/ttyUSB0", "\\.\COM5"
  PortKind kind = PortKind::kUart;
  std::string stable_name;  // by serial number: "/dev/serial/by-id/usb-..."; on Windows the
                            // device instance when it holds the adapter's serial number
  std::string socket_name;  // by USB socket: "/dev/serial/by-path/pci-...-usb-0:2:1.0-port0"
  int vendor_id = -1;
  int product_id = -1;
  std::string maker;
  std::string product;
  std::string serial_number;
  std::string com_name;  // Windows: the system's COMn
  int latency_timer_ms = -1;  // an FTDI adapter's, where sysfs gives it
};

// The serial devices present, in natural device order (ttyS2 before ttyS10),
// each with its names and its USB identity; the devices without a UART
// behind them are left out. Windows: the system's COM ports with what its
// device registry tells of them.
std::vector<SerialPortInfo> SerialPorts(const SerialDeviceRoots& roots = {});

// The devices COM1 to COM4 stand for when the settings name none. Linux:
// COMn is /dev/ttyS(n-1) when a UART is behind it; the numbers left free go
// to the USB and modem-class adapters present in the order of their stable
// names (those without one after them, in device order); a number left over
// keeps /dev/ttyS(n-1). Windows: the system's own COMn.
std::vector<std::string> ComDefaults(const std::vector<SerialPortInfo>& ports);

// The port table of a run: the entries configured (the [Ports] section, the
// command line) and COM1 to COM4 from ComDefaults where none is configured.
PortTable WithComDefaults(PortTable configured, const std::vector<SerialPortInfo>& ports);

// The port of this device among those listed (the device as given, or any
// name that leads to the same file); null when none.
const SerialPortInfo* FindSerialPort(const std::vector<SerialPortInfo>& ports,
                                     const std::string& device);

// The name of a port that survives replugging, for its folder: the stable
// name's last part when it holds the adapter's serial number, else the
// socket name's (a production slot), else the device as given; only
// letters, digits and ". _ -" (anything else becomes '_').
std::string PortIdentity(const SerialPortInfo* port, const std::string& given);

// The parse of what the Windows device registry answers for one COM port:
// its device instance ("USB\VID_0403&PID_6001\A50285BI",
// "FTDIBUS\VID_0403+PID_6001+A50285BIA\0000", "ACPI\PNP0501\1"), the
// values Mfg and Service of that key, and the port's name. Apart from the
// calls so that it is tested on every system.
SerialPortInfo WindowsPortFromRegistry(const std::string& instance, const std::string& mfg,
                                       const std::string& service, const std::string& com_name);

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
