#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "cli/option_table.h"

namespace vok::cli {
namespace {

// A program of its own, as voksim would build one.
struct Line {
  bool quiet = false;
  bool help = false;
  std::optional<std::string> rate;
};

std::vector<OptionSpec<Line>> Table() {
  return {LineEndingOption<Line>("--help", 'h', [](Line& l) { l.help = true; }),
          FlagOption("--quiet", 'q', &Line::quiet, "say nothing"),
          ValueOption<Line>("--a-rather-long-option", 'r', "RATE", "first line\nsecond line",
                            [](const std::string& v, Line& l) {
                              if (v == "bad") return std::string("no");
                              l.rate = v;
                              return std::string();
                            })};
}

TEST(OptionTable, TheHelpAndTheParserComeFromTheSameRows) {
  // Left out without help; a left column too wide puts the help on the next line.
  EXPECT_EQ(OptionsHelp(Table(), 16),
            "  -q, --quiet   say nothing\n"
            "  -r, --a-rather-long-option RATE\n"
            "                first line\n"
            "                second line\n");
  EXPECT_EQ(HelpColumns({{"ab", "x"}, {"abc", "y"}}, 1, 5), " ab  x\n abc\n     y\n");

  const struct {
    std::vector<std::string> args;
    OptionsParsed parsed;
    std::vector<std::string> words;
    std::string rate_or_error;
  } kCases[] = {
      {{"w1", "-q", "-rX", "w2"}, OptionsParsed::kWords, {"w1", "w2"}, "X"},
      {{"--a-rather-long-option=", "--", "-q"}, OptionsParsed::kWords, {"-q"}, ""},
      {{"-r", "-q"}, OptionsParsed::kWords, {}, "-q"},  // a value may look like an option
      {{"-q", "w", "-h", "-z"}, OptionsParsed::kEnded, {"w"}, ""},
      {{"-r", "bad"}, OptionsParsed::kRefused, {}, "no"},
      {{"-qq"}, OptionsParsed::kRefused, {}, "unknown option '-qq'"},
      {{"--quiet=1"}, OptionsParsed::kRefused, {}, "option --quiet takes no value"},
      {{"-h=1"}, OptionsParsed::kRefused, {}, "unknown option '-h=1'"},
      {{"w", "-r"}, OptionsParsed::kRefused, {"w"}, "option --a-rather-long-option needs a value"},
  };
  for (const auto& c : kCases) {
    Line line;
    std::vector<std::string> words;
    std::string error;
    const std::string name = testing::PrintToString(c.args);
    EXPECT_EQ(ParseOptions(Table(), c.args, line, words, error), c.parsed) << name;
    EXPECT_EQ(words, c.words) << name;
    if (c.parsed == OptionsParsed::kRefused) {
      EXPECT_EQ(error, c.rate_or_error) << name;
    } else {
      EXPECT_EQ(line.rate.value_or(""), c.rate_or_error) << name;
      // The line-ending option leaves the line holding it alone.
      EXPECT_EQ(line.help, c.parsed == OptionsParsed::kEnded) << name;
      EXPECT_EQ(line.quiet, c.parsed == OptionsParsed::kWords && c.args.back() != "-q") << name;
    }
  }

  // An option that acts rather than sets a member; the program's own words.
  std::vector<OptionSpec<Line>> table = Table();
  table.push_back(ActionOption<Line>("--loud", 0, "", [](Line& l) { l.rate = "loud"; }));
  OptionRefusals words;
  words.unknown = [](const std::string& arg) { return "unknown option \"" + arg + "\""; };
  Line line;
  std::vector<std::string> rest;
  std::string error;
  EXPECT_EQ(ParseOptions(table, {"--loud"}, line, rest, error, words), OptionsParsed::kWords);
  EXPECT_EQ(line.rate, "loud");
  EXPECT_EQ(ParseOptions(table, {"--loud=1"}, line, rest, error, words), OptionsParsed::kRefused);
  EXPECT_EQ(ParseOptions(table, {"--x"}, line, rest, error, words), OptionsParsed::kRefused);
  EXPECT_EQ(error, "unknown option \"--x\"");

  // A program without operands refuses a word, and "--", where it stands,
  // before an option after it is looked at.
  words.operand = [](const std::string& arg) { return "no operands: " + arg; };
  for (const auto& [args, refusal] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"-q", "w", "--x"}, "no operands: w"}, {{"--", "-q"}, "no operands: --"},
           {{"-r", "w", "-"}, "no operands: -"}}) {
    rest.clear();
    EXPECT_EQ(ParseOptions(table, args, line, rest, error, words), OptionsParsed::kRefused);
    EXPECT_EQ(error, refusal);
    EXPECT_TRUE(rest.empty());
  }
  // One blank may be enough between an option and its help.
  EXPECT_EQ(HelpColumns({{"abc", "y"}, {"abcd", "z"}}, 1, 5, 1), " abc y\n abcd\n     z\n");
}

}  // namespace
}  // namespace vok::cli
