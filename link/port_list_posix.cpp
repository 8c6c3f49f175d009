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

// The first line of a sysfs attribute, without its line end; empty when none.
std::string Attribute(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
    line.pop_back();
  return line;
}

int HexAttribute(const fs::path& file) {
  const std::string text = Attribute(file);
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 16);
  return text.empty() || *end != '\0' ? -1 : static_cast<int>(v);
}

// The kind of a tty and, for a USB one, the identity of the USB device
// above it in the kernel's device tree (the first folder upwards with an
// idVendor).
void AddKernelView(const fs::path& tty_class, const std::string& name, SerialPortInfo& info) {
  if (name.compare(0, 6, "ttyUSB") == 0) info.kind = PortKind::kUsb;
  if (name.compare(0, 6, "ttyACM") == 0) info.kind = PortKind::kAcm;
  const fs::path dir = tty_class / name;
  if (info.kind == PortKind::kUart) {
    // The kernel's UART type; 0 is a name without hardware behind it. Without
    // the attribute nothing is known, and the device is kept as it was.
    const std::string type = Attribute(dir / "type");
    if (!type.empty() && std::strtol(type.c_str(), nullptr, 10) == 0) info.kind = PortKind::kNoUart;
    return;
  }
  std::error_code ec;
  fs::path up = fs::canonical(dir / "device", ec);
  for (int level = 0; !ec && level < 8 && !up.empty() && up != up.parent_path();
       ++level, up = up.parent_path()) {
    if (!fs::exists(up / "idVendor", ec)) continue;
    info.vendor_id = HexAttribute(up / "idVendor");
    info.product_id = HexAttribute(up / "idProduct");
    info.maker = Attribute(up / "manufacturer");
    info.product = Attribute(up / "product");
    info.serial_number = Attribute(up / "serial");
    return;
  }
}

// The links of a folder of stable names by the device each leads to.
std::vector<std::pair<fs::path, std::string>> LinksByTarget(const std::string& folder) {
  std::vector<std::pair<fs::path, std::string>> links;
  std::error_code ec;
  for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    std::error_code ec2;
    fs::path target = fs::canonical(it->path(), ec2);
    if (!ec2) links.emplace_back(target, it->path().string());
  }
  // The first in name order when several lead to one device.
  std::sort(links.begin(), links.end(),
            [](const auto& a, const auto& b) { return a.second < b.second; });
  return links;
}

std::string LinkTo(const std::vector<std::pair<fs::path, std::string>>& links, const fs::path& device) {
  std::error_code ec;
  const fs::path target = fs::canonical(device, ec);
  if (ec) return {};
  for (const auto& [t, name] : links) {
    if (t == target) return name;
  }
  return {};
}

}  // namespace

std::vector<SerialPortInfo> SerialPorts(const SerialDeviceRoots& roots) {
  std::vector<std::string> ttys;
  std::error_code ec;
  for (auto it = fs::directory_iterator(roots.devices, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (IsSerialName(name)) ttys.push_back(name);
  }
  std::sort(ttys.begin(), ttys.end(), DeviceOrder);
  const auto by_id = LinksByTarget(roots.stable_names);
  const auto by_path = LinksByTarget(roots.socket_names);
  std::vector<SerialPortInfo> ports;
  for (const std::string& name : ttys) {
    SerialPortInfo info;
    info.device = (fs::path(roots.devices) / name).string();
    AddKernelView(roots.tty_classes, name, info);
    if (info.kind == PortKind::kNoUart) continue;
    info.stable_name = LinkTo(by_id, info.device);
    info.socket_name = LinkTo(by_path, info.device);
    info.latency_timer_ms = LatencyTimerMs(roots.sysfs, info.device);
    ports.push_back(std::move(info));
  }
  return ports;
}

std::vector<std::string> ComDefaults(const std::vector<SerialPortInfo>& ports) {
  std::vector<std::string> com(4);
  for (const SerialPortInfo& p : ports) {
    const std::string name = fs::path(p.device).filename().string();
    if (p.kind != PortKind::kUart || name.size() != 5 || name.compare(0, 4, "ttyS") != 0) continue;
    if (name[4] >= '0' && name[4] <= '3') com[name[4] - '0'] = p.device;
  }
  std::vector<const SerialPortInfo*> adapters;
  for (const SerialPortInfo& p : ports) {
    if (p.kind == PortKind::kUsb || p.kind == PortKind::kAcm) adapters.push_back(&p);
  }
  // By stable name, so that the numbers stay with the adapters whatever
  // order the kernel found them in; those without one last, in device order.
  std::stable_sort(adapters.begin(), adapters.end(), [](const SerialPortInfo* a, const SerialPortInfo* b) {
    if (a->stable_name.empty() != b->stable_name.empty()) return b->stable_name.empty();
    return a->stable_name < b->stable_name;
  });
  size_t next = 0;
  for (std::string& device : com) {
    if (!device.empty()) continue;
    device = next < adapters.size() ? adapters[next++]->device : std::string();
  }
  for (size_t i = 0; i < com.size(); ++i) {
    if (com[i].empty()) com[i] = SystemComDevice(static_cast<unsigned>(i + 1));
  }
  return com;
}

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
