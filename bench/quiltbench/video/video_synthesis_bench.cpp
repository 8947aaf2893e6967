// The looping-video command on a 100-frame 352x288 clip, stage by stage (decoding,
// pair scoring, the blend cut, frame writing, encoding) and whole, with the peak
// resident memory of the whole command. The clip is made once by our encoder from a
// drifting colour pattern with two dark frames, so the loop's window is fixed.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "quiltbench/engine/graph_cut_synthesizer.h"
#include "quiltbench/video/encoder_entry.h"
#include "quiltbench/video/video_synthesis.h"
#include "quiltbench/video/video_synthesis_internal.h"

namespace {

namespace fs = std::filesystem;
using namespace quiltbench::video;

constexpr int kWidth = 352, kHeight = 288, kFrames = 100;

// Drive C, the working directory and the template's folder in one scratch folder,
// removed at exit; the input clip on drive C.
struct Workspace {
  fs::path root;
  std::string clip = "C:\\input.m2v";

  Workspace() {
    root = fs::temp_directory_path() / ("video_synthesis_bench_" + std::to_string(::getpid()));
    fs::create_directories(root / "c");
    fs::create_directories(root / "work");
    fs::create_directories(root / "Mpeg2Enc");
    const std::string here = __FILE__;
    const fs::path source = here.substr(0, here.rfind("bench/quiltbench/video/"));
    fs::copy_file(source / "Mpeg2Enc" / "_MPEG.par", root / "Mpeg2Enc" / "_MPEG.par");
    setenv("WORKBENCH_DRIVE_C", (root / "c").c_str(), 1);
    fs::current_path(root / "work");
    encodeClip();
  }
  ~Workspace() {
    std::error_code ec;
    fs::current_path(fs::temp_directory_path(), ec);
    fs::remove_all(root, ec);
  }

  static VideoFrames frames() {
    VideoFrames video;
    video.width = kWidth;
    video.height = kHeight;
    for (int t = 0; t < kFrames; ++t) {
      const double light = 1 - 0.5 * std::exp(-(t - 30) * (t - 30) / 2.0) -
                           0.5 * std::exp(-(t - 75) * (t - 75) / 2.0);
      std::vector<std::uint8_t> frame(video.frameBytes());
      for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
          for (int c = 0; c < 3; ++c) {
            const double v =
                128 + 60 * std::sin((x + 1.5 * t) / 9.0 + c) * std::cos((y - t) / 13.0 + 2 * c) +
                30 * std::sin((x + y + 2 * t) / 4.0 + c);
            frame[(static_cast<std::size_t>(y) * kWidth + x) * 3 + c] =
                static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 255.0) * light));
          }
        }
      }
      video.frames.push_back(std::move(frame));
    }
    return video;
  }

  // Through the program's own frame files and template.
  void encodeClip() const {
    const VideoFrames video = frames();
    writeFrames(video.count(), [&](int t) { return video.frames[t].data(); });
    writeParameters(video.count());
    quiltbench::encoder::encode_mpeg2_file(kParameterFile, clip);
    removeTemporaries();
  }

  template <typename FrameAt>
  static void writeFrames(int count, FrameAt frameAt) {
    platform::makeSureDirectoryPathExists(kFramesFolder);
    for (int t = 0; t < count; ++t) writePpmFrame(frameFileName(t), kWidth, kHeight, frameAt(t));
  }
  static void writeParameters(int count) {
    std::ofstream par(platform::hostPath(kParameterFile), std::ios::binary);
    par << instantiateParameterTemplate(readParameterTemplate(), kWidth, kHeight, count);
  }
  static void removeTemporaries() {
    platform::removeFile(kParameterFile);
    platform::removeTree("c:\\_FrameData");
  }
};

Workspace& workspace() {
  static Workspace w;
  return w;
}

struct Decoded {
  VideoFrames video;
  Transition jump;
  OutputWindow window;
};

const Decoded& decoded() {
  static const Decoded d = [] {
    Decoded d;
    d.video = decodeMpegVideo(workspace().clip);
    d.jump = *loopTransition(d.video);
    d.window = outputWindow(d.jump, d.video.count() - 1);
    return d;
  }();
  return d;
}

