#include "sim/trace.h"

#include <cstdio>

namespace vok::sim {

std::string Printable(const uint8_t* p, size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    if (p[i] == '\r') {
      s += "\\r";
    } else if (p[i] >= 0x20 && p[i] < 0x7F && p[i] != '"' && p[i] != '\\') {
      s += static_cast<char>(p[i]);
    } else {
      char b[8];
      std::snprintf(b, sizeof b, "\\x%02X", p[i]);
      s += b;
    }
  }
  return s;
}

bool TraceFile::Open(const std::string& path) {
  out_.open(path, std::ios::out | std::ios::trunc);
  return static_cast<bool>(out_);
}

void TraceFile::Write(uint64_t at_ns, uint32_t rate, const char* direction, const uint8_t* bytes, size_t n,
                      const std::string& meaning) {
  if (!out_.is_open()) return;
  char head[64];
  std::snprintf(head, sizeof head, "%10.3f %7u %s ", static_cast<double>(at_ns) / 1e9, rate, direction);
  std::string line = head;
  line.reserve(line.size() + 3 * n + meaning.size() + 4);
  static const char kHex[] = "0123456789ABCDEF";
  for (size_t i = 0; i < n; ++i) {
    if (i != 0) line += ' ';
    line += kHex[bytes[i] >> 4];
    line += kHex[bytes[i] & 15];
  }
  line += " | ";
  line += meaning;
  line += '\n';
  out_ << line;
  out_.flush();
}

}  // namespace vok::sim
