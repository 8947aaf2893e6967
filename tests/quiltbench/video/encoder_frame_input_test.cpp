// Source frames of the encoder: PPM conversion, border extension, the chroma
// filters at the plane edges, and the raw Y/U/V inputs.
#include "quiltbench/video/encoder_frame_input.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "quiltbench/video/encoder_entry.h"
#include "tests/quiltbench/video/encoder_test_files.h"
#include "tests/support/test_support.h"

namespace qe = quiltbench::encoder;

namespace {

struct Clip {
  std::array<std::uint8_t, 1024> table{};
  Clip() { qe::build_clip_table(table); }
  const std::uint8_t* get() const { return table.data() + 384; }
};

class EncoderFrameInput : public testing::Test {
 protected:
  // Sets up the process-wide parameters and sizes for frames of `width` x `height`.
  qe::Frame configure(int width, int height, int chroma, int inputType, bool mpeg1 = false,
                      bool progressive = true) {
    qe::EncoderState& e = qe::g_encoder;
    e.params = qe::EncoderParameters{};
    e.params.horizontal_size = width;
    e.params.vertical_size = height;
    e.params.chroma_format = chroma;
    e.params.input_type = inputType;
    e.params.mpeg1 = mpeg1 ? 1 : 0;
    e.params.progressive_sequence = progressive ? 1 : 0;
    e.params.progressive_frame = progressive ? 1 : 0;
    e.params.matrix_coefficients = 2;
    e.sizes = qe::derive_sizes(e.params);
    qe::build_clip_table(e.clipStorage);
    e.clip = e.clipStorage.data() + 384;
    qe::Frame frame;
    frame.plane[0].assign(static_cast<std::size_t>(e.sizes.width) * e.sizes.height, 0xEE);
    frame.plane[1].assign(static_cast<std::size_t>(e.sizes.chrom_width) * e.sizes.chrom_height,
                          0xEE);
    frame.plane[2] = frame.plane[1];
    return frame;
  }

