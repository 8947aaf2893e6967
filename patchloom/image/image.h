// CImage: the image object of Patchloom. A handle to one format class (BMP, JPEG, GIF,
// PNG) chosen by file type; pixel, palette and drawing calls go to it.
//
//   CImage image("sample.bmp");        // type from the extension
//   if (!image.IsValid() || image.GetWidth() == 0) ...;
//   std::uint8_t r, g, b;
//   image.GetPixelRGB(x, y, &r, &g, &b);  // y = 0 is the bottom row
//   CImage result;
//   result.Create(w, h, 24, 0);         // a BMP-class image until saved otherwise
//   result.SetPixelRGB(x, y, r, g, b);
//   result.Save("simple_result.bmp");   // 1 on success
//
// Coordinates are DIB coordinates: row 0 is the bottom row of the picture, and row y
// starts at GetBits() + y * GetLineBytes(); 24-bit rows hold blue, green, red. Operations
// other than Create and CreateImpl need an implementation: check IsValid() first.
//
// What reading gives: BMP as stored (1, 4, 8, 16, 24 or 32 bits), GIF 8-bit indexed,
// PNG indexed at 1, 4 or 8 bits (palette and grey files) or 24-bit, JPEG 8-bit indexed
// (colour files quantised to 128 colours, grey files with a 256-level grey palette).
// GetPixelRGB gives the colour for every one of them.
#pragma once

#include <cstdint>
#include <string>

#include "patchloom/image/image_impl.h"

// File-type codes.
enum ImageFileType : int {
  kImageTypeUnknown = -1,
  kImageTypeBmp = 0,
  kImageTypeJpeg = 1,
  kImageTypeGif = 2,
  kImageTypeXpm = 3,  // known by name, neither read nor written
  kImageTypePng = 4,
};

// The text after the last "." of `name`; empty when there is no "." or it is the last
// character.
std::string GetFileExtension(const std::string& name);

// The type code of an extension, compared without regard to case ("BMP", "GIF", "JPG",
// "PNG", "XPM"); kImageTypeUnknown for any other ("jpeg" included).
int ImageTypeFromExtension(const std::string& extension);

class CImage {
 public:
  CImage();
  // Loads `name`; check IsValid afterwards.
  explicit CImage(const std::string& name, int type = kImageTypeUnknown);
  virtual ~CImage();
  CImage(const CImage&) = delete;
  CImage& operator=(const CImage&) = delete;

  virtual int GetLineBytes() const;
  virtual int GetWidth() const;
  virtual int GetHeight() const;
  virtual int GetBitCount() const;
  // Bit 0 palette, bit 1 colour, bit 2 alpha (ImageFlags).
  virtual int GetFlags() const;
  virtual int IsInside(int x, int y) const;
  // Makes a zeroed image (a BMP-class implementation when there is none); 1 on success,
  // 0 when the sizes are out of range or memory runs out. Results of the engine use
  // Create(w, h, 24, 0).
  virtual int Create(int width, int height, int bitCount, int flags = -1);
  // Replaces the implementation with an empty one of `type` for file `name`; 0 (and no
  // implementation) for a type that has no format class.
  virtual int CreateImpl(const std::string& name, int type);
  virtual int Draw(platform::DeviceContext* dc, int x = 0, int y = 0, int w = -1, int h = -1,
                   int xSrc = 0, int startScan = 0);
  virtual int StretchDraw(platform::DeviceContext* dc, int x, int y, int w = -1, int h = -1,
                          int xSrc = 0, int ySrc = 0, int wSrc = -1, int hSrc = -1);
  // Palette index, or -1 outside the image or above 8 bits.
  virtual int GetPixelIndex(int x, int y) const;
  // 1 with the colour at (x, y), 0 outside the image.
  virtual int GetPixelRGB(int x, int y, std::uint8_t* r, std::uint8_t* g, std::uint8_t* b) const;
  virtual int SetPixelIndex(int x, int y, int index);
  virtual int SetPixelRGB(int x, int y, std::uint8_t r, std::uint8_t g, std::uint8_t b);
  virtual int SetPaletteRGB(int n, const std::uint8_t* red, const std::uint8_t* green,
                            const std::uint8_t* blue);
  // `rgb` holds n packed (r, g, b) triples.
  virtual int SetPaletteTriples(int n, const std::uint8_t* rgb);
  // Adopts `palette`.
  virtual int SetPalette(CImagePalette* palette);
  virtual CImagePalette* GetPalette() const;
  // 1 when there is an implementation and it holds a DIB.
  virtual int IsValid() const;
  virtual CImageImpl* GetImpl() const;
  virtual std::uint8_t* GetBits() const;

  // Reads `name` with the format class of `type` (from the extension when -1). The
  // outcome shows in IsValid, GetWidth and GetHeight.
  void Load(const std::string& name, int type = kImageTypeUnknown);
  // Writes the image as `type` (from the extension when -1), switching the format class
  // when the type changes. 1 on success; 0 without an image, for a type that cannot be
  // written (GIF, XPM, unknown) or when writing fails. The file is written beside `name`
  // and takes its place only once complete, so a failed save leaves an older file of
  // that name as it was.
  int Save(const std::string& name, int type = kImageTypeUnknown);

  // Why the last Load or Save failed, starting with the file's name; empty after a
  // success.
  std::string GetLastError() const;

  int GetType() const { return type_; }
  const std::string& GetFileName() const { return fileName_; }

 private:
  int type_ = kImageTypeUnknown;
  std::string fileName_;
  CImageImpl* impl_ = nullptr;
  std::string saveError_;
};
