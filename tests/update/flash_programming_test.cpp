#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "target/connect.h"
#include "update/flash_programming.h"
#include "update/procedure_bench.h"

namespace vok {
namespace {

using test::Exists;
using test::Pattern;
using test::ProcedureBench;
using test::ReadBytes;

using test::CommandBytes;

// Both files on disk and the link up, as after "Building update command file".
void Prepare(ProcedureBench& b, const CommandBytes& file) {
  test::WriteBytes(b.paths.UpdateCmd(), file.bytes);
  test::WriteBytes(b.paths.UpdateSem(), {});
  ASSERT_EQ(ConnectTarget(b.link(), b.paths, b.ui, 0, 38400, nullptr, 1), 1);
}

int Execute(ProcedureBench& b, ProgramCheck check = ProgramCheck::kChecksum) {
  ExecuteOptions options;
  options.check = check;
  return ExecuteUpdateCommandFile(b.link(), b.paths, b.ui, b.log, &b.progress, options);
}

struct Span {
  uint32_t first, length;
};

std::string Hex8(uint32_t v) {
  char s[16];
  std::snprintf(s, sizeof s, "0x%08X", v);
  return s;
}

TEST(CommandFileExecution, EmptyAndEraseOnlyFilesSucceed) {
  {
    ProcedureBench b;
    Prepare(b, CommandBytes().End());
    EXPECT_EQ(Execute(b), 1);
    EXPECT_EQ(b.log.lines, std::vector<std::string>{"Programming target memory passed"});
    EXPECT_FALSE(Exists(b.paths.UpdateCmd()));
    EXPECT_FALSE(Exists(b.paths.UpdateSem()));
  }
  {
    ProcedureBench b;
    b.sim().WriteMemory(0x86000, Pattern(0x2000, 1));
    Prepare(b, CommandBytes().Sector(0x84000).Sector(0x86000).End());
    EXPECT_EQ(Execute(b), 1);
    EXPECT_EQ(b.log.lines, (std::vector<std::string>{"Erasing Flashsector passed",
                                                     "Erasing Flashsector passed",
                                                     "Programming target memory passed",
                                                     "Checking erased flash passed"}));
    EXPECT_EQ(b.sim().ReadMemory(0x86000, 0x2000), std::vector<uint8_t>(0x2000, 0xFF));
    EXPECT_EQ(b.progress.position, 0u);
    EXPECT_EQ(b.progress.calls.back(), std::make_pair(0u, 0u));  // reset at the end
  }
}

TEST(CommandFileExecution, FailedEraseStopsBeforeAnythingIsProgrammed) {
  sim::Options o = ProcedureBench::DefaultOptions();
  o.fail_erase = {0x86000};
  ProcedureBench b(o);
  Prepare(b, CommandBytes().Sector(0x84000).Sector(0x86000).Sector(0x88000).End().Record(
                 0x84000, Pattern(16, 1)));
  EXPECT_EQ(Execute(b), 0);
  EXPECT_EQ(b.log.lines, (std::vector<std::string>{"Erasing Flashsector passed",
                                                   "Erasing Flashsector failed"}));
  EXPECT_EQ(b.sim().stats().erases, 2u);
  EXPECT_EQ(b.sim().stats().programs, 0u);
  EXPECT_TRUE(b.ui.messages.empty());
  EXPECT_TRUE(Exists(b.paths.UpdateCmd()));
  EXPECT_TRUE(Exists(b.paths.UpdateSem()));
}

TEST(CommandFileExecution, FailedWriteNamesTheAddressAndStops) {
  {
    // The loader refuses: its reply carries the address.
    sim::Options o = ProcedureBench::DefaultOptions();
    o.fail_program = {0x20400};
    ProcedureBench b(o);
    Prepare(b, CommandBytes().End().Record(0x20000, Pattern(1024, 1))
                   .Record(0x20400, Pattern(1024, 2)).Record(0x20800, Pattern(1024, 3)));
    EXPECT_EQ(Execute(b), 0);
    EXPECT_EQ(b.ui.MessageTexts(),
              std::vector<std::string>{"Programming target memory failed at 0x00020400"});
    EXPECT_EQ(b.ui.messages[0].icon, Icon::Stop);
    EXPECT_EQ(b.log.lines, std::vector<std::string>{"Programming target memory failed"});
    EXPECT_EQ(b.sim().stats().programs, 2u);
    EXPECT_TRUE(Exists(b.paths.UpdateCmd()));
    EXPECT_TRUE(Exists(b.paths.UpdateSem()));
    EXPECT_EQ(b.progress.calls.back(), std::make_pair(0u, 0u));
  }
  {
    // No reply at all: the message names the record that was sent.
    ProcedureBench b(ProcedureBench::DefaultOptions(), [](uint8_t command, uint32_t address) {
      return command == test::kProgramCommand && address == 0x20400;
    });
    Prepare(b, CommandBytes().End().Record(0x20000, Pattern(1024, 1))
                   .Record(0x20400, Pattern(1024, 2)).Record(0x20800, Pattern(1024, 3)));
    EXPECT_EQ(Execute(b), 0);
    EXPECT_EQ(b.ui.MessageTexts(),
              std::vector<std::string>{"Programming target memory failed at " + Hex8(0x20400)});
    EXPECT_TRUE(Exists(b.paths.UpdateSem()));
  }
  {
    ProcedureBench b;
    ASSERT_EQ(ConnectTarget(b.link(), b.paths, b.ui, 0, 38400, nullptr, 1), 1);
    EXPECT_EQ(Execute(b), 0);
    EXPECT_EQ(b.ui.MessageTexts(), std::vector<std::string>{"Cannot open command file"});
    EXPECT_TRUE(b.log.lines.empty());
  }
}

// Damage anywhere, or a sector or record outside the flash table and RAM,
// is found before anything is erased; the files stay as they are.
TEST(CommandFileExecution, RefusedFileSendsNoFlashCommand) {
  for (const test::RefusedCommandFile& f : test::RefusedCommandFiles()) {
    SCOPED_TRACE(f.what);
    ProcedureBench b;
    b.sim().WriteMemory(0x84000, Pattern(0x2000, 9));
    Prepare(b, CommandBytes{f.bytes});
    EXPECT_EQ(Execute(b), 0);
    EXPECT_EQ(b.sim().stats().erases, 0u);
    EXPECT_EQ(b.sim().stats().programs, 0u);
    EXPECT_EQ(b.sim().ReadMemory(0x84000, 0x2000), Pattern(0x2000, 9));
    EXPECT_EQ(b.ui.MessageTexts(),
              std::vector<std::string>{
                  "The command file of the interrupted update is damaged: " + f.reason});
    EXPECT_TRUE(b.log.lines.empty());
    EXPECT_EQ(ReadBytes(b.paths.UpdateCmd()), f.bytes);
    EXPECT_TRUE(Exists(b.paths.UpdateSem()));
  }
  // Neighbouring sectors both erased hold a record across their border.
  ProcedureBench b;
  Prepare(b, CommandBytes().Sector(0x84000).Sector(0x86000).End().Record(0x85FC0, Pattern(100, 1)));
  EXPECT_EQ(Execute(b), 1);
  EXPECT_EQ(b.sim().ReadMemory(0x85FC0, 100), Pattern(100, 1));
}

TEST(CommandFileExecution, ProgressCoversTheWholeFileAndNeverWraps) {
  // 2,300 records of 1024 bytes: some 2.4 MB, past where done * 2000 leaves
  // 32 bits.
  ProcedureBench b;
  CommandBytes f = CommandBytes().Sector(0x84000).End();
  const std::vector<uint8_t> data = Pattern(1024, 3);
  for (int i = 0; i < 2300; ++i) f.Record(sim::kRamStart + static_cast<uint32_t>(i % 192) * 1024, data);
  ASSERT_GT(f.bytes.size(), 2200000u);
  Prepare(b, f);
  EXPECT_EQ(Execute(b), 1);
  ASSERT_GE(b.progress.calls.size(), 2301u);
  uint32_t last = 0;
  for (size_t i = 0; i + 1 < b.progress.calls.size(); ++i) {
    auto [total, done] = b.progress.calls[i];
    if (total == 0 && last == 0) continue;  // the reset before
    if (total == 0) break;                  // the erased flash's check begins
    EXPECT_EQ(total, f.bytes.size());
    uint32_t p = ProgressPosition(total, done);
    ASSERT_GE(p, last) << "at call " << i;
    last = p;
  }
  EXPECT_EQ(last, 1000u);
  EXPECT_EQ(b.progress.calls.back(), std::make_pair(0u, 0u));
}

TEST(CommandFileExecution, VerifyReadsBackWhatWasProgrammed) {
  const std::vector<uint8_t> a = Pattern(1024, 1), c = Pattern(300, 2), r = Pattern(64, 3);
  auto file = [&] {
    return CommandBytes().Sector(0x84000).Sector(0x88000).End()
        .Record(0x84000, a).Record(0x88400, c).Record(0x10000, r);
  };
  {
    ProcedureBench b;
    b.sim().WriteMemory(0x84000, Pattern(0x2000, 7));
    b.sim().WriteMemory(0x88000, Pattern(0x18000, 8));
    Prepare(b, file());
    EXPECT_EQ(Execute(b, ProgramCheck::kReadBack), 1);
    EXPECT_EQ(b.log.lines, (std::vector<std::string>{
                               "Erasing Flashsector passed", "Erasing Flashsector passed",
                               "Programming target memory passed", "Verifying target memory passed",
                               "Checking erased flash passed"}));
    EXPECT_FALSE(Exists(b.paths.UpdateSem()));
  }
  {
    // The loader says yes but programs nothing at 0x88400.
    sim::Options o = ProcedureBench::DefaultOptions();
    o.ignore_program = {0x88400};
    ProcedureBench b(o);
    Prepare(b, file());
    EXPECT_EQ(Execute(b, ProgramCheck::kReadBack), 0);
    EXPECT_EQ(b.ui.MessageTexts(),
              std::vector<std::string>{"Verifying target memory failed at 0x00088400"});
    EXPECT_EQ(b.ui.messages[0].icon, Icon::Stop);
    EXPECT_EQ(b.log.lines.back(), "Verifying target memory failed");
    EXPECT_TRUE(Exists(b.paths.UpdateCmd()));
    EXPECT_TRUE(Exists(b.paths.UpdateSem()));
  }
  {
    // A byte outside every record in an erased sector is not 0xFF.
    ProcedureBench* bench = nullptr;
    bool tampered = false;
    ProcedureBench b(ProcedureBench::DefaultOptions(), [&](uint8_t command, uint32_t) {
      if (command == test::kReadCommand && !tampered) {
        bench->sim().WriteMemory(0x9FFFE, {0x5A});
        tampered = true;
      }
      return false;
    });
    bench = &b;
    Prepare(b, file());
    EXPECT_EQ(Execute(b, ProgramCheck::kReadBack), 0);
    EXPECT_EQ(b.ui.MessageTexts(),
              std::vector<std::string>{"Verifying target memory failed at 0x0009FFFE"});
  }
  {
    // A read that gets no answer fails the check at its address.
    ProcedureBench b(ProcedureBench::DefaultOptions(),
                     [](uint8_t command, uint32_t) { return command == test::kReadCommand; });
    Prepare(b, file());
    EXPECT_EQ(Execute(b, ProgramCheck::kReadBack), 0);
    EXPECT_EQ(b.ui.MessageTexts(),
              std::vector<std::string>{"Verifying target memory failed at 0x00084000"});
    EXPECT_TRUE(Exists(b.paths.UpdateSem()));
  }
}

// The loader acknowledges a record that it does not hold as sent: it
// programmed nothing, or the request was damaged on the line in a way that
// the frame's XOR lets pass. How each way of checking finds it.
TEST(CommandFileExecution, EveryProgrammedRecordIsConfirmed) {
  struct Case {
    const char* what;
    bool damaged;
    sim::LoaderSum sum;
    ProgramCheck check;
    int result;
    bool reads;
  };
  using S = sim::LoaderSum;
  const Case cases[] = {
      {"nothing programmed, checksum", false, S::kCcittFalse, ProgramCheck::kChecksum, 0, false},
      {"damaged, checksum", true, S::kKermit, ProgramCheck::kChecksum, 0, false},
      {"nothing programmed, unknown checksum", false, S::kOwn, ProgramCheck::kChecksum, 0, true},
      {"damaged, unknown checksum", true, S::kOwn, ProgramCheck::kChecksum, 0, true},
      {"damaged, read back", true, S::kCcittFalse, ProgramCheck::kReadBack, 0, true},
      {"damaged, no check", true, S::kCcittFalse, ProgramCheck::kNone, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::Options o = ProcedureBench::DefaultOptions();
    o.checksum = c.sum;
    if (c.damaged) {
      o.damage_program = 2;
    } else {
      o.ignore_program = {0x88400};
    }
    bool read = false;
    ProcedureBench b(o, [&](uint8_t command, uint32_t) {
      read = read || command == test::kReadCommand;
      return false;
    });
    Prepare(b, CommandBytes().Sector(0x84000).Sector(0x88000).End()
                   .Record(0x84000, Pattern(1024, 1)).Record(0x88400, Pattern(300, 2)));
    EXPECT_EQ(Execute(b, c.check), c.result);
    EXPECT_EQ(read, c.reads);
    EXPECT_EQ(Exists(b.paths.UpdateSem()), c.result == 0);
    EXPECT_EQ(Exists(b.paths.UpdateCmd()), c.result == 0);
    if (c.result == 0) {
      EXPECT_EQ(b.ui.MessageTexts(),
                std::vector<std::string>{"Verifying target memory failed at 0x00088400"});
    }
  }
}

// An erase that the loader acknowledges but carries out only in part, over
// the gaps between the records of two sectors: the CRC asks once a gap,
// anything else reads; either names the first address not erased.
TEST(CommandFileExecution, ErasedStretchesAreConfirmed) {
  struct Case {
    const char* what;
    sim::LoaderSum sum;
    ProgramCheck check;
    uint32_t stale, length;  // what the erase leaves; 0: a whole erase
    int result;
    std::string failed_at;  // the message's address; "P": programming is the last step
    int gap_sums;           // checksum questions over the gaps
  };
  using S = sim::LoaderSum;
  const ProgramCheck kSum = ProgramCheck::kChecksum;
  const Case cases[] = {
      {"whole, CRC", S::kCcittFalse, kSum, 0, 0, 1, "", 3},
      {"whole, SUM-16", S::kSum16, kSum, 0, 0, 1, "", 0},
      {"whole, unknown", S::kOwn, kSum, 0, 0, 1, "", 0},
      {"stale in a gap, CRC", S::kCcittFalse, kSum, 0xB0400, 0x400, 0, "0x000B0400", 3},
      {"stale in a gap, Kermit", S::kKermit, kSum, 0xB0400, 0x400, 0, "0x000B0400", 3},
      {"stale in a gap, SUM-16", S::kSum16, kSum, 0xB0400, 0x400, 0, "0x000B0400", 0},
      {"stale in a gap, Fletcher-16", S::kFletcher16, kSum, 0xB0400, 0x400, 0, "0x000B0400", 0},
      {"stale in a gap, unknown", S::kOwn, kSum, 0xB0400, 0x400, 0, "0x000B0400", 0},
      {"stale last byte, CRC", S::kCcittFalse, kSum, 0xBFFFF, 1, 0, "0x000BFFFF", 3},
      {"stale in the small sector", S::kOwn, kSum, 0x85000, 0x10, 0, "0x00085000", 0},
      {"stale under a record", S::kCcittFalse, kSum, 0xA0000, 0x400, 0, "P", 0},
      {"stale, --verify", S::kCcittFalse, ProgramCheck::kReadBack, 0xB0400, 0x400, 0, "0x000B0400", 0},
      {"stale, --no-verify", S::kCcittFalse, ProgramCheck::kNone, 0xB0400, 0x400, 1, "P", 0},
  };
  const std::vector<Span> gaps = {{0x84400, 0x1C00}, {0xA0400, 0xFC00}, {0xB0200, 0xFE00}};
  auto in_gap = [&](uint32_t a) {
    return std::any_of(gaps.begin(), gaps.end(), [a](const Span& g) { return a - g.first < g.length; });
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::Options o = ProcedureBench::DefaultOptions();
    o.checksum = c.sum;
    o.partial_erase = c.stale;
    o.partial_erase_length = c.length;
    int gap_sums = 0;
    ProcedureBench b(o, [&](uint8_t command, uint32_t address) {
      gap_sums += command == 5 && in_gap(address);
      return false;
    });
    b.sim().WriteMemory(0x84000, Pattern(0x2000, 5));
    b.sim().WriteMemory(0xA0000, Pattern(0x20000, 6));
    Prepare(b, CommandBytes().Sector(0x84000).Sector(0xA0000).End()
                   .Record(0x84000, Pattern(1024, 1)).Record(0xA0000, Pattern(1024, 2))
                   .Record(0xB0000, Pattern(512, 3)));
    EXPECT_EQ(Execute(b, c.check), c.result);
    EXPECT_EQ(gap_sums, c.gap_sums);
    EXPECT_EQ(Exists(b.paths.UpdateSem()), c.result == 0);
    const std::string step = c.failed_at == "P" ? "Programming target memory" : "Checking erased flash";
    EXPECT_EQ(b.log.lines.back(), step + (c.result ? " passed" : " failed"));
    if (c.result) {
      EXPECT_TRUE(b.ui.messages.empty());
    } else if (c.failed_at != "P") {
      EXPECT_EQ(b.ui.MessageTexts(),
                std::vector<std::string>{"Verifying target memory failed at " + c.failed_at});
    }
  }
}

// Bytes left over that read 0xFF once (damage the frame's XOR lets pass)
// are read again; a stop asked for between questions ends the run quietly.
TEST(CommandFileExecution, ErasedCheckTrustsOnlyTheErasedReply) {
  for (bool stop : {false, true}) {
    sim::Options o = ProcedureBench::DefaultOptions();
    o.partial_erase = 0x84400;
    o.damage_read = 1;
    ProcedureBench b(o);
    std::vector<uint8_t> stale(0x400, 0xFF);
    stale[0] = stale[0x200] = 0xFB;  // what the damage turns into 0xFF
    b.sim().WriteMemory(0x84400, stale);
    Prepare(b, CommandBytes().Sector(0x84000).End().Record(0x84000, Pattern(1024, 1)));
    b.ui.stop_after = stop ? 3 : -1;  // erase, record, last record's span
    EXPECT_EQ(Execute(b), 0);
    EXPECT_EQ(b.ui.MessageTexts(),
              stop ? std::vector<std::string>{}
                   : std::vector<std::string>{"Verifying target memory failed at 0x00084400"});
    EXPECT_EQ(b.log.lines.back(), "Checking erased flash failed");
    EXPECT_TRUE(Exists(b.paths.UpdateCmd()) && Exists(b.paths.UpdateSem()));
  }
}

}  // namespace
}  // namespace vok
