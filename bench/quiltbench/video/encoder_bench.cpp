// Encoding speed and quality on a 100-frame 352x288 clip at 4 Mbit/s (N = 12,
// M = 3, search +-15), side by side with ffmpeg's MPEG-2 encoder on the same
// frames (one thread, same rate and group structure). Both streams are decoded
// by ffmpeg and compared with the source; the counters report frames per
// second and the mean PSNR over all three planes.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "quiltbench/video/dct.h"
#include "quiltbench/video/encoder_entry.h"
#include "quiltbench/video/encoder_stages.h"
#include "quiltbench/video/motion_search.h"

namespace {

constexpr int kWidth = 352, kHeight = 288, kFrames = 100;
constexpr std::size_t kLuma = static_cast<std::size_t>(kWidth) * kHeight;
constexpr std::size_t kFrameBytes = kLuma * 3 / 2;

// A panning textured background with a moving object and mild noise, 4:2:0.
struct Clip {
  std::filesystem::path dir;
  std::vector<std::uint8_t> yuv;  // all frames, planar 4:2:0

  Clip() {
    dir = std::filesystem::temp_directory_path() / ("encoder_bench_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::mt19937 rng(1);
    std::uniform_int_distribution<int> noise(-2, 2);
    yuv.resize(kFrameBytes * kFrames);
    for (int t = 0; t < kFrames; ++t) {
      std::uint8_t* y = &yuv[kFrameBytes * t];
      std::uint8_t* u = y + kLuma;
      std::uint8_t* v = u + kLuma / 4;
      const double panX = 1.3 * t, panY = 0.6 * t;
      for (int j = 0; j < kHeight; ++j) {
        for (int i = 0; i < kWidth; ++i) {
          const double x = i + panX, yy = j + panY;
          double value = 128 + 50 * std::sin(x * 0.05) * std::cos(yy * 0.07) +
                         25 * std::sin((x + yy) * 0.21) +
                         ((static_cast<int>(x / 8) + static_cast<int>(yy / 8)) % 2 ? 12 : -12);
          const double ox = 60 + 2.5 * t, oy = 80 + 20 * std::sin(t * 0.1);
          if (i > ox && i < ox + 64 && j > oy && j < oy + 48) value = 220 - ((i + j) % 16) * 3;
          y[j * kWidth + i] = static_cast<std::uint8_t>(std::clamp(value + noise(rng), 0.0, 255.0));
        }
      }
      for (int j = 0; j < kHeight / 2; ++j) {
        for (int i = 0; i < kWidth / 2; ++i) {
          const double x = 2 * i + panX, yy = 2 * j + panY;
          u[j * kWidth / 2 + i] = static_cast<std::uint8_t>(128 + 30 * std::sin(x * 0.03));
          v[j * kWidth / 2 + i] = static_cast<std::uint8_t>(128 + 30 * std::cos(yy * 0.04));
        }
      }
      // Appended piecewise: GCC 12 warns falsely (-Wrestrict) on "f" + std::string.
      std::string name = "f";
      name += std::to_string(t);
      name += ".yuv";
      std::ofstream out(dir / name, std::ios::binary);
      out.write(reinterpret_cast<const char*>(y), static_cast<std::streamsize>(kFrameBytes));
    }
    std::ofstream all(dir / "source.yuv", std::ios::binary);
    all.write(reinterpret_cast<const char*>(yuv.data()), static_cast<std::streamsize>(yuv.size()));
  }
  ~Clip() { std::filesystem::remove_all(dir); }

  std::string file(const std::string& name) const { return (dir / name).string(); }
};

const Clip& clip() {
  static const Clip c;
  return c;
}

std::string parameterFile(const Clip& c) {
  std::ostringstream s;
  s << "benchmark clip\n"
    << c.file("f%d") << "\n-\n-\n-\n"
    << c.file("stats.txt") << "\n"
    << "1\n"
    << kFrames << "\n0\n00:00:00:00\n12\n3\n0\n0\n"
    << kWidth << "\n"
    << kHeight << "\n"
    << "2\n3\n4000000\n112\n0\n0\n4\n8\n1\n1\n2\n5\n5\n5\n"
    << kWidth << "\n"
    << kHeight << "\n"
    << "0\n0\n1 1 1\n0 0 0\n0 0 0\n0 0 0\n0 0 0\n0\n1\n0\n0\n0\n0\n0\n0\n0\n0\n0\n"
    << "2 2 15 15\n2 2 15 15\n2 2 15 15\n2 2 15 15\n2 2 15 15\n";
  return s.str();
}

// Mean PSNR over the frames of the stream decoded by ffmpeg, against the source.
double decodedPsnr(const Clip& c, const std::string& stream) {
  const std::string raw = c.file("decoded.yuv");
  const std::string command = "ffmpeg -nostdin -loglevel error -threads 1 -i '" + stream +
                              "' -vsync 0 -f rawvideo -pix_fmt yuv420p -y '" + raw + "'";
  if (std::system(command.c_str()) != 0) return 0;
  std::ifstream in(raw, std::ios::binary);
  const std::vector<std::uint8_t> decoded((std::istreambuf_iterator<char>(in)), {});
  if (decoded.size() != c.yuv.size()) return 0;
  double total = 0;
  for (int t = 0; t < kFrames; ++t) {
    double squared = 0;
    for (std::size_t i = kFrameBytes * t; i < kFrameBytes * (t + 1); ++i) {
      const double d = static_cast<double>(decoded[i]) - c.yuv[i];
      squared += d * d;
    }
    total += 10 * std::log10(255.0 * 255.0 * kFrameBytes / std::max(squared, 1e-9));
  }
  return total / kFrames;
}

double streamMbits(const std::string& path) {
  return static_cast<double>(std::filesystem::file_size(path)) * 8 / (kFrames / 25.0) / 1e6;
}

void BM_EncodeCif(benchmark::State& state) {
  const Clip& c = clip();
  {
    std::ofstream par(c.file("clip.par"));
    par << parameterFile(c);
  }
  const std::string stream = c.file("ours.m2v");
  // The encoder reports progress on the error stream; keep the figures readable.
  std::fflush(stderr);
  double seconds = 0;
  const int savedStderr = ::dup(2);
  const int devNull = ::open("/dev/null", O_WRONLY);
  for (auto _ : state) {
    ::dup2(devNull, 2);
    const auto start = std::chrono::steady_clock::now();
    quiltbench::encoder::encode_mpeg2_file(c.file("clip.par"), stream);
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fflush(stderr);
    ::dup2(savedStderr, 2);
  }
  ::close(devNull);
  ::close(savedStderr);
  state.counters["fps"] = kFrames / seconds;
  state.counters["psnr_dB"] = decodedPsnr(c, stream);
  state.counters["Mbit_s"] = streamMbits(stream);
}
BENCHMARK(BM_EncodeCif)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FfmpegMpeg2Cif(benchmark::State& state) {
  const Clip& c = clip();
  const std::string stream = c.file("ffmpeg.m2v");
  const std::string command =
      "ffmpeg -nostdin -loglevel error -threads 1 -f rawvideo -pix_fmt yuv420p -s 352x288 -r 25 -i "
      "'" +
      c.file("source.yuv") +
      "' -c:v mpeg2video -threads 1 -b:v 4000000 -minrate 4000000 -maxrate 4000000 -bufsize "
      "1835008 "
      "-g 12 -bf 2 -f mpeg2video -y '" +
      stream + "'";
  double seconds = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) state.SkipWithError("ffmpeg failed");
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  state.counters["fps"] = kFrames / seconds;
  state.counters["psnr_dB"] = decodedPsnr(c, stream);
  state.counters["Mbit_s"] = streamMbits(stream);
}
BENCHMARK(BM_FfmpegMpeg2Cif)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The search kernel alone: one 16x16 block over a +-15 window.
void BM_FullSearch16(benchmark::State& state) {
  const Clip& c = clip();
  const std::uint8_t* ref = c.yuv.data();
  const std::uint8_t* cur = c.yuv.data() + kFrameBytes;
  const quiltbench::encoder::PlaneView view{ref, kWidth, kWidth, kHeight};
  int x = 16, y = 16;
  for (auto _ : state) {
    const auto window = quiltbench::encoder::searchWindow(view, x, y, 16, 15, 15);
    benchmark::DoNotOptimize(
        quiltbench::encoder::fullSearch(cur + y * kWidth + x, kWidth, view, x, y, 16, window));
    x = x + 16 >= kWidth - 16 ? 16 : x + 16;
    if (x == 16) y = y + 16 >= kHeight - 16 ? 16 : y + 16;
  }
}
BENCHMARK(BM_FullSearch16);

void BM_ForwardInverseDct(benchmark::State& state) {
  quiltbench::encoder::initForwardDct();
  quiltbench::encoder::initInverseDct();
  std::array<std::int16_t, 64> block;
  for (int i = 0; i < 64; ++i) block[i] = static_cast<std::int16_t>((i * 37) % 255 - 128);
  for (auto _ : state) {
    std::array<std::int16_t, 64> b = block;
    quiltbench::encoder::forwardDct(b);
    quiltbench::encoder::inverseDct(b);
    benchmark::DoNotOptimize(b);
  }
}
BENCHMARK(BM_ForwardInverseDct);

}  // namespace
