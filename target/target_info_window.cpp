#include "target/target_info_window.h"

#include <QLabel>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPushButton>

#include "app/gui/dialog_units.h"
#include "app/gui/texts.h"
#include "app/gui/window_style.h"
#include "target/connect.h"
#include "target/scan.h"

namespace vok::gui {

TargetInfoWindow::TargetInfoWindow(LoaderLink& link, const AppPaths& paths, UserInterface& ui,
                                   QWidget* parent)
    : QDialog(parent), link_(link), paths_(paths), ui_(ui) {
  setFont(SmallDialogFont());
  setWindowTitle(QStringLiteral("Target Information"));
  SetDialogFrame(*this, false);
  setModal(true);
  const DialogUnits du(font());
  setFixedSize(du.Size(217, 143));

  listing_control_ = new QPlainTextEdit(this);
  listing_control_->setReadOnly(true);
  listing_control_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  listing_control_->setTabChangesFocus(true);
  // The tab in a "name<TAB>CRC failure" line lines up with the versions.
  listing_control_->setTabStopDistance(du.X(150));
  UseReadOnlyColours(*listing_control_);
  Place(listing_control_, du, 5, 5, 205, 100);

  status_control_ = new QLabel(QStringLiteral("Info State"), this);
  status_control_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  status_control_->setTextFormat(Qt::PlainText);  // the target's texts are never markup
  Place(status_control_, du, 5, 110, 205, 10);

  close_ = new QPushButton(QStringLiteral("Close"), this);
  close_->setDefault(true);
  Place(close_, du, 160, 124, 50, 14);
  connect(close_, &QPushButton::clicked, this, &QDialog::accept);
  setTabOrder(listing_control_, close_);
}

void TargetInfoWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (initialised_) return;
  initialised_ = true;
  CentreOnScreen(*this);
  ShowListing();
  listing_control_->setFocus();
  // The work starts from the event loop, so that the window is on screen
  // before the first byte goes to the target.
  QMetaObject::invokeMethod(this, &TargetInfoWindow::DoWork, Qt::QueuedConnection);
}

void TargetInfoWindow::DoWork() {
  ui_.BeginWait();
  if (ConnectTarget(link_, paths_, ui_, port_index, rate, this, 1) == 1) {
    listing_ = ScanComponents(link_, ui_, this);
  }
  DisconnectTarget(link_);
  ui_.EndWait();
  if (listing_.empty()) listing_ = "*** no target information found ***";
  ShowListing();
  work_done_ = true;
  emit workFinished();
}

void TargetInfoWindow::ShowListing() {
  // The listing's lines end in CR LF; the text control wants one break a line.
  QString text = FromBytes(listing_);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  listing_control_->setPlainText(text);
}

void TargetInfoWindow::SetStatusText(const std::string& text) {
  status_control_->setText(FromBytes(text));
  // The user-interface thread is busy with the target: show the text now.
  status_control_->repaint();
  emit statusChanged(status_control_->text());
}

}  // namespace vok::gui
