#include "reliability/scenario.h"

#include <unistd.h>

#include <filesystem>
#include <map>

namespace vok::reliability {

using sim::kFlashSize;
using sim::kFlashStart;
using sim::kRamSize;
using sim::kRamStart;
using test::Pattern;

Memory Snapshot(const sim::Simulator& s) {
  return {s.ReadMemory(kRamStart, kRamSize), s.ReadMemory(kFlashStart, kFlashSize)};
}

const std::vector<Reference>& References() {
  static const std::vector<Reference> refs = [] {
    std::vector<Reference> r;
    r.push_back({"one_sector", {{0x86200, Pattern(0x900, 21)}}});
    r.push_back({"boundary", {{0x87A00, Pattern(0xC00, 22)}}});
    // 0x84000 to 0xFFFFF is 496 KiB: every 32 KiB loses 1 KiB and one
    // stretch of 10 KiB stays out, so the kept parts are read back and
    // rewritten around the holes; a little RAM too.
    Reference big{"holes_496k", {}};
    uint32_t at = 0x84000;
    uint8_t seed = 30;
    while (at < 0x100000) {
      uint32_t len = 0x7C00;
      if (at + len > 0x100000) len = 0x100000 - at;
      if (at == 0xC4000) {
        big.records.push_back({at, Pattern(0x1000, seed++)});
        big.records.push_back({at + 0x3800, Pattern(len - 0x3800, seed++)});
      } else {
        big.records.push_back({at, Pattern(len, seed++)});
      }
      at += 0x8000;
    }
    big.records.push_back({0x30000, Pattern(0x2345, seed++)});
    r.push_back(std::move(big));
    return r;
  }();
  return refs;
}

void PrepareOldMemory(sim::Simulator& s) {
  s.ClearMemory();
  s.WriteMemory(kRamStart, Pattern(kRamSize, 1));
  s.WriteMemory(kFlashStart, Pattern(0x4000, 2));  // the loader's own
  for (const sim::Sector& sector : sim::kSectors) {
    // The first half of each sector programmed, the rest erased.
    s.WriteMemory(sector.start, Pattern(sector.length / 2, static_cast<uint8_t>(sector.start >> 12)));
  }
}

namespace {

const Memory& MemoryAfter(const Reference& r, bool second) {
  static std::map<std::pair<std::string, bool>, Memory> cache;
  auto it = cache.find({r.name, second});
  if (it != cache.end()) return it->second;
  sim::Simulator s(test::ProcedureBench::DefaultOptions());
  PrepareOldMemory(s);
  for (const auto& rec : r.records) s.WriteMemory(rec.address, rec.data);
  if (second)
    for (const auto& rec : SecondUpdate()) s.WriteMemory(rec.address, rec.data);
  return cache[{r.name, second}] = Snapshot(s);
}

}  // namespace

const Memory& Expected(const Reference& r) { return MemoryAfter(r, false); }

const std::vector<test::Record>& SecondUpdate() {
  static const std::vector<test::Record> records = {{0x84100, Pattern(0x100, 90)},
                                                    {0x90010, Pattern(0x80, 91)}};
  return records;
}

const Memory& ExpectedAfterSecond(const Reference& r) { return MemoryAfter(r, true); }

Scenario::Scenario(const Reference& r) : reference_(r) {
  // The controller saves its state after every memory change; on a tmpfs
  // that is a copy in memory, not a write to the disk.
  const std::filesystem::path shm = "/dev/shm";
  std::string base = std::filesystem::is_directory(shm) ? "/dev/shm/" : bench.dir.folder();
  state_ = base + "vok-reliability-" + std::to_string(::getpid()) + "-" +
           std::to_string(reinterpret_cast<uintptr_t>(this)) + ".state";
  std::filesystem::remove(state_);
  update_file_ = bench.UpdateFile("update.sss");
  test::WriteUpdateFile(update_file_, "Reliability " + r.name + "\r\n", r.records);
  second_file_ = bench.UpdateFile("second.sss");
  test::WriteUpdateFile(second_file_, "Instead of " + r.name + "\r\n", SecondUpdate());
  bench.fields.file_name = update_file_;
  PowerOn(Power());
  PrepareOldMemory(bench.sim());
  bench.sim().SaveState();
}

Scenario::~Scenario() {
  std::error_code ec;
  std::filesystem::remove(state_, ec);
  std::filesystem::remove(state_ + ".tmp", ec);
}

sim::Options Scenario::Power() const {
  sim::Options o = test::ProcedureBench::DefaultOptions();
  o.state_file = state_;
  return o;
}

void Scenario::PowerOn(const sim::Options& o) { bench.Restart(o); }

bool Scenario::Pending() const { return test::Exists(bench.paths.UpdateSem()); }

int Scenario::Update(ProgramCheck check) {
  bench.ui.answers.clear();
  if (Pending()) bench.ui.answers.push_back(Answer::Retry);
  bench.options.check = check;
  UpdateContext c = bench.Update();
  return RunUpdate(c, bench.fields, bench.options);
}

int Scenario::UpdateInstead() {
  bench.ui.answers.assign({Answer::Cancel});
  bench.options.check = ProgramCheck::kChecksum;
  UpdateFields fields = bench.fields;
  fields.file_name = second_file_;
  UpdateContext c = bench.Update();
  return RunUpdate(c, fields, bench.options);
}

int FlashCommandsOf(const Reference& r) {
  static std::map<std::string, int> cache;
  auto it = cache.find(r.name);
  if (it != cache.end()) return it->second;
  Scenario s(r);
  if (s.Update() != 1) return -1;
  return cache[r.name] = s.bench.sim().FlashCommands();
}

}  // namespace vok::reliability
