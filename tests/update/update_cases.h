#pragma once

// The update procedure's test bench: the old contents of the controller,
// the reference update, and an update interrupted by a power cut.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "update/procedure_bench.h"
#include "update/update_procedure.h"


namespace vok::update_cases {


using sim::kFlashSize;
using sim::kFlashStart;
using sim::kRamSize;
using sim::kRamStart;
using test::Exists;
using test::Pattern;
using test::ProcedureBench;
using test::ReadBytes;

// Old contents: all of RAM, the first 4 KiB of sector 1, a little of sector
// 2 (never touched) and two small blocks of sector 3; the rest erased.
inline void PrepareOldMemory(sim::Simulator& s) {
  s.ClearMemory();
  s.WriteMemory(kRamStart, Pattern(kRamSize, 1));
  s.WriteMemory(0x84000, Pattern(0x1000, 2));
  s.WriteMemory(0x86000, Pattern(0x100, 3));
  s.WriteMemory(0x88000, Pattern(0x400, 4));
  s.WriteMemory(0x9F800, Pattern(0x200, 5));
}

// Parts of sectors 1 and 3, and some RAM.
inline const std::vector<test::Record>& UpdateRecords() {
  static const std::vector<test::Record> records = {
      {0x84400, Pattern(0x300, 10)}, {0x90000, Pattern(0x500, 11)}, {0x20000, Pattern(0x200, 12)}};
  return records;
}

inline constexpr const char* kHeader = "Demo update V3.1\r\nfor the VOK System\r\n";

struct Memory {
  std::vector<uint8_t> ram, flash;
  bool operator==(const Memory&) const = default;
};

inline Memory Snapshot(const sim::Simulator& s) {
  return {s.ReadMemory(kRamStart, kRamSize), s.ReadMemory(kFlashStart, kFlashSize)};
}

// What the memory must hold after the update: the old contents with the
// file's data laid over them.
inline Memory Expected() {
  sim::Simulator s(ProcedureBench::DefaultOptions());
  PrepareOldMemory(s);
  for (const auto& r : UpdateRecords()) s.WriteMemory(r.address, r.data);
  return Snapshot(s);
}

inline std::string Hex8(uint32_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%08X", v);
  return b;
}

// Addresses of the program records of a command file.
inline std::vector<uint32_t> RecordAddresses(const std::vector<uint8_t>& f) {
  auto u32 = [&](size_t at) {
    return uint32_t{f[at]} | uint32_t{f[at + 1]} << 8 | uint32_t{f[at + 2]} << 16 |
           uint32_t{f[at + 3]} << 24;
  };
  size_t at = 0;
  while (u32(at) != 0) at += 4;
  at += 4;
  std::vector<uint32_t> out;
  while (at + 6 <= f.size()) {
    out.push_back(u32(at));
    at += 6 + (f[at + 4] | f[at + 5] << 8);
  }
  return out;
}

// Browse... chooses the update file of the standard case.
inline void Browse(ProcedureBench& b) {
  test::WriteUpdateFile(b.UpdateFile("new.sss"), kHeader, UpdateRecords());
  b.ui.file_choices.push_back(b.UpdateFile("new.sss"));
  UpdateContext c = b.Update();
  ASSERT_EQ(OnUpdateBrowse(c, b.fields, test::FixedTime()), 1);
}

// What count(bench) gives after an update from the old memory that nothing
// disturbed; -1 when that update failed.
template <class Count>
inline int CountInUndisturbedUpdate(Count count) {
  ProcedureBench b;
  PrepareOldMemory(b.sim());
  Browse(b);
  UpdateContext c = b.Update();
  if (OnUpdate(c, b.fields, b.options) != 1) return -1;
  return static_cast<int>(count(b));
}

inline std::vector<std::string> DescriptionLines() {
  return {std::string(70, '#'), "Update of VOK System on 05. Jan 2000 (10:20:30)",
          std::string(70, '#'), "Demo update V3.1", "for the VOK System"};
}

// A power cut after flash command cut_after leaves both files; returns the
// bench ready for the next "Update" on a controller that is on again.
inline void InterruptedUpdate(ProcedureBench& b, int cut_after = 5) {
  sim::Options o = ProcedureBench::DefaultOptions();
  o.state_file = b.dir.file("controller.state");
  sim::Options cut = o;
  cut.cut_after = cut_after;
  b.Restart(cut);
  PrepareOldMemory(b.sim());
  ASSERT_TRUE(b.sim().SaveState());
  Browse(b);
  UpdateContext c = b.Update();
  ASSERT_EQ(OnUpdate(c, b.fields, b.options), 0);
  ASSERT_TRUE(Exists(b.paths.UpdateSem()));
  b.Restart(o);
  b.ui.messages.clear();
  b.ui.tones.clear();
  b.log.Clear();
}

// A second update: sector 1, which the interrupted one erases as well, and
// sector 2, which it does not touch; sector 3 is the interrupted one's alone.
inline const std::vector<test::Record>& SecondRecords() {
  static const std::vector<test::Record> records = {{0x85000, Pattern(0x200, 40)},
                                                    {0x86800, Pattern(0x200, 41)}};
  return records;
}

}  // namespace vok::update_cases
