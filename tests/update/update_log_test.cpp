#include <clocale>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "support/firmware_text.h"
#include "support/recorders.h"
#include "support/srecord_text.h"
#include "support/temp_dir.h"
#include "update/melody.h"
#include "update/procedure_bench.h"
#include "update/update_log.h"

namespace vok {
namespace {

using test::FixedTime;
using test::ReadBytes;
using test::TempDir;

const std::string kBanner = std::string(70, '#') + "\r\n";

TEST(UpdateLog, DatesUseEnglishMonthNamesWhateverTheLocale) {
  const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  // Whichever of these the machine has; the C names must hold under all.
  std::string previous = std::setlocale(LC_ALL, nullptr);
  for (const char* locale : {"de_DE.UTF-8", "fr_FR.UTF-8", "de_DE", "C.UTF-8", "C"}) {
    if (std::setlocale(LC_ALL, locale) == nullptr) continue;
    std::tm t = FixedTime();
    EXPECT_EQ(FormatLogDate(t), "05. Jan 2000 (10:20:30)\r\n") << locale;
    for (int m = 0; m < 12; ++m) {
      t.tm_mon = m;
      EXPECT_EQ(FormatLogDate(t).substr(4, 3), months[m]) << locale;
    }
    t.tm_mday = 31;
    t.tm_hour = 23;
    t.tm_min = 5;
    t.tm_sec = 9;
    t.tm_year = 126;
    EXPECT_EQ(FormatLogDate(t), "31. Dec 2026 (23:05:09)\r\n") << locale;
  }
  std::setlocale(LC_ALL, previous.c_str());
}

TEST(UpdateLog, DescriptionIsBannerThenTheHeaderTextsOfTheFile) {
  TempDir dir;
  const std::string banner = kBanner + "Update of VOK System on 05. Jan 2000 (10:20:30)\r\n" + kBanner;
  EXPECT_EQ(banner.substr(0, 72), kBanner);

  // A backup's header, 130 bytes over three records, read whole.
  std::string header = " \r\nBackup of VOK System of 04. Jan 2000 (09:00:00)\r\n"
                       "Kernel V1.2.3\r\nVOK Loader V2.1.0\r\n \r\n";
  header += std::string(130 - header.size(), 'x');
  test::WriteUpdateFile(dir.file("a.sss"), header, {{0x84000, {1, 2, 3}}});
  EXPECT_EQ(BuildUpdateDescription(dir.file("a.sss"), FixedTime()), banner + header);

  // Data first: the banner alone. A missing file: nothing at all.
  test::WriteUpdateFile(dir.file("b.sss"), "", {{0x84000, {1, 2, 3}}});
  EXPECT_EQ(BuildUpdateDescription(dir.file("b.sss"), FixedTime()), banner);
  EXPECT_EQ(BuildUpdateDescription(dir.file("missing.sss"), FixedTime()), "");

  // A zero byte ends its record's part; header records after data are not
  // read; a record longer than the system writes is taken whole.
  const std::string lines = test::SRecordLine('0', 0, {'A', 'B', 0, 'C', 'D', 0, 0});
  // One S0 record of 100 bytes instead of 64 + 36.
  const std::string big = test::SRecordLine('0', 0, std::vector<uint8_t>(100, 'L'));
  test::WriteFile(dir.file("d.sss"), lines + big + "S1050000010203F6\r\n" + lines);
  EXPECT_EQ(BuildUpdateDescription(dir.file("d.sss"), FixedTime()),
            banner + "AB" + std::string(100, 'L'));
}

TEST(UpdateLog, FilesWithoutHeaderTextsAreDescribedByNameAndDate) {
  TempDir dir;
  const std::string banner = kBanner + "Update of VOK System on 05. Jan 2000 (10:20:30)\r\n" + kBanner;
  const std::vector<uint8_t> data = {1, 2, 3};
  for (const std::string& content :
       {test::IntelHexFile({{0x84000, data}}), test::ElfFile({{0x84000, data}}, {}), std::string("raw")}) {
    test::WriteFile(dir.file("fw.x"), content);
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("fw.x").c_str(), &st), 0);
    EXPECT_EQ(BuildUpdateDescription(dir.file("fw.x"), FixedTime()),
              banner + "fw.x, " + FormatLogDate(LocalTime(st.st_mtime)));
  }
}

TEST(UpdateLog, AppendToFileCreatesKeepsAndWritesLongTextsWhole) {
  TempDir dir;
  // A folder name well past 99 characters and a text well past 9,999.
  std::string folder = dir.file(std::string(120, 'f'));
  ASSERT_TRUE(std::filesystem::create_directory(folder));
  std::string path = folder + "/UPDATE.LOG";
  std::string big(25000, 'y');
  EXPECT_EQ(AppendToFile("", 0, path), 1);
  EXPECT_TRUE(test::Exists(path));
  EXPECT_EQ(AppendToFile("abc", 3, path), 1);
  EXPECT_EQ(AppendToFile(big.data(), big.size(), path), 1);
  EXPECT_EQ(test::ReadFile(path), "abc" + big);

  // A folder where the file should be fails, whoever runs the test.
  EXPECT_EQ(AppendToFile("abc", 3, folder), 0);
}

TEST(UpdateLog, TextsAreShownOneLinePerCarriageReturn) {
  test::RecordingLog log;
  ShowTextInLog(log, " \r\nfirst\r\n\r\nlast without end");
  EXPECT_EQ(log.lines, (std::vector<std::string>{" ", "first", "", "last without end"}));
  log.Clear();
  ShowTextInLog(log, "one\r\ntwo\r\n");
  EXPECT_EQ(log.lines, (std::vector<std::string>{"one", "two"}));
  log.Clear();
  ShowTextInLog(log, "");
  EXPECT_TRUE(log.lines.empty());
  ShowTextInLog(log, "", true);
  EXPECT_EQ(log.lines, std::vector<std::string>{""});
  // Long texts are shown whole.
  log.Clear();
  std::string many;
  for (int i = 0; i < 500; ++i) many += "line " + std::to_string(i) + "\r\n";
  ShowTextInLog(log, many);
  ASSERT_EQ(log.lines.size(), 500u);
  EXPECT_EQ(log.lines.back(), "line 499");
}

TEST(UpdateLog, CompletionMelodyRisesInTwelveSemitones) {
  test::ScriptedUi ui;
  PlayCompletionMelody(ui);
  std::vector<std::pair<unsigned, unsigned>> expected;
  for (unsigned f : {440u, 466u, 493u, 523u, 554u, 587u, 622u, 659u, 698u, 739u, 783u, 830u})
    expected.emplace_back(f, 83u);
  EXPECT_EQ(ui.tones, expected);
}

}  // namespace
}  // namespace vok
