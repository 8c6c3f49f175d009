#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/cli_app.h"

namespace vok::cli {
namespace {

TEST(CliPorts, ListsTheComNamesWithWhyThenTheDevicesWithTheirIdentities) {
  SerialPortInfo adapter;
  adapter.device = "/dev/ttyUSB0";
  adapter.kind = PortKind::kUsb;
  adapter.stable_name = "/dev/serial/by-id/usb-Maker_Cable_42-if00";
  adapter.socket_name = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0";
  adapter.vendor_id = 0x0403;
  adapter.product_id = 0x6001;
  adapter.maker = "Maker";
  adapter.product = "Cable";
  adapter.serial_number = "42";
  SerialPortInfo uart;
  uart.device = "/dev/ttyS1";

  EXPECT_EQ(PortListing({{"COM3", "/dev/odd"}}, {uart, adapter}),
            (std::vector<std::string>{
                "COM1=/dev/ttyUSB0 (USB adapter)", "COM2=/dev/ttyS1 (UART)",
                "COM3=/dev/odd (as configured)", "COM4=/dev/ttyS3 (not present)", "",
                "Serial devices of this system:", "  /dev/ttyS1: UART",
                "  /dev/ttyUSB0: USB adapter 0403:6001, Maker, Cable, serial number 42",
                "    /dev/serial/by-id/usb-Maker_Cable_42-if00",
                "    /dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0"}));
  EXPECT_EQ(PortListing({}, {}).back(), "  (none found)");
}

}  // namespace
}  // namespace vok::cli
