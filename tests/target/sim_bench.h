#pragma once

#include <cstdint>
#include <memory>
#include <utility>

#include "link/loader_link.h"
#include "sim/inprocess_port.h"
#include "sim/simulator.h"

namespace vok::test {

// The in-process port with a cable that can be pulled: from a chosen write
// or a chosen opening on, what the host sends never reaches the controller,
// which then stays silent.
class PullablePort : public sim::InProcessPort {
 public:
  using sim::InProcessPort::InProcessPort;

  int OpenPort(const std::string& device) override {
    ++opens;
    return sim::InProcessPort::OpenPort(device);
  }
  int WritePort(size_t n, const uint8_t* bytes) override {
    ++writes;
    if (Pulled() && IsOpen()) return 0;  // written, and lost on the way
    return sim::InProcessPort::WritePort(n, bytes);
  }

  bool Pulled() const {
    return (deaf_from_write > 0 && writes >= deaf_from_write) ||
           (deaf_from_open > 0 && opens >= deaf_from_open);
  }

  int opens = 0;
  int writes = 0;
  int deaf_from_write = 0;  // this write and all after it are lost (0: never)
  int deaf_from_open = 0;   // from this opening on, all writes are lost (0: never)
};

// A simulated controller and the real loader link wired to it in-process.
struct SimBench {
  explicit SimBench(sim::Options options) : sim(std::move(options)) {
    auto p = std::make_unique<PullablePort>(sim);
    port = p.get();
    link = std::make_unique<LoaderLink>(std::move(p));
  }

  sim::Simulator sim;
  PullablePort* port = nullptr;  // owned by the link
  std::unique_ptr<LoaderLink> link;
};

inline sim::Options BlankController() {
  sim::Options o;
  o.demo_firmware = false;
  return o;
}

}  // namespace vok::test
