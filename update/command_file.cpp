#include "update/command_file.h"

#include <algorithm>
#include <cstring>

#include <unistd.h>

#include "image/file.h"
#include "image/target_memory.h"
#include "link/address_text.h"
#include "link/byte_order.h"

namespace vok {

namespace {

constexpr size_t kIoBlock = 64 * 1024;

// The command file being written: buffered, and durable before it counts as
// complete.
class CommandFileWriter {
 public:
  // false when the file cannot be created.
  bool Create(const std::string& path) {
    try {
      file_.Open(path, FileMode::kCreate);
      return true;
    } catch (const FileException&) {
      return false;
    }
  }

  std::vector<uint8_t>& Buffer() { return buffer_; }

  void FlushIfFull() {
    if (buffer_.size() >= kIoBlock) Flush();
  }

  // Writes what is buffered, syncs the file to the disk and closes it.
  void Finish() {
    Flush();
    file_.Sync();
    file_.Close();
  }

  // Closes without further writes or reports.
  void Abandon() { file_.Abort(); }

 private:
  void Flush() {
    file_.Write(buffer_.data(), buffer_.size());
    buffer_.clear();
  }

  File file_;
  std::vector<uint8_t> buffer_;
};

// Appends the records of one range: chunks of up to 1024 bytes, leaving out
// the erased ones high enough in flash (judged by the chunk's start only).
void WriteRangeRecords(CommandFileWriter& out, MemoryImage& image, const CMemoryRange& range) {
  uint32_t address = range.GetStart();
  uint32_t remaining = range.GetLength();
  uint8_t data[kCommandChunkSize];
  while (remaining > 0) {
    uint32_t n = std::min(remaining, kCommandChunkSize);
    image.Fetch(address, data, n);
    bool erased = std::all_of(data, data + n, [](uint8_t b) { return b == 0xFF; });
    if (!(address >= kMemoryMap.erased_skip_from && erased)) {
      std::vector<uint8_t>& b = out.Buffer();
      AppendLe32(b, address);
      AppendLe16(b, static_cast<uint16_t>(n));
      b.insert(b.end(), data, data + n);
      out.FlushIfFull();
    }
    address += n;
    remaining -= n;
  }
}

// Creates the empty marker and makes its existence durable. On failure no
// marker is left.
bool CreateMarker(const std::string& path, const std::string& folder) {
  File marker;
  try {
    marker.Open(path, FileMode::kCreate);
  } catch (const FileException&) {
    return false;
  }
  try {
    marker.Sync();
    marker.Close();
    SyncFolder(folder);
    return true;
  } catch (const FileException&) {
    marker.Abort();
    ::unlink(path.c_str());
    return false;
  }
}

}  // namespace

int BuildUpdateCommandFile(const AppPaths& paths, UserInterface& ui, MemoryImage& image,
                           const MemoryRangeList& update_ranges,
                           const MemoryRangeList& kept_ranges,
                           const MemoryRangeList& touched_sectors, PendingCommandFile pending) {
  const bool replace = FileExists(paths.UpdateSem());
  if (replace && pending == PendingCommandFile::kRefuse) {
    ui.ShowMessage("Cannot write command file: an interrupted update is pending", Buttons::Ok,
                   Icon::Stop, kAppTitle);
    return 0;
  }
  const std::string written = replace ? paths.UpdateCmd() + ".new" : paths.UpdateCmd();
  CommandFileWriter out;
  std::string fault;
  if (!out.Create(written)) {
    ui.ShowMessage("Cannot open command file", Buttons::Ok, Icon::Stop, kAppTitle);
    return 0;
  }
  try {
    std::vector<uint8_t>& b = out.Buffer();
    for (const CMemoryRange& sector : touched_sectors) AppendLe32(b, sector.GetStart());
    AppendLe32(b, 0);  // the terminator, also after an empty list
    for (const CMemoryRange& range : update_ranges) WriteRangeRecords(out, image, range);
    for (const CMemoryRange& range : kept_ranges) WriteRangeRecords(out, image, range);
    // Bytes the image could not read came back as 0xFF; programming them
    // would erase what the target holds there.
    if (image.HadReadError())
      throw FileException("cannot read the memory image", image.GetFilePath(), 0);
    // The marker must never stand beside a command file that a crash of this
    // machine could still cut short: the file and its folder entry reach the
    // disk first.
    out.Finish();
    // Checked as a resumption would check it: a plan that reaches beyond
    // RAM and the sectors it erases never gets a marker.
    CommandFileReader reader;
    if (!reader.Open(written)) throw FileException("cannot open", written, 0);
    fault = CommandFileFault(reader);
    reader.Close();
    if (fault.empty()) {
      if (replace) ReplaceFile(written, paths.UpdateCmd());
      SyncFolder(paths.UpdateDir());
    }
  } catch (const FileException&) {
    out.Abandon();
    if (replace) ::unlink(written.c_str());
    return 0;
  }
  if (!fault.empty()) {
    // Without a marker a command file is only a plan that failed; the one
    // written beside an interrupted update's goes.
    if (replace) ::unlink(written.c_str());
    ui.ShowMessage("The update cannot be carried out: " + fault, Buttons::Ok, Icon::Stop,
                   kAppTitle);
    return 0;
  }
  // The marker that stands already keeps standing.
  if (replace) return 1;
  if (!CreateMarker(paths.UpdateSem(), paths.UpdateDir())) {
    ui.ShowMessage("Cannot create semaphor file", Buttons::Ok, Icon::Stop, kAppTitle);
    return 0;
  }
  return 1;
}

// ---------------------------------------------------------------------------

CommandFileReader::CommandFileReader() : buffer_(kIoBlock) {}

bool CommandFileReader::Open(const std::string& path) {
  Close();
  try {
    file_.Open(path, FileMode::kRead);
  } catch (const FileException&) {
    return false;
  }
  size_ = file_.Length();
  Rewind();
  return true;
}

void CommandFileReader::Close() { file_.Abort(); }

void CommandFileReader::Rewind() {
  file_.Seek(0);
  consumed_ = 0;
  buffered_ = position_ = 0;
  eof_ = false;
  in_program_section_ = false;
}

size_t CommandFileReader::Take(uint8_t* out, size_t n) {
  size_t got = 0;
  while (got < n) {
    if (position_ == buffered_) {
      if (eof_) break;
      position_ = 0;
      buffered_ = file_.Read(buffer_.data(), buffer_.size());
      if (buffered_ == 0) {
        eof_ = true;
        break;
      }
    }
    size_t k = std::min(n - got, buffered_ - position_);
    std::memcpy(out + got, buffer_.data() + position_, k);
    position_ += k;
    got += k;
  }
  consumed_ += got;
  return got;
}

[[noreturn]] void CommandFileReader::Damaged(const std::string& reason) const {
  throw CommandFileDamage(reason, file_.Path());
}

bool CommandFileReader::NextSector(uint32_t& address) {
  if (in_program_section_) throw FileException("erase section already read", file_.Path(), 0);
  uint8_t b[4];
  if (Take(b, 4) < 4) Damaged("it ends inside its list of sectors");
  address = Le32(b);
  if (address == 0) in_program_section_ = true;
  return address != 0;
}

bool CommandFileReader::NextRecord(CommandRecord& record) {
  if (!in_program_section_) throw FileException("erase section not read", file_.Path(), 0);
  uint8_t b[4];
  size_t got = Take(b, 4);
  if (got == 0) return false;  // the commands are complete
  if (got < 4) Damaged("it ends before its last record");
  record.address = Le32(b);
  if (Take(b, 2) < 2) Damaged("it ends before its last record");
  record.length = Le16(b);
  if (record.length == 0 || record.length > kCommandChunkSize)
    Damaged("its record at " + AddressText(record.address) + " holds " +
            std::to_string(record.length) + " bytes, which no update writes");
  if (Take(record.data, record.length) < record.length) Damaged("it ends before its last record");
  return true;
}

// ---------------------------------------------------------------------------

std::string CommandFileFault(CommandFileReader& reader) {
  reader.Rewind();
  std::string fault;
  try {
    // RAM and the erased sectors.
    MemoryRangeList writable;
    writable.AddSorted(CMemoryRange(kMemoryMap.ram.first, kMemoryMap.ram.last, CMemoryRange::kByEnd));
    uint32_t sector;
    while (reader.NextSector(sector)) {
      const FlashSector* s = kMemoryMap.SectorAt(sector);
      if (s == nullptr) {
        fault = "it erases " + AddressText(sector) + ", which is no sector of the flash";
        break;
      }
      writable.AddSorted(CMemoryRange(s->start, s->length, CMemoryRange::kByLength));
    }
    CommandRecord record;
    while (fault.empty() && reader.NextRecord(record)) {
      MemoryRangeList outside;
      writable.AddUncovered(CMemoryRange(record.address, record.length, CMemoryRange::kByLength),
                            outside);
      if (!outside.IsEmpty())
        fault = "it programs " + AddressText(outside.begin()->GetStart()) +
                ", which lies neither in RAM nor in a sector it erases";
    }
  } catch (const CommandFileDamage& damage) {
    fault = damage.Reason();
  }
  reader.Rewind();
  return fault;
}

CommandFileCheck CheckCommandFile(const std::string& path) {
  CommandFileReader reader;
  CommandFileCheck check;
  try {
    if (!reader.Open(path)) {
      check.state = CommandFileState::kMissing;
      return check;
    }
    check.reason = CommandFileFault(reader);
  } catch (const FileException& e) {
    check.reason = std::string("it cannot be read (") + e.what() + ")";
  }
  if (!check.reason.empty()) check.state = CommandFileState::kDamaged;
  return check;
}

std::string DamagedCommandFileMessage(const std::string& reason) {
  return "The command file of the interrupted update is damaged: " + reason;
}

}  // namespace vok
