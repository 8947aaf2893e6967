#include "patchloom/image/png_image.h"

#include <png.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "patchloom/image/image_dib.h"
#include "platform/file.h"

namespace {

// Transparent pixels are laid over this colour.
constexpr std::uint8_t kBackgroundRed = 31, kBackgroundGreen = 127, kBackgroundBlue = 255;

// The library's message is kept (as the reason of the failed read or write) before the
// jump back.
[[noreturn]] void onPngError(png_structp png, png_const_charp message) {
  if (auto* reason = static_cast<std::string*>(png_get_error_ptr(png)))
    *reason = message ? message : "libpng error";
  png_longjmp(png, 1);
}
void onPngWarning(png_structp, png_const_charp) {}

// libpng's own compositing rule, at gamma 1.0.
std::uint8_t composite(unsigned foreground, unsigned alpha, unsigned background) {
  const unsigned t = foreground * alpha + background * (255 - alpha) + 128;
  return static_cast<std::uint8_t>((t + (t >> 8)) >> 8);
}

enum class PngLayout { indexed, grey, colour };

struct PngHeader {
  png_uint_32 width = 0, height = 0;
  PngLayout layout = PngLayout::colour;
  int bitCount = 24;
  int channels = 3;
  int passes = 1;
  std::size_t rowBytes = 0;
  int paletteEntries = 0;
  int greyLevels = 0;
  std::array<std::uint8_t, 3 * 256> palette{};
};

// Text, metadata and colour-management chunks play no part in the pixels we read, and
// libpng buffers several of them whole at whatever length the file declares (gigabytes
// for a hostile one). Skipping them reads their bytes in small pieces instead.
void ignoreUnusedChunks(png_structp png) {
  static constexpr png_byte kUnused[] =
      "tEXt\0zTXt\0iTXt\0eXIf\0pCAL\0sPLT\0sCAL\0iCCP\0hIST\0sBIT\0bKGD\0cHRM\0gAMA\0"
      "sRGB\0pHYs\0oFFs\0tIME";
  constexpr int kUnusedCount = static_cast<int>(sizeof kUnused / 5);
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kUnused, kUnusedCount);
}

// Reads the header and sets the transformations; false on any libpng error.
bool readPngHeader(png_structp png, png_infop info, std::FILE* file, PngHeader& out) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_init_io(png, file);
  png_set_user_limits(png, kMaxImageSide, kMaxImageSide);
  ignoreUnusedChunks(png);
  png_read_info(png, info);
  int depth = 0, colorType = 0, interlace = 0;
  png_get_IHDR(png, info, &out.width, &out.height, &depth, &colorType, &interlace, nullptr,
               nullptr);
  if (static_cast<std::uint64_t>(out.width) * out.height > kMaxImagePixels) return false;
  const bool transparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  if (depth == 16) png_set_strip_16(png);
  // BMP files have no 2-bit form, so such pixels are unpacked to a byte each.
  const int indexedBits = depth == 2 ? 8 : std::min(depth, 8);
  if (depth == 2) png_set_packing(png);
  if (colorType == PNG_COLOR_TYPE_PALETTE) {
    out.layout = PngLayout::indexed;
    out.bitCount = indexedBits;
    png_colorp entries = nullptr;
    int count = 0;
    if (!png_get_PLTE(png, info, &entries, &count) || count < 1) return false;
    png_bytep alpha = nullptr;
    int alphaCount = 0;
    if (transparency) png_get_tRNS(png, info, &alpha, &alphaCount, nullptr);
    out.paletteEntries = std::min(count, 256);
    for (int i = 0; i < out.paletteEntries; ++i) {
      const unsigned a = i < alphaCount ? alpha[i] : 255;
      out.palette[3 * i] = composite(entries[i].red, a, kBackgroundRed);
      out.palette[3 * i + 1] = composite(entries[i].green, a, kBackgroundGreen);
      out.palette[3 * i + 2] = composite(entries[i].blue, a, kBackgroundBlue);
    }
  } else if (colorType == PNG_COLOR_TYPE_GRAY && !transparency) {
    out.layout = PngLayout::grey;
    out.bitCount = indexedBits;
    out.greyLevels = 1 << std::min(depth, 8);
  } else {
    // Grey with alpha or a transparent value, and every colour kind: 8-bit RGB or RGBA
    // rows, composited while they are copied into the image.
    out.layout = PngLayout::colour;
    out.bitCount = 24;
    png_set_expand(png);
    png_set_gray_to_rgb(png);
  }
  out.passes = interlace != PNG_INTERLACE_NONE ? png_set_interlace_handling(png) : 1;
  png_read_update_info(png, info);
  out.channels = png_get_channels(png, info);
  out.rowBytes = png_get_rowbytes(png, info);
  if (out.layout == PngLayout::colour) return out.channels == 3 || out.channels == 4;
  return out.channels == 1 &&
         out.rowBytes == (static_cast<std::size_t>(out.width) * out.bitCount + 7) / 8;
}

