#include "update/flash_programming.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "image/file.h"
#include "image/memory_range.h"
#include "image/target_memory.h"
#include "link/address_text.h"
#include "link/loader_commands.h"
#include "update/command_file.h"

namespace vok {

namespace {

constexpr uint32_t kVerifyPiece = 1024;

// The bar counts in 32 bits; a total beyond that is scaled down.
void ShowProgress(ProgressBar* bar, uint64_t total, uint64_t done) {
  if (bar == nullptr || total == 0) return;
  while (total > 0xFFFFFFFFu) {
    total >>= 1;
    done >>= 1;
  }
  bar->SetProgress(static_cast<uint32_t>(total), static_cast<uint32_t>(std::min(done, total)));
}

// The length of the sector that starts there; 0 for no sector of the table.
uint32_t FlashSectorLength(uint32_t start) {
  const FlashSector* s = kMemoryMap.SectorAt(start);
  return s != nullptr ? s->length : 0;
}

// The parts of the erased sectors that no record covers, sector by sector in
// the command file's order: they must read as erased flash.
std::vector<CMemoryRange> ErasedGaps(const std::vector<uint32_t>& sectors,
                                     const MemoryRangeList& records) {
  std::vector<CMemoryRange> gaps;
  for (uint32_t start : sectors) {
    const uint32_t length = FlashSectorLength(start);
    if (length == 0) continue;  // not a sector of the table: its extent is unknown
    MemoryRangeList uncovered;
    records.AddUncovered(CMemoryRange(start, length, CMemoryRange::kByLength), uncovered);
    gaps.insert(gaps.end(), uncovered.begin(), uncovered.end());
  }
  return gaps;
}

// The command file's sectors in file order, and its records.
struct Plan {
  std::vector<uint32_t> sectors;
  MemoryRangeList records;
};

Plan ReadPlan(CommandFileReader& reader) {
  Plan plan;
  reader.Rewind();
  uint32_t address;
  while (reader.NextSector(address)) plan.sectors.push_back(address);
  CommandRecord record;
  while (reader.NextRecord(record))
    plan.records.AddSorted(CMemoryRange(record.address, record.length, CMemoryRange::kByLength));
  return plan;
}

template <class Ranges>
uint64_t RangeBytes(const Ranges& ranges) {
  uint64_t n = 0;
  for (const CMemoryRange& r : ranges) n += r.GetLength();
  return n;
}

// Reads every record of the command file back. false with the address of
// the first byte that differs, or of the record whose read failed.
bool VerifyTargetMemory(LoaderLink& link, UserInterface& ui, CommandFileReader& reader,
                        uint64_t total, ProgressBar* progress, uint32_t& failed_at,
                        bool& stopped) {
  if (progress) progress->ResetProgress();
  uint64_t done = 0;
  uint8_t target[kVerifyPiece];
  reader.Rewind();
  uint32_t address;
  while (reader.NextSector(address)) {
  }
  CommandRecord record;
  while (reader.NextRecord(record)) {
    if ((stopped = ui.StopRequested())) return false;
    // Records hold at most 1024 bytes, so one read covers one.
    if (ReadTargetMemory(link, record.address, record.length, target) != 0) {
      failed_at = record.address;
      return false;
    }
    for (uint32_t i = 0; i < record.length; ++i) {
      if (target[i] != record.data[i]) {
        failed_at = record.address + i;
        return false;
      }
    }
    done += record.length;
    ShowProgress(progress, total, done);
  }
  return true;
}

// One checksum question covers at most the largest sector: the loader's
// work per question stays within its time-out.
constexpr uint32_t kErasedQuestion = 0x20000;

// The checksum of n bytes of erased flash.
uint16_t ErasedChecksum(const Checksum16& crc, uint32_t n) {
  static const std::vector<uint8_t> erased(kVerifyPiece, 0xFF);
  ChecksumRun run(crc);
  for (uint32_t off = 0; off < n; off += kVerifyPiece)
    run.Add(erased.data(), std::min(kVerifyPiece, n - off));
  return run.Value();
}

// Whether n bytes (at most 1024) at address read as erased flash. The
// loader's short erased reply confirms at once: damage could only make it
// look like a reply with data (which then fails safely), never the other
// way round. A reply with data that are all 0xFF comes from a loader that
// does not use the short reply, or from damage that the frame's XOR let
// pass over bytes that are not erased: a second one must agree. false with
// failed_at the first byte that is not 0xFF, or the piece's start when it
// could not be read.
bool PieceErased(LoaderLink& link, uint32_t address, uint32_t n, uint32_t& failed_at) {
  uint8_t bytes[kVerifyPiece];
  int erased_data = 0;
  for (int reads = 0; reads < 3; ++reads) {
    bool erased_reply = false;
    if (ReadTargetMemory(link, address, static_cast<uint16_t>(n), bytes, erased_reply) != 0) break;
    if (erased_reply) return true;
    const uint8_t* other = std::find_if(bytes, bytes + n, [](uint8_t b) { return b != 0xFF; });
    if (other != bytes + n) {
      failed_at = address + static_cast<uint32_t>(other - bytes);
      return false;
    }
    if (++erased_data == 2) return true;
  }
  failed_at = address;
  return false;
}

enum class Erased { kYes, kNo, kStopped };

// Confirms that every gap reads as erased flash: by one checksum question
// per gap (at most kErasedQuestion bytes) when crc is given, otherwise, or
// when the answer disagrees, by reading, which names the first address
// that is not erased. A stop asked for is honoured between questions.
Erased ConfirmErased(LoaderLink& link, UserInterface& ui, const LoaderChecksum& checks,
                     const Checksum16* crc, const std::vector<CMemoryRange>& gaps,
                     ProgressBar* progress,
                     uint32_t& failed_at) {
  const uint64_t total = RangeBytes(gaps);
  uint64_t done = 0;
  if (progress) progress->ResetProgress();
  for (const CMemoryRange& g : gaps) {
    for (uint32_t at = g.GetStart(), left = g.GetLength(); left > 0;) {
      const uint32_t n = std::min(left, kErasedQuestion);
      if (ui.StopRequested()) return Erased::kStopped;
      uint16_t sum = 0;
      if (crc != nullptr && checks.AskTarget(at, n, sum) == 0 && sum == ErasedChecksum(*crc, n)) {
        done += n;
        ShowProgress(progress, total, done);
      } else {
        for (uint32_t off = 0; off < n; off += kVerifyPiece) {
          if (ui.StopRequested()) return Erased::kStopped;
          const uint32_t piece = std::min(kVerifyPiece, n - off);
          if (!PieceErased(link, at + off, piece, failed_at)) return Erased::kNo;
          done += piece;
          ShowProgress(progress, total, done);
        }
      }
      at += n;
      left -= n;
    }
  }
  return Erased::kYes;
}

// The contiguous records programmed since the last confirmation, with their
// bytes: one question to the loader confirms them all.
class ProgrammedSpan {
 public:
  bool Empty() const { return length_ == 0; }
  bool Takes(const CommandRecord& r) const {
    return Empty() || (uint64_t{r.address} == uint64_t{start_} + length_ &&
                       length_ + r.length <= kConfirmSpan);
  }
  void Add(const CommandRecord& r) {
    if (Empty()) start_ = r.address;
    std::copy(r.data, r.data + r.length, bytes_.begin() + length_);
    length_ += r.length;
  }
  // Empties the span; false with the address of the first piece that the
  // target does not hold, or whose check failed.
  bool Confirm(LoaderLink& link, LoaderChecksum& checks, uint32_t& failed_at) {
    const TargetReader read = [&link](uint32_t address, uint16_t length, uint8_t* destination) {
      return ReadTargetMemory(link, address, length, destination);
    };
    const int c = ConfirmSpan(read, checks, start_, bytes_.data(), length_, HeldBytes::kProgrammed,
                              failed_at);
    length_ = 0;
    return c == 1;
  }

