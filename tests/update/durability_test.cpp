// What reaches the disk in which order. The test binary interposes fsync,
// so every sync the procedures make is seen with the file it was made on
// and the state of the folder at that moment.

#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "backup/backup_procedure.h"
#include "image/memory_image.h"
#include "image/memory_range.h"
#include "target/connect.h"
#include "update/command_file.h"
#include "update/flash_programming.h"
#include "update/procedure_bench.h"

namespace {

struct SyncEvent {
  std::string path;
  uint64_t size = 0;
  bool watched_exists = false;   // the marker exists
  std::string watched_content;   // what the watched file holds
};

// Test-only record of the syncs; reset by each test.
struct SyncLog {
  bool on = false;
  std::string watched;
  std::vector<SyncEvent> events;
};
SyncLog& Log() {
  static SyncLog log;
  return log;
}

}  // namespace

extern "C" int fsync(int fd) {
  SyncLog& log = Log();
  if (log.on) {
    SyncEvent e;
    char link[64], target[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = ::readlink(link, target, sizeof target - 1);
    if (n > 0) e.path.assign(target, static_cast<size_t>(n));
    struct stat st;
    if (::fstat(fd, &st) == 0) e.size = static_cast<uint64_t>(st.st_size);
    e.watched_exists = vok::test::Exists(log.watched);
    if (e.watched_exists && std::filesystem::is_regular_file(log.watched)) {
      auto bytes = vok::test::ReadBytes(log.watched);
      e.watched_content.assign(bytes.begin(), bytes.end());
    }
    log.events.push_back(e);
  }
  return static_cast<int>(::syscall(SYS_fsync, fd));
}

namespace vok {
namespace {

namespace fs = std::filesystem;

// Indexes of the events on that path.
std::vector<size_t> On(const std::string& path) {
  std::vector<size_t> out;
  for (size_t i = 0; i < Log().events.size(); ++i)
    if (Log().events[i].path == path) out.push_back(i);
  return out;
}

// An application folder and the plan of 3,000 bytes at 0x84000.
struct PlanBench {
  PlanBench() {
    fs::create_directory(paths.UpdateDir());
    EXPECT_EQ(image.Open(0, root), 0);
    EXPECT_EQ(image.Store(0x84000, test::Pattern(3000, 1).data(), 3000), 0);
    update.AddSorted(CMemoryRange(0x84000, 3000, CMemoryRange::kByLength));
  }
  test::TempDir dir;
  const std::string root = fs::canonical(dir.path()).string() + "/";
  AppPaths paths{root};
  test::ScriptedUi ui;
  MemoryImage image;
  MemoryRangeList update, kept, sectors;
};

TEST(CommandFile, ReachesTheDiskBeforeTheMarkerExists) {
  PlanBench p;
  auto [paths, ui, image, update, kept, sectors] =
      std::tie(p.paths, p.ui, p.image, p.update, p.kept, p.sectors);
  sectors.AddSorted(CMemoryRange(0x84000, 0x2000, CMemoryRange::kByLength));

  Log() = SyncLog{true, paths.UpdateSem(), {}};
  ASSERT_EQ(BuildUpdateCommandFile(paths, ui, image, update, kept, sectors), 1);
  Log().on = false;

  const uint64_t size = fs::file_size(paths.UpdateCmd());
  std::vector<size_t> file = On(paths.UpdateCmd()), folder = On(paths.UpdateDir());
  ASSERT_EQ(file.size(), 1u);
  ASSERT_GE(folder.size(), 1u);
  // The whole file, then its folder entry, both before the marker.
  EXPECT_EQ(Log().events[file[0]].size, size);
  EXPECT_FALSE(Log().events[file[0]].watched_exists);
  EXPECT_GT(folder[0], file[0]);
  EXPECT_FALSE(Log().events[folder[0]].watched_exists);
  // The marker's own entry is made durable as well.
  EXPECT_TRUE(Log().events[folder.back()].watched_exists);
}

// A command file that carries an interrupted one along takes its place
// only once it is on the disk whole; the marker stands throughout.
TEST(CommandFile, ReplacementReachesTheDiskBeforeItTakesTheName) {
  PlanBench p;
  auto [paths, ui, image, update, kept, sectors] =
      std::tie(p.paths, p.ui, p.image, p.update, p.kept, p.sectors);
  sectors.AddSorted(CMemoryRange(0x84000, 0x2000, CMemoryRange::kByLength));
  test::WriteBytes(paths.UpdateCmd(), {0, 0, 0, 0});
  test::WriteBytes(paths.UpdateSem(), {});

  Log() = SyncLog{true, paths.UpdateCmd(), {}};
  ASSERT_EQ(BuildUpdateCommandFile(paths, ui, image, update, kept, sectors,
                                   PendingCommandFile::kReplace),
            1);
  Log().on = false;

  const uint64_t size = fs::file_size(paths.UpdateCmd());
  std::vector<size_t> folder = On(paths.UpdateDir());
  size_t staged = Log().events.size();
  for (size_t i = 0; i < Log().events.size() && staged == Log().events.size(); ++i)
    if (fs::path(Log().events[i].path).parent_path() == paths.UpdateDir()) staged = i;
  ASSERT_LT(staged, Log().events.size());
  ASSERT_EQ(folder.size(), 1u);
  EXPECT_EQ(Log().events[staged].size, size);
  EXPECT_EQ(Log().events[staged].watched_content, std::string(4, '\0'));
  EXPECT_GT(folder[0], staged);
  EXPECT_EQ(Log().events[folder[0]].watched_content.size(), size);
  EXPECT_TRUE(test::Exists(paths.UpdateSem()));
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(paths.UpdateDir()))
    names.insert(e.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"UPDATE.CMD", "UPDATE.SEM"}));
}

