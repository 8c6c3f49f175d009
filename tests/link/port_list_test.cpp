#include <gtest/gtest.h>

#include <string>

#include "link/port_list.h"

namespace vok {
namespace {

TEST(PortList, TheFourNamesOfThePortTableInAnyCase) {
  const struct {
    const char* name;
    int index;  // -1: not a name of the table
  } kCases[] = {
      {"COM1", 0}, {"com4", 3}, {"Com2", 1}, {"cOM3", 2}, {"COM5", -1}, {"COM0", -1},
      {"COM", -1}, {"COM12", -1}, {"CON1", -1}, {"XCOM1", -1}, {"", -1}, {"/dev/COM1", -1},
  };
  for (const auto& c : kCases) {
    int index = -7;
    EXPECT_EQ(IsComName(c.name, index), c.index >= 0) << c.name;
    EXPECT_EQ(index, c.index >= 0 ? c.index : -7) << c.name;
  }
}

// What the Windows device registry answers for a COM port, as the listing
// takes it apart.
TEST(PortList, ThePortsOfTheWindowsRegistry) {
  const struct {
    const char* instance;
    const char* mfg;
    const char* service;
    PortKind kind;
    int vendor, product;
    const char* serial;
    const char* identity;
  } kCases[] = {
      {"USB\\VID_0403&PID_6001\\A50285BI", "@oem12.inf,%ftdi%;FTDI", "FTSER2K", PortKind::kUsb,
       0x0403, 0x6001, "A50285BI", "USB_VID_0403_PID_6001_A50285BI"},
      {"FTDIBUS\\VID_0403+PID_6015+DN05KXYZA\\0000", "FTDI", "FTSER2K", PortKind::kUsb, 0x0403,
       0x6015, "DN05KXYZA", "FTDIBUS_VID_0403_PID_6015_DN05KXYZA_0000"},
      // A serial number the system made up from the socket is none.
      {"USB\\VID_2341&PID_0043\\5&2a8f3b6&0&2", "Arduino LLC", "usbser", PortKind::kAcm, 0x2341,
       0x0043, "", "COM7"},
      {"ACPI\\PNP0501\\1", "(Standard port types)", "Serial", PortKind::kUart, -1, -1, "", "COM7"},
      {"", "", "", PortKind::kUart, -1, -1, "", "COM7"},
  };
  for (const auto& c : kCases) {
    const SerialPortInfo p = WindowsPortFromRegistry(c.instance, c.mfg, c.service, "COM7");
    EXPECT_EQ(p.device, "\\\\.\\COM7") << c.instance;
    EXPECT_EQ(p.kind, c.kind) << c.instance;
    EXPECT_EQ(p.vendor_id, c.vendor) << c.instance;
    EXPECT_EQ(p.product_id, c.product) << c.instance;
    EXPECT_EQ(p.serial_number, c.serial) << c.instance;
    EXPECT_EQ(PortIdentity(&p, "COM7"), c.identity) << c.instance;
  }
  EXPECT_EQ(WindowsPortFromRegistry("USB\\VID_0403&PID_6001\\A1", "@oem12.inf,%ftdi%;FTDI", "", "COM3").maker,
            "FTDI");
}

}  // namespace
}  // namespace vok
