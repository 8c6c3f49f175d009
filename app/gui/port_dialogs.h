#pragma once

#include <QDialog>

#include "app/desktop/window_layouts.h"
#include "app/gui/window_builder.h"

class QButtonGroup;
class QPushButton;
class QRadioButton;

namespace vok::gui {

// What the two port dialogs share: four radio buttons COM1 to COM4 in one
// group, whose index (0 to 3, -1 for none) is the port index, and "OK" and
// "Cancel". Neither dialog tests a port.
class PortChoiceDialog : public QDialog {
  Q_OBJECT

 public:
  // Port index shown on opening; outside 0 to 3 no button is checked.
  void SetPortIndex(int index) { port_index_ = index; }
  // The index read back by "OK"; unchanged by "Cancel".
  int PortIndex() const { return port_index_; }

  QRadioButton* PortButton(int index) const;
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }
  const ControlSet& Controls() const { return controls_; }

  void accept() override;

 protected:
  PortChoiceDialog(const layout::Window& table, QWidget* parent);
  void showEvent(QShowEvent* event) override;

 private:
  void ShowPortIndex();

  ControlSet controls_;
  QRadioButton* ports_[4] = {};
  QButtonGroup* group_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
  int port_index_ = -1;
  bool placed_ = false;
};

// "Setup..." of the main window: the port for the rest of the run.
class SetupDialog : public PortChoiceDialog {
  Q_OBJECT

 public:
  explicit SetupDialog(QWidget* parent = nullptr)
      : PortChoiceDialog(layout::SetupDialog(), parent) {}
};

// Offered when the configured port cannot be opened.
class PortDialog : public PortChoiceDialog {
  Q_OBJECT

 public:
  explicit PortDialog(QWidget* parent = nullptr) : PortChoiceDialog(layout::PortDialog(), parent) {}
};

}  // namespace vok::gui
