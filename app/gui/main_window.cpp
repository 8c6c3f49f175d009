#include "app/gui/main_window.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include "app/gui/dialog_units.h"
#include "app/gui/port_dialogs.h"
#include "app/gui/window_style.h"
#include "backup/backup_dialog.h"
#include "link/loader_commands.h"
#include "target/connect.h"
#include "target/target_info_window.h"
#include "update/update_dialog.h"

// Resources of a static library are registered by hand, outside any namespace.
static void InitGuiResources() { Q_INIT_RESOURCE(resources); }

namespace vok::gui {

QIcon ApplicationIcon() {
  static const bool registered = (InitGuiResources(), true);
  (void)registered;
  return QIcon(QStringLiteral(":/vokloader/icon.png"));
}

int StartVok(LoaderLink& link, const AppPaths& paths, UserInterface& ui, const Settings& settings) {
  // No hand-over: a running application means there is nothing to start.
  if (ConnectTarget(link, paths, ui, settings.port_index, settings.baud_rate, nullptr, 0) != 1) {
    ui.ShowMessage("Vok is already started", Buttons::Ok, Icon::Warning, kAppTitle);
    // A link opened without a loader behind it is not left open.
    DisconnectTarget(link);
    return 0;
  }
  // The command closes the link whatever it answers; nothing is reported.
  StartTargetApplication(link);
  return 1;
}

MainWindow::MainWindow(LoaderLink& link, const AppPaths& paths, UserInterface& ui,
                       UpdateDescription& description, QWidget* parent)
    : QDialog(parent), link_(link), paths_(paths), ui_(ui), description_(description) {
  settings_ = LoadSettings(paths_);
  CreateWorkFolders(paths_);

  setFont(SystemDialogFont());
  setWindowTitle(QString::fromLatin1(kAppTitle));
  SetDialogFrame(*this, true);
  const DialogUnits du(font());
  setFixedSize(du.Size(318, 34));

  auto button = [&](const char* text, int x, void (MainWindow::*handler)()) {
    auto* b = new QPushButton(QString::fromLatin1(text), this);
    Place(b, du, x, 7, 43, 18);
    connect(b, &QPushButton::clicked, this, handler);
    return b;
  };
  // Made in tab order.
  exit_ = button("Exit", 263, &MainWindow::OnExit);
  update_ = button("Update...", 79, &MainWindow::OnUpdate);
  backup_ = button("Backup...", 125, &MainWindow::OnBackup);
  setup_ = button("Setup...", 171, &MainWindow::OnSetup);
  icon_ = new QLabel(this);
  // An icon control takes the size of its picture.
  icon_->setGeometry(du.X(6), du.Y(8), 32, 32);
  icon_->setPixmap(ApplicationIcon().pixmap(32, 32));
  info_ = button("Info...", 33, &MainWindow::OnInfo);
  start_ = button("Start Vok", 217, &MainWindow::OnStartVok);
  exit_->setDefault(true);
  setTabOrder(exit_, update_);
  setTabOrder(update_, backup_);
  setTabOrder(backup_, setup_);
  setTabOrder(setup_, info_);
  setTabOrder(info_, start_);
}

MainWindow::~MainWindow() = default;

void MainWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (initialised_) return;
  initialised_ = true;
  CentreOnScreen(*this);
  setWindowTitle(QStringLiteral("Vok Loader Version 1.1.1"));
  exit_->setFocus();
}

void MainWindow::OnInfo() {
  TargetInfoWindow window(link_, paths_, ui_, this);
  window.port_index = settings_.port_index;
  window.rate = settings_.baud_rate;
  window.exec();
}

void MainWindow::OnUpdate() {
  UpdateDialog window(link_, paths_, ui_, description_, this);
  window.Fields().port = settings_.port_index;
  window.Fields().baud_rate = settings_.baud_rate;
  window.exec();
}

void MainWindow::OnBackup() {
  BackupDialog window(link_, paths_, ui_, this);
  window.Fields().port = settings_.port_index;
  window.Fields().baud_rate = settings_.baud_rate;
  window.exec();
}

void MainWindow::OnSetup() {
  SetupDialog dialog(this);
  dialog.SetPortIndex(settings_.port_index);
  // In memory only; "Exit" writes it.
  if (dialog.exec() == QDialog::Accepted) settings_.port_index = dialog.PortIndex();
}

void MainWindow::OnStartVok() { StartVok(link_, paths_, ui_, settings_); }

void MainWindow::OnExit() {
  SaveSettingsOnExit(paths_, ui_, settings_);
  accept();
}

}  // namespace vok::gui
