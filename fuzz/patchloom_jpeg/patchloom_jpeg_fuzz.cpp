// Feeds arbitrary bytes to Patchloom's JPEG reader as a file, then touches every row
// and draws the image, so that any access past what the reader made shows up.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "patchloom/image/jpeg_image.h"

namespace {

// One scratch file per process, removed at exit.
struct ScratchFile {
  std::string path = (std::filesystem::temp_directory_path() /
                      ("patchloom_jpeg_fuzz_" + std::to_string(::getpid()) + ".jpeg")).string();
  ~ScratchFile() { std::remove(path.c_str()); }
};

const std::string& scratchFile() {
  static const ScratchFile scratch;
  return scratch.path;
}

volatile unsigned g_sink;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(scratchFile().c_str(), "wb");
  if (!file) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);

  CJpegImageImpl image;
  image.Read(scratchFile());
  if (!image.HasDib()) return 0;
  unsigned sum = 0;
  for (int y = 0; y < image.GetHeight(); ++y) {
    const std::uint8_t* row = image.GetBits() + static_cast<std::size_t>(y) * image.GetLineBytes();
    sum += row[0] + row[image.GetLineBytes() - 1];
  }
  for (int y = 0; y < image.GetHeight() && y < 64; ++y)
    for (int x = 0; x < image.GetWidth() && x < 64; ++x) {
      std::uint8_t r, g, b;
      if (image.GetPixelRGB(x, y, &r, &g, &b)) sum += r + g + b;
    }
  // Drawing visits every pixel a few times; large images would only slow the search.
  if (static_cast<long>(image.GetWidth()) * image.GetHeight() <= (1L << 20)) {
    platform::DeviceContext dc(16, 16);
    image.StretchDraw(&dc, 0, 0, 16, 16, 0, 0, -1, -1);
    image.Draw(&dc, 0, 0, -1, -1, 0, 0);
  }
  g_sink = sum;
  return 0;
}
