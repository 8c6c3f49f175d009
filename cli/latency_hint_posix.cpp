#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "cli/reply_latency.h"
#include "link/port_list.h"

namespace vok::cli {

std::vector<std::string> LatencyTimerHint(const std::string& device) {
  // The adapter's own name where the port's device is one, for a command
  // that can be pasted.
  std::error_code ec;
  const std::filesystem::path resolved = std::filesystem::canonical(device, ec);
  std::string name = ec ? std::string() : resolved.filename().string();
  if (name.rfind("ttyUSB", 0) != 0) name = "ttyUSB0";
  const std::string timer = "/sys/bus/usb-serial/devices/" + name + "/latency_timer";
  const int now = LatencyTimerMs("/sys", "/dev/" + name);
  return {"To hold them 1 ms until the adapter is plugged in again" +
              (now >= 0 ? " (now " + std::to_string(now) + " ms)" : std::string()) +
              ": echo 1 | sudo tee " + timer,
          "or for good, a udev rule in /etc/udev/rules.d/99-usb-serial-latency.rules:",
          "  ACTION==\"add\", SUBSYSTEM==\"usb-serial\", DRIVER==\"ftdi_sio\", "
          "ATTR{latency_timer}=\"1\""};
}

}  // namespace vok::cli
