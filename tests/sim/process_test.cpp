// voksim in its own process, the real link over its pseudo-terminal.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "link/frame.h"
#include "link/link_error.h"
#include "link/loader_commands.h"
#include "link/loader_link.h"
#include "support/files.h"
#include "support/temp_dir.h"
#include "support/voksim_process.h"

namespace vok {
namespace {

using test::ReadFile;
using test::VoksimProcess;
using Bytes = std::vector<uint8_t>;

// Runs a command and gives its standard output and exit status.
std::string RunCommand(const std::string& command, int& status) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  char buf[4096];
  size_t n = 0;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int w = pclose(p);
  status = WIFEXITED(w) ? WEXITSTATUS(w) : -1;
  return out;
}

TEST(SimProcess, NegotiatesFrom38400AndAnswersEveryCommand) {
  test::TempDir dir;
  ASSERT_EQ(symlink("/dev/gone", dir.file("ttyVOK").c_str()), 0);  // stale, from an earlier run
  VoksimProcess sim({"--state", dir.file("state"), "--stats", dir.file("stats.json"), "--trace",
                     dir.file("trace.txt"), "--link", dir.file("ttyVOK")});
  ASSERT_TRUE(sim.started());
  struct stat st {};
  ASSERT_EQ(lstat(dir.file("ttyVOK").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));

  LoaderLink link;
  link.SetPortTable({{"COM1", dir.file("ttyVOK")}});
  ASSERT_EQ(link.OpenLink(dir.file("ttyVOK"), 38400), 0);  // the loader boots at 9600
  EXPECT_EQ(link.Port().Baud(), 38400u);

  uint8_t v[3];
  ASSERT_EQ(GetLoaderVersion(link, v[0], v[1], v[2]), 0);
  EXPECT_EQ((Bytes{v[0], v[1], v[2]}), (Bytes{2, 1, 0}));
  uint8_t buf[1024];
  ASSERT_EQ(ReadTargetMemory(link, 0x88000, 4, buf), 0);  // a demo header
  EXPECT_EQ(Bytes(buf, buf + 4), (Bytes{0xAA, 0x55, 0x55, 0xAA}));
  ASSERT_EQ(ReadTargetMemory(link, 0xE0000, 1024, buf), 0);  // the free sector
  EXPECT_EQ(buf[0], 0xFF);
  ASSERT_EQ(EraseFlashSector(link, 0x84000), 0);
  EXPECT_EQ(EraseFlashSector(link, 0x84001), kErrEraseFailed);
  Bytes data(1024);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  data[5] = 0x10;  // a DLE in the request
  uint32_t at = 0;
  ASSERT_EQ(ProgramTargetMemory(link, 0x84000, 1024, data.data(), at), 0);
  EXPECT_EQ(ProgramTargetMemory(link, 0x84000, 4, Bytes(4, 0xFF).data(), at), kErrProgramFailed);
  ASSERT_EQ(ReadTargetMemory(link, 0x84000, 1024, buf), 0);
  EXPECT_EQ(Bytes(buf, buf + 1024), data);
  uint16_t sum = 0;
  ASSERT_EQ(GetTargetChecksum(link, 0x84000, 1024, sum), 0);
  EXPECT_NE(sum, 0);

  // Command 6, then the hand-over back to the loader.
  ASSERT_EQ(StartTargetApplication(link), 0);
  EXPECT_FALSE(link.IsOpen());
  ASSERT_EQ(link.OpenLinkPlain(0, 9600), 0);
  EXPECT_EQ(SendTextCommand(link, "START LOADER"), 2);
  link.CloseLink();
  ASSERT_EQ(link.OpenLink(dir.file("ttyVOK"), 38400), 0);
  uint16_t again = 0;
  ASSERT_EQ(GetTargetChecksum(link, 0x84000, 1024, again), 0);
  EXPECT_EQ(again, sum);
  link.CloseLink();

  ASSERT_EQ(sim.Stop(), 0);
  EXPECT_NE(sim.output().find("bytes to host: "), std::string::npos);
  EXPECT_NE(sim.output().find("bytes from host: "), std::string::npos);
  EXPECT_NE(lstat(dir.file("ttyVOK").c_str(), &st), 0);  // the link went with it
  const std::string stats = ReadFile(dir.file("stats.json"));
  EXPECT_NE(stats.find("\"bytes_to_host\": "), std::string::npos);
  EXPECT_NE(stats.find("\"flash_busy_ms\": "), std::string::npos);
  const std::string trace = ReadFile(dir.file("trace.txt"));
  EXPECT_NE(trace.find("  38400 H>S 10 02 00 01 01 10 03 00 | not understood"), std::string::npos);
  EXPECT_NE(trace.find("| rate 38400"), std::string::npos);
  EXPECT_NE(trace.find("| erase reply status 1"), std::string::npos);
  EXPECT_NE(trace.find("| text \"START LOADER\\r\""), std::string::npos);
  // The state holds the programmed record after the 16-byte state header.
  const std::string state = ReadFile(dir.file("state"));
  ASSERT_EQ(state.size(), 16u + 0x30000 + 0x80000);
  EXPECT_EQ(Bytes(state.begin() + 16 + 0x30000 + 0x4000, state.begin() + 16 + 0x30000 + 0x4400), data);
}

TEST(SimProcess, BusyApplicationAnswersBusy) {
  VoksimProcess sim({"--app", "--busy"});
  ASSERT_TRUE(sim.started());
  LoaderLink link;
  link.SetPortTable({{"COM1", sim.device()}});
  ASSERT_EQ(link.OpenLinkPlain(0, 9600), 0);
  EXPECT_EQ(SendTextCommand(link, "START LOADER"), 1);
  link.CloseLink();
  EXPECT_EQ(sim.Stop(), 0);
}

TEST(SimProcess, PowerCutAndRestartFromTheSavedState) {
  test::TempDir dir;
  const std::string state = dir.file("state");
  {
    VoksimProcess sim({"--blank", "--state", state, "--cut-after", "2"});
    ASSERT_TRUE(sim.started());
    LoaderLink link;
    ASSERT_EQ(link.OpenLink(sim.device(), 9600), 0);
    ASSERT_EQ(EraseFlashSector(link, 0x86000), 0);
    // The program request straight onto the line: the host's three patient
    // attempts would only wait for an answer that never comes.
    Bytes packet{0x08, 0x0B, 0x03, 0x00, 0x08, 0x60, 0x00, 0x00, 0x04, 0x12, 0x34, 0x56, 0x78};
    ASSERT_EQ(SendFrame(link.Port(), packet.size(), packet.data()), 0);
    uint8_t reply[1500];
    EXPECT_EQ(ReceiveFrame(link.Port(), 1500, reply, 500), kErrTimeout);
    link.CloseLink();
    EXPECT_EQ(sim.Stop(), 0);
  }
  VoksimProcess sim({"--blank", "--state", state});
  ASSERT_TRUE(sim.started());
  LoaderLink link;
  ASSERT_EQ(link.OpenLink(sim.device(), 9600), 0);
  uint8_t buf[8];
  ASSERT_EQ(ReadTargetMemory(link, 0x86000, 8, buf), 0);
  EXPECT_EQ(Bytes(buf, buf + 8), (Bytes{0x12, 0x34, 0x56, 0x78, 0xFF, 0xFF, 0xFF, 0xFF}));
  link.CloseLink();
  EXPECT_EQ(sim.Stop(), 0);
}

TEST(SimProcess, CorruptedReplyIsRecoveredByTheRetry) {
  test::TempDir dir;
  VoksimProcess sim({"--corrupt-reply", "2", "--stats", dir.file("stats.json")});
  ASSERT_TRUE(sim.started());
  LoaderLink link;
  ASSERT_EQ(link.OpenLink(sim.device(), 9600), 0);
  uint8_t v[3];
  EXPECT_EQ(GetLoaderVersion(link, v[0], v[1], v[2]), 0);
  link.CloseLink();
  ASSERT_EQ(sim.Stop(), 0);
  EXPECT_NE(ReadFile(dir.file("stats.json")).find("\"replies\": 3,"), std::string::npos);
}

TEST(SimProcess, RealtimePacesTheLine) {
  VoksimProcess sim({"--realtime", "--blank"});
  ASSERT_TRUE(sim.started());
  LoaderLink link;
  ASSERT_EQ(link.OpenLink(sim.device(), 9600), 0);
  uint8_t buf[256];
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(ReadTargetMemory(link, 0x10000, 256, buf), 0);  // 14 + 268 bytes at 9600
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_GE(ms, 285);
  EXPECT_LT(ms, 10000);  // a hang check: a loaded machine may be slow
  link.CloseLink();
  EXPECT_EQ(sim.Stop(), 0);
}

TEST(SimProcess, HelpListsEveryOptionAndBadOptionsFail) {
  int status = -1;
  const std::string help = RunCommand(VoksimProcess::BinaryPath() + " --help", status);
  EXPECT_EQ(status, 0);
  for (const char* option :
       {"--boot-rate", "--max-rate", "--realtime", "--link", "--trace", "--stats", "--blank", "--image",
        "--component", "--bad-checksum", "--state", "--loader-version", "--app", "--busy", "--silent",
        "--cut-after", "--tear", "--fail-erase", "--fail-program", "--ignore-program", "--corrupt-reply",
        "--noise", "--seed", "--latency", "--help"}) {
    EXPECT_NE(help.find(std::string("  ") + option + " "), std::string::npos) << option;
  }
  RunCommand(VoksimProcess::BinaryPath() + " --frobnicate 2>/dev/null", status);
  EXPECT_EQ(status, 2);
  test::TempDir dir;
  RunCommand(VoksimProcess::BinaryPath() + " --image " + dir.file("missing.sss") + " 2>/dev/null", status);
  EXPECT_EQ(status, 1);
}

}  // namespace
}  // namespace vok