// The end of the journal is made durable too: a crash right after a
// success must not bring the marker back.
TEST(CommandFile, DeletionsAfterSuccessReachTheDisk) {
  test::ProcedureBench b;
  test::WriteBytes(b.paths.UpdateCmd(), {0, 0, 0, 0});
  test::WriteBytes(b.paths.UpdateSem(), {});
  ASSERT_EQ(ConnectTarget(b.link(), b.paths, b.ui, 0, 38400, nullptr, 1), 1);
  Log() = SyncLog{true, b.paths.UpdateSem(), {}};
  ASSERT_EQ(ExecuteUpdateCommandFile(b.link(), b.paths, b.ui, b.log, &b.progress), 1);
  Log().on = false;
  ASSERT_FALSE(Log().events.empty());
  EXPECT_EQ(Log().events.back().path, fs::canonical(b.paths.UpdateDir()).string());
  EXPECT_FALSE(Log().events.back().watched_exists);
}

TEST(Backup, StagedFileReachesTheDiskBeforeItTakesTheName) {
  test::ProcedureBench b;
  const std::string name = fs::canonical(b.paths.BackupDir()).string() + "/old.sss";
  test::WriteBytes(name, {'o', 'l', 'd'});
  BackupFields fields{name, 0, 38400};
  b.ui.answers.push_back(Answer::Yes);
  BackupContext c{b.link(), b.paths, b.ui, b.log, b.progress};

  Log() = SyncLog{true, name, {}};
  ASSERT_EQ(RunBackup(c, fields, test::FixedTime()), 1);
  Log().on = false;

  const uint64_t size = fs::file_size(name);
  size_t staged = Log().events.size(), folder = Log().events.size();
  for (size_t i = 0; i < Log().events.size(); ++i) {
    const SyncEvent& e = Log().events[i];
    if (e.path != name && fs::path(e.path).filename() == "old.sss" && staged == Log().events.size())
      staged = i;
    if (e.path == fs::path(name).parent_path().string()) folder = i;
  }
  ASSERT_LT(staged, Log().events.size()) << "the staged file was never synced";
  ASSERT_LT(folder, Log().events.size()) << "the folder was never synced";
  // Complete on the disk while the old backup still held the name.
  EXPECT_EQ(Log().events[staged].size, size);
  EXPECT_EQ(Log().events[staged].watched_content, "old");
  // The rename is made durable afterwards.
  EXPECT_GT(folder, staged);
  EXPECT_EQ(Log().events[folder].watched_content.size(), size);
}

}  // namespace
}  // namespace vok
