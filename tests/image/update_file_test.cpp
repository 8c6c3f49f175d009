#include <gtest/gtest.h>

#include <fstream>

#include "image/srecord.h"
#include "image/update_file.h"
#include "support/recorders.h"
#include "support/temp_dir.h"
#include "test_util.h"

namespace vok {
namespace {

using Ranges = std::vector<std::pair<uint32_t, uint32_t>>;  // start, length

struct Loaded {
  int result;
  std::vector<std::string> messages;
  Ranges ranges;
};

class UpdateFileTest : public ::testing::Test {
 public:
  void SetUp() override { ASSERT_EQ(image.Open(0, dir.folder()), 0); }

  Loaded Load(const std::string& content) {
    test::WriteBytes(dir.file("u.sss"), content);
    return LoadPath(dir.file("u.sss"));
  }
  Loaded LoadPath(const std::string& path) {
    test::ScriptedUi ui;
    list.DeleteAll();
    Loaded out;
    out.result = LoadUpdateFile(path, image, list, ui);
    for (const auto& m : ui.messages) {
      EXPECT_EQ(m.icon, Icon::Stop);
      EXPECT_EQ(m.buttons, Buttons::Ok);
      EXPECT_EQ(m.title, "VOK Loader");
      out.messages.push_back(m.text);
    }
    for (const CMemoryRange& r : list) {
      EXPECT_EQ(r.GetKind(), CMemoryRange::kByLength);
      out.ranges.emplace_back(r.GetStart(), r.GetLength());
    }
    return out;
  }
  std::vector<uint8_t> Fetch(uint32_t address, uint32_t n) {
    std::vector<uint8_t> b(n);
    image.Fetch(address, b.data(), n);
    return b;
  }

