#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "link/port_list.h"
#include "support/temp_dir.h"

namespace vok {
namespace {

namespace fs = std::filesystem;

// The stable names in a folder of their own, apart from the devices, as a
// listing of another tree (sysfs, a container's /dev) hands them over.
TEST(PortList, TheSerialDevicesOfAMadeUpTree) {
  test::TempDir tree;
  const fs::path dev = tree.path() / "dev";
  const fs::path ids = tree.path() / "ids";
  fs::create_directories(dev);
  fs::create_directories(ids);
  for (const char* name : {"ttyUSB12", "ttyS1", "ttyUSB2", "ttyACM0", "ttyS", "ttyUSBx", "tty1",
                           "console", "ttyS01"}) {
    std::ofstream(dev / name).put('x');
  }
  fs::create_symlink(dev / "ttyUSB2", ids / "usb-Maker_Cable_7-if00");
  fs::create_symlink(dev / "ttyS1", ids / "pci-0000_00_16.3");
  fs::create_symlink(dev / "ttyUSB9", ids / "usb-Unplugged-if00");  // its device is gone

  EXPECT_EQ(SerialDevices({dev.string(), ids.string()}),
            (std::vector<std::string>{
                (ids / "pci-0000_00_16.3").string() + " -> " + (dev / "ttyS1").string(),
                (ids / "usb-Maker_Cable_7-if00").string() + " -> " + (dev / "ttyUSB2").string(),
                (ids / "usb-Unplugged-if00").string(),
                (dev / "ttyACM0").string(), (dev / "ttyS01").string(), (dev / "ttyS1").string(),
                (dev / "ttyUSB2").string(), (dev / "ttyUSB12").string()}));
  // Roots that do not exist list nothing rather than fail.
  EXPECT_TRUE(SerialDevices({(tree.path() / "none").string(), (tree.path() / "none2").string()}).empty());
}

TEST(PortList, TheLatencyTimerOfAnAdapterWhereSysfsHasIt) {
  test::TempDir sys;
  const fs::path devices = sys.path() / "bus/usb-serial/devices";
  for (const auto& [name, content] : {std::pair{"ttyUSB0", "16\n"}, {"ttyUSB1", "1"}, {"ttyUSB2", "fast"},
                                      {"ttyUSB3", ""}, {"ttyUSB4", "300"}}) {
    fs::create_directories(devices / name);
    std::ofstream(devices / name / "latency_timer") << content;
  }
  fs::create_directories(devices / "ttyUSB5");  // another driver: no timer
  const std::string root = sys.path().string();
  const std::pair<const char*, int> cases[] = {
      {"ttyUSB0", 16}, {"/dev/ttyUSB0", 16}, {"/dev/ttyUSB1", 1}, {"/dev/ttyUSB2", -1},
      {"/dev/ttyUSB3", -1}, {"/dev/ttyUSB4", -1}, {"/dev/ttyUSB5", -1}, {"/dev/ttyS0", -1},
      {"", -1}, {"/dev/..", -1}};
  for (const auto& [device, ms] : cases) EXPECT_EQ(LatencyTimerMs(root, device), ms) << device;
  // A stable name stands for the device it links to.
  fs::create_symlink(devices / "ttyUSB0", sys.path() / "usb-Maker_Cable_7-if00");
  EXPECT_EQ(LatencyTimerMs(root, (sys.path() / "usb-Maker_Cable_7-if00").string()), 16);
}

}  // namespace
}  // namespace vok
