#include "cli/report.h"

#include <utility>

namespace vok::cli {

namespace {

const char* LevelName(Level level) {
  switch (level) {
    case Level::kInfo: return "info";
    case Level::kWarning: return "warning";
    case Level::kError: break;
  }
  return "error";
}

}  // namespace

void Report::Message(const std::string& text, Level level) {
  if (level == Level::kError) {
    ++errors_told_;
    if (error_.empty()) error_ = text;
  }
  if (level == Level::kWarning && warning_.empty()) warning_ = text;
  ShowMessage(text, level);
}

void Report::LogLine(const std::string& text) {
  last_line_ = text;
  ShowLogLine(text);
}

std::string Report::FailureMessage() const {
  if (!error_.empty()) return error_;
  if (!warning_.empty()) return warning_;
  const size_t first = last_line_.find_first_not_of("# ");
  if (first == std::string::npos) return std::string();
  return last_line_.substr(first, last_line_.find_last_not_of("# ") + 1 - first);
}

// ---------------------------------------------------------------- text

TextReport::TextReport(Console& console, bool progress, Asker ask)
    : console_(console),
      progress_(progress),
      ask_(std::move(ask)),
      bar_(console, progress, [this] { return line_rate_ ? line_rate_() : 0u; }) {}

void TextReport::BeginStep(const std::string& text) { console_.SetPending(text + " ..."); }

void TextReport::EndStep(const std::string& text, bool passed) {
  console_.SetPending({});
  console_.Out(text + (passed ? " passed" : " failed"));
}

void TextReport::ShowMessage(const std::string& text, Level) { console_.Err(OneLine(text)); }

std::optional<bool> TextReport::Ask(const std::string& question) {
  return ask_ ? ask_(OneLine(question)) : std::nullopt;
}

void TextReport::Elapsed(uint64_t ms) {
  // Beside the progress line it stands for, on a terminal only.
  if (progress_ && console_.ErrIsTty()) console_.Err(FormatElapsed(ms));
}

// ---------------------------------------------------------------- JSON

void JsonReport::EndStep(const std::string& text, bool passed) {
  console_.Out(JsonObject().Add("event", "step").Add("text", text).AddBool("passed", passed).Text());
}

void JsonReport::ShowMessage(const std::string& text, Level level) {
  console_.Out(
      JsonObject().Add("event", "message").Add("text", text).Add("level", LevelName(level)).Text());
}

void JsonReport::Progress(uint32_t total, uint32_t done) {
  // At most one event per tenth of a percent, however small the pieces.
  const uint32_t position = ProgressPosition(total, done);
  if (position == shown_) return;
  shown_ = position;
  console_.Out(JsonObject()
                   .Add("event", "progress")
                   .AddNumber("done", done)
                   .AddNumber("total", total)
                   .Text());
}

void JsonReport::Finish(const std::string& command, int exit_status, const JsonObject& found) {
  JsonObject result;
  result.Add("event", "result").Add("command", command).AddBool("ok", exit_status == 0);
  result.AddNumber("exit", exit_status);
  if (exit_status != 0) {
    const std::string message = FailureMessage();
    result.Add("message", message.empty() ? command + " failed" : message);
  }
  console_.Out(result.Merge(found).Text());
}

}  // namespace vok::cli
