#pragma once

// The simulated VOK System controller: its memory, its target loader and its
// application, with the faults a test or a user may ask for. The line side
// (rates, frames, pacing) is driven by a runner: the pseudo-terminal program
// voksim, or InProcessPort for tests that run the whole stack in one process.

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vok::sim {

inline constexpr uint32_t kRamStart = 0x10000, kRamEnd = 0x3FFFF;
inline constexpr uint32_t kFlashStart = 0x80000, kFlashEnd = 0xFFFFF;
inline constexpr uint32_t kLoaderEnd = 0x83FFF;  // the loader's own flash: never erased

struct ComponentSpec {
  uint8_t type = 1;
  uint8_t version[3] = {1, 0, 0};
  std::string name;      // bytes, up to 42
  uint32_t start = 0;    // the header goes at the 4 KiB boundary given by header_at
  uint32_t length = 0;
  uint32_t header_at = 0;  // 0: at start - 0x1000... chosen by the builder
};

struct Options {
  uint32_t boot_rate = 9600;
  uint32_t max_rate = 0;          // 0: no limit
  bool app = false;               // start in the application
  bool busy = false;              // the application answers BUSY
  bool silent = false;            // answers nothing
  bool realtime = false;          // pace bytes and give flash work a duration
  bool demo_firmware = true;      // load the demo firmware when no image/state is given
  std::string image_file;         // S-record file to load memory from
  std::string state_file;         // load at start, save after every memory change
  std::vector<ComponentSpec> components;
  std::vector<std::string> bad_checksum;  // component names whose stamp is spoiled
  int cut_after = 0;              // N-th erase/program is done, then power is cut
  int tear = 0;                   // N-th erase/program is cut half way
  std::set<uint32_t> fail_erase;
  std::set<uint32_t> fail_program;
  std::set<uint32_t> ignore_program;  // reports success, programs nothing
  int corrupt_reply = 0;          // K-th reply goes out with a wrong checksum
  double noise = 0.0;             // per-byte loss/bit-flip probability
  uint64_t seed = 1;
  uint8_t loader_version[3] = {2, 1, 0};
};

}  // namespace vok::sim
