// Reading the encoder's source frames.
#include "quiltbench/video/encoder_frame_input.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <vector>

#include "platform/file.h"

namespace quiltbench::encoder {

namespace {

// Luma weights (red, green, blue) by matrix_coefficients, ISO/IEC 13818-2 table 6-9.
struct LumaWeights {
  double red, green, blue;
};
constexpr LumaWeights kLumaWeights[8] = {
    {0.299, 0.587, 0.114},     // (unused)
    {0.2125, 0.7154, 0.0721},  // 1: ITU-R BT.709
    {0.299, 0.587, 0.114},     // 2: unspecified
    {0.299, 0.587, 0.114},     // 3: reserved
    {0.30, 0.59, 0.11},        // 4: FCC
    {0.299, 0.587, 0.114},     // 5: ITU-R BT.470-2 B, G
    {0.299, 0.587, 0.114},     // 6: SMPTE 170M
    {0.212, 0.701, 0.087},     // 7: SMPTE 240M
};

const LumaWeights& lumaWeights(int matrixCoefficients) {
  return kLumaWeights[matrixCoefficients >= 1 && matrixCoefficients <= 7 ? matrixCoefficients : 3];
}

std::FILE* openSource(const std::string& fileName) {
  std::FILE* file = platform::openStdFile(fileName, "rb");
  if (file == nullptr) encoder_fatal("Couldn't open " + fileName + "\n");
  return file;
}

// Reads `rows` rows of `columns` bytes into a plane of stride `stride`; what the
// file does not hold reads as 0.
void readPlane(std::FILE* file, std::uint8_t* plane, int columns, int rows, int stride) {
  if (columns <= 0 || rows <= 0) return;
  if (columns == stride) {
    // Rows back to back (pictures of whole macroblocks): one read for the
    // plane, which the library hands straight to the system.
    const std::size_t size = static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows);
    const std::size_t got = std::fread(plane, 1, size, file);
    std::fill(plane + got, plane + size, std::uint8_t{0});
    return;
  }
  for (int j = 0; j < rows; ++j) {
    std::uint8_t* row = plane + static_cast<std::size_t>(j) * static_cast<std::size_t>(stride);
    const std::size_t got = std::fread(row, 1, static_cast<std::size_t>(columns), file);
    std::fill(row + got, row + columns, std::uint8_t{0});
  }
}

struct ChromaArea {
  int columns, rows;
};

ChromaArea chromaArea(const EncoderParameters& p) {
  return {p.chroma_format == kChroma444 ? p.horizontal_size : p.horizontal_size / 2,
          p.chroma_format == kChroma420 ? p.vertical_size / 2 : p.vertical_size};
}

void readRawPlanes(std::FILE* y, std::FILE* u, std::FILE* v, Frame& frame,
                   const EncoderParameters& p, const Sizes& s) {
  const ChromaArea chroma = chromaArea(p);
  readPlane(y, frame[0], p.horizontal_size, p.vertical_size, s.width);
  border_extend(frame[0], p.horizontal_size, p.vertical_size, s.width, s.height);
  readPlane(u, frame[1], chroma.columns, chroma.rows, s.chrom_width);
  border_extend(frame[1], chroma.columns, chroma.rows, s.chrom_width, s.chrom_height);
  readPlane(v, frame[2], chroma.columns, chroma.rows, s.chrom_width);
  border_extend(frame[2], chroma.columns, chroma.rows, s.chrom_width, s.chrom_height);
}

void readSeparateFiles(const std::string& name, Frame& frame, const EncoderParameters& p,
                       const Sizes& s) {
  std::FILE* y = openSource(name + ".Y");
  std::FILE* u = openSource(name + ".U");
  std::FILE* v = openSource(name + ".V");
  readRawPlanes(y, u, v, frame, p, s);
  std::fclose(y);
  std::fclose(u);
  std::fclose(v);
}

void readYuvFile(const std::string& name, Frame& frame, const EncoderParameters& p,
                 const Sizes& s) {
  std::FILE* file = openSource(name + ".yuv");
  readRawPlanes(file, file, file, frame, p, s);
  std::fclose(file);
}

// One PPM header integer: blanks and "#" comments skipped, then decimal digits
// up to a non-digit, which is consumed.
void skipPpmInteger(std::FILE* file) {
  int c = std::fgetc(file);
  for (;;) {
    while (c == ' ' || c == '\t' || c == '\r' || c == '\n') c = std::fgetc(file);
    if (c != '#') break;
    while (c != EOF && c != '\n' && c != '\r') c = std::fgetc(file);
  }
  while (c >= '0' && c <= '9') c = std::fgetc(file);
}

void ensureScratch(std::vector<std::uint8_t>& plane, std::size_t size) {
  try {
    if (plane.size() != size) plane.assign(size, 0);
  } catch (const std::bad_alloc&) {
    encoder_fatal("malloc failed");
  }
}

void readPpm(const std::string& name, Frame& frame, EncoderState& e) {
  const EncoderParameters& p = e.params;
  const Sizes& s = e.sizes;
  const LumaWeights& w = lumaWeights(p.matrix_coefficients);
  const double cu = 0.5 / (1.0 - w.blue);
  const double cv = 0.5 / (1.0 - w.red);

  const std::size_t fullSize =
      static_cast<std::size_t>(s.width) * static_cast<std::size_t>(s.height);
  std::uint8_t* u444;
  std::uint8_t* v444;
  if (p.chroma_format == kChroma444) {
    u444 = frame[1];
    v444 = frame[2];
  } else {
    ensureScratch(e.ppmChroma[0], fullSize);
    ensureScratch(e.ppmChroma[1], fullSize);
    u444 = e.ppmChroma[0].data();
    v444 = e.ppmChroma[1].data();
    if (p.chroma_format == kChroma420) {
      ensureScratch(e.ppmHalfChroma[0], fullSize / 2);
      ensureScratch(e.ppmHalfChroma[1], fullSize / 2);
    }
  }

  std::FILE* file = openSource(name + ".ppm");
  // The magic number, then width, height and maximum value; the frame's size
  // comes from the parameter file, not from here.
  std::fgetc(file);
  std::fgetc(file);
  for (int k = 0; k < 3; ++k) skipPpmInteger(file);

  std::vector<std::uint8_t> rgbRow(static_cast<std::size_t>(p.horizontal_size) * 3);
  std::uint8_t* const luma = frame[0];
  for (int j = 0; j < p.vertical_size; ++j) {
    const std::size_t got = std::fread(rgbRow.data(), 1, rgbRow.size(), file);
    std::fill(rgbRow.begin() + static_cast<std::ptrdiff_t>(got), rgbRow.end(), std::uint8_t{0});
    const std::size_t row = static_cast<std::size_t>(j) * static_cast<std::size_t>(s.width);
    const std::uint8_t* rgb = rgbRow.data();
    std::uint8_t* yRow = luma + row;
    std::uint8_t* uRow = u444 + row;
    std::uint8_t* vRow = v444 + row;
    for (int i = 0; i < p.horizontal_size; ++i) {
      const double r = rgb[3 * i], g = rgb[3 * i + 1], b = rgb[3 * i + 2];
      const double y = w.red * r + w.green * g + w.blue * b;
      const double u = cu * (b - y);
      const double v = cv * (r - y);
      yRow[i] = static_cast<std::uint8_t>(static_cast<int>((219.0 / 256.0) * y + 16.5));
      uRow[i] = static_cast<std::uint8_t>(static_cast<int>((224.0 / 256.0) * u + 128.5));
      vRow[i] = static_cast<std::uint8_t>(static_cast<int>((224.0 / 256.0) * v + 128.5));
    }
  }
  std::fclose(file);

  border_extend(frame[0], p.horizontal_size, p.vertical_size, s.width, s.height);
  border_extend(u444, p.horizontal_size, p.vertical_size, s.width, s.height);
  border_extend(v444, p.horizontal_size, p.vertical_size, s.width, s.height);

  const bool mpeg1 = p.mpeg1 != 0;
  if (p.chroma_format == kChroma422) {
    filter_horizontal(u444, frame[1], s.width, s.height, mpeg1, e.clip);
    filter_horizontal(v444, frame[2], s.width, s.height, mpeg1, e.clip);
  } else if (p.chroma_format == kChroma420) {
    filter_horizontal(u444, e.ppmHalfChroma[0].data(), s.width, s.height, mpeg1, e.clip);
    filter_horizontal(v444, e.ppmHalfChroma[1].data(), s.width, s.height, mpeg1, e.clip);
    filter_vertical(e.ppmHalfChroma[0].data(), frame[1], s.width / 2, s.height,
                    p.progressive_frame != 0, e.clip);
    filter_vertical(e.ppmHalfChroma[1].data(), frame[2], s.width / 2, s.height,
                    p.progressive_frame != 0, e.clip);
  }
}

}  // namespace

