#pragma once

#include <QDialog>

#include "app/gui/window_builder.h"
#include "app/settings.h"
#include "app/user_interface.h"
#include "backup/backup_window_handlers.h"
#include "link/loader_link.h"

class QLineEdit;
class QPushButton;

namespace vok::gui {

class LogListWidget;
class ProgressBarWidget;

// "Backup Target Memory" in Qt: saves the target's RAM and flash into an
// S-record file through the shared handlers, proposed as
// BACKUP/BKyymmdd.SSS for the day the window opens.
class BackupDialog : public QDialog {
  Q_OBJECT

 public:
  BackupDialog(LoaderLink& link, const AppPaths& paths, UserInterface& ui,
               QWidget* parent = nullptr);
  ~BackupDialog() override;

  // Port index and rate as the main window hands them over.
  BackupFields& Fields() { return handlers_.Fields(); }

  QLineEdit* FileNameEdit() const { return file_edit_; }
  QPushButton* BrowseButton() const;
  QPushButton* BackupButton() const;
  QPushButton* CloseButton() const;
  LogListWidget* Log() const { return log_; }
  ProgressBarWidget* Progress() const { return progress_; }
  const ControlSet& Controls() const { return controls_; }

  int Browse() { return handlers_.OnBrowse(); }
  int Backup() { return handlers_.OnBackup(); }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  BackupWindowHandlers handlers_;
  ControlSet controls_;
  QLineEdit* file_edit_ = nullptr;
  LogListWidget* log_ = nullptr;
  ProgressBarWidget* progress_ = nullptr;
  PathField file_field_;
  bool initialised_ = false;
};

}  // namespace vok::gui
