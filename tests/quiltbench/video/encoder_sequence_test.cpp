// The encoder's sequence loop: coding order, picture types and groups of
// pictures as a function, then whole encodes checked through the pictures in the
// stream, the statistics text and the reconstructed-frame files.
#include "quiltbench/video/encoder_sequence.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "quiltbench/video/encoder_entry.h"
#include "quiltbench/video/encoder_statistics.h"
#include "tests/quiltbench/video/encoder_test_files.h"
#include "tests/support/test_support.h"

namespace qe = quiltbench::encoder;

namespace {

char typeLetter(int type) { return " IPB"[type]; }

// "I0 P3 B1 ..." for the first `count` pictures of a plan.
std::string codingOrder(int N, int M, int count) {
  std::string order;
  for (int i = 0; i < count; ++i) {
    const qe::PicturePlan plan = qe::plan_picture(i, N, M, count);
    if (!order.empty()) order += ' ';
    order += typeLetter(plan.type) + std::to_string(plan.display);
  }
  return order;
}

TEST(EncoderCodingOrder, TwelveThreeTwentyFrames) {
  EXPECT_EQ(codingOrder(12, 3, 20),
            "I0 P3 B1 B2 P6 B4 B5 P9 B7 B8 I12 B10 B11 P15 B13 B14 P18 B16 B17 P19");

  struct Expected {
    int index, groupFirst, temporalReference, motionRecord;
  };
  const Expected expected[] = {
      {0, 0, 0, -1},  {1, 0, 3, 0},   {2, 0, 1, 1},   {3, 0, 2, 2},   {10, 10, 2, -1},
      {11, 10, 0, 1}, {12, 10, 1, 2}, {13, 10, 5, 0}, {19, 10, 9, 0},
  };
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.index);
    const qe::PicturePlan plan = qe::plan_picture(e.index, 12, 3, 20);
    EXPECT_EQ(plan.groupFirst, e.groupFirst);
    EXPECT_EQ(plan.display - plan.groupFirst, e.temporalReference);
    EXPECT_EQ(plan.motionRecord, e.motionRecord);
  }

  const qe::PicturePlan first = qe::plan_picture(0, 12, 3, 20);
  EXPECT_TRUE(first.startsGroup);
  EXPECT_TRUE(first.closedGop);
  EXPECT_EQ(first.groupFrames, 10);
  EXPECT_EQ(first.groupP, 3);
  EXPECT_EQ(first.groupB, 6);
  const qe::PicturePlan second = qe::plan_picture(10, 12, 3, 20);
  EXPECT_TRUE(second.startsGroup);
  EXPECT_FALSE(second.closedGop);
  EXPECT_EQ(second.groupFrames, 10);
  EXPECT_EQ(second.groupP, 3);
  EXPECT_EQ(second.groupB, 6);
}

