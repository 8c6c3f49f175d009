#include "support/srecord_text.h"

#include <cstdio>

namespace vok::test {

std::string SRecordLine(char type, uint32_t address, const uint8_t* data, size_t n) {
  const int address_bytes = (type == '2' || type == '8') ? 3 : (type == '3' || type == '7') ? 4 : 2;
  std::vector<uint8_t> body{static_cast<uint8_t>(address_bytes + n + 1)};
  for (int i = address_bytes - 1; i >= 0; --i) body.push_back(static_cast<uint8_t>(address >> (8 * i)));
  if (n > 0) body.insert(body.end(), data, data + n);
  unsigned sum = 0;
  for (uint8_t b : body) sum += b;
  body.push_back(static_cast<uint8_t>(~sum));
  std::string line = std::string("S") + type;
  char hex[3];
  for (uint8_t b : body) {
    std::snprintf(hex, sizeof hex, "%02X", b);
    line += hex;
  }
  return line + "\r\n";
}

}  // namespace vok::test
