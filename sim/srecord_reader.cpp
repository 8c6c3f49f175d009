#include "sim/srecord_reader.h"

#include <fstream>
#include <vector>

namespace vok::sim {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

SRecordLine ParseSRecordLine(const std::string& raw, const SRecordSink& sink) {
  std::string line = raw;
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' ' ||
                           line.back() == '\t')) {
    line.pop_back();
  }
  if (line.empty()) return kSRecordNoData;
  if (line.size() < 4 || line[0] != 'S' || (line.size() % 2) != 0) return kSRecordMalformed;
  const char type = line[1];
  std::vector<uint8_t> bytes;
  for (size_t i = 2; i < line.size(); i += 2) {
    const int hi = HexDigit(line[i]), lo = HexDigit(line[i + 1]);
    if (hi < 0 || lo < 0) return kSRecordMalformed;
    bytes.push_back(static_cast<uint8_t>(hi * 16 + lo));
  }
  // bytes[0] counts the address, data and checksum bytes that follow it.
  if (bytes[0] + 1u != bytes.size()) return kSRecordMalformed;
  uint8_t sum = 0;
  for (size_t i = 0; i + 1 < bytes.size(); ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
  if (static_cast<uint8_t>(~sum) != bytes.back()) return kSRecordMalformed;

  size_t address_size = 0;
  switch (type) {
    case '0': case '1': case '5': case '9': address_size = 2; break;
    case '2': case '6': case '8': address_size = 3; break;
    case '3': case '7': address_size = 4; break;
    default: return kSRecordMalformed;
  }
  if (bytes.size() < 2 + address_size) return kSRecordMalformed;
  if (type != '1' && type != '2' && type != '3') return kSRecordNoData;
  uint32_t address = 0;
  for (size_t i = 0; i < address_size; ++i) address = (address << 8) | bytes[1 + i];
  const size_t n = bytes.size() - 2 - address_size;
  sink(address, bytes.data() + 1 + address_size, n);
  return kSRecordData;
}

bool ReadSRecordFile(const std::string& path, const SRecordSink& sink, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": cannot be read";
    return false;
  }
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (ParseSRecordLine(line, sink) == kSRecordMalformed) {
      error = path + ":" + std::to_string(number) + ": not a valid S-record";
      return false;
    }
  }
  if (in.bad()) {
    error = path + ": read error";
    return false;
  }
  return true;
}

}  // namespace vok::sim
