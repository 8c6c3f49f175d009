#pragma once

// --trace: one line per frame either way, flushed as written so that a
// killed simulator leaves every line up to its end.

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

namespace vok::sim {

// Bytes as the trace shows them: printable ASCII as is, the rest escaped.
std::string Printable(const uint8_t* p, size_t n);

class TraceFile {
 public:
  // False when the file cannot be written.
  bool Open(const std::string& path);
  bool IsOpen() const { return out_.is_open(); }
  // Time in seconds, rate, direction ("H>S", "S>H", "---"), the bytes in
  // hexadecimal, their meaning. Nothing when no trace is kept.
  void Write(uint64_t at_ns, uint32_t rate, const char* direction, const uint8_t* bytes, size_t n,
             const std::string& meaning);

 private:
  std::ofstream out_;
};

}  // namespace vok::sim
