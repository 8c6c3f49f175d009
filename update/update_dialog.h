#pragma once

#include <QDialog>

#include "app/settings.h"
#include "app/user_interface.h"
#include "link/loader_link.h"
#include "update/update_procedure.h"

class QLineEdit;
class QPushButton;

namespace vok::gui {

class LogListWidget;
class ProgressBarWidget;

// "Update Flash Memory": the user names an update file and updates the
// target's flash from it; the log list and the progress bar follow the run.
class UpdateDialog : public QDialog {
  Q_OBJECT

 public:
  UpdateDialog(LoaderLink& link, const AppPaths& paths, UserInterface& ui,
               UpdateDescription& description, QWidget* parent = nullptr);
  ~UpdateDialog() override;

  // Port index and rate as the main window hands them over; the file name
  // field starts empty.
  UpdateFields& Fields() { return fields_; }

  QLineEdit* FileNameEdit() const { return file_edit_; }
  QPushButton* BrowseButton() const { return browse_; }
  QPushButton* UpdateButton() const { return update_; }
  QPushButton* CloseButton() const { return close_; }
  LogListWidget* Log() const { return log_; }
  ProgressBarWidget* Progress() const { return progress_; }

  // The handlers behind "Browse..." and "Update"; their results are those
  // of the procedures.
  int Browse();
  int Update();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // Copies the controls into the fields, and back.
  void TakeFields();
  void ShowFields();

  LoaderLink& link_;
  const AppPaths& paths_;
  UserInterface& ui_;
  UpdateDescription& description_;
  UpdateFields fields_;
  bool initialised_ = false;

  QLineEdit* file_edit_ = nullptr;
  QPushButton* browse_ = nullptr;
  QPushButton* update_ = nullptr;
  QPushButton* close_ = nullptr;
  LogListWidget* log_ = nullptr;
  ProgressBarWidget* progress_ = nullptr;
};

}  // namespace vok::gui
