// The encoder's parameter file: every fatal check (exit status 1 and its text),
// every correction (its warning and the corrected value), the quantiser matrices
// and the file-name patterns.
#include "quiltbench/video/encoder_parameters.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/quiltbench/video/encoder_test_files.h"
#include "tests/support/test_support.h"

namespace qe = quiltbench::encoder;
using encoder_test::baseParameters;
using encoder_test::ParameterFile;

namespace {

std::string escapeRegex(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) out += '\\';
    out += c;
  }
  return out;
}

struct Edit {
  int line;
  std::string text;
};

ParameterFile edited(const std::vector<Edit>& edits, const std::vector<std::string>& motion = {}) {
  ParameterFile file = baseParameters();
  if (!motion.empty()) file.motion(motion);
  for (const Edit& e : edits) file.set(e.line, e.text);
  return file;
}

qe::EncoderParameters readParameters(const ParameterFile& file, std::string* warnings = nullptr) {
  test_support::TempDir dir;
  const std::string path = dir.file("test.par");
  file.write(path);
  qe::EncoderParameters params;
  testing::internal::CaptureStderr();
  qe::read_encoder_parameters(path, params);
  const std::string text = testing::internal::GetCapturedStderr();
  if (warnings != nullptr) *warnings = text;
  return params;
}

const std::vector<std::string> kMpeg1Records = {"2 2 11 11", "1 1 3 3", "1 1 7 7", "1 1 7 7",
                                                "1 1 3 3"};

struct FatalCase {
  const char* name;
  std::vector<Edit> edits;
  std::vector<std::string> motion;
  const char* message;
};

// MPEG-1 lines shared by the MPEG-1 cases.
std::vector<Edit> mpeg1(std::vector<Edit> more) {
  more.insert(more.begin(), Edit{13, "1"});
  return more;
}