TEST(EncoderCodingOrder, ShortGroupsAndNoBPictures) {
  struct Case {
    int N, M, count;
    const char* order;
  };
  const Case cases[] = {
      {4, 1, 6, "I0 P1 P2 P3 I4 P5"},
      {1, 1, 4, "I0 I1 I2 I3"},
      {12, 3, 14, "I0 P3 B1 B2 P6 B4 B5 P9 B7 B8 I12 B10 B11 P13"},
      {12, 3, 11, "I0 P3 B1 B2 P6 B4 B5 P9 B7 B8 I10"},
      {6, 3, 3, "I0 P2 B1"},
      {3, 3, 7, "I0 I3 B1 B2 I6 B4 B5"},
      {6, 2, 1, "I0"},
      {INT_MAX, INT_MAX, 3, "I0 I2 B1"},  // no overflow in i + M - 1
      {INT_MAX, 1, 4, "I0 P1 P2 P3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.order);
    EXPECT_EQ(codingOrder(c.N, c.M, c.count), c.order);
  }
}

// Over many shapes: every frame is coded once, each B picture lies between the
// two references coded before it, and every group's announced P and B counts are
// the pictures actually coded in it (rate control budgets by them).
TEST(EncoderCodingOrder, EveryFrameOnceAndGroupCountsMatch) {
  for (int N : {1, 2, 3, 4, 6, 9, 12, 15}) {
    for (int M = 1; M <= N; ++M) {
      if (N % M != 0) continue;
      for (int count = 1; count <= 40; ++count) {
        SCOPED_TRACE(std::to_string(N) + "/" + std::to_string(M) + "/" + std::to_string(count));
        std::vector<int> seen(static_cast<std::size_t>(count), 0);
        int previousReference = -1, lastReference = -1;
        int groupStart = -1, groupP = 0, groupB = 0;
        qe::PicturePlan group;
        const auto closeGroup = [&] {
          if (groupStart < 0) return;
          EXPECT_EQ(group.groupP, groupP);
          EXPECT_EQ(group.groupB, groupB);
          EXPECT_EQ(group.groupFrames, 1 + groupP + groupB);
        };
        for (int i = 0; i < count; ++i) {
          const qe::PicturePlan plan = qe::plan_picture(i, N, M, count);
          ASSERT_GE(plan.display, 0);
          ASSERT_LT(plan.display, count);
          ++seen[static_cast<std::size_t>(plan.display)];
          EXPECT_GE(plan.display, plan.groupFirst);
          if (plan.type == qe::kPictureB) {
            EXPECT_GT(plan.display, previousReference);
            EXPECT_LT(plan.display, lastReference);
            EXPECT_GE(plan.motionRecord, 1);
            EXPECT_LT(plan.motionRecord, M);
            ++groupB;
          } else {
            EXPECT_GT(plan.display, lastReference);
            previousReference = lastReference;
            lastReference = plan.display;
            if (plan.type == qe::kPictureI) {
              EXPECT_TRUE(plan.startsGroup);
              closeGroup();
              group = plan;
              groupStart = i;
              groupP = groupB = 0;
            } else {
              ++groupP;
            }
          }
        }
        closeGroup();
        for (int f = 0; f < count; ++f)
          EXPECT_EQ(seen[static_cast<std::size_t>(f)], 1) << "frame " << f;
      }
    }
  }
}

// The letters of the macroblock_type map, the counts and the mquant map, from
// hand-made macroblock records in two rows of five.
TEST(EncoderPictureStatistics, CountsAndMaps) {
  using qe::MacroblockInfo;
  const auto mb = [](int type, int motion, int mquant, int cbp = 0, bool skipped = false) {
    MacroblockInfo m;
    m.mb_type = type;
    m.motion_type = motion;
    m.mquant = mquant;
    m.cbp = cbp;
    m.skipped = skipped;
    return m;
  };
  const int F = qe::kMbForward, B = qe::kMbBackward, P = qe::kMbPattern, Q = qe::kMbQuant;
  const std::vector<MacroblockInfo> macroblocks = {
      mb(qe::kMbIntra, 0, 8, 0x3f),                   // I, blank
      mb(qe::kMbIntra | Q, 0, 10, 0x3f),              // I, Q
      mb(F | P, qe::kMotionFrame, 10, 0x01),          // F, blank
      mb(F, qe::kMotionField, 10),                    // f, N
      mb(F | P | Q, qe::kMotionDualPrime, 12, 0x30),  // p, Q
      mb(B | P, qe::kMotionField, 12, 0x02),          // b, blank
      mb(F | B, qe::kMotionFrame, 12),                // D, N
      mb(F | B | P, qe::kMotionField, 4, 0x01),       // d, blank
      mb(F, qe::kMotionFrame, 4, 0, true),            // S, N
      mb(P, 0, 4, 0x04),                              // 0, blank
  };
  qe::Sizes sizes;
  sizes.mb_width = 5;
  sizes.mb_height2 = 2;
  sizes.block_count = 6;
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  qe::print_picture_statistics(out, sizes, macroblocks);
  std::rewind(out);
  std::string text;
  for (int c; (c = std::fgetc(out)) != EOF;) text += static_cast<char>(c);
  std::fclose(out);
  EXPECT_EQ(text,
            "\npicture statistics:\n"
            " # of intra coded macroblocks:     2 (20.0%)\n"
            " # of coded blocks:               18 (30.0%)\n"
            " # of not coded macroblocks:       3 (30.0%)\n"
            " # of skipped macroblocks:         1 (10.0%)\n"
            " # of forw. pred. macroblocks:     4 (40.0%)\n"
            " # of backw. pred. macroblocks:    1 (10.0%)\n"
            " # of interpolated macroblocks:    2 (20.0%)\n"
            "\nmacroblock_type map:\n"
            "I  IQ F  fN pQ \n"
            "b  DN d  SN 0  \n"
            "\nmquant map:\n"
            "  8 10       12\n"
            " 12     4      \n");
}

TEST(EncoderPictureStatistics, FieldSnrReadsItsOwnRowsAndNeverDividesByZero) {
  // Rows hold 0, 10, 20, 30; the reconstruction differs only in the top field.
  std::vector<std::uint8_t> source(16), reconstruction(16);
  for (int k = 0; k < 16; ++k) {
    source[k] = static_cast<std::uint8_t>(10 * (k / 4));
    reconstruction[k] = static_cast<std::uint8_t>(source[k] + ((k / 4) % 2 == 0 ? 3 : 0));
  }
  const qe::PlaneSnr bottom = qe::plane_snr(source.data(), reconstruction.data(), 4, 4, 2, 1, 2);
  EXPECT_DOUBLE_EQ(bottom.variance, 100.0);
  EXPECT_DOUBLE_EQ(bottom.mse, 0.00001);
  const qe::PlaneSnr top = qe::plane_snr(source.data(), reconstruction.data(), 4, 4, 2, 0, 2);
  EXPECT_DOUBLE_EQ(top.variance, 100.0);
  EXPECT_DOUBLE_EQ(top.mse, 9.0);
  const qe::PlaneSnr frame = qe::plane_snr(source.data(), reconstruction.data(), 4, 4, 4, 0, 1);
  EXPECT_DOUBLE_EQ(frame.variance, 125.0);
  EXPECT_DOUBLE_EQ(frame.mse, 4.5);
}

TEST(EncoderPictureStatistics, SnrOfRandomPlanesMatchesThePlainSums) {
  // Planes as wide as the picture (read as one run) and wider ones with a
  // border that must not count, frames and both fields.
  struct Case {
    int stride, columns, rows, firstRow, rowStep;
  };
  const Case cases[] = {{352, 352, 9, 0, 1}, {176, 176, 7, 0, 1}, {48, 40, 6, 0, 1},
                        {64, 64, 5, 1, 2},   {64, 64, 5, 0, 2},   {37, 37, 3, 0, 1}};
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE(testing::Message() << "seed " << seed);
  std::mt19937 random(seed);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.stride << " " << c.columns << " " << c.rows);
    const std::size_t size = static_cast<std::size_t>(c.stride) * (c.firstRow + c.rows * c.rowStep);
    std::vector<std::uint8_t> source(size), reconstruction(size);
    for (std::size_t k = 0; k < size; ++k) {
      source[k] = static_cast<std::uint8_t>(random());
      reconstruction[k] = static_cast<std::uint8_t>(random());
    }
    double sum = 0, squares = 0, errors = 0;
    for (int j = 0; j < c.rows; ++j) {
      for (int i = 0; i < c.columns; ++i) {
        const std::size_t k = static_cast<std::size_t>(c.firstRow + j * c.rowStep) * c.stride + i;
        sum += source[k];
        squares += source[k] * source[k];
        errors += (source[k] - reconstruction[k]) * (source[k] - reconstruction[k]);
      }
    }
    const double n = static_cast<double>(c.columns) * c.rows;
    const qe::PlaneSnr snr = qe::plane_snr(source.data(), reconstruction.data(), c.stride,
                                           c.columns, c.rows, c.firstRow, c.rowStep);
    EXPECT_DOUBLE_EQ(snr.variance, squares / n - (sum / n) * (sum / n));
    EXPECT_DOUBLE_EQ(snr.mse, errors / n);
  }
}

