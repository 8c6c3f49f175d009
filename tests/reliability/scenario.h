#pragma once

// The reference updates of the reliability suite and the runs they go
// through: the real update procedure on the in-process controller (virtual
// time), the controller restarted from its saved state after every power
// cut, as the real one comes back with what its flash held.

#include <cstdint>
#include <string>
#include <vector>

#include "sim/simulator.h"
#include "update/procedure_bench.h"

// Each sweep is built twice: its short version for the normal suite and,
// with VOK_RELIABILITY_LONG=1, the full sweep under the label long. The two
// builds need test names of their own in CTest.
#ifndef VOK_RELIABILITY_LONG
#define VOK_RELIABILITY_LONG 0
#endif
#if VOK_RELIABILITY_LONG
#define VOK_SUITE ReliabilityLong
#else
#define VOK_SUITE Reliability
#endif

namespace vok::reliability {

struct Memory {
  std::vector<uint8_t> ram, flash;
  bool operator==(const Memory&) const = default;
};
Memory Snapshot(const sim::Simulator& s);

struct Reference {
  std::string name;
  std::vector<test::Record> records;
};
// One sector; a range across the boundary of sectors 1 and 2; 496 KiB of
// flash with holes, and some RAM.
const std::vector<Reference>& References();

// What the controller holds before every run: patterns everywhere, the
// loader's own flash included, and erased stretches in the sectors.
void PrepareOldMemory(sim::Simulator& s);
// The old memory with the update's data laid over it.
const Memory& Expected(const Reference& r);

// The update a technician runs instead of resuming r: sectors 1 and 3 in
// part, so it touches some of r's sectors and not others.
const std::vector<test::Record>& SecondUpdate();
// r's data, then the second update's, laid over the old memory: what
// abandoning an interrupted r for the second update must give.
const Memory& ExpectedAfterSecond(const Reference& r);

// One controller and application folder for a sequence of runs of one
// update. The state file lives in memory where the system has a tmpfs.
class Scenario {
 public:
  explicit Scenario(const Reference& r);
  ~Scenario();
  Scenario(const Scenario&) = delete;
  Scenario& operator=(const Scenario&) = delete;

  // Options of the next power-on; state file and seed already set.
  sim::Options Power() const;
  // Power on with these options (memory from the state file).
  void PowerOn(const sim::Options& o);
  // "Update": a fresh run when no update is pending, otherwise Retry. The
  // procedure's result.
  int Update(ProgramCheck check = ProgramCheck::kChecksum);
  // "Update" with the second update's file, answering Cancel to the
  // question about the interrupted one. The procedure's result.
  int UpdateInstead();
  bool Pending() const;
  Memory Now() { return Snapshot(bench.sim()); }
  const Reference& reference() const { return reference_; }

  test::ProcedureBench bench;

 private:
  const Reference& reference_;
  std::string state_;
  std::string update_file_;
  std::string second_file_;
};

// Flash commands of an uninterrupted update (the number of cut points).
int FlashCommandsOf(const Reference& r);

}  // namespace vok::reliability
