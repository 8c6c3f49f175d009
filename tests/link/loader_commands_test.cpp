#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

#include "link/link_error.h"
#include "link/loader_commands.h"
#include "link/loader_link.h"
#include "support/fake_serial_port.h"

namespace vok {
namespace {

using test::Bytes;
using test::FakeSerialPort;

// An open link whose loader answers with scripted reply payloads (one per
// request; the last one repeats) and records the request payloads.
struct Loader {
  Loader() : port(new FakeSerialPort), link(std::unique_ptr<SerialPort>(port)) {
    EXPECT_EQ(link.OpenLinkPlain(0, 38400), 0);
    port->responder = [this](const Bytes& written, uint32_t) {
      Bytes stream = written;
      auto packet = test::TakeFrame(stream);
      EXPECT_TRUE(packet && packet->size() >= 2);
      requests.emplace_back(packet->begin() + 2, packet->end());
      if (replies.empty()) return Bytes();
      const Bytes payload = replies.size() > 1 ? replies.front() : replies.back();
      if (replies.size() > 1) replies.erase(replies.begin());
      Bytes reply(payload);
      reply.insert(reply.begin(), {static_cast<uint8_t>(payload.size() >> 8), static_cast<uint8_t>(payload.size())});
      return test::Frame(reply);
    };
  }
  void Answer(const Bytes& payload) { replies = {payload}; }

  FakeSerialPort* port;
  LoaderLink link;
  std::vector<Bytes> replies;
  std::vector<Bytes> requests;
};

TEST(LinkCommands, GetLoaderVersion) {
  Loader l;
  uint8_t v1 = 0, v2 = 0, v3 = 0;
  l.Answer({0x01, 2, 1, 7});
  EXPECT_EQ(GetLoaderVersion(l.link, v1, v2, v3), 0);
  EXPECT_EQ(l.requests.back(), Bytes{0x01});
  EXPECT_EQ(v1, 2);
  EXPECT_EQ(v2, 1);
  EXPECT_EQ(v3, 7);
  for (const Bytes& wrong : {Bytes{0x01, 2, 1}, Bytes{0x01, 2, 1, 7, 0}, Bytes{0x02, 2, 1, 7}, Bytes{}}) {
    l.Answer(wrong);
    v1 = 9;
    EXPECT_EQ(GetLoaderVersion(l.link, v1, v2, v3), kErrWrongReply);
    EXPECT_EQ(v1, 9);
  }
  l.Answer({});
  l.replies.clear();
  EXPECT_EQ(GetLoaderVersion(l.link, v1, v2, v3), kErrNoReply);
}

TEST(LinkCommands, ReadTargetMemory) {
  Loader l;
  uint8_t data[8];
  auto fresh = [&] { std::memset(data, 0x11, sizeof data); };

  fresh();
  l.Answer({0x02, 0x00, 0x08, 0x10, 0x00, 0x00, 0x04, 0xA1, 0xA2, 0xA3, 0xA4});
  EXPECT_EQ(ReadTargetMemory(l.link, 0x81000, 4, data), 0);
  EXPECT_EQ(l.requests.back(), (Bytes{0x02, 0x00, 0x08, 0x10, 0x00, 0x00, 0x04}));
  EXPECT_EQ(Bytes(data, data + 5), (Bytes{0xA1, 0xA2, 0xA3, 0xA4, 0x11}));

  // Erased memory: no data bytes in the reply.
  fresh();
  l.Answer({0x02, 0x00, 0x08, 0x10, 0x00, 0xFF, 0xFF});
  EXPECT_EQ(ReadTargetMemory(l.link, 0x81000, 4, data), 0);
  EXPECT_EQ(Bytes(data, data + 5), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x11}));

  // The echoed address is not compared, extra bytes are ignored.
  fresh();
  l.Answer({0x02, 0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x02, 0x55, 0x66, 0x77});
  EXPECT_EQ(ReadTargetMemory(l.link, 0x81000, 2, data), 0);
  EXPECT_EQ(Bytes(data, data + 3), (Bytes{0x55, 0x66, 0x11}));

