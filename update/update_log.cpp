#include "update/update_log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "image/file.h"
#include "image/srecord.h"

namespace vok {

namespace {

constexpr const char* kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr size_t kBannerWidth = 70;

// Writes the whole buffer, riding out short writes and signals.
bool WriteAll(int fd, const char* data, size_t length) {
  while (length > 0) {
    ssize_t n = ::write(fd, data, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    data += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::tm LocalTime(std::time_t moment) {
  std::tm out{};
  localtime_r(&moment, &out);
  return out;
}

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
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return 0;
  // Nobody else writes the log while we append to it.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return 0;
  }
  bool ok = ::lseek(fd, 0, SEEK_END) >= 0 &&
            WriteAll(fd, static_cast<const char*>(data), length);
  if (::close(fd) != 0) ok = false;
  return ok ? 1 : 0;
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
