// The ELF reader on any bytes: every piece it names lies inside the file.
// Then the bytes as an update file, when its data lie close together.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/update_load.h"
#include "image/elf_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto read = [&](uint64_t offset, void* buffer, size_t n) {
    if (offset > size || n > size - offset) return false;
    std::memcpy(buffer, data + offset, n);
    return true;
  };
  std::vector<vok::ElfPiece> pieces;
  vok::fuzz::Span span;
  if (vok::ReadElfPieces(read, size, pieces) == 1) {
    for (const vok::ElfPiece& p : pieces) {
      if (p.length == 0 || p.offset > size || p.length > size - p.offset) std::abort();
      span.Add(p.address, p.length);
    }
  }
  if (span.Close()) vok::fuzz::LoadAndCheck(data, size);
  return 0;
}
