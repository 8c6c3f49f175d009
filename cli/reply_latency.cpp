#include "cli/reply_latency.h"

#include <memory>
#include <utility>

namespace vok::cli {

namespace {

// A program command: 1 KiB of data with its address and the packet header,
// in its frame; the block the update and the backup move most.
constexpr uint64_t kBlockFrameBytes = 1024 + 10;

}  // namespace

std::vector<std::string> HeldReplyLines(uint32_t held_ms, uint32_t rate, const std::string& device) {
  const uint64_t line_us = rate != 0 ? kBlockFrameBytes * 10u * 1000000u / rate : 1;
  const uint64_t percent = (static_cast<uint64_t>(held_ms) * 1000u * 100u + line_us / 2) / line_us;
  std::vector<std::string> lines{
      "Replies arrive " + std::to_string(held_ms) +
      " ms late: the serial adapter holds them (its latency timer). That adds about " +
      std::to_string(percent) + " % to every 1 KiB block at " + std::to_string(rate) + " baud."};
  for (std::string& l : LatencyTimerHint(device)) lines.push_back(std::move(l));
  return lines;
}

void WatchHeldReplies(LoaderLink& link, Report& report, std::string device) {
  auto told = std::make_shared<bool>(false);
  link.OnTurnaroundMeasured([&link, &report, device = std::move(device),
                             told](const ReplyTurnaround& t) {
    if (*told || t.held_ms < kHeldReplyNoteMs) return;
    *told = true;
    const std::vector<std::string> lines = HeldReplyLines(t.held_ms, link.Port().Baud(), device);
    for (size_t i = 0; i < lines.size(); ++i)
      report.Message(lines[i], i == 0 ? Level::kWarning : Level::kInfo);
  });
}

}  // namespace vok::cli
