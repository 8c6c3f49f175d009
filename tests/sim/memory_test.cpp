#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "sim/simulator.h"
#include "sim/srecord_reader.h"
#include "sim_fixture.h"
#include "support/temp_dir.h"

namespace vok::sim::test {
namespace {

uint32_t Be32(const Bytes& b, size_t at) {
  return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) | b[at + 3];
}

struct Header {
  uint32_t at, start, length;
  uint16_t stored;
  uint8_t type;
  std::string name;
};

std::vector<Header> Headers(const Simulator& sim) {
  std::vector<Header> out;
  for (uint32_t at = kFlashStart; at < 0x100000; at += 0x1000) {
    const Bytes h = sim.ReadMemory(at, 64);
    if (Be32(h, 0) != kHeaderMagic) continue;
    const char* n = reinterpret_cast<const char*>(h.data() + 22);
    out.push_back({at, Be32(h, 4), Be32(h, 8), static_cast<uint16_t>((h[12] << 8) | h[13]), h[14],
                   std::string(n, strnlen(n, 42))});
  }
  return out;
}

uint16_t ChecksumOf(const Simulator& sim, uint32_t start, uint32_t length) {
  const Bytes d = sim.ReadMemory(start, length);
  return Simulator::Checksum(d.data(), d.size());
}

TEST(SimMemory, MapChecksumAndDirectAccess) {
  Simulator sim(Blank());
  // Erased flash, cleared RAM, nothing elsewhere (absent reads as 0xFF).
  EXPECT_EQ(sim.ReadMemory(0x84000, 2), (Bytes{0xFF, 0xFF}));
  EXPECT_EQ(sim.ReadMemory(0x10000, 2), (Bytes{0x00, 0x00}));
  EXPECT_EQ(sim.ReadMemory(0x3FFFF, 2), (Bytes{0x00, 0xFF}));
  sim.WriteMemory(0x0FFFF, {1, 2});  // first byte absent, second is RAM
  sim.WriteMemory(0x84000, {0x00});  // direct writes ignore the flash rules
  sim.WriteMemory(0x84000, {0x5A});
  EXPECT_EQ(sim.ReadMemory(0x0FFFF, 2), (Bytes{0xFF, 2}));
  EXPECT_EQ(sim.ReadMemory(0x84000, 1), (Bytes{0x5A}));
  EXPECT_EQ(sim.ReadMemory(0xFFFFFFFF, 2), (Bytes{0xFF, 0xFF}));  // no wrap to address 0

  const char* check = "123456789";  // CRC-16/CCITT-FALSE check value
  EXPECT_EQ(Simulator::Checksum(reinterpret_cast<const uint8_t*>(check), 9), 0x29B1);
  EXPECT_EQ(Simulator::Checksum(nullptr, 0), 0xFFFF);
}

TEST(SimMemory, DemoFirmwareIsAPlausibleStampedListing) {
  Simulator sim(Options{});
  const std::vector<Header> headers = Headers(sim);
  ASSERT_GE(headers.size(), 3u);
  ASSERT_LE(headers.size(), 5u);
  std::set<uint8_t> types;
  int texts = 0;
  for (const Header& h : headers) {
    SCOPED_TRACE(h.name);
    types.insert(h.type);
    EXPECT_EQ(h.stored, ChecksumOf(sim, h.start, h.length));
    EXPECT_GE(h.start, h.at + 64);
    if (h.type == 0 && h.length <= 256) {
      ++texts;
      const Bytes t = sim.ReadMemory(h.start, h.length);
      EXPECT_EQ(std::string(t.begin(), t.begin() + 24), "VOK System configuration");
    }
  }
  EXPECT_EQ(types.size(), headers.size());
  EXPECT_EQ(texts, 1);
  // The loader's own flash holds code; the RAM holds something to back up.
  EXPECT_NE(sim.ReadMemory(0x80000, 4), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(SimMemory, ComponentsAreStampedAndSpoiled) {
  Simulator sim(Blank());
  sim.WriteMemory(0x90100, {1, 2, 3, 4, 5});
  ComponentLayout c;
  c.type = 7;
  c.version[0] = 4;
  c.name = std::string(42, 'N');  // fills the field, no zero byte
  c.start = 0x90100;
  c.length = 5;
  ASSERT_TRUE(sim.AddComponent(c));
  std::vector<Header> h = Headers(sim);
  ASSERT_EQ(h.size(), 1u);
  EXPECT_EQ(h[0].at, 0x90000u);  // the last boundary that leaves room before the data
  EXPECT_EQ(h[0].name, c.name);
  EXPECT_EQ(h[0].stored, ChecksumOf(sim, 0x90100, 5));
  EXPECT_EQ(sim.ReadMemory(0x9000E, 4), (Bytes{7, 4, 0, 0}));

  ASSERT_TRUE(sim.SpoilChecksum(c.name));
  const uint16_t spoiled = Headers(sim)[0].stored;
  EXPECT_NE(spoiled, ChecksumOf(sim, 0x90100, 5));
  ASSERT_TRUE(sim.SpoilChecksum(c.name));  // the same wrong value again
  EXPECT_EQ(Headers(sim)[0].stored, spoiled);
  EXPECT_FALSE(sim.SpoilChecksum("nobody"));

  ComponentLayout bad = c;
  bad.start = 0x80010;  // no boundary in flash before it
  EXPECT_FALSE(sim.AddComponent(bad));
  bad.start = 0x90040;
  bad.length = 0x70000;  // data run past the end of flash
  EXPECT_FALSE(sim.AddComponent(bad));
}

TEST(SimMemory, StateFileCarriesMemoryAcrossStarts) {
  vok::test::TempDir dir;
  Options o = Blank();
  o.state_file = dir.file("state");
  {
    Simulator first(o);
    ASSERT_EQ(first.StartError(), "");
    first.WriteMemory(0x84000, {0x12, 0x34});
    first.WriteMemory(0x20000, {0x56});
    ASSERT_TRUE(first.SaveState());
  }
  EXPECT_FALSE(std::filesystem::exists(o.state_file + ".tmp"));
  // With a state file, memory is the file's: not the demo, no components.
  Options again = o;
  again.demo_firmware = true;
  again.components.push_back(ComponentLayout{1, {1, 0, 0}, "x", 0x84000, 2, 0});
  Simulator second(again);
  ASSERT_EQ(second.StartError(), "");
  EXPECT_EQ(second.ReadMemory(0x84000, 2), (Bytes{0x12, 0x34}));
  EXPECT_EQ(second.ReadMemory(0x20000, 1), (Bytes{0x56}));
  EXPECT_TRUE(Headers(second).empty());

  std::ofstream(o.state_file, std::ios::trunc) << "not a state";
  Simulator broken(o);
  EXPECT_NE(broken.StartError().find("not a voksim state file"), std::string::npos);
}

TEST(SimMemory, ImageFileLoadsSRecords) {
  vok::test::TempDir dir;
  const std::string path = dir.file("image.sss");
  {
    std::ofstream f(path);
    f << "S00600004844521B\r\n"          // header
      << "S208084000FFFFFFFFB3\r\n"      // S2 at 0x84000
      << "S20809000001020304E4\r\n"      // S2 at 0x90000
      << "S30900010000AABBCCDDE7\r\n"    // S3 in RAM
      << "S804000000FB\r\n";
  }
  Options o;
  o.image_file = path;
  o.components.push_back(ComponentLayout{2, {1, 2, 3}, "Image part", 0x90000, 4, 0x8F000});
  Simulator sim(o);
  ASSERT_EQ(sim.StartError(), "");
  EXPECT_EQ(sim.ReadMemory(0x90000, 4), (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(sim.ReadMemory(0x10000, 4), (Bytes{0xAA, 0xBB, 0xCC, 0xDD}));
  EXPECT_EQ(sim.ReadMemory(0x80000, 1), (Bytes{0xFF}));  // no demo firmware underneath
  ASSERT_EQ(Headers(sim).size(), 1u);
  EXPECT_EQ(Headers(sim)[0].at, 0x8F000u);
  EXPECT_EQ(Headers(sim)[0].stored, ChecksumOf(sim, 0x90000, 4));

  Options spoiled = o;
  spoiled.bad_checksum = {"Image part"};
  Simulator bad_stamp(spoiled);
  ASSERT_EQ(bad_stamp.StartError(), "");
  EXPECT_NE(Headers(bad_stamp)[0].stored, ChecksumOf(bad_stamp, 0x90000, 4));
  spoiled.bad_checksum = {"Nothing"};
  EXPECT_NE(Simulator(spoiled).StartError(), "");

  int data_records = 0;
  auto count = [&](uint32_t, const uint8_t*, size_t) { ++data_records; };
  EXPECT_EQ(ParseSRecordLine("S10512340102B1", count), 1);
  EXPECT_EQ(ParseSRecordLine("S10512340102B2", count), -1);  // checksum
  EXPECT_EQ(ParseSRecordLine("S1051234010", count), -1);     // odd length
  EXPECT_EQ(ParseSRecordLine("S9030000FC", count), 0);
  EXPECT_EQ(data_records, 1);

  std::ofstream(path, std::ios::app) << "S10512340102B1\r\n";  // 0x1234 is no memory
  Simulator outside(o);
  EXPECT_NE(outside.StartError().find("outside RAM and flash"), std::string::npos);
  std::ofstream(path, std::ios::app) << "S1zz\r\n";
  Simulator bad(o);
  EXPECT_NE(bad.StartError().find(":7:"), std::string::npos);
}

}  // namespace
}  // namespace vok::sim::test
