// Feeds arbitrary bytes to the encoder's parameter-file reader with its checks
// and corrections, or (first byte 0xFF) to the quantiser-matrix reader. The
// encoder's fatal errors come back here as exceptions, so one run covers every
// refusal; anything else (a crash, a hang, an unbounded allocation) is a fault.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "quiltbench/video/encoder_entry.h"
#include "quiltbench/video/encoder_parameters.h"
#include "quiltbench/video/encoder_state.h"

namespace qe = quiltbench::encoder;

namespace {

std::string scratchPath() {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/encoder_parameters_fuzz_" +
         std::to_string(getpid());
}

void writeFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  if (size > 0) std::fwrite(data, 1, size, f);
  std::fclose(f);
}

void readParameters(const std::string& path) {
  qe::EncoderParameters params;
  qe::read_encoder_parameters(path, params);
  // Whatever passes the checks must give sizes the encoder can work with.
  const qe::Sizes sizes = qe::derive_sizes(params);
  if (sizes.mb_width < 1 || sizes.mb_height2 < 1 || sizes.block_count < 6) std::abort();
}

void readMatrices(const std::string& path) {
  qe::EncoderParameters params;
  params.intra_matrix_file = path;
  params.non_intra_matrix_file = path;
  qe::QuantMatrices matrices;
  qe::read_quant_matrices(params, matrices);
  for (int i = 0; i < 64; ++i) {
    if (matrices.intra[i] == 0 || matrices.non_intra[i] == 0) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = scratchPath();
  const bool matrix = size > 0 && data[0] == 0xff;
  if (matrix) {
    writeFile(path, data + 1, size - 1);
  } else {
    writeFile(path, data, size);
  }
  const qe::RecoverableEncoderErrors recoverable;
  try {
    if (matrix) {
      readMatrices(path);
    } else {
      readParameters(path);
    }
  } catch (const qe::EncoderFatalError&) {
  }
  return 0;
}
