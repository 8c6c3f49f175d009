#include <gtest/gtest.h>

#include <map>
#include <set>

#include "image/srecord.h"
#include "image/target_memory.h"
#include "link/checksum16.h"
#include "link/link_error.h"
#include "sim/inprocess_port.h"
#include "sim/simulator.h"
#include "support/recorders.h"
#include "support/temp_dir.h"
#include "test_util.h"

namespace vok {
namespace {

using R = CMemoryRange;
using Ends = std::vector<std::pair<uint32_t, uint32_t>>;

Ends EndsOf(const MemoryRangeList& list) {
  Ends out;
  for (const R& r : list) out.emplace_back(r.GetStart(), r.GetEnd());
  return out;
}

struct Touched {
  Ends sectors, kept;
};

Touched Find(std::vector<R> updates) {
  MemoryRangeList update, kept, touched;
  for (const R& r : updates) update.AddSorted(r);
  FindTouchedSectors(update, kept, touched);
  for (const R& r : touched) EXPECT_EQ(r.GetKind(), R::kByLength);
  for (const R& r : kept) EXPECT_EQ(r.GetKind(), R::kByEnd);
  return {EndsOf(touched), EndsOf(kept)};
}

TEST(TargetMemory, TouchedSectorsAndKeptRanges) {
  Touched t = Find({R(0x10000, 0x3FFFF, R::kByEnd), R(0x80000, 0x83FFF, R::kByEnd)});
  EXPECT_TRUE(t.sectors.empty());
  EXPECT_TRUE(t.kept.empty());
  t = Find({R(0x84100, 0x841FF, R::kByEnd)});
  EXPECT_EQ(t.sectors, (Ends{{0x84000, 0x85FFF}}));
  EXPECT_EQ(t.kept, (Ends{{0x84000, 0x840FF}, {0x84200, 0x85FFF}}));
  t = Find({R(0x85F00, 0x860FF, R::kByEnd)});
  EXPECT_EQ(t.sectors, (Ends{{0x84000, 0x85FFF}, {0x86000, 0x87FFF}}));
  EXPECT_EQ(t.kept, (Ends{{0x84000, 0x85EFF}, {0x86100, 0x87FFF}}));
  // Sector 6 filled by two touching runs; sector 3 touched at its last byte.
  t = Find({R(0xF0000, 0xFFFFF, R::kByEnd), R(0xE0000, 0xEFFFF, R::kByEnd),
            R(0x9FFFF, 1, R::kByLength)});
  EXPECT_EQ(t.sectors, (Ends{{0x88000, 0x9FFFF}, {0xE0000, 0xFFFFF}}));
  EXPECT_EQ(t.kept, (Ends{{0x88000, 0x9FFFE}}));
}

// A target whose memory is a function of the address: the reads it was asked
// for are listed; the read numbered fail_at fails, the ones in damaged come
// back with two bits flipped (differently each time), and its loader's
// checksum is the catalogue's algorithm, or one of its own when there is none.
struct FakeTarget {
  static uint8_t Byte(uint32_t address) { return static_cast<uint8_t>(address * 7); }
  int operator()(uint32_t address, uint16_t length, uint8_t* destination) {
    reads.emplace_back(address, length);
    if (fail_at && reads.size() == fail_at) return kErrTimeout;
    for (uint16_t i = 0; i < length; ++i) destination[i] = Byte(address + i);
    if (damaged.count(reads.size())) {
      const auto bit = static_cast<uint8_t>(1u << (reads.size() % 8));
      destination[0] ^= bit;
      destination[length / 2] ^= bit;
    }
    return 0;
  }
  LoaderChecksum Checks(const Checksum16* algorithm) {
    return LoaderChecksum([algorithm](uint32_t start, uint32_t length, uint16_t& sum) {
      std::vector<uint8_t> bytes(length);
      for (uint32_t i = 0; i < length; ++i) bytes[i] = Byte(start + i);
      sum = algorithm ? ComputeChecksum(*algorithm, bytes.data(), length) : static_cast<uint16_t>(length * 31);
      return 0;
    });
  }
  std::vector<std::pair<uint32_t, uint16_t>> reads;
  size_t fail_at = 0;
  std::set<size_t> damaged;
};

const Checksum16* const kCcitt = FindChecksum("CRC-16/CCITT-FALSE");

TEST(TargetMemory, ReadRangeIntoImageInPieces) {
  test::TempDir dir;
  MemoryImage image;
  ASSERT_EQ(image.Open(0, dir.folder()), 0);
  FakeTarget target;
  LoaderChecksum checks = target.Checks(kCcitt);
  test::ScriptedUi ui;
  test::RecordingProgress bar;
  ASSERT_EQ(ReadRangeIntoImage(std::ref(target), checks, image, R(0x84000, 2500, R::kByLength), &bar, ui), 1);
  using Reads = std::vector<std::pair<uint32_t, uint16_t>>;
  EXPECT_EQ(target.reads, (Reads{{0x84000, 1024}, {0x84400, 1024}, {0x84800, 452}}));
  using Calls = std::vector<std::pair<uint32_t, uint32_t>>;
  EXPECT_EQ(bar.calls, (Calls{{2500, 1024}, {2500, 2048}, {2500, 2500}, {0, 0}}));
  uint8_t b[2];
  image.Fetch(0x849C3, b, 2);
  EXPECT_EQ(b[0], static_cast<uint8_t>(0x849C3 * 7));
  EXPECT_EQ(b[1], 0xFF);
  EXPECT_TRUE(ui.messages.empty());

  target.reads.clear();
  EXPECT_EQ(ReadRangeIntoImage(std::ref(target), checks, image, R(0x1000, 0, R::kByLength), nullptr, ui), 1);
  EXPECT_TRUE(target.reads.empty());

  // A failing read: its code in the message; nothing unconfirmed is stored.
  target.fail_at = 2;
  bar.calls.clear();
  EXPECT_EQ(ReadRangeIntoImage(std::ref(target), checks, image, R(0x90000, 4096, R::kByLength), &bar, ui), 0);
  EXPECT_EQ(target.reads.size(), 2u);
  EXPECT_TRUE(bar.calls.empty());
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Reading target memory failed (-1002) !");
  EXPECT_EQ(ui.messages[0].icon, Icon::Stop);

  // The image refuses what lies beyond 16 MiB.
  target.fail_at = 0;
  EXPECT_EQ(ReadRangeIntoImage(std::ref(target), checks, image, R(0xFFFE00, 1024, R::kByLength), nullptr, ui), 0);
  EXPECT_EQ(ui.messages.back().text, "Cannot store data in memory image");
}

// Three pieces read, some reads damaged, by a loader whose checksum is
// known, of no known kind, or still to be identified on these pieces: what
// is read, what is kept, and what the checksum is taken for after.
TEST(TargetMemory, EveryPieceReadIsConfirmed) {
  using State = LoaderChecksum::State;
  struct Case {
    bool identified_before;
    const Checksum16* algorithm;
    std::set<size_t> damaged;
    size_t reads;
    int result;
    State after;
  };
  const Case cases[] = {
      {true, kCcitt, {}, 3, 1, State::kKnown},         {true, kCcitt, {2}, 4, 1, State::kKnown},
      {true, kCcitt, {2, 4, 5}, 5, 0, State::kKnown},  {true, nullptr, {}, 6, 1, State::kUnknown},
      {true, nullptr, {2}, 7, 1, State::kUnknown},     {true, nullptr, {5}, 7, 1, State::kUnknown},
      {true, nullptr, {5, 6}, 6, 0, State::kUnknown},  {false, kCcitt, {}, 3, 1, State::kKnown},
      // A damaged first piece is no sample.
      {false, kCcitt, {1}, 7, 1, State::kIdentifying},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.identified_before << (c.algorithm ? " known " : " unknown ")
                                      << c.damaged.size() << " damaged");
    test::TempDir dir;
    MemoryImage image;
    ASSERT_EQ(image.Open(0, dir.folder()), 0);
    FakeTarget target;
    LoaderChecksum checks = target.Checks(c.algorithm);
    test::ScriptedUi ui;
    if (c.identified_before) {
      ASSERT_EQ(ReadRangeIntoImage(std::ref(target), checks, image, R(0x20000, 1024, R::kByLength), nullptr, ui), 1);
    }
    target.reads.clear();
    target.damaged = c.damaged;
    EXPECT_EQ(ReadRangeIntoImage(std::ref(target), checks, image, R(0x84000, 3000, R::kByLength), nullptr, ui),
              c.result);
    EXPECT_EQ(target.reads.size(), c.reads);
    EXPECT_EQ(checks.state(), c.after);
    if (c.result == 0) {
      EXPECT_EQ(ui.MessageTexts(), std::vector<std::string>{
                                       "Reading target memory failed at 0x00084400: the bytes read could not be confirmed"});
      continue;
    }
    std::vector<uint8_t> got(3000);
    image.Fetch(0x84000, got.data(), got.size());
    for (uint32_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], FakeTarget::Byte(0x84000 + i)) << i;
    if (c.after == State::kUnknown) {
      EXPECT_EQ(ChecksMethod(checks), "reading (loader checksum of no known kind)");
    }
  }
}

