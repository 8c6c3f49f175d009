#pragma once

// A scratch folder for one fuzzer process, in memory when /dev/shm exists,
// removed at exit.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace vok::fuzz {

inline const std::string& ScratchFolder() {
  static const std::string folder = [] {
    std::string base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
    std::string templ = base + "/vokfuzz.XXXXXX";
    if (::mkdtemp(templ.data()) == nullptr) std::abort();
    static std::string remove_me = templ;
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(remove_me, ec);
    });
    return templ + "/";
  }();
  return folder;
}

inline void WriteWhole(const std::string& path, const uint8_t* data, size_t n) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (n != 0 && std::fwrite(data, 1, n, f) != n) std::abort();
  std::fclose(f);
}

}  // namespace vok::fuzz
