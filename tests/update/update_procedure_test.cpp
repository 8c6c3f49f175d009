#include "update_cases.h"

namespace vok {
namespace {

using namespace update_cases;

TEST(UpdateProcedure, FreshRunKeepsWhatTheFileDoesNotCover) {
  ProcedureBench b;
  PrepareOldMemory(b.sim());
  Browse(b);
  const FileDialogRequest& request = b.ui.file_requests.at(0);
  EXPECT_EQ(request.title, "Select Update File");
  // The update files first; then the other firmware formats, and any file.
  EXPECT_EQ(request.filter.rfind("Update File (*.sss) | *.sss|", 0), 0u) << request.filter;
  for (const char* pattern : {"*.hex", "*.elf", "All Files (*) | *||"})
    EXPECT_NE(request.filter.find(pattern), std::string::npos) << pattern;
  EXPECT_EQ(request.default_ext, "sss");
  EXPECT_EQ(request.initial_folder, b.paths.UpdateDir());
  EXPECT_EQ(b.fields.file_name, b.UpdateFile("new.sss"));
  EXPECT_EQ(b.log.lines, DescriptionLines());

  UpdateContext c = b.Update();
  EXPECT_EQ(OnUpdate(c, b.fields, b.options), 1);

  std::vector<std::string> expected = DescriptionLines();
  for (const char* l : {"Connecting to target loader passed", "Analyzing update file passed",
                        "Reading target memory passed", "Reading target memory passed",
                        "Reading target memory passed", "Reading target memory passed",
                        "Building update command file passed", "Erasing Flashsector passed",
                        "Erasing Flashsector passed", "Programming target memory passed",
                        "Checking erased flash passed",
                        "Confirmed by loader checksum CRC-16/CCITT-FALSE",
                        "Update of target memory succeeded"})
    expected.push_back(l);
  EXPECT_EQ(b.log.lines, expected);
  EXPECT_TRUE(b.ui.messages.empty());
  EXPECT_TRUE(Snapshot(b.sim()) == Expected());
  // Erased chunks high in flash are left out: 4 update records, 7 kept.
  EXPECT_EQ(b.sim().stats().erases, 2u);
  EXPECT_EQ(b.sim().stats().programs, 11u);
  EXPECT_FALSE(Exists(b.paths.UpdateCmd()));
  EXPECT_FALSE(Exists(b.paths.UpdateSem()));
  EXPECT_FALSE(Exists(b.dir.file("memimage.tmp")));
  const std::vector<uint8_t> log = ReadBytes(b.paths.UpdateLog());
  EXPECT_EQ(std::string(log.begin(), log.end()), b.description.text);
  EXPECT_EQ(b.ui.tones.size(), 12u);
  EXPECT_EQ(b.ui.wait_count, 1);
  EXPECT_EQ(b.ui.wait_depth, 0);
  EXPECT_EQ(b.progress.position, 0u);
  EXPECT_FALSE(b.link().IsOpen());

  // A second run after the same Browse... appends the same text again.
  EXPECT_EQ(OnUpdate(c, b.fields, b.options), 1);
  EXPECT_EQ(ReadBytes(b.paths.UpdateLog()).size(), 2 * log.size());
}

// A sum is named but confirms nothing, an off-by-one loader is not
// identified: the log says why the bytes were read.
TEST(UpdateProcedure, OnlyACrcConfirmsAlone) {
  using S = sim::LoaderSum;
  const std::tuple<S, sim::ChecksumSkew, ProgramCheck, const char*> cases[] = {
      {S::kSum16, sim::ChecksumSkew::kExact, ProgramCheck::kChecksum,
       "Confirmed by reading (the loader's SUM-16 cannot confirm alone)"},
      {S::kInternet16, sim::ChecksumSkew::kExact, ProgramCheck::kReadBack,
       "Reads confirmed by reading (the loader's INTERNET-16 cannot confirm alone), programming "
       "confirmed by reading back"},
      {S::kKermit, sim::ChecksumSkew::kStartLate, ProgramCheck::kChecksum,
       "Confirmed by reading (loader checksum of no known kind)"}};
  for (const auto& [sum, skew, check, line] : cases) {
    sim::Options o = ProcedureBench::DefaultOptions();
    o.checksum = sum;
    o.checksum_skew = skew;
    ProcedureBench b(o);
    PrepareOldMemory(b.sim());
    Browse(b);
    b.options.check = check;
    UpdateContext u = b.Update();
    EXPECT_EQ(OnUpdate(u, b.fields, b.options), 1) << line;
    EXPECT_TRUE(Snapshot(b.sim()) == Expected()) << line;
    EXPECT_EQ(b.log.lines.end()[-2], line);
  }
}

TEST(UpdatePowerCut, EveryFlashCommandInTurnThenRetryFinishesTheUpdate) {
  const Memory expected = Expected();
  const int commands =
      CountInUndisturbedUpdate([](ProcedureBench& b) { return b.sim().FlashCommands(); });
  ASSERT_EQ(commands, 13);

  for (int n = 1; n <= commands; ++n) {
    SCOPED_TRACE("power cut after flash command " + std::to_string(n));
    ProcedureBench b;
    sim::Options o = ProcedureBench::DefaultOptions();
    o.state_file = b.dir.file("controller.state");
    sim::Options cut = o;
    cut.cut_after = n;
    b.Restart(cut);
    PrepareOldMemory(b.sim());
    ASSERT_TRUE(b.sim().SaveState());
    Browse(b);
    UpdateContext c = b.Update();
    EXPECT_EQ(OnUpdate(c, b.fields, b.options), 0);
    EXPECT_TRUE(b.sim().PoweredOff());
    EXPECT_TRUE(Exists(b.paths.UpdateCmd()));
    EXPECT_TRUE(Exists(b.paths.UpdateSem()));
    EXPECT_EQ(b.log.lines.back(), "#### Update of target memory failed ####");
    if (n > 2) {
      // The cut swallowed the reply: the message names the record.
      std::vector<uint32_t> records = RecordAddresses(ReadBytes(b.paths.UpdateCmd()));
      ASSERT_GE(records.size(), static_cast<size_t>(n - 2));
      EXPECT_EQ(b.ui.MessageTexts().back(),
                "Programming target memory failed at " + Hex8(records[n - 3]));
    }

    b.Restart(o);  // power back on, memory as the cut left it
    b.ui.messages.clear();
    b.ui.answers.push_back(Answer::Retry);
    b.log.Clear();
    UpdateContext resumed = b.Update();  // the link is new
    EXPECT_EQ(OnUpdate(resumed, b.fields, b.options), 1);
    ASSERT_FALSE(b.ui.messages.empty());
    EXPECT_EQ(b.ui.messages[0].text, "Last update was aborted during critical action!");
    EXPECT_EQ(b.ui.messages[0].buttons, Buttons::RetryCancel);
    EXPECT_EQ(b.ui.messages[0].icon, Icon::None);
    EXPECT_EQ(b.log.lines.front(), "Restarted update process");
    EXPECT_EQ(b.log.lines.back(), "Update of target memory succeeded");
    EXPECT_TRUE(Snapshot(b.sim()) == expected);
    EXPECT_FALSE(Exists(b.paths.UpdateCmd()));
    EXPECT_FALSE(Exists(b.paths.UpdateSem()));
  }
}

TEST(UpdateProcedure, CancelCarriesWhatTheInterruptedUpdateKeptIntoTheNewOne) {
  // As if the interrupted update had completed and the second had run after it.
  sim::Simulator s(ProcedureBench::DefaultOptions());
  PrepareOldMemory(s);
  for (const auto& r : UpdateRecords()) s.WriteMemory(r.address, r.data);
  for (const auto& r : SecondRecords()) s.WriteMemory(r.address, r.data);
  const Memory expected = Snapshot(s);

  for (int cut : {2, 7}) {  // after both erases; in the middle of programming
    SCOPED_TRACE("cut after flash command " + std::to_string(cut));
    ProcedureBench b;
    InterruptedUpdate(b, cut);
    test::WriteUpdateFile(b.UpdateFile("second.sss"), "Second\r\n", SecondRecords());
    b.fields.file_name = b.UpdateFile("second.sss");
    b.ui.answers.push_back(Answer::Cancel);
    UpdateContext c = b.Update();
    EXPECT_EQ(OnUpdate(c, b.fields, b.options), 1);
    EXPECT_EQ(b.ui.messages.size(), 1u);
    EXPECT_EQ(b.log.lines[1], "Carrying over the interrupted update passed");
    // Sector 2 alone is read; all three are erased.
    EXPECT_EQ(std::count(b.log.lines.begin(), b.log.lines.end(), "Reading target memory passed"), 2);
    EXPECT_EQ(b.sim().stats().erases, 3u);
    EXPECT_TRUE(Snapshot(b.sim()) == expected);
    EXPECT_FALSE(Exists(b.paths.UpdateCmd()) || Exists(b.paths.UpdateSem()));
  }
}

// An update that clears a stretch (0xFF in the file, so no record goes
// there) over an erase the loader carries out only in part: the run that
// carries the command file out fails, fresh, resumed or with an interrupted
// plan carried over, and a resume then completes it.
TEST(UpdateProcedure, AStretchLeftUnerasedFailsTheRunUntilResumed) {
  // In sector 3, which the interrupted runs have not erased yet.
  const std::vector<test::Record> clear = {{0x84400, Pattern(0x300, 10)},
                                           {0x88000, std::vector<uint8_t>(0x400, 0xFF)}};
  enum Path { kFresh, kResumed, kCarriedOver };
  for (Path path : {kFresh, kResumed, kCarriedOver}) {
    SCOPED_TRACE(path);
    ProcedureBench b;
    sim::Simulator s(ProcedureBench::DefaultOptions());
    PrepareOldMemory(s);
    if (path == kCarriedOver) InterruptedUpdate(b, 1);  // of UpdateRecords(), then this one
    for (const auto& list : {path == kCarriedOver ? UpdateRecords() : clear, clear})
      for (const auto& r : list) s.WriteMemory(r.address, r.data);
    sim::Options o = ProcedureBench::DefaultOptions();
    o.state_file = b.dir.file("controller.state");
    sim::Options faulty = o;
    faulty.partial_erase = 0x88000;
    faulty.partial_erase_length = 0x400;
    sim::Options first = path == kResumed ? o : faulty;
    first.cut_after = path == kResumed;  // after the first erase, of sector 1
    b.Restart(first);
    if (path == kCarriedOver) b.ui.answers.push_back(Answer::Cancel);
    else PrepareOldMemory(b.sim());
    test::WriteUpdateFile(b.UpdateFile("clear.sss"), "Clear\r\n", clear);
    b.fields.file_name = b.UpdateFile("clear.sss");
    // The context is made anew after each restart: it holds the link.
    auto update = [&] {
      UpdateContext c = b.Update();
      return OnUpdate(c, b.fields, b.options);
    };
    EXPECT_EQ(update(), 0);
    if (path == kResumed) {
      b.Restart(faulty);
      b.ui.answers.push_back(Answer::Retry);
      EXPECT_EQ(update(), 0);
    }
    EXPECT_EQ(b.ui.MessageTexts().back(), "Verifying target memory failed at 0x00088000");
    EXPECT_NE(std::find(b.log.lines.begin(), b.log.lines.end(), "Checking erased flash failed"),
              b.log.lines.end());
    ASSERT_TRUE(Exists(b.paths.UpdateCmd()) && Exists(b.paths.UpdateSem()));
    b.Restart(o);
    b.ui.answers.push_back(Answer::Retry);
    EXPECT_EQ(update(), 1);
    EXPECT_TRUE(Snapshot(b.sim()) == Snapshot(s));
  }
}

TEST(UpdateProcedure, CancelGivesUpOnlyACommandFileThatFailsItsCheck) {
  {
    // No file to update from: the interrupted update stays as it was.
    ProcedureBench b;
    InterruptedUpdate(b);
    const std::vector<uint8_t> command_file = ReadBytes(b.paths.UpdateCmd());
    b.fields.file_name.clear();
    b.ui.answers.push_back(Answer::Cancel);
    UpdateContext c = b.Update();
    EXPECT_EQ(OnUpdate(c, b.fields, b.options), 0);
    EXPECT_EQ(b.ui.MessageTexts(),
              (std::vector<std::string>{"Last update was aborted during critical action!",
                                        "Enter valid update file name"}));
    EXPECT_EQ(ReadBytes(b.paths.UpdateCmd()), command_file);
    EXPECT_TRUE(Exists(b.paths.UpdateSem()));
    EXPECT_TRUE(b.ui.tones.empty());
  }
  // Retry refuses a damaged or foreign command file before it connects;
  // Cancel gives it up and updates afresh.
  for (const test::RefusedCommandFile& f : test::RefusedCommandFiles()) {
    SCOPED_TRACE(f.what);
    const std::string damaged = "The command file of the interrupted update is damaged: " + f.reason;
    ProcedureBench b;
    InterruptedUpdate(b);
    test::WriteBytes(b.paths.UpdateCmd(), f.bytes);
    b.ui.answers = {Answer::Retry, Answer::Ok};
    UpdateContext c = b.Update();
    EXPECT_EQ(OnUpdate(c, b.fields, b.options), 0);
    EXPECT_EQ(b.ui.MessageTexts(), (std::vector<std::string>{
                                       "Last update was aborted during critical action!", damaged}));
    EXPECT_EQ(b.log.lines, (std::vector<std::string>{"Restarted update process",
                                                     "#### Update of target memory failed ####"}));
    EXPECT_EQ(b.sim().stats().frames_from_host + b.sim().stats().bytes_not_understood, 0u);
    EXPECT_EQ(ReadBytes(b.paths.UpdateCmd()), f.bytes);
    EXPECT_TRUE(Exists(b.paths.UpdateSem()));
    EXPECT_EQ(b.ui.tones.size(), 12u);

    b.ui.messages.clear();
    b.log.Clear();
    b.ui.answers = {Answer::Cancel};
    EXPECT_EQ(OnUpdate(c, b.fields, b.options), 1);
    EXPECT_EQ(b.ui.MessageTexts(),
              (std::vector<std::string>{"Last update was aborted during critical action!",
                                        damaged + "; the contents it kept could not be recovered"}));
    EXPECT_EQ(b.log.lines[1], "Analyzing update file passed");
    EXPECT_FALSE(Exists(b.paths.UpdateCmd()) || Exists(b.paths.UpdateSem()));
  }
}

// A stop asked for at any of the run's looks ends it before the next target
// command: no memory image, no command file without its marker, nothing
// erased without one; Retry (or a fresh run) then completes the update.
TEST(UpdateProcedure, StopAtEveryLookLeavesOnlyAResumableJournal) {
  const int looks = CountInUndisturbedUpdate([](ProcedureBench& b) { return b.ui.stop_checks; });
  ASSERT_GT(looks, 13);  // reads, the plan, 13 flash commands
  // Every look from the plan on; a sample of the many reads before it.
  for (int n = 0; n < looks; n += n < looks - 16 ? 9 : 1) {
    SCOPED_TRACE("stop after " + std::to_string(n) + " looks");
    ProcedureBench b;
    PrepareOldMemory(b.sim());
    Browse(b);
    b.ui.stop_after = n;
    UpdateContext c = b.Update();
    EXPECT_EQ(OnUpdate(c, b.fields, b.options), 0);
    // Once the flash is erased, the stop says what it leaves behind.
    if (b.sim().stats().erases == 0) {
      EXPECT_TRUE(b.ui.messages.empty());
    } else {
      ASSERT_EQ(b.ui.messages.size(), 1u);
      EXPECT_EQ(b.ui.messages[0].text,
                "The update was stopped after erasing had begun: the controller's application "
                "stays incomplete until the interrupted update is carried out again ('resume', "
                "or Retry at the next Update)");
    }
    EXPECT_EQ(b.log.lines.back(), "#### Update of target memory failed ####");
    EXPECT_FALSE(Exists(b.dir.file("memimage.tmp")));
    EXPECT_EQ(Exists(b.paths.UpdateCmd()), Exists(b.paths.UpdateSem()));
    if (!Exists(b.paths.UpdateSem())) {
      EXPECT_EQ(b.sim().stats().erases, 0u);
    }
    EXPECT_FALSE(b.link().IsOpen());
    b.ui.stop_after = -1;
    EXPECT_EQ(OnUpdate(c, b.fields, b.options), 1);
    EXPECT_TRUE(Snapshot(b.sim()) == Expected());
  }
}

// A Retry that fails leaves the marker and the command file as they were.

}  // namespace
}  // namespace vok
