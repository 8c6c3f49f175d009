#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "update/procedure_bench.h"
#include "update/update_procedure.h"

namespace vok {
namespace {

using sim::kFlashSize;
using sim::kFlashStart;
using sim::kRamSize;
using sim::kRamStart;
using test::Exists;
using test::Pattern;
using test::ProcedureBench;
using test::ReadBytes;

// Old contents: all of RAM, the first 4 KiB of sector 1, a little of sector
// 2 (never touched) and two small blocks of sector 3; the rest erased.
void PrepareOldMemory(sim::Simulator& s) {
  s.ClearMemory();
  s.WriteMemory(kRamStart, Pattern(kRamSize, 1));
  s.WriteMemory(0x84000, Pattern(0x1000, 2));
  s.WriteMemory(0x86000, Pattern(0x100, 3));
  s.WriteMemory(0x88000, Pattern(0x400, 4));
  s.WriteMemory(0x9F800, Pattern(0x200, 5));
}

// Parts of sectors 1 and 3, and some RAM.
const std::vector<test::Record>& UpdateRecords() {
  static const std::vector<test::Record> records = {
      {0x84400, Pattern(0x300, 10)}, {0x90000, Pattern(0x500, 11)}, {0x20000, Pattern(0x200, 12)}};
  return records;
}

const char* kHeader = "Demo update V3.1\r\nfor the VOK System\r\n";

struct Memory {
  std::vector<uint8_t> ram, flash;
  bool operator==(const Memory&) const = default;
};

Memory Snapshot(const sim::Simulator& s) {
  return {s.ReadMemory(kRamStart, kRamSize), s.ReadMemory(kFlashStart, kFlashSize)};
}

// What the memory must hold after the update: the old contents with the
// file's data laid over them.
Memory Expected() {
  sim::Simulator s(ProcedureBench::DefaultOptions());
  PrepareOldMemory(s);
  for (const auto& r : UpdateRecords()) s.WriteMemory(r.address, r.data);
  return Snapshot(s);
}

std::string Hex8(uint32_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%08X", v);
  return b;
}

// Addresses of the program records of a command file.
std::vector<uint32_t> RecordAddresses(const std::vector<uint8_t>& f) {
  auto u32 = [&](size_t at) {
    return uint32_t{f[at]} | uint32_t{f[at + 1]} << 8 | uint32_t{f[at + 2]} << 16 |
           uint32_t{f[at + 3]} << 24;
  };
  size_t at = 0;
  while (u32(at) != 0) at += 4;
  at += 4;
  std::vector<uint32_t> out;
  while (at + 6 <= f.size()) {
    out.push_back(u32(at));
    at += 6 + (f[at + 4] | f[at + 5] << 8);
  }
  return out;
}

// Browse... chooses the update file of the standard case.
void Browse(ProcedureBench& b) {
  test::WriteUpdateFile(b.UpdateFile("new.sss"), kHeader, UpdateRecords());
  b.ui.file_choices.push_back(b.UpdateFile("new.sss"));
  UpdateContext c = b.Update();
  ASSERT_EQ(OnUpdateBrowse(c, b.fields, test::FixedTime()), 1);
}

// What count(bench) gives after an update from the old memory that nothing
// disturbed; -1 when that update failed.
template <class Count>
int CountInUndisturbedUpdate(Count count) {
  ProcedureBench b;
  PrepareOldMemory(b.sim());
  Browse(b);
  UpdateContext c = b.Update();
  if (OnUpdate(c, b.fields, b.options) != 1) return -1;
  return static_cast<int>(count(b));
}

std::vector<std::string> DescriptionLines() {
  return {std::string(70, '#'), "Update of VOK System on 05. Jan 2000 (10:20:30)",
          std::string(70, '#'), "Demo update V3.1", "for the VOK System"};
}

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

// A power cut after flash command cut_after leaves both files; returns the
// bench ready for the next "Update" on a controller that is on again.
void InterruptedUpdate(ProcedureBench& b, int cut_after = 5) {
  sim::Options o = ProcedureBench::DefaultOptions();
  o.state_file = b.dir.file("controller.state");
  sim::Options cut = o;
  cut.cut_after = cut_after;
  b.Restart(cut);
  PrepareOldMemory(b.sim());
  ASSERT_TRUE(b.sim().SaveState());
  Browse(b);
  UpdateContext c = b.Update();
  ASSERT_EQ(OnUpdate(c, b.fields, b.options), 0);
  ASSERT_TRUE(Exists(b.paths.UpdateSem()));
  b.Restart(o);
  b.ui.messages.clear();
  b.ui.tones.clear();
  b.log.Clear();
}

// A second update: sector 1, which the interrupted one erases as well, and
// sector 2, which it does not touch; sector 3 is the interrupted one's alone.
const std::vector<test::Record>& SecondRecords() {
  static const std::vector<test::Record> records = {{0x85000, Pattern(0x200, 40)},
                                                    {0x86800, Pattern(0x200, 41)}};
  return records;
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

TEST(UpdateProcedure, ResumeFailuresKeepTheMarker) {
  {
    // Marker without command file: only Cancel can clear it.
    ProcedureBench b;
    test::WriteBytes(b.paths.UpdateSem(), {});
    b.ui.answers.push_back(Answer::Retry);
    UpdateContext c = b.Update();
    EXPECT_EQ(OnUpdate(c, b.fields, b.options), 0);
    EXPECT_EQ(b.ui.MessageTexts(),
              (std::vector<std::string>{"Last update was aborted during critical action!",
                                        "Cannot open command file"}));
    EXPECT_EQ(b.ui.messages[1].icon, Icon::Stop);
    EXPECT_EQ(b.log.lines,
              (std::vector<std::string>{"Restarted update process",
                                        "Connecting to target loader passed",
                                        "#### Update of target memory failed ####"}));
    EXPECT_TRUE(Exists(b.paths.UpdateSem()));
    EXPECT_EQ(b.ui.tones.size(), 12u);
  }
  {
    // Retry while the target does not answer: both files as they were.
    ProcedureBench b;
    InterruptedUpdate(b);
    const std::vector<uint8_t> command_file = ReadBytes(b.paths.UpdateCmd());
    sim::Options silent = ProcedureBench::DefaultOptions();
    silent.silent = true;
    b.Restart(silent);
    b.fields.file_name.clear();  // a resumed run needs no update file
    b.ui.answers.push_back(Answer::Retry);
    UpdateContext c = b.Update();
    EXPECT_EQ(OnUpdate(c, b.fields, b.options), 0);
    EXPECT_EQ(b.log.lines,
              (std::vector<std::string>{"Restarted update process",
                                        "Connecting to target loader failed",
                                        "#### Update of target memory failed ####"}));
    EXPECT_EQ(ReadBytes(b.paths.UpdateCmd()), command_file);
    EXPECT_TRUE(Exists(b.paths.UpdateSem()));
  }
}

TEST(UpdateProcedure, UpdateNeedsAnExistingFile) {
  ProcedureBench b;
  b.log.AddLine("kept");
  for (std::string name : {std::string(), b.UpdateFile("misspelled.sss"), b.dir.folder()}) {
    b.fields.file_name = name;
    UpdateContext c = b.Update();
    EXPECT_EQ(OnUpdate(c, b.fields, b.options), 0) << name;
  }
  EXPECT_EQ(b.ui.MessageTexts(), std::vector<std::string>(3, "Enter valid update file name"));
  EXPECT_EQ(b.ui.messages[0].icon, Icon::Exclamation);
  EXPECT_EQ(b.ui.messages[0].title, "VOK Loader");
  EXPECT_EQ(b.log.lines, std::vector<std::string>{"kept"});
  EXPECT_TRUE(b.ui.tones.empty());
  EXPECT_EQ(b.ui.wait_count, 0);
  EXPECT_FALSE(Exists(b.paths.UpdateLog()));

  // Browse... cancelled changes nothing.
  UpdateContext c = b.Update();
  EXPECT_EQ(OnUpdateBrowse(c, b.fields, test::FixedTime()), 0);
  EXPECT_EQ(b.log.lines, std::vector<std::string>{"kept"});
}

// A marker in another application folder stops a fresh run before it
// connects; a fresh run chosen deliberately (update --fresh, or Cancel at
// the own marker's question) goes on.
TEST(UpdateProcedure, AJournalInAnotherFolderStopsAFreshRun) {
  test::TempDir other;
  std::filesystem::create_directory(other.path() / "UPDATE");
  test::WriteBytes(AppPaths{other.folder()}.UpdateSem(), {});
  const std::string stop = "An interrupted update is pending in another folder: " +
                           other.folder() +
                           ". Its command file holds the only copy of what it kept there; carry "
                           "it out first with: vokloader-cli --folder \"" + other.folder() +
                           "\" resume";
  struct Case {
    const char* what;
    bool fresh;
    bool own_marker;
    int result;
  };
  for (const Case& k : {Case{"plain", false, false, 0}, Case{"--fresh", true, false, 1},
                        Case{"Cancel at the own marker", false, true, 1}}) {
    SCOPED_TRACE(k.what);
    ProcedureBench b;
    PrepareOldMemory(b.sim());
    Browse(b);
    b.log.Clear();
    if (k.own_marker) {
      test::WriteBytes(b.paths.UpdateSem(), {});
      b.ui.answers.push_back(Answer::Cancel);
    }
    if (!k.fresh) b.options.other_folders = {b.dir.folder(), "/no/such/folder/", other.folder()};
    UpdateContext c = b.Update();
    EXPECT_EQ(OnUpdate(c, b.fields, b.options), k.result);
    if (k.result == 0) {
      EXPECT_EQ(b.ui.MessageTexts(), std::vector<std::string>{stop});
      EXPECT_EQ(b.ui.messages[0].icon, Icon::Stop);
      EXPECT_TRUE(b.log.lines.empty());
      EXPECT_EQ(b.sim().stats().frames_from_host, 0u);
      EXPECT_TRUE(b.ui.tones.empty());
    } else {
      EXPECT_TRUE(Snapshot(b.sim()) == Expected());
    }
    EXPECT_TRUE(Exists(AppPaths{other.folder()}.UpdateSem()));
  }
}

TEST(UpdateProcedure, DescriptionIsStampedOnceTheFileHasBeenChosen) {
  ProcedureBench b;
  test::WriteUpdateFile(b.UpdateFile("new.sss"), kHeader, UpdateRecords());
  b.ui.file_choices.push_back(b.UpdateFile("new.sss"));
  b.ui.file_choices.push_back(std::nullopt);
  std::vector<size_t> dialogs_at_stamp;
  auto clock = [&] {
    dialogs_at_stamp.push_back(b.ui.file_requests.size());
    return test::FixedTime();
  };
  UpdateContext c = b.Update();
  EXPECT_EQ(OnUpdateBrowse(c, b.fields, clock), 1);
  EXPECT_EQ(OnUpdateBrowse(c, b.fields, clock), 0);  // cancelled: no stamp
  EXPECT_EQ(dialogs_at_stamp, std::vector<size_t>{1});
}

TEST(UpdateProcedure, TypedNameWithoutBrowseLogsAnEmptyText) {
  ProcedureBench b;
  PrepareOldMemory(b.sim());
  test::WriteUpdateFile(b.UpdateFile("typed.sss"), kHeader, {{0x20000, Pattern(0x40, 7)}});
  b.fields.file_name = b.UpdateFile("typed.sss");
  UpdateContext c = b.Update();
  EXPECT_EQ(OnUpdate(c, b.fields, b.options), 1);
  // RAM only: nothing read back, nothing erased.
  EXPECT_EQ(b.log.lines,
            (std::vector<std::string>{"Connecting to target loader passed",
                                      "Analyzing update file passed",
                                      "Building update command file passed",
                                      "Programming target memory passed",
                                      "Confirmed by loader checksum CRC-16/CCITT-FALSE",
                                      "Update of target memory succeeded"}));
  EXPECT_EQ(b.sim().ReadMemory(0x20000, 0x40), Pattern(0x40, 7));
  EXPECT_TRUE(Exists(b.paths.UpdateLog()));
  EXPECT_TRUE(ReadBytes(b.paths.UpdateLog()).empty());
}

TEST(UpdateProcedure, FailuresBeforeProgrammingLeaveTheTargetUntouched) {
  auto untouched = [](ProcedureBench& b) {
    EXPECT_EQ(b.sim().stats().erases, 0u);
    EXPECT_EQ(b.sim().stats().programs, 0u);
    EXPECT_FALSE(Exists(b.paths.UpdateSem()));
    EXPECT_EQ(b.log.lines.back(), "#### Update of target memory failed ####");
    EXPECT_EQ(b.ui.tones.size(), 12u);
    EXPECT_EQ(b.ui.wait_depth, 0);
    EXPECT_FALSE(b.link().IsOpen());
  };
  auto tail = [](const ProcedureBench& b, size_t n) {
    return std::vector<std::string>(b.log.lines.end() - static_cast<long>(n), b.log.lines.end());
  };
  {
    sim::Options silent = ProcedureBench::DefaultOptions();
    silent.silent = true;
    ProcedureBench b(silent);
    Browse(b);
    UpdateContext c = b.Update();
    EXPECT_EQ(OnUpdate(c, b.fields, b.options), 0);
    EXPECT_EQ(tail(b, 2), (std::vector<std::string>{"Connecting to target loader failed",
                                                     "#### Update of target memory failed ####"}));
    EXPECT_EQ(b.ui.MessageTexts(), std::vector<std::string>{"Cannot connect to target loader!"});
    // The log still gets the description.
    EXPECT_EQ(ReadBytes(b.paths.UpdateLog()).size(), b.description.text.size());
    untouched(b);
  }
  {
    ProcedureBench b;
    test::WriteBytes(b.UpdateFile("bad.sss"), {'S', '2', 'x', '\r', '\n'});
    b.fields.file_name = b.UpdateFile("bad.sss");
    UpdateContext c = b.Update();
    EXPECT_EQ(OnUpdate(c, b.fields, b.options), 0);
    EXPECT_EQ(b.ui.MessageTexts(), std::vector<std::string>{"Update file format error"});
    EXPECT_EQ(tail(b, 2), (std::vector<std::string>{"Analyzing update file failed",
                                                     "#### Update of target memory failed ####"}));
    untouched(b);
  }
  {
    // The memory image cannot be created where it is asked for.
    ProcedureBench b;
    Browse(b);
    test::WriteBytes(b.dir.file("not-a-folder"), {});
    b.options.image_folder = b.dir.file("not-a-folder");
    UpdateContext c = b.Update();
    EXPECT_EQ(OnUpdate(c, b.fields, b.options), 0);
    EXPECT_EQ(b.ui.MessageTexts(), std::vector<std::string>{"Cannot store data in memory image"});
    EXPECT_EQ(tail(b, 2)[0], "Analyzing update file failed");
    untouched(b);
  }
  {
    // Without a folder of its own the image goes into UPDATE, not the
    // current directory: a folder in its place there stops it.
    ProcedureBench b;
    Browse(b);
    std::filesystem::create_directories(b.paths.UpdateDir() + "/memimage.tmp");
    b.options.image_folder.clear();
    UpdateContext c = b.Update();
    EXPECT_EQ(OnUpdate(c, b.fields, b.options), 0);
    EXPECT_EQ(b.ui.MessageTexts(), std::vector<std::string>{"Cannot store data in memory image"});
    untouched(b);
  }
  {
    // Data in the loader's own block: the plan is refused before its marker.
    ProcedureBench b;
    PrepareOldMemory(b.sim());
    test::WriteUpdateFile(b.UpdateFile("loader.sss"), kHeader,
                          {{0x84400, Pattern(0x10, 1)}, {0x82000, Pattern(0x10, 2)}});
    b.fields.file_name = b.UpdateFile("loader.sss");
    UpdateContext c = b.Update();
    EXPECT_EQ(OnUpdate(c, b.fields, b.options), 0);
    EXPECT_EQ(b.ui.MessageTexts(),
              std::vector<std::string>{"The update cannot be carried out: it programs 0x00082000, "
                                       "which lies neither in RAM nor in a sector it erases"});
    EXPECT_EQ(tail(b, 3)[0], "Building update command file failed");
    untouched(b);
  }
  {
    // The target falls silent at the first read of the kept contents.
    ProcedureBench b(ProcedureBench::DefaultOptions(),
                     [](uint8_t command, uint32_t) { return command == test::kReadCommand; });
    PrepareOldMemory(b.sim());
    Browse(b);
    UpdateContext c = b.Update();
    EXPECT_EQ(OnUpdate(c, b.fields, b.options), 0);
    EXPECT_EQ(b.ui.MessageTexts(), std::vector<std::string>{"Reading target memory failed (-3001) !"});
    EXPECT_EQ(tail(b, 2), (std::vector<std::string>{"Reading target memory failed",
                                                     "#### Update of target memory failed ####"}));
    EXPECT_FALSE(Exists(b.paths.UpdateCmd()));
    untouched(b);
  }
  {
    // An UPDATE folder that is a file: no command file can be made there.
    ProcedureBench b;
    PrepareOldMemory(b.sim());
    Browse(b);
    std::filesystem::remove_all(b.paths.UpdateDir());
    test::WriteBytes(b.paths.UpdateDir(), {});
    UpdateContext c = b.Update();
    EXPECT_EQ(OnUpdate(c, b.fields, b.options), 0);
    EXPECT_EQ(b.ui.MessageTexts(), std::vector<std::string>{"Cannot open command file"});
    // What was read had been confirmed.
    EXPECT_EQ(tail(b, 3), (std::vector<std::string>{"Building update command file failed",
                                                     "Confirmed by loader checksum CRC-16/CCITT-FALSE",
                                                     "#### Update of target memory failed ####"}));
    untouched(b);
  }
}

}  // namespace
}  // namespace vok
