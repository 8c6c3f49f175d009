#include "sim/simulator.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "link/address_text.h"
#include "link/byte_order.h"
#include "link/frame.h"
#include "sim/srecord_reader.h"

namespace vok::sim {
namespace {

constexpr size_t kMaxPacket = 1500;         // the loader's receive buffer
constexpr uint32_t kMaxReadLength = 1491;   // 7 + length must fit 1498 payload bytes
constexpr uint64_t kMs = 1000000;           // nanoseconds
constexpr size_t kAdapterPacket = 62;       // a USB adapter's packet, less its status bytes
constexpr char kStateMagic[16] = {'V', 'O', 'K', 'S', 'I', 'M', '-', 'S',
                                  'T', 'A', 'T', 'E', '-', 'v', '1', '\n'};
const std::string kStartLoader = "START LOADER\r";

constexpr std::array<uint16_t, 256> MakeCrcTable() {
  std::array<uint16_t, 256> t{};
  for (int i = 0; i < 256; ++i) {
    uint16_t c = static_cast<uint16_t>(i << 8);
    for (int k = 0; k < 8; ++k) c = static_cast<uint16_t>((c & 0x8000) ? (c << 1) ^ 0x1021 : c << 1);
    t[i] = c;
  }
  return t;
}
constexpr std::array<uint16_t, 256> kCrcTable = MakeCrcTable();


// Bytes as the trace shows them: printable ASCII as is, the rest escaped.
std::string Printable(const uint8_t* p, size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    if (p[i] == '\r') {
      s += "\\r";
    } else if (p[i] >= 0x20 && p[i] < 0x7F && p[i] != '"' && p[i] != '\\') {
      s += static_cast<char>(p[i]);
    } else {
      char b[8];
      std::snprintf(b, sizeof b, "\\x%02X", p[i]);
      s += b;
    }
  }
  return s;
}

// Deterministic filler that looks like code in a dump.
void FillPseudoCode(uint8_t* p, size_t n, uint32_t seed) {
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1664525u + 1013904223u;
    uint8_t b = static_cast<uint8_t>(x >> 24);
    if (b == 0xFF) b = 0x4E;  // keep long erased-looking runs out of the code
    p[i] = b;
  }
}

uint8_t Reflect8(uint8_t b) {
  uint8_t r = 0;
  for (int i = 0; i < 8; ++i)
    if (b & (1u << i)) r = static_cast<uint8_t>(r | (0x80u >> i));
  return r;
}

uint16_t Reflect16(uint16_t v) {
  return static_cast<uint16_t>(Reflect8(static_cast<uint8_t>(v)) << 8 | Reflect8(static_cast<uint8_t>(v >> 8)));
}

// Bit by bit, the reflected kinds by reflecting every byte and the result:
// slow, and plainly another way than the host's tables.
uint16_t CrcBitwise(const uint8_t* data, size_t n, uint16_t poly, uint16_t init, bool reflected,
                    uint16_t xorout) {
  uint16_t crc = init;
  for (size_t i = 0; i < n; ++i) {
    crc = static_cast<uint16_t>(crc ^ ((reflected ? Reflect8(data[i]) : data[i]) << 8));
    for (int k = 0; k < 8; ++k) crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ poly : crc << 1);
  }
  return static_cast<uint16_t>((reflected ? Reflect16(crc) : crc) ^ xorout);
}

bool RecordHolds(const std::set<uint32_t>& marks, uint32_t address, uint32_t length) {
  for (uint32_t m : marks) {
    if (m == address) return true;
    if (m > address && uint64_t{m} < uint64_t{address} + length) return true;
  }
  return false;
}

}  // namespace

