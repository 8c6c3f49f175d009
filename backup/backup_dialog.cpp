#include "backup/backup_dialog.h"

#include <ctime>

namespace vok::gui {

BackupDialog::BackupDialog(LoaderLink& link, const AppPaths& paths, UserInterface& ui,
                           QWidget* parent)
    : ProcedureWindow(layout::BackupWindow(), layout::kBackupControls, parent),
      handlers_(link, paths, ui) {}

BackupDialog::~BackupDialog() = default;

void BackupDialog::OnOpen(TextField& file_name, LogList& log, ProgressBar& progress) {
  // Proposed once, for the day the window opens.
  handlers_.OnOpen(std::time(nullptr), file_name, log, progress);
}

}  // namespace vok::gui
