#include "platform/desktop/layout.h"

#include <FL/Fl_Widget.H>
#include <FL/fl_draw.H>

#include <algorithm>

namespace platform::desktop {

namespace {
constexpr int kRowHeight = 25;
}

int naturalWidth(const Fl_Widget* widget) {
  const char* label = widget->label();
  if (!label || !*label) return 80;
  fl_font(widget->labelfont(), widget->labelsize());
  int w = 0, h = 0;
  fl_measure(label, w, h, 0);
  return w + 16;
}

void ColumnLayout::newRow(bool alignRight, bool stretchHeight, int height) {
  Row row;
  row.alignRight = alignRight;
  row.stretchHeight = stretchHeight;
  row.height = height;
  rows_.push_back(row);
}

void ColumnLayout::setRowFlush(bool flush) {
  if (rows_.empty()) newRow();
  rows_.back().flush = flush;
}

void ColumnLayout::add(Fl_Widget* widget, int width, bool stretch) {
  if (rows_.empty()) newRow();
  rows_.back().cells.push_back(
      {widget, width < 0 ? platform::desktop::naturalWidth(widget) : width, stretch});
}

int ColumnLayout::rowWidth(const Row& row) const {
  int w = 0;
  for (const Cell& c : row.cells) w += c.width;
  if (!row.cells.empty()) w += spacing_ * static_cast<int>(row.cells.size() - 1);
  return w + 2 * rowMargin(row);
}

int ColumnLayout::rowHeight(const Row& row) const { return row.height ? row.height : kRowHeight; }

int ColumnLayout::naturalWidth() const {
  int w = 0;
  for (const Row& row : rows_) w = std::max(w, rowWidth(row));
  return w;
}

int ColumnLayout::naturalHeight() const {
  int h = 0;
  bool flushBefore = true;
  for (const Row& row : rows_) {
    h += rowHeight(row) + (row.flush || flushBefore ? 0 : spacing_);
    flushBefore = row.flush;
  }
  // Margins above the first and below the last row unless those rows are flush.
  if (!rows_.empty() && !rows_.front().flush) h += margin_;
  if (!rows_.empty() && !rows_.back().flush) h += margin_;
  return h;
}

void ColumnLayout::apply(int x, int y, int width, int height) const {
  int stretchRows = 0;
  for (const Row& row : rows_) stretchRows += row.stretchHeight ? 1 : 0;
  const int spareHeight = std::max(0, height - naturalHeight());
  int top = y + (!rows_.empty() && !rows_.front().flush ? margin_ : 0);
  bool flushBefore = true;
  for (const Row& row : rows_) {
    if (!row.flush && !flushBefore) top += spacing_;
    flushBefore = row.flush;
    const int h = rowHeight(row) + (row.stretchHeight ? spareHeight / stretchRows : 0);
    int stretchCells = 0;
    for (const Cell& c : row.cells) stretchCells += c.stretch ? 1 : 0;
    const int spareWidth = std::max(0, width - rowWidth(row));
    int left = x + rowMargin(row);
    if (row.alignRight && stretchCells == 0) left += spareWidth;
    for (const Cell& c : row.cells) {
      const int w = c.width + (c.stretch ? spareWidth / stretchCells : 0);
      c.widget->resize(left, top, w, h);
      left += w + spacing_;
    }
    top += h;
  }
}

}  // namespace platform::desktop
