#pragma once

#include <QDialog>
#include <string>

#include "app/settings.h"
#include "app/user_interface.h"
#include "link/loader_link.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace vok::gui {

// "Target Information": once on screen it connects to the target loader,
// scans for the firmware components and shows their listing, with a status
// line that tells what is going on. It changes nothing on the target.
class TargetInfoWindow : public QDialog, private StatusLine {
  Q_OBJECT

 public:
  TargetInfoWindow(LoaderLink& link, const AppPaths& paths, UserInterface& ui,
                   QWidget* parent = nullptr);

  // Copies of the main window's settings, set before the window is shown.
  int port_index = 0;
  int rate = 38400;

  // The listing as bytes; empty until the work has run.
  const std::string& Listing() const { return listing_; }
  bool WorkDone() const { return work_done_; }

  QPlainTextEdit* ListingControl() const { return listing_control_; }
  QLabel* StatusControl() const { return status_control_; }
  QPushButton* CloseButton() const { return close_; }

 signals:
  // Each text the status line takes, as it takes it.
  void statusChanged(const QString& text);
  void workFinished();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void DoWork();
  void SetStatusText(const std::string& text) override;
  void ShowListing();

  LoaderLink& link_;
  const AppPaths& paths_;
  UserInterface& ui_;
  std::string listing_;
  bool initialised_ = false;
  bool work_done_ = false;
  QPlainTextEdit* listing_control_ = nullptr;
  QLabel* status_control_ = nullptr;
  QPushButton* close_ = nullptr;
};

}  // namespace vok::gui
