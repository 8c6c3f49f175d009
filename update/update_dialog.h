#pragma once

#include "app/gui/procedure_window.h"
#include "app/settings.h"
#include "link/loader_link.h"
#include "update/update_window_handlers.h"

namespace vok::gui {

// "Update Flash Memory" in Qt: the user names an update file and updates the
// target's flash from it through the shared handlers; the log list and the
// progress bar follow the run.
class UpdateDialog : public ProcedureWindow {
  Q_OBJECT

 public:
  UpdateDialog(LoaderLink& link, const AppPaths& paths, UserInterface& ui,
               UpdateDescription& description, QWidget* parent = nullptr);
  ~UpdateDialog() override;

  // Port index and rate as the main window hands them over; the file name
  // field starts empty.
  UpdateFields& Fields() { return handlers_.Fields(); }

  QPushButton* UpdateButton() const { return RunButton(); }

  // The handlers behind "Browse..." and "Update"; their results are those
  // of the procedures.
  int Browse() { return handlers_.OnBrowse(); }
  int Update() { return handlers_.OnUpdate(); }

 protected:
  void OnOpen(TextField& file_name, LogList& log, ProgressBar& progress) override;
  int OnBrowse() override { return Browse(); }
  int OnRun() override { return Update(); }

 private:
  UpdateWindowHandlers handlers_;
};

}  // namespace vok::gui