Simulator::Simulator(Options options)
    : options_(std::move(options)), ram_(kRamSize, 0x00), flash_(kFlashSize, 0xFF) {
  rng_.seed(options_.seed);
  in_app_ = options_.app;
  listening_rate_ = in_app_ ? 9600 : options_.boot_rate;

  if (!options_.trace_file.empty()) {
    trace_.open(options_.trace_file, std::ios::out | std::ios::trunc);
    if (!trace_) start_error_ = options_.trace_file + ": cannot be written";
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
    for (const ComponentSpec& c : options_.components) {
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

// ---------------------------------------------------------------- memory

uint8_t* Simulator::Cells(uint32_t address, size_t n) {
  return const_cast<uint8_t*>(static_cast<const Simulator*>(this)->Cells(address, n));
}

const uint8_t* Simulator::Cells(uint32_t address, size_t n) const {
  const uint64_t a = address, e = a + n;
  if (a >= kRamStart && e <= uint64_t{kRamEnd} + 1) return ram_.data() + (a - kRamStart);
  if (a >= kFlashStart && e <= uint64_t{kFlashEnd} + 1) return flash_.data() + (a - kFlashStart);
  return nullptr;
}

std::vector<uint8_t> Simulator::ReadMemory(uint32_t address, size_t n) const {
  std::vector<uint8_t> out(n, 0xFF);
  for (size_t i = 0; i < n; ++i) {
    const uint64_t a = uint64_t{address} + i;
    if (a > 0xFFFFFFFFu) break;
    if (const uint8_t* c = Cells(static_cast<uint32_t>(a), 1)) out[i] = *c;
  }
  return out;
}

void Simulator::WriteMemory(uint32_t address, const std::vector<uint8_t>& bytes) {
  for (size_t i = 0; i < bytes.size(); ++i) {
    const uint64_t a = uint64_t{address} + i;
    if (a > 0xFFFFFFFFu) break;
    if (uint8_t* c = Cells(static_cast<uint32_t>(a), 1)) *c = bytes[i];
  }
}

void Simulator::ClearMemory() {
  std::fill(ram_.begin(), ram_.end(), 0x00);
  std::fill(flash_.begin(), flash_.end(), 0xFF);
}

uint16_t Simulator::Checksum(const uint8_t* data, size_t n) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < n; ++i) {
    crc = static_cast<uint16_t>((crc << 8) ^ kCrcTable[((crc >> 8) ^ data[i]) & 0xFF]);
  }
  return crc;
}

uint16_t Simulator::Checksum(LoaderSum algorithm, const uint8_t* data, size_t n) {
  switch (algorithm) {
    case LoaderSum::kCcittFalse:
      return Checksum(data, n);
    case LoaderSum::kXmodem:
      return CrcBitwise(data, n, 0x1021, 0x0000, false, 0x0000);
    case LoaderSum::kKermit:
      return CrcBitwise(data, n, 0x1021, 0x0000, true, 0x0000);
    case LoaderSum::kModbus:
      return CrcBitwise(data, n, 0x8005, 0xFFFF, true, 0x0000);
    case LoaderSum::kSum16: {
      uint16_t sum = 0;
      for (size_t i = 0; i < n; ++i) sum = static_cast<uint16_t>(sum + data[i]);
      return sum;
    }
    case LoaderSum::kOnesSum16:
    case LoaderSum::kInternet16: {
      // Summed wide and folded once at the end; the Internet checksum's
      // words are big-endian, an odd last byte the high half of its word.
      uint64_t sum = 0;
      for (size_t i = 0; i < n; ++i)
        sum += algorithm == LoaderSum::kOnesSum16 || i % 2 == 1 ? data[i] : uint64_t{data[i]} << 8;
      while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
      return static_cast<uint16_t>(algorithm == LoaderSum::kInternet16 ? ~sum : sum);
    }
    case LoaderSum::kFletcher16: {
      unsigned lo = 0, hi = 0;
      for (size_t i = 0; i < n; ++i) {
        lo = (lo + data[i]) % 255;
        hi = (hi + lo) % 255;
      }
      return static_cast<uint16_t>(hi << 8 | lo);
    }
    case LoaderSum::kOwn: {
      uint16_t sum = 0x5A5A;
      for (size_t i = 0; i < n; ++i) sum = static_cast<uint16_t>(((sum << 3) | (sum >> 13)) ^ data[i]);
      return sum;
    }
  }
  return 0;
}

const std::vector<std::string>& LoaderSumNames() {
  static const std::vector<std::string> names = {
      "CRC-16/CCITT-FALSE", "CRC-16/XMODEM", "CRC-16/KERMIT", "CRC-16/MODBUS", "SUM-16",
      "ONES-SUM-16",        "INTERNET-16",   "FLETCHER-16",   "OWN"};
  return names;
}

bool LoaderSumNamed(const std::string& name, LoaderSum& sum) {
  const std::vector<std::string>& names = LoaderSumNames();
  for (size_t i = 0; i < names.size(); ++i) {
    std::string lower = names[i];
    for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (name == names[i] || name == lower) {
      sum = static_cast<LoaderSum>(i);
      return true;
    }
  }
  return false;
}

uint16_t Simulator::LoaderChecksum(uint32_t start, uint32_t length) const {
  uint64_t first = start, end = uint64_t{start} + length;
  switch (options_.checksum_skew) {
    case ChecksumSkew::kExact: break;
    case ChecksumSkew::kStartEarly: --first; break;  // start 0 wraps out of memory
    case ChecksumSkew::kStartLate: first += first < end; break;
    case ChecksumSkew::kEndLate: ++end; break;
    case ChecksumSkew::kEndEarly: end -= end > first; break;
  }
  if (first > 0xFFFFFFFFu) return 0;
  const uint8_t* cells = Cells(static_cast<uint32_t>(first), static_cast<size_t>(end - first));
  return cells ? Checksum(options_.checksum, cells, static_cast<size_t>(end - first)) : 0;
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

bool Simulator::AddComponent(const ComponentSpec& component) {
  uint64_t at = component.header_at;
  if (at == 0) {
    if (component.start < kFlashStart + kHeaderSize) return false;
    at = (uint64_t{component.start} - kHeaderSize) & ~uint64_t{0xFFF};
  }
  if (at % 0x1000 != 0 || at < kFlashStart || at + kHeaderSize > uint64_t{kFlashEnd} + 1) return false;
  if (component.name.size() > kNameSize) return false;
  const uint8_t* data = Cells(component.start, component.length);
  if (data == nullptr) return false;

  std::vector<uint8_t> h;
  AppendBe32(h, kHeaderMagic);
  AppendBe32(h, component.start);
  AppendBe32(h, component.length);
  AppendBe16(h, LoaderChecksum(component.start, component.length));
  h.push_back(component.type);
  h.insert(h.end(), component.version, component.version + 3);
  h.insert(h.end(), 4, 0x00);
  h.insert(h.end(), component.name.begin(), component.name.end());
  h.resize(kHeaderSize, 0x00);
  WriteMemory(static_cast<uint32_t>(at), h);
  return true;
}

bool Simulator::SpoilChecksum(const std::string& name) {
  bool found = false;
  for (uint32_t at = kFlashStart; at < kFlashEnd; at += 0x1000) {
    uint8_t* h = Cells(at, kHeaderSize);
    if (Be32(h) != kHeaderMagic) continue;
    const char* n = reinterpret_cast<const char*>(h + 22);
    if (std::string(n, strnlen(n, kNameSize)) != name) continue;
    const uint16_t right = LoaderChecksum(Be32(h + 4), Be32(h + 8));
    const uint16_t wrong = static_cast<uint16_t>(right ^ 0x5A5A);  // same value every time
    PutBe16(h + 12, wrong);
    found = true;
  }
  return found;
}

void Simulator::LoadDemoFirmware() {
  ClearMemory();
  // RAM: the application's variables at the bottom, the rest cleared.
  FillPseudoCode(ram_.data(), 0x2400, 7);
  // The loader's own code.
  FillPseudoCode(Cells(kFlashStart, 0x2C00), 0x2C00, 1);

  struct Demo {
    uint8_t type;
    uint8_t version[3];
    const char* name;
    uint32_t header;
    uint32_t length;
  };
  static const Demo kDemo[] = {
      {0, {1, 0, 3}, "System configuration", 0x84000, 0},
      {2, {1, 4, 0}, "VOK Parameter Set", 0x86000, 0x1800},
      {1, {3, 2, 1}, "VOK Kernel", 0x88000, 0x13F00},
      {3, {2, 0, 7}, "VOK Motion Control", 0xA0000, 0x1A2C0},
      {4, {1, 1, 12}, "VOK Service Monitor", 0xC0000, 0x6A80},
  };
  static const char kConfigText[] = "VOK System configuration K2/24V, 2 axes, serial 0047-1138\r\n";
  uint32_t seed = 11;
  for (const Demo& d : kDemo) {
    ComponentSpec c;
    c.type = d.type;
    std::copy(d.version, d.version + 3, c.version);
    c.name = d.name;
    c.header_at = d.header;
    c.start = d.header + kHeaderSize;
    if (d.type == 0) {
      const size_t n = sizeof kConfigText;  // with its zero byte
      std::memcpy(Cells(c.start, n), kConfigText, n);
      c.length = static_cast<uint32_t>(n);
    } else {
      FillPseudoCode(Cells(c.start, d.length), d.length, seed++);
      c.length = d.length;
    }
    AddComponent(c);
  }
}

// ---------------------------------------------------------------- state

bool Simulator::SaveState() {
  if (options_.state_file.empty()) return true;
  const std::string tmp = options_.state_file + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out.write(kStateMagic, sizeof kStateMagic);
    out.write(reinterpret_cast<const char*>(ram_.data()), static_cast<std::streamsize>(ram_.size()));
    out.write(reinterpret_cast<const char*>(flash_.data()), static_cast<std::streamsize>(flash_.size()));
    out.close();
    if (!out) {
      std::error_code ec;
      std::filesystem::remove(tmp, ec);
      std::cerr << "voksim: " << options_.state_file << ": state cannot be saved\n";
      return false;
    }
  }
  // The rename replaces the old state in one step: a kill leaves either.
  std::error_code ec;
  std::filesystem::rename(tmp, options_.state_file, ec);
  if (ec) {
    std::cerr << "voksim: " << options_.state_file << ": state cannot be saved\n";
    return false;
  }
  return true;
}

bool Simulator::LoadState(const std::string& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": cannot be read";
    return false;
  }
  char magic[sizeof kStateMagic];
  std::vector<uint8_t> ram(kRamSize), flash(kFlashSize);
  in.read(magic, sizeof magic);
  in.read(reinterpret_cast<char*>(ram.data()), static_cast<std::streamsize>(ram.size()));
  in.read(reinterpret_cast<char*>(flash.data()), static_cast<std::streamsize>(flash.size()));
  if (!in || std::memcmp(magic, kStateMagic, sizeof magic) != 0 || in.peek() != EOF) {
    error = path + ": not a voksim state file";
    return false;
  }
  ram_ = std::move(ram);
  flash_ = std::move(flash);
  return true;
}

