#include <gtest/gtest.h>

#include <iterator>

#include "image/memory_map.h"
#include "sim/controller.h"

namespace vok {
namespace {

// The simulator stands for the controller and keeps its map apart from the
// loader's on purpose; a change to one of them must be a change to both.
TEST(MemoryMap, TheSimulatedControllerHasTheLoadersMap) {
  const MemoryMap& m = kMemoryMap;
  EXPECT_EQ(m.ram.first, sim::kRamStart);
  EXPECT_EQ(m.ram.last, sim::kRamEnd);
  EXPECT_EQ(m.flash.first, sim::kFlashStart);
  EXPECT_EQ(m.flash.last, sim::kFlashEnd);
  EXPECT_EQ(m.loader.last, sim::kLoaderEnd);
  ASSERT_EQ(m.sectors.size(), std::size(sim::kSectors));
  for (size_t i = 0; i < m.sectors.size(); ++i) {
    EXPECT_EQ(m.sectors[i].start, sim::kSectors[i].start) << i;
    EXPECT_EQ(m.sectors[i].length, sim::kSectors[i].length) << i;
  }
  EXPECT_EQ(m.SectorAt(0x88000), &m.sectors[2]);
  for (uint32_t none : {0x80000u, 0x84001u, 0x10000u, 0x100000u})
    EXPECT_EQ(m.SectorAt(none), nullptr) << std::hex << none;
}

}  // namespace
}  // namespace vok
