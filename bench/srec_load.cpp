// Loads an S-record file that holds 16 MiB of data, the largest update the
// memory image takes, and compares the time with srec_cat reading the same
// file into a binary in the same run. Prints one figure a line:
//   records, load seconds, srec_cat seconds, ratio (target <= 1.0),
//   peak resident memory in MiB (target < 32, whatever the file size),
//   and the time of 100,000 and 200,000 records of 16 bytes with gaps
//   loaded in descending order, each its own run (growth: target < 2.5,
//   2.0 being linear).
//
// srec_load [data-bytes-per-record]   (default 64, as this system writes)

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "image/file.h"
#include "image/memory_image.h"
#include "image/srecord.h"
#include "image/update_file.h"

extern char** environ;

namespace {

class SilentUi : public vok::UserInterface {
 public:
  vok::Answer ShowMessage(const std::string& text, vok::Buttons, vok::Icon, const std::string&) override {
    std::fprintf(stderr, "message: %s\n", text.c_str());
    return vok::Answer::Ok;
  }
  bool ChoosePort(int&) override { return false; }
  bool ChooseFile(const vok::FileDialogRequest&, std::string&) override { return false; }
  void BeginWait() override {}
  void EndWait() override {}
  void Beep(unsigned, unsigned) override {}
};

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Written piece by piece, so that making the file costs no memory either.
size_t WriteTestFile(const std::string& path, size_t per_record) {
  vok::TextFile file;
  vok::CreateSRecordFile(file, path, "srec_load benchmark");
  std::vector<uint8_t> data(per_record);
  uint32_t x = 12345;
  size_t records = 0;
  for (uint32_t address = 0; address < vok::MemoryImage::kImageSize; address += per_record) {
    size_t n = std::min<size_t>(per_record, vok::MemoryImage::kImageSize - address);
    for (size_t i = 0; i < n; ++i) {
      x = x * 1103515245u + 12345u;
      data[i] = static_cast<uint8_t>(x >> 16);
    }
    file.WriteText(vok::FormatSRecord('2', address, n, data.data()));
    ++records;
  }
  file.WriteText(vok::FormatSRecord('8', 0, 0, nullptr));
  file.Close();
  return records;
}

int Run(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);  // its warnings
  pid_t pid;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Loads records of 16 bytes 32 apart, last address first; the seconds.
double LoadDescending(const std::string& folder, uint32_t records) {
  const std::string path = folder + "/desc.sss";
  {
    vok::TextFile file;
    vok::CreateSRecordFile(file, path, "descending");
    std::vector<uint8_t> data(16, 0x5A);
    for (uint32_t i = records; i-- > 0;) file.WriteText(vok::FormatSRecord('3', i * 32, 16, data.data()));
    file.Close();
  }
  SilentUi ui;
  vok::MemoryImage image;
  vok::MemoryRangeList ranges;
  auto t0 = std::chrono::steady_clock::now();
  if (image.Open(0, folder) != 0 || LoadUpdateFile(path, image, ranges, ui) != 1 ||
      ranges.GetCount() != records)
    return -1;
  return Seconds(t0);
}

}  // namespace

int main(int argc, char** argv) {
  size_t per_record = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
  if (per_record == 0 || per_record > 251) {
    std::fprintf(stderr, "srec_load: data bytes per record must be 1 to 251\n");
    return 2;
  }
  std::string folder = (std::filesystem::temp_directory_path() / "srec_load-XXXXXX").string();
  if (mkdtemp(folder.data()) == nullptr) {
    std::perror("srec_load: mkdtemp");
    return 2;
  }
  const std::string srec = folder + "/data.sss", bin = folder + "/data.bin";
  size_t records = WriteTestFile(srec, per_record);

  int status = 0;
  SilentUi ui;
  vok::MemoryImage image;
  vok::MemoryRangeList ranges;
  auto t0 = std::chrono::steady_clock::now();
  int opened = image.Open(0, folder);
  int loaded = LoadUpdateFile(srec, image, ranges, ui);
  double load_s = Seconds(t0);
  if (opened != 0 || loaded != 1 || ranges.GetCount() != 1 ||
      image.GetExtentLength() != vok::MemoryImage::kImageSize) {
    std::fprintf(stderr, "srec_load: loading failed\n");
    status = 1;
  }

  auto t1 = std::chrono::steady_clock::now();
  int tool = Run({"srec_cat", srec, "-o", bin, "-binary"});
  double tool_s = Seconds(t1);
  if (tool != 0) {
    std::fprintf(stderr, "srec_load: srec_cat failed (%d)\n", tool);
    status = 1;
  } else {
    // A fast load is worth nothing unless it loaded the same bytes.
    try {
      vok::File reference;
      reference.Open(bin, vok::FileMode::kRead);
      std::vector<uint8_t> want(64 * 1024), got(64 * 1024);
      for (uint32_t at = 0; at < vok::MemoryImage::kImageSize; at += 64 * 1024) {
        size_t n = reference.Read(want.data(), want.size());
        image.Fetch(at, got.data(), 64 * 1024);
        if (n != want.size() || want != got) {
          std::fprintf(stderr, "srec_load: image differs from srec_cat near 0x%06X\n", at);
          status = 1;
          break;
        }
      }
    } catch (const vok::FileException& e) {
      std::fprintf(stderr, "srec_load: %s\n", e.what());
      status = 1;
    }
  }
  // The peak of the 16 MiB load, before the range lists of many small runs.
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  const double desc1 = LoadDescending(folder, 100000), desc2 = LoadDescending(folder, 200000);
  if (desc1 < 0 || desc2 < 0) {
    std::fprintf(stderr, "srec_load: loading descending records failed\n");
    status = 1;
  }
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);

  std::printf("records: %zu of %zu data bytes\n", records, per_record);
  std::printf("LoadUpdateFile: %.3f s\n", load_s);
  std::printf("srec_cat: %.3f s\n", tool_s);
  std::printf("ratio: %.3f (target <= 1.0)\n", tool_s > 0 ? load_s / tool_s : 0.0);
  std::printf("peak resident memory: %.1f MiB (target < 32)\n", usage.ru_maxrss / 1024.0);
  std::printf("descending records: 100000 in %.3f s, 200000 in %.3f s, growth %.2f (target < 2.5)\n",
              desc1, desc2, desc1 > 0 ? desc2 / desc1 : 0.0);
  return status;
}
