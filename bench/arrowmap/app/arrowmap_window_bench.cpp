// The viewer's tick on a desktop: evaluation of both formulas for 1000 particles, the
// chart's display list and render, and the repaint of the chart into its window, until
// the display has it. Needs a display (run under tools/with-display or xvfb-run).
#include <benchmark/benchmark.h>

#include "arrowmap/app/main.h"
#include "platform/crt_random.h"
#include "platform/forms/window/form_windows.h"

namespace {

using arrowmap::kParticleCount;

constexpr int kVortexCells = 6;  // keeps the particles in view for thousands of ticks

void BM_WindowTick(benchmark::State& state) {
  if (!forms::window::FormWindows::DisplayAvailable()) {
    state.SkipWithError("no display");
    return;
  }
  forms::window::FormWindows windows;
  arrowmap::TMainFrm form(nullptr);  // no About form: FormShow shows none
  form.Show();
  form.CBoxFieldType->Select(kVortexCells);
  platform::srand(1);
  form.BButApplyClick(&form);
  form.Timer1.setEnabled(false);  // the benchmark calls the handler itself
  forms::window::FormWindows::FlushToScreen();
  const auto startX = arrowmap::ParticleX;
  const auto startY = arrowmap::ParticleY;
  int ticks = 0;
  for (auto _ : state) {
    if (++ticks % 200 == 0) {
      state.PauseTiming();
      arrowmap::ParticleX = startX;
      arrowmap::ParticleY = startY;
      state.ResumeTiming();
    }
    form.Timer1Timer(&form);
    forms::window::FormWindows::FlushToScreen();
  }
  state.SetItemsProcessed(state.iterations() * kParticleCount);
}
BENCHMARK(BM_WindowTick)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

}  // namespace
