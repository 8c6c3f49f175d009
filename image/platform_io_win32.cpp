#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <io.h>
#include <windows.h>
// <windows.h> names its own ReplaceFile; the one defined here is ours.
#ifdef ReplaceFile
#undef ReplaceFile
#endif

#include <filesystem>
#include <random>
#include <system_error>

#include "image/file.h"
#include "image/platform_io.h"

namespace vok {

namespace platform_io {

// The Windows runtime opens files in text mode (CR LF and Ctrl-Z rewritten)
// and lets child processes inherit them unless told otherwise.
const int kPrivateBinary = O_BINARY | O_NOINHERIT;
// No symbolic links to guard against in the runtime's open.
const int kNoFollow = 0;

namespace {

// The runtime has no positioned calls; the descriptor is ours alone, so
// moving its position and putting it back is safe.
template <class Transfer>
long long AtOffset(int fd, uint64_t offset, Transfer transfer) {
  const long long saved = ::_lseeki64(fd, 0, SEEK_CUR);
  if (saved < 0) return -1;
  if (::_lseeki64(fd, static_cast<long long>(offset), SEEK_SET) < 0) return -1;
  const int r = transfer();
  const int error = errno;
  ::_lseeki64(fd, saved, SEEK_SET);
  errno = error;
  return r;
}

unsigned Chunk(size_t n) { return n > (1u << 30) ? (1u << 30) : static_cast<unsigned>(n); }

}  // namespace

long long PRead(int fd, void* buffer, size_t n, uint64_t offset) {
  return AtOffset(fd, offset, [&] { return ::_read(fd, buffer, Chunk(n)); });
}

long long PWrite(int fd, const void* data, size_t n, uint64_t offset) {
  return AtOffset(fd, offset, [&] { return ::_write(fd, data, Chunk(n)); });
}

int FSync(int fd) { return ::_commit(fd); }

// Without symbolic links, the plain stat answers for the name itself.
int LStat(const char* path, struct stat* st) { return ::stat(path, st); }

// The runtime's fstat fills the device field differently from its stat.
int StatOpened(int /*fd*/, const char* path, struct stat* st) { return ::stat(path, st); }

bool LockExclusive(int fd) {
  const HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
  if (h == INVALID_HANDLE_VALUE) return false;
  OVERLAPPED whole{};
  if (::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD,
                   &whole))
    return true;
  errno = EBUSY;
  return false;
}

std::tm LocalTime(std::time_t moment) {
  std::tm out{};
  localtime_s(&out, &moment);
  return out;
}

}  // namespace platform_io

void SyncFolder(const std::string& path) {
  // NTFS journals its folder entries itself, and the runtime cannot open a
  // folder to flush it.
  (void)path;
}

void ReplaceFile(const std::string& from, const std::string& to) {
  // The runtime's rename refuses to replace an existing file; this one
  // replaces it, and takes paths of any length.
  std::error_code ec;
  std::filesystem::rename(from, to, ec);
  if (ec) throw FileException("cannot rename to", to, ec.value());
}

bool MakeFreshFolder(std::string& pattern) {
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device seed;
  std::minstd_rand pick(seed());
  const size_t tail = pattern.size() - 6;
  for (int attempt = 0; attempt < 100; ++attempt) {
    for (size_t i = tail; i < pattern.size(); ++i) pattern[i] = kChars[pick() % (sizeof kChars - 1)];
    std::error_code ec;
    if (std::filesystem::create_directory(pattern, ec)) return true;
    if (ec) return false;
  }
  return false;
}

}  // namespace vok
