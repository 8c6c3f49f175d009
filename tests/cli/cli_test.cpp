// vokloader-cli as a script sees it: a child process with its exit status,
// standard output and standard error, against voksim in a process of its own.
#include "cli_fixture.h"

namespace vok::test {
namespace {

TEST_F(CliTest, InfoPrintsTheListingWithLfLineEndsAndLeavesTheSettingsAlone) {
  StartSim({}, "ComPort=0\r\nBaudrate=115200\r\n");
  std::string settings_before = ReadFile(Path("VOKLOAD.INI"));

  CliRun r = Cli({"info"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(Has(r.out, "\r"));
  EXPECT_TRUE(Has(r.out, "VOK Kernel V3.2.1\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "VOK Loader V2.1.0\n \n")) << r.out;
  EXPECT_EQ(Lines(r.err), (std::vector<std::string>{
                              "vokloader-cli: Connecting to target loader ...",
                              "vokloader-cli: Scanning for component information, please wait...",
                              "vokloader-cli: Component versions read"}));
  EXPECT_EQ(ReadFile(Path("VOKLOAD.INI")), settings_before);
  EXPECT_TRUE(fs::is_directory(Path("UPDATE")) && fs::is_directory(Path("BACKUP")));
}

TEST_F(CliTest, InfoAgainstASilentTargetFails) {
  StartSim({"--silent"});
  CliRun r = Cli({"info"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(Lines(r.err), (std::vector<std::string>{"vokloader-cli: Connecting to target loader ...",
                                                     "vokloader-cli: Cannot connect to target loader!",
                                                     "vokloader-cli: *** no target information found ***"}));
}

TEST_F(CliTest, EveryCommandNamesThePortItCannotOpenWithTheReason) {
  VoksimProcess sim({});
  ASSERT_TRUE(sim.started());
  // Another program holds the controller's line.
  std::unique_ptr<SerialPort> holder = CreatePlatformSerialPort();
  ASSERT_EQ(holder->OpenPort(sim.device()), 0);
  struct Case {
    std::string device;
    std::string line;
  };
  const std::vector<Case> cases = {
      {"/nonexistent/ttyVOK", "cannot open /nonexistent/ttyVOK (COM1): No such file or directory"},
      {sim.device(), "cannot open " + sim.device() + " (COM1): the device is held by another program"},
      // A device the user may not open, as one outside the group dialout meets it.
      {"/proc/sys/kernel/osrelease", "cannot open /proc/sys/kernel/osrelease (COM1): Permission denied\n"
                                     "vokloader-cli: serial devices belong to the group dialout"},
  };
  const std::string file = UpdateFile();
  for (const Case& c : cases) {
    WriteSettings(c.device);
    const std::string settings_before = ReadFile(Path("VOKLOAD.INI"));
    for (const std::vector<std::string>& command : std::vector<std::vector<std::string>>{
             {"info"}, {"start"}, {"update", file}, {"backup", "b.sss"}, {"verify", file}}) {
      SCOPED_TRACE(c.device + " " + command[0]);
      CliRun r = Cli(command);
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(Count(r.err, "vokloader-cli: " + c.line), 1u) << r.err;
      EXPECT_FALSE(Has(r.err, "Vok is already started")) << r.err;
      EXPECT_EQ(ReadFile(Path("VOKLOAD.INI")), settings_before);  // no port dialog, nothing saved
    }
  }
  holder->ClosePort();

  // A device path on the command line takes COM1's place for this run only.
  std::string settings_before = ReadFile(Path("VOKLOAD.INI"));
  CliRun r = Cli({"--port", sim.device(), "info"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(Path("VOKLOAD.INI")), settings_before);
}

TEST_F(CliTest, UpdateProgramsTheFileAndKeepsTheRestOfTheSector) {
  std::string state = Path("state.bin");
  VoksimProcess& sim = StartSim({"--state", state});
  std::vector<uint8_t> sector = StateMemory(state, 0x84000, 0x2000);

  CliRun r = Cli({"update", UpdateFile()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  std::vector<std::string> out = Lines(r.out);
  auto first = std::find(out.begin(), out.end(), "Test update 1.0");
  ASSERT_NE(first, out.end()) << r.out;
  EXPECT_EQ(std::vector<std::string>(first + 1, out.end()),
            (std::vector<std::string>{"Connecting to target loader passed",
                                      "Analyzing update file passed",
                                      "Reading target memory passed",
                                      "Reading target memory passed",
                                      "Building update command file passed",
                                      "Erasing Flashsector passed",
                                      "Programming target memory passed",
                                      "Checking erased flash passed",
                                      "Confirmed by loader checksum CRC-16/CCITT-FALSE",
                                      "Update of target memory succeeded"}))
      << r.out;
  EXPECT_FALSE(Exists("UPDATE/UPDATE.SEM") || Exists("UPDATE/UPDATE.CMD"));
  EXPECT_TRUE(Has(ReadFile(Path("UPDATE/UPDATE.LOG")), "Test update 1.0\r\n"));
  // No temporary image left behind, neither here nor in the update folder.
  EXPECT_FALSE(Exists("memimage.tmp") || Exists("UPDATE/memimage.tmp"));
  EXPECT_EQ(sim.Stop(), 0);
  ExpectUpdated(state, sector);
}

TEST_F(CliTest, AnInterruptedUpdateIsRefusedThenResumed) {
  std::string state = Path("state.bin");
  std::vector<uint8_t> sector;
  {
    VoksimProcess sim({"--state", state, "--cut-after", "2"});
    ASSERT_TRUE(sim.started());
    sector = StateMemory(state, 0x84000, 0x2000);
    WriteSettings(sim.device());
    CliRun r = Cli({"update", UpdateFile()});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.out, "#### Update of target memory failed ####")) << r.out;
    EXPECT_TRUE(Exists("UPDATE/UPDATE.SEM") && Exists("UPDATE/UPDATE.CMD"));
  }
  // The controller comes back with the memory it had at the cut.
  VoksimProcess& sim = StartSim({"--state", state});
  std::string command_file = ReadFile(Path("UPDATE/UPDATE.CMD"));

  CliRun r = Cli({"update", UpdateFile()});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(Has(r.err, "Last update was aborted during critical action!\n")) << r.err;
  EXPECT_EQ(ReadFile(Path("UPDATE/UPDATE.CMD")), command_file);
  EXPECT_TRUE(Exists("UPDATE/UPDATE.SEM"));

  r = Cli({"resume"});
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::string> out = Lines(r.out);
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out.front(), "Restarted update process");
  EXPECT_EQ(out.back(), "Update of target memory succeeded");
  EXPECT_FALSE(Has(r.out, "Analyzing update file")) << r.out;
  EXPECT_FALSE(Exists("UPDATE/UPDATE.SEM") || Exists("UPDATE/UPDATE.CMD"));

  // Nothing left to resume.
  r = Cli({"resume"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(sim.Stop(), 0);
  ExpectUpdated(state, sector);
}

TEST_F(CliTest, FreshUpdatesInsteadOfThePendingUpdate) {
  std::string state = Path("state.bin");
  VoksimProcess& sim = StartSim({"--state", state});
  std::vector<uint8_t> sector = StateMemory(state, 0x84000, 0x2000);
  fs::create_directory(Path("UPDATE"));
  WriteFile(Path("UPDATE/UPDATE.SEM"), "");
  WriteFile(Path("UPDATE/UPDATE.CMD"), "left over");

  // A mistyped name keeps what a resume would need.
  CliRun r = Cli({"update", "--fresh", "u.ss"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "vokloader-cli: Cannot open update file u.ss: No such file or directory\n");
  EXPECT_TRUE(Exists("UPDATE/UPDATE.SEM") && Exists("UPDATE/UPDATE.CMD"));

  // That command file is no command file: nothing of it can be carried over.
  r = Cli({"update", "--fresh", UpdateFile()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err,
            "vokloader-cli: Last update was aborted during critical action!\n"
            "vokloader-cli: The command file of the interrupted update is damaged: it erases "
            "0x7466656C, which is no sector of the flash; the contents it kept could not be "
            "recovered\n");
  EXPECT_FALSE(Has(r.out, "Restarted update process"));
  EXPECT_TRUE(Has(r.out, "Analyzing update file passed\n"));
  EXPECT_FALSE(Exists("UPDATE/UPDATE.SEM") || Exists("UPDATE/UPDATE.CMD"));
  EXPECT_EQ(sim.Stop(), 0);
  ExpectUpdated(state, sector);
}

TEST_F(CliTest, ASecondProgramOnTheFolderStopsBeforeThePort) {
  StartSim({});
  FolderLock running;
  ASSERT_EQ(running.Acquire(dir.folder()), FolderLock::Result::kLocked);
  const std::string file = UpdateFile();
  for (const std::vector<std::string>& command :
       {std::vector<std::string>{"info"}, {"backup"}, {"start"}, {"resume"}, {"verify", file}}) {
    CliRun r = Cli(command);
    EXPECT_EQ(r.status, 1) << command[0];
    EXPECT_EQ(r.out, "") << command[0];
    EXPECT_EQ(r.err, "vokloader-cli: The application folder " + dir.folder() +
                         " is in use by another VOK Loader. Wait until it has finished, or give "
                         "each program a folder of its own.\n")
        << command[0];
  }
  EXPECT_EQ(Cli({"ports"}).status, 0);  // only lists
  running.Release();
  EXPECT_EQ(Cli({"info"}).status, 0);
}

TEST_F(CliTest, ARecordTheTargetDidNotProgramIsCaught) {
  StartSim({"--ignore-program", "0x84100"});

  CliRun r = Cli({"update", "--verify", UpdateFile()});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.err, "Verifying target memory failed at 0x00084100\n")) << r.err;
  EXPECT_TRUE(Has(r.out, "Programming target memory passed\nVerifying target memory failed\n"))
      << r.out;
  EXPECT_TRUE(Has(r.out, "#### Update of target memory failed ####\n"));
  EXPECT_TRUE(Exists("UPDATE/UPDATE.SEM") && Exists("UPDATE/UPDATE.CMD"));

  // --no-verify lets it pass, and says so.
  r = Cli({"resume", "--no-verify"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(Has(r.out, "Programming not confirmed\nUpdate of target memory succeeded\n"))
      << r.out;
}

TEST_F(CliTest, VerifiedUpdateAndItsWrongInputs) {
  StartSim({});
  CliRun r = Cli({"update", UpdateFile(), "--verify"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "Verifying target memory passed\n"
                         "Checking erased flash passed\n"
                         "Reads confirmed by loader checksum CRC-16/CCITT-FALSE, "
                         "programming confirmed by reading back\n"
                         "Update of target memory succeeded\n"))
      << r.out;

  // Files that cannot be used are named with the reason, before the target is touched.
  fs::create_directory(Path("folder.sss"));
  WriteFile(Path("notes.txt"), "not firmware");
  WriteFile(Path("u.hex"), test::IntelHexFile({{kFlashData, Pattern(0x30)}}));
  for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"update", "missing.sss"}, "Cannot open update file missing.sss: No such file or directory"},
           {{"verify", "folder.sss"}, "Cannot open update file folder.sss: Is a directory"},
           {{"update", "notes.txt"},
            "Update file format error: notes.txt holds no S-records, Intel HEX or ELF; a raw binary "
            "needs --base ADDR"},
           {{"update", "--base", "0x84000", "u.hex"},
            "u.hex holds Intel HEX, not a raw binary: --base is for raw binaries only"}}) {
    r = Cli(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vokloader-cli: " + message + "\n");
    EXPECT_EQ(r.out, "");
  }

  r = Cli({"resume"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
}

TEST_F(CliTest, BackupOverAnExistingFileOnlyWithYes) {
  StartSim({});

  CliRun r = Cli({"--no-progress", "backup"});
  EXPECT_EQ(r.status, 0) << r.err;
  std::time_t now = std::time(nullptr);
  char name[32];
  std::strftime(name, sizeof name, "BACKUP/BK%y%m%d.SSS", std::localtime(&now));
  ASSERT_TRUE(Exists(name)) << name;
  std::vector<std::string> out = Lines(r.out);
  ASSERT_GE(out.size(), 6u);
  EXPECT_EQ(out[0], "Connecting to target loader passed");
  EXPECT_EQ(out[1], "Reading target information passed");
  EXPECT_EQ(out[2], " ");
  EXPECT_EQ(std::vector<std::string>(out.end() - 6, out.end()),
            (std::vector<std::string>{"Creating backup file passed",
                                      "Backup of target RAM memory passed",
                                      "Backup of target flash memory passed",
                                      "Closing backup file passed",
                                      "Confirmed by loader checksum CRC-16/CCITT-FALSE",
                                      "Backup of target memory successful"}));
  std::string backup = ReadFile(Path(name));
  EXPECT_TRUE(Has(backup, "\r\nS804000000FB\r\n"));
  EXPECT_EQ(r.err, "");

  // Named, relative to the folder the command runs in.
  WriteFile(Path("mine.sss"), "not a backup");
  r = Cli({"backup", "mine.sss"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "vokloader-cli: File already exists. Overwrite? No (answer Yes with --yes)\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(ReadFile(Path("mine.sss")), "not a backup");

  r = Cli({"backup", "-y", "mine.sss"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "vokloader-cli: File already exists. Overwrite? Yes (--yes)\n");
  EXPECT_EQ(ReadFile(Path("mine.sss")).compare(0, 2, "S0"), 0);
  EXPECT_EQ(ReadFile(Path("mine.sss")).size(), backup.size());
}

TEST_F(CliTest, StartAgainstTheLoaderAndAgainstARunningApplication) {
  {
    StartSim({});
    CliRun r = Cli({"start"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");
  }
  StartSim({"--app"});
  CliRun r = Cli({"start"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "vokloader-cli: Vok is already started\n");
  EXPECT_EQ(r.out, "");
}

TEST_F(CliTest, PortsShowsTheTableOfTheSettingsFile) {
  WriteFile(Path("VOKLOAD.INI"), "[Ports]\r\ncom3=/dev/ttyUSB7\r\n");
  CliRun r = Cli({"ports"});
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::string> out = Lines(r.out);
  ASSERT_GE(out.size(), 6u);
  // The names without an entry stand for this machine's devices (the
  // mapping itself is tested on a made-up tree in tests/link).
  PortTable table = WithComDefaults({{"COM3", "/dev/ttyUSB7"}}, SerialPorts());
  EXPECT_EQ(std::vector<std::string>(out.begin(), out.begin() + 6),
            (std::vector<std::string>{"COM1=" + table["COM1"], "COM2=" + table["COM2"], "COM3=/dev/ttyUSB7",
                                      "COM4=" + table["COM4"], "", "Serial devices of this system:"}));
  EXPECT_EQ(out.back(), "Application folder: " + dir.folder());
  r = Cli({"ports", "--port", "/dev/pts/42"});
  EXPECT_TRUE(Has(r.out, "COM1=/dev/pts/42\n")) << r.out;
}

TEST_F(CliTest, WrongCommandLinesHelpAndVersion) {
  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
           {}, {"flash"}, {"update"}, {"info", "--baud", "x"}, {"backup", "--fresh"},
           {"info", "--port", "COM9"}, {"--bogus", "info"}}) {
    CliRun r = RunProgramIn(CliProgram(), args, dir.path().string());
    EXPECT_EQ(r.status, 2) << testing::PrintToString(args);
    EXPECT_TRUE(Has(r.err, "vokloader-cli: Try 'vokloader-cli --help'.")) << r.err;
    EXPECT_EQ(r.out, "");
  }
  CliRun r = RunProgramIn(CliProgram(), {"--folder", Path("nowhere"), "info"}, dir.path().string());
  EXPECT_EQ(r.status, 2);

  for (const char* help : {"--help", "-h"}) {
    r = RunProgramIn(CliProgram(), {help}, dir.path().string());
    EXPECT_EQ(r.status, 0);
    for (const char* word : {"info", "update FILE", "--fresh", "resume", "verify FILE", "backup [FILE]",
                             "start", "ports", "-p, --port NAME", "-b, --baud RATE", "--folder DIR",
                             "-y, --yes", "--no-progress", "--verify", "--no-verify", "--base ADDR", "--json",
                             "--version"}) {
      EXPECT_TRUE(Has(r.out, word)) << word;
    }
  }
  for (const char* version : {"--version", "-V"}) {
    r = RunProgramIn(CliProgram(), {version}, dir.path().string());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Vok Loader Version 1.1.1\n");
  }
  // A script that asked for JSON gets the refusal as JSON.
  r = RunProgramIn(CliProgram(), {"--json", "flash"}, dir.path().string());
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(Has(r.out, "{\"event\":\"result\",\"command\":\"\",\"ok\":false,\"exit\":2,"
                         "\"message\":\"unknown command 'flash'\"}\n"))
      << r.out;
  // Nothing was created by these.
  EXPECT_FALSE(Exists("UPDATE") || Exists("BACKUP"));
}

TEST_F(CliTest, ACopiedProgramUsesItsOwnFolder) {
  fs::create_directory(Path("station"));
  std::string copy = Path("station/vokloader-cli");
  fs::copy_file(CliProgram(), copy);
  WriteFile(Path("station/VOKLOAD.INI"), "[Ports]\r\nCOM1=/dev/ttyUSB3\r\n");
  CliRun r = RunProgramIn(copy, {"ports"}, dir.path().string());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "COM1=/dev/ttyUSB3\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "Application folder: " + Path("station/") + "\n")) << r.out;
  EXPECT_TRUE(Exists("station/UPDATE") && Exists("station/BACKUP"));
  EXPECT_FALSE(Exists("UPDATE") || Exists("BACKUP"));
}

// Nothing reaches the controller for an update interrupted in another
// folder (here beside a copy of the program), nor for a foreign command
// file under the own marker.

}  // namespace
}  // namespace vok::test
