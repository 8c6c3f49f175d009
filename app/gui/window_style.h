#pragma once

#include <QColor>
#include <QPoint>
#include <QRect>
#include <QSize>

class QApplication;
class QWidget;

namespace vok::gui {

// Behind dialogs, buttons, static texts and read-only fields.
inline constexpr QRgb kDialogGrey = qRgb(192, 192, 192);

// Where a window of the given size goes so that it stands at the centre of
// the screen: half the spare room on each side, truncated toward zero (a
// window larger than the screen gets a negative coordinate).
QPoint CentredPosition(const QRect& screen, const QSize& window);

// Moves a window that is about to be shown to the centre of the primary
// screen (not of its owner), keeping its size.
void CentreOnScreen(QWidget& window);

// Sets the dialog colours for the whole application: grey surfaces and
// black text, flat grey push buttons; editable fields and lists keep the
// platform's colours.
void ApplyDialogColours(QApplication& app);

// Gives a read-only field the dialog surface instead of the editable
// fields' background.
void UseReadOnlyColours(QWidget& field);

// Makes a window a fixed-size dialog with a title bar; close_box adds the
// close button. No minimise, maximise or help buttons.
void SetDialogFrame(QWidget& window, bool close_box);

}  // namespace vok::gui
