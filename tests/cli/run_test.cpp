#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_app.h"
#include "support/temp_dir.h"

namespace vok::cli {
namespace {

// Whatever ends a run, a script that asked for JSON gets its result last.
TEST(CliRun, EveryJsonRunEndsWithItsResult) {
  test::TempDir dir;
  const std::string nowhere = (dir.path() / "nowhere").string();
  const struct {
    std::vector<std::string> args;
    int status;
    std::string last_line;
  } kCases[] = {
      {{"--json", "--folder", nowhere, "info"}, kExitUsage,
       R"({"event":"result","command":"info","ok":false,"exit":2,"message":"no such folder: )" +
           nowhere + R"(/"})"},
      {{"--json", "flash"}, kExitUsage,
       R"({"event":"result","command":"","ok":false,"exit":2,"message":"unknown command 'flash'"})"},
  };
  for (const auto& c : kCases) {
    std::ostringstream out, err;
    Console console(out, false, err, false);
    EXPECT_EQ(RunProgram(c.args, console, dir.folder()), c.status);
    const std::vector<std::string> lines = ListingLines(out.str());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), c.last_line);
    EXPECT_EQ(err.str(), "");
  }
}

}  // namespace
}  // namespace vok::cli
