#include "app/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vok {

FolderLock::Result FolderLock::Acquire(const std::string& folder) {
  Release();
  const std::string path = folder + kFileName;
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
  } while (fd < 0 && errno == EINTR);
  // A folder the user may read but not write: an existing lock file still
  // locks when opened for reading.
  if (fd < 0 && (errno == EACCES || errno == EROFS)) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    reason_ = path + ": " + std::strerror(errno);
    return Result::kFailed;
  }
  // flock, not fcntl locks: those belong to the process, so a second lock
  // taken in the same process (a test, a second window) would not conflict.
  int r;
  do {
    r = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (r != 0 && errno == EINTR);
  if (r != 0) {
    const int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK) return Result::kInUse;
    reason_ = path + ": " + std::strerror(error);
    return Result::kFailed;
  }
  fd_ = fd;
  held_ = true;
  return Result::kLocked;
}

void FolderLock::Release() {
  if (fd_ >= 0) ::close(fd_);  // closing the last descriptor drops the lock
  fd_ = -1;
  held_ = false;
}

}  // namespace vok