// ---- Whole encodes --------------------------------------------------------------

struct StreamPicture {
  int temporalReference;
  int type;
  int structure;  // 3 without a picture coding extension
};

// The pictures of a stream, from their headers and picture coding extensions.
std::vector<StreamPicture> streamPictures(const std::vector<unsigned char>& s) {
  std::vector<StreamPicture> pictures;
  for (std::size_t k = 0; k + 6 < s.size(); ++k) {
    if (s[k] != 0 || s[k + 1] != 0 || s[k + 2] != 1) continue;
    const unsigned code = s[k + 3];
    if (code == 0x00) {
      pictures.push_back({(s[k + 4] << 2) | (s[k + 5] >> 6), (s[k + 5] >> 3) & 7, 3});
    } else if (code == 0xB5 && (s[k + 4] >> 4) == 8 && !pictures.empty() && k + 7 < s.size()) {
      // 4 bits id, 16 bits f_codes, 2 bits intra_dc_precision, 2 bits picture_structure.
      pictures.back().structure = s[k + 6] & 3;
    }
  }
  return pictures;
}

bool containsStartCode(const std::vector<unsigned char>& s, unsigned char code) {
  for (std::size_t k = 0; k + 3 < s.size(); ++k) {
    if (s[k] == 0 && s[k + 1] == 0 && s[k + 2] == 1 && s[k + 3] == code) return true;
  }
  return false;
}

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class EncoderSequence : public testing::Test {
 protected:
  // Writes `count` PPM frames of a moving square over noise.
  void writeFrames(int width, int height, int count) {
    std::mt19937 random(7);
    for (int f = 0; f < count; ++f) {
      std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
          const bool square = x >= 8 + 2 * f && x < 24 + 2 * f && y >= 8 + f && y < 24 + f;
          const std::size_t k = (static_cast<std::size_t>(y) * width + x) * 3;
          const int noise = static_cast<int>(random() % 16);
          rgb[k] = static_cast<std::uint8_t>(square ? 220 : 40 + 2 * x + noise);
          rgb[k + 1] = static_cast<std::uint8_t>(square ? 60 : 90 + y + noise);
          rgb[k + 2] = static_cast<std::uint8_t>(square ? 30 : 140 + noise);
        }
      }
      encoder_test::writePpm(dir_.file("frame" + std::to_string(f) + ".ppm"), width, height, rgb);
    }
  }

  encoder_test::ParameterFile parameters(int frames) {
    encoder_test::ParameterFile file = encoder_test::baseParameters();
    file.set(2, dir_.file("frame%d"))
        .set(3, dir_.file("recon%d"))
        .set(6, dir_.file("stats.txt"))
        .set(8, std::to_string(frames));
    return file;
  }

  // Encodes with `file` and returns the stream.
  std::vector<unsigned char> encode(const encoder_test::ParameterFile& file,
                                    std::string* progress = nullptr) {
    file.write(dir_.file("test.par"));
    testing::internal::CaptureStderr();
    const int result = qe::encode_mpeg2_file(dir_.file("test.par"), dir_.file("out.m2v"));
    const std::string text = testing::internal::GetCapturedStderr();
    if (progress != nullptr) *progress = text;
    EXPECT_EQ(result, 0);
    return test_support::readFileBytes(dir_.file("out.m2v"));
  }

  test_support::TempDir dir_;
};

