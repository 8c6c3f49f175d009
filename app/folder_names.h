#pragma once

// Folder names as the application folder's code builds them. Internal to
// app/.

#include <cstddef>
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

// The path of the running program's file into buffer: its length (size or
// more when it did not fit), or -1. Written once per system.
long long ReadExecutablePath(char* buffer, size_t size);

}  // namespace vok
