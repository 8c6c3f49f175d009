#pragma once

#include <QDialog>
#include <string>

#include "app/gui/window_builder.h"
#include "app/settings.h"
#include "app/user_interface.h"
#include "link/loader_link.h"
#include "target/info_window_handlers.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace vok::gui {

// "Target Information" in Qt: the shared handlers' work starts once the
// window has been painted, and each status text is painted as it is set.
class TargetInfoWindow : public QDialog, private StatusLine {
  Q_OBJECT

 public:
  TargetInfoWindow(LoaderLink& link, const AppPaths& paths, UserInterface& ui,
                   QWidget* parent = nullptr);

  // Copies of the main window's settings, set before the window is shown.
  int port_index = 0;
  int rate = 38400;

  // The listing as bytes; empty until the work has run.
  const std::string& Listing() const { return handlers_.Listing(); }
  bool WorkDone() const { return handlers_.WorkDone(); }

  QPlainTextEdit* ListingControl() const { return listing_control_; }
  QLabel* StatusControl() const { return status_control_; }
  QPushButton* CloseButton() const { return close_; }
  const ControlSet& Controls() const { return controls_; }

 signals:
  // Each text the status line takes, as it takes it.
  void statusChanged(const QString& text);
  // The work is about to start: the window has been painted.
  void workStarting();
  void workFinished();

 protected:
  void showEvent(QShowEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void DoWork();
  void SetStatusText(const std::string& text) override;

  TargetInfoHandlers handlers_;
  ControlSet controls_;
  QPlainTextEdit* listing_control_ = nullptr;
  QLabel* status_control_ = nullptr;
  QPushButton* close_ = nullptr;
  TextBox listing_field_;
  bool initialised_ = false;
  bool start_pending_ = false;
};

}  // namespace vok::gui
