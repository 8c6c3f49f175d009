#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/settings.h"
#include "app/user_interface.h"
#include "image/memory_image.h"
#include "image/memory_range.h"
#include "image/target_memory.h"
#include "image/update_file.h"
#include "link/loader_link.h"

namespace vok {

struct VerifyContext {
  LoaderLink& link;
  const AppPaths& paths;
  UserInterface& ui;
  LogList& log;
  ProgressBar& progress;
};

struct VerifyOptions {
  // Folder of the temporary memory image; empty: the application's UPDATE folder.
  std::string image_folder;
  UpdateFileOptions file;
  // As UpdateOptions::on_connected.
  std::function<void(LoaderLink&)> on_connected;
};

// The file's data areas, in ascending order: its ranges with those that
// overlap or touch joined, so that every address is compared once.
std::vector<CMemoryRange> DataAreas(const MemoryRangeList& ranges);

// Compares every data area of the update file with target memory; never
// erases or programs. Connects (with the hand-over from the application),
// loads the file and compares span by span: once the loader's checksum is
// identified (on the first spans, which are read), a span whose checksum
// agrees is not read; every other span is read and compared, so the result
// names the differing bytes exactly. 1 when the comparison was carried out,
// with one entry in differences per data area that differs, in ascending
// order (each also logged as "0x%08X-0x%08X differs" once the comparison
// has ended); 0 when it could not be (the reason has been shown and
// logged). Leaves the link closed.
int VerifyTargetAgainstFile(VerifyContext& context, const std::string& file_name, int port,
                            int baud_rate, const VerifyOptions& options,
                            std::vector<MemoryDifference>& differences);

// "0x00084100-0x0008410F differs"
std::string DifferenceText(const MemoryDifference& difference);

}  // namespace vok