const std::vector<FatalCase>& fatalCases() {
  static const std::vector<FatalCase> cases = {
      {"N zero", {{11, "0"}}, {}, "N must be positive"},
      {"M zero", {{12, "0"}}, {}, "M must be positive"},
      {"N not a multiple of M", {{11, "10"}}, {}, "N must be an integer multiple of M"},
      {"width zero", {{15, "0"}}, {}, "horizontal_size must be between 1 and 16383"},
      {"width 16384", {{15, "16384"}}, {}, "horizontal_size must be between 1 and 16383"},
      {"MPEG-1 width 4098",
       mpeg1({{15, "4098"}}),
       {},
       "horizontal_size must be less than 4096 (MPEG-1)"},
      {"width 8192", {{15, "8192"}}, {}, "horizontal_size must not be a multiple of 4096"},
      {"odd width 4:2:0", {{15, "65"}}, {}, "horizontal_size must be a even (4:2:0 / 4:2:2)"},
      {"odd width 4:2:2",
       {{15, "65"}, {26, "2"}},
       {},
       "horizontal_size must be a even (4:2:0 / 4:2:2)"},
      {"height zero", {{16, "0"}}, {}, "vertical_size must be between 1 and 16383"},
      {"MPEG-1 height 4098",
       mpeg1({{16, "4098"}}),
       {},
       "vertical size must be less than 4096 (MPEG-1)"},
      {"height 4096", {{16, "4096"}}, {}, "vertical_size must not be a multiple of 4096"},
      {"odd height 4:2:0", {{16, "47"}}, {}, "vertical_size must be a even (4:2:0)"},
      {"odd height field pictures",
       {{16, "47"}, {26, "2"}, {14, "1"}},
       {},
       "vertical_size must be a even (field pictures)"},
      {"height 578 4:2:0 fields",
       {{16, "578"}, {14, "1"}},
       {},
       "vertical_size must be a multiple of 4 (4:2:0 field pictures)"},
      {"MPEG-1 aspect 15",
       mpeg1({{17, "15"}}),
       {},
       "pel_aspect_ratio must be between 1 and 14 (MPEG-1)"},
      {"aspect 5", {{17, "5"}}, {}, "aspect_ratio_information must be 1, 2, 3 or 4"},
      {"frame rate code 9", {{18, "9"}}, {}, "frame_rate code must be between 1 and 8"},
      {"frame rate code 0", {{18, "0"}}, {}, "frame_rate code must be between 1 and 8"},
      {"bit rate zero", {{19, "0"}}, {}, "bit_rate must be positive"},
      {"bit rate 430 G", {{19, "430000000000"}}, {}, "bit_rate must be less than 429 Gbit/s"},
      {"MPEG-1 bit rate 105 M",
       mpeg1({{19, "105000000"}}),
       {},
       "bit_rate must be less than 104 Mbit/s (MPEG-1)"},
      {"vbv zero", {{20, "0"}}, {}, "vbv_buffer_size must be in range 1..(2^18-1)"},
      {"vbv 2^18", {{20, "262144"}}, {}, "vbv_buffer_size must be in range 1..(2^18-1)"},
      {"MPEG-1 vbv 1024",
       mpeg1({{20, "1024"}}),
       {},
       "vbv_buffer_size must be less than 1024 (MPEG-1)"},
      {"chroma format 4", {{26, "4"}}, {}, "chroma_format must be in range 1...3"},
      {"video format 5", {{27, "5"}}, {}, "video_format must be in range 0...4"},
      {"colour primaries 3", {{28, "3"}}, {}, "color_primaries must be in range 1...2 or 4...7"},
      {"transfer 8", {{29, "8"}}, {}, "transfer_characteristics must be in range 1...2 or 4...7"},
      {"matrix 0", {{30, "0"}}, {}, "matrix_coefficients must be in range 1...2 or 4...7"},
      {"display width 16384",
       {{31, "16384"}},
       {},
       "display_horizontal_size must be in range 0...16383"},
      {"display height -1", {{32, "-1"}}, {}, "display_vertical_size must be in range 0...16383"},
      {"dc precision 4", {{33, "4"}}, {}, "intra_dc_precision must be in range 0...3"},
      {"f_code 10", {{51, "10 2 11 11"}}, {}, "f_code must be between 1 and 9"},
      {"MPEG-1 f_code 8", mpeg1({{51, "8 2 11 11"}}), kMpeg1Records,
       "f_code must be le less than 8"},
      {"search width zero", {{51, "2 2 0 11"}}, {}, "search window must be positive"},
      {"backward f_code 0", {{53, "0 1 7 7"}}, {}, "f_code must be between 1 and 9"},
      {"backward search width zero", {{55, "1 1 3 0"}}, {}, "search window must be positive"},
      {"profile 16", {{23, "16"}}, {}, "profile must be between 0 and 15"},
      {"level 16", {{24, "16"}}, {}, "level must be between 0 and 15"},
      {"profile 6", {{23, "6"}}, {}, "undefined Profile"},
      {"profile 0", {{23, "0"}}, {}, "undefined Profile"},
      {"spatial profile",
       {{23, "2"}, {24, "6"}},
       {},
       "This encoder currently generates no scalable bitstreams"},
      {"level 5", {{24, "5"}}, {}, "undefined Level"},
      {"simple at high level", {{23, "5"}, {24, "4"}}, {}, "undefined profile@level combination"},
      {"high at low level", {{23, "1"}, {24, "10"}}, {}, "undefined profile@level combination"},
      {"simple with B pictures", {{23, "5"}}, {}, "Simple Profile does not allow B pictures"},
      {"main 4:2:2", {{26, "2"}}, {}, "chroma format must be 4:2:0 in specified Profile"},
      {"high 4:4:4",
       {{23, "1"}, {26, "3"}},
       {},
       "chroma format must be 4:2:0 or 4:2:2 in High Profile"},
      {"main repeat_first_field at 24 Hz",
       {{40, "1"}, {18, "2"}},
       {},
       "repeat_first_first must be zero"},
      {"main progressive repeat_first_field at 30 Hz",
       {{40, "1"}},
       {},
       "repeat_first_first must be zero"},
      {"main 11-bit DC", {{33, "3"}}, {}, "11 bit DC precision only allowed in High Profile"},
      {"main level 50 Hz",
       {{18, "6"}},
       {},
       "Picture rate greater than permitted in specified Level"},
      {"main level forward horizontal f_code 9",
       {{51, "9 2 11 11"}},
       {},
       "forward horizontal f_code greater than permitted in specified Level"},
      {"main level forward vertical f_code 6",
       {{51, "2 6 11 11"}},
       {},
       "forward vertical f_code greater than permitted in specified Level"},
      {"low level backward horizontal f_code 8",
       {{24, "10"}, {20, "29"}, {53, "8 1 7 7"}},
       {},
       "backward horizontal f_code greater than permitted in specified Level"},
      {"main level backward vertical f_code 6",
       {{53, "1 6 7 7"}},
       {},
       "backward vertical f_code greater than permitted in specified Level"},
      {"main level width 722",
       {{15, "722"}},
       {},
       "Horizontal size is greater than permitted in specified Level"},
      {"main level height 578",
       {{16, "578"}},
       {},
       "Vertical size is greater than permitted in specified Level"},
      {"main level sample rate",
       {{15, "720"}, {16, "576"}},
       {},
       "Sample rate is greater than permitted in specified Level"},
      {"main level bit rate",
       {{19, "15000001"}},
       {},
       "Bit rate is greater than permitted in specified Level"},
      {"main level vbv", {{20, "113"}}, {}, "vbv_buffer_size exceeds High Level limit"},
      {"frame pattern with a string conversion",
       {{2, "frame%s"}},
       {},
       "File name pattern frame%s must hold"},
      {"frame pattern with two conversions",
       {{2, "f%d_%d"}},
       {},
       "File name pattern f%d_%d must hold"},
      {"frame pattern writing memory", {{2, "f%n"}}, {}, "File name pattern f%n must hold"},
      {"frame pattern with a starred width", {{2, "f%*d"}}, {}, "File name pattern f%*d must hold"},
      {"frame pattern with a huge width",
       {{2, "f%99999d"}},
       {},
       "File name pattern f%99999d must hold"},
      {"frame pattern with a long conversion",
       {{2, "f%ld"}},
       {},
       "File name pattern f%ld must hold"},
      {"frame pattern ending in %", {{2, "f%"}}, {}, "File name pattern f% must hold"},
      {"recon pattern with a string conversion",
       {{3, "recon%s"}},
       {},
       "File name pattern recon%s must hold"},
      {"unreadable number", {{15, "wide"}}, {}, "Couldn't read line 15 of parameter file"},
      {"number beyond int", {{8, "99999999999"}}, {}, "Couldn't read line 8 of parameter file"},
      {"bit rate not a number", {{19, "nan"}}, {}, "Couldn't read line 19 of parameter file"},
      {"short triple", {{35, "1 1"}}, {}, "Couldn't read line 35 of parameter file"},
      {"time code without separators",
       {{10, "0 0 0 0"}},
       {},
       "Couldn't read line 10 of parameter file"},
      {"missing motion record",
       {},
       {"2 2 11 11", "1 1 3 3"},
       "Couldn't read line 53 of parameter file"},
  };
  return cases;
}