bool Simulator::LoadImage(const std::string& path, std::string& error) {
  bool outside = false;
  uint32_t where = 0;
  const bool ok = ReadSRecordFile(
      path,
      [&](uint32_t address, const uint8_t* data, size_t n) {
        if (n != 0 && Cells(address, n) == nullptr && !outside) {
          outside = true;
          where = address;
        }
        WriteMemory(address, std::vector<uint8_t>(data, data + n));
      },
      error);
  if (ok && outside) {
    error = path + ": data at " + AddressText(where) + " lie outside RAM and flash";
    return false;
  }
  return ok;
}

// ---------------------------------------------------------------- the line

uint64_t Simulator::ByteTimeNs(uint32_t rate) {
  return rate == 0 ? 0 : 10'000'000'000ull / rate;
}

bool Simulator::NoiseHits() {
  if (options_.noise <= 0.0) return false;
  const uint64_t r = rng_();
  if (options_.noise >= 1.0) return true;
  // 2^64 * p, compared with the raw engine output: the same for a seed on
  // every platform, unlike the standard distributions.
  const uint64_t threshold = static_cast<uint64_t>(options_.noise * 18446744073709551616.0);
  return r < threshold;
}

uint8_t Simulator::NoiseFlip(uint8_t b) {
  const uint64_t r = rng_();
  return static_cast<uint8_t>(b ^ (1u << (r & 7)));
}

