#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/settings.h"
#include "app/user_interface.h"
#include "image/file.h"
#include "image/memory_image.h"
#include "image/memory_range.h"

namespace vok {

// The command file: raw little-endian bytes, no header, no checksum.
//   erase section:   one 32-bit sector start per touched sector, then a 32-bit 0
//   program section: records of address (32 bits), n (16 bits, 1..1024), n data bytes
inline constexpr uint32_t kCommandChunkSize = 1024;

// What BuildUpdateCommandFile does when the marker of an interrupted update
// exists.
enum class PendingCommandFile {
  // Writes nothing and gives 0 after showing why: a marker must never stand
  // beside a command file being written.
  kRefuse,
  // The new command file carries the interrupted one's plan along: it is
  // written under another name and then takes the old one's place in one
  // step, so the marker always stands beside a complete command file.
  kReplace,
};

// Writes the command file (update ranges' records first, then the kept
// ranges'), makes it durable, then creates the empty marker file. 1 when both
// exist, 0 otherwise; "Cannot open command file" / "Cannot create semaphor
// file" are shown where they apply, a write error is silent.
int BuildUpdateCommandFile(const AppPaths& paths, UserInterface& ui, MemoryImage& image,
                           const MemoryRangeList& update_ranges,
                           const MemoryRangeList& kept_ranges,
                           const MemoryRangeList& touched_sectors,
                           PendingCommandFile pending = PendingCommandFile::kRefuse);

// One program record as the file holds it.
struct CommandRecord {
  uint32_t address = 0;
  uint16_t length = 0;
  uint8_t data[kCommandChunkSize];
};

// What a damaged command file holds, in words that follow "... is damaged: ".
class CommandFileDamage : public FileException {
 public:
  CommandFileDamage(const std::string& reason, const std::string& path)
      : FileException(reason, path, 0), reason_(reason) {}
  const std::string& Reason() const { return reason_; }

 private:
  std::string reason_;
};

// Reads a command file front to back and refuses what a damaged file would
// hold: an erase section without its terminator, a record cut short, a record
// length of 0 or above 1024. Every such fault is raised as a
// CommandFileDamage, every read error as a FileException. Bytes are counted
// as they are taken, the erase section included.
class CommandFileReader {
 public:
  CommandFileReader();
  CommandFileReader(const CommandFileReader&) = delete;
  CommandFileReader& operator=(const CommandFileReader&) = delete;

  // false when the file cannot be opened; a failed size query throws.
  bool Open(const std::string& path);
  void Close();
  // Starts reading again from the first byte.
  void Rewind();

  uint64_t Size() const { return size_; }
  uint64_t Consumed() const { return consumed_; }

  // The next sector start of the erase section; false at the terminator.
  bool NextSector(uint32_t& address);
  // The next record; false at the end of the file. Only after the erase
  // section has been read to its terminator.
  bool NextRecord(CommandRecord& record);

 private:
  // Up to n bytes; fewer only at the end of the file.
  size_t Take(uint8_t* out, size_t n);
  [[noreturn]] void Damaged(const std::string& reason) const;

  File file_;
  uint64_t size_ = 0;
  uint64_t consumed_ = 0;
  std::vector<uint8_t> buffer_;
  size_t buffered_ = 0;
  size_t position_ = 0;
  bool eof_ = false;
  bool in_program_section_ = false;
};

// Why the command file in the reader must not be carried out; empty when it
// may. Reads it once to its end: its structure as the reader refuses it,
// then what it would do: every sector it erases must be a sector of the
// flash table, every record must lie in RAM or in the sectors it erases (a
// record elsewhere would program flash that nothing erased, or the loader's
// own block). Leaves the reader rewound. A read error is raised.
std::string CommandFileFault(CommandFileReader& reader);

enum class CommandFileState { kSound, kMissing, kDamaged };
struct CommandFileCheck {
  CommandFileState state = CommandFileState::kSound;
  std::string reason;  // for kDamaged; a read error is told as one too
};
// CommandFileFault of the file at path; kMissing when it cannot be opened.
CommandFileCheck CheckCommandFile(const std::string& path);

// "The command file of the interrupted update is damaged: " and the reason.
std::string DamagedCommandFileMessage(const std::string& reason);

}  // namespace vok
