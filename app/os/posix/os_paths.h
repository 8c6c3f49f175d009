#pragma once

// How paths are spelled on POSIX systems. Its twin for Windows is
// app/os/win32/os_paths.h; CMake puts the folder of this system's one on the
// include path.

namespace vok {

// The separator of the paths the procedures build.
inline constexpr char kPathSeparator = '/';
// The characters after which a path's file name begins.
inline constexpr const char* kPathNameSeparators = "/";

}  // namespace vok
