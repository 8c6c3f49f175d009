#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "app/app_folder.h"
#include "app/folder_names.h"

#ifndef VOK_INSTALL_BINDIR
#define VOK_INSTALL_BINDIR "/usr/local/bin"
#endif

namespace vok {

std::optional<std::string> ProcessEnvironment(const std::string& name) {
  if (const char* v = std::getenv(name.c_str())) return std::string(v);
  if (name == "HOME") {
    if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_dir) return std::string(pw->pw_dir);
  }
  return std::nullopt;
}

long long ReadExecutablePath(char* buffer, size_t size) {
  return ::readlink("/proc/self/exe", buffer, size);
}

std::string UserDataFolder(const EnvironmentLookup& env) {
  // A relative XDG_DATA_HOME is to be ignored, as an empty one is.
  std::optional<std::string> data = env("XDG_DATA_HOME");
  std::string base;
  if (data && !data->empty() && data->front() == '/') {
    base = WithoutSeparators(*data);
  } else {
    std::optional<std::string> home = env("HOME");
    if (!home || home->empty() || home->front() != '/') return std::string();
    base = WithSeparator(WithoutSeparators(*home)) + ".local/share";
  }
  return WithSeparator(base) + "vokloader/";
}

bool FolderWritable(const std::string& folder) {
  // The effective user's rights, read-only mounts included; nothing is
  // created in the folder to find out.
  return ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

bool IsSystemProgramFolder(const std::string& folder, const EnvironmentLookup& env) {
  (void)env;
  const std::string f = WithoutSeparators(folder);
  for (const char* system : {"/bin", "/sbin", "/usr/bin", "/usr/sbin", "/usr/local/bin",
                             "/usr/local/sbin", "/usr/games", VOK_INSTALL_BINDIR}) {
    if (f == system) return true;
  }
  return false;
}

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
