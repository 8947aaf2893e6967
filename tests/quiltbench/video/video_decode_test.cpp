// decodeMpegVideo on clips that ffmpeg makes at test time: program streams give the frames
// of their elementary streams, other containers and sizes the encoder cannot take are
// refused before decoding, padded pictures come back in their own size, and the partial
// last picture of a cut stream is dropped. Also every stream of the decoding fuzz corpus.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "platform/recording_ui.h"
#include "platform/ui.h"
#include "quiltbench/engine/graph_cut_synthesizer.h"
#include "quiltbench/video/video_synthesis.h"
#include "quiltbench/video/video_synthesis_internal.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace quiltbench::video;
using Bytes = std::vector<unsigned char>;

// Absolute, as the tests change the working directory.
fs::path sourceRoot() {
  static const fs::path root = [] {
    const std::string file = __FILE__;
    return fs::absolute(file.substr(0, file.rfind("tests/quiltbench/video/")));
  }();
  return root;
}

// The working directory sits beside a copy of the encoder's template folder, where
// "..\Mpeg2Enc\_MPEG.par" finds it.
class VideoDecode : public ::testing::Test {
 protected:
  VideoDecode() {
    sourceRoot();
    fs::create_directories(root_.path() / "work");
    fs::create_directories(root_.path() / "Mpeg2Enc");
    fs::copy_file(sourceRoot() / "Mpeg2Enc" / "_MPEG.par", root_.path() / "Mpeg2Enc" / "_MPEG.par");
    cwd_.emplace(root_.path() / "work");
  }

  std::string file(const std::string& name) const { return root_.file(name); }

