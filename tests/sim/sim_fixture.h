#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "link/frame.h"
#include "link/loader_commands.h"
#include "link/loader_link.h"
#include "sim/inprocess_port.h"
#include "sim/simulator.h"

namespace vok::sim::test {

using Bytes = std::vector<uint8_t>;

// A simulator with the real host link in front of it, on virtual time.
struct InProcess {
  explicit InProcess(Options options = {}) : sim(std::move(options)) {
    auto p = std::make_unique<InProcessPort>(sim);
    port = p.get();
    link = std::make_unique<LoaderLink>(std::move(p));
  }
  int Open(uint32_t rate = 9600) { return link->OpenLink("/dev/sim", rate); }
  // One exchange of a raw command payload; the reply payload, or empty on failure.
  Bytes Exchange(const Bytes& payload, int* result = nullptr) {
    uint8_t reply[LoaderLink::kBufferSize];
    const int r = link->ExchangePacket(static_cast<uint32_t>(payload.size()), payload.data(),
                                       LoaderLink::kBufferSize, reply, 20);
    if (result) *result = r;
    return r < 0 ? Bytes() : Bytes(reply, reply + r);
  }
  // A frame straight onto the line, outside the link's rules, and the first
  // frame that comes back within timeout_ms (nullopt-like: result < 0).
  int Raw(const Bytes& packet, Bytes& reply, uint32_t timeout_ms = 300) {
    SendFrame(*port, packet.size(), packet.data());
    uint8_t buf[1500];
    const int r = ReceiveFrame(*port, 1500, buf, timeout_ms);
    reply.assign(buf, buf + (r > 0 ? r : 0));
    return r;
  }

  Simulator sim;
  InProcessPort* port = nullptr;
  std::unique_ptr<LoaderLink> link;
};

inline Options Blank() {
  Options o;
  o.demo_firmware = false;
  return o;
}

}  // namespace vok::sim::test
