#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vok {

// Why the last OpenPort failed, as the operating system told it, so that a
// front end can name the device and the reason rather than the code alone.
struct PortOpenFailure {
  enum Kind {
    kNone,     // the last open succeeded, or none was tried
    kMissing,  // no such device
    kDenied,   // the user may not open it
    kBusy,     // another program holds it
    kSetup,    // it opened but refused the serial settings (no serial line)
    kOther,
  };
  Kind kind = kNone;
  int code = 0;          // the LinkError that OpenPort returned
  int system_error = 0;  // errno, or GetLastError() on Windows; 0 when none applies
  std::string device;
  std::string reason;    // the system's text for system_error
};

// One serial device, opened exclusively, raw 8N1 without flow control.
//
// The timing rules (the read loop with its tick-count test, the busy wait)
// live here once; a platform backend supplies only the primitive steps.
// Backends: serial_port_posix.cpp (termios), serial_port_win32.cpp, and the
// fakes of the tests and of the in-process simulator.
class SerialPort {
 public:
  // Longest wait of one read attempt: interval 100 ms + 10 ms per byte.
  static constexpr uint32_t kAttemptMs = 110;

  virtual ~SerialPort() = default;

  // 0; -1008 device missing or held by another program; -1001 cannot be set up.
  virtual int OpenPort(const std::string& device) = 0;
  // 0; -1001. The rate is stored before the device is asked to apply it.
  virtual int SetPortBaud(uint32_t rate) = 0;
  // 0 when every byte was written within 10*n + 100 ms; -1007 otherwise.
  virtual int WritePort(size_t n, const uint8_t* bytes) = 0;
  // Discards pending input, the port's own read-ahead included.
  virtual void PurgePortInput() = 0;
  virtual void ClosePort() = 0;

  // 0 with the byte stored; -1002 time-out; -1003 error state cannot be cleared.
  // A missing byte is given up between T + 110 ms and T + 220 ms after the call.
  int ReadPortByte(uint8_t* byte, uint32_t timeout_ms);

  // Blocks the caller for the full duration, measured on TickCount.
  virtual void BusyWait(uint32_t ms);
  // The platform's sleep (used by the text exchange).
  virtual void Sleep(uint32_t ms);
  // Monotonic milliseconds, 32 bits, wrapping; compare only by unsigned difference.
  virtual uint32_t TickCount();

  uint32_t Baud() const { return baud_; }

  // The bytes read and the frame bytes written since the port was made, for
  // the production record: what a run cost on the line.
  uint64_t LineBytes() const { return line_bytes_; }
  void CountWritten(size_t n) { line_bytes_ += n; }

  // Kind kNone unless the last OpenPort failed.
  const PortOpenFailure& LastOpenFailure() const { return open_failure_; }

 protected:
  // One read attempt that waits up to kAttemptMs for a byte.
  // 1 with the byte stored, 0 when none came.
  virtual int ReadAttempt(uint8_t* byte) = 0;
  // Clears the device's error state after a line error; false if it cannot.
  virtual bool ClearPortError() = 0;

  // Returns code, after noting it with the system's reason.
  int OpenFailed(int code, PortOpenFailure::Kind kind, int system_error, const std::string& device,
                 std::string reason);
  void OpenSucceeded() { open_failure_ = PortOpenFailure{}; }

  uint32_t baud_ = 9600;

 private:
  uint64_t line_bytes_ = 0;
  PortOpenFailure open_failure_;
};

// The serial port of the platform this program was built for.
std::unique_ptr<SerialPort> CreatePlatformSerialPort();

// The device the system knows as the serial port COMn (n from 1):
// \\.\COMn on Windows, /dev/ttyS(n-1) on POSIX systems.
std::string SystemComDevice(unsigned n);

}  // namespace vok
