#pragma once

// A bench for the update and backup procedures: application folder with its
// work folders, a simulated controller behind the real loader link on
// virtual time, and the recording user interface.

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/settings.h"
#include "link/loader_link.h"
#include "sim/inprocess_port.h"
#include "sim/simulator.h"
#include "support/files.h"
#include "support/recorders.h"
#include "support/temp_dir.h"
#include "update/update_procedure.h"

namespace vok::test {

// The in-process port that, once a written packet matches the trigger,
// passes nothing more to the controller: the target falls silent mid-run.
class MutingPort : public vok::sim::InProcessPort {
 public:
  // (command code, address) of a request packet -> mute from here on.
  using Trigger = std::function<bool(uint8_t command, uint32_t address)>;
  MutingPort(vok::sim::Simulator& sim, Trigger trigger)
      : InProcessPort(sim), trigger_(std::move(trigger)) {}
  int WritePort(size_t n, const uint8_t* bytes) override;
  bool muted() const { return muted_; }

 private:
  Trigger trigger_;
  bool muted_ = false;
};

inline constexpr uint8_t kReadCommand = 2;
inline constexpr uint8_t kProgramCommand = 3;

struct Record {
  uint32_t address;
  std::vector<uint8_t> data;
};

// An S-record file: the header as S0 records, then S2 data records of at
// most 32 bytes, then S8.
void WriteUpdateFile(const std::string& path, const std::string& header,
                     const std::vector<Record>& records);
// Bytes 0x00..0xFE in a run that starts at seed; never 0xFF throughout.
std::vector<uint8_t> Pattern(size_t n, uint8_t seed);
#ifndef _WIN32
// While it lives, writes past the given size fail (EFBIG) in this process,
// whoever runs it. POSIX only.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(uint64_t bytes);
  ~FileSizeLimit();
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  uint64_t previous_ = 0;
  void (*previous_handler_)(int) = nullptr;
};
#endif

// 5 January 2000, 10:20:30.
std::tm FixedTime();

// A command file made by hand, byte by byte.
struct CommandBytes {
  std::vector<uint8_t> bytes;
  CommandBytes& U32(uint32_t v);
  CommandBytes& U16(uint16_t v);
  CommandBytes& Sector(uint32_t start) { return U32(start); }
  CommandBytes& End() { return U32(0); }
  CommandBytes& Record(uint32_t address, const std::vector<uint8_t>& data);
};

// Command files that must not be carried out, with the reason the refusal
// names: damaged ones and foreign ones (erasing or programming outside the
// flash table and RAM).
struct RefusedCommandFile {
  std::string what;
  std::vector<uint8_t> bytes;
  std::string reason;
};
const std::vector<RefusedCommandFile>& RefusedCommandFiles();

class ProcedureBench {
 public:
  explicit ProcedureBench(vok::sim::Options options = DefaultOptions(),
                          MutingPort::Trigger mute = nullptr);

  static vok::sim::Options DefaultOptions();

  // A fresh controller on the same application folder (a restart after a
  // power cut: the state file carries the memory over).
  void Restart(vok::sim::Options options, MutingPort::Trigger mute = nullptr);

  UpdateContext Update() { return {link(), paths, ui, log, progress, description}; }

  vok::sim::Simulator& sim() { return *sim_; }
  LoaderLink& link() { return *link_; }
  std::string UpdateFile(const std::string& name) const { return dir.file(name); }

  TempDir dir;
  AppPaths paths;
  ScriptedUi ui;
  RecordingLog log;
  RecordingProgress progress;
  UpdateDescription description;
  UpdateFields fields;
  UpdateOptions options;
  MutingPort* port = nullptr;  // owned by the link

 private:
  std::unique_ptr<vok::sim::Simulator> sim_;
  std::unique_ptr<LoaderLink> link_;
};

}  // namespace vok::test
