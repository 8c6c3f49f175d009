#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <sstream>

#include "cli/command_line.h"
#include "cli/console.h"
#include "cli/json.h"
#include "cli/cli_ui.h"
#include "cli/report.h"
#include "link/link_error.h"

namespace vok::cli {
namespace {

struct Screen {
  std::ostringstream out, err;
  Console console;
  Screen(bool out_tty, bool err_tty) : console(out, out_tty, err, err_tty) {}
};

TEST(CliTerminal, LogLinesOnAPipeAreTheCompletedLinesOnly) {
  Screen s(false, false);
  TextReport report(s.console, true, nullptr);
  CliLog log(report);
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
  EXPECT_EQ(report.FailureMessage(), "Update of target memory failed");
}

TEST(CliTerminal, PendingLineOnATerminalIsOverwrittenInPlace) {
  Screen s(true, false);
  TextReport report(s.console, true, nullptr);
  CliLog log(report);
  log.BeginStep("Reading target memory");
  EXPECT_EQ(s.out.str(), "Reading target memory ...");
  log.EndStep(7);
  EXPECT_EQ(s.out.str(), "Reading target memory ...\r\x1b[KReading target memory passed\n");
}

TEST(CliTerminal, PermanentLinesMakeRoomForTheTransientOneAndBringItBack) {
  Screen s(true, true);
  TextReport report(s.console, true, nullptr);
  CliLog log(report);
  log.BeginStep("Programming target memory");
  s.console.Err("Verifying target memory failed at 0x00084000");
  EXPECT_EQ(s.out.str(), "Programming target memory ...\r\x1b[KProgramming target memory ...");
  EXPECT_EQ(s.err.str(), "vokloader-cli: Verifying target memory failed at 0x00084000\n");

  // The progress line stands in for the pending step and gives it back when reset.
  s.out.str("");
  s.err.str("");
  s.console.SetProgress(" 50.0%");
  EXPECT_EQ(s.out.str(), "\r\x1b[K");
  EXPECT_EQ(s.err.str(), " 50.0%");
  s.console.SetProgress({});
  EXPECT_EQ(s.out.str(), "\r\x1b[KProgramming target memory ...");

  // A question takes the line; the pending step comes back after the next line.
  s.out.str("");
  s.console.Prompt("File already exists. Overwrite? (y/N) ");
  EXPECT_EQ(s.out.str(), "\r\x1b[K");
  EXPECT_EQ(s.err.str(), " 50.0%\r\x1b[Kvokloader-cli: File already exists. Overwrite? (y/N) ");
}

TEST(CliTerminal, ProgressOnATerminalDoesNotDisturbRedirectedOutput) {
  Screen s(false, true);
  s.console.SetProgress(" 10.0%");
  s.console.Out("Reading target memory passed");
  EXPECT_EQ(s.out.str(), "Reading target memory passed\n");
  EXPECT_EQ(s.err.str(), " 10.0%");
  s.console.Err("Reading target memory failed (-3001) !");
  EXPECT_EQ(s.err.str(),
            " 10.0%\r\x1b[Kvokloader-cli: Reading target memory failed (-3001) !\n 10.0%");
}

TEST(CliTerminal, MessagesAreAnsweredFromTheCommandLineOrAtTheTerminal) {
  Screen s(false, false);
  std::vector<std::string> asked;
  std::optional<bool> answer;  // nobody at a terminal
  TextReport report(s.console, false, [&](const std::string& q) {
    asked.push_back(q);
    return answer;
  });
  CliUi yes(report, true, Answer::Retry, nullptr, 0, "/tmp/u.sss");
  EXPECT_EQ(yes.ShowMessage("File already exists. Overwrite?", Buttons::YesNo, Icon::None, kAppTitle),
            Answer::Yes);
  EXPECT_EQ(yes.ShowMessage("Last update was aborted during critical action!", Buttons::RetryCancel,
                            Icon::None, kAppTitle),
            Answer::Retry);
  EXPECT_EQ(yes.ShowMessage("two\r\nlines", Buttons::Ok, Icon::Stop, kAppTitle), Answer::Ok);
  std::string path;
  EXPECT_TRUE(yes.ChooseFile(FileDialogRequest{}, path));
  EXPECT_EQ(path, "/tmp/u.sss");
  yes.Beep(440, 83);  // silent
  EXPECT_TRUE(asked.empty());

  CliUi no(report, false, Answer::Cancel, nullptr, 0);
  EXPECT_EQ(no.ShowMessage("File already exists. Overwrite?", Buttons::YesNo, Icon::None, kAppTitle),
            Answer::No);
  answer = true;
  EXPECT_EQ(no.ShowMessage("File already exists. Overwrite?", Buttons::YesNo, Icon::None, kAppTitle),
            Answer::Yes);
  answer = false;
  EXPECT_EQ(no.ShowMessage("File already exists. Overwrite?", Buttons::YesNo, Icon::None, kAppTitle),
            Answer::No);
  EXPECT_EQ(no.ShowMessage("x", Buttons::RetryCancel, Icon::None, kAppTitle), Answer::Cancel);
  EXPECT_FALSE(no.ChooseFile(FileDialogRequest{}, path));
  int port = 2;
  EXPECT_FALSE(no.ChoosePort(port));
  EXPECT_EQ(port, 2);
  EXPECT_EQ(asked.size(), 3u);
  EXPECT_EQ(s.err.str(),
            "vokloader-cli: File already exists. Overwrite? Yes (--yes)\n"
            "vokloader-cli: Last update was aborted during critical action!\n"
            "vokloader-cli: two lines\n"
            "vokloader-cli: File already exists. Overwrite? No (answer Yes with --yes)\n"
            "vokloader-cli: x\n");
  EXPECT_EQ(s.out.str(), "");
  EXPECT_EQ(report.FailureMessage(), "two\r\nlines");
}

// A failed open, as the platform's port notes it.
class RefusingPort : public SerialPort {
 public:
  int OpenPort(const std::string& device) override {
    return OpenFailed(kErrPortOpen, PortOpenFailure::kDenied, 13, device, "Permission denied");
  }
  int SetPortBaud(uint32_t) override { return kErrPortSetup; }
  int WritePort(size_t, const uint8_t*) override { return kErrWrite; }
  void PurgePortInput() override {}
  void ClosePort() override {}

