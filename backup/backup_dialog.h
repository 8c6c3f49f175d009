#pragma once

#include "app/gui/procedure_window.h"
#include "app/settings.h"
#include "backup/backup_window_handlers.h"
#include "link/loader_link.h"

namespace vok::gui {

// "Backup Target Memory" in Qt: saves the target's RAM and flash into an
// S-record file through the shared handlers, proposed as
// BACKUP/BKyymmdd.SSS for the day the window opens.
class BackupDialog : public ProcedureWindow {
  Q_OBJECT

 public:
  BackupDialog(LoaderLink& link, const AppPaths& paths, UserInterface& ui,
               QWidget* parent = nullptr);
  ~BackupDialog() override;

  // Port index and rate as the main window hands them over.
  BackupFields& Fields() { return handlers_.Fields(); }

  QPushButton* BackupButton() const { return RunButton(); }

  int Browse() { return handlers_.OnBrowse(); }
  int Backup() { return handlers_.OnBackup(); }

 protected:
  void OnOpen(TextField& file_name, LogList& log, ProgressBar& progress) override;
  int OnBrowse() override { return Browse(); }
  int OnRun() override { return Backup(); }

 private:
  BackupWindowHandlers handlers_;
};

}  // namespace vok::gui
