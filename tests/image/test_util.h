#pragma once

// Helpers of the image tests: test patterns, external tools; and the shared
// file and S-record helpers.

#include <cstdint>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/srecord_text.h"

namespace vok::test {

// Deterministic pseudo-random bytes.
std::vector<uint8_t> Pattern(size_t n, uint32_t seed);
// POSIX only. Runs a program found on PATH with these arguments; its exit status, or -1
// when it cannot be started. Standard output and error go to output.
int RunTool(const std::vector<std::string>& argv, std::string* output = nullptr);

}  // namespace vok::test
