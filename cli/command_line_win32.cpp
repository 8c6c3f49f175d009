#include "cli/command_line.h"

namespace vok::cli {

const char* SystemFolderText() { return "Program Files"; }
const char* UserFolderText() { return "%LOCALAPPDATA%\\VOK Loader"; }

}  // namespace vok::cli
