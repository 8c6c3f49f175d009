#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace vok {

// A target address as the messages, the logs and the trace show it: "0x"
// and eight upper-case hexadecimal digits.
inline std::string AddressText(uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(address));
  return text;
}

}  // namespace vok
