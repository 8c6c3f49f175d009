// ReceiveFrame on any byte stream, delivered through a port on a virtual
// clock. The first byte picks the caller's capacity, the second which error
// clears fail; the rest is the line. Frames are taken until the line is
// exhausted; none may claim more than the capacity.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "link/frame.h"
#include "link/link_error.h"
#include "link/serial_port.h"

namespace {

class StreamPort : public vok::SerialPort {
 public:
  StreamPort(const uint8_t* data, size_t n, uint8_t failing_clears)
      : data_(data), n_(n), failing_clears_(failing_clears) {}
  int OpenPort(const std::string&) override { return 0; }
  int SetPortBaud(uint32_t rate) override {
    baud_ = rate;
    return 0;
  }
  int WritePort(size_t, const uint8_t*) override { return 0; }
  void PurgePortInput() override {}
  void ClosePort() override {}
  void BusyWait(uint32_t ms) override { now_ += ms; }
  void Sleep(uint32_t ms) override { now_ += ms; }
  uint32_t TickCount() override { return now_; }
  bool Exhausted() const { return at_ >= n_; }

 protected:
  int ReadAttempt(uint8_t* byte) override {
    if (at_ < n_) {
      *byte = data_[at_++];
      return 1;
    }
    now_ += kAttemptMs;
    return 0;
  }
  bool ClearPortError() override {
    // Bit k set: the k-th clear (mod 8) fails.
    return (failing_clears_ >> (clears_++ % 8) & 1) == 0;
  }

 private:
  const uint8_t* data_;
  size_t n_;
  size_t at_ = 0;
  uint8_t failing_clears_;
  unsigned clears_ = 0;
  uint32_t now_ = 0xFFFFFFFFu - 500;  // time-outs cross the wrap
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int capacity = data[0] * 6;  // 0 .. 1530, the largest packets included
  StreamPort port(data + 2, size - 2, data[1]);
  std::vector<uint8_t> packet(static_cast<size_t>(capacity) + 1);
  // Each call consumes at least one byte or times out.
  for (size_t calls = 0; calls <= size; ++calls) {
    const int r = vok::ReceiveFrame(port, capacity, packet.data(), 100);
    if (r > capacity) std::abort();
    if (r < 0 && port.Exhausted()) break;
  }
  return 0;
}
