#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdlib>
#include <vector>

#include "app/app_folder.h"
#include "app/folder_names.h"
#include "link/ascii.h"

namespace vok {

namespace {

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

}  // namespace

std::optional<std::string> ProcessEnvironment(const std::string& name) {
  if (const char* v = std::getenv(name.c_str())) return std::string(v);
  return std::nullopt;
}

long long ReadExecutablePath(char* buffer, size_t size) {
  const DWORD n = ::GetModuleFileNameA(nullptr, buffer, static_cast<DWORD>(size));
  return n == 0 ? -1 : static_cast<long long>(n);
}

std::string UserDataFolder(const EnvironmentLookup& env) {
  std::optional<std::string> local = env("LOCALAPPDATA");
  if (!local || local->empty()) return std::string();
  return WithSeparator(WithoutSeparators(*local)) + "VOK Loader" + kPathSeparator;
}

bool FolderWritable(const std::string& folder) {
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
}

bool IsSystemProgramFolder(const std::string& folder, const EnvironmentLookup& env) {
  for (const char* name : {"ProgramFiles", "ProgramW6432", "ProgramFiles(x86)"}) {
    std::optional<std::string> root = env(name);
    if (root && !root->empty() && StartsWithNoCase(folder, WithSeparator(WithoutSeparators(*root))))
      return true;
  }
  return false;
}

// Windows keeps no other user's folder within reach of a run: an elevated
// program runs as the same user, with the same per-user folder.
std::optional<std::string> UserHomeFolder(const std::string&) { return std::nullopt; }

}  // namespace vok
