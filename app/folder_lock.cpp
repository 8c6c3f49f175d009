#include "app/folder_lock.h"

#include <filesystem>
#include <system_error>

namespace vok {

bool LockApplicationFolder(FolderLock& lock, const AppPaths& paths, UserInterface& ui) {
  // An installed copy's per-user folder is made on first use, and the lock
  // file lives in it; what cannot be made shows as the lock's failure.
  std::error_code ec;
  std::filesystem::create_directories(paths.folder, ec);
  switch (lock.Acquire(paths.folder)) {
    case FolderLock::Result::kLocked:
      return true;
    case FolderLock::Result::kInUse:
      ui.ShowMessage("The application folder " + paths.folder +
                         " is in use by another VOK Loader. Wait until it has finished, or give "
                         "each program a folder of its own.",
                     Buttons::Ok, Icon::Stop, kAppTitle);
      return false;
    case FolderLock::Result::kFailed:
      break;
  }
  ui.ShowMessage("Cannot lock the application folder " + paths.folder + ": " + lock.Reason(),
                 Buttons::Ok, Icon::Stop, kAppTitle);
  return false;
}

}  // namespace vok
