#pragma once

// What the target holds already is not written again. Before an update is
// planned, the update file's bytes in every touched flash sector and in RAM
// are compared with the target's by the loader's checksum: a sector whose
// file data all agree is neither read, erased nor programmed, and in RAM only
// the spans that differ are programmed. Only an identified CRC decides; a sum
// cannot tell a reordering or a 0x00 from a 0xFF, and an unknown algorithm
// tells nothing, so with either everything is written.

#include <cstdint>
#include <string>

#include "image/memory_image.h"
#include "image/memory_range.h"
#include "image/target_memory.h"
#include "link/loader_checksum.h"

namespace vok {

// One comparison covers at most this many bytes: short enough that a CRC-16
// catches every change of up to three bits and every burst of up to 16 bits
// (the catalogue's CRCs keep that distance up to 32751 data bits; 4 KiB
// would be 17 bits too many). Each span that is left alone has two
// questions behind it, over the span and over its middle, whose edges
// differ.
inline constexpr uint32_t kCompareSpan = 4092;

struct UnchangedCounts {
  bool compared = false;  // a CRC was identified and the comparison made
  int sectors = 0;        // touched flash sectors
  int sectors_unchanged = 0;
  uint64_t ram_bytes = 0;  // the file's bytes in RAM
  uint64_t ram_unchanged = 0;
};

// Takes out of the plan what the target holds already: every touched sector
// whose file data agree leaves touched_sectors, its kept parts leave
// kept_ranges and its file data leave update_ranges; in RAM the agreeing
// spans leave update_ranges. The algorithm, while unknown, is identified on
// the file's own bytes where the target holds them, else on a first read of
// a few pieces. 1 (with nothing taken out when no CRC is identified), or the
// negative LinkError of a question or read that failed.
int LeaveUnchanged(const TargetReader& read, LoaderChecksum& checks, MemoryImage& image,
                   MemoryRangeList& update_ranges, MemoryRangeList& kept_ranges,
                   MemoryRangeList& touched_sectors, UnchangedCounts& counts);

// The log line of what was left alone ("4 of 6 sectors unchanged, not
// erased").
std::string UnchangedLine(const UnchangedCounts& counts);

}  // namespace vok
