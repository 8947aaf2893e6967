// CGraphCutSynthesizer::SynthesizeVideo: a video made to loop. The frames go to the
// in-process encoder through files only: PPM frames in a temporary folder and a
// parameter file made from the template beside the program.
#include "quiltbench/video/video_synthesis.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>

#include "platform/file.h"
#include "platform/memory_status.h"
#include "platform/paths.h"
#include "platform/replacing_file.h"
#include "platform/ui.h"
#include "quiltbench/engine/graph_cut_synthesizer.h"
#include "quiltbench/video/encoder_entry.h"
#include "quiltbench/video/video_synthesis_internal.h"

namespace quiltbench::video {
namespace {

[[noreturn]] void frameFileFailure(const std::string& path) {
  std::fprintf(stderr, "Cannot write the frame file %s\n", path.c_str());
  std::exit(1);
}

void replaceAll(std::string& text, const std::string& key, const std::string& value) {
  for (std::size_t at = text.find(key); at != std::string::npos;
       at = text.find(key, at + value.size())) {
    text.replace(at, key.size(), value);
  }
}

void removeTemporaryFiles() {
  platform::removeFile(kParameterFile);
  // The folder without its trailing separator, as the shell's delete takes it.
  std::string folder = kFramesFolder;
  folder.pop_back();
  platform::removeTree(folder);
}

bool g_temporaryFilesExist = false;

// The encoder and the frame writer end the process on their fatal errors, past every
// destructor; the files of the run in progress go then too.
void removeTemporaryFilesAtExit() {
  if (g_temporaryFilesExist) removeTemporaryFiles();
}

// The parameter file and the frames folder go when the run ends, however it ends.
class TemporaryFiles {
 public:
  TemporaryFiles() {
    static const bool registered = std::atexit(removeTemporaryFilesAtExit) == 0;
    (void)registered;
    g_temporaryFilesExist = true;
  }
  ~TemporaryFiles() {
    removeTemporaryFiles();
    g_temporaryFilesExist = false;
  }
  TemporaryFiles(const TemporaryFiles&) = delete;
  TemporaryFiles& operator=(const TemporaryFiles&) = delete;
};

// Byte products a second that the pair scoring manages on one core.
constexpr double kScoredBytesPerSecond = 2.5e10;

std::string megabytes(std::uint64_t bytes) { return std::to_string(bytes >> 20) + " MB"; }

// The frames are in memory once decoded; what is left to fit is the blend cut. Shows
// the estimates, and refuses before the scoring when the cut cannot fit `budget` (0:
// the memory the machine has available).
void checkTheWorkFits(const VideoFrames& video, std::uint64_t budget) {
  const double n = video.count();
  const double pairs =
      n > kMinimumJumpLength ? (n - kMinimumJumpLength) * (n - kMinimumJumpLength + 1) / 2 : 0;
  const double seconds = pairs * static_cast<double>(video.frameBytes()) / kScoredBytesPerSecond;
  const std::uint64_t cut = blendCutBytes(video.width, video.height);
  const std::uint64_t held = video.frameBytes() * video.frames.size();
  platform::ui().progress("Holding " + megabytes(held) + " of frames; scoring " +
                          std::to_string(static_cast<long long>(pairs)) +
                          " frame pairs takes about " +
                          std::to_string(static_cast<long long>(seconds + 0.5)) +
                          " s; the blend cut needs about " + megabytes(cut));
  if (budget == 0) budget = platform::availablePhysicalMemory();
  if (budget != 0 && cut > budget)
    throw VideoSynthesisError("the blend cut of frames of " + std::to_string(video.width) + "x" +
                              std::to_string(video.height) + " needs about " + megabytes(cut) +
                              " of memory and " + megabytes(budget) + " is available");
}

}  // namespace

void writePpmFrame(const std::string& path, int width, int height, const std::uint8_t* rgb) {
  std::FILE* file = platform::openStdFile(path, "wb");
  if (file == nullptr) frameFileFailure(path);
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
  bool ok = std::fprintf(file, "P6\n%d %d\n255\n", width, height) > 0;
  ok = ok && std::fwrite(rgb, rowBytes, static_cast<std::size_t>(height), file) ==
                 static_cast<std::size_t>(height);
  if (std::fclose(file) != 0 || !ok) frameFileFailure(path);
}

std::string frameFileName(int index) {
  char name[64];
  std::snprintf(name, sizeof name, "%s%d.ppm", kFramesFolder, index);
  return name;
}

std::string instantiateParameterTemplate(std::string text, int width, int height, int frameCount) {
  auto spaced = [](int value) { return " " + std::to_string(value) + " "; };
  replaceAll(text, "%width%", spaced(width));
  replaceAll(text, "%height%", spaced(height));
  replaceAll(text, "%framenum%", spaced(frameCount));
  return text;
}

std::string readParameterTemplate() {
  const std::string path = platform::besideProgram(kParameterTemplate);
  std::ifstream in(path, std::ios::binary);
  if (!in) throw VideoSynthesisError("cannot read the encoder parameter template " + path);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw VideoSynthesisError("cannot read the encoder parameter template " + path);
  return text;
}

}  // namespace quiltbench::video