void Simulator::HostBytes(const uint8_t* data, size_t n, uint32_t host_rate, uint64_t now_ns) {
  const uint64_t byte_ns = options_.realtime ? ByteTimeNs(host_rate) : 0;
  size_t garbled = 0;
  for (size_t i = 0; i < n; ++i) {
    ++stats_.bytes_from_host;
    rx_arrival_ns_ = std::max(now_ns, rx_arrival_ns_) + byte_ns;
    uint8_t b = data[i];
    if (NoiseHits()) {
      ++stats_.noise_hits;
      if (rng_() & 1) continue;  // lost
      b = NoiseFlip(b);
    }
    if (powered_off_ || options_.silent) continue;
    if (host_rate != listening_rate_) {
      // Bytes at another rate arrive as garbage that breaks any frame.
      ++stats_.bytes_not_understood;
      ++garbled;
      RxReset();
      continue;
    }
    RxByte(b, rx_arrival_ns_);
  }
  if (garbled != 0 && trace_.is_open()) {
    Trace(now_ns, host_rate, "H>S", data, n,
          "not understood: host at " + std::to_string(host_rate) + ", listening at " +
              std::to_string(listening_rate_));
  }
}

void Simulator::StoreRx(uint8_t b) {
  rx_line_.push_back(b);
  if (rx_packet_.size() >= kMaxPacket) {
    rx_overflow_ = true;
    return;
  }
  rx_packet_.push_back(b);
  rx_sum_ ^= b;
}

