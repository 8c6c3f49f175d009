#pragma once

// The few descriptor calls of the file layer that differ between POSIX and
// the Windows C runtime, each written once per system in
// platform_io_posix.cpp and platform_io_win32.cpp. For image/ and the
// procedures' own files (update/, backup/).

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <ctime>

namespace vok::platform_io {

// Flags of every file this program opens: binary, and not inherited by the
// processes it starts.
extern const int kPrivateBinary;
// Refuses to open through a symbolic link, where the system has them.
extern const int kNoFollow;

// Positioned read and write: a count, or -1 with errno.
long long PRead(int fd, void* buffer, size_t n, uint64_t offset);
long long PWrite(int fd, const void* data, size_t n, uint64_t offset);
int FSync(int fd);
// stat of the name itself, not of what a symbolic link points at.
int LStat(const char* path, struct stat* st);
// The identity of a file just opened, comparable with LStat's.
int StatOpened(int fd, const char* path, struct stat* st);

// Nobody else may write the file while we hold it; false (errno set) when
// another holds it. The lock goes with the descriptor.
bool LockExclusive(int fd);

// The moment as local time, in the C library's calendar.
std::tm LocalTime(std::time_t moment);

}  // namespace vok::platform_io
