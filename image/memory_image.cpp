#include "image/memory_image.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>

#include "image/platform_io.h"

namespace vok {
namespace {

constexpr size_t kFillPiece = 4096;
constexpr uint64_t kCoalesce = 4 * kFillPiece;

}  // namespace

MemoryImage::~MemoryImage() { Remove(); }

void MemoryImage::Remove() noexcept {
  if (!open_) return;
  file_.Abort();
  open_ = false;
  // Delete only the file we made: if something else has been put in its
  // place since, it is not ours to remove.
  struct stat st;
  if (platform_io::LStat(full_path_.c_str(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_)
    ::unlink(full_path_.c_str());
}

int MemoryImage::Open(uint32_t base, const std::string& folder) {
  Remove();
  extent_start_ = 0;
  extent_length_ = 0;
  base_ = 0;

  std::error_code ec;
  std::filesystem::path path = folder.empty() ? std::filesystem::path(kFileName)
                                              : std::filesystem::path(folder) / kFileName;
  std::filesystem::path full = std::filesystem::absolute(path, ec);
  if (ec) return 1;
  full_path_ = full.lexically_normal().string();

  // Whatever has this name, a file or a link planted elsewhere, goes; the new
  // file is then created exclusively, so nothing is followed or written through.
  if (::unlink(full_path_.c_str()) != 0 && errno != ENOENT) return 1;
  int fd;
  do {
    fd = ::open(full_path_.c_str(),
                O_RDWR | O_CREAT | O_EXCL | platform_io::kNoFollow | platform_io::kPrivateBinary,
                0600);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return 1;
  struct stat st;
  if (platform_io::StatOpened(fd, full_path_.c_str(), &st) != 0) {
    ::close(fd);
    ::unlink(full_path_.c_str());
    return 1;
  }
  device_ = st.st_dev;
  inode_ = st.st_ino;
  file_.Adopt(fd, full_path_);
  open_ = true;
  base_ = base;
  return 0;
}

void MemoryImage::FillErased(uint64_t from, uint64_t to) {
  static const auto kErased = [] {
    std::array<uint8_t, kFillPiece> a;
    a.fill(0xFF);
    return a;
  }();
  while (from < to) {
    size_t piece = static_cast<size_t>(std::min<uint64_t>(kFillPiece, to - from));
    file_.WriteAt(from, kErased.data(), piece);
    bytes_written_ += piece;
    from += piece;
  }
}

int MemoryImage::Store(uint32_t address, const uint8_t* data, uint32_t length) {
  if (length == 0) return kStored;
  const uint64_t last = uint64_t{address} + length - 1;
  if (last > 0xFFFFFFFFu) return kOutside;
  if (last < base_ || last - base_ >= kImageSize) return kOutside;

  int result = kStored;
  uint32_t offset;
  if (address < base_) {
    uint32_t skip = base_ - address;
    data += skip;
    length -= skip;
    offset = 0;
    result = kOutside;
  } else {
    offset = address - base_;
  }
  if (!open_) return kFileError;

  const uint64_t old_start = extent_start_;
  const uint64_t old_end = uint64_t{extent_start_} + extent_length_;
  const uint64_t new_end = uint64_t{offset} + length;
  try {
    uint64_t fill_before = 0, fill_after = 0;
    if (extent_length_ == 0) {
      file_.SetLength(offset);
    } else {
      if (offset > old_end) fill_before = offset - old_end;
      if (new_end < old_start) fill_after = old_start - new_end;
    }
    if (fill_before + length + fill_after <= kCoalesce) {
      // Small pieces with their filler go out in one write: the update files
      // of other tools hold many short records with short gaps.
      scratch_.assign(static_cast<size_t>(fill_before), 0xFF);
      scratch_.insert(scratch_.end(), data, data + length);
      scratch_.resize(scratch_.size() + static_cast<size_t>(fill_after), 0xFF);
      file_.WriteAt(offset - fill_before, scratch_.data(), scratch_.size());
      bytes_written_ += scratch_.size();
    } else {
      FillErased(offset - fill_before, offset);
      file_.WriteAt(offset, data, length);
      bytes_written_ += length;
      FillErased(new_end, new_end + fill_after);
    }
  } catch (const FileException&) {
    // Cut off whatever a part-done write added, so the file still ends
    // with the extent; if even that fails, Fetch reads only the extent.
    try {
      file_.SetLength(extent_length_ != 0 ? old_end : 0);
    } catch (const FileException&) {
    }
    return kFileError;
  }

  if (extent_length_ == 0) {
    extent_start_ = offset;
    extent_length_ = length;
  } else {
    uint64_t start = std::min<uint64_t>(old_start, offset);
    uint64_t end = std::max<uint64_t>(old_end, new_end);
    extent_start_ = static_cast<uint32_t>(start);
    extent_length_ = static_cast<uint32_t>(end - start);
  }
  return result;
}

void MemoryImage::Fetch(uint32_t address, uint8_t* buffer, uint32_t length) {
  if (length == 0) return;  // a caller may pass no buffer for nothing
  std::memset(buffer, 0xFF, length);
  if (!open_ || extent_length_ == 0) return;
  const uint64_t first = uint64_t{base_} + extent_start_;
  const uint64_t stop = first + extent_length_;
  const uint64_t from = std::max<uint64_t>(address, first);
  const uint64_t to = std::min<uint64_t>(uint64_t{address} + length, stop);
  if (from >= to) return;
  // Fetch has no result: bytes that cannot be read stay 0xFF, and the error
  // is kept for callers that must not take them for erased flash.
  uint8_t* dst = buffer + (from - address);
  const size_t want = static_cast<size_t>(to - from);
  try {
    // The file always holds the whole extent; a short read means it was cut.
    if (file_.ReadAt(from - base_, dst, want) == want) return;
  } catch (const FileException&) {
    std::memset(dst, 0xFF, want);
  }
  read_error_ = true;
}

}  // namespace vok
