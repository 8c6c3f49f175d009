#pragma once

#include <string>

#include "app/app_folder.h"
#include "os_paths.h"

namespace vok {

// Where the procedures keep their files: the application folder (with its
// trailing separator) and the settings file within it.
struct AppPaths {
  std::string folder;  // ends in a separator
  std::string Settings() const { return folder + "VOKLOAD.INI"; }
  std::string UpdateDir() const { return folder + "UPDATE"; }
  std::string BackupDir() const { return folder + "BACKUP"; }
  std::string UpdateCmd() const;   // UPDATE/UPDATE.CMD
  std::string UpdateSem() const;   // UPDATE/UPDATE.SEM
  std::string UpdateLog() const;   // UPDATE/UPDATE.LOG
  std::string BackupLog() const;   // BACKUP/BACKUP.LOG
  // The paths of this process: those of its ApplicationFolder.
  static AppPaths OfApplication() { return AppPaths{ApplicationFolder()}; }
};

// Makes the application folder when it is missing (with the folders above
// it), then BACKUP and UPDATE in it. Failures are not reported here.
void CreateWorkFolders(const AppPaths& paths);

}  // namespace vok
