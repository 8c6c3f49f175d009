#pragma once

// Reading target memory in bulk, in pieces of 1024 bytes, and the flash
// sectors an update touches.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "app/user_interface.h"
#include "image/file.h"
#include "image/memory_image.h"
#include "image/memory_map.h"
#include "image/memory_range.h"
#include "link/loader_checksum.h"
#include "link/loader_link.h"

namespace vok {

inline constexpr uint32_t kReadPiece = 1024;

// Adds to touched every sector that an update range overlaps (made by
// length) and to kept the parts of those sectors that no update range covers
// (made by end), both in ascending order.
void FindTouchedSectors(const MemoryRangeList& update_ranges, MemoryRangeList& kept_ranges,
                        MemoryRangeList& touched_sectors);

// Reads length bytes of target memory at address: 0 or a negative LinkError.
using TargetReader = std::function<int(uint32_t address, uint16_t length, uint8_t* destination)>;

// Bytes confirmed with one question to the loader: pieces are read (or
// records programmed) up to this many, then their range is compared at once.
// Bounds what is held in memory, and the loader's work per question.
inline constexpr uint32_t kConfirmSpan = 8 * kReadPiece;

// What the host's bytes are, for ConfirmSpan.
enum class HeldBytes {
  kRead,        // just read from the target: the target is right
  kProgrammed,  // just programmed: the host is right
};

// Confirms n bytes (at most kConfirmSpan) that the host holds for address:
// by the loader's checksum when it is a known CRC, otherwise (a sum, or no
// algorithm known) by reading them again in pieces of 1024 bytes. Bytes
// read are read again when they disagree, at most three reads a piece in
// all, and held takes the confirmed copy; programmed bytes must be what the
// target holds. 1 when confirmed; 0 with failed_at the first address of a
// piece that could not be; or a negative LinkError.
int ConfirmSpan(const TargetReader& read, LoaderChecksum& checks, uint32_t address, uint8_t* held,
                uint32_t n, HeldBytes kind, uint32_t& failed_at);

// Reads the range from the target into the image, every piece confirmed
// before it is stored. 1, or 0 after showing "Reading target memory failed
// (%i) !", that the bytes could not be confirmed, or "Cannot store data in
// memory image", or silently when the user asked to stop before a piece.
int ReadRangeIntoImage(LoaderLink& link, LoaderChecksum& checks, MemoryImage& image,
                       const CMemoryRange& range, ProgressBar* bar, UserInterface& ui);
int ReadRangeIntoImage(const TargetReader& read, LoaderChecksum& checks, MemoryImage& image,
                       const CMemoryRange& range, ProgressBar* bar, UserInterface& ui);

// Where target and image differ within a range: the first and the last
// differing address.
struct MemoryDifference {
  uint32_t first;
  uint32_t last;
};

// Reads the range from the target in pieces of 1024 bytes and compares it
// with the image. A piece that differs is read again, and a difference is
// named only when a second read gives the same bytes (or the third agrees
// with one of them). 1 with difference set when a byte differs (reset when
// none does); 0 with failed_at the piece's address when no two of its
// three reads agreed; or the negative code of the read that failed.
// advanced is told the length of every piece compared; it may be null.
int CompareRangeWithTarget(const TargetReader& read, MemoryImage& image, const CMemoryRange& range,
                           std::optional<MemoryDifference>& difference, uint32_t& failed_at,
                           const std::function<void(uint32_t)>& advanced);

// Writes the range as S-records of 64 data bytes (type by the range's end
// address) and its terminator to the open file, every piece confirmed before
// it is written. 1, or 0 after showing the read failure as ReadRangeIntoImage
// does, or silently after a file error or a stop the user asked for. The
// file stays open either way.
int CopyRangeToFile(LoaderLink& link, LoaderChecksum& checks, TextFile& file,
                    const CMemoryRange& range, ProgressBar* bar, UserInterface& ui);
int CopyRangeToFile(const TargetReader& read, LoaderChecksum& checks, TextFile& file,
                    const CMemoryRange& range, ProgressBar* bar, UserInterface& ui);

// How a run's bytes were confirmed, for its log line ("loader checksum
// CRC-16/XMODEM", "reading", ...); empty when nothing was.
std::string ChecksMethod(const LoaderChecksum& checks);

}  // namespace vok
