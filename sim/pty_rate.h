#pragma once

#include <cstdint>

namespace vok::sim {

// The output rate that the host has set on the slave side of a
// pseudo-terminal, read on the master (TCGETS2, so any rate shows, not only
// the standard ones). 0 when it cannot be read.
uint32_t PtyHostRate(int master_fd);

}  // namespace vok::sim
