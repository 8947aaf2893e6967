// Reading and checking the encoder's parameter file and quantiser matrices.
#include "quiltbench/video/encoder_parameters.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

#include "platform/file.h"
#include "quiltbench/video/vlc_tables.h"

namespace quiltbench::encoder {

namespace {

// ISO/IEC 13818-2, table 6-4: frame_rate_value by frame_rate_code.
constexpr double kFrameRates[9] = {0.0,  24000.0 / 1001.0, 24.0, 25.0, 30000.0 / 1001.0, 30.0,
                                   50.0, 60000.0 / 1001.0, 60.0};

// ISO/IEC 13818-2, 8.2: which profile@level combinations exist, by profile 1..5
// (High, Spatial, SNR, Main, Simple) and level row (High, High 1440, Main, Low).
constexpr bool kProfileLevelDefined[5][4] = {
    {true, true, true, false},    // High
    {false, true, false, false},  // Spatially scalable
    {false, false, true, true},   // SNR scalable
    {true, true, true, true},     // Main
    {false, false, true, false},  // Simple
};

// ISO/IEC 13818-2, 8.2 (tables 8-8, 8-10, 8-11, 8-12, 8-13): upper bounds per level.
struct LevelLimits {
  int horFCode;
  int vertFCode;
  int width;
  int height;
  double samplesPerSecond;
  double megabitsPerSecond;
  int vbvBufferSize;
};
constexpr LevelLimits kLevelLimits[4] = {
    {9, 5, 1920, 1152, 62668800.0, 80.0, 597},  // High
    {9, 5, 1440, 1152, 47001600.0, 60.0, 448},  // High 1440
    {8, 5, 720, 576, 10368000.0, 15.0, 112},    // Main
    {7, 4, 352, 288, 3041280.0, 4.0, 29},       // Low
};

// Closes a file however its reading ends: a fatal error may come back to the
// caller as an exception.
struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using OwnedFile = std::unique_ptr<std::FILE, FileCloser>;

void warn(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
}

[[noreturn]] void fatalWithName(const char* format, const std::string& name) {
  std::string text(format);
  const auto at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, name);
  encoder_fatal(text);
}

// The parameter file, line by line. Each line is parsed from its start; anything
// after the value is a comment. Lines are limited to 253 characters as the format
// has always allowed, but an overlong line is read to its end so that its tail is
// not taken for the next line.
class ParameterLines {
 public:
  ParameterLines(std::FILE* file, const std::string& path) : file_(file), path_(path) {}

  // The next line (with its newline when it fits); fatal at the end of the file.
  const std::string& next() {
    ++number_;
    line_.clear();
    int c;
    bool any = false;
    while ((c = std::fgetc(file_)) != EOF) {
      any = true;
      if (line_.size() < kLineLimit) line_.push_back(static_cast<char>(c));
      if (c == '\n') break;
    }
    if (!any) fail();
    return line_;
  }

  [[noreturn]] void fail() const {
    encoder_fatal("Couldn't read line " + std::to_string(number_) + " of parameter file " + path_);
  }

  int number() const { return number_; }

 private:
  static constexpr std::size_t kLineLimit = 253;
  std::FILE* file_;
  std::string path_;
  std::string line_;
  int number_ = 0;
};

// Scanning one line the way the "%d", "%lf" and "%s" conversions do, refusing
// values that do not fit rather than letting them wrap.
class LineScanner {
 public:
  explicit LineScanner(const std::string& line) : p_(line.c_str()) {}

