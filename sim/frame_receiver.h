#pragma once

// The loader's frame receiver: DLE STX, the packet with every DLE doubled,
// DLE ETX, the XOR of the packet's bytes (doubled when it is DLE). It keeps
// the frame's bytes as they came for the trace.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vok::sim {

class FrameReceiver {
 public:
  enum class Event {
    kNone,         // in the middle of a frame, or hunting for one
    kPacket,       // a frame whose checksum matches: Packet() holds it
    kBroken,       // a frame cut short by a mark that does not belong
    kBadChecksum,  // a whole frame whose checksum does not match
    kTooLong,      // a whole frame longer than the receive buffer
  };

  Event Push(uint8_t b);
  // Hunts for the next frame's start.
  void Reset() { state_ = State::kHunt; }

  const std::vector<uint8_t>& Packet() const { return packet_; }
  // The last frame's bytes as they came.
  const std::vector<uint8_t>& Line() const { return line_; }

 private:
  enum class State { kHunt, kStart, kBody, kBodyDle, kTrailer, kTrailerDle };

  void Store(uint8_t b);
  void Begin();
  Event Done(uint8_t received_sum);

  State state_ = State::kHunt;
  std::vector<uint8_t> packet_;
  uint8_t sum_ = 0;
  bool overflow_ = false;
  std::vector<uint8_t> line_;
};

}  // namespace vok::sim
