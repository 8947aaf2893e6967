// Byte layouts of device-independent bitmaps and BMP files as stored on disk and in
// global memory blocks (little-endian, packed). Read them with memcpy: a block's
// header need not be aligned.
#pragma once

#include <cstdint>
#include <cstring>

namespace platform {

#pragma pack(push, 1)
struct BitmapFileHeader {  // 14 bytes, before the packed DIB in a file
  std::uint16_t type;      // "BM"
  std::uint32_t fileSize;
  std::uint16_t reserved1;
  std::uint16_t reserved2;
  std::uint32_t pixelOffset;
};

struct BitmapInfoHeader {  // 40 bytes
  std::uint32_t size;
  std::int32_t width;
  std::int32_t height;  // positive: bottom row first
  std::uint16_t planes;
  std::uint16_t bitCount;
  std::uint32_t compression;
  std::uint32_t sizeImage;
  std::int32_t xPelsPerMeter;
  std::int32_t yPelsPerMeter;
  std::uint32_t clrUsed;
  std::uint32_t clrImportant;
};

struct BitmapCoreHeader {  // 12 bytes
  std::uint32_t size;
  std::uint16_t width;
  std::uint16_t height;
  std::uint16_t planes;
  std::uint16_t bitCount;
};

struct RgbQuad {
  std::uint8_t blue, green, red, reserved;
};

struct RgbTriple {
  std::uint8_t blue, green, red;
};
#pragma pack(pop)

static_assert(sizeof(BitmapFileHeader) == 14);
static_assert(sizeof(BitmapInfoHeader) == 40);
static_assert(sizeof(BitmapCoreHeader) == 12);

inline constexpr std::uint16_t kBitmapFileType = 0x4D42;  // "BM"
inline constexpr std::uint32_t kBitmapInfoHeaderSize = 40;
inline constexpr std::uint32_t kBitmapCoreHeaderSize = 12;

enum BitmapCompression : std::uint32_t { BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3 };

// Bytes of one stored row: padded to a multiple of 4.
inline constexpr std::uint64_t dibStride(std::uint64_t width, std::uint64_t bitCount) {
  return ((width * bitCount + 31) / 32) * 4;
}

template <typename T>
inline T loadPacked(const void* at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

template <typename T>
inline void storePacked(void* at, const T& value) {
  std::memcpy(at, &value, sizeof value);
}

}  // namespace platform