void Simulator::RxByte(uint8_t b, uint64_t at_ns) {
  switch (rx_) {
    case Rx::kHunt:
      if (b == kDLE) {
        rx_line_.assign(1, b);
        rx_ = Rx::kStart;
      }
      break;
    case Rx::kStart:
      if (b == kSTX) {
        rx_line_.push_back(b);
        rx_packet_.clear();
        rx_sum_ = 0;
        rx_overflow_ = false;
        rx_ = Rx::kBody;
      } else {
        rx_ = Rx::kHunt;
      }
      break;
    case Rx::kBody:
      if (b == kDLE) {
        rx_line_.push_back(b);
        rx_ = Rx::kBodyDle;
      } else {
        StoreRx(b);
      }
      break;
    case Rx::kBodyDle:
      if (b == kETX) {
        rx_line_.push_back(b);
        rx_ = Rx::kTrailer;
      } else if (b == kDLE) {
        StoreRx(b);
        rx_ = Rx::kBody;
      } else if (b == kSTX) {
        // A start mark can only begin a frame: the one before was cut short
        // (a lost byte), and this is the host's next attempt.
        ++stats_.frames_ignored;
        rx_line_.assign({kDLE, kSTX});
        rx_packet_.clear();
        rx_sum_ = 0;
        rx_overflow_ = false;
        rx_ = Rx::kBody;
      } else {
        ++stats_.frames_ignored;
        rx_ = Rx::kHunt;
      }
      break;
    case Rx::kTrailer:
      rx_line_.push_back(b);
      if (b == kDLE) {
        rx_ = Rx::kTrailerDle;
      } else {
        FrameDone(b, at_ns);
      }
      break;
    case Rx::kTrailerDle:
      rx_line_.push_back(b);
      if (b == kDLE) {
        FrameDone(kDLE, at_ns);
      } else {
        ++stats_.frames_ignored;
        rx_ = Rx::kHunt;
      }
      break;
  }
}

