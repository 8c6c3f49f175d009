// One command on four simulated controllers at once, as a production line
// runs it: each port in its own folder, its own outcome, one summary.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli_process.h"
#include "sim/simulator.h"
#include "support/files.h"
#include "support/srecord_text.h"
#include "support/temp_dir.h"
#include "support/sim_state.h"
#include "support/voksim_process.h"

namespace vok::test {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kFlashData = 0x84100;

std::vector<uint8_t> Pattern() {
  std::vector<uint8_t> bytes(64);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(0x30 + 7 * i);
  return bytes;
}

bool Has(const std::string& text, const std::string& piece) { return text.find(piece) != std::string::npos; }

class GangTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string header = "Gang update 1.0\r\n";
    std::ofstream(dir.file("u.sss"), std::ios::binary)
        << SRecordLine('0', 0, std::vector<uint8_t>(header.begin(), header.end()))
        << SRecordLine('2', kFlashData, Pattern()) << SRecordLine('8', 0, {});
  }
  // Controller i (0 to 3) with these options, its memory in state i.
  void Start(size_t i, std::vector<std::string> args) {
    // A stable name for the port, as an adapter's by-id name is.
    args.insert(args.begin(), {"--state", State(i), "--link", Slot(i)});
    sims[i] = std::make_unique<VoksimProcess>(args);
    ASSERT_TRUE(sims[i]->started());
  }
  std::string State(size_t i) const { return dir.file("state" + std::to_string(i)); }
  std::string Slot(size_t i) const { return dir.file("slot" + std::to_string(i)); }
  CliRun Gang(const std::vector<std::string>& tail) {
    std::vector<std::string> args{"--folder", dir.folder(), "--baud", "115200"};
    for (size_t i = 0; i < 4; ++i) args.insert(args.end(), {"-p", Slot(i)});
    args.insert(args.end(), tail.begin(), tail.end());
    return RunProgramIn(CliProgram(), args, dir.path().string(), 120);
  }
  // Named by the port as given, since no adapter stands behind it.
  std::string PortFolder(size_t i) const {
    std::string name = Slot(i).substr(1);
    for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' ? c : '_';
    return dir.folder() + "PORTS/" + name + "/";
  }
  bool Updated(size_t i) {
    sims[i]->Stop();
    return StateMemory(State(i), kFlashData, Pattern().size()) == Pattern();
  }

  TempDir dir;
  std::unique_ptr<VoksimProcess> sims[4];
};

TEST_F(GangTest, FourControllersUpdatedAtOnceEachReportedAndRecorded) {
  for (size_t i = 0; i < 4; ++i) Start(i, {});
  const CliRun r = Gang({"--json", "update", dir.file("u.sss")});
  EXPECT_EQ(r.status, 0) << r.out;
  std::istringstream lines(r.out);
  std::string summary;
  size_t results = 0;
  for (std::string l; std::getline(lines, l);) {
    EXPECT_EQ(l.compare(0, 9, "{\"port\":\"") == 0, !Has(l, "\"summary\"")) << l;
    results += Has(l, "\"event\":\"result\"") && Has(l, "\"ok\":true");
    summary = l;
  }
  EXPECT_EQ(results, 4u);
  EXPECT_TRUE(Has(summary, "{\"event\":\"summary\",\"command\":\"update\",\"ok\":true,\"exit\":0,")) << summary;
  const std::string record = ReadFile(dir.file("PRODUCTION.CSV"));
  EXPECT_EQ(record.rfind("time,port,identity,command,file,sha256,loader_version,result,"
                         "seconds,line_bytes\r\n", 0), 0u) << record;
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_TRUE(Updated(i)) << i;
    EXPECT_TRUE(Has(summary, "\"port\":\"" + Slot(i) + "\"")) << summary;
    EXPECT_TRUE(Has(ReadFile(PortFolder(i) + "UPDATE/UPDATE.LOG"), "Gang update 1.0")) << PortFolder(i);
    EXPECT_TRUE(Has(record, "," + Slot(i) + ",")) << record;
  }
  EXPECT_TRUE(Has(record, ",update," + dir.file("u.sss") + ",")) << record;
}

TEST_F(GangTest, ASilentControllerFailsAloneAndTheSummaryNamesIt) {
  for (size_t i = 0; i < 4; ++i) Start(i, i == 2 ? std::vector<std::string>{"--silent"} : std::vector<std::string>{});
  const CliRun r = Gang({"update", dir.file("u.sss")});
  EXPECT_EQ(r.status, 1) << r.out;
  const std::string silent = Slot(2);
  // Without a terminal: plain lines, each after its port.
  EXPECT_TRUE(Has(r.out, "\n" + silent + ": Cannot connect to target loader!\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "3 of 4 ports succeeded, 1 failed\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "Again for the ports that failed: vokloader-cli -p " + silent + " --folder ")) << r.out;
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(Updated(i), i != 2) << i;
}

TEST_F(GangTest, ACutControllerIsLeftPendingThenResumedAlone) {
  for (size_t i = 0; i < 4; ++i) Start(i, i == 1 ? std::vector<std::string>{"--cut-after", "2"} : std::vector<std::string>{});
  CliRun r = Gang({"update", dir.file("u.sss")});
  EXPECT_EQ(r.status, 3) << r.out;
  EXPECT_TRUE(Has(r.out, "3 of 4 ports succeeded, 1 pending\n")) << r.out;
  EXPECT_TRUE(fs::exists(PortFolder(1) + "UPDATE/UPDATE.SEM"));
  // The controller comes back on a port of its own.
  sims[1]->Stop();
  Start(1, {});
  r = Gang({"resume"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(Has(r.out, Slot(1) + ": Restarted update process\n")) << r.out;
  EXPECT_EQ(r.out.find("Restarted"), r.out.rfind("Restarted")) << r.out;
  size_t nothing = 0;
  for (size_t at = 0; (at = r.out.find("  nothing to resume\n", at)) != std::string::npos; ++at) ++nothing;
  EXPECT_EQ(nothing, 3u) << r.out;
  for (size_t i = 0; i < 4; ++i) EXPECT_TRUE(Updated(i)) << i;
}

}  // namespace
}  // namespace vok::test