  fresh();
  l.Answer({0x02, 0x00, 0x08, 0x10, 0x00, 0x00, 0x03, 0xA1, 0xA2, 0xA3});
  EXPECT_EQ(ReadTargetMemory(l.link, 0x81000, 4, data), kErrReadLength);
  l.Answer({0x03, 0x00, 0x08, 0x10, 0x00, 0x00, 0x04, 0xA1, 0xA2, 0xA3, 0xA4});
  EXPECT_EQ(ReadTargetMemory(l.link, 0x81000, 4, data), kErrWrongReply);
  // Too short to carry the data its length field announces, or the field.
  l.Answer({0x02, 0x00, 0x08, 0x10, 0x00, 0x00, 0x04, 0xA1, 0xA2});
  EXPECT_EQ(ReadTargetMemory(l.link, 0x81000, 4, data), kErrWrongReply);
  l.Answer({0x02, 0x00, 0x08, 0x10, 0x00, 0xFF});
  EXPECT_EQ(ReadTargetMemory(l.link, 0x81000, 4, data), kErrWrongReply);
  l.Answer({});
  EXPECT_EQ(ReadTargetMemory(l.link, 0x81000, 4, data), kErrWrongReply);
  EXPECT_EQ(Bytes(data, data + 8), Bytes(8, 0x11));

  // The largest read that fits a reply.
  std::vector<uint8_t> big(1491);
  Bytes reply = {0x02, 0, 0, 0, 0, 0x05, 0xD3};
  for (int i = 0; i < 1491; ++i) reply.push_back(static_cast<uint8_t>(i));
  l.Answer(reply);
  EXPECT_EQ(ReadTargetMemory(l.link, 0, 1491, big.data()), 0);
  EXPECT_EQ(Bytes(big.begin(), big.end()), Bytes(reply.begin() + 7, reply.end()));
}

TEST(LinkCommands, ProgramTargetMemory) {
  Loader l;
  const uint8_t data[3] = {0x10, 0x20, 0x30};
  uint32_t address = 0;
  l.Answer({0x03, 0x00, 0x00, 0x08, 0x10, 0x00});
  EXPECT_EQ(ProgramTargetMemory(l.link, 0x81000, 3, data, address), 0);
  EXPECT_EQ(l.requests.back(), (Bytes{0x03, 0x00, 0x08, 0x10, 0x00, 0x00, 0x03, 0x10, 0x20, 0x30}));
  EXPECT_EQ(address, 0x81000u);

  address = 0;
  l.Answer({0x03, 0x01, 0x00, 0x08, 0x10, 0x00});
  EXPECT_EQ(ProgramTargetMemory(l.link, 0x81000, 3, data, address), kErrProgramFailed);
  EXPECT_EQ(address, 0x81000u);

  // No accepted reply leaves the output alone.
  address = 0x1234;
  for (const Bytes& wrong : {Bytes{0x03, 0x00, 0x00, 0x08, 0x10}, Bytes{0x03, 0x00, 0x00, 0x08, 0x10, 0x00, 0x00},
                             Bytes{0x04, 0x00, 0x00, 0x08, 0x10, 0x00}}) {
    l.Answer(wrong);
    EXPECT_EQ(ProgramTargetMemory(l.link, 0x81000, 3, data, address), kErrWrongReply);
  }
  l.replies.clear();
  EXPECT_EQ(ProgramTargetMemory(l.link, 0x81000, 3, data, address), kErrNoReply);
  EXPECT_EQ(address, 0x1234u);

  // 1491 data bytes fill the request; more are refused before anything is
  // copied or sent.
  std::vector<uint8_t> big(4096, 0x5A);
  l.Answer({0x03, 0x00, 0x00, 0x00, 0x00, 0x00});
  EXPECT_EQ(ProgramTargetMemory(l.link, 0, 1491, big.data(), address), 0);
  EXPECT_EQ(l.requests.back().size(), 1498u);
  const size_t sent = l.port->writes.size();
  const uint8_t counter = l.link.SequenceCounter();
  EXPECT_EQ(ProgramTargetMemory(l.link, 0, 1492, big.data(), address), kErrRequestTooLong);
  EXPECT_EQ(ProgramTargetMemory(l.link, 0, 4096, big.data(), address), kErrRequestTooLong);
  EXPECT_EQ(l.port->writes.size(), sent);
  EXPECT_EQ(l.link.SequenceCounter(), counter);
}

