#pragma once

// Firmware files told apart by their content, not by their names.

#include <string>
#include <string_view>

namespace vok {

enum class FirmwareFormat {
  kEmpty,     // nothing in it
  kSRecord,   // "S" and a digit
  kIntelHex,  // ":" and a hex digit
  kElf,       // the ELF magic
  kOther,     // none of these: a raw binary, or not firmware at all
};

// From the first bytes of a file (at least four, when it has them).
FirmwareFormat FirmwareFormatOf(std::string_view head);
// From the file itself; kOther when it cannot be read.
FirmwareFormat DetectFirmwareFormat(const std::string& path);
// "S-records", "Intel HEX", "ELF", ...
const char* FirmwareFormatName(FirmwareFormat format);

}  // namespace vok