std::vector<std::string> Lines(const std::string& disk) {
  std::vector<std::string> lines;
  size_t at = 0;
  for (size_t crlf; (crlf = disk.find("\r\n", at)) != std::string::npos; at = crlf + 2)
    lines.push_back(disk.substr(at, crlf - at));
  EXPECT_EQ(at, disk.size()) << "every line ends in CR LF";
  return lines;
}

TEST(TargetMemory, CopyRangeToFileRecordTypesAndLines) {
  test::TempDir dir;
  FakeTarget target;
  LoaderChecksum checks = target.Checks(kCcitt);
  test::ScriptedUi ui;
  auto copy = [&](R range) {
    TextFile file;
    file.Open(dir.file("b.sss"), FileMode::kCreate);
    EXPECT_EQ(CopyRangeToFile(std::ref(target), checks, file, range, nullptr, ui), 1);
    file.Close();
    return Lines(test::ReadFile(dir.file("b.sss")));
  };
  EXPECT_EQ(copy(R(0x100, 0, R::kByLength)), std::vector<std::string>{"S9030000FC"});
  std::vector<std::string> lines = copy(R(0xFC18, 0xFFFF, R::kByEnd));  // 1000 bytes
  ASSERT_EQ(lines.size(), 17u);
  EXPECT_EQ(lines[0].substr(0, 8), "S143FC18");
  EXPECT_EQ(lines[15].substr(0, 8), "S12BFFD8");  // 40 bytes at 0xFFD8
  EXPECT_EQ(lines[16], "S9030000FC");
  lines = copy(R(0xFFFFFF00, 0x100, R::kByLength));
  EXPECT_EQ(lines.back(), "S70500000000FA");
  EXPECT_EQ(lines[0].substr(0, 4), "S345");
  EXPECT_TRUE(ui.messages.empty());

  // A failing read writes nothing unconfirmed, and no terminator.
  target.fail_at = target.reads.size() + 2;
  TextFile file;
  file.Open(dir.file("c.sss"), FileMode::kCreate);
  EXPECT_EQ(CopyRangeToFile(std::ref(target), checks, file, R(0x10000, 4096, R::kByLength), nullptr, ui), 0);
  file.Close();
  EXPECT_EQ(Lines(test::ReadFile(dir.file("c.sss"))).size(), 0u);
  EXPECT_EQ(ui.MessageTexts(), std::vector<std::string>{"Reading target memory failed (-1002) !"});
}

