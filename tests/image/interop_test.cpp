// Against the reference S-record tools of Debian's srecord and binutils
// packages. A missing tool fails the test: these checks must not go quiet.

#include <gtest/gtest.h>

#include <tuple>

#include "image/srecord.h"
#include "image/target_memory.h"
#include "image/update_file.h"
#include "sim/inprocess_port.h"
#include "sim/simulator.h"
#include "support/recorders.h"
#include "support/temp_dir.h"
#include "test_util.h"

namespace vok {
namespace {

using test::RunTool;

std::vector<uint8_t> Slice(const std::string& bytes, size_t at, size_t n) {
  EXPECT_GE(bytes.size(), at + n);
  if (bytes.size() < at + n) return {};
  return {bytes.begin() + static_cast<std::ptrdiff_t>(at),
          bytes.begin() + static_cast<std::ptrdiff_t>(at + n)};
}

TEST(SRecordInterop, WrittenFilesReadBackBySrecTools) {
  sim::Options options;
  options.demo_firmware = false;
  sim::Simulator sim(options);
  const std::vector<uint8_t> ram = test::Pattern(0x30000, 5), flash = test::Pattern(0x7C000, 6);
  sim.WriteMemory(0x10000, ram);
  sim.WriteMemory(0x84000, flash);
  LoaderLink link(std::make_unique<sim::InProcessPort>(sim));
  ASSERT_EQ(link.OpenLink("COM1", 38400), 0);
  test::TempDir dir;
  test::ScriptedUi ui;

  // Laid out as a backup: header, RAM with its terminator, flash with its own.
  TextFile file;
  ASSERT_EQ(CreateSRecordFile(file, dir.file("bk.sss"), " \r\nBackup of VOK System of 05. Jan 2000\r\n"), 1);
  LoaderChecksum checks(link);
  ASSERT_EQ(CopyRangeToFile(link, checks, file, CMemoryRange(0x10000, 0x3FFFF, CMemoryRange::kByEnd), nullptr, ui), 1);
  ASSERT_EQ(CopyRangeToFile(link, checks, file, CMemoryRange(0x84000, 0xFFFFF, CMemoryRange::kByEnd), nullptr, ui), 1);
  file.Close();
  std::string info;
  EXPECT_EQ(RunTool({"srec_info", dir.file("bk.sss")}, &info), 0) << info;
  EXPECT_NE(info.find("010000 - 03FFFF"), std::string::npos) << info;
  EXPECT_NE(info.find("084000 - 0FFFFF"), std::string::npos) << info;
  ASSERT_EQ(RunTool({"srec_cat", dir.file("bk.sss"), "-o", dir.file("bk.bin"), "-binary"}, &info), 0) << info;
  std::string bin = test::ReadFile(dir.file("bk.bin"));
  EXPECT_EQ(bin.size(), 0x100000u);
  EXPECT_EQ(Slice(bin, 0x10000, ram.size()), ram);
  EXPECT_EQ(Slice(bin, 0x84000, flash.size()), flash);

  // 16-bit and 32-bit records, from ranges that end at 0xFFFF and above 16 MiB.
  auto fake = [](uint32_t address, uint16_t length, uint8_t* destination) {
    for (uint16_t i = 0; i < length; ++i) destination[i] = static_cast<uint8_t>((address + i) * 13 + 1);
    return 0;
  };
  for (const auto& [start, end, shift] : {std::tuple<uint32_t, uint32_t, const char*>{0xF123, 0xFFFF, "0"},
                                         {0x1000000, 0x10009FF, "-0x1000000"}}) {
    ASSERT_EQ(CreateSRecordFile(file, dir.file("r.sss"), "records"), 1);
    // A loader whose checksum is of no known kind: each piece is read twice.
    LoaderChecksum unknown([](uint32_t, uint32_t, uint16_t& sum) {
      sum = 0;
      return 0;
    });
    ASSERT_EQ(CopyRangeToFile(fake, unknown, file, CMemoryRange(start, end, CMemoryRange::kByEnd), nullptr, ui), 1);
    file.Close();
    EXPECT_EQ(RunTool({"srec_info", dir.file("r.sss")}, &info), 0) << info;
    ASSERT_EQ(RunTool({"srec_cat", dir.file("r.sss"), "-offset", shift, "-o", dir.file("r.bin"), "-binary"}, &info), 0)
        << info;
    std::string got = test::ReadFile(dir.file("r.bin"));
    uint32_t at = start & 0xFFFF;
    std::vector<uint8_t> want(end - start + 1);
    fake(start, static_cast<uint16_t>(want.size()), want.data());
    EXPECT_EQ(Slice(got, at, want.size()), want);
  }
  EXPECT_TRUE(ui.messages.empty());
}

TEST(UpdateFileInterop, FilesOfOtherToolsLoadAsSrecCatReadsThem) {
  test::TempDir dir;
  test::WriteFile(dir.file("a.bin"), [] {
    auto v = test::Pattern(5000, 11);
    return std::string(v.begin(), v.end());
  }());
  test::WriteFile(dir.file("b.bin"), [] {
    auto v = test::Pattern(777, 12);
    return std::string(v.begin(), v.end());
  }());
  const std::string a = dir.file("a.bin"), b = dir.file("b.bin"), out = dir.file("u.srec");
  const std::vector<std::vector<std::string>> makers = {
      {"objcopy", "-I", "binary", "-O", "srec", "--change-addresses=0x84000", a, out},
      {"objcopy", "-I", "binary", "-O", "srec", "--srec-len=64", "--change-addresses=0x1000", a, out},
      {"objcopy", "-I", "binary", "-O", "srec", "--srec-len=250", "--srec-forceS3",
       "--change-addresses=0x90001", a, out},
      {"srec_cat", a, "-binary", "-offset", "0x84003", b, "-binary", "-offset", "0x90000", "-o", out,
       "-obs=16"},
      {"srec_cat", a, "-binary", "-offset", "0x100", "-o", out, "-obs=32"},
      {"srec_cat", a, "-binary", "-offset", "0x88000", b, "-binary", "-offset", "0x89388", "-o", out,
       "-obs=64"},
      {"srec_cat", a, "-binary", "-offset", "0x84000", "-o", out, "-obs=250", "-address-length=4"},
      {"srec_cat", b, "-binary", "-offset", "0x8F000", "-o", out, "-obs=250"},
      {"srec_cat", a, "-binary", "-offset", "0x84000", "-o", out, "-line-length=46"},
  };
  constexpr uint32_t kEnd = 0x96000;
  for (const auto& argv : makers) {
    std::string joined;
    for (const auto& s : argv) joined += s + " ";
    SCOPED_TRACE(joined);
    std::string log;
    ASSERT_EQ(RunTool(argv, &log), 0) << log;
    ASSERT_EQ(RunTool({"srec_cat", out, "-fill", "0xFF", "0", "0x96000", "-o", dir.file("ref.bin"),
                       "-binary"},
                      &log),
              0)
        << log;
    std::string ref = test::ReadFile(dir.file("ref.bin"));
    ASSERT_EQ(ref.size(), kEnd);

    MemoryImage image;
    MemoryRangeList ranges;
    test::ScriptedUi ui;
    ASSERT_EQ(image.Open(0, dir.folder()), 0);
    ASSERT_EQ(LoadUpdateFile(out, image, ranges, ui), 1) << test::ReadFile(out).substr(0, 400);
    std::vector<uint8_t> got(kEnd);
    image.Fetch(0, got.data(), kEnd);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), ref.begin(), ref.end(),
                           [](uint8_t x, char y) { return x == static_cast<uint8_t>(y); }));
    EXPECT_FALSE(ranges.IsEmpty());
  }
}

