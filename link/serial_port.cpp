#include "link/serial_port.h"

#include <chrono>
#include <thread>
#include <utility>

#include "link/link_error.h"

namespace vok {

int SerialPort::ReadPortByte(uint8_t* byte, uint32_t timeout_ms) {
  if (ReadAttempt(byte) == 1) {
    ++line_bytes_;
    return 0;
  }
  const uint32_t t0 = TickCount();
  for (;;) {
    if (!ClearPortError()) return kErrPortState;
    // Unsigned difference: holds across the wrap of the tick counter.
    if (static_cast<uint32_t>(TickCount() - t0) > timeout_ms) return kErrTimeout;
    if (ReadAttempt(byte) == 1) {
      ++line_bytes_;
      return 0;
    }
  }
}

int SerialPort::OpenFailed(int code, PortOpenFailure::Kind kind, int system_error,
                           const std::string& device, std::string reason) {
  open_failure_ = PortOpenFailure{kind, code, system_error, device, std::move(reason)};
  return code;
}

void SerialPort::BusyWait(uint32_t ms) {
  const uint32_t t0 = TickCount();
  while (static_cast<uint32_t>(TickCount() - t0) < ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void SerialPort::Sleep(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

uint32_t SerialPort::TickCount() {
  using namespace std::chrono;
  return static_cast<uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace vok
