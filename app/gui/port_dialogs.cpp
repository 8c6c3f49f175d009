#include "app/gui/port_dialogs.h"

#include <QButtonGroup>
#include <QPushButton>
#include <QRadioButton>

#include "app/gui/window_style.h"

namespace vok::gui {

PortChoiceDialog::PortChoiceDialog(const layout::Window& table, QWidget* parent) : QDialog(parent) {
  setModal(true);
  controls_ = BuildWindow(*this, table);
  group_ = new QButtonGroup(this);
  for (int i = 0; i < 4; ++i) {
    ports_[i] = controls_.As<QRadioButton>(layout::ids::kPortRadios[i]);
    group_->addButton(ports_[i], i);
  }
  ok_ = controls_.As<QPushButton>(layout::ids::kOk);
  cancel_ = controls_.As<QPushButton>(layout::ids::kCancel);
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
}

QRadioButton* PortChoiceDialog::PortButton(int index) const {
  return index >= 0 && index < 4 ? ports_[index] : nullptr;
}

void PortChoiceDialog::ShowPortIndex() {
  // An exclusive group cannot be emptied; lift the rule while clearing.
  group_->setExclusive(false);
  for (int i = 0; i < 4; ++i) ports_[i]->setChecked(i == port_index_);
  group_->setExclusive(true);
}

void PortChoiceDialog::showEvent(QShowEvent* event) {
  if (!placed_) {
    placed_ = true;
    CentreOnScreen(*this);
    ShowPortIndex();
    ok_->setFocus();
  }
  QDialog::showEvent(event);
}

void PortChoiceDialog::accept() {
  port_index_ = group_->checkedId();  // -1 when none is checked
  QDialog::accept();
}

}  // namespace vok::gui
