#include "app/gui/loader_app.h"

#include "app/folder_lock.h"
#include "app/gui/main_window.h"
#include "app/gui/window_builder.h"
#include "app/gui/window_style.h"

namespace vok::gui {

LoaderApp::LoaderApp(int& argc, char** argv) : qt_(argc, argv) {
  QApplication::setApplicationName(QStringLiteral("vokloader"));
  QApplication::setApplicationVersion(QStringLiteral("1.1.1"));
}

int LoaderApp::Run() {
  // Every setting and working file lives in the application folder: beside
  // a portable copy, in the user's own folder for an installed one.
  desktop::DesktopSession session(AppPaths::OfApplication());
  ApplyDialogColours(qt_);
  QApplication::setWindowIcon(ApplicationIcon());
  // A second program on the same folder would share its journal and its
  // port: it says so and ends before anything else. Held to the end.
  FolderLock folder_lock;
  if (!LockApplicationFolder(folder_lock, session.paths, ui_)) return 1;

  MainWindow window(session.link, session.paths, ui_, session.description);
  window.exec();
  return 0;
}

}  // namespace vok::gui
