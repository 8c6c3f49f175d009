#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "image/memory_image.h"
#include "image/memory_range.h"
#include "update/command_file.h"
#include "update/procedure_bench.h"

namespace vok {
namespace {

using test::Exists;
using test::Pattern;
using test::ReadBytes;

struct Parsed {
  std::vector<uint32_t> sectors;
  struct Rec {
    uint32_t address;
    std::vector<uint8_t> data;
  };
  std::vector<Rec> records;
};

Parsed Parse(const std::vector<uint8_t>& f) {
  auto u32 = [&](size_t at) {
    return uint32_t{f[at]} | uint32_t{f[at + 1]} << 8 | uint32_t{f[at + 2]} << 16 |
           uint32_t{f[at + 3]} << 24;
  };
  Parsed p;
  size_t at = 0;
  for (; u32(at) != 0; at += 4) p.sectors.push_back(u32(at));
  at += 4;
  while (at < f.size()) {
    size_t n = f.at(at + 4) | f.at(at + 5) << 8;
    p.records.push_back({u32(at), std::vector<uint8_t>(f.begin() + at + 6, f.begin() + at + 6 + n)});
    at += 6 + n;
  }
  EXPECT_EQ(at, f.size());
  return p;
}

struct Plan {
  test::TempDir dir;
  AppPaths paths{dir.folder()};
  test::ScriptedUi ui;
  MemoryImage image;
  MemoryRangeList update, kept, sectors;
  Plan() {
    std::filesystem::create_directory(dir.path() / "UPDATE");
    EXPECT_EQ(image.Open(0, dir.folder()), 0);
  }
  void Fill(uint32_t address, const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(image.Store(address, bytes.data(), static_cast<uint32_t>(bytes.size())), 0);
  }
  int Build() { return BuildUpdateCommandFile(paths, ui, image, update, kept, sectors); }
};

TEST(CommandFile, EraseSectionThenUpdateRecordsThenKeptRecords) {
  Plan p;
  // An update range of 2500 bytes in sector 3, one of 16 bytes in RAM; a
  // kept range below both in sector 1, and one in sector 3 that is erased.
  p.Fill(0x90000, Pattern(2500, 1));
  p.Fill(0x20000, Pattern(16, 2));
  p.Fill(0x84000, Pattern(0x100, 3));
  p.update.AddSorted(CMemoryRange(0x90000, 2500, CMemoryRange::kByLength));
  p.update.AddSorted(CMemoryRange(0x20000, 16, CMemoryRange::kByLength));
  p.kept.AddSorted(CMemoryRange(0x84000, 0x840FF, CMemoryRange::kByEnd));
  p.kept.AddSorted(CMemoryRange(0x91000, 0x913FF, CMemoryRange::kByEnd));
  p.sectors.AddSorted(CMemoryRange(0x88000, 0x18000, CMemoryRange::kByLength));
  p.sectors.AddSorted(CMemoryRange(0x84000, 0x2000, CMemoryRange::kByLength));
  ASSERT_EQ(p.Build(), 1);
  EXPECT_TRUE(p.ui.messages.empty());
  EXPECT_TRUE(Exists(p.paths.UpdateSem()));
  EXPECT_TRUE(ReadBytes(p.paths.UpdateSem()).empty());

  const std::vector<uint8_t> bytes = ReadBytes(p.paths.UpdateCmd());
  // Little-endian sector starts, ascending, then the terminator.
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 12),
            (std::vector<uint8_t>{0x00, 0x40, 0x08, 0x00, 0x00, 0x80, 0x08, 0x00, 0, 0, 0, 0}));
  Parsed f = Parse(bytes);
  EXPECT_EQ(f.sectors, (std::vector<uint32_t>{0x84000, 0x88000}));
  ASSERT_EQ(f.records.size(), 5u);
  EXPECT_EQ(f.records[0].address, 0x20000u);
  EXPECT_EQ(f.records[0].data, Pattern(16, 2));
  std::vector<uint8_t> big = Pattern(2500, 1);
  EXPECT_EQ(f.records[1].address, 0x90000u);
  EXPECT_EQ(f.records[1].data, std::vector<uint8_t>(big.begin(), big.begin() + 1024));
  EXPECT_EQ(f.records[2].address, 0x90400u);
  EXPECT_EQ(f.records[2].data.size(), 1024u);
  EXPECT_EQ(f.records[3].address, 0x90800u);
  EXPECT_EQ(f.records[3].data, std::vector<uint8_t>(big.begin() + 2048, big.end()));
  // The kept range of sector 1 after every update record; the erased one
  // gives none.
  EXPECT_EQ(f.records[4].address, 0x84000u);
  EXPECT_EQ(f.records[4].data, Pattern(0x100, 3));
}

