#pragma once

// The line from the simulator to the host: the reply bytes queued with the
// time at which each has crossed the line, paced one after another, and the
// noise that may lose or flip a byte on the way. A reply enters whole, so
// whatever holds replies back belongs in StartAt, which the trace's time of
// the reply comes from too.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <vector>

namespace vok::sim {

// --noise on both directions, from one seeded engine: one seed, one run.
class LineNoise {
 public:
  enum class Hit { kNone, kLost, kFlipped };

  LineNoise(double probability, uint64_t seed) : probability_(probability), rng_(seed) {}
  // Whether the byte is hit; a flipped one has one bit changed in b.
  Hit Apply(uint8_t& b);

 private:
  double probability_;
  std::mt19937_64 rng_;
};

class ReplyLine {
 public:
  // latency_ns: a USB adapter's latency timer; a reply shorter than one of
  // its packets reaches the host only that long after it began (0: none).
  ReplyLine(LineNoise& noise, uint64_t latency_ns) : noise_(noise), latency_ns_(latency_ns) {}

  // Queues a reply sent at at_ns: its bytes leave one after another, byte_ns
  // apart (0: at once), none before the line is free. Returns how many of
  // them the noise hit.
  size_t Send(const uint8_t* bytes, size_t n, uint64_t at_ns, uint64_t byte_ns);
  // When a reply sent at at_ns starts to leave: once the line is free.
  uint64_t StartAt(uint64_t at_ns) const;

  std::optional<uint64_t> NextDue() const;
  std::optional<uint64_t> LastDue() const;
  bool TakeByte(uint64_t until_ns, uint8_t& byte);
  size_t TakeBytes(uint64_t until_ns, std::vector<uint8_t>& out);
  void Discard(uint64_t until_ns);
  // Everything queued is gone (the power is cut).
  void Clear() { queue_.clear(); }

 private:
  struct OutByte {
    uint8_t value;
    uint64_t due_ns;
  };

  // An adapter's packet, less its two status bytes.
  static constexpr size_t kAdapterPacket = 62;

  LineNoise& noise_;
  uint64_t latency_ns_;
  std::deque<OutByte> queue_;
  uint64_t free_ns_ = 0;
};

}  // namespace vok::sim
