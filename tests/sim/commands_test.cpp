#include <gtest/gtest.h>

#include "link/link_error.h"
#include "sim_fixture.h"

namespace vok::sim::test {
namespace {

Bytes Fill(size_t n, uint8_t first) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(first + i);
  return b;
}

TEST(SimCommands, VersionAndReads) {
  InProcess t(Blank());
  ASSERT_EQ(t.Open(), 0);
  uint8_t v1 = 0, v2 = 0, v3 = 0;
  ASSERT_EQ(GetLoaderVersion(*t.link, v1, v2, v3), 0);
  EXPECT_EQ((Bytes{v1, v2, v3}), (Bytes{2, 1, 0}));

  t.sim.WriteMemory(0x3FFFC, {9, 8, 7, 6});
  uint8_t buf[1024];
  ASSERT_EQ(ReadTargetMemory(*t.link, 0x3FFFC, 4, buf), 0);
  EXPECT_EQ(Bytes(buf, buf + 4), (Bytes{9, 8, 7, 6}));

  // Erased memory: the length field 0xFFFF and no data.
  EXPECT_EQ(t.Exchange({0x02, 0x00, 0x08, 0x40, 0x00, 0x00, 0x04}),
            (Bytes{0x02, 0x00, 0x08, 0x40, 0x00, 0xFF, 0xFF}));
  ASSERT_EQ(ReadTargetMemory(*t.link, 0x84000, 1024, buf), 0);
  EXPECT_EQ(buf[1023], 0xFF);
  // One byte that is not 0xFF makes the range data.
  t.sim.WriteMemory(0x843FF, {0x00});
  ASSERT_EQ(ReadTargetMemory(*t.link, 0x84000, 1024, buf), 0);
  EXPECT_EQ(buf[1023], 0x00);

  // The loader's region reads; nothing outside RAM and flash does, nor a
  // range that runs off the end of RAM, nor more than a reply can hold.
  EXPECT_EQ(ReadTargetMemory(*t.link, 0x80000, 16, buf), 0);
  EXPECT_EQ(ReadTargetMemory(*t.link, 0x40000, 4, buf), kErrReadLength);
  EXPECT_EQ(ReadTargetMemory(*t.link, 0x3FFFE, 4, buf), kErrReadLength);
  EXPECT_EQ(ReadTargetMemory(*t.link, 0xFFFFE, 4, buf), kErrReadLength);
  EXPECT_EQ(ReadTargetMemory(*t.link, 0x0FFFF, 0, buf), kErrReadLength);
  uint8_t big[1492];
  EXPECT_EQ(ReadTargetMemory(*t.link, 0x10000, 1491, big), 0);
  EXPECT_EQ(ReadTargetMemory(*t.link, 0x10000, 1492, big), kErrReadLength);
}

TEST(SimCommands, ProgrammingFlashOnlyClearsBits) {
  InProcess t(Blank());
  ASSERT_EQ(t.Open(), 0);
  uint32_t at = 0;
  const Bytes data = Fill(1024, 0x10);
  ASSERT_EQ(ProgramTargetMemory(*t.link, 0x86000, 1024, data.data(), at), 0);
  EXPECT_EQ(at, 0x86000u);
  EXPECT_EQ(t.sim.ReadMemory(0x86000, 1024), data);

  // One byte needing a 0 -> 1 bit refuses the whole record: nothing written,
  // not even the bytes before it.
  const Bytes again{0x00, 0x00, 0xFF};
  EXPECT_EQ(ProgramTargetMemory(*t.link, 0x86000, 3, again.data(), at), kErrProgramFailed);
  EXPECT_EQ(at, 0x86000u);
  EXPECT_EQ(t.sim.ReadMemory(0x86000, 3), (Bytes{0x10, 0x11, 0x12}));
  // Clearing further bits is fine.
  const Bytes clear{0x00, 0x01, 0x02};
  EXPECT_EQ(ProgramTargetMemory(*t.link, 0x86000, 3, clear.data(), at), 0);
  EXPECT_EQ(t.sim.ReadMemory(0x86000, 3), clear);

  // RAM takes anything, twice.
  EXPECT_EQ(ProgramTargetMemory(*t.link, 0x10000, 3, again.data(), at), 0);
  EXPECT_EQ(ProgramTargetMemory(*t.link, 0x10000, 3, clear.data(), at), 0);
  EXPECT_EQ(t.sim.ReadMemory(0x10000, 3), clear);

  // Outside memory, across the end of RAM, into the loader's own flash.
  const Bytes zero(4, 0x00);
  EXPECT_EQ(ProgramTargetMemory(*t.link, 0x50000, 4, zero.data(), at), kErrProgramFailed);
  EXPECT_EQ(at, 0x50000u);
  EXPECT_EQ(ProgramTargetMemory(*t.link, 0x3FFFE, 4, zero.data(), at), kErrProgramFailed);
  EXPECT_EQ(ProgramTargetMemory(*t.link, 0x80000, 4, zero.data(), at), kErrProgramFailed);
  EXPECT_EQ(ProgramTargetMemory(*t.link, 0x83FFE, 4, zero.data(), at), kErrProgramFailed);
  EXPECT_EQ(t.sim.ReadMemory(0x83FFE, 4), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(t.sim.ReadMemory(0x3FFFE, 2), (Bytes{0x00, 0x00}));

  // A request whose length field disagrees with its data: status, no change.
  Bytes req{0x03, 0x00, 0x08, 0x40, 0x00, 0x00, 0x05, 0x00, 0x00};
  EXPECT_EQ(t.Exchange(req), (Bytes{0x03, kBadRequest, 0x00, 0x08, 0x40, 0x00}));
  EXPECT_EQ(t.sim.stats().programs, 10u);
}

TEST(SimCommands, EraseOnlyAtTheSixSectorStarts) {
  InProcess t(Options{});  // demo firmware: every sector holds something
  ASSERT_EQ(t.Open(), 0);
  for (const Sector& s : kSectors) {
    SCOPED_TRACE(s.start);
    t.sim.WriteMemory(s.start, {0x00});
    t.sim.WriteMemory(s.start + s.length - 1, {0x00});
    t.sim.WriteMemory(s.start + s.length, {0x00});  // the next sector's first byte
    ASSERT_EQ(EraseFlashSector(*t.link, s.start), 0);
    const Bytes after = t.sim.ReadMemory(s.start, s.length);
    EXPECT_EQ(std::count(after.begin(), after.end(), 0xFF), static_cast<long>(s.length));
    if (s.start + s.length <= kFlashEnd) {
      EXPECT_EQ(t.sim.ReadMemory(s.start + s.length, 1), (Bytes{0x00}));
    }
  }
  const Bytes loader = t.sim.ReadMemory(0x80000, 16);
  EXPECT_EQ(EraseFlashSector(*t.link, 0x84100), kErrEraseFailed);   // inside a sector
  EXPECT_EQ(EraseFlashSector(*t.link, 0x80000), kErrEraseFailed);   // the loader
  EXPECT_EQ(EraseFlashSector(*t.link, 0x10000), kErrEraseFailed);   // RAM
  EXPECT_EQ(EraseFlashSector(*t.link, 0x100000), kErrEraseFailed);  // nothing
  EXPECT_EQ(t.sim.ReadMemory(0x80000, 16), loader);
  EXPECT_EQ(t.Exchange({0x04, 0x00, 0x08, 0x41, 0x00}), (Bytes{0x04, kFlashRefused}));
}

TEST(SimCommands, ChecksumMatchesTheStampsAndStartHandsOver) {
  InProcess t(Options{});
  ASSERT_EQ(t.Open(), 0);
  // The demo's kernel header at 0x88000.
  const Bytes h = t.sim.ReadMemory(0x88000, 14);
  const uint32_t start = (uint32_t{h[4]} << 24) | (h[5] << 16) | (h[6] << 8) | h[7];
  const uint32_t length = (uint32_t{h[8]} << 24) | (h[9] << 16) | (h[10] << 8) | h[11];
  uint16_t sum = 0;
  ASSERT_EQ(GetTargetChecksum(*t.link, start, length, sum), 0);
  EXPECT_EQ(sum, (h[12] << 8) | h[13]);
  ASSERT_EQ(GetTargetChecksum(*t.link, 0x40000, 4, sum), 0);
  EXPECT_EQ(sum, 0);
  ASSERT_EQ(GetTargetChecksum(*t.link, 0x80000, 0xFFFFFFFF, sum), 0);  // no 4 GiB sum
  EXPECT_EQ(sum, 0);

  // Command 6 answers, then the application runs at 9600 and answers no
  // loader packet; "START LOADER" brings the loader back at its boot rate.
  ASSERT_EQ(StartTargetApplication(*t.link), 0);
  EXPECT_TRUE(t.sim.InApplication());
  EXPECT_EQ(t.Open(9600), kErrNoReply);
  ASSERT_EQ(t.link->OpenLinkPlain(0, 9600), 0);
  EXPECT_EQ(SendTextCommand(*t.link, "START LOADER"), 2);
  EXPECT_FALSE(t.sim.InApplication());
  t.link->CloseLink();
  ASSERT_EQ(t.Open(38400), 0);
  EXPECT_EQ(t.sim.ListeningRate(), 38400u);
}

TEST(SimCommands, BusyApplicationStays) {
  Options o;
  o.app = true;
  o.busy = true;
  o.boot_rate = 38400;
  InProcess t(o);
  ASSERT_EQ(t.link->OpenLinkPlain(0, 9600), 0);
  EXPECT_EQ(SendTextCommand(*t.link, "START LOADER"), 1);
  EXPECT_EQ(SendTextCommand(*t.link, "START LOADER?"), 0);  // no answer at all
  EXPECT_TRUE(t.sim.InApplication());
  t.link->CloseLink();

  o.busy = false;
  InProcess ok(o);
  ASSERT_EQ(ok.link->OpenLinkPlain(0, 9600), 0);
  EXPECT_EQ(SendTextCommand(*ok.link, "START LOADER"), 2);
  EXPECT_EQ(ok.sim.ListeningRate(), 38400u);
}

TEST(SimNegotiation, RatesAndLimits) {
  {
    InProcess t(Options{});  // boot rate 9600
    const uint64_t before = t.port->NowNs();
    ASSERT_EQ(t.Open(38400), 0);
    EXPECT_EQ(t.port->Baud(), 38400u);
    EXPECT_EQ(t.sim.ListeningRate(), 38400u);
    // The silent probe at 38400 and the pause after the switch passed on
    // the virtual clock.
    EXPECT_GE(t.port->NowNs() - before, 700'000'000u);
    EXPECT_GT(t.sim.stats().bytes_not_understood, 0u);
    uint8_t v[3];
    EXPECT_EQ(GetLoaderVersion(*t.link, v[0], v[1], v[2]), 0);
  }
  {
    Options o;
    o.max_rate = 19200;
    InProcess t(o);
    ASSERT_EQ(t.Open(115200), 0);
    EXPECT_EQ(t.port->Baud(), 19200u);
  }
  {
    Options o;
    o.boot_rate = 38400;
    InProcess t(o);
    ASSERT_EQ(t.Open(38400), 0);  // answered at once: no rate packet
    EXPECT_EQ(t.sim.stats().frames_from_host, 1u);
  }
}

TEST(SimFrames, FlagsLengthsChecksumsAndTheRateRule) {
  InProcess t(Blank());
  ASSERT_EQ(t.port->OpenPort("/dev/sim"), 0);
  Bytes reply;
  // Flags 0: the probe; flags 8: the version command with the same payload.
  EXPECT_EQ(t.Raw({0x00, 0x01, 0x01}, reply), 3);
  EXPECT_EQ(reply, (Bytes{0x00, 0x01, 0x01}));
  EXPECT_EQ(t.Raw({0x08, 0x01, 0x01}, reply), 6);
  EXPECT_EQ(t.Raw({0xC8, 0x01, 0x01}, reply), 6);  // sequence bits are not checked
  // A header length that disagrees with the packet: no answer.
  EXPECT_EQ(t.Raw({0x08, 0x02, 0x01}, reply), kErrTimeout);
  // A bad checksum: no answer.
  const Bytes bad{0x10, 0x02, 0x08, 0x01, 0x01, 0x10, 0x03, 0x09};
  t.port->WritePort(bad.size(), bad.data());
  uint8_t b = 0;
  EXPECT_EQ(t.port->ReadPortByte(&b, 300), kErrTimeout);
  EXPECT_EQ(t.sim.stats().frames_ignored, 2u);
  // A reply header carries the length's high bits in byte 0.
  t.sim.WriteMemory(0x10000, Bytes(1024, 0x42));
  EXPECT_EQ(t.Raw({0x08, 0x07, 0x02, 0x00, 0x01, 0x00, 0x00, 0x04, 0x00}, reply), 1033);
  EXPECT_EQ(reply[0], 0x04);
  EXPECT_EQ(reply[1], 0x07);
  // At another rate nothing is understood.
  ASSERT_EQ(t.port->SetPortBaud(19200), 0);
  EXPECT_EQ(t.Raw({0x00, 0x01, 0x01}, reply), kErrTimeout);
  EXPECT_EQ(t.sim.stats().bytes_not_understood, 8u);
  // A frame cut short by a lost byte does not swallow the next attempt.
  ASSERT_EQ(t.port->SetPortBaud(9600), 0);
  const Bytes cut{0x10, 0x02, 0x08, 0x01};
  t.port->WritePort(cut.size(), cut.data());
  EXPECT_EQ(t.Raw({0x08, 0x01, 0x01}, reply), 6);
}

}  // namespace
}  // namespace vok::sim::test
