#pragma once

#include <string>
#include <vector>

#include "app/user_interface.h"
#include "cli/report.h"
#include "link/loader_link.h"
#include "link/port_list.h"

// The small interfaces of app/user_interface.h through which the procedures
// reach the Report.
namespace vok::cli {

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
