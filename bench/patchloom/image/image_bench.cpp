// Reading and writing a 2048 x 2048 image in every format. GIF files come from Pillow,
// which also decodes them here for comparison; memcpy of the same bytes is the yardstick
// for BMP.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "patchloom/image/bmp_image.h"
#include "patchloom/image/gif_image.h"
#include "patchloom/image/image.h"
#include "patchloom/image/jpeg_image.h"
#include "patchloom/image/png_image.h"

namespace {

constexpr int kSide = 2048;

struct BenchFiles {
  std::filesystem::path dir = std::filesystem::temp_directory_path() /
                              ("patchloom_image_bench_" + std::to_string(::getpid()));
  bool gifs = false;

  BenchFiles() {
    std::filesystem::create_directories(dir);
    // A picture with smooth areas and fine detail, 24 bits and as 256 palette indices.
    CImage rgb, indexed, noise;
    rgb.Create(kSide, kSide, 24, 0);
    indexed.Create(kSide, kSide, 8, -1);
    noise.Create(kSide, kSide, 8, -1);
    std::uint8_t red[256], green[256], blue[256];
    for (int i = 0; i < 256; ++i) {
      red[i] = static_cast<std::uint8_t>(i);
      green[i] = static_cast<std::uint8_t>((i * 7) & 255);
      blue[i] = static_cast<std::uint8_t>(255 - i);
    }
    indexed.SetPaletteRGB(256, red, green, blue);
    noise.SetPaletteRGB(256, red, green, blue);
    unsigned seed = 12345;
    for (int y = 0; y < kSide; ++y)
      for (int x = 0; x < kSide; ++x) {
        seed = seed * 1103515245u + 12345u;
        const int jitter = static_cast<int>((seed >> 16) & 7);
        const auto r = static_cast<std::uint8_t>((x / 8 + jitter) & 255);
        const auto g = static_cast<std::uint8_t>((y / 8) & 255);
        const auto b = static_cast<std::uint8_t>(((x + y) / 16) & 255);
        rgb.SetPixelRGB(x, y, r, g, b);
        indexed.SetPixelIndex(x, y, ((x / 16) + (y / 16) * 3 + (jitter >> 1)) & 255);
        noise.SetPixelIndex(x, y, static_cast<int>((seed >> 8) & 255));
      }
    rgb.Save(file("rgb.bmp"));
    indexed.Save(file("indexed.bmp"));
    noise.Save(file("noise.bmp"));
    rgb.Save(file("rgb.png"));
    rgb.Save(file("rgb.jpg"));
    const std::string python = PATCHLOOM_BENCH_PYTHON;
    if (!python.empty()) {
      const std::string command = python +
                                  " -c \"import sys; from PIL import Image\n"
                                  "for n in ('indexed', 'noise'): Image.open(sys.argv[1] + '/' + n "
                                  "+ '.bmp').save(sys.argv[1] + '/' + n + '.gif')\" '" +
                                  dir.string() + "'";
      gifs = std::system(command.c_str()) == 0;
    }
  }
  ~BenchFiles() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
  std::string file(const std::string& name) const { return (dir / name).string(); }
};

const BenchFiles& files() {
  static const BenchFiles instance;
  return instance;
}

std::int64_t fileBytes(const std::string& path) {
  return static_cast<std::int64_t>(std::filesystem::file_size(path));
}

template <typename Impl>
void readBench(benchmark::State& state, const std::string& name) {
  const std::string path = files().file(name);
  if (!std::filesystem::exists(path)) {
    state.SkipWithError("fixture missing (no python3 with PIL?)");
    return;
  }
  Impl image;
  for (auto _ : state) {
    if (!image.Read(path)) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(image.GetBits());
  }
  state.SetBytesProcessed(state.iterations() * fileBytes(path));
  state.counters["pixels"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kSide * kSide, benchmark::Counter::kIsRate);
}

template <typename Impl>
void writeBench(benchmark::State& state, const std::string& source, const std::string& target) {
  CBmpImageImpl bmp;
  bmp.Read(files().file(source));
  Impl image;
  image.TakeOver(bmp);
  const std::string path = files().file(target);
  for (auto _ : state) {
    if (!image.Write(path)) state.SkipWithError("write failed");
  }
  state.SetBytesProcessed(state.iterations() * fileBytes(path));
  state.counters["pixels"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kSide * kSide, benchmark::Counter::kIsRate);
}

void BM_BmpRead24(benchmark::State& s) { readBench<CBmpImageImpl>(s, "rgb.bmp"); }
void BM_BmpWrite24(benchmark::State& s) { writeBench<CBmpImageImpl>(s, "rgb.bmp", "out24.bmp"); }
void BM_BmpRead8(benchmark::State& s) { readBench<CBmpImageImpl>(s, "indexed.bmp"); }
void BM_BmpWrite8(benchmark::State& s) { writeBench<CBmpImageImpl>(s, "indexed.bmp", "out8.bmp"); }
void BM_PngRead(benchmark::State& s) { readBench<CPngImageImpl>(s, "rgb.png"); }
void BM_PngWrite(benchmark::State& s) { writeBench<CPngImageImpl>(s, "rgb.bmp", "out.png"); }
void BM_JpegRead(benchmark::State& s) { readBench<CJpegImageImpl>(s, "rgb.jpg"); }
void BM_JpegWrite(benchmark::State& s) { writeBench<CJpegImageImpl>(s, "rgb.bmp", "out.jpg"); }
void BM_GifRead(benchmark::State& s) { readBench<CGifImageImpl>(s, "indexed.gif"); }
void BM_GifReadNoise(benchmark::State& s) { readBench<CGifImageImpl>(s, "noise.gif"); }

// Pillow decoding the same file: the script times its own decodes (without interpreter
// start-up) and reports seconds per decode, used as the iteration time.
void pillowBench(benchmark::State& state, const std::string& name) {
  const std::string python = PATCHLOOM_BENCH_PYTHON;
  const std::string path = files().file(name);
  if (python.empty() || !std::filesystem::exists(path)) {
    state.SkipWithError("no python3 with PIL");
    return;
  }
  const std::string command =
      python +
      " -c \"import sys, time; from PIL import Image\n"
      "p = sys.argv[1]; Image.open(p).load(); n = 5; t = time.perf_counter()\n"
      "for _ in range(n): Image.open(p).load()\n"
      "print((time.perf_counter() - t) / n)\" '" +
      path + "'";
  for (auto _ : state) {
    std::FILE* pipe = ::popen(command.c_str(), "r");
    double seconds = 0;
    if (!pipe || std::fscanf(pipe, "%lf", &seconds) != 1) {
      if (pipe) ::pclose(pipe);
      state.SkipWithError("pillow run failed");
      return;
    }
    ::pclose(pipe);
    state.SetIterationTime(seconds);
  }
  state.SetBytesProcessed(state.iterations() * fileBytes(path));
  state.counters["pixels"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kSide * kSide, benchmark::Counter::kIsRate);
}
void BM_GifReadPillow(benchmark::State& s) { pillowBench(s, "indexed.gif"); }
void BM_GifReadNoisePillow(benchmark::State& s) { pillowBench(s, "noise.gif"); }

// The yardstick for BMP: copying as many bytes as the 24-bit file holds.
void BM_MemcpyBmpSize(benchmark::State& state) {
  const std::size_t bytes = static_cast<std::size_t>(fileBytes(files().file("rgb.bmp")));
  std::vector<char> from(bytes, 1), to(bytes);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), bytes);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
}

BENCHMARK(BM_MemcpyBmpSize)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BmpRead24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BmpWrite24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BmpRead8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BmpWrite8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GifRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GifReadPillow)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
BENCHMARK(BM_GifReadNoise)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GifReadNoisePillow)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
BENCHMARK(BM_PngRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegWrite)->Unit(benchmark::kMillisecond);

}  // namespace
