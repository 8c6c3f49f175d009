#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/user_interface.h"

// What the controls of the desktop program do, apart from drawing: both
// front ends, the Qt windows and the Windows dialogs, draw with their own
// toolkit around this logic.
namespace vok::desktop {

// The log list of the Update and Backup windows. A step shows as
// "text ..." while it runs and is replaced by "text passed" or "text failed";
// the list scrolls to the newest step and never leaves a line selected. A
// front end supplies the list box operations; each must show its effect at
// once, since the procedures keep the user-interface thread busy.
class StepLog : public LogList {
 public:
  void BeginStep(const std::string& text) override;
  void EndStep(int passed) override;
  void AddLine(const std::string& text) override;
  void AddLineAndShow(const std::string& text) override;
  // Removes every line; the pending step stays as it was.
  void Clear() override { RemoveAllLines(); }

  int PendingIndex() const { return pending_index_; }

 protected:
  // Appends a line; its index.
  virtual int AppendLine(const std::string& text) = 0;
  virtual void RemoveLine(int index) = 0;
  virtual void RemoveAllLines() = 0;
  // Scrolls the line into view; no line stays selected.
  virtual void ShowLine(int index) = 0;
  // No line stays selected; the list is painted now, where it is scrolled.
  virtual void Refresh() = 0;

 private:
  std::string pending_text_;
  int pending_index_ = -1;
};

// Pixel rectangle, right and bottom exclusive.
struct Edges {
  int left = 0, top = 0, right = 0, bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
};

// The state of the progress bar: where its fill ends, what percentage it
// shows, and what a change must repaint.
class ProgressState {
 public:
  enum class Repaint { None, Whole, Inner };

  // Takes the control's client size; the bar is empty.
  void Attach(int width, int height);
  // The bar for done of total bytes: repaint the whole control when it
  // leaves the empty state, the bar alone after that, nothing when the
  // position stays.
  Repaint Set(uint32_t total, uint32_t done);
  void Reset();

  uint32_t Position() const { return position_; }
  int FillBoundary() const { return fill_; }
  const Edges& Client() const { return client_; }
  // The bar itself: the client rectangle less one pixel on every side.
  const Edges& Inner() const { return inner_; }
  // "50%"; empty at position 0, where no text is drawn.
  std::string Text() const;

 private:
  int FillFor(uint32_t position) const;

  int fill_ = 0;
  uint32_t position_ = 0;
  Edges inner_;
  Edges client_;
};

// Where a window of the given size goes so that it stands at the centre of
// the screen: half the spare room on each side, truncated toward zero (a
// window larger than the screen gets a negative coordinate).
struct Point {
  int x = 0, y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};
Point CentredPosition(const Edges& screen, int width, int height);

// One entry of an open-file dialog's filter.
struct FileFilter {
  std::string description;  // "Update File (*.sss)"
  std::string patterns;     // "*.sss", several separated by ';'
};
// The pairs of a filter written as "description|patterns|...||", trimmed;
// the list ends at its empty pair.
std::vector<FileFilter> ParseFileFilter(const std::string& filter);

}  // namespace vok::desktop
