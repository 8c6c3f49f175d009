# Cross build for 64-bit Windows with Debian's mingw-w64 (the posix thread
# model, which std::thread and std::mutex need).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VOK_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VOK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VOK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VOK_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VOK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The runtime goes into every .exe, so that it starts on a bare Windows (and
# under Wine) without the compiler's DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs are discovered and run under Wine.
find_program(VOK_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(VOK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VOK_WINE})
endif()
