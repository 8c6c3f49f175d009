#pragma once

#include <QDialog>

#include "app/settings.h"
#include "app/user_interface.h"
#include "link/loader_link.h"
#include "update/update_log.h"

class QLabel;
class QPushButton;

namespace vok::gui {

// "Start Vok": connects without the hand-over and makes the target loader
// start the controller's application. Any way of not connecting is shown as
// "Vok is already started". 1 when the start command was sent.
int StartVok(LoaderLink& link, const AppPaths& paths, UserInterface& ui, const Settings& settings);

// The main window: one row of buttons from which every function is reached.
// It holds the settings for the whole run; "Exit" writes them back, the
// close box and Escape leave without writing.
class MainWindow : public QDialog {
  Q_OBJECT

 public:
  // Loads the settings and makes the work folders.
  MainWindow(LoaderLink& link, const AppPaths& paths, UserInterface& ui,
             UpdateDescription& description, QWidget* parent = nullptr);
  ~MainWindow() override;

  const Settings& CurrentSettings() const { return settings_; }

  QPushButton* ExitButton() const { return exit_; }
  QPushButton* InfoButton() const { return info_; }
  QPushButton* UpdateButton() const { return update_; }
  QPushButton* BackupButton() const { return backup_; }
  QPushButton* SetupButton() const { return setup_; }
  QPushButton* StartButton() const { return start_; }
  QLabel* IconControl() const { return icon_; }

  void OnInfo();
  void OnUpdate();
  void OnBackup();
  void OnSetup();
  void OnStartVok();
  void OnExit();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  LoaderLink& link_;
  const AppPaths& paths_;
  UserInterface& ui_;
  UpdateDescription& description_;
  Settings settings_;
  bool initialised_ = false;

  QPushButton* exit_ = nullptr;
  QPushButton* update_ = nullptr;
  QPushButton* backup_ = nullptr;
  QPushButton* setup_ = nullptr;
  QLabel* icon_ = nullptr;
  QPushButton* info_ = nullptr;
  QPushButton* start_ = nullptr;
};

// The application's icon, from the program's resources.
QIcon ApplicationIcon();

}  // namespace vok::gui
