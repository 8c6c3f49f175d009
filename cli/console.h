#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "app/user_interface.h"

// The terminal: standard output for what a command delivers, standard error
// for what it has to say, and the transient lines that show a run going on.
namespace vok::cli {

// Every line on standard error begins with it.
inline constexpr const char* kProgramPrefix = "vokloader-cli: ";

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

  // A permanent line, with its line end added; Err puts the program's name
  // before it.
  void Out(const std::string& line);
  void Err(const std::string& line);
  // A question on standard error, the cursor left after it for the answer.
  void Prompt(const std::string& question);
  // Ends the prompt's line when the answer did not (end of input).
  void EndPrompt();

  // Transient lines; an empty text removes them. Ignored when the stream is
  // not a terminal.
  void SetPending(const std::string& text);
  void SetProgress(const std::string& text);

  // Text on standard error as it is, for a display of several lines that
  // redraws itself (the live lines of several ports).
  void ErrRaw(const std::string& text) {
    err_ << text;
    err_.flush();
  }

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

// A message text on one line: line breaks within it become blanks.
std::string OneLine(const std::string& text);

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