TEST_F(EncoderSequence, AStreamThatCannotBeWrittenLeavesTheOldOutputAndNoTemporary) {
  writeFrames(64, 48, 5);
  encoder_test::ParameterFile file = encoder_test::baseParameters();
  file.set(2, dir_.file("frame%d")).set(8, "5");
  file.write(dir_.file("test.par"));
  const std::vector<unsigned char> old(1000, 0x42);
  test_support::writeFileBytes(dir_.file("out.m2v"), old);
  testing::internal::CaptureStderr();
  const int status = test_support::runWithFileSizeLimit(2048, [&] {
    return qe::encode_mpeg2_file(dir_.file("test.par"), dir_.file("out.m2v")) == 0 ? 0 : 2;
  });
  const std::string text = testing::internal::GetCapturedStderr();
  EXPECT_EQ(status, 1) << "the encoder's fatal exit";
  EXPECT_NE(text.find("Couldn't write"), std::string::npos) << text;
  EXPECT_EQ(test_support::readFileBytes(dir_.file("out.m2v")), old);
  EXPECT_TRUE(test_support::hiddenFiles(dir_.path()).empty());
  // Without the limit the stream replaces the old file.
  EXPECT_GT(encode(file).size(), 2048u);
  EXPECT_TRUE(test_support::hiddenFiles(dir_.path()).empty());
}

