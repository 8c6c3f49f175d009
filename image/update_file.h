#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/user_interface.h"
#include "image/memory_image.h"
#include "image/memory_range.h"

namespace vok {

struct UpdateFileOptions {
  // Read the file as a raw binary whose first byte belongs at this address,
  // whatever it holds. Without it the content tells the format.
  std::optional<uint32_t> raw_base;
};

// Stores every data byte of the update file (Motorola S-records, Intel HEX
// or ELF, told apart by content; or a raw binary) in the (open) image and
// adds to update_ranges one range, made by length, per run of data that
// each begins where the previous one ended. 1 when the whole file was read
// and stored; 0 after showing "Cannot open update file", "Update file
// format error" or "Cannot store data in memory image", or silently after a
// read error. What was stored before a failure stays.
int LoadUpdateFile(const std::string& path, MemoryImage& image, MemoryRangeList& update_ranges,
                   UserInterface& ui, const UpdateFileOptions& options = {});

}  // namespace vok
