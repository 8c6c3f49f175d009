#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/port_list.h"

// Finding the ports where a controller answers (-p auto, -p all): asked for
// only, since bytes sent to an unknown device can upset it.
namespace vok::cli {

struct ProbeAnswer {
  std::string device;
  bool answered = false;
  std::string who;  // "loader", "application", "application (busy)", or why it is silent
};

// The devices that may be probed: UARTs and USB adapters, never others.
std::vector<std::string> ProbeCandidates(const std::vector<SerialPortInfo>& ports);

// Probes every device at once, each on its own link: the loader's probe at
// rate and the fallback rates; where no loader answers, the application's
// "START LOADER" (it answers nothing else; with OK it hands over to the
// loader, as a connection would have asked it). Bounded by the line's
// time-outs: about four seconds whatever the number of devices.
std::vector<ProbeAnswer> ProbePorts(const std::vector<std::string>& devices, int rate);

// What was found, a line per device, and how to name one.
std::vector<std::string> ProbeReport(const std::vector<SerialPortInfo>& ports,
                                     const std::vector<ProbeAnswer>& answers);

}  // namespace vok::cli
