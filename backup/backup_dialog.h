#pragma once

#include <QDialog>

#include "app/settings.h"
#include "app/user_interface.h"
#include "backup/backup_procedure.h"
#include "link/loader_link.h"

class QLineEdit;
class QPushButton;

namespace vok::gui {

class LogListWidget;
class ProgressBarWidget;

// "Backup Target Memory": saves the target's RAM and flash into an S-record
// file, proposed as BACKUP/BKyymmdd.SSS for the day the window opens.
class BackupDialog : public QDialog {
  Q_OBJECT

 public:
  BackupDialog(LoaderLink& link, const AppPaths& paths, UserInterface& ui,
               QWidget* parent = nullptr);
  ~BackupDialog() override;

  // Port index and rate as the main window hands them over.
  BackupFields& Fields() { return fields_; }

  QLineEdit* FileNameEdit() const { return file_edit_; }
  QPushButton* BrowseButton() const { return browse_; }
  QPushButton* BackupButton() const { return backup_; }
  QPushButton* CloseButton() const { return close_; }
  LogListWidget* Log() const { return log_; }
  ProgressBarWidget* Progress() const { return progress_; }

  int Browse();
  int Backup();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void TakeFields();
  void ShowFields();

  LoaderLink& link_;
  const AppPaths& paths_;
  UserInterface& ui_;
  BackupFields fields_;
  bool initialised_ = false;

  QLineEdit* file_edit_ = nullptr;
  QPushButton* browse_ = nullptr;
  QPushButton* backup_ = nullptr;
  QPushButton* close_ = nullptr;
  LogListWidget* log_ = nullptr;
  ProgressBarWidget* progress_ = nullptr;
};

}  // namespace vok::gui
