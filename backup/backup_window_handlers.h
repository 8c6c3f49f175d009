#pragma once

#include <ctime>

#include "app/settings.h"
#include "app/user_interface.h"
#include "backup/backup_procedure.h"
#include "link/loader_link.h"

namespace vok {

// What the "Backup Target Memory" window does, whichever toolkit draws it:
// each handler copies the file name field into the fields, runs its
// procedure and shows the fields again.
class BackupWindowHandlers {
 public:
  BackupWindowHandlers(LoaderLink& link, const AppPaths& paths, UserInterface& ui)
      : link_(link), paths_(paths), ui_(ui) {}

  // Port index and rate as the main window hands them over.
  BackupFields& Fields() { return fields_; }

  // Window start-up, once its controls exist: proposes BACKUP/BKyymmdd.SSS
  // for the day of the moment given, once, and shows the fields. The
  // controls must outlive the handlers' use of them.
  void OnOpen(std::time_t now, TextField& file_name, LogList& log, ProgressBar& progress);
  // "Browse..." and "Backup"; their results are those of the procedures.
  int OnBrowse();
  int OnBackup();

 private:
  LoaderLink& link_;
  const AppPaths& paths_;
  UserInterface& ui_;
  BackupFields fields_;
  TextField* file_name_ = nullptr;
  LogList* log_ = nullptr;
  ProgressBar* progress_ = nullptr;
};

}  // namespace vok
