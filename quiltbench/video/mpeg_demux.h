// What a video file holds, and the MPEG video elementary stream inside an MPEG-1 system
// stream or an MPEG-2 program stream, so that the decoder only ever sees video.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quiltbench::video {

enum class ContainerFormat {
  elementaryStream,  // starts with an MPEG video start code
  programStream,     // MPEG-1 system or MPEG-2 program stream: starts with a pack header
  transportStream,
  isoMedia,  // MPEG-4 / QuickTime boxes
  riff,
  matroska,
  ogg,
  unknown,
};

// The format the first bytes of a file announce.
ContainerFormat containerFormat(std::span<const std::uint8_t> bytes);

// A name for messages ("an MPEG transport stream").
const char* containerName(ContainerFormat format);

struct DemuxResult {
  // The payload of every packet of the first video stream (ids 0xE0..0xEF), in order.
  std::vector<std::uint8_t> video;
  // Empty on success; otherwise what was wrong and at which byte.
  std::string error;
};

// Demultiplexes a program stream. Damaged stretches between packs are skipped to the
// next pack header; a packet cut off by the end of the file gives what it holds. A
// stream without a single video packet is an error. The result is never larger than
// the input.
DemuxResult demuxProgramStream(std::span<const std::uint8_t> bytes);

struct PictureSize {
  int width = 0;
  int height = 0;
};

// The picture size of the first sequence header of a video elementary stream with
// non-zero sizes, with the MPEG-2 size extension when a sequence extension follows it;
// none when there is no such header.
std::optional<PictureSize> firstSequencePictureSize(std::span<const std::uint8_t> stream);

// True when the slices of the stream's last picture start on every macroblock row of a
// picture of `codedHeight` lines (half of them for a field picture), as the last picture
// of a stream that was cut short does not. Also true when the rows cannot be told from
// the slice start codes alone (more than 175 of them).
bool lastPictureCoversEveryRow(std::span<const std::uint8_t> stream, unsigned codedHeight);

}  // namespace quiltbench::video