void BM_Decode(benchmark::State& state) {
  const std::string clip = workspace().clip;
  int frames = 0;
  for (auto _ : state) {
    const VideoFrames video = decodeMpegVideo(clip);
    frames = video.count();
    benchmark::DoNotOptimize(video.frames.data());
  }
  state.counters["frames"] = frames;
  state.counters["frames/s"] =
      benchmark::Counter(frames, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_PairScores(benchmark::State& state) {
  const VideoFrames& video = decoded().video;
  const ProductKernel kernel = static_cast<ProductKernel>(state.range(0));
  std::optional<Transition> t;
  for (auto _ : state) {
    t = loopTransition(video, kernel);
    benchmark::DoNotOptimize(t);
  }
  const int n = video.count();
  const double pairs = static_cast<double>(n - 10) * (n - 9) / 2;
  state.counters["pairs"] = pairs;
  state.SetBytesProcessed(
      static_cast<std::int64_t>(state.iterations() * pairs * 2 * video.frameBytes()));
  state.SetLabel("jump " + std::to_string(t->to) + " -> " + std::to_string(t->from));
}

void BM_BlendCut(benchmark::State& state) {
  const Decoded& d = decoded();
  float flow = 0;
  for (auto _ : state) {
    const BlendCut cut = blendCut(d.video, d.window);
    flow = cut.flow;
    benchmark::DoNotOptimize(cut.labels.data());
  }
  const double plane = static_cast<double>(kWidth) * kHeight;
  state.counters["nodes"] = 10 * plane;
  state.counters["edges"] = 9 * plane + 10 * (kHeight * (kWidth - 1.0) + kWidth * (kHeight - 1.0));
  state.counters["flow"] = flow;
}

void BM_WriteFrames(benchmark::State& state) {
  const Decoded& d = decoded();
  const BlendCut cut = blendCut(d.video, d.window);
  int written = 0;
  for (auto _ : state) {
    platform::makeSureDirectoryPathExists(kFramesFolder);
    written = 0;
    composeOutputFrames(d.video, d.window, cut.labels, [&](const std::uint8_t* rgb) {
      writePpmFrame(frameFileName(written), kWidth, kHeight, rgb);
      ++written;
    });
    state.PauseTiming();
    Workspace::removeTemporaries();
    state.ResumeTiming();
  }
  state.counters["frames"] = written;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * written *
                          d.video.frameBytes());
}

void BM_Encode(benchmark::State& state) {
  const Decoded& d = decoded();
  const BlendCut cut = blendCut(d.video, d.window);
  std::vector<std::vector<std::uint8_t>> out;
  composeOutputFrames(d.video, d.window, cut.labels, [&](const std::uint8_t* rgb) {
    out.emplace_back(rgb, rgb + d.video.frameBytes());
  });
  Workspace::writeFrames(static_cast<int>(out.size()), [&](int t) { return out[t].data(); });
  Workspace::writeParameters(static_cast<int>(out.size()));
  for (auto _ : state) quiltbench::encoder::encode_mpeg2_file(kParameterFile, "C:\\encoded.m2v");
  Workspace::removeTemporaries();
  state.counters["frames"] = static_cast<double>(out.size());
  state.counters["frames/s"] = benchmark::Counter(static_cast<double>(out.size()),
                                                  benchmark::Counter::kIsIterationInvariantRate);
}

// Peak resident memory in MB since the last reset (VmHWM), with the reset.
double peakResidentMegabytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  }
  return -1;
}
void resetPeakResident() { std::ofstream("/proc/self/clear_refs") << "5"; }

double residentMegabytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  }
  return -1;
}

void BM_WholeCommand(benchmark::State& state) {
  const std::string clip = workspace().clip;
  double peak = 0, before = 0;
  for (auto _ : state) {
    state.PauseTiming();
    before = residentMegabytes();
    resetPeakResident();
    state.ResumeTiming();
    CGraphCutSynthesizer engine;
    engine.SynthesizeVideo(clip, "C:\\loop.mpg");
    state.PauseTiming();
    peak = peakResidentMegabytes();
    state.ResumeTiming();
  }
  state.counters["peak_MB"] = peak;
  state.counters["resident_before_MB"] = before;
}

BENCHMARK(BM_Decode)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PairScores)
    ->Arg(static_cast<int>(ProductKernel::portable))
    ->Arg(static_cast<int>(ProductKernel::sse2))
    ->Arg(static_cast<int>(bestProductKernel()))
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlendCut)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_WriteFrames)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Encode)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_WholeCommand)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
