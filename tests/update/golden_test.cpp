// The files a user keeps or another run reads, byte for byte: the command
// file of an interrupted update, the update log, a backup. Kept as golden
// files (support/golden.h): a change of their format shows as a diff.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "backup/backup_procedure.h"
#include "procedure_bench.h"
#include "support/golden.h"
#include "update/update_procedure.h"

namespace vok::test {
namespace {

// A sector with bytes to keep, a record across a sector boundary and one in
// RAM; the first erase is the last command before the power goes.
TEST(GoldenFiles, CommandFileUpdateLogAndBackup) {
  sim::Options o = ProcedureBench::DefaultOptions();
  ProcedureBench b(o);
  b.options.image_folder.clear();
  b.sim().WriteMemory(0x86800, Pattern(0x40, 3));
  b.sim().WriteMemory(0x20000, Pattern(0x20, 4));
  o.state_file = b.dir.file("controller.state");
  sim::Options cut = o;
  cut.cut_after = 1;
  b.Restart(cut);
  b.sim().WriteMemory(0x86800, Pattern(0x40, 3));
  ASSERT_TRUE(b.sim().SaveState());
  WriteUpdateFile(b.UpdateFile("u.sss"), "Golden update 1.0",
                  {{0x85F80, Pattern(0x100, 7)}, {0x30000, Pattern(0x10, 8)}});
  b.ui.file_choices.push_back(b.UpdateFile("u.sss"));
  UpdateContext c = b.Update();
  ASSERT_EQ(OnUpdateBrowse(c, b.fields, FixedTime()), 1);
  ASSERT_EQ(OnUpdate(c, b.fields, b.options), 0);
  EXPECT_TRUE(MatchesGolden("UPDATE.CMD", test::ReadFile(b.paths.UpdateCmd())));

  b.Restart(o);
  b.ui.answers.push_back(Answer::Retry);
  UpdateContext resumed = b.Update();  // the restart made a new link
  ASSERT_EQ(OnUpdate(resumed, b.fields, b.options), 1);
  EXPECT_TRUE(MatchesGolden("UPDATE.LOG", test::ReadFile(b.paths.UpdateLog())));

  // A backup: its header records whole; of each area its first records and
  // its last with the terminator (the rest is the memory, 700 KiB of it).
  BackupFields fields{b.dir.file("BK.SSS"), 0, 38400};
  BackupContext k{b.link(), b.paths, b.ui, b.log, b.progress};
  ASSERT_EQ(OnBackup(k, fields, FixedTime()), 1);
  std::istringstream in(test::ReadFile(fields.file_name));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::string excerpt;
  for (size_t i = 0; i < lines.size(); ++i) {
    const bool edge = lines[i][1] == '0' || lines[i][1] == '8' || (i > 0 && lines[i - 1][1] != '2') ||
                      (i + 1 < lines.size() && lines[i + 1][1] != '2');
    if (edge || (i > 0 && lines[i - 1][1] == '0')) excerpt += lines[i] + "\n";
  }
  excerpt += std::to_string(lines.size()) + " lines\n";
  EXPECT_TRUE(MatchesGolden("backup_excerpt.txt", excerpt));
}

}  // namespace
}  // namespace vok::test
