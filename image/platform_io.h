#pragma once

// The few descriptor calls of the file layer that differ between POSIX and
// the Windows C runtime. Internal to image/.

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include <io.h>
#endif

namespace vok::platform_io {

#ifdef _WIN32
// The Windows runtime opens files in text mode (CR LF and Ctrl-Z rewritten)
// and lets child processes inherit them unless told otherwise.
constexpr int kPrivateBinary = O_BINARY | O_NOINHERIT;
// No symbolic links to guard against in the runtime's open.
constexpr int kNoFollow = 0;

// The runtime has no positioned calls; the descriptor is ours alone, so
// moving its position and putting it back is safe.
inline long long PRead(int fd, void* buffer, size_t n, uint64_t offset) {
  const long long saved = ::_lseeki64(fd, 0, SEEK_CUR);
  if (saved < 0) return -1;
  if (::_lseeki64(fd, static_cast<long long>(offset), SEEK_SET) < 0) return -1;
  const unsigned chunk = n > (1u << 30) ? (1u << 30) : static_cast<unsigned>(n);
  const int r = ::_read(fd, buffer, chunk);
  const int error = errno;
  ::_lseeki64(fd, saved, SEEK_SET);
  errno = error;
  return r;
}

inline long long PWrite(int fd, const void* data, size_t n, uint64_t offset) {
  const long long saved = ::_lseeki64(fd, 0, SEEK_CUR);
  if (saved < 0) return -1;
  if (::_lseeki64(fd, static_cast<long long>(offset), SEEK_SET) < 0) return -1;
  const unsigned chunk = n > (1u << 30) ? (1u << 30) : static_cast<unsigned>(n);
  const int r = ::_write(fd, data, chunk);
  const int error = errno;
  ::_lseeki64(fd, saved, SEEK_SET);
  errno = error;
  return r;
}

inline int FSync(int fd) { return ::_commit(fd); }

// Without symbolic links, the plain stat answers for the name itself.
inline int LStat(const char* path, struct stat* st) { return ::stat(path, st); }

// The identity of a file just opened, comparable with LStat's: the runtime's
// fstat fills the device field differently from its stat.
inline int StatOpened(int /*fd*/, const char* path, struct stat* st) { return ::stat(path, st); }
#else
constexpr int kPrivateBinary = O_CLOEXEC;
constexpr int kNoFollow = O_NOFOLLOW;

inline ssize_t PRead(int fd, void* buffer, size_t n, uint64_t offset) {
  return ::pread(fd, buffer, n, static_cast<off_t>(offset));
}

inline ssize_t PWrite(int fd, const void* data, size_t n, uint64_t offset) {
  return ::pwrite(fd, data, n, static_cast<off_t>(offset));
}

inline int FSync(int fd) { return ::fsync(fd); }

inline int LStat(const char* path, struct stat* st) { return ::lstat(path, st); }

inline int StatOpened(int fd, const char* /*path*/, struct stat* st) { return ::fstat(fd, st); }
#endif

}  // namespace vok::platform_io
