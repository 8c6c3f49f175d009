#include "image/target_memory.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "image/srecord.h"
#include "link/address_text.h"
#include "link/link_error.h"
#include "link/loader_commands.h"

namespace vok {
namespace {

TargetReader ReaderOf(LoaderLink& link) {
  return [&link](uint32_t address, uint16_t length, uint8_t* destination) {
    return ReadTargetMemory(link, address, length, destination);
  };
}

void ShowReadFailure(UserInterface& ui, int code) {
  ui.ShowMessage("Reading target memory failed (" + std::to_string(code) + ") !", Buttons::Ok,
                 Icon::Stop);
}

}  // namespace

void FindTouchedSectors(const MemoryRangeList& update_ranges, MemoryRangeList& kept_ranges,
                        MemoryRangeList& touched_sectors) {
  for (const FlashSector& s : kMemoryMap.sectors) {
    CMemoryRange sector(s.start, s.length, CMemoryRange::kByLength);
    if (update_ranges.OverlapsAny(sector)) touched_sectors.AddSorted(sector);
  }
  for (const CMemoryRange& sector : touched_sectors) update_ranges.AddUncovered(sector, kept_ranges);
}

namespace {

constexpr int kReadsPerPiece = 3;

// 0 when the piece was filled, else a negative code: a reader's positive
// result must not pass for a confirmation.
int ReadPiece(const TargetReader& read, uint32_t address, uint32_t n, uint8_t* destination) {
  const int c = read(address, static_cast<uint16_t>(n), destination);
  return c > 0 ? static_cast<int>(kErrWrongReply) : c;
}

// The range as a whole disagreed with the loader's checksum: each piece is
// asked again on its own. A piece read is read again while it disagrees; a
// programmed piece that still disagrees is wrong on the target.
int ConfirmPieceByChecksum(const TargetReader& read, LoaderChecksum& checks, uint32_t address,
                           uint8_t* held, uint32_t n, HeldBytes kind) {
  for (int reads = 1;; ++reads) {
    const int outcome = checks.Compare(address, held, n);
    if (outcome < 0) return outcome;
    if (outcome == LoaderChecksum::kSame) return 1;
    if (kind == HeldBytes::kProgrammed || reads == kReadsPerPiece) return 0;
    if (int c = ReadPiece(read, address, n, held); c != 0) return c;
  }
}

// No checksum to go by. Bytes read are confirmed when two of at most three
// reads agree (held takes that copy); programmed bytes when a read gives
// them back. right is cleared when the held bytes turn out to be wrong.
int ConfirmPieceByReading(const TargetReader& read, uint32_t address, uint8_t* held, uint32_t n,
                          HeldBytes kind, bool& right) {
  uint8_t again[kReadPiece], other[kReadPiece];
  const int reads = kind == HeldBytes::kRead ? kReadsPerPiece - 1 : kReadsPerPiece;
  for (int k = 0; k < reads; ++k) {
    if (int c = ReadPiece(read, address, n, again); c != 0) return c;
    if (std::memcmp(again, held, n) == 0) return 1;
    if (kind == HeldBytes::kRead) {
      if (k > 0 && std::memcmp(again, other, n) == 0) {
        right = false;
        std::memcpy(held, again, n);
        return 1;
      }
      std::memcpy(other, again, n);
    }
  }
  right = false;
  return 0;
}

// Receives each confirmed piece in address order; false stops the reading
// (after the sink's own message, if any).
using PieceSink = std::function<bool(uint32_t address, const uint8_t* data, uint32_t n)>;

int ReadConfirmed(const TargetReader& read, LoaderChecksum& checks, const CMemoryRange& range,
                  ProgressBar* bar, UserInterface& ui, const PieceSink& sink) {
  const uint32_t total = range.GetLength();
  std::vector<uint8_t> span(std::min(total, kConfirmSpan));
  uint32_t address = range.GetStart();
  uint32_t remaining = total;
  while (remaining > 0) {
    const uint32_t n = std::min(remaining, kConfirmSpan);
    for (uint32_t off = 0; off < n; off += kReadPiece) {
      // A stop asked for ends the run before the next command; nothing
      // unconfirmed has been handed on.
      if (ui.StopRequested()) return 0;
      const auto len = static_cast<uint16_t>(std::min(kReadPiece, n - off));
      // Only 0 means the piece was filled.
      if (int c = read(address + off, len, span.data() + off); c != 0) {
        ShowReadFailure(ui, c);
        return 0;
      }
    }
    uint32_t failed_at = address;
    const int c = ConfirmSpan(read, checks, address, span.data(), n, HeldBytes::kRead, failed_at);
    if (c < 0) {
      ShowReadFailure(ui, c);
      return 0;
    }
    if (c == 0) {
      ui.ShowMessage("Reading target memory failed at " + AddressText(failed_at) +
                         ": the bytes read could not be confirmed",
                     Buttons::Ok, Icon::Stop);
      return 0;
    }
    for (uint32_t off = 0; off < n; off += kReadPiece) {
      const uint32_t len = std::min(kReadPiece, n - off);
      if (!sink(address + off, span.data() + off, len)) return 0;
      remaining -= len;
      if (bar) bar->SetProgress(total, total - remaining);
    }
    address += n;
  }
  if (bar) bar->ResetProgress();
  return 1;
}

}  // namespace

int ConfirmSpan(const TargetReader& read, LoaderChecksum& checks, uint32_t address, uint8_t* held,
                uint32_t n, HeldBytes kind, uint32_t& failed_at) {
  const int outcome = checks.Compare(address, held, n);
  if (outcome < 0) {
    failed_at = address;
    return outcome;
  }
  if (outcome == LoaderChecksum::kSame) return 1;
  bool right = true;
  for (uint32_t off = 0; off < n; off += kReadPiece) {
    const uint32_t len = std::min(kReadPiece, n - off);
    const int c = outcome == LoaderChecksum::kDiffers
                      ? ConfirmPieceByChecksum(read, checks, address + off, held + off, len, kind)
                      : ConfirmPieceByReading(read, address + off, held + off, len, kind, right);
    if (c != 1) {
      failed_at = address + off;
      return c;
    }
  }
  if (outcome == LoaderChecksum::kCannotTell) checks.ReadingAgreed(right);
  return 1;
}

int ReadRangeIntoImage(LoaderLink& link, LoaderChecksum& checks, MemoryImage& image,
                       const CMemoryRange& range, ProgressBar* bar, UserInterface& ui) {
  return ReadRangeIntoImage(ReaderOf(link), checks, image, range, bar, ui);
}

int ReadRangeIntoImage(const TargetReader& read, LoaderChecksum& checks, MemoryImage& image,
                       const CMemoryRange& range, ProgressBar* bar, UserInterface& ui) {
  return ReadConfirmed(read, checks, range, bar, ui,
                       [&](uint32_t address, const uint8_t* data, uint32_t n) {
                         if (image.Store(address, data, n) == MemoryImage::kStored) return true;
                         ui.ShowMessage("Cannot store data in memory image", Buttons::Ok,
                                        Icon::Stop);
                         return false;
                       });
}

namespace {

// A piece read differs from the image: it is read again, and the reads
// decide once one gives the image's bytes or two agree (target takes that
// copy). A read damaged past the frame check is thereby not reported as a
// difference. 1, 0 when no two of three reads agree, or a negative code.
int SettleDifferingPiece(const TargetReader& read, uint32_t address, uint32_t n, uint8_t* target,
                         const uint8_t* wanted) {
  uint8_t again[kReadPiece], other[kReadPiece];
  for (int k = 1; k < kReadsPerPiece; ++k) {
    if (int c = ReadPiece(read, address, n, again); c != 0) return c;
    if (std::memcmp(again, wanted, n) == 0 || std::memcmp(again, target, n) == 0 ||
        (k > 1 && std::memcmp(again, other, n) == 0)) {
      std::memcpy(target, again, n);
      return 1;
    }
    std::memcpy(other, again, n);
  }
  return 0;
}

}  // namespace

int CompareRangeWithTarget(const TargetReader& read, MemoryImage& image, const CMemoryRange& range,
                           std::optional<MemoryDifference>& difference, uint32_t& failed_at,
                           const std::function<void(uint32_t)>& advanced) {
  difference.reset();
  uint8_t target[kReadPiece];
  uint8_t wanted[kReadPiece];
  uint32_t address = range.GetStart();
  uint32_t remaining = range.GetLength();
  while (remaining > 0) {
    const uint16_t n = static_cast<uint16_t>(std::min(remaining, kReadPiece));
    if (int c = ReadPiece(read, address, n, target); c != 0) return c;
    image.Fetch(address, wanted, n);
    if (std::memcmp(target, wanted, n) != 0) {
      if (int c = SettleDifferingPiece(read, address, n, target, wanted); c != 1) {
        failed_at = address;
        return c;
      }
    }
    for (uint32_t i = 0; i < n; ++i) {
      if (target[i] == wanted[i]) continue;
      if (!difference) difference = MemoryDifference{address + i, address + i};
      difference->last = address + i;
    }
    remaining -= n;
    address += n;
    if (advanced) advanced(n);
  }
  return 1;
}

int CopyRangeToFile(LoaderLink& link, LoaderChecksum& checks, TextFile& file,
                    const CMemoryRange& range, ProgressBar* bar, UserInterface& ui) {
  return CopyRangeToFile(ReaderOf(link), checks, file, range, bar, ui);
}

int CopyRangeToFile(const TargetReader& read, LoaderChecksum& checks, TextFile& file,
                    const CMemoryRange& range, ProgressBar* bar, UserInterface& ui) {
  char data_type = '1', end_type = '9';
  if (range.GetEnd() > 0xFFFFFF) {
    data_type = '3';
    end_type = '7';
  } else if (range.GetEnd() > 0xFFFF) {
    data_type = '2';
    end_type = '8';
  }
  std::string lines;
  auto write = [&](uint32_t address, const uint8_t* data, uint32_t n) {
    lines.clear();
    for (uint32_t at = 0; at < n; at += kSRecordLineData) {
      const uint32_t len = std::min<uint32_t>(kSRecordLineData, n - at);
      lines += FormatSRecord(data_type, address + at, len, data + at);
    }
    file.WriteText(lines);
    return true;
  };
  try {
    if (!ReadConfirmed(read, checks, range, bar, ui, write)) return 0;
    file.WriteText(FormatSRecord(end_type, 0, 0, nullptr));
  } catch (const FileException&) {
    return 0;
  }
  return 1;
}

std::string ChecksMethod(const LoaderChecksum& checks) {
  if (const Checksum16* algorithm = checks.Algorithm()) {
    if (!checks.ConfirmingAlgorithm())
      return "reading (the loader's " + std::string(algorithm->name) + " cannot confirm alone)";
    std::string how = "loader checksum " + std::string(algorithm->name);
    if (checks.BytesByReading() > 0) how += " and reading";
    return how;
  }
  if (checks.BytesByReading() == 0) return std::string();
  if (checks.state() == LoaderChecksum::State::kUnknown)
    return "reading (loader checksum of no known kind)";
  return "reading";
}

}  // namespace vok
