// Rendering cost of one animation picture: 1000 particle marks and the 121 arrows
// of the field (five pen items each), on a chart the size of the main form's.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

#include "arrowmap/components/plotvane.h"

namespace {

using arrowmap::TPlotvane;

void fillPicture(TPlotvane& chart, bool arrows, bool marks) {
  chart.ClearItems();
  if (arrows) {
    const double w = 0.3490658503988659;
    for (int i = 0; i <= 10; ++i) {
      for (int j = 0; j <= 10; ++j) {
        const double x = 2 * i - 10, y = 2 * j - 10;
        const double xp = x - y * 0.1, yp = y + x * 0.1;
        const double d = std::hypot(xp - x, yp - y) + 0.5;
        const double a = std::atan2(yp - y, xp - x);
        chart.PenMoveTo(x, y);
        chart.PenLineTo(xp, yp);
        chart.PenLineTo(xp - std::cos(a + w) * d * 0.5, yp - std::sin(a + w) * d * 0.5);
        chart.PenMoveTo(xp, yp);
        chart.PenLineTo(xp - std::cos(a - w) * d * 0.5, yp - std::sin(a - w) * d * 0.5);
      }
    }
  }
  if (marks) {
    std::mt19937 random(12345);
    std::uniform_real_distribution<double> u(-10, 10);
    chart.SetDataColor(0x800000);
    for (int i = 0; i < 1000; ++i) chart.PlaceMark(1, u(random), u(random));
  }
}

struct Chart {
  TPlotvane chart{nullptr};
  Chart() {
    chart.SetIsometric(true);
    chart.SetBounds(0, 0, 640, 560);
    chart.SetLayerRange(1, -11.449, -11.449, 11.449, 11.449);
  }
};

// ShowItems on a filled list: background, grid, every item, the copy to the screen.
void BM_ShowItems(benchmark::State& state, bool arrows, bool marks) {
  Chart c;
  fillPicture(c.chart, arrows, marks);
  for (auto _ : state) c.chart.ShowItems();
  state.SetItemsProcessed(state.iterations() * c.chart.ItemCount());
}
BENCHMARK_CAPTURE(BM_ShowItems, empty, false, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ShowItems, arrows, true, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ShowItems, marks, false, true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ShowItems, arrows_and_marks, true, true)->Unit(benchmark::kMicrosecond);

// What one animation tick does to the chart: clear, append every item, show.
void BM_ClearAppendShow(benchmark::State& state) {
  Chart c;
  for (auto _ : state) {
    fillPicture(c.chart, true, true);
    c.chart.ShowItems();
  }
  state.SetItemsProcessed(state.iterations() * c.chart.ItemCount());
}
BENCHMARK(BM_ClearAppendShow)->Unit(benchmark::kMicrosecond);

// A full repaint: scales with their labels as well.
void BM_Paint(benchmark::State& state) {
  Chart c;
  fillPicture(c.chart, true, true);
  for (auto _ : state) c.chart.Repaint();
}
BENCHMARK(BM_Paint)->Unit(benchmark::kMicrosecond);

}  // namespace
