#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "app/user_interface.h"

// The terminal as the user interface of the procedures: message boxes, the
// status line, the log list and the progress bar become lines on standard
// output and standard error. Nothing here ever waits for the user.
namespace vok::cli {

// Standard output and standard error with at most one transient line: the
// pending step (" ...") on a terminal standard output, or the progress line
// on a terminal standard error. A permanent line that would land on the same
// screen erases the transient line first and shows it again afterwards, so
// lines never run into each other.
class Console {
 public:
  Console(std::ostream& out, bool out_is_tty, std::ostream& err, bool err_is_tty);
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // A permanent line, with its line end added.
  void Out(const std::string& line);
  void Err(const std::string& line);

  // Transient lines; an empty text removes them. Ignored when the stream is
  // not a terminal.
  void SetPending(const std::string& text);
  void SetProgress(const std::string& text);

  bool OutIsTty() const { return out_tty_; }
  bool ErrIsTty() const { return err_tty_; }

 private:
  enum class Where { None, Out, Err };
  // What ought to be on the screen now.
  Where Wanted() const;
  const std::string& WantedText() const;
  void Erase();
  void Show();
  void Permanent(Where where, const std::string& line);

  std::ostream& out_;
  std::ostream& err_;
  bool out_tty_;
  bool err_tty_;
  std::string pending_;
  std::string progress_;
  Where shown_ = Where::None;
  std::string shown_text_;
};

// Message boxes as lines on standard error. Questions are answered from the
// command line: the overwrite question by --yes, the resume question by the
// command; the port dialog is cancelled, so the settings file is never written.
class TerminalUi : public UserInterface {
 public:
  // yes_no answers Yes/No questions ("File already exists. Overwrite?"),
  // retry_cancel the Retry/Cancel one ("Last update was aborted during
  // critical action!"). chosen_file is what the open-file dialog returns; an
  // empty one cancels it.
  TerminalUi(Console& console, Answer yes_no, Answer retry_cancel, std::string chosen_file = {});

  Answer ShowMessage(const std::string& text, Buttons buttons, Icon icon,
                     const std::string& title) override;
  bool ChoosePort(int& index) override;
  bool ChooseFile(const FileDialogRequest& request, std::string& path) override;
  void BeginWait() override {}
  void EndWait() override {}
  // No melody from a command line.
  void Beep(unsigned, unsigned) override {}
  // A signal (Ctrl-C, SIGTERM) has asked the run to stop.
  bool StopRequested() override;

 private:
  Console& console_;
  Answer yes_no_;
  Answer retry_cancel_;
  std::string chosen_file_;
};

// A message text on one line: line breaks within it become blanks.
std::string OneLine(const std::string& text);

class TerminalStatus : public StatusLine {
 public:
  explicit TerminalStatus(Console& console) : console_(console) {}
  // Empty texts (the line being cleared) print nothing.
  void SetStatusText(const std::string& text) override;

 private:
  Console& console_;
};

// Completed steps and plain lines on standard output, as the log list shows
// them; the pending " ..." line only on a terminal.
class TerminalLog : public LogList {
 public:
  explicit TerminalLog(Console& console) : console_(console) {}
  void BeginStep(const std::string& text) override;
  void EndStep(int passed) override;
  void AddLine(const std::string& text) override;
  void AddLineAndShow(const std::string& text) override;
  // Printed lines cannot be taken back; a run's lines simply follow.
  void Clear() override {}

 private:
  Console& console_;
  std::string pending_;
};

// The progress line on a terminal standard error: percentage, bytes, payload
// rate and its share of the line rate.
class TerminalProgress : public ProgressBar {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  // line_rate gives the current line rate in baud (0 when unknown).
  TerminalProgress(Console& console, bool enabled, std::function<uint32_t()> line_rate,
                   Clock clock = [] { return std::chrono::steady_clock::now(); });

  void SetProgress(uint32_t total, uint32_t done) override;
  void ResetProgress() override;

 private:
  Console& console_;
  bool enabled_;
  std::function<uint32_t()> line_rate_;
  Clock clock_;
  bool started_ = false;
  std::chrono::steady_clock::time_point start_time_{};
  uint32_t start_done_ = 0;
  std::chrono::steady_clock::time_point last_shown_{};
  std::string last_text_;
};

// "12345/65536 bytes"-style pieces of the progress line, for the terminal and
// its tests. elapsed_ms of 0 gives no rate.
std::string FormatProgress(uint32_t total, uint32_t done, uint64_t bytes_since_start,
                           uint64_t elapsed_ms, uint32_t line_rate);
// "Elapsed time: 4.2 s", "Elapsed time: 2 min 05 s".
std::string FormatElapsed(uint64_t elapsed_ms);

}  // namespace vok::cli