  bool integer(int& value) {
    skipSpace();
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(p_, &end, 10);
    if (end == p_ || errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
    p_ = end;
    value = static_cast<int>(v);
    return true;
  }

  bool real(double& value) {
    skipSpace();
    char* end = nullptr;
    const double v = std::strtod(p_, &end);
    if (end == p_ || !std::isfinite(v)) return false;
    p_ = end;
    value = v;
    return true;
  }

  bool word(std::string& value) {
    skipSpace();
    const char* start = p_;
    while (*p_ != '\0' && !std::isspace(static_cast<unsigned char>(*p_))) ++p_;
    if (p_ == start) return false;
    value.assign(start, p_);
    return true;
  }

  bool literal(char c) {
    if (*p_ != c) return false;
    ++p_;
    return true;
  }

 private:
  void skipSpace() {
    while (*p_ != '\0' && std::isspace(static_cast<unsigned char>(*p_))) ++p_;
  }
  const char* p_;
};

void readWord(ParameterLines& lines, std::string& value) {
  LineScanner scan(lines.next());
  if (!scan.word(value)) lines.fail();
}

void readInt(ParameterLines& lines, int& value) {
  LineScanner scan(lines.next());
  if (!scan.integer(value)) lines.fail();
}

void readReal(ParameterLines& lines, double& value) {
  LineScanner scan(lines.next());
  if (!scan.real(value)) lines.fail();
}

void readInts(ParameterLines& lines, int* values, int count) {
  LineScanner scan(lines.next());
  for (int k = 0; k < count; ++k) {
    if (!scan.integer(values[k])) lines.fail();
  }
}

void readTimeCode(ParameterLines& lines, EncoderParameters& p) {
  LineScanner scan(lines.next());
  if (!scan.integer(p.time_code_hours) || !scan.literal(':') ||
      !scan.integer(p.time_code_minutes) || !scan.literal(':') ||
      !scan.integer(p.time_code_seconds) || !scan.literal(':') ||
      !scan.integer(p.time_code_pictures)) {
    lines.fail();
  }
}

void readMotionRecords(ParameterLines& lines, EncoderParameters& p) {
  p.motion_data.clear();
  try {
    p.motion_data.reserve(static_cast<std::size_t>(std::min(p.M, 64)));
  } catch (const std::bad_alloc&) {
    encoder_fatal("malloc failed\n");
  }
  // Records are appended as they are read, so an M far beyond the file's length
  // ends at the missing line instead of in a huge allocation.
  for (int n = 0; n < p.M; ++n) {
    EncoderMotionData m;
    int forward[4];
    readInts(lines, forward, 4);
    m.forw_hor_f_code = forward[0];
    m.forw_vert_f_code = forward[1];
    m.sxf = forward[2];
    m.syf = forward[3];
    if (n != 0) {
      int backward[4];
      readInts(lines, backward, 4);
      m.back_hor_f_code = backward[0];
      m.back_vert_f_code = backward[1];
      m.sxb = backward[2];
      m.syb = backward[3];
    }
    try {
      p.motion_data.push_back(m);
    } catch (const std::bad_alloc&) {
      encoder_fatal("malloc failed\n");
    }
  }
}

int flag(int value) { return value != 0 ? 1 : 0; }

void normaliseFlags(EncoderParameters& p) {
  p.mpeg1 = flag(p.mpeg1);
  p.field_pictures = flag(p.field_pictures);
  p.low_delay = flag(p.low_delay);
  p.constrained_parameters_flag = flag(p.constrained_parameters_flag);
  p.progressive_sequence = flag(p.progressive_sequence);
  p.top_field_first = flag(p.top_field_first);
  for (int i = 0; i < 3; ++i) {
    p.frame_pred_frame_dct_tab[i] = flag(p.frame_pred_frame_dct_tab[i]);
    p.concealment_tab[i] = flag(p.concealment_tab[i]);
    p.qscale_tab[i] = flag(p.qscale_tab[i]);
    p.intravlc_tab[i] = flag(p.intravlc_tab[i]);
    p.altscan_tab[i] = flag(p.altscan_tab[i]);
  }
  p.repeat_first_field = flag(p.repeat_first_field);
  p.progressive_frame = flag(p.progressive_frame);
}

void checkConstrainedParameters(EncoderParameters& p) {
  if (!p.mpeg1 || !p.constrained_parameters_flag) return;
  const long long macroblocks =
      static_cast<long long>((p.horizontal_size + 15) / 16) * ((p.vertical_size + 15) / 16);
  if (p.horizontal_size > 768 || p.vertical_size > 576 || macroblocks > 396 ||
      static_cast<double>(macroblocks) * p.frame_rate > 9900.0 || p.frame_rate > 30.0) {
    warn("Warning: setting constrained_parameters_flag = 0\n");
    p.constrained_parameters_flag = 0;
    return;
  }
  for (int n = 0; n < p.M; ++n) {
    const EncoderMotionData& m = p.motion_data[n];
    const bool forwardTooLong = m.forw_hor_f_code > 4 || m.forw_vert_f_code > 4;
    const bool backwardTooLong = n > 0 && (m.back_hor_f_code > 4 || m.back_vert_f_code > 4);
    if (forwardTooLong || backwardTooLong) {
      warn("Warning: setting constrained_parameters_flag = 0\n");
      p.constrained_parameters_flag = 0;
      return;
    }
  }
}

void reduceSearchWidth(int& width, int fCode, const char* which) {
  const int limit = (4 << fCode) - 1;
  if (width > limit) {
    warn("Warning: reducing %s search width to %d\n", which, limit);
    width = limit;
  }
}

void applyCorrections(EncoderParameters& p) {
  if (p.mpeg1) {
    if (!p.progressive_sequence) {
      warn("Warning: setting progressive_sequence = 1\n");
      p.progressive_sequence = 1;
    }
    if (p.chroma_format != kChroma420) {
      warn("Warning: setting chroma_format = 1 (4:2:0)\n");
      p.chroma_format = kChroma420;
    }
    if (p.intra_dc_precision != 0) {
      warn("Warning: setting intra_dc_precision = 0\n");
      p.intra_dc_precision = 0;
    }
    for (int i = 0; i < 3; ++i) {
      if (p.qscale_tab[i]) {
        warn("Warning: setting qscale_tab[%d] = 0\n", i);
        p.qscale_tab[i] = 0;
      }
      if (p.intravlc_tab[i]) {
        warn("Warning: setting intravlc_tab[%d] = 0\n", i);
        p.intravlc_tab[i] = 0;
      }
      if (p.altscan_tab[i]) {
        warn("Warning: setting altscan_tab[%d] = 0\n", i);
        p.altscan_tab[i] = 0;
      }
    }
  }
  if (!p.mpeg1 && p.constrained_parameters_flag) {
    warn("Warning: setting constrained_parameters_flag = 0\n");
    p.constrained_parameters_flag = 0;
  }
  if (p.progressive_sequence && !p.progressive_frame) {
    warn("Warning: setting progressive_frame = 1\n");
    p.progressive_frame = 1;
  }
  if (p.progressive_frame && p.field_pictures) {
    warn("Warning: setting field_pictures = 0\n");
    p.field_pictures = 0;
  }
  if (!p.progressive_frame && p.repeat_first_field) {
    warn("Warning: setting repeat_first_field = 0\n");
    p.repeat_first_field = 0;
  }
  if (p.progressive_frame) {
    for (int i = 0; i < 3; ++i) {
      if (!p.frame_pred_frame_dct_tab[i]) {
        warn("Warning: setting frame_pred_frame_dct[%d] = 1\n", i);
        p.frame_pred_frame_dct_tab[i] = 1;
      }
    }
  }
  if (p.progressive_sequence && !p.repeat_first_field && p.top_field_first) {
    warn("Warning: setting top_field_first = 0\n");
    p.top_field_first = 0;
  }
  for (int n = 0; n < p.M; ++n) {
    EncoderMotionData& m = p.motion_data[n];
    reduceSearchWidth(m.sxf, m.forw_hor_f_code, "forward horizontal");
    reduceSearchWidth(m.syf, m.forw_vert_f_code, "forward vertical");
    if (n > 0) {
      reduceSearchWidth(m.sxb, m.back_hor_f_code, "backward horizontal");
      reduceSearchWidth(m.syb, m.back_vert_f_code, "backward vertical");
    }
  }
}

// One "%d" read from a matrix file: blanks, an optional sign, decimal digits.
// Values saturate instead of overflowing; the caller refuses anything outside 1..255.
bool readMatrixValue(std::FILE* file, int& value) {
  int c;
  do c = std::fgetc(file);
  while (c != EOF && std::isspace(c));
  bool negative = false;
  if (c == '-' || c == '+') {
    negative = c == '-';
    c = std::fgetc(file);
  }
  if (c == EOF || !std::isdigit(c)) return false;
  long long v = 0;
  while (c != EOF && std::isdigit(c)) {
    v = std::min<long long>(v * 10 + (c - '0'), 1000000);
    c = std::fgetc(file);
  }
  if (c != EOF) std::ungetc(c, file);
  value = static_cast<int>(negative ? -v : v);
  return true;
}

void checkNamePattern(const std::string& pattern) {
  if (!isSafeNamePattern(pattern)) {
    fatalWithName("File name pattern %s must hold no conversion other than one integer conversion",
                  pattern);
  }
}

}  // namespace

bool isSafeNamePattern(std::string_view pattern) {
  constexpr std::string_view kFlags = "-+ #0";
  constexpr std::string_view kIntegerConversions = "diuoxX";
  std::size_t k = 0;
  const auto at = [&](std::size_t i) { return i < pattern.size() ? pattern[i] : '\0'; };
  // Up to three digits: a longer width or precision would ask for a huge name.
  const auto skipNumber = [&] {
    int digits = 0;
    for (; at(k) >= '0' && at(k) <= '9'; ++k) ++digits;
    return digits <= 3;
  };
  int conversions = 0;
  for (; k < pattern.size(); ++k) {
    if (pattern[k] != '%') continue;
    ++k;
    if (at(k) == '%') continue;
    while (at(k) != '\0' && kFlags.find(at(k)) != std::string_view::npos) ++k;
    if (!skipNumber()) return false;
    if (at(k) == '.') {
      ++k;
      if (!skipNumber()) return false;
    }
    if (at(k) == '\0' || kIntegerConversions.find(at(k)) == std::string_view::npos) return false;
    if (++conversions > 1) return false;
  }
  return true;
}

std::string formatName(const std::string& pattern, int number) {
  // The pattern was checked by isSafeNamePattern before it reached here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  const int length = std::snprintf(nullptr, 0, pattern.c_str(), number);
  if (length < 0) encoder_fatal("Couldn't format file name " + pattern);
  std::string name(static_cast<std::size_t>(length) + 1, '\0');
  std::snprintf(name.data(), name.size(), pattern.c_str(), number);
#pragma GCC diagnostic pop
  name.resize(static_cast<std::size_t>(length));
  return name;
}

double frameRateForCode(int code) { return code >= 1 && code <= 8 ? kFrameRates[code] : 0.0; }

void read_encoder_parameters(const std::string& path, EncoderParameters& params) {
  OwnedFile file(platform::openStdFile(path, "r"));
  if (file == nullptr) fatalWithName("Couldn't open parameter file %s", path);

  EncoderParameters p;
  ParameterLines lines(file.get(), path);
  p.description = lines.next();
  // The description goes into the stream as user data, where zero bytes could
  // imitate a start code.
  std::erase(p.description, '\0');
  readWord(lines, p.frame_name_pattern);
  readWord(lines, p.recon_name_pattern);
  readWord(lines, p.intra_matrix_file);
  readWord(lines, p.non_intra_matrix_file);
  readWord(lines, p.statistics_file);
  readInt(lines, p.input_type);
  readInt(lines, p.frame_count);
  readInt(lines, p.first_frame_number);
  readTimeCode(lines, p);
  readInt(lines, p.N);
  readInt(lines, p.M);
  readInt(lines, p.mpeg1);
  readInt(lines, p.field_pictures);
  readInt(lines, p.horizontal_size);
  readInt(lines, p.vertical_size);
  readInt(lines, p.aspect_ratio_information);
  readInt(lines, p.frame_rate_code);
  readReal(lines, p.bit_rate);
  readInt(lines, p.vbv_buffer_size);
  readInt(lines, p.low_delay);
  readInt(lines, p.constrained_parameters_flag);
  readInt(lines, p.profile);
  readInt(lines, p.level);
  readInt(lines, p.progressive_sequence);
  readInt(lines, p.chroma_format);
  readInt(lines, p.video_format);
  readInt(lines, p.color_primaries);
  readInt(lines, p.transfer_characteristics);
  readInt(lines, p.matrix_coefficients);
  readInt(lines, p.display_horizontal_size);
  readInt(lines, p.display_vertical_size);
  readInt(lines, p.intra_dc_precision);
  readInt(lines, p.top_field_first);
  readInts(lines, p.frame_pred_frame_dct_tab, 3);
  readInts(lines, p.concealment_tab, 3);
  readInts(lines, p.qscale_tab, 3);
  readInts(lines, p.intravlc_tab, 3);
  readInts(lines, p.altscan_tab, 3);
  readInt(lines, p.repeat_first_field);
  readInt(lines, p.progressive_frame);
  readInt(lines, p.intra_slice_refresh);
  readInt(lines, p.r);
  readReal(lines, p.avg_act);
  readInt(lines, p.Xi);
  readInt(lines, p.Xp);
  readInt(lines, p.Xb);
  readInt(lines, p.d0i);
  readInt(lines, p.d0p);
  readInt(lines, p.d0b);

  if (p.N < 1) encoder_fatal("N must be positive");
  if (p.M < 1) encoder_fatal("M must be positive");
  if (p.N % p.M != 0) encoder_fatal("N must be an integer multiple of M");
  readMotionRecords(lines, p);
  file.reset();

  // The names become file names through printf; only harmless patterns pass.
  checkNamePattern(p.frame_name_pattern);
  if (p.recon_name_pattern.empty() || p.recon_name_pattern[0] != '-')
    checkNamePattern(p.recon_name_pattern);

  normaliseFlags(p);
  check_parameter_ranges(p);

  p.frame_rate = frameRateForCode(p.frame_rate_code);
  const long long timeCode =
      ((static_cast<long long>(p.time_code_hours) * 60 + p.time_code_minutes) * 60 +
       p.time_code_seconds) *
          static_cast<int>(p.frame_rate + 0.5) +
      p.time_code_pictures;
  p.start_time_code = static_cast<int>(std::clamp<long long>(timeCode, INT_MIN, INT_MAX));

  checkConstrainedParameters(p);
  if (!p.mpeg1) check_profile_and_level(p);
  applyCorrections(p);

  params = std::move(p);
}

void check_parameter_ranges(const EncoderParameters& p) {
  const bool mpeg1 = p.mpeg1 != 0;
  if (p.horizontal_size < 1 || p.horizontal_size > 16383)
    encoder_fatal("horizontal_size must be between 1 and 16383");
  if (mpeg1 && p.horizontal_size > 4095)
    encoder_fatal("horizontal_size must be less than 4096 (MPEG-1)");
  if ((p.horizontal_size & 4095) == 0)
    encoder_fatal("horizontal_size must not be a multiple of 4096");
  if (p.chroma_format != kChroma444 && p.horizontal_size % 2 != 0) {
    encoder_fatal("horizontal_size must be a even (4:2:0 / 4:2:2)");
  }

  if (p.vertical_size < 1 || p.vertical_size > 16383)
    encoder_fatal("vertical_size must be between 1 and 16383");
  if (mpeg1 && p.vertical_size > 4095)
    encoder_fatal("vertical size must be less than 4096 (MPEG-1)");
  if ((p.vertical_size & 4095) == 0) encoder_fatal("vertical_size must not be a multiple of 4096");
  if (p.chroma_format == kChroma420 && p.vertical_size % 2 != 0)
    encoder_fatal("vertical_size must be a even (4:2:0)");
  if (p.field_pictures) {
    if (p.vertical_size % 2 != 0) encoder_fatal("vertical_size must be a even (field pictures)");
    if (p.chroma_format == kChroma420 && p.vertical_size % 4 != 0) {
      encoder_fatal("vertical_size must be a multiple of 4 (4:2:0 field pictures)");
    }
  }

  if (mpeg1) {
    if (p.aspect_ratio_information < 1 || p.aspect_ratio_information > 14) {
      encoder_fatal("pel_aspect_ratio must be between 1 and 14 (MPEG-1)");
    }
  } else if (p.aspect_ratio_information < 1 || p.aspect_ratio_information > 4) {
    encoder_fatal("aspect_ratio_information must be 1, 2, 3 or 4");
  }

  if (p.frame_rate_code < 1 || p.frame_rate_code > 8)
    encoder_fatal("frame_rate code must be between 1 and 8");

  if (p.bit_rate <= 0.0) encoder_fatal("bit_rate must be positive");
  if (p.bit_rate > 1073741823.0 * 400.0) encoder_fatal("bit_rate must be less than 429 Gbit/s");
  if (mpeg1 && p.bit_rate > 262143.0 * 400.0)
    encoder_fatal("bit_rate must be less than 104 Mbit/s (MPEG-1)");

  if (p.vbv_buffer_size < 1 || p.vbv_buffer_size > 262143)
    encoder_fatal("vbv_buffer_size must be in range 1..(2^18-1)");
  if (mpeg1 && p.vbv_buffer_size > 1023)
    encoder_fatal("vbv_buffer_size must be less than 1024 (MPEG-1)");

  if (p.chroma_format < 1 || p.chroma_format > 3)
    encoder_fatal("chroma_format must be in range 1...3");
  if (p.video_format < 0 || p.video_format > 4)
    encoder_fatal("video_format must be in range 0...4");

  const auto badColourCode = [](int v) { return v < 1 || v > 7 || v == 3; };
  if (badColourCode(p.color_primaries))
    encoder_fatal("color_primaries must be in range 1...2 or 4...7");
  if (badColourCode(p.transfer_characteristics))
    encoder_fatal("transfer_characteristics must be in range 1...2 or 4...7");
  if (badColourCode(p.matrix_coefficients))
    encoder_fatal("matrix_coefficients must be in range 1...2 or 4...7");

  if (p.display_horizontal_size < 0 || p.display_horizontal_size > 16383) {
    encoder_fatal("display_horizontal_size must be in range 0...16383");
  }
  if (p.display_vertical_size < 0 || p.display_vertical_size > 16383) {
    encoder_fatal("display_vertical_size must be in range 0...16383");
  }

  if (p.intra_dc_precision < 0 || p.intra_dc_precision > 3)
    encoder_fatal("intra_dc_precision must be in range 0...3");

  const auto checkHalf = [mpeg1](int horFCode, int vertFCode, int sx, int sy) {
    if (horFCode < 1 || horFCode > 9 || vertFCode < 1 || vertFCode > 9)
      encoder_fatal("f_code must be between 1 and 9");
    if (mpeg1 && (horFCode > 7 || vertFCode > 7)) encoder_fatal("f_code must be le less than 8");
    if (sx < 1 || sy < 1) encoder_fatal("search window must be positive");
  };
  for (std::size_t n = 0; n < p.motion_data.size(); ++n) {
    const EncoderMotionData& m = p.motion_data[n];
    checkHalf(m.forw_hor_f_code, m.forw_vert_f_code, m.sxf, m.syf);
    if (n > 0) checkHalf(m.back_hor_f_code, m.back_vert_f_code, m.sxb, m.syb);
  }
}

void check_profile_and_level(const EncoderParameters& p) {
  if (p.profile < 0 || p.profile > 15) encoder_fatal("profile must be between 0 and 15");
  if (p.level < 0 || p.level > 15) encoder_fatal("level must be between 0 and 15");

  if (p.profile >= 8) {
    warn("Warning: profile uses a reserved value, conformance checks skipped\n");
    return;
  }

  constexpr int kHigh = 1, kSpatial = 2, kSnr = 3, kMain = 4, kSimple = 5;
  if (p.profile < kHigh || p.profile > kSimple) encoder_fatal("undefined Profile");
  if (p.profile == kSpatial || p.profile == kSnr)
    encoder_fatal("This encoder currently generates no scalable bitstreams");
  if (p.level != 4 && p.level != 6 && p.level != 8 && p.level != 10)
    encoder_fatal("undefined Level");

  const int levelRow = (p.level - 4) / 2;
  if (!kProfileLevelDefined[p.profile - 1][levelRow])
    encoder_fatal("undefined profile@level combination");

  if (p.profile == kSimple && p.M != 1) encoder_fatal("Simple Profile does not allow B pictures");
  if (p.profile != kHigh && p.chroma_format != kChroma420)
    encoder_fatal("chroma format must be 4:2:0 in specified Profile");
  if (p.profile == kHigh && p.chroma_format == kChroma444)
    encoder_fatal("chroma format must be 4:2:0 or 4:2:2 in High Profile");

  if ((p.profile == kMain || p.profile == kSimple) && p.repeat_first_field &&
      (p.frame_rate_code <= 2 || (p.frame_rate_code <= 6 && p.progressive_sequence))) {
    encoder_fatal("repeat_first_first must be zero");
  }

  if (p.profile != kHigh && p.intra_dc_precision == 3)
    encoder_fatal("11 bit DC precision only allowed in High Profile");

  constexpr int kMainLevel = 8, kLowLevel = 10;
  if ((p.level == kMainLevel || p.level == kLowLevel) && p.frame_rate_code > 5) {
    encoder_fatal("Picture rate greater than permitted in specified Level");
  }

  const LevelLimits& limits = kLevelLimits[levelRow];
  for (std::size_t n = 0; n < p.motion_data.size(); ++n) {
    const EncoderMotionData& m = p.motion_data[n];
    if (m.forw_hor_f_code > limits.horFCode)
      encoder_fatal("forward horizontal f_code greater than permitted in specified Level");
    if (m.forw_vert_f_code > limits.vertFCode)
      encoder_fatal("forward vertical f_code greater than permitted in specified Level");
    if (n > 0) {
      if (m.back_hor_f_code > limits.horFCode)
        encoder_fatal("backward horizontal f_code greater than permitted in specified Level");
      if (m.back_vert_f_code > limits.vertFCode)
        encoder_fatal("backward vertical f_code greater than permitted in specified Level");
    }
  }
  if (p.horizontal_size > limits.width)
    encoder_fatal("Horizontal size is greater than permitted in specified Level");
  if (p.vertical_size > limits.height)
    encoder_fatal("Vertical size is greater than permitted in specified Level");
  if (static_cast<double>(p.horizontal_size) * p.vertical_size * p.frame_rate >
      limits.samplesPerSecond) {
    encoder_fatal("Sample rate is greater than permitted in specified Level");
  }
  if (p.bit_rate > limits.megabitsPerSecond * 1000000.0)
    encoder_fatal("Bit rate is greater than permitted in specified Level");
  if (p.vbv_buffer_size > limits.vbvBufferSize)
    encoder_fatal("vbv_buffer_size exceeds High Level limit");
}

void read_quant_matrices(const EncoderParameters& params, QuantMatrices& matrices) {
  const auto readMatrix = [](const std::string& name, std::array<std::uint8_t, 64>& matrix) {
    const OwnedFile file(platform::openStdFile(name, "r"));
    if (file == nullptr) fatalWithName("Couldn't open quant matrix file %s", name);
    for (auto& entry : matrix) {
      int value = 0;
      // A missing or unreadable number is as invalid as one out of range.
      if (!readMatrixValue(file.get(), value) || value < 1 || value > 255)
        encoder_fatal("invalid value in quant matrix");
      entry = static_cast<std::uint8_t>(value);
    }
  };

  if (params.intra_matrix_file.empty() || params.intra_matrix_file[0] == '-') {
    std::copy(kDefaultIntraQuantiserMatrix.begin(), kDefaultIntraQuantiserMatrix.end(),
              matrices.intra.begin());
    matrices.load_intra = false;
  } else {
    readMatrix(params.intra_matrix_file, matrices.intra);
    matrices.load_intra = true;
  }
  if (params.non_intra_matrix_file.empty() || params.non_intra_matrix_file[0] == '-') {
    matrices.non_intra.fill(16);
    matrices.load_non_intra = false;
  } else {
    readMatrix(params.non_intra_matrix_file, matrices.non_intra);
    matrices.load_non_intra = true;
  }
}

}  // namespace quiltbench::encoder
