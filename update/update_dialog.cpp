#include "update/update_dialog.h"

#include <QLineEdit>
#include <QPushButton>

#include "app/gui/log_list_widget.h"
#include "app/gui/progress_bar_widget.h"
#include "app/gui/window_style.h"

namespace vok::gui {

using namespace layout::ids;

UpdateDialog::UpdateDialog(LoaderLink& link, const AppPaths& paths, UserInterface& ui,
                           UpdateDescription& description, QWidget* parent)
    : QDialog(parent),
      handlers_(link, paths, ui, description),
      controls_(BuildWindow(*this, layout::UpdateWindow())),
      file_edit_(controls_.As<QLineEdit>(kUpdateFile)),
      log_(controls_.As<LogListWidget>(kUpdateLog)),
      progress_(controls_.As<ProgressBarWidget>(kUpdateProgress)),
      file_field_(*file_edit_) {
  setModal(true);
  connect(BrowseButton(), &QPushButton::clicked, this, [this] { Browse(); });
  connect(UpdateButton(), &QPushButton::clicked, this, [this] { Update(); });
  connect(CloseButton(), &QPushButton::clicked, this, &QDialog::accept);
}

UpdateDialog::~UpdateDialog() = default;

QPushButton* UpdateDialog::BrowseButton() const { return controls_.As<QPushButton>(kUpdateBrowse); }
QPushButton* UpdateDialog::UpdateButton() const { return controls_.As<QPushButton>(kUpdateRun); }
QPushButton* UpdateDialog::CloseButton() const { return controls_.As<QPushButton>(kUpdateClose); }

void UpdateDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (initialised_) return;
  initialised_ = true;
  CentreOnScreen(*this);
  progress_->AttachToControl();
  handlers_.OnOpen(file_field_, *log_, *progress_);
  file_edit_->setFocus();
}

}  // namespace vok::gui
