// What a person sees in the rendered chart: arrows where the field moves points, marks
// where it does not, nothing in between, and labelled axes.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "arrowmap/app/main.h"
#include "platform/recording_ui.h"

namespace {

bool dark(forms::TColor c) {
  return forms::redOf(c) < 100 && forms::greenOf(c) < 100 && forms::blueOf(c) < 100;
}
// The particles' navy, also where anti-aliasing blends it with the background.
bool navy(forms::TColor c) {
  return forms::blueOf(c) > forms::redOf(c) + 60 && forms::blueOf(c) > forms::greenOf(c) + 60;
}

class PictureTest : public ::testing::Test {
 protected:
  PictureTest() : scopedUi(ui) {}

  // Dark pixels of the chart's picture within `radius` pixels of a world point.
  int darkAround(double x, double y, int radius) const {
    const forms::TBitmap& s = form.PVData->Surface();
    const int px = form.PVData->LRim() + static_cast<int>(std::lround(form.PVData->PlotX(1, x)));
    const int py = form.PVData->TRim() + static_cast<int>(std::lround(form.PVData->PlotY(1, y)));
    int n = 0;
    for (int dy = -radius; dy <= radius; ++dy) {
      for (int dx = -radius; dx <= radius; ++dx) n += dark(s.Pixel(px + dx, py + dy));
    }
    return n;
  }
  int darkIn(const forms::TBitmap& s, int left, int top, int right, int bottom,
             bool (*test)(forms::TColor) = dark) const {
    int n = 0;
    for (int y = top; y < bottom; ++y) {
      for (int x = left; x < right; ++x) n += test(s.Pixel(x, y));
    }
    return n;
  }

  platform::RecordingUi ui;
  platform::ScopedUi scopedUi;
  arrowmap::TMainFrm form{nullptr};
};

TEST_F(PictureTest, OpposedMovementShowsArrowsMarksAndAxes) {
  form.CBoxFieldType->Select(0);  // x' = x, y' = y + 0.1 x
  struct Spot {
    const char* what;
    double x, y;
    bool drawn;
  };
  const Spot spots[] = {
      {"arrow shaft at x = 10, pointing up", 10, 4.5, true},
      {"arrow shaft at x = -8, pointing down", -8, 3.6, true},
      {"arrow head at x = 10", 10, 5.0, true},
      {"mark at the still point (0, 4)", 0, 4, true},
      {"mark at the still point (0, -10)", 0, -10, true},
      {"empty between columns", 1, 3, false},
      {"no shaft above a mark", 0, 5, false},
      {"empty beside a short arrow", -3, -7, false},
  };
  for (const Spot& s : spots) {
    SCOPED_TRACE(s.what);
    const int n = darkAround(s.x, s.y, 1);
    if (s.drawn) {
      EXPECT_GT(n, 0);
    } else {
      EXPECT_EQ(n, 0);
    }
  }
  // Tick labels under the plot and left of it.
  const forms::TBitmap& picture = form.PVData->Surface();
  const int plotBottom = form.PVData->Height() - form.PVData->BRim();
  EXPECT_GT(darkIn(picture, form.PVData->LRim(), plotBottom + 4, picture.Width(), picture.Height()),
            50);
  EXPECT_GT(darkIn(picture, 0, form.PVData->TRim(), form.PVData->LRim() - 6, plotBottom), 50);
}

TEST_F(PictureTest, AnimationFramesCarryTheIterationCount) {
  form.CBoxFieldType->Select(2);
  form.BButApplyClick(&form);
  forms::TBitmap before;
  form.Snapshot(before);
  form.Timer1Timer(&form);
  forms::TBitmap after;
  form.Snapshot(after);
  const int labelHeight = form.CfxIter->Height();
  EXPECT_EQ(form.CfxIter->Text(), "Iteration 1");
  EXPECT_GT(darkIn(after, 0, 0, after.Width(), labelHeight), 20);
  // The particles appear with the tick's ShowItems; until then the screen keeps the arrows.
  EXPECT_EQ(darkIn(before, 0, labelHeight, after.Width(), after.Height(), navy), 0);
  EXPECT_GT(darkIn(after, 0, labelHeight, after.Width(), after.Height(), navy), 1000);
}

TEST_F(PictureTest, FieldsThatRunOffToInfinityStillRender) {
  struct Case {
    const char* fx;
    const char* fy;
  };
  const Case cases[] = {
      {"EXP(EXP(x))", "y"},                 // infinite tips
      {"x", "EXP(EXP(x))-EXP(EXP(x))"},     // not-a-number tips
      {"x*1E300*1E300", "-y*1E300*1E300"},  // beyond the Double range
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fx);
    form.EdFuncX->SetText(c.fx);
    form.EdFuncY->SetText(c.fy);
    form.DrawField();
    EXPECT_EQ(form.PVData->ItemCount() > 0, true);
  }
  EXPECT_TRUE(ui.messages().empty());
}

}  // namespace
