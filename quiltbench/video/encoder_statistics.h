// The encoder's per-picture statistics (signal-to-noise lines, macroblock counts
// and maps) and the reconstructed-frame files.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "quiltbench/video/encoder_state.h"

namespace quiltbench::encoder {

// Variance, error and signal-to-noise of one plane (or field of a plane).
struct PlaneSnr {
  double variance = 0;
  double mse = 0;  // 0.00001 in place of an exact 0
};

// Statistics of the `rows` x `columns` samples starting at row `firstRow`, every
// `rowStep`-th row, of two planes of row stride `stride`.
PlaneSnr plane_snr(const std::uint8_t* source, const std::uint8_t* reconstruction, int stride,
                   int columns, int rows, int firstRow, int rowStep);

// Prints the Y, U and V lines comparing `source` with `reconstruction` over the
// picture area of the coded picture `pictStruct` (a frame or one field).
void print_snr(std::FILE* out, const EncoderParameters& params, const Sizes& sizes,
               const Frame& source, const Frame& reconstruction, int pictStruct);

// Prints the macroblock counts, the macroblock_type map and the mquant map.
void print_picture_statistics(std::FILE* out, const Sizes& sizes,
                              const std::vector<MacroblockInfo>& macroblocks);

// Writes `frame` without its macroblock border to name.Y, name.U and name.V;
// a name beginning with "-" writes nothing. Fatal when a file cannot be created.
void write_reconstructed_frame(const std::string& name, const EncoderParameters& params,
                               const Sizes& sizes, const Frame& frame);

}  // namespace quiltbench::encoder