  test_support::TempDir dir_;
};

std::vector<std::uint8_t> randomRgb(int width, int height, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
  for (auto& b : rgb) b = static_cast<std::uint8_t>(random());
  return rgb;
}

TEST_F(EncoderFrameInput, PpmPictureIsExtendedToWholeMacroblocks) {
  qe::Frame frame = configure(100, 60, qe::kChroma420, qe::kInputPpm);
  ASSERT_EQ(qe::g_encoder.sizes.width, 112);
  ASSERT_EQ(qe::g_encoder.sizes.height, 64);
  encoder_test::writePpm(dir_.file("f.ppm"), 100, 60, randomRgb(100, 60, 1));
  qe::read_frame(dir_.file("f"), frame);
  const std::uint8_t* y = frame[0];
  for (int j = 0; j < 60; ++j) {
    for (int i = 100; i < 112; ++i) ASSERT_EQ(y[j * 112 + i], y[j * 112 + 99]) << i << "," << j;
  }
  for (int j = 60; j < 64; ++j) {
    for (int i = 0; i < 112; ++i) ASSERT_EQ(y[j * 112 + i], y[59 * 112 + i]) << i << "," << j;
  }
  // The chroma planes are filtered from the extended full-size planes, so their
  // border columns and rows also hold the picture's last samples.
  for (int c = 1; c < 3; ++c) {
    const std::uint8_t* p = frame[c];
    for (int j = 0; j < 32; ++j) {
      for (int i = 0; i < 56; ++i) ASSERT_NE(p[j * 56 + i], 0xEE) << c << ":" << i << "," << j;
    }
    for (int j = 0; j < 32; ++j) EXPECT_EQ(p[j * 56 + 55], p[j * 56 + 54]) << c << ":" << j;
  }
}

TEST_F(EncoderFrameInput, WhiteAndBlackConvertToNominalLevels) {
  struct Case {
    const char* name;
    int chroma;
    bool mpeg1;
    std::uint8_t rgb;
    std::uint8_t luma;
    std::uint8_t chromaValue;
  };
  // The conversion gives chroma 128 for every grey; 4:4:4 keeps it. The co-sited
  // MPEG-2 down-sampling filter's taps sum to 514/512, which lifts exactly 128
  // to 129; the MPEG-1 filter's sum to 512.
  const Case cases[] = {
      {"white 4:4:4", qe::kChroma444, false, 255, 234, 128},
      {"black 4:4:4", qe::kChroma444, false, 0, 16, 128},
      {"white 4:2:0", qe::kChroma420, false, 255, 234, 129},
      {"black 4:2:2", qe::kChroma422, false, 0, 16, 129},
      {"white MPEG-1", qe::kChroma420, true, 255, 234, 128},
      {"black MPEG-1", qe::kChroma420, true, 0, 16, 128},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    qe::Frame frame = configure(32, 16, c.chroma, qe::kInputPpm, c.mpeg1);
    encoder_test::writePpm(dir_.file("grey.ppm"), 32, 16,
                           std::vector<std::uint8_t>(32 * 16 * 3, c.rgb));
    qe::read_frame(dir_.file("grey"), frame);
    for (std::uint8_t v : frame.plane[0]) ASSERT_EQ(v, c.luma);
    for (int k = 1; k < 3; ++k) {
      for (std::uint8_t v : frame.plane[k]) ASSERT_EQ(v, c.chromaValue);
    }
  }
}

TEST_F(EncoderFrameInput, PrimariesFollowTheMatrixWeights) {
  qe::Frame frame = configure(16, 16, qe::kChroma444, qe::kInputPpm);
  std::vector<std::uint8_t> red(16 * 16 * 3, 0);
  for (std::size_t k = 0; k < red.size(); k += 3) red[k] = 255;
  encoder_test::writePpm(dir_.file("red.ppm"), 16, 16, red);
  qe::read_frame(dir_.file("red"), frame);
  // y = 0.299 * 255; v = 0.5 / (1 - 0.299) * (255 - y); u = 0.5 / (1 - 0.114) * (0 - y).
  const double y = 0.299 * 255;
  EXPECT_EQ(frame[0][0], static_cast<int>(219.0 / 256 * y + 16.5));
  EXPECT_EQ(frame[1][0], static_cast<int>(224.0 / 256 * (0.5 / 0.886 * -y) + 128.5));
  EXPECT_EQ(frame[2][0], static_cast<int>(224.0 / 256 * (0.5 / 0.701 * (255 - y)) + 128.5));
}

TEST_F(EncoderFrameInput, HeaderCommentsAndShortFiles) {
  const std::vector<std::uint8_t> rgb = randomRgb(32, 16, 2);
  qe::Frame plain = configure(32, 16, qe::kChroma420, qe::kInputPpm);
  encoder_test::writePpm(dir_.file("plain.ppm"), 32, 16, rgb);
  qe::read_frame(dir_.file("plain"), plain);

  qe::Frame commented = plain;
  encoder_test::writePpm(dir_.file("commented.ppm"), 32, 16, rgb,
                         "P6\n# written by hand\n32 16\r\n#another\n255\n");
  qe::read_frame(dir_.file("commented"), commented);
  EXPECT_EQ(commented.plane, plain.plane);

  // A truncated file reads black where the data stops.
  qe::Frame truncated = plain;
  encoder_test::writePpm(dir_.file("short.ppm"), 32, 16,
                         std::vector<std::uint8_t>(rgb.begin(), rgb.begin() + 32 * 3 * 4));
  qe::read_frame(dir_.file("short"), truncated);
  EXPECT_TRUE(std::equal(truncated.plane[0].begin(), truncated.plane[0].begin() + 32 * 4,
                         plain.plane[0].begin()));
  for (std::size_t k = 32 * 4; k < truncated.plane[0].size(); ++k)
    ASSERT_EQ(truncated.plane[0][k], 16) << k;
}

TEST(EncoderChromaFilters, EdgeTapsRepeatTheLastSample) {
  const Clip clip;
  constexpr int kWidth = 16;
  struct Case {
    const char* name;
    bool mpeg1;
    int at;      // the only non-zero input sample
    int output;  // output sample checked
    std::uint8_t expected;
  };
  // MPEG-2 at the right edge: 22 - 52 + 159 taps see the repeated last sample,
  // (255 * 129 + 256) >> 9 = 64; at the left edge the centre tap joins them:
  // (255 * 385 + 256) >> 9 = 192. MPEG-1 at the right edge: 228 + 70 - 37 - 21 +
  // 11 + 5 = 256 taps, (255 * 256 + 256) >> 9 = 128.
  const Case cases[] = {
      {"MPEG-2 right edge", false, kWidth - 1, kWidth / 2 - 1, 64},
      {"MPEG-2 left edge", false, 0, 0, 192},
      {"MPEG-1 right edge", true, kWidth - 1, kWidth / 2 - 1, 128},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> row(kWidth, 0);
    row[static_cast<std::size_t>(c.at)] = 255;
    std::vector<std::uint8_t> out(kWidth / 2, 0xEE);
    qe::filter_horizontal(row.data(), out.data(), kWidth, 1, c.mpeg1, clip.get());
    EXPECT_EQ(out[static_cast<std::size_t>(c.output)], c.expected);
  }

  // Vertical, one column of 32 rows with only the last row set.
  constexpr int kHeight = 32;
  std::vector<std::uint8_t> column(kHeight, 0);
  column[kHeight - 1] = 255;
  std::vector<std::uint8_t> out(kHeight / 2, 0xEE);
  qe::filter_vertical(column.data(), out.data(), 1, kHeight, true, clip.get());
  // Progressive: the 228 tap on the last row, 70 - 37 - 21 + 11 + 5 on its repeats.
  EXPECT_EQ(out[kHeight / 2 - 1], 128);
  EXPECT_EQ(out[kHeight / 2 - 4], 0);

  std::fill(out.begin(), out.end(), 0xEE);
  qe::filter_vertical(column.data(), out.data(), 1, kHeight, false, clip.get());
  // Field-based: the last bottom-field output takes 8 + 5 - 30 - 18 + 113 + 242
  // from the repeated last odd row; the top field never sees it.
  EXPECT_EQ(out[kHeight / 2 - 1], (255 * 320 + 256) >> 9);
  EXPECT_EQ(out[kHeight / 2 - 2], 0);
  for (std::uint8_t v : out) EXPECT_NE(v, 0xEE);
}

TEST(EncoderChromaFilters, ConstantPlanesStayConstant) {
  const Clip clip;
  const std::vector<std::uint8_t> grey(64 * 32, 90);
  for (bool mpeg1 : {false, true}) {
    std::vector<std::uint8_t> half(32 * 32, 0);
    qe::filter_horizontal(grey.data(), half.data(), 64, 32, mpeg1, clip.get());
    // The co-sited filter's taps sum to 514: a constant 90 rounds to 90 still.
    for (std::uint8_t v : half) ASSERT_EQ(v, 90);
  }
  for (bool progressive : {false, true}) {
    std::vector<std::uint8_t> quarter(32 * 16, 0);
    qe::filter_vertical(grey.data(), quarter.data(), 32, 32, progressive, clip.get());
    for (std::uint8_t v : quarter) ASSERT_EQ(v, 90);
  }
}

// The filters written the plain way, index by clamped index, as the formulas read.
std::vector<std::uint8_t> plainHorizontal(const std::vector<std::uint8_t>& in, int width,
                                          int height, bool mpeg1, const std::uint8_t* clip) {
  std::vector<std::uint8_t> out(static_cast<std::size_t>(width / 2) * height);
  for (int j = 0; j < height; ++j) {
    const auto s = [&](int i) {
      return in[static_cast<std::size_t>(j * width + std::clamp(i, 0, width - 1))];
    };
    for (int i = 0; i + 1 < width; i += 2) {
      const int sum = mpeg1 ? 228 * (s(i) + s(i + 1)) + 70 * (s(i - 1) + s(i + 2)) -
                                  37 * (s(i - 2) + s(i + 3)) - 21 * (s(i - 3) + s(i + 4)) +
                                  11 * (s(i - 4) + s(i + 5)) + 5 * (s(i - 5) + s(i + 6))
                            : 22 * (s(i - 5) + s(i + 5)) - 52 * (s(i - 3) + s(i + 3)) +
                                  159 * (s(i - 1) + s(i + 1)) + 256 * s(i);
      out[static_cast<std::size_t>(j * (width / 2) + i / 2)] = clip[(sum + 256) >> 9];
    }
  }
  return out;
}

std::vector<std::uint8_t> plainVertical(const std::vector<std::uint8_t>& in, int width, int height,
                                        bool progressive, const std::uint8_t* clip) {
  std::vector<std::uint8_t> out(static_cast<std::size_t>(width) * (height / 2));
  const int taps[12] = {8, 5, -30, -18, 113, 242, 192, 35, -38, -10, 11, 2};
  for (int i = 0; i < width; ++i) {
    const auto s = [&](int j, int low, int high) {
      return in[static_cast<std::size_t>(std::clamp(j, low, high) * width + i)];
    };
    const auto put = [&](int j, int sum) {
      out[static_cast<std::size_t>(j * width + i)] = clip[(sum + 256) >> 9];
    };
    if (progressive) {
      for (int j = 0; j + 1 < height; j += 2) {
        const auto p = [&](int r) { return s(r, 0, height - 1); };
        put(j / 2, 228 * (p(j) + p(j + 1)) + 70 * (p(j - 1) + p(j + 2)) -
                       37 * (p(j - 2) + p(j + 3)) - 21 * (p(j - 3) + p(j + 4)) +
                       11 * (p(j - 4) + p(j + 5)) + 5 * (p(j - 5) + p(j + 6)));
      }
      continue;
    }
    for (int j = 0; j + 1 < height; j += 4) {
      int top = 0, bottom = 0;
      for (int k = 0; k < 12; ++k) {
        top += taps[k] * s(j - 10 + 2 * k, 0, height - 2);
        bottom += taps[k] * s(j + 13 - 2 * k, 1, height - 1);
      }
      put(j / 2, top);
      if (j / 2 + 1 < height / 2) put(j / 2 + 1, bottom);
    }
  }
  return out;
}

TEST(EncoderChromaFilters, MatchThePlainFormulasOnRandomPlanes) {
  const Clip clip;
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  struct Size {
    int width, height;
  };
  for (const Size size :
       {Size{2, 2}, Size{4, 6}, Size{6, 4}, Size{16, 8}, Size{34, 14}, Size{176, 64}}) {
    SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
    std::vector<std::uint8_t> plane(static_cast<std::size_t>(size.width) * size.height);
    for (auto& v : plane)
      v = static_cast<std::uint8_t>(random() % 3 == 0 ? (random() % 2) * 255 : random());
    for (bool variant : {false, true}) {
      std::vector<std::uint8_t> half(static_cast<std::size_t>(size.width / 2) * size.height);
      qe::filter_horizontal(plane.data(), half.data(), size.width, size.height, variant,
                            clip.get());
      EXPECT_EQ(half, plainHorizontal(plane, size.width, size.height, variant, clip.get()))
          << "mpeg1 " << variant;
      std::vector<std::uint8_t> quarter(static_cast<std::size_t>(size.width) * (size.height / 2));
      qe::filter_vertical(plane.data(), quarter.data(), size.width, size.height, variant,
                          clip.get());
      EXPECT_EQ(quarter, plainVertical(plane, size.width, size.height, variant, clip.get()))
          << "progressive " << variant;
    }
  }
}

TEST_F(EncoderFrameInput, RawInputsReadPlanesAndExtendThem) {
  // 20 x 10 in 4:2:0 codes as 32 x 16 luma and 16 x 8 chroma, with 10 x 5 chroma
  // samples of picture.
  std::vector<std::uint8_t> y(20 * 10), u(10 * 5), v(10 * 5);
  for (std::size_t k = 0; k < y.size(); ++k) y[k] = static_cast<std::uint8_t>(k);
  for (std::size_t k = 0; k < u.size(); ++k) u[k] = static_cast<std::uint8_t>(100 + k);
  for (std::size_t k = 0; k < v.size(); ++k) v[k] = static_cast<std::uint8_t>(200 - k);
  test_support::writeFileBytes(dir_.file("sep.Y"), y);
  test_support::writeFileBytes(dir_.file("sep.U"), u);
  test_support::writeFileBytes(dir_.file("sep.V"), v);
  std::vector<std::uint8_t> all = y;
  all.insert(all.end(), u.begin(), u.end());
  all.insert(all.end(), v.begin(), v.end());
  test_support::writeFileBytes(dir_.file("one.yuv"), all);

  struct Case {
    const char* name;
    int inputType;
  };
  for (const Case& c :
       {Case{"separate files", qe::kInputSeparateYuv}, Case{"one file", qe::kInputSingleYuv}}) {
    SCOPED_TRACE(c.name);
    qe::Frame frame = configure(20, 10, qe::kChroma420, c.inputType);
    qe::read_frame(dir_.file(c.inputType == qe::kInputSeparateYuv ? "sep" : "one"), frame);
    EXPECT_EQ(frame[0][0], 0);
    EXPECT_EQ(frame[0][32 + 19], 39);
    EXPECT_EQ(frame[0][32 + 31], 39);       // right border
    EXPECT_EQ(frame[0][15 * 32 + 5], 185);  // bottom border repeats row 9
    EXPECT_EQ(frame[1][4 * 16 + 9], 149);
    EXPECT_EQ(frame[1][7 * 16 + 15], 149);
    EXPECT_EQ(frame[2][0], 200);
    EXPECT_EQ(frame[2][7 * 16 + 0], 160);
  }
}

TEST_F(EncoderFrameInput, WholeMacroblockRawFramesReadEveryPlaneAndZeroWhatIsMissing) {
  // 32 x 16 in 4:2:0 needs no border: each plane is read in one piece. A file cut
  // short leaves the rest of the frame 0, whichever plane the cut falls in.
  constexpr std::size_t kLuma = 32 * 16, kChroma = 16 * 8, kFrame = kLuma + 2 * kChroma;
  std::vector<std::uint8_t> samples(kFrame);
  for (std::size_t k = 0; k < kFrame; ++k) samples[k] = static_cast<std::uint8_t>(1 + k % 251);
  const std::size_t lengths[] = {kFrame, kLuma / 2 + 3, kLuma + kChroma / 3, 0};
  for (const std::size_t length : lengths) {
    SCOPED_TRACE(length);
    test_support::writeFileBytes(
        dir_.file("cut.yuv"),
        std::vector<std::uint8_t>(samples.begin(),
                                  samples.begin() + static_cast<std::ptrdiff_t>(length)));
    qe::Frame frame = configure(32, 16, qe::kChroma420, qe::kInputSingleYuv);
    qe::read_frame(dir_.file("cut"), frame);
    std::vector<std::uint8_t> read(frame[0], frame[0] + kLuma);
    read.insert(read.end(), frame[1], frame[1] + kChroma);
    read.insert(read.end(), frame[2], frame[2] + kChroma);
    for (std::size_t k = 0; k < kFrame; ++k) {
      ASSERT_EQ(read[k], k < length ? samples[k] : 0) << "sample " << k;
    }
  }
}

TEST_F(EncoderFrameInput, MissingSourceIsFatal) {
  struct Case {
    int inputType;
    const char* message;
  };
  const Case cases[] = {
      {qe::kInputPpm, "Couldn't open .*absent\\.ppm"},
      {qe::kInputSeparateYuv, "Couldn't open .*absent\\.Y"},
      {qe::kInputSingleYuv, "Couldn't open .*absent\\.yuv"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    qe::Frame frame = configure(32, 16, qe::kChroma420, c.inputType);
    EXPECT_EXIT(qe::read_frame(dir_.file("absent"), frame), testing::ExitedWithCode(1), c.message);
  }
}

}  // namespace
