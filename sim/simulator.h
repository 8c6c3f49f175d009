#pragma once

// The simulated controller as a byte machine. A runner feeds it the bytes the
// host sent, with the rate the host's port had and the time they were
// written, and takes the reply bytes out of its queue, each with the time at
// which it has crossed the line. Everything that decides what the line
// carries lives here: the rate rule, the frame decoder, the loader and the
// application, and every fault. Runners: voksim (a pseudo-terminal) and
// InProcessPort (the host link in the same process, on virtual time).
//
// Not thread-safe: one runner drives one simulator.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "sim/controller.h"

namespace vok::sim {

struct Stats {
  uint64_t bytes_to_host = 0;
  uint64_t bytes_from_host = 0;
  uint64_t flash_busy_ns = 0;     // erase/program time spent with --realtime
  uint64_t frames_from_host = 0;  // well-formed frames at the listening rate
  uint64_t frames_ignored = 0;    // bad checksum, bad header length, unknown packet
  uint64_t bytes_not_understood = 0;  // sent at another rate than the listening one
  uint64_t replies = 0;           // framed replies sent
  uint64_t erases = 0;            // erase commands received
  uint64_t programs = 0;          // program commands received
  uint64_t noise_hits = 0;        // bytes lost or flipped by --noise
  uint64_t reads = 0;             // read commands received
  uint64_t data_replies = 0;      // read replies that carried data (not erased, not refused)
  uint64_t checksums = 0;         // checksum commands received
  uint64_t checksum_bytes = 0;    // their frames and their replies' frames, both ways
};

// The names --checksum takes, in the order of LoaderSum.
const std::vector<std::string>& LoaderSumNames();
// The LoaderSum of that name (case as listed, or lower case); false for none.
bool LoaderSumNamed(const std::string& name, LoaderSum& sum);

// Status bytes of the program and erase replies.
enum Status : uint8_t {
  kOk = 0,
  kFlashRefused = 1,   // a bit would have to go from 0 to 1; or an erase not at a sector start
  kOutOfRange = 2,     // outside RAM and flash, or the loader's own region
  kBadRequest = 3,     // the request's length field disagrees with its data
  kInjected = 4,       // --fail-erase / --fail-program
};

class Simulator {
 public:
  explicit Simulator(Options options);
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Empty when the memory was built as asked; otherwise why it was not
  // (unreadable image or state file, a component that does not fit).
  const std::string& StartError() const { return start_error_; }
  const Options& options() const { return options_; }

  // Memory as tests see it: addresses outside RAM and flash read as 0xFF and
  // ignore writes; writes do not follow the flash rules.
  std::vector<uint8_t> ReadMemory(uint32_t address, size_t n) const;
  void WriteMemory(uint32_t address, const std::vector<uint8_t>& bytes);
  // Writes a 64-byte header stamped with the checksum of the data already
  // in memory. False when the header has no place in flash.
  bool AddComponent(const ComponentSpec& component);
  // Spoils the stored checksum of every component of that name. False when
  // there is none.
  bool SpoilChecksum(const std::string& name);
  // CRC-16/CCITT-FALSE (poly 0x1021, init 0xFFFF), the default algorithm.
  static uint16_t Checksum(const uint8_t* data, size_t n);
  static uint16_t Checksum(LoaderSum algorithm, const uint8_t* data, size_t n);
  // The checksum command's answer for [start, start + length), by
  // --checksum and --checksum-skew; also the component stamps. 0 for a
  // range outside memory.
  uint16_t LoaderChecksum(uint32_t start, uint32_t length) const;
  // Fills memory with the demo firmware (flash erased first).
  void LoadDemoFirmware();
  // Erased flash, zeroed RAM.
  void ClearMemory();

  // Writes RAM and flash to options().state_file (temp file + rename).
  // True when there is no state file or it was written.
  bool SaveState();
  // Reads RAM and flash from a state file. False (memory untouched) when the
  // file is missing or not a state file; error says which.
  bool LoadState(const std::string& path, std::string& error);

  // The host wrote bytes at its port's rate host_rate; now_ns is the time of
  // the write on the runner's clock.
  void HostBytes(const uint8_t* data, size_t n, uint32_t host_rate, uint64_t now_ns);

