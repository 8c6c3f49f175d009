#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <string>
#include <vector>

#include "support/recorders.h"
#include "support/temp_dir.h"
#ifndef _WIN32
#include "support/voksim_process.h"
#endif
#include "target/connect.h"
#include "sim_bench.h"

namespace vok {
namespace {

using test::RecordingStatus;
using test::ScriptedUi;
using test::SimBench;
using test::TempDir;

const std::string kConnecting = "Connecting to target loader ...";
const std::string kCouldnt = "Couldn't connect to target loader!";

int FileComPort(const AppPaths& paths) {
  return ReadProfileInt(paths.Settings(), "SETUP", "ComPort", -99);
}

TEST(Connect, LoaderListening) {
  TempDir dir;
  AppPaths paths{dir.folder()};
  SimBench bench(test::BlankController());
  ScriptedUi ui;
  RecordingStatus status;
  EXPECT_EQ(ConnectTarget(*bench.link, paths, ui, 0, 38400, &status, 1), 1);
  EXPECT_EQ(status.history, (std::vector<std::string>{kConnecting, ""}));
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_TRUE(ui.port_dialog_preselected.empty());
  EXPECT_TRUE(bench.link->IsOpen());
  EXPECT_EQ(bench.port->Baud(), 38400u);
  EXPECT_EQ(bench.port->device(), bench.link->DeviceFor("COM1"));
#ifndef _WIN32
  EXPECT_EQ(bench.port->device(), "/dev/ttyS0");
#endif
  DisconnectTarget(*bench.link);
  EXPECT_FALSE(bench.link->IsOpen());
  DisconnectTarget(*bench.link);  // a closed link stays closed
  EXPECT_FALSE(bench.link->IsOpen());

  // Without a status control the procedure runs the same.
  EXPECT_EQ(ConnectTarget(*bench.link, paths, ui, 0, 38400, nullptr, 0), 1);
  DisconnectTarget(*bench.link);
  EXPECT_FALSE(std::filesystem::exists(paths.Settings()));  // nothing was written
}

TEST(Connect, PortThatCannotBeOpenedOffersTheDialogOnce) {
  TempDir dir;
  AppPaths paths{dir.folder()};
  SimBench bench(test::BlankController());
  bench.link->SetPortTable({{"COM2", "/dev/missing-held"}, {"COM3", "/dev/ttyUSB0"}});

  // A free port with a listening loader chosen: 1, and the file has it at once.
  {
    ScriptedUi ui;
    ui.port_choices.push_back(2);
    RecordingStatus status;
    EXPECT_EQ(ConnectTarget(*bench.link, paths, ui, 1, 38400, &status, 1), 1);
    EXPECT_EQ(ui.port_dialog_preselected, std::vector<int>{1});
    EXPECT_EQ(FileComPort(paths), 2);
    EXPECT_EQ(bench.port->device(), "/dev/ttyUSB0");
    EXPECT_EQ(status.history, (std::vector<std::string>{kConnecting, ""}));
    EXPECT_TRUE(ui.messages.empty());
    DisconnectTarget(*bench.link);
  }
  // Cancelled: 0, no message box, nothing written.
  {
    ScriptedUi ui;
    ui.port_choices.push_back(std::nullopt);
    RecordingStatus status;
    std::filesystem::remove(paths.Settings());
    EXPECT_EQ(ConnectTarget(*bench.link, paths, ui, 1, 38400, &status, 1), 0);
    EXPECT_EQ(ui.port_dialog_preselected.size(), 1u);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(status.history, (std::vector<std::string>{kConnecting, kCouldnt}));
    EXPECT_FALSE(std::filesystem::exists(paths.Settings()));
    EXPECT_FALSE(bench.link->IsOpen());
  }
  // The same port again: it fails once more and the dialog is not repeated,
  // whatever allow-start says; the choice is written all the same.
  {
    ScriptedUi ui;
    ui.port_choices = {1, 2};
    RecordingStatus status;
    EXPECT_EQ(ConnectTarget(*bench.link, paths, ui, 1, 38400, &status, 0), 0);
    EXPECT_EQ(ui.port_dialog_preselected.size(), 1u);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(status.Current(), kCouldnt);
    EXPECT_EQ(FileComPort(paths), 1);
  }
  // A failed write of the choice is reported, and the choice is tried anyway.
  {
    std::filesystem::remove(paths.Settings());
    std::filesystem::create_directory(paths.Settings());
    ScriptedUi ui;
    ui.port_choices.push_back(0);
    EXPECT_EQ(ConnectTarget(*bench.link, paths, ui, 1, 38400, nullptr, 1), 1);
    EXPECT_EQ(ui.MessageTexts(),
              std::vector<std::string>{"Unable to Write to Initialization File"});
    DisconnectTarget(*bench.link);
  }
}

TEST(Connect, ChosenPortWithSilentLoaderFailsWithoutHandover) {
  TempDir dir;
  AppPaths paths{dir.folder()};
  sim::Options o = test::BlankController();
  o.app = true;  // would hand over if asked; the dialog's attempt does not ask
  SimBench bench(o);
  bench.link->SetPortTable({{"COM1", "/dev/missing"}});
  ScriptedUi ui;
  ui.port_choices.push_back(3);
  RecordingStatus status;
  EXPECT_EQ(ConnectTarget(*bench.link, paths, ui, 0, 38400, &status, 1), 0);
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(status.Current(), kCouldnt);
  EXPECT_TRUE(bench.sim.InApplication());
  EXPECT_FALSE(bench.link->IsOpen());
  EXPECT_EQ(FileComPort(paths), 3);
}

TEST(Connect, SilentLoaderWithoutStartIsQuiet) {
  TempDir dir;
  AppPaths paths{dir.folder()};
  sim::Options o = test::BlankController();
  o.silent = true;
  SimBench bench(o);
  ScriptedUi ui;
  RecordingStatus status;
  EXPECT_EQ(ConnectTarget(*bench.link, paths, ui, 0, 38400, &status, 0), 0);
  EXPECT_EQ(status.history, std::vector<std::string>{kConnecting});
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_TRUE(ui.port_dialog_preselected.empty());
  EXPECT_FALSE(bench.link->IsOpen());
  EXPECT_EQ(bench.port->opens, 1);  // no plain opening for the application
}

TEST(Connect, ApplicationHandsOverAndLoaderIsReopenedAt38400) {
  TempDir dir;
  AppPaths paths{dir.folder()};
  sim::Options o = test::BlankController();
  o.app = true;
  SimBench bench(o);
  ScriptedUi ui;
  RecordingStatus status;
  // The setting says 9600; after the hand-over 38400 is asked for.
  EXPECT_EQ(ConnectTarget(*bench.link, paths, ui, 0, 9600, &status, 1), 1);
  EXPECT_EQ(status.history, (std::vector<std::string>{kConnecting, ""}));
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_FALSE(bench.sim.InApplication());
  EXPECT_TRUE(bench.link->IsOpen());
  EXPECT_EQ(bench.port->Baud(), 38400u);
  EXPECT_EQ(bench.sim.ListeningRate(), 38400u);
  EXPECT_EQ(bench.port->opens, 3);  // negotiated, plain, negotiated again
  DisconnectTarget(*bench.link);
  EXPECT_FALSE(bench.link->IsOpen());
}

TEST(Connect, ApplicationBusyOrSilent) {
  TempDir dir;
  AppPaths paths{dir.folder()};
  struct Case {
    const char* what;
    bool busy;
    bool silent;
    int deaf_from_open;
    std::string message;
  };
  const Case cases[] = {
      {"busy", true, false, 0, "Vok is busy, try again later"},
      {"not answering", false, true, 0, "Cannot connect to target loader!"},
      {"loader silent after OK", false, false, 3, "Cannot connect to target loader!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::Options o = test::BlankController();
    o.app = true;
    o.busy = c.busy;
    o.silent = c.silent;
    SimBench bench(o);
    bench.port->deaf_from_open = c.deaf_from_open;
    ScriptedUi ui;
    RecordingStatus status;
    EXPECT_EQ(ConnectTarget(*bench.link, paths, ui, 0, 38400, &status, 1), 0);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, c.message);
    EXPECT_EQ(ui.messages[0].buttons, Buttons::Ok);
    EXPECT_EQ(ui.messages[0].icon, Icon::Stop);
    EXPECT_EQ(ui.messages[0].title, "VOK Loader");
    EXPECT_EQ(status.history, (std::vector<std::string>{kConnecting, kCouldnt}));
    // The plain opening for the application stays until DisconnectTarget,
    // unless the failed renegotiation after OK has closed it.
    EXPECT_EQ(bench.link->IsOpen(), c.deaf_from_open == 0);
    DisconnectTarget(*bench.link);
    EXPECT_FALSE(bench.link->IsOpen());
  }

  // A device that cannot be set up fails like a silent loader, and the
  // plain opening fails the same way: only the message box remains.
  SimBench bench(test::BlankController());
  bench.link->SetPortTable({{"COM1", "/dev/notatty"}});
  ScriptedUi ui;
  EXPECT_EQ(ConnectTarget(*bench.link, paths, ui, 0, 38400, nullptr, 1), 0);
  EXPECT_EQ(ui.MessageTexts(), std::vector<std::string>{"Cannot connect to target loader!"});
  EXPECT_FALSE(bench.link->IsOpen());
}

// voksim and the holding process need POSIX.
#ifndef _WIN32
// Holds a device the way another program would: a process of its own opens
// it and takes the exclusive lock, until Release.
class DeviceHolder {
 public:
  explicit DeviceHolder(const std::string& device) {
    int ready[2], release[2];
    if (pipe(ready) != 0) return;
    if (pipe(release) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      close(release[1]);
      int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
      char ok = (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) ? 1 : 0;
      if (write(ready[1], &ok, 1) != 1) _exit(2);
      char c;
      while (read(release[0], &c, 1) > 0) {
      }
      _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    release_ = release[1];
    char ok = 0;
    held_ = read(ready[0], &ok, 1) == 1 && ok == 1;
    close(ready[0]);
  }
  ~DeviceHolder() { Release(); }
  bool held() const { return held_; }
  void Release() {
    if (release_ >= 0) close(release_);
    release_ = -1;
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int release_ = -1;
  bool held_ = false;
};

TEST(Connect, PortHeldByAnotherProgramOnPseudoTerminals) {
  test::VoksimProcess held_sim({"--blank"});
  test::VoksimProcess free_sim({"--blank"});
  ASSERT_TRUE(held_sim.started());
  ASSERT_TRUE(free_sim.started());
  DeviceHolder holder(held_sim.device());
  ASSERT_TRUE(holder.held());

  TempDir dir;
  AppPaths paths{dir.folder()};
  LoaderLink link;  // the platform's own serial port
  link.SetPortTable({{"COM1", held_sim.device()}, {"COM2", free_sim.device()}});

  {
    ScriptedUi ui;
    ui.port_choices.push_back(std::nullopt);
    RecordingStatus status;
    EXPECT_EQ(ConnectTarget(link, paths, ui, 0, 38400, &status, 1), 0);
    EXPECT_EQ(ui.port_dialog_preselected, std::vector<int>{0});
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(status.history, (std::vector<std::string>{kConnecting, kCouldnt}));
    DisconnectTarget(link);
  }
  {
    ScriptedUi ui;
    ui.port_choices.push_back(1);
    RecordingStatus status;
    EXPECT_EQ(ConnectTarget(link, paths, ui, 0, 38400, &status, 1), 1);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(status.history, (std::vector<std::string>{kConnecting, ""}));
    EXPECT_EQ(FileComPort(paths), 1);
    EXPECT_EQ(link.Port().Baud(), 38400u);
    DisconnectTarget(link);
  }
  // Once the other program lets go, the configured port opens directly.
  holder.Release();
  ScriptedUi ui;
  EXPECT_EQ(ConnectTarget(link, paths, ui, 0, 38400, nullptr, 1), 1);
  EXPECT_TRUE(ui.port_dialog_preselected.empty());
  DisconnectTarget(link);
}
#endif

}  // namespace
}  // namespace vok
