#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/folder_lock.h"
#include "backup/backup_procedure.h"
#include "target/connect.h"
#include "target/scan.h"
#include "update/procedure_bench.h"
#include "update/update_procedure.h"

namespace vok {
namespace {

namespace fs = std::filesystem;
using test::Exists;
using test::Pattern;
using test::ProcedureBench;
using test::ReadBytes;

BackupContext Backup(ProcedureBench& b) { return {b.link(), b.paths, b.ui, b.log, b.progress}; }

// What a backup file holds, read line by line.
struct BackupFile {
  std::string header;
  struct Area {
    uint32_t first = 0;
    std::vector<uint8_t> bytes;
    size_t records = 0;
    std::string terminator;
  };
  std::vector<Area> areas;
  bool crlf = true;
};

uint8_t Hex(const std::string& s, size_t at) {
  return static_cast<uint8_t>(std::stoi(s.substr(at, 2), nullptr, 16));
}

BackupFile ParseBackup(const std::string& path) {
  BackupFile f;
  std::string all = test::ReadFile(path);
  BackupFile::Area area;
  bool in_area = false;
  size_t at = 0;
  while (at < all.size()) {
    size_t end = all.find('\n', at);
    if (end == std::string::npos || end == at || all[end - 1] != '\r') {
      f.crlf = false;
      break;
    }
    std::string line = all.substr(at, end - 1 - at);
    at = end + 1;
    const size_t count = Hex(line, 2);
    if (line[1] == '0') {
      for (size_t i = 0; i + 3 < count; ++i) f.header.push_back(static_cast<char>(Hex(line, 8 + 2 * i)));
    } else if (line[1] == '2') {
      uint32_t address = uint32_t{Hex(line, 4)} << 16 | uint32_t{Hex(line, 6)} << 8 | Hex(line, 8);
      if (!in_area) {
        area = {};
        area.first = address;
        in_area = true;
      }
      EXPECT_EQ(address, area.first + area.bytes.size());
      for (size_t i = 0; i + 4 < count; ++i) area.bytes.push_back(Hex(line, 10 + 2 * i));
      ++area.records;
    } else {
      area.terminator = line;
      f.areas.push_back(area);
      in_area = false;
    }
  }
  return f;
}

// The folder holds exactly these names: nothing staged is left behind.
std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> out;
  for (const auto& e : fs::directory_iterator(folder)) out.insert(e.path().filename().string());
  return out;
}

// Demo firmware plus enough components with long names that the listing
// runs well past a thousand characters.
ProcedureBench FirmwareBench(test::MutingPort::Trigger mute = nullptr) {
  sim::Options o;
  for (int i = 0; i < 24; ++i) {
    sim::ComponentSpec c;
    c.type = static_cast<uint8_t>(20 + i);
    c.version[0] = 4;
    c.version[1] = static_cast<uint8_t>(i);
    char name[48];
    std::snprintf(name, sizeof name, "Measurement channel %02d with long name", i);
    c.name = name;
    c.header_at = 0xE8000 + static_cast<uint32_t>(i) * 0x1000;
    c.start = c.header_at + 0x40;
    c.length = 0x80;
    o.components.push_back(c);
  }
  return ProcedureBench(o, std::move(mute));
}

std::string Listing(ProcedureBench& b) {
  test::ScriptedUi ui;
  EXPECT_EQ(ConnectTarget(b.link(), b.paths, ui, 0, 38400, nullptr, 1), 1);
  std::string listing = ScanComponents(b.link(), ui, nullptr);
  DisconnectTarget(b.link());
  return listing;
}

TEST(Backup, DefaultFileNameIsTheDayBeneathBackup) {
#ifdef _WIN32
  const std::string folder = "C:\\vok\\", sep = "\\";
#else
  const std::string folder = "/srv/vok/", sep = "/";
#endif
  AppPaths paths{folder};
  EXPECT_EQ(DefaultBackupFileName(paths, test::FixedTime()), folder + "BACKUP" + sep + "BK000105.SSS");
  std::tm t = test::FixedTime();
  t.tm_year = 126;
  t.tm_mon = 11;
  t.tm_mday = 31;
  EXPECT_EQ(DefaultBackupFileName(paths, t), folder + "BACKUP" + sep + "BK261231.SSS");

  ProcedureBench b;
  BackupFields fields{"unchanged", 0, 38400};
  BackupContext c = Backup(b);
  EXPECT_EQ(OnBackupBrowse(c, fields), 0);
  EXPECT_EQ(fields.file_name, "unchanged");
  b.ui.file_choices.push_back(b.dir.file("BACKUP/new.sss"));
  EXPECT_EQ(OnBackupBrowse(c, fields), 1);
  EXPECT_EQ(fields.file_name, b.dir.file("BACKUP/new.sss"));
  const FileDialogRequest& r = b.ui.file_requests.at(1);
  EXPECT_EQ(r.title, "Select Backup File");
  EXPECT_EQ(r.filter, "Backup File (*.sss) | *.sss||");
  EXPECT_EQ(r.default_ext, "sss");
  EXPECT_EQ(r.initial_folder, b.paths.BackupDir());
  EXPECT_FALSE(r.must_exist);
}

TEST(Backup, FileHoldsRamAndFlashByteForByteAndRestoresAsAnUpdate) {
  ProcedureBench b = FirmwareBench();
  b.sim().WriteMemory(sim::kRamStart, Pattern(sim::kRamSize, 5));
  const std::string listing = Listing(b);
  ASSERT_GT(listing.size(), 1000u);
  const std::vector<uint8_t> ram = b.sim().ReadMemory(0x10000, 0x30000);
  const std::vector<uint8_t> flash = b.sim().ReadMemory(0x84000, 0x7C000);

  BackupFields fields{DefaultBackupFileName(b.paths, test::FixedTime()), 0, 38400};
  BackupContext c = Backup(b);
  ASSERT_EQ(OnBackup(c, fields, test::FixedTime()), 1);
  EXPECT_TRUE(b.ui.messages.empty());  // a new name asks nothing

  const std::string description =
      " \r\nBackup of VOK System of 05. Jan 2000 (10:20:30)\r\n" + listing;
  BackupFile f = ParseBackup(fields.file_name);
  EXPECT_TRUE(f.crlf);
  EXPECT_EQ(f.header, description);
  ASSERT_EQ(f.areas.size(), 2u);
  EXPECT_EQ(f.areas[0].first, 0x10000u);
  EXPECT_EQ(f.areas[0].records, 3072u);
  EXPECT_TRUE(f.areas[0].bytes == ram);
  EXPECT_EQ(f.areas[0].terminator, "S804000000FB");
  EXPECT_EQ(f.areas[1].first, 0x84000u);
  EXPECT_EQ(f.areas[1].records, 7936u);
  EXPECT_TRUE(f.areas[1].bytes == flash);
  EXPECT_EQ(f.areas[1].terminator, "S804000000FB");
  EXPECT_EQ(test::ReadFile(b.paths.BackupLog()), description);
  EXPECT_EQ(Names(b.paths.BackupDir()), (std::set<std::string>{"BK000105.SSS", "BACKUP.LOG"}));

  std::vector<std::string> lines = {"Connecting to target loader passed",
                                    "Reading target information passed", " ",
                                    "Backup of VOK System of 05. Jan 2000 (10:20:30)"};
  test::RecordingLog listed;
  ShowTextInLog(listed, listing);
  lines.insert(lines.end(), listed.lines.begin(), listed.lines.end());
  for (const char* l : {"Creating backup file passed", "Backup of target RAM memory passed",
                        "Backup of target flash memory passed", "Closing backup file passed",
                        "Confirmed by loader checksum CRC-16/CCITT-FALSE",
                        "Backup of target memory successful"})
    lines.push_back(l);
  EXPECT_EQ(b.log.lines, lines);
  EXPECT_EQ(b.ui.tones.size(), 12u);
  EXPECT_EQ(b.ui.wait_depth, 0);
  EXPECT_FALSE(b.link().IsOpen());

  // Spoil flash and RAM, then load the backup as an update file.
  b.sim().WriteMemory(0x84000, Pattern(0x100, 9));
  b.sim().WriteMemory(0xA0000, std::vector<uint8_t>(0x20000, 0x00));
  b.sim().WriteMemory(0xE8040, std::vector<uint8_t>(0x80, 0xFF));
  b.sim().WriteMemory(0x20000, std::vector<uint8_t>(0x1000, 0xFF));
  b.ui.file_choices.push_back(fields.file_name);
  UpdateContext u = b.Update();
  ASSERT_EQ(OnUpdateBrowse(u, b.fields, test::FixedTime()), 1);
  // The update window shows the backup's own description below the banner.
  ASSERT_GE(b.log.lines.size(), 5u);
  EXPECT_EQ(b.log.lines[3], " ");
  EXPECT_EQ(b.log.lines[4], "Backup of VOK System of 05. Jan 2000 (10:20:30)");
  ASSERT_EQ(OnUpdate(u, b.fields, b.options), 1);
  EXPECT_TRUE(b.sim().ReadMemory(0x84000, 0x7C000) == flash);
  EXPECT_TRUE(b.sim().ReadMemory(0x10000, 0x30000) == ram);
  EXPECT_EQ(b.sim().stats().erases, 6u);
}

TEST(Backup, OverwriteAnsweredNoChangesNothing) {
  ProcedureBench b;
  const std::string name = b.dir.file("BACKUP/old.sss");
  test::WriteFile(name, "old");
  b.log.AddLine("from before");
  BackupFields fields{name, 0, 38400};
  b.ui.answers.push_back(Answer::No);
  BackupContext c = Backup(b);
  EXPECT_EQ(OnBackup(c, fields, test::FixedTime()), 0);
  ASSERT_EQ(b.ui.messages.size(), 1u);
  EXPECT_EQ(b.ui.messages[0].text, "File already exists. Overwrite?");
  EXPECT_EQ(b.ui.messages[0].buttons, Buttons::YesNo);
  EXPECT_EQ(b.ui.messages[0].title, "VOK Loader");
  EXPECT_EQ(test::ReadFile(name), "old");
  EXPECT_FALSE(Exists(b.paths.BackupLog()));
  EXPECT_TRUE(b.ui.tones.empty());
  EXPECT_TRUE(b.log.lines.empty());  // cleared before the question
  EXPECT_EQ(b.ui.wait_count, 0);
}

// Every failure leaves a previous backup of that name as it was, and no
// staged file beside it.
class BackupFailure : public ::testing::Test {
 protected:
  void Expect(ProcedureBench& b, const std::string& name, const std::string& failed_line) {
    EXPECT_EQ(test::ReadFile(name), "previous backup");
    EXPECT_EQ(Names(b.paths.BackupDir()), (std::set<std::string>{"old.sss", "BACKUP.LOG"}));
    EXPECT_NE(std::find(b.log.lines.begin(), b.log.lines.end(), failed_line), b.log.lines.end())
        << failed_line;
    EXPECT_EQ(b.log.lines.back(), "#### Backup of target memory failed ####");
    EXPECT_EQ(b.ui.tones.size(), 12u);
    EXPECT_FALSE(b.link().IsOpen());
  }
  int Run(ProcedureBench& b, std::string& name) {
    name = b.dir.file("BACKUP/old.sss");
    test::WriteFile(name, "previous backup");
    BackupFields fields{name, 0, 38400};
    b.ui.answers.push_back(Answer::Yes);
    BackupContext c = Backup(b);
    return OnBackup(c, fields, test::FixedTime());
  }
};

TEST_F(BackupFailure, ConnectionFails) {
  sim::Options silent = ProcedureBench::DefaultOptions();
  silent.silent = true;
  ProcedureBench b(silent);
  std::string name;
  EXPECT_EQ(Run(b, name), 0);
  EXPECT_EQ(b.log.lines, (std::vector<std::string>{"Connecting to target loader failed", "",
                                                   "#### Backup of target memory failed ####"}));
  EXPECT_EQ(b.ui.MessageTexts(), (std::vector<std::string>{"File already exists. Overwrite?",
                                                           "Cannot connect to target loader!"}));
  Expect(b, name, "Connecting to target loader failed");
  EXPECT_TRUE(ReadBytes(b.paths.BackupLog()).empty());
}

TEST_F(BackupFailure, TargetFallsSilentDuringTheFlashArea) {
  ProcedureBench b(ProcedureBench::DefaultOptions(), [](uint8_t command, uint32_t address) {
    return command == test::kReadCommand && address == 0x90400;
  });
  std::string name;
  EXPECT_EQ(Run(b, name), 0);
  EXPECT_EQ(b.ui.MessageTexts().back(), "Reading target memory failed (-3001) !");
  Expect(b, name, "Backup of target flash memory failed");
  EXPECT_EQ(b.log.lines[b.log.lines.size() - 4], "Backup of target RAM memory passed");
  // Blank memory offers no sample of mixed bytes to tell the loader's
  // checksum by: each piece is read twice.
  EXPECT_EQ(b.log.lines[b.log.lines.size() - 2], "Confirmed by reading");
  // The description of the attempt is logged all the same.
  EXPECT_EQ(test::ReadFile(b.paths.BackupLog()).substr(0, 27), " \r\nBackup of VOK System of ");
}

TEST_F(BackupFailure, StopAskedForDuringTheRamArea) {
  ProcedureBench b;
  // 128 looks while scanning for components, then one per piece read.
  b.ui.stop_after = 128 + 40;
  std::string name;
  EXPECT_EQ(Run(b, name), 0);
  EXPECT_EQ(b.ui.MessageTexts(), std::vector<std::string>{"File already exists. Overwrite?"});
  Expect(b, name, "Backup of target RAM memory failed");
}

// Only folders that bear the staging mark are the program's own: a user's
// folder of a name alike, or one whose mark is not the program's, stays.
TEST(Backup, StagingFoldersLeftByACrashGoWithTheNextBackup) {
  ProcedureBench b;
  const std::string dir = b.paths.BackupDir() + "/";
  const std::string mark = "VOKLOAD-STAGING.MRK";
  auto make = [&](const std::string& folder, const std::string& file, const std::string& marked) {
    fs::create_directory(dir + folder);
    if (!file.empty()) test::WriteBytes(dir + folder + "/" + file, {'S', '0'});
    if (!marked.empty())
      test::WriteFile(dir + folder + "/" + mark, marked);
  };
  auto own = [](const std::string& name) {
    return "VOK Loader staging folder of the backup file " + name + "\n";
  };
  make(".old.sss.a1B2c3", "old.sss", own("old.sss"));           // killed while writing
  make(".BK000105.SSS.zz9zz9", "", own("BK000105.SSS"));        // killed before its file was made
  make(".live.sss.q1w2e3", "live.sss", own("live.sss"));        // a backup that still runs
  make(".notes.keepme", "other", "");                           // not a staging folder's name
  make(".X.abc123", "X", "");                                   // a user's, named alike
  make(".Y.abc123", "Y", own("X"));                             // a mark of another name
  make(".Z.abc123", "Z", own("Z") + "more");                    // a mark with more in it
  FolderLock live;
  ASSERT_EQ(live.Acquire(dir + ".live.sss.q1w2e3/"), FolderLock::Result::kLocked);

  BackupFields fields{dir + "new.sss", 0, 38400};
  BackupContext c = Backup(b);
  EXPECT_EQ(OnBackup(c, fields, test::FixedTime()), 1);
  EXPECT_EQ(Names(dir), (std::set<std::string>{"new.sss", "BACKUP.LOG", ".live.sss.q1w2e3",
                                               ".notes.keepme", ".X.abc123", ".Y.abc123",
                                               ".Z.abc123"}));
  EXPECT_EQ(Names(dir + ".live.sss.q1w2e3"),
            (std::set<std::string>{"live.sss", FolderLock::kFileName, mark}));
  EXPECT_EQ(Names(dir + ".X.abc123"), std::set<std::string>{"X"});
}

#ifndef _WIN32  // a file size limit stands in for a full disk
TEST_F(BackupFailure, FileCannotBeWrittenOrClosed) {
  {
    ProcedureBench b;
    std::string name;
    test::FileSizeLimit limit(100000);
    EXPECT_EQ(Run(b, name), 0);
    Expect(b, name, "Backup of target RAM memory failed");
  }
  {
    // The last bytes go to the disk when the file is closed: a limit just
    // below the whole size fails the closing step.
    uint64_t size = 0;
    {
      // A BACKUP.LOG that cannot be written does not fail the backup.
      ProcedureBench b;
      fs::create_directory(b.paths.BackupLog());
      BackupFields fields{b.dir.file("BACKUP/full.sss"), 0, 38400};
      BackupContext c = Backup(b);
      ASSERT_EQ(OnBackup(c, fields, test::FixedTime()), 1);
      size = fs::file_size(fields.file_name);
    }
    ProcedureBench b;
    std::string name;
    test::FileSizeLimit limit(size - 10);
    EXPECT_EQ(Run(b, name), 0);
    Expect(b, name, "Closing backup file failed");
    EXPECT_EQ(b.log.lines[b.log.lines.size() - 4], "Backup of target flash memory passed");
  }
}
#endif

TEST(Backup, FileThatCannotBeCreated) {
  ProcedureBench b;
  BackupFields fields{b.dir.file("no-such-folder/bk.sss"), 0, 38400};
  BackupContext c = Backup(b);
  EXPECT_EQ(OnBackup(c, fields, test::FixedTime()), 0);
  EXPECT_EQ(b.log.lines[b.log.lines.size() - 2], "Creating backup file failed");
  EXPECT_TRUE(b.ui.messages.empty());
  EXPECT_FALSE(Exists(b.dir.file("no-such-folder")));
  EXPECT_EQ(test::ReadFile(b.paths.BackupLog()).substr(0, 27), " \r\nBackup of VOK System of ");
}

TEST(Backup, WriteWholeFileReplacesTheContent) {
  test::TempDir dir;
  std::string folder = dir.file(std::string(150, 'd'));
  fs::create_directory(folder);
  const std::string path = folder + "/BACKUP.LOG";
  const std::string big(5000, 'b');
  EXPECT_EQ(WriteWholeFile(big.data(), big.size(), path), 1);
  EXPECT_EQ(WriteWholeFile("new", 3, path), 1);
  EXPECT_EQ(test::ReadFile(path), "new");
  EXPECT_EQ(WriteWholeFile("", 0, path), 1);
  EXPECT_TRUE(ReadBytes(path).empty());
  EXPECT_EQ(WriteWholeFile("x", 1, folder), 0);
}

}  // namespace
}  // namespace vok
