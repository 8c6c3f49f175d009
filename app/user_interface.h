#pragma once

#include <cstdint>
#include <string>

// The small interfaces through which the procedures reach the user. The Qt
// windows implement them for the desktop program, the CLI for a terminal,
// the tests as scripted recorders. Texts are byte strings, never decoded.
namespace vok {

inline constexpr const char* kAppTitle = "VOK Loader";

enum class Buttons { Ok, YesNo, RetryCancel };
enum class Icon { None, Stop, Warning, Exclamation };
enum class Answer { Ok, Cancel, Yes, No, Retry };

struct FileDialogRequest {
  std::string title;          // "Select Update File"
  std::string filter;         // "Update File (*.sss) | *.sss||"
  std::string default_ext;    // "sss"
  std::string initial_folder;
  bool must_exist = true;     // false: a new name may be typed
};

class UserInterface {
 public:
  virtual ~UserInterface() = default;
  // A modal message box; returns the button the user pressed.
  virtual Answer ShowMessage(const std::string& text, Buttons buttons, Icon icon,
                             const std::string& title = kAppTitle) = 0;
  // The port dialog ("The selected comm port is not available."): index is
  // preselected on entry; true with the chosen index (-1 for none) on OK.
  virtual bool ChoosePort(int& index) = 0;
  // The standard open-file dialog: true with the chosen full path.
  virtual bool ChooseFile(const FileDialogRequest& request, std::string& path) = 0;
  // Wait cursor while a procedure talks to the target.
  virtual void BeginWait() = 0;
  virtual void EndWait() = 0;
  // One tone; blocks until it has sounded.
  virtual void Beep(unsigned frequency_hz, unsigned duration_ms) = 0;
  // True once the user has asked the running procedure to stop (Ctrl-C at
  // the command line). The procedures look at it before each target
  // command, so a command already sent is finished, and end as after a
  // failure: what an interrupted update needs for a resume stays on disk.
  virtual bool StopRequested() { return false; }
};

// The optional status control of the connecting and scanning procedures.
class StatusLine {
 public:
  virtual ~StatusLine() = default;
  virtual void SetStatusText(const std::string& text) = 0;
};

// An edit field of a window, as the window's handlers read and fill it.
class TextField {
 public:
  virtual ~TextField() = default;
  virtual std::string Text() const = 0;
  virtual void SetText(const std::string& text) = 0;
};

// The progress bar of the Update and Backup windows.
class ProgressBar {
 public:
  virtual ~ProgressBar() = default;
  virtual void SetProgress(uint32_t total, uint32_t done) = 0;
  virtual void ResetProgress() = 0;
};

// Tenths of a percent, rounded half up, capped at 1000. In 64 bits, so that
// the byte counts of a large command file cannot wrap.
inline uint32_t ProgressPosition(uint32_t total, uint32_t done) {
  if (total == 0) return 1000;
  uint64_t p = (uint64_t{done} * 2000 / total + 1) / 2;
  return p > 1000 ? 1000 : static_cast<uint32_t>(p);
}

// The running log of a procedure.
class LogList {
 public:
  virtual ~LogList() = default;
  // Shows text + " ..."; EndStep replaces it by text + " passed" / " failed".
  virtual void BeginStep(const std::string& text) = 0;
  virtual void EndStep(int passed) = 0;
  virtual void AddLine(const std::string& text) = 0;
  virtual void AddLineAndShow(const std::string& text) = 0;
  // The owning window's "remove all lines".
  virtual void Clear() = 0;
};

}  // namespace vok
