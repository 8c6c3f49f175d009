#include "sim/command_line.h"

#include <cerrno>
#include <cstdlib>

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
bool ParseComponent(const std::string& text, ComponentSpec& c) {
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
  Options& o = out.options;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i], value;
    bool has_value = false;
    const size_t eq = name.find('=');
    if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      has_value = true;
    }
    auto flag = [&](bool& target) {
      if (has_value) {
        error = name + " takes no value";
        return false;
      }
      target = true;
      return true;
    };
    auto arg = [&]() {
      if (!has_value) {
        if (i + 1 >= args.size()) {
          error = name + " needs a value";
          return false;
        }
        value = args[++i];
      }
      return true;
    };
    auto bad = [&](const char* what) {
      error = name + ": " + what + ": \"" + value + "\"";
      return -1;
    };
    uint32_t number = 0;

    if (name == "--help" || name == "-h") {
      if (!flag(out.help)) return -1;
    } else if (name == "--app") {
      if (!flag(o.app)) return -1;
    } else if (name == "--busy") {
      if (!flag(o.busy)) return -1;
    } else if (name == "--silent") {
      if (!flag(o.silent)) return -1;
    } else if (name == "--realtime") {
      if (!flag(o.realtime)) return -1;
    } else if (name == "--blank") {
      bool blank = false;
      if (!flag(blank)) return -1;
      o.demo_firmware = false;
    } else if (name == "--boot-rate" || name == "--max-rate") {
      if (!arg()) return -1;
      if (!ParseNumber(value, number) || number == 0) return bad("not a rate");
      (name == "--boot-rate" ? o.boot_rate : o.max_rate) = number;
    } else if (name == "--latency") {
      if (!arg()) return -1;
      if (!ParseNumber(value, number) || number > 1000) return bad("not a latency of 0 to 1000 ms");
      o.latency_ms = number;
    } else if (name == "--image") {
      if (!arg()) return -1;
      o.image_file = value;
    } else if (name == "--state") {
      if (!arg()) return -1;
      o.state_file = value;
    } else if (name == "--trace") {
      if (!arg()) return -1;
      o.trace_file = value;
    } else if (name == "--stats") {
      if (!arg()) return -1;
      out.stats_file = value;
    } else if (name == "--link") {
      if (!arg()) return -1;
      out.link = value;
    } else if (name == "--component") {
      if (!arg()) return -1;
      ComponentSpec c;
      if (!ParseComponent(value, c)) return bad("not TYPE,VERSION,NAME,START,LENGTH");
      o.components.push_back(c);
    } else if (name == "--bad-checksum") {
      if (!arg()) return -1;
      o.bad_checksum.push_back(value);
    } else if (name == "--cut-after" || name == "--tear" || name == "--corrupt-reply" ||
               name == "--damage-program" || name == "--damage-read") {
      if (!arg()) return -1;
      int n = 0;
      if (!ParseCount(value, n)) return bad("not a count of 1 or more");
      (name == "--cut-after"        ? o.cut_after
       : name == "--tear"           ? o.tear
       : name == "--corrupt-reply"  ? o.corrupt_reply
       : name == "--damage-program" ? o.damage_program
                                    : o.damage_read) = n;
    } else if (name == "--checksum") {
      if (!arg()) return -1;
      if (!LoaderSumNamed(value, o.checksum)) return bad("not an algorithm of --help");
    } else if (name == "--checksum-skew") {
      if (!arg()) return -1;
      static const char* const edges[] = {"start-1", "start+1", "end+1", "end-1"};
      const ChecksumSkew skews[] = {ChecksumSkew::kStartEarly, ChecksumSkew::kStartLate,
                                    ChecksumSkew::kEndLate, ChecksumSkew::kEndEarly};
      size_t k = 0;
      while (k < 4 && value != edges[k]) ++k;
      if (k == 4) return bad("not start-1, start+1, end+1 or end-1");
      o.checksum_skew = skews[k];
    } else if (name == "--damage-kind") {
      if (!arg()) return -1;
      if (value == "xor") o.damage = DamageKind::kXor;
      else if (value == "sum") o.damage = DamageKind::kSumBlind;
      else return bad("not xor or sum");
    } else if (name == "--fail-erase" || name == "--fail-program" || name == "--ignore-program") {
      if (!arg()) return -1;
      if (!ParseNumber(value, number)) return bad("not an address");
      (name == "--fail-erase" ? o.fail_erase : name == "--fail-program" ? o.fail_program : o.ignore_program)
          .insert(number);
    } else if (name == "--partial-erase") {
      if (!arg()) return -1;
      const size_t colon = value.find(':');
      uint32_t length = 0;
      if (!ParseNumber(value.substr(0, colon), number) || !InErasableSector(number) ||
          (colon != std::string::npos && (!ParseNumber(value.substr(colon + 1), length) || length == 0)))
        return bad("not ADDR[:LENGTH] with ADDR in an erasable sector and LENGTH 1 or more");
      o.partial_erase = number;
      o.partial_erase_length = length;
    } else if (name == "--noise") {
      if (!arg()) return -1;
      if (!ParseProbability(value, o.noise)) return bad("not a probability from 0 to 1");
    } else if (name == "--seed") {
      if (!arg()) return -1;
      char* end = nullptr;
      errno = 0;
      o.seed = std::strtoull(value.c_str(), &end, 0);
      if (value.empty() || value[0] == '-' || errno != 0 || *end != '\0') return bad("not a seed");
    } else if (name == "--loader-version") {
      if (!arg()) return -1;
      if (!ParseVersion(value, o.loader_version)) return bad("not a version a.b.c");
    } else {
      error = "unknown option \"" + args[i] + "\"";
      return -1;
    }
  }
  return 0;
}

