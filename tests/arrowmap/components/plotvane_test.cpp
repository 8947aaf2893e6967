// The chart's display list: appends, growth, clearing, data sharing with its
// messages, invisible charts, layer ranges, and what a rendered chart shows.
#include "arrowmap/components/plotvane.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

#include "arrowmap/components/qdxbase.h"
#include "platform/recording_ui.h"
#include "tests/support/test_support.h"

namespace arrowmap {
namespace {

using forms::TColor;

bool isDark(TColor c) { return forms::redOf(c) + forms::greenOf(c) + forms::blueOf(c) < 3 * 110; }

int darkPixels(const forms::TBitmap& bitmap, int left, int top, int right, int bottom) {
  int count = 0;
  for (int y = top; y < bottom; ++y) {
    for (int x = left; x < right; ++x) count += isDark(bitmap.Pixel(x, y));
  }
  return count;
}

class PlotvaneTest : public testing::Test {
 protected:
  std::unique_ptr<TPlotvane> makeChart(int width = 200, int height = 150) {
    auto chart = std::make_unique<TPlotvane>(nullptr);
    chart->SetBounds(0, 0, width, height);
    chart->SetLayerRange(1, -10, -10, 10, 10);
    return chart;
  }

  platform::RecordingUi ui_;
  platform::ScopedUi scopedUi_{ui_};
};

TEST_F(PlotvaneTest, StartsEmptyWithItsDefaults) {
  TPlotvane chart(nullptr);
  EXPECT_EQ(chart.ItemCount(), 0);
  EXPECT_EQ(chart.ItemCapacity(), 0);
  EXPECT_EQ(chart.AllocSize(), 1000);
  EXPECT_EQ(chart.LastShown(), 0);
  EXPECT_EQ(chart.KindCount(0), 1);
  for (int kind = 1; kind < kKindCount; ++kind) EXPECT_EQ(chart.KindCount(kind), 0) << kind;
  EXPECT_EQ(chart.DataLayer(), 1);
  EXPECT_EQ(chart.UseDataOf(), nullptr);
  EXPECT_EQ(chart.SharerCount(), 0);
  EXPECT_TRUE(chart.AutoRedraw());
  EXPECT_EQ(chart.DataColor(), 0);
  EXPECT_EQ(chart.PenStyle(), forms::psSolid);
  EXPECT_EQ(chart.LineWidth(), 1);

  chart.SetRims(20, 10, 15, 25);
  chart.SetShadowWidth(3);
  chart.SetBounds(0, 0, 200, 150);
  EXPECT_EQ(chart.PlotBitmap().Width(), 200 - 20 - 15 - 3 + 1);
  EXPECT_EQ(chart.PlotBitmap().Height(), 150 - 10 - 25 - 3 + 1);
  EXPECT_EQ(chart.ControlBitmap().Width(), 200);
  EXPECT_EQ(chart.ControlBitmap().Height(), 150);
  chart.SetBounds(0, 0, 10, 10);  // smaller than the rims
  EXPECT_EQ(chart.PlotBitmap().Width(), 0);
  EXPECT_EQ(chart.PlotBitmap().Height(), 0);
  chart.PenMoveTo(1, 1);
  chart.PenLineTo(2, 2);
  chart.ShowItems();  // nothing to draw into, and no harm
}

TEST_F(PlotvaneTest, AStreamedChartLaysItselfOutWhenLoaded) {
  forms::TForm form(nullptr);
  form.BeginLoading();
  auto* chart = new TPlotvane(&form);
  chart->BeginLoading();
  form.SetBounds(0, 0, 300, 200);
  chart->SetParent(&form);
  chart->SetAlign(forms::alClient);
  chart->SetIsometric(true);
  chart->SetLayerRange(1, -11.5, -11.5, 11.5, 11.5);
  form.EndLoading();
  EXPECT_EQ(chart->Width(), 300);
  EXPECT_EQ(chart->PlotBitmap().Width(), 300 - chart->LRim() - chart->RRim() + 1);
  EXPECT_DOUBLE_EQ(chart->XScale().RangeHigh(), 11.5);
  EXPECT_LT(chart->LayerHighY(1), 11.5);                                  // fitted to the wide plot
  EXPECT_GT(darkPixels(chart->Surface(), 0, 0, chart->LRim(), 200), 20);  // painted: the y labels
}

TEST_F(PlotvaneTest, AppendsFillItemsFromTheCurrentAttributes) {
  auto chart = makeChart();
  chart->SetDataColor(0x123456);
  chart->SetPenStyle(forms::psDash);
  chart->SetLineWidth(3);
  chart->SetClassDefault(7);
  chart->PlaceMark(5, 1.5, -2);
  chart->PenMoveTo(3, 4);
  chart->SetDataColor(0x654321);
  chart->PenLineTo(-3, -4);

  ASSERT_EQ(chart->ItemCount(), 3);
  const TChartItem& mark = chart->Item(0);
  EXPECT_EQ(mark.Kind, kKindMark);
  EXPECT_EQ(mark.MarkType, 5);
  EXPECT_EQ(mark.X, 1.5);
  EXPECT_EQ(mark.Y, -2);
  EXPECT_EQ(mark.Color, 0x123456);
  EXPECT_EQ(mark.PenStyle, forms::psDash);
  EXPECT_EQ(mark.LineWidth, 3);
  EXPECT_EQ(mark.ItemClass, 7);
  EXPECT_EQ(mark.Layer, 1);
  EXPECT_EQ(mark.Tag, 0);
  EXPECT_EQ(mark.X2, 0);
  EXPECT_EQ(mark.FillColor, 0);
  EXPECT_EQ(chart->Item(1).Kind, kKindPenMove);
  EXPECT_EQ(chart->Item(1).MarkType, 0);
  EXPECT_EQ(chart->Item(2).Kind, kKindLineTo);
  EXPECT_EQ(chart->Item(2).Color, 0x654321);
  EXPECT_EQ(chart->Item(2).X, -3);
  EXPECT_EQ(chart->KindCount(kKindMark), 1);
  EXPECT_EQ(chart->KindCount(kKindLineTo), 1);
  EXPECT_EQ(chart->KindCount(kKindPenMove), 1);
  EXPECT_EQ(chart->KindCount(0), 1);  // the count of creation stays until cleared
  EXPECT_EQ(chart->KindCount(15), 0);
  EXPECT_EQ(chart->KindCount(-1), 0);
  // The untouched rest of the array is zero.
  EXPECT_EQ(chart->Item(3).Kind, 0);
  EXPECT_EQ(chart->Item(999).X, 0);
}

TEST_F(PlotvaneTest, GrowsByAllocSizeAndClearReleasesEverything) {
  auto chart = makeChart();
  chart->PenMoveTo(0, 0);
  EXPECT_EQ(chart->ItemCapacity(), 1000);
  for (int i = 1; i < 1000; ++i) chart->PenLineTo(i, 0);
  EXPECT_EQ(chart->ItemCapacity(), 1000);
  chart->PenLineTo(0, 1);  // item 1001
  EXPECT_EQ(chart->ItemCapacity(), 2000);
  EXPECT_EQ(chart->Item(999).X, 999);  // kept across the growth

  chart->ClearItems();
  EXPECT_EQ(chart->ItemCount(), 0);
  EXPECT_EQ(chart->ItemCapacity(), 0);
  EXPECT_EQ(chart->Items(), nullptr);
  EXPECT_EQ(chart->LastShown(), 0);
  for (int kind = 0; kind < kKindCount; ++kind) EXPECT_EQ(chart->KindCount(kind), 0) << kind;

  chart->SetAllocSize(3);
  for (int i = 0; i < 3; ++i) chart->PlaceMark(0, i, i);
  EXPECT_EQ(chart->ItemCapacity(), 3);
  chart->PlaceMark(0, 4, 4);
  EXPECT_EQ(chart->ItemCapacity(), 6);
}

TEST_F(PlotvaneTest, AllocSizeOutsideItsRangeIsIgnored) {
  struct Case {
    int value;
    int expected;
  };
  const Case cases[] = {{0, 1000}, {2000000, 1000},    {-5, 1000},
                        {1, 1},    {1000000, 1000000}, {1000001, 1000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    TPlotvane chart(nullptr);
    chart.SetAllocSize(c.value);
    EXPECT_EQ(chart.AllocSize(), c.expected);
  }
  EXPECT_TRUE(ui_.messages().empty());
}

TEST_F(PlotvaneTest, ClearDrawsTheBareBackgroundOffScreenOnly) {
  auto chart = makeChart();
  chart->PenMoveTo(-8, 0);
  chart->PenLineTo(8, 0);
  chart->ShowItems();
  const int lRim = chart->LRim(), tRim = chart->TRim();
  const int pw = chart->PlotBitmap().Width(), ph = chart->PlotBitmap().Height();
  ASSERT_GT(darkPixels(chart->Surface(), lRim, tRim, lRim + pw, tRim + ph), 50);

  chart->ClearItems();
  EXPECT_EQ(darkPixels(chart->PlotBitmap(), 0, 0, pw, ph), 0);
  for (int x = 0; x < pw; x += 7)
    EXPECT_EQ(chart->PlotBitmap().Pixel(x, ph / 3), chart->PlotColor()) << x;
  // The screen keeps the old picture until the list is shown.
  EXPECT_GT(darkPixels(chart->Surface(), lRim, tRim, lRim + pw, tRim + ph), 50);

  chart->ShowItems();
  EXPECT_EQ(chart->LastShown(), -1);
  EXPECT_EQ(darkPixels(chart->Surface(), lRim, tRim, lRim + pw, tRim + ph), 0);
}

TEST_F(PlotvaneTest, SharingRefusalsShowTheirMessageAndChangeNothing) {
  auto owner = makeChart();
  auto sharer = makeChart();
  auto third = makeChart();

  owner->SetUseDataOf(owner.get());
  sharer->SetUseDataOf(owner.get());
  // A chart whose own list is shown elsewhere cannot show another's.
  owner->SetUseDataOf(third.get());
  EXPECT_EQ(ui_.messages(), (std::vector<std::string>{kMsgShareWithMyself, kMsgForeignData}));
  EXPECT_EQ(owner->UseDataOf(), nullptr);
  EXPECT_EQ(owner->SharerCount(), 1);
  EXPECT_EQ(third->SharerCount(), 0);
  EXPECT_EQ(ui_.events().front().kind, platform::UiEvent::message);

  ui_.clear();
  std::vector<std::unique_ptr<TPlotvane>> more;
  for (int i = 0; i < 4; ++i) {
    more.push_back(makeChart());
    more.back()->SetUseDataOf(owner.get());
  }
  EXPECT_EQ(ui_.messages(), (std::vector<std::string>{kMsgSharesExceeded}));
  EXPECT_EQ(owner->SharerCount(), 4);
  EXPECT_EQ(more.back()->UseDataOf(), nullptr);
  // Joining the group through one of its members counts against the same owner.
  third->SetUseDataOf(more[0].get());
  EXPECT_EQ(ui_.messages().size(), 2u);
  EXPECT_EQ(third->UseDataOf(), nullptr);
  // Choosing the present owner again is no change at all, not a fifth share.
  sharer->SetUseDataOf(owner.get());
  sharer->SetUseDataOf(more[0].get());
  EXPECT_EQ(ui_.messages().size(), 2u);
  EXPECT_EQ(owner->SharerCount(), 4);
  // Setting none on a chart that shares nothing is no change either.
  owner->SetUseDataOf(nullptr);
  EXPECT_EQ(ui_.messages().size(), 2u);
}

TEST_F(PlotvaneTest, JoiningASharerJoinsItsOwnerAndTakesTheList) {
  auto a = makeChart();
  auto b = makeChart();
  auto c = makeChart();
  for (int i = 0; i < 5; ++i) a->PlaceMark(1, i, i);
  b->SetUseDataOf(a.get());
  EXPECT_EQ(b->ItemCount(), 5);
  EXPECT_EQ(b->Items(), a->Items());
  EXPECT_EQ(b->KindCount(kKindMark), 5);

  c->SetUseDataOf(b.get());
  EXPECT_EQ(c->UseDataOf(), a.get());
  EXPECT_EQ(a->SharerCount(), 2);
  EXPECT_EQ(a->Sharer(0), b.get());
  EXPECT_EQ(a->Sharer(1), c.get());
  EXPECT_EQ(b->SharerCount(), 0);

  // A change through any member reaches every member.
  c->PenMoveTo(1, 1);
  for (TPlotvane* chart : {a.get(), b.get(), c.get()}) {
    EXPECT_EQ(chart->ItemCount(), 6);
    EXPECT_EQ(chart->KindCount(kKindPenMove), 1);
    EXPECT_EQ(chart->Items(), c->Items());
  }
  b->ShowItems();
  EXPECT_EQ(a->LastShown(), 5);
  EXPECT_EQ(c->LastShown(), 5);
  a->ClearItems();
  for (TPlotvane* chart : {a.get(), b.get(), c.get()}) EXPECT_EQ(chart->ItemCount(), 0);
  EXPECT_TRUE(ui_.messages().empty());
}

TEST_F(PlotvaneTest, LeavingAGroupKeepsTheOthersInOrderAndTheListIntact) {
  auto owner = makeChart();
  auto s1 = makeChart(), s2 = makeChart(), s3 = makeChart();
  auto other = makeChart();
  for (TPlotvane* s : {s1.get(), s2.get(), s3.get()}) s->SetUseDataOf(owner.get());
  for (int i = 0; i < 1500; ++i) owner->PlaceMark(0, i % 20 - 10, 0);

  s2->SetUseDataOf(other.get());
  EXPECT_EQ(owner->SharerCount(), 2);
  EXPECT_EQ(owner->Sharer(0), s1.get());
  EXPECT_EQ(owner->Sharer(1), s3.get());
  EXPECT_EQ(other->Sharer(0), s2.get());
  EXPECT_EQ(s2->ItemCount(), 0);

  s3->SetUseDataOf(nullptr);
  EXPECT_EQ(owner->SharerCount(), 1);
  EXPECT_EQ(s3->UseDataOf(), nullptr);
  EXPECT_EQ(s3->ItemCount(), 1500);
  // The old owner starts afresh; the chart that left still has its picture.
  owner->ClearItems();
  owner->PlaceMark(0, 0, 0);
  EXPECT_EQ(s3->ItemCount(), 1500);
  EXPECT_EQ(s3->Item(1499).Kind, kKindMark);
  s3->ShowItems();
  // A chart that left without a clear of its old owner: both go on writing without
  // touching each other's items.
  s1->SetUseDataOf(nullptr);
  ASSERT_EQ(s1->ItemCount(), 1);
  s1->PenLineTo(2, 2);
  owner->PenMoveTo(1, 1);
  EXPECT_EQ(s1->Item(1).Kind, kKindLineTo);
  EXPECT_EQ(owner->Item(1).Kind, kKindPenMove);
  EXPECT_EQ(owner->Item(0).Kind, kKindMark);

  // A member that joined a long list may append to it without losing any of it.
  auto late = makeChart();
  late->SetUseDataOf(s3.get());
  late->PenMoveTo(1, 1);
  EXPECT_EQ(s3->ItemCount(), 1501);
  EXPECT_EQ(s3->ItemCapacity(), 2000);
  EXPECT_EQ(s3->Item(1499).Kind, kKindMark);
  EXPECT_EQ(s3->Item(1500).Kind, kKindPenMove);
  EXPECT_TRUE(ui_.messages().empty());
}

TEST_F(PlotvaneTest, FreeingAMemberLeavesTheGroupSound) {
  auto owner = makeChart();
  auto sharer = makeChart();
  sharer->SetUseDataOf(owner.get());
  owner->PlaceMark(1, 0, 0);
  sharer.reset();
  EXPECT_EQ(owner->SharerCount(), 0);
  owner->PlaceMark(1, 1, 1);

  auto second = makeChart();
  second->SetUseDataOf(owner.get());
  owner.reset();
  EXPECT_EQ(second->UseDataOf(), nullptr);
  EXPECT_EQ(second->ItemCount(), 2);
  second->PlaceMark(1, 2, 2);
  second->ShowItems();
  EXPECT_EQ(second->ItemCount(), 3);
}

TEST_F(PlotvaneTest, AnInvisibleChartDrawsNothingButItsGroupRepaints) {
  auto owner = makeChart();
  auto watcher = makeChart();
  auto idle = makeChart();
  watcher->SetUseDataOf(owner.get());
  idle->SetUseDataOf(owner.get());
  idle->SetAutoRedraw(false);
  owner->SetVisible(false);
  const int lRim = owner->LRim(), tRim = owner->TRim();
  const int pw = owner->PlotBitmap().Width(), ph = owner->PlotBitmap().Height();
  const int before = darkPixels(owner->Surface(), lRim, tRim, lRim + pw, tRim + ph);

  owner->SetDataColor(forms::clBlack);
  owner->PenMoveTo(-8, 3);
  owner->PenLineTo(8, 3);
  owner->ShowItems();
  EXPECT_EQ(owner->LastShown(), 0);
  EXPECT_EQ(darkPixels(owner->Surface(), lRim, tRim, lRim + pw, tRim + ph), before);
  EXPECT_GT(darkPixels(watcher->Surface(), lRim, tRim, lRim + pw, tRim + ph), 50);
  // A chart without automatic redraw is asked but does not repaint.
  EXPECT_EQ(darkPixels(idle->Surface(), lRim, tRim, lRim + pw, tRim + ph), 0);
}

TEST_F(PlotvaneTest, IsometricLayersKeepUnitsEquallyLong) {
  TPlotvane chart(nullptr);
  chart.SetRims(0, 0, 0, 0);
  chart.SetBounds(0, 0, 200, 100);  // a plot of 201 x 101 pixels
  ASSERT_EQ(chart.PlotBitmap().Width(), 201);
  chart.SetLayerRange(1, -10, -10, 10, 10);
  EXPECT_DOUBLE_EQ(chart.LayerLowY(1), -10);
  chart.SetIsometric(true);
  EXPECT_DOUBLE_EQ(chart.LayerLowX(1), -10);
  EXPECT_DOUBLE_EQ(chart.LayerHighX(1), 10);
  EXPECT_DOUBLE_EQ(chart.LayerLowY(1), -5);
  EXPECT_DOUBLE_EQ(chart.LayerHighY(1), 5);
  EXPECT_DOUBLE_EQ(chart.YScale().RangeHigh(), 5);
  EXPECT_NEAR(chart.PlotX(1, 1) - chart.PlotX(1, 0), chart.PlotY(1, 0) - chart.PlotY(1, 1), 1e-9);
  // The fit follows the control's size.
  chart.SetBounds(0, 0, 200, 200);
  EXPECT_DOUBLE_EQ(chart.LayerHighY(1), 10);
  // Bad layers and empty ranges change nothing.
  chart.SetLayerRange(0, 0, 0, 1, 1);
  chart.SetLayerRange(17, 0, 0, 1, 1);
  chart.SetLayerRange(1, 3, 0, 3, 1);
  chart.SetLayerRange(1, 0, NAN, 1, 1);
  EXPECT_DOUBLE_EQ(chart.LayerLowX(1), -10);
  // Other layers map through their own ranges.
  chart.SetLayerRange(2, 0, 0, 1, 1);
  EXPECT_DOUBLE_EQ(chart.PlotX(2, 1), 200);
  EXPECT_DOUBLE_EQ(chart.PlotY(2, 1), 0);
}

TEST_F(PlotvaneTest, RenderedChartShowsAxesLabelsLinesAndMarks) {
  auto chart = makeChart(320, 260);
  const int lRim = chart->LRim(), tRim = chart->TRim();
  const int pw = chart->PlotBitmap().Width(), ph = chart->PlotBitmap().Height();
  const forms::TColor red = forms::clRed, navy = forms::clNavy, green = forms::clGreen;

  chart->SetDataColor(red);
  chart->PenMoveTo(-5, 0);
  chart->PenLineTo(5, 0);
  chart->SetDataColor(green);
  chart->SetLineWidth(3);
  chart->PenMoveTo(-1e9, -5);  // far outside: clipped, not wrapped around
  chart->PenLineTo(1e9, -5);
  chart->PenMoveTo(NAN, 2);
  chart->PenLineTo(3, 2);
  chart->SetLineWidth(1);
  chart->SetDataColor(navy);
  chart->PlaceMark(5, 6, 6);     // filled square
  chart->PlaceMark(0, -6, 6);    // dot
  chart->PlaceMark(47, 10, 10);  // the largest mark on the plot's corner: clipped
  chart->PlaceMark(39, -10, -10);
  chart->SetClassDefault(9);
  chart->PlaceMark(5, -6, -8);
  chart->SetClassVisible(9, false);
  chart->SetPenStyle(forms::psClear);
  chart->PenMoveTo(-9, 8);
  chart->PenLineTo(9, 8);
  chart->SetClassDefault(0);
  chart->SetPenStyle(forms::psDash);
  chart->SetDataColor(red);
  chart->PenMoveTo(-9, -9);
  chart->PenLineTo(9, -9);
  chart->ShowItems();

  const forms::TBitmap& screen = chart->Surface();
  auto at = [&](double x, double y) {
    return screen.Pixel(lRim + static_cast<int>(std::lround(chart->PlotX(1, x))),
                        tRim + static_cast<int>(std::lround(chart->PlotY(1, y))));
  };
  for (double x : {-5.0, -2.5, 0.0, 2.5, 5.0}) EXPECT_EQ(at(x, 0), red) << x;
  EXPECT_NE(at(-7, 0), red);
  EXPECT_NE(at(7, 0), red);
  for (double x : {-9.5, 0.0, 9.5}) EXPECT_EQ(at(x, -5), green) << x;
  EXPECT_NE(at(-1, 2), green);  // a line from an undefined point is not drawn
  EXPECT_EQ(at(6, 6), navy);
  EXPECT_EQ(at(-6, 6), navy);
  EXPECT_NE(at(-6, -8), navy);          // its class is switched off
  EXPECT_NE(at(0, 8), forms::clBlack);  // the clear pen draws nothing

  // The pen width: three rows for the green line, one for the red.
  auto rowColour = [&](double y, int offset, forms::TColor colour) {
    const int py = tRim + static_cast<int>(std::lround(chart->PlotY(1, y))) + offset;
    const int px = lRim + static_cast<int>(std::lround(chart->PlotX(1, 1)));
    return screen.Pixel(px, py) == colour;
  };
  EXPECT_TRUE(rowColour(-5, -1, green) && rowColour(-5, 1, green));
  EXPECT_FALSE(rowColour(-5, -2, green) || rowColour(-5, 2, green));
  EXPECT_FALSE(rowColour(0, -1, red) || rowColour(0, 1, red));
  // A dashed line has gaps.
  const int dashRow = tRim + static_cast<int>(std::lround(chart->PlotY(1, -9)));
  const int from = lRim + static_cast<int>(std::lround(chart->PlotX(1, -8)));
  const int to = lRim + static_cast<int>(std::lround(chart->PlotX(1, 8)));
  int onDash = 0;
  for (int x = from; x < to; ++x) onDash += screen.Pixel(x, dashRow) == red;
  EXPECT_GT(onDash, (to - from) / 2);
  EXPECT_LT(onDash, to - from - 10);

  // Axis lines and labels of layer 1 sit in the rims, in dark pixels.
  EXPECT_GT(darkPixels(screen, 0, tRim, lRim - 16, tRim + ph), 40);                  // y labels
  EXPECT_GT(darkPixels(screen, lRim, tRim + ph + 8, lRim + pw, 260), 60);            // x labels
  EXPECT_GT(darkPixels(screen, lRim, tRim + ph, lRim + pw, tRim + ph + 1), pw - 5);  // x axis line
  EXPECT_GE(chart->XScale().NumTicks(), 3);
  EXPECT_GE(chart->YScale().NumTicks(), 3);

  test_support::TempDir dir;
  EXPECT_TRUE(screen.SaveToPNG(dir.file("chart.png")));
  const std::vector<unsigned char> png = test_support::readFileBytes(dir.file("chart.png"));
  ASSERT_GT(png.size(), 8u);
  EXPECT_EQ(png[1], 'P');
  EXPECT_EQ(png[2], 'N');
}

TEST_F(PlotvaneTest, WithoutAutoRedrawShowItemsPaintsTheWholeControl) {
  auto chart = makeChart();
  chart->SetAutoRedraw(false);
  chart->SetDataColor(forms::clRed);
  chart->PlaceMark(5, 0, 0);
  chart->ShowItems();
  const int x = chart->LRim() + static_cast<int>(std::lround(chart->PlotX(1, 0)));
  const int y = chart->TRim() + static_cast<int>(std::lround(chart->PlotY(1, 0)));
  EXPECT_EQ(chart->Surface().Pixel(x, y), forms::clRed);
  EXPECT_EQ(chart->ControlBitmap().Pixel(x, y), forms::clRed);
}

TEST(DataMarkTest, PatternsAreCentredAndFitTheirSize) {
  struct Case {
    int markType;
    std::size_t pixels;
  };
  // Dot, cross, plus and star of the smallest size, a filled square of the middle
  // size and a filled circle of the largest.
  const Case cases[] = {{0, 9}, {1, 9}, {2, 9}, {3, 17}, {21, 49}, {39, 89}, {-1, 9}, {48, 9}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.markType);
    EXPECT_EQ(MarkPixels(c.markType).size(), c.pixels);
  }
  for (int type = 0; type < kMarkTypeCount; ++type) {
    SCOPED_TRACE(type);
    const int r = MarkRadius(type);
    const std::vector<TMarkPixel>& pixels = MarkPixels(type);
    ASSERT_FALSE(pixels.empty());
    for (const TMarkPixel& p : pixels) {
      EXPECT_LE(std::abs(p.dx), r);
      EXPECT_LE(std::abs(p.dy), r);
      // Every shape is mirror-symmetric left to right.
      bool mirrored = false;
      for (const TMarkPixel& q : pixels) mirrored |= q.dx == -p.dx && q.dy == p.dy;
      EXPECT_TRUE(mirrored) << p.dx << "," << p.dy;
    }
  }

  forms::TBitmap bitmap(8, 8);
  DrawDataMark(bitmap.Canvas(), 0.5, 0.5, 21,
               forms::clRed);  // filled square, radius 3, on the corner
  EXPECT_EQ(bitmap.Pixel(0, 0), forms::clRed);
  EXPECT_EQ(bitmap.Pixel(3, 3), forms::clRed);
  EXPECT_EQ(bitmap.Pixel(4, 4), forms::clWhite);
  DrawDataMark(bitmap.Canvas(), 1e300, NAN, 21, forms::clBlue);  // nowhere: nothing
  EXPECT_EQ(bitmap.Pixel(7, 7), forms::clWhite);
}

}  // namespace
}  // namespace arrowmap
