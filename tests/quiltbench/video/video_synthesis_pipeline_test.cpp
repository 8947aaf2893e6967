// SynthesizeVideo end to end on small clips made at test time, by our encoder and by
// ffmpeg's: the input is decoded as ffmpeg decodes it, the looping result decodes with
// ffmpeg to the expected number of frames, its loop jump is smooth, and no temporary
// file is left behind. Also the videos it must refuse.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "platform/recording_ui.h"
#include "platform/ui.h"
#include "quiltbench/engine/graph_cut_synthesizer.h"
#include "quiltbench/video/encoder_entry.h"
#include "quiltbench/video/video_synthesis.h"
#include "quiltbench/video/video_synthesis_internal.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace quiltbench::video;

fs::path sourceRoot() {
  const std::string file = __FILE__;
  return file.substr(0, file.rfind("tests/quiltbench/video/"));
}

// Drive C in a scratch folder, the working directory beside the template's folder, so
// that "..\Mpeg2Enc\_MPEG.par" is found as it is beside the program.
class VideoSynthesisPipeline : public ::testing::Test {
 protected:
  VideoSynthesisPipeline() {
    fs::create_directories(drive());
    fs::create_directories(work());
    fs::create_directories(root_.path() / "Mpeg2Enc");
    fs::copy_file(sourceRoot() / "Mpeg2Enc" / "_MPEG.par", root_.path() / "Mpeg2Enc" / "_MPEG.par");
    drive_.emplace(drive().string());
    cwd_.emplace(work());
  }
  fs::path drive() const { return root_.path() / "c"; }
  fs::path work() const { return root_.path() / "work"; }
  fs::path scratch() const { return root_.path(); }
  void removeTemplate() { fs::remove_all(root_.path() / "Mpeg2Enc"); }

  static bool temporaryFilesRemain() {
    return platform::pathExists(kParameterFile) || platform::pathExists("c:\\_FrameData");
  }

  platform::RecordingUi ui_;  // keeps the progress lines off the test's output

 private:
  test_support::TempDir root_;
  std::optional<test_support::ScopedDriveC> drive_;
  std::optional<test_support::ScopedWorkingDirectory> cwd_;
  platform::ScopedUi scopedUi_{ui_};
};

// Two dark frames 11 apart (6 and 17) make the lowest-scoring pair, so the window is
// known; over everything drifts a smooth colour pattern, slowly enough that neighbouring
// frames are close and frames 11 apart are not.
VideoFrames syntheticVideo(int width, int height, int count) {
  VideoFrames video;
  video.width = width;
  video.height = height;
  for (int t = 0; t < count; ++t) {
    const double light =
        1 - 0.5 * std::exp(-(t - 6) * (t - 6) / 2.0) - 0.5 * std::exp(-(t - 17) * (t - 17) / 2.0);
    std::vector<std::uint8_t> frame(video.frameBytes());
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        for (int c = 0; c < 3; ++c) {
          const double v =
              128 + 60 * std::sin((x + t) / 5.0 + c) + 40 * std::cos((y - t) / 7.0 + 2 * c);
          frame[(static_cast<std::size_t>(y) * width + x) * 3 + c] =
              static_cast<std::uint8_t>(std::lround(v * light));
        }
      }
    }
    video.frames.push_back(std::move(frame));
  }
  return video;
}

// Through the program's own frame files and template, as the pipeline itself encodes.
void encodeWithOurEncoder(const VideoFrames& video, const std::string& clip) {
  ASSERT_TRUE(platform::makeSureDirectoryPathExists(kFramesFolder));
  for (int t = 0; t < video.count(); ++t) {
    writePpmFrame(frameFileName(t), video.width, video.height, video.frames[t].data());
  }
  {
    std::ofstream par(platform::hostPath(kParameterFile), std::ios::binary);
    par << instantiateParameterTemplate(readParameterTemplate(), video.width, video.height,
                                        video.count());
  }
  ASSERT_EQ(quiltbench::encoder::encode_mpeg2_file(kParameterFile, clip), 0);
  platform::removeFile(kParameterFile);
  platform::removeTree("c:\\_FrameData");
}

