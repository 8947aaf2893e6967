// Per-picture statistics of the encoder and the reconstructed-frame files.
#include "quiltbench/video/encoder_statistics.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <limits>
#include <string>

#include "platform/file.h"
#include "quiltbench/video/sad.h"

namespace quiltbench::encoder {

namespace {

struct PictureArea {
  int columns;
  int rows;
};

PictureArea lumaArea(const EncoderParameters& p) { return {p.horizontal_size, p.vertical_size}; }

PictureArea chromaArea(const EncoderParameters& p) {
  return {p.chroma_format == kChroma444 ? p.horizontal_size : p.horizontal_size / 2,
          p.chroma_format == kChroma420 ? p.vertical_size / 2 : p.vertical_size};
}

double percent(int count, int total) { return total > 0 ? 100.0 * count / total : 0.0; }

char motionLetter(const MacroblockInfo& mb) {
  if (mb.skipped) return 'S';
  if (mb.mb_type & kMbIntra) return 'I';
  const int direction = mb.mb_type & (kMbForward | kMbBackward);
  const bool field = mb.motion_type == kMotionField;
  switch (direction) {
    case kMbForward:
      return mb.motion_type == kMotionDualPrime ? 'p' : field ? 'f' : 'F';
    case kMbBackward:
      return field ? 'b' : 'B';
    case kMbForward | kMbBackward:
      return field ? 'd' : 'D';
    default:
      return '0';
  }
}

char quantLetter(const MacroblockInfo& mb) {
  if (mb.mb_type & kMbQuant) return 'Q';
  if (mb.mb_type & (kMbPattern | kMbIntra)) return ' ';
  return 'N';
}

// printf-style formatting appended to `text`.
[[gnu::format(printf, 2, 3)]] void appendFormatted(std::string& text, const char* format, ...) {
  char line[256];
  std::va_list arguments;
  va_start(arguments, format);
  const int length = std::vsnprintf(line, sizeof line, format, arguments);
  va_end(arguments);
  if (length < 0) return;
  if (static_cast<std::size_t>(length) < sizeof line) {
    text.append(line, static_cast<std::size_t>(length));
    return;
  }
  std::string longer(static_cast<std::size_t>(length) + 1, '\0');
  va_start(arguments, format);
  std::vsnprintf(longer.data(), longer.size(), format, arguments);
  va_end(arguments);
  text.append(longer, 0, static_cast<std::size_t>(length));
}

// What "%3d" prints for a quantiser_scale (1..112, within 0..999), at `at`;
// returns the end.
char* putThreeWide(char* at, int value) {
  value = std::clamp(value, 0, 999);
  at[0] = value >= 100 ? static_cast<char>('0' + value / 100) : ' ';
  at[1] = value >= 10 ? static_cast<char>('0' + value / 10 % 10) : ' ';
  at[2] = static_cast<char>('0' + value % 10);
  return at + 3;
}

void writeText(std::FILE* out, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), out);
}

}  // namespace

PlaneSnr plane_snr(const std::uint8_t* source, const std::uint8_t* reconstruction, int stride,
                   int columns, int rows, int firstRow, int rowStep) {
  // Integer sums: exact, as the double ones were, and many times faster.
  std::uint64_t sumInt = 0, sumSquaresInt = 0, errorSquaresInt = 0;
  const auto add = [&](std::size_t first, int count) {
    const RowStatistics r = rowStatistics(source + first, reconstruction + first, count);
    sumInt += r.sum, sumSquaresInt += r.squares, errorSquaresInt += r.errorSquares;
  };
  if (rowStep == 1 && columns == stride && columns > 0 && rows > 0 &&
      rows <= std::numeric_limits<int>::max() / columns) {
    // Rows back to back: the plane is one run of samples, without a short
    // tail at the end of every row.
    add(static_cast<std::size_t>(firstRow) * static_cast<std::size_t>(stride), columns * rows);
  } else {
    for (int j = 0; j < rows; ++j) {
      add(static_cast<std::size_t>(firstRow + j * rowStep) * static_cast<std::size_t>(stride),
          columns);
    }
  }
  const double sum = static_cast<double>(sumInt);
  const double sumSquares = static_cast<double>(sumSquaresInt);
  const double errorSquares = static_cast<double>(errorSquaresInt);
  PlaneSnr result;
  const double n = static_cast<double>(columns) * rows;
  if (n <= 0) {
    result.mse = 0.00001;
    return result;
  }
  const double mean = sum / n;
  result.variance = sumSquares / n - mean * mean;
  result.mse = errorSquares / n;
  if (result.mse == 0.0) result.mse = 0.00001;
  return result;
}

void print_snr(std::FILE* out, const EncoderParameters& params, const Sizes& sizes,
               const Frame& source, const Frame& reconstruction, int pictStruct) {
  const bool field = pictStruct != kFramePicture;
  const int firstRow = pictStruct == kBottomField ? 1 : 0;
  const int rowStep = field ? 2 : 1;
  std::string text;
  for (int c = 0; c < 3; ++c) {
    const PictureArea area = c == 0 ? lumaArea(params) : chromaArea(params);
    const int stride = c == 0 ? sizes.width : sizes.chrom_width;
    const int rows = field ? area.rows / 2 : area.rows;
    const PlaneSnr snr =
        plane_snr(source[c], reconstruction[c], stride, area.columns, rows, firstRow, rowStep);
    appendFormatted(text, "%c: variance=%4.4g, MSE=%3.3g (%3.3g dB), SNR=%3.3g dB\n", "YUV"[c],
                    snr.variance, snr.mse, 10.0 * std::log10(65025.0 / snr.mse),
                    10.0 * std::log10(snr.variance / snr.mse));
  }
  writeText(out, text);
}

