// DIB handles and BMP files. A handle read from a file is checked once, when it is read:
// its header, colour table and pixel rows must all lie inside the block. The drawing and
// writing functions check the block again, since handles also arrive from other code.
#include "quiltbench/engine/dib.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/bitmap_format.h"
#include "platform/replacing_file.h"

using platform::BitmapCoreHeader;
using platform::BitmapFileHeader;
using platform::BitmapInfoHeader;
using platform::GlobalLockGuard;
using platform::HGLOBAL;
using platform::loadPacked;
using platform::storePacked;

namespace {

constexpr const char* kSizeRefused = "BMP Image is too big or too small for loading";
constexpr const char* kReadFailed = "Reading Image error!\n Maybe the type is not supported!";
constexpr const char* kSaveRefused = "Cannot save BMP Image!";

// No sample image is anywhere near this wide or high; a header that says so is hostile.
constexpr std::uint32_t kMaxDimension = 1u << 15;

bool isInfoHeader(const void* header) {
  return loadPacked<std::uint32_t>(header) == platform::kBitmapInfoHeaderSize;
}

std::uint32_t headerSize(const void* header) { return loadPacked<std::uint32_t>(header); }

std::uint32_t compressionOf(const void* header) {
  return isInfoHeader(header) ? loadPacked<BitmapInfoHeader>(header).compression
                              : static_cast<std::uint32_t>(platform::BI_RGB);
}

bool isRunLength(std::uint32_t compression) {
  return compression == platform::BI_RLE8 || compression == platform::BI_RLE4;
}

// Rows of an uncompressed bitmap, whichever way they are stored.
std::uint64_t rowCount(const void* header) {
  if (!isInfoHeader(header)) return loadPacked<BitmapCoreHeader>(header).height;
  const std::int64_t h = loadPacked<BitmapInfoHeader>(header).height;
  return static_cast<std::uint64_t>(h < 0 ? -h : h);
}

// Bytes of the pixel rows as stored uncompressed.
std::uint64_t uncompressedImageBytes(const void* header) {
  return platform::dibStride(DibWidth(header), DibBitCount(header)) * rowCount(header);
}

// Bytes from the header's start to the end of the pixel data that the header describes
// (for run-length data, its stored image size); 0 when the header cannot be trusted that
// far or the total exceeds `available`. The caller has checked that 4 bytes are there.
std::uint64_t describedBytes(const void* header, std::uint64_t available, bool uncompressed) {
  const std::uint32_t size = headerSize(header);
  if (size != platform::kBitmapInfoHeaderSize && size != platform::kBitmapCoreHeaderSize) return 0;
  if (available < size) return 0;
  const std::uint64_t start = std::uint64_t{size} + DibMaskBytes(header) + DibPaletteSize(header);
  if (start > available) return 0;
  const std::uint64_t stride = platform::dibStride(DibWidth(header), DibBitCount(header));
  const std::uint64_t rows = rowCount(header);
  std::uint64_t image;
  if (!uncompressed && isRunLength(compressionOf(header))) {
    image = loadPacked<BitmapInfoHeader>(header).sizeImage;
  } else {
    if (stride != 0 && rows > (available - start) / stride) return 0;
    image = stride * rows;
  }
  if (image > available - start) return 0;
  return start + image;
}

bool isOneRunOfBits(std::uint32_t mask) {
  if (mask == 0) return false;
  const std::uint32_t low = mask >> std::countr_zero(mask);
  return (low & (low + 1)) == 0;
}

std::string number(std::uint64_t n) { return std::to_string(n); }

// Why a header from a file cannot be trusted; empty when it passes every check.
std::string headerProblem(const unsigned char* dib, std::uint64_t available) {
  const std::string truncated = "its colour table or pixel rows run past the end of the file";
  if (available < 4) return "the file ends inside its bitmap header";
  const std::uint32_t size = headerSize(dib);
  if (size == platform::kBitmapInfoHeaderSize) {
    if (available < size) return "the file ends inside its bitmap header";
    const auto info = loadPacked<BitmapInfoHeader>(dib);
    if (info.width <= 0 || info.height == 0 ||
        info.height == std::numeric_limits<std::int32_t>::min())
      return "its header gives a size of " + std::to_string(info.width) + "x" +
             std::to_string(info.height) + " pixels";
    if (static_cast<std::uint32_t>(info.width) > kMaxDimension || rowCount(dib) > kMaxDimension)
      return "its " + std::to_string(info.width) + "x" + number(rowCount(dib)) +
             " pixels exceed the " + number(kMaxDimension) + " a side this program reads";
    switch (info.bitCount) {
      case 1:
      case 4:
      case 8:
      case 16:
      case 24:
      case 32:
        break;
      default:
        return number(info.bitCount) + " bits a pixel is not a BMP depth";
    }
    switch (info.compression) {
      case platform::BI_RGB:
        break;
      case platform::BI_RLE8:
      case platform::BI_RLE4:
        if (info.bitCount != (info.compression == platform::BI_RLE8 ? 8 : 4))
          return "run-length data does not match its " + number(info.bitCount) + "-bit pixels";
        if (info.sizeImage == 0) return "its run-length data has no size";
        break;
      case platform::BI_BITFIELDS: {
        if (info.bitCount != 16 && info.bitCount != 32)
          return "bit-field masks on " + number(info.bitCount) + "-bit pixels";
        if (available < size + 12) return truncated;
        std::uint32_t masks[3];
        std::memcpy(masks, dib + size, sizeof masks);
        const std::uint64_t limit = info.bitCount == 16 ? 0xFFFFu : 0xFFFFFFFFu;
        for (std::uint32_t m : masks)
          if (!isOneRunOfBits(m) || m > limit)
            return "its bit-field masks are not three runs of bits inside the pixel";
        if ((masks[0] & masks[1]) || (masks[0] & masks[2]) || (masks[1] & masks[2]))
          return "its bit-field masks overlap";
        break;
      }
      case 4:
      case 5:
        return "it holds an embedded JPEG or PNG image, not bitmap rows";
      default:
        return "compression " + number(info.compression) + " is not one this program reads";
    }
    // The colour table's byte size is kept in 16 bits.
    if (info.clrUsed > 0xFFFF / 4)
      return "its colour table of " + number(info.clrUsed) + " entries is too large";
  } else if (size == platform::kBitmapCoreHeaderSize) {
    if (available < size) return "the file ends inside its bitmap header";
    const auto core = loadPacked<BitmapCoreHeader>(dib);
    if (core.width == 0 || core.height == 0)
      return "its header gives a size of " + number(core.width) + "x" + number(core.height) +
             " pixels";
    if (core.width > kMaxDimension || core.height > kMaxDimension)
      return "its " + number(core.width) + "x" + number(core.height) + " pixels exceed the " +
             number(kMaxDimension) + " a side this program reads";
    switch (core.bitCount) {
      case 1:
      case 4:
      case 8:
      case 24:
        break;
      default:
        return number(core.bitCount) + " bits a pixel is not a depth of its header kind";
    }
  } else {
    return "a bitmap header of " + number(size) + " bytes is not one this program reads";
  }
  return describedBytes(dib, available, false) != 0 ? std::string() : truncated;
}

// Later info-header versions (52, 56, 108 and 124 bytes) begin with the 40-byte one and
// hold the bit-field masks right after it.
bool isLongerInfoHeader(std::uint32_t size) {
  return size == 52 || size == 56 || size == 108 || size == 124;
}

// The packed DIB of a file's bytes after the file header: a longer info header becomes a
// 40-byte one followed by its masks, and the rows are taken from the file's pixel offset
// (0: right after the colour table) so that they follow the colour table directly.
// Returns why not when the offsets do not fit the file.
std::string packDib(const std::vector<unsigned char>& in, std::uint32_t pixelOffset,
                    std::vector<unsigned char>& out) {
  if (in.size() < 4) return "the file ends inside its bitmap header";
  const std::uint32_t size = headerSize(in.data());
  std::size_t tableAt = size;  // where the masks or the colour table begin in `in`
  if (isLongerInfoHeader(size)) {
    if (in.size() < size) return "the file ends inside its bitmap header";
    out.assign(in.begin(), in.begin() + platform::kBitmapInfoHeaderSize);
    storePacked(out.data(), platform::kBitmapInfoHeaderSize);
    if (compressionOf(out.data()) == platform::BI_BITFIELDS)
      out.insert(out.end(), in.begin() + platform::kBitmapInfoHeaderSize,
                 in.begin() + platform::kBitmapInfoHeaderSize + 12);
  } else if (size == platform::kBitmapInfoHeaderSize || size == platform::kBitmapCoreHeaderSize) {
    if (in.size() < size) return "the file ends inside its bitmap header";
    out.assign(in.begin(), in.begin() + size);
    tableAt = size + DibMaskBytes(out.data());
    if (tableAt > in.size()) return "the file ends inside its bitmap header";
    out.assign(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(tableAt));
  } else {
    out = in;  // refused by the header checks, with the header's size as the reason
    return {};
  }
  const std::uint64_t tableEnd = std::uint64_t{tableAt} + DibPaletteSize(out.data());
  if (tableEnd > in.size()) return "its colour table runs past the end of the file";
  out.insert(out.end(), in.begin() + static_cast<std::ptrdiff_t>(tableAt),
             in.begin() + static_cast<std::ptrdiff_t>(tableEnd));
  std::uint64_t rowsAt = tableEnd;
  if (pixelOffset != 0) {
    if (pixelOffset < sizeof(BitmapFileHeader) + tableEnd) {
      // Some writers declare bit fields and store none: the masks cannot be guessed.
      if (DibMaskBytes(out.data()) && !isLongerInfoHeader(size) &&
          pixelOffset >= sizeof(BitmapFileHeader) + size)
        return "it declares bit-field masks, but its pixel offset " + number(pixelOffset) +
               " leaves no room for them";
      return "its pixel offset " + number(pixelOffset) + " points into its header";
    }
    rowsAt = pixelOffset - sizeof(BitmapFileHeader);
    if (rowsAt > in.size())
      return "its pixel offset " + number(pixelOffset) + " lies past the end of the file";
  }
  out.insert(out.end(), in.begin() + static_cast<std::ptrdiff_t>(rowsAt), in.end());
  return {};
}

}  // namespace

