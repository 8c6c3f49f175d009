#include "cli/command_line.h"

namespace vok::cli {

const char* SystemFolderText() { return "/usr/bin"; }
const char* UserFolderText() { return "${XDG_DATA_HOME:-~/.local/share}/vokloader"; }

}  // namespace vok::cli
