#include <gtest/gtest.h>

#include "sim/command_line.h"

namespace vok::sim {
namespace {

TEST(SimCommandLine, EveryOptionIsParsed) {
  CommandLine cl;
  std::string error;
  const std::vector<std::string> args{
      "--boot-rate", "19200", "--max-rate=0x1C200", "--app", "--busy", "--silent", "--realtime",
      "--image", "a.sss", "--state", "s.bin", "--trace", "t.txt", "--stats", "st.json", "--link", "/tmp/l",
      "--component", "0,1.2.3,Name, with comma,0x84040,100", "--bad-checksum", "VOK Kernel",
      "--cut-after", "3", "--tear", "4", "--fail-erase", "0x86000", "--fail-program", "540672",
      "--ignore-program", "0x88100", "--ignore-program", "0x88200", "--corrupt-reply", "5",
      "--noise", "1e-3", "--seed", "42", "--loader-version", "3.0.1", "--blank",
      "--damage-program", "6", "--damage-read=7", "--checksum", "fletcher-16",
      "--partial-erase", "0xB0400:0x400", "--damage-kind", "sum", "--checksum-skew=start+1",
      "--latency", "16"};
  ASSERT_EQ(ParseCommandLine(args, cl, error), 0) << error;
  const Options& o = cl.options;
  EXPECT_EQ(o.boot_rate, 19200u);
  EXPECT_EQ(o.max_rate, 115200u);
  EXPECT_TRUE(o.app && o.busy && o.silent && o.realtime);
  EXPECT_FALSE(o.demo_firmware);
  EXPECT_EQ(o.image_file, "a.sss");
  EXPECT_EQ(o.state_file, "s.bin");
  EXPECT_EQ(o.trace_file, "t.txt");
  EXPECT_EQ(cl.stats_file, "st.json");
  EXPECT_EQ(cl.link, "/tmp/l");
  ASSERT_EQ(o.components.size(), 1u);
  EXPECT_EQ(o.components[0].type, 0);
  EXPECT_EQ(o.components[0].version[2], 3);
  EXPECT_EQ(o.components[0].name, "Name, with comma");
  EXPECT_EQ(o.components[0].start, 0x84040u);
  EXPECT_EQ(o.components[0].length, 100u);
  EXPECT_EQ(o.bad_checksum, std::vector<std::string>{"VOK Kernel"});
  EXPECT_EQ(o.cut_after, 3);
  EXPECT_EQ(o.tear, 4);
  EXPECT_EQ(o.fail_erase, std::set<uint32_t>{0x86000});
  EXPECT_EQ(o.fail_program, std::set<uint32_t>{0x84000});
  EXPECT_EQ(o.ignore_program, (std::set<uint32_t>{0x88100, 0x88200}));
  EXPECT_EQ(o.corrupt_reply, 5);
  EXPECT_EQ(o.damage_program, 6);
  EXPECT_EQ(o.damage_read, 7);
  EXPECT_EQ(o.checksum, LoaderSum::kFletcher16);
  EXPECT_EQ(o.partial_erase, 0xB0400u);
  EXPECT_EQ(o.partial_erase_length, 0x400u);
  EXPECT_EQ(o.latency_ms, 16u);
  EXPECT_EQ(o.damage, DamageKind::kSumBlind);
  EXPECT_EQ(o.checksum_skew, ChecksumSkew::kStartLate);
  EXPECT_DOUBLE_EQ(o.noise, 0.001);
  EXPECT_EQ(o.seed, 42u);
  EXPECT_EQ(o.loader_version[0], 3);
  EXPECT_FALSE(cl.help);
}

TEST(SimCommandLine, BadInputIsRefused) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--frobnicate"}, {"--state"}, {"--fail-erase", "0x"}, {"--fail-erase", "0x1000000000"},
           {"--fail-program", "12ab"}, {"--cut-after", "0"}, {"--noise", "2"}, {"--noise", "x"},
           {"--component", "1,1.2,X,0x84040,4"}, {"--component", "300,1.2.3,X,0x84040,4"},
           {"--component", "1,1.2.3,0x84040,4"}, {"--app=1"}, {"--boot-rate", "0"}, {"--seed", "-1"},
           {"--latency", "1001"}, {"--latency", "-1"},
           {"--component", "1,1.2.3," + std::string(43, 'n') + ",0x84040,4"},
           {"--checksum", "CRC-16/IBM-3740"}, {"--damage-read", "0"},
           {"--partial-erase", "0x83000"}, {"--partial-erase", "0x84000:0"},
           {"--partial-erase", "0x84000:"}, {"--partial-erase", ":0x10"}, {"--damage-kind", "crc"},
           {"--checksum-skew", "start"}}) {
    CommandLine cl;
    std::string error;
    EXPECT_EQ(ParseCommandLine(args, cl, error), -1) << args[0];
    EXPECT_FALSE(error.empty());
  }
  CommandLine cl;
  std::string error;
  ASSERT_EQ(ParseCommandLine({"--help"}, cl, error), 0);
  EXPECT_TRUE(cl.help);

  // The refusals' own words, the first wrong word's in the order given; the
  // help is no way out of a wrong line.
  for (const auto& [args, refusal] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--help", "--x"}, "unknown option \"--x\""},
           {{"w", "--x"}, "unknown option \"w\""},
           {{"--", "--help"}, "unknown option \"--\""},
           {{"-hx"}, "unknown option \"-hx\""},
           {{"--help=1"}, "--help takes no value"},
           {{"--blank=1"}, "--blank takes no value"},
           {{"--seed"}, "--seed needs a value"},
           {{"--tear", "0"}, "--tear: not a count of 1 or more: \"0\""},
           {{"--max-rate=x"}, "--max-rate: not a rate: \"x\""},
           {{"--damage-kind", "crc"}, "--damage-kind: not xor or sum: \"crc\""}}) {
    error.clear();
    EXPECT_EQ(ParseCommandLine(args, cl, error), -1);
    EXPECT_EQ(error, refusal);
  }
  error.clear();
  EXPECT_EQ(ParseCommandLine({"-h", "--image", "-"}, cl, error), 0) << error;
  EXPECT_EQ(cl.options.image_file, "-");
}

}  // namespace
}  // namespace vok::sim