TEST(EncoderParametersDeathTest, EveryFatalCheckExitsWithItsMessage) {
  for (const FatalCase& c : fatalCases()) {
    SCOPED_TRACE(c.name);
    const ParameterFile file = edited(c.edits, c.motion);
    test_support::TempDir dir;
    const std::string path = dir.file("test.par");
    file.write(path);
    qe::EncoderParameters params;
    EXPECT_EXIT(qe::read_encoder_parameters(path, params), testing::ExitedWithCode(1),
                escapeRegex(c.message));
  }
}

TEST(EncoderParametersDeathTest, MissingAndTruncatedFilesAreFatal) {
  test_support::TempDir dir;
  qe::EncoderParameters params;
  EXPECT_EXIT(qe::read_encoder_parameters(dir.file("absent.par"), params),
              testing::ExitedWithCode(1), "Couldn't open parameter file .*absent\\.par");

  ParameterFile truncated = baseParameters();
  truncated.lines.resize(19);
  truncated.write(dir.file("short.par"));
  EXPECT_EXIT(qe::read_encoder_parameters(dir.file("short.par"), params),
              testing::ExitedWithCode(1), "Couldn't read line 20 of parameter file .*short\\.par");

  test_support::writeFileBytes(dir.file("empty.par"), {});
  EXPECT_EXIT(qe::read_encoder_parameters(dir.file("empty.par"), params),
              testing::ExitedWithCode(1), "Couldn't read line 1 of parameter file");
}

