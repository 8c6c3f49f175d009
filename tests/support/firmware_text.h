#pragma once

// Firmware files in the formats the update reads besides S-records, written
// independently of the readers under test.

#include <cstdint>
#include <string>
#include <vector>

namespace vok::test {

struct DataBlock {
  uint32_t address;
  std::vector<uint8_t> data;
};

// One Intel HEX record line with CR LF.
std::string IntelHexLine(uint8_t type, uint16_t offset, const std::vector<uint8_t>& data);

// The blocks as data records of at most 32 bytes, each 64 KiB page announced
// by an extended linear (or, with segments, extended segment) address
// record; the end record last.
std::string IntelHexFile(const std::vector<DataBlock>& blocks, bool segments = false);

struct ElfLayout {
  bool is64 = false;
  bool big_endian = false;
  // Without program headers: the blocks as allocated sections.
  bool sections_only = false;
};

// An executable whose loadable segments carry the blocks at their physical
// addresses (virtual addresses elsewhere), beside a note segment and a
// segment of space only (.bss); or, sections_only, an object file with the
// blocks as allocated sections among a null, a non-allocated and a .bss
// section.
std::string ElfFile(const std::vector<DataBlock>& blocks, const ElfLayout& layout);

}  // namespace vok::test