// The real link against the simulated controller, on virtual time.
struct SimTarget {
  explicit SimTarget(sim::Options o = Blank()) : sim(o), link(std::make_unique<sim::InProcessPort>(sim)) {
    EXPECT_EQ(link.OpenLink("COM1", 38400), 0);
  }
  static sim::Options Blank() {
    sim::Options o;
    o.demo_firmware = false;
    return o;
  }
  sim::Simulator sim;
  LoaderLink link;
};

TEST(TargetMemory, AgainstSimulatedController) {
  SimTarget target;
  const std::vector<uint8_t> ram = test::Pattern(0x30000, 77);
  target.sim.WriteMemory(0x10000, ram);
  test::TempDir dir;
  test::ScriptedUi ui;
  test::RecordingProgress bar;

  // The RAM area as a backup writes it.
  TextFile file;
  ASSERT_EQ(CreateSRecordFile(file, dir.file("bk.sss"), " \r\nBackup\r\n"), 1);
  LoaderChecksum checks(target.link);
  ASSERT_EQ(CopyRangeToFile(target.link, checks, file, R(0x10000, 0x3FFFF, R::kByEnd), &bar, ui), 1);
  file.Close();
  std::vector<std::string> lines = Lines(test::ReadFile(dir.file("bk.sss")));
  ASSERT_EQ(lines.size(), 1 + 3072 + 1u);
  EXPECT_EQ(lines[1] + "\r\n", test::SRecordLine('2', 0x10000, {ram.begin(), ram.begin() + 64}));
  EXPECT_EQ(lines[3072] + "\r\n", test::SRecordLine('2', 0x3FFC0, {ram.end() - 64, ram.end()}));
  EXPECT_EQ(lines[3073], "S804000000FB");
  EXPECT_EQ(bar.calls.size(), 0x30000 / 1024 + 1u);
  EXPECT_EQ(bar.calls.back(), (std::pair<uint32_t, uint32_t>{0, 0}));

  // Erased flash and RAM into the image.
  MemoryImage image;
  ASSERT_EQ(image.Open(0, dir.folder()), 0);
  ASSERT_EQ(ReadRangeIntoImage(target.link, checks, image, R(0x3FC00, 0x84FFF, R::kByEnd), nullptr, ui), 0);
  // 0x40000 to 0x7FFFF is neither RAM nor flash: the loader refuses it.
  EXPECT_EQ(ui.MessageTexts(),
            std::vector<std::string>{"Reading target memory failed (" + std::to_string(kErrReadLength) + ") !"});
  ASSERT_EQ(ReadRangeIntoImage(target.link, checks, image, R(0x84000, 0x84FFF, R::kByEnd), nullptr, ui), 1);
  ASSERT_EQ(ReadRangeIntoImage(target.link, checks, image, R(0x20000, 0x2FFFF, R::kByEnd), nullptr, ui), 1);
  std::vector<uint8_t> got(0x10000);
  image.Fetch(0x20000, got.data(), 0x10000);
  EXPECT_TRUE(std::equal(got.begin(), got.end(), ram.begin() + 0x10000));
  image.Fetch(0x84000, got.data(), 0x1000);
  EXPECT_TRUE(std::all_of(got.begin(), got.begin() + 0x1000, [](uint8_t b) { return b == 0xFF; }));
  EXPECT_EQ(checks.Algorithm(), kCcitt);
}

