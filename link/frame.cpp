#include "link/frame.h"

#include <vector>

#include "link/link_error.h"

namespace vok {

size_t EncodeFrame(const uint8_t* packet, size_t n, uint8_t* out) {
  size_t k = 0;
  uint8_t sum = 0;
  out[k++] = kDLE;
  out[k++] = kSTX;
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = packet[i];
    sum ^= b;
    out[k++] = b;
    if (b == kDLE) out[k++] = kDLE;
  }
  out[k++] = kDLE;
  out[k++] = kETX;
  out[k++] = sum;
  if (sum == kDLE) out[k++] = kDLE;
  return k;
}

int SendFrame(SerialPort& port, size_t n, const uint8_t* packet) {
  std::vector<uint8_t> frame(MaxFrameSize(n));
  const size_t len = EncodeFrame(packet, n, frame.data());
  const int written = port.WritePort(len, frame.data());
  if (written == 0) port.CountWritten(len);
  return written;
}

int ReceiveFrame(SerialPort& port, int capacity, uint8_t* packet, uint32_t timeout_ms) {
  uint8_t b = 0;

  // Hunt for DLE STX. Errors other than silence are ignored here: they
  // belong to whatever came before our frame.
  size_t reads = 0;
  for (;;) {
    if (reads++ >= kHuntLimit) return kErrTimeout;
    int r = port.ReadPortByte(&b, timeout_ms);
    if (r == kErrTimeout) return r;
    if (r < 0 || b != kDLE) continue;
    if (reads++ >= kHuntLimit) return kErrTimeout;
    r = port.ReadPortByte(&b, timeout_ms);
    if (r == kErrTimeout) return r;
    // The byte after a DLE that is not STX is dropped unexamined, so a
    // stuffed DLE followed by STX inside a foreign frame starts nothing.
    if (r == 0 && b == kSTX) break;
  }

  int count = 0;
  uint8_t sum = 0;
  auto store = [&](uint8_t v) {
    if (count >= capacity) return false;
    packet[count++] = v;
    sum ^= v;
    return true;
  };

  for (;;) {
    int r = port.ReadPortByte(&b, timeout_ms);
    if (r < 0) return r;
    if (b != kDLE) {
      if (!store(b)) return kErrFrameOverflow;
      continue;
    }
    r = port.ReadPortByte(&b, timeout_ms);
    if (r < 0) return r;
    if (b == kETX) break;
    if (b != kDLE) return kErrFrameEscape;
    if (!store(kDLE)) return kErrFrameOverflow;
  }

  int r = port.ReadPortByte(&b, timeout_ms);
  if (r < 0) return r;
  uint8_t received = b;
  if (b == kDLE) {
    r = port.ReadPortByte(&b, timeout_ms);
    if (r < 0) return r;
    if (b != kDLE) return kErrFrameEscape;
  }
  return received == sum ? count : kErrFrameChecksum;
}

}  // namespace vok
