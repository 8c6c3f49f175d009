#include "update/command_file.h"

#include <algorithm>
#include <cstring>

#include <unistd.h>

#include "image/file.h"

namespace vok {

namespace {

constexpr size_t kIoBlock = 64 * 1024;

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

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
    if (!(address >= kErasedSkipThreshold && erased)) {
      std::vector<uint8_t>& b = out.Buffer();
      Put32(b, address);
      Put16(b, static_cast<uint16_t>(n));
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
  if (!out.Create(written)) {
    ui.ShowMessage("Cannot open command file", Buttons::Ok, Icon::Stop, kAppTitle);
    return 0;
  }
  try {
    std::vector<uint8_t>& b = out.Buffer();
    for (const CMemoryRange& sector : touched_sectors) Put32(b, sector.GetStart());
    Put32(b, 0);  // the terminator, also after an empty list
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
    if (replace) ReplaceFile(written, paths.UpdateCmd());
    SyncFolder(paths.UpdateDir());
  } catch (const FileException&) {
    out.Abandon();
    if (replace) ::unlink(written.c_str());
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

[[noreturn]] void CommandFileReader::Damaged(const char* what) const {
  throw FileException(what, file_.Path(), 0);
}

bool CommandFileReader::NextSector(uint32_t& address) {
  if (in_program_section_) Damaged("erase section already read");
  uint8_t b[4];
  if (Take(b, 4) < 4) Damaged("command file ends inside its erase section");
  address = uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
  if (address == 0) in_program_section_ = true;
  return address != 0;
}

bool CommandFileReader::NextRecord(CommandRecord& record) {
  if (!in_program_section_) Damaged("erase section not read");
  uint8_t b[4];
  size_t got = Take(b, 4);
  if (got == 0) return false;  // the commands are complete
  if (got < 4) Damaged("command file ends inside a record");
  record.address =
      uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
  if (Take(b, 2) < 2) Damaged("command file ends inside a record");
  record.length = static_cast<uint16_t>(b[0] | b[1] << 8);
  if (record.length == 0 || record.length > kCommandChunkSize)
    Damaged("command file record of a length no writer makes");
  if (Take(record.data, record.length) < record.length)
    Damaged("command file ends inside a record");
  return true;
}

}  // namespace vok
