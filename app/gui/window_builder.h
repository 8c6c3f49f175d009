#pragma once

#include <QDialog>
#include <QIcon>
#include <QWidget>
#include <vector>

#include "app/desktop/window_layouts.h"
#include "app/user_interface.h"

class QLineEdit;
class QPlainTextEdit;

namespace vok::gui {

// The controls of a window made from its layout table.
class ControlSet {
 public:
  struct Entry {
    const layout::Control* control;
    QWidget* widget;
  };

  // The widget of the control with this id; null when there is none.
  QWidget* Get(int id) const;
  template <class T>
  T* As(int id) const {
    return qobject_cast<T*>(Get(id));
  }
  const std::vector<Entry>& All() const { return entries_; }

 private:
  friend ControlSet BuildWindow(QDialog& dialog, const layout::Window& table);
  std::vector<Entry> entries_;
};

// Gives the dialog the table's caption, font, frame and fixed size, and
// makes its controls at their places in dialog units, in tab order: push
// buttons, radio buttons, group frames, labels, line or text edits, the log
// list (LogListWidget), the icon and the progress bar (ProgressBarWidget).
ControlSet BuildWindow(QDialog& dialog, const layout::Window& table);

// A group box as the dialog tables mean it: an etched frame whose caption
// stands on its top line, drawn behind the controls it surrounds.
class GroupFrame : public QWidget {
  Q_OBJECT

 public:
  GroupFrame(const QString& caption, QWidget* parent);
  QString Caption() const { return caption_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString caption_;
};

// A one-line edit field holding a file name, as the handlers read it.
class PathField : public TextField {
 public:
  explicit PathField(QLineEdit& edit) : edit_(edit) {}
  std::string Text() const override;
  void SetText(const std::string& text) override;

 private:
  QLineEdit& edit_;
};

// A multi-line text field of the system's texts, whose lines end in CR LF.
class TextBox : public TextField {
 public:
  explicit TextBox(QPlainTextEdit& edit) : edit_(edit) {}
  std::string Text() const override;
  void SetText(const std::string& text) override;

 private:
  QPlainTextEdit& edit_;
};

// The application's icon, from the program's resources.
QIcon ApplicationIcon();

}  // namespace vok::gui
