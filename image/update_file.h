#pragma once

#include <string>

#include "app/user_interface.h"
#include "image/memory_image.h"
#include "image/memory_range.h"

namespace vok {

// Stores every data byte of the S-record file in the (open) image and adds
// to update_ranges one range, made by length, per run of records that each
// begin where the previous one ended. 1 when the whole file was read and
// stored; 0 after showing "Cannot open update file", "Update file format
// error" or "Cannot store data in memory image", or silently after a read
// error. What was stored before a failure stays.
int LoadUpdateFile(const std::string& path, MemoryImage& image, MemoryRangeList& update_ranges,
                   UserInterface& ui);

}  // namespace vok
