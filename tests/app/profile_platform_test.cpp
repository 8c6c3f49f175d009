// The settings code against the platform's own profile functions: the same
// files read and written both ways must give the same results. Built and
// run only on Windows (and under Wine).

#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/settings.h"
#include "support/files.h"
#include "support/temp_dir.h"

namespace vok {
namespace {

using test::TempDir;

struct Read {
  const char* section;
  const char* key;
  int fallback;
};

struct ReadCase {
  const char* what;
  const char* file;  // nullptr: no file at all
  std::vector<Read> reads;
};

const std::vector<ReadCase>& ReadCases() {
  static const std::vector<ReadCase> cases = {
      {"no file", nullptr, {{"SETUP", "ComPort", 0}, {"SETUP", "Baudrate", 38400}}},
      {"the usual file",
       "[SETUP]\r\nComPort=2\r\nBaudrate=9600\r\nBackupFirst=1\r\nPreserveObjects=0\r\n",
       {{"SETUP", "ComPort", 0}, {"SETUP", "Baudrate", 38400}, {"SETUP", "BackupFirst", 0},
        {"SETUP", "PreserveObjects", 7}}},
      {"case of section and key names",
       "[setup]\r\ncomport=3\r\nBAUDRATE=19200\r\n",
       {{"SETUP", "ComPort", 0}, {"Setup", "BaudRate", 0}, {"sEtUp", "COMPORT", 0}}},
      {"blanks around names and values",
       "  [ SETUP ]  \r\n  ComPort  =   3  \r\n\tBaudrate\t=\t9600\t\r\n",
       {{"SETUP", "ComPort", 0}, {"SETUP", "Baudrate", 0}}},
      {"missing section or key",
       "[Other]\r\nComPort=3\r\n[SETUP]\r\nBaudrate=9600\r\n",
       {{"SETUP", "ComPort", 42}, {"Nowhere", "Baudrate", 43}, {"Other", "ComPort", 0}}},
      {"empty values",
       "[SETUP]\r\nComPort=\r\nBaudrate=   \r\nBackupFirst\r\n",
       {{"SETUP", "ComPort", 5}, {"SETUP", "Baudrate", 38400}, {"SETUP", "BackupFirst", 6}}},
      {"signed values and trailing text",
       "[SETUP]\r\nA=-1\r\nB=+12\r\nC=-0012x\r\nD=9600baud\r\nE=x12\r\nF=- 3\r\nG=2147483647\r\n"
       "H=-2147483648\r\nI=4294967297\r\n",
       {{"SETUP", "A", 0}, {"SETUP", "B", 0}, {"SETUP", "C", 0}, {"SETUP", "D", 0},
        {"SETUP", "E", 9}, {"SETUP", "F", 9}, {"SETUP", "G", 0}, {"SETUP", "H", 0},
        {"SETUP", "I", 0}}},
      {"comments",
       "; ComPort=9\r\n[SETUP]\r\n;ComPort=8\r\nComPort=1\r\nBaudrate=4800 ; slow\r\n",
       {{"SETUP", "ComPort", 0}, {"SETUP", "Baudrate", 0}}},
      {"LF line ends, no end on the last line",
       "[SETUP]\nComPort=3\nBaudrate=1200",
       {{"SETUP", "ComPort", 0}, {"SETUP", "Baudrate", 0}}},
      {"the first of two equal keys and sections",
       "[SETUP]\r\nComPort=1\r\nComPort=2\r\n[SETUP]\r\nComPort=3\r\nBaudrate=2400\r\n",
       {{"SETUP", "ComPort", 0}, {"SETUP", "Baudrate", 7}}},
      {"quoted value",
       "[SETUP]\r\nComPort=\"2\"\r\nBaudrate='4800'\r\n",
       {{"SETUP", "ComPort", 0}, {"SETUP", "Baudrate", 0}}},
  };
  return cases;
}

TEST(ProfilePlatform, ReadsAgreeWithGetPrivateProfileInt) {
  TempDir dir;
  const std::string file = dir.file("VOKLOAD.INI");
  for (const ReadCase& c : ReadCases()) {
    std::filesystem::remove(file);
    if (c.file != nullptr) test::WriteFile(file, c.file);
    for (const Read& r : c.reads) {
      const int platform = static_cast<int>(
          ::GetPrivateProfileIntA(r.section, r.key, r.fallback, file.c_str()));
      EXPECT_EQ(ReadProfileInt(file, r.section, r.key, r.fallback), platform)
          << c.what << ": [" << r.section << "] " << r.key;
    }
  }
}

struct Write {
  const char* section;
  const char* key;
  const char* value;
};

struct WriteCase {
  const char* what;
  const char* file;  // nullptr: the file is created
  std::vector<Write> writes;
  // Byte for byte the same. Where not, the difference is the platform's
  // rewriting of lines the write is not about: Wine turns LF line ends into
  // CR LF, drops blank lines, puts no blank line before a new section and
  // appends a key behind the section's trailing comments; ours leaves every
  // other line as it was.
  bool same_bytes;
};

const std::vector<WriteCase>& WriteCases() {
  static const std::vector<WriteCase> cases = {
      {"new file", nullptr,
       {{"SETUP", "ComPort", "0"}, {"SETUP", "BackupFirst", "0"}, {"SETUP", "PreserveObjects", "0"}},
       true},
      {"replace a value", "[SETUP]\r\nComPort=1\r\nBaudrate=9600\r\n", {{"SETUP", "ComPort", "-1"}},
       true},
      {"replace keeps the key's spelling", "[setup]\r\ncomport=1\r\n", {{"SETUP", "ComPort", "2"}},
       true},
      {"append to the section", "[SETUP]\r\nComPort=1\r\n[Other]\r\nx=1\r\n",
       {{"SETUP", "BackupFirst", "1"}}, true},
      {"replace then append, LF file", "[SETUP]\nComPort=1\n[Other]\nx=1\n",
       {{"SETUP", "ComPort", "3"}, {"SETUP", "PreserveObjects", "0"}}, false},
      {"new section at the end", "[Other]\r\nx=1\r\n", {{"SETUP", "ComPort", "3"}}, false},
      {"other sections, blank lines and comments",
       "; settings\r\n[Ports]\r\nCOM1=\\\\.\\COM7\r\n\r\n[SETUP]\r\nComPort=1\r\n\r\n; end\r\n"
       "[Other]\r\nComPort=3\r\n",
       {{"SETUP", "ComPort", "2"}, {"SETUP", "PreserveObjects", "0"}}, false},
  };
  return cases;
}

// Every key the writes touched, and the untouched [Other] and [Ports] keys,
// read the same from both files through both readers.
void ExpectSameReadings(const std::string& ours, const std::string& theirs, const WriteCase& c) {
  std::vector<Read> reads = {{"Other", "x", -7}, {"Other", "ComPort", -7}, {"SETUP", "Baudrate", -7}};
  for (const Write& w : c.writes) reads.push_back({w.section, w.key, -7});
  for (const Read& r : reads) {
    const int platform_on_ours =
        static_cast<int>(::GetPrivateProfileIntA(r.section, r.key, r.fallback, ours.c_str()));
    const int platform_on_theirs =
        static_cast<int>(::GetPrivateProfileIntA(r.section, r.key, r.fallback, theirs.c_str()));
    EXPECT_EQ(platform_on_ours, platform_on_theirs) << c.what << ": " << r.key;
    EXPECT_EQ(ReadProfileInt(theirs, r.section, r.key, r.fallback), platform_on_theirs)
        << c.what << ": " << r.key;
  }
  char ports[64] = {};
  ::GetPrivateProfileStringA("Ports", "COM1", "", ports, sizeof ports, ours.c_str());
  char ports_theirs[64] = {};
  ::GetPrivateProfileStringA("Ports", "COM1", "", ports_theirs, sizeof ports_theirs,
                             theirs.c_str());
  EXPECT_STREQ(ports, ports_theirs) << c.what;
}

TEST(ProfilePlatform, WritesAgreeWithWritePrivateProfileString) {
  TempDir dir;
  for (const WriteCase& c : WriteCases()) {
    const std::string ours = dir.file("ours.ini");
    const std::string theirs = dir.file("theirs.ini");
    std::filesystem::remove(ours);
    std::filesystem::remove(theirs);
    if (c.file != nullptr) {
      test::WriteFile(ours, c.file);
      test::WriteFile(theirs, c.file);
    }
    for (const Write& w : c.writes) {
      EXPECT_TRUE(WriteProfileString(ours, w.section, w.key, w.value)) << c.what;
      EXPECT_NE(::WritePrivateProfileStringA(w.section, w.key, w.value, theirs.c_str()), 0)
          << c.what;
    }
    if (c.same_bytes) {
      EXPECT_EQ(test::ReadFile(ours), test::ReadFile(theirs)) << c.what;
    }
    ExpectSameReadings(ours, theirs, c);
  }

  // Where the bytes differ, ours changed nothing but the lines written.
  const std::string ours = dir.file("kept.ini");
  test::WriteFile(ours, WriteCases().back().file);
  for (const Write& w : WriteCases().back().writes)
    ASSERT_TRUE(WriteProfileString(ours, w.section, w.key, w.value));
  EXPECT_EQ(test::ReadFile(ours),
            "; settings\r\n[Ports]\r\nCOM1=\\\\.\\COM7\r\n\r\n[SETUP]\r\nComPort=2\r\n"
            "PreserveObjects=0\r\n\r\n; end\r\n[Other]\r\nComPort=3\r\n");
}

}  // namespace
}  // namespace vok
