#include "image/update_file.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "image/elf_file.h"
#include "image/file.h"
#include "image/firmware_format.h"
#include "image/intel_hex.h"
#include "image/srecord.h"

namespace vok {
namespace {

constexpr size_t kStoreBatch = 64 * 1024;
constexpr const char* kFormatError = "Update file format error";
constexpr const char* kStoreError = "Cannot store data in memory image";

void ShowError(UserInterface& ui, const char* text) { ui.ShowMessage(text, Buttons::Ok, Icon::Stop); }

// Data in file order, into the image and into runs: a run collects pieces
// each of which starts exactly where the previous one ended; anything else
// starts a new run. Consecutive pieces go to the image together, in one
// Store.
class RunCollector {
 public:
  RunCollector(MemoryImage& image, MemoryRangeList& ranges) : image_(image), ranges_(ranges) {}

  // False when the image refused the data, after everything before it went in.
  bool Add(uint64_t address, const uint8_t* data, uint32_t n) {
    if (n == 0) return true;
    // Above 32 bits no target address exists; the image holds none of it.
    if (address + n - 1 > 0xFFFFFFFFu) {
      Flush();
      return false;
    }
    const auto at = static_cast<uint32_t>(address);
    if (run_length_ > 0 && at != expected_) {
      if (!Flush()) return false;
      FinishRun();
    }
    if (run_length_ == 0) run_start_ = at;
    if (!image_.Holds(at, n)) {
      // Stored on its own, so that the part inside the image goes in too.
      if (!Flush() || image_.Store(at, data, n) != MemoryImage::kStored) return false;
    } else {
      if (pending_.empty()) pending_address_ = at;
      pending_.insert(pending_.end(), data, data + n);
      if (pending_.size() >= kStoreBatch && !Flush()) return false;
    }
    run_length_ += n;
    expected_ = at + n;
    return true;
  }

  bool Flush() {
    if (pending_.empty()) return true;
    const int r = image_.Store(pending_address_, pending_.data(), static_cast<uint32_t>(pending_.size()));
    pending_.clear();
    return r == MemoryImage::kStored;
  }

  // The open run into the list; true when all its data is stored.
  bool Finish() {
    if (!Flush()) return false;
    FinishRun();
    return true;
  }

 private:
  void FinishRun() {
    if (run_length_ > 0)
      ranges_.AddSorted(std::make_unique<CMemoryRange>(run_start_, run_length_, CMemoryRange::kByLength));
    run_length_ = 0;
  }

  MemoryImage& image_;
  MemoryRangeList& ranges_;
  uint32_t run_start_ = 0;
  uint32_t run_length_ = 0;
  uint32_t expected_ = 0;
  std::vector<uint8_t> pending_;
  uint32_t pending_address_ = 0;
};

// What a format loader ends in: 1, or the message that is to be shown.
struct Outcome {
  const char* message = nullptr;
};

Outcome LoadSRecords(TextFile& file, RunCollector& runs) {
  std::string line;
  uint8_t data[kMaxSRecordData];
  for (;;) {
    const TextFile::LineStatus status = file.ReadLine(line, kMaxSRecordLine);
    if (status == TextFile::LineStatus::kEnd) return {};
    char type = 0;
    uint32_t address = 0;
    // A line longer than any record is not one, whatever it begins with.
    const int n = status == TextFile::LineStatus::kTooLong
                      ? -1
                      : ParseSRecord(line, type, address, data, sizeof data);
    if (n < 0) return {kFormatError};
    if (n == 0 || type == '0') continue;  // header texts are the update log's
    if (!runs.Add(address, data, static_cast<uint32_t>(n))) return {kStoreError};
  }
}

Outcome LoadIntelHex(TextFile& file, RunCollector& runs) {
  IntelHexReader reader;
  std::string line;
  for (;;) {
    const TextFile::LineStatus status = file.ReadLine(line, kMaxIntelHexLine);
    // Without its end record the file was cut short.
    if (status == TextFile::LineStatus::kEnd) return {reader.Ended() ? nullptr : kFormatError};
    if (status == TextFile::LineStatus::kTooLong) return {kFormatError};
    const IntelHexReader::Result r = reader.Take(line);
    if (r == IntelHexReader::kMalformed) return {kFormatError};
    for (int i = 0; r == IntelHexReader::kData && i < reader.piece_count(); ++i) {
      const IntelHexReader::Piece& p = reader.pieces()[i];
      if (!runs.Add(p.address, p.data, p.length)) return {kStoreError};
    }
  }
}

// length bytes of the file at offset, to address, in pieces of the batch size.
Outcome CopyFileBytes(File& file, uint64_t offset, uint64_t address, uint64_t length,
                      RunCollector& runs) {
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min<uint64_t>(length, kStoreBatch)));
  while (length > 0) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(length, buffer.size()));
    // The file changed under us: it is no longer what was looked at.
    if (file.ReadAt(offset, buffer.data(), n) != n) return {kFormatError};
    if (!runs.Add(address, buffer.data(), static_cast<uint32_t>(n))) return {kStoreError};
    offset += n;
    address += n;
    length -= n;
  }
  return {};
}

Outcome LoadElf(File& file, RunCollector& runs) {
  const uint64_t size = file.Length();
  std::vector<ElfPiece> pieces;
  auto read = [&file](uint64_t offset, void* buffer, size_t n) { return file.ReadAt(offset, buffer, n) == n; };
  if (!ReadElfPieces(read, size, pieces)) return {kFormatError};
  for (const ElfPiece& p : pieces) {
    if (Outcome o = CopyFileBytes(file, p.offset, p.address, p.length, runs); o.message) return o;
  }
  return {};
}

}  // namespace

int LoadUpdateFile(const std::string& path, MemoryImage& image, MemoryRangeList& update_ranges,
                   UserInterface& ui, const UpdateFileOptions& options) {
  // A text reader for the line formats, a binary one for the others; the
  // first bytes choose.
  TextFile text;
  File binary;
  RunCollector runs(image, update_ranges);
  Outcome outcome;
  try {
    binary.Open(path, FileMode::kRead);
  } catch (const FileException&) {
    ShowError(ui, "Cannot open update file");
    return 0;
  }
  try {
    char head[4];
    const FirmwareFormat format = options.raw_base
                                      ? FirmwareFormat::kOther
                                      : FirmwareFormatOf(std::string_view(head, binary.ReadAt(0, head, sizeof head)));
    switch (format) {
      case FirmwareFormat::kEmpty:
        break;
      case FirmwareFormat::kSRecord:
      case FirmwareFormat::kIntelHex:
        binary.Abort();
        text.Open(path, FileMode::kRead);
        outcome = format == FirmwareFormat::kSRecord ? LoadSRecords(text, runs) : LoadIntelHex(text, runs);
        break;
      case FirmwareFormat::kElf:
        outcome = LoadElf(binary, runs);
        break;
      case FirmwareFormat::kOther:
        outcome = options.raw_base ? CopyFileBytes(binary, 0, *options.raw_base, binary.Length(), runs)
                                   : Outcome{kFormatError};
        break;
    }
    if (!outcome.message && !runs.Finish()) outcome.message = kStoreError;
    if (outcome.message) {
      // Whatever came before the failure is stored before it is reported.
      if (!runs.Flush()) outcome.message = kStoreError;
      text.Abort();
      binary.Abort();
      ShowError(ui, outcome.message);
      return 0;
    }
    text.Close();
    binary.Abort();  // read only: nothing to report on closing
  } catch (const FileException&) {
    runs.Flush();
    text.Abort();
    binary.Abort();
    return 0;
  }
  return 1;
}

}  // namespace vok
