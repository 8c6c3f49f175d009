#include "update/update_procedure.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "image/file.h"
#include "image/memory_image.h"
#include "image/memory_range.h"
#include "image/target_memory.h"
#include "image/update_file.h"
#include "link/loader_commands.h"
#include "target/connect.h"
#include "update/command_file.h"
#include "update/flash_programming.h"
#include "update/interrupted_update.h"
#include "update/melody.h"
#include "update/unchanged_memory.h"
#include "update/update_plan.h"

namespace vok {

namespace {

void RemoveQuietly(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove(path, ec);
}

// The run's log list as the flash programming sees it: counts the erases
// sent, so that a stop can tell whether the flash has been touched.
class EraseCountingLog : public LogList {
 public:
  explicit EraseCountingLog(LogList& log) : log_(log) {}
  void BeginStep(const std::string& text) override {
    erasing_ = text == "Erasing Flashsector";
    log_.BeginStep(text);
  }
  void EndStep(int passed) override {
    if (erasing_) ++erases_;
    erasing_ = false;
    log_.EndStep(passed);
  }
  void AddLine(const std::string& text) override { log_.AddLine(text); }
  void AddLineAndShow(const std::string& text) override { log_.AddLineAndShow(text); }
  void Clear() override { log_.Clear(); }
  int Erases() const { return erases_; }

