#include "app/gui/port_dialogs.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

#include "app/gui/dialog_units.h"
#include "app/gui/window_style.h"

namespace vok::gui {

PortChoiceDialog::PortChoiceDialog(QWidget* parent) : QDialog(parent) {
  setFont(SystemDialogFont());
  setWindowTitle(QStringLiteral("Setup"));
  SetDialogFrame(*this, false);
  setModal(true);
}

void PortChoiceDialog::MakeControls() {
  group_ = new QButtonGroup(this);
  for (int i = 0; i < 4; ++i) {
    ports_[i] = new QRadioButton(QStringLiteral("COM%1").arg(i + 1), this);
    // The group is reached by clicking or by the arrow keys, not by Tab.
    ports_[i]->setFocusPolicy(Qt::ClickFocus);
    group_->addButton(ports_[i], i);
  }
  ok_ = new QPushButton(QStringLiteral("OK"), this);
  cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  setTabOrder(ok_, cancel_);
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

SetupDialog::SetupDialog(QWidget* parent) : PortChoiceDialog(parent) {
  const DialogUnits du(font());
  setFixedSize(du.Size(85, 63));
  MakeControls();
  const int ys[4] = {13, 25, 36, 47};
  for (int i = 0; i < 4; ++i) Place(ports_[i], du, 8, ys[i], 29, 10);
  auto* box = new QGroupBox(QStringLiteral("&Port"), this);
  Place(box, du, 4, 1, 38, 60);
  box->lower();  // the frame stands behind the buttons it surrounds
  Place(ok_, du, 47, 47, 33, 14);
  Place(cancel_, du, 47, 27, 33, 14);
}

PortDialog::PortDialog(QWidget* parent) : PortChoiceDialog(parent) {
  const DialogUnits du(font());
  setFixedSize(du.Size(145, 79));
  MakeControls();
  const int xs[4] = {7, 41, 75, 109};
  for (int i = 0; i < 4; ++i) Place(ports_[i], du, xs[i], 41, 29, 10);
  auto* box = new QGroupBox(QStringLiteral("&Port"), this);
  Place(box, du, 3, 31, 139, 27);
  box->lower();
  Place(ok_, du, 77, 62, 33, 14);
  Place(cancel_, du, 35, 62, 33, 14);
  auto* line1 = new QLabel(QStringLiteral("The selected comm port is not available."), this);
  line1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  Place(line1, du, 2, 3, 143, 8);
  auto* line2 = new QLabel(QStringLiteral("Perhaps another program is using it."), this);
  line2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Place(line2, du, 13, 13, 122, 8);
  auto* line3 = new QLabel(QStringLiteral("Would you like to try another?"), this);
  line3->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Place(line3, du, 24, 23, 99, 8);
}

}  // namespace vok::gui
