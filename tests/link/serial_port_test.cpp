#include <gtest/gtest.h>

#include "link/link_error.h"
#include "support/fake_serial_port.h"

namespace vok {
namespace {

using test::FakeSerialPort;

// Milliseconds one ReadPortByte took on the fake's clock.
uint32_t Timed(FakeSerialPort& port, uint32_t timeout_ms, int expected, uint8_t* byte = nullptr) {
  uint8_t scratch = 0;
  const uint32_t start = port.Now();
  EXPECT_EQ(port.ReadPortByte(byte ? byte : &scratch, timeout_ms), expected) << "T=" << timeout_ms;
  return port.Now() - start;
}

TEST(LinkSerialPort, MissingByteIsGivenUpBetweenTPlus110AndTPlus220) {
  for (uint32_t t : {0u, 1u, 99u, 100u, 109u, 110u, 111u, 611u, 1785u, 12592u}) {
    FakeSerialPort port;
    const uint32_t elapsed = Timed(port, t, kErrTimeout);
    EXPECT_GE(elapsed, t + 110) << "T=" << t;
    EXPECT_LE(elapsed, t + 220) << "T=" << t;
    EXPECT_LT(port.Now(), FakeSerialPort::kStartTick);  // the counter wrapped meanwhile
  }
}

TEST(LinkSerialPort, LateByteWithinTheLastAttemptIsTaken) {
  FakeSerialPort port;
  port.Queue({0x5A}, 215);
  uint8_t byte = 0;
  Timed(port, 100, 0, &byte);
  EXPECT_EQ(byte, 0x5A);

  port.Queue({0x5B}, 225);
  EXPECT_EQ(Timed(port, 100, kErrTimeout), 220u);
  EXPECT_EQ(port.Pending(), 1u);
  EXPECT_EQ(Timed(port, 100, 0, &byte), 5u);
  EXPECT_EQ(byte, 0x5B);
}

TEST(LinkSerialPort, ErrorStateThatCannotBeClearedEndsTheRead) {
  FakeSerialPort port;
  port.failing_clears = 1;
  EXPECT_EQ(Timed(port, 1000, kErrPortState), 110u);
  // Cleared errors cost one empty attempt each and the wait goes on.
  port.Queue({0x07}, 500);
  EXPECT_EQ(Timed(port, 1000, 0), 500u);
}

}  // namespace
}  // namespace vok
