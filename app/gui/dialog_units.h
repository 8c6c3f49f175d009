#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

#include "app/desktop/window_layouts.h"

namespace vok::gui {

// The windows are laid out in dialog units: a horizontal unit is a quarter
// of the dialog font's average character width, a vertical unit an eighth
// of its height. Converting through the font keeps every window in the
// proportions its layout table gives, whatever font the system falls back to.
class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);
  // Base units straight from pixels (for checks that need exact numbers).
  DialogUnits(int char_width, int char_height) : cx_(char_width), cy_(char_height) {}

  int X(int units) const { return Scale(units, cx_, 4); }
  int Y(int units) const { return Scale(units, cy_, 8); }
  QRect Rect(int x, int y, int width, int height) const;
  QSize Size(int width, int height) const { return QSize(X(width), Y(height)); }

  int CharWidth() const { return cx_; }
  int CharHeight() const { return cy_; }

 private:
  // units * base / divisor, rounded to the nearest pixel.
  static int Scale(int units, int base, int divisor);

  int cx_;
  int cy_;
};

// A dialog font of the layout tables: "MS Sans Serif" 8 pt for the procedure
// windows and "System" 10 pt for the main window and the port dialogs. Where
// a family is missing a sans font of the same size stands in.
QFont DialogFont(const layout::Font& font);
inline QFont SmallDialogFont() { return DialogFont(layout::kSmallFont); }
inline QFont SystemDialogFont() { return DialogFont(layout::kSystemFont); }

}  // namespace vok::gui
