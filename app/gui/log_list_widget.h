#pragma once

#include <QListWidget>
#include <string>
#include <vector>

#include "app/desktop/controls.h"

namespace vok::gui {

// The running log of the Update and Backup windows on a list widget. Lines
// are painted at once, since the procedures keep the user-interface thread
// busy while the user watches them.
class LogListWidget : public QListWidget, public desktop::StepLog {
  Q_OBJECT

 public:
  explicit LogListWidget(QWidget* parent = nullptr);

  // The lines as bytes, for the windows' callers and checks.
  std::vector<std::string> Lines() const;

 protected:
  int AppendLine(const std::string& text) override;
  void RemoveLine(int index) override;
  void RemoveAllLines() override { clear(); }
  void ShowLine(int index) override;
  void Refresh() override;
};

}  // namespace vok::gui
