#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "update/procedure_bench.h"
#include "update/verify_procedure.h"

namespace vok {
namespace {

using test::Pattern;
using test::ProcedureBench;
using Spans = std::vector<std::pair<uint32_t, uint32_t>>;  // start, last

TEST(VerifyProcedure, DataAreasJoinRangesThatOverlapOrTouch) {
  struct Case {
    Spans ranges;  // start, length
    Spans areas;   // start, last
  };
  for (const Case& c : std::vector<Case>{
           {{}, {}},
           {{{0x100, 0x10}, {0x110, 0x10}, {0x200, 1}}, {{0x100, 0x11F}, {0x200, 0x200}}},
           {{{0x100, 0x100}, {0x120, 0x10}, {0x1F0, 0x20}}, {{0x100, 0x20F}}},
           {{{0x100, 0x10}, {0x111, 0x10}}, {{0x100, 0x10F}, {0x111, 0x120}}},
           {{{0xFFFFFFF0, 0x10}, {0xFFFFFFF8, 0x8}}, {{0xFFFFFFF0, 0xFFFFFFFF}}}}) {
    MemoryRangeList list;
    for (const auto& [start, length] : c.ranges) list.AddSorted(CMemoryRange(start, length, CMemoryRange::kByLength));
    Spans got;
    for (const CMemoryRange& a : DataAreas(list)) got.emplace_back(a.GetStart(), a.GetEnd());
    EXPECT_EQ(got, c.areas);
  }
}

struct VerifyBench : ProcedureBench {
  explicit VerifyBench(std::vector<test::Record> r = DefaultRecords()) : records(std::move(r)) {
    Load();
    test::WriteUpdateFile(UpdateFile("u.sss"), "header", records);
  }
  // The target holds the file.
  void Load() {
    sim().ClearMemory();
    for (const test::Record& r : records) sim().WriteMemory(r.address, r.data);
  }
  int Verify(const VerifyOptions& options = {}) {
    VerifyContext c{link(), paths, ui, log, progress};
    return VerifyTargetAgainstFile(c, UpdateFile("u.sss"), 0, 38400, options, differences);
  }
  // Flash, the middle of sector 1's data, and RAM.
  static std::vector<test::Record> DefaultRecords() {
    return {{0x84400, Pattern(0x300, 10)}, {0x84700, Pattern(0x100, 13)}, {0x90000, Pattern(0x500, 11)},
            {0x20000, Pattern(0x200, 12)}};
  }
  std::vector<test::Record> records;
  std::vector<MemoryDifference> differences;
};

TEST(VerifyProcedure, EachDifferingAreaFirstToLastAndNothingChanges) {
  VerifyBench b;
  EXPECT_EQ(b.Verify(), 1);
  EXPECT_TRUE(b.differences.empty());
  EXPECT_EQ(b.log.lines, (std::vector<std::string>{"Connecting to target loader passed",
                                                   "Analyzing update file passed",
                                                   "Comparing target memory passed",
                                                   "Compared by loader checksum CRC-16/CCITT-FALSE",
                                                   "Target memory equals update file"}));

  // Two bytes apart in the joined flash area, the last one of RAM's.
  b.sim().WriteMemory(0x84401, {0x00});
  b.sim().WriteMemory(0x847FE, {0x00});
  b.sim().WriteMemory(0x201FF, {0x00});
  const std::vector<uint8_t> before = b.sim().ReadMemory(0x84000, 0x7C000);
  b.log.lines.clear();
  b.progress.calls.clear();
  EXPECT_EQ(b.Verify(), 1);
  ASSERT_EQ(b.differences.size(), 2u);
  EXPECT_EQ(b.log.lines, (std::vector<std::string>{"Connecting to target loader passed",
                                                   "Analyzing update file passed",
                                                   "Comparing target memory passed",
                                                   "Compared by loader checksum CRC-16/CCITT-FALSE and reading",
                                                   "0x000201FF-0x000201FF differs",
                                                   "0x00084401-0x000847FE differs",
                                                   "#### Target memory differs from update file ####"}));
  EXPECT_TRUE(b.ui.messages.empty());
  EXPECT_EQ(b.sim().stats().erases + b.sim().stats().programs, 0u);
  EXPECT_EQ(b.sim().ReadMemory(0x84000, 0x7C000), before);
  EXPECT_FALSE(b.link().IsOpen());
  // Progress over all areas together, reset at the start and the end.
  ASSERT_GE(b.progress.calls.size(), 3u);
  EXPECT_EQ(b.progress.calls.front(), (std::pair<uint32_t, uint32_t>{0, 0}));
  EXPECT_EQ(b.progress.calls.end()[-2], (std::pair<uint32_t, uint32_t>{0xB00, 0xB00}));
  EXPECT_EQ(b.progress.calls.back(), (std::pair<uint32_t, uint32_t>{0, 0}));
}

TEST(VerifyProcedure, EqualSpansAreSettledByTheLoaderChecksumWithoutReading) {
  // Two small areas, then four spans of flash with bytes differing in the
  // second and the third: with a known checksum only those two are read.
  const uint32_t big = 0x90000;
  const std::vector<test::Record> records = {
      {0x20000, Pattern(0x200, 12)}, {0x84400, Pattern(0x300, 10)}, {big, Pattern(4 * kConfirmSpan, 11)}};
  struct Case {
    sim::LoaderSum sum;
    uint64_t reads;  // read commands
    const char* how;
  };
  for (const Case& c : std::vector<Case>{
           // A piece that differs is read twice.
           {sim::LoaderSum::kCcittFalse, 2 * 8 + 2, "Compared by loader checksum CRC-16/CCITT-FALSE"},
           {sim::LoaderSum::kOwn, 2 + 4 * 8 + 2, "Compared by reading (loader checksum of no known kind)"}}) {
    SCOPED_TRACE(c.how);
    VerifyBench b(records);
    sim::Options options = ProcedureBench::DefaultOptions();
    options.checksum = c.sum;
    b.Restart(options);
    b.Load();
    b.sim().WriteMemory(big + kConfirmSpan + 5, {0x00});
    b.sim().WriteMemory(big + 2 * kConfirmSpan + 7, {0x00});
    EXPECT_EQ(b.Verify(), 1);
    ASSERT_EQ(b.differences.size(), 1u);
    EXPECT_EQ(b.differences[0].first, big + kConfirmSpan + 5);
    EXPECT_EQ(b.differences[0].last, big + 2 * kConfirmSpan + 7);
    EXPECT_EQ(b.sim().stats().reads, c.reads);
    EXPECT_EQ(b.log.lines[3], c.how);
    EXPECT_EQ(b.progress.calls.end()[-2], (std::pair<uint32_t, uint32_t>{0x500 + 4 * kConfirmSpan, 0x500 + 4 * kConfirmSpan}));
  }
}

// Against each kind of loader: memory with a bit moved between two bytes
// (which the sums miss), a file of zeros over erased flash (Fletcher-16
// cannot tell them apart), and a read damaged past the frame check and the
// sums on equal memory (read again, not reported). Only a CRC's match
// spares the reading.
TEST(VerifyProcedure, OnlyWhatACrcOrTwoReadsShowCounts) {
  enum Fault { kNone, kBitMoved, kErased, kReadDamaged };
  struct Loader {
    sim::LoaderSum sum;
    sim::ChecksumSkew skew;
    const char* how;  // with nothing at fault
  };
  using S = sim::LoaderSum;
  const Loader loaders[] = {
      {S::kCcittFalse, sim::ChecksumSkew::kExact, "Compared by loader checksum CRC-16/CCITT-FALSE"},
      {S::kSum16, sim::ChecksumSkew::kExact, "Compared by reading (the loader's SUM-16 cannot confirm alone)"},
      {S::kInternet16, sim::ChecksumSkew::kExact, "Compared by reading (the loader's INTERNET-16 cannot confirm alone)"},
      {S::kFletcher16, sim::ChecksumSkew::kExact, "Compared by reading (the loader's FLETCHER-16 cannot confirm alone)"},
      {S::kXmodem, sim::ChecksumSkew::kStartEarly, "Compared by reading (loader checksum of no known kind)"}};
  const std::vector<test::Record> records = {
      {0x20000, Pattern(0x200, 12)}, {0x90000, Pattern(0x800, 11)}, {0x94000, std::vector<uint8_t>(0x400, 0)}};
  for (const Loader& l : loaders) {
    for (Fault fault : {kNone, kBitMoved, kErased, kReadDamaged}) {
      SCOPED_TRACE(std::string(l.how) + " fault " + std::to_string(fault));
      VerifyBench b(records);
      sim::Options options = ProcedureBench::DefaultOptions();
      options.checksum = l.sum;
      options.checksum_skew = l.skew;
      options.damage = sim::DamageKind::kSumBlind;
      if (fault == kReadDamaged) options.damage_read = 2;
      b.Restart(options);
      b.Load();
      std::vector<MemoryDifference> want;
      if (fault == kBitMoved) {
        std::vector<uint8_t> m = b.sim().ReadMemory(0x90100, 3);
        const uint8_t bit = static_cast<uint8_t>((m[0] ^ m[2]) & -(m[0] ^ m[2]));
        ASSERT_NE(bit, 0);
        b.sim().WriteMemory(0x90100, {static_cast<uint8_t>(m[0] ^ bit), m[1], static_cast<uint8_t>(m[2] ^ bit)});
        want.push_back({0x90100, 0x90102});
      } else if (fault == kErased) {
        b.sim().WriteMemory(0x94000, std::vector<uint8_t>(0x400, 0xFF));
        want.push_back({0x94000, 0x943FF});
      }
      EXPECT_EQ(b.Verify(), 1);
      ASSERT_EQ(b.differences.size(), want.size());
      for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(b.differences[i].first, want[i].first);
        EXPECT_EQ(b.differences[i].last, want[i].last);
      }
      if (fault == kNone) {
        EXPECT_EQ(b.log.lines[3], l.how);
      }
    }
  }
}

TEST(VerifyProcedure, AComparisonCutShortClaimsNothing) {
  // The target falls silent half way through the last flash area.
  VerifyBench b;
  b.Restart(ProcedureBench::DefaultOptions(), [](uint8_t command, uint32_t address) {
    return command == test::kReadCommand && address == 0x90400;
  });
  EXPECT_EQ(b.Verify(), 0);
  EXPECT_TRUE(b.differences.empty());
  EXPECT_EQ(b.ui.MessageTexts(), std::vector<std::string>{"Reading target memory failed (-3001) !"});
  EXPECT_EQ(b.log.lines.end()[-2], "Comparing target memory failed");
  EXPECT_EQ(b.log.lines.back(), "#### Verification of target memory failed ####");
  EXPECT_FALSE(b.link().IsOpen());

  // A file that is none of the formats: nothing is compared.
  VerifyBench c;
  test::WriteBytes(c.UpdateFile("u.sss"), {'x', 'y'});
  EXPECT_EQ(c.Verify(), 0);
  EXPECT_EQ(c.ui.MessageTexts(), std::vector<std::string>{"Update file format error"});
  EXPECT_EQ(c.log.lines.end()[-2], "Analyzing update file failed");
}

}  // namespace
}  // namespace vok
