#include "backup/backup_procedure.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

#ifdef _WIN32
#include <random>
#endif

#include "image/file.h"
#include "image/memory_range.h"
#include "image/srecord.h"
#include "image/target_memory.h"
#include "target/connect.h"
#include "target/scan.h"
#include "update/melody.h"
#include "update/update_log.h"

namespace vok {

namespace {

constexpr char kSep = kPathSeparator;

// Anything of that name, a dangling symbolic link included.
bool NameTaken(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

std::string FolderOf(const std::string& path) {
  std::filesystem::path parent = std::filesystem::path(path).parent_path();
  return parent.empty() ? std::string(".") : parent.string();
}

// Creates a folder of a fresh name from pattern, whose last six characters
// are "XXXXXX"; false when none could be made.
bool MakeFreshFolder(std::string& pattern) {
#ifdef _WIN32
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device seed;
  std::minstd_rand pick(seed());
  const size_t tail = pattern.size() - 6;
  for (int attempt = 0; attempt < 100; ++attempt) {
    for (size_t i = tail; i < pattern.size(); ++i) pattern[i] = kChars[pick() % (sizeof kChars - 1)];
    // Only a folder made here and now counts: it is ours alone.
    std::error_code ec;
    if (std::filesystem::create_directory(pattern, ec)) return true;
    if (ec) return false;
  }
  return false;
#else
  return ::mkdtemp(pattern.data()) != nullptr;
#endif
}

// Puts from in the place of to, replacing a file of that name.
bool ReplaceFile(const std::string& from, const std::string& to) {
#ifdef _WIN32
  // The runtime's rename refuses to replace an existing file; this one
  // replaces it, and takes paths of any length.
  std::error_code ec;
  std::filesystem::rename(from, to, ec);
  if (!ec) return true;
  errno = ec.value();
  return false;
#else
  return ::rename(from.c_str(), to.c_str()) == 0;
#endif
}

// The backup is written under a fresh name beside the named file and takes
// that name only once it is complete, so that a failed backup never costs
// the user the previous one. The fresh name lies in a folder of its own,
// created exclusively and open to nobody else, so no file or symbolic link
// of that name can be there to be written through.
class StagedBackupFile {
 public:
  explicit StagedBackupFile(std::string final_name) : final_(std::move(final_name)) {}
  ~StagedBackupFile() { Discard(); }
  StagedBackupFile(const StagedBackupFile&) = delete;
  StagedBackupFile& operator=(const StagedBackupFile&) = delete;

  // Makes the staging folder; false when the named file's folder cannot
  // take it.
  bool Reserve() {
    if (std::filesystem::path(final_).filename().empty()) return false;
    std::string pattern = FolderOf(final_) + kSep + "." +
                          std::filesystem::path(final_).filename().string() + ".XXXXXX";
    if (!MakeFreshFolder(pattern)) return false;
    folder_ = pattern;
    staged_ = folder_ + kSep + std::filesystem::path(final_).filename().string();
    return true;
  }

  const std::string& Staged() const { return staged_; }

  // Puts the complete, synced file in the place of the named one.
  void Commit() {
    if (!ReplaceFile(staged_, final_))
      throw FileException("cannot rename the backup file", final_, errno);
    std::error_code ec;
    // Through the library rather than rmdir: the Windows runtime's stops at
    // 260 characters.
    std::filesystem::remove(folder_, ec);
    folder_.clear();
    SyncFolder(FolderOf(final_));
  }

  // Removes the staged file and its folder, whatever they hold.
  void Discard() {
    if (folder_.empty()) return;
    std::error_code ec;
    std::filesystem::remove(staged_, ec);
    std::filesystem::remove(folder_, ec);
    folder_.clear();
  }

 private:
  std::string final_;
  std::string folder_;
  std::string staged_;
};

std::string TwoDigits(int v) {
  char b[8];
  std::snprintf(b, sizeof b, "%02d", ((v % 100) + 100) % 100);
  return b;
}

}  // namespace

std::string DefaultBackupFileName(const AppPaths& paths, const std::tm& t) {
  return paths.BackupDir() + kSep + "BK" + TwoDigits(t.tm_year) + TwoDigits(t.tm_mon + 1) +
         TwoDigits(t.tm_mday) + ".SSS";
}

std::string DefaultBackupFileName(const AppPaths& paths, std::time_t moment) {
  return DefaultBackupFileName(paths, LocalTime(moment));
}

std::string BuildBackupDescription(const std::tm& local_time, const std::string& listing) {
  return " \r\nBackup of VOK System of " + FormatLogDate(local_time) + listing;
}

int WriteWholeFile(const void* data, std::size_t length, const std::string& path) {
  File file;
  try {
    file.Open(path, FileMode::kCreate);
    file.Write(data, length);
    // Written through to the disk, as the log is meant to survive a crash.
    file.Sync();
    file.Close();
    return 1;
  } catch (const FileException&) {
    file.Abort();
    return 0;
  }
}

int OnBackupBrowse(BackupContext& c, BackupFields& fields) {
  FileDialogRequest request;
  request.title = "Select Backup File";
  request.filter = "Backup File (*.sss) | *.sss||";
  request.default_ext = "sss";
  request.initial_folder = c.paths.BackupDir();
  request.must_exist = false;
  std::string chosen;
  if (!c.ui.ChooseFile(request, chosen)) return 0;
  fields.file_name = chosen;
  return 1;
}

int OnBackup(BackupContext& c, BackupFields& fields, const std::tm& now) {
  c.log.Clear();
  c.progress.ResetProgress();

  if (NameTaken(fields.file_name) &&
      c.ui.ShowMessage("File already exists. Overwrite?", Buttons::YesNo, Icon::None,
                       kAppTitle) != Answer::Yes)
    return 0;

  c.ui.BeginWait();
  c.log.BeginStep("Connecting to target loader");
  const bool connected =
      ConnectTarget(c.link, c.paths, c.ui, fields.port, fields.baud_rate, nullptr, 1) == 1;
  c.log.EndStep(connected);

  std::string description;
  if (connected) {
    c.log.BeginStep("Reading target information");
    description = BuildBackupDescription(now, ScanComponents(c.link, c.ui, nullptr));
    c.log.EndStep(1);
  }
  ShowTextInLog(c.log, description, true);

  bool ok = connected;
  // Identified once for the connection, on the first pieces read.
  LoaderChecksum checks(c.link);
  StagedBackupFile staged(fields.file_name);
  TextFile file;
  if (ok) {
    c.log.BeginStep("Creating backup file");
    ok = staged.Reserve() && CreateSRecordFile(file, staged.Staged(), description) == 1;
    c.log.EndStep(ok);
  }
  if (ok) {
    c.log.BeginStep("Backup of target RAM memory");
    ok = CopyRangeToFile(c.link, checks, file, CMemoryRange(kBackupRamFirst, kBackupRamLast, 0),
                         &c.progress, c.ui) == 1;
    c.log.EndStep(ok);
  }
  if (ok) {
    c.log.BeginStep("Backup of target flash memory");
    ok = CopyRangeToFile(c.link, checks, file, CMemoryRange(kBackupFlashFirst, kBackupFlashLast, 0),
                         &c.progress, c.ui) == 1;
    c.log.EndStep(ok);
  }
  if (ok) {
    c.log.BeginStep("Closing backup file");
    try {
      file.Sync();
      file.Close();
      staged.Commit();
    } catch (const FileException&) {
      ok = false;
    }
    c.log.EndStep(ok);
  }
  if (!ok) {
    file.Abort();
    staged.Discard();
  }
  if (const std::string how = ChecksMethod(checks); !how.empty()) c.log.AddLine("Confirmed by " + how);

  DisconnectTarget(c.link);
  c.ui.EndWait();

  c.log.AddLineAndShow(ok ? "Backup of target memory successful"
                          : "#### Backup of target memory failed ####");

  const std::string entry = UpToFirstNul(description);
  WriteWholeFile(entry.data(), entry.size(), c.paths.BackupLog());

  PlayCompletionMelody(c.ui);
  return ok ? 1 : 0;
}

int OnBackup(BackupContext& c, BackupFields& fields) {
  return OnBackup(c, fields, LocalTime(std::time(nullptr)));
}

}  // namespace vok
