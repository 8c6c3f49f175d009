#pragma once

#include <cstdint>
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

  // The command layer's request and reply buffers, one pair per process.
  uint8_t* RequestBuffer() { return request_; }
  uint8_t* ReplyBuffer() { return reply_; }

 private:
  int Negotiate(uint32_t rate);
  int OpenDevice(const std::string& name);

  std::unique_ptr<SerialPort> port_;
  PortTable ports_;
  int open_ = 0;
  uint8_t header_flags_ = 0;
  uint8_t sequence_ = 0;
  uint8_t transmit_[kBufferSize] = {};
  uint8_t receive_[kBufferSize] = {};
  uint8_t request_[kBufferSize] = {};
  uint8_t reply_[kBufferSize] = {};
};

}  // namespace vok
