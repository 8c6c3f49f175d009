#include "app/desktop/main_window_handlers.h"

#include <utility>

#include "link/loader_commands.h"
#include "link/port_list.h"
#include "target/connect.h"

namespace vok::desktop {

DesktopSession::DesktopSession(AppPaths app_paths) : paths(std::move(app_paths)) {
  // Which device stands behind each port name, for the whole run.
  // Which device stands behind each port name, for the whole run: COM1 to
  // COM4 find the adapters present unless [Ports] names their devices.
  link.SetPortTable(WithComDefaults(LoadPortTable(paths), SerialPorts()));
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

MainWindowHandlers::MainWindowHandlers(LoaderLink& link, const AppPaths& paths, UserInterface& ui,
                                       WindowOpener& windows)
    : link_(link), paths_(paths), ui_(ui), windows_(windows) {
  settings_ = LoadSettings(paths_);
  CreateWorkFolders(paths_);
}

void MainWindowHandlers::OnInfo() {
  windows_.RunTargetInformation(settings_.port_index, settings_.baud_rate);
}

void MainWindowHandlers::OnUpdate() { windows_.RunUpdate(settings_.port_index, settings_.baud_rate); }

void MainWindowHandlers::OnBackup() { windows_.RunBackup(settings_.port_index, settings_.baud_rate); }

void MainWindowHandlers::OnSetup() {
  int index = settings_.port_index;
  // In memory only; "Exit" writes it.
  if (windows_.RunSetup(index)) settings_.port_index = index;
}

int MainWindowHandlers::OnStartVok() { return StartVok(link_, paths_, ui_, settings_); }

void MainWindowHandlers::OnExit() { SaveSettingsOnExit(paths_, ui_, settings_); }

}  // namespace vok::desktop