TEST(EncoderParameters, FatalErrorsThrowWhileTheCallerTakesThemBack) {
  test_support::TempDir dir;
  qe::EncoderParameters params;
  {
    qe::RecoverableEncoderErrors recoverable;
    EXPECT_THROW(qe::read_encoder_parameters(dir.file("absent.par"), params),
                 qe::EncoderFatalError);
  }
  EXPECT_FALSE(qe::RecoverableEncoderErrors::active());
}

TEST(EncoderParameters, ValidFileReadsEveryLine) {
  ParameterFile file = baseParameters();
  file.set(1, "clip one  # not a comment here")
      .set(2, "c:\\_FrameData\\%d   frame names")
      .set(8, "17 frames")
      .set(9, "4")
      .set(10, "01:02:03:04")
      .set(18, "3")
      .set(19, "3500000.5")
      .set(21, "7")
      .set(34, "0")
      .set(42, "5")
      .set(43, "100")
      .set(44, "250.5")
      .set(50, "-9");
  std::string warnings;
  const qe::EncoderParameters p = readParameters(file, &warnings);
  EXPECT_EQ(warnings, "");
  EXPECT_EQ(p.description, "clip one  # not a comment here\n");
  EXPECT_EQ(p.frame_name_pattern, "c:\\_FrameData\\%d");
  EXPECT_EQ(p.recon_name_pattern, "-");
  EXPECT_EQ(p.input_type, 2);
  EXPECT_EQ(p.frame_count, 17);
  EXPECT_EQ(p.first_frame_number, 4);
  EXPECT_EQ(p.N, 12);
  EXPECT_EQ(p.M, 3);
  EXPECT_DOUBLE_EQ(p.frame_rate, 25.0);
  EXPECT_EQ(p.start_time_code, ((1 * 60 + 2) * 60 + 3) * 25 + 4);
  EXPECT_DOUBLE_EQ(p.bit_rate, 3500000.5);
  EXPECT_EQ(p.low_delay, 1);  // flags are normalised to 0/1
  EXPECT_EQ(p.intra_slice_refresh, 5);
  EXPECT_EQ(p.r, 100);
  EXPECT_DOUBLE_EQ(p.avg_act, 250.5);
  EXPECT_EQ(p.d0b, -9);
  ASSERT_EQ(p.motion_data.size(), 3u);
  EXPECT_EQ(p.motion_data[0].forw_hor_f_code, 2);
  EXPECT_EQ(p.motion_data[0].sxf, 11);
  EXPECT_EQ(p.motion_data[1].syf, 3);
  EXPECT_EQ(p.motion_data[1].sxb, 7);
  EXPECT_EQ(p.motion_data[2].sxf, 7);
  EXPECT_EQ(p.motion_data[2].syb, 3);
}

TEST(EncoderParameters, FrameRateAndTimeCodeForEveryCode) {
  const double rates[] = {24000.0 / 1001, 24, 25, 30000.0 / 1001, 30, 50, 60000.0 / 1001, 60};
  for (int code = 1; code <= 8; ++code) {
    SCOPED_TRACE(code);
    // A High profile at High level accepts every frame rate.
    const qe::EncoderParameters p = readParameters(
        edited({{18, std::to_string(code)}, {23, "1"}, {24, "4"}, {10, "00:00:01:02"}}));
    EXPECT_DOUBLE_EQ(p.frame_rate, rates[code - 1]);
    EXPECT_EQ(p.start_time_code, static_cast<int>(rates[code - 1] + 0.5) + 2);
  }
  EXPECT_EQ(qe::frameRateForCode(0), 0.0);
  EXPECT_EQ(qe::frameRateForCode(9), 0.0);
}

struct WarningCase {
  const char* name;
  std::vector<Edit> edits;
  std::vector<std::string> motion;
  std::string warnings;
  std::function<void(const qe::EncoderParameters&)> check;
};

