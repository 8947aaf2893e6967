// Conformance of the encoder's streams: sources made by an independent program
// (ffmpeg's test pattern generators), coded in-process as interlaced frame and
// field pictures with B pictures, long groups, 4:2:2, low and high rates; every
// macroblock of the encoder's reconstruction must equal what libmpeg2 and ffmpeg
// decode, and the stream must pass the buffering verifier.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "quiltbench/video/encoder_entry.h"
#include "tests/quiltbench/video/encoder_test_files.h"
#include "tests/quiltbench/video/mpeg2_conformance.h"
#include "tests/support/test_support.h"

namespace {

using conformance::Picture;
using conformance::PictureSize;

struct Clip {
  const char* name;
  const char* source;  // ffmpeg filter graph; {size} stands for WxH
  int width, height, frames, N, M;
  bool interlaced = false;
  bool fieldPictures = false;
  int chroma = 1;
  double bitRate = 1.5e6;
  int profile = 4;
  int vbvBufferSize = 112;     // units of 16384 bits
  bool variableDelay = false;  // the buffer cannot hold the rate constant
  bool mpeg1 = false;
};

void PrintTo(const Clip& c, std::ostream* os) { *os << c.name; }

std::string replaced(std::string text, const std::string& what, const std::string& with) {
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at)) {
    text.replace(at, what.size(), with);
    at += with.size();
  }
  return text;
}

// The motion records of the program's parameter template (M = 3).
std::vector<std::string> templateMotionRecords() {
  const std::filesystem::path root = test_support::dataDir().parent_path().parent_path();
  std::ifstream in(root / "Mpeg2Enc" / "_MPEG.par");
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  if (lines.size() < 55) return {};
  return {lines.begin() + 50, lines.begin() + 55};
}

std::vector<std::string> motionRecords(int M) {
  if (M == 3) return templateMotionRecords();
  std::vector<std::string> records{"3 3 23 23"};
  for (int n = 1; n < M; ++n) records.insert(records.end(), 2, "2 2 15 15");
  return records;
}

encoder_test::ParameterFile parameters(const Clip& c, const std::string& dir) {
  encoder_test::ParameterFile p = encoder_test::baseParameters();
  const std::string progressive = c.interlaced ? "0" : "1";
  const std::string framePred = c.interlaced ? "0 0 0" : "1 1 1";
  p.set(2, dir + "/f%d")
      .set(3, dir + "/r%d")
      .set(6, dir + "/stats.txt")
      .set(7, "1")
      .set(8, std::to_string(c.frames))
      .set(11, std::to_string(c.N))
      .set(12, std::to_string(c.M))
      .set(13, c.mpeg1 ? "1" : "0")
      .set(14, c.fieldPictures ? "1" : "0")
      .set(15, std::to_string(c.width))
      .set(16, std::to_string(c.height))
      .set(19, std::to_string(c.bitRate))
      .set(20, std::to_string(c.vbvBufferSize))
      .set(23, std::to_string(c.profile))
      .set(25, progressive)
      .set(26, std::to_string(c.chroma))
      .set(31, std::to_string(c.width))
      .set(32, std::to_string(c.height))
      .set(34, c.interlaced ? "1" : "0")
      .set(35, framePred)
      .set(41, progressive)
      .motion(motionRecords(c.M));
  return p;
}

// Source frames f0.yuv, f1.yuv... (planar Y, U, V) from ffmpeg.
bool makeSource(const Clip& c, const PictureSize& size, const std::string& dir) {
  const std::string graph =
      replaced(c.source, "{size}", std::to_string(c.width) + "x" + std::to_string(c.height));
  const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -f lavfi -i '" + graph +
                              "' -frames:v " + std::to_string(c.frames) + " -pix_fmt " +
                              conformance::pixelFormat(size) +
                              " -f image2 -c:v rawvideo -start_number 0 -y '" + dir + "/f%d.yuv'";
  return std::system(command.c_str()) == 0;
}

Picture readReconstruction(const std::string& base) {
  return {conformance::readAll(base + ".Y"), conformance::readAll(base + ".U"),
          conformance::readAll(base + ".V")};
}

