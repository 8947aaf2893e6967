// The encoder's fatal-error routine and the tables and sizes derived at start-up.
#include <cstdio>
#include <cstdlib>

#include "quiltbench/video/encoder_entry.h"

namespace quiltbench::encoder {

void encoder_fatal(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
  EncoderState& e = g_encoder;
  if (!e.outputTemporary.empty()) {
    if (e.output != nullptr) std::fclose(e.output);
    e.output = nullptr;
    std::remove(e.outputTemporary.c_str());
    e.outputTemporary.clear();
  }
  if (RecoverableEncoderErrors::active()) throw EncoderFatalError(text);
  std::exit(1);
}

Sizes derive_sizes(const EncoderParameters& params) {
  Sizes s;
  s.mb_width = (params.horizontal_size + 15) / 16;
  s.mb_height = params.progressive_sequence ? (params.vertical_size + 15) / 16
                                            : 2 * ((params.vertical_size + 31) / 32);
  s.mb_height2 = params.field_pictures ? s.mb_height >> 1 : s.mb_height;
  s.width = 16 * s.mb_width;
  s.height = 16 * s.mb_height;
  s.chrom_width = params.chroma_format == kChroma444 ? s.width : s.width >> 1;
  s.chrom_height = params.chroma_format == kChroma420 ? s.height >> 1 : s.height;
  s.height2 = params.field_pictures ? s.height >> 1 : s.height;
  s.width2 = params.field_pictures ? s.width << 1 : s.width;
  s.chrom_width2 = params.field_pictures ? s.chrom_width << 1 : s.chrom_width;
  s.block_count = params.chroma_format == kChroma420   ? 6
                  : params.chroma_format == kChroma422 ? 8
                                                       : 12;
  return s;
}

void build_clip_table(std::array<std::uint8_t, 1024>& table) {
  for (int i = -384; i < 640; ++i)
    table[static_cast<std::size_t>(i + 384)] = static_cast<std::uint8_t>(i < 0     ? 0
                                                                         : i > 255 ? 255
                                                                                   : i);
}

}  // namespace quiltbench::encoder
