// Feeds arbitrary bytes to Patchloom's GIF reader as a file.
#include "fuzz/patchloom_image_fuzz.h"
#include "patchloom/image/gif_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz::fuzzImageReader<CGifImageImpl>(data, size, ".gif");
}
