// Source frames of the encoder: raw Y/U/V files, one .yuv file, or binary PPM
// with colour conversion and chroma down-sampling, extended to whole macroblocks.
#pragma once

#include <cstdint>
#include <string>

#include "quiltbench/video/encoder_state.h"

namespace quiltbench::encoder {

// Reads the source frame `name` (extension appended by the format of
// g_encoder.params.input_type) into `frame`, sized by g_encoder.sizes. A file
// that cannot be opened is fatal; a short file leaves the missing samples 0.
void read_frame(const std::string& name, Frame& frame);

// Repeats the last sample of each of the `rows` picture rows of `columns`
// samples to the right up to `width`, then the last picture row down to
// `height` rows (row stride `width`).
void border_extend(std::uint8_t* plane, int columns, int rows, int width, int height);

// 4:4:4 to 4:2:2: halves each row of a `width` x `height` plane into
// `destination` (stride width / 2); MPEG-1 streams get the half-sample-shifted
// filter, MPEG-2 streams the co-sited one.
void filter_horizontal(const std::uint8_t* source, std::uint8_t* destination, int width, int height,
                       bool mpeg1, const std::uint8_t* clip);

// 4:2:2 to 4:2:0: halves each column of a `width` x `height` plane into
// `destination` (height / 2 rows); progressive frames filter the frame, others
// each field on its own.
void filter_vertical(const std::uint8_t* source, std::uint8_t* destination, int width, int height,
                     bool progressiveFrame, const std::uint8_t* clip);

}  // namespace quiltbench::encoder
