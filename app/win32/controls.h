#pragma once

#include <windows.h>

#include <string>

#include "app/desktop/controls.h"
#include "app/user_interface.h"

namespace vok::win32 {

// Behind dialogs, buttons, static texts and read-only fields.
inline constexpr COLORREF kDialogGrey = RGB(192, 192, 192);
HBRUSH DialogBrush();

// Moves a window to the centre of the screen (not of its owner), keeping its
// size, and repaints it.
void CentreOnScreen(HWND window);

// Draws a push button flat in the dialog grey, with the platform's
// behaviour (default, pressed and focused states) kept; the system's own
// buttons take the system's button face colour instead.
void MakeFlatButton(HWND button);

// Registers the progress bar's window class for this module; true when it
// is there.
bool RegisterProgressBarClass(HINSTANCE instance);

// The progress bar control of a dialog. The control itself keeps the state
// and paints it: the fill in the active caption colour, the rest in the
// button face colour, the percentage on top, a sunken frame around. Every
// change is painted at once, since the procedures keep the thread busy.
class ProgressBarControl : public ProgressBar {
 public:
  explicit ProgressBarControl(HWND control) : control_(control) {}
  void SetProgress(uint32_t total, uint32_t done) override;
  void ResetProgress() override;
  // The control's state; null for a window of another class.
  static desktop::ProgressState* StateOf(HWND control);

 private:
  void Repaint(bool whole);
  HWND control_;
};

// The log list on a list box.
class ListBoxLog : public desktop::StepLog {
 public:
  explicit ListBoxLog(HWND list) : list_(list) {}

 protected:
  int AppendLine(const std::string& text) override;
  void RemoveLine(int index) override;
  void RemoveAllLines() override;
  void ShowLine(int index) override;
  void Refresh() override;

 private:
  HWND list_;
};

// An edit control's text as bytes, through the ANSI functions.
class EditField : public TextField {
 public:
  explicit EditField(HWND edit) : edit_(edit) {}
  std::string Text() const override;
  void SetText(const std::string& text) override;

 private:
  HWND edit_;
};

// A static text control as a status line, painted at once.
class StaticStatus : public StatusLine {
 public:
  explicit StaticStatus(HWND label) : label_(label) {}
  void SetStatusText(const std::string& text) override;

 private:
  HWND label_;
};

// A window's text as bytes.
std::string WindowText(HWND window);

}  // namespace vok::win32