// The host's catalogue against the simulated loader's own implementations
// of its algorithms: each is named, the one of its own found unknown, and
// the bytes come out right either way.
TEST(TargetMemory, LoaderChecksumIdentifiedAgainstSimulatedController) {
  const std::vector<std::string>& names = sim::LoaderSumNames();
  for (size_t i = 0; i < names.size(); ++i) {
    sim::Options o = SimTarget::Blank();
    o.checksum = static_cast<sim::LoaderSum>(i);
    SimTarget target(o);
    target.sim.WriteMemory(0x10000, test::Pattern(0x3000, 9));
    test::TempDir dir;
    MemoryImage image;
    ASSERT_EQ(image.Open(0, dir.folder()), 0);
    test::ScriptedUi ui;
    LoaderChecksum checks(target.link);
    ASSERT_EQ(ReadRangeIntoImage(target.link, checks, image, R(0x10000, 0x3000, R::kByLength), nullptr, ui), 1);
    const Checksum16* found = checks.Algorithm();
    EXPECT_EQ(found ? std::string(found->name) : "none", names[i] == "OWN" ? "none" : names[i]);
    std::vector<uint8_t> got(0x3000);
    image.Fetch(0x10000, got.data(), got.size());
    EXPECT_EQ(got, test::Pattern(0x3000, 9)) << names[i];
  }
}

}  // namespace
}  // namespace vok
