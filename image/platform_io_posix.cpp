#include <stdlib.h>
#include <sys/file.h>

#include "image/file.h"
#include "image/platform_io.h"

namespace vok {

namespace platform_io {

const int kPrivateBinary = O_CLOEXEC;
const int kNoFollow = O_NOFOLLOW;

long long PRead(int fd, void* buffer, size_t n, uint64_t offset) {
  return ::pread(fd, buffer, n, static_cast<off_t>(offset));
}

long long PWrite(int fd, const void* data, size_t n, uint64_t offset) {
  return ::pwrite(fd, data, n, static_cast<off_t>(offset));
}

int FSync(int fd) { return ::fsync(fd); }

int LStat(const char* path, struct stat* st) { return ::lstat(path, st); }

int StatOpened(int fd, const char* /*path*/, struct stat* st) { return ::fstat(fd, st); }

bool LockExclusive(int fd) { return ::flock(fd, LOCK_EX | LOCK_NB) == 0; }

std::tm LocalTime(std::time_t moment) {
  std::tm out{};
  localtime_r(&moment, &out);
  return out;
}

}  // namespace platform_io

void SyncFolder(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) throw FileException("cannot open folder", path, errno);
  int r = ::fsync(fd);
  int error = errno;
  ::close(fd);
  // Some file systems cannot sync a folder at all; nothing more can be done there.
  if (r != 0 && error != EINVAL && error != ENOTSUP)
    throw FileException("cannot sync folder", path, error);
}

void ReplaceFile(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) throw FileException("cannot rename to", to, errno);
}

bool MakeFreshFolder(std::string& pattern) { return ::mkdtemp(pattern.data()) != nullptr; }

}  // namespace vok
