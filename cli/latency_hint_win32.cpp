#include <string>
#include <vector>

#include "cli/reply_latency.h"

namespace vok::cli {

std::vector<std::string> LatencyTimerHint(const std::string&) {
  return {"To hold them 1 ms: Device Manager, Ports (COM & LPT), the adapter's Properties, "
          "Port Settings, Advanced..., Latency Timer (msec): 1."};
}

}  // namespace vok::cli
