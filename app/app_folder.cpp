#include "app/app_folder.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "app/folder_names.h"

namespace vok {

std::string ExecutableFolder() {
  // The path may be any length: grow the buffer until it fits.
  std::vector<char> buf(512);
  std::string path;
  for (;;) {
    const long long n = ReadExecutablePath(buf.data(), buf.size());
    if (n < 0) return std::string(".") + kPathSeparator;
    if (static_cast<size_t>(n) < buf.size()) {
      path.assign(buf.data(), static_cast<size_t>(n));
      break;
    }
    buf.resize(buf.size() * 2);
  }
  size_t slash = path.rfind(kPathSeparator);
  if (slash == std::string::npos) return std::string(".") + kPathSeparator;
  return path.substr(0, slash + 1);
}

std::string ChooseApplicationFolder(const std::string& exe_folder, const EnvironmentLookup& env) {
  std::error_code ec;
  if (std::filesystem::exists(exe_folder + "VOKLOAD.INI", ec)) return exe_folder;
  if (!IsSystemProgramFolder(exe_folder, env) && FolderWritable(exe_folder)) return exe_folder;
  std::string user = UserDataFolder(env);
  return user.empty() ? exe_folder : user;
}

std::vector<std::string> OtherApplicationFolders(const std::string& app_folder,
                                                 const std::string& exe_folder,
                                                 const EnvironmentLookup& env,
                                                 const HomeLookup& home) {
  std::vector<std::string> folders;
  auto add = [&](const std::string& folder) {
    if (folder.empty()) return;
    const std::string f = WithSeparator(WithoutSeparators(folder));
    if (f == WithSeparator(WithoutSeparators(app_folder))) return;
    for (const std::string& known : folders)
      if (known == f) return;
    folders.push_back(f);
  };
  // Another user's per-user folder as that user's login would name it; their
  // XDG_DATA_HOME is not known here.
  auto user_folder = [&](const std::string& user) {
    const std::optional<std::string> h = home(user);
    if (!h) return std::string();
    return UserDataFolder([&h](const std::string& name) -> std::optional<std::string> {
      if (name == "HOME") return h;
      return std::nullopt;
    });
  };
  add(exe_folder);
  add(UserDataFolder(env));
  if (const std::optional<std::string> sudo_user = env("SUDO_USER");
      sudo_user && !sudo_user->empty())
    add(user_folder(*sudo_user));
  add(user_folder("root"));
  return folders;
}

std::vector<std::string> OtherApplicationFolders(const std::string& app_folder) {
  return OtherApplicationFolders(app_folder, ExecutableFolder(), ProcessEnvironment,
                                 UserHomeFolder);
}

std::string ApplicationFolder() {
  return ChooseApplicationFolder(ExecutableFolder(), ProcessEnvironment);
}

}  // namespace vok
