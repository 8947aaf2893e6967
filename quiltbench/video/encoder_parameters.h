// The encoder's parameter file and quantiser-matrix files: reading, the
// consistency corrections, and the range and profile/level checks. Every error is
// fatal through encoder_fatal; every correction prints its warning to the error
// stream.
#pragma once

#include <string>
#include <string_view>

#include "quiltbench/video/encoder_state.h"

namespace quiltbench::encoder {

// Reads the parameter file at `path` (a program path, mapped to the host) into
// `params`, then checks and corrects it: the ranges, the MPEG-1 constrained
// parameters, the profile and level for MPEG-2 streams, and the corrections with
// their warnings.
void read_encoder_parameters(const std::string& path, EncoderParameters& params);

// Fatal on the first parameter outside its range, in the order the checks run.
void check_parameter_ranges(const EncoderParameters& params);

// MPEG-2 profile and level conformance; fatal on a violation, a warning and no
// checks for the reserved (escape) profile values.
void check_profile_and_level(const EncoderParameters& params);

// Fills the two matrices from their files or the defaults, with the load flags.
void read_quant_matrices(const EncoderParameters& params, QuantMatrices& matrices);

// True when `pattern` is literal text with at most one integer conversion
// (flags, a width and a precision of up to three digits each, then d, i, u, o, x
// or X), "%%" allowed: such a pattern is safe to format with one int.
bool isSafeNamePattern(std::string_view pattern);

// `pattern` formatted with `number`; the pattern must be safe (see above).
std::string formatName(const std::string& pattern, int number);

// Frames per second for frame_rate_code 1..8; 0 for any other code.
double frameRateForCode(int code);

}  // namespace quiltbench::encoder
