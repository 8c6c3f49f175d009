#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/report.h"
#include "link/loader_link.h"

// What a USB adapter's hold of short replies costs, said once per run.
namespace vok::cli {

// Replies held this long or longer are worth a word.
inline constexpr uint32_t kHeldReplyNoteMs = 8;

// The lines that say what replies held held_ms cost at rate and how to lower
// it on this system; the first is the warning. device is the port's device.
std::vector<std::string> HeldReplyLines(uint32_t held_ms, uint32_t rate, const std::string& device);

// How to lower the adapter's latency timer for device (per OS).
std::vector<std::string> LatencyTimerHint(const std::string& device);

// Has the link tell the report once in this run, after the first connection
// whose replies are held kHeldReplyNoteMs or more.
void WatchHeldReplies(LoaderLink& link, Report& report, std::string device);

}  // namespace vok::cli
