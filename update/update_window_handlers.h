#pragma once

#include "app/procedure_window_handlers.h"
#include "update/update_procedure.h"

namespace vok {

// What the "Update Flash Memory" window does, whichever toolkit draws it.
// The file name starts empty.
class UpdateWindowHandlers : public ProcedureWindowHandlers<UpdateFields, UpdateContext> {
 public:
  UpdateWindowHandlers(LoaderLink& link, const AppPaths& paths, UserInterface& ui,
                       UpdateDescription& description)
      : ProcedureWindowHandlers(link, paths, ui), description_(description) {}

  // Window start-up, once its controls exist: shows the fields and empties
  // the log list. The controls must outlive the handlers' use of them.
  void OnOpen(TextField& file_name, LogList& log, ProgressBar& progress);
  // "Browse..." and "Update"; their results are those of the procedures.
  int OnBrowse();
  int OnUpdate();

 private:
  UpdateContext MakeContext(LogList& log, ProgressBar& progress) override;

  UpdateDescription& description_;
};

}  // namespace vok
