#include "update/update_dialog.h"

namespace vok::gui {

UpdateDialog::UpdateDialog(LoaderLink& link, const AppPaths& paths, UserInterface& ui,
                           UpdateDescription& description, QWidget* parent)
    : ProcedureWindow(layout::UpdateWindow(), layout::kUpdateControls, parent),
      handlers_(link, paths, ui, description) {}

UpdateDialog::~UpdateDialog() = default;

void UpdateDialog::OnOpen(TextField& file_name, LogList& log, ProgressBar& progress) {
  handlers_.OnOpen(file_name, log, progress);
}

}  // namespace vok::gui
