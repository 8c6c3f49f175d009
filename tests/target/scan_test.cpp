#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim_bench.h"
#include "support/recorders.h"
#include "target/scan.h"

namespace vok {
namespace {

using test::RecordingStatus;
using test::ScriptedUi;
using test::SimBench;

const std::string kLoaderLine = "VOK Loader V2.1.0\r\n \r\n";
const std::string kScanning = "Scanning for component information, please wait...";

sim::ComponentLayout Component(uint8_t type, const std::string& name, uint32_t header_at,
                             uint32_t length = 0x100, uint8_t v1 = 1, uint8_t v2 = 0,
                             uint8_t v3 = 0) {
  sim::ComponentLayout c;
  c.type = type;
  c.version[0] = v1;
  c.version[1] = v2;
  c.version[2] = v3;
  c.name = name;
  c.header_at = header_at;
  c.start = header_at + 0x40;
  c.length = length;
  return c;
}

// Connected to a controller with blank memory plus the given components.
struct ScanBench : SimBench {
  explicit ScanBench(std::vector<sim::ComponentLayout> components = {},
                     sim::Options o = test::BlankController())
      : SimBench([&] {
          o.components = std::move(components);
          return o;
        }()) {
    EXPECT_EQ(sim.StartError(), "");
    EXPECT_EQ(link->OpenLink("COM1", 38400), 0);
  }
  std::string Scan() { return ScanComponents(*link, ui, &status); }
  ScriptedUi ui;
  RecordingStatus status;
};

TEST(Scan, NoComponentGivesTheLoaderLineOnly) {
  ScanBench b;
  const int before = b.port->writes;
  EXPECT_EQ(b.Scan(), kLoaderLine);
  EXPECT_EQ(b.status.history, (std::vector<std::string>{kScanning, "Component versions read"}));
  EXPECT_TRUE(b.ui.messages.empty());
  EXPECT_EQ(b.port->writes - before, 128 + 1);  // 128 positions, then the version
  EXPECT_TRUE(b.link->IsOpen());                // the scan leaves the link as it was

  // No status control: the same listing.
  EXPECT_EQ(ScanComponents(*b.link, b.ui, nullptr), kLoaderLine);
}

TEST(Scan, OrderByTypeThenAddress) {
  ScanBench b({
      Component(2, "Parameters", 0x80000, 0x100, 1, 4, 0),
      Component(1, "Kernel", 0x90000, 0x2000, 3, 2, 1),
      Component(3, "Motion", 0xA0000, 0x800, 2, 0, 7),
      Component(1, "Drivers", 0xB0000, 0x100, 0, 9, 255),
      Component(2, "Tables", 0xC0000),
  });
  EXPECT_EQ(b.Scan(),
            "Kernel V3.2.1\r\n"
            "Drivers V0.9.255\r\n"
            "Parameters V1.4.0\r\n"
            "Tables V1.0.0\r\n"
            "Motion V2.0.7\r\n" +
                kLoaderLine);
  EXPECT_EQ(b.status.Current(), "Component versions read");
}

TEST(Scan, ChecksumMismatchListsCrcFailureInItsPlace) {
  ScanBench b({Component(2, "Parameters", 0x80000), Component(1, "Kernel", 0x90000),
               Component(3, "Motion", 0xA0000)});
  ASSERT_TRUE(b.sim.SpoilChecksum("Parameters"));
  EXPECT_EQ(b.Scan(), "Kernel V1.0.0\r\nParameters\tCRC failure\r\nMotion V1.0.0\r\n" + kLoaderLine);
  EXPECT_TRUE(b.ui.messages.empty());  // a mismatch is no failure
}

TEST(Scan, TheFindingsBehindTheListing) {
  ScanBench b({Component(2, "Parameters", 0x80000, 0x100, 1, 4, 0), Component(1, "Kernel", 0x90000)});
  b.sim.WriteMemory(0x81040, {'c', 'f', 'g', 0});
  ASSERT_TRUE(b.sim.AddComponent(Component(0, "Configuration", 0x81000, 4)));
  ASSERT_TRUE(b.sim.SpoilChecksum("Parameters"));
  ComponentScan scan;
  ASSERT_EQ(ScanComponentList(*b.link, b.ui, &b.status, scan), 1);
  ASSERT_EQ(scan.components.size(), 3u);
  const ScannedComponent& text = scan.components[0];
  EXPECT_EQ(text.address, 0x81000u);
  EXPECT_TRUE(text.checksum_ok && text.header.IsTextComponent());
  EXPECT_EQ(text.text, "cfg");
  const ScannedComponent& kernel = scan.components[1];
  EXPECT_EQ(kernel.address, 0x90000u);
  EXPECT_EQ(kernel.header.start, 0x90040u);
  EXPECT_TRUE(kernel.checksum_ok);
  EXPECT_FALSE(scan.components[2].checksum_ok);
  EXPECT_EQ(scan.components[2].header.version[1], 4);
  EXPECT_TRUE(scan.loader_version_known);
  EXPECT_EQ(scan.loader_version[0], 2);
  EXPECT_EQ(ComponentListing(scan), "cfgKernel V1.0.0\r\nParameters\tCRC failure\r\n" + kLoaderLine);
}

TEST(Scan, TextComponents) {
  ScanBench b;
  const std::string text = "K2/24V, 2 axes, serial 0047-1138\r\n";
  std::vector<uint8_t> content(text.begin(), text.end());
  content.push_back(0);
  content.push_back('X');  // behind the zero: not shown
  b.sim.WriteMemory(0x80040, content);
  ASSERT_TRUE(b.sim.AddComponent(Component(0, "Configuration", 0x80000,
                                           static_cast<uint32_t>(content.size()))));
  // 256 bytes without a zero: the first 255 are shown.
  b.sim.WriteMemory(0x81040, std::vector<uint8_t>(256, 'a'));
  ASSERT_TRUE(b.sim.AddComponent(Component(0, "Long text", 0x81000, 256)));
  // Type 0 but longer than 256: a component like the others.
  b.sim.WriteMemory(0x82040, std::vector<uint8_t>(300, 'b'));
  ASSERT_TRUE(b.sim.AddComponent(Component(0, "Boot block", 0x82000, 300, 4, 5, 6)));
  EXPECT_EQ(b.Scan(), text + std::string(255, 'a') + "Boot block V4.5.6\r\n" + kLoaderLine);
}

TEST(Scan, NamesAreBytesAndFillTheirField) {
  const std::string full(42, 'N');  // no zero byte: ends with the header
  const std::string odd = "Ger\xE4t \xFF";
  ScanBench b({Component(1, full, 0x80000), Component(1, odd, 0x81000)});
  EXPECT_EQ(b.Scan(), full + " V1.0.0\r\n" + odd + " V1.0.0\r\n" + kLoaderLine);
}

TEST(Scan, SearchAreaEndsAtTheLastBoundary) {
  // Data in RAM, header in the last 4 KiB of flash.
  sim::ComponentLayout top = Component(5, "Top", 0xFF000, 0x40);
  top.start = 0x10000;
  // Headers off a boundary are not found.
  ScanBench b({top, Component(1, "Off boundary", 0x80000)});
  std::vector<uint8_t> header = b.sim.ReadMemory(0x80000, 64);
  b.sim.WriteMemory(0x80000, std::vector<uint8_t>(64, 0xFF));
  b.sim.WriteMemory(0x80800, header);
  EXPECT_EQ(b.Scan(), "Top V1.0.0\r\n" + kLoaderLine);
}

TEST(Scan, ReadFailureEmptiesTheListing) {
  // The cable is pulled at the first read, at a read in mid-scan, at the
  // header read, at the checksum request and at the content read.
  struct Case {
    const char* what;
    int lost_write;  // counted from the first request of the scan
  };
  const Case cases[] = {
      {"first position", 1}, {"header", 4}, {"checksum", 5}, {"content", 6},
      {"position 0x85000", 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScanBench b;
    b.sim.WriteMemory(0x82040, {'t', 'x', 't', 0});
    ASSERT_TRUE(b.sim.AddComponent(Component(0, "Text", 0x82000, 4)));
    ASSERT_TRUE(b.sim.AddComponent(Component(1, "Kernel", 0x90000)));
    const int mark = b.port->writes;
    b.port->deaf_from_write = mark + c.lost_write;
    EXPECT_EQ(b.Scan(), "");
    // Three attempts at the lost request, and nothing after it.
    EXPECT_EQ(b.port->writes, mark + c.lost_write + 2);
    const std::string message = "Reading target memory failed (-3001) !";
    ASSERT_EQ(b.ui.messages.size(), 1u);
    EXPECT_EQ(b.ui.messages[0].text, message);
    EXPECT_EQ(b.ui.messages[0].buttons, Buttons::Ok);
    EXPECT_EQ(b.ui.messages[0].icon, Icon::Stop);
    EXPECT_EQ(b.ui.messages[0].title, "VOK Loader");
    EXPECT_EQ(b.status.history, (std::vector<std::string>{kScanning, message}));
  }
}

TEST(Scan, FailedVersionRequestIsSilent) {
  ScanBench b;
  b.port->deaf_from_write = b.port->writes + 129;  // the version request
  EXPECT_EQ(b.Scan(), "");
  EXPECT_TRUE(b.ui.messages.empty());
  EXPECT_EQ(b.status.Current(), "Component versions couldn't be read");

  ScanBench k({Component(1, "Kernel", 0x80000)});
  k.port->deaf_from_write = k.port->writes + 128 + 3;  // header and checksum come in between
  EXPECT_EQ(k.Scan(), "Kernel V1.0.0\r\n");
  EXPECT_EQ(k.status.Current(), "Component versions read");
}

}  // namespace
}  // namespace vok
