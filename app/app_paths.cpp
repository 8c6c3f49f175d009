#include "app/app_paths.h"

#include <filesystem>
#include <system_error>

namespace vok {

namespace {

constexpr char kSep = kPathSeparator;

std::string Join(const std::string& folder, const char* dir, const char* file) {
  std::string s = folder;
  s += dir;
  s += kSep;
  s += file;
  return s;
}

}  // namespace

std::string AppPaths::UpdateCmd() const { return Join(folder, "UPDATE", "UPDATE.CMD"); }
std::string AppPaths::UpdateSem() const { return Join(folder, "UPDATE", "UPDATE.SEM"); }
std::string AppPaths::UpdateLog() const { return Join(folder, "UPDATE", "UPDATE.LOG"); }
std::string AppPaths::BackupLog() const { return Join(folder, "BACKUP", "BACKUP.LOG"); }

void CreateWorkFolders(const AppPaths& paths) {
  std::error_code ec;
  // The per-user folder is made on first use, with the folders above it.
  std::filesystem::create_directories(paths.folder, ec);
  std::filesystem::create_directory(paths.BackupDir(), ec);
  std::filesystem::create_directory(paths.UpdateDir(), ec);
}

}  // namespace vok
