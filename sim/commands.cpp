// The loader's and the application's answers to the host's packets, with
// the faults the options put into them.

#include <algorithm>

#include "link/address_text.h"
#include "link/byte_order.h"
#include "sim/simulator.h"

namespace vok::sim {
namespace {

constexpr uint32_t kMaxReadLength = 1491;   // 7 + length must fit 1498 payload bytes
constexpr uint64_t kMs = 1000000;           // nanoseconds
const std::string kStartLoader = "START LOADER\r";

bool RecordHolds(const std::set<uint32_t>& marks, uint32_t address, uint32_t length) {
  for (uint32_t m : marks) {
    if (m == address) return true;
    if (m > address && uint64_t{m} < uint64_t{address} + length) return true;
  }
  return false;
}

}  // namespace

void Simulator::HandlePacket(const uint8_t* p, size_t n, uint64_t at_ns) {
  const std::vector<uint8_t>& frame = receiver_.Line();
  if (n < 2 || (((p[0] & 0x07u) << 8) | p[1]) != n - 2) {
    ++stats_.frames_ignored;
    trace_.Write(at_ns, listening_rate_, "H>S", frame.data(), frame.size(),
                 "ignored: header length disagrees with the packet");
    return;
  }
  ++stats_.frames_from_host;
  trace_.Write(at_ns, listening_rate_, "H>S", frame.data(), frame.size(), Describe(p, n));
  const bool command = (p[0] & 0x08) != 0;  // negotiation packets carry flags 0
  if (in_app_) {
    if (command) HandleApplication(p + 2, n - 2, at_ns);
    else ++stats_.frames_ignored;
  } else if (command) {
    HandleCommand(p + 2, n - 2, at_ns);
  } else {
    HandleNegotiation(p + 2, n - 2, at_ns);
  }
}

std::string Simulator::Describe(const uint8_t* p, size_t n) const {
  const uint8_t* q = p + 2;
  const size_t m = n - 2;
  if ((p[0] & 0x08) == 0) {
    if (m == 1 && q[0] == kNegProbe) return "probe";
    if (m == 5 && q[0] == kNegRate) return "rate " + std::to_string(Be32(q + 1));
    return "negotiation packet, unknown";
  }
  if (in_app_) return "text \"" + Printable(q, m) + "\"";
  if (m == 0) return "empty command";
  switch (q[0]) {
    case kCmdVersion: return "version";
    case kCmdRead: return m >= 7 ? "read " + AddressText(Be32(q + 1)) + " length " + std::to_string(Be16(q + 5))
                          : "read, too short";
    case kCmdProgram: return m >= 7 ? "program " + AddressText(Be32(q + 1)) + " length " + std::to_string(Be16(q + 5))
                          : "program, too short";
    case kCmdErase: return m >= 5 ? "erase " + AddressText(Be32(q + 1)) : "erase, too short";
    case kCmdChecksum: return m >= 9 ? "checksum " + AddressText(Be32(q + 1)) + " length " + std::to_string(Be32(q + 5))
                          : "checksum, too short";
    case kCmdStartApplication: return "start application";
    default: return "unknown command " + std::to_string(q[0]);
  }
}

void Simulator::HandleNegotiation(const uint8_t* q, size_t m, uint64_t at_ns) {
  if (m == 1 && q[0] == kNegProbe) {
    SendPacket({kNegProbe}, at_ns, "probe reply");
    return;
  }
  if (m == 5 && q[0] == kNegRate) {
    uint32_t rate = Be32(q + 1);
    if (options_.max_rate != 0 && rate > options_.max_rate) rate = options_.max_rate;
    if (rate == 0) rate = listening_rate_;
    std::vector<uint8_t> reply{kNegRate};
    AppendBe32(reply, rate);
    SendPacket(reply, at_ns, "rate reply " + std::to_string(rate));
    listening_rate_ = rate;  // after the reply went out at the old rate
    return;
  }
  ++stats_.frames_ignored;
}

void Simulator::HandleApplication(const uint8_t* q, size_t m, uint64_t at_ns) {
  if (std::string(reinterpret_cast<const char*>(q), m) != kStartLoader) {
    ++stats_.frames_ignored;
    return;
  }
  const std::string answer = options_.busy ? "START LOADER BUSY\r" : "START LOADER OK\r";
  const auto* bytes = reinterpret_cast<const uint8_t*>(answer.data());
  trace_.Write(at_ns, listening_rate_, "S>H", bytes, answer.size(),
               "text \"" + Printable(bytes, answer.size()) + "\"");
  SendRaw(bytes, answer.size(), at_ns);
  if (!options_.busy) {
    in_app_ = false;
    listening_rate_ = options_.boot_rate;
    receiver_.Reset();
  }
}

void Simulator::HandleCommand(const uint8_t* q, size_t m, uint64_t at_ns) {
  if (m == 0) {
    ++stats_.frames_ignored;
    return;
  }
  switch (q[0]) {
    case kCmdVersion: {
      const uint8_t* v = options_.loader_version;
      SendPacket({kCmdVersion, v[0], v[1], v[2]}, at_ns,
                 "version reply " + std::to_string(v[0]) + "." + std::to_string(v[1]) + "." +
                     std::to_string(v[2]));
      return;
    }
    case kCmdRead: CmdRead(q, m, at_ns); return;
    case kCmdProgram: CmdProgram(q, m, at_ns); return;
    case kCmdErase: CmdErase(q, m, at_ns); return;
    case kCmdChecksum: CmdChecksum(q, m, at_ns); return;
    case kCmdStartApplication:
      SendPacket({kCmdStartApplication}, at_ns, "start application reply");
      in_app_ = true;
      listening_rate_ = 9600;
      receiver_.Reset();
      return;
    default:
      ++stats_.frames_ignored;
      return;
  }
}

void Simulator::CmdRead(const uint8_t* q, size_t m, uint64_t at_ns) {
  if (m < 7) {
    ++stats_.frames_ignored;
    return;
  }
  ++stats_.reads;
  const uint32_t address = Be32(q + 1);
  const uint16_t length = Be16(q + 5);
  std::vector<uint8_t> reply{kCmdRead};
  AppendBe32(reply, address);
  const uint8_t* cells = length <= kMaxReadLength ? Cells(address, length) : nullptr;
  if (cells == nullptr) {
    // Refused: a length field that cannot be mistaken for the one asked.
    AppendBe16(reply, length == 0 ? 1 : 0);
    SendPacket(reply, at_ns, "read reply: refused");
  } else if (length != 0 && std::all_of(cells, cells + length, [](uint8_t b) { return b == 0xFF; })) {
    AppendBe16(reply, 0xFFFF);
    SendPacket(reply, at_ns, "read reply " + AddressText(address) + " length 0xFFFF (erased)");
  } else {
    AppendBe16(reply, length);
    reply.insert(reply.end(), cells, cells + length);
    const bool damage = static_cast<int>(++stats_.data_replies) == options_.damage_read && length >= 2;
    if (damage) Damage(options_.damage, reply.data() + 7, length);
    SendPacket(reply, at_ns,
               "read reply " + AddressText(address) + " length " + std::to_string(length) +
                   (damage ? " (data damaged)" : ""));
  }
}

bool Simulator::CountFlashCommand(bool& tear) {
  ++flash_commands_;
  tear = options_.tear != 0 && flash_commands_ == options_.tear;
  return tear || (options_.cut_after != 0 && flash_commands_ == options_.cut_after);
}

uint64_t Simulator::Busy(uint64_t ns) {
  if (!options_.realtime) return 0;
  stats_.flash_busy_ns += ns;
  return ns;
}

void Simulator::PowerCut() {
  SaveState();
  powered_off_ = true;
  receiver_.Reset();
  line_.Clear();
  if (trace_.IsOpen()) {
    trace_.Write(rx_arrival_ns_, listening_rate_, "---", nullptr, 0,
                 "power cut after flash command " + std::to_string(flash_commands_));
  }
}

void Simulator::CmdProgram(const uint8_t* q, size_t m, uint64_t at_ns) {
  if (m < 7) {
    ++stats_.frames_ignored;
    return;
  }
  ++stats_.programs;
  bool tear = false;
  const bool cut = CountFlashCommand(tear);
  const uint32_t address = Be32(q + 1);
  const uint16_t length = Be16(q + 5);
  const uint8_t* data = q + 7;
  std::vector<uint8_t> damaged;
  if (static_cast<int>(stats_.programs) == options_.damage_program && length >= 2 && m == 7u + length) {
    damaged.assign(data, data + length);
    Damage(options_.damage, damaged.data(), length);
    data = damaged.data();
    trace_.Write(at_ns, listening_rate_, "---", nullptr, 0,
                 "program request " + AddressText(address) + ": data damaged");
  }

  Status status = kOk;
  uint8_t* cells = nullptr;
  const bool loader_region =
      uint64_t{address} + length > kFlashStart && address <= kLoaderEnd;
  if (m != 7u + length) {
    status = kBadRequest;
  } else if (RecordHolds(options_.fail_program, address, length)) {
    status = kInjected;
  } else if ((cells = Cells(address, length)) == nullptr || loader_region) {
    status = kOutOfRange;
  } else if (address >= kFlashStart) {
    // Flash only clears bits: a byte that needs a 1 where it holds a 0 stops
    // the whole record before anything is written.
    for (size_t i = 0; i < length; ++i) {
      if ((cells[i] & data[i]) != data[i]) {
        status = kFlashRefused;
        break;
      }
    }
  }

  uint64_t busy = 0;
  if (status == kOk && !RecordHolds(options_.ignore_program, address, length)) {
    const size_t done = tear ? length / 2 : length;
    std::copy(data, data + done, cells);
    if (address >= kFlashStart) busy = Busy(uint64_t{done} * 5 * kMs / 1024);
    if (!cut) SaveState();
  }
  if (cut) {
    PowerCut();
    return;
  }
  std::vector<uint8_t> reply{kCmdProgram, status};
  AppendBe32(reply, address);
  SendPacket(reply, at_ns + busy, "program reply status " + std::to_string(status) + " " + AddressText(address));
}

void Simulator::CmdErase(const uint8_t* q, size_t m, uint64_t at_ns) {
  if (m < 5) {
    ++stats_.frames_ignored;
    return;
  }
  ++stats_.erases;
  bool tear = false;
  const bool cut = CountFlashCommand(tear);
  const uint32_t address = Be32(q + 1);

  const Sector* sector = nullptr;
  for (const Sector& s : kSectors) {
    if (s.start == address) sector = &s;
  }
  Status status = kOk;
  if (options_.fail_erase.count(address) != 0) {
    status = kInjected;
  } else if (sector == nullptr) {
    // Inside a sector but not at its start, or no sector at all (the
    // loader's own flash, RAM, nothing).
    status = (address > kLoaderEnd && address <= kFlashEnd) ? kFlashRefused : kOutOfRange;
  }

  uint64_t busy = 0;
  std::string partly;
  if (status == kOk) {
    const uint32_t done = tear ? sector->length / 2 : sector->length;
    // Offsets into the sector of a stretch the erase leaves as it was.
    uint32_t keep_from = done, keep_to = done;
    const uint32_t at = options_.partial_erase - sector->start;
    if (!partial_erase_done_ && options_.partial_erase >= sector->start && at < sector->length) {
      partial_erase_done_ = true;
      const uint32_t n = options_.partial_erase_length == 0
                             ? sector->length - at
                             : std::min(sector->length - at, options_.partial_erase_length);
      keep_from = std::min(at, done);
      keep_to = std::min(at + n, done);
      partly = " (" + AddressText(options_.partial_erase) + " to " +
               AddressText(options_.partial_erase + n - 1) + " left unerased)";
    }
    uint8_t* cells = Cells(sector->start, sector->length);
    std::fill(cells, cells + keep_from, 0xFF);
    std::fill(cells + keep_to, cells + done, 0xFF);
    // 80 ms for an 8 KiB sector, 600 ms for 128 KiB and in proportion between.
    const uint64_t full = sector->length <= 0x2000 ? 80 * kMs : 600 * kMs * sector->length / 0x20000;
    busy = Busy(full * done / sector->length);
    if (!cut) SaveState();
  }
  if (cut) {
    PowerCut();
    return;
  }
  SendPacket({kCmdErase, status}, at_ns + busy, "erase reply status " + std::to_string(status) + partly);
}

void Simulator::CmdChecksum(const uint8_t* q, size_t m, uint64_t at_ns) {
  if (m < 9) {
    ++stats_.frames_ignored;
    return;
  }
  ++stats_.checksums;
  const uint32_t start = Be32(q + 1), length = Be32(q + 5);
  // A range outside memory gets 0: the reply has no status byte.
  const uint16_t sum = LoaderChecksum(start, length);
  std::vector<uint8_t> reply{kCmdChecksum};
  AppendBe16(reply, sum);
  char b[32];
  std::snprintf(b, sizeof b, "checksum reply 0x%04X", sum);
  stats_.checksum_bytes += receiver_.Line().size() + SendPacket(reply, at_ns, b);
}

void Simulator::Damage(DamageKind kind, uint8_t* data, size_t n) {
  if (kind == DamageKind::kSumBlind) {
    // A bit set in one byte and clear in the other, flipped in both: the
    // XOR and the sums stay, and two bytes apart the Internet checksum's
    // words are hit at the same place.
    for (size_t i = 0; i + 2 < n; ++i) {
      const uint8_t differ = data[i] ^ data[i + 2];
      if (differ == 0) continue;
      const uint8_t bit = static_cast<uint8_t>(differ & -differ);
      data[i] ^= bit;
      data[i + 2] ^= bit;
      return;
    }
  }
  data[0] ^= 0x04;
  data[n / 2] ^= 0x04;
}

}  // namespace vok::sim
