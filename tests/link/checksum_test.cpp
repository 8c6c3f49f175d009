#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string_view>
#include <vector>

#include "link/checksum16.h"
#include "link/link_error.h"
#include "link/loader_checksum.h"

namespace vok {
namespace {

std::vector<uint8_t> Mixed(size_t n, unsigned seed) {
  std::vector<uint8_t> out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>((i * 37 + i / 7) ^ seed);
  return out;
}

TEST(Checksum16, CheckValuesAndPieces) {
  // Each algorithm over "123456789": the published check values.
  const std::map<std::string_view, uint16_t> check = {
      {"CRC-16/CCITT-FALSE", 0x29B1}, {"CRC-16/XMODEM", 0x31C3},    {"CRC-16/KERMIT", 0x2189},
      {"CRC-16/ARC", 0xBB3D},         {"CRC-16/MODBUS", 0x4B37},    {"CRC-16/AUG-CCITT", 0xE5CC},
      {"CRC-16/GENIBUS", 0xD64E},     {"CRC-16/MCRF4XX", 0x6F91},   {"CRC-16/X-25", 0x906E},
      {"CRC-16/USB", 0xB4C8},         {"CRC-16/MAXIM-DOW", 0x44C2}, {"CRC-16/UMTS", 0xFEE8},
      {"CRC-16/CMS", 0xAEE7},         {"CRC-16/GSM", 0xCE3C},       {"CRC-16/DNP", 0xEA82},
      {"SUM-16", 0x01DD},             {"ONES-SUM-16", 0x01DD},      {"INTERNET-16", 0xF62A},
      {"FLETCHER-16", 0x1EDE}};
  ASSERT_EQ(ChecksumCatalogue().size(), check.size());
  const auto* digits = reinterpret_cast<const uint8_t*>("123456789");
  // The sums where 16 bits overflow, worked out plainly.
  const std::vector<uint8_t> big = Mixed(3001, 0);
  uint64_t sum = 0, words = 0;
  for (size_t i = 0; i < big.size(); ++i) {
    sum += big[i];
    words += i % 2 ? big[i] : big[i] << 8;
  }
  auto fold = [](uint64_t v) {
    while (v >> 16) v = (v & 0xFFFF) + (v >> 16);
    return static_cast<uint16_t>(v);
  };
  const std::map<std::string_view, uint16_t> sums = {{"SUM-16", static_cast<uint16_t>(sum)},
                                                     {"ONES-SUM-16", fold(sum)},
                                                     {"INTERNET-16", static_cast<uint16_t>(~fold(words))}};
  for (const Checksum16& c : ChecksumCatalogue()) {
    EXPECT_EQ(ComputeChecksum(c, digits, 9), check.at(c.name)) << c.name;
    EXPECT_EQ(FindChecksum(c.name), &c);
    // Pieces of odd sizes give what one piece gives.
    ChecksumRun run(c);
    for (size_t at = 0; at < big.size(); at += 7) run.Add(big.data() + at, std::min<size_t>(7, big.size() - at));
    EXPECT_EQ(run.Value(), ComputeChecksum(c, big.data(), big.size())) << c.name;
    if (sums.count(c.name)) {
      EXPECT_EQ(run.Value(), sums.at(c.name)) << c.name;
    }
  }
  EXPECT_EQ(FindChecksum("CRC-16/IBM-3740"), nullptr);  // an alias: CCITT-FALSE stands for it
}

// A loader over 64 KiB of mixed bytes at address 0 whose checksum is sum.
struct FakeLoader {
  explicit FakeLoader(std::function<uint16_t(const uint8_t*, size_t)> f) : sum(std::move(f)) {}
  std::function<uint16_t(const uint8_t*, size_t)> sum;
  std::vector<uint8_t> memory = Mixed(0x10000, 0x5A);
  int asks = 0;
  int fail = 0;
  LoaderChecksum checks{[this](uint32_t start, uint32_t length, uint16_t& out) {
    ++asks;
    if (fail) return fail;
    out = sum(memory.data() + start, length);
    return 0;
  }};
  int Compare(uint32_t at, uint32_t n) { return checks.Compare(at, memory.data() + at, n); }
};

// A CRC's match confirms the bytes at once; a sum is identified only once
// reading has confirmed them, and from then on is not asked: it would not
// see a bit moved between two bytes.
TEST(LoaderChecksum, EveryCatalogueAlgorithmIsToldAndOnlyACrcConfirms) {
  for (const Checksum16& c : ChecksumCatalogue()) {
    SCOPED_TRACE(c.name);
    const bool crc = c.kind == Checksum16::Kind::kCrc;
    FakeLoader l([&c](const uint8_t* d, size_t n) { return ComputeChecksum(c, d, n); });
    EXPECT_EQ(l.Compare(0x400, 1024), crc ? LoaderChecksum::kSame : LoaderChecksum::kCannotTell);
    EXPECT_EQ(l.asks, 2);  // the range and one inside it
    if (!crc) l.checks.ReadingAgreed(true);
    ASSERT_NE(l.checks.Algorithm(), nullptr);
    EXPECT_EQ(l.checks.Algorithm()->name, c.name);
    EXPECT_EQ(l.checks.ConfirmingAlgorithm(), crc ? l.checks.Algorithm() : nullptr);
    std::vector<uint8_t> held(l.memory.begin(), l.memory.begin() + 0x2000);
    held[0x1234] ^= 4;
    held[0x1236] ^= 4;  // bit 2 differs there in the loader's bytes
    ASSERT_NE(l.memory[0x1234] & 4, l.memory[0x1236] & 4);
    EXPECT_EQ(l.checks.Compare(0, held.data(), 0x2000),
              crc ? LoaderChecksum::kDiffers : LoaderChecksum::kCannotTell);
    EXPECT_EQ(l.asks, crc ? 3 : 2);
  }
}

// A loader whose checksum covers a byte more or less at one end of the
// range, with 0x00 next to every edge asked for (which the sums and the
// CRCs that start at 0 do not see): never identified, whatever its
// algorithm, and nothing taken as confirmed.
TEST(LoaderChecksum, ALoaderOffByOneByteIsNeverIdentified) {
  struct Skew {
    const char* what;
    int start, end;  // added to the range's start and end
  };
  const Skew skews[] = {{"start-1", -1, 0}, {"start+1", 1, 0}, {"end+1", 0, 1}, {"end-1", 0, -1}};
  for (const Checksum16& c : ChecksumCatalogue()) {
    for (const Skew& k : skews) {
      SCOPED_TRACE(std::string(c.name) + " " + k.what);
      FakeLoader l([&](const uint8_t* d, size_t length) {
        return ComputeChecksum(c, d + k.start, length + static_cast<size_t>(k.end - k.start));
      });
      for (uint32_t range = 0; range < 8; ++range) {
        const uint32_t at = 0x1000 + range * 0x1100, n = range % 2 ? 0x400 : 0x7FF;
        for (uint32_t edge : {at - 1, at, at + n - 1, at + n}) l.memory[edge] = 0x00;
        EXPECT_EQ(l.Compare(at, n), LoaderChecksum::kCannotTell) << range;
        l.checks.ReadingAgreed(true);
      }
      EXPECT_EQ(l.checks.Algorithm(), nullptr);
    }
  }
}

TEST(LoaderChecksum, RunsOfOneValueAreNoSamples) {
  const Checksum16& kermit = *FindChecksum("CRC-16/KERMIT");
  FakeLoader l([&](const uint8_t* d, size_t n) { return ComputeChecksum(kermit, d, n); });
  // A run of one value is no sample: nothing is asked.
  std::vector<uint8_t> zeros(1024, 0);
  EXPECT_EQ(l.checks.Compare(0, zeros.data(), 1024), LoaderChecksum::kCannotTell);
  l.checks.ReadingAgreed(true);
  EXPECT_EQ(l.asks, 0);
  EXPECT_EQ(l.Compare(0x800, 1024), LoaderChecksum::kSame);
  EXPECT_EQ(l.checks.Algorithm(), &kermit);
  EXPECT_EQ(l.checks.BytesByChecksum(), 1024u);
  EXPECT_EQ(l.checks.BytesByReading(), 1024u);
  // A failing command passes its code.
  l.fail = kErrNoReply;
  EXPECT_EQ(l.Compare(0, 16), kErrNoReply);
}

TEST(LoaderChecksum, AmbiguousSamplesLeaveItToReading) {
  // Bytes of 1 and 2 never carry a 16-bit sum: the plain and the one's-
  // complement sum agree on every sample, and identification gives up.
  FakeLoader sum([](const uint8_t* d, size_t n) { return ComputeChecksum(*FindChecksum("SUM-16"), d, n); });
  for (uint8_t& b : sum.memory) b = static_cast<uint8_t>((b & 1) + 1);
  for (int k = 0; k < LoaderChecksum::kMaxSampleRanges; ++k) {
    EXPECT_EQ(sum.checks.state(), LoaderChecksum::State::kIdentifying);
    EXPECT_EQ(sum.Compare(k * 0x1000, 0x1000), LoaderChecksum::kCannotTell);
    sum.checks.ReadingAgreed(true);
  }
  EXPECT_EQ(sum.checks.state(), LoaderChecksum::State::kUnknown);
  EXPECT_EQ(sum.checks.Algorithm(), nullptr);
}

}  // namespace
}  // namespace vok
