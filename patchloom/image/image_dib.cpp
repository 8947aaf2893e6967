#include "patchloom/image/image_dib.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "patchloom/image/bmp_rle.h"
#include "patchloom/image/image_palette.h"
#include "platform/bitmap_format.h"

using platform::BitmapFileHeader;
using platform::BitmapInfoHeader;
using platform::HGLOBAL;

namespace {

constexpr std::size_t kHeaderBytes = platform::kBitmapInfoHeaderSize;
constexpr std::size_t kColorTableRoom = 1024;
constexpr std::size_t kWritePiece = 32768;

// The 16-colour table that new 4- and 8-bit DIBs start with, as (red, green, blue).
constexpr std::array<std::array<std::uint8_t, 3>, 16> kDefaultColors{{
    {0, 0, 0},
    {128, 0, 0},
    {0, 128, 0},
    {128, 128, 0},
    {0, 0, 128},
    {128, 0, 128},
    {0, 128, 128},
    {192, 192, 192},
    {128, 128, 128},
    {255, 0, 0},
    {0, 255, 0},
    {255, 255, 0},
    {0, 0, 255},
    {255, 0, 255},
    {0, 255, 255},
    {255, 255, 255},
}};

bool validBitCount(int bitCount) {
  switch (bitCount) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
      return true;
    default:
      return false;
  }
}

// Bytes of the rows of a width x height DIB, or 0 when the image is outside the limits.
std::uint64_t rowBytesWithinLimits(int bitCount, std::int64_t width, std::int64_t height) {
  if (width <= 0 || height <= 0 || width > kMaxImageSide || height > kMaxImageSide) return 0;
  if (width * height > kMaxImagePixels) return 0;
  const std::uint64_t bytes = platform::dibStride(static_cast<std::uint64_t>(width), bitCount) *
                              static_cast<std::uint64_t>(height);
  if (bytes + kHeaderBytes + kColorTableRoom > platform::kMaxGlobalBlockBytes) return 0;
  return bytes;
}

bool readExactly(std::FILE* file, void* buffer, std::size_t count) {
  return std::fread(buffer, 1, count, file) == count;
}

}  // namespace

std::size_t ImageDibColorTableEntries(const void* dib) {
  if (!dib) return 0;
  const auto size = platform::loadPacked<std::uint32_t>(dib);
  if (size < kHeaderBytes) {
    const auto core = platform::loadPacked<platform::BitmapCoreHeader>(dib);
    return core.bitCount <= 8 ? std::size_t{1} << core.bitCount : 0;
  }
  const auto h = platform::loadPacked<BitmapInfoHeader>(dib);
  if (h.compression == platform::BI_BITFIELDS) return 3;
  if (h.clrUsed != 0) return h.clrUsed;
  return h.bitCount <= 8 ? std::size_t{1} << h.bitCount : 0;
}

std::size_t ImageDibColorTableSize(const void* dib) {
  if (!dib) return 0;
  const auto size = platform::loadPacked<std::uint32_t>(dib);
  return ImageDibColorTableEntries(dib) * (size < kHeaderBytes ? 3 : 4);
}

HGLOBAL ImageDibAlloc(int bitCount, int width, int height) {
  if (!validBitCount(bitCount)) return nullptr;
  const std::uint64_t rowBytes = rowBytesWithinLimits(bitCount, width, height);
  if (rowBytes == 0) return nullptr;
  HGLOBAL block = platform::GlobalAlloc(platform::GHND, kHeaderBytes + kColorTableRoom + rowBytes);
  if (!block) return nullptr;
  platform::GlobalLockGuard lock(block);
  auto* bytes = lock.as<std::uint8_t>();
  BitmapInfoHeader h{};
  h.size = kHeaderBytes;
  h.width = width;
  h.height = height;
  h.planes = 1;
  h.bitCount = static_cast<std::uint16_t>(bitCount);
  h.compression = platform::BI_RGB;
  h.sizeImage = static_cast<std::uint32_t>(rowBytes);
  h.clrUsed = bitCount == 4 ? 16 : bitCount == 8 ? 256 : 0;
  platform::storePacked(bytes, h);
  for (std::uint32_t i = 0; i < h.clrUsed; ++i) {
    const auto& c = kDefaultColors[i % kDefaultColors.size()];
    platform::storePacked(bytes + kHeaderBytes + 4 * i, platform::RgbQuad{c[2], c[1], c[0], 0});
  }
  return block;
}

