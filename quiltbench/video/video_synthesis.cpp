// CGraphCutSynthesizer::SynthesizeVideo: a video made to loop. The frames go to the
// in-process encoder through files only: PPM frames in a temporary folder and a
// parameter file made from the template beside the program.
#include "quiltbench/video/video_synthesis.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

#include "platform/memory_status.h"
#include "platform/paths.h"
#include "platform/replacing_file.h"
#include "platform/ui.h"
#include "quiltbench/engine/graph_cut_synthesizer.h"
#include "quiltbench/video/encoder_entry.h"
#include "quiltbench/video/temporary_files.h"
#include "quiltbench/video/video_synthesis_internal.h"

namespace quiltbench::video {
namespace {

namespace fs = std::filesystem;

void replaceAll(std::string& text, const std::string& key, const std::string& value) {
  for (std::size_t at = text.find(key); at != std::string::npos;
       at = text.find(key, at + value.size())) {
    text.replace(at, key.size(), value);
  }
}

std::string described(const std::string& programPath) {
  const std::string host = platform::hostPath(programPath);
  return host == programPath ? programPath : programPath + " (" + host + ")";
}

// The frames folder as the programs name it, without its trailing separator.
std::string framesFolder() {
  std::string folder = kFramesFolder;
  folder.pop_back();
  return folder;
}

// Absolute, with every link and "." or ".." of the part that exists resolved, so that two
// spellings of one place compare equal.
fs::path resolvedHostPath(const std::string& programPath) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(platform::hostPath(programPath), ec);
  if (ec) return fs::path(platform::hostPath(programPath)).lexically_normal();
  const fs::path resolved = fs::weakly_canonical(absolute, ec);
  return ec ? absolute.lexically_normal() : resolved;
}

bool isWithin(const fs::path& path, const fs::path& folder) {
  return std::mismatch(folder.begin(), folder.end(), path.begin(), path.end()).first ==
         folder.end();
}

// The run removes its temporary area when it ends, so a result there would be lost.
void checkOutputOutsideTemporaryArea(const std::string& output) {
  const fs::path target = resolvedHostPath(output);
  if (target == resolvedHostPath(kParameterFile) ||
      isWithin(target, resolvedHostPath(framesFolder())))
    throw VideoSynthesisError("the output " + output + " lies in the run's temporary files (" +
                              kParameterFile + ", " + kFramesFolder +
                              "), which go when the run ends; name another file");
}

// Whatever is at the temporary paths is not this run's: writing there and removing it
// afterwards would destroy someone's files. An empty frames folder is used and kept.
void checkTemporaryAreaIsFree() {
  std::error_code ec;
  const std::string parameterFile = platform::hostPath(kParameterFile);
  if (fs::symlink_status(parameterFile, ec).type() != fs::file_type::not_found)
    throw VideoSynthesisError(described(kParameterFile) +
                              " is there already; the run writes its encoder parameters to "
                              "that file. Move it away and try again");
  const std::string folder = platform::hostPath(framesFolder());
  const fs::file_type type = fs::symlink_status(folder, ec).type();
  if (type == fs::file_type::not_found) return;
  if (type != fs::file_type::directory)
    throw VideoSynthesisError(described(framesFolder()) +
                              " is in the way of the run's frames folder; move it away and "
                              "try again");
  if (!fs::is_empty(folder, ec) || ec)
    throw VideoSynthesisError("the folder " + described(kFramesFolder) +
                              " already holds files; the run keeps its frames there. Move "
                              "them away and try again");
}

// A new file beside the output, made and removed at once: it proves the output can be
// written before any work is done for it.
void checkOutputCanBeCreated(const std::string& output) {
  SignalsHeld held;
  platform::ReplacingFile probe(output);
  if (!probe.valid())
    throw VideoSynthesisError("the output " + output + " cannot be written: " + probe.error());
}

[[noreturn]] void fileFailure(const std::string& what, const std::string& hostPath, int error) {
  const std::string why = error == EEXIST ? "it is there already, perhaps as a link"
                                          : std::string(std::strerror(error));
  throw VideoSynthesisError("cannot write " + what + " " + hostPath + ": " + why);
}

bool writeAll(int fd, const void* data, std::size_t size) {
  const char* at = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = write(fd, at, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    at += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Writes `bytes` to a new file of the run, which then belongs to `files`.
template <typename WriteTo>
void writeRunFile(CreatedFiles& files, const std::string& what, const std::string& hostPath,
                  WriteTo&& writeTo) {
  const int fd = files.createFile(hostPath);
  if (fd < 0) fileFailure(what, hostPath, errno);
  bool ok = writeTo(fd);
  int error = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (!ok) fileFailure(what, hostPath, error);
}

// The statistics file that the parameter text names (the first word of its sixth line),
// when it lies in the frames folder: the run makes it, so that it is the run's to remove.
std::optional<std::string> statisticsFileInFramesFolder(const std::string& parameters) {
  std::istringstream lines(parameters);
  std::string line;
  for (int k = 0; k < 6; ++k)
    if (!std::getline(lines, line)) return std::nullopt;
  std::istringstream words(line);
  std::string name;
  if (!(words >> name) || name[0] == '-') return std::nullopt;
  if (!isWithin(resolvedHostPath(name), resolvedHostPath(framesFolder()))) return std::nullopt;
  return platform::hostPath(name);
}

std::size_t separatorCount(const std::string& path) {
  return static_cast<std::size_t>(std::count(path.begin(), path.end(), '/'));
}

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

bool writePpm(int fd, int width, int height, const std::uint8_t* rgb) {
  char header[64];
  const int length = std::snprintf(header, sizeof header, "P6\n%d %d\n255\n", width, height);
  return writeAll(fd, header, static_cast<std::size_t>(length)) &&
         writeAll(fd, rgb, static_cast<std::size_t>(width) * height * 3);
}

void writePpmFrame(const std::string& path, int width, int height, const std::uint8_t* rgb) {
  CreatedFiles files(1);
  writeRunFile(files, "the frame file", platform::hostPath(path),
               [&](int fd) { return writePpm(fd, width, height, rgb); });
  files.forget(0);
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
  const std::string result = videoOutputPath(output);
  // Checked before anything is decoded: the encoder would replace the source.
  if (platform::sameFile(input, result))
    throw VideoSynthesisError("the output " + result +
                              " is the input video itself; name another file");
  checkOutputOutsideTemporaryArea(result);
  checkOutputCanBeCreated(result);
  checkTemporaryAreaIsFree();

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

  const OutputWindow window = outputWindow(*transition, video.count() - 1);
  ui.progress("Blending frames " + std::to_string(window.end) + "-" +
              std::to_string(window.end + kBlendFrames - 1) + " into frames " +
              std::to_string(window.start) + "-" + std::to_string(window.start + kBlendFrames - 1));
  BlendCut cut = blendCut(video, window);

  // From here on every file the run makes is recorded, and goes when the run ends,
  // however it ends; nothing else is ever removed.
  const std::string folder = platform::hostPath(kFramesFolder);
  // The folders, the frames, the parameter and statistics files and the new output.
  CreatedFiles files(separatorCount(folder) + static_cast<std::size_t>(window.outputCount()) + 3);
  if (!files.createFolders(folder))
    throw VideoSynthesisError("cannot create the folder " + described(kFramesFolder) + ": " +
                              std::strerror(errno));
  int written = 0;
  composeOutputFrames(video, window, cut.labels, [&](const std::uint8_t* rgb) {
    writeRunFile(files, "the frame file", platform::hostPath(frameFileName(written)),
                 [&](int fd) { return writePpm(fd, width, height, rgb); });
    ++written;
  });
  // The encoder needs its own memory; the frames are on disk now.
  video = VideoFrames();
  cut = BlendCut();

  const std::string parameters =
      instantiateParameterTemplate(readParameterTemplate(), width, height, written);
  writeRunFile(files, "the parameter file", platform::hostPath(kParameterFile),
               [&](int fd) { return writeAll(fd, parameters.data(), parameters.size()); });
  if (const auto statistics = statisticsFileInFramesFolder(parameters)) {
    writeRunFile(files, "the encoder's statistics file", *statistics, [](int) { return true; });
  }

  std::optional<platform::ReplacingFile> target;
  std::size_t targetSlot = 0;
  {
    SignalsHeld held;
    target.emplace(result);
    if (!target->valid())
      throw VideoSynthesisError("the output " + result + " cannot be written: " + target->error());
    targetSlot = files.adopt(target->temporaryPath());
  }
  ui.progress("Encoding " + std::to_string(written) + " frames into " + result);
  try {
    quiltbench::encoder::RecoverableEncoderErrors recoverable;
    quiltbench::encoder::encode_mpeg2_file(kParameterFile, *target);
  } catch (const quiltbench::encoder::EncoderFatalError& e) {
    std::string reason = e.what();
    while (!reason.empty() && reason.back() == '\n') reason.pop_back();
    throw VideoSynthesisError("the encoder stopped: " + reason);
  }
  files.forget(targetSlot);
  return 1;
}