  // Runs ffmpeg with `arguments`; the test clip source is a moving test pattern.
  void ffmpeg(const std::string& arguments) const {
    const std::string command =
        "ffmpeg -nostdin -hide_banner -loglevel error -y " + arguments + " 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }

  std::string clip(const std::string& name, int width, int height, int frames,
                   const std::string& codec, int bFrames) const {
    const std::string path = file(name);
    ffmpeg("-f lavfi -i testsrc=size=" + std::to_string(width) + "x" + std::to_string(height) +
           ":rate=25 -frames:v " + std::to_string(frames) + " -c:v " + codec + " -g 6 -bf " +
           std::to_string(bFrames) + " -f " + codec + " '" + path + "'");
    return path;
  }

  // Every frame ffmpeg decodes from a video elementary stream, as packed RGB.
  std::vector<Bytes> ffmpegFrames(const std::string& path, int width, int height) const {
    const std::string raw = file("decoded.rgb");
    ffmpeg("-f mpegvideo -i '" + path + "' -vsync 0 -f rawvideo -pix_fmt rgb24 '" + raw + "'");
    const Bytes all = test_support::readFileBytes(raw);
    const std::size_t frameBytes = static_cast<std::size_t>(width) * height * 3;
    std::vector<Bytes> frames;
    for (std::size_t at = 0; at + frameBytes <= all.size(); at += frameBytes)
      frames.emplace_back(all.begin() + at, all.begin() + at + frameBytes);
    return frames;
  }

 private:
  test_support::TempDir root_;
  std::optional<test_support::ScopedWorkingDirectory> cwd_;
};

double meanAbsoluteDifference(const Bytes& a, const Bytes& b) {
  if (a.size() != b.size() || a.empty()) return 1e9;
  double sum = 0;
  for (std::size_t k = 0; k < a.size(); ++k) sum += std::abs(static_cast<int>(a[k]) - b[k]);
  return sum / a.size();
}

std::string refusal(const std::string& path) {
  try {
    decodeMpegVideo(path);
  } catch (const VideoSynthesisError& e) {
    return e.what();
  }
  return "no refusal";
}

TEST_F(VideoDecode, ProgramStreamsDecodeToTheFramesOfTheirElementaryStream) {
  struct Case {
    const char* name;
    const char* codec;
    const char* container;
  } cases[] = {{"MPEG-1 system stream", "mpeg1video", "mpeg"},
               {"MPEG-2 program stream", "mpeg2video", "vob"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string elementary = clip("clip.es", 64, 48, 15, c.codec, 2);
    const std::string program = file("clip.mpg");
    ffmpeg("-f mpegvideo -i '" + elementary + "' -c copy -f " + c.container + " '" + program + "'");
    ASSERT_FALSE(HasFatalFailure());
    const VideoFrames expected = decodeMpegVideo(elementary);
    ASSERT_EQ(expected.count(), 15);
    const VideoFrames demultiplexed = decodeMpegVideo(program);
    EXPECT_EQ(demultiplexed.width, 64);
    EXPECT_EQ(demultiplexed.height, 48);
    EXPECT_TRUE(demultiplexed.frames == expected.frames);
  }
}

TEST_F(VideoDecode, OtherContainersAreRefusedNamingTheirFormat) {
  struct Case {
    const char* container;
    const char* name;
  } cases[] = {{"mp4", "an MPEG-4 / QuickTime file"},
               {"mpegts", "an MPEG transport stream"},
               {"avi", "a RIFF (AVI) file"},
               {"matroska", "a Matroska / WebM file"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.container);
    const std::string path = file(std::string("clip.") + c.container);
    ffmpeg("-f lavfi -i testsrc=size=64x48:rate=25 -frames:v 3 -c:v mpeg2video -f " +
           std::string(c.container) + " '" + path + "'");
    EXPECT_EQ(refusal(path), path + " is " + c.name +
                                 "; only MPEG video elementary streams and MPEG program streams "
                                 "can be read");
  }
}

TEST_F(VideoDecode, PaddedPicturesComeBackInTheirOwnSize) {
  for (const char* codec : {"mpeg1video", "mpeg2video"}) {
    SCOPED_TRACE(codec);
    const std::string path = clip("odd.es", 202, 150, 5, codec, 1);
    const VideoFrames video = decodeMpegVideo(path);
    ASSERT_EQ(video.count(), 5);
    EXPECT_EQ(video.width, 202);
    EXPECT_EQ(video.height, 150);
    const std::vector<Bytes> reference = ffmpegFrames(path, 202, 150);
    ASSERT_EQ(reference.size(), 5u);
    for (int t = 0; t < 5; ++t)
      EXPECT_LT(meanAbsoluteDifference(video.frames[t], reference[t]), 3.0) << "frame " << t;
  }
}

// The last start code of a stream with a code in [low, high].
std::size_t lastStartCodeAt(const Bytes& stream, unsigned low, unsigned high) {
  for (std::size_t at = stream.size() - 4; at > 0; --at) {
    if (stream[at] == 0 && stream[at + 1] == 0 && stream[at + 2] == 1 && stream[at + 3] >= low &&
        stream[at + 3] <= high)
      return at;
  }
  return 0;
}

TEST_F(VideoDecode, ACutStreamLosesOnlyItsPartialLastPicture) {
  enum Cut { halfTheLastPicture, fiveBytes, beforeTheLastSlice };
  struct Case {
    const char* codec;
    int bFrames;
    Cut cut;
  } cases[] = {
      {"mpeg2video", 0, halfTheLastPicture}, {"mpeg2video", 2, halfTheLastPicture},
      {"mpeg2video", 0, fiveBytes},          {"mpeg2video", 0, beforeTheLastSlice},
      {"mpeg1video", 2, halfTheLastPicture}, {"mpeg1video", 0, fiveBytes},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.codec) + ", B pictures " + std::to_string(c.bFrames) + ", cut " +
                 std::to_string(c.cut));
    // ffmpeg writes no sequence end code: the last picture ends with the file, whole.
    const std::string path = clip("whole.es", 64, 64, 10, c.codec, c.bFrames);
    const VideoFrames whole = decodeMpegVideo(path);
    ASSERT_EQ(whole.count(), 10);

    Bytes stream = test_support::readFileBytes(path);
    const std::size_t lastPicture = lastStartCodeAt(stream, 0x00, 0x00);
    ASSERT_GT(lastPicture, 0u);
    switch (c.cut) {
      case halfTheLastPicture:
        stream.resize(lastPicture + (stream.size() - lastPicture) / 2);
        break;
      case fiveBytes:
        stream.resize(stream.size() - 5);
        break;
      case beforeTheLastSlice:
        stream.resize(lastStartCodeAt(stream, 0x01, 0xAF));
        break;
    }
    test_support::writeFileBytes(file("cut.es"), stream);
    const VideoFrames cut = decodeMpegVideo(file("cut.es"));
    ASSERT_EQ(cut.count(), 9);
    if (c.bFrames == 0) {
      for (int t = 0; t < 9; ++t) EXPECT_TRUE(cut.frames[t] == whole.frames[t]) << "frame " << t;
    }
  }
}

