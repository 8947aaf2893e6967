// Feeds arbitrary bytes to the encoder's source-frame readers (a PPM file, one raw
// .yuv file, or raw .Y, .U and .V files by the top bits of the fourth byte), with
// the picture size and chroma format taken from the first bytes, and to the
// file-name pattern check: an accepted pattern must format safely.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "quiltbench/video/encoder_entry.h"
#include "quiltbench/video/encoder_frame_input.h"
#include "quiltbench/video/encoder_parameters.h"

namespace qe = quiltbench::encoder;

namespace {

std::string scratchBase() {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/encoder_source_frame_fuzz_" +
         std::to_string(getpid());
}

void writeFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  if (size > 0) std::fwrite(data, 1, size, f);
  std::fclose(f);
}

// The body as the files of the chosen input type: whole for PPM and one .yuv
// file, in three parts for the separate planes.
void writeSource(const std::string& base, int inputType, const std::uint8_t* body,
                 std::size_t size) {
  if (inputType == qe::kInputPpm) return writeFile(base + ".ppm", body, size);
  if (inputType == qe::kInputSingleYuv) return writeFile(base + ".yuv", body, size);
  const std::size_t third = size / 3;
  writeFile(base + ".Y", body, third);
  writeFile(base + ".U", body + third, third);
  writeFile(base + ".V", body + 2 * third, size - 2 * third);
}

void readSource(const std::uint8_t* data, std::size_t size) {
  static const std::string base = scratchBase();
  qe::EncoderState& e = qe::g_encoder;
  e.params = qe::EncoderParameters{};
  constexpr int kTypes[4] = {qe::kInputPpm, qe::kInputSingleYuv, qe::kInputSeparateYuv,
                             qe::kInputPpm};
  e.params.input_type = kTypes[data[3] >> 6];
  e.params.horizontal_size = 2 * (1 + data[0] % 40);
  e.params.vertical_size = 4 * (1 + data[1] % 20);
  e.params.chroma_format = 1 + data[2] % 3;
  e.params.mpeg1 = data[2] >> 7;
  e.params.progressive_sequence = (data[2] >> 6) & 1;
  e.params.progressive_frame = e.params.progressive_sequence | ((data[2] >> 5) & 1);
  e.params.matrix_coefficients = data[3] % 9;
  e.sizes = qe::derive_sizes(e.params);
  qe::build_clip_table(e.clipStorage);
  e.clip = e.clipStorage.data() + 384;

  writeSource(base, e.params.input_type, data + 4, size - 4);

  qe::Frame frame;
  frame.plane[0].assign(static_cast<std::size_t>(e.sizes.width) * e.sizes.height, 0);
  frame.plane[1].assign(static_cast<std::size_t>(e.sizes.chrom_width) * e.sizes.chrom_height, 0);
  frame.plane[2] = frame.plane[1];
  qe::read_frame(base, frame);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  if (data[0] == '%') {
    const std::string pattern(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (pattern.find('\0') == std::string::npos && qe::isSafeNamePattern(pattern)) {
      volatile std::size_t sink =
          qe::formatName(pattern, -2147483647 - 1).size() + qe::formatName(pattern, 7).size();
      (void)sink;
    }
    return 0;
  }
  readSource(data, size);
  return 0;
}
