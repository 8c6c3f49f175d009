#include "link/port_list.h"

#include <utility>

#include "link/ascii.h"

namespace vok {

bool IsComName(const std::string& name, int& index) {
  if (name.size() != 4 || !StartsWithNoCase(name, "COM")) return false;
  if (name[3] < '1' || name[3] > '4') return false;
  index = name[3] - '1';
  return true;
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
