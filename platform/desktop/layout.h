// Rows and columns of widgets for a toolkit without automatic layout: each row holds widgets
// at their natural widths (from their labels) or stretched to fill, and rows either keep
// their natural height or share the height left over.
#pragma once

#include <vector>

class Fl_Widget;

namespace platform::desktop {

// Width of `widget`'s label in its label font plus room for a frame.
int naturalWidth(const Fl_Widget* widget);

class ColumnLayout {
 public:
  explicit ColumnLayout(int margin = 10, int spacing = 6) : margin_(margin), spacing_(spacing) {}

  // Starts a row. `alignRight` packs its widgets against the right edge; a `stretchHeight`
  // row shares the height the natural rows leave; `height` 0 takes the tallest widget's.
  void newRow(bool alignRight = false, bool stretchHeight = false, int height = 0);
  // Adds `widget` to the current row: `width` < 0 takes its natural width; a `stretch`
  // widget also takes a share of the row's spare width.
  void add(Fl_Widget* widget, int width = -1, bool stretch = false);
  // A row of its own with no margins, for menu, tool and status bars.
  void setRowFlush(bool flush = true);

  int naturalWidth() const;
  int naturalHeight() const;
  // Places every widget within the rectangle.
  void apply(int x, int y, int width, int height) const;

 private:
  struct Cell {
    Fl_Widget* widget;
    int width;
    bool stretch;
  };
  struct Row {
    std::vector<Cell> cells;
    bool alignRight = false;
    bool stretchHeight = false;
    bool flush = false;
    int height = 0;
  };
  int rowWidth(const Row& row) const;
  int rowHeight(const Row& row) const;
  int rowMargin(const Row& row) const { return row.flush ? 0 : margin_; }

  std::vector<Row> rows_;
  int margin_;
  int spacing_;
};

}  // namespace platform::desktop
