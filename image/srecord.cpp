#include "image/srecord.h"

#include <algorithm>

namespace vok {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Indexed by the character's code minus '0'; covers '0' to 'F'. The
// punctuation between '9' and 'A' reads as 0, as it always has.
constexpr uint8_t kHexValue[23] = {0, 1, 2,  3,  4,  5,  6,  7, 8, 9, 0, 0,
                                   0, 0, 0, 0, 0, 10, 11, 12, 13, 14, 15};

// 2, 3 or 4 address bytes; 0 for a type the codec does not know.
int AddressWidth(char type) {
  switch (type) {
    case '0': case '1': case '9': return 2;
    case '2': case '8': return 3;
    case '3': case '7': return 4;
    default: return 0;
  }
}

// One byte from two characters; false for a character outside '0' to 'F'
// (lower case included), whose value would be a guess.
bool HexByte(const char* p, uint8_t& value) {
  unsigned hi = static_cast<unsigned char>(p[0]) - '0';
  unsigned lo = static_cast<unsigned char>(p[1]) - '0';
  if (hi >= sizeof kHexValue || lo >= sizeof kHexValue) return false;
  value = static_cast<uint8_t>(kHexValue[hi] * 16 + kHexValue[lo]);
  return true;
}

void AppendByte(std::string& line, uint8_t byte, unsigned& sum) {
  line.push_back(kHexDigits[byte >> 4]);
  line.push_back(kHexDigits[byte & 0x0F]);
  sum += byte;
}

}  // namespace

int ParseSRecord(std::string_view line, char& type, uint32_t& address, uint8_t* data,
                 size_t capacity) {
  if (line.empty() || line[0] != 'S') return -1;
  if (line.size() < 2) return -1;
  type = line[1];
  const int width = AddressWidth(type);
  if (width == 0) return 0;
  if (line.size() < 4) return -1;

  uint8_t count;
  if (!HexByte(&line[2], count)) return -1;
  unsigned sum = count;
  const int n = int{count} - width - 1;
  const size_t needed = 4 + 2 * static_cast<size_t>(width) + 2 * static_cast<size_t>(std::max(n, 0)) + 2;
  if (line.size() < needed) return -1;
  if (n > 0 && static_cast<size_t>(n) > capacity) return -1;

  const char* p = line.data() + 4;
  uint32_t value = 0;
  for (int i = 0; i < width; ++i, p += 2) {
    uint8_t byte;
    if (!HexByte(p, byte)) return -1;
    value = (value << 8) + byte;
    sum += byte;
  }
  for (int i = 0; i < n; ++i, p += 2) {
    if (!HexByte(p, data[i])) return -1;
    sum += data[i];
  }
  uint8_t checksum;
  if (!HexByte(p, checksum)) return -1;
  address = value;
  return ((sum + checksum) & 0xFF) == 0xFF ? n : -1;
}

std::string FormatSRecord(char type, uint32_t address, size_t length, const uint8_t* data) {
  const int width = AddressWidth(type);
  if (width == 0) return {};
  // A count that wrapped would make a line no reader accepts.
  if (length + static_cast<size_t>(width) + 1 > 255) return {};
  std::string line;
  line.reserve(4 + 2 * (static_cast<size_t>(width) + length) + 3);
  line.push_back('S');
  line.push_back(type);
  unsigned sum = 0;
  AppendByte(line, static_cast<uint8_t>(length + static_cast<size_t>(width) + 1), sum);
  for (int shift = 8 * (width - 1); shift >= 0; shift -= 8)
    AppendByte(line, static_cast<uint8_t>(address >> shift), sum);
  for (size_t i = 0; i < length; ++i) AppendByte(line, data[i], sum);
  unsigned dummy = 0;
  AppendByte(line, static_cast<uint8_t>(~sum & 0xFF), dummy);
  line.push_back('\n');
  return line;
}

int CreateSRecordFile(TextFile& file, const std::string& path, const std::string& header) {
  try {
    file.Open(path, FileMode::kCreate);
    const auto* bytes = reinterpret_cast<const uint8_t*>(header.data());
    for (size_t at = 0; at < header.size(); at += kSRecordLineData) {
      size_t piece = std::min(kSRecordLineData, header.size() - at);
      file.WriteText(FormatSRecord('0', 0, piece, bytes + at));
    }
    return 1;
  } catch (const FileException&) {
    return 0;
  }
}

}  // namespace vok
