#include "cli/console.h"

#include <cstdio>
#include <utility>

namespace vok::cli {

namespace {
// Back to the start of the line and erase to its end.
constexpr const char* kEraseLine = "\r\x1b[K";
}  // namespace

Console::Console(std::ostream& out, bool out_is_tty, std::ostream& err, bool err_is_tty)
    : out_(out), err_(err), out_tty_(out_is_tty), err_tty_(err_is_tty) {}

Console::Where Console::Wanted() const {
  // The progress line stands for the step it belongs to while it runs.
  if (err_tty_ && !progress_.empty()) return Where::Err;
  if (out_tty_ && !pending_.empty()) return Where::Out;
  return Where::None;
}

const std::string& Console::WantedText() const {
  return Wanted() == Where::Err ? progress_ : pending_;
}

void Console::Erase() {
  if (shown_ == Where::None) return;
  std::ostream& s = shown_ == Where::Out ? out_ : err_;
  s << kEraseLine;
  s.flush();
  shown_ = Where::None;
  shown_text_.clear();
}

void Console::Show() {
  Where want = Wanted();
  if (want == shown_ && (want == Where::None || WantedText() == shown_text_)) return;
  Erase();
  if (want == Where::None) return;
  std::ostream& s = want == Where::Out ? out_ : err_;
  s << WantedText();
  s.flush();
  shown_ = want;
  shown_text_ = WantedText();
}

void Console::Permanent(Where where, const std::string& line) {
  std::ostream& s = where == Where::Out ? out_ : err_;
  bool to_tty = where == Where::Out ? out_tty_ : err_tty_;
  // A transient line is only in the way on its own stream, or when this line
  // goes to a terminal too (both streams are then, as a rule, one screen).
  if (shown_ == where || (shown_ != Where::None && to_tty)) Erase();
  s << line << '\n';
  s.flush();
  Show();
}

void Console::Out(const std::string& line) { Permanent(Where::Out, line); }
void Console::Err(const std::string& line) { Permanent(Where::Err, kProgramPrefix + line); }

void Console::Prompt(const std::string& question) {
  // The answer is typed on the screen both streams share: no transient line
  // may stand there meanwhile.
  Erase();
  err_ << kProgramPrefix << question;
  err_.flush();
}

void Console::EndPrompt() {
  err_ << '\n';
  err_.flush();
}

void Console::SetPending(const std::string& text) {
  pending_ = text;
  Show();
}

void Console::SetProgress(const std::string& text) {
  progress_ = text;
  Show();
}

std::string OneLine(const std::string& text) {
  std::string line;
  line.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      line += ' ';
    } else {
      line += c;
    }
  }
  return line;
}

TerminalProgress::TerminalProgress(Console& console, bool enabled,
                                   std::function<uint32_t()> line_rate, Clock clock)
    : console_(console),
      enabled_(enabled && console.ErrIsTty()),
      line_rate_(std::move(line_rate)),
      clock_(std::move(clock)) {}

void TerminalProgress::SetProgress(uint32_t total, uint32_t done) {
  if (!enabled_) return;
  auto now = clock_();
  if (!started_) {
    // Measured from the first report, not from the reset: connecting and
    // other work may lie in between.
    started_ = true;
    start_time_ = now;
    start_done_ = done;
    last_shown_ = now - std::chrono::seconds(1);
  }
  uint64_t elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(now - start_time_).count();
  uint64_t since_start = done >= start_done_ ? done - start_done_ : 0;
  std::string text = FormatProgress(total, done, since_start, elapsed, line_rate_ ? line_rate_() : 0);
  // A terminal cannot take a repaint per kilobyte at high rates; ten a second
  // is plenty, and the final state is always shown.
  bool finished = ProgressPosition(total, done) == 1000;
  if (text == last_text_) return;
  if (!finished && now - last_shown_ < std::chrono::milliseconds(100)) return;
  last_text_ = text;
  last_shown_ = now;
  console_.SetProgress(text);
}

void TerminalProgress::ResetProgress() {
  started_ = false;
  last_text_.clear();
  if (enabled_) console_.SetProgress({});
}

std::string FormatProgress(uint32_t total, uint32_t done, uint64_t bytes_since_start,
                           uint64_t elapsed_ms, uint32_t line_rate) {
  uint32_t position = ProgressPosition(total, done);
  char buffer[160];
  int n = std::snprintf(buffer, sizeof buffer, "%3u.%u%%  %u/%u bytes", position / 10,
                        position % 10, done, total);
  std::string text(buffer, n > 0 ? static_cast<size_t>(n) : 0);
  // A rate over the first few milliseconds says nothing.
  if (elapsed_ms >= 200 && bytes_since_start > 0) {
    double bytes_per_s = static_cast<double>(bytes_since_start) * 1000.0 / elapsed_ms;
    n = std::snprintf(buffer, sizeof buffer, "  %.1f kB/s", bytes_per_s / 1000.0);
    text.append(buffer, n > 0 ? static_cast<size_t>(n) : 0);
    if (line_rate > 0) {
      // Ten bits a byte on the line: start bit, eight data bits, stop bit.
      double share = bytes_per_s * 10.0 * 100.0 / line_rate;
      n = std::snprintf(buffer, sizeof buffer, ", %.0f%% of %u baud", share, line_rate);
      text.append(buffer, n > 0 ? static_cast<size_t>(n) : 0);
    }
  }
  return text;
}

std::string FormatElapsed(uint64_t elapsed_ms) {
  char buffer[64];
  if (elapsed_ms < 60000) {
    std::snprintf(buffer, sizeof buffer, "Elapsed time: %.1f s", elapsed_ms / 1000.0);
  } else {
    uint64_t s = (elapsed_ms + 500) / 1000;
    std::snprintf(buffer, sizeof buffer, "Elapsed time: %llu min %02llu s",
                  static_cast<unsigned long long>(s / 60), static_cast<unsigned long long>(s % 60));
  }
  return buffer;
}

}  // namespace vok::cli
