#include "backup/backup_dialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <ctime>

#include "app/gui/dialog_units.h"
#include "app/gui/log_list_widget.h"
#include "app/gui/progress_bar_widget.h"
#include "app/gui/texts.h"
#include "app/gui/window_style.h"

namespace vok::gui {

BackupDialog::BackupDialog(LoaderLink& link, const AppPaths& paths, UserInterface& ui,
                           QWidget* parent)
    : QDialog(parent), link_(link), paths_(paths), ui_(ui) {
  setFont(SmallDialogFont());
  setWindowTitle(QStringLiteral("Backup Target Memory"));
  SetDialogFrame(*this, true);
  setModal(true);
  const DialogUnits du(font());
  setFixedSize(du.Size(261, 133));

  auto* file_label = new QLabel(QStringLiteral("Filename:"), this);
  Place(file_label, du, 10, 5, 49, 8);
  file_edit_ = new QLineEdit(this);
  Place(file_edit_, du, 10, 15, 185, 12);
  browse_ = new QPushButton(QStringLiteral("Browse..."), this);
  Place(browse_, du, 200, 14, 50, 14);
  auto* log_label = new QLabel(QStringLiteral("Backup Log:"), this);
  Place(log_label, du, 10, 30, 45, 8);
  log_ = new LogListWidget(this);
  Place(log_, du, 10, 40, 240, 50);
  progress_ = new ProgressBarWidget(this);
  Place(progress_, du, 10, 95, 240, 10);
  backup_ = new QPushButton(QStringLiteral("Backup"), this);
  Place(backup_, du, 10, 110, 115, 14);
  close_ = new QPushButton(QStringLiteral("Close"), this);
  Place(close_, du, 200, 110, 50, 14);

  // Enter presses "Close" unless the focus stands on another button.
  close_->setDefault(true);
  setTabOrder(file_edit_, browse_);
  setTabOrder(browse_, log_);
  setTabOrder(log_, backup_);
  setTabOrder(backup_, close_);

  connect(browse_, &QPushButton::clicked, this, [this] { Browse(); });
  connect(backup_, &QPushButton::clicked, this, [this] { Backup(); });
  connect(close_, &QPushButton::clicked, this, &QDialog::accept);
}

BackupDialog::~BackupDialog() = default;

void BackupDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (initialised_) return;
  initialised_ = true;
  // Proposed once, for the day the window opens.
  fields_.file_name = DefaultBackupFileName(paths_, std::time(nullptr));
  CentreOnScreen(*this);
  ShowFields();
  progress_->AttachToControl();
  file_edit_->setFocus();
}

void BackupDialog::TakeFields() { fields_.file_name = ToPath(file_edit_->text()); }

void BackupDialog::ShowFields() { file_edit_->setText(FromPath(fields_.file_name)); }

int BackupDialog::Browse() {
  TakeFields();
  BackupContext context{link_, paths_, ui_, *log_, *progress_};
  const int chosen = OnBackupBrowse(context, fields_);
  if (chosen) ShowFields();
  return chosen;
}

int BackupDialog::Backup() {
  TakeFields();
  BackupContext context{link_, paths_, ui_, *log_, *progress_};
  return OnBackup(context, fields_);
}

}  // namespace vok::gui
