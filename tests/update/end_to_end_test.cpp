// The update and the backup over a real serial line: voksim in a process of
// its own on a pseudo-terminal, the platform's serial port on this side.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "backup/backup_procedure.h"
#include "image/memory_image.h"
#include "image/memory_range.h"
#include "image/update_file.h"
#include "link/loader_link.h"
#include "sim/simulator.h"
#include "support/recorders.h"
#include "support/temp_dir.h"
#include "support/voksim_process.h"
#include "update/procedure_bench.h"
#include "update/update_procedure.h"

namespace vok {
namespace {

TEST(UpdateEndToEnd, UpdateThenBackupOverAPseudoTerminal) {
  test::TempDir dir;
  AppPaths paths{dir.folder()};
  CreateWorkFolders(paths);
  const std::string state = dir.file("controller.state");
  const std::vector<uint8_t> ram = test::Pattern(0x300, 4), flash = test::Pattern(0x500, 6);
  test::WriteUpdateFile(dir.file("new.sss"), "End to end\r\n", {{0x20000, ram}, {0x88100, flash}});

  test::VoksimProcess voksim({"--state", state});
  ASSERT_TRUE(voksim.started());
  LoaderLink link;
  link.SetPortTable({{"COM1", voksim.device()}});
  test::ScriptedUi ui;
  test::RecordingLog log;
  test::RecordingProgress progress;
  UpdateDescription description;

  UpdateContext update{link, paths, ui, log, progress, description};
  UpdateFields fields{dir.file("new.sss"), 0, 115200};
  UpdateOptions options;
  options.image_folder = dir.folder();
  ASSERT_EQ(RunUpdate(update, fields, options), 1) << testing::PrintToString(log.lines);
  EXPECT_EQ(log.lines.back(), "Update of target memory succeeded");
  EXPECT_EQ(log.lines[log.lines.size() - 2], "Confirmed by loader checksum CRC-16/CCITT-FALSE");

  BackupContext backup{link, paths, ui, log, progress};
  BackupFields backup_fields{DefaultBackupFileName(paths, test::FixedTime()), 0, 115200};
  ASSERT_EQ(RunBackup(backup, backup_fields, test::FixedTime()), 1)
      << testing::PrintToString(log.lines);
  EXPECT_TRUE(ui.messages.empty());
  ASSERT_EQ(voksim.Stop(), 0);

  // The controller's memory as it saved it, and the backup of it.
  sim::Options o;
  o.state_file = state;
  sim::Simulator after(o);
  ASSERT_EQ(after.StartError(), "");
  EXPECT_EQ(after.ReadMemory(0x20000, ram.size()), ram);
  EXPECT_EQ(after.ReadMemory(0x88100, flash.size()), flash);

  // Loading the backup into a fresh image gives that memory back.
  MemoryImage image;
  ASSERT_EQ(image.Open(0, dir.folder()), 0);
  MemoryRangeList ranges;
  ASSERT_EQ(LoadUpdateFile(backup_fields.file_name, image, ranges, ui), 1);
  std::vector<uint8_t> bytes(0x7C000);
  image.Fetch(0x84000, bytes.data(), static_cast<uint32_t>(bytes.size()));
  EXPECT_TRUE(bytes == after.ReadMemory(0x84000, 0x7C000));
  bytes.resize(0x30000);
  image.Fetch(0x10000, bytes.data(), static_cast<uint32_t>(bytes.size()));
  EXPECT_TRUE(bytes == after.ReadMemory(0x10000, 0x30000));
}

}  // namespace
}  // namespace vok
