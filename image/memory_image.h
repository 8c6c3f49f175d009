#pragma once

// A sparse image of target memory kept in a temporary file, not in memory.
// Bytes never stored read as 0xFF, the value of erased flash.

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "image/file.h"

namespace vok {

class MemoryImage {
 public:
  static constexpr const char* kFileName = "memimage.tmp";
  static constexpr uint32_t kImageSize = 0x1000000;  // offsets 0 to 0xFFFFFF
  // Results of Store.
  static constexpr int kStored = 0;
  static constexpr int kOutside = 2;
  static constexpr int kFileError = 3;

  MemoryImage() = default;
  // Closes the file and deletes it by the full path taken at creation.
  virtual ~MemoryImage();
  MemoryImage(const MemoryImage&) = delete;
  MemoryImage& operator=(const MemoryImage&) = delete;

  // Creates "memimage.tmp" in folder (the current directory when empty),
  // replacing whatever stands there under that name without following or
  // writing through it. 0 on success, 1 on failure.
  int Open(uint32_t base, const std::string& folder = std::string());
  // 0 stored; 2 outside the image (the part inside, if any, is stored);
  // 3 file error, with the extent as it was.
  int Store(uint32_t address, const uint8_t* data, uint32_t length);
  // Never fails: whatever cannot be read reads as 0xFF.
  void Fetch(uint32_t address, uint8_t* buffer, uint32_t length);

  // True when all of the span lies inside the image, so that a Store of it
  // can only fail by a file error.
  bool Holds(uint32_t address, uint32_t length) const {
    uint64_t last = uint64_t{address} + length - 1;
    return length == 0 || (address >= base_ && last - base_ < kImageSize);
  }
  bool IsOpen() const { return open_; }
  uint32_t GetBase() const { return base_; }
  uint32_t GetExtentStart() const { return extent_start_; }
  uint32_t GetExtentLength() const { return extent_length_; }
  const std::string& GetFilePath() const { return full_path_; }
  // True once a Fetch met a file error: the bytes it gave as 0xFF were not
  // read, so what was built from them must not go to the target.
  bool HadReadError() const { return read_error_; }
  // Bytes written to the file so far, filler included: what loading an
  // update file costs, whatever the order of its records.
  uint64_t GetBytesWritten() const { return bytes_written_; }

 private:
  void FillErased(uint64_t from, uint64_t to);
  void Remove() noexcept;

  File file_;
  uint32_t base_ = 0;
  uint32_t extent_start_ = 0;
  uint32_t extent_length_ = 0;
  bool open_ = false;
  bool read_error_ = false;
  uint64_t bytes_written_ = 0;
  std::string full_path_;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  std::vector<uint8_t> scratch_;
};

}  // namespace vok
