#pragma once

// Helpers of the image tests: files as bytes, S-record lines, external tools.

#include <cstdint>
#include <string>
#include <vector>

namespace vok::test {

std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);
// Deterministic pseudo-random bytes.
std::vector<uint8_t> Pattern(size_t n, uint32_t seed);
// The line without its '\n', as FormatSRecord makes it.
std::string Record(char type, uint32_t address, const std::vector<uint8_t>& data);
// POSIX only. Runs a program found on PATH with these arguments; its exit status, or -1
// when it cannot be started. Standard output and error go to output.
int RunTool(const std::vector<std::string>& argv, std::string* output = nullptr);

}  // namespace vok::test
