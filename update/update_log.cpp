#include "update/update_log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>

#include "app/app_paths.h"
#include "image/file.h"
#include "image/platform_io.h"
#include "image/firmware_format.h"
#include "image/srecord.h"

namespace vok {

namespace {

constexpr const char* kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr size_t kBannerWidth = 70;


// "fw.hex, 08. Dec 2026 (14:03:11)\r\n": the file's own name and the time it
// was last written, which tell one build from another.
std::string FileNameAndDate(const std::string& path) {
  const size_t slash = path.find_last_of(kPathNameSeparators);
  std::string line = slash == std::string::npos ? path : path.substr(slash + 1);
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) return line + ", " + FormatLogDate(LocalTime(st.st_mtime));
  return line + "\r\n";
}

}  // namespace

std::tm LocalTime(std::time_t moment) { return platform_io::LocalTime(moment); }

std::string FormatLogDate(const std::tm& t) {
  int month = t.tm_mon;
  if (month < 0 || month > 11) month = 0;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%02d. %s %d (%02d:%02d:%02d)\r\n", t.tm_mday,
                kMonths[month], t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
  return buffer;
}

std::string BuildUpdateDescription(const std::string& file_name, const std::tm& now) {
  std::string text;
  try {
    TextFile file;
    file.Open(file_name, FileMode::kRead);
    const std::string banner = std::string(kBannerWidth, '#') + "\r\n";
    text = banner;
    text += "Update of VOK System on ";
    text += FormatLogDate(now);
    text += banner;
    const FirmwareFormat format = DetectFirmwareFormat(file_name);
    if (format != FirmwareFormat::kSRecord && format != FirmwareFormat::kEmpty) {
      // Only S-records carry texts of their own.
      file.Abort();
      return text + FileNameAndDate(file_name);
    }
    // Room for the largest record a count byte can announce, so that a long
    // header record is taken whole rather than cut.
    uint8_t data[kMaxSRecordData];
    std::string line;
    // Whole lines: one longer than any record is no header record.
    while (file.ReadLine(line, kMaxSRecordLine) == TextFile::LineStatus::kLine) {
      char type = 0;
      uint32_t address = 0;
      int n = ParseSRecord(line, type, address, data, sizeof data);
      if (n < 1 || type != '0') break;
      // A zero byte ends the record's contribution.
      const void* zero = std::memchr(data, 0, static_cast<size_t>(n));
      size_t used = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - data)
                         : static_cast<size_t>(n);
      text.append(reinterpret_cast<const char*>(data), used);
    }
    file.Abort();  // read only: nothing to report on closing
  } catch (const FileException&) {
    return std::string();
  }
  return text;
}

int AppendToFile(const void* data, std::size_t length, const std::string& path) {
  File file;
  try {
    file.Open(path, FileMode::kOpenAlways);
    // Nobody else writes the log while we append to it.
    if (!platform_io::LockExclusive(file.Descriptor())) throw FileException("log file in use", path, errno);
    file.SeekToEnd();
    file.Write(data, length);
    file.Close();
    return 1;
  } catch (const FileException&) {
    file.Abort();
    return 0;
  }
}

void ShowTextInLog(LogList& log, const std::string& text, bool empty_gives_line) {
  if (text.empty()) {
    if (empty_gives_line) log.AddLine(std::string());
    return;
  }
  size_t pos = 0;
  while (pos < text.size()) {
    size_t cr = text.find('\r', pos);
    if (cr == std::string::npos) {
      log.AddLine(text.substr(pos));
      break;
    }
    log.AddLine(text.substr(pos, cr - pos));
    pos = cr + 2;  // past the CR and the LF after it
  }
}

std::string UpToFirstNul(const std::string& text) {
  size_t nul = text.find('\0');
  return nul == std::string::npos ? text : text.substr(0, nul);
}

}  // namespace vok
