#include "target/target_info_window.h"

#include <QLabel>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPushButton>

#include "app/gui/dialog_units.h"
#include "app/gui/texts.h"
#include "app/gui/window_style.h"

namespace vok::gui {

namespace {
QPlainTextEdit& ListingOf(const ControlSet& controls) {
  return *controls.As<QPlainTextEdit>(layout::ids::kInfoListing);
}
}  // namespace

TargetInfoWindow::TargetInfoWindow(LoaderLink& link, const AppPaths& paths, UserInterface& ui,
                                   QWidget* parent)
    : QDialog(parent),
      handlers_(link, paths, ui),
      controls_(BuildWindow(*this, layout::TargetInformation())),
      listing_control_(&ListingOf(controls_)),
      status_control_(controls_.As<QLabel>(layout::ids::kInfoStatus)),
      close_(controls_.As<QPushButton>(layout::ids::kInfoClose)),
      listing_field_(*listing_control_) {
  setModal(true);
  listing_control_->setTabStopDistance(DialogUnits(font()).X(layout::kInfoListingTabStop));
  connect(close_, &QPushButton::clicked, this, &QDialog::accept);
}

void TargetInfoWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (initialised_) return;
  initialised_ = true;
  CentreOnScreen(*this);
  handlers_.port_index = port_index;
  handlers_.rate = rate;
  handlers_.OnOpen(listing_field_);
  listing_control_->setFocus();
  start_pending_ = true;
}

void TargetInfoWindow::paintEvent(QPaintEvent* event) {
  QDialog::paintEvent(event);
  if (!start_pending_) return;
  start_pending_ = false;
  // The window is painted only once the window system has exposed it; the
  // work starts from the event loop after this paint has reached the screen,
  // and blocks the loop until it ends.
  QMetaObject::invokeMethod(this, &TargetInfoWindow::DoWork, Qt::QueuedConnection);
}

void TargetInfoWindow::DoWork() {
  emit workStarting();
  handlers_.OnStart(listing_field_, *this);
  emit workFinished();
}

void TargetInfoWindow::SetStatusText(const std::string& text) {
  status_control_->setText(FromBytes(text));
  // The user-interface thread is busy with the target: show the text now.
  status_control_->repaint();
  emit statusChanged(status_control_->text());
}

}  // namespace vok::gui
