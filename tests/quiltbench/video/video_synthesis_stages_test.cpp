// The looping-video stages one by one: the product kernels against a plain sum, the
// loop transition, the window arithmetic, the blend cut, the output frames, the frame
// files and the parameter template.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "quiltbench/video/video_synthesis.h"
#include "quiltbench/video/video_synthesis_internal.h"
#include "tests/support/test_support.h"

namespace {

using namespace quiltbench::video;

std::uint64_t plainProductSum(const std::vector<std::uint8_t>& a,
                              const std::vector<std::uint8_t>& b) {
  std::uint64_t sum = 0;
  for (std::size_t k = 0; k < a.size(); ++k) sum += static_cast<std::uint64_t>(a[k]) * b[k];
  return sum;
}

double plainSquaredDifference(const std::vector<std::uint8_t>& a,
                              const std::vector<std::uint8_t>& b) {
  std::uint64_t sum = 0;
  for (std::size_t k = 0; k < a.size(); ++k) {
    const std::int64_t d = static_cast<std::int64_t>(a[k]) - b[k];
    sum += static_cast<std::uint64_t>(d * d);
  }
  return static_cast<double>(sum);
}

TEST(VideoSynthesisScoring, ProductKernelsMatchThePlainSum) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> byte(0, 255);
  // Tails of every length below a vector, block edges of the 32-bit lanes, and bytes
  // of 255 throughout, where a lane that is too narrow would wrap.
  const std::size_t lengths[] = {0, 1, 15, 16, 17, 31, 32, 33, 4095, 4096, 65536 + 47, 300000};
  for (std::size_t n : lengths) {
    for (bool saturated : {false, true}) {
      SCOPED_TRACE("n " + std::to_string(n) + (saturated ? " all 255" : " random"));
      std::vector<std::uint8_t> a(n), b(n);
      for (std::size_t k = 0; k < n; ++k) {
        a[k] = saturated ? 255 : static_cast<std::uint8_t>(byte(rng));
        b[k] = saturated ? 255 : static_cast<std::uint8_t>(byte(rng));
      }
      const std::uint64_t expected = plainProductSum(a, b);
      for (ProductKernel kernel :
           {ProductKernel::portable, ProductKernel::sse2, bestProductKernel()}) {
        EXPECT_EQ(byteProductSum(a.data(), b.data(), n, kernel), expected)
            << static_cast<int>(kernel);
      }
    }
  }
}

VideoFrames randomVideo(int width, int height, int count, std::mt19937& rng) {
  VideoFrames video;
  video.width = width;
  video.height = height;
  std::uniform_int_distribution<int> byte(0, 255);
  for (int f = 0; f < count; ++f) {
    std::vector<std::uint8_t> frame(video.frameBytes());
    for (auto& v : frame) v = static_cast<std::uint8_t>(byte(rng));
    video.frames.push_back(std::move(frame));
  }
  return video;
}

TEST(VideoSynthesisScoring, ScoresAndTransitionAgreeWithABruteForceScan) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  // 150 frames: more rows than one scoring block; 37x3 pixels: slices end mid-pixel.
  const VideoFrames video = randomVideo(37, 3, 150, rng);
  const std::vector<std::uint64_t> scores = pairScores(video);
  const int n = video.count();
  std::optional<Transition> expected;
  for (int j = 0; j < n; ++j) {
    for (int i = j + 10; i < n; ++i) {
      const std::uint64_t s = plainProductSum(video.frames[j], video.frames[i]);
      ASSERT_EQ(scores[static_cast<std::size_t>(j) * n + i], s) << j << " " << i;
      const double d = plainSquaredDifference(video.frames[j], video.frames[i]);
      if (!expected || d < expected->score) expected = Transition{j, i, d};
    }
  }
  const std::optional<Transition> t = loopTransition(video);
  ASSERT_TRUE(t.has_value());
  EXPECT_EQ(t->from, expected->from);
  EXPECT_EQ(t->to, expected->to);
  EXPECT_EQ(t->score, expected->score);
}