int DibPaint(platform::DeviceContext& dc, const platform::Rect& dest, HGLOBAL dib,
             const platform::Rect& source, platform::Palette* palette) {
  if (!dib) return 0;
  const std::size_t blockSize = platform::GlobalSize(dib);
  GlobalLockGuard lock(dib);
  void* header = lock.data();
  // The drawing code reads whole uncompressed rows, so they must all be in the block.
  if (!header || blockSize < 4 || describedBytes(header, blockSize, true) == 0) return 0;
  const unsigned char* bits = DibBits(header);

  platform::Palette* oldPalette = nullptr;
  if (palette) oldPalette = dc.selectPalette(palette, true);
  dc.setStretchBltMode(platform::COLORONCOLOR);
  int result;
  if (dest.width() == source.width() && dest.height() == source.height()) {
    result =
        dc.setDIBitsToDevice(dest.left, dest.top, dest.width(), dest.height(), 0, 0, 0,
                             DibHeight(header) & 0xFFFF, bits, header, platform::DIB_RGB_COLORS);
  } else {
    result = dc.stretchDIBits(dest.left, dest.top, dest.width(), dest.height(), 0, 0,
                              source.width(), source.height(), bits, header,
                              platform::DIB_RGB_COLORS, platform::SRCCOPY);
  }
  if (palette) dc.selectPalette(oldPalette, true);
  return result;
}