// Different inverse transforms within the IEEE 1180 limits round a sample one
// level apart now and then; half-sample interpolation and P chains carry that on
// to a few scattered samples a little further apart. A prediction the decoder
// formed differently moves a sample further, or many samples of the macroblock.
constexpr int kScatteredRounding = 3;
constexpr int kRoundedShareDivisor = 4;  // at most a quarter of a macroblock's samples

bool formedDifferently(const conformance::MacroblockDifference& d) {
  return d.largest > kScatteredRounding || d.differing * kRoundedShareDivisor > d.samples;
}

// "n of m macroblocks differ, worst by d at (x, y)", or empty when every
// macroblock agrees within the transforms' rounding.
std::string macroblockMismatch(const PictureSize& size, const Picture& decoded,
                               const Picture& reconstruction) {
  const std::vector<conformance::MacroblockDifference> d =
      conformance::macroblockDifferences(size, decoded, reconstruction);
  const int mbWidth = (size.width + 15) / 16;
  std::size_t worst = 0;
  int differing = 0;
  for (std::size_t k = 0; k < d.size(); ++k) {
    differing += formedDifferently(d[k]);
    if (d[k].largest > d[worst].largest) worst = k;
  }
  if (differing == 0) return "";
  std::ostringstream s;
  s << differing << " of " << d.size() << " macroblocks differ, worst by " << d[worst].largest
    << " in " << d[worst].differing << " of " << d[worst].samples << " samples at ("
    << worst % mbWidth << ", " << worst / mbWidth << ")";
  return s.str();
}

class EncoderConformance : public ::testing::TestWithParam<Clip> {};

TEST_P(EncoderConformance, DecodersMatchTheReconstructionAndTheBufferHolds) {
  const Clip& c = GetParam();
  const PictureSize size{c.width, c.height, c.chroma};
  test_support::TempDir dir;
  const std::string d = dir.path().string();
  ASSERT_TRUE(makeSource(c, size, d)) << "ffmpeg could not make the source";
  parameters(c, d).write(d + "/clip.par");
  const std::string streamPath = d + "/clip.m2v";
  ASSERT_EQ(quiltbench::encoder::encode_mpeg2_file(d + "/clip.par", streamPath), 0);

  const std::vector<std::uint8_t> stream = conformance::readAll(streamPath);
  const std::vector<Picture> libmpeg2 = conformance::decodeWithLibmpeg2(size, stream);
  const std::vector<Picture> ffmpeg =
      conformance::decodeWithFfmpeg(size, streamPath, d + "/ffmpeg.yuv");
  ASSERT_EQ(libmpeg2.size(), static_cast<std::size_t>(c.frames)) << "libmpeg2 frames";
  ASSERT_EQ(ffmpeg.size(), static_cast<std::size_t>(c.frames)) << "ffmpeg frames";
  for (int t = 0; t < c.frames; ++t) {
    SCOPED_TRACE("frame " + std::to_string(t));
    const Picture reconstruction = readReconstruction(d + "/r" + std::to_string(t));
    EXPECT_EQ(macroblockMismatch(size, libmpeg2[t], reconstruction), "") << "libmpeg2";
    EXPECT_EQ(macroblockMismatch(size, ffmpeg[t], reconstruction), "") << "ffmpeg";
  }

  const conformance::StreamLayout layout = conformance::parseStream(stream);
  const conformance::BufferReport buffer = conformance::checkBuffer(layout);
  EXPECT_FALSE(buffer.mixedDelay);
  EXPECT_EQ(buffer.variableDelay, c.variableDelay) << "vbv_delay 0xFFFF throughout";
  EXPECT_EQ(buffer.irregularIntervals, 0);
  EXPECT_EQ(buffer.overflows, 0) << "largest fullness " << buffer.largestFullness << " of "
                                 << layout.bufferBits;
  EXPECT_EQ(buffer.underflows, 0) << "smallest margin " << buffer.smallestMargin;
}

constexpr const char* kMoving = "testsrc2=size={size}:rate=25";
// Fields half a frame apart, the picture panning: B macroblocks with field
// prediction and nothing left to code, where a wrong skip shows at once.
constexpr const char* kInterlaced =
    "testsrc2=size={size}:rate=50,scroll=vertical=0.013:horizontal=0.011,interlace=scan=tff";
