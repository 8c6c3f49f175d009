#include "image/intel_hex.h"

#include "link/byte_order.h"

namespace vok {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool HexByte(const char* p, uint8_t& value) {
  const int hi = HexDigit(p[0]), lo = HexDigit(p[1]);
  if (hi < 0 || lo < 0) return false;
  value = static_cast<uint8_t>(hi * 16 + lo);
  return true;
}

}  // namespace

bool ParseIntelHexRecord(std::string_view line, IntelHexRecord& record) {
  if (line.size() < 11 || line[0] != ':') return false;
  uint8_t count = 0;
  if (!HexByte(&line[1], count)) return false;
  if (line.size() != 11 + 2 * size_t{count}) return false;
  // Count, offset (2), type, data, checksum: every byte adds to the sum.
  uint8_t bytes[4 + 255 + 1];
  unsigned sum = 0;
  const size_t n = 4 + size_t{count} + 1;
  for (size_t i = 0; i < n; ++i) {
    if (!HexByte(&line[1 + 2 * i], bytes[i])) return false;
    sum += bytes[i];
  }
  if ((sum & 0xFF) != 0) return false;
  record.length = count;
  record.offset = Be16(bytes + 1);
  record.type = bytes[3];
  for (size_t i = 0; i < count; ++i) record.data[i] = bytes[4 + i];
  return true;
}

IntelHexReader::Result IntelHexReader::Take(std::string_view line) {
  piece_count_ = 0;
  if (ended_) return line.empty() ? kSkip : kMalformed;
  if (!ParseIntelHexRecord(line, record_)) return kMalformed;
  const IntelHexRecord& r = record_;
  const uint32_t value = r.length >= 2 ? Be16(r.data) : 0;
  switch (r.type) {
    case 0x00: {
      if (r.length == 0) return kSkip;
      if (!segmented_ || uint32_t{r.offset} + r.length <= 0x10000) {
        pieces_[piece_count_++] = {base_ + r.offset, r.data, r.length};
      } else {
        // The part past the segment's end continues at its start.
        const uint32_t first = 0x10000 - r.offset;
        pieces_[piece_count_++] = {base_ + r.offset, r.data, first};
        pieces_[piece_count_++] = {base_, r.data + first, r.length - first};
      }
      return kData;
    }
    case 0x01:
      if (r.length != 0) return kMalformed;
      ended_ = true;
      return kEnd;
    case 0x02:
      if (r.length != 2) return kMalformed;
      base_ = uint64_t{value} << 4;
      segmented_ = true;
      return kSkip;
    case 0x04:
      if (r.length != 2) return kMalformed;
      base_ = uint64_t{value} << 16;
      segmented_ = false;
      return kSkip;
    case 0x03:
    case 0x05:
      // Where execution starts: nothing for the flash.
      return r.length == 4 ? kSkip : kMalformed;
    default:
      return kMalformed;
  }
}

}  // namespace vok
