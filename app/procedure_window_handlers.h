#pragma once

#include "app/settings.h"
#include "app/user_interface.h"
#include "link/loader_link.h"

namespace vok {

// What the "Update Flash Memory" and "Backup Target Memory" windows share,
// whichever toolkit draws them: a file name field, a log list and a progress
// bar, and handlers that copy the file name field into the fields, run their
// procedure on a context of the window's parts, and show a file name the
// procedure chose. The fields hold file_name, port and baud_rate; a window's
// handlers derive from this and build their Context.
template <class FieldSet, class Context>
class ProcedureWindowHandlers {
 public:
  virtual ~ProcedureWindowHandlers() = default;
  ProcedureWindowHandlers(const ProcedureWindowHandlers&) = delete;
  ProcedureWindowHandlers& operator=(const ProcedureWindowHandlers&) = delete;

  // Port index and rate as the main window hands them over.
  FieldSet& Fields() { return fields_; }

 protected:
  ProcedureWindowHandlers(LoaderLink& link, const AppPaths& paths, UserInterface& ui)
      : link_(link), paths_(paths), ui_(ui) {}

  // Window start-up, once its controls exist: keeps them and shows the
  // fields' file name. The controls must outlive the handlers' use of them.
  void Attach(TextField& file_name, LogList& log, ProgressBar& progress) {
    file_name_ = &file_name;
    log_ = &log;
    progress_ = &progress;
    file_name_->SetText(fields_.file_name);
  }

  // Runs procedure(context, fields) with the file name read from its field;
  // 0 before the window has opened.
  template <class Procedure>
  int Run(Procedure procedure) {
    if (file_name_ == nullptr) return 0;
    fields_.file_name = file_name_->Text();
    Context context = MakeContext(*log_, *progress_);
    return procedure(context, fields_);
  }

  // "Browse...": as Run, and the file name chosen shown in its field.
  template <class Procedure>
  int Browse(Procedure procedure) {
    const int chosen = Run(procedure);
    if (chosen) file_name_->SetText(fields_.file_name);
    return chosen;
  }

  virtual Context MakeContext(LogList& log, ProgressBar& progress) = 0;

  LoaderLink& link_;
  const AppPaths& paths_;
  UserInterface& ui_;
  FieldSet fields_;

 private:
  LogList* log_ = nullptr;
  TextField* file_name_ = nullptr;
  ProgressBar* progress_ = nullptr;
};

}  // namespace vok
