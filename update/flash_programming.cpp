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
  for (const FlashSector& s : kFlashSectors)
    if (s.start == start) return s.length;
  return 0;
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

// Reads every record of the command file back and every other byte of the
// erased sectors, which must be 0xFF. false with the address of the first
// byte that differs, or of the piece whose read failed.
bool VerifyTargetMemory(LoaderLink& link, UserInterface& ui, CommandFileReader& reader,
                        ProgressBar* progress, uint32_t& failed_at, bool& stopped) {
  std::vector<uint32_t> sectors;
  MemoryRangeList records;
  uint64_t total = 0;
  reader.Rewind();
  uint32_t address;
  while (reader.NextSector(address)) sectors.push_back(address);
  CommandRecord record;
  while (reader.NextRecord(record)) {
    records.AddSorted(CMemoryRange(record.address, record.length, CMemoryRange::kByLength));
    total += record.length;
  }
  const std::vector<CMemoryRange> gaps = ErasedGaps(sectors, records);
  for (const CMemoryRange& g : gaps) total += g.GetLength();

  if (progress) progress->ResetProgress();
  uint64_t done = 0;
  uint8_t target[kVerifyPiece];

  reader.Rewind();
  while (reader.NextSector(address)) {
  }
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

  for (const CMemoryRange& g : gaps) {
    uint32_t at = g.GetStart(), left = g.GetLength();
    while (left > 0) {
      if ((stopped = ui.StopRequested())) return false;
      uint32_t n = std::min(left, kVerifyPiece);
      if (ReadTargetMemory(link, at, static_cast<uint16_t>(n), target) != 0) {
        failed_at = at;
        return false;
      }
      for (uint32_t i = 0; i < n; ++i) {
        if (target[i] != 0xFF) {
          failed_at = at + i;
          return false;
        }
      }
      at += n;
      left -= n;
      done += n;
      ShowProgress(progress, total, done);
    }
  }
  return true;
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

    if (ok) {
      log.BeginStep("Programming target memory");
      step_open = true;
      std::optional<LoaderChecksum> own;
      LoaderChecksum& checks = options.checksum ? *options.checksum : own.emplace(link);
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

    if (ok && options.check == ProgramCheck::kReadBack) {
      log.BeginStep("Verifying target memory");
      step_open = true;
      uint32_t failed_at = 0;
      bool stopped = false;
      ok = VerifyTargetMemory(link, ui, reader, progress, failed_at, stopped);
      if (!ok && !stopped)
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
