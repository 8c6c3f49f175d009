#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "link/loader_link.h"
#include "support/fake_serial_port.h"

namespace vok {
namespace {

using test::Bytes;
using test::FakeSerialPort;

// An open link whose loader answers each request delays[i] ms after it was
// written, on a clock read to the millisecond.
struct HeldLine {
  FakeSerialPort* port = new FakeSerialPort;
  LoaderLink link{std::unique_ptr<SerialPort>(port)};
  std::vector<uint32_t> delays;
  size_t next = 0;
  std::vector<ReplyTurnaround> told;

  HeldLine(uint32_t rate, std::vector<uint32_t> d) : delays(std::move(d)) {
    port->attempt_ms = 1;
    port->responder = [this](const Bytes&, uint32_t) {
      port->Queue(test::Frame({0x00, 0x01, 0xAB}), delays.at(next++));
      return Bytes();
    };
    link.OnTurnaroundMeasured([this](const ReplyTurnaround& t) { told.push_back(t); });
    EXPECT_EQ(link.OpenLinkPlain(0, rate), 0);
  }
  int Exchange(uint32_t n = 1) {
    const std::vector<uint8_t> payload(n, 0x01);
    uint8_t reply[1500];
    return link.ExchangePacket(n, payload.data(), 1500, reply, 20);
  }
};

TEST(ReplyTurnaround, TheMedianHoldBeyondTheLineTimeOfTheFirstShortExchanges) {
  struct Case {
    const char* what;
    uint32_t rate;
    std::vector<uint32_t> delays;  // one per exchange, 10 exchanges
    uint32_t held_ms;
  };
  // Both frames of a 1-byte request and reply: 16 bytes, 1 ms at 115200, 16 ms at 9600.
  const Case cases[] = {
      {"an adapter holding 16 ms", 115200, {17, 17, 17, 17, 17, 17, 17, 17, 17, 17}, 16},
      {"the timer at 1 ms", 115200, {2, 2, 2, 2, 2, 2, 2, 2, 2, 2}, 1},
      {"a plain line at 9600 is not held", 9600, {16, 16, 16, 16, 16, 16, 16, 16, 16, 16}, 0},
      {"held at 9600", 9600, {32, 32, 32, 32, 32, 32, 32, 32, 32, 32}, 16},
      {"a slow command and a quick one do not move the median", 115200,
       {1, 1, 1, 300, 17, 17, 17, 17, 0, 0}, 16},
      {"exchanges after the eighth are not measured", 115200, {17, 17, 17, 17, 17, 17, 17, 17, 300, 300}, 16},
  };
  for (const Case& c : cases) {
    HeldLine line(c.rate, c.delays);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(line.Exchange(), 1) << c.what;
    ASSERT_EQ(line.told.size(), 1u) << c.what << ": told once, when the eighth sample is in";
    EXPECT_EQ(line.told[0].samples, ReplyTurnaround::kSamples) << c.what;
    EXPECT_EQ(line.told[0].held_ms, c.held_ms) << c.what;
    line.link.CloseLink();
    EXPECT_EQ(line.told.size(), 1u) << c.what;
    EXPECT_EQ(line.link.Turnaround().held_ms, c.held_ms) << c.what << ": kept after closing";
  }
}

TEST(ReplyTurnaround, LongRequestsAreNotTimedAndEachConnectionStartsAfresh) {
  HeldLine line(115200, {17, 17, 300, 300, 300, 300});
  EXPECT_EQ(line.Exchange(100), 1);  // its line time would hide the hold
  EXPECT_EQ(line.Exchange(1), 1);
  EXPECT_EQ(line.link.Turnaround().samples, 1);
  line.link.CloseLink();
  ASSERT_EQ(line.told.size(), 1u) << "fewer samples are told at closing";
  EXPECT_EQ(line.told[0].held_ms, 16u);
  EXPECT_EQ(line.link.OpenLinkPlain(0, 115200), 0);
  EXPECT_EQ(line.link.Turnaround().samples, 0);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(line.Exchange(), 1);
  line.link.CloseLink();
  ASSERT_EQ(line.told.size(), 2u);
  EXPECT_EQ(line.told[1].held_ms, 299u);
}

}  // namespace
}  // namespace vok
