// Intel HEX: every line of the input through the record parser and the
// address follower, then the whole input as an update file when its data lie
// close together. A record that parses, written again, parses to the same
// record; its pieces carry all its bytes.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz/update_load.h"
#include "image/intel_hex.h"

namespace {

std::string Format(const vok::IntelHexRecord& r) {
  uint8_t bytes[4 + 255 + 1] = {r.length, static_cast<uint8_t>(r.offset >> 8),
                                static_cast<uint8_t>(r.offset), r.type};
  std::memcpy(bytes + 4, r.data, r.length);
  unsigned sum = 0;
  for (size_t i = 0; i < 4u + r.length; ++i) sum += bytes[i];
  bytes[4 + r.length] = static_cast<uint8_t>(0x100 - (sum & 0xFF));
  std::string line = ":";
  char hex[3];
  for (size_t i = 0; i < 5u + r.length; ++i) {
    std::snprintf(hex, sizeof hex, "%02X", bytes[i]);
    line += hex;
  }
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  vok::IntelHexReader reader;
  vok::fuzz::Span span;
  for (size_t begin = 0; begin <= text.size();) {
    size_t end = text.find('\n', begin);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(begin, end - begin);
    begin = end + 1;

    vok::IntelHexRecord record, again;
    if (vok::ParseIntelHexRecord(line, record)) {
      if (!vok::ParseIntelHexRecord(Format(record), again) || again.type != record.type ||
          again.offset != record.offset || again.length != record.length ||
          std::memcmp(again.data, record.data, record.length) != 0)
        std::abort();
    }
    if (reader.Take(line) != vok::IntelHexReader::kData) continue;
    // The pieces, in order, are the record's bytes; none is empty, and the
    // second (a segment's wrap) starts where the segment does.
    uint32_t carried = 0;
    for (int i = 0; i < reader.piece_count(); ++i) {
      const vok::IntelHexReader::Piece& p = reader.pieces()[i];
      if (p.length == 0 || carried + p.length > record.length ||
          std::memcmp(p.data, record.data + carried, p.length) != 0)
        std::abort();
      if (i == 1 && (p.address & 0xF) != 0) std::abort();
      carried += p.length;
      span.Add(p.address, p.length);
    }
    if (carried != record.length) std::abort();
  }
  if (span.Close()) vok::fuzz::LoadAndCheck(data, size);
  return 0;
}
