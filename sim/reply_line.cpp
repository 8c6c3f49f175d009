#include "sim/reply_line.h"

#include <algorithm>

namespace vok::sim {

LineNoise::Hit LineNoise::Apply(uint8_t& b) {
  if (probability_ <= 0.0) return Hit::kNone;
  const uint64_t r = rng_();
  // 2^64 * p, compared with the raw engine output: the same for a seed on
  // every platform, unlike the standard distributions.
  if (probability_ < 1.0 && r >= static_cast<uint64_t>(probability_ * 18446744073709551616.0))
    return Hit::kNone;
  if (rng_() & 1) return Hit::kLost;
  b = static_cast<uint8_t>(b ^ (1u << (rng_() & 7)));
  return Hit::kFlipped;
}

uint64_t ReplyLine::StartAt(uint64_t at_ns) const { return std::max(at_ns, free_ns_); }

size_t ReplyLine::Send(const uint8_t* bytes, size_t n, uint64_t at_ns, uint64_t byte_ns) {
  size_t hits = 0;
  uint64_t t = StartAt(at_ns);
  // The adapter passes a short reply on only when its timer runs out.
  const uint64_t held_until = n < kAdapterPacket && latency_ns_ != 0 ? t + latency_ns_ : 0;
  for (size_t i = 0; i < n; ++i) {
    t += byte_ns;
    uint8_t b = bytes[i];
    const LineNoise::Hit hit = noise_.Apply(b);
    if (hit != LineNoise::Hit::kNone) ++hits;
    if (hit == LineNoise::Hit::kLost) continue;
    queue_.push_back({b, std::max(t, held_until)});
  }
  // Later bytes never overtake held ones.
  free_ns_ = std::max(t, held_until);
  return hits;
}

std::optional<uint64_t> ReplyLine::NextDue() const {
  if (queue_.empty()) return std::nullopt;
  return queue_.front().due_ns;
}

std::optional<uint64_t> ReplyLine::LastDue() const {
  if (queue_.empty()) return std::nullopt;
  return queue_.back().due_ns;
}

bool ReplyLine::TakeByte(uint64_t until_ns, uint8_t& byte) {
  if (queue_.empty() || queue_.front().due_ns > until_ns) return false;
  byte = queue_.front().value;
  queue_.pop_front();
  return true;
}

size_t ReplyLine::TakeBytes(uint64_t until_ns, std::vector<uint8_t>& out) {
  size_t k = 0;
  while (!queue_.empty() && queue_.front().due_ns <= until_ns) {
    out.push_back(queue_.front().value);
    queue_.pop_front();
    ++k;
  }
  return k;
}

void ReplyLine::Discard(uint64_t until_ns) {
  while (!queue_.empty() && queue_.front().due_ns <= until_ns) queue_.pop_front();
}

}  // namespace vok::sim
