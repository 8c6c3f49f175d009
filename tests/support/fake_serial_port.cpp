#include "support/fake_serial_port.h"

#include <algorithm>

#include "link/frame.h"
#include "link/link_error.h"

namespace vok::test {

Bytes Frame(const Bytes& packet) {
  Bytes out(MaxFrameSize(packet.size()));
  out.resize(EncodeFrame(packet.data(), packet.size(), out.data()));
  return out;
}

std::optional<Bytes> TakeFrame(Bytes& stream) {
  for (size_t start = 0; start + 1 < stream.size(); ++start) {
    if (stream[start] != kDLE || stream[start + 1] != kSTX) continue;
    Bytes packet;
    uint8_t sum = 0;
    size_t i = start + 2;
    auto drop = [&](size_t end) { stream.erase(stream.begin(), stream.begin() + end); };
    while (i < stream.size()) {
      const uint8_t b = stream[i++];
      if (b != kDLE) {
        packet.push_back(b);
        sum ^= b;
        continue;
      }
      if (i >= stream.size()) return std::nullopt;
      const uint8_t next = stream[i++];
      if (next == kDLE) {
        packet.push_back(kDLE);
        sum ^= kDLE;
        continue;
      }
      if (next != kETX) {
        drop(i);
        return std::nullopt;
      }
      if (i >= stream.size()) return std::nullopt;
      uint8_t received = stream[i++];
      if (received == kDLE) {
        if (i >= stream.size()) return std::nullopt;
        if (stream[i++] != kDLE) {
          drop(i);
          return std::nullopt;
        }
      }
      drop(i);
      if (received != sum) return std::nullopt;
      return packet;
    }
    return std::nullopt;
  }
  return std::nullopt;
}

int FakeSerialPort::OpenPort(const std::string& device) {
  opened.push_back(device);
  if (open_result != 0) return open_result;
  is_open = true;
  baud_ = 9600;
  return 0;
}

int FakeSerialPort::SetPortBaud(uint32_t rate) {
  rate_requests.push_back(rate);
  baud_ = rate;
  if (!is_open || rate == 0 || refused_rates.count(rate) != 0) return kErrPortSetup;
  return 0;
}

int FakeSerialPort::WritePort(size_t n, const uint8_t* bytes) {
  if (!is_open) return kErrWrite;
  if (failing_writes > 0) {
    --failing_writes;
    return kErrWrite;
  }
  Bytes written(bytes, bytes + n);
  writes.push_back({now_, baud_, written});
  if (responder) Queue(responder(written, baud_));
  return 0;
}

void FakeSerialPort::Queue(const Bytes& bytes, uint32_t delay_ms) {
  const uint32_t tick = now_ + delay_ms;
  // Keep arrival order: after everything due no later than tick.
  auto pos = std::find_if(input_.begin(), input_.end(),
                          [&](const Arrival& a) { return Until(a.tick) > static_cast<int32_t>(delay_ms); });
  std::vector<Arrival> batch;
  for (uint8_t b : bytes) batch.push_back({tick, b});
  input_.insert(pos, batch.begin(), batch.end());
}

void FakeSerialPort::PurgePortInput() {
  ++purges;
  // Only what has arrived is in the receive queue.
  while (!input_.empty() && Until(input_.front().tick) <= 0) input_.pop_front();
}

void FakeSerialPort::ClosePort() {
  ++closes;
  is_open = false;
}

void FakeSerialPort::BusyWait(uint32_t ms) {
  busy_waits.push_back(ms);
  Advance(ms);
}

void FakeSerialPort::Sleep(uint32_t ms) {
  sleeps.push_back(ms);
  Advance(ms);
}

Bytes FakeSerialPort::Line() const {
  Bytes all;
  for (const Write& w : writes) all.insert(all.end(), w.bytes.begin(), w.bytes.end());
  return all;
}

int FakeSerialPort::ReadAttempt(uint8_t* byte) {
  if (!input_.empty()) {
    const int32_t wait = Until(input_.front().tick);
    if (wait <= static_cast<int32_t>(attempt_ms)) {
      if (wait > 0) now_ = input_.front().tick;
      *byte = input_.front().byte;
      input_.pop_front();
      return 1;
    }
  }
  now_ += attempt_ms;
  return 0;
}

bool FakeSerialPort::ClearPortError() {
  if (failing_clears == 0) return true;
  if (failing_clears > 0) --failing_clears;
  return false;
}

}  // namespace vok::test
