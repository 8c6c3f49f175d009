#include <gtest/gtest.h>

#include <chrono>
#include <sstream>

#include "cli/command_line.h"
#include "cli/console.h"

namespace vok::cli {
namespace {

struct Screen {
  std::ostringstream out, err;
  Console console;
  Screen(bool out_tty, bool err_tty) : console(out, out_tty, err, err_tty) {}
};

TEST(CliTerminal, LogLinesOnAPipeAreTheCompletedLinesOnly) {
  Screen s(false, false);
  TerminalLog log(s.console);
  log.BeginStep("Connecting to target loader");
  log.EndStep(1);
  log.AddLine(" ");
  log.BeginStep("Erasing Flashsector");
  log.EndStep(0);
  log.Clear();
  log.AddLineAndShow("#### Update of target memory failed ####");
  EXPECT_EQ(s.out.str(),
            "Connecting to target loader passed\n \nErasing Flashsector failed\n"
            "#### Update of target memory failed ####\n");
  EXPECT_EQ(s.err.str(), "");
}

TEST(CliTerminal, PendingLineOnATerminalIsOverwrittenInPlace) {
  Screen s(true, false);
  TerminalLog log(s.console);
  log.BeginStep("Reading target memory");
  EXPECT_EQ(s.out.str(), "Reading target memory ...");
  log.EndStep(7);
  EXPECT_EQ(s.out.str(), "Reading target memory ...\r\x1b[KReading target memory passed\n");
}

TEST(CliTerminal, PermanentLinesMakeRoomForTheTransientOneAndBringItBack) {
  Screen s(true, true);
  TerminalLog log(s.console);
  log.BeginStep("Programming target memory");
  s.console.Err("Verifying target memory failed at 0x00084000");
  EXPECT_EQ(s.out.str(), "Programming target memory ...\r\x1b[KProgramming target memory ...");
  EXPECT_EQ(s.err.str(), "Verifying target memory failed at 0x00084000\n");

  // The progress line stands in for the pending step and gives it back when reset.
  s.out.str("");
  s.console.SetProgress(" 50.0%");
  EXPECT_EQ(s.out.str(), "\r\x1b[K");
  EXPECT_EQ(s.err.str(), "Verifying target memory failed at 0x00084000\n 50.0%");
  s.console.SetProgress({});
  EXPECT_EQ(s.out.str(), "\r\x1b[KProgramming target memory ...");
}

TEST(CliTerminal, ProgressOnATerminalDoesNotDisturbRedirectedOutput) {
  Screen s(false, true);
  s.console.SetProgress(" 10.0%");
  s.console.Out("Reading target memory passed");
  EXPECT_EQ(s.out.str(), "Reading target memory passed\n");
  EXPECT_EQ(s.err.str(), " 10.0%");
  s.console.Err("Reading target memory failed (-3001) !");
  EXPECT_EQ(s.err.str(), " 10.0%\r\x1b[KReading target memory failed (-3001) !\n 10.0%");
}

TEST(CliTerminal, MessagesAreAnsweredFromTheCommandLine) {
  Screen s(false, false);
  TerminalUi ui(s.console, Answer::Yes, Answer::Retry, "/tmp/u.sss");
  EXPECT_EQ(ui.ShowMessage("File already exists. Overwrite?", Buttons::YesNo, Icon::None, kAppTitle),
            Answer::Yes);
  EXPECT_EQ(ui.ShowMessage("Last update was aborted during critical action!", Buttons::RetryCancel,
                           Icon::None, kAppTitle),
            Answer::Retry);
  EXPECT_EQ(ui.ShowMessage("two\r\nlines", Buttons::Ok, Icon::Stop, kAppTitle), Answer::Ok);
  int port = 2;
  EXPECT_FALSE(ui.ChoosePort(port));
  EXPECT_EQ(port, 2);
  std::string path;
  EXPECT_TRUE(ui.ChooseFile(FileDialogRequest{}, path));
  EXPECT_EQ(path, "/tmp/u.sss");
  ui.Beep(440, 83);  // silent
  EXPECT_EQ(s.err.str(),
            "File already exists. Overwrite?\n"
            "Last update was aborted during critical action!\n"
            "two lines\n"
            "The selected comm port is not available. Perhaps another program is using it.\n");
  EXPECT_EQ(s.out.str(), "");

  TerminalUi no(s.console, Answer::No, Answer::Cancel);
  EXPECT_EQ(no.ShowMessage("File already exists. Overwrite?", Buttons::YesNo, Icon::None, kAppTitle),
            Answer::No);
  EXPECT_EQ(no.ShowMessage("x", Buttons::RetryCancel, Icon::None, kAppTitle), Answer::Cancel);
  EXPECT_FALSE(no.ChooseFile(FileDialogRequest{}, path));
}

TEST(CliTerminal, ProgressLineShowsPercentBytesAndRate) {
  EXPECT_EQ(FormatProgress(65536, 32768, 0, 0, 115200), " 50.0%  32768/65536 bytes");
  // 11059 bytes in a second at 115200 baud: 96% of what the line carries.
  EXPECT_EQ(FormatProgress(65536, 12083, 11059, 1000, 115200),
            " 18.4%  12083/65536 bytes  11.1 kB/s, 96% of 115200 baud");
  EXPECT_EQ(FormatProgress(3, 1, 1, 500, 0), " 33.3%  1/3 bytes  0.0 kB/s");
  EXPECT_EQ(FormatProgress(100, 200, 0, 0, 9600), "100.0%  200/100 bytes");
  // Counts of large command files do not wrap.
  EXPECT_EQ(FormatProgress(4000000000u, 3000000000u, 0, 0, 0), " 75.0%  3000000000/4000000000 bytes");
  EXPECT_EQ(FormatElapsed(4240), "Elapsed time: 4.2 s");
  EXPECT_EQ(FormatElapsed(125400), "Elapsed time: 2 min 05 s");
}

TEST(CliTerminal, ProgressBarIsThrottledMeasuredFromItsFirstReportAndOnlyOnATerminal) {
  using namespace std::chrono;
  steady_clock::time_point now{};
  Screen s(false, true);
  TerminalProgress bar(s.console, true, [] { return 38400u; }, [&] { return now; });
  now += seconds(30);  // connecting, before the first report, does not count
  bar.SetProgress(10240, 1024);
  EXPECT_EQ(s.err.str(), " 10.0%  1024/10240 bytes");
  now += milliseconds(50);
  bar.SetProgress(10240, 2048);  // too soon
  EXPECT_EQ(s.err.str(), " 10.0%  1024/10240 bytes");
  now += milliseconds(950);
  bar.SetProgress(10240, 4096);
  EXPECT_EQ(s.err.str(),
            " 10.0%  1024/10240 bytes\r\x1b[K 40.0%  4096/10240 bytes  3.1 kB/s, 80% of 38400 baud");
  now += milliseconds(10);
  bar.SetProgress(10240, 10240);  // the end is always shown
  EXPECT_NE(s.err.str().find("100.0%  10240/10240 bytes"), std::string::npos);
  s.err.str("");
  bar.ResetProgress();
  EXPECT_EQ(s.err.str(), "\r\x1b[K");

  Screen pipe(false, false);
  TerminalProgress off(pipe.console, true, nullptr);
  off.SetProgress(10, 5);
  Screen tty(true, true);
  TerminalProgress refused(tty.console, false, nullptr);
  refused.SetProgress(10, 5);
  refused.ResetProgress();
  EXPECT_EQ(pipe.err.str() + tty.err.str() + tty.out.str(), "");
}

#ifdef _WIN32
const std::string kDevicePath = "\\\\.\\COM12";
const std::string kNotAPort = "LPT1";  // COMn beyond four is a device name here
#else
const std::string kDevicePath = "/dev/ttyUSB0";
const std::string kNotAPort = "COM5";
#endif

CommandLine Parsed(std::vector<std::string> args) {
  CommandLine line;
  std::string error;
  EXPECT_EQ(ParseCommandLine(args, line, error), 1) << error;
  return line;
}

std::string Refused(std::vector<std::string> args) {
  CommandLine line;
  std::string error;
  EXPECT_EQ(ParseCommandLine(args, line, error), 0);
  return error;
}

TEST(CliCommandLine, TheCommandsAndOptionsOfTheInterface) {
  CommandLine l = Parsed({"--port", "COM3", "--baud", "115200", "--folder", "/x", "--yes",
                          "--no-progress", "--verify", "update", "--fresh", "a.sss"});
  EXPECT_EQ(l.command, Command::Update);
  EXPECT_EQ(l.file, "a.sss");
  EXPECT_TRUE(l.fresh && l.yes && l.no_progress && l.verify);
  EXPECT_EQ(*l.port, "COM3");
  EXPECT_EQ(*l.baud, 115200);
  EXPECT_EQ(*l.folder, "/x");

  EXPECT_EQ(Parsed({"info"}).command, Command::Info);
  EXPECT_EQ(Parsed({"resume", "--verify"}).command, Command::Resume);
  EXPECT_TRUE(Parsed({"resume", "--no-verify"}).no_verify);
  EXPECT_EQ(Parsed({"start"}).command, Command::Start);
  EXPECT_EQ(Parsed({"ports", "--port=" + kDevicePath}).port.value(), kDevicePath);
  EXPECT_EQ(Parsed({"backup"}).file, "");
  EXPECT_EQ(Parsed({"backup", "b.sss"}).file, "b.sss");
  EXPECT_EQ(Parsed({"update", "--", "--odd.sss"}).file, "--odd.sss");
  EXPECT_EQ(Parsed({"--version"}).command, Command::Version);
  EXPECT_EQ(Parsed({"info", "--help"}).command, Command::Help);
  EXPECT_FALSE(Parsed({"--port", "com2", "info"}).fresh);
}

TEST(CliCommandLine, WrongCommandLinesAreRefusedWithAReason) {
  EXPECT_EQ(Refused({}), "no command given");
  EXPECT_EQ(Refused({"flash"}), "unknown command 'flash'");
  EXPECT_EQ(Refused({"update"}), "update needs exactly one update file");
  EXPECT_EQ(Refused({"update", "a", "b"}), "update needs exactly one update file");
  EXPECT_EQ(Refused({"backup", "a", "b"}), "backup takes at most one file");
  EXPECT_EQ(Refused({"info", "x"}), "info takes no operand");
  EXPECT_EQ(Refused({"resume", "a.sss"}), "resume takes no operand");
  EXPECT_EQ(Refused({"backup", "--fresh"}), "--fresh belongs to update");
  EXPECT_EQ(Refused({"update", "a", "--verify", "--no-verify"}), "--verify and --no-verify exclude each other");
  EXPECT_EQ(Refused({"info", "--port"}), "option --port needs a value");
  EXPECT_EQ(Refused({"info", "--port", kNotAPort}),
            "--port takes COM1 to COM4 or a device path, not '" + kNotAPort + "'");
  EXPECT_EQ(Refused({"info", "--baud", "fast"}), "--baud takes a positive whole number, not 'fast'");
  EXPECT_EQ(Refused({"info", "--baud", "0"}), "--baud takes a positive whole number, not '0'");
  EXPECT_EQ(Refused({"info", "--baud", "99999999999"}),
            "--baud takes a positive whole number, not '99999999999'");
  EXPECT_EQ(Refused({"info", "--baud=-9600"}), "--baud takes a positive whole number, not '-9600'");
  EXPECT_EQ(Refused({"info", "--folder="}), "--folder needs a folder");
  EXPECT_EQ(Refused({"info", "--yes=no"}), "option --yes takes no value");
  EXPECT_EQ(Refused({"info", "-y"}), "unknown option '-y'");
  EXPECT_EQ(Refused({"info", "--force"}), "unknown option '--force'");
}

TEST(CliCommandLine, PortNamesAndDevicePaths) {
  PortTable table{{"COM1", "/dev/ttyUSB3"}};
  int index = -1;
  EXPECT_EQ(ResolvePort("COM4", table, index), 1);
  EXPECT_EQ(index, 3);
  EXPECT_EQ(table.at("COM1"), "/dev/ttyUSB3");
#ifdef _WIN32
  EXPECT_EQ(ResolvePort("\\\\.\\COM3", table, index), 1);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(table.at("COM1"), "\\\\.\\COM3");
  EXPECT_EQ(ResolvePort("com12", table, index), 1);
  EXPECT_EQ(table.at("COM1"), "com12");
  for (const char* odd : {"COM0", "COM", "COM1x", "LPT1", "ttyUSB0", "COM1234567"})
    EXPECT_EQ(ResolvePort(odd, table, index), 0) << odd;

  EXPECT_EQ(FolderWithSeparator("C:\\a\\b"), "C:\\a\\b\\");
  EXPECT_EQ(FolderWithSeparator("C:\\a\\b\\"), "C:\\a\\b\\");
  EXPECT_EQ(FolderWithSeparator("C:\\a\\.\\c\\..\\b"), "C:\\a\\b\\");
  EXPECT_EQ(FolderWithSeparator("C:/a/b"), "C:\\a\\b\\");
#else
  EXPECT_EQ(ResolvePort("/dev/pts/7", table, index), 1);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(table.at("COM1"), "/dev/pts/7");
  EXPECT_EQ(ResolvePort("ttyUSB0", table, index), 0);

  EXPECT_EQ(FolderWithSeparator("/a/b"), "/a/b/");
  EXPECT_EQ(FolderWithSeparator("/a/b/"), "/a/b/");
  EXPECT_EQ(FolderWithSeparator("/a/./c/../b"), "/a/b/");
#endif
}

}  // namespace
}  // namespace vok::cli