void ImageDibSetColorTable(void* dib, const CImagePalette* palette, int mode) {
  if (!dib) return;
  const auto h = platform::loadPacked<BitmapInfoHeader>(dib);
  if (h.size < kHeaderBytes || h.compression == platform::BI_BITFIELDS) return;
  const std::size_t entries = ImageDibColorTableEntries(dib);
  auto* table = static_cast<std::uint8_t*>(dib) + h.size;
  if (mode == 1) {
    for (std::size_t i = 0; i < entries; ++i)
      platform::storePacked(table + 2 * i, static_cast<std::uint16_t>(i));
    return;
  }
  const platform::Palette& source = palette ? *palette : platform::stockDefaultPalette();
  const std::size_t available = std::min<std::size_t>(source.entries().size(), 256);
  for (std::size_t i = 0; i < entries; ++i) {
    platform::RgbQuad quad{0, 0, 0, 0};
    if (i < available) {
      const auto& e = source.entries()[i];
      quad = {e.blue, e.green, e.red, 0};
    }
    platform::storePacked(table + 4 * i, quad);
  }
}

std::unique_ptr<CImagePalette> ImageDibCreatePalette(const void* dib, int flags) {
  if (!dib) return nullptr;
  const auto h = platform::loadPacked<BitmapInfoHeader>(dib);
  if (h.clrUsed == 0 || h.clrUsed > 256) return nullptr;
  std::vector<platform::PaletteEntry> entries(h.clrUsed);
  const auto* table = static_cast<const std::uint8_t*>(dib) + h.size;
  for (std::uint32_t i = 0; i < h.clrUsed; ++i) {
    const auto q = platform::loadPacked<platform::RgbQuad>(table + 4 * i);
    entries[i] = {q.red, q.green, q.blue, static_cast<std::uint8_t>(flags)};
  }
  auto palette = std::make_unique<CImagePalette>();
  palette->create(entries);
  return palette;
}

namespace {

// Null, with `reason` in `error` when the caller wants one.
std::nullptr_t fail(std::string* error, std::string reason) {
  if (error) *error = std::move(reason);
  return nullptr;
}

// A bit-field mask is one run of set bits inside the pixel (or no bits at all).
bool contiguousMask(std::uint32_t mask, int bitCount) {
  if (mask == 0) return true;
  if (bitCount < 32 && (mask >> bitCount) != 0) return false;
  const std::uint32_t low = mask >> std::countr_zero(mask);
  return (low & (low + 1)) == 0;
}

bool validMasks(const std::uint8_t* masks, int bitCount) {
  std::uint32_t seen = 0;
  for (int i = 0; i < 3; ++i) {
    const auto mask = platform::loadPacked<std::uint32_t>(masks + 4 * i);
    if (!contiguousMask(mask, bitCount) || (mask & seen) != 0) return false;
    seen |= mask;
  }
  return true;
}

}  // namespace

