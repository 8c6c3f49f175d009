#include "cli/cli_ui.h"

#include <optional>
#include <utility>

#include "cli/stop_signal.h"

namespace vok::cli {

namespace {

Level LevelOf(Icon icon) {
  switch (icon) {
    case Icon::Stop: return Level::kError;
    case Icon::None:
    case Icon::Warning:
    case Icon::Exclamation: break;
  }
  return Level::kWarning;
}

}  // namespace

CliUi::CliUi(Report& report, bool yes, Answer retry_cancel, const LoaderLink* link, int port,
             std::string chosen_file)
    : report_(report),
      yes_(yes),
      retry_cancel_(retry_cancel),
      link_(link),
      port_(port),
      chosen_file_(std::move(chosen_file)) {}

Answer CliUi::ShowMessage(const std::string& text, Buttons buttons, Icon icon, const std::string&) {
  // A message that follows a failed open is about it ("Cannot connect to
  // target loader!"): the device and the reason come first.
  TellPortFailure();
  switch (buttons) {
    case Buttons::YesNo: {
      if (yes_) {
        report_.Message(text + " Yes (--yes)", Level::kWarning);
        return Answer::Yes;
      }
      if (std::optional<bool> answer = report_.Ask(text)) return *answer ? Answer::Yes : Answer::No;
      report_.Message(text + " No (answer Yes with --yes)", Level::kWarning);
      return Answer::No;
    }
    case Buttons::RetryCancel:
      report_.Message(text, LevelOf(icon));
      return retry_cancel_;
    case Buttons::Ok:
      break;
  }
  report_.Message(text, LevelOf(icon));
  return Answer::Ok;
}

bool CliUi::TellPortFailure() {
  if (!link_) return false;
  const PortOpenFailure& failure = link_->Port().LastOpenFailure();
  if (failure.kind == PortOpenFailure::kNone) return false;
  if (port_failure_told_) return true;
  port_failure_told_ = true;
  const std::vector<std::string> lines = PortFailureLines(failure, "COM" + std::to_string(port_ + 1));
  for (size_t i = 0; i < lines.size(); ++i)
    report_.Message(lines[i], i == 0 ? Level::kError : Level::kInfo);
  return true;
}

bool CliUi::StopRequested() { return StopStatus() != 0; }

bool CliUi::ChoosePort(int&) {
  TellPortFailure();
  return false;
}

bool CliUi::ChooseFile(const FileDialogRequest&, std::string& path) {
  if (chosen_file_.empty()) return false;
  path = chosen_file_;
  return true;
}

void CliLog::BeginStep(const std::string& text) {
  pending_ = text;
  report_.BeginStep(text);
}

}  // namespace vok::cli
