#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "link/link_error.h"
#include "link/loader_link.h"
#include "support/fake_serial_port.h"

namespace vok {
namespace {

using test::Bytes;
using test::FakeSerialPort;

const Bytes kProbe = {0x00, 0x01, 0x01};

// A reply packet: the length header, then the payload.
Bytes Packet(const Bytes& payload, uint8_t upper_bits = 0) {
  Bytes p(payload.size() + 2);
  p[0] = static_cast<uint8_t>(upper_bits | payload.size() >> 8);
  p[1] = static_cast<uint8_t>(payload.size());
  std::copy(payload.begin(), payload.end(), p.begin() + 2);
  return p;
}

Bytes Unframe(const Bytes& line) {
  Bytes copy = line;
  auto packet = test::TakeFrame(copy);
  EXPECT_TRUE(packet.has_value());
  EXPECT_TRUE(copy.empty());
  return packet.value_or(Bytes());
}

// A target loader on the fake line: answers only at its own rate, and
// after answering a rate packet listens at the rate it names.
struct ScriptedLoader {
  uint32_t rate = 9600;
  size_t rate_reply_length = 7;
  uint32_t agreed_rate = 0;  // 0: the rate asked for
  Bytes operator()(const Bytes& written, uint32_t line_rate) {
    if (line_rate != rate) return {};
    const Bytes packet = Unframe(written);
    if (packet == kProbe) return test::Frame({0x00, 0x01, 0x01});
    if (packet.size() == 7 && packet[0] == 0 && packet[1] == 5 && packet[2] == 3) {
      const uint32_t asked = static_cast<uint32_t>(packet[3]) << 24 | packet[4] << 16 | packet[5] << 8 | packet[6];
      const uint32_t next = agreed_rate ? agreed_rate : asked;
      Bytes reply = {0x00, 0x05, 0x03, static_cast<uint8_t>(next >> 24), static_cast<uint8_t>(next >> 16),
                     static_cast<uint8_t>(next >> 8), static_cast<uint8_t>(next)};
      reply.resize(rate_reply_length);
      rate = next;
      return test::Frame(reply);
    }
    return {};
  }
};

// The device the platform itself gives the name COMn.
std::string PlatformDevice(int n) {
#ifdef _WIN32
  return "\\\\.\\COM" + std::to_string(n);
#else
  return "/dev/ttyS" + std::to_string(n - 1);
#endif
}

// The packets that went onto the line, each with the rate it went at.
using Sent = std::vector<std::pair<Bytes, uint32_t>>;
Sent SentPackets(const FakeSerialPort& port) {
  Sent sent;
  for (const auto& w : port.writes) sent.emplace_back(Unframe(w.bytes), w.rate);
  return sent;
}

struct LinkOnFake {
  LinkOnFake() : port(new FakeSerialPort), link(std::unique_ptr<SerialPort>(port)) {}
  FakeSerialPort* port;
  LoaderLink link;
};

TEST(LinkPortNames, MapToDevices) {
  LoaderLink link(std::make_unique<FakeSerialPort>());
  EXPECT_EQ(link.DeviceFor("COM1"), PlatformDevice(1));
  EXPECT_EQ(link.DeviceFor("COM4"), PlatformDevice(4));
  EXPECT_EQ(link.DeviceFor("COM10"), PlatformDevice(10));
  EXPECT_EQ(link.DeviceFor("/dev/ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(link.DeviceFor("./tty"), "./tty");
  for (const char* odd : {"COM0", "COM", "COM:", "COM1x", "com1", "COM-1", "COM01", "LPT1", "", "COM99999999999"}) {
    EXPECT_EQ(link.DeviceFor(odd), "") << odd;
  }
  link.SetPortTable({{"COM1", "/dev/ttyUSB0"}, {"COM2", ""}, {"COM:", "/dev/odd"}});
  EXPECT_EQ(link.DeviceFor("COM1"), "/dev/ttyUSB0");
  EXPECT_EQ(link.DeviceFor("COM2"), "");
  EXPECT_EQ(link.DeviceFor("COM3"), PlatformDevice(3));
  EXPECT_EQ(link.DeviceFor("COM:"), "/dev/odd");
}

TEST(LinkPortNames, OpeningByIndex) {
  LinkOnFake f;
  f.port->responder = ScriptedLoader{38400};
  for (int index = 0; index < 4; ++index) {
    EXPECT_EQ(f.link.OpenLinkOnPort(index, 38400), 0);
    f.link.CloseLink();
    EXPECT_EQ(f.link.OpenLinkPlain(index, 38400), 0);
    f.link.CloseLink();
  }
  EXPECT_EQ(f.port->opened, (std::vector<std::string>{PlatformDevice(1), PlatformDevice(1),
                                                      PlatformDevice(2), PlatformDevice(2),
                                                      PlatformDevice(3), PlatformDevice(3),
                                                      PlatformDevice(4), PlatformDevice(4)}));
  f.port->opened.clear();
  // Index 9 names "COM:" one way and "COM10" the other; -1 names "COM0".
  EXPECT_EQ(f.link.OpenLinkOnPort(9, 38400), kErrPortOpen);
  EXPECT_EQ(f.link.OpenLinkPlain(-1, 38400), kErrPortOpen);
  EXPECT_TRUE(f.port->opened.empty());
  EXPECT_EQ(f.link.OpenLinkPlain(9, 38400), 0);
  EXPECT_EQ(f.port->opened, std::vector<std::string>{PlatformDevice(10)});
}

TEST(LinkNegotiation, LoaderAtTheRequestedRateGetsNoRatePacket) {
  LinkOnFake f;
  f.port->responder = ScriptedLoader{38400};
  EXPECT_EQ(f.link.OpenLink("COM1", 38400), 0);
  EXPECT_TRUE(f.link.IsOpen());
  EXPECT_EQ(SentPackets(*f.port), (Sent{{kProbe, 38400}}));
  EXPECT_EQ(f.port->Baud(), 38400u);
  EXPECT_TRUE(f.port->busy_waits.empty());
}

TEST(LinkNegotiation, FallsBackToTheLoadersRateAndMovesItUp) {
  LinkOnFake f;
  f.port->responder = ScriptedLoader{9600};
  EXPECT_EQ(f.link.OpenLink("COM1", 38400), 0);
  const auto& w = f.port->writes;
  const Bytes to_38400 = {0x00, 0x05, 0x03, 0x00, 0x00, 0x96, 0x00};
  ASSERT_EQ(SentPackets(*f.port), (Sent{{kProbe, 38400}, {kProbe, 9600}, {to_38400, 9600}, {kProbe, 38400}}));
  // The silent probe costs its 200 ms time-out and three read attempts.
  EXPECT_EQ(w[1].tick - w[0].tick, 330u);
  EXPECT_EQ(f.port->busy_waits, std::vector<uint32_t>{500});
  EXPECT_EQ(w[3].tick - w[2].tick, 500u);
  EXPECT_EQ(f.port->purges, 0);  // negotiation never discards input
  EXPECT_TRUE(f.link.IsOpen());
  EXPECT_EQ(f.port->Baud(), 38400u);
}

TEST(LinkNegotiation, FollowsTheRateTheLoaderNames) {
  LinkOnFake f;
  ScriptedLoader loader{38400};
  loader.agreed_rate = 57600;
  f.port->responder = loader;
  EXPECT_EQ(f.link.OpenLink("COM1", 115200), 0);
  // 115200 silent, 9600 silent, 38400 answers.
  const Bytes to_115200 = {0x00, 0x05, 0x03, 0x00, 0x01, 0xC2, 0x00};
  EXPECT_EQ(SentPackets(*f.port), (Sent{{kProbe, 115200}, {kProbe, 9600}, {kProbe, 38400},
                                        {to_115200, 38400}, {kProbe, 57600}}));
  EXPECT_EQ(f.port->Baud(), 57600u);
}

TEST(LinkNegotiation, Failures) {
  {
    // Nobody answers: every candidate is probed once, the port is closed.
    LinkOnFake f;
    EXPECT_EQ(f.link.OpenLink("COM1", 115200), kErrNoReply);
    EXPECT_EQ(SentPackets(*f.port), (Sent{{kProbe, 115200}, {kProbe, 9600}, {kProbe, 38400}}));
    EXPECT_FALSE(f.port->is_open);
    EXPECT_FALSE(f.link.IsOpen());
    EXPECT_EQ(f.link.ExchangePacket(1, kProbe.data(), 1500, f.link.ReplyBuffer(), 20), kErrNotOpen);
  }
  {
    // A refused rate and a failed send are passed over.
    LinkOnFake f;
    f.port->responder = ScriptedLoader{38400};
    f.port->refused_rates = {115200};
    f.port->failing_writes = 1;  // the probe at 9600
    EXPECT_EQ(f.link.OpenLink("COM1", 115200), kErrPortSetup);  // 38400 answers, then 115200 is refused
    EXPECT_EQ(f.port->rate_requests, (std::vector<uint32_t>{115200, 9600, 38400, 115200}));
    EXPECT_FALSE(f.port->is_open);
  }
  {
    // A 6-byte answer to the rate packet.
    LinkOnFake f;
    ScriptedLoader loader{9600};
    loader.rate_reply_length = 6;
    f.port->responder = loader;
    EXPECT_EQ(f.link.OpenLink("COM1", 38400), kErrPortSetup);
    EXPECT_EQ(f.port->writes.size(), 3u);
    EXPECT_TRUE(f.port->busy_waits.empty());
    EXPECT_FALSE(f.port->is_open);
    EXPECT_FALSE(f.link.IsOpen());
  }
  {
    // The loader never answers at the new rate.
    LinkOnFake f;
    ScriptedLoader loader{9600};
    loader.agreed_rate = 19200;
    f.port->responder = [loader](const Bytes& w, uint32_t rate) mutable {
      return rate == 19200 ? Bytes() : loader(w, rate);
    };
    EXPECT_EQ(f.link.OpenLink("COM1", 38400), kErrPortSetup);
    EXPECT_FALSE(f.port->is_open);
  }
  {
    LinkOnFake f;
    f.port->open_result = kErrPortOpen;
    EXPECT_EQ(f.link.OpenLink("COM1", 38400), kErrPortOpen);
    f.port->open_result = kErrPortSetup;
    EXPECT_EQ(f.link.OpenLink("COM1", 38400), kErrPortSetup);
    EXPECT_TRUE(f.port->writes.empty());
  }
  {
    LinkOnFake f;
    f.port->refused_rates = {250000};
    EXPECT_EQ(f.link.OpenLinkPlain(0, 250000), kErrPortSetup);
    EXPECT_FALSE(f.port->is_open);
    EXPECT_EQ(f.port->Baud(), 250000u);  // the refused rate stays stored
    EXPECT_EQ(f.link.OpenLinkPlain(0, 0), kErrPortSetup);
    EXPECT_EQ(f.link.OpenLinkPlain(0, 19200), 0);
    EXPECT_TRUE(f.port->writes.empty());
  }
}

// An open link on the fake whose loader answers every request with `reply`.
struct OpenLinkOnFake : LinkOnFake {
  explicit OpenLinkOnFake(uint32_t rate = 38400) { EXPECT_EQ(link.OpenLinkPlain(0, rate), 0); }
  void AnswerWith(const Bytes& reply_packet) {
    port->responder = [reply_packet](const Bytes&, uint32_t) { return test::Frame(reply_packet); };
  }
  Bytes Request(size_t i) const { return Unframe(port->writes.at(i).bytes); }
};

TEST(LinkExchange, HeaderAndSequenceNumbers) {
  OpenLinkOnFake f;
  f.AnswerWith(Packet({0xAB}));
  const uint8_t payload[1] = {0x01};
  uint8_t reply[1500];
  for (int i = 0; i < 6; ++i) EXPECT_EQ(f.link.ExchangePacket(1, payload, 1500, reply, 20), 1);
  EXPECT_EQ(reply[0], 0xAB);
  ASSERT_EQ(f.port->writes.size(), 6u);
  const uint8_t first[6] = {0x08, 0x48, 0x88, 0xC8, 0x08, 0x48};
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(f.Request(i), (Bytes{first[i], 0x01, 0x01})) << i;
  EXPECT_EQ(f.link.SequenceCounter(), 6);

  // The largest request carries its length in both header bytes; one more is
  // refused without a byte on the line or a step of the counter.
  Bytes big(1499, 0x10);
  EXPECT_EQ(f.link.ExchangePacket(1498, big.data(), 1500, reply, 20), 1);
  Bytes expected(big.begin(), big.end() - 1);
  expected.insert(expected.begin(), {0x8D, 0xDA});
  EXPECT_EQ(f.Request(6), expected);
  EXPECT_EQ(f.link.ExchangePacket(1499, big.data(), 1500, reply, 20), kErrRequestTooLong);
  EXPECT_EQ(f.link.ExchangeText(1499, big.data(), 1500, reply), kErrRequestTooLong);
  EXPECT_EQ(f.port->writes.size(), 7u);
  EXPECT_EQ(f.link.SequenceCounter(), 7);

  // A new opening starts the counter again.
  f.link.CloseLink();
  EXPECT_EQ(f.link.ExchangePacket(1, payload, 1500, reply, 20), kErrNotOpen);
  EXPECT_EQ(f.link.ExchangeText(1, payload, 1500, reply), kErrNotOpen);
  EXPECT_EQ(f.link.OpenLinkPlain(0, 38400), 0);
  EXPECT_EQ(f.link.SequenceCounter(), 0);
}

TEST(LinkExchange, RepliesAreCheckedAndRetried) {
  uint8_t reply[1500] = {};
  const uint8_t payload[1] = {0x01};
  {
    // Header length disagrees with the frame: three identical attempts.
    OpenLinkOnFake f;
    f.AnswerWith({0x00, 0x02, 0xAA});
    EXPECT_EQ(f.link.ExchangePacket(1, payload, 1500, reply, 20), kErrNoReply);
    ASSERT_EQ(f.port->writes.size(), 3u);
    EXPECT_EQ(f.port->writes[1].bytes, f.port->writes[0].bytes);
    EXPECT_EQ(f.port->writes[2].bytes, f.port->writes[0].bytes);
    EXPECT_EQ(f.port->purges, 3);
    EXPECT_EQ(f.link.SequenceCounter(), 1);
  }
  {
    // Stale input is discarded before each attempt; the second attempt works.
    OpenLinkOnFake f;
    int calls = 0;
    f.port->responder = [&](const Bytes&, uint32_t) {
      return ++calls == 1 ? Bytes() : test::Frame(Packet({0x01, 0x02}, 0xF8));  // odd upper bits
    };
    f.port->Queue(test::Frame(Packet({0xEE})));  // would be taken without the purge
    EXPECT_EQ(f.link.ExchangePacket(1, payload, 2, reply, 20), 2);
    EXPECT_EQ(reply[0], 0x01);
    EXPECT_EQ(reply[1], 0x02);
    EXPECT_EQ(f.port->writes.size(), 2u);
  }
  {
    // Failed sends spend attempts.
    OpenLinkOnFake f;
    f.AnswerWith(Packet({0x05}));
    f.port->failing_writes = 2;
    EXPECT_EQ(f.link.ExchangePacket(1, payload, 1500, reply, 20), 1);
    f.port->failing_writes = 3;
    EXPECT_EQ(f.link.ExchangePacket(1, payload, 1500, reply, 20), kErrNoReply);
    EXPECT_EQ(f.port->writes.size(), 1u);
  }
  {
    // A reply too big for the caller is not retried, and nothing is copied.
    OpenLinkOnFake f;
    f.AnswerWith(Packet({1, 2, 3, 4, 5}));
    reply[4] = 0x77;
    EXPECT_EQ(f.link.ExchangePacket(1, payload, 4, reply, 20), kErrReplyTooLong);
    EXPECT_EQ(f.port->writes.size(), 1u);
    EXPECT_EQ(reply[4], 0x77);
    EXPECT_EQ(f.link.ExchangePacket(1, payload, 5, reply, 20), 5);
  }
  {
    // A frame of one byte has no header.
    OpenLinkOnFake f;
    f.AnswerWith({0x00});
    EXPECT_EQ(f.link.ExchangePacket(1, payload, 1500, reply, 20), kErrNoReply);
  }
}

// The per-byte time-out, measured to the millisecond: with 1 ms attempts a
// silent attempt lasts T + 2.
uint32_t SilentAttemptMs(uint32_t rate, uint32_t n, uint32_t extra) {
  OpenLinkOnFake f(rate);
  f.port->attempt_ms = 1;
  Bytes payload(n, 0x01);
  const uint32_t start = f.port->Now();
  EXPECT_EQ(f.link.ExchangePacket(n, payload.data(), 1500, f.link.ReplyBuffer(), extra), kErrNoReply);
  EXPECT_EQ(f.port->writes.size(), 3u);
  const uint32_t elapsed = f.port->Now() - start;
  EXPECT_EQ(elapsed % 3, 0u);
  return elapsed / 3 - 2;
}

TEST(LinkExchange, TimeOutScalesWithRateAndCommand) {
  EXPECT_EQ(SilentAttemptMs(38400, 1, 20), 611u);
  EXPECT_EQ(SilentAttemptMs(9600, 1, 20), 1785u);
  EXPECT_EQ(SilentAttemptMs(38400, 5, 12000), 12592u);
  EXPECT_EQ(SilentAttemptMs(250000, 1498, 0), 320u);
}

TEST(LinkExchange, TextExchange) {
  const std::string text = "START LOADER\r";
  const auto* payload = reinterpret_cast<const uint8_t*>(text.data());
  uint8_t buffer[1500] = {};
  {
    OpenLinkOnFake f;
    f.port->responder = [](const Bytes&, uint32_t) { return Bytes{'O', 'K', '\r'}; };
    const uint32_t start = f.port->Now();
    EXPECT_EQ(f.link.ExchangeText(static_cast<uint32_t>(text.size()), payload, 1500, buffer), 3);
    EXPECT_EQ(std::string(buffer, buffer + 3), "OK\r");
    EXPECT_EQ(f.port->sleeps, std::vector<uint32_t>{2000});
    EXPECT_EQ(f.port->Now() - start, 2000u + 220u);  // the pause, then one read time-out
    Bytes expected(text.begin(), text.end());
    expected.insert(expected.begin(), {0x08, 0x0D});
    EXPECT_EQ(f.Request(0), expected);
    EXPECT_EQ(f.port->purges, 1);
    EXPECT_EQ(f.link.SequenceCounter(), 1);
  }
  {
    OpenLinkOnFake f;
    EXPECT_EQ(f.link.ExchangeText(1, payload, 1500, buffer), 0);  // silent
    f.port->responder = [](const Bytes&, uint32_t) { return Bytes{'a', 'b', 'c', 'd'}; };
    EXPECT_EQ(f.link.ExchangeText(1, payload, 3, buffer), 3);
    EXPECT_EQ(f.port->Pending(), 1u);
    EXPECT_EQ(f.link.ExchangeText(1, payload, 0, buffer), 0);
    EXPECT_EQ(f.port->Pending(), 4u);  // the purge ran, nothing was read
    f.port->failing_clears = 1;
    EXPECT_EQ(f.link.ExchangeText(1, payload, 1500, buffer), kErrPortState);
    f.port->failing_writes = 1;
    const size_t sleeps = f.port->sleeps.size();
    EXPECT_EQ(f.link.ExchangeText(1, payload, 1500, buffer), kErrWrite);
    EXPECT_EQ(f.port->sleeps.size(), sleeps);
    EXPECT_EQ(f.link.SequenceCounter(), 5);
  }
}

}  // namespace
}  // namespace vok