bool DibCreatePalette(HGLOBAL dib, platform::Palette& palette) {
  if (!dib) return false;
  const std::size_t blockSize = platform::GlobalSize(dib);
  GlobalLockGuard lock(dib);
  const auto* header = lock.as<const unsigned char>();
  if (!header || blockSize < 4) return false;
  const std::uint16_t count = DibColorCount(header);
  if (count == 0) return false;
  const bool info = isInfoHeader(header);
  const std::uint64_t tableEnd = std::uint64_t{headerSize(header)} + DibPaletteSize(header);
  if (tableEnd > blockSize) return false;
  std::vector<platform::PaletteEntry> entries;
  try {
    entries.resize(count);
  } catch (const std::bad_alloc&) {
    return false;
  }
  const unsigned char* table = header + headerSize(header);
  const int entryBytes = info ? 4 : 3;
  for (std::uint16_t i = 0; i < count; ++i) {
    const unsigned char* q = table + i * entryBytes;
    entries[i] = platform::PaletteEntry{q[2], q[1], q[0], 0};
  }
  return palette.create(entries);
}

unsigned char* DibBits(void* header) {
  return static_cast<unsigned char*>(header) + headerSize(header) + DibMaskBytes(header) +
         DibPaletteSize(header);
}

const unsigned char* DibBits(const void* header) {
  return static_cast<const unsigned char*>(header) + headerSize(header) + DibMaskBytes(header) +
         DibPaletteSize(header);
}

