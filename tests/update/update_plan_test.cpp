// The plan before the flash: what a dry run finds and that it sends no
// flash command; the components of a file against the target's; the
// warning of a real update that goes back to an older version. (info FILE's
// listing is held to info's in the command line's tests.)

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "target/scan.h"
#include "update/procedure_bench.h"
#include "update/update_plan.h"

namespace vok {
namespace {

using test::ProcedureBench;

sim::Options DemoFirmware() {
  sim::Options o = ProcedureBench::DefaultOptions();
  o.demo_firmware = true;
  return o;
}

// The demo firmware's flash with the kernel's header one version up, the
// motion control's one down and the service monitor renamed.
std::vector<test::Record> ChangedFirmware(const sim::Simulator& s) {
  std::vector<uint8_t> flash = s.ReadMemory(0x84000, 0x100000 - 0x84000);
  auto header = [&](uint32_t at) { return flash.begin() + (at - 0x84000); };
  header(0x88000)[17] += 1;  // 3.2.1 -> 3.2.2
  header(0xA0000)[15] -= 1;  // 2.0.7 -> 1.0.7
  header(0xC0000)[ComponentHeader::kNameOffset] = 'W';
  return {{0x84000, flash}};
}

TEST(UpdatePlan, ADryRunComparesAndListsButSendsNoFlashCommand) {
  ProcedureBench b(DemoFirmware());
  b.fields.baud_rate = 115200;
  test::WriteUpdateFile(b.UpdateFile("fw.sss"), "Firmware\r\n", ChangedFirmware(b.sim()));
  b.fields.file_name = b.UpdateFile("fw.sss");
  b.options.skip_unchanged = true;
  UpdateContext c = b.Update();
  UpdatePlan plan;
  ASSERT_EQ(PlanUpdateDryRun(c, b.fields, b.options, plan), 1) << testing::PrintToString(b.log.lines);
  EXPECT_EQ(b.sim().stats().erases + b.sim().stats().programs, 0u);
  EXPECT_FALSE(test::Exists(b.paths.UpdateCmd()) || test::Exists(b.paths.UpdateSem()));
  EXPECT_TRUE(b.ui.messages.empty());
  EXPECT_TRUE(plan.compared);
  EXPECT_EQ(plan.rate, 115200u);

  std::vector<std::pair<uint32_t, bool>> sectors;
  for (const SectorPlan& s : plan.sectors) sectors.emplace_back(s.start, s.unchanged);
  EXPECT_EQ(sectors, (std::vector<std::pair<uint32_t, bool>>{{0x84000, true}, {0x86000, true},
                                                              {0x88000, false}, {0xA0000, false},
                                                              {0xC0000, false}, {0xE0000, true}}));
  // The file covers the whole sector: nothing kept, all of it programmed.
  EXPECT_EQ(plan.sectors[2].kept, 0u);
  EXPECT_EQ(plan.sectors[2].programmed, 0x18000u);
  // Three sectors of 96 to 128 KiB at 115200: tens of seconds, not minutes.
  EXPECT_GT(plan.seconds, 30);
  EXPECT_LT(plan.seconds, 60);

  std::vector<std::string> changes;
  for (const ComponentChange& k : plan.components)
    changes.push_back(k.file.header.name + " " + VersionChangeName(k.change));
  EXPECT_EQ(changes, (std::vector<std::string>{
                         "System configuration unchanged", "VOK Kernel newer",
                         "VOK Parameter Set unchanged", "VOK Motion Control older",
                         "WOK Service Monitor new"}));

  // The real update says that it goes back, and goes on.
  ASSERT_EQ(RunUpdate(c, b.fields, b.options), 1) << testing::PrintToString(b.log.lines);
  ASSERT_EQ(b.ui.messages.size(), 1u);
  EXPECT_EQ(b.ui.messages[0].text,
            "VOK Motion Control V1.0.7 is older than V2.0.7 on the target: the update goes back to it");
  EXPECT_EQ(b.ui.messages[0].icon, Icon::Warning);
  EXPECT_EQ(b.sim().stats().erases, 3u);
}

}  // namespace
}  // namespace vok
