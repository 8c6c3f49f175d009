// The Win32 serial port on the system's own devices. The cases on a real
// line need a COM port with the simulated controller behind it, named by
// VOK_TEST_COM (scripts/test-windows maps voksim's terminal to one); they
// are skipped without it.

#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "link/frame.h"
#include "link/link_error.h"
#include "link/serial_port.h"

namespace vok {
namespace {

// The system's own words: a text from FormatMessageA, one line, no full stop.
void ExpectSystemReason(const PortOpenFailure& f, PortOpenFailure::Kind kind, DWORD error) {
  EXPECT_EQ(f.kind, kind);
  EXPECT_EQ(f.system_error, static_cast<int>(error));
  ASSERT_FALSE(f.reason.empty());
  EXPECT_EQ(f.reason.rfind("system error", 0), std::string::npos) << f.reason;
  EXPECT_EQ(f.reason.find_first_of("\r\n"), std::string::npos) << f.reason;
  EXPECT_NE(f.reason.back(), '.') << f.reason;
}

TEST(Win32SerialPort, DevicesThatAreMissingOrNoSerialLine) {
  std::unique_ptr<SerialPort> port = CreatePlatformSerialPort();
  EXPECT_EQ(port->OpenPort("COM250"), kErrPortOpen);
  ExpectSystemReason(port->LastOpenFailure(), PortOpenFailure::kMissing, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(port->LastOpenFailure().device, "COM250");
  EXPECT_EQ(port->OpenPort("\\\\.\\COM250"), kErrPortOpen);
  EXPECT_EQ(port->OpenPort(std::string("COM1\0x", 6)), kErrPortOpen);
  EXPECT_EQ(port->OpenPort(""), kErrPortOpen);
  EXPECT_EQ(port->LastOpenFailure().kind, PortOpenFailure::kMissing);

  // NUL opens but has no line settings: refused, and closed again, so the
  // next attempt is not "already open".
  EXPECT_EQ(port->OpenPort("NUL"), kErrPortSetup);
  EXPECT_EQ(port->LastOpenFailure().kind, PortOpenFailure::kSetup);
  EXPECT_EQ(port->LastOpenFailure().code, kErrPortSetup);
  EXPECT_EQ(port->OpenPort("NUL"), kErrPortSetup);
  EXPECT_EQ(port->WritePort(1, reinterpret_cast<const uint8_t*>("x")), kErrWrite);
  uint8_t b = 0;
  EXPECT_EQ(port->ReadPortByte(&b, 0), kErrPortState);
}

constexpr uint32_t kHangMs = 10000;

TEST(Win32SerialPort, TickCountIsTheSystemsMillisecondCounter) {
  std::unique_ptr<SerialPort> port = CreatePlatformSerialPort();
  const uint32_t before = static_cast<uint32_t>(::GetTickCount());
  const uint32_t t0 = port->TickCount();
  port->BusyWait(50);
  const uint32_t waited = port->TickCount() - t0;
  EXPECT_GE(waited, 50u);
  // Upper bounds on a real clock only catch a hang: CI shares its cores.
  EXPECT_LT(waited, kHangMs);
  EXPECT_LE(static_cast<uint32_t>(t0 - before), kHangMs);
}

std::string TestLine() {
  const char* name = std::getenv("VOK_TEST_COM");
  return name != nullptr ? name : "";
}

// Wine neither holds a COM port exclusively nor refuses any rate on it, so
// those cases are left to a real Windows.
bool UnderWine() {
  HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// The loader listens at 9600 after reset and at 38400 after a negotiation.
bool ProbeAnswered(SerialPort& port) {
  const uint8_t probe[3] = {0x00, 0x01, 0x01};
  uint8_t reply[1500];
  for (uint32_t rate : {9600u, 38400u}) {
    if (port.SetPortBaud(rate) != 0) return false;
    port.PurgePortInput();
    if (SendFrame(port, sizeof probe, probe) != 0) return false;
    if (ReceiveFrame(port, sizeof reply, reply, 200) == 3) return true;
  }
  return false;
}

TEST(Win32SerialPort, OnARealLine) {
  const std::string line = TestLine();
  if (line.empty()) GTEST_SKIP() << "VOK_TEST_COM names no port";
  std::unique_ptr<SerialPort> port = CreatePlatformSerialPort();
  ASSERT_EQ(port->OpenPort(line), 0);
  EXPECT_EQ(port->Baud(), 9600u);
  EXPECT_EQ(port->OpenPort(line), kErrPortOpen);  // this port holds a device already

  // A silent line: not given up before T + 110 ms (the exact window is
  // checked on the fake port's virtual clock).
  uint8_t b = 0;
  const uint32_t t0 = port->TickCount();
  EXPECT_EQ(port->ReadPortByte(&b, 100), kErrTimeout);
  const uint32_t waited = port->TickCount() - t0;
  EXPECT_GE(waited, 200u);
  EXPECT_LT(waited, kHangMs);

  EXPECT_TRUE(ProbeAnswered(*port));
  // Bytes that wait in the queue are taken at once, one per call.
  const uint8_t probe[3] = {0x00, 0x01, 0x01};
  ASSERT_EQ(SendFrame(*port, sizeof probe, probe), 0);
  ::Sleep(300);
  EXPECT_EQ(port->ReadPortByte(&b, 0), 0);
  EXPECT_EQ(b, kDLE);
  port->PurgePortInput();
  EXPECT_EQ(port->ReadPortByte(&b, 0), kErrTimeout);  // the rest was discarded

  std::unique_ptr<SerialPort> other = CreatePlatformSerialPort();
  if (!UnderWine()) {
    EXPECT_EQ(other->OpenPort(line), kErrPortOpen);
    EXPECT_EQ(port->SetPortBaud(1), kErrPortSetup);
    EXPECT_EQ(port->Baud(), 1u);  // stored all the same
    EXPECT_TRUE(ProbeAnswered(*port));
  }
  port->ClosePort();
  EXPECT_EQ(other->OpenPort(line), 0);
  other->ClosePort();
}

}  // namespace
}  // namespace vok