TEST(VideoSynthesisScoring, TransitionNeedsElevenFramesAndKeepsTheFirstOfEqualScores) {
  std::mt19937 rng(3);
  const VideoFrames one = randomVideo(4, 4, 1, rng);
  struct Case {
    const char* name;
    int frames;
    bool found;
    int from, to;
  } cases[] = {
      {"no frames", 0, false, 0, 0},
      {"ten frames have no pair 10 apart", 10, false, 0, 0},
      {"eleven frames have one", 11, true, 0, 10},
      {"equal frames: the first pair in (j, i) order", 30, true, 0, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VideoFrames video;
    video.width = video.height = 4;
    video.frames.assign(c.frames, one.frames[0]);
    const std::optional<Transition> t = loopTransition(video);
    ASSERT_EQ(t.has_value(), c.found);
    if (t) {
      EXPECT_EQ(t->from, c.from);
      EXPECT_EQ(t->to, c.to);
    }
  }

  // In a video whose frames all differ, the one pair of alike frames wins, however
  // dark or bright the others are; of two alike pairs, the one with the smaller j.
  VideoFrames video;
  video.width = video.height = 4;
  for (int f = 0; f < 30; ++f)
    video.frames.emplace_back(video.frameBytes(), static_cast<std::uint8_t>(f * 8));
  video.frames[16] = video.frames[4];
  video.frames[29] = video.frames[17];
  const std::optional<Transition> t = loopTransition(video);
  ASSERT_TRUE(t.has_value());
  EXPECT_EQ(t->from, 4);
  EXPECT_EQ(t->to, 16);
  EXPECT_EQ(t->score, 0.0);
}

TEST(VideoSynthesisWindow, StartEndAndFrameCount) {
  struct Case {
    const char* name;
    int from, to, last;
    int start, end, unchanged;
  } cases[] = {
      {"d < 5 starts at frame 0", 2, 14, 23, 0, 13, 3},
      {"d = 0", 0, 10, 23, 0, 11, 1},
      {"d = 5 starts at frame 0 too", 5, 15, 40, 0, 11, 1},
      {"window after the jump", 7, 20, 40, 2, 16, 4},
      {"end limited by the last frame", 6, 30, 30, 1, 21, 10},
      {"shortest video", 0, 10, 10, 0, 1, 0},
      // Here end - start - 10 is negative: the runs overlap and only the blend is written.
      {"runs overlapping near the end", 13, 23, 23, 8, 14, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const OutputWindow w = outputWindow(Transition{c.from, c.to, 0}, c.last);
    EXPECT_EQ(w.start, c.start);
    EXPECT_EQ(w.end, c.end);
    EXPECT_EQ(w.unchangedCount(), c.unchanged);
    EXPECT_EQ(w.outputCount(), c.unchanged + 10);
    EXPECT_LE(w.end + 9, c.last) << "run A must lie inside the video";
  }
}

// 30 frames of 8x6: run A and run B agree on the left half everywhere, and on the right
// half only in window frames 4 and 5, so the cut is free there and nowhere else.
struct BlendFixture {
  VideoFrames video;
  OutputWindow window{2, 15};

  BlendFixture() {
    video.width = 8;
    video.height = 6;
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int f = 0; f < 30; ++f) video.frames.emplace_back(video.frameBytes());
    for (int k = 0; k < 10; ++k) {
      auto& a = video.frames[window.end + k];
      auto& b = video.frames[window.start + k];
      for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < 8; ++x) {
          for (int c = 0; c < 3; ++c) {
            const std::size_t at = (static_cast<std::size_t>(y) * 8 + x) * 3 + c;
            a[at] = static_cast<std::uint8_t>(byte(rng));
            const bool agree = x < 4 || k == 4 || k == 5;
            b[at] = agree ? a[at] : static_cast<std::uint8_t>(a[at] ^ 0x80);
          }
        }
      }
    }
    for (int f : {12, 13, 14}) {  // the unchanged frames between the runs
      for (auto& v : video.frames[f]) v = static_cast<std::uint8_t>(byte(rng));
    }
  }
};

