#pragma once

#include <QApplication>

#include "app/folder_lock.h"
#include "app/gui/qt_user_interface.h"
#include "app/settings.h"
#include "link/loader_link.h"
#include "update/update_log.h"

namespace vok::gui {

// The application object: owns what lives for the whole run (the settings
// paths, the one loader link, the user interface, the update description)
// and runs the main window until it closes.
class LoaderApp {
 public:
  LoaderApp(int& argc, char** argv);
  LoaderApp(const LoaderApp&) = delete;
  LoaderApp& operator=(const LoaderApp&) = delete;

  // Start-up, the main window, and the end of the program; the exit code.
  int Run();

 private:
  QApplication qt_;
  AppPaths paths_;
  // Held from start-up to the end: one program per application folder.
  FolderLock folder_lock_;
  LoaderLink link_;
  QtUserInterface ui_;
  UpdateDescription description_;
};

}  // namespace vok::gui
