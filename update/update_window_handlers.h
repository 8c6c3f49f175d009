#pragma once

#include "app/settings.h"
#include "app/user_interface.h"
#include "link/loader_link.h"
#include "update/update_procedure.h"

namespace vok {

// What the "Update Flash Memory" window does, whichever toolkit draws it:
// each handler copies the file name field into the fields, runs its
// procedure and shows the fields again.
class UpdateWindowHandlers {
 public:
  UpdateWindowHandlers(LoaderLink& link, const AppPaths& paths, UserInterface& ui,
                       UpdateDescription& description)
      : link_(link), paths_(paths), ui_(ui), description_(description) {}

  // Port index and rate as the main window hands them over; the file name
  // starts empty.
  UpdateFields& Fields() { return fields_; }

  // Window start-up, once its controls exist: shows the fields and empties
  // the log list. The controls must outlive the handlers' use of them.
  void OnOpen(TextField& file_name, LogList& log, ProgressBar& progress);
  // "Browse..." and "Update"; their results are those of the procedures.
  int OnBrowse();
  int OnUpdate();

 private:
  LoaderLink& link_;
  const AppPaths& paths_;
  UserInterface& ui_;
  UpdateDescription& description_;
  UpdateFields fields_;
  TextField* file_name_ = nullptr;
  LogList* log_ = nullptr;
  ProgressBar* progress_ = nullptr;
};

}  // namespace vok
