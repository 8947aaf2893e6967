// Encoding speed and quality on 100-frame 352x288 clips of different motion at
// 4 Mbit/s (N = 12, M = 3, search +-15), side by side with ffmpeg's MPEG-2
// encoder on the same frames (one thread, same rate, group structure and B
// pictures). Both streams are decoded by ffmpeg and compared with the source.
// Counters: ms_frame over the whole run, steady_ms_frame from the difference
// between a 100-frame and a 10-frame run (start-up left out, the same way for
// both encoders), the same in processor time, each time the least of three
// runs, then luma PSNR (mean of the per-frame values) and the rate, and the
// same per picture type.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "quiltbench/video/dct.h"
#include "quiltbench/video/encoder_entry.h"
#include "quiltbench/video/encoder_stages.h"
#include "quiltbench/video/motion_search.h"
#include "quiltbench/video/prediction.h"
#include "quiltbench/video/quantisation.h"
#include "quiltbench/video/rate_control.h"
#include "quiltbench/video/sad.h"

namespace {

constexpr int kWidth = 352, kHeight = 288, kFrames = 100, kShortFrames = 10;
constexpr std::size_t kLuma = static_cast<std::size_t>(kWidth) * kHeight;
constexpr std::size_t kFrameBytes = kLuma * 3 / 2;

// A panning textured background with a moving object and mild noise, 4:2:0.
std::vector<std::uint8_t> panningClip() {
  std::mt19937 rng(1);
  std::uniform_int_distribution<int> noise(-2, 2);
  std::vector<std::uint8_t> yuv(kFrameBytes * kFrames);
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
  }
  return yuv;
}

// A clip of one of ffmpeg's generated sources; empty when ffmpeg fails.
std::vector<std::uint8_t> generatedClip(const std::filesystem::path& dir,
                                        const std::string& source) {
  const std::string raw = (dir / "generated.yuv").string();
  const std::string command = "ffmpeg -nostdin -loglevel error -f lavfi -i '" + source +
                              "=size=352x288:rate=25' -frames:v " + std::to_string(kFrames) +
                              " -pix_fmt yuv420p -f rawvideo -y '" + raw + "'";
  if (std::system(command.c_str()) != 0) return {};
  std::ifstream in(raw, std::ios::binary);
  std::vector<std::uint8_t> yuv((std::istreambuf_iterator<char>(in)), {});
  if (yuv.size() != kFrameBytes * kFrames) yuv.clear();
  return yuv;
}

struct Clip {
  std::filesystem::path dir;
  std::vector<std::uint8_t> yuv;  // all frames, planar 4:2:0

  Clip(const std::string& name,
       const std::function<std::vector<std::uint8_t>(const std::filesystem::path&)>& make) {
    dir = std::filesystem::temp_directory_path() /
          ("encoder_bench_" + std::to_string(::getpid()) + "_" + name);
    std::filesystem::create_directories(dir);
    yuv = make(dir);
    if (yuv.empty()) return;
    for (int t = 0; t < kFrames; ++t) {
      // Appended piecewise: GCC 12 warns falsely (-Wrestrict) on "f" + std::string.
      std::string frameName = "f";
      frameName += std::to_string(t);
      frameName += ".yuv";
      std::ofstream out(dir / frameName, std::ios::binary);
      out.write(reinterpret_cast<const char*>(&yuv[kFrameBytes * t]),
                static_cast<std::streamsize>(kFrameBytes));
    }
    std::ofstream all(dir / "source.yuv", std::ios::binary);
    all.write(reinterpret_cast<const char*>(yuv.data()), static_cast<std::streamsize>(yuv.size()));
  }
  ~Clip() { std::filesystem::remove_all(dir); }

  std::string file(const std::string& name) const { return (dir / name).string(); }
};

