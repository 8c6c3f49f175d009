#pragma once

// How paths are spelled on Windows. Its twin for POSIX systems is
// app/os/posix/os_paths.h; CMake puts the folder of this system's one on the
// include path.

namespace vok {

// The separator of the paths the procedures build.
inline constexpr char kPathSeparator = '\\';
// The characters after which a path's file name begins ("C:name" too).
inline constexpr const char* kPathNameSeparators = "\\/:";

}  // namespace vok
