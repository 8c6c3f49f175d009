#pragma once

#include <QDialog>

#include "app/gui/window_builder.h"
#include "app/settings.h"
#include "app/user_interface.h"
#include "link/loader_link.h"
#include "update/update_window_handlers.h"

class QLineEdit;
class QPushButton;

namespace vok::gui {

class LogListWidget;
class ProgressBarWidget;

// "Update Flash Memory" in Qt: the user names an update file and updates the
// target's flash from it through the shared handlers; the log list and the
// progress bar follow the run.
class UpdateDialog : public QDialog {
  Q_OBJECT

 public:
  UpdateDialog(LoaderLink& link, const AppPaths& paths, UserInterface& ui,
               UpdateDescription& description, QWidget* parent = nullptr);
  ~UpdateDialog() override;

  // Port index and rate as the main window hands them over; the file name
  // field starts empty.
  UpdateFields& Fields() { return handlers_.Fields(); }

  QLineEdit* FileNameEdit() const { return file_edit_; }
  QPushButton* BrowseButton() const;
  QPushButton* UpdateButton() const;
  QPushButton* CloseButton() const;
  LogListWidget* Log() const { return log_; }
  ProgressBarWidget* Progress() const { return progress_; }
  const ControlSet& Controls() const { return controls_; }

  // The handlers behind "Browse..." and "Update"; their results are those
  // of the procedures.
  int Browse() { return handlers_.OnBrowse(); }
  int Update() { return handlers_.OnUpdate(); }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  UpdateWindowHandlers handlers_;
  ControlSet controls_;
  QLineEdit* file_edit_ = nullptr;
  LogListWidget* log_ = nullptr;
  ProgressBarWidget* progress_ = nullptr;
  PathField file_field_;
  bool initialised_ = false;
};

}  // namespace vok::gui
