// Looping videos: what the callers of CGraphCutSynthesizer::SynthesizeVideo need besides
// the member itself (its failure type and the path its result goes to).
//
// SynthesizeVideo(input, output) decodes the MPEG video at `input`, picks the loop's jump,
// hides it with a spatio-temporal graph cut, and encodes the looping video as an MPEG-2
// stream at `output` (".\MPEG_Result.mpg" when empty). It returns 1. Every failure throws
// VideoSynthesisError with the reason: a video it cannot use (unopenable, another
// container than an MPEG video or program stream, a picture size the encoder cannot take,
// a stream the decoder dies or stalls on, no decodable frame, fewer than 11 frames, too
// large for the cut), an output it cannot write or that
// lies among its temporary files, temporary paths that already hold something, a frame
// or parameter file that cannot be written, a missing template and every encoder error.
// The output is replaced only by a complete stream. The run removes exactly the files and
// folders it made, on every way out, SIGINT, SIGTERM and SIGHUP included.
#pragma once

#include <stdexcept>
#include <string>

namespace quiltbench::video {

class VideoSynthesisError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Where the result goes when no output path is given.
inline constexpr const char* kDefaultVideoOutputPath = ".\\MPEG_Result.mpg";

// The path SynthesizeVideo writes for the output path it was given.
inline std::string videoOutputPath(const std::string& output) {
  return output.empty() ? std::string(kDefaultVideoOutputPath) : output;
}

}  // namespace quiltbench::video
