#include "link/port_list.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <map>

#include "link/ascii.h"

namespace vok {

// A device of the system itself: "\\.\COM12", or COMn beyond the four
// that the settings name.
bool IsDevicePath(const std::string& name) {
  if (name.find('\\') != std::string::npos) return true;
  if (name.size() < 4 || name.size() > 6 || !StartsWithNoCase(name, "COM") || name[3] == '0')
    return false;
  for (size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return false;
  }
  return true;
}

std::vector<std::string> SerialDevices(const SerialDeviceRoots&) {
  // The system's own COM names, with the device each stands for.
  std::vector<std::string> found;
  for (int n = 1; n <= 256; ++n) {
    std::string name = "COM" + std::to_string(n);
    char target[1024];
    if (::QueryDosDeviceA(name.c_str(), target, sizeof target) != 0)
      found.push_back("\\\\.\\" + name + " -> " + target);
  }
  return found;
}

namespace {

std::string StringValue(HKEY key, const char* name) {
  char buf[512];
  DWORD size = sizeof buf - 1;
  DWORD type = 0;
  if (::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) !=
          ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    return {};
  }
  buf[size < sizeof buf ? size : sizeof buf - 1] = '\0';
  return buf;
}

std::vector<std::string> SubKeys(HKEY key) {
  std::vector<std::string> names;
  char name[256];
  for (DWORD i = 0;; ++i) {
    DWORD size = sizeof name;
    if (::RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    names.emplace_back(name, size);
  }
  return names;
}

// The COM ports present: the values of HARDWARE\DEVICEMAP\SERIALCOMM.
std::vector<std::string> PresentComNames() {
  std::vector<std::string> names;
  HKEY key;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return names;
  for (DWORD i = 0;; ++i) {
    char value[256];
    char data[256];
    DWORD value_size = sizeof value;
    DWORD data_size = sizeof data - 1;
    DWORD type = 0;
    if (::RegEnumValueA(key, i, value, &value_size, nullptr, &type, reinterpret_cast<BYTE*>(data),
                        &data_size) != ERROR_SUCCESS)
      break;
    if (type != REG_SZ) continue;
    data[data_size < sizeof data ? data_size : sizeof data - 1] = '\0';
    names.emplace_back(data);
  }
  ::RegCloseKey(key);
  return names;
}

// Every device instance of the enumerators that make COM ports, by the port
// name its Device Parameters give: "COM5" -> what the registry says of it.
std::map<std::string, SerialPortInfo> EnumeratedPorts() {
  std::map<std::string, SerialPortInfo> found;
  for (const char* enumerator : {"USB", "FTDIBUS", "ACPI"}) {
    const std::string base = std::string("SYSTEM\\CurrentControlSet\\Enum\\") + enumerator;
    HKEY root;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, base.c_str(), 0, KEY_READ, &root) != ERROR_SUCCESS)
      continue;
    for (const std::string& device : SubKeys(root)) {
      HKEY device_key;
      if (::RegOpenKeyExA(root, device.c_str(), 0, KEY_READ, &device_key) != ERROR_SUCCESS) continue;
      for (const std::string& instance : SubKeys(device_key)) {
        HKEY instance_key;
        if (::RegOpenKeyExA(device_key, instance.c_str(), 0, KEY_READ, &instance_key) != ERROR_SUCCESS)
          continue;
        HKEY parameters;
        if (::RegOpenKeyExA(instance_key, "Device Parameters", 0, KEY_READ, &parameters) ==
            ERROR_SUCCESS) {
          const std::string port = StringValue(parameters, "PortName");
          ::RegCloseKey(parameters);
          if (!port.empty()) {
            found.emplace(port, WindowsPortFromRegistry(
                                    std::string(enumerator) + "\\" + device + "\\" + instance,
                                    StringValue(instance_key, "Mfg"),
                                    StringValue(instance_key, "Service"), port));
          }
        }
        ::RegCloseKey(instance_key);
      }
      ::RegCloseKey(device_key);
    }
    ::RegCloseKey(root);
  }
  return found;
}

}  // namespace

std::vector<SerialPortInfo> SerialPorts(const SerialDeviceRoots&) {
  std::vector<std::string> names = PresentComNames();
  if (names.empty()) {
    // Without the device map (some emulations), the names the system resolves.
    for (int n = 1; n <= 256; ++n) {
      std::string name = "COM" + std::to_string(n);
      char target[1024];
      if (::QueryDosDeviceA(name.c_str(), target, sizeof target) != 0) names.push_back(name);
    }
  }
  const std::map<std::string, SerialPortInfo> enumerated = EnumeratedPorts();
  std::vector<SerialPortInfo> ports;
  for (const std::string& name : names) {
    auto it = enumerated.find(name);
    ports.push_back(it != enumerated.end() ? it->second : WindowsPortFromRegistry("", "", "", name));
  }
  // COM2 before COM10.
  auto number = [](const SerialPortInfo& p) { return std::atoi(p.com_name.c_str() + 3); };
  std::sort(ports.begin(), ports.end(),
            [&](const SerialPortInfo& a, const SerialPortInfo& b) { return number(a) < number(b); });
  return ports;
}

std::vector<std::string> ComDefaults(const std::vector<SerialPortInfo>&) {
  std::vector<std::string> com;
  for (unsigned n = 1; n <= 4; ++n) com.push_back(SystemComDevice(n));
  return com;
}

// Windows keeps the timer in the adapter's advanced port settings.
int LatencyTimerMs(const std::string&, const std::string&) { return -1; }

std::vector<std::string> DeniedDeviceHint() { return {}; }

}  // namespace vok