// Clip 0 pans slowly with a moving object, 1 zooms into a fractal (motion
// that no translation follows well), 2 is a test card with small moving parts
// and a scrolling gradient.
const Clip& clip(int index) {
  static std::map<int, std::unique_ptr<Clip>> clips;
  std::unique_ptr<Clip>& c = clips[index];
  if (!c) {
    switch (index) {
      case 0:
        c = std::make_unique<Clip>("pan", [](const auto&) { return panningClip(); });
        break;
      case 1:
        c = std::make_unique<Clip>(
            "mandelbrot", [](const auto& dir) { return generatedClip(dir, "mandelbrot"); });
        break;
      default:
        c = std::make_unique<Clip>("testsrc2",
                                   [](const auto& dir) { return generatedClip(dir, "testsrc2"); });
        break;
    }
  }
  return *c;
}

std::string parameterFile(const Clip& c, int frames) {
  std::ostringstream s;
  s << "benchmark clip\n"
    << c.file("f%d") << "\n-\n-\n-\n"
    << c.file("stats.txt") << "\n"
    << "1\n"
    << frames << "\n0\n00:00:00:00\n12\n3\n0\n0\n"
    << kWidth << "\n"
    << kHeight << "\n"
    << "2\n3\n4000000\n112\n0\n0\n4\n8\n1\n1\n2\n5\n5\n5\n"
    << kWidth << "\n"
    << kHeight << "\n"
    << "0\n0\n1 1 1\n0 0 0\n0 0 0\n0 0 0\n0 0 0\n0\n1\n0\n0\n0\n0\n0\n0\n0\n0\n0\n"
    << "2 2 15 15\n2 2 15 15\n2 2 15 15\n2 2 15 15\n2 2 15 15\n";
  return s.str();
}

// Luma PSNR of every frame of the stream decoded by ffmpeg, against the
// source, in display order; empty when the stream does not decode to every frame.
std::vector<double> decodedLumaPsnrs(const Clip& c, const std::string& stream) {
  const std::string raw = c.file("decoded.yuv");
  const std::string command = "ffmpeg -nostdin -loglevel error -threads 1 -i '" + stream +
                              "' -vsync 0 -f rawvideo -pix_fmt yuv420p -y '" + raw + "'";
  if (std::system(command.c_str()) != 0) return {};
  std::ifstream in(raw, std::ios::binary);
  const std::vector<std::uint8_t> decoded((std::istreambuf_iterator<char>(in)), {});
  if (decoded.size() != c.yuv.size()) return {};
  std::vector<double> psnrs;
  for (int t = 0; t < kFrames; ++t) {
    double squared = 0;
    for (std::size_t i = kFrameBytes * t; i < kFrameBytes * t + kLuma; ++i) {
      const double d = static_cast<double>(decoded[i]) - c.yuv[i];
      squared += d * d;
    }
    psnrs.push_back(10 * std::log10(255.0 * 255.0 * kLuma / std::max(squared, 1e-9)));
  }
  return psnrs;
}

// One coded picture of a stream: its picture_coding_type (1 I, 2 P, 3 B), its
// frame in display order and the bits from its start code to the next
// picture's (headers between them included), stuffing left out.
struct CodedPicture {
  int type = 0;
  int display = 0;
  std::int64_t bits = 0;
};

// The pictures of an MPEG-2 video stream in coding order, read from the
// picture headers (temporal_reference counts from each group's start), and the
// stuffing bits of the whole stream (zero bytes beyond a start code's prefix).
std::vector<CodedPicture> codedPictures(const std::string& path, std::int64_t& stuffingBits) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> b((std::istreambuf_iterator<char>(in)), {});
  std::vector<CodedPicture> pictures;
  stuffingBits = 0;
  int groupStart = 0, groupCount = 0;
  std::size_t zeros = 0;
  for (std::size_t i = 0; i < b.size(); ++i) {
    if (b[i] == 0) {
      ++zeros;
      continue;
    }
    const bool startCode = b[i] == 1 && zeros >= 2 && i + 1 < b.size();
    if (startCode) stuffingBits += 8 * static_cast<std::int64_t>(zeros - 2);
    if (!pictures.empty()) {
      pictures.back().bits += 8 * static_cast<std::int64_t>(startCode ? 2 : zeros) + 8;
    }
    zeros = 0;
    if (!startCode) continue;
    const std::uint8_t code = b[i + 1];
    if (code == 0xb8) {
      groupStart += groupCount;
      groupCount = 0;
    } else if (code == 0x00 && i + 3 < b.size()) {
      CodedPicture picture;
      picture.display = groupStart + ((b[i + 2] << 2) | (b[i + 3] >> 6));
      picture.type = (b[i + 3] >> 3) & 7;
      pictures.push_back(picture);
      ++groupCount;
    }
  }
  return pictures;
}