HGLOBAL ImageDibReadHeader(std::FILE* file, std::string* error) {
  if (!file) return fail(error, "no file");
  const long start = std::ftell(file);
  if (start < 0 || std::fseek(file, 0, SEEK_END) != 0) return fail(error, "cannot seek");
  const long end = std::ftell(file);
  if (end < start || std::fseek(file, start, SEEK_SET) != 0) return fail(error, "cannot seek");

  std::uint8_t fileHeader[sizeof(BitmapFileHeader)];
  if (!readExactly(file, fileHeader, sizeof fileHeader))
    return fail(error, "file header: shorter than 14 bytes");
  const auto fh = platform::loadPacked<BitmapFileHeader>(fileHeader);
  std::uint32_t pixelOffset = 0;
  if (fh.type == platform::kBitmapFileType) {
    pixelOffset = fh.pixelOffset;
  } else if (std::fseek(file, start, SEEK_SET) != 0) {
    return fail(error, "cannot seek");
  }

  // Read the whole info header whatever its version; the first 40 bytes are the ones
  // kept, and a bit-field header of 52 bytes or more carries its masks right after them.
  std::uint8_t sizeBytes[4];
  if (!readExactly(file, sizeBytes, 4)) return fail(error, "info header: missing");
  const auto headerSize = platform::loadPacked<std::uint32_t>(sizeBytes);
  if (headerSize != platform::kBitmapCoreHeaderSize &&
      (headerSize < kHeaderBytes || headerSize > 4096))
    return fail(error, "info header: size " + std::to_string(headerSize) + " is not a BMP header");
  std::vector<std::uint8_t> raw(headerSize);
  std::memcpy(raw.data(), sizeBytes, 4);
  if (!readExactly(file, raw.data() + 4, headerSize - 4))
    return fail(error, "info header: the file ends inside it");

  BitmapInfoHeader h{};
  const bool core = headerSize == platform::kBitmapCoreHeaderSize;
  if (core) {
    const auto c = platform::loadPacked<platform::BitmapCoreHeader>(raw.data());
    h.width = c.width;
    h.height = c.height;
    h.planes = c.planes;
    h.bitCount = c.bitCount;
  } else {
    h = platform::loadPacked<BitmapInfoHeader>(raw.data());
  }
  h.size = kHeaderBytes;

  if (!validBitCount(h.bitCount))
    return fail(error, "bit count " + std::to_string(h.bitCount) + " is not a BMP depth");
  const bool bitFields = h.compression == platform::BI_BITFIELDS;
  const bool runLength = (h.compression == platform::BI_RLE8 && h.bitCount == 8) ||
                         (h.compression == platform::BI_RLE4 && h.bitCount == 4);
  if (h.compression != platform::BI_RGB && !runLength &&
      !(bitFields && (h.bitCount == 16 || h.bitCount == 32)))
    return fail(error, "compression " + std::to_string(h.compression) + " at " +
                           std::to_string(h.bitCount) + " bits is not read");
  const std::int64_t height = h.height;
  const bool topDown = height < 0;
  // Run-length rows are stored bottom-up only.
  if (runLength && topDown) return fail(error, "run-length data with a negative height");
  const std::uint64_t rowBytes =
      rowBytesWithinLimits(h.bitCount, h.width, topDown ? -height : height);
  if (rowBytes == 0)
    return fail(error, "size " + std::to_string(h.width) + " x " + std::to_string(h.height) +
                           " is outside 1 ... " + std::to_string(kMaxImageSide) + " a side and " +
                           std::to_string(kMaxImagePixels) + " pixels");
  if (h.bitCount <= 8 && h.clrUsed == 0) h.clrUsed = 1u << h.bitCount;
  if (h.clrUsed > 256)
    return fail(error, "colour table: " + std::to_string(h.clrUsed) + " entries, more than 256");

  // The colour table as quads; a core header's entries are 3-byte triples. Tables of
  // images above 8 bits are only a display hint and are dropped.
  std::vector<std::uint8_t> table;
  if (bitFields) {
    table.resize(12);
    if (headerSize >= 52) {
      std::memcpy(table.data(), raw.data() + kHeaderBytes, 12);
    } else if (!readExactly(file, table.data(), 12)) {
      return fail(error, "bit-field masks: the file ends inside them");
    }
    if (!validMasks(table.data(), h.bitCount))
      return fail(error, "bit-field masks: not contiguous, overlapping or wider than the pixel");
    h.clrUsed = 0;
  } else {
    const std::size_t entryBytes = core ? 3 : 4;
    std::vector<std::uint8_t> fileTable(h.clrUsed * entryBytes);
    if (!readExactly(file, fileTable.data(), fileTable.size()))
      return fail(error, "colour table: the file ends inside it");
    if (h.bitCount <= 8) {
      table.resize(h.clrUsed * 4);
      for (std::uint32_t i = 0; i < h.clrUsed; ++i) {
        std::memcpy(&table[4 * i], &fileTable[entryBytes * i], 3);
        table[4 * i + 3] = 0;
      }
    } else {
      h.clrUsed = 0;
    }
  }

  if (pixelOffset != 0 && std::fseek(file, start + static_cast<long>(pixelOffset), SEEK_SET) != 0)
    return fail(error, "pixel offset " + std::to_string(pixelOffset) + " cannot be reached");
  const long pixels = std::ftell(file);
  if (pixels < 0 || pixels > end)
    return fail(error, "pixel offset " + std::to_string(pixelOffset) + " is past the file's end");
  const std::uint64_t left = static_cast<std::uint64_t>(end - pixels);
  if (runLength) {
    // The compressed size: biSizeImage when the file holds that much, else what is left.
    h.sizeImage = static_cast<std::uint32_t>(h.sizeImage != 0 && h.sizeImage <= left
                                                 ? h.sizeImage
                                                 : std::min<std::uint64_t>(left, 0x7FFFFFFF));
  } else {
    if (left < rowBytes)
      return fail(error, "pixel data: " + std::to_string(left) + " bytes where the rows need " +
                             std::to_string(rowBytes));
    h.sizeImage = static_cast<std::uint32_t>(rowBytes);
  }

  HGLOBAL block = platform::GlobalAlloc(platform::GMEM_MOVEABLE, kHeaderBytes + table.size());
  if (!block) return fail(error, "out of memory");
  {
    platform::GlobalLockGuard lock(block);
    auto* bytes = lock.as<std::uint8_t>();
    // A top-down file is kept with a negative height here, and run-length data with its
    // compression and compressed size; ImageDibLoadFile turns them into plain rows.
    platform::storePacked(bytes, h);
    if (!table.empty()) std::memcpy(bytes + kHeaderBytes, table.data(), table.size());
  }
  return block;
}

