// Feeds arbitrary bytes to the container recognition, the program-stream demultiplexer
// and the stream scans that run in the program's own process before any decoding.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "quiltbench/video/mpeg_demux.h"

namespace qv = quiltbench::video;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  volatile const char* name = qv::containerName(qv::containerFormat(bytes));
  (void)name;
  const qv::DemuxResult demuxed = qv::demuxProgramStream(bytes);
  // The video can only ever be a part of the packets it came from.
  if (demuxed.video.size() > size) std::abort();
  for (const std::span<const std::uint8_t> stream : {bytes, std::span(demuxed.video)}) {
    if (const auto picture = qv::firstSequencePictureSize(stream)) {
      if (picture->width < 1 || picture->width > 16383 || picture->height < 1 ||
          picture->height > 16383) {
        std::abort();
      }
    }
    volatile bool whole = qv::lastPictureCoversEveryRow(stream, 16 * (1 + size % 200));
    (void)whole;
  }
  return 0;
}
