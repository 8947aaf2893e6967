// Entry into the in-process MPEG-2 video encoder, and its start-up.
#pragma once

#include <string>

#include "quiltbench/video/encoder_state.h"

namespace platform {
class ReplacingFile;
}

namespace quiltbench::encoder {

// Encodes the sequence that the parameter file at `parameterPath` describes into a
// new stream at `outputPath` (both program paths, mapped to the host). Returns 0;
// every failure ends the process through encoder_fatal instead of returning.
int encode_mpeg2_file(const std::string& parameterPath, const std::string& outputPath);

// The same into a replacement the caller has already made (valid()), so that the caller
// knows the new stream's file from the start: the stream is written to its temporary and
// committed when complete. An error that comes back as an exception (under
// RecoverableEncoderErrors) leaves the streams closed and the temporary removed.
int encode_mpeg2_file(const std::string& parameterPath, platform::ReplacingFile& target);

// Derived sizes of the coded pictures for a parameter set.
Sizes derive_sizes(const EncoderParameters& params);

// Fills the 1024-entry clip table addressed from -384.
void build_clip_table(std::array<std::uint8_t, 1024>& table);

// Resets the bit writer on g_encoder.output, builds the transform and clip tables,
// derives the sizes, allocates the frame stores, macroblock records and
// coefficient blocks (releasing those of a previous encode), and opens the
// statistics stream.
void init_encoder();

}  // namespace quiltbench::encoder
