#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vok::test {

// One S-record line ending in CR LF, written independently of the codec
// under test, so that tests can make update files of their own.
std::string SRecordLine(char type, uint32_t address, const uint8_t* data, size_t n);
inline std::string SRecordLine(char type, uint32_t address, const std::vector<uint8_t>& data) {
  return SRecordLine(type, address, data.data(), data.size());
}

}  // namespace vok::test
