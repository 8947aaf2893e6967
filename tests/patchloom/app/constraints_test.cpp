// Constraint polygons: the crossing test and the list of constrained pixels built from
// the view's strokes.
#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "patchloom/app/patchloom_doc.h"

namespace {

CPointArray Points(std::initializer_list<CPoint> points) {
  CPointArray array;
  for (const CPoint& p : points) array.Add(p);
  return array;
}

TEST(PointInPolygonTest, LowerEdgesCountAndUpperEdgesDoNot) {
  const CPointArray square = Points({{2, 2}, {8, 2}, {8, 8}, {2, 8}});
  const CPointArray triangle = Points({{0, 0}, {7, 0}, {0, 7}});  // hypotenuse x + y = 7
  const CPointArray flat = Points({{0, 3}, {9, 3}, {4, 3}});
  const struct {
    const char* name;
    const CPointArray& polygon;
    int x, y;
    bool inside;
  } cases[] = {
      {"centre", square, 5, 5, true},
      {"lower edge row", square, 5, 2, true},
      {"upper edge row", square, 5, 8, false},
      {"left edge column", square, 2, 5, true},
      {"right edge column", square, 8, 5, false},
      {"lower left corner", square, 2, 2, true},
      {"outside left", square, 1, 5, false},
      {"below", square, 5, 1, false},
      {"under the hypotenuse", triangle, 3, 3, true},
      {"on the hypotenuse", triangle, 4, 3, false},
      {"truncated crossing", triangle, 1, 6, false},  // crossing at x = 7 - 6 = 1
      {"horizontal edges only", flat, 4, 3, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CPatchloomDoc::PointInPolygon(c.x, c.y, c.polygon), c.inside);
  }
  EXPECT_FALSE(CPatchloomDoc::PointInPolygon(0, 0, CPointArray{}));
  const CPointArray far = Points({{-1000000000, -1000000000},
                                  {1000000000, -1000000000},
                                  {1000000000, 1000000000},
                                  {-1000000000, 1000000000}});
  EXPECT_TRUE(CPatchloomDoc::PointInPolygon(3, 3, far));
}

TEST(ConstrainedPixelsTest, OverlappingPolygonsListSharedPixelsTwice) {
  // Strokes in view coordinates with the closing repeat; the image is 6 high, drawn at
  // (10, 1), so (x, y) becomes (x - 10, 1 + 6 - y).
  CPointArray slots[20];
  slots[0] = Points({{10, 7}, {13, 7}, {13, 4}, {10, 4}, {10, 7}});  // image x 0..2, y 0..2
  slots[1] = Points({{12, 6}, {14, 6}, {14, 4}, {12, 4}, {12, 6}});  // image x 2..3, y 1..2
  const auto pixels = CPatchloomDoc::BuildConstrainedPixels(slots, 2, 10, 1, 99, 99, 8, 6);
  const std::vector<CPoint> expected = {{0, 0}, {1, 0}, {2, 0},                  //
                                        {0, 1}, {1, 1}, {2, 1}, {2, 1}, {3, 1},  //
                                        {0, 2}, {1, 2}, {2, 2}, {2, 2}, {3, 2}};
  EXPECT_EQ(std::vector<CPoint>(pixels->begin(), pixels->end()), expected);
}

TEST(ConstrainedPixelsTest, SlotsEndAtTheCountOrTheFirstEmptySlot) {
  const CPointArray block = Points({{0, 10}, {2, 10}, {2, 8}, {0, 8}, {0, 10}});  // 2 x 2
  const CPointArray dot = Points({{5, 5}});  // one point: an empty polygon
  struct Case {
    const char* name;
    std::vector<CPointArray> slots;
    int count;
    int pixels;
  };
  const Case cases[] = {
      {"count limits", {block, block, block}, 2, 8},
      {"empty slot stops", {block, CPointArray{}, block}, 3, 4},
      {"one-point stroke", {dot, block}, 2, 4},
      {"no more than ten", std::vector<CPointArray>(20, block), 20, 40},
      {"nothing", {}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<CPointArray> slots = c.slots;
    slots.resize(20);
    EXPECT_EQ(
        CPatchloomDoc::BuildConstrainedPixels(slots.data(), c.count, 0, 0, 0, 0, 10, 10)->GetSize(),
        c.pixels);
  }
}

}  // namespace
