#include "update/procedure_bench.h"

#include <algorithm>
#include <csignal>
#ifndef _WIN32
#include <sys/resource.h>
#endif
#include <filesystem>

#include "support/srecord_text.h"

namespace vok::test {

int MutingPort::WritePort(size_t n, const uint8_t* bytes) {
  if (!muted_ && trigger_ && n >= 2 && bytes[0] == 0x10 && bytes[1] == 0x02) {
    // Undo the DLE doubling of the frame body to see the packet.
    std::vector<uint8_t> packet;
    for (size_t i = 2; i < n && packet.size() < 8; ++i) {
      if (bytes[i] == 0x10) {
        if (i + 1 < n && bytes[i + 1] == 0x10) {
          packet.push_back(0x10);
          ++i;
          continue;
        }
        break;
      }
      packet.push_back(bytes[i]);
    }
    if (packet.size() >= 7 && (packet[0] & 0x08) != 0) {
      uint32_t address = uint32_t{packet[3]} << 24 | uint32_t{packet[4]} << 16 |
                         uint32_t{packet[5]} << 8 | packet[6];
      if (trigger_(packet[2], address)) muted_ = true;
    }
  }
  if (muted_) return 0;
  return InProcessPort::WritePort(n, bytes);
}

void WriteUpdateFile(const std::string& path, const std::string& header,
                     const std::vector<Record>& records) {
  std::string text;
  const auto* h = reinterpret_cast<const uint8_t*>(header.data());
  for (size_t at = 0; at < header.size(); at += 64)
    text += SRecordLine('0', 0, h + at, std::min<size_t>(64, header.size() - at));
  for (const Record& r : records)
    for (size_t at = 0; at < r.data.size(); at += 32)
      text += SRecordLine('2', r.address + static_cast<uint32_t>(at), r.data.data() + at,
                          std::min<size_t>(32, r.data.size() - at));
  text += SRecordLine('8', 0, nullptr, 0);
  WriteFile(path, text);
}

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>((seed + i * 7 + i / 251) % 0xFF);
  return out;
}

#ifndef _WIN32
FileSizeLimit::FileSizeLimit(uint64_t bytes) {
  previous_handler_ = std::signal(SIGXFSZ, SIG_IGN);
  rlimit r{};
  getrlimit(RLIMIT_FSIZE, &r);
  previous_ = r.rlim_cur;
  r.rlim_cur = bytes;
  setrlimit(RLIMIT_FSIZE, &r);
}

FileSizeLimit::~FileSizeLimit() {
  rlimit r{};
  getrlimit(RLIMIT_FSIZE, &r);
  r.rlim_cur = previous_;
  setrlimit(RLIMIT_FSIZE, &r);
  std::signal(SIGXFSZ, previous_handler_);
}
#endif

std::tm FixedTime() {
  std::tm t{};
  t.tm_year = 100;
  t.tm_mon = 0;
  t.tm_mday = 5;
  t.tm_hour = 10;
  t.tm_min = 20;
  t.tm_sec = 30;
  return t;
}

vok::sim::Options ProcedureBench::DefaultOptions() {
  vok::sim::Options o;
  o.demo_firmware = false;
  return o;
}

ProcedureBench::ProcedureBench(vok::sim::Options options, MutingPort::Trigger mute) {
  paths.folder = dir.folder();
  std::filesystem::create_directory(dir.path() / "BACKUP");
  std::filesystem::create_directory(dir.path() / "UPDATE");
  this->options.image_folder = dir.folder();
  Restart(std::move(options), std::move(mute));
}

void ProcedureBench::Restart(vok::sim::Options options, MutingPort::Trigger mute) {
  link_.reset();
  sim_ = std::make_unique<vok::sim::Simulator>(std::move(options));
  auto p = std::make_unique<MutingPort>(*sim_, std::move(mute));
  port = p.get();
  link_ = std::make_unique<LoaderLink>(std::move(p));
}

CommandBytes& CommandBytes::U32(uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
  return *this;
}

CommandBytes& CommandBytes::U16(uint16_t v) {
  bytes.push_back(static_cast<uint8_t>(v));
  bytes.push_back(static_cast<uint8_t>(v >> 8));
  return *this;
}

CommandBytes& CommandBytes::Record(uint32_t address, const std::vector<uint8_t>& data) {
  U32(address).U16(static_cast<uint16_t>(data.size()));
  bytes.insert(bytes.end(), data.begin(), data.end());
  return *this;
}

const std::vector<RefusedCommandFile>& RefusedCommandFiles() {
  static const std::vector<RefusedCommandFile> files = [] {
    const std::vector<uint8_t> data = Pattern(100, 1);
    const CommandBytes good = CommandBytes().Sector(0x84000).End().Record(0x84000, data);
    const std::string short_file = "it ends before its last record";
    auto programs = [](const char* address) {
      return std::string("it programs ") + address +
             ", which lies neither in RAM nor in a sector it erases";
    };
    auto cut = [](std::vector<uint8_t> bytes, size_t n) {
      bytes.resize(n);
      return bytes;
    };
    CommandBytes big = CommandBytes().Sector(0x84000).End().U32(0x84000).U16(1025);
    big.bytes.resize(big.bytes.size() + 1025, 0x11);
    CommandBytes tail = good;
    tail.Record(0x84100, data).U32(0x84200).U16(2000);
    return std::vector<RefusedCommandFile>{
        {"ends inside the erase section", cut(good.bytes, 6), "it ends inside its list of sectors"},
        {"ends inside a record's address", cut(good.bytes, 10), short_file},
        {"ends inside a record's length", cut(good.bytes, 13), short_file},
        {"ends inside a record's data", cut(good.bytes, 64), short_file},
        {"record of 0 bytes", CommandBytes().Sector(0x84000).End().U32(0x84000).U16(0).bytes,
         "its record at 0x00084000 holds 0 bytes, which no update writes"},
        {"record of 1025 bytes", big.bytes,
         "its record at 0x00084000 holds 1025 bytes, which no update writes"},
        {"bad length after good records", tail.bytes,
         "its record at 0x00084200 holds 2000 bytes, which no update writes"},
        {"erases the loader's block", CommandBytes().Sector(0x80000).End().bytes,
         "it erases 0x00080000, which is no sector of the flash"},
        {"erases inside a sector", CommandBytes().Sector(0x84000).Sector(0x85000).End().bytes,
         "it erases 0x00085000, which is no sector of the flash"},
        {"programs the loader's block", CommandBytes().End().Record(0x80000, data).bytes,
         programs("0x00080000")},
        {"programs below RAM", CommandBytes().End().Record(0x100, data).bytes,
         programs("0x00000100")},
        {"programs past the end of RAM", CommandBytes().End().Record(0x3FFC0, data).bytes,
         programs("0x00040000")},
        {"programs a sector it does not erase",
         CommandBytes().Sector(0x84000).End().Record(0x86000, data).bytes, programs("0x00086000")},
        {"a record reaches past its sector",
         CommandBytes().Sector(0x84000).End().Record(0x85FC0, data).bytes, programs("0x00086000")},
    };
  }();
  return files;
}

}  // namespace vok::test