// Reads every pass of the rows into the image (row 0 of the file is the DIB's top row).
bool readPngRows(png_structp png, const PngHeader& header, std::uint8_t* bits, int stride,
                 std::vector<std::uint8_t>& buffer) {
  if (setjmp(png_jmpbuf(png))) return false;
  const bool convert = header.layout == PngLayout::colour;
  const int height = static_cast<int>(header.height);
  const int width = static_cast<int>(header.width);
  const bool keepRows = header.passes > 1;
  for (int pass = 0; pass < header.passes; ++pass) {
    const bool last = pass == header.passes - 1;
    for (int y = 0; y < height; ++y) {
      std::uint8_t* dibRow = bits + static_cast<std::size_t>(height - 1 - y) * stride;
      std::uint8_t* row = !convert ? dibRow : buffer.data() + (keepRows ? y * header.rowBytes : 0);
      png_read_row(png, row, nullptr);
      if (!convert || !last) continue;
      if (header.channels == 4) {
        for (int x = 0; x < width; ++x) {
          const std::uint8_t* p = row + 4 * x;
          dibRow[3 * x] = composite(p[2], p[3], kBackgroundBlue);
          dibRow[3 * x + 1] = composite(p[1], p[3], kBackgroundGreen);
          dibRow[3 * x + 2] = composite(p[0], p[3], kBackgroundRed);
        }
      } else {
        for (int x = 0; x < width; ++x) {
          dibRow[3 * x] = row[3 * x + 2];
          dibRow[3 * x + 1] = row[3 * x + 1];
          dibRow[3 * x + 2] = row[3 * x];
        }
      }
    }
  }
  png_read_end(png, nullptr);
  return true;
}

struct PngWriteLayout {
  int colorType = PNG_COLOR_TYPE_RGB;
  int depth = 8;
  std::vector<png_color> palette;
};

bool writePng(png_structp png, png_infop info, std::FILE* file, const PngWriteLayout& layout,
              const CImageImpl& image, std::vector<std::uint8_t>& row) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_init_io(png, file);
  const int width = image.GetWidth(), height = image.GetHeight();
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height),
               layout.depth, layout.colorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (!layout.palette.empty())
    png_set_PLTE(png, info, layout.palette.data(), static_cast<int>(layout.palette.size()));
  png_write_info(png, info);
  const int bitCount = image.GetBitCount();
  for (int y = 0; y < height; ++y) {
    const int dibY = height - 1 - y;
    const std::uint8_t* dibRow =
        image.GetBits() + static_cast<std::size_t>(dibY) * image.GetLineBytes();
    if (bitCount <= 8) {
      png_write_row(png, dibRow);
      continue;
    }
    if (bitCount == 24) {
      for (int x = 0; x < width; ++x) {
        row[3 * x] = dibRow[3 * x + 2];
        row[3 * x + 1] = dibRow[3 * x + 1];
        row[3 * x + 2] = dibRow[3 * x];
      }
    } else {
      for (int x = 0; x < width; ++x)
        image.GetPixelRGB(x, dibY, &row[3 * x], &row[3 * x + 1], &row[3 * x + 2]);
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  return true;
}

}  // namespace

