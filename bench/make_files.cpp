// Writes the inputs of bench/run into a folder:
//   state.bin     the controller's memory: the demo firmware
//   six.sss       an update that rewrites all six flash sectors (496 KiB of
//                 data with a 1 KiB hole every 32 KiB, so kept parts are read)
//   six1.sss      six.sss with one byte changed, in the fourth sector
//   big.sss       16 MiB of data: RAM and flash over and over (the host's
//                 memory is measured; the controller takes every record)
//
// make_files FOLDER

#include <cstdio>
#include <string>
#include <vector>

#include "image/srecord.h"
#include "sim/controller.h"
#include "sim/simulator.h"

namespace {

bool WriteUpdate(const std::string& path, const std::string& header,
                 const std::vector<std::pair<uint32_t, std::vector<uint8_t>>>& blocks, int repeat) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  auto put = [&](const std::string& line) {
    std::fwrite(line.data(), 1, line.size() - 1, f);  // CR LF in place of '\n'
    std::fputs("\r\n", f);
  };
  put(vok::FormatSRecord('0', 0, header.size(), reinterpret_cast<const uint8_t*>(header.data())));
  for (int k = 0; k < repeat; ++k)
    for (const auto& [address, data] : blocks)
      for (size_t at = 0; at < data.size(); at += vok::kSRecordLineData) {
        size_t n = std::min(vok::kSRecordLineData, data.size() - at);
        put(vok::FormatSRecord('2', address + static_cast<uint32_t>(at), n, data.data() + at));
      }
  put(vok::FormatSRecord('8', 0, 0, nullptr));
  return std::fclose(f) == 0;
}

std::vector<uint8_t> Pattern(size_t n, unsigned seed) {
  std::vector<uint8_t> out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>((seed * 131 + i * 7 + i / 253) % 0xFF);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_files FOLDER\n");
    return 2;
  }
  const std::string dir = std::string(argv[1]) + "/";
  vok::sim::Options o;
  o.state_file = dir + "state.bin";
  vok::sim::Simulator sim(o);  // demo firmware, saved at once
  if (!sim.StartError().empty() || !sim.SaveState()) return 1;

  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> six;
  unsigned seed = 1;
  for (uint32_t at = 0x84000; at < 0x100000; at += 0x8000)
    six.emplace_back(at, Pattern(std::min<uint32_t>(0x7C00, 0x100000 - at), seed++));
  if (!WriteUpdate(dir + "six.sss", "Benchmark: all six sectors", six, 1)) return 1;
  six[4].second[0x100] ^= 0x01;  // 0xA4100, in the sector at 0xA0000
  if (!WriteUpdate(dir + "six1.sss", "Benchmark: all six sectors", six, 1)) return 1;

  // RAM and the erasable flash are 688 KiB; 24 rounds hold 16.1 MiB. Every
  // round writes the same bytes, so the target ends as after one.
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> all;
  all.emplace_back(vok::sim::kRamStart, Pattern(vok::sim::kRamSize, 90));
  all.emplace_back(0x84000, Pattern(0x100000 - 0x84000, 91));
  if (!WriteUpdate(dir + "big.sss", "Benchmark: 16 MiB of data", all, 24)) return 1;
  return 0;
}