TEST(LinkCommands, EraseAndChecksum) {
  Loader l;
  l.Answer({0x04, 0x00});
  EXPECT_EQ(EraseFlashSector(l.link, 0x90000), 0);
  EXPECT_EQ(l.requests.back(), (Bytes{0x04, 0x00, 0x09, 0x00, 0x00}));
  l.Answer({0x04, 0x01});
  EXPECT_EQ(EraseFlashSector(l.link, 0x90000), kErrEraseFailed);
  l.Answer({0x04, 0x00, 0x00});
  EXPECT_EQ(EraseFlashSector(l.link, 0x90000), kErrWrongReply);
  l.Answer({0x05, 0x00});
  EXPECT_EQ(EraseFlashSector(l.link, 0x90000), kErrWrongReply);

  uint16_t sum = 0;
  l.Answer({0x05, 0x12, 0x34});
  EXPECT_EQ(GetTargetChecksum(l.link, 0x84000, 0x1000, sum), 0);
  EXPECT_EQ(l.requests.back(), (Bytes{0x05, 0x00, 0x08, 0x40, 0x00, 0x00, 0x00, 0x10, 0x00}));
  EXPECT_EQ(sum, 0x1234);
  l.Answer({0x05, 0x12, 0x34, 0x56});
  EXPECT_EQ(GetTargetChecksum(l.link, 0x84000, 0x1000, sum), kErrWrongReply);
  l.Answer({0x04, 0x12, 0x34});
  EXPECT_EQ(GetTargetChecksum(l.link, 0x84000, 0x1000, sum), kErrWrongReply);
  EXPECT_EQ(sum, 0x1234);
}

TEST(LinkCommands, StartTargetApplicationAlwaysCloses) {
  {
    Loader l;
    l.Answer({0x99, 0x98});  // content not examined
    EXPECT_EQ(StartTargetApplication(l.link), 0);
    EXPECT_EQ(l.requests.back(), Bytes{0x06});
    EXPECT_FALSE(l.link.IsOpen());
    EXPECT_FALSE(l.port->is_open);
  }
  {
    Loader l;
    EXPECT_EQ(StartTargetApplication(l.link), kErrNoReply);
    EXPECT_FALSE(l.link.IsOpen());
    EXPECT_FALSE(l.port->is_open);
    EXPECT_EQ(StartTargetApplication(l.link), kErrNotOpen);
  }
}

TEST(LinkCommands, SendTextCommand) {
  Loader l;
  const std::string command = "START LOADER";
  auto answer = [&](const std::string& text) {
    l.port->responder = [text](const Bytes&, uint32_t) { return Bytes(text.begin(), text.end()); };
    return SendTextCommand(l.link, command);
  };
  EXPECT_EQ(answer("START LOADER OK\r"), 2);
  const Bytes request = test::Frame({0x08, 0x0D, 'S', 'T', 'A', 'R', 'T', ' ', 'L', 'O', 'A', 'D', 'E', 'R', '\r'});
  EXPECT_EQ(l.port->writes.back().bytes, request);
  EXPECT_EQ(answer("START LOADER BUSY\r"), 1);
  EXPECT_EQ(answer(std::string("START LOADER OK\r\0junk", 21)), 2);
  EXPECT_EQ(answer("START LOADER OK\r\n"), 0);
  EXPECT_EQ(answer(" START LOADER OK\r"), 0);
  EXPECT_EQ(answer("START LOADER ok\r"), 0);
  EXPECT_EQ(answer(""), 0);
  EXPECT_EQ(SendTextCommand(l.link, std::string(1498, 'A')), 0);  // too long with its CR
  l.link.CloseLink();
  EXPECT_EQ(answer("START LOADER OK\r"), 0);
}

// Each command's extra time-out, seen as the length of a silent attempt.
TEST(LinkCommands, ExtraTimeOuts) {
  struct Case {
    const char* name;
    uint32_t request_length;
    uint32_t extra;
    std::function<int(LoaderLink&)> run;
  };
  uint8_t v = 0;
  uint8_t data[4] = {};
  uint32_t address = 0;
  uint16_t sum = 0;
  const Case cases[] = {
      {"version", 1, 20, [&](LoaderLink& k) { return GetLoaderVersion(k, v, v, v); }},
      {"read", 7, 20, [&](LoaderLink& k) { return ReadTargetMemory(k, 0, 4, data); }},
      {"program", 11, 2000, [&](LoaderLink& k) { return ProgramTargetMemory(k, 0, 4, data, address); }},
      {"erase", 5, 12000, [&](LoaderLink& k) { return EraseFlashSector(k, 0); }},
      {"checksum", 9, 4000, [&](LoaderLink& k) { return GetTargetChecksum(k, 0, 4, sum); }},
      {"start", 1, 200, [&](LoaderLink& k) { return StartTargetApplication(k); }},
  };
  for (const Case& c : cases) {
    Loader l;
    l.port->attempt_ms = 1;
    const uint32_t start = l.port->Now();
    EXPECT_EQ(c.run(l.link), kErrNoReply) << c.name;
    const uint32_t per_attempt = ((c.request_length + 2) * 10000 + 15000000) / 38400 + c.extra + 200;
    EXPECT_EQ(l.port->Now() - start, 3 * (per_attempt + 2)) << c.name;
  }
}

}  // namespace
}  // namespace vok
