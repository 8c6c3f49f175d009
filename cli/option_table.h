#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// A program's options as one table, from which both its parser and the list
// of options in its help come, so that the two cannot drift apart. Header
// only: a program includes it without linking any library of the loader's.
//
// The command line it reads: options and operands in any order; "--" ends
// the options; "--name=value" or "--name value"; "-x", and "-xvalue" or
// "-x value" for an option with a value. There are no abbreviations and no
// bundled letters ("-yv" is unknown).
namespace vok::cli {

template <class Line>
struct OptionSpec {
  std::string name;   // "--port"
  char letter = 0;    // 'p' for "-p"; 0 for none
  std::string value;  // what the help calls the value ("NAME"); empty for an option without
  // The help's lines, '\n' between them; empty keeps the option out of the
  // list (one that the synopsis names already).
  std::string help;
  // Without a value: the member it sets true (else set is called).
  bool Line::*flag = nullptr;
  // Sets what the option stands for, from its value (empty for an option
  // without one); returns the empty text, or the one-line reason why the
  // value is wrong.
  std::function<std::string(const std::string& value, Line& line)> set;
  // The line is over at this option: whatever else stands on it, before or
  // after, is not looked at (--help).
  bool ends_line = false;
};

// The three kinds, for tables without blank fields.
template <class Line>
OptionSpec<Line> FlagOption(std::string name, char letter, bool Line::*flag, std::string help) {
  OptionSpec<Line> o;
  o.name = std::move(name);
  o.letter = letter;
  o.help = std::move(help);
  o.flag = flag;
  return o;
}

template <class Line>
OptionSpec<Line> ValueOption(std::string name, char letter, std::string value, std::string help,
                             std::function<std::string(const std::string&, Line&)> set) {
  OptionSpec<Line> o;
  o.name = std::move(name);
  o.letter = letter;
  o.value = std::move(value);
  o.help = std::move(help);
  o.set = std::move(set);
  return o;
}

// Without a value, for what a member of its own does not say ("--blank"
// clears the firmware).
template <class Line>
OptionSpec<Line> ActionOption(std::string name, char letter, std::string help,
                              std::function<void(Line&)> act) {
  OptionSpec<Line> o;
  o.name = std::move(name);
  o.letter = letter;
  o.help = std::move(help);
  o.set = [act = std::move(act)](const std::string&, Line& line) {
    act(line);
    return std::string();
  };
  return o;
}

template <class Line>
OptionSpec<Line> LineEndingOption(std::string name, char letter,
                                  std::function<void(Line&)> set) {
  OptionSpec<Line> o;
  o.name = std::move(name);
  o.letter = letter;
  o.set = [set = std::move(set)](const std::string&, Line& line) {
    set(line);
    return std::string();
  };
  o.ends_line = true;
  return o;
}

// The refusals of an option that is not used as the table says, in the
// program's own words.
struct OptionRefusals {
  std::function<std::string(const std::string& arg)> unknown = [](const std::string& arg) {
    return "unknown option '" + arg + "'";
  };
  std::function<std::string(const std::string& name)> takes_no_value = [](const std::string& name) {
    return "option " + name + " takes no value";
  };
  std::function<std::string(const std::string& name)> needs_value = [](const std::string& name) {
    return "option " + name + " needs a value";
  };
  // Set for a program without operands: a word, or "--", is refused so
  // where it stands.
  std::function<std::string(const std::string& arg)> operand;
};

enum class OptionsParsed {
  kRefused,  // error holds the reason
  kWords,    // the options are set; words holds the rest in their order
  kEnded,    // an option that ends the line was met; line holds it alone
};

// The long name of a short option, or the argument itself: "-pCOM2" gives
// "--port" with the value "COM2". Only an option with a value may carry it
// in the same word.
template <class Line>
std::string LongOptionName(const std::vector<OptionSpec<Line>>& table, const std::string& arg,
                           std::string& value, bool& has_value) {
  if (arg.size() < 2 || arg[0] != '-' || arg[1] == '-') return arg;
  for (const OptionSpec<Line>& o : table) {
    if (o.letter == 0 || arg[1] != o.letter) continue;
    if (arg.size() == 2) return o.name;
    if (!o.value.empty()) {
      value = arg.substr(2);
      has_value = true;
      return o.name;
    }
  }
  return arg;
}

// args excludes the program's name. line is left as it was before the
// options; an option that ends the line first resets it.
template <class Line>
OptionsParsed ParseOptions(const std::vector<OptionSpec<Line>>& table,
                           const std::vector<std::string>& args, Line& line,
                           std::vector<std::string>& words, std::string& error,
                           const OptionRefusals& refusals = {}) {
  bool options_done = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool word = options_done || arg.size() < 2 || arg[0] != '-';
    if (refusals.operand && (word || arg == "--")) {
      error = refusals.operand(arg);
      return OptionsParsed::kRefused;
    }
    if (word) {
      words.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_done = true;
      continue;
    }
    std::string value;
    bool has_value = false;
    std::string name = LongOptionName(table, arg, value, has_value);
    if (size_t eq = arg.find('='); eq != std::string::npos && arg.compare(0, 2, "--") == 0) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      has_value = true;
    }
    const OptionSpec<Line>* option = nullptr;
    for (const OptionSpec<Line>& o : table) {
      if (o.name == name) option = &o;
    }
    if (!option) {
      error = refusals.unknown(arg);
      return OptionsParsed::kRefused;
    }
    if (option->value.empty()) {
      if (has_value) {
        error = refusals.takes_no_value(name);
        return OptionsParsed::kRefused;
      }
      if (option->ends_line) {
        line = Line{};
        option->set(std::string(), line);
        return OptionsParsed::kEnded;
      }
      if (option->flag) {
        line.*(option->flag) = true;
        continue;
      }
    } else if (!has_value) {
      if (i + 1 >= args.size()) {
        error = refusals.needs_value(name);
        return OptionsParsed::kRefused;
      }
      value = args[++i];
    }
    error = option->set(value, line);
    if (!error.empty()) return OptionsParsed::kRefused;
  }
  return OptionsParsed::kWords;
}

// Help rows: each left text after the indent, its help beside it from column
// on (on the next line when the left text leaves fewer than gap blanks), the
// help's further lines indented to the column.
inline std::string HelpColumns(const std::vector<std::pair<std::string, std::string>>& rows,
                               size_t indent, size_t column, size_t gap = 2) {
  std::string text;
  for (const auto& [left, help] : rows) {
    text += std::string(indent, ' ') + left;
    size_t used = indent + left.size();
    if (used + gap > column) {
      text += '\n';
      used = 0;
    }
    text += std::string(column - used, ' ');
    for (char c : help) {
      text += c;
      if (c == '\n') text += std::string(column, ' ');
    }
    text += '\n';
  }
  return text;
}

// The list of options for the help, two blanks in.
template <class Line>
std::string OptionsHelp(const std::vector<OptionSpec<Line>>& table, size_t column, size_t gap = 2) {
  std::vector<std::pair<std::string, std::string>> rows;
  for (const OptionSpec<Line>& o : table) {
    if (o.help.empty()) continue;
    std::string left = o.letter != 0 ? std::string{'-', o.letter, ',', ' '} : std::string();
    left += o.name;
    if (!o.value.empty()) left += " " + o.value;
    rows.emplace_back(std::move(left), o.help);
  }
  return HelpColumns(rows, 2, column, gap);
}

}  // namespace vok::cli
