#include "sim/inprocess_port.h"

#include <algorithm>
#include <limits>

#include "link/link_error.h"

namespace vok::sim {
namespace {
constexpr uint64_t kMs = 1000000;
constexpr uint64_t kAll = std::numeric_limits<uint64_t>::max();
}  // namespace

InProcessPort::InProcessPort(Simulator& sim) : sim_(sim) {}

int InProcessPort::OpenPort(const std::string& device) {
  if (open_ || device.find("missing") != std::string::npos) return kErrPortOpen;
  if (device.find("notatty") != std::string::npos) return kErrPortSetup;
  open_ = true;
  device_ = device;
  baud_ = 9600;
  // Whatever the controller sent while nobody listened is gone.
  sim_.DiscardReplies(kAll);
  return 0;
}

int InProcessPort::SetPortBaud(uint32_t rate) {
  baud_ = rate;
  return rate == 0 ? kErrPortSetup : 0;
}

int InProcessPort::WritePort(size_t n, const uint8_t* bytes) {
  if (!open_) return kErrWrite;
  sim_.HostBytes(bytes, n, baud_, now_ns_);
  return 0;
}

void InProcessPort::PurgePortInput() { sim_.DiscardReplies(now_ns_); }

void InProcessPort::ClosePort() {
  if (!open_) return;
  open_ = false;
  sim_.DiscardReplies(kAll);
}

void InProcessPort::BusyWait(uint32_t ms) { now_ns_ += ms * kMs; }

void InProcessPort::Sleep(uint32_t ms) { now_ns_ += ms * kMs; }

uint32_t InProcessPort::TickCount() { return static_cast<uint32_t>(kStartTick + now_ns_ / kMs); }

int InProcessPort::ReadAttempt(uint8_t* byte) {
  const uint64_t window = kAttemptMs * kMs;
  if (open_) {
    const auto due = sim_.NextReplyDue();
    if (due && *due <= now_ns_ + window) {
      now_ns_ = std::max(now_ns_, *due);
      sim_.TakeReplyByte(now_ns_, *byte);
      return 1;
    }
  }
  now_ns_ += window;
  return 0;
}

}  // namespace vok::sim
