// The steps of decodeMpegVideo, each usable on its own (the fuzz targets and tests run
// them on bytes in memory): the video elementary stream of a file's bytes, the encoder's
// verdict on a picture size, and the decoding of a stream in a child process.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "quiltbench/video/mpeg_demux.h"
#include "quiltbench/video/video_synthesis_internal.h"

namespace quiltbench::video {

// The video elementary stream of a file's bytes: the bytes themselves for an elementary
// stream, the demultiplexed video of a program stream. Throws VideoSynthesisError naming
// `path` and the format for any other container.
std::vector<std::uint8_t> videoElementaryStream(std::vector<std::uint8_t> file,
                                                const std::string& path);

// Throws VideoSynthesisError with the encoder's reason when its parameter template
// (profile, level, chroma format) cannot take pictures of `size`, or when the template
// cannot be read.
void checkPictureSizeEncodable(PictureSize size);

// Decodes `stream`, whose first sequence header gives `size`, in a child process under
// memory and time limits. Every frame is `size` (the decoder's padding cropped away); a
// picture that was not decoded to its end is dropped. Throws VideoSynthesisError naming
// `path` when the child dies, hits a limit or sends anything but frames of that size.
VideoFrames decodeVideoStream(std::span<const std::uint8_t> stream, PictureSize size,
                              const std::string& path);

}  // namespace quiltbench::video
