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

int LogListWidget::AppendLine(const std::string& text) {
  addItem(FromBytes(text));
  // Items are laid out lazily; the scroll range must be known at once.
  executeDelayedItemsLayout();
  return count() - 1;
}

void LogListWidget::RemoveLine(int index) { delete takeItem(index); }

void LogListWidget::Refresh() {
  clearSelection();
  viewport()->repaint();
}

void LogListWidget::ShowLine(int index) {
  if (QListWidgetItem* line = item(index)) scrollToItem(line, QAbstractItemView::EnsureVisible);
  Refresh();
}

std::vector<std::string> LogListWidget::Lines() const {
  std::vector<std::string> lines;
  lines.reserve(static_cast<size_t>(count()));
  for (int i = 0; i < count(); ++i) lines.push_back(ToBytes(item(i)->text()));
  return lines;
}

}  // namespace vok::gui