TEST(EncoderParameters, CorrectionsPrintTheirWarningsInOrder) {
  const std::vector<WarningCase> cases = {
      {"MPEG-1 field pictures of an interlaced sequence", mpeg1({{14, "1"}, {25, "0"}, {41, "0"}}),
       kMpeg1Records,
       "Warning: setting progressive_sequence = 1\n"
       "Warning: setting progressive_frame = 1\n"
       "Warning: setting field_pictures = 0\n",
       [](const qe::EncoderParameters& p) {
         EXPECT_EQ(p.progressive_sequence, 1);
         EXPECT_EQ(p.progressive_frame, 1);
         EXPECT_EQ(p.field_pictures, 0);
       }},
      {"MPEG-1 drops the MPEG-2 coding tools",
       mpeg1({{26, "2"}, {33, "1"}, {37, "1 0 1"}, {38, "0 1 0"}, {39, "1 1 1"}}), kMpeg1Records,
       "Warning: setting chroma_format = 1 (4:2:0)\n"
       "Warning: setting intra_dc_precision = 0\n"
       "Warning: setting qscale_tab[0] = 0\n"
       "Warning: setting altscan_tab[0] = 0\n"
       "Warning: setting intravlc_tab[1] = 0\n"
       "Warning: setting altscan_tab[1] = 0\n"
       "Warning: setting qscale_tab[2] = 0\n"
       "Warning: setting altscan_tab[2] = 0\n",
       [](const qe::EncoderParameters& p) {
         EXPECT_EQ(p.chroma_format, 1);
         EXPECT_EQ(p.intra_dc_precision, 0);
         for (int i = 0; i < 3; ++i) {
           EXPECT_EQ(p.qscale_tab[i], 0);
           EXPECT_EQ(p.intravlc_tab[i], 0);
           EXPECT_EQ(p.altscan_tab[i], 0);
         }
       }},
      {"MPEG-1 constrained parameters, picture too wide", mpeg1({{22, "1"}, {15, "800"}}),
       kMpeg1Records, "Warning: setting constrained_parameters_flag = 0\n",
       [](const qe::EncoderParameters& p) { EXPECT_EQ(p.constrained_parameters_flag, 0); }},
      {"MPEG-1 constrained parameters, backward f_code 5",
       mpeg1({{22, "1"}}),
       {"2 2 11 11", "1 1 3 3", "5 1 7 7", "1 1 7 7", "1 5 3 3"},
       "Warning: setting constrained_parameters_flag = 0\n",
       [](const qe::EncoderParameters& p) { EXPECT_EQ(p.constrained_parameters_flag, 0); }},
      {"MPEG-1 constrained parameters that hold", mpeg1({{22, "1"}}), kMpeg1Records, "",
       [](const qe::EncoderParameters& p) { EXPECT_EQ(p.constrained_parameters_flag, 1); }},
      {"MPEG-2 never sets constrained parameters",
       {{22, "1"}},
       {},
       "Warning: setting constrained_parameters_flag = 0\n",
       [](const qe::EncoderParameters& p) { EXPECT_EQ(p.constrained_parameters_flag, 0); }},
      {"interlaced frame without repeat_first_field",
       {{25, "0"}, {41, "0"}, {40, "1"}, {35, "0 0 0"}, {18, "3"}},
       {},
       "Warning: setting repeat_first_field = 0\n",
       [](const qe::EncoderParameters& p) {
         EXPECT_EQ(p.repeat_first_field, 0);
         EXPECT_EQ(p.frame_pred_frame_dct_tab[0], 0);
       }},
      {"progressive frames use frame prediction",
       {{35, "1 0 0"}},
       {},
       "Warning: setting frame_pred_frame_dct[1] = 1\n"
       "Warning: setting frame_pred_frame_dct[2] = 1\n",
       [](const qe::EncoderParameters& p) {
         for (int i = 0; i < 3; ++i) EXPECT_EQ(p.frame_pred_frame_dct_tab[i], 1);
       }},
      {"progressive sequence without repeat has no top field first",
       {{34, "1"}},
       {},
       "Warning: setting top_field_first = 0\n",
       [](const qe::EncoderParameters& p) { EXPECT_EQ(p.top_field_first, 0); }},
      {"search widths beyond their f_codes",
       {},
       {"2 2 20 15", "1 1 3 3", "1 1 7 9", "3 1 40 7", "1 1 3 3"},
       "Warning: reducing forward horizontal search width to 15\n"
       "Warning: reducing backward vertical search width to 7\n"
       "Warning: reducing forward horizontal search width to 31\n",
       [](const qe::EncoderParameters& p) {
         EXPECT_EQ(p.motion_data[0].sxf, 15);
         EXPECT_EQ(p.motion_data[0].syf, 15);
         EXPECT_EQ(p.motion_data[1].syb, 7);
         EXPECT_EQ(p.motion_data[2].sxf, 31);
       }},
      {"reserved profile skips every profile and level check",
       {{23, "8"}, {24, "0"}, {26, "3"}, {33, "3"}, {20, "5000"}},
       {},
       "Warning: profile uses a reserved value, conformance checks skipped\n",
       [](const qe::EncoderParameters& p) {
         EXPECT_EQ(p.profile, 8);
         EXPECT_EQ(p.chroma_format, 3);
       }},
      {"MPEG-1 skips the profile and level checks", mpeg1({{23, "0"}, {24, "0"}}), kMpeg1Records,
       "", [](const qe::EncoderParameters& p) { EXPECT_EQ(p.mpeg1, 1); }},
      {"flags normalise to 1",
       {{13, "0"}, {21, "-3"}, {37, "2 0 9"}, {25, "5"}, {41, "3"}},
       {},
       "",
       [](const qe::EncoderParameters& p) {
         EXPECT_EQ(p.low_delay, 1);
         EXPECT_EQ(p.qscale_tab[0], 1);
         EXPECT_EQ(p.qscale_tab[2], 1);
         EXPECT_EQ(p.progressive_sequence, 1);
         EXPECT_EQ(p.progressive_frame, 1);
       }},
  };
  for (const WarningCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string warnings;
    const qe::EncoderParameters p = readParameters(edited(c.edits, c.motion), &warnings);
    EXPECT_EQ(warnings, c.warnings);
    c.check(p);
  }
}

