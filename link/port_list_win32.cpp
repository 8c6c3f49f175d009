#include "link/port_list.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

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

// Windows keeps the timer in the adapter's advanced port settings.
int LatencyTimerMs(const std::string&, const std::string&) { return -1; }

std::vector<std::string> DeniedDeviceHint() { return {}; }

}  // namespace vok
