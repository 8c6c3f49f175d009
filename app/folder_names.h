#pragma once

// Folder names as the application folder's code builds them. Internal to
// app/.

#include <string>

#include "os_paths.h"

namespace vok {

inline std::string WithSeparator(std::string folder) {
  if (folder.empty() || folder.back() != kPathSeparator) folder += kPathSeparator;
  return folder;
}

inline std::string WithoutSeparators(std::string folder) {
  while (folder.size() > 1 && (folder.back() == kPathSeparator || folder.back() == '/'))
    folder.pop_back();
  return folder;
}

}  // namespace vok
