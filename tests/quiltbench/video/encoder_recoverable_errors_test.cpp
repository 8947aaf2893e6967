// The parameter and matrix readers when their fatal errors are taken back as
// exceptions (as the fuzz harness does): each refusal names its cause and
// leaves no file open behind it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "quiltbench/video/encoder_parameters.h"
#include "quiltbench/video/encoder_state.h"
#include "tests/quiltbench/video/encoder_test_files.h"
#include "tests/support/test_support.h"

namespace {

namespace qe = quiltbench::encoder;

long openFileCount() {
  long count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++count;
  }
  return count;
}

// The message of the fatal error `read` ends in, or "" when it ends well.
template <typename Read>
std::string fatalMessage(Read read) {
  const qe::RecoverableEncoderErrors recoverable;
  try {
    read();
  } catch (const qe::EncoderFatalError& error) {
    return error.what();
  }
  return "";
}

TEST(EncoderRecoverableErrors, RefusalsNameTheirCauseAndCloseTheirFiles) {
  test_support::TempDir dir;
  const std::string path = dir.file("input");
  encoder_test::ParameterFile truncated = encoder_test::baseParameters();
  truncated.lines.resize(52);
  struct Case {
    const char* name;
    bool matrix;
    std::string text;
    const char* message;
  };
  const Case cases[] = {
      {"parameter file ending in the motion records", false, truncated.text(),
       "Couldn't read line 53"},
      {"matrix with a zero entry", true, "16 16 0 16", "invalid value in quant matrix"},
      {"matrix ending early", true, "16 16 16", "invalid value in quant matrix"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test_support::writeFileBytes(path, {c.text.begin(), c.text.end()});
    const long before = openFileCount();
    const std::string message = fatalMessage([&] {
      if (c.matrix) {
        qe::EncoderParameters params;
        params.intra_matrix_file = path;
        params.non_intra_matrix_file = "-";
        qe::QuantMatrices matrices;
        qe::read_quant_matrices(params, matrices);
      } else {
        qe::EncoderParameters params;
        qe::read_encoder_parameters(path, params);
      }
    });
    EXPECT_NE(message.find(c.message), std::string::npos) << message;
    EXPECT_EQ(openFileCount(), before);
  }
}

}  // namespace
