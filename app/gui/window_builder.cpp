#include "app/gui/window_builder.h"

#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

#include "app/gui/dialog_units.h"
#include "app/gui/log_list_widget.h"
#include "app/gui/progress_bar_widget.h"
#include "app/gui/texts.h"
#include "app/gui/window_style.h"

// Resources of a static library are registered by hand, outside any namespace.
static void InitGuiResources() { Q_INIT_RESOURCE(resources); }

namespace vok::gui {

using layout::Kind;

QIcon ApplicationIcon() {
  static const bool registered = (InitGuiResources(), true);
  (void)registered;
  return QIcon(QStringLiteral(":/vokloader/icon.png"));
}

QWidget* ControlSet::Get(int id) const {
  if (id == layout::kNoId) return nullptr;
  for (const Entry& e : entries_) {
    if (e.control->id == id) return e.widget;
  }
  return nullptr;
}

namespace {

QWidget* MakeControl(const layout::Control& c, QDialog& dialog) {
  const QString text = QString::fromLatin1(c.text);
  switch (c.kind) {
    case Kind::PushButton: {
      auto* b = new QPushButton(text, &dialog);
      b->setDefault(c.Has(layout::kDefault));
      return b;
    }
    case Kind::RadioButton:
      return new QRadioButton(text, &dialog);
    case Kind::GroupBox:
      return new GroupFrame(text, &dialog);
    case Kind::Label: {
      auto* l = new QLabel(text, &dialog);
      l->setTextFormat(Qt::PlainText);  // the system's texts are never markup
      l->setAlignment((c.Has(layout::kCentre) ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop);
      return l;
    }
    case Kind::Edit: {
      if (!c.Has(layout::kMultiLine)) {
        auto* e = new QLineEdit(text, &dialog);
        e->setReadOnly(c.Has(layout::kReadOnly));
        if (c.Has(layout::kReadOnly)) UseReadOnlyColours(*e);
        return e;
      }
      auto* e = new QPlainTextEdit(text, &dialog);
      e->setReadOnly(c.Has(layout::kReadOnly));
      if (c.Has(layout::kReadOnly)) UseReadOnlyColours(*e);
      e->setVerticalScrollBarPolicy(c.Has(layout::kVScroll) ? Qt::ScrollBarAlwaysOn
                                                            : Qt::ScrollBarAlwaysOff);
      e->setTabChangesFocus(true);
      return e;
    }
    case Kind::ListBox:
      return new LogListWidget(&dialog);
    case Kind::Icon: {
      auto* icon = new QLabel(&dialog);
      icon->setPixmap(ApplicationIcon().pixmap(32, 32));
      return icon;
    }
    case Kind::ProgressBar:
      return new ProgressBarWidget(&dialog);
  }
  return nullptr;
}

}  // namespace

ControlSet BuildWindow(QDialog& dialog, const layout::Window& table) {
  dialog.setFont(DialogFont(table.font));
  dialog.setWindowTitle(QString::fromLatin1(table.caption));
  SetDialogFrame(dialog, table.close_box);
  const DialogUnits du(dialog.font());
  dialog.setFixedSize(du.Size(table.width, table.height));

  ControlSet set;
  QWidget* previous_stop = nullptr;
  for (const layout::Control& c : table.controls) {
    QWidget* w = MakeControl(c, dialog);
    const layout::Rect& r = c.rect;
    if (c.kind == Kind::Icon) {
      // An icon control takes the size of its picture.
      w->setGeometry(du.X(r.x), du.Y(r.y), 32, 32);
    } else {
      w->setGeometry(du.Rect(r.x, r.y, r.width, r.height));
    }
    if (c.kind == Kind::GroupBox) w->lower();  // behind the controls it surrounds
    if (c.Has(layout::kTabStop)) {
      w->setFocusPolicy(Qt::StrongFocus);
      if (previous_stop != nullptr) QWidget::setTabOrder(previous_stop, w);
      previous_stop = w;
    } else if (w->focusPolicy() != Qt::NoFocus) {
      w->setFocusPolicy(Qt::ClickFocus);
    }
    set.entries_.push_back(ControlSet::Entry{&c, w});
  }
  return set;
}

GroupFrame::GroupFrame(const QString& caption, QWidget* parent) : QWidget(parent), caption_(caption) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
}

void GroupFrame::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QFontMetrics fm(font());
  // The frame's top line runs through the middle of the caption.
  const int top = fm.height() / 2 - 1;
  const int w = width(), h = height();
  const QColor shadow = palette().color(QPalette::Dark);
  const QColor light = palette().color(QPalette::Light);
  if (w > 3 && h - top > 3) {
    // Etched: a shadow line with a light line inside and below it.
    p.setPen(shadow);
    p.drawRect(0, top, w - 2, h - top - 2);
    p.setPen(light);
    p.drawLine(1, top + 1, w - 3, top + 1);
    p.drawLine(1, top + 1, 1, h - 3);
    p.drawLine(0, h - 1, w - 1, h - 1);
    p.drawLine(w - 1, top, w - 1, h - 1);
  }
  if (caption_.isEmpty()) return;
  const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextShowMnemonic | Qt::TextSingleLine;
  QRect text = fm.boundingRect(QRect(7, 0, w - 14, fm.height()), flags, caption_);
  p.fillRect(text.adjusted(-1, 0, 1, 0), palette().color(QPalette::Window));
  p.setPen(palette().color(QPalette::WindowText));
  p.drawText(text, flags, caption_);
}

std::string PathField::Text() const { return ToPath(edit_.text()); }
void PathField::SetText(const std::string& text) { edit_.setText(FromPath(text)); }

std::string TextBox::Text() const {
  QString text = edit_.toPlainText();
  text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
  return ToBytes(text);
}

void TextBox::SetText(const std::string& text) {
  // The text control wants one break a line.
  QString shown = FromBytes(text);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  edit_.setPlainText(shown);
}

}  // namespace vok::gui
