// What a USB adapter's hold of short replies costs, told once per run by
// vokloader-cli against voksim holding them as such an adapter does.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "cli_process.h"
#include "support/temp_dir.h"
#include "support/voksim_process.h"

namespace vok::test {
namespace {

size_t Count(const std::string& text, const std::string& piece) {
  size_t n = 0;
  for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
  return n;
}

TEST(CliLatency, HeldRepliesAreToldOnceWithTheWayToLowerTheTimer) {
  struct Case {
    std::vector<std::string> sim;
    std::vector<std::string> command;
    size_t told;  // times the warning appears
  };
  const std::string warning = "vokloader-cli: Replies arrive ";
  const Case cases[] = {
      {{"--latency", "16"}, {"info"}, 1},
      {{"--latency", "16"}, {"backup", "b.sss"}, 1},  // many exchanges, one word
      {{"--latency", "16"}, {"--json", "info"}, 1},
      {{"--latency", "1"}, {"info"}, 0},
      {{}, {"info"}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE((c.sim.empty() ? "no latency" : c.sim[1] + " ms") + " " + c.command.back());
    VoksimProcess sim(c.sim);
    ASSERT_TRUE(sim.started());
    TempDir dir;
    std::ofstream(dir.file("VOKLOAD.INI"), std::ios::binary)
        << "[SETUP]\r\nComPort=0\r\nBaudrate=115200\r\n\r\n[Ports]\r\nCOM1=" << sim.device() << "\r\n";
    std::vector<std::string> args{"--folder", dir.folder()};
    args.insert(args.end(), c.command.begin(), c.command.end());
    const CliRun r = RunProgramIn(CliProgram(), args, dir.path().string());
    EXPECT_EQ(r.status, 0) << r.err;
    const bool json = c.command.front() == "--json";
    const std::string& told = json ? r.out : r.err;
    EXPECT_EQ(Count(told, json ? "\"text\":\"Replies arrive " : warning), c.told) << told;
    if (c.told == 0) continue;
    if (json) {
      EXPECT_EQ(Count(r.out, "\"level\":\"warning\""), 1u) << r.out;
      continue;
    }
    // What it costs at this rate, and the rule that lowers it for good.
    EXPECT_NE(r.err.find(" ms late: the serial adapter holds them (its latency timer). That adds about "),
              std::string::npos) << r.err;
    EXPECT_NE(r.err.find(" % to every 1 KiB block at 115200 baud."), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("ATTR{latency_timer}=\"1\""), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace vok::test
