#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/user_interface.h"
#include "link/loader_link.h"

namespace vok {

// The 64-byte mark of a firmware component in target memory, at a 4096-byte
// boundary; numbers big-endian.
struct ComponentHeader {
  static constexpr size_t kSize = 64;
  static constexpr uint32_t kMagic = 0xAA5555AA;
  static constexpr size_t kNameOffset = 22;
  static constexpr size_t kNameSize = 42;

  uint32_t magic = 0;
  uint32_t start = 0;     // first address of the component's data
  uint32_t length = 0;    // length of the data in bytes
  uint16_t checksum = 0;  // what the loader's checksum command gives for the data
  uint8_t type = 0;       // ordering key; 0 with length <= 256 marks a text component
  uint8_t version[3] = {0, 0, 0};
  uint8_t reserved[4] = {0, 0, 0, 0};
  // Bytes up to the first zero; all 42 when there is none.
  std::string name;

  bool IsTextComponent() const { return type == 0 && length <= 256; }

  static ComponentHeader Decode(const uint8_t (&bytes)[kSize]);
};

// Header positions searched: every 4096-byte boundary from 0x80000 up to, but
// not including, 0x100000.
inline constexpr uint32_t kScanFirst = 0x80000;
inline constexpr uint32_t kScanEnd = 0x100000;
inline constexpr uint32_t kScanStep = 0x1000;

// Lists the components installed on the target over an open link, ordered by
// type (equal types by address), each with its version or a checksum note,
// followed by the loader's version line. Empty when a command failed; that
// failure has then been shown with its code. Empty without a message when
// the user asked to stop. Leaves the link as it was.
std::string ScanComponents(LoaderLink& link, UserInterface& ui, StatusLine* status);

}  // namespace vok