int CGraphCutSynthesizer::SynthesizeVideo(const std::string& input, const std::string& output) {
  using namespace quiltbench::video;
  platform::Ui& ui = platform::ui();
  // Checked before anything is decoded: the encoder would replace the source.
  if (platform::sameFile(input, videoOutputPath(output)))
    throw VideoSynthesisError("the output " + videoOutputPath(output) +
                              " is the input video itself; name another file");

  ui.progress("Decoding " + input);
  VideoFrames video = decodeMpegVideo(input);
  if (video.frames.empty()) throw VideoSynthesisError("no frame could be decoded from " + input);
  checkTheWorkFits(video, m_nMemoryBudget);
  const std::optional<Transition> transition = loopTransition(video);
  if (!transition) {
    throw VideoSynthesisError("a loop needs at least " + std::to_string(kMinimumJumpLength + 1) +
                              " frames, the video has " + std::to_string(video.count()));
  }
  if (!blendCutFits(video.width, video.height)) {
    throw VideoSynthesisError("frames of " + std::to_string(video.width) + "x" +
                              std::to_string(video.height) + " are too large to blend");
  }
  const int width = video.width, height = video.height;
  ui.progress(std::to_string(video.count()) + " frames of " + std::to_string(width) + "x" +
              std::to_string(height) + "; the loop jumps from frame " +
              std::to_string(transition->to) + " back to frame " +
              std::to_string(transition->from));

  if (!platform::makeSureDirectoryPathExists(kFramesFolder)) {
    throw VideoSynthesisError(std::string("cannot create the folder ") + kFramesFolder);
  }
  TemporaryFiles temporaryFiles;

  const OutputWindow window = outputWindow(*transition, video.count() - 1);
  ui.progress("Blending frames " + std::to_string(window.end) + "-" +
              std::to_string(window.end + kBlendFrames - 1) + " into frames " +
              std::to_string(window.start) + "-" + std::to_string(window.start + kBlendFrames - 1));
  BlendCut cut = blendCut(video, window);
  int written = 0;
  composeOutputFrames(video, window, cut.labels, [&](const std::uint8_t* rgb) {
    writePpmFrame(frameFileName(written), width, height, rgb);
    ++written;
  });
  // The encoder needs its own memory; the frames are on disk now.
  video = VideoFrames();
  cut = BlendCut();

  const std::string parameters =
      instantiateParameterTemplate(readParameterTemplate(), width, height, written);
  {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
        platform::openStdFile(kParameterFile, "wb"), &std::fclose);
    if (!file ||
        std::fwrite(parameters.data(), 1, parameters.size(), file.get()) != parameters.size() ||
        std::fclose(file.release()) != 0) {
      throw VideoSynthesisError(std::string("cannot write the parameter file ") + kParameterFile);
    }
  }

  const std::string result = videoOutputPath(output);
  ui.progress("Encoding " + std::to_string(written) + " frames into " + result);
  quiltbench::encoder::encode_mpeg2_file(kParameterFile, result);
  return 1;
}