 protected:
  int ReadAttempt(uint8_t*) override { return 0; }
  bool ClearPortError() override { return false; }
};

TEST(CliTerminal, APortThatCannotBeOpenedIsNamedWithTheSystemsReasonOnce) {
  // The kinds the command-line tests cannot bring about on this machine.
  EXPECT_EQ(PortFailureLines({PortOpenFailure::kSetup, -1001, 25, "/dev/null", "Inappropriate ioctl for device"},
                             "COM2"),
            std::vector<std::string>{"cannot set up /dev/null (COM2) as a serial line: Inappropriate ioctl for device"});
  EXPECT_EQ(PortFailureLines({}, "COM9"), std::vector<std::string>{"cannot open COM9: no device of this name"});

  // Told where the port dialog would be, or before the message that follows
  // the failed open; once.
  Screen s(false, false);
  TextReport report(s.console, false, nullptr);
  LoaderLink link(std::make_unique<RefusingPort>());
  CliUi ui(report, false, Answer::Cancel, &link, 1);
  EXPECT_FALSE(ui.TellPortFailure());
  EXPECT_EQ(link.OpenLink("COM2", 9600), kErrPortOpen);
  ui.ShowMessage("Cannot connect to target loader!", Buttons::Ok, Icon::Stop, kAppTitle);
  int port = 1;
  EXPECT_FALSE(ui.ChoosePort(port));
  EXPECT_TRUE(ui.TellPortFailure());
  const std::string device = link.DeviceFor("COM2");
  std::string expected = "vokloader-cli: cannot open " + device + " (COM2): Permission denied\n";
#ifdef __linux__
  expected += "vokloader-cli: serial devices belong to the group dialout: add the user to it (sudo "
              "usermod -aG dialout $USER) and log in again\n";
#endif
  EXPECT_EQ(s.err.str(), expected + "vokloader-cli: Cannot connect to target loader!\n");
  EXPECT_EQ(report.FailureMessage(), "cannot open " + device + " (COM2): Permission denied");

  // The status line that repeats a failure after its message is not told;
  // the next status after it is.
  Screen t(false, false);
  TextReport second(t.console, false, nullptr);
  CliStatus status(second);
  CliUi quiet(second, false, Answer::Cancel, nullptr, 0);
  status.SetStatusText("Scanning for component information, please wait...");
  quiet.ShowMessage("Reading target memory failed (-3001) !", Buttons::Ok, Icon::Stop, kAppTitle);
  status.SetStatusText("Reading target memory failed (-3001) !");
  status.SetStatusText("Connecting to target loader ...");
  EXPECT_EQ(t.err.str(),
            "vokloader-cli: Scanning for component information, please wait...\n"
            "vokloader-cli: Reading target memory failed (-3001) !\n"
            "vokloader-cli: Connecting to target loader ...\n");
}

TEST(CliJson, EventsOneObjectALineWithTheTextsAsBytes) {
  EXPECT_EQ(JsonString("plain"), "\"plain\"");
  EXPECT_EQ(JsonString("a\"b\\c\r\n\t\x01\x7F"), "\"a\\\"b\\\\c\\r\\n\\t\\u0001\\u007f\"");
  // Bytes above ASCII are Latin-1 code points, whatever they would mean in UTF-8.
  EXPECT_EQ(JsonString("M\xFC\x6Cler \xC3\xA9"), "\"M\\u00fcller \\u00c3\\u00a9\"");
  EXPECT_EQ(JsonString(std::string("a\0b", 3)), "\"a\\u0000b\"");

  Screen s(true, true);
  JsonReport report(s.console);
  CliLog log(report);
  CliProgress progress(report);
  CliUi ui(report, false, Answer::Cancel, nullptr, 0);
  log.BeginStep("Connecting to target loader");
  log.EndStep(1);
  log.AddLine(" ");  // spacing only
  log.AddLine("Test update 1.0");
  progress.SetProgress(2048, 1024);
  progress.SetProgress(2048, 1024);  // no change: no event
  progress.SetProgress(4000000, 1);  // a tenth of a percent not reached
  progress.ResetProgress();
  progress.SetProgress(4000000, 1);
  EXPECT_EQ(ui.ShowMessage("File already exists. Overwrite?", Buttons::YesNo, Icon::None, kAppTitle),
            Answer::No);
  ui.ShowMessage("Reading target memory failed (-3001) !", Buttons::Ok, Icon::Stop, kAppTitle);
  report.Finish("backup", 1, JsonObject().Add("file", "/b/BK.SSS"));
  EXPECT_EQ(s.out.str(),
            "{\"event\":\"step\",\"text\":\"Connecting to target loader\",\"passed\":true}\n"
            "{\"event\":\"message\",\"text\":\"Test update 1.0\",\"level\":\"info\"}\n"
            "{\"event\":\"progress\",\"done\":1024,\"total\":2048}\n"
            "{\"event\":\"progress\",\"done\":1,\"total\":4000000}\n"
            "{\"event\":\"progress\",\"done\":1,\"total\":4000000}\n"
            "{\"event\":\"message\",\"text\":\"File already exists. Overwrite? No (answer Yes with "
            "--yes)\",\"level\":\"warning\"}\n"
            "{\"event\":\"message\",\"text\":\"Reading target memory failed (-3001) !\",\"level\":"
            "\"error\"}\n"
            "{\"event\":\"result\",\"command\":\"backup\",\"ok\":false,\"exit\":1,\"message\":"
            "\"Reading target memory failed (-3001) !\",\"file\":\"/b/BK.SSS\"}\n");
  EXPECT_EQ(s.err.str(), "");  // nothing for a terminal, not even the progress line

  s.out.str("");
  JsonReport ok(s.console);
  ok.Finish("info", 0, JsonObject());
  EXPECT_EQ(s.out.str(), "{\"event\":\"result\",\"command\":\"info\",\"ok\":true,\"exit\":0}\n");
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
  EXPECT_TRUE(Parsed({"update", "a.sss", "--no-erased-check"}).no_erased_check);
  EXPECT_EQ(Parsed({"start"}).command, Command::Start);
  EXPECT_EQ(Parsed({"ports", "--port=" + kDevicePath}).port.value(), kDevicePath);
  EXPECT_EQ(Parsed({"backup"}).file, "");
  EXPECT_EQ(Parsed({"backup", "b.sss"}).file, "b.sss");
  EXPECT_EQ(Parsed({"update", "--", "--odd.sss"}).file, "--odd.sss");
  EXPECT_EQ(Parsed({"--version"}).command, Command::Version);
  EXPECT_EQ(Parsed({"info", "--help"}).command, Command::Help);
  EXPECT_FALSE(Parsed({"--port", "com2", "info"}).fresh);

  // The short forms, --json, verify and --base.
  l = Parsed({"-p", "COM2", "-b115200", "-y", "--json", "verify", "--base", "0x84000", "f.bin"});
  EXPECT_EQ(l.command, Command::Verify);
  EXPECT_EQ(l.file, "f.bin");
  EXPECT_EQ(*l.port, "COM2");
  EXPECT_EQ(*l.baud, 115200);
  EXPECT_TRUE(l.yes && l.json);
  EXPECT_EQ(*l.base, 0x84000u);
  EXPECT_EQ(Parsed({"-pCOM4", "-b", "9600", "info"}).port.value(), "COM4");
  EXPECT_EQ(Parsed({"update", "--base=540672", "f.bin"}).base.value(), 0x84000u);
  EXPECT_EQ(Parsed({"update", "--base", "0XFFFFFFFF", "f.bin"}).base.value(), 0xFFFFFFFFu);
  EXPECT_EQ(Parsed({"-h"}).command, Command::Help);
  EXPECT_EQ(Parsed({"info", "-V"}).command, Command::Version);
  EXPECT_TRUE(WantsJson({"bogus", "--json"}));
  EXPECT_FALSE(WantsJson({"update", "--", "--json"}));
}

TEST(CliCommandLine, WrongCommandLinesAreRefusedWithAReason) {
  EXPECT_EQ(Refused({}), "no command given");
  EXPECT_EQ(Refused({"flash"}), "unknown command 'flash'");
  EXPECT_EQ(Refused({"update"}), "update needs exactly one update file");
  EXPECT_EQ(Refused({"update", "a", "b"}), "update needs exactly one update file");
  EXPECT_EQ(Refused({"backup", "a", "b"}), "backup takes at most one file");
  EXPECT_EQ(Refused({"info", "x", "y"}), "info takes at most one file");
  EXPECT_EQ(Refused({"resume", "a.sss"}), "resume takes no operand");
  EXPECT_EQ(Refused({"backup", "--fresh"}), "--fresh belongs to update");
  EXPECT_EQ(Refused({"resume", "--all-sectors"}), "--all-sectors belongs to update");
  EXPECT_EQ(Refused({"update", "a", "--verify", "--no-verify"}), "--verify and --no-verify exclude each other");
  EXPECT_EQ(Refused({"info", "--port"}), "option --port needs a value");
  EXPECT_EQ(Refused({"info", "--port", kNotAPort}),
            "--port takes COM1 to COM4, a device path, auto or all, not '" + kNotAPort + "'");
  EXPECT_EQ(Refused({"info", "--baud", "fast"}), "--baud takes a positive whole number, not 'fast'");
  EXPECT_EQ(Refused({"info", "--baud", "0"}), "--baud takes a positive whole number, not '0'");
  EXPECT_EQ(Refused({"info", "--baud", "99999999999"}),
            "--baud takes a positive whole number, not '99999999999'");
  EXPECT_EQ(Refused({"info", "--baud=-9600"}), "--baud takes a positive whole number, not '-9600'");
  EXPECT_EQ(Refused({"info", "--folder="}), "--folder needs a folder");
  EXPECT_EQ(Refused({"info", "--yes=no"}), "option --yes takes no value");
  EXPECT_EQ(Refused({"info", "-x"}), "unknown option '-x'");
  EXPECT_EQ(Refused({"info", "-yes"}), "unknown option '-yes'");
  EXPECT_EQ(Refused({"info", "-p"}), "option --port needs a value");
  EXPECT_EQ(Refused({"info", "--force"}), "unknown option '--force'");
  EXPECT_EQ(Refused({"verify"}), "verify needs exactly one update file");
  EXPECT_EQ(Refused({"info", "--base", "0x10"}), "--base belongs to update and verify");
  for (const char* address : {"0x", "0x100000000", "84000h", "-1", "4294967296", ""})
    EXPECT_EQ(Refused({"update", "--base", address, "f"}),
              std::string("--base takes an address such as 0x84000, not '") + address + "'");
  EXPECT_EQ(Refused({"info", "--json=yes"}), "option --json takes no value");
  const struct {
    std::vector<std::string> args;
    const char* error;
  } kMore[] = {
      {{"backup", ""}, "backup needs a file name"},
      {{"update", ""}, "update needs exactly one update file"},
      {{"-hx"}, "unknown option '-hx'"},
      {{"--help=1"}, "option --help takes no value"},
      {{"info", "-yx"}, "unknown option '-yx'"},
      {{"--", "--help"}, "unknown command '--help'"},
      {{"info", "--port="}, "--port takes COM1 to COM4, a device path, auto or all, not ''"},
      {{"--fresh=1", "update", "f"}, "option --fresh takes no value"},
      {{"--unknown=3"}, "unknown option '--unknown=3'"},
      {{"info", "-p", "COM1", "-p", "COM1"}, "port COM1 given twice"},
      {{"info", "-p", "COM1", "-p", "auto"}, "--port auto stands alone"},
      {{"info", "-p", "all", "-p", "COM2"}, "--port all stands alone"},
      {{"ports", "-p", "COM1", "-p", "COM2"}, "ports lists every port: it takes no --port"},
      {{"backup", "b.sss", "-p", "all"},
       "backup on several ports takes no FILE: each goes to its port's BACKUP folder"},
  };
  for (const auto& c : kMore) EXPECT_EQ(Refused(c.args), c.error) << testing::PrintToString(c.args);
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