TEST(EncoderParameters, OverlongLineDoesNotSpillIntoTheNext) {
  const qe::EncoderParameters p =
      readParameters(edited({{1, std::string(400, 'x')}, {15, "32 " + std::string(300, '#')}}));
  EXPECT_EQ(p.description, std::string(253, 'x'));
  EXPECT_EQ(p.horizontal_size, 32);
  EXPECT_EQ(p.vertical_size, 48);
}

TEST(EncoderParameters, CrLfLinesAndANewlineOnlyDescription) {
  ParameterFile file = edited({{1, ""}});
  std::string text = file.text();
  // Windows line ends: every value still reads.
  std::string crlf;
  for (char c : text) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  test_support::TempDir dir;
  test_support::writeFileBytes(dir.file("crlf.par"),
                               std::vector<unsigned char>(crlf.begin(), crlf.end()));
  qe::EncoderParameters p;
  testing::internal::CaptureStderr();
  qe::read_encoder_parameters(dir.file("crlf.par"), p);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(p.description, "\r\n");
  EXPECT_EQ(p.frame_name_pattern, "frame%d");
  EXPECT_EQ(p.horizontal_size, 64);
  EXPECT_EQ(p.motion_data[2].syb, 3);

  EXPECT_EQ(readParameters(edited({{1, ""}})).description, "\n");
  // Zero bytes in the description would imitate a start code in the user data.
  EXPECT_EQ(readParameters(edited({{1, std::string("a\0\0\1b", 5)}})).description, "a\1b\n");
}