std::uint32_t DibMaskBytes(const void* header) {
  return compressionOf(header) == platform::BI_BITFIELDS ? 12 : 0;
}

bool DibChannelMasks(const void* header, std::uint32_t masks[3]) {
  const std::uint16_t bits = DibBitCount(header);
  if (bits != 16 && bits != 32) return false;
  if (DibMaskBytes(header)) {
    std::memcpy(masks, static_cast<const unsigned char*>(header) + headerSize(header), 12);
  } else if (bits == 16) {
    masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
  } else {
    masks[0] = 0xFF0000, masks[1] = 0x00FF00, masks[2] = 0x0000FF;
  }
  return true;
}

std::uint32_t DibWidth(const void* header) {
  if (isInfoHeader(header))
    return static_cast<std::uint32_t>(loadPacked<BitmapInfoHeader>(header).width);
  return loadPacked<BitmapCoreHeader>(header).width;
}

std::uint32_t DibHeight(const void* header) {
  if (isInfoHeader(header))
    return static_cast<std::uint32_t>(loadPacked<BitmapInfoHeader>(header).height);
  return loadPacked<BitmapCoreHeader>(header).height;
}

std::uint16_t DibPaletteSize(const void* header) {
  return static_cast<std::uint16_t>(DibColorCount(header) * (isInfoHeader(header) ? 4 : 3));
}

std::uint16_t DibColorCount(const void* header) {
  if (isInfoHeader(header)) {
    const std::uint32_t used = loadPacked<BitmapInfoHeader>(header).clrUsed;
    if (used != 0) return static_cast<std::uint16_t>(used & 0xFFFF);
  }
  switch (DibBitCount(header)) {
    case 1:
      return 2;
    case 4:
      return 16;
    case 8:
      return 256;
    default:
      return 0;
  }
}

std::uint16_t DibBitCount(const void* header) {
  if (isInfoHeader(header)) return loadPacked<BitmapInfoHeader>(header).bitCount;
  return loadPacked<BitmapCoreHeader>(header).bitCount;
}

HGLOBAL DibCopyHandle(HGLOBAL block) {
  if (!block) return nullptr;
  const std::size_t size = platform::GlobalSize(block);
  HGLOBAL copy = platform::GlobalAlloc(platform::GMEM_MOVEABLE | platform::GMEM_ZEROINIT, size);
  if (!copy) return nullptr;
  GlobalLockGuard from(block);
  GlobalLockGuard to(copy);
  if (!from.data() || !to.data()) {
    platform::GlobalFree(copy);
    return nullptr;
  }
  if (size) std::memcpy(to.data(), from.data(), size);
  return copy;
}