int CPngImageImpl::Read(const std::string& name) {
  const std::string& path = UseName(name);
  lastError.clear();
  std::FILE* file = platform::openStdFile(path, "rb");
  if (!file) {
    lastError = path + ": cannot open: " + std::strerror(errno);
    return 0;
  }
  FreeImage();
  width = height = stride = 0;
  std::string reason;
  png_structp png =
      png_create_read_struct(PNG_LIBPNG_VER_STRING, &reason, onPngError, onPngWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  bool ok = info != nullptr;
  PngHeader header;
  std::vector<std::uint8_t> buffer;
  if (ok) ok = readPngHeader(png, info, file, header);
  if (ok) {
    const int flags = header.layout == PngLayout::colour ? kImageFlagColor : 0;
    ok = Create(static_cast<int>(header.width), static_cast<int>(header.height), header.bitCount,
                flags) != 0;
  }
  if (ok && header.layout == PngLayout::indexed)
    ok = SetPaletteTriples(header.paletteEntries, header.palette.data()) != 0;
  if (ok && header.layout == PngLayout::grey) {
    // Grey levels span black to white at every depth: level i of n is i * 255 / (n - 1).
    const int levels = header.greyLevels;
    for (int i = 0; i < levels; ++i)
      header.palette[3 * i] = header.palette[3 * i + 1] = header.palette[3 * i + 2] =
          static_cast<std::uint8_t>(i * 255 / (levels - 1));
    ok = SetPaletteTriples(levels, header.palette.data()) != 0;
  }
  if (ok && header.layout == PngLayout::colour) {
    try {
      buffer.resize((header.passes > 1 ? header.height : 1) * header.rowBytes);
    } catch (const std::bad_alloc&) {
      ok = false;
    }
  }
  if (ok) ok = readPngRows(png, header, bits, stride, buffer);
  png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
  std::fclose(file);
  if (!ok) {
    FreeImage();
    width = height = stride = 0;
    lastError = path + ": " + (reason.empty() ? "not a PNG image the reader takes" : reason);
  }
  return ok ? 1 : 0;
}

int CPngImageImpl::Write(const std::string& name) {
  const std::string& path = UseName(name);
  if (!dib) return 0;
  PngWriteLayout layout;
  if (bitCount <= 8) {
    layout.depth = bitCount;
    if (imagePalette) {
      layout.colorType = PNG_COLOR_TYPE_PALETTE;
      std::printf("writig paleta[%d %d %x]", flags, 1,
                  static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(imagePalette)));
      const int entries = std::min(imagePalette->GetEntryCount(), 1 << bitCount);
      layout.palette.resize(static_cast<std::size_t>(entries));
      for (int i = 0; i < entries; ++i)
        imagePalette->GetEntryRGB(i, &layout.palette[i].red, &layout.palette[i].green,
                                  &layout.palette[i].blue);
    } else {
      layout.colorType = PNG_COLOR_TYPE_GRAY;
    }
  }
  lastError.clear();
  std::FILE* file = platform::openStdFile(path, "wb");
  if (!file) {
    lastError = path + ": cannot create: " + std::strerror(errno);
    return 0;
  }
  std::string reason;
  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, &reason, onPngError, onPngWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 3);
  bool ok = info != nullptr && writePng(png, info, file, layout, *this, row);
  png_destroy_write_struct(&png, info ? &info : nullptr);
  if (std::fclose(file) != 0) {
    ok = false;
    reason = std::strerror(errno);
  }
  if (!ok) lastError = path + ": writing failed: " + (reason.empty() ? "libpng error" : reason);
  return ok ? 1 : 0;
}
