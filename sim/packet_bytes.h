#pragma once

// The packets' numbers are big-endian; the trace writes addresses as 0x and
// eight hexadecimal digits.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vok::sim {

inline uint32_t Be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
inline uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline void Put32(std::vector<uint8_t>& v, uint32_t x) {
  for (int s = 24; s >= 0; s -= 8) v.push_back(static_cast<uint8_t>(x >> s));
}
inline void Put16(std::vector<uint8_t>& v, uint16_t x) {
  v.push_back(static_cast<uint8_t>(x >> 8));
  v.push_back(static_cast<uint8_t>(x));
}

inline std::string Hex32(uint32_t x) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%08X", x);
  return b;
}

}  // namespace vok::sim
