// The desktop program on Windows: the main window, run modally until it
// closes, with the platform's own dialogs.
#include <windows.h>

#include "app/desktop/main_window_handlers.h"
#include "app/folder_lock.h"
#include "app/win32/controls.h"
#include "app/win32/dialogs.h"
#include "app/win32/win32_user_interface.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  using namespace vok;
  // Every setting and working file lives in the application folder: beside
  // a portable copy, in the user's own folder for an installed one.
  desktop::DesktopSession session(AppPaths::OfApplication());
  if (!win32::RegisterProgressBarClass(instance)) return 1;
  win32::Win32UserInterface ui;
  // A second program on the same folder would share its journal and its
  // port: it says so and ends before anything else. Held to the end.
  FolderLock folder_lock;
  if (!LockApplicationFolder(folder_lock, session.paths, ui)) return 1;
  win32::MainDialog window(session, ui);
  window.Run(nullptr);
  return 0;
}
