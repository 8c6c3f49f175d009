#include <gtest/gtest.h>

#include <fstream>

#include "image/srecord.h"
#include "image/update_file.h"
#include "support/firmware_text.h"
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
    test::WriteFile(dir.file("u.sss"), content);
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
  return test::SRecordLine(type, address, data);
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
  std::string a = Line('2', 0x84000, k32a), b = Line('2', 0x84020, k32b);
  a.resize(a.size() - 2), b.resize(b.size() - 2);
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
                          Line('2', 0x84020, k32b).substr(0, 40),
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

// ------------------------------------------------------------ other formats

std::vector<uint8_t> Join(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  std::vector<uint8_t> out = a;
  out.insert(out.end(), b.begin(), b.end());
  return out;
}

TEST_F(UpdateFileTest, IntelHexGoesWhereItsAddressRecordsSay) {
  using test::IntelHexLine;
  const std::vector<test::DataBlock> blocks = {{0x84000, Join(k32a, k32b)}, {0x8FFF0, k32a}, {0x90020, k16}};
  const Ranges expected = {{0x84000, 0x40}, {0x8FFF0, 0x20}, {0x90020, 0x10}};
  struct Case {
    const char* name;
    std::string text;
    Ranges ranges;
  };
  std::string lower = IntelHexLine(0x04, 0, {0x00, 0x08}) + IntelHexLine(0x00, 0x4000, k16);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::vector<Case> cases = {
      {"linear", test::IntelHexFile(blocks), expected},
      {"segments", test::IntelHexFile(blocks, true), expected},
      // Offsets wrap within a segment: the record's end lands at its start.
      {"segment wrap",
       IntelHexLine(0x02, 0, {0x80, 0x00}) + IntelHexLine(0x00, 0xFFF8, k16) + IntelHexLine(0x01, 0, {}),
       {{0x80000, 8}, {0x8FFF8, 8}}},
      {"16-bit addresses, start records, an empty data record, blank lines after the end",
       IntelHexLine(0x03, 0, {0, 0, 0x12, 0x34}) + IntelHexLine(0x00, 0x1000, k16) +
           IntelHexLine(0x00, 0x1010, {}) + IntelHexLine(0x05, 0, {0, 8, 0x40, 0}) +
           IntelHexLine(0x01, 0, {}) + "\r\n\n",
       {{0x1000, 0x10}}},
      {"lower case, an LF line end", lower + ":00000001ff\n", {{0x84000, 0x10}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Loaded l = Load(c.text);
    EXPECT_EQ(l.result, 1);
    EXPECT_TRUE(l.messages.empty());
    EXPECT_EQ(l.ranges, c.ranges);
  }
  Load(test::IntelHexFile(blocks, true));
  EXPECT_EQ(Fetch(0x84000, 0x40), Join(k32a, k32b));
  EXPECT_EQ(Fetch(0x8FFF0, 0x20), k32a);
  EXPECT_EQ(Fetch(0x90020, 0x11), Join(k16, {0xFF}));
}

TEST_F(UpdateFileTest, MalformedIntelHexKeepsWhatCameBefore) {
  using test::IntelHexLine;
  const std::string good = IntelHexLine(0x04, 0, {0x00, 0x08}) + IntelHexLine(0x00, 0x4000, k32a);
  const std::string end = IntelHexLine(0x01, 0, {});
  std::string bad_sum = IntelHexLine(0x00, 0x5000, k16);
  bad_sum[bad_sum.size() - 3] ^= 1;
  std::string odd = IntelHexLine(0x00, 0x5000, k16);
  odd.insert(odd.size() - 2, "0");
  for (const std::string& bad :
       {bad_sum, odd, IntelHexLine(0x06, 0, {}), IntelHexLine(0x04, 0, {0x01}),
        IntelHexLine(0x02, 0, {1, 2, 3}), IntelHexLine(0x05, 0, {1}), IntelHexLine(0x01, 0, {0}),
        std::string("\r\n"), std::string(":10500000") + std::string(32, 'G') + "00\r\n",
        "0" + IntelHexLine(0x00, 0x5000, k16), std::string(":") + std::string(600, '0') + "\r\n"}) {
    Loaded l = Load(good + bad + IntelHexLine(0x00, 0x6000, k16) + end);
    EXPECT_EQ(l.result, 0) << bad;
    EXPECT_EQ(l.messages, std::vector<std::string>{"Update file format error"}) << bad;
    EXPECT_EQ(Fetch(0x84000, 32), k32a);
    EXPECT_EQ(Fetch(0x86000, 1), std::vector<uint8_t>{0xFF});
  }
  // Cut short (no end record), or carrying on after it.
  for (const std::string& text : {good, good + end + IntelHexLine(0x00, 0x6000, k16)}) {
    Loaded l = Load(text);
    EXPECT_EQ(l.messages, std::vector<std::string>{"Update file format error"});
    EXPECT_EQ(Fetch(0x84000, 32), k32a);
  }
  // A page beyond the image.
  EXPECT_EQ(Load(IntelHexLine(0x04, 0, {0x01, 0x00}) + IntelHexLine(0x00, 0, k16) + end).messages,
            std::vector<std::string>{"Cannot store data in memory image"});
}

TEST_F(UpdateFileTest, ElfLoadsTheFileBytesOfItsSegmentsOrSectionsAtTheirAddresses) {
  const std::vector<test::DataBlock> blocks = {{0x90001, k16}, {0x84000, Join(k32a, k32b)}};
  for (int variant = 0; variant < 8; ++variant) {
    test::ElfLayout layout;
    layout.is64 = variant & 1;
    layout.big_endian = variant & 2;
    layout.sections_only = variant & 4;
    SCOPED_TRACE(testing::Message() << "64-bit " << layout.is64 << ", big-endian " << layout.big_endian
                                    << ", sections only " << layout.sections_only);
    ASSERT_EQ(image.Open(0, dir.folder()), 0);  // afresh
    Loaded l = Load(test::ElfFile(blocks, layout));
    EXPECT_EQ(l.result, 1);
    EXPECT_TRUE(l.messages.empty());
    EXPECT_EQ(l.ranges, (Ranges{{0x84000, 0x40}, {0x90001, 0x10}}));
    EXPECT_EQ(Fetch(0x84000, 0x41), Join(Join(k32a, k32b), {0xFF}));  // no .bss beyond the file bytes
    EXPECT_EQ(Fetch(0x90001, 0x10), k16);
    // Nothing of the note, the comment or the .bss.
    EXPECT_EQ(image.GetExtentStart(), 0x84000u);
    EXPECT_EQ(image.GetExtentLength(), 0x90011u - 0x84000u);
  }
}

TEST_F(UpdateFileTest, MalformedElfStoresNothing) {
  const std::vector<test::DataBlock> blocks = {{0x84000, k32a}};
  // Field offsets of the 32-bit little-endian executable and the 64-bit
  // big-endian object the writer makes.
  test::ElfLayout exec32, object64;
  object64.is64 = object64.big_endian = object64.sections_only = true;
  auto patched = [&](const test::ElfLayout& layout, size_t at, uint64_t value, size_t size) {
    std::string f = test::ElfFile(blocks, layout);
    for (size_t i = 0; i < size; ++i)
      f[at + i] = static_cast<char>(value >> (8 * (layout.big_endian ? size - 1 - i : i)));
    return f;
  };
  const std::string exec = test::ElfFile(blocks, exec32);
  const size_t ph = exec.size() - 3 * 32;  // the program headers close the file
  const size_t load = ph + 32;             // the first loadable segment
  const std::string object = test::ElfFile(blocks, object64);
  const size_t sh = object.size() - 4 * 64, data_section = sh + 2 * 64;
  for (const std::string& bad :
       {exec.substr(0, 40), patched(exec32, 4, 3, 1), patched(exec32, 6, 0, 1),
        patched(exec32, 28, exec.size(), 4),                // program headers past the end
        patched(exec32, 42, 16, 2),                         // entries too small
        patched(exec32, 44, 0xFFFF, 2),                     // extended numbering
        patched(exec32, load + 16, exec.size(), 4),         // file bytes past the end
        patched(exec32, load + 4, exec.size() - 8, 4),      // ... from near its end
        patched(exec32, load + 20, 8, 4),                   // more file bytes than memory
        patched(object64, 60, 0, 2),                        // sections, but no count
        patched(object64, 40, object.size() - 64, 8),       // section headers past the end
        patched(object64, data_section + 32, 1ull << 63, 8)}) {  // a section larger than the file
    ASSERT_EQ(image.Open(0, dir.folder()), 0);
    Loaded l = Load(bad);
    EXPECT_EQ(l.result, 0);
    EXPECT_EQ(l.messages, std::vector<std::string>{"Update file format error"});
    EXPECT_EQ(image.GetExtentLength(), 0u);
  }
  // Addresses beyond the image, and beyond 32 bits.
  for (uint64_t address : {uint64_t{0xFFFFF0}, uint64_t{0x100084000}}) {
    Loaded l = Load(patched(object64, data_section + 16, address, 8));
    EXPECT_EQ(l.messages, std::vector<std::string>{"Cannot store data in memory image"}) << address;
  }
}

TEST_F(UpdateFileTest, ARawBinaryNeedsItsAddress) {
  const std::string bytes(k32a.begin(), k32a.end());
  test::WriteFile(dir.file("fw.bin"), bytes);
  test::ScriptedUi ui;
  EXPECT_EQ(LoadUpdateFile(dir.file("fw.bin"), image, list, ui), 0);
  EXPECT_EQ(ui.MessageTexts(), std::vector<std::string>{"Update file format error"});
  Loaded l;
  UpdateFileOptions raw;
  raw.raw_base = 0x86000;
  for (const std::string& content : {bytes, test::ElfFile({{0x84000, k16}}, {})}) {
    test::WriteFile(dir.file("fw.bin"), content);
    list.DeleteAll();
    EXPECT_EQ(LoadUpdateFile(dir.file("fw.bin"), image, list, ui, raw), 1);
    ASSERT_EQ(list.GetCount(), 1u);
    EXPECT_EQ(list.begin()->GetStart(), 0x86000u);
    EXPECT_EQ(list.begin()->GetLength(), content.size());  // whatever it holds
  }
  EXPECT_EQ(Fetch(0x86000, 4), std::vector<uint8_t>({0x7F, 'E', 'L', 'F'}));
}

}  // namespace
}  // namespace vok