double streamMbits(const std::string& path) {
  return static_cast<double>(std::filesystem::file_size(path)) * 8 / (kFrames / 25.0) / 1e6;
}

// Processor time of this process and of its finished children.
double processorSeconds() {
  double total = 0;
  for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
    rusage usage{};
    ::getrusage(who, &usage);
    total += static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
             static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
  }
  return total;
}

// Wall and processor time of a run, each the least of kRepeats runs: on a
// shared machine the start-up of a peer process alone varies by tens of
// milliseconds, which the least of a few runs mostly removes.
struct Times {
  double wall = 0, processor = 0;
};

constexpr int kRepeats = 3;

Times timesOf(const std::function<void()>& run) {
  Times least{1e30, 1e30};
  for (int i = 0; i < kRepeats; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const double startProcessor = processorSeconds();
    run();
    least.wall =
        std::min(least.wall,
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    least.processor = std::min(least.processor, processorSeconds() - startProcessor);
  }
  return least;
}

// ms_frame and steady_ms_frame are wall time; cpu_steady_ms_frame is processor
// time, which a busy shared machine disturbs less. Per picture type: mean luma
// PSNR (I_dB, P_dB, B_dB) and mean coded kbit without stuffing (I_kbit, ...),
// and the share of the stream that is stuffing.
void reportRun(benchmark::State& state, const Clip& c, const std::string& stream, Times full,
               Times shortRun) {
  state.counters["ms_frame"] = 1000 * full.wall / kFrames;
  state.counters["steady_ms_frame"] = 1000 * (full.wall - shortRun.wall) / (kFrames - kShortFrames);
  state.counters["cpu_steady_ms_frame"] =
      1000 * (full.processor - shortRun.processor) / (kFrames - kShortFrames);
  const std::vector<double> psnrs = decodedLumaPsnrs(c, stream);
  double mean = 0;
  for (const double p : psnrs) mean += p / kFrames;
  state.counters["Y_psnr_dB"] = mean;
  state.counters["Mbit_s"] = streamMbits(stream);
  std::int64_t stuffing = 0;
  const std::vector<CodedPicture> pictures = codedPictures(stream, stuffing);
  state.counters["stuffing_pct"] =
      100.0 * static_cast<double>(stuffing) / (8.0 * std::filesystem::file_size(stream));
  for (const auto& [type, name] : {std::pair{1, "I"}, std::pair{2, "P"}, std::pair{3, "B"}}) {
    double psnr = 0, bits = 0;
    int count = 0;
    for (const CodedPicture& picture : pictures) {
      if (picture.type != type || picture.display >= static_cast<int>(psnrs.size())) continue;
      psnr += psnrs[picture.display];
      bits += static_cast<double>(picture.bits);
      ++count;
    }
    if (count == 0) continue;
    state.counters[std::string(name) + "_dB"] = psnr / count;
    state.counters[std::string(name) + "_kbit"] = bits / count / 1000;
  }
}

// Our encoder on clip `index`, with full or predictive search and with or
// without activity masking; the settings return to their defaults afterwards.
void encodeClip(benchmark::State& state, int index, bool fullSearch, bool masking) {
  const Clip& c = clip(index);
  if (c.yuv.empty()) {
    state.SkipWithError("ffmpeg could not make the clip");
    return;
  }
  quiltbench::encoder::setMotionSearchMode(fullSearch
                                               ? quiltbench::encoder::MotionSearchMode::Full
                                               : quiltbench::encoder::MotionSearchMode::Predictive);
  quiltbench::encoder::setActivityMasking(masking);
  for (const int frames : {kFrames, kShortFrames}) {
    std::ofstream par(c.file("clip" + std::to_string(frames) + ".par"));
    par << parameterFile(c, frames);
  }
  const std::string stream = c.file("ours.m2v"), shortStream = c.file("ours_short.m2v");
  // The encoder reports progress on the error stream; keep the figures readable.
  std::fflush(stderr);
  const int savedStderr = ::dup(2);
  const int devNull = ::open("/dev/null", O_WRONLY);
  Times full, shortRun;
  for (auto _ : state) {
    ::dup2(devNull, 2);
    full = timesOf([&] {
      quiltbench::encoder::encode_mpeg2_file(c.file("clip" + std::to_string(kFrames) + ".par"),
                                             stream);
    });
    shortRun = timesOf([&] {
      quiltbench::encoder::encode_mpeg2_file(c.file("clip" + std::to_string(kShortFrames) + ".par"),
                                             shortStream);
    });
    std::fflush(stderr);
    ::dup2(savedStderr, 2);
  }
  ::close(devNull);
  ::close(savedStderr);
  quiltbench::encoder::setMotionSearchMode(quiltbench::encoder::MotionSearchMode::Predictive);
  quiltbench::encoder::setActivityMasking(true);
  reportRun(state, c, stream, full, shortRun);
}

// Our encoder on clip state.range(0); state.range(1) 1 asks for full search.
void BM_Encode(benchmark::State& state) {
  encodeClip(state, static_cast<int>(state.range(0)), state.range(1) != 0, true);
}
BENCHMARK(BM_Encode)
    ->ArgNames({"clip", "full_search"})
    ->ArgsProduct({{0, 1, 2}, {0, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The same with the quantiser left to the virtual buffer alone (no activity
// masking), predictive search: the figure closest to the peer's, which masks
// nothing either by default.
void BM_EncodeWithoutMasking(benchmark::State& state) {
  encodeClip(state, static_cast<int>(state.range(0)), false, false);
}
BENCHMARK(BM_EncodeWithoutMasking)
    ->ArgName("clip")
    ->DenseRange(0, 2)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

std::string ffmpegCommand(const Clip& c, int frames, const std::string& stream) {
  return "ffmpeg -nostdin -loglevel error -threads 1 -f rawvideo -pix_fmt yuv420p -s 352x288 "
         "-r 25 -i '" +
         c.file("source.yuv") + "' -frames:v " + std::to_string(frames) +
         " -c:v mpeg2video -threads 1 -b:v 4000000 -minrate 4000000 -maxrate 4000000 -bufsize "
         "1835008 -g 12 -bf 2 -f mpeg2video -y '" +
         stream + "'";
}

void BM_FfmpegMpeg2(benchmark::State& state) {
  const Clip& c = clip(static_cast<int>(state.range(0)));
  if (c.yuv.empty()) {
    state.SkipWithError("ffmpeg could not make the clip");
    return;
  }
  const std::string stream = c.file("ffmpeg.m2v"), shortStream = c.file("ffmpeg_short.m2v");
  Times full, shortRun;
  bool failed = false;
  for (auto _ : state) {
    full = timesOf([&] { failed |= std::system(ffmpegCommand(c, kFrames, stream).c_str()) != 0; });
    shortRun = timesOf(
        [&] { failed |= std::system(ffmpegCommand(c, kShortFrames, shortStream).c_str()) != 0; });
  }
  if (failed) {
    state.SkipWithError("ffmpeg failed");
    return;
  }
  reportRun(state, c, stream, full, shortRun);
}
BENCHMARK(BM_FfmpegMpeg2)
    ->ArgName("clip")
    ->DenseRange(0, 2)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The search kernel alone: one 16x16 block over a +-15 window.
void BM_FullSearch16(benchmark::State& state) {
  const Clip& c = clip(0);
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
