#include "link/port_list.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <utility>

#include "link/ascii.h"

namespace vok {

bool IsComName(const std::string& name, int& index) {
  if (name.size() != 4 || !StartsWithNoCase(name, "COM")) return false;
  if (name[3] < '1' || name[3] > '4') return false;
  index = name[3] - '1';
  return true;
}

const char* PortKindName(PortKind kind) {
  switch (kind) {
    case PortKind::kUart: return "UART";
    case PortKind::kUsb: return "USB adapter";
    case PortKind::kAcm: return "USB modem-class";
    case PortKind::kNoUart: break;
  }
  return "no UART";
}

PortTable WithComDefaults(PortTable configured, const std::vector<SerialPortInfo>& ports) {
  // An adapter that an entry names has its number already.
  std::vector<SerialPortInfo> free;
  for (const SerialPortInfo& p : ports) {
    bool named = false;
    for (const auto& [name, device] : configured) named = named || FindSerialPort({p}, device) != nullptr;
    if (!named || p.kind == PortKind::kUart) free.push_back(p);
  }
  const std::vector<std::string> defaults = ComDefaults(free);
  for (size_t i = 0; i < defaults.size(); ++i)
    configured.emplace("COM" + std::to_string(i + 1), defaults[i]);  // a configured entry wins
  return configured;
}

const SerialPortInfo* FindSerialPort(const std::vector<SerialPortInfo>& ports,
                                     const std::string& device) {
  namespace fs = std::filesystem;
  for (const SerialPortInfo& p : ports) {
    if (device == p.device || device == p.stable_name || device == p.socket_name ||
        (!p.com_name.empty() && SameNoCase(device, p.com_name)))
      return &p;
  }
  // Another name of the same file: a by-id link named by hand, "/dev/./ttyUSB0".
  std::error_code ec;
  const fs::path target = fs::canonical(device, ec);
  if (ec) return nullptr;
  for (const SerialPortInfo& p : ports) {
    std::error_code ec2;
    if (fs::canonical(p.device, ec2) == target && !ec2) return &p;
  }
  return nullptr;
}

std::string PortIdentity(const SerialPortInfo* port, const std::string& given) {
  auto last_part = [](const std::string& name) {
    const size_t slash = name.find_last_of("/\\");
    return slash == std::string::npos ? name : name.substr(slash + 1);
  };
  std::string name = given;
  // A by-id name without the adapter's serial number is the same for two
  // adapters of one make: then their sockets tell them apart.
  if (port && !port->stable_name.empty() && (!port->serial_number.empty() || port->socket_name.empty())) {
    // Windows' device instance is whole only with its enumerator and ids.
    name = port->stable_name.find('/') != std::string::npos ? last_part(port->stable_name)
                                                            : port->stable_name;
  } else if (port && !port->socket_name.empty()) {
    name = last_part(port->socket_name);
  } else {
    // "/dev/ttyUSB0" as "dev_ttyUSB0", "\\.\COM5" as "COM5".
    while (!name.empty() && (name[0] == '/' || name[0] == '\\' || name[0] == '.')) name.erase(0, 1);
  }
  for (char& c : name) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '_' || c == '-';
    if (!plain) c = '_';
  }
  // Never a folder of dots alone.
  if (name.find_first_not_of('.') == std::string::npos) name = "port" + name;
  return name;
}

SerialPortInfo WindowsPortFromRegistry(const std::string& instance, const std::string& mfg,
                                       const std::string& service, const std::string& com_name) {
  SerialPortInfo info;
  info.com_name = com_name;
  info.device = "\\\\.\\" + com_name;
  // Mfg may come as an indirect string "@oem12.inf,%ftdi%;FTDI": its text follows the ';'.
  info.maker = mfg.substr(mfg.find(';') == std::string::npos ? 0 : mfg.find(';') + 1);
  const bool usb = StartsWithNoCase(instance, "USB\\") || StartsWithNoCase(instance, "FTDIBUS\\");
  if (!usb) {
    info.kind = PortKind::kUart;
    return info;
  }
  info.kind = SameNoCase(service, "usbser") ? PortKind::kAcm : PortKind::kUsb;
  // The ids follow "VID_" and "PID_", four hex digits each.
  auto hex_after = [&instance](const char* key) {
    const std::string upper_key = key;
    for (size_t i = 0; i + upper_key.size() + 4 <= instance.size(); ++i) {
      if (!StartsWithNoCase(std::string_view(instance).substr(i), upper_key)) continue;
      const std::string digits = instance.substr(i + upper_key.size(), 4);
      char* end = nullptr;
      const long v = std::strtol(digits.c_str(), &end, 16);
      if (end == digits.c_str() + 4) return static_cast<int>(v);
    }
    return -1;
  };
  info.vendor_id = hex_after("VID_");
  info.product_id = hex_after("PID_");
  // USB\VID&PID\SERIAL: the last part is the adapter's serial number unless the
  // system made it up from the socket ("5&2a8f3b6&0&2"). FTDIBUS puts the
  // serial number after the ids: VID_0403+PID_6001+A50285BIA\0000.
  const size_t first = instance.find('\\');
  const size_t last = instance.find_last_of('\\');
  std::string serial;
  if (StartsWithNoCase(instance, "FTDIBUS\\")) {
    const std::string ids = instance.substr(first + 1, last - first - 1);
    const size_t plus = ids.find_last_of('+');
    if (plus != std::string::npos) serial = ids.substr(plus + 1);
  } else if (last != first && last != std::string::npos) {
    serial = instance.substr(last + 1);
  }
  if (!serial.empty() && serial.find('&') == std::string::npos) {
    info.serial_number = serial;
    info.stable_name = instance;
  }
  return info;
}

std::vector<std::string> PortFailureLines(const PortOpenFailure& f, const std::string& name) {
  const std::string device = f.device.empty() ? name : f.device;
  const std::string which = device == name || name.empty() ? device : device + " (" + name + ")";
  switch (f.kind) {
    case PortOpenFailure::kNone:
      // Nothing was opened: the name stands for no device.
      return {"cannot open " + which + ": no device of this name"};
    case PortOpenFailure::kBusy:
      return {"cannot open " + which + ": the device is held by another program (" + f.reason + ")"};
    case PortOpenFailure::kSetup:
      return {"cannot set up " + which + " as a serial line: " + f.reason};
    case PortOpenFailure::kDenied: {
      std::vector<std::string> lines{"cannot open " + which + ": " + f.reason};
      for (std::string& hint : DeniedDeviceHint()) lines.push_back(std::move(hint));
      return lines;
    }
    case PortOpenFailure::kMissing:
    case PortOpenFailure::kOther:
      break;
  }
  return {"cannot open " + which + ": " + f.reason};
}

}  // namespace vok