constexpr const char* kCutToNoise =
    "color=c=gray:size={size}:rate=25:d=0.28[a];"
    "testsrc2=size={size}:rate=25,noise=alls=40:allf=t[b];[a][b]concat=n=2:v=1";
constexpr const char* kSmooth = "gradients=size={size}:rate=25:speed=0.01";

std::vector<Clip> clips() {
  std::vector<Clip> all;
  {
    Clip c{"interlaced_frame_pictures_with_b", kInterlaced, 176, 144, 10, 12, 3};
    c.interlaced = true;
    all.push_back(c);
  }
  {
    Clip c{"field_pictures_with_b", kInterlaced, 176, 144, 10, 12, 3};
    c.interlaced = true, c.fieldPictures = true, c.bitRate = 800e3;
    all.push_back(c);
  }
  all.push_back(Clip{"progressive_long_group", kMoving, 176, 144, 40, 36, 3});
  {
    Clip c{"mpeg1_with_b", kMoving, 176, 144, 10, 12, 3};
    c.mpeg1 = true;
    all.push_back(c);
  }
  {
    Clip c{"interlaced_422_fields_with_b", kInterlaced, 176, 144, 8, 6, 2};
    c.interlaced = true, c.fieldPictures = true, c.chroma = 2, c.profile = 1;
    all.push_back(c);
  }
  {
    Clip c{"interlaced_422_frames_with_b", kInterlaced, 176, 144, 8, 6, 3};
    c.interlaced = true, c.chroma = 2, c.profile = 1;
    all.push_back(c);
  }
  {
    Clip c{"low_rate", kMoving, 176, 144, 16, 12, 3};
    c.bitRate = 150e3;
    all.push_back(c);
  }
  {
    // A cut from flat grey to noise into a buffer smaller than the delay field
    // could span: the rate control learnt on grey would spend far more than the
    // 49152 bits the buffer holds, unless the buffer bounds the quantiser.
    Clip c{"cut_to_noise_small_buffer", kCutToNoise, 176, 144, 16, 12, 3};
    c.bitRate = 250e3, c.vbvBufferSize = 3;
    all.push_back(c);
  }
  {
    // One picture period brings more than half the buffer: no delay can stay
    // constant, so every vbv_delay is 0xFFFF and the buffer fills until full.
    Clip c{"buffer_too_small_for_a_constant_rate", kMoving, 176, 144, 16, 12, 3};
    c.bitRate = 1e6, c.vbvBufferSize = 1, c.variableDelay = true;
    all.push_back(c);
  }
  {
    // Smooth content cannot spend this rate: the buffer would overflow unstuffed.
    Clip c{"high_rate_smooth_content", kSmooth, 176, 144, 16, 12, 3};
    c.bitRate = 4e6;
    all.push_back(c);
  }
  return all;
}