TEST_F(EncoderSequence, FramePicturesInCodingOrderWithStatistics) {
  writeFrames(64, 48, 5);
  std::string progress;
  const std::vector<unsigned char> stream = encode(parameters(5), &progress);
  EXPECT_EQ(
      progress,
      "Encoding frame 0 Encoding frame 1 Encoding frame 2 Encoding frame 3 Encoding frame 4 ");

  const std::vector<StreamPicture> pictures = streamPictures(stream);
  ASSERT_EQ(pictures.size(), 5u);
  // I0 P3 B1 B2 P4
  const int types[] = {qe::kPictureI, qe::kPictureP, qe::kPictureB, qe::kPictureB, qe::kPictureP};
  const int references[] = {0, 3, 1, 2, 4};
  for (std::size_t k = 0; k < pictures.size(); ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(pictures[k].type, types[k]);
    EXPECT_EQ(pictures[k].temporalReference, references[k]);
    EXPECT_EQ(pictures[k].structure, qe::kFramePicture);
  }
  EXPECT_TRUE(containsStartCode(stream, 0xB2));  // the description as user data
  EXPECT_EQ(stream.size() >= 4 ? stream[stream.size() - 1] : 0, 0xB7);  // sequence end

  const std::string stats = readText(dir_.file("stats.txt"));
  EXPECT_NE(
      stats.find(
          "\nFrame 2 (#1 in display order):\n picture_type=B\n temporal_reference=1\n"
          " frame_pred_frame_dct=1\n q_scale_type=0\n intra_vlc_format=0\n alternate_scan=0\n"
          " forward search window: -3...3 / -3...3\n forward vector range: -8...7.5 / -8...7.5\n"
          " backward search window: -7...7 / -7...7\n backward vector range: -8...7.5 / "
          "-8...7.5\n"),
      std::string::npos)
      << stats.substr(0, 2000);
  EXPECT_NE(stats.find("\nFrame 1 (#3 in display order):\n picture_type=P\n"), std::string::npos);
  EXPECT_NE(stats.find(" forward search window: -11...11 / -11...11\n forward vector range: "
                       "-16...15.5 / -16...15.5\n"),
            std::string::npos);
  // The first picture's SNR lines, then its statistics.
  const std::size_t snr = stats.find("Y: variance=");
  ASSERT_NE(snr, std::string::npos);
  std::istringstream lines(stats.substr(snr));
  std::string line;
  for (const char* plane : {"Y", "U", "V"}) {
    SCOPED_TRACE(plane);
    ASSERT_TRUE(std::getline(lines, line));
    double variance, mse, db, ratio;
    const std::string format = std::string(plane) + ": variance=%lf, MSE=%lf (%lf dB), SNR=%lf dB";
    EXPECT_EQ(std::sscanf(line.c_str(), format.c_str(), &variance, &mse, &db, &ratio), 4) << line;
    EXPECT_GT(db, 30.0);
  }
  const std::vector<std::string> expected = {
      "", "picture statistics:", " # of intra coded macroblocks:    12 (100.0%)"};
  for (const std::string& text : expected) {
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(line, text);
  }
  // Four macroblocks a row, three rows, in both maps.
  const std::size_t map = stats.find("\nmacroblock_type map:\n");
  ASSERT_NE(map, std::string::npos);
  std::istringstream maps(stats.substr(map + 1));
  std::getline(maps, line);
  for (int row = 0; row < 3; ++row) {
    ASSERT_TRUE(std::getline(maps, line));
    ASSERT_EQ(line.size(), 12u) << line;
    for (int k = 0; k < 4; ++k) {
      EXPECT_EQ(line[3 * k], 'I');
      EXPECT_NE(std::string(" Q").find(line[3 * k + 1]), std::string::npos) << line;
      EXPECT_EQ(line[3 * k + 2], ' ');
    }
  }
  ASSERT_TRUE(std::getline(maps, line));
  EXPECT_EQ(line, "");
  ASSERT_TRUE(std::getline(maps, line));
  EXPECT_EQ(line, "mquant map:");
  for (int row = 0; row < 3; ++row) {
    ASSERT_TRUE(std::getline(maps, line));
    ASSERT_EQ(line.size(), 12u) << line;
    EXPECT_GT(std::atoi(line.substr(0, 3).c_str()), 0) << line;
  }

  // Reconstructed frames without the macroblock border, in display numbering.
  for (int f = 0; f < 5; ++f) {
    SCOPED_TRACE(f);
    EXPECT_EQ(test_support::readFileBytes(dir_.file("recon" + std::to_string(f) + ".Y")).size(),
              64u * 48u);
    EXPECT_EQ(test_support::readFileBytes(dir_.file("recon" + std::to_string(f) + ".U")).size(),
              32u * 24u);
    EXPECT_EQ(test_support::readFileBytes(dir_.file("recon" + std::to_string(f) + ".V")).size(),
              32u * 24u);
  }
}