TEST(CommandFile, ErasedChunksAreJudgedByTheirStart) {
  Plan p;
  // All 0xFF: at 0x7FC00 (below the threshold), 0x7FE00 (reaching past it),
  // 0x90000 (above).
  p.kept.AddSorted(CMemoryRange(0x7FC00, 1024, CMemoryRange::kByLength));
  p.update.AddSorted(CMemoryRange(0x7FE00, 1024, CMemoryRange::kByLength));
  p.update.AddSorted(CMemoryRange(0x90000, 1024, CMemoryRange::kByLength));
  // Such a plan reaches beyond RAM and the sectors it erases: written, but
  // refused before the marker.
  ASSERT_EQ(p.Build(), 0);
  EXPECT_EQ(p.ui.MessageTexts(),
            std::vector<std::string>{"The update cannot be carried out: it programs 0x0007FE00, "
                                     "which lies neither in RAM nor in a sector it erases"});
  EXPECT_FALSE(Exists(p.paths.UpdateSem()));
  Parsed f = Parse(ReadBytes(p.paths.UpdateCmd()));
  EXPECT_TRUE(f.sectors.empty());  // no sector touched: the file starts with the terminator
  ASSERT_EQ(f.records.size(), 2u);
  EXPECT_EQ(f.records[0].address, 0x7FE00u);
  EXPECT_EQ(f.records[0].data, std::vector<uint8_t>(1024, 0xFF));
  EXPECT_EQ(f.records[1].address, 0x7FC00u);
}

// A marker never stands beside a command file being written: with one on
// disk only the file that carries the interrupted plan along is made, and it
// takes the old one's place whole.
TEST(CommandFile, WhileAMarkerStandsOnlyAReplacementIsWritten) {
  Plan p;
  p.Fill(0x84000, Pattern(8, 1));
  p.update.AddSorted(CMemoryRange(0x84000, 8, CMemoryRange::kByLength));
  p.sectors.AddSorted(CMemoryRange(0x84000, 0x2000, CMemoryRange::kByLength));
  const std::vector<uint8_t> old_file = {0, 0, 0, 0};
  test::WriteBytes(p.paths.UpdateCmd(), old_file);
  test::WriteBytes(p.paths.UpdateSem(), {});
  EXPECT_EQ(p.Build(), 0);
  EXPECT_EQ(p.ui.MessageTexts(),
            std::vector<std::string>{"Cannot write command file: an interrupted update is pending"});
  EXPECT_EQ(ReadBytes(p.paths.UpdateCmd()), old_file);

  EXPECT_EQ(BuildUpdateCommandFile(p.paths, p.ui, p.image, p.update, p.kept, p.sectors,
                                   PendingCommandFile::kReplace),
            1);
  EXPECT_EQ(Parse(ReadBytes(p.paths.UpdateCmd())).records.at(0).data, Pattern(8, 1));
  EXPECT_TRUE(Exists(p.paths.UpdateSem()));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(p.paths.UpdateDir()),
                          std::filesystem::directory_iterator()),
            2);
}

TEST(CommandFile, FailuresLeaveNoMarker) {
  {
    // A regular file where the UPDATE folder should be stops root too.
    Plan p;
    std::filesystem::remove(p.dir.path() / "UPDATE");
    test::WriteBytes(p.paths.UpdateDir(), {});
    EXPECT_EQ(p.Build(), 0);
    EXPECT_EQ(p.ui.MessageTexts(), std::vector<std::string>{"Cannot open command file"});
    EXPECT_EQ(p.ui.messages[0].icon, Icon::Stop);
  }
  {
    // A folder where the marker should be: the command file stays complete.
    Plan p;
    p.Fill(0x84000, Pattern(8, 1));
    p.update.AddSorted(CMemoryRange(0x84000, 8, CMemoryRange::kByLength));
    p.sectors.AddSorted(CMemoryRange(0x84000, 0x2000, CMemoryRange::kByLength));
    std::filesystem::create_directory(p.paths.UpdateSem());
    EXPECT_EQ(p.Build(), 0);
    EXPECT_EQ(p.ui.MessageTexts(), std::vector<std::string>{"Cannot create semaphor file"});
    EXPECT_EQ(ReadBytes(p.paths.UpdateCmd()).size(), 8u + 6u + 8u);
  }
#ifndef _WIN32
  {
    // Writes that fail give 0 without a message. A file size limit makes
    // them fail for root as well.
    Plan p;
    p.Fill(0x84000, Pattern(4096, 1));
    p.update.AddSorted(CMemoryRange(0x84000, 4096, CMemoryRange::kByLength));
    {
      test::FileSizeLimit limit(1000);
      EXPECT_EQ(p.Build(), 0);
    }
    EXPECT_TRUE(p.ui.messages.empty());
    EXPECT_FALSE(Exists(p.paths.UpdateSem()));
  }
#endif
}

}  // namespace
}  // namespace vok
