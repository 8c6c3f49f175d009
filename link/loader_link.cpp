#include "link/loader_link.h"

#include <cstring>
#include <string>

#include "link/byte_order.h"
#include "link/frame.h"

namespace vok {

namespace {

// Negotiation packets go out before the link counts as open, with a header
// of flags 0 and sequence 0.
constexpr uint8_t kProbe[3] = {0x00, 0x01, 0x01};
constexpr size_t kProbeReply = 3;
constexpr size_t kRateReply = 7;
constexpr uint32_t kNegotiationTimeoutMs = 200;
constexpr uint32_t kFallbackRates[] = {9600, 38400};
constexpr uint32_t kRateSettleMs = 500;
constexpr uint32_t kTextPauseMs = 2000;
constexpr uint32_t kTextByteTimeoutMs = 100;
constexpr int kAttempts = 3;
// Packets this short, each way, are timed: their line time is small beside
// an adapter's hold, and a line time misjudged (a pty that does not pace)
// cannot hide it.
constexpr uint32_t kTimedPacket = 64;
// DLE STX, DLE ETX and the checksum around a packet.
constexpr uint32_t kFrameOverhead = 5;

// Sets the rate, sends the probe and waits for its 3-byte answer.
bool ProbeAt(SerialPort& port, uint32_t rate, uint8_t* receive) {
  if (port.SetPortBaud(rate) != 0) return false;
  if (SendFrame(port, sizeof kProbe, kProbe) != 0) return false;
  return ReceiveFrame(port, LoaderLink::kBufferSize, receive, kNegotiationTimeoutMs) ==
         static_cast<int>(kProbeReply);
}

// Header and payload of a request. The sequence number on the line is the
// counter's two low bits.
void BuildRequest(uint8_t* out, uint32_t n, const uint8_t* payload, uint8_t sequence,
                  uint8_t flags) {
  out[0] = static_cast<uint8_t>((n >> 8) | (static_cast<uint32_t>(sequence) << 6) | flags);
  out[1] = static_cast<uint8_t>(n);
  if (n > 0) std::memcpy(out + 2, payload, n);
}

// "COMn" with a decimal n >= 1 (no sign, no leading zero); 0 otherwise.
unsigned ComNumber(const std::string& name) {
  if (name.size() < 4 || name.size() > 12 || name.compare(0, 3, "COM") != 0) return 0;
  if (name[3] == '0') return 0;
  unsigned n = 0;
  for (size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    n = n * 10 + static_cast<unsigned>(name[i] - '0');
    if (n > 100000) return 0;
  }
  return n;
}

}  // namespace

LoaderLink::LoaderLink(std::unique_ptr<SerialPort> port) : port_(std::move(port)) {}

LoaderLink::~LoaderLink() {
  // Whoever listens may be gone by now.
  turnaround_observer_ = nullptr;
  CloseLink();
}

std::string LoaderLink::DeviceFor(const std::string& name) const {
  if (name.find('/') != std::string::npos) return name;
  if (auto it = ports_.find(name); it != ports_.end()) return it->second;
  const unsigned n = ComNumber(name);
  if (n == 0) return {};
  return SystemComDevice(n);
}

int LoaderLink::OpenDevice(const std::string& name) {
  const std::string device = DeviceFor(name);
  if (device.empty()) return kErrPortOpen;
  return port_->OpenPort(device);
}

int LoaderLink::Negotiate(uint32_t rate) {
  // The loader may already listen at the rate asked for.
  if (ProbeAt(*port_, rate, receive_)) return 0;

  bool answered = false;
  for (uint32_t fallback : kFallbackRates) {
    if (ProbeAt(*port_, fallback, receive_)) {
      answered = true;
      break;
    }
  }
  if (!answered) return kErrNoReply;

  uint8_t rate_packet[7] = {0x00, 0x05, 0x03};
  PutBe32(rate_packet + 3, rate);
  if (SendFrame(*port_, sizeof rate_packet, rate_packet) != 0) return kErrPortSetup;
  if (ReceiveFrame(*port_, kBufferSize, receive_, kNegotiationTimeoutMs) !=
      static_cast<int>(kRateReply)) {
    return kErrPortSetup;
  }

  // The loader switches after its answer has gone out.
  port_->BusyWait(kRateSettleMs);

  const uint32_t agreed = Be32(receive_ + 3);
  return ProbeAt(*port_, agreed, receive_) ? 0 : kErrPortSetup;
}

int LoaderLink::OpenLink(const std::string& name, uint32_t rate) {
  const int opened = OpenDevice(name);
  if (opened != 0) return opened;
  const int negotiated = Negotiate(rate);
  if (negotiated != 0) {
    port_->ClosePort();
    return negotiated;
  }
  StartConnection();
  return 0;
}

void LoaderLink::StartConnection() {
  open_ = 1;
  sequence_ = 0;
  header_flags_ = 8;
  turnaround_ = ReplyTurnaround{};
  turnaround_told_ = false;
}

void LoaderLink::NoteTurnaround(uint32_t elapsed_ms, uint32_t request_bytes, uint32_t reply_bytes) {
  // From the request handed to the port to the reply's last byte: both
  // frames' line time at 10 bits a byte is not held time.
  const uint64_t rate = port_->Baud() != 0 ? port_->Baud() : 1;
  const uint64_t line_ms =
      (static_cast<uint64_t>(request_bytes + reply_bytes + 2 * kFrameOverhead) * 10000u) / rate;
  const uint32_t held = elapsed_ms > line_ms ? static_cast<uint32_t>(elapsed_ms - line_ms) : 0;
  // Kept in order as they come, for the median.
  int i = turnaround_.samples++;
  for (; i > 0 && turnaround_ms_[i - 1] > held; --i) turnaround_ms_[i] = turnaround_ms_[i - 1];
  turnaround_ms_[i] = held;
  turnaround_.held_ms = turnaround_ms_[(turnaround_.samples - 1) / 2];
  if (turnaround_.samples == ReplyTurnaround::kSamples) TellTurnaround();
}

void LoaderLink::TellTurnaround() {
  if (turnaround_told_ || turnaround_.samples == 0) return;
  turnaround_told_ = true;
  if (turnaround_observer_) turnaround_observer_(turnaround_);
}

int LoaderLink::ProbeLoader(const std::string& name, uint32_t rate) {
  if (open_) return kErrPortOpen;
  const int opened = OpenDevice(name);
  if (opened != 0) return opened;
  bool answered = ProbeAt(*port_, rate, receive_);
  for (uint32_t fallback : kFallbackRates) {
    if (!answered && fallback != rate) answered = ProbeAt(*port_, fallback, receive_);
  }
  port_->ClosePort();
  return answered ? 0 : kErrNoReply;
}

int LoaderLink::OpenLinkOnPort(int index, uint32_t rate) {
  // One character after "COM": indices past 8 give names such as "COM:",
  // which name no device.
  std::string name = "COM";
  name += static_cast<char>('1' + index);
  return OpenLink(name, rate);
}

int LoaderLink::OpenLinkPlain(int index, uint32_t rate) {
  const int opened = OpenDevice("COM" + std::to_string(static_cast<long long>(index) + 1));
  if (opened != 0) return opened;
  if (port_->SetPortBaud(rate) != 0) {
    port_->ClosePort();
    return kErrPortSetup;
  }
  StartConnection();
  return 0;
}

void LoaderLink::CloseLink() {
  if (!open_) return;
  port_->ClosePort();
  open_ = 0;
  TellTurnaround();
}

int LoaderLink::ExchangePacket(uint32_t n, const uint8_t* payload, int capacity, uint8_t* reply,
                               uint32_t extra_timeout_ms) {
  if (!open_) return kErrNotOpen;
  if (n > kMaxPayload) return kErrRequestTooLong;

  BuildRequest(transmit_, n, payload, sequence_++, header_flags_);

  // Line time of the request and of a full 1500-byte reply at 10 bits per
  // byte, plus what the command needs, plus a margin. An open link always
  // has a rate; the guard only keeps the division defined.
  const uint32_t rate = port_->Baud() != 0 ? port_->Baud() : 1;
  const uint32_t timeout = ((n + 2) * 10000u + 15000000u) / rate + extra_timeout_ms + 200u;

  // Two readings of the tick count, and only while the connection's first
  // short exchanges are measured.
  const bool timed = turnaround_.samples < ReplyTurnaround::kSamples && n + 2 <= kTimedPacket;
  int length = -1;
  for (int attempt = 0; attempt < kAttempts && length < 0; ++attempt) {
    port_->PurgePortInput();
    if (SendFrame(*port_, n + 2, transmit_) != 0) continue;
    const uint32_t sent = timed ? port_->TickCount() : 0;
    const int got = ReceiveFrame(*port_, kBufferSize, receive_, timeout);
    if (got < 2) continue;
    const int announced = (receive_[0] & 0x07) << 8 | receive_[1];
    if (got - 2 != announced) continue;
    length = announced;
    if (timed && static_cast<uint32_t>(got) <= kTimedPacket)
      NoteTurnaround(port_->TickCount() - sent, n + 2, static_cast<uint32_t>(got));
  }
  if (length < 0) return kErrNoReply;
  if (length > capacity) return kErrReplyTooLong;
  if (length > 0) std::memcpy(reply, receive_ + 2, static_cast<size_t>(length));
  return length;
}

int LoaderLink::ExchangeText(uint32_t n, const uint8_t* payload, int capacity, uint8_t* buffer) {
  if (!open_) return kErrNotOpen;
  if (n > kMaxPayload) return kErrRequestTooLong;

  BuildRequest(transmit_, n, payload, sequence_++, header_flags_);

  port_->PurgePortInput();
  const int sent = SendFrame(*port_, n + 2, transmit_);
  if (sent != 0) return sent;

  // The answer is plain text; it waits in the receive queue meanwhile.
  port_->Sleep(kTextPauseMs);
  if (capacity <= 0) return 0;

  int count = 0;
  while (count < capacity) {
    const int r = port_->ReadPortByte(&buffer[count], kTextByteTimeoutMs);
    if (r == kErrTimeout) break;
    if (r < 0) return r;
    ++count;
  }
  return count;
}

}  // namespace vok
