#pragma once

// Golden files: the bytes of a format that users and peers keep (a command
// file, a log, a backup, the JSON Lines of the command line), made once from
// the code, read and committed, so that any change of the format shows as a
// diff in review. Run a test with VOK_UPDATE_GOLDEN=1 in the environment to
// write its files anew; then read the diff before committing it.

#include <gtest/gtest.h>

#include <string>

namespace vok::test {

// The path of a golden file of tests/golden.
std::string GoldenPath(const std::string& name);
// Whether actual equals the golden file's bytes; names the first difference.
::testing::AssertionResult MatchesGolden(const std::string& name, const std::string& actual);

}  // namespace vok::test
