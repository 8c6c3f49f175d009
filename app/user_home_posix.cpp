#include <pwd.h>
#include <unistd.h>

#include <vector>

#include "app/app_folder.h"

namespace vok {

std::optional<std::string> UserHomeFolder(const std::string& user) {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  passwd entry;
  passwd* found = nullptr;
  if (::getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] != '/')
    return std::nullopt;
  return std::string(found->pw_dir);
}

}  // namespace vok
