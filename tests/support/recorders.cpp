#include "support/recorders.h"

namespace vok::test {

Answer ScriptedUi::ShowMessage(const std::string& text, Buttons buttons, Icon icon,
                               const std::string& title) {
  messages.push_back({text, buttons, icon, title});
  if (!answers.empty()) {
    Answer a = answers.front();
    answers.pop_front();
    return a;
  }
  switch (buttons) {
    case Buttons::YesNo: return Answer::Yes;
    case Buttons::RetryCancel: return Answer::Retry;
    case Buttons::Ok: break;
  }
  return Answer::Ok;
}

bool ScriptedUi::ChoosePort(int& index) {
  port_dialog_preselected.push_back(index);
  if (port_choices.empty()) return false;
  std::optional<int> c = port_choices.front();
  port_choices.pop_front();
  if (!c) return false;
  index = *c;
  return true;
}

bool ScriptedUi::ChooseFile(const FileDialogRequest& request, std::string& path) {
  file_requests.push_back(request);
  if (file_choices.empty()) return false;
  std::optional<std::string> c = file_choices.front();
  file_choices.pop_front();
  if (!c) return false;
  path = *c;
  return true;
}

std::vector<std::string> ScriptedUi::MessageTexts() const {
  std::vector<std::string> out;
  for (const auto& m : messages) out.push_back(m.text);
  return out;
}

void RecordingLog::BeginStep(const std::string& text) {
  pending_text = text;
  lines.push_back(text + " ...");
  pending_index = static_cast<int>(lines.size()) - 1;
}

void RecordingLog::EndStep(int passed) {
  if (pending_index >= 0 && pending_index < static_cast<int>(lines.size()))
    lines.erase(lines.begin() + pending_index);
  lines.push_back(pending_text + (passed ? " passed" : " failed"));
}

void RecordingProgress::SetProgress(uint32_t total, uint32_t done) {
  calls.emplace_back(total, done);
  uint32_t p = ProgressPosition(total, done);
  if (p != position) ++repaints;
  position = p;
}

}  // namespace vok::test
