#include "app/gui/log_list_widget.h"

#include "app/gui/texts.h"

namespace vok::gui {

LogListWidget::LogListWidget(QWidget* parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSortingEnabled(false);
  // A line wider than the box is cut at its right edge.
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setTextElideMode(Qt::ElideNone);
  setWordWrap(false);
  setUniformItemSizes(true);
  setFocusPolicy(Qt::StrongFocus);
}

void LogListWidget::Append(const std::string& text) { addItem(FromBytes(text)); }

void LogListWidget::Refresh() {
  clearSelection();
  viewport()->repaint();
}

void LogListWidget::Show(int index) {
  // Items are laid out lazily; the scroll range must be known before scrolling.
  executeDelayedItemsLayout();
  if (QListWidgetItem* line = item(index)) scrollToItem(line, QAbstractItemView::EnsureVisible);
  Refresh();
}

void LogListWidget::BeginStep(const std::string& text) {
  pending_text_ = text;
  Append(text + " ...");
  pending_index_ = count() - 1;
  Show(pending_index_);
}

void LogListWidget::EndStep(int passed) {
  delete takeItem(pending_index_);
  Append(pending_text_ + (passed != 0 ? " passed" : " failed"));
  Show(pending_index_);
}

void LogListWidget::AddLine(const std::string& text) {
  Append(text);
  executeDelayedItemsLayout();
  Refresh();
}

void LogListWidget::AddLineAndShow(const std::string& text) {
  Append(text);
  Show(count() - 1);
}

void LogListWidget::Clear() { clear(); }

std::vector<std::string> LogListWidget::Lines() const {
  std::vector<std::string> lines;
  lines.reserve(static_cast<size_t>(count()));
  for (int i = 0; i < count(); ++i) lines.push_back(ToBytes(item(i)->text()));
  return lines;
}

}  // namespace vok::gui