TEST(UpdateFileInterop, IntelHexAndElfOfOtherToolsLoadWhereTheirMakersPutThem) {
  test::TempDir dir;
  const std::vector<uint8_t> a = test::Pattern(5000, 21), b = test::Pattern(777, 22);
  test::WriteFile(dir.file("a.bin"), std::string(a.begin(), a.end()));
  test::WriteFile(dir.file("b.bin"), std::string(b.begin(), b.end()));
  const std::string ab = dir.file("a.bin"), bb = dir.file("b.bin"), out = dir.file("out");
  struct Maker {
    std::vector<std::string> argv;
    std::vector<std::pair<uint32_t, const std::vector<uint8_t>*>> placed;
  };
  const std::vector<Maker> makers = {
      {{"objcopy", "-I", "binary", "-O", "ihex", "--change-addresses=0x84000", ab, out}, {{0x84000, &a}}},
      {{"srec_cat", ab, "-binary", "-offset", "0x8FF00", bb, "-binary", "-offset", "0xA0001", "-o", out,
        "-intel", "-obs=16"},
       {{0x8FF00, &a}, {0xA0001, &b}}},
      // Extended segment addresses (20 bits).
      {{"srec_cat", ab, "-binary", "-offset", "0x8FF00", "-o", out, "-intel", "--address-length=3"},
       {{0x8FF00, &a}}},
      // Object files: sections without program headers, both byte orders.
      {{"objcopy", "-I", "binary", "-O", "elf32-big", "--change-addresses=0x84000", ab, out}, {{0x84000, &a}}},
      {{"objcopy", "-I", "binary", "-O", "elf64-little", "--change-addresses=0x90001", bb, out},
       {{0x90001, &b}}},
      // A linked executable: its loadable segment.
      {{"ld", "-m", "elf_i386", "-e", "0", "--section-start=.data=0x84000", "-b", "binary", ab, "-o", out},
       {{0x84000, &a}}},
  };
  for (const Maker& m : makers) {
    std::string joined;
    for (const auto& w : m.argv) joined += w + " ";
    SCOPED_TRACE(joined);
    std::string log;
    ASSERT_EQ(RunTool(m.argv, &log), 0) << log;
    MemoryImage image;
    MemoryRangeList ranges;
    test::ScriptedUi ui;
    ASSERT_EQ(image.Open(0, dir.folder()), 0);
    ASSERT_EQ(LoadUpdateFile(out, image, ranges, ui), 1) << ui.MessageTexts().size();
    for (const auto& [address, bytes] : m.placed) {
      std::vector<uint8_t> got(bytes->size() + 1);
      image.Fetch(address, got.data(), static_cast<uint32_t>(got.size()));
      EXPECT_EQ(std::vector<uint8_t>(got.begin(), got.end() - 1), *bytes) << std::hex << address;
    }
  }
}

}  // namespace
}  // namespace vok
