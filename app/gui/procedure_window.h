#pragma once

#include <QDialog>

#include "app/desktop/window_layouts.h"
#include "app/gui/window_builder.h"
#include "app/user_interface.h"

class QLineEdit;
class QPushButton;

namespace vok::gui {

class LogListWidget;
class ProgressBarWidget;

// A modal window that runs a procedure on a file, built from its layout
// table: a file name field with "Browse...", the button that runs the
// procedure, "Close", a log list and a progress bar. The window fills in
// what happens on opening, browsing and running; on first showing it is
// centred and the file name field takes the focus.
class ProcedureWindow : public QDialog {
  Q_OBJECT

 public:
  ~ProcedureWindow() override;

  QLineEdit* FileNameEdit() const { return file_edit_; }
  QPushButton* BrowseButton() const;
  QPushButton* CloseButton() const;
  LogListWidget* Log() const { return log_; }
  ProgressBarWidget* Progress() const { return progress_; }
  const ControlSet& Controls() const { return controls_; }

 protected:
  ProcedureWindow(const layout::Window& table, const layout::ProcedureControls& ids,
                  QWidget* parent);

  QPushButton* RunButton() const;

  // Once, when the window first shows, with its file name field, log list
  // and progress bar.
  virtual void OnOpen(TextField& file_name, LogList& log, ProgressBar& progress) = 0;
  virtual int OnBrowse() = 0;
  virtual int OnRun() = 0;

  void showEvent(QShowEvent* event) override;

 private:
  const layout::ProcedureControls ids_;
  ControlSet controls_;
  QLineEdit* file_edit_ = nullptr;
  LogListWidget* log_ = nullptr;
  ProgressBarWidget* progress_ = nullptr;
  PathField file_field_;
  bool initialised_ = false;
};

}  // namespace vok::gui