TEST(VideoSynthesisBlend, CutTiesTheEndsAndSwitchesWhereTheRunsAgree) {
  const BlendFixture fx;
  const BlendCut cut = blendCut(fx.video, fx.window);
  ASSERT_EQ(cut.labels.size(), 10u * 8 * 6);
  EXPECT_EQ(cut.flow, 0.0f);
  for (int k = 0; k < 10; ++k) {
    for (int y = 0; y < 6; ++y) {
      for (int x = 0; x < 8; ++x) {
        SCOPED_TRACE("k " + std::to_string(k) + " x " + std::to_string(x) + " y " +
                     std::to_string(y));
        const std::uint8_t label = cut.labels[(k * 6 + y) * 8 + x];
        if (k == 0) {
          EXPECT_EQ(label, kRunA);
        } else if (k == 9) {
          EXPECT_EQ(label, kRunB);
        } else if (x >= 4) {
          // The right half can only leave run A between frames 4 and 5 without cost.
          EXPECT_EQ(label, k <= 4 ? kRunA : kRunB);
        }
      }
    }
  }
}

TEST(VideoSynthesisBlend, OutputFramesTakeEachPixelFromItsRun) {
  const BlendFixture fx;
  const BlendCut cut = blendCut(fx.video, fx.window);
  std::vector<std::vector<std::uint8_t>> out;
  const int produced = composeOutputFrames(
      fx.video, fx.window, cut.labels,
      [&](const std::uint8_t* rgb) { out.emplace_back(rgb, rgb + fx.video.frameBytes()); });
  ASSERT_EQ(produced, fx.window.outputCount());
  ASSERT_EQ(out.size(), 13u);
  EXPECT_EQ(out[0], fx.video.frames[12]);
  EXPECT_EQ(out[2], fx.video.frames[14]);
  EXPECT_EQ(out[3], fx.video.frames[15]) << "the blend opens with run A";
  // The last blended frame continues in run B: the loop goes on from it to frame 12.
  EXPECT_EQ(out[12], fx.video.frames[11]);
  for (int k = 0; k < 10; ++k) {
    for (int p = 0; p < 48; ++p) {
      const auto& from =
          cut.labels[k * 48 + p] == kRunA ? fx.video.frames[15 + k] : fx.video.frames[2 + k];
      for (int c = 0; c < 3; ++c)
        ASSERT_EQ(out[3 + k][3 * p + c], from[3 * p + c]) << k << " " << p;
    }
  }
}

TEST(VideoSynthesisBlend, GraphSizeLimits) {
  EXPECT_TRUE(blendCutFits(352, 288));
  EXPECT_TRUE(blendCutFits(1, 1));
  EXPECT_FALSE(blendCutFits(0, 16));
  EXPECT_FALSE(blendCutFits(16384, 16384)) << "2.7e9 nodes do not fit the graph's indexes";
  EXPECT_FALSE(blendCutFits(8192, 8192)) << "6.7e8 nodes fit, 2e9 edges do not";
}