namespace {

void turnUpright(std::uint8_t* bits, std::size_t stride, std::int32_t height) {
  std::vector<std::uint8_t> swap(stride);
  for (std::int32_t top = 0, bottom = height - 1; top < bottom; ++top, --bottom) {
    std::memcpy(swap.data(), bits + top * stride, stride);
    std::memcpy(bits + top * stride, bits + bottom * stride, stride);
    std::memcpy(bits + bottom * stride, swap.data(), stride);
  }
}

// Reads the pixel data after `h` into `bits` (rowBytes of plain rows); false when the
// file holds less than it should.
bool readPixels(std::FILE* file, BitmapInfoHeader& h, std::uint8_t* bits, std::uint64_t rowBytes) {
  const bool runLength = h.compression == platform::BI_RLE8 || h.compression == platform::BI_RLE4;
  if (!runLength) {
    if (!readExactly(file, bits, h.sizeImage)) return false;
    if (h.height < 0) {
      h.height = -h.height;
      turnUpright(bits, platform::dibStride(h.width, h.bitCount), h.height);
    }
    return true;
  }
  std::vector<std::uint8_t> data(h.sizeImage);
  if (!readExactly(file, data.data(), data.size())) return false;
  std::memset(bits, 0, rowBytes);
  detail::decodeBmpRle(data.data(), data.size(), h.bitCount, h.width, h.height, bits,
                       platform::dibStride(h.width, h.bitCount));
  h.compression = platform::BI_RGB;
  h.sizeImage = static_cast<std::uint32_t>(rowBytes);
  return true;
}

}  // namespace

