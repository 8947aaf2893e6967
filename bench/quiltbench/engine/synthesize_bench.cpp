// Single-image synthesis from a brick sample, post-process on, on a fixed clock: the
// three candidate modes at the sizes the program is used with.
#include <benchmark/benchmark.h>

#include "platform/clock.h"
#include "platform/recording_ui.h"
#include "quiltbench/engine/graph_cut_synthesizer.h"
#include "tests/quiltbench/engine/engine_test_images.h"

namespace {

enum Mode { kRandom, kNaive, kFft };

void BM_SynthesizeImage(benchmark::State& state) {
  const int in = static_cast<int>(state.range(0));
  const int out = static_cast<int>(state.range(1));
  const Mode mode = static_cast<Mode>(state.range(2));
  platform::FixedClock clock;
  platform::ScopedClock useClock(clock);
  platform::RecordingUi ui;
  platform::ScopedUi useUi(ui);
  const platform::HGLOBAL sample = engine_test::MakeDib24(engine_test::BrickImage(in, in, 7));
  const float scale = static_cast<float>(out) / in;
  long pixels = 0;
  for (auto _ : state) {
    CGraphCutSynthesizer engine;
    engine.m_bRandom = mode == kRandom;
    engine.m_nSearchMode = mode == kNaive ? 2 : 1;
    engine.m_bPostProcess = 1;
    const platform::HGLOBAL result = engine.SynthesizeImage(sample, scale, scale);
    if (!result) {
      state.SkipWithError("no result");
      break;
    }
    pixels += static_cast<long>(engine.m_usedOffsets.size()) * 24 * 24;
    platform::GlobalFree(result);
    ui.clear();
  }
  state.SetItemsProcessed(pixels);
  state.SetLabel(std::to_string(in) + "->" + std::to_string(out) +
                 (mode == kRandom  ? " random"
                  : mode == kNaive ? " naive"
                                   : " fft"));
  platform::GlobalFree(sample);
}

void Sizes(benchmark::internal::Benchmark* b) {
  for (auto [in, out] :
       {std::pair{64, 128}, std::pair{128, 256}, std::pair{128, 512}, std::pair{256, 512}})
    for (int mode : {kRandom, kNaive, kFft}) b->Args({in, out, mode});
}

BENCHMARK(BM_SynthesizeImage)->Apply(Sizes)->Unit(benchmark::kMillisecond);

}  // namespace
