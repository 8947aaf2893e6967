// Controllable synthesis as the document runs it (a 128x128 exemplar, the start image
// resampled to twice its size, two constraint polygons, weight 3): its time and its seam,
// the grey step across the edge of the constrained area and the largest step in a
// 16-pixel ring outside it, each against the exemplar's own neighbouring-pixel step. The
// unconstrained compare result and the start image are measured over the same pixels.
// Set CONTROLLABLE_BENCH_OUT to a folder to keep the images for a look.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "patchloom/engine/patch_optimizer.h"
#include "patchloom/image/image.h"
#include "patchloom/kmeans/kmeans_random.h"
#include "platform/clock.h"
#include "platform/recording_ui.h"
#include "platform/ui.h"
#include "tests/patchloom/engine/seam_textures.h"

namespace {

namespace st = seam_textures;

constexpr int kRing = 16;

std::vector<CPoint> Disk(int cx, int cy, int radius) {
  std::vector<CPoint> polygon;
  for (int i = 0; i < 24; ++i) {
    const double a = i * 6.283185307179586 / 24;
    polygon.push_back(
        {cx + static_cast<int>(radius * std::cos(a)), cy + static_cast<int>(radius * std::sin(a))});
  }
  return polygon;
}

std::unique_ptr<CImage> MakeExemplar(int texture) {
  if (texture == 0)
    return st::MakeTexture(128, 128, [](int x, int y) { return st::Leopard(x, y, 24); });
  return st::MakeTexture(128, 128, [](int x, int y) { return st::Bricks(x, y, 32, 16); });
}

void Keep(const CImage& image, const std::string& name) {
  const char* folder = std::getenv("CONTROLLABLE_BENCH_OUT");
  if (folder == nullptr) return;
  const_cast<CImage&>(image).Save((std::filesystem::path(folder) / name).string());
}

void Report(benchmark::State& state, const std::string& prefix, const CImage& image,
            const CPointArray& pixels, double typical) {
  const st::SeamFigures f = st::MeasureSeam(image, pixels, kRing);
  state.counters[prefix + "Edge"] = f.boundaryStep / typical;
  state.counters[prefix + "Ring"] = f.worstRingStep / typical;
}

void BM_SynthesizeControllable(benchmark::State& state) {
  const int texture = static_cast<int>(state.range(0));
  const char* name = texture == 0 ? "leopard" : "bricks";
  state.SetLabel(name);
  platform::FixedClock clock;
  platform::ScopedClock clockGuard(clock);
  platform::RecordingUi ui;
  platform::ScopedUi uiGuard(ui);
  auto exemplar = MakeExemplar(texture);
  CPatchOptimizer optimizer;
  std::unique_ptr<CImage> start(optimizer.ScaleImage(exemplar.get(), 2.0, 2.0));
  const CPointArray pixels =
      st::PixelsInside({Disk(90, 150, 40), {{150, 40}, {230, 70}, {200, 120}, {140, 100}}},
                       start->GetWidth(), start->GetHeight());
  std::unique_ptr<CImage> result;
  for (auto _ : state) {
    KMeansRandomRestart();
    result.reset(optimizer.SynthesizeControllable(exemplar.get(), start.get(), pixels, 3.0));
  }
  if (!result) {
    state.SkipWithError("no result");
    return;
  }
  KMeansRandomRestart();
  std::unique_ptr<CImage> compare(optimizer.Synthesize(exemplar.get(), 2.0, 2.0, 10, 1, 32));
  const double typical = st::TypicalStep(*exemplar);
  state.counters["typicalStep"] = typical;
  Report(state, "result", *result, pixels, typical);
  if (compare) Report(state, "compare", *compare, pixels, typical);
  Report(state, "start", *start, pixels, typical);
  state.SetItemsProcessed(state.iterations() * start->GetWidth() * start->GetHeight());
  Keep(*exemplar, std::string(name) + "_exemplar.bmp");
  Keep(*start, std::string(name) + "_start.bmp");
  Keep(*result, std::string(name) + "_result.bmp");
  if (compare) Keep(*compare, std::string(name) + "_compare.bmp");
}

BENCHMARK(BM_SynthesizeControllable)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
