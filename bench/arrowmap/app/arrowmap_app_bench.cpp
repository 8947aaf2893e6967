// The viewer's animation budget: each 500 ms tick evaluates both formulas for 1000
// particles through the whole formula chain, then renders the chart.
#include <benchmark/benchmark.h>

#include <string>

#include "arrowmap/app/formula.h"
#include "arrowmap/app/main.h"
#include "platform/crt_random.h"
#include "platform/recording_ui.h"

namespace {

using arrowmap::kFieldPresets;
using arrowmap::kParticleCount;

// A form with fresh particles under the given preset.
struct AnimatedForm {
  explicit AnimatedForm(int preset) : scoped(ui) {
    platform::srand(1);
    form.CBoxFieldType->Select(preset);
    form.BButApplyClick(&form);
    startX = arrowmap::ParticleX;
    startY = arrowmap::ParticleY;
  }
  // Expanding presets push particles out of range within a few hundred ticks.
  void restart() {
    arrowmap::ParticleX = startX;
    arrowmap::ParticleY = startY;
    form.CfxIter->SetValue(0);
    form.Timer1.setEnabled(true);
  }

  platform::RecordingUi ui;
  platform::ScopedUi scoped;
  arrowmap::TMainFrm form{nullptr};
  std::array<double, kParticleCount> startX{}, startY{};
};

// 2000 evaluations, each normalising, parsing, evaluating and freeing its formula.
void BM_StepFormulas(benchmark::State& state) {
  AnimatedForm f(static_cast<int>(state.range(0)));
  const std::string fx = f.form.EdFuncX->Text(), fy = f.form.EdFuncY->Text();
  for (auto _ : state) {
    int err = 0;
    double sum = 0;
    for (int i = 0; i < kParticleCount; ++i) {
      sum += f.form.EvaluateFormula(fx, err, f.startX[i], f.startY[i]);
      sum += f.form.EvaluateFormula(fy, err, f.startX[i], f.startY[i]);
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * 2 * kParticleCount);
  state.SetLabel(kFieldPresets[state.range(0)].key + 3);
}
BENCHMARK(BM_StepFormulas)->DenseRange(0, 6)->Unit(benchmark::kMillisecond);

// One whole timer tick: the formulas, 1000 marks and the chart's render.
void BM_AnimationStep(benchmark::State& state) {
  AnimatedForm f(static_cast<int>(state.range(0)));
  int ticks = 0;
  for (auto _ : state) {
    if (++ticks % 100 == 0) {
      state.PauseTiming();
      f.restart();
      state.ResumeTiming();
    }
    f.form.Timer1Timer(&f.form);
  }
  state.SetLabel(kFieldPresets[state.range(0)].key + 3);
}
BENCHMARK(BM_AnimationStep)->DenseRange(0, 6)->Unit(benchmark::kMillisecond);

// Rendering alone: 1000 particle marks shown on the chart.
void BM_Render1000Particles(benchmark::State& state) {
  AnimatedForm f(6);
  f.form.Timer1Timer(&f.form);
  for (auto _ : state) f.form.PVData->ShowItems();
  state.SetItemsProcessed(state.iterations() * kParticleCount);
}
BENCHMARK(BM_Render1000Particles)->Unit(benchmark::kMillisecond);

// Nested calls the length bound still allows: the cost of one evaluation where an
// argument is evaluated once (deterministic), and where it is evaluated once per use until
// the step budget ends it (random).
std::string nested(const std::string& call, int depth, const std::string& inner) {
  std::string text;
  for (int i = 0; i < depth; ++i) text += call + "(";
  return text + inner + std::string(depth, ')');
}

void BM_NestedFormula(benchmark::State& state, const std::string& text) {
  platform::srand(1);
  arrowmap::FormulaRejection rejection;
  for (auto _ : state) {
    benchmark::DoNotOptimize(arrowmap::EvaluateFormulaText(text, 0.5, 0.25, rejection));
  }
  state.SetLabel(std::to_string(text.size()) + " characters");
}
BENCHMARK_CAPTURE(BM_NestedFormula, tan_30_deep, nested("TAN", 30, "X"))
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_NestedFormula, tan_199_deep, nested("TAN", 199, "X"))
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_NestedFormula, rand_166_deep, nested("RAND", 166, "1"))
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_NestedFormula, tan_198_deep_over_rand, nested("TAN", 198, "RAND(1)"))
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_NestedFormula, tan_199_deep_over_gauss, nested("TAN", 199, "GAUSS"))
    ->Unit(benchmark::kMicrosecond);

// The arrow field: 242 evaluations and 121 arrows or marks.
void BM_DrawField(benchmark::State& state) {
  AnimatedForm f(5);
  for (auto _ : state) f.form.DrawField();
}
BENCHMARK(BM_DrawField)->Unit(benchmark::kMillisecond);

}  // namespace
