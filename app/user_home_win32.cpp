#include "app/app_folder.h"

namespace vok {

// Windows keeps no other user's folder within reach of a run: an elevated
// program runs as the same user, with the same per-user folder.
std::optional<std::string> UserHomeFolder(const std::string&) { return std::nullopt; }

}  // namespace vok