 private:
  LogList& log_;
  bool erasing_ = false;
  int erases_ = 0;
};

// How a fresh run treats the command file of an interrupted update.
enum class Interrupted { kNone, kCarryOver };

// Steps of a fresh run between connecting and carrying the command file
// out: load the update file, read what the erase would lose, plan. With an
// interrupted update's command file carried over, its records go into the
// image first, beneath the update file's data, and its sectors are erased
// again.
bool PlanFreshUpdate(UpdateContext& c, const UpdateFields& fields, const UpdateOptions& options,
                     Interrupted interrupted, LoaderChecksum& checks, MemoryImage& image,
                     MemoryRangeList& update_ranges,
                     MemoryRangeList& kept_ranges, MemoryRangeList& touched_sectors,
                     UpdateSummary& summary) {
  // A failed creation of the image shows as the first store's failure. It
  // goes beside the other update files, not into whatever folder the
  // program was started from: that may be unwritable (a menu starts an
  // installed program in / or the home folder) or shared with other runs.
  image.Open(0, options.image_folder.empty() ? c.paths.UpdateDir() : options.image_folder);
  InterruptedPlan old_plan;
  bool ok = true;
  if (interrupted == Interrupted::kCarryOver) {
    c.log.BeginStep("Carrying over the interrupted update");
    ok = LayCommandFileIntoImage(c.paths.UpdateCmd(), image, old_plan, c.ui) == 1;
    c.log.EndStep(ok);
    if (!ok) return false;
  }

  c.log.BeginStep("Analyzing update file");
  ok = LoadUpdateFile(fields.file_name, image, update_ranges, c.ui, options.file) == 1;
  c.log.EndStep(ok);
  if (!ok) return false;
  const TargetReader read = [&c](uint32_t address, uint16_t length, uint8_t* destination) {
    return ReadTargetMemory(c.link, address, length, destination);
  };

  // A service tool must be able to go back: an older component over a newer
  // one is said, not refused.
  std::vector<ScannedComponent> components;
  std::vector<ComponentChange> changes;
  if (ScanFileComponents(image, checks.Algorithm(), c.ui, components) != 0) return false;
  if (const int rc = CompareComponents(read, components, changes); rc < 0) {
    c.ui.ShowMessage("Reading target memory failed (" + std::to_string(rc) + ") !", Buttons::Ok,
                     Icon::Stop, kAppTitle);
    return false;
  }
  for (const std::string& line : DowngradeWarnings(changes))
    c.ui.ShowMessage(line, Buttons::Ok, Icon::Warning, kAppTitle);

  // The ranges whose records the command file holds before the kept ones.
  MemoryRangeList program_ranges;
  const MemoryRangeList* programmed = &update_ranges;
  if (interrupted == Interrupted::kCarryOver) {
    PlanWithInterrupted(update_ranges, old_plan, program_ranges, kept_ranges, touched_sectors);
    programmed = &program_ranges;
  } else {
    FindTouchedSectors(update_ranges, kept_ranges, touched_sectors);
    // The carried-over plan is never compared: its sectors may have been
    // erased in part, and its records hold the only copy of what they kept.
    if (options.skip_unchanged) {
      c.log.BeginStep("Comparing target memory");
      UnchangedCounts counts;
      const int rc = LeaveUnchanged(read, checks, image, update_ranges, kept_ranges,
                                    touched_sectors, counts);
      c.log.EndStep(rc == 1);
      if (rc != 1) {
        c.ui.ShowMessage("Comparing target memory failed (" + std::to_string(rc) + ") !",
                         Buttons::Ok, Icon::Stop, kAppTitle);
        return false;
      }
      if (const std::string line = UnchangedLine(counts); !line.empty()) c.log.AddLine(line);
      summary.sectors_unchanged = counts.sectors_unchanged;
    }
  }
  for (const CMemoryRange& range : kept_ranges) {
    c.log.BeginStep("Reading target memory");
    ok = ReadRangeIntoImage(c.link, checks, image, range, &c.progress, c.ui) == 1;
    c.log.EndStep(ok);
    if (!ok) return false;
  }
  // Stopped before the plan is written: this run has not touched the
  // target and leaves no journal of its own.
  if (c.ui.StopRequested()) return false;

  c.log.BeginStep("Building update command file");
  ok = BuildUpdateCommandFile(c.paths, c.ui, image, *programmed, kept_ranges, touched_sectors,
                              interrupted == Interrupted::kCarryOver
                                  ? PendingCommandFile::kReplace
                                  : PendingCommandFile::kRefuse) == 1;
  c.log.EndStep(ok);
  return ok;
}

// How the run's bytes were confirmed, as one log line; empty when nothing
// was.
std::string ChecksLine(const LoaderChecksum& checks, ProgramCheck check) {
  const std::string how = ChecksMethod(checks);
  if (check == ProgramCheck::kChecksum) return how.empty() ? how : "Confirmed by " + how;
  const std::string programming =
      check == ProgramCheck::kReadBack ? "confirmed by reading back" : "not confirmed";
  if (how.empty()) return "Programming " + programming;
  return "Reads confirmed by " + how + ", programming " + programming;
}

}  // namespace

bool UpdatePending(const AppPaths& paths) { return FileExists(paths.UpdateSem()); }

std::string StopForUpdatePendingElsewhere(const std::vector<std::string>& folders,
                                          const AppPaths& own, UserInterface& ui) {
  for (const std::string& folder : folders) {
    const AppPaths there{folder};
    if (folder == own.folder || !UpdatePending(there)) continue;
    ui.ShowMessage("An interrupted update is pending in another folder: " + folder +
                       ". Its command file holds the only copy of what it kept there; carry it "
                       "out first with: vokloader-cli --folder \"" + folder + "\" resume",
                   Buttons::Ok, Icon::Stop, kAppTitle);
    return folder;
  }
  return std::string();
}

int ChooseUpdateFile(UpdateContext& c, UpdateFields& fields, const std::function<std::tm()>& now) {
  FileDialogRequest request;
  request.title = "Select Update File";
  request.filter = kUpdateFileFilter;
  request.default_ext = "sss";
  request.initial_folder = c.paths.UpdateDir();
  request.must_exist = true;
  std::string chosen;
  if (!c.ui.ChooseFile(request, chosen)) return 0;
  fields.file_name = chosen;
  // The moment of the choice, not of the dialog's opening: the user may
  // have taken a while.
  c.description.text = BuildUpdateDescription(chosen, now());
  c.log.Clear();
  ShowTextInLog(c.log, c.description.text);
  return 1;
}

int ChooseUpdateFile(UpdateContext& c, UpdateFields& fields, const std::tm& now) {
  return ChooseUpdateFile(c, fields, [&now] { return now; });
}

int ChooseUpdateFile(UpdateContext& c, UpdateFields& fields) {
  return ChooseUpdateFile(c, fields, [] { return LocalTime(std::time(nullptr)); });
}

int RunUpdate(UpdateContext& c, UpdateFields& fields, const UpdateOptions& options) {
  c.progress.ResetProgress();

  bool resumed = false;
  // The interrupted update's command file may not be carried out: the run
  // ends before it connects, so not even the handover from the
  // application reaches the controller.
  bool refused = false;
  bool pending_here = false;
  Interrupted interrupted = Interrupted::kNone;
  if (UpdatePending(c.paths)) {
    pending_here = true;
    Answer answer = c.ui.ShowMessage("Last update was aborted during critical action!",
                                     Buttons::RetryCancel, Icon::None, kAppTitle);
    const CommandFileCheck check = CheckCommandFile(c.paths.UpdateCmd());
    if (answer == Answer::Retry) {
      c.log.AddLineAndShow("Restarted update process");
      resumed = true;
      // A missing file is told by the flash programming, as ever.
      if (check.state == CommandFileState::kDamaged) {
        c.ui.ShowMessage(DamagedCommandFileMessage(check.reason), Buttons::Ok, Icon::Stop,
                         kAppTitle);
        refused = true;
      }
    } else if (check.state == CommandFileState::kSound) {
      // The command file holds the only copy of what the interrupted update
      // kept: the fresh run takes it along, and it stays on disk, under its
      // marker, until the new command file takes its place.
      interrupted = Interrupted::kCarryOver;
    } else {
      if (check.state == CommandFileState::kDamaged)
        c.ui.ShowMessage(DamagedCommandFileMessage(check.reason) +
                             "; the contents it kept could not be recovered",
                         Buttons::Ok, Icon::Stop, kAppTitle);
      // Marker first: should the second deletion fail, no marker points at
      // a command file that is no longer wanted.
      RemoveQuietly(c.paths.UpdateSem());
      RemoveQuietly(c.paths.UpdateCmd());
    }
  }

  // A fresh run that nobody chose deliberately stops for a journal left in
  // another folder: planning here would read its half-erased sectors as the
  // bytes to keep.
  if (!resumed && !pending_here &&
      !StopForUpdatePendingElsewhere(options.other_folders, c.paths, c.ui).empty())
    return 0;

  if (!resumed && !FileExists(fields.file_name)) {
    c.ui.ShowMessage("Enter valid update file name", Buttons::Ok, Icon::Exclamation, kAppTitle);
    return 0;
  }

  // Owned by this run; the image's file goes with it.
  MemoryImage image;
  MemoryRangeList update_ranges, kept_ranges, touched_sectors;

  c.ui.BeginWait();
  bool ok = !refused;
  if (ok) {
    c.log.BeginStep("Connecting to target loader");
    ok = ConnectTarget(c.link, c.paths, c.ui, fields.port, fields.baud_rate, nullptr, 1) == 1;
    c.log.EndStep(ok);
    if (ok && options.on_connected) options.on_connected(c.link);
  }

  UpdateSummary summary;
  ExecuteOptions::Done done;
  // Identified once for the connection, on the first bytes read or
  // programmed.
  LoaderChecksum checks(c.link);
  const bool connected = ok;
  if (ok && !resumed)
    ok = PlanFreshUpdate(c, fields, options, interrupted, checks, image, update_ranges, kept_ranges,
                         touched_sectors, summary);

  EraseCountingLog log(c.log);
  if (ok) {
    ExecuteOptions execute;
    execute.check = options.check;
    execute.check_erased = options.check_erased;
    execute.checksum = &checks;
    execute.done = &done;
    ok = ExecuteUpdateCommandFile(c.link, c.paths, c.ui, log, &c.progress, execute) == 1;
  }
  if (connected) {
    if (const std::string line = ChecksLine(checks, options.check); !line.empty())
      c.log.AddLine(line);
  }

  DisconnectTarget(c.link);
  c.ui.EndWait();
  summary.sectors_erased = done.sectors_erased;
  summary.bytes_programmed = done.bytes_programmed;
  if (options.summary) *options.summary = summary;

  // Once a sector has been erased the controller's application is gone in
  // part, and only the journal can bring it back.
  if (!ok && log.Erases() > 0 && UpdatePending(c.paths) && c.ui.StopRequested())
    c.ui.ShowMessage(
        "The update was stopped after erasing had begun: the controller's application stays "
        "incomplete until the interrupted update is carried out again ('resume', or Retry at "
        "the next Update)",
        Buttons::Ok, Icon::Warning, kAppTitle);

  c.log.AddLineAndShow(ok ? "Update of target memory succeeded"
                          : "#### Update of target memory failed ####");

  update_ranges.DeleteAll();
  kept_ranges.DeleteAll();
  touched_sectors.DeleteAll();

  const std::string entry = UpToFirstNul(c.description.text);
  AppendToFile(entry.data(), entry.size(), c.paths.UpdateLog());

  PlayCompletionMelody(c.ui);
  return ok ? 1 : 0;
}

}  // namespace vok