TEST_F(EncoderSequence, FieldPicturesCodeAnIFrameAsIAndPFields) {
  writeFrames(64, 48, 4);
  encoder_test::ParameterFile file = parameters(4);
  file.set(14, "1").set(25, "0").set(41, "0").set(34, "1").set(35, "0 0 0");
  std::string progress;
  const std::vector<unsigned char> stream = encode(file, &progress);
  EXPECT_NE(
      progress.find("Encoding frame 0 \nfirst field  (top) second field (bot) Encoding frame 1 "),
      std::string::npos)
      << progress;

  const std::vector<StreamPicture> pictures = streamPictures(stream);
  ASSERT_EQ(pictures.size(), 8u);
  // I0 P3 B1 B2, two fields each, top first; the I frame's second field is P.
  const int types[] = {qe::kPictureI, qe::kPictureP, qe::kPictureP, qe::kPictureP,
                       qe::kPictureB, qe::kPictureB, qe::kPictureB, qe::kPictureB};
  const int references[] = {0, 0, 3, 3, 1, 1, 2, 2};
  for (std::size_t k = 0; k < pictures.size(); ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(pictures[k].type, types[k]);
    EXPECT_EQ(pictures[k].temporalReference, references[k]);
    EXPECT_EQ(pictures[k].structure, k % 2 == 0 ? qe::kTopField : qe::kBottomField);
  }

  // Bottom field first swaps the structures.
  file.set(34, "0");
  const std::vector<StreamPicture> bottomFirst = streamPictures(encode(file));
  ASSERT_EQ(bottomFirst.size(), 8u);
  EXPECT_EQ(bottomFirst[0].structure, qe::kBottomField);
  EXPECT_EQ(bottomFirst[1].structure, qe::kTopField);
  EXPECT_EQ(bottomFirst[1].type, qe::kPictureP);
}

TEST_F(EncoderSequence, NewlineOnlyDescriptionWritesNoUserData) {
  writeFrames(64, 48, 1);
  encoder_test::ParameterFile file = parameters(1);
  file.set(1, "").set(3, "-").set(6, "-");
  // Statistics go to the standard output with "-".
  testing::internal::CaptureStdout();
  const std::vector<unsigned char> stream = encode(file);
  const std::string stats = testing::internal::GetCapturedStdout();
  EXPECT_FALSE(containsStartCode(stream, 0xB2));
  EXPECT_EQ(streamPictures(stream).size(), 1u);
  EXPECT_NE(stats.find("\nFrame 0 (#0 in display order):\n picture_type=I\n"), std::string::npos);
  EXPECT_FALSE(std::ifstream(dir_.file("recon0.Y")).good());
}