void encodeWithFfmpeg(const VideoFrames& video, const std::string& clip, const std::string& codec,
                      const fs::path& scratch) {
  const fs::path dir = scratch / ("ffmpeg-" + codec);
  fs::remove_all(dir);  // frame files are only ever new files
  fs::create_directories(dir);
  for (int t = 0; t < video.count(); ++t) {
    writePpmFrame((dir / ("f" + std::to_string(t) + ".ppm")).string(), video.width, video.height,
                  video.frames[t].data());
  }
  const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -framerate 25 -i '" +
                              (dir / "f%d.ppm").string() + "' -c:v " + codec +
                              " -q:v 2 -g 12 -bf 2 -pix_fmt yuv420p -f " + codec + " -y '" +
                              platform::hostPath(clip) + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// Every frame ffmpeg decodes from a video elementary stream, as packed RGB.
std::vector<std::vector<std::uint8_t>> decodeWithFfmpeg(const std::string& clip, int width,
                                                        int height, const fs::path& scratch) {
  const fs::path raw = scratch / "decoded.rgb";
  const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -f mpegvideo -i '" +
                              platform::hostPath(clip) +
                              "' -vsync 0 -f rawvideo -pix_fmt rgb24 -y '" + raw.string() + "'";
  if (std::system(command.c_str()) != 0) return {};
  const std::vector<unsigned char> all = test_support::readFileBytes(raw.string());
  const std::size_t frameBytes = static_cast<std::size_t>(width) * height * 3;
  std::vector<std::vector<std::uint8_t>> frames;
  for (std::size_t at = 0; at + frameBytes <= all.size(); at += frameBytes) {
    frames.emplace_back(all.begin() + at, all.begin() + at + frameBytes);
  }
  return frames;
}

double meanAbsoluteDifference(const std::vector<std::uint8_t>& a,
                              const std::vector<std::uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return 1e9;
  double sum = 0;
  for (std::size_t k = 0; k < a.size(); ++k) sum += std::abs(static_cast<int>(a[k]) - b[k]);
  return sum / a.size();
}

struct Clip {
  const char* name;
  const char* codec;  // empty: our encoder
  int width, height;
  const char* output;  // empty: the default output path
};

TEST_F(VideoSynthesisPipeline, LoopsRealClipsSmoothlyAndCleansUp) {
  const Clip clips[] = {
      {"our MPEG-2 clip", "", 64, 48, "C:\\loop.mpg"},
      {"ffmpeg's MPEG-2 clip with B pictures, default output", "mpeg2video", 96, 64, ""},
      {"ffmpeg's MPEG-1 clip", "mpeg1video", 64, 48, "C:\\loop.mpg"},
  };
  for (const Clip& c : clips) {
    SCOPED_TRACE(c.name);
    const VideoFrames source = syntheticVideo(c.width, c.height, 24);
    const std::string clip = "C:\\clip.m2v";
    if (*c.codec) {
      encodeWithFfmpeg(source, clip, c.codec, scratch());
    } else {
      encodeWithOurEncoder(source, clip);
    }
    ASSERT_FALSE(HasFatalFailure());

    // Our decoder sees the frames an independent decoder sees, in order and as R, G, B.
    const VideoFrames decoded = decodeMpegVideo(clip);
    ASSERT_EQ(decoded.count(), 24);
    ASSERT_EQ(decoded.width, c.width);
    ASSERT_EQ(decoded.height, c.height);
    const auto reference = decodeWithFfmpeg(clip, c.width, c.height, scratch());
    ASSERT_EQ(reference.size(), 24u);
    for (int t = 0; t < 24; ++t) {
      EXPECT_LT(meanAbsoluteDifference(decoded.frames[t], reference[t]), 3.0) << "frame " << t;
      EXPECT_LT(meanAbsoluteDifference(decoded.frames[t], source.frames[t]), 6.0) << "frame " << t;
    }

    const std::optional<Transition> jump = loopTransition(decoded);
    ASSERT_TRUE(jump.has_value());
    const OutputWindow window = outputWindow(*jump, decoded.count() - 1);
    ASSERT_GT(window.unchangedCount(), 0) << "the clip should give frames before the blend";

    CGraphCutSynthesizer engine;
    EXPECT_EQ(engine.SynthesizeVideo(clip, c.output), 1);
    EXPECT_FALSE(temporaryFilesRemain());
    const std::string result = platform::hostPath(videoOutputPath(c.output));
    ASSERT_TRUE(fs::exists(result)) << result;

    const auto looped = decodeWithFfmpeg(videoOutputPath(c.output), c.width, c.height, scratch());
    ASSERT_EQ(static_cast<int>(looped.size()), window.outputCount());
    EXPECT_LT(meanAbsoluteDifference(looped.front(), decoded.frames[window.start + 10]), 4.0);
    // Played in a loop the result goes from its last frame (run B's last) to its first;
    // without the blend the loop would go from run A's last frame to the same first.
    const double loopJump = meanAbsoluteDifference(looped.back(), looped.front());
    const double rawJump =
        meanAbsoluteDifference(decoded.frames[window.end + 9], decoded.frames[window.start + 10]);
    EXPECT_LT(loopJump * 4, rawJump) << "loop " << loopJump << ", raw " << rawJump;
    fs::remove(result);
  }
}

TEST_F(VideoSynthesisPipeline, RefusesVideosItCannotLoopAndLeavesNothingBehind) {
  encodeWithOurEncoder(syntheticVideo(64, 48, 10), "C:\\ten.m2v");
  ASSERT_FALSE(HasFatalFailure());
  test_support::writeFileBytes(platform::hostPath("C:\\empty.mpg"), {});
  std::vector<unsigned char> noise(20000);
  for (std::size_t k = 0; k < noise.size(); ++k)
    noise[k] = static_cast<unsigned char>(k * 2654435761u >> 13);
  test_support::writeFileBytes(platform::hostPath("C:\\noise.mpg"), noise);
  // A sequence header alone: a size but not one picture.
  test_support::writeFileBytes(platform::hostPath("C:\\header.mpg"),
                               {0x00, 0x00, 0x01, 0xB3, 0x04, 0x00, 0x30, 0x13, 0xFF, 0xFF, 0xE0,
                                0x18, 0x00, 0x00, 0x01, 0xB7});

  const char* inputs[] = {"C:\\ten.m2v", "C:\\missing.mpg", "C:\\empty.mpg", "C:\\noise.mpg",
                          "C:\\header.mpg"};
  for (const char* input : inputs) {
    SCOPED_TRACE(input);
    CGraphCutSynthesizer engine;
    EXPECT_THROW(engine.SynthesizeVideo(input, ""), VideoSynthesisError);
    EXPECT_FALSE(temporaryFilesRemain());
    EXPECT_FALSE(platform::pathExists(kDefaultVideoOutputPath));
  }
}

// Broken streams decode to fewer or damaged frames or are refused, never to a crash, a
// hang or frames of mixed sizes.
TEST_F(VideoSynthesisPipeline, DecodingSurvivesTruncatedAndCorruptedStreams) {
  encodeWithFfmpeg(syntheticVideo(64, 48, 24), "C:\\clip.m2v", "mpeg2video", scratch());
  ASSERT_FALSE(HasFatalFailure());
  const std::vector<unsigned char> clip =
      test_support::readFileBytes(platform::hostPath("C:\\clip.m2v"));
  ASSERT_GT(clip.size(), 1000u);
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  std::vector<std::vector<unsigned char>> broken;
  for (std::size_t cut :
       {std::size_t{3}, std::size_t{13}, std::size_t{200}, clip.size() / 3, clip.size() - 5}) {
    broken.emplace_back(clip.begin(), clip.begin() + cut);
  }
  for (int n = 0; n < 40; ++n) {
    std::vector<unsigned char> bytes = clip;
    std::uniform_int_distribution<std::size_t> at(0, bytes.size() - 1);
    // Mostly early bytes, where the sequence and picture headers are.
    for (int k = 0; k < 1 + n % 8; ++k)
      bytes[n % 2 ? at(rng) % 64 : at(rng)] = static_cast<unsigned char>(rng());
    broken.push_back(std::move(bytes));
  }
  for (std::size_t k = 0; k < broken.size(); ++k) {
    SCOPED_TRACE("stream " + std::to_string(k));
    test_support::writeFileBytes(platform::hostPath("C:\\broken.m2v"), broken[k]);
    try {
      const VideoFrames video = decodeMpegVideo("C:\\broken.m2v");
      EXPECT_LE(video.count(), 48);
      for (const auto& frame : video.frames) ASSERT_EQ(frame.size(), video.frameBytes());
    } catch (const VideoSynthesisError&) {
      // A refusal with its reason is as good as damaged frames.
    }
  }

  // Streams joined end to end: a second sequence of the same size goes on, one of
  // another size ends the video.
  encodeWithFfmpeg(syntheticVideo(96, 64, 12), "C:\\other.m2v", "mpeg2video", scratch());
  ASSERT_FALSE(HasFatalFailure());
  const std::vector<unsigned char> other =
      test_support::readFileBytes(platform::hostPath("C:\\other.m2v"));
  std::vector<unsigned char> twice = clip, mixed = clip;
  twice.insert(twice.end(), clip.begin(), clip.end());
  mixed.insert(mixed.end(), other.begin(), other.end());
  mixed.insert(mixed.end(), clip.begin(), clip.end());
  struct Joined {
    const char* name;
    const std::vector<unsigned char>& bytes;
    int frames;
  } joined[] = {{"same size twice", twice, 48}, {"another size in between", mixed, 24}};
  for (const Joined& j : joined) {
    SCOPED_TRACE(j.name);
    test_support::writeFileBytes(platform::hostPath("C:\\joined.m2v"), j.bytes);
    const VideoFrames video = decodeMpegVideo("C:\\joined.m2v");
    EXPECT_EQ(video.count(), j.frames);
    EXPECT_EQ(video.width, 64);
  }
}

TEST_F(VideoSynthesisPipeline, MissingTemplateFailsAfterTheFramesAndRemovesThem) {
  encodeWithOurEncoder(syntheticVideo(64, 48, 24), "C:\\clip.m2v");
  ASSERT_FALSE(HasFatalFailure());
  removeTemplate();
  CGraphCutSynthesizer engine;
  EXPECT_THROW(engine.SynthesizeVideo("C:\\clip.m2v", "C:\\loop.mpg"), VideoSynthesisError);
  EXPECT_FALSE(temporaryFilesRemain());
  EXPECT_FALSE(platform::pathExists("C:\\loop.mpg"));
}

TEST_F(VideoSynthesisPipeline, ABlendCutBeyondTheMemoryBudgetIsRefusedBeforeTheWork) {
  encodeWithOurEncoder(syntheticVideo(64, 48, 24), "C:\\clip.m2v");
  ASSERT_FALSE(HasFatalFailure());
  CGraphCutSynthesizer engine;
  engine.m_nMemoryBudget = 1 << 20;  // the cut of 64x48 frames needs about 5 MB
  try {
    engine.SynthesizeVideo("C:\\clip.m2v", "C:\\loop.mpg");
    ADD_FAILURE() << "no refusal";
  } catch (const VideoSynthesisError& e) {
    EXPECT_STREQ(
        e.what(),
        "the blend cut of frames of 64x48 needs about 5 MB of memory and 1 MB is available");
  }
  EXPECT_FALSE(temporaryFilesRemain());
  EXPECT_FALSE(platform::pathExists("C:\\loop.mpg"));
}

// The encoder would end the process on a bad parameter; in a video run its error is the
// run's error, the run's frames and parameter file go, and the output that was there
// stays as it was.
TEST_F(VideoSynthesisPipeline, AnEncoderErrorIsTheRunsErrorAndLeavesNoTemporaryFiles) {
  encodeWithOurEncoder(syntheticVideo(64, 48, 24), "C:\\clip.m2v");
  ASSERT_FALSE(HasFatalFailure());
  const fs::path templatePath = scratch() / "Mpeg2Enc" / "_MPEG.par";
  const auto bytes = test_support::readFileBytes(templatePath.string());
  std::string text(bytes.begin(), bytes.end());
  const std::size_t n = text.find("12                   N:");
  ASSERT_NE(n, std::string::npos);
  text.replace(n, 2, "0 ");
  std::ofstream(templatePath, std::ios::binary) << text;
  test_support::writeFileBytes(platform::hostPath("C:\\loop.mpg"), {1, 2, 3});
  CGraphCutSynthesizer engine;
  try {
    engine.SynthesizeVideo("C:\\clip.m2v", "C:\\loop.mpg");
    ADD_FAILURE() << "no error";
  } catch (const VideoSynthesisError& e) {
    EXPECT_STREQ(e.what(), "the encoder stopped: N must be positive");
  }
  EXPECT_FALSE(temporaryFilesRemain());
  EXPECT_EQ(test_support::readFileBytes(platform::hostPath("C:\\loop.mpg")),
            (std::vector<unsigned char>{1, 2, 3}));
  EXPECT_TRUE(test_support::hiddenFiles(drive()).empty());
}

}  // namespace
