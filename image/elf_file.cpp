#include "image/elf_file.h"

namespace vok {
namespace {

constexpr uint32_t kLoadSegment = 1;  // PT_LOAD
constexpr uint32_t kNullSection = 0;  // SHT_NULL
constexpr uint32_t kNoBits = 8;       // SHT_NOBITS: space, not contents
constexpr uint64_t kAllocated = 0x2;  // SHF_ALLOC
constexpr uint16_t kExtendedCount = 0xFFFF;  // PN_XNUM

// A header of the file in memory, decoded in the file's byte order.
class Fields {
 public:
  Fields(const uint8_t* bytes, bool big) : b_(bytes), big_(big) {}
  uint64_t Get(size_t at, size_t size) const {
    uint64_t v = 0;
    for (size_t i = 0; i < size; ++i) {
      const uint8_t byte = b_[big_ ? at + i : at + size - 1 - i];
      v = v << 8 | byte;
    }
    return v;
  }

 private:
  const uint8_t* b_;
  bool big_;
};

// Offsets of the fields this reader uses, for 32 and 64 bit files.
struct Layout {
  size_t header_size;
  size_t word;  // size of addresses and offsets
  size_t phoff, shoff, phentsize, phnum, shentsize, shnum;
  size_t min_phent, p_type, p_offset, p_paddr, p_filesz, p_memsz;
  size_t min_shent, sh_type, sh_flags, sh_addr, sh_offset, sh_size;
};

constexpr Layout kElf32{52, 4, 28, 32, 42, 44, 46, 48, 32, 0, 4, 12, 16, 20, 40, 4, 8, 12, 16, 20};
constexpr Layout kElf64{64, 8, 32, 40, 54, 56, 58, 60, 56, 0, 8, 24, 32, 40, 64, 4, 8, 16, 24, 32};

// True when [offset, offset + length) lies inside the file.
bool Inside(uint64_t offset, uint64_t length, uint64_t file_size) {
  return offset <= file_size && length <= file_size - offset;
}

}  // namespace

int ReadElfPieces(const ElfByteReader& read, uint64_t file_size, std::vector<ElfPiece>& pieces) {
  pieces.clear();
  uint8_t header[64] = {};
  if (file_size < 16 || !read(0, header, 16)) return 0;
  if (header[0] != 0x7F || header[1] != 'E' || header[2] != 'L' || header[3] != 'F') return 0;
  if ((header[4] != 1 && header[4] != 2) || (header[5] != 1 && header[5] != 2) || header[6] != 1)
    return 0;
  const Layout& l = header[4] == 1 ? kElf32 : kElf64;
  const bool big = header[5] == 2;
  if (file_size < l.header_size || !read(0, header, l.header_size)) return 0;
  const Fields h(header, big);
  const uint64_t phoff = h.Get(l.phoff, l.word), shoff = h.Get(l.shoff, l.word);
  const uint64_t phentsize = h.Get(l.phentsize, 2), phnum = h.Get(l.phnum, 2);
  const uint64_t shentsize = h.Get(l.shentsize, 2), shnum = h.Get(l.shnum, 2);

  uint8_t entry[64];
  if (phnum > 0) {
    if (phnum == kExtendedCount || phentsize < l.min_phent) return 0;
    if (!Inside(phoff, phnum * phentsize, file_size)) return 0;
    for (uint64_t i = 0; i < phnum; ++i) {
      if (!read(phoff + i * phentsize, entry, l.min_phent)) return 0;
      const Fields p(entry, big);
      if (p.Get(l.p_type, 4) != kLoadSegment) continue;
      const uint64_t offset = p.Get(l.p_offset, l.word), length = p.Get(l.p_filesz, l.word);
      if (length > p.Get(l.p_memsz, l.word) || !Inside(offset, length, file_size)) return 0;
      if (length > 0) pieces.push_back({offset, p.Get(l.p_paddr, l.word), length});
    }
    return 1;
  }
  // No program headers: an object file, laid out by its sections.
  if (shoff == 0) return 1;
  if (shnum == 0 || shentsize < l.min_shent) return 0;  // 0 with an offset: extended numbering
  if (!Inside(shoff, shnum * shentsize, file_size)) return 0;
  for (uint64_t i = 0; i < shnum; ++i) {
    if (!read(shoff + i * shentsize, entry, l.min_shent)) return 0;
    const Fields s(entry, big);
    const uint64_t type = s.Get(l.sh_type, 4);
    if (type == kNullSection || type == kNoBits || !(s.Get(l.sh_flags, l.word) & kAllocated)) continue;
    const uint64_t offset = s.Get(l.sh_offset, l.word), length = s.Get(l.sh_size, l.word);
    if (!Inside(offset, length, file_size)) return 0;
    if (length > 0) pieces.push_back({offset, s.Get(l.sh_addr, l.word), length});
  }
  return 1;
}

}  // namespace vok
