// LoadUpdateFile on any file, into a fresh memory image. What it reports as
// loaded must be in the image: every update range lies inside it.

#include <cstddef>
#include <cstdint>

#include "fuzz/update_load.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vok::fuzz::LoadAndCheck(data, size);
  return 0;
}
