#pragma once

// What a voksim state file holds, for tests that run voksim in a process of
// its own. Header only: the support library does not link the simulator.

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/simulator.h"

namespace vok::test {

// Memory as a voksim state file holds it.
inline std::vector<uint8_t> StateMemory(const std::string& state, uint32_t address, size_t n) {
  sim::Options options;
  options.demo_firmware = false;
  sim::Simulator reader(options);
  std::string error;
  EXPECT_TRUE(reader.LoadState(state, error)) << error;
  return reader.ReadMemory(address, n);
}

}  // namespace vok::test
