#include "sim/command_line.h"

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <utility>

#include "cli/option_table.h"
#include "sim/simulator.h"

namespace vok::sim {
namespace {

bool ParseVersion(const std::string& text, uint8_t out[3]) {
  size_t pos = 0;
  for (int i = 0; i < 3; ++i) {
    const size_t dot = i < 2 ? text.find('.', pos) : text.size();
    if (dot == std::string::npos) return false;
    uint32_t v = 0;
    if (!ParseNumber(text.substr(pos, dot - pos), v) || v > 255) return false;
    out[i] = static_cast<uint8_t>(v);
    pos = dot + 1;
  }
  return true;
}

// TYPE,VERSION,NAME,START,LENGTH; the name may itself hold commas.
bool ParseComponent(const std::string& text, ComponentLayout& c) {
  const size_t a = text.find(',');
  const size_t b = a == std::string::npos ? a : text.find(',', a + 1);
  const size_t d = text.rfind(',');
  const size_t e = d == std::string::npos || d == 0 ? std::string::npos : text.rfind(',', d - 1);
  if (a == std::string::npos || b == std::string::npos || e == std::string::npos || e <= b) return false;
  uint32_t type = 0;
  if (!ParseNumber(text.substr(0, a), type) || type > 255) return false;
  if (!ParseVersion(text.substr(a + 1, b - a - 1), c.version)) return false;
  c.type = static_cast<uint8_t>(type);
  c.name = text.substr(b + 1, e - b - 1);
  if (c.name.size() > kNameSize) return false;
  return ParseNumber(text.substr(e + 1, d - e - 1), c.start) && ParseNumber(text.substr(d + 1), c.length);
}

bool InErasableSector(uint32_t address) {
  for (const Sector& s : kSectors)
    if (address >= s.start && address - s.start < s.length) return true;
  return false;
}

bool ParseProbability(const std::string& text, double& p) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  p = std::strtod(text.c_str(), &end);
  return errno == 0 && *end == '\0' && p >= 0.0 && p <= 1.0;
}

bool ParseCount(const std::string& text, int& n) {
  uint32_t v = 0;
  if (!ParseNumber(text, v) || v < 1 || v > 0x7FFFFFFF) return false;
  n = static_cast<int>(v);
  return true;
}

using Option = cli::OptionSpec<CommandLine>;
using Setter = std::function<bool(const std::string& value, CommandLine& line)>;

// An option with a value; a value that set refuses is answered with
// "NAME: WHAT: "VALUE"".
Option Valued(std::string name, std::string value, const char* what, std::string help, Setter set) {
  const std::string refusal = name + ": " + what + ": \"";
  return cli::ValueOption<CommandLine>(
      std::move(name), 0, std::move(value), std::move(help),
      [refusal, set = std::move(set)](const std::string& v, CommandLine& line) {
        return set(v, line) ? std::string() : refusal + v + "\"";
      });
}

// An option whose value is taken as it stands.
Option Text(std::string name, std::string value, std::string CommandLine::*text, std::string help) {
  return cli::ValueOption<CommandLine>(std::move(name), 0, std::move(value), std::move(help),
                                       [text](const std::string& v, CommandLine& line) {
                                         line.*text = v;
                                         return std::string();
                                       });
}

Option Flag(std::string name, bool Options::*flag, std::string help) {
  return cli::ActionOption<CommandLine>(std::move(name), 0, std::move(help),
                                        [flag](CommandLine& line) { line.options.*flag = true; });
}

Option Rate(std::string name, uint32_t Options::*rate, std::string help) {
  return Valued(std::move(name), "RATE", "not a rate", std::move(help),
                [rate](const std::string& v, CommandLine& line) {
                  uint32_t n = 0;
                  if (!ParseNumber(v, n) || n == 0) return false;
                  line.options.*rate = n;
                  return true;
                });
}

Option Count(std::string name, std::string value, int Options::*count, std::string help) {
  return Valued(std::move(name), std::move(value), "not a count of 1 or more", std::move(help),
                [count](const std::string& v, CommandLine& line) {
                  return ParseCount(v, line.options.*count);
                });
}

Option Addresses(std::string name, std::set<uint32_t> Options::*addresses, std::string help) {
  return Valued(std::move(name), "ADDR", "not an address", std::move(help),
                [addresses](const std::string& v, CommandLine& line) {
                  uint32_t a = 0;
                  if (!ParseNumber(v, a)) return false;
                  (line.options.*addresses).insert(a);
                  return true;
                });
}

Option Path(std::string name, std::string Options::*path, std::string help) {
  return cli::ValueOption<CommandLine>(std::move(name), 0, "FILE", std::move(help),
                                       [path](const std::string& v, CommandLine& line) {
                                         line.options.*path = v;
                                         return std::string();
                                       });
}

bool SetSkew(const std::string& v, CommandLine& line) {
  static const char* const edges[] = {"start-1", "start+1", "end+1", "end-1"};
  static const ChecksumSkew skews[] = {ChecksumSkew::kStartEarly, ChecksumSkew::kStartLate,
                                       ChecksumSkew::kEndLate, ChecksumSkew::kEndEarly};
  for (size_t k = 0; k < 4; ++k) {
    if (v == edges[k]) {
      line.options.checksum_skew = skews[k];
      return true;
    }
  }
  return false;
}

bool SetPartialErase(const std::string& v, CommandLine& line) {
  const size_t colon = v.find(':');
  uint32_t address = 0, length = 0;
  if (!ParseNumber(v.substr(0, colon), address) || !InErasableSector(address) ||
      (colon != std::string::npos && (!ParseNumber(v.substr(colon + 1), length) || length == 0)))
    return false;
  line.options.partial_erase = address;
  line.options.partial_erase_length = length;
  return true;
}

bool SetSeed(const std::string& v, CommandLine& line) {
  char* end = nullptr;
  errno = 0;
  line.options.seed = std::strtoull(v.c_str(), &end, 0);
  return !v.empty() && v[0] != '-' && errno == 0 && *end == '\0';
}

struct Section {
  const char* heading;  // empty: the rows follow the blank line alone
  std::vector<Option> options;
};

// voksim's options, in the order and the sections of its help.
const std::vector<Section>& Sections() {
  static const std::vector<Section> sections = {
      {"Line",
       {Rate("--boot-rate", &Options::boot_rate, "rate the loader listens at after reset (default 9600)"),
        Rate("--max-rate", &Options::max_rate,
             "highest rate the loader agrees to; a higher request is\n"
             "answered with this one (default: no limit)"),
        Flag("--realtime", &Options::realtime,
             "pace every byte at 10 bits of the current rate, and give\n"
             "flash work a duration: 80 ms an 8 KiB sector, 450 ms the\n"
             "96 KiB one, 600 ms a 128 KiB one, 5 ms per 1024 bytes\n"
             "programmed; without it the controller answers at once"),
        Valued("--latency", "MS", "not a latency of 0 to 1000 ms",
               "hold every reply shorter than 62 bytes until MS have\n"
               "passed since it began, as a USB adapter's latency timer\n"
               "does (16 ms by default on such adapters)",
               [](const std::string& v, CommandLine& line) {
                 uint32_t ms = 0;
                 if (!ParseNumber(v, ms) || ms > 1000) return false;
                 line.options.latency_ms = ms;
                 return true;
               }),
        Text("--link", "PATH", &CommandLine::link,
             "make a symbolic link PATH to the terminal (a stale link\n"
             "there is replaced; removed at exit)"),
        Path("--trace", &Options::trace_file,
             "one line per frame either way: time in seconds, rate,\n"
             "direction (H>S host to simulator, S>H back), the bytes,\n"
             "their meaning"),
        Text("--stats", "FILE", &CommandLine::stats_file,
             "at exit, a JSON object: bytes_to_host, bytes_from_host,\n"
             "flash_busy_ms (erase and programming time, --realtime\n"
             "only) and the other counters")}},
      {"Memory (used when no state file exists yet)",
       {cli::ActionOption<CommandLine>("--blank", 0,
                                       "start with erased flash and cleared RAM instead of the\n"
                                       "demo firmware",
                                       [](CommandLine& line) { line.options.demo_firmware = false; }),
        Path("--image", &Options::image_file,
             "load memory from an S-record file (S1/S2/S3 records)\n"
             "instead of the demo firmware"),
        Valued("--component", "TYPE,VERSION,NAME,START,LENGTH", "not TYPE,VERSION,NAME,START,LENGTH",
               "add a component header stamped with the checksum of the\n"
               "data already in memory at START (VERSION as a.b.c; the\n"
               "header goes on the last 4 KiB boundary in flash that\n"
               "leaves room for it before START); may be repeated",
               [](const std::string& v, CommandLine& line) {
                 ComponentLayout c;
                 if (!ParseComponent(v, c)) return false;
                 line.options.components.push_back(c);
                 return true;
               }),
        cli::ValueOption<CommandLine>("--bad-checksum", 0, "NAME",
                                      "spoil the stored checksum of the component NAME",
                                      [](const std::string& v, CommandLine& line) {
                                        line.options.bad_checksum.push_back(v);
                                        return std::string();
                                      }),
        Path("--state", &Options::state_file,
             "load RAM and flash from FILE if it exists; save them to\n"
             "it after every command that changes memory and at exit"),
        Valued("--loader-version", "A.B.C", "not a version a.b.c",
               "the version the loader reports (default 2.1.0)",
               [](const std::string& v, CommandLine& line) {
                 return ParseVersion(v, line.options.loader_version);
               }),
        Valued("--checksum", "ALGO", "not an algorithm of --help",
               "the algorithm of the checksum command and of the\n"
               "component stamps: CRC-16/CCITT-FALSE (default),\n"
               "CRC-16/XMODEM, CRC-16/KERMIT, CRC-16/MODBUS, SUM-16\n"
               "(the bytes added modulo 65536), ONES-SUM-16 (added\n"
               "with end-around carry), INTERNET-16 (the one's\n"
               "complement of the one's-complement sum of big-endian\n"
               "16-bit words), FLETCHER-16, or OWN, a checksum of this\n"
               "loader's own that no catalogue holds",
               [](const std::string& v, CommandLine& line) {
                 return LoaderSumNamed(v, line.options.checksum);
               }),
        Valued("--checksum-skew", "EDGE", "not start-1, start+1, end+1 or end-1",
               "the checksum command and the stamps cover one byte\n"
               "more or less than asked: start-1 (from the byte before\n"
               "the start), start+1 (without the first byte), end+1\n"
               "(with the byte past the end) or end-1 (without the\n"
               "last byte)",
               SetSkew)}},
      {"Application",
       {Flag("--app", &Options::app,
             "start in the application instead of the loader: it\n"
             "listens at 9600 and answers only \"START LOADER\""),
        Flag("--busy", &Options::busy, "the application answers \"START LOADER BUSY\" and stays")}},
      {"Faults (counts start at 1)",
       {Flag("--silent", &Options::silent, "answer nothing at all"),
        Count("--cut-after", "N", &Options::cut_after,
              "carry out the N-th erase or program command, save the\n"
              "state, then fall silent before replying (power cut)"),
        Count("--tear", "N", &Options::tear,
              "cut the N-th erase or program command half way (the\n"
              "first half of the sector erased, the first half of the\n"
              "record's bytes programmed), save, fall silent"),
        Addresses("--fail-erase", &Options::fail_erase,
                  "an erase at ADDR reports a non-zero status and erases\n"
                  "nothing; may be repeated"),
        Addresses("--fail-program", &Options::fail_program,
                  "a program command whose record holds ADDR (from its\n"
                  "start address to its last byte) reports a non-zero\n"
                  "status and programs nothing; may be repeated"),
        Addresses("--ignore-program", &Options::ignore_program,
                  "a program command whose record holds ADDR reports\n"
                  "success but programs nothing; may be repeated"),
        Valued("--partial-erase", "ADDR[:LENGTH]",
               "not ADDR[:LENGTH] with ADDR in an erasable sector and LENGTH 1 or more",
               "the first erase of the sector that holds ADDR reports\n"
               "success but leaves LENGTH bytes from ADDR (default: up\n"
               "to the sector's end) as they were",
               SetPartialErase),
        Count("--corrupt-reply", "K", &Options::corrupt_reply,
              "the K-th framed reply (negotiation replies included)\n"
              "goes out with a wrong checksum"),
        Count("--damage-program", "N", &Options::damage_program,
              "the N-th program request arrives with one bit flipped\n"
              "in two of its data bytes, so that the frame checksum\n"
              "(an XOR) still matches, and is programmed so (requests\n"
              "of two data bytes or more)"),
        Count("--damage-read", "N", &Options::damage_read,
              "the same for the data of the N-th read reply that\n"
              "carries data (an erased piece carries none)"),
        Valued("--damage-kind", "KIND", "not xor or sum",
               "how those two damage data: xor (default), the same bit\n"
               "flipped in two bytes, or sum, a bit set in one byte and\n"
               "clear in the byte two on flipped in both, which the\n"
               "byte sums and the Internet checksum miss as well (xor\n"
               "when no two bytes two apart differ)",
               [](const std::string& v, CommandLine& line) {
                 if (v != "xor" && v != "sum") return false;
                 line.options.damage = v == "xor" ? DamageKind::kXor : DamageKind::kSumBlind;
                 return true;
               }),
        Valued("--noise", "P", "not a probability from 0 to 1",
               "each byte in either direction is lost or has one bit\n"
               "flipped with probability P (0 to 1)",
               [](const std::string& v, CommandLine& line) {
                 return ParseProbability(v, line.options.noise);
               }),
        Valued("--seed", "S", "not a seed", "seed of the noise (default 1): one seed, one run",
               SetSeed)}},
      {"",
       {cli::FlagOption<CommandLine>("--help", 0, &CommandLine::help, "this text"),
        // The short form, kept out of the list as it always was.
        cli::FlagOption<CommandLine>("-h", 0, &CommandLine::help, "")}},
  };
  return sections;
}

const std::vector<Option>& Table() {
  static const std::vector<Option> table = [] {
    std::vector<Option> all;
    for (const Section& s : Sections()) all.insert(all.end(), s.options.begin(), s.options.end());
    return all;
  }();
  return table;
}

// The help's options start in this column, one blank at least after the
// option itself.
constexpr size_t kHelpColumn = 23;

}  // namespace

