#pragma once

#include <cstdint>
#include <vector>

// Multi-byte fields as bytes. The line and the controller's own tables are
// big-endian (most significant byte first); the command file on disk is
// little-endian. Both sides of the line use these: the loader's commands
// and the simulated controller that answers them.
namespace vok {

inline uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t Be32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// Each returns the position after the field.
inline uint8_t* PutBe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
  return p + 2;
}
inline uint8_t* PutBe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  return PutBe16(p + 2, static_cast<uint16_t>(v));
}

inline void AppendBe16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}
inline void AppendBe32(std::vector<uint8_t>& out, uint32_t v) {
  AppendBe16(out, static_cast<uint16_t>(v >> 16));
  AppendBe16(out, static_cast<uint16_t>(v));
}
inline void AppendLe16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
inline void AppendLe32(std::vector<uint8_t>& out, uint32_t v) {
  AppendLe16(out, static_cast<uint16_t>(v));
  AppendLe16(out, static_cast<uint16_t>(v >> 16));
}

}  // namespace vok
