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

// A laptop's or a PC's tree as the kernel lays it out: the devices, their
// stable names, and /sys/class/tty with a UART type for ttyS and the USB
// device (idVendor, serial...) some folders above a USB tty.
class MadeUpTree {
 public:
  explicit MadeUpTree(const fs::path& root) : root_(root) {
    fs::create_directories(root / "dev/serial/by-id");
    fs::create_directories(root / "dev/serial/by-path");
  }
  SerialDeviceRoots Roots() const { return SerialDeviceRoots::Beneath(root_.string()); }
  std::string Dev(const std::string& name) const { return (root_ / "dev" / name).string(); }
  void Uart(const std::string& name, int type) {
    Write(root_ / "dev" / name, "");
    fs::create_directories(root_ / "sys/class/tty" / name);
    Write(root_ / "sys/class/tty" / name / "type", std::to_string(type) + "\n");
  }
  // A USB tty at a socket; serial empty: the adapter has none.
  void Usb(const std::string& name, const std::string& socket, const std::string& serial,
           const std::string& by_id) {
    Write(root_ / "dev" / name, "");
    const fs::path usb = root_ / "sys/devices/pci0000:00/usb1" / socket;
    const fs::path iface = usb / (socket + ":1.0") / name;
    fs::create_directories(iface);
    Write(iface / "latency_timer", "16\n");
    fs::create_directories(root_ / "sys/bus/usb-serial/devices");
    fs::create_symlink(iface, root_ / "sys/bus/usb-serial/devices" / name);
    Write(usb / "idVendor", "0403\n");
    Write(usb / "idProduct", "6001\n");
    Write(usb / "manufacturer", "FTDI\n");
    Write(usb / "product", "FT232R USB UART\n");
    if (!serial.empty()) Write(usb / "serial", serial + "\n");
    fs::create_directories(root_ / "sys/class/tty" / name);
    fs::create_symlink(iface, root_ / "sys/class/tty" / name / "device");
    if (!by_id.empty()) fs::create_symlink("../../" + name, root_ / "dev/serial/by-id" / by_id);
    fs::create_symlink("../../" + name,
                       root_ / "dev/serial/by-path" / ("pci-0000:00:14.0-usb-0:" + socket + ":1.0-port0"));
  }

 private:
  static void Write(const fs::path& file, const std::string& text) { std::ofstream(file) << text; }
  fs::path root_;
};

TEST(PortList, IdentitiesAndTheComMappingOfAMadeUpSysfsTree) {
  struct Case {
    const char* what;
    std::vector<int> uart_types;  // ttyS0, ttyS1, ...
    bool two_adapters;
    std::vector<std::string> com;  // COM1..COM4, device names beneath dev/ ("" = /dev/ttyS(n-1))
  };
  const Case kCases[] = {
      {"laptop, one adapter: it is COM1", {0, 0, 0, 0}, false, {"ttyUSB1", "", "", ""}},
      {"PC with a real COM1: kept, the adapters follow by stable name", {4, 0, 0, 0}, true,
       {"ttyS0", "ttyUSB1", "ttyUSB3", ""}},
      {"real COM2 only: COM1 and COM3 for the adapters", {0, 4}, true,
       {"ttyUSB1", "ttyS1", "ttyUSB3", ""}},
  };
  for (const Case& c : kCases) {
    test::TempDir dir;
    MadeUpTree tree(dir.path());
    for (size_t i = 0; i < c.uart_types.size(); ++i) tree.Uart("ttyS" + std::to_string(i), c.uart_types[i]);
    // No serial number: its by-id name would be its twin's too, so its
    // identity is its socket.
    tree.Usb("ttyUSB1", "2", "", "usb-FTDI_FT232R_USB_UART-if00-port0");
    if (c.two_adapters) tree.Usb("ttyUSB3", "1", "A50285BI", "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");

    const std::vector<SerialPortInfo> ports = SerialPorts(tree.Roots());
    std::vector<std::string> expected;
    for (size_t i = 0; i < 4; ++i)
      expected.push_back(c.com[i].empty() ? "/dev/ttyS" + std::to_string(i) : tree.Dev(c.com[i]));
    EXPECT_EQ(ComDefaults(ports), expected) << c.what;
    // ttyS without a UART are no serial devices.
    for (const SerialPortInfo& p : ports) EXPECT_NE(p.kind, PortKind::kNoUart) << p.device;

    // A [Ports] entry still wins; the others keep the mapping.
    PortTable table = WithComDefaults({{"COM1", "/dev/serial/by-id/mine"}}, ports);
    EXPECT_EQ(table["COM1"], "/dev/serial/by-id/mine") << c.what;
    EXPECT_EQ(table["COM2"], expected[1]) << c.what;

    const SerialPortInfo* socketed = FindSerialPort(ports, tree.Dev("ttyUSB1"));
    ASSERT_NE(socketed, nullptr) << c.what;
    EXPECT_EQ(socketed->vendor_id, 0x0403);
    EXPECT_EQ(socketed->product_id, 0x6001);
    EXPECT_EQ(socketed->maker + "/" + socketed->product + "/" + socketed->serial_number,
              "FTDI/FT232R USB UART/");
    EXPECT_EQ(PortIdentity(socketed, "/dev/ttyUSB1"), "pci-0000_00_14.0-usb-0_2_1.0-port0");
    EXPECT_EQ(socketed->latency_timer_ms, 16);
    if (c.two_adapters) {
      // Found by its by-id name too, as a [Ports] entry would hold it.
      const SerialPortInfo* serial = FindSerialPort(
          ports, (dir.path() / "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0").string());
      ASSERT_NE(serial, nullptr);
      EXPECT_EQ(serial->device, tree.Dev("ttyUSB3"));
      EXPECT_EQ(serial->serial_number, "A50285BI");
      EXPECT_EQ(PortIdentity(serial, "COM2"), "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    }
  }
  // A device nobody knows of is named as given.
  EXPECT_EQ(PortIdentity(nullptr, "/dev/ttyUSB7"), "dev_ttyUSB7");
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
