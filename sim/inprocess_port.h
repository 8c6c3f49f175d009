#pragma once

// The host's serial port wired straight to a Simulator in the same process,
// on a virtual clock: the real LoaderLink runs the true protocol with all its
// time-outs, and a silent 38 s erase costs no real time.
//
// Time: TickCount is the virtual clock (started 1 s before the 32-bit wrap,
// so time-outs measured on it cross the wrap). An empty read attempt advances it by
// 110 ms, BusyWait and Sleep by their duration; a reply byte becomes readable
// when the clock reaches the time the simulator gave it (at once, unless the
// simulator runs with realtime durations).
//
// Device names: any name opens, except a name containing "missing"
// (kErrPortOpen, as a device that does not exist or is held) and one
// containing "notatty" (kErrPortSetup, as a device that refuses serial
// settings). A rate of 0 is refused.

#include <cstdint>
#include <string>

#include "link/serial_port.h"
#include "sim/simulator.h"

namespace vok::sim {

class InProcessPort : public vok::SerialPort {
 public:
  static constexpr uint32_t kStartTick = 0xFFFFFFFFu - 999;

  explicit InProcessPort(Simulator& sim);

  int OpenPort(const std::string& device) override;
  int SetPortBaud(uint32_t rate) override;
  int WritePort(size_t n, const uint8_t* bytes) override;
  void PurgePortInput() override;
  void ClosePort() override;
  void BusyWait(uint32_t ms) override;
  void Sleep(uint32_t ms) override;
  uint32_t TickCount() override;

  Simulator& simulator() { return sim_; }
  bool IsOpen() const { return open_; }
  const std::string& device() const { return device_; }
  // Virtual time since the port was made.
  uint64_t NowNs() const { return now_ns_; }
  void Advance(uint64_t ns) { now_ns_ += ns; }

 protected:
  int ReadAttempt(uint8_t* byte) override;
  bool ClearPortError() override { return true; }

 private:
  Simulator& sim_;
  bool open_ = false;
  std::string device_;
  uint64_t now_ns_ = 0;
};

}  // namespace vok::sim
