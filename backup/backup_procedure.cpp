#include "backup/backup_procedure.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "app/folder_lock.h"
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

  // Makes the staging folder and locks it for as long as this backup
  // lives; false when the named file's folder cannot take it.
  bool Reserve() {
    if (std::filesystem::path(final_).filename().empty()) return false;
    std::string pattern = FolderOf(final_) + kSep + "." +
                          std::filesystem::path(final_).filename().string() + ".XXXXXX";
    if (!MakeFreshFolder(pattern)) return false;
    folder_ = pattern;
    const std::string name = std::filesystem::path(final_).filename().string();
    staged_ = folder_ + kSep + name;
    // The mark goes in first: a later clean-up removes no folder without it.
    if (WriteWholeFile(MarkText(name).data(), MarkText(name).size(),
                       folder_ + kSep + kMarkName) == 1 &&
        hold_.Acquire(folder_ + kSep) == FolderLock::Result::kLocked)
      return true;
    Discard();
    return false;
  }

  const std::string& Staged() const { return staged_; }

  // Puts the complete, synced file in the place of the named one.
  void Commit() {
    ReplaceFile(staged_, final_);
    Discard();
    SyncFolder(FolderOf(final_));
  }

  // Removes the staged file and its folder, whatever they hold.
  void Discard() {
    if (folder_.empty()) return;
    RemoveStagingFolder(folder_, staged_, hold_);
    folder_.clear();
  }

  // Removes what a backup into that folder left when it was killed or the
  // power failed: staging folders that bear this program's mark and hold
  // nothing but their own files, and that no running backup holds. A
  // user's folder that merely looks alike has no mark and stays.
  static void RemoveAbandoned(const std::string& folder) {
    std::vector<std::pair<std::string, std::string>> found;  // folder, staged file
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(folder, ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
      std::string name;
      std::error_code ec2;
      if (!StagingFolderFor(it->path().filename().string(), name) || it->is_symlink(ec2) ||
          !it->is_directory(ec2))
        continue;
      if (HoldsOnlyOwnFiles(it->path(), name))
        found.emplace_back(it->path().string(), (it->path() / name).string());
    }
    for (const auto& [staging, staged] : found) {
      FolderLock hold;
      if (hold.Acquire(staging + kSep) == FolderLock::Result::kLocked)
        RemoveStagingFolder(staging, staged, hold);
    }
  }

 private:
  // ".NAME.XXXXXX" names the staging folder of a backup to NAME.
  static bool StagingFolderFor(const std::string& entry, std::string& name) {
    if (entry.size() < 9 || entry[0] != '.' || entry[entry.size() - 7] != '.') return false;
    for (size_t i = entry.size() - 6; i < entry.size(); ++i)
      if (!std::isalnum(static_cast<unsigned char>(entry[i]))) return false;
    name = entry.substr(1, entry.size() - 8);
    return true;
  }

  // Names no user would give a file, and a content no one writes by chance.
  static constexpr const char* kMarkName = "VOKLOAD-STAGING.MRK";
  static std::string MarkText(const std::string& name) {
    return "VOK Loader staging folder of the backup file " + name + "\n";
  }

  static bool HoldsOnlyOwnFiles(const std::filesystem::path& staging, const std::string& name) {
    std::error_code ec;
    bool marked = false;
    for (auto it = std::filesystem::directory_iterator(staging, ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
      const std::string entry = it->path().filename().string();
      std::error_code ec2;
      if ((entry != name && entry != FolderLock::kFileName && entry != kMarkName) ||
          it->is_symlink(ec2) || !it->is_regular_file(ec2))
        return false;
      if (entry == kMarkName) marked = HasMark(it->path().string(), name);
    }
    return !ec && marked;
  }

  static bool HasMark(const std::string& path, const std::string& name) {
    const std::string expected = MarkText(name);
    std::ifstream in(path, std::ios::binary);
    std::string text(expected.size() + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    return static_cast<size_t>(in.gcount()) == expected.size() &&
           text.compare(0, expected.size(), expected) == 0;
  }

  // The lock goes before its file, so that on Windows the file can go at
  // once; the folder goes last, and only when empty.
  static void RemoveStagingFolder(const std::string& staging, const std::string& staged,
                                  FolderLock& hold) {
    hold.Release();
    std::error_code ec;
    // Through the library rather than rmdir: the Windows runtime's stops at
    // 260 characters.
    std::filesystem::remove(staged, ec);
    std::filesystem::remove(staging + kSep + FolderLock::kFileName, ec);
    std::filesystem::remove(staging + kSep + kMarkName, ec);
    std::filesystem::remove(staging, ec);
  }

  std::string final_;
  std::string folder_;
  std::string staged_;
  // Tells a later backup's clean-up that this folder is in use.
  FolderLock hold_;
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
    StagedBackupFile::RemoveAbandoned(FolderOf(fields.file_name));
    ok = staged.Reserve() && CreateSRecordFile(file, staged.Staged(), description) == 1;
    c.log.EndStep(ok);
  }
  if (ok) {
    c.log.BeginStep("Backup of target RAM memory");
    const MemoryArea& ram = kMemoryMap.backup[0];
    ok = CopyRangeToFile(c.link, checks, file, CMemoryRange(ram.first, ram.last, 0), &c.progress,
                         c.ui) == 1;
    c.log.EndStep(ok);
  }
  if (ok) {
    c.log.BeginStep("Backup of target flash memory");
    const MemoryArea& flash = kMemoryMap.backup[1];
    ok = CopyRangeToFile(c.link, checks, file, CMemoryRange(flash.first, flash.last, 0),
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
