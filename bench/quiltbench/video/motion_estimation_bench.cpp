// Motion estimation alone, per CIF frame, on the clips of the encoder
// benchmark (a pan, a fractal zoom, a test card; 4:2:0, +-15 search), coded
// with two B pictures between references as the encoder does with M = 3. The
// source pictures stand in for the reconstructed references: the search
// costs the same, and the whole stage is timed without the rest of the
// encoder around it, which a shared machine would otherwise drown it in.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "quiltbench/video/encoder_stages.h"
#include "quiltbench/video/encoder_state.h"
#include "quiltbench/video/motion_search.h"

namespace {

namespace enc = quiltbench::encoder;

constexpr int kWidth = 352, kHeight = 288, kFrames = 31;
constexpr std::size_t kLuma = static_cast<std::size_t>(kWidth) * kHeight;

// The encoder benchmark's pan: a textured background moving by (1.3, 0.6)
// samples a frame, an object of its own motion and mild noise; luma only.
std::vector<enc::Frame> panningFrames() {
  std::mt19937 rng(1);
  std::uniform_int_distribution<int> noise(-2, 2);
  std::vector<enc::Frame> frames(kFrames);
  for (int t = 0; t < kFrames; ++t) {
    frames[t].plane[0].resize(kLuma);
    for (int j = 0; j < kHeight; ++j) {
      for (int i = 0; i < kWidth; ++i) {
        const double x = i + 1.3 * t, y = j + 0.6 * t;
        double value = 128 + 50 * std::sin(x * 0.05) * std::cos(y * 0.07) +
                       25 * std::sin((x + y) * 0.21) +
                       ((static_cast<int>(x / 8) + static_cast<int>(y / 8)) % 2 ? 12 : -12);
        const double ox = 60 + 2.5 * t, oy = 80 + 20 * std::sin(t * 0.1);
        if (i > ox && i < ox + 64 && j > oy && j < oy + 48) value = 220 - ((i + j) % 16) * 3;
        frames[t].plane[0][j * kWidth + i] =
            static_cast<std::uint8_t>(std::clamp(value + noise(rng), 0.0, 255.0));
      }
    }
  }
  return frames;
}

// The luma of one of ffmpeg's generated sources; empty when ffmpeg fails.
std::vector<enc::Frame> generatedFrames(const std::string& source) {
  const std::string raw = (std::filesystem::temp_directory_path() /
                           ("motion_estimation_bench_" + std::to_string(::getpid()) + ".yuv"))
                              .string();
  const std::string command = "ffmpeg -nostdin -loglevel error -f lavfi -i '" + source +
                              "=size=352x288:rate=25' -frames:v " + std::to_string(kFrames) +
                              " -pix_fmt yuv420p -f rawvideo -y '" + raw + "'";
  const bool made = std::system(command.c_str()) == 0;
  std::ifstream in(raw, std::ios::binary);
  const std::vector<char> yuv((std::istreambuf_iterator<char>(in)), {});
  std::filesystem::remove(raw);
  if (!made || yuv.size() != kLuma * 3 / 2 * kFrames) return {};
  std::vector<enc::Frame> frames(kFrames);
  for (int t = 0; t < kFrames; ++t) {
    const char* y = yuv.data() + kLuma * 3 / 2 * t;
    frames[t].plane[0].assign(y, y + kLuma);
  }
  return frames;
}

const std::vector<enc::Frame>& clipFrames(int index) {
  static std::map<int, std::vector<enc::Frame>> clips;
  auto found = clips.find(index);
  if (found == clips.end()) {
    found = clips
                .emplace(index, index == 0   ? panningFrames()
                                : index == 1 ? generatedFrames("mandelbrot")
                                             : generatedFrames("testsrc2"))
                .first;
  }
  return found->second;
}

enc::PictureState picture(int type) {
  enc::PictureState p;
  p.pict_type = type;
  p.pict_struct = enc::kFramePicture;
  p.forw_hor_f_code = p.forw_vert_f_code = 2;
  p.sxf = p.syf = 15;
  if (type == enc::kPictureB) {
    p.back_hor_f_code = p.back_vert_f_code = 2;
    p.sxb = p.syb = 15;
  }
  return p;
}

// Every picture of the clip but the first, in coding order: the P picture
// three frames on, then the two B pictures before it.
void BM_MotionEstimation(benchmark::State& state) {
  const std::vector<enc::Frame>& frames = clipFrames(static_cast<int>(state.range(0)));
  if (frames.empty()) {
    state.SkipWithError("ffmpeg could not make the clip");
    return;
  }
  enc::setMotionSearchMode(state.range(1) ? enc::MotionSearchMode::Full
                                          : enc::MotionSearchMode::Predictive);
  enc::g_encoder.params.mpeg1 = 0;
  enc::g_encoder.params.M = 3;
  enc::Sizes sizes;
  sizes.mb_width = kWidth / 16, sizes.mb_height = sizes.mb_height2 = kHeight / 16;
  sizes.width = sizes.width2 = kWidth, sizes.height = sizes.height2 = kHeight;
  std::vector<enc::MacroblockInfo> macroblocks(sizes.mb_width * sizes.mb_height);
  const enc::PictureState intra = picture(enc::kPictureI), p = picture(enc::kPictureP),
                          b = picture(enc::kPictureB);
  enc::FrameStores stores;
  long pictures = 0;
  for (auto _ : state) {
    enc::estimateMotion(stores, frames[0], frames[0], intra, sizes, macroblocks);
    for (int t = 3; t < kFrames; t += 3) {
      stores.oldSource = stores.oldReference = frames[t - 3];
      enc::estimateMotion(stores, frames[t], frames[t], p, sizes, macroblocks);
      stores.newSource = stores.newReference = frames[t];
      for (int k = t - 2; k < t; ++k) {
        enc::estimateMotion(stores, frames[k], frames[k], b, sizes, macroblocks);
      }
      pictures += 3;
    }
    benchmark::DoNotOptimize(macroblocks.data());
  }
  enc::setMotionSearchMode(enc::MotionSearchMode::Predictive);
  state.counters["us_frame"] =
      benchmark::Counter(static_cast<double>(pictures) * 1e-6,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_MotionEstimation)
    ->ArgNames({"clip", "full_search"})
    ->ArgsProduct({{0, 1, 2}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
