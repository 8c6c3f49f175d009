#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "link/link_error.h"
#include "link/serial_port.h"

namespace vok {

// Which device stands behind a port name ("COM1" -> "/dev/ttyUSB0").
// Names the table does not hold follow the platform's default (on POSIX
// COMn -> /dev/ttyS(n-1)). The application fills it from its settings;
// the link itself never reads a file.
using PortTable = std::map<std::string, std::string>;

// How long the loader's replies take beyond their time on the line, over the
// first short exchanges of a connection: the loader answers such a request
// within a millisecond, so what is more is held on the way, as a USB
// adapter holds a short reply for its latency timer.
struct ReplyTurnaround {
  static constexpr int kSamples = 8;
  int samples = 0;       // short exchanges measured, at most kSamples
  uint32_t held_ms = 0;  // their median: one erase or a retry does not count
};

// The one connection of the process to the target loader: the port, the
// header flags, the sequence counter and the shared packet buffers.
// Owned by the program and handed down by reference.
class LoaderLink {
 public:
  static constexpr int kBufferSize = 1500;
  static constexpr uint32_t kMaxPayload = 1498;

  explicit LoaderLink(std::unique_ptr<SerialPort> port = CreatePlatformSerialPort());
  LoaderLink(const LoaderLink&) = delete;
  LoaderLink& operator=(const LoaderLink&) = delete;
  ~LoaderLink();

  void SetPortTable(PortTable table) { ports_ = std::move(table); }
  const PortTable& GetPortTable() const { return ports_; }
  // The device a port name stands for; empty when it names none.
  std::string DeviceFor(const std::string& name) const;

  int OpenLink(const std::string& name, uint32_t rate);
  // The first probe of a connection alone, to find where a loader listens:
  // opens the device, sends the probe at rate, then at the fallback rates,
  // until one is answered, and closes it again. Nothing else is sent.
  // 0 when the loader answered; a negative LinkError otherwise.
  int ProbeLoader(const std::string& name, uint32_t rate);
  int OpenLinkOnPort(int index, uint32_t rate);
  int OpenLinkPlain(int index, uint32_t rate);
  void CloseLink();

  int ExchangePacket(uint32_t n, const uint8_t* payload, int capacity, uint8_t* reply,
                     uint32_t extra_timeout_ms);
  int ExchangeText(uint32_t n, const uint8_t* payload, int capacity, uint8_t* buffer);

  bool IsOpen() const { return open_ != 0; }
  SerialPort& Port() { return *port_; }
  const SerialPort& Port() const { return *port_; }
  uint8_t SequenceCounter() const { return sequence_; }

  // The figures of the connection open now, or of the last one.
  const ReplyTurnaround& Turnaround() const { return turnaround_; }
  // Called once per connection with the figures: when the last sample is in,
  // or at closing with those there are.
  void OnTurnaroundMeasured(std::function<void(const ReplyTurnaround&)> observer) {
    turnaround_observer_ = std::move(observer);
  }

  // The command layer's request and reply buffers, one pair per process.
  uint8_t* RequestBuffer() { return request_; }
  uint8_t* ReplyBuffer() { return reply_; }

 private:
  int Negotiate(uint32_t rate);
  int OpenDevice(const std::string& name);
  void StartConnection();
  void NoteTurnaround(uint32_t elapsed_ms, uint32_t request_bytes, uint32_t reply_bytes);
  void TellTurnaround();

  std::unique_ptr<SerialPort> port_;
  PortTable ports_;
  int open_ = 0;
  uint8_t header_flags_ = 0;
  uint8_t sequence_ = 0;
  ReplyTurnaround turnaround_;
  uint32_t turnaround_ms_[ReplyTurnaround::kSamples] = {};
  bool turnaround_told_ = false;
  std::function<void(const ReplyTurnaround&)> turnaround_observer_;
  uint8_t transmit_[kBufferSize] = {};
  uint8_t receive_[kBufferSize] = {};
  uint8_t request_[kBufferSize] = {};
  uint8_t reply_[kBufferSize] = {};
};

}  // namespace vok
