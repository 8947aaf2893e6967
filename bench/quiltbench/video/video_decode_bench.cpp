// What decoding in a child process costs besides the decoding: starting the child and
// carrying 720x576 frames back over the pipe, and the program-stream demultiplexer on
// a stream of 2048-byte packs.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "quiltbench/video/decode_child.h"
#include "quiltbench/video/mpeg_demux.h"

namespace {

using namespace quiltbench::video;

void BM_ChildFrameTransfer(benchmark::State& state) {
  const int frames = static_cast<int>(state.range(0));
  DecodeLimits limits;
  limits.width = 720;
  limits.height = 576;
  limits.maxFrames = frames;
  limits.childExtraAddressSpace = std::uint64_t{256} << 20;
  limits.cpuSeconds = 30;
  limits.silenceSeconds = 30;
  const std::vector<std::uint8_t> frame(720 * 576 * 3, 128);
  for (auto _ : state) {
    const VideoFrames video = framesFromChild(
        [&](FrameChannel& out) {
          out.sendSize(720, 576);
          for (int k = 0; k < frames; ++k) out.sendFrame(frame.data(), frame.size());
          out.sendEnd(frames);
        },
        limits);
    benchmark::DoNotOptimize(video.frames.data());
  }
  state.SetBytesProcessed(state.iterations() * frames * static_cast<std::int64_t>(frame.size()));
}
BENCHMARK(BM_ChildFrameTransfer)->Arg(0)->Arg(100)->Unit(benchmark::kMillisecond)->UseRealTime();

// MPEG-2 packs of 2048 bytes, each with one video packet, as DVD authoring tools write.
std::vector<std::uint8_t> programStream(std::size_t packs) {
  std::vector<std::uint8_t> stream;
  const std::uint8_t pack[] = {0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04,
                               0x00, 0x04, 0x01, 0x01, 0x89, 0xC3, 0xF8};
  const std::size_t payload = 2048 - sizeof pack - 6 - 3;
  for (std::size_t p = 0; p < packs; ++p) {
    stream.insert(stream.end(), pack, pack + sizeof pack);
    const std::size_t length = payload + 3;
    const std::uint8_t pes[] = {0x00,
                                0x00,
                                0x01,
                                0xE0,
                                static_cast<std::uint8_t>(length >> 8),
                                static_cast<std::uint8_t>(length),
                                0x81,
                                0x00,
                                0x00};
    stream.insert(stream.end(), pes, pes + sizeof pes);
    for (std::size_t k = 0; k < payload; ++k) stream.push_back(static_cast<std::uint8_t>(k * 7));
  }
  return stream;
}

void BM_DemuxProgramStream(benchmark::State& state) {
  const std::vector<std::uint8_t> stream = programStream(16384);  // 32 MB
  for (auto _ : state) {
    const DemuxResult result = demuxProgramStream(stream);
    benchmark::DoNotOptimize(result.video.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(stream.size()));
}
BENCHMARK(BM_DemuxProgramStream)->Unit(benchmark::kMillisecond);

}  // namespace
