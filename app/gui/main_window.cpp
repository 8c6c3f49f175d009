#include "app/gui/main_window.h"

#include <QLabel>
#include <QPushButton>

#include "app/gui/port_dialogs.h"
#include "app/gui/window_style.h"
#include "backup/backup_dialog.h"
#include "target/target_info_window.h"
#include "update/update_dialog.h"

namespace vok::gui {

MainWindow::MainWindow(LoaderLink& link, const AppPaths& paths, UserInterface& ui,
                       UpdateDescription& description, QWidget* parent)
    : QDialog(parent), link_(link), paths_(paths), ui_(ui), description_(description) {
  handlers_.emplace(link_, paths_, ui_, static_cast<desktop::WindowOpener&>(*this));
  controls_ = BuildWindow(*this, layout::MainWindow());
  using namespace layout::ids;
  connect(Button(kMainExit), &QPushButton::clicked, this, &MainWindow::OnExit);
  connect(Button(kMainUpdate), &QPushButton::clicked, this, &MainWindow::OnUpdate);
  connect(Button(kMainBackup), &QPushButton::clicked, this, &MainWindow::OnBackup);
  connect(Button(kMainSetup), &QPushButton::clicked, this, &MainWindow::OnSetup);
  connect(Button(kMainInfo), &QPushButton::clicked, this, &MainWindow::OnInfo);
  connect(Button(kMainStartVok), &QPushButton::clicked, this, &MainWindow::OnStartVok);
}

MainWindow::~MainWindow() = default;

QPushButton* MainWindow::Button(int id) const { return controls_.As<QPushButton>(id); }

QLabel* MainWindow::IconControl() const { return controls_.As<QLabel>(layout::ids::kMainIcon); }

void MainWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (initialised_) return;
  initialised_ = true;
  CentreOnScreen(*this);
  setWindowTitle(QString::fromLatin1(desktop::kMainWindowTitle));
  ExitButton()->setFocus();
}

void MainWindow::OnExit() {
  handlers_->OnExit();
  accept();
}

void MainWindow::RunTargetInformation(int port_index, int rate) {
  TargetInfoWindow window(link_, paths_, ui_, this);
  window.port_index = port_index;
  window.rate = rate;
  window.exec();
}

void MainWindow::RunUpdate(int port_index, int rate) {
  UpdateDialog window(link_, paths_, ui_, description_, this);
  window.Fields().port = port_index;
  window.Fields().baud_rate = rate;
  window.exec();
}

void MainWindow::RunBackup(int port_index, int rate) {
  BackupDialog window(link_, paths_, ui_, this);
  window.Fields().port = port_index;
  window.Fields().baud_rate = rate;
  window.exec();
}

bool MainWindow::RunSetup(int& port_index) {
  SetupDialog dialog(this);
  dialog.SetPortIndex(port_index);
  if (dialog.exec() != QDialog::Accepted) return false;
  port_index = dialog.PortIndex();
  return true;
}

}  // namespace vok::gui
