#pragma once

#include "app/settings.h"
#include "app/user_interface.h"
#include "link/loader_link.h"
#include "update/update_log.h"

namespace vok::desktop {

// The title of the main window once it is open.
inline constexpr const char* kMainWindowTitle = "Vok Loader Version 1.1.1";

// What lives for the whole run of the desktop program: the settings paths,
// the one loader link with the port table of the settings file, and the
// update description. The front end's start-up makes one and hands it down.
struct DesktopSession {
  explicit DesktopSession(AppPaths paths);
  DesktopSession(const DesktopSession&) = delete;
  DesktopSession& operator=(const DesktopSession&) = delete;

  AppPaths paths;
  LoaderLink link;
  UpdateDescription description;
};

// The windows the main window opens, each modal, made anew for one use and
// destroyed when it closes; the values handed over are copies.
class WindowOpener {
 public:
  virtual ~WindowOpener() = default;
  virtual void RunTargetInformation(int port_index, int rate) = 0;
  virtual void RunUpdate(int port_index, int rate) = 0;
  virtual void RunBackup(int port_index, int rate) = 0;
  // The Setup dialog with the index preselected; true with the chosen index
  // (-1 for none) on OK.
  virtual bool RunSetup(int& port_index) = 0;
};

// "Start Vok": connects without the hand-over and makes the target loader
// start the controller's application. Any way of not connecting is shown as
// "Vok is already started". 1 when the start command was sent.
int StartVok(LoaderLink& link, const AppPaths& paths, UserInterface& ui, const Settings& settings);

// What the main window's buttons do, whichever toolkit draws it. It holds
// the settings for the whole run; "Exit" writes them back, the close box and
// Escape leave without writing.
class MainWindowHandlers {
 public:
  // Loads the settings and makes the work folders.
  MainWindowHandlers(LoaderLink& link, const AppPaths& paths, UserInterface& ui,
                     WindowOpener& windows);

  const Settings& CurrentSettings() const { return settings_; }

  void OnInfo();
  void OnUpdate();
  void OnBackup();
  void OnSetup();
  int OnStartVok();
  // Writes the settings; the window closes with its OK result afterwards.
  void OnExit();

 private:
  LoaderLink& link_;
  const AppPaths& paths_;
  UserInterface& ui_;
  WindowOpener& windows_;
  Settings settings_;
};

}  // namespace vok::desktop
