#include <gtest/gtest.h>

#include <vector>

#include "link/frame.h"
#include "link/link_error.h"
#include "support/fake_serial_port.h"

namespace vok {
namespace {

using test::Bytes;
using test::FakeSerialPort;

struct Received {
  int result;
  Bytes packet;
};

Received Receive(FakeSerialPort& port, const Bytes& line, int capacity = 1500,
                 uint32_t timeout_ms = 200) {
  port.Queue(line);
  std::vector<uint8_t> buffer(capacity > 0 ? capacity : 1);
  const int r = ReceiveFrame(port, capacity, buffer.data(), timeout_ms);
  return {r, r > 0 ? Bytes(buffer.begin(), buffer.begin() + r) : Bytes()};
}

Bytes Sent(const Bytes& packet) {
  FakeSerialPort port;
  port.OpenPort("fake");
  EXPECT_EQ(SendFrame(port, packet.size(), packet.data()), 0);
  EXPECT_EQ(port.writes.size(), 1u);  // one write per frame
  return port.Line();
}

TEST(FrameCodec, SendsTheFramesByteForByte) {
  EXPECT_EQ(Sent({0x00, 0x01, 0x01}), (Bytes{0x10, 0x02, 0x00, 0x01, 0x01, 0x10, 0x03, 0x00}));
  EXPECT_EQ(Sent({0x10, 0x05}), (Bytes{0x10, 0x02, 0x10, 0x10, 0x05, 0x10, 0x03, 0x15}));
  EXPECT_EQ(Sent({0x10}), (Bytes{0x10, 0x02, 0x10, 0x10, 0x10, 0x03, 0x10, 0x10}));
  EXPECT_EQ(Sent({}), (Bytes{0x10, 0x02, 0x10, 0x03, 0x00}));

  FakeSerialPort port;
  port.OpenPort("fake");
  port.failing_writes = 1;
  const uint8_t one = 1;
  EXPECT_EQ(SendFrame(port, 1, &one), kErrWrite);
}

TEST(FrameCodec, ReceivesTheFramesBack) {
  FakeSerialPort port;
  for (const Bytes& packet : {Bytes{0x00, 0x01, 0x01}, Bytes{0x10, 0x05}, Bytes{0x10},
                              Bytes{0x02, 0x10, 0x03, 0x10, 0x10, 0x02}}) {
    const Received r = Receive(port, test::Frame(packet));
    EXPECT_EQ(r.result, static_cast<int>(packet.size()));
    EXPECT_EQ(r.packet, packet);
  }
  EXPECT_EQ(Receive(port, {0x10, 0x02, 0x10, 0x03, 0x00}).result, 0);
  EXPECT_EQ(port.Pending(), 0u);  // nothing read past the checksum
}

TEST(FrameCodec, FindsTheStartMark) {
  FakeSerialPort port;
  Received r = Receive(port, {0x55, 0xAA, 0x10, 0x02, 0x41, 0x10, 0x03, 0x41});
  EXPECT_EQ(r.result, 1);
  EXPECT_EQ(r.packet, Bytes{0x41});

  // DLE x DLE STX: the frame starts at the second DLE.
  r = Receive(port, {0x10, 0x55, 0x10, 0x02, 0x42, 0x10, 0x03, 0x42});
  EXPECT_EQ(r.result, 1);
  EXPECT_EQ(r.packet, Bytes{0x42});

  // A stuffed DLE followed by STX starts nothing; the stream then falls
  // silent, so no frame is found at all.
  EXPECT_EQ(Receive(port, {0x10, 0x10, 0x02, 0x41, 0x10, 0x03, 0x41}).result, kErrTimeout);
  EXPECT_EQ(port.Pending(), 0u);
}

TEST(FrameCodec, RejectsBrokenFrames) {
  FakeSerialPort port;
  EXPECT_EQ(Receive(port, {0x10, 0x02, 0x41, 0x10, 0x07}).result, kErrFrameEscape);
  port.PurgePortInput();
  EXPECT_EQ(Receive(port, {0x10, 0x02, 0x41, 0x10, 0x03, 0x40}).result, kErrFrameChecksum);
  // A DLE as checksum must be doubled.
  EXPECT_EQ(Receive(port, {0x10, 0x02, 0x10, 0x10, 0x10, 0x03, 0x10, 0x55}).result, kErrFrameEscape);
  // Silence before, inside and after the frame body.
  EXPECT_EQ(Receive(port, {}).result, kErrTimeout);
  EXPECT_EQ(Receive(port, {0x10, 0x02, 0x41}).result, kErrTimeout);
  EXPECT_EQ(Receive(port, {0x10, 0x02, 0x41, 0x10}).result, kErrTimeout);
  EXPECT_EQ(Receive(port, {0x10, 0x02, 0x41, 0x10, 0x03}).result, kErrTimeout);
  EXPECT_EQ(Receive(port, {0x10}).result, kErrTimeout);
}

TEST(FrameCodec, PortErrorsAreIgnoredOnlyWhileHunting) {
  FakeSerialPort port;
  // Two failed clears while hunting, then the frame arrives.
  port.failing_clears = 2;
  port.Queue(test::Frame({0x41}), 300);
  uint8_t buffer[1500];
  EXPECT_EQ(ReceiveFrame(port, 1500, buffer, 1000), 1);

  // Inside the frame the error ends the receive.
  port.failing_clears = 1;
  EXPECT_EQ(Receive(port, {0x10, 0x02, 0x41}).result, kErrPortState);
}

TEST(FrameCodec, CapacityIsExact) {
  FakeSerialPort port;
  Bytes full(1500);
  for (size_t i = 0; i < full.size(); ++i) full[i] = static_cast<uint8_t>(i * 7);
  Received r = Receive(port, test::Frame(full));
  EXPECT_EQ(r.result, 1500);
  EXPECT_EQ(r.packet, full);

  full.push_back(0x33);
  EXPECT_EQ(Receive(port, test::Frame(full)).result, kErrFrameOverflow);
  port.PurgePortInput();

  // Stuffed DLEs count once against the capacity.
  const Bytes dles(1500, 0x10);
  r = Receive(port, test::Frame(dles));
  EXPECT_EQ(r.result, 1500);
  EXPECT_EQ(r.packet, dles);
  EXPECT_EQ(Receive(port, test::Frame({1, 2, 3, 4}), 3).result, kErrFrameOverflow);
}

TEST(FrameCodec, HuntForTheStartMarkIsBounded) {
  uint8_t buffer[1500];
  {
    // A peer that chatters without a start mark.
    FakeSerialPort port;
    port.Queue(Bytes(kHuntLimit + 100, 0x55));
    EXPECT_EQ(ReceiveFrame(port, 1500, buffer, 200), kErrTimeout);
    EXPECT_EQ(port.Pending(), 100u);
  }
  {
    // Stuffed DLE pairs never start a frame either.
    FakeSerialPort port;
    Bytes pairs;
    for (size_t i = 0; i < kHuntLimit; ++i) pairs.push_back(0x10);
    port.Queue(pairs);
    port.Queue(Bytes(10, 0x10));
    EXPECT_EQ(ReceiveFrame(port, 1500, buffer, 200), kErrTimeout);
    EXPECT_EQ(port.Pending(), 10u);
  }
  {
    // A port whose every read fails at once.
    FakeSerialPort port;
    port.failing_clears = -1;
    port.attempt_ms = 0;
    EXPECT_EQ(ReceiveFrame(port, 1500, buffer, 200), kErrTimeout);
  }
  {
    // A frame whose start mark ends exactly at the bound is still taken.
    FakeSerialPort port;
    port.Queue(Bytes(kHuntLimit - 2, 0x55));
    port.Queue(test::Frame({0x41}));
    EXPECT_EQ(ReceiveFrame(port, 1500, buffer, 200), 1);
    port.Queue(Bytes(kHuntLimit - 1, 0x55));
    port.Queue(test::Frame({0x41}));
    EXPECT_EQ(ReceiveFrame(port, 1500, buffer, 200), kErrTimeout);
  }
}

}  // namespace
}  // namespace vok
