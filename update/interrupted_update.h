#pragma once

// A fresh update that starts while the command file of an interrupted one is
// on disk takes that file's plan along: the interrupted update erased or was
// about to erase its sectors, and its records hold the only copy of what they
// kept. The new command file erases the old sectors too and programs the old
// records beneath the new data, so the memory ends as if the interrupted
// update had completed and the new one had run after it.

#include <string>

#include "app/user_interface.h"
#include "image/memory_image.h"
#include "image/memory_range.h"

namespace vok {

// The plan of an interrupted update's command file.
struct InterruptedPlan {
  MemoryRangeList sectors;  // the sectors it erases, made by length
  MemoryRangeList records;  // the addresses its records program, merged
};

// Stores every record of the command file in the image, in file order, and
// fills plan; for a file that CheckCommandFile found sound. Called before
// the update file is loaded, whose data then lie over the old records. 1; or 0 after showing "Cannot store data in memory
// image", or silently after a file error.
int LayCommandFileIntoImage(const std::string& path, MemoryImage& image, InterruptedPlan& plan,
                            UserInterface& ui);

// What the new command file is made of: the ranges to program (the update
// ranges and the old records, merged), the sectors to erase (those of the
// update and the old ones) and the kept ranges, which are the parts of those
// sectors that neither the update nor the old plan fills. An old sector has
// no kept range: the old update left what its records do not hold erased.
void PlanWithInterrupted(const MemoryRangeList& update_ranges, const InterruptedPlan& plan,
                         MemoryRangeList& program_ranges, MemoryRangeList& kept_ranges,
                         MemoryRangeList& touched_sectors);

}  // namespace vok
