#pragma once

#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/user_interface.h"

namespace vok::test {

struct ShownMessage {
  std::string text;
  Buttons buttons;
  Icon icon;
  std::string title;
};

// A user who answers from a script. Unscripted questions get the first
// button's answer (Ok, Yes, Retry); an unscripted port dialog is cancelled.
class ScriptedUi : public UserInterface {
 public:
  Answer ShowMessage(const std::string& text, Buttons buttons, Icon icon,
                     const std::string& title) override;
  bool ChoosePort(int& index) override;
  bool ChooseFile(const FileDialogRequest& request, std::string& path) override;
  void BeginWait() override { ++wait_depth; ++wait_count; }
  void EndWait() override { --wait_depth; }
  void Beep(unsigned frequency_hz, unsigned duration_ms) override {
    tones.emplace_back(frequency_hz, duration_ms);
  }
  // Counts the looks; from the one after stop_after on, the answer is stop.
  bool StopRequested() override { return ++stop_checks > stop_after && stop_after >= 0; }

  // Script.
  std::deque<Answer> answers;
  std::deque<std::optional<int>> port_choices;      // nullopt = Cancel
  std::deque<std::optional<std::string>> file_choices;  // nullopt = Cancel
  int stop_after = -1;  // looks at StopRequested that still go on; -1: never stop
  int stop_checks = 0;

  // Record.
  std::vector<ShownMessage> messages;
  std::vector<int> port_dialog_preselected;
  std::vector<FileDialogRequest> file_requests;
  std::vector<std::pair<unsigned, unsigned>> tones;
  int wait_depth = 0;
  int wait_count = 0;

  std::vector<std::string> MessageTexts() const;
};

class RecordingStatus : public StatusLine {
 public:
  void SetStatusText(const std::string& text) override { history.push_back(text); }
  std::string Current() const { return history.empty() ? std::string() : history.back(); }
  std::vector<std::string> history;
};

// Keeps lines exactly as the log list would show them.
class RecordingLog : public LogList {
 public:
  void BeginStep(const std::string& text) override;
  void EndStep(int passed) override;
  void AddLine(const std::string& text) override { lines.push_back(text); }
  void AddLineAndShow(const std::string& text) override { lines.push_back(text); }
  void Clear() override { lines.clear(); }

  std::vector<std::string> lines;
  std::string pending_text;
  int pending_index = -1;
};

class RecordingProgress : public ProgressBar {
 public:
  void SetProgress(uint32_t total, uint32_t done) override;
  void ResetProgress() override {
    position = 0;
    ++resets;
    calls.emplace_back(0, 0);
  }

  uint32_t position = 0;
  int resets = 0;
  int repaints = 0;  // position changes, as the bar would repaint
  std::vector<std::pair<uint32_t, uint32_t>> calls;  // (total, done); (0, 0) = reset
};

}  // namespace vok::test