void Simulator::FrameDone(uint8_t received_sum, uint64_t at_ns) {
  rx_ = Rx::kHunt;
  if (rx_overflow_ || received_sum != rx_sum_) {
    ++stats_.frames_ignored;
    Trace(at_ns, listening_rate_, "H>S", rx_line_.data(), rx_line_.size(),
          rx_overflow_ ? "ignored: longer than 1500 bytes" : "ignored: bad checksum");
    return;
  }
  HandlePacket(rx_packet_.data(), rx_packet_.size(), at_ns);
}

// ---------------------------------------------------------------- packets

void Simulator::HandlePacket(const uint8_t* p, size_t n, uint64_t at_ns) {
  if (n < 2 || (((p[0] & 0x07u) << 8) | p[1]) != n - 2) {
    ++stats_.frames_ignored;
    Trace(at_ns, listening_rate_, "H>S", rx_line_.data(), rx_line_.size(),
          "ignored: header length disagrees with the packet");
    return;
  }
  ++stats_.frames_from_host;
  Trace(at_ns, listening_rate_, "H>S", rx_line_.data(), rx_line_.size(), Describe(p, n));
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
    if (m == 1 && q[0] == 0x01) return "probe";
    if (m == 5 && q[0] == 0x03) return "rate " + std::to_string(Be32(q + 1));
    return "negotiation packet, unknown";
  }
  if (in_app_) return "text \"" + Printable(q, m) + "\"";
  if (m == 0) return "empty command";
  switch (q[0]) {
    case 1: return "version";
    case 2: return m >= 7 ? "read " + AddressText(Be32(q + 1)) + " length " + std::to_string(Be16(q + 5))
                          : "read, too short";
    case 3: return m >= 7 ? "program " + AddressText(Be32(q + 1)) + " length " + std::to_string(Be16(q + 5))
                          : "program, too short";
    case 4: return m >= 5 ? "erase " + AddressText(Be32(q + 1)) : "erase, too short";
    case 5: return m >= 9 ? "checksum " + AddressText(Be32(q + 1)) + " length " + std::to_string(Be32(q + 5))
                          : "checksum, too short";
    case 6: return "start application";
    default: return "unknown command " + std::to_string(q[0]);
  }
}

