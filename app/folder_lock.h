#pragma once

// One run per application folder: a program that uses the folder's files
// (its settings, the update journal, the backups) holds an exclusive lock on
// the folder for its whole run, so two programs never share one journal.
// The lock is the operating system's lock on the file "VOKLOAD.LCK" in the
// folder; it goes with the process, whatever way the process ends, and the
// file itself is never removed (removing it would let two runs lock two
// different files of one name).

#include <string>

#include "app/settings.h"
#include "app/user_interface.h"

namespace vok {

class FolderLock {
 public:
  enum class Result { kLocked, kInUse, kFailed };
  static constexpr const char* kFileName = "VOKLOAD.LCK";

  FolderLock() = default;
  ~FolderLock() { Release(); }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  // Takes the lock of the folder (with its trailing separator) without
  // waiting. kInUse when another holder has it; kFailed when the lock file
  // cannot be opened or locked, with the system's reason in Reason().
  Result Acquire(const std::string& folder);
  void Release();
  bool Held() const { return held_; }
  const std::string& Reason() const { return reason_; }

 private:
  bool held_ = false;
  std::string reason_;
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

// Takes the application folder's lock for the run of a command; when it
// cannot, shows why (the folder is in use by another VOK Loader, or the
// system's reason) and gives false. The caller stops then, before it opens
// the port.
bool LockApplicationFolder(FolderLock& lock, const AppPaths& paths, UserInterface& ui);

}  // namespace vok
