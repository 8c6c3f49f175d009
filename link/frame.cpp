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
  return port.WritePort(len, frame.data());
}

}  // namespace vok
