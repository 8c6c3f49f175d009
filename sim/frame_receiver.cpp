#include "sim/frame_receiver.h"

#include "link/frame.h"

namespace vok::sim {
namespace {

constexpr size_t kMaxPacket = 1500;  // the loader's receive buffer

}  // namespace

void FrameReceiver::Store(uint8_t b) {
  line_.push_back(b);
  if (packet_.size() >= kMaxPacket) {
    overflow_ = true;
    return;
  }
  packet_.push_back(b);
  sum_ ^= b;
}

void FrameReceiver::Begin() {
  packet_.clear();
  sum_ = 0;
  overflow_ = false;
  state_ = State::kBody;
}

FrameReceiver::Event FrameReceiver::Done(uint8_t received_sum) {
  state_ = State::kHunt;
  if (overflow_) return Event::kTooLong;
  return received_sum == sum_ ? Event::kPacket : Event::kBadChecksum;
}

FrameReceiver::Event FrameReceiver::Push(uint8_t b) {
  switch (state_) {
    case State::kHunt:
      if (b == kDLE) {
        line_.assign(1, b);
        state_ = State::kStart;
      }
      break;
    case State::kStart:
      if (b == kSTX) {
        line_.push_back(b);
        Begin();
      } else {
        state_ = State::kHunt;
      }
      break;
    case State::kBody:
      if (b == kDLE) {
        line_.push_back(b);
        state_ = State::kBodyDle;
      } else {
        Store(b);
      }
      break;
    case State::kBodyDle:
      if (b == kETX) {
        line_.push_back(b);
        state_ = State::kTrailer;
      } else if (b == kDLE) {
        Store(b);
        state_ = State::kBody;
      } else if (b == kSTX) {
        // A start mark can only begin a frame: the one before was cut short
        // (a lost byte), and this is the host's next attempt.
        line_.assign({kDLE, kSTX});
        Begin();
        return Event::kBroken;
      } else {
        state_ = State::kHunt;
        return Event::kBroken;
      }
      break;
    case State::kTrailer:
      line_.push_back(b);
      if (b == kDLE) {
        state_ = State::kTrailerDle;
      } else {
        return Done(b);
      }
      break;
    case State::kTrailerDle:
      line_.push_back(b);
      if (b == kDLE) return Done(kDLE);
      state_ = State::kHunt;
      return Event::kBroken;
  }
  return Event::kNone;
}

}  // namespace vok::sim
