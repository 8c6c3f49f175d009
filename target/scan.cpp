#include "target/scan.h"

#include <cstring>
#include <vector>

#include "image/memory_map.h"
#include "link/byte_order.h"
#include "link/loader_commands.h"

namespace vok {

namespace {

void SetStatus(StatusLine* status, const std::string& text) {
  if (status) status->SetStatusText(text);
}

std::string VersionText(uint8_t a, uint8_t b, uint8_t c) {
  return "V" + std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c);
}

// Fills in the component's checksum verdict, text and listing line, or
// returns the code of the command that failed.
int DescribeComponent(LoaderLink& link, ScannedComponent& c) {
  const ComponentHeader& h = c.header;
  uint16_t sum = 0;
  if (int rc = GetTargetChecksum(link, h.start, h.length, sum); rc < 0) return rc;
  c.checksum_ok = sum == h.checksum;
  if (!c.checksum_ok) {
    c.line = h.name + "\tCRC failure\r\n";
  } else if (!h.IsTextComponent()) {
    c.line = h.name + " " + VersionText(h.version[0], h.version[1], h.version[2]) + "\r\n";
  } else {
    // A text component: its content is the line, up to its first zero byte
    // and at most 255 bytes.
    uint8_t content[256];
    const uint16_t n = static_cast<uint16_t>(h.length);
    if (int rc = ReadTargetMemory(link, h.start, n, content); rc < 0) return rc;
    size_t len = 0;
    while (len < n && len < 255 && content[len] != 0) ++len;
    c.text.assign(reinterpret_cast<const char*>(content), len);
    c.line = c.text;
  }
  return 0;
}

// ScanPositions' result when the user asked to stop.
constexpr int kStopped = 1;

// Scans every header position; 0 with the components in listing order, the
// code of the command that failed, or kStopped.
int ScanPositions(LoaderLink& link, UserInterface& ui, std::vector<ScannedComponent>& found) {
  const ScanWindow& window = kMemoryMap.scan;
  for (uint32_t at = window.first; at < window.end; at += window.step) {
    if (ui.StopRequested()) return kStopped;
    uint8_t magic[4];
    if (int rc = ReadTargetMemory(link, at, sizeof magic, magic); rc < 0) return rc;
    if (Be32(magic) != ComponentHeader::kMagic) continue;  // erased memory reads as FF

    uint8_t raw[ComponentHeader::kSize];
    if (int rc = ReadTargetMemory(link, at, sizeof raw, raw); rc < 0) return rc;
    ScannedComponent c;
    c.address = at;
    c.header = ComponentHeader::Decode(raw);
    if (int rc = DescribeComponent(link, c); rc < 0) return rc;

    // Before the first entry of a greater type: ascending by type, and in
    // the order found (by address) within one type.
    auto pos = found.begin();
    while (pos != found.end() && pos->header.type <= c.header.type) ++pos;
    found.insert(pos, std::move(c));
  }
  return 0;
}

}  // namespace

ComponentHeader ComponentHeader::Decode(const uint8_t (&b)[kSize]) {
  ComponentHeader h;
  h.magic = Be32(b + 0);
  h.start = Be32(b + 4);
  h.length = Be32(b + 8);
  h.checksum = Be16(b + 12);
  h.type = b[14];
  h.version[0] = b[15];
  h.version[1] = b[16];
  h.version[2] = b[17];
  std::memcpy(h.reserved, b + 18, sizeof h.reserved);
  // A name that fills its field has no zero byte: it ends with the header.
  const uint8_t* name = b + kNameOffset;
  size_t len = 0;
  while (len < kNameSize && name[len] != 0) ++len;
  h.name.assign(reinterpret_cast<const char*>(name), len);
  return h;
}

int ScanComponentList(LoaderLink& link, UserInterface& ui, StatusLine* status, ComponentScan& scan) {
  scan = ComponentScan{};
  SetStatus(status, "Scanning for component information, please wait...");

  const int scanned = ScanPositions(link, ui, scan.components);
  if (scanned != 0) scan.components.clear();
  if (scanned == kStopped) return 0;  // asked to stop: nothing to show
  if (int rc = scanned; rc < 0) {
    const std::string message = "Reading target memory failed (" + std::to_string(rc) + ") !";
    ui.ShowMessage(message, Buttons::Ok, Icon::Stop, kAppTitle);
    SetStatus(status, message);
    return 0;
  }

  uint8_t* v = scan.loader_version;
  scan.loader_version_known = GetLoaderVersion(link, v[0], v[1], v[2]) == 0;

  SetStatus(status, ComponentListing(scan).empty() ? "Component versions couldn't be read"
                                                   : "Component versions read");
  return 1;
}

std::string ComponentListing(const ComponentScan& scan) {
  std::string listing;
  for (const ScannedComponent& c : scan.components) listing += c.line;
  if (scan.loader_version_known) {
    const uint8_t* v = scan.loader_version;
    listing += "VOK Loader " + VersionText(v[0], v[1], v[2]) + "\r\n \r\n";
  }
  return listing;
}

std::string ScanComponents(LoaderLink& link, UserInterface& ui, StatusLine* status) {
  ComponentScan scan;
  if (!ScanComponentList(link, ui, status, scan)) return std::string();
  return ComponentListing(scan);
}

}  // namespace vok
