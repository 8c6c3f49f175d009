#pragma once

// The controller's memory map as the loader sees it: one table that the
// reading, the component scan, the update's command file and the backup all
// take their addresses from, so that a change of the target is one edit here.
// It lives in image/ because that is the lowest folder those subsystems share.
// The simulated controller keeps its own copy on purpose (sim/controller.h);
// a test holds the two together.

#include <array>
#include <cstdint>

namespace vok {

// first..last, both included.
struct MemoryArea {
  uint32_t first;
  uint32_t last;

  constexpr uint32_t Length() const { return last - first + 1; }
  constexpr bool Contains(uint32_t address) const { return address >= first && address <= last; }
};

// The unit in which the update erases flash.
struct FlashSector {
  uint32_t start;
  uint32_t length;
};

// Every 4096-byte boundary from first up to, but not including, end.
struct ScanWindow {
  uint32_t first;
  uint32_t end;
  uint32_t step;
};

struct MemoryMap {
  MemoryArea ram;     // a command file may program it without an erase
  MemoryArea flash;
  MemoryArea loader;  // the loader's own flash, below the first sector: never erased
  std::array<FlashSector, 6> sectors;  // ascending, covering the flash above the loader
  ScanWindow scan;                     // where component headers are searched
  std::array<MemoryArea, 2> backup;    // what a backup saves, in the order written
  // Command-file chunks starting at or above this address that hold only
  // 0xFF are left out: the erase has made them so already.
  uint32_t erased_skip_from;

  // The sector that starts at start; null for any other address.
  constexpr const FlashSector* SectorAt(uint32_t start) const {
    for (const FlashSector& s : sectors)
      if (s.start == start) return &s;
    return nullptr;
  }
};

inline constexpr MemoryMap kMemoryMap = {
    /*ram=*/{0x10000, 0x3FFFF},
    /*flash=*/{0x80000, 0xFFFFF},
    /*loader=*/{0x80000, 0x83FFF},
    /*sectors=*/{{
        {0x84000, 0x2000},
        {0x86000, 0x2000},
        {0x88000, 0x18000},
        {0xA0000, 0x20000},
        {0xC0000, 0x20000},
        {0xE0000, 0x20000},
    }},
    /*scan=*/{0x80000, 0x100000, 0x1000},
    /*backup=*/{{{0x10000, 0x3FFFF}, {0x84000, 0xFFFFF}}},
    /*erased_skip_from=*/0x80000,
};

// What holds the table together: sectors back to back from the loader's end
// to the flash's end, the backup being RAM and the erasable flash.
constexpr bool SectorsTileFlash(const MemoryMap& m) {
  uint32_t next = m.loader.last + 1;
  for (const FlashSector& s : m.sectors) {
    if (s.start != next || s.length == 0) return false;
    next = s.start + s.length;
  }
  return next - 1 == m.flash.last && m.loader.first == m.flash.first;
}
static_assert(SectorsTileFlash(kMemoryMap));
static_assert(kMemoryMap.backup[0].first == kMemoryMap.ram.first &&
              kMemoryMap.backup[0].last == kMemoryMap.ram.last &&
              kMemoryMap.backup[1].first == kMemoryMap.sectors.front().start &&
              kMemoryMap.backup[1].last == kMemoryMap.flash.last);
static_assert(kMemoryMap.scan.first == kMemoryMap.flash.first &&
              kMemoryMap.scan.end - 1 == kMemoryMap.flash.last);

}  // namespace vok
