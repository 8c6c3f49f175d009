#pragma once

#include <QApplication>

#include "app/desktop/main_window_handlers.h"
#include "app/gui/qt_user_interface.h"

namespace vok::gui {

// The application object: owns what lives for the whole run (the session
// with the settings paths, the one loader link and the update description,
// and the user interface) and runs the main window until it closes.
class LoaderApp {
 public:
  LoaderApp(int& argc, char** argv);
  LoaderApp(const LoaderApp&) = delete;
  LoaderApp& operator=(const LoaderApp&) = delete;

  // Start-up, the main window, and the end of the program; the exit code.
  int Run();

 private:
  QApplication qt_;
  QtUserInterface ui_;
};

}  // namespace vok::gui
