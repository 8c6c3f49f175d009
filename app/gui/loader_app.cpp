#include "app/gui/loader_app.h"

#include "app/gui/main_window.h"
#include "app/gui/window_style.h"

namespace vok::gui {

LoaderApp::LoaderApp(int& argc, char** argv) : qt_(argc, argv) {
  QApplication::setApplicationName(QStringLiteral("vokloader"));
  QApplication::setApplicationVersion(QStringLiteral("1.1.1"));
}

int LoaderApp::Run() {
  // Every setting and working file lives beside the executable.
  paths_ = AppPaths::OfExecutable();
  ApplyDialogColours(qt_);
  QApplication::setWindowIcon(ApplicationIcon());
  // A second program on the same folder would share its journal and its
  // port: it says so and ends before anything else.
  if (!LockApplicationFolder(folder_lock_, paths_, ui_)) return 1;
  // Which device stands behind each port name, for the whole run.
  link_.SetPortTable(LoadPortTable(paths_));

  MainWindow window(link_, paths_, ui_, description_);
  window.exec();
  return 0;
}

}  // namespace vok::gui
