#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/settings.h"
#include "support/files.h"
#include "support/recorders.h"
#include "support/temp_dir.h"

namespace vok {
namespace {

using test::ReadFile;
using test::ScriptedUi;
using test::TempDir;
using test::WriteFile;

#ifdef _WIN32
const std::string kSep = "\\";
#else
const std::string kSep = "/";
#endif

// Whether a read-only file stops this process: root passes over the bits
// (under Wine too, which keeps the read-only attribute in them).
bool ReadOnlyHolds(const TempDir& dir) {
  const std::string probe = dir.file("probe");
  std::ofstream(probe) << "x";
  std::filesystem::permissions(probe, std::filesystem::perms::owner_read);
  const bool holds = !std::ofstream(probe, std::ios::app);
  std::filesystem::permissions(probe, std::filesystem::perms::owner_all);
  std::filesystem::remove(probe);
  return holds;
}

TEST(Settings, DefaultsWithoutFileAndExitCreatesIt) {
  TempDir dir;
  AppPaths paths{dir.folder()};
  Settings s = LoadSettings(paths);
  EXPECT_EQ(s.port_index, 0);
  EXPECT_EQ(s.baud_rate, 38400);
  EXPECT_EQ(s.backup_first, 0);
  EXPECT_EQ(s.preserve_objects, 0);

  ScriptedUi ui;
  SaveSettingsOnExit(paths, ui, s);
  EXPECT_TRUE(ui.messages.empty());
  // A new file gets CR LF, and the baud rate is never written.
  EXPECT_EQ(ReadFile(paths.Settings()),
            "[SETUP]\r\nComPort=0\r\nBackupFirst=0\r\nPreserveObjects=0\r\n");
}

TEST(Settings, ValuesAsTheProfileRulesReadThem) {
  TempDir dir;
  AppPaths paths{dir.folder()};
  WriteFile(paths.Settings(),
      "[other]\r\nComPort=3\r\n"
      "  [ setup ]  \r\n"
      "  comport =  7  \r\n"
      "BAUDRATE=9600baud\r\n"
      "BackupFirst=-1\r\n"
      "PreserveObjects=\r\n"
      "Extra=x\r\n");
  Settings s = LoadSettings(paths);
  EXPECT_EQ(s.port_index, 7);    // loaded unchanged, though no port has it
  EXPECT_EQ(s.baud_rate, 9600);  // the digits the text begins with
  EXPECT_EQ(s.backup_first, -1);
  EXPECT_EQ(s.preserve_objects, 0);  // empty value: the default

  const std::string f = paths.Settings();
  EXPECT_EQ(ReadProfileInt(f, "SETUP", "Extra", 42), 0);    // no digit
  EXPECT_EQ(ReadProfileInt(f, "SETUP", "Missing", 42), 42);  // no key
  EXPECT_EQ(ReadProfileInt(f, "Nowhere", "ComPort", 42), 42);
  EXPECT_EQ(ReadProfileInt(f, "OTHER", "comport", 42), 3);
  EXPECT_EQ(ReadProfileInt(dir.file("absent.ini"), "SETUP", "ComPort", 5), 5);

  WriteFile(f, "[SETUP]\nA=+12\nB=- 3\nC=\"2\"\nD=4294967297\nE= -0012x\n;ComPort=9\nComPort=1\n");
  EXPECT_EQ(ReadProfileInt(f, "SETUP", "A", 0), 12);
  EXPECT_EQ(ReadProfileInt(f, "SETUP", "B", 9), 0);
  EXPECT_EQ(ReadProfileInt(f, "SETUP", "C", 0), 2);
  EXPECT_EQ(ReadProfileInt(f, "SETUP", "D", 0), 1);  // wraps to 32 bits
  EXPECT_EQ(ReadProfileInt(f, "SETUP", "E", 0), -12);
  EXPECT_EQ(ReadProfileInt(f, "SETUP", "ComPort", 0), 1);  // the comment is no key

  // An editor's byte-order mark does not hide the first section.
  WriteFile(f, "\xEF\xBB\xBF[SETUP]\r\nComPort=2\r\n");
  EXPECT_EQ(LoadSettings(paths).port_index, 2);
}

TEST(Settings, WritesKeepEveryOtherByte) {
  TempDir dir;
  AppPaths paths{dir.folder()};
  ScriptedUi ui;
  const std::string head =
      "; VOK Loader settings\r\n"
      "[Ports]\r\n"
      "COM1=/dev/ttyUSB0\r\n"
      "\r\n";
  const std::string tail =
      "\r\n"
      "; trailing comment\r\n"
      "[Other]\r\n"
      "ComPort = 3   ; not ours\r\n";
  WriteFile(paths.Settings(), head + "[setup]\r\n  comport = 1 \r\nBaudrate=9600\r\n" + tail);

  WriteSettingsKey(paths, ui, "ComPort", -1);
  // The key keeps its spelling; the section's other lines and the rest stay.
  EXPECT_EQ(ReadFile(paths.Settings()), head + "[setup]\r\ncomport=-1\r\nBaudrate=9600\r\n" + tail);

  WriteSettingsKey(paths, ui, "BackupFirst", 1);
  EXPECT_EQ(ReadFile(paths.Settings()),
            head + "[setup]\r\ncomport=-1\r\nBaudrate=9600\r\nBackupFirst=1\r\n" + tail);

  Settings s = LoadSettings(paths);
  EXPECT_EQ(s.port_index, -1);
  EXPECT_EQ(s.baud_rate, 9600);
  EXPECT_EQ(s.backup_first, 1);
  s.port_index = 2;
  SaveSettingsOnExit(paths, ui, s);
  EXPECT_EQ(ReadFile(paths.Settings()),
            head +
                "[setup]\r\ncomport=2\r\nBaudrate=9600\r\nBackupFirst=1\r\nPreserveObjects=0\r\n" +
                tail);
  EXPECT_TRUE(ui.messages.empty());
}

TEST(Settings, LineEndsOfTheFileAreKept) {
  TempDir dir;
  AppPaths paths{dir.folder()};
  ScriptedUi ui;

  // LF file whose last line has no line end.
  WriteFile(paths.Settings(), "[Other]\nx=1\n\n[SETUP]\nComPort=0");
  WriteSettingsKey(paths, ui, "PreserveObjects", 5);
  EXPECT_EQ(ReadFile(paths.Settings()), "[Other]\nx=1\n\n[SETUP]\nComPort=0\nPreserveObjects=5\n");
  WriteSettingsKey(paths, ui, "ComPort", 3);
  EXPECT_EQ(ReadFile(paths.Settings()), "[Other]\nx=1\n\n[SETUP]\nComPort=3\nPreserveObjects=5\n");

  // A file without the section gets it at its end, in its own line ends.
  WriteFile(paths.Settings(), "[Other]\nx=1");
  WriteSettingsKey(paths, ui, "ComPort", 1);
  EXPECT_EQ(ReadFile(paths.Settings()), "[Other]\nx=1\n\n[SETUP]\nComPort=1\n");

  // An empty section header line: the key goes right behind it.
  WriteFile(paths.Settings(), "[SETUP]\r\n\r\n[Next]\r\n");
  WriteSettingsKey(paths, ui, "ComPort", 0);
  EXPECT_EQ(ReadFile(paths.Settings()), "[SETUP]\r\nComPort=0\r\n\r\n[Next]\r\n");

  // Bytes that are not ASCII pass through untouched.
  const std::string odd = "[\xE4rger]\r\nk=\xFF\xFE\r\n";
  WriteFile(paths.Settings(), odd + "[SETUP]\r\nComPort=1\r\n");
  WriteSettingsKey(paths, ui, "ComPort", 2);
  EXPECT_EQ(ReadFile(paths.Settings()), odd + "[SETUP]\r\nComPort=2\r\n");
  EXPECT_TRUE(ui.messages.empty());
}

// Permission bits do not stop root, who runs the tests, so the unwritable
// settings file is a directory standing at its path: opening it for writing
// fails for every user. A missing application folder fails the same way.
TEST(Settings, UnwritableFileReportsEachKeyOnce) {
  TempDir dir;
  AppPaths paths{dir.folder()};
  std::filesystem::create_directory(paths.Settings());
  EXPECT_EQ(LoadSettings(paths).baud_rate, 38400);

  ScriptedUi ui;
  Settings s;
  s.port_index = 2;
  SaveSettingsOnExit(paths, ui, s);
  ASSERT_EQ(ui.messages.size(), 3u);
  for (const auto& m : ui.messages) {
    EXPECT_EQ(m.text, "Unable to Write to Initialization File");
    EXPECT_EQ(m.buttons, Buttons::Ok);
    EXPECT_EQ(m.icon, Icon::Warning);
    EXPECT_EQ(m.title, "VOK Loader");
  }
  EXPECT_TRUE(std::filesystem::is_directory(paths.Settings()));

  ScriptedUi ui2;
  AppPaths gone{dir.folder() + "missing" + kSep};
  WriteSettingsKey(gone, ui2, "ComPort", 1);
  EXPECT_EQ(ui2.MessageTexts(), std::vector<std::string>{"Unable to Write to Initialization File"});
  EXPECT_FALSE(std::filesystem::exists(gone.Settings()));

  // Where the bits do hold, a read-only file is refused and left as it was.
  if (ReadOnlyHolds(dir)) {
    AppPaths ro{dir.folder() + "ro" + kSep};
    std::filesystem::create_directory(dir.file("ro"));
    WriteFile(ro.Settings(), "[SETUP]\r\nComPort=1\r\n");
    std::filesystem::permissions(ro.Settings(), std::filesystem::perms::owner_read);
    ScriptedUi ui3;
    SaveSettingsOnExit(ro, ui3, s);
    EXPECT_EQ(ui3.messages.size(), 3u);
    EXPECT_EQ(ReadFile(ro.Settings()), "[SETUP]\r\nComPort=1\r\n");
    std::filesystem::permissions(ro.Settings(), std::filesystem::perms::owner_all);
  }
}

TEST(Settings, FoldersAndFixedFiles) {
  std::string folder = ExecutableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(std::string(1, folder.back()), kSep);
#ifdef _WIN32
  // A full path with its drive, the folder this test program lies in.
  EXPECT_EQ(folder.substr(1, 2), ":\\");
  EXPECT_TRUE(std::filesystem::is_regular_file(folder + "settings_test.exe"));
#else
  EXPECT_EQ(std::filesystem::path(folder + "x").parent_path(),
            std::filesystem::read_symlink("/proc/self/exe").parent_path());
#endif

  TempDir dir;
  AppPaths paths{dir.folder()};
  EXPECT_EQ(paths.Settings(), dir.folder() + "VOKLOAD.INI");
  EXPECT_EQ(paths.UpdateCmd(), dir.folder() + "UPDATE" + kSep + "UPDATE.CMD");
  EXPECT_EQ(paths.UpdateSem(), dir.folder() + "UPDATE" + kSep + "UPDATE.SEM");
  EXPECT_EQ(paths.UpdateLog(), dir.folder() + "UPDATE" + kSep + "UPDATE.LOG");
  EXPECT_EQ(paths.BackupLog(), dir.folder() + "BACKUP" + kSep + "BACKUP.LOG");

  WriteFile(dir.file("BACKUP"), "");  // a file in the way is not reported
  CreateWorkFolders(paths);
  EXPECT_TRUE(std::filesystem::is_directory(dir.file("UPDATE")));
  EXPECT_TRUE(std::filesystem::is_regular_file(dir.file("BACKUP")));
  std::filesystem::remove(dir.file("BACKUP"));
  CreateWorkFolders(paths);
  CreateWorkFolders(paths);  // already there: nothing happens
  EXPECT_TRUE(std::filesystem::is_directory(dir.file("BACKUP")));
}

TEST(Settings, PortTable) {
  TempDir dir;
  AppPaths paths{dir.folder()};
  EXPECT_TRUE(LoadPortTable(paths).empty());
  WriteFile(paths.Settings(),
      "[SETUP]\r\nComPort=1\r\n"
      "[ports]\r\n"
      "COM1=/dev/ttyUSB0\r\n"
      "com2 = \"/dev/serial/by-id/my adapter\" \r\n"
      "COM3=\r\n"
      "COM1=/dev/second\r\n");
  PortTable t = LoadPortTable(paths);
  EXPECT_EQ(t, (PortTable{{"COM1", "/dev/ttyUSB0"}, {"COM2", "/dev/serial/by-id/my adapter"}}));
  // The table configures nothing of [SETUP].
  EXPECT_EQ(LoadSettings(paths).port_index, 1);
}

}  // namespace
}  // namespace vok
