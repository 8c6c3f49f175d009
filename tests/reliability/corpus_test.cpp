// Properties over the fuzzers' seed corpora: every well-formed S-record file
// loads, is written back as S-records and loads again to the same image; and
// the image agrees with what srec_cat makes of the same file.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "image/memory_image.h"
#include "image/memory_range.h"
#include "image/srecord.h"
#include "image/update_file.h"
#include "support/files.h"
#include "support/recorders.h"
#include "support/temp_dir.h"

namespace vok {
namespace {

namespace fs = std::filesystem;

using Spans = std::vector<std::pair<uint32_t, uint32_t>>;  // start, end (exclusive), merged

struct Loaded {
  bool ok = false;
  Spans spans;
  std::vector<uint8_t> bytes;  // 0 .. the end of the last span
};

Loaded Load(const std::string& path, const std::string& folder) {
  Loaded out;
  test::ScriptedUi ui;
  MemoryImage image;
  if (image.Open(0, folder) != 0) return out;
  MemoryRangeList ranges;
  out.ok = LoadUpdateFile(path, image, ranges, ui) == 1;
  if (!out.ok) return out;
  for (const CMemoryRange& r : ranges) {
    const uint32_t start = r.GetStart(), end = r.GetStart() + r.GetLength();
    if (r.GetLength() == 0) continue;
    if (!out.spans.empty() && out.spans.back().second >= start) {
      out.spans.back().second = std::max(out.spans.back().second, end);
    } else {
      out.spans.emplace_back(start, end);
    }
  }
  const uint32_t top = out.spans.empty() ? 0 : out.spans.back().second;
  out.bytes.resize(top);
  if (top != 0) image.Fetch(0, out.bytes.data(), top);
  return out;
}

// The loaded data as S-records: S0, S2 (S3 above 16 MiB) lines of 32 bytes, S8.
void Write(const std::string& path, const Loaded& l) {
  std::ofstream f(path, std::ios::binary);
  f << FormatSRecord('0', 0, 4, reinterpret_cast<const uint8_t*>("test"));
  for (const auto& [start, end] : l.spans)
    for (uint32_t at = start; at < end; at += 32) {
      const uint32_t n = std::min<uint32_t>(32, end - at);
      f << FormatSRecord(end > 0x1000000 ? '3' : '2', at, n, l.bytes.data() + at);
    }
  f << FormatSRecord('8', 0, 0, nullptr);
}

std::vector<fs::path> CorpusFiles() {
  std::vector<fs::path> out;
  for (const char* sub : {"update_file", "srecord"})
    for (const auto& e : fs::directory_iterator(fs::path(VOK_FUZZ_CORPUS) / sub))
      if (e.is_regular_file()) out.push_back(e.path());
  std::sort(out.begin(), out.end());
  return out;
}

TEST(CorpusProperties, ParseFormatParseGivesTheSameImage) {
  test::TempDir dir;
  int well_formed = 0;
  for (const fs::path& file : CorpusFiles()) {
    SCOPED_TRACE(file.string());
    const Loaded first = Load(file.string(), dir.folder());
    if (!first.ok) continue;
    ++well_formed;
    Write(dir.file("again.sss"), first);
    const Loaded second = Load(dir.file("again.sss"), dir.folder());
    ASSERT_TRUE(second.ok);
    EXPECT_EQ(second.spans, first.spans);
    EXPECT_TRUE(second.bytes == first.bytes);
  }
  EXPECT_GE(well_formed, 10);
}

#ifndef _WIN32
// The reference tool is a Debian program; the Windows build has no such test.
TEST(CorpusProperties, ImagesAgreeWithSrecCat) {
  ASSERT_EQ(std::system("srec_cat -version >/dev/null 2>&1"), 0)
      << "srec_cat is missing (scripts/install-deps installs srecord)";
  test::TempDir dir;
  int compared = 0;
  for (const fs::path& file : CorpusFiles()) {
    SCOPED_TRACE(file.string());
    const Loaded l = Load(file.string(), dir.folder());
    if (!l.ok || l.spans.empty()) continue;
    const std::string bin = dir.file("ref.bin");
    const std::string cmd = "srec_cat '" + file.string() + "' -fill 0xFF 0 " +
                            std::to_string(l.bytes.size()) + " -o '" + bin +
                            "' -binary >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    const std::vector<uint8_t> ref = test::ReadBytes(bin);
    EXPECT_TRUE(ref == l.bytes) << "sizes " << ref.size() << " and " << l.bytes.size();
    ++compared;
  }
  EXPECT_GE(compared, 10);
}
#endif

}  // namespace
}  // namespace vok
