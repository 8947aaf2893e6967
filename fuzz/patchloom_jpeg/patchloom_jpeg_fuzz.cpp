// Feeds arbitrary bytes to Patchloom's JPEG reader as a file.
#include "fuzz/patchloom_image_fuzz.h"
#include "patchloom/image/jpeg_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz::fuzzImageReader<CJpegImageImpl>(data, size, ".jpeg");
}
