#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "cli/cli_app.h"
#include "cli/gang.h"
#include "cli/port_probe.h"
#include "cli/sha256.h"
#include "support/temp_dir.h"
#include "support/voksim_process.h"

namespace vok::cli {
namespace {

TEST(CliPorts, ListsTheComNamesThenTheDevicesWithTheirComNamesAndIdentities) {
  SerialPortInfo adapter;
  adapter.device = "/dev/ttyUSB0";
  adapter.kind = PortKind::kUsb;
  adapter.stable_name = "/dev/serial/by-id/usb-Maker_Cable_42-if00";
  adapter.socket_name = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0";
  adapter.vendor_id = 0x0403;
  adapter.product_id = 0x6001;
  adapter.maker = "Maker";
  adapter.product = "Cable";
  adapter.serial_number = "42";
  SerialPortInfo uart;
  uart.device = "/dev/ttyS1";

  EXPECT_EQ(PortListing({{"COM3", "/dev/odd"}}, {uart, adapter}),
            (std::vector<std::string>{
                "COM1=/dev/ttyUSB0", "COM2=/dev/ttyS1", "COM3=/dev/odd", "COM4=/dev/ttyS3", "",
                "Serial devices of this system:", "  /dev/ttyS1 (COM2 by default): UART",
                "  /dev/ttyUSB0 (COM1 by default): USB adapter 0403:6001, Maker, Cable, serial number 42",
                "    /dev/serial/by-id/usb-Maker_Cable_42-if00",
                "    /dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0"}));
  EXPECT_EQ(PortListing({}, {}).back(), "  (none found)");
  // An adapter that a [Ports] entry names has no number by default besides.
  const std::vector<std::string> named = PortListing({{"COM3", "/dev/ttyUSB0"}}, {adapter});
  EXPECT_EQ(named[0], "COM1=/dev/ttyS0");
  EXPECT_EQ(named[6], "  /dev/ttyUSB0 (COM3): USB adapter 0403:6001, Maker, Cable, serial number 42");
  // An FTDI adapter's latency timer, where sysfs gives it.
  adapter.latency_timer_ms = 16;
  EXPECT_EQ(PortListing({}, {adapter})[6],
            "  /dev/ttyUSB0 (COM1 by default): USB adapter 0403:6001, Maker, Cable, serial number 42, "
            "latency timer 16 ms");
}

}  // namespace
}  // namespace vok::cli

namespace vok::cli {
namespace {

TEST(CliGang, Sha256OfTheStandardsTestVectors) {
  const struct {
    std::string message;
    const char* digest;
  } kVectors[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& v : kVectors) {
    Sha256 whole;
    whole.Add(reinterpret_cast<const uint8_t*>(v.message.data()), v.message.size());
    EXPECT_EQ(whole.HexDigest(), v.digest) << v.message.size();
    // In pieces that straddle the 64-byte blocks.
    Sha256 pieces;
    for (size_t at = 0; at < v.message.size(); at += 37)
      pieces.Add(reinterpret_cast<const uint8_t*>(v.message.data()) + at,
                 std::min<size_t>(37, v.message.size() - at));
    EXPECT_EQ(pieces.HexDigest(), v.digest) << v.message.size();
  }
}

TEST(CliGang, TheChildrensLinesTheRecordAndTheRepeatedCommandLine) {
  const auto m = JsonMembers(
      R"({"event":"result","ok":false,"exit":1,"message":"a \"b\"\\c\u00e9","components":[{"x":"}"}],"n":null})");
  EXPECT_EQ(m.at("event"), "result");
  EXPECT_EQ(m.at("ok"), "false");
  EXPECT_EQ(m.at("exit"), "1");
  EXPECT_EQ(m.at("message"), "a \"b\"\\c\xe9");
  EXPECT_EQ(m.at("components"), R"([{"x":"}"}])");
  EXPECT_EQ(m.at("n"), "null");
  EXPECT_TRUE(JsonMembers("terminate called after throwing").empty());

  EXPECT_EQ(CsvField("plain"), "plain");
  EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
  EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");

  const struct {
    std::vector<std::string> args;
    std::vector<std::string> again;
  } kRepeats[] = {
      {{"-p", "COM1", "--port", "COM2", "--port=COM3", "-pCOM4", "--baud", "115200", "update", "u.sss"},
       {"-p", "COM2", "--baud", "115200", "update", "u.sss"}},
      // A file named like an option after "--" stays.
      {{"-p", "all", "update", "--", "-p"}, {"-p", "COM2", "update", "--", "-p"}},
  };
  for (const auto& r : kRepeats) EXPECT_EQ(ArgsForPorts(r.args, {"COM2"}), r.again);
}

}  // namespace
}  // namespace vok::cli

namespace vok::cli {
namespace {

// -p auto and -p all ask each device at once, and nothing beyond the probe
// goes to a loader: the run that follows makes its own connection.
TEST(CliProbe, FindsTheLoaderAndTheApplicationAndSendsNothingElse) {
  test::TempDir dir;
  const std::string trace = dir.file("loader.trace");
  test::VoksimProcess loader({"--trace", trace});
  test::VoksimProcess silent({"--silent"});
  test::VoksimProcess application({"--app"});
  ASSERT_TRUE(loader.started() && silent.started() && application.started());
  const auto start = std::chrono::steady_clock::now();
  const std::vector<ProbeAnswer> answers = ProbePorts(
      {loader.device(), silent.device(), application.device(), dir.file("no-such-device")}, 115200);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_EQ(answers.size(), 4u);
  const struct {
    bool answered;
    const char* who;
  } kExpected[] = {{true, "the loader answers"},
                   {false, "silent"},
                   {true, "the application answers"},
                   {false, "cannot be opened"}};
  for (size_t i = 0; i < answers.size(); ++i) {
    EXPECT_EQ(answers[i].answered, kExpected[i].answered) << answers[i].device;
    EXPECT_EQ(answers[i].who, kExpected[i].who) << answers[i].device;
  }
  // At once, not one after the other (a silent device alone takes about 3 s).
  EXPECT_LT(seconds, 10.0);
  loader.Stop();
  std::ifstream in(trace);
  size_t frames = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.find("H>S") == std::string::npos) continue;
    ++frames;
    // The probe, or the probe at a rate the loader does not listen at.
    EXPECT_TRUE(line.find("| probe") != std::string::npos ||
                line.find("| not understood") != std::string::npos)
        << line;
  }
  EXPECT_GE(frames, 1u);
}

}  // namespace
}  // namespace vok::cli
