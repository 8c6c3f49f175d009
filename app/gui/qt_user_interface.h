#pragma once

#include <QString>

#include "app/tone_output.h"
#include "app/user_interface.h"

class QWidget;

namespace vok::gui {

// The procedures' user interface on the desktop: message boxes, the port
// dialog, the open-file dialog, the wait cursor and the tone output. Every
// dialog is modal over the window that is active when it opens.
class QtUserInterface : public UserInterface {
 public:
  QtUserInterface() = default;

  Answer ShowMessage(const std::string& text, Buttons buttons, Icon icon,
                     const std::string& title) override;
  bool ChoosePort(int& index) override;
  bool ChooseFile(const FileDialogRequest& request, std::string& path) override;
  void BeginWait() override;
  void EndWait() override;
  void Beep(unsigned frequency_hz, unsigned duration_ms) override;

 private:
  ToneOutput tones_;
  int wait_depth_ = 0;
};

// "Update File (*.sss) | *.sss||" -> "Update File (*.sss)": the description
// of each pair, which carries its patterns in brackets, as the file dialog
// takes it. Pairs whose description lacks the patterns get them added.
QString FileDialogFilter(const std::string& filter);

// The window a dialog should be modal over: the active modal window, else
// the active window.
QWidget* DialogOwner();

}  // namespace vok::gui