  test::TempDir dir;
  MemoryImage image;
  MemoryRangeList list;
};

std::string Line(char type, uint32_t address, const std::vector<uint8_t>& data) {
  return test::Record(type, address, data) + "\r\n";
}

const std::vector<uint8_t> k32a = test::Pattern(32, 1), k32b = test::Pattern(32, 2),
                           k16 = test::Pattern(16, 3);

TEST_F(UpdateFileTest, RunsAndRanges) {
  Loaded l = Load(Line('0', 0, {'h', 'i'}) + Line('2', 0x84000, k32a) + Line('2', 0x84020, k32b) +
                  Line('2', 0x90000, k16) + "S804000000FB\r\n");
  EXPECT_EQ(l.result, 1);
  EXPECT_EQ(l.ranges, (Ranges{{0x84000, 0x40}, {0x90000, 0x10}}));
  std::vector<uint8_t> both = k32a;
  both.insert(both.end(), k32b.begin(), k32b.end());
  EXPECT_EQ(Fetch(0x84000, 0x40), both);

  l = Load(Line('2', 0x84020, k32b) + Line('2', 0x84000, k32a));
  EXPECT_EQ(l.ranges, (Ranges{{0x84000, 0x20}, {0x84020, 0x20}}));

  // Overlapping records: later bytes win, the runs stay apart.
  l = Load(Line('2', 0x84000, k32a) + Line('2', 0x84010, k16));
  EXPECT_EQ(l.ranges, (Ranges{{0x84000, 0x20}, {0x84010, 0x10}}));
  EXPECT_EQ(Fetch(0x84010, 16), k16);
}

TEST_F(UpdateFileTest, LinesThatCarryNoData) {
  for (std::string content : {Line('0', 0, {'a'}) + "S9030000FC\r\n", std::string()}) {
    Loaded l = Load(content);
    EXPECT_EQ(l.result, 1);
    EXPECT_TRUE(l.ranges.empty());
    EXPECT_EQ(image.GetExtentLength(), 0u);
  }
  // Type 5 is skipped whatever it holds; a type-9 line with data is data.
  Loaded l = Load("S5garbage\r\n" + Line('9', 0x1000, {1, 2}));
  EXPECT_EQ(l.result, 1);
  EXPECT_EQ(l.ranges, (Ranges{{0x1000, 2}}));
  // Line ends: LF alone, CR LF, none on the last line, all load alike.
  std::string a = test::Record('2', 0x84000, k32a), b = test::Record('2', 0x84020, k32b);
  for (std::string content : {a + "\n" + b + "\n", a + "\r\n" + b, a + "\n" + b + "\r\n"}) {
    l = Load(content);
    EXPECT_EQ(l.result, 1);
    EXPECT_EQ(l.ranges, (Ranges{{0x84000, 0x40}}));
  }
  // Records longer than this system writes: 250 data bytes of type 3.
  std::vector<uint8_t> big = test::Pattern(250, 9);
  l = Load(Line('3', 0x12345, big));
  EXPECT_EQ(l.result, 1);
  EXPECT_EQ(Fetch(0x12345, 250), big);
}

TEST_F(UpdateFileTest, Failures) {
  const std::string good = Line('2', 0x84000, k32a);
  for (std::string bad : {std::string("\r\n"), std::string(" ") + good, std::string("S1011234B8"),
                          test::Record('2', 0x84020, k32b).substr(0, 40),
                          std::string("S3FF") + std::string(600, '0'),
                          std::string("S2") + std::string(100000, 'F')}) {
    Loaded l = Load(good + bad + "\r\n" + Line('2', 0x90000, k16));
    EXPECT_EQ(l.result, 0);
    EXPECT_EQ(l.messages, std::vector<std::string>{"Update file format error"}) << bad.substr(0, 20);
    EXPECT_EQ(Fetch(0x84000, 32), k32a);  // what came before stays
    EXPECT_EQ(Fetch(0x90000, 1), std::vector<uint8_t>{0xFF});
  }
  // A blank line after the last record.
  EXPECT_EQ(Load(good + "\r\n").messages, std::vector<std::string>{"Update file format error"});
  // Wrong checksum.
  std::string wrong = good;
  wrong[wrong.size() - 3] = wrong[wrong.size() - 3] == '0' ? '1' : '0';
  EXPECT_EQ(Load(wrong).messages, std::vector<std::string>{"Update file format error"});

  Loaded l = Load(Line('3', 0xFFFFF0, k32a));
  EXPECT_EQ(l.result, 0);
  EXPECT_EQ(l.messages, std::vector<std::string>{"Cannot store data in memory image"});
  l = LoadPath(dir.file("none.sss"));
  EXPECT_EQ(l.result, 0);
  EXPECT_EQ(l.messages, std::vector<std::string>{"Cannot open update file"});
}

// 100,000 records with gaps, every one its own run. Whatever the order, each
// byte of the image file is written once (data or filler) and the ranges
// come out ascending: no order of records may make loading quadratic.
void LoadsInLinearCost(UpdateFileTest& t, bool descending) {
  constexpr uint32_t kRecords = 100000;
  {
    std::ofstream out(t.dir.file("order.sss"), std::ios::binary);
    std::vector<uint8_t> data(16, 0x5A);
    for (uint32_t i = 0; i < kRecords; ++i)
      out << Line('3', (descending ? kRecords - 1 - i : i) * 32, data);
  }
  Loaded l = t.LoadPath(t.dir.file("order.sss"));
  EXPECT_EQ(l.result, 1);
  ASSERT_EQ(l.ranges.size(), kRecords);
  for (uint32_t i = 0; i < kRecords; ++i)
    ASSERT_EQ(l.ranges[i], (std::pair<uint32_t, uint32_t>{i * 32, 16})) << i;
  EXPECT_EQ(t.image.GetExtentLength(), (kRecords - 1) * 32 + 16);
  EXPECT_EQ(t.image.GetBytesWritten(), t.image.GetExtentLength());
  EXPECT_EQ(t.Fetch(31 * 32 + 14, 4), (std::vector<uint8_t>{0x5A, 0x5A, 0xFF, 0xFF}));
}

TEST_F(UpdateFileTest, AscendingRecordsLoadInLinearCost) { LoadsInLinearCost(*this, false); }
TEST_F(UpdateFileTest, DescendingRecordsLoadInLinearCost) { LoadsInLinearCost(*this, true); }

}  // namespace
}  // namespace vok
