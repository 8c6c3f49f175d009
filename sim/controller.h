#pragma once

// The simulated VOK System controller: the memory map and the options that
// shape a run (its firmware, its line and the faults a test or a user asks
// for). The controller itself is vok::sim::Simulator (sim/simulator.h).

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace vok::sim {

inline constexpr uint32_t kRamStart = 0x10000, kRamEnd = 0x3FFFF;
inline constexpr uint32_t kFlashStart = 0x80000, kFlashEnd = 0xFFFFF;
inline constexpr uint32_t kLoaderEnd = 0x83FFF;  // the loader's own flash: never erased
inline constexpr uint32_t kRamSize = kRamEnd - kRamStart + 1;
inline constexpr uint32_t kFlashSize = kFlashEnd - kFlashStart + 1;

struct Sector {
  uint32_t start;
  uint32_t length;
};
// The erasable flash sectors; everything else in flash is the loader's.
inline constexpr Sector kSectors[6] = {
    {0x84000, 0x2000}, {0x86000, 0x2000}, {0x88000, 0x18000},
    {0xA0000, 0x20000}, {0xC0000, 0x20000}, {0xE0000, 0x20000},
};

inline constexpr uint32_t kHeaderMagic = 0xAA5555AA;
inline constexpr uint32_t kHeaderSize = 64;
inline constexpr uint32_t kNameSize = 42;

struct ComponentLayout {
  uint8_t type = 1;
  uint8_t version[3] = {1, 0, 0};
  std::string name;        // bytes, up to 42
  uint32_t start = 0;      // first byte of the component's data
  uint32_t length = 0;
  // Where the 64-byte header goes: a 4 KiB boundary in flash. 0 picks the
  // last boundary whose header still ends at or before start.
  uint32_t header_at = 0;
};

// The first byte of a negotiation packet and of its reply.
enum Negotiation : uint8_t {
  kNegProbe = 1,
  kNegRate = 3,
};

// The first byte of a loader command and of its reply.
enum Command : uint8_t {
  kCmdVersion = 1,
  kCmdRead = 2,
  kCmdProgram = 3,
  kCmdErase = 4,
  kCmdChecksum = 5,
  kCmdStartApplication = 6,
};

// The algorithm of the checksum command (kCmdChecksum) and of the component
// stamps.
// kOwn is this loader's own, which no catalogue of checksums holds.
enum class LoaderSum {
  kCcittFalse, kXmodem, kKermit, kModbus, kSum16, kOnesSum16, kInternet16, kFletcher16, kOwn
};

// The bytes the checksum command covers against the range asked for: a
// loader off by one byte at one end. The component stamps are made the
// same way, as a loader that checks its components with its own routine
// would have them.
enum class ChecksumSkew {
  kExact,
  kStartEarly,  // one byte before the start as well
  kStartLate,   // without the first byte
  kEndLate,     // one byte past the end as well
  kEndEarly,    // without the last byte
};

// How --damage-program and --damage-read spoil data so that the frame's XOR
// still matches.
enum class DamageKind {
  kXor,       // the same bit flipped in two bytes
  kSumBlind,  // a bit moved between two bytes two apart: sums miss it too
};

struct Options {
  uint32_t boot_rate = 9600;
  uint32_t max_rate = 0;          // 0: no limit
  bool app = false;               // start in the application
  bool busy = false;              // the application answers BUSY
  bool silent = false;            // answers nothing
  bool realtime = false;          // pace bytes and give flash work a duration
  // A USB adapter's latency timer: a reply shorter than one of its packets
  // (62 bytes) reaches the host only this many ms after it began. 0: none.
  uint32_t latency_ms = 0;
  bool demo_firmware = true;      // load the demo firmware when no image/state is given
  std::string image_file;         // S-record file to load memory from
  std::string state_file;         // load at start, save after every memory change
  std::string trace_file;         // one line per frame in either direction
  std::vector<ComponentLayout> components;
  std::vector<std::string> bad_checksum;  // component names whose stamp is spoiled
  int cut_after = 0;              // N-th erase/program is done, then power is cut
  int tear = 0;                   // N-th erase/program is cut half way, then power is cut
  std::set<uint32_t> fail_erase;      // erase at this sector start reports failure
  std::set<uint32_t> fail_program;    // a record holding this address reports failure
  std::set<uint32_t> ignore_program;  // a record holding this address: success, nothing programmed
  // The first erase of the sector that holds partial_erase reports success
  // but leaves partial_erase_length bytes from there (0: up to the sector's
  // end) as they were. 0: no such fault.
  uint32_t partial_erase = 0;
  uint32_t partial_erase_length = 0;
  int corrupt_reply = 0;          // K-th framed reply goes out with a wrong checksum
  // The data of the N-th program request, or of the N-th read reply that
  // carries data, arrive with one bit flipped in two bytes: the frame's XOR
  // still matches. Only data of two bytes or more.
  int damage_program = 0;
  int damage_read = 0;
  DamageKind damage = DamageKind::kXor;
  LoaderSum checksum = LoaderSum::kCcittFalse;
  ChecksumSkew checksum_skew = ChecksumSkew::kExact;
  double noise = 0.0;             // per-byte loss/bit-flip probability
  uint64_t seed = 1;
  uint8_t loader_version[3] = {2, 1, 0};
};

}  // namespace vok::sim
