#pragma once

#include <ctime>

#include "app/procedure_window_handlers.h"
#include "backup/backup_procedure.h"

namespace vok {

// What the "Backup Target Memory" window does, whichever toolkit draws it.
class BackupWindowHandlers : public ProcedureWindowHandlers<BackupFields, BackupContext> {
 public:
  BackupWindowHandlers(LoaderLink& link, const AppPaths& paths, UserInterface& ui)
      : ProcedureWindowHandlers(link, paths, ui) {}

  // Window start-up, once its controls exist: proposes BACKUP/BKyymmdd.SSS
  // for the day of the moment given, once, and shows the fields. The
  // controls must outlive the handlers' use of them.
  void OnOpen(std::time_t now, TextField& file_name, LogList& log, ProgressBar& progress);
  // "Browse..." and "Backup"; their results are those of the procedures.
  int OnBrowse();
  int OnBackup();

 private:
  BackupContext MakeContext(LogList& log, ProgressBar& progress) override;
};

}  // namespace vok