  // The time at which the next reply byte has crossed the line, if any.
  std::optional<uint64_t> NextReplyDue() const;
  // The time at which the last queued reply byte has crossed the line.
  std::optional<uint64_t> LastReplyDue() const;
  // Takes the next reply byte if it is due by until_ns.
  bool TakeReplyByte(uint64_t until_ns, uint8_t& byte);
  // Appends every reply byte due by until_ns to out; returns their count.
  size_t TakeReplyBytes(uint64_t until_ns, std::vector<uint8_t>& out);
  // Drops the reply bytes due by until_ns (the host purged its input, or
  // closed its port).
  void DiscardReplies(uint64_t until_ns);

  bool PoweredOff() const { return powered_off_; }
  bool InApplication() const { return in_app_; }
  uint32_t ListeningRate() const { return listening_rate_; }
  const Stats& stats() const { return stats_; }
  // Erase and program commands received so far (the count --cut-after and
  // --tear refer to).
  int FlashCommands() const { return flash_commands_; }

  // Nanoseconds one byte takes on the line at this rate (10 bits a byte).
  static uint64_t ByteTimeNs(uint32_t rate);

 private:
  enum class Rx { kHunt, kStart, kBody, kBodyDle, kTrailer, kTrailerDle };
  struct OutByte {
    uint8_t value;
    uint64_t due_ns;
  };

  // Memory cells; nullptr for an absent address or a range that leaves one area.
  uint8_t* Cells(uint32_t address, size_t n);
  const uint8_t* Cells(uint32_t address, size_t n) const;

  void RxByte(uint8_t b, uint64_t at_ns);
  void RxReset() { rx_ = Rx::kHunt; }
  void StoreRx(uint8_t b);
  void FrameDone(uint8_t received_sum, uint64_t at_ns);
  void HandlePacket(const uint8_t* p, size_t n, uint64_t at_ns);
  void HandleNegotiation(const uint8_t* payload, size_t n, uint64_t at_ns);
  void HandleCommand(const uint8_t* payload, size_t n, uint64_t at_ns);
  void HandleApplication(const uint8_t* payload, size_t n, uint64_t at_ns);

  void CmdRead(const uint8_t* payload, size_t n, uint64_t at_ns);
  void CmdProgram(const uint8_t* payload, size_t n, uint64_t at_ns);
  void CmdErase(const uint8_t* payload, size_t n, uint64_t at_ns);
  void CmdChecksum(const uint8_t* payload, size_t n, uint64_t at_ns);
  // Counts an erase or program command; true when it is the one the power
  // cut (or tear) falls on.
  bool CountFlashCommand(bool& tear);
  void PowerCut();

  // Returns the number of frame bytes queued.
  size_t SendPacket(const std::vector<uint8_t>& payload, uint64_t at_ns, const std::string& meaning);
  // Spoils two of the n bytes (n >= 2) so that an XOR over them stays, by
  // kind (a sum-blind damage falls back to the XOR one when no two bytes
  // two apart differ).
  static void Damage(DamageKind kind, uint8_t* data, size_t n);
  void SendRaw(const uint8_t* bytes, size_t n, uint64_t at_ns);
  bool NoiseHits();
  uint8_t NoiseFlip(uint8_t b);
  // Flash work takes time only with --realtime.
  uint64_t Busy(uint64_t ns);

  void Trace(uint64_t at_ns, uint32_t rate, const char* direction, const uint8_t* bytes, size_t n,
             const std::string& meaning);
  std::string Describe(const uint8_t* packet, size_t n) const;
  bool LoadImage(const std::string& path, std::string& error);

  Options options_;
  std::string start_error_;
  std::vector<uint8_t> ram_;
  std::vector<uint8_t> flash_;

  bool in_app_ = false;
  bool powered_off_ = false;
  uint32_t listening_rate_ = 9600;
  int flash_commands_ = 0;
  bool partial_erase_done_ = false;
  int framed_replies_ = 0;
  Stats stats_;

  // Frame decoder.
  Rx rx_ = Rx::kHunt;
  std::vector<uint8_t> rx_packet_;
  uint8_t rx_sum_ = 0;
  bool rx_overflow_ = false;
  std::vector<uint8_t> rx_line_;  // the frame's bytes as they came, for the trace
  uint64_t rx_arrival_ns_ = 0;    // when the last host byte has arrived
  uint64_t out_free_ns_ = 0;      // when the line to the host is free again

  std::deque<OutByte> out_;
  std::mt19937_64 rng_;
  std::ofstream trace_;
};

}  // namespace vok::sim
