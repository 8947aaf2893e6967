// The body shared by the fuzz targets of Patchloom's image readers: write the bytes to a
// scratch file, read it with one format class, then touch every row and draw the image,
// so that any access past what the reader made shows up.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/canvas.h"

namespace fuzz {

// One scratch file per process and format, removed at exit.
struct ScratchFile {
  explicit ScratchFile(const std::string& extension)
      : path((std::filesystem::temp_directory_path() /
              ("patchloom_fuzz_" + std::to_string(::getpid()) + extension))
                 .string()) {}
  ~ScratchFile() { std::remove(path.c_str()); }
  std::string path;
};

inline volatile unsigned g_sink;

template <typename ImageImpl>
int fuzzImageReader(const std::uint8_t* data, std::size_t size, const char* extension) {
  static const ScratchFile scratch(extension);
  std::FILE* file = std::fopen(scratch.path.c_str(), "wb");
  if (!file) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);

  ImageImpl image;
  image.Read(scratch.path);
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

}  // namespace fuzz