INSTANTIATE_TEST_SUITE_P(Clips, EncoderConformance, ::testing::ValuesIn(clips()),
                         [](const ::testing::TestParamInfo<Clip>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace

namespace {

// Mean luma PSNR of the reconstruction against the source over the coded
// pictures, from the statistics' SNR lines ("Y: ... MSE=... (x dB) ...").
double meanLumaPsnr(const std::string& statisticsPath) {
  std::ifstream in(statisticsPath);
  double sum = 0;
  int count = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("Y: variance=", 0) != 0) continue;
    sum += std::atof(line.c_str() + line.find('(') + 1);
    ++count;
  }
  return count > 0 ? sum / count : 0;
}

double panPsnr(const std::vector<std::string>& motion) {
  Clip c{"pan", "testsrc2=size={size}:rate=25,scroll=horizontal=0.034", 176, 144, 7, 12, 3};
  c.bitRate = 1e6;
  const PictureSize size{c.width, c.height, c.chroma};
  test_support::TempDir dir;
  const std::string d = dir.path().string();
  if (!makeSource(c, size, d)) return 0;
  parameters(c, d).motion(motion).write(d + "/clip.par");
  if (quiltbench::encoder::encode_mpeg2_file(d + "/clip.par", d + "/clip.m2v") != 0) return 0;
  return meanLumaPsnr(d + "/stats.txt");
}

// The program's parameter template searches far enough for a picture panning
// six samples a frame (eighteen between its reference pictures): as well as a
// window that surely holds the motion.
TEST(EncoderTemplate, MotionWindowsFollowAPan) {
  const std::vector<std::string> wide = {"4 2 40 8", "3 2 20 8", "4 2 40 8", "4 2 40 8",
                                         "3 2 20 8"};
  const double withTemplate = panPsnr(templateMotionRecords());
  const double withWide = panPsnr(wide);
  EXPECT_GT(withTemplate, withWide - 0.5)
      << "template " << withTemplate << " dB, wide " << withWide << " dB";
}

// A stream of a sequence header and pictures of the given sizes with the
// vbv_delay of a decoder that starts 50 ms after the first bit and decodes one
// picture every 40 ms (400 kbit/s, a 32768-bit buffer, 25 pictures a second).
std::vector<std::uint8_t> bufferTestStream(const std::vector<int>& pictureBytes, bool variableDelay,
                                           int skewedPicture = -1) {
  constexpr double kRate = 400000, kFirstDecode = 0.05, kPeriod = 0.04;
  std::vector<std::uint8_t> s = {0, 0, 1, 0xb3};
  // 16 x 16, square samples, 25 Hz, 1000 units of 400 bit/s, marker, 2 units of buffer.
  const std::uint64_t header = (16ull << 52) | (16ull << 40) | (1ull << 36) | (3ull << 32) |
                               (1000ull << 14) | (1ull << 13) | (2ull << 3);
  for (int k = 7; k >= 0; --k) s.push_back(static_cast<std::uint8_t>(header >> (8 * k)));
  for (std::size_t n = 0; n < pictureBytes.size(); ++n) {
    const double arrival = 8.0 * static_cast<double>(s.size() + 4) / kRate;
    int delay = static_cast<int>(std::lround(90000 * (kFirstDecode + n * kPeriod - arrival)));
    if (static_cast<int>(n) == skewedPicture) delay += 100;
    if (variableDelay) delay = 0xffff;
    // temporal_reference 0, I picture, vbv_delay, extra bits.
    const std::uint32_t fields = (1u << 19) | (static_cast<std::uint32_t>(delay) << 3);
    for (std::uint8_t b : {0, 0, 1, 0}) s.push_back(b);
    for (int k = 3; k >= 0; --k) s.push_back(static_cast<std::uint8_t>(fields >> (8 * k)));
    s.insert(s.end(), static_cast<std::size_t>(pictureBytes[n] - 8), 0xff);
  }
  return s;
}

TEST(BufferVerifier, FindsOverflowUnderflowAndIrregularDelays) {
  struct Case {
    const char* name;
    std::vector<int> pictureBytes;
    bool variableDelay;
    int skewedPicture;
    int overflows, underflows, irregular;
  };
  const std::vector<int> steady(8, 2000);  // exactly the rate: 16000 bits a period
  // Picture 3 ends 108 bytes after its decoding time; picture 4 makes up for it.
  std::vector<int> oneTooLarge = steady;
  oneTooLarge[3] = 2600, oneTooLarge[4] = 1400;
  const Case cases[] = {
      {"constant rate", steady, false, -1, 0, 0, 0},
      // The buffer fills past its size from picture 2 until the stream has arrived.
      {"pictures too small to hold the rate", std::vector<int>(20, 600), false, -1, 12, 0, 0},
      {"one picture too large", oneTooLarge, false, -1, 0, 1, 0},
      {"a delay off the picture period", steady, false, 4, 0, 0, 2},
      {"variable delay", steady, true, -1, 0, 0, 0},
      {"variable delay, one picture larger than the buffer", {2000, 5000, 500}, true, -1, 0, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const conformance::StreamLayout layout = conformance::parseStream(
        bufferTestStream(c.pictureBytes, c.variableDelay, c.skewedPicture));
    ASSERT_EQ(layout.pictures.size(), c.pictureBytes.size());
    const conformance::BufferReport r = conformance::checkBuffer(layout);
    EXPECT_EQ(r.variableDelay, c.variableDelay);
    EXPECT_EQ(r.overflows, c.overflows);
    EXPECT_EQ(r.underflows, c.underflows);
    EXPECT_EQ(r.irregularIntervals, c.irregular);
  }
}

}  // namespace
