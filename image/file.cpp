#include "image/file.h"

#include <cstring>
#include <utility>

#include "image/platform_io.h"

namespace vok {

namespace {

// Calls call(done) until n bytes have moved, again whenever a signal
// interrupts it; a read ends early at the end of the file. The count moved,
// or -1 with errno as the failing call left it.
template <class Call>
long long MoveAll(size_t n, Call call) {
  size_t done = 0;
  while (done < n) {
    const long long r = call(done);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  return static_cast<long long>(done);
}

}  // namespace

FileException::FileException(const std::string& what, const std::string& path, int error)
    : std::runtime_error(what + " '" + path + "'" +
                         (error != 0 ? std::string(": ") + std::strerror(error) : std::string())),
      path_(path),
      error_(error) {}

// ---------------------------------------------------------------- File

File::~File() { Abort(); }

File::File(File&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Abort();
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
  }
  return *this;
}

void File::Fail(const char* what) const { throw FileException(what, path_, errno); }

void File::Open(const std::string& path, FileMode mode) {
  Abort();
  path_ = path;
  int flags = platform_io::kPrivateBinary;
  switch (mode) {
    case FileMode::kRead: flags |= O_RDONLY; break;
    case FileMode::kCreate: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
    case FileMode::kCreateReadWrite: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    case FileMode::kReadWrite: flags |= O_RDWR; break;
    case FileMode::kOpenAlways: flags |= O_RDWR | O_CREAT; break;
  }
  int fd;
  do {
    fd = ::open(path.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) Fail("cannot open");
  // A folder opens read-only on POSIX; it is never a file of ours.
  struct stat st;
  int error = 0;
  if (::fstat(fd, &st) != 0)
    error = errno;
  else if (!S_ISREG(st.st_mode))
    error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  if (error != 0) {
    ::close(fd);
    throw FileException("not a regular file", path, error);
  }
  fd_ = fd;
}

void File::Adopt(int fd, const std::string& path) {
  Abort();
  fd_ = fd;
  path_ = path;
}

size_t File::Read(void* buffer, size_t n) {
  auto* p = static_cast<uint8_t*>(buffer);
  const long long moved = MoveAll(n, [&](size_t done) { return ::read(fd_, p + done, n - done); });
  if (moved < 0) Fail("cannot read");
  return static_cast<size_t>(moved);
}

void File::Write(const void* data, size_t n) {
  auto* p = static_cast<const uint8_t*>(data);
  const long long moved = MoveAll(n, [&](size_t done) { return ::write(fd_, p + done, n - done); });
  if (moved < 0) Fail("cannot write");
  // A write that takes nothing and names no error: the device is full.
  if (static_cast<size_t>(moved) != n) {
    errno = ENOSPC;
    Fail("cannot write");
  }
}

size_t File::ReadAt(uint64_t offset, void* buffer, size_t n) {
  auto* p = static_cast<uint8_t*>(buffer);
  const long long moved = MoveAll(
      n, [&](size_t done) { return platform_io::PRead(fd_, p + done, n - done, offset + done); });
  if (moved < 0) Fail("cannot read");
  return static_cast<size_t>(moved);
}

void File::WriteAt(uint64_t offset, const void* data, size_t n) {
  auto* p = static_cast<const uint8_t*>(data);
  const long long moved = MoveAll(
      n, [&](size_t done) { return platform_io::PWrite(fd_, p + done, n - done, offset + done); });
  if (moved < 0) Fail("cannot write");
  if (static_cast<size_t>(moved) != n) {
    errno = ENOSPC;
    Fail("cannot write");
  }
}

void File::Seek(uint64_t offset) {
  if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) Fail("cannot seek");
}

void File::SeekToEnd() {
  if (::lseek(fd_, 0, SEEK_END) < 0) Fail("cannot seek");
}

uint64_t File::Position() {
  off_t p = ::lseek(fd_, 0, SEEK_CUR);
  if (p < 0) Fail("cannot seek");
  return static_cast<uint64_t>(p);
}

uint64_t File::Length() {
  struct stat st;
  if (::fstat(fd_, &st) != 0) Fail("cannot query");
  return static_cast<uint64_t>(st.st_size);
}

void File::SetLength(uint64_t length) {
  int r;
  do {
    r = ::ftruncate(fd_, static_cast<off_t>(length));
  } while (r != 0 && errno == EINTR);
  if (r != 0) Fail("cannot set the length of");
}

void File::Sync() {
  if (platform_io::FSync(fd_) != 0) Fail("cannot sync");
}

void File::Close() {
  if (fd_ < 0) return;
  int fd = std::exchange(fd_, -1);
  // POSIX leaves the descriptor closed whatever close() reports; no retry.
  if (::close(fd) != 0 && errno != EINTR) Fail("cannot close");
}

void File::Abort() noexcept {
  if (fd_ >= 0) ::close(std::exchange(fd_, -1));
}

// ---------------------------------------------------------------- TextFile

TextFile::~TextFile() { Abort(); }

void TextFile::Open(const std::string& path, FileMode mode) {
  Abort();
  file_.Open(path, mode);
  if (mode == FileMode::kOpenAlways) file_.SeekToEnd();
}

bool TextFile::Fill() {
  in_.clear();
  read_pos_ = 0;
  if (at_end_) return false;
  in_.resize(kBufferSize);
  size_t got = file_.Read(in_.data(), kBufferSize);
  in_.resize(got);
  if (size_t z = in_.find('\x1A'); z != std::string::npos) {
    in_.resize(z);
    at_end_ = true;
  }
  if (got == 0) at_end_ = true;
  return !in_.empty();
}

TextFile::LineStatus TextFile::ReadLine(std::string& line, size_t limit) {
  line.clear();
  // One character more than the limit is kept, for a CR before the LF.
  const size_t keep = limit + 1;
  bool overflow = false;
  bool any = false;
  for (;;) {
    if (read_pos_ == in_.size() && !Fill()) break;
    any = true;
    const char* begin = in_.data() + read_pos_;
    size_t avail = in_.size() - read_pos_;
    const void* nl = std::memchr(begin, '\n', avail);
    size_t take = nl ? static_cast<size_t>(static_cast<const char*>(nl) - begin) : avail;
    if (!overflow) {
      size_t room = keep - line.size();
      if (take <= room) {
        line.append(begin, take);
      } else {
        line.append(begin, room);
        overflow = true;
      }
    }
    read_pos_ += take;
    if (nl) {
      ++read_pos_;
      break;
    }
  }
  if (!any) return LineStatus::kEnd;
  if (!overflow && !line.empty() && line.back() == '\r') line.pop_back();
  if (overflow || line.size() > limit) {
    line.resize(limit);
    return LineStatus::kTooLong;
  }
  return LineStatus::kLine;
}

void TextFile::WriteText(const char* text, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (text[i] == '\n') out_.push_back('\r');
    out_.push_back(text[i]);
  }
  if (out_.size() >= kBufferSize) Flush();
}

void TextFile::Flush() {
  if (out_.empty() || !file_.IsOpen()) return;
  std::string pending;
  pending.swap(out_);
  file_.Write(pending.data(), pending.size());
}

void TextFile::Sync() {
  Flush();
  file_.Sync();
}

void TextFile::Close() {
  if (!file_.IsOpen()) return;
  try {
    Flush();
  } catch (...) {
    Abort();
    throw;
  }
  in_.clear();
  read_pos_ = 0;
  at_end_ = false;
  file_.Close();
}

void TextFile::Abort() noexcept {
  in_.clear();
  out_.clear();
  read_pos_ = 0;
  at_end_ = false;
  file_.Abort();
}

// ---------------------------------------------------------------- helpers

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void RemoveFile(const std::string& path) {
  if (::unlink(path.c_str()) != 0) throw FileException("cannot delete", path, errno);
}

}  // namespace vok