// A sequence header for `width` x `height` and nothing else: enough for the refusal,
// which comes before any decoding.
Bytes sequenceHeaderOnly(int width, int height) {
  return {0x00,
          0x00,
          0x01,
          0xB3,
          static_cast<unsigned char>(width >> 4),
          static_cast<unsigned char>(((width & 0xF) << 4) | (height >> 8)),
          static_cast<unsigned char>(height & 0xFF),
          0x13,
          0xFF,
          0xFF,
          0xE0,
          0x18};
}

TEST_F(VideoDecode, PictureSizesTheEncoderCannotTakeAreRefusedBeforeDecoding) {
  struct Case {
    int width, height;
    const char* reason;
  } cases[] = {
      {736, 576, "Horizontal size is greater than permitted in specified Level"},
      {1280, 720, "Horizontal size is greater than permitted in specified Level"},
      {720, 608, "Vertical size is greater than permitted in specified Level"},
      {202, 151, "vertical_size must be a even (4:2:0)"},
  };
  for (const Case& c : cases) {
    const std::string size = std::to_string(c.width) + "x" + std::to_string(c.height);
    SCOPED_TRACE(size);
    test_support::writeFileBytes(file("big.m2v"), sequenceHeaderOnly(c.width, c.height));
    EXPECT_EQ(refusal(file("big.m2v")),
              "pictures of " + size +
                  " cannot be encoded with the encoder's profile and level: " + c.reason);
  }
  test_support::writeFileBytes(file("fits.m2v"), sequenceHeaderOnly(720, 576));
  EXPECT_EQ(decodeMpegVideo(file("fits.m2v")).count(), 0);
}

// The whole command refuses before it decodes or writes anything.
TEST_F(VideoDecode, TheCommandRefusesAnUnencodableSizeBeforeAnyWork) {
  const fs::path drive = fs::path(file("c"));
  fs::create_directories(drive);
  test_support::ScopedDriveC scopedDrive(drive.string());
  platform::RecordingUi ui;
  platform::ScopedUi scopedUi(ui);
  test_support::writeFileBytes(file("c/hd.m2v"), sequenceHeaderOnly(1280, 720));
  CGraphCutSynthesizer engine;
  try {
    engine.SynthesizeVideo("C:\\hd.m2v", "C:\\loop.mpg");
    ADD_FAILURE() << "no refusal";
  } catch (const VideoSynthesisError& e) {
    EXPECT_THAT(e.what(), testing::HasSubstr("pictures of 1280x720 cannot be encoded"));
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(drive), fs::directory_iterator()), 1);
}

// Seeds and the inputs that once crashed the decoder: each ends in frames of the
// stream's size or in a refusal, and the test process lives on.
TEST_F(VideoDecode, EveryFuzzCorpusStreamEndsInFramesOrAnError) {
  const fs::path corpus = sourceRoot() / "fuzz" / "video_decode" / "corpus";
  int streams = 0;
  for (const auto& entry : fs::directory_iterator(corpus)) {
    SCOPED_TRACE(entry.path().filename().string());
    ++streams;
    try {
      const VideoFrames video = decodeMpegVideo(entry.path().string());
      for (const auto& frame : video.frames) ASSERT_EQ(frame.size(), video.frameBytes());
    } catch (const VideoSynthesisError& e) {
      EXPECT_STRNE(e.what(), "");
    }
  }
  EXPECT_GT(streams, 0);
}

}  // namespace
