#include "app/gui/procedure_window.h"

#include <QLineEdit>
#include <QPushButton>

#include "app/gui/log_list_widget.h"
#include "app/gui/progress_bar_widget.h"
#include "app/gui/window_style.h"

namespace vok::gui {

ProcedureWindow::ProcedureWindow(const layout::Window& table,
                                 const layout::ProcedureControls& ids, QWidget* parent)
    : QDialog(parent),
      ids_(ids),
      controls_(BuildWindow(*this, table)),
      file_edit_(controls_.As<QLineEdit>(ids.file)),
      log_(controls_.As<LogListWidget>(ids.log)),
      progress_(controls_.As<ProgressBarWidget>(ids.progress)),
      file_field_(*file_edit_) {
  setModal(true);
  // The handlers are the window's own, reached when a button is clicked:
  // by then the window is whole.
  connect(BrowseButton(), &QPushButton::clicked, this, [this] { OnBrowse(); });
  connect(RunButton(), &QPushButton::clicked, this, [this] { OnRun(); });
  connect(CloseButton(), &QPushButton::clicked, this, &QDialog::accept);
}

ProcedureWindow::~ProcedureWindow() = default;

QPushButton* ProcedureWindow::BrowseButton() const {
  return controls_.As<QPushButton>(ids_.browse);
}
QPushButton* ProcedureWindow::RunButton() const { return controls_.As<QPushButton>(ids_.run); }
QPushButton* ProcedureWindow::CloseButton() const {
  return controls_.As<QPushButton>(ids_.close);
}

void ProcedureWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (initialised_) return;
  initialised_ = true;
  CentreOnScreen(*this);
  progress_->AttachToControl();
  OnOpen(file_field_, *log_, *progress_);
  file_edit_->setFocus();
}

}  // namespace vok::gui