std::string UsageText() {
  return R"(Usage: voksim [OPTIONS]

A simulated VOK System controller on a pseudo-terminal. It prints the path of
the terminal's slave device as its first line, then answers the VOK Loader's
protocol on it until SIGINT or SIGTERM; then it saves its state, prints the
byte counts and exits 0. Addresses and numbers take hexadecimal (0x...) or
decimal.

Line
  --boot-rate RATE     rate the loader listens at after reset (default 9600)
  --max-rate RATE      highest rate the loader agrees to; a higher request is
                       answered with this one (default: no limit)
  --realtime           pace every byte at 10 bits of the current rate, and give
                       flash work a duration: 80 ms an 8 KiB sector, 450 ms the
                       96 KiB one, 600 ms a 128 KiB one, 5 ms per 1024 bytes
                       programmed; without it the controller answers at once
  --latency MS         hold every reply shorter than 62 bytes until MS have
                       passed since it began, as a USB adapter's latency timer
                       does (16 ms by default on such adapters)
  --link PATH          make a symbolic link PATH to the terminal (a stale link
                       there is replaced; removed at exit)
  --trace FILE         one line per frame either way: time in seconds, rate,
                       direction (H>S host to simulator, S>H back), the bytes,
                       their meaning
  --stats FILE         at exit, a JSON object: bytes_to_host, bytes_from_host,
                       flash_busy_ms (erase and programming time, --realtime
                       only) and the other counters

Memory (used when no state file exists yet)
  --blank              start with erased flash and cleared RAM instead of the
                       demo firmware
  --image FILE         load memory from an S-record file (S1/S2/S3 records)
                       instead of the demo firmware
  --component TYPE,VERSION,NAME,START,LENGTH
                       add a component header stamped with the checksum of the
                       data already in memory at START (VERSION as a.b.c; the
                       header goes on the last 4 KiB boundary in flash that
                       leaves room for it before START); may be repeated
  --bad-checksum NAME  spoil the stored checksum of the component NAME
  --state FILE         load RAM and flash from FILE if it exists; save them to
                       it after every command that changes memory and at exit
  --loader-version A.B.C
                       the version the loader reports (default 2.1.0)
  --checksum ALGO      the algorithm of the checksum command and of the
                       component stamps: CRC-16/CCITT-FALSE (default),
                       CRC-16/XMODEM, CRC-16/KERMIT, CRC-16/MODBUS, SUM-16
                       (the bytes added modulo 65536), ONES-SUM-16 (added
                       with end-around carry), INTERNET-16 (the one's
                       complement of the one's-complement sum of big-endian
                       16-bit words), FLETCHER-16, or OWN, a checksum of this
                       loader's own that no catalogue holds
  --checksum-skew EDGE the checksum command and the stamps cover one byte
                       more or less than asked: start-1 (from the byte before
                       the start), start+1 (without the first byte), end+1
                       (with the byte past the end) or end-1 (without the
                       last byte)

Application
  --app                start in the application instead of the loader: it
                       listens at 9600 and answers only "START LOADER"
  --busy               the application answers "START LOADER BUSY" and stays

Faults (counts start at 1)
  --silent             answer nothing at all
  --cut-after N        carry out the N-th erase or program command, save the
                       state, then fall silent before replying (power cut)
  --tear N             cut the N-th erase or program command half way (the
                       first half of the sector erased, the first half of the
                       record's bytes programmed), save, fall silent
  --fail-erase ADDR    an erase at ADDR reports a non-zero status and erases
                       nothing; may be repeated
  --fail-program ADDR  a program command whose record holds ADDR (from its
                       start address to its last byte) reports a non-zero
                       status and programs nothing; may be repeated
  --ignore-program ADDR
                       a program command whose record holds ADDR reports
                       success but programs nothing; may be repeated
  --partial-erase ADDR[:LENGTH]
                       the first erase of the sector that holds ADDR reports
                       success but leaves LENGTH bytes from ADDR (default: up
                       to the sector's end) as they were
  --corrupt-reply K    the K-th framed reply (negotiation replies included)
                       goes out with a wrong checksum
  --damage-program N   the N-th program request arrives with one bit flipped
                       in two of its data bytes, so that the frame checksum
                       (an XOR) still matches, and is programmed so (requests
                       of two data bytes or more)
  --damage-read N      the same for the data of the N-th read reply that
                       carries data (an erased piece carries none)
  --damage-kind KIND   how those two damage data: xor (default), the same bit
                       flipped in two bytes, or sum, a bit set in one byte and
                       clear in the byte two on flipped in both, which the
                       byte sums and the Internet checksum miss as well (xor
                       when no two bytes two apart differ)
  --noise P            each byte in either direction is lost or has one bit
                       flipped with probability P (0 to 1)
  --seed S             seed of the noise (default 1): one seed, one run

  --help               this text
)";
}

}  // namespace vok::sim
