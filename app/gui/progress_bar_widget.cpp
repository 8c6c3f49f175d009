#include "app/gui/progress_bar_widget.h"

#include <QPainter>
#include <QResizeEvent>

namespace vok::gui {

ProgressBarWidget::ProgressBarWidget(QWidget* parent)
    : QLabel(QStringLiteral("Progress Bar"), parent) {
  setAlignment(Qt::AlignCenter);
  // Every pixel is painted here; the parent's background is never needed.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void ProgressBarWidget::TakeRectangles() {
  client_ = Edges{0, 0, width(), height()};
  inner_ = Edges{client_.left + 1, client_.top + 1, client_.right - 1, client_.bottom - 1};
}

void ProgressBarWidget::AttachToControl() {
  TakeRectangles();
  ResetProgress();
}

QRect ProgressBarWidget::InnerRect() const {
  return QRect(inner_.left, inner_.top, inner_.right - inner_.left, inner_.bottom - inner_.top);
}

void ProgressBarWidget::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  TakeRectangles();
  fill_ = FillFor(position_);
}

int ProgressBarWidget::FillFor(uint32_t position) const {
  const int64_t span = inner_.right > inner_.left ? inner_.right - inner_.left : 0;
  const int64_t fill = inner_.left + span * position / 1000;
  return static_cast<int>(fill >= inner_.right ? inner_.right : fill);
}

void ProgressBarWidget::ResetProgress() {
  fill_ = inner_.left;
  position_ = 0;
  repaint(rect());
}

void ProgressBarWidget::SetProgress(uint32_t total, uint32_t done) {
  const uint32_t position = ProgressPosition(total, done);
  if (position == position_) return;
  const uint32_t old = position_;
  position_ = position;
  fill_ = FillFor(position);
  // Leaving the empty state repaints the frame too.
  if (old == 0) {
    repaint(rect());
  } else {
    repaint(InnerRect());
  }
}

void ProgressBarWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QPalette& pal = palette();
  const int inner_height = inner_.bottom - inner_.top;
  if (inner_height > 0) {
    if (inner_.right > fill_) {
      painter.fillRect(QRect(fill_, inner_.top, inner_.right - fill_, inner_height),
                       pal.color(QPalette::Button));
    }
    if (fill_ > inner_.left) {
      painter.fillRect(QRect(inner_.left, inner_.top, fill_ - inner_.left, inner_height),
                       pal.color(QPalette::Highlight));
    }
  }
  if (position_ > 0) {
    painter.save();
    painter.setPen(pal.color(QPalette::HighlightedText));
    painter.setBackgroundMode(Qt::TransparentMode);
    const QRect client(client_.left, client_.top, client_.right - client_.left,
                       client_.bottom - client_.top);
    painter.drawText(client, Qt::AlignHCenter | Qt::AlignTop,
                     QString::number(position_ / 10) + QLatin1Char('%'));
    painter.restore();
  }
  // Sunken frame: dark left and top edges, light right and bottom edges.
  const int w = client_.right - client_.left;
  const int h = client_.bottom - client_.top;
  if (w > 0 && h > 0) {
    const QColor shadow = pal.color(QPalette::Dark);
    const QColor light = pal.color(QPalette::Light);
    painter.fillRect(QRect(client_.left, client_.top, 1, h), shadow);
    painter.fillRect(QRect(client_.left, client_.top, w - 1, 1), shadow);
    painter.fillRect(QRect(client_.right - 1, client_.top, 1, h - 1), light);
    painter.fillRect(QRect(client_.left + 1, client_.bottom - 1, w - 1, 1), light);
  }
}

}  // namespace vok::gui
