#include "image/firmware_format.h"

#include "image/file.h"

namespace vok {

FirmwareFormat FirmwareFormatOf(std::string_view head) {
  if (head.empty()) return FirmwareFormat::kEmpty;
  if (head.size() >= 4 && head.substr(0, 4) == std::string_view("\x7F" "ELF", 4))
    return FirmwareFormat::kElf;
  if (head.size() >= 2) {
    const char c = head[1];
    if (head[0] == 'S' && c >= '0' && c <= '9') return FirmwareFormat::kSRecord;
    const bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    if (head[0] == ':' && hex) return FirmwareFormat::kIntelHex;
  }
  return FirmwareFormat::kOther;
}

FirmwareFormat DetectFirmwareFormat(const std::string& path) {
  try {
    File file;
    file.Open(path, FileMode::kRead);
    char head[4];
    const size_t n = file.Read(head, sizeof head);
    file.Abort();
    return FirmwareFormatOf(std::string_view(head, n));
  } catch (const FileException&) {
    return FirmwareFormat::kOther;
  }
}

const char* FirmwareFormatName(FirmwareFormat format) {
  switch (format) {
    case FirmwareFormat::kEmpty: return "an empty file";
    case FirmwareFormat::kSRecord: return "S-records";
    case FirmwareFormat::kIntelHex: return "Intel HEX";
    case FirmwareFormat::kElf: return "ELF";
    case FirmwareFormat::kOther: break;
  }
  return "a raw binary";
}

}  // namespace vok
