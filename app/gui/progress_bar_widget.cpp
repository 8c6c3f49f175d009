#include "app/gui/progress_bar_widget.h"

#include <QPainter>
#include <QResizeEvent>

namespace vok::gui {

namespace {
QRect ToRect(const desktop::Edges& e) { return QRect(e.left, e.top, e.Width(), e.Height()); }
}  // namespace

ProgressBarWidget::ProgressBarWidget(QWidget* parent)
    : QLabel(QStringLiteral("Progress Bar"), parent) {
  setAlignment(Qt::AlignCenter);
  // Every pixel is painted here; the parent's background is never needed.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void ProgressBarWidget::AttachToControl() {
  state_.Attach(width(), height());
  repaint(rect());
}

QRect ProgressBarWidget::InnerRect() const { return ToRect(state_.Inner()); }

void ProgressBarWidget::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  // A new size keeps the position; the fill follows the new width.
  const uint32_t position = state_.Position();
  state_.Attach(width(), height());
  if (position > 0) state_.Set(1000, position);
}

void ProgressBarWidget::ResetProgress() {
  state_.Reset();
  repaint(rect());
}

void ProgressBarWidget::SetProgress(uint32_t total, uint32_t done) {
  switch (state_.Set(total, done)) {
    case desktop::ProgressState::Repaint::None: break;
    case desktop::ProgressState::Repaint::Whole: repaint(rect()); break;
    case desktop::ProgressState::Repaint::Inner: repaint(InnerRect()); break;
  }
}

void ProgressBarWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QPalette& pal = palette();
  const desktop::Edges& inner = state_.Inner();
  const desktop::Edges& client = state_.Client();
  const int fill = state_.FillBoundary();
  if (inner.Height() > 0) {
    if (inner.right > fill) {
      painter.fillRect(QRect(fill, inner.top, inner.right - fill, inner.Height()),
                       pal.color(QPalette::Button));
    }
    if (fill > inner.left) {
      painter.fillRect(QRect(inner.left, inner.top, fill - inner.left, inner.Height()),
                       pal.color(QPalette::Highlight));
    }
  }
  const std::string text = state_.Text();
  if (!text.empty()) {
    painter.save();
    painter.setPen(pal.color(QPalette::HighlightedText));
    painter.setBackgroundMode(Qt::TransparentMode);
    painter.drawText(ToRect(client), Qt::AlignHCenter | Qt::AlignTop, QString::fromLatin1(text.c_str()));
    painter.restore();
  }
  // Sunken frame: dark left and top edges, light right and bottom edges.
  const int w = client.Width();
  const int h = client.Height();
  if (w > 0 && h > 0) {
    const QColor shadow = pal.color(QPalette::Dark);
    const QColor light = pal.color(QPalette::Light);
    painter.fillRect(QRect(client.left, client.top, 1, h), shadow);
    painter.fillRect(QRect(client.left, client.top, w - 1, 1), shadow);
    painter.fillRect(QRect(client.right - 1, client.top, 1, h - 1), light);
    painter.fillRect(QRect(client.left + 1, client.bottom - 1, w - 1, 1), light);
  }
}

}  // namespace vok::gui
