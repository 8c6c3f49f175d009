#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/user_interface.h"
#include "cli/console.h"
#include "cli/json.h"

// Everything the program tells its user goes through one Report: as lines
// on a terminal, or as JSON Lines for scripts. The procedures reach it
// through the small interfaces of app/user_interface.h (CliUi, CliStatus,
// CliLog, CliProgress of cli/cli_ui.h).
namespace vok::cli {

enum class Level { kInfo, kWarning, kError };

// Answers a yes/no question at the terminal; nullopt when nobody can.
using Asker = std::function<std::optional<bool>(const std::string& question)>;

class Report {
 public:
  virtual ~Report() = default;

  // A step of a procedure: begun, then passed or failed.
  virtual void BeginStep(const std::string& text) = 0;
  virtual void EndStep(const std::string& text, bool passed) = 0;
  // A line of the run's log: a description, an outcome.
  void LogLine(const std::string& text);
  // What a command delivers (a listing, a differing range). The JSON result
  // carries it instead.
  virtual void Data(const std::string& line) = 0;
  // A message to the user.
  void Message(const std::string& text, Level level);
  virtual void Progress(uint32_t total, uint32_t done) = 0;
  virtual void ResetProgress() = 0;
  // A yes/no question; nullopt when nobody can be asked.
  virtual std::optional<bool> Ask(const std::string& question) = 0;
  // The time a long run took, when it is worth telling.
  virtual void Elapsed(uint64_t /*ms*/) {}
  // The end of the run: its command, exit status and, for scripts, what it
  // found. Last of all.
  virtual void Finish(const std::string& command, int exit_status, const JsonObject& found) = 0;
  // The line rate in baud (0 when unknown) that the progress line puts the
  // payload rate beside.
  virtual void SetLineRate(std::function<uint32_t()> /*rate*/) {}

  // What a failed run's result says: its first error, else its first
  // warning, else its last log line (the outcome) without decoration.
  std::string FailureMessage() const;
  // How many error messages have been told so far.
  uint64_t ErrorsTold() const { return errors_told_; }

 protected:
  virtual void ShowMessage(const std::string& text, Level level) = 0;
  virtual void ShowLogLine(const std::string& text) = 0;

 private:
  std::string error_;
  std::string warning_;
  std::string last_line_;
  uint64_t errors_told_ = 0;
};

// Steps, log lines and data on standard output; messages on standard error,
// after the program's name; the pending step and the progress line as
// transient lines on a terminal.
class TextReport : public Report {
 public:
  // progress: a progress line on a terminal standard error is wanted.
  TextReport(Console& console, bool progress, Asker ask);

  void BeginStep(const std::string& text) override;
  void EndStep(const std::string& text, bool passed) override;
  void Data(const std::string& line) override { console_.Out(line); }
  void Progress(uint32_t total, uint32_t done) override { bar_.SetProgress(total, done); }
  void ResetProgress() override { bar_.ResetProgress(); }
  std::optional<bool> Ask(const std::string& question) override;
  void Elapsed(uint64_t ms) override;
  void Finish(const std::string&, int, const JsonObject&) override {}
  void SetLineRate(std::function<uint32_t()> rate) override { line_rate_ = std::move(rate); }

 protected:
  void ShowMessage(const std::string& text, Level level) override;
  void ShowLogLine(const std::string& text) override { console_.Out(text); }

 private:
  Console& console_;
  bool progress_;
  Asker ask_;
  std::function<uint32_t()> line_rate_;
  TerminalProgress bar_;
};

// One JSON object per line on standard output, each with its "event": step,
// progress, message and, last, result. Nobody is asked anything.
class JsonReport : public Report {
 public:
  explicit JsonReport(Console& console) : console_(console) {}

  void BeginStep(const std::string&) override {}
  void EndStep(const std::string& text, bool passed) override;
  void Data(const std::string&) override {}
  void Progress(uint32_t total, uint32_t done) override;
  void ResetProgress() override { shown_ = kNone; }
  std::optional<bool> Ask(const std::string&) override { return std::nullopt; }
  void Finish(const std::string& command, int exit_status, const JsonObject& found) override;

 protected:
  void ShowMessage(const std::string& text, Level level) override;
  // Blank lines only space the text out.
  void ShowLogLine(const std::string& text) override {
    if (text.find_first_not_of(' ') != std::string::npos) ShowMessage(text, Level::kInfo);
  }

 private:
  static constexpr uint32_t kNone = 0xFFFFFFFF;
  Console& console_;
  uint32_t shown_ = kNone;  // the position last reported, in tenths of a percent
};

}  // namespace vok::cli
