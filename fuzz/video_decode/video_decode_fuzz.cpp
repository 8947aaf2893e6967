// Feeds arbitrary bytes to the decoding path as a video file would reach it: the container
// check and demultiplexer, the sequence header's size, and the decoder in its child
// process. Whatever the decoder does in the child, the program's process must end with
// frames of the announced size or an error, never a crash.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "quiltbench/video/video_decode.h"
#include "quiltbench/video/video_synthesis.h"

namespace qv = quiltbench::video;

namespace {

// The encoder's Main Level; larger sizes are refused before decoding.
constexpr int kMaxWidth = 720;
constexpr int kMaxHeight = 576;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    const std::vector<std::uint8_t> stream =
        qv::videoElementaryStream(std::vector<std::uint8_t>(data, data + size), "fuzz input");
    const auto picture = qv::firstSequencePictureSize(stream);
    if (!picture || picture->width > kMaxWidth || picture->height > kMaxHeight) return 0;
    const qv::VideoFrames video = qv::decodeVideoStream(stream, *picture, "fuzz input");
    for (const auto& frame : video.frames) {
      if (frame.size() != video.frameBytes()) std::abort();
    }
    if (!video.frames.empty() && (video.width != picture->width || video.height != picture->height))
      std::abort();
  } catch (const qv::VideoSynthesisError&) {
  }
  return 0;
}
