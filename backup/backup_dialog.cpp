#include "backup/backup_dialog.h"

#include <QLineEdit>
#include <QPushButton>
#include <ctime>

#include "app/gui/log_list_widget.h"
#include "app/gui/progress_bar_widget.h"
#include "app/gui/window_style.h"

namespace vok::gui {

using namespace layout::ids;

BackupDialog::BackupDialog(LoaderLink& link, const AppPaths& paths, UserInterface& ui,
                           QWidget* parent)
    : QDialog(parent),
      handlers_(link, paths, ui),
      controls_(BuildWindow(*this, layout::BackupWindow())),
      file_edit_(controls_.As<QLineEdit>(kBackupFile)),
      log_(controls_.As<LogListWidget>(kBackupLog)),
      progress_(controls_.As<ProgressBarWidget>(kBackupProgress)),
      file_field_(*file_edit_) {
  setModal(true);
  connect(BrowseButton(), &QPushButton::clicked, this, [this] { Browse(); });
  connect(BackupButton(), &QPushButton::clicked, this, [this] { Backup(); });
  connect(CloseButton(), &QPushButton::clicked, this, &QDialog::accept);
}

BackupDialog::~BackupDialog() = default;

QPushButton* BackupDialog::BrowseButton() const { return controls_.As<QPushButton>(kBackupBrowse); }
QPushButton* BackupDialog::BackupButton() const { return controls_.As<QPushButton>(kBackupRun); }
QPushButton* BackupDialog::CloseButton() const { return controls_.As<QPushButton>(kBackupClose); }

void BackupDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (initialised_) return;
  initialised_ = true;
  CentreOnScreen(*this);
  progress_->AttachToControl();
  // Proposed once, for the day the window opens.
  handlers_.OnOpen(std::time(nullptr), file_field_, *log_, *progress_);
  file_edit_->setFocus();
}

}  // namespace vok::gui
