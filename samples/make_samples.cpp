// Writes a few procedural sample textures with clear structure (bricks, a weave,
// cobblestones) as 24-bit BMP files, the same bytes on every run.
//
//   make_samples OUTDIR
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/bitmap_format.h"

namespace {

constexpr int kSize = 128;

struct Rgb {
  double r, g, b;
};

// A well-mixed 32-bit hash, so every brick, thread and stone gets its own look.
std::uint32_t hash(std::uint32_t x, std::uint32_t y, std::uint32_t salt) {
  std::uint32_t h = x * 0x8DA6B343u ^ y * 0xD8163841u ^ salt * 0xCB1AB31Fu;
  h ^= h >> 13;
  h *= 0x5BD1E995u;
  h ^= h >> 15;
  return h;
}

double unit(std::uint32_t h) { return (h & 0xFFFFFF) / double(0xFFFFFF); }

// Fine grain on top of each pattern, in -1..1.
double grain(int x, int y, std::uint32_t salt) { return 2 * unit(hash(x, y, salt)) - 1; }

Rgb bricks(int x, int y) {
  const int row = y / 16;
  const int shifted = x + (row % 2) * 16;  // running bond
  const int col = shifted / 32;
  const bool mortar = y % 16 < 2 || shifted % 32 < 2;
  if (mortar) {
    const double m = 180 + 12 * grain(x, y, 1);
    return {m, m - 4, m - 12};
  }
  const double tone = unit(hash(col, row, 2));
  const double n = 14 * grain(x, y, 3);
  return {150 + 50 * tone + n, 60 + 25 * tone + n, 40 + 15 * tone + n};
}

Rgb weave(int x, int y) {
  constexpr int kThread = 8;
  const int tx = x / kThread, ty = y / kThread;
  const bool warpOnTop = (tx + ty) % 2 == 0;
  // Each thread is shaded across its width like a rounded strand.
  const double across = warpOnTop ? (x % kThread + 0.5) / kThread : (y % kThread + 0.5) / kThread;
  const double shade = 0.55 + 0.45 * std::sin(across * 3.14159265);
  const double n = 8 * grain(x, y, 4);
  if (warpOnTop) return {60 * shade + n, 90 * shade + n, 170 * shade + n};
  return {200 * shade + n, 170 * shade + n, 90 * shade + n};
}

Rgb stones(int x, int y) {
  constexpr int kCell = 20;
  double nearest = 1e9, second = 1e9;
  std::uint32_t id = 0;
  const int cx = x / kCell, cy = y / kCell;
  for (int j = cy - 1; j <= cy + 1; ++j)
    for (int i = cx - 1; i <= cx + 1; ++i) {
      const double px = (i + 0.15 + 0.7 * unit(hash(i, j, 5))) * kCell;
      const double py = (j + 0.15 + 0.7 * unit(hash(i, j, 6))) * kCell;
      const double d = std::hypot(x - px, y - py);
      if (d < nearest) {
        second = nearest;
        nearest = d;
        id = hash(i, j, 7);
      } else if (d < second) {
        second = d;
      }
    }
  const double n = 10 * grain(x, y, 8);
  if (second - nearest < 2.5) return {55 + n, 50 + n, 45 + n};  // the joints between stones
  const double tone = unit(id);
  const double dome = std::clamp(1.1 - nearest / kCell, 0.6, 1.0);
  return {(110 + 70 * tone) * dome + n, (100 + 60 * tone) * dome + n, (90 + 40 * tone) * dome + n};
}

std::uint8_t byte(double v) {
  return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

bool writeBmp(const std::string& path, Rgb (*pattern)(int, int)) {
  const std::uint32_t stride = static_cast<std::uint32_t>(platform::dibStride(kSize, 24));
  const std::uint32_t image = stride * kSize;
  platform::BitmapFileHeader file{platform::kBitmapFileType, 14 + 40 + image, 0, 0, 14 + 40};
  platform::BitmapInfoHeader info{};
  info.size = platform::kBitmapInfoHeaderSize;
  info.width = kSize;
  info.height = kSize;
  info.planes = 1;
  info.bitCount = 24;
  info.compression = platform::BI_RGB;
  info.sizeImage = image;
  info.xPelsPerMeter = info.yPelsPerMeter = 2835;
  std::vector<std::uint8_t> rows(image, 0);
  for (int row = 0; row < kSize; ++row) {
    const int y = kSize - 1 - row;  // rows are stored bottom-up
    for (int x = 0; x < kSize; ++x) {
      const Rgb c = pattern(x, y);
      std::uint8_t* p = &rows[row * stride + 3 * x];
      p[0] = byte(c.b);
      p[1] = byte(c.g);
      p[2] = byte(c.r);
    }
  }
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(&file, sizeof file, 1, f) == 1 &&
            std::fwrite(&info, sizeof info, 1, f) == 1 &&
            std::fwrite(rows.data(), 1, rows.size(), f) == rows.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_samples OUTDIR\n");
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  const struct {
    const char* name;
    Rgb (*pattern)(int, int);
  } samples[] = {{"bricks.bmp", bricks}, {"weave.bmp", weave}, {"stones.bmp", stones}};
  for (const auto& s : samples) {
    const std::string path = (dir / s.name).string();
    if (!writeBmp(path, s.pattern)) {
      std::fprintf(stderr, "make_samples: cannot write %s\n", path.c_str());
      return 1;
    }
    std::printf("%s\n", path.c_str());
  }
  return 0;
}