void Simulator::HandleNegotiation(const uint8_t* q, size_t m, uint64_t at_ns) {
  if (m == 1 && q[0] == 0x01) {
    SendPacket({0x01}, at_ns, "probe reply");
    return;
  }
  if (m == 5 && q[0] == 0x03) {
    uint32_t rate = Be32(q + 1);
    if (options_.max_rate != 0 && rate > options_.max_rate) rate = options_.max_rate;
    if (rate == 0) rate = listening_rate_;
    std::vector<uint8_t> reply{0x03};
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
  Trace(at_ns, listening_rate_, "S>H", bytes, answer.size(), "text \"" + Printable(bytes, answer.size()) + "\"");
  SendRaw(bytes, answer.size(), at_ns);
  if (!options_.busy) {
    in_app_ = false;
    listening_rate_ = options_.boot_rate;
    RxReset();
  }
}

void Simulator::HandleCommand(const uint8_t* q, size_t m, uint64_t at_ns) {
  if (m == 0) {
    ++stats_.frames_ignored;
    return;
  }
  switch (q[0]) {
    case 1: {
      const uint8_t* v = options_.loader_version;
      SendPacket({0x01, v[0], v[1], v[2]}, at_ns,
                 "version reply " + std::to_string(v[0]) + "." + std::to_string(v[1]) + "." +
                     std::to_string(v[2]));
      return;
    }
    case 2: CmdRead(q, m, at_ns); return;
    case 3: CmdProgram(q, m, at_ns); return;
    case 4: CmdErase(q, m, at_ns); return;
    case 5: CmdChecksum(q, m, at_ns); return;
    case 6:
      SendPacket({0x06}, at_ns, "start application reply");
      in_app_ = true;
      listening_rate_ = 9600;
      RxReset();
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
  std::vector<uint8_t> reply{0x02};
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
  RxReset();
  out_.clear();
  if (trace_.is_open()) {
    Trace(rx_arrival_ns_, listening_rate_, "---", nullptr, 0,
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
    Trace(at_ns, listening_rate_, "---", nullptr, 0, "program request " + AddressText(address) + ": data damaged");
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
  std::vector<uint8_t> reply{0x03, status};
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
  SendPacket({0x04, status}, at_ns + busy, "erase reply status " + std::to_string(status) + partly);
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
  std::vector<uint8_t> reply{0x05};
  AppendBe16(reply, sum);
  char b[32];
  std::snprintf(b, sizeof b, "checksum reply 0x%04X", sum);
  stats_.checksum_bytes += rx_line_.size() + SendPacket(reply, at_ns, b);
}

// ---------------------------------------------------------------- replies

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
  Trace(std::max(at_ns, out_free_ns_), listening_rate_, "S>H", frame.data(), frame.size(),
        spoil ? meaning + " (checksum spoiled)" : meaning);
  SendRaw(frame.data(), frame.size(), at_ns);
  return frame.size();
}

void Simulator::SendRaw(const uint8_t* bytes, size_t n, uint64_t at_ns) {
  const uint64_t byte_ns = options_.realtime ? ByteTimeNs(listening_rate_) : 0;
  uint64_t t = std::max(at_ns, out_free_ns_);
  // The adapter passes a short reply on only when its timer runs out.
  const uint64_t held_until =
      n < kAdapterPacket && options_.latency_ms != 0 ? t + options_.latency_ms * kMs : 0;
  for (size_t i = 0; i < n; ++i) {
    t += byte_ns;
    ++stats_.bytes_to_host;
    uint8_t b = bytes[i];
    if (NoiseHits()) {
      ++stats_.noise_hits;
      if (rng_() & 1) continue;  // lost
      b = NoiseFlip(b);
    }
    out_.push_back({b, std::max(t, held_until)});
  }
  // Later bytes never overtake held ones.
  out_free_ns_ = std::max(t, held_until);
}

std::optional<uint64_t> Simulator::NextReplyDue() const {
  if (out_.empty()) return std::nullopt;
  return out_.front().due_ns;
}

std::optional<uint64_t> Simulator::LastReplyDue() const {
  if (out_.empty()) return std::nullopt;
  return out_.back().due_ns;
}

bool Simulator::TakeReplyByte(uint64_t until_ns, uint8_t& byte) {
  if (out_.empty() || out_.front().due_ns > until_ns) return false;
  byte = out_.front().value;
  out_.pop_front();
  return true;
}

size_t Simulator::TakeReplyBytes(uint64_t until_ns, std::vector<uint8_t>& out) {
  size_t k = 0;
  while (!out_.empty() && out_.front().due_ns <= until_ns) {
    out.push_back(out_.front().value);
    out_.pop_front();
    ++k;
  }
  return k;
}

void Simulator::DiscardReplies(uint64_t until_ns) {
  while (!out_.empty() && out_.front().due_ns <= until_ns) out_.pop_front();
}

// ---------------------------------------------------------------- trace

void Simulator::Trace(uint64_t at_ns, uint32_t rate, const char* direction, const uint8_t* bytes, size_t n,
                      const std::string& meaning) {
  if (!trace_.is_open()) return;
  char head[64];
  std::snprintf(head, sizeof head, "%10.3f %7u %s ", static_cast<double>(at_ns) / 1e9, rate, direction);
  std::string line = head;
  line.reserve(line.size() + 3 * n + meaning.size() + 4);
  static const char kHex[] = "0123456789ABCDEF";
  for (size_t i = 0; i < n; ++i) {
    if (i != 0) line += ' ';
    line += kHex[bytes[i] >> 4];
    line += kHex[bytes[i] & 15];
  }
  line += " | ";
  line += meaning;
  line += '\n';
  trace_ << line;
  trace_.flush();
}

}  // namespace vok::sim