TEST_F(EncoderSequence, TwoEncodesInOneProcessOfDifferentSizes) {
  writeFrames(64, 48, 2);
  const std::vector<unsigned char> first = encode(parameters(2));
  writeFrames(96, 64, 2);
  encoder_test::ParameterFile larger = parameters(2);
  larger.set(15, "96").set(16, "64").set(31, "96").set(32, "64");
  const std::vector<unsigned char> second = encode(larger);
  EXPECT_EQ(streamPictures(second).size(), 2u);
  EXPECT_EQ(qe::g_encoder.sizes.mb_width, 6);
  EXPECT_EQ(qe::g_encoder.frames.newReference.plane[0].size(), 96u * 64u);
  EXPECT_EQ(test_support::readFileBytes(dir_.file("recon1.Y")).size(), 96u * 64u);
}

TEST_F(EncoderSequence, WindowsPathsOfThePipeline) {
  // The video pipeline's layout: "C:\_MPEG.par" naming frames "c:\_FrameData\<n>".
  std::filesystem::create_directories(dir_.path() / "_FrameData");
  std::vector<std::uint8_t> rgb(64 * 48 * 3, 100);
  for (int f = 0; f < 2; ++f) {
    encoder_test::writePpm(dir_.file("_FrameData/" + std::to_string(f) + ".ppm"), 64, 48, rgb);
  }
  encoder_test::ParameterFile file = encoder_test::baseParameters();
  file.set(2, "c:\\_FrameData\\%d").set(3, "-").set(6, "C:\\_stats.txt").set(8, "2");
  file.write(dir_.file("_MPEG.par"));
  ::setenv("WORKBENCH_DRIVE_C", dir_.path().c_str(), 1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(qe::encode_mpeg2_file("C:\\_MPEG.par", "C:\\result.mpg"), 0);
  testing::internal::GetCapturedStderr();
  ::unsetenv("WORKBENCH_DRIVE_C");
  EXPECT_EQ(streamPictures(test_support::readFileBytes(dir_.file("result.mpg"))).size(), 2u);
  EXPECT_NE(readText(dir_.file("_stats.txt")).find("picture_type=P"), std::string::npos);
}

TEST_F(EncoderSequence, OutputFilesThatCannotBeCreatedAreFatal) {
  writeFrames(64, 48, 1);
  std::filesystem::copy_file(dir_.file("frame0.ppm"),
                             dir_.file("frame" + std::to_string(INT_MAX) + ".ppm"));
  const std::string missing = dir_.file("no/such/folder/");
  struct Case {
    const char* name;
    int line;
    std::string value;
    std::string output;
    const char* message;
  };
  const Case cases[] = {
      {"stream", 3, "-", missing + "out.m2v", "Couldn't create output file .*out\\.m2v"},
      {"statistics", 6, missing + "stats.txt", dir_.file("out.m2v"),
       "Couldn't create statistics output file .*stats\\.txt"},
      {"reconstruction", 3, missing + "recon%d", dir_.file("out.m2v"),
       "Couldn't create .*recon0\\.Y"},
      {"source frame", 2, dir_.file("absent%d"), dir_.file("out.m2v"),
       "Couldn't open .*absent0\\.ppm"},
      {"frame number beyond int", 9, std::to_string(INT_MAX), dir_.file("out.m2v"),
       "Frame number 2147483648 is out of range"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    encoder_test::ParameterFile file = parameters(2);
    file.set(c.line, c.value);
    file.write(dir_.file("fatal.par"));
    EXPECT_EXIT(qe::encode_mpeg2_file(dir_.file("fatal.par"), c.output), testing::ExitedWithCode(1),
                c.message);
  }
}

}  // namespace
