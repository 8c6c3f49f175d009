#pragma once

// The bench of the command-line tests: an application folder, voksim in a
// process of its own on COM1 of the folder's settings, vokloader-cli run as
// a child process.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/folder_lock.h"
#include "cli_process.h"
#include "sim/simulator.h"
#include "link/port_list.h"
#include "link/serial_port.h"
#include "support/files.h"
#include "support/firmware_text.h"
#include "support/golden.h"
#include "support/srecord_text.h"
#include "support/temp_dir.h"
#include "support/sim_state.h"
#include "support/voksim_process.h"

namespace vok::test {


namespace fs = std::filesystem;

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

inline bool Has(const std::string& text, const std::string& piece) {
  return text.find(piece) != std::string::npos;
}

// A small update: 16 bytes in the middle of the first flash sector, whose
// other bytes the update must keep, and 16 bytes of RAM.
constexpr uint32_t kFlashData = 0x84100, kRamData = 0x20000;

inline std::vector<uint8_t> Pattern(uint8_t seed) {
  std::vector<uint8_t> bytes(16);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(seed + 7 * i);
  return bytes;
}

inline std::string UpdateFileText() {
  std::string text = "Test update 1.0\r\n";
  return SRecordLine('0', 0, std::vector<uint8_t>(text.begin(), text.end())) +
         SRecordLine('2', kFlashData, Pattern(0x30)) + SRecordLine('2', kRamData, Pattern(0x90)) +
         SRecordLine('8', 0, {});
}

class CliTest : public ::testing::Test {
 protected:
  // VOKLOAD.INI with COM1 mapped to the simulator's terminal.
  void WriteSettings(const std::string& device, const std::string& setup = "ComPort=0\r\n") {
    WriteFile(dir.file("VOKLOAD.INI"),
              "[SETUP]\r\n" + setup + "\r\n[Ports]\r\nCOM1=" + device + "\r\n");
  }
  CliRun Cli(std::vector<std::string> args) {
    args.insert(args.begin(), {"--folder", dir.folder()});
    return RunProgramIn(CliProgram(), args, dir.path().string());
  }
  // voksim with these arguments, COM1 of the settings pointing at it.
  VoksimProcess& StartSim(const std::vector<std::string>& args,
                          const std::string& setup = "ComPort=0\r\n") {
    sims.push_back(std::make_unique<VoksimProcess>(args));
    EXPECT_TRUE(sims.back()->started());
    WriteSettings(sims.back()->device(), setup);
    return *sims.back();
  }
  std::string Path(const std::string& relative) const { return dir.file(relative); }
  bool Exists(const std::string& relative) const { return fs::exists(Path(relative)); }
  std::string UpdateFile() {
    WriteFile(Path("u.sss"), UpdateFileText());
    return Path("u.sss");
  }
  // The update's data where the file put it, the rest of the sector as before.
  void ExpectUpdated(const std::string& state, const std::vector<uint8_t>& sector_before) {
    std::vector<uint8_t> expected = sector_before;
    std::vector<uint8_t> data = Pattern(0x30);
    std::copy(data.begin(), data.end(), expected.begin() + (kFlashData - 0x84000));
    EXPECT_EQ(StateMemory(state, 0x84000, 0x2000), expected);
    EXPECT_EQ(StateMemory(state, kRamData, 16), Pattern(0x90));
  }

  TempDir dir;
  std::vector<std::unique_ptr<VoksimProcess>> sims;
};

// A result without what the run cost on the line, which a retry would change.
inline std::string WithoutLineBytes(const std::string& out) {
  return std::regex_replace(out, std::regex(",\"line_bytes\":[0-9]+"), "");
}

inline size_t Count(const std::string& text, const std::string& piece) {
  size_t n = 0;
  for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
  return n;
}

}  // namespace vok::test
