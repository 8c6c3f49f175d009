// Replies held by a USB adapter are told once a run, against voksim holding
// them as such an adapter does.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "cli_process.h"
#include "support/temp_dir.h"
#include "support/voksim_process.h"

namespace vok::test {
namespace {

TEST(CliLatency, HeldRepliesAreToldOnceWithTheWayToLowerTheTimer) {
  const struct {
    std::vector<std::string> sim, command;
    const char* told;  // the warning as it appears once, or nullptr: none
  } cases[] = {
      {{"--latency", "16"}, {"info"}, "vokloader-cli: Replies arrive "},
      {{"--latency", "16"}, {"backup", "b.sss"}, "vokloader-cli: Replies arrive "},  // many exchanges
      {{"--latency", "16"}, {"--json", "info"}, "\"text\":\"Replies arrive "},
      {{"--latency", "1"}, {"info"}, nullptr},
      {{}, {"info"}, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sim.size() > 1 ? c.sim[1] + " ms " + c.command[0] : "none");
    VoksimProcess sim(c.sim);
    ASSERT_TRUE(sim.started());
    TempDir dir;
    std::ofstream(dir.file("VOKLOAD.INI"), std::ios::binary)
        << "[SETUP]\r\nComPort=0\r\nBaudrate=115200\r\n\r\n[Ports]\r\nCOM1=" << sim.device() << "\r\n";
    std::vector<std::string> args{"--folder", dir.folder()};
    args.insert(args.end(), c.command.begin(), c.command.end());
    const CliRun r = RunProgramIn(CliProgram(), args, dir.path().string());
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string all = r.out + r.err;
    const size_t at = all.find(c.told ? c.told : "Replies arrive");
    EXPECT_EQ(at != std::string::npos, c.told != nullptr) << all;
    if (at == std::string::npos) continue;
    EXPECT_EQ(all.find(c.told, at + 1), std::string::npos) << "told once: " << all;
    // What it costs at this rate, and the rule that lowers it for good.
    for (const char* piece : {" ms late: the serial adapter holds them (its latency timer). That adds about ",
                              " % to every 1 KiB block at 115200 baud.", "ATTR{latency_timer}"})
      EXPECT_NE(all.find(piece), std::string::npos) << piece;
  }
}

}  // namespace
}  // namespace vok::test
