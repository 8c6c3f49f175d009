#include "app/gui/window_style.h"

#include <QApplication>
#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>
#include <QWidget>

namespace vok::gui {

QPoint CentredPosition(const QRect& screen, const QSize& window) {
  // Integer division truncates toward zero, also for negative spare room.
  const int x = (screen.width() - window.width()) / 2;
  const int y = (screen.height() - window.height()) / 2;
  return QPoint(screen.left() + x, screen.top() + y);
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
  if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) app.setStyle(fusion);
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
