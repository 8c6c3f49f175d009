#include "link/checksum16.h"

namespace vok {

namespace {

uint16_t Reflect16(uint16_t v) {
  uint16_t r = 0;
  for (int i = 0; i < 16; ++i)
    if (v & (1u << i)) r = static_cast<uint16_t>(r | (0x8000u >> i));
  return r;
}

Checksum16 Crc(std::string_view name, uint16_t poly, uint16_t init, bool reflected,
               uint16_t xorout) {
  Checksum16 c{name, Checksum16::Kind::kCrc, poly, init, reflected, xorout};
  const uint16_t rpoly = Reflect16(poly);
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t r;
    if (reflected) {
      r = static_cast<uint16_t>(i);
      for (int k = 0; k < 8; ++k) r = static_cast<uint16_t>(r & 1 ? (r >> 1) ^ rpoly : r >> 1);
    } else {
      r = static_cast<uint16_t>(i << 8);
      for (int k = 0; k < 8; ++k) r = static_cast<uint16_t>(r & 0x8000 ? (r << 1) ^ poly : r << 1);
    }
    c.table[i] = r;
  }
  return c;
}

Checksum16 Other(std::string_view name, Checksum16::Kind kind) { return {name, kind}; }

}  // namespace

const std::vector<Checksum16>& ChecksumCatalogue() {
  using K = Checksum16::Kind;
  static const std::vector<Checksum16> catalogue = {
      Crc("CRC-16/CCITT-FALSE", 0x1021, 0xFFFF, false, 0x0000),  // also CRC-16/IBM-3740
      Crc("CRC-16/XMODEM", 0x1021, 0x0000, false, 0x0000),
      Crc("CRC-16/KERMIT", 0x1021, 0x0000, true, 0x0000),
      Crc("CRC-16/ARC", 0x8005, 0x0000, true, 0x0000),
      Crc("CRC-16/MODBUS", 0x8005, 0xFFFF, true, 0x0000),
      Crc("CRC-16/AUG-CCITT", 0x1021, 0x1D0F, false, 0x0000),
      Crc("CRC-16/GENIBUS", 0x1021, 0xFFFF, false, 0xFFFF),
      Crc("CRC-16/MCRF4XX", 0x1021, 0xFFFF, true, 0x0000),
      Crc("CRC-16/X-25", 0x1021, 0xFFFF, true, 0xFFFF),
      Crc("CRC-16/USB", 0x8005, 0xFFFF, true, 0xFFFF),
      Crc("CRC-16/MAXIM-DOW", 0x8005, 0x0000, true, 0xFFFF),
      Crc("CRC-16/UMTS", 0x8005, 0x0000, false, 0x0000),
      Crc("CRC-16/CMS", 0x8005, 0xFFFF, false, 0x0000),
      Crc("CRC-16/GSM", 0x1021, 0x0000, false, 0xFFFF),
      Crc("CRC-16/DNP", 0x3D65, 0x0000, true, 0xFFFF),
      Other("SUM-16", K::kSum),
      Other("ONES-SUM-16", K::kOnesSum),
      Other("INTERNET-16", K::kInternet),
      Other("FLETCHER-16", K::kFletcher),
  };
  return catalogue;
}

const Checksum16* FindChecksum(std::string_view name) {
  for (const Checksum16& c : ChecksumCatalogue())
    if (c.name == name) return &c;
  return nullptr;
}

ChecksumRun::ChecksumRun(const Checksum16& algorithm) : algorithm_(algorithm) {
  if (algorithm.kind == Checksum16::Kind::kCrc)
    a_ = algorithm.reflected ? Reflect16(algorithm.init) : algorithm.init;
}

void ChecksumRun::Add(const uint8_t* data, size_t n) {
  const Checksum16& c = algorithm_;
  switch (c.kind) {
    case Checksum16::Kind::kCrc:
      if (c.reflected) {
        for (size_t i = 0; i < n; ++i) a_ = (a_ >> 8) ^ c.table[(a_ ^ data[i]) & 0xFF];
      } else {
        for (size_t i = 0; i < n; ++i)
          a_ = ((a_ << 8) & 0xFFFF) ^ c.table[((a_ >> 8) ^ data[i]) & 0xFF];
      }
      break;
    case Checksum16::Kind::kSum:
      for (size_t i = 0; i < n; ++i) a_ += data[i];
      a_ &= 0xFFFF;
      break;
    case Checksum16::Kind::kOnesSum:
      // Folded after every byte, so the register never holds more than 17 bits.
      for (size_t i = 0; i < n; ++i) {
        a_ += data[i];
        a_ = (a_ & 0xFFFF) + (a_ >> 16);
      }
      break;
    case Checksum16::Kind::kInternet:
      for (size_t i = 0; i < n; ++i) {
        a_ += odd_ ? data[i] : uint32_t{data[i]} << 8;
        a_ = (a_ & 0xFFFF) + (a_ >> 16);
        odd_ = !odd_;
      }
      break;
    case Checksum16::Kind::kFletcher:
      for (size_t i = 0; i < n; ++i) {
        a_ = (a_ + data[i]) % 255;
        b_ = (b_ + a_) % 255;
      }
      break;
  }
}

uint16_t ChecksumRun::Value() const {
  switch (algorithm_.kind) {
    case Checksum16::Kind::kCrc:
      return static_cast<uint16_t>(a_ ^ algorithm_.xorout);
    case Checksum16::Kind::kInternet:
      return static_cast<uint16_t>(~a_);
    case Checksum16::Kind::kFletcher:
      return static_cast<uint16_t>(b_ << 8 | a_);
    default:
      return static_cast<uint16_t>(a_);
  }
}

uint16_t ComputeChecksum(const Checksum16& algorithm, const uint8_t* data, size_t n) {
  ChecksumRun run(algorithm);
  run.Add(data, n);
  return run.Value();
}

}  // namespace vok
