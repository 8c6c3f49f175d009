#include "update/update_dialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/gui/dialog_units.h"
#include "app/gui/log_list_widget.h"
#include "app/gui/progress_bar_widget.h"
#include "app/gui/texts.h"
#include "app/gui/window_style.h"

namespace vok::gui {

UpdateDialog::UpdateDialog(LoaderLink& link, const AppPaths& paths, UserInterface& ui,
                           UpdateDescription& description, QWidget* parent)
    : QDialog(parent), link_(link), paths_(paths), ui_(ui), description_(description) {
  setFont(SmallDialogFont());
  setWindowTitle(QStringLiteral("Update Flash Memory"));
  SetDialogFrame(*this, true);
  setModal(true);
  const DialogUnits du(font());
  setFixedSize(du.Size(261, 129));

  auto* file_label = new QLabel(QStringLiteral("Filename:"), this);
  Place(file_label, du, 10, 6, 31, 8);
  file_edit_ = new QLineEdit(this);
  Place(file_edit_, du, 43, 4, 140, 12);
  browse_ = new QPushButton(QStringLiteral("Browse..."), this);
  Place(browse_, du, 200, 3, 50, 14);
  update_ = new QPushButton(QStringLiteral("Update"), this);
  Place(update_, du, 200, 22, 50, 14);
  close_ = new QPushButton(QStringLiteral("Close"), this);
  Place(close_, du, 200, 41, 50, 14);
  auto* log_label = new QLabel(QStringLiteral("Update Log"), this);
  Place(log_label, du, 110, 49, 40, 10);
  log_ = new LogListWidget(this);
  Place(log_, du, 10, 63, 240, 50);
  progress_ = new ProgressBarWidget(this);
  Place(progress_, du, 10, 116, 240, 10);

  // Enter presses "Close" unless the focus stands on another button.
  close_->setDefault(true);
  setTabOrder(file_edit_, browse_);
  setTabOrder(browse_, update_);
  setTabOrder(update_, close_);
  setTabOrder(close_, log_);

  connect(browse_, &QPushButton::clicked, this, [this] { Browse(); });
  connect(update_, &QPushButton::clicked, this, [this] { Update(); });
  connect(close_, &QPushButton::clicked, this, &QDialog::accept);
}

UpdateDialog::~UpdateDialog() = default;

void UpdateDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (initialised_) return;
  initialised_ = true;
  CentreOnScreen(*this);
  ShowFields();
  progress_->AttachToControl();
  log_->Clear();
  file_edit_->setFocus();
}

void UpdateDialog::TakeFields() { fields_.file_name = ToPath(file_edit_->text()); }

void UpdateDialog::ShowFields() { file_edit_->setText(FromPath(fields_.file_name)); }

int UpdateDialog::Browse() {
  TakeFields();
  UpdateContext context{link_, paths_, ui_, *log_, *progress_, description_};
  const int chosen = OnUpdateBrowse(context, fields_);
  if (chosen) ShowFields();
  return chosen;
}

int UpdateDialog::Update() {
  TakeFields();
  UpdateContext context{link_, paths_, ui_, *log_, *progress_, description_};
  return OnUpdate(context, fields_);
}

}  // namespace vok::gui