HGLOBAL ImageDibLoadFile(const std::string& name, std::string* error) {
  std::FILE* file = platform::openStdFile(name, "rb");
  if (!file) return fail(error, name + ": cannot open: " + std::strerror(errno));
  std::string reason;
  HGLOBAL header = ImageDibReadHeader(file, &reason);
  if (!header) {
    std::fclose(file);
    return fail(error, name + ": " + reason);
  }
  const std::size_t headerBlockBytes = platform::GlobalSize(header);
  HGLOBAL block = nullptr;
  bool complete = false;
  try {
    platform::GlobalLockGuard headerLock(header);
    auto h = platform::loadPacked<BitmapInfoHeader>(headerLock.data());
    const std::uint64_t rowBytes =
        platform::dibStride(h.width, h.bitCount) * static_cast<std::uint64_t>(std::abs(h.height));
    block = platform::GlobalAlloc(platform::GMEM_MOVEABLE, headerBlockBytes + rowBytes);
    if (block) {
      platform::GlobalLockGuard lock(block);
      auto* bytes = lock.as<std::uint8_t>();
      std::memcpy(bytes, headerLock.data(), headerBlockBytes);
      complete = readPixels(file, h, bytes + headerBlockBytes, rowBytes);
      platform::storePacked(bytes, h);
    }
    reason = block ? "pixel data: the file ends inside it" : "out of memory";
  } catch (const std::bad_alloc&) {
    reason = "out of memory";
  }
  if (!complete) block = platform::GlobalFree(block);
  platform::GlobalFree(header);
  std::fclose(file);
  if (!complete) return fail(error, name + ": " + reason);
  return block;
}

std::size_t detail::imageDibWritePieces(
    const void* data, std::size_t size,
    const std::function<std::size_t(const void*, std::size_t)>& sink) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  std::size_t left = size;
  while (left > kWritePiece) {
    if (sink(bytes, kWritePiece) != kWritePiece) return 0;
    bytes += kWritePiece;
    left -= kWritePiece;
  }
  if (left > 0 && sink(bytes, left) != left) return 0;
  return size;
}

std::size_t ImageDibWrite(platform::File& file, const void* data, std::size_t size) {
  return detail::imageDibWritePieces(data, size, [&file](const void* piece, std::size_t count) {
    try {
      file.Write(piece, static_cast<std::uint32_t>(count));
      return count;
    } catch (const platform::FileException&) {
      return std::size_t{0};
    }
  });
}

int ImageDibSaveFile(const std::string& name, const void* dib, std::string* error) {
  if (!dib) return fail(error, name + ": no image to write"), 0;
  const auto h = platform::loadPacked<BitmapInfoHeader>(dib);
  const std::size_t tableBytes = ImageDibColorTableSize(dib);
  const std::size_t dibBytes = h.size + tableBytes + h.sizeImage;
  platform::File file;
  if (!file.Open(name, platform::File::modeCreate | platform::File::modeReadWrite |
                           platform::File::typeBinary))
    return fail(error, name + ": cannot create: " + std::strerror(errno)), 0;
  BitmapFileHeader fh{};
  fh.type = platform::kBitmapFileType;
  fh.fileSize = static_cast<std::uint32_t>(sizeof fh + dibBytes);
  fh.pixelOffset = static_cast<std::uint32_t>(sizeof fh + h.size + tableBytes);
  std::uint8_t fileHeader[sizeof fh];
  platform::storePacked(fileHeader, fh);
  bool ok = ImageDibWrite(file, fileHeader, sizeof fileHeader) == sizeof fileHeader &&
            ImageDibWrite(file, dib, dibBytes) == dibBytes;
  try {
    file.Close();
  } catch (const platform::FileException&) {
    ok = false;
  }
  if (!ok) fail(error, name + ": writing failed: " + std::strerror(errno ? errno : EIO));
  return ok ? 1 : 0;
}
