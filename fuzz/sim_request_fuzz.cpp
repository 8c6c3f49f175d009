// The simulator's request decoder (Simulator::HostBytes) on any input. The
// input is a list of chunks, each sent either raw or framed as a packet, at
// the rate the simulator listens at or at another; reply bytes are taken
// off as they come. The memory must stay the size of RAM and flash and the
// loader's own flash unchanged.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "link/frame.h"
#include "sim/simulator.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vok::sim::Options o;
  o.demo_firmware = false;  // erased flash: any write to the loader's part shows
  if (size > 0 && (data[0] & 1)) o.app = true;  // the application's text commands too
  vok::sim::Simulator sim(o);
  uint64_t now = 0;
  std::vector<uint8_t> out;
  std::vector<uint8_t> frame;
  size_t at = size > 0 ? 1 : 0;
  while (at < size) {
    // Chunk header: bit 7 framed, bit 6 wrong rate, bits 0-5 length (0: 64).
    const uint8_t h = data[at++];
    size_t n = h & 0x3F;
    if (n == 0) n = 64;
    if (n > size - at) n = size - at;
    const uint32_t rate = (h & 0x40) ? 115200 : sim.ListeningRate();
    if (h & 0x80) {
      frame.resize(vok::MaxFrameSize(n));
      const size_t len = vok::EncodeFrame(data + at, n, frame.data());
      sim.HostBytes(frame.data(), len, rate, now);
    } else {
      sim.HostBytes(data + at, n, rate, now);
    }
    at += n;
    now += 2'000'000'000ull;  // 2 s: every reply has gone out
    out.clear();
    sim.TakeReplyBytes(now, out);
  }
  const auto loader = sim.ReadMemory(vok::sim::kFlashStart, vok::sim::kLoaderEnd - vok::sim::kFlashStart + 1);
  if (loader != std::vector<uint8_t>(loader.size(), 0xFF)) std::abort();
  return 0;
}