namespace {

// Bytes of header, colour table and image that DibWriteFile would write, after bringing
// the image-size field up to date; 0 when the handle cannot be written.
std::uint64_t writableBytes(HGLOBAL dib, bool updateHeader) {
  if (!dib) return 0;
  const std::size_t blockSize = platform::GlobalSize(dib);
  GlobalLockGuard lock(dib);
  void* header = lock.data();
  if (!header || blockSize < platform::kBitmapInfoHeaderSize || !isInfoHeader(header)) return 0;
  auto info = loadPacked<BitmapInfoHeader>(header);
  std::uint64_t image;
  if (isRunLength(info.compression)) {
    image = info.sizeImage;
  } else {
    image = uncompressedImageBytes(header);
  }
  const std::uint64_t total =
      std::uint64_t{headerSize(header)} + DibMaskBytes(header) + DibPaletteSize(header) + image;
  // The file's size field has 32 bits, and nothing past the block may be written out.
  if (total > blockSize || total + sizeof(BitmapFileHeader) > 0xFFFFFFFFu) return 0;
  if (updateHeader && !isRunLength(info.compression)) {
    info.sizeImage = static_cast<std::uint32_t>(image);
    storePacked(header, info);
  }
  return total;
}

}  // namespace

bool DibWriteFile(HGLOBAL dib, platform::File& file) {
  const std::uint64_t total = writableBytes(dib, true);
  if (total == 0) return false;
  GlobalLockGuard lock(dib);
  const void* header = lock.data();
  if (!header) return false;
  BitmapFileHeader fileHeader{};
  fileHeader.type = platform::kBitmapFileType;
  fileHeader.fileSize = static_cast<std::uint32_t>(sizeof(BitmapFileHeader) + total);
  fileHeader.pixelOffset =
      static_cast<std::uint32_t>(sizeof(BitmapFileHeader) + headerSize(header) +
                                 DibMaskBytes(header) + DibPaletteSize(header));
  // A FileException leaves through here; the guard unlocks the block on the way.
  file.Write(&fileHeader, sizeof fileHeader);
  file.Write(header, static_cast<std::uint32_t>(total));
  return true;
}

HGLOBAL DibReadFile(platform::File& file, std::string* problem) {
  auto refuse = [&](std::string why) -> HGLOBAL {
    if (problem) *problem = std::move(why);
    return nullptr;
  };
  const std::uint64_t length = file.GetLength();
  unsigned char fileHeader[sizeof(BitmapFileHeader)];
  if (file.Read(fileHeader, sizeof fileHeader) != sizeof fileHeader)
    return refuse("it is shorter than a BMP file header");
  if (loadPacked<std::uint16_t>(fileHeader) != platform::kBitmapFileType)
    return refuse("it does not begin with \"BM\": not a BMP file");
  if (length < sizeof fileHeader || length > platform::kMaxGlobalBlockBytes)
    return refuse("its " + number(length) + " bytes are more than this program reads");

  const auto wanted = static_cast<std::uint32_t>(length - sizeof fileHeader);
  std::vector<unsigned char> bytes, packed;
  try {
    bytes.resize(wanted);
  } catch (const std::bad_alloc&) {
    return refuse("no memory for its " + number(length) + " bytes");
  }
  if (file.Read(bytes.data(), wanted) != wanted) return refuse("it ended while it was read");
  const auto pixelOffset = loadPacked<BitmapFileHeader>(fileHeader).pixelOffset;
  std::string why = packDib(bytes, pixelOffset, packed);
  if (why.empty()) why = headerProblem(packed.data(), packed.size());
  if (!why.empty()) return refuse(why);
  bytes = {};

  // The block keeps the file's length, as a handle read from a file always has.
  HGLOBAL dib = platform::GlobalAlloc(platform::GMEM_MOVEABLE | platform::GMEM_ZEROINIT,
                                      std::max<std::size_t>(length, packed.size()));
  if (!dib) return refuse("no memory for its " + number(length) + " bytes");
  GlobalLockGuard lock(dib);
  std::memcpy(lock.data(), packed.data(), packed.size());
  return dib;
}

