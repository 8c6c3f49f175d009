#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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

// One component as the scan found it.
struct ScannedComponent {
  uint32_t address = 0;  // of its header
  ComponentHeader header;
  bool checksum_ok = false;
  // A text component's content, up to its first zero byte and at most 255
  // bytes; read only when its checksum holds.
  std::string text;
  std::string line;  // its line of the listing, with CR LF
};

struct ComponentScan {
  std::vector<ScannedComponent> components;  // in listing order
  bool loader_version_known = false;
  uint8_t loader_version[3] = {0, 0, 0};
};

// The scan behind ScanComponents, its findings kept apart. 1 with scan
// filled, 0 after the failure has been shown or when the user asked to stop
// (scan then holds nothing).
int ScanComponentList(LoaderLink& link, UserInterface& ui, StatusLine* status, ComponentScan& scan);

// The components' lines, then the loader's version line when it is known.
std::string ComponentListing(const ComponentScan& scan);

// Lists the components installed on the target over an open link, ordered by
// type (equal types by address), each with its version or a checksum note,
// followed by the loader's version line. Empty when a command failed; that
// failure has then been shown with its code. Empty without a message when
// the user asked to stop. Leaves the link as it was.
std::string ScanComponents(LoaderLink& link, UserInterface& ui, StatusLine* status);

}  // namespace vok