void border_extend(std::uint8_t* plane, int columns, int rows, int width, int height) {
  if (columns <= 0 || rows <= 0) return;
  for (int j = 0; j < rows; ++j) {
    std::uint8_t* row = plane + static_cast<std::size_t>(j) * static_cast<std::size_t>(width);
    std::fill(row + columns, row + width, row[columns - 1]);
  }
  const std::uint8_t* last =
      plane + static_cast<std::size_t>(rows - 1) * static_cast<std::size_t>(width);
  for (int j = rows; j < height; ++j) {
    std::copy(last, last + width,
              plane + static_cast<std::size_t>(j) * static_cast<std::size_t>(width));
  }
}

void filter_horizontal(const std::uint8_t* source, std::uint8_t* destination, int width, int height,
                       bool mpeg1, const std::uint8_t* clip) {
  if (width <= 0) return;
  // Each row is split into its even and odd samples, with three repeated
  // samples of the row's ends on either side: every tap then reads a
  // contiguous array without clamping, and the loops vectorise.
  constexpr int kPad = 3;
  const int half = width / 2;
  const int pairs = (width + 1) / 2;
  std::vector<int> evenStore(static_cast<std::size_t>(pairs + 2 * kPad));
  std::vector<int> oddStore(static_cast<std::size_t>(pairs + 2 * kPad));
  int* e = evenStore.data() + kPad;
  int* o = oddStore.data() + kPad;
  for (int j = 0; j < height; ++j) {
    const std::uint8_t* row =
        source + static_cast<std::size_t>(j) * static_cast<std::size_t>(width);
    for (int m = 0; m < width / 2; ++m) {
      e[m] = row[2 * m];
      o[m] = row[2 * m + 1];
    }
    for (int m = -kPad; m < 0; ++m) e[m] = o[m] = row[0];
    for (int m = width / 2; m < pairs + kPad; ++m) {
      e[m] = row[std::min(2 * m, width - 1)];
      o[m] = row[std::min(2 * m + 1, width - 1)];
    }
    std::uint8_t* d = destination + static_cast<std::size_t>(j) * static_cast<std::size_t>(half);
    if (mpeg1) {
      for (int m = 0; m < half; ++m) {
        const int sum = 228 * (e[m] + o[m]) + 70 * (o[m - 1] + e[m + 1]) -
                        37 * (e[m - 1] + o[m + 1]) - 21 * (o[m - 2] + e[m + 2]) +
                        11 * (e[m - 2] + o[m + 2]) + 5 * (o[m - 3] + e[m + 3]);
        d[m] = clip[(sum + 256) >> 9];
      }
    } else {
      for (int m = 0; m < half; ++m) {
        const int sum = 22 * (o[m - 3] + o[m + 2]) - 52 * (o[m - 2] + o[m + 1]) +
                        159 * (o[m - 1] + o[m]) + 256 * e[m];
        d[m] = clip[(sum + 256) >> 9];
      }
    }
  }
}

