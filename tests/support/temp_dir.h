#pragma once

#include <filesystem>
#include <string>

namespace vok::test {

// A fresh folder under the system's temporary directory, removed with its
// contents when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The folder as the procedures take it: with a trailing separator.
  std::string folder() const {
    return path_.string() + static_cast<char>(std::filesystem::path::preferred_separator);
  }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace vok::test
