#include "app/gui/dialog_units.h"

#include <QFontMetrics>
#include <QStringList>

namespace vok::gui {

QFont DialogFont(const layout::Font& described) {
  // The families of the layout tables are rarely installed outside their own
  // platform; substitutes with similar metrics come first, then any sans.
  static const bool substituted = [] {
    const QStringList sans = {"Liberation Sans", "Arimo", "Arial", "Helvetica", "DejaVu Sans"};
    QFont::insertSubstitutions("MS Sans Serif", sans);
    QFont::insertSubstitutions("System", sans);
    return true;
  }();
  (void)substituted;
  QFont font(QString::fromLatin1(described.face), described.points);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

DialogUnits::DialogUnits(const QFont& font) {
  QFontMetrics fm(font);
  // Average width of the 52 letters, rounded, as the dialog manager takes it.
  const int letters = fm.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  cx_ = (letters / 26 + 1) / 2;
  cy_ = fm.height();
  if (cx_ < 1) cx_ = 1;
  if (cy_ < 1) cy_ = 1;
}

int DialogUnits::Scale(int units, int base, int divisor) {
  const long long p = static_cast<long long>(units) * base;
  // Round half away from zero, so negative offsets mirror positive ones.
  const long long r = p >= 0 ? (p + divisor / 2) / divisor : -((-p + divisor / 2) / divisor);
  return static_cast<int>(r);
}

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
  return QRect(X(x), Y(y), X(width), Y(height));
}

}  // namespace vok::gui
