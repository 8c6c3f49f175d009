#include "support/firmware_text.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>

namespace vok::test {

std::string IntelHexLine(uint8_t type, uint16_t offset, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> bytes{static_cast<uint8_t>(data.size()), static_cast<uint8_t>(offset >> 8),
                             static_cast<uint8_t>(offset), type};
  bytes.insert(bytes.end(), data.begin(), data.end());
  unsigned sum = 0;
  for (uint8_t b : bytes) sum += b;
  bytes.push_back(static_cast<uint8_t>(0x100 - (sum & 0xFF)));
  std::string line = ":";
  char hex[3];
  for (uint8_t b : bytes) {
    std::snprintf(hex, sizeof hex, "%02X", b);
    line += hex;
  }
  return line + "\r\n";
}

std::string IntelHexFile(const std::vector<DataBlock>& blocks, bool segments) {
  std::string text;
  for (const DataBlock& b : blocks) {
    for (size_t at = 0; at < b.data.size();) {
      const uint32_t address = b.address + static_cast<uint32_t>(at);
      const uint32_t page = address >> 16;
      // A segment of 0x1000 paragraphs starts each page, as 8086 tools write it.
      const uint16_t value = static_cast<uint16_t>(segments ? page << 12 : page);
      text += IntelHexLine(segments ? 0x02 : 0x04, 0,
                           {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)});
      const size_t room = 0x10000 - (address & 0xFFFF);
      const size_t n = std::min<size_t>({32, b.data.size() - at, room});
      text += IntelHexLine(0x00, static_cast<uint16_t>(address),
                           std::vector<uint8_t>(b.data.begin() + static_cast<std::ptrdiff_t>(at),
                                                b.data.begin() + static_cast<std::ptrdiff_t>(at + n)));
      at += n;
    }
  }
  return text + IntelHexLine(0x01, 0, {});
}

namespace {

class Writer {
 public:
  Writer(bool big) : big_(big) {}
  void Put(uint64_t value, size_t size) {
    for (size_t i = 0; i < size; ++i) {
      const size_t shift = 8 * (big_ ? size - 1 - i : i);
      bytes.push_back(static_cast<char>(value >> shift));
    }
  }
  std::string bytes;

 private:
  bool big_;
};

}  // namespace

std::string ElfFile(const std::vector<DataBlock>& blocks, const ElfLayout& layout) {
  const size_t word = layout.is64 ? 8 : 4;
  const size_t header = layout.is64 ? 64 : 52;
  const size_t phent = layout.is64 ? 56 : 32, shent = layout.is64 ? 64 : 40;
  // Data first, after the header; then the tables.
  std::string data;
  std::vector<uint64_t> offsets;
  for (const DataBlock& b : blocks) {
    offsets.push_back(header + data.size());
    data.append(b.data.begin(), b.data.end());
    data.append(3, '\0');  // misaligned on purpose
  }
  const uint64_t note_offset = header + data.size();
  data += "note";
  const uint64_t table = header + data.size();
  const size_t count = blocks.size() + 2;

  Writer w(layout.big_endian);
  w.bytes = "\x7F" "ELF";
  w.Put(layout.is64 ? 2 : 1, 1);
  w.Put(layout.big_endian ? 2 : 1, 1);
  w.Put(1, 1);
  w.bytes.resize(16, '\0');
  w.Put(layout.sections_only ? 1 : 2, 2);  // relocatable / executable
  w.Put(0x28, 2);
  w.Put(1, 4);
  w.Put(0, word);  // entry
  w.Put(layout.sections_only ? 0 : table, word);
  w.Put(layout.sections_only ? table : 0, word);
  w.Put(0, 4);
  w.Put(header, 2);
  w.Put(phent, 2);
  w.Put(layout.sections_only ? 0 : count, 2);
  w.Put(shent, 2);
  w.Put(layout.sections_only ? count + 1 : 0, 2);
  w.Put(0, 2);
  w.bytes += data;

  auto segment = [&](uint32_t type, uint64_t offset, uint64_t address, uint64_t filesz, uint64_t memsz) {
    w.Put(type, 4);
    if (layout.is64) w.Put(7, 4);
    w.Put(offset, word);
    w.Put(address + 0x40000000, word);  // virtual: where it runs, not where it is stored
    w.Put(address, word);
    w.Put(filesz, word);
    w.Put(memsz, word);
    if (!layout.is64) w.Put(7, 4);
    w.Put(1, word);
  };
  auto section = [&](uint32_t type, uint64_t flags, uint64_t address, uint64_t offset, uint64_t size) {
    w.Put(0, 4);
    w.Put(type, 4);
    w.Put(flags, word);
    w.Put(address, word);
    w.Put(offset, word);
    w.Put(size, word);
    w.Put(0, 4);
    w.Put(0, 4);
    w.Put(1, word);
    w.Put(0, word);
  };
  if (!layout.sections_only) {
    segment(4, note_offset, 0, 4, 4);  // PT_NOTE
    for (size_t i = 0; i < blocks.size(); ++i)
      segment(1, offsets[i], blocks[i].address, blocks[i].data.size(), blocks[i].data.size() + 16);
    segment(1, table, 0x10000, 0, 0x100);  // .bss: space, no bytes
  } else {
    section(0, 0, 0, 0, 0);                        // SHT_NULL
    section(1, 0, 0, note_offset, 4);              // .comment: not allocated
    for (size_t i = 0; i < blocks.size(); ++i)
      section(1, 0x6, blocks[i].address, offsets[i], blocks[i].data.size());
    section(8, 0x3, 0x10000, table, 0x100);        // .bss
  }
  return w.bytes;
}

}  // namespace vok::test