void print_picture_statistics(std::FILE* out, const Sizes& sizes,
                              const std::vector<MacroblockInfo>& macroblocks) {
  const int total = sizes.mb_width * sizes.mb_height2;
  int intra = 0, codedBlocks = 0, notCoded = 0, skipped = 0, forward = 0, backward = 0,
      interpolated = 0;
  const unsigned blockMask = sizes.block_count >= 32 ? ~0u : (1u << sizes.block_count) - 1;
  for (int k = 0; k < total; ++k) {
    const MacroblockInfo& mb = macroblocks[static_cast<std::size_t>(k)];
    if (mb.mb_type & kMbIntra) {
      ++intra;
    } else if (!(mb.mb_type & kMbPattern)) {
      ++notCoded;
    }
    codedBlocks += std::popcount(static_cast<unsigned>(mb.cbp) & blockMask);
    if (mb.skipped) ++skipped;
    switch (mb.mb_type & (kMbForward | kMbBackward)) {
      case kMbForward:
        ++forward;
        break;
      case kMbBackward:
        ++backward;
        break;
      case kMbForward | kMbBackward:
        ++interpolated;
        break;
      default:
        break;
    }
  }

  // The whole report is formatted here and written at once: the maps alone
  // would otherwise take a formatted write per macroblock.
  std::string text;
  text += "\npicture statistics:\n";
  appendFormatted(text, " # of intra coded macroblocks:  %4d (%.1f%%)\n", intra,
                  percent(intra, total));
  appendFormatted(text, " # of coded blocks:             %4d (%.1f%%)\n", codedBlocks,
                  percent(codedBlocks, total * sizes.block_count));
  appendFormatted(text, " # of not coded macroblocks:    %4d (%.1f%%)\n", notCoded,
                  percent(notCoded, total));
  appendFormatted(text, " # of skipped macroblocks:      %4d (%.1f%%)\n", skipped,
                  percent(skipped, total));
  appendFormatted(text, " # of forw. pred. macroblocks:  %4d (%.1f%%)\n", forward,
                  percent(forward, total));
  appendFormatted(text, " # of backw. pred. macroblocks: %4d (%.1f%%)\n", backward,
                  percent(backward, total));
  appendFormatted(text, " # of interpolated macroblocks: %4d (%.1f%%)\n", interpolated,
                  percent(interpolated, total));

  text += "\nmacroblock_type map:\n";
  // Both maps are written through a pointer into room made for them: three
  // characters per macroblock and a line end per row each.
  const std::size_t mapSize = static_cast<std::size_t>(sizes.mb_height2) *
                              (static_cast<std::size_t>(sizes.mb_width) * 3 + 1);
  std::size_t at = text.size();
  text.resize(at + mapSize);
  char* map = text.data() + at;
  for (int j = 0; j < sizes.mb_height2; ++j) {
    for (int i = 0; i < sizes.mb_width; ++i) {
      const MacroblockInfo& mb = macroblocks[static_cast<std::size_t>(j * sizes.mb_width + i)];
      *map++ = motionLetter(mb);
      *map++ = quantLetter(mb);
      *map++ = ' ';
    }
    *map++ = '\n';
  }

  text += "\nmquant map:\n";
  at = text.size();
  text.resize(at + mapSize);
  map = text.data() + at;
  for (int j = 0; j < sizes.mb_height2; ++j) {
    for (int i = 0; i < sizes.mb_width; ++i) {
      const std::size_t k = static_cast<std::size_t>(j * sizes.mb_width + i);
      if (i == 0 || macroblocks[k].mquant != macroblocks[k - 1].mquant) {
        map = putThreeWide(map, macroblocks[k].mquant);
      } else {
        map = std::fill_n(map, 3, ' ');
      }
    }
    *map++ = '\n';
  }
  writeText(out, text);
}

void write_reconstructed_frame(const std::string& name, const EncoderParameters& params,
                               const Sizes& sizes, const Frame& frame) {
  if (!name.empty() && name[0] == '-') return;
  static const char* const kExtensions[3] = {".Y", ".U", ".V"};
  for (int c = 0; c < 3; ++c) {
    const std::string fileName = name + kExtensions[c];
    std::FILE* file = platform::openStdFile(fileName, "wb");
    if (file == nullptr) encoder_fatal("Couldn't create " + fileName + "\n");
    const PictureArea area = c == 0 ? lumaArea(params) : chromaArea(params);
    const int stride = c == 0 ? sizes.width : sizes.chrom_width;
    bool written = true;
    for (int j = 0; j < area.rows && written; ++j) {
      const std::uint8_t* row =
          frame[c] + static_cast<std::size_t>(j) * static_cast<std::size_t>(stride);
      written = std::fwrite(row, 1, static_cast<std::size_t>(area.columns), file) ==
                static_cast<std::size_t>(area.columns);
    }
    if (std::fclose(file) != 0 || !written) encoder_fatal("Couldn't write " + fileName + "\n");
  }
}

}  // namespace quiltbench::encoder
