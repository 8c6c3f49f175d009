// ParseSRecord on any line. Where a data record parses, formatting it again
// and parsing that gives the same record.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "image/srecord.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view line(reinterpret_cast<const char*>(data), size);
  // A small capacity too, so the "more data than capacity" path is reached.
  uint8_t small[8];
  char type = 0;
  uint32_t address = 0;
  (void)vok::ParseSRecord(line, type, address, small, sizeof small);

  uint8_t bytes[256];
  std::memset(bytes, 0xA5, sizeof bytes);
  const int n = vok::ParseSRecord(line, type, address, bytes, sizeof bytes);
  if (n < 0 || (n == 0 && (type == 0 || std::strchr("0123789", type) == nullptr))) return 0;
  if (static_cast<size_t>(n) > vok::kMaxSRecordData) std::abort();

  const std::string again = vok::FormatSRecord(type, address, static_cast<size_t>(n), bytes);
  if (again.empty()) std::abort();  // a record that parsed can always be written
  char type2 = 0;
  uint32_t address2 = 0;
  uint8_t bytes2[256];
  const int n2 = vok::ParseSRecord(again, type2, address2, bytes2, sizeof bytes2);
  if (n2 != n || type2 != type || address2 != address || std::memcmp(bytes, bytes2, n) != 0)
    std::abort();
  return 0;
}
