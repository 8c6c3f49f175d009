// The update procedure's failures: at resume, before programming, in
// another folder; and the description it logs.
#include "update_cases.h"

namespace vok {
namespace {

using namespace update_cases;

TEST(UpdateProcedure, ResumeFailuresKeepTheMarker) {
  struct Case {
    const char* what;
    std::function<void(ProcedureBench&)> setup;
    std::vector<std::string> log;
    std::function<void(ProcedureBench&)> also;
  };
  const Case cases[] = {
      {"marker without command file: only Cancel can clear it",
       [](ProcedureBench& b) { test::WriteBytes(b.paths.UpdateSem(), {}); },
       {"Restarted update process", "Connecting to target loader passed",
        "#### Update of target memory failed ####"},
       [](ProcedureBench& b) {
         EXPECT_EQ(b.ui.MessageTexts(),
                   (std::vector<std::string>{"Last update was aborted during critical action!",
                                             "Cannot open command file"}));
         EXPECT_EQ(b.ui.messages[1].icon, Icon::Stop);
         EXPECT_EQ(b.ui.tones.size(), 12u);
       }},
      {"the target does not answer",
       [](ProcedureBench& b) {
         InterruptedUpdate(b);
         sim::Options silent = ProcedureBench::DefaultOptions();
         silent.silent = true;
         b.Restart(silent);
         b.fields.file_name.clear();  // a resumed run needs no update file
       },
       {"Restarted update process", "Connecting to target loader failed",
        "#### Update of target memory failed ####"},
       [](ProcedureBench&) {}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    ProcedureBench b;
    k.setup(b);
    const std::vector<uint8_t> command_file = ReadBytes(b.paths.UpdateCmd());
    b.ui.answers.push_back(Answer::Retry);
    UpdateContext c = b.Update();
    EXPECT_EQ(OnUpdate(c, b.fields, b.options), 0);
    EXPECT_EQ(b.log.lines, k.log);
    EXPECT_EQ(ReadBytes(b.paths.UpdateCmd()), command_file);
    EXPECT_TRUE(Exists(b.paths.UpdateSem()));
    k.also(b);
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

// Each failure before the first flash command, with the message it shows
// and the log lines it ends on (counted from the log's end).
struct EarlyFailure {
  const char* what;
  bool silent = false;              // the target answers nothing
  bool silent_at_first_read = false;
  std::function<void(ProcedureBench&)> setup;
  std::string message;
  size_t tail_from_end = 0;
  std::vector<std::string> tail;
  std::function<void(ProcedureBench&)> also = nullptr;
};

const std::vector<EarlyFailure>& EarlyFailures() {
  static const std::vector<EarlyFailure> cases = {
      {"silent target", true, false, Browse, "Cannot connect to target loader!", 2,
       {"Connecting to target loader failed", "#### Update of target memory failed ####"},
       [](ProcedureBench& b) {  // the log still gets the description
         EXPECT_EQ(ReadBytes(b.paths.UpdateLog()).size(), b.description.text.size());
       }},
      {"update file format", false, false,
       [](ProcedureBench& b) {
         test::WriteBytes(b.UpdateFile("bad.sss"), {'S', '2', 'x', '\r', '\n'});
         b.fields.file_name = b.UpdateFile("bad.sss");
       },
       "Update file format error", 2,
       {"Analyzing update file failed", "#### Update of target memory failed ####"}},
      {"the memory image cannot be created where it is asked for", false, false,
       [](ProcedureBench& b) {
         Browse(b);
         test::WriteBytes(b.dir.file("not-a-folder"), {});
         b.options.image_folder = b.dir.file("not-a-folder");
       },
       "Cannot store data in memory image", 2, {"Analyzing update file failed"}},
      // Without a folder of its own the image goes into UPDATE, not the
      // current directory: a folder in its place there stops it.
      {"a folder where the image goes in UPDATE", false, false,
       [](ProcedureBench& b) {
         Browse(b);
         std::filesystem::create_directories(b.paths.UpdateDir() + "/memimage.tmp");
         b.options.image_folder.clear();
       },
       "Cannot store data in memory image", 0, {}},
      // The plan is refused before its marker.
      {"data in the loader's own block", false, false,
       [](ProcedureBench& b) {
         PrepareOldMemory(b.sim());
         test::WriteUpdateFile(b.UpdateFile("loader.sss"), kHeader,
                               {{0x84400, Pattern(0x10, 1)}, {0x82000, Pattern(0x10, 2)}});
         b.fields.file_name = b.UpdateFile("loader.sss");
       },
       "The update cannot be carried out: it programs 0x00082000, "
       "which lies neither in RAM nor in a sector it erases",
       3, {"Building update command file failed"}},
      {"the target falls silent at the first read of the kept contents", false, true,
       [](ProcedureBench& b) {
         PrepareOldMemory(b.sim());
         Browse(b);
       },
       "Reading target memory failed (-3001) !", 2,
       {"Reading target memory failed", "#### Update of target memory failed ####"},
       [](ProcedureBench& b) { EXPECT_FALSE(Exists(b.paths.UpdateCmd())); }},
      // What was read had been confirmed.
      {"an UPDATE folder that is a file: no command file can be made there", false, false,
       [](ProcedureBench& b) {
         PrepareOldMemory(b.sim());
         Browse(b);
         std::filesystem::remove_all(b.paths.UpdateDir());
         test::WriteBytes(b.paths.UpdateDir(), {});
       },
       "Cannot open command file", 3,
       {"Building update command file failed", "Confirmed by loader checksum CRC-16/CCITT-FALSE",
        "#### Update of target memory failed ####"}},
  };
  return cases;
}

TEST(UpdateProcedure, FailuresBeforeProgrammingLeaveTheTargetUntouched) {
  for (const EarlyFailure& f : EarlyFailures()) {
    SCOPED_TRACE(f.what);
    sim::Options options = ProcedureBench::DefaultOptions();
    options.silent = f.silent;
    ProcedureBench b(options, f.silent_at_first_read ? [](uint8_t command, uint32_t) {
      return command == test::kReadCommand;
    } : test::MutingPort::Trigger());
    f.setup(b);
    UpdateContext c = b.Update();
    EXPECT_EQ(OnUpdate(c, b.fields, b.options), 0);
    EXPECT_EQ(b.ui.MessageTexts(), std::vector<std::string>{f.message});
    ASSERT_GE(b.log.lines.size(), f.tail_from_end);
    const auto from = b.log.lines.end() - static_cast<long>(f.tail_from_end);
    EXPECT_EQ(std::vector<std::string>(from, from + static_cast<long>(f.tail.size())), f.tail);
    if (f.also) f.also(b);
    // Untouched.
    EXPECT_EQ(b.sim().stats().erases, 0u);
    EXPECT_EQ(b.sim().stats().programs, 0u);
    EXPECT_FALSE(Exists(b.paths.UpdateSem()));
    EXPECT_EQ(b.log.lines.back(), "#### Update of target memory failed ####");
    EXPECT_EQ(b.ui.tones.size(), 12u);
    EXPECT_EQ(b.ui.wait_depth, 0);
    EXPECT_FALSE(b.link().IsOpen());
  }
}

}  // namespace
}  // namespace vok
