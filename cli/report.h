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
#include "link/loader_link.h"

// Everything the program tells its user goes through one Report: as lines
// on a terminal, or as JSON Lines for scripts. The procedures reach it
// through the small interfaces of app/user_interface.h (CliUi, CliStatus,
// CliLog, CliProgress below).
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

// The lines that name a port that could not be opened, the device and the
// system's reason, with a hint where the user can mend it.
std::vector<std::string> PortFailureLines(const PortOpenFailure& failure, const std::string& name);

// Message boxes as messages. The Yes/No question is answered Yes by --yes,
// else asked at a terminal, else answered No with a word on --yes; the
// Retry/Cancel one by the command. The port dialog is never shown: the
// device and the reason are told instead, so the settings file is never
// written.
class CliUi : public UserInterface {
 public:
  // link and port: where the port's failure is found (link may be null).
  // chosen_file is what the open-file dialog returns; an empty one cancels
  // it.
  CliUi(Report& report, bool yes, Answer retry_cancel, const LoaderLink* link, int port,
        std::string chosen_file = {});

  Answer ShowMessage(const std::string& text, Buttons buttons, Icon icon,
                     const std::string& title) override;
  bool ChoosePort(int& index) override;
  bool ChooseFile(const FileDialogRequest& request, std::string& path) override;
  void BeginWait() override {}
  void EndWait() override {}
  void Beep(unsigned, unsigned) override {}  // no melody from a command line
  // A signal (Ctrl-C, SIGTERM) has asked the run to stop.
  bool StopRequested() override;

  void SetRetryCancel(Answer answer) { retry_cancel_ = answer; }
  void SetChosenFile(std::string path) { chosen_file_ = std::move(path); }

  // Tells the failure of the last attempt to open the port, if it failed and
  // that has not been told yet. True when it failed.
  bool TellPortFailure();

 private:
  Report& report_;
  bool yes_;
  Answer retry_cancel_;
  const LoaderLink* link_;
  int port_;
  std::string chosen_file_;
  bool port_failure_told_ = false;
};

// Status texts as messages; empty texts (the line being cleared) say nothing.
// A window shows a failure twice, in its message box and then in its status
// line ("Cannot connect to target loader!", then "Couldn't connect ..."); a
// terminal says it once: a status text that follows an error message is not
// told.
class CliStatus : public StatusLine {
 public:
  explicit CliStatus(Report& report) : report_(report), errors_seen_(report.ErrorsTold()) {}
  void SetStatusText(const std::string& text) override {
    const bool repeats_failure = report_.ErrorsTold() != errors_seen_;
    errors_seen_ = report_.ErrorsTold();
    if (!text.empty() && !repeats_failure) report_.Message(text, Level::kInfo);
  }

 private:
  Report& report_;
  uint64_t errors_seen_;
};

class CliLog : public LogList {
 public:
  explicit CliLog(Report& report) : report_(report) {}
  void BeginStep(const std::string& text) override;
  void EndStep(int passed) override { report_.EndStep(pending_, passed != 0); }
  void AddLine(const std::string& text) override { report_.LogLine(text); }
  void AddLineAndShow(const std::string& text) override { report_.LogLine(text); }
  // Printed lines cannot be taken back; a run's lines simply follow.
  void Clear() override {}

 private:
  Report& report_;
  std::string pending_;
};

class CliProgress : public ProgressBar {
 public:
  explicit CliProgress(Report& report) : report_(report) {}
  void SetProgress(uint32_t total, uint32_t done) override { report_.Progress(total, done); }
  void ResetProgress() override { report_.ResetProgress(); }

 private:
  Report& report_;
};

}  // namespace vok::cli
