// vokloader-cli as a script sees it, continued: journals elsewhere, the
// firmware formats, verify, the JSON Lines.
#include "cli_fixture.h"

namespace vok::test {
namespace {

TEST_F(CliTest, AJournalElsewhereOrAForeignCommandFileSendsNothing) {
  const std::string trace = Path("trace.txt");
  VoksimProcess& sim = StartSim({"--trace", trace});
  fs::create_directories(Path("station/UPDATE"));
  std::string copy = Path("station/vokloader-cli");
  fs::copy_file(CliProgram(), copy);
  WriteFile(Path("station/UPDATE/UPDATE.SEM"), "");
  std::vector<std::string> update = {"--folder", dir.folder(), "update", UpdateFile()};
  CliRun r = RunProgramIn(copy, update, dir.path().string());
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, "vokloader-cli: An interrupted update is pending in another folder: " +
                       Path("station/") +
                       ". Its command file holds the only copy of what it kept there; carry it "
                       "out first with: vokloader-cli --folder \"" + Path("station/") +
                       "\" resume\n"
                       "vokloader-cli: Or use 'update --fresh FILE' to update from FILE here "
                       "all the same.\n");
  EXPECT_EQ(r.out, "");
  r = RunProgramIn(copy, {"--folder", dir.folder(), "resume"}, dir.path().string());
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.err, "pending in another folder: " + Path("station/"))) << r.err;

  fs::create_directory(Path("UPDATE"));
  WriteFile(Path("UPDATE/UPDATE.CMD"), std::string("\x00\x00\x08\x00\0\0\0\0", 8));
  WriteFile(Path("UPDATE/UPDATE.SEM"), "");
  r = Cli({"resume"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "vokloader-cli: Last update was aborted during critical action!\n"
                   "vokloader-cli: The command file of the interrupted update is damaged: it "
                   "erases 0x00080000, which is no sector of the flash\n");
  EXPECT_EQ(r.out, "Restarted update process\n#### Update of target memory failed ####\n");
  EXPECT_TRUE(Exists("UPDATE/UPDATE.SEM") && Exists("UPDATE/UPDATE.CMD"));
  EXPECT_EQ(ReadFile(trace), "");

  // Chosen deliberately, the update goes ahead beside the other journal.
  fs::remove(Path("UPDATE/UPDATE.SEM"));
  update.insert(update.begin() + 3, "--fresh");
  r = RunProgramIn(copy, update, dir.path().string());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Exists("station/UPDATE/UPDATE.SEM"));
  EXPECT_NE(ReadFile(trace), "");  // the trace is written as the frames pass
  EXPECT_EQ(sim.Stop(), 0);
}

// The update's data in the other formats the update reads, and as a raw binary.
TEST_F(CliTest, UpdatesFromIntelHexElfAndRawBinaries) {
  const std::vector<test::DataBlock> blocks = {{kFlashData, Pattern(0x30)}, {kRamData, Pattern(0x90)}};
  const std::vector<uint8_t> flash = Pattern(0x30);
  for (const auto& [name, content] : std::vector<std::pair<std::string, std::string>>{
           {"fw.hex", test::IntelHexFile(blocks)},
           {"fw.elf", test::ElfFile(blocks, {})},
           {"fw.bin", std::string(flash.begin(), flash.end())}}) {
    SCOPED_TRACE(name);
    std::string state = Path(name + ".state");
    VoksimProcess& sim = StartSim({"--state", state});
    std::vector<uint8_t> sector = StateMemory(state, 0x84000, 0x2000);
    WriteFile(Path(name), content);
    CliRun r = name == "fw.bin" ? Cli({"update", "--base", "0x84100", name}) : Cli({"update", name});
    EXPECT_EQ(r.status, 0) << r.err;
    // No header texts: the file's name and date describe it in the log.
    EXPECT_TRUE(Has(ReadFile(Path("UPDATE/UPDATE.LOG")), "\r\n" + name + ", "));
    EXPECT_EQ(sim.Stop(), 0);
    if (name == "fw.bin") {
      EXPECT_EQ(StateMemory(state, kFlashData, 16), flash);
    } else {
      ExpectUpdated(state, sector);
    }
  }
}

