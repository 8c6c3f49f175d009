# Each folder includes only its own headers and those of the folders below
# it, so that a change low in the house never needs one high up:
#
#   link/          the target link                      -> nothing else
#   sim/           the simulated controller              -> link
#   app/ (files)   settings, folders, user interface     -> link
#   image/         S-records, the memory image, reading  -> app, link
#   target/        connecting, the component scan        -> image, app, link
#   update/        command file, programming, log        -> target, image, app, link
#   backup/        the backup                            -> update, target, image, app, link
#   cli/           the command line                      -> every procedure folder
#   app/desktop/   the windows without a toolkit         -> every procedure folder
#   app/gui/, app/win32/: the toolkits' programs         -> anything
#
# The toolkit windows that stand beside their procedures (target/, update/,
# backup/: *_window.* and *_dialog.*) may include app/gui/ too.
# The simulator reads its command line with cli/option_table.h, a header
# without a library behind it; nothing else of cli/.
#
#   cmake -DROOT=<repository> -P cmake/CheckLayering.cmake
if(NOT ROOT)
  message(FATAL_ERROR "ROOT not set")
endif()

set(below_link "")
set(below_sim "link")
set(below_app "link")
set(below_image "app;link")
set(below_target "image;app;link")
set(below_update "target;image;app;link")
set(below_backup "update;target;image;app;link")
set(below_cli "backup;update;target;image;app;link")
set(below_desktop "backup;update;target;image;app;link")
set(toolkits "app/gui/;app/win32/;app/desktop/")

set(faults "")
foreach(folder link sim app image target update backup cli desktop)
  if(folder STREQUAL "desktop")
    set(dir "${ROOT}/app/desktop")
    set(own "app/desktop")
  else()
    set(dir "${ROOT}/${folder}")
    set(own "${folder}")
  endif()
  file(GLOB files "${dir}/*.h" "${dir}/*.cpp")
  foreach(file ${files})
    get_filename_component(name "${file}" NAME)
    set(window OFF)
    if(name MATCHES "_(window|dialog)\\.(h|cpp)$")
      set(window ON)
    endif()
    file(STRINGS "${file}" lines REGEX "^#include \"[a-z0-9_]+/")
    foreach(line ${lines})
      string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" included "${line}")
      string(REGEX REPLACE "/.*" "" top "${included}")
      set(ok OFF)
      if(included MATCHES "^${own}/")
        set(ok ON)
      elseif(window AND included MATCHES "^app/gui/")
        set(ok ON)
      elseif(folder STREQUAL "sim" AND included STREQUAL "cli/option_table.h")
        set(ok ON)
      else()
        list(FIND below_${folder} "${top}" at)
        if(NOT at EQUAL -1)
          set(ok ON)
          # The toolkits' folders lie inside app/ but above everything.
          foreach(toolkit ${toolkits})
            if(included MATCHES "^${toolkit}")
              set(ok OFF)
            endif()
          endforeach()
        endif()
      endif()
      if(NOT ok)
        file(RELATIVE_PATH relative "${ROOT}" "${file}")
        list(APPEND faults "${relative} includes ${included}")
      endif()
    endforeach()
  endforeach()
endforeach()

if(faults)
  list(JOIN faults "\n  " text)
  message(FATAL_ERROR "includes against the layering:\n  ${text}")
endif()
message(STATUS "layering holds")
