#include <fcntl.h>
#include <gtest/gtest.h>

#include "image/file.h"
#include "image/srecord.h"
#include "support/temp_dir.h"
#include "test_util.h"

namespace vok {
namespace {

// The line without its '\n', as the codec under test makes it.
std::string Record(char type, uint32_t address, const std::vector<uint8_t>& data) {
  std::string line = FormatSRecord(type, address, data.size(), data.data());
  if (!line.empty()) line.pop_back();
  return line;
}

struct Parsed {
  int n;
  char type = '?';
  uint32_t address = 0xDEADBEEF;
  std::vector<uint8_t> data;
};

Parsed Parse(std::string_view line, size_t capacity = kMaxSRecordData) {
  Parsed p{};
  std::vector<uint8_t> buffer(capacity + 1, 0xA5);  // one guard byte
  p.n = ParseSRecord(line, p.type, p.address, buffer.data(), capacity);
  EXPECT_EQ(buffer[capacity], 0xA5) << "wrote past the buffer";
  if (p.n > 0) p.data.assign(buffer.begin(), buffer.begin() + p.n);
  return p;
}

TEST(SRecordCodec, GoldenLines) {
  const std::string abc = "abc";
  EXPECT_EQ(FormatSRecord('0', 0, 3, reinterpret_cast<const uint8_t*>(abc.data())),
            "S0060000616263D3\n");
  EXPECT_EQ(FormatSRecord('9', 0, 0, nullptr), "S9030000FC\n");
  EXPECT_EQ(FormatSRecord('8', 0, 0, nullptr), "S804000000FB\n");
  EXPECT_EQ(FormatSRecord('7', 0, 0, nullptr), "S70500000000FA\n");
  EXPECT_EQ(Record('1', 0x1234, {1, 2}), "S10512340102B1");
  EXPECT_EQ(Record('2', 0x84000, {0xFF, 0xFF, 0xFF, 0xFF}), "S208084000FFFFFFFFB3");
  // Address bits beyond the width are dropped.
  EXPECT_EQ(Record('1', 0x51234, {1, 2}), "S10512340102B1");
  std::vector<uint8_t> d64(64, 0x5A);
  EXPECT_EQ(Record('3', 0, d64).size(), 142u);
  EXPECT_EQ(Record('1', 0, d64).size(), 138u);
  EXPECT_EQ(FormatSRecord('5', 0, 0, nullptr), "");
  // A count byte holds at most 255: 252 data bytes for type 1, 250 for type 3.
  std::vector<uint8_t> big(253, 0);
  EXPECT_EQ(FormatSRecord('1', 0, 252, big.data()).size(), 4 + 255 * 2 + 1u);
  EXPECT_EQ(FormatSRecord('1', 0, 253, big.data()), "");
  EXPECT_EQ(FormatSRecord('3', 0, 251, big.data()), "");
}

TEST(SRecordCodec, ParsesWhatItFormats) {
  for (char type : {'0', '1', '2', '3', '7', '8', '9'}) {
    std::vector<uint8_t> data = test::Pattern(type == '1' ? 252 : 64, type);
    std::string line = FormatSRecord(type, 0x12345678, data.size(), data.data());
    Parsed p = Parse(line);  // with its '\n'
    EXPECT_EQ(p.n, static_cast<int>(data.size()));
    EXPECT_EQ(p.type, type);
    uint32_t mask = type == '3' || type == '7' ? 0xFFFFFFFF : type == '2' || type == '8' ? 0xFFFFFF : 0xFFFF;
    EXPECT_EQ(p.address, 0x12345678u & mask);
    EXPECT_EQ(p.data, data);
  }
  Parsed t = Parse("S9030000FC");
  EXPECT_EQ(t.n, 0);
  EXPECT_EQ(t.type, '9');
  // The punctuation between '9' and 'A' reads as 0; characters after the
  // checksum are not looked at.
  EXPECT_EQ(Parse("S1051234:1:2B1").n, 2);
  EXPECT_EQ(Parse("S10512340102B1 trailing").n, 2);
}

TEST(SRecordCodec, RejectsMalformedLines) {
  EXPECT_EQ(Parse("").n, -1);
  EXPECT_EQ(Parse(" S10512340102B1").n, -1);
  EXPECT_EQ(Parse("S").n, -1);
  EXPECT_EQ(Parse("S10512340102B2").n, -1);  // checksum off by one
  EXPECT_EQ(Parse("S10512340102B0").n, -1);
  // Unknown types are not examined at all.
  Parsed t5 = Parse("S5zz");
  EXPECT_EQ(t5.n, 0);
  EXPECT_EQ(t5.type, '5');
  EXPECT_EQ(t5.address, 0xDEADBEEFu);
  EXPECT_EQ(Parse("S5").n, 0);
  // Count too small for the address, with a good checksum: -2.
  EXPECT_EQ(Parse("S1011234B8").n, -2);
  // Lower case and other characters are not hex digits.
  EXPECT_EQ(Parse("S10512340102b1").n, -1);
  EXPECT_EQ(Parse("S1051234010GB1").n, -1);
  // A line that ends before what its count announces: every cut of a good line.
  const std::string good = "S10512340102B1";
  for (size_t len = 0; len < good.size(); ++len)
    EXPECT_LT(Parse(std::string_view(good).substr(0, len)).n, 0) << len;
  // A count claiming more than the line holds.
  EXPECT_EQ(Parse("S1FF12340102B1").n, -1);
  // More data than the caller's buffer holds.
  EXPECT_EQ(Parse(good, 1).n, -1);
  EXPECT_EQ(Parse(good, 2).n, 2);
}

TEST(SRecordFile, HeaderRecordsAndCrLfOnDisk) {
  test::TempDir dir;
  std::string header(130, 'x');
  header[0] = '\r';
  header[1] = '\n';
  header[129] = '\xE9';  // bytes, never decoded
  TextFile file;
  ASSERT_EQ(CreateSRecordFile(file, dir.file("h.sss"), header), 1);
  file.WriteText(FormatSRecord('9', 0, 0, nullptr));
  file.Close();
  std::string disk = test::ReadFile(dir.file("h.sss"));
  const auto* h = reinterpret_cast<const uint8_t*>(header.data());
  EXPECT_EQ(disk, test::SRecordLine('0', 0, {h, h + 64}) + test::SRecordLine('0', 0, {h + 64, h + 128}) +
                      test::SRecordLine('0', 0, {h + 128, h + 130}) + "S9030000FC\r\n");

  // An empty header gives an empty file, truncating an old one.
  ASSERT_EQ(CreateSRecordFile(file, dir.file("h.sss"), ""), 1);
  file.Close();
  EXPECT_EQ(test::ReadFile(dir.file("h.sss")), "");
  EXPECT_EQ(CreateSRecordFile(file, dir.file("missing/h.sss"), "abc"), 0);
}

TEST(SRecordFile, TextLinesEndInCrLfOrLfOrNothing) {
  test::TempDir dir;
  std::string path = dir.file("t.txt");
  std::string longline(100000, 'L');
  test::WriteFile(path, "a\r\nb\nc\r\r\n\n" + longline + "\r\n" + std::string(9, 'x') + "\r\nlast");
  TextFile f;
  f.Open(path, FileMode::kRead);
  std::string line;
  using S = TextFile::LineStatus;
  EXPECT_EQ(f.ReadLine(line, 10), S::kLine);
  EXPECT_EQ(line, "a");
  EXPECT_EQ(f.ReadLine(line, 10), S::kLine);
  EXPECT_EQ(line, "b");
  EXPECT_EQ(f.ReadLine(line, 10), S::kLine);
  EXPECT_EQ(line, "c\r");  // only the CR before the LF belongs to the line end
  EXPECT_EQ(f.ReadLine(line, 10), S::kLine);
  EXPECT_EQ(line, "");
  EXPECT_EQ(f.ReadLine(line, 10), S::kTooLong);
  EXPECT_EQ(line, std::string(10, 'L'));
  // A line of exactly the limit, its CR LF included, is not too long.
  EXPECT_EQ(f.ReadLine(line, 9), S::kLine);
  EXPECT_EQ(line, std::string(9, 'x'));
  EXPECT_EQ(f.ReadLine(line, 10), S::kLine);
  EXPECT_EQ(line, "last");
  EXPECT_EQ(f.ReadLine(line, 10), S::kEnd);
  f.Close();

  // Ctrl-Z ends the text.
  test::WriteFile(path, "a\r\n\x1A" "b\r\n");
  f.Open(path, FileMode::kRead);
  EXPECT_EQ(f.ReadLine(line, 10), S::kLine);
  EXPECT_EQ(f.ReadLine(line, 10), S::kEnd);
  f.Close();

  // Closing a file read only part way writes nothing back.
  f.Open(path, FileMode::kRead);
  EXPECT_EQ(f.ReadLine(line, 10), S::kLine);
  EXPECT_NO_THROW(f.Close());
  EXPECT_EQ(test::ReadFile(path), "a\r\n\x1A" "b\r\n");

  // Appending keeps what was there; every '\n' goes out as CR LF.
  f.Open(path, FileMode::kOpenAlways);
  f.WriteText("x\ny\r\n");
  f.Close();
  EXPECT_EQ(test::ReadFile(path), "a\r\n\x1A" "b\r\nx\r\ny\r\r\n");
}

TEST(SRecordFile, ErrorsAreFileExceptions) {
  test::TempDir dir;
  TextFile f;
  EXPECT_THROW(f.Open(dir.file("none"), FileMode::kRead), FileException);
  EXPECT_THROW(f.Open(dir.path().string(), FileMode::kRead), FileException);
  File b;
  EXPECT_THROW(b.Open(dir.file("none"), FileMode::kReadWrite), FileException);
  EXPECT_THROW(RemoveFile(dir.file("none")), FileException);
  // A full device.
  if (int fd = ::open("/dev/full", O_WRONLY); fd >= 0) {
    b.Adopt(fd, "/dev/full");
    EXPECT_THROW(b.Write("x", 1), FileException);
  }
  b.Open(dir.file("bin"), FileMode::kCreateReadWrite);
  b.Write("hello", 5);
  b.SetLength(3);
  EXPECT_EQ(b.Length(), 3u);
  b.Sync();
  b.Close();
  EXPECT_NO_THROW(SyncFolder(dir.path().string()));
  EXPECT_EQ(test::ReadFile(dir.file("bin")), "hel");
}

}  // namespace
}  // namespace vok
