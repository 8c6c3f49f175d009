#include <algorithm>

#include <gtest/gtest.h>

#include "link/link_error.h"
#include "sim_fixture.h"
#include "support/temp_dir.h"

namespace vok::sim::test {
namespace {

TEST(SimFaults, CutAfterCarriesOutTheCommandThenFallsSilent) {
  vok::test::TempDir dir;
  Options o = Blank();
  o.state_file = dir.file("state");
  o.cut_after = 2;
  InProcess t(o);
  ASSERT_EQ(t.Open(), 0);
  ASSERT_EQ(EraseFlashSector(*t.link, 0x84000), 0);
  const Bytes data{0x01, 0x02, 0x03};
  uint32_t at = 0;
  EXPECT_EQ(ProgramTargetMemory(*t.link, 0x84000, 3, data.data(), at), kErrNoReply);
  EXPECT_TRUE(t.sim.PoweredOff());
  EXPECT_EQ(t.sim.FlashCommands(), 2);  // the retries were not heard
  uint8_t v[3];
  EXPECT_EQ(GetLoaderVersion(*t.link, v[0], v[1], v[2]), kErrNoReply);

  // The next start boots with what the cut left.
  o.cut_after = 0;
  InProcess next(o);
  EXPECT_EQ(next.sim.ReadMemory(0x84000, 3), data);
  ASSERT_EQ(next.Open(), 0);
  EXPECT_EQ(GetLoaderVersion(*next.link, v[0], v[1], v[2]), 0);
}

TEST(SimFaults, TearLeavesHalfTheWorkDone) {
  vok::test::TempDir dir;
  Options o = Blank();
  o.state_file = dir.file("state");
  o.tear = 1;
  {
    InProcess t(o);
    t.sim.WriteMemory(0x86000, Bytes(0x2000, 0x00));
    ASSERT_EQ(t.Open(), 0);
    EXPECT_EQ(EraseFlashSector(*t.link, 0x86000), kErrNoReply);
    EXPECT_TRUE(t.sim.PoweredOff());
  }
  Simulator after(o);
  const Bytes sector = after.ReadMemory(0x86000, 0x2000);
  EXPECT_EQ(std::count(sector.begin(), sector.begin() + 0x1000, 0xFF), 0x1000);
  EXPECT_EQ(std::count(sector.begin() + 0x1000, sector.end(), 0x00), 0x1000);

  o.tear = 2;
  std::filesystem::remove(o.state_file);
  {
    InProcess t(o);
    ASSERT_EQ(t.Open(), 0);
    ASSERT_EQ(EraseFlashSector(*t.link, 0x88000), 0);
    const Bytes data(10, 0x00);
    uint32_t at = 0;
    EXPECT_EQ(ProgramTargetMemory(*t.link, 0x88000, 10, data.data(), at), kErrNoReply);
  }
  Simulator torn(o);
  EXPECT_EQ(torn.ReadMemory(0x88000, 10), (Bytes{0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(SimFaults, FailedAndIgnoredCommands) {
  Options o = Blank();
  o.fail_erase = {0x86000};
  o.fail_program = {0x84010};       // inside a record
  o.fail_program.insert(0x10000);   // a record's start
  o.ignore_program = {0x88100};
  InProcess t(o);
  t.sim.WriteMemory(0x86000, {0x00});
  ASSERT_EQ(t.Open(), 0);
  EXPECT_EQ(EraseFlashSector(*t.link, 0x86000), kErrEraseFailed);
  EXPECT_EQ(t.sim.ReadMemory(0x86000, 1), (Bytes{0x00}));
  EXPECT_EQ(EraseFlashSector(*t.link, 0x84000), 0);

  const Bytes data(32, 0x00);
  uint32_t at = 0;
  EXPECT_EQ(ProgramTargetMemory(*t.link, 0x84000, 32, data.data(), at), kErrProgramFailed);
  EXPECT_EQ(ProgramTargetMemory(*t.link, 0x84010, 16, data.data(), at), kErrProgramFailed);
  EXPECT_EQ(ProgramTargetMemory(*t.link, 0x84000, 16, data.data(), at), 0);  // ends before it
  EXPECT_EQ(ProgramTargetMemory(*t.link, 0x83FF0, 0, data.data(), at), kErrProgramFailed);  // loader
  EXPECT_EQ(ProgramTargetMemory(*t.link, 0x84011, 15, data.data(), at), 0);
  EXPECT_EQ(t.sim.ReadMemory(0x84010, 2), (Bytes{0xFF, 0x00}));
  EXPECT_EQ(ProgramTargetMemory(*t.link, 0x10000, 4, data.data(), at), kErrProgramFailed);

  // Success reported, nothing programmed, for the record holding the address.
  EXPECT_EQ(ProgramTargetMemory(*t.link, 0x88000, 0x200, Bytes(0x200, 0x11).data(), at), 0);
  EXPECT_EQ(t.sim.ReadMemory(0x88000, 2), (Bytes{0xFF, 0xFF}));
  EXPECT_EQ(ProgramTargetMemory(*t.link, 0x88200, 4, data.data(), at), 0);
  EXPECT_EQ(t.sim.ReadMemory(0x88200, 1), (Bytes{0x00}));
}

// An erase acknowledged but carried out only in part: the stretch asked
// for keeps its old bytes, once; the next erase of that sector is whole.
TEST(SimFaults, PartialEraseLeavesAStretchAsItWas) {
  struct Case {
    uint32_t at, length, sector, sector_length, kept_to;  // kept: [at, kept_to)
  };
  for (const Case& c : {Case{0xB0000, 0, 0xA0000, 0x20000, 0xC0000},
                        Case{0x86100, 0x200, 0x86000, 0x2000, 0x86300},
                        Case{0x85F00, 0x1000, 0x84000, 0x2000, 0x86000}}) {
    Options o = Blank();
    o.partial_erase = c.at;
    o.partial_erase_length = c.length;
    InProcess t(o);
    t.sim.WriteMemory(0x84000, Bytes(0x7C000, 0x00));
    ASSERT_EQ(t.Open(), 0);
    for (int k = 0; k < 2; ++k) {
      ASSERT_EQ(EraseFlashSector(*t.link, c.sector), 0);
      Bytes want(c.sector_length, 0xFF);
      if (k == 0) std::fill(want.begin() + (c.at - c.sector), want.begin() + (c.kept_to - c.sector), 0);
      EXPECT_EQ(t.sim.ReadMemory(c.sector, c.sector_length), want) << std::hex << c.at << " " << k;
    }
  }
}

TEST(SimFaults, CorruptReplyIsRecoveredByTheRetry) {
  Options o;
  o.corrupt_reply = 2;  // the probe reply is the first
  InProcess t(o);
  ASSERT_EQ(t.Open(), 0);
  uint8_t v[3];
  EXPECT_EQ(GetLoaderVersion(*t.link, v[0], v[1], v[2]), 0);
  EXPECT_EQ(t.sim.stats().replies, 3u);
  EXPECT_EQ(t.sim.stats().frames_from_host, 3u);  // the version request twice
}

TEST(SimFaults, SilentAndNoise) {
  Options silent;
  silent.silent = true;
  InProcess s(silent);
  EXPECT_EQ(s.Open(), kErrNoReply);
  EXPECT_EQ(s.sim.stats().replies, 0u);
  EXPECT_GT(s.sim.stats().bytes_from_host, 0u);

  // The same seed gives the same run, byte for byte; another seed another.
  auto run = [](uint64_t seed) {
    Options o;
    o.noise = 0.005;
    o.seed = seed;
    InProcess t(o);
    std::vector<int> results{t.Open()};
    uint8_t buf[64];
    for (uint32_t i = 0; i < 20; ++i) results.push_back(ReadTargetMemory(*t.link, 0x10000 + 64 * i, 64, buf));
    results.push_back(static_cast<int>(t.sim.stats().noise_hits));
    results.push_back(static_cast<int>(t.sim.stats().bytes_to_host));
    return results;
  };
  const std::vector<int> a = run(7);
  EXPECT_EQ(a, run(7));
  EXPECT_NE(a, run(8));
  EXPECT_GT(a[a.size() - 2], 0);
}

TEST(SimFaults, RealtimeGivesFlashWorkAndBytesTheirDuration) {
  Options o = Blank();
  o.realtime = true;
  InProcess t(o);
  ASSERT_EQ(t.Open(38400), 0);
  uint64_t t0 = t.port->NowNs();
  ASSERT_EQ(EraseFlashSector(*t.link, 0xA0000), 0);  // 128 KiB
  EXPECT_GE(t.port->NowNs() - t0, 600'000'000u);
  EXPECT_LT(t.port->NowNs() - t0, 700'000'000u);
  t0 = t.port->NowNs();
  ASSERT_EQ(EraseFlashSector(*t.link, 0x88000), 0);  // 96 KiB
  EXPECT_GE(t.port->NowNs() - t0, 450'000'000u);
  EXPECT_EQ(t.sim.stats().flash_busy_ns, 1050'000'000u);

  // 1024 bytes programmed: 5 ms, plus the 1033-byte request and the 10-byte
  // reply at 10 bits a byte.
  const Bytes data(1024, 0x00);
  uint32_t at = 0;
  t0 = t.port->NowNs();
  ASSERT_EQ(ProgramTargetMemory(*t.link, 0xA0000, 1024, data.data(), at), 0);
  const uint64_t line = (1033 + 4 + 12) * Simulator::ByteTimeNs(38400);
  EXPECT_GE(t.port->NowNs() - t0, line + 5'000'000u - 1'000'000u);
  EXPECT_LT(t.port->NowNs() - t0, line + 5'000'000u + 2'000'000u);
}

// A reply shorter than 62 bytes is held until the adapter's timer ran out
// since it began. At 115200 the read request is 1.2 ms on the line, a 6-byte
// reply 1.8 ms (inside the hold), a 100-byte one 10 ms.
TEST(SimFaults, LatencyHoldsShortRepliesOnly) {
  const struct {
    bool realtime;
    uint32_t latency_ms, read_length, min_ms, max_ms;  // the read on the virtual clock
  } cases[] = {{false, 16, 6, 16, 16}, {false, 0, 6, 0, 0},    {false, 16, 100, 0, 0},
               {true, 16, 6, 17, 18},  {true, 1, 6, 2, 4},     {true, 16, 100, 10, 12}};
  for (const auto& c : cases) {
    Options o = Blank();
    o.realtime = c.realtime;
    o.latency_ms = c.latency_ms;
    InProcess t(o);
    ASSERT_EQ(t.Open(115200), 0);
    Bytes got(c.read_length);
    const uint64_t t0 = t.port->NowNs();
    ASSERT_EQ(ReadTargetMemory(*t.link, 0x20000, c.read_length, got.data()), 0);
    EXPECT_GE(t.port->NowNs() - t0, c.min_ms * 1'000'000ull) << c.latency_ms << " ms, " << c.read_length;
    EXPECT_LE(t.port->NowNs() - t0, c.max_ms * 1'000'000ull) << c.latency_ms << " ms, " << c.read_length;
  }
}

// The damage passes the frame's XOR: the host takes the bytes, two of them
// wrong; only the N-th request or reply carrying data is touched.
TEST(SimFaults, DamagedDataPassTheFrameChecksum) {
  Options o = Blank();
  o.damage_program = 2;
  o.damage_read = 2;
  InProcess t(o);
  const Bytes data{1, 2, 3, 4, 5, 6};
  t.sim.WriteMemory(0x30000, data);
  ASSERT_EQ(t.Open(), 0);
  uint32_t at = 0;
  for (uint32_t address : {0x20000u, 0x20010u})
    ASSERT_EQ(ProgramTargetMemory(*t.link, address, 6, data.data(), at), 0);
  EXPECT_EQ(t.sim.ReadMemory(0x20000, 6), data);
  EXPECT_EQ(t.sim.ReadMemory(0x20010, 6), (Bytes{1 ^ 4, 2, 3, 4 ^ 4, 5, 6}));
  Bytes got(6);
  ASSERT_EQ(ReadTargetMemory(*t.link, 0x84000, 6, got.data()), 0);  // erased: no data, not counted
  const Bytes damaged{1 ^ 4, 2, 3, 4 ^ 4, 5, 6};
  for (int k = 0; k < 3; ++k) {
    ASSERT_EQ(ReadTargetMemory(*t.link, 0x30000, 6, got.data()), 0);
    EXPECT_EQ(got, k == 1 ? damaged : data) << k;
  }
  EXPECT_EQ(t.sim.stats().frames_ignored, 0u);
}

// The sum-blind damage moves a bit between two bytes two apart: the byte
// sums and the Internet checksum over the damaged record answer what the
// host sent; a CRC and Fletcher-16 (whose second sum weighs the place) do
// not.
TEST(SimFaults, SumBlindDamageLeavesTheSumsAsTheyWere) {
  const Bytes data{0x10, 0x22, 0x31, 0x47, 0x59, 0x6A, 0x7C, 0x8E};
  for (size_t i = 0; i < LoaderSumNames().size(); ++i) {
    const auto sum = static_cast<LoaderSum>(i);
    SCOPED_TRACE(LoaderSumNames()[i]);
    Options o = Blank();
    o.checksum = sum;
    o.damage = DamageKind::kSumBlind;
    o.damage_program = 1;
    InProcess t(o);
    ASSERT_EQ(t.Open(), 0);
    uint32_t at = 0;
    ASSERT_EQ(ProgramTargetMemory(*t.link, 0x20001, 8, data.data(), at), 0);
    // 0x10 and 0x31 differ first in bit 0: set in the second, clear in the first.
    EXPECT_EQ(t.sim.ReadMemory(0x20001, 8), (Bytes{0x11, 0x22, 0x30, 0x47, 0x59, 0x6A, 0x7C, 0x8E}));
    uint16_t answer = 0;
    ASSERT_EQ(GetTargetChecksum(*t.link, 0x20001, 8, answer), 0);
    const bool blind = sum == LoaderSum::kSum16 || sum == LoaderSum::kOnesSum16 || sum == LoaderSum::kInternet16;
    EXPECT_EQ(answer == Simulator::Checksum(sum, data.data(), data.size()), blind);
  }
}

}  // namespace
}  // namespace vok::sim::test
