// The serial port over the Win32 communications functions.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "link/link_error.h"
#include "link/serial_port.h"

namespace vok {

namespace {

constexpr DWORD kReceiveQueue = 1500;
constexpr DWORD kTransmitQueue = 4500;

// "COM12" opens only as "\\.\COM12"; the prefix is harmless for COM1 to COM9
// and for any other device name.
std::string DevicePath(const std::string& device) {
  if (device.compare(0, 2, "\\\\") == 0) return device;
  return "\\\\.\\" + device;
}

// The system's text for an error code, without its closing line break and
// full stop, in the system's ANSI code page like every other text here.
std::string ErrorText(DWORD error) {
  char buffer[512];
  DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             error, 0, buffer, sizeof buffer, nullptr);
  while (n > 0 && (buffer[n - 1] == '\r' || buffer[n - 1] == '\n' || buffer[n - 1] == ' ' ||
                   buffer[n - 1] == '.'))
    --n;
  if (n == 0) return "system error " + std::to_string(error);
  return std::string(buffer, n);
}

PortOpenFailure::Kind KindOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return PortOpenFailure::kMissing;
    // A COM port is opened exclusively: refused access means another
    // program has it.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      return PortOpenFailure::kBusy;
    default:
      return PortOpenFailure::kOther;
  }
}

class Win32SerialPort final : public SerialPort {
 public:
  ~Win32SerialPort() override { ClosePort(); }

  int OpenPort(const std::string& device) override {
    // This port already holds a device; a second one would leak it.
    if (handle_ != INVALID_HANDLE_VALUE)
      return Failed(kErrPortOpen, PortOpenFailure::kBusy, ERROR_BUSY, device);
    OpenSucceeded();
    if (device.empty() || device.find('\0') != std::string::npos)
      return Failed(kErrPortOpen, PortOpenFailure::kMissing, ERROR_FILE_NOT_FOUND, device);
    const std::string path = DevicePath(device);
    // No sharing: a port held by another program is refused here.
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD error = ::GetLastError();
      return Failed(kErrPortOpen, KindOf(error), error, device);
    }
    handle_ = h;
    baud_ = 9600;
    if (!SetUp()) {
      const DWORD error = ::GetLastError();
      ClosePort();
      return Failed(kErrPortSetup, PortOpenFailure::kSetup, error, device);
    }
    return 0;
  }

  int SetPortBaud(uint32_t rate) override {
    if (handle_ == INVALID_HANDLE_VALUE) return kErrPortSetup;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(handle_, &dcb)) return kErrPortSetup;
    baud_ = rate;
    dcb.BaudRate = rate;
    return ::SetCommState(handle_, &dcb) ? 0 : kErrPortSetup;
  }

  int WritePort(size_t n, const uint8_t* bytes) override {
    if (handle_ == INVALID_HANDLE_VALUE || n > MAXDWORD) return kErrWrite;
    DWORD written = 0;
    if (!::WriteFile(handle_, bytes, static_cast<DWORD>(n), &written, nullptr)) {
      // Abort on error would otherwise refuse every later read and write.
      ClearPortError();
      return kErrWrite;
    }
    // Fewer bytes than asked: the write time-out struck.
    return written == n ? 0 : kErrWrite;
  }

  void PurgePortInput() override {
    if (handle_ != INVALID_HANDLE_VALUE) ::PurgeComm(handle_, PURGE_RXCLEAR);
  }

  void ClosePort() override {
    if (handle_ == INVALID_HANDLE_VALUE) return;
    ::CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

  void Sleep(uint32_t ms) override { ::Sleep(ms); }

  uint32_t TickCount() override { return static_cast<uint32_t>(::GetTickCount()); }

 protected:
  // The device's time-outs bound the wait: 100 ms + 10 ms for the one byte.
  int ReadAttempt(uint8_t* byte) override {
    if (handle_ == INVALID_HANDLE_VALUE) return 0;
    DWORD got = 0;
    if (!::ReadFile(handle_, byte, 1, &got, nullptr)) return 0;
    return got == 1 ? 1 : 0;
  }

  bool ClearPortError() override {
    if (handle_ == INVALID_HANDLE_VALUE) return false;
    DWORD errors = 0;
    COMSTAT status{};
    return ::ClearCommError(handle_, &errors, &status) != 0;
  }

 private:
  int Failed(int code, PortOpenFailure::Kind kind, DWORD error, const std::string& device) {
    return OpenFailed(code, kind, static_cast<int>(error), device, ErrorText(error));
  }

  // Queue sizes, properties, the line at 9600 8N1 without flow control, and
  // the time-outs. false at the first step the device refuses.
  bool SetUp() {
    if (!::SetupComm(handle_, kReceiveQueue, kTransmitQueue)) return false;
    COMMPROP props{};
    if (!::GetCommProperties(handle_, &props)) return false;

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(handle_, &dcb)) return false;
    dcb.BaudRate = 9600;
    dcb.fBinary = 1;
    dcb.fParity = 0;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    // fDsrSensitivity and fTXContinueOnXoff stay as the device has them.
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = 1;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    if (!::SetCommState(handle_, &dcb)) return false;

    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = 100;
    t.ReadTotalTimeoutMultiplier = 10;
    t.ReadTotalTimeoutConstant = 100;
    t.WriteTotalTimeoutMultiplier = 10;
    t.WriteTotalTimeoutConstant = 100;
    return ::SetCommTimeouts(handle_, &t) != 0;
  }

  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace

std::unique_ptr<SerialPort> CreatePlatformSerialPort() { return std::make_unique<Win32SerialPort>(); }

std::string SystemComDevice(unsigned n) { return "\\\\.\\COM" + std::to_string(n); }

}  // namespace vok
