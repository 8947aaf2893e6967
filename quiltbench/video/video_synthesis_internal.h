// The stages of the looping-video pipeline, one function each, so that each can be run
// and checked on its own: decoding, pair scoring, the output window, the blend cut, the
// output frames, and the encoder's parameter file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quiltbench::video {

// Temporary files, as the program names them.
inline constexpr const char* kFramesFolder = "c:\\_FrameData\\";
inline constexpr const char* kParameterFile = "C:\\_MPEG.par";
inline constexpr const char* kParameterTemplate = "..\\Mpeg2Enc\\_MPEG.par";

// Decoded frames, all of one size: each `width` x `height` pixels of 3 bytes R, G, B,
// top row first, rows packed.
struct VideoFrames {
  int width = 0;
  int height = 0;
  std::vector<std::vector<std::uint8_t>> frames;

  std::size_t frameBytes() const { return static_cast<std::size_t>(width) * height * 3; }
  int count() const { return static_cast<int>(frames.size()); }
};

// Decodes every completely decoded picture of the MPEG-1/2 video at `path` (a program
// path): a video elementary stream, or the first video stream of an MPEG-1 system or
// MPEG-2 program stream. Frames have the picture size of the first sequence header;
// decoding stops at a later sequence of another size. The decoder runs in a child
// process under memory and time limits. Throws VideoSynthesisError with the reason when
// the file cannot be read, is another container, has no sequence header, has a picture
// size the encoder cannot take, or when the decoder dies, hits a limit or sends anything
// else than such frames; a stream without a decodable picture gives no frames.
VideoFrames decodeMpegVideo(const std::string& path);

// The loop's jump: show frame `from` again after frame `to`.
struct Transition {
  int from = 0;
  int to = 0;
  double score = 0;
};

// Frames closer than this are never joined.
inline constexpr int kMinimumJumpLength = 10;

enum class ProductKernel { portable, sse2, avx2 };
ProductKernel bestProductKernel();

// Sum of a[k] * b[k] over n bytes.
std::uint64_t byteProductSum(const std::uint8_t* a, const std::uint8_t* b, std::size_t n,
                             ProductKernel kernel = bestProductKernel());

// score(j, i) = sum over all pixels of Rj Ri + Gj Gi + Bj Bi, for every pair with
// i >= j + 10, as exact integers; row-major count x count, other entries 0.
std::vector<std::uint64_t> pairScores(const VideoFrames& video,
                                      ProductKernel kernel = bestProductKernel());

// The pair whose frames differ least (score: the sum of squared sample differences,
// |j|^2 + |i|^2 - 2 j.i from the product sums), the first in (j, i) order among equals;
// none when the video has no two frames 10 apart. The lowest product sum alone would pick
// the darkest pair, not a pair that joins without a visible jump.
std::optional<Transition> loopTransition(const VideoFrames& video,
                                         ProductKernel kernel = bestProductKernel());

// Number of frames in the blended window.
inline constexpr int kBlendFrames = 10;

// The frames around the jump: run B is start .. start + 9, run A is end .. end + 9.
struct OutputWindow {
  int start = 0;
  int end = 0;
  // Frames start + 10 .. end - 1, played before the window; none when the runs overlap.
  int unchangedCount() const {
    return end - start - kBlendFrames > 0 ? end - start - kBlendFrames : 0;
  }
  int outputCount() const { return unchangedCount() + kBlendFrames; }
};

// The window for transition `t` in a video whose last frame is `lastIndex`; needs
// t.to >= t.from + 10 and t.to <= lastIndex.
OutputWindow outputWindow(const Transition& t, int lastIndex);

// Label of one window pixel.
enum BlendLabel : std::uint8_t { kRunA = 0, kRunB = 1 };

struct BlendCut {
  // kBlendFrames x height x width labels, frame-major then row-major.
  std::vector<std::uint8_t> labels;
  float flow = 0;
};

// Graph sizes of the cut for a width x height window; false when they do not fit the
// graph's indexes.
bool blendCutFits(int width, int height);

// Peak bytes of the cut's graph and labels for a width x height window (nodes, arcs and
// the packed copy of the arcs that the max-flow run makes).
std::uint64_t blendCutBytes(int width, int height);

// Cuts the window between run A and run B: frame 0 of the window is tied to run A and
// frame 9 to run B, every other pixel takes the side the minimum cut gives it. The
// video must hold frames up to window.end + 9 and fit blendCutFits.
BlendCut blendCut(const VideoFrames& video, const OutputWindow& window);

// Produces the output frames in order, each as width x height x 3 bytes: the unchanged
// frames, then the 10 blended frames (a pixel of blended frame k comes from frame
// end + k under run A, from frame start + k under run B). Returns the number produced.
using FrameSink = std::function<void(const std::uint8_t* rgb)>;
int composeOutputFrames(const VideoFrames& video, const OutputWindow& window,
                        const std::vector<std::uint8_t>& labels, const FrameSink& sink);

// Writes one binary PPM frame ("P6\n%d %d\n255\n", then the rows) to the open file `fd`;
// false, with errno, when a write fails.
bool writePpm(int fd, int width, int height, const std::uint8_t* rgb);

// Writes one binary PPM frame to a new file at `path` (a program path), never through a
// link nor over a file that is there already. Throws VideoSynthesisError naming the file
// when it cannot be created or written; a file it made and could not finish is removed.
void writePpmFrame(const std::string& path, int width, int height, const std::uint8_t* rgb);

// The file name of output frame `index` in the frames folder.
std::string frameFileName(int index);

// The template with every "%width%", "%height%" and "%framenum%" replaced by the number
// with a blank on each side.
std::string instantiateParameterTemplate(std::string text, int width, int height, int frameCount);

// The template file's text (found beside the program); throws VideoSynthesisError when
// it cannot be read.
std::string readParameterTemplate();

}  // namespace quiltbench::video