namespace {

std::string openProblem(platform::FileException::Cause cause) {
  switch (cause) {
    case platform::FileException::fileNotFound:
      return "no such file";
    case platform::FileException::accessDenied:
      return "it may not be read";
    case platform::FileException::sharingViolation:
      return "it is open for writing";
    default:
      return "it cannot be opened";
  }
}

}  // namespace

CDib::HGLOBAL CDib::Load(const std::string& path) {
  m_strLastError.clear();
  m_strReason.clear();
  platform::FileException::Cause cause = platform::FileException::none;
  if (!m_loadFile.Open(path, platform::File::modeRead | platform::File::shareDenyWrite, &cause)) {
    m_strReason = "cannot open " + path + ": " + openProblem(cause);
    return nullptr;
  }
  HGLOBAL dib = nullptr;
  std::string problem;
  try {
    dib = DibReadFile(m_loadFile, &problem);
  } catch (const platform::FileException&) {
    m_loadFile.Abort();
    m_strLastError = kReadFailed;
    m_strReason = "cannot read " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  // Closed at once so that the file can be written again, also as this run's output.
  m_loadFile.Abort();
  if (!dib) {
    m_strLastError = kReadFailed;
    m_strReason = path + " is refused: " + problem;
    return nullptr;
  }
  if (!SetImageSize(dib)) {
    platform::GlobalFree(dib);
    m_strReason = path + " is refused: " + m_strReason;
    return nullptr;
  }
  return dib;
}

bool CDib::SetImageSize(HGLOBAL handle) {
  if (!handle) return false;
  std::uint32_t width = 0, height = 0;
  {
    GlobalLockGuard lock(handle);
    if (!lock.data() || platform::GlobalSize(handle) < 4) return false;
    width = DibWidth(lock.data());
    height = DibHeight(lock.data());
  }
  if (width > 0x7FFFFFFFu || height > 0x7FFFFFFFu || width < 32 || height < 32) {
    m_strLastError = kSizeRefused;
    m_strReason =
        height > 0x7FFFFFFFu
            ? std::string("its rows are stored top-down, which this program does not read")
            : "its " + number(width) + "x" + number(height) +
                  " pixels are less than one 32x32 patch";
    return false;
  }
  m_nWidth = static_cast<int>(width);
  m_nHeight = static_cast<int>(height);
  return true;
}

bool CDib::Save(const std::string& path, HGLOBAL handle) {
  m_strLastError.clear();
  m_strReason.clear();
  // Checked before anything is created, so a handle that cannot be saved never
  // touches an existing file.
  if (writableBytes(handle, false) == 0) {
    m_strLastError = kSaveRefused;
    m_strReason = "the image cannot be written as a BMP file";
    return false;
  }
  // The old file stays whole until the new one is complete.
  platform::ReplacingFile target(path);
  if (!target.valid()) {
    m_strReason = "cannot save " + path + ": " + target.error();
    return false;
  }
  platform::File file;
  if (!file.Open(target.temporaryPath(), platform::File::modeCreate |
                                             platform::File::modeReadWrite |
                                             platform::File::shareExclusive)) {
    m_strReason = "cannot save " + path + ": cannot write beside it";
    return false;
  }
  bool written = false;
  try {
    written = DibWriteFile(handle, file);
    file.Close();
  } catch (const platform::FileException&) {
    file.Abort();
    m_strReason = "cannot save " + path + ": " + std::strerror(errno);
    return false;
  }
  if (!written) {
    m_strLastError = kSaveRefused;
    m_strReason = "the image cannot be written as a BMP file";
    return false;
  }
  if (!target.commit()) {
    m_strReason = "cannot save " + path + ": " + target.error();
    return false;
  }
  return true;
}
