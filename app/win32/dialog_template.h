#pragma once

#include <windows.h>

#include <vector>

#include "app/desktop/window_layouts.h"

namespace vok::win32 {

// The window class of the progress bar control, registered by
// RegisterProgressBarClass before a dialog that holds one is made.
inline constexpr const char* kProgressBarClass = "VokProgressBar";
// The application icon's resource ordinal, shown by the icon controls.
inline constexpr WORD kAppIconResource = 1;

// An in-memory dialog template of a window's layout table, for
// DialogBoxIndirectParamA and CreateDialogIndirectParamA: the table's
// caption, size and font, and its controls in tab order at their places in
// dialog units, which the system converts through the dialog font.
class DialogTemplate {
 public:
  explicit DialogTemplate(const layout::Window& table);
  const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

  // The window styles of a control, as the template gives them.
  static DWORD StyleOf(const layout::Control& control);
  static DWORD ExStyleOf(const layout::Control& control);

 private:
  void Word(WORD w) { words_.push_back(w); }
  void DWord(DWORD d);
  void Text(const char* text);
  void AlignToDWord();

  std::vector<WORD> words_;
};

}  // namespace vok::win32
