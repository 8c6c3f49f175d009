#pragma once

#include <QListWidget>
#include <string>

#include "app/user_interface.h"

namespace vok::gui {

// The running log of the Update and Backup windows. A step shows as
// "text ..." while it runs and is replaced by "text passed" or "text failed";
// the list scrolls to the newest step and never leaves a line selected.
// Lines are painted at once, since the procedures keep the user-interface
// thread busy while the user watches them.
class LogListWidget : public QListWidget, public LogList {
  Q_OBJECT

 public:
  explicit LogListWidget(QWidget* parent = nullptr);

  void BeginStep(const std::string& text) override;
  void EndStep(int passed) override;
  void AddLine(const std::string& text) override;
  void AddLineAndShow(const std::string& text) override;
  // Removes every line; the pending step stays as it was.
  void Clear() override;

  // The lines as bytes, for the windows' callers and checks.
  std::vector<std::string> Lines() const;
  int PendingIndex() const { return pending_index_; }

 private:
  void Append(const std::string& text);
  // Brings a line into view without highlighting it, and shows the result.
  void Show(int index);
  void Refresh();

  std::string pending_text_;
  int pending_index_ = -1;
};

}  // namespace vok::gui