TEST(VideoSynthesisFiles, PpmFrameAndItsName) {
  test_support::TempDir dir;
  const std::string path = dir.file("f.ppm");
  const std::uint8_t rgb[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
  writePpmFrame(path, 3, 2, rgb);
  const std::vector<unsigned char> bytes = test_support::readFileBytes(path);
  std::vector<unsigned char> expected = {'P', '6', '\n', '3', ' ', '2', '\n', '2', '5', '5', '\n'};
  expected.insert(expected.end(), std::begin(rgb), std::end(rgb));
  EXPECT_EQ(bytes, expected);
  EXPECT_EQ(frameFileName(0), "c:\\_FrameData\\0.ppm");
  EXPECT_EQ(frameFileName(137), "c:\\_FrameData\\137.ppm");
}

// A frame file is always a new file: never one that is there, never one behind a link,
// and a failure is an error to report, not the end of the process.
TEST(VideoSynthesisFiles, FrameFilesAreOnlyEverNewFiles) {
  test_support::TempDir dir;
  const std::vector<unsigned char> precious = {'k', 'e', 'e', 'p'};
  test_support::writeFileBytes(dir.file("victim"), precious);
  test_support::writeFileBytes(dir.file("existing.ppm"), precious);
  std::filesystem::create_symlink(dir.file("victim"), dir.file("link.ppm"));
  std::filesystem::create_symlink(dir.file("absent"), dir.file("dangling.ppm"));
  const struct {
    const char* name;
    const char* why;
  } cases[] = {
      {"no-such-folder/0.ppm", "No such file or directory"},
      {"existing.ppm", "it is there already"},
      {"link.ppm", "it is there already"},
      {"dangling.ppm", "it is there already"},
  };
  const std::uint8_t rgb[3] = {};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      writePpmFrame(dir.file(c.name), 1, 1, rgb);
      ADD_FAILURE() << "written";
    } catch (const VideoSynthesisError& e) {
      EXPECT_NE(std::string(e.what()).find("cannot write the frame file " + dir.file(c.name)),
                std::string::npos)
          << e.what();
      EXPECT_NE(std::string(e.what()).find(c.why), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(test_support::readFileBytes(dir.file("victim")), precious);
  EXPECT_EQ(test_support::readFileBytes(dir.file("existing.ppm")), precious);
  EXPECT_FALSE(std::filesystem::exists(dir.file("absent")));
}

// A disk that fills up part way through a frame leaves no partial frame behind.
TEST(VideoSynthesisFiles, AFrameThatCannotBeFinishedIsRemoved) {
  test_support::TempDir dir;
  const std::vector<std::uint8_t> rgb(64 * 48 * 3, 7);
  const int status = test_support::runWithFileSizeLimit(4096, [&] {
    try {
      writePpmFrame(dir.file("0.ppm"), 64, 48, rgb.data());
    } catch (const VideoSynthesisError& e) {
      return std::string(e.what()).find("File too large") != std::string::npos ? 3 : 4;
    }
    return 0;
  });
  EXPECT_EQ(status, 3);
  EXPECT_FALSE(std::filesystem::exists(dir.file("0.ppm")));
}

TEST(VideoSynthesisTemplate, KeysBecomeNumbersWithABlankOnEachSide) {
  EXPECT_EQ(instantiateParameterTemplate("a%width%b\n%height%%framenum%\n%width%%width%\n%frame%",
                                         64, 48, 13),
            "a 64 b\n 48  13 \n 64  64 \n%frame%");
  EXPECT_EQ(instantiateParameterTemplate("no keys\n", 1, 2, 3), "no keys\n");
}

// The first word of each line of the template as the program instantiates it.
std::vector<std::string> firstWords(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream in(line);
    std::string word;
    in >> word;
    words.push_back(word);
  }
  return words;
}

TEST(VideoSynthesisTemplate, OurTemplateReadsThePipelinesFrames) {
  const std::string source = std::string(__FILE__);
  const std::string root = source.substr(0, source.rfind("tests/quiltbench/video/"));
  std::ifstream in(root + "Mpeg2Enc/_MPEG.par", std::ios::binary);
  ASSERT_TRUE(in) << root;
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string instantiated = instantiateParameterTemplate(text, 352, 288, 97);
  for (const char* key : {"%width%", "%height%", "%framenum%"}) {
    EXPECT_NE(text.find(key), std::string::npos) << key;
    EXPECT_EQ(instantiated.find(key), std::string::npos) << key;
  }
  const std::vector<std::string> words = firstWords(instantiated);
  ASSERT_EQ(words.size(), 55u) << "50 lines, a P record and two B records of two lines";
  struct Line {
    int number;
    const char* value;
  } lines[] = {
      {2, "c:\\_FrameData\\%d"},
      {7, "2"},
      {8, "97"},
      {9, "0"},
      {11, "12"},
      {12, "3"},
      {13, "0"},
      {15, "352"},
      {16, "288"},
      {23, "4"},
      {24, "8"},
      {26, "1"},
      {31, "352"},
      {32, "288"},
  };
  for (const Line& l : lines) EXPECT_EQ(words[l.number - 1], l.value) << "line " << l.number;
}

}  // namespace