TEST(EncoderParameters, NamePatterns) {
  struct Case {
    const char* pattern;
    bool safe;
    int number;
    const char* name;
  };
  const Case cases[] = {
      {"frame%d", true, 7, "frame7"},
      {"c:\\_FrameData\\%d", true, 12, "c:\\_FrameData\\12"},
      {"f%03d", true, 5, "f005"},
      {"f%-4i|", true, 5, "f5   |"},
      {"f%.3x", true, 255, "f0ff"},
      {"100%% f%u", true, 3, "100% f3"},
      {"plain", true, 3, "plain"},
      {"%d%d", false, 0, ""},
      {"%s", false, 0, ""},
      {"%n", false, 0, ""},
      {"%hhd", false, 0, ""},
      {"%1000d", false, 0, ""},
      {"%.1000d", false, 0, ""},
      {"%*d", false, 0, ""},
      {"%", false, 0, ""},
      {"%5", false, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    EXPECT_EQ(qe::isSafeNamePattern(c.pattern), c.safe);
    if (c.safe) {
      EXPECT_EQ(qe::formatName(c.pattern, c.number), c.name);
    }
  }
}

TEST(EncoderParameters, RecordsAreReadAsTheyComeForAHugeM) {
  test_support::TempDir dir;
  edited({{11, "2000000000"}, {12, "1000000000"}}).write(dir.file("huge.par"));
  qe::EncoderParameters params;
  EXPECT_EXIT(qe::read_encoder_parameters(dir.file("huge.par"), params), testing::ExitedWithCode(1),
              "Couldn't read line 56 of parameter file");
}

TEST(EncoderQuantMatrices, DefaultsAndFiles) {
  test_support::TempDir dir;
  std::string intra, nonIntra;
  for (int k = 0; k < 64; ++k) {
    intra += std::to_string(k + 1) + (k % 8 == 7 ? "\n" : " ");
    nonIntra += std::to_string(255 - k) + "\t";
  }
  std::ofstream(dir.file("intra.mat")) << intra;
  std::ofstream(dir.file("non_intra.mat")) << nonIntra;

  qe::EncoderParameters p;
  p.intra_matrix_file = "-";
  p.non_intra_matrix_file = "-";
  qe::QuantMatrices m;
  qe::read_quant_matrices(p, m);
  EXPECT_FALSE(m.load_intra);
  EXPECT_FALSE(m.load_non_intra);
  EXPECT_EQ(m.intra[0], 8);
  EXPECT_EQ(m.intra[1], 16);
  EXPECT_EQ(m.intra[8], 16);
  EXPECT_EQ(m.intra[63], 83);
  for (int k = 0; k < 64; ++k) EXPECT_EQ(m.non_intra[k], 16);

  p.intra_matrix_file = dir.file("intra.mat");
  p.non_intra_matrix_file = dir.file("non_intra.mat");
  qe::read_quant_matrices(p, m);
  EXPECT_TRUE(m.load_intra);
  EXPECT_TRUE(m.load_non_intra);
  for (int k = 0; k < 64; ++k) {
    EXPECT_EQ(m.intra[k], k + 1);
    EXPECT_EQ(m.non_intra[k], 255 - k);
  }
}

TEST(EncoderQuantMatricesDeathTest, BadFilesAreFatal) {
  test_support::TempDir dir;
  struct Case {
    const char* name;
    std::string contents;  // empty: no file
    const char* message;
  };
  std::string sixtyFour;
  for (int k = 0; k < 64; ++k) sixtyFour += "16 ";
  const Case cases[] = {
      {"no file", "", "Couldn't open quant matrix file .*nofile"},
      {"value 0", "0 " + sixtyFour, "invalid value in quant matrix"},
      {"value 256", sixtyFour.substr(0, 60) + " 256 ", "invalid value in quant matrix"},
      {"63 values", sixtyFour.substr(3), "invalid value in quant matrix"},
      {"a word", "16 16 sixteen " + sixtyFour, "invalid value in quant matrix"},
      {"a huge value", "99999999999999999999 " + sixtyFour, "invalid value in quant matrix"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.file(c.contents.empty() ? "nofile" : "matrix");
    if (!c.contents.empty()) std::ofstream(path) << c.contents;
    qe::EncoderParameters p;
    p.intra_matrix_file = "-";
    p.non_intra_matrix_file = path;
    qe::QuantMatrices m;
    EXPECT_EXIT(qe::read_quant_matrices(p, m), testing::ExitedWithCode(1), c.message);
  }
}

}  // namespace
