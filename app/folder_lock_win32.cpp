#include "app/folder_lock.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

namespace vok {

namespace {

std::string SystemReason(DWORD error) {
  char text[512] = {};
  const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, error, 0, text, sizeof text, nullptr);
  std::string reason(text, n);
  while (!reason.empty() && (reason.back() == '\r' || reason.back() == '\n' || reason.back() == ' '))
    reason.pop_back();
  return reason.empty() ? "error " + std::to_string(error) : reason;
}

// The path in the form that the wide functions take at any length: the
// system's code page to UTF-16, made absolute, long ones with the \\?\ prefix.
std::wstring WidePath(const std::string& path) {
  const int n = ::MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
  std::wstring wide(n > 0 ? static_cast<size_t>(n) : 1, L'\0');
  if (n > 0) ::MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide.data(), n);
  wide.resize(wide.size() - 1);
  const DWORD full_n = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (full_n == 0) return wide;
  std::wstring full(full_n, L'\0');
  const DWORD got = ::GetFullPathNameW(wide.c_str(), full_n, full.data(), nullptr);
  full.resize(got);
  if (full.size() >= MAX_PATH && full.compare(0, 2, L"\\\\") != 0) full = L"\\\\?\\" + full;
  return full;
}

}  // namespace

FolderLock::Result FolderLock::Acquire(const std::string& folder) {
  Release();
  const std::string path = folder + kFileName;
  // Shared opening: the lock, not the sharing mode, keeps others out, so a
  // second program learns that the folder is in use rather than meeting a
  // sharing violation.
  HANDLE h = ::CreateFileW(WidePath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED)
    h = ::CreateFileW(WidePath(path).c_str(), GENERIC_READ,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    reason_ = path + ": " + SystemReason(::GetLastError());
    return Result::kFailed;
  }
  OVERLAPPED at = {};
  if (!::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    const DWORD error = ::GetLastError();
    ::CloseHandle(h);
    if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) return Result::kInUse;
    reason_ = path + ": " + SystemReason(error);
    return Result::kFailed;
  }
  handle_ = h;
  held_ = true;
  return Result::kLocked;
}

void FolderLock::Release() {
  // Closing the handle drops the lock with it.
  if (handle_ != nullptr) ::CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
  held_ = false;
}

}  // namespace vok
