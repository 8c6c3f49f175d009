#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "cli/cli_app.h"
#include "support/temp_dir.h"

namespace vok::cli {
namespace {

namespace fs = std::filesystem;

TEST(CliPorts, ListsTheTableThenStableNamesThenTheSerialDevices) {
  test::TempDir dev;
  for (const char* name : {"ttyS0", "ttyS10", "ttyS2", "ttyUSB0", "ttyACM1", "tty0", "ttySX", "null"}) {
    std::ofstream(dev.file(name)).put('x');
  }
  fs::create_directories(dev.path() / "serial" / "by-id");
  fs::create_symlink("../../ttyUSB0", dev.path() / "serial" / "by-id" / "usb-Maker_Cable_42-if00");

  LoaderLink link;
  link.SetPortTable({{"COM2", "/dev/serial/by-id/usb-Maker_Cable_42-if00"}});
  std::string root = dev.path().string();
  // An FTDI adapter's timer, as sysfs gives it.
  test::TempDir sys;
  fs::create_directories(sys.path() / "bus/usb-serial/devices/ttyUSB0");
  std::ofstream(sys.path() / "bus/usb-serial/devices/ttyUSB0/latency_timer") << "16\n";
  const std::string timer = "  (latency timer 16 ms)";
  EXPECT_EQ(PortListing(link, {root, root + "/serial/by-id", sys.path().string()}),
            (std::vector<std::string>{
                "COM1=/dev/ttyS0", "COM2=/dev/serial/by-id/usb-Maker_Cable_42-if00",
                "COM3=/dev/ttyS2", "COM4=/dev/ttyS3", "", "Serial devices of this system:",
                "  " + root + "/serial/by-id/usb-Maker_Cable_42-if00 -> " + root + "/ttyUSB0" + timer,
                "  " + root + "/ttyACM1", "  " + root + "/ttyS0", "  " + root + "/ttyS2",
                "  " + root + "/ttyS10", "  " + root + "/ttyUSB0" + timer}));

  test::TempDir empty;
  std::vector<std::string> none = PortListing(link, {empty.path().string(), (empty.path() / "serial" / "by-id").string()});
  EXPECT_EQ(none.back(), "  (none found)");
}

}  // namespace
}  // namespace vok::cli
