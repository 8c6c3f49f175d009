// Leaving alone what the target holds already: which loaders may decide it,
// what is erased and programmed, and that a plan with sectors left out
// resumes exactly.

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "update/procedure_bench.h"
#include "update/update_procedure.h"
#include "update/update_window_handlers.h"

namespace vok {
namespace {

using test::Pattern;
using test::ProcedureBench;

// Sectors 1 and 3 in part (the rest of both holds old bytes that must be
// kept), all of sector 2, and RAM.
std::vector<test::Record> Records(int changed_byte = -1) {
  std::vector<test::Record> r = {{0x84400, Pattern(0x300, 10)},
                                 {0x86000, Pattern(0x2000, 11)},
                                 {0x90000, Pattern(0x1800, 12)},
                                 {0x20000, Pattern(0x1200, 13)}};
  if (changed_byte >= 0) r[2].data[static_cast<size_t>(changed_byte)] ^= 0x5A;
  return r;
}

void OldMemory(sim::Simulator& s) {
  s.ClearMemory();
  s.WriteMemory(0x84000, Pattern(0x1000, 2));
  s.WriteMemory(0x9F800, Pattern(0x200, 5));
  s.WriteMemory(0x20000, Pattern(0x1200, 3));
}

std::vector<uint8_t> Memory(const sim::Simulator& s) {
  std::vector<uint8_t> m = s.ReadMemory(sim::kRamStart, sim::kRamSize);
  const std::vector<uint8_t> f = s.ReadMemory(sim::kFlashStart, sim::kFlashSize);
  m.insert(m.end(), f.begin(), f.end());
  return m;
}

// The memory an update from records over OldMemory leaves.
std::vector<uint8_t> Expected(const std::vector<test::Record>& records) {
  sim::Simulator s(ProcedureBench::DefaultOptions());
  OldMemory(s);
  for (const auto& r : records) s.WriteMemory(r.address, r.data);
  return Memory(s);
}

int Update(ProcedureBench& b, const std::vector<test::Record>& records, bool skip,
           UpdateSummary* summary = nullptr) {
  test::WriteUpdateFile(b.UpdateFile("u.sss"), "Skip\r\n", records);
  b.fields.file_name = b.UpdateFile("u.sss");
  b.options.skip_unchanged = skip;
  b.options.summary = summary;
  b.log.Clear();
  UpdateContext c = b.Update();
  return RunUpdate(c, b.fields, b.options);
}

bool Logged(const ProcedureBench& b, const std::string& line) {
  return std::find(b.log.lines.begin(), b.log.lines.end(), line) != b.log.lines.end();
}

TEST(UnchangedMemory, OnlyACrcLeavesAnythingAlone) {
  const std::string all_same =
      "3 of 3 sectors unchanged, not erased, 4608 of 4608 RAM bytes unchanged, not programmed";
  const std::string no_crc = "No CRC known for the loader's checksum: everything is written";
  struct Case {
    sim::LoaderSum sum;
    int changed_byte;  // in sector 3; -1: the same file again
    int erases;        // in the second run
    int64_t programmed;  // -1: as much as the first run
    std::string line;
  } cases[] = {
      {sim::LoaderSum::kCcittFalse, -1, 0, 0, all_same},
      {sim::LoaderSum::kXmodem, -1, 0, 0, all_same},
      // The sector's update data and the one chunk of kept bytes at 0x9F800.
      {sim::LoaderSum::kKermit, 0x17FF, 1, 0x1800 + 0x400,
       "2 of 3 sectors unchanged, not erased, 4608 of 4608 RAM bytes unchanged, not programmed"},
      {sim::LoaderSum::kSum16, -1, 3, -1, no_crc},
      {sim::LoaderSum::kOwn, 0x10, 3, -1, no_crc},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(static_cast<int>(k.sum));
    sim::Options o = ProcedureBench::DefaultOptions();
    o.checksum = k.sum;
    ProcedureBench b(o);
    OldMemory(b.sim());
    // The first run compares too: nothing agrees, the algorithm is found on
    // a first read, and everything is written.
    UpdateSummary first;
    ASSERT_EQ(Update(b, Records(), true, &first), 1) << testing::PrintToString(b.log.lines);
    EXPECT_EQ(first.sectors_erased, 3);
    EXPECT_EQ(first.sectors_unchanged, 0);
    ASSERT_TRUE(Memory(b.sim()) == Expected(Records()));

    const auto stats = b.sim().stats();
    UpdateSummary second;
    ASSERT_EQ(Update(b, Records(k.changed_byte), true, &second), 1)
        << testing::PrintToString(b.log.lines);
    EXPECT_TRUE(Logged(b, k.line)) << testing::PrintToString(b.log.lines);
    EXPECT_EQ(b.sim().stats().erases - stats.erases, static_cast<uint64_t>(k.erases));
    EXPECT_EQ(second.sectors_erased, k.erases);
    EXPECT_EQ(second.sectors_unchanged, k.line == no_crc ? 0 : 3 - k.erases);
    EXPECT_EQ(second.bytes_programmed,
              k.programmed < 0 ? first.bytes_programmed : static_cast<uint64_t>(k.programmed));
    EXPECT_TRUE(Memory(b.sim()) == Expected(Records(k.changed_byte)));
    if (k.erases == 0) {
      EXPECT_EQ(b.sim().stats().programs, stats.programs);
    }

    // The fast way off: every touched sector again, as ever.
    UpdateSummary all;
    ASSERT_EQ(Update(b, Records(k.changed_byte), false, &all), 1);
    EXPECT_EQ(all.sectors_erased, 3);
    EXPECT_FALSE(Logged(b, k.line));
  }
}

// The desktop window: the same file again is written whole unless
// SkipUnchanged=1 stands in [SETUP].
TEST(UnchangedMemory, TheWindowLeavesAloneOnlyWhenTheSettingsSaySo) {
  struct Field : TextField {
    std::string text;
    std::string Text() const override { return text; }
    void SetText(const std::string& t) override { text = t; }
  };
  for (const char* ini : {"", "[SETUP]\r\nSkipUnchanged=1\r\n"}) {
    SCOPED_TRACE(ini);
    ProcedureBench b;
    OldMemory(b.sim());
    ASSERT_EQ(Update(b, Records(), false), 1);
    test::WriteBytes(b.paths.Settings(), std::vector<uint8_t>(ini, ini + std::strlen(ini)));
    UpdateWindowHandlers window(b.link(), b.paths, b.ui, b.description);
    Field name;
    window.OnOpen(name, b.log, b.progress);
    name.text = b.UpdateFile("u.sss");
    const uint64_t erases = b.sim().stats().erases;
    ASSERT_EQ(window.RunUpdate(), 1);
    EXPECT_EQ(b.sim().stats().erases - erases, *ini ? 0u : 3u);
  }
}

// A one-byte change under the same old bytes: one sector erased, RAM left
// alone; a cut after any of its flash commands, then Retry, ends with the
// memory as the update meant it. Cancel carries the interrupted plan over
// unskipped: its sector is erased again although the file agrees there.
TEST(UnchangedMemory, APlanWithSectorsLeftOutResumesExactly) {
  const std::vector<test::Record> changed = Records(0x400);
  const std::vector<uint8_t> expected = Expected(changed);
  int commands = 0;
  {
    ProcedureBench b;
    OldMemory(b.sim());
    ASSERT_EQ(Update(b, Records(), false), 1);
    const int before = b.sim().FlashCommands();
    ASSERT_EQ(Update(b, changed, true), 1);
    commands = b.sim().FlashCommands() - before;
    ASSERT_EQ(b.sim().stats().erases, 4u);
  }
  for (int n = 1; n <= commands; ++n) {
    for (Answer answer : {Answer::Retry, Answer::Cancel}) {
      SCOPED_TRACE("cut after flash command " + std::to_string(n) +
                   (answer == Answer::Retry ? ", Retry" : ", Cancel"));
      ProcedureBench b;
      sim::Options o = ProcedureBench::DefaultOptions();
      o.state_file = b.dir.file("controller.state");
      b.Restart(o);
      OldMemory(b.sim());
      ASSERT_TRUE(b.sim().SaveState());
      ASSERT_EQ(Update(b, Records(), false), 1);
      sim::Options cut = o;
      cut.cut_after = n;
      b.Restart(cut);
      ASSERT_EQ(Update(b, changed, true), 0);
      b.Restart(o);
      b.ui.answers.push_back(answer);
      UpdateSummary summary;
      EXPECT_EQ(Update(b, changed, true, &summary), 1) << testing::PrintToString(b.log.lines);
      EXPECT_EQ(summary.sectors_erased, answer == Answer::Retry ? 1 : 3);
      EXPECT_TRUE(Memory(b.sim()) == expected);
      EXPECT_EQ(b.sim().stats().reads == 0, answer == Answer::Retry);
    }
  }
}

}  // namespace
}  // namespace vok