 private:
  std::vector<uint8_t> bytes_ = std::vector<uint8_t>(kConfirmSpan);
  uint32_t start_ = 0;
  uint32_t length_ = 0;
};

}  // namespace

int ExecuteUpdateCommandFile(LoaderLink& link, const AppPaths& paths, UserInterface& ui,
                             LogList& log, ProgressBar* progress, const ExecuteOptions& options) {
  CommandFileReader reader;
  bool step_open = false;  // a log step begun and not yet ended
  try {
    if (!reader.Open(paths.UpdateCmd())) {
      ui.ShowMessage("Cannot open command file", Buttons::Ok, Icon::Stop, kAppTitle);
      return 0;
    }
    // The whole file is read and judged before the first command: a damaged
    // or foreign one is refused before anything is erased.
    if (const std::string fault = CommandFileFault(reader); !fault.empty()) {
      reader.Close();
      ui.ShowMessage(DamagedCommandFileMessage(fault), Buttons::Ok, Icon::Stop, kAppTitle);
      return 0;
    }
    const uint64_t total = reader.Size();

    bool ok = true;
    uint32_t sector;
    // A stop asked for ends the run before the next command, as a failure
    // would: the files stay for a resumption.
    while (ok && reader.NextSector(sector)) {
      if (ui.StopRequested()) {
        ok = false;
        break;
      }
      log.BeginStep("Erasing Flashsector");
      ok = EraseFlashSector(link, sector) == 0;
      log.EndStep(ok);
    }

    std::optional<LoaderChecksum> own;
    LoaderChecksum& checks = options.checksum ? *options.checksum : own.emplace(link);
    if (ok) {
      log.BeginStep("Programming target memory");
      step_open = true;
      const bool confirm = options.check == ProgramCheck::kChecksum;
      ProgrammedSpan span;
      uint32_t failed_at = 0;
      auto confirm_span = [&] {
        if (span.Confirm(link, checks, failed_at)) return true;
        ui.ShowMessage("Verifying target memory failed at " + AddressText(failed_at),
                       Buttons::Ok, Icon::Stop, kAppTitle);
        return false;
      };
      CommandRecord record;
      while (ok && reader.NextRecord(record)) {
        if (ui.StopRequested() || (confirm && !span.Takes(record) && !confirm_span())) {
          ok = false;
          break;
        }
        // Left as it is when no reply was accepted: the message then names
        // the record that failed.
        uint32_t reply_address = record.address;
        ok = ProgramTargetMemory(link, record.address, record.length, record.data,
                                 reply_address) == 0;
        if (ok) {
          if (confirm) span.Add(record);
          ShowProgress(progress, total, reader.Consumed());
        } else {
          ui.ShowMessage("Programming target memory failed at " + AddressText(reply_address),
                         Buttons::Ok, Icon::Stop, kAppTitle);
        }
      }
      if (ok && confirm && !span.Empty()) ok = confirm_span();
      step_open = false;
      log.EndStep(ok);
    }

    const bool check_erased = options.check != ProgramCheck::kNone && options.check_erased;
    Plan plan;
    if (ok && (options.check == ProgramCheck::kReadBack || check_erased)) plan = ReadPlan(reader);

    if (ok && options.check == ProgramCheck::kReadBack) {
      log.BeginStep("Verifying target memory");
      step_open = true;
      uint32_t failed_at = 0;
      bool stopped = false;
      ok = VerifyTargetMemory(link, ui, reader, RangeBytes(plan.records), progress, failed_at,
                              stopped);
      if (!ok && !stopped)
        ui.ShowMessage("Verifying target memory failed at " + AddressText(failed_at),
                       Buttons::Ok, Icon::Stop, kAppTitle);
      step_open = false;
      log.EndStep(ok);
    }

    // An erase that the loader acknowledged but carried out only in part
    // leaves old bytes where no record goes: the records' checks cannot see
    // them. The gaps come from the command file alone, so a resumed run and
    // one that carries an interrupted plan over are checked alike.
    const std::vector<CMemoryRange> gaps =
        ok && check_erased ? ErasedGaps(plan.sectors, plan.records) : std::vector<CMemoryRange>{};
    if (!gaps.empty()) {
      log.BeginStep("Checking erased flash");
      step_open = true;
      // --verify reads back; a sum or Fletcher-16 cannot tell erased flash
      // from other bytes (Fletcher takes 0x00 for 0xFF).
      const Checksum16* crc =
          options.check == ProgramCheck::kChecksum ? checks.ConfirmingAlgorithm() : nullptr;
      uint32_t failed_at = 0;
      const Erased erased = ConfirmErased(link, ui, checks, crc, gaps, progress, failed_at);
      ok = erased == Erased::kYes;
      if (erased == Erased::kNo)
        ui.ShowMessage("Verifying target memory failed at " + AddressText(failed_at),
                       Buttons::Ok, Icon::Stop, kAppTitle);
      step_open = false;
      log.EndStep(ok);
    }

    reader.Close();
    if (ok) {
      // Command file first: a marker without it still asks the question.
      RemoveFile(paths.UpdateCmd());
      RemoveFile(paths.UpdateSem());
      // Only once the deletions are on the disk is the update over: a crash
      // could otherwise bring the marker back.
      SyncFolder(paths.UpdateDir());
    }
    if (progress) progress->ResetProgress();
    return ok ? 1 : 0;
  } catch (const FileException&) {
    reader.Close();
    if (step_open) log.EndStep(0);
    return 0;
  }
}

}  // namespace vok