void filter_vertical(const std::uint8_t* source, std::uint8_t* destination, int width, int height,
                     bool progressiveFrame, const std::uint8_t* clip) {
  if (width <= 0 || height <= 0) return;
  const auto row = [source, width](int j) {
    return source + static_cast<std::size_t>(j) * static_cast<std::size_t>(width);
  };
  const auto out = [destination, width](int j) {
    return destination + static_cast<std::size_t>(j) * static_cast<std::size_t>(width);
  };
  // Rows are picked once per output row (clamped at the plane's edges), then
  // the taps run along the rows.
  if (progressiveFrame) {
    static constexpr int kTaps[6] = {228, 70, -37, -21, 11, 5};
    for (int j = 0; j + 1 < height; j += 2) {
      const std::uint8_t* above[6];
      const std::uint8_t* below[6];
      for (int k = 0; k < 6; ++k) {
        above[k] = row(std::clamp(j - k, 0, height - 1));
        below[k] = row(std::clamp(j + 1 + k, 0, height - 1));
      }
      std::uint8_t* d = out(j >> 1);
      for (int i = 0; i < width; ++i) {
        int sum = 0;
        for (int k = 0; k < 6; ++k) sum += kTaps[k] * (above[k][i] + below[k][i]);
        d[i] = clip[(sum + 256) >> 9];
      }
    }
    return;
  }
  // Each field is filtered from its own rows: the top field from the even
  // rows, the bottom field from the odd ones.
  static constexpr int kTaps[12] = {8, 5, -30, -18, 113, 242, 192, 35, -38, -10, 11, 2};
  const int lastEven = height % 2 == 0 ? height - 2 : height - 1;
  const int lastOdd = std::max(1, height % 2 == 0 ? height - 1 : height - 2);
  const int outRows = height / 2;
  const auto filterRows = [&](const std::uint8_t* const* rows, std::uint8_t* d) {
    for (int i = 0; i < width; ++i) {
      int sum = 0;
      for (int k = 0; k < 12; ++k) sum += kTaps[k] * rows[k][i];
      d[i] = clip[(sum + 256) >> 9];
    }
  };
  for (int j = 0; j + 1 < height; j += 4) {
    const std::uint8_t* rows[12];
    for (int k = 0; k < 12; ++k) rows[k] = row(std::clamp(j - 10 + 2 * k, 0, lastEven));
    filterRows(rows, out(j >> 1));
    if ((j >> 1) + 1 >= outRows) continue;
    for (int k = 0; k < 12; ++k) rows[k] = row(std::clamp(j + 13 - 2 * k, 1, lastOdd));
    filterRows(rows, out((j >> 1) + 1));
  }
}

void read_frame(const std::string& name, Frame& frame) {
  EncoderState& e = g_encoder;
  switch (e.params.input_type) {
    case kInputSeparateYuv:
      readSeparateFiles(name, frame, e.params, e.sizes);
      break;
    case kInputSingleYuv:
      readYuvFile(name, frame, e.params, e.sizes);
      break;
    case kInputPpm:
      readPpm(name, frame, e);
      break;
    default:
      break;
  }
}

}  // namespace quiltbench::encoder
