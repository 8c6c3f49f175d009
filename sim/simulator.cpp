// The facade the runners drive: the controller's start, the host's bytes
// into the frame receiver, the framed replies onto the reply line.

#include "sim/simulator.h"

#include <algorithm>
#include <filesystem>

#include "link/frame.h"

namespace vok::sim {

Simulator::Simulator(Options options)
    : options_(std::move(options)),
      ram_(kRamSize, 0x00),
      flash_(kFlashSize, 0xFF),
      noise_(options_.noise, options_.seed),
      line_(noise_, uint64_t{options_.latency_ms} * 1000000) {
  in_app_ = options_.app;
  listening_rate_ = in_app_ ? 9600 : options_.boot_rate;

  if (!options_.trace_file.empty()) {
    if (!trace_.Open(options_.trace_file)) start_error_ = options_.trace_file + ": cannot be written";
  }

  bool from_state = false;
  if (!options_.state_file.empty() && std::filesystem::exists(options_.state_file)) {
    std::string error;
    if (LoadState(options_.state_file, error)) {
      from_state = true;
    } else if (start_error_.empty()) {
      start_error_ = error;
    }
  }
  // An existing state file is the whole memory: the options that build
  // memory describe the controller's first start only.
  if (!from_state) {
    if (!options_.image_file.empty()) {
      ClearMemory();
      std::string error;
      if (!LoadImage(options_.image_file, error) && start_error_.empty()) start_error_ = error;
    } else if (options_.demo_firmware) {
      LoadDemoFirmware();
    } else {
      ClearMemory();
    }
    for (const ComponentLayout& c : options_.components) {
      if (!AddComponent(c) && start_error_.empty()) {
        start_error_ = "component \"" + c.name + "\": its header has no place in flash, or its data lie "
                       "outside RAM and flash";
      }
    }
    for (const std::string& name : options_.bad_checksum) {
      if (!SpoilChecksum(name) && start_error_.empty()) {
        start_error_ = "--bad-checksum: no component named \"" + name + "\"";
      }
    }
    if (start_error_.empty() && !options_.state_file.empty() && !SaveState()) {
      start_error_ = options_.state_file + ": cannot be written";
    }
  }
}

uint64_t Simulator::ByteTimeNs(uint32_t rate) {
  return rate == 0 ? 0 : 10'000'000'000ull / rate;
}

void Simulator::HostBytes(const uint8_t* data, size_t n, uint32_t host_rate, uint64_t now_ns) {
  const uint64_t byte_ns = options_.realtime ? ByteTimeNs(host_rate) : 0;
  size_t garbled = 0;
  for (size_t i = 0; i < n; ++i) {
    ++stats_.bytes_from_host;
    rx_arrival_ns_ = std::max(now_ns, rx_arrival_ns_) + byte_ns;
    uint8_t b = data[i];
    const LineNoise::Hit hit = noise_.Apply(b);
    if (hit != LineNoise::Hit::kNone) ++stats_.noise_hits;
    if (hit == LineNoise::Hit::kLost) continue;
    if (powered_off_ || options_.silent) continue;
    if (host_rate != listening_rate_) {
      // Bytes at another rate arrive as garbage that breaks any frame.
      ++stats_.bytes_not_understood;
      ++garbled;
      receiver_.Reset();
      continue;
    }
    Received(receiver_.Push(b), rx_arrival_ns_);
  }
  if (garbled != 0 && trace_.IsOpen()) {
    trace_.Write(now_ns, host_rate, "H>S", data, n,
                 "not understood: host at " + std::to_string(host_rate) + ", listening at " +
                     std::to_string(listening_rate_));
  }
}

size_t Simulator::SendPacket(const std::vector<uint8_t>& payload, uint64_t at_ns, const std::string& meaning) {
  std::vector<uint8_t> packet;
  packet.reserve(payload.size() + 2);
  packet.push_back(static_cast<uint8_t>((payload.size() >> 8) & 0x07));
  packet.push_back(static_cast<uint8_t>(payload.size() & 0xFF));
  packet.insert(packet.end(), payload.begin(), payload.end());
  std::vector<uint8_t> frame(MaxFrameSize(packet.size()));
  frame.resize(EncodeFrame(packet.data(), packet.size(), frame.data()));

  ++framed_replies_;
  ++stats_.replies;
  const bool spoil = options_.corrupt_reply != 0 && framed_replies_ == options_.corrupt_reply;
  if (spoil) {
    // Drop the checksum (doubled when it is DLE) and put a wrong one.
    uint8_t sum = 0;
    for (uint8_t b : packet) sum ^= b;
    frame.resize(frame.size() - (sum == kDLE ? 2 : 1));
    const uint8_t bad = static_cast<uint8_t>(sum ^ 0x5A);
    frame.push_back(bad);
    if (bad == kDLE) frame.push_back(kDLE);
  }
  trace_.Write(line_.StartAt(at_ns), listening_rate_, "S>H", frame.data(), frame.size(),
               spoil ? meaning + " (checksum spoiled)" : meaning);
  SendRaw(frame.data(), frame.size(), at_ns);
  return frame.size();
}

void Simulator::SendRaw(const uint8_t* bytes, size_t n, uint64_t at_ns) {
  stats_.bytes_to_host += n;
  stats_.noise_hits += line_.Send(bytes, n, at_ns, options_.realtime ? ByteTimeNs(listening_rate_) : 0);
}

void Simulator::Received(FrameReceiver::Event event, uint64_t at_ns) {
  const std::vector<uint8_t>& frame = receiver_.Line();
  switch (event) {
    case FrameReceiver::Event::kNone:
      return;
    case FrameReceiver::Event::kBroken:
      ++stats_.frames_ignored;
      return;
    case FrameReceiver::Event::kBadChecksum:
    case FrameReceiver::Event::kTooLong:
      ++stats_.frames_ignored;
      trace_.Write(at_ns, listening_rate_, "H>S", frame.data(), frame.size(),
                   event == FrameReceiver::Event::kTooLong ? "ignored: longer than 1500 bytes"
                                                           : "ignored: bad checksum");
      return;
    case FrameReceiver::Event::kPacket:
      HandlePacket(receiver_.Packet().data(), receiver_.Packet().size(), at_ns);
      return;
  }
}

std::optional<uint64_t> Simulator::NextReplyDue() const { return line_.NextDue(); }

std::optional<uint64_t> Simulator::LastReplyDue() const { return line_.LastDue(); }

bool Simulator::TakeReplyByte(uint64_t until_ns, uint8_t& byte) { return line_.TakeByte(until_ns, byte); }

size_t Simulator::TakeReplyBytes(uint64_t until_ns, std::vector<uint8_t>& out) {
  return line_.TakeBytes(until_ns, out);
}

void Simulator::DiscardReplies(uint64_t until_ns) { line_.Discard(until_ns); }

}  // namespace vok::sim
