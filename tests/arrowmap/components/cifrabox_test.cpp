// The numeric label: its text in every state, and that it repaints on change.
#include "arrowmap/components/cifrabox.h"

#include <gtest/gtest.h>

namespace arrowmap {
namespace {

TEST(CifraboxTest, ShowsTheValueOrItsStateText) {
  struct Case {
    double value;
    int decPlaces;
    bool empty;
    const char* left;
    const char* right;
    const char* expected;
  };
  const Case cases[] = {
      {0, 0, false, "", "", "0"},         {1234, 0, false, "", "", "1234"},
      {2.345, 2, false, "", "", "2.35"},  {-1.5, 1, false, "x = ", " m", "x = -1.5 m"},
      {7, 0, true, "", "", "undefined"},  {7, 3, true, "n: ", "", "n: undefined"},
      {1e300, 0, false, "", "", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.value << " dec " << c.decPlaces << " empty " << c.empty);
    TCifrabox box(nullptr);
    box.SetValue(c.value);
    box.SetDecPlaces(c.decPlaces);
    box.SetEmpty(c.empty);
    box.SetLeftText(c.left);
    box.SetRightText(c.right);
    if (c.expected) {
      EXPECT_EQ(box.Text(), c.expected);
    } else {
      EXPECT_EQ(box.Text().size(), 301u);
    }
  }
  TCifrabox box(nullptr);
  box.SetDecPlaces(99);
  EXPECT_EQ(box.DecPlaces(), 15);
}

TEST(CifraboxTest, RepaintsWhenValueOrStateChanges) {
  TCifrabox box(nullptr);
  box.SetBounds(0, 0, 120, 24);
  box.SetDecPlaces(0);
  auto darkColumns = [&] {
    int first = -1;
    for (int x = 0; x < box.Width() && first < 0; ++x) {
      for (int y = 0; y < box.Height(); ++y) {
        if (forms::redOf(box.Surface().Pixel(x, y)) < 100) {
          first = x;
          break;
        }
      }
    }
    return first;  // where the right-aligned text begins
  };
  box.SetValue(7);
  const int shortText = darkColumns();
  box.SetValue(12345);
  const int longText = darkColumns();
  EXPECT_GT(shortText, 0);
  EXPECT_LT(longText, shortText);
  box.SetEmpty(true);
  EXPECT_LT(darkColumns(), longText);  // "undefined" is wider still
  box.SetEmpty(false);
  EXPECT_EQ(darkColumns(), longText);
}

}  // namespace
}  // namespace arrowmap
