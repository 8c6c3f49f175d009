#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// SHA-256, for the production record's fingerprint of an update file.
namespace vok::cli {

class Sha256 {
 public:
  Sha256();
  void Add(const uint8_t* bytes, size_t n);
  // The digest as 64 lower-case hex digits; the object is spent after it.
  std::string HexDigest();

 private:
  void Block(const uint8_t* block);
  uint32_t h_[8];
  uint8_t buffer_[64];
  size_t buffered_ = 0;
  uint64_t length_ = 0;  // bytes
};

// The digest of a file's contents; empty when it cannot be read.
std::string FileSha256(const std::string& path);

}  // namespace vok::cli
