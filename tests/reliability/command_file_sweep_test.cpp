// Damaged and foreign command files under the marker: every variant of a
// real command file that must not be carried out is refused at Retry before
// the program connects, and Cancel would give it up. Built into both
// reliability binaries: the long one cuts the files at every byte.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "image/target_memory.h"
#include "reliability/scenario.h"
#include "update/command_file.h"

namespace vok::reliability {
namespace {

constexpr bool kLong = VOK_RELIABILITY_LONG != 0;

uint32_t Get32(const std::vector<uint8_t>& f, size_t at) {
  return uint32_t{f[at]} | uint32_t{f[at + 1]} << 8 | uint32_t{f[at + 2]} << 16 |
         uint32_t{f[at + 3]} << 24;
}

void Put32(std::vector<uint8_t>& f, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) f[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Where the erase entries and the records of a command file start.
struct Layout {
  std::vector<size_t> sectors, records;
  size_t program_section = 0;
};

Layout LayoutOf(const std::vector<uint8_t>& f) {
  Layout l;
  size_t at = 0;
  for (; Get32(f, at) != 0; at += 4) l.sectors.push_back(at);
  l.program_section = at + 4;
  for (at = l.program_section; at < f.size(); at += 6 + (f[at + 4] | f[at + 5] << 8))
    l.records.push_back(at);
  return l;
}

// Calls refuse(bytes) for every variant of the reference command file that
// must be refused, and cut(n) for every length it may be cut to with the
// same effect (the file is cut in place: no copy per point).
template <class Refuse, class Cut>
void ForEachVariant(const std::vector<uint8_t>& f, Refuse refuse, Cut cut) {
  const Layout l = LayoutOf(f);
  // Cut at every byte but where a complete file ends (after the terminator,
  // after a record); the short run takes a sample and the points around
  // every border. From the end down, so the file only ever shrinks.
  std::vector<bool> complete(f.size() + 1, false), border(f.size() + 1, false);
  complete[l.program_section] = border[l.program_section] = true;
  for (size_t r : l.records) {
    complete[r] = true;
    border[r - 1] = border[r + 1] = border[r + 5] = border[r + 6] = true;
  }
  for (size_t n = f.size(); n-- > 0;)
    if (!complete[n] && (kLong || n < 16 || border[n] || n % 97 == 0)) cut(n);
  // Every erase entry turned into a start that is no sector, or into
  // another sector: its own then stays unerased under the update's records.
  std::vector<uint32_t> foreign = {0x80000, 0x82000, 0x40000, 0x100000, 0xFFFFFFFF, 0x10000};
  for (const FlashSector& s : kMemoryMap.sectors) foreign.push_back(s.start);
  for (size_t e : l.sectors) {
    const uint32_t own = Get32(f, e);
    foreign.push_back(own + 0x1000);
    for (uint32_t v : foreign) {
      if (v == own) continue;
      std::vector<uint8_t> g = f;
      Put32(g, e, v);
      refuse(g);
    }
    foreign.pop_back();
  }
  // Every record moved into the loader's block, below RAM, across the end
  // of RAM and of the flash, beyond 32 bits; and given a length no writer
  // makes.
  for (size_t r : l.records) {
    const uint32_t n = f[r + 4] | f[r + 5] << 8;
    for (uint32_t v : {0x80000u, 0x83FF0u, 0x0u, 0xFF00u, 0x40000u - n / 2, 0x100000u - n / 2,
                       0xFFFFFFF0u}) {
      std::vector<uint8_t> g = f;
      Put32(g, r, v);
      refuse(g);
    }
    for (uint16_t bad : {uint16_t{0}, uint16_t{1025}, uint16_t{0xFFFF}}) {
      std::vector<uint8_t> g = f;
      g[r + 4] = static_cast<uint8_t>(bad);
      g[r + 5] = static_cast<uint8_t>(bad >> 8);
      refuse(g);
    }
  }
}

// The one-sector and the sector-boundary updates; the big one adds nothing
// to the structure but half a megabyte a variant.
TEST(VOK_SUITE, DamagedOrForeignCommandFilesSendNothing) {
  int variants = 0, refused = 0;
  for (const Reference& r : References()) {
    if (r.name == "holes_496k") continue;
    Scenario s(r);
    sim::Options cut = s.Power();
    cut.cut_after = 1;
    s.PowerOn(cut);
    ASSERT_EQ(s.Update(), 0) << r.name;
    ASSERT_TRUE(s.Pending()) << r.name;
    const std::string path = s.bench.paths.UpdateCmd();
    const std::vector<uint8_t> reference = test::ReadBytes(path);
    s.PowerOn(s.Power());
    const Memory before = s.Now();
    int here = 0;
    auto retry = [&](const char* what, size_t n) {
      ++variants;
      ++here;
      s.bench.ui.messages.clear();
      s.bench.ui.tones.clear();
      const int result = s.Update();
      const bool told = s.bench.ui.messages.size() == 2 &&
                        s.bench.ui.messages[1].text.rfind(
                            "The command file of the interrupted update is damaged: it", 0) == 0;
      const bool kept = s.Pending() && std::filesystem::file_size(path) == n;
      // What Cancel would decide on.
      const bool given_up = CheckCommandFile(path).state == CommandFileState::kDamaged;
      if (result == 0 && told && kept && given_up) {
        ++refused;
      } else {
        ADD_FAILURE() << r.name << ": " << what << " variant " << here << " of " << n << " bytes";
      }
    };
    ForEachVariant(
        reference,
        [&](const std::vector<uint8_t>& g) {
          test::WriteBytes(path, g);
          retry("changed", g.size());
        },
        [&, cut_from_whole = false](size_t n) mutable {
          if (!cut_from_whole) test::WriteBytes(path, reference);
          cut_from_whole = true;
          std::filesystem::resize_file(path, n);
          retry("cut", n);
        });
    // Not a byte reached the controller in all of them.
    EXPECT_EQ(s.bench.sim().stats().bytes_from_host, 0u) << r.name;
    EXPECT_TRUE(s.Now() == before) << r.name;
    std::printf("%s: %d damaged or foreign variants of a %zu-byte command file\n", r.name.c_str(),
                here, reference.size());
  }
  std::printf("%d of %d variants refused before connecting, nothing sent\n", refused, variants);
  EXPECT_EQ(refused, variants);
  EXPECT_GT(variants, 0);
}

}  // namespace
}  // namespace vok::reliability
