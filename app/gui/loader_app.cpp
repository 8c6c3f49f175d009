#include "app/gui/loader_app.h"

#include "app/gui/main_window.h"
#include "app/gui/window_style.h"

namespace vok::gui {

LoaderApp::LoaderApp(int& argc, char** argv) : qt_(argc, argv) {
  QApplication::setApplicationName(QStringLiteral("vokloader"));
  QApplication::setApplicationVersion(QStringLiteral("1.1.1"));
}

int LoaderApp::Run() {
  // Every setting and working file lives in the application folder: beside
  // a portable copy, in the user's own folder for an installed one.
  paths_ = AppPaths::OfApplication();
  ApplyDialogColours(qt_);
  QApplication::setWindowIcon(ApplicationIcon());
  // Which device stands behind each port name, for the whole run.
  link_.SetPortTable(LoadPortTable(paths_));

  MainWindow window(link_, paths_, ui_, description_);
  window.exec();
  return 0;
}

}  // namespace vok::gui
