#pragma once

#include <windows.h>

#include "app/tone_output.h"
#include "app/user_interface.h"

namespace vok::win32 {

// The procedures' user interface on Windows: message boxes, the port
// dialog, the open-file dialog, the wait cursor and Beep. Every dialog is
// modal over the window that is active when it opens.
class Win32UserInterface : public UserInterface {
 public:
  Answer ShowMessage(const std::string& text, Buttons buttons, Icon icon,
                     const std::string& title) override;
  bool ChoosePort(int& index) override;
  bool ChooseFile(const FileDialogRequest& request, std::string& path) override;
  void BeginWait() override;
  void EndWait() override;
  void Beep(unsigned frequency_hz, unsigned duration_ms) override;

  // The dialogs keep the wait cursor while a procedure works.
  bool Waiting() const { return wait_depth_ > 0; }

 private:
  // A dialog that asks the user something has shown its own cursor.
  void RestoreWaitCursor() const;

  ToneOutput tones_;
  int wait_depth_ = 0;
};

// "Update File (*.sss) | *.sss||" as the open-file dialog takes it: each
// description and its patterns ended by a NUL, the list by another.
std::string OpenFileFilter(const std::string& filter);

}  // namespace vok::win32