bool ParseNumber(const std::string& text, uint32_t& value) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text.c_str() + (hex ? 2 : 0), &end, hex ? 16 : 10);
  if (errno != 0 || *end != '\0' || end == text.c_str() + (hex ? 2 : 0) || v > 0xFFFFFFFFull) return false;
  value = static_cast<uint32_t>(v);
  return true;
}

int ParseCommandLine(const std::vector<std::string>& args, CommandLine& out, std::string& error) {
  cli::OptionRefusals refusals;
  refusals.unknown = [](const std::string& arg) { return "unknown option \"" + arg + "\""; };
  refusals.operand = refusals.unknown;
  refusals.takes_no_value = [](const std::string& name) { return name + " takes no value"; };
  refusals.needs_value = [](const std::string& name) { return name + " needs a value"; };
  std::vector<std::string> words;  // stays empty: every word is refused
  return cli::ParseOptions(Table(), args, out, words, error, refusals) == cli::OptionsParsed::kRefused ? -1
                                                                                                       : 0;
}

std::string UsageText() {
  std::string text = R"(Usage: voksim [OPTIONS]

A simulated VOK System controller on a pseudo-terminal. It prints the path of
the terminal's slave device as its first line, then answers the VOK Loader's
protocol on it until SIGINT or SIGTERM; then it saves its state, prints the
byte counts and exits 0. Addresses and numbers take hexadecimal (0x...) or
decimal.
)";
  for (const Section& s : Sections()) {
    text += '\n';
    if (*s.heading != '\0') text += std::string(s.heading) + '\n';
    text += cli::OptionsHelp(s.options, kHelpColumn, 1);
  }
  return text;
}

}  // namespace vok::sim
