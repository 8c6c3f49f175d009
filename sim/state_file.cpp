// The state file: RAM and flash as they stand, behind a magic line, replaced
// in one step so that a killed simulator leaves the old state or the new.

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "sim/simulator.h"

namespace vok::sim {
namespace {

constexpr char kStateMagic[16] = {'V', 'O', 'K', 'S', 'I', 'M', '-', 'S',
                                  'T', 'A', 'T', 'E', '-', 'v', '1', '\n'};

}  // namespace

bool Simulator::SaveState() {
  if (options_.state_file.empty()) return true;
  const std::string tmp = options_.state_file + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out.write(kStateMagic, sizeof kStateMagic);
    out.write(reinterpret_cast<const char*>(ram_.data()), static_cast<std::streamsize>(ram_.size()));
    out.write(reinterpret_cast<const char*>(flash_.data()), static_cast<std::streamsize>(flash_.size()));
    out.close();
    if (!out) {
      std::error_code ec;
      std::filesystem::remove(tmp, ec);
      std::cerr << "voksim: " << options_.state_file << ": state cannot be saved\n";
      return false;
    }
  }
  // The rename replaces the old state in one step: a kill leaves either.
  std::error_code ec;
  std::filesystem::rename(tmp, options_.state_file, ec);
  if (ec) {
    std::cerr << "voksim: " << options_.state_file << ": state cannot be saved\n";
    return false;
  }
  return true;
}

bool Simulator::LoadState(const std::string& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": cannot be read";
    return false;
  }
  char magic[sizeof kStateMagic];
  std::vector<uint8_t> ram(kRamSize), flash(kFlashSize);
  in.read(magic, sizeof magic);
  in.read(reinterpret_cast<char*>(ram.data()), static_cast<std::streamsize>(ram.size()));
  in.read(reinterpret_cast<char*>(flash.data()), static_cast<std::streamsize>(flash.size()));
  if (!in || std::memcmp(magic, kStateMagic, sizeof magic) != 0 || in.peek() != EOF) {
    error = path + ": not a voksim state file";
    return false;
  }
  ram_ = std::move(ram);
  flash_ = std::move(flash);
  return true;
}

}  // namespace vok::sim
