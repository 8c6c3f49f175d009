#include "app/desktop/controls.h"

namespace vok::desktop {

void StepLog::BeginStep(const std::string& text) {
  pending_text_ = text;
  pending_index_ = AppendLine(text + " ...");
  ShowLine(pending_index_);
}

void StepLog::EndStep(int passed) {
  // The completed line is appended, so it lands where the pending one stood
  // as long as nothing was added in between.
  RemoveLine(pending_index_);
  AppendLine(pending_text_ + (passed != 0 ? " passed" : " failed"));
  ShowLine(pending_index_);
}

void StepLog::AddLine(const std::string& text) {
  AppendLine(text);
  Refresh();
}

void StepLog::AddLineAndShow(const std::string& text) { ShowLine(AppendLine(text)); }

void ProgressState::Attach(int width, int height) {
  client_ = Edges{0, 0, width, height};
  inner_ = Edges{1, 1, width - 1, height - 1};
  Reset();
}

void ProgressState::Reset() {
  fill_ = inner_.left;
  position_ = 0;
}

int ProgressState::FillFor(uint32_t position) const {
  const int64_t span = inner_.right > inner_.left ? inner_.right - inner_.left : 0;
  const int64_t fill = inner_.left + span * position / 1000;
  return static_cast<int>(fill >= inner_.right ? inner_.right : fill);
}

ProgressState::Repaint ProgressState::Set(uint32_t total, uint32_t done) {
  const uint32_t position = ProgressPosition(total, done);
  if (position == position_) return Repaint::None;
  const uint32_t old = position_;
  position_ = position;
  fill_ = FillFor(position);
  return old == 0 ? Repaint::Whole : Repaint::Inner;
}

std::string ProgressState::Text() const {
  if (position_ == 0) return std::string();
  return std::to_string(position_ / 10) + "%";
}

Point CentredPosition(const Edges& screen, int width, int height) {
  // Integer division truncates toward zero, also for negative spare room.
  return Point{screen.left + (screen.Width() - width) / 2, screen.top + (screen.Height() - height) / 2};
}

namespace {
std::string Trim(const std::string& s) {
  const size_t first = s.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  return s.substr(first, s.find_last_not_of(' ') - first + 1);
}
}  // namespace

std::vector<FileFilter> ParseFileFilter(const std::string& filter) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t bar = filter.find('|'); bar != std::string::npos; bar = filter.find('|', start)) {
    parts.push_back(Trim(filter.substr(start, bar - start)));
    start = bar + 1;
  }
  parts.push_back(Trim(filter.substr(start)));
  std::vector<FileFilter> out;
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i].empty() && parts[i + 1].empty()) break;
    out.push_back(FileFilter{parts[i], parts[i + 1]});
  }
  return out;
}

}  // namespace vok::desktop
