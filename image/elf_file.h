#pragma once

// Where the bytes of an ELF file (32 or 64 bit, either byte order) go in
// target memory. A reader of our own: the program headers and section
// headers it needs, every offset and count checked against the file.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace vok {

// length bytes of the file at offset belong at address.
struct ElfPiece {
  uint64_t offset;
  uint64_t address;
  uint64_t length;
};

// Reads n bytes at offset into buffer; false when the file cannot give them.
using ElfByteReader = std::function<bool(uint64_t offset, void* buffer, size_t n)>;

// The loadable segments' file bytes at their physical addresses, in the
// order of the program headers; without program headers, the allocated
// sections that have contents, at their addresses. 1 with pieces filled,
// every one inside the file; 0 for a file that is no well-formed ELF file
// (or uses extended header numbering).
int ReadElfPieces(const ElfByteReader& read, uint64_t file_size, std::vector<ElfPiece>& pieces);

}  // namespace vok
