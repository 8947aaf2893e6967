// The encoder's entry and its start-up.
#include "quiltbench/video/encoder_entry.h"

#include <cstdio>
#include <new>

#include "platform/file.h"
#include "platform/replacing_file.h"
#include "quiltbench/video/encoder_parameters.h"
#include "quiltbench/video/encoder_sequence.h"
#include "quiltbench/video/encoder_stages.h"

namespace quiltbench::encoder {

namespace {

void allocateFrame(Frame& frame, const Sizes& sizes) {
  const std::size_t luma =
      static_cast<std::size_t>(sizes.width) * static_cast<std::size_t>(sizes.height);
  const std::size_t chroma =
      static_cast<std::size_t>(sizes.chrom_width) * static_cast<std::size_t>(sizes.chrom_height);
  frame.plane[0].assign(luma, 0);
  frame.plane[1].assign(chroma, 0);
  frame.plane[2].assign(chroma, 0);
}

}  // namespace

void init_encoder() {
  EncoderState& e = g_encoder;
  resetBitWriter(e.output);
  initForwardDct();
  initInverseDct();
  e.sizes = derive_sizes(e.params);
  build_clip_table(e.clipStorage);
  e.clip = e.clipStorage.data() + 384;

  // A previous encode's stores go first, so that two encodes never hold both sets.
  e.frames = FrameStores{};
  e.macroblocks = {};
  e.blocks = {};
  try {
    for (Frame* frame :
         {&e.frames.newReference, &e.frames.oldReference, &e.frames.auxReconstruction,
          &e.frames.newSource, &e.frames.oldSource, &e.frames.auxSource, &e.frames.prediction}) {
      allocateFrame(*frame, e.sizes);
    }
    const std::size_t macroblocks =
        static_cast<std::size_t>(e.sizes.mb_width) * static_cast<std::size_t>(e.sizes.mb_height2);
    e.macroblocks.assign(macroblocks, MacroblockInfo{});
    e.blocks.assign(macroblocks * static_cast<std::size_t>(e.sizes.block_count), Block{});
  } catch (const std::bad_alloc&) {
    encoder_fatal("malloc failed\n");
  } catch (const std::length_error&) {
    encoder_fatal("malloc failed\n");
  }

  const std::string& name = e.params.statistics_file;
  if (!name.empty() && name[0] == '-') {
    e.statistics = stdout;
    e.statisticsIsStdout = true;
  } else {
    e.statistics = platform::openStdFile(name, "w");
    e.statisticsIsStdout = false;
    if (e.statistics == nullptr) encoder_fatal("Couldn't create statistics output file " + name);
  }
}

namespace {

// Closes what an encode that did not finish left open.
void closeStreams(EncoderState& e) {
  if (e.output != nullptr) std::fclose(e.output);
  e.output = nullptr;
  if (e.statistics != nullptr && !e.statisticsIsStdout) std::fclose(e.statistics);
  e.statistics = nullptr;
  e.statisticsIsStdout = false;
  e.outputTemporary.clear();
}

void encodeInto(platform::ReplacingFile& target, const std::string& outputPath) {
  EncoderState& e = g_encoder;
  e.outputTemporary = target.temporaryPath();
  e.output = std::fopen(e.outputTemporary.c_str(), "wb");
  if (e.output == nullptr) encoder_fatal("Couldn't create output file " + outputPath);

  init_encoder();
  encode_sequence();

  // A write that failed part way (a full disk, a file-size limit) shows only in the
  // stream's error flag: the stream is then incomplete and must not replace the output.
  const bool writeFailed = std::ferror(e.output) != 0;
  const int closed = std::fclose(e.output);
  e.output = nullptr;
  if (closed != 0 || writeFailed) encoder_fatal("Couldn't write output file " + outputPath);
  e.outputTemporary.clear();
  if (!target.commit())
    encoder_fatal("Couldn't write output file " + outputPath + ": " + target.error());
  if (e.statisticsIsStdout) {
    std::fflush(e.statistics);
  } else {
    std::fclose(e.statistics);
  }
  e.statistics = nullptr;
  e.statisticsIsStdout = false;
}

}  // namespace

int encode_mpeg2_file(const std::string& parameterPath, const std::string& outputPath) {
  EncoderState& e = g_encoder;
  read_encoder_parameters(parameterPath, e.params);
  read_quant_matrices(e.params, e.matrices);

  // The stream goes to a new file beside the output and replaces it only when complete.
  platform::ReplacingFile target(outputPath);
  if (!target.valid())
    encoder_fatal("Couldn't create output file " + outputPath + ": " + target.error());
  try {
    encodeInto(target, outputPath);
  } catch (...) {
    closeStreams(e);
    throw;
  }
  return 0;
}

int encode_mpeg2_file(const std::string& parameterPath, platform::ReplacingFile& target) {
  EncoderState& e = g_encoder;
  try {
    read_encoder_parameters(parameterPath, e.params);
    read_quant_matrices(e.params, e.matrices);
    if (!target.valid())
      encoder_fatal("Couldn't create output file " + target.targetPath() + ": " + target.error());
    encodeInto(target, target.targetPath());
  } catch (...) {
    closeStreams(e);
    target.abandon();
    throw;
  }
  return 0;
}

}  // namespace quiltbench::encoder
