#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "link/loader_link.h"
#include "support/fake_serial_port.h"

namespace vok {
namespace {

using test::Bytes;

// The loader answers each request delays[i] ms after it was written; a
// 1-byte request and reply are 16 bytes in their frames, 1 ms on the line at
// 115200 and 16 ms at 9600, which is no hold.
constexpr uint32_t kLong = 1000;  // added to a delay: the request is too long to time

TEST(ReplyTurnaround, TheMedianHoldBeyondTheLineTimeOfTheFirstShortExchanges) {
  const struct {
    uint32_t rate;
    std::vector<uint32_t> delays;
    uint32_t held_ms;
    int samples;
  } cases[] = {
      {115200, {17, 17, 17, 17, 17, 17, 17, 17, 300, 300}, 16, 8},  // after the eighth: not timed
      {115200, {2, 2, 2, 2, 2, 2, 2, 2, 2, 2}, 1, 8},
      {9600, {16, 16, 16, 16, 16, 16, 16, 16, 16, 16}, 0, 8},
      {9600, {32, 32, 32, 32, 32, 32, 32, 32, 32, 32}, 16, 8},
      {115200, {1, 1, 1, 300, 17, 17, 17, 17, 0, 0}, 16, 8},  // a slow and a quick one: the median
      {115200, {kLong + 17, 17}, 16, 1},                             // told at closing with fewer
      {115200, {300, 300, 300}, 299, 3},
  };
  for (const auto& c : cases) {
    auto* port = new test::FakeSerialPort;
    LoaderLink link{std::unique_ptr<SerialPort>(port)};
    port->attempt_ms = 1;
    size_t next = 0;
    port->responder = [&](const Bytes&, uint32_t) {
      port->Queue(test::Frame({0x00, 0x01, 0xAB}), c.delays[next++] % kLong);
      return Bytes();
    };
    std::vector<ReplyTurnaround> told;
    link.OnTurnaroundMeasured([&](const ReplyTurnaround& t) { told.push_back(t); });
    for (int connection = 0; connection < 2; ++connection) {
      ASSERT_EQ(link.OpenLinkPlain(0, c.rate), 0);
      next = 0;
      for (uint32_t d : c.delays) {
        const std::vector<uint8_t> payload(d >= kLong ? 100 : 1, 0x01);
        uint8_t reply[1500];
        EXPECT_EQ(link.ExchangePacket(static_cast<uint32_t>(payload.size()), payload.data(), 1500, reply, 20), 1);
      }
      link.CloseLink();
      ASSERT_EQ(told.size(), connection + 1u) << c.rate << ": once for each connection";
      EXPECT_EQ(told.back().samples, c.samples) << c.rate;
      EXPECT_EQ(told.back().held_ms, c.held_ms) << c.rate << " " << c.delays[0];
      EXPECT_EQ(link.Turnaround().held_ms, c.held_ms) << "kept after closing";
    }
  }
}

}  // namespace
}  // namespace vok
