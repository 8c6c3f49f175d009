#include "app/app_folder.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "app/settings.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>
#endif

#ifndef VOK_INSTALL_BINDIR
#define VOK_INSTALL_BINDIR "/usr/local/bin"
#endif

namespace vok {

namespace {

constexpr char kSep = kPathSeparator;

std::string WithSeparator(std::string folder) {
  if (folder.empty() || folder.back() != kSep) folder += kSep;
  return folder;
}

std::string WithoutSeparators(std::string folder) {
  while (folder.size() > 1 && (folder.back() == kSep || folder.back() == '/')) folder.pop_back();
  return folder;
}

#ifdef _WIN32
// The path as the wide functions take it at any length: the ANSI ones stop
// at 260 characters, and the program may lie deeper than that.
std::wstring LongWidePath(const std::string& path) {
  const int n = ::MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), w.data(), n);
  for (wchar_t& c : w) {
    if (c == L'/') c = L'\\';
  }
  if (w.size() >= 3 && w[1] == L':' && w[2] == L'\\') w.insert(0, L"\\\\?\\");
  return w;
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(const std::string& s, const std::string& prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (AsciiLower(s[i]) != AsciiLower(prefix[i])) return false;
  }
  return true;
}
#endif

}  // namespace

std::optional<std::string> ProcessEnvironment(const std::string& name) {
  if (const char* v = std::getenv(name.c_str())) return std::string(v);
#ifndef _WIN32
  if (name == "HOME") {
    if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_dir) return std::string(pw->pw_dir);
  }
#endif
  return std::nullopt;
}

std::string ExecutableFolder() {
  // The path may be any length: grow the buffer until it fits.
  std::vector<char> buf(512);
  std::string path;
  for (;;) {
#ifdef _WIN32
    DWORD n = ::GetModuleFileNameA(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return std::string(".") + kSep;
    if (n < buf.size()) {
      path.assign(buf.data(), n);
      break;
    }
#else
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return std::string(".") + kSep;
    if (static_cast<size_t>(n) < buf.size()) {
      path.assign(buf.data(), static_cast<size_t>(n));
      break;
    }
#endif
    buf.resize(buf.size() * 2);
  }
  size_t slash = path.rfind(kSep);
  if (slash == std::string::npos) return std::string(".") + kSep;
  return path.substr(0, slash + 1);
}

std::string UserDataFolder(const EnvironmentLookup& env) {
#ifdef _WIN32
  std::optional<std::string> local = env("LOCALAPPDATA");
  if (!local || local->empty()) return std::string();
  return WithSeparator(WithoutSeparators(*local)) + "VOK Loader" + kSep;
#else
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
#endif
}

bool FolderWritable(const std::string& folder) {
#ifdef _WIN32
  // Access bits say little on Windows (ACLs, UAC): try it. The probe file
  // goes away when its handle closes, even if the program dies first.
  for (unsigned attempt = 0; attempt < 8; ++attempt) {
    std::string probe = WithSeparator(folder) + "vok" + std::to_string(::GetCurrentProcessId()) +
                        "-" + std::to_string(::GetTickCount() + attempt) + ".tmp";
    HANDLE h = ::CreateFileW(LongWidePath(probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      ::CloseHandle(h);
      return true;
    }
    if (::GetLastError() != ERROR_FILE_EXISTS) return false;
  }
  return false;
#else
  // The effective user's rights, read-only mounts included; nothing is
  // created in the folder to find out.
  return ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
#endif
}

bool IsSystemProgramFolder(const std::string& folder, const EnvironmentLookup& env) {
#ifdef _WIN32
  for (const char* name : {"ProgramFiles", "ProgramW6432", "ProgramFiles(x86)"}) {
    std::optional<std::string> root = env(name);
    if (root && !root->empty() && StartsWithNoCase(folder, WithSeparator(WithoutSeparators(*root))))
      return true;
  }
  return false;
#else
  (void)env;
  const std::string f = WithoutSeparators(folder);
  for (const char* system : {"/bin", "/sbin", "/usr/bin", "/usr/sbin", "/usr/local/bin",
                             "/usr/local/sbin", "/usr/games", VOK_INSTALL_BINDIR}) {
    if (f == system) return true;
  }
  return false;
#endif
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
