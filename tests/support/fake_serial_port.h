#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "link/serial_port.h"

namespace vok::test {

using Bytes = std::vector<uint8_t>;

// The line bytes of a packet's frame.
Bytes Frame(const Bytes& packet);

// Takes the first whole frame off the front of a received stream (noise
// before it included) and gives its packet; nullopt while no whole frame
// is there. A frame with a bad escape or checksum is dropped and nullopt
// returned.
std::optional<Bytes> TakeFrame(Bytes& stream);

// A scripted serial port on virtual time.
//
// The tick counter starts just below the 32-bit wrap, so every time-out
// measured on it crosses the wrap. An empty read attempt costs 110 ms,
// BusyWait and Sleep advance the clock, writes and bytes that are already
// there cost nothing. Every write is recorded with its time and the rate
// set at that moment, and handed to the responder, whose answer arrives at
// once; Queue schedules input at any later time.
class FakeSerialPort : public SerialPort {
 public:
  static constexpr uint32_t kStartTick = 0xFFFFFFFFu - 99;  // 100 ms before the wrap

  struct Write {
    uint32_t tick;
    uint32_t rate;
    Bytes bytes;
  };
  using Responder = std::function<Bytes(const Bytes& written, uint32_t rate)>;

  int OpenPort(const std::string& device) override;
  int SetPortBaud(uint32_t rate) override;
  int WritePort(size_t n, const uint8_t* bytes) override;
  void PurgePortInput() override;
  void ClosePort() override;
  void BusyWait(uint32_t ms) override;
  void Sleep(uint32_t ms) override;
  uint32_t TickCount() override { return now_; }

  // Script.
  Responder responder;
  int open_result = 0;                // what OpenPort answers (0 opens)
  std::set<uint32_t> refused_rates;   // SetPortBaud gives -1001 for these (and for 0)
  int failing_writes = 0;             // the next N writes give -1007 and send nothing
  int failing_clears = 0;             // the next N error clears fail (-1: all of them)
  // Length of an empty read attempt. 1 ms measures a time-out to the
  // millisecond: a silent ReadPortByte(T) then takes exactly T + 2 ms.
  // 0 makes reads fail at once; pair it with failing_clears, or a read
  // waits forever on a clock that never moves.
  uint32_t attempt_ms = kAttemptMs;
  // Bytes that arrive delay_ms from now.
  void Queue(const Bytes& bytes, uint32_t delay_ms = 0);
  void Advance(uint32_t ms) { now_ += ms; }

  // Record.
  std::vector<Write> writes;          // successful writes only
  std::vector<std::string> opened;    // every device OpenPort was asked for
  std::vector<uint32_t> rate_requests;
  std::vector<uint32_t> busy_waits;
  std::vector<uint32_t> sleeps;
  int purges = 0;
  int closes = 0;
  bool is_open = false;

  uint32_t Now() const { return now_; }
  size_t Pending() const { return input_.size(); }
  // Concatenation of every write.
  Bytes Line() const;

 protected:
  int ReadAttempt(uint8_t* byte) override;
  bool ClearPortError() override;

 private:
  struct Arrival {
    uint32_t tick;
    uint8_t byte;
  };
  // Signed distance from now, so arrival times survive the wrap.
  int32_t Until(uint32_t tick) const { return static_cast<int32_t>(tick - now_); }

  std::deque<Arrival> input_;  // in order of arrival
  uint32_t now_ = kStartTick;
};

}  // namespace vok::test
