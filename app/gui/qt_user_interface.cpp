#include "app/gui/qt_user_interface.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

#include "app/desktop/controls.h"
#include "app/gui/port_dialogs.h"
#include "app/gui/texts.h"

namespace vok::gui {

namespace {

// The wait cursor belongs to the work with the target; a dialog that asks
// the user something shows the normal cursor while it is open.
class ArrowWhileAsking {
 public:
  explicit ArrowWhileAsking(bool waiting) : waiting_(waiting) {
    if (waiting_) QApplication::setOverrideCursor(Qt::ArrowCursor);
  }
  ~ArrowWhileAsking() {
    if (waiting_) QApplication::restoreOverrideCursor();
  }
  ArrowWhileAsking(const ArrowWhileAsking&) = delete;
  ArrowWhileAsking& operator=(const ArrowWhileAsking&) = delete;

 private:
  bool waiting_;
};

QString Trimmed(const std::string& s) { return FromBytes(s).trimmed(); }

}  // namespace

QWidget* DialogOwner() {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  return QApplication::activeWindow();
}

QString FileDialogFilter(const std::string& filter) {
  QStringList out;
  for (const desktop::FileFilter& f : desktop::ParseFileFilter(filter)) {
    const QString description = FromBytes(f.description);
    if (description.contains(QLatin1Char('('))) {
      out << description;
    } else {
      out << description + QStringLiteral(" (") + FromBytes(f.patterns).replace(QLatin1Char(';'), QLatin1Char(' ')) +
                 QLatin1Char(')');
    }
  }
  return out.join(QStringLiteral(";;"));
}

Answer QtUserInterface::ShowMessage(const std::string& text, Buttons buttons, Icon icon,
                                    const std::string& title) {
  ArrowWhileAsking arrow(wait_depth_ > 0);
  QMessageBox box(DialogOwner());
  box.setWindowTitle(FromBytes(title));
  box.setTextFormat(Qt::PlainText);  // texts with '<' stay texts
  box.setText(FromBytes(text));
  switch (icon) {
    case Icon::None: box.setIcon(QMessageBox::NoIcon); break;
    case Icon::Stop: box.setIcon(QMessageBox::Critical); break;
    // The exclamation mark and the warning sign are one and the same icon.
    case Icon::Warning:
    case Icon::Exclamation: box.setIcon(QMessageBox::Warning); break;
  }
  switch (buttons) {
    case Buttons::Ok:
      box.setStandardButtons(QMessageBox::Ok);
      box.setDefaultButton(QMessageBox::Ok);
      box.setEscapeButton(QMessageBox::Ok);
      break;
    case Buttons::YesNo:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      box.setDefaultButton(QMessageBox::Yes);
      box.setEscapeButton(QMessageBox::No);
      break;
    case Buttons::RetryCancel:
      box.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel);
      box.setDefaultButton(QMessageBox::Retry);
      box.setEscapeButton(QMessageBox::Cancel);
      break;
  }
  switch (box.exec()) {
    case QMessageBox::Yes: return Answer::Yes;
    case QMessageBox::No: return Answer::No;
    case QMessageBox::Retry: return Answer::Retry;
    case QMessageBox::Cancel: return Answer::Cancel;
    default: return Answer::Ok;
  }
}

bool QtUserInterface::ChoosePort(int& index) {
  ArrowWhileAsking arrow(wait_depth_ > 0);
  PortDialog dialog(DialogOwner());
  dialog.SetPortIndex(index);
  if (dialog.exec() != QDialog::Accepted) return false;
  index = dialog.PortIndex();
  return true;
}

bool QtUserInterface::ChooseFile(const FileDialogRequest& request, std::string& path) {
  ArrowWhileAsking arrow(wait_depth_ > 0);
  QFileDialog dialog(DialogOwner(), FromBytes(request.title), FromPath(request.initial_folder));
  // The toolkit's own dialog, so that it takes the application's colours and
  // looks the same on every desktop.
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(request.must_exist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  dialog.setNameFilter(FileDialogFilter(request.filter));
  dialog.setDefaultSuffix(Trimmed(request.default_ext));
  if (dialog.exec() != QDialog::Accepted) return false;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return false;
  path = ToPath(files.front());
  return true;
}

void QtUserInterface::BeginWait() {
  ++wait_depth_;
  QApplication::setOverrideCursor(Qt::WaitCursor);
}

void QtUserInterface::EndWait() {
  if (wait_depth_ == 0) return;
  --wait_depth_;
  QApplication::restoreOverrideCursor();
}

void QtUserInterface::Beep(unsigned frequency_hz, unsigned duration_ms) {
  tones_.Play(frequency_hz, duration_ms);
}

}  // namespace vok::gui
