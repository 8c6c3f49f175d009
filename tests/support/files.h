#pragma once

// Whole files in and out, for tests that set up or inspect what the code
// under test leaves on disk.

#include <cstdint>
#include <string>
#include <vector>

namespace vok::test {

// The file's bytes; empty when it cannot be read.
std::string ReadFile(const std::string& path);
std::vector<uint8_t> ReadBytes(const std::string& path);
// Replaces the file's content.
void WriteFile(const std::string& path, const std::string& bytes);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
// Anything of that name, a dangling symbolic link included.
bool Exists(const std::string& path);

}  // namespace vok::test
