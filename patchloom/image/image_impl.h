// One image held as a packed DIB in a movable global memory block, with its palette:
// pixel access in DIB coordinates, palette setting, drawing into a device context.
// The format classes derive from CFileImageImpl and add Read and Write.
#pragma once

#include <cstdint>
#include <string>

#include "patchloom/image/image_palette.h"
#include "platform/canvas.h"
#include "platform/global_memory.h"

// Flag bits of an image, laid out like a PNG colour type.
enum ImageFlags : int {
  kImageFlagPalette = 1,
  kImageFlagColor = 2,
  kImageFlagAlpha = 4,
};

class CImageImpl {
 public:
  CImageImpl() = default;
  virtual ~CImageImpl();
  CImageImpl(const CImageImpl&) = delete;
  CImageImpl& operator=(const CImageImpl&) = delete;

  // 1 if 0 <= x < width and 0 <= y < height.
  virtual int IsInside(int x, int y) const;
  // Replaces the image with a zeroed width x height DIB of `bitCount` (1, 4, 8, 16, 24
  // or 32) bits. flags < 0 means 0 (grey) up to 8 bits and 2 (colour) above. The old
  // palette goes. 0 when the DIB cannot be had; the image then holds none.
  virtual int Create(int width, int height, int bitCount, int flags);
  // Palette index at (x, y) (row 0 is the bottom row); -1 outside or above 8 bits.
  virtual int GetPixelIndex(int x, int y) const;
  // Colour at (x, y): through the palette when one is attached, else from the pixel
  // bytes (or the DIB's own colour table up to 8 bits). 0, with black, outside the
  // image or for an index past the palette's end.
  virtual int GetPixelRGB(int x, int y, std::uint8_t* r, std::uint8_t* g, std::uint8_t* b) const;
  // 0 outside, above 8 bits, or for an index the bit count cannot hold.
  virtual int SetPixelIndex(int x, int y, int index);
  // Up to 8 bits the palette's nearest index is stored (0 without a palette); above,
  // the colour itself.
  virtual int SetPixelRGB(int x, int y, std::uint8_t r, std::uint8_t g, std::uint8_t b);
  // Format classes override these; here both give 0.
  virtual int Read(const std::string& name);
  virtual int Write(const std::string& name);

  // The palette setters attach a palette, set the palette bits of the flags and turn
  // the colour table into palette indices. n is 1 ... 256.
  // Adopts `palette` (owned from now on); 0 for null.
  int SetPalette(CImagePalette* palette);
  // A missing green array is the red one, a missing blue array the green one.
  int SetPaletteRGB(int n, const std::uint8_t* red, const std::uint8_t* green,
                    const std::uint8_t* blue);
  // `rgb` holds n packed (r, g, b) triples. Replacing a palette is announced by the
  // message box "CImageImpl::imagePalette already exists!".
  int SetPaletteTriples(int n, const std::uint8_t* rgb);
  // n grey levels, entry i = i * 256 / n.
  int SetGreyPalette(int n);
  CImagePalette* GetPalette() const { return imagePalette; }

  // Takes the other's DIB, palette, transparent index and size fields, freeing its own;
  // the other is left with no DIB and no palette.
  void TakeOver(CImageImpl& other);

  // Sets the DIB's bits to the device at (x, y); w, h = -1 mean the image's size.
  // 0 without a DIB, 1 otherwise (also without a device context).
  int Draw(platform::DeviceContext* dc, int x, int y, int w, int h, int xSrc, int startScan);
  // Stretches the source rectangle (wSrc, hSrc = -1: to the right and top edges) onto
  // (x, y, w, h). Pixels of the transparent index leave the destination unchanged.
  int StretchDraw(platform::DeviceContext* dc, int x, int y, int w, int h, int xSrc, int ySrc,
                  int wSrc, int hSrc);

  bool HasDib() const { return dib != nullptr; }
  int GetWidth() const { return width; }
  int GetHeight() const { return height; }
  int GetBitCount() const { return bitCount; }
  int GetFlags() const { return flags; }
  int GetLineBytes() const { return stride; }
  std::uint8_t* GetBits() const { return bits; }
  // The locked DIB: header, colour table, rows. Null without one.
  void* GetDib() const { return dib; }
  int GetTransparentIndex() const { return transparentIndex; }
  void SetTransparentIndex(int index) { transparentIndex = index; }
  // Why the last Read or Write failed, naming the file and what in it failed; empty
  // after a success.
  const std::string& GetLastError() const { return lastError; }

 protected:
  // Frees the DIB and the palette; the image is empty afterwards (sizes stay).
  void FreeImage();
  // Adopts `block` as the DIB and takes width, height, bit count, stride and bits from
  // its header.
  void AttachDib(platform::HGLOBAL block);
  std::uint8_t* Row(int y) const { return bits + static_cast<std::size_t>(y) * stride; }

  std::uint8_t* bits = nullptr;
  int width = 0;
  int height = 0;
  int bitCount = 0;
  int flags = 0;
  int stride = 0;
  void* dib = nullptr;
  int transparentIndex = -1;
  CImagePalette* imagePalette = nullptr;
  platform::HGLOBAL dibBlock = nullptr;
  std::string lastError;

 private:
  void ReplacePalette(CImagePalette* palette);
  int PixelRGB(int x, int y, std::uint8_t* r, std::uint8_t* g, std::uint8_t* b) const;
  int DrawWithPalette(platform::DeviceContext* dc, int x, int y, int w, int h, int xSrc, int ySrc,
                      int wSrc, int hSrc, platform::RasterOp rop);
};

// An image that belongs to a file: Read and Write use the stored name, which a
// non-empty name argument replaces.
class CFileImageImpl : public CImageImpl {
 public:
  explicit CFileImageImpl(const std::string& name = "") : fileName(name) {}
  const std::string& GetFileName() const { return fileName; }
  void SetFileName(const std::string& name) { fileName = name; }

 protected:
  // The stored name after `name` (when not empty) replaced it.
  const std::string& UseName(const std::string& name) {
    if (!name.empty()) fileName = name;
    return fileName;
  }

  std::string fileName;
};
