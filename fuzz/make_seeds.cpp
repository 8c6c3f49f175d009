// Writes the seed corpus of sim_request_fuzz: the bytes the real link sends
// for a session of every loader command, in the harness's chunk format
// (raw chunks of up to 63 bytes; first byte 0 = loader).
//   make_seeds <folder>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "link/loader_commands.h"
#include "link/loader_link.h"
#include "sim/inprocess_port.h"
#include "sim/simulator.h"

namespace {

class RecordingPort : public vok::sim::InProcessPort {
 public:
  RecordingPort(vok::sim::Simulator& sim, std::vector<uint8_t>& out) : InProcessPort(sim), out_(out) {}
  int WritePort(size_t n, const uint8_t* bytes) override {
    for (size_t at = 0; at < n; at += 63) {
      const size_t k = std::min<size_t>(63, n - at);
      out_.push_back(static_cast<uint8_t>(k));
      out_.insert(out_.end(), bytes + at, bytes + at + k);
    }
    return InProcessPort::WritePort(n, bytes);
  }

 private:
  std::vector<uint8_t>& out_;
};

void Save(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

template <typename Session>
void Seed(const std::string& path, Session session) {
  vok::sim::Options o;
  vok::sim::Simulator sim(o);
  std::vector<uint8_t> out{0};
  vok::LoaderLink link(std::make_unique<RecordingPort>(sim, out));
  if (link.OpenLink("COM1", 38400) != 0) return;
  session(link);
  link.CloseLink();
  Save(path, out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::string dir = std::string(argv[1]) + "/";
  uint8_t buffer[1024];
  Seed(dir + "version", [](vok::LoaderLink& l) {
    uint8_t a, b, c;
    vok::GetLoaderVersion(l, a, b, c);
  });
  Seed(dir + "read", [&](vok::LoaderLink& l) { vok::ReadTargetMemory(l, 0x84000, 64, buffer); });
  Seed(dir + "erase_program", [&](vok::LoaderLink& l) {
    vok::EraseFlashSector(l, 0x86000);
    for (int i = 0; i < 48; ++i) buffer[i] = static_cast<uint8_t>(i * 37);
    buffer[5] = 0x10;  // a DLE to be doubled
    uint32_t at = 0;
    vok::ProgramTargetMemory(l, 0x86000, 48, buffer, at);
  });
  Seed(dir + "checksum", [](vok::LoaderLink& l) {
    uint16_t sum = 0;
    vok::GetTargetChecksum(l, 0x84000, 0x100, sum);
  });
  Seed(dir + "start", [](vok::LoaderLink& l) { vok::StartTargetApplication(l); });
  return 0;
}
