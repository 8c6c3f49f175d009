#pragma once

#include <QLabel>
#include <cstdint>

#include "app/desktop/controls.h"
#include "app/user_interface.h"

namespace vok::gui {

// The progress control of the Update and Backup windows. It stands where the
// window's "Progress Bar" placeholder text stands and paints itself entirely:
// the filled part in the active caption colour, the rest in the button face
// colour, the percentage on top, a sunken one-pixel frame around. It repaints
// at once, and only when its position changes, because the procedures that
// drive it keep the user-interface thread busy until they end.
class ProgressBarWidget : public QLabel, public ProgressBar {
  Q_OBJECT

 public:
  explicit ProgressBarWidget(QWidget* parent = nullptr);

  // Takes the control over at its present size and empties the bar.
  void AttachToControl();

  void SetProgress(uint32_t total, uint32_t done) override;
  void ResetProgress() override;

  uint32_t Position() const { return state_.Position(); }
  int FillBoundary() const { return state_.FillBoundary(); }
  // The bar itself: the client rectangle less one pixel on every side.
  QRect InnerRect() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  desktop::ProgressState state_;
};

}  // namespace vok::gui
