#pragma once

#include <QDialog>
#include <optional>

#include "app/desktop/main_window_handlers.h"
#include "app/gui/window_builder.h"
#include "app/settings.h"
#include "app/user_interface.h"
#include "link/loader_link.h"
#include "update/update_log.h"

class QLabel;
class QPushButton;

namespace vok::gui {

// The main window: one row of buttons from which every function is reached.
// Its buttons run the shared main-window handlers; it opens the Qt windows
// on their behalf.
class MainWindow : public QDialog, private desktop::WindowOpener {
  Q_OBJECT

 public:
  // Loads the settings and makes the work folders.
  MainWindow(LoaderLink& link, const AppPaths& paths, UserInterface& ui,
             UpdateDescription& description, QWidget* parent = nullptr);
  ~MainWindow() override;

  const Settings& CurrentSettings() const { return handlers_->CurrentSettings(); }

  QPushButton* ExitButton() const { return Button(layout::ids::kMainExit); }
  QPushButton* InfoButton() const { return Button(layout::ids::kMainInfo); }
  QPushButton* UpdateButton() const { return Button(layout::ids::kMainUpdate); }
  QPushButton* BackupButton() const { return Button(layout::ids::kMainBackup); }
  QPushButton* SetupButton() const { return Button(layout::ids::kMainSetup); }
  QPushButton* StartButton() const { return Button(layout::ids::kMainStartVok); }
  QLabel* IconControl() const;
  const ControlSet& Controls() const { return controls_; }

  void OnInfo() { handlers_->OnInfo(); }
  void OnUpdate() { handlers_->OnUpdate(); }
  void OnBackup() { handlers_->OnBackup(); }
  void OnSetup() { handlers_->OnSetup(); }
  void OnStartVok() { handlers_->OnStartVok(); }
  void OnExit();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QPushButton* Button(int id) const;
  void RunTargetInformation(int port_index, int rate) override;
  void RunUpdate(int port_index, int rate) override;
  void RunBackup(int port_index, int rate) override;
  bool RunSetup(int& port_index) override;

  LoaderLink& link_;
  const AppPaths& paths_;
  UserInterface& ui_;
  UpdateDescription& description_;
  std::optional<desktop::MainWindowHandlers> handlers_;
  ControlSet controls_;
  bool initialised_ = false;
};

}  // namespace vok::gui
