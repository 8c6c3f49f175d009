#include "cli/port_probe.h"

#include <thread>

#include "cli/cli_app.h"
#include "link/loader_commands.h"
#include "link/loader_link.h"

namespace vok::cli {

namespace {

constexpr uint32_t kApplicationRate = 9600;

ProbeAnswer Probe(const std::string& device, int rate) {
  ProbeAnswer answer;
  answer.device = device;
  LoaderLink link;
  link.SetPortTable({{"COM1", device}});
  const int r = link.ProbeLoader("COM1", static_cast<uint32_t>(rate));
  if (r == 0) {
    answer.answered = true;
    answer.who = "the loader answers";
    return answer;
  }
  if (r == kErrPortOpen || r == kErrPortSetup) {
    answer.who = "cannot be opened";
    return answer;
  }
  if (link.OpenLinkPlain(0, kApplicationRate) == 0) {
    const int said = SendTextCommand(link, "START LOADER");
    link.CloseLink();
    if (said != 0) {
      answer.answered = true;
      answer.who = said == 2 ? "the application answers" : "the application answers, busy";
      return answer;
    }
  }
  answer.who = "silent";
  return answer;
}

}  // namespace

std::vector<std::string> ProbeCandidates(const std::vector<SerialPortInfo>& ports) {
  std::vector<std::string> devices;
  for (const SerialPortInfo& p : ports) {
    if (p.kind == PortKind::kUart || p.kind == PortKind::kUsb || p.kind == PortKind::kAcm)
      devices.push_back(p.device);
  }
  return devices;
}

std::vector<ProbeAnswer> ProbePorts(const std::vector<std::string>& devices, int rate) {
  std::vector<ProbeAnswer> answers(devices.size());
  std::vector<std::thread> probes;
  for (size_t i = 0; i < devices.size(); ++i)
    probes.emplace_back([&answers, &devices, i, rate] { answers[i] = Probe(devices[i], rate); });
  for (std::thread& t : probes) t.join();
  return answers;
}

std::vector<std::string> ProbeReport(const std::vector<SerialPortInfo>& ports,
                                     const std::vector<ProbeAnswer>& answers) {
  std::vector<std::string> lines;
  std::string example;
  for (const SerialPortInfo& p : ports) {
    std::string line = "  " + p.device + ": " + DescribePort(p);
    for (const ProbeAnswer& a : answers) {
      if (a.device == p.device) line += "; " + a.who;
    }
    lines.push_back(line);
    if (example.empty() || (!p.stable_name.empty() && example.find("by-id") == std::string::npos))
      example = p.stable_name.empty() ? p.device : p.stable_name;
  }
  if (ports.empty()) lines.push_back("  (no serial device found)");
  bool stable = false;
  for (const SerialPortInfo& p : ports) stable = stable || (!example.empty() && p.stable_name == example);
  lines.push_back(example.empty() ? std::string("Name the port with -p NAME")
                                  : "Name the port with -p, as in -p " + example +
                                        (stable ? " (a stable name stays with its adapter)" : ""));
  return lines;
}

}  // namespace vok::cli
