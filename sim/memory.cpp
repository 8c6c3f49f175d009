// The controller's memory: RAM and flash as cells, the component headers
// stamped into flash, the demo firmware and the S-record image.

#include <algorithm>
#include <cstring>

#include "link/address_text.h"
#include "link/byte_order.h"
#include "sim/simulator.h"
#include "sim/srecord_reader.h"

namespace vok::sim {
namespace {

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

}  // namespace

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
  return cells ? LoaderSumOf(options_.checksum, cells, static_cast<size_t>(end - first)) : 0;
}

bool Simulator::AddComponent(const ComponentLayout& component) {
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
    h[12] = static_cast<uint8_t>(wrong >> 8);
    h[13] = static_cast<uint8_t>(wrong);
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
    ComponentLayout c;
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

}  // namespace vok::sim
