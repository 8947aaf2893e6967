#include "patchloom/image/bmp_image.h"

#include "patchloom/image/image_dib.h"

int CBmpImageImpl::Read(const std::string& name) {
  const std::string& path = UseName(name);
  FreeImage();
  lastError.clear();
  platform::HGLOBAL block = ImageDibLoadFile(path, &lastError);
  if (!block) {
    width = height = stride = 0;
    return 0;
  }
  AttachDib(block);
  std::unique_ptr<CImagePalette> palette = ImageDibCreatePalette(dib, 0);
  if (!palette) return 1;
  imagePalette = palette.release();
  ImageDibSetColorTable(dib, imagePalette, 1);
  flags = kImageFlagPalette | kImageFlagColor;
  return 1;
}

int CBmpImageImpl::Write(const std::string& name) {
  const std::string& path = UseName(name);
  lastError.clear();
  if (!dib) {
    lastError = path + ": no image to write";
    return 0;
  }
  ImageDibSetColorTable(dib, imagePalette, 0);
  const int result = ImageDibSaveFile(path, dib, &lastError);
  // Drawing reads the table as palette indices again while the palette stays attached.
  if (imagePalette) ImageDibSetColorTable(dib, imagePalette, 1);
  return result;
}
