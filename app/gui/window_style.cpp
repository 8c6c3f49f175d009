#include "app/gui/window_style.h"

#include <QApplication>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QProxyStyle>
#include <QScreen>
#include <QStyleFactory>
#include <QStyleOption>
#include <QWidget>

#include "app/desktop/controls.h"

namespace vok::gui {

namespace {

// Fusion, with the flat push buttons of a dialog: the button face colour
// inside a one-pixel bevel, light at the top and left, dark at the bottom and
// right (the other way round while pressed), the default button with a black
// outline.
class DialogStyle : public QProxyStyle {
 public:
  explicit DialogStyle(QStyle* base) : QProxyStyle(base) {}

  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
    if (element != PE_PanelButtonCommand) {
      QProxyStyle::drawPrimitive(element, option, painter, widget);
      return;
    }
    const QPalette& pal = option->palette;
    QRect r = option->rect;
    painter->save();
    painter->fillRect(r, pal.color(QPalette::Button));
    const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
    const bool is_default = button != nullptr && (button->features & QStyleOptionButton::DefaultButton);
    if (is_default) {
      painter->setPen(pal.color(QPalette::Shadow));
      painter->drawRect(r.adjusted(0, 0, -1, -1));
      r.adjust(1, 1, -1, -1);
    }
    const bool pressed = option->state & (State_Sunken | State_On);
    if (pressed) {
      painter->setPen(pal.color(QPalette::Dark));
      painter->drawRect(r.adjusted(0, 0, -1, -1));
    } else {
      Bevel(*painter, r, pal.color(QPalette::Light), pal.color(QPalette::Shadow));
      Bevel(*painter, r.adjusted(1, 1, -1, -1), pal.color(QPalette::Midlight), pal.color(QPalette::Dark));
    }
    painter->restore();
  }

 private:
  static void Bevel(QPainter& p, const QRect& r, const QColor& light, const QColor& dark) {
    p.setPen(light);
    p.drawLine(r.left(), r.top(), r.right() - 1, r.top());
    p.drawLine(r.left(), r.top(), r.left(), r.bottom() - 1);
    p.setPen(dark);
    p.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
    p.drawLine(r.right(), r.top(), r.right(), r.bottom());
  }
};

}  // namespace

QPoint CentredPosition(const QRect& screen, const QSize& window) {
  const desktop::Point p = desktop::CentredPosition(
      desktop::Edges{screen.left(), screen.top(), screen.left() + screen.width(),
                     screen.top() + screen.height()},
      window.width(), window.height());
  return QPoint(p.x, p.y);
}

void CentreOnScreen(QWidget& window) {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  // The frame is known only once the window system has shown the window;
  // before that the client size has to do.
  QSize size = window.size();
  if (window.isVisible()) size = window.frameGeometry().size();
  window.move(CentredPosition(screen->geometry(), size));
  window.update();
}

void ApplyDialogColours(QApplication& app) {
  // A palette-driven style, so that the colours set here are the ones drawn.
  if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) {
    app.setStyle(new DialogStyle(fusion));
  }
  QPalette p = app.style()->standardPalette();
  const QColor grey(kDialogGrey);
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
    p.setColor(group, QPalette::Window, grey);
    p.setColor(group, QPalette::Button, grey);
    p.setColor(group, QPalette::WindowText, Qt::black);
    p.setColor(group, QPalette::ButtonText, Qt::black);
    // The bevels of a grey surface: white light edge, dark grey shadow.
    p.setColor(group, QPalette::Light, Qt::white);
    p.setColor(group, QPalette::Midlight, QColor(223, 223, 223));
    p.setColor(group, QPalette::Mid, QColor(160, 160, 160));
    p.setColor(group, QPalette::Dark, QColor(128, 128, 128));
    p.setColor(group, QPalette::Shadow, Qt::black);
  }
  p.setColor(QPalette::Disabled, QPalette::Window, grey);
  p.setColor(QPalette::Disabled, QPalette::Button, grey);
  app.setPalette(p);
}

void UseReadOnlyColours(QWidget& field) {
  QPalette p = field.palette();
  const QColor grey(kDialogGrey);
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    p.setColor(group, QPalette::Base, grey);
  }
  p.setColor(QPalette::Active, QPalette::Text, Qt::black);
  p.setColor(QPalette::Inactive, QPalette::Text, Qt::black);
  field.setPalette(p);
}

void SetDialogFrame(QWidget& window, bool close_box) {
  Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
  if (close_box) flags |= Qt::WindowCloseButtonHint;
  window.setWindowFlags(flags);
}

}  // namespace vok::gui
