#include "link/port_list.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <tuple>

namespace vok {

namespace fs = std::filesystem;

namespace {

// "ttyS10" after "ttyS9".
bool DeviceOrder(const std::string& a, const std::string& b) {
  auto split = [](const std::string& n) {
    size_t d = n.size();
    while (d > 0 && n[d - 1] >= '0' && n[d - 1] <= '9') --d;
    unsigned long number = d < n.size() ? std::strtoul(n.c_str() + d, nullptr, 10) : 0;
    return std::make_tuple(n.substr(0, d), number, n);
  };
  return split(a) < split(b);
}

bool IsSerialName(const std::string& name) {
  for (const char* prefix : {"ttyS", "ttyUSB", "ttyACM"}) {
    std::string p = prefix;
    if (name.size() > p.size() && name.compare(0, p.size(), p) == 0 &&
        std::all_of(name.begin() + p.size(), name.end(),
                    [](char c) { return c >= '0' && c <= '9'; })) {
      return true;
    }
  }
  return false;
}

}  // namespace

bool IsDevicePath(const std::string& name) { return name.find('/') != std::string::npos; }

std::vector<std::string> SerialDevices(const SerialDeviceRoots& roots) {
  std::vector<std::string> found;
  std::error_code ec;
  // Stable names first: they survive replugging, so they belong in [Ports].
  std::vector<std::string> by_id;
  fs::path id_dir = fs::path(roots.stable_names);
  for (auto it = fs::directory_iterator(id_dir, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    by_id.push_back(it->path().filename().string());
  }
  std::sort(by_id.begin(), by_id.end());
  for (const std::string& name : by_id) {
    fs::path p = id_dir / name;
    std::error_code ec2;
    fs::path target = fs::canonical(p, ec2);
    found.push_back(p.string() + (ec2 ? std::string() : " -> " + target.string()));
  }
  std::vector<std::string> ttys;
  ec.clear();
  for (auto it = fs::directory_iterator(roots.devices, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (IsSerialName(name)) ttys.push_back(name);
  }
  std::sort(ttys.begin(), ttys.end(), DeviceOrder);
  for (const std::string& name : ttys) found.push_back((fs::path(roots.devices) / name).string());
  return found;
}

int LatencyTimerMs(const std::string& sysfs_root, const std::string& device) {
  // A stable name stands for the device it links to.
  std::error_code ec;
  fs::path resolved = fs::canonical(device, ec);
  const std::string name = (ec ? fs::path(device) : resolved).filename().string();
  if (name.empty() || name == "." || name == "..") return -1;
  std::ifstream in(fs::path(sysfs_root) / "bus/usb-serial/devices" / name / "latency_timer");
  long ms = -1;
  if (!(in >> ms) || ms < 0 || ms > 255) return -1;
  return static_cast<int>(ms);
}

std::vector<std::string> DeniedDeviceHint() {
#ifdef __linux__
  return {"serial devices belong to the group dialout: add the user to it "
          "(sudo usermod -aG dialout $USER) and log in again"};
#else
  return {};
#endif
}

}  // namespace vok
