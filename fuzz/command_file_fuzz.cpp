// The command-file reader on any file: it either yields the erase section,
// then records of 1 to 1024 bytes, or refuses the file with a FileException.
// It never reads past the file or counts more than it holds.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/scratch.h"
#include "image/file.h"
#include "update/command_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = vok::fuzz::ScratchFolder() + "UPDATE.CMD";
  vok::fuzz::WriteWhole(path, data, size);
  vok::CommandFileReader reader;
  if (!reader.Open(path)) std::abort();
  if (reader.Size() != size) std::abort();
  // Twice: a resumed run reads the same file again from its start.
  for (int pass = 0; pass < 2; ++pass) {
    try {
      uint32_t sector = 0;
      size_t sectors = 0;
      while (reader.NextSector(sector)) {
        if (sector == 0) std::abort();
        ++sectors;
      }
      vok::CommandRecord record;
      uint64_t bytes = 4 * (sectors + 1);
      while (reader.NextRecord(record)) {
        if (record.length == 0 || record.length > vok::kCommandChunkSize) std::abort();
        bytes += 6 + record.length;
      }
      // A file read to its end was taken whole.
      if (bytes != size || reader.Consumed() != size) std::abort();
    } catch (const vok::FileException&) {
      // A damaged file is refused.
    }
    if (reader.Consumed() > size) std::abort();
    reader.Rewind();
  }
  reader.Close();
  return 0;
}