TEST_F(CliTest, VerifyTellsEachDifferingAreaByItsExitStatusAndLines) {
  StartSim({"--blank"});
  WriteFile(Path("u.hex"), test::IntelHexFile({{kFlashData, Pattern(0x30)}, {kRamData, Pattern(0x90)}}));
  CliRun r = Cli({"verify", "u.hex"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_TRUE(Has(r.out, "Comparing target memory passed\nCompared by reading\n0x00020000-0x0002000F differs\n"
                         "0x00084100-0x0008410F differs\n#### Target memory differs from update file ####\n"))
      << r.out;
  EXPECT_EQ(r.err, "");

  EXPECT_EQ(Cli({"update", "u.hex"}).status, 0);
  r = Cli({"verify", "--json", "u.hex"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(Has(WithoutLineBytes(r.out),
                  "\"ok\":true,\"exit\":0,\"loader_version\":\"2.1.0\",\"file\":\"" + Path("u.hex") +
                      "\",\"differing_ranges\":[]}\n"))
      << r.out;
}

TEST_F(CliTest, JsonLinesForScripts) {
  StartSim({});
  CliRun r = Cli({"--json", "info"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  std::vector<std::string> events = Lines(r.out);
  for (const std::string& e : events) EXPECT_EQ(e.rfind("{\"event\":\"", 0), 0u) << e;
  ASSERT_FALSE(events.empty());
  const std::string& result = events.back();
  EXPECT_EQ(result.rfind("{\"event\":\"result\",\"command\":\"info\",\"ok\":true,\"exit\":0,"
                         "\"loader_version\":\"2.1.0\",\"components\":[",
                         0),
            0u)
      << result;
  for (const char* component :
       {"{\"name\":\"VOK Kernel\",\"type\":1,\"address\":557056,\"version\":\"3.2.1\",\"checksum_ok\":true}",
        "\"version\":null,\"checksum_ok\":true,\"text\":\"VOK System configuration"})
    EXPECT_TRUE(Has(result, component)) << result;

  r = Cli({"update", UpdateFile(), "--json"});
  EXPECT_EQ(r.status, 0) << r.err;
  for (const char* event : {"{\"event\":\"step\",\"text\":\"Programming target memory\",\"passed\":true}\n",
                            "{\"event\":\"message\",\"text\":\"Test update 1.0\",\"level\":\"info\"}\n",
                            "{\"event\":\"progress\",\"done\":"})
    EXPECT_TRUE(Has(r.out, event)) << event;
  const std::string update_result =
      "{\"event\":\"result\",\"command\":\"update\",\"ok\":true,\"exit\":0,\"file\":\"" +
      Path("u.sss") + "\",\"loader_version\":\"2.1.0\",";
  EXPECT_EQ(Lines(WithoutLineBytes(r.out)).back(),
            update_result + "\"sectors_erased\":1,\"sectors_unchanged\":0,\"bytes_programmed\":288}");
  // The same file again leaves the sector alone, unless --all-sectors.
  r = Cli({"update", UpdateFile(), "--json"});
  EXPECT_EQ(Lines(WithoutLineBytes(r.out)).back(),
            update_result + "\"sectors_erased\":0,\"sectors_unchanged\":1,\"bytes_programmed\":0}");
  r = Cli({"update", "--all-sectors", UpdateFile(), "--json"});
  EXPECT_EQ(Lines(WithoutLineBytes(r.out)).back(),
            update_result + "\"sectors_erased\":1,\"sectors_unchanged\":0,\"bytes_programmed\":288}");
  EXPECT_FALSE(Has(r.out, "unchanged, not erased")) << r.out;
}

// The plan before the flash changes nothing; info FILE lists a firmware
// file's components as info lists the target's, without a port.
TEST_F(CliTest, DryRunAndInfoOfAFile) {
  const std::string state = Path("state.bin");
  VoksimProcess& sim = StartSim({"--state", state});
  const std::vector<uint8_t> before = StateMemory(state, 0x84000, 0x7C000);
  CliRun r = Cli({"update", "--dry-run", UpdateFile()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "Sector 0x00084000 (8 KiB): erased, ")) << r.out;
  EXPECT_TRUE(Has(r.out, "Estimated time at ")) << r.out;
  EXPECT_FALSE(Has(r.out, "Erasing") || Has(r.out, "Programming")) << r.out;
  EXPECT_FALSE(Exists("UPDATE/UPDATE.SEM") || Exists("UPDATE/UPDATE.CMD"));
  const CliRun target = Cli({"info"});
  ASSERT_EQ(Cli({"backup", "b.sss"}).status, 0);
  EXPECT_EQ(sim.Stop(), 0);
  EXPECT_TRUE(StateMemory(state, 0x84000, 0x7C000) == before);

  r = Cli({"info", "b.sss"});  // the controller is gone
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, target.out.substr(0, target.out.find("VOK Loader"))) << r.out;
  r = Cli({"info", "u.sss"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.err, "*** no target information found ***")) << r.err;
}

// The JSON Lines of every command that talks to a controller, as a script
// reads them, kept as a golden file (the folder written as FOLDER/). ports is
// left out: it lists this machine's devices.
TEST_F(CliTest, GoldenJsonLinesOfEachCommand) {
  StartSim({});
  const std::string file = UpdateFile();
  std::string all;
  const std::vector<std::vector<std::string>> commands = {
      {"info"},   {"update", file},   {"verify", file},      {"backup", Path("b.sss")},
      {"resume"}, {"verify", Path("missing.sss")}, {"start"}, {"info"}};
  for (const std::vector<std::string>& command : commands) {
    std::vector<std::string> args = command;
    args.insert(args.begin(), "--json");
    const CliRun r = Cli(args);
    std::string out = r.out;
    for (size_t at; (at = out.find(dir.folder())) != std::string::npos;)
      out.replace(at, dir.folder().size(), "FOLDER/");
    // The date of the run, and of each series of progress events its first
    // and its last.
    out = std::regex_replace(out, std::regex("[0-9]{2}\\. [A-Z][a-z]{2} [0-9]{4} \\([0-9:]{8}\\)"), "DATE");
    // The bytes a run put on the line, which a retry would change.
    out = std::regex_replace(out, std::regex("\"line_bytes\":[0-9]+"), "\"line_bytes\":N");
    const std::vector<std::string> lines = Lines(out);
    auto progress = [&](size_t i) { return i < lines.size() && Has(lines[i], "\"event\":\"progress\""); };
    all += "# " + command[0] + " exit " + std::to_string(r.status) + "\n";
    for (size_t i = 0; i < lines.size(); ++i)
      if (!progress(i) || i == 0 || !progress(i - 1) || !progress(i + 1)) all += lines[i] + "\n";
  }
  EXPECT_TRUE(MatchesGolden("cli_json_lines.txt", all));
}

}  // namespace
}  // namespace vok::test
