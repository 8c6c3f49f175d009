#include "support/golden.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace vok::test {

std::string GoldenPath(const std::string& name) { return std::string(VOK_GOLDEN_DIR) + "/" + name; }

::testing::AssertionResult MatchesGolden(const std::string& name, const std::string& actual) {
  const std::string path = GoldenPath(name);
  if (const char* update = std::getenv("VOK_UPDATE_GOLDEN"); update && *update == '1') {
    std::ofstream(path, std::ios::binary) << actual;
    return ::testing::AssertionSuccess() << "written " << path;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) return ::testing::AssertionFailure() << "no golden file " << path << " (VOK_UPDATE_GOLDEN=1 makes it)";
  const std::string expected{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (expected == actual) return ::testing::AssertionSuccess();
  size_t at = 0;
  while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
  size_t line = 1;
  for (size_t i = 0; i < at; ++i) line += expected[i] == '\n';
  return ::testing::AssertionFailure()
         << path << " differs from byte " << at << " (line " << line << "): golden "
         << expected.size() << " bytes, made " << actual.size() << " bytes";
}

}  // namespace vok::test
